// The message-file writers of save types 3 to 5: one .emlx, .eml or .htm file per message, made
// by the one mail writer with the format's row.

#include "save/QMailSavingThread.h"
#include "save/SaveRun.h"

void QMailSavingThread::SaveAsEMLX(unsigned long long folderId)
{
    if (currentRun())
        SaveMailFolder(folderId, EmlxStyle(), currentRun()->mail);
}

void QMailSavingThread::SaveAsEML(unsigned long long folderId)
{
    if (currentRun())
        SaveMailFolder(folderId, EmlStyle(), currentRun()->mail);
}

void QMailSavingThread::SaveAsHTML(unsigned long long folderId)
{
    if (currentRun())
        SaveMailFolder(folderId, HtmlStyle(), currentRun()->mail);
}
