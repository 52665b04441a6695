// Pictures a saved page's markup names by content id (cid:), shown from the attachment the same
// save wrote beside the page: a browser opening the page as a file resolves no cid: address.

#include "save/mail/MessageFiles.h"

#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/mail/MailHeaders.h"
#include "save/mail/MailMimeParts.h"
#include "scanner/ScanGlobals.h"

#include <QHash>

namespace {

// A larger picture stays a cid: address: the page carries it whole, in base64.
constexpr qint64 kMaxInlinePicture = qint64(16) << 20;
// Nor does a page carry more than this of them: a body that names one picture a thousand times
// must not make a page a thousand times its size.
constexpr qint64 kMaxInlinedPerPage = qint64(64) << 20;

// The attribute value as written by InertMarkup (its four references undone), percent-decoded.
QString contentIdOf(const QByteArray &value)
{
    QByteArray v = value;
    v.replace("&quot;", "\"").replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&");
    return QString::fromUtf8(QByteArray::fromPercentEncoding(v));
}

// The picture's type from its first bytes, else the declared one when it is a picture's.
QByteArray pictureType(const QByteArray &bytes, const QString &declared)
{
    if (bytes.startsWith("\x89PNG"))
        return "image/png";
    if (bytes.startsWith("\xFF\xD8\xFF"))
        return "image/jpeg";
    if (bytes.startsWith("GIF8"))
        return "image/gif";
    if (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP")
        return "image/webp";
    if (bytes.startsWith("BM"))
        return "image/bmp";
    const QByteArray type = AttachmentContentType(declared);
    return type.startsWith("image/") ? type : QByteArray();
}

}  // namespace

QByteArray ShowInlinePictures(const QByteArray &markup, const std::function<QByteArray(const QString &)> &pictureUrl)
{
    if (!markup.contains("=\"cid:") && !markup.contains("=\"CID:") && !markup.contains("=\"Cid:"))
        return markup;
    const QByteArray lower = markup.toLower();
    QHash<QString, QByteArray> urls;  // each picture read once
    qint64 inlined = 0;
    QByteArray out;
    int copied = 0;
    for (int at = lower.indexOf("=\"cid:"); at >= 0; at = lower.indexOf("=\"cid:", at + 6)) {
        // Only the attributes that InertMarkup keeps a picture address in.
        const bool picture =
            (at >= 4 && lower.mid(at - 4, 5) == " src=") || (at >= 11 && lower.mid(at - 11, 12) == " background=");
        const int end = lower.indexOf('"', at + 2);
        if (!picture || end < 0)
            continue;
        const QString id = contentIdOf(markup.mid(at + 6, end - at - 6));
        auto known = urls.find(id);
        if (known == urls.end())
            known = urls.insert(id, pictureUrl(id));
        const QByteArray &url = known.value();
        if (url.isEmpty() || inlined + url.size() > kMaxInlinedPerPage)
            continue;
        inlined += url.size();
        out.append(markup.constData() + copied, at + 2 - copied);
        out += url;
        copied = end;
        at = end - 6;
    }
    if (copied == 0)
        return markup;
    out.append(markup.constData() + copied, markup.size() - copied);
    return out;
}

QByteArray InlinePictureUrl(const MailMessage &message, const QVector<bool> &written, const QString &contentId)
{
    const QVector<AttachmentInfo> &list = message.fields.attachments;
    const QString wanted = BareIdentifier(contentId);
    if (wanted.isEmpty())
        return QByteArray();
    for (int pass = 0; pass < 2; ++pass) {
        const Qt::CaseSensitivity cs = pass == 0 ? Qt::CaseSensitive : Qt::CaseInsensitive;
        for (int i = 0; i < list.size() && i < written.size(); ++i) {
            const AttachmentInfo &a = list.at(i);
            if (!written.at(i) || a.contentId == QLatin1String("no")
                || BareIdentifier(a.contentId).compare(wanted, cs) != 0)
                continue;
            const FileOffsetNode *node = message.attachments.find(a.url);
            if (!node || node->bCompressed || node->llSize <= 0 || node->llSize > kMaxInlinePicture)
                return QByteArray();
            const QByteArray bytes = ReadArchiveBytes(node->llDataOffset, node->llSize, kMaxInlinePicture);
            const QByteArray type = pictureType(bytes, a.contentType);
            if (bytes.isEmpty() || type.isEmpty())
                return QByteArray();
            return "data:" + type + ";base64," + bytes.toBase64();
        }
    }
    return QByteArray();
}
