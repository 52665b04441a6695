#include "save/MessageFields.h"

#include "platform/ArchiveSource.h"
#include "platform/WorkerGlobals.h"
#include "scanner/ElementValue.h"

#include <QStringList>

#include <climits>
#include <cstring>
#include <string_view>

namespace {

// Text from 'from' up to (not including) 'to'. A position built on a missing marker is
// negative; it, or an end before the start, gives an empty value instead of a wild cut.
QString cut(const QString &text, int from, int to)
{
    if (from < 0 || to < from || to > text.size())
        return QString();
    return text.mid(from, to - from);
}

// Where the ASCII needle first occurs in text at or after from; -1 when it does not. The same
// as QString::indexOf with a Latin-1 needle, without converting the needle for every search:
// each message's address lists are searched a dozen times.
int indexOfAscii(const QString &text, std::string_view needle, int from = 0)
{
    const QChar *c = text.constData();
    const int n = text.size(), m = int(needle.size());
    const QChar first = QLatin1Char(needle[0]);
    // The first character is looked for with Qt's vectorised search, the rest compared in place.
    for (int i = text.indexOf(first, qMax(from, 0)); i >= 0 && i <= n - m; i = text.indexOf(first, i + 1)) {
        int k = 1;
        while (k < m && c[i + k].unicode() == uchar(needle[size_t(k)]))
            ++k;
        if (k == m)
            return i;
    }
    return -1;
}

// Marker positions inside one piece; -1 when absent.
int at(const QString &piece, const char *marker)
{
    return indexOfAscii(piece, marker);
}

// The pieces before each separator; the text after the last one is not an entry.
QStringList entriesBefore(const QString &text, const char *separator)
{
    const std::string_view sep(separator);
    QStringList pieces;
    int from = 0;
    for (int end = indexOfAscii(text, sep); end >= 0; end = indexOfAscii(text, sep, from)) {
        pieces.append(text.mid(from, end - from));
        from = end + int(sep.size());
    }
    return pieces;
}

QString decodeUpToNul(std::string_view raw)
{
    const void *nul = memchr(raw.data(), 0, raw.size());
    const size_t len = nul ? size_t(static_cast<const char *>(nul) - raw.data()) : raw.size();
    return QString::fromUtf8(raw.data(), int(len));
}

// The untrimmed text of an element of one email piece; false when it is absent.
bool elementText(const ItemElements &piece, std::string_view startTag, QString *text)
{
    const ElementSpan span = piece.value(startTag);
    if (!span.found)
        return false;
    *text = decodeUpToNul(ElementBytes(piece.item(), span));
    return true;
}

const char kAddressMarker[] = "OPFContactEmailAddressAddress=";
const char kNameMarker[] = "OPFContactEmailAddressName=";
const char kTypeMarker[] = "OPFContactEmailAddressType=";
const int kAddressSkip = 31;  // marker and opening quote

// Attribute values end two characters before the next attribute (closing quote, blank).
QString addressUpTo(const QString &entry, int address, int next)
{
    if (address < 0 || next < 0)
        return QString();
    return cut(entry, address + kAddressSkip, next - 2);
}

enum class ListKind { To, Cc, Bcc };

bool fitsLimit(const QString &list, int limit, AddressListLimit mode)
{
    return !list.isEmpty() && (mode == AddressListLimit::Unlimited || list.size() <= limit);
}

// The entry's display name up to its closing quote, decoded once; empty when it has none.
QString recipientName(const QString &entry, int nameMarker)
{
    if (nameMarker < 0)
        return QString();
    const int from = nameMarker + int(sizeof kNameMarker);
    const int quote = entry.indexOf(QLatin1Char('"'), from);
    return quote < 0 ? QString() : UnescapeXmlEntities(entry.mid(from, quote - from), EntityForm::Scanned);
}

void parseRecipients(const QString &element, ListKind kind, AddressListLimit mode, QString *member,
                     QVector<MailRecipient> *recipients)
{
    QString list;
    QVector<MailRecipient> named;
    for (const QString &entry : entriesBefore(element, "</emailAddress>")) {
        const int a = at(entry, kAddressMarker);
        if (a < 0)
            continue;
        const int n = at(entry, kNameMarker);
        QString address;
        if (n >= 0) {
            address = addressUpTo(entry, a, n);
            if (kind == ListKind::To)
                address = ShortenRecipientAddress(address);
        } else {
            address = addressUpTo(entry, a, at(entry, kTypeMarker));
            if (kind == ListKind::To)
                address = UnescapeXmlEntities(address, EntityForm::Three);
        }
        list += address + QLatin1Char(';');
        const QString clean = CleanRecipientAddress(address);
        if (!clean.isEmpty())
            named.append({recipientName(entry, n), clean});
    }
    if (!fitsLimit(list, kMaxRecipientListChars, mode))
        return;
    *member = kind == ListKind::Bcc ? UnescapeXmlEntities(list, EntityForm::Three) : list;
    *recipients = named;
}

// A written From list repeats one address per sender: past this many characters it keeps its
// first entries and its last one, so crafted lists of many senders cannot grow it without end.
constexpr qint64 kMaxWrittenFromListChars = qint64(1) << 20;

// With several senders every entry repeats the last entry's address (the one the header shows);
// only the form, named or not, comes from each entry itself. Both forms are cut once.
void parseSenders(const QString &element, AddressListLimit mode, QString *member)
{
    const QStringList entries = entriesBefore(element, "</emailAddress>");
    if (entries.isEmpty())
        return;
    const QString &last = entries.last();
    const int a = at(last, kAddressMarker);
    if (a < 0)
        return;
    QString unnamed = addressUpTo(last, a, at(last, kTypeMarker));
    unnamed.remove(QLatin1Char(','));
    const QString forms[2] = {unnamed + QLatin1Char(';'),
                              addressUpTo(last, a, at(last, kNameMarker)) + QLatin1Char(';')};
    QVector<bool> named;
    named.reserve(entries.size());
    qint64 size = 0;
    for (const QString &own : entries) {
        named.append(indexOfAscii(own, kNameMarker) >= 0);
        size += forms[named.last()].size();
    }
    const qint64 limit = mode == AddressListLimit::Limited ? kMaxFromListChars : kMaxWrittenFromListChars;
    if (mode == AddressListLimit::Limited && size > limit)
        return;
    QString list;
    list.reserve(int(qMin(size, limit)));
    const QString &closing = forms[named.last()];
    for (int k = 0; k < named.size() - 1; ++k) {
        if (qint64(list.size()) + forms[named[k]].size() + closing.size() > limit)
            break;
        list += forms[named[k]];
    }
    list += closing;
    *member = list;
}

// The display names of the named senders for the writers' From line (up to the closing quote,
// decoded once, commas removed), and the last sender's name as written for the preview.
void parseSenderNames(const QString &element, QStringList *member, QString *last)
{
    static const QLatin1String nameAttr("OPFContactEmailAddressName=\"");
    QStringList names;
    const QStringList entries = entriesBefore(element, "</emailAddress>");
    for (const QString &entry : entries) {
        const int at = entry.indexOf(nameAttr);
        const int from = at + nameAttr.size();
        const int quote = at < 0 ? -1 : entry.indexOf(QLatin1Char('"'), from);
        const QString raw = quote < 0 ? QString() : entry.mid(from, quote - from);
        if (&entry == &entries.last())
            *last = UnescapeXmlEntities(raw, EntityForm::Scanned);
        if (quote < 0)
            continue;
        names.append(UnescapeXmlEntities(QString(raw).remove(QLatin1Char(',')), EntityForm::Scanned));
    }
    if (!names.isEmpty())
        *member = names;
}

// A NUL in a name (from damage) becomes '_'; the writers deal with the other controls.
QString withoutNul(QString name)
{
    name.replace(QChar(0), QLatin1Char('_'));
    return name;
}

AttachmentInfo parseAttachment(const QString &item)
{
    const int z = at(item, "OPFAttachmentContentFileSize=");
    const int d = at(item, "OPFAttachmentContentID=");
    const int y = at(item, "OPFAttachmentContentType=");
    const int m = at(item, "OPFAttachmentName=");
    const int u = at(item, "OPFAttachmentURL=");
    AttachmentInfo a;
    const int sizeEnd = d >= 0 ? d : y;
    if (z >= 0 && sizeEnd >= 0)
        a.size = cut(item, z + 30, sizeEnd - 2);
    if (d < 0)
        a.contentId = QStringLiteral("no");
    else if (y >= 0)
        a.contentId = cut(item, d + 24, y - 2);
    if (y >= 0 && m >= 0)
        a.contentType = cut(item, y + 26, m - 2);
    if (m >= 0 && u >= 0)
        a.name = withoutNul(UnescapeXmlEntities(cut(item, m + 19, u - 2), EntityForm::Six));
    if (u >= 0) {
        QString url = cut(item, u + 18, item.size() - 2);
        // Entry names end at their first NUL, as the scanner keeps them.
        const int nul = url.indexOf(QChar(0));
        if (nul >= 0)
            url.truncate(nul);
        url.remove(QLatin1Char('"'));
        a.url = UnescapeXmlEntities(url, EntityForm::Six);
    }
    return a;
}

void setAttachments(MailMessageFields *f, const QVector<AttachmentInfo> &list)
{
    f->attachments = list;
    f->strAttachmentSizes.clear();
    f->strAttachmentContentIds.clear();
    f->strAttachmentContentTypes.clear();
    f->strAttachmentNames.clear();
    f->strAttachmentUrls.clear();
    for (const AttachmentInfo &a : list) {
        f->strAttachmentSizes += a.size + QLatin1Char(';');
        f->strAttachmentContentIds += a.contentId + QLatin1Char(';');
        f->strAttachmentContentTypes += a.contentType + QLatin1Char(';');
        f->strAttachmentNames += a.name + QLatin1Char(';');
        f->strAttachmentUrls += a.url + QLatin1Char(';');
    }
}

void parseAttachments(const QString &element, MailMessageFields *f)
{
    QVector<AttachmentInfo> list;
    QStringList items = element.split(QLatin1String("</messageAttachment>"));
    // The text after the last close tag is no entry, unless a damaged close tag left one there:
    // that attachment is kept up to the end of its start tag.
    const QString tail = items.takeLast();
    const int url = at(tail, "OPFAttachmentURL=");
    const int end = url >= 0 ? tail.indexOf(QLatin1Char('>'), url) : -1;
    if (end >= 0)
        items.append(tail.left(end + 1));
    for (const QString &item : items)
        list.append(parseAttachment(item));
    if (!list.isEmpty())
        setAttachments(f, list);
}

void parseMessageId(const QString &element, MessageIdForm form, QString *member)
{
    QString id = element.trimmed();
    if (id.isEmpty())
        return;
    id = UnescapeXmlEntities(id, EntityForm::Three);
    if (id.endsWith(QLatin1Char('>')))
        id.chop(1);
    if (id.size() > 254)
        return;
    if (form == MessageIdForm::AngleBrackets) {
        *member = QLatin1Char('<') + id.remove(QLatin1Char('<')) + QLatin1Char('>');
    } else {
        // Without the opening bracket the boundary made from the id has unbalanced quotes.
        if (!id.startsWith(QLatin1Char('<')))
            id.prepend(QLatin1Char('<'));
        *member = id + QLatin1Char('>');
    }
}

void parseEmailPiece(const ItemElements &piece, MessageIdForm idForm, AddressListLimit mode, MailMessageFields *f)
{
    QString text;
    // The list is decoded whole: a NUL in one attachment's name must not hide the ones after it.
    const ElementSpan list = piece.value("<OPFMessageCopyAttachmentList");
    if (list.found) {
        const std::string_view raw = ElementBytes(piece.item(), list);
        parseAttachments(QString::fromUtf8(raw.data(), int(raw.size())), f);
    }
    if (elementText(piece, "<OPFMessageCopyFromAddresses", &text)) {
        parseSenders(text, mode, &f->strFromList);
        parseSenderNames(text, &f->fromNames, &f->lastSenderName);
    }
    if (elementText(piece, "<OPFMessageCopyToAddresses", &text))
        parseRecipients(text, ListKind::To, mode, &f->strToList, &f->toRecipients);
    if (idForm != MessageIdForm::None && elementText(piece, "<OPFMessageCopyMessageID", &text))
        parseMessageId(text, idForm, &f->strMessageId);
    if (elementText(piece, "<OPFMessageCopyCCAddresses", &text))
        parseRecipients(text, ListKind::Cc, mode, &f->strCcList, &f->ccRecipients);
    if (elementText(piece, "<OPFMessageCopyBCCAddresses", &text))
        parseRecipients(text, ListKind::Bcc, mode, &f->strBccList, &f->bccRecipients);
}

}  // namespace

