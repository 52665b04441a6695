// Saved files as the mail and calendar readers people use read them: every save type of the
// sample and of a generated archive, under UTC and a zone with clock changes, read by mblaze,
// mu (GMime), Python's email package and python3-icalendar with recurring-ical-events; and a
// saved page opened in headless Chromium, where nothing of the message may run or load.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "WesternProse.h"
#include "save/OutputLayout.h"
#include "save/QMailSavingThread.h"
#include "save/SaveFlow.h"
#include "save/SaveGlobals.h"

#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <memory>
#include <time.h>

namespace {

// The Debian interpreter first: it has the calendar modules that .ci/install-deps installs.
QString pythonWithCalendars()
{
    for (const QString &python : {QStringLiteral("/usr/bin/python3"), QStandardPaths::findExecutable("python3")}) {
        if (python.isEmpty())
            continue;
        QProcess p;
        p.start(python, {QStringLiteral("-c"), QStringLiteral("import icalendar, recurring_ical_events")});
        if (p.waitForFinished(30000) && p.exitCode() == 0)
            return python;
    }
    return QString();
}

QByteArray recurringAppointment(const QByteArray &pattern, const QByteArray &summary)
{
    return "<appointment xml:space=\"preserve\">"
           "<OPFCalendarEventCopyEndTime xml:space=\"preserve\">2020-03-02T09:00:00</OPFCalendarEventCopyEndTime>"
           "<OPFCalendarEventCopyRecurrence xml:space=\"preserve\">"
           "<OPFRecurrenceCopyEndDate xml:space=\"preserve\">2020-06-01T08:00:00</OPFRecurrenceCopyEndDate>"
           "<OPFRecurrenceGetOccurenceCount xml:space=\"preserve\">1.4E1</OPFRecurrenceGetOccurenceCount>"
           "<OPFRecurrenceHasEndDate xml:space=\"preserve\">1</OPFRecurrenceHasEndDate>"
           "<OPFRecurrenceIsNoEnd xml:space=\"preserve\">0</OPFRecurrenceIsNoEnd>"
           "<OPFRecurrenceIsNumbered xml:space=\"preserve\">1</OPFRecurrenceIsNumbered>"
           "<OPFRecurrencePattern xml:space=\"preserve\">"
        + pattern
        + "</OPFRecurrencePattern></OPFCalendarEventCopyRecurrence>"
          "<OPFCalendarEventCopyReminderDelta xml:space=\"preserve\">600</OPFCalendarEventCopyReminderDelta>"
          "<OPFCalendarEventCopyStartTime xml:space=\"preserve\">2020-03-02T08:00:00</OPFCalendarEventCopyStartTime>"
          "<OPFCalendarEventCopySummary xml:space=\"preserve\">"
        + summary
        + "</OPFCalendarEventCopySummary>"
          "<OPFCalendarEventGetHasReminder xml:space=\"preserve\">1</OPFCalendarEventGetHasReminder>"
          "<OPFCalendarEventGetStartTimeZoneICSData xml:space=\"preserve\">BEGIN:VCALENDAR\n"
          "BEGIN:VTIMEZONE\nTZID:W. Europe Standard Time\nBEGIN:STANDARD\n"
          "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=10\nTZOFFSETFROM:+0200\nTZOFFSETTO:+0100\n"
          "DTSTART:16010101T030000\nEND:STANDARD\nBEGIN:DAYLIGHT\n"
          "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=3\nTZOFFSETFROM:+0100\nTZOFFSETTO:+0200\n"
          "DTSTART:16010101T020000\nEND:DAYLIGHT\nEND:VTIMEZONE\nEND:VCALENDAR\n"
          "</OPFCalendarEventGetStartTimeZoneICSData></appointment>";
}

// Messages with attachments, non-ASCII and comma names, a doubly escaped Cc address, weekly and
// monthly events across a clock change, and a task without dates.
QByteArray generatedArchive()
{
    TestArchiveBuilder b;
    const QString folder = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    QVector<OlmXml::MailItem> items(3);
    for (int i = 0; i < items.size(); ++i) {
        OlmXml::MailItem &m = items[i];
        m.subject = QStringLiteral("Generated %1").arg(i);
        m.received = QStringLiteral("2020-03-2%1T07:15:00").arg(i + 5);
        m.sent = QStringLiteral("2020-03-2%1T07:10:00").arg(i + 5);
        m.from = {{QStringLiteral("pat@example.com"), QStringLiteral("O&apos;Brien, Pat")}};
        m.to = {{QStringLiteral("kim@example.kr"), QStringLiteral("김철수")},
                {QStringLiteral("zoe@example.com"), QStringLiteral("Zoë Ångström")}};
        m.messageId = QStringLiteral("&lt;gen%1@example.com&gt;").arg(i);
        m.body = QStringLiteral("Line one\nLine two\r\nLine three");
    }
    items[1].cc = {{QStringLiteral("&amp;lt;cc@d.com&amp;gt;"), QString()}, {QStringLiteral("plain@d.com"), QString()}};
    for (int a = 0; a < 3; ++a) {
        const QString url = folder + QStringLiteral("com.microsoft.__Attachments/gen_%1").arg(a);
        b.addEntry(url, QByteArray(3000 + 997 * a, char('a' + a)) + QByteArray("\r\n\x00\xff", 4));
        items[2].attachmentNames << (a ? QStringLiteral("report %1.bin").arg(a) : QStringLiteral("東京 – Grüße.txt"));
        items[2].attachmentUrls << url;
    }
    for (int i = 0; i < items.size(); ++i)
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), OlmXml::emails({items[i]}));
    const QByteArray weekly = "<OPFRecurrencePatternDaysOfWeek xml:space=\"preserve\"><monday xml:space=\"preserve\">1"
                              "</monday><thursday xml:space=\"preserve\">1</thursday></OPFRecurrencePatternDaysOfWeek>"
                              "<OPFRecurrencePatternInterval xml:space=\"preserve\">1</OPFRecurrencePatternInterval>"
                              "<OPFRecurrencePatternType xml:space=\"preserve\">OPFRecurrencePatternWeekly"
                              "</OPFRecurrencePatternType>";
    const QByteArray monthly = "<OPFRecurrencePatternDayOfMonth xml:space=\"preserve\">2</OPFRecurrencePatternDayOfMonth>"
                               "<OPFRecurrencePatternInterval xml:space=\"preserve\">2</OPFRecurrencePatternInterval>"
                               "<OPFRecurrencePatternType xml:space=\"preserve\">OPFRecurrencePatternAbsoluteMonthly"
                               "</OPFRecurrencePatternType>";
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"),
               "<appointments xml:space=\"preserve\" elementCount=\"2\">" + recurringAppointment(weekly, "Twice a week")
                   + recurringAppointment(monthly, "Every other month") + "</appointments>");
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::tasks({{QStringLiteral("Undated task"), {}, {}}}));
    return b.finish();
}

