// The message writer's From_ line and header block: From_ and Date lines across zones and
// missing times, address lists, subject words, sender names, and the header set of both
// mailbox formats.

#include "save/AttachmentIndex.h"
#include "save/mail/MailHeaders.h"
#include "save/mail/MailWriter.h"

#include "OlmXml.h"
#include "scanner/ScanGlobals.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

#include <ctime>

namespace {

const quint32 kTime = 1796563583;  // 2026-12-06 13:26:23 UTC, a Sunday
const char kInbox[] = "Local/com.microsoft.__Messages/Inbox/message_00000.xml";

void setZone(const QByteArray &tz)
{
    qputenv("TZ", tz);
    tzset();
}

const MailFormatStyle &styleFor(const QString &name)
{
    return name == QLatin1String("rge") ? RgePackageStyle() : AppleMailStyle();
}

// The From_ line and header block the writer produces for one record, read back from disk.
QByteArray messageHead(const MailMLRC &rec, const MailMessageFields &fields, const MailFormatStyle &style,
                       const QByteArray *xml = nullptr)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("m.mbox"));
    MailOutput out;
    if (!out.openAppend(path))
        return "<open failed>";
    const AttachmentIndex none;
    MailMessage message{rec, fields, style, out, none};
    message.xml = xml;
    WriteFromLine(message);
    WriteMailHeaders(message);
    if (!out.close())
        return "<close failed>";
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<read failed>");
}

// The line of head that starts with prefix, its line end included; empty when there is none.
QByteArray lineStarting(const QByteArray &head, const QByteArray &prefix, const QByteArray &end)
{
    const int at = head.startsWith(prefix) ? 0 : head.indexOf(end + prefix);
    if (at < 0)
        return QByteArray();
    const int from = at == 0 && head.startsWith(prefix) ? 0 : at + end.size();
    const int stop = head.indexOf(end, from);
    return head.mid(from, stop < 0 ? -1 : stop - from + end.size());
}

} // namespace

class MailHeadersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void timeLines_data();
    void timeLines();
    void datesOutsideRecord_data();
    void datesOutsideRecord();
    void addressList_data();
    void addressList();
    void thousandsOfRecipients();
    void subjectWord_data();
    void subjectWord();
    void headerBlock_data();
    void headerBlock();
    void senderLine_data();
    void senderLine();
    void headerSafe_data();
    void identifiers_data();
    void identifiers();
    void headerSafe();
    void longNameWords_data();
    void longNameWords();

private:
    QByteArray m_oldTz;
};

void MailHeadersTest::initTestCase()
{
    m_oldTz = qgetenv("TZ");
    // Day and month names must stay English whatever the user's locale.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    setZone("CET-1");
}

void MailHeadersTest::cleanupTestCase()
{
    setZone(m_oldTz);
}

