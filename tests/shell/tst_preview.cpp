// The task and note previews: every task and the note of the sample show their fields read back
// from the archive; rows of an earlier fill, or whose key no longer fits their record, show
// nothing; HTML in an archive text never makes the preview read a local file.

#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "TestFiles.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "browse/QPreviewOfItems.h"
#include "browse/SafePreviewDocument.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>
#include "WindowTestUtil.h"

#include <QtTest>

#include <ctime>

namespace {

constexpr int kPictureSide = 300;

QTreeWidgetItem *folderOfKind(QTreeWidget *tree, const QString &name, const QString &kind)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if ((*it)->text(FolderColumnName) == name && (*it)->text(FolderColumnKind) == kind)
            return *it;
    }
    return nullptr;
}

// Each labelled line is a paragraph followed by an empty one.
QString lines(const QStringList &labelled)
{
    QString text;
    for (const QString &line : labelled)
        text += line + QLatin1String("\n\n");
    return text;
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

} // namespace

class PreviewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void labelledValuesStayText();
    void longNamesShowWhole_data();
    void longNamesShowWhole();
    void initTestCase();
    void sampleTasks_data();
    void sampleTasks();
    void sampleNote();
    void typedTextStaysText_data();
    void typedTextStaysText();
    void markupQuotedByReferences_data();
    void markupQuotedByReferences();
    void sampleContacts_data();
    void sampleContacts();
    void contactWithoutNames_data();
    void contactWithoutNames();
    void contactNamedAsItsCard_data();
    void contactNamedAsItsCard();
    void rowWithoutItsRecordShowsNothing_data();
    void rowWithoutItsRecordShowsNothing();
    void allowedResources_data();
    void allowedResources();
    void archiveHtmlLoadsNoLocalFile_data();
    void archiveHtmlLoadsNoLocalFile();
    void recoveredItemsUnderTheirFolder1_data();
    void recoveredItemsUnderTheirFolder1();

private:
    void open(QZovuvozivMainWindow &w, const QString &path);
    QTreeWidget *openFolder(QZovuvozivMainWindow &w, const QString &path, const QString &folder);
    QTreeWidget *openEntry(QZovuvozivMainWindow &w, const QString &entry, const QByteArray &xml, const QString &folder);
    void select(QZovuvozivMainWindow &w, int row);
    QTemporaryDir m_dir;
    QString m_picturePath;
};

void PreviewTest::initTestCase()
{
    // Dates are shown in local time: pin the zone so the texts are known.
    qputenv("TZ", "UTC0");
    tzset();
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    QVERIFY(m_dir.isValid());
    m_picturePath = m_dir.filePath(QStringLiteral("picture.png"));
    QVERIFY(WriteTestFile(m_picturePath, pngBytes()));
}

void PreviewTest::open(QZovuvozivMainWindow &w, const QString &path)
{
    scanInWindow(w, path);
}

QTreeWidget *PreviewTest::openFolder(QZovuvozivMainWindow &w, const QString &path, const QString &folder)
{
    open(w, path);
    QTreeWidgetItem *item = folderNamed(w.panes().folderTree, folder);
    if (!item)
        return nullptr;
    w.parseDatabase()->ShowindivisualMailItemsInfo(item, 0);
    return w.panes().itemList;
}

// An archive holding one entry, opened at the folder; null when it cannot be written or opened.
QTreeWidget *PreviewTest::openEntry(QZovuvozivMainWindow &w, const QString &entry, const QByteArray &xml,
                                    const QString &folder)
{
    TestArchiveBuilder b;
    b.addEntry(entry, xml);
    const QString path = m_dir.filePath(QStringLiteral("entry.olm"));
    return WriteTestFile(path, b.finish()) ? openFolder(w, path, folder) : nullptr;
}

// The user's selection of one row, through the list's own signal.
void PreviewTest::select(QZovuvozivMainWindow &w, int row)
{
    // The preview follows the current row: from none to this one, even when it was current.
    w.panes().itemList->setCurrentItem(nullptr);
    w.panes().textPreview->clear();
    w.panes().itemList->setCurrentItem(w.panes().itemList->topLevelItem(row));
}

