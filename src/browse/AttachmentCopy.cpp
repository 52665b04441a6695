#include "browse/AttachmentCopy.h"

#include "platform/ArchiveSource.h"
#include "platform/PreviewerLauncher.h"
#include "platform/WorkerGlobals.h"
#include "scanner/EntryData.h"
#include "scanner/ScanGlobals.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <unistd.h>

namespace {

constexpr int kMaxFileNameBytes = 255;
constexpr int kMaxKeptExtension = 16;
constexpr qint64 kCopyChunk = qint64(1) << 20;

bool writeAll(int fd, const char *data, qint64 length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, size_t(length));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        length -= written;
    }
    return true;
}

// The bytes of the entry that lie inside the archive file.
qint64 bytesInArchive(const FileOffsetNode &node)
{
    if (node.llSize <= 0 || node.llDataOffset < 0 || node.llDataOffset >= lSize)
        return 0;
    return qMin(EntryDataSize(node), lSize - node.llDataOffset);
}

bool copyBytes(const FileOffsetNode &node, int out)
{
    const qint64 total = bytesInArchive(node);
    EntryDataReader reader = EntryData(node);
    QByteArray chunk;
    for (qint64 done = 0; done < total; done += chunk.size()) {
        const qint64 want = qMin(kCopyChunk, total - done);
        chunk.fill('\0', int(want));
        reader.read(chunk.data(), want);
        if (!writeAll(out, chunk.constData(), want))
            return false;
    }
    return true;
}

}  // namespace

QString CleanAttachmentFileName(const QString &name)
{
    static const QRegularExpression unwanted(QStringLiteral("[^a-zA-Z0-9 ._]"));
    QString clean = name;
    clean.remove(unwanted);
    if (clean.isEmpty() || clean == QLatin1String(".") || clean == QLatin1String(".."))
        return QStringLiteral("attachment");
    // Nothing left before the extension ("файл.txt" and "文件.txt" both leave ".txt"): a name of
    // its own, from the whole name, so one copy never replaces another's, nor is hidden.
    if (clean.startsWith(QLatin1Char('.')) && clean.lastIndexOf(QLatin1Char('.')) == 0) {
        const QByteArray hash = QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
        clean.prepend(QStringLiteral("attachment-") + QString::fromLatin1(hash));
    }
    if (clean.size() <= kMaxFileNameBytes)
        return clean;
    const int dot = clean.lastIndexOf(QLatin1Char('.'));
    const int extension = dot > 0 ? clean.size() - dot : 0;
    if (extension == 0 || extension > kMaxKeptExtension)
        return clean.left(kMaxFileNameBytes);
    return clean.left(kMaxFileNameBytes - extension) + clean.right(extension);
}

bool CopyEntryToFile(const FileOffsetNode &node, const QString &path)
{
    const int out = CreatePrivateFile(path);
    if (out < 0)
        return false;
    bool ok = copyBytes(node, out);
    if (::close(out) != 0)
        ok = false;
    if (!ok)
        QFile::remove(path);
    return ok;
}
