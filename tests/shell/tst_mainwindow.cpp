// The main window driven as a user would: open an archive, scan, stop, re-open, switch views,
// start a save, close.

#include "FolderTreeTestUtil.h"
#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "TestArchiveBuilder.h"
#include "WindowTestUtil.h"
#include "browse/SelectionPalette.h"
#include "platform/WorkerGlobals.h"
#include "save/SaveFlow.h"
#include "save/SavePause.h"
#include "scanner/FolderAttributes.h"
#include "scanner/ScanGlobals.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QProgressInfo.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/SaveAsWindow.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"
#include "shell/ShellWidgets.h"
#include "shell/StopDlg.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QComboBox>
#include <QToolBar>
#include <QtTest>

#include <atomic>

#include <sys/stat.h>

namespace {

QByteArray largeArchive(int messages, int lostAttachments = 0)
{
    TestArchiveBuilder b;
    // Attachment entries no message names: the save writes each in a recovered message of its own.
    for (int i = 0; i < lostAttachments; ++i)
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/lost_%1.bin").arg(i),
                   QByteArray(64 * 1024, char('a' + i % 26)));
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), OlmXml::contacts({{"A", "B", "", "", ""}}));
    for (int i = 0; i < messages; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Message %1").arg(i);
        m.body = QString(2000, QLatin1Char('x'));
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({m}));
    }
    return b.finish();
}

const QString kInvalidFileText = QStringLiteral("\nThe scanned file is either an invalid file or heavily damaged.");

QString mailEntryName(int i)
{
    return QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0'));
}

QByteArray mailXml(int i)
{
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Message %1").arg(i);
    m.body = QStringLiteral("Body of message %1").arg(i);
    return OlmXml::emails({m});
}

// As the exporter writes it: one message per entry, all stored.
QByteArray mailArchive(int messages)
{
    TestArchiveBuilder b;
    for (int i = 0; i < messages; ++i)
        b.addEntry(mailEntryName(i), mailXml(i));
    return b.finish();
}

qint64 bytesBelow(const QString &dir)
{
    qint64 bytes = 0;
    for (QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        it.next();
        bytes += it.fileInfo().size();
    }
    return bytes;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList treeNames(QTreeWidget *tree)
{
    QStringList names;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        names << (*it)->text(0);
    return names;
}

// The largest gap between the ticks of a 10 ms timer on the GUI thread: how long the window's
// event loop went unanswered while it ran.
class LoopGapMeter {
public:
    LoopGapMeter()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_largest = qMax(m_largest, m_clock.restart());
        });
        m_clock.start();
        m_timer.start();
    }
    qint64 largestGap() const { return qMax(m_largest, m_clock.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_largest = 0;
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void initialState();
    void spaceNeverTogglesAFolder();
    void toolBarCaptionsReadable();
    void hoverTintEndsAndResets();
    void roadOfOneArchive();
    void scansWhatTheHeadTestWouldRefuse_data();
    void scansWhatTheHeadTestWouldRefuse();
    void onlyCompressedEntriesAreNamedNotRefused();
    void refusesNonRegularFile_data();
    void refusesNonRegularFile();
    void stopScanThenScanAgain_data();
    void stopScanThenScanAgain();
    void scanEndsUnderTheStopQuestion_data();
    void scanEndsUnderTheStopQuestion();
    void reopenQuestion();
    void oneOpenSheetForManyOpens();
    void viewsMarkTheirFolders();
    void saveStartRefusals();
    void olmOutputNeverOverwritesTheArchive();
    void olmSaveAsksBeforeReplacing();
    void stopQuestionHoldsTheSave_data();
    void stopQuestionHoldsTheSave();
    void stopYesLeavesTheWindowAnswering_data();
    void stopYesLeavesTheWindowAnswering();
    void stoppedSaveNamesWhatIsOnDisk_data();
    void stoppedSaveNamesWhatIsOnDisk();
    void marksAfterAnUnfinishedSave_data();
    void marksAfterAnUnfinishedSave();
    void closeWhileRunningIsRefused();

private:
    void scan(QZovuvozivMainWindow &w, const QString &path);
    void scanToSummary(QZovuvozivMainWindow &w, const QString &path);
    // bytes written to name in the test folder: its path, or empty when the write failed.
    QString archiveFile(const QString &name, const QByteArray &bytes);
    QString writtenArchive(const QString &name, int messages, int lostAttachments = 0);
    // The folder dialog answers path, with room enough; then a mailbox save of the window starts.
    void chooseDestination(const QString &path);
    void startMailboxSave(QZovuvozivMainWindow &w);
    QStringList m_messages;
    QTemporaryDir m_dir;
    QStringList m_icons;
};

void MainWindowTest::initTestCase()
{
    InitShellResources();
    m_icons.clear();
    ShellHooks::messageBox = [this](const QString &text, const QString &icon) {
        m_messages << text;
        m_icons << icon;
    };
}

void MainWindowTest::init()
{
    m_messages.clear();
    bStopFlag = false;
    stopflag = false;
}

void MainWindowTest::cleanup()
{
    ShellHooks::openFileName = nullptr;
    ShellHooks::existingDirectory = nullptr;
    ShellHooks::freeSpace = nullptr;
}

void MainWindowTest::scan(QZovuvozivMainWindow &w, const QString &path)
{
    startScanInWindow(w, path);
}

void MainWindowTest::scanToSummary(QZovuvozivMainWindow &w, const QString &path)
{
    scan(w, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 60000);
    peer(w).m_pInformationDlg->close();
    m_messages.clear();
    m_icons.clear();
}

// An archive of one contact, `messages` messages in the Inbox and `lostAttachments` attachments
// no message names, written once per run.
QString MainWindowTest::archiveFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush() ? path : QString();
}

QString MainWindowTest::writtenArchive(const QString &name, int messages, int lostAttachments)
{
    const QString path = m_dir.filePath(name);
    if (!QFileInfo::exists(path)) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(largeArchive(messages, lostAttachments));
    }
    return path;
}