QByteArray ReadArchiveBytes(qint64 offset, qint64 length, qint64 maxLength)
{
    if (offset < 0 || length <= 0 || offset >= lSize)
        return QByteArray();
    const qint64 n = qMin(qMin(length, lSize - offset), qMin(maxLength, qint64(INT_MAX - 1)));
    if (n <= 0)
        return QByteArray();
    QByteArray bytes(int(n), Qt::Uninitialized);
    const qint64 got = readAt(offset, bytes.data(), n);
    if (got <= 0)
        return QByteArray();
    bytes.truncate(int(got));
    return bytes;
}

QByteArray UpToFirstNul(const QByteArray &bytes)
{
    const void *nul = memchr(bytes.constData(), 0, size_t(bytes.size()));
    return nul ? bytes.left(int(static_cast<const char *>(nul) - bytes.constData())) : bytes;
}

QByteArray ReadMessageXml(qint64 llDataOffset, qint64 dwDataLength)
{
    return ReadArchiveBytes(llDataOffset, dwDataLength);
}

bool MessageXmlIntact(qint64 llDataOffset, qint64 dwDataLength, const QByteArray &xml, bool closeTagExpected)
{
    const qint64 expected =
        qMin(qMin(dwDataLength, lSize - llDataOffset), qMin(kMaxArchiveTextRead, qint64(INT_MAX - 1)));
    if (expected <= 0 || xml.size() != expected)
        return false;
    // The close tag stands at the end and the start tag at the start: look there first.
    const std::string_view text(xml.constData(), size_t(xml.size()));
    return closeTagExpected ? text.rfind("</email>") != std::string_view::npos
                            : FindBytes(text, "<email") != std::string_view::npos;
}