void PreviewTest::sampleTasks_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("labelled");
    QTest::addColumn<QString>("note");
    QTest::newRow("name, both dates, priority, note")
        << 0
        << QStringList{"Task : task1", "Start Date : 2018,Jun,12, 06:00:00", "Due Date : 2018,Jul,12, 06:00:00",
                       "Priority : Normal"}
        << "This is a task";
    QTest::newRow("no dates, no note") << 1 << QStringList{"Task : task in category", "Priority : Normal"} << "";
    QTest::newRow("due date only")
        << 2 << QStringList{"Task : recurring task", "Due Date : 2018,Jun,20, 06:00:00", "Priority : Normal"} << "";
    QTest::newRow("due date and note")
        << 3 << QStringList{"Task : recurring task", "Due Date : 2018,Jun,20, 06:00:00", "Priority : Normal"}
        << "This is the task";
    QTest::newRow("follow-up")
        << 4
        << QStringList{"Task : task with followup", "Start Date : 2018,Jun,21, 06:00:00",
                       "Due Date : 2018,Jun,21, 06:00:00", "Priority : Normal"}
        << "";
}

// A labelled value that looks like markup ("T3 & <b>x</b>") shows as written, never formatted.
void PreviewTest::labelledValuesStayText()
{
    QZovuvozivMainWindow w;
    ResetItemPreviewPane();
    AppendPreviewLine(QStringLiteral("Name : "), QStringLiteral("T3 & <b>x</b>"));
    AppendPreviewLine(QStringLiteral("Note : "), QStringLiteral("<i>y</i>"));
    QTextDocument *document = w.panes().textPreview->document();
    QCOMPARE(document->toPlainText(), QStringLiteral("Name : T3 & <b>x</b>\n\nNote : <i>y</i>\n"));
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QVERIFY(it.fragment().charFormat().fontWeight() != QFont::Bold);
            QVERIFY(!it.fragment().charFormat().fontItalic());
        }
    }
}

void PreviewTest::longNamesShowWhole_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("textLength");
    QTest::newRow("task of 255 kept by the scan") << "Tasks" << "Task : " << QString(255, QLatin1Char('t')) << 4;
    QTest::newRow("task of 257") << "Tasks" << "Task : " << QString(257, QLatin1Char('t')) << 4;
    QTest::newRow("task of 300 with an escaped ampersand")
        << "Tasks" << "Task : " << QStringLiteral("R & D ") + QString(294, QLatin1Char('t')) << 4;
    QTest::newRow("note title of 300") << "Notes" << "Summary : " << QString(300, QLatin1Char('n')) << 4;
    // The note's text comes before its title in the element.
    QTest::newRow("note title of 300 after 40,000 characters of text")
        << "Notes" << "Summary : " << QString(300, QLatin1Char('n')) << 40000;
}

// A name longer than the scan keeps is read from the item: the row and the preview show it.
void PreviewTest::longNamesShowWhole()
{
    QFETCH(QString, folder);
    QFETCH(QString, label);
    QFETCH(QString, name);
    QFETCH(int, textLength);
    const QString text(textLength, QLatin1Char('x'));
    const bool tasks = folder == QLatin1String("Tasks");
    QZovuvozivMainWindow w;
    QTreeWidget *list = openEntry(w, QStringLiteral("Local/%1/%1.xml").arg(folder),
                                  tasks ? OlmXml::tasks({{OlmXml::escape(name), text, "2"}})
                                        : OlmXml::notes({{OlmXml::escape(name), text}}),
                                  folder);
    QVERIFY(list);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(ItemColumnText), name);
    select(w, 0);
    QVERIFY2(w.panes().textPreview->toPlainText().startsWith(label + name + QLatin1Char('\n')),
             qPrintable(w.panes().textPreview->toPlainText().left(400)));
}