void MainWindowTest::chooseDestination(const QString &path)
{
    ShellHooks::existingDirectory = [path](QWidget *, const QString &, const QString &) { return path; };
    ShellHooks::freeSpace = [](const QString &) { return qint64(1) << 40; };
}

void MainWindowTest::startMailboxSave(QZovuvozivMainWindow &w)
{
    w.OnSaveAs();
    peer(w).m_pSaveAsWindow->findChild<QComboBox *>(QStringLiteral("comboBox"))->setCurrentIndex(bforQConverterFO ? 0 : 2);
    peer(w).m_pSaveAsWindow->OnSaveAsOk();
}

void MainWindowTest::initialState()
{
    QZovuvozivMainWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Corvask"));
    QVERIFY(m_pOpenFile->isEnabled());
    QVERIFY(peer(w).m_pActionOpen->isEnabled());
    QVERIFY(peer(w).m_pActionFindFile->isEnabled());
    QVERIFY(!peer(w).m_pActionSaveRepaired->isEnabled());
    QVERIFY(!peer(w).m_pActionSave->isEnabled());
    QVERIFY(m_pActionUpdate->isEnabled());
    QVERIFY(!w.parseDatabase()->StartButton->isEnabled());
    QVERIFY(w.panes().emptyItemList->isHidden());
    // The folder tree and the lists show their selection in the one readable palette.
    for (QTreeWidget *view : {w.panes().folderTree, w.panes().itemList, w.panes().emptyItemList}) {
        QCOMPARE(view->palette().color(QPalette::Inactive, QPalette::Highlight), SelectionBackground());
        QCOMPARE(view->palette().color(QPalette::Active, QPalette::HighlightedText), SelectionText());
        QVERIFY(view->styleSheet().contains(SelectionStyle()));
    }
    // Exactly one action owns Ctrl+S, so one key press starts one save.
    int ctrlS = 0;
    for (QAction *a : w.findChildren<QAction *>())
        ctrlS += a->shortcut() == QKeySequence(QStringLiteral("Ctrl+S"));
    QCOMPARE(ctrlS, 1);
    // The view actions reach the view slots before any archive is open.
    peer(w).m_pActionPeople->trigger();
    QVERIFY(peer(w).m_pMyPeopleButton->isChecked());
    QVERIFY(!m_pMyMailButton->isChecked());
    peer(w).m_pActionMail->trigger();
    QVERIFY(m_pMyMailButton->isChecked());
}

