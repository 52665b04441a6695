// The folder tree on a real main window: what a scan's folder maps become, the three places a
// check state lives (box, column 7, node) kept in step through clicks, damaged maps, and the
// "Folder1" items of recovered contacts, calendar items, tasks and notes.

#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "browse/BrowseGlobals.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "save/SaveFlow.h"
#include "scanner/FolderAttributes.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"
#include "shell/ShellWidgets.h"

#include <QLabel>
#include <QRandomGenerator>
#include <QStyleOptionViewItem>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QtTest>

#include <tuple>

namespace {

using Folder = std::tuple<qint64, qint64, QString>;   // id, parent id, key
using Folders = QList<Folder>;

// Replaces the scan's folder maps with hand-made ones.
void setMaps(const Folders &folders)
{
    CleanScanResults();
    for (const Folder &f : folders) {
        objMapFID_PID.insert(std::get<0>(f), std::get<1>(f));
        objMapFID_Name.insert(std::get<0>(f), std::get<2>(f));
    }
}

QTreeWidgetItem *findItem(QTreeWidget *tree, const QString &path)
{
    QTreeWidgetItem *item = tree->topLevelItem(0);
    if (path == QLatin1String("root"))
        return item;
    for (const QString &name : path.split(QLatin1Char('/'))) {
        QTreeWidgetItem *next = nullptr;
        for (int i = 0; item && i < item->childCount() && !next; ++i) {
            if (item->child(i)->text(0) == name)
                next = item->child(i);
        }
        item = next;
    }
    return item;
}

int code(Qt::CheckState s)
{
    return s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 3;
}

// The box of every item in tree order, as check codes.
QString boxes(QTreeWidget *tree)
{
    QString out;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        out += QString::number(code((*it)->checkState(0)));
    return out;
}

// Empty when box, column 7 and node agree on every item and every parent follows its children.
QString stepFault(QTreeWidget *tree)
{
    int nodes = 0;
    for (FldrAtribNode *n = StartFldrAtrib; n; n = n->pNext)
        ++nodes;
    int items = 0;
    for (QTreeWidgetItemIterator it(tree); *it; ++it, ++items) {
        QTreeWidgetItem *item = *it;
        const int box = code(item->checkState(0));
        const FldrAtribNode *node = FindFolderAttribute(item->text(1).toLongLong());
        if (!node || node->bState != box || item->text(7).toInt() != box)
            return QStringLiteral("%1: box %2, column 7 %3, node %4")
                .arg(item->text(0)).arg(box).arg(item->text(7)).arg(node ? node->bState : -1);
        if (item->childCount()) {
            QSet<int> kids;
            for (int i = 0; i < item->childCount(); ++i)
                kids.insert(code(item->child(i)->checkState(0)));
            const int expected = kids.size() == 1 && !kids.contains(2) ? *kids.begin() : 2;
            if (box != expected)
                return QStringLiteral("%1: %2 over children %3").arg(item->text(0)).arg(box).arg(expected);
        }
    }
    return items == nodes ? QString() : QStringLiteral("%1 items, %2 nodes").arg(items).arg(nodes);
}

qint64 itemsToSave()
{
    return CountCheckedItems(StartFldrAtrib, CurrentSaveItemLists());
}

// root: A(A1, A2(A2x)), B, Folder1 - tree order root A A1 A2 A2x B Folder1.
const Folders kSmallTree{{502, 501, QStringLiteral("A")},
                               {503, 502, QStringLiteral("A1")},
                               {504, 502, QStringLiteral("A2")},
                               {505, 504, QStringLiteral("A2x")},
                               {506, 501, QStringLiteral("B")}};

struct Damaged {
    QByteArray bytes;
    int recoveredContacts = 0;
};

// Every kind in its own folder, with the local headers of the four item lists and of one message
// smashed, so those items come back from block recovery without a folder.
Damaged damagedArchive()
{
    TestArchiveBuilder b;
    QVector<qint64> smash;
    smash << b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"),
                        OlmXml::contacts({{"Ann", "Lee", "", "", ""}, {"Bo", "Ek", "", "", ""}}));
    smash << b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"), OlmXml::appointments({{"Meet", "Room", "", "", ""}}));
    smash << b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::tasks({{"Task", "note", "2"}}));
    smash << b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), OlmXml::notes({{"Note", "Text"}}));
    for (int i = 0; i < 3; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Mail %1").arg(i);
        m.body = QStringLiteral("body %1").arg(i);
        const qint64 at = b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(i),
                                     OlmXml::emails({m}));
        if (i == 1)
            smash << at;
    }
    Damaged d;
    // Without a central directory: with one, the entries would keep their folders.
    d.bytes = b.finish(false);
    for (qint64 header : smash)
        Damage::smashHeader(d.bytes, header);
    d.recoveredContacts = 2;
    return d;
}

} // namespace

