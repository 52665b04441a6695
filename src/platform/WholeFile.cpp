#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif
#ifndef RENAME_EXCHANGE
#define RENAME_EXCHANGE (1 << 1)
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

namespace {

bool sameFile(const QByteArray &path, quint64 device, quint64 inode)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0 && quint64(st.st_dev) == device && quint64(st.st_ino) == inode;
}

}  // namespace

int MoveReplacing(const QByteArray &from, const QByteArray &to, quint64 device, quint64 inode)
{
#ifdef SYS_renameat2
    // Swapped, the earlier file stands at from: it goes when it is the one agreed on, else it
    // gets its name back.
    if (::syscall(SYS_renameat2, AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0) {
        if (sameFile(from, device, inode)) {
            ::unlink(from.constData());
            return 0;
        }
        ::syscall(SYS_renameat2, AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE);
        return EEXIST;
    }
    if (errno == ENOENT)
        return MoveWithoutReplacing(from, to);
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
#endif
    struct stat st;
    if (::lstat(to.constData(), &st) != 0)
        return errno == ENOENT ? MoveWithoutReplacing(from, to) : errno;
    if (quint64(st.st_dev) != device || quint64(st.st_ino) != inode)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

int LockPart(int fd, const QByteArray &path)
{
    int result = 0;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        result = errno == EWOULDBLOCK ? EWOULDBLOCK : errno;
    struct stat opened;
    if (result != EWOULDBLOCK
        && (::fstat(fd, &opened) != 0 || !sameFile(path, quint64(opened.st_dev), quint64(opened.st_ino))))
        result = ENOENT;
    return result;
}

QRegularExpression WholeFilePartPattern()
{
    return QRegularExpression(QStringLiteral("^\\.\\d+-\\d+\\.part$"));
}

QStringList RemoveUnheldParts(const QString &folder, const QString &prefix, const QRegularExpression &only)
{
    QStringList removed;
    const QStringList names =
        // "prefix" + "part" too: the one name every save of an earlier version used.
        QDir(folder).entryList({prefix + QStringLiteral("*.part"), prefix + QStringLiteral("part")},
                               QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (!only.pattern().isEmpty() && !only.match(name).hasMatch())
            continue;
        const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + name);
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st;
        // Locked here, no save holds it: the one that made it has ended.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && LockPart(fd, path) == 0 && ::unlink(path.constData()) == 0)
            removed << QStringLiteral("%1 (%2 bytes)").arg(name).arg(qint64(st.st_size));
        ::close(fd);
    }
    return removed;
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
        if (m_fd >= 0 && PartIsOwn(LockPart(m_fd, part))) {
            m_partPath = part;
            return m_fd;
        }
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
            continue;
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
