// The message-XML parse the preview and the writers share: lists, attachments, Message-ID,
// entity forms, clamped reads, and every message of the sample archive against its XML.

#include "save/MessageFields.h"

#include "ArchiveFile.h"
#include "ScanTestUtil.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <memory>

namespace {

QByteArray q(const QString &s) { return s.toUtf8(); }

QByteArray address(const QString &addr, const QString &name = QString(), const QString &type = QStringLiteral("0"))
{
    QByteArray e = "<emailAddress xml:space=\"preserve\" OPFContactEmailAddressAddress=\"" + q(addr) + "\"";
    if (!name.isNull())
        e += " OPFContactEmailAddressName=\"" + q(name) + "\"";
    return e + " OPFContactEmailAddressType=\"" + q(type) + "\"></emailAddress>";
}

QByteArray attachment(const QString &name, const QString &url, const QString &cid = QString(),
                      const QString &size = QStringLiteral("1.2E3"), const QString &type = QStringLiteral("text/plain"))
{
    QByteArray e = "<messageAttachment xml:space=\"preserve\" OPFAttachmentContentExtension=\"txt\""
                   " OPFAttachmentContentFileSize=\"" + q(size) + "\"";
    if (!cid.isNull())
        e += " OPFAttachmentContentID=\"" + q(cid) + "\"";
    return e + " OPFAttachmentContentType=\"" + q(type) + "\" OPFAttachmentName=\"" + q(name)
           + "\" OPFAttachmentURL=\"" + q(url) + "\"></messageAttachment>";
}

QByteArray element(const char *name, const QByteArray &children)
{
    return QByteArray("<") + name + " xml:space=\"preserve\">" + children + "</" + name + ">";
}

QByteArray email(const QByteArray &children)
{
    return "<email xml:space=\"preserve\">" + children + "</email>";
}

QByteArray emails(const QByteArray &items)
{
    return "<emails xml:space=\"preserve\" elementCount=\"1\">" + items + "</emails>";
}

QString member(const MailMessageFields &f, const QString &name)
{
    if (name == QLatin1String("from")) return f.strFromList;
    if (name == QLatin1String("to")) return f.strToList;
    if (name == QLatin1String("cc")) return f.strCcList;
    if (name == QLatin1String("bcc")) return f.strBccList;
    if (name == QLatin1String("sizes")) return f.strAttachmentSizes;
    if (name == QLatin1String("cids")) return f.strAttachmentContentIds;
    if (name == QLatin1String("types")) return f.strAttachmentContentTypes;
    if (name == QLatin1String("names")) return f.strAttachmentNames;
    if (name == QLatin1String("urls")) return f.strAttachmentUrls;
    if (name == QLatin1String("id")) return f.strMessageId;
    return QStringLiteral("<unknown member>");
}

const char kFrom[] = "OPFMessageCopyFromAddresses";
const char kTo[] = "OPFMessageCopyToAddresses";
const char kCc[] = "OPFMessageCopyCCAddresses";
const char kBcc[] = "OPFMessageCopyBCCAddresses";
const char kAtt[] = "OPFMessageCopyAttachmentList";

} // namespace

class MessageFieldsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void lists_data();
    void lists();
    void writtenSenderListIsBounded();
    void attachmentsStayParallel();
    void unreadAddressesAreNamed();
    void sendersNotWrittenAreNamed();
    void messageId_data();
    void messageId();
    void reads_data();
    void reads();
    void sampleMessage_data();
    void sampleMessage();
    void sampleCoversEveryMail();

private:
    std::unique_ptr<ArchiveFile> m_sample;
    QByteArray m_sampleBytes;
};

void MessageFieldsTest::initTestCase()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    m_sampleBytes = f.readAll();
    scanBytes(m_sampleBytes);
    QCOMPARE(mails().size(), 7);
    m_sample.reset(new ArchiveFile(m_sampleBytes));
    QVERIFY(m_sample->isOpen());
}

void MessageFieldsTest::cleanupTestCase()
{
    m_sample.reset();
    CleanScanResults();
}

