#include "update/PackageUnpack.h"

#include "update/UpdateGlobals.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <archive.h>
#include <archive_entry.h>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// No "..", nothing written through a link on the way; rights are set, but only the normalised ones
// each entry is given below (no owner, no set-id bits, no attributes). Every entry is written
// under an absolute name built here from its own relative one (see stagedName), so libarchive's
// refusal of absolute names cannot be asked for; the entry's own name is checked instead.
constexpr int kExtractFlags = ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_SYMLINKS
    | ARCHIVE_EXTRACT_NO_OVERWRITE | ARCHIVE_EXTRACT_PERM;

struct ReadFree {
    void operator()(archive *a) const { archive_read_free(a); }
};
struct WriteFree {
    void operator()(archive *a) const { archive_write_free(a); }
};
using ArchiveReader = std::unique_ptr<archive, ReadFree>;
using DiskWriter = std::unique_ptr<archive, WriteFree>;

QString archiveError(archive *a)
{
    const char *text = archive_error_string(a);
    return text ? QString::fromLocal8Bit(text) : QStringLiteral("unpacking failed");
}

mode_t normalisedPerm(mode_t type, mode_t perm)
{
    if (type == AE_IFDIR)
        return 0755;
    if (type == AE_IFLNK)
        return 0777;  // a link has no rights of its own
    return (perm & 0111) ? 0755 : 0644;
}

// Empty when entry is one the directory listed and not yet unpacked, of the kind its record says;
// then its rights are normalised.
QString admitEntry(archive_entry *entry, const QHash<QByteArray, PackageEntry> &waiting)
{
    const char *path = archive_entry_pathname(entry);
    const QByteArray name = path ? QByteArray(path) : QByteArray();
    const auto known = waiting.constFind(name);
    if (known == waiting.cend())
        return QStringLiteral("entry not in the package's directory, or unpacked twice: ") + QString::fromUtf8(name);
    const mode_t type = archive_entry_filetype(entry);
    if ((type != AE_IFREG && type != AE_IFDIR && type != AE_IFLNK) || archive_entry_hardlink(entry))
        return QStringLiteral("neither file, folder nor link: ") + QString::fromUtf8(name);
    // A link is made only from a record that says it is one the Unix way, and such a record only
    // makes a link: other fields may claim otherwise to one reader and not to another.
    if ((type == AE_IFLNK) != known->isLink)
        return QStringLiteral("entry is not the kind its directory record says: ") + QString::fromUtf8(name);
    archive_entry_set_perm(entry, normalisedPerm(type, archive_entry_perm(entry)));
    return QString();
}

// True when name is relative and never climbs: not empty, no leading "/", no ".." component.
bool isSafeRelativeName(const QByteArray &name)
{
    if (name.isEmpty() || name.startsWith('/'))
        return false;
    for (const QByteArray &part : name.split('/'))
        if (part == "..")
            return false;
    return true;
}

// The absolute name entry is written under: root (the staging folder with every link on the way
// resolved, so the link check below it sees real folders only) joined with the entry's own name.
// The working folder is never changed for this: other threads resolve relative names meanwhile.
QString stagedName(archive_entry *entry, const QByteArray &root)
{
    const char *path = archive_entry_pathname(entry);
    const QByteArray name = path ? QByteArray(path) : QByteArray();
    if (!isSafeRelativeName(name))
        return QStringLiteral("unsafe entry name: ") + QString::fromUtf8(name);
    const QByteArray joined = root + '/' + name;
    // Longer names would make libarchive walk into the folders one by one with chdir.
    if (joined.size() >= PATH_MAX)
        return QStringLiteral("entry name too long: ") + QString::fromUtf8(name);
    archive_entry_copy_pathname(entry, joined.constData());
    return QString();
}

// Copies the data of the current entry, which declares declared bytes, counting what is written.
QString copyData(archive *in, archive *out, quint64 declared, quint64 *total)
{
    quint64 written = 0;
    for (;;) {
        const void *block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(in, &block, &size, &offset);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK)
            return archiveError(in);
        if (offset < 0 || quint64(offset) != written)
            return QStringLiteral("entry data out of order");
        if (size > declared - written)
            return QStringLiteral("entry holds more than it declares");
        if (size > kMaxUnpackedBytes - *total)
            return QStringLiteral("unpacked size too large");
        if (archive_write_data_block(out, block, size, offset) != ARCHIVE_OK)
            return archiveError(out);
        written += size;
        *total += size;
    }
    return written == declared ? QString() : QStringLiteral("entry holds less than it declares");
}

