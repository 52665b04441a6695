// The mail preview: each mail of the sample shows its subject, sender, recipients, date and body
// read back from the archive; the header and body rules; inline pictures resolved from the
// attachment entries within their size limit; archive text that looks like markup stays text and
// archive HTML loads no local file.

#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "ProcessMemory.h"
#include "TestArchiveBuilder.h"
#include "TestFiles.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "browse/ItemListMailRow.h"
#include "browse/MailPreview.h"
#include "browse/PreviewDispatch.h"
#include "browse/PreviewJob.h"
#include "browse/SafePreviewDocument.h"
#include "save/MessageFields.h"
#include "scanner/ScanGlobals.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeWidget>
#include "WindowTestUtil.h"

#include <QtTest>

#include <ctime>

namespace {

constexpr int kPictureSide = 300;
const char kMessages[] = "Local/com.microsoft.__Messages/";

// The folder of that name whose parent has parentName ("" for any parent).
QTreeWidgetItem *folderNamed(QTreeWidget *tree, const QString &name, const QString &parentName)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        QTreeWidgetItem *item = *it;
        if (item->text(FolderColumnName) == name
            && (parentName.isEmpty() || (item->parent() && item->parent()->text(FolderColumnName) == parentName)))
            return item;
    }
    return nullptr;
}

QByteArray pngBytes()
{
    return PngOf(kPictureSide, Qt::red);
}

qreal laidOutHeight(QTextDocument *document)
{
    document->setTextWidth(2000);
    return document->documentLayout()->documentSize().height();
}

// What a rich label shows, markup applied.
QString shownText(const QLabel *label)
{
    if (label->textFormat() == Qt::PlainText)
        return label->text();
    QTextDocument doc;
    doc.setHtml(label->text());
    return doc.toPlainText();
}

// A messageAttachment element in the exporter's attribute order.
QByteArray attachmentXml(const QString &name, const QString &url, const QString &cid, const QString &type)
{
    QByteArray a = "<messageAttachment xml:space=\"preserve\" OPFAttachmentContentFileSize=\"1.0E3\"";
    if (!cid.isNull())
        a += " OPFAttachmentContentID=\"" + cid.toUtf8() + '"';
    a += " OPFAttachmentContentType=\"" + type.toUtf8() + "\" OPFAttachmentName=\"" + name.toUtf8()
         + "\" OPFAttachmentURL=\"" + url.toUtf8() + "\"></messageAttachment>";
    return a;
}

// One email whose children are given as written, in the exporter's order.
QByteArray emailXml(const QByteArray &attachments, const QString &body, const QString &subject,
                    const QByteArray &from = QByteArray(), const QByteArray &to = QByteArray(),
                    const QString &sent = QString())
{
    QByteArray children;
    if (!attachments.isEmpty())
        children += OlmXml::elementRaw("OPFMessageCopyAttachmentList", attachments);
    if (!body.isEmpty())
        children += OlmXml::elementRaw("OPFMessageCopyBody", body.toUtf8());
    if (!from.isEmpty())
        children += OlmXml::elementRaw("OPFMessageCopyFromAddresses", from);
    if (!sent.isEmpty())
        children += OlmXml::elementRaw("OPFMessageCopySentTime", sent.toUtf8());
    if (!subject.isEmpty())
        children += OlmXml::elementRaw("OPFMessageCopySubject", subject.toUtf8());
    if (!to.isEmpty())
        children += OlmXml::elementRaw("OPFMessageCopyToAddresses", to);
    return OlmXml::list(QStringLiteral("emails"), 1, OlmXml::item(QStringLiteral("email"), children));
}

QByteArray addressXml(const QByteArray &address, const QByteArray &name = QByteArray())
{
    QByteArray a = "<emailAddress xml:space=\"preserve\" OPFContactEmailAddressAddress=\"" + address + '"';
    if (!name.isEmpty())
        a += " OPFContactEmailAddressName=\"" + name + '"';
    return a + " OPFContactEmailAddressType=\"0\"></emailAddress>";
}

MailMLRC mailWith(quint8 outgoing, quint32 sent, quint32 received)
{
    MailMLRC m{};
    m.bOutgoing = outgoing;
    m.dwSentTime = m.dwSentTimeCopy = sent;
    m.dwReceivedTime = m.dwReceivedTimeCopy = received;
    return m;
}

} // namespace

class MailPreviewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void sampleMails_data();
    void sampleMails();
    void headerRules_data();
    void headerRules();
    void dateRules_data();
    void dateRules();
    void unstyledBodyAtTheWindowsSize();
    void datesOutsideTheRecord_data();
    void datesOutsideTheRecord();
    void bodyRules_data();
    void bodyRules();
    void htmlTestFindsEachPair();
    void inlinePictures_data();
    void inlinePictures();
    void manyReferencesToOnePicture();
    void markerLineShowsTextPreview();
    void hostileTextStaysInert();
    void senderNamesShownAsWritten();
    void headerAreaStartsAtTopAndReachesEveryTile();

