#pragma once
// The bytes of an entry as every save and preview copies them: as stored, or, where the scan
// found its line ends converted, converted back (which gives the bytes its CRC-32 names).

#include "platform/LineEndsBack.h"
#include "platform/WorkerGlobals.h"
#include "scanner/ScanGlobals.h"

#include <QByteArray>

// How many bytes the entry's reader gives.
inline qint64 EntryDataSize(const FileOffsetNode &node)
{
    return node.bLineEndsBack ? node.llBackSize : node.llSize;
}

// A reader of the entry's data from its start, on fd (the open archive unless told).
inline EntryDataReader EntryData(const FileOffsetNode &node, int fd = fileDescriptor)
{
    return EntryDataReader(fd, node.llDataOffset, node.llSize, node.bLineEndsBack);
}

// At most max bytes of the entry's data from its start; fewer where the archive ends.
inline QByteArray ReadEntryData(const FileOffsetNode &node, qint64 max)
{
    const qint64 n = qBound<qint64>(0, qMin(EntryDataSize(node), max), qint64(1) << 30);
    if (node.llDataOffset < 0 || n == 0)
        return QByteArray();
    QByteArray bytes(int(n), Qt::Uninitialized);
    EntryDataReader reader = EntryData(node);
    bytes.resize(int(qMax<qint64>(0, reader.read(bytes.data(), n))));
    return bytes;
}