// Each caption shows its whole text, centred under its button, drawn over nothing and under
// nothing, clear of its neighbours.
void MainWindowTest::toolBarCaptionsReadable()
{
    QZovuvozivMainWindow w;
    w.resize(1200, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *bar = w.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    QVERIFY(bar);
    const struct {
        const char *caption;
        QWidget *button;
    } rows[] = {
        {"Open", bar->widgetForAction(m_pOpenFile)},
        {"Save", bar->widgetForAction(peer(w).m_pActionSaveRepaired)},
        {"Mail", m_pMyMailButton},
        {"Calendar", peer(w).m_pMyCalendarButton},
        {"People", peer(w).m_pMyPeopleButton},
        {"Tasks", peer(w).m_pMyTasksButton},
        {"Notes", peer(w).m_pMyNotesButton},
    };
    QTest::qWait(100);   // the bar lays out, the captions follow, a widened gap lays out again
    QRect previous;
    for (const auto &row : rows) {
        QLabel *caption = nullptr;
        for (QLabel *label : bar->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
            if (label->text() == QLatin1String(row.caption) && label->isVisible())
                caption = label;
        QVERIFY2(caption && row.button, row.caption);
        const QRect rect = caption->geometry();
        QVERIFY2(caption->sizeHint().width() <= rect.width() && caption->sizeHint().height() <= rect.height(),
                 row.caption);
        QVERIFY2(bar->rect().contains(rect), row.caption);
        QCOMPARE(bar->childAt(rect.center()), caption);
        const int buttonCentre = row.button->mapTo(bar, row.button->rect().center()).x();
        QVERIFY2(qAbs(rect.center().x() - buttonCentre) <= 1, row.caption);
        QVERIFY2(previous.isNull() || previous.right() < rect.left(), row.caption);
        previous = rect;
    }
}

void MainWindowTest::spaceNeverTogglesAFolder()
{
    QZovuvozivMainWindow w;
    auto *item = new QTreeWidgetItem(w.panes().folderTree, {QStringLiteral("Inbox")});
    item->setCheckState(0, Qt::Checked);
    w.panes().folderTree->setCurrentItem(item);
    QTest::keyClick(w.panes().folderTree, Qt::Key_Space);
    QCOMPARE(item->checkState(0), Qt::Checked);
}

void MainWindowTest::hoverTintEndsAndResets()
{
    QZovuvozivMainWindow w;
    const QImage plain = peer(w).m_pMyPeopleButton->icon().pixmap(32, 32).toImage();
    // Enter: the tint runs 14 ticks and stops with the picture tinted.
    w.OnContactEnter();
    QVERIFY(peer(w).m_pPeopleEnterTimer->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!peer(w).m_pPeopleEnterTimer->isActive(), 2000);
    QCOMPARE(peer(w).m_nPeopleStep, 0);
    QVERIFY(peer(w).m_pMyPeopleButton->icon().pixmap(32, 32).toImage() != plain);
    // Leave quickly after entering again: both timers end and the plain picture is back.
    w.OnContactEnter();
    QTest::qWait(60);
    w.OnContactLeave();
    QTRY_VERIFY_WITH_TIMEOUT(!peer(w).m_pPeopleEnterTimer->isActive() && !peer(w).m_pPeopleLeaveTimer->isActive(), 2000);
    QCOMPARE(peer(w).m_nPeopleStep, 0);
    QCOMPARE(peer(w).m_pMyPeopleButton->icon().pixmap(32, 32).toImage(), plain);
    // The checked view's button keeps its open picture.
    w.OnAddressView();
    w.OnContactEnter();
    QVERIFY(!peer(w).m_pPeopleEnterTimer->isActive());
}

void MainWindowTest::roadOfOneArchive()
{
    QZovuvozivMainWindow w;
    w.show();
    scan(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QTRY_VERIFY(peer(w).m_pProgressInfo);
    QVERIFY(!peer(w).m_pActionOpen->isEnabled() || peer(w).m_pInformationDlg);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 20000);
    QCOMPARE(MailItemCount, qint64(7));
    QCOMPARE(ContactItemCount, qint64(5));
    QCOMPARE(CalendarItemCount, qint64(8));
    QCOMPARE(TaskItemCount, qint64(5));
    QCOMPARE(NotesItemCount, qint64(1));
    // The summary shows the five counts.
    QStringList shown;
    for (QLabel *l : peer(w).m_pInformationDlg->findChildren<QLabel *>())
        shown << l->text();
    for (const char *count : {"7", "5", "8", "1"})
        QVERIFY2(shown.contains(QLatin1String(count)), count);
    QVERIFY(m_messages.isEmpty());
    // The tree holds the archive's folders, each kind marked, every folder checked.
    const QStringList names = treeNames(w.panes().folderTree);
    for (const char *name : {"Address Book", "Calendar", "Tasks", "Notes", "Inbox", "Drafts", "Outlook PST"})
        QVERIFY2(names.contains(QLatin1String(name)), name);
    QVERIFY(peer(w).m_pActionSaveRepaired->isEnabled());
    QVERIFY(peer(w).m_pActionOpen->isEnabled());
    QVERIFY(!peer(w).m_pProgressInfo->isVisible());
    QVERIFY(StartFldrAtrib && StartFldrAtrib->bState == 1);
    // Save Log writes the report into the chosen folder.
    QTemporaryDir logDir;
    ShellHooks::existingDirectory = [&logDir](QWidget *, const QString &, const QString &) { return logDir.path(); };
    peer(w).m_pInformationDlg->findChild<QPushButton *>(QStringLiteral("savelog"))->click();
    QCOMPARE(m_messages, QStringList{QStringLiteral("\nLog Report Saved Successfully.")});
    const QStringList logs = QDir(logDir.path()).entryList({QStringLiteral("logfile(*).txt")}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    QFile log(logDir.filePath(logs.first()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString report = QString::fromUtf8(log.readAll());
    QVERIFY(report.contains(QStringLiteral("outlook_example.olm")));
    for (const char *count : {"7", "5", "8", "1"})
        QVERIFY2(report.contains(QLatin1String(count)), count);
    peer(w).m_pInformationDlg->close();
}

void MainWindowTest::olmOutputNeverOverwritesTheArchive()
{
    // The archive being read is itself named as the OLM save's output file.
    const QString path = m_dir.filePath(QStringLiteral("RepairedOLMfile.olm"));
    QFile::remove(path);
    QVERIFY(QFile::copy(QStringLiteral(OLM_SAMPLE_ARCHIVE), path));
    const QByteArray before = [&] { QFile f(path); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    QZovuvozivMainWindow w;
    scan(w, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 20000);
    peer(w).m_pInformationDlg->close();
    m_messages.clear();
    ShellHooks::existingDirectory = [this](QWidget *, const QString &, const QString &) { return m_dir.path(); };
    ShellHooks::freeSpace = [](const QString &) { return qint64(1) << 40; };
    w.OnSaveAs();
    peer(w).m_pSaveAsWindow->OnSaveAsOk();   // the first entry of the repair edition's list: a new OLM archive
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().contains(QStringLiteral("overwritten")));
    QVERIFY(!peer(w).m_SavingThread.isRunning());
    QFile after(path);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);
}

// Archives whose first bytes fail a strict head test are scanned all the same; only what the
// scan finds decides whether the file is called invalid.
void MainWindowTest::scansWhatTheHeadTestWouldRefuse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("mails");
    QTest::addColumn<qint64>("compressed");
    QTest::addColumn<bool>("scanned");  // false: refused at once, before any scan
    QTest::addColumn<bool>("invalid");  // "invalid file or heavily damaged" said

    QByteArray smashed = mailArchive(30);
    smashed.replace(0, 4, QByteArray(4, '\0'));
    QTest::newRow("export with its first four bytes zeroed") << smashed << qint64(30) << qint64(0) << true << false;

    // A zip tool writes version 10 for stored entries and 20 for deflated ones, without ZIP64.
    TestArchiveBuilder repack;
    TestArchiveBuilder::EntryOptions stored, deflated;
    stored.zip64Extra = deflated.zip64Extra = false;
    deflated.method = 8;
    for (int i = 0; i < 12; ++i)
        repack.addEntry(mailEntryName(i), mailXml(i), i % 3 == 0 ? deflated : stored);
    QByteArray repacked = repack.finish();
    for (const TestArchiveBuilder::Entry &e : repack.entries())
        repacked[int(e.headerOffset + 4)] = char(e.method == 8 ? 0x14 : 0x0A);
    QTest::newRow("re-packed: versions 0x0A and 0x14, some entries deflated")
        << repacked << qint64(8) << qint64(4) << true << false;

    QTest::newRow("zip of no item: said after the scan")
        << (QByteArray("PK\x03\x04\x14\x00", 6) + QByteArray(100, 'x')) << qint64(0) << qint64(0) << true << true;
    QTest::newRow("too short for an entry: said at once")
        << QByteArray("PK\x03\x04-", 5) << qint64(0) << qint64(0) << false << true;
}

void MainWindowTest::scansWhatTheHeadTestWouldRefuse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, mails);
    QFETCH(qint64, compressed);
    QFETCH(bool, scanned);
    QFETCH(bool, invalid);
    const QString path = archiveFile(QStringLiteral("%1.olm").arg(QTest::currentDataTag()), bytes);
    QVERIFY(!path.isEmpty());
    QZovuvozivMainWindow w;
    scan(w, path);
    if (!scanned) {
        QCOMPARE(m_messages, QStringList{kInvalidFileText});
        QCOMPARE(fileDescriptor, -1);
        QVERIFY(!peer(w).m_pProgressInfo);
        return;
    }
    QTRY_VERIFY(peer(w).m_pProgressInfo);
    QTRY_VERIFY_WITH_TIMEOUT(w.parseDatabase()->scanner()->isFinished() && peer(w).m_pActionOpen->isEnabled(), 20000);
    QCoreApplication::processEvents();
    QCOMPARE(MailItemCount, mails);
    QCOMPARE(CompressedEntryCount, compressed);
    QCOMPARE(m_messages, invalid ? QStringList{kInvalidFileText} : QStringList());
    QCOMPARE(peer(w).m_pInformationDlg != nullptr, !invalid);
    if (peer(w).m_pInformationDlg)
        peer(w).m_pInformationDlg->close();
}

void MainWindowTest::onlyCompressedEntriesAreNamedNotRefused()
{
    // As a zip tool packs an archive again: every entry deflated, none of them read.
    TestArchiveBuilder b;
    TestArchiveBuilder::EntryOptions deflated;
    deflated.method = 8;
    b.addEntry(QStringLiteral("Categories.xml"), QByteArray(40, 'z'), deflated);
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00000.xml"), QByteArray(90, 'z'), deflated);
    const QString path = archiveFile(QStringLiteral("repacked.olm"), b.finish());
    QVERIFY(!path.isEmpty());
    QZovuvozivMainWindow w;
    scan(w, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 20000);
    QCOMPARE(CompressedEntryCount, qint64(2));
    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('|')));
    peer(w).m_pInformationDlg->close();
}

