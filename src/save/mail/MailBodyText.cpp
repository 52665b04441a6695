// The text part's body: read without its NULs, checked as UTF-8, its kind told, its entities
// decoded and its line ends made one form.

#include "save/mail/MailMimeParts.h"

#include "save/MessageFields.h"
#include "scanner/ByteScan.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"

#include <cstring>

namespace {

struct TagPair {
    const char *open;
    const char *close;
};

// The anchor row must stay last: the line-end test leaves it out.
const TagPair kTagPairs[kHtmlRowsKind] = {
    {"<html", "</html>"},   {"<table", "</table>"},   {"<body", "</body>"}, {"<tbody", "</tbody>"},
    {"<td", "</td>"},       {"<tr", "</tr>"},         {"<div", "</div>"},   {"<br", "</br>"},
    {"<small", "</small>"}, {"<strong", "</strong>"}, {"<map", "</map>"},   {"<head", "</head>"},
    {"<title", "</title>"}, {"<a ", "</a>"},
};

// Any of these in the raw text means it came as escaped markup or text: its line ends are
// then made plain LF whatever the kind test says.
const char *const kEntityGate[] = {"&gt;", "&lt;", "&amp;", "&nbsp;"};

}  // namespace

QString ReadMessageBody(const MailMLRC &record, const QByteArray *xml, BodyReading *reading)
{
    return DecodeBodyText(ReadMessageBodyBytes(record, xml), reading);
}

QByteArray ReadMessageBodyBytes(const MailMLRC &record, const QByteArray *xml)
{
    if (record.dwBodyLength == 0)
        return QByteArray();
    const qint64 from = record.llBodyOffset - record.llDataOffset;
    if (xml && from >= 0 && qint64(record.dwBodyLength) <= kMaxArchiveTextRead
        && from + qint64(record.dwBodyLength) <= xml->size()) {
        const char *body = xml->constData() + from;
        // Not copied unless it holds a NUL: the caller's xml outlives what is made of the body.
        if (!memchr(body, 0, record.dwBodyLength))
            return QByteArray::fromRawData(body, int(record.dwBodyLength));
        return WithoutNuls(QByteArray(body, int(record.dwBodyLength)));
    }
    return WithoutNuls(ReadArchiveBytes(record.llBodyOffset, record.dwBodyLength));
}

QByteArray WithoutNuls(QByteArray bytes)
{
    // No text holds a NUL: dropping it keeps every character after it.
    if (memchr(bytes.constData(), 0, size_t(bytes.size())))
        bytes.replace('\0', QByteArray());
    return bytes;
}

namespace {

// The next "From " at or after from, or npos. 'F' is rare in mail text, so finding it with
// memchr and checking the rest beats a general substring search.
size_t findFromWord(std::string_view text, size_t from)
{
    while (from + 5 <= text.size()) {
        const void *f = memchr(text.data() + from, 'F', text.size() - from - 4);
        if (!f)
            return std::string_view::npos;
        const size_t at = size_t(static_cast<const char *>(f) - text.data());
        if (memcmp(text.data() + at, "From ", 5) == 0)
            return at;
        from = at + 1;
    }
    return std::string_view::npos;
}

}  // namespace

QByteArray QuoteMboxFromLines(const QByteArray &text)
{
    // Only lines that start with "From " after any '>' get one more '>'; such lines are rare, so
    // the text is searched for "From " and each hit is checked for standing at a line start.
    const std::string_view view(text.constData(), size_t(text.size()));
    size_t at = findFromWord(view, 0);
    if (at == std::string_view::npos)
        return text;
    QByteArray out;
    size_t copied = 0;
    for (; at != std::string_view::npos; at = findFromWord(view, at + 5)) {
        size_t lineStart = at;
        while (lineStart > 0 && view[lineStart - 1] == '>')
            --lineStart;
        // A lone CR ends a line too: the package's mailboxes are read CR-aware.
        if (lineStart > 0 && view[lineStart - 1] != '\n' && view[lineStart - 1] != '\r')
            continue;
        if (out.isEmpty())
            out.reserve(text.size() + 64);
        out.append(text.constData() + copied, int(lineStart - copied));
        out.append('>');
        copied = lineStart;
    }
    if (out.isEmpty())
        return text;
    out.append(text.constData() + copied, int(view.size() - copied));
    return out;
}

