#include "platform/ArchiveSource.h"

#include "platform/WorkerGlobals.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

qint64 readAt(int fd, qint64 offset, void *buffer, qint64 length)
{
    if (fd < 0 || offset < 0 || length < 0 || !buffer)
        return -1;
    char *out = static_cast<char *>(buffer);
    qint64 done = 0;
    while (done < length) {
        // Linux caps one read near 2 GiB; ask for at most 1 GiB at a time.
        const size_t want = size_t(qMin<qint64>(length - done, qint64(1) << 30));
        const ssize_t got = ::pread(fd, out + done, want, off_t(offset + done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? done : -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

qint64 readAt(qint64 offset, void *buffer, qint64 length)
{
    return readAt(fileDescriptor, offset, buffer, length);
}

qint64 FdArchiveSource::readAt(qint64 offset, void *buffer, qint64 length)
{
    if (offset >= m_size)
        return 0;
    return ::readAt(m_fd, offset, buffer, qMin(length, m_size - offset));
}

qint64 MemoryArchiveSource::readAt(qint64 offset, void *buffer, qint64 length)
{
    if (offset < 0 || length <= 0 || offset >= m_data.size())
        return 0;
    qint64 n = qMin(length, qint64(m_data.size()) - offset);
    if (m_maxChunk > 0)
        n = qMin(n, m_maxChunk);
    memcpy(buffer, m_data.constData() + offset, size_t(n));
    return n;
}

qint64 readFully(ArchiveSource &source, qint64 offset, void *buffer, qint64 length)
{
    char *out = static_cast<char *>(buffer);
    qint64 done = 0;
    while (done < length) {
        const qint64 got = source.readAt(offset + done, out + done, length - done);
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

int OpenArchiveFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return kNotRegularFile;
    }
    // Reads of a regular file are unaffected, but the descriptor is left as a plain open gives it.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}