void MainWindowTest::refusesNonRegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO named like an archive") << "fifo";
    QTest::newRow("folder named like an archive") << "dir";
}

void MainWindowTest::refusesNonRegularFile()
{
    // Opening a FIFO would wait for a writer forever; neither it nor a folder is an archive.
    QFETCH(QString, kind);
    const QString path = m_dir.filePath(QStringLiteral("not-a-file-%1.olm").arg(kind));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        QVERIFY(QDir().mkdir(path));
    QZovuvozivMainWindow w;
    scan(w, path);
    QCOMPARE(m_messages, QStringList{QStringLiteral("\nThe selected file is not a regular file (a pipe, device or folder).")});
    QCOMPARE(fileDescriptor, -1);
    QVERIFY(!peer(w).m_pProgressInfo);
}

void MainWindowTest::stopScanThenScanAgain_data()
{
    QTest::addColumn<bool>("afterWalk");  // the stop comes after the walk's last test
    QTest::addColumn<QString>("message");
    QTest::newRow("stopped in the walk: says so, keeps nothing") << false << kScanAbortedText;
    QTest::newRow("stopped after the walk: the whole scan stays") << true << kScanAlreadyFinishedText;
}

// Yes to the scan's stop question while the scanner is held: the window answers at once, gives
// "Open Mailbox" and "Update" back only when the thread has ended, and then says how it ended.
void MainWindowTest::stopScanThenScanAgain()
{
    QFETCH(bool, afterWalk);
    QFETCH(QString, message);
    const QString path = writtenArchive(QStringLiteral("large.olm"), 4000);
    QZovuvozivMainWindow w;
    w.show();
    QFolderInformationThread *scanner = w.parseDatabase()->scanner();
    // Held at its start until the sheet is shown; after the walk, held at its finish signal.
    QSemaphore started, release;
    std::atomic<bool> held{false};
    auto holdStart = connect(scanner, &QFolderInformationThread::OnInitialSettings, scanner, [&] {
        started.tryAcquire(1, 10000);
    }, Qt::DirectConnection);
    auto holdEnd = connect(scanner, &QFolderInformationThread::OnFinishScanning, scanner, [&] {
        held = true;
        release.tryAcquire(1, 10000);
    }, Qt::DirectConnection);
    scan(w, path);
    QTRY_VERIFY(peer(w).m_pProgressInfo && peer(w).m_pProgressInfo->isVisible());
    if (afterWalk) {
        // The finish signal is then queued, not yet seen: the answer comes before the window
        // sees it, as when the user answers while it is on its way.
        started.release();
        while (!held)
            QThread::yieldCurrentThread();
    }
    LoopGapMeter meter;
    peer(w).m_pProgressInfo->findChild<QPushButton *>(QStringLiteral("stopButton"))->click();
    QVERIFY(stopDlgObj3 && stopDlgObj3->isVisible());
    stopDlgObj3->yesButton()->click();
    QVERIFY(bStopFlag);
    if (!afterWalk) {
        QTest::qWait(200);
        QVERIFY(scanner->isRunning());
        QVERIFY(!m_pOpenFile->isEnabled() && !m_pActionUpdate->isEnabled());
        QVERIFY(m_messages.isEmpty());
    }
    if (!afterWalk)
        started.release();
    release.release();
    disconnect(holdStart);
    disconnect(holdEnd);
    QTRY_VERIFY_WITH_TIMEOUT(!m_messages.isEmpty() && scanner->isFinished(), 30000);
    QVERIFY2(meter.largestGap() < 1000, qPrintable(QString::number(meter.largestGap())));
    QCOMPARE(m_messages, QStringList{message});
    QVERIFY(m_pOpenFile->isEnabled() && m_pActionUpdate->isEnabled());
    if (afterWalk) {
        // The stop belonged to no run: the summary, the tree and the save are there.
        QTRY_VERIFY(peer(w).m_pInformationDlg != nullptr);
        QCOMPARE(MailItemCount, qint64(4000));
        QVERIFY(!bStopFlag);
        QVERIFY(w.panes().folderTree->topLevelItemCount() > 0);
        QVERIFY(peer(w).m_pActionSaveRepaired->isEnabled());
        peer(w).m_pInformationDlg->close();
        return;
    }
    QVERIFY(!peer(w).m_pInformationDlg);
    QVERIFY(MailItemCount < 4000);
    QVERIFY(!peer(w).m_pActionSaveRepaired->isEnabled());
    // Open again: no question after a stop; the next scan runs to the end.
    m_messages.clear();
    w.OnOpenFile();
    QVERIFY(!stopDlgObj->isVisible());
    scan(w, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 30000);
    QCOMPARE(MailItemCount, qint64(4000));
    QVERIFY(m_messages.isEmpty());
    peer(w).m_pInformationDlg->close();
}

