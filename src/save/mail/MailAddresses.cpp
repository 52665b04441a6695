// Address lines: list entries, mailboxes and the display names and addresses inside them.

#include "save/mail/MailHeaders.h"

#include "save/mail/MailWriter.h"
#include "scanner/ScanGlobals.h"

#include <QUrl>

#include <algorithm>
#include <cstring>

namespace {

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

// RFC 3492's bias adaptation.
quint64 adaptBias(quint64 delta, quint64 points, bool first)
{
    delta = first ? delta / 700 : delta / 2;
    delta += delta / points;
    quint64 k = 0;
    while (delta > 35 * 26 / 2) {
        delta /= 35;
        k += 36;
    }
    return k + 36 * delta / (delta + 38);
}

// One label in punycode (RFC 3492), without its "xn--"; empty when it will not encode.
QByteArray punycodeLabel(const QVector<uint> &points)
{
    const auto digit = [](quint64 d) { return char(d < 26 ? 'a' + d : '0' + d - 26); };
    QByteArray out;
    for (const uint c : points) {
        if (c < 0x80)
            out += char(c);
    }
    const quint64 basic = quint64(out.size());
    quint64 handled = basic;
    if (basic > 0)
        out += '-';
    quint64 n = 0x80, delta = 0, bias = 72;
    while (handled < quint64(points.size())) {
        quint64 m = ~quint64(0);
        for (const uint c : points) {
            if (c >= n && c < m)
                m = c;
        }
        delta += (m - n) * (handled + 1);
        n = m;
        for (const uint c : points) {
            if (c < n)
                ++delta;
            if (c != n)
                continue;
            quint64 q = delta;
            for (quint64 k = 36;; k += 36) {
                const quint64 t = k <= bias ? 1 : k >= bias + 26 ? 26 : k - bias;
                if (q < t)
                    break;
                out += digit(t + (q - t) % (36 - t));
                q = (q - t) / (36 - t);
            }
            out += digit(q);
            bias = adaptBias(delta, handled + 1, handled == basic);
            delta = 0;
            ++handled;
        }
        ++delta;
        ++n;
        if (delta > 0xFFFFFFFFu || out.size() > 255)
            return QByteArray();
    }
    return out;
}

QByteArray punycodeDomain(const QString &domain)
{
    QByteArray out;
    const QStringList labels = domain.toLower().split(QLatin1Char('.'));
    for (int i = 0; i < labels.size(); ++i) {
        const QString &label = labels.at(i);
        if (i > 0)
            out += '.';
        const QVector<uint> points = label.toUcs4();
        if (std::all_of(points.begin(), points.end(), [](uint c) { return c < 0x80; })) {
            out += label.toLatin1();
            continue;
        }
        const QByteArray encoded = punycodeLabel(points);
        if (encoded.isEmpty())
            return QByteArray();
        out += "xn--" + encoded;
    }
    return out;
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
    QByteArray ace = asciiDomain ? QByteArray() : QUrl::toAce(domain.toString());
    // Names the IDNA rules refuse (symbols, emoji) are still registered in their punycode form:
    // that keeps the header ASCII for readers without UTF-8 headers.
    if (ace.isEmpty() && !asciiDomain)
        ace = punycodeDomain(domain.toString());
    if (ace.isEmpty())
        appendUtf8(out, domain.toString());
    else
        out += ace;
}

void appendDisplayName(QByteArray &out, const QString &name, const QByteArray &fold, MailOutput *spill)
{
    const QString clean = HeaderSafe(name);
    // "=?" inside quotes is still decoded by many readers: the name is then written as words
    // whose decoding is the name itself.
    if (!isAscii(clean) || clean.size() > kLongName || clean.contains(QLatin1String("=?"))) {
        AppendEncodedWords(out, clean, fold, spill);
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

}  // namespace

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

void AppendMailbox(QByteArray &out, const QString &name, const QString &address, const QByteArray &fold,
                   MailOutput *spill)
{
    QString shown = HeaderSafe(name).trimmed();
    QString addr = HeaderSafe(address).trimmed();
    // An address holds no blank (controls are blanks by now): text after one (a line break from
    // damage, a header or a second address smuggled in) is no part of it. The address ends at the
    // first blank when an '@' comes before it, else at the first blank after its domain's '@' (a
    // local part with blanks is quoted); the whole text is shown in the name.
    int blank = addr.indexOf(QLatin1Char(' '));
    if (blank >= 0 && !addr.leftRef(blank).contains(QLatin1Char('@'))) {
        const int at = addr.lastIndexOf(QLatin1Char('@'));
        blank = at < 0 ? -1 : addr.indexOf(QLatin1Char(' '), at);
        if (blank == at + 1)
            blank = -1;
    }
    if (blank > 0) {
        shown = shown.isEmpty() ? addr : QStringLiteral("%1 (%2)").arg(shown, addr);
        addr.truncate(blank);
    }
    if (!shown.isEmpty()) {
        appendDisplayName(out, shown, fold, spill);
        out += ' ';
    }
    out += '<';
    appendAddress(out, addr);
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

void AppendAddressList(QByteArray &out, const QVector<MailRecipient> &recipients, const MailFormatStyle &style,
                       MailOutput *spill)
{
    bool first = true;
    const QByteArray fold = style.lineEnd + ' ';
    for (const MailRecipient &r : recipients) {
        if (!first)
            out += style.addressSeparator;
        AppendMailbox(out, r.name, r.address, fold, spill);
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
