// Re-reading item elements and long texts for the task, note and contact previews.

#include "browse/ItemElements.h"

#include "ArchiveFile.h"
#include "browse/ContactFields.h"
#include "browse/MailPreview.h"
#include "save/MessageFields.h"
#include "save/pim/PimItems.h"
#include "scanner/ElementValue.h"
#include "ScanTestUtil.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <iterator>

namespace {

std::string_view view(const QByteArray &b)
{
    return std::string_view(b.constData(), size_t(b.size()));
}

// Every handler call of a walk as "row=value|".
QString walkLog(const QByteArray &item, const char *closeTag, const ElementTagTable &table)
{
    QString log;
    ExtractItemElements(view(item), closeTag, table, [&](int row, std::string_view raw) {
        log += QString::number(row) + QLatin1Char('=') + DecodeElementText(raw) + QLatin1Char('|');
    });
    return log;
}

const ElementTagTable kTaskTable{"<OPFTaskCopyStartDateTime", "<OPFTaskCopyDueDateTime"};

} // namespace

class ItemElementsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void extractElementValue_data();
    void extractElementValue();
    void walk_data();
    void walk();
    void walkMatchesOneSearchPerRow();
    void xmlForms_data();
    void xmlForms();
    void longTextForms_data();
    void longTextForms();
    void unclosedStartTags();
    void reads_data();
    void reads();
    void closedArchiveReadsNothing();
    void longTextPast4GiB();
    void sampleTasks_data();
    void sampleTasks();
    void sampleNoteText();
};

void ItemElementsTest::extractElementValue_data()
{
    QTest::addColumn<QByteArray>("part");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("trimmed");
    QTest::addColumn<QString>("untrimmed");

    QTest::newRow("usual layout") << QByteArray("<HomePhone xml:space=\"preserve\"> 555-1 </HomePhone>") << true
                                  << "555-1" << " 555-1 ";
    QTest::newRow("longer sibling first") << QByteArray("<HomePhone2 xml:space=\"preserve\">555-2</HomePhone2>"
                                                        "<HomePhone xml:space=\"preserve\">555-1</HomePhone>")
                                          << true << "555-1" << "555-1";
    QTest::newRow("only the longer sibling") << QByteArray("<HomePhone2 xml:space=\"preserve\">555-2</HomePhone2>")
                                             << false << "" << "";
    QTest::newRow("close tag only before the start tag")
        << QByteArray("</HomePhone><HomePhone xml:space=\"preserve\">555-1") << false << "" << "";
    QTest::newRow("start tag without attributes") << QByteArray("<HomePhone>555-1</HomePhone>") << true << "555-1"
                                                  << "555-1";
    QTest::newRow("longer attribute text") << QByteArray("<HomePhone xml:space=\"preserve\" kind=\"x\">555</HomePhone>")
                                           << true << "555" << "555";
    QTest::newRow("empty element") << QByteArray("<HomePhone xml:space=\"preserve\"></HomePhone>") << true << "" << "";
    QTest::newRow("self-closing element") << QByteArray("<HomePhone/><Other>x</Other>") << true << "" << "";
    QTest::newRow("white space only") << QByteArray("<HomePhone> \t\r\n </HomePhone>") << true << "" << " \t\r\n ";
    QTest::newRow("other Unicode white space trimmed")
        << QByteArray("<HomePhone>\xe3\x80\x80" "5\xc2\xa0" "5\xe3\x80\x80</HomePhone>") << true
        << QStringLiteral("5\u00a05") << QStringLiteral("\u30005\u00a05\u3000");
    QTest::newRow("NUL cuts the value") << QByteArray("<HomePhone>55\0" "5</HomePhone>", 27) << true << "55" << "55";
    QTest::newRow("invalid UTF-8 replaced") << QByteArray("<HomePhone>a\xff" "b</HomePhone>") << true
                                            << QStringLiteral("a\ufffdb") << QStringLiteral("a\ufffdb");
    QTest::newRow("no close tag") << QByteArray("<HomePhone xml:space=\"preserve\">555") << false << "" << "";
    QTest::newRow("missing") << QByteArray("<Other>555</Other>") << false << "" << "";
}

