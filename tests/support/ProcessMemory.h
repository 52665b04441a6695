#pragma once
// Resident memory of this process, read from /proc: tests of what a step keeps or gives back.

#include <QFile>
#include <QtGlobal>

// A "VmRSS:" (now) or "VmHWM:" (peak since the last ResetPeakMemory) figure in kB; -1 when it
// cannot be read.
inline long MemoryKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

inline bool ResetPeakMemory()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}
