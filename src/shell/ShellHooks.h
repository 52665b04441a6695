#pragma once
// The few places where the shell waits on the user or the machine (file dialogs, message boxes,
// free space, the agreement marker's folder), each behind one function with an override that
// tests set. Empty overrides mean the real behaviour. The message box lives with browsing, which
// shows it too.

#include "browse/MessageBox.h"
#include "platform/FreeSpace.h"

#include <QString>
#include <QtGlobal>

#include <functional>

class QWidget;

namespace ShellHooks {
extern std::function<QString(QWidget *parent, const QString &caption, const QString &dir)> openFileName;
extern std::function<QString(QWidget *parent, const QString &caption, const QString &dir)> existingDirectory;
// Replaces the agreement marker's folder when not empty, so tests never touch the real marker.
extern QString markerFolder;
}  // namespace ShellHooks

QString GetOpenFileNameHooked(QWidget *parent, const QString &caption, const QString &dir);
QString GetExistingDirectoryHooked(QWidget *parent, const QString &caption, const QString &dir);
