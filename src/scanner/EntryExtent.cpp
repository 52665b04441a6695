// The choice of an entry's extent where its local header and a central record both describe it.

#include "scanner/ArchiveWalk.h"

#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/CentralDirectory.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"

#include <QtEndian>

#include <cstring>
#include <utility>
#include <vector>

namespace olm {

namespace {
// Stretches shorter than this are read with the bytes around them: a read more costs more.
constexpr qint64 kShortestJump = 16 * 1024;
// Local extras longer than this are damage, not a header's.
constexpr qint64 kLongestExtra = 4096;
}  // namespace

void ArchiveWalker::planJumps(qint64 directory)
{
    const std::vector<CentralEntry> &known = m_central->entries();
    std::vector<std::pair<qint64, qint64>> jumps;
    for (size_t i = 0, j = 0; i < known.size(); ++i) {
        const CentralEntry &e = known[i];
        if (e.dropped)
            continue;
        j = qMax(j, i + 1);
        while (j < known.size() && (known[j].dropped || known[j].headerOffset <= e.headerOffset))
            ++j;
        const qint64 next = j < known.size() ? known[j].headerOffset : directory;
        // Data that ends at the next header: the walk jumps from its header there. A damaged size
        // larger than all before that header places nothing.
        if (e.csize < 0 || e.csize > next)
            continue;
        const qint64 data = next - e.csize;
        const qint64 extra = data - (e.headerOffset + 30 + e.nameLength);
        if ((e.method != 0 || classifyEntry(e.name) == EntryRole::Attachment) && extra >= 0 && extra <= kLongestExtra
            && e.csize >= kShortestJump && (jumps.empty() || jumps.back().second <= data))
            jumps.emplace_back(data, next);
    }
    // The walk ends at the directory, which was read apart.
    if (directory < m_size && (jumps.empty() || jumps.back().second <= directory))
        jumps.emplace_back(directory, m_size);
    m_reader->setJumps(std::move(jumps));
}

qint64 ArchiveWalker::readWithRecord(size_t k, qint64 pos, qint64 directory)
{
    const std::vector<CentralEntry> &known = m_central->entries();
    // A record placed by its data where an empty entry's record points too (a folder whose header
    // lost its bytes up to the next entry's name): the signature there is the placed entry's, whose
    // name and extra were lost with them, and the bytes in the name's place would file it.
    const bool signature = m_reader->u32At(pos) == kLocalHeaderSig;
    for (size_t j = k + 1; signature && !known[k].placed && j < known.size() && known[j].headerOffset == pos; ++j) {
        if (known[j].placed && known[k].csize == 0 && !m_central->agrees(k, *m_reader)) {
            m_central->entry(k).dropped = true;
            k = j;
        }
    }
    // The first record that does not agree finds every record's header from it on: this one's
    // may stand a little further on, where the walk meets it.
    if (!known[k].placed && !m_central->agrees(k, *m_reader) && known[k].headerOffset != pos)
        return -1;
    // One header reused: its name's buffer then serves every entry without an allocation.
    LocalHeader &h = m_header;
    // The header is read before the next record is checked: the walk's window then serves both
    // and moves on with the walk, never back.
    m_limit = directory;
    // A record placed by its data's CRC-32 stands for a header too damaged to read.
    if (!known[k].placed && signature && readLocalHeader(pos, &h)) {
        // The header is the first source: a record pointing at a header of another name is
        // damage (named after the walk), and the header's entry is read as it says.
        size_t match = known.size();
        for (size_t j = k; j < known.size() && known[j].headerOffset == pos; ++j) {
            // The first question may move records found elsewhere: the place is asked again.
            if (known[j].dropped || !m_central->agrees(j, *m_reader) || known[j].headerOffset != pos)
                continue;
            if (match == known.size())
                match = j;
            else
                m_central->entry(j).used = true;  // the same record twice
        }
        if (match == known.size())
            match = recordOfDamagedName(k, pos, &h);
        if (match == known.size())
            return -1;
        if (h.nameLength != known[match].nameLength && !readNamedHeader(pos, match, &h))
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
    // An empty entry's record verifies anywhere: without its header it places no bytes, and what
    // stands where the header was (a store whose header and start were lost) is the walk's to read.
    if (known[k].csize == 0)
        return -1;
    return next;
}

bool ArchiveWalker::readNamedHeader(qint64 pos, size_t i, LocalHeader *h)
{
    const quint16 own = h->nameLength;
    const CentralEntry &e = m_central->entries()[i];
    if (!readLocalHeader(pos, h, e.nameLength))
        return false;
    EntriesReadElsewhere << EntryLine(h->name, pos,
                                      QStringLiteral(": its local header gives a name of %1 bytes, the central "
                                                     "directory %2; read with the central directory's")
                                          .arg(own)
                                          .arg(e.nameLength));
    return true;
}

qint64 ArchiveWalker::handleWitnessed(const LocalHeader &h, size_t i)
{
    CentralEntry &e = m_central->entry(i);
    e.used = true;
    e.localIntact = true;
    e.dataOffset = h.dataOffset;
    const bool agreed = e.csize == h.csize && e.usize == h.usize && e.method == h.method;
    bool verified = false;
    LocalHeader chosen = chooseExtent(h, e, &verified);
    // Sizes that agree say nothing of where the data starts: bytes lost from or put into the
    // header's extra move it.
    if (!verified && chosen.method == 0) {
        const qint64 nameEnd = h.nameOffset + h.nameLength;
        qint64 d = m_central->dataEndingAtRecord(chosen.dataOffset, chosen.csize, chosen.crc, nameEnd, *m_reader);
        // More bytes put into the extra than that search reaches: the data ends at the next
        // header that agrees, one CRC-32 over its size tells.
        if (d == chosen.dataOffset && chosen.csize >= 0 && chosen.csize <= m_limit - nameEnd
            && m_limit - chosen.csize > chosen.dataOffset) {
            LocalHeader atLimit = chosen;
            atLimit.dataOffset = m_limit - chosen.csize;
            if (extentVerifies(atLimit, chosen.crc, 0))
                d = atLimit.dataOffset;
        }
        if (d != chosen.dataOffset) {
            EntriesReadElsewhere << EntryLine(h.name, h.pos,
                                              QStringLiteral(": its local header is damaged; its data was found at "
                                                             "%1 by its size and CRC-32")
                                                  .arg(d));
            chosen.dataOffset = d;
            verified = true;
        }
    }
    if (runsToFirstRecord(chosen))
        verified = true;
    const bool fits = chosen.csize <= m_limit - chosen.dataOffset;
    // A size past the limit is never added to the offset: it may be near the largest number.
    const qint64 end = fits ? headerNear(chosen.dataOffset, chosen.dataOffset + chosen.csize) : m_limit;
    // Bytes lost inside the data: with no record lost behind this one, the bytes up to the next
    // header that agrees are this entry's, cut short. Headers among them are its own (a
    // document's parts).
    const bool successor = m_central->successorKnown(i);
    if (!fits && successor) {
        const qint64 next = dispatchEntry(chosen, m_limit);
        return qMax(next, h.pos + 1);
    }
    // Bytes added inside an XML text: it runs on to the next header that agrees, and all of it
    // is read, so no item behind the added bytes is lost.
    if (fits && successor && chosen.method == 0 && end < m_limit && !endsAtRecord(end)
        && classifyEntry(chosen.name) != EntryRole::Attachment) {
        // Unless its stated size and CRC-32 verify: then the entry is whole, and the bytes behind
        // it are no entry's, but for a header among them whose record was lost: the walk reads on.
        if (verified || extentVerifies(chosen, chosen.crc, 0)) {
            const bool header = m_central->searchedFind("PK\x03\x04", end, m_limit, *m_reader) >= 0;
            if (!header)
                noteStrayBytes(chosen, end, m_limit);
            dispatchEntry(chosen, end);
            return qMax(header ? end : m_limit, h.pos + 1);
        }
        LocalHeader longer = chosen;
        longer.usize = longer.csize = m_limit - chosen.dataOffset;
        m_readThrough = true;
        const qint64 next = dispatchEntry(longer, m_limit);
        m_readThrough = false;
        return qMax(next, h.pos + 1);
    }
    // Sizes both sources give are trusted as far as the next agreeing record; a size only one
    // of them gives, only where its bytes verify or it ends at a record.
    const bool trusted = fits && (agreed || verified || endsAtRecord(end));
    // A folder entry holds nothing. An empty file is still listed: a message may name it.
    if (chosen.crc == 0 && chosen.csize == 0 && (chosen.name.isEmpty() || chosen.name.endsWith('/'))) {
        // Its header is the archive's bytes all the same: none of it is stray.
        noteExtent(chosen.dataOffset, 0);
        return qMax(end, h.pos + 1);
    }
    const qint64 next = dispatchEntry(chosen, trusted ? end : -1);
    // An attachment that is a zip may end past a size that ends at its own headers.
    return trusted ? qMax(qMax(end, next), h.pos + 1) : qMax(next, h.pos + 1);
}

void ArchiveWalker::noteStrayBytes(const LocalHeader &h, qint64 from, qint64 to)
{
    EntriesReadElsewhere << EntryLine(h.name, h.pos,
                                      QStringLiteral(": read whole (its size and CRC-32 verify); the %1 bytes from "
                                                     "archive offset %2 to the next entry at %3 are damage between "
                                                     "entries, no entry's data")
                                          .arg(to - from)
                                          .arg(from)
                                          .arg(to));
}

namespace {

const char *const kRoots[] = {"emails", "contacts", "appointments", "tasks", "notes", "categories"};

}  // namespace

bool ArchiveWalker::runsToFirstRecord(const LocalHeader &h)
{
    // Bytes put in before the directory and as many lost among its records leave the end record
    // adding up: the last entry runs past where it places the directory, to the first record.
    const qint64 first = m_central->firstRecord();
    if (h.csize <= m_limit - h.dataOffset || m_limit != m_central->start() || first <= m_limit || h.csize < 0
        || h.csize > first - h.dataOffset || h.method != 0 || h.crc == 0
        || !m_reader->crcMatches(h.dataOffset, h.csize, h.crc))
        return false;
    m_limit = h.dataOffset + h.csize;
    return true;
}

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
        char tail[256];
        const qint64 n = qMin<qint64>(h.csize, sizeof tail);
        if (h.method != 0 || m_reader->read(end - n, tail, n) != n)
            return false;
        for (const char *root : kRoots) {
            if (EndsWithRootClose(std::string_view(tail, size_t(n)), root))
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
        // Stored data verified over csize bytes is that long, whatever the other size says.
        LocalHeader &chosen = localOk ? local : central;
        if (*verified)
            chosen.usize = chosen.csize;
        EntriesReadElsewhere << EntryLine(
            h.name, h.pos,
            QStringLiteral(": its local header gives %1 bytes, the central directory "
                           "%2; read with the %3's size (%4)")
                .arg(h.csize)
                .arg(e.csize)
                .arg(localOk ? QStringLiteral("local header") : QStringLiteral("central directory"))
                .arg(QLatin1String(how[test])));
        return chosen;
    }
    // Bytes put into or lost from the header's extra move its data: the record's size and CRC-32
    // find it ending where the next header that agrees starts, never inside the name.
    LocalHeader placed = central;
    placed.dataOffset = m_limit - central.csize;
    const qint64 nameEnd = h.pos + 30 + h.nameLength;
    // Bytes put in may be many: the data is bounded by the name before it and the next header.
    if (central.csize >= 0 && central.csize <= m_limit - nameEnd && placed.dataOffset != h.dataOffset
        && h.dataOffset - placed.dataOffset <= 256 && extentVerifies(placed, central.crc, 0)) {
        *verified = true;
        placed.usize = placed.csize;
        EntriesReadElsewhere << EntryLine(h.name, h.pos,
                                          QStringLiteral(": its local header is damaged; its data was found at %1 "
                                                         "by the central directory's size and CRC-32")
                                              .arg(placed.dataOffset));
        return placed;
    }
    EntriesReadElsewhere << EntryLine(h.name, h.pos,
                                      QStringLiteral(": its local header gives %1 bytes, the central directory %2, "
                                                     "and neither verifies; read with the central directory's size, "
                                                     "cut at the next record")
                                          .arg(h.csize)
                                          .arg(e.csize));
    return central;
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
    // Text cut at a header inside it goes on there: what follows is not this entry's.
    return qMax(dispatchEntry(h, end), e.headerOffset + 1);
}

qint64 ArchiveWalker::grownStoreEnd(const LocalHeader &h, EntryRole role, qint64 end)
{
    // A size that ends at a header is the store's; one that ends where only a record points
    // (its offset from before the growth) may not be.
    if (end >= 0 && m_reader->u32At(end) == kLocalHeaderSig)
        return -1;
    static const char *const closes[] = {"</contacts>", "</appointments>", "</tasks>", "</notes>"};
    const int k = role == EntryRole::Contacts ? 0
        : role == EntryRole::Calendar         ? 1
        : role == EntryRole::Tasks            ? 2
        : role == EntryRole::Notes            ? 3
                                              : -1;
    if (k < 0 || h.method != 0 || h.usize < 16 || h.usize > m_limit - h.dataOffset)
        return -1;
    const int length = int(strlen(closes[k]));
    const qint64 stated = h.dataOffset + h.usize;
    // Growth only moves the close tag on; the next header bounds the text.
    const qint64 stop = qMin(nextSignature(stated - length), m_limit);
    const qint64 close = m_reader->find(closes[k], length, stated - length, stop);
    return close >= 0 && close + length > stated ? close + length : -1;
}

bool ArchiveWalker::findStoredData(const LocalHeader &h, LocalHeader *moved)
{
    if (h.method != 0 || h.crc == 0)
        return false;
    // A name that lost bytes takes as many of the extra (its ZIP64 record starts with a control
    // byte): the name ends there, and the record stands behind it.
    int own = 0;
    while (own < h.name.size() && uchar(h.name[own]) >= 0x20)
        ++own;
    const qint64 nameEnd = h.nameOffset + (own < h.name.size() ? own : h.nameLength);
    // Bytes lost from or put into the name's or extra's length move the data: it is found ending
    // at a record with its CRC-32.
    const auto tryAt = [&](qint64 data, qint64 size) {
        bool verified = false;
        if (size < 0 || data < nameEnd || data > m_limit || size > m_limit - data)
            return false;
        const qint64 d = m_central->dataEndingAtRecord(data, size, h.crc, nameEnd, *m_reader, &verified);
        // Ending at a record is enough only where the header placed the data.
        if (!verified && d == data && (data != h.dataOffset || size != h.csize))
            verified = m_central->searchedCrcMatches(data, size, h.crc, *m_reader);
        if (verified) {
            moved->dataOffset = d;
            moved->csize = moved->usize = size;
        }
        return verified;
    };
    // Data that ends at a record where its header says is taken as it stands, unread.
    const bool sound = h.csize == h.usize && h.csize <= m_limit - h.dataOffset;
    if (sound && endsAtRecord(h.dataOffset + h.csize))
        return false;
    // A stored entry's two sizes are one: where bytes lost from or put into the ZIP64 record made
    // them differ, the other is tried too; where neither holds, the record is looked for.
    const bool found = tryAt(h.dataOffset, h.csize) || (h.usize != h.csize && tryAt(h.dataOffset, h.usize))
        || sizeInDamagedExtra(nameEnd, tryAt);
    const bool zip64Tag = h.name.size() == own + 1 && h.name[own] == '\x01';
    if (found && own < h.name.size() && (zip64Tag || moved->dataOffset <= h.dataOffset - (h.nameLength - own))) {
        moved->name.truncate(own);
        moved->nameLength = quint16(own);
        moved->messageName = h.messageName || NameHeldMessage(moved->name);
    }
    if (found && moved->dataOffset > h.dataOffset)
        restoreStoreName(h, moved);
    if (found && moved->dataOffset != h.dataOffset)
        EntriesReadElsewhere << EntryLine(moved->name, h.pos,
                                          QStringLiteral(": its local header is damaged; its data was found at "
                                                         "%1 by its size and CRC-32")
                                              .arg(moved->dataOffset));
    return found;
}

template <typename TryAt>
bool ArchiveWalker::sizeInDamagedExtra(qint64 nameEnd, TryAt tryAt)
{
    // The ZIP64 record's sizes, where bytes lost from or put into the extra moved them: a size
    // behind which the data, or the record's other size and then the data, ends at a record.
    // Only the bytes up to the next header are looked at, at most as many as an extra holds.
    const qint64 reach = qMin(m_limit, nameEnd + 0xFFFF + 64);
    const qint64 header = m_central->searchedFind("PK\x03\x04", nameEnd, reach, *m_reader);
    const qint64 length = (header < 0 ? reach : header) - nameEnd;
    // The bytes are read once and charged to the searches' budget: a file of many damaged
    // headers (its line ends converted) costs a few times its size, no more.
    if (length < 16 || !m_central->spend(length))
        return false;
    QByteArray bytes(int(length), Qt::Uninitialized);
    if (m_reader->read(nameEnd, bytes.data(), length) != length)
        return false;
    const uchar *b = reinterpret_cast<const uchar *>(bytes.constData());
    int tries = 0;
    for (int q = 0; q + 8 <= length && tries < 4 && !bStopFlag; ++q) {
        // A size stands in the record's low bytes; its high bytes are zeros.
        if (b[q + 7] != 0 || b[q + 6] != 0)
            continue;
        const qint64 size = qFromLittleEndian<qint64>(b + q);
        const qint64 at = nameEnd + q;
        if (size <= 0 || size > m_limit - at - 8)
            continue;
        const bool both = q + 16 <= length && qFromLittleEndian<qint64>(b + q + 8) == size;
        const qint64 data = at + 8 + (both ? 8 : 0);
        if (size > m_limit - data
            || m_central->recordAt(data + size, *m_reader) != CentralDirectory::RecordHere::Signature)
            continue;
        ++tries;
        if (tryAt(data, size))
            return true;
    }
    return false;
}

qint64 ArchiveWalker::headerNear(qint64 data, qint64 end)
{
    // A signature wholly inside an entry's text ends it where the text is read; one that starts
    // one to three bytes before the size's end is only partly inside and is found here.
    const auto isRecord = [](quint32 word) { return word == kLocalHeaderSig || word == kCentralHeaderSig; };
    if (end > m_size - 4 || isRecord(m_reader->u32At(end)))
        return end;
    for (qint64 at = end - 1; at >= qMax(data, end - 3); --at) {
        if (isRecord(m_reader->u32At(at)))
            return at;
    }
    return end;
}

bool ArchiveWalker::endsAtRecord(qint64 end)
{
    return end == m_size || end == m_limit || m_central->recordAt(end, *m_reader) != CentralDirectory::RecordHere::None;
}

}  // namespace olm
