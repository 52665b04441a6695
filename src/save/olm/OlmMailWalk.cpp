// The mail walks of the OLM archive writer: one engine for the other local folders, each
// standard folder and the accounts, their attachment entries, and the mail the scan recovered.

#include "save/olm/OlmMailWalk.h"

#include "platform/ArchiveSource.h"
#include "platform/Crc32.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/olm/OlmArchiveWriter.h"
#include "save/olm/OlmZipRecords.h"
#include "scanner/EntryData.h"
#include "scanner/ScanGlobals.h"

#include <QSet>

#include <algorithm>
#include <cstring>

namespace {

const QByteArray kMessagesRoot("Local/com.microsoft.__Messages/");
const QByteArray kAttachmentsDir("com.microsoft.__Attachments/");

// The standard folders' directories, which the walk of the other local folders leaves out.
const char *const kStandardDirs[] = {
    "Local/com.microsoft.__Messages/Sent Items/", "Local/com.microsoft.__Messages/Outbox/",
    "Local/com.microsoft.__Messages/Inbox/",      "Local/com.microsoft.__Messages/Junk E-mail/",
    "Local/com.microsoft.__Messages/Drafts/",     "Local/com.microsoft.__Messages/Deleted Items/"};

// Prefix tests, never substring ones: a name holding another walk's folder text further in
// (an account folder ending in "Local", a subfolder named like a standard folder) must be
// taken by exactly one walk.
bool selects(OlmMailWalk walk, const QByteArray &folderDir, const QByteArray &name)
{
    switch (walk) {
    case OlmMailWalk::OtherLocal:
        return name.startsWith("Local/")
            && std::none_of(std::begin(kStandardDirs), std::end(kStandardDirs),
                            [&](const char *dir) { return name.startsWith(dir); });
    case OlmMailWalk::Standard:
    case OlmMailWalk::Accounts:
        return name.startsWith(folderDir);
    }
    return false;
}

}  // namespace

QByteArray OlmArchiveWriter::readEntryName(const MailMLRC *record) const
{
    // A length or offset that cannot be a local header's name is damage: the name is empty.
    if (record->nNameLength < 1 || record->nNameLength > 0xFFFF || record->llNameOffset <= 0)
        return QByteArray();
    QByteArray name = readSource(record->llNameOffset, record->nNameLength);
    const int nul = name.indexOf('\0');
    return nul < 0 ? name : name.left(nul);
}

QByteArray OlmArchiveWriter::rawEntryName(const MailMLRC *record) const
{
    if (record->nNameLength < 1 || record->nNameLength > 0xFFFF || record->llNameOffset <= 0)
        return QByteArray();
    return readSource(record->llNameOffset, record->nNameLength);
}

QByteArray OlmArchiveWriter::messageEntryName(const MailMLRC *record) const
{
    // A NUL in a folder part: the whole name keeps the message in its own folder (the NUL is
    // made safe with the rest of it).
    const QByteArray raw = rawEntryName(record);
    const int nul = raw.indexOf('\0');
    if (nul >= 0 && raw.indexOf('/', nul) > 0 && raw.lastIndexOf('/') + 1 < raw.size())
        return raw;
    const QByteArray name = readEntryName(record);
    const int slash = name.lastIndexOf('/');
    const QByteArray last = name.mid(slash + 1);
    if (name.isEmpty() || (last.contains("message_") && last.contains(".xml")))
        return name;
    // The name was cut at a NUL: the folder up to it, and a message's name of its own, so the
    // new archive's readers take it for a message again.
    return name.left(slash + 1) + "message_at_" + QByteArray::number(record->llDataOffset) + ".xml";
}

void OlmArchiveWriter::collectMail(const QString &folderIds)
{
    QSet<qint64> ids;
    for (const QString &id : folderIds.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const qint64 value = qint64(id.toULongLong(&ok, 10));
        if (ok)
            ids.insert(value);
    }
    for (const MailMLRC *r = TmpMlrcPtrStart; r; r = r->pNext) {
        if (ids.contains(r->llFolderId)) {
            // Made safe once every name is reserved (nameMail), so the message still goes to
            // its own folder's walk, and its line names both.
            const QByteArray name = messageEntryName(r);
            const QByteArray raw = rawEntryName(r);
            m_mail.append({r, name, raw != name ? raw : QByteArray(), QString()});
        } else {
            const QByteArray name = readEntryName(r);
            m_uncheckedDirs.insert(name.left(name.lastIndexOf('/') + 1));
        }
        if (r->llNameOffset <= 0 || r->nNameLength <= 0)
            continue;
        // The mails of one entry follow each other and together cover its text.
        const qint64 end = r->llDataOffset + r->dwDataLength;
        auto span = m_entrySpans.find(r->llNameOffset);
        if (span == m_entrySpans.end()) {
            m_entrySpans.insert(r->llNameOffset, Span{r->llDataOffset, r->dwDataLength});
            continue;
        }
        const qint64 start = qMin(span->offset, r->llDataOffset);
        span->length = qMax(span->offset + span->length, end) - start;
        span->offset = start;
    }
}

