#include "platform/FinderInfo.h"

#include <QFile>

#if defined(__APPLE__) || defined(__linux__)
#include <sys/xattr.h>
#endif

namespace FinderInfoHooks {
std::function<bool(const QString &, quint32, quint32)> record;
}

bool SetFinderTypeCreator(const QString &path, quint32 type, quint32 creator)
{
    if (FinderInfoHooks::record)
        return FinderInfoHooks::record(path, type, creator);
    unsigned char info[32] = {};
    for (int i = 0; i < 4; ++i) {
        info[i] = static_cast<unsigned char>(type >> (24 - 8 * i));
        info[4 + i] = static_cast<unsigned char>(creator >> (24 - 8 * i));
    }
    const QByteArray native = QFile::encodeName(path);
#if defined(__APPLE__)
    return setxattr(native.constData(), "com.apple.FinderInfo", info, sizeof info, 0, 0) == 0;
#elif defined(__linux__)
    return setxattr(native.constData(), "user.com.apple.FinderInfo", info, sizeof info, 0) == 0;
#else
    Q_UNUSED(native);
    return false;
#endif
}