private:
    QString writeArchive(const QString &name, const TestArchiveBuilder &b);
    void openFolder(QZovuvozivMainWindow &w, const QString &path, const QString &folder, const QString &parent);
    void select(QZovuvozivMainWindow &w, int row);
    QTemporaryDir m_dir;
    QString m_picturePath;
};

void MailPreviewTest::initTestCase()
{
    // Dates are shown in local time: pin the zone so the texts are known.
    qputenv("TZ", "UTC0");
    tzset();
    // Day and month names must not follow the user's language.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    QVERIFY(m_dir.isValid());
    m_picturePath = m_dir.filePath(QStringLiteral("picture.png"));
    QVERIFY(WriteTestFile(m_picturePath, pngBytes()));
}

void MailPreviewTest::cleanup()
{
    g_mailPreviewMarkerLine.clear();
}

QString MailPreviewTest::writeArchive(const QString &name, const TestArchiveBuilder &b)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(b.finish());
    return path;
}

void MailPreviewTest::openFolder(QZovuvozivMainWindow &w, const QString &path, const QString &folder,
                                 const QString &parent)
{
    startScanInWindow(w, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 60000);
    peer(w).m_pInformationDlg->close();
    // "/" names the archive's root item as the parent.
    QTreeWidgetItem *root = w.panes().folderTree->topLevelItem(0);
    QVERIFY(root);
    const QString parentName = parent == QLatin1String("/") ? root->text(FolderColumnName) : parent;
    QTreeWidgetItem *item = folderNamed(w.panes().folderTree, folder, parentName);
    QVERIFY2(item, qPrintable(folder));
    w.parseDatabase()->ShowindivisualMailItemsInfo(item, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!ItemListFillRunning(), 20000);
    // The first mail's body is prepared off the window's thread.
    QTRY_VERIFY_WITH_TIMEOUT(!PreviewJobPending(), 20000);
}

// The user's selection of one row, through the list's own signal.
void MailPreviewTest::select(QZovuvozivMainWindow &w, int row)
{
    // The preview follows the current row: from none to this one, even when it was current.
    w.panes().itemList->setCurrentItem(nullptr);
    w.panes().itemList->setCurrentItem(w.panes().itemList->topLevelItem(row));
    QTRY_VERIFY_WITH_TIMEOUT(!PreviewJobPending(), 20000);
}

void MailPreviewTest::sampleMails_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("recipients");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("body");
    // The exporter's "0E0" direction counts as the outgoing mark, which picks the sent time
    // whatever the folder. The body's "&amp;amp;" is shown as "&".
    QTest::newRow("inbox, Korean subject")
        << "Inbox" << "Outlook PST"
        << QString::fromUtf8("[ubuntu-ko] 우분투 시작 안내서의 10. Tips & Trick 의 번역이 일단락되었습니다.")
        << QString::fromUtf8("양정석") << "To: ubuntu-ko@lists.ubuntu.com"
        << "Wed, 11 Jan 2006 05:17:59 AM"
        << "10. Tips & Tricks";
    // These four have no sent time: their received time, as in the written Date header.
    QTest::newRow("drafts, Japanese") << "Drafts" << "Outlook PST" << QString::fromUtf8("パーティーは何時ですか？")
                                      << "" << "To: john.doe@acme.com\nCc: jane.doe@acme.com"
                                      << "Wed, 20 Jun 2018 06:49:36 PM"
                                      << QString::fromUtf8("パーティーにはどうすればいいですか？ワイン？スナック？");
    QTest::newRow("drafts, Russian") << "Drafts" << "Outlook PST" << "What time is party?" << ""
                                     << "To: john.doe@acme.com\nCc: jane.doe@acme.com"
                                     << "Wed, 20 Jun 2018 06:52:07 PM"
                                     << QString::fromUtf8("Что я должен принести на вечеринку? Вино? Закуски?");
    QTest::newRow("drafts, Hebrew") << "Drafts" << "Outlook PST" << QString::fromUtf8("באיזה שעה המסיבה?") << ""
                                    << "To: john.doe@acme.com\nCc: jane.doe@acme.com"
                                    << "Wed, 20 Jun 2018 06:54:19 PM"
                                    << QString::fromUtf8("מה עלי להביא למסיבה?");
    QTest::newRow("archive, no recipients") << "Archive" << "Outlook PST" << "Email Test" << "" << "To: "
                                            << "Mon, 18 Jun 2018 03:34:54 AM"
                                            << "1 2 3";
    QTest::newRow("draft with a nameless recipient") << "Drafts" << "/" << "Draft with low priority" << ""
                                                     << "To: tom@khubla.com" << "Thu, 21 Jun 2018 03:26:46 AM"
                                                     << "dfdfdfdfdfdf";
    QTest::newRow("draft, body of a blank") << "Drafts" << "/" << "Mail with followup" << "" << "To: tom@khubla.com"
                                            << "Thu, 21 Jun 2018 04:26:21 AM" << "";
}

