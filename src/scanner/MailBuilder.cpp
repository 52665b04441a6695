#include "platform/Crc32.h"
#include "platform/WorkerGlobals.h"
#include "scanner/BuilderCommon.h"
#include "scanner/DateTimeConvert.h"
#include "scanner/FolderMaps.h"
#include "scanner/PreparedMail.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/WellFormed.h"
#include "scanner/XmlEntities.h"

#include <QRegularExpression>

#include <cstring>

namespace {

// Text decoded as UTF-8 with the NULs that damage left in it dropped: the rest is kept.
QString withoutNuls(std::string_view raw)
{
    if (!memchr(raw.data(), 0, raw.size()))
        return QString::fromUtf8(raw.data(), int(raw.size()));
    QByteArray kept(raw.data(), int(raw.size()));
    kept.replace('\0', QByteArray());
    return QString::fromUtf8(kept);
}

// "Name;" for every sender address that carries a name attribute, as UTF-8 with its character
// references decoded, so names in any script and with commas or quotes are kept as written.
// 1 to 99 characters or nothing.
char *senderNames(const ItemElements &item)
{
    const std::string_view list = ElementBytes(item.item(), item.value("<OPFMessageCopyFromAddresses"));
    // No reference is longer than 12 bytes: a longer value never makes a name this short, and
    // is not decoded at all (a 64 MB one took five times its size).
    constexpr size_t kMaxNameBytes = 99 * 12;
    QString joined;
    bool tooLong = false;
    ForEachStartTag(list, "<emailAddress", [&](std::string_view tag) {
        std::string_view raw;
        std::string normalised;
        if (!FindAttribute(tag, "OPFContactEmailAddressName", &raw, &normalised))
            return true;
        if (raw.size() > kMaxNameBytes)
            return !(tooLong = true);
        joined += UnescapeXmlEntities(withoutNuls(raw), EntityForm::Scanned) + QLatin1Char(';');
        return joined.size() < 100;
    });
    if (tooLong || joined.isEmpty() || joined.size() > 99)
        return nullptr;
    return MakeCString(joined.toUtf8());
}

char *subjectText(const ItemElements &item)
{
    const ElementSpan span = item.value("<OPFMessageCopySubject");
    std::string plain;
    const QString value =
        span.found ? withoutNuls(PlainElementText(ElementBytes(item.item(), span), &plain)).trimmed() : QString();
    if (value.isEmpty())
        return nullptr;
    QString subject = UnescapeXmlEntities(value, EntityForm::Scanned);
    // A line break parts words as a blank does (RFC 5322 unfolding makes it one): each run of
    // them becomes one blank, so the words stay apart in the header and in the list.
    if (subject.contains(QLatin1Char('\n')) || subject.contains(QLatin1Char('\r')))
        subject.replace(QRegularExpression(QStringLiteral("[\r\n]+")), QStringLiteral(" "));
    // Kept whatever its length: the writers fold it, and the text is bounded by the entry's.
    return MakeCString(subject.toUtf8());
}

// Converts a time element whose trimmed text has 1 to 31 characters; 0 otherwise.
quint32 timeValue(const ItemElements &item, std::string_view startTag)
{
    const ElementSpan span = item.value(startTag);
    // Read as XML (references, comments, CDATA); a date is short, so a long text is none.
    if (!span.found || span.length > 4096)
        return 0;
    const QString value = ElementText(ElementBytes(item.item(), span));
    if (value.isEmpty() || value.size() > 31)
        return 0;
    return integertimeconverter(value);
}

quint8 outgoingFlag(const QString &value)
{
    if (value == QLatin1String("0"))
        return 0;
    if (value == QLatin1String("1"))
        return 1;
    return value.size() >= 3 ? 0x2D : 0;
}

// The elements the record takes from a message.
const std::initializer_list<std::string_view> kMessageFieldTags = {
    "<OPFMessageCopyBody",     "<OPFMessageCopyAttachmentList", "<OPFMessageCopyFromAddresses",
    "<OPFMessageCopySentTime", "<OPFMessageCopySubject",        "<OPFMessageCopyReceivedTime",
    "<OPFMessageIsOutgoing",   "<OPFMessageGetPriority",        "<OPFMessageCopyHTMLBody"};

// soundEnd: where the item stops being sound; its body is not read past it.
void fillMessageFields(MailMLRC *rec, const ItemPiece &item, const ItemElements &bytes,
                       size_t soundEnd = std::string_view::npos)
{
    ElementSpan body = bytes.value("<OPFMessageCopyBody");
    // A message that has only its HTML form keeps that as its body.
    if (!body.found || body.length <= 0) {
        const ElementSpan html = bytes.value("<OPFMessageCopyHTMLBody");
        if (html.found && html.length > 0)
            body = html;
    }
    if (body.found && size_t(body.start) <= soundEnd) {
        rec->dwBodyLength = clamp32(qMin<qint64>(body.length, qint64(qMin(soundEnd, item.bytes.size())) - body.start));
        rec->llBodyOffset = item.start + body.start;
    }
    const ElementSpan list = bytes.value("<OPFMessageCopyAttachmentList");
    const std::string_view attachments = list.found
        ? ElementBytes(item.bytes, list)
        : ElementWithLostStart(item.bytes, "<email", "<OPFMessageCopyAttachmentList");
    // Any start tag counts: other tools write the self-closing form.
    rec->bHasAttachment = FindStartTag(attachments, "<messageAttachment", 0) != std::string_view::npos;
    rec->pFromNames = senderNames(bytes);
    rec->dwSentTime = rec->dwSentTimeCopy = timeValue(bytes, "<OPFMessageCopySentTime");
    rec->pSubject = subjectText(bytes);
    rec->dwReceivedTime = rec->dwReceivedTimeCopy = timeValue(bytes, "<OPFMessageCopyReceivedTime");
    rec->bOutgoing = outgoingFlag(trimmedValue(bytes, "<OPFMessageIsOutgoing"));
    rec->cPriority = priorityCode(trimmedValue(bytes, "<OPFMessageGetPriority"));
}

}  // namespace

