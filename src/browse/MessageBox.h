#pragma once
// The general message box as every layer from browsing up shows it, with the one override that
// tests set. An empty override means the real, modal box.

#include <QString>

#include <functional>

class QWidget;

namespace ShellHooks {
// Receives every message box's text and icon style instead of showing it modally.
extern std::function<void(const QString &text, const QString &iconStyle)> messageBox;
}  // namespace ShellHooks

// "border-image:url(:/images/Mark.png);", the icon of most messages.
QString MarkIconStyle();
// "border-image:url(:/images/Check.png);", the icon of a message that reports success.
QString SuccessIconStyle();

// Shows the general message box modally (or hands the text to the test hook).
void ShowMessageBox(QWidget *parent, const QString &text, const QString &iconStyle = MarkIconStyle());
