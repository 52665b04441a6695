// The saving thread as the window and the writers rely on it: which writer gets which folder,
// ticks and status texts, stop before and during a save, one save at a time, and the in-process
// copy and removal of an output tree.

#include "platform/HandOver.h"
#include "platform/WorkerGlobals.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "scanner/FolderAttributes.h"
#include "scanner/ScanGlobals.h"
#include "SaveTestUtil.h"
#include "save/SaveFlow.h"
#include "ThreadResults.h"

#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "state:id:kind" per node, blank-separated, in list order.
void BuildFolders(const QString &spec)
{
    FreeFolderAttributes();
    for (const QString &node : spec.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList f = node.split(QLatin1Char(':'));
        AppendFolderAttribute(quint8(f.at(0).toUInt()), f.at(1).toLongLong(), f.at(2).toUInt());
    }
}

// "kind:folder:count" per group: kind mail, contact, event, task or note.
void BuildRecords(const QString &spec)
{
    CleanScanResults();
    for (const QString &group : spec.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList f = group.split(QLatin1Char(':'));
        const qint64 folder = f.at(1).toLongLong();
        for (int i = 0; i < f.at(2).toInt(); ++i) {
            if (f.at(0) == QLatin1String("mail"))
                appendRecord(TmpMlrcPtrStart, TmpMlrcPtrEnd, MailItemCount)->llFolderId = folder;
            else if (f.at(0) == QLatin1String("contact"))
                appendRecord(TmpCTRCPtrStart, TmpCTRCPtrEnd, ContactItemCount)->llFolderId = folder;
            else if (f.at(0) == QLatin1String("event"))
                appendRecord(TmpCLRCPtrStart, TmpCLRCPtrEnd, CalendarItemCount)->llFolderId = folder;
            else if (f.at(0) == QLatin1String("task"))
                appendRecord(TmpTSRCPtrStart, TmpTSRCPtrEnd, TaskItemCount)->llFolderId = folder;
            else
                appendRecord(TmpNTRCPtrStart, TmpNTRCPtrEnd, NotesItemCount)->llFolderId = folder;
        }
    }
}

QString Marks()
{
    QString marks;
    const struct {
        bool set;
        const char *name;
    } flags[] = {{cont, " cont"}, {cal, " cal"}, {task, " task"}, {note, " note"}, {mail, " mail"}};
    for (const auto &f : flags)
        marks += f.set ? QLatin1String(f.name) : QLatin1String();
    return marks;
}

// Records each writer call as "writer(id)"; the package/Apple writers add their target.
class RecordingThread : public QMailSavingThread {
public:
    QStringList calls;   // written by the saving thread; read once its run is taken

protected:
    void OnContactSaving(unsigned long long id) override { target("contacts", id); }
    void OnCalenderSaving(unsigned long long id) override { target("calendar", id); }
    void OnTaskSaving(unsigned long long id) override { target("tasks", id); }
    void OnNotesSaving(unsigned long long id) override { target("notes", id); }
    void OnMailSaving(unsigned long long id) override { target("rge", id); }
    void SaveAsMBOX(unsigned long long id) override { target("mbox", id); }
    void SaveAsEMLX(unsigned long long id) override { plain("emlx", id); }
    void SaveAsEML(unsigned long long id) override { plain("eml", id); }
    void SaveAsHTML(unsigned long long id) override { plain("html", id); }
    void OLMSaving(QString ids) override { calls << QStringLiteral("olm(%1)").arg(ids) + Marks(); }

private:
    void plain(const char *writer, unsigned long long id)
    {
        calls << QStringLiteral("%1(%2)").arg(QLatin1String(writer)).arg(id);
    }
    void target(const char *writer, unsigned long long id)
    {
        plain(writer, id);
        calls.last() += appmaildata ? QLatin1String(" apple") : QLatin1String(" package");
    }
};

