// The "Find OLM" dialog: what it lists from awkward folder trees, stopping and closing mid-search,
// and handing the picked path back.

#include "shell/StopDlg.h"
#include "shell/ShellHooks.h"
#include "shell/finder/QSearchPSTFile.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

QPushButton *button(const QSearchPSTFile &dlg, const char *name)
{
    return dlg.findChild<QPushButton *>(QLatin1String(name));
}

QTreeWidget *resultList(const QSearchPSTFile &dlg)
{
    return dlg.findChild<QTreeWidget *>(QStringLiteral("FileTreeWidget"));
}

// Writes a file of the given size (sparse where the file system allows), making its folders.
bool makeFile(const QString &path, qint64 size)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.resize(size);
}

QMap<QString, QString> listedRows(const QSearchPSTFile &dlg)
{
    QMap<QString, QString> rows; // path -> size text
    const QTreeWidget *list = resultList(dlg);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows.insert(list->topLevelItem(i)->text(0), list->topLevelItem(i)->text(1));
    return rows;
}

} // namespace

class FinderTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void constructionState();
    void sizeText_data();
    void sizeText();
    void searchRoot_data();
    void searchRoot();
    void findsEveryArchiveInAwkwardTree();
    void noArchiveFound();
    void pickAndHandBack();
    void pickByKeysAndHandBack_data();
    void pickByKeysAndHandBack();
    void cancelledChooserChangesNothing();
    void sheetStaysInsideItsWindow();
    void stopEndsOnlyOurSearch();
    void stopThenNoLetsSearchFinish();
    void yesAfterSearchEndedKeepsResults();
    void closeRefusedWhileSearching_data();
    void closeRefusedWhileSearching();

private:
    // Presses "Find" with the chooser answering folder, then waits for the search to end.
    bool runSearch(QSearchPSTFile &dlg, const QString &folder);
    // Builds the awkward tree; fills m_expected with path -> size text.
    void buildAwkwardTree(const QString &root);

    QStringList m_messages;
    QString m_chosenFolder;
    QTemporaryDir m_big;    // 20,100 empty folders and 100 archives, one per top folder
    QTemporaryDir m_small;  // the awkward tree
    QMap<QString, QString> m_expected;
    QString m_locked;
};

void FinderTest::initTestCase()
{
    ShellHooks::messageBox = [this](const QString &text, const QString &) { m_messages << text; };
    ShellHooks::existingDirectory = [this](QWidget *, const QString &, const QString &) { return m_chosenFolder; };

    QVERIFY(m_big.isValid());
    QDir big(m_big.path());
    for (int top = 0; top < 100; ++top) {
        const QString topName = QStringLiteral("top %1").arg(top);
        QVERIFY(big.mkdir(topName));
        for (int sub = 0; sub < 200; ++sub)
            QVERIFY(big.mkdir(topName + QStringLiteral("/sub %1").arg(sub)));
        QVERIFY(makeFile(big.filePath(topName + QStringLiteral("/found.olm")), 1));
    }

    QVERIFY(m_small.isValid());
    buildAwkwardTree(m_small.path());
}