void MessageFieldsTest::lists_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("expected");

    const QByteArray pqr = address("p@x", "P") + address("q@x", "Q") + address("r@x", "R");
    // The message's head zeroed or cut up to inside its attachment list's start tag: the list's
    // close tag and its attachments stand, and they are read.
    const QByteArray listed = emails(email(element(kAtt, attachment("a.txt", "u/1") + attachment("b.txt", "u/2"))
                                           + element("OPFMessageCopySubject", "s")));
    const int listTag = listed.indexOf(kAtt);
    for (int at : {20, listTag - 10, listTag + 12, listTag + 40}) {
        QTest::addRow("head zeroed to byte %d: the list's attachments", at)
            << QByteArray(at, '\0') + listed.mid(at) << "names" << "a.txt;b.txt;";
        QTest::addRow("head cut to byte %d: the list's attachments", at) << listed.mid(at) << "urls" << "u/1;u/2;";
    }
    const QByteArray unlisted = emails(email(element("OPFMessageCopySubject", "s")));
    QTest::newRow("head zeroed, no list: no attachment")
        << QByteArray(30, '\0') + unlisted.mid(30) << "names" << "";
    QTest::newRow("three named senders give the last one three times")
        << emails(email(element(kFrom, pqr))) << "from" << "r@x;r@x;r@x;";
    QTest::newRow("one sender") << emails(email(element(kFrom, address("p@x", "P")))) << "from" << "p@x;";
    QTest::newRow("unnamed sender loses its commas")
        << emails(email(element(kFrom, address("a,b@x")))) << "from" << "ab@x;";
    QTest::newRow("named sender keeps its commas")
        << emails(email(element(kFrom, address("a,b@x", "A")))) << "from" << "a,b@x;";
    QTest::newRow("each sender takes the last one's address in its own form")
        << emails(email(element(kFrom, address("p@x") + address("c,d@x", "C") + address("q@x", "Q"))))
        << "from" << "q@x;q@x;q@x;";
    QTest::newRow("named sender before a nameless last one")
        << emails(email(element(kFrom, address("p@x", "P") + address("c,d@x")))) << "from" << "c,d@x;cd@x;";
    QTest::newRow("last sender without an address: no list")
        << emails(email(element(kFrom, address("p@x", "P") + "<emailAddress OPFContactEmailAddressType=\"0\">"
                                                               "</emailAddress>")))
        << "from" << "";
    const QString a98(98, QLatin1Char('a'));
    QTest::newRow("sender list of 99 characters is kept")
        << emails(email(element(kFrom, address(a98, "A")))) << "from" << a98 + ";";
    QTest::newRow("sender list of 100 characters is dropped")
        << emails(email(element(kFrom, address(a98 + "a", "A")))) << "from" << "";
    const QString t2048(2048, QLatin1Char('t'));
    QTest::newRow("To list of 2049 characters is kept")
        << emails(email(element(kTo, address(t2048, "T")))) << "to" << t2048 + ";";
    QTest::newRow("To list of 2050 characters is dropped")
        << emails(email(element(kTo, address(t2048 + "t", "T")))) << "to" << "";
    const QString x500 = "/O=EX/OU=GROUP/CN=RECIPIENTS_CN=JANE+2EROE";
    QTest::newRow("named To address shortened after the recipients marker")
        << emails(email(element(kTo, address(x500, "Jane")))) << "to" << "JANEROE;";
    QTest::newRow("unnamed To address keeps the marker")
        << emails(email(element(kTo, address(x500)))) << "to" << x500 + ";";
    QTest::newRow("Cc address keeps the marker")
        << emails(email(element(kCc, address(x500, "Jane")))) << "cc" << x500 + ";";
    QTest::newRow("unnamed To address decoded")
        << emails(email(element(kTo, address("a&amp;b@x")))) << "to" << "a&b@x;";
    QTest::newRow("named To address not decoded")
        << emails(email(element(kTo, address("a&amp;b@x", "A")))) << "to" << "a&amp;b@x;";
    QTest::newRow("Cc not decoded") << emails(email(element(kCc, address("a&amp;b@x", "A")))) << "cc" << "a&amp;b@x;";
    QTest::newRow("Bcc decoded as a whole")
        << emails(email(element(kBcc, address("a&amp;b@x", "A") + address("c&lt;d@x")))) << "bcc" << "a&b@x;c<d@x;";
    QTest::newRow("entry without an address attribute is skipped")
        << emails(email(element(kCc, "<emailAddress OPFContactEmailAddressName=\"N\"></emailAddress>"
                                         + address("b@x", "B"))))
        << "cc" << "b@x;";
    QTest::newRow("entry cut after its address keeps it")
        << emails(email(element(kTo, address("a@x", "A") + "<emailAddress OPFContactEmailAddressAddress=\"z@x\" ")))
        << "to" << "a@x;z@x;";
    QTest::newRow("name before address")
        << emails(email(element(kTo, "<emailAddress OPFContactEmailAddressName=\"N\" "
                                         "OPFContactEmailAddressAddress=\"a@x\"></emailAddress>")))
        << "to" << "a@x;";
    QTest::newRow("unnamed entry without a type attribute")
        << emails(email(element(kTo, "<emailAddress OPFContactEmailAddressAddress=\"a@x\"></emailAddress>")))
        << "to" << "a@x;";
    QTest::newRow("single quotes, self-closing, no xml:space")
        << emails(email(element(kFrom, "<emailAddress OPFContactEmailAddressName='A' "
                                         "OPFContactEmailAddressAddress='a@x'/>")))
        << "from" << "a@x;";
    QTest::newRow("blanks around '=' and a '>' inside a value")
        << emails(email(element(kCc, "<emailAddress OPFContactEmailAddressName = \"a>b\"\n"
                                       "  OPFContactEmailAddressAddress\t=\t'c@x'></emailAddress>")))
        << "cc" << "c@x;";
    QTest::newRow("NUL inside an address and a name: dropped, the next entry kept")
        << emails(email(element(kTo, address(QString::fromLatin1("a\0b@x", 5), QString::fromLatin1("N\0", 2))
                                         + address("second@x", "Second"))))
        << "to" << "ab@x;second@x;";
    QTest::newRow("start tag without attributes")
        << emails(email(QByteArray("<OPFMessageCopyToAddresses>") + address("a@x", "A") + "</OPFMessageCopyToAddresses>"))
        << "to" << "a@x;";
    QTest::newRow("end tag before start tag sets nothing")
        << emails(email("</OPFMessageCopyToAddresses>" + element(kCc, address("c@x", "C"))
                        + "<OPFMessageCopyToAddresses xml:space=\"preserve\">" + address("a@x", "A")))
        << "to" << "";
    QTest::newRow("two emails: the second's list replaces the first's")
        << emails(email(element(kTo, address("a@x", "A"))) + email(element(kTo, address("b@x", "B"))))
        << "to" << "b@x;";
    QTest::newRow("two emails: a list only the first sets is kept")
        << emails(email(element(kCc, address("c@x", "C"))) + email(element(kTo, address("b@x", "B"))))
        << "cc" << "c@x;";
    QTest::newRow("email without its close tag is not parsed")
        << emails(email(element(kTo, address("a@x", "A"))) + "<email>" + element(kTo, address("b@x", "B")))
        << "to" << "a@x;";
    QTest::newRow("no email close tag at all") << QByteArray("<emails>") + element(kTo, address("a@x", "A")) << "to" << "";
    QTest::newRow("NUL before a later list does not hide it")
        << emails(email(element("OPFMessageCopyBody", QByteArray("x\0y", 3)) + element(kTo, address("a@x", "A"))))
        << "to" << "a@x;";

    QTest::newRow("attachment without content ID gives no")
        << emails(email(element(kAtt, attachment("a.txt", "u/a")))) << "cids" << "no;";
    QTest::newRow("attachment with content ID")
        << emails(email(element(kAtt, attachment("a.txt", "u/a", "image001.png@01D")))) << "cids" << "image001.png@01D;";
    QTest::newRow("content ID read as XML: references undone once, a line break a blank")
        << emails(email(element(kAtt, attachment("a.txt", "u/a", "a&amp;b@x&#46;y&amp;amp;\n")))) << "cids"
        << "a&b@x.y&amp; ;";
    QTest::newRow("size without content ID")
        << emails(email(element(kAtt, attachment("a.txt", "u/a", QString(), "5.0614E4")))) << "sizes" << "5.0614E4;";
    QTest::newRow("size with content ID")
        << emails(email(element(kAtt, attachment("a.txt", "u/a", "c1", "7E2")))) << "sizes" << "7E2;";
    QTest::newRow("content type")
        << emails(email(element(kAtt, attachment("a.pdf", "u/a", QString(), "1", "application/pdf")))) << "types"
        << "application/pdf;";
    QTest::newRow("content type read as XML: references undone")
        << emails(email(element(kAtt, attachment("a.pdf", "u/a", QString(), "1", "application/pd&#102;")))) << "types"
        << "application/pdf;";
    QTest::newRow("name with an escaped ampersand")
        << emails(email(element(kAtt, attachment("R&amp;D.pdf", "u/a")))) << "names" << "R&D.pdf;";
    QTest::newRow("name decoded once whatever follows it")
        << emails(email(element(kAtt, attachment("&amp;lt;x", "u/a") + attachment("y", "u/b")))) << "names"
        << "&lt;x;y;";
    QTest::newRow("literal tabs and line breaks in a name are blanks, the same as references are not")
        << emails(email(element(kAtt, attachment("a\tb\r\nc\rd\ne&#9;f&#13;&#10;g", "u/a")))) << "names"
        << "a b c d e\tf\r\ng;";
    QTest::newRow("a line break in an address is a blank") << emails(email(element(kTo, address("a\r\n@x")))) << "to"
                                                            << "a @x;";
    QTest::newRow("accented name") << emails(email(element(kAtt, attachment(QStringLiteral("R\u00e9sum\u00e9.doc"), "u/a"))))
                                   << "names" << QStringLiteral("R\u00e9sum\u00e9.doc;");
    QTest::newRow("url: an escaped quote becomes a quote after quotes are removed")
        << emails(email(element(kAtt, attachment("a", "u/&amp;quot;x")))) << "urls" << "u/\"x;";
    QTest::newRow("url entities decoded") << emails(email(element(kAtt, attachment("a", "u/a&amp;b")))) << "urls"
                                          << "u/a&b;";
    QTest::newRow("second email without attachments keeps the first's")
        << emails(email(element(kAtt, attachment("a", "u/a"))) + email(element(kTo, address("b@x", "B")))) << "names"
        << "a;";
    QTest::newRow("attachment without a URL: name kept, entry kept")
        << emails(email(element(kAtt, "<messageAttachment OPFAttachmentContentFileSize=\"1\" "
                                          "OPFAttachmentContentType=\"t\" OPFAttachmentName=\"n\"></messageAttachment>")))
        << "names" << "n;";
    QTest::newRow("attachment attributes in another order, single quotes, self-closing")
        << emails(email(element(kAtt, "<messageAttachment OPFAttachmentURL='u/b' OPFAttachmentName='banner.png' "
                                          "OPFAttachmentContentType='image/png'/>")))
        << "names" << "banner.png;";
    QTest::newRow("character references in an attachment name")
        << emails(email(element(kAtt, attachment("caf&#xE9; &#128512;.txt", "u/a")))) << "names" << QString::fromUtf8("café 😀.txt;");
    QTest::newRow("a reference to a reference in an attachment name stays")
        << emails(email(element(kAtt, attachment("a&amp;gt;b", "u/a")))) << "names" << "a&gt;b;";
    // A NUL from damage costs only that name's character, never the other attachments.
    const QByteArray nulName = attachment("a", "u/a").replace("OPFAttachmentName=\"a", QByteArray("OPFAttachmentName=\"a\0b", 22));
    QTest::newRow("NUL in one attachment name: name kept with a placeholder")
        << emails(email(element(kAtt, nulName + attachment("c.txt", "u/c")))) << "names" << "a_b;c.txt;";
    QTest::newRow("NUL in one attachment name: every URL kept")
        << emails(email(element(kAtt, nulName + attachment("c.txt", "u/c")))) << "urls" << "u/a;u/c;";
    QByteArray brokenClose = attachment("a", "u/a");
    brokenClose.replace("</messageAttachment>", "</#essageAttachment>");
    QTest::newRow("damaged close tag of the last attachment: it is kept")
        << emails(email(element(kAtt, attachment("c.txt", "u/c") + brokenClose))) << "urls" << "u/c;u/a;";
    // Tags inside comments and CDATA are text: no recipient comes from them.
    QTest::newRow("recipient inside a comment is no recipient")
        << emails(email(element(kTo, address("a@x") + "<!-- " + address("ghost@evil.example", "Ghost") + " -->" + address("b@x"))))
        << "to" << "a@x;b@x;";
    QTest::newRow("recipient inside CDATA is no recipient")
        << emails(email(element(kTo, address("a@x") + "<![CDATA[" + address("ghost@evil.example") + "]]>")))
        << "to" << "a@x;";
    QTest::newRow("blank before the list's close tag's '>'")
        << emails(email(element(kFrom, address("p@x", "P")).replace("</OPFMessageCopyFromAddresses>", "</OPFMessageCopyFromAddresses\n>")))
        << "from" << "p@x;";
    const QByteArray nulUrl = attachment("a", "u/a").replace("u/a", QByteArray("u/a\0zz", 6));
    QTest::newRow("NUL in a URL: the entry name up to it")
        << emails(email(element(kAtt, nulUrl + attachment("c.txt", "u/c")))) << "urls" << "u/a;u/c;";
}

