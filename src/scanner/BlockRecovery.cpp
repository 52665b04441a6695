// Recovery of XML root elements ("<emails ", "<contacts ", ...) from stretches of a damaged
// archive that no usable local header describes. A block ends at its root close tag, or, when a
// damaged element was cut short, at the next ZIP signature or the end of the file: the complete
// items in it are kept and the walk goes on from there. A store whose start was lost with its
// header (and its root's start tag) still holds its later items: a block starts at an item's
// start tag too.

#include "scanner/ArchiveWalk.h"

#include "platform/WorkerGlobals.h"

#include "scanner/BufferedArchiveReader.h"
#include "scanner/BuildQueue.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"

#include <QtEndian>

#include <cstdlib>
#include <cstring>

namespace olm {

namespace {

struct RootTag {
    char key;          // the byte after '<'
    const char *open;  // start tag with its blank
    const char *close;
    EntryRole role;    // whose builder gets the block
    const char *item;  // a store item's start tag with its blank; a message's root is never lost alone
};

const RootTag kRootTags[] = {
    {'e', "<emails ", "</emails>", EntryRole::Message, nullptr},
    {'n', "<notes ", "</notes>", EntryRole::Notes, "<note "},
    {'t', "<tasks ", "</tasks>", EntryRole::Tasks, "<task "},
    {'c', "<contacts ", "</contacts>", EntryRole::Contacts, "<contact "},
    {'a', "<appointments ", "</appointments>", EntryRole::Calendar, "<appointment "},
};

int tagLength(const char *s)
{
    return int(strlen(s));
}

// The extra length right before a name at k, with the name length before it or in its field
// (header, bytes put in between the two): the name ends with ".xml", and the extra fills the
// bytes from there to the data (the end of bytes).
bool lengthsBefore(const QByteArray &bytes, int k, int header = -1)
{
    const auto u16 = [&](int at) { return at >= 0 ? int(qFromLittleEndian<quint16>(bytes.constData() + at)) : -1; };
    if (k < 4)
        return false;
    const int extra = u16(k - 2);
    for (const int name : {u16(k - 4), header >= 0 && header + 30 <= k ? u16(header + 26) : -1}) {
        if (name > 4 && k + name + extra == bytes.size() && bytes.mid(k + name - 4, 4) == ".xml")
            return true;
    }
    return false;
}

}  // namespace

int ArchiveWalker::blockTagAt(qint64 p, bool *rootLost)
{
    char head[2];
    if (m_reader->read(p, head, 2) != 2 || head[0] != '<')
        return -1;
    for (int i = 0; i < 5; ++i) {
        const RootTag &root = kRootTags[i];
        if (root.key != head[1])
            continue;
        *rootLost = false;
        if (m_reader->matchAt(p, root.open, tagLength(root.open)))
            return i;
        *rootLost = true;
        if (root.item && m_reader->matchAt(p, root.item, tagLength(root.item)))
            return i;
    }
    return -1;
}

qint64 ArchiveWalker::recoverBlock(qint64 p, const LocalHeader *h)
{
    bool rootLost = false;
    const int tag = blockTagAt(p, &rootLost);
    if (tag < 0)
        return -1;
    const qint64 s = p + tagLength(rootLost ? kRootTags[tag].item : kRootTags[tag].open);
    // A block never runs into the next record the central directory knows.
    const qint64 stop = qMin(nextSignature(s), m_limit);
    if (stop <= s)
        return -1;
    const qint64 close = findCloseTag(tag, s, stop);
    // A stop ended the searches: what they found says nothing, and no block is read.
    if (bStopFlag)
        return -1;
    const qint64 end = close >= 0 ? close + tagLength(kRootTags[tag].close) : stop;
    LocalHeader named;
    // An entry's data starts with its root: a header never describes a block that lost it.
    if (rootLost) {
        h = nullptr;
        noteCutItemBefore(tag, p);
    } else if (!h && nameBefore(p, &named))
        h = &named;
    if (!h || !dispatchNamedBlock(kRootTags[tag].role, *h, p, end))
        dispatchBlock(tag, p, end);
    return end;
}

void ArchiveWalker::noteCutItemBefore(int tag, qint64 p)
{
    const int named = EntriesNotRead.size();
    noteLostText(p, true);
    if (EntriesNotRead.size() > named)
        return;
    // Within bytes an entry's size claimed: the item cut with its store's start ends right
    // before this one's start tag, and nothing read it.
    const QByteArray close = QByteArray("</") + (kRootTags[tag].item + 1);
    const int n = close.size();  // "</task " with its blank: the tag's '>' stands there
    char before[32];
    if (p < n || n > int(sizeof before) || m_reader->read(p - n, before, n) != n
        || memcmp(before, close.constData(), size_t(n - 1)) != 0 || before[n - 1] != '>')
        return;
    EntriesNotRead << QStringLiteral("Archive offsets before %1 hold the end of 1 item whose store lost its start "
                                     "with it: nothing of it could be read")
                          .arg(p);
}

qint64 ArchiveWalker::recoverForeignBlocks(const LocalHeader &h, EntryRole own, qint64 to)
{
    // Bytes that verify are the entry's own; only a damaged entry may hold another store's
    // items, where bytes lost across its end brought them inside its size.
    if (h.method != 0 || h.crc == 0 || h.dataOffset < 0 || to <= h.dataOffset || h.csize > m_size - h.dataOffset
        || m_reader->crcMatches(h.dataOffset, h.csize, h.crc))
        return to;
    qint64 reach = to;
    for (qint64 p = m_reader->findEitherByte(h.dataOffset + 1, to, '<', '<'); p >= 0 && p < to && !bStopFlag;) {
        bool rootLost = false;
        const int tag = blockTagAt(p, &rootLost);
        // A message inside a list's extent is a copy of one: its own header and record place it.
        const EntryRole role = tag >= 0 ? kRootTags[tag].role : own;
        const qint64 end = role != own && role != EntryRole::Message ? recoverBlock(p) : -1;
        if (end > p)
            reach = qMax(reach, end);
        p = m_reader->findEitherByte(qMax(end, p + 1), to, '<', '<');
    }
    return reach;
}

qint64 ArchiveWalker::messageStartInside(const LocalHeader &h, qint64 len)
{
    const char *root = kRootTags[0].open;
    const int length = tagLength(root);
    const qint64 to = h.dataOffset + len;
    // Each root looked at costs a look at the bytes before it: only so many are.
    int tries = 0;
    for (qint64 p = m_reader->find(root, length, h.dataOffset + 1, to); p >= 0 && tries < 8 && !bStopFlag;
         p = m_reader->find(root, length, p + 1, to), ++tries) {
        LocalHeader named;
        if (nameBefore(p, &named) && classifyEntry(named.name) == EntryRole::Message)
            return h.crc != 0 && m_reader->crcMatches(h.dataOffset, h.csize, h.crc) ? -1 : p;
    }
    return -1;
}

bool ArchiveWalker::nameBefore(qint64 p, LocalHeader *h)
{
    // A header whose fields moved (bytes put into or lost from them, an LF grown into CR LF)
    // still holds its name a few bytes behind its signature, and its extra right before the
    // data; one that lost its signature too still holds the name.
    const qint64 from = qMax<qint64>(0, p - 512);
    const char sig[4] = {'P', 'K', 3, 4};
    qint64 header = -1;
    for (qint64 at = m_reader->find(sig, 4, from, p); at >= 0; at = m_reader->find(sig, 4, at + 1, p))
        header = at;
    const qint64 first = header >= 0 ? header : from;
    if (p - first < 40)
        return false;
    QByteArray bytes(int(p - first), Qt::Uninitialized);
    if (m_reader->read(first, bytes.data(), bytes.size()) != bytes.size())
        return false;
    const auto nameAt = [&](int k) { return bytes.mid(k, 6) == "Local/" || bytes.mid(k, 9) == "Accounts/"; };
    int start = -1;
    if (header >= 0) {
        // Bytes put into its fixed fields move the name on: as far as they are looked for.
        for (int k = 4; k <= 30 + 64 && start < 0; ++k) {
            if (nameAt(k))
                start = k;
        }
    }
    const auto endsNear = [&](int k) {
        const int xml = k < 0 ? -1 : bytes.indexOf(".xml", k);
        return xml >= 0 && bytes.size() - (xml + 4) <= 64;
    };
    // A whole name there that ends far from the data is another entry's, its header too.
    const bool othersHeader = start >= 0 && !endsNear(start);
    if (othersHeader)
        start = -1;
    // Else the last name that ends shortly before the data: names hold no other name. Behind a
    // signature more bytes put into the fields moved it further; the lengths standing right
    // before it, which agree with it and with where the data starts, tell it is the header's own.
    for (int k = bytes.size() - 10; k >= 0 && start < 0; --k) {
        if (nameAt(k) && (header < 0 || lengthsBefore(bytes, k, 0)))
            start = k;
    }
    if (!endsNear(start))
        return false;
    const int xml = bytes.indexOf(".xml", start);
    // Behind another entry's header only a message is read so: a store's text there is that
    // entry's, or placed by its record.
    if (othersHeader && classifyEntry(bytes.mid(start, xml + 4 - start)) != EntryRole::Message)
        return false;
    h->pos = header >= 0 && !othersHeader ? header : first + start;
    h->name = bytes.mid(start, xml + 4 - start);
    h->nameOffset = first + start;
    h->nameLength = quint16(h->name.size());
    h->dataOffset = p;
    h->method = 0;
    // Where the lengths before the name hold, the CRC-32 stands before them: the caller checks it.
    h->crc =
        start >= 16 && lengthsBefore(bytes, start) ? qFromLittleEndian<quint32>(bytes.constData() + start - 16) : 0;
    h->messageName = false;
    return validUtf8(h->name) && classifyEntry(h->name) != EntryRole::Attachment;
}

qint64 ArchiveWalker::nextSignature(qint64 from)
{
    if (m_sigFrom >= 0 && from >= m_sigFrom && from <= m_sigAt)
        return m_sigAt;
    m_sigFrom = from;
    for (qint64 at = m_reader->find("PK", 2, from, m_size); at >= 0; at = m_reader->find("PK", 2, at + 1, m_size)) {
        const quint32 word = m_reader->u32At(at);
        if (word == kLocalHeaderSig || word == kCentralHeaderSig) {
            m_sigAt = at;
            return at;
        }
    }
    m_sigAt = m_size;
    if (bStopFlag)
        m_sigFrom = -1;  // the search was cut short: nothing to keep
    return m_size;
}

qint64 ArchiveWalker::findCloseTag(int tag, qint64 from, qint64 limit)
{
    // A result stays valid for any later start before it within the same stretch.
    if (m_closeFrom[tag] >= 0 && from >= m_closeFrom[tag] && limit == m_closeLimit[tag]) {
        if (m_closeAt[tag] < 0 || m_closeAt[tag] >= from)
            return m_closeAt[tag];
    }
    const char *close = kRootTags[tag].close;
    m_closeFrom[tag] = from;
    m_closeLimit[tag] = limit;
    m_closeAt[tag] = m_reader->find(close, tagLength(close), from, limit);
    return m_closeAt[tag];
}

bool ArchiveWalker::dispatchNamedBlock(EntryRole role, const LocalHeader &h, qint64 p, qint64 end)
{
    EntryRole named = classifyEntry(h.name);
    if (named == EntryRole::Attachment && h.messageName)
        named = EntryRole::Message;
    if (named != role || h.method != 0 || h.dataOffset != p)
        return false;
    LocalHeader entry = h;
    entry.usize = entry.csize = end - p;
    // Written with the descriptor flag, an entry's CRC-32 and sizes follow its data, with or
    // without the descriptor's signature, its sizes 4 or 8 bytes each.
    const qint64 d = m_reader->u32At(end) == kDescriptorSig ? end + 4 : end;
    const quint64 size = quint64(end - p);
    if (m_reader->u32At(d + 4) == size || quint64(m_reader->i64At(d + 4)) == size)
        entry.crc = m_reader->u32At(d);
    else if (const quint32 crc = fieldCrc(h, end - p)) {
        entry.crc = crc;
        EntriesReadElsewhere << EntryLine(h.name, h.pos,
                                          QStringLiteral(": its local header's fields are damaged; read by its name "
                                                         "before its text, its CRC-32 verified"));
    } else
        entry.crc = convertedHeaderCrc(h);
    dispatchEntry(entry, end);
    return true;
}

quint32 ArchiveWalker::fieldCrc(const LocalHeader &h, qint64 size)
{
    // Bytes put in behind the CRC-32 leave it in its field; put in before it, they move it on
    // with the lengths, and it stands right before them (the name's reader took it from there).
    const bool signature = h.pos >= 0 && m_reader->u32At(h.pos) == kLocalHeaderSig;
    for (const quint32 crc : {h.crc, signature ? m_reader->u32At(h.pos + 14) : 0u}) {
        if (crc != 0 && m_reader->crcMatches(h.dataOffset, size, crc))
            return crc;
    }
    return 0;
}

quint32 ArchiveWalker::convertedHeaderCrc(const LocalHeader &h)
{
    // Line ends converted (LF written as CR LF, once or more) grow a header whose fixed fields
    // hold a 0x0A byte, and its name no longer stands where its length says: converted back,
    // the header whose name is h's gives the CRC-32 its text is checked against.
    if (h.pos < 0 || m_reader->u32At(h.pos) != kLocalHeaderSig || h.name.isEmpty())
        return 0;
    QByteArray bytes(30 + 2 * 26 + h.name.size(), Qt::Uninitialized);
    bytes.resize(int(qMax<qint64>(0, m_reader->read(h.pos, bytes.data(), bytes.size()))));
    for (int pass = 0; pass < 2 && bytes.contains("\r\n"); ++pass) {
        bytes.replace("\r\n", "\n");
        const auto u16 = [&](int at) { return quint16(uchar(bytes[at]) | uchar(bytes[at + 1]) << 8); };
        if (bytes.size() >= 30 + h.name.size() && u16(26) == h.name.size() && bytes.mid(30, h.name.size()) == h.name)
            return quint32(u16(14)) | quint32(u16(16)) << 16;
    }
    return 0;
}

void ArchiveWalker::dispatchBlock(int tag, qint64 p, qint64 end)
{
    const qint64 len = qMin(end - p, kMaxEntryText);
    noteExtent(p, end - p);
    freeText();
    m_text = m_builders->takeText(len);
    if (!m_text)
        return;
    const qint64 got = qMax<qint64>(0, m_reader->read(p, m_text, len));
    m_text[got] = '\0';
    build(kRootTags[tag].role, QString(), p + got, got);
}

}  // namespace olm