void ItemElementsTest::extractElementValue()
{
    QFETCH(QByteArray, part);
    QFETCH(bool, found);
    QFETCH(QString, trimmed);
    QFETCH(QString, untrimmed);
    std::string_view raw;
    QCOMPARE(ExtractElementValue(view(part), "<HomePhone", &raw), found);
    if (found) {
        QCOMPARE(DecodeElementText(raw), trimmed);
        QCOMPARE(DecodeElementText(raw, false), untrimmed);
    }
}

void ItemElementsTest::walk_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QString>("log");
    const QByteArray start = "<OPFTaskCopyStartDateTime xml:space=\"preserve\">";
    const QByteArray due = "<OPFTaskCopyDueDateTime xml:space=\"preserve\">";
    QTest::newRow("rows in table order, not document order")
        << "<task>" + due + "D</OPFTaskCopyDueDateTime>" + start + "S</OPFTaskCopyStartDateTime></task>"
        << "0=S|1=D|";
    QTest::newRow("every part before a close tag, in order")
        << "<task>" + start + "S1</OPFTaskCopyStartDateTime></task><task>" + due + "D2</OPFTaskCopyDueDateTime></task>"
        << "0=S1|1=D2|";
    QTest::newRow("later part repeats a row") << "<task>" + start + "S1</OPFTaskCopyStartDateTime></task><task>" + start
                                                     + "S2</OPFTaskCopyStartDateTime></task>"
                                              << "0=S1|0=S2|";
    QTest::newRow("text after the last close tag is not searched")
        << "<task>" + start + "S</OPFTaskCopyStartDateTime></task>" + due + "D</OPFTaskCopyDueDateTime>" << "0=S|";
    QTest::newRow("no close tag gives nothing") << "<task>" + start + "S</OPFTaskCopyStartDateTime>" << "";
    QTest::newRow("close tag in other letter case is no close tag")
        << "<task>" + start + "S</OPFTaskCopyStartDateTime></Task>" << "";
    QTest::newRow("element cut off by the close tag") << "<task>" + start + "S</task></OPFTaskCopyStartDateTime>" << "";
    QTest::newRow("empty value is handed over") << "<task>" + start + "</OPFTaskCopyStartDateTime></task>" << "0=|";
}

void ItemElementsTest::walk()
{
    QFETCH(QByteArray, item);
    QFETCH(QString, log);
    QCOMPARE(walkLog(item, "</task>", kTaskTable), log);
}

// Parts dense in tag pieces (siblings whose names share a start, tags without '>', close tags
// inside start tags, self-closing and repeated elements, blanks after names) give every row
// what searching the part for that row alone gives.
void ItemElementsTest::walkMatchesOneSearchPerRow()
{
    const ElementTagTable table{"<Phone", "<Phone2", "<Name", "<Phone", "<N", "<"};
    const char *const pieces[] = {"<Phone", "<Phone2", "<Name", "<N", "</Phone>", "</Phone2>", "</Name>",
                                  "</N>",   ">",       "/>",    " ",  "\t",       "x",         "<",
                                  "/",      "</",      "\"",    "'",  "=\"a>b\"", "</Phone \n>"};
    QRandomGenerator random(44);
    for (int round = 0; round < 5000; ++round) {
        QByteArray part;
        for (int n = int(random.bounded(16)); n >= 0; --n)
            part += pieces[random.bounded(int(std::size(pieces)))];
        QString expected;
        for (int row = 0; row < table.size(); ++row) {
            std::string_view raw;
            if (ExtractElementValue(view(part), table.at(row), &raw))
                expected += QString::number(row) + QLatin1Char('=') + QString::fromLatin1(raw.data(), int(raw.size()))
                            + QLatin1Char('|');
        }
        QString log;
        ExtractItemElements(view(part + "</task>"), "</task>", table, [&](int row, std::string_view raw) {
            log += QString::number(row) + QLatin1Char('=') + QString::fromLatin1(raw.data(), int(raw.size()))
                   + QLatin1Char('|');
        });
        QVERIFY2(log == expected, part.constData());
    }
}

