// What the OLM archive writer's log says of the items it carries: checksums settled once the
// data is out, texts that cannot be read, and the item each line belongs to.

#include "save/olm/OlmArchiveWriter.h"

#include "platform/WorkerGlobals.h"

#include <QtEndian>

QString OlmArchiveWriter::checksumProblem(const PendingCrc &p, quint32 crc)
{
    if (p.label.isEmpty())
        return QString::fromLatin1(kOlmDamagedText);
    if (p.sizeCut)
        return p.label + QStringLiteral(": damaged: its size ran into the next entry, cut there");
    return p.label
        + QStringLiteral(": damaged: CRC-32 %1, the archive says %2")
              .arg(crc, 8, 16, QLatin1Char('0'))
              .arg(p.stated, 8, 16, QLatin1Char('0'));
}

void OlmArchiveWriter::beginItem(const QString &what)
{
    m_item = m_book.begin(what);
}

bool OlmArchiveWriter::textReadable(qint64 offset, qint64 length, const char *startTag, const char *endTag) const
{
    // Clamped to the archive as the scan saw it: what lay beyond its end then was never text.
    const qint64 scanned = lSize > 0 ? lSize : m_sourceSize;
    const qint64 expected = qMin(length, scanned - offset);
    if (offset < 0 || expected <= 0 || expected > m_sourceSize - offset)
        return false;
    const QByteArray head = readSource(offset, qMin<qint64>(expected, 4096));
    if (head.isEmpty() || head.at(0) == '\0' || (startTag && !head.contains(startTag)))
        return false;
    if (!endTag)
        return true;
    const qint64 tailLength = qMin<qint64>(expected, 256);
    return readSource(offset + expected - tailLength, tailLength).contains(endTag);
}

void OlmArchiveWriter::noteUnreadable(const QString &what)
{
    m_book.unreadable(what);
}

void OlmArchiveWriter::settleChecksums()
{
    if (!m_out.drain())
        return;
    for (const PendingCrc &p : qAsConst(m_pendingCrcs)) {
        const quint32 crc = m_out.checksum(p.range);
        qToLittleEndian(crc, m_central.data() + p.centralAt);
        if (p.item >= 0 && crc != p.stated)
            m_book.lost(p.item, checksumProblem(p, crc));
        if (crc != p.stated) {
            char b[4];
            qToLittleEndian(crc, b);
            m_out.patch(p.localAt, QByteArray(b, 4));
        }
    }
}
