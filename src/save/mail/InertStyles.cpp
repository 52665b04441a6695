#include "save/mail/InertStyles.h"

#include "save/mail/CssTokens.h"

#include <QString>

#include <cstring>
#include <initializer_list>
#include <vector>

namespace {

bool isUrlBlank(char c)
{
    return uchar(c) <= ' ' || c == '\x7f';
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

void appendHexEscape(QByteArray &out, char c)
{
    out += '\\' + QByteArray::number(uchar(c), 16) + ' ';
}

// A token's text as the input has it, but no '<': the text may end up in a style element, where
// "</style" would end it. An escaped '<' stays escaped, in hexadecimal.
void appendSource(QByteArray &out, std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            if (text[++i] == '<')
                out += "\\3C ";
            else
                out.append(text.data() + i - 1, 2);
        } else if (text[i] == '<') {
            out += "\\3C ";
        } else {
            out += text[i];
        }
    }
}

// A string token written afresh, closed and with no '<' nor control character in it.
void appendQuoted(QByteArray &out, const QByteArray &text)
{
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '<' || (c >= 0 && c < ' ') || c == '\x7f') {
            appendHexEscape(out, c);
        } else {
            out += c;
        }
    }
    out += '"';
}

CssKind closerOf(CssKind opener)
{
    switch (opener) {
    case CssKind::Function:
    case CssKind::OpenParen:
        return CssKind::CloseParen;
    case CssKind::OpenSquare:
        return CssKind::CloseSquare;
    case CssKind::OpenCurly:
        return CssKind::CloseCurly;
    default:
        return CssKind::End;
    }
}

// Reads on to the end of the block just opened by opener: its matching closer, or the end of the
// input. The block's text, when it is one string between blanks, goes to *onlyString.
void skipBlock(CssTokenizer &tokens, CssKind opener, QByteArray *onlyString = nullptr)
{
    std::vector<CssKind> closers{closerOf(opener)};
    int strings = 0;
    bool other = false;
    for (CssToken t = tokens.next(); t.kind != CssKind::End; t = tokens.next()) {
        if (t.kind == closers.back()) {
            closers.pop_back();
            if (closers.empty())
                break;
            continue;
        }
        if (closers.size() == 1 && t.kind == CssKind::String && ++strings == 1 && onlyString)
            *onlyString = t.value;
        else if (t.kind != CssKind::Whitespace && t.kind != CssKind::Comment)
            other = true;
        if (closerOf(t.kind) != CssKind::End)
            closers.push_back(closerOf(t.kind));
    }
    if (onlyString && (other || strings != 1))
        *onlyString = QByteArray();
}

// Reads on past the at-rule whose keyword was just read: to its ';' or to the end of its block.
void skipAtRule(CssTokenizer &tokens)
{
    for (CssToken t = tokens.next(); t.kind != CssKind::End && t.kind != CssKind::Semicolon; t = tokens.next()) {
        if (t.kind == CssKind::OpenCurly) {
            skipBlock(tokens, t.kind);
            return;
        }
        if (closerOf(t.kind) != CssKind::End)
            skipBlock(tokens, t.kind);
    }
}

// A url, kept or not (false: "none" written instead): a kept url token keeps its text, a kept
// string is written quoted.
bool appendUrl(QByteArray &out, const QByteArray &url, std::string_view token = std::string_view())
{
    if (!isKeptCssUrl(UrlOfValue(url.constData()))) {
        out += "none";
        return false;
    }
    if (!token.empty()) {
        appendSource(out, token);
        // A url token the input ends may lack its ')'.
        if (token.back() != ')')
            out += ')';
        return true;
    }
    out += "url(";
    appendQuoted(out, url);
    out += ')';
    return true;
}

// Whether c, written right after a name, would join it (or make it a function).
bool continuesName(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'
        || c == '\\' || c == '(' || uchar(c) >= 0x80;
}

bool isHexOrQuestion(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == '?';
}

// Where a reader of the older CSS grammar ends the unicode range whose '+' is at plus: up to six
// hex digits or question marks, then, after digits alone, '-' and up to six hex digits.
int unicodeRangeEnd(const QByteArray &css, int plus)
{
    int at = plus + 1;
    const int max = qMin(at + 6, int(css.size()));
    while (at < max && isHexOrQuestion(css[at]) && css[at] != '?')
        ++at;
    bool question = false;
    while (at < max && css[at] == '?') {
        ++at;
        question = true;
    }
    if (!question && at + 1 < css.size() && css[at] == '-' && isHexOrQuestion(css[at + 1]) && css[at + 1] != '?') {
        const int end = qMin(at + 7, int(css.size()));
        ++at;
        while (at < end && isHexOrQuestion(css[at]) && css[at] != '?')
            ++at;
    }
    return at;
}