void MessageFieldsTest::lists()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, member);
    QFETCH(QString, expected);
    const MailMessageFields f = ParseMessageXml(xml);
    QCOMPARE(::member(f, member), expected);
    QVERIFY(f.strMessageId.isEmpty());
    QVERIFY(f.strEntryName.isEmpty());
}

// The writers keep sender lists whole, but a list that repeats one long address for many empty
// entries would not fit in memory: it keeps its first entries and always its last.
void MessageFieldsTest::writtenSenderListIsBounded()
{
    const QString last = QString(1000, QLatin1Char('z')) + QStringLiteral("@x");
    const QByteArray few = emails(email(element(kFrom, address("p@x", "P") + address(last, "Z"))));
    QCOMPARE(ParseMessageXml(few, MessageIdForm::None, AddressListLimit::Unlimited).strFromList,
             QStringLiteral("%1;%1;").arg(last));
    QByteArray many;
    for (int i = 0; i < 20000; ++i)
        many += "<emailAddress/>";
    const QString list = ParseMessageXml(emails(email(element(kFrom, many + address(last)))), MessageIdForm::None,
                                         AddressListLimit::Unlimited)
                             .strFromList;
    QVERIFY2(list.size() > 1000 * last.size() && list.size() <= (2 << 20), qPrintable(QString::number(list.size())));
    QVERIFY(list.startsWith(last + QLatin1Char(';')));
    QVERIFY(list.endsWith(QLatin1Char(';') + last + QLatin1Char(';')));
    QCOMPARE(list.count(last + QLatin1Char(';')) * (last.size() + 1), list.size());
}

