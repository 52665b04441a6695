#pragma once
// HTML to the plain text a rich-text document shows, piece by piece, so a long note is never
// held whole in more than one form.

#include <QString>

#include <vector>

// Whether a text is HTML rather than typed plain text: it opens with a document or with an
// element's tag, as the exporter writes its notes ("<html ..."). A typed "<" anywhere else (a
// "<br>" typed into the text, an address in angle brackets, "a<b and c>d") is no markup.
bool IsMarkupText(const QString &text);

// White space collapsed but inside <pre>, block elements and <br> as line breaks (LF), a tab
// between the cells of a table row, hidden elements dropped, every reference HTML defines
// undone, no-break spaces as spaces, no blanks at the end: the text a browser's page gives.
class HtmlPlainText {
public:
    // Appends the text of the next piece of the HTML to *out; a tag or reference the piece cuts
    // waits for the next piece.
    void feed(const QString &html, QString *out);
    // The end of the HTML: what still waits, without the blanks at the end.
    void finish(QString *out);

private:
    void convert(const QString &html, QString *out);
    void appendText(const QString &text, QString *out);
    void appendPreformatted(const QString &text, QString *out);
    void takeTag(const QString &name, bool closing, bool selfClosing);
    void takeTableTag(const QString &name, bool closing);
    void breakLine();
    void flushTail(QString *out);

    QString m_waiting;   // an unfinished tag or reference
    QString m_hiddenIn;  // the hidden element whose content is being skipped
    QString m_tail;      // blanks and breaks at the current end, written when text follows
    bool m_started = false;
    int m_preDepth = 0;            // open <pre> elements: their blanks and breaks are kept
    bool m_preOpened = false;      // just after <pre>: a line break there is no text, as HTML reads it
    bool m_afterCr = false;        // a CR inside <pre>: an LF right after it is the same break
    std::vector<bool> m_cellSeen;  // per open table: whether its current row has had a cell
};

// The whole HTML at once.
QString PlainTextOfHtml(const QString &html);
