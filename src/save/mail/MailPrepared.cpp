#include "save/mail/MailPrepared.h"

#include "platform/Crc32.h"
#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/mail/MailMimeParts.h"
#include "save/mail/MessageFiles.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/ElementValue.h"
#include "scanner/EntryData.h"
#include "scanner/ScanGlobals.h"
#include "scanner/WellFormed.h"

#include <QSet>

#include <new>

QStringList WriteMailSteps(const MailMessage &message)
{
    WriteFromLine(message);
    WriteMailHeaders(message);
    const bool frameWritten = WriteMimeBody(message);
    QStringList missing;
    const QString reading = BodyReadingLine(message.bodyReading);
    if (!reading.isEmpty())
        missing.append(reading);
    for (const AttachmentFailure &f : WriteAttachmentPartsChecked(message, frameWritten).failures)
        missing.append(QStringLiteral("attachment \"%1\": %2").arg(f.name, f.reason));
    return missing;
}

namespace {

const QString kNoMemory = QStringLiteral("there was not enough memory to format it");

// A message formatted ahead is kept in memory up to this size; a larger one (large attachments)
// is streamed to its file in chunks when its turn comes. With the window below, formatted
// messages never hold more than 64 MiB.
constexpr qint64 kFormatAheadBytes = qint64(512) << 10;

// The message's entry name and XML. The name lies just before the data (a local header's extra
// field between them): one read brings both, one system call per message rather than two.
void readNameAndXml(const MailMLRC &rec, QString *name, QByteArray *xml)
{
    constexpr qint64 kOneReadGap = 4096;
    constexpr qint64 kOneReadXml = qint64(16) << 20;
    const qint64 gap = rec.llDataOffset - (rec.llNameOffset + rec.nNameLength);
    if (rec.llNameOffset > 0 && rec.nNameLength > 0 && rec.nNameLength <= 65535 && gap >= 0 && gap <= kOneReadGap
        && rec.dwDataLength > 0 && rec.dwDataLength <= kOneReadXml) {
        const qint64 span = rec.llDataOffset + rec.dwDataLength - rec.llNameOffset;
        const QByteArray both = ReadArchiveBytes(rec.llNameOffset, span);
        // Only a whole read is sliced: a short one is read apart, as the two reads would be.
        if (both.size() == span) {
            *name = QString::fromUtf8(UpToFirstNul(both.left(rec.nNameLength)));
            *xml = both.mid(int(rec.llDataOffset - rec.llNameOffset));
            return;
        }
    }
    *xml = ReadMessageXml(rec.llDataOffset, rec.dwDataLength);
    *name = ReadEntryName(rec.llNameOffset, rec.nNameLength);
}

// The message's own id without angle brackets: what the exporter names its attachment entries
// after. The writers' parse has it already; else it is read from the XML.
QByteArray messageIdOf(const MailMessageFields &fields, const QByteArray &xml)
{
    if (!fields.strMessageId.isEmpty()) {
        QByteArray id = fields.strMessageId.toUtf8();
        id.replace('<', QByteArray()).replace('>', QByteArray());
        return id;
    }
    const std::string_view item(xml.constData(), size_t(xml.size()));
    const ElementSpan span = GetElementValue(item, "<OPFMessageCopyMessageID");
    if (!span.found)
        return QByteArray();
    const std::string_view raw = ElementBytes(item, span);
    QByteArray id = QByteArray(raw.data(), int(raw.size())).trimmed();
    if (id.startsWith('<') && id.endsWith('>'))
        id = id.mid(1, id.size() - 2);
    return id;
}

// Whether the entry's bytes have the CRC-32 its header or record gives, read in chunks.
bool crcHolds(const FileOffsetNode *node)
{
    constexpr qint64 kChunk = qint64(1) << 20;
    if (node->bCompressed || node->dwCrc32 == 0 || node->llDataOffset <= 0 || node->llSize < 0
        || node->llSize > lSize - node->llDataOffset)
        return false;
    quint32 crc = 0;
    for (qint64 done = 0; done < node->llSize; done += kChunk) {
        const qint64 want = qMin(kChunk, node->llSize - done);
        const QByteArray bytes = ReadArchiveBytes(node->llDataOffset + done, want);
        if (bytes.size() != want)
            return false;
        crc = Crc32Update(crc, bytes.constData(), bytes.size());
    }
    return crc == node->dwCrc32;
}

// Attachments the list names that no entry holds, found under a name one byte off: a bit
// flipped in the name in the entry's local header or its record. Taken where the entry is the
// only one that near, no other attachment of the list names it, and its bytes verify; the
// report says which entry stood in for which name.
void tieNearNames(PreparedMessage &p, const AttachmentIndex &attachments)
{
    QSet<QByteArray> listed;
    for (const AttachmentInfo &a : p.fields.attachments)
        listed.insert(EntryNameKey(a.url.toUtf8()));
    for (AttachmentInfo &a : p.fields.attachments) {
        if (a.url.isEmpty() || attachments.find(a.url))
            continue;
        const FileOffsetNode *node = attachments.nearName(a.url, a.size, listed);
        const FileOffsetNode *folder = node ? nullptr : attachments.folderDamaged(a.url, listed);
        const FileOffsetNode *tail = node || folder ? nullptr : attachments.nameTail(a.url, listed);
        const FileOffsetNode *scattered = node || folder || tail ? nullptr : attachments.scatteredFlips(a.url, listed);
        // A name that keeps the message's id and number (its head lost, or bits of its folder's
        // part flipped) is the message's: its CRC-32 may have gone with the header's damage.
        if (folder || tail) {
            node = folder ? folder : tail;
            if (node->dwCrc32 != 0 && !crcHolds(node))
                continue;
        } else if (scattered) {
            // Bytes of the own part flipped too: only the bytes themselves tell it is this one.
            if (scattered->dwCrc32 == 0 || !crcHolds(scattered))
                continue;
            node = scattered;
        } else if (!node || !crcHolds(node)) {
            continue;
        }
        const QByteArray name(node->pEntryName);
        p.notes << olm::EntryLine(
            name, node->llDataOffset,
            QStringLiteral(": its name is \"%1\" with %2, an attachment the message \"%3\" lists and no entry "
                           "holds; %4: saved as that attachment")
                .arg(a.url,
                     node == tail            ? QStringLiteral("its head lost")
                         : node == folder    ? QStringLiteral("its folder's part damaged")
                         : node == scattered ? QStringLiteral("a few bytes damaged")
                                             : QStringLiteral("one byte damaged"),
                     p.fields.strEntryName,
                     node->dwCrc32 != 0 ? QStringLiteral("its CRC-32 verifies")
                                        : QStringLiteral("its CRC-32 was lost with its header")),
            olm::EntryPlace::Data);
        listed.insert(EntryNameKey(name));
        a.entry = node;
    }
}

// Attachments the message's damaged list no longer names, tied to it by the name the archive
// gives them: its own id and number, in its folder's attachments. Named in its damage line.
void addNamedAfter(PreparedMessage &p, const QByteArray &xml, const AttachmentIndex &attachments)
{
    const QVector<const FileOffsetNode *> nodes =
        attachments.namedAfter(p.fields.strEntryName.toUtf8(), messageIdOf(p.fields, xml));
    if (nodes.isEmpty())
        return;
    QSet<QByteArray> listed;
    for (const AttachmentInfo &a : p.fields.attachments)
        listed.insert(EntryNameKey(a.entry ? QByteArray(a.entry->pEntryName) : a.url.toUtf8()));
    QStringList tied;
    for (const FileOffsetNode *node : nodes) {
        const QByteArray url(node->pEntryName);
        if (listed.contains(EntryNameKey(url)))
            continue;
        AttachmentInfo a;
        a.url = QString::fromUtf8(url);
        a.name = a.url.mid(a.url.lastIndexOf(QLatin1Char('/')) + 1);
        a.contentType = QStringLiteral("application/octet-stream");
        a.contentId = QStringLiteral("no");
        a.size = QString::number(EntryDataSize(*node));
        p.fields.attachments.append(a);
        tied << a.url;
    }
    if (tied.isEmpty())
        return;
    // Each name quoted apart: a reader of the report takes a parenthesis for one name.
    const QString line = QStringLiteral("its attachment list is damaged: %1 attachment%2 it does not list %3 tied to "
                                        "it by %4 entry name%2, \"%5\"")
                             .arg(tied.size())
                             .arg(tied.size() > 1 ? "s" : "")
                             .arg(tied.size() > 1 ? "were" : "was")
                             .arg(tied.size() > 1 ? "their" : "its")
                             .arg(tied.join(QStringLiteral("\", \"")));
    p.damage = p.damage.isEmpty() ? line : p.damage + QStringLiteral("; ") + line;
}

// Read, checks and parse: everything before a message's output file is known.
PreparedMessage prepareMessage(const MailMLRC &rec, const MailFormatStyle &style, const AttachmentIndex &attachments)
{
    PreparedMessage p;
    p.rec = &rec;
    QByteArray xml;
    readNameAndXml(rec, &p.fields.strEntryName, &xml);
    // An archive cut or overwritten since the scan would give an empty shell of a message. A
    // message the scan already found cut short may lack its close tag, not its text.
    p.readable = MessageXmlIntact(rec.llDataOffset, rec.dwDataLength, xml, !rec.bDamaged);
    // A message that is its entry's whole text is checked against the entry's CRC-32.
    const bool damaged = rec.bDamaged
        || (rec.nNameLength > 0 && rec.dwCrc32 != 0 && rec.dwEntrySize == rec.dwDataLength
            && Crc32Update(0, xml.constData(), xml.size()) != rec.dwCrc32);
    // A message that is no well-formed XML is read only as far as it is sound; one with nothing
    // whole before its fault is not written as if it were a message.
    ItemFault fault =
        p.readable ? CheckItem(std::string_view(xml.constData(), size_t(xml.size())), "<email") : ItemFault();
    if (damaged)
        xml.truncate(int(KeepBeforeMessageSeam(std::string_view(xml.constData(), size_t(xml.size())), &fault).size()));
    if (damaged && p.readable) {
        p.damage = QStringLiteral("its XML in the archive is damaged (CRC-32 mismatch or cut short)");
    } else if (!fault.whole() && fault.wholeChildren == 0) {
        p.readable = false;
        p.failure = NotWellFormedReason(fault);
    } else if (!fault.whole()) {
        p.damage = NotWellFormedReason(fault);
    }
    // A damaged message that lost its close tag is closed where its span ends: what is left of
    // it (its attachment list above all) is still written.
    p.xml = xml;
    if (!fault.whole()) {
        const std::string sound = SoundPart(std::string_view(xml.constData(), size_t(xml.size())), fault);
        xml = p.xml = QByteArray(sound.data(), int(sound.size()));
    } else if (rec.bDamaged && !HasItemClose(std::string_view(xml.constData(), size_t(xml.size())), "</email>")) {
        xml += "</email>";
    }
    QString entryName = p.fields.strEntryName;
    p.fields = ParseMessageXml(xml, style.messageIdForm, AddressListLimit::Unlimited);
    p.fields.strEntryName = entryName;
    p.relative = MailFolderRelativePath(p.fields.strEntryName);
    tieNearNames(p, attachments);
    addNamedAfter(p, xml, attachments);
    return p;
}

}  // namespace