void MessageFieldsTest::attachmentsStayParallel()
{
    // A ";" inside a name splits the text list, never the records.
    const QByteArray xml = emails(email(element(
        kAtt, attachment("a;b.txt", "u/1", QString(), "10") + attachment("c.txt", "u/2", "cid2", "20")
                  + "<messageAttachment OPFAttachmentName=\"broken\"></messageAttachment>")));
    const MailMessageFields f = ParseMessageXml(xml);
    QCOMPARE(f.attachments.size(), 3);
    QCOMPARE(f.attachments[0].name, QStringLiteral("a;b.txt"));
    QCOMPARE(f.attachments[0].url, QStringLiteral("u/1"));
    QCOMPARE(f.attachments[0].contentId, QStringLiteral("no"));
    QCOMPARE(f.attachments[1].name, QStringLiteral("c.txt"));
    QCOMPARE(f.attachments[1].size, QStringLiteral("20"));
    QCOMPARE(f.attachments[1].contentId, QStringLiteral("cid2"));
    QCOMPARE(f.attachments[1].url, QStringLiteral("u/2"));
    QCOMPARE(f.attachments[2].name, QStringLiteral("broken"));
    QCOMPARE(f.attachments[2].size, QString());
    QCOMPARE(f.attachments[2].url, QString());
    QCOMPARE(f.strAttachmentSizes, QStringLiteral("10;20;;"));
    QCOMPARE(f.strAttachmentUrls, QStringLiteral("u/1;u/2;;"));
}