void FinderTest::buildAwkwardTree(const QString &root)
{
    const auto archive = [&](const QString &relative, qint64 size, const QString &sizeText) {
        QVERIFY(makeFile(root + QLatin1Char('/') + relative, size));
        m_expected.insert(root + QLatin1Char('/') + relative, sizeText);
    };
    const auto other = [&](const QString &relative) { QVERIFY(makeFile(root + QLatin1Char('/') + relative, 3)); };

    archive(QStringLiteral("a.olm"), 0, QStringLiteral("0 Byte"));
    other(QStringLiteral("B.OLM"));
    other(QStringLiteral("a.olm.bak"));
    other(QStringLiteral("notes.olmx"));
    archive(QStringLiteral("name with blanks/mail box.olm"), 1023, QStringLiteral("1023 Byte"));
    archive(QStringLiteral("x'y/it's.olm"), 1024, QStringLiteral("1.00 KB"));
    archive(QStringLiteral("say \"hi\"/\"quoted\".olm"), 1536, QStringLiteral("1.50 KB"));
    archive(QStringLiteral("café/été.olm"), 10, QStringLiteral("10 Byte"));
    archive(QStringLiteral("日本/メール 1.olm"), 2048, QStringLiteral("2.00 KB"));
    archive(QStringLiteral("$(touch pwned)/`touch pwned2`.olm"), 5, QStringLiteral("5 Byte"));
    archive(QStringLiteral(".hidden/h.olm"), 7, QStringLiteral("7 Byte"));
    archive(QStringLiteral("big/full.olm"), 1048576, QStringLiteral("1.00 MB"));
    // A folder named like an archive is walked into but not listed.
    archive(QStringLiteral("folder.olm/inner.olm"), 4, QStringLiteral("4 Byte"));
    QString deep;
    for (int level = 0; level < 30; ++level)
        deep += QStringLiteral("level %1 'é'/").arg(level);
    archive(deep + QStringLiteral("deep.olm"), 99, QStringLiteral("99 Byte"));

    // Links back up the tree: followed, they would loop for ever; a link to a folder is no archive.
    QVERIFY(QDir().mkpath(root + QStringLiteral("/loop")));
    QVERIFY(QFile::link(root, root + QStringLiteral("/loop/back")));
    QVERIFY(QFile::link(root, root + QStringLiteral("/loop/ring.olm")));

    // A folder the walk cannot read is passed by; when it can be read (as root) its archive counts.
    m_locked = root + QStringLiteral("/locked");
    QVERIFY(makeFile(m_locked + QStringLiteral("/secret.olm"), 8));
    QVERIFY(QFile::setPermissions(m_locked, QFileDevice::Permissions()));
    if (!QDir(m_locked).entryList(QDir::Files).isEmpty())
        m_expected.insert(m_locked + QStringLiteral("/secret.olm"), QStringLiteral("8 Byte"));
}

void FinderTest::cleanupTestCase()
{
    QFile::setPermissions(m_locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ShellHooks::messageBox = nullptr;
    ShellHooks::existingDirectory = nullptr;
}

void FinderTest::init()
{
    m_messages.clear();
    m_chosenFolder.clear();
    QVERIFY(!bProcessRunningSearching);
}

bool FinderTest::runSearch(QSearchPSTFile &dlg, const QString &folder)
{
    m_chosenFolder = folder;
    button(dlg, "SearchButton")->click();
    if (!dlg.searchThread() || button(dlg, "StopButton")->isHidden())
        return false;
    return QTest::qWaitFor([&] { return button(dlg, "StopButton")->isHidden(); }, 30000)
           && dlg.searchThread()->wait(30000);
}

void FinderTest::constructionState()
{
    QSearchPSTFile dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Find OLM"));
    QCOMPARE(dlg.minimumSize(), QSize(600, 470));
    QCOMPARE(dlg.maximumSize(), QSize(600, 470));
    QCOMPARE(dlg.windowModality(), Qt::ApplicationModal);
    const QTreeWidget *list = resultList(dlg);
    QVERIFY(list);
    QCOMPARE(list->columnCount(), 5);
    const QStringList headers{"Name", "Size", "Created", "Accessed", "Modified"};
    const int widths[] = {250, 75, 80, 80, 80};
    for (int column = 0; column < 5; ++column) {
        QCOMPARE(list->headerItem()->text(column), headers.at(column));
        QCOMPARE(list->columnWidth(column), widths[column]);
    }
    QCOMPARE(list->indentation(), 0);
    QVERIFY(list->alternatingRowColors());
    QVERIFY(!list->isSortingEnabled());

    QVERIFY(!button(dlg, "SearchButton")->isHidden() && button(dlg, "SearchButton")->isEnabled());
    QVERIFY(button(dlg, "StopButton")->isHidden());
    QVERIFY(!button(dlg, "OKButton")->isEnabled());
    QVERIFY(button(dlg, "ClearListButton")->isHidden() && !button(dlg, "ClearListButton")->isEnabled());
    QVERIFY(button(dlg, "SearchInFolderButton")->isHidden());
    QVERIFY(dlg.findChild<QComboBox *>(QStringLiteral("SourceComboBox"))->isHidden());
    QCOMPARE(button(dlg, "OKButton")->text(), QStringLiteral("Next"));
    QCOMPARE(button(dlg, "CloseButton")->text(), QStringLiteral("Cancel"));
}

void FinderTest::sizeText_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << qint64(0) << "0 Byte";
    QTest::newRow("one below a KB") << qint64(1023) << "1023 Byte";
    QTest::newRow("one KB") << qint64(1024) << "1.00 KB";
    QTest::newRow("KB rounded") << qint64(1535) << "1.50 KB";
    QTest::newRow("one below a MB") << qint64(1048575) << "1024.00 KB";
    QTest::newRow("one MB") << qint64(1048576) << "1.00 MB";
    QTest::newRow("one below a GB") << qint64(1073741823) << "1024.00 MB";
    QTest::newRow("one GB") << qint64(1073741824) << "1.00 GB";
    QTest::newRow("beyond 32 bits") << qint64(5) * 1073741824 + 536870912 << "5.50 GB";
    QTest::newRow("terabytes stay GB") << qint64(2048) * 1073741824 << "2048.00 GB";
}