// The real writers, with each call of the EML writer noted first.
class NotingThread : public QMailSavingThread {
public:
    QList<unsigned long long> emlCalls;
    using QMailSavingThread::run;

protected:
    void SaveAsEML(unsigned long long id) override
    {
        emlCalls << id;
        QMailSavingThread::SaveAsEML(id);
    }
};

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QByteArray LinkText(const QString &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return n < 0 ? QByteArray("<not a link>") : QByteArray(buffer, int(n));
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The run's results, taken as the window takes them: its queued signals delivered here, then
// its hand-over (the mark the next start takes).
bool finished(QMailSavingThread &thread)
{
    if (!EndRun(thread))
        return false;
    MarkTaken(&thread);
    return true;
}

} // namespace

class SavingThreadTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void dispatch_data();
    void dispatch();
    void flagsBelongToTheirSave();
    void ticksPerItem_data();
    void ticksPerItem();
    void endTexts_data();
    void endTexts();
    void stopBeforeStart();
    void stops_data();
    void stops();
    void refusesSecondStart();
    void copyTree();
    void copyRefusesItsOwnInside();
    void removeTree();
    void emptyPathsDoNothing_data();
    void emptyPathsDoNothing();

private:
    QScopedPointer<QTemporaryDir> m_out;
};

void SavingThreadTest::init()
{
    bStopFlag = false;
    stopflag = false;
    bProcessRunning = false;
    SizeOfAllMails = 0;
    // The message writers write their files: into a folder of the test's own.
    m_out.reset(new QTemporaryDir);
    saveDir = m_out->path();
}

void SavingThreadTest::cleanup()
{
    FreeFolderAttributes();
    CleanScanResults();
}

void SavingThreadTest::dispatch_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("folders");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("starts");
    const QString kinds = QStringLiteral("1:501:0 1:502:41 1:503:42 1:504:43 1:505:44 1:4294967294:0");
    QTest::newRow("OLM: mail folders and Folder1") << int(SaveTypeOLM)
        << "2:501:0 1:502:0 3:503:0 1:4294967294:0" << QStringList{"olm(502;4294967294;) mail"} << 1;
    QTest::newRow("OLM: only a contacts folder") << int(SaveTypeOLM) << "2:501:0 3:502:0 1:503:41"
                                                 << QStringList{"olm() cont"} << 1;
    QTest::newRow("OLM: every kind") << int(SaveTypeOLM) << kinds
                                     << QStringList{"olm(501;4294967294;) cont cal task note mail"} << 1;
    QTest::newRow("OLM: nothing checked") << int(SaveTypeOLM) << "3:501:0 3:502:41" << QStringList{"olm()"} << 1;
    QTest::newRow("OLM: no folder list") << int(SaveTypeOLM) << "" << QStringList{"olm()"} << 0;
    QTest::newRow("package: every kind") << int(SaveTypeRGE) << kinds
        << QStringList{"rge(501) package", "contacts(502) package", "calendar(503) package", "tasks(504) package",
                       "notes(505) package", "rge(4294967294) package"} << 1;
    QTest::newRow("Apple Mail: every kind") << int(SaveTypeMBOX) << kinds
        << QStringList{"mbox(501) apple", "contacts(502) apple", "calendar(503) apple", "tasks(504) apple",
                       "notes(505) apple", "mbox(4294967294) apple"} << 1;
    QTest::newRow("package: the kinds' Folder1 carry the dummy id") << int(SaveTypeRGE)
        << "2:501:0 1:4294967290:41 1:4294967291:42 1:4294967292:43 1:4294967293:44"
        << QStringList{"contacts(4294967294) package", "calendar(4294967294) package",
                       "tasks(4294967294) package", "notes(4294967294) package"} << 1;
    QTest::newRow("partly checked parent, one checked subfolder") << int(SaveTypeMBOX)
        << "2:501:0 2:502:0 1:503:0 3:504:0" << QStringList{"mbox(503) apple"} << 1;
    QTest::newRow("emlx: a contacts folder goes to the message writer") << int(SaveTypeEMLX)
        << "2:501:0 1:503:41" << QStringList{"emlx(503)"} << 1;
    // The contacts "Folder1" must not write the messages of the mail "Folder1" again.
    QTest::newRow("emlx: the kinds' Folder1 keep their own ids") << int(SaveTypeEMLX)
        << "2:501:0 1:4294967294:0 1:4294967290:41" << QStringList{"emlx(4294967294)", "emlx(4294967290)"} << 1;
    QTest::newRow("eml: every kind") << int(SaveTypeEML) << "1:501:0 1:502:41 1:503:0"
                                     << QStringList{"eml(501)", "eml(502)", "eml(503)"} << 1;
    QTest::newRow("html: every kind") << int(SaveTypeHTML) << "1:501:0 1:502:44"
                                      << QStringList{"html(501)", "html(502)"} << 1;
    QTest::newRow("eml: no folder list") << int(SaveTypeEML) << "" << QStringList{} << 0;
}

