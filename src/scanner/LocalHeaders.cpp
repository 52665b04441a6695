// Local headers as the walk reads them: a stray or overlapping signature is no header.

#include "scanner/ArchiveWalk.h"

#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/CentralDirectory.h"
#include "scanner/ScanGlobals.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

namespace olm {

namespace {

bool extraHoldsSignature(std::string_view extra)
{
    return extra.find("PK\x03\x04") != std::string_view::npos || extra.find("PK\x01\x02") != std::string_view::npos;
}

// The start tag an XML entry's data begins with, by its role; null for attachments.
const char *rootStartTag(EntryRole role)
{
    switch (role) {
    case EntryRole::Message:
        return "<emails ";
    case EntryRole::Contacts:
        return "<contacts ";
    case EntryRole::Calendar:
        return "<appointments ";
    case EntryRole::Tasks:
        return "<tasks ";
    case EntryRole::Notes:
        return "<notes ";
    case EntryRole::Categories:
        return "<categories ";
    default:
        return nullptr;
    }
}

}  // namespace

bool ArchiveWalker::readLocalHeader(qint64 pos, LocalHeader *h, int nameLength)
{
    if (pos < 0 || pos > m_size - 30)
        return false;
    // The fixed fields in one read: the walk reads a header for every entry.
    uchar fixed[30];
    if (m_reader->read(pos, fixed, 30) != 30)
        return false;
    const auto u16 = [&](int at) { return qFromLittleEndian<quint16>(fixed + at); };
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(fixed + at); };
    // Headers never overlap: one whose fields hold another record's signature is a stray one in
    // a run of signatures, and its lengths would hide the real header behind it.
    for (int at = 1; at < 30; ++at) {
        if (fixed[at] != 'P')
            continue;
        const quint32 word = at <= 26 ? u32(at) : m_reader->u32At(pos + at);
        if (word == kLocalHeaderSig || word == kCentralHeaderSig)
            return false;
    }
    h->pos = pos;
    h->method = u16(8);
    h->crc = u32(14);
    h->nameLength = nameLength >= 0 ? quint16(nameLength) : u16(26);
    h->extraLength = u16(28);
    const qint64 extraAt = pos + 30 + h->nameLength;
    h->dataOffset = extraAt + h->extraLength;
    h->nameOffset = pos + 30;
    // A header whose name or extra reaches into a known record is not one.
    if (h->dataOffset > m_limit)
        return false;
    // Sizes from the ZIP64 record among the extra records, else the 32-bit fields.
    h->csize = u32(18);
    h->usize = u32(22);
    // The usual extra (the ZIP64 record alone) is read in one piece.
    uchar small[64];
    const bool inSmall =
        h->extraLength <= sizeof small && m_reader->read(extraAt, small, h->extraLength) == qint64(h->extraLength);
    const auto x16 = [&](qint64 at) {
        return inSmall ? qFromLittleEndian<quint16>(small + (at - extraAt)) : m_reader->u16At(at);
    };
    const auto x64 = [&](qint64 at) {
        if (!inSmall)
            return m_reader->i64At(at);
        return qFromLittleEndian<qint64>(small + (at - extraAt));
    };
    for (qint64 at = extraAt; at + 4 <= h->dataOffset;) {
        const quint16 id = x16(at);
        const quint16 len = x16(at + 2);
        if (at + 4 + len > h->dataOffset)
            break;
        if (id == 0x0001) {
            if (len >= 8)
                h->usize = x64(at + 4);
            h->csize = len >= 16 ? x64(at + 12) : h->usize;
            break;
        }
        at += 4 + len;
    }
    // A size past the largest number was read from bytes moved into the ZIP64 record: the other
    // may still stand, and this one is as good as none. Without either, nothing is described.
    if (h->usize < 0 && h->csize < 0)
        return false;
    if (h->usize < 0)
        h->usize = std::numeric_limits<qint64>::max();
    if (h->csize < 0)
        h->csize = std::numeric_limits<qint64>::max();
    h->statedSize = h->usize;
    h->name.resize(h->nameLength);
    if (m_reader->read(pos + 30, h->name.data(), h->nameLength) != h->nameLength)
        return false;
    // A name that runs over another record's signature is no name: a stray signature (in a
    // self-extractor's stub, say) whose name length would hide the entries behind it.
    const char *raw = h->name.constData();
    if ((memchr(raw, 3, h->nameLength) && h->name.contains(QByteArrayLiteral("PK\x03\x04")))
        || (memchr(raw, 1, h->nameLength) && h->name.contains(QByteArrayLiteral("PK\x01\x02"))))
        return false;
    // So is an extra that does: in a run of signatures, a stray one's extra length may reach
    // tens of kilobytes past the run, over real entries.
    if (inSmall ? extraHoldsSignature(std::string_view(reinterpret_cast<const char *>(small), h->extraLength))
                : (m_reader->find("PK\x03\x04", 4, extraAt, h->dataOffset) >= 0
                   || m_reader->find("PK\x01\x02", 4, extraAt, h->dataOffset) >= 0))
        return false;
    const int nul = h->name.indexOf('\0');
    // A name with invalid UTF-8 still names its message: decoded leniently, never dropped.
    h->messageName = (nul >= 0 || !validUtf8(h->name)) && NameHeldMessage(h->name);
    if (nul >= 0)
        h->name.truncate(nul);
    findXmlDataStart(h, extraAt);
    return true;
}

void ArchiveWalker::findXmlDataStart(LocalHeader *h, qint64 extraAt)
{
    // An XML entry's data starts with its root's start tag: where a damaged extra length puts
    // the start elsewhere, the tag near the header's end gives it (an extra is at most 64 KiB).
    const EntryRole role = h->messageName ? EntryRole::Message : classifyEntry(h->name);
    const char *root = h->method == 0 ? rootStartTag(role) : nullptr;
    // A byte-order mark or blanks may stand before the root too.
    char first = 0;
    if (!root || h->usize <= 0 || m_reader->read(h->dataOffset, &first, 1) != 1 || first == '<' || first == '\xEF'
        || strchr(" \t\r\n", first))
        return;
    // Never another entry's root: the search ends at the next header, so every header's search
    // covers only the bytes up to the next one.
    const int length = int(strlen(root));
    const qint64 reach = qMin(m_limit, extraAt + 0xFFFF + length);
    const qint64 next = m_reader->find("PK\x03\x04", 4, extraAt, reach);
    const qint64 at = m_reader->find(root, length, extraAt, next >= 0 ? next : reach);
    if (at < 0)
        return;
    h->extraLength = quint16(at - extraAt);
    h->dataOffset = at;
}

bool ArchiveWalker::describesNothing(const LocalHeader &h) const
{
    // Every entry has a name: none, or a NUL first, is fields read as the name's length. So are
    // markup, bytes of no text, or line ends, with a size past the file's end; and any name whose
    // size fields send it to a ZIP64 record its extra does not hold (text read as the extra).
    // No zip writer uses a method past these: one is a damaged field, and so are the others.
    const bool knownMethod = h.method <= 20 || (h.method >= 93 && h.method <= 99);
    return h.name.isEmpty() || !knownMethod
        || (h.csize > m_size - h.dataOffset
            && (h.name.contains('<') || !validUtf8(h.name) || hasControlByte(h.name) || h.csize == kAll32));
}

}  // namespace olm
