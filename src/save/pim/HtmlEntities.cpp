#include "save/pim/HtmlEntities.h"

#include <QHash>

namespace {

struct EntityNames {
    QHash<QString, QString> byName;  // "eacute;" and, for the legacy ones, "eacute"
    int longest = 0;
};

const EntityNames &entityNames()
{
    static const EntityNames names = [] {
        EntityNames n;
        for (const QByteArray &entry : QByteArray(kHtmlEntityTable).split(' ')) {
            const int eq = entry.indexOf('=');
            if (eq <= 0)
                continue;
            QString value;
            for (const QByteArray &code : entry.mid(eq + 1).split('+')) {
                const uint point = code.toUInt(nullptr, 16);
                value += QString::fromUcs4(&point, 1);
            }
            n.byName.insert(QString::fromLatin1(entry.left(eq)), value);
            n.longest = qMax(n.longest, eq);
        }
        return n;
    }();
    return names;
}

bool isNameChar(QChar c)
{
    return c.unicode() < 0x80 && c.isLetterOrNumber();
}

// HTML reads the references to the C1 controls as Windows-1252 did, as old pages meant them
// ("&#150;" an en dash, "&#147;" a quote); the five codes that page leaves unused stay.
uint windows1252(uint code)
{
    static const char16_t kC1[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                     0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    return code >= 0x80 && code <= 0x9F ? kC1[code - 0x80] : code;
}

int digitValue(QChar c, bool hex)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (hex && (u | 0x20) >= 'a' && (u | 0x20) <= 'f')
        return (u | 0x20) - 'a' + 10;
    return -1;
}

// The numeric reference at text[at] ("&#N" or "&#xH", its ';' optional) as HTML reads it: NUL,
// a surrogate or a code past U+10FFFF is U+FFFD. Empty when no digit follows.
QString numericReferenceAt(const QString &text, int at, int *length)
{
    int i = at + 2;
    const bool hex = i < text.size() && (text.at(i) == QLatin1Char('x') || text.at(i) == QLatin1Char('X'));
    if (hex)
        ++i;
    const int digitsFrom = i;
    uint code = 0;
    for (int digit; i < text.size() && (digit = digitValue(text.at(i), hex)) >= 0; ++i)
        code = qMin<uint>(code * (hex ? 16 : 10) + uint(digit), 0x110000);  // past the last code, however long
    if (i == digitsFrom)
        return QString();
    if (i < text.size() && text.at(i) == QLatin1Char(';'))
        ++i;
    *length = i - at;
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    code = windows1252(code);
    return QString::fromUcs4(&code, 1);
}

// The reference at text[at] ('&'): *length its characters, the text it stands for; empty when
// it is none.
QString referenceAt(const QString &text, int at, int *length)
{
    const EntityNames &names = entityNames();
    if (at + 1 < text.size() && text.at(at + 1) == QLatin1Char('#'))
        return numericReferenceAt(text, at, length);
    int end = at + 1;
    while (end < text.size() && end - at <= names.longest && isNameChar(text.at(end)))
        ++end;
    if (end < text.size() && text.at(end) == QLatin1Char(';')) {
        const auto it = names.byName.constFind(text.mid(at + 1, end - at));
        if (it != names.byName.constEnd()) {
            *length = end - at + 1;
            return it.value();
        }
    }
    // A legacy name without its ';': the longest one the text starts with ("&copy 2020").
    for (int stop = end; stop > at + 1; --stop) {
        const auto it = names.byName.constFind(text.mid(at + 1, stop - at - 1));
        if (it != names.byName.constEnd()) {
            *length = stop - at;
            return it.value();
        }
    }
    return QString();
}

}  // namespace

QString UnescapeHtmlText(const QString &text)
{
    if (!text.contains(QLatin1Char('&')))
        return text;
    QString out;
    out.reserve(text.size());
    for (int at = 0; at < text.size();) {
        const int amp = text.indexOf(QLatin1Char('&'), at);
        if (amp < 0) {
            out += text.midRef(at);
            break;
        }
        out += text.midRef(at, amp - at);
        int length = 0;
        const QString value = referenceAt(text, amp, &length);
        if (value.isEmpty()) {
            out += QLatin1Char('&');
            at = amp + 1;
        } else {
            out += value;
            at = amp + length;
        }
    }
    return out;
}