Q_DECLARE_METATYPE(Folders)

class FolderTreeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void sampleTree_data();
    void sampleTree();
    void mapsToTree_data();
    void mapsToTree();
    void rebuildKeepsOneNodePerItem();
    void ancestorWalkEnds_data();
    void ancestorWalkEnds();
    void downwardWalkEndsOnLoopedParents();
    void propagation_data();
    void propagation();
    void clickWithoutToggleChangesNothing();
    void mouseOnCheckIndicator();
    void randomTogglesKeepEverythingInStep();
    void kindViewThenClickSavesWhatIsShown();
    void clickDuringSaveKeepsTheSelection();
    void clickSwitchesView_data();
    void clickSwitchesView();
    void recoveredItemsGetTheirOwnFolder1();
    void keyboardShowsTheCurrentFolder();
    void cleanUp();

private:
    QZovuvozivMainWindow *m_window = nullptr;
    QTreeWidget *tree() const { return m_window->panes().folderTree; }
    QParseDatabase *db() const { return m_window->parseDatabase(); }
    void build() { db()->GenerateTree(); }
    void click(const QString &path, Qt::CheckState box);
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

void FolderTreeTest::click(const QString &path, Qt::CheckState box)
{
    QTreeWidgetItem *item = findItem(tree(), path);
    QVERIFY2(item, qPrintable(path));
    item->setCheckState(0, box);
    db()->ShowindivisualMailItemsInfo(item, 0);
}

void FolderTreeTest::sampleTree_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("icon");

    QTest::newRow("contacts") << "Address Book" << "41" << "img_AddressBookIcon";
    QTest::newRow("calendar") << "Calendar" << "42" << "img_CalendarIcon";
    QTest::newRow("tasks") << "Tasks" << "43" << "img_TaskIcon";
    QTest::newRow("notes") << "Notes" << "44" << "img_NotesIcon";
    QTest::newRow("plain folder") << "Outlook PST" << "" << "img_Folder";
    QTest::newRow("standard name deeper") << "Outlook PST/Inbox" << "" << "img_Folder";
    QTest::newRow("drafts deeper") << "Outlook PST/Drafts" << "" << "img_Folder";
    QTest::newRow("archive") << "Outlook PST/Archive" << "" << "img_Folder";
    QTest::newRow("drafts under the root") << "Drafts" << "" << "img_DraftsFolderIcon";
    QTest::newRow("dummy folder") << "Folder1" << "" << "img_Folder";
    QTest::newRow("root") << "root" << "" << "img_Folder";
}

