// Attachments listed twice under one name: bytes copied from elsewhere in the archive into an
// entry's data may hold a copy of another attachment's header and part of its data. The walk
// reads it as an entry; a save would take that copy, the first of its name, for the attachment.

#include "scanner/ArchiveWalk.h"

#include "scanner/BufferedArchiveReader.h"
#include "scanner/ScanGlobals.h"

#include <cstdlib>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace olm {

namespace {

// Whether the stored bytes a node names have its CRC-32; asked once per node.
class Verified {
public:
    Verified(BufferedArchiveReader &reader, qint64 size) : m_reader(reader), m_size(size) {}
    bool operator()(const FileOffsetNode *n)
    {
        const auto it = m_known.find(n);
        if (it != m_known.end())
            return it->second;
        const bool ok = !n->bCompressed && n->dwCrc32 != 0 && n->llDataOffset >= 0 && n->llSize >= 0
            && n->llSize <= m_size - n->llDataOffset && m_reader.crcMatches(n->llDataOffset, n->llSize, n->dwCrc32);
        m_known.emplace(n, ok);
        return ok;
    }

private:
    BufferedArchiveReader &m_reader;
    qint64 m_size;
    std::unordered_map<const FileOffsetNode *, bool> m_known;
};

}  // namespace

void ArchiveWalker::dropDamagedAttachmentCopies()
{
    // Names point into the nodes' own strings, which live as long as the list.
    std::unordered_map<std::string_view, FileOffsetNode *> first;
    std::unordered_set<const FileOffsetNode *> dropped;
    Verified verified(*m_reader, m_size);
    for (FileOffsetNode *n = tmpAtFOStart; n; n = n->pNext) {
        if (!n->pEntryName || !*n->pEntryName)
            continue;
        auto [it, fresh] = first.emplace(std::string_view(n->pEntryName), n);
        FileOffsetNode *kept = it->second;
        // Only a copy with the same stated CRC-32 whose bytes fail it, beside one whose hold.
        if (fresh || kept->dwCrc32 != n->dwCrc32 || kept->bCompressed || n->bCompressed)
            continue;
        const bool keptWhole = verified(kept), newWhole = verified(n);
        if (keptWhole == newWhole)
            continue;
        FileOffsetNode *copy = keptWhole ? n : kept;
        FileOffsetNode *whole = keptWhole ? kept : n;
        dropped.insert(copy);
        EntriesReadElsewhere << EntryLine(QByteArray(copy->pEntryName), copy->llDataOffset,
                                          QStringLiteral(": a damaged copy of the entry read whole at %1 (bytes "
                                                         "copied into another entry); not kept")
                                              .arg(whole->llDataOffset),
                                          EntryPlace::Data);
        it->second = whole;
    }
    if (dropped.empty())
        return;
    first.clear();
    FileOffsetNode *prev = nullptr;
    for (FileOffsetNode *n = tmpAtFOStart; n;) {
        FileOffsetNode *next = n->pNext;
        if (dropped.count(n)) {
            (prev ? prev->pNext : tmpAtFOStart) = next;
            if (tmpAtFOEnd == n)
                tmpAtFOEnd = prev;
            // The walk's own pointer into the list goes with the node.
            if (m_openNode == n)
                m_openNode = nullptr;
            free(n->pEntryName);
            free(n);
            --AttachmentNodeCount;
        } else {
            prev = n;
        }
        n = next;
    }
}

}  // namespace olm
