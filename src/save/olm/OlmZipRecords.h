#pragma once
// The ZIP64 records of a new OLM archive, byte for byte as the exporter writes them: every entry
// stored, names UTF-8 (flag 0x0800), all 32-bit sizes and offsets 0xFFFFFFFF with the real
// values in the Zip64 extra fields, and one MS-DOS time stamp for every entry of a save.

#include <QByteArray>
#include <QDateTime>
#include <QtGlobal>

// Local header + name + extra, without the data: 50 + name bytes.
constexpr int kLocalEntryFixed = 50;
// Central header + name + extra: 74 + name bytes.
constexpr int kCentralEntryFixed = 74;
// Where the CRC-32 and the two Zip64 sizes of a local entry stand, from its header's start.
constexpr int kLocalCrcAt = 14;
// Where the CRC-32 of a central entry stands, from its header's start.
constexpr int kCentralCrcAt = 16;
inline int LocalSizesAt(int nameLength)
{
    return 34 + nameLength;
}

// The local time of dt in MS-DOS form: the time in the low 16 bits, the date in the high 16.
// Times before 1980 or after 2107 do not fit the 7-bit year: they are clamped to the first and
// last moment the form can hold, never wrapped.
quint32 DosDateTime(const QDateTime &dt);
// The save's entry time stamp: the current local time, in a slot the next call overwrites.
const quint32 *timeconverter();

// A stored entry's records: one size for its data and its content.
QByteArray LocalEntryHeader(const QByteArray &name, quint32 crc32, quint64 size, quint32 dosTime);
QByteArray CentralEntryHeader(const QByteArray &name, quint32 crc32, quint64 size, quint64 localHeaderOffset,
                              quint32 dosTime);
// An entry copied whole from the archive being read, compressed as it was there: its method,
// its content's size and the size of its data as they were.
struct OlmEntryForm {
    quint16 method = 0;
    quint64 size = 0;        // the content, uncompressed
    quint64 storedSize = 0;  // the data in the archive
};
QByteArray LocalEntryHeader(const QByteArray &name, quint32 crc32, const OlmEntryForm &form, quint32 dosTime);
QByteArray CentralEntryHeader(const QByteArray &name, quint32 crc32, const OlmEntryForm &form,
                              quint64 localHeaderOffset, quint32 dosTime);
// Whether readers know method: deflate, deflate64, bzip2, LZMA, Zstandard, xz or PPMd. Any other
// value is more likely damage than a method, and its data cannot be copied as what it says.
bool OlmKnownMethod(quint16 method);
// Where the method of a local entry stands, from its header's start.
constexpr int kLocalMethodAt = 8;
// Whether name may stand in a new archive and be extracted by any zip tool: no empty, "." or
// ".." component (so no leading '/' and no climbing out of the folder it is extracted into), no
// backslash, which some readers take for a folder separator, no control character, no component
// longer than a file name may be (kOlmMaxPartBytes) and no longer name than kOlmMaxNameBytes, so
// the path stays well within what a file system takes. A folder's name ends in its one '/'.
constexpr int kOlmMaxPartBytes = 255;
constexpr int kOlmMaxNameBytes = 1024;
bool OlmNameIsSafe(const QByteArray &name);
// A file's own name made safe: each backslash and control character made '_', cut to
// kOlmMaxPartBytes with its suffix kept, and a name of dots only, or none, made of underscores.
// Its folders are named by OlmEntryNames, which keeps them apart.
QByteArray OlmSafeFilePart(const QByteArray &part);
// The ZIP64 end record, its locator and the end record: 98 bytes.
QByteArray Zip64EndRecords(quint64 entryCount, quint64 centralDirSize, quint64 centralDirOffset);
