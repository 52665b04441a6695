#include "shell/ShellHooks.h"

#include <QFileDialog>

namespace ShellHooks {
std::function<QString(QWidget *, const QString &, const QString &)> openFileName;
std::function<QString(QWidget *, const QString &, const QString &)> existingDirectory;
QString markerFolder;
}  // namespace ShellHooks

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
