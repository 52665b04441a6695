#pragma once
// Hands web, mail and file links to the desktop's default handler. Tests replace the handler
// with a recorder so that no browser or mail program starts.

#include <QUrl>

#include <functional>

namespace DesktopOpener {
// When set, receives every link instead of the desktop; its result is OpenUrl's result.
extern std::function<bool(const QUrl &url)> hook;
}  // namespace DesktopOpener

// Opens url with the desktop's default handler. An empty or invalid URL opens nothing and
// returns false.
bool OpenUrl(const QUrl &url);
