// Attachment entries that no message names any more: the message was cut off with the archive's
// tail, or lost its name, while its attachments are still whole. Found once per save, after the
// checked folders, so the mail writers can save each in a recovered message of its own.

#include "platform/Crc32.h"
#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/mail/MailWriter.h"
#include "scanner/ElementValue.h"
#include "scanner/EntryData.h"
#include "scanner/ScanGlobals.h"

namespace {

const QByteArray kAttachmentsDir("com.microsoft.__Attachments/");

// The pass reads whole archives' worth of bytes: a stop is asked at every message and entry, and
// every chunk of a large one.
bool stopped(const MailSaveContext &context)
{
    return context.stopRequested && context.stopRequested();
}

// The URLs every message of the archive names, checked or not: an attachment of an unchecked
// message is not lost. Messages the writers already parsed are not read again.
QSet<QByteArray> namedUrls(const MailSaveContext &context, bool *stop)
{
    QSet<QByteArray> urls = context.namedAttachmentUrls;
    for (const MailMLRC *r = TmpMlrcPtrStart; r; r = r->pNext) {
        if (!r->bHasAttachment || context.namedFolders.contains(r->llFolderId))
            continue;
        if (stopped(context)) {
            *stop = true;
            return urls;
        }
        QByteArray xml = ReadMessageXml(r->llDataOffset, r->dwDataLength);
        // As the writers read a damaged message: closed where its span ends.
        if (r->bDamaged && !HasItemClose(std::string_view(xml.constData(), size_t(xml.size())), "</email>"))
            xml += "</email>";
        for (const AttachmentInfo &a : ParseMessageXml(xml).attachments)
            urls.insert(a.url.toUtf8());
    }
    // Compared as the index compares names: "./Local/..." is the entry a message names "Local/...".
    QSet<QByteArray> keys;
    for (const QByteArray &url : qAsConst(urls))
        keys.insert(EntryNameKey(url));
    return keys;
}

QSet<QByteArray> uncheckedDirs(const QSet<qint64> &checked)
{
    QSet<QByteArray> dirs;
    for (const MailMLRC *r = TmpMlrcPtrStart; r; r = r->pNext) {
        if (checked.contains(r->llFolderId))
            continue;
        const QByteArray name = ReadEntryName(r->llNameOffset, r->nNameLength).toUtf8();
        dirs.insert(EntryNameKey(name.left(name.lastIndexOf('/') + 1)));
    }
    return dirs;
}

// Whole in the archive, with the bytes its checksum names: anything else holds no file any more.
bool entryWhole(const FileOffsetNode *node, const MailSaveContext &context, bool *stop)
{
    if (node->llDataOffset <= 0 || node->llSize < 0 || node->llSize > lSize - node->llDataOffset)
        return false;
    if (node->dwCrc32 == 0)
        return true;
    constexpr qint64 kChunk = qint64(1) << 20;
    const qint64 size = EntryDataSize(*node);
    QByteArray bytes(int(qBound<qint64>(1, size, kChunk)), Qt::Uninitialized);
    EntryDataReader reader = EntryData(*node);
    quint32 crc = 0;
    for (qint64 done = 0; done < size; done += kChunk) {
        if (stopped(context)) {
            *stop = true;
            return false;
        }
        const qint64 want = qMin(kChunk, size - done);
        if (reader.read(bytes.data(), want) != want)
            return false;
        crc = Crc32Update(crc, bytes.constData(), want);
    }
    return crc == node->dwCrc32;
}

}  // namespace

QVector<const FileOffsetNode *> UnnamedAttachmentEntries(const QSet<qint64> &checkedMailFolders,
                                                         const MailSaveContext &context)
{
    QVector<const FileOffsetNode *> entries;
    if (!tmpAtFOStart || checkedMailFolders.isEmpty())
        return entries;
    bool stop = false;
    const QSet<QByteArray> named = namedUrls(context, &stop);
    if (stop)
        return entries;
    const QSet<QByteArray> unchecked = uncheckedDirs(checkedMailFolders);
    // The writers find an attachment by its URL: a name that is no UTF-8, or that another entry
    // shares, cannot be named by one.
    const AttachmentIndex index(tmpAtFOStart);
    for (const FileOffsetNode *node = tmpAtFOStart; node; node = node->pNext) {
        const QByteArray name = node->pEntryName ? EntryNameKey(QByteArray(node->pEntryName)) : QByteArray();
        const int at = name.indexOf(kAttachmentsDir);
        // Only mail attachments: calendar files and address-book stores belong to their kinds.
        if (at < 0 || name.endsWith('/') || node->bCompressed || node->bSizeCut || named.contains(name)
            || name.startsWith("Local/Calendar/") || name.contains("/Calendar/") || unchecked.contains(name.left(at))
            || index.find(QString::fromUtf8(node->pEntryName)) != node)
            continue;
        // A stop leaves nothing for the writers to start on.
        if (!entryWhole(node, context, &stop)) {
            if (stop)
                return {};
            continue;
        }
        entries.append(node);
    }
    return entries;
}
