#include "scanner/StoreCopies.h"

#include "platform/ArchiveSource.h"
#include "platform/Crc32.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"

#include <QHash>
#include <QMap>
#include <QVector>

#include <algorithm>
#include <cstdlib>

namespace olm {

namespace {

constexpr qint64 kChunk = qint64(1) << 20;

struct Range {
    qint64 offset;
    qint64 size;
    QByteArray name;
    qint64 keptAt = -1;  // where no copy is whole: the copy whose items are listed instead
    int dropped = 0;
};

qint64 startOf(const Range &r)
{
    return r.offset;
}
qint64 sizeOf(const Range &r)
{
    return r.size;
}
qint64 startOf(const FileOffsetNode *node)
{
    return node->llDataOffset;
}
qint64 sizeOf(const FileOffsetNode *node)
{
    return node->llSize;
}

// The copy of copies (sorted by start) whose data holds the item at, or null: one binary search,
// so a store held many times costs no more per record than one held once.
template <typename Copy>
Copy *copyHolding(QVector<Copy> &copies, qint64 at)
{
    auto it = std::upper_bound(copies.begin(), copies.end(), at,
                               [](qint64 offset, const Copy &c) { return offset < startOf(c); });
    if (it == copies.begin())
        return nullptr;
    --it;
    return at < startOf(*it) + qMax<qint64>(sizeOf(*it), 1) ? &*it : nullptr;
}

template <typename Copy>
void sortByStart(QVector<Copy> &copies)
{
    std::stable_sort(copies.begin(), copies.end(),
                     [](const Copy &a, const Copy &b) { return startOf(a) < startOf(b); });
}

// A store's tail: its root's close tag and what may follow it (blanks, comments, instructions).
constexpr qint64 kRootTail = 4096;

bool endsWithRoot(const QByteArray &tail, const QByteArray &root)
{
    return EndsWithRootClose(std::string_view(tail.constData(), size_t(tail.size())),
                             std::string_view(root.constData(), size_t(root.size())));
}

// A store held once whose text stops before its root element closes: its items up to the cut
// are listed, and a line says the rest is lost. Only its tail is read: the scan read it all.
void noteIfCut(const FileOffsetNode &node, const QByteArray &root,
               const std::function<QByteArray(qint64, qint64)> &read)
{
    if (node.llSize <= 0 || node.llDataOffset < 0 || node.bCompressed)
        return;
    const qint64 tail = qMin<qint64>(node.llSize, kRootTail);
    if (endsWithRoot(read(node.llDataOffset + node.llSize - tail, tail), root))
        return;
    EntriesReadElsewhere << QStringLiteral("Store \"%1\" at archive offset %2 is cut, and the archive holds no whole "
                                           "copy of it: only the items before the cut were read")
                                .arg(QString::fromUtf8(node.pEntryName), QString::number(node.llDataOffset));
}

// Whether all length bytes at offset are there and none is NUL.
bool readsWhole(const std::function<QByteArray(qint64, qint64)> &read, qint64 offset, qint64 length)
{
    for (qint64 done = 0; done < length;) {
        const QByteArray bytes = read(offset + done, qMin(kChunk, length - done));
        if (bytes.isEmpty() || bytes.contains('\0'))
            return false;
        done += bytes.size();
    }
    return true;
}

// For each copy in the store list, how many of the records built from it read whole (no byte
// zeroed or missing).
template <typename Record>
QHash<const FileOffsetNode *, int> itemsReadingWhole(const FileOffsetNode *head, const Record *start, const Record *end,
                                                     const std::function<QByteArray(qint64, qint64)> &read)
{
    QVector<const FileOffsetNode *> copies;
    for (const FileOffsetNode *node = head; node; node = node->pNext)
        copies.append(node);
    sortByStart(copies);
    QHash<const FileOffsetNode *, int> counts;
    for (const Record *r = start; r; r = r == end ? nullptr : r->pNext) {
        const FileOffsetNode *const *copy = copyHolding(copies, r->llItemOffset);
        if (copy && readsWhole(read, r->llItemOffset, r->dwItemLength))
            ++counts[*copy];
    }
    return counts;
}

// No copy of a name held several times is whole: the copy with the most items that read whole
// (the first of equals) gives the store's items, so none is listed twice; the others are dropped.
QVector<Range> copiesBesideBest(const QVector<const FileOffsetNode *> &copies, const QByteArray &name,
                                const QHash<const FileOffsetNode *, int> &readWhole)
{
    const FileOffsetNode *best = nullptr;
    int most = -1;
    for (const FileOffsetNode *node : copies) {
        const int count = readWhole.value(node);
        if (count > most) {
            best = node;
            most = count;
        }
    }
    EntriesReadElsewhere << QStringLiteral("Store \"%1\" is held %2 times and no copy of it is whole: its items were "
                                           "read from the copy at archive offset %3, which holds the most items that "
                                           "read whole (%4); the items lost to that copy's damage are missing")
                                .arg(QString::fromUtf8(name), QString::number(copies.size()),
                                     QString::number(best->llDataOffset), QString::number(most));
    QVector<Range> others;
    for (const FileOffsetNode *node : copies) {
        if (node != best)
            others.append({node->llDataOffset, node->llSize, name, best->llDataOffset});
    }
    return others;
}

// The copies of the store list whose records are dropped: those that are not whole while
// another copy of their name is, and where no copy is whole, all but the best one.
template <typename Record>
QVector<Range> brokenCopies(const FileOffsetNode *head, const QByteArray &root, const Record *start, const Record *end,
                            const std::function<QByteArray(qint64, qint64)> &read)
{
    QMap<QByteArray, QVector<const FileOffsetNode *>> byName;  // sorted: the lines come in one order
    for (const FileOffsetNode *node = head; node; node = node->pNext) {
        if (node->pEntryName)
            byName[QByteArray(node->pEntryName)].append(node);
    }
    QVector<Range> broken;
    QHash<const FileOffsetNode *, int> readWhole;  // counted once, where a name has no whole copy
    bool counted = false;
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
        if (!whole && !counted) {
            readWhole = itemsReadingWhole(head, start, end, read);
            counted = true;
        }
        broken += whole ? others : copiesBesideBest(it.value(), it.key(), readWhole);
    }
    return broken;
}

template <typename Record, typename FreeStrings>
void dropRecords(Record *&start, Record *&end, qint64 &count, QVector<Range> &ranges, FreeStrings freeStrings)
{
    sortByStart(ranges);
    Record *previous = nullptr;
    for (Record *r = start; r;) {
        Record *next = r == end ? nullptr : r->pNext;
        Range *in = copyHolding(ranges, r->llItemOffset);
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
        // One arg() call each: a store name holding "%2" must stay as it is.
        const QString name = QString::fromUtf8(r.name);
        if (r.keptAt < 0)
            EntriesReadElsewhere << QStringLiteral("Store \"%1\" at archive offset %2 is not whole (cut, zeroed or "
                                                   "empty): %3 items read from it were left out, as its whole copy "
                                                   "gives the store's items")
                                        .arg(name, QString::number(r.offset), QString::number(r.dropped));
        else
            EntriesReadElsewhere << QStringLiteral("Store \"%1\" at archive offset %2 is not whole (cut, zeroed or "
                                                   "empty): %3 items read from it were left out, as the store's items "
                                                   "are read from its copy at archive offset %4")
                                        .arg(name, QString::number(r.offset), QString::number(r.dropped),
                                             QString::number(r.keptAt));
    }
}

}  // namespace