namespace {

#ifdef __SSE2__
using byte_scan::AtLeast;
using byte_scan::AtMost;
using byte_scan::Equals;

// The sixteen bytes at q checked as UTF-8, q[-3..-1] being the bytes before them: lanes that
// break a rule. Without a branch per character, so mixed scripts cost no mispredictions.
__m128i utf8Errors(const uchar *q)
{
    using byte_scan::Load16;
    const __m128i cur = Load16(q), p1 = Load16(q - 1), p2 = Load16(q - 2), p3 = Load16(q - 3);
    // Never in UTF-8: C0, C1 (overlong leads) and F5 up.
    __m128i bad = _mm_or_si128(AtLeast(cur, 0xF5), _mm_or_si128(Equals(cur, 0xC0), Equals(cur, 0xC1)));
    // A continuation byte exactly where a lead one, two or three bytes back asks for one.
    const __m128i continuation = _mm_and_si128(AtLeast(cur, 0x80), AtMost(cur, 0xBF));
    const __m128i wanted = _mm_or_si128(AtLeast(p1, 0xC0), _mm_or_si128(AtLeast(p2, 0xE0), AtLeast(p3, 0xF0)));
    bad = _mm_or_si128(bad, _mm_xor_si128(continuation, wanted));
    // The second byte after E0 (no overlong), ED (no surrogate), F0 (no overlong), F4 (not past
    // U+10FFFF).
    bad = _mm_or_si128(bad, _mm_and_si128(Equals(p1, 0xE0), AtMost(cur, 0x9F)));
    bad = _mm_or_si128(bad, _mm_and_si128(Equals(p1, 0xED), AtLeast(cur, 0xA0)));
    bad = _mm_or_si128(bad, _mm_and_si128(Equals(p1, 0xF0), AtMost(cur, 0x8F)));
    return _mm_or_si128(bad, _mm_and_si128(Equals(p1, 0xF4), AtLeast(cur, 0x90)));
}
#endif

}  // namespace

bool RoundTripsUtf8(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 n = bytes.size();
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        return false;
#ifdef __SSE2__
    // Sixteen bytes at a time over the text with three zero bytes before it and three after (a
    // character cut at the end then lacks its continuation bytes). The first and the last
    // blocks are checked in a padded copy, the ones between in place.
    __m128i bad = _mm_setzero_si128();
    const auto padded = [&](qint64 from) {
        uchar block[3 + 16] = {};
        for (qint64 k = -3; k < 16; ++k) {
            if (from + k >= 0 && from + k < n)
                block[3 + k] = p[from + k];
        }
        bad = _mm_or_si128(bad, utf8Errors(block + 3));
    };
    padded(0);
    qint64 i = 16;
    for (; i + 16 <= n; i += 16) {
        const __m128i cur = byte_scan::Load16(p + i);
        const __m128i before = byte_scan::Load16(p + i - 3);
        // A block of ASCII after ASCII needs no other test.
        if (_mm_movemask_epi8(_mm_or_si128(cur, before)))
            bad = _mm_or_si128(bad, utf8Errors(p + i));
    }
    for (; i < n + 3; i += 16)
        padded(i);
    return _mm_movemask_epi8(bad) == 0;
#else
    return QString::fromUtf8(bytes).toUtf8() == bytes;
#endif
}

namespace {

// ASCII literal of length bytes at text[at], case-blind as HasCaselessLiteralAt, from byte
// `from` on (the ones before are known to match).
bool hasCaselessBytesAt(std::string_view text, size_t at, const char *literal, size_t length, size_t from = 0)
{
    if (at + length > text.size())
        return false;
    for (size_t i = from; i < length; ++i) {
        char c = text[at + i];
        if (c >= 'A' && c <= 'Z')
            c = char(c + ('a' - 'A'));
        if (c != literal[i])
            return false;
    }
    return true;
}

bool hasGateEntityBytes(std::string_view text)
{
    for (size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at + 1)) {
        for (const char *g : kEntityGate) {
            if (hasCaselessBytesAt(text, at, g, std::strlen(g)))
                return true;
        }
    }
    return false;
}

