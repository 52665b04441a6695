#pragma once
// Free space at a destination, behind a hook that tests set (empty means the real figure).

#include <QString>
#include <QtGlobal>

#include <functional>

namespace ShellHooks {
extern std::function<qint64(const QString &path)> freeSpace;
}  // namespace ShellHooks

// Bytes available to the user at path.
qint64 FreeSpaceHooked(const QString &path);
