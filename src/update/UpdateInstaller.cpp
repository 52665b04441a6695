#include "update/UpdateInstaller.h"

#include "platform/ArchiveSource.h"
#include "update/PackageUnpack.h"
#include "update/UpdateGlobals.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxEntries = 200000;
constexpr quint32 kMaxDirectoryBytes = 64u << 20;
constexpr int kCopyTimeoutMs = 10 * 60 * 1000;
constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr quint32 kDirectoryHeader = 0x02014b50;

quint16 u16(const char *p)
{
    return qFromLittleEndian<quint16>(p);
}
quint32 u32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

// Reads the end-of-central-directory record: the directory's offset, size and entry count.
bool findDirectory(QFile &file, quint64 *offset, quint64 *size, int *count, QString *error)
{
    const qint64 fileSize = file.size();
    const qint64 tail = qMin<qint64>(fileSize, 22 + 0xFFFF);
    QByteArray data(int(qMax<qint64>(tail, 0)), '\0');
    if (tail < 22 || readAt(file.handle(), fileSize - tail, data.data(), tail) != tail) {
        *error = QStringLiteral("too short for a ZIP archive");
        return false;
    }
    for (int at = data.size() - 22; at >= 0; --at) {
        const char *p = data.constData() + at;
        if (u32(p) != kEndOfDirectory)
            continue;
        if (u16(p + 10) == 0xFFFF || u32(p + 12) == 0xFFFFFFFF || u32(p + 16) == 0xFFFFFFFF) {
            *error = QStringLiteral("ZIP64 archive");
            return false;
        }
        *count = u16(p + 10);
        if (u32(p + 12) > kMaxDirectoryBytes) {
            *error = QStringLiteral("central directory too large");
            return false;
        }
        *size = u32(p + 12);
        *offset = u32(p + 16);
        if (*offset + *size > quint64(fileSize - tail + at)) {
            *error = QStringLiteral("central directory outside the file");
            return false;
        }
        return true;
    }
    *error = QStringLiteral("no end of central directory");
    return false;
}

bool hasDotDot(const QByteArray &name)
{
    const QList<QByteArray> parts = name.split('/');
    return std::any_of(parts.begin(), parts.end(), [](const QByteArray &part) { return part == ".."; });
}

PackageEntry directoryEntry(const char *record)
{
    PackageEntry entry;
    entry.name = QByteArray(record + 46, u16(record + 28));
    entry.size = u32(record + 24);
    entry.host = quint8(record[5]);
    entry.type = (u32(record + 38) >> 16) & S_IFMT;
    entry.isLink = entry.host == 3 && entry.type == S_IFLNK;
    return entry;
}

// Empty for a file, a folder, or a link made on Unix. Other systems keep other things in the high
// half of the attributes, yet some unpackers read it as a Unix mode there too (and make links from
// entries made on VMS, Atari, BeOS or AtheOS); a link must say it is one the Unix way.
QString entryKindProblem(const PackageEntry &entry)
{
    if (entry.type == 0 || entry.type == S_IFREG || entry.type == S_IFDIR || entry.isLink)
        return QString();
    if (entry.type == S_IFLNK)
        return QStringLiteral("link entry not made on Unix (system %1): ").arg(entry.host);
    return QStringLiteral("neither file, folder nor link: ");
}

QString lastError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool isPlainExecutable(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink() && info.isExecutable();
}

InstallResult failed(InstallStatus status, const QString &detail)
{
    InstallResult result;
    result.status = status;
    result.detail = detail;
    return result;
}

// Copies the folder source, with modes and links, to the new folder target.
bool copyTree(const QString &source, const QString &target, QString *error)
{
    QProcess cp;
    cp.setProcessChannelMode(QProcess::MergedChannels);
    cp.start(QStringLiteral("cp"), {QStringLiteral("-a"), QStringLiteral("--"), source + QStringLiteral("/."), target});
    cp.closeWriteChannel();
    if (!cp.waitForStarted() || !cp.waitForFinished(kCopyTimeoutMs) || cp.exitStatus() != QProcess::NormalExit
        || cp.exitCode() != 0) {
        *error = QStringLiteral("copy failed: ") + QString::fromLocal8Bit(cp.readAll()).trimmed();
        return false;
    }
    return QFile::setPermissions(target, QFileInfo(source).permissions());
}