// Readers of the older CSS grammar read "u+" and what follows as a unicode range, which may end
// inside a name the browser reads whole: "U+0url(x)" is then a range and a url. Where a range so
// read would end inside a name, a comment keeps the "u" apart; a true range, which a ',' ';' or
// blank ends, stays as written.
void separateUnicodeRanges(QByteArray &out, const std::vector<int> &plusAt)
{
    for (auto it = plusAt.rbegin(); it != plusAt.rend(); ++it) {
        const int plus = *it;
        if (plus + 1 >= out.size() || !isHexOrQuestion(out[plus + 1]))
            continue;
        const int end = unicodeRangeEnd(out, plus);
        if (end < out.size() && continuesName(out[end]))
            out.insert(plus, "/**/");
    }
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
    const QByteArray text = CssPreprocessed(css);
    const std::string_view in(text.constData(), size_t(text.size()));
    CssTokenizer tokens(in);
    QByteArray out;
    // Where the last "none" written for a dropped url ends, until the next token is written.
    int noneEnd = -1;
    // Where the text after a lone "u" starts, and each such place a '+' follows it.
    int afterU = -1;
    std::vector<int> plusAfterU;
    for (CssToken t = tokens.next(); t.kind != CssKind::End; t = tokens.next()) {
        const std::string_view source = in.substr(t.from, t.to - t.from);
        bool dropped = false;
        if (afterU >= 0 && afterU == out.size() && !source.empty() && source[0] == '+')
            plusAfterU.push_back(afterU);
        afterU = -1;
        switch (t.kind) {
        case CssKind::Comment:
            // Kept as an empty comment: the tokens on either side stay apart.
            out += "/**/";
            break;
        case CssKind::Cdo:
            // Style sheets of word processors sit in a comment's markers; CSS passes over them.
            out += ' ';
            break;
        case CssKind::String:
            appendQuoted(out, t.value);
            break;
        case CssKind::Url:
            dropped = !appendUrl(out, t.value, source);
            break;
        case CssKind::BadUrl:
            out += "none";
            dropped = true;
            break;
        case CssKind::Function:
            if (!isLoadingFunction(t.value)) {
                appendSource(out, source);
            } else if (t.value == "url") {
                QByteArray url;
                skipBlock(tokens, t.kind, &url);
                dropped = !appendUrl(out, url);
            } else {
                skipBlock(tokens, t.kind);
                out += "none";
                dropped = true;
            }
            break;
        case CssKind::AtKeyword:
            if (t.value == "import")
                skipAtRule(tokens);
            else
                appendSource(out, source);
            break;
        default:
            appendSource(out, source);
        }
        if (noneEnd >= 0 && out.size() > noneEnd) {
            if (continuesName(out[noneEnd]))
                out.insert(noneEnd, ' ');
            noneEnd = -1;
        }
        if (dropped)
            noneEnd = out.size();
        if (t.kind == CssKind::Ident && (source == "u" || source == "U"))
            afterU = out.size();
    }
    separateUnicodeRanges(out, plusAfterU);
    return out;
}

QByteArray TakeCssDirection(const QByteArray &style, QByteArray *rest)
{
    const std::string_view in(style.constData(), size_t(style.size()));
    CssTokenizer tokens(in);
    QByteArray direction;
    rest->clear();
    // One declaration at a time, up to its ';' outside brackets: its name and first value word.
    size_t from = 0;
    QByteArray name, value;
    bool colon = false;
    int depth = 0;
    for (CssToken t = tokens.next();; t = tokens.next()) {
        if (t.kind == CssKind::End || (t.kind == CssKind::Semicolon && depth == 0)) {
            if (name == "direction") {
                if (value == "rtl" || value == "ltr")
                    direction = value;
            } else {
                rest->append(style.constData() + from, int(t.to - from));
            }
            if (t.kind == CssKind::End)
                break;
            from = t.to;
            name.clear();
            value.clear();
            colon = false;
            continue;
        }
        if (closerOf(t.kind) != CssKind::End)
            ++depth;
        else if (t.kind == CssKind::CloseParen || t.kind == CssKind::CloseSquare || t.kind == CssKind::CloseCurly)
            depth = qMax(0, depth - 1);
        if (t.kind == CssKind::Whitespace || t.kind == CssKind::Comment)
            continue;
        if (!colon && t.kind == CssKind::Colon)
            colon = true;
        else if (!colon && name.isEmpty() && t.kind == CssKind::Ident)
            name = t.value;
        else if (!colon)
            name = "-";  // no declaration a browser reads
        else if (value.isEmpty())
            value = t.kind == CssKind::Ident ? t.value : QByteArray("-");
    }
    return direction;
}
