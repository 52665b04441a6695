// A message's markup made inert for the saved page: mail programs never run a message's script,
// and a page opened in a browser must not either. The page's policy stops scripts, handlers,
// frames, plugins and form posts; this filter also removes the elements and attributes that do
// those things, and the refresh and base elements no policy stops. Text, styles and pictures stay.

#include "save/mail/MessageFiles.h"

#include <initializer_list>
#include <string_view>

namespace {

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
}

QByteArray lowered(std::string_view text)
{
    QByteArray out(int(text.size()), Qt::Uninitialized);
    for (size_t i = 0; i < text.size(); ++i)
        out[int(i)] = lower(text[i]);
    return out;
}

bool oneOf(const QByteArray &name, std::initializer_list<const char *> names)
{
    for (const char *n : names) {
        if (name == n)
            return true;
    }
    return false;
}

// Elements removed with everything up to their end tag.
bool isDroppedWithContent(const QByteArray &name)
{
    return oneOf(name, {"script", "iframe", "object", "applet", "frameset", "noembed", "noframes"});
}

// Elements removed alone (they have no content, or their content may stay).
bool isDroppedTag(const QByteArray &name)
{
    return oneOf(name, {"embed", "frame", "base", "portal"});
}

// Elements whose content is text up to their end tag, never markup.
bool isRawText(const QByteArray &name)
{
    return oneOf(name, {"style", "textarea", "title", "xmp"});
}

// Where the end tag </name ...> at or after from ends (past its '>'), case-blind; npos if none.
size_t endOfEndTag(std::string_view text, size_t from, const QByteArray &name)
{
    for (size_t at = text.find("</", from); at != std::string_view::npos; at = text.find("</", at + 2)) {
        const size_t n = size_t(name.size());
        if (at + 2 + n > text.size() || lowered(text.substr(at + 2, n)) != name)
            continue;
        const size_t after = at + 2 + n;
        if (after < text.size() && !isSpace(text[after]) && text[after] != '>' && text[after] != '/')
            continue;
        const size_t close = text.find('>', after);
        return close == std::string_view::npos ? text.size() : close + 1;
    }
    return std::string_view::npos;
}

struct Attribute {
    QByteArray name;        // lower case
    std::string_view text;  // as written, value included
    std::string_view value;
};

struct Tag {
    QByteArray name;  // lower case
    bool closing = false;
    QVector<Attribute> attributes;
    bool selfClosing = false;
    size_t end = 0;  // past its '>'
};

// The tag starting at text[at] ('<' then a letter, or "</" then a letter), read as browsers read
// it: quoted values may hold '>'.
Tag readTag(std::string_view text, size_t at)
{
    Tag tag;
    size_t i = at + 1;
    if (text[i] == '/') {
        tag.closing = true;
        ++i;
    }
    const size_t nameStart = i;
    while (i < text.size() && !isSpace(text[i]) && text[i] != '>' && text[i] != '/')
        ++i;
    tag.name = lowered(text.substr(nameStart, i - nameStart));
    while (i < text.size() && text[i] != '>') {
        if (isSpace(text[i]) || text[i] == '/') {
            tag.selfClosing = text[i] == '/';
            ++i;
            continue;
        }
        tag.selfClosing = false;
        const size_t start = i;
        while (i < text.size() && !isSpace(text[i]) && text[i] != '>' && text[i] != '='
               && (text[i] != '/' || i == start))
            ++i;
        Attribute a;
        a.name = lowered(text.substr(start, i - start));
        size_t j = i;
        while (j < text.size() && isSpace(text[j]))
            ++j;
        if (j < text.size() && text[j] == '=') {
            ++j;
            while (j < text.size() && isSpace(text[j]))
                ++j;
            if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
                const size_t close = text.find(text[j], j + 1);
                const size_t valueEnd = close == std::string_view::npos ? text.size() : close;
                a.value = text.substr(j + 1, valueEnd - j - 1);
                i = close == std::string_view::npos ? text.size() : close + 1;
            } else {
                const size_t valueStart = j;
                while (j < text.size() && !isSpace(text[j]) && text[j] != '>')
                    ++j;
                a.value = text.substr(valueStart, j - valueStart);
                i = j;
            }
        }
        a.text = text.substr(start, i - start);
        tag.attributes.append(a);
    }
    tag.end = i < text.size() ? i + 1 : text.size();
    return tag;
}

