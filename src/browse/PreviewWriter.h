#pragma once
// An item's preview written into a document the way the text view's own calls write into its
// document (append, text colour, point size, alignment), so the document can be written on any
// thread and handed to the view, which then shows what it would have shown written there.

#include <QTextCursor>

#include <atomic>
#include <functional>

class QColor;
class QString;

class PreviewWriter {
public:
    // cursor stands where the view's own cursor stands, with its character format; writing moves
    // it as the document moves the view's cursor.
    explicit PreviewWriter(const QTextCursor &cursor) : m_cursor(cursor) {}

    // As the view's setTextColor, setFontPointSize and setAlignment.
    void setTextColor(const QColor &colour);
    void setFontPointSize(qreal size);
    void setAlignment(Qt::Alignment alignment);
    // As the view's append: a new paragraph in the cursor's formats, the text as written.
    void append(const QString &text);
    // A new paragraph holding text as written, in the cursor's character format.
    void appendPlain(const QString &text);
    // A note's or task note's text as a paragraph of its own: formatted when it opens as markup
    // (IsMarkupText, the rule the note writer uses), else as typed, its line breaks and blanks kept.
    void appendLongText(const QString &text);
    // label + value + "\n" as a paragraph of its own in the preview's grey, as written.
    void appendLine(const QString &label, const QString &value);
    // A heading line, then a long text (appendLongText) in the preview's grey.
    void appendHeadedLongText(const QString &heading, const QString &text);

    // The stand-in for the view's cursor, its character format the one the view writes in next.
    const QTextCursor &cursor() const { return m_cursor; }

private:
    void appendIn(const QString &text, bool markup);
    QTextCursor m_cursor;
};

// An item's preview (a note, task, event or contact): what it reads from the archive, decodes and
// writes into the document. Runs on any thread; stop asks it to end early.
using PreviewWrite = std::function<void(PreviewWriter &writer, const std::atomic<bool> &stop)>;
