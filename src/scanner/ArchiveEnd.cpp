// Where the file ends: a mailed archive cut by the end of the file holds no entries of this
// archive, and an archive cut short says so in its report.

#include "scanner/ArchiveWalk.h"

#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/CentralDirectory.h"
#include "scanner/ScanGlobals.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace olm {

namespace {

// Whether the one to three bytes from at to the end of the file begin a record's signature: a
// cut that fell right after an entry's data.
bool partialSignature(BufferedArchiveReader &r, qint64 at, qint64 size)
{
    const qint64 n = size - at;
    char tail[3];
    if (n < 1 || n > 3 || r.read(at, tail, n) != n)
        return false;
    static const char *const signatures[] = {"PK\x03\x04", "PK\x01\x02", "PK\x05\x06", "PK\x06\x06", "PK\x07\x08"};
    for (const char *sig : signatures) {
        if (memcmp(tail, sig, size_t(n)) == 0)
            return true;
    }
    return false;
}

bool hasControlByte(const QByteArray &name)
{
    return std::any_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x20 || c == 0x7f; });
}

}  // namespace

bool ArchiveWalker::cutByFileEnd(const LocalHeader &h)
{
    if (m_limit != m_size || h.method != 0 || h.crc == 0 || h.usize != h.csize || h.name.isEmpty() || h.messageName)
        return false;
    // Compared as a distance: a damaged size may be near the largest value.
    const qint64 room = m_size - h.dataOffset;
    if (h.csize <= room && !(room - h.csize <= 3 && partialSignature(*m_reader, h.dataOffset + h.csize, m_size)))
        return false;
    if (classifyEntry(h.name) != EntryRole::Attachment || !validUtf8(h.name) || hasControlByte(h.name))
        return false;
    // Sizes stated once (the ZIP64 record, the 32-bit fields all ones) or alike in both places,
    // and no flag saying they are not known or the data is not as stored.
    const quint32 c32 = m_reader->u32At(h.pos + 18);
    const quint32 u32 = m_reader->u32At(h.pos + 22);
    const bool sizesStated = (c32 == 0xFFFFFFFFu && u32 == 0xFFFFFFFFu) || (c32 == h.csize && u32 == h.usize);
    if (!sizesStated || (m_reader->u16At(h.pos + 6) & 0x0009) != 0)
        return false;
    // A size that claims this archive's next entries is damaged: any record inside data that
    // is not an archive, or behind the end record of data that is one, is ours. An archive's own
    // entries are followed header by header (its attachments may be archives too) to its directory.
    qint64 from = h.dataOffset;
    if (m_reader->u32At(from) == kLocalHeaderSig) {
        const qint64 directory = headerChainEnd(from);
        if (directory < 0)
            return false;
        const qint64 end = directory < m_size ? endRecordFrom(directory) : -1;
        from = end < 0 ? m_size : qMin(m_size, end + 22 + m_reader->u16At(end + 20));
    }
    return from >= m_size || nextSignature(from) >= m_size;
}

qint64 ArchiveWalker::endRecordFrom(qint64 from)
{
    // Asked again from inside the stretch last searched, the answer stands: linear in all.
    if (m_endFrom >= 0 && from >= m_endFrom && (m_endAt < 0 || from <= m_endAt))
        return m_endAt;
    m_endFrom = from;
    m_endAt = m_reader->find("PK\x05\x06", 4, from, m_size);
    if (bStopFlag)
        m_endFrom = -1;
    return m_endAt;
}

namespace {

// Whether a local header or directory record starts at p and the end of the file cuts it: its
// fixed fields, or the name and extra they announce, run past the end.
bool recordCutAt(BufferedArchiveReader &r, qint64 p, qint64 size)
{
    const qint64 n = size - p;
    char head[4];
    const qint64 got = r.read(p, head, qMin<qint64>(n, 4));
    if (got <= 0)
        return false;
    const bool local = memcmp(head, "PK\x03\x04", size_t(got)) == 0;
    const bool central = memcmp(head, "PK\x01\x02", size_t(got)) == 0;
    if (local)
        return n < 30 || p + 30 + r.u16At(p + 26) + r.u16At(p + 28) > size;
    return central && n < 46;
}

}  // namespace

qint64 ArchiveWalker::headerChainEnd(qint64 p)
{
    LocalHeader x;
    while (p < m_size && !bStopFlag) {
        // A header the file's end cuts still belongs to the chain: the cut fell inside it.
        if (recordCutAt(*m_reader, p, m_size))
            return m_size;
        const quint32 word = m_reader->u32At(p);
        if (word == kCentralHeaderSig)
            return p;
        if (word != kLocalHeaderSig || !readLocalHeader(p, &x))
            return -1;
        if (x.csize >= m_size - x.dataOffset)
            return m_size;
        p = x.dataOffset + x.csize;
    }
    return bStopFlag ? -1 : m_size;
}

void ArchiveWalker::noteExtent(qint64 data, qint64 size)
{
    // Only the last entry read can be cut by the file's end: an earlier size past it is damage
    // (a header whose fields moved), and the walk went on behind it. Compared as a distance: a
    // damaged size may be near the largest value.
    m_lastCut = size > m_size - data;
    if (!m_lastCut)
        m_extentEnd = qMax(m_extentEnd, data + size);
}

void ArchiveWalker::noteCutArchive()
{
    // An archive whose directory was found ends where it should. Without one, the last entry
    // read ending at the file's end is an archive written without a directory; anything else is
    // a file cut short (an interrupted copy or download) or an end overwritten.
    if (m_central->found() || (!m_lastCut && m_extentEnd >= m_size))
        return;
    if (m_lastCut) {
        EntriesNotRead << QStringLiteral(
                              "The archive ends at byte %1, before its central directory (the file was cut short, "
                              "or its end is damaged): the last entry found runs past its end and is cut there, and "
                              "any entries stored after it are missing")
                              .arg(m_size);
    } else if (m_reader->u32At(nextSignature(m_extentEnd)) == kCentralHeaderSig) {
        // Only the directory is cut: every entry stands before it.
        EntriesReadElsewhere
            << QStringLiteral(
                   "The archive ends at byte %1, inside its central directory (the file was cut "
                   "short, or its end is damaged): the entries before the directory at byte %2 were read from their "
                   "local headers")
                   .arg(m_size)
                   .arg(m_extentEnd);
    } else {
        EntriesNotRead << QStringLiteral(
                              "The archive ends at byte %1, without its central directory (the file was cut "
                              "short, or its end is damaged): nothing could be read from byte %2 to its end, and any "
                              "entries stored there are missing")
                              .arg(m_size)
                              .arg(m_extentEnd);
    }
}

}  // namespace olm
