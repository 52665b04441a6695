#pragma once
// Starts a program that opens something for the user (the desktop's opener, the attachment
// previewer) so that its end is known: QProcess with an argument list, never a shell. A program
// that ends on its own with a non-zero status could not open what it was given (xdg-open: 1 to 4);
// one ended by a signal is not counted, since we end a previewer ourselves when the next file
// replaces it.

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

// Starts program and waits only until it has started. Returns its process id, or 0 when it did
// not start. failed runs on the thread of context (which needs an event loop, the GUI thread)
// if the program later ends with a non-zero status; not once context is gone. The program's
// input is empty and its output goes where ours goes. It keeps running when we end.
qint64 StartWatchedProgram(const QString &program, const QStringList &arguments, QObject *context,
                           std::function<void()> failed);