QString unpackEntries(archive *in, archive *out, const QByteArray &root, QHash<QByteArray, PackageEntry> waiting)
{
    quint64 total = 0;
    archive_entry *entry = nullptr;
    int r;
    while ((r = archive_read_next_header(in, &entry)) == ARCHIVE_OK) {
        QString problem = admitEntry(entry, waiting);
        if (!problem.isEmpty())
            return problem;
        const PackageEntry known = waiting.take(QByteArray(archive_entry_pathname(entry)));
        problem = stagedName(entry, root);
        if (!problem.isEmpty())
            return problem;
        const bool hasData = archive_entry_filetype(entry) == AE_IFREG;
        // The size is left to the bytes themselves: a declared one would cut or pad the file.
        archive_entry_unset_size(entry);
        if (archive_write_header(out, entry) != ARCHIVE_OK)
            return archiveError(out);
        if (hasData) {
            problem = copyData(in, out, known.size, &total);
            if (!problem.isEmpty())
                return QString::fromUtf8(known.name) + QStringLiteral(": ") + problem;
        }
        if (archive_write_finish_entry(out) != ARCHIVE_OK)
            return archiveError(out);
    }
    if (r != ARCHIVE_EOF)
        return archiveError(in);
    // A record the reader passed over (two records sharing one entry's data, say) would leave the
    // bundle without a file the package names. Resource forks may be folded into their files.
    for (const PackageEntry &left : qAsConst(waiting))
        if (!left.name.startsWith("__MACOSX/"))
            return QStringLiteral("entry not unpacked: ") + QString::fromUtf8(left.name);
    return QString();
}

// Folders made for the entries below them, or named again by a later entry, keep the rights they
// were made with (the process's umask decides those): every folder below root gets 0755.
bool normaliseFolders(const QString &root, QString *error)
{
    QDirIterator it(root, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (::chmod(QFile::encodeName(path).constData(), 0755) != 0) {
            *error = QStringLiteral("cannot set the rights of ") + QDir(root).relativeFilePath(path);
            return false;
        }
    }
    return true;
}

QByteArray canonicalPath(const QByteArray &path)
{
    char *resolved = ::realpath(path.constData(), nullptr);
    const QByteArray result = resolved ? QByteArray(resolved) : QByteArray();
    std::free(resolved);
    return result;
}

}  // namespace

bool UnpackPackage(const QString &path, const QString &staging, const QVector<PackageEntry> &listed, QString *error)
{
    QHash<QByteArray, PackageEntry> byName;
    for (const PackageEntry &entry : listed)
        byName.insert(entry.name, entry);
    QFile file(path);
    ArchiveReader in(archive_read_new());
    DiskWriter out(archive_write_disk_new());
    if (!OpenUnlinked(file, path, O_RDONLY) || !in || !out) {
        *error = QStringLiteral("cannot open the package");
        return false;
    }
    // The seekable reader takes every entry from the central directory, as the check did.
    archive_read_support_format_zip_seekable(in.get());
    archive_write_disk_set_options(out.get(), kExtractFlags);
    if (archive_read_open_fd(in.get(), file.handle(), 64 * 1024) != ARCHIVE_OK) {
        *error = archiveError(in.get());
        return false;
    }
    const QByteArray root = canonicalPath(QFile::encodeName(staging));
    if (root.isEmpty()) {
        *error = QStringLiteral("cannot resolve the staging folder");
        return false;
    }
    *error = unpackEntries(in.get(), out.get(), root, byName);
    // Closing sets the rights of the folders the entries named, kept writable until now.
    if (archive_write_close(out.get()) != ARCHIVE_OK && error->isEmpty())
        *error = archiveError(out.get());
    return error->isEmpty() && normaliseFolders(staging, error);
}

bool LinksResolveInside(const QString &bundle, QString *error)
{
    const QByteArray root = canonicalPath(QFile::encodeName(bundle));
    if (root.isEmpty()) {
        *error = QStringLiteral("cannot resolve the bundle: ") + bundle;
        return false;
    }
    const QDir above = QFileInfo(bundle).dir();
    QDirIterator it(bundle, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!it.fileInfo().isSymLink())
            continue;
        const QString shown = above.relativeFilePath(path);
        const QByteArray native = QFile::encodeName(path);
        char target[PATH_MAX];
        const ssize_t n = ::readlink(native.constData(), target, sizeof target);
        if (n <= 0 || target[0] == '/') {
            *error = (n <= 0 ? QStringLiteral("unreadable link: ") : QStringLiteral("link with an absolute target: "))
                + shown;
            return false;
        }
        const QByteArray resolved = canonicalPath(native);
        if (resolved.isEmpty()) {
            *error = QStringLiteral("link leads nowhere: ") + shown;
            return false;
        }
        if (resolved != root && !resolved.startsWith(root + '/')) {
            *error = QStringLiteral("link leaves the bundle: ") + shown;
            return false;
        }
    }
    return true;
}
