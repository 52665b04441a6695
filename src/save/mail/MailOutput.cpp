// A message's output: the mailbox append, the message file named when whole, memory.

#include "save/mail/MailOutput.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

// A mailbox is appended to only when it is a regular file of its own: a link planted at its
// path is never written through, nor a device or a pipe opened. It is written under a hidden
// name of this save's (locked, so no sweep takes it), and under its own name it holds only
// whole messages: one that stands is moved back to the hidden name first. Returns the
// descriptor, or minus the error.
int openMailboxFile(const QByteArray &native, const QByteArray &hidden, bool *created)
{
    struct stat named;
    *created = ::lstat(native.constData(), &named) != 0;
    if (*created && errno != ENOENT)
        return -errno;
    if (!*created && !S_ISREG(named.st_mode))
        return -EINVAL;
    if (!*created && ::rename(native.constData(), hidden.constData()) != 0)
        return -errno;
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const int fd = ::open(hidden.constData(), kFlags | (*created ? O_CREAT | O_EXCL : 0), 0644);
    if (fd < 0) {
        const int error = errno;
        if (!*created)
            MoveWithoutReplacing(hidden, native);
        return -error;
    }
    LockPart(fd, hidden);
    return fd;
}

// A hidden name beside path, of this process and not named like any output.
QByteArray hiddenNameBeside(const QString &path)
{
    static std::atomic<quint64> serial{0};
    const QByteArray folder = QFile::encodeName(QFileInfo(path).path());
    return folder + "/." + QByteArray::number(qint64(::getpid())) + "-m" + QByteArray::number(++serial) + ".part";
}

}  // namespace

MailOutput::~MailOutput()
{
    // A message file never closed is not whole: m_whole removes it unnamed. A mailbox keeps
    // its whole messages, under its own name.
    if (!m_hidden.isEmpty() || m_nextName)
        discard();
    else if (m_file)
        std::fclose(m_file);
}

void MailOutput::removeBeside()
{
    QStringList folders;
    for (const QString &path : m_beside) {
        ::unlink(nativePath(path).constData());
        const QString folder = QFileInfo(path).path();
        if (!folders.contains(folder))
            folders.append(folder);
    }
    for (const QString &folder : folders)
        ::rmdir(nativePath(folder).constData());
    m_beside.clear();
}

void MailOutput::fail(int errorNumber)
{
    if (!m_failed)
        m_error = qt_error_string(errorNumber ? errorNumber : EIO);
    m_failed = true;
}

void MailOutput::useLargeBuffer()
{
    // A message goes out in one write, never one per line or per stdio block.
    if (m_buffer.size() != kBufferBytes)
        m_buffer.resize(kBufferBytes);
    setvbuf(m_file, m_buffer.data(), _IOFBF, size_t(m_buffer.size()));
}

void MailOutput::restart(const QString &path)
{
    if (m_nextName)
        discard();
    else if (m_file || m_inMemory)
        close();
    m_path = path;
    m_claimed.clear();
    m_beside.clear();
    m_leftHidden.clear();
    m_error.clear();
    m_failed = false;
    m_created = false;
    m_written = 0;
    m_messageBytes = 0;
    m_startSize = 0;
}

bool MailOutput::openAppend(const QString &path)
{
    restart(path);
    const QByteArray hidden = hiddenNameBeside(path);
    const int fd = openMailboxFile(nativePath(path), hidden, &m_created);
    if (fd < 0) {
        fail(-fd);
        if (fd == -ELOOP || fd == -EINVAL)
            m_error = QStringLiteral("a link or no regular file stands there; it is never written through");
        return false;
    }
    m_hidden = hidden;
    m_file = ::fdopen(fd, "a");
    if (!m_file) {
        fail(errno);
        ::close(fd);
        nameMailbox();
        return false;
    }
    useLargeBuffer();
    // Append mode writes at the end whatever the position; the end is where this message starts.
    if (fseeko(m_file, 0, SEEK_END) == 0) {
        const off_t end = ftello(m_file);
        m_startSize = end > 0 ? qint64(end) : 0;
    }
    return true;
}

bool MailOutput::createNew(const QString &folder, std::function<QString()> nextName)
{
    restart(QString());
    const int fd = m_whole.open(folder);
    if (fd < 0) {
        fail(-fd);
        return false;
    }
    // The stream writes through a copy of the descriptor: the file keeps its own until it is
    // named, as naming an unnamed file goes through it.
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    m_file = copy >= 0 ? ::fdopen(copy, "w") : nullptr;
    if (!m_file) {
        fail(errno);
        if (copy >= 0)
            ::close(copy);
        m_whole.close();
        return false;
    }
    m_nextName = std::move(nextName);
    m_created = true;
    useLargeBuffer();
    return true;
}

