// Store files the archive being read holds more than once (a cut or repeated copy appended by a
// damaged export): the store's name in the new archive goes to a whole copy, so readers that
// open the store by name find all of it; every other copy keeps another name, with its lines.

#include "save/olm/OlmArchiveWriter.h"

#include "platform/ArchiveSource.h"
#include "platform/Crc32.h"
#include "scanner/ScanGlobals.h"
#include "scanner/StoreCopies.h"

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

void OlmArchiveWriter::chooseStoreOwners()
{
    struct Copy {
        QByteArray name;
        qint64 offset;
        qint64 size;
        quint32 crc32;
        QByteArray root;
        const FileOffsetNode *compressed;
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
            copies.append({node->pEntryName, node->llDataOffset, node->llSize, node->dwCrc32, store.root, nullptr});
        }
    }
    for (const FileOffsetNode *node = tmpAtFOStart; node; node = node->pNext) {
        const auto root = node->pEntryName ? roots.constFind(node->pEntryName) : roots.constEnd();
        if (node->bCompressed && root != roots.constEnd())
            copies.append({node->pEntryName, node->llDataOffset, node->llSize, node->dwCrc32, root.value(), node});
    }
    // Every copy is read through, a store held once too: a cut one is named in a line.
    for (const Copy &c : qAsConst(copies)) {
        const bool whole = c.compressed ? compressedCopyWhole(c.compressed, c.root)
                                        : storedCopyWhole(c.offset, c.size, c.crc32, c.root);
        if (!whole)
            m_cutCopies.insert(c.offset);
        else if (!m_storeOwners.contains(c.name))
            m_storeOwners.insert(c.name, c.offset);
    }
    for (auto it = m_storeOwners.cbegin(); it != m_storeOwners.cend(); ++it)
        m_names.hold(it.key());
}

void OlmArchiveWriter::claimStoreName(const QByteArray &name, qint64 dataOffset)
{
    const auto owner = m_storeOwners.constFind(name);
    m_keepsHeldName = owner != m_storeOwners.constEnd() && owner.value() == dataOffset;
    if (m_cutCopies.contains(dataOffset))
        m_book.lost(m_item,
                    owner != m_storeOwners.constEnd()
                        ? QStringLiteral("a cut copy (its root element never closes, or its checksum fails); "
                                         "the whole copy keeps the name \"%1\"")
                              .arg(QString::fromUtf8(name))
                        : QStringLiteral("a cut copy (its root element never closes, or its checksum "
                                         "fails), and no copy of it is whole"));
}