void OlmArchiveWriter::nameMail()
{
    for (MailEntry &entry : m_mail) {
        if (entry.name.isEmpty())
            continue;
        const QByteArray safe = m_names.messageName(entry.name, &entry.why);
        if (safe == entry.name)
            continue;
        if (entry.original.isEmpty())
            entry.original = entry.name;
        entry.name = safe;
    }
}

QByteArray OlmArchiveWriter::missingCloseTags(const Span &span)
{
    const qint64 tailLength = qMin<qint64>(span.length, 64);
    const QByteArray tail = readSource(span.offset + span.length - tailLength, tailLength);
    if (tail.contains("</emails>"))
        return QByteArray();
    const int open = tail.lastIndexOf("<email");
    const int close = tail.lastIndexOf("</email>");
    // Without a close tag near the end, the last message is open (its start is further back).
    return close >= 0 && close > open ? QByteArrayLiteral("</emails>") : QByteArrayLiteral("</email></emails>");
}

OlmArchiveWriter::Span OlmArchiveWriter::entrySpanOf(const MailMLRC *record) const
{
    if (record->llNameOffset > 0 && record->nNameLength > 0)
        return m_entrySpans.value(record->llNameOffset, Span{record->llDataOffset, record->dwDataLength});
    return Span{record->llDataOffset, record->dwDataLength};
}

void OlmArchiveWriter::buildAttachmentIndex()
{
    for (FileOffsetNode *node = tmpAtFOStart; node; node = node->pNext) {
        if (node->pEntryName && *node->pEntryName)
            m_attachmentsByName[EntryNameKey(QByteArray(node->pEntryName))].append(m_attachments.size());
        m_attachments.append(node);
    }
}

void OlmArchiveWriter::WriteMailFolderEntries(OlmMailWalk walk, const QByteArray &folderDir)
{
    writeDirectory(folderDir);
    if (!m_selection.mail)
        return;
    const int firstLevel = walk == OlmMailWalk::OtherLocal ? 2 : walk == OlmMailWalk::Standard ? 3 : 1;
    QList<QByteArray> previous;
    attachmentheader = false;
    for (const MailEntry &entry : qAsConst(m_mail)) {
        if (stopNow())
            break;
        const MailMLRC *rec = entry.record;
        if (!selects(walk, folderDir, entry.name)) {
            // Another walk's record still interrupts a folder here; in a standard folder's walk
            // only its own subfolder messages do.
            if (walk != OlmMailWalk::Standard)
                previous = entry.name.split('/');
            continue;
        }
        const QList<QByteArray> parts = entry.name.split('/');
        if (walk == OlmMailWalk::Standard && parts.size() <= 4) {
            // Directly in the standard folder: no levels, the previous path stays.
            const QByteArray attachmentsDir = folderDir + kAttachmentsDir;
            if (!attachmentheader) {
                writeDirectory(attachmentsDir);
                attachmentheader = true;
            }
            const bool readable = startMessage(entry);
            if (rec->bHasAttachment && readable)
                ScanMessageAttachments(rec, attachmentsDir);
            writeMessage(entry, true, readable);
            continue;
        }
        QByteArray path;
        for (int k = firstLevel; k <= parts.size() - 2; ++k) {
            path += parts[k] + '/';
            if (OlmLevelIsNew(previous, parts, k)) {
                writeDirectory(folderDir + path);
                attachmentheader = false;
            }
        }
        if (!attachmentheader) {
            writeDirectory(folderDir + path + kAttachmentsDir);
            attachmentheader = true;
        }
        const bool readable = startMessage(entry);
        if (rec->bHasAttachment && readable)
            ScanMessageAttachments(rec, path + kAttachmentsDir);
        writeMessage(entry, true, readable);
        previous = parts;
    }
    attachmentheader = false;
}

