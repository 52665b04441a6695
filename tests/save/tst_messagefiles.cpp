// The pieces of the one-file-per-message formats: file numbering that never reuses a name, the
// header set and date choice of each format, and the .htm page's head, date and body.

#include "platform/WholeFile.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/mail/MailFormatStyle.h"
#include "save/mail/MailHeaders.h"
#include "save/mail/MessageFiles.h"
#include "scanner/ScanGlobals.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

namespace {

const quint32 kSent = 1796563583;      // 2026-12-06 13:26:23 UTC
const quint32 kReceived = 1796570000;  // 2026-12-06 15:13:20 UTC

const MailFormatStyle &styleFor(const QString &name)
{
    if (name == QLatin1String("rge"))
        return RgePackageStyle();
    if (name == QLatin1String("mbox"))
        return AppleMailStyle();
    return name == QLatin1String("emlx") ? EmlxStyle() : name == QLatin1String("eml") ? EmlStyle() : HtmlStyle();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The From_ line and header block of one record in the style, read back from disk.
QByteArray messageHead(const MailMLRC &rec, const MailMessageFields &fields, const MailFormatStyle &style)
{
    QTemporaryDir dir;
    MailOutput out;
    if (!out.createNew(dir.path(), [&dir] { return dir.filePath(QStringLiteral("m")); }))
        return "<open failed>";
    const AttachmentIndex none;
    const MailMessage message{rec, fields, style, out, none};
    WriteFromLine(message);
    WriteMailHeaders(message);
    return out.close() ? readFile(dir.filePath(QStringLiteral("m"))) : QByteArray("<close failed>");
}

} // namespace

class MessageFilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup() { WholeFile::setUnnamedFilesAllowed(true); }
    void numbering_data();
    void numbering();
    void headerSet_data();
    void headerSet();
    void shownTime_data();
    void shownTime();
    void pageHead();
    void pageBody_data();
    void pageBody();
    void recipientLines_data();
    void recipientLines();
};

void MessageFilesTest::initTestCase()
{
    qputenv("TZ", "UTC");
    tzset();
}

void MessageFilesTest::numbering_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("unnamed");  // files made unnamed; else under a hidden part name
    for (const char *format : {"emlx", "eml", "htm"}) {
        QTest::addRow("%s", format) << QString::fromLatin1(format) << true;
        QTest::addRow("%s, part names", format) << QString::fromLatin1(format) << false;
    }
}

