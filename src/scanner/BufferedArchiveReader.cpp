#include "scanner/BufferedArchiveReader.h"

#include "platform/Crc32.h"
#include "platform/HandOver.h"
#include "platform/WorkerGlobals.h"
#include "scanner/ByteScan.h"
#include "scanner/EntryTextScan.h"
#include "scanner/ReadAheadRuns.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

BufferedArchiveReader::BufferedArchiveReader(ArchiveSource &source, qint64 window)
    : m_source(source), m_size(source.size()), m_capacity(qMax<qint64>(qMin(window, m_size), 64))
{
    m_buf.resize(int(m_capacity));
}

const char *BufferedArchiveReader::window(qint64 pos, qint64 len, qint64 fill, bool own)
{
    if (pos < 0 || len < 0 || len > m_capacity || pos > m_size - len)
        return nullptr;
    if (pos < m_start || pos + len > m_start + m_filled) {
        if (const char *side = own ? nullptr : sideWindow(pos, len))
            return side;
        refill(pos, len, fill);
    }
    return len > m_start + m_filled - pos ? nullptr : data() + (pos - m_start);
}

void BufferedArchiveReader::refill(qint64 pos, qint64 len, qint64 fill)
{
    // A walk going on at or just past the window's end reads on in a long run, and
    // keeps the bytes before pos that a look back may want (a record's fields after a look at the
    // next signature, a text after a look at the header behind it): nothing is read twice.
    const qint64 end = m_start + m_filled;
    qint64 start = pos;
    // A walk that jumped over a stretch starts afresh behind it: those bytes are not read.
    const bool onward = pos >= m_start && pos <= end + kLookBack && jumpFrom(end) >= pos;
    if (onward) {
        start = qMax(qMax(m_start, pos - kLookBack), pos + len - m_capacity);
        fill = qMax(fill, kRunFill);
    }
    // The fill stops where the walk is to jump: those bytes are never read for it.
    const qint64 stop = qMax(pos + len, jumpFrom(pos + len));
    const qint64 want = qMin(qMin(qMin(m_capacity, qMax(len, fill) + (pos - start)), m_size - start), stop - start);
    const qint64 kept = start >= m_start ? qBound<qint64>(0, end - start, want) : 0;
    // A jump lands where the reads ahead went on behind it.
    const bool forward = pos >= m_start;
    if (m_ahead && ((onward && takeAhead(start, kept, pos + len - start)) || (forward && takeAhead(pos, 0, len))))
        return;
    ownBuffer(start, kept);
    m_fromRun = false;
    m_start = start;
    m_marks.clear();
    m_marksFrom = -1;
    const qint64 got = want > kept ? readFully(m_source, start + kept, m_buf.data() + kept, want - kept) : 0;
    m_filled = kept + qMax<qint64>(0, got);
    if (m_ahead && forward)
        askAhead(m_start + m_filled);
}

void BufferedArchiveReader::ownBuffer(qint64 start, qint64 kept)
{
    if (!m_buf.isDetached()) {
        QByteArray own(m_buf.size(), Qt::Uninitialized);
        if (kept > 0)
            memcpy(own.data(), data() + (start - m_start), size_t(kept));
        m_buf.swap(own);
    } else {
        // Jobs that shared it let it go before: their reads come before the window's writes.
        MarkTaken(m_buf.constData());
        if (kept > 0 && (start > m_start || m_base > 0))
            memmove(m_buf.data(), data() + (start - m_start), size_t(kept));
    }
    m_base = 0;
}

void BufferedArchiveReader::setJumps(std::vector<std::pair<qint64, qint64>> jumps)
{
    m_jumps = std::move(jumps);
    // The stretches between jumps long enough to be read ahead.
    m_longStretches.clear();
    qint64 from = 0;
    for (size_t i = 0; i <= m_jumps.size(); ++i) {
        const qint64 to = i < m_jumps.size() ? m_jumps[i].first : m_size;
        if (to - from >= kAheadStretch || (i == m_jumps.size() && to > from))
            m_longStretches.emplace_back(from, to);
        if (i < m_jumps.size())
            from = m_jumps[i].second;
    }
}