QString MailOutput::claimName(const std::function<bool(const QString &)> &besideFree)
{
    if (!m_nextName || m_failed)
        return QString();
    if (!m_claimed.isEmpty())
        return m_claimed;
    for (;;) {
        const QString path = m_nextName();
        if (path.isEmpty())
            return QString();
        struct stat st;
        if (::lstat(nativePath(path).constData(), &st) != 0 && errno == ENOENT && besideFree(path)) {
            m_claimed = path;
            return path;
        }
    }
}

bool MailOutput::nameWholeFile()
{
    if (!m_nextName)
        return !m_failed;
    const std::function<QString()> nextName = std::move(m_nextName);
    m_nextName = nullptr;
    QString claimed = std::move(m_claimed);
    m_claimed.clear();
    for (int error = EEXIST; !m_failed && error == EEXIST;) {
        const QString path = claimed.isEmpty() ? nextName() : claimed;
        claimed.clear();
        if (path.isEmpty()) {
            fail(EEXIST);
            m_error = QStringLiteral("no file number is left");
        } else if ((error = m_whole.publish(path)) == 0) {
            m_path = path;
        } else if (error != EEXIST) {
            fail(error);
        }
    }
    m_whole.close();
    if (m_failed)
        removeBeside();
    m_beside.clear();
    return !m_failed;
}

bool MailOutput::rewriteStart(const QByteArray &bytes)
{
    if (m_inMemory && !m_failed) {
        // As in a file: what reaches past the end extends it.
        m_memory.replace(0, qMin(bytes.size(), m_memory.size()), bytes);
        return true;
    }
    if (!m_file || m_failed)
        return false;
    errno = 0;
    const bool ok = std::fflush(m_file) == 0 && fseeko(m_file, 0, SEEK_SET) == 0
        && std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_file) == size_t(bytes.size())
        && std::fflush(m_file) == 0 && fseeko(m_file, 0, SEEK_END) == 0;
    if (!ok)
        fail(errno);
    return ok;
}

void MailOutput::openMemory(qint64 limit, qint64 expected)
{
    restart(QString());
    m_inMemory = true;
    m_memoryLimit = limit;
    m_memory.clear();
    if (expected > 0)
        m_memory.reserve(int(qMin(expected, limit)));
}

QByteArray MailOutput::takeMemory()
{
    m_inMemory = false;
    QByteArray bytes;
    bytes.swap(m_memory);
    return bytes;
}

bool MailOutput::write(const char *data, qint64 size)
{
    if (m_inMemory && !m_failed) {
        if (qint64(m_memory.size()) + size > m_memoryLimit) {
            fail(EFBIG);
            return false;
        }
        m_memory.append(data, int(size));
        m_written += size;
        m_messageBytes += size;
        return true;
    }
    if (!m_file || m_failed)
        return false;
    if (size <= 0)
        return true;
    errno = 0;
    const size_t n = std::fwrite(data, 1, size_t(size), m_file);
    m_written += qint64(n);
    m_messageBytes += qint64(n);
    if (n != size_t(size))
        fail(errno);
    return !m_failed;
}

bool MailOutput::write(const char *text)
{
    return write(text, text ? qint64(std::strlen(text)) : 0);
}

bool MailOutput::close()
{
    m_inMemory = false;
    if (!m_file)
        return !m_failed;
    errno = 0;
    if (std::fflush(m_file) != 0)
        fail(errno);
    errno = 0;
    if (std::fclose(m_file) != 0)
        fail(errno);
    m_file = nullptr;
    if (!m_hidden.isEmpty())
        return nameMailbox() && !m_failed;
    return nameWholeFile();
}

bool MailOutput::nameMailbox()
{
    const QByteArray hidden = m_hidden;
    m_hidden.clear();
    if (const int error = MoveWithoutReplacing(hidden, nativePath(m_path))) {
        // Its messages stay under the hidden name rather than be lost.
        fail(error);
        m_leftHidden = hidden;
        return false;
    }
    return true;
}

void MailOutput::cancel(const QString &reason)
{
    fail(ECANCELED);
    m_error = reason;
}

bool MailOutput::endMessage()
{
    if (!m_file || m_failed)
        return false;
    errno = 0;
    if (std::fflush(m_file) != 0) {
        fail(errno);
        return false;
    }
    // The next message begins after this one: a discard of it must keep this one.
    m_startSize += m_messageBytes;
    m_messageBytes = 0;
    return true;
}

bool MailOutput::discard()
{
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (m_nextName) {
        // Never named: closing it removes it.
        m_nextName = nullptr;
        m_claimed.clear();
        m_whole.close();
        removeBeside();
        return true;
    }
    if (m_path.isEmpty() || m_hidden.isEmpty())
        return false;
    // What stands of the mailbox is its whole messages: they take its name again.
    if (m_created && m_startSize == 0) {
        const bool removed = ::unlink(m_hidden.constData()) == 0;
        m_hidden.clear();
        return removed;
    }
    const bool cut = ::truncate(m_hidden.constData(), off_t(m_startSize)) == 0;
    const bool failedBefore = m_failed;
    const bool named = nameMailbox();
    m_failed = failedBefore;
    return cut && named;
}
