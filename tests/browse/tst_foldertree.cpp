// The folder tree on panes of its own, as browsing builds and clicks it: what a scan's folder
// maps become, the three places a check state lives (box, column 7, node) kept in step through
// clicks, damaged maps, the kind a click hands to the window, and the "Folder1" items of
// recovered contacts, calendar items, tasks and notes. What the window adds (its view buttons,
// the mouse and the keys) is tested in tests/shell.

#include "FolderTreeTestUtil.h"
#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/FolderClick.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "browse/MessageBox.h"

#include <QGridLayout>
#include <QLabel>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace {

using namespace FolderTreeTestUtil;

struct Damaged {
    QByteArray bytes;
    int recoveredContacts = 0;
};

// Every kind in its own folder, with the local headers (and their names' start) of the four item
// lists and of one message smashed, so those items come back from block recovery without a folder.
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
    for (qint64 header : smash) {
        Damage::smashHeader(d.bytes, header);
        Damage::zeroStretch(d.bytes, header + 30, 6);  // a name behind the fields still gives the folder
    }
    d.recoveredContacts = 2;
    return d;
}

// The panes a window would hand over, made here and handed over the same way.
struct OwnPanes {
    QWidget host;
    BrowsePanes panes;

    OwnPanes()
    {
        panes.folderTree = new QTreeWidget(&host);
        panes.folderTree->setColumnCount(8);
        panes.itemList = new QTreeWidget(&host);
        panes.itemList->setColumnCount(ItemColumnCount);
        panes.emptyItemList = new QTreeWidget(&host);
        panes.mailHeaderText = new QTextBrowser(&host);
        panes.textPreview = new QTextBrowser(&host);
        panes.htmlPreview = new QTextBrowser(&host);
        for (QLabel **l : {&panes.subjectLabel, &panes.recipientsLabel, &panes.senderLabel, &panes.dateLabel})
            *l = new QLabel(&host);
        panes.mailHeaderArea = new QWidget(&host);
        panes.mailHeaderScroll = new QScrollArea(panes.mailHeaderArea);
        panes.attachmentGrid = new QGridLayout(panes.mailHeaderScroll);
        SetBrowsePanes(&panes);
    }
    ~OwnPanes() { SetBrowsePanes(nullptr); }
};

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
    void randomTogglesKeepEverythingInStep();
    void clickDuringSaveKeepsTheSelection();
    void clickTellsTheKind_data();
    void clickTellsTheKind();
    void recoveredItemsGetTheirOwnFolder1();
    void cleanUp();

private:
    std::unique_ptr<OwnPanes> m_panes;
    QVector<quint32> m_kindsShown;  // what each click asked the window to show
    QTreeWidget *tree() const { return m_panes->panes.folderTree; }
    void build() { GenerateFolderTree(tree(), kRootName, FolderMaps{objMapFID_PID, objMapFID_Name}); }
    void clickOn(QTreeWidgetItem *item);
    void click(const QString &path, Qt::CheckState box);
    static const QString kRootName;
};

const QString FolderTreeTest::kRootName = QStringLiteral("/tmp/archive.olm");

void FolderTreeTest::initTestCase()
{
    ShellHooks::messageBox = [](const QString &, const QString &) {};
}

void FolderTreeTest::init()
{
    CleanBrowseResults();
    m_panes = std::make_unique<OwnPanes>();
    m_kindsShown.clear();
    bProcessRunning = false;
}

void FolderTreeTest::cleanup()
{
    m_panes.reset();
    CleanBrowseResults();
    bProcessRunning = false;
}

void FolderTreeTest::clickOn(QTreeWidgetItem *item)
{
    ShowClickedFolder(item, [this](quint32 kind) { m_kindsShown << kind; });
}