void MailHeadersTest::timeLines_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("outgoing");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<quint32>("sent");
    QTest::addColumn<quint32>("received");
    QTest::addColumn<QByteArray>("fromLine");  // "now": the current time, no User-Agent line
    QTest::addColumn<QByteArray>("dateLine");  // empty: no Date line

    const QString inbox = kInbox;
    const QString unfiled = QStringLiteral("Local/S/Archive/m.xml");
    const quint32 t = kTime, later = kTime + 3600;
    QTest::newRow("inbox, received, CET") << "apple" << QByteArray("CET-1") << 0 << inbox << later << t
        << QByteArray("From ???@??? Sun Dec 06 14:26:23 2026\n") << QByteArray("Date: Sun, 06 Dec 2026 14:26:23 +0100\n");
    QTest::newRow("inbox, India half-hour zone") << "apple" << QByteArray("IST-5:30") << 0 << inbox << 0u << t
        << QByteArray("From ???@??? Sun Dec 06 18:56:23 2026\n") << QByteArray("Date: Sun, 06 Dec 2026 18:56:23 +0530\n");
    QTest::newRow("inbox, zone west of UTC") << "apple" << QByteArray("EST5") << 0 << inbox << 0u << t
        << QByteArray("From ???@??? Sun Dec 06 08:26:23 2026\n") << QByteArray("Date: Sun, 06 Dec 2026 08:26:23 -0500\n");
    QTest::newRow("single-digit day, hour, minute and second") << "apple" << QByteArray("UTC0") << 0 << inbox << 0u
        << 981173106u << QByteArray("From ???@??? Sat Feb 03 04:05:06 2001\n")
        << QByteArray("Date: Sat, 03 Feb 2001 04:05:06 +0000\n");
    QTest::newRow("inbox without received time shows sent") << "apple" << QByteArray("UTC0") << 0 << inbox << t << 0u
        << QByteArray("From ???@??? Sun Dec 06 13:26:23 2026\n") << QByteArray("Date: Sun, 06 Dec 2026 13:26:23 +0000\n");
    QTest::newRow("outgoing '-' in the inbox shows sent") << "apple" << QByteArray("UTC0") << int('-') << inbox << t << later
        << QByteArray("From ???@??? Sun Dec 06 13:26:23 2026\n") << QByteArray("Date: Sun, 06 Dec 2026 13:26:23 +0000\n");
    QTest::newRow("sent items without sent time shows received") << "apple" << QByteArray("UTC0") << 1
        << "Local/S/Sent Items/m.xml" << 0u << t
        << QByteArray("From ???@??? Sun Dec 06 13:26:23 2026\n") << QByteArray("Date: Sun, 06 Dec 2026 13:26:23 +0000\n");
    QTest::newRow("deleted incoming without received time shows sent") << "apple" << QByteArray("UTC0") << 0
        << "Local/S/Deleted Items/m.xml" << t << 0u
        << QByteArray("From ???@??? Sun Dec 06 13:26:23 2026\n") << QByteArray("Date: Sun, 06 Dec 2026 13:26:23 +0000\n");
    QTest::newRow("unfiled incoming with both: From_ received, Date sent") << "apple" << QByteArray("UTC0") << 0 << unfiled
        << later << t << QByteArray("From ???@??? Sun Dec 06 13:26:23 2026\n")
        << QByteArray("Date: Sun, 06 Dec 2026 14:26:23 +0000\n");
    // The folder words count in the file name too, for messages of the same folder in turn.
    QTest::newRow("unfiled folder, Inbox in the file name") << "apple" << QByteArray("UTC0") << 0
        << "Local/S/Archive/Inbox copy.xml" << later << t << QByteArray("From ???@??? Sun Dec 06 13:26:23 2026\n")
        << QByteArray("Date: Sun, 06 Dec 2026 13:26:23 +0000\n");
    QTest::newRow("unfiled folder, Drafts in the file name") << "apple" << QByteArray("UTC0") << 0
        << "Local/S/Archive/Drafts.xml" << later << t << QByteArray("From ???@??? Sun Dec 06 14:26:23 2026\n")
        << QByteArray("Date: Sun, 06 Dec 2026 14:26:23 +0000\n");
    QTest::newRow("name without a folder, Sent Items in it") << "apple" << QByteArray("UTC0") << 0
        << "Sent Items.xml" << later << t << QByteArray("From ???@??? Sun Dec 06 14:26:23 2026\n")
        << QByteArray("Date: Sun, 06 Dec 2026 14:26:23 +0000\n");
    QTest::newRow("unfiled incoming without times: current time, no Date") << "apple" << QByteArray("UTC0") << 0 << unfiled
        << 0u << 0u << QByteArray("now") << QByteArray();
    QTest::newRow("unfiled outgoing without times: 1970, no Date") << "apple" << QByteArray("CET-1") << 1 << unfiled << 0u
        << 0u << QByteArray("From ???@??? Thu Jan 01 01:00:00 1970\n") << QByteArray();
    QTest::newRow("inbox without times: 1970 on the separator, no Date") << "apple" << QByteArray("CET-1") << 0 << inbox
        << 0u << 0u << QByteArray("From ???@??? Thu Jan 01 01:00:00 1970\n") << QByteArray();
    QTest::newRow("first second of 2038 is no negative time") << "apple" << QByteArray("UTC0") << 0 << inbox << 0u
        << 2147483648u << QByteArray("From ???@??? Tue Jan 19 03:14:08 2038\n")
        << QByteArray("Date: Tue, 19 Jan 2038 03:14:08 +0000\n");
    QTest::newRow("largest time") << "apple" << QByteArray("UTC0") << 0 << inbox << 0u << 4294967295u
        << QByteArray("From ???@??? Sun Feb 07 06:28:15 2106\n") << QByteArray("Date: Sun, 07 Feb 2106 06:28:15 +0000\n");
    QTest::newRow("package: zone text on the separator, numeric zone in Date") << "rge" << QByteArray("CET-1") << 0 << inbox << 0u << t
        << QByteArray("From ???@??? Sun Dec 06 14:26:23 2026 CET\r") << QByteArray("Date: Sun, 06 Dec 2026 14:26:23 +0100\r");
    QTest::newRow("package: India") << "rge" << QByteArray("IST-5:30") << 0 << inbox << 0u << t
        << QByteArray("From ???@??? Sun Dec 06 18:56:23 2026 IST\r") << QByteArray("Date: Sun, 06 Dec 2026 18:56:23 +0530\r");
    QTest::newRow("package: unfiled without times is 1970, no Date") << "rge" << QByteArray("UTC0") << 0 << unfiled << 0u
        << 0u << QByteArray("From ???@??? Thu Jan 01 00:00:00 1970 UTC\r") << QByteArray();
    QTest::newRow("package: long zone name cut to five") << "rge" << QByteArray("ABCDEFG-2") << 0 << inbox << 0u << t
        << QByteArray("From ???@??? Sun Dec 06 15:26:23 2026 ABCDE\r") << QByteArray("Date: Sun, 06 Dec 2026 15:26:23 +0200\r");
}

