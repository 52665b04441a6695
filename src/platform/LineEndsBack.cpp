#include "platform/LineEndsBack.h"

#include "platform/ArchiveSource.h"

#include <cstring>

qint64 LineEndsBack::feed(const char *in, qint64 n, char *out)
{
    if (m_times == 0) {
        memmove(out, in, size_t(n));
        return n;
    }
    char *o = out;
    for (qint64 i = 0; i < n; ++i) {
        const char c = in[i];
        if (c == '\r') {
            // Only the last CRs before an LF can be the conversion's: older ones are data.
            if (m_waiting == m_times)
                *o++ = '\r';
            else
                ++m_waiting;
            continue;
        }
        if (c != '\n') {
            for (; m_waiting > 0; --m_waiting)
                *o++ = '\r';
        }
        m_waiting = 0;
        *o++ = c;
    }
    return o - out;
}

qint64 LineEndsBack::finish(char *out)
{
    const int n = m_waiting;
    memset(out, '\r', size_t(n));
    m_waiting = 0;
    return n;
}

EntryDataReader::EntryDataReader(int fd, qint64 offset, qint64 size, int times)
    : m_fd(fd), m_offset(offset), m_size(qMax<qint64>(0, size)), m_times(qBound(0, times, LineEndsBack::kMaxTimes)),
      m_back(times)
{
}

qint64 EntryDataReader::read(char *out, qint64 max)
{
    if (m_times == 0) {
        const qint64 want = qMin(max, m_size - m_done);
        if (want <= 0 || m_failed)
            return 0;
        const qint64 got = readAt(m_fd, m_offset + m_done, out, want);
        if (got < want)
            m_failed = true;
        if (got <= 0)
            return 0;
        m_done += got;
        return got;
    }
    qint64 written = 0;
    while (written < max) {
        if (m_at == m_piece.size() && !refill())
            break;
        const qint64 n = qMin<qint64>(max - written, m_piece.size() - m_at);
        memcpy(out + written, m_piece.constData() + m_at, size_t(n));
        m_at += int(n);
        written += n;
    }
    return written;
}

bool EntryDataReader::refill()
{
    if (m_finished)
        return false;
    constexpr qint64 kPiece = qint64(1) << 20;
    const qint64 want = m_failed ? 0 : qMin(kPiece, m_size - m_done);
    m_piece.resize(int(want) + LineEndsBack::kMaxTimes);
    // Read behind the room the CRs still waiting may take, and converted in place: the
    // conversion never writes more than it has read.
    char *in = m_piece.data() + LineEndsBack::kMaxTimes;
    qint64 got = want > 0 ? readAt(m_fd, m_offset + m_done, in, want) : 0;
    if (got < want)
        m_failed = true;
    got = qMax<qint64>(0, got);
    m_done += got;
    qint64 n = m_back.feed(in, got, m_piece.data());
    if (got == 0 || m_done == m_size || m_failed) {
        n += m_back.finish(m_piece.data() + n);
        m_finished = true;
    }
    m_piece.resize(int(n));
    m_at = 0;
    return n > 0 || !m_finished;
}