void FinderTest::sizeText()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(QSearchPSTFile::SizeText(bytes), text);
}

void FinderTest::searchRoot_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("root");
    QTest::newRow("home folder") << "/Users/me" << "/Users/me";
    QTest::newRow("admin home") << "/private/var/root/Mail" << "/private/var/root/Mail";
    QTest::newRow("other volume") << "/Volumes/Disk" << "/Volumes/Disk/";
    QTest::newRow("lower-case users is not the home rule") << "/users/me" << "/users/me/";
}

void FinderTest::searchRoot()
{
    QFETCH(QString, chosen);
    QFETCH(QString, root);
    QCOMPARE(QSearchPSTFile::SearchRootFor(chosen), root);
}

void FinderTest::findsEveryArchiveInAwkwardTree()
{
    const QString cwdPwned = QDir::current().filePath(QStringLiteral("pwned"));
    QVERIFY(!QFile::exists(cwdPwned));
    QSearchPSTFile dlg;
    QVERIFY(runSearch(dlg, m_small.path()));

    const QMap<QString, QString> rows = listedRows(dlg);
    QCOMPARE(rows.keys(), m_expected.keys());
    QCOMPARE(rows, m_expected);
    QCOMPARE(resultList(dlg)->topLevelItemCount(), m_expected.size()); // each archive once
    QVERIFY(m_messages.isEmpty());

    const QTreeWidget *list = resultList(dlg);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = list->topLevelItem(i);
        QVERIFY2(!row->text(0).contains(QLatin1String("//")), qPrintable(row->text(0)));
        QCOMPARE(row->text(4), QFileInfo(row->text(0)).lastModified().toString(Qt::TextDate));
        QVERIFY(!row->text(2).isEmpty() && !row->text(3).isEmpty());
    }
    // The names were never handed to a shell.
    QVERIFY(!QFile::exists(m_small.filePath(QStringLiteral("pwned"))));
    QVERIFY(!QFile::exists(cwdPwned));

    // Back to idle with the results kept.
    QVERIFY(!button(dlg, "SearchButton")->isHidden());
    QVERIFY(button(dlg, "ClearListButton")->isEnabled());
    QVERIFY(!button(dlg, "OKButton")->isEnabled()); // until a row is picked
    QVERIFY(!bProcessRunningSearching);
}

