#pragma once
// Content lines of the vCard and iCalendar files: text escaping, 75-octet folding, CR LF ends.

#include <QByteArray>
#include <QString>

#include <string_view>

// Text value escaping shared by vCard and iCalendar: backslash, semicolon and comma get a
// backslash; each line break (CR LF, CR or LF) becomes "\n".
QString EscapeText(const QString &text);

// The same, but each CR and each LF becomes its own "\n" (a CR LF pair gives two), as the task
// files of the package have always written their notes.
QString EscapeTextEachBreak(const QString &text);

// Line breaks removed without gluing words: a run of CR and LF between two non-blank characters
// becomes one space, elsewhere it is dropped.
QString JoinLines(const QString &text);

// Builds a file of content lines: each line folded to at most 75 octets (never inside a UTF-8
// sequence) and ended with CR LF.
class ContentLines {
public:
    // name may carry parameters ("TEL;TYPE=CELL"); value is written as given (escape it first).
    void add(const QByteArray &name, const QString &value);
    void add(const QByteArray &name, const QByteArray &value);
    // Only when value is not empty.
    void addText(const QByteArray &name, const QString &value);
    // addText of a long stored text (a description): cut at its first NUL, entities undone as
    // the scanner does, written chunk by chunk, so the text is never held again whole in any
    // other form; the bytes are those of addText.
    void addStoredText(const QByteArray &name, std::string_view stored);
    void addStoredText(const QByteArray &name, const QByteArray &stored)
    {
        addStoredText(name, std::string_view(stored.constData(), size_t(stored.size())));
    }
    const QByteArray &bytes() const { return m_bytes; }

private:
    friend QByteArray FoldContentLine(const QByteArray &line);
    // A content line in parts: its folds go where the octets of the whole line put them.
    void beginLine(const QByteArray &name);
    void appendValue(const char *data, int size);
    void endLine();

    QByteArray m_bytes;
    int m_column = 0;  // octets on the current physical line
    int m_room = 0;    // octets that line may hold
};

// The four lines that open every iCalendar file we write: BEGIN, VERSION, PRODID, METHOD.
void AddCalendarHead(ContentLines &lines, const char *prodId);

// One folded line with its CR LF, for tests.
QByteArray FoldContentLine(const QByteArray &line);

// HTML to the plain text a rich-text document shows (paragraph breaks as LF, no-break spaces as
// spaces).
QString PlainTextOfHtml(const QString &html);
