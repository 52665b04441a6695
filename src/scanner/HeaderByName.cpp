// An attachment whose local header lost or gained bytes among its fixed fields: its name still
// stands a few bytes from its signature, and its data right behind the name and extra. Without a
// directory nothing else places it, and its message would be saved without it.

#include "scanner/ArchiveWalk.h"

#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/CentralDirectory.h"
#include "scanner/ScanGlobals.h"

#include <QtEndian>

#include <cctype>
#include <cstring>

namespace olm {

namespace {

// The most bytes put into a header's fixed fields that still leave its name found.
constexpr int kFieldShift = 64;
constexpr int kMaxNameLength = 1024;
// Bytes of a list's name that may differ where no other name comes near it.
constexpr int kListNameFlips = 4;
// Bytes read past the next signature: an extra record standing before it, with its sizes.
constexpr int kTrailingExtra = 64;

// A store as the exporter names it: in a folder of its own list's name. Any name that ends with a
// store's file name would do for one split of a run put into it, as every split keeps that end.
bool storeShaped(const QByteArray &name)
{
    static const char *const stores[] = {"/Address Book/Contacts.xml", "/Calendar/Calendar.xml", "/Tasks/Tasks.xml",
                                         "/Notes/Notes.xml"};
    for (const char *store : stores) {
        if (name.endsWith(store))
            return true;
    }
    return false;
}

quint16 u16In(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

quint32 u32In(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

qint64 i64In(const QByteArray &b, int at)
{
    return qFromLittleEndian<qint64>(b.constData() + at);
}

// Where the name starts among a damaged header's bytes: the first of this archive's folders
// within reach of the signature, -1 when none.
int nameStart(const QByteArray &bytes, int before)
{
    for (int k = 8; k <= 30 + kFieldShift && k < before && k + 9 <= bytes.size(); ++k) {
        if (archiveName(QByteArray::fromRawData(bytes.constData() + k, 9)))
            return k;
    }
    return -1;
}

// The ZIP64 record the archive's writer puts behind every name, sizes only.
bool zip64ExtraAt(const QByteArray &b, int at)
{
    return at + 4 <= b.size() && u16In(b, at) == 0x0001 && u16In(b, at + 2) >= 8 && u16In(b, at + 2) <= 28;
}

// The name behind the ZIP64 record: whole where one of the archive's folders starts it (bytes
// put into the fields moved it further than a name is looked for), else its tail from its first
// folder separator, which field bytes that happen to be text never reach. [*start, *end);
// *whole tells which.
bool nameBeforeExtra(const QByteArray &bytes, int before, int *start, int *end, bool *whole)
{
    for (int e = 9; e < before && e + 4 <= bytes.size(); ++e) {
        if (!zip64ExtraAt(bytes, e))
            continue;
        int s = e;
        while (s > 4 && uchar(bytes[s - 1]) >= 0x20)
            --s;
        const QByteArray run = QByteArray::fromRawData(bytes.constData() + s, e - s);
        const int local = run.indexOf("Local/"), accounts = run.indexOf("Accounts/");
        const int named = local >= 0 && (accounts < 0 || local < accounts) ? local : accounts;
        *whole = named >= 0;
        *start = *whole ? s + named : attachmentNameTail(bytes, e);
        *end = e;
        return *start >= 0;
    }
    return false;
}

}  // namespace

int attachmentNameTail(const QByteArray &bytes, int end)
{
    if (end <= 0 || end > bytes.size())
        return -1;
    int s = end;
    while (s > 0 && uchar(bytes[s - 1]) >= 0x20)
        --s;
    // The whole name where one of the archive's folders still starts it.
    const QByteArray run = QByteArray::fromRawData(bytes.constData() + s, end - s);
    const int local = run.indexOf("Local/"), accounts = run.indexOf("Accounts/");
    const int named = local >= 0 && (accounts < 0 || local < accounts) ? local : accounts;
    const int slash = bytes.indexOf('/', s);
    // Without a separator the run is what is left of the own part (the id's head lost too): the
    // characters of an id, field bytes before them left out.
    int id = end;
    while (id > s && (isalnum(uchar(bytes[id - 1])) || (bytes[id - 1] && strchr("@._-+", bytes[id - 1]))))
        --id;
    const int start = named >= 0 ? s + named : slash >= 0 && slash < end ? slash + 1 : id;
    const QByteArray name = QByteArray::fromRawData(bytes.constData() + start, end - start);
    const int underscore = name.lastIndexOf('_');
    return underscore >= name.lastIndexOf('/') + 2 && attachmentNumbered(name, underscore) ? start : -1;
}

qint64 ArchiveWalker::attachmentByOwnName(qint64 pos)
{
    if (insideLastAttachment(pos) || pos >= m_limit)
        return -1;
    // The name and the extra record behind it stand before the next signature: a nearer one is
    // that header's, looked at in its turn. So each byte is looked at for one signature only, however
    // densely signatures stand; the bytes behind the next one hold at most the extra's sizes.
    const qint64 reach = qMin(m_limit, pos + 30 + kFieldShift + kMaxNameLength + 32);
    const char sig[4] = {'P', 'K', 3, 4};
    const qint64 next = m_reader->find(sig, 4, pos + 4, reach);
    const int before = int((next < 0 ? reach : next) - pos);
    QByteArray bytes(int(qMin(reach - pos, qint64(before) + kTrailingExtra)), Qt::Uninitialized);
    bytes.resize(int(qMax<qint64>(0, m_reader->read(pos, bytes.data(), bytes.size()))));
    int start = nameStart(bytes, before);
    int end = start;
    // A name ends at its first control byte: an extra field's id, or the data.
    while (start >= 0 && end < bytes.size() && uchar(bytes[end]) >= 0x20)
        ++end;
    bool whole = start >= 0;
    if (!whole && !nameBeforeExtra(bytes, before, &start, &end, &whole))
        return -1;
    const bool tail = !whole;
    const QByteArray name = bytes.mid(start, end - start);
    // Fields that stand where they belong are the header's own reading, not damage.
    const bool lengthsHold = !tail && u16In(bytes, start - 4) == name.size();
    if (end + 4 > bytes.size() || (start == 30 && lengthsHold) || !validUtf8(name)
        || (!tail && !name.contains("__Attachments/")) || classifyEntry(name) != EntryRole::Attachment)
        return -1;
    // The extra: the ZIP64 record the archive's writer puts there, or the length the field
    // before the name gives where that field still holds.
    const bool zip64 = zip64ExtraAt(bytes, end);
    // Without either, the name may run on into data that starts with text: nothing says where
    // it ends.
    if (!zip64 && !lengthsHold)
        return -1;
    const int extra = zip64 ? 4 + u16In(bytes, end + 2) : u16In(bytes, start - 2);
    const qint64 data = pos + end + extra;
    if (extra > kFieldShift || end + extra > bytes.size() || data >= m_limit)
        return -1;
    QVector<qint64> sizes;
    if (zip64 && end + 12 <= bytes.size())
        sizes << i64In(bytes, end + 4);
    if (lengthsHold)
        sizes << u32In(bytes, start - 8) << u32In(bytes, start - 12);
    sizes << u32In(bytes, 22) << u32In(bytes, 18);
    // Only a size that ends where the next entry starts places the data: the fields are damaged.
    qint64 size = -1;
    for (const qint64 s : std::as_const(sizes)) {
        // A name's tail is less sure: only a header of this archive (or its end) may follow.
        if (s > 0 && s != 0xFFFFFFFF && s <= m_limit - data && endsAtRecord(data + s)
            && (!tail || data + s == m_size || archiveHeaderAt(data + s)
                || m_reader->u32At(data + s) == kCentralHeaderSig)) {
            size = s;
            break;
        }
    }
    // Never over another entry of this archive: a size that lands on a later header by chance
    // would hide the entries between.
    if (size < 0 || archiveHeaderWithin(data, data + size))
        return -1;
    // The CRC-32 where the fields before the damage hold it, or where those before the name do.
    const quint32 first = u32In(bytes, 14);
    const quint32 second = lengthsHold && start >= 20 ? u32In(bytes, start - 16) : 0;
    quint32 crc = 0;
    if (first != 0 && m_reader->crcMatches(data, size, first))
        crc = first;
    else if (second != 0 && second != first && m_reader->crcMatches(data, size, second))
        crc = second;
    noteLostText(pos);
    recordStartsAt(pos);
    LocalHeader h;
    h.pos = pos;
    h.name = name;
    h.nameOffset = pos + start;
    h.nameLength = quint16(name.size());
    h.dataOffset = data;
    h.crc = crc;
    h.usize = h.csize = size;
    const QString read = tail ? QStringLiteral(": its local header is damaged with the head of its name; read by "
                                               "the rest of its name")
                              : QStringLiteral(": its local header's fields are damaged; read by its name");
    EntriesReadElsewhere << EntryLine(name, pos,
                                      read
                                          + (crc != 0 ? QStringLiteral(", its data's size and CRC-32 verified")
                                                      : QStringLiteral(", its data ends where the next entry starts, "
                                                                       "but its CRC-32 was lost with the fields and "
                                                                       "could not be checked")));
    if (!m_central->entries().empty())
        m_localOnly.insert(name, pos);
    return dispatchEntry(h, data + size);
}

qint64 ArchiveWalker::attachmentsByNameTail(qint64 from, qint64 to)
{
    // Each ZIP64 record behind a name's rest: field bytes that happen to read as one rarely
    // stand behind such a rest, and each costs a look at the bytes around it only.
    const char record[4] = {1, 0, 16, 0};
    // A size is checked against the bytes it spans: only so many rests that fail are tried.
    int failed = 0;
    // A name's rest holds no control byte, so it never reaches back over the record before.
    qint64 afterLast = from;
    for (qint64 x = m_reader->find(record, 4, from, to); x >= 0 && failed < 8 && !bStopFlag;
         afterLast = qMax(from, x + 4), x = m_reader->find(record, 4, qMax(from, x + 1), to)) {
        const qint64 first = qMax(afterLast, x - kMaxNameLength);
        QByteArray bytes(int(qMin(x + 20, to) - first), Qt::Uninitialized);
        if (m_reader->read(first, bytes.data(), bytes.size()) != bytes.size() || bytes.size() < x - first + 20)
            continue;
        const int end = int(x - first);
        const int start = attachmentNameTail(bytes, end);
        if (start < 0)
            continue;
        const QByteArray name = bytes.mid(start, end - start);
        const qint64 data = x + 20;
        const qint64 size = i64In(bytes, end + 4);
        // Stored: both sizes agree. Only data that ends at the next entry, with no header of
        // this archive inside, is the attachment's.
        if (!validUtf8(name) || classifyEntry(name) != EntryRole::Attachment || size <= 0 || size > to - data
            || i64In(bytes, end + 12) != size || !endsAtRecord(data + size) || archiveHeaderWithin(data, data + size)) {
            ++failed;
            continue;
        }
        LocalHeader h;
        h.pos = h.nameOffset = first + start;
        h.name = name;
        h.nameLength = quint16(name.size());
        h.dataOffset = data;
        h.usize = h.csize = size;
        EntriesReadElsewhere << EntryLine(name, h.pos,
                                          (archiveName(name)
                                               ? QStringLiteral(": its local header's fields are damaged; "
                                                                "read by its name")
                                               : QStringLiteral(": its local header is damaged with the "
                                                                "head of its name; read by the rest of "
                                                                "its name"))
                                              + QStringLiteral(", its data ends where the next entry starts, but its "
                                                               "CRC-32 was lost with the fields and could not be "
                                                               "checked"));
        noteExtent(data, size);
        appendAttachmentNode(h, true);
        from = data + size;
        x = from - 4;
    }
    return from;
}

size_t ArchiveWalker::recordOfDamagedName(size_t k, qint64 pos, LocalHeader *h)
{
    // Bytes put into or lost from a header's name leave its fixed fields whole: its CRC-32 and
    // size are still the record's, while its name holds bytes no archive name holds. The
    // record's name stands for it where the data is found by its size and CRC-32. A message's
    // name is read again from where its header holds it: its own paths place it.
    const std::vector<CentralEntry> &known = m_central->entries();
    const bool damaged = !archiveName(h->name) || hasControlByte(h->name) || !validUtf8(h->name);
    const quint32 size = m_reader->u32At(pos + 18);
    for (size_t j = k; damaged && j < known.size() && known[j].headerOffset == pos; ++j) {
        const CentralEntry &e = known[j];
        if (e.dropped || e.placed || e.crc == 0 || e.crc != h->crc || e.method != h->method
            || (size != 0xFFFFFFFFu && size != quint32(e.csize)) || !archiveName(e.name) || hasControlByte(e.name)
            || classifyEntry(e.name) == EntryRole::Message)
            continue;
        // Only where its data verifies: a header that lost bytes from its name on lost the
        // data's start too, and what is left is read by its items, not as the whole list.
        bool verified = false;
        const qint64 d = m_central->dataEndingAtRecord(h->dataOffset, e.csize, e.crc, pos + 30, *m_reader, &verified);
        if (!verified && !m_central->searchedCrcMatches(d, e.csize, e.crc, *m_reader))
            continue;
        EntriesReadElsewhere << EntryLine(e.name, pos,
                                          QStringLiteral(": its local header's name is damaged; read with the central "
                                                         "directory's"));
        h->name = e.name;
        h->nameLength = e.nameLength;
        h->csize = e.csize;
        h->usize = e.usize;
        h->messageName = false;
        return j;
    }
    return known.size();
}

void ArchiveWalker::restoreStoreName(const LocalHeader &h, LocalHeader *moved)
{
    // The header's name is its own head and then the put-in bytes; its tail stands right before
    // the extra, as far on as the data moved. Where the run started is unknown: every split is
    // tried, and only a name that is a store's own, made by one split alone, is taken.
    const qint64 put = moved->dataOffset - h.dataOffset;
    const int length = h.nameLength;
    constexpr qint64 kMostPut = 1 << 20;
    if (put <= 0 || put > kMostPut || length == 0 || length > kMaxNameLength)
        return;
    QByteArray bytes(int(length + put), Qt::Uninitialized);
    if (m_reader->read(h.nameOffset, bytes.data(), bytes.size()) != bytes.size())
        return;
    QByteArray name;
    for (int head = 0; head <= length; ++head) {
        const QByteArray split = bytes.left(head) + bytes.mid(int(head + put), length - head);
        if (split == name || !storeShaped(split) || !archiveName(split) || hasControlByte(split) || !validUtf8(split))
            continue;
        if (!name.isEmpty())
            return;
        name = split;
    }
    if (name.isEmpty() || name == moved->name)
        return;
    EntriesReadElsewhere << EntryLine(name, h.pos,
                                      QStringLiteral(": its local header's name is damaged, %1 bytes put into it; "
                                                     "read with the name its head and tail give")
                                          .arg(put));
    moved->name = name;
    moved->messageName = false;
}

EntryRole ArchiveWalker::flippedStoreRole(const LocalHeader &h)
{
    // The exporter writes each list once, under a name of its own: a name a few bytes away from
    // one of them is that list's, its header's name damaged. Its items would be lost as an
    // attachment's bytes no message lists.
    static const char *const lists[] = {"Local/Address Book/Contacts.xml", "Local/Calendar/Calendar.xml",
                                        "Local/Tasks/Tasks.xml", "Local/Notes/Notes.xml", "Categories.xml"};
    // A byte flipped to NUL ends the name read: the header's bytes are compared whole.
    QByteArray raw = h.name;
    constexpr int kLongestList = 64;
    if (raw.size() < h.nameLength && h.nameLength <= kLongestList) {
        raw.resize(h.nameLength);
        if (m_reader->read(h.nameOffset, raw.data(), raw.size()) != raw.size())
            raw = h.name;
    }
    for (const char *list : lists) {
        const QByteArray name(list);
        if (raw.size() != name.size())
            continue;
        int differ = 0;
        for (int i = 0; i < name.size() && differ <= kListNameFlips; ++i)
            differ += raw[i] != name[i];
        if (differ == 0 || differ > kListNameFlips)
            continue;
        EntriesReadElsewhere << EntryLine(name, h.pos,
                                          QStringLiteral(": its local header's name has %1 damaged bytes; read as that "
                                                         "list")
                                              .arg(differ));
        return classifyEntry(name);
    }
    return EntryRole::Attachment;
}

}  // namespace olm
