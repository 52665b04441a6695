// The .htm page of a message: the fixed head, the sender, subject and date lines, the recipient
// and attachment lines, then the body. Every text taken from the archive is escaped, so a name
// or subject can never become markup; only a body that is markup stays markup.

#include "save/mail/MessageFiles.h"

#include "save/SavePause.h"
#include "save/mail/MailHeaders.h"
#include "save/mail/MailMimeParts.h"
#include "scanner/ScanGlobals.h"

#include <QDateTime>
#include <QLocale>

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

QByteArray attachmentText(const MailMessageFields &fields)
{
    QByteArray out;
    for (const AttachmentInfo &a : fields.attachments)
        out += HtmlText(a.name) + "; ";
    return out;
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
    const QDateTime when = QDateTime::fromSecsSinceEpoch(ClampMailSeconds(t.seconds), Qt::LocalTime);
    // The numeric zone makes the shown local time one instant wherever the page is read.
    const int offset = when.offsetFromUtc();
    const QString zone = QStringLiteral(" %1%2%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(qAbs(offset) / 3600, 2, 10, QLatin1Char('0'))
                             .arg(qAbs(offset) / 60 % 60, 2, 10, QLatin1Char('0'));
    return (QLocale::c().toString(when, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss AP")) + zone).toUtf8();
}

QByteArray HtmlPageBody(const QString &raw, bool *stopped)
{
    const BodyPart part = PrepareBodyPart(raw, false);
    const QString text = QString::fromUtf8(part.bytes);
    if (IsHtmlBody(text, kHtmlRowsLineEnds))
        return InertMarkup(part.bytes, stopped);
    return "<div style=\"white-space: pre-wrap\">" + HtmlText(text) + "</div>";
}

void WriteHtmlPage(const MailMessage &message)
{
    const MailMLRC &rec = message.record;
    const MailMessageFields &f = message.fields;
    QByteArray page = HtmlPageHead();
    page += "<body><B>From: </B>" + senderText(rec, f) + "<BR>" + kLineEnd;
    page +=
        "<body><B>Subject: </B>" + HtmlText(QString::fromUtf8(rec.pSubject ? rec.pSubject : "")) + "<BR>" + kLineEnd;
    page += "<body><B>Date: </B>" + HtmlPageDate(rec, f.strEntryName, message.xml) + "<BR>" + kLineEnd;
    page += "<B>To: </B>" + recipientText(f.strToList, f.toRecipients, 3) + "<BR>" + kLineEnd;
    page += "<B>Cc: </B>" + recipientText(f.strCcList, f.ccRecipients, 4) + "<BR>" + kLineEnd;
    page += "<B>Bcc: </B>" + recipientText(f.strBccList, f.bccRecipients, 4) + "<BR>" + kLineEnd;
    page += "<B>Attachments: </B>" + attachmentText(f) + "<BR>" + kLineEnd;
    page += "<BR>\n\n\n\n";
    if (rec.dwBodyLength != 0) {
        // A large body takes a while to read: a stop asked by now is not kept waiting.
        bool stopped = SaveStopAsked();
        if (!stopped)
            page += HtmlPageBody(ReadMessageBody(rec, message.xml), &stopped);
        // The page of a message the stop interrupted would not show it as it is: none is kept.
        if (stopped) {
            message.out.cancel(QStringLiteral("the save was stopped while it was written"));
            return;
        }
    }
    page += "\n\n</body></html>\n\n";
    message.out.write(page);
}
