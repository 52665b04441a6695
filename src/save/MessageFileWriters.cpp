// The message-file writers of save types 3 to 5 (one .emlx, .eml or .htm file per message). They
// walk the folder's messages, honour the stop and report each one; they write no files yet, and
// say so.

#include "save/QMailSavingThread.h"
#include "save/SaveRun.h"

void QMailSavingThread::SaveAsEMLX(unsigned long long folderId)
{
    if (!currentRun())
        return;
    const qint64 count = currentRun()->messagesOf(qint64(folderId)).size();
    reportNotWritten(QStringLiteral("EMLX files"), count);
    tickItems(count, QStringLiteral("Saving Mail Folders..."));
}

void QMailSavingThread::SaveAsEML(unsigned long long folderId)
{
    if (!currentRun())
        return;
    const qint64 count = currentRun()->messagesOf(qint64(folderId)).size();
    reportNotWritten(QStringLiteral("EML files"), count);
    tickItems(count, QStringLiteral("Saving Mail Folders..."));
}

void QMailSavingThread::SaveAsHTML(unsigned long long folderId)
{
    if (!currentRun())
        return;
    const qint64 count = currentRun()->messagesOf(qint64(folderId)).size();
    reportNotWritten(QStringLiteral("HTML files"), count);
    tickItems(count, QStringLiteral("Saving Mail Folders..."));
}
