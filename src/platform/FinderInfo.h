#pragma once
// Finder type and creator codes of the files we write. Best effort: the 32-byte Finder
// information (type, creator, zeros) as an extended attribute where the file system takes one;
// a failure never fails a save.

#include <QString>
#include <QtGlobal>

#include <functional>

// 'MBOX' and the like as the big-endian 32-bit code.
constexpr quint32 FourCharCode(const char (&code)[5])
{
    return quint32(quint8(code[0])) << 24 | quint32(quint8(code[1])) << 16 | quint32(quint8(code[2])) << 8
        | quint32(quint8(code[3]));
}

// Returns whether the information was stored.
bool SetFinderTypeCreator(const QString &path, quint32 type, quint32 creator);

namespace FinderInfoHooks {
// When set, receives every call instead of the file system (tests record them here).
extern std::function<bool(const QString &path, quint32 type, quint32 creator)> record;
}  // namespace FinderInfoHooks