void MainWindowTest::scanEndsUnderTheStopQuestion_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("No: the summary") << "no" << QStringList();
    QTest::newRow("Yes: already finished, with the summary") << "yes" << QStringList{kScanAlreadyFinishedText};
    QTest::newRow("another file opened first: the question goes") << "open" << QStringList();
}

// The scan ends while its stop question is open: the question stays for its answer and the
// summary waits for it, whichever it is; the whole scan stays.
void MainWindowTest::scanEndsUnderTheStopQuestion()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, messages);
    const QString path = archiveFile(QStringLiteral("ends.olm"), largeArchive(50));
    QVERIFY(!path.isEmpty());
    QZovuvozivMainWindow w;
    w.show();
    // The question is open when the scan reaches its end.
    QSemaphore release;
    auto hold = connect(w.parseDatabase()->scanner(), &QFolderInformationThread::OnInitialSettings,
                        w.parseDatabase()->scanner(), [&release] { release.acquire(); }, Qt::DirectConnection);
    scan(w, path);
    QTRY_VERIFY(peer(w).m_pProgressInfo);
    peer(w).m_pProgressInfo->findChild<QPushButton *>(QStringLiteral("stopButton"))->click();
    QTRY_VERIFY(stopDlgObj3 && stopDlgObj3->isVisible());
    QPointer<StopDlg> question = stopDlgObj3;
    release.release();
    disconnect(hold);
    QVERIFY(w.parseDatabase()->scanner()->wait(30000));
    QTRY_VERIFY(m_pOpenFile->isEnabled());
    QTest::qWait(100);
    QVERIFY(question && question->isVisible());
    QVERIFY(!peer(w).m_pInformationDlg);
    QVERIFY(m_messages.isEmpty());

    if (answer == QLatin1String("open")) {
        w.OnOpenFile();
        stopDlgObj->yesButton()->click();
        QVERIFY(!question->isVisible());
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!peer(w).m_pInformationDlg);
        return;
    }
    (answer == QLatin1String("yes") ? question->yesButton() : question->noButton())->click();
    QVERIFY(!question->isVisible());
    QCOMPARE(m_messages, messages);
    QVERIFY(peer(w).m_pInformationDlg != nullptr);
    QCOMPARE(MailItemCount, qint64(50));
    QVERIFY(!bStopFlag);
    QVERIFY(peer(w).m_pActionSaveRepaired->isEnabled());
    QVERIFY(w.panes().folderTree->topLevelItemCount() > 0);
    peer(w).m_pInformationDlg->close();
}

void MainWindowTest::reopenQuestion()
{
    QZovuvozivMainWindow w;
    scan(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 20000);
    peer(w).m_pInformationDlg->close();
    QParseDatabase *first = w.parseDatabase();
    // No keeps everything.
    w.OnOpenFile();
    QVERIFY(stopDlgObj->isVisible());
    QCOMPARE(stopDlgObj->title(), QStringLiteral("Choose OLM Mailbox"));
    stopDlgObj->noButton()->click();
    QVERIFY(!stopDlgObj->isVisible());
    QCOMPARE(w.parseDatabase(), first);
    QVERIFY(TmpMlrcPtrStart);
    // Yes discards the scan and shows the dialog again, with no file chosen.
    w.OnOpenFile();
    stopDlgObj->yesButton()->click();
    QCOMPARE(w.parseDatabase(), first);
    QVERIFY(w.parseDatabase()->isVisible());
    QVERIFY(w.parseDatabase()->textEdit_FileSelected->text().isEmpty());
    QVERIFY(!w.parseDatabase()->StartButton->isEnabled());
    QVERIFY(!TmpMlrcPtrStart);
    QVERIFY(!StartFldrAtrib);
    QVERIFY(w.panes().emptyItemList->isVisibleTo(&w));
    QVERIFY(!peer(w).m_pActionMail->isEnabled());
    QVERIFY(!peer(w).m_pActionSaveRepaired->isEnabled());
}

