// The walk over the archive: entry by entry from the local headers, with the central records as
// a second witness, handing each entry to its builder.

#include "scanner/ArchiveWalk.h"

#include "platform/Crc32.h"
#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/BuildQueue.h"
#include "scanner/CentralDirectory.h"
#include "scanner/ElementValue.h"
#include "scanner/EntryTextScan.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

namespace olm {

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
    // Bytes of a run read ahead go to the worker as they are; others are copied from the window.
    if (m_textFrom >= 0 && m_defer && role == EntryRole::Message
        && (job.view = m_reader->shareText(m_textFrom, m_textLength, &job.hold))) {
        m_textFrom = -1;
    } else {
        fillText();
        // Without memory for the text it is an empty one, as when none was had to read it into.
        if (!m_text)
            job.size = 0;
    }
    job.text = m_text;
    // The walk's thread looks for a NUL: the builders' thread is the busier one.
    job.nul = m_textNul;
    m_text = nullptr;
    m_textNul = -1;
    m_builders->push(std::move(job));
}

void ArchiveWalker::walk()
{
    m_central->read(m_source);
    planJumps(m_central->found() ? m_central->start() : m_size);
    m_defer = m_builders->parallel();
    // Most entries of a large archive are messages: their names' table never grows in the walk.
    m_itemNames.reserve(m_central->entries().size());
    if (!m_threaded) {
        walkEntries();
    } else {
        // With workers reading the messages, the walk is what they wait on: its reads go on
        // ahead of it on threads of their own.
        if (m_thread.scanThreads() >= 3)
            m_reader->readAhead();
        std::thread walker([this] {
            walkEntries();
            m_builders->close();
        });
        m_builders->drain();
        walker.join();
    }
    noteEmptyMessages();
}

QByteArray ArchiveWalker::entryNameAt(qint64 offset, int length)
{
    QByteArray name(qMax(0, length), Qt::Uninitialized);
    if (m_reader->read(offset, name.data(), name.size()) != name.size())
        name.clear();
    const int nul = name.indexOf('\0');
    if (nul >= 0)
        name.truncate(nul);
    return name;
}

void ArchiveWalker::noteEmptyMessages()
{
    for (const QFolderInformationThread::EmptyEntry &e : m_thread.takeEmptyMessageEntries()) {
        if (bStopFlag)
            return;
        const QByteArray name = entryNameAt(e.nameOffset, e.nameLength);
        EntriesNotRead << EntryLine(
            name, e.data, QStringLiteral(": no message could be read from its text, so nothing of it is listed"),
            EntryPlace::Data);
    }
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
    if (!bStopFlag) {
        dropDamagedAttachmentCopies();
        readLineEndsBack();
        noteRepeatedNames();
        noteUnusedRecords();
        noteCutArchive();
    }
}

qint64 ArchiveWalker::stepUnknown(qint64 pos)
{
    const quint32 word = m_reader->u32At(pos);
    if (word == kCentralHeaderSig) {
        if (m_strayRecords < 0)
            m_strayRecords = pos;
        // A central record no end record led to: an embedded archive's directory, or this one's
        // with its end records lost. What follows may still hold entries, so the walk goes on:
        // over the whole record when its lengths lead to the next record, else byte by byte, so a
        // stray signature with damaged lengths hides nothing.
        const qint64 next =
            pos + 46 + m_reader->u16At(pos + 28) + m_reader->u16At(pos + 30) + m_reader->u16At(pos + 32);
        return next <= m_limit && endsAtRecord(next) ? next : pos + 1;
    }
    // One header reused: its name's buffer then serves every entry without an allocation.
    LocalHeader &h = m_header;
    // A signature with a bit or two flipped right where the entry before ends (entries follow
    // each other), with a name in this archive's folders: a header all the same.
    const bool flipped = word != kLocalHeaderSig && pos > 0 && pos == m_extentEnd
        && qPopulationCount(word ^ kLocalHeaderSig) <= 2 && readLocalHeader(pos, &h) && archiveName(h.name);
    if (flipped)
        EntriesReadElsewhere << EntryLine(h.name, pos, QStringLiteral(": its local header's signature is damaged"));
    const bool read = flipped || (word == kLocalHeaderSig && readLocalHeader(pos, &h));
    if (word == kLocalHeaderSig && (!read || !archiveName(h.name))) {
        if (const qint64 next = attachmentByOwnName(pos); next > pos)
            return next;
    }
    if (read) {
        if (archiveName(h.name) && h.method != 0 && describesNothing(h))
            return pos + 1;
        // A header of no folder of this archive right behind an attachment's name: the first
        // part of a zip whose own header is damaged.
        if (!archiveName(h.name)) {
            const qint64 zipEnd = zipBehindDamagedHeader(pos);
            if (zipEnd > pos)
                return zipEnd;
            // Inside the attachment just listed: its own part, never this archive's entry.
            if (insideLastAttachment(pos))
                return qMax(h.dataOffset, pos + 1);
            // Not even a zip's part: its method too is read from what followed its signature.
            if (describesNothing(h))
                return pos + 1;
            // A deflated part of a zip whose head was lost: no record points here, and this
            // archive deflates nothing outside its folders but its lists.
            if (h.method != 0 && classifyEntry(h.name) == EntryRole::Attachment)
                return qMax(h.dataOffset, pos + 1);
        }
        noteLostText(pos);
        recordStartsAt(pos);
        // A folder entry ends at its header's end; an entry's data moves this on when it is read.
        noteExtent(h.dataOffset, 0);
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
            const qint64 end = recoverBlock(p, &h);
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
    node->llStatedSize = h.statedSize >= 0 ? h.statedSize : h.usize;
    return node;
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
    } else if (node && pos > node->llDataOffset + node->llSize) {
        node->llReach = pos - node->llDataOffset;
    }
}