// Puts the folder fresh at target in one step, keeping what target held until then.
bool swapIn(const QString &fresh, const QString &target, QString *error)
{
    const QByteArray from = QFile::encodeName(fresh);
    const QByteArray to = QFile::encodeName(target);
    struct stat st;
    if (::lstat(to.constData(), &st) != 0) {
        if (::rename(from.constData(), to.constData()) == 0)
            return true;
        *error = lastError("rename");
        return false;
    }
    // Exchanged: fresh now holds the old bundle, which the caller removes.
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0)
        return true;
    // A file system without exchange: move the old one aside, and back if the new one fails.
    const QByteArray backup = from + ".old";
    if (::rename(to.constData(), backup.constData()) != 0) {
        *error = lastError("rename");
        return false;
    }
    if (::rename(from.constData(), to.constData()) != 0) {
        *error = lastError("rename");
        ::rename(backup.constData(), to.constData());
        return false;
    }
    ::rename(backup.constData(), from.constData());  // so the caller's clean-up removes it
    return true;
}

}  // namespace

bool ListPackageEntries(const QString &path, QVector<PackageEntry> *entries, QString *error)
{
    entries->clear();
    QFile file(path);
    if (!OpenUnlinked(file, path, O_RDONLY)) {
        *error = QStringLiteral("cannot open the package");
        return false;
    }
    quint64 offset = 0, size = 0;
    int count = 0;
    if (!findDirectory(file, &offset, &size, &count, error))
        return false;
    QByteArray dir(int(size), '\0');
    if (readAt(file.handle(), qint64(offset), dir.data(), qint64(size)) != qint64(size)) {
        *error = QStringLiteral("cannot read the central directory");
        return false;
    }
    // Every record the directory holds, whatever its 16-bit count says: readers that unpack walk
    // them all, so a count that wrapped must not hide one from the check.
    int at = 0;
    while (at < dir.size()) {
        if (entries->size() >= kMaxEntries) {
            *error = QStringLiteral("too many entries");
            return false;
        }
        if (at + 46 > dir.size() || u32(dir.constData() + at) != kDirectoryHeader) {
            *error = QStringLiteral("damaged central directory");
            return false;
        }
        const char *p = dir.constData() + at;
        const int nameLength = u16(p + 28);
        const int next = at + 46 + nameLength + u16(p + 30) + u16(p + 32);
        if (next > dir.size()) {
            *error = QStringLiteral("damaged central directory");
            return false;
        }
        entries->append(directoryEntry(p));
        at = next;
    }
    if (quint16(entries->size()) != count) {
        *error = QStringLiteral("central directory count does not match its records");
        return false;
    }
    return true;
}

QString CheckPackageEntries(const QVector<PackageEntry> &entries)
{
    if (entries.size() > kMaxEntries)
        return QStringLiteral("too many entries");
    const QByteArray bundle = PackageBundleName().toLatin1() + '/';
    QVector<QByteArray> links;
    QSet<QByteArray> names;
    quint64 total = 0;
    bool hasBundle = false;
    for (const PackageEntry &entry : entries) {
        const QByteArray &name = entry.name;
        if (name.isEmpty() || name.startsWith('/') || name.contains('\\') || name.contains('\0') || hasDotDot(name))
            return QStringLiteral("unsafe entry name: ") + QString::fromUtf8(name);
        const QByteArray key = name.endsWith('/') ? name.left(name.size() - 1) : name;
        if (names.contains(key))
            return QStringLiteral("entry stored twice: ") + QString::fromUtf8(name);
        names.insert(key);
        const bool inBundle = name.startsWith(bundle);
        if (!inBundle && !name.startsWith("__MACOSX/"))
            return QStringLiteral("entry outside the bundle: ") + QString::fromUtf8(name);
        const QString kind = entryKindProblem(entry);
        if (!kind.isEmpty())
            return kind + QString::fromUtf8(name);
        if (entry.isLink) {
            if (!inBundle)
                return QStringLiteral("link outside the bundle: ") + QString::fromUtf8(name);
            links.append(name + '/');
        }
        hasBundle = hasBundle || inBundle;
        total += entry.size;
        if (total > kMaxUnpackedBytes)
            return QStringLiteral("unpacked size too large");
    }
    // Nothing may be written through a link the same package makes. In name order the entries
    // below a link follow "link/" at once; a search per link keeps many links and entries fast.
    QVector<QByteArray> sorted = names.values().toVector();
    std::sort(sorted.begin(), sorted.end());
    for (const QByteArray &link : qAsConst(links)) {
        const auto below = std::lower_bound(sorted.cbegin(), sorted.cend(), link);
        if (below != sorted.cend() && below->startsWith(link))
            return QStringLiteral("entry below a link: ") + QString::fromUtf8(*below);
    }
    return hasBundle ? QString() : QStringLiteral("no ") + PackageBundleName() + QStringLiteral(" folder");
}