// Each valid XML form of a task element gives the value the writers save for it.
void ItemElementsTest::xmlForms_data()
{
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QString>("value");
    const QByteArray open = "<OPFTaskCopyStartDateTime xml:space=\"preserve\">";
    const QByteArray close = "</OPFTaskCopyStartDateTime>";
    QTest::newRow("blanks before the close tag's >") << open + "S</OPFTaskCopyStartDateTime \r\n\t>" << "S";
    QTest::newRow("quoted > in the start tag") << "<OPFTaskCopyStartDateTime note=\"a>b\">S" + close << "S";
    QTest::newRow("CDATA") << open + "<![CDATA[Tom &amp; Jerry <3]]>" + close << "Tom &amp; Jerry <3";
    QTest::newRow("CDATA holding the close tag") << open + "<![CDATA[a" + close + "b]]>" + close << QString::fromLatin1("a" + close + "b");
    QTest::newRow("comment in the text") << open + "Hel<!-- x -->lo" + close << "Hello";
    QTest::newRow("comment hiding an element")
        << "<!-- " + open + "ghost" + close + " -->" + open + "real" + close << "real";
    QTest::newRow("numeric references") << open + "caf&#233; &#x1F600; &#38;lt;" + close
                                        << QString::fromUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80 &lt;");
    QTest::newRow("self-closing with a blank") << QByteArray("<OPFTaskCopyStartDateTime a=\"x\" />") << QString();
}

void ItemElementsTest::xmlForms()
{
    QFETCH(QByteArray, element);
    QFETCH(QString, value);
    const QByteArray item = "<task><OPFTaskCopyName>n</OPFTaskCopyName>" + element + "</task>";
    QString shown;
    bool found = false;
    ExtractItemElements(view(item), "</task>", kTaskTable, [&](int row, std::string_view raw) {
        found = row == 0;
        shown = UnescapeXmlEntities(DecodeElementText(raw), EntityForm::Scanned);
    });
    QVERIFY(found);
    QCOMPARE(shown, value);
    QCOMPARE(ItemElementText(view(item), "</task>", "<OPFTaskCopyStartDateTime"), value);
}

// Long texts (bodies, descriptions, notes) in each valid form show what the writers read.
void ItemElementsTest::longTextForms_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("html");
    QTest::newRow("CDATA") << QByteArray("<![CDATA[fish & chips <3 &amp;]]>") << "fish & chips <3 &amp;" << false;
    QTest::newRow("CDATA around a page") << QByteArray("<![CDATA[<html><body>Hi</body></html>]]>")
                                         << "<html><body>Hi</body></html>" << true;
    QTest::newRow("comment") << QByteArray("Hello<!-- hidden -->World") << "HelloWorld" << false;
    QTest::newRow("numeric references") << QByteArray("caf&#233; &#x1F600;")
                                        << QString::fromUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80") << false;
    QTest::newRow("a reference is undone once") << QByteArray("&#38;lt; &amp;#65;") << "&lt; &#65;" << false;
    QTest::newRow("no character: kept") << QByteArray("&#0; &#xD800; &#; &#1114112; &#&amp;")
                                        << "&#0; &#xD800; &#; &#1114112; &#&" << false;
}