void MainWindowTest::oneOpenSheetForManyOpens()
{
    QZovuvozivMainWindow w;
    for (int open = 0; open < 5; ++open) {
        // The third open finds a scan loaded and asks first.
        if (open == 2) {
            scanToSummary(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
            QVERIFY(!w.parseDatabase()->isVisible());
        }
        w.OnOpenFile();
        if (stopDlgObj->isVisible())
            stopDlgObj->yesButton()->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(w.findChildren<QParseDatabase *>().size(), 1);
        QVERIFY(w.parseDatabase()->isVisible());
        QVERIFY(w.parseDatabase()->textEdit_FileSelected->text().isEmpty());
    }
    // The kept sheet still scans.
    scanToSummary(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QCOMPARE(MailItemCount, qint64(7));
}

void MainWindowTest::viewsMarkTheirFolders()
{
    QZovuvozivMainWindow w;
    scan(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 20000);
    peer(w).m_pInformationDlg->close();
    w.OnCalenderView();
    QVERIFY(peer(w).m_pMyCalendarButton->isChecked());
    int checked = 0;
    for (QTreeWidgetItemIterator it(w.panes().folderTree); *it; ++it) {
        if ((*it)->checkState(0) == Qt::Checked) {
            ++checked;
            QCOMPARE((*it)->text(6), QStringLiteral("42"));
        }
    }
    QCOMPARE(checked, 1);
    // What a save uses is what the tree shows: the calendar folder, and its parents partly.
    for (FldrAtribNode *n = StartFldrAtrib; n; n = n->pNext) {
        if (n->dwKind == 42)
            QCOMPARE(int(n->bState), 1);
        else if (n->llFolderId != llRootId)
            QVERIFY(n->bState != 1);
    }
    QVERIFY(w.panes().textPreview->isVisibleTo(&w));
    QVERIFY(!w.panes().mailHeaderArea->isVisibleTo(&w));
}

void MainWindowTest::saveStartRefusals()
{
    // Mail only: every kind it holds has a writer that writes, so the save can succeed.
    TestArchiveBuilder b;
    for (int i = 0; i < 3; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Message %1").arg(i);
        m.body = QStringLiteral("body");
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({m}));
    }
    const QString path = archiveFile(QStringLiteral("mail.olm"), b.finish());
    QVERIFY(!path.isEmpty());
    QZovuvozivMainWindow w;
    scan(w, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 20000);
    peer(w).m_pInformationDlg->close();
    m_messages.clear();
    m_icons.clear();
    // Too little space.
    ShellHooks::existingDirectory = [this](QWidget *, const QString &, const QString &) { return m_dir.path(); };
    int asked = 0;
    ShellHooks::freeSpace = [&asked](const QString &) { return ++asked == 1 ? qint64(10) : qint64(1) << 40; };
    w.OnSaveAs();
    QVERIFY(peer(w).m_pSaveAsWindow->isVisible());
    // Apple Mail mailboxes: a format whose writer writes, so the end can be a success.
    auto *format = peer(w).m_pSaveAsWindow->findChild<QComboBox *>(QStringLiteral("comboBox"));
    QVERIFY(format);
    format->setCurrentIndex(bforQConverterFO ? 0 : 2);
    peer(w).m_pSaveAsWindow->OnSaveAsOk();
    QCOMPARE(m_messages.value(0), QStringLiteral("\nInsufficient disk space. Select another location to save recovered data."));
    // Closing the message starts over; with room the save starts and ends.
    QTRY_VERIFY_WITH_TIMEOUT(m_messages.size() >= 2, 20000);
    QTRY_VERIFY(!peer(w).m_SavingThread.isRunning());
    QCOMPARE(m_messages.last(), SaveSuccessText() + SaveWrittenText(peer(w).m_SavingThread.outcome()));
    QVERIFY(m_messages.last().contains(QLatin1String("messages saved in")));
    QCOMPARE(m_icons.last(), SuccessIconStyle());
    // A finished save clears every check mark.
    QCOMPARE(int(StartFldrAtrib->bState), 3);
    QVERIFY(peer(w).m_pActionSaveRepaired->isEnabled());
    // Another format of the same folders (the new archive; .emlx in the converter edition) is
    // written too and ends the same way.
    QTreeWidgetItem *root = w.panes().folderTree->topLevelItem(0);
    root->setCheckState(0, Qt::Checked);
    w.parseDatabase()->LeftTreeWidgetItem(root);
    m_messages.clear();
    m_icons.clear();
    w.OnSaveAs();
    format->setCurrentIndex(bforQConverterFO ? 1 : 0);
    QDir(m_dir.path()).remove(QStringLiteral("RepairedOLMfile.olm"));
    peer(w).m_pSaveAsWindow->OnSaveAsOk();
    QTRY_VERIFY_WITH_TIMEOUT(!m_messages.isEmpty() && !peer(w).m_SavingThread.isRunning(), 20000);
    QCOMPARE(m_messages.last(), SaveSuccessText() + SaveWrittenText(peer(w).m_SavingThread.outcome()));
    QCOMPARE(m_icons.last(), SuccessIconStyle());
    QCOMPARE(int(StartFldrAtrib->bState), 3);
    // Nothing checked: the select message.
    root->setCheckState(0, Qt::Unchecked);
    w.parseDatabase()->LeftTreeWidgetItem(root);
    m_messages.clear();
    w.OnSavingFiles();
    QCOMPARE(m_messages, QStringList{QStringLiteral("\nSelect a folder to save.")});
}

void MainWindowTest::olmSaveAsksBeforeReplacing()
{
    if (bforQConverterFO)
        QSKIP("this edition has no OLM save");
    QZovuvozivMainWindow w;
    scanToSummary(w, writtenArchive(QStringLiteral("small.olm"), 20));
    QTemporaryDir dest;
    QString chosen = dest.path();
    ShellHooks::existingDirectory = [&chosen](QWidget *, const QString &, const QString &) { return chosen; };
    ShellHooks::freeSpace = [](const QString &) { return qint64(1) << 40; };
    const auto saveOlm = [&] {
        QTreeWidgetItem *root = w.panes().folderTree->topLevelItem(0);
        root->setCheckState(0, Qt::Checked);
        w.parseDatabase()->LeftTreeWidgetItem(root);
        w.OnSaveAs();
        peer(w).m_pSaveAsWindow->OnSaveAsOk();  // the first entry: a new OLM archive
    };
    const auto success = [&w] {
        return QStringList{SaveSuccessText() + SaveWrittenText(peer(w).m_SavingThread.outcome())};
    };
    saveOlm();
    QTRY_VERIFY_WITH_TIMEOUT(!m_messages.isEmpty() && !peer(w).m_SavingThread.isRunning(), 20000);
    QCOMPARE(m_messages, success());
    const QString output = dest.filePath(QStringLiteral("RepairedOLMfile.olm"));
    const QByteArray first = fileBytes(output);
    // The second save into the same folder asks, naming the file; No keeps it byte for byte
    // (and asks for another folder, here cancelled).
    m_messages.clear();
    saveOlm();
    QVERIFY(stopDlgObj->isVisible() && !peer(w).m_SavingThread.isRunning());
    QCOMPARE(stopDlgObj->question(), QStringLiteral("Do you want to replace it?"));
    QCOMPARE(stopDlgObj->detail(), QStringLiteral("RepairedOLMfile.olm already exists at this location."));
    chosen.clear();
    stopDlgObj->noButton()->click();
    QVERIFY(!peer(w).m_SavingThread.isRunning() && m_messages.isEmpty());
    QCOMPARE(fileBytes(output), first);
    // Yes replaces it (here an emptied one) with a new archive of the same folders.
    chosen = dest.path();
    QVERIFY(QFile(output).resize(0));
    saveOlm();
    stopDlgObj->yesButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(!m_messages.isEmpty() && !peer(w).m_SavingThread.isRunning(), 20000);
    QCOMPARE(m_messages, success());
    QCOMPARE(fileBytes(output).size(), first.size());
}

void MainWindowTest::stopQuestionHoldsTheSave_data()
{
    QTest::addColumn<QString>("answer");  // empty: the save ends behind the open question
    QTest::addColumn<QString>("message");
    const QString whole = QStringLiteral("\nFiles Saved Successfully.");
    QTest::newRow("Yes ends the save partly") << "yes" << "\nSaving Process Aborted. Files Saved Partially.";
    QTest::newRow("No lets it save everything") << "no" << whole;
    QTest::newRow("a save that ends behind the question") << "" << whole;
}

// A save of 20,001 items (mailboxes: workers format, the saving thread writes), the question
// opened at its first progress tick, or at its last when the save ends behind it.
void MainWindowTest::stopQuestionHoldsTheSave()
{
    QFETCH(QString, answer);
    QFETCH(QString, message);
    QZovuvozivMainWindow w;
    scanToSummary(w, writtenArchive(QStringLiteral("many.olm"), 20000));
    QTemporaryDir dest;
    chooseDestination(dest.path());
    QMailSavingThread &thread = peer(w).m_SavingThread;
    const qint64 total = 20001;
    const qint64 holdAt = answer.isEmpty() ? total : 1;
    QSemaphore release;
    std::atomic<qint64> ticks{0};
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        if (++ticks == holdAt)
            release.acquire();
    }, Qt::DirectConnection);
    startMailboxSave(w);
    // The save's own sheet, not the scan's hidden one.
    QTRY_VERIFY_WITH_TIMEOUT(ticks == holdAt && peer(w).m_pProgressInfo && peer(w).m_pProgressInfo->isVisible(), 60000);
    peer(w).m_pProgressInfo->findChild<QPushButton *>(QStringLiteral("stopButton"))->click();
    QPointer<StopDlg> question = stopDlgObj3;
    release.release();
    if (!answer.isEmpty()) {
        // The writer waits at its next item, and nothing more is written while the question is open.
        QTRY_COMPARE(ThreadsWaitingAtPause(SavePauseRole::Writer), 1);
        const qint64 bytes = bytesBelow(dest.path());
        QTest::qWait(200);
        QCOMPARE(bytesBelow(dest.path()), bytes);
        QCOMPARE(qint64(ticks), holdAt);
        QVERIFY(m_messages.isEmpty());
        (answer == QLatin1String("yes") ? question->yesButton() : question->noButton())->click();
    }
    // The question is closed and the real outcome shows, once.
    QTRY_VERIFY_WITH_TIMEOUT(!m_messages.isEmpty() && !thread.isRunning(), 60000);
    QTest::qWait(50);
    const bool whole = message == SaveSuccessText();
    QCOMPARE(m_messages.size(), 1);
    if (whole)
        QCOMPARE(m_messages.constFirst(), message + SaveWrittenText(thread.outcome()));
    else  // followed by what it wrote
        QVERIFY2(m_messages.constFirst().startsWith(message + QLatin1Char('\n')), qPrintable(m_messages.constFirst()));
    QVERIFY(!question || !question->isVisible());
    QCOMPARE(thread.outcome().written == total, answer != QLatin1String("yes"));
    QVERIFY(!SavePaused());
}