// An entry without a readable address is left out of its line but named for the log.
void MessageFieldsTest::unreadAddressesAreNamed()
{
    const QByteArray xml = emails(email(
        element(kFrom, "<emailAddress OPFContactEmailAddressName=\"Alice\"/>")
        + element(kTo, address("a@x", "A") + "<emailAddress OPFContactEmailAddressAddress=\" \"/>" + address("b@x"))));
    const MailMessageFields f = ParseMessageXml(xml, MessageIdForm::None, AddressListLimit::Unlimited);
    QCOMPARE(f.strFromList, QString());
    QCOMPARE(f.toRecipients.size(), 2);
    QCOMPARE(f.unreadAddresses, QStringList({QStringLiteral("From entry \"Alice\": no address could be read"),
                                             QStringLiteral("To entry number 2: no address could be read")}));
}

// Senders the From line does not hold are named with the message: none is lost without a line.
void MessageFieldsTest::sendersNotWrittenAreNamed()
{
    const QByteArray second = element(kFrom, address("s@x", "Second") + address("s2@x"));
    const MailMessageFields f = ParseMessageXml(
        emails(email(element(kFrom, address("a@x", "A") + address("b@x") + address("b@x", "B again")) + second)),
        MessageIdForm::AngleBrackets, AddressListLimit::Unlimited);
    QCOMPARE(f.strFromList, QStringLiteral("b@x;b@x;b@x;"));
    QCOMPARE(f.unreadAddresses,
             QStringList({QStringLiteral("From entry \"A\": not written, the From line holds the last sender only"),
                          QStringLiteral("From entry \"Second\": in a second sender list, not written"),
                          QStringLiteral("From entry \"s2@x\": in a second sender list, not written")}));
    QCOMPARE(ParseMessageXml(emails(email(element(kFrom, address("a@x", "A") + address("a@x", "A"))))).unreadAddresses,
             QStringList());
}

