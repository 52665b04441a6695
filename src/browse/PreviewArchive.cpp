#include "browse/PreviewArchive.h"

#include "platform/LineEndsBack.h"
#include "platform/WorkerGlobals.h"
#include "save/MessageFields.h"

#include <fcntl.h>
#include <unistd.h>

std::shared_ptr<const PreviewArchive> PreviewArchive::OfOpenArchive()
{
    // A duplicate shares the open file, not the number: closing the window's descriptor, or its
    // number being given to another archive, leaves this one reading the same file.
    const int fd = fileDescriptor >= 0 ? fcntl(fileDescriptor, F_DUPFD_CLOEXEC, 0) : -1;
    return std::shared_ptr<const PreviewArchive>(new PreviewArchive(fd, fd >= 0 ? lSize : 0));
}

PreviewArchive::~PreviewArchive()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QByteArray PreviewArchive::read(qint64 offset, qint64 length, qint64 maxLength) const
{
    return m_fd >= 0 ? ReadArchiveBytes(m_fd, m_size, offset, length, maxLength) : QByteArray();
}

QByteArray PreviewArchive::readEntry(qint64 offset, qint64 length, int lineEndsBack, qint64 maxLength) const
{
    if (lineEndsBack == 0)
        return read(offset, length, maxLength);
    if (m_fd < 0 || offset < 0 || offset >= m_size || length <= 0)
        return QByteArray();
    EntryDataReader reader(m_fd, offset, qMin(length, m_size - offset), lineEndsBack);
    QByteArray bytes(int(qBound<qint64>(0, qMin(length, maxLength), qint64(1) << 30)), Qt::Uninitialized);
    bytes.resize(int(reader.read(bytes.data(), bytes.size())));
    return bytes;
}

qint64 ArchiveReadSize(qint64 offset, qint64 length)
{
    if (offset < 0 || offset >= lSize || length <= 0)
        return 0;
    return qMin(qMin(length, lSize - offset), kMaxArchiveTextRead);
}

ArchiveRead ReaderOf(const std::shared_ptr<const PreviewArchive> &archive)
{
    return
        [archive](qint64 offset, qint64 length, qint64 maxLength) { return archive->read(offset, length, maxLength); };
}

QString PreviewItemName(const KeptName &kept, const std::shared_ptr<const PreviewArchive> &archive, qint64 offset,
                        qint64 length, const char *startTag)
{
    if (kept.kept)
        return QString::fromUtf8(kept.bytes);
    return ItemElementName(ReaderOf(archive), offset, length, startTag, kPreviewNameReadBound);
}
