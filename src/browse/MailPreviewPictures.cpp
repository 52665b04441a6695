// The pictures a mail body names by content id, taken from the mail's attachments.

#include "browse/MailPreview.h"

#include "browse/PreviewArchive.h"
#include "browse/SafePreviewDocument.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "scanner/ScanGlobals.h"

#include <QHash>
#include <QImage>
#include <QSet>
#include <QTextDocument>
#include <QUrl>

// Each address runs up to the first character that ends a URL in markup or a style sheet. The
// next one is looked for after it, so each character is seen once.
QSet<QString> ReferencedContentIds(const QString &body)
{
    static const QString kEnds = QStringLiteral("\"'<>()\\");
    QSet<QString> ids;
    const QLatin1String scheme("cid:");
    for (int at = body.indexOf(scheme); at >= 0;) {
        const int start = at + scheme.size();
        int end = start;
        while (end < body.size() && !body.at(end).isSpace() && !kEnds.contains(body.at(end)))
            ++end;
        ids.insert(body.mid(start, end - start));
        at = body.indexOf(scheme, end);
    }
    return ids;
}

InlinePictureEntries InlinePicturesOf(const QString &body, const MailMessageFields &fields,
                                      const AttachmentIndex &index)
{
    if (fields.attachments.isEmpty())
        return {};
    return InlinePicturesOf(ReferencedContentIds(body), fields, index);
}

InlinePictureEntries InlinePicturesOf(QSet<QString> wanted, const MailMessageFields &fields,
                                      const AttachmentIndex &index)
{
    InlinePictureEntries entries;
    // "no" stands for an attachment without a content id; an empty one names no picture.
    wanted.remove(QString());
    wanted.remove(QStringLiteral("no"));
    // Each entry once, under every content id that names it.
    QHash<qint64, int> byOffset;
    for (const AttachmentInfo &a : fields.attachments) {
        // The first attachment of a content id with a readable entry gives its picture.
        if (!wanted.contains(a.contentId))
            continue;
        const FileOffsetNode *node = index.find(a.url);
        if (!node || node->bCompressed || node->llSize <= 0 || node->llSize > kMaxInlinePictureBytes)
            continue;
        wanted.remove(a.contentId);
        const auto known = byOffset.constFind(node->llDataOffset);
        if (known != byOffset.constEnd()) {
            entries[*known].contentIds.append(a.contentId);
            continue;
        }
        byOffset.insert(node->llDataOffset, entries.size());
        entries.append({{a.contentId}, node->llDataOffset, node->llSize, node->bLineEndsBack});
    }
    return entries;
}

int AddInlinePictures(QTextDocument *document, const InlinePictureEntries &entries, const PreviewArchive &archive,
                      const std::atomic<bool> *stop)
{
    auto *safe = qobject_cast<SafePreviewDocument *>(document);
    qint64 room = safe ? safe->PictureRoom() : kMaxInlinePicturesBytes;
    int added = 0;
    for (const InlinePictureEntry &entry : entries) {
        if (stop && *stop)
            break;
        const QImage picture = DecodePreviewPicture(
            archive.readEntry(entry.offset, entry.size, entry.lineEndsBack, kMaxInlinePictureBytes), room);
        if (picture.isNull() || (safe && !safe->TakePictureRoom(picture.sizeInBytes())))
            continue;
        room -= picture.sizeInBytes();
        // One decoded picture, shared by every name it has.
        for (const QString &id : entry.contentIds) {
            document->addResource(QTextDocument::ImageResource, QUrl(QLatin1String("cid:") + id), picture);
            ++added;
        }
    }
    return added;
}
