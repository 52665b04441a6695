// The contact, calendar, task and note writers of save types 1 and 2. They walk their folder's
// records, honour the stop and report each item; they write no files yet, and say so.

#include "save/QMailSavingThread.h"
#include "save/SaveRun.h"
#include "shell/ShellGlobals.h"

void QMailSavingThread::OnContactSaving(unsigned long long folderId)
{
    if (bStopFlag || !currentRun())
        return;
    const qint64 count = currentRun()->contacts.of(qint64(folderId)).size();
    reportNotWritten(QStringLiteral("contacts"), count);
    tickItems(count, QStringLiteral("Saving Contacts Folders..."));
}

void QMailSavingThread::OnCalenderSaving(unsigned long long folderId)
{
    if (!currentRun())
        return;
    const qint64 count = currentRun()->calendar.of(qint64(folderId)).size();
    reportNotWritten(QStringLiteral("calendar items"), count);
    tickItems(count, QStringLiteral("Saving Calender Folders..."));
}

void QMailSavingThread::OnTaskSaving(unsigned long long folderId)
{
    if (!currentRun())
        return;
    const qint64 count = currentRun()->tasks.of(qint64(folderId)).size();
    reportNotWritten(QStringLiteral("tasks"), count);
    tickItems(count, QStringLiteral("Saving Tasks Folders..."));
}

void QMailSavingThread::OnNotesSaving(unsigned long long folderId)
{
    if (bStopFlag || !currentRun())
        return;
    const qint64 count = currentRun()->notes.of(qint64(folderId)).size();
    reportNotWritten(QStringLiteral("notes"), count);
    tickItems(count, QStringLiteral("Saving Notes Folders..."));
}