void MessageFilesTest::numbering()
{
    QFETCH(QString, format);
    QFETCH(bool, unnamed);
    WholeFile::setUnnamedFilesAllowed(unnamed);
    const MailFormatStyle &style = styleFor(format);
    QTemporaryDir dir;
    const QString inbox = dir.filePath(QStringLiteral("Inbox/"));
    const QString other = dir.filePath(QStringLiteral("Other/"));
    // An earlier save left 1 and 3; a folder stands at 4.
    QVERIFY(QDir().mkpath(inbox + QStringLiteral("4") + style.fileExtension));
    QVERIFY(writeFile(inbox + QStringLiteral("1") + style.fileExtension, "earlier one"));
    QVERIFY(writeFile(inbox + QStringLiteral("3") + style.fileExtension, "earlier three"));
    MailSaveContext context;
    QStringList made;
    // Two folders of the save share the path Inbox; a third has its own.
    for (const QString &folder : {inbox, inbox, other, inbox}) {
        MailOutput out;
        QString path, error;
        QVERIFY2(OpenMessageFile(out, style, context, folder, &path, &error), qPrintable(error));
        QVERIFY(out.write("new") && out.close());
        made << out.path().mid(dir.path().size() + 1);
    }
    const QString ext = style.fileExtension;
    QCOMPARE(made, (QStringList{"Inbox/2" + ext, "Inbox/5" + ext, "Other/1" + ext, "Inbox/6" + ext}));
    QCOMPARE(QDir(inbox).entryList(QDir::Files | QDir::Hidden).size(), 5);
    QCOMPARE(readFile(inbox + QStringLiteral("1") + ext), QByteArray("earlier one"));
    QCOMPARE(readFile(inbox + QStringLiteral("3") + ext), QByteArray("earlier three"));
    // A folder that cannot be made: the reason, and the folder named.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("File")), "x"));
    MailOutput out;
    QString path, error;
    QVERIFY(!OpenMessageFile(out, style, context, dir.filePath(QStringLiteral("File/Sub/")), &path, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(path.endsWith(QLatin1String("File/Sub/")));
}

void MessageFilesTest::headerSet_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("start");        // the first bytes of the file
    QTest::addColumn<QByteArrayList>("present");
    QTest::addColumn<QByteArrayList>("absent");
    QTest::newRow("emlx: headers only, LF") << "emlx" << QByteArray("Subject: =?UTF-8?B?")
        << QByteArrayList{"\nThread-Topic: Plan\n", "\nMessage-ID: <k7q9@x>\n", "\nMime-version: 1.1\n",
                          "To: <a@x>,\n\t<b@x>\n", "Date: Sun, 06 Dec 2026 13:26:23 +0000\n"}
        << QByteArrayList{"\r", "X-Priority", "X-MS-Has-Attach", "User-Agent", "From ???"};
    QTest::newRow("eml: separator, agent and flags, every line CR LF") << "eml"
        << QByteArray("From ???@??? Sun Dec 06 13:26:23 2026 UTC\r\n")
        << QByteArrayList{"\r\nUser-Agent: Microsoft-MacOutlook/14.0.0.100825\r\nSubject: ", "\r\nX-Priority: 4\r\n",
                          "\r\nX-MS-Has-Attach: \r\n", "\r\nMime-version: 1.1\r\n", "To: <a@x>,\r\n\t<b@x>\r\n",
                          "Date: Sun, 06 Dec 2026 13:26:23 +0000\r\n"}
        << QByteArrayList{"\n\n", "\r\r"};
}

void MessageFilesTest::headerSet()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, start);
    QFETCH(QByteArrayList, present);
    QFETCH(QByteArrayList, absent);
    MailMLRC rec{};
    QByteArray subject("Plan");
    rec.pSubject = subject.data();
    rec.dwSentTime = kSent;
    rec.bOutgoing = '-';
    rec.cPriority = '4';
    MailMessageFields fields;
    fields.strToList = QStringLiteral("a@x;b@x;");
    fields.strMessageId = QStringLiteral("<k7q9@x>");
    fields.strEntryName = QStringLiteral("Local/s/Inbox/m.xml");
    const QByteArray head = messageHead(rec, fields, styleFor(format));
    QVERIFY2(head.startsWith(start), head.constData());
    for (const QByteArray &p : present)
        QVERIFY2(head.contains(p), p.constData());
    for (const QByteArray &a : absent)
        QVERIFY2(!head.contains(a), a.constData());
}

void MessageFilesTest::shownTime_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("outgoing");
    QTest::addColumn<quint32>("sent");
    QTest::addColumn<quint32>("received");
    QTest::addColumn<quint32>("shown");   // 0: no date at all
    const QString corp = QStringLiteral("Accounts/Inbox Corp/s/Archive/m.xml");
    const QString archive = QStringLiteral("Local/s/Archive/m.xml");
    const QString inbox = QStringLiteral("Local/s/Inbox/m.xml");
    // The account name is no folder for .emlx: an outgoing message there shows its sent time.
    QTest::newRow("emlx: Inbox only in the account name") << "emlx" << corp << 1 << kSent << kReceived << kSent;
    QTest::newRow("eml: Inbox anywhere in the entry name") << "eml" << corp << 1 << kSent << kReceived << kReceived;
    QTest::newRow("htm: Inbox anywhere in the entry name") << "htm" << corp << 1 << kSent << kReceived << kReceived;
    QTest::newRow("emlx: unfiled incoming shows received") << "emlx" << archive << 0 << kSent << kReceived << kReceived;
    QTest::newRow("eml: unfiled shows sent first") << "eml" << archive << 0 << kSent << kReceived << kSent;
    QTest::newRow("htm: unfiled shows sent first") << "htm" << archive << 0 << kSent << kReceived << kSent;
    for (const char *format : {"emlx", "eml", "htm"}) {
        QTest::addRow("%s: a missing received time gives way", format)
            << QString::fromLatin1(format) << inbox << 0 << kSent << quint32(0) << kSent;
        QTest::addRow("%s: an outgoing '-' beats Inbox", format)
            << QString::fromLatin1(format) << inbox << int('-') << kSent << kReceived << kSent;
    }
    QTest::newRow("eml: no time, no Date line") << "eml" << archive << 0 << quint32(0) << quint32(0) << quint32(0);
    QTest::newRow("htm: no time, no date (never 1970)") << "htm" << QString() << 0 << quint32(0) << quint32(0)
                                                        << quint32(0);
    QTest::newRow("htm: no entry name still dated") << "htm" << QString() << 0 << quint32(0) << kReceived << kReceived;
}