void MessageFieldsTest::messageId_data()
{
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("expected");
    const int none = int(MessageIdForm::None), angle = int(MessageIdForm::AngleBrackets),
              closing = int(MessageIdForm::ClosingBracket);
    QTest::newRow("preview takes none") << QByteArray("&lt;a@b&gt;") << none << "";
    QTest::newRow("bare id, angle form") << QByteArray("a@b") << angle << "<a@b>";
    QTest::newRow("bare id, closing form gets both brackets") << QByteArray("a@b") << closing << "<a@b>";
    QTest::newRow("escaped open, real close") << QByteArray("&lt;a@b>") << angle << "<a@b>";
    QTest::newRow("escaped open, real close, closing form") << QByteArray("&lt;a@b>") << closing << "<a@b>";
    QTest::newRow("escaped close decoded once") << QByteArray("&lt;a@b&gt;") << angle << "<a@b>";
    QTest::newRow("character references decoded, line breaks dropped") << QByteArray("&#60;a&#x40;b&gt;&#13;&#10;") << angle << "<a@b>";
    QTest::newRow("a reference to a reference stays") << QByteArray("a&amp;lt;b@c") << angle << "<a&lt;b@c>";
    QTest::newRow("white space around is dropped") << QByteArray("  \n<a@b>\t") << angle << "<a@b>";
    QTest::newRow("empty stores nothing") << QByteArray("   ") << angle << "";
    QTest::newRow("254 characters stored") << QByteArray(254, 'i') << angle << "<" + QString(254, QLatin1Char('i')) + ">";
    QTest::newRow("255 characters not stored") << QByteArray(255, 'i') << angle << "";
    QTest::newRow("255 with a closing bracket stored")
        << QByteArray(254, 'i') + ">" << closing << "<" + QString(254, QLatin1Char('i')) + ">";
}

void MessageFieldsTest::messageId()
{
    QFETCH(QByteArray, id);
    QFETCH(int, form);
    QFETCH(QString, expected);
    const QByteArray xml = emails(email(element("OPFMessageCopyMessageID", id)));
    QCOMPARE(ParseMessageXml(xml, MessageIdForm(form)).strMessageId, expected);
}