qint64 ArchiveWalker::handleEntry(const LocalHeader &h)
{
    // A stored attachment cut by the end of the file holds nothing of this archive: an archive
    // mailed as one holds headers of its own, which are its bytes, never this archive's entries.
    // Its size stays as stated: the copy comes up short, and the save names it cut short.
    if (cutByFileEnd(h)) {
        noteExtent(h.dataOffset, h.csize);
        appendAttachmentNode(h, true);
        return m_size;
    }
    LocalHeader moved = h;
    const bool verified = findStoredData(h, &moved) || runsToFirstRecord(moved);
    const qint64 room = m_limit - moved.dataOffset;
    const bool fits = moved.csize <= room;
    const qint64 end = fits ? headerNear(moved.dataOffset, moved.dataOffset + moved.csize) : m_limit;
    // A size that does not end at the next record is damage, unless its bytes have its CRC-32
    // (the next header is the damaged one): step through the data instead of jumping, so
    // nothing behind a smashed header is lost. So is a header without a name (every entry has
    // one), or stored data whose two sizes differ: a damaged header's size may land near a
    // record by chance, and the entries it would jump over are whole.
    const bool sound = !moved.name.isEmpty() && (moved.method != 0 || moved.usize == moved.csize);
    return dispatchEntry(moved, fits && sound && (verified || endsAtRecord(end)) ? end : -1);
}

qint64 ArchiveWalker::dispatchEntry(const LocalHeader &h, qint64 end)
{
    const qint64 next = end >= 0 ? end : h.dataOffset;
    noteExtent(h.dataOffset, h.csize);
    // A message whose name holds a NUL is still a message, in the folder its name gives up to
    // the NUL; taken for an attachment, no save would ever write it.
    EntryRole role = classifyEntry(h.name);
    if (role == EntryRole::Attachment && h.messageName)
        role = EntryRole::Message;
    else if (role == EntryRole::Attachment && h.method == 0)
        role = flippedStoreRole(h);
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
        return recoverForeignBlocks(h, role, next);
    case EntryRole::Attachment:
        if (const qint64 zipEnd = wholeZipEnd(h, end); zipEnd >= 0)
            return keepWholeZip(h, zipEnd);
        // Data cut short by a header standing before its size's end ends at that header.
        appendAttachmentNode(h, end >= 0 && end - h.dataOffset >= h.csize);
        if (end >= 0)
            recordStartsAt(end);
        // A list the scan does not read (the address book's groups) is a store's neighbour too.
        if (h.name.endsWith(".xml") && !h.name.contains("__Attachments/"))
            return recoverForeignBlocks(h, role, next);
        return next;
    default:
        if (role != EntryRole::Message && listCopy(h, role))
            return next;
        noteRepeatedName(h);
        const qint64 after = handleXmlEntry(h, role, end);
        return role == EntryRole::Message && after == end ? after : recoverForeignBlocks(h, role, after);
    }
}

void ArchiveWalker::appendListNode(const LocalHeader &h, EntryRole role)
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
}