void SavingThreadTest::dispatch()
{
    QFETCH(int, type);
    QFETCH(QString, folders);
    QFETCH(QStringList, calls);
    QFETCH(int, starts);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    BuildFolders(folders);
    SizeOfAllMails = 7;
    appmaildata = type != SaveTypeMBOX;   // the writers must see the value of their own save
    RecordingThread thread;
    QueuedSpy initial(&thread, &QMailSavingThread::OnInitialSettingsMainWindow);
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    bool flagsAtFinish = true;
    connect(&thread, &QMailSavingThread::OnFinishScanning, &thread,
            [&] { flagsAtFinish = bProcessRunning || bStopFlag; }, Qt::DirectConnection);
    QVERIFY(thread.SetInitialSettings(QStringLiteral("/a.olm"), IndexFor(SaveType(type))));
    QVERIFY(finished(thread));
    QCOMPARE(thread.calls, calls);
    QCOMPARE(initial.count(), starts);
    if (starts)
        QCOMPARE(initial.first().first().toUInt(), 7u);
    QCOMPARE(finish.count(), 1);
    QVERIFY(!flagsAtFinish);   // the window sees the run ended when the finish arrives
    QVERIFY(!thread.outcome().stopped);
}

void SavingThreadTest::flagsBelongToTheirSave()
{
    if (IndexFor(SaveTypeOLM) < 0 || IndexFor(SaveTypeRGE) < 0)
        QSKIP("the converter edition has neither the OLM nor the package save");
    RecordingThread thread;
    BuildFolders(QStringLiteral("2:501:0 1:502:41 3:503:0"));
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveTypeOLM)));
    QVERIFY(finished(thread));
    BuildFolders(QStringLiteral("2:501:0 3:502:41 1:503:0"));
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveTypeOLM)));
    QVERIFY(finished(thread));
    BuildFolders(QStringLiteral("2:501:0 1:502:41"));
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveTypeMBOX)));
    QVERIFY(finished(thread));
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveTypeRGE)));
    QVERIFY(finished(thread));
    QCOMPARE(thread.calls, (QStringList{"olm() cont", "olm(503;) mail", "contacts(502) apple",
                                        "contacts(502) package"}));
}

