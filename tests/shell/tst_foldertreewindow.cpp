// The folder tree inside the real main window: what the window adds to browsing's tree - the
// compiled-in folder pictures, a mouse click on a check box, the keys moving between folders,
// the view a folder click leaves the window in, and what a save started from the window writes
// of the boxes clicked, how it ends and what marks it leaves.

#include "FolderTreeTestUtil.h"
#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "WindowTestUtil.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "save/QMailSavingThread.h"
#include "save/SaveFlow.h"
#include "scanner/FolderAttributes.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QProgressInfo.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/SaveAsWindow.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"
#include "shell/ShellWidgets.h"

#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QtTest>

using namespace FolderTreeTestUtil;

namespace {

QStringList g_messages;

// One message per (path below the Inbox, subject) pair, its body named after its subject.
template <size_t N>
void addInboxMails(TestArchiveBuilder &b, const char *const (&mails)[N][2])
{
    const QString inbox = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    for (const auto &mail : mails) {
        OlmXml::MailItem m;
        m.subject = QString::fromLatin1(mail[1]);
        m.body = QStringLiteral("Body of ") + m.subject;
        b.addEntry(inbox + QLatin1String(mail[0]), OlmXml::emails({m}));
    }
}

// An Inbox with two messages of its own and subfolders A and B of one message each, and a
// contact; lostAttachment adds an attachment in the Inbox that no message names.
QByteArray ownMailArchive(bool lostAttachment = false)
{
    TestArchiveBuilder b;
    if (lostAttachment)
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/lost.bin"),
                   QByteArray(100, 'x'));
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), OlmXml::contacts({{"Ann", "Lee", "", "", ""}}));
    const char *const mails[][2] = {{"message_00001.xml", "Own one"},
                                    {"message_00002.xml", "Own two"},
                                    {"A/message_00003.xml", "In A"},
                                    {"B/message_00004.xml", "In B"}};
    addInboxMails(b, mails);
    return b.finish();
}

// An Inbox with two messages of its own and subfolders A and B of one message each, and a Sent
// Items folder with one message.
QByteArray boxesArchive()
{
    TestArchiveBuilder b;
    const char *const mails[][2] = {{"message_00001.xml", "Own one"},
                                    {"message_00002.xml", "Own two"},
                                    {"A/message_00003.xml", "In A"},
                                    {"B/message_00004.xml", "In B"}};
    addInboxMails(b, mails);
    OlmXml::MailItem sent;
    sent.subject = QStringLiteral("Sent one");
    sent.body = QStringLiteral("Body of Sent one");
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Sent Items/message_00005.xml"), OlmXml::emails({sent}));
    return b.finish();
}

// A chain Inbox/A/Deeper, each folder holding one message and the next folder only.
QByteArray deepChainArchive()
{
    TestArchiveBuilder b;
    const char *const mails[][2] = {
        {"message_00001.xml", "In Inbox"}, {"A/message_00002.xml", "In A"}, {"A/Deeper/message_00003.xml", "Deep"}};
    addInboxMails(b, mails);
    return b.finish();
}

// Every byte written below path (a folder, or the new archive).
QByteArray bytesBelow(const QString &path)
{
    QByteArray all;
    QStringList files{path};
    if (QFileInfo(path).isDir()) {
        files.clear();
        for (QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            files << it.next();
    }
    for (const QString &file : qAsConst(files)) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
    }
    return all;
}

// The Save As position of type in this edition, -1 when it has none.
int indexOfType(SaveType type)
{
    for (int index = 0; index < 6; ++index) {
        if (SaveTypeForIndex(index) == type)
            return index;
    }
    return -1;
}

}  // namespace

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
    void saveKeepsOwnItems_data();
    void saveKeepsOwnItems();
    void sameBoxesSaveTheSame_data();
    void sameBoxesSaveTheSame();
    void stepsMatchWrittenWithLostAttachments_data();
    void stepsMatchWrittenWithLostAttachments();
    void deepFolderAloneSavesOnlyIt_data();
    void deepFolderAloneSavesOnlyIt();
    void saveOfNothingSaysSo();
    void saveThatWroteNothingSaysSo();
    void stoppedSaveKeepsMarks();

