#pragma once
// Opens an archive through the main window's "Select OLM File" dialog, as a user would with
// Browse and Start. GUI tests only (needs the shell library).

#include "platform/WorkerGlobals.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"

#include <QPushButton>
#include <QtTest>

// Chooses path with Browse and presses Start; the scan then runs on its thread.
inline void startScanInWindow(QZovuvozivMainWindow &w, const QString &path)
{
    bStopFlag = false;
    stopflag = false;
    ShellHooks::openFileName = [path](QWidget *, const QString &, const QString &) { return path; };
    QParseDatabase *dialog = w.parseDatabase();
    dialog->browseZovuvozivButton->click();
    QVERIFY(dialog->StartButton->isEnabled());
    dialog->StartButton->click();
}
