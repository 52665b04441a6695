#include "save/mail/CssTokens.h"

#include <QString>

namespace {

bool isNewline(char c)
{
    return c == '\n';
}

bool isBlank(char c)
{
    return c == '\n' || c == '\t' || c == ' ';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || uchar(c) >= 0x80;
}

bool isNameChar(char c)
{
    return isNameStart(c) || isDigit(c) || c == '-';
}

bool isNonPrintable(char c)
{
    return (c >= 0 && c <= 0x08) || c == 0x0B || (c >= 0x0E && c <= 0x1F) || c == 0x7F;
}

void appendCodePoint(QByteArray *out, uint code)
{
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    const char32_t c = code;
    *out += QString::fromUcs4(&c, 1).toUtf8();
}

}  // namespace

QByteArray CssPreprocessed(std::string_view css)
{
    QByteArray out;
    out.reserve(int(css.size()));
    for (size_t i = 0; i < css.size(); ++i) {
        const char c = css[i];
        if (c == '\r') {
            out += '\n';
            if (i + 1 < css.size() && css[i + 1] == '\n')
                ++i;
        } else if (c == '\f') {
            out += '\n';
        } else if (c == '\0') {
            out += "\xEF\xBF\xBD";
        } else {
            out += c;
        }
    }
    return out;
}

bool CssTokenizer::validEscape(size_t i) const
{
    return i < css_.size() && css_[i] == '\\' && !isNewline(at(i + 1));
}

bool CssTokenizer::startsIdent(size_t i) const
{
    if (i >= css_.size())
        return false;
    const char c = css_[i];
    if (c == '-')
        return isNameStart(at(i + 1)) || at(i + 1) == '-' || validEscape(i + 1);
    return isNameStart(c) || validEscape(i);
}

bool CssTokenizer::startsNumber(size_t i) const
{
    const char c = at(i);
    if (c == '+' || c == '-')
        return isDigit(at(i + 1)) || (at(i + 1) == '.' && isDigit(at(i + 2)));
    if (c == '.')
        return isDigit(at(i + 1));
    return isDigit(c);
}

// Past the '\' at pos_: its character appended. An escape at the end stands for U+FFFD.
void CssTokenizer::escapedChar(QByteArray *out)
{
    ++pos_;
    if (pos_ >= css_.size()) {
        appendCodePoint(out, 0xFFFD);
        return;
    }
    if (!isHexDigit(css_[pos_])) {
        // One whole character, however many bytes it takes.
        do
            *out += css_[pos_++];
        while (pos_ < css_.size() && (uchar(css_[pos_]) & 0xC0) == 0x80);
        return;
    }
    uint code = 0;
    for (int digits = 0; digits < 6 && isHexDigit(at(pos_)); ++digits, ++pos_) {
        const char h = css_[pos_];
        code = code * 16 + uint(isDigit(h) ? h - '0' : (h | 0x20) - 'a' + 10);
    }
    if (isBlank(at(pos_)))
        ++pos_;
    appendCodePoint(out, code);
}

QByteArray CssTokenizer::name()
{
    QByteArray out;
    while (pos_ < css_.size()) {
        if (isNameChar(css_[pos_]))
            out += css_[pos_++];
        else if (validEscape(pos_))
            escapedChar(&out);
        else
            break;
    }
    return out;
}

void CssTokenizer::number()
{
    if (at(pos_) == '+' || at(pos_) == '-')
        ++pos_;
    while (isDigit(at(pos_)))
        ++pos_;
    if (at(pos_) == '.' && isDigit(at(pos_ + 1))) {
        pos_ += 2;
        while (isDigit(at(pos_)))
            ++pos_;
    }
    const char e = at(pos_);
    if (e == 'e' || e == 'E') {
        const size_t sign = at(pos_ + 1) == '+' || at(pos_ + 1) == '-' ? 1 : 0;
        if (isDigit(at(pos_ + 1 + sign))) {
            pos_ += 2 + sign;
            while (isDigit(at(pos_)))
                ++pos_;
        }
    }
    if (startsIdent(pos_))
        name();
    else if (at(pos_) == '%')
        ++pos_;
}

// The string whose quote is at pos_. A bare line break ends it as a bad string, the break left
// for the next token; an escaped one continues it.
void CssTokenizer::string(CssToken *t)
{
    const char quote = css_[pos_++];
    t->kind = CssKind::String;
    while (pos_ < css_.size()) {
        const char c = css_[pos_];
        if (c == quote) {
            ++pos_;
            return;
        }
        if (isNewline(c)) {
            t->kind = CssKind::BadString;
            return;
        }
        if (c == '\\') {
            if (pos_ + 1 >= css_.size())
                ++pos_;
            else if (isNewline(css_[pos_ + 1]))
                pos_ += 2;
            else
                escapedChar(&t->value);
            continue;
        }
        t->value += c;
        ++pos_;
    }
}

