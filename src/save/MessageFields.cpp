#include "save/MessageFields.h"

#include "platform/ArchiveSource.h"
#include "scanner/ElementValue.h"
#include "shell/ShellGlobals.h"

#include <QStringList>

#include <climits>
#include <cstring>
#include <string_view>

namespace {

struct Entity {
    const char *text;
    const char *replacement;
};

const Entity kThreeEntities[] = {{"&lt;", "<"}, {"&amp;", "&"}, {"&nbsp;", " "}};
const Entity kSixEntities[] = {{"&lt;", "<"},  {"&amp;", "&"},  {"&nbsp;", " "},
                               {"&gt;", ">"},  {"&apos;", "'"}, {"&quot;", "\""}};
// Doubly escaped markup first, then the single entities.
const Entity kBodyEntities[] = {{"&amp;gt;", ">"}, {"&amp;lt;", "<"}, {"&gt;", ">"},
                                {"&lt;", "<"},     {"&amp;", "&"},    {"&nbsp;", " "}};
const char *const kBodyGate[] = {"&gt;", "&lt;", "&amp;", "&nbsp;"};

// Case-blind entity test, visiting only the '&' positions (every value of every message passes
// through here).
template <size_t N>
bool containsAny(const QString &text, const Entity (&table)[N])
{
    for (int at = text.indexOf(QLatin1Char('&')); at >= 0; at = text.indexOf(QLatin1Char('&'), at + 1)) {
        for (const Entity &e : table) {
            if (HasCaselessLiteralAt(text, at, e.text))
                return true;
        }
    }
    return false;
}

template <size_t N>
QString replaceInOrder(QString text, const Entity (&table)[N])
{
    for (const Entity &e : table)
        text.replace(QLatin1String(e.text), QLatin1String(e.replacement));
    return text;
}

// Text from 'from' up to (not including) 'to'. A position built on a missing marker is
// negative; it, or an end before the start, gives an empty value instead of a wild cut.
QString cut(const QString &text, int from, int to)
{
    if (from < 0 || to < from || to > text.size())
        return QString();
    return text.mid(from, to - from);
}

// Marker positions inside one piece; -1 when absent.
int at(const QString &piece, const char *marker)
{
    return piece.indexOf(QLatin1String(marker));
}

// The pieces before each separator; the text after the last one is not an entry.
QStringList entriesBefore(const QString &text, const char *separator)
{
    QStringList pieces = text.split(QLatin1String(separator));
    pieces.removeLast();
    return pieces;
}

QString decodeUpToNul(std::string_view raw)
{
    const void *nul = memchr(raw.data(), 0, raw.size());
    const size_t len = nul ? size_t(static_cast<const char *>(nul) - raw.data()) : raw.size();
    return QString::fromUtf8(raw.data(), int(len));
}

// The untrimmed text of an element of one email piece; false when it is absent.
bool elementText(std::string_view piece, std::string_view startTag, QString *text)
{
    const ElementSpan span = GetElementValue(piece, startTag);
    if (!span.found)
        return false;
    *text = decodeUpToNul(ElementBytes(piece, span));
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

void parseRecipients(const QString &element, ListKind kind, AddressListLimit mode, QString *member)
{
    QString list;
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
    }
    if (!fitsLimit(list, kMaxRecipientListChars, mode))
        return;
    *member = kind == ListKind::Bcc ? UnescapeXmlEntities(list, EntityForm::Three) : list;
}

// With several senders every pass cuts the last entry (the one the header shows); only the
// mode, named or not, comes from the pass's own entry.
void parseSenders(const QString &element, AddressListLimit mode, QString *member)
{
    const QStringList entries = entriesBefore(element, "</emailAddress>");
    QString list;
    for (const QString &own : entries) {
        const bool named = own.contains(QLatin1String(kNameMarker));
        const QString &entry = entries.size() == 1 ? own : entries.last();
        const int a = at(entry, kAddressMarker);
        if (a < 0)
            continue;
        QString address;
        if (named) {
            address = addressUpTo(entry, a, at(entry, kNameMarker));
        } else {
            address = addressUpTo(entry, a, at(entry, kTypeMarker));
            address.remove(QLatin1Char(','));
        }
        list += address + QLatin1Char(';');
    }
    if (fitsLimit(list, kMaxFromListChars, mode))
        *member = list;
}

// The display names of the named senders, as the scanner cuts them for the record (up to the
// closing quote, commas removed) but decoded once and in full Unicode: the record keeps them
// one byte per character.
void parseSenderNames(const QString &element, QStringList *member)
{
    static const QLatin1String nameAttr("OPFContactEmailAddressName=\"");
    QStringList names;
    for (const QString &entry : entriesBefore(element, "</emailAddress>")) {
        const int at = entry.indexOf(nameAttr);
        if (at < 0)
            continue;
        const int from = at + nameAttr.size();
        const int quote = entry.indexOf(QLatin1Char('"'), from);
        if (quote < 0)
            continue;
        QString name = entry.mid(from, quote - from);
        name.remove(QLatin1Char(','));
        names.append(UndoEntities(name));
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

void parseEmailPiece(std::string_view piece, MessageIdForm idForm, AddressListLimit mode, MailMessageFields *f)
{
    QString text;
    // The list is decoded whole: a NUL in one attachment's name must not hide the ones after it.
    const ElementSpan list = GetElementValue(piece, "<OPFMessageCopyAttachmentList");
    if (list.found) {
        const std::string_view raw = ElementBytes(piece, list);
        parseAttachments(QString::fromUtf8(raw.data(), int(raw.size())), f);
    }
    if (elementText(piece, "<OPFMessageCopyFromAddresses", &text)) {
        parseSenders(text, mode, &f->strFromList);
        parseSenderNames(text, &f->fromNames);
    }
    if (elementText(piece, "<OPFMessageCopyToAddresses", &text))
        parseRecipients(text, ListKind::To, mode, &f->strToList);
    if (idForm != MessageIdForm::None && elementText(piece, "<OPFMessageCopyMessageID", &text))
        parseMessageId(text, idForm, &f->strMessageId);
    if (elementText(piece, "<OPFMessageCopyCCAddresses", &text))
        parseRecipients(text, ListKind::Cc, mode, &f->strCcList);
    if (elementText(piece, "<OPFMessageCopyBCCAddresses", &text))
        parseRecipients(text, ListKind::Bcc, mode, &f->strBccList);
}

} // namespace

bool HasCaselessLiteralAt(const QString &text, int at, const char *literal)
{
    const int length = int(std::strlen(literal));
    if (at < 0 || at + length > text.size())
        return false;
    const QChar *c = text.constData() + at;
    for (int i = 0; i < length; ++i) {
        ushort u = c[i].unicode();
        if (u >= 'A' && u <= 'Z')
            u = ushort(u + ('a' - 'A'));
        if (u != ushort(literal[i]))
            return false;
    }
    return true;
}

QString UnescapeXmlEntities(const QString &text, EntityForm form)
{
    switch (form) {
    case EntityForm::Three:
        return containsAny(text, kThreeEntities) ? replaceInOrder(text, kThreeEntities) : text;
    case EntityForm::Six:
        return containsAny(text, kSixEntities) ? replaceInOrder(text, kSixEntities) : text;
    case EntityForm::Body:
        break;
    }
    bool gated = false;
    for (const char *g : kBodyGate)
        gated = gated || text.contains(QLatin1String(g), Qt::CaseInsensitive);
    if (!gated)
        return text;
    QString out = replaceInOrder(text, kBodyEntities);
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

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
    const int nul = bytes.indexOf('\0');
    return nul < 0 ? bytes : bytes.left(nul);
}

QByteArray ReadMessageXml(qint64 llDataOffset, qint64 dwDataLength)
{
    return ReadArchiveBytes(llDataOffset, dwDataLength);
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
    SplitItems(text, "</email>", 0, [&](const ItemPiece &piece) {
        parseEmailPiece(piece.bytes, idForm, limit, &fields);
        return true;
    });
    return fields;
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
