#pragma once
// State the update windows share, the private work folder they keep their files in, and the few
// places tests redirect. Everything here belongs to the GUI thread.

#include <QIODevice>
#include <QString>

#include <functional>

class QFile;

// A left press in the top strip of an update window started a window drag; any release ends it.
extern bool dragged;
// The offered version as the last check found it: kind ("Major" or "Minor"), the trimmed version
// line, the label ("Major Update" or "Minor Update"). Latin-1, NUL-padded, at most 31 characters
// a row. Written by the check's decision, read when the update record is written.
extern char softwareUpdate[3][32];
// The last check found a newer version; cleared when a check starts deciding.
extern bool UpdateVersionAvailable;
// The user started the check from the Update action, so "no update", and a check that could not be
// made, are reported too. Set by the main window before it makes a QCheckUpdate, cleared when the
// check reports.
extern bool bCheckForUpdate;
// The version text ("Corvask.txt") and the unpacked bundle of the running install, both inside
// the private work folder. Set by UpdateWorkDir and by the installer.
extern QString VersionTxtPath;
extern QString ApplicationPath;

namespace UpdateHooks {
// Replaces the per-user work folder when not empty.
extern QString workDir;
// Replaces QCoreApplication::applicationFilePath() as the installed program when not empty.
extern QString applicationFile;
// Called instead of QCoreApplication::quit() once the user confirms the installed update.
extern std::function<void()> endProgram;
// How long a transfer may go without data before it fails.
extern int stallTimeoutMs;
// How long an update check may take in all, however its server sends.
extern int checkBoundMs;
// A download that brings fewer than minProgressBytes in any progressWindowMs fails: a server that
// trickles a byte at a time never trips the stall bound above.
extern int progressWindowMs;
extern qint64 minProgressBytes;
}  // namespace UpdateHooks

// The private per-user work folder with a trailing "/", made with mode 0700 on first use. Empty
// when it cannot be made, is not a folder of this user's, or cannot be made private.
QString UpdateWorkDir();
// The running program's executable, or the hook's replacement.
QString UpdateApplicationFile();
// Opens path without following a link at it; only regular files are accepted. flags are open(2)
// flags (O_RDONLY, O_WRONLY, O_RDWR with O_CREAT, O_TRUNC); a created file gets mode 0600.
bool OpenUnlinked(QFile &file, const QString &path, int flags);
