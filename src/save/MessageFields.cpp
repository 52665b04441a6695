#include "save/MessageFields.h"

#include "platform/ArchiveSource.h"
#include "platform/WorkerGlobals.h"
#include "scanner/ElementValue.h"

#include <QStringList>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

namespace {

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
    std::string plain;
    *text = decodeUpToNul(PlainElementText(ElementBytes(piece.item(), span), &plain));
    return true;
}

// An attribute's raw text (entities kept), NULs from damage dropped; empty when it is absent.
QString attributeText(std::string_view tag, std::string_view name, bool *found = nullptr)
{
    std::string_view raw;
    std::string normalised;
    const bool has = FindAttribute(tag, name, &raw, &normalised);
    if (found)
        *found = has;
    if (!has || raw.empty())
        return QString();
    if (!memchr(raw.data(), 0, raw.size()))
        return QString::fromUtf8(raw.data(), int(raw.size()));
    QByteArray kept(raw.data(), int(raw.size()));
    kept.replace('\0', QByteArray());
    return QString::fromUtf8(kept);
}

// One emailAddress entry as its attributes give it, in whatever order and quotes it has them.
struct AddressEntry {
    QString address;  // raw
    QString name;     // raw
    bool hasAddress = false;
    bool hasName = false;
};

QVector<AddressEntry> addressEntries(std::string_view list)
{
    QVector<AddressEntry> entries;
    ForEachStartTag(list, "<emailAddress", [&](std::string_view tag) {
        AddressEntry e;
        e.address = attributeText(tag, "OPFContactEmailAddressAddress", &e.hasAddress);
        e.name = attributeText(tag, "OPFContactEmailAddressName", &e.hasName);
        entries.append(e);
        return true;
    });
    return entries;
}

// The log's words for an entry whose address cannot be read: the message stands without it.
void noteUnread(const char *list, const AddressEntry &e, int index, QStringList *unread)
{
    const QString who = e.hasName && !e.name.isEmpty()
        ? QStringLiteral("\"%1\"").arg(UnescapeXmlEntities(e.name, EntityForm::Scanned))
        : QStringLiteral("number %1").arg(index + 1);
    unread->append(QStringLiteral("%1 entry %2: no address could be read").arg(QLatin1String(list), who));
}

enum class ListKind { To, Cc, Bcc };

bool fitsLimit(const QString &list, int limit, AddressListLimit mode)
{
    return !list.isEmpty() && (mode == AddressListLimit::Unlimited || list.size() <= limit);
}

void parseRecipients(std::string_view element, ListKind kind, AddressListLimit mode, QString *member,
                     QVector<MailRecipient> *recipients, QStringList *unread)
{
    static const char *const kListNames[] = {"To", "Cc", "Bcc"};
    QString list;
    QVector<MailRecipient> named;
    const QVector<AddressEntry> entries = addressEntries(element);
    QStringList notes;
    for (int i = 0; i < entries.size(); ++i) {
        const AddressEntry &e = entries.at(i);
        if (!e.hasAddress || e.address.trimmed().isEmpty()) {
            noteUnread(kListNames[int(kind)], e, i, &notes);
            continue;
        }
        QString address = e.address;
        if (kind == ListKind::To)
            address = e.hasName ? ShortenRecipientAddress(address) : UnescapeXmlEntities(address, EntityForm::Three);
        list += address + QLatin1Char(';');
        const QString clean = CleanRecipientAddress(address);
        if (!clean.isEmpty())
            named.append({e.hasName ? UnescapeXmlEntities(e.name, EntityForm::Scanned) : QString(), clean});
    }
    if (!fitsLimit(list, kMaxRecipientListChars, mode))
        return;
    *member = kind == ListKind::Bcc ? UnescapeXmlEntities(list, EntityForm::Three) : list;
    *recipients = named;
    *unread += notes;
}

// A written From list repeats one address per sender: past this many characters it keeps its
// first entries and its last one, so crafted lists of many senders cannot grow it without end.
constexpr qint64 kMaxWrittenFromListChars = qint64(1) << 20;