// Messages that test the mail format's limits and what readers make of odd values: an HTML-only
// body, long subjects, dates outside 1970-2106 or unreadable, a NUL in a body, names and
// addresses that read as something else unless quoted or encoded, a line too long for mail, and
// attachment names that are paths or split inside a character.
QByteArray oddArchive()
{
    TestArchiveBuilder b;
    const QString folder = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    const auto mail = [](const QString &subject, const QString &body) {
        OlmXml::MailItem m;
        m.subject = subject;
        m.body = OlmXml::escape(body);
        m.received = QStringLiteral("2021-04-05T06:07:08");
        m.from = {{QStringLiteral("pat@example.com"), QStringLiteral("Pat")}};
        m.to = {{QStringLiteral("kim@example.com"), QStringLiteral("Kim")}};
        return m;
    };
    QVector<OlmXml::MailItem> items;
    OlmXml::MailItem html = mail(QStringLiteral("HTML only"), QString());
    html.htmlBody = OlmXml::escape(QStringLiteral("<html><body><p>Only the HTML form holds this</p></body></html>"));
    items << html;
    items << mail(QStringLiteral("Lang ü ").repeated(300).trimmed(), QStringLiteral("long spaced subject"));
    items << mail(QString(700, QChar(0x4E2D)), QStringLiteral("long subject without a blank"));
    const QStringList dates{QStringLiteral("2018-13-45T99:99:99"), QStringLiteral("1960-05-01T10:00:00"),
                            QStringLiteral("2107-03-04T05:06:07"), QString()};
    for (const QString &date : dates) {
        OlmXml::MailItem m = mail(QStringLiteral("Dated ") + (date.isEmpty() ? QStringLiteral("never") : date), QStringLiteral("d"));
        m.received = date;
        m.sent = date;
        items << m;
    }
    items << mail(QStringLiteral("NUL in the body"), QStringLiteral("before") + QChar(0) + QStringLiteral("after"));
    OlmXml::MailItem names = mail(QStringLiteral("Names"), QStringLiteral("n"));
    names.from = {{QStringLiteral("evil@example.com"), QStringLiteral("=?UTF-8?B?RXZpbA==?=")}};
    names.to = {{QStringLiteral("a,b@example.com"), QStringLiteral("Comma")},
                {OlmXml::escape(QStringLiteral("x<y@example.com")), QStringLiteral("Angle")},
                {QStringLiteral("user@b\u00fccher.de"), QStringLiteral("Idn")}};
    items << names;
    OlmXml::MailItem lines = mail(QStringLiteral("Long line"), QString(5001, QLatin1Char('w')) + QStringLiteral("\nFrom here\n=end ")
                                                                  + QString(1200, QChar(0x00E9)));
    const QStringList attachmentNames{QStringLiteral("a/b\\c.txt"), QStringLiteral("x") + QString(40, QChar(0x0439)) + QStringLiteral(".txt"),
                                      QStringLiteral("=?UTF-8?B?RXZpbA==?=.txt")};
    for (int a = 0; a < attachmentNames.size(); ++a) {
        const QString url = folder + QStringLiteral("com.microsoft.__Attachments/odd_%1").arg(a);
        QByteArray bytes(10240 + a, Qt::Uninitialized);
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char((i * 131 + a) % 251);
        b.addEntry(url, bytes);
        lines.attachmentNames << OlmXml::escape(attachmentNames.at(a));
        lines.attachmentUrls << url;
    }
    items << lines;
    for (int i = 0; i < items.size(); ++i)
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), OlmXml::emails({items[i]}));
    return b.finish();
}

