#pragma once
// Hands web, mail and file links to the desktop's opener, a program ("xdg-open") started with an
// argument list so that its exit status tells whether anything could open the link. Tests
// replace it with a recorder so that no browser or mail program starts, or name a stand-in
// program.

#include <QString>
#include <QUrl>

#include <functional>

namespace DesktopOpener {
// When set, receives every link instead of the desktop; its result is OpenUrl's result, and
// nothing is reported later.
extern std::function<bool(const QUrl &url)> hook;
// The opener program; "xdg-open" when empty.
extern QString program;
}  // namespace DesktopOpener

// Starts the opener for url. False when it is known at once that nothing opens it: the URL is
// empty, invalid or has no scheme, or the opener did not start. When the opener ends later with
// a non-zero status (no program for this kind of file or address, or that program failed),
// notOpened runs on the GUI thread. A local file goes to the opener as a path.
bool OpenUrl(const QUrl &url, std::function<void()> notOpened = {});