void FolderTreeTest::click(const QString &path, Qt::CheckState box)
{
    QTreeWidgetItem *item = findItem(tree(), path);
    QVERIFY2(item, qPrintable(path));
    item->setCheckState(0, box);
    clickOn(item);
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
    QStringList ownRows;
    for (QTreeWidgetItemIterator it(tree()); *it; ++it) {
        if (IsOwnRow(*it))
            ownRows << (*it)->text(0);
        else
            ++count;
    }
    QCOMPARE(count, 11);
    // The one folder with subfolders shows its own items as a row of its own.
    QCOMPARE(ownRows, QStringList{OwnRowName(QStringLiteral("Outlook PST"))});
    QCOMPARE(tree()->topLevelItem(0)->text(0), kRootName);
    QTreeWidgetItem *item = findItem(tree(), path);
    QVERIFY(item);
    QTEST(item->text(6), "kind");
    QFETCH(QString, icon);
    QCOMPARE(item->data(0, kFolderIconRole).toString(), QStringLiteral(":/images/") + icon + QStringLiteral(".png"));
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
                                  << QStringList{"/tmp/archive.olm<500", " Tasks<501", "  Tasks itself<502", "  Sub<502", " Inbox<501", " Folder1<501"}
                                  << QStringList{"501/0/0", "502/501/43", "503/502/43", "504/501/0", "4294967294/501/0"};
    // The parent's id comes after the child's: the child hangs under its grandparent but keeps
    // its parent id.
    QTest::newRow("grandparent takes the child") << Folders{{502, 501, "A"}, {503, 504, "C"}, {504, 502, "B"}}
                                                 << QStringList{"/tmp/archive.olm<500", " A<501", "  A itself<502", "  C<504", "  B<502", " Folder1<501"}
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
    // Folders of one look share one picture, across builds too: a copy per folder made a tree of
    // many folders cost kilobytes a folder.
    const qint64 picture = findItem(tree(), QStringLiteral("A/A1"))->icon(0).cacheKey();
    build();
    for (const char *path : {"A", "A/A1", "A/A2/A2x", "B"})
        QCOMPARE(findItem(tree(), QLatin1String(path))->icon(0).cacheKey(), picture);
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
    MarkChildrenLikeParent(findItem(tree(), QStringLiteral("A/A1")), 3);
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
    // A's own items stay in, shown by its own row: A is partly checked.
    QTest::newRow("both siblings unchecked") << QStringList{"A/A1=3", "A/A2=3"} << "2233311";
    QTest::newRow("every top folder unchecked") << QStringList{"A=3", "B=3", "Folder1=3"} << "3333333";
    QTest::newRow("partly checked folder checked") << QStringList{"A/A2/A2x=3", "A=1"} << "1111111";
    // A2's own items stay out: A2 is partly checked, not ticked through its only subfolder.
    QTest::newRow("leaf checked under an unchecked root") << QStringList{"root=3", "A/A2/A2x=1"} << "2232133";
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
    clickOn(findItem(tree(), QStringLiteral("A/A2")));
    QCOMPARE(a2x->checkState(0), Qt::Unchecked);
    QCOMPARE(boxes(tree()), QStringLiteral("2232311"));
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
    // Folders and own rows alike are clicked.
    QVector<QTreeWidgetItem *> items;
    for (QTreeWidgetItemIterator it(tree()); *it; ++it)
        items << *it;
    QCOMPARE(boxes(tree()).size(), 52);
    QVERIFY(items.size() > 52);
    for (int step = 0; step < 200; ++step) {
        QTreeWidgetItem *item = items.at(int(rng.bounded(quint32(items.size()))));
        const Qt::CheckState now = item->checkState(0);
        item->setCheckState(0, now == Qt::Checked ? Qt::Unchecked : Qt::Checked);
        clickOn(item);
        const QString fault = stepFault(tree());
        QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("step %1: %2").arg(step).arg(fault)));
    }
    items.first()->setCheckState(0, Qt::Unchecked);
    ApplyFolderBoxChange(items.first());
    QCOMPARE(boxes(tree()), QString(52, QLatin1Char('3')));
    QCOMPARE(stepFault(tree()), QString());
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

void FolderTreeTest::clickTellsTheKind_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<uint>("kind");  // what the window is asked to show
    QTest::addColumn<bool>("mailPanes");

    QTest::newRow("contacts") << "Address Book" << uint(FolderKindContacts) << false;
    QTest::newRow("calendar") << "Calendar" << uint(FolderKindCalendar) << false;
    QTest::newRow("tasks") << "Tasks" << uint(FolderKindTasks) << false;
    QTest::newRow("notes") << "Notes" << uint(FolderKindNotes) << false;
    QTest::newRow("mail") << "Outlook PST/Inbox" << uint(FolderKindMail) << true;
    QTest::newRow("root") << "root" << uint(FolderKindMail) << true;
    QTest::newRow("dummy folder") << "Folder1" << uint(FolderKindMail) << true;
}

void FolderTreeTest::clickTellsTheKind()
{
    QFETCH(QString, path);
    QFETCH(bool, mailPanes);
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    scanBytes(f.readAll());
    build();
    m_panes->host.show();
    const BrowsePanes &p = m_panes->panes;
    p.subjectLabel->setText(QStringLiteral("old subject"));
    clickOn(findItem(tree(), path));
    QCOMPARE(m_kindsShown.size(), 1);
    QTEST(uint(m_kindsShown.first()), "kind");
    QCOMPARE(p.subjectLabel->text(), QString());
    QCOMPARE(p.subjectLabel->isVisible(), mailPanes);
    QCOMPARE(p.mailHeaderArea->isVisible(), mailPanes);
    QCOMPARE(p.htmlPreview->isVisible(), mailPanes);
    QCOMPARE(p.textPreview->isVisible(), !mailPanes);
    // A folder without an id clears the panes and asks for no view.
    QTreeWidgetItem none;
    clickOn(&none);
    QCOMPARE(m_kindsShown.size(), 1);
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
    clickOn(contacts);
    QCOMPARE(m_kindsShown.last(), quint32(FolderKindContacts));
    QCOMPARE(stepFault(tree()), QString());
    QCOMPARE(itemsToSave(), all - d.recoveredContacts);
}

void FolderTreeTest::cleanUp()
{
    // Nothing built: only the stop flag.
    stoploopFlag = false;
    CleanBrowseResults();
    QVERIFY(stoploopFlag);
    QVERIFY(!StartFldrAtrib && !EndFldrAtrib && objMapFileIdTreeItem.isEmpty());
    // After a build: list, maps and records go.
    setMaps(kSmallTree);
    build();
    QVERIFY(StartFldrAtrib && !objMapFileIdTreeItem.isEmpty());
    CleanBrowseResults();
    QVERIFY(!StartFldrAtrib && !EndFldrAtrib);
    QVERIFY(objMapFileIdTreeItem.isEmpty() && objMapFID_PID.isEmpty() && objMapFID_Name.isEmpty());
}

QTEST_MAIN(FolderTreeTest)
#include "tst_foldertree.moc"
