// The calendar preview: every calendar item of the sample shows its summary and location; the
// description is read back from the archive with its entities replaced; items recovered from a
// damaged archive are listed under their Folder1 and previewed the same; a description cut off
// by the end of the archive shows what is there; archive HTML loads no local file.

#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "TestArchiveBuilder.h"
#include "TestFiles.h"
#include "browse/FolderTree.h"
#include "browse/QPreviewOfItems.h"
#include "browse/SafePreviewDocument.h"
#include "platform/WorkerGlobals.h"
#include "scanner/ScanGlobals.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTreeWidget>
#include "WindowTestUtil.h"

#include <QtTest>

#include <cstring>

namespace {

constexpr int kPictureSide = 300;

// Each labelled line is a paragraph followed by an empty one.
QString lines(const QStringList &labelled)
{
    QString text;
    for (const QString &line : labelled)
        text += line + QLatin1String("\n\n");
    return text;
}

QTreeWidgetItem *calendarFolder(QTreeWidget *tree, const QString &name)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if ((*it)->text(FolderColumnName) == name && (*it)->text(FolderColumnKind) == QLatin1String("42"))
            return *it;
    }
    return nullptr;
}

QByteArray pngBytes()
{
    return PngOf(kPictureSide, Qt::blue);
}

} // namespace

Q_DECLARE_METATYPE(OlmXml::EventItem)

class CalendarPreviewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void sampleItems_data();
    void sampleItems();
    void builtItems_data();
    void builtItems();
    void recoveredItems_data();
    void recoveredItems();
    void descriptionCutByArchiveEnd();
    void descriptionLoadsNoLocalFile();

private:
    void openCalendar(QZovuvozivMainWindow &w, const QString &path, const QString &folder);
    QString writeArchive(const QString &name, const QByteArray &bytes);
    void select(QZovuvozivMainWindow &w, int row);
    void checkPane(QZovuvozivMainWindow &w);
    QTemporaryDir m_dir;
};

void CalendarPreviewTest::initTestCase()
{
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    QVERIFY(m_dir.isValid());
}

QString CalendarPreviewTest::writeArchive(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
    return path;
}

void CalendarPreviewTest::openCalendar(QZovuvozivMainWindow &w, const QString &path, const QString &folder)
{
    startScanInWindow(w, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 60000);
    peer(w).m_pInformationDlg->close();
    QTreeWidgetItem *item = calendarFolder(w.panes().folderTree, folder);
    QVERIFY2(item, qPrintable(folder));
    w.parseDatabase()->ShowindivisualMailItemsInfo(item, 0);
}

void CalendarPreviewTest::select(QZovuvozivMainWindow &w, int row)
{
    // The preview follows the current row: from none to this one, even when it was current.
    w.panes().itemList->setCurrentItem(nullptr);
    w.panes().textPreview->clear();
    w.panes().itemList->setCurrentItem(w.panes().itemList->topLevelItem(row));
}

// What every calendar preview leaves behind, whatever the item.
void CalendarPreviewTest::checkPane(QZovuvozivMainWindow &w)
{
    QVERIFY(!w.panes().textPreview->isHidden());
    QVERIFY(w.panes().htmlPreview->isHidden());
    QVERIFY(w.panes().mailHeaderText->isHidden());
    QVERIFY(w.panes().mailHeaderText->toPlainText().isEmpty());
    QCOMPARE(w.panes().textPreview->textInteractionFlags(), Qt::NoTextInteraction);
    QCOMPARE(w.panes().textPreview->font().family(), QStringLiteral("Lucida Grande"));
    QCOMPARE(w.panes().textPreview->font().pointSize(), 12);
    QCOMPARE(w.panes().textPreview->textColor(), QColor(68, 68, 68));
    QCOMPARE(w.panes().textPreview->fontPointSize(), 11.0);
}

void CalendarPreviewTest::sampleItems_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("labelled");
    QTest::newRow("entry with a location")
        << 0 << QStringList{"Summary : This is a calendar entry", "Location : Over there"};
    QTest::newRow("weekly, location with a comma")
        << 1 << QStringList{"Summary : Weekly Recurring meeting", "Location : your place, then mine"};
    QTest::newRow("all day") << 2 << QStringList{"Summary : All day meeting"};
    QTest::newRow("in a category") << 3 << QStringList{"Summary : Appointment in friends cat"};
    QTest::newRow("daily") << 4 << QStringList{"Summary : Daily recurring meeting"};
    QTest::newRow("monthly") << 5 << QStringList{"Summary : Monthly recurring"};
    QTest::newRow("yearly") << 6 << QStringList{"Summary : Yearly recurrence"};
    QTest::newRow("private") << 7 << QStringList{"Summary : Private meeting"};
}

