#include "shell/ShellGlobals.h"

char CurrentPath[136] = {0};
QString m_selectedFile;
QString oldInputfilePath;
QString m_strDatabasePath;
bool bLastState = true;
QString IdentityExistsCheckG;
QString senderObjName;
QString strPlistPath;
QString HelpFilePath;
QString strPreviewerPath;
QDateTime g_scanStartedAt;
QDateTime g_scanEndedAt;
