#include "scanner/XmlEntities.h"

#include <algorithm>
#include <cstring>

namespace {

struct Entity {
    const char *text;
    const char *replacement;
};

const Entity kThreeEntities[] = {{"&lt;", "<"}, {"&amp;", "&"}, {"&nbsp;", " "}};
const Entity kFourEntities[] = {{"&lt;", "<"}, {"&amp;", "&"}, {"&nbsp;", " "}, {"&gt;", ">"}};
const Entity kSixEntities[] = {{"&lt;", "<"}, {"&amp;", "&"},  {"&nbsp;", " "},
                               {"&gt;", ">"}, {"&apos;", "'"}, {"&quot;", "\""}};
// Quotes first: a markup body whose attributes are quoted by reference keeps its pictures, links
// and styles, and "&amp;quot;" still reads as "&quot;".
const Entity kPreviewEntities[] = {{"&quot;", "\""}, {"&apos;", "'"},   {"&lt;", "<"}, {"&amp;", "&"},
                                   {"&nbsp;", " "},  {"&amp;lt;", "<"}, {"&gt;", ">"}};
const Entity kNoteEntities[] = {{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&nbsp;", " "}};
const Entity kNamedEntities[] = {{"&lt;", "<"},    {"&gt;", ">"},   {"&amp;", "&"},
                                 {"&quot;", "\""}, {"&apos;", "'"}, {"&nbsp;", " "}};

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

// The first entity of table[from..N) whose text follows lead at c[0], lead being its first
// character as a pass before it left it there; its index, or N. room: characters from c on.
template <size_t N>
size_t firstEntityAt(const QChar *c, int room, size_t from, const Entity (&table)[N])
{
    for (size_t k = from; k < N; ++k) {
        const char *rest = table[k].text + 1;
        int i = 0;
        while (rest[i] && i < room && c[i].unicode() == uchar(rest[i]))
            ++i;
        if (!rest[i])
            return k;
    }
    return N;
}

// The same text as one QString::replace pass per entity, in table order, made in one walk. Each
// entity spans '&' to ';' with no other '&', so passes meet only where a replacement yields '&':
// that '&' and the text after it may still form an entity of a later pass.
template <size_t N>
QString replaceInOrder(const QString &text, const Entity (&table)[N])
{
    // Without a case-blind hit no case-sensitive pass can change anything: no copy is made.
    if (!containsAny(text, table))
        return text;
    QString out(text.size(), Qt::Uninitialized);
    QChar *to = out.data();
    const QChar *c = text.constData();
    const int size = text.size();
    int from = 0;
    for (int amp = text.indexOf(QLatin1Char('&')); amp >= 0; amp = text.indexOf(QLatin1Char('&'), from)) {
        std::copy(c + from, c + amp, to);
        to += amp - from;
        from = amp + 1;
        char lead = '&';
        for (size_t k = firstEntityAt(c + from, size - from, 0, table); k < N;
             k = firstEntityAt(c + from, size - from, k + 1, table)) {
            from += int(std::strlen(table[k].text)) - 1;
            lead = table[k].replacement[0];
            if (lead != '&')
                break;
        }
        *to++ = QLatin1Char(lead);
    }
    std::copy(c + from, c + size, to);
    out.truncate(int(to - out.constData()) + size - from);
    return out;
}

// The length of "&#N;" or "&#xH;" at text[i] with its character in out, or 0 when it is none
// (too long, no digits, NUL, a surrogate or beyond Unicode).
int numericReference(const QString &text, int i, QString *out)
{
    if (text.midRef(i, 2) != QLatin1String("&#"))
        return 0;
    // Only the few characters a reference may span are looked at: a text of references that
    // never end must not search its rest for each of them.
    const int limit = qMin(text.size(), i + 13);
    int semi = i + 2;
    while (semi < limit && text[semi] != QLatin1Char(';'))
        ++semi;
    if (semi >= limit)
        return 0;
    const bool hex = i + 2 < text.size() && (text[i + 2] == QLatin1Char('x') || text[i + 2] == QLatin1Char('X'));
    bool ok = false;
    const uint code = text.midRef(i + (hex ? 3 : 2), semi - i - (hex ? 3 : 2)).toUInt(&ok, hex ? 16 : 10);
    if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    const char32_t c = char32_t(code);
    *out = QString::fromUcs4(&c, 1);
    return semi - i + 1;
}

// Case-sensitive ASCII literal at text[at].
bool hasLiteralAt(const QString &text, int at, const char *literal, int length)
{
    if (at + length > text.size())
        return false;
    const QChar *c = text.constData() + at;
    for (int i = 0; i < length; ++i) {
        if (c[i].unicode() != ushort(uchar(literal[i])))
            return false;
    }
    return true;
}

// Appends the text of the reference at text[i] ('&') to out and returns its length, or 0 when
// it is unknown. Bodies hold a reference every few characters: no string is made for one.
int appendReference(const QString &text, int i, bool numeric, bool named, QString &out)
{
    for (const Entity &e : kNamedEntities) {
        if (!named)
            break;
        const int length = int(std::strlen(e.text));
        if (hasLiteralAt(text, i, e.text, length)) {
            out.append(QLatin1Char(e.replacement[0]));
            return length;
        }
    }
    if (!numeric)
        return 0;
    QString decoded;
    const int used = numericReference(text, i, &decoded);
    if (used > 0)
        out.append(decoded);
    return used;
}

QString onePass(const QString &text, bool numeric, bool named = true)
{
    int amp = text.indexOf(QLatin1Char('&'));
    if (amp < 0)
        return text;
    QString out;
    out.reserve(text.size());
    int from = 0;
    while (amp >= 0) {
        out.append(text.constData() + from, amp - from);
        const int used = appendReference(text, amp, numeric, named, out);
        if (used > 0) {
            from = amp + used;
        } else {
            out.append(QLatin1Char('&'));
            from = amp + 1;
        }
        amp = text.indexOf(QLatin1Char('&'), from);
    }
    out.append(text.constData() + from, text.size() - from);
    return out;
}

}  // namespace

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
        return replaceInOrder(text, kThreeEntities);
    case EntityForm::Four:
        return replaceInOrder(text, kFourEntities);
    case EntityForm::Six:
        return replaceInOrder(text, kSixEntities);
    case EntityForm::Preview:
        return replaceInOrder(text, kPreviewEntities);
    case EntityForm::Notes:
        return replaceInOrder(text, kNoteEntities);
    case EntityForm::Scanned:
        return onePass(text, true);
    case EntityForm::Numeric:
        return onePass(text, true, false);
    case EntityForm::Named:
        break;
    }
    return onePass(text, false);
}