bool StoredTextWhole(const std::function<QByteArray(qint64, qint64)> &read, qint64 offset, qint64 size, quint32 crc32,
                     const QByteArray &root)
{
    if (size <= 0 || offset < 0)
        return false;
    const qint64 tail = qMin<qint64>(size, kRootTail);
    if (!endsWithRoot(read(offset + size - tail, tail), root))
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
    QVector<Range> contacts = brokenCopies(tmpCoFOStart, "contacts", TmpCTRCPtrStart, TmpCTRCPtrEnd, read);
    if (!contacts.isEmpty())
        dropRecords(TmpCTRCPtrStart, TmpCTRCPtrEnd, ContactItemCount, contacts, [](ContactInformation *r) {
            free(r->pFirstName);
            free(r->pLastName);
        });
    QVector<Range> calendar = brokenCopies(tmpCaFOStart, "appointments", TmpCLRCPtrStart, TmpCLRCPtrEnd, read);
    if (!calendar.isEmpty())
        dropRecords(TmpCLRCPtrStart, TmpCLRCPtrEnd, CalendarItemCount, calendar, [](CalenderInformation *r) {
            free(r->pSummary);
            free(r->pLocation);
        });
    QVector<Range> tasks = brokenCopies(tmpTaFOStart, "tasks", TmpTSRCPtrStart, TmpTSRCPtrEnd, read);
    if (!tasks.isEmpty())
        dropRecords(TmpTSRCPtrStart, TmpTSRCPtrEnd, TaskItemCount, tasks, [](TasksInformation *r) { free(r->pName); });
    QVector<Range> notes = brokenCopies(tmpNoFOStart, "notes", TmpNTRCPtrStart, TmpNTRCPtrEnd, read);
    if (!notes.isEmpty())
        dropRecords(TmpNTRCPtrStart, TmpNTRCPtrEnd, NotesItemCount, notes,
                    [](NotesInformation *r) { free(r->pTitle); });
    noteDropped(contacts + calendar + tasks + notes);
}

}  // namespace olm
