#include "save/mail/MailHeaders.h"

#include "save/mail/MailMimeParts.h"
#include "save/mail/MailWriter.h"
#include "scanner/DateTimeConvert.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"

#include <QDateTime>
#include <QLocale>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

const char kUserAgent[] = "User-Agent: Microsoft-MacOutlook/14.0.0.100825";

const char *const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The machine's local time of a record time. localtime_r, not QDateTime: mktime re-reads the
// zone file on every call, which cost a tenth of a whole save. 64-bit seconds: times before
// 1970 and after 2106 are shown as they are.
bool localTime(qint64 seconds, struct tm *local)
{
    const time_t instant = time_t(seconds);
    return localtime_r(&instant, local) && local->tm_wday >= 0 && local->tm_wday < 7 && local->tm_mon >= 0
        && local->tm_mon < 12;
}

// The decimal digits of value, at least `width` of them, zero-padded, as "%0*d" prints them.
char *putNumber(char *to, int value, int width)
{
    char digits[12];
    int n = 0;
    unsigned u = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        digits[n++] = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (value < 0)
        *to++ = '-';
    for (int pad = n + (value < 0 ? 1 : 0); pad < width; ++pad)
        *to++ = '0';
    while (n)
        *to++ = digits[--n];
    return to;
}

char *putText(char *to, const char *text)
{
    while (*text)
        *to++ = *text++;
    return to;
}

// "hh:mm:ss"
char *putClock(char *to, const struct tm &local)
{
    to = putNumber(to, local.tm_hour, 2);
    *to++ = ':';
    to = putNumber(to, local.tm_min, 2);
    *to++ = ':';
    return putNumber(to, local.tm_sec, 2);
}

// The zone as the system names it ("CET", "IST"), at most five characters.
QByteArray zoneText(const struct tm &local)
{
    return QByteArray(local.tm_zone ? local.tm_zone : "").left(5);
}

QByteArray numericZone(const struct tm &local)
{
    const long offset = local.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char text[16];
    std::snprintf(text, sizeof text, "%c%02ld%02ld", offset < 0 ? '-' : '+', minutes / 60 % 100, minutes % 60);
    return QByteArray(text);
}

// Longest UTF-8 text of one encoded word: 60 base64 characters, 72 with the word's frame.
constexpr int kWordBytes = 45;

// "=?UTF-8?B?<base64 of the bytes>?=", encoded straight into out.
void appendEncodedWord(QByteArray &out, const char *bytes, int size)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const int at = out.size();
    out.resize(at + 12 + (size + 2) / 3 * 4);
    char *to = out.data() + at;
    to = std::copy_n("=?UTF-8?B?", 10, to);
    const auto *p = reinterpret_cast<const uchar *>(bytes);
    int i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint v = uint(p[i]) << 16 | uint(p[i + 1]) << 8 | p[i + 2];
        *to++ = kDigits[v >> 18];
        *to++ = kDigits[(v >> 12) & 63];
        *to++ = kDigits[(v >> 6) & 63];
        *to++ = kDigits[v & 63];
    }
    if (i < size) {
        const uint v = uint(p[i]) << 16 | (i + 1 < size ? uint(p[i + 1]) << 8 : 0u);
        *to++ = kDigits[v >> 18];
        *to++ = kDigits[(v >> 12) & 63];
        *to++ = i + 1 < size ? kDigits[(v >> 6) & 63] : '=';
        *to++ = '=';
    }
    *to++ = '?';
    *to++ = '=';
}

// Words of at most kWordBytes bytes, never splitting a UTF-8 character, the separator between.
void appendEncodedWords(QByteArray &out, const char *utf8, int size, const QByteArray &separator)
{
    int at = 0;
    while (at < size) {
        int end = qMin(at + kWordBytes, size);
        while (end < size && end > at + 1 && (quint8(utf8[end]) & 0xC0) == 0x80)
            --end;
        if (at > 0)
            out += separator;
        appendEncodedWord(out, utf8 + at, end - at);
        at = end;
    }
}

MailTime sentFirst(const MessageTimes &t)
{
    if (t.hasSent)
        return MailTime{MailTime::Record, t.sent};
    return t.hasReceived ? MailTime{MailTime::Record, t.received} : MailTime{MailTime::Undated, 0};
}

MailTime receivedFirst(const MessageTimes &t)
{
    if (t.hasReceived)
        return MailTime{MailTime::Record, t.received};
    return sentFirst(t);
}

