// The texts the OLM archive writer reads inside entries: the attachment addresses of a message,
// a store's root tags, and which folder levels a walk opens anew.

#include "save/olm/OlmArchiveWriter.h"
#include "save/olm/OlmMailWalk.h"

#include <cstring>

namespace {

QString undoUrlEntities(QString url)
{
    static const char *const pairs[][2] = {{"&lt;", "<"}, {"&amp;", "&"},  {"&nbsp;", " "},
                                           {"&gt;", ">"}, {"&apos;", "'"}, {"&quot;", "\""}};
    for (const auto &p : pairs)
        url.replace(QLatin1String(p[0]), QLatin1String(p[1]));
    return url;
}

const QByteArray kEmailEnd("</email>");
const QByteArray kListStart("<OPFMessageCopyAttachmentList");
const QByteArray kListEnd("</OPFMessageCopyAttachmentList>");

bool tagAt(const char *at, qint64 left, const QByteArray &tag)
{
    return left >= tag.size() && memcmp(at, tag.constData(), size_t(tag.size())) == 0;
}

// The URLs of one email element's attachment list, or none: part is the element's text, start
// and end where the list's first start tag and first end tag stand in it (-1: absent).
QStringList partUrls(const char *part, int size, int start, int end)
{
    if (start < 0 || end < 0)
        return {};
    // The start tag's name and the 22 bytes of ' xml:space="preserve">' behind it.
    const int from = start + kListStart.size() + 22;
    const int to = end >= from ? end : size;
    const QString text = from < size ? QString::fromUtf8(part + from, to - from) : QString();
    const QStringList pieces = text.split(QStringLiteral("</messageAttachment>"));
    QStringList urls;
    for (int i = 0; i + 1 < pieces.size(); ++i) {
        const QString &piece = pieces[i];
        const int at = piece.indexOf(QLatin1String("OPFAttachmentURL="));
        if (at < 0)
            continue;
        // From behind the opening quote up to the closing quote and the '>' of the start tag.
        const int length = piece.size() - 2 - (at + 18);
        QString url = length > 0 ? piece.mid(at + 18, length) : QString();
        url.remove(QLatin1Char('"'));
        urls.append(url);
    }
    // The exporter's readers decode the whole list again after each URL, so URL i of U sees
    // U - i rounds; a list keeps a ";" in a name from splitting it.
    for (int i = 0; i < urls.size(); ++i) {
        for (int round = 0; round < urls.size() - i && urls[i].contains(QLatin1Char('&')); ++round) {
            const QString next = undoUrlEntities(urls[i]);
            if (next == urls[i])
                break;
            urls[i] = next;
        }
    }
    return urls;
}

}  // namespace

bool OlmLevelIsNew(const QList<QByteArray> &previous, const QList<QByteArray> &parts, int k)
{
    if (previous.size() < k + 1)
        return true;
    for (int j = 0; j <= k; ++j) {
        if (previous[j] != parts[j])
            return true;
    }
    return false;
}

int OlmRootTagLength(const QByteArray &head, const QByteArray &root)
{
    int at = 0;
    while (at < head.size() && QChar::isSpace(uchar(head[at])))
        ++at;
    const QByteArray open = '<' + root;
    if (!head.mid(at).startsWith(open))
        return 0;
    const char next = head.size() > at + open.size() ? head[at + open.size()] : '\0';
    if (next != ' ' && next != '>')
        return 0;
    const int close = head.indexOf('>', at);
    return close < 0 ? 0 : close + 1;
}

int OlmRootCloseLength(const QByteArray &tail, const QByteArray &root)
{
    int end = tail.size();
    while (end > 0 && QChar::isSpace(uchar(tail[end - 1])))
        --end;
    const QByteArray close = "</" + root + '>';
    return tail.left(end).endsWith(close) ? tail.size() - end + close.size() : 0;
}

QStringList MessageAttachmentUrls(const QByteArray &xml)
{
    // One pass from '<' to '<': each of the three tags starts at one, and none can begin inside
    // another, so this finds what searching each email's text for each tag would.
    const char *text = xml.constData();
    const void *nul = memchr(text, '\0', size_t(xml.size()));
    const int size = nul ? int(static_cast<const char *>(nul) - text) : xml.size();
    QStringList urls;
    int part = 0;
    int start = -1;
    int end = -1;
    for (const char *p = static_cast<const char *>(memchr(text, '<', size_t(size))); p;
         p = static_cast<const char *>(memchr(p + 1, '<', size_t(text + size - p - 1)))) {
        const int at = int(p - text);
        if (tagAt(p, size - at, kEmailEnd)) {
            // The text behind the last "</email>" is no email; the last list found wins.
            const QStringList found = partUrls(text + part, at - part, start, end);
            if (!found.isEmpty())
                urls = found;
            part = at + kEmailEnd.size();
            start = end = -1;
        } else if (start < 0 && tagAt(p, size - at, kListStart)) {
            start = at - part;
        } else if (end < 0 && tagAt(p, size - at, kListEnd)) {
            end = at - part;
        }
    }
    return urls;
}
