// Store files the archive being read holds more than once (a cut or repeated copy appended by a
// damaged export): the store's name in the new archive goes to a whole copy (where none is, to
// the one the scan read the store's items from), so readers that open the store by name find
// all of it. A copy with the bytes of another, or whole beside the one kept, is not written:
// the items only it holds go with the recovered items. A damaged copy keeps another name,
// with its lines.

#include "save/olm/OlmArchiveWriter.h"

#include "platform/ArchiveSource.h"
#include "platform/Crc32.h"
#include "scanner/ScanGlobals.h"
#include "scanner/StoreCopies.h"
#include "scanner/StoreCopyState.h"

#include <cstring>
#include <zlib.h>

namespace {

constexpr qint64 kChunk = qint64(1) << 20;

const FileOffsetNode *storeNodes(int index)
{
    const FileOffsetNode *lists[4] = {tmpCoFOStart, tmpCaFOStart, tmpTaFOStart, tmpNoFOStart};
    return lists[index];
}

}  // namespace

bool OlmArchiveWriter::storedCopyWhole(qint64 offset, qint64 size, quint32 crc32, const QByteArray &root) const
{
    if (size <= 0 || offset < 0 || offset >= m_sourceSize || size > m_sourceSize - offset)
        return false;
    return olm::StoredTextWhole([this](qint64 at, qint64 length) { return readSource(at, length); }, offset, size,
                                crc32, root);
}

bool OlmArchiveWriter::compressedCopyWhole(const FileOffsetNode *node, const QByteArray &root) const
{
    // Whole when its data inflates to the size and checksum its header gives, and to a text
    // without a NUL byte that ends with its root element's close tag.
    if (node->wMethod != 8 || node->bSizeCut || node->llDataOffset <= 0 || node->llStoredSize <= 0
        || node->llStoredSize > m_sourceSize - node->llDataOffset)
        return false;
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return false;
    QByteArray out(int(kChunk), Qt::Uninitialized);
    quint32 crc = 0;
    qint64 size = 0;
    QByteArray end;
    int status = Z_OK;
    for (qint64 done = 0; done < node->llStoredSize && status == Z_OK;) {
        QByteArray in = readSource(node->llDataOffset + done, qMin(kChunk, node->llStoredSize - done));
        if (in.isEmpty())
            break;
        done += in.size();
        z.next_in = reinterpret_cast<Bytef *>(in.data());
        z.avail_in = uInt(in.size());
        while (status == Z_OK && (z.avail_in > 0 || z.avail_out == 0)) {
            z.next_out = reinterpret_cast<Bytef *>(out.data());
            z.avail_out = uInt(out.size());
            status = inflate(&z, Z_NO_FLUSH);
            const qint64 made = out.size() - qint64(z.avail_out);
            if (memchr(out.constData(), 0, size_t(made)))
                status = Z_DATA_ERROR;
            crc = Crc32Update(crc, out.constData(), made);
            size += made;
            end = (end + QByteArray::fromRawData(out.constData(), int(made))).right(256);
            // More than the header promises is no whole copy of it.
            if (size > node->llSize)
                status = Z_DATA_ERROR;
        }
    }
    inflateEnd(&z);
    return status == Z_STREAM_END && size == node->llSize && crc == node->dwCrc32
        && end.trimmed().endsWith("</" + root + '>');
}

namespace {

// How many of the items the scan lists lie in the copy at offset: where no copy is whole, the
// one they were read from keeps the store's name.
template <typename Record>
int itemsIn(const Record *head, qint64 offset, qint64 size)
{
    int count = 0;
    for (const Record *r = head; r; r = r->pNext)
        count += r->llItemOffset >= offset && r->llItemOffset < offset + size ? 1 : 0;
    return count;
}

int listedIn(int index, qint64 offset, qint64 size)
{
    switch (index) {
    case 0:
        return itemsIn(TmpCTRCPtrStart, offset, size);
    case 1:
        return itemsIn(TmpCLRCPtrStart, offset, size);
    case 2:
        return itemsIn(TmpTSRCPtrStart, offset, size);
    default:
        return itemsIn(TmpNTRCPtrStart, offset, size);
    }
}

}  // namespace

