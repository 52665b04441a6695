#pragma once
// Content lines of the vCard and iCalendar files: text escaping, 75-octet folding, CR LF ends.

#include <QByteArray>
#include <QString>

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
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// The four lines that open every iCalendar file we write: BEGIN, VERSION, PRODID, METHOD.
void AddCalendarHead(ContentLines &lines, const char *prodId);

// One folded line with its CR LF, for tests.
QByteArray FoldContentLine(const QByteArray &line);

// HTML to the plain text a rich-text document shows (paragraph breaks as LF, no-break spaces as
// spaces).
QString PlainTextOfHtml(const QString &html);