void SavingThreadTest::ticksPerItem_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("folders");
    QTest::addColumn<QString>("records");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QStringList>("texts");
    // Writers that do not write yet name what they were given: it is never reported as saved.
    QTest::addColumn<QStringList>("notWritten");
    // Items counted not saved: records without text, which give no valid file (an empty note is
    // saved as the empty note it is).
    QTest::addColumn<int>("notSaved");
    const QString pim = QStringLiteral("contact:502:2 event:503:3 task:504:4 note:505:5 contact:509:7");
    QTest::newRow("package: contacts, calendar, tasks, notes")
        << int(SaveTypeRGE) << "2:501:0 1:502:41 1:503:42 1:504:43 1:505:44 3:509:41" << pim << 14
        << QStringList{"Saving Contacts Folders...", "Saving Calender Folders...", "Saving Tasks Folders...",
                       "Saving Notes Folders..."}
        << QStringList{} << 2 + 3 + 4;
    QTest::newRow("Apple Mail: a kind's Folder1") << int(SaveTypeMBOX) << "2:501:0 1:4294967290:41"
        << "contact:4294967294:3 contact:502:2" << 3 << QStringList{"Saving Contacts Folders..."}
        << QStringList{} << 3;
    QTest::newRow("eml: the checked folders' messages") << int(SaveTypeEML) << "2:501:0 1:502:0 3:503:0 1:504:41"
        << "mail:502:3 mail:503:2 contact:504:4 mail:501:1" << 3 << QStringList{"Saving Mail Folders..."}
        << QStringList{} << 3;
    QTest::newRow("emlx: Folder1") << int(SaveTypeEMLX) << "2:501:0 1:4294967294:0"
                                   << "mail:4294967294:2 mail:502:5" << 2 << QStringList{"Saving Mail Folders..."}
                                   << QStringList{} << 2;
    QTest::newRow("html: root and subfolder") << int(SaveTypeHTML) << "1:501:0 1:502:0"
                                              << "mail:501:1 mail:502:2" << 3 << QStringList{"Saving Mail Folders..."}
                                              << QStringList{} << 3;
    // The archive writer reports the entries it writes: records that have no entry in the
    // (empty) archive give none, its categories one. Its counts over real archives are checked
    // in tst_olmarchive.
    QTest::newRow("OLM: listed folders and the selected kinds") << int(SaveTypeOLM)
        << "2:501:0 1:502:0 3:503:0 1:504:41 3:505:44" << "mail:502:3 mail:503:2 contact:504:4 note:505:6" << 1
        << QStringList{"Saving Mail Folders..."} << QStringList{} << 0;
    // A checked folder with nothing in it gives nothing to write.
    QTest::newRow("package: empty contacts folder") << int(SaveTypeRGE) << "2:501:0 1:502:41"
        << "contact:503:2" << 0 << QStringList{} << QStringList{} << 0;
}

void SavingThreadTest::ticksPerItem()
{
    QFETCH(int, type);
    QFETCH(QString, folders);
    QFETCH(QString, records);
    QFETCH(int, ticks);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, notWritten);
    QFETCH(int, notSaved);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    BuildFolders(folders);
    BuildRecords(records);
    // The contact, calendar, task and note writers write into the output folders the save start
    // makes.
    QTemporaryDir dest;
    saveDir = dest.path();
    strTime = QStringLiteral("(5 Mar 2024,10-11-12)");
    if (type == SaveTypeRGE || type == SaveTypeMBOX)
        QVERIFY(CreateMailFolder(SaveType(type), saveDir, &strTime, nullptr));
    const QByteArray emptyArchive = dest.filePath(QStringLiteral("empty.olm")).toLocal8Bit();
    const int archiveFd = ::open(emptyArchive.constData(), O_RDWR | O_CREAT, 0600);
    const int oldFd = fileDescriptor;
    fileDescriptor = archiveFd;
    auto restore = qScopeGuard([&] {
        fileDescriptor = oldFd;
        ::close(archiveFd);
    });
    QMailSavingThread thread;
    QueuedSpy tickSpy(&thread, &QMailSavingThread::OnProgressvalueMainWindow);
    QueuedSpy textSpy(&thread, &QMailSavingThread::strInfo);
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QVERIFY(finished(thread));
    QCOMPARE(tickSpy.count(), ticks);
    QStringList shown;
    for (const QList<QVariant> &args : qAsConst(textSpy))
        shown << args.first().toString();
    QCOMPARE(shown, texts);   // each text once, when it changes
    QCOMPARE(thread.outcome().items, qint64(ticks));
    // Records with no text in the archive give no valid file or nothing to save (messages,
    // events, tasks, contacts): counted as failed, never written as empty files.
    QCOMPARE(thread.outcome().failed, qint64(notSaved));
    // One step per item handled: each one written or counted not saved.
    QCOMPARE(thread.outcome().written + thread.outcome().failed, qint64(ticks));
    QCOMPARE(thread.outcome().notWritten, notWritten);
    QCOMPARE(SaveProblemText(thread.outcome()).isEmpty(), notWritten.isEmpty() && notSaved == 0);
    QCOMPARE(finish.count(), 1);
}

void SavingThreadTest::endTexts_data()
{
    QTest::addColumn<int>("failed");
    QTest::addColumn<QStringList>("notWritten");
    QTest::addColumn<QString>("text");
    QTest::newRow("all written") << 0 << QStringList{} << "";
    QTest::newRow("failures") << 3 << QStringList{} << "\n3 item(s) could not be saved. Files Saved Partially.";
    QTest::newRow("kinds not written") << 0 << QStringList{"contacts", "notes"}
                                       << "\nThis version cannot save: contacts, notes.";
    QTest::newRow("both") << 1 << QStringList{"EML files"}
                          << "\n1 item(s) could not be saved. Files Saved Partially."
                             "\nThis version cannot save: EML files.";
}