void PreviewTest::sampleTasks()
{
    QFETCH(int, row);
    QFETCH(QStringList, labelled);
    QFETCH(QString, note);
    QZovuvozivMainWindow w;
    QTreeWidget *list = openFolder(w, QStringLiteral(OLM_SAMPLE_ARCHIVE), QStringLiteral("Tasks"));
    QVERIFY(list);
    QCOMPARE(list->topLevelItemCount(), 5);
    // Another row first, so the one under test is written over an earlier preview.
    select(w, (row + 1) % 5);
    QVERIFY(!w.panes().textPreview->toPlainText().isEmpty());
    select(w, row);
    const QString shown = w.panes().textPreview->toPlainText();
    if (note.isEmpty()) {
        QCOMPARE(shown, lines(labelled).chopped(1));
    } else {
        const QString head = lines(labelled) + QLatin1String("Description: \n\n");
        QCOMPARE(shown.left(head.size()), head);
        // The note is HTML: shown formatted, its markup gone.
        const QString rest = shown.mid(head.size());
        QVERIFY2(rest.contains(note), qPrintable(rest));
        QVERIFY(!rest.contains(QLatin1String("<html")));
    }
    QVERIFY(!w.panes().textPreview->isHidden());
    QVERIFY(w.panes().htmlPreview->isHidden());
    QVERIFY(w.panes().mailHeaderText->isHidden());
}

void PreviewTest::sampleNote()
{
    QZovuvozivMainWindow w;
    QTreeWidget *list = openFolder(w, QStringLiteral(OLM_SAMPLE_ARCHIVE), QStringLiteral("Notes"));
    QVERIFY(list);
    QCOMPARE(list->topLevelItemCount(), 1);
    // The fill previews its first row by itself.
    const QString head = lines({"Summary : note 1"}) + QLatin1String("Description : \n\n");
    const QString shown = w.panes().textPreview->toPlainText();
    QCOMPARE(shown.left(head.size()), head);
    QVERIFY2(shown.mid(head.size()).contains(QLatin1String("This is my note")), qPrintable(shown));
    QCOMPARE(w.panes().textPreview->textColor(), QColor(68, 68, 68));
    QCOMPARE(w.panes().textPreview->font().family(), QStringLiteral("Lucida Grande"));
    QCOMPARE(w.panes().textPreview->textInteractionFlags(), Qt::NoTextInteraction);
}

void PreviewTest::typedTextStaysText_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("shown");
    // As the archive holds typed text: its markup characters escaped once.
    const QByteArray typed = "plain typed &lt;b&gt; &amp; x\n    indented";
    const QString asTyped = QStringLiteral("plain typed <b> & x\n    indented");
    QTest::newRow("note") << "Notes" << QByteArray("Local/Notes/Notes.xml")
                          << OlmXml::notes({{QStringLiteral("Typed"), QString::fromUtf8(typed)}}) << asTyped;
    QTest::newRow("task note") << "Tasks" << QByteArray("Local/Tasks/Tasks.xml")
                               << OlmXml::tasks({{QStringLiteral("Typed"), QString::fromUtf8(typed), "2"}}) << asTyped;
    QTest::newRow("task note held as text only")
        << "Tasks" << QByteArray("Local/Tasks/Tasks.xml")
        << OlmXml::list(QStringLiteral("tasks"), 1,
                        OlmXml::item(QStringLiteral("task"), OlmXml::elementRaw("OPFTaskCopyName", "Plain only")
                                                                 + OlmXml::elementRaw("OPFTaskCopyNotePlain", typed)))
        << asTyped;
    // Tag pairs typed into plain fields, on the first line or later, and a typed reference.
    const QByteArray pairs = "plain typed &lt;b&gt; &amp; x\n    indented &lt;/b&gt; &amp;lt;br&amp;gt;";
    const QString pairsTyped = QStringLiteral("plain typed <b> & x\n    indented </b> &lt;br&gt;");
    const QByteArray opening = "&lt;b&gt;first line\n  second &lt;/b&gt; &amp;amp;";
    const QString openingTyped = QStringLiteral("<b>first line\n  second </b> &amp;");
    const QByteArray calendar("Local/Calendar/Calendar.xml"), contacts("Local/Address Book/Contacts.xml");
    const auto event = [](const QByteArray &description) {
        return OlmXml::list(
            QStringLiteral("appointments"), 1,
            OlmXml::item(QStringLiteral("appointment"),
                         OlmXml::elementRaw("OPFCalendarEventCopySummary", "Typed")
                             + OlmXml::elementRaw("OPFCalendarEventCopyDescriptionPlain", description)));
    };
    QTest::newRow("note, tag pair") << "Notes" << QByteArray("Local/Notes/Notes.xml")
                                    << OlmXml::notes({{QStringLiteral("Typed"), QString::fromUtf8(pairs)}})
                                    << pairsTyped;
    QTest::newRow("task note, tag pair") << "Tasks" << QByteArray("Local/Tasks/Tasks.xml")
                                         << OlmXml::tasks({{QStringLiteral("Typed"), QString::fromUtf8(pairs), "2"}})
                                         << pairsTyped;
    QTest::newRow("event description, tag pair") << "Calendar" << calendar << event(pairs) << pairsTyped;
    QTest::newRow("event description opening with a tag") << "Calendar" << calendar << event(opening) << openingTyped;
    QTest::newRow("contact notes, tag pair")
        << "Address Book" << contacts << OlmXml::contacts({{"Ann", "Lee", "", QString::fromUtf8(pairs), ""}})
        << pairsTyped;
    QTest::newRow("contact notes opening with a tag")
        << "Address Book" << contacts << OlmXml::contacts({{"Ann", "Lee", "", QString::fromUtf8(opening), ""}})
        << openingTyped;
    QTest::newRow("contact name with a tag pair")
        << "Address Book" << contacts << OlmXml::contacts({{"&lt;b&gt;Ann&lt;/b&gt;", "&lt;i&gt;Lee", "", "", ""}})
        << QStringLiteral("<b>Ann</b> <i>Lee");
    QTest::newRow("event summary") << "Calendar" << QByteArray("Local/Calendar/Calendar.xml")
                                   << OlmXml::appointments({{QStringLiteral("Planning &amp; review &lt;i&gt;not "
                                                                            "italic&lt;/i&gt;"),
                                                             QString(), QString(), QString(), QString()}})
                                   << QStringLiteral("<i>not italic</i>");
}