void MailHeadersTest::timeLines()
{
    QFETCH(QString, style);
    QFETCH(QByteArray, zone);
    QFETCH(int, outgoing);
    QFETCH(QString, entry);
    QFETCH(quint32, sent);
    QFETCH(quint32, received);
    QFETCH(QByteArray, fromLine);
    QFETCH(QByteArray, dateLine);
    setZone(zone);
    MailMLRC rec{};
    rec.bOutgoing = quint8(outgoing);
    rec.dwSentTime = sent;
    rec.dwReceivedTime = received;
    MailMessageFields fields;
    fields.strEntryName = entry;
    const MailFormatStyle &s = styleFor(style);
    const QByteArray head = messageHead(rec, fields, s);
    setZone("CET-1");

    const QByteArray userAgent = "User-Agent: Microsoft-MacOutlook/14.0.0.100825" + s.lineEnd;
    if (fromLine == "now") {
        const QByteArray first = head.left(head.indexOf('\n') + 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^From \\?\\?\\?@\\?\\?\\? [A-Z][a-z]{2} [A-Z][a-z]{2} +\\d{1,2} "
                                                   "\\d\\d:\\d\\d:\\d\\d \\d{4}\\n$"))
                     .match(QString::fromLatin1(first)).hasMatch(), first.constData());
        QVERIFY(!head.contains("User-Agent"));
    } else {
        QVERIFY2(head.startsWith(fromLine + userAgent), head.constData());
    }
    QCOMPARE(lineStarting(head, "Date: ", s.dateLineEnd), dateLine);
}

// Times the record cannot hold (it keeps 0 for them) are read from the message's XML and written
// as they are; a text that is no date gives no Date line.
void MailHeadersTest::datesOutsideRecord_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<QByteArray>("timeText");
    QTest::addColumn<QByteArray>("fromLine");
    QTest::addColumn<QByteArray>("dateLine");
    QTest::addColumn<QByteArray>("zone");
    QTest::newRow("1960") << "apple" << QByteArray("1960-05-01T10:00:00")
                          << QByteArray("From ???@??? Sun May 01 11:00:00 1960\n")
                          << QByteArray("Date: Sun, 01 May 1960 11:00:00 +0100\n") << QByteArray("CET-1");
    QTest::newRow("2107, package") << "rge" << QByteArray(" 2107-03-04T05:06:07 ")
                                   << QByteArray("From ???@??? Fri Mar 04 06:06:07 2107 CET\r")
                                   << QByteArray("Date: Fri, 04 Mar 2107 06:06:07 +0100\r") << QByteArray("CET-1");
    QTest::newRow("no date: 1970 on the separator only") << "apple" << QByteArray("2018-13-45T99:99:99")
                                                         << QByteArray("From ???@??? Thu Jan 01 01:00:00 1970\n")
                                                         << QByteArray() << QByteArray("CET-1");
    QTest::newRow("no sent or received date: the separator takes the last change")
        << "apple" << QByteArray("|2018-06-20T23:49:52") << QByteArray("From ???@??? Thu Jun 21 00:49:52 2018\n")
        << QByteArray() << QByteArray("CET-1");
    QTest::newRow("1900-01-01 is a mail date") << "apple" << QByteArray("1900-01-01T00:00:00")
                                               << QByteArray("From ???@??? Mon Jan 01 01:00:00 1900\n")
                                               << QByteArray("Date: Mon, 01 Jan 1900 01:00:00 +0100\n")
                                               << QByteArray("CET-1");
    QTest::newRow("year 1: the first second mail dates allow") << "apple" << QByteArray("0001-01-01T00:00:00")
                                                                << QByteArray("From ???@??? Mon Jan 01 01:00:00 1900\n")
                                                                << QByteArray("Date: Mon, 01 Jan 1900 01:00:00 +0100\n")
                                                                << QByteArray("CET-1");
    QTest::newRow("1900-01-01 behind UTC: the zone's first second of 1900")
        << "apple" << QByteArray("1900-01-01T00:00:00") << QByteArray("From ???@??? Mon Jan 01 00:00:00 1900\n")
        << QByteArray("Date: Mon, 01 Jan 1900 00:00:00 -0500\n") << QByteArray("EST5");
    QTest::newRow("year 9999 ahead of UTC: never a fifth digit")
        << "apple" << QByteArray("9999-12-31T23:30:00") << QByteArray("From ???@??? Fri Dec 31 23:59:59 9999\n")
        << QByteArray("Date: Fri, 31 Dec 9999 23:59:59 +0100\n") << QByteArray("CET-1");
    QTest::newRow("a leap second is a time") << "apple" << QByteArray("2016-12-31T23:59:60")
                                             << QByteArray("From ???@??? Sun Jan 01 00:59:59 2017\n")
                                             << QByteArray("Date: Sun, 01 Jan 2017 00:59:59 +0100\n")
                                             << QByteArray("CET-1");
}

void MailHeadersTest::datesOutsideRecord()
{
    QFETCH(QString, style);
    QFETCH(QByteArray, timeText);
    QFETCH(QByteArray, fromLine);
    QFETCH(QByteArray, dateLine);
    QFETCH(QByteArray, zone);
    setZone(zone);
    // "received|modified"
    const QList<QByteArray> times = timeText.split('|');
    const QByteArray xml = "<email><OPFMessageCopyReceivedTime xml:space=\"preserve\">" + times.first()
                           + "</OPFMessageCopyReceivedTime><OPFMessageCopyModDate>" + times.value(1)
                           + "</OPFMessageCopyModDate></email>";
    MailMLRC rec{};
    MailMessageFields fields;
    fields.strEntryName = kInbox;
    const MailFormatStyle &s = styleFor(style);
    const QByteArray head = messageHead(rec, fields, s, &xml);
    QVERIFY2(head.startsWith(fromLine), head.constData());
    QCOMPARE(lineStarting(head, "Date: ", s.dateLineEnd), dateLine);
    // The Date line of a message file is left out alike.
    QCOMPARE(lineStarting(messageHead(rec, fields, EmlxStyle(), &xml), "Date: ", "\n"),
             QByteArray(dateLine).replace('\r', '\n'));
}

