// The header block of a message and its From_ line, from the pieces beside this file.

#include "save/mail/MailHeaders.h"

#include "save/mail/MailMimeParts.h"
#include "save/mail/MailWriter.h"
#include "scanner/ScanGlobals.h"

#include <QDateTime>

namespace {

const char kUserAgent[] = "User-Agent: Microsoft-MacOutlook/14.0.0.100825";

QByteArray priorityLine(const MailMLRC &rec, const MailFormatStyle &style)
{
    const int index = rec.cPriority - '2';
    if (index < 0 || index > 2 || !style.priorityDigits[index])
        return QByteArray();
    return QByteArray("X-Priority: ") + style.priorityDigits[index] + style.priorityLineEnd;
}

QByteArray dateLine(const MailMessage &message)
{
    const MailFormatStyle &style = message.style;
    const QString &name = message.fields.strEntryName;
    const MailFolderClass folderClass =
        ClassifyMailFolder(style.classifyOnFolderPath ? MailFolderRelativePath(name) : name);
    const MailTime t = ChooseMailTime(message.record, folderClass, style.dateHeaderTimeRule,
                                      ReadMessageTimes(message.record, message.xml));
    // A message without a readable date has no Date line rather than a made-up one.
    if (t.kind == MailTime::None || t.kind == MailTime::Undated)
        return QByteArray();
    const qint64 seconds = t.kind == MailTime::Now ? QDateTime::currentSecsSinceEpoch() : t.seconds;
    return "Date: " + FormatMailDate(seconds, style) + style.dateLineEnd;
}

void appendFromHeader(QByteArray &out, const MailMLRC &rec, const MailMessageFields &fields, const QByteArray &fold,
                      MailOutput *spill)
{
    out += "From: ";
    AppendMailbox(out, SenderDisplayName(rec, fields), CleanRecipientAddress(LastListEntry(fields.strFromList)), fold,
                  spill);
}

// The subject as it is where its line fits the limit and nothing in it reads as an encoded word;
// else as folded encoded words.
QByteArray threadTopic(const char *subject, const QByteArray &fold)
{
    const QByteArray raw = HeaderSafe(QByteArray(subject));
    if (raw.size() + int(sizeof "Thread-Topic: ") <= kMaxHeaderLine && !raw.contains("=?"))
        return raw;
    return EncodeSubjectWord(subject, fold);
}

}  // namespace

void WriteFromLine(const MailMessage &message)
{
    const MailFormatStyle &style = message.style;
    if (!style.writesFromLine)
        return;
    const MailFolderClass folderClass = ClassifyMailFolder(message.fields.strEntryName);
    MailTime time = ChooseMailTime(message.record, folderClass, style.fromLineTimeRule,
                                   ReadMessageTimes(message.record, message.xml));
    // A separator needs a date: one the message holds dates it better than 1970 would.
    if (time.kind == MailTime::Undated)
        MessageModifiedTime(message.xml, &time.seconds);
    message.out.write(FromLineText(time, style));
    if (time.kind == MailTime::Record || time.kind == MailTime::Undated)
        message.out.write(kUserAgent + style.lineEnd);
}

void WriteMailHeaders(const MailMessage &message)
{
    const MailMLRC &rec = message.record;
    const MailMessageFields &f = message.fields;
    const MailFormatStyle &style = message.style;
    const QByteArray &le = style.lineEnd;
    // Every line goes into one buffer, sized for the usual headers at once.
    QByteArray block;
    block.reserve(1024);
    const QByteArray fold = le + ' ';
    if (rec.pSubject)
        AppendPieces(block, "Subject: ", EncodeSubjectWord(rec.pSubject, fold), le);
    if (!f.strFromList.isEmpty()) {
        appendFromHeader(block, rec, f, fold, &message.out);
        block += le;
    }
    const struct {
        const char *name;
        const QString &list;
        const QVector<MailRecipient> &parsed;
        int entityCount;
    } lists[] = {{"To: ", f.strToList, f.toRecipients, 3},
                 {"Cc: ", f.strCcList, f.ccRecipients, 4},
                 {"Bcc: ", f.strBccList, f.bccRecipients, 4}};
    for (const auto &l : lists) {
        const QVector<MailRecipient> recipients = HeaderRecipients(l.list, l.parsed, l.entityCount);
        if (recipients.isEmpty())
            continue;
        block += l.name;
        AppendAddressList(block, recipients, style, &message.out);
        block += le;
    }
    block += dateLine(message);
    if (rec.pSubject)
        AppendPieces(block, "Thread-Topic: ", threadTopic(rec.pSubject, fold), le);
    if (style.writesPriorityAndHasAttach)
        block += priorityLine(rec, style);
    // The same test that decides whether the boundaries are made from the id.
    if (HasUsableMessageId(f.strMessageId))
        block += IdentifierLine("Message-ID", f.strMessageId, true, le);
    if (style.writesPriorityAndHasAttach)
        AppendPieces(block, "X-MS-Has-Attach: ", f.strAttachmentContentIds.isEmpty() ? "" : "yes", le);
    AppendPieces(block, "Mime-version: 1.1", le);
    message.out.write(block);
}