qint64 BufferedArchiveReader::aheadFrom(qint64 pos) const
{
    if (m_jumps.empty())
        return pos;
    // The first long stretch that ends after pos: pos itself when it lies inside, else its start.
    const auto it = std::upper_bound(m_longStretches.begin(), m_longStretches.end(), pos,
                                     [](qint64 p, const std::pair<qint64, qint64> &s) { return p < s.second; });
    return it == m_longStretches.end() ? m_size : qMax(pos, it->first);
}

qint64 BufferedArchiveReader::jumpFrom(qint64 pos) const
{
    const auto it = std::lower_bound(m_jumps.begin(), m_jumps.end(), std::make_pair(pos, qint64(-1)));
    return it == m_jumps.end() ? m_size : it->first;
}

const char *BufferedArchiveReader::shareText(qint64 pos, qint64 len, QByteArray *hold) const
{
    // Only a run's buffer is shared: runs are few and long, so the jobs in flight hold a few of
    // them at most. A window the walk read itself may hold a text alone.
    if (!m_fromRun || pos < m_start || len < 0 || len > m_start + m_filled - pos)
        return nullptr;
    *hold = m_buf;
    return data() + (pos - m_start);
}

BufferedArchiveReader::~BufferedArchiveReader() = default;

const char *BufferedArchiveReader::sideWindow(qint64 pos, qint64 len)
{
    // Only a look far ahead with runs read ahead: moving the window there would leave the runs
    // the walk comes back to, and they would be read again. A walk that jumped moves it.
    if (!m_ahead || len > kSideFill || pos <= m_start + m_filled + kLookBack || jumpFrom(m_start + m_filled) < pos)
        return nullptr;
    if (pos >= m_sideStart && pos + len <= m_sideStart + m_sideFilled)
        return m_side.constData() + (pos - m_sideStart);
    {
        // The walk jumped to where runs go on: the window moves there.
        std::lock_guard<std::mutex> lock(m_ahead->mutex);
        if (m_ahead->runAt(pos))
            return nullptr;
    }
    m_side.resize(int(kSideFill));
    m_sideStart = pos;
    m_sideFilled = qMax<qint64>(0, readFully(m_source, pos, m_side.data(), qMin(kSideFill, m_size - pos)));
    return len <= m_sideFilled ? m_side.constData() : nullptr;
}

void BufferedArchiveReader::readAhead()
{
    if (m_ahead || m_capacity < kAheadRun)
        return;
    // Where the walk jumps over nearly every byte (large attachments), threads of their own would
    // cost more to start than the few runs they could read.
    qint64 aheadBytes = 0;
    for (const auto &stretch : m_longStretches)
        aheadBytes += stretch.second - stretch.first;
    if (!m_jumps.empty() && aheadBytes < kAheadWorth)
        return;
    // Without threads or the memory for the runs, the walk reads as before.
    try {
        m_buf.resize(int(kAheadHead + m_capacity));
        m_ahead = std::make_unique<Ahead>(m_source, m_capacity, *this);
    } catch (const std::exception &) {
        m_ahead.reset();
        return;
    }
    // The walk's first bytes come from a run too: the workers share its buffer.
    askAhead(m_start + m_filled);
}

void BufferedArchiveReader::askAhead(qint64 from)
{
    std::lock_guard<std::mutex> lock(m_ahead->mutex);
    m_ahead->askFrom(from, m_size);
}

