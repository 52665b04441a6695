#pragma once
// The few places where the shell waits on the user or the machine (file dialogs, message boxes,
// free space, the agreement marker's folder), each behind one function with an override that
// tests set. Empty overrides mean the real behaviour.

#include "platform/FreeSpace.h"

#include <QString>
#include <QtGlobal>

#include <functional>

class QWidget;

namespace ShellHooks {
extern std::function<QString(QWidget *parent, const QString &caption, const QString &dir)> openFileName;
extern std::function<QString(QWidget *parent, const QString &caption, const QString &dir)> existingDirectory;
// Receives every message box's text and icon style instead of showing it modally.
extern std::function<void(const QString &text, const QString &iconStyle)> messageBox;
}  // namespace ShellHooks

// "border-image:url(:/images/Mark.png);", the icon of most messages.
QString MarkIconStyle();
// "border-image:url(:/images/Check.png);", the icon of a message that reports success.
QString SuccessIconStyle();

// Shows the general message box modally (or hands the text to the test hook).
void ShowMessageBox(QWidget *parent, const QString &text, const QString &iconStyle = MarkIconStyle());
QString GetOpenFileNameHooked(QWidget *parent, const QString &caption, const QString &dir);
QString GetExistingDirectoryHooked(QWidget *parent, const QString &caption, const QString &dir);
