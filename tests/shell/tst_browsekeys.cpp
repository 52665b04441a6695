// Browsing as a user does it: after a click on a mail row the keys walk the rows and preview
// each, never the folder tree; Tab goes tree, list, preview. The preview never shows an item the
// list no longer has as its current row, and every preview opens at its first line.

#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "TestArchiveBuilder.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"
#include "shell/ShellWidgets.h"
#include "shell/StopDlg.h"

#include <QLabel>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTreeWidget>
#include "WindowTestUtil.h"

#include <QtTest>

namespace {

constexpr int kMails = 40;
// Enough mails that listing them takes many slices of the event loop.
constexpr int kBigFolderMails = 60000;
const char kMessages[] = "Local/com.microsoft.__Messages/";

QString subjectOf(int i)
{
    return QStringLiteral("Subject %1").arg(i, 2, 10, QLatin1Char('0'));
}

QByteArray browseArchive()
{
    TestArchiveBuilder b;
    for (int i = 0; i < kMails; ++i) {
        OlmXml::MailItem m;
        m.subject = subjectOf(i);
        m.body = QStringLiteral("Body %1").arg(i);
        m.sent = QStringLiteral("2006-01-11T17:17:59");
        m.from = {{QStringLiteral("lei%1@example.org").arg(i), QString::fromUtf8("李雷")}};
        b.addEntry(QLatin1String(kMessages) + QStringLiteral("Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({m}));
    }
    QString notes;
    for (int line = 0; line < 200; ++line)
        notes += QStringLiteral("Note line %1\n").arg(line);
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"),
               OlmXml::contacts({{QStringLiteral("Long"), QStringLiteral("Contact"), QString(), notes, QString()}}));
    return b.finish();
}

// One folder, "Big", of many short mails.
QByteArray bigFolderArchive()
{
    TestArchiveBuilder b;
    for (int i = 0; i < kBigFolderMails; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Big %1").arg(i);
        b.addEntry(QLatin1String(kMessages) + QStringLiteral("Big/message_%1.xml").arg(i, 6, 10, QLatin1Char('0')),
                   OlmXml::emails({m}));
    }
    return b.finish();
}

// An Inbox of count short mails, "plain 1" to "plain <count>".
QByteArray plainMailsArchive(int count)
{
    TestArchiveBuilder b;
    for (int i = 1; i <= count; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("plain %1").arg(i);
        m.body = QStringLiteral("Body %1").arg(i);
        m.sent = QStringLiteral("2006-01-11T17:17:59");
        b.addEntry(QLatin1String(kMessages) + QStringLiteral("Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({m}));
    }
    return b.finish();
}

}  // namespace

class BrowseKeysTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void keysWalkTheListAfterAClick_data();
    void keysWalkTheListAfterAClick();
    void tabGoesTreeListPreview();
    void highlightIsTheCurrentRow_data();
    void highlightIsTheCurrentRow();
    void endDuringAFill_data();
    void endDuringAFill();
    void previewEmptyWithoutCurrentRow_data();
    void previewEmptyWithoutCurrentRow();
    void longContactOpensAtItsTop();
    void homeAndEndDrawAsArrowsDo_data();
    void homeAndEndDrawAsArrowsDo();

private:
    QTreeWidget *openInbox(QZovuvozivMainWindow &w, bool renewed = false);
    QTemporaryDir m_dir;
    QString m_path;
};

void BrowseKeysTest::initTestCase()
{
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("browse.olm"));
    QFile f(m_path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(browseArchive());
}

// The window shown and active, the archive scanned and its Inbox clicked in the tree; null with
// a warning saying which step failed. renewed: Inbox is clicked twice, the second time past the
// row count that replaces the list, and the replacement is returned.
QTreeWidget *BrowseKeysTest::openInbox(QZovuvozivMainWindow &w, bool renewed)
{
    const auto failed = [](const char *step) -> QTreeWidget * {
        qWarning("openInbox: %s", step);
        return nullptr;
    };
    w.resize(1050, 640);
    w.show();
    startScanInWindow(w, m_path);
    if (!QTest::qWaitFor([&] { return peer(w).m_pInformationDlg != nullptr; }, 60000))
        return failed("no scan summary");
    peer(w).m_pInformationDlg->close();
    w.activateWindow();
    if (!QTest::qWaitForWindowActive(&w))
        return failed("window not active");
    QTreeWidget *tree = w.panes().folderTree;
    QTreeWidgetItem *inbox = folderNamed(tree, QStringLiteral("Inbox"));
    if (!inbox)
        return failed("no Inbox");
    const QRect folder = tree->visualItemRect(inbox);
    const QPointer<QTreeWidget> first = w.panes().itemList;
    for (int click = 0; click < (renewed ? 2 : 1); ++click) {
        const ItemListRenewRows renewPast(click == 0 ? kMails + 1 : kMails);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, folder.center() + QPoint(folder.width() / 4, 0));
        if (!QTest::qWaitFor(
                [&] { return !ItemListFillRunning() && w.panes().itemList->topLevelItemCount() == kMails; }, 20000))
            return failed("Inbox not listed");
    }
    if ((w.panes().itemList != first) != renewed)
        return failed(renewed ? "list not renewed" : "list renewed");
    // The old list goes once the event loop has run.
    if (renewed && !QTest::qWaitFor([&] { return first.isNull(); }, 5000))
        return failed("old list kept");
    return tree->currentItem() == inbox ? w.panes().itemList : failed("Inbox not current");
}

void BrowseKeysTest::keysWalkTheListAfterAClick_data()
{
    QTest::addColumn<QVector<int>>("keys");
    QTest::addColumn<int>("row");  // -1: a page or more below the clicked row
    QTest::newRow("Down") << QVector<int>{Qt::Key_Down} << 3;
    QTest::newRow("Down twice") << QVector<int>{Qt::Key_Down, Qt::Key_Down} << 4;
    QTest::newRow("Up") << QVector<int>{Qt::Key_Up} << 1;
    QTest::newRow("Page Down") << QVector<int>{Qt::Key_PageDown} << -1;
    QTest::newRow("End") << QVector<int>{Qt::Key_End} << kMails - 1;
    QTest::newRow("End then Home") << QVector<int>{Qt::Key_End, Qt::Key_Home} << 0;
    QTest::newRow("Page Up") << QVector<int>{Qt::Key_PageUp} << 0;
}

void BrowseKeysTest::keysWalkTheListAfterAClick()
{
    QFETCH(QVector<int>, keys);
    QFETCH(int, row);
    QZovuvozivMainWindow w;
    QTreeWidget *list = openInbox(w);
    QVERIFY(list);
    QTreeWidgetItem *folder = w.panes().folderTree->currentItem();

    const QRect clicked = list->visualItemRect(list->topLevelItem(2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, clicked.center());
    QTRY_COMPARE(w.panes().subjectLabel->text(), subjectOf(2));
    QVERIFY(list->hasFocus());
    for (int key : keys)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));