void MailHeadersTest::identifiers_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("needsDomain");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("valid id as it is") << "<a.b@c.example>" << true << QByteArray("ID: <a.b@c.example>\n");
    QTest::newRow("domain literal") << "<a@[10.0.0.1]>" << true << QByteArray("ID: <a@[10.0.0.1]>\n");
    QTest::newRow("doubled brackets dropped") << "<<a@b>>" << true << QByteArray("ID: <a@b>\n");
    QTest::newRow("references were undone when read: not again")
        << "a&amp;lt;b@x" << false << QByteArray("X-Original-ID: a&amp;lt;b@x\n");
    QTest::newRow("quote, blank and semicolon: kept apart")
        << "<a\"b c;d@example.com>" << true << QByteArray("X-Original-ID: <a\"b c;d@example.com>\n");
    QTest::newRow("line break inside: kept apart, on one line")
        << "<rcpt@example.com\r\nX-Injected: yes>" << true << QByteArray("X-Original-ID: <rcpt@example.com  X-Injected: yes>\n");
    QTest::newRow("no domain: kept apart for a Message-ID") << "<<double>>" << true << QByteArray("X-Original-ID: <<double>>\n");
    QTest::newRow("no domain: kept for a Content-ID") << "image001.png" << false << QByteArray("ID: <image001.png>\n");
    QTest::newRow("non-ASCII kept apart as encoded words")
        << QStringLiteral("<\u00e9@x>") << true << QByteArray("X-Original-ID: =?UTF-8?B?POkAQHg+?=\n").replace("POkAQHg+", QStringLiteral("<\u00e9@x>").toUtf8().toBase64());
    QTest::newRow("blank: nothing") << "  " << true << QByteArray();
}

void MailHeadersTest::identifiers()
{
    QFETCH(QString, id);
    QFETCH(bool, needsDomain);
    QFETCH(QByteArray, expected);
    QCOMPARE(IdentifierLine("ID", id, needsDomain, "\n"), expected);
}

void MailHeadersTest::addressList_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("entities");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("one entry") << "a@x.org;" << 3 << QByteArray("<a@x.org>");
    QTest::newRow("three entries, two separators") << "a@x;b@x;c@x;" << 3
        << QByteArray("<a@x>,\r\t<b@x>,\r\t<c@x>");
    QTest::newRow("last address repeated: no separator after it") << "a@x;b@x;a@x;" << 3
        << QByteArray("<a@x>,\r\t<b@x>,\r\t<a@x>");
    QTest::newRow("empty entry left out") << "a@x;;" << 4 << QByteArray("<a@x>");
    QTest::newRow("no separator: no entries") << "a@x" << 3 << QByteArray();
    QTest::newRow("non-ASCII as encoded word, address in UTF-8") << QStringLiteral("j\u00f6rg@x.de;") << 3
        << QByteArray("<j\xc3\xb6rg@x.de>");
    QTest::newRow("quote and backslash escaped in a quoted local part") << "a\"b\\c@x;" << 3
        << QByteArray("<\"a\\\"b\\\\c\"@x>");
    QTest::newRow("comma in the local part: quoted, one recipient") << "a,b@example.com;" << 3
        << QByteArray("<\"a,b\"@example.com>");
    QTest::newRow("angle bracket in the local part") << "x<y@example.com;" << 3 << QByteArray("<\"x<y\"@example.com>");
    QTest::newRow("dots out of place") << ".a..b@x;" << 3 << QByteArray("<\".a..b\"@x>");
    QTest::newRow("quoted local part kept") << "\"a b\"@x;" << 3 << QByteArray("<\"a b\"@x>");
    QTest::newRow("last @ splits local part and domain") << "a@b@x;" << 3 << QByteArray("<\"a@b\"@x>");
    QTest::newRow("domain outside ASCII in its ASCII form") << QStringLiteral("a@b\u00fccher.de;") << 3
        << QByteArray("<a@xn--bcher-kva.de>");
    QTest::newRow("domain the IDNA rules refuse in punycode") << QStringLiteral("u@\U0001F600.example;") << 3
        << QByteArray("<u@xn--e28h.example>");
    QTest::newRow("letters and emoji in punycode") << QStringLiteral("a@\u00c4\U0001F600b\U0001F603.mail.example;") << 3
        << QByteArray("<a@xn--b-zfa66959ana.mail.example>");
    QTest::newRow("no specials: no quotes") << "/O=EX/CN=JANE;" << 3 << QByteArray("</O=EX/CN=JANE>");
    QTest::newRow("encoded-word look-alike is quoted") << "=?x?=;" << 3 << QByteArray("<=?x?=>");
    QTest::newRow("CR and LF become spaces") << "a\r\nb@x;" << 3 << QByteArray("<\"a  b\"@x>");
    QTest::newRow("text after a blank in the domain is shown as the name")
        << "rcpt@example.com\r\nX-Injected-To: yes;" << 3
        << QByteArray("\"rcpt@example.com  X-Injected-To: yes\" <rcpt@example.com>");
    QTest::newRow("a second address after a blank is shown as the name")
        << "rc@example.com other@evil.example;" << 3
        << QByteArray("\"rc@example.com other@evil.example\" <rc@example.com>");
    QTest::newRow("a header after a line break in the address") << "rc@example.com&#13;&#10;Bcc: x@evil.example;" << 3
        << QByteArray("\"rc@example.com  Bcc: x@evil.example\" <rc@example.com>");
    QTest::newRow("To decodes the three entities") << "a&amp;b@x;c&nbsp;d;" << 3
        << QByteArray("<a&b@x>,\r\t<c d>");
    QTest::newRow("To: references left in an address decoded") << "a&amp;x;b&gt;c@x;" << 3
        << QByteArray("<a&x>,\r\t<\"b>c\"@x>");
    QTest::newRow("Cc decodes &gt; when the gate opens") << "a&amp;x;b&gt;c@x;" << 4
        << QByteArray("<a&x>,\r\t<\"b>c\"@x>");
    QTest::newRow("&gt; alone decoded") << "b&gt;c@x;" << 4 << QByteArray("<\"b>c\"@x>");
    QTest::newRow("undecoded entity keeps its entry whole") << "o&apos;brien@x;z@x;" << 4
        << QByteArray("<o'brien@x>,\r\t<z@x>");
    QTest::newRow("ampersand word is no entity") << "AT&T;z@x;" << 4 << QByteArray("<AT&T>,\r\t<z@x>");
}