// Messages that lost a line, a part or a word before: NULs in names, addresses and a subject;
// the sender in other valid XML forms; long words in a two-byte script; a hosted mail id; a
// Windows-1252 body; ids and addresses that are no valid ones; years outside the mail's range;
// a message dated only by its last change.
QByteArray mendedArchive()
{
    TestArchiveBuilder b;
    const QString folder = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    const auto mail = [](const QString &subject) {
        OlmXml::MailItem m;
        m.subject = subject;
        m.body = QStringLiteral("body of ") + subject;
        m.received = QStringLiteral("2021-04-05T06:07:08");
        m.from = {{QStringLiteral("pat@example.com"), QStringLiteral("Pat")}};
        m.to = {{QStringLiteral("kim@example.com"), QStringLiteral("Kim")}};
        m.messageId = QStringLiteral("&lt;%1@example.com&gt;").arg(qHash(subject));
        return m;
    };
    QVector<QByteArray> xml;
    OlmXml::MailItem nul = mail(QStringLiteral("Nul") + QChar(0) + QStringLiteral(" in the subject"));
    nul.from = {{QStringLiteral("nul@example.com"), QStringLiteral("Nul") + QChar(0) + QStringLiteral("Name")}};
    nul.to = {{QStringLiteral("to1@example.com"), QStringLiteral("To") + QChar(0) + QStringLiteral("Nul")},
              {QStringLiteral("to2@exa") + QChar(0) + QStringLiteral("mple.com"), QStringLiteral("Second")}};
    xml << OlmXml::emails({nul});
    // The same sender as other tools write it: the exporter's one form is no rule.
    const QByteArray usual = "<emailAddress xml:space=\"preserve\" OPFContactEmailAddressAddress=\"pat@example.com\" "
                             "OPFContactEmailAddressName=\"Pat\" OPFContactEmailAddressType=\"0\"></emailAddress>";
    const QList<QPair<QString, QByteArray>> forms{
        {QStringLiteral("Name first"), "<emailAddress OPFContactEmailAddressName=\"Pat\" "
                                       "OPFContactEmailAddressAddress=\"pat@example.com\"></emailAddress>"},
        {QStringLiteral("Single quotes"), "<emailAddress OPFContactEmailAddressAddress='pat@example.com' "
                                          "OPFContactEmailAddressName='Pat'></emailAddress>"},
        {QStringLiteral("Self-closing"), "<emailAddress OPFContactEmailAddressAddress=\"pat@example.com\" "
                                         "OPFContactEmailAddressName=\"Pat\"/>"},
    };
    for (const auto &form : forms)
        xml << OlmXml::emails({mail(form.first)}).replace(usual, form.second);
    xml << OlmXml::emails({mail(QStringLiteral("No xml:space"))}).replace(" xml:space=\"preserve\"", "");
    OlmXml::MailItem cyrillic = mail(QStringLiteral("Отчёт о продажах за третий квартал 2018 года — итоги"));
    cyrillic.from = {{QStringLiteral("anna@example.com"),
                      QStringLiteral("Анна Сергеевна Васильева-Колесникова, отдел продаж и маркетинга")}};
    cyrillic.messageId =
        QStringLiteral("&lt;BY5PR11MB4290F1E6C8F2A0B4D5E6F7A8B9C0D1E2@BY5PR11MB4290.namprd11.prod.example.com&gt;");
    xml << OlmXml::emails({cyrillic});
    OlmXml::MailItem ses = mail(QStringLiteral("Long SES id"));
    ses.messageId = QStringLiteral("&lt;0100017a2b3c4d5e-6f7a8b9c-0d1e-2f3a-4b5c-6d7e8f9a0b1c-000000@email.amazonses.com&gt;");
    xml << OlmXml::emails({ses});
    xml << OlmXml::emails({mail(QStringLiteral("Windows-1252 body"))})
               .replace("body of Windows-1252 body", "caf\xe9 na\xefve \x93quoted\x94");
    OlmXml::MailItem ids = mail(QStringLiteral("Invalid identifiers"));
    ids.messageId = OlmXml::escape(QStringLiteral("<a\"b c;d@example.com>"));
    ids.to = {{QStringLiteral("rcpt@example.com\r\nX-Injected-To: yes"), QString()},
              {QStringLiteral("ok@example.com"), QStringLiteral("Ok")},
              {QStringLiteral("u@\U0001F600.example"), QStringLiteral("Emoji domain")}};
    xml << OlmXml::emails({ids});
    OlmXml::MailItem double_ = mail(QStringLiteral("Doubled brackets"));
    double_.messageId = QStringLiteral("&lt;&lt;double&gt;&gt;");
    xml << OlmXml::emails({double_});
    for (const QString &date : {QStringLiteral("0001-01-01T00:00:00"), QStringLiteral("9999-12-31T23:30:00")}) {
        OlmXml::MailItem m = mail(QStringLiteral("Year ") + date.left(4));
        m.received = m.sent = date;
        xml << OlmXml::emails({m});
    }
    OlmXml::MailItem undated = mail(QStringLiteral("Dated by its last change"));
    undated.received.clear();
    xml << OlmXml::emails({undated}).replace("</email>", "<OPFMessageCopyModDate xml:space=\"preserve\">2018-06-20T23:49:52"
                                                          "</OPFMessageCopyModDate></email>");
    for (int i = 0; i < xml.size(); ++i)
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), xml.at(i));
    return b.finish();
}

