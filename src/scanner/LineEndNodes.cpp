// Attachments of an archive whose line ends a copy converted (every LF written as CR LF, once or
// twice): each grew by its LFs, and the walk keeps it whole at its grown length. Converted back,
// such bytes have their CRC-32 again; a save then writes the attachment as it was stored.

#include "scanner/ArchiveWalk.h"

#include "platform/Crc32.h"
#include "platform/LineEndsBack.h"
#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/ScanGlobals.h"

#include <cstring>

namespace olm {

namespace {

struct Converted {
    int times = 0;
    qint64 size = 0;  // of the bytes converted back
};

// The times the line ends of size bytes at offset were converted, where the bytes converted back
// have crc and (when stated > 0) stated bytes; none when they verify as they are, hold no CR, or
// verify neither way.
Converted timesConverted(BufferedArchiveReader &reader, qint64 offset, qint64 size, quint32 crc, qint64 stated)
{
    constexpr qint64 kChunk = 256 * 1024;
    QByteArray in(int(qMin(size, kChunk)), Qt::Uninitialized);
    QByteArray out(in.size() + LineEndsBack::kMaxTimes, Qt::Uninitialized);
    LineEndsBack back[2] = {LineEndsBack(1), LineEndsBack(2)};
    quint32 asStored = 0, converted[2] = {0, 0};
    qint64 sizes[2] = {0, 0};
    bool cr = false;
    for (qint64 done = 0; done < size;) {
        if (bStopFlag)
            return {};
        const qint64 n = reader.read(offset + done, in.data(), qMin(kChunk, size - done));
        if (n <= 0)
            return {};
        asStored = Crc32Update(asStored, in.constData(), n);
        cr = cr || memchr(in.constData(), '\r', size_t(n));
        for (int k = 0; k < 2; ++k) {
            const qint64 m = back[k].feed(in.constData(), n, out.data());
            converted[k] = Crc32Update(converted[k], out.constData(), m);
            sizes[k] += m;
        }
        done += n;
    }
    if (asStored == crc || !cr)
        return {};
    for (int k = 0; k < 2; ++k) {
        const qint64 m = back[k].finish(out.data());
        converted[k] = Crc32Update(converted[k], out.constData(), m);
        sizes[k] += m;
        if (converted[k] == crc && (stated <= 0 || sizes[k] == stated))
            return {k + 1, sizes[k]};
    }
    return {};
}

}  // namespace

void ArchiveWalker::readLineEndsBack()
{
    // Only attachments whose bytes run on past their stated size are looked at (kept longer, or
    // the next entry found behind their size's end), each once: the check costs at most one more
    // read of the archive's bytes.
    qint64 budget = m_size;
    for (FileOffsetNode *n = tmpAtFOStart; n && !bStopFlag; n = n->pNext) {
        const qint64 extent = qMax(n->llSize, n->llReach);
        if (n->bCompressed || n->dwCrc32 == 0 || extent <= n->llStatedSize || n->llDataOffset < 0
            || extent > m_size - n->llDataOffset || extent > budget)
            continue;
        budget -= extent;
        const Converted back = timesConverted(*m_reader, n->llDataOffset, extent, n->dwCrc32, n->llStatedSize);
        if (back.times == 0)
            continue;
        n->llSize = extent;
        n->bLineEndsBack = quint8(back.times);
        n->llBackSize = back.size;
        // Verified whole: no neighbour's bytes are in it.
        n->bSizeCut = 0;
        EntriesReadElsewhere << EntryLine(QByteArray(n->pEntryName ? n->pEntryName : ""), n->llDataOffset,
                                          QStringLiteral(": its line ends were converted (LF written as CR LF, "
                                                         "%1); read with them converted back (%2 bytes for %3), "
                                                         "its CRC-32 verifies")
                                              .arg(back.times == 1 ? QStringLiteral("once") : QStringLiteral("twice"))
                                              .arg(n->llBackSize)
                                              .arg(n->llSize),
                                          EntryPlace::Data);
    }
}

}  // namespace olm
