#include "platform/PreviewerLauncher.h"

#include "platform/WatchedProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PreviewerHooks {
std::function<qint64(const QString &, const QStringList &)> startProgram;
std::function<QString()> programPath;
}  // namespace PreviewerHooks

namespace {

bool isRunnableFile(const QString &path)
{
    const QFileInfo info(path);
    return !path.isEmpty() && info.isFile() && info.isExecutable();
}

// The argument list the process was started with, as /proc shows it; empty when unknown.
QList<QByteArray> commandLineOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().split('\0');
}

}  // namespace

QString PreviewerProgramPath()
{
    const QString path = PreviewerHooks::programPath
        ? PreviewerHooks::programPath()
        : QCoreApplication::applicationDirPath() + QStringLiteral("/FileUtil.app");
    return isRunnableFile(path) ? path : QString();
}

QString AttachmentCopyFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (base.isEmpty() || !QDir().mkpath(base))
        return QString();
    const QString folder = base + QStringLiteral("/affp");
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    // Whatever stands there must be our own real folder, closed to everybody else.
    struct stat st;
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return QString();
    if ((st.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return QString();
    return folder;
}

int CreatePrivateFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty())
        return -1;
    // An earlier copy of the same name is replaced, never written over in place.
    if (::unlink(native.constData()) != 0 && errno != ENOENT)
        return -1;
    int fd;
    do {
        fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool PreviewerProcess::launch(const QString &program, const QString &file, QObject *context,
                              std::function<void()> failed)
{
    const QStringList arguments{file};
    qint64 pid = 0;
    if (PreviewerHooks::startProgram)
        pid = PreviewerHooks::startProgram(program, arguments);
    else
        pid = StartWatchedProgram(program, arguments, context ? context : QCoreApplication::instance(),
                                  std::move(failed));
    m_pid = pid > 0 ? pid : 0;
    m_program = program;
    return m_pid > 0;
}

bool PreviewerProcess::isRunning() const
{
    if (m_pid <= 0 || ::kill(pid_t(m_pid), 0) != 0)
        return false;
    if (!QFile::exists(QStringLiteral("/proc/self/cmdline")))
        return true;
    // A script runs under its interpreter, so the program is the first or the second argument.
    const QList<QByteArray> args = commandLineOf(m_pid);
    const QByteArray program = QFile::encodeName(m_program);
    return (args.size() > 0 && args.at(0) == program) || (args.size() > 1 && args.at(1) == program);
}

bool PreviewerProcess::terminate()
{
    if (!isRunning()) {
        m_pid = 0;
        return true;
    }
    if (::kill(pid_t(m_pid), SIGTERM) != 0 && errno != ESRCH)
        return false;
    m_pid = 0;
    return true;
}
