// One numbered file per message: exclusive creation, and the .emlx length line.

#include "save/mail/MessageFiles.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The mail program pads the count to ten characters; the line is rewritten in place.
constexpr int kLengthDigits = 10;

const char kEmptyBodyHtml[] = "<html><head></head><body style=3D\"word-wrap: break-word; -webkit-nbsp-mode: space; "
                              "-webkit-line-break: after-white-space; color: rgb(0, 0, 0); font-size: 14px; "
                              "font-family: Calibri, sans-serif;\"><div><br></div></body></html>";

QStringList writeWithLengthLine(const MailMessage &message)
{
    const QByteArray placeholder = QByteArray(kLengthDigits, ' ') + '\n';
    message.out.write(placeholder);
    QStringList missing = WriteMailSteps(message);
    const QByteArray count = QByteArray::number(message.out.bytesWritten() - placeholder.size());
    if (count.size() > kLengthDigits) {
        missing << QStringLiteral("the message is too large for its length line");
        return missing;
    }
    message.out.rewriteStart(count.leftJustified(kLengthDigits, ' '));
    return missing;
}

}  // namespace

QByteArray EmptyBodyHtml()
{
    return QByteArray::fromRawData(kEmptyBodyHtml, int(sizeof kEmptyBodyHtml - 1));
}

namespace {

// Where a message file is written until it is whole: hidden, and not named like a message, so no
// mail program takes a file cut short for one.
QString partPath(const QString &path, int attempt)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    QString part = path.left(slash + 1) + QLatin1Char('.') + path.mid(slash + 1) + QStringLiteral(".part");
    if (attempt > 0)
        part += QString::number(attempt);
    return part;
}

int createExclusive(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// Leftovers of an earlier save that stopped hard may hold the first part names.
constexpr int kPartNameAttempts = 100;

}  // namespace

bool MailOutput::createNew(const QString &path, bool *taken)
{
    restart(path);
    *taken = false;
    // The final name is claimed at once: numbering never hands it out twice, and no file that
    // stands there is ever written over. It stays empty until the whole message replaces it.
    const int claim = createExclusive(path);
    if (claim < 0) {
        *taken = errno == EEXIST;
        fail(errno);
        return false;
    }
    ::close(claim);
    int fd = -1;
    int why = 0;
    for (int attempt = 0; fd < 0 && attempt < kPartNameAttempts; ++attempt) {
        const QString part = partPath(path, attempt);
        fd = createExclusive(part);
        why = errno;
        if (fd >= 0)
            m_path = part;
        else if (why != EEXIST)
            break;
    }
    if (fd < 0) {
        ::unlink(QFile::encodeName(path).constData());
        fail(why);
        return false;
    }
    m_finalPath = path;
    m_created = true;
    m_file = ::fdopen(fd, "w");
    if (!m_file) {
        const int error = errno;
        ::close(fd);
        fail(error);
        discard();
        return false;
    }
    useLargeBuffer();
    return true;
}

bool MailOutput::commitFinal()
{
    if (m_finalPath.isEmpty())
        return !m_failed;
    if (!m_failed && ::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(m_finalPath).constData()) != 0)
        fail(errno);
    if (m_failed)
        return false;
    m_path = m_finalPath;
    m_finalPath.clear();
    return true;
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

bool OpenMessageFile(MailOutput &out, const MailFormatStyle &style, MailSaveContext &context, const QString &folder,
                     QString *path, QString *error)
{
    auto last = context.lastFileNumber.find(folder);
    if (last == context.lastFileNumber.end()) {
        if (!QDir().mkpath(folder)) {
            *path = folder;
            *error = QStringLiteral("the folder could not be made");
            return false;
        }
        last = context.lastFileNumber.insert(folder, 0);
    }
    // A name that exists (another folder's message, an earlier save) is never written into.
    for (;;) {
        if (*last == UINT_MAX) {
            *path = folder;
            *error = QStringLiteral("no file number is left");
            return false;
        }
        *path = folder + QString::number(++*last) + style.fileExtension;
        bool taken = false;
        if (out.createNew(*path, &taken))
            break;
        if (!taken) {
            *error = out.error();
            return false;
        }
    }
    return true;
}

QStringList WriteMessageFile(const MailMessage &message)
{
    if (message.style.htmlPage) {
        WriteHtmlPage(message);
        return QStringList();
    }
    if (message.style.lengthFirstLine)
        return writeWithLengthLine(message);
    return WriteMailSteps(message);
}