QString ReadEntryName(qint64 llNameOffset, qint64 nNameLength)
{
    // ZIP names have 16-bit lengths; anything else is damage.
    if (llNameOffset <= 0 || nNameLength <= 0 || nNameLength > 65535)
        return QString();
    return QString::fromUtf8(UpToFirstNul(ReadArchiveBytes(llNameOffset, nNameLength)));
}

MailMessageFields ParseMessageXml(const QByteArray &xml, MessageIdForm idForm, AddressListLimit limit)
{
    MailMessageFields fields;
    const std::string_view text(xml.constData(), size_t(xml.size()));
    // Each email's elements are found in the walk that finds its close tag.
    SplitItemElements(text, "</email>",
                      {"<OPFMessageCopyAttachmentList", "<OPFMessageCopyFromAddresses", "<OPFMessageCopyToAddresses",
                       "<OPFMessageCopyMessageID", "<OPFMessageCopyCCAddresses", "<OPFMessageCopyBCCAddresses"},
                      [&](const ItemElements &piece, size_t) {
                          parseEmailPiece(piece, idForm, limit, &fields);
                          return true;
                      });
    return fields;
}

QString CleanRecipientAddress(QString address)
{
    // Each pass undoes one level of escaping; a text without references stays as it is.
    for (int pass = 0; pass < 3 && address.contains(QLatin1Char('&')); ++pass) {
        const QString decoded = UnescapeXmlEntities(address, EntityForm::Scanned);
        if (decoded == address)
            break;
        address = decoded;
    }
    address = address.trimmed();
    if (address.startsWith(QLatin1Char('<')) && address.endsWith(QLatin1Char('>')))
        address = address.mid(1, address.size() - 2).trimmed();
    return address;
}

QString ShortenRecipientAddress(const QString &address)
{
    static const QLatin1String marker("CN=RECIPIENTS_CN=");
    const int m = address.indexOf(marker);
    if (m < 0)
        return address;
    QString rest = address.mid(m + marker.size());
    rest.remove(QLatin1String("+2E"));
    return rest;
}