InstalledBundle InstalledBundlePaths(const QString &applicationFile)
{
    const QString file = QDir::cleanPath(QFileInfo(applicationFile).absoluteFilePath());
    const auto up = [](const QString &path) {
        const int slash = path.lastIndexOf(QLatin1Char('/'));
        return slash <= 0 ? QStringLiteral("/") : path.left(slash);
    };
    QString bundle = up(file);  // the executable's folder
    for (int i = 0; i < 5; ++i)
        bundle = up(bundle);
    InstalledBundle paths;
    paths.bundle = bundle;
    paths.folder = up(bundle);
    paths.executable = bundle == QLatin1String("/") ? QString() : file.mid(bundle.size() + 1);
    return paths;
}

InstallResult InstallPackage(const QString &package, const QString &workDir, const QString &applicationFile)
{
    const InstalledBundle installed = InstalledBundlePaths(applicationFile);
    const QFileInfo bundleInfo(installed.bundle);
    if (installed.folder == QLatin1String("/") || !installed.bundle.endsWith(QLatin1String(".app"))
        || !bundleInfo.isDir() || bundleInfo.isSymLink()
        || !isPlainExecutable(installed.bundle + QLatin1Char('/') + installed.executable))
        return failed(InstallStatus::NotABundleLayout,
                      QStringLiteral("not an application bundle: ") + installed.bundle);

    const auto removePackage = [&package] { QFile::remove(package); };
    QVector<PackageEntry> entries;
    QString error;
    if (!ListPackageEntries(package, &entries, &error)) {
        removePackage();
        return failed(InstallStatus::UnpackFailed, error);
    }
    error = CheckPackageEntries(entries);
    if (!error.isEmpty()) {
        removePackage();
        return failed(InstallStatus::MissingBundleInPackage, error);
    }
    QTemporaryDir staging(workDir + QStringLiteral("stage-XXXXXX"));
    if (!staging.isValid() || !UnpackPackage(package, staging.path(), entries, &error)) {
        removePackage();
        return failed(InstallStatus::UnpackFailed, error.isEmpty() ? staging.errorString() : error);
    }
    ApplicationPath = staging.filePath(PackageBundleName());
    const QFileInfo staged(ApplicationPath);
    if (!staged.isDir() || staged.isSymLink()
        || !isPlainExecutable(ApplicationPath + QLatin1Char('/') + installed.executable)) {
        removePackage();
        return failed(InstallStatus::MissingBundleInPackage,
                      QStringLiteral("the package holds no program at ") + installed.executable);
    }
    if (!LinksResolveInside(ApplicationPath, &error)) {
        removePackage();
        return failed(InstallStatus::MissingBundleInPackage, error);
    }

    const QString target = installed.folder + QLatin1Char('/') + PackageBundleName();
    QTemporaryDir fresh(installed.folder + QStringLiteral("/.") + PackageBundleName() + QStringLiteral(".new-XXXXXX"));
    if (!fresh.isValid())
        return failed(InstallStatus::CopyFailed, fresh.errorString());
    if (!copyTree(ApplicationPath, fresh.path(), &error) || !swapIn(fresh.path(), target, &error))
        return failed(InstallStatus::CopyFailed, error);
    // fresh now holds the old bundle (or nothing); its removal is the last step.
    removePackage();
    InstallResult result;
    result.installedPath = target;
    return result;
}
