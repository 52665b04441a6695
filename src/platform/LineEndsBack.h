#pragma once
// Line ends converted back: a copy that wrote every LF as CR LF (once, or twice: CR CR LF) grew
// each entry; reading it with each LF's CRs before it dropped, as many as the conversions added,
// gives the stored bytes again. A CR before anything but LF is kept as it stands.

#include <QByteArray>
#include <QtGlobal>

class LineEndsBack {
public:
    // times: how often the line ends were converted (0 leaves every byte as it is).
    explicit LineEndsBack(int times) : m_times(qBound(0, times, kMaxTimes)) {}
    static constexpr int kMaxTimes = 2;
    // Converts n bytes from in into out, which has room for n + kMaxTimes bytes; returns the
    // bytes written. CRs at the end of in wait for the byte after them.
    qint64 feed(const char *in, qint64 n, char *out);
    // The CRs still waiting, written to out (room for kMaxTimes); at the end of the bytes.
    qint64 finish(char *out);

private:
    int m_times;
    int m_waiting = 0;  // CRs read and not yet written, at most m_times
};

// Reads size bytes of an entry's data at offset of the descriptor fd, in pieces, converted back
// as LineEndsBack does when times > 0.
class EntryDataReader {
public:
    EntryDataReader(int fd, qint64 offset, qint64 size, int times);
    // Up to max bytes into out, fewer only where the data or the file ends or a read fails.
    qint64 read(char *out, qint64 max);
    // Whether all size bytes were read from the file.
    bool whole() const { return m_done == m_size; }
    // The bytes it reads from the file: the most it gives.
    qint64 storedSize() const { return m_size; }

private:
    // The next piece converted back; false once nothing is left.
    bool refill();

    int m_fd;
    qint64 m_offset, m_size;
    qint64 m_done = 0;  // bytes of the file read
    bool m_failed = false;
    bool m_finished = false;
    int m_times;
    LineEndsBack m_back;
    QByteArray m_piece;  // converted bytes not handed out yet, from m_at on
    int m_at = 0;
};
