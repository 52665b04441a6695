#include "scanner/StoreCopies.h"

#include "platform/ArchiveSource.h"
#include "platform/Crc32.h"
#include "scanner/ScanGlobals.h"

#include <QHash>
#include <QVector>

#include <cstdlib>

namespace olm {

namespace {

constexpr qint64 kChunk = qint64(1) << 20;

struct Range {
    qint64 offset;
    qint64 size;
    QByteArray name;
    int dropped = 0;
};

// A store held once whose text stops before its root element closes: its items up to the cut
// are listed, and a line says the rest is lost. Only its tail is read: the scan read it all.
void noteIfCut(const FileOffsetNode &node, const QByteArray &root,
               const std::function<QByteArray(qint64, qint64)> &read)
{
    if (node.llSize <= 0 || node.llDataOffset < 0 || node.bCompressed)
        return;
    const qint64 tail = qMin<qint64>(node.llSize, 256);
    if (read(node.llDataOffset + node.llSize - tail, tail).trimmed().endsWith("</" + root + '>'))
        return;
    EntriesReadElsewhere << QStringLiteral("Store \"%1\" at archive offset %2 is cut, and the archive holds no whole "
                                           "copy of it: only the items before the cut were read")
                                .arg(QString::fromUtf8(node.pEntryName))
                                .arg(node.llDataOffset);
}

// The copies of the store list that are not whole while another copy of their name is.
QVector<Range> brokenCopies(const FileOffsetNode *head, const QByteArray &root,
                            const std::function<QByteArray(qint64, qint64)> &read)
{
    QHash<QByteArray, QVector<const FileOffsetNode *>> byName;
    for (const FileOffsetNode *node = head; node; node = node->pNext) {
        if (node->pEntryName)
            byName[QByteArray(node->pEntryName)].append(node);
    }
    QVector<Range> broken;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it) {
        if (it.value().size() < 2) {
            noteIfCut(*it.value().first(), root, read);
            continue;
        }
        QVector<Range> others;
        bool whole = false;
        for (const FileOffsetNode *node : it.value()) {
            if (StoredTextWhole(read, node->llDataOffset, node->llSize, node->dwCrc32, root))
                whole = true;
            else
                others.append({node->llDataOffset, node->llSize, it.key()});
        }
        if (whole)
            broken += others;
    }
    return broken;
}

template <typename Record, typename FreeStrings>
void dropRecords(Record *&start, Record *&end, qint64 &count, QVector<Range> &ranges, FreeStrings freeStrings)
{
    Record *previous = nullptr;
    for (Record *r = start; r;) {
        Record *next = r == end ? nullptr : r->pNext;
        Range *in = nullptr;
        for (Range &range : ranges) {
            if (r->llItemOffset >= range.offset && r->llItemOffset < range.offset + qMax<qint64>(range.size, 1))
                in = &range;
        }
        if (!in) {
            previous = r;
        } else {
            ++in->dropped;
            --count;
            if (previous)
                previous->pNext = next;
            else
                start = next;
            if (r == end)
                end = previous;
            freeStrings(r);
            free(r);
        }
        r = next;
    }
}

void noteDropped(const QVector<Range> &ranges)
{
    for (const Range &r : ranges) {
        if (r.dropped == 0)
            continue;
        EntriesReadElsewhere << QStringLiteral("Store \"%1\" at archive offset %2 is not whole (cut, zeroed or empty): "
                                               "%3 items read from it were left out, as its whole copy gives the "
                                               "store's items")
                                    .arg(QString::fromUtf8(r.name))
                                    .arg(r.offset)
                                    .arg(r.dropped);
    }
}

}  // namespace

bool StoredTextWhole(const std::function<QByteArray(qint64, qint64)> &read, qint64 offset, qint64 size, quint32 crc32,
                     const QByteArray &root)
{
    if (size <= 0 || offset < 0)
        return false;
    const qint64 tail = qMin<qint64>(size, 256);
    if (!read(offset + size - tail, tail).trimmed().endsWith("</" + root + '>'))
        return false;
    quint32 crc = 0;
    for (qint64 done = 0; done < size;) {
        const QByteArray bytes = read(offset + done, qMin(kChunk, size - done));
        if (bytes.isEmpty() || bytes.contains('\0'))
            return false;
        crc = Crc32Update(crc, bytes.constData(), bytes.size());
        done += bytes.size();
    }
    return crc32 == 0 || crc == crc32;
}

void DropItemsOfBrokenStoreCopies(ArchiveSource &source)
{
    const auto read = [&source](qint64 offset, qint64 length) {
        QByteArray bytes(int(qBound<qint64>(0, length, kChunk)), Qt::Uninitialized);
        const qint64 got = offset < 0 ? 0 : source.readAt(offset, bytes.data(), bytes.size());
        bytes.resize(int(qMax<qint64>(0, got)));
        return bytes;
    };
    QVector<Range> contacts = brokenCopies(tmpCoFOStart, "contacts", read);
    if (!contacts.isEmpty())
        dropRecords(TmpCTRCPtrStart, TmpCTRCPtrEnd, ContactItemCount, contacts, [](ContactInformation *r) {
            free(r->pFirstName);
            free(r->pLastName);
        });
    QVector<Range> calendar = brokenCopies(tmpCaFOStart, "appointments", read);
    if (!calendar.isEmpty())
        dropRecords(TmpCLRCPtrStart, TmpCLRCPtrEnd, CalendarItemCount, calendar, [](CalenderInformation *r) {
            free(r->pSummary);
            free(r->pLocation);
        });
    QVector<Range> tasks = brokenCopies(tmpTaFOStart, "tasks", read);
    if (!tasks.isEmpty())
        dropRecords(TmpTSRCPtrStart, TmpTSRCPtrEnd, TaskItemCount, tasks, [](TasksInformation *r) { free(r->pName); });
    QVector<Range> notes = brokenCopies(tmpNoFOStart, "notes", read);
    if (!notes.isEmpty())
        dropRecords(TmpNTRCPtrStart, TmpNTRCPtrEnd, NotesItemCount, notes,
                    [](NotesInformation *r) { free(r->pTitle); });
    noteDropped(contacts + calendar + tasks + notes);
}

}  // namespace olm