// Forwarded messages attached as mail programs attach them (a plain one, one with its own
// attachment, one in LF lines, and bytes that are no message at all), and letters in six
// languages stored as Windows-1252, as UTF-8 and as Windows-1252 holding one UTF-8 pair.
QByteArray forwardedArchive()
{
    TestArchiveBuilder b;
    const QString folder = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    const auto mail = [](const QString &subject, const QString &body) {
        OlmXml::MailItem m;
        m.subject = subject;
        m.body = body;
        m.received = QStringLiteral("2021-04-05T06:07:08");
        m.from = {{QStringLiteral("pat@example.com"), QStringLiteral("Pat")}};
        m.to = {{QStringLiteral("kim@example.com"), QStringLiteral("Kim")}};
        return m;
    };
    const QByteArray inner = "From: Ann <ann@example.org>\r\nTo: kim@example.com\r\nSubject: Inner plain\r\n"
                             "Date: Mon, 4 Mar 2019 05:06:07 +0000\r\nMessage-ID: <inner1@example.org>\r\n"
                             "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
                             "Content-Transfer-Encoding: 8bit\r\n\r\nGr\xc3\xbc\xc3\x9f" "e\r\nFrom the road\r\n";
    const QByteArray withAttachment =
        "From: Bo <bo@example.org>\r\nSubject: Inner with attachment\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"in\"\r\n\r\n--in\r\nContent-Type: text/plain\r\n\r\n"
        "See the file.\r\n--in\r\nContent-Type: application/pdf; name=\"a.pdf\"\r\n"
        "Content-Disposition: attachment; filename=\"a.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "JVBERi0xLjQK\r\n--in--\r\n";
    const QByteArray lfLines = "From: Cy <cy@example.org>\nSubject: Inner LF lines\n\nOne\nTwo\n";
    const QByteArray mixedLines = "From: Di <di@example.org>\r\nSubject: Inner mixed lines\nMIME-Version: 1.0\r\n"
                                  "Content-Type: text/plain; charset=utf-8\n\r\nOne\r\nTwo\nDrei \xc3\x9f\r\n";
    const QByteArray notMessage("%PDF-1.4\n\x00\x01\xff binary", 20);
    const QList<QPair<QString, QByteArray>> forwarded{{QStringLiteral("Forwarded plain"), inner},
                                                      {QStringLiteral("Forwarded with attachment"), withAttachment},
                                                      {QStringLiteral("Forwarded LF lines"), lfLines},
                                                      {QStringLiteral("Forwarded mixed lines"), mixedLines},
                                                      {QStringLiteral("Forwarded no message"), notMessage}};
    QVector<QByteArray> xml;
    for (int i = 0; i < forwarded.size(); ++i) {
        const QString url = folder + QStringLiteral("com.microsoft.__Attachments/fwd_%1").arg(i);
        b.addEntry(url, forwarded.at(i).second);
        OlmXml::MailItem m = mail(forwarded.at(i).first, QStringLiteral("See the forwarded message."));
        m.attachmentNames << QStringLiteral("forwarded.eml");
        m.attachmentUrls << url;
        xml << OlmXml::emails({m}).replace("\"application/octet-stream\"", "\"message/rfc822\"");
    }
    QTextCodec *const windows1252 = QTextCodec::codecForName("Windows-1252");
    for (const WesternProse &p : WesternProseTable()) {
        const QString language = QString::fromLatin1(p.language);
        const QString accidental = p.text + p.accident;
        xml << OlmXml::emails({mail(QStringLiteral("Prose ") + language + QStringLiteral(" UTF-8"), accidental)});
        const QList<QPair<QString, QString>> stored{{QStringLiteral(" Windows-1252"), p.text},
                                                    {QStringLiteral(" Windows-1252 with a pair"), accidental}};
        for (const auto &form : stored) {
            const QByteArray marker = "BODY-" + QByteArray::number(xml.size());
            xml << OlmXml::emails({mail(QStringLiteral("Prose ") + language + form.first, QString::fromLatin1(marker))})
                       .replace(marker, windows1252->fromUnicode(form.second));
        }
        // Quotes pasted from UTF-8 text: still Windows-1252 prose, and said so.
        const QByteArray marker = "BODY-" + QByteArray::number(xml.size());
        xml << OlmXml::emails({mail(QStringLiteral("Prose ") + language + QStringLiteral(" with UTF-8 quotes"),
                                    QString::fromLatin1(marker))})
                   .replace(marker, windows1252->fromUnicode(p.text) + " \xE2\x80\x9Cok\xE2\x80\x9D");
    }
    for (int i = 0; i < xml.size(); ++i)
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), xml.at(i));
    return b.finish();
}