void ItemElementsTest::longTextForms()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, text);
    QFETCH(bool, html);
    // How the writers read a typed text: references undone once, CDATA as its text.
    QCOMPARE(UnescapeXmlEntities(QString::fromUtf8(UpToFirstNul(PlainElementBytes(stored))), EntityForm::Scanned),
             text);
    QCOMPARE(PreviewLongText(stored, EntityForm::Four), text);
    bool isHtml = !html;
    QCOMPARE(MailPreviewBody(stored, &isHtml), text);
    QCOMPARE(isHtml, html);
}

// Tens of thousands of start tags without '>' (with and without an open quote) in a contact
// cost one walk: the preview's read completes and finds what the shared reader finds.
void ItemElementsTest::unclosedStartTags()
{
    for (const QByteArray &tag : {QByteArray("<OPFContactCopyHomePhone "), QByteArray("<OPFContactCopyHomePhone a=\""),
                                  QByteArray("<OPFContactCopyTitle <OPFContactCopyNickName ")}) {
        const QByteArray item = "<contact>" + tag.repeated(40000)
            + "<OPFContactCopyHomePhone xml:space=\"preserve\">555</OPFContactCopyHomePhone></contact>";
        const ContactPreviewFields fields = ExtractContactFields(view(item));
        std::string_view raw;
        const bool found = ExtractElementValue(view(item), "<OPFContactCopyHomePhone", &raw);
        QCOMPARE(QString::fromUtf8(fields.szHomePhone), found ? ElementText(raw) : QString());
    }
}

void ItemElementsTest::reads_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QString>("longText");
    // The archive: "HEAD" at 0, "&amp;gt;|&amp;lt;|&nbsp;|&lt;b&gt;" at 4 (34 bytes), "x\0y" at 38.
    QTest::newRow("long text decoded in order") << qint64(4) << qint64(34)
                                                << QByteArray("&amp;gt;|&amp;lt;|&nbsp;|&lt;b&gt;") << ">|&lt;| |<b>";
    QTest::newRow("NUL ends a long text") << qint64(38) << qint64(3) << QByteArray("x\0y", 3) << "x";
    QTest::newRow("short at the end of the archive") << qint64(39) << qint64(1000) << QByteArray("\0y", 2) << "";
    QTest::newRow("largest 32-bit length is clamped") << qint64(0) << qint64(0xFFFFFFFFLL)
                                                      << QByteArray("HEAD&amp;gt;|&amp;lt;|&nbsp;|&lt;b&gt;x\0y", 41)
                                                      << "HEAD>|&lt;| |<b>x";
    QTest::newRow("offset at the end") << qint64(41) << qint64(1) << QByteArray() << "";
    QTest::newRow("offset past 4 GiB") << qint64(0x100000004LL) << qint64(4) << QByteArray() << "";
    QTest::newRow("negative offset") << qint64(-1) << qint64(4) << QByteArray() << "";
    QTest::newRow("zero length") << qint64(4) << qint64(0) << QByteArray() << "";
}

void ItemElementsTest::reads()
{
    QFETCH(qint64, offset);
    QFETCH(qint64, length);
    QFETCH(QByteArray, item);
    QFETCH(QString, longText);
    ArchiveFile archive(QByteArray("HEAD&amp;gt;|&amp;lt;|&nbsp;|&lt;b&gt;x\0y", 41));
    QVERIFY(archive.isOpen());
    QCOMPARE(ReadItemXml(offset, length), item);
    QCOMPARE(ReadLongText(length, offset), longText);
}

void ItemElementsTest::closedArchiveReadsNothing()
{
    ArchiveFile archive(QByteArray("HEAD"));
    fileDescriptor = -1;
    QCOMPARE(ReadItemXml(0, 4), QByteArray());
    QCOMPARE(ReadLongText(4, 0), QString());
}