void OlmArchiveWriter::chooseStoreOwners()
{
    struct Copy {
        QByteArray name;
        qint64 offset;
        qint64 size;
        quint32 crc32;
        QByteArray root;
        const FileOffsetNode *compressed;
        const FileOffsetNode *stored = nullptr;  // a copy of an item store the scan read
        int store = -1;
    };
    QVector<Copy> copies;
    // Empty copies count too: they are never whole, so they never take the name.
    for (const CategorieInfo &c : qAsConst(categorieCopies))
        copies.append({"Categories.xml", c.dataOffset, c.size, c.crc, "categories", nullptr});
    // Keyed on the names the archive holds: the calendar's store lies at "Local/Calendar/" in
    // real exports, not where the new archive's own layout puts it.
    QHash<QByteArray, QByteArray> roots{{"Categories.xml", "categories"}};
    for (const OlmStore &store : kOlmStores) {
        roots.insert(store.mainFile, store.root);
        roots.insert(QByteArray(store.localRoot) + store.fileWord, store.root);
        for (const FileOffsetNode *node = storeNodes(store.index); node; node = node->pNext) {
            if (!node->pEntryName)
                continue;
            roots.insert(node->pEntryName, store.root);
            copies.append({node->pEntryName, node->llDataOffset, node->llSize, node->dwCrc32, store.root, nullptr, node,
                           store.index});
        }
    }
    for (const FileOffsetNode *node = tmpAtFOStart; node; node = node->pNext) {
        const auto root = node->pEntryName ? roots.constFind(node->pEntryName) : roots.constEnd();
        if (node->bCompressed && root != roots.constEnd())
            copies.append({node->pEntryName, node->llDataOffset, node->llSize, node->dwCrc32, root.value(), node});
    }
    const auto read = [this](qint64 at, qint64 length) { return readSource(at, length); };
    // Every copy is read through, a store held once too: a cut one is named in a line.
    QHash<QByteArray, QVector<olm::StoreCopyState>> held;  // the item stores' copies the scan read, by name
    QHash<QByteArray, int> storeOf;
    for (const Copy &c : qAsConst(copies)) {
        bool whole = false;
        if (c.stored) {
            held[c.name].append(olm::JudgeStoreCopy(read, c.stored, c.root));
            storeOf.insert(c.name, c.store);
            whole = held[c.name].last().whole;
        } else {
            whole = c.compressed ? compressedCopyWhole(c.compressed, c.root)
                                 : storedCopyWhole(c.offset, c.size, c.crc32, c.root);
        }
        if (!whole)
            m_cutCopies.insert(c.offset);
        else if (!m_storeOwners.contains(c.name))
            m_storeOwners.insert(c.name, c.offset);
    }
    for (auto it = held.cbegin(); it != held.cend(); ++it)
        chooseAmongCopies(it.key(), storeOf.value(it.key()), it.value());
    for (auto it = m_storeOwners.cbegin(); it != m_storeOwners.cend(); ++it)
        m_names.hold(it.key());
}

void OlmArchiveWriter::chooseAmongCopies(const QByteArray &name, int store, const QVector<olm::StoreCopyState> &copies)
{
    if (copies.size() < 2)
        return;
    // Where no copy is whole, the one the scan lists the store's items from keeps the name.
    if (!m_storeOwners.contains(name)) {
        int most = -1;
        for (const olm::StoreCopyState &c : copies) {
            const int listed = listedIn(store, c.offset, c.size);
            if (listed > most) {
                most = listed;
                m_storeOwners.insert(name, c.offset);
            }
        }
    }
    // A copy with the bytes of an earlier one, or whole beside the one kept, is not written: a
    // reader reads one store file by name, and the items only that copy holds are listed by the
    // scan, so they go with the recovered items.
    const qint64 owner = m_storeOwners.value(name);
    for (int i = 0; i < copies.size(); ++i) {
        const olm::StoreCopyState &c = copies[i];
        if (c.offset == owner)
            continue;
        bool same = false;
        for (int j = 0; j < i && !same; ++j)
            same = copies[j].size == c.size && copies[j].crc == c.crc;
        if (same || c.whole)
            m_copiesNotWritten.insert(c.offset);
    }
}
void OlmArchiveWriter::claimStoreName(const QByteArray &name, qint64 dataOffset)
{
    const auto owner = m_storeOwners.constFind(name);
    m_keepsHeldName = owner != m_storeOwners.constEnd() && owner.value() == dataOffset;
    if (!m_cutCopies.contains(dataOffset))
        return;
    if (owner == m_storeOwners.constEnd() || m_keepsHeldName)
        m_book.lost(m_item,
                    QStringLiteral("a cut copy (its root element never closes, or its checksum "
                                   "fails), and no copy of it is whole"));
    else
        m_book.lost(m_item,
                    QStringLiteral("a cut copy (its root element never closes, or its checksum fails); "
                                   "the %1 keeps the name \"%2\"")
                        .arg(m_cutCopies.contains(owner.value())
                                 ? QStringLiteral("copy the store's items are read from")
                                 : QStringLiteral("whole copy"),
                             OlmNameForLine(name)));
}
