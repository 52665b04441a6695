#pragma once
// Positioned reads of the open archive. Every read names its absolute offset, so the scanner,
// the preview and the writers can read the same descriptor at the same time.

#include <QByteArray>
#include <QtGlobal>

// pread loop over EINTR and short reads; returns the bytes actually read (0 at or past the end, -1 on error).
qint64 readAt(int fd, qint64 offset, void *buffer, qint64 length);
// The same on the global archive descriptor.
qint64 readAt(qint64 offset, void *buffer, qint64 length);

// Opens path read-only as an archive. Only a regular file is one: the open never blocks (a FIFO
// would wait for a writer forever), and a FIFO, device or directory is refused.
// Returns the descriptor, -1 when it cannot be opened, kNotRegularFile when it is no regular file.
constexpr int kNotRegularFile = -2;
int OpenArchiveFile(const QByteArray &path);

class ArchiveSource {
public:
    virtual ~ArchiveSource() = default;
    virtual qint64 size() const = 0;
    // Returns the bytes read, fewer only at the end of the archive or on a read error.
    virtual qint64 readAt(qint64 offset, void *buffer, qint64 length) = 0;
};

// The production source: the descriptor the shell opened. It never closes it.
class FdArchiveSource : public ArchiveSource {
public:
    FdArchiveSource(int fd, qint64 size) : m_fd(fd), m_size(size) {}
    qint64 size() const override { return m_size; }
    qint64 readAt(qint64 offset, void *buffer, qint64 length) override;

private:
    int m_fd;
    qint64 m_size;
};

// An archive held in memory; maxChunk > 0 makes every read short, to test the callers' loops.
class MemoryArchiveSource : public ArchiveSource {
public:
    explicit MemoryArchiveSource(QByteArray data, qint64 maxChunk = 0) : m_data(std::move(data)), m_maxChunk(maxChunk)
    {
    }
    qint64 size() const override { return m_data.size(); }
    qint64 readAt(qint64 offset, void *buffer, qint64 length) override;
    const QByteArray &data() const { return m_data; }

private:
    QByteArray m_data;
    qint64 m_maxChunk;
};

// Reads exactly length bytes unless the source ends first; loops over short reads.
qint64 readFully(ArchiveSource &source, qint64 offset, void *buffer, qint64 length);
