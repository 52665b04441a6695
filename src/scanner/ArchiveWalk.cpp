#include "scanner/ArchiveWalk.h"

#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/BuildQueue.h"
#include "scanner/CentralDirectory.h"
#include "scanner/ElementValue.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string_view>
#include <thread>

namespace olm {

EntryRole classifyEntry(const QByteArray &name)
{
    // Decided on the raw name bytes: every name tested is ASCII, so this equals testing the
    // decoded name, without a string per entry (most entries are attachments).
    static const struct {
        std::string_view name;
        EntryRole role;
    } lists[] = {{"Categories.xml", EntryRole::Categories},
                 {"Contacts.xml", EntryRole::Contacts},
                 {"Calendar.xml", EntryRole::Calendar},
                 {"Tasks.xml", EntryRole::Tasks},
                 {"Notes.xml", EntryRole::Notes}};
    const std::string_view whole(name.constData(), size_t(name.size()));
    for (const auto &l : lists) {
        for (size_t from = 0;;) {
            const size_t slash = whole.find('/', from);
            const std::string_view part =
                whole.substr(from, slash == std::string_view::npos ? whole.npos : slash - from);
            if (part == l.name)
                return l.role;
            if (slash == std::string_view::npos)
                break;
            from = slash + 1;
        }
    }
    const size_t lastSlash = whole.rfind('/');
    const std::string_view last = lastSlash == std::string_view::npos ? whole : whole.substr(lastSlash + 1);
    // Attached files keep their own name inside "__message_attachment__"; an attached XML file
    // must not be taken for a message, or its bytes could never be found again.
    if (last.find("__message_attachment__") != std::string_view::npos)
        return EntryRole::Attachment;
    if (last.find("message_") != std::string_view::npos && last.find(".xml") != std::string_view::npos)
        return EntryRole::Message;
    return EntryRole::Attachment;
}

bool NameHeldMessage(QByteArray raw)
{
    // The NUL may stand in the middle of the name's own words.
    raw.replace('\0', QByteArray());
    if (classifyEntry(raw) == EntryRole::Message)
        return true;
    return raw.endsWith(".xml") && raw.contains("com.microsoft.__Messages/")
        && !raw.contains("com.microsoft.__Attachments/") && !raw.contains("__message_attachment__");
}

bool validUtf8(const QByteArray &raw)
{
    const auto *p = reinterpret_cast<const uchar *>(raw.constData());
    const auto *end = p + raw.size();
    while (p < end) {
        const uchar c = *p++;
        if (c < 0x80)
            continue;
        // Lead byte: its count of continuation bytes, and the smallest value it may encode
        // (overlong forms, surrogates and values past U+10FFFF are not UTF-8).
        int more;
        quint32 v, least;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1, v = c & 0x1F, least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, v = c & 0x0F, least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, v = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (end - p < more)
            return false;
        for (; more > 0; --more, ++p) {
            if ((*p & 0xC0) != 0x80)
                return false;
            v = v << 6 | (*p & 0x3F);
        }
        if (v < least || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
            return false;
    }
    return true;
}

QString folderPathFor(const QStringList &parts, EntryRole role)
{
    if (parts.isEmpty())
        return QString();
    int k = 0;
    if (parts.first() == QLatin1String("Accounts"))
        k = 2;
    else if (parts.first() == QLatin1String("Local"))
        k = 1;
    else
        return QString();
    if (role == EntryRole::Message)
        ++k;
    const int n = parts.size();
    if (n >= k + 2)
        return parts.mid(k, n - 1 - k).join(QLatin1Char('/'));
    if (n == k + 1)
        return parts.last();
    return QString();
}

ArchiveWalker::ArchiveWalker(QFolderInformationThread &thread, ArchiveSource &source, bool builderThread)
    : m_thread(thread), m_source(source), m_reader(new BufferedArchiveReader(source)), m_size(source.size()),
      m_central(new CentralDirectory), m_builders(new BuildQueue(thread, builderThread)), m_threaded(builderThread),
      m_limit(m_size), m_stepLimit(m_size)
{
}

ArchiveWalker::~ArchiveWalker()
{
    freeText();
    delete m_reader;
}

void ArchiveWalker::build(EntryRole role, const QString &path, qint64 end, qint64 length, const LocalHeader *h)
{
    BuildJob job;
    job.role = role;
    job.path = path;
    job.end = end;
    job.size = length;
    if (h) {
        job.nameOffset = h->nameOffset;
        job.nameLength = h->nameLength;
        job.entrySize = h->usize;
        job.crc = h->crc;
    }
    job.text = m_text;
    m_text = nullptr;
    m_builders->push(std::move(job));
}

void ArchiveWalker::walk()
{
    m_central->read(m_source);
    if (!m_threaded) {
        walkEntries();
        return;
    }
    std::thread walker([this] {
        walkEntries();
        m_builders->close();
    });
    m_builders->drain();
    walker.join();
}

void ArchiveWalker::walkEntries()
{
    const std::vector<CentralEntry> &known = m_central->entries();
    const qint64 directory = m_central->found() ? m_central->start() : m_size;
    size_t k = 0;
    qint64 pos = 0;
    while (pos < m_size && !bStopFlag) {
        m_thread.progressAt(pos);
        // Records the walk went past point into bytes read from other headers: they are named
        // after the walk unless their entries turn up.
        while (k < known.size() && (known[k].headerOffset < pos || known[k].dropped))
            ++k;
        if (pos >= directory) {
            recordStartsAt(directory);
            break;
        }
        if (k < known.size() && known[k].headerOffset == pos) {
            const qint64 next = readWithRecord(k, pos, directory);
            if (next >= 0) {
                pos = next;
                continue;
            }
        }
        // Only a record whose header agrees bounds what lies before it.
        m_limit = qMin(m_central->nextConfirmed(pos, *m_reader), directory);
        size_t s = k;
        while (s < known.size() && (known[s].headerOffset <= pos || known[s].dropped))
            ++s;
        m_stepLimit = qMin(m_limit, s < known.size() ? known[s].headerOffset : directory);
        // Never past the next known record: what lies there is not this stretch's to take.
        pos = qMin(stepUnknown(pos), m_limit);
    }
    freeText();
    if (!bStopFlag)
        noteUnusedRecords();
}

qint64 ArchiveWalker::readWithRecord(size_t k, qint64 pos, qint64 directory)
{
    const std::vector<CentralEntry> &known = m_central->entries();
    LocalHeader h;
    // The header is read before the next record is checked: the walk's window then serves both
    // and moves on with the walk, never back.
    m_limit = directory;
    if (m_reader->u32At(pos) == kLocalHeaderSig && readLocalHeader(pos, &h)) {
        // The header is the first source: a record pointing at a header of another name is
        // damage (named after the walk), and the header's entry is read as it says.
        size_t match = known.size();
        for (size_t j = k; j < known.size() && known[j].headerOffset == pos; ++j) {
            if (known[j].dropped || !m_central->agrees(j, *m_reader))
                continue;
            if (match == known.size())
                match = j;
            else
                m_central->entry(j).used = true;  // the same record twice
        }
        if (match == known.size())
            return -1;
        // Only a record whose header agrees bounds what lies before it.
        m_limit = qMin(m_central->nextConfirmed(pos, *m_reader), directory);
        if (h.dataOffset > m_limit)
            return -1;
        recordStartsAt(pos);
        const qint64 next = handleWitnessed(h, match);
        m_central->passed(match);
        return next;
    }
    // No header: the record places the entry where the next record confirms it, or its bytes
    // verify.
    if (known[k].dropped || !m_central->resolve(k, *m_reader))
        return -1;
    m_limit = m_central->nextStart(k);
    recordStartsAt(pos);
    m_central->entry(k).used = true;
    const qint64 next = handleKnownEntry(known[k]);
    m_central->passed(k);
    return next;
}

qint64 ArchiveWalker::handleWitnessed(const LocalHeader &h, size_t i)
{
    CentralEntry &e = m_central->entry(i);
    e.used = true;
    e.localIntact = true;
    e.dataOffset = h.dataOffset;
    const bool agreed = e.csize == h.csize && e.usize == h.usize && e.method == h.method;
    bool verified = false;
    const LocalHeader chosen = chooseExtent(h, e, &verified);
    const bool fits = chosen.csize <= m_limit - chosen.dataOffset;
    // A size past the limit is never added to the offset: it may be near the largest number.
    const qint64 end = fits ? chosen.dataOffset + chosen.csize : m_limit;
    // Sizes both sources give are trusted as far as the next agreeing record; a size only one
    // of them gives, only where its bytes verify or it ends at a record.
    const bool trusted = fits && (agreed || verified || endsAtRecord(end));
    // A folder entry holds nothing. An empty file is still listed: a message may name it.
    if (chosen.crc == 0 && chosen.csize == 0 && (chosen.name.isEmpty() || chosen.name.endsWith('/')))
        return qMax(end, h.pos + 1);
    const qint64 next = dispatchEntry(chosen, trusted ? end : -1);
    return trusted ? qMax(end, h.pos + 1) : qMax(next, h.pos + 1);
}

namespace {

const char *const kRootCloses[] = {"</emails>", "</contacts>", "</appointments>",
                                   "</tasks>",  "</notes>",    "</categories>"};

}  // namespace

bool ArchiveWalker::extentVerifies(const LocalHeader &h, quint32 crc, int test)
{
    if (h.csize > m_limit - h.dataOffset)
        return false;
    const qint64 end = h.dataOffset + h.csize;
    switch (test) {
    case 0:
        // Compressed data has the CRC-32 of what it unpacks to: nothing to check here.
        return h.method == 0 && crc != 0 && m_reader->crcMatches(h.dataOffset, h.csize, crc);
    case 1: {
        char tail[32];
        const qint64 n = qMin<qint64>(h.csize, sizeof tail);
        if (h.method != 0 || m_reader->read(end - n, tail, n) != n)
            return false;
        QByteArray text(tail, int(n));
        text = text.trimmed();
        for (const char *close : kRootCloses) {
            if (text.endsWith(close))
                return true;
        }
        return false;
    }
    default:
        return endsAtRecord(end);
    }
}

LocalHeader ArchiveWalker::chooseExtent(const LocalHeader &h, const CentralEntry &e, bool *verified)
{
    LocalHeader local = h;
    LocalHeader central = h;
    central.csize = e.csize;
    central.usize = e.usize;
    central.method = e.method;
    // A zeroed CRC-32 says nothing: the other source's stands for it.
    local.crc = h.crc ? h.crc : e.crc;
    central.crc = e.crc ? e.crc : h.crc;
    *verified = false;
    if (local.csize == central.csize && local.usize == central.usize && local.method == central.method) {
        if (local.crc == central.crc)
            return central;
        // One extent, two CRC-32s: the one its bytes have.
        *verified = extentVerifies(local, local.crc, 0);
        return *verified ? local : central;
    }
    static const char *const how[] = {"its CRC-32 matches", "its root element is closed", "it ends at a record"};
    for (int test = 0; test < 3; ++test) {
        const bool localOk = extentVerifies(local, local.crc, test);
        const bool centralOk = !localOk && extentVerifies(central, central.crc, test);
        if (!localOk && !centralOk)
            continue;
        *verified = test < 2;
        EntriesReadElsewhere << QStringLiteral(
                                    "Entry \"%1\" at archive offset %2: its local header gives %3 bytes, the central "
                                    "directory %4; read with the %5's size (%6)")
                                    .arg(QString::fromUtf8(h.name))
                                    .arg(h.pos)
                                    .arg(h.csize)
                                    .arg(e.csize)
                                    .arg(localOk ? QStringLiteral("local header") : QStringLiteral("central directory"))
                                    .arg(QLatin1String(how[test]));
        return localOk ? local : central;
    }
    EntriesReadElsewhere << QStringLiteral(
                                "Entry \"%1\" at archive offset %2: its local header gives %3 bytes, the central "
                                "directory %4, and neither verifies; read with the central directory's size, cut "
                                "at the next record")
                                .arg(QString::fromUtf8(h.name))
                                .arg(h.pos)
                                .arg(h.csize)
                                .arg(e.csize);
    return central;
}

void ArchiveWalker::noteUnusedRecords()
{
    if (!m_central->found())
        return;
    for (const CentralEntry &e : m_central->entries()) {
        if (e.used || e.name.isEmpty() || (e.name.endsWith('/') && e.csize == 0))
            continue;
        QByteArray name = e.name;
        const int nul = name.indexOf('\0');
        if (nul >= 0)
            name.truncate(nul);
        const auto found = m_localOnly.constFind(name);
        if (found != m_localOnly.constEnd()) {
            EntriesReadElsewhere << QStringLiteral(
                                        "Entry \"%1\": the central directory places its header at archive offset "
                                        "%2, where none of that name stands; read from its local header at %3")
                                        .arg(QString::fromUtf8(name))
                                        .arg(e.headerOffset)
                                        .arg(found.value());
        } else {
            EntriesNotRead << QStringLiteral(
                                  "Entry \"%1\" at archive offset %2 (central directory): no local header of that "
                                  "name was found, and the bytes there do not verify as its data")
                                  .arg(QString::fromUtf8(name))
                                  .arg(e.headerOffset);
        }
    }
}

void ArchiveWalker::noteRepeatedName(const LocalHeader &h)
{
    const quint64 key = std::hash<std::string_view>()(std::string_view(h.name.constData(), size_t(h.name.size())));
    const auto it = m_itemNames.constFind(key);
    if (it == m_itemNames.constEnd()) {
        m_itemNames.insert(key, {h.pos, h.usize, h.crc});
        return;
    }
    if (it->size == h.usize && it->crc == h.crc)
        return;
    EntriesReadElsewhere << QStringLiteral(
                                "Entry \"%1\" at archive offset %2 and again at %3: two entries of one name with "
                                "different contents; both read")
                                .arg(QString::fromUtf8(h.name))
                                .arg(it->pos)
                                .arg(h.pos);
}

qint64 ArchiveWalker::stepUnknown(qint64 pos)
{
    const quint32 word = m_reader->u32At(pos);
    if (word == kCentralHeaderSig) {
        // A central record no end record led to: an embedded archive's directory, or this one's
        // with its end records lost. What follows may still hold entries, so the walk goes on:
        // over the whole record when its lengths lead to the next record, else byte by byte, so a
        // stray signature with damaged lengths hides nothing.
        const qint64 next =
            pos + 46 + m_reader->u16At(pos + 28) + m_reader->u16At(pos + 30) + m_reader->u16At(pos + 32);
        return next <= m_limit && endsAtRecord(next) ? next : pos + 1;
    }
    LocalHeader h;
    if (word == kLocalHeaderSig && readLocalHeader(pos, &h)) {
        recordStartsAt(pos);
        if (!m_central->entries().empty() && !h.name.isEmpty())
            m_localOnly.insert(h.name, pos);
        if (h.crc != 0)
            return handleEntry(h);
        // CRC 0 with a size that ends right at the next record: an entry whose CRC was lost.
        // Its place is known; only its bytes cannot be checked.
        if (h.csize > 0 && h.csize <= m_limit - h.dataOffset && endsAtRecord(h.dataOffset + h.csize))
            return handleEntry(h);
        // CRC 0: a folder entry, or data the header does not describe; look behind it.
        const qint64 p = h.dataOffset;
        if (p < m_limit && m_reader->u32At(p) != kLocalHeaderSig) {
            const qint64 end = recoverBlock(p);
            return end > p ? end : p;
        }
        return p;
    }
    const qint64 end = recoverBlock(pos);
    if (end > pos)
        return end;
    // Only a 'P' (a signature) or a '<' (a root tag) can change what happens next.
    return m_reader->findEitherByte(pos + 1, qMax(m_stepLimit, pos + 1), 'P', '<');
}

qint64 ArchiveWalker::handleKnownEntry(const CentralEntry &e)
{
    LocalHeader h;
    h.pos = e.headerOffset;
    h.method = e.method;
    h.crc = e.crc;
    h.nameLength = e.nameLength;
    h.usize = e.usize;
    h.csize = e.csize;
    h.dataOffset = e.dataOffset;
    h.nameOffset = e.nameOffset;
    h.name = e.name;
    h.messageName = e.messageName;
    const qint64 end = e.dataOffset + e.csize;
    // A folder entry holds nothing. An empty file is still listed: a message may name it.
    if (e.crc == 0 && e.csize == 0 && (e.name.isEmpty() || e.name.endsWith('/')))
        return qMax(end, e.headerOffset + 1);
    dispatchEntry(h, end);
    return qMax(end, e.headerOffset + 1);
}

bool ArchiveWalker::readLocalHeader(qint64 pos, LocalHeader *h)
{
    if (pos < 0 || pos > m_size - 30)
        return false;
    h->pos = pos;
    h->method = m_reader->u16At(pos + 8);
    h->crc = m_reader->u32At(pos + 14);
    h->nameLength = m_reader->u16At(pos + 26);
    h->extraLength = m_reader->u16At(pos + 28);
    const qint64 extraAt = pos + 30 + h->nameLength;
    h->dataOffset = extraAt + h->extraLength;
    h->nameOffset = pos + 30;
    // A header whose name or extra reaches into a known record is not one.
    if (h->dataOffset > m_limit)
        return false;
    // Sizes from the ZIP64 record among the extra records, else the 32-bit fields.
    h->csize = m_reader->u32At(pos + 18);
    h->usize = m_reader->u32At(pos + 22);
    for (qint64 at = extraAt; at + 4 <= h->dataOffset;) {
        const quint16 id = m_reader->u16At(at);
        const quint16 len = m_reader->u16At(at + 2);
        if (at + 4 + len > h->dataOffset)
            break;
        if (id == 0x0001) {
            if (len >= 8)
                h->usize = m_reader->i64At(at + 4);
            h->csize = len >= 16 ? m_reader->i64At(at + 12) : h->usize;
            break;
        }
        at += 4 + len;
    }
    if (h->usize < 0 || h->csize < 0)
        return false;
    h->name.resize(h->nameLength);
    if (m_reader->read(pos + 30, h->name.data(), h->nameLength) != h->nameLength)
        return false;
    const int nul = h->name.indexOf('\0');
    // A name with invalid UTF-8 still names its message: decoded leniently, never dropped.
    h->messageName = (nul >= 0 || !validUtf8(h->name)) && NameHeldMessage(h->name);
    if (nul >= 0)
        h->name.truncate(nul);
    return true;
}

namespace {

FileOffsetNode *appendNode(FileOffsetNode *&head, FileOffsetNode *&tail, const LocalHeader &h)
{
    qint64 count = 0;
    FileOffsetNode *node = appendRecord(head, tail, count);
    if (!node)
        return nullptr;
    node->llSize = h.usize;
    node->dwCrc32 = h.crc;
    node->llDataOffset = h.dataOffset;
    node->pEntryName = MakeCString(h.name);
    node->bCompressed = h.method != 0;
    node->wMethod = h.method;
    node->llStoredSize = h.csize;
    return node;
}

// First "PK\3\4" or "PK\1\2" at or after from, or -1. Their third bytes are control
// characters that XML text never holds, so memchr on them is both fast and rarely misled.
qint64 findZipSignature(std::string_view text, size_t from)
{
    qint64 best = -1;
    const char thirds[2] = {3, 1};
    const char fourths[2] = {4, 2};
    for (int k = 0; k < 2; ++k) {
        for (size_t at = from + 2; at + 1 < text.size();) {
            const void *hit = memchr(text.data() + at, thirds[k], text.size() - 1 - at);
            if (!hit)
                break;
            at = size_t(static_cast<const char *>(hit) - text.data());
            if (text[at - 2] == 'P' && text[at - 1] == 'K' && text[at + 1] == fourths[k]) {
                if (best < 0 || qint64(at - 2) < best)
                    best = qint64(at - 2);
                break;
            }
            ++at;
        }
    }
    return best;
}

}  // namespace

void ArchiveWalker::appendAttachmentNode(const LocalHeader &h, bool sizeLanded)
{
    FileOffsetNode *node = appendNode(tmpAtFOStart, tmpAtFOEnd, h);
    if (!node)
        return;
    ++AttachmentNodeCount;
    if (h.method != 0) {
        ++CompressedEntryCount;
        // Only data whose size ends at the next record can be copied whole as it is.
        if (!sizeLanded || node->llStoredSize > m_limit - h.dataOffset) {
            node->llStoredSize = qBound<qint64>(0, node->llStoredSize, m_limit - h.dataOffset);
            node->bSizeCut = 1;
        }
        return;
    }
    // A size that runs into the next known record is cut there: the bytes behind belong to
    // other entries and must never be written as this one's. Past the end of the file the
    // copy itself comes up short.
    if (m_limit < m_size && node->llSize > m_limit - h.dataOffset) {
        node->llSize = qMax<qint64>(0, m_limit - h.dataOffset);
        node->bSizeCut = 1;
    }
    m_openNode = sizeLanded ? nullptr : node;
}

void ArchiveWalker::recordStartsAt(qint64 pos)
{
    FileOffsetNode *node = m_openNode;
    m_openNode = nullptr;
    if (node && pos >= node->llDataOffset && node->llSize > pos - node->llDataOffset) {
        node->llSize = pos - node->llDataOffset;
        node->bSizeCut = 1;
    }
}

bool ArchiveWalker::endsAtRecord(qint64 end)
{
    if (end == m_size || end == m_limit)
        return true;
    switch (m_reader->u32At(end)) {
    case kLocalHeaderSig:
    case kCentralHeaderSig:
    case 0x08074B50:  // data descriptor
    case 0x06064B50:  // ZIP64 end of central directory
    case 0x07064B50:  // ZIP64 locator
    case 0x06054B50:  // end of central directory
        return true;
    default:
        // A record points here: its header may be smashed, but its place is known.
        return m_central->startsAt(end);
    }
}

qint64 ArchiveWalker::handleEntry(const LocalHeader &h)
{
    const qint64 room = m_limit - h.dataOffset;
    const bool fits = h.csize <= room;
    const qint64 end = h.dataOffset + (fits ? h.csize : room);
    // A size that does not end at the next record is damage: step through the data instead of
    // jumping, so nothing behind a smashed header is lost.
    return dispatchEntry(h, fits && endsAtRecord(end) ? end : -1);
}

qint64 ArchiveWalker::dispatchEntry(const LocalHeader &h, qint64 end)
{
    const qint64 next = end >= 0 ? end : h.dataOffset;
    // A message whose name holds a NUL is still a message, in the folder its name gives up to
    // the NUL; taken for an attachment, no save would ever write it.
    EntryRole role = classifyEntry(h.name);
    if (role == EntryRole::Attachment && h.messageName)
        role = EntryRole::Message;
    if (h.method != 0) {
        // A folder entry that a zip tool deflated all the same holds nothing to read.
        if (h.usize == 0 && h.name.endsWith('/'))
            return next;
        // Compressed data is never handed to a builder; writers must not copy it as plain bytes.
        appendAttachmentNode(h, end >= 0);
        return next;
    }
    switch (role) {
    case EntryRole::Categories:
        // A later list replaces an earlier one only when it holds something and ends where its
        // size says: an empty or cut duplicate never hides the real list.
        if (categorie.size <= 0 || (h.usize > 0 && end >= 0))
            categorie = {h.usize, h.crc, h.dataOffset};
        categorieCopies.append({h.usize, h.crc, h.dataOffset});
        return next;
    case EntryRole::Attachment:
        appendAttachmentNode(h, end >= 0);
        return next;
    default:
        noteRepeatedName(h);
        return handleXmlEntry(h, role, end);
    }
}

qint64 ArchiveWalker::handleXmlEntry(const LocalHeader &h, EntryRole role, qint64 end)
{
    switch (role) {
    case EntryRole::Contacts:
        appendNode(tmpCoFOStart, tmpCoFOEnd, h);
        break;
    case EntryRole::Calendar:
        appendNode(tmpCaFOStart, tmpCaFOEnd, h);
        break;
    case EntryRole::Tasks:
        appendNode(tmpTaFOStart, tmpTaFOEnd, h);
        break;
    case EntryRole::Notes:
        appendNode(tmpNoFOStart, tmpNoFOEnd, h);
        break;
    default:
        break;
    }
    const qint64 want = qMin(h.usize, m_limit - h.dataOffset);
    if (want > kMaxEntryText)
        return end > h.pos ? end : h.dataOffset;
    bool cut = false;
    const qint64 len = readEntryText(h.dataOffset, want, &cut);
    const qint64 textEnd = h.dataOffset + len;
    build(role, entryFolderPath(h.name, role), textEnd, len, &h);
    // Stored XML never holds a ZIP signature: one inside the text means the sizes were damaged,
    // so the walk goes on at the signature. Past a damaged size it goes on behind the text it
    // parsed, never at the text's own root tag again.
    if (cut || end < 0)
        return textEnd;
    return end;
}

qint64 ArchiveWalker::readEntryText(qint64 offset, qint64 want, bool *cut)
{
    freeText();
    *cut = false;
    char *text = m_text = m_builders->takeText(want);
    if (!text)
        return 0;
    const qint64 chunk = qint64(1) << 20;
    qint64 len = 0;
    while (len < want) {
        const qint64 got = m_reader->readText(offset + len, text + len, qMin(chunk, want - len));
        if (got <= 0)
            break;
        // A signature may straddle the previous chunk: look back three bytes.
        const qint64 from = qMax<qint64>(0, len - 3);
        len += got;
        const qint64 sig = findZipSignature(std::string_view(text, size_t(len)), size_t(from));
        if (sig >= 0) {
            len = sig;
            *cut = true;
        }
        if (*cut)
            break;
    }
    text[len] = '\0';
    return len;
}

QString ArchiveWalker::entryFolderPath(const QByteArray &name, EntryRole role)
{
    const int slash = name.lastIndexOf('/');
    if (slash > 0 && role == m_lastFolderRole && name.size() > slash + 1 && m_lastFolderName.size() == slash + 1
        && name.startsWith(m_lastFolderName))
        return m_lastFolderPath;
    const QStringList parts = QString::fromUtf8(name).split(QLatin1Char('/'));
    const QString path = folderPathFor(parts, role);
    // Only a path made of the folder levels alone serves the next name of the same folder; one
    // holding the file name does not. The cached file-name-free path is what folderPathFor
    // gives for any file name there, so compare it with a stand-in name.
    m_lastFolderName.clear();
    if (slash > 0 && name.size() > slash + 1) {
        QStringList other = parts;
        other.last() = QStringLiteral("x") + parts.last();
        if (folderPathFor(other, role) == path) {
            m_lastFolderName = name.left(slash + 1);
            m_lastFolderRole = role;
            m_lastFolderPath = path;
        }
    }
    return path;
}

void ArchiveWalker::freeText()
{
    m_builders->giveBack(m_text);
    m_text = nullptr;
}

}  // namespace olm