QString OlmArchiveWriter::mailName(const MailMLRC *record, const QByteArray &entryName) const
{
    const QString which = entryName.isEmpty() ? QStringLiteral("at archive offset %1").arg(record->llDataOffset)
                                              : OlmNameForLine(entryName);
    return QStringLiteral("Mail \"%1\" (%2)").arg(QString::fromUtf8(record->pSubject ? record->pSubject : ""), which);
}

bool OlmArchiveWriter::messageReadable(const MailMLRC *record) const
{
    // As the other save types judge it: a message the scan found cut short may lack its close
    // tag, not its start.
    return textReadable(record->llDataOffset, record->dwDataLength, record->bDamaged ? "<email" : nullptr,
                        record->bDamaged ? nullptr : "</email>");
}

bool OlmArchiveWriter::sourceCrcMatches(const MailMLRC *record) const
{
    // Only a message that is its entry's whole text has a checksum of its own.
    if (record->nNameLength <= 0 || record->dwCrc32 == 0 || record->dwEntrySize != record->dwDataLength)
        return true;
    return sourceCrc(record->llDataOffset, record->dwDataLength) == record->dwCrc32;
}

quint32 OlmArchiveWriter::sourceCrc(qint64 offset, qint64 length) const
{
    quint32 crc = 0;
    const qint64 chunk = OlmOutputFile::kBufferSize;
    for (qint64 done = 0; done < length; done += chunk) {
        const QByteArray bytes = readSource(offset + done, qMin(chunk, length - done));
        crc = Crc32Update(crc, bytes.constData(), bytes.size());
        if (bytes.size() < qMin(chunk, length - done))
            break;
    }
    return crc;
}

bool OlmArchiveWriter::startMessage(const MailEntry &entry)
{
    // Named as the archive names it, as the other save types name it.
    beginItem(mailName(entry.record, entry.original.isEmpty() ? entry.name : messageEntryName(entry.record)));
    if (messageReadable(entry.record))
        return true;
    noteUnreadable(m_book.what(m_item));
    m_item = -1;
    return false;
}

void OlmArchiveWriter::writeMessage(const MailEntry &entry, bool ticks, bool readable)
{
    const MailMLRC *rec = entry.record;
    const Span span = entrySpanOf(rec);
    // The mails of one entry share its bytes: the entry goes into the archive once.
    m_renamedFrom = entry.original;
    m_renamedWhy = entry.why;
    if (readable && !m_messagesWritten.contains(span.offset) && beginFile(entry.name, rec->dwCrc32, rec->dwEntrySize)) {
        // The scan knows where the entry's text really ends: at its size, or where damage cut it.
        copySource(span.offset, span.length, false);
        if (rec->bDamaged) {
            appendData(missingCloseTags(span));
            m_book.lost(m_item, QString::fromLatin1(kOlmDamagedText));
        }
        endFile(false);
        m_messagesWritten.insert(span.offset);
        m_book.counted(m_item);
    } else if (readable && m_messagesWritten.contains(span.offset)) {
        // Another mail of the entry wrote it: this one stands in the archive as well, and
        // counts as the progress steps count it.
        m_book.counted(m_item);
    }
    m_renamedFrom.clear();
    m_renamedWhy.clear();
    m_item = -1;
    if (ticks) {
        if (m_hooks.reportItem)
            m_hooks.reportItem();
    }
}

void OlmArchiveWriter::ScanMessageAttachments(const MailMLRC *record, const QByteArray &prefix)
{
    const QByteArray xml = readSource(record->llDataOffset, record->dwDataLength);
    QStringList urls = MessageAttachmentUrls(xml);
    if (urls.isEmpty()) {
        // Damage inside the message broke the exporter's fixed offsets and tags; the message
        // parse of the other writers still finds what it names.
        for (const AttachmentInfo &a : ParseMessageXml(xml).attachments)
            urls << a.url;
    }
    QVector<int> hits;
    for (const QString &url : urls) {
        const QVector<int> found =
            url.isEmpty() ? QVector<int>() : m_attachmentsByName.value(EntryNameKey(url.toUtf8()));
        if (found.isEmpty())
            m_book.lost(m_item, QStringLiteral("attachment \"%1\": not found in the archive").arg(url));
        hits += found;
    }
    // In list order, as the scan met them, each at most once per save.
    std::sort(hits.begin(), hits.end());
    hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
    int written = 0;
    for (int index : qAsConst(hits)) {
        FileOffsetNode *node = m_attachments[index];
        if (!node->bLocalPending)
            continue;
        if (!QByteArray(node->pEntryName).contains(prefix)) {
            // Outside the message's folder (a name damage changed): kept for the end.
            m_strayAttachments.append(index);
            if (!m_strayOwners.contains(index))
                m_strayOwners.insert(index, m_item);
            continue;
        }
        writeAttachment(node);
        if (++written == urls.size())
            break;
    }
}

