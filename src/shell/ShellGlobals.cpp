#include "shell/ShellGlobals.h"

int fileDescriptor = -1;
qint64 lSize = 0;
std::atomic<bool> bStopFlag{false};
std::atomic<bool> bProcessRunning{false};
std::atomic<bool> stopflag{false};

char CurrentPath[136] = {0};
QString m_selectedFile;
QString oldInputfilePath;
QString m_strDatabasePath;
bool bLastState = true;
QString strTime;
QString saveDir;
unsigned int SizeOfAllMails = 0;
unsigned int ulCount = 0;
QString IdentityExistsCheckG;
QString senderObjName;
QString strPlistPath;
QString HelpFilePath;
QString strPreviewerPath;
