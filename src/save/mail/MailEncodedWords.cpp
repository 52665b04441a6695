// Header text: RFC 2047 encoded words and the scrubbing of controls from header values.

#include "save/mail/MailHeaders.h"

#include "save/mail/MailOutput.h"

#include <algorithm>
#include <cstring>

namespace {

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

// Whether a word may end before byte `at`: it splits no character there. Continuation bytes with
// no lead before them belong to no character (the bytes are no UTF-8) and may be cut anywhere.
bool startsCharacter(const char *utf8, int size, int at)
{
    if (at >= size || (quint8(utf8[at]) & 0xC0) != 0x80)
        return true;
    for (int back = 1; back <= 3 && at - back >= 0; ++back) {
        const quint8 b = quint8(utf8[at - back]);
        if ((b & 0xC0) == 0x80)
            continue;
        const int length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return back >= length;
    }
    return true;
}

// Whether the character whose lead byte is c belongs to a word of a script written with blanks
// between words: ASCII letters and digits, and the two-byte characters (Latin, Greek, Cyrillic,
// Hebrew, Arabic). Ideographs and other three- and four-byte characters stand on their own.
bool isSpacedWordLead(quint8 c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || (c >= 0xC2 && c <= 0xDF);
}

// Where the character that starts at `at` ends.
int nextCharacter(const char *utf8, int size, int at)
{
    int end = at + 1;
    while (end < size && !startsCharacter(utf8, size, end))
        ++end;
    return end;
}

// The lead byte of the character that ends before `end`.
int leadBefore(const char *utf8, int end)
{
    int lead = end - 1;
    while (lead > 0 && (quint8(utf8[lead]) & 0xC0) == 0x80 && end - lead < 4)
        --lead;
    return lead;
}

// The code point of the character at utf8[at] (a character's start), or 0 for a byte of no
// character.
uint codePointAt(const char *utf8, int size, int at)
{
    const quint8 c = quint8(utf8[at]);
    const int length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    if (length == 0 || at + length > size)
        return 0;
    uint code = length == 1 ? c : c & (0x7F >> length);
    for (int k = 1; k < length; ++k)
        code = code << 6 | (quint8(utf8[at + k]) & 0x3F);
    return code;
}

bool isJoiner(uint code)
{
    return code == 0x200C || code == 0x200D;
}

// Whether the end before byte `end` (a character's start) cuts what a reader that shows the words
// apart would show broken: a word of a script written with blanks ("Nam e"), a letter and the
// marks, joiners or emoji modifiers after it (Thai tone marks, Devanagari and Bengali vowel signs),
// or a conjunct after a virama or a joiner.
bool cutsWord(const char *utf8, int size, int end)
{
    const int lead = leadBefore(utf8, end);
    if (isSpacedWordLead(quint8(utf8[lead])) && isSpacedWordLead(quint8(utf8[end])))
        return true;
    const uint next = codePointAt(utf8, size, end), before = codePointAt(utf8, size, lead);
    const QChar::Category category = QChar::category(next);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
        || category == QChar::Mark_Enclosing || isJoiner(next) || (next >= 0x1F3FB && next <= 0x1F3FF)
        || isJoiner(before) || (before >= 0x80 && QChar::combiningClass(before) == 9);
}

// The most UTF-8 bytes a Q-encoded word holds: each may take three characters, in 75.
constexpr int kQuotedWordBytes = 21;

// "=?UTF-8?Q?<the bytes>?=", with only the characters a word in a phrase may hold left as they are.
void appendQuotedWord(QByteArray &out, const char *bytes, int size)
{
    static const char kHex[] = "0123456789ABCDEF";
    out += "=?UTF-8?Q?";
    for (int i = 0; i < size; ++i) {
        const quint8 c = quint8(bytes[i]);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' || c == '*'
            || c == '+' || c == '-' || c == '/') {
            out += char(c);
        } else if (c == ' ') {
            out += '_';
        } else {
            out += '=';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    out += "?=";
}

struct WordCut {
    int end = 0;
    bool quoted = false;  // the word is Q-encoded: no end a base64 word may take lies in reach
};

// Where the word that starts at `at` ends. Every base64 word but the last holds a multiple of
// three bytes: a word ending in '=' padding makes some readers (GMime) drop the words after it.
// Within that, it ends at a space where one stands (before or after it), so a reader that shows
// the words apart still shows whole words; else at the last whole character that cuts no word
// (see cutsWord); else at the last whole character that fits. Where no such end lies in reach
// (a blank before a run of three-byte characters shifts every end), the word is Q-encoded, one
// character and its marks long, and the next one is base64 again.
WordCut wordEnd(const char *utf8, int size, int at)
{
    if (size - at <= kWordBytes)
        return {size, false};
    int whole = -1, spaced = -1, uncut = -1;
    for (int end = at + 3; end <= at + kWordBytes; end += 3) {
        if (!startsCharacter(utf8, size, end))
            continue;
        whole = end;
        if (utf8[end - 1] == ' ' || utf8[end] == ' ')
            spaced = end;
        if (!cutsWord(utf8, size, end))
            uncut = end;
    }
    if (spaced > 0)
        return {spaced, false};
    if (uncut > 0)
        return {uncut, false};
    if (whole > 0)
        return {whole, false};
    int end = nextCharacter(utf8, size, at);
    while (end < size && cutsWord(utf8, size, end)) {
        const int next = nextCharacter(utf8, size, end);
        if (next - at > kQuotedWordBytes)
            break;
        end = next;
    }
    return {end, true};
}

void appendWord(QByteArray &out, const char *utf8, int at, const WordCut &cut)
{
    if (cut.quoted)
        appendQuotedWord(out, utf8 + at, cut.end - at);
    else
        appendEncodedWord(out, utf8 + at, cut.end - at);
}

// Words as wordEnd cuts them, never splitting a UTF-8 character, the separator between.
void appendEncodedWords(QByteArray &out, const char *utf8, int size, const QByteArray &separator)
{
    int at = 0;
    while (at < size) {
        const WordCut cut = wordEnd(utf8, size, at);
        if (at > 0)
            out += separator;
        appendWord(out, utf8, at, cut);
        at = cut.end;
    }
}

}  // namespace

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

QByteArray EncodedWords(const QString &text, const QByteArray &separator)
{
    QByteArray out;
    AppendEncodedWords(out, text, separator);
    return out;
}

void AppendEncodedWords(QByteArray &out, const QString &text, const QByteArray &separator, MailOutput *spill)
{
    // Converted in pieces: toUtf8 of the whole text would take three bytes per unit at once.
    constexpr int kPiece = 1 << 16;
    // Past this many bytes ahead of a word's start, wordEnd reads the same bytes as it would in
    // the whole text: a word is cut only where the text as a whole would cut it.
    constexpr int kLookAhead = kWordBytes + 4;
    constexpr int kSpillBytes = 1 << 20;
    // Room for the words at once (base64, each word's frame and separator): growing the buffer
    // would hold it twice for a moment. With a spill, room for what is held between spills.
    const qint64 estimate =
        qint64(text.size()) * 4 / 3 + (qint64(text.size()) / kWordBytes + 2) * (12 + separator.size()) + 64;
    out.reserve(int(
        qMin<qint64>(qint64(out.size()) + qMin<qint64>(estimate, spill ? 2 * kSpillBytes : estimate), INT_MAX / 2)));
    QByteArray pending;
    bool first = true;
    for (int from = 0; from < text.size();) {
        int to = qMin(from + kPiece, text.size());
        if (to < text.size() && text.at(to - 1).isHighSurrogate())
            --to;
        pending += text.midRef(from, to - from).toUtf8();
        from = to;
        const bool last = from >= text.size();
        const char *utf8 = pending.constData();
        const int size = pending.size();
        int at = 0;
        while (at < size && (last || size - at > kLookAhead)) {
            const WordCut cut = wordEnd(utf8, size, at);
            if (!first)
                out += separator;
            first = false;
            appendWord(out, utf8, at, cut);
            at = cut.end;
        }
        pending.remove(0, at);
        if (spill && out.size() >= kSpillBytes) {
            spill->write(out);
            out.truncate(0);
        }
    }
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

bool isIdAtext(QChar ch)
{
    const ushort u = ch.unicode();
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
        return true;
    return u > 0x20 && u < 0x7F && std::strchr("!#$%&'*+-/=?^_`{|}~", char(u)) != nullptr;
}

bool isDotAtomText(const QStringRef &text)
{
    if (text.isEmpty() || text.startsWith(QLatin1Char('.')) || text.endsWith(QLatin1Char('.')))
        return false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch == QLatin1Char('.') ? text.at(i - 1) == QLatin1Char('.') : !isIdAtext(ch))
            return false;
    }
    return true;
}