// Bodies a reader showed as something else before: UTF-8 prose of six scripts with one damaged
// byte; HTML whose markup declares Windows-1252, ISO-8859-1 or UTF-8 (stored as UTF-8, and once
// as Windows-1252 bytes); an HTML body showing a picture attached with a content id.
QByteArray readerCasesArchive()
{
    TestArchiveBuilder b;
    const QString folder = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    const auto mail = [](const QString &subject, const QString &body) {
        OlmXml::MailItem m;
        m.subject = subject;
        m.body = body;
        m.received = QStringLiteral("2022-02-03T04:05:06");
        m.from = {{QStringLiteral("pat@example.com"), QStringLiteral("Pat")}};
        m.to = {{QStringLiteral("kim@example.com"), QStringLiteral("Kim")}};
        return m;
    };
    QVector<QByteArray> xml;
    const QList<QPair<QString, QString>> prose{
        {QStringLiteral("Russian"), QStringLiteral("Уважаемый Иван Петрович, спасибо за письмо.\nВстреча в пятницу.")},
        {QStringLiteral("Chinese"), QStringLiteral("会议 改到星期五上午十点，请准时参加。")},
        {QStringLiteral("Greek"), QStringLiteral("Αγαπητέ Αλέξανδρε, ευχαριστώ για το μήνυμα.")},
        {QStringLiteral("Arabic"), QStringLiteral("مرحبا، الاجتماع يوم الجمعة.")},
        {QStringLiteral("Hebrew"), QStringLiteral("שלום, הפגישה ביום שישי.")},
        {QStringLiteral("Czech"), QStringLiteral("Příliš žluťoučký kůň úpěl ďábelské ódy.")},
        {QStringLiteral("French decomposed"),
         QStringLiteral("Élève à l’école, chère Hélène.").normalized(QString::NormalizationForm_D)},
        {QStringLiteral("Vietnamese decomposed"),
         QStringLiteral("Chào anh, cuộc họp sẽ diễn ra vào thứ Sáu.").normalized(QString::NormalizationForm_D)},
        {QStringLiteral("IPA"), QStringLiteral("ðə kwɪk braʊn fɒks")},
        {QStringLiteral("Syriac"), QStringLiteral("ܫܠܡܐ ܠܟ ܐܚܝ ܚܒܝܒܐ.")},
        {QStringLiteral("Thaana"), QStringLiteral("ތިޔަ ފޮނުއްވި ސިޓީއަށް ޝުކުރިއްޔާ.")},
        {QStringLiteral("NKo"), QStringLiteral("ߊ߲ ߣߌ߫ ߛߏ߬ߡߊ߬ ߞߊ߬ ߕߊ߯.")},
        {QStringLiteral("English"), QStringLiteral("Hi Tom, I don’t think so.")},
        {QStringLiteral("Emoji"), QStringLiteral("👍 🎉 ✅ 😀")}};
    for (const auto &p : prose) {
        const QByteArray marker = "BODY-" + QByteArray::number(xml.size());
        const QByteArray utf8 = p.second.toUtf8();
        const int cut = utf8.indexOf(' ') + 1;
        xml << OlmXml::emails(
                   {mail(QStringLiteral("Damaged ") + p.first + QStringLiteral(" prose"), QString::fromLatin1(marker))})
                   .replace(marker, utf8.left(cut) + "\xFF" + utf8.mid(cut));
    }
    // Subjects and sender names in scripts of three-byte characters with blanks between words.
    const QStringList titles{QStringLiteral("ประชุมวันศุกร์ เวลาสิบโมง ห้องประชุมใหญ่ชั้นสาม"),
                             QStringLiteral("সভা শুক্রবার সকাল দশটায় হবে অনুগ্রহ করে আসুন"),
                             QStringLiteral("बैठक शुक्रवार सुबह दस बजे होगी कृपया समय पर आएँ"),
                             QStringLiteral("Report ประชุม সভা बैठक 会議 Отчёт ห้องประชุมใหญ่ชั้นสาม").repeated(8),
                             QStringLiteral(" ห้องประชุมใหญ่ชั้นสาม เวลาสิบโมง").repeated(150)};
    for (const QString &title : titles) {
        OlmXml::MailItem m = mail(title, QStringLiteral("Title in full."));
        m.from = {{QStringLiteral("pat@example.com"), title.left(200).trimmed()}};
        xml << OlmXml::emails({m});
    }
    const QString text = QStringLiteral("Grüße aus München – 12 €");
    const QList<QPair<QString, QString>> declared{
        {QStringLiteral("HTML declaring Windows-1252"), QStringLiteral("<meta charset=\"windows-1252\">")},
        {QStringLiteral("HTML declaring ISO-8859-1"),
         QStringLiteral("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">")},
        {QStringLiteral("HTML declaring UTF-8"), QStringLiteral("<META CHARSET=utf-8>")}};
    for (const auto &d : declared) {
        const QString html = QStringLiteral("<html><head>") + d.second + QStringLiteral("</head><body><p>") + text
            + QStringLiteral("</p></body></html>");
        xml << OlmXml::emails({mail(d.first, OlmXml::escape(html))});
    }
    // An exporter that kept the declared charset's bytes: the body is read as Windows-1252.
    const QByteArray marker = "BODY-1252";
    xml << OlmXml::emails(
               {mail(QStringLiteral("HTML declaring Windows-1252 in its bytes"), QString::fromLatin1(marker))})
               .replace(marker,
                        QTextCodec::codecForName("Windows-1252")
                            ->fromUnicode(
                                OlmXml::escape(QStringLiteral("<html><head><meta charset=windows-1252></head><body><p>")
                                               + text + QStringLiteral("</p></body></html>"))));
    const QString url = folder + QStringLiteral("com.microsoft.__Attachments/logo");
    b.addEntry(url,
               QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0g"
                                      "AAAABJRU5ErkJggg=="));
    OlmXml::MailItem picture =
        mail(QStringLiteral("Inline picture"),
             OlmXml::escape(QStringLiteral("<html><body><p>BEFORE text</p><img src=\"cid:logo1@x\" "
                                           "width=\"60\" height=\"60\"><p>AFTER text</p></body></html>")));
    picture.attachmentNames << QStringLiteral("logo.png");
    picture.attachmentUrls << url;
    xml << OlmXml::emails({picture}).replace("OPFAttachmentName=",
                                             "OPFAttachmentContentID=\"logo1@x\" OPFAttachmentName=");
    // The same picture as a style attribute's and a style sheet's background.
    const QList<QPair<QString, QString>> styled{
        {QStringLiteral("Inline picture in a style"),
         QStringLiteral("<div style=\"background-image: url('cid:logo2@x'); width: 60px; height: 60px\"></div>")},
        {QStringLiteral("Inline picture in a style sheet"),
         QStringLiteral("<style>.pic { background: URL( \"CID:logo2@x\" ); width: 60px; height: 60px }</style>"
                        "<div class=\"pic\"></div>")}};
    for (const auto &p : styled) {
        OlmXml::MailItem m = mail(p.first, OlmXml::escape(QStringLiteral("<html><body><p>BEFORE text</p>") + p.second
                                                          + QStringLiteral("<p>AFTER text</p></body></html>")));
        m.attachmentNames << QStringLiteral("logo.png");
        m.attachmentUrls << url;
        xml << OlmXml::emails({m}).replace("OPFAttachmentName=", "OPFAttachmentContentID=\"logo2@x\" OPFAttachmentName=");
    }
    for (int i = 0; i < xml.size(); ++i)
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), xml.at(i));
    return b.finish();
}