// The time of an unfiled message (none of the folder words in its entry name).
MailTime unfiledTime(const MailMLRC &rec, MailTimeRule rule, const MessageTimes &t)
{
    if (rule == MailTimeRule::DateHeader)
        return t.hasSent || t.hasReceived ? sentFirst(t) : MailTime{MailTime::None, 0};
    if (rec.bOutgoing == 1)
        return sentFirst(t);
    if (rule == MailTimeRule::FromLineNow && !t.hasSent && !t.hasReceived)
        return MailTime{MailTime::Now, 0};
    return receivedFirst(t);
}

// The time text of the element, when it is a readable date-time of any year.
bool xmlTime(std::string_view xml, std::string_view startTag, qint64 *seconds)
{
    const ElementSpan span = GetElementValue(xml, startTag);
    if (!span.found || span.length <= 0 || span.length > 256)
        return false;
    const QString text = QString::fromUtf8(xml.data() + span.start, int(span.length)).trimmed();
    return !text.isEmpty() && ArchiveTimeSeconds(text, seconds);
}

bool isEntityName(const QStringRef &name)
{
    static const char *const names[] = {"lt", "gt", "amp", "apos", "quot", "nbsp"};
    for (const char *n : names) {
        if (name == QLatin1String(n))
            return true;
    }
    if (name.size() < 2 || name.size() > 9 || name.at(0) != QLatin1Char('#'))
        return false;
    const bool hex = name.at(1) == QLatin1Char('x') || name.at(1) == QLatin1Char('X');
    bool ok = false;
    name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
    return ok;
}

// Whether the ";" at position semicolon closes an entity that starts after position from.
bool closesEntity(const QString &text, int from, int semicolon)
{
    const int amp = text.lastIndexOf(QLatin1Char('&'), semicolon);
    return amp >= from && isEntityName(text.midRef(amp + 1, semicolon - amp - 1));
}

bool needsQuoting(const QString &name)
{
    static const QLatin1String specials("()<>[]:;@\\,.\"");
    for (const QChar ch : name) {
        // Every special is ASCII punctuation: letters, digits and the rest pass at once.
        const ushort u = ch.unicode();
        if (u < 0x80 && !((u | 0x20) >= 'a' && (u | 0x20) <= 'z') && !(u >= '0' && u <= '9') && specials.contains(ch))
            return true;
    }
    return false;
}

// Names longer than this are written as encoded words, which fold between them.
constexpr int kLongName = 200;

// RFC 5322 atext; characters past ASCII count as such (RFC 6532).
bool isAtext(ushort u)
{
    if (u >= 0x80)
        return true;
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
        return true;
    return u > 0x20 && u < 0x7F && std::strchr("!#$%&'*+-/=?^_`{|}~", char(u)) != nullptr;
}

bool isDotAtom(const QStringRef &text)
{
    if (text.isEmpty() || text.startsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char('.')))
        return false;
    ushort previous = 0;
    for (const QChar ch : text) {
        const ushort u = ch.unicode();
        if (u == '.' ? previous == '.' : !isAtext(u))
            return false;
        previous = u;
    }
    return true;
}

bool isQuotedLocalPart(const QStringRef &text)
{
    return text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"'));
}

bool isAscii(const QString &text)
{
    for (const QChar ch : text) {
        if (ch.unicode() > 0x7E)
            return false;
    }
    return true;
}

// Text of characters below 0x80 appended as its bytes.
void appendAscii(QByteArray &out, const QString &ascii)
{
    const int at = out.size();
    out.resize(at + ascii.size());
    char *to = out.data() + at;
    for (const QChar ch : ascii)
        *to++ = char(ch.unicode());
}

void appendUtf8(QByteArray &out, const QString &text)
{
    for (const QChar ch : text) {
        if (ch.unicode() >= 0x80) {
            out += text.toUtf8();
            return;
        }
    }
    appendAscii(out, text);
}