void MailPreviewTest::sampleMails()
{
    QFETCH(QString, folder);
    QFETCH(QString, parent);
    QFETCH(QString, subject);
    QFETCH(QString, sender);
    QFETCH(QString, recipients);
    QFETCH(QString, date);
    QFETCH(QString, body);
    QZovuvozivMainWindow w;
    openFolder(w, QStringLiteral(OLM_SAMPLE_ARCHIVE), folder, parent);
    QTreeWidget *list = w.panes().itemList;
    QVERIFY(list->topLevelItemCount() > 0);
    int row = -1;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const MailMLRC *mail = MailRecordOfRow(list->topLevelItem(i));
        QVERIFY(mail);
        if (QString::fromUtf8(mail->pSubject) == subject)
            row = i;
    }
    QVERIFY2(row >= 0, qPrintable(subject));
    // Another row first, so the mail is shown over an earlier one; a mail without a date must
    // not keep the earlier date.
    select(w, (row + 1) % list->topLevelItemCount());
    w.panes().dateLabel->setText(QStringLiteral("Mon, 01 Jan 2001 01:01:01 AM"));
    select(w, row);

    QCOMPARE(w.panes().subjectLabel->text(), subject);
    QCOMPARE(w.panes().senderLabel->text(), sender);
    QCOMPARE(shownText(w.panes().recipientsLabel), recipients);
    QCOMPARE(w.panes().dateLabel->text(), date);
    QVERIFY(!w.panes().htmlPreview->isHidden());
    QVERIFY(w.panes().textPreview->isHidden());
    QVERIFY(w.panes().mailHeaderText->isHidden());
    QVERIFY(qobject_cast<SafePreviewDocument *>(w.panes().htmlPreview->document()));
    const QString shown = w.panes().htmlPreview->toPlainText();
    QVERIFY2(shown.contains(body), qPrintable(shown.left(2000)));
    // Every sample body is HTML: shown formatted, never as its markup.
    QVERIFY(!shown.contains(QLatin1String("<html")) && !shown.contains(QLatin1String("&lt;")));
}

void MailPreviewTest::headerRules_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("listForm");
    QTest::newRow("empty") << "" << "" << "";
    QTest::newRow("one address") << "a@x;" << "a@x" << "a@x";
    QTest::newRow("two: the last") << "a@x;b@y;" << "b@y" << "a@x;  b@y";
    QTest::newRow("three alike") << "r@z;r@z;r@z;" << "r@z" << "r@z;  r@z;  r@z";
    QTest::newRow("without final semicolon") << "a@x" << "a@x" << "a@x";
}

void MailPreviewTest::headerRules()
{
    QFETCH(QString, list);
    QFETCH(QString, sender);
    QFETCH(QString, listForm);
    QCOMPARE(MailSenderLine(list), sender);
    QCOMPARE(MailListForm(list), listForm);
    // The same list as the only To entry of the recipients block.
    MailMessageFields f;
    f.strToList = list;
    QCOMPARE(MailRecipientsHtml(f), QStringLiteral("<b>To: </b>") + listForm);
    f.strCcList = QStringLiteral("c@x;");
    f.strBccList = QStringLiteral("d@x;e@x;");
    QCOMPARE(MailRecipientsHtml(f), QStringLiteral("<b>To: </b>") + listForm
                                        + QStringLiteral("<br><b>Cc: </b>c@x<br><b>Bcc: </b>d@x;  e@x"));
    QCOMPARE(MailSubjectLine(nullptr), QStringLiteral("<no subject>"));
    QCOMPARE(MailSubjectLine("Lunch;"), QStringLiteral("Lunch"));
    QCOMPARE(MailSubjectLine("a;b;;"), QStringLiteral("a;b;"));
}