void MessageFilesTest::shownTime()
{
    QFETCH(QString, format);
    QFETCH(QString, entry);
    QFETCH(int, outgoing);
    QFETCH(quint32, sent);
    QFETCH(quint32, received);
    QFETCH(quint32, shown);
    MailMLRC rec{};
    rec.bOutgoing = quint8(outgoing);
    rec.dwSentTime = sent;
    rec.dwReceivedTime = received;
    if (format == QLatin1String("htm")) {
        const QByteArray expected = shown ? QLocale::c().toString(QDateTime::fromSecsSinceEpoch(shown, Qt::UTC),
                                                                  QStringLiteral("ddd, dd MMM yyyy hh:mm:ss AP")).toUtf8()
                + " +0000"
                                          : QByteArray();
        QCOMPARE(HtmlPageDate(rec, entry), expected);
        return;
    }
    const MailFormatStyle &style = styleFor(format);
    MailMessageFields fields;
    fields.strEntryName = entry;
    const QByteArray head = messageHead(rec, fields, style);
    const QByteArray expected = shown ? "Date: " + FormatMailDate(shown, style) + style.lineEnd : QByteArray("Date: ");
    QCOMPARE(head.contains(expected), shown != 0);
}

void MessageFilesTest::pageHead()
{
    const QByteArray head = HtmlPageHead();
    // The fixed head and the policy that keeps the message's markup from running anything.
    QCOMPARE(head.size(), 1588);
    // Paragraphs align to their own direction: a right-to-left message is not pushed left.
    QVERIFY(head.contains("p,ul,ol /* Paragraph Style */\n\n{\n\n text-align: start;"));
    const QByteArray policyStart = "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none';";
    const int policyAt = head.indexOf(policyStart);
    QVERIFY(policyAt > 0);
    // No source outside the page: every directive names 'none', inline styles, data: or cid: only.
    const int contentAt = head.indexOf("content=\"", policyAt) + 9;
    const QByteArray policy = head.mid(contentAt, head.indexOf('"', contentAt) - contentAt);
    for (const QByteArray &directive : policy.split(';')) {
        const QList<QByteArray> words = directive.simplified().split(' ');
        for (int i = 1; i < words.size(); ++i)
            QVERIFY2(QByteArrayList({"'none'", "'unsafe-inline'", "data:", "cid:"}).contains(words[i]),
                     directive.constData());
    }
    QVERIFY(head.startsWith("\xEF\xBB\xBF<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n\n"));
    QVERIFY(head.endsWith("--></style>\n\n</head>\n\n"));
    QVERIFY(!head.contains('\r'));
    QCOMPARE(QCryptographicHash::hash(head, QCryptographicHash::Sha256).toHex(),
             QByteArray("7087b028a36c2dbe3e761802eff885700d9ca65412df9faebf775d646cd34526"));
    QCOMPARE(QCryptographicHash::hash(EmptyBodyHtml(), QCryptographicHash::Sha256).toHex(),
             QByteArray("95e5f779321aea9250d62eef21409d678c23d3a938ba96d8447b9d93df7d4b2e"));
}