void PrepareMail(std::string_view text, qint64 end, qint64 nameOffset, int nameLength, qint64 entrySize,
                 unsigned int crc, qint64 size, int nul, PreparedMail *out)
{
    const qint64 textStart = end - size;
    const bool recovered = nameLength == 0 && nameOffset == 0;
    // An entry's text cut short or holding zeroed bytes: its messages are kept, but marked. The
    // writers check the CRC-32 of what they read; doing it here for every entry would slow the
    // scan of intact archives, so only a text holding a NUL is checked (one the exporter wrote
    // is no damage).
    const bool damaged = !recovered
        && (size != entrySize
            || ((nul >= 0 ? nul > 0 : !text.empty() && memchr(text.data(), 0, text.size()) != nullptr)
                && Crc32Update(0, text.data(), qint64(text.size())) != crc));
    // A broken item's entry is checked against its CRC-32 after all: only then may a seam join
    // it to another entry's text. Broken items are rare; once per entry.
    int crcFails = damaged ? 1 : recovered || crc == 0 ? 0 : -1;
    const auto entryDamaged = [&] {
        if (crcFails < 0)
            crcFails = Crc32Update(0, text.data(), qint64(text.size())) != crc;
        return crcFails > 0;
    };
    MailMLRC *last = nullptr;
    qint64 tailFrom = 0;
    bool stopped = false;
    const auto makeRecord = [&](const ItemPiece &item, const ItemElements &fields, bool cut) {
        MailMLRC *rec = out->add(item.start);
        if (!rec)
            return !(stopped = true);
        rec->nNameLength = nameLength;
        rec->llNameOffset = nameOffset;
        rec->dwEntrySize = quint32(quint64(entrySize) & 0xFFFFFFFFu);
        rec->dwCrc32 = crc;
        // Where readers find this message's XML: its own item span, so a reader parses one
        // message, never the rest of its entry (that made saving quadratic in the items).
        rec->llDataOffset = item.start;
        rec->dwDataLength = clamp32(item.length);
        // A message that is no well-formed XML gives only the fields of its whole elements; the
        // save checks it again and names what is wrong. Its bytes stand whole in the archive:
        // the record is not marked cut.
        std::string_view span(item.bytes.data(), size_t(item.length));
        ItemFault fault = CheckItem(span, "<email");
        if (!fault.whole() && entryDamaged())
            span = KeepBeforeMessageSeam(span, &fault);
        rec->bDamaged = damaged || cut;
        if (fault.whole()) {
            fillMessageFields(rec, item, fields);
        } else {
            const std::string sound = SoundPart(span, fault);
            const std::string_view soundView(sound);
            const ItemElements soundFields(soundView, {}, kMessageFieldTags);
            fillMessageFields(rec, ItemPiece{soundView, item.start, item.length}, soundFields,
                              qMin(fault.at, item.bytes.size()));
        }
        out->keep(rec);
        last = rec;
        tailFrom = item.start + item.length - textStart;
        stopped = bStopFlag;
        return !stopped;
    };
    bool rootClosed = false;
    if (!bStopFlag)
        SplitItemElements(
            text, "</email>", kMessageFieldTags,
            [&](const ItemElements &fields, size_t from) {
                return makeRecord(
                    ItemPiece{fields.item(), textStart + qint64(from), qint64(fields.end() + fields.closeLength())},
                    fields, false);
            },
            &rootClosed);
    if (!stopped && !bStopFlag && !rootClosed) {
        // A damaged entry's last message may have lost its close tag: keep what is left of it
        // rather than lose the message and its attachments. So does an entry cut short whose
        // sizes and CRC-32 were made for the cut bytes: it passes every check, but a message
        // without its close tag is cut all the same. After the root's close tag nothing is a
        // message of the entry.
        const std::string_view tail = text.substr(size_t(tailFrom));
        // An intact entry's tail is its root's close tag: one search tells it apart.
        if (tail.find("<email") != std::string_view::npos && FindStartTag(tail, "<email", 0) != std::string_view::npos)
            makeRecord(ItemPiece{tail, textStart + tailFrom, qint64(tail.size())},
                       ItemElements(tail, {}, kMessageFieldTags), true);
    }
    // The entry's last message keeps the entry's tail, so a one-message entry's span is its data.
    if (last && !recovered)
        last->dwDataLength = clamp32(textStart + size - last->llDataOffset);
}