void MailHeadersTest::addressList()
{
    QFETCH(QString, list);
    QFETCH(int, entities);
    QFETCH(QByteArray, expected);
    QCOMPARE(FormatAddressList(list, entities, AppleMailStyle()), expected);
}

void MailHeadersTest::thousandsOfRecipients()
{
    QList<OlmXml::Address> to;
    for (int i = 0; i < 3000; ++i)
        to.append({QStringLiteral("person%1@example.org").arg(i), QStringLiteral("Person %1").arg(i)});
    OlmXml::MailItem m;
    m.to = to;
    const QByteArray xml = OlmXml::emails({m});
    // The preview keeps its limit; the writers keep the whole list.
    QVERIFY(ParseMessageXml(xml).strToList.isEmpty());
    const MailMessageFields f = ParseMessageXml(xml, MessageIdForm::AngleBrackets, AddressListLimit::Unlimited);
    const QByteArray line = FormatAddressList(f.strToList, 3, AppleMailStyle(), f.toRecipients);
    const QList<QByteArray> entries = line.split('\t');
    QCOMPARE(entries.size(), 3000);
    QCOMPARE(entries.first(), QByteArray("Person 0 <person0@example.org>,\r"));
    QCOMPARE(entries.last(), QByteArray("Person 2999 <person2999@example.org>"));
}

void MailHeadersTest::subjectWord_data()
{
    QTest::addColumn<QByteArray>("subject");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("ASCII") << QByteArray("Hello") << QByteArray("=?UTF-8?B?SGVsbG8=?=");
    QTest::newRow("empty") << QByteArray("") << QByteArray("=?UTF-8?B?" "?=");
    QTest::newRow("Korean, bytes as stored") << QByteArray("\xec\x9a\xb0") << QByteArray("=?UTF-8?B?7Jqw?=");
    QTest::newRow("invalid UTF-8 encoded unchanged") << QByteArray("\xe9t\xe9") << QByteArray("=?UTF-8?B?6XTp?=");
    // Every remainder of a length divided by three, and every value of a six-bit digit.
    for (const char *bytes : {"a", "ab", "\xff\xfe\xfd\xfc", "\x80\x01\xfe\x7f\xbf"})
        QTest::newRow(qPrintable(QStringLiteral("%1 bytes").arg(std::strlen(bytes))))
            << QByteArray(bytes) << QByteArray("=?UTF-8?B?" + QByteArray(bytes).toBase64() + "?=");
    QByteArray everyByte;
    for (int b = 1; b < 256; ++b)
        everyByte += char(b);
    // Longer ones: words folded apart (checked below by decoding them).
    QTest::newRow("every byte value") << everyByte << QByteArray();
    QTest::newRow("long subject") << QByteArray(3000, 'x') << QByteArray();
    QTest::newRow("long subject in a three-byte script") << QString(700, QChar(0x4E2D)).toUtf8() << QByteArray();
    QTest::newRow("four-byte characters at every offset") << QByteArray("ab") + QByteArray("\xf0\x9f\x98\x80").repeated(40)
                                                           << QByteArray();
    QTest::newRow("two-byte script with spaces")
        << QStringLiteral("Отчёт о продажах за третий квартал 2018 года — итоги").repeated(3).toUtf8() << QByteArray();
    QTest::newRow("whole words: ideographs between Latin words")
        << QStringLiteral("議事録議事録議事録議事録Namesakeword議事録議事録議事録Namesakeword").repeated(3).toUtf8()
        << QByteArray();
}