void MailPreviewTest::dateRules_data()
{
    QTest::addColumn<QString>("entryName");
    QTest::addColumn<int>("outgoing");
    QTest::addColumn<uint>("sent");
    QTest::addColumn<uint>("received");
    QTest::addColumn<QString>("date");
    const uint s = 1529551606;  // Thu, 21 Jun 2018 03:26:46 UTC
    const uint r = 1136956684;  // Wed, 11 Jan 2006 05:18:04 UTC
    const QString sentText = QStringLiteral("Thu, 21 Jun 2018 03:26:46 AM");
    const QString receivedText = QStringLiteral("Wed, 11 Jan 2006 05:18:04 AM");
    QTest::newRow("inbox, outgoing mark wins") << "Local/Inbox/m.xml" << int('-') << s << r << sentText;
    QTest::newRow("inbox") << "Local/Inbox/m.xml" << 0 << s << r << receivedText;
    QTest::newRow("sent items") << "Local/Sent Items/m.xml" << 0 << s << r << sentText;
    QTest::newRow("deleted, incoming") << "Local/Deleted Items/m.xml" << 0 << s << r << receivedText;
    QTest::newRow("deleted, outgoing") << "Local/Deleted Items/m.xml" << 1 << s << r << sentText;
    QTest::newRow("drafts") << "Local/Drafts/m.xml" << 0 << s << r << sentText;
    QTest::newRow("other folder, sent time") << "Local/Work/m.xml" << 0 << s << r << sentText;
    QTest::newRow("other folder, received only") << "Local/Work/m.xml" << 0 << 0u << r << receivedText;
    QTest::newRow("afternoon") << "Local/Work/m.xml" << 0 << 1529598000u << 0u << "Thu, 21 Jun 2018 04:20:00 PM";
    // No date at all: nothing is shown, not 1970.
    QTest::newRow("other folder, no times") << "Local/Work/m.xml" << 0 << 0u << 0u << "";
    // A time the folder words pick but the mail lacks gives way to its other time, as in the
    // written Date header.
    QTest::newRow("drafts without sent time") << "Local/Drafts/m.xml" << 0 << 0u << r << receivedText;
    QTest::newRow("outgoing mark without sent time") << "Local/Archive/m.xml" << int('-') << 0u << r << receivedText;
    QTest::newRow("inbox without received time") << "Local/Inbox/m.xml" << 0 << s << 0u << sentText;
    // Recovered mail has no entry name; its own times still give its date.
    QTest::newRow("recovered, sent time") << "" << 0 << s << r << sentText;
    QTest::newRow("recovered, received only") << "" << 0 << 0u << r << receivedText;
}

void MailPreviewTest::dateRules()
{
    QFETCH(QString, entryName);
    QFETCH(int, outgoing);
    QFETCH(uint, sent);
    QFETCH(uint, received);
    QFETCH(QString, date);
    QCOMPARE(MailPreviewDate(mailWith(quint8(outgoing), sent, received), entryName), date);
}

// Body text without a style is drawn as the window's other texts are (11 points), not at the
// toolkit's small default; a word processor's empty line keeps its line.
void MailPreviewTest::unstyledBodyAtTheWindowsSize()
{
    TestArchiveBuilder b;
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Unstyled");
    m.htmlBody = QStringLiteral("&lt;html&gt;&lt;body&gt;&lt;p&gt;plain words&lt;/p&gt;&lt;p class=MsoNormal&gt;&lt;o:p&gt;"
                                "&amp;nbsp;&lt;/o:p&gt;&lt;/p&gt;&lt;p&gt;after&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;");
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00001.xml"), OlmXml::emails({m}));
    QZovuvozivMainWindow w;
    openFolder(w, writeArchive(QStringLiteral("unstyled.olm"), b), QStringLiteral("Inbox"), QStringLiteral("/"));
    select(w, 0);
    QTextDocument *document = w.panes().htmlPreview->document();
    QCOMPARE(w.panes().htmlPreview->property(kPreviewShownAs).toString(), QStringLiteral("markup"));
    const QTextBlock first = document->begin();
    QCOMPARE(first.text(), QStringLiteral("plain words"));
    const QFont drawn = first.begin().fragment().charFormat().font();
    QCOMPARE(drawn.family(), QStringLiteral("Lucida Grande"));
    QCOMPARE(drawn.pointSizeF(), 11.0);
    QVERIFY2(document->toPlainText().startsWith(QStringLiteral("plain words\n \nafter")), qPrintable(document->toPlainText()));
}

void MailPreviewTest::datesOutsideTheRecord_data()
{
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("listed");  // the list's date column
    QTest::addColumn<QString>("shown");   // the preview's date line
    QTest::newRow("1900") << "1900-01-01T00:00:00" << "01/01/1900" << "Mon, 01 Jan 1900 12:00:00 AM";
    QTest::newRow("1965") << "1965-05-01T12:30:00" << "01/05/1965" << "Sat, 01 May 1965 12:30:00 PM";
    QTest::newRow("2150") << "2150-01-01T08:00:00" << "01/01/2150" << "Thu, 01 Jan 2150 08:00:00 AM";
    QTest::newRow("9999") << "9999-12-31T23:59:59" << "31/12/9999" << "Fri, 31 Dec 9999 11:59:59 PM";
    QTest::newRow("inside the record") << "2006-01-11T17:17:59" << "11/01/2006" << "Wed, 11 Jan 2006 05:17:59 PM";
}

