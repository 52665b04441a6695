// The pictures a mail body names by content id, taken from the mail's attachments.

#include "browse/MailPreview.h"

#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/PreviewBody.h"
#include "browse/QPreviewOfItems.h"
#include "browse/ResizeFollower.h"
#include "browse/SafePreviewDocument.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/mail/MailHeaders.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QAbstractTextDocumentLayout>
#include <QBoxLayout>
#include <QBuffer>
#include <QDateTime>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <QVector>
#include <QtMath>

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

// The addresses the body names after "cid:", each up to the first character that ends a URL
// in markup or a style sheet. The next one is looked for after it, so each character is seen once.
QSet<QString> referencedContentIds(const QString &body)
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

// The picture of an attachment's entry, decoded once, when its stored bytes are within the
// limit and its decoded form within what the mail's pictures may still take; null otherwise.
QImage inlinePicture(const AttachmentInfo &a, const AttachmentIndex &index, qint64 room)
{
    const FileOffsetNode *node = index.find(a.url);
    if (!node || node->bCompressed || node->llSize <= 0 || node->llSize > kMaxInlinePictureBytes)
        return QImage();
    QByteArray bytes = ReadArchiveBytes(node->llDataOffset, node->llSize, kMaxInlinePictureBytes);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The header tells the decoded size: a small file may claim a huge picture.
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() * 4 > room)
        return QImage();
    const QImage picture = reader.read();
    return picture.sizeInBytes() > room ? QImage() : picture;
}
}  // namespace

int InlineMailPictures(QTextDocument *document, const QString &body, const MailMessageFields &fields)
{
    if (!body.contains(QLatin1String("cid:")) || fields.attachments.isEmpty())
        return 0;
    QSet<QString> wanted = referencedContentIds(body);
    // "no" stands for an attachment without a content id; an empty one names no picture.
    wanted.remove(QString());
    wanted.remove(QStringLiteral("no"));
    const AttachmentIndex index(tmpAtFOStart);
    qint64 room = kMaxInlinePicturesBytes;
    int added = 0;
    for (const AttachmentInfo &a : fields.attachments) {
        // The first attachment of a content id gives its picture.
        if (!wanted.contains(a.contentId))
            continue;
        const QImage picture = inlinePicture(a, index, room);
        if (picture.isNull())
            continue;
        wanted.remove(a.contentId);
        room -= picture.sizeInBytes();
        document->addResource(QTextDocument::ImageResource, QUrl(QLatin1String("cid:") + a.contentId), picture);
        ++added;
    }
    return added;
}