bool isAsciiText(const QStringRef &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

void appendAddress(QByteArray &out, const QString &address)
{
    const QString a = HeaderSafe(address);
    const int at = a.lastIndexOf(QLatin1Char('@'));
    // Without a local part and a domain it is no address a reader could parse either way.
    if (at <= 0 || at == a.size() - 1) {
        appendUtf8(out, a);
        return;
    }
    const QStringRef local = a.leftRef(at), domain = a.midRef(at + 1);
    const bool asciiDomain = isAsciiText(domain);
    // The usual address goes as it is.
    if (asciiDomain && (isDotAtom(local) || isQuotedLocalPart(local))) {
        appendUtf8(out, a);
        return;
    }
    if (isDotAtom(local) || isQuotedLocalPart(local)) {
        appendUtf8(out, local.toString());
    } else {
        // "a,b" or "x<y" would otherwise be read as two addresses or a broken one.
        QString quoted = QStringLiteral("\"");
        for (const QChar ch : local) {
            if (ch == QLatin1Char('"') || ch == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += ch;
        }
        appendUtf8(out, quoted + QLatin1Char('"'));
    }
    out += '@';
    const QByteArray ace = asciiDomain ? QByteArray() : QUrl::toAce(domain.toString());
    if (ace.isEmpty())
        appendUtf8(out, domain.toString());
    else
        out += ace;
}

void appendDisplayName(QByteArray &out, const QString &name, const QByteArray &fold)
{
    const QString clean = HeaderSafe(name);
    // "=?" inside quotes is still decoded by many readers: the name is then written as words
    // whose decoding is the name itself.
    if (!isAscii(clean) || clean.size() > kLongName || clean.contains(QLatin1String("=?"))) {
        out += EncodedWords(clean, fold);
        return;
    }
    if (!needsQuoting(clean)) {
        appendAscii(out, clean);
        return;
    }
    out += '"';
    for (const QChar ch : clean) {
        if (ch == QLatin1Char('"') || ch == QLatin1Char('\\'))
            out += '\\';
        out += char(ch.unicode());
    }
    out += '"';
}

bool hasRecipientGate(const QString &list)
{
    // Every entity starts with '&': most lists hold none, and the case-blind searches cost more
    // than the rest of the header.
    if (!list.contains(QLatin1Char('&')))
        return false;
    for (const char *entity : {"&lt;", "&amp;", "&nbsp;"}) {
        if (list.contains(QLatin1String(entity), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString decodeRecipient(QString entry, int entityCount)
{
    entry.replace(QLatin1String("&lt;"), QLatin1String("<"));
    entry.replace(QLatin1String("&amp;"), QLatin1String("&"));
    entry.replace(QLatin1String("&nbsp;"), QLatin1String(" "));
    if (entityCount >= 4)
        entry.replace(QLatin1String("&gt;"), QLatin1String(">"));
    return entry;
}

QByteArray priorityLine(const MailMLRC &rec, const MailFormatStyle &style)
{
    const int index = rec.cPriority - '2';
    if (index < 0 || index > 2 || !style.priorityDigits[index])
        return QByteArray();
    return QByteArray("X-Priority: ") + style.priorityDigits[index] + style.priorityLineEnd;
}

QByteArray dateLine(const MailMessage &message)
{
    const MailFormatStyle &style = message.style;
    const QString &name = message.fields.strEntryName;
    const MailFolderClass folderClass =
        ClassifyMailFolder(style.classifyOnFolderPath ? MailFolderRelativePath(name) : name);
    const MailTime t = ChooseMailTime(message.record, folderClass, style.dateHeaderTimeRule,
                                      ReadMessageTimes(message.record, message.xml));
    // A message without a readable date has no Date line rather than a made-up one.
    if (t.kind == MailTime::None || t.kind == MailTime::Undated)
        return QByteArray();
    const qint64 seconds = t.kind == MailTime::Now ? QDateTime::currentSecsSinceEpoch() : t.seconds;
    return "Date: " + FormatMailDate(seconds, style) + style.dateLineEnd;
}

void appendFromHeader(QByteArray &out, const MailMLRC &rec, const MailMessageFields &fields, const QByteArray &fold)
{
    out += "From: ";
    AppendMailbox(out, SenderDisplayName(rec, fields), CleanRecipientAddress(LastListEntry(fields.strFromList)), fold);
}

// Which folder words a part of an entry name holds, one bit each in the order they decide.
unsigned folderWords(const QStringRef &part)
{
    static const QLatin1String kWords[] = {QLatin1String("Sent Items"), QLatin1String("Inbox"),
                                           QLatin1String("Deleted Items"), QLatin1String("Drafts")};
    unsigned bits = 0;
    for (unsigned k = 0; k < 4; ++k) {
        if (part.contains(kWords[k]))
            bits |= 1u << k;
    }
    return bits;
}

}  // namespace

MailFolderClass ClassifyMailFolder(const QString &entryName)
{
    // No word holds '/', so the name holds a word where its folder part or its file name does.
    // A folder's messages come one after another: its part's words are looked for once.
    thread_local QString lastFolder;
    thread_local unsigned lastWords = 0;
    thread_local bool known = false;
    const int slash = entryName.lastIndexOf(QLatin1Char('/'));
    const QStringRef folder = entryName.leftRef(slash + 1), file = entryName.midRef(slash + 1);
    if (!known || folder != lastFolder) {
        lastWords = folderWords(folder);
        lastFolder = folder.toString();
        known = true;
    }
    unsigned words = lastWords;
    // Every word starts with 'S', 'I' or 'D': a file name without them holds none.
    if (file.contains(QLatin1Char('S')) || file.contains(QLatin1Char('I')) || file.contains(QLatin1Char('D')))
        words |= folderWords(file);
    static const MailFolderClass kClasses[] = {MailFolderClass::SentItems, MailFolderClass::Inbox,
                                               MailFolderClass::DeletedItems, MailFolderClass::Drafts};
    return words ? kClasses[__builtin_ctz(words)] : MailFolderClass::Other;
}

MessageTimes RecordTimes(const MailMLRC &rec)
{
    MessageTimes t;
    t.sent = rec.dwSentTime;
    t.received = rec.dwReceivedTime;
    t.hasSent = rec.dwSentTime != 0;
    t.hasReceived = rec.dwReceivedTime != 0;
    return t;
}

MessageTimes ReadMessageTimes(const MailMLRC &rec, const QByteArray *xml)
{
    MessageTimes t = RecordTimes(rec);
    // The record holds 0 for a time outside its 32 bits: only then is the text read again.
    if (xml && !(t.hasSent && t.hasReceived)) {
        const std::string_view text(xml->constData(), size_t(xml->size()));
        if (!t.hasSent)
            t.hasSent = xmlTime(text, "<OPFMessageCopySentTime", &t.sent);
        if (!t.hasReceived)
            t.hasReceived = xmlTime(text, "<OPFMessageCopyReceivedTime", &t.received);
    }
    return t;
}

MailTime ChooseMailTime(const MailMLRC &rec, MailFolderClass folderClass, MailTimeRule rule)
{
    return ChooseMailTime(rec, folderClass, rule, RecordTimes(rec));
}

MailTime ChooseMailTime(const MailMLRC &rec, MailFolderClass folderClass, MailTimeRule rule, const MessageTimes &times)
{
    if (rec.bOutgoing == '-')
        return sentFirst(times);
    switch (folderClass) {
    case MailFolderClass::SentItems:
    case MailFolderClass::Drafts:
        return sentFirst(times);
    case MailFolderClass::Inbox:
        return receivedFirst(times);
    case MailFolderClass::DeletedItems:
        return rec.bOutgoing == 1 ? sentFirst(times) : receivedFirst(times);
    case MailFolderClass::Other:
        break;
    }
    return unfiledTime(rec, rule, times);
}

quint32 MailDateSeconds(const MailMLRC &record, const QString &entryName)
{
    const MailTime t = ChooseMailTime(record, ClassifyMailFolder(entryName), MailTimeRule::DateHeader);
    return t.kind == MailTime::Record ? quint32(t.seconds) : 0;
}

QByteArray FormatMailDate(qint64 seconds, const MailFormatStyle &style)
{
    struct tm local;
    if (!localTime(seconds, &local))
        return QByteArray();
    // "Www, dd Mmm yyyy hh:mm:ss"
    char text[64];
    char *to = putText(text, kDayNames[local.tm_wday]);
    *to++ = ',';
    *to++ = ' ';
    to = putNumber(to, local.tm_mday, 2);
    *to++ = ' ';
    to = putText(to, kMonthNames[local.tm_mon]);
    *to++ = ' ';
    to = putNumber(to, local.tm_year + 1900, 4);
    *to++ = ' ';
    to = putClock(to, local);
    QByteArray line(text, int(to - text));
    const QByteArray zone = style.numericDateZone ? numericZone(local) : HeaderSafe(zoneText(local));
    if (!zone.isEmpty())
        line += ' ' + zone;
    return line;
}

QByteArray FromLineText(const MailTime &time, const MailFormatStyle &style)
{
    QByteArray line;
    line.reserve(64);
    line += "From ???@??? ";
    if (time.kind != MailTime::Record && time.kind != MailTime::Undated) {
        const QLocale c = QLocale::c();
        line += c.toString(QDateTime::currentDateTime(), QStringLiteral("ddd MMM d HH:mm:ss yyyy")).toLatin1();
        return line += style.dateLineEnd;
    }
    struct tm local;
    if (localTime(time.seconds, &local)) {
        // "Www Mmm dd hh:mm:ss yyyy"
        char text[64];
        char *to = putText(text, kDayNames[local.tm_wday]);
        *to++ = ' ';
        to = putText(to, kMonthNames[local.tm_mon]);
        *to++ = ' ';
        to = putNumber(to, local.tm_mday, 2);
        *to++ = ' ';
        to = putClock(to, local);
        *to++ = ' ';
        to = putNumber(to, local.tm_year + 1900, 4);
        line.append(text, int(to - text));
        const QByteArray zone = HeaderSafe(zoneText(local));
        if (style.fromLineZone && !zone.isEmpty())
            AppendPieces(line, ' ', zone);
    }
    return line += style.dateLineEnd;
}

// Not through EncodedWords: the subject's stored bytes are encoded as they are, never decoded.
QByteArray EncodeSubjectWord(const char *subject, const QByteArray &fold)
{
    QByteArray words;
    const int size = subject ? int(std::strlen(subject)) : 0;
    if (size == 0)
        appendEncodedWord(words, "", 0);
    else
        appendEncodedWords(words, subject, size, fold);
    return words;
}

QStringList ListEntries(const QString &list)
{
    QStringList entries;
    int start = 0;
    // Only a list holding '&' can hold an entity.
    const bool entities = list.contains(QLatin1Char('&'));
    for (int i = list.indexOf(QLatin1Char(';')); i >= 0; i = list.indexOf(QLatin1Char(';'), i + 1)) {
        if (entities && closesEntity(list, start, i))
            continue;
        entries.append(list.mid(start, i - start));
        start = i + 1;
    }
    return entries;
}

QString LastListEntry(const QString &list)
{
    const QStringList entries = ListEntries(list);
    return entries.isEmpty() ? list : entries.last();
}

void AppendMailbox(QByteArray &out, const QString &name, const QString &address, const QByteArray &fold)
{
    const QString shown = HeaderSafe(name).trimmed();
    if (!shown.isEmpty()) {
        appendDisplayName(out, shown, fold);
        out += ' ';
    }
    out += '<';
    appendAddress(out, address);
    out += '>';
}

QByteArray HeaderAddress(const QString &address)
{
    QByteArray out;
    appendAddress(out, address);
    return out;
}

QByteArray FormatMailbox(const QString &name, const QString &address)
{
    QByteArray out;
    AppendMailbox(out, name, address);
    return out;
}

QStringList RecipientEntries(const QString &list, int entityCount)
{
    QStringList entries = ListEntries(list);
    if (hasRecipientGate(list)) {
        for (QString &entry : entries)
            entry = decodeRecipient(entry, entityCount);
    }
    return entries;
}

QVector<MailRecipient> HeaderRecipients(const QString &list, const QVector<MailRecipient> &parsed, int entityCount)
{
    if (!parsed.isEmpty())
        return parsed;
    QVector<MailRecipient> recipients;
    for (const QString &entry : RecipientEntries(list, entityCount)) {
        const QString address = CleanRecipientAddress(entry);
        if (!address.isEmpty())
            recipients.append({QString(), address});
    }
    return recipients;
}

void AppendAddressList(QByteArray &out, const QVector<MailRecipient> &recipients, const MailFormatStyle &style)
{
    bool first = true;
    const QByteArray fold = style.lineEnd + ' ';
    for (const MailRecipient &r : recipients) {
        if (!first)
            out += style.addressSeparator;
        AppendMailbox(out, r.name, r.address, fold);
        first = false;
    }
}

QByteArray FormatAddressList(const QString &list, int entityCount, const MailFormatStyle &style,
                             const QVector<MailRecipient> &parsed)
{
    QByteArray out;
    AppendAddressList(out, HeaderRecipients(list, parsed, entityCount), style);
    return out;
}

QString SenderDisplayName(const MailMLRC &record, const MailMessageFields &fields)
{
    if (!fields.lastSenderName.isEmpty() || !fields.fromNames.isEmpty())
        return fields.lastSenderName;
    // The record's names stand in only when the XML named no sender at all.
    return record.pFromNames ? LastListEntry(QString::fromUtf8(record.pFromNames)) : QString();
}

namespace {

uint codeOf(char c)
{
    return quint8(c);
}
uint codeOf(QChar c)
{
    return c.unicode();
}

template <typename Char>
bool isControl(Char c)
{
    return codeOf(c) < 0x20 || codeOf(c) == 0x7F;
}

// UTF-8 bytes below 0x80 are whole characters, so bytes and text are scrubbed alike. A value
// without controls, the usual one, is given back uncopied.
template <typename Text>
Text controlsAsSpaces(Text text)
{
    const Text &look = text;
    if (std::none_of(look.begin(), look.end(), isControl<typename Text::value_type>))
        return text;
    for (auto &c : text) {
        if (isControl(c))
            c = ' ';
    }
    return text;
}

}  // namespace

QByteArray HeaderSafe(QByteArray value)
{
    return controlsAsSpaces(std::move(value));
}

QString HeaderSafe(QString value)
{
    return controlsAsSpaces(std::move(value));
}

namespace {

// The subject as it is where its line fits the limit and nothing in it reads as an encoded word;
// else as folded encoded words.
QByteArray threadTopic(const char *subject, const QByteArray &fold)
{
    const QByteArray raw = HeaderSafe(QByteArray(subject));
    if (raw.size() + int(sizeof "Thread-Topic: ") <= kMaxHeaderLine && !raw.contains("=?"))
        return raw;
    return EncodeSubjectWord(subject, fold);
}

}  // namespace

void WriteFromLine(const MailMessage &message)
{
    const MailFormatStyle &style = message.style;
    if (!style.writesFromLine)
        return;
    const MailFolderClass folderClass = ClassifyMailFolder(message.fields.strEntryName);
    const MailTime time = ChooseMailTime(message.record, folderClass, style.fromLineTimeRule,
                                         ReadMessageTimes(message.record, message.xml));
    message.out.write(FromLineText(time, style));
    if (time.kind == MailTime::Record || time.kind == MailTime::Undated)
        message.out.write(kUserAgent + style.lineEnd);
}

void WriteMailHeaders(const MailMessage &message)
{
    const MailMLRC &rec = message.record;
    const MailMessageFields &f = message.fields;
    const MailFormatStyle &style = message.style;
    const QByteArray &le = style.lineEnd;
    // Every line goes into one buffer, sized for the usual headers at once.
    QByteArray block;
    block.reserve(1024);
    const QByteArray fold = le + ' ';
    if (rec.pSubject)
        AppendPieces(block, "Subject: ", EncodeSubjectWord(rec.pSubject, fold), le);
    if (!f.strFromList.isEmpty()) {
        appendFromHeader(block, rec, f, fold);
        block += le;
    }
    const struct {
        const char *name;
        const QString &list;
        const QVector<MailRecipient> &parsed;
        int entityCount;
    } lists[] = {{"To: ", f.strToList, f.toRecipients, 3},
                 {"Cc: ", f.strCcList, f.ccRecipients, 4},
                 {"Bcc: ", f.strBccList, f.bccRecipients, 4}};
    for (const auto &l : lists) {
        const QVector<MailRecipient> recipients = HeaderRecipients(l.list, l.parsed, l.entityCount);
        if (recipients.isEmpty())
            continue;
        block += l.name;
        AppendAddressList(block, recipients, style);
        block += le;
    }
    block += dateLine(message);
    if (rec.pSubject)
        AppendPieces(block, "Thread-Topic: ", threadTopic(rec.pSubject, fold), le);
    if (style.writesPriorityAndHasAttach)
        block += priorityLine(rec, style);
    // The same test that decides whether the boundaries are made from the id.
    if (HasUsableMessageId(f.strMessageId))
        AppendPieces(block, "Message-ID: ", HeaderSafe(f.strMessageId.toLatin1()), le);
    if (style.writesPriorityAndHasAttach)
        AppendPieces(block, "X-MS-Has-Attach: ", f.strAttachmentContentIds.isEmpty() ? "" : "yes", le);
    AppendPieces(block, "Mime-version: 1.1", le);
    message.out.write(block);
}

QByteArray EncodedWords(const QString &text, const QByteArray &separator)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    appendEncodedWords(out, utf8.constData(), utf8.size(), separator);
    return out;
}