// A date the scan's record cannot hold (before 1970, after 2106) shows in the list and the
// preview as the saved files carry it; the times stand after a long body.
void MailPreviewTest::datesOutsideTheRecord()
{
    QFETCH(QString, sent);
    QFETCH(QString, listed);
    QFETCH(QString, shown);
    TestArchiveBuilder b;
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Dated");
    m.body = QString(100000, QLatin1Char('x'));
    m.sent = sent;
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Sent Items/message_00001.xml"), OlmXml::emails({m}));
    QZovuvozivMainWindow w;
    openFolder(w, writeArchive(QStringLiteral("dated.olm"), b), QStringLiteral("Sent Items"), QStringLiteral("/"));
    QTreeWidget *list = w.panes().itemList;
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->data(ItemColumnText, DateRole).toString(), listed);
    select(w, 0);
    QCOMPARE(w.panes().dateLabel->text(), shown);
}

void MailPreviewTest::bodyRules_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("html");
    QTest::newRow("one entity level") << QByteArray("x &amp;lt; y\n") << "x &lt; y" << false;
    QTest::newRow("two entity levels") << QByteArray("x &amp;amp;lt; y\n") << "x < y" << false;
    QTest::newRow("escaped greater-than") << QByteArray("a &amp;gt; b\n") << "a > b" << false;
    QTest::newRow("blank entity") << QByteArray("a&nbsp;b\n") << "a b" << false;
    QTest::newRow("quote entities undone once") << QByteArray("&quot;q&quot; &apos;a&apos; &amp;quot;")
                                                << "\"q\" 'a' &quot;" << false;
    // A text body keeps its last character unless it is a line end.
    QTest::newRow("full stop kept") << QByteArray("Ends here.") << "Ends here." << false;
    QTest::newRow("CR LF: one LF left") << QByteArray("line\r\n") << "line\n" << false;
    QTest::newRow("lone CR becomes LF, then dropped") << QByteArray("line\r") << "line" << false;
    QTest::newRow("stops at NUL") << QByteArray("abc\0def\n", 8) << "abc" << false;
    QTest::newRow("upper open, lower close: text") << QByteArray("&lt;HTML&gt;x&lt;/html&gt;.")
                                                   << "<HTML>x</html>." << false;
    QTest::newRow("<br> and </b>: HTML") << QByteArray("&lt;br&gt;x&lt;/b&gt;.") << "<br>x</b>." << true;
    QTest::newRow("HTML keeps its line end") << QByteArray("&lt;div&gt;x&lt;/div&gt;\n") << "<div>x</div>\n" << true;
    QTest::newRow("font pair") << QByteArray("&lt;br&gt;&lt;font size=2&gt;x&lt;/font&gt;")
                               << "<br><font size=2>x</font>" << true;
    QTest::newRow("empty") << QByteArray() << "" << false;
}

void MailPreviewTest::bodyRules()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, shown);
    QFETCH(bool, html);
    bool isHtml = !html;
    QCOMPARE(MailPreviewBody(stored, &isHtml), shown);
    QCOMPARE(isHtml, html);
}

// Bodies dense in pieces of the test's texts count as HTML exactly when both texts of one pair
// occur somewhere in them, as the test is defined.
void MailPreviewTest::htmlTestFindsEachPair()
{
    const char *const pairs[][2] = {{"<html", "</html>"}, {"<table", "</table>"}, {"<b", "</b>"},
                                    {"<br", "</br>"},     {"<a", "</a>"},         {"<br><font size=", "</font>"}};
    const char *const pieces[] = {"<", "</", "b", "r", "a", ">", "html", "HTML", "<br><font size=", "font", "table", "x"};
    QRandomGenerator random(44);
    for (int round = 0; round < 3000; ++round) {
        QString body;
        for (int n = int(random.bounded(10)); n >= 0; --n)
            body += QLatin1String(pieces[random.bounded(int(std::size(pieces)))]);
        bool expected = false;
        for (const auto &pair : pairs)
            expected = expected || (body.contains(QLatin1String(pair[0])) && body.contains(QLatin1String(pair[1])));
        // Upper-case tags count alike; the pairs above are the lower-case half of the list.
        if (body.contains(QLatin1String("<HTML")) && body.contains(QLatin1String("</HTML>")))
            expected = true;
        QVERIFY2(IsPreviewHtmlBody(body) == expected, qPrintable(body));
    }
}

void MailPreviewTest::inlinePictures_data()
{
    QTest::addColumn<QString>("cid");
    QTest::addColumn<QString>("reference");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("inlined");
    QTest::newRow("picture with its content id") << "pic1@x" << "pic1@x" << 0 << true;
    QTest::newRow("content id read as XML: references undone") << "pic&#49;@x" << "pic1@x" << 0 << true;
    QTest::newRow("no content id") << QString() << "pic1@x" << 0 << false;
    QTest::newRow("content id \"no\"") << "no" << "no" << 0 << false;
    // An empty id would turn every reference into this picture.
    QTest::newRow("empty content id") << "" << "other@x" << 0 << false;
    QTest::newRow("reference to another id") << "pic1@x" << "pic2@x" << 0 << false;
    QTest::newRow("picture at the limit") << "pic1@x" << "pic1@x" << int(kMaxInlinePictureBytes) << true;
    QTest::newRow("picture above the limit") << "pic1@x" << "pic1@x" << int(kMaxInlinePictureBytes + 1) << false;
}

