#include "scanner/CentralDirectory.h"

#include "platform/ArchiveSource.h"
#include "platform/WorkerGlobals.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/ScanGlobals.h"

#include <algorithm>

namespace olm {

namespace {

// The ZIP64 extra record's values, in their fixed order, for the fields the record marks.
void applyZip64Extra(BufferedArchiveReader &r, qint64 at, qint64 end, CentralEntry *e, bool uWanted, bool cWanted,
                     bool oWanted)
{
    while (at + 4 <= end) {
        const quint16 id = r.u16At(at);
        const quint16 len = r.u16At(at + 2);
        if (at + 4 + len > end)
            return;
        if (id == 0x0001) {
            qint64 p = at + 4;
            const qint64 stop = p + len;
            if (uWanted && p + 8 <= stop) {
                e->usize = r.i64At(p);
                p += 8;
            }
            if (cWanted && p + 8 <= stop) {
                e->csize = r.i64At(p);
                p += 8;
            }
            if (oWanted && p + 8 <= stop)
                e->headerOffset = r.i64At(p);
            return;
        }
        at += 4 + len;
    }
}

}  // namespace

void CentralEntry::settleName()
{
    const int nul = name.indexOf('\0');
    messageName = (nul >= 0 || !validUtf8(name)) && NameHeldMessage(name);
    if (nul >= 0)
        name.truncate(nul);
}

size_t CentralDirectory::firstAtOrAfter(qint64 pos) const
{
    const auto it = std::lower_bound(m_entries.begin(), m_entries.end(), pos,
                                     [](const CentralEntry &e, qint64 p) { return e.headerOffset < p; });
    return size_t(it - m_entries.begin());
}

bool CentralDirectory::read(ArchiveSource &source)
{
    m_entries.clear();
    m_start = -1;
    m_firstRecord = -1;
    m_complete = false;
    m_inOrder = false;
    m_shift = 0;
    m_shifted = 0;
    m_sizeDamaged = false;
    m_relocated = m_indexed = false;
    m_headers.clear();
    m_searched = 0;
    m_size = source.size();
    qint64 cdOffset = 0, cdSize = 0, count = 0, cdEnd = 0;
    if (!locate(source, &cdOffset, &cdSize, &count, &cdEnd))
        return false;
    m_start = cdOffset;
    parseRecords(source, cdOffset, cdSize, count);
    if (m_shift != 0 || m_sizeDamaged) {
        // A moved or damaged directory is taken only when it lists the archive's own folders: the
        // last attachment of an archive without a directory may be an archive that ends the file.
        const bool ours = std::any_of(m_entries.begin(), m_entries.end(), [](const CentralEntry &e) {
            return e.name.startsWith("Local/") || e.name.startsWith("Accounts/") || e.name == "Categories.xml";
        });
        if (!ours) {
            m_entries.clear();
            m_start = -1;
            return false;
        }
        if (m_sizeDamaged)
            EntriesReadElsewhere << QStringLiteral(
                                        "The central directory is damaged: its records from byte %1 do not fill the "
                                        "size its end record gives (bytes were lost or put in among them); the %2 "
                                        "records read there were used")
                                        .arg(cdOffset)
                                        .arg(m_entries.size());
        if (m_shifted > 0)
            EntriesReadElsewhere << QStringLiteral(
                                        "The central directory lies %1 bytes %2 where the end record places it: %3 of "
                                        "its records were read with their offsets moved by as much")
                                        .arg(qAbs(m_shift))
                                        .arg(m_shift > 0 ? QStringLiteral("after") : QStringLiteral("before"))
                                        .arg(m_shifted);
    }
    if (m_entries.empty()) {
        // Nothing read: the walk must not stop early at a directory that gave nothing.
        m_start = count == 0 ? cdOffset : -1;
        return found();
    }
    // The exporter writes the directory in entry order: sorting is needed only when it is not.
    const auto byOffset = [](const CentralEntry &a, const CentralEntry &b) { return a.headerOffset < b.headerOffset; };
    m_inOrder = std::is_sorted(m_entries.begin(), m_entries.end(), byOffset);
    if (!m_inOrder)
        std::stable_sort(m_entries.begin(), m_entries.end(), byOffset);
    // Two records may name one offset: only one of them can agree with the header there, and the
    // other is named in the report, so both stay.
    m_confirmedFrom = m_confirmedAt = 0;
    return true;
}

void CentralDirectory::parseRecords(ArchiveSource &source, qint64 cdOffset, qint64 cdSize, qint64 count)
{
    BufferedArchiveReader r(source);
    // Headers are read only in a moved archive, each apart: a small window serves.
    BufferedArchiveReader headers(source, 4096);
    const qint64 limit = cdOffset + cdSize;
    // A damaged count must not reserve gigabytes; a real one seldom passes a million.
    m_entries.reserve(size_t(qMin<qint64>(count, 1 << 20)));
    bool gaps = false;
    std::vector<bool> agreeing;  // in a moved archive: the record's header stands where it, or it moved, says
    // One damaged record must not end the directory's use: every record behind it still places
    // its entry. Past damage the read goes on at the next record signature; the record before
    // the damage no longer knows its successor, so it never places its data by it.
    const char sig[4] = {'P', 'K', 1, 2};
    const auto nextRecord = [&](qint64 from) {
        const qint64 found = r.find(sig, 4, from, limit);
        return found < 0 ? limit : found;
    };
    qint64 at = cdOffset;
    qint64 i = 0;
    // Every step moves on by at least one byte: the loop ends.
    while (at + kCentralRecordSize <= limit && i < count && !bStopFlag) {
        if (r.u32At(at) != kCentralHeaderSig) {
            gaps = true;
            if (!m_entries.empty())
                m_entries.back().gapAfter = true;
            at = nextRecord(at + 1);
            continue;
        }
        // Bytes put into the fixed fields (a CR before each LF among them) move what follows.
        int moved = 0;
        const auto next32 = [&](int by) {
            return at + kCentralRecordSize + by + r.u16At(at + 28 + by) + r.u16At(at + 30 + by) + r.u16At(at + 32 + by);
        };
        qint64 next = next32(0);
        bool gapAfter = false;
        if (next != limit && (next > limit || r.u32At(next) != kCentralHeaderSig)) {
            // Either this record's lengths or the next record are damaged. A signature inside
            // the lengths' reach says they are this record's: it is left out, unless its fields
            // stand a few bytes on, its lengths leading to that signature and its name to one of
            // the archive's folders.
            const qint64 found = nextRecord(at + 4);
            gaps = true;
            char head[9];
            while (found < next && ++moved <= 4) {
                if (next32(moved) == found && r.read(at + kCentralRecordSize + moved, head, 9) == 9
                    && archiveName(QByteArray::fromRawData(head, 9)))
                    next = found;
            }
            if (found < next) {
                if (!m_entries.empty())
                    m_entries.back().gapAfter = true;
                at = found;
                continue;
            }
            next = found;
            gapAfter = true;
        }
        const qint64 fields = at + moved;
        const quint16 n = r.u16At(fields + 28);
        const quint16 m = r.u16At(fields + 30);
        CentralEntry e;
        e.method = r.u16At(fields + 10);
        e.crc = r.u32At(fields + 16);
        const quint32 c32 = r.u32At(fields + 20);
        const quint32 u32 = r.u32At(fields + 24);
        const quint32 o32 = r.u32At(fields + 42);
        e.csize = c32;
        e.usize = u32;
        e.headerOffset = o32;
        applyZip64Extra(r, fields + kCentralRecordSize + n, fields + kCentralRecordSize + n + m, &e, u32 == kAll32,
                        c32 == kAll32, o32 == kAll32);
        e.gapAfter = gapAfter;
        e.nameLength = n;
        e.nameOffset = fields + kCentralRecordSize;
        e.name.resize(n);
        if (r.read(e.nameOffset, e.name.data(), n) != n)
            break;
        at = next;
        ++i;
        // In a moved archive a record's header stands where the record says, or moved as much
        // as the directory (every header behind the place where bytes were added or removed).
        // Only an offset inside the archive is moved: one from damage may be near the largest
        // number, where adding the shift would overflow.
        bool agrees = false;
        if (m_shift != 0 && e.headerOffset >= 0 && e.headerOffset <= cdOffset) {
            agrees = localAgrees(e, headers);
            CentralEntry moved = e;
            moved.headerOffset += m_shift;
            if (!agrees && moved.headerOffset >= 0 && localAgrees(moved, headers)) {
                e.headerOffset = moved.headerOffset;
                e.shifted = true;
                ++m_shifted;
                agrees = true;
            }
        }
        agreeing.push_back(agrees);
        // Local headers lie before the directory; a record pointing elsewhere is damage, kept
        // only to be named when no local header of its name is found.
        e.dropped = e.headerOffset < 0 || e.headerOffset > cdOffset - 30 - n || e.csize < 0 || e.usize < 0;
        if (m_entries.empty())
            m_firstRecord = fields - moved;
        m_entries.push_back(std::move(e));
    }
    if (m_shift != 0)
        moveDamagedAmongMoved(agreeing, cdOffset);
    m_complete = i == count && !gaps;
    if (!m_complete && !m_entries.empty())
        m_entries.back().gapAfter = true;
}

void CentralDirectory::moveDamagedAmongMoved(const std::vector<bool> &agreeing, qint64 cdOffset)
{
    // A damaged header behind the place where bytes were put in or lost moved as much as its
    // neighbours: its record is looked for moved where only that keeps the records in the order
    // of their headers, as the writer wrote them; so it is also sorted among its neighbours.
    const size_t n = m_entries.size();
    std::vector<qint64> after(n + 1, -1);  // the first header that agrees at or after each record
    for (size_t j = n; j-- > 0;)
        after[j] = agreeing[j] ? m_entries[j].headerOffset : after[j + 1];
    qint64 before = -1;
    for (size_t j = 0; j < n; ++j) {
        CentralEntry &e = m_entries[j];
        if (agreeing[j]) {
            before = e.headerOffset;
            continue;
        }
        // Only an offset inside the archive is moved: one from damage may be near the largest
        // number, where adding the shift would overflow.
        if (e.dropped || e.headerOffset < 0 || e.headerOffset > cdOffset)
            continue;
        const qint64 next = after[j + 1];
        const auto inOrder = [&](qint64 x) { return x > before && (next < 0 || x < next); };
        const qint64 moved = e.headerOffset + m_shift;
        if (!inOrder(e.headerOffset) && moved >= 0 && moved <= cdOffset - 30 - e.nameLength && inOrder(moved)) {
            e.headerOffset = moved;
            e.shifted = true;
        }
    }
}

bool CentralDirectory::localAgrees(const CentralEntry &e, BufferedArchiveReader &r) const
{
    const qint64 at = e.headerOffset;
    // A name length off by one with the record's whole name in place is the record's header
    // with its length damaged: the walk reads it with the record's length.
    if (r.u32At(at) != kLocalHeaderSig || qAbs(int(r.u16At(at + 26)) - int(e.nameLength)) > 1)
        return false;
    return e.nameLength == 0 || r.matchAt(at + 30, e.name.constData(), e.nameLength);
}

bool CentralDirectory::agrees(size_t i, BufferedArchiveReader &r)
{
    CentralEntry &e = m_entries[i];
    if (e.agreeing < 0) {
        e.agreeing = !e.dropped && localAgrees(e, r);
        // The first record that does not agree: every header from here on is looked for once.
        if (!e.agreeing && !m_relocated)
            relocateFrom(i, r);
    }
    return e.agreeing > 0;
}

qint64 CentralDirectory::nextConfirmed(qint64 pos, BufferedArchiveReader &r)
{
    // The walk asks at each entry in turn: the answer's index lies at or just after the last one.
    const size_t hint = qMin(m_confirmedAt, m_entries.size());
    size_t j = hint;
    while (j < m_entries.size() && j < hint + 2 && m_entries[j].headerOffset <= pos)
        ++j;
    if ((j < m_entries.size() && m_entries[j].headerOffset <= pos) || (j > 0 && m_entries[j - 1].headerOffset > pos))
        j = firstAtOrAfter(pos + 1);
    // Every entry from the last question's start up to its answer was found not to agree. The
    // stretch keeps its start, so a walk through thousands of records that disagree (every
    // header moved by a few bytes) does not scan it again at each step.
    if (j >= m_confirmedFrom && j <= m_confirmedAt)
        j = m_confirmedAt;
    else
        m_confirmedFrom = j;
    while (j < m_entries.size() && !agrees(j, r))
        ++j;
    m_confirmedAt = j;
    return j < m_entries.size() ? m_entries[j].headerOffset : (m_start >= 0 ? m_start : m_size);
}

bool CentralDirectory::startsAt(qint64 pos) const
{
    const size_t i = firstAtOrAfter(pos);
    return i < m_entries.size() && m_entries[i].headerOffset == pos && !m_entries[i].dropped;
}

void CentralDirectory::passed(size_t i)
{
    if (i < m_entries.size())
        QByteArray().swap(m_entries[i].name);
}

bool CentralDirectory::nextVerified(size_t i, BufferedArchiveReader &r)
{
    for (size_t j = i + 1; j < m_entries.size(); ++j) {
        if (!m_entries[j].dropped)
            return agrees(j, r);
    }
    return true;  // the directory itself, whose place the end records confirmed
}

qint64 CentralDirectory::nextStart(size_t i) const
{
    for (size_t j = i + 1; j < m_entries.size(); ++j) {
        if (!m_entries[j].dropped)
            return m_entries[j].headerOffset;
    }
    return m_start;
}

bool CentralDirectory::insideResolvedBefore(size_t i) const
{
    // A header found again after damage may lie inside the data of an entry placed before it
    // (an attached archive's header): that data is the other entry's, never an entry of ours.
    // The look back is bounded, so placing every record stays linear.
    const qint64 at = m_entries[i].headerOffset;
    for (size_t k = i, steps = 0; k > 0 && steps < 64; --k, ++steps) {
        const CentralEntry &p = m_entries[k - 1];
        if (p.dropped || p.dataOffset < 0)
            continue;
        return at - p.dataOffset < p.csize;
    }
    return false;
}

qint64 CentralDirectory::dataEndingAtRecord(qint64 data, qint64 csize, quint32 crc, qint64 nameEnd,
                                            BufferedArchiveReader &r, bool *verified) const
{
    if (verified)
        *verified = false;
    // Entries stand back to back: data that ends at a record (or the directory) is where its
    // header says. Else bytes lost from or put into the header's extra moved it: the data ending
    // at the nearest record with the entry's CRC-32 is taken, when there is one.
    if (csize < 0 || data < 0 || csize > m_size - data || recordAt(data + csize, r) == RecordHere::Signature
        || crc == 0)
        return data;
    if (searchedCrcMatches(data, csize, crc, r)) {
        if (verified)
            *verified = true;
        return data;
    }
    const qint64 end = data + csize;
    const char kLocalSig[4] = {'P', 'K', 3, 4};
    for (qint64 step = 1; step <= 256; ++step) {
        for (qint64 at : {end - step, end + step}) {
            const qint64 d = at - csize;
            // Never past a header: data of the same bytes behind it is another copy's.
            if (d >= nameEnd && at <= m_size && recordAt(at, r) == RecordHere::Signature
                && (d <= data || r.find(kLocalSig, 4, nameEnd, d + 3) < 0) && searchedCrcMatches(d, csize, crc, r)) {
                if (verified)
                    *verified = true;
                return d;
            }
        }
    }
    // More bytes put into the extra than those steps reach: the data ends at one of the next few
    // signatures, with no header between the name and its start.
    const qint64 firstHeader = searchedFind(kLocalSig, nameEnd, m_size, r);
    const qint64 lastEnd = firstHeader < 0 || firstHeader > m_size - csize ? m_size : firstHeader + csize;
    // A zip of its own starts at that header.
    if (firstHeader > data + 256 && lastEnd < m_size && recordAt(lastEnd, r) == RecordHere::Signature
        && searchedCrcMatches(firstHeader, csize, crc, r)) {
        if (verified)
            *verified = true;
        return firstHeader;
    }
    qint64 at = end + 257;
    for (int tries = 0; tries < 4 && at <= lastEnd; ++tries, ++at) {
        const qint64 local = searchedFind(kLocalSig, at, qMin(m_size, lastEnd + 4), r);
        const qint64 central = searchedFind("PK\x01\x02", at, local < 0 ? qMin(m_size, lastEnd + 4) : local, r);
        at = central >= 0 ? central : local;
        if (at < 0)
            break;
        if (searchedCrcMatches(at - csize, csize, crc, r)) {
            if (verified)
                *verified = true;
            return at - csize;
        }
    }
    return data;
}

bool CentralDirectory::resolve(size_t i, BufferedArchiveReader &r)
{
    if (i >= m_entries.size() || m_entries[i].dropped)
        return false;
    CentralEntry &e = m_entries[i];
    if (e.dataOffset >= 0)
        return true;
    const qint64 at = e.headerOffset;
    const qint64 nameEnd = at + 30 + e.nameLength;
    // The signature first: the read window then starts at the header and holds the rest.
    const bool signature = r.u32At(at) == kLocalHeaderSig;
    const bool nameLength = r.u16At(at + 26) == e.nameLength;
    const quint16 extra = r.u16At(at + 28);
    const bool nameMatches = e.nameLength == 0 || r.matchAt(at + 30, e.name.constData(), e.nameLength);
    if (nameMatches)
        e.nameOffset = at + 30;
    e.localIntact = signature && nameLength && nameMatches;
    qint64 data = -1;
    if (e.localIntact) {
        data = nameEnd + extra;
        // A header inside this data is an embedded archive's, or a damaged record, unless it
        // agrees with its own entry: then this entry's size is the damaged one. Compared as a
        // distance: a 64-bit size may be near the largest value, and the sum would overflow.
        for (size_t j = i + 1; j < m_entries.size() && m_entries[j].headerOffset - data < e.csize; ++j) {
            if (localAgrees(m_entries[j], r)) {
                // Or bytes lost from this header's extra: its data then ends at that header.
                const qint64 d = m_entries[j].headerOffset - e.csize;
                data = e.method == 0 && d >= nameEnd && d < data && searchedCrcMatches(d, e.csize, e.crc, r) ? d : -1;
                break;
            }
            m_entries[j].dropped = true;
        }
        if (data >= 0 && e.method == 0) {
            bool verified = false;
            const qint64 found = dataEndingAtRecord(data, e.csize, e.crc, nameEnd, r, &verified);
            // More bytes put into the extra than that search reaches: the data ends where the
            // next record that agrees begins, one CRC-32 over its size tells.
            const qint64 atNext = nextStart(i) - e.csize;
            data = verified || found != data || atNext <= data || !nextVerified(i, r)
                    || !searchedCrcMatches(atNext, e.csize, e.crc, r)
                ? found
                : atNext;
        }
    } else if (successorKnown(i)) {
        // The exporter writes entries back to back: the data ends where the next record begins.
        // Only trusted when no record is missing between this one and the next (in a directory
        // in entry order, none lost next to it in the directory), and when that next record is
        // where its own record says or the bytes have this entry's CRC-32: a directory whose
        // offsets are all shifted would otherwise place every entry on other entries' bytes.
        const qint64 d = nextStart(i) - e.csize;
        if (d >= nameEnd && d - nameEnd <= 0xFFFF && (nextVerified(i, r) || searchedCrcMatches(d, e.csize, e.crc, r)))
            data = d;
    }
    const qint64 next = nextStart(i);
    if (data < 0 || data > next || e.csize > next - data || insideResolvedBefore(i))
        return false;
    e.dataOffset = data;
    e.settleName();
    return true;
}

}  // namespace olm
