// Records whose offsets no longer point at their local headers. Bytes lost or added inside one
// entry, or inside a header, move every header behind it; each record still names its entry's
// name, sizes and CRC-32, so its header is found by name wherever it now stands, and taken only
// where its CRC-32 agrees. Run once, and only when some record does not agree: an intact
// archive costs nothing more.

#include "scanner/CentralDirectory.h"

#include "platform/WorkerGlobals.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/ScanGlobals.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <string_view>

namespace olm {

namespace {

// a + d kept inside [0, the largest offset]: a directory's offsets and the shifts between them
// are archive bytes, and their sum must not wrap.
qint64 shifted(qint64 a, qint64 d)
{
    if (d > 0 && a > std::numeric_limits<qint64>::max() - d)
        return std::numeric_limits<qint64>::max();
    return qMax<qint64>(0, a < 0 && d < 0 && a < std::numeric_limits<qint64>::min() - d ? 0 : a + d);
}

quint64 hashOf(const char *p, int n)
{
    return std::hash<std::string_view>()(std::string_view(p, size_t(n)));
}

// Where the data of e, whose header agrees, ends (-1 when its sizes are unknown), and whether its
// CRC-32 verified that place.
std::pair<qint64, bool> dataEnd(const CentralEntry &e, BufferedArchiveReader &r)
{
    if (e.csize < 0)
        return {-1, false};
    if (e.dataOffset >= 0)
        return {shifted(e.dataOffset, e.csize), e.placed};
    const qint64 data = shifted(e.headerOffset, 30 + qint64(e.nameLength) + r.u16At(e.headerOffset + 28));
    return {shifted(data, e.csize), false};
}

// How far from the place the record gives (moved as the headers before it) a header whose own
// bytes were damaged is looked for: bytes put into or lost from one header are a few.
constexpr qint64 kDamagedHeaderReach = 4096;
// How far behind its name an entry's data may start: its extra, and bytes put into it.
constexpr qint64 kExtraReach = 256;
// Headers of a record's name looked at to find it: an archive holds one per entry name, a few
// more where archives mailed as attachments hold the same names.
constexpr int kHeadersOfOneName = 64;

// What the searches for damaged data may check by CRC-32 together: a few times the file. Each
// search reads at most the bytes its record claims, and a record that cannot be placed claims
// them again at every place tried: thousands of them cost the file thousands of times over.
constexpr qint64 kSearchedFiles = 4;
constexpr qint64 kSearchedAtLeast = qint64(1) << 20;

}  // namespace

CentralDirectory::RecordHere CentralDirectory::recordAt(qint64 pos, BufferedArchiveReader &r) const
{
    if (pos == m_start || pos == m_size)
        return RecordHere::Signature;
    switch (r.u32At(pos)) {
    case kLocalHeaderSig:
    case kCentralHeaderSig:
    case kDescriptorSig:
    case 0x06064B50:  // ZIP64 end of central directory
    case 0x07064B50:  // ZIP64 locator
    case kEndRecordSig:
        return RecordHere::Signature;
    default:
        return startsAt(pos) ? RecordHere::Pointed : RecordHere::None;
    }
}

qint64 CentralDirectory::searchBudget() const
{
    return qMax(kSearchedAtLeast,
                m_size > std::numeric_limits<qint64>::max() / kSearchedFiles ? std::numeric_limits<qint64>::max()
                                                                             : kSearchedFiles * m_size);
}

bool CentralDirectory::searchedCrcMatches(qint64 pos, qint64 len, quint32 crc, BufferedArchiveReader &r) const
{
    if (len < 0 || len > searchBudget() - m_searched)
        return false;
    m_searched += len;
    return r.crcMatches(pos, len, crc);
}

bool CentralDirectory::spend(qint64 bytes) const
{
    if (bytes < 0 || bytes > searchBudget() - m_searched)
        return false;
    m_searched += bytes;
    return true;
}

qint64 CentralDirectory::searchedFind(const char *needle, qint64 from, qint64 to, BufferedArchiveReader &r) const
{
    if (m_searched >= searchBudget())
        return -1;
    const qint64 at = r.find(needle, 4, from, to);
    m_searched += (at < 0 ? to : at) - from;
    return at;
}

void CentralDirectory::indexHeaders(BufferedArchiveReader &r)
{
    m_indexed = true;
    const qint64 end = m_start >= 0 ? m_start : m_size;
    QByteArray name;
    const char sig[4] = {'P', 'K', 3, 4};
    for (qint64 at = r.find(sig, 4, 0, end); at >= 0 && !bStopFlag; at = r.find(sig, 4, at + 1, end)) {
        const quint16 n = r.u16At(at + 26);
        if (n == 0 || at + 30 + n > end)
            continue;
        name.resize(n);
        if (r.read(at + 30, name.data(), n) == n)
            m_headers.emplace_back(hashOf(name.constData(), n), at);
    }
    std::sort(m_headers.begin(), m_headers.end());
}

bool CentralDirectory::ownNames()
{
    if (m_archiveNames < 0)
        m_archiveNames =
            std::any_of(m_entries.begin(), m_entries.end(), [](const CentralEntry &e) { return archiveName(e.name); });
    return m_archiveNames > 0;
}

qint64 CentralDirectory::findHeader(const CentralEntry &e, qint64 lo, qint64 expected, BufferedArchiveReader &r)
{
    if (!m_indexed)
        indexHeaders(r);
    const quint64 key = hashOf(e.name.constData(), e.nameLength);
    // Headers of one name come in file order: from the first after lo, nearer expected until one
    // lies past it. Only so many are looked at: thousands of headers of one name (an archive made
    // to be slow) would cost each record all of them.
    auto it = std::lower_bound(m_headers.begin(), m_headers.end(), std::make_pair(key, lo + 1));
    qint64 best = -1;
    for (int looked = 0; it != m_headers.end() && it->first == key && looked < kHeadersOfOneName; ++it, ++looked) {
        const qint64 at = it->second;
        if (best >= 0 && best > expected)
            break;
        if (at <= lo || at > m_start - 30 - e.nameLength || r.u16At(at + 26) != e.nameLength
            || !r.matchAt(at + 30, e.name.constData(), e.nameLength))
            continue;
        // A header of the name with another CRC-32 is another entry's: one in an archive mailed
        // as an attachment, say.
        const quint32 crc = r.u32At(at + 14);
        if (crc != e.crc && crc != 0 && e.crc != 0)
            continue;
        // Without a CRC-32 to tell them apart (folder entries), only a header near its place.
        if ((crc == 0 || e.crc == 0) && qAbs(at - expected) > kDamagedHeaderReach)
            continue;
        if (best < 0 || qAbs(at - expected) < qAbs(best - expected))
            best = at;
    }
    return best;
}

bool CentralDirectory::placeByData(CentralEntry &e, const Before &before, qint64 expected, qint64 next,
                                   BufferedArchiveReader &r)
{
    const qint64 lo = before.header;
    if (e.crc == 0 || e.method != 0 || e.nameLength == 0)
        return false;
    const qint64 from = shifted(expected, -kDamagedHeaderReach);
    const qint64 to = qMin(m_start, shifted(expected, kDamagedHeaderReach + 30 + e.nameLength));
    int tries = 0;
    bool inHeader = false;
    for (qint64 n = r.find(e.name.constData(), e.nameLength, from, to); n >= 0 && tries < 8;
         n = r.find(e.name.constData(), e.nameLength, n + 1, to), ++tries) {
        inHeader = inHeader || (n >= 30 && r.u32At(n - 30) == kLocalHeaderSig);
        // A name before the previous header is another entry's: its place still says the name
        // stands here, so the data is not looked for without it.
        if (n <= lo + 30)
            continue;
        const qint64 nameEnd = n + e.nameLength;
        // The data starts behind the extra its header gives, or behind the ZIP64 record standing
        // there (its length lost with the fields), or ends where the next header starts.
        const qint64 given = nameEnd + r.u16At(n - 2);
        const qint64 zip64 = r.u16At(nameEnd) == 0x0001 ? nameEnd + 4 + r.u16At(nameEnd + 2) : -1;
        const qint64 starts[3] = {given, zip64 != given ? zip64 : -1, next >= 0 ? next - e.csize : -1};
        for (qint64 d : starts) {
            if (d >= nameEnd && d - nameEnd <= kExtraReach && (next < 0 || e.csize <= next - d)
                && place(e, before, d, n, r))
                return true;
        }
    }
    // Bytes inside the name itself, or a name found only inside a text (a message lists its
    // attachments by their entries' names): the data still ends where the next header starts.
    return !inHeader && next >= 0 && place(e, before, next - e.csize, -1, r, expected);
}

bool CentralDirectory::place(CentralEntry &e, const Before &before, qint64 d, qint64 name, BufferedArchiveReader &r,
                             qint64 expected)
{
    const qint64 lo = before.header;
    // The header's bytes end before its name, or without the name before its data.
    const qint64 room = name >= 0 ? name : d;
    // A name or data inside the verified data before it is that entry's bytes, not this one's.
    if (d <= lo + 30 || (before.verified && room < before.dataEnd) || e.csize > m_start - d
        || !searchedCrcMatches(d, e.csize, e.crc, r))
        return false;
    const qint64 last = name >= 0 ? name - 30 : d - 30 - e.nameLength;
    const qint64 reach = name >= 0 ? 16 : 0x1FF;
    qint64 header = -1;
    // Data that ends where the next header starts, its CRC-32 verified, is bounded on both
    // sides; so is a header whose signature still stands where the data before ends: either
    // starts there, however many bytes it gained.
    if (before.adjacent && before.dataEnd > lo && before.dataEnd <= room - 4
        && ((name < 0 && expected >= 0) || r.u32At(before.dataEnd) == kLocalHeaderSig
            || before.dataEnd >= last - reach)) {
        // Entries follow each other: the header starts where the data before it ends, whatever
        // its own bytes lost or gained, and the walk meets it there.
        header = before.dataEnd;
    } else {
        // Else at its signature when the bytes before the name or data still hold it: before the
        // name, one that lost bytes of its fixed part too. Without the name, a signature that
        // leaves room for the fixed part and the name comes first (one closer may be bytes of
        // the name), and one far before the data must still give the name's length, or it may
        // be a header inside the previous entry's data; then the place its record gives, moved
        // as the headers before it; last a closer signature, a header that lost bytes.
        header = name >= 0 ? last : (expected <= last && last - expected <= reach ? expected : -1);
        qint64 closer = -1;
        const qint64 limit = name >= 0 ? name : d;
        const char sig[4] = {'P', 'K', 3, 4};
        for (qint64 s = r.find(sig, 4, qMax(lo + 1, last - reach), limit); s >= 0; s = r.find(sig, 4, s + 1, limit)) {
            if (name < 0 && s > last)
                closer = closer < 0 ? s : closer;
            else if (name >= 0 || s >= last - 64 || r.u16At(s + 26) == e.nameLength)
                header = s;
        }
        if (header < 0)
            header = closer;
        // Data that verifies and ends where the next header starts, its own header lost with the
        // bytes behind the entry before, and no header of any entry between: the entry is placed
        // at its data, where the walk meets it past the records whose headers were lost too. So
        // it is where the loss took the end of the entry before too: that one's size, which no
        // longer verifies, runs into this data.
        const char any[4] = {'P', 'K', 3, 4};
        if (header < 0 && name < 0 && expected >= 0 && before.dataEnd > lo
            && (before.dataEnd <= d ? r.find(any, 4, before.dataEnd, d) < 0 : !before.verified)) {
            header = d;
            dropRecordsInto(e, qMin(before.dataEnd, d), d + e.csize);
        }
    }
    // Never inside the data before it: a header that lost bytes of its fixed part starts there,
    // one that lost all of them where its name starts.
    if (header >= 0 && header < before.dataEnd && before.dataEnd <= room)
        header = before.dataEnd;
    if (header <= lo || (before.verified && header < before.dataEnd))
        return false;
    e.movedFrom = e.headerOffset;
    e.headerOffset = header;
    e.dataOffset = d;
    // Stored data whose CRC-32 verified csize bytes is that long, whatever the damaged record's
    // other size says: a negative or larger one would be copied as the entry's.
    e.usize = e.csize;
    if (name >= 0)
        e.nameOffset = name;
    else
        takeHeaderName(e, header, d, r);
    e.placed = true;
    e.agreeing = 1;
    e.dropped = false;
    e.localIntact = false;
    e.settleName();
    dropRecordsInto(e, d, d + e.csize, true);
    return true;
}

bool CentralDirectory::sharesStem(size_t i, const QByteArray &name) const
{
    // A message's attachments share its id up to their numbers, and messages their stem: a
    // record beside it that holds the same shows which of two names a damaged byte changed.
    const int underscore = name.lastIndexOf('_');
    if (underscore <= name.lastIndexOf('/') + 1)
        return false;
    const QByteArray stem = name.left(underscore + 1);
    for (size_t j : {i - 2, i - 1, i + 1, i + 2}) {
        if (j < m_entries.size() && m_entries[j].name.startsWith(stem))
            return true;
    }
    return false;
}

bool CentralDirectory::fitsFolder(size_t i, const QByteArray &name) const
{
    // An entry stands among its folder's entries: the records beside it share its folder.
    const int slash = name.lastIndexOf('/');
    if (slash <= 0)
        return false;
    const QByteArray folder = name.left(slash + 1);
    for (size_t j : {i - 1, i + 1}) {
        if (j < m_entries.size() && m_entries[j].name.startsWith(folder))
            return true;
    }
    return false;
}

void CentralDirectory::takeHeaderName(CentralEntry &e, qint64 header, qint64 d, BufferedArchiveReader &r)
{
    // The record's name stands nowhere near: its own bytes may be the damaged ones. A header
    // whose fixed fields agree with the record and whose name and extra end where the verified
    // data starts is whole; its name is taken where it fits the archive and the record's does not.
    if (header < 0 || r.u32At(header) != kLocalHeaderSig || r.u16At(header + 26) != e.nameLength
        || r.u32At(header + 14) != e.crc || header + 30 + e.nameLength + r.u16At(header + 28) != d)
        return;
    // A size of all ones is in the header's ZIP64 extra.
    const quint32 size = r.u32At(header + 18);
    if (size != 0xFFFFFFFFu && size != quint32(e.csize))
        return;
    QByteArray own(e.nameLength, Qt::Uninitialized);
    if (r.read(header + 30, own.data(), own.size()) != own.size() || own == e.name || own.contains('\0')
        || !validUtf8(own))
        return;
    const size_t i = size_t(&e - m_entries.data());
    const bool ownFits = fitsFolder(i, own), recordFits = fitsFolder(i, e.name);
    const bool ownMessage = classifyEntry(own) == EntryRole::Message;
    // A record's name that is no UTF-8 had a byte damaged: the writer writes none such; nor did
    // one the records beside it do not share a stem with where the header's does.
    const bool ownStem = sharesStem(i, own) && !sharesStem(i, e.name);
    // An attachment's neighbours are its message and the next one, of the folder above its own:
    // where the record's name holds bytes no name holds, an archive name in the header is taken.
    const bool recordDamaged = !validUtf8(e.name) || hasControlByte(e.name);
    if ((!ownFits && !(recordDamaged && archiveName(own)))
        || (recordFits && !ownStem && !recordDamaged && (!ownMessage || classifyEntry(e.name) == EntryRole::Message)))
        return;
    EntriesReadElsewhere << EntryLine(own, header,
                                      QStringLiteral(": the central directory names it \"%1\", a name that stands "
                                                     "nowhere else; its local header agrees in all else and its data's "
                                                     "CRC-32 verifies: read with the local header's name")
                                          .arg(ReportName(e.name)));
    e.name = own;
    e.nameOffset = header + 30;
    e.renamed = true;
}

void CentralDirectory::dropRecordsInto(const CentralEntry &e, qint64 from, qint64 to, bool any)
{
    // Folder entries lost with it whose records still point into its data place nothing, nor
    // (any) do records of entries lost before it that point into its verified data. Records
    // follow their headers' order, so they stand next to it in the list: looking further would
    // cost the whole list for every entry placed so.
    const size_t i = size_t(&e - m_entries.data());
    const auto inside = [&](size_t j) { return m_entries[j].headerOffset >= from && m_entries[j].headerOffset < to; };
    const auto drop = [&](size_t j) {
        CentralEntry &other = m_entries[j];
        if ((any || other.csize == 0) && other.agreeing <= 0 && !other.placed)
            other.dropped = true;
    };
    for (size_t j = i; j-- > 0 && inside(j);)
        drop(j);
    for (size_t j = i + 1; j < m_entries.size() && inside(j); ++j)
        drop(j);
}

void CentralDirectory::relocateFrom(size_t i, BufferedArchiveReader &r)
{
    m_relocated = true;
    if (m_start < 0)
        return;
    const qint64 first = i > 0 ? m_entries[i - 1].headerOffset : -1;
    // The shift of the last header found moved: every header behind it usually moved as much.
    std::vector<qint64> expected(m_entries.size() - i);
    qint64 last = first;
    qint64 delta = i > 0 && m_entries[i - 1].shifted ? m_shift : 0;
    for (size_t j = i; j < m_entries.size() && !bStopFlag; ++j) {
        CentralEntry &e = m_entries[j];
        expected[j - i] = e.shifted ? e.headerOffset : shifted(e.headerOffset, delta);
        if (e.csize < 0 || e.usize < 0 || e.name.size() != e.nameLength)
            continue;
        if (!e.dropped && e.headerOffset > last && localAgrees(e, r)) {
            e.agreeing = 1;
            last = e.headerOffset;
            delta = e.shifted ? m_shift : 0;
            continue;
        }
        qint64 at = -1;
        CentralEntry moved = e;
        moved.headerOffset = shifted(e.headerOffset, delta);
        if (delta != 0 && !e.shifted && moved.headerOffset > last && moved.headerOffset <= m_start - 30 - e.nameLength
            && localAgrees(moved, r))
            at = moved.headerOffset;
        // A record of a name outside this archive's folders beside records inside them is a
        // copy of a zip's own directory (an attachment's) put among them: its header of that name
        // is that zip's part, inside the attachment, never this archive's entry.
        if (at < 0 && e.nameLength > 0
            && (!ownNames() || archiveName(e.name) || classifyEntry(e.name) == EntryRole::Categories))
            at = findHeader(e, last, expected[j - i], r);
        if (at < 0)
            continue;
        e.movedFrom = e.headerOffset;
        delta = at - e.headerOffset;
        e.headerOffset = at;
        e.agreeing = 1;
        e.dropped = false;
        last = at;
    }
    // Headers whose own bytes were damaged: found by their names' bytes and their data's CRC-32.
    const auto after = [&r](const CentralEntry &e) {
        const auto end = dataEnd(e, r);
        return Before{e.headerOffset, end.first, end.second};
    };
    Before before{first, -1, false};
    size_t beforeIndex = i - 1;  // the entry before describes; i - 1 wraps when i is 0
    if (i > 0 && !m_entries[i - 1].dropped && (m_entries[i - 1].agreeing > 0 || m_entries[i - 1].dataOffset >= 0))
        before = after(m_entries[i - 1]);
    else
        beforeIndex = m_entries.size();
    // Only the entry right before ends where the next one's header starts: one further back
    // may have unplaced entries between them, and only bounds it.
    const auto from = [&](size_t j) {
        Before b = before;
        b.adjacent = beforeIndex + 1 == j;
        return b;
    };
    const auto placeable = [this](size_t j) {
        const CentralEntry &e = m_entries[j];
        return e.agreeing <= 0 && e.csize >= 0 && e.name.size() == e.nameLength;
    };
    // Past a few records whose entries were lost with the loss that took this header: their
    // records still stand between, out of place.
    const auto nextHeader = [this](size_t j) -> qint64 {
        for (size_t k = j + 1; k < m_entries.size() && k <= j + 4; ++k) {
            if (m_entries[k].agreeing > 0)
                return m_entries[k].headerOffset;
        }
        return j + 1 == m_entries.size() ? m_start : -1;
    };
    std::vector<Before> befores(m_entries.size() - i);
    bool unplaced = false;
    for (size_t j = i; j < m_entries.size() && !bStopFlag; ++j) {
        CentralEntry &e = m_entries[j];
        befores[j - i] = from(j);
        if (e.agreeing > 0) {
            before = after(e);
            beforeIndex = j;
            continue;
        }
        if (!placeable(j))
            continue;
        if (placeByData(e, befores[j - i], expected[j - i], nextHeader(j), r)) {
            before = after(e);
            beforeIndex = j;
        } else {
            unplaced = true;
        }
    }
    // One whose name is damaged too is placed by where the next header starts: when that header
    // was placed only after it, back to front, so a run of damaged headers is placed in one pass.
    for (size_t j = m_entries.size(); unplaced && j > i && !bStopFlag; --j) {
        if (placeable(j - 1) && nextHeader(j - 1) >= 0)
            placeByData(m_entries[j - 1], befores[j - 1 - i], expected[j - 1 - i], nextHeader(j - 1), r);
    }
    const auto byOffset = [](const CentralEntry &a, const CentralEntry &b) { return a.headerOffset < b.headerOffset; };
    if (!std::is_sorted(m_entries.begin() + qint64(i), m_entries.end(), byOffset))
        std::stable_sort(m_entries.begin() + qint64(i), m_entries.end(), byOffset);
    // Only a record moved to a place before the one before it would leave the whole list unsorted:
    // such a place is never taken (each is looked for after the previous record's header).
}

}  // namespace olm
