#include "save/mail/InertStyles.h"

#include <QString>

#include <cstring>
#include <initializer_list>

namespace {

bool isUrlBlank(char c)
{
    return uchar(c) <= ' ' || c == '\x7f';
}

bool isCssIdentChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'
        || uchar(c) >= 0x80;
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Past the CSS escape starting at css[at] ('\'), its character appended to *out (UTF-8).
size_t cssEscape(std::string_view css, size_t at, QByteArray *out)
{
    size_t i = at + 1;
    if (i >= css.size())
        return i;
    if (!isHexDigit(css[i])) {
        *out += css[i];
        return i + 1;
    }
    uint code = 0;
    for (int digits = 0; digits < 6 && i < css.size() && isHexDigit(css[i]); ++digits, ++i)
        code = code * 16 + uint(css[i] <= '9' ? css[i] - '0' : (css[i] | 0x20) - 'a' + 10);
    if (i < css.size() && (css[i] == ' ' || css[i] == '\t' || css[i] == '\n' || css[i] == '\r' || css[i] == '\f'))
        ++i;
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    const char32_t c = code;
    *out += QString::fromUcs4(&c, 1).toUtf8();
    return i;
}

// Past the character at css[at], escape or not, appended to *out.
size_t cssChar(std::string_view css, size_t at, QByteArray *out)
{
    if (css[at] == '\\')
        return cssEscape(css, at, out);
    *out += css[at];
    return at + 1;
}

// The name starting at css[at], escapes undone and ASCII in lower case; *end past it.
QByteArray cssName(std::string_view css, size_t at, size_t *end)
{
    QByteArray name;
    size_t i = at;
    while (i < css.size()) {
        if (css[i] == '\\' && i + 1 < css.size() && css[i + 1] != '\n')
            i = cssEscape(css, i, &name);
        else if (isCssIdentChar(css[i]))
            name += css[i++];
        else
            break;
    }
    *end = i;
    return name.toLower();
}

// Past the string whose quote is at css[at]: at its closing quote, or before a bare line break.
size_t cssStringEnd(std::string_view css, size_t at)
{
    size_t i = at + 1;
    while (i < css.size() && css[i] != css[at] && css[i] != '\n')
        i += css[i] == '\\' ? 2 : 1;
    return i < css.size() && css[i] == css[at] ? i + 1 : qMin(i, css.size());
}

// Past the comment at css[at] ("/*").
size_t cssCommentEnd(std::string_view css, size_t at)
{
    const size_t close = css.find("*/", at + 2);
    return close == std::string_view::npos ? css.size() : close + 2;
}

// Past the ')' closing the bracket opened just before css[from], strings and comments skipped.
size_t cssBracketEnd(std::string_view css, size_t from)
{
    int depth = 1;
    size_t i = from;
    while (i < css.size()) {
        const char c = css[i];
        if (c == '"' || c == '\'') {
            i = cssStringEnd(css, i);
        } else if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
            i = cssCommentEnd(css, i);
        } else {
            i += c == '\\' ? 2 : 1;
            if (c == '(' || c == '[' || c == '{')
                ++depth;
            else if ((c == ')' || c == ']' || c == '}') && --depth == 0)
                break;
        }
    }
    return qMin(i, css.size());
}

// The URL of url(...) whose argument starts at css[from]; *end past its ')'. An unquoted
// argument ends at the first ')', as browsers read it: no comments or strings inside.
QByteArray cssUrlArgument(std::string_view css, size_t from, size_t *end)
{
    size_t i = from;
    while (i < css.size() && isUrlBlank(css[i]))
        ++i;
    QByteArray url;
    if (i < css.size() && (css[i] == '"' || css[i] == '\'')) {
        const size_t close = cssStringEnd(css, i);
        for (size_t j = i + 1; j < close && css[j] != css[i];)
            j = cssChar(css, j, &url);
        *end = cssBracketEnd(css, close);
        return UrlOfValue(url.constData());
    }
    while (i < css.size() && css[i] != ')')
        i = cssChar(css, i, &url);
    *end = qMin(i + 1, css.size());
    return UrlOfValue(url.constData());
}

// Functions whose arguments name something to load.
bool isLoadingFunction(const QByteArray &name)
{
    return IsOneOf(name.constData(),
                   {"url", "src", "image", "image-set", "-webkit-image-set", "cross-fade", "-webkit-cross-fade",
                    "element", "-moz-element", "expression"});
}

// A url() that stays: a picture of the message, or a place in the page itself (an svg filter or
// mask by its id), which loads nothing.
bool isKeptCssUrl(const QByteArray &url)
{
    return IsInsideUrl(url) || url.startsWith('#');
}

// Past the at-rule @import whose body starts at css[from]: up to its ';', strings and brackets
// skipped.
size_t cssStatementEnd(std::string_view css, size_t from)
{
    size_t i = from;
    while (i < css.size() && css[i] != ';') {
        const char c = css[i];
        if (c == '"' || c == '\'')
            i = cssStringEnd(css, i);
        else if (c == '(' || c == '[' || c == '{')
            i = cssBracketEnd(css, i + 1);
        else
            i += c == '\\' ? 2 : 1;
    }
    return qMin(i + 1, css.size());
}

}  // namespace

