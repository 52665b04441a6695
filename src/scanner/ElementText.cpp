// An element's text and attributes as an XML reader gives them: comments and instructions
// dropped, CDATA sections taken as text, literal blanks in attribute values normalised.

#include "scanner/ElementSyntax.h"
#include "scanner/XmlEntities.h"

using namespace element_syntax;

namespace {

// An attribute value with its literal tabs and line breaks made blanks; raw itself when it holds
// none, so ordinary values are not copied.
std::string_view normalisedValue(std::string_view raw, std::string *storage)
{
    size_t at = 0;
    while (at < raw.size() && raw[at] != '\t' && raw[at] != '\n' && raw[at] != '\r')
        ++at;
    if (at == raw.size())
        return raw;
    storage->assign(raw.data(), at);
    for (; at < raw.size(); ++at) {
        const char c = raw[at];
        if (c == '\r' && at + 1 < raw.size() && raw[at + 1] == '\n')
            continue;  // the pair is one line break: its '\n' gives the blank
        storage->push_back(c == '\t' || c == '\n' || c == '\r' ? ' ' : c);
    }
    return *storage;
}

}  // namespace

bool FindAttribute(std::string_view tag, std::string_view name, std::string_view *value, std::string *storage)
{
    size_t i = 1;
    while (i < tag.size() && !endsStartTagName(tag[i]))
        ++i;
    while (i < tag.size()) {
        while (i < tag.size() && (isBlank(tag[i]) || tag[i] == '/'))
            ++i;
        const size_t nameStart = i;
        while (i < tag.size() && !isBlank(tag[i]) && tag[i] != '=' && tag[i] != '>' && tag[i] != '/')
            ++i;
        const std::string_view attribute = tag.substr(nameStart, i - nameStart);
        if (attribute.empty())
            return false;  // '>' or the end of the tag
        while (i < tag.size() && isBlank(tag[i]))
            ++i;
        if (i == tag.size() || tag[i] != '=')
            continue;  // no value: not XML, but the attributes after it still count
        ++i;
        while (i < tag.size() && isBlank(tag[i]))
            ++i;
        if (i == tag.size() || (tag[i] != '"' && tag[i] != '\''))
            continue;
        const size_t close = tag.find(tag[i], i + 1);
        if (close == std::string_view::npos)
            return false;
        if (attribute == name) {
            *value = normalisedValue(tag.substr(i + 1, close - i - 1), storage);
            return true;
        }
        i = close + 1;
    }
    return false;
}

std::string_view PlainElementText(std::string_view raw, std::string *storage)
{
    size_t lt = raw.find('<');
    if (lt == std::string_view::npos)
        return raw;
    storage->clear();
    storage->reserve(raw.size());
    size_t from = 0;
    for (; lt != std::string_view::npos; lt = raw.find('<', from)) {
        storage->append(raw.data() + from, lt - from);
        const size_t end = MarkupEnd(raw, lt);
        if (end == std::string_view::npos) {
            // Not markup (damage): kept as it stands.
            storage->push_back('<');
            from = lt + 1;
            continue;
        }
        from = end;
        if (raw.compare(lt, 9, "<![CDATA[") != 0)
            continue;
        const size_t textEnd = end - (raw.compare(end - 3, 3, "]]>") == 0 && end >= lt + 12 ? 3 : 0);
        for (size_t i = lt + 9; i < textEnd; ++i) {
            if (raw[i] == '&')
                storage->append("&amp;");
            else if (raw[i] == '<')
                storage->append("&lt;");
            else
                storage->push_back(raw[i]);
        }
    }
    storage->append(raw.data() + from, raw.size() - from);
    return *storage;
}

namespace {

// Whether a '<' of the text starts something other than a comment, CDATA section or processing
// instruction.
bool holdsTags(std::string_view text)
{
    for (size_t lt = text.find('<'); lt != std::string_view::npos;) {
        const size_t end = MarkupEnd(text, lt);
        if (end == std::string_view::npos)
            return true;
        lt = text.find('<', end);
    }
    return false;
}

}  // namespace

QByteArray PlainElementBytes(const QByteArray &raw)
{
    const std::string_view text(raw.constData(), size_t(raw.size()));
    if (holdsTags(text))
        return raw;
    std::string storage;
    const std::string_view plain = PlainElementText(text, &storage);
    return plain.data() == raw.constData() ? raw : QByteArray(plain.data(), int(plain.size()));
}

QString ElementText(std::string_view raw)
{
    std::string storage;
    return UnescapeXmlEntities(DecodeTrimmed(PlainElementText(raw, &storage)), EntityForm::Scanned);
}

namespace {

// The character of the reference "&#N;" or "&#xH;" at text[i], and its length, reading at most
// a few bytes (a reference that never ends costs no search); 0 when it is none.
size_t characterReference(std::string_view text, size_t i, char32_t *code)
{
    if (text.compare(i, 2, "&#") != 0)
        return 0;
    const bool hex = i + 2 < text.size() && (text[i + 2] == 'x' || text[i + 2] == 'X');
    const size_t digitsFrom = i + (hex ? 3 : 2);
    size_t k = digitsFrom;
    char32_t value = 0;
    for (; k < text.size() && k - digitsFrom < 8; ++k) {
        const char c = text[k];
        const int digit = c >= '0' && c <= '9'              ? c - '0'
            : hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                            : -1;
        if (digit < 0)
            break;
        value = value * (hex ? 16 : 10) + char32_t(digit);
    }
    if (k == digitsFrom || k >= text.size() || text[k] != ';' || value == 0 || value > 0x10FFFF
        || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *code = value;
    return k + 1 - i;
}

void appendUtf8(std::string *out, char32_t c)
{
    if (c < 0x80) {
        out->push_back(char(c));
    } else if (c < 0x800) {
        out->push_back(char(0xC0 | (c >> 6)));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out->push_back(char(0xE0 | (c >> 12)));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    } else {
        out->push_back(char(0xF0 | (c >> 18)));
        out->push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out->push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(char(0x80 | (c & 0x3F)));
    }
}

}  // namespace

QByteArray ReadableElementBytes(const QByteArray &raw)
{
    const std::string_view text(raw.constData(), size_t(raw.size()));
    if (holdsTags(text))
        return raw;
    std::string storage;
    const std::string_view plain = PlainElementText(text, &storage);
    if (plain.find("&#") == std::string_view::npos && plain.find("&quot;") == std::string_view::npos
        && plain.find("&apos;") == std::string_view::npos)
        return plain.data() == raw.constData() ? raw : QByteArray(plain.data(), int(plain.size()));
    std::string out;
    out.reserve(plain.size());
    size_t from = 0;
    for (size_t amp = plain.find('&'); amp != std::string_view::npos; amp = plain.find('&', from)) {
        out.append(plain.data() + from, amp - from);
        from = amp + 1;
        char32_t code = 0;
        if (const size_t n = characterReference(plain, amp, &code)) {
            from = amp + n;
            // What would read as markup or as a reference stays a reference, as the text's
            // readers undo it.
            if (code == '<')
                out.append("&lt;");
            else if (code == '>')
                out.append("&gt;");
            else if (code == '&')
                out.append("&amp;");
            else
                appendUtf8(&out, code);
        } else if (plain.compare(amp, 6, "&quot;") == 0) {
            out.push_back('"');
            from = amp + 6;
        } else if (plain.compare(amp, 6, "&apos;") == 0) {
            out.push_back('\'');
            from = amp + 6;
        } else {
            out.push_back('&');
        }
    }
    out.append(plain.data() + from, plain.size() - from);
    return QByteArray(out.data(), int(out.size()));
}
