#include "scanner/StoreCopyState.h"

#include "platform/Crc32.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"

namespace olm {

namespace {

constexpr qint64 kChunk = qint64(1) << 20;
constexpr int kNamesShown = 20;

int statedCount(const QByteArray &head, const QByteArray &root)
{
    const int tag = head.indexOf("<" + root);
    const int end = tag < 0 ? -1 : head.indexOf('>', tag);
    const int at = end < 0 ? -1 : head.indexOf("elementCount=\"", tag);
    if (at < 0 || at > end)
        return -1;
    bool ok = false;
    const int from = at + 14;
    const int count = head.mid(from, head.indexOf('"', from) - from).toInt(&ok);
    return ok && count >= 0 ? count : -1;
}

}  // namespace

StoreCopyState JudgeStoreCopy(const ReadFn &read, const FileOffsetNode *node, const QByteArray &root)
{
    StoreCopyState c;
    c.node = node;
    c.offset = node->llDataOffset;
    c.size = qMax<qint64>(0, node->llSize);
    if (c.size == 0 || c.offset < 0 || node->bCompressed)
        return c;
    c.closed = EndsWithRootTail(read, c.offset, c.size, root);
    // "</contact>", "<contact ": a chunk's last bytes go on into the next one, so no tag is split.
    const QByteArray itemClose = "</" + root.left(root.size() - 1) + '>';
    const QByteArray itemOpen = '<' + root.left(root.size() - 1) + ' ';
    QByteArray closeTail, openTail;
    for (qint64 done = 0; done < c.size;) {
        const QByteArray bytes = read(c.offset + done, qMin(kChunk, c.size - done));
        if (bytes.isEmpty()) {
            c.closed = false;  // the file ends inside it
            break;
        }
        if (done == 0)
            c.stated = statedCount(bytes.left(512), root);
        for (int i = bytes.indexOf('\0'); i >= 0; i = bytes.indexOf('\0', i + 1)) {
            if (c.firstNul < 0)
                c.firstNul = c.offset + done + i;
            ++c.nulCount;
        }
        c.crc = Crc32Update(c.crc, bytes.constData(), bytes.size());
        done += bytes.size();
        // Each tag's own tail, shorter than the tag: nothing is counted twice.
        closeTail += bytes;
        c.itemCloses += closeTail.count(itemClose);
        closeTail = closeTail.right(itemClose.size() - 1);
        openTail += bytes;
        c.itemOpens += openTail.count(itemOpen);
        openTail = openTail.right(itemOpen.size() - 1);
    }
    c.crcFails = node->dwCrc32 != 0 && c.crc != node->dwCrc32;
    c.whole = c.closed && c.nulCount == 0 && !c.crcFails;
    return c;
}

bool EndsWithRootTail(const ReadFn &read, qint64 offset, qint64 size, const QByteArray &root)
{
    // What may follow the close tag is short in any real store; 4 KiB leaves room for a comment.
    const qint64 tail = qMin<qint64>(size, 4096);
    const QByteArray bytes = read(offset + size - tail, tail);
    return EndsWithRootClose(std::string_view(bytes.constData(), size_t(bytes.size())),
                             std::string_view(root.constData(), size_t(root.size())));
}

bool BytesReadWhole(const ReadFn &read, qint64 offset, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        const QByteArray bytes = read(offset + done, qMin(kChunk, length - done));
        if (bytes.isEmpty() || bytes.contains('\0'))
            return false;
        done += bytes.size();
    }
    return true;
}

bool KeptCopyHolds(const ReadFn &read, const StoreCopyState &kept, const StoreCopyState &copy, qint64 offset,
                   qint64 length)
{
    const qint64 at = kept.offset + (offset - copy.offset);
    if (length <= 0 || offset < copy.offset || at + length > kept.offset + kept.size)
        return false;
    for (qint64 done = 0; done < length;) {
        const qint64 n = qMin(kChunk, length - done);
        const QByteArray mine = read(offset + done, n);
        const QByteArray theirs = read(at + done, n);
        if (theirs.size() != n || theirs.contains('\0'))
            return false;
        for (int i = 0; i < mine.size(); ++i) {
            if (mine[i] != '\0' && mine[i] != theirs[i])
                return false;
        }
        done += n;
    }
    return true;
}

QString StoreCopyDamage(const StoreCopyState &copy)
{
    if (copy.size == 0)
        return QStringLiteral("it is empty");
    QStringList parts;
    if (!copy.closed)
        parts << QStringLiteral("its text ends before its root element closes");
    if (copy.nulCount > 0)
        parts << QStringLiteral("%1 NUL bytes from archive offset %2").arg(copy.nulCount).arg(copy.firstNul);
    if (copy.crcFails)
        parts << QStringLiteral("its checksum fails");
    return parts.join(QStringLiteral("; "));
}

int ItemsLostWhole(const StoreCopyState &copy, int listed)
{
    // A root that lost its stated count still holds the ends (or starts) of the items it held.
    const int held = qMax(copy.stated, qMax(copy.itemCloses, copy.itemOpens));
    return held > listed ? held - listed : 0;
}

QString StoreItemName(const char *word, qint64 offset, const QByteArray &title)
{
    QString name = QStringLiteral("the %1 at archive offset %2").arg(QLatin1String(word)).arg(offset);
    if (!title.isEmpty())
        name += QStringLiteral(" (\"%1\")").arg(ReportName(title.left(80)));
    return name;
}

QString BoundedList(const QStringList &names)
{
    if (names.size() <= kNamesShown)
        return names.join(QStringLiteral(", "));
    return names.mid(0, kNamesShown).join(QStringLiteral(", "))
        + QStringLiteral(" \u2026 and %1 more").arg(names.size() - kNamesShown);
}

}  // namespace olm
