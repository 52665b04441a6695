// Copy and removal of an output tree, done in-process: no path is ever handed to a shell. Links
// are copied and removed as links and never followed, so a link loop or a link out of the tree
// cannot make either walk run away or reach outside the tree.

#include "save/QMailSavingThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <unistd.h>

namespace {

constexpr QDir::Filters kAllEntries = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

// The mode bits alone. The "User" flags say what we may do (for the superuser: everything), and
// setPermissions would turn them into owner bits.
QFile::Permissions modeOf(const QFileInfo &info)
{
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
        | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    return info.permissions() & mode;
}

bool isRealDir(const QFileInfo &info)
{
    return info.isDir() && !info.isSymLink();
}

bool existsOrDangles(const QFileInfo &info)
{
    return info.exists() || info.isSymLink();
}

// The link's own target text, relative targets kept relative; null when it cannot be read.
QByteArray linkText(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    QByteArray buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(name.constData(), buffer.data(), size_t(buffer.size()));
        if (n < 0)
            return QByteArray();
        if (n < buffer.size())
            return buffer.left(int(n));
        if (buffer.size() >= (1 << 20))
            return QByteArray();
        buffer.resize(buffer.size() * 2);
    }
}

// A file or link already at to gives way, as a copy over it would; a folder does not.
bool clearTarget(const QString &to)
{
    const QFileInfo target(to);
    if (!existsOrDangles(target))
        return true;
    return !isRealDir(target) && QFile::remove(to);
}

bool copyLink(const QString &from, const QString &to)
{
    const QByteArray text = linkText(from);
    if (text.isNull() || !clearTarget(to))
        return false;
    return ::symlink(text.constData(), QFile::encodeName(to).constData()) == 0;
}

bool copyEntry(const QFileInfo &from, const QString &to);

bool copyFolder(const QFileInfo &from, const QString &to)
{
    const QFileInfo target(to);
    if (existsOrDangles(target) && !isRealDir(target))
        return false;
    if (!target.exists() && !QDir().mkdir(to))
        return false;
    // An unreadable folder lists as empty: that must not pass for a complete copy.
    bool ok = from.isReadable() && from.isExecutable();
    const QFileInfoList entries = QDir(from.filePath()).entryInfoList(kAllEntries, QDir::Name);
    for (const QFileInfo &entry : entries)
        ok = copyEntry(entry, to + QLatin1Char('/') + entry.fileName()) && ok;
    // Last, so a read-only source folder does not keep its copy from being filled.
    QFile::setPermissions(to, modeOf(from));
    return ok;
}

bool copyEntry(const QFileInfo &from, const QString &to)
{
    if (from.isSymLink())
        return copyLink(from.filePath(), to);
    if (from.isDir())
        return copyFolder(from, to);
    // Only regular files: reading a FIFO or a device would block or never end.
    if (!from.isFile())
        return false;
    if (!clearTarget(to) || !QFile::copy(from.filePath(), to))
        return false;
    // The copy keeps the source's mode, as a copy by the system's tools would.
    QFile::setPermissions(to, modeOf(from));
    return true;
}

bool removeEntry(const QFileInfo &info)
{
    if (!isRealDir(info))
        return QFile::remove(info.filePath());
    // A folder we may not list or change keeps its entries: give ourselves the rights first.
    const QFile::Permissions needed = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    if ((modeOf(info) & needed) != needed)
        QFile::setPermissions(info.filePath(), modeOf(info) | needed);
    bool ok = true;
    const QFileInfoList entries = QDir(info.filePath()).entryInfoList(kAllEntries);
    for (const QFileInfo &entry : entries)
        ok = removeEntry(entry) && ok;
    return QDir().rmdir(info.filePath()) && ok;
}

}  // namespace

bool QMailSavingThread::copyDir(const QString &source, const QString &destination)
{
    if (source.isEmpty() || destination.isEmpty())
        return false;
    const QFileInfo from(QDir::cleanPath(source));
    if (!existsOrDangles(from))
        return false;
    // Into an existing folder under the source's own name, else to destination itself.
    const QFileInfo dest(destination);
    const QString to = isRealDir(dest) || (dest.isSymLink() && dest.isDir())
        ? QDir(destination).filePath(from.fileName())
        : QDir::cleanPath(destination);
    if (isRealDir(from)) {
        // A folder copied into itself would grow while it is walked.
        const QString src = from.canonicalFilePath();
        const QString parent = QFileInfo(QFileInfo(to).absolutePath()).canonicalFilePath();
        if (!parent.isEmpty() && (parent == src || parent.startsWith(src + QLatin1Char('/'))))
            return false;
    }
    return copyEntry(from, to);
}

bool QMailSavingThread::RemoveDir(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(QDir::cleanPath(path));
    if (!existsOrDangles(info))
        return true;
    if (isRealDir(info) && QDir(info.absoluteFilePath()).isRoot())
        return false;
    return removeEntry(info);
}