void ItemElementsTest::longTextPast4GiB()
{
    // Archives over 4 GiB are common: a long text there must not be read from offset mod 2^32.
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("big.olm")));
    QVERIFY(f.open(QIODevice::ReadWrite));
    const qint64 at = (qint64(1) << 32) + 16;
    if (!f.resize(at + 64))
        QSKIP("no sparse file of 4 GiB here");
    QVERIFY(f.seek(at));
    QVERIFY(f.write("far &amp;amp; away") == 18);
    QVERIFY(f.seek(16));
    QVERIFY(f.write("near") == 4);
    f.flush();
    const int oldFd = fileDescriptor;
    const qint64 oldSize = lSize;
    fileDescriptor = f.handle();
    lSize = f.size();
    const QString text = ReadLongText(18, at);
    const QByteArray item = ReadItemXml(at, 3);
    fileDescriptor = oldFd;
    lSize = oldSize;
    QCOMPARE(text, QStringLiteral("far &amp; away"));
    QCOMPARE(item, QByteArray("far"));
}

void ItemElementsTest::sampleTasks_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QByteArray>("noteSha1");
    // From python3 (zipfile + re) over Local/Tasks/Tasks.xml.
    QTest::newRow("task with note and both dates") << 0 << "task1" << "0=2018-06-12T06:00:00|1=2018-07-12T06:00:00|"
                                                   << QByteArray("532b7392f2b5be265fcab66a277ab0b7386d04e4");
    QTest::newRow("task without dates") << 1 << "task in category" << "" << QByteArray();
    QTest::newRow("recurring task: its recurrence start is no start")
        << 2 << "recurring task" << "1=2018-06-20T06:00:00|" << QByteArray();
    QTest::newRow("recurring task with note") << 3 << "recurring task" << "1=2018-06-20T06:00:00|"
                                              << QByteArray("8c586360d20b9763fa8ac43b975015eb54a7fe9b");
    QTest::newRow("task with follow-up") << 4 << "task with followup"
                                         << "0=2018-06-21T06:00:00|1=2018-06-21T06:00:00|" << QByteArray();
}

void ItemElementsTest::sampleTasks()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(QString, log);
    QFETCH(QByteArray, noteSha1);
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray sample = f.readAll();
    scanBytes(sample);
    ArchiveFile archive(sample);
    QVERIFY(archive.isOpen());
    QCOMPARE(tasks().size(), 5);
    const TasksInformation *t = tasks().at(index);
    QCOMPARE(QString::fromUtf8(t->pName), name);
    const QByteArray item = ReadItemXml(t->llItemOffset, t->dwItemLength);
    QVERIFY(item.startsWith("<task"));
    QVERIFY(item.endsWith("</task>"));
    QCOMPARE(walkLog(item, "</task>", kTaskTable), log);
    if (noteSha1.isEmpty()) {
        QCOMPARE(t->dwNoteLength, 0u);
    } else {
        const QString note = ReadLongText(t->dwNoteLength, t->dwNoteOffset);
        QCOMPARE(QCryptographicHash::hash(note.toUtf8(), QCryptographicHash::Sha1).toHex(), noteSha1);
    }
    CleanScanResults();
}

void ItemElementsTest::sampleNoteText()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray sample = f.readAll();
    scanBytes(sample);
    ArchiveFile archive(sample);
    QCOMPARE(notes().size(), 1);
    const NotesInformation *n = notes().first();
    QCOMPARE(n->dwTextLength, 1649u);
    const QString text = ReadLongText(n->dwTextLength, n->dwTextOffset);
    QCOMPARE(text.toUtf8().size(), 1490);
    QVERIFY(text.startsWith(QLatin1String("<html xmlns:o=")));
    // "&amp;nbsp;" in the archive is shown as a blank: the display decodes twice.
    QVERIFY(text.endsWith(QLatin1String("<o:p> </o:p></span></p></div></body></html>")));
    QCOMPARE(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha1).toHex(),
             QByteArray("6059a3d6f836f110341350e9ece654606e4817eb"));
    CleanScanResults();
}

QTEST_GUILESS_MAIN(ItemElementsTest)
#include "tst_itemelements.moc"