    const int current = list->indexOfTopLevelItem(list->currentItem());
    if (row < 0)
        QVERIFY2(current > 3, qPrintable(QString::number(current)));
    else
        QCOMPARE(current, row);
    QTRY_COMPARE(w.panes().subjectLabel->text(), subjectOf(current));
    QVERIFY(list->hasFocus());
    QCOMPARE(w.panes().folderTree->currentItem(), folder);
    QCOMPARE(list->topLevelItemCount(), kMails);
}

void BrowseKeysTest::tabGoesTreeListPreview()
{
    QZovuvozivMainWindow w;
    QTreeWidget *list = openInbox(w);
    QVERIFY(list);
    QVERIFY(w.panes().folderTree->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(list->hasFocus());
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->indexOfTopLevelItem(list->currentItem()), 1);
    QTRY_COMPARE(w.panes().subjectLabel->text(), subjectOf(1));
    QTest::keyClick(list, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.panes().htmlPreview);
}

void BrowseKeysTest::highlightIsTheCurrentRow_data()
{
    QTest::addColumn<QString>("focus");  // how the keyboard came to the list
    QTest::addColumn<QVector<int>>("keys");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("renewed");  // the list was replaced on leaving a folder of many rows
    const QVector<int> down3{Qt::Key_Down, Qt::Key_Down, Qt::Key_Down};
    for (bool renewed : {false, true}) {
        const auto row = [renewed](const char *name) -> QTestData & {
            return QTest::newRow(qPrintable(QLatin1String(name) + (renewed ? " (renewed list)" : "")));
        };
        row("Tab from the tree, Down x3") << "tab" << down3 << 3 << renewed;
        row("Tab from the tree, End, Up") << "tab" << QVector<int>{Qt::Key_End, Qt::Key_Up} << kMails - 2 << renewed;
        row("a click on a row, Down x3") << "click" << down3 << 3 << renewed;
        row("Tab, then Tab back from the preview, Down x3") << "tab round" << down3 << 3 << renewed;
    }
}

