#include "save/olm/OlmOutputFile.h"

#include "platform/Crc32.h"
#include "platform/WholeFile.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

OlmOutputFile::~OlmOutputFile()
{
    stopWriter();
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_hidden.isEmpty())
        ::unlink(QFile::encodeName(m_hidden).constData());
    releaseLock();
}

void OlmOutputFile::fail(int errorNumber)
{
    if (m_error.isEmpty())
        m_error = qt_error_string(errorNumber ? errorNumber : EIO);
}

QString OlmOutputFile::error() const
{
    return m_error.isEmpty() && m_writerError.load() ? qt_error_string(m_writerError.load()) : m_error;
}

bool OlmOutputFile::create(const QString &path)
{
    const QFileInfo info(path);
    const QString prefix = QStringLiteral(".") + info.fileName() + QLatin1Char('.');
    m_leftovers = RemoveUnheldParts(info.path(), prefix);
    // A name of this process's own: another save into the same folder never shares it.
    static std::atomic<int> serial{0};
    const QString stem =
        info.path() + QLatin1Char('/') + prefix + QString::number(qint64(::getpid())) + QLatin1Char('-');
    for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
        const QString hidden = stem + QString::number(++serial) + QStringLiteral(".part");
        const QByteArray native = QFile::encodeName(hidden);
        // Exclusive: a file or link that stands there is never written through.
        const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            fail(errno);
            return false;
        }
        if (!PartIsOwn(LockPart(fd, native))) {
            ::close(fd);
            continue;
        }
        m_fd = fd;
        m_hidden = hidden;
    }
    if (m_fd < 0) {
        fail(EEXIST);
        return false;
    }
    // The lock lives on a descriptor of its own, so it holds from close() until the name is taken.
    m_lockFd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    for (QByteArray &buffer : m_buffers)
        buffer = QByteArray(int(kBufferSize), Qt::Uninitialized);
    m_writer = std::thread([this] { writerLoop(); });
    return true;
}

int OlmOutputFile::removeHidden()
{
    stopWriter();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    int error = 0;
    if (!m_hidden.isEmpty() && ::unlink(QFile::encodeName(m_hidden).constData()) != 0 && errno != ENOENT)
        error = errno;
    m_hidden.clear();
    releaseLock();
    return error;
}

void OlmOutputFile::releaseLock()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
}

bool OlmOutputFile::takeName(const QString &path)
{
    if (failed() || m_hidden.isEmpty())
        return false;
    const QByteArray from = QFile::encodeName(m_hidden);
    const QByteArray to = QFile::encodeName(path);
    if (const int error = MoveWithoutReplacing(from, to)) {
        fail(error);
        return false;
    }
    m_hidden.clear();
    releaseLock();
    return true;
}

bool OlmOutputFile::takeNameOver(const QString &path, quint64 device, quint64 inode)
{
    if (failed() || m_hidden.isEmpty())
        return false;
    if (const int error = MoveReplacing(QFile::encodeName(m_hidden), QFile::encodeName(path), device, inode)) {
        fail(error);
        return false;
    }
    m_hidden.clear();
    releaseLock();
    return true;
}

int OlmOutputFile::writeAll(const char *data, qint64 length)
{
    while (length > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        length -= n;
        m_written += n;
    }
#ifdef SYNC_FILE_RANGE_WRITE
    // Start the disk writes of every few buffers now; the sync at the end still waits for all.
    constexpr qint64 kWritebackStep = 8 * kBufferSize;
    if (m_written - m_writebackStarted >= kWritebackStep) {
        ::sync_file_range(m_fd, m_writebackStarted, m_written - m_writebackStarted, SYNC_FILE_RANGE_WRITE);
        m_writebackStarted = m_written;
    }
#endif
    return 0;
}

void OlmOutputFile::writerLoop()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_jobs.empty() || m_quit; });
        if (m_jobs.empty())
            return;
        const auto job = m_jobs.front();
        planChecksums(job.second);
        lock.unlock();
        // The checksums here, not in the thread that reads: that one has the walk to do as well.
        for (const Piece &piece : m_pieces)
            piece.range->crc = Crc32Update(piece.range->crc, job.first + piece.offset, piece.length);
        // After a failure nothing more is written: the file is no archive any more.
        const int error = m_writerError.load() ? 0 : writeAll(job.first, job.second);
        lock.lock();
        if (error)
            m_writerError = error;
        m_jobs.pop_front();
        m_done.notify_all();
    }
}