// A URL that runs script when followed or loaded; blanks and controls before the scheme are
// ignored by browsers, and so here.
bool isScriptUrl(std::string_view value)
{
    QByteArray compact;
    for (const char c : value) {
        if (uchar(c) > ' ')
            compact += lower(c);
        if (compact.size() >= 11)
            break;
    }
    return compact.startsWith("javascript:") || compact.startsWith("vbscript:");
}

bool keepsAttribute(const Tag &tag, const Attribute &a)
{
    if (a.name.startsWith("on"))
        return false;
    if (oneOf(a.name, {"action", "formaction", "srcdoc"}))
        return false;
    if (tag.name == "meta" && oneOf(a.name, {"http-equiv", "content"}))
        return false;
    return !isScriptUrl(a.value);
}

void appendTag(QByteArray &out, std::string_view text, size_t at, const Tag &tag)
{
    out += '<';
    if (tag.closing)
        out += '/';
    out.append(text.data() + at + 1 + (tag.closing ? 1 : 0), tag.name.size());
    for (const Attribute &a : tag.attributes) {
        if (!keepsAttribute(tag, a))
            continue;
        out += ' ';
        out.append(a.text.data(), int(a.text.size()));
    }
    if (tag.selfClosing)
        out += " /";
    out += '>';
}

bool startsTag(std::string_view text, size_t at)
{
    if (at + 1 >= text.size())
        return false;
    const char c = text[at + 1];
    return isAsciiLetter(c) || (c == '/' && at + 2 < text.size() && isAsciiLetter(text[at + 2]));
}

// Past the end of the comment starting at text[at] ("<!--"): "<!-->", "<!--->", "-->" or "--!>".
size_t commentEnd(std::string_view text, size_t at)
{
    const size_t from = at + 4;
    if (text.compare(from, 1, ">") == 0)
        return from + 1;
    if (text.compare(from, 2, "->") == 0)
        return from + 2;
    const size_t plain = text.find("-->", from), bang = text.find("--!>", from);
    if (plain == std::string_view::npos && bang == std::string_view::npos)
        return text.size();
    return plain < bang ? plain + 3 : bang + 4;
}

}  // namespace

QByteArray InertMarkup(const QByteArray &markup)
{
    const std::string_view text(markup.constData(), size_t(markup.size()));
    QByteArray out;
    out.reserve(markup.size());
    size_t copied = 0;
    // Inside svg and math, style and title are markup, not text: their handlers go too.
    int foreign = 0;
    size_t at = text.find('<');
    while (at != std::string_view::npos) {
        out.append(text.data() + copied, int(at - copied));
        copied = at;
        if (text.compare(at, 4, "<!--") == 0) {
            // A comment is copied whole: nothing inside it is markup. It ends where a browser
            // ends it, so no markup can hide behind a comment end the browser does not see.
            copied = commentEnd(text, at);
            out.append(text.data() + at, int(copied - at));
        } else if (!startsTag(text, at)) {
            out += '<';
            copied = at + 1;
        } else {
            const Tag tag = readTag(text, at);
            copied = tag.end;
            if (oneOf(tag.name, {"svg", "math"}) && !tag.selfClosing)
                foreign = qMax(0, foreign + (tag.closing ? -1 : 1));
            if (tag.closing) {
                if (!isDroppedWithContent(tag.name) && !isDroppedTag(tag.name))
                    appendTag(out, text, at, tag);
            } else if (isDroppedWithContent(tag.name)) {
                const size_t end = endOfEndTag(text, tag.end, tag.name);
                copied = end == std::string_view::npos ? text.size() : end;
            } else if (isDroppedTag(tag.name)) {
                // Nothing of it stays.
            } else {
                appendTag(out, text, at, tag);
                if (foreign == 0 && isRawText(tag.name) && !tag.selfClosing) {
                    const size_t end = endOfEndTag(text, tag.end, tag.name);
                    const size_t stop = end == std::string_view::npos ? text.size() : end;
                    out.append(text.data() + tag.end, int(stop - tag.end));
                    copied = stop;
                }
            }
        }
        at = copied < text.size() ? text.find('<', copied) : std::string_view::npos;
    }
    if (copied < text.size())
        out.append(text.data() + copied, int(text.size() - copied));
    return out;
}