// However the keyboard came to the list, the row the preview shows is the one highlighted.
void BrowseKeysTest::highlightIsTheCurrentRow()
{
    QFETCH(QString, focus);
    QFETCH(QVector<int>, keys);
    QFETCH(int, row);
    QFETCH(bool, renewed);
    QZovuvozivMainWindow w;
    QTreeWidget *list = openInbox(w, renewed);
    QVERIFY(list);
    if (focus == QLatin1String("click")) {
        // Row 1: the click itself previews, away from the row the fill showed first.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->topLevelItem(1)).center());
        QTRY_COMPARE(w.panes().subjectLabel->text(), subjectOf(1));
        QTest::keyClick(list, Qt::Key_Up);
    } else {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (focus == QLatin1String("tab round")) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        }
    }
    QVERIFY(list->hasFocus());
    for (int key : keys)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    QCOMPARE(list->indexOfTopLevelItem(list->currentItem()), row);
    QCOMPARE(list->selectedItems(), QList<QTreeWidgetItem *>{list->currentItem()});
    QTRY_COMPARE(w.panes().subjectLabel->text(), subjectOf(row));
}

void BrowseKeysTest::endDuringAFill_data()
{
    QTest::addColumn<bool>("thenUp");
    QTest::addColumn<bool>("renewed");  // the folder listed once before, and the list replaced
    QTest::newRow("End: the folder's last mail") << false << false;
    QTest::newRow("End, then Up: stays where Up went") << true << false;
    QTest::newRow("End in a renewed list: the folder's last mail") << false << true;
}

void BrowseKeysTest::endDuringAFill()
{
    QFETCH(bool, thenUp);
    QFETCH(bool, renewed);
    const QString path = m_dir.filePath(QStringLiteral("big.olm"));
    if (!QFileInfo::exists(path)) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bigFolderArchive()) > 0);
    }
    QZovuvozivMainWindow w;
    w.resize(1050, 640);
    w.show();
    startScanInWindow(w, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 60000);
    peer(w).m_pInformationDlg->close();
    QTreeWidget *tree = w.panes().folderTree;
    QTreeWidgetItem *big = folderNamed(tree, QStringLiteral("Big"));
    QVERIFY(big);
    QTreeWidget *first = w.panes().itemList;
    const ItemListRenewRows renewPast(kBigFolderMails);
    if (renewed) {
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(big).center());
        QTRY_VERIFY_WITH_TIMEOUT(!ItemListFillRunning() && first->topLevelItemCount() == kBigFolderMails, 60000);
    }
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(big).center());
    QTreeWidget *list = w.panes().itemList;
    QCOMPARE(list != first, renewed);
    // A slice of the fill at a time, so the keys come while it runs.
    while (list->topLevelItemCount() == 0)
        QCoreApplication::processEvents();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->topLevelItem(0)).center());
    QVERIFY(ItemListFillRunning());
    QTest::keyClick(list, Qt::Key_End);
    QTreeWidgetItem *upTo = nullptr;
    if (thenUp) {
        QTest::keyClick(list, Qt::Key_Up);
        upTo = list->currentItem();
    }
    QVERIFY(ItemListFillRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!ItemListFillRunning(), 60000);
    QCOMPARE(list->topLevelItemCount(), kBigFolderMails);
    QTreeWidgetItem *current = list->currentItem();
    QCOMPARE(list->selectedItems(), QList<QTreeWidgetItem *>{current});
    if (thenUp) {
        QCOMPARE(current, upTo);
        return;
    }
    QCOMPARE(list->indexOfTopLevelItem(current), kBigFolderMails - 1);
    QTRY_COMPARE(w.panes().subjectLabel->text(), QStringLiteral("Big %1").arg(kBigFolderMails - 1));
    QVERIFY(list->visualItemRect(current).intersects(list->viewport()->rect()));
}

void BrowseKeysTest::previewEmptyWithoutCurrentRow_data()
{
    QTest::addColumn<QString>("then");
    QTest::newRow("a folder without items") << QStringLiteral("empty folder");
    QTest::newRow("a failed open of another file") << QStringLiteral("failed open");
}