void MessageFilesTest::pageBody_data()
{
    QTest::addColumn<QString>("raw");         // the body's XML text
    QTest::addColumn<QByteArray>("page");
    const QByteArray pre = "<div style=\"white-space: pre-wrap\">";
    QTest::newRow("plain text keeps its breaks, one per CR LF")
        << "one\r\ntwo\rthree\nfour" << pre + "one\ntwo\nthree\nfour</div>";
    QTest::newRow("an address in plain text stays text")
        << "Ann &lt;ann@x&gt; &amp; co" << pre + "Ann &lt;ann@x&gt; &amp; co</div>";
    QTest::newRow("a script typed in plain text stays text")
        << "&lt;script&gt;alert(1)&lt;/script&gt;" << pre + "&lt;script&gt;alert(1)&lt;/script&gt;</div>";
    QTest::newRow("line breaks without </br> are text") << "a<br>b" << pre + "a&lt;br&gt;b</div>";
    QTest::newRow("anchors alone are text") << "<a href=\"h\">x</a>" << pre + "&lt;a href=&quot;h&quot;&gt;x&lt;/a&gt;</div>";
    // Markup is written back as a browser reads it inside the page's body: CR LF as LF, no
    // html, body or stray table cell tags.
    QTest::newRow("markup stays markup, CR LF read as LF") << "<div>\r\nx</div>" << QByteArray("<div>\nx</div>");
    QTest::newRow("escaped markup comes back as markup, LF ends")
        << "&lt;html&gt;&lt;body&gt;a\r\n&lt;b&gt;b&lt;/b&gt;&lt;/body&gt;&lt;/html&gt;" << QByteArray("a\n<b>b</b>");
    QTest::newRow("escaped entities in markup stay entities")
        << "&lt;table&gt;&lt;td&gt;A &amp;lt;a@x&amp;gt;&lt;/td&gt;&lt;/table&gt;"
        << QByteArray("<table><tbody><tr><td>A &lt;a@x&gt;</td></tr></tbody></table>");
    // Markup runs nothing: what would run goes, what shows stays.
    const QString d = QStringLiteral("<div>%1</div>");
    const auto div = [](const char *inner) { return "<div>" + QByteArray(inner) + "</div>"; };
    QTest::newRow("script removed with its text") << d.arg("a<SCRIPT type=x>if (1 < 2) go()</script >b") << div("ab");
    QTest::newRow("unclosed script takes the rest") << d.arg("a<script>x") << div("a");
    QTest::newRow("event handlers dropped, other attributes kept")
        << d.arg("<img src=\"data:image/png;base64,AA==\" ONERROR=\"x()\" alt='a > b' onload=y>")
        << div("<img src=\"data:image/png;base64,AA==\" alt=\"a &gt; b\">");
    QTest::newRow("frames, plugins and base removed")
        << d.arg("<iframe src=x>f</iframe><object data=o>p</object><embed src=e><base href=h>t")
        << div("t");
    QTest::newRow("form posts nowhere") << d.arg("<form action=\"h\" method=post><button formaction=h>b</button></form>")
                                        << div("<form method=\"post\"><button>b</button></form>");
    QTest::newRow("refresh and other http-equiv dropped")
        << d.arg("<meta http-equiv=\"refresh\" content=\"0;url=h\"><meta charset=utf-8>")
        << div("");
    QTest::newRow("script URLs dropped, links kept")
        << d.arg("<a href=\" JavaScript:x()\">a</a><a href=\"https://e/\">b</a>")
        << div("<a>a</a><a href=\"https://e/\">b</a>");
    QTest::newRow("styles stay, comments go")
        << d.arg("<style>p > b { color: red }</style><!-- <script>x</script> -->")
        << div("<style>p > b { color: red }</style>");
    QTest::newRow("a comment ends where a browser ends it")
        << d.arg("<!--><script>x</script><!--->y<!-- a --!><script>z</script>") << div("y");
    QTest::newRow("text of a textarea ends at its end tag")
        << d.arg("<textarea><!--</textarea><img src=x onerror=y>-->") << div("<textarea>&lt;!--</textarea><img>--&gt;");
    QTest::newRow("svg goes; an img leaves it as in browsers")
        << d.arg("<svg><style><img src=x onerror=y></style></svg>") << div("<img>");
    QTest::newRow("a lone less-than is text") << d.arg("1 < 2 <3") << div("1 &lt; 2 &lt;3");
}

void MessageFilesTest::pageBody()
{
    QFETCH(QString, raw);
    QFETCH(QByteArray, page);
    QCOMPARE(HtmlPageBody(raw), page);
}

// One address entry of a message's XML: the address attribute, then the name attribute if any.
QByteArray addressEntry(const char *address, const char *name)
{
    QByteArray e = QByteArray("<emailAddress xml:space=\"preserve\" OPFContactEmailAddressAddress=\"") + address + '"';
    if (name)
        e += QByteArray(" OPFContactEmailAddressName=\"") + name + '"';
    return e + " OPFContactEmailAddressType=\"0\"></emailAddress>";
}