void FinderTest::noArchiveFound()
{
    QTemporaryDir dir;
    QVERIFY(makeFile(dir.filePath(QStringLiteral("Backup.OLM")), 10));
    QVERIFY(makeFile(dir.filePath(QStringLiteral("sub dir/a.olm.bak")), 10));
    QSearchPSTFile dlg;
    QVERIFY(runSearch(dlg, dir.path()));
    QCOMPARE(m_messages, QStringList{QStringLiteral("\nSearch completed. No OLM file found.")});
    QCOMPARE(resultList(dlg)->topLevelItemCount(), 0);
    QVERIFY(!button(dlg, "ClearListButton")->isEnabled());
    QVERIFY(!button(dlg, "OKButton")->isEnabled());
    QVERIFY(!button(dlg, "SearchButton")->isHidden());
}

void FinderTest::pickAndHandBack()
{
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("one.olm"));
    const QString second = dir.filePath(QStringLiteral("sub dir/two é.olm"));
    QVERIFY(makeFile(first, 1) && makeFile(second, 2));
    QSearchPSTFile dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QSignalSpy picked(&dlg, &QSearchPSTFile::SendPathOfSelectedFile);
    QSignalSpy hidden(&dlg, &QSearchPSTFile::HideFindWindow);
    QVERIFY(runSearch(dlg, dir.path()));
    QCOMPARE(resultList(dlg)->topLevelItemCount(), 2);

    // Escape is swallowed: the finder stays open.
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(dlg.isVisible());

    QTreeWidget *list = resultList(dlg);
    const QList<QTreeWidgetItem *> rows = list->findItems(second, Qt::MatchExactly, 0);
    QCOMPARE(rows.size(), 1);
    list->scrollToItem(rows.first());
    const QRect rect = list->visualItemRect(rows.first());
    const int x = list->header()->sectionViewportPosition(2) + 5; // a click on "Created" picks the row too
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(x, rect.center().y()));
    QVERIFY(button(dlg, "OKButton")->isEnabled());

    QTest::mouseClick(button(dlg, "OKButton"), Qt::LeftButton);
    QCOMPARE(picked.count(), 1);
    QCOMPARE(picked.first().first().toString(), second);
    QCOMPARE(strSelectedPath, second);
    QVERIFY(dlg.isHidden());
    QCOMPARE(hidden.count(), 0);
}

void FinderTest::pickByKeysAndHandBack_data()
{
    QTest::addColumn<QList<int>>("keys");  // pressed in the list after tabbing into it
    QTest::addColumn<int>("row");          // the row they choose
    QTest::newRow("down") << QList<int>{Qt::Key_Down} << 1;
    QTest::newRow("down, down, up") << QList<int>{Qt::Key_Down, Qt::Key_Down, Qt::Key_Up} << 1;
    QTest::newRow("end") << QList<int>{Qt::Key_End} << 2;
    QTest::newRow("end, home") << QList<int>{Qt::Key_End, Qt::Key_Home} << 0;
}

// A row chosen with the keyboard alone turns Next on, and Next hands that row's path back.
void FinderTest::pickByKeysAndHandBack()
{
    QFETCH(QList<int>, keys);
    QFETCH(int, row);
    QTemporaryDir dir;
    for (const char *name : {"a.olm", "b.olm", "c.olm"})
        QVERIFY(makeFile(dir.filePath(QLatin1String(name)), 1));
    QSearchPSTFile dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QSignalSpy picked(&dlg, &QSearchPSTFile::SendPathOfSelectedFile);
    QVERIFY(runSearch(dlg, dir.path()));
    QTreeWidget *list = resultList(dlg);
    QCOMPARE(list->topLevelItemCount(), 3);
    list->setFocus(Qt::TabFocusReason);
    QVERIFY(!button(dlg, "OKButton")->isEnabled());
    for (const int key : keys)
        QTest::keyClick(list, Qt::Key(key));
    QTreeWidgetItem *chosen = list->topLevelItem(row);
    QVERIFY(chosen->isSelected());
    QVERIFY(button(dlg, "OKButton")->isEnabled());
    QTest::keyClick(button(dlg, "OKButton"), Qt::Key_Space);
    QCOMPARE(picked.count(), 1);
    QCOMPARE(picked.first().first().toString(), chosen->text(0));
    QVERIFY(dlg.isHidden());
}

