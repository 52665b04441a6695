#pragma once
// CSS read token by token exactly as a browser reads it, so that the page filter sees the same
// strings, urls and functions the browser will.

#include <QByteArray>

#include <string_view>

enum class CssKind {
    Whitespace,
    Comment,
    String,
    BadString,
    Url,
    BadUrl,
    Function,
    Ident,
    AtKeyword,
    Hash,
    Number,  // numbers, percentages and dimensions alike
    Delim,
    Cdo,
    Cdc,
    Colon,
    Semicolon,
    Comma,
    OpenSquare,
    CloseSquare,
    OpenParen,
    CloseParen,
    OpenCurly,
    CloseCurly,
    End,
};

struct CssToken {
    CssKind kind = CssKind::End;
    size_t from = 0;   // where the token's text starts in the preprocessed input
    size_t to = 0;     // past its text
    QByteArray value;  // strings and urls: their text; names: ASCII in lower case; escapes undone
};

// The input as the tokenizer reads it: CR LF, CR and FF become LF, NUL becomes U+FFFD.
QByteArray CssPreprocessed(std::string_view css);

// Tokens of preprocessed CSS, one at a time; comments are tokens of their own here.
class CssTokenizer {
public:
    explicit CssTokenizer(std::string_view preprocessed) : css_(preprocessed) {}
    CssToken next();

private:
    char at(size_t i) const { return i < css_.size() ? css_[i] : '\0'; }
    bool validEscape(size_t i) const;
    bool startsIdent(size_t i) const;
    bool startsNumber(size_t i) const;
    void escapedChar(QByteArray *out);
    QByteArray name();
    void number();
    void string(CssToken *t);
    void url(CssToken *t);
    void badUrlRemnants();
    void identLike(CssToken *t);

    std::string_view css_;
    size_t pos_ = 0;
};