// Typed text in the other previews shows as typed: markup characters as written, line breaks and
// indents kept, nothing bold or italic.
void PreviewTest::typedTextStaysText()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, entry);
    QFETCH(QByteArray, xml);
    QFETCH(QString, shown);
    QZovuvozivMainWindow w;
    QTreeWidget *list = openEntry(w, QString::fromUtf8(entry), xml, folder);
    QVERIFY(list);
    QCOMPARE(list->topLevelItemCount(), 1);
    select(w, 0);
    QTextDocument *document = w.panes().textPreview->document();
    QVERIFY2(document->toPlainText().contains(shown), qPrintable(document->toPlainText()));
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            QVERIFY2(!format.fontItalic() && format.fontWeight() <= QFont::Normal, qPrintable(it.fragment().text()));
        }
    }
}

void PreviewTest::markupQuotedByReferences_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("picture");
    QTest::addColumn<QString>("shown");
    // Markup as the archive holds it, its attribute quotes written as references.
    const QByteArray png = "data:image/png;base64," + pngBytes().toBase64();
    const auto html = [](const QByteArray &inner) {
        return QString::fromUtf8("&lt;html&gt;&lt;body&gt;&lt;p&gt;above&lt;/p&gt;" + inner + "&lt;/body&gt;&lt;/html&gt;");
    };
    const QString quoted = html("&lt;img src=&quot;" + png + "&quot;&gt;");
    const QString note = QStringLiteral("Notes"), tasks = QStringLiteral("Tasks");
    QTest::newRow("note, picture quoted by &quot;") << note << OlmXml::notes({{"Quoted", quoted}}) << true << "above";
    QTest::newRow("task note, picture quoted by &quot;")
        << tasks << OlmXml::tasks({{"Quoted", quoted, "2"}}) << true << "above";
    // An event's description is plain by its field: its markup shows as typed.
    QTest::newRow("event description, markup is typed text")
        << QStringLiteral("Calendar") << OlmXml::appointments({{"Quoted", QString(), quoted, QString(), QString()}})
        << false << "<p>above</p>";
    QTest::newRow("note, picture quoted by &apos;")
        << note << OlmXml::notes({{"Quoted", html("&lt;img src=&apos;" + png + "&apos;&gt;")}}) << true << "above";
    // References are undone once: "&amp;quot;" is the text "&quot;", no quote of the markup.
    QTest::newRow("note, &amp;quot; is no quote")
        << note << OlmXml::notes({{"Quoted", html("&lt;img src=&amp;quot;" + png + "&amp;quot;&gt;")}}) << false
        << "above";
    QTest::newRow("note, style quoted by &quot;")
        << note << OlmXml::notes({{"Quoted", html("&lt;p style=&quot;color:#ff0000&quot;&gt;red&lt;/p&gt;")}})
        << false << "red";
    // Typed text shows its references as before.
    // Typed text has its references undone once.
    QTest::newRow("typed note undoes its references once")
        << note << OlmXml::notes({{"Typed", "typed &lt;b&gt; &quot;q&quot; &amp;quot;"}}) << false
        << "typed <b> \"q\" &quot;";
}