private:
    // Opens the archive through the window as a user does and closes its summary.
    void openInWindow(const QByteArray &archive);
    // A mouse click on the check box of the folder named name.
    void clickBox(const QString &name);
    // Chooses type in the Save As sheet, the destination dest, and starts the save.
    void startSave(SaveType type, const QString &dest);
    QTemporaryDir m_dir;
    QZovuvozivMainWindow *m_window = nullptr;
    QTreeWidget *tree() const { return m_window->panes().folderTree; }
    QParseDatabase *db() const { return m_window->parseDatabase(); }
    void build() { db()->GenerateTree(); }
};

void FolderTreeTest::initTestCase()
{
    InitShellResources();
    ShellHooks::messageBox = [](const QString &text, const QString &) { g_messages << text; };
    ShellHooks::freeSpace = [](const QString &) { return qint64(1) << 40; };
}

void FolderTreeTest::init()
{
    // The window frees any earlier scan, so the maps are set after it exists.
    m_window = new QZovuvozivMainWindow;
    m_selectedFile = QStringLiteral("/tmp/archive.olm");
    bProcessRunning = false;
    g_messages.clear();
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

void FolderTreeTest::openInWindow(const QByteArray &archive)
{
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(QStringLiteral("own.olm"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(archive) == archive.size());
    f.close();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    startScanInWindow(*m_window, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(*m_window).m_pInformationDlg != nullptr, 30000);
    peer(*m_window).m_pInformationDlg->close();
    QVERIFY(folderNamed(tree(), QStringLiteral("Inbox")));
    g_messages.clear();
}

void FolderTreeTest::clickBox(const QString &name)
{
    QTreeWidgetItem *item = folderNamed(tree(), name);
    QVERIFY2(item, qPrintable(name));
    tree()->scrollToItem(item);
    QStyleOptionViewItem opt;
    opt.initFrom(tree());
    opt.rect = tree()->visualItemRect(item);
    opt.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = tree()->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, tree());
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
}

void FolderTreeTest::startSave(SaveType type, const QString &dest)
{
    ShellHooks::existingDirectory = [dest](QWidget *, const QString &, const QString &) { return dest; };
    m_window->OnSaveAs();
    peer(*m_window).m_pSaveAsWindow->findChild<QComboBox *>(QStringLiteral("comboBox"))->setCurrentIndex(indexOfType(type));
    peer(*m_window).m_pSaveAsWindow->OnSaveAsOk();
}

void FolderTreeTest::saveKeepsOwnItems_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("clicks");  // boxes clicked, from everything checked
    QTest::addColumn<QStringList>("saved");   // subjects of the messages written
    const struct {
        const char *name;
        QStringList clicks;
        QStringList saved;
    } selections[] = {
        {"A unchecked: the partly checked Inbox keeps its own", {"A"}, {"Own one", "Own two", "In B"}},
        {"A and B unchecked: the unchecked Inbox keeps its own", {"A", "B"}, {"Own one", "Own two"}},
        {"Inbox unchecked, B checked again: Inbox's own stay out", {"Inbox", "B"}, {"In B"}},
    };
    const char *const types[] = {"archive", "package", "mbox", "emlx", "eml", "html"};
    for (int type = SaveTypeOLM; type <= SaveTypeHTML; ++type) {
        for (const auto &selection : selections)
            QTest::addRow("%s, %s", types[type], selection.name) << type << selection.clicks << selection.saved;
    }
}

// The boxes clicked in the window decide what each save type writes: a folder's own messages
// stay in unless that folder itself was unchecked. The finish counts what was written, the bar
// steps once per item, and a finished save clears every mark.
void FolderTreeTest::saveKeepsOwnItems()
{
    QFETCH(int, type);
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, saved);
    if (indexOfType(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    openInWindow(ownMailArchive());
    for (const QString &name : qAsConst(clicks))
        clickBox(name);
    QCOMPARE(stepFault(tree()), QString());
    QTemporaryDir dest;
    QMailSavingThread &thread = peer(*m_window).m_SavingThread;
    std::atomic<int> steps{0};
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&steps] { ++steps; },
            Qt::DirectConnection);
    startSave(SaveType(type), dest.path());
    QTRY_VERIFY_WITH_TIMEOUT(!g_messages.isEmpty() && !thread.isRunning(), 30000);
    const SaveOutcome outcome = thread.outcome();
    QCOMPARE(outcome.failed, qint64(0));
    const QByteArray written = bytesBelow(outcome.output);
    for (const QString subject : {"Own one", "Own two", "In A", "In B"})
        QVERIFY2(written.contains(subject.toUtf8()) == saved.contains(subject), qPrintable(subject));
    SaveItemCounts contact;
    contact.contacts = 1;
    QCOMPARE(g_messages, QStringList{SaveSuccessText() + SaveWrittenText(outcome) + TypeLeftOutText(SaveType(type), contact)});
    if (type != SaveTypeOLM) {
        // The archive's items are its entries; the other types count messages and contacts.
        QCOMPARE(outcome.writtenByKind.mails, qint64(saved.size()));
        QCOMPARE(outcome.writtenByKind.contacts, qint64(MailOnlyTypeName(SaveType(type)).isEmpty() ? 1 : 0));
        QVERIFY2(g_messages.first().contains(QStringLiteral("%1 message").arg(saved.size())), qPrintable(g_messages.first()));
    }
    QCOMPARE(qint64(steps), outcome.written);
    QCOMPARE(peer(*m_window).m_pProgressInfo->progressBar()->maximum(), steps.load());
    // Every mark goes: nothing is left checked, and no folder keeps its own items.
    QCOMPARE(boxes(tree()).count(QLatin1Char('3')), boxes(tree()).size());
    QVERIFY(!SelectionHasCheckedFolder(StartFldrAtrib));
    QVERIFY(FoldersKeepingOwnItems.isEmpty());
}