bool IsOneOf(const char *name, std::initializer_list<const char *> names)
{
    for (const char *n : names) {
        if (std::strcmp(name, n) == 0)
            return true;
    }
    return false;
}

QByteArray UrlOfValue(const char *value)
{
    QByteArray url(value);
    url.replace('\t', QByteArray()).replace('\n', QByteArray()).replace('\r', QByteArray());
    int from = 0, to = url.size();
    while (from < to && isUrlBlank(url[from]))
        ++from;
    while (to > from && isUrlBlank(url[to - 1]))
        --to;
    return url.mid(from, to - from);
}

QByteArray SchemeOf(const QByteArray &url)
{
    for (int i = 0; i < url.size(); ++i) {
        const char c = url[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (c == ':' && i > 0)
            return url.left(i).toLower();
        if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')))
            return QByteArray();
    }
    return QByteArray();
}

bool IsInsideUrl(const QByteArray &url)
{
    const QByteArray scheme = SchemeOf(url);
    return scheme == "data" || scheme == "cid";
}

QByteArray InertCss(std::string_view css)
{
    QByteArray out;
    size_t i = 0;
    while (i < css.size()) {
        const char c = css[i];
        size_t next = i + 1;
        if (c == '"' || c == '\'') {
            next = cssStringEnd(css, i);
        } else if (c == '/' && i + 1 < css.size() && css[i + 1] == '*') {
            next = cssCommentEnd(css, i);
        } else if (css.compare(i, 4, "<!--") == 0) {
            // Style sheets of word processors sit in a comment's markers; CSS passes over them.
            out += ' ';
            i += 4;
            continue;
        } else if (c == '@') {
            const QByteArray rule = cssName(css, i + 1, &next);
            if (rule == "import") {
                i = cssStatementEnd(css, next);
                continue;
            }
        } else if (c == '\\' || isCssIdentChar(c)) {
            const QByteArray name = cssName(css, i, &next);
            next = qMax(next, i + 1);
            if (next < css.size() && css[next] == '(' && isLoadingFunction(name)) {
                size_t end = 0;
                const bool kept = name == "url" && isKeptCssUrl(cssUrlArgument(css, next + 1, &end));
                if (name != "url")
                    end = cssBracketEnd(css, next + 1);
                out += kept ? QByteArray(css.data() + i, int(end - i)) : QByteArrayLiteral("none");
                i = end;
                continue;
            }
        }
        out.append(css.data() + i, int(next - i));
        i = next;
    }
    // No markup in a style text, wherever a browser reads it: '<' is written as its CSS escape.
    return out.replace("<", "\\3C ");
}