void MainWindowTest::stopYesLeavesTheWindowAnswering_data()
{
    QTest::addColumn<int>("lostAttachments");
    QTest::addColumn<qint64>("holdAt");  // the progress tick the saving thread is held at
    QTest::newRow("held writing a message") << 0 << qint64(5);
    // 20 messages and a contact come first: tick 30 is the recovered-attachment pass.
    QTest::newRow("held in the recovered-attachment pass") << 200 << qint64(30);
}

// Yes while the saving thread is held inside an item (a long copy): the window keeps answering,
// and "Update", "Open Mailbox" and the save come back only when the thread has ended, with the
// aborted message.
void MainWindowTest::stopYesLeavesTheWindowAnswering()
{
    QFETCH(int, lostAttachments);
    QFETCH(qint64, holdAt);
    QZovuvozivMainWindow w;
    const int messages = lostAttachments ? 20 : 20000;
    scanToSummary(w, writtenArchive(lostAttachments ? QStringLiteral("lost.olm") : QStringLiteral("many.olm"), messages, lostAttachments));
    QTemporaryDir dest;
    chooseDestination(dest.path());
    QMailSavingThread &thread = peer(w).m_SavingThread;
    QSemaphore release;
    std::atomic<qint64> ticks{0};
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        if (++ticks == holdAt)
            release.tryAcquire(1, 10000);
    }, Qt::DirectConnection);
    startMailboxSave(w);
    QTRY_VERIFY_WITH_TIMEOUT(ticks == holdAt && peer(w).m_pProgressInfo && peer(w).m_pProgressInfo->isVisible(), 60000);
    LoopGapMeter meter;
    peer(w).m_pProgressInfo->findChild<QPushButton *>(QStringLiteral("stopButton"))->click();
    stopDlgObj3->yesButton()->click();
    QTest::qWait(300);
    QVERIFY(thread.isRunning());
    QVERIFY(!m_pActionUpdate->isEnabled() && !m_pOpenFile->isEnabled());
    QVERIFY(!peer(w).m_pActionSaveRepaired->isEnabled() && !peer(w).m_pActionFindFile->isEnabled());
    QVERIFY(m_messages.isEmpty());
    release.release();
    QTRY_VERIFY_WITH_TIMEOUT(!m_messages.isEmpty() && thread.isFinished(), 30000);
    QVERIFY2(meter.largestGap() < 1000, qPrintable(QString::number(meter.largestGap())));
    const SaveOutcome outcome = thread.outcome();
    QVERIFY(outcome.stopped);
    if (lostAttachments)  // the stop ended the pass, not its end
        QVERIFY2(outcome.recovered.size() > 0 && outcome.recovered.size() < lostAttachments,
                 qPrintable(QString::number(outcome.recovered.size())));
    QVERIFY2(m_messages.constFirst().startsWith(QLatin1String(kSaveAbortedText)), qPrintable(m_messages.join('|')));
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_pActionUpdate->isEnabled() && m_pOpenFile->isEnabled() && peer(w).m_pActionSaveRepaired->isEnabled());
    // The marks of a stopped save stay for another try.
    QVERIFY(StartFldrAtrib && StartFldrAtrib->bState == 1);
}

