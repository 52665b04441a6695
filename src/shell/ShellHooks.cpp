#include "shell/ShellHooks.h"

#include "shell/DemoDlgClass.h"

#include <QFileDialog>

namespace ShellHooks {
std::function<QString(QWidget *, const QString &, const QString &)> openFileName;
std::function<QString(QWidget *, const QString &, const QString &)> existingDirectory;
std::function<void(const QString &, const QString &)> messageBox;
}  // namespace ShellHooks

QString MarkIconStyle()
{
    return QStringLiteral("border-image:url(:/images/Mark.png);");
}

QString SuccessIconStyle()
{
    return QStringLiteral("border-image:url(:/images/Check.png);");
}

void ShowMessageBox(QWidget *parent, const QString &text, const QString &iconStyle)
{
    if (ShellHooks::messageBox) {
        ShellHooks::messageBox(text, iconStyle);
        return;
    }
    DemoDlgClass box(parent);
    box.setIconStyle(iconStyle);
    box.setText(text);
    box.setModal(true);
    box.exec();
}

QString GetOpenFileNameHooked(QWidget *parent, const QString &caption, const QString &dir)
{
    if (ShellHooks::openFileName)
        return ShellHooks::openFileName(parent, caption, dir);
    return QFileDialog::getOpenFileName(parent, caption, dir);
}

QString GetExistingDirectoryHooked(QWidget *parent, const QString &caption, const QString &dir)
{
    if (ShellHooks::existingDirectory)
        return ShellHooks::existingDirectory(parent, caption, dir);
    return QFileDialog::getExistingDirectory(parent, caption, dir);
}