void FolderTreeTest::sameBoxesSaveTheSame_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("target");      // rows sharing it must end with the same boxes
    QTest::addColumn<QStringList>("clicks");  // boxes clicked from a fresh open
    QTest::addColumn<QStringList>("saved");   // subjects of the messages written
    const QString root = QStringLiteral("root");
    const QString own = OwnRowName(QStringLiteral("Inbox"));
    const struct {
        const char *target;
        QStringList clicks;
        QStringList saved;
    } orders[] = {
        {"Inbox's own and A", {"A", "B", "A", "Sent Items", "Folder1"}, {"Own one", "Own two", "In A"}},
        {"Inbox's own and A", {root, "A", own}, {"Own one", "Own two", "In A"}},
        {"Inbox's own and A", {root, "Inbox", "B"}, {"Own one", "Own two", "In A"}},
        {"A alone", {root, "A"}, {"In A"}},
        {"A alone", {root, "Inbox", own, "B"}, {"In A"}},
        {"A alone", {"Inbox", "A", "B", "B", "Sent Items", "Folder1"}, {"In A"}},
        {"Inbox's own alone", {"A", "B", "Sent Items", "Folder1"}, {"Own one", "Own two"}},
        {"Inbox's own alone", {root, own}, {"Own one", "Own two"}},
        {"every box empty", {root}, {}},
        {"every box empty", {"A", "B", own, "Sent Items", "Folder1"}, {}},
        {"every box empty", {root, "A", "B", own, "Inbox"}, {}},
        {"Inbox ticked through its rows", {root, "A", "B", own}, {"Own one", "Own two", "In A", "In B"}},
        {"Inbox ticked through its rows", {root, "Inbox"}, {"Own one", "Own two", "In A", "In B"}},
        {"Inbox ticked through its rows", {"Sent Items", own, "Folder1", own}, {"Own one", "Own two", "In A", "In B"}},
    };
    const char *const types[] = {"archive", "package", "mbox", "emlx", "eml", "html"};
    for (int type = SaveTypeOLM; type <= SaveTypeHTML; ++type) {
        int n = 0;
        for (const auto &order : orders) {
            QTest::addRow("%s, %s %d", types[type], order.target, ++n)
                << type << QString::fromLatin1(order.target) << order.clicks << order.saved;
        }
    }
}