// A note's or task's markup reads as XML gives it, as a mail body's does: attribute quotes
// written as references are quotes, so its pictures and styles show.
void PreviewTest::markupQuotedByReferences()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, xml);
    QFETCH(bool, picture);
    QFETCH(QString, shown);
    QZovuvozivMainWindow w;
    QTreeWidget *list = openEntry(w, QStringLiteral("Local/%1/%1.xml").arg(folder), xml, folder);
    QVERIFY(list);
    QCOMPARE(list->topLevelItemCount(), 1);
    select(w, 0);
    QTextDocument *document = w.panes().textPreview->document();
    QVERIFY2(document->toPlainText().contains(shown), qPrintable(document->toPlainText()));
    QCOMPARE(laidOutHeight(document) >= kPictureSide, picture);
    // The picture starts a line of its own under the text before it, as in a mail body.
    const QTextBlock above = document->findBlock(document->toPlainText().indexOf(shown));
    QVERIFY2(!above.text().contains(QChar::ObjectReplacementCharacter), qPrintable(above.text()));
    if (shown == QLatin1String("red"))
        QCOMPARE(above.begin().fragment().charFormat().foreground().color(), QColor(Qt::red));
}

void PreviewTest::sampleContacts_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("head");
    QTest::addColumn<QStringList>("within");
    // First name only: the shown name keeps its blank.
    QTest::newRow("first name only") << 0 << "\n\ntom \n\n\nContact Name\n\nFirst Name : tom\n" << QStringList();
    QTest::newRow("both names") << 2
                                << "\n\nBart Simpson\n\n\nContact Name\n\nFirst Name : Bart\n\nLast Name : Simpson\n\n"
                                   "Email Addresses\n\nEmail Address 1 : bart@simpsonggggg.com\n"
                                << QStringList();
    QTest::newRow("every section")
        << 1 << "\n\nJane Doe\n\n\nContact Name\n"
        << QStringList{"\nProfessional Properties\n\n", "\nCompany : Burns Nuclear Plant\n",
                       "\nTelephone Numbers and Fax\n\n", "\nWork Phone 1 : 321-111-2222\n",
                       "\nWork Phone 2 : 111\n", "\nWork Fax : 555\n", "\nMobile Phone : 123-123-1234\n",
                       "\nAssistant Phone : 333-555-6666\n", "\nOthers\n\n", "\nJob Title : human bean\n",
                       "\nDept : Nuclear\n", "\nWork Street Address : 777\n", "\nWork State : AB\n",
                       "\nWork Zip : t3c3v2\n", "\nWork Country/Region : Canada\n",
                       "\nWork URL : workweb.not.mail\n", "\nCustom 1 : dfdf\n", "\nCustom 4 : ggg\n",
                       "\nCustom Date 1 : 2018-06-20\n", "\nBirthday : 2018-06-20\n",
                       "\nAnniversary : 2018-06-20\n"};
}