// Cancelling the folder chooser of a second search leaves the location and the results listed.
void FinderTest::cancelledChooserChangesNothing()
{
    QTemporaryDir dir;
    QVERIFY(makeFile(dir.filePath(QStringLiteral("one.olm")), 1));
    QSearchPSTFile dlg;
    QVERIFY(runSearch(dlg, dir.path()));
    QTreeWidget *list = resultList(dlg);
    QCOMPARE(list->topLevelItemCount(), 1);
    Q_EMIT list->itemClicked(list->topLevelItem(0), 0);
    QVERIFY(button(dlg, "OKButton")->isEnabled());
    QPSTSearchingThread *before = dlg.searchThread();
    const auto *location = dlg.findChild<QLineEdit *>(QStringLiteral("lineEdit_folderselect"));
    const QString chosen = location->text();
    QVERIFY(!chosen.isEmpty());

    m_chosenFolder.clear(); // the user cancels the folder dialog
    button(dlg, "SearchButton")->click();
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(location->text(), chosen);
    QVERIFY(button(dlg, "OKButton")->isEnabled());
    QCOMPARE(dlg.searchThread(), before);            // no search started
    QVERIFY(button(dlg, "StopButton")->isHidden());
    QVERIFY(m_messages.isEmpty());
}

// However wide its texts grow, the sheet keeps inside the window it belongs to, never narrower
// than its form.
void FinderTest::sheetStaysInsideItsWindow()
{
    QWidget window;
    window.resize(700, 500);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *dlg = new QSearchPSTFile(&window);
    const int formWidth = dlg->width();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg));
    dlg->findChild<QLabel *>(QStringLiteral("label"))->setText(QString(150, QLatin1Char('W')));
    QCoreApplication::processEvents();
    QVERIFY2(dlg->width() <= window.width(), qPrintable(QString::number(dlg->width())));
    QVERIFY(dlg->width() >= formWidth);
    delete dlg;
}

void FinderTest::stopEndsOnlyOurSearch()
{
    // A stranger's process named "find" must survive our stop.
    QTemporaryDir bin;
    const QString sleepProgram = QStandardPaths::findExecutable(QStringLiteral("sleep"));
    QProcess decoy;
    if (!sleepProgram.isEmpty() && QFile::link(sleepProgram, bin.filePath(QStringLiteral("find")))) {
        decoy.start(bin.filePath(QStringLiteral("find")), {QStringLiteral("30")});
        QVERIFY(decoy.waitForStarted());
    }

    QSearchPSTFile dlg;
    m_chosenFolder = m_big.path();
    button(dlg, "SearchButton")->click();
    QPSTSearchingThread *thread = dlg.searchThread();
    QVERIFY(thread);
    QVERIFY(bProcessRunningSearching);
    QVERIFY(!button(dlg, "StopButton")->isHidden() && button(dlg, "SearchButton")->isHidden());
    // Let the walk get going, so the stop has to end it mid-tree (the whole walk takes hundreds of
    // milliseconds).
    QTest::qWait(20);

    button(dlg, "StopButton")->click();
    QVERIFY(stopDlgObj1);
    QVERIFY(stopDlgObj1->isVisible());
    QCOMPARE(stopDlgObj1->title(), QStringLiteral("Abort"));
    QCOMPARE(stopDlgObj1->question(), QStringLiteral("Do you want to abort the current process?"));
    QCOMPARE(stopDlgObj1->detail(),
             QStringLiteral("You can't resume the process from this point. All the changes will be discarded."));
    stopDlgObj1->yesButton()->click();

    QVERIFY(!stopDlgObj1->isVisible());
    QVERIFY(!bProcessRunningSearching);
    QVERIFY(button(dlg, "StopButton")->isHidden() && !button(dlg, "SearchButton")->isHidden());
    QTRY_VERIFY_WITH_TIMEOUT(thread->isFinished(), 5000);
    // The walk over 20,000 folders was cut short, not run to its end.
    QVERIFY2(thread->Results().size() < 100, qPrintable(QString::number(thread->Results().size())));
    QTest::qWait(50); // let the stopped search's finish signal arrive
    QCOMPARE(resultList(dlg)->topLevelItemCount(), 0);
    QVERIFY(m_messages.isEmpty());

    if (!decoy.program().isEmpty()) {
        QCOMPARE(decoy.state(), QProcess::Running);
        decoy.kill();
        decoy.waitForFinished();
    }

    // Stop again and search anew at once: the stopped walk's finish signal, still queued when the
    // new search starts, must not touch the new search.
    m_chosenFolder = m_big.path();
    button(dlg, "SearchButton")->click();
    button(dlg, "StopButton")->click();
    stopDlgObj1->yesButton()->click();
    QVERIFY(runSearch(dlg, m_small.path()));
    QCOMPARE(listedRows(dlg), m_expected);
    QVERIFY(m_messages.isEmpty());
}