// The DOM headless Chromium makes of a page once it has loaded what it loads.
QByteArray chromiumDom(const QString &page)
{
    QTemporaryDir profile;
    QProcess chromium;
    chromium.start(QStringLiteral("chromium"),
                   {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
                    QStringLiteral("--user-data-dir=") + profile.path(), QStringLiteral("--virtual-time-budget=3000"),
                    QStringLiteral("--dump-dom"), QUrl::fromLocalFile(page).toString()});
    if (!chromium.waitForFinished(120000))
        return QByteArray();
    return chromium.readAllStandardOutput();
}

}  // namespace

class OutsideReadersTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { ResetRunFlags(); }
    void cleanup();
    void everyTypeReadBack_data();
    void everyTypeReadBack();
    void pageRunsNothing();
    void pageLoadsNothing();

private:
    // Saves the archive in the given type below dest; the output root.
    QString save(const QByteArray &archive, SaveType type, const QString &dest);
    // The saved page of a one-message archive with this body.
    QString savedPage(const QString &body, const QString &dest);

    std::unique_ptr<ArchiveFile> m_archive;
    QString m_python;
    int m_pastedQuoteLines = 0;  // report lines of Windows-1252 bodies holding UTF-8 quotes
};

void OutsideReadersTest::initTestCase()
{
    m_python = pythonWithCalendars();
    QVERIFY2(!m_python.isEmpty(), "python3 with icalendar and recurring_ical_events is missing: run .ci/install-deps");
    for (const char *reader : {"mshow", "mu", "chromium"})
        QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(reader)).isEmpty(),
                 qPrintable(QStringLiteral("%1 is missing: run .ci/install-deps").arg(reader)));
}

void OutsideReadersTest::cleanup()
{
    FreeScanState();
    m_archive.reset();
}

QString OutsideReadersTest::save(const QByteArray &archive, SaveType type, const QString &dest)
{
    m_archive.reset(new ArchiveFile(archive));
    scanBytes(archive);
    QString error;
    if (!m_archive->isOpen() || !StartTestSave(type, dest, &error)) {
        qWarning() << "save start failed" << error;
        return QString();
    }
    QMailSavingThread thread;
    if (!thread.SetInitialSettings(QString(), IndexFor(type)) || !thread.wait(120000))
        return QString();
    const SaveOutcome outcome = thread.outcome();
    // Nothing is lost of these archives: a message saved incomplete is a fault too. Only a
    // contact's fields that no vCard holds (the sample's custom fields) may be left out.
    QStringList lost = outcome.failures;
    // A body with a damaged byte is named so, and only such a body.
    for (const QString &line : outcome.incompletes) {
        const bool damagedProse = line.startsWith(QLatin1String("Mail \"Damaged "))
            && line.endsWith(QLatin1String("incomplete: its body was read as UTF-8 with 1 damaged byte each shown as a "
                                           "replacement character"));
        const bool pastedQuotes = line.startsWith(QLatin1String("Mail \"Prose "))
            && line.contains(QLatin1String(" with UTF-8 quotes\" "))
            && line.endsWith(QLatin1String("incomplete: its body was read as Windows-1252 though it holds 2 UTF-8 "
                                           "characters, shown as Windows-1252 reads them"));
        m_pastedQuoteLines += pastedQuotes;
        if (!line.contains(QLatin1String("no vCard field holds")) && !damagedProse && !pastedQuotes)
            lost << line;
    }
    if (!lost.isEmpty()) {
        qWarning().noquote() << lost.join(QLatin1Char('\n'));
        return QString();
    }
    const QString root = OutputRootFor(type, saveDir, strTime);
    FreeScanState();
    m_archive.reset();
    return root;
}

QString OutsideReadersTest::savedPage(const QString &body, const QString &dest)
{
    TestArchiveBuilder b;
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Page");
    m.sent = QStringLiteral("2020-01-01T10:00:00");
    m.from = {{QStringLiteral("x@example.com"), QStringLiteral("X")}};
    m.body = body;
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00000.xml"), OlmXml::emails({m}));
    const QString root = save(b.finish(), SaveTypeHTML, dest);
    if (root.isEmpty())
        return QString();
    QDirIterator pages(root, {QStringLiteral("*.htm")}, QDir::Files, QDirIterator::Subdirectories);
    return pages.hasNext() ? pages.next() : QString();
}