void MailHeadersTest::subjectWord()
{
    QFETCH(QByteArray, subject);
    QFETCH(QByteArray, expected);
    const QByteArray words = EncodeSubjectWord(subject.constData(), "\r\n ");
    if (!expected.isEmpty()) {
        QCOMPARE(words, expected);
        return;
    }
    // Each word on its own folded line, within RFC 2047's 75 characters, whole characters in
    // each (valid UTF-8 stays valid word by word), and all of them together the subject.
    const bool utf8 = QString::fromUtf8(subject).toUtf8() == subject;
    QByteArray joined;
    const QList<QByteArray> lines = words.split('\n');
    for (const QByteArray &line : lines) {
        const QByteArray word = line.trimmed();
        QVERIFY2(word.startsWith("=?UTF-8?B?") && word.endsWith("?=") && word.size() <= 75, word.constData());
        const QByteArray bytes = QByteArray::fromBase64(word.mid(10, word.size() - 12));
        if (utf8)
            QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes);
        // A padded word before another ends what GMime reads of the subject.
        if (&line != &lines.last())
            QVERIFY2(!word.contains("=?="), word.constData());
        // Where the text has spaces, the words part at one; where it has none, a word of a
        // script written with blanks is not cut where an ideograph gives another place.
        if (&line != &lines.last() && subject.count(' ') > subject.size() / 12)
            QVERIFY2(bytes.endsWith(' ') || subject.at(joined.size() + bytes.size()) == ' ', bytes.constData());
        if (&line != &lines.last() && QByteArray(QTest::currentDataTag()).startsWith("whole words"))
            QVERIFY2(quint8(bytes.at(bytes.size() - 1)) >= 0x80 && quint8(bytes.at(bytes.size() - 2)) >= 0x80
                         && quint8(bytes.at(bytes.size() - 3)) >= 0xE0,
                     bytes.constData());
        joined += bytes;
    }
    QCOMPARE(joined, subject);
}

void MailHeadersTest::headerBlock_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<QByteArray>("subject");    // null: the record has none
    QTest::addColumn<QByteArray>("fromNames");  // null: none
    QTest::addColumn<QString>("fromList");
    QTest::addColumn<QString>("messageId");
    QTest::addColumn<QString>("contentIds");
    QTest::addColumn<int>("priority");
    QTest::addColumn<QByteArray>("expected");  // everything after the User-Agent line

    const QByteArray date = "Date: Sun, 06 Dec 2026 14:26:23 +0100\n";
    const QByteArray tail = "Mime-version: 1.1\n";
    QTest::newRow("full set") << "apple" << QByteArray("Hi") << QByteArray("J\xc3\xb6rg M\xc3\xbcller;")
        << "j@x.de;" << "<id@x>" << "no;" << int('2')
        << QByteArray("Subject: =?UTF-8?B?SGk=?=\nFrom: =?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= <j@x.de>\nTo: <a@x>\n")
               + date + "Thread-Topic: Hi\nX-Priority: 1\nMessage-ID: <id@x>\nX-MS-Has-Attach: yes\n" + tail;
    QTest::newRow("package: CR ends, priority CR LF, numeric zone") << "rge" << QByteArray("Hi") << QByteArray("Sender;")
        << "s@x;" << "<id@x>" << "" << int('4')
        << QByteArray("Subject: =?UTF-8?B?SGk=?=\rFrom: Sender <s@x>\rTo: <a@x>\r"
                      "Date: Sun, 06 Dec 2026 14:26:23 +0100\rThread-Topic: Hi\rX-Priority: 4\r\n"
                      "Message-ID: <id@x>\rX-MS-Has-Attach: \rMime-version: 1.1\r");
    QTest::newRow("no subject, no sender names, last sender") << "apple" << QByteArray() << QByteArray()
        << "p@x;q@x;" << "" << "" << 0
        << QByteArray("From: <q@x>\nTo: <a@x>\n") + date + "X-MS-Has-Attach: \n" + tail;
    QTest::newRow("last of several names, quoted for its dot") << "apple" << QByteArray("S") << QByteArray("A;J. Doe;")
        << "a@x;j@x;" << "" << "" << 0
        << QByteArray("Subject: =?UTF-8?B?Uw==?=\nFrom: \"J. Doe\" <j@x>\nTo: <a@x>\n") + date
               + "Thread-Topic: S\nX-MS-Has-Attach: \n" + tail;
    QTest::newRow("controls in the topic become spaces") << "apple" << QByteArray("a\tb\x01") << QByteArray()
        << "" << "" << "" << 0
        << QByteArray("Subject: =?UTF-8?B?YQliAQ==?=\nTo: <a@x>\n") + date
               + "Thread-Topic: a b \nX-MS-Has-Attach: \n" + tail;
    QTest::newRow("encoded-word look-alike in the topic is encoded") << "apple" << QByteArray("=?x?=") << QByteArray()
        << "" << "" << "" << 0
        << QByteArray("Subject: =?UTF-8?B?PT94Pz0=?=\nTo: <a@x>\n") + date
               + "Thread-Topic: =?UTF-8?B?PT94Pz0=?=\nX-MS-Has-Attach: \n" + tail;
    QTest::newRow("long subject folded, topic encoded") << "apple" << QByteArray(1000, 's') << QByteArray() << ""
        << "" << "" << 0
        << "Subject: " + EncodeSubjectWord(QByteArray(1000, 's').constData()) + "\nTo: <a@x>\n" + date + "Thread-Topic: "
               + EncodeSubjectWord(QByteArray(1000, 's').constData()) + "\nX-MS-Has-Attach: \n" + tail;
    QTest::newRow("priority 3") << "apple" << QByteArray() << QByteArray() << "" << "" << "" << int('3')
        << QByteArray("To: <a@x>\n") + date + "X-Priority: 3\nX-MS-Has-Attach: \n" + tail;
    QTest::newRow("priority 4") << "apple" << QByteArray() << QByteArray() << "" << "" << "" << int('4')
        << QByteArray("To: <a@x>\n") + date + "X-Priority: 5\nX-MS-Has-Attach: \n" + tail;
    QTest::newRow("package: priority 3 has no digit") << "rge" << QByteArray() << QByteArray() << "" << "" << "" << int('3')
        << QByteArray("To: <a@x>\rDate: Sun, 06 Dec 2026 14:26:23 +0100\rX-Priority: \r\n"
                      "X-MS-Has-Attach: \rMime-version: 1.1\r");
    QTest::newRow("package: priority 2") << "rge" << QByteArray() << QByteArray() << "" << "" << "" << int('2')
        << QByteArray("To: <a@x>\rDate: Sun, 06 Dec 2026 14:26:23 +0100\rX-Priority: 2\r\n"
                      "X-MS-Has-Attach: \rMime-version: 1.1\r");
    QTest::newRow("unknown priority code: no line") << "apple" << QByteArray() << QByteArray() << "" << "" << "" << int('7')
        << QByteArray("To: <a@x>\n") + date + "X-MS-Has-Attach: \n" + tail;
    QTest::newRow("id without identifier: no Message-ID line") << "apple" << QByteArray() << QByteArray() << ""
        << "<>" << "" << 0 << QByteArray("To: <a@x>\n") + date + "X-MS-Has-Attach: \n" + tail;
}

