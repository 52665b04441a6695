// Where the file ends: a mailed archive cut by the end of the file holds no entries of this
// archive, and an archive cut short says so in its report; so does text the walk could not read.

#include "scanner/ArchiveWalk.h"

#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/CentralDirectory.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

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

// The subject of a message whose text ends at close, when the bytes before it still hold one.
QString lostSubject(BufferedArchiveReader &r, qint64 from, qint64 close)
{
    const qint64 start = qMax(from, close - 65536);
    QByteArray text(int(close - start), Qt::Uninitialized);
    if (r.read(start, text.data(), text.size()) != text.size())
        return QString();
    const std::string_view view(text.constData(), size_t(text.size()));
    const ElementSpan s = GetElementValue(view, "<OPFMessageCopySubject");
    if (!s.found || s.length <= 0)
        return QString();
    const QString subject = QString::fromUtf8(text.mid(int(s.start), int(qMin<qint64>(s.length, 200))));
    return QStringLiteral("the message \"%1\"").arg(UnescapeXmlEntities(subject, EntityForm::Scanned).simplified());
}

// How many items' close tags stand in [from, to); *first: where the first of them stands.
qint64 itemEndsIn(BufferedArchiveReader &r, qint64 from, qint64 to, qint64 *first)
{
    static const char *const closes[] = {"</email>", "</contact>", "</appointment>", "</task>", "</note>"};
    qint64 count = 0;
    for (const char *close : closes) {
        const int n = int(strlen(close));
        for (qint64 at = r.find(close, n, from, to); at >= 0 && !bStopFlag; at = r.find(close, n, at + n, to))
            *first = count++ == 0 ? at : qMin(*first, at);
    }
    return count;
}

}  // namespace

bool hasControlByte(const QByteArray &name)
{
    return std::any_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x20 || c == 0x7f; });
}

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

void ArchiveWalker::noteLostText(qint64 to, bool storeStart)
{
    // With a whole directory its records name every entry the walk did not find; records lost
    // from it leave such entries to their remains. A store whose start was lost is no entry the
    // directory misses: the item cut with its start is named by its remains.
    if ((m_central->found() && m_central->complete() && !storeStart) || to <= m_extentEnd || bStopFlag)
        return;
    // An attachment whose size did not end at a record runs up to the next one (its line ends
    // may have grown); a "header" whose name is no attachment's (text or binary bytes) is a
    // damaged one's remains, and owns nothing. Ends of messages behind its stated size are no
    // attachment's bytes: a message whose start was zeroed with the attachment's end.
    const QByteArray open = m_openNode && m_openNode->pEntryName ? QByteArray(m_openNode->pEntryName) : QByteArray();
    const bool openAttachment = m_openNode && m_openNode->llDataOffset <= m_extentEnd && open.contains("__Attachments/")
        && validUtf8(open) && !hasControlByte(open);
    // An open attachment's bytes are its own: an archive mailed as one holds names of ours.
    const qint64 from = openAttachment ? m_extentEnd : attachmentsInStretch(m_extentEnd, to);
    if (from >= to)
        return;
    qint64 first = -1;
    const qint64 count = itemEndsIn(*m_reader, from, to, &first);
    // Bytes that end no item are only stray bytes between entries: named, nothing lost. Bytes
    // before the first entry are a stub (a self-extractor's), no damage.
    if (count == 0) {
        if (from > 0 && !openAttachment && !storeStart)
            EntriesReadElsewhere << QStringLiteral("Archive offsets %1 to %2: %3 bytes between entries that are no "
                                                   "entry's and end no item (damage between entries)")
                                        .arg(from)
                                        .arg(to)
                                        .arg(to - from);
        return;
    }
    QString which = lostSubject(*m_reader, from, first);
    if (!which.isEmpty())
        which = QStringLiteral(" (%1%2)").arg(count == 1 ? "" : "the first ", which);
    EntriesNotRead << QStringLiteral("Archive offsets %1 to %2 hold the end of %3 item%4 whose entry's local header "
                                     "and start are lost%5, and no central directory names the entry: nothing of "
                                     "%6 could be read")
                          .arg(from)
                          .arg(to)
                          .arg(count)
                          .arg(count == 1 ? "" : "s")
                          .arg(which)
                          .arg(count == 1 ? "it" : "them");
}

