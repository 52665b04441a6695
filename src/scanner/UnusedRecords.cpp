// The report's lines about records the walk did not use as they describe their entries.

#include "scanner/ArchiveWalk.h"

#include <QSet>

#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/CentralDirectory.h"
#include "scanner/ScanGlobals.h"

#include <algorithm>
#include <functional>
#include <string_view>

namespace olm {

namespace {

quint64 nameKey(const QByteArray &name)
{
    const quint64 key = std::hash<std::string_view>()(std::string_view(name.constData(), size_t(name.size())));
    return key ? key : 1;  // 0 marks an empty slot
}

// Why a record was read elsewhere: where it points, and where its entry was read from.
QString MovedWhy(qint64 record, const QString &from, qint64 at)
{
    return QStringLiteral(": the central directory places its header at archive offset %1, where none of that name "
                          "stands; read from its %2 at %3")
        .arg(record)
        .arg(from)
        .arg(at);
}

quint64 contentKey(const LocalHeader &h)
{
    return quint64(h.usize) * 0x9E3779B97F4A7C15ull ^ h.crc;
}

// Records whose entries were read from local headers elsewhere. Bytes lost or added inside one
// entry move every header behind it by as much: all moved records are summed up in one line
// with the first of their entries below it, so a few real losses are not buried among thousands.
class MovedRecords {
public:
    // name empty: read from nameOffset when the line is written.
    void add(const QByteArray &name, qint64 record, qint64 header, qint64 nameOffset = -1, int nameLength = 0)
    {
        m_moved.push_back({name, record, header, nameOffset, nameLength});
    }
    template <typename NameAt>
    void report(NameAt nameAt) const
    {
        if (m_moved.empty())
            return;
        const auto name = [&](const Moved &m) {
            return m.nameOffset >= 0 ? nameAt(m.nameOffset, m.nameLength) : m.name;
        };
        if (m_moved.size() == 1) {
            const Moved &m = m_moved.front();
            EntriesReadElsewhere << EntryLine(name(m), 0, MovedWhy(m.record, QStringLiteral("local header"), m.header),
                                              EntryPlace::None);
            return;
        }
        QSet<qint64> shifts;
        qint64 least = 0, most = 0;
        QStringList names;
        for (const Moved &m : m_moved) {
            const qint64 shift = m.header - m.record;
            least = shifts.isEmpty() ? shift : qMin(least, shift);
            most = shifts.isEmpty() ? shift : qMax(most, shift);
            shifts.insert(shift);
            if (size_t(names.size()) < kListedEntries)
                names << QStringLiteral("\"%1\" at archive offset %2 (moved by %3)")
                             .arg(ReportName(name(m)))
                             .arg(m.header)
                             .arg(shift);
        }
        const QString moves = shifts.size() == 1
            ? QStringLiteral("each %1 bytes away").arg(least)
            : QStringLiteral("%1 different distances, from %2 to %3 bytes").arg(shifts.size()).arg(least).arg(most);
        AppendListed(EntriesReadElsewhere,
                     QStringLiteral("%1 entries do not stand where the central directory places their headers (%2); "
                                    "each was read from its own local header, found by its name:")
                         .arg(m_moved.size())
                         .arg(moves),
                     names, qint64(m_moved.size()));
    }

private:
    struct Moved {
        QByteArray name;
        qint64 record;
        qint64 header;
        qint64 nameOffset;
        int nameLength;
    };
    std::vector<Moved> m_moved;
};

}  // namespace

void ItemNameList::reserve(size_t count)
{
    // A damaged count must not reserve gigabytes.
    m_items.reserve(qMin<size_t>(count, size_t(1) << 22));
}

void ItemNameList::sort()
{
    std::sort(m_items.begin(), m_items.end(),
              [](const Item &a, const Item &b) { return a.key < b.key || (a.key == b.key && a.pos < b.pos); });
}

const ItemNameList::Item *ItemNameList::find(quint64 key) const
{
    const auto it =
        std::lower_bound(m_items.begin(), m_items.end(), key, [](const Item &a, quint64 k) { return a.key < k; });
    return it != m_items.end() && it->key == key ? &*it : nullptr;
}

void ArchiveWalker::noteUnusedRecords()
{
    if (!m_central->found())
        return;
    // Attachments read under the names of unused records, by name: gathered once, and only
    // when some record was not used.
    QHash<QByteArray, qint64> attachments;
    bool gathered = false;
    MovedRecords moved;
    QStringList damagedHeaders;
    qint64 damagedCount = 0;
    // Records whose headers were found elsewhere before the walk, and read there.
    for (const CentralEntry &e : m_central->entries()) {
        if (e.movedFrom < 0 || !e.used || e.renamed)
            continue;
        if (!e.placed) {
            moved.add(QByteArray(), e.movedFrom, e.headerOffset, e.headerOffset + 30, e.nameLength);
        } else if (++damagedCount <= qint64(kListedEntries)) {
            damagedHeaders << QStringLiteral("\"%1\" at archive offset %2")
                                  .arg(ReportName(entryNameAt(e.nameOffset, e.nameLength)))
                                  .arg(e.dataOffset);
        }
    }
    if (damagedCount > 0)
        AppendListed(EntriesReadElsewhere,
                     QStringLiteral("%1 entries whose local headers are damaged were read where the central "
                                    "directory's name, size and CRC-32 find their data:")
                         .arg(damagedCount),
                     damagedHeaders, damagedCount);
    // Records of names outside this archive's folders beside records inside them: a zip's own
    // directory copied among the records, whose entries are that zip's parts.
    QStringList foreign;
    qint64 foreignCount = 0;
    for (const CentralEntry &e : m_central->entries()) {
        if (e.used || e.name.isEmpty() || (e.name.endsWith('/') && e.csize == 0))
            continue;
        if (m_central->ownNames() && !archiveName(e.name) && classifyEntry(e.name) != EntryRole::Categories) {
            if (++foreignCount <= qint64(kListedEntries))
                foreign << QStringLiteral("\"%1\"").arg(ReportName(e.name));
            continue;
        }
        QByteArray name = e.name;
        const int nul = name.indexOf('\0');
        if (nul >= 0)
            name.truncate(nul);
        // An entry of that name read anywhere: from a header no record agreed with, or (a second
        // record of one name pointing at another entry's header) with its own record.
        qint64 at = m_localOnly.value(name, -1);
        if (at < 0) {
            if (const ItemNameList::Item *item = m_itemNames.find(nameKey(name)))
                at = item->pos;
        }
        if (at < 0) {
            if (!gathered) {
                gathered = true;
                for (const CentralEntry &u : m_central->entries()) {
                    if (!u.used && !u.name.isEmpty()) {
                        const int end = u.name.indexOf('\0');
                        attachments.insert(end < 0 ? u.name : u.name.left(end), -1);
                    }
                }
                for (FileOffsetNode *n = tmpAtFOStart; n; n = n->pNext) {
                    const auto it = attachments.find(QByteArray(n->pEntryName));
                    if (it != attachments.end() && it.value() < 0)
                        it.value() = n->llDataOffset;
                }
            }
            const qint64 data = attachments.value(name, -1);
            if (data >= 0) {
                EntriesReadElsewhere << EntryLine(name, 0, MovedWhy(e.headerOffset, QStringLiteral("data"), data),
                                                  EntryPlace::None);
                continue;
            }
        }
        if (at >= 0) {
            moved.add(name, e.headerOffset, at);
        } else {
            EntriesNotRead << EntryLine(name, e.headerOffset,
                                        QStringLiteral(": no local header of that name was found, and the bytes there "
                                                       "do not verify as its data"),
                                        EntryPlace::Record);
        }
    }
    moved.report([this](qint64 at, int length) { return entryNameAt(at, length); });
    if (foreignCount > 0)
        AppendListed(EntriesReadElsewhere,
                     QStringLiteral("%1 records of the central directory name no folder of this archive (a zip's "
                                    "own directory copied among its records?); no entry was read for them:")
                         .arg(foreignCount),
                     foreign, foreignCount);
}

void ArchiveWalker::notePlacelessMessage(const LocalHeader &h)
{
    EntriesReadElsewhere << EntryLine(h.name, h.pos,
                                      QStringLiteral(": its name lies in none of the archive's mail folders (a "
                                                     "foreign archive before or inside this one?); its mail is "
                                                     "listed in Folder1"));
}

void ArchiveWalker::noteRepeatedName(const LocalHeader &h)
{
    m_itemNames.add({nameKey(h.name), contentKey(h), h.pos, h.nameOffset, h.nameLength});
}

void ArchiveWalker::noteRepeatedNames()
{
    m_itemNames.sort();
    m_itemNames.repeats([this](const ItemNameList::Item &first, const ItemNameList::Item &again) {
        const QByteArray name = entryNameAt(again.nameOffset, again.nameLength);
        EntriesReadElsewhere << EntryLine(
            name, first.pos,
            QStringLiteral(" and again at %1: two entries of one name with different contents; both read")
                .arg(again.pos));
    });
}

bool ArchiveWalker::listCopy(const LocalHeader &h, EntryRole role)
{
    if (h.crc == 0)
        return false;
    const quint64 key = (quint64(h.crc) << 32) ^ quint64(h.usize) ^ (quint64(role) << 60);
    const auto it = m_lists.constFind(key);
    if (it == m_lists.constEnd()) {
        m_lists.insert(key, h.pos);
        return false;
    }
    // The exporter keeps lists in their own folders: one inside the mail folders is a copy.
    if (it.value() == h.pos || !h.name.contains("com.microsoft.__Messages/"))
        return false;
    EntriesReadElsewhere << EntryLine(
        h.name, h.pos,
        QStringLiteral(": a copy inside a mail folder of the list at %1; its items were read once").arg(it.value()));
    return true;
}

void ArchiveWalker::noteRecordsLeft(qint64 from)
{
    // The records run one after the other. Bytes lost from or put into one of them break the
    // run there, not the directory: the next record signature behind the damage starts it again,
    // so every record left still names its entry.
    const char sig[4] = {'P', 'K', 1, 2};
    for (qint64 p = from; p >= 0 && p <= m_size - 46 && !bStopFlag;) {
        if (m_reader->u32At(p) != kCentralHeaderSig) {
            p = m_reader->find(sig, 4, p + 1, m_size);
            continue;
        }
        // Bytes put into the fixed fields (a CR before each LF among them) move the lengths and
        // the name by as many: the name starts with one of the archive's folders.
        int moved = 0;
        char head[9 + 4];
        if (m_reader->read(p + 46, head, sizeof head) == qint64(sizeof head)) {
            while (moved < 4 && !archiveName(QByteArray::fromRawData(head + moved, 9)))
                ++moved;
            if (moved == 4)
                moved = 0;
        }
        const int nameLength = m_reader->u16At(p + 28 + moved);
        const qint64 next =
            p + 46 + moved + nameLength + m_reader->u16At(p + 30 + moved) + m_reader->u16At(p + 32 + moved);
        const QByteArray name = entryNameAt(p + 46 + moved, int(qMin<qint64>(nameLength, m_size - p - 46 - moved)));
        const EntryRole role = classifyEntry(name);
        if (next <= m_size && role != EntryRole::Attachment && role != EntryRole::Categories && !name.endsWith('/')
            && !m_itemNames.find(nameKey(name)))
            EntriesNotRead << EntryLine(name, p,
                                        QStringLiteral(": its record stands in what is left of the central "
                                                       "directory, but no local header or text of it was found"),
                                        EntryPlace::Record);
        // A damaged length may point anywhere: past the file or into this record, the next
        // signature is looked for instead.
        p = next <= m_size && m_reader->u32At(next) == kCentralHeaderSig ? next : m_reader->find(sig, 4, p + 4, m_size);
    }
}

}  // namespace olm