void MailHeadersTest::headerBlock()
{
    QFETCH(QString, style);
    QFETCH(QByteArray, subject);
    QFETCH(QByteArray, fromNames);
    QFETCH(QString, fromList);
    QFETCH(QString, messageId);
    QFETCH(QString, contentIds);
    QFETCH(int, priority);
    QFETCH(QByteArray, expected);
    MailMLRC rec{};
    rec.pSubject = subject.isNull() ? nullptr : subject.data();
    rec.pFromNames = fromNames.isNull() ? nullptr : fromNames.data();
    rec.cPriority = char(priority);
    rec.dwReceivedTime = kTime;
    MailMessageFields f;
    f.strEntryName = kInbox;
    f.strFromList = fromList;
    f.strToList = QStringLiteral("a@x;");
    f.strMessageId = messageId;
    f.strAttachmentContentIds = contentIds;
    const MailFormatStyle &s = styleFor(style);
    const QByteArray head = messageHead(rec, f, s);
    const QByteArray userAgent = "User-Agent: Microsoft-MacOutlook/14.0.0.100825" + s.lineEnd;
    const int at = head.indexOf(userAgent);
    QVERIFY2(at > 0, head.constData());
    QCOMPARE(head.mid(at + userAgent.size()), expected);
}

void MailHeadersTest::senderLine_data()
{
    QTest::addColumn<QByteArray>("fromElement");  // the emailAddress entries
    QTest::addColumn<QByteArray>("recordNames");  // pFromNames as the scan keeps it; null: none
    QTest::addColumn<QByteArray>("expected");
    const auto entry = [](const char *address, const char *name) {
        QByteArray e = QByteArray("<emailAddress OPFContactEmailAddressAddress=\"") + address + '"';
        if (name)
            e += QByteArray(" OPFContactEmailAddressName=\"") + name + '"';
        return e + " OPFContactEmailAddressType=\"0\"></emailAddress>";
    };
    QTest::newRow("Korean name")
        << entry("k@x.kr", "\xea\xb9\x80\xec\xb2\xa0\xec\x88\x98") << QByteArray("\xea\xb9\x80\xec\xb2\xa0\xec\x88\x98;")
        << QByteArray("From: =?UTF-8?B?6rmA7LKg7IiY?= <k@x.kr>\n");
    QTest::newRow("entity in the name decoded once") << entry("t@x", "Tom &amp;amp; Jerry")
        << QByteArray("Tom &amp; Jerry;") << QByteArray("From: \"Tom &amp; Jerry\" <t@x>\n");
    QTest::newRow("commas kept in the written name") << entry("d@x", "O&apos;Brien, Pat")
        << QByteArray("O'Brien, Pat;") << QByteArray("From: \"O'Brien, Pat\" <d@x>\n");
    QTest::newRow("unnamed sender: the address alone") << entry("a@x", nullptr) << QByteArray()
        << QByteArray("From: <a@x>\n");
    QTest::newRow("last of two named senders") << entry("a@x", "A") + entry("b@x", "B") << QByteArray("A;B;")
        << QByteArray("From: B <b@x>\n");
    QTest::newRow("encoded-word look-alike is encoded, so it reads as written")
        << entry("e@x", "=?UTF-8?B?RXZpbA==?=") << QByteArray() << QByteArray("From: =?UTF-8?B?PT9VVEYtOD9CP1JYWnBiQT09Pz0=?= <e@x>\n");
    QTest::newRow("long name folded between its words") << entry("l@x", QByteArray(100, 'n').repeated(3).constData())
        << QByteArray() << QByteArray("From: =?UTF-8?B?" + QByteArray(45, 'n').toBase64() + "?=\n");
    QTest::newRow("record name when the XML gives none") << QByteArray("") << QByteArray("J\xc3\xb6rg;")
        << QByteArray();
}