void FolderTreeTest::sampleTree()
{
    QFETCH(QString, path);
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    scanBytes(f.readAll());
    build();
    int count = 0;
    for (QTreeWidgetItemIterator it(tree()); *it; ++it)
        ++count;
    QCOMPARE(count, 11);
    QCOMPARE(tree()->topLevelItem(0)->text(0), m_selectedFile);
    QTreeWidgetItem *item = findItem(tree(), path);
    QVERIFY(item);
    QTEST(item->text(6), "kind");
    QFETCH(QString, icon);
    QCOMPARE(item->data(0, kFolderIconRole).toString(), QStringLiteral(":/images/") + icon + QStringLiteral(".png"));
    QVERIFY(!item->icon(0).isNull());
    QCOMPARE(item->checkState(0), Qt::Checked);
    QCOMPARE(item->text(7), QStringLiteral("1"));
    const FldrAtribNode *node = FindFolderAttribute(item->text(1).toLongLong());
    QVERIFY(node);
    QCOMPARE(node->bState, quint8(1));
    QCOMPARE(QString::number(node->dwKind), item->text(6).isEmpty() ? QStringLiteral("0") : item->text(6));
    // Every item is saved as built: all 26 records.
    QCOMPARE(itemsToSave(), qint64(7 + 5 + 8 + 5 + 1));
}

void FolderTreeTest::mapsToTree_data()
{
    QTest::addColumn<Folders>("folders");
    QTest::addColumn<QStringList>("shape");   // "name<parent column 2" in tree order, indented per level
    QTest::addColumn<QStringList>("nodes");   // "id/parent/kind" in list order

    QTest::newRow("no folders") << Folders{} << QStringList{"/tmp/archive.olm<500", " Folder1<501"}
                                << QStringList{"501/0/0", "4294967294/501/0"};
    QTest::newRow("nested kinds") << Folders{{502, 501, "Tasksnotmailtask"}, {503, 502, "Subnotmailtask"}, {504, 501, "Inbox"}}
                                  << QStringList{"/tmp/archive.olm<500", " Tasks<501", "  Sub<502", " Inbox<501", " Folder1<501"}
                                  << QStringList{"501/0/0", "502/501/43", "503/502/43", "504/501/0", "4294967294/501/0"};
    // The parent's id comes after the child's: the child hangs under its grandparent but keeps
    // its parent id.
    QTest::newRow("grandparent takes the child") << Folders{{502, 501, "A"}, {503, 504, "C"}, {504, 502, "B"}}
                                                 << QStringList{"/tmp/archive.olm<500", " A<501", "  C<504", "  B<502", " Folder1<501"}
                                                 << QStringList{"501/0/0", "502/501/0", "503/504/0", "504/502/0", "4294967294/501/0"};
    QTest::newRow("chain ending without an item") << Folders{{502, 700, "Lost"}, {503, 502, "Below lost"}, {504, 501, "Kept"}}
                                                  << QStringList{"/tmp/archive.olm<500", " Kept<501", " Folder1<501"}
                                                  << QStringList{"501/0/0", "504/501/0", "4294967294/501/0"};
    QTest::newRow("self parent") << Folders{{502, 502, "Self"}, {503, 501, "Kept"}}
                                 << QStringList{"/tmp/archive.olm<500", " Kept<501", " Folder1<501"}
                                 << QStringList{"501/0/0", "503/501/0", "4294967294/501/0"};
    QTest::newRow("two folders parent of each other") << Folders{{502, 503, "X"}, {503, 502, "Y"}, {504, 503, "Z"}}
                                                      << QStringList{"/tmp/archive.olm<500", " Folder1<501"}
                                                      << QStringList{"501/0/0", "4294967294/501/0"};
}