void BrowseKeysTest::previewEmptyWithoutCurrentRow()
{
    QFETCH(QString, then);
    QZovuvozivMainWindow w;
    QTreeWidget *list = openInbox(w);
    QVERIFY(list);
    QTRY_VERIFY(w.panes().senderLabel->text().startsWith(QString::fromUtf8("李")));

    if (then == QLatin1String("empty folder")) {
        w.parseDatabase()->ShowindivisualMailItemsInfo(w.panes().folderTree->topLevelItem(0), 0);
    } else {
        const QString bad = m_dir.filePath(QStringLiteral("not-an-archive.olm"));
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a zip at all");
        f.close();
        // "Do you want to choose another file?" Yes.
        w.OnOpenFile();
        QVERIFY(stopDlgObj->isVisible());
        stopDlgObj->yesButton()->click();
        startScanInWindow(w, bad);
    }
    QTRY_COMPARE(list->topLevelItemCount(), 0);
    // The header's sender is cut again from its whole text on every resize: nothing comes back.
    w.resize(902, 640);
    QCoreApplication::processEvents();
    for (QLabel *label : {w.panes().senderLabel, w.panes().subjectLabel, w.panes().dateLabel,
                          w.panes().recipientsLabel})
        QVERIFY2(label->text().isEmpty(), qPrintable(label->objectName() + QLatin1String(": ") + label->text()));
    QVERIFY(w.panes().htmlPreview->toPlainText().isEmpty());
    QVERIFY(w.panes().textPreview->toPlainText().isEmpty());
}

void BrowseKeysTest::longContactOpensAtItsTop()
{
    QZovuvozivMainWindow w;
    QVERIFY(openInbox(w));
    QTreeWidgetItem *book = folderNamed(w.panes().folderTree, QStringLiteral("Address Book"));
    QVERIFY(book);
    w.parseDatabase()->ShowindivisualMailItemsInfo(book, 0);
    QTextBrowser *view = w.panes().textPreview;
    QTRY_VERIFY(view->toPlainText().contains(QStringLiteral("Note line 199")));
    QCoreApplication::processEvents();
    QVERIFY(view->verticalScrollBar()->maximum() > 0);
    QCOMPARE(view->verticalScrollBar()->value(), 0);
}

QTEST_MAIN(BrowseKeysTest)
#include "tst_browsekeys.moc"

void BrowseKeysTest::homeAndEndDrawAsArrowsDo_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("width");
    for (int rows : {10, 13, 17, 21, 25, 30, 40}) {
        for (int width : {902, 1050})
            QTest::addRow("%d rows, %d px", rows, width) << rows << width;
    }
}

// End and Home jump further than a screen, which the view repaints rather than scrolls: the
// list then looks exactly as the arrow keys leave it at the same row, each row drawn once.
void BrowseKeysTest::homeAndEndDrawAsArrowsDo()
{
    QFETCH(int, rows);
    QFETCH(int, width);
    const QString path = m_dir.filePath(QStringLiteral("plain%1.olm").arg(rows));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(plainMailsArchive(rows));
    }
    QZovuvozivMainWindow w;
    w.resize(width, 640);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    scanInWindow(w, path);
    QTreeWidget *tree = w.panes().folderTree;
    QTreeWidgetItem *inbox = folderNamed(tree, QStringLiteral("Inbox"));
    QVERIFY(inbox);
    const QRect folder = tree->visualItemRect(inbox);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, folder.center() + QPoint(folder.width() / 4, 0));
    QTRY_VERIFY(!ItemListFillRunning() && w.panes().itemList->topLevelItemCount() == rows);
    QTreeWidget *list = w.panes().itemList;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->topLevelItem(0)).center());
    QTRY_COMPARE(w.panes().subjectLabel->text(), QStringLiteral("plain 1"));
    // The list as it stands once every pending paint and widget placing has run.
    const auto shown = [&](int row) {
        const QString subject = QStringLiteral("plain %1").arg(row + 1);
        if (!QTest::qWaitFor([&] { return w.panes().subjectLabel->text() == subject; }, 10000))
            return QImage();
        QCoreApplication::processEvents();
        return list->viewport()->grab().toImage();
    };
    QTest::keyClick(list, Qt::Key_End);
    const QImage byEnd = shown(rows - 1);
    QTest::keyClick(list, Qt::Key_Home);
    const QImage byHome = shown(0);
    QVERIFY(!byEnd.isNull() && !byHome.isNull() && byEnd != byHome);
    for (int i = 1; i < rows; ++i)
        QTest::keyClick(list, Qt::Key_Down);
    QVERIFY2(shown(rows - 1) == byEnd, "End draws other pixels than the arrows to the last row");
    for (int i = 1; i < rows; ++i)
        QTest::keyClick(list, Qt::Key_Up);
    QVERIFY2(shown(0) == byHome, "Home draws other pixels than the arrows to the first row");
}
