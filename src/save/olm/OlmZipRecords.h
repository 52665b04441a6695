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

QByteArray LocalEntryHeader(const QByteArray &name, quint32 crc32, quint64 size, quint32 dosTime);
QByteArray CentralEntryHeader(const QByteArray &name, quint32 crc32, quint64 size, quint64 localHeaderOffset,
                              quint32 dosTime);
// The ZIP64 end record, its locator and the end record: 98 bytes.
QByteArray Zip64EndRecords(quint64 entryCount, quint64 centralDirSize, quint64 centralDirOffset);
