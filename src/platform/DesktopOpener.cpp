#include "platform/DesktopOpener.h"

#include "platform/WatchedProcess.h"

#include <QCoreApplication>

namespace DesktopOpener {
std::function<bool(const QUrl &)> hook;
QString program;
}  // namespace DesktopOpener

bool OpenUrl(const QUrl &url, std::function<void()> notOpened)
{
    // Without a scheme the opener would take the text for a file name, or for an option.
    if (url.isEmpty() || !url.isValid() || url.isRelative())
        return false;
    if (DesktopOpener::hook)
        return DesktopOpener::hook(url);
    const QString opener = DesktopOpener::program.isEmpty() ? QStringLiteral("xdg-open") : DesktopOpener::program;
    const QString argument = url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded);
    return StartWatchedProgram(opener, {argument}, QCoreApplication::instance(), std::move(notOpened)) > 0;
}