void PreviewTest::sampleContacts()
{
    QFETCH(int, row);
    QFETCH(QString, head);
    QFETCH(QStringList, within);
    QZovuvozivMainWindow w;
    QTreeWidget *list = openFolder(w, QStringLiteral(OLM_SAMPLE_ARCHIVE), QStringLiteral("Address Book"));
    QVERIFY(list);
    QCOMPARE(list->topLevelItemCount(), 5);
    select(w, (row + 1) % 5);
    select(w, row);
    const QString shown = w.panes().textPreview->toPlainText();
    if (within.isEmpty())
        QCOMPARE(shown, head);
    QCOMPARE(shown.left(head.size()), head);
    for (const QString &part : within)
        QVERIFY2(shown.contains(part), qPrintable(part + QLatin1String(" in:\n") + shown));
    // "0E0" is no age; the sample's blood type "G" is kept.
    QVERIFY(!shown.contains(QLatin1String("Age : ")));
    QCOMPARE(w.panes().textPreview->textColor(), QColor(68, 68, 68));
    QCOMPARE(w.panes().textPreview->fontPointSize(), 11.0);
}

void PreviewTest::contactWithoutNames_data()
{
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("no notes") << ""
                              << "\n\nUnknown\n\n";
    // Notes are a plain field: shown as typed, line ends and blank runs kept.
    QTest::newRow("notes") << "Fish &amp; chips\nline   two"
                           << "\n\nUnknown\n\n\nDescription :\n\n\nFish & chips\nline   two";
    // Typed markup is text: no picture is made, no file opened.
    QTest::newRow("markup in notes")
        << "&lt;b&gt;bold&lt;/b&gt; &lt;img src='file:///etc/passwd'&gt;x"
        << "\n\nUnknown\n\n\nDescription :\n\n\n<b>bold</b> <img src='file:///etc/passwd'>x";
}

void PreviewTest::contactWithoutNames()
{
    QFETCH(QString, notes);
    QFETCH(QString, shown);
    QZovuvozivMainWindow w;
    QTreeWidget *list = openEntry(w, QStringLiteral("Local/Address Book/Contacts.xml"),
                                  OlmXml::contacts({{"", "", "", notes, ""}}), QStringLiteral("Address Book"));
    QVERIFY(list);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(w.panes().textPreview->toPlainText(), shown);
}

void PreviewTest::contactNamedAsItsCard_data()
{
    QTest::addColumn<QByteArray>("fields");  // the contact's elements
    QTest::addColumn<QString>("name");       // its list row and preview title
    const QByteArray addresses =
        "<OPFContactCopyEmailAddressList xml:space=\"preserve\"><contactEmailAddress xml:space=\"preserve\" "
        "OPFContactEmailAddressAddress=\"bare@example.com\" OPFContactEmailAddressIsDefault=\"1\" "
        "OPFContactEmailAddressType=\"0\"></contactEmailAddress></OPFContactCopyEmailAddressList>";
    const QByteArray company = OlmXml::elementRaw("OPFContactCopyBusinessCompany", "ACME &amp; Sons");
    const QByteArray display = OlmXml::elementRaw("OPFContactCopyDisplayName", "Only Display");
    QTest::newRow("display name only") << display << "Only Display";
    QTest::newRow("company only") << company << "ACME & Sons";
    QTest::newRow("address only") << addresses << "bare@example.com";
    QTest::newRow("display name before company and address") << addresses + company + display << "Only Display";
    QTest::newRow("company before address") << addresses + company << "ACME & Sons";
    QTest::newRow("a name before all") << display + OlmXml::elementRaw("OPFContactCopyLastName", "Lee") << "Lee";
}

// A contact without a first or last name is listed and titled by the first of its display name,
// company and address, as its card's name is.
void PreviewTest::contactNamedAsItsCard()
{
    QFETCH(QByteArray, fields);
    QFETCH(QString, name);
    QZovuvozivMainWindow w;
    QTreeWidget *list =
        openEntry(w, QStringLiteral("Local/Address Book/Contacts.xml"),
                  OlmXml::list(QStringLiteral("contacts"), 1, OlmXml::item(QStringLiteral("contact"), fields)),
                  QStringLiteral("Address Book"));
    QVERIFY(list);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(ItemColumnText).trimmed(), name);
    QVERIFY2(w.panes().textPreview->toPlainText().startsWith(QStringLiteral("\n\n") + name),
             qPrintable(w.panes().textPreview->toPlainText()));
}

