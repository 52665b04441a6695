#pragma once
// State the shell owns. Defined in ShellGlobals.cpp. The workers' state and the save run's are
// declared in their own layers and included here for the shell's convenience.

#include "platform/WorkerGlobals.h"
#include "save/SaveGlobals.h"

#include <QDateTime>
#include <QString>

// The archive path as NUL-terminated Latin-1, at most 135 bytes; set by the open/scan dialog.
extern char CurrentPath[136];
// The chosen archive, the choice before the finder's last delivery, the path chosen with Browse.
extern QString m_selectedFile;
extern QString oldInputfilePath;
extern QString m_strDatabasePath;
// True after Open, false after Find File.
extern bool bLastState;
// The existing output root named in the replace question.
extern QString IdentityExistsCheckG;
// Which operation asked the shared question ("OnOpenFile", "OnFindFiles", "OnSavingFiles"), or the
// exit dialog's answer ("YesBtn", "NoBtn").
extern QString senderObjName;
// The settings file, the help folder and the previewer, set once by main.
extern QString strPlistPath;
extern QString HelpFilePath;
extern QString strPreviewerPath;
// When the last scan started and ended, for its log report; invalid while unknown.
extern QDateTime g_scanStartedAt;
extern QDateTime g_scanEndedAt;
