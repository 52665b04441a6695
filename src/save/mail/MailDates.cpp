// Which record time a message shows, and its Date header and From_ line texts.

#include "save/mail/MailHeaders.h"

#include "save/mail/MailWriter.h"
#include "scanner/DateTimeConvert.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"

#include <QDateTime>
#include <QLocale>

#include <cstdio>
#include <ctime>

namespace {

constexpr qint64 kFirstMailSecond = -2208988800LL;  // 1900-01-01T00:00:00Z
constexpr qint64 kLastMailSecond = 253402300799LL;  // 9999-12-31T23:59:59Z

}  // namespace

qint64 ClampMailSeconds(qint64 seconds)
{
    const qint64 instant = qBound(kFirstMailSecond, seconds, kLastMailSecond);
    // No zone is a day off UTC: only the first and the last day can fall outside locally.
    if (instant - kFirstMailSecond >= 86400 && kLastMailSecond - instant >= 86400)
        return instant;
    // The zone's offset may take an edge instant out of the years 1900 to 9999: it is shown at
    // the zone's own first or last second of them.
    const time_t t = time_t(instant);
    struct tm local;
    if (!localtime_r(&t, &local))
        return instant;
    if (local.tm_year < 0)
        return kFirstMailSecond - local.tm_gmtoff;
    if (local.tm_year > 9999 - 1900)
        return kLastMailSecond - local.tm_gmtoff;
    return instant;
}

namespace {

const char *const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The machine's local time of a record time. localtime_r, not QDateTime: mktime re-reads the
// zone file on every call, which cost a tenth of a whole save. 64-bit seconds: times before
// 1970 and after 2106 are shown as they are.
bool localTime(qint64 seconds, struct tm *local)
{
    const time_t instant = time_t(ClampMailSeconds(seconds));
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
    // Read as XML: references, comments and CDATA inside the date are what a reader makes of them.
    const QString text = ElementText(ElementBytes(xml, span));
    return !text.isEmpty() && ArchiveTimeSeconds(text, seconds);
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

bool MessageModifiedTime(const QByteArray *xml, qint64 *seconds)
{
    return xml && xmlTime(std::string_view(xml->constData(), size_t(xml->size())), "<OPFMessageCopyModDate", seconds);
}