// IsHtmlBody on UTF-8 bytes. Decoded bodies hold a tag every few words, so each '<' is tried
// only against the rows whose second byte matches.
bool isHtmlBytes(std::string_view text, int rows)
{
    static const struct Lengths {
        size_t open[kHtmlRowsKind], close[kHtmlRowsKind];
        Lengths()
        {
            for (int i = 0; i < kHtmlRowsKind; ++i) {
                open[i] = std::strlen(kTagPairs[i].open);
                close[i] = std::strlen(kTagPairs[i].close);
            }
        }
    } lengths;
    const int n = qBound(0, rows, kHtmlRowsKind);
    quint32 opened = 0, closed = 0;
    for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
        if (at + 1 >= text.size())
            break;
        char second = text[at + 1];
        if (second >= 'A' && second <= 'Z')
            second = char(second + ('a' - 'A'));
        const bool closing = second == '/';
        for (int i = 0; i < n; ++i) {
            const quint32 bit = 1u << i;
            if (closing) {
                if (!(closed & bit) && hasCaselessBytesAt(text, at, kTagPairs[i].close, lengths.close[i], 1))
                    closed |= bit;
            } else if (!(opened & bit) && kTagPairs[i].open[1] == second
                       && hasCaselessBytesAt(text, at, kTagPairs[i].open, lengths.open[i], 1)) {
                opened |= bit;
            }
        }
        if (opened & closed)
            return true;
    }
    return false;
}

// The length of the named reference at text[amp] ('&') and its character; 0 when it is none.
// Bodies hold one every few words: the byte after '&' picks the one candidate.
size_t namedReference(std::string_view text, size_t amp, char *replacement)
{
    const auto is = [&](std::string_view name, char c) {
        if (text.compare(amp, name.size(), name) != 0)
            return size_t(0);
        *replacement = c;
        return name.size();
    };
    switch (amp + 1 < text.size() ? text[amp + 1] : '\0') {
    case 'l':
        return is("&lt;", '<');
    case 'g':
        return is("&gt;", '>');
    case 'q':
        return is("&quot;", '"');
    case 'n':
        return is("&nbsp;", ' ');
    case 'a': {
        const size_t amp5 = is("&amp;", '&');
        return amp5 ? amp5 : is("&apos;", '\'');
    }
    default:
        return 0;
    }
}

// The length of the character reference "&#N;" or "&#xH;" at text[amp] with its UTF-8 bytes in
// utf8 (their count in *size); 0 when it is none (no digits, too long, NUL, a surrogate or past
// Unicode). Each is longer than its UTF-8 form.
size_t numericReference(std::string_view text, size_t amp, char *utf8, int *size)
{
    const size_t semi = text.find(';', amp + 2);
    if (semi == std::string_view::npos || semi - amp > 12 || text.compare(amp, 2, "&#") != 0)
        return 0;
    const bool hex = text[amp + 2] == 'x' || text[amp + 2] == 'X';
    const QByteArray digits =
        QByteArray::fromRawData(text.data() + amp + (hex ? 3 : 2), int(semi - amp) - (hex ? 3 : 2));
    bool ok = false;
    const uint code = digits.toUInt(&ok, hex ? 16 : 10);
    if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || !isxdigit(uchar(digits[0])))
        return 0;
    const char32_t c = char32_t(code);
    const QByteArray bytes = QString::fromUcs4(&c, 1).toUtf8();
    memcpy(utf8, bytes.constData(), size_t(bytes.size()));
    *size = bytes.size();
    return semi - amp + 1;
}

