// Pictures a saved page's markup names by content id (cid:), shown from the attachment the same
// save wrote beside the page: a browser opening the page as a file resolves no cid: address.

#include "save/mail/MessageFiles.h"

#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/BidiControls.h"
#include "save/MessageFields.h"
#include "save/mail/MailHeaders.h"
#include "save/mail/MailMimeParts.h"
#include "scanner/EntryData.h"
#include "scanner/ScanGlobals.h"

#include <QHash>
#include <QSet>

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

bool isCssBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isNameByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '\\' || uchar(c) >= 0x80;
}

// Writes the markup again with its cid: picture addresses shown, reading each picture once.
class PictureShower {
public:
    PictureShower(const QByteArray &markup, const std::function<PagePicture(const QString &)> &pictureOf,
                  QStringList *lines)
        : m_markup(markup), m_lower(markup.toLower()), m_pictureOf(pictureOf), m_lines(lines)
    {
    }

    QByteArray run()
    {
        const int n = m_lower.size();
        for (int at = m_lower.indexOf('<'); at >= 0;) {
            const int end = m_lower.indexOf('>', at);
            if (end < 0)
                break;
            tag(at, end);
            int next = end + 1;
            // A style sheet's text is CSS up to its close tag.
            if (m_lower.mid(at, 7) == "<style>" || m_lower.mid(at, 7) == "<style ") {
                const int close = m_lower.indexOf("</style", end);
                next = close < 0 ? n : close;
                css(end + 1, next);
            }
            at = m_lower.indexOf('<', next);
        }
        if (m_copied == 0)
            return m_markup;
        m_out.append(m_markup.constData() + m_copied, m_markup.size() - m_copied);
        return m_out;
    }

private:
    const PagePicture &picture(const QString &id)
    {
        auto known = m_known.find(id);
        if (known == m_known.end())
            known = m_known.insert(id, m_pictureOf(id));
        return known.value();
    }

    // The picture's data: address while the page carries no more than its share of pictures,
    // else empty and, for a picture the save wrote, a line saying where it is.
    QByteArray shownUrl(const QString &id)
    {
        const PagePicture &p = picture(id);
        if (!p.url.isEmpty() && m_inlined + p.url.size() <= kMaxInlinedPerPage) {
            m_inlined += p.url.size();
            return p.url;
        }
        if (!p.link.isEmpty() && m_lines && !m_reported.contains(id)) {
            m_reported.insert(id);
            m_lines->append(QStringLiteral("picture \"%1\" is not shown in the page but linked to its file: %2")
                                .arg(p.name,
                                     p.url.isEmpty() ? QStringLiteral("it is larger than 16 MiB")
                                                     : QStringLiteral("the page carries 64 MiB of pictures")));
        }
        return QByteArray();
    }

    void replace(int from, int to, const QByteArray &with)
    {
        m_out.append(m_markup.constData() + m_copied, from - m_copied);
        m_out += with;
        m_copied = to;
    }

    // The tag's picture attributes (src, background) and style attribute. A picture the page
    // cannot carry is a link to its file in place of the img tag.
    void tag(int at, int end)
    {
        const bool img = m_lower.mid(at, 5) == "<img ";
        for (int eq = m_lower.indexOf("=\"", at); eq >= 0 && eq < end;) {
            const int valueEnd = m_lower.indexOf('"', eq + 2);
            if (valueEnd < 0 || valueEnd > end)
                return;
            int nameAt = eq;
            while (nameAt > at && m_lower.at(nameAt - 1) != ' ')
                --nameAt;
            const QByteArray name = m_lower.mid(nameAt, eq - nameAt);
            if ((name == "src" || name == "background") && m_lower.mid(eq + 2, 4) == "cid:") {
                const QString id = contentIdOf(m_markup.mid(eq + 6, valueEnd - eq - 6));
                const QByteArray url = shownUrl(id);
                if (!url.isEmpty()) {
                    replace(eq + 2, valueEnd, url);
                } else if (img && name == "src" && !picture(id).link.isEmpty()) {
                    const PagePicture &p = picture(id);
                    replace(at, end + 1, "<a href=\"" + p.link + "\">" + p.name.toHtmlEscaped().toUtf8() + "</a>");
                    return;
                }
            } else if (name == "style") {
                css(eq + 2, valueEnd);
            }
            eq = m_lower.indexOf("=\"", valueEnd + 1);
        }
    }

