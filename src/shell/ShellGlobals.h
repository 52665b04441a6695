#pragma once
// State the shell owns and the workers read. Defined in ShellGlobals.cpp.

#include <QtGlobal>
#include <atomic>

// The open archive: opened read-only by the open/scan dialog before a scan starts, -1 when none is open.
// Never closed while a worker runs.
extern int fileDescriptor;
// Size of the open archive, set by the open/scan dialog before the scanner starts.
extern qint64 lSize;

// The user asked to stop the running scan or save. Set by the GUI thread, cleared when the next run starts.
extern std::atomic<bool> bStopFlag;
// A scan or save runs. Set by the worker when it starts, cleared by it before its finish signal.
extern std::atomic<bool> bProcessRunning;
// A save was aborted. Set by the GUI thread's stop answer, read by the saving thread.
extern std::atomic<bool> stopflag;

#include <QString>

// The archive path as NUL-terminated Latin-1, at most 135 bytes; set by the open/scan dialog.
extern char CurrentPath[136];
// The chosen archive, the choice before the finder's last delivery, the path chosen with Browse.
extern QString m_selectedFile;
extern QString oldInputfilePath;
extern QString m_strDatabasePath;
// True after Open, false after Find File.
extern bool bLastState;
// The save in progress: its stamp "(d MMM yyyy,hh-mm-ss)", destination, item total, running
// count and the existing output root named in the replace question. Written by the GUI thread
// before the saving thread starts; read by it and the writers.
extern QString strTime;
extern QString saveDir;
extern unsigned int SizeOfAllMails;
extern unsigned int ulCount;
extern QString IdentityExistsCheckG;
// Which operation asked the shared question ("OnOpenFile", "OnFindFiles", "OnSavingFiles"), or the
// exit dialog's answer ("YesBtn", "NoBtn").
extern QString senderObjName;
// The settings file, the help folder and the previewer, set once by main.
extern QString strPlistPath;
extern QString HelpFilePath;
extern QString strPreviewerPath;