void PreviewTest::rowWithoutItsRecordShowsNothing_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("change");
    for (const char *folder : {"Tasks", "Notes", "Address Book"}) {
        // The records freed after the fill: the row must not reach them (ASan watches).
        QTest::addRow("%s: records freed", folder) << folder << "clean";
        // The records freed and scanned anew: the row's position may now be another record.
        QTest::addRow("%s: archive scanned again", folder) << folder << "rescan";
        // A key that differs only in letter case is another key.
        QTest::addRow("%s: key in lower case", folder) << folder << "lower";
        QTest::addRow("%s: position past the list", folder) << folder << "position";
    }
}

void PreviewTest::rowWithoutItsRecordShowsNothing()
{
    QFETCH(QString, folder);
    QFETCH(QString, change);
    QZovuvozivMainWindow w;
    QTreeWidget *list = openFolder(w, QStringLiteral(OLM_SAMPLE_ARCHIVE), folder);
    QVERIFY(list);
    QTreeWidgetItem *row = list->topLevelItem(0);
    QVERIFY(!w.panes().textPreview->toPlainText().isEmpty());
    if (change == QLatin1String("clean") || change == QLatin1String("rescan")) {
        // The clean-up empties the list; a row kept over it still names the freed records.
        list->takeTopLevelItem(0);
        QParseDatabase::CleanListAndHash();
        QCOMPARE(list->topLevelItemCount(), 0);
        if (change == QLatin1String("rescan")) {
            QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
            QVERIFY(f.open(QIODevice::ReadOnly));
            scanBytes(f.readAll());
            QVERIFY(TmpTSRCPtrStart && TmpNTRCPtrStart && TmpCTRCPtrStart);
        }
        list->addTopLevelItem(row);
    } else if (change == QLatin1String("lower")) {
        row->setText(5, row->text(5).toLower());
        QVERIFY(row->text(5) != row->text(5).toUpper());
    } else {
        row->setData(0, ItemIndexRole, qlonglong(1000));
    }
    list->clearSelection();
    w.panes().textPreview->clear();
    w.panes().textPreview->setPlainText(QStringLiteral("earlier"));
    list->setCurrentItem(row);
    QVERIFY(row->isSelected());
    QCOMPARE(w.panes().textPreview->toPlainText(), QStringLiteral("earlier"));
}

void PreviewTest::allowedResources_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("own resource") << QUrl(QStringLiteral(":/images/img_TaskIcon.png")) << true;
    QTest::newRow("qrc") << QUrl(QStringLiteral("qrc:/images/img_TaskIcon.png")) << true;
    QTest::newRow("inline data") << QUrl(QStringLiteral("data:image/png;base64,AAAA")) << true;
    QTest::newRow("inline data, capitals") << QUrl(QStringLiteral("DATA:image/png;base64,AAAA")) << true;
    QTest::newRow("file url") << QUrl(QStringLiteral("file:///etc/passwd")) << false;
    QTest::newRow("absolute path") << QUrl(QStringLiteral("/etc/passwd")) << false;
    QTest::newRow("relative path") << QUrl(QStringLiteral("picture.png")) << false;
    QTest::newRow("web") << QUrl(QStringLiteral("http://example.org/a.png")) << false;
    QTest::newRow("colon inside a relative path") << QUrl(QStringLiteral("a:/b")) << false;
}

void PreviewTest::allowedResources()
{
    QFETCH(QUrl, url);
    QFETCH(bool, allowed);
    QCOMPARE(SafePreviewDocument::IsAllowedResource(url), allowed);
}

void PreviewTest::archiveHtmlLoadsNoLocalFile_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("shown");
    const QString file = QUrl::fromLocalFile(m_picturePath).toString();
    QTest::newRow("file url") << file << false;
    QTest::newRow("plain path") << m_picturePath << false;
    QTest::newRow("system file") << QStringLiteral("file:///etc/passwd") << false;
    QTest::newRow("inline picture") << QStringLiteral("data:image/png;base64,") + QString::fromLatin1(pngBytes().toBase64())
                                    << true;
}