void SavingThreadTest::endTexts()
{
    QFETCH(int, failed);
    QFETCH(QStringList, notWritten);
    QFETCH(QString, text);
    SaveOutcome outcome;
    outcome.failed = failed;
    outcome.notWritten = notWritten;
    QCOMPARE(SaveProblemText(outcome), text);
}

void SavingThreadTest::stopBeforeStart()
{
    BuildFolders(QStringLiteral("1:501:0 1:502:0"));
    BuildRecords(QStringLiteral("mail:501:4 mail:502:4"));
    NotingThread thread;
    QueuedSpy initial(&thread, &QMailSavingThread::OnInitialSettingsMainWindow);
    QueuedSpy ticks(&thread, &QMailSavingThread::OnProgressvalueMainWindow);
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    // The confirmed stop arrives between the start request and the thread's first step.
    bStopFlag = true;
    stopflag = true;
    thread.run();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(initial.count(), 0);
    QCOMPARE(ticks.count(), 0);
    QVERIFY(thread.emlCalls.isEmpty());
    QCOMPARE(finish.count(), 0);
    QVERIFY(thread.outcome().stopped);
    QVERIFY(!bStopFlag);
    QVERIFY(!bProcessRunning);
}

void SavingThreadTest::stops_data()
{
    QTest::addColumn<bool>("setStopflag");
    QTest::addColumn<bool>("setStopFlag");
    QTest::newRow("stop confirmed") << true << true;
    // The window cleared stopflag behind the abort message before the thread looked again.
    QTest::newRow("abort message closed early") << false << true;
    QTest::newRow("stopflag alone") << true << false;
}

void SavingThreadTest::stops()
{
    QFETCH(bool, setStopflag);
    QFETCH(bool, setStopFlag);
    if (IndexFor(SaveTypeEML) < 0)
        QSKIP("no .eml save in this edition");
    // Five checked folders of 200 messages; the stop comes in the second.
    BuildFolders(QStringLiteral("2:501:0 1:502:0 1:503:0 1:504:0 1:505:0 1:506:0"));
    BuildRecords(QStringLiteral("mail:502:200 mail:503:200 mail:504:200 mail:505:200 mail:506:200"));
    NotingThread thread;
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    int ticks = 0;
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        if (++ticks == 250) {
            stopflag = setStopflag;
            bStopFlag = setStopFlag;
        }
    }, Qt::DirectConnection);
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveTypeEML)));
    QVERIFY(finished(thread));
    QCOMPARE(ticks, 250);   // not one item after the stop
    // The remaining folders' writers are still called, and write nothing.
    QCOMPARE(thread.emlCalls, (QList<unsigned long long>{502, 503, 504, 505, 506}));
    QCOMPARE(finish.count(), 0);
    QVERIFY(thread.outcome().stopped);
    QCOMPARE(thread.outcome().items, qint64(250));
    QVERIFY(!bProcessRunning);
    QVERIFY(!bStopFlag);   // the next save may start
}

