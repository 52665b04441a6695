// Attachments that are zips of their own (.docx, .xlsx, .zip): their local headers are their
// bytes, never this archive's entries, and their end is the end of the zip they hold.

#include "scanner/ArchiveWalk.h"

#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/CentralDirectory.h"
#include "scanner/ScanGlobals.h"

#include <QtEndian>

namespace olm {

namespace {

// The most bytes a name may stand before its data in a damaged header: name, extra and a few moved.
constexpr qint64 kNameReach = 512;
// The most bytes an extra field of a damaged header may take.
constexpr int kExtraReach = 64;

}  // namespace

bool archiveName(const QByteArray &name)
{
    return name.startsWith("Local/") || name.startsWith("Accounts/");
}

bool ArchiveWalker::archiveHeaderAt(qint64 pos)
{
    if (m_reader->u32At(pos) != kLocalHeaderSig)
        return false;
    // Its name stands a few bytes on where CRs grew into its fields.
    char bytes[40];
    if (m_reader->read(pos + 30, bytes, sizeof bytes) != qint64(sizeof bytes))
        return false;
    const QByteArray name = QByteArray::fromRawData(bytes, sizeof bytes);
    for (int at = 0; at <= 4; ++at) {
        if (archiveName(name.mid(at)))
            return true;
    }
    return false;
}

bool ArchiveWalker::archiveHeaderWithin(qint64 from, qint64 to)
{
    const char sig[4] = {'P', 'K', 3, 4};
    for (qint64 at = m_reader->find(sig, 4, from, to); at >= 0 && !bStopFlag; at = m_reader->find(sig, 4, at + 1, to)) {
        if (archiveHeaderAt(at))
            return true;
    }
    return false;
}

qint64 ArchiveWalker::embeddedZipEnd(qint64 data, qint64 limit)
{
    const char sig[4] = {'P', 'K', 5, 6};
    const qint64 at = m_reader->find(sig, 4, data, limit);
    if (at < 0 || at > limit - kEndRecordSize)
        return -1;
    const qint64 stated = at + kEndRecordSize + m_reader->u16At(at + 20);
    // Bytes lost from the end record's tail or comment put the next record of this archive inside
    // it; LFs grown into CR LF among its fields, a little behind it. Only this archive's records
    // end it: the zip holds none of its own past here.
    for (qint64 p = at + 4; p < qMin(stated + kEndRecordSize - 4, limit); ++p) {
        if (endsAtRecord(p))
            return p;
    }
    return stated <= limit ? stated : -1;
}

qint64 ArchiveWalker::wholeZipEnd(const LocalHeader &h, qint64 end)
{
    const qint64 data = h.dataOffset;
    const bool stated = end >= 0 && h.csize == end - data;
    // A size that ends where the directory puts the next entry is the attachment's whole extent:
    // its bytes are left unread, as the walk jumps over them.
    if (stated && m_central->startsAt(end))
        return -1;
    if (h.method != 0 || data >= m_limit || m_reader->u32At(data) != kLocalHeaderSig)
        return -1;
    // The usual case: an intact zip's end record ends right where its size says.
    if (stated && h.csize >= kEndRecordSize && m_reader->u32At(end - kEndRecordSize) == kEndRecordSig
        && m_reader->u16At(end - 2) == 0)
        return -1;
    // Line ends grown into CR LF at most double it; a damaged size says nothing.
    const qint64 room = m_limit - data;
    const qint64 reach = h.csize >= 0 && h.csize <= room / 2 ? qMin(room, 2 * h.csize + 65557) : room;
    const qint64 zipEnd = embeddedZipEnd(data, data + reach);
    if (zipEnd < 0 || zipEnd == end || !endsAtRecord(zipEnd) || archiveHeaderWithin(data + 1, zipEnd))
        return -1;
    // A size whose bytes verify stands, whatever the zip inside it looks like.
    if (stated && h.crc != 0 && m_reader->crcMatches(data, h.csize, h.crc))
        return -1;
    // An end inside the stated size where the directory places no entry is bytes put into the
    // data (another zip's end): with every record read, the attachment runs on to the next
    // entry that agrees, never cut inside its own extent.
    if (stated && zipEnd < end && zipEnd != m_limit && m_central->complete() && !m_central->startsAt(zipEnd))
        return m_limit > end ? m_limit : -1;
    return zipEnd;
}

qint64 ArchiveWalker::keepWholeZip(const LocalHeader &h, qint64 zipEnd)
{
    LocalHeader whole = h;
    whole.usize = whole.csize = zipEnd - h.dataOffset;
    noteExtent(whole.dataOffset, whole.csize);
    EntriesReadElsewhere << EntryLine(h.name, h.pos,
                                      QStringLiteral(": its header gives %1 bytes; its data is a zip of its own, "
                                                     "kept whole to the next entry (%2 bytes)")
                                          .arg(h.csize)
                                          .arg(whole.csize));
    appendAttachmentNode(whole, true);
    recordStartsAt(zipEnd);
    return zipEnd;
}

namespace {

// Where the ZIP64 record the archive's writer puts behind every name starts, when it ends bytes
// (the data starts right behind it); -1 when none does.
int zip64ExtraEnding(const QByteArray &bytes)
{
    for (int x = qMax(0, bytes.size() - 4 - 28); x + 12 <= bytes.size(); ++x) {
        if (qFromLittleEndian<quint16>(bytes.constData() + x) == 0x0001
            && x + 4 + qFromLittleEndian<quint16>(bytes.constData() + x + 2) == bytes.size())
            return x;
    }
    return -1;
}

}  // namespace

bool ArchiveWalker::nameTailBefore(qint64 first, const QByteArray &bytes, LocalHeader *h)
{
    // A header that lost its signature, fields and the head of its name: the rest of the name
    // and the ZIP64 record stand right before the data.
    const int extra = zip64ExtraEnding(bytes);
    const int start = extra > 0 ? attachmentNameTail(bytes, extra) : -1;
    if (start < 0)
        return false;
    const QByteArray name = bytes.mid(start, extra - start);
    if (!validUtf8(name) || classifyEntry(name) != EntryRole::Attachment)
        return false;
    *h = LocalHeader();
    h->pos = first + start;
    h->name = name;
    h->nameOffset = first + start;
    h->nameLength = quint16(name.size());
    h->dataOffset = first + bytes.size();
    return true;
}

bool ArchiveWalker::attachmentNameBefore(qint64 p, LocalHeader *h)
{
    const qint64 first = qMax<qint64>(0, p - kNameReach);
    QByteArray bytes(int(p - first), Qt::Uninitialized);
    if (bytes.isEmpty() || m_reader->read(first, bytes.data(), bytes.size()) != bytes.size())
        return false;
    const int start = qMax(bytes.lastIndexOf("Local/"), bytes.lastIndexOf("Accounts/"));
    // A name further back is another entry's: the name's head may be lost.
    if (start < 0)
        return nameTailBefore(first, bytes, h);
    const qint64 nameAt = first + start;
    // Where the header's lengths still hold, they give the name exactly; else it ends at the
    // first control byte (an extra field's id or length).
    const int length = m_reader->u16At(nameAt - 4);
    int end = start;
    if (nameAt >= 30 && nameAt + length + m_reader->u16At(nameAt - 2) == p)
        end = start + length;
    else
        while (end < bytes.size() && quint8(bytes[end]) >= 0x20)
            ++end;
    const QByteArray name = bytes.mid(start, end - start);
    // The name ends right before the data, an extra field between: a name further back is
    // another entry's.
    // A folder's entry holds no data: its name is never an attachment's.
    if (bytes.size() - end > kExtraReach || !name.contains("__Attachments/") || name.endsWith('/')
        || classifyEntry(name) != EntryRole::Attachment)
        return nameTailBefore(first, bytes, h);
    *h = LocalHeader();
    h->pos = qMax<qint64>(0, nameAt - 30);
    h->name = name;
    h->nameOffset = nameAt;
    h->nameLength = quint16(name.size());
    h->dataOffset = p;
    return true;
}

bool ArchiveWalker::descriptorCrc(qint64 at, qint64 size, quint32 *crc)
{
    if (m_reader->u32At(at) != kDescriptorSig)
        return false;
    // 32-bit sizes, or ZIP64's 64-bit ones.
    if (qint64(m_reader->u32At(at + 8)) != size && m_reader->i64At(at + 8) != size)
        return false;
    *crc = m_reader->u32At(at + 4);
    return true;
}

bool ArchiveWalker::insideLastAttachment(qint64 pos) const
{
    const FileOffsetNode *last = tmpAtFOEnd;
    return last && !last->bCompressed && pos >= last->llDataOffset && pos - last->llDataOffset < last->llSize;
}

qint64 ArchiveWalker::zipBehindDamagedHeader(qint64 p)
{
    // The data of the attachment just listed starts here: it is read already.
    LocalHeader h;
    if ((tmpAtFOEnd && tmpAtFOEnd->llDataOffset == p) || !attachmentNameBefore(p, &h))
        return -1;
    const qint64 zipEnd = embeddedZipEnd(p, m_limit);
    if (zipEnd < 0 || !endsAtRecord(zipEnd) || archiveHeaderWithin(p + 1, zipEnd))
        return -1;
    h.usize = h.csize = zipEnd - p;
    noteExtent(p, h.csize);
    // A zip tool that streams writes no size or CRC-32 in the header but a data descriptor
    // behind the data: where it agrees, the entry is as it was written.
    LocalHeader own;
    const bool described = descriptorCrc(zipEnd, h.csize, &h.crc);
    const bool sound = m_reader->u32At(h.pos) == kLocalHeaderSig && readLocalHeader(h.pos, &own) && own.dataOffset == p
        && own.name == h.name;
    if (!described || !sound)
        EntriesReadElsewhere << EntryLine(h.name, h.pos,
                                          QStringLiteral(": its local header is damaged; its data, a zip of its "
                                                         "own, was read to the next entry (%1 bytes)")
                                              .arg(h.csize));
    // The header was read with fields that moved its data a few bytes: its entry is this one,
    // and keeps the CRC-32 it gave.
    FileOffsetNode *last = tmpAtFOEnd;
    if (last && last->llDataOffset < p && p - last->llDataOffset <= kNameReach && last->pEntryName
        && h.name == last->pEntryName && !last->bCompressed) {
        if (m_openNode == last)
            m_openNode = nullptr;
        last->llDataOffset = p;
        last->llSize = last->llStoredSize = h.csize;
        last->bSizeCut = 0;
        return zipEnd;
    }
    appendAttachmentNode(h, true);
    recordStartsAt(zipEnd);
    return zipEnd;
}

qint64 ArchiveWalker::folderStartBefore(qint64 first, qint64 at, qint64 *named, qint64 *searched)
{
    // A folder start straddling the last marker's place is searched again: the rest was seen.
    const qint64 lo = qMax(first, *searched - 8);
    QByteArray before(int(qMax<qint64>(0, at - lo)), Qt::Uninitialized);
    if (m_reader->read(lo, before.data(), before.size()) != before.size())
        return -1;
    *searched = at;
    const int start = qMax(before.lastIndexOf("Local/"), before.lastIndexOf("Accounts/"));
    if (start >= 0)
        *named = lo + start;
    return *named >= first ? *named : -1;
}

qint64 ArchiveWalker::attachmentsInStretch(qint64 from, qint64 to)
{
    static const char kDir[] = "__Attachments/";
    const int dirLength = int(sizeof kDir - 1);
    // Each candidate costs a CRC-32 over at most the stretch: only so many are tried. The names
    // and extras read for candidates are bounded by the stretch too, however densely markers stand.
    int tries = 0;
    qint64 budget = 16 * (to - from) + (1 << 20);
    // Where the last folder start before a marker stood: only bytes after the last marker's are
    // searched again, so each byte is looked at about once.
    qint64 named = -1, searched = from;
    for (qint64 at = m_reader->find(kDir, dirLength, from, to); at >= 0 && tries < 8 && budget > 0 && !bStopFlag;
         at = m_reader->find(kDir, dirLength, at + 1, to)) {
        const qint64 nameAt = folderStartBefore(qMax(from, at - kNameReach), at, &named, &searched);
        // The fields before the name still hold: its length, method and CRC-32 (looked at before
        // its name and extra are read).
        uchar fixed[30];
        if (nameAt - 26 < from || m_reader->read(nameAt - 30, fixed, 30) != 30 || qFromLittleEndian<quint16>(fixed + 8)
            || !qFromLittleEndian<quint32>(fixed + 14) || nameAt + qFromLittleEndian<quint16>(fixed + 26) <= at)
            continue;
        budget -= 30 + qFromLittleEndian<quint16>(fixed + 26) + qFromLittleEndian<quint16>(fixed + 28);
        LocalHeader h;
        if (!readLocalHeader(nameAt - 30, &h) || h.csize != h.usize || classifyEntry(h.name) != EntryRole::Attachment
            || !validUtf8(h.name) || h.csize > to - h.dataOffset)
            continue;
        ++tries;
        if (!m_reader->crcMatches(h.dataOffset, h.csize, h.crc))
            continue;
        EntriesReadElsewhere << EntryLine(h.name, h.pos,
                                          QStringLiteral(": its local header's signature is damaged; read by its "
                                                         "own fields, its data's CRC-32 verified"));
        noteExtent(h.dataOffset, h.csize);
        appendAttachmentNode(h, true);
        from = h.dataOffset + h.csize;
        at = from - 1;
    }
    return attachmentsByNameTail(from, to);
}

}  // namespace olm