bool isDomainLiteral(const QStringRef &text)
{
    if (text.size() < 2 || !text.startsWith(QLatin1Char('[')) || !text.endsWith(QLatin1Char(']')))
        return false;
    for (const QChar ch : text.mid(1, text.size() - 2)) {
        const ushort u = ch.unicode();
        if (u <= 0x20 || u >= 0x7F || u == '[' || u == ']' || u == '\\')
            return false;
    }
    return true;
}

}  // namespace

QString BareIdentifier(const QString &id)
{
    QString bare = id.trimmed();
    while (bare.startsWith(QLatin1Char('<')))
        bare.remove(0, 1);
    while (bare.endsWith(QLatin1Char('>')))
        bare.chop(1);
    return bare;
}

QByteArray IdentifierLine(const char *name, const QString &id, bool needsDomain, const QByteArray &lineEnd)
{
    const QString bare = BareIdentifier(id);
    const int at = bare.lastIndexOf(QLatin1Char('@'));
    const bool valid = at < 0 ? !needsDomain && isDotAtomText(QStringRef(&bare))
                              : isDotAtomText(bare.leftRef(at))
            && (isDotAtomText(bare.midRef(at + 1)) || isDomainLiteral(bare.midRef(at + 1)));
    if (valid)
        return QByteArray(name) + ": <" + bare.toLatin1() + '>' + lineEnd;
    const QString text = HeaderSafe(id).trimmed();
    if (text.isEmpty())
        return QByteArray();
    const bool plain = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x7F; })
        && !text.contains(QLatin1String("=?")) && text.size() < 900;
    return "X-Original-" + QByteArray(name) + ": " + (plain ? text.toLatin1() : EncodedWords(text, lineEnd + ' '))
        + lineEnd;
}
