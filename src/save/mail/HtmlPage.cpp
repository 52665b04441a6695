// The .htm page of a message: the fixed head, the sender, subject and date lines, the recipient
// and attachment lines, then the body. Every text taken from the archive is escaped, so a name
// or subject can never become markup; only a body that is markup stays markup. The message's
// attachments are files beside the page, in a folder named after it, which its attachment line
// links: a user who keeps the pages keeps the files.

#include "save/mail/MessageFiles.h"

#include "platform/ArchiveSource.h"
#include "platform/Crc32.h"
#include "platform/WholeFile.h"
#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/BidiControls.h"
#include "save/SafeNames.h"
#include "save/SavePause.h"
#include "save/mail/MailHeaders.h"
#include "save/mail/MailMimeParts.h"
#include "scanner/EntryData.h"
#include "scanner/ScanGlobals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <ctime>
#include <unistd.h>

namespace {

const char kPageHead[] = "\xEF\xBB\xBF"
                         "<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n\n"
                         "<html><head><title></title>\n\n"
                         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n\n"
                         // The message's markup only shows: no script, frame, plugin, form post or
                         // connection runs, and nothing loads from outside the page (a remote
                         // picture tells the sender the archive was opened). Its own pictures,
                         // inline styles and fonts show.
                         "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                         "img-src data: cid:; style-src 'unsafe-inline'; font-src data:; "
                         "form-action 'none'; base-uri 'none'\">\n\n"
                         "<meta http-equiv=\"Content-Style-Type\" content=\"text/css\">\n\n"
                         "<style type=\"text/css\"><!--\n\n"
                         "body {\n\n"
                         "  margin: 5px 5px 5px 5px;\n\n"
                         "  background-color: #ffffff;\n\n"
                         "}\n\n"
                         "/* ========== Text Styles ========== */\n\n"
                         "hr { color: #000000}\n\n"
                         "body, table, span.rvts0 /* Normal text */\n\n"
                         "{\n\n"
                         " font-size: 10pt;\n\n"
                         " font-family: 'Arial', 'Helvetica', sans-serif;\n\n"
                         " font-style: normal;\n\n"
                         " font-weight: normal;\n\n"
                         " color: #000000;\n\n"
                         " text-decoration: none;\n\n"
                         "}\n\n"
                         "span.rvts1 /* Heading */\n\n"
                         "{\n\n"
                         " font-weight: bold;\n\n"
                         " color: #0000ff;\n\n"
                         "}\n\n"
                         "span.rvts2 /* Subheading */\n\n"
                         "{\n\n"
                         " font-weight: bold;\n\n"
                         " color: #000080;\n\n"
                         "}\n\n"
                         "span.rvts3 /* Keywords */\n\n"
                         "{\n\n"
                         " font-style: italic;\n\n"
                         " color: #800000;\n\n"
                         "}\n\n"
                         "a.rvts4, span.rvts4 /* Jump 1 */\n\n"
                         "{\n\n"
                         " color: #008000;\n\n"
                         " text-decoration: underline;\n\n"
                         "}\n\n"
                         "a.rvts5, span.rvts5 /* Jump 2 */\n\n"
                         "{\n\n"
                         " color: #008000;\n\n"
                         " text-decoration: underline;\n\n"
                         "}\n\n"
                         "span.rvts6\n\n"
                         "{\n\n"
                         " font-size: 12pt;\n\n"
                         " font-family: 'Times New Roman', 'Times', serif;\n\n"
                         "}\n\n"
                         "span.rvts7\n\n"
                         "{\n\n"
                         "}\n\n"
                         "span.rvts8\n\n"
                         "{\n\n"
                         " font-size: 11pt;\n\n"
                         " font-family: 'calibri';\n\n"
                         "}\n\n"
                         "/* ========== Para Styles ========== */\n\n"
                         "p,ul,ol /* Paragraph Style */\n\n"
                         "{\n\n"
                         " text-align: start;\n\n"
                         " text-indent: 0px;\n\n"
                         " padding: 0px 0px 0px 0px;\n\n"
                         " margin: 0px 0px 0px 0px;\n\n"
                         "}\n\n"
                         ".rvps1 /* Centered */\n\n"
                         "{\n\n"
                         " text-align: center;\n\n"
                         "}\n\n"
                         ".rvps2\n\n"
                         "{\n\n"
                         "}\n\n"
                         "--></style>\n\n"
                         "</head>\n\n";

const char kLineEnd[] = "\n\n";

// "Name <address>", or the address alone, as page text.
QByteArray mailboxText(const QString &name, const QString &address)
{
    const QString shown = name.trimmed();
    if (shown.isEmpty())
        return HtmlText(address);
    return HtmlText(shown) + " &lt;" + HtmlText(address) + "&gt;";
}

QByteArray senderText(const MailMLRC &rec, const MailMessageFields &fields)
{
    if (fields.strFromList.isEmpty())
        return QByteArray();
    return mailboxText(SenderDisplayName(rec, fields), CleanRecipientAddress(LastListEntry(fields.strFromList)));
}

QByteArray recipientText(const QString &list, const QVector<MailRecipient> &parsed, int entityCount)
{
    QByteArray out;
    for (const MailRecipient &r : HeaderRecipients(list, parsed, entityCount)) {
        if (!out.isEmpty())
            out += ",\r\t";
        out += mailboxText(r.name, r.address);
    }
    return out;
}

// ---- the attachments beside the page

constexpr qint64 kCopyChunkBytes = qint64(1) << 20;
// Longest file name written, in bytes: the usual file systems take 255, and a number may follow.
constexpr int kMaxNameBytes = 200;
// Attachments of one message that share a name: the later ones are numbered, up to this.
constexpr int kMaxNameNumber = 10000;
const char kFolderSuffix[] = "_attachments";
const QString kStopped = QStringLiteral("the save was stopped while it was written");

// The folder beside a page for its attachments: "12.htm" keeps them in "12_attachments".
QString attachmentFolderOf(const QString &pagePath)
{
    const QString stem = pagePath.endsWith(QLatin1String(".htm")) ? pagePath.chopped(4) : pagePath;
    return stem + QLatin1String(kFolderSuffix);
}

// The name an attachment's file takes: its name's last part without control characters, never
// hidden nor empty, short enough for the file system with its extension kept, and numbered
// from the second file of the same name on.
QString fileNameOf(const QString &name, int number)
{
    QString safe = AttachmentFileName(name);
    if (safe.isEmpty())
        safe = QStringLiteral("attachment");
    if (safe.startsWith(QLatin1Char('.')))
        safe.prepend(QLatin1Char('_'));
    const QString extension = FileExtension(safe, kKeptExtensionLength);
    QString stem = safe.left(qMin(safe.size() - extension.size(), kMaxNameBytes));
    if (number > 1)
        stem += QStringLiteral(" (%1)").arg(number);
    while (!stem.isEmpty() && (stem + extension).toUtf8().size() > kMaxNameBytes + 8) {
        stem.chop(stem.size() >= 2 && stem.at(stem.size() - 1).isLowSurrogate() ? 2 : 1);
    }
    return stem + extension;
}

// A link's text for a file name: every byte but the unreserved ones percent-encoded, so no name
// reads as a scheme, a query or a place in the page.
QByteArray linkPart(const QString &name)
{
    return name.toUtf8().toPercentEncoding();
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// What became of one attachment: the file name it took (empty: none), and why it is not whole.
struct AttachmentCopy {
    QString fileName;
    QString reason;
    bool stopped = false;
};

// The entry's bytes, copied in chunks to a file in folder that takes its name only when whole.
AttachmentCopy copyAttachment(const FileOffsetNode *node, const QString &folder, const QString &name,
                              const std::function<bool()> &stopAsked)
{
    AttachmentCopy result;
    if (!node) {
        result.reason = QStringLiteral("not found in the archive");
        return result;
    }
    // A deflated entry is not the attachment's bytes.
    if (node->bCompressed) {
        result.reason = QStringLiteral("stored compressed in the archive");
        return result;
    }
    const qint64 offset = node->llDataOffset;
    const qint64 size = EntryDataSize(*node);
    const qint64 available = offset < 0 || offset > lSize || node->llSize < 0 ? 0 : qMin(size, lSize - offset);
    if (!QDir(folder).exists() && !QDir().mkdir(folder) && !QDir(folder).exists()) {
        result.reason = QStringLiteral("could not be written: its folder could not be made");
        return result;
    }
    WholeFile file;
    const int fd = file.open(folder);
    if (fd < 0) {
        result.reason = QStringLiteral("could not be written: ") + qt_error_string(-fd);
        return result;
    }
    QByteArray buffer(int(qBound<qint64>(1, available, kCopyChunkBytes)), Qt::Uninitialized);
    EntryDataReader reader = EntryData(*node);
    quint32 crc = 0;
    qint64 done = 0;
    while (done < available) {
        if (stopAsked()) {
            result.stopped = true;
            return result;
        }
        const qint64 want = qMin(kCopyChunkBytes, available - done);
        const qint64 got = reader.read(buffer.data(), want);
        if (got <= 0)
            break;
        crc = Crc32Update(crc, buffer.constData(), got);
        if (!writeAll(fd, buffer.constData(), got)) {
            result.reason = QStringLiteral("could not be written: ") + qt_error_string(errno);
            return result;
        }
        done += got;
        if (got < want)
            break;
    }
    for (int number = 1; number <= kMaxNameNumber; ++number) {
        const QString taken = fileNameOf(name, number);
        const int error = file.publish(folder + QLatin1Char('/') + taken);
        if (error == 0) {
            result.fileName = taken;
            break;
        }
        if (error != EEXIST) {
            result.reason = QStringLiteral("could not be written: ") + qt_error_string(error);
            return result;
        }
    }
    if (result.fileName.isEmpty())
        result.reason = QStringLiteral("could not be written: no free name is left");
    // What was read is kept; it is named as not what the archive stored.
    else if (done != size)
        result.reason = QStringLiteral("cut short in the archive");
    else if (node->dwCrc32 != 0 && crc != node->dwCrc32)
        result.reason = node->bSizeCut ? QStringLiteral("damaged: its size ran into the next entry, cut there")
                                       : QStringLiteral("damaged: CRC-32 %1, the archive says %2")
                                             .arg(crc, 8, 16, QLatin1Char('0'))
                                             .arg(node->dwCrc32, 8, 16, QLatin1Char('0'));
    return result;
}

// The attachment line's names, each linked to its file where it was written.
QByteArray attachmentText(const MailMessageFields &fields, const QString &folderName,
                          const QVector<AttachmentCopy> &copies)
{
    QByteArray out;
    for (int i = 0; i < fields.attachments.size(); ++i) {
        const QByteArray name = HtmlText(WithoutBidiControls(fields.attachments[i].name));
        const QString &file = i < copies.size() ? copies[i].fileName : QString();
        if (file.isEmpty())
            out += name + "; ";
        else
            out += "<a href=\"" + linkPart(folderName) + '/' + linkPart(file) + "\">" + name + "</a>; ";
    }
    return out;
}

// The message's attachments written beside the page; each one not written whole goes to *missing.
// False when the stop ended it: what was written of them is removed.
bool writeAttachments(const MailMessage &message, const QString &folder, QVector<AttachmentCopy> *copies,
                      QStringList *missing)
{
    const std::function<bool()> stopAsked = [&message] {
        return message.stopRequested && *message.stopRequested ? (*message.stopRequested)() : SaveStopAsked();
    };
    for (const AttachmentInfo &a : message.fields.attachments) {
        const AttachmentCopy copy = copyAttachment(message.attachments.find(a), folder, a.name, stopAsked);
        if (copy.stopped) {
            for (const AttachmentCopy &written : *copies) {
                if (!written.fileName.isEmpty())
                    QFile::remove(folder + QLatin1Char('/') + written.fileName);
            }
            QDir().rmdir(folder);
            return false;
        }
        // A page that fails takes its attachments along: none is left without its page.
        if (!copy.fileName.isEmpty())
            message.out.addBeside(folder + QLatin1Char('/') + copy.fileName);
        if (!copy.reason.isEmpty())
            missing->append(QStringLiteral("attachment \"%1\": %2").arg(a.name, copy.reason));
        copies->append(copy);
    }
    // A folder none of them reached is not left behind empty.
    QDir().rmdir(folder);
    return true;
}

}  // namespace

QByteArray HtmlPageHead()
{
    return QByteArray::fromRawData(kPageHead, int(sizeof kPageHead - 1));
}

QByteArray HtmlText(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray HtmlPageDate(const MailMLRC &record, const QString &entryName, const QByteArray *xml)
{
    const MailTime t =
        ChooseMailTime(record, ClassifyMailFolder(entryName), MailTimeRule::DateHeader, ReadMessageTimes(record, xml));
    if (t.kind != MailTime::Record)
        return QByteArray();
    // localtime_r, not QDateTime: Qt sets the zone up again at every conversion, which pages
    // formatted on several threads at once would do together; the save sets it up once first.
    static const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t instant = time_t(ClampMailSeconds(t.seconds));
    struct tm local {};
    if (!localtime_r(&instant, &local) || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0
        || local.tm_mon > 11)
        return QByteArray();
    const auto two = [](int value) { return QByteArray::number(value).rightJustified(2, '0'); };
    const int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    // The numeric zone makes the shown local time one instant wherever the page is read.
    const long offset = local.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    return QByteArray(kDays[local.tm_wday]) + ", " + two(local.tm_mday) + ' ' + kMonths[local.tm_mon] + ' '
        + QByteArray::number(local.tm_year + 1900).rightJustified(4, '0') + ' ' + two(hour) + ':' + two(local.tm_min)
        + ':' + two(local.tm_sec) + (local.tm_hour < 12 ? " AM " : " PM ") + (offset < 0 ? '-' : '+')
        + two(int(minutes / 60)) + two(int(minutes % 60));
}

QByteArray HtmlPageBody(const QString &raw, bool *stopped)
{
    const BodyPart part = PrepareBodyPart(raw, false);
    const QString text = QString::fromUtf8(part.bytes);
    if (IsHtmlBody(text, kHtmlRowsLineEnds))
        return InertMarkup(part.bytes, stopped);
    return "<div style=\"white-space: pre-wrap\">" + HtmlText(text) + "</div>";
}

QStringList WriteHtmlPage(const MailMessage &message)
{
    const MailMLRC &rec = message.record;
    const MailMessageFields &f = message.fields;
    QStringList missing;
    // The attachments' folder is named after the page, so the page's name is taken first: a page
    // formatted ahead of its turn, which has none yet, is made again in its turn.
    QString pagePath;
    if (!f.attachments.isEmpty()) {
        pagePath = message.out.claimName([](const QString &path) {
            return !QFileInfo::exists(attachmentFolderOf(path)) && !QFileInfo(attachmentFolderOf(path)).isSymLink();
        });
        if (pagePath.isEmpty()) {
            message.out.cancel(QStringLiteral("the page's name is taken when it is written"));
            return missing;
        }
    }
    QByteArray body;
    if (rec.dwBodyLength != 0) {
        // A large body takes a while to read: a stop asked by now is not kept waiting.
        bool stopped = SaveStopAsked();
        BodyReading reading;
        if (!stopped)
            body = HtmlPageBody(ReadMessageBody(rec, message.xml, &reading), &stopped);
        if (!BodyReadingLine(reading).isEmpty())
            missing.append(BodyReadingLine(reading));
        // The page of a message the stop interrupted would not show it as it is: none is kept.
        if (stopped) {
            message.out.cancel(kStopped);
            return missing;
        }
    }
    const QString folder = pagePath.isEmpty() ? QString() : attachmentFolderOf(pagePath);
    QVector<AttachmentCopy> copies;
    if (!folder.isEmpty() && !writeAttachments(message, folder, &copies, &missing)) {
        message.out.cancel(kStopped);
        return QStringList();
    }
    // Pictures the body names by content id show from the files just written.
    if (!copies.isEmpty()) {
        QVector<QByteArray> links;
        for (const AttachmentCopy &c : copies)
            links.append(c.fileName.isEmpty() ? QByteArray()
                                              : linkPart(QFileInfo(folder).fileName()) + '/' + linkPart(c.fileName));
        body = ShowInlinePictures(
            body, [&](const QString &id) { return InlinePicture(message, links, id); }, &missing);
    }
    QByteArray page = HtmlPageHead();
    page += "<body><B>From: </B>" + senderText(rec, f) + "<BR>" + kLineEnd;
    page +=
        "<body><B>Subject: </B>" + HtmlText(QString::fromUtf8(rec.pSubject ? rec.pSubject : "")) + "<BR>" + kLineEnd;
    page += "<body><B>Date: </B>" + HtmlPageDate(rec, f.strEntryName, message.xml) + "<BR>" + kLineEnd;
    page += "<B>To: </B>" + recipientText(f.strToList, f.toRecipients, 3) + "<BR>" + kLineEnd;
    page += "<B>Cc: </B>" + recipientText(f.strCcList, f.ccRecipients, 4) + "<BR>" + kLineEnd;
    page += "<B>Bcc: </B>" + recipientText(f.strBccList, f.bccRecipients, 4) + "<BR>" + kLineEnd;
    page += "<B>Attachments: </B>" + attachmentText(f, QFileInfo(folder).fileName(), copies) + "<BR>" + kLineEnd;
    page += "<BR>\n\n\n\n";
    page += body;
    page += "\n\n</body></html>\n\n";
    message.out.write(page);
    return missing;
}
