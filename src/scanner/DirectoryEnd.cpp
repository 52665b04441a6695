#include "scanner/CentralDirectory.h"

#include "platform/ArchiveSource.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/BufferedArchiveReader.h"

#include <algorithm>
#include <vector>

// Where the central directory lies: the end records at the file's end, and where they place it
// when bytes were lost or added before it.

namespace olm {

namespace {

constexpr quint32 kZip64EndSig = 0x06064B50;
constexpr quint32 kZip64LocatorSig = 0x07064B50;
constexpr qint64 kZip64EndSize = 56;
constexpr qint64 kLocatorSize = 20;

// The last end record in the tail a comment may follow it in; -1 when none.
qint64 findEndRecord(ArchiveSource &source, qint64 size)
{
    if (size < kEndRecordSize)
        return -1;
    const qint64 tail = qMin(size, kEndRecordSize + 0xFFFF);
    QByteArray bytes(int(tail), Qt::Uninitialized);
    if (readFully(source, size - tail, bytes.data(), tail) != tail)
        return -1;
    const int at = bytes.lastIndexOf("PK\x05\x06", int(tail - kEndRecordSize));
    return at < 0 ? -1 : size - tail + at;
}

// Where the file's bytes end before a run of NULs that ends it: a copy padded to a disk's or a
// transfer's block size, past the reach of the end record's search.
qint64 withoutTrailingZeros(ArchiveSource &source, qint64 size)
{
    char block[4096];
    qint64 end = size;
    while (end > 0) {
        const qint64 n = qMin<qint64>(end, sizeof block);
        if (readFully(source, end - n, block, n) != n)
            return size;
        qint64 i = n;
        while (i > 0 && block[i - 1] == 0)
            --i;
        end -= n - i;
        if (i > 0)
            break;
    }
    return end;
}

bool entryDataStartsAt(BufferedArchiveReader &r, qint64 origin)
{
    // An archive mailed as an attachment begins where its entry's data does: a local header
    // whose name and extra field end right there. A stub before an archive holds none, and an
    // archive starts with its first entry's header: bytes put in as many as an entry's name
    // and extra leave text there.
    if (origin <= 30 || r.u32At(origin) != kLocalHeaderSig)
        return false;
    const qint64 from = qMax<qint64>(0, origin - 30 - 2 * 0xFFFF);
    const char sig[4] = {'P', 'K', 3, 4};
    for (qint64 at = r.find(sig, 4, from, origin); at >= 0 && at < origin; at = r.find(sig, 4, at + 1, origin)) {
        if (at + 30 + r.u16At(at + 26) + r.u16At(at + 28) == origin)
            return true;
    }
    return false;
}

bool entryHeaderFrom(BufferedArchiveReader &r, qint64 from, qint64 size)
{
    // Entries after the last end record: it ends a small archive before this one (a stub that
    // is a zip of its own), and this archive's own end records are lost. A header counts only
    // with a plain name and a method entries have: not a stray signature in a comment or a run.
    const char sig[4] = {'P', 'K', 3, 4};
    for (qint64 at = r.find(sig, 4, from, size); at >= 0; at = r.find(sig, 4, at + 1, size)) {
        const quint16 method = r.u16At(at + 8);
        const quint16 n = r.u16At(at + 26);
        if ((method != 0 && method != 8) || n == 0 || at + 30 + n > size)
            continue;
        QByteArray name(n, Qt::Uninitialized);
        if (r.read(at + 30, name.data(), n) == n
            && std::none_of(name.begin(), name.end(), [](char c) { return uchar(c) < 0x20; }))
            return true;
    }
    return false;
}

// Whether count records, each read by its own lengths, fill the bytes from first to end exactly.
bool recordsFill(BufferedArchiveReader &r, qint64 first, qint64 end, qint64 count)
{
    qint64 p = first;
    for (qint64 i = 0; i < count; ++i) {
        if (p > end - kCentralRecordSize || r.u32At(p) != kCentralHeaderSig)
            return false;
        p += kCentralRecordSize + r.u16At(p + 28) + r.u16At(p + 30) + r.u16At(p + 32);
    }
    return p == end;
}

// Whether the records from first, each read by its own lengths and past damaged ones to the
// next record, end exactly at end. Damage is bounded: so many resumes and no more.
bool recordsReachEnd(BufferedArchiveReader &r, qint64 first, qint64 end)
{
    constexpr int kResumes = 8;
    const char sig[4] = {'P', 'K', 1, 2};
    int resumes = 0;
    qint64 p = first;
    while (p < end) {
        // A record leads to the next one or to the end; one whose lengths lead elsewhere is damaged.
        if (p <= end - kCentralRecordSize && r.u32At(p) == kCentralHeaderSig) {
            const qint64 next = p + kCentralRecordSize + r.u16At(p + 28) + r.u16At(p + 30) + r.u16At(p + 32);
            if (next == end || (next < end && r.u32At(next) == kCentralHeaderSig)) {
                p = next;
                continue;
            }
        }
        if (++resumes > kResumes)
            return false;
        // Damage inside a directory leaves parts of records: a local header or an end record
        // skipped over means the records before it are another archive's, one an entry holds.
        const qint64 next = r.find(sig, 4, p + 1, end);
        const qint64 to = next < 0 ? end : next;
        if (r.find("PK\x03\x04", 4, p, to) >= 0 || r.find("PK\x05\x06", 4, p, to) >= 0)
            return false;
        p = to;
    }
    return p == end && resumes < kResumes;
}

// More bytes lost before the directory than the search for its start reaches: its first records
// stand further back, each one's lengths leading to the next. They are taken back to the first
// that leads on, a window at a time, so many windows.
qint64 earlierRecords(BufferedArchiveReader &r, qint64 start)
{
    constexpr qint64 kWindow = 64 * 1024;
    constexpr int kWindows = 16;
    const char sig[4] = {'P', 'K', 1, 2};
    for (int window = 0; window < kWindows && start > 0; ++window) {
        const qint64 from = qMax<qint64>(0, start - kWindow);
        std::vector<qint64> signatures;
        for (qint64 p = r.find(sig, 4, from, start); p >= 0; p = r.find(sig, 4, p + 1, start))
            signatures.push_back(p);
        const qint64 before = start;
        for (auto it = signatures.rbegin(); it != signatures.rend(); ++it) {
            if (*it + kCentralRecordSize + r.u16At(*it + 28) + r.u16At(*it + 30) + r.u16At(*it + 32) == start)
                start = *it;
        }
        if (start == before)
            break;
    }
    return start;
}

// The first record of a directory whose size no longer holds: the first record from a little
// before the stated offset whose records lead to the end records (every later record of the
// directory leads there too). Only so many are tried, so a stretch full of signatures costs no
// more than a few reads of the directory. -1 when none leads there.
qint64 damagedDirectoryStart(BufferedArchiveReader &r, qint64 stated, qint64 end)
{
    constexpr qint64 kReach = 64 * 1024;
    constexpr int kTried = 16;
    const char sig[4] = {'P', 'K', 1, 2};
    int tried = 0;
    for (qint64 p = r.find(sig, 4, qMax<qint64>(0, stated - kReach), end); p >= 0 && tried < kTried;
         p = r.find(sig, 4, p + 1, end), ++tried) {
        if (recordsReachEnd(r, p, end))
            return earlierRecords(r, p);
    }
    return -1;
}

// Whether the end record at eocd ends the archive: its comment ends the file, or only stray
// bytes follow (junk a copy or transfer left behind) with no record of any zip among them. An
// embedded archive's end record near a cut tail has this archive's records behind it.
bool endsArchive(BufferedArchiveReader &r, qint64 eocd, qint64 size)
{
    const qint64 end = eocd + kEndRecordSize + r.u16At(eocd + 20);
    if (end == size)
        return true;
    const qint64 from = eocd + kEndRecordSize;
    return size - from <= 0xFFFF && r.find("PK\x01\x02", 4, from, size) < 0 && r.find("PK\x03\x04", 4, from, size) < 0
        && r.find("PK\x05\x06", 4, from, size) < 0;
}

}  // namespace

bool CentralDirectory::locate(ArchiveSource &source, qint64 *cdOffset, qint64 *cdSize, qint64 *count, qint64 *cdEnd)
{
    qint64 end = m_size;
    qint64 eocd = findEndRecord(source, end);
    // The end record's own last fields may be NULs too: the search reaches as far past them.
    if (eocd < 0 && (end = qMin(m_size, withoutTrailingZeros(source, m_size) + kEndRecordSize)) < m_size)
        eocd = findEndRecord(source, end);
    if (eocd < 0)
        return false;
    BufferedArchiveReader r(source, 64 * 1024);
    if (entryHeaderFrom(r, eocd + kEndRecordSize, m_size))
        return false;
    // ZIP64: the locator right before the end record names the ZIP64 end record; when its offset
    // is damaged, the record usually lies right before the locator.
    qint64 z64 = -1;
    if (eocd >= kLocatorSize && r.u32At(eocd - kLocatorSize) == kZip64LocatorSig) {
        const qint64 named = r.i64At(eocd - kLocatorSize + 8);
        const qint64 adjacent = eocd - kLocatorSize - kZip64EndSize;
        if (named >= 0 && named <= eocd - kLocatorSize - kZip64EndSize && r.u32At(named) == kZip64EndSig)
            z64 = named;
        else if (adjacent >= 0 && r.u32At(adjacent) == kZip64EndSig)
            z64 = adjacent;
    }
    if (z64 >= 0) {
        *count = r.i64At(z64 + 32);
        *cdSize = r.i64At(z64 + 40);
        *cdOffset = r.i64At(z64 + 48);
        *cdEnd = z64;
    } else {
        const quint16 n = r.u16At(eocd + 10);
        const quint32 s = r.u32At(eocd + 12);
        const quint32 o = r.u32At(eocd + 16);
        if (n == 0xFFFF || s == kAll32 || o == kAll32)
            return false;
        *count = n;
        *cdSize = s;
        *cdOffset = o;
        *cdEnd = eocd;
    }
    if (*cdSize < 0 || *count < 0 || *cdSize > *cdEnd)
        return false;
    // Bytes added before the archive (a self-extractor's stub) or removed inside it move the
    // directory: it still ends where the end records begin and has the size they give. Only an
    // end record that ends the file is ours; an embedded archive's near a cut tail is not.
    // A record may stand at the stated offset too: one of its own later records (bytes lost
    // before it), or a copied one (bytes added): its records filling its place settle it.
    const qint64 moved = *cdEnd - *cdSize;
    const bool endsFile = endsArchive(r, eocd, end);
    if (*cdOffset != moved && r.u32At(moved) == kCentralHeaderSig
        && (r.u32At(*cdOffset) != kCentralHeaderSig || recordsFill(r, moved, *cdEnd, *count)) && endsFile
        && !entryDataStartsAt(r, moved - *cdOffset)) {
        m_shift = moved - *cdOffset;
        *cdOffset = moved;
    }
    // Bytes lost or added inside the directory: its records still end where the end records
    // begin, from a first record near the stated offset.
    if (endsFile && *cdSize != *cdEnd - *cdOffset && *cdOffset >= 0 && *cdOffset <= *cdEnd) {
        const qint64 start = damagedDirectoryStart(r, *cdOffset, *cdEnd);
        if (start >= 0 && !entryDataStartsAt(r, start - *cdOffset)) {
            m_sizeDamaged = true;
            m_shift = start - *cdOffset;
            *cdOffset = start;
            *cdSize = *cdEnd - start;
            *count = qMin(*count, *cdSize / kCentralRecordSize);
        }
    }
    // The directory ends where the end records begin. This also keeps the end record of an
    // embedded archive (an attachment near a cut tail) from being taken for ours.
    if (*cdOffset < 0 || *cdOffset > *cdEnd || *cdSize != *cdEnd - *cdOffset)
        return false;
    if (*count > *cdSize / kCentralRecordSize)
        return false;
    // A damaged first record leaves the others: some record must start in the directory.
    const char sig[4] = {'P', 'K', 1, 2};
    return *count == 0 || r.u32At(*cdOffset) == kCentralHeaderSig || r.find(sig, 4, *cdOffset, *cdEnd) >= 0;
}

}  // namespace olm