void MainWindowTest::stoppedSaveNamesWhatIsOnDisk_data()
{
    QTest::addColumn<qint64>("stopAt");  // the progress tick the stop is confirmed at; 0: before any item
    QTest::newRow("stopped before the first item") << qint64(0);
    QTest::newRow("stopped after the first item") << qint64(1);
    QTest::newRow("stopped in the middle") << qint64(17);
}

// The message of a stopped save names the folder it wrote into and, by kind, the items found in
// it on disk afterwards.
void MainWindowTest::stoppedSaveNamesWhatIsOnDisk()
{
    QFETCH(qint64, stopAt);
    QZovuvozivMainWindow w;
    scanToSummary(w, writtenArchive(QStringLiteral("stopcount.olm"), 40));
    QTemporaryDir dest;
    chooseDestination(dest.path());
    QMailSavingThread &thread = peer(w).m_SavingThread;
    const auto stop = [] {
        bStopFlag = true;
        stopflag = true;
    };
    std::atomic<qint64> ticks{0};
    if (stopAt == 0)
        connect(&thread, &QMailSavingThread::OnInitialSettingsMainWindow, &thread, stop, Qt::DirectConnection);
    else
        connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
            if (++ticks == stopAt)
                stop();
        }, Qt::DirectConnection);
    startMailboxSave(w);
    QTRY_VERIFY_WITH_TIMEOUT(!m_messages.isEmpty() && !thread.isRunning(), 60000);
    QVERIFY(thread.outcome().stopped);
    QCOMPARE(m_messages.size(), 1);
    const QString message = m_messages.constFirst();
    const QString aborted = QString::fromLatin1(kSaveAbortedText);
    if (stopAt == 0) {
        QCOMPARE(message, aborted + QString::fromLatin1(kNothingSavedBeforeStopText));
        return;
    }
    const QRegularExpressionMatch named =
        QRegularExpression(QStringLiteral("^\n(.+) saved in \"(.+)\"\\.$")).match(message.mid(aborted.size()));
    QVERIFY2(message.startsWith(aborted) && named.hasMatch(), qPrintable(message));
    const QString folder = QDir::fromNativeSeparators(named.captured(2));
    QVERIFY2(folder.startsWith(dest.path() + QLatin1Char('/')), qPrintable(folder));
    // A message per mbox "From " line (body lines that start so are quoted), a contact per card.
    SaveItemCounts onDisk;
    for (QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile file(it.next());
        QVERIFY(file.open(QIODevice::ReadOnly));
        for (QByteArray line = file.readLine(); !line.isEmpty(); line = file.readLine()) {
            onDisk.mails += line.startsWith("From ");
            onDisk.contacts += line.startsWith("BEGIN:VCARD");
        }
    }
    QVERIFY2(onDisk.mails >= stopAt - 1 && onDisk.total() < 41, qPrintable(message));
    QCOMPARE(named.captured(1), DescribeItemCounts(onDisk));
}

void MainWindowTest::marksAfterAnUnfinishedSave_data()
{
    QTest::addColumn<qint64>("failed");
    QTest::addColumn<qint64>("incomplete");
    QTest::addColumn<qint64>("unread");
    QTest::addColumn<QList<qint64>>("foldersNotSaved");
    QTest::addColumn<QString>("boxes");  // root A A1 A2 A2x B Folder1, 1 checked, 2 partly, 3 not
    QTest::newRow("saved incomplete only: every mark goes") << 0ll << 2ll << 0ll << QList<qint64>() << "3333333";
    QTest::newRow("not saved in A1: A1 alone keeps its mark") << 1ll << 0ll << 0ll << QList<qint64>{503} << "2213333";
    QTest::newRow("not saved in A: its subfolders keep theirs")
        << 2ll << 1ll << 0ll << QList<qint64>{502} << "2111133";
    // A2's own items were saved: its own row goes, and A2 shows partly checked.
    QTest::newRow("not saved in A2x and B") << 2ll << 0ll << 0ll << QList<qint64>{505, 506} << "2232113";
    QTest::newRow("not saved, no folder named: every mark stays") << 1ll << 0ll << 0ll << QList<qint64>() << "1111111";
    QTest::newRow("entries not read: every mark stays") << 1ll << 0ll << 3ll << QList<qint64>{503} << "1111111";
}

// A save that is not a full success: only the folders holding items not saved stay checked, and
// the selection the next save reads agrees with the boxes.
void MainWindowTest::marksAfterAnUnfinishedSave()
{
    QFETCH(qint64, failed);
    QFETCH(qint64, incomplete);
    QFETCH(qint64, unread);
    QFETCH(QList<qint64>, foldersNotSaved);
    QFETCH(QString, boxes);
    QZovuvozivMainWindow w;
    FolderTreeTestUtil::setMaps(FolderTreeTestUtil::kSmallTree);
    w.parseDatabase()->GenerateTree();
    QTreeWidget *tree = w.panes().folderTree;
    QCOMPARE(FolderTreeTestUtil::boxes(tree), QStringLiteral("1111111"));
    SaveOutcome outcome;
    outcome.failed = failed;
    outcome.incomplete = incomplete;
    outcome.unreadEntries = unread;
    for (const qint64 id : foldersNotSaved)
        outcome.foldersNotSaved.insert(id);
    peer(w).keepMarksOfFoldersNotSaved(outcome);
    QCOMPARE(FolderTreeTestUtil::boxes(tree), boxes);
    QCOMPARE(FolderTreeTestUtil::stepFault(tree), QString());
    // A folder whose box only follows its subfolders keeps no own items of the save that ended.
    QVERIFY(FoldersKeepingOwnItems.isEmpty());
    QParseDatabase::CleanListAndHash();
}

void MainWindowTest::closeWhileRunningIsRefused()
{
    QZovuvozivMainWindow w;
    w.show();
    bProcessRunning = true;
    QVERIFY(!w.close());
    QCOMPARE(m_messages, QStringList{QStringLiteral("\nApplication Running !!\nPlease halt the current process to Exit.")});
    QVERIFY(w.isVisible());
    bProcessRunning = false;
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
