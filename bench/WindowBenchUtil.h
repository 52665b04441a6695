#pragma once
// What the window benchmarks share: the archive they open, the resident memory, and the event
// loop run as the program's own loop runs it.

#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"

#include <QApplication>
#include <QByteArray>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QStringList>

#include <cstdio>

// The window's open sheet answers with path, as a user choosing that file would.
inline void answerOpenWith(const QString &path)
{
    ShellHooks::openFileName = [path](QWidget *, const QString &, const QString &) { return path; };
}

// The archive named first on the command line, with the window's resources ready and its open
// sheet answering with it; empty, after the usage line, when there is no such file.
inline QString benchArchive(const QStringList &args, const char *usage)
{
    if (args.size() < 2 || !QFile::exists(args.at(1))) {
        fprintf(stderr, "usage: %s\n", usage);
        return QString();
    }
    InitShellResources();
    answerOpenWith(args.at(1));
    return args.at(1);
}

inline long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// One turn of the event loop as the program's own loop takes it: objects given up with
// deleteLater() go too (processEvents() alone leaves them for a loop that is not running here).
inline void turn()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Runs the event loop until done() holds or the time is up.
template <typename Done>
bool waitFor(Done done, int seconds)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > seconds * 1000LL)
            return false;
        turn();
    }
    return true;
}

inline void closeDialogs()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (qobject_cast<QDialog *>(top) && top->isVisible())
            top->close();
    }
}