void OlmArchiveWriter::writeAttachment(FileOffsetNode *node)
{
    node->bLocalPending = node->bCentralPending = 0;
    const QByteArray name(node->pEntryName);
    const QString label = QStringLiteral("attachment \"%1\"").arg(QString::fromUtf8(name));
    if (node->bCompressed) {
        writeCompressedEntry(node, label);
        return;
    }
    m_fileLabel = label;
    m_fileSizeCut = node->bSizeCut;
    // Its stored size bounds the bytes read; the entry written states the size they give.
    m_lineEndsBack = node->bLineEndsBack;
    if (beginFile(name, node->dwCrc32, quint64(qMax<qint64>(0, EntryDataSize(*node))))) {
        copySource(node->llDataOffset, node->llSize, false);
        endFile(false);
    }
    m_lineEndsBack = 0;
}

void OlmArchiveWriter::writeStrayAttachments()
{
    // Attachments that a written message names but that no walk took, because the message's
    // folder and the attachment's disagree: without them the message would lose them.
    std::sort(m_strayAttachments.begin(), m_strayAttachments.end());
    for (int index : qAsConst(m_strayAttachments)) {
        if (stopNow())
            return;
        if (m_attachments[index]->bLocalPending) {
            m_item = m_strayOwners.value(index, -1);
            writeAttachment(m_attachments[index]);
        }
    }
    m_item = -1;
}

QByteArray OlmArchiveWriter::uniqueName(const QByteArray &folder, const QByteArray &stem, const QByteArray &suffix)
{
    for (int n = 0;; ++n) {
        const QByteArray name = folder + stem + QByteArray::number(n).rightJustified(5, '0') + suffix;
        if (m_names.free(name))
            return name;
    }
}

void OlmArchiveWriter::writeRecoveredMail()
{
    if (!m_selection.mail)
        return;
    const QByteArray folder = kMessagesRoot + "Folder1/";
    bool folderWritten = false;
    for (const MailEntry &entry : qAsConst(m_mail)) {
        if (stopNow())
            break;
        const MailMLRC *rec = entry.record;
        // Every name under "Local/" or "Accounts/" belongs to a walk above; the rest, mail
        // recovered from damaged stretches and entries named outside both, has no entry yet.
        if (entry.name.startsWith("Local/") || entry.name.startsWith("Accounts/") || rec->dwDataLength == 0
            || m_messagesWritten.contains(entrySpanOf(rec).offset) || m_messagesWritten.contains(rec->llDataOffset))
            continue;
        if (!folderWritten) {
            writeDirectory(folder);
            writeDirectory(folder + kAttachmentsDir);
            folderWritten = true;
        }
        if (!startMessage(entry))
            continue;
        if (rec->bHasAttachment)
            ScanMessageAttachments(rec, QByteArray());
        if (!beginFile(uniqueName(folder, "message_", ".xml"), 0, 0))
            break;
        if (rec->bDamaged || !sourceCrcMatches(rec))
            m_book.lost(m_item, QString::fromLatin1(kOlmDamagedText));
        const qint64 length = rec->dwDataLength;
        const int skip = OlmRootTagLength(readSource(rec->llDataOffset, qMin<qint64>(length, 4096)), "emails");
        const qint64 tailAt = qMax<qint64>(skip, length - 64);
        const int cut = OlmRootCloseLength(readSource(rec->llDataOffset + tailAt, length - tailAt), "emails");
        appendData("<emails xml:space=\"preserve\">");
        copySource(rec->llDataOffset + skip, length - skip - cut, false);
        appendData("</emails>");
        endFile(true);
        m_messagesWritten.insert(rec->llDataOffset);
        m_book.counted(m_item);
        m_item = -1;
    }
}