bool BufferedArchiveReader::takeAhead(qint64 start, qint64 kept, qint64 need)
{
    {
        std::unique_lock<std::mutex> lock(m_ahead->mutex);
        Ahead::Run *run = m_ahead->runAt(start + kept);
        if (!run || kept > kAheadHead)
            return false;
        m_ahead->changed.wait(lock, [&] { return run->got >= 0; });
        // A run cut short (the end of the file, a read error) is read again as it would be alone.
        if (kept + run->got < need || run->got < run->length)
            return false;
        // The kept bytes go in front of the run, and the two buffers change places.
        char *front = run->buf.data() + kAheadHead - kept;
        if (kept > 0)
            memcpy(front, data() + (start - m_start), size_t(kept));
        takeMarks(start, kept, run->marks);
        m_buf.swap(run->buf);
        m_fromRun = true;
        m_base = kAheadHead - kept;
        m_start = start;
        m_filled = kept + run->got;
        run->pos = -1;
    }
    askAhead(m_start + m_filled);
    return true;
}

quint32 BufferedArchiveReader::u32At(qint64 pos)
{
    const uchar *p = reinterpret_cast<const uchar *>(window(pos, 4));
    if (!p)
        return 0;
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 BufferedArchiveReader::u16At(qint64 pos)
{
    const uchar *p = reinterpret_cast<const uchar *>(window(pos, 2));
    return p ? quint16(p[0] | p[1] << 8) : 0;
}

qint64 BufferedArchiveReader::i64At(qint64 pos)
{
    const uchar *p = reinterpret_cast<const uchar *>(window(pos, 8));
    if (!p)
        return 0;
    quint64 v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return qint64(v);
}

bool BufferedArchiveReader::matchAt(qint64 pos, const char *tag, int len)
{
    const char *p = window(pos, len);
    return p && memcmp(p, tag, size_t(len)) == 0;
}

bool BufferedArchiveReader::crcMatches(qint64 pos, qint64 len, quint32 crc)
{
    if (pos < 0 || len < 0 || len > m_size - pos)
        return false;
    const qint64 chunk = 256 * 1024;
    QByteArray buf(int(qMin(len, chunk)), Qt::Uninitialized);
    quint32 got = 0;
    for (qint64 done = 0; done < len && !bStopFlag;) {
        const qint64 n = readFully(m_source, pos + done, buf.data(), qMin(chunk, len - done));
        if (n <= 0)
            return false;
        got = Crc32Update(got, buf.constData(), n);
        done += n;
    }
    return !bStopFlag && got == crc;
}

qint64 BufferedArchiveReader::read(qint64 pos, void *dst, qint64 len)
{
    if (pos < 0 || len <= 0 || pos >= m_size)
        return 0;
    len = qMin(len, m_size - pos);
    if (pos >= m_start && pos + len <= m_start + m_filled) {
        memcpy(dst, data() + (pos - m_start), size_t(len));
        return len;
    }
    // With runs read ahead, a long text is taken from them as the walk goes on: its bytes are
    // read once.
    if (m_ahead)
        return readOnward(pos, static_cast<char *>(dst), len);
    // The window's header fill often holds the start of the entry's text: only the rest is read.
    const qint64 held = pos >= m_start ? m_start + m_filled - pos : 0;
    if (held > 0) {
        memcpy(dst, data() + (pos - m_start), size_t(held));
        const qint64 rest = readFully(m_source, pos + held, static_cast<char *>(dst) + held, len - held);
        return held + qMax<qint64>(0, rest);
    }
    return readFully(m_source, pos, dst, len);
}

qint64 BufferedArchiveReader::readOnward(qint64 pos, char *dst, qint64 len)
{
    qint64 done = 0;
    while (done < len) {
        const qint64 at = pos + done;
        const qint64 held = at >= m_start ? m_start + m_filled - at : 0;
        const qint64 n = qMin(len - done, held > 0 ? held : kAheadRun);
        const char *p = window(at, n, kRunFill);
        if (!p)
            break;
        memcpy(dst + done, p, size_t(n));
        done += n;
    }
    return done;
}

qint64 BufferedArchiveReader::readText(qint64 pos, void *dst, qint64 len)
{
    if (pos < 0 || len <= 0 || pos >= m_size)
        return 0;
    len = qMin(len, m_size - pos);
    if (len <= kTextFill / 2 && (pos < m_start || pos + len > m_start + m_filled)) {
        const char *p = window(pos, len, kTextFill);
        if (p) {
            memcpy(dst, p, size_t(len));
            return len;
        }
    }
    return read(pos, dst, len);
}

void BufferedArchiveReader::takeMarks(qint64 start, qint64 kept, const std::vector<qint64> &runMarks)
{
    // The kept bytes' marks are known when the window's were from before them on.
    if (m_marksFrom >= 0 && m_marksFrom <= start) {
        m_marks.erase(std::lower_bound(m_marks.begin(), m_marks.end(), start + kept), m_marks.end());
        m_marks.erase(m_marks.begin(), std::lower_bound(m_marks.begin(), m_marks.end(), start));
        m_marksFrom = start;
    } else {
        m_marks.clear();
        m_marksFrom = start + kept;
    }
    m_marks.insert(m_marks.end(), runMarks.begin(), runMarks.end());
}

qint64 BufferedArchiveReader::scanPeekedText(qint64 pos, qint64 len, bool signatures, bool *nul, qint64 *resume)
{
    const char *text = window(pos, len, kTextFill, true);
    if (!text) {
        *resume = 0;
        return -1;
    }
    if (m_marksFrom < 0 || pos < m_marksFrom)
        return olm::ScanEntryText(text, 0, len, signatures, nul, resume);
    const auto first = std::lower_bound(m_marks.begin(), m_marks.end(), pos);
    return olm::ScanEntryTextMarked(text, len, pos, m_marks.data() + (first - m_marks.begin()),
                                    size_t(m_marks.end() - first), signatures, nul, resume);
}

const char *BufferedArchiveReader::peekText(qint64 pos, qint64 len)
{
    if (pos < 0 || len <= 0 || len > kTextFill / 2 || pos > m_size - len)
        return nullptr;
    return window(pos, len, kTextFill, true);
}

const char *BufferedArchiveReader::scanWindow(qint64 from, qint64 limit, qint64 minLen, qint64 *len)
{
    // Use what the window already holds from 'from'; refill a whole window only when it is spent.
    const qint64 held = m_start + m_filled - from;
    if (from >= m_start && held >= minLen) {
        *len = qMin(held, limit - from);
        return data() + (from - m_start);
    }
    const char *p = window(from, qMin(qMax(minLen, qint64(1)), limit - from), m_capacity, true);
    *len = p ? qMin(m_start + m_filled, limit) - from : 0;
    return p;
}

qint64 BufferedArchiveReader::findEitherByte(qint64 from, qint64 limit, char a, char b)
{
    limit = qMin(limit, m_size);
    // A damaged stretch may run for gigabytes: a confirmed stop ends the search, found nothing.
    while (from < limit && !bStopFlag) {
        qint64 len = 0;
        const char *p = scanWindow(from, limit, 1, &len);
        if (!p || len <= 0)
            return limit;
        const qint64 at = qint64(byte_scan::FirstOfEither(p, 0, size_t(len), a, b));
        if (at < len)
            return from + at;
        from += len;
    }
    return limit;
}

qint64 BufferedArchiveReader::find(const char *needle, int len, qint64 from, qint64 limit)
{
    limit = qMin(limit, m_size);
    if (len <= 0 || len >= m_capacity)
        return -1;
    while (from <= limit - len && !bStopFlag) {
        qint64 span = 0;
        const char *p = scanWindow(from, limit, len, &span);
        if (!p || span < len)
            return -1;
        const void *hit = memmem(p, size_t(span), needle, size_t(len));
        if (hit)
            return from + (static_cast<const char *>(hit) - p);
        if (from + span >= limit)
            break;
        // Step back len-1 bytes so a needle across the window edge is still found.
        from += span - (len - 1);
    }
    return -1;
}
