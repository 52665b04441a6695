#pragma once
// Content lines of the vCard and iCalendar files: text escaping, 75-octet folding, CR LF ends.

#include <QByteArray>
#include <QString>

#include "save/pim/HtmlPlainText.h"

#include <functional>
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
    // How a long stored text is read.
    enum class StoredForm {
        Scanned,   // descriptions, contact notes: cut at the first NUL, entities undone as the
                   // scanner does, CR LF one line break; no line when the text is empty
        Note,      // a note's text: cut at the first NUL, EntityForm::Notes, CR LF one line
                   // break; the line is written even when the text is empty
        TaskNote,  // a task's note: every NUL dropped, EntityForm::Notes, then its plain text
                   // (HTML as HtmlPlainText reads it, typed text as typed, CR LF one line break);
                   // the line is written even when the text is empty
    };
    // A long stored text, written chunk by chunk, so it is never held again whole in any other
    // form; the bytes are those of the whole text escaped and added at once.
    void addStoredText(const QByteArray &name, std::string_view stored, StoredForm form = StoredForm::Scanned);
    void addStoredText(const QByteArray &name, const QByteArray &stored, StoredForm form = StoredForm::Scanned)
    {
        addStoredText(name, std::string_view(stored.constData(), size_t(stored.size())), form);
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

// The bytes before the first NUL, without a copy.
std::string_view TextBeforeNul(const QByteArray &bytes);
std::string_view TextBeforeNul(std::string_view text);
// UTF-8 text without the blanks QString::trimmed drops at its ends, without a copy.
std::string_view TrimmedUtf8(std::string_view text);

// A long stored text (cut at its first NUL by the caller) as a text file holds it, UTF-8 with LF
// breaks, converted chunk by chunk: html: the plain text of the HTML (EntityForm::Notes undone
// first); else typed text as typed (EntityForm::Scanned, CR LF and CR each one LF).
QByteArray StoredPlainText(std::string_view stored, bool html);
// The same text given to take piece by piece.
void ForEachPlainChunk(std::string_view stored, bool html, const std::function<void(const QString &)> &take);

// One folded line with its CR LF, for tests.
QByteArray FoldContentLine(const QByteArray &line);