void OlmOutputFile::planChecksums(qint64 size)
{
    // With m_lock held: which ranges the job's bytes belong to. Ranges do not move in the
    // deque, and only the writer thread touches their checksums until drain().
    m_pieces.clear();
    const qint64 from = m_writerAt;
    const qint64 to = from + size;
    for (int i = m_rangeCursor; i < int(m_ranges.size()) && m_ranges[size_t(i)].start < to; ++i) {
        Range &r = m_ranges[size_t(i)];
        const qint64 begin = qMax(r.start, from);
        const qint64 end = r.end < 0 ? to : qMin(r.end, to);
        if (end > begin)
            m_pieces.push_back(Piece{&r, begin - from, end - begin});
        if (r.end >= 0 && r.end <= to)
            m_rangeCursor = i + 1;
    }
    m_writerAt = to;
}

void OlmOutputFile::beginChecksum()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_ranges.push_back(Range{position(), -1, 0});
}

int OlmOutputFile::endChecksum()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_ranges.back().end = position();
    return int(m_ranges.size()) - 1;
}

quint32 OlmOutputFile::checksum(int range)
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_ranges[size_t(range)].crc;
}

bool OlmOutputFile::drain()
{
    flush();
    waitForWriter();
    return !failed();
}

void OlmOutputFile::waitForWriter(int jobs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_done.wait(lock, [this, jobs] { return int(m_jobs.size()) <= jobs; });
}

void OlmOutputFile::stopWriter()
{
    if (!m_writer.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    m_writer.join();
}

bool OlmOutputFile::flush()
{
    if (failed())
        return false;
    if (m_used > 0) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_jobs.emplace_back(m_buffers[m_current].constData(), m_used);
        }
        m_wake.notify_all();
        m_handedOver += m_used;
        m_used = 0;
        m_current = (m_current + 1) % kBuffers;
    }
    // The next buffer is free once its write has ended.
    waitForWriter(kBuffers - 1);
    return !failed();
}

bool OlmOutputFile::write(const char *data, qint64 length)
{
    while (length > 0) {
        char *into = reserve(qMin(length, kBufferSize));
        if (!into)
            return false;
        const qint64 n = qMin(length, kBufferSize - m_used);
        memcpy(into, data, size_t(n));
        m_used += n;
        data += n;
        length -= n;
    }
    return !failed();
}

char *OlmOutputFile::reserve(qint64 length)
{
    if (failed() || m_fd < 0 || length > kBufferSize)
        return nullptr;
    if (m_used + length > kBufferSize && !flush())
        return nullptr;
    return m_buffers[m_current].data() + m_used;
}

void OlmOutputFile::commit(qint64 length)
{
    m_used += length;
}

bool OlmOutputFile::rewind(qint64 offset)
{
    if (failed() || m_fd < 0 || offset > position())
        return false;
    if (offset < m_handedOver) {
        // Already with the writer thread: once it is idle, cut the file back.
        flush();
        waitForWriter();
        if (failed())
            return false;
        if (::ftruncate(m_fd, off_t(offset)) != 0 || ::lseek(m_fd, off_t(offset), SEEK_SET) < 0) {
            fail(errno);
            return false;
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_handedOver = m_writerAt = m_written = offset;
        m_writebackStarted = qMin(m_writebackStarted, offset);
    }
    m_used = offset - m_handedOver;
    // The writer thread has planned no range that starts at or behind the handed-over end.
    std::lock_guard<std::mutex> lock(m_lock);
    while (!m_ranges.empty() && m_ranges.back().start >= offset)
        m_ranges.pop_back();
    m_rangeCursor = qMin(m_rangeCursor, int(m_ranges.size()));
    return true;
}

bool OlmOutputFile::patch(qint64 offset, const QByteArray &bytes)
{
    if (failed() || m_fd < 0)
        return false;
    if (offset >= m_handedOver) {
        memcpy(m_buffers[m_current].data() + (offset - m_handedOver), bytes.constData(), size_t(bytes.size()));
        return true;
    }
    // Behind the buffer: once everything before is in the file, overwrite it there.
    if (!flush())
        return false;
    waitForWriter();
    if (!failed() && ::pwrite(m_fd, bytes.constData(), size_t(bytes.size()), off_t(offset)) != bytes.size())
        fail(errno);
    return !failed();
}

bool OlmOutputFile::close()
{
    if (m_fd < 0)
        return !failed();
    flush();
    waitForWriter();
    stopWriter();
    if (!failed() && ::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
        fail(errno);
    if (::close(m_fd) != 0)
        fail(errno);
    m_fd = -1;
    return !failed();
}