void MailPreviewTest::inlinePictures()
{
    QFETCH(QString, cid);
    QFETCH(QString, reference);
    QFETCH(int, size);
    QFETCH(bool, inlined);
    const QString url = QLatin1String(kMessages) + QStringLiteral("Inbox/com.microsoft.__Attachments/pic_0000");
    QByteArray picture = pngBytes();
    // A PNG decoder ignores bytes after the image's end chunk: the picture still shows.
    if (size > 0)
        picture += QByteArray(size - picture.size(), '\0');
    const QString body = QStringLiteral("&lt;html&gt;&lt;body&gt;&lt;img src=\"cid:%1\"&gt;&lt;p&gt;again "
                                        "&lt;img src=\"cid:%1\"&gt;&lt;/body&gt;&lt;/html&gt;")
                             .arg(reference);
    TestArchiveBuilder b;
    b.addEntry(url, picture);
    b.addEntry(QLatin1String(kMessages) + QStringLiteral("Inbox/message_00000.xml"),
               emailXml(attachmentXml(QStringLiteral("pic.png"), url, cid, QStringLiteral("image/png")), body,
                        QStringLiteral("Pictures")));
    QZovuvozivMainWindow w;
    openFolder(w, writeArchive(QStringLiteral("pictures.olm"), b), QStringLiteral("Inbox"), QString());
    QCOMPARE(w.panes().itemList->topLevelItemCount(), 1);
    // The body keeps its references; the picture is the document's, under the reference's name.
    QTextDocument *doc = w.panes().htmlPreview->document();
    QCOMPARE(doc->toHtml().count(QLatin1String("cid:") + reference), 2);
    const QVariant resource = doc->resource(QTextDocument::ImageResource, QUrl(QLatin1String("cid:") + reference));
    QCOMPARE(!qvariant_cast<QImage>(resource).isNull(), inlined);
    QCOMPARE(laidOutHeight(doc) >= 2 * kPictureSide, inlined);
}

// Many references to one picture at the size limit: the picture is read and decoded once, the
// body is not copied per reference, and the preview's memory grows by little more than the
// picture's bytes.
void MailPreviewTest::manyReferencesToOnePicture()
{
    const int references = 200;
    const QString url = QLatin1String(kMessages) + QStringLiteral("Inbox/com.microsoft.__Attachments/pic_0000");
    QByteArray picture = pngBytes();
    picture += QByteArray(int(kMaxInlinePictureBytes) - picture.size(), '\0');
    QString body = QStringLiteral("&lt;html&gt;&lt;body&gt;");
    for (int i = 0; i < references; ++i)
        body += QStringLiteral("&lt;img src=\"cid:a\" width=\"2\"&gt;");
    body += QStringLiteral("&lt;/body&gt;&lt;/html&gt;");
    TestArchiveBuilder b;
    b.addEntry(url, picture);
    b.addEntry(QLatin1String(kMessages) + QStringLiteral("Inbox/message_00000.xml"),
               emailXml(attachmentXml(QStringLiteral("a.png"), url, QStringLiteral("a"), QStringLiteral("image/png")),
                        body, QStringLiteral("Many")));
    const QString path = writeArchive(QStringLiteral("many.olm"), b);
    picture.clear();
    QZovuvozivMainWindow w;
    openFolder(w, path, QStringLiteral("Inbox"), QString());
    QCOMPARE(w.panes().itemList->topLevelItemCount(), 1);
    // Shown again with the peak of resident memory set back to what is in use now.
    const qint64 before = MemoryKb("VmRSS:");
    QVERIFY(before > 0);
    QVERIFY(ResetPeakMemory());
    select(w, 0);
    const qint64 growth = MemoryKb("VmHWM:") - before;
    QVERIFY2(growth < 3 * kMaxInlinePictureBytes / 1024, qPrintable(QString::number(growth)));
    QTextDocument *doc = w.panes().htmlPreview->document();
    QVERIFY(doc->characterCount() < 2 * references);
    QVERIFY(!qvariant_cast<QImage>(doc->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("cid:a")))).isNull());
    QCOMPARE(doc->toHtml().count(QLatin1String("cid:a")), references);
}

