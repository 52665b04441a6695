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
#include "scanner/ScanGlobals.h"

namespace {

const char kNoteProdId[] = "-//Microsoft Corporation//Zovuvoziv Mac 11.1 MIMEDIR//EN";

bool hasNoteEntity(const QString &text)
{
    for (const char *entity : {"&lt;", "&amp;", "&nbsp;", "&gt;"}) {
        if (text.contains(QLatin1String(entity), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString titleOf(const NotesInformation &rec)
{
    return rec.pTitle ? JoinLines(QString::fromUtf8(rec.pTitle)) : QString();
}

}  // namespace

QString NoteTextOf(const QByteArray &stored)
{
    QString text = QString::fromUtf8(UpToFirstNul(stored));
    if (hasNoteEntity(text)) {
        text.replace(QLatin1String("&lt;"), QLatin1String("<"));
        text.replace(QLatin1String("&gt;"), QLatin1String(">"));
        text.replace(QLatin1String("&amp;"), QLatin1String("&"));
        text.replace(QLatin1String("&nbsp;"), QLatin1String(" "));
    }
    return JoinLines(text);
}

QByteArray NoteCalendarFile(const NotesInformation &rec, const QString &uid, const QByteArray &stored)
{
    ContentLines lines;
    AddCalendarHead(lines, kNoteProdId);
    lines.add("BEGIN", QByteArray("VJOURNAL"));
    lines.add("UID", EscapeText(uid));
    const QString title = titleOf(rec);
    if (!title.isEmpty())
        lines.add("SUMMARY", EscapeText(title));
    if (rec.dwTextLength != 0)
        lines.add("DESCRIPTION", EscapeText(NoteTextOf(stored)));
    lines.add("END", QByteArray("VJOURNAL"));
    lines.add("END", QByteArray("VCALENDAR"));
    return lines.bytes();
}

QByteArray NoteTextFile(const NotesInformation &rec, const QByteArray &stored)
{
    QByteArray out;
    const QString title = titleOf(rec);
    if (!title.isEmpty())
        out += title.toUtf8() + "\r\n";
    if (rec.dwTextLength != 0)
        out += PlainTextOfHtml(NoteTextOf(stored)).toUtf8() + "\r\n";
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

        const QByteArray stored =
            rec.dwTextLength ? ReadArchiveBytes(rec.dwTextOffset, rec.dwTextLength) : QByteArray();
        QString uid;
        const PimFile file = ItemFile(target, rec.szUuid, "Note", i + 1, &uid);
        const QString what =
            QStringLiteral("Note \"%1\" (at archive offset %2)").arg(titleOf(rec), QString::number(rec.dwTextOffset));
        if (!ReadBackIntact(stored, rec.dwTextLength)) {
            NoteUnreadable(run->mail, what, file);
            continue;
        }
        const QByteArray bytes = appleMail ? NoteTextFile(rec, stored) : NoteCalendarFile(rec, uid, stored);
        SavePimItem(run->mail, file, bytes, what);
    }
}
