#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// Options for one entry of TestArchiveBuilder. Declared outside the class so it
// can be a default argument of the class's own members.
struct TestArchiveEntryOptions {
    quint16 method = 0;         // 8 = claim deflate; the data is still written as given
    bool crcZero = false;       // header CRC written as 0
    qint64 crcOverride = -1;    // >= 0: the header CRC (of the data before it was compressed)
    // Size fields. Without overrideSizes a value >= 0 replaces the real size and
    // a negative one means "the real size". With overrideSizes both values are
    // written verbatim, negatives as 64-bit two's complement (-1 -> all 0xFF).
    // The central directory repeats whatever the local header says.
    qint64 usizeOverride = -1;
    qint64 csizeOverride = -1;
    bool overrideSizes = false;
    // false: no ZIP64 extra (m = 0) and the sizes go into the 32-bit fields
    // (truncated to 32 bits).
    bool zip64Extra = true;
    QByteArray extraBefore;     // extra records written before the ZIP64 one
};

// Writes archives the way the exporter does: ZIP64, every entry STORED with a
// 20-byte ZIP64 extra in its local header, a central directory whose records all
// carry 0xFFFFFFFF sizes/offsets plus a 28-byte ZIP64 extra, then the ZIP64 end
// record, its locator and an end record filled with 0xFF.
// Rebuilding the sample archive entry by entry reproduces it byte for byte.
// Options exist to write the malformed variants the scanner must survive.
class TestArchiveBuilder
{
public:
    using EntryOptions = TestArchiveEntryOptions;

    struct Entry {
        QString name;               // decoded name (cut at an embedded NUL, as Qt 5 does)
        qint64 headerOffset = 0;
        qint64 dataOffset = 0;
        qint64 size = 0;            // bytes of data actually written
        quint32 crc = 0;            // CRC-32 of the data, even when the header says 0
        QByteArray nameBytes;       // the name exactly as written
        bool directory = false;
        quint64 usize = 0;          // the values the headers claim
        quint64 csize = 0;
        quint32 headerCrc = 0;
        quint16 method = 0;
    };

    qint64 addEntry(const QString &name, const QByteArray &data, const EntryOptions &opt = {});
    // Name bytes go in verbatim (embedded NUL, invalid UTF-8, very long names).
    // Names longer than 65535 bytes are cut to fit the 16-bit length field.
    qint64 addRawName(const QByteArray &nameBytes, const QByteArray &data, const EntryOptions &opt = {});
    // A trailing '/' is added when missing. CRC 0, sizes 0.
    qint64 addDirectory(const QString &name);
    // Bytes outside any entry (garbage, bare XML); not listed in the central directory.
    qint64 addRaw(const QByteArray &bytes);

    // The whole archive, with the central directory and end records unless told not
    // to. The builder is left unchanged, so it may be called again after more adds.
    QByteArray finish(bool centralDirectory = true) const;

    const QVector<Entry> &entries() const { return m_entries; }
    qint64 size() const { return m_data.size(); }

    static quint32 crc32(const QByteArray &data);
    static quint32 crc32(const char *data, qint64 len, quint32 crc = 0);

private:
    qint64 add(const QByteArray &nameBytes, const QByteArray &data, const EntryOptions &opt, bool directory);

    QByteArray m_data;
    QVector<Entry> m_entries;
};

// Ways to damage a finished archive. All clamp their ranges to the buffer.
namespace Damage {
QByteArray cutTail(const QByteArray &archive, qint64 keep);
void zeroStretch(QByteArray &archive, qint64 offset, qint64 len);
// Overwrites the 30 fixed bytes of a local header with bytes that contain neither
// 'P', 'K' nor '<', so no signature or markup can be found there afterwards.
void smashHeader(QByteArray &archive, qint64 headerOffset);
// XORs about fraction * size bytes at positions from a seeded PRNG with non-zero
// values; the same seed gives the same damage on every platform.
void flipBytes(QByteArray &archive, quint32 seed, double fraction);
} // namespace Damage