// With several senders every entry repeats the last entry's address (the one the header shows);
// only the form, named or not, comes from each entry itself. Both forms are made once.
void parseSenders(const QVector<AddressEntry> &entries, AddressListLimit mode, QString *member, QStringList *unread)
{
    if (entries.isEmpty())
        return;
    const AddressEntry &last = entries.last();
    if (!last.hasAddress || last.address.trimmed().isEmpty()) {
        noteUnread("From", last, entries.size() - 1, unread);
        return;
    }
    QString unnamed = last.address;
    unnamed.remove(QLatin1Char(','));
    const QString forms[2] = {unnamed + QLatin1Char(';'), last.address + QLatin1Char(';')};
    QVector<bool> named;
    named.reserve(entries.size());
    qint64 size = 0;
    for (const AddressEntry &own : entries) {
        named.append(own.hasName);
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

// Who an entry is in the log: its name, else its address, else its number.
QString entryWho(const AddressEntry &e, int index)
{
    const QString &text = e.hasName && !e.name.isEmpty() ? e.name : e.address;
    return text.trimmed().isEmpty() ? QStringLiteral("number %1").arg(index + 1)
                                    : QStringLiteral("\"%1\"").arg(UnescapeXmlEntities(text, EntityForm::Scanned));
}

// The From line holds the last sender's address: every other sender with an address of its own
// is named in the log, so none is lost without a line.
void noteUnwrittenSenders(const QVector<AddressEntry> &entries, const QString &why, bool all, QStringList *unread)
{
    const QString written = entries.isEmpty() ? QString() : entries.last().address.trimmed();
    for (int i = 0; i < entries.size() - (all ? 0 : 1); ++i) {
        const AddressEntry &e = entries.at(i);
        const QString address = e.address.trimmed();
        if (e.hasAddress && !address.isEmpty() && (all || address != written))
            unread->append(QStringLiteral("From entry %1: %2").arg(entryWho(e, i), why));
    }
}

// Sender lists after the first one of an email: their senders are named in the log.
void noteLaterSenderLists(const ItemElements &piece, const ElementSpan &first, QStringList *unread)
{
    const std::string_view item = piece.item();
    size_t from = size_t(first.start + first.length);
    for (size_t at = FindStartTag(item, "<OPFMessageCopyFromAddresses", from); at != std::string_view::npos;
         at = FindStartTag(item, "<OPFMessageCopyFromAddresses", from)) {
        const std::string_view rest = item.substr(at);
        const ElementSpan span = GetElementValue(rest, "<OPFMessageCopyFromAddresses");
        if (!span.found)
            return;
        noteUnwrittenSenders(addressEntries(ElementBytes(rest, span)),
                             QStringLiteral("in a second sender list, not written"), true, unread);
        from = at + size_t(span.start + span.length);
    }
}

// The display names of the named senders for the writers' From line (decoded once, commas
// removed), and the last sender's name as written for the preview.
void parseSenderNames(const QVector<AddressEntry> &entries, QStringList *member, QString *last)
{
    QStringList names;
    for (const AddressEntry &e : entries) {
        if (&e == &entries.last())
            *last = UnescapeXmlEntities(e.name, EntityForm::Scanned);
        if (!e.hasName)
            continue;
        names.append(UnescapeXmlEntities(QString(e.name).remove(QLatin1Char(',')), EntityForm::Scanned));
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

// The raw text of an attribute, NULs kept (each field decides what a NUL means).
QString attributeWithNuls(std::string_view tag, std::string_view name, bool *found = nullptr)
{
    std::string_view raw;
    std::string normalised;
    const bool has = FindAttribute(tag, name, &raw, &normalised);
    if (found)
        *found = has;
    return has ? QString::fromUtf8(raw.data(), int(raw.size())) : QString();
}

AttachmentInfo parseAttachment(std::string_view tag)
{
    AttachmentInfo a;
    bool hasId = false;
    a.size = attributeWithNuls(tag, "OPFAttachmentContentFileSize");
    // Read as an XML reader reads it, so it matches the "cid:" address the body names.
    a.contentId = UnescapeXmlEntities(attributeWithNuls(tag, "OPFAttachmentContentID", &hasId), EntityForm::Scanned);
    if (!hasId)
        a.contentId = QStringLiteral("no");
    a.contentType = UnescapeXmlEntities(attributeWithNuls(tag, "OPFAttachmentContentType"), EntityForm::Scanned);
    a.name = withoutNul(UnescapeXmlEntities(attributeWithNuls(tag, "OPFAttachmentName"), EntityForm::Scanned));
    QString url = attributeWithNuls(tag, "OPFAttachmentURL");
    // Entry names end at their first NUL, as the scanner keeps them.
    const int nul = url.indexOf(QChar(0));
    if (nul >= 0)
        url.truncate(nul);
    url.remove(QLatin1Char('"'));
    // Character references are read as an XML reader reads them, so that "&#64;" is the '@' of
    // the entry name it matches; named ones as stored files expect (doubly escaped ones too).
    a.url = UnescapeXmlEntities(UnescapeXmlEntities(url, EntityForm::Six), EntityForm::Numeric);
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

void parseAttachments(std::string_view element, MailMessageFields *f)
{
    // Every start tag is an attachment, paired or self-closing; one whose close tag was damaged
    // is kept too.
    QVector<AttachmentInfo> list;
    ForEachStartTag(element, "<messageAttachment", [&](std::string_view tag) {
        list.append(parseAttachment(tag));
        return true;
    });
    if (!list.isEmpty())
        setAttachments(f, list);
}

void parseMessageId(const QString &element, MessageIdForm form, QString *member)
{
    QString id = element.trimmed();
    if (id.isEmpty())
        return;
    // References are undone once, as an XML reader does; line breaks and other controls that
    // character references put in an id would break the header line.
    id = UnescapeXmlEntities(id, EntityForm::Scanned);
    const auto isControl = [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; };
    id.truncate(int(std::remove_if(id.begin(), id.end(), isControl) - id.begin()));
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
    // Lists are read as bytes, each value decoded alone: a NUL in one name must not hide the
    // entries after it.
    const auto raw = [&](std::string_view startTag, std::string_view *bytes) {
        const ElementSpan span = piece.value(startTag);
        *bytes = ElementBytes(piece.item(), span);
        return span.found;
    };
    std::string_view bytes;
    // A list whose start tag went with the message's zeroed or cut head still lists its
    // attachments up to its close tag.
    if (raw("<OPFMessageCopyAttachmentList", &bytes))
        parseAttachments(bytes, f);
    else if (!(bytes = ElementWithLostStart(piece.item(), "<email", "<OPFMessageCopyAttachmentList")).empty())
        parseAttachments(bytes, f);
    if (raw("<OPFMessageCopyFromAddresses", &bytes)) {
        const QVector<AddressEntry> senders = addressEntries(bytes);
        parseSenders(senders, mode, &f->strFromList, &f->unreadAddresses);
        parseSenderNames(senders, &f->fromNames, &f->lastSenderName);
        if (!f->strFromList.isEmpty())
            noteUnwrittenSenders(senders, QStringLiteral("not written, the From line holds the last sender only"),
                                 false, &f->unreadAddresses);
        noteLaterSenderLists(piece, piece.value("<OPFMessageCopyFromAddresses"), &f->unreadAddresses);
    }
    if (raw("<OPFMessageCopyToAddresses", &bytes))
        parseRecipients(bytes, ListKind::To, mode, &f->strToList, &f->toRecipients, &f->unreadAddresses);
    if (idForm != MessageIdForm::None && elementText(piece, "<OPFMessageCopyMessageID", &text))
        parseMessageId(text, idForm, &f->strMessageId);
    if (raw("<OPFMessageCopyCCAddresses", &bytes))
        parseRecipients(bytes, ListKind::Cc, mode, &f->strCcList, &f->ccRecipients, &f->unreadAddresses);
    if (raw("<OPFMessageCopyBCCAddresses", &bytes))
        parseRecipients(bytes, ListKind::Bcc, mode, &f->strBccList, &f->bccRecipients, &f->unreadAddresses);
}

}  // namespace

QByteArray ReadArchiveBytes(qint64 offset, qint64 length, qint64 maxLength)
{
    return ReadArchiveBytes(fileDescriptor, lSize, offset, length, maxLength);
}

QByteArray ReadArchiveBytes(int fd, qint64 fileSize, qint64 offset, qint64 length, qint64 maxLength)
{
    if (offset < 0 || length <= 0 || offset >= fileSize)
        return QByteArray();
    const qint64 n = qMin(qMin(length, fileSize - offset), qMin(maxLength, qint64(INT_MAX - 1)));
    if (n <= 0)
        return QByteArray();
    QByteArray bytes(int(n), Qt::Uninitialized);
    const qint64 got = readAt(fd, offset, bytes.data(), n);
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
    return closeTagExpected ? HasItemClose(text, "</email>") : FindBytes(text, "<email") != std::string_view::npos;
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
