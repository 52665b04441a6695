#include "scanner/StoreCopies.h"

#include "platform/ArchiveSource.h"
#include "platform/Crc32.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"
#include "scanner/StoreCopyState.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QVector>

#include <algorithm>
#include <cstdlib>
#include <deque>

namespace olm {

namespace {

constexpr qint64 kChunk = qint64(1) << 20;

QByteArray titleOf(const ContactInformation *r)
{
    return (QByteArray(r->pFirstName) + ' ' + QByteArray(r->pLastName)).trimmed();
}
QByteArray titleOf(const CalenderInformation *r)
{
    return QByteArray(r->pSummary);
}
QByteArray titleOf(const TasksInformation *r)
{
    return QByteArray(r->pName);
}
QByteArray titleOf(const NotesInformation *r)
{
    return QByteArray(r->pTitle);
}

// An item's bytes as a key: two items with one key are the same item, listed once. The first
// item of a copy starts with the root's start tag, whose stated count two copies may differ in:
// the key starts at the item's own start tag (itemTag, "<contact").
quint64 itemKey(const ReadFn &read, qint64 offset, qint64 length, const QByteArray &itemTag)
{
    const QByteArray head = read(offset, qMin<qint64>(length, 4096));
    const size_t tag = FindStartTag(std::string_view(head.constData(), size_t(head.size())),
                                    std::string_view(itemTag.constData(), size_t(itemTag.size())), 0);
    const qint64 skip = tag == std::string_view::npos ? 0 : qint64(tag);
    quint32 crc = 0;
    for (qint64 done = skip; done < length;) {
        const QByteArray bytes = read(offset + done, qMin(kChunk, length - done));
        if (bytes.isEmpty())
            break;
        crc = Crc32Update(crc, bytes.constData(), bytes.size());
        done += bytes.size();
    }
    return quint64(length - skip) << 32 | crc;
}

// The copy (sorted by start) whose bytes hold the item at, or null: one binary search, so a
// store held many times costs no more per record than one held once.
StoreCopyState *copyHolding(const QVector<StoreCopyState *> &sorted, qint64 at)
{
    auto it = std::upper_bound(sorted.begin(), sorted.end(), at,
                               [](qint64 offset, const StoreCopyState *c) { return offset < c->offset; });
    if (it == sorted.begin())
        return nullptr;
    --it;
    return at < (*it)->offset + qMax<qint64>((*it)->size, 1) ? *it : nullptr;
}

// The copies of one store kind, each judged once, grouped by name in a fixed order.
struct StoreKind {
    std::deque<StoreCopyState> copies;  // stable addresses
    QMap<QByteArray, QVector<StoreCopyState *>> byName;
    QVector<StoreCopyState *> sorted;
};

StoreKind judgeCopies(const FileOffsetNode *head, const QByteArray &root, const ReadFn &read)
{
    StoreKind kind;
    for (const FileOffsetNode *node = head; node; node = node->pNext) {
        if (!node->pEntryName)
            continue;
        kind.copies.push_back(JudgeStoreCopy(read, node, root));
        StoreCopyState *c = &kind.copies.back();
        QVector<StoreCopyState *> &same = kind.byName[QByteArray(node->pEntryName)];
        // Copies with the same bytes are one copy.
        for (const StoreCopyState *earlier : same) {
            if (!earlier->sameAs && earlier->size == c->size && earlier->crc == c->crc) {
                c->sameAs = earlier;
                break;
            }
        }
        same.append(c);
        kind.sorted.append(c);
    }
    std::stable_sort(kind.sorted.begin(), kind.sorted.end(),
                     [](const StoreCopyState *a, const StoreCopyState *b) { return a->offset < b->offset; });
    return kind;
}

// What the pass over every store kind shares: how it reads, the lines it gives, and the names
// of compressed entries (copies the scan does not read).
struct Pass {
    ReadFn read;
    QStringList lines;
    QSet<QByteArray> compressed;
    QByteArray itemTag;  // of the kind being settled: "<contact"
};

template <typename Record>
struct Held {
    Record *record;
    bool whole;
};

// The line for a copy left out beside the kept one, and the items it lost.
QString leftOutLine(const QByteArray &name, const StoreCopyState &c, const StoreCopyState &kept, int keptHere)
{
    QString line =
        QStringLiteral("Store \"%1\" at archive offset %2 is not whole (%3): %4 items read from it were left "
                       "out, as ")
            .arg(ReportName(name), QString::number(c.offset), StoreCopyDamage(c), QString::number(c.dropped));
    line += kept.whole
        ? QStringLiteral("its whole copy gives the store's items")
        : QStringLiteral("the store's items are read from its copy at archive offset %1").arg(kept.offset);
    if (keptHere > 0)
        line += QStringLiteral("; %1 items only it holds whole are listed").arg(keptHere);
    if (!c.lost.isEmpty())
        line += QStringLiteral("; damaged, and no copy holds them whole: %1").arg(BoundedList(c.lost));
    return line;
}

// The line for the copy the store's items come from when it is not whole itself. compressed: the
// archive holds a compressed copy of it too, which the scan does not read. missing: the items the
// copies' roots count that nothing could be read of.
QString keptLine(const QByteArray &name, const StoreCopyState &kept, int distinct, bool compressed, int missing)
{
    const QString read = kept.records == 0
        ? QStringLiteral("no item could be read from it")
        : QStringLiteral("%1 of the %2 items read from it read whole").arg(kept.readWhole).arg(kept.records);
    const QString noWhole = compressed ? QStringLiteral("no copy of it the scan could read is whole (a compressed copy "
                                                        "of it is not read)")
                                       : QStringLiteral("the archive holds no whole copy of it");
    QString line;
    if (distinct > 1)
        line = QStringLiteral("Store \"%1\" is held %2 times and no copy of it is whole: its items were read from the "
                              "copy at archive offset %3 (%4), which holds the most items that read whole (%5)")
                   .arg(ReportName(name), QString::number(distinct), QString::number(kept.offset),
                        StoreCopyDamage(kept), QString::number(kept.readWhole));
    else
        line = QStringLiteral("Store \"%1\" at archive offset %2 is damaged (%3), and %4: %5")
                   .arg(ReportName(name), QString::number(kept.offset), StoreCopyDamage(kept), noWhole, read);
    if (kept.stated >= 0)
        line += QStringLiteral(", of the %1 its root element states").arg(kept.stated);
    // Bytes added inside leave the root's close tag past the stated size, yet every item read.
    if (!kept.closed && kept.size > 0 && (kept.stated < 0 || kept.readWhole < kept.stated))
        line += QStringLiteral("; only the items before the cut were read");
    QStringList lost = kept.lost;
    if (missing > 0)
        lost << QStringLiteral("%1 item%2 of which nothing could be read").arg(missing).arg(missing > 1 ? "s" : "");
    if (!lost.isEmpty())
        line += QStringLiteral("; lost or damaged: %1").arg(BoundedList(lost));
    return line;
}

// The distinct copies of one name; the records of copies with the same bytes as an earlier one
// are dropped.
template <typename Record>
QVector<StoreCopyState *> distinctCopies(const QVector<StoreCopyState *> &copies,
                                         const QHash<StoreCopyState *, QVector<Held<Record>>> &held,
                                         QSet<Record *> *drop)
{
    QVector<StoreCopyState *> distinct;
    for (StoreCopyState *c : copies) {
        if (!c->sameAs) {
            distinct.append(c);
            continue;
        }
        for (const Held<Record> &h : held.value(c))
            drop->insert(h.record);
    }
    return distinct;
}

// The order items are taken in: a whole copy first, then the copies with the most items that
// read whole; archive order among equals.
QVector<StoreCopyState *> byPreference(QVector<StoreCopyState *> copies)
{
    std::stable_sort(copies.begin(), copies.end(), [](const StoreCopyState *a, const StoreCopyState *b) {
        if (a->whole != b->whole)
            return a->whole;
        return !a->whole && a->readWhole > b->readWhole;
    });
    return copies;
}

// Whether a copy other than c holds c's damaged item at offset whole, at its place there.
bool wholeElsewhere(const ReadFn &read, const QVector<StoreCopyState *> &copies, const StoreCopyState *c, qint64 offset,
                    qint64 length)
{
    for (const StoreCopyState *other : copies) {
        if (other != c && KeptCopyHolds(read, *other, *c, offset, length))
            return true;
    }
    return false;
}

// One store name: each item is listed once, from a copy that holds it whole, whichever copy that
// is; an item whole in no copy is listed from the first copy (as it reads) and named. Lines name
// the copies left out and the store when no copy is whole.
template <typename Record>
void settleName(const QByteArray &name, const QVector<StoreCopyState *> &copies,
                QHash<StoreCopyState *, QVector<Held<Record>>> &held, const char *word, Pass &pass,
                QSet<Record *> *drop)
{
    const ReadFn &read = pass.read;
    const int first = pass.lines.size();
    const QVector<StoreCopyState *> distinct = distinctCopies(copies, held, drop);
    for (StoreCopyState *c : distinct) {
        QVector<Held<Record>> &items = held[c];
        for (Held<Record> &h : items)
            h.whole = c->whole || BytesReadWhole(read, h.record->llItemOffset, h.record->dwItemLength);
        c->readWhole = int(std::count_if(items.begin(), items.end(), [](const Held<Record> &h) { return h.whole; }));
    }
    const QVector<StoreCopyState *> order = byPreference(distinct);
    StoreCopyState *kept = order.value(0);
    // An empty store file held once holds nothing to lose.
    if (!kept || (distinct.size() == 1 && (kept->whole || kept->size == 0)))
        return;
    QSet<quint64> keys;
    int listed = 0;
    QHash<const StoreCopyState *, QString> leftOut;
    for (StoreCopyState *c : order) {
        int keptHere = 0;
        for (const Held<Record> &h : held.value(c)) {
            const Record *r = h.record;
            if (h.whole) {
                // Copies hold the same item at one key: the first copy to hold it gives it.
                const quint64 key =
                    distinct.size() > 1 ? itemKey(read, r->llItemOffset, r->dwItemLength, pass.itemTag) : 0;
                if (distinct.size() == 1 || !keys.contains(key)) {
                    keys.insert(key);
                    ++listed;
                    keptHere += c == kept || c->whole ? 0 : 1;
                    continue;
                }
            } else if (!wholeElsewhere(read, distinct, c, r->llItemOffset, r->dwItemLength)) {
                c->lost << StoreItemName(word, r->llItemOffset, titleOf(r));
                // What the first copy reads of it is kept, named: nothing holds more of it.
                if (c == kept) {
                    ++listed;
                    continue;
                }
            }
            drop->insert(h.record);
            ++c->dropped;
        }
        if (c != kept && !c->whole && c->dropped > 0)
            leftOut.insert(c, leftOutLine(name, *c, *kept, keptHere));
    }
    // The copies left out are named in archive order.
    for (const StoreCopyState *c : distinct) {
        if (leftOut.contains(c))
            pass.lines << leftOut.value(c);
    }
    if (!kept->whole) {
        // A copy whose root is lost (all NUL) states no count: another copy's root still does.
        StoreCopyState counted = *kept;
        for (const StoreCopyState *c : distinct)
            counted.stated = qMax(counted.stated, c->stated);
        const int missing = ItemsLostWhole(counted, listed);
        pass.lines.insert(first, keptLine(name, *kept, distinct.size(), pass.compressed.contains(name), missing));
        StoreItemsLost += missing;
        // Held once, the copy's failing checksum may lie in any item's text; among several copies
        // every item read whole in one of them, unless one is named or no copy reaches its root's
        // close (the items behind every cut are lost, and a root that does not count them hides it).
        const bool named =
            std::any_of(distinct.begin(), distinct.end(), [](const StoreCopyState *c) { return !c->lost.isEmpty(); });
        const bool tailLost =
            std::none_of(distinct.begin(), distinct.end(), [](const StoreCopyState *c) { return c->closed; });
        if (missing == 0 && (distinct.size() == 1 || named || tailLost))
            StoresNotWhole << ReportName(name);
    }
}

template <typename Record, typename FreeStrings>
void settleKind(const FileOffsetNode *head, const QByteArray &root, const char *word, Record *&start, Record *&end,
                qint64 &count, FreeStrings freeStrings, Pass &pass)
{
    // An item read twice from the same bytes is one item: a store the directory places may also
    // lie inside the extent of a damaged store before it, whose foreign items are read too.
    QSet<Record *> drop;
    QSet<qint64> itemAt;
    for (Record *r = start; r; r = r == end ? nullptr : r->pNext) {
        if (itemAt.contains(r->llItemOffset))
            drop.insert(r);
        itemAt.insert(r->llItemOffset);
    }
    StoreKind kind = judgeCopies(head, root, pass.read);
    if (!kind.copies.empty()) {
        QHash<StoreCopyState *, QVector<Held<Record>>> held;
        for (Record *r = start; r; r = r == end ? nullptr : r->pNext) {
            if (StoreCopyState *c = copyHolding(kind.sorted, r->llItemOffset); c && !drop.contains(r)) {
                ++c->records;
                held[c].append({r, true});
            }
        }
        pass.itemTag = "<" + root.left(root.size() - 1);
        for (auto it = kind.byName.cbegin(); it != kind.byName.cend(); ++it)
            settleName(it.key(), it.value(), held, word, pass, &drop);
    }
    if (drop.isEmpty())
        return;
    Record *previous = nullptr;
    for (Record *r = start; r;) {
        Record *next = r == end ? nullptr : r->pNext;
        if (!drop.contains(r)) {
            previous = r;
        } else {
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

}  // namespace

bool StoredTextWhole(const std::function<QByteArray(qint64, qint64)> &read, qint64 offset, qint64 size, quint32 crc32,
                     const QByteArray &root)
{
    if (size <= 0 || offset < 0)
        return false;
    if (!EndsWithRootTail(read, offset, size, root))
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
    const ReadFn read = [&source](qint64 offset, qint64 length) {
        QByteArray bytes(int(qBound<qint64>(0, length, kChunk)), Qt::Uninitialized);
        const qint64 got = offset < 0 ? 0 : readFully(source, offset, bytes.data(), bytes.size());
        bytes.resize(int(qMax<qint64>(0, got)));
        return bytes;
    };
    Pass pass{read, {}, {}, {}};
    for (const FileOffsetNode *node = tmpAtFOStart; node; node = node->pNext) {
        if (node->bCompressed && node->pEntryName)
            pass.compressed.insert(QByteArray(node->pEntryName));
    }
    settleKind(
        tmpCoFOStart, "contacts", "contact", TmpCTRCPtrStart, TmpCTRCPtrEnd, ContactItemCount,
        [](ContactInformation *r) {
            free(r->pFirstName);
            free(r->pLastName);
        },
        pass);
    settleKind(
        tmpCaFOStart, "appointments", "calendar item", TmpCLRCPtrStart, TmpCLRCPtrEnd, CalendarItemCount,
        [](CalenderInformation *r) {
            free(r->pSummary);
            free(r->pLocation);
        },
        pass);
    settleKind(
        tmpTaFOStart, "tasks", "task", TmpTSRCPtrStart, TmpTSRCPtrEnd, TaskItemCount,
        [](TasksInformation *r) { free(r->pName); }, pass);
    settleKind(
        tmpNoFOStart, "notes", "note", TmpNTRCPtrStart, TmpNTRCPtrEnd, NotesItemCount,
        [](NotesInformation *r) { free(r->pTitle); }, pass);
    EntriesReadElsewhere << pass.lines;
}

}  // namespace olm