void OutsideReadersTest::everyTypeReadBack_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QByteArray>("zone");
    QFile sample(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray sampleBytes = sample.readAll();
    const QByteArray generated = generatedArchive();
    for (const char *zone : {"UTC", "Europe/Berlin"}) {
        QTest::newRow(qPrintable(QStringLiteral("sample, %1").arg(zone))) << sampleBytes << QByteArray(zone);
        QTest::newRow(qPrintable(QStringLiteral("generated, %1").arg(zone))) << generated << QByteArray(zone);
    }
    QTest::newRow("odd messages, Europe/Berlin") << oddArchive() << QByteArray("Europe/Berlin");
    QTest::newRow("mended messages, Pacific/Chatham") << mendedArchive() << QByteArray("Pacific/Chatham");
    QTest::newRow("forwarded messages and Western prose, America/New_York") << forwardedArchive()
                                                                             << QByteArray("America/New_York");
    QTest::newRow("damaged prose, declared charsets, inline picture, Asia/Tokyo")
        << readerCasesArchive() << QByteArray("Asia/Tokyo");
}

void OutsideReadersTest::everyTypeReadBack()
{
    QFETCH(QByteArray, archive);
    QFETCH(QByteArray, zone);
    qputenv("TZ", zone);
    tzset();
    QTemporaryDir dest;
    QFile copy(dest.filePath(QStringLiteral("archive.olm")));
    QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(archive) == archive.size());
    copy.close();
    QStringList args{QStringLiteral(OLM_SOURCE_DIR "/tests/save/outside_readers.py"), copy.fileName()};
    m_pastedQuoteLines = 0;
    int types = 0;
    for (const SaveType type : {SaveTypeRGE, SaveTypeMBOX, SaveTypeEMLX, SaveTypeEML, SaveTypeHTML}) {
        if (IndexFor(type) < 0) {
            args << QStringLiteral("-");
            continue;
        }
        ++types;
        const QString out = dest.filePath(QString::number(int(type)));
        QVERIFY(QDir().mkpath(out));
        const QString root = save(archive, type, out);
        QVERIFY2(!root.isEmpty(), "the save did not finish cleanly");
        args << root;
    }
    QProcess check;
    check.start(m_python, args);
    QVERIFY(check.waitForFinished(300000));
    const QString output = QString::fromUtf8(check.readAllStandardOutput());
    QVERIFY2(check.exitCode() == 0, check.readAllStandardError().constData());
    const QStringList problems = output.split(QLatin1Char('\n')).filter(QLatin1String("PROBLEM"));
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    // Where a mail server's tools are installed, the mailbox went through them; mu found the
    // subject of the long Cyrillic message by its last word.
    if (!QStandardPaths::findExecutable(QStringLiteral("doveadm")).isEmpty())
        QVERIFY2(output.contains(QLatin1String("doveadm|")), qPrintable(output));
    // Each readable forwarded message reads back as an attached message in types 1 to 4, and the
    // mail server names it with its envelope.
    if (QString::fromUtf8(QTest::currentDataTag()).startsWith(QLatin1String("forwarded"))) {
        // Each type names the six Windows-1252 bodies holding UTF-8 quotes.
        QCOMPARE(m_pastedQuoteLines, 6 * types);
        for (const char *subject : {"Inner plain", "Inner with attachment", "Inner LF lines", "Inner mixed lines"}) {
            const QString line = QStringLiteral("attached message|") + QLatin1String(subject);
            QVERIFY2(output.count(line) == 4, qPrintable(output));
            if (!QStandardPaths::findExecutable(QStringLiteral("doveadm")).isEmpty())
                QVERIFY2(output.contains(QStringLiteral("doveadm envelope|") + QLatin1String(subject)), qPrintable(output));
        }
    }
    // Damaged prose reads as UTF-8 in every type; declared charsets are what the part is written in,
    // so Chromium shows the text of each HTML body opened from every type; the page shows the
    // picture's own pixels between the texts around it.
    if (QString::fromUtf8(QTest::currentDataTag()).startsWith(QLatin1String("damaged"))) {
        for (const char *script : {"Russian", "Chinese", "Greek", "Arabic", "Hebrew", "Czech", "French decomposed",
                                   "Vietnamese decomposed", "IPA", "Syriac", "Thaana", "NKo", "English", "Emoji"})
            QVERIFY2(output.count(QStringLiteral("damaged prose|Damaged %1 prose").arg(QLatin1String(script))) == 5,
                     qPrintable(output));
        for (const char *subject : {"HTML declaring Windows-1252", "HTML declaring ISO-8859-1", "HTML declaring UTF-8",
                                    "HTML declaring Windows-1252 in its bytes"})
            QVERIFY2(output.count(QStringLiteral("chromium text|") + QLatin1String(subject) + QLatin1Char('\n')) == 5,
                     qPrintable(output));
        for (const char *subject : {"Inline picture", "Inline picture in a style", "Inline picture in a style sheet"})
            QVERIFY2(output.contains(QStringLiteral("page picture|%1|shown").arg(QLatin1String(subject))),
                     qPrintable(output));
        // mu showed each long Thai, Bengali, Devanagari and mixed subject whole, in each of the
        // three types it reads.
        QVERIFY2(output.count(QLatin1String("mu subject|")) == 15, qPrintable(output));
    }
    if (QString::fromUtf8(QTest::currentDataTag()).startsWith(QLatin1String("mended")))
        QVERIFY2(output.contains(QStringLiteral("mu find|subject:итоги")), qPrintable(output));
    if (archive.size() > 100000) {
        // The sample's weekly meeting: 27 Mondays at 11:30 Mountain time, across the November
        // clock change; its two repeating tasks 27 and 53 times.
        QVERIFY2(output.contains(QLatin1String("Weekly Recurring meeting|27|2018-06-18T11:30:00-06:00,"
                                               "2018-12-17T11:30:00-07:00")),
                 qPrintable(output));
        QVERIFY2(output.contains(QLatin1String("recurring task|27|")) && output.contains(QLatin1String("recurring task|53|")),
                 qPrintable(output));
    }
}

