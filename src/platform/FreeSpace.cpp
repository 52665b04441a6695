#include "platform/FreeSpace.h"

#include <QStorageInfo>

namespace ShellHooks {
std::function<qint64(const QString &)> freeSpace;
}  // namespace ShellHooks

qint64 FreeSpaceHooked(const QString &path)
{
    if (ShellHooks::freeSpace)
        return ShellHooks::freeSpace(path);
    return QStorageInfo(path).bytesAvailable();
}
