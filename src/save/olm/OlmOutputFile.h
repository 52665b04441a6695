#pragma once
// The file the new archive is written to, under a hidden name until it is whole.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// The output file: buffered, every write checked; after the first failure nothing more is
// written and error() says why. Full buffers are checksummed and written by a thread of its own
// while the next one fills, and their disk writes are started at once, so the final sync finds
// little to do.
class OlmOutputFile {
public:
    // Entry data goes in pieces of at most this many bytes.
    static constexpr qint64 kBufferSize = qint64(1) << 20;

    OlmOutputFile() = default;
    ~OlmOutputFile();
    OlmOutputFile(const OlmOutputFile &) = delete;
    OlmOutputFile &operator=(const OlmOutputFile &) = delete;

    // Creates the file under a hidden name of its own beside path (".name.<process>-<n>.part"),
    // locked while this save holds it. Hidden files of that kind that no live save holds (left
    // by a hard stop) are removed first; leftovers() names them.
    bool create(const QString &path);
    // Once close() has succeeded: the hidden file takes the name path, never replacing a file
    // that stands there (EEXIST in error()).
    bool takeName(const QString &path);
    // As takeName, but in one step over the file (device, inode) that stood at path when the
    // save began, which the user agreed to replace: a whole archive holds the name at every
    // moment. Any other file at path stays (EEXIST); with none there it is takeName.
    bool takeNameOver(const QString &path, quint64 device, quint64 inode);
    // The hidden name while the file has not taken its own.
    QString hiddenPath() const { return m_hidden; }
    // Closes the file and removes it under its hidden name: 0, or why it could not be removed.
    int removeHidden();
    // The leftover hidden files create() removed, each with its size.
    const QStringList &leftovers() const { return m_leftovers; }
    bool write(const char *data, qint64 length);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    // Room for length bytes (at most kBufferSize) at the end of the buffer, for a read to fill
    // in place; commit() then adds the bytes that arrived. Null after a failure.
    char *reserve(qint64 length);
    void commit(qint64 length);
    // The CRC-32 of the bytes written from beginChecksum() up to endChecksum(), which returns
    // the range's number: the writer thread takes it as it writes them. checksum() is final
    // once drain() has returned.
    void beginChecksum();
    int endChecksum();
    quint32 checksum(int range);
    // Hands over what is pending and waits until the writer thread has written all of it.
    bool drain();
    // Drops every byte from offset on, with the checksum ranges begun there: an entry that
    // could not be copied whole leaves nothing behind.
    bool rewind(qint64 offset);
    // Overwrites bytes already written at offset (a header whose values are known only later).
    bool patch(qint64 offset, const QByteArray &bytes);
    // Writes what is pending, syncs and closes; false when any write failed.
    bool close();
    qint64 position() const { return m_handedOver + m_used; }
    bool failed() const { return !m_error.isEmpty() || m_writerError.load() != 0; }
    QString error() const;

private:
    bool flush();
    // Waits until at most jobs buffers are still to be written.
    void waitForWriter(int jobs = 0);
    void stopWriter();
    void writerLoop();
    void planChecksums(qint64 size);
    int writeAll(const char *data, qint64 length);
    void fail(int errorNumber);
    void removeLeftovers(const QString &folder, const QString &prefix);
    void releaseLock();

    static constexpr int kBuffers = 4;

    int m_fd = -1;
    QString m_hidden;   // the file's name until it takes its own; removed unless it did
    int m_lockFd = -1;  // holds the lock on the hidden file until it has its name
    QStringList m_leftovers;
    QByteArray m_buffers[kBuffers];  // kBufferSize bytes each: one fills while the others are written
    int m_current = 0;
    qint64 m_used = 0;        // bytes of the current buffer
    qint64 m_handedOver = 0;  // bytes given to the writer thread so far
    QString m_error;

    std::thread m_writer;
    std::mutex m_lock;
    std::condition_variable m_wake;                      // work or the end for the writer
    std::condition_variable m_done;                      // a buffer has been written
    std::deque<std::pair<const char *, qint64>> m_jobs;  // in file order; the first is being written
    bool m_quit = false;
    std::atomic<int> m_writerError{0};
    struct Range {
        qint64 start;
        qint64 end;   // -1 while open
        quint32 crc;  // writer thread only until drained
    };
    std::deque<Range> m_ranges;  // in file order; they never overlap
    int m_rangeCursor = 0;       // writer thread only: the first range not yet complete
    qint64 m_writerAt = 0;       // writer thread only: file position of the next job
    struct Piece {
        Range *range;
        qint64 offset;  // in the job
        qint64 length;
    };
    std::vector<Piece> m_pieces;    // writer thread only: the current job's share of each range
    qint64 m_written = 0;           // writer thread only
    qint64 m_writebackStarted = 0;  // writer thread only
};
