#pragma once
// A small read window over an ArchiveSource for the walk's many small header reads and its
// byte-by-byte crossing of damaged stretches. Past the end of the archive nothing matches.

#include "platform/ArchiveSource.h"

#include <QByteArray>

#include <memory>
#include <utility>
#include <vector>

class BufferedArchiveReader {
public:
    explicit BufferedArchiveReader(ArchiveSource &source, qint64 window = 1024 * 1024);
    ~BufferedArchiveReader();
    BufferedArchiveReader(const BufferedArchiveReader &) = delete;
    BufferedArchiveReader &operator=(const BufferedArchiveReader &) = delete;
    // From now on, a walk going on past the window's end finds the next runs already read:
    // threads of their own read them while the caller works on the window. The bytes given are
    // the same.
    void readAhead();
    // Stretches [first, second) the walk is expected to jump over (stored attachments' data), in
    // ascending order: no read fills into them, and the reads ahead go on behind them. Only
    // what is read changes, never the bytes given.
    void setJumps(std::vector<std::pair<qint64, qint64>> jumps);

    qint64 size() const { return m_size; }
    // Little-endian words; 0 when the bytes lie (partly) past the end.
    quint32 u32At(qint64 pos);
    quint16 u16At(qint64 pos);
    qint64 i64At(qint64 pos);
    // True when the bytes at pos equal tag (all inside the archive).
    bool matchAt(qint64 pos, const char *tag, int len);
    // Copies up to len bytes at pos; returns the count copied (short only at the end).
    qint64 read(qint64 pos, void *dst, qint64 len);
    // As read, for entry texts: a short text not in the window is read with what follows it,
    // so the next entries' headers and texts come with the same read.
    qint64 readText(qint64 pos, void *dst, qint64 len);
    // The len bytes at pos in the window, read as readText reads them; null when len is over
    // half a text fill or the bytes are not all in the archive. Valid until the next call.
    const char *peekText(qint64 pos, qint64 len);
    // The len bytes at pos in the window, kept for another thread: *hold shares the window's
    // buffer, which the reader never writes again while it is shared. Null when they are not all
    // in the window, or the window is not a run read ahead.
    const char *shareText(qint64 pos, qint64 len, QByteArray *hold) const;
    // ScanEntryText over the len bytes at pos just peeked. Where the window came from runs read
    // ahead, their readers already found its bytes up to 3, and those alone are looked at.
    qint64 scanPeekedText(qint64 pos, qint64 len, bool signatures, bool *nul, qint64 *resume);
    // Whether the len bytes at pos are all in the archive and have the CRC-32 crc. Read in
    // chunks past the window, so a large entry costs no more memory than a small one.
    bool crcMatches(qint64 pos, qint64 len, quint32 crc);
    // First position >= from and < limit where a byte is one of the two given; limit if none.
    qint64 findEitherByte(qint64 from, qint64 limit, char a, char b);
    // First position >= from where needle starts and ends before limit; -1 if none.
    qint64 find(const char *needle, int len, qint64 from, qint64 limit);

private:
    // Makes [pos, pos+len) available in the window, reading fill bytes when it must read;
    // returns a pointer or null past the end. Header reads fill little, so the data of
    // attachments the walk jumps over is never read; scans of damaged stretches fill it all.
    // own: the bytes must stand in the window itself (the caller goes on with its bounds or
    // marks), never in the few read apart far ahead of it.
    const char *window(qint64 pos, qint64 len, qint64 fill = kHeaderFill, bool own = false);
    // Makes [pos, pos + len) available, with at least fill bytes from pos where the file has
    // them; the window starts at pos, or before it where the walk goes on from the window.
    void refill(qint64 pos, qint64 len, qint64 fill);
    // A few bytes far ahead of the window (the next record's header), read apart; null where the
    // window itself is to move.
    const char *sideWindow(qint64 pos, qint64 len);

    // Bytes from 'from' (at least minLen, at most up to limit) already in the window, or a fresh
    // full window there; sets *len to how many can be scanned.
    const char *scanWindow(qint64 from, qint64 limit, qint64 minLen, qint64 *len);
    // read() through the window, run by run, where runs are read ahead.
    qint64 readOnward(qint64 pos, char *dst, qint64 len);
    // Where the first jump at or after pos starts; the file's size if none.
    qint64 jumpFrom(qint64 pos) const;
    // Where runs are read ahead from pos on: pos inside a stretch between jumps long enough for
    // them, else the next such stretch's start (the file's size if none).
    qint64 aheadFrom(qint64 pos) const;

    static constexpr qint64 kHeaderFill = 8 * 1024;
    // Archives of many small messages: one read serves a run of small entries.
    static constexpr qint64 kTextFill = 64 * 1024;
    // A read going on from the window's end: long runs, so the bytes kept behind are moved seldom.
    static constexpr qint64 kRunFill = 256 * 1024;
    // Bytes before a read that goes on past the window's end stay in it: the largest text read
    // through the window.
    static constexpr qint64 kLookBack = kTextFill / 2;
    // A look far ahead: a local header and its name.
    static constexpr qint64 kSideFill = 512;

    struct Ahead;
    void askAhead(qint64 from);
    // Takes the run read ahead as the window's bytes from start + kept on, with the kept bytes
    // before it; false (nothing changed) when it is not there or holds fewer than need bytes.
    bool takeAhead(qint64 start, qint64 kept, qint64 need);
    // The window's marks once a run's bytes follow the kept bytes [start, start + kept).
    void takeMarks(qint64 start, qint64 kept, const std::vector<qint64> &runMarks);
    const char *data() const { return m_buf.constData() + m_base; }
    // Makes m_buf the window's own to write, with the kept bytes [start, start + kept) at its
    // front: a buffer a job still shares is left to it.
    void ownBuffer(qint64 start, qint64 kept);
    // Room in front of a run read ahead for the bytes kept from the window.
    static constexpr qint64 kAheadHead = 96 * 1024;
    // A run read ahead: long, so the threads hand runs over seldom.
    static constexpr qint64 kAheadRun = 512 * 1024;
    // Runs read ahead at most, and the threads that read them.
    static constexpr int kAheadRuns = 4;
    static constexpr int kAheadReaders = 2;
    // The shortest stretch between jumps read ahead.
    static constexpr qint64 kAheadStretch = kAheadRun / 2;
    // The fewest bytes between jumps for which runs are read ahead at all.
    static constexpr qint64 kAheadWorth = 8 * kAheadRun;

    ArchiveSource &m_source;
    qint64 m_size;
    qint64 m_capacity;
    QByteArray m_buf;
    qint64 m_start = 0;
    qint64 m_filled = 0;
    qint64 m_base = 0;       // where the window's first byte lies in m_buf
    bool m_fromRun = false;  // m_buf is a run read ahead
    std::unique_ptr<Ahead> m_ahead;
    std::vector<std::pair<qint64, qint64>> m_jumps;
    std::vector<std::pair<qint64, qint64>> m_longStretches;
    QByteArray m_side;
    qint64 m_sideStart = -1;
    qint64 m_sideFilled = 0;
    // Where every byte up to 3 of the window from m_marksFrom on stands (m_marksFrom -1: none
    // known), as the runs' readers found them.
    std::vector<qint64> m_marks;
    qint64 m_marksFrom = -1;
};