// The named references decoded as UnescapeXmlEntities(Named) decodes them, and the character
// references as an XML reader does: they are ASCII, and no byte of a multi-byte UTF-8 character
// is '&'. Decoding only shortens the text.
QByteArray decodeNamedBytes(const QByteArray &raw)
{
    const std::string_view text(raw.constData(), size_t(raw.size()));
    size_t amp = text.find('&');
    if (amp == std::string_view::npos)
        return raw;
    QByteArray out(raw.size(), Qt::Uninitialized);
    char *to = out.data();
    size_t from = 0;
    while (amp != std::string_view::npos) {
        memcpy(to, text.data() + from, amp - from);
        to += amp - from;
        char utf8[4];
        int size = 0;
        if (const size_t used = numericReference(text, amp, utf8, &size)) {
            memcpy(to, utf8, size_t(size));
            to += size;
            from = amp + used;
            amp = text.find('&', from);
            continue;
        }
        char replacement = '&';
        const size_t used = namedReference(text, amp, &replacement);
        *to++ = replacement;
        from = amp + (used ? used : 1);
        amp = text.find('&', from);
    }
    memcpy(to, text.data() + from, text.size() - from);
    to += text.size() - from;
    out.truncate(int(to - out.constData()));
    return out;
}

// CR LF and a lone CR each become one LF.
void makeLineEndsLfBytes(QByteArray &text)
{
    const char *cr = static_cast<const char *>(memchr(text.constData(), '\r', size_t(text.size())));
    if (!cr)
        return;
    const int first = int(cr - text.constData());
    char *p = text.data();
    int to = first;
    for (int i = first; i < text.size(); ++i) {
        if (p[i] != '\r') {
            p[to++] = p[i];
            continue;
        }
        p[to++] = '\n';
        if (i + 1 < text.size() && p[i + 1] == '\n')
            ++i;
    }
    text.truncate(to);
}

// The text part from UTF-8 that text conversions leave as it is. Every step works on ASCII bytes
// ('&' references, '<' tags, CR, "From "), which no byte of a multi-byte character equals.
BodyPart bodyFromUtf8(const QByteArray &utf8, bool mboxrdFromQuoting)
{
    // CDATA sections are text and comments nothing, as in any XML reader.
    const QByteArray xml = PlainElementBytes(utf8);
    const bool escaped = hasGateEntityBytes(std::string_view(xml.constData(), size_t(xml.size())));
    BodyPart part;
    part.bytes = decodeNamedBytes(xml);
    const std::string_view text(part.bytes.constData(), size_t(part.bytes.size()));
    part.html = isHtmlBytes(text, kHtmlRowsKind);
    // Markup keeps its own line ends; text (and anything that came escaped) gets LF.
    if (escaped || !isHtmlBytes(text, kHtmlRowsLineEnds))
        makeLineEndsLfBytes(part.bytes);
    // The part is written in UTF-8: a charset the markup declares otherwise would misread it.
    if (part.html)
        DeclareUtf8Charset(part.bytes);
    if (mboxrdFromQuoting)
        part.bytes = QuoteMboxFromLines(part.bytes);
    return part;
}

}  // namespace

bool IsHtmlBody(const QString &text, int rows)
{
    const QByteArray utf8 = text.toUtf8();
    return isHtmlBytes(std::string_view(utf8.constData(), size_t(utf8.size())), rows);
}

QByteArray CrlfLineEnds(const QByteArray &text)
{
    const char *p = text.constData();
    const int n = text.size();
    // Text already in CR LF form, the usual case for markup, is given back uncopied.
    int lone = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] == '\r' && i + 1 < n && p[i + 1] == '\n')
            ++i;
        else if (p[i] == '\r' || p[i] == '\n')
            ++lone;
    }
    if (lone == 0)
        return text;
    QByteArray out;
    out.reserve(n + lone);
    int run = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] != '\r' && p[i] != '\n')
            continue;
        out.append(p + run, i - run);
        if (p[i] == '\r' && i + 1 < n && p[i + 1] == '\n')
            ++i;
        out += "\r\n";
        run = i + 1;
    }
    out.append(p + run, n - run);
    return out;
}

BodyPart PrepareBodyPart(const QString &raw, bool mboxrdFromQuoting)
{
    return bodyFromUtf8(raw.toUtf8(), mboxrdFromQuoting);
}

BodyPart PrepareBodyBytes(const QByteArray &raw, bool mboxrdFromQuoting)
{
    if (RoundTripsUtf8(raw))
        return bodyFromUtf8(raw, mboxrdFromQuoting);
    // Anything else is read as text first, as the stored body always was.
    BodyReading reading;
    BodyPart part = bodyFromUtf8(DecodeBodyText(raw, &reading).toUtf8(), mboxrdFromQuoting);
    part.reading = reading;
    return part;
}