void MailPreviewTest::markerLineShowsTextPreview()
{
    g_mailPreviewMarkerLine = QStringLiteral("On Behalf Of Test Sender [sender@example.invalid]");
    const QString url = QLatin1String(kMessages) + QStringLiteral("Inbox/com.microsoft.__Attachments/pic_0000");
    TestArchiveBuilder b;
    b.addEntry(url, pngBytes());
    b.addEntry(QLatin1String(kMessages) + QStringLiteral("Inbox/message_00000.xml"),
               emailXml(attachmentXml(QStringLiteral("pic.png"), url, QStringLiteral("p@x"),
                                      QStringLiteral("image/png")),
                        QStringLiteral("&lt;div&gt;From: On Behalf Of Test Sender [sender@example.invalid]&lt;/div&gt;"
                                       "&lt;img src=\"cid:p@x\"&gt;"),
                        QStringLiteral("Marked")));
    QZovuvozivMainWindow w;
    openFolder(w, writeArchive(QStringLiteral("marker.olm"), b), QStringLiteral("Inbox"), QString());
    QVERIFY(w.panes().htmlPreview->isHidden());
    QVERIFY(!w.panes().textPreview->isHidden());
    QVERIFY(qobject_cast<SafePreviewDocument *>(w.panes().textPreview->document()));
    QVERIFY(w.panes().textPreview->toPlainText().contains(g_mailPreviewMarkerLine));
    // Its pictures are not resolved there.
    QVERIFY(w.panes().textPreview->toHtml().contains(QLatin1String("cid:p@x")));
}

void MailPreviewTest::hostileTextStaysInert()
{
    const QString file = QUrl::fromLocalFile(m_picturePath).toString();
    const QString body = QStringLiteral("&lt;html&gt;&lt;body&gt;&lt;p&gt;x&lt;/p&gt;&lt;img src=\"%1\"&gt;"
                                        "&lt;img src=\"%2\"&gt;&lt;img src=\"file:///etc/passwd\"&gt;"
                                        "&lt;/body&gt;&lt;/html&gt;")
                             .arg(file, m_picturePath);
    // A crafted sender address with markup; the To entry has no name, so its entities are decoded.
    const QByteArray from = addressXml("<b>boss@x</b>", "Boss");
    const QByteArray to = addressXml("&lt;img src='file:///etc/passwd'>to@x");
    TestArchiveBuilder b;
    b.addEntry(QLatin1String(kMessages) + QStringLiteral("Inbox/message_00000.xml"),
               emailXml({}, body, QStringLiteral("&lt;i&gt;Urgent&lt;/i&gt; &lt;img src='%1'&gt;").arg(file),
                        from, to));
    QZovuvozivMainWindow w;
    openFolder(w, writeArchive(QStringLiteral("hostile.olm"), b), QStringLiteral("Inbox"), QString());
    QCOMPARE(w.panes().itemList->topLevelItemCount(), 1);
    QCOMPARE(w.panes().subjectLabel->textFormat(), Qt::PlainText);
    QCOMPARE(w.panes().subjectLabel->text(), QStringLiteral("<i>Urgent</i> <img src='%1'>").arg(file));
    QCOMPARE(w.panes().senderLabel->textFormat(), Qt::PlainText);
    QCOMPARE(w.panes().senderLabel->text(), QStringLiteral("Boss"));
    QCOMPARE(w.panes().dateLabel->textFormat(), Qt::PlainText);
    // The recipients block is rich text, its address shown as written.
    QCOMPARE(w.panes().recipientsLabel->textFormat(), Qt::RichText);
    QCOMPARE(shownText(w.panes().recipientsLabel), QStringLiteral("To: <img src='file:///etc/passwd'>to@x"));
    QVERIFY(w.panes().mailHeaderText->toPlainText().contains(QLatin1String("<img src='file:///etc/passwd'>to@x")));
    // The body's pictures name local files: none is read.
    QTextDocument *doc = w.panes().htmlPreview->document();
    QVERIFY(qobject_cast<SafePreviewDocument *>(doc));
    QCOMPARE(w.panes().htmlPreview->toPlainText().left(1), QStringLiteral("x"));
    QVERIFY(laidOutHeight(doc) < kPictureSide);
}