void CalendarPreviewTest::sampleItems()
{
    QFETCH(int, row);
    QFETCH(QStringList, labelled);
    QZovuvozivMainWindow w;
    openCalendar(w, QStringLiteral(OLM_SAMPLE_ARCHIVE), QStringLiteral("Calendar"));
    QCOMPARE(w.panes().itemList->topLevelItemCount(), 8);
    // Another item first, so this one is written over an earlier preview.
    select(w, (row + 1) % 8);
    QVERIFY(!w.panes().textPreview->toPlainText().isEmpty());
    select(w, row);
    QCOMPARE(w.panes().textPreview->toPlainText(), lines(labelled).chopped(1));
    checkPane(w);
}

void CalendarPreviewTest::builtItems_data()
{
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("shown");
    QTest::newRow("nothing at all") << "" << "" << "" << "";
    QTest::newRow("location only: its line first") << "" << "Room 4" << "" << lines({"Location : Room 4"}).chopped(1);
    const QString label = QStringLiteral("Description: \n\n");
    QTest::newRow("description") << "Meet" << "" << "Bring the slides"
                                 << lines({"Summary : Meet"}) + label + QStringLiteral("Bring the slides");
    // The stored text as the exporter escapes it.
    QTest::newRow("entities replaced") << "" << "" << "fish &amp; chips&nbsp;x &lt; y" << label + "fish & chips x < y";
    // A plain description shows as typed: references are undone once.
    QTest::newRow("typed greater-than reference") << "" << "" << "a &amp;gt; b" << label + "a &gt; b";
    QTest::newRow("typed less-than reference") << "" << "" << "a &amp;amp;lt; b" << label + "a &amp;lt; b";
    QTest::newRow("quotes and numeric references undone once")
        << "" << "" << "&quot;q&quot; &apos;a&apos; &#65; &amp;quot;" << label + "\"q\" 'a' A &quot;";
    QTest::newRow("stops at a zero byte") << "" << "" << QStringLiteral("before") + QChar(0) + QStringLiteral("after")
                                          << label + "before";
    QTest::newRow("all three, UTF-8")
        << QString::fromUtf8("Café") << QString::fromUtf8("Zürich") << QString::fromUtf8("Ünïcode")
        << lines({QString::fromUtf8("Summary : Café"), QString::fromUtf8("Location : Zürich")}) + label
               + QString::fromUtf8("Ünïcode");
}

void CalendarPreviewTest::builtItems()
{
    QFETCH(QString, summary);
    QFETCH(QString, location);
    QFETCH(QString, description);
    QFETCH(QString, shown);
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"),
               OlmXml::appointments({{summary, location, description, "", ""}, {"Other", "", "", "", ""}}));
    QZovuvozivMainWindow w;
    openCalendar(w, writeArchive(QStringLiteral("calendar.olm"), b.finish()), QStringLiteral("Calendar"));
    QCOMPARE(w.panes().itemList->topLevelItemCount(), 2);
    select(w, 1);
    w.panes().mailHeaderText->setPlainText(QStringLiteral("earlier"));
    w.panes().htmlPreview->show();
    select(w, 0);
    QCOMPARE(w.panes().textPreview->toPlainText(), shown);
    checkPane(w);
}

void CalendarPreviewTest::recoveredItems_data()
{
    QTest::addColumn<QVector<OlmXml::EventItem>>("items");
    QTest::newRow("three items")
        << QVector<OlmXml::EventItem>{{"Kickoff", "Hall", "Agenda &amp; notes", "", ""},
                                      {"Review", "", "", "", ""},
                                      {"", "Roof", "Bring &lt;badge&gt;", "", ""}};
    QTest::newRow("one item") << QVector<OlmXml::EventItem>{{"Alone", "Here", "Only one", "", ""}};
}

