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
        // Markup opens the text: its first few kilobytes tell, so the note is read in chunks only.
        const QByteArray typed = PlainElementBytes(stored);
        const std::string_view typedText = TextBeforeNul(typed);
        const QString opening = UnescapeXmlEntities(
            QString::fromUtf8(typedText.data(), int(qMin<size_t>(typedText.size(), 4096))), EntityForm::Scanned);
        out += IsMarkupText(opening) ? StoredPlainText(TextBeforeNul(stored), true) : StoredPlainText(typedText, false);
        out += "\r\n";
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

        // The element is read whole to be checked; the text is a slice of it.
        const QByteArray elementBytes = ReadArchiveBytes(rec.llItemOffset, rec.dwItemLength);
        const QByteArray raw = LongTextOf(elementBytes, rec.llItemOffset, rec.dwTextOffset, rec.dwTextLength);
        const SoundElement sound = SoundElementOf(elementBytes, "<note");
        // Only a title the record could not keep is read from the element.
        const std::string_view element = rec.pTitle ? std::string_view() : sound.view();
        QString uid;
        const ItemIdentity id = run->itemIds.nextStored(rec.llItemOffset, rec.dwItemLength, "<note");
        const PimFile file = ItemFile(target, id.hex.constData(), "Note", i + 1, &uid);
        const QString what = QStringLiteral("Note \"%1\" (at archive offset %2)")
                                 .arg(titleOf(rec, element), QString::number(rec.llItemOffset));
        if (!ReadBackIntact(raw, rec.dwTextLength) || !ReadBackIntact(elementBytes, rec.dwItemLength)) {
            NoteUnreadable(run->mail, what, file);
            continue;
        }
        if (sound.nothingWhole) {
            NotePimResult(run->mail, false, what, file.folder, sound.damage);
            continue;
        }
        // The text as XML reads it: comments dropped, CDATA and character references undone.
        const QByteArray stored = ReadableElementBytes(raw);
        const QByteArray bytes =
            appleMail ? NoteTextFile(rec, stored, element) : NoteCalendarFile(rec, uid, stored, element);
        // An empty note is saved as the empty note it is.
        if (sound.damage.isEmpty()) {
            SavePimItem(run->mail, file, bytes, what);
            continue;
        }
        QString path, error;
        if (WritePimFile(file, bytes, &path, &error))
            NotePimIncomplete(run->mail, what, path, sound.damage);
        else
            NotePimResult(run->mail, false, what, path, error);
    }
}
