#include "update/UpdateGlobals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool dragged = false;
char softwareUpdate[3][32] = {};
bool UpdateVersionAvailable = false;
bool bCheckForUpdate = false;
QString VersionTxtPath;
QString ApplicationPath;

namespace UpdateHooks {
QString workDir;
QString applicationFile;
std::function<void()> endProgram;
int stallTimeoutMs = 30000;
int checkBoundMs = 30000;
// 32 KB a minute: a 20 MB package would still take ten hours, far past anyone's patience.
int progressWindowMs = 60000;
qint64 minProgressBytes = 32 * 1024;
}  // namespace UpdateHooks

QString UpdateWorkDir()
{
    QString dir = UpdateHooks::workDir;
    if (dir.isEmpty()) {
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        if (cache.isEmpty())
            return QString();
        dir = cache + QStringLiteral("/update");
    }
    dir = QDir::cleanPath(QDir(dir).absolutePath());
    if (!QDir().mkpath(dir))
        return QString();
    const QByteArray native = QFile::encodeName(dir);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return QString();
    if ((st.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return QString();
    VersionTxtPath = dir + QStringLiteral("/Corvask.txt");
    return dir + QLatin1Char('/');
}

QString UpdateApplicationFile()
{
    if (!UpdateHooks::applicationFile.isEmpty())
        return UpdateHooks::applicationFile;
    return QCoreApplication::applicationFilePath();
}

bool OpenUnlinked(QFile &file, const QString &path, int flags)
{
    // Non-blocking, so a FIFO planted at the path cannot hang the window; regular files ignore it.
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    QIODevice::OpenMode mode = QIODevice::ReadOnly;
    if ((flags & O_ACCMODE) == O_WRONLY)
        mode = QIODevice::WriteOnly;
    else if ((flags & O_ACCMODE) == O_RDWR)
        mode = QIODevice::ReadWrite;
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}