void CalendarPreviewTest::recoveredItems()
{
    QFETCH(QVector<OlmXml::EventItem>, items);
    // Calendar.xml between two mails, its local header smashed: the items come back from block
    // recovery without a folder, so they are listed under the calendar kind's own Folder1.
    TestArchiveBuilder b;
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Before");
    m.body = QStringLiteral("body");
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00000.xml"), OlmXml::emails({m}));
    const qint64 header = b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"), OlmXml::appointments(items));
    m.subject = QStringLiteral("After");
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00001.xml"), OlmXml::emails({m}));
    // Without a central directory: with one, the entry would keep its folder.
    QByteArray bytes = b.finish(false);
    Damage::smashHeader(bytes, header);

    QZovuvozivMainWindow w;
    openCalendar(w, writeArchive(QStringLiteral("damaged.olm"), bytes), QStringLiteral("Folder1"));
    QCOMPARE(w.panes().itemList->topLevelItemCount(), items.size());
    for (int row = 0; row < items.size(); ++row) {
        select(w, (row + 1) % items.size());
        select(w, row);
        const OlmXml::EventItem &e = items.at(row);
        QStringList labelled;
        if (!e.summary.isEmpty())
            labelled << QStringLiteral("Summary : ") + e.summary;
        if (!e.location.isEmpty())
            labelled << QStringLiteral("Location : ") + e.location;
        QString expected = lines(labelled);
        if (!e.description.isEmpty()) {
            QString text = e.description;
            text.replace(QLatin1String("&lt;"), QLatin1String("<")).replace(QLatin1String("&amp;"), QLatin1String("&"));
            text.replace(QLatin1String("&gt;"), QLatin1String(">"));
            expected += QStringLiteral("Description: \n\n") + text;
        } else {
            expected.chop(1);
        }
        QCOMPARE(w.panes().textPreview->toPlainText(), expected);
        checkPane(w);
    }
}

void CalendarPreviewTest::descriptionCutByArchiveEnd()
{
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"), OlmXml::appointments({{"Cut", "", "", "", ""}}));
    QZovuvozivMainWindow w;
    openCalendar(w, writeArchive(QStringLiteral("short.olm"), b.finish()), QStringLiteral("Calendar"));
    QVERIFY(TmpCLRCPtrStart);
    // A record whose description runs past the end of the archive, as in a cut file: only the
    // bytes that are there are shown. Lengths are never trusted for the allocation.
    CalenderInformation record{};
    std::memcpy(record.szUuid, TmpCLRCPtrStart->szUuid, sizeof record.szUuid);
    record.dwDescriptionOffset = lSize - 5;
    record.dwDescriptionLength = 0xFFFFFFFFu;
    QFile f(m_dir.filePath(QStringLiteral("short.olm")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.seek(lSize - 5));
    QByteArray tail = f.read(5);
    if (tail.contains('\0'))
        tail.truncate(tail.indexOf('\0'));
    QPreviewOfItems::writePreviewItemsForCalendar(&record);
    QCOMPARE(w.panes().textPreview->toPlainText(), QStringLiteral("Description: \n\n") + QString::fromUtf8(tail));
    // Past the end altogether: the label and nothing after it.
    record.dwDescriptionOffset = lSize + 100;
    QPreviewOfItems::writePreviewItemsForCalendar(&record);
    QCOMPARE(w.panes().textPreview->toPlainText(), QStringLiteral("Description: \n\n"));
    checkPane(w);
}

void CalendarPreviewTest::descriptionLoadsNoLocalFile()
{
    const QString picture = m_dir.filePath(QStringLiteral("picture.png"));
    QVERIFY(WriteTestFile(picture, pngBytes()));
    const QString description = QStringLiteral("&lt;img src=\"%1\"&gt;&lt;img src=\"%2\"&gt;")
                                    .arg(QUrl::fromLocalFile(picture).toString(), picture);
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"),
               OlmXml::appointments({{"Pictures", "", description, "", ""}}));
    QZovuvozivMainWindow w;
    openCalendar(w, writeArchive(QStringLiteral("pictures.olm"), b.finish()), QStringLiteral("Calendar"));
    QVERIFY(w.panes().textPreview->toPlainText().startsWith(QLatin1String("Summary : Pictures")));
    QTextDocument *doc = w.panes().textPreview->document();
    QVERIFY(qobject_cast<SafePreviewDocument *>(doc));
    doc->setTextWidth(2000);
    QVERIFY(doc->documentLayout()->documentSize().height() < kPictureSide);
}

QTEST_MAIN(CalendarPreviewTest)
#include "tst_calendarpreview.moc"