void FolderTreeTest::mapsToTree()
{
    QFETCH(Folders, folders);
    setMaps(folders);
    build();
    QStringList shape;
    for (QTreeWidgetItemIterator it(tree()); *it; ++it) {
        int depth = 0;
        for (QTreeWidgetItem *p = (*it)->parent(); p; p = p->parent())
            ++depth;
        shape << QString(depth, QLatin1Char(' ')) + (*it)->text(0) + QLatin1Char('<') + (*it)->text(2);
    }
    QTEST(shape, "shape");
    QStringList nodes;
    for (FldrAtribNode *n = StartFldrAtrib; n; n = n->pNext) {
        nodes << QStringLiteral("%1/%2/%3").arg(n->llFolderId).arg(n->llParentId).arg(n->dwKind);
        QCOMPARE(n->bState, quint8(1));
    }
    QTEST(nodes, "nodes");
    QTreeWidgetItem *dummy = findItem(tree(), QStringLiteral("Folder1"));
    QCOMPARE(dummy->text(1), QStringLiteral("4294967294"));
    QCOMPARE(dummy->text(3), QStringLiteral("/Main Identity.rge/Folder1"));
    QVERIFY(!objMapFileIdTreeItem.contains(llFolder1Id));
    QCOMPARE(stepFault(tree()), QString());
}

void FolderTreeTest::rebuildKeepsOneNodePerItem()
{
    setMaps(kSmallTree);
    build();
    click(QStringLiteral("A/A1"), Qt::Unchecked);
    // The mail view builds again: everything checked, one node per item.
    build();
    QCOMPARE(tree()->topLevelItemCount(), 1);
    QCOMPARE(boxes(tree()), QStringLiteral("1111111"));
    int nodes = 0;
    for (FldrAtribNode *n = StartFldrAtrib; n; n = n->pNext, ++nodes)
        QCOMPARE(n->bState, quint8(1));
    QCOMPARE(nodes, 7);
    QCOMPARE(objMapFileIdTreeItem.value(503), findItem(tree(), QStringLiteral("A/A1")));
}

void FolderTreeTest::ancestorWalkEnds_data()
{
    QTest::addColumn<Folders>("folders");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("found");   // 0: no ancestor with an item

    QTest::newRow("parent placed") << Folders{{502, 501, ""}} << qint64(502) << qint64(501);
    QTest::newRow("grandparent placed") << Folders{{502, 501, ""}, {503, 502, ""}, {504, 503, ""}} << qint64(504)
                                        << qint64(501);
    QTest::newRow("self parent") << Folders{{502, 502, ""}} << qint64(502) << qint64(0);
    QTest::newRow("long cycle") << Folders{{502, 503, ""}, {503, 504, ""}, {504, 505, ""}, {505, 502, ""}}
                                << qint64(502) << qint64(0);
    QTest::newRow("cycle above the start") << Folders{{502, 503, ""}, {503, 504, ""}, {504, 503, ""}} << qint64(502)
                                           << qint64(0);
    QTest::newRow("missing parent") << Folders{{502, 900, ""}} << qint64(502) << qint64(0);
}

void FolderTreeTest::ancestorWalkEnds()
{
    QFETCH(Folders, folders);
    QFETCH(qint64, from);
    QFETCH(qint64, found);
    QMap<qint64, qint64> parents;
    for (const Folder &f : folders)
        parents.insert(std::get<0>(f), std::get<1>(f));
    QTreeWidgetItem root;
    const QMap<qint64, QTreeWidgetItem *> placed{{501, &root}};
    QCOMPARE(NearestPlacedAncestor(from, parents, placed), found ? &root : nullptr);
}

void FolderTreeTest::downwardWalkEndsOnLoopedParents()
{
    // Two nodes that name each other as parent, both with items.
    setMaps(kSmallTree);
    build();
    FindFolderAttribute(503)->llParentId = 505;
    FindFolderAttribute(505)->llParentId = 503;
    db()->MarkChildAccordingToParent(findItem(tree(), QStringLiteral("A/A1")), 3);
    // A2x is A1's child in the list, and A1 A2x's: each is reached once, then the walk ends.
    QCOMPARE(boxes(tree()), QStringLiteral("1131311"));
    QCOMPARE(FindFolderAttribute(503)->bState, quint8(3));
    QCOMPARE(FindFolderAttribute(505)->bState, quint8(3));
}