void OutsideReadersTest::pageRunsNothing()
{
    OlmXml::MailItem m;
    const QString picture = QStringLiteral("data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");
    m.body = OlmXml::escape(
        QStringLiteral("<html><head><meta http-equiv=\"refresh\" content=\"0;url=https://example.invalid/\"></head>"
                       "<body><p>Visible text</p>"
                       "<script>document.body.setAttribute('data-ran', 'script')</script>"
                       "<img id=\"pic\" src=\"%1\" alt=\"pic\">"
                       "<img src=\"missing.png\" onerror=\"document.body.setAttribute('data-ran', 'onerror')\">"
                       "<iframe srcdoc=\"<script>parent.document.body.setAttribute('data-ran','frame')</script>\"></iframe>"
                       "<form action=\"https://example.invalid/post\"><input name=\"q\"></form>"
                       "<a href=\"javascript:document.body.setAttribute('data-ran','link')\">link</a>"
                       "</body></html>")
            .arg(picture));
    QTemporaryDir dest;
    const QString page = savedPage(m.body, dest.path());
    QVERIFY(!page.isEmpty());
    const QByteArray dom = chromiumDom(page);
    QVERIFY2(dom.contains("Visible text"), dom.constData());
    QVERIFY2(!dom.contains("data-ran"), dom.constData());
    QVERIFY2(dom.contains("id=\"pic\"") && dom.contains("data:image/png"), dom.constData());
    QVERIFY2(!dom.contains("<script") && !dom.contains("onerror") && !dom.contains("<iframe"), dom.constData());
}

// A message holding every kind of remote reference, and scripts that would call home when run,
// opens without one request to a local web server: with the page's policy line, and without it,
// where the filter alone holds. A control page shows that the server would see a request.
void OutsideReadersTest::pageLoadsNothing()
{
    QProcess server;
    server.start(m_python, {QStringLiteral(OLM_SOURCE_DIR "/tests/save/request_log.py")});
    QVERIFY(server.waitForStarted(30000) && server.waitForReadyRead(30000));
    const int port = server.readLine().trimmed().toInt();
    QVERIFY(port > 0);
    const QString at = QStringLiteral("http://127.0.0.1:%1/").arg(port);
    const QString call = QStringLiteral("new Image().src='%1ran-").arg(at);
    const QString body =
        QStringLiteral("<html><head><link rel=stylesheet href=\"%1link.css\"><link rel=prefetch href=\"%1prefetch\">"
                       "<style>@import url(%1import.css); body { background: url(%1css-url.png) }</style></head>"
                       "<body background=\"%1body.png\"><p>Visible text</p><img src=\"%1img.png\"><img srcset=\"%1srcset.png 2x\">"
                       "<video poster=\"%1poster.png\"></video><audio src=\"%1audio.mp3\" autoplay></audio>"
                       "<table background=\"%1background.png\"><tr><td style=\"background:url(%1style.png)\">c</td>"
                       "</tr></table><noscript><p title=\"</noscript><img src=x onerror=%2noscript'>\"></noscript>"
                       "<img src=x onerror=\"%2onerror'\"><a id=link href=\"&#106;avascript:%2link'\">l</a>"
                       "<a id=web href=\"https://example.com/\">web</a></body></html>")
            .arg(at, call);
    QTemporaryDir dest;
    const QString page = savedPage(OlmXml::escape(body), dest.path());
    QVERIFY(!page.isEmpty());
    QFile saved(page);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QByteArray bare = saved.readAll();
    const int policy = bare.indexOf("<meta http-equiv=\"Content-Security-Policy\"");
    QVERIFY(policy > 0);
    bare.remove(policy, bare.indexOf('\n', policy) - policy);
    const QString barePage = dest.filePath(QStringLiteral("without-policy.htm"));
    const QString controlPage = dest.filePath(QStringLiteral("control.htm"));
    QFile bareFile(barePage), control(controlPage);
    QVERIFY(bareFile.open(QIODevice::WriteOnly) && bareFile.write(bare) == bare.size());
    QVERIFY(control.open(QIODevice::WriteOnly) && control.write("<img src=\"" + at.toUtf8() + "control.png\">") > 0);
    bareFile.close();
    control.close();

    for (const QString &opened : {page, barePage, controlPage}) {
        const QByteArray dom = chromiumDom(opened);
        if (opened == controlPage)
            continue;
        QVERIFY2(dom.contains("Visible text") && dom.contains("href=\"https://example.com/\""), dom.constData());
    }
    server.closeWriteChannel();
    QVERIFY(server.waitForFinished(30000));
    const QStringList requests = QString::fromUtf8(server.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(requests == QStringList{QStringLiteral("GET /control.png")}, qPrintable(requests.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(OutsideReadersTest)
#include "tst_outsidereaders.moc"
