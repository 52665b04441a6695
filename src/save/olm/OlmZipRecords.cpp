#include "save/olm/OlmZipRecords.h"

#include "save/FolderNames.h"

#include <QByteArrayList>
#include <QtEndian>

#include <algorithm>
#include <limits>

namespace {

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

const quint32 kAllOnes = 0xFFFFFFFFu;

// Names are flagged UTF-8. A name that damage left invalid keeps its bytes (attachment URLs
// match them) but loses the flag, which strict readers would refuse the whole archive for.
quint16 nameFlags(const QByteArray &name)
{
    // Plain ASCII without a NUL is valid as it stands; only the rest needs the round trip.
    if (std::all_of(name.begin(), name.end(), [](char c) { return uchar(c) >= 0x01 && uchar(c) <= 0x7F; }))
        return 0x0800;
    return QString::fromUtf8(name).toUtf8() == name ? 0x0800 : 0;
}
const quint32 kFirstDos = 0x00210000u;  // 1980-01-01 00:00:00
const quint32 kLastDos = 0xFF9FBF7Du;   // 2107-12-31 23:59:58

}  // namespace

quint32 DosDateTime(const QDateTime &dt)
{
    const QDate d = dt.date();
    const QTime t = dt.time();
    if (d.year() < 1980)
        return kFirstDos;
    if (d.year() > 2107)
        return kLastDos;
    const quint32 time = quint32(t.hour()) * 2048 + quint32(t.minute()) * 32 + quint32(t.second()) / 2;
    const quint32 date = quint32(d.year() - 1980) * 512 + quint32(d.month()) * 32 + quint32(d.day());
    return date << 16 | time;
}

const quint32 *timeconverter()
{
    static quint32 slot;
    slot = DosDateTime(QDateTime::currentDateTime());
    return &slot;
}

QByteArray LocalEntryHeader(const QByteArray &name, quint32 crc32, quint64 size, quint32 dosTime)
{
    return LocalEntryHeader(name, crc32, OlmEntryForm{0, size, size}, dosTime);
}

QByteArray CentralEntryHeader(const QByteArray &name, quint32 crc32, quint64 size, quint64 localHeaderOffset,
                              quint32 dosTime)
{
    return CentralEntryHeader(name, crc32, OlmEntryForm{0, size, size}, localHeaderOffset, dosTime);
}

QByteArray LocalEntryHeader(const QByteArray &name, quint32 crc32, const OlmEntryForm &form, quint32 dosTime)
{
    QByteArray out;
    out.reserve(kLocalEntryFixed + name.size());
    put32(out, 0x04034B50);
    put16(out, 45);
    put16(out, nameFlags(name));
    put16(out, form.method);
    put32(out, dosTime);
    put32(out, crc32);
    put32(out, kAllOnes);
    put32(out, kAllOnes);
    put16(out, quint16(name.size()));
    put16(out, 20);
    out += name;
    put16(out, 0x0001);
    put16(out, 16);
    put64(out, form.size);
    put64(out, form.storedSize);
    return out;
}

QByteArray CentralEntryHeader(const QByteArray &name, quint32 crc32, const OlmEntryForm &form,
                              quint64 localHeaderOffset, quint32 dosTime)
{
    QByteArray out;
    out.reserve(kCentralEntryFixed + name.size());
    put32(out, 0x02014B50);
    put16(out, 45);
    put16(out, 10);
    put16(out, nameFlags(name));
    put16(out, form.method);
    put32(out, dosTime);
    put32(out, crc32);
    put32(out, kAllOnes);
    put32(out, kAllOnes);
    put16(out, quint16(name.size()));
    put16(out, 28);
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    put32(out, 0x41ED0000u);
    put32(out, kAllOnes);
    out += name;
    put16(out, 0x0001);
    put16(out, 24);
    put64(out, form.size);
    put64(out, form.storedSize);
    put64(out, localHeaderOffset);
    return out;
}

QByteArray Zip64EndRecords(quint64 entryCount, quint64 centralDirSize, quint64 centralDirOffset)
{
    QByteArray out;
    out.reserve(98);
    put32(out, 0x06064B50);
    put64(out, 44);
    put16(out, 45);
    put16(out, 10);
    put32(out, 0);
    put32(out, 0);
    put64(out, entryCount);
    put64(out, entryCount);
    put64(out, centralDirSize);
    put64(out, centralDirOffset);
    put32(out, 0x07064B50);
    put32(out, 0);
    put64(out, centralDirOffset + centralDirSize);
    put32(out, 1);
    put32(out, 0x06054B50);
    for (int i = 0; i < 4; ++i)
        put16(out, 0xFFFF);
    put32(out, kAllOnes);
    put32(out, kAllOnes);
    put16(out, 0);
    return out;
}

namespace {

// The components of name, without the '/' a folder's name ends in.
QList<QByteArray> NameParts(const QByteArray &name)
{
    return (name.endsWith('/') ? name.left(name.size() - 1) : name).split('/');
}

bool IsControl(char ch)
{
    return uchar(ch) < 0x20 || uchar(ch) == 0x7F;
}

bool PartIsSafe(const QByteArray &part)
{
    return !part.isEmpty() && part.size() <= kOlmMaxPartBytes && part != "." && part != ".." && !part.contains('\\')
        && std::none_of(part.begin(), part.end(), IsControl) && !HasC1Control(part);
}

// A component cut to bytes; a file's short suffix (".xml") stays, so its type does.
QByteArray CutPart(const QByteArray &part, int bytes)
{
    const QByteArray suffix = FileExtension(part, kKeptExtensionLength);
    return Utf8Left(part.left(part.size() - suffix.size()), bytes - suffix.size()) + suffix;
}

}  // namespace

bool OlmNameIsSafe(const QByteArray &name)
{
    const QList<QByteArray> parts = NameParts(name);
    return name.size() <= kOlmMaxNameBytes && std::all_of(parts.begin(), parts.end(), PartIsSafe);
}

QByteArray OlmSafeFilePart(const QByteArray &part)
{
    return CutPart(SafeFolderPart(part, std::numeric_limits<int>::max()), kOlmMaxPartBytes);
}

bool OlmKnownMethod(quint16 method)
{
    static const quint16 known[] = {8, 9, 12, 14, 93, 95, 98};
    return std::find(std::begin(known), std::end(known), method) != std::end(known);
}