void MessageFieldsTest::reads_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("name");
    // The archive is "0123456789/Inbox/m.xml\0zz".
    QTest::newRow("name and text") << qint64(10) << qint64(12) << QByteArray("/Inbox/m.xml") << "/Inbox/m.xml";
    QTest::newRow("name cut at NUL, text keeps it") << qint64(17) << qint64(8) << QByteArray("m.xml\0zz", 8) << "m.xml";
    QTest::newRow("short at the end") << qint64(20) << qint64(100) << QByteArray("ml\0zz", 5) << "ml";
    QTest::newRow("offset past the end") << qint64(25) << qint64(4) << QByteArray() << "";
    QTest::newRow("negative offset") << qint64(-3) << qint64(4) << QByteArray() << "";
    QTest::newRow("offset 0: no name recorded") << qint64(0) << qint64(4) << QByteArray("0123") << "";
    QTest::newRow("zero length") << qint64(10) << qint64(0) << QByteArray() << "";
    QTest::newRow("negative name length") << qint64(10) << qint64(-1) << QByteArray() << "";
    QTest::newRow("name longer than ZIP allows") << qint64(10) << qint64(70000) << QByteArray("/Inbox/m.xml\0zz", 15) << "";
    QTest::newRow("largest 32-bit length is clamped") << qint64(10) << qint64(0xFFFFFFFFLL)
                                                      << QByteArray("/Inbox/m.xml\0zz", 15) << "";
}

void MessageFieldsTest::reads()
{
    QFETCH(qint64, offset);
    QFETCH(qint64, length);
    QFETCH(QByteArray, xml);
    QFETCH(QString, name);
    ArchiveFile archive(QByteArray("0123456789/Inbox/m.xml\0zz", 25));
    QVERIFY(archive.isOpen());
    QCOMPARE(ReadMessageXml(offset, length), xml);
    QCOMPARE(ReadEntryName(offset, length), name);
}

void MessageFieldsTest::sampleMessage_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("cc");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("sizes");
    QTest::addColumn<QStringList>("types");

    // Read from the sample with python3 (zipfile + re over the attributes, not fixed offsets).
    const QString pst = QStringLiteral("Local/com.microsoft.__Messages/Outlook PST/");
    const QString word = QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.document");
    QTest::newRow("inbox, Korean subject and sender name")
        << pst + "Inbox/message_00000.xml"
        << QStringLiteral("[ubuntu-ko] \uc6b0\ubd84\ud22c \uc2dc\uc791 \uc548\ub0b4\uc11c\uc758 10. Tips & Trick "
                          "\uc758 \ubc88\uc5ed\uc774 \uc77c\ub2e8\ub77d\ub418\uc5c8\uc2b5\ub2c8\ub2e4.")
        << "dasomoli@gmail.com;" << "ubuntu-ko@lists.ubuntu.com;" << "" << QStringList() << QStringList()
        << QStringList();
    QTest::newRow("draft with three attachments, Japanese subject")
        << pst + "Drafts/message_00000.xml"
        << QStringLiteral("\u30d1\u30fc\u30c6\u30a3\u30fc\u306f\u4f55\u6642\u3067\u3059\u304b\uff1f") << ""
        << "john.doe@acme.com;" << "jane.doe@acme.com;" << QStringList{"017091.docx", "037025.docx", "000038.xls"}
        << QStringList{"5.0614E4", "1.28655E5", "9.6904E4"} << QStringList{word, word, "application/octet-stream"};
    QTest::newRow("draft with three attachments")
        << pst + "Drafts/message_00001.xml" << "What time is party?" << ""
        << "john.doe@acme.com;" << "jane.doe@acme.com;" << QStringList{"000046.xls", "018375.pptx", "000006.doc"}
        << QStringList{"1.00363E5", "1.50863E5", "9.1364E4"}
        << QStringList{"application/octet-stream",
                       "application/vnd.openxmlformats-officedocument.presentationml.presentation",
                       "application/msword"};
    QTest::newRow("draft with three attachments, Hebrew subject")
        << pst + "Drafts/message_00002.xml"
        << QStringLiteral("\u05d1\u05d0\u05d9\u05d6\u05d4 \u05e9\u05e2\u05d4 \u05d4\u05de\u05e1\u05d9\u05d1\u05d4?")
        << "" << "john.doe@acme.com;" << "jane.doe@acme.com;" << QStringList{"000100.doc", "005227.pdf", "008708.pdf"}
        << QStringList{"7.8905E4", "1.99339E5", "2.00519E5"}
        << QStringList{"application/msword", "application/pdf", "application/pdf"};
    QTest::newRow("archived mail without addresses")
        << pst + "Archive/message_00000.xml" << "Email Test" << "" << "" << "" << QStringList() << QStringList()
        << QStringList();
    QTest::newRow("draft to an unnamed recipient")
        << "Local/com.microsoft.__Messages/Drafts/message_00000.xml" << "Draft with low priority" << ""
        << "tom@khubla.com;" << "" << QStringList() << QStringList() << QStringList();
    QTest::newRow("second draft to an unnamed recipient")
        << "Local/com.microsoft.__Messages/Drafts/message_00001.xml" << "Mail with followup" << ""
        << "tom@khubla.com;" << "" << QStringList() << QStringList() << QStringList();
}