void QFolderInformationThread::CommitMail(const QString &path, PreparedMail &mail, qint64 end, qint64 nameOffset,
                                          int nameLength, qint64 size)
{
    treeCreator(path, false, QStringLiteral("mail"));
    // One folder id for every item of the entry.
    const qint64 folderId = recordFolderId(path);
    const bool recovered = nameLength == 0 && nameOffset == 0;
    if (mail.count() > 0) {
        const qint64 firstItem = mail.firstItem();
        mail.join(folderId);
        status(QStringLiteral("Scanning: Mails..."));
        progressAt(recovered ? firstItem : nameOffset);
    } else if (!recovered && !mail.failed() && !bStopFlag) {
        std::lock_guard<std::mutex> lock(m_reportMutex);
        m_emptyEntries.push_back({nameOffset, nameLength, end - size});
    }
    mail.clear();
    llParentIdRunning = 0;
}

void QFolderInformationThread::InitializeMLRC(const QString &path, qint64 end, qint64 nameOffset, int nameLength,
                                              qint64 entrySize, unsigned int crc, qint64 size, int nul)
{
    PreparedMail mail;
    PrepareMail(currentText(), end, nameOffset, nameLength, entrySize, crc, size, nul, &mail);
    CommitMail(path, mail, end, nameOffset, nameLength, size);
}