void SavingThreadTest::refusesSecondStart()
{
    if (IndexFor(SaveTypeEMLX) < 0 || IndexFor(SaveTypeMBOX) < 0)
        QSKIP("needs the .emlx and Apple Mail saves");
    BuildFolders(QStringLiteral("1:501:0"));
    BuildRecords(QStringLiteral("mail:501:3"));
    QMailSavingThread thread;
    QSemaphore inside;
    QSemaphore release;
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    QueuedSpy ticks(&thread, &QMailSavingThread::OnProgressvalueMainWindow);
    bool first = true;   // touched by the saving thread only
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        if (first) {
            first = false;
            inside.release();
            release.acquire();
        }
    }, Qt::DirectConnection);
    QVERIFY(!thread.SetInitialSettings(QStringLiteral("/a.olm"), -1));
    QVERIFY(!thread.SetInitialSettings(QStringLiteral("/a.olm"), 6));
    QVERIFY(!thread.isRunning());
    bStopFlag = true;   // a stop left from an earlier run does not hold the new one
    QVERIFY(thread.SetInitialSettings(QStringLiteral("/first.olm"), IndexFor(SaveTypeEMLX)));
    QVERIFY(inside.tryAcquire(1, 30000));
    QVERIFY(!thread.SetInitialSettings(QStringLiteral("/second.olm"), IndexFor(SaveTypeMBOX)));
    QCOMPARE(thread.saveType(), SaveTypeEMLX);
    QCOMPARE(thread.databasePath(), QStringLiteral("/first.olm"));
    QVERIFY(!bStopFlag);   // the refused start does not stop the running save
    release.release();
    QVERIFY(finished(thread));
    QCOMPARE(ticks.count(), 3);
    QCOMPARE(finish.count(), 1);
}

void SavingThreadTest::copyTree()
{
    QTemporaryDir tmp;
    const QString src = tmp.filePath(QStringLiteral("Container"));
    const QString outside = tmp.filePath(QStringLiteral("outside"));
    QVERIFY(QDir().mkpath(src + QStringLiteral("/sub/deeper")) && QDir().mkpath(outside));
    QVERIFY(WriteFile(src + QStringLiteral("/a.mbox"), "first\n"));
    QVERIFY(WriteFile(src + QStringLiteral("/.hidden"), "dot"));
    QVERIFY(WriteFile(src + QStringLiteral("/sub/deeper/b.mbox"), QByteArray(3 << 20, 'x')));
    QVERIFY(WriteFile(src + QStringLiteral("/ro.txt"), "read only"));
    QVERIFY(QFile::setPermissions(src + QStringLiteral("/ro.txt"), QFile::ReadOwner | QFile::ReadGroup));
    QVERIFY(WriteFile(outside + QStringLiteral("/keep.txt"), "keep"));
    QCOMPARE(::symlink("..", QFile::encodeName(src + QStringLiteral("/sub/loop")).constData()), 0);
    QCOMPARE(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(src + QStringLiteral("/out")).constData()), 0);
    QCOMPARE(::symlink("nowhere", QFile::encodeName(src + QStringLiteral("/dangling")).constData()), 0);
    QVERIFY(QFile::setPermissions(src + QStringLiteral("/sub"), QFile::ReadOwner | QFile::ExeOwner));
    const QString dest = tmp.filePath(QStringLiteral("dest"));
    QVERIFY(QDir().mkdir(dest));

    QMailSavingThread thread;
    QVERIFY(thread.copyDir(src, dest));
    const QString copy = dest + QStringLiteral("/Container");
    QCOMPARE(ReadAll(copy + QStringLiteral("/a.mbox")), QByteArray("first\n"));
    QCOMPARE(ReadAll(copy + QStringLiteral("/.hidden")), QByteArray("dot"));
    QCOMPARE(ReadAll(copy + QStringLiteral("/sub/deeper/b.mbox")), QByteArray(3 << 20, 'x'));
    QCOMPARE(ReadAll(copy + QStringLiteral("/ro.txt")), QByteArray("read only"));
    QVERIFY(!(QFileInfo(copy + QStringLiteral("/ro.txt")).permissions() & QFile::WriteOwner));
    QVERIFY(!(QFileInfo(copy + QStringLiteral("/sub")).permissions() & QFile::WriteOwner));
    // Links stay links, with their own text; the loop is not walked.
    QCOMPARE(LinkText(copy + QStringLiteral("/sub/loop")), QByteArray(".."));
    QCOMPARE(LinkText(copy + QStringLiteral("/out")), QFile::encodeName(outside));
    QCOMPARE(LinkText(copy + QStringLiteral("/dangling")), QByteArray("nowhere"));
    QVERIFY(!QFileInfo::exists(copy + QStringLiteral("/sub/loop/Container")));

    // To a name that does not exist yet: the copy takes that name.
    QVERIFY(thread.copyDir(src + QStringLiteral("/a.mbox"), dest + QStringLiteral("/renamed.mbox")));
    QCOMPARE(ReadAll(dest + QStringLiteral("/renamed.mbox")), QByteArray("first\n"));
    QVERIFY(!thread.copyDir(tmp.filePath(QStringLiteral("missing")), dest));
    for (const QString &dir : {src + QStringLiteral("/sub"), copy + QStringLiteral("/sub")})
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void SavingThreadTest::copyRefusesItsOwnInside()
{
    QTemporaryDir tmp;
    const QString src = tmp.filePath(QStringLiteral("tree"));
    QVERIFY(QDir().mkpath(src + QStringLiteral("/inner")));
    QVERIFY(WriteFile(src + QStringLiteral("/f"), "f"));
    QMailSavingThread thread;
    QVERIFY(!thread.copyDir(src, src + QStringLiteral("/inner")));
    QVERIFY(!thread.copyDir(src, src));
    QVERIFY(!QFileInfo::exists(src + QStringLiteral("/inner/tree")));
    QVERIFY(!QFileInfo::exists(src + QStringLiteral("/tree")));
}