// What is left of a bad url: up to its ')', escapes (an escaped ')' among them) passed over.
void CssTokenizer::badUrlRemnants()
{
    QByteArray ignored;
    while (pos_ < css_.size()) {
        if (css_[pos_] == ')') {
            ++pos_;
            return;
        }
        if (validEscape(pos_))
            escapedChar(&ignored);
        else
            ++pos_;
    }
}

// The unquoted url whose text starts at pos_ (after "url(").
void CssTokenizer::url(CssToken *t)
{
    t->kind = CssKind::Url;
    while (isBlank(at(pos_)))
        ++pos_;
    while (pos_ < css_.size()) {
        const char c = css_[pos_];
        if (c == ')') {
            ++pos_;
            return;
        }
        if (isBlank(c)) {
            while (isBlank(at(pos_)))
                ++pos_;
            if (pos_ >= css_.size() || css_[pos_] == ')') {
                pos_ = qMin(pos_ + 1, css_.size());
                return;
            }
            break;
        }
        if (c == '"' || c == '\'' || c == '(' || isNonPrintable(c) || (c == '\\' && !validEscape(pos_)))
            break;
        if (c == '\\') {
            escapedChar(&t->value);
            continue;
        }
        t->value += c;
        ++pos_;
    }
    if (pos_ >= css_.size())
        return;
    t->kind = CssKind::BadUrl;
    t->value.clear();
    badUrlRemnants();
}

void CssTokenizer::identLike(CssToken *t)
{
    t->value = name().toLower();
    if (at(pos_) != '(') {
        t->kind = CssKind::Ident;
        return;
    }
    ++pos_;
    t->kind = CssKind::Function;
    if (t->value != "url")
        return;
    while (isBlank(at(pos_)) && isBlank(at(pos_ + 1)))
        ++pos_;
    const size_t quote = isBlank(at(pos_)) ? pos_ + 1 : pos_;
    if (at(quote) == '"' || at(quote) == '\'')
        return;
    t->value.clear();
    url(t);
}

CssToken CssTokenizer::next()
{
    CssToken t;
    t.from = pos_;
    if (pos_ >= css_.size()) {
        t.to = pos_;
        return t;
    }
    const char c = css_[pos_];
    if (c == '/' && at(pos_ + 1) == '*') {
        const size_t close = css_.find("*/", pos_ + 2);
        pos_ = close == std::string_view::npos ? css_.size() : close + 2;
        t.kind = CssKind::Comment;
    } else if (isBlank(c)) {
        while (isBlank(at(pos_)))
            ++pos_;
        t.kind = CssKind::Whitespace;
    } else if (c == '"' || c == '\'') {
        string(&t);
    } else if (c == '#' && (isNameChar(at(pos_ + 1)) || validEscape(pos_ + 1))) {
        ++pos_;
        t.value = name().toLower();
        t.kind = CssKind::Hash;
    } else if (startsNumber(pos_)) {
        number();
        t.kind = CssKind::Number;
    } else if (c == '-' && at(pos_ + 1) == '-' && at(pos_ + 2) == '>') {
        pos_ += 3;
        t.kind = CssKind::Cdc;
    } else if (c == '<' && css_.compare(pos_, 4, "<!--") == 0) {
        pos_ += 4;
        t.kind = CssKind::Cdo;
    } else if (c == '@' && startsIdent(pos_ + 1)) {
        ++pos_;
        t.value = name().toLower();
        t.kind = CssKind::AtKeyword;
    } else if (startsIdent(pos_)) {
        identLike(&t);
    } else {
        ++pos_;
        switch (c) {
        case '(':
            t.kind = CssKind::OpenParen;
            break;
        case ')':
            t.kind = CssKind::CloseParen;
            break;
        case '[':
            t.kind = CssKind::OpenSquare;
            break;
        case ']':
            t.kind = CssKind::CloseSquare;
            break;
        case '{':
            t.kind = CssKind::OpenCurly;
            break;
        case '}':
            t.kind = CssKind::CloseCurly;
            break;
        case ',':
            t.kind = CssKind::Comma;
            break;
        case ':':
            t.kind = CssKind::Colon;
            break;
        case ';':
            t.kind = CssKind::Semicolon;
            break;
        default:
            // A delimiter is one character, however many bytes it takes.
            while (pos_ < css_.size() && (uchar(css_[pos_]) & 0xC0) == 0x80)
                ++pos_;
            t.kind = CssKind::Delim;
        }
    }
    t.to = pos_;
    return t;
}
