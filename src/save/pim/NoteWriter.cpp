// Notes: an iCalendar journal entry per note in the package's Notes folder, a plain-text file
// (title, then the text rendered from HTML) per note in the Apple Mail output's Notes folder.

#include "platform/FinderInfo.h"
#include "save/MessageFields.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "save/SaveRun.h"
#include "save/pim/PimFiles.h"
#include "save/pim/PimItems.h"
#include "save/pim/PimText.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QRegularExpression>

namespace {

const char kNoteProdId[] = "-//Microsoft Corporation//Zovuvoziv Mac 11.1 MIMEDIR//EN";

// The record keeps no title over 255 characters; the note's element has it whole.
QString titleOf(const NotesInformation &rec, std::string_view element)
{
    if (rec.pTitle)
        return JoinLines(QString::fromUtf8(rec.pTitle));
    return JoinLines(ItemElementText(element, "</note>", "<OPFNoteCopyTitle"));
}

QString decodedNoteText(const QByteArray &stored)
{
    return UnescapeXmlEntities(QString::fromUtf8(UpToFirstNul(stored)), EntityForm::Notes);
}

// Whether a note's text is HTML rather than typed plain text: it opens with a document or with
// an element's tag, as the exporter writes its notes ("<html ..."). A typed "<" anywhere else (a
// "<br>" typed into the text, an address in angle brackets, "a<b and c>d") is no markup.
bool isMarkup(const QString &text)
{
    static const QRegularExpression opening(
        QStringLiteral(
            "^\\s*<\\s*(!--|!doctype\\b|\\?xml\\b|(html|head|body|meta|style|p|div|span|font|b|i|u|em|strong|"
            "table|ul|ol|h[1-6]|pre|blockquote|a)(\\s[^<>]*)?/?>)"),
        QRegularExpression::CaseInsensitiveOption);
    return opening.match(text).hasMatch();
}

// Typed plain text as typed: the archive's entities undone in one pass, each line break a LF.
QString plainNoteText(const QByteArray &stored)
{
    QString text = UnescapeXmlEntities(QString::fromUtf8(UpToFirstNul(PlainElementBytes(stored))), EntityForm::Scanned);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

}  // namespace

QByteArray NoteCalendarFile(const NotesInformation &rec, const QString &uid, const QByteArray &stored,
                            std::string_view element)
{
    ContentLines lines;
    AddCalendarHead(lines, kNoteProdId);
    lines.add("BEGIN", QByteArray("VJOURNAL"));
    lines.add("UID", EscapeText(uid));
    const QString title = titleOf(rec, element);
    if (!title.isEmpty())
        lines.add("SUMMARY", EscapeText(title));
    if (rec.dwTextLength != 0)
        lines.addStoredText("DESCRIPTION", stored, ContentLines::StoredForm::Note);
    lines.add("END", QByteArray("VJOURNAL"));
    lines.add("END", QByteArray("VCALENDAR"));
    return lines.bytes();
}

QByteArray NoteTextFile(const NotesInformation &rec, const QByteArray &stored, std::string_view element)
{
    QByteArray out;
    const QString title = titleOf(rec, element);
    if (!title.isEmpty())
        out += title.toUtf8() + "\r\n";
    if (rec.dwTextLength != 0) {
        const QString plain = plainNoteText(stored);
        out += (isMarkup(plain) ? PlainTextOfHtml(JoinLines(decodedNoteText(stored))) : plain).toUtf8() + "\r\n";
    }
    return out;
}

void QMailSavingThread::OnNotesSaving(unsigned long long folderId)
{
    SaveRun *run = currentRun();
    if (!run)
        return;
    const bool appleMail = appmaildata;
    const PimFile target{PimItemFolder(run->mail, appleMail, QStringLiteral("Notes")), QString(),
                         appleMail ? QStringLiteral(".txt") : QString(),
                         appleMail ? FourCharCode("Txt ") : FourCharCode("Ics "), FourCharCode("OPIM")};
    const QVector<const NotesInformation *> records = run->notes.of(qint64(folderId));
    for (int i = 0; i < records.size(); ++i) {
        if (stopRequested())
            return;
        const NotesInformation &rec = *records.at(i);
        reportItem(QStringLiteral("Saving Notes Folders..."));

        const QByteArray raw = rec.dwTextLength ? ReadArchiveBytes(rec.dwTextOffset, rec.dwTextLength) : QByteArray();
        // The text as XML reads it: comments dropped, CDATA and character references undone.
        const QByteArray stored = ReadableElementBytes(raw);
        // Only a title the record could not keep needs the element read again.
        const quint32 elementLength = rec.pTitle ? 0 : rec.dwItemLength;
        const QByteArray elementBytes =
            elementLength ? ReadArchiveBytes(rec.llItemOffset, elementLength) : QByteArray();
        const std::string_view element(elementBytes.constData(), size_t(elementBytes.size()));
        QString uid;
        const PimFile file = ItemFile(target, rec.szUuid, "Note", i + 1, &uid);
        const QString what = QStringLiteral("Note \"%1\" (at archive offset %2)")
                                 .arg(titleOf(rec, element), QString::number(rec.llItemOffset));
        if (!ReadBackIntact(raw, rec.dwTextLength) || !ReadBackIntact(elementBytes, elementLength)) {
            NoteUnreadable(run->mail, what, file);
            continue;
        }
        const QByteArray bytes =
            appleMail ? NoteTextFile(rec, stored, element) : NoteCalendarFile(rec, uid, stored, element);
        // An empty note is saved as the empty note it is.
        SavePimItem(run->mail, file, bytes, what);
    }
}
