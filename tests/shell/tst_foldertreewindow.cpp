// The folder tree inside the real main window: what the window adds to browsing's tree - the
// compiled-in folder pictures, a mouse click on a check box, the keys moving between folders,
// and the view a folder click leaves the window in.

#include "FolderTreeTestUtil.h"
#include "MainWindowTestPeer.h"
#include "ScanTestUtil.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"
#include "shell/ShellWidgets.h"

#include <QLabel>
#include <QStyleOptionViewItem>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QtTest>

using namespace FolderTreeTestUtil;

class FolderTreeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void samplePicturesLoad();
    void mouseOnCheckIndicator();
    void kindViewThenClickSavesWhatIsShown();
    void clickSwitchesView_data();
    void clickSwitchesView();
    void keyboardShowsTheCurrentFolder();

private:
    QZovuvozivMainWindow *m_window = nullptr;
    QTreeWidget *tree() const { return m_window->panes().folderTree; }
    QParseDatabase *db() const { return m_window->parseDatabase(); }
    void build() { db()->GenerateTree(); }
};

void FolderTreeTest::initTestCase()
{
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
}

void FolderTreeTest::init()
{
    // The window frees any earlier scan, so the maps are set after it exists.
    m_window = new QZovuvozivMainWindow;
    m_selectedFile = QStringLiteral("/tmp/archive.olm");
    bProcessRunning = false;
}

void FolderTreeTest::cleanup()
{
    delete m_window;
    m_window = nullptr;
    QParseDatabase::CleanListAndHash();
    bProcessRunning = false;
}

void FolderTreeTest::samplePicturesLoad()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    scanBytes(f.readAll());
    build();
    for (QTreeWidgetItemIterator it(tree()); *it; ++it)
        QVERIFY2(!(*it)->icon(0).isNull(), qPrintable((*it)->data(0, kFolderIconRole).toString()));
}

// The rows the list shows: each row's record position.
QStringList listedRows(QTreeWidget *list)
{
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->data(0, ItemIndexRole).toString();
    return rows;
}

void FolderTreeTest::mouseOnCheckIndicator()
{
    setMaps(kSmallTree);
    build();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTreeWidgetItem *b = findItem(tree(), QStringLiteral("B"));
    QStyleOptionViewItem opt;
    opt.initFrom(tree());
    opt.rect = tree()->visualItemRect(b);
    opt.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = tree()->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, tree());
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
    QCOMPARE(b->checkState(0), Qt::Unchecked);
    QCOMPARE(boxes(tree()), QStringLiteral("2111131"));
    QCOMPARE(stepFault(tree()), QString());
}

void FolderTreeTest::kindViewThenClickSavesWhatIsShown()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    scanBytes(f.readAll());
    build();
    // A click first, so every code agrees with its box before the view changes the boxes.
    db()->ShowindivisualMailItemsInfo(findItem(tree(), QStringLiteral("Outlook PST")), 0);
    m_window->OnCalenderView();
    QTreeWidgetItem *calendar = findItem(tree(), QStringLiteral("Calendar"));
    QCOMPARE(calendar->checkState(0), Qt::Checked);
    db()->ShowindivisualMailItemsInfo(calendar, 0);
    QCOMPARE(stepFault(tree()), QString());
    QCOMPARE(itemsToSave(), qint64(8));
    QCOMPARE(tree()->topLevelItem(0)->checkState(0), Qt::PartiallyChecked);
    QVERIFY(SelectionHasCheckedFolder(StartFldrAtrib));
}

void FolderTreeTest::clickSwitchesView_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("button");   // the view button left checked
    QTest::addColumn<bool>("mailPanes");

    QTest::newRow("contacts") << "Address Book" << "people" << false;
    QTest::newRow("calendar") << "Calendar" << "calendar" << false;
    QTest::newRow("tasks") << "Tasks" << "tasks" << false;
    QTest::newRow("notes") << "Notes" << "notes" << false;
    QTest::newRow("mail") << "Outlook PST/Inbox" << "mail" << true;
    QTest::newRow("root") << "root" << "mail" << true;
    QTest::newRow("dummy folder") << "Folder1" << "mail" << true;
}

void FolderTreeTest::clickSwitchesView()
{
    QFETCH(QString, path);
    QFETCH(QString, button);
    QFETCH(bool, mailPanes);
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    scanBytes(f.readAll());
    build();
    m_window->show();
    // Start from the other side: a mail folder after a notes view and the other way round.
    m_window->OnClickedNoteButton();
    if (!mailPanes)
        m_window->OnClickedMailButton();
    m_window->panes().subjectLabel->setText(QStringLiteral("old subject"));
    db()->ShowindivisualMailItemsInfo(findItem(tree(), path), 0);
    const QMap<QString, QAbstractButton *> buttons{{"people", peer(*m_window).m_pMyPeopleButton},
                                                   {"calendar", peer(*m_window).m_pMyCalendarButton},
                                                   {"tasks", peer(*m_window).m_pMyTasksButton},
                                                   {"notes", peer(*m_window).m_pMyNotesButton},
                                                   {"mail", m_pMyMailButton}};
    for (auto it = buttons.cbegin(); it != buttons.cend(); ++it)
        QVERIFY2(it.value()->isChecked() == (it.key() == button), qPrintable(it.key()));
    QCOMPARE(m_window->panes().subjectLabel->text(), QString());
    QCOMPARE(m_window->panes().subjectLabel->isVisible(), mailPanes);
    QCOMPARE(m_window->panes().mailHeaderArea->isVisible(), mailPanes);
    QCOMPARE(m_window->panes().htmlPreview->isVisible(), mailPanes);
    QCOMPARE(m_window->panes().textPreview->isVisible(), !mailPanes);
}

void FolderTreeTest::keyboardShowsTheCurrentFolder()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    scanBytes(f.readAll());
    build();
    m_window->show();
    QApplication::setActiveWindow(m_window);
    tree()->setFocus();
    QTRY_VERIFY(tree()->hasFocus());
    QTreeWidgetItem *inbox = findItem(tree(), QStringLiteral("Outlook PST/Inbox"));
    QVERIFY(inbox);
    tree()->setCurrentItem(inbox);
    QTRY_VERIFY(!ItemListFillRunning());
    QStringList seen{listedRows(m_window->panes().itemList).join(QLatin1Char(','))};
    // Every move with the keys shows what a click on the new current folder shows.
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Home}) {
        QTreeWidgetItem *before = tree()->currentItem();
        QTest::keyClick(tree(), key);
        QTreeWidgetItem *current = tree()->currentItem();
        QVERIFY(current && current != before);
        QTRY_VERIFY(!ItemListFillRunning());
        const QStringList byKey = listedRows(m_window->panes().itemList);
        db()->ShowindivisualMailItemsInfo(current, 0);
        QTRY_VERIFY(!ItemListFillRunning());
        QCOMPARE(byKey, listedRows(m_window->panes().itemList));
        seen << byKey.join(QLatin1Char(','));
    }
    // The folders differ: the list followed the keys rather than staying put.
    QVERIFY2(QSet<QString>(seen.begin(), seen.end()).size() >= 2, qPrintable(seen.join(QLatin1Char('|'))));
}

QTEST_MAIN(FolderTreeTest)
#include "tst_foldertreewindow.moc"
