#include "scanner/ArchiveWalk.h"

#include "scanner/BufferedArchiveReader.h"
#include "scanner/ElementValue.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"
#include "shell/ShellGlobals.h"

#include <cstdlib>
#include <cstring>

namespace olm {

EntryRole classifyEntry(const QStringList &parts)
{
    static const struct {
        const char *name;
        EntryRole role;
    } lists[] = {{"Categories.xml", EntryRole::Categories}, {"Contacts.xml", EntryRole::Contacts},
                 {"Calendar.xml", EntryRole::Calendar},     {"Tasks.xml", EntryRole::Tasks},
                 {"Notes.xml", EntryRole::Notes}};
    for (const auto &l : lists) {
        if (parts.contains(QLatin1String(l.name)))
            return l.role;
    }
    const QString last = parts.isEmpty() ? QString() : parts.last();
    // Attached files keep their own name inside "__message_attachment__"; an attached XML file
    // must not be taken for a message, or its bytes could never be found again.
    if (last.contains(QLatin1String("__message_attachment__")))
        return EntryRole::Attachment;
    if (last.contains(QLatin1String("message_")) && last.contains(QLatin1String(".xml")))
        return EntryRole::Message;
    return EntryRole::Attachment;
}

QString folderPathFor(const QStringList &parts, EntryRole role)
{
    if (parts.isEmpty())
        return QString();
    int k = 0;
    if (parts.first() == QLatin1String("Accounts"))
        k = 2;
    else if (parts.first() == QLatin1String("Local"))
        k = 1;
    else
        return QString();
    if (role == EntryRole::Message)
        ++k;
    const int n = parts.size();
    if (n >= k + 2)
        return parts.mid(k, n - 1 - k).join(QLatin1Char('/'));
    if (n == k + 1)
        return parts.last();
    return QString();
}

ArchiveWalker::ArchiveWalker(QFolderInformationThread &thread, ArchiveSource &source)
    : m_thread(thread), m_source(source), m_reader(new BufferedArchiveReader(source)),
      m_size(source.size())
{
}

ArchiveWalker::~ArchiveWalker()
{
    freeText();
    delete m_reader;
}

void ArchiveWalker::walk()
{
    qint64 pos = 0;
    int centralCount = 0;
    while (pos < m_size && !bStopFlag) {
        m_thread.progressAt(pos);
        const quint32 word = m_reader->u32At(pos);
        if (word == kCentralHeaderSig) {
            // The third central-directory record in a row ends the walk.
            if (++centralCount == 3)
                break;
            ++pos;
            continue;
        }
        LocalHeader h;
        if (word == kLocalHeaderSig && readLocalHeader(pos, &h)) {
            centralCount = 0;
            if (h.crc != 0) {
                pos = handleEntry(h);
                continue;
            }
            // CRC 0: a folder entry, or data the header does not describe; look behind it.
            const qint64 p = h.dataOffset;
            if (m_reader->u32At(p) != kLocalHeaderSig) {
                const qint64 end = recoverBlock(p);
                pos = end > p ? end : p;
                continue;
            }
            pos = p;
            continue;
        }
        const qint64 end = recoverBlock(pos);
        if (end > pos) {
            pos = end;
            centralCount = 0;
            continue;
        }
        // Only a 'P' (a signature) or a '<' (a root tag) can change what happens next.
        pos = m_reader->findEitherByte(pos + 1, m_size, 'P', '<');
    }
    freeText();
}

bool ArchiveWalker::readLocalHeader(qint64 pos, LocalHeader *h)
{
    if (pos < 0 || pos > m_size - 30)
        return false;
    h->pos = pos;
    h->method = m_reader->u16At(pos + 8);
    h->crc = m_reader->u32At(pos + 14);
    h->nameLength = m_reader->u16At(pos + 26);
    h->extraLength = m_reader->u16At(pos + 28);
    const qint64 extraAt = pos + 30 + h->nameLength;
    h->dataOffset = extraAt + h->extraLength;
    if (h->dataOffset > m_size)
        return false;
    // Sizes from the ZIP64 record among the extra records, else the 32-bit fields.
    h->csize = m_reader->u32At(pos + 18);
    h->usize = m_reader->u32At(pos + 22);
    for (qint64 at = extraAt; at + 4 <= h->dataOffset;) {
        const quint16 id = m_reader->u16At(at);
        const quint16 len = m_reader->u16At(at + 2);
        if (at + 4 + len > h->dataOffset)
            break;
        if (id == 0x0001) {
            if (len >= 8)
                h->usize = m_reader->i64At(at + 4);
            h->csize = len >= 16 ? m_reader->i64At(at + 12) : h->usize;
            break;
        }
        at += 4 + len;
    }
    if (h->usize < 0 || h->csize < 0)
        return false;
    h->name.resize(h->nameLength);
    if (m_reader->read(pos + 30, h->name.data(), h->nameLength) != h->nameLength)
        return false;
    const int nul = h->name.indexOf('\0');
    if (nul >= 0)
        h->name.truncate(nul);
    return true;
}

namespace {

FileOffsetNode *appendNode(FileOffsetNode *&head, FileOffsetNode *&tail, const LocalHeader &h)
{
    qint64 count = 0;
    FileOffsetNode *node = appendRecord(head, tail, count);
    if (!node)
        return nullptr;
    node->llSize = h.usize;
    node->dwCrc32 = h.crc;
    node->llDataOffset = h.dataOffset;
    node->pEntryName = MakeCString(h.name);
    node->bCompressed = h.method != 0;
    return node;
}

void appendAttachmentNode(const LocalHeader &h)
{
    if (appendNode(tmpAtFOStart, tmpAtFOEnd, h))
        ++AttachmentNodeCount;
}

} // namespace

qint64 ArchiveWalker::handleEntry(const LocalHeader &h)
{
    const qint64 room = m_size - h.dataOffset;
    const bool fits = h.csize <= room;
    const qint64 end = h.dataOffset + (fits ? h.csize : room);
    // A size past the end of the archive: step through the data so nothing after it is lost.
    const qint64 next = fits ? end : h.dataOffset;
    const QStringList parts = QString::fromUtf8(h.name).split(QLatin1Char('/'));
    const EntryRole role = classifyEntry(parts);
    if (h.method != 0) {
        // Compressed data is never handed to a builder; writers must not copy it as plain bytes.
        appendAttachmentNode(h);
        return qMax(next, h.pos + 1);
    }
    switch (role) {
    case EntryRole::Categories:
        categorie = {h.usize, h.crc, h.dataOffset};
        return qMax(next, h.pos + 1);
    case EntryRole::Attachment:
        appendAttachmentNode(h);
        return qMax(next, h.pos + 1);
    default:
        return handleXmlEntry(h, role, parts, fits ? end : m_size);
    }
}

qint64 ArchiveWalker::handleXmlEntry(const LocalHeader &h, EntryRole role, const QStringList &parts,
                                     qint64 end)
{
    switch (role) {
    case EntryRole::Contacts: appendNode(tmpCoFOStart, tmpCoFOEnd, h); break;
    case EntryRole::Calendar: appendNode(tmpCaFOStart, tmpCaFOEnd, h); break;
    case EntryRole::Tasks: appendNode(tmpTaFOStart, tmpTaFOEnd, h); break;
    case EntryRole::Notes: appendNode(tmpNoFOStart, tmpNoFOEnd, h); break;
    default: break;
    }
    const qint64 want = qMin(h.usize, m_size - h.dataOffset);
    if (want > kMaxEntryText)
        return qMax(end, h.pos + 1);
    bool cut = false;
    const qint64 len = readEntryText(h.dataOffset, want, &cut);
    const QString path = folderPathFor(parts, role);
    const qint64 textEnd = h.dataOffset + len;
    switch (role) {
    case EntryRole::Contacts: m_thread.InitializeCTRC(path, textEnd, len); break;
    case EntryRole::Calendar: m_thread.InitializeCLRC(path, textEnd, len); break;
    case EntryRole::Tasks: m_thread.InitializeTSRC(path, textEnd, len); break;
    case EntryRole::Notes: m_thread.InitializeNTRC(path, textEnd, len); break;
    case EntryRole::Message:
        m_thread.InitializeMLRC(path, textEnd, h.pos + 30, h.nameLength, h.usize, h.crc, len);
        break;
    default: break;
    }
    freeText();
    // Stored XML never holds a ZIP signature: one inside the text means the sizes were damaged,
    // so the walk goes on at the signature.
    if (cut)
        return textEnd;
    return qMax(end, h.pos + 1);
}

qint64 ArchiveWalker::readEntryText(qint64 offset, qint64 want, bool *cut)
{
    freeText();
    *cut = false;
    pBuff = static_cast<char *>(malloc(size_t(want) + 1));
    if (!pBuff)
        return 0;
    const qint64 chunk = qint64(1) << 20;
    qint64 len = 0;
    while (len < want) {
        const qint64 got = m_reader->read(offset + len, pBuff + len, qMin(chunk, want - len));
        if (got <= 0)
            break;
        // Look for "PK\3\4" / "PK\1\2", overlapping the previous chunk by three bytes.
        const qint64 from = qMax<qint64>(0, len - 3);
        len += got;
        const std::string_view text(pBuff, size_t(len));
        for (size_t at = FindBytes(text, "PK", size_t(from)); at != std::string_view::npos;
             at = FindBytes(text, "PK", at + 1)) {
            if (at + 4 > size_t(len))
                break;
            if ((text[at + 2] == 3 && text[at + 3] == 4) || (text[at + 2] == 1 && text[at + 3] == 2)) {
                len = qint64(at);
                *cut = true;
                break;
            }
        }
        if (*cut)
            break;
    }
    pBuff[len] = '\0';
    pBuffLength = len;
    return len;
}

void ArchiveWalker::freeText()
{
    free(pBuff);
    pBuff = nullptr;
    pBuffLength = 0;
}

} // namespace olm