void MailPreviewTest::senderNamesShownAsWritten()
{
    // Attribute text as the exporter writes it, and the name the list and the header show.
    struct Row {
        const char *attribute;
        const char *shown;
    };
    const Row rows[] = {
        {"양정석", "양정석"},
        {"李雷", "李雷"},
        {"Γιώργος Δήμου", "Γιώργος Δήμου"},
        {"דוד לוי", "דוד לוי"},
        {"O&#x27;Brien, Pat", "O'Brien, Pat"},
        {"Team &quot;Core&quot;", "Team \"Core\""},
        {"&#26446;&#x96F7; &amp; Co", "李雷 & Co"},
    };
    const int count = int(sizeof rows / sizeof rows[0]);
    TestArchiveBuilder b;
    for (int i = 0; i < count; ++i) {
        const QByteArray from = addressXml(QStringLiteral("s%1@x").arg(i).toUtf8(), rows[i].attribute);
        b.addEntry(QLatin1String(kMessages) + QStringLiteral("Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   emailXml({}, QStringLiteral("body"), QStringLiteral("Mail %1").arg(i), from, QByteArray(),
                            QStringLiteral("2018-06-21T03:26:4%1").arg(i)));
    }
    QZovuvozivMainWindow w;
    openFolder(w, writeArchive(QStringLiteral("names.olm"), b), QStringLiteral("Inbox"), QString());
    QTreeWidget *list = w.panes().itemList;
    QCOMPARE(list->topLevelItemCount(), count);
    QStringList faults;
    for (int r = 0; r < count; ++r) {
        const MailMLRC *mail = MailRecordOfRow(list->topLevelItem(r));
        QVERIFY(mail && mail->pSubject);
        const int i = QString::fromUtf8(mail->pSubject).mid(5).toInt();
        const QString name = QString::fromUtf8(rows[i].shown);
        QWidget *rowWidget = EnsureMailRowWidget(list, list->topLevelItem(r));
        QLabel *sender = rowWidget ? rowWidget->findChild<QLabel *>(QStringLiteral("mailSender")) : nullptr;
        QVERIFY(sender);
        if (sender->text() != name)
            faults << QStringLiteral("list: %1 for %2").arg(sender->text(), name);
        select(w, r);
        if (w.panes().senderLabel->text() != name)
            faults << QStringLiteral("header: %1 for %2").arg(w.panes().senderLabel->text(), name);
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

// Two mails with many recipients and tiles: the header area can scroll to the last tile, and
// the next mail opens at its first line ("To:" visible) whatever the last one was scrolled to.
void MailPreviewTest::headerAreaStartsAtTopAndReachesEveryTile()
{
    TestArchiveBuilder b;
    QByteArray to;
    for (int r = 0; r < 6; ++r)
        to += addressXml(QStringLiteral("recipient%1@example.invalid").arg(r).toUtf8());
    for (int m = 0; m < 2; ++m) {
        QByteArray attachments;
        for (int a = 0; a < 12; ++a) {
            const QString url = QLatin1String(kMessages) + QStringLiteral("Inbox/com.microsoft.__Attachments/f%1_%2").arg(m).arg(a);
            b.addEntry(url, QByteArray("x"));
            attachments += attachmentXml(QStringLiteral("file%1.txt").arg(a), url, QString(), QStringLiteral("text/plain"));
        }
        b.addEntry(QLatin1String(kMessages) + QStringLiteral("Inbox/message_0000%1.xml").arg(m),
                   emailXml(attachments, QStringLiteral("body"), QStringLiteral("Mail %1").arg(m),
                            addressXml("s@example.invalid"), to));
    }
    QZovuvozivMainWindow w;
    w.resize(1050, 700);
    w.show();
    openFolder(w, writeArchive(QStringLiteral("tiles.olm"), b), QStringLiteral("Inbox"), QString());
    QCOMPARE(w.panes().itemList->topLevelItemCount(), 2);
    QScrollArea *area = w.panes().mailHeaderScroll;
    QVERIFY(area);
    QScrollBar *bar = area->verticalScrollBar();

    // The splitter cannot squeeze the preview below one column of tiles and its bar.
    w.panes().mainSplitter->setSizes({200, 2000, 0, 10});
    select(w, 0);
    QTRY_VERIFY(bar->maximum() > 0);
    QTest::qWait(50);   // the tiles' own layouts settle
    QVERIFY(bar->isVisible());
    bar->setValue(bar->maximum());
    const auto tiles = area->widget()->findChildren<QPushButton *>();
    QVERIFY(!tiles.isEmpty());
    for (const QPushButton *tile : tiles) {
        if (tile->isHidden())
            continue;
        const QRect inView(tile->mapTo(area->viewport(), QPoint(0, 0)), tile->size());
        const QRect reachable = area->viewport()->rect().adjusted(0, -bar->maximum(), 0, 0);
        QVERIFY2(reachable.contains(inView), qPrintable(tile->objectName()));
    }

    select(w, 1);
    QCOMPARE(bar->value(), 0);
    // The date beside the sender shows whole, the sender giving way in this narrow pane.
    const QLabel *date = w.panes().dateLabel;
    QVERIFY(date->sizeHint().width() <= date->width());
    QVERIFY(area->viewport()->rect().contains(QRect(date->mapTo(area->viewport(), QPoint(0, 0)), date->size())));
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), 0);
    const QLabel *recipients = w.panes().recipientsLabel;
    QVERIFY(recipients->text().contains(QLatin1String("To")));
    QVERIFY(area->viewport()->rect().contains(QRect(recipients->mapTo(area->viewport(), QPoint(0, 0)), QSize(1, 1))));
}

QTEST_MAIN(MailPreviewTest)
#include "tst_mailpreview.moc"