void MessageFieldsTest::sampleMessage()
{
    QFETCH(QString, entry);
    QFETCH(QString, subject);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, cc);
    QFETCH(QStringList, names);
    QFETCH(QStringList, sizes);
    QFETCH(QStringList, types);

    MailMLRC *record = nullptr;
    for (MailMLRC *m : mails()) {
        if (ReadEntryName(m->llNameOffset, m->nNameLength) == entry)
            record = m;
    }
    QVERIFY2(record, qPrintable(entry));
    QCOMPARE(QString::fromUtf8(record->pSubject), subject);

    MailMessageFields f = ParseMessageXml(ReadMessageXml(record->llDataOffset, record->dwDataLength));
    QCOMPARE(f.strFromList, from);
    QCOMPARE(f.strToList, to);
    QCOMPARE(f.strCcList, cc);
    QCOMPARE(f.strBccList, QString());
    QCOMPARE(f.attachments.size(), names.size());
    const QString folder = entry.left(entry.lastIndexOf(QLatin1Char('/')) + 1);
    const QString id = QString::fromUtf8(bytesAt(m_sampleBytes, record->llDataOffset, record->dwDataLength))
                           .section(QStringLiteral("<OPFMessageCopyMessageID xml:space=\"preserve\">"), 1)
                           .section(QLatin1Char('<'), 0, 0);
    for (int k = 0; k < names.size(); ++k) {
        QCOMPARE(f.attachments[k].name, names[k]);
        QCOMPARE(f.attachments[k].size, sizes[k]);
        QCOMPARE(f.attachments[k].contentType, types[k]);
        QCOMPARE(f.attachments[k].contentId, QStringLiteral("no"));
        QCOMPARE(f.attachments[k].url,
                 folder + "com.microsoft.__Attachments/" + id + QStringLiteral("_%1").arg(k, 4, 10, QLatin1Char('0')));
    }
    QCOMPARE(f.strAttachmentNames, names.isEmpty() ? QString() : names.join(QLatin1Char(';')) + ";");
    // Every attachment the mail names is an entry the scan found.
    for (const AttachmentInfo &a : f.attachments) {
        bool found = false;
        for (FileOffsetNode *n : attachmentNodes())
            found = found || (n->pEntryName && QString::fromUtf8(n->pEntryName) == a.url);
        QVERIFY2(found, qPrintable(a.url));
    }
}

void MessageFieldsTest::sampleCoversEveryMail()
{
    QSet<QString> entries;
    for (MailMLRC *m : mails())
        entries.insert(ReadEntryName(m->llNameOffset, m->nNameLength));
    QCOMPARE(entries.size(), 7);
    for (const QString &e : entries)
        QVERIFY2(e.startsWith(QLatin1String("Local/com.microsoft.__Messages/")) && e.endsWith(QLatin1String(".xml")),
                 qPrintable(e));
}

QTEST_GUILESS_MAIN(MessageFieldsTest)
#include "tst_messagefields.moc"