PreparedMessage preparedOrFailed(const MailMLRC &rec, const MailFormatStyle &style, const AttachmentIndex &attachments)
{
    try {
        return prepareMessage(rec, style, attachments);
    } catch (const std::bad_alloc &) {
        PreparedMessage p;
        p.rec = &rec;
        p.readable = false;
        p.failure = kNoMemory;
        return p;
    }
}

void formatAhead(PreparedMessage &p, const MailFormatStyle &style, const AttachmentIndex &attachments)
{
    if (!p.readable)
        return;
    MailOutput memory;
    // Room for the usual message at once: growing the buffer step by step cost more than filling it.
    memory.openMemory(kFormatAheadBytes, qMin<qint64>(kFormatAheadBytes, 2 * qint64(p.xml.size()) + 4096));
    MailMessage message{*p.rec, p.fields, style, memory, attachments};
    message.xml = &p.xml;
    QStringList missing;
    try {
        missing = style.oneFilePerFolder ? WriteMailSteps(message) : WriteMessageFile(message);
    } catch (const std::bad_alloc &) {
        // Formatted again in its turn, when the other workers may have given memory back.
        return;
    }
    if (memory.failed())
        return;
    p.xml = QByteArray();
    p.formatted = true;
    p.bytes = memory.takeMemory();
    // Entries whose address could not be read are named with what the message lacks.
    p.missing = p.fields.unreadAddresses + missing;
    // Only the entry name is needed from here on (for the log): the parsed fields are freed on
    // this worker, not on the thread that writes every message in turn.
    // The attachment list stays for the names the save has seen.
    MailMessageFields named;
    named.strEntryName = p.fields.strEntryName;
    named.attachments = std::move(p.fields.attachments);
    p.fields = std::move(named);
}

QStringList writeMessage(const PreparedMessage &p, const MailFormatStyle &style, const AttachmentIndex &attachments,
                         MailOutput &out)
{
    if (p.formatted) {
        out.write(p.bytes);
        return p.missing;
    }
    MailMessage message{*p.rec, p.fields, style, out, attachments};
    message.xml = &p.xml;
    message.stopRequested = p.stopRequested;
    try {
        return p.fields.unreadAddresses
            + (style.oneFilePerFolder ? WriteMailSteps(message) : WriteMessageFile(message));
    } catch (const std::bad_alloc &) {
        // The message is counted not saved and its part cut back; the save goes on.
        out.cancel(kNoMemory);
        return QStringList();
    }
}
