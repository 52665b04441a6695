// The calendar writer of save types 1 and 2. They walk their folder's
// records, honour the stop and report each item; they write no files yet.

#include "save/QMailSavingThread.h"
#include "save/SaveRun.h"
#include "shell/ShellGlobals.h"

void QMailSavingThread::OnCalenderSaving(unsigned long long folderId)
{
    if (!currentRun())
        return;
    tickItems(currentRun()->calendar.of(qint64(folderId)).size(), QStringLiteral("Saving Calender Folders..."));
}