void FolderTreeTest::propagation_data()
{
    QTest::addColumn<QStringList>("clicks");   // "path=code": the box set before the click
    QTest::addColumn<QString>("after");        // codes in tree order: root A A1 A2 A2x B Folder1

    QTest::newRow("root unchecked") << QStringList{"root=3"} << "3333333";
    QTest::newRow("root unchecked then checked") << QStringList{"root=3", "root=1"} << "1111111";
    QTest::newRow("one of two siblings unchecked") << QStringList{"A/A1=3"} << "2231111";
    QTest::newRow("both siblings unchecked") << QStringList{"A/A1=3", "A/A2=3"} << "2333311";
    QTest::newRow("every top folder unchecked") << QStringList{"A=3", "B=3", "Folder1=3"} << "3333333";
    QTest::newRow("partly checked folder checked") << QStringList{"A/A2/A2x=3", "A=1"} << "1111111";
    QTest::newRow("leaf checked under an unchecked root") << QStringList{"root=3", "A/A2/A2x=1"} << "2231133";
    QTest::newRow("dummy folder unchecked") << QStringList{"Folder1=3"} << "2111113";
    // After a save the window unchecks the root the same way.
    QTest::newRow("partial selection then root unchecked") << QStringList{"A/A1=3", "root=3"} << "3333333";
}

void FolderTreeTest::propagation()
{
    QFETCH(QStringList, clicks);
    setMaps(kSmallTree);
    build();
    for (const QString &c : clicks) {
        const QStringList parts = c.split(QLatin1Char('='));
        click(parts[0], parts[1] == QLatin1String("1") ? Qt::Checked : Qt::Unchecked);
        QCOMPARE(stepFault(tree()), QString());
    }
    QTEST(boxes(tree()), "after");
}