void SavingThreadTest::removeTree()
{
    QTemporaryDir tmp;
    const QString tree = tmp.filePath(QStringLiteral("Container"));
    const QString outside = tmp.filePath(QStringLiteral("outside"));
    QVERIFY(QDir().mkpath(tree + QStringLiteral("/locked/inner")) && QDir().mkpath(outside));
    QVERIFY(WriteFile(tree + QStringLiteral("/locked/inner/x"), "x"));
    QVERIFY(WriteFile(tree + QStringLiteral("/ro.txt"), "ro"));
    QVERIFY(QFile::setPermissions(tree + QStringLiteral("/ro.txt"), QFile::ReadOwner));
    QVERIFY(WriteFile(outside + QStringLiteral("/keep.txt"), "keep"));
    QCOMPARE(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(tree + QStringLiteral("/out")).constData()), 0);
    QCOMPARE(::symlink("..", QFile::encodeName(tree + QStringLiteral("/locked/loop")).constData()), 0);
    QVERIFY(QFile::setPermissions(tree + QStringLiteral("/locked"), QFile::ReadOwner | QFile::ExeOwner));
    QMailSavingThread thread;
    QVERIFY(thread.RemoveDir(tree));
    QVERIFY(!QFileInfo::exists(tree));
    // What a link pointed at stays.
    QCOMPARE(ReadAll(outside + QStringLiteral("/keep.txt")), QByteArray("keep"));
    // A link given as the path goes, its target stays.
    const QString link = tmp.filePath(QStringLiteral("link"));
    QCOMPARE(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(link).constData()), 0);
    QVERIFY(thread.RemoveDir(link));
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(QFileInfo::exists(outside + QStringLiteral("/keep.txt")));
    QVERIFY(thread.RemoveDir(tmp.filePath(QStringLiteral("never there"))));
}

void SavingThreadTest::emptyPathsDoNothing_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("copy from an empty path") << "copy from";
    QTest::newRow("copy to an empty path") << "copy to";
    QTest::newRow("remove an empty path") << "remove";
}

void SavingThreadTest::emptyPathsDoNothing()
{
    QFETCH(QString, operation);
    // An empty path must never stand for the current folder.
    QTemporaryDir tmp;
    QVERIFY(WriteFile(tmp.filePath(QStringLiteral("here.txt")), "here"));
    QVERIFY(QDir().mkdir(tmp.filePath(QStringLiteral("dest"))));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp.path()));
    QMailSavingThread thread;
    bool result = true;
    if (operation == QLatin1String("copy from"))
        result = thread.copyDir(QString(), QStringLiteral("dest"));
    else if (operation == QLatin1String("copy to"))
        result = thread.copyDir(QStringLiteral("here.txt"), QString());
    else
        result = thread.RemoveDir(QString());
    QDir::setCurrent(before);
    QVERIFY(!result);
    QCOMPARE(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"dest", "here.txt"}));
    QVERIFY(QDir(tmp.filePath(QStringLiteral("dest"))).isEmpty());
}

QTEST_GUILESS_MAIN(SavingThreadTest)
#include "tst_savingthread.moc"