void PreviewTest::archiveHtmlLoadsNoLocalFile()
{
    QFETCH(QString, source);
    QFETCH(bool, shown);
    const QString html = QStringLiteral("<img src='%1'>").arg(source);
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::tasks({{"Picture", html, "2"}}));
    b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), OlmXml::notes({{"Picture", html}}));
    const QString path = m_dir.filePath(QStringLiteral("pictures.olm"));
    QVERIFY(WriteTestFile(path, b.finish()));

    // A view without the policy does read the file: what the preview must not do.
    QTextBrowser plain;
    plain.append(html);
    const bool plainLoads = laidOutHeight(plain.document()) >= kPictureSide;
    if (!source.startsWith(QLatin1String("data:")) && source.endsWith(QLatin1String(".png")))
        QVERIFY(plainLoads);

    for (const char *folder : {"Tasks", "Notes"}) {
        QZovuvozivMainWindow w;
        QTreeWidget *list = openFolder(w, path, QLatin1String(folder));
        QVERIFY(list);
        QCOMPARE(list->topLevelItemCount(), 1);
        QVERIFY(w.panes().textPreview->toPlainText().contains(QLatin1String("Picture")));
        QTextDocument *doc = w.panes().textPreview->document();
        QVERIFY(qobject_cast<SafePreviewDocument *>(doc));
        QCOMPARE(laidOutHeight(doc) >= kPictureSide, shown);
    }
}

void PreviewTest::recoveredItemsUnderTheirFolder1_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("expected");   // one text per row, in list order
    QTest::newRow("contacts") << "41" << QStringList{"Ann Lee", "Bo Ek"};
    QTest::newRow("tasks") << "43" << QStringList{"Task : Call back"};
    QTest::newRow("notes") << "44" << QStringList{"Summary : Shopping"};
}

void PreviewTest::recoveredItemsUnderTheirFolder1()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, expected);
    // Every PIM entry sits between mails with its local header and its name's start smashed: its
    // items come back from block recovery without a folder and are listed under their own kind's
    // Folder1.
    TestArchiveBuilder b;
    QVector<qint64> smash;
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Before");
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00000.xml"), OlmXml::emails({m}));
    smash << b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"),
                        OlmXml::contacts({{"Ann", "Lee", "", "Met at the fair", ""}, {"Bo", "Ek", "", "", ""}}));
    smash << b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::tasks({{"Call back", "before noon", "2"}}));
    smash << b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), OlmXml::notes({{"Shopping", "milk and bread"}}));
    m.subject = QStringLiteral("After");
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00001.xml"), OlmXml::emails({m}));
    // Without a central directory: with one, the entries would keep their folders.
    QByteArray bytes = b.finish(false);
    for (qint64 header : smash) {
        Damage::smashHeader(bytes, header);
        Damage::zeroStretch(bytes, header + 30, 6);  // a name behind the fields still gives the folder
    }
    const QString path = m_dir.filePath(QStringLiteral("damaged-%1.olm").arg(kind));
    QVERIFY(WriteTestFile(path, bytes));

    QZovuvozivMainWindow w;
    open(w, path);
    QTreeWidgetItem *folder = folderOfKind(w.panes().folderTree, QStringLiteral("Folder1"), kind);
    QVERIFY(folder);
    w.parseDatabase()->ShowindivisualMailItemsInfo(folder, 0);
    QCOMPARE(w.panes().itemList->topLevelItemCount(), expected.size());
    for (int row = 0; row < expected.size(); ++row) {
        select(w, row);
        const QString shown = w.panes().textPreview->toPlainText();
        QVERIFY2(shown.contains(expected.at(row)), qPrintable(shown));
    }
    if (kind == QLatin1String("41")) {
        select(w, 0);
        QVERIFY(w.panes().textPreview->toPlainText().contains(QLatin1String("Met at the fair")));
    } else if (kind == QLatin1String("43")) {
        QVERIFY(w.panes().textPreview->toPlainText().contains(QLatin1String("before noon")));
    } else {
        QVERIFY(w.panes().textPreview->toPlainText().contains(QLatin1String("milk and bread")));
    }
}

QTEST_MAIN(PreviewTest)
#include "tst_preview.moc"
