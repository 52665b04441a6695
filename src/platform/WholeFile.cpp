#include "platform/WholeFile.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace {

std::atomic<bool> unnamedFilesAllowed{true};
std::atomic<quint64> partNumber{0};

// Leftovers of a save that stopped hard may hold a few part names.
constexpr int kPartNameAttempts = 100;

// An unnamed file is named through its /proc link; without /proc it could never be named.
bool canNameUnnamedFiles()
{
    static const bool procReachable = ::access("/proc/self/fd", X_OK) == 0;
    return procReachable && unnamedFilesAllowed.load(std::memory_order_relaxed);
}

// The errors of a kernel or file system that makes no unnamed files.
bool unnamedFilesRefused(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

int linkUnnamed(int fd, const QByteArray &target)
{
    char link[40];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, link, AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

}  // namespace

int MoveWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
#ifdef SYS_renameat2
    if (::syscall(SYS_renameat2, AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
#endif
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

WholeFile::~WholeFile()
{
    close();
}

void WholeFile::setUnnamedFilesAllowed(bool allowed)
{
    unnamedFilesAllowed.store(allowed, std::memory_order_relaxed);
}

int WholeFile::open(const QString &folder)
{
    close();
    QByteArray dir = QFile::encodeName(folder);
    if (canNameUnnamedFiles()) {
        m_fd = ::open(dir.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            return m_fd;
        if (!unnamedFilesRefused(errno))
            return -errno;
    }
    if (!dir.endsWith('/'))
        dir += '/';
    // Hidden, and not named like any output, so no reader takes it for a whole file.
    const QByteArray prefix = dir + '.' + QByteArray::number(qint64(::getpid())) + '-';
    for (int attempt = 0; attempt < kPartNameAttempts; ++attempt) {
        const QByteArray part = prefix + QByteArray::number(++partNumber) + ".part";
        m_fd = ::open(part.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_partPath = part;
            return m_fd;
        }
        if (errno != EEXIST)
            return -errno;
    }
    return -EEXIST;
}

int WholeFile::publish(const QString &path)
{
    if (m_fd < 0 || m_published)
        return EBADF;
    const QByteArray target = QFile::encodeName(path);
    const int error = m_partPath.isEmpty() ? linkUnnamed(m_fd, target) : MoveWithoutReplacing(m_partPath, target);
    if (error == 0) {
        m_published = true;
        m_partPath.clear();
    }
    return error;
}

void WholeFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_partPath.isEmpty())
        ::unlink(m_partPath.constData());
    m_fd = -1;
    m_partPath.clear();
    m_published = false;
}
