#include "TestArchiveBuilder.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// The exporter stamps every entry with one DOS time and date.
constexpr quint16 kDosTime = 0x918C;
constexpr quint16 kDosDate = 0x4CD5;
constexpr quint16 kVersion45 = 45;
// The exporter's central directory says "needed 10" although the local headers say 45.
constexpr quint16 kCentralVersionNeeded = 10;
constexpr quint16 kFlagUtf8 = 0x0800;
constexpr quint32 kExternalAttributes = 0x41ED0000; // drwxr-xr-x, on files too
constexpr quint32 kAll32 = 0xFFFFFFFFu;

void put16(QByteArray &out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void put32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

void put64(QByteArray &out, quint64 v)
{
    char b[8];
    qToLittleEndian(v, b);
    out.append(b, 8);
}

std::array<quint32, 256> makeCrcTable()
{
    std::array<quint32, 256> t{};
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}

} // namespace

quint32 TestArchiveBuilder::crc32(const char *data, qint64 len, quint32 crc)
{
    static const std::array<quint32, 256> table = makeCrcTable();
    crc = ~crc;
    for (qint64 i = 0; i < len; ++i)
        crc = table[(crc ^ static_cast<quint8>(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

quint32 TestArchiveBuilder::crc32(const QByteArray &data)
{
    return crc32(data.constData(), data.size());
}

qint64 TestArchiveBuilder::addEntry(const QString &name, const QByteArray &data, const EntryOptions &opt)
{
    return add(name.toUtf8(), data, opt, false);
}

qint64 TestArchiveBuilder::addRawName(const QByteArray &nameBytes, const QByteArray &data, const EntryOptions &opt)
{
    return add(nameBytes, data, opt, false);
}

qint64 TestArchiveBuilder::addDirectory(const QString &name)
{
    QByteArray bytes = name.toUtf8();
    if (!bytes.endsWith('/'))
        bytes.append('/');
    return add(bytes, QByteArray(), EntryOptions(), true);
}

qint64 TestArchiveBuilder::addRaw(const QByteArray &bytes)
{
    const qint64 offset = m_data.size();
    m_data.append(bytes);
    return offset;
}

qint64 TestArchiveBuilder::add(const QByteArray &nameIn, const QByteArray &data, const EntryOptions &opt, bool directory)
{
    const QByteArray name = nameIn.left(0xFFFF);
    const quint32 realCrc = directory ? 0 : crc32(data);
    const quint64 real = static_cast<quint64>(data.size());

    Entry e;
    e.name = QString::fromUtf8(name);
    e.nameBytes = name;
    e.directory = directory;
    e.headerOffset = m_data.size();
    e.size = data.size();
    e.crc = realCrc;
    e.headerCrc = opt.crcZero ? 0 : opt.crcOverride >= 0 ? quint32(opt.crcOverride) : realCrc;
    e.method = opt.method;
    if (opt.overrideSizes) {
        e.usize = static_cast<quint64>(opt.usizeOverride);
        e.csize = static_cast<quint64>(opt.csizeOverride);
    } else {
        e.usize = opt.usizeOverride >= 0 ? static_cast<quint64>(opt.usizeOverride) : real;
        e.csize = opt.csizeOverride >= 0 ? static_cast<quint64>(opt.csizeOverride) : real;
    }

    QByteArray extra = opt.extraBefore;
    if (opt.zip64Extra) {
        put16(extra, 0x0001);
        put16(extra, 16);
        put64(extra, e.usize);
        put64(extra, e.csize);
    }

    QByteArray &out = m_data;
    put32(out, 0x04034B50);
    put16(out, kVersion45);
    put16(out, kFlagUtf8);
    put16(out, opt.method);
    put16(out, kDosTime);
    put16(out, kDosDate);
    put32(out, e.headerCrc);
    put32(out, opt.zip64Extra ? kAll32 : static_cast<quint32>(e.csize));
    put32(out, opt.zip64Extra ? kAll32 : static_cast<quint32>(e.usize));
    put16(out, static_cast<quint16>(name.size()));
    put16(out, static_cast<quint16>(std::min<int>(extra.size(), 0xFFFF)));
    out.append(name);
    out.append(extra.left(0xFFFF));
    e.dataOffset = out.size();
    out.append(data);

    m_entries.append(e);
    return e.headerOffset;
}

QByteArray TestArchiveBuilder::finish(bool centralDirectory) const
{
    QByteArray out = m_data;
    if (!centralDirectory)
        return out;

    const quint64 cdOffset = static_cast<quint64>(out.size());
    for (const Entry &e : m_entries) {
        put32(out, 0x02014B50);
        put16(out, kVersion45);            // made by: version 4.5, MS-DOS
        put16(out, kCentralVersionNeeded);
        put16(out, kFlagUtf8);
        put16(out, e.method);
        put16(out, kDosTime);
        put16(out, kDosDate);
        put32(out, e.headerCrc);
        put32(out, kAll32);
        put32(out, kAll32);
        put16(out, static_cast<quint16>(e.nameBytes.size()));
        put16(out, 28);
        put16(out, 0);                     // comment length
        put16(out, 0);                     // disk number
        put16(out, 0);                     // internal attributes
        put32(out, kExternalAttributes);
        put32(out, kAll32);
        out.append(e.nameBytes);
        put16(out, 0x0001);
        put16(out, 24);
        put64(out, e.usize);
        put64(out, e.csize);
        put64(out, static_cast<quint64>(e.headerOffset));
    }
    const quint64 cdSize = static_cast<quint64>(out.size()) - cdOffset;
    const quint64 count = static_cast<quint64>(m_entries.size());

    const quint64 zip64EndOffset = static_cast<quint64>(out.size());
    put32(out, 0x06064B50);
    put64(out, 44);                        // size of the rest of this record
    put16(out, kVersion45);
    put16(out, kCentralVersionNeeded);
    put32(out, 0);                         // this disk
    put32(out, 0);                         // disk with the central directory
    put64(out, count);
    put64(out, count);
    put64(out, cdSize);
    put64(out, cdOffset);

    put32(out, 0x07064B50);
    put32(out, 0);
    put64(out, zip64EndOffset);
    put32(out, 1);                         // total disks

    put32(out, 0x06054B50);
    for (int i = 0; i < 4; ++i)
        put16(out, 0xFFFF);
    put32(out, kAll32);
    put32(out, kAll32);
    put16(out, 0);                         // comment length
    return out;
}

namespace Damage {

namespace {
// Clamps [offset, offset + len) to [0, size); returns false when nothing is left.
bool clampRange(qint64 size, qint64 &offset, qint64 &len)
{
    if (offset < 0 || len <= 0 || offset >= size)
        return false;
    len = std::min(len, size - offset);
    return true;
}
} // namespace

QByteArray cutTail(const QByteArray &archive, qint64 keep)
{
    if (keep <= 0)
        return QByteArray();
    return archive.left(static_cast<int>(std::min<qint64>(keep, archive.size())));
}

void zeroStretch(QByteArray &archive, qint64 offset, qint64 len)
{
    if (!clampRange(archive.size(), offset, len))
        return;
    std::fill_n(archive.data() + offset, len, '\0');
}

void smashHeader(QByteArray &archive, qint64 headerOffset)
{
    qint64 len = 30;
    if (!clampRange(archive.size(), headerOffset, len))
        return;
    static const unsigned char garbage[] = { 0xDE, 0xAD, 0xBE, 0xEF, 0x13, 0x37, 0x99, 0xA1 };
    char *p = archive.data() + headerOffset;
    for (qint64 i = 0; i < len; ++i)
        p[i] = static_cast<char>(garbage[i % sizeof garbage]);
}

void flipBytes(QByteArray &archive, quint32 seed, double fraction)
{
    if (archive.isEmpty() || !(fraction > 0))
        return;
    fraction = std::min(fraction, 1.0);
    const qint64 n = static_cast<qint64>(std::llround(fraction * archive.size()));
    quint64 state = seed;
    auto next = [&state]() { // splitmix64
        quint64 z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    };
    char *p = archive.data();
    for (qint64 i = 0; i < n; ++i) {
        const quint64 r = next();
        const qint64 pos = static_cast<qint64>(r % static_cast<quint64>(archive.size()));
        quint8 mask = static_cast<quint8>(r >> 56);
        if (mask == 0)
            mask = 0xFF; // a zero mask would leave the byte intact
        p[pos] = static_cast<char>(static_cast<quint8>(p[pos]) ^ mask);
    }
}

} // namespace Damage