// What a save writes follows the boxes shown: orders of clicks that end with the same boxes,
// own rows included, write the same messages and say the same, and boxes all empty write
// nothing.
void FolderTreeTest::sameBoxesSaveTheSame()
{
    QFETCH(int, type);
    QFETCH(QString, target);
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, saved);
    if (indexOfType(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    static QHash<QString, QPair<QString, QStringList>> seen;  // target and type -> boxes, messages
    openInWindow(boxesArchive());
    for (const QString &name : qAsConst(clicks))
        clickBox(name == QLatin1String("root") ? tree()->topLevelItem(0)->text(0) : name);
    QCOMPARE(stepFault(tree()), QString());
    const QString shown = boxes(tree(), true);
    QTemporaryDir dest;
    QMailSavingThread &thread = peer(*m_window).m_SavingThread;
    std::atomic<int> steps{0};
    connect(
        &thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&steps] { ++steps; }, Qt::DirectConnection);
    startSave(SaveType(type), dest.path());
    QTRY_VERIFY_WITH_TIMEOUT(!g_messages.isEmpty() && !thread.isRunning(), 30000);
    const QByteArray written = bytesBelow(thread.outcome().output);
    for (const QString subject : {"Own one", "Own two", "In A", "In B", "Sent one"})
        QVERIFY2(written.contains(subject.toUtf8()) == saved.contains(subject), qPrintable(subject));
    if (saved.isEmpty()) {
        QVERIFY(!shown.contains(QLatin1Char('1')) && !shown.contains(QLatin1Char('2')));
        QVERIFY(QDir(dest.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QCOMPARE(g_messages, QStringList{QString::fromLatin1(kSelectFolderText)});
    } else {
        QCOMPARE(thread.outcome().failed, qint64(0));
        QCOMPARE(qint64(steps), thread.outcome().written);
        QCOMPARE(peer(*m_window).m_pProgressInfo->progressBar()->maximum(), steps.load());
    }
    // The messages name where the files went: a new folder each time.
    QStringList said;
    for (QString message : qAsConst(g_messages))
        said << message.replace(QRegularExpression(QStringLiteral("\"[^\"]*\"")), QStringLiteral("\"...\""));
    const QString key = target + QString::number(type);
    if (!seen.contains(key))
        seen.insert(key, qMakePair(shown, said));
    QCOMPARE(shown, seen.value(key).first);
    QCOMPARE(said, seen.value(key).second);
}

void FolderTreeTest::stepsMatchWrittenWithLostAttachments_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("clicks");  // boxes clicked from a fresh open
    const char *const types[] = {"archive", "package", "mbox", "emlx", "eml", "html"};
    for (int type = SaveTypeOLM; type <= SaveTypeHTML; ++type) {
        QTest::addRow("%s, everything", types[type]) << type << QStringList();
        QTest::addRow("%s, A unchecked", types[type]) << type << QStringList{"A"};
    }
}

// Attachments no message names are saved beside what the boxes count: the bar's maximum grows by
// them before they are written, so steps, maximum and written end equal in every type.
void FolderTreeTest::stepsMatchWrittenWithLostAttachments()
{
    QFETCH(int, type);
    QFETCH(QStringList, clicks);
    if (indexOfType(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    openInWindow(ownMailArchive(true));
    for (const QString &name : qAsConst(clicks))
        clickBox(name);
    QTemporaryDir dest;
    QMailSavingThread &thread = peer(*m_window).m_SavingThread;
    std::atomic<int> steps{0};
    const auto bar = [this] { return peer(*m_window).m_pProgressInfo->progressBar(); };
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&steps] { ++steps; },
            Qt::DirectConnection);
    startSave(SaveType(type), dest.path());
    QTRY_VERIFY_WITH_TIMEOUT(!g_messages.isEmpty() && !thread.isRunning(), 30000);
    QCOMPARE(thread.outcome().failed, qint64(0));
    QCOMPARE(qint64(steps), thread.outcome().written);
    QCOMPARE(bar()->maximum(), steps.load());
    // A step that came with the bar already full would have been lost.
    QCOMPARE(bar()->value(), steps.load());
}

void FolderTreeTest::deepFolderAloneSavesOnlyIt_data()
{
    QTest::addColumn<int>("type");
    for (int type = SaveTypeOLM; type <= SaveTypeHTML; ++type)
        QTest::addRow("type %d", type) << type;
}

// With the root unchecked, checking only the deepest folder saves only it: its parents are
// partly checked, their own rows empty.
void FolderTreeTest::deepFolderAloneSavesOnlyIt()
{
    QFETCH(int, type);
    if (indexOfType(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    openInWindow(deepChainArchive());
    clickBox(tree()->topLevelItem(0)->text(0));
    QCOMPARE(boxes(tree()).count(QLatin1Char('3')), boxes(tree()).size());
    clickBox(QStringLiteral("Deeper"));
    // The parents show that their own messages stay out.
    QCOMPARE(folderNamed(tree(), QStringLiteral("A"))->checkState(0), Qt::PartiallyChecked);
    QCOMPARE(folderNamed(tree(), OwnRowName(QStringLiteral("A")))->checkState(0), Qt::Unchecked);
    QCOMPARE(folderNamed(tree(), OwnRowName(QStringLiteral("Inbox")))->checkState(0), Qt::Unchecked);
    QTemporaryDir dest;
    QMailSavingThread &thread = peer(*m_window).m_SavingThread;
    startSave(SaveType(type), dest.path());
    QTRY_VERIFY_WITH_TIMEOUT(!g_messages.isEmpty() && !thread.isRunning(), 30000);
    QCOMPARE(thread.outcome().failed, qint64(0));
    const QByteArray written = bytesBelow(thread.outcome().output);
    QVERIFY(written.contains("Deep"));
    QVERIFY(!written.contains("In Inbox"));
    QVERIFY(!written.contains("In A"));
}

// A save whose checked folders hold nothing its type writes says so and does not start.
void FolderTreeTest::saveOfNothingSaysSo()
{
    if (indexOfType(SaveTypeEML) < 0)
        QSKIP("this edition has no message files");
    openInWindow(ownMailArchive());
    QTemporaryDir dest;
    m_window->OnAddressView();
    startSave(SaveTypeEML, dest.path());
    QCOMPARE(g_messages, QStringList{QStringLiteral("\nEML files hold mail only, and the checked folders hold no messages "
                                                    "(they hold 1 contact).")});
    // Only the empty "Folder1" checked: the partly checked root checks all, then unchecks all.
    clickBox(tree()->topLevelItem(0)->text(0));
    QCOMPARE(boxes(tree()).count(QLatin1Char('1')), boxes(tree()).size());
    clickBox(tree()->topLevelItem(0)->text(0));
    QCOMPARE(boxes(tree()).count(QLatin1Char('3')), boxes(tree()).size());
    clickBox(QStringLiteral("Folder1"));
    g_messages.clear();
    startSave(SaveTypeEML, dest.path());
    QCOMPARE(g_messages, QStringList{QString::fromLatin1(kNothingToSaveText)});
    QVERIFY(QDir(dest.path()).isEmpty());
    QVERIFY(!peer(*m_window).m_SavingThread.isRunning());
    QVERIFY(SelectionHasCheckedFolder(StartFldrAtrib));
}

// With an attachment no message names, an empty folder may still give a rebuilt message: the
// save runs, and its end says nothing was saved rather than success. The marks go.
void FolderTreeTest::saveThatWroteNothingSaysSo()
{
    if (indexOfType(SaveTypeEML) < 0)
        QSKIP("this edition has no message files");
    openInWindow(ownMailArchive(true));
    QTemporaryDir dest;
    clickBox(tree()->topLevelItem(0)->text(0));
    clickBox(QStringLiteral("Folder1"));
    startSave(SaveTypeEML, dest.path());
    QTRY_VERIFY_WITH_TIMEOUT(!g_messages.isEmpty() && !peer(*m_window).m_SavingThread.isRunning(), 30000);
    QCOMPARE(g_messages, QStringList{QString::fromLatin1(kNothingSavedText)});
    QVERIFY(!SelectionHasCheckedFolder(StartFldrAtrib));
}

// A stopped save keeps every mark, the own items of a partly checked folder included.
void FolderTreeTest::stoppedSaveKeepsMarks()
{
    const SaveType type = indexOfType(SaveTypeMBOX) >= 0 ? SaveTypeMBOX : SaveTypeEML;
    openInWindow(ownMailArchive());
    clickBox(QStringLiteral("A"));
    const QString before = boxes(tree());
    QVERIFY(FoldersKeepingOwnItems.contains(FolderIdOf(folderNamed(tree(), QStringLiteral("Inbox")))));
    QTemporaryDir dest;
    QMailSavingThread &thread = peer(*m_window).m_SavingThread;
    // The confirmed stop arrives with the first step.
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread,
            [] {
                bStopFlag = true;
                stopflag = true;
            },
            Qt::DirectConnection);
    startSave(type, dest.path());
    QTRY_VERIFY_WITH_TIMEOUT(!g_messages.isEmpty() && !thread.isRunning(), 30000);
    QVERIFY(thread.outcome().stopped);
    QVERIFY2(g_messages.first().startsWith(QLatin1String(kSaveAbortedText)), qPrintable(g_messages.first()));
    QCOMPARE(boxes(tree()), before);
    QVERIFY(FoldersKeepingOwnItems.contains(FolderIdOf(folderNamed(tree(), QStringLiteral("Inbox")))));
    QCOMPARE(stepFault(tree()), QString());
}

QTEST_MAIN(FolderTreeTest)
#include "tst_foldertreewindow.moc"