namespace {

// The earlier of two places, either of which may be -1 (none).
qint64 firstOf(qint64 a, qint64 b)
{
    return a < 0 ? b : b < 0 ? a : qMin(a, b);
}

}  // namespace

void ArchiveWalker::noteCutArchive()
{
    // An archive whose directory was found ends where it should. Without one the file was cut
    // short (an interrupted copy or download) or its end overwritten, wherever the cut fell:
    // writers of these archives always write the directory, and a copy stopped after a whole
    // entry leaves just the shape of an archive written without one. Records the walk met on
    // the way (a directory whose end records bytes added behind it hide) still name entries.
    if (m_central->found())
        return;
    if (m_size == 0) {
        EntriesNotRead << QStringLiteral("The archive is empty (0 bytes): the file was cut short before its first "
                                         "entry, and every entry of it is missing");
    } else if (!m_lastCut && m_extentEnd >= m_size) {
        noteRecordsLeft(m_strayRecords);
        EntriesNotRead << QStringLiteral(
                              "The archive ends at byte %1, right where the last entry found ends, without its central "
                              "directory (the file was cut short at an entry's edge, or its end is damaged; nothing "
                              "else in it tells it from an archive written without one): the entries before byte %1 "
                              "were read from their local headers, and any entries stored after them are missing")
                              .arg(m_size);
    } else if (m_lastCut) {
        noteRecordsLeft(m_strayRecords);
        EntriesNotRead << QStringLiteral(
                              "The archive ends at byte %1, before its central directory (the file was cut short, "
                              "or its end is damaged): the last entry found runs past its end and is cut there, and "
                              "any entries stored after it are missing")
                              .arg(m_size);
    } else if (m_reader->u32At(nextSignature(m_extentEnd)) == kCentralHeaderSig) {
        // Only the directory is cut: every entry stands before it, but for text whose header
        // is lost.
        noteLostText(nextSignature(m_extentEnd));
        noteRecordsLeft(firstOf(m_strayRecords, nextSignature(m_extentEnd)));
        EntriesReadElsewhere
            << QStringLiteral(
                   "The archive ends at byte %1, inside its central directory (the file was cut "
                   "short, or its end is damaged): the entries before the directory at byte %2 were read from their "
                   "local headers")
                   .arg(m_size)
                   .arg(m_extentEnd);
    } else {
        // What is left of a directory behind the damage still names the entries it held.
        const qint64 records = m_reader->find("PK\x01\x02", 4, m_extentEnd, m_size);
        noteRecordsLeft(firstOf(m_strayRecords, records));
        EntriesNotRead << QStringLiteral(
                              "The archive ends at byte %1, without its central directory (the file was cut "
                              "short, or its end is damaged): nothing could be read from byte %2 to its end, and any "
                              "entries stored there are missing%3")
                              .arg(m_size)
                              .arg(m_extentEnd)
                              .arg(cutHeaderName());
    }
}

QString ArchiveWalker::cutHeaderName()
{
    // The header the end of the file runs through still names its entry, as far as its name stands.
    const qint64 p = nextSignature(m_extentEnd);
    if (p > m_size - 30 || m_reader->u32At(p) != kLocalHeaderSig)
        return QString();
    const QByteArray name = entryNameAt(p + 30, int(qMin<qint64>(m_reader->u16At(p + 26), m_size - p - 30)));
    if (name.isEmpty() || !validUtf8(name) || hasControlByte(name))
        return QString();
    return QStringLiteral(", the first of them \"%1\", whose local header at byte %2 the end cuts")
        .arg(ReportName(name))
        .arg(p);
}

}  // namespace olm
