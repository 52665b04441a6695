// The charset an HTML part declares made the one it is written in: its XML declaration and its
// meta tags, read as a browser finds them, and nothing else of the markup.

#include "save/mail/MailMimeParts.h"

#include <string_view>
#include <utility>
#include <vector>

namespace {

using View = std::string_view;
constexpr size_t npos = View::npos;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isCharsetValueByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
}

size_t skipBlanks(View text, size_t i)
{
    while (i < text.size() && isBlank(text[i]))
        ++i;
    return i;
}

// Places (offset, length) in the lower-cased markup whose charset names are to become UTF-8.
using Places = std::vector<std::pair<size_t, size_t>>;

// The charset name at i (a quote before it allowed), added to places unless it is UTF-8.
void addName(View lower, size_t i, Places *places)
{
    if (i < lower.size() && (lower[i] == '"' || lower[i] == '\''))
        ++i;
    size_t end = i;
    while (end < lower.size() && isCharsetValueByte(lower[end]))
        ++end;
    if (end > i && lower.substr(i, end - i) != "utf-8")
        places->push_back({i, end - i});
}

// The charset a content value (at [from, to) of lower) names: "charset", blanks, '=', blanks,
// then the name, as a browser extracts it.
void addFromContent(View lower, size_t from, size_t to, Places *places)
{
    const View value = lower.substr(0, to);
    for (size_t at = value.find("charset", from); at != npos; at = value.find("charset", at + 7)) {
        size_t i = skipBlanks(value, at + 7);
        if (i >= value.size() || value[i] != '=')
            continue;
        addName(value, skipBlanks(value, i + 1), places);
        return;
    }
}

struct Attribute {
    View name;
    size_t from = 0, to = 0;  // the value, without its quotes
};

// The attributes of the start tag whose name ends at i, up to its '>'; where the tag ends (past
// its '>'; npos when it never does, and a browser drops it).
size_t readAttributes(View lower, size_t i, std::vector<Attribute> *attributes)
{
    while (true) {
        i = skipBlanks(lower, i);
        while (i < lower.size() && lower[i] == '/')
            i = skipBlanks(lower, i + 1);
        if (i >= lower.size())
            return npos;
        if (lower[i] == '>')
            return i + 1;
        Attribute a;
        const size_t nameFrom = i;
        while (i < lower.size() && !isBlank(lower[i]) && lower[i] != '>' && lower[i] != '/'
               && (lower[i] != '=' || i == nameFrom))
            ++i;
        a.name = lower.substr(nameFrom, i - nameFrom);
        const size_t eq = skipBlanks(lower, i);
        if (eq < lower.size() && lower[eq] == '=') {
            i = skipBlanks(lower, eq + 1);
            const char quote = i < lower.size() && (lower[i] == '"' || lower[i] == '\'') ? lower[i] : 0;
            a.from = quote ? i + 1 : i;
            a.to = quote ? lower.find(quote, a.from) : a.from;
            if (!quote) {
                while (a.to < lower.size() && !isBlank(lower[a.to]) && lower[a.to] != '>')
                    ++a.to;
            }
            if (a.to == npos)
                return npos;
            i = quote ? a.to + 1 : a.to;
        }
        attributes->push_back(a);
    }
}

// A meta tag's declaration: its charset attribute, else the content of an http-equiv
// Content-Type. The first of an attribute given twice counts, as in a browser.
void addFromMeta(View lower, const std::vector<Attribute> &attributes, Places *places)
{
    const Attribute *charset = nullptr, *equiv = nullptr, *content = nullptr;
    for (const Attribute &a : attributes) {
        const Attribute **slot = a.name == "charset" ? &charset
            : a.name == "http-equiv"                 ? &equiv
            : a.name == "content"                    ? &content
                                                     : nullptr;
        if (slot && !*slot)
            *slot = &a;
    }
    if (charset)
        addName(lower.substr(0, charset->to), skipBlanks(lower, charset->from), places);
    else if (equiv && content && lower.substr(equiv->from, equiv->to - equiv->from) == "content-type")
        addFromContent(lower, content->from, content->to, places);
}

// The encoding an XML declaration at the part's start names.
void addFromXmlDeclaration(View lower, Places *places)
{
    size_t i = lower.compare(0, 3, "\xef\xbb\xbf") == 0 ? 3 : 0;
    i = skipBlanks(lower, i);
    if (lower.compare(i, 5, "<?xml") != 0 || i + 5 >= lower.size() || !isBlank(lower[i + 5]))
        return;
    const size_t end = lower.find("?>", i);
    if (end == npos)
        return;
    const View declaration = lower.substr(0, end);
    const size_t at = declaration.find("encoding", i);
    if (at == npos)
        return;
    const size_t eq = skipBlanks(declaration, at + 8);
    if (eq < declaration.size() && declaration[eq] == '=')
        addName(declaration, skipBlanks(declaration, eq + 1), places);
}

// Elements whose content is text to a browser, a '<' in it no tag.
bool holdsRawText(View name)
{
    for (const char *raw : {"title", "textarea", "script", "style", "xmp", "iframe", "noembed", "noframes"}) {
        if (name == raw)
            return true;
    }
    return false;
}

// Every place in the markup (lower-cased) that declares a charset: tag by tag, so a "<meta"
// inside a comment, an attribute value or an element of raw text declares nothing.
Places declaredCharsets(View lower)
{
    Places places;
    addFromXmlDeclaration(lower, &places);
    std::vector<Attribute> attributes;
    for (size_t at = lower.find('<'); at != npos && at + 1 < lower.size(); at = lower.find('<', at)) {
        if (lower.compare(at, 4, "<!--") == 0) {
            const size_t end = lower.find("-->", at + 4);
            at = end == npos ? npos : end + 3;
            continue;
        }
        const char next = lower[at + 1];
        if (next < 'a' || next > 'z') {
            // A close tag, a declaration or an instruction: nothing in it declares a charset.
            const size_t end = next == '/' || next == '!' || next == '?' ? lower.find('>', at) : at;
            at = end == npos ? npos : end + 1;
            continue;
        }
        size_t i = at + 1;
        while (i < lower.size() && !isBlank(lower[i]) && lower[i] != '>' && lower[i] != '/')
            ++i;
        const View name = lower.substr(at + 1, i - at - 1);
        attributes.clear();
        at = readAttributes(lower, i, &attributes);
        if (at == npos)
            break;
        if (name == "meta") {
            addFromMeta(lower, attributes, &places);
        } else if (holdsRawText(name)) {
            const std::string close = "</" + std::string(name);
            at = lower.find(close, at);
        }
    }
    return places;
}

}  // namespace

void DeclareUtf8Charset(QByteArray &markup)
{
    // Only markup that names a charset is looked at more closely.
    const QByteArray lowerBytes = markup.toLower();
    if (!lowerBytes.contains("charset") && !lowerBytes.contains("encoding"))
        return;
    const View lower(lowerBytes.constData(), size_t(lowerBytes.size()));
    const Places places = declaredCharsets(lower);
    if (places.empty())
        return;
    QByteArray out;
    out.reserve(markup.size() + 8 * int(places.size()));
    size_t copied = 0;
    for (const auto &place : places) {
        out.append(markup.constData() + copied, int(place.first - copied));
        out += "UTF-8";
        copied = place.first + place.second;
    }
    out.append(markup.constData() + copied, int(size_t(markup.size()) - copied));
    markup = out;
}