void MailHeadersTest::senderLine()
{
    QFETCH(QByteArray, fromElement);
    QFETCH(QByteArray, recordNames);
    QFETCH(QByteArray, expected);
    const QByteArray xml = "<emails><email><OPFMessageCopyFromAddresses xml:space=\"preserve\">" + fromElement
                           + "</OPFMessageCopyFromAddresses></email></emails>";
    MailMessageFields f = ParseMessageXml(xml, MessageIdForm::AngleBrackets, AddressListLimit::Unlimited);
    if (fromElement.isEmpty()) {
        // No sender in the XML: the record's names still give the From line's name.
        f.strFromList = QStringLiteral("j@x;");
        expected = "From: =?UTF-8?B?SsO2cmc=?= <j@x>\n";
    }
    MailMLRC rec{};
    rec.pFromNames = recordNames.isNull() ? nullptr : recordNames.data();
    rec.dwReceivedTime = kTime;
    f.strEntryName = kInbox;
    QCOMPARE(lineStarting(messageHead(rec, f, AppleMailStyle()), "From: ", "\n"), expected);
}

// Bytes and text are scrubbed alike: every control character and DEL becomes one space, and
// nothing else changes (UTF-8 continuation bytes included).
void MailHeadersTest::headerSafe_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("safe");
    QTest::newRow("CR LF injection") << "a\r\nBcc: x" << "a  Bcc: x";
    QTest::newRow("TAB, NUL, DEL, unit separator") << QString::fromLatin1("a\tb\0c\x7f" "d\x1f", 8) << "a b c d ";
    QTest::newRow("printable ASCII untouched") << "Re: [x] <y> ~" << "Re: [x] <y> ~";
    QTest::newRow("non-ASCII untouched") << QString::fromUtf8("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC") << QString::fromUtf8("Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC");
    QTest::newRow("C1 controls are not ASCII controls") << QString(QChar(0x85)) << QString(QChar(0x85));
}

void MailHeadersTest::headerSafe()
{
    QFETCH(QString, value);
    QFETCH(QString, safe);
    QCOMPARE(HeaderSafe(value), safe);
    QCOMPARE(HeaderSafe(value.toUtf8()), safe.toUtf8());
}

QTEST_GUILESS_MAIN(MailHeadersTest)
void MailHeadersTest::longNameWords_data()
{
    QTest::addColumn<QString>("name");
    // Longer than the pieces the name is converted in, with characters of every UTF-8 length
    // and a surrogate pair across each piece boundary.
    const QString mixed = QString::fromUtf8("Ab\xC3\xA9 \xE6\x97\xA5\xF0\x9F\x98\x80x");
    QTest::newRow("ASCII, no blanks") << QString(200000, QLatin1Char('x'));
    QTest::newRow("every character length") << mixed.repeated(30000);
    QString pairs = QString(65535, QLatin1Char('y'));
    for (int i = 0; i < 4; ++i)
        pairs += QString::fromUtf8("\xF0\x9F\x98\x80") + QString(65534, QLatin1Char('z'));
    QTest::newRow("pairs across piece boundaries") << pairs;
}

// A long display name is converted a piece at a time and may be spilled to the output as it
// grows: the words decode to the name, each whole characters within the line limit, and the
// bytes are the same with or without the spill.
void MailHeadersTest::longNameWords()
{
    QFETCH(QString, name);
    const QByteArray fold = "\r\n ";
    QByteArray kept;
    AppendMailbox(kept, name, QStringLiteral("a@example.com"), fold);
    MailOutput out;
    out.openMemory(qint64(1) << 30);
    QByteArray spilled = "From: ";
    AppendMailbox(spilled, name, QStringLiteral("a@example.com"), fold, &out);
    out.write(spilled);
    QCOMPARE(out.takeMemory(), "From: " + kept);
    QVERIFY(kept.endsWith(" <a@example.com>"));
    QByteArray decoded;
    for (const QByteArray &word : kept.left(kept.size() - 16).split('\n')) {
        const QByteArray w = word.trimmed();
        QVERIFY2(w.size() <= 75 && w.startsWith("=?UTF-8?B?") && w.endsWith("?="), w.constData());
        const QByteArray bytes = QByteArray::fromBase64(w.mid(10, w.size() - 12));
        QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes);  // no character cut
        decoded += bytes;
    }
    QCOMPARE(QString::fromUtf8(decoded), name);
}

#include "tst_mailheaders.moc"