qint64 ArchiveWalker::handleXmlEntry(const LocalHeader &h, EntryRole role, qint64 end)
{
    const qint64 grown = grownStoreEnd(h, role, end);
    const qint64 want = grown > 0 ? grown - h.dataOffset : qMin(h.usize, (end >= 0 ? end : m_limit) - h.dataOffset);
    if (want > kMaxEntryText) {
        appendListNode(h, role);
        return end > h.pos ? end : h.dataOffset;
    }
    const QString path = entryFolderPath(h.name, role);
    if (role == EntryRole::Message && path.isEmpty() && !h.name.isEmpty())
        notePlacelessMessage(h);
    bool cut = false;
    qint64 len = readEntryText(h.dataOffset, want, &cut, !m_readThrough);
    // Mail text may hold a signature's bytes all the same: sizes that end at a record and a
    // CRC-32 that holds over the whole extent are the entry's end, not the signature.
    if (cut && end >= 0 && want == h.usize && h.crc != 0 && m_reader->crcMatches(h.dataOffset, want, h.crc))
        len = readEntryText(h.dataOffset, want, &cut, false);
    // Another message's text inside a damaged one's: this one ends there, that one is read by its name.
    if (const qint64 inner = end < 0 && role == EntryRole::Message ? messageStartInside(h, len) : -1; inner > 0)
        len = readEntryText(h.dataOffset, inner - h.dataOffset, &cut, false), cut = true;
    const qint64 textEnd = h.dataOffset + len;
    // Read up to there, whatever a damaged size says.
    m_extentEnd = qMax(m_extentEnd, textEnd);
    if (len > 0 && len < h.usize && h.crc != 0 && (fillText(), m_text && Crc32Update(0, m_text, len) == h.crc)) {
        // Sizes stretched over the next entry: the text up to there has the entry's CRC-32, so
        // the sizes are the damaged part and the text is whole.
        LocalHeader whole = h;
        whole.usize = whole.csize = len;
        appendListNode(whole, role);
        build(role, path, textEnd, len, &whole);
    } else {
        // A store copy's extent is what was read of it: a size stated past a cut runs over the
        // next entry's bytes, which are never this copy's.
        LocalHeader read = h;
        read.usize = read.csize = grown > 0 ? len : qMin(h.usize, len);
        appendListNode(read, role);
        build(role, path, textEnd, len, &h);
    }
    // Stored XML never holds a ZIP signature: one inside the text means the sizes were damaged,
    // so the walk goes on at the signature. Past a damaged size it goes on behind the text it
    // parsed, never at the text's own root tag again.
    if (cut || end < 0 || grown > 0)
        return textEnd;
    return end;
}

qint64 ArchiveWalker::readEntryText(qint64 offset, qint64 want, bool *cut, bool stopAtSignature)
{
    freeText();
    *cut = false;
    // A message text a worker takes from a run read ahead needs no buffer: none is taken here
    // unless the walk must copy the bytes itself (fillText).
    if (m_defer) {
        if (m_reader->peekText(offset, want)) {
            bool nul = false;
            qint64 scanned = 0;
            const qint64 sig = m_reader->scanPeekedText(offset, want, stopAtSignature, &nul, &scanned);
            const qint64 len = sig >= 0 ? sig : want;
            *cut = sig >= 0;
            m_textNul = nul;
            m_textFrom = offset;
            m_textLength = len;
            return len;
        }
    }
    char *text = m_text = m_builders->takeText(want);
    if (!text)
        return 0;
    const qint64 chunk = qint64(1) << 20;
    qint64 len = 0;
    // Each byte is looked at once, for a NUL and for a signature alike, as its chunk comes in.
    qint64 scanned = 0;
    bool nul = false;
    while (len < want) {
        const qint64 got = m_reader->readText(offset + len, text + len, qMin(chunk, want - len));
        if (got <= 0)
            break;
        len += got;
        const qint64 sig = ScanEntryText(text, scanned, len, stopAtSignature, &nul, &scanned);
        if (sig >= 0) {
            len = sig;
            *cut = true;
            break;
        }
    }
    text[len] = '\0';
    m_textNul = nul;
    return len;
}

void ArchiveWalker::fillText()
{
    if (m_textFrom < 0)
        return;
    if (!m_text)
        m_text = m_builders->takeText(m_textLength);
    if (!m_text) {
        // Memory is short: the text is taken as empty.
        m_textFrom = -1;
        m_textLength = 0;
        return;
    }
    EndLateText(m_text, m_reader->read(m_textFrom, m_text, m_textLength), m_textLength, &m_textNul);
    m_textFrom = -1;
}

void ArchiveWalker::freeText()
{
    m_textFrom = -1;
    m_builders->giveBack(m_text);
    m_text = nullptr;
    m_textNul = -1;
}

}  // namespace olm