void MessageFilesTest::recipientLines_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("from");  // the sender's entry
    QTest::addColumn<QByteArray>("to");    // the To entries
    QTest::addColumn<QByteArray>("cc");    // the Cc entries
    QTest::addColumn<QByteArrayList>("lines");  // as they stand in the written message
    const QByteArray comma = addressEntry("pat@x", "O&apos;Brien, Pat");
    const QByteArray list = addressEntry("list@x", "Korean Ubuntu Users Mailing List");
    const QByteArray korean = addressEntry("k@x", "\xea\xb9\x80\xec\xb2\xa0\xec\x88\x98");
    const QByteArray bare = addressEntry("b@x", nullptr);
    const QByteArray doubled = addressEntry("&amp;lt;cc@d.com&amp;gt;", nullptr);
    const QByteArray quoted = addressEntry("q@x", "Ann &quot;Jo&quot; &amp; co");
    const QByteArray koreanWord = "=?UTF-8?B?6rmA7LKg7IiY?= <k@x>";
    const struct {
        const char *format;
        const char *le;
        const char *separator;
    } mail[] = {{"mbox", "\n", ",\r\t"}, {"rge", "\r", ",\r\t"}, {"emlx", "\n", ",\n\t"}, {"eml", "\r\n", ",\r\n\t"}};
    for (const auto &m : mail) {
        const QByteArray le = m.le, sep = m.separator;
        QTest::addRow("%s: names as the archive gives them", m.format)
            << m.format << comma << list + korean << bare
            << QByteArrayList{"From: \"O'Brien, Pat\" <pat@x>" + le,
                              "To: Korean Ubuntu Users Mailing List <list@x>" + sep + koreanWord + le, "Cc: <b@x>" + le};
        QTest::addRow("%s: a doubly escaped address is one address", m.format)
            << m.format << bare << quoted << doubled + bare
            << QByteArrayList{"From: <b@x>" + le, "To: \"Ann \\\"Jo\\\" & co\" <q@x>" + le,
                              "Cc: <cc@d.com>" + sep + "<b@x>" + le};
    }
    QTest::newRow("htm: names and addresses escaped once")
        << "htm" << comma << quoted + korean << doubled
        << QByteArrayList{"<B>From: </B>O'Brien, Pat &lt;pat@x&gt;<BR>",
                          "<B>To: </B>Ann &quot;Jo&quot; &amp; co &lt;q@x&gt;,\r\t\xea\xb9\x80\xec\xb2\xa0\xec\x88\x98 &lt;k@x&gt;<BR>",
                          "<B>Cc: </B>cc@d.com<BR>"};
}

void MessageFilesTest::recipientLines()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QByteArray, cc);
    QFETCH(QByteArrayList, lines);
    const QByteArray xml = "<emails><email><OPFMessageCopyCCAddresses xml:space=\"preserve\">" + cc
        + "</OPFMessageCopyCCAddresses><OPFMessageCopyFromAddresses xml:space=\"preserve\">" + from
        + "</OPFMessageCopyFromAddresses><OPFMessageCopyToAddresses xml:space=\"preserve\">" + to
        + "</OPFMessageCopyToAddresses></email></emails>";
    const MailFormatStyle &style = styleFor(format);
    MailMessageFields fields = ParseMessageXml(xml, style.messageIdForm, AddressListLimit::Unlimited);
    fields.strEntryName = QStringLiteral("Local/s/Inbox/m.xml");
    MailMLRC rec{};
    rec.dwReceivedTime = kReceived;
    QByteArray written;
    if (style.htmlPage) {
        MailOutput out;
        out.openMemory(1 << 20);
        const AttachmentIndex none;
        WriteHtmlPage(MailMessage{rec, fields, style, out, none});
        written = out.takeMemory();
    } else {
        written = messageHead(rec, fields, style);
    }
    for (const QByteArray &line : lines)
        QVERIFY2(written.contains(line), qPrintable(QString::fromUtf8(line + "\n--- in ---\n" + written)));
}

QTEST_GUILESS_MAIN(MessageFilesTest)
#include "tst_messagefiles.moc"