void FolderTreeTest::clickWithoutToggleChangesNothing()
{
    setMaps(kSmallTree);
    build();
    click(QStringLiteral("A/A1"), Qt::Unchecked);
    const QString before = boxes(tree());
    QCOMPARE(before, QStringLiteral("2231111"));
    // A box set without propagation (as the kind views do) is not undone by a click on its
    // parent that leaves the parent's box alone; the parent follows it instead.
    QTreeWidgetItem *a2x = findItem(tree(), QStringLiteral("A/A2/A2x"));
    a2x->setCheckState(0, Qt::Unchecked);
    db()->ShowindivisualMailItemsInfo(findItem(tree(), QStringLiteral("A/A2")), 0);
    QCOMPARE(a2x->checkState(0), Qt::Unchecked);
    QCOMPARE(boxes(tree()), QStringLiteral("2333311"));
    QCOMPARE(stepFault(tree()), QString());
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

void FolderTreeTest::randomTogglesKeepEverythingInStep()
{
    QRandomGenerator rng(20240611);
    Folders folders;
    for (qint64 id = 502; id < 552; ++id) {
        const qint64 parent = id == 502 ? 501 : 501 + qint64(rng.bounded(quint32(id - 501)));
        folders << Folder{id, parent == 501 ? 501 : parent, QStringLiteral("F%1").arg(id)};
    }
    setMaps(folders);
    build();
    QVector<QTreeWidgetItem *> items;
    for (QTreeWidgetItemIterator it(tree()); *it; ++it)
        items << *it;
    QCOMPARE(items.size(), 52);
    for (int step = 0; step < 200; ++step) {
        QTreeWidgetItem *item = items.at(int(rng.bounded(quint32(items.size()))));
        const Qt::CheckState now = item->checkState(0);
        item->setCheckState(0, now == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        db()->ShowindivisualMailItemsInfo(item, 0);
        const QString fault = stepFault(tree());
        QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("step %1: %2").arg(step).arg(fault)));
    }
    items.first()->setCheckState(0, Qt::Unchecked);
    db()->LeftTreeWidgetItem(items.first());
    QCOMPARE(boxes(tree()), QString(52, QLatin1Char('3')));
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

void FolderTreeTest::clickDuringSaveKeepsTheSelection()
{
    setMaps(kSmallTree);
    build();
    click(QStringLiteral("B"), Qt::Unchecked);
    bProcessRunning = true;
    click(QStringLiteral("A"), Qt::Unchecked);
    QCOMPARE(boxes(tree()), QStringLiteral("2111131"));
    QCOMPARE(stepFault(tree()), QString());
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

// The rows the list shows: each row's record position.
QStringList listedRows(QTreeWidget *list)
{
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->data(0, ItemIndexRole).toString();
    return rows;
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

void FolderTreeTest::recoveredItemsGetTheirOwnFolder1()
{
    const Damaged d = damagedArchive();
    scanBytes(d.bytes);
    QCOMPARE(ContactItemCount, qint64(d.recoveredContacts));
    build();
    const QMap<uint, QString> icons{{41, "img_AddressBookIcon"}, {42, "img_CalendarIcon"}, {43, "img_TaskIcon"}, {44, "img_NotesIcon"}};
    QTreeWidgetItem *root = tree()->topLevelItem(0);
    QStringList folder1;
    for (int i = 0; i < root->childCount(); ++i) {
        QTreeWidgetItem *c = root->child(i);
        if (c->text(0) != QLatin1String("Folder1"))
            continue;
        folder1 << c->text(6);
        const qint64 id = c->text(1).toLongLong();
        QCOMPARE(RecordFolderId(id), llFolder1Id);
        if (!c->text(6).isEmpty()) {
            QVERIFY(id != llFolder1Id);
            QCOMPARE(c->data(0, kFolderIconRole).toString(), QStringLiteral(":/images/%1.png").arg(icons.value(c->text(6).toUInt())));
            QCOMPARE(FindFolderAttribute(id)->dwKind, c->text(6).toUInt());
        }
    }
    QCOMPARE(folder1, (QStringList{"", "41", "42", "43", "44"}));
    // Every record is counted once for the save, the recovered ones included.
    const qint64 all = MailItemCount + ContactItemCount + CalendarItemCount + TaskItemCount + NotesItemCount;
    QCOMPARE(all, qint64(3 + 2 + 1 + 1 + 1));
    QCOMPARE(itemsToSave(), all);
    // A kind's Folder1 opens its view and leaves the save without its records when unchecked.
    click(QStringLiteral("Folder1"), Qt::Checked);   // the mail one: first in tree order
    QTreeWidgetItem *contacts = nullptr;
    for (int i = 0; i < root->childCount(); ++i) {
        if (root->child(i)->text(6) == QLatin1String("41"))
            contacts = root->child(i);
    }
    contacts->setCheckState(0, Qt::Unchecked);
    db()->ShowindivisualMailItemsInfo(contacts, 0);
    QVERIFY(peer(*m_window).m_pMyPeopleButton->isChecked());
    QCOMPARE(stepFault(tree()), QString());
    QCOMPARE(itemsToSave(), all - d.recoveredContacts);
}

void FolderTreeTest::cleanUp()
{
    // Nothing built: only the stop flag.
    stoploopFlag = false;
    QParseDatabase::CleanListAndHash();
    QVERIFY(stoploopFlag);
    QVERIFY(!StartFldrAtrib && !EndFldrAtrib && objMapFileIdTreeItem.isEmpty());
    // After a build: list, maps and records go.
    setMaps(kSmallTree);
    build();
    QVERIFY(StartFldrAtrib && !objMapFileIdTreeItem.isEmpty());
    QParseDatabase::CleanListAndHash();
    QVERIFY(!StartFldrAtrib && !EndFldrAtrib);
    QVERIFY(objMapFileIdTreeItem.isEmpty() && objMapFID_PID.isEmpty() && objMapFID_Name.isEmpty());
}

QTEST_MAIN(FolderTreeTest)
#include "tst_foldertree.moc"
