#pragma once
// The open archive as one preview job reads it, and what a click's reads from it take.

#include "browse/ItemTexts.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

// The open archive as one preview job reads it: a descriptor of the job's own, so the window may
// close or replace its archive while the job still reads, and the size the archive had.
class PreviewArchive {
public:
    // A handle on the archive the window has open now (one that reads nothing when none is).
    static std::shared_ptr<const PreviewArchive> OfOpenArchive();
    ~PreviewArchive();
    PreviewArchive(const PreviewArchive &) = delete;
    PreviewArchive &operator=(const PreviewArchive &) = delete;
    // Bytes at [offset, offset + length), clamped to the archive and to maxLength.
    QByteArray read(qint64 offset, qint64 length, qint64 maxLength) const;
    // An entry's data of length stored bytes, its line ends converted back lineEndsBack times
    // (as the scan found them converted), at most maxLength bytes.
    QByteArray readEntry(qint64 offset, qint64 length, int lineEndsBack, qint64 maxLength) const;

private:
    PreviewArchive(int fd, qint64 size) : m_fd(fd), m_size(size) {}
    int m_fd;
    qint64 m_size;
};

// The bytes a read of length bytes at offset takes from the open archive: none past its end.
qint64 ArchiveReadSize(qint64 offset, qint64 length);
// Reads through a preview job's archive.
ArchiveRead ReaderOf(const std::shared_ptr<const PreviewArchive> &archive);

// A copy of a record for a job that points into no list and holds no name: the record list may
// be freed while the job runs.
template <typename Record>
Record DetachedRecord(const Record &record, char *Record::*name)
{
    Record copy = record;
    copy.pNext = nullptr;
    copy.*name = nullptr;
    return copy;
}
// A name the scan kept, copied for a job (the record list may be freed while it runs); none when
// the scan kept none, as for a name over 255 characters, which only the item's element holds.
struct KeptName {
    explicit KeptName(const char *name) : kept(name != nullptr), bytes(name) {}
    bool kept;
    QByteArray bytes;
};
// The name a preview shows: the kept one, else the startTag element's of the item at offset,
// read through the job's archive.
QString PreviewItemName(const KeptName &kept, const std::shared_ptr<const PreviewArchive> &archive, qint64 offset,
                        qint64 length, const char *startTag);