    // Each url(cid:...) of the CSS text in [from, to): a style sheet, or a style attribute's value
    // (its quotes written as &quot;).
    void css(int from, int to)
    {
        for (int u = m_lower.indexOf("url(", from); u >= 0 && u + 4 < to; u = m_lower.indexOf("url(", u + 4)) {
            if (u > from && isNameByte(m_lower.at(u - 1)))
                continue;
            int v = u + 4;
            while (v < to && isCssBlank(m_lower.at(v)))
                ++v;
            if (m_lower.mid(v, 6) == "&quot;")
                v += 6;
            else if (v < to && (m_lower.at(v) == '"' || m_lower.at(v) == '\''))
                ++v;
            if (m_lower.mid(v, 4) != "cid:")
                continue;
            int e = v + 4;
            while (e < to && m_lower.at(e) != ')' && m_lower.at(e) != '"' && m_lower.at(e) != '\''
                   && !isCssBlank(m_lower.at(e)) && m_lower.mid(e, 6) != "&quot;")
                ++e;
            const QByteArray url = shownUrl(contentIdOf(m_markup.mid(v + 4, e - v - 4)));
            if (!url.isEmpty())
                replace(v, e, url);
        }
    }

    const QByteArray &m_markup;
    const QByteArray m_lower;
    const std::function<PagePicture(const QString &)> &m_pictureOf;
    QStringList *m_lines;
    QHash<QString, PagePicture> m_known;
    QSet<QString> m_reported;
    qint64 m_inlined = 0;
    QByteArray m_out;
    int m_copied = 0;
};

}  // namespace

QByteArray ShowInlinePictures(const QByteArray &markup, const std::function<PagePicture(const QString &)> &pictureOf,
                              QStringList *lines)
{
    if (!markup.contains("cid:") && !markup.toLower().contains("cid:"))
        return markup;
    return PictureShower(markup, pictureOf, lines).run();
}

PagePicture InlinePicture(const MailMessage &message, const QVector<QByteArray> &links, const QString &contentId)
{
    const QVector<AttachmentInfo> &list = message.fields.attachments;
    const QString wanted = BareIdentifier(contentId);
    if (wanted.isEmpty())
        return PagePicture();
    for (int pass = 0; pass < 2; ++pass) {
        const Qt::CaseSensitivity cs = pass == 0 ? Qt::CaseSensitive : Qt::CaseInsensitive;
        for (int i = 0; i < list.size() && i < links.size(); ++i) {
            const AttachmentInfo &a = list.at(i);
            if (links.at(i).isEmpty() || a.contentId == QLatin1String("no")
                || BareIdentifier(a.contentId).compare(wanted, cs) != 0)
                continue;
            const FileOffsetNode *node = message.attachments.find(a);
            if (!node || node->bCompressed || node->llSize <= 0)
                return PagePicture();
            // A picture too large to carry is still told by its first bytes, and linked.
            const QByteArray type = pictureType(ReadEntryData(*node, 16), a.contentType);
            if (type.isEmpty())
                return PagePicture();
            PagePicture p;
            p.name = WithoutBidiControls(a.name);
            p.link = links.at(i);
            if (EntryDataSize(*node) <= kMaxInlinePicture) {
                const QByteArray bytes = ReadEntryData(*node, kMaxInlinePicture);
                if (!bytes.isEmpty())
                    p.url = "data:" + pictureType(bytes, a.contentType) + ";base64," + bytes.toBase64();
            }
            return p;
        }
    }
    return PagePicture();
}