void FinderTest::stopThenNoLetsSearchFinish()
{
    QSearchPSTFile dlg;
    m_chosenFolder = m_big.path();
    button(dlg, "SearchButton")->click();
    button(dlg, "StopButton")->click();
    QVERIFY(stopDlgObj1 && stopDlgObj1->isVisible());
    stopDlgObj1->noButton()->click();
    QVERIFY(!stopDlgObj1->isVisible());
    QVERIFY(button(dlg, "SearchButton")->isHidden()); // still searching

    QTRY_VERIFY_WITH_TIMEOUT(button(dlg, "StopButton")->isHidden(), 60000);
    QCOMPARE(resultList(dlg)->topLevelItemCount(), 100);
    QVERIFY(m_messages.isEmpty());
}

void FinderTest::yesAfterSearchEndedKeepsResults()
{
    QSearchPSTFile dlg;
    m_chosenFolder = m_small.path();
    button(dlg, "SearchButton")->click();
    button(dlg, "StopButton")->click();
    QVERIFY(stopDlgObj1 && stopDlgObj1->isVisible());
    // The question does not block: the search finishes while it is open.
    QTRY_VERIFY_WITH_TIMEOUT(button(dlg, "StopButton")->isHidden(), 30000);
    QCOMPARE(listedRows(dlg), m_expected);

    stopDlgObj1->yesButton()->click();
    QVERIFY(!stopDlgObj1->isVisible());
    QCOMPARE(listedRows(dlg), m_expected); // nothing was running, so nothing is discarded
    QVERIFY(button(dlg, "ClearListButton")->isEnabled());
    QVERIFY(m_messages.isEmpty());
}

void FinderTest::closeRefusedWhileSearching_data()
{
    QTest::addColumn<bool>("viaCancelButton");
    QTest::newRow("Cancel button") << true;
    QTest::newRow("window close") << false;
}

void FinderTest::closeRefusedWhileSearching()
{
    QFETCH(bool, viaCancelButton);
    const auto tryClose = [&](QSearchPSTFile &dlg) {
        if (viaCancelButton)
            button(dlg, "CloseButton")->click();
        else
            dlg.close();
    };
    QSearchPSTFile dlg;
    dlg.show();
    QSignalSpy hidden(&dlg, &QSearchPSTFile::HideFindWindow);
    m_chosenFolder = m_big.path();
    button(dlg, "SearchButton")->click();

    tryClose(dlg);
    QCOMPARE(m_messages, QStringList{QStringLiteral("\nFirst stop the currently running process.")});
    QVERIFY(dlg.isVisible());
    QCOMPARE(hidden.count(), 0);

    button(dlg, "StopButton")->click();
    stopDlgObj1->yesButton()->click();
    tryClose(dlg);
    QCOMPARE(hidden.count(), 1);
    QVERIFY(dlg.isHidden());
    QVERIFY(dlg.searchThread()->isFinished()); // the stopped walk does not outlive the finder's use
    QCOMPARE(m_messages.size(), 1);
}

QTEST_MAIN(FinderTest)
#include "tst_finder.moc"
