#include "platform/DesktopOpener.h"

#include <QDesktopServices>

namespace DesktopOpener {
std::function<bool(const QUrl &)> hook;
}  // namespace DesktopOpener

bool OpenUrl(const QUrl &url)
{
    if (url.isEmpty() || !url.isValid())
        return false;
    if (DesktopOpener::hook)
        return DesktopOpener::hook(url);
    return QDesktopServices::openUrl(url);
}
