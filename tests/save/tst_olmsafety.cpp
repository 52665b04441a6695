// The new archive against hostile names, a stop inside one large entry and a disk that fills:
// no name in it leads outside the folder it is extracted into, a confirmed stop ends a large
// copy within a piece, and its counts say what is on disk at the end.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "save/OutputLayout.h"
#include "save/QMailSavingThread.h"
#include "save/olm/OlmArchiveWriter.h"

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

const QString kMessages = QStringLiteral("Local/com.microsoft.__Messages/");

OlmXml::MailItem Mail(int i, const QString &attachmentUrl = QString())
{
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Message %1").arg(i);
    m.sent = QStringLiteral("2016-01-01T00:00:%1").arg(i % 60, 2, 10, QLatin1Char('0'));
    m.body = QStringLiteral("Body of message %1\n").arg(i).repeated(10);
    if (!attachmentUrl.isEmpty()) {
        m.attachmentNames = QStringList{QStringLiteral("file%1.bin").arg(i)};
        m.attachmentUrls = QStringList{attachmentUrl};
    }
    return m;
}

// A message with an attachment under each hostile name, and a store file beside them.
QByteArray HostileArchive()
{
    const QStringList folders{kMessages + QStringLiteral("../../../../x/"),
                              QStringLiteral("Accounts/../../evil/com.microsoft.__Messages/Inbox/"),
                              kMessages + QStringLiteral("Inbox//"),
                              kMessages + QStringLiteral("In\\..\\..\\box/"),
                              kMessages + QStringLiteral("Inbox/./")};
    TestArchiveBuilder b;
    for (int i = 0; i < folders.size(); ++i) {
        const QString url = folders[i] + QStringLiteral("com.microsoft.__Attachments/a%1").arg(i);
        b.addEntry(url, QByteArray(300 + i, char('a' + i)));
        b.addEntry(folders[i] + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({Mail(i, url)}));
    }
    // Named by no message: copied at the end under its own name.
    b.addEntry(QStringLiteral("/etc/cron.d/a"), QByteArray(100, 'z'));
    b.addEntry(kMessages + QStringLiteral("Inbox/com.microsoft.__Attachments/..\\..\\..\\b"), QByteArray(90, 'y'));
    b.addEntry(QStringLiteral("Local/Tasks/../../../t/Tasks.xml"), OlmXml::tasks({{"Task", {}, {}}}));
    return b.finish();
}

// Names in an archive that would lead outside the folder it is extracted into.
const char kUnsafeNames[] = R"PY(
import sys, zipfile
for n in zipfile.ZipFile(sys.argv[1]).namelist():
    parts = n.rstrip('/').split('/')
    if '\\' in n or any(p in ('', '.', '..') for p in parts):
        print(n)
)PY";

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file below dir, relative to it.
QStringList FilesBelow(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

}  // namespace

class OlmSafetyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void hostileNames();
    void stopInsideLargeEntry();
    void fullDisk_data();
    void fullDisk();

private:
    // Scans archive and saves it as a new archive in dest; before runs once the save is set up.
    SaveOutcome save(const QByteArray &archive, const QString &dest, const std::function<void()> &before = {});
    std::unique_ptr<ArchiveFile> m_archive;
};

void OlmSafetyTest::init()
{
    ResetRunFlags();
}

void OlmSafetyTest::cleanup()
{
    m_archive.reset();
    FreeScanState();
}

SaveOutcome OlmSafetyTest::save(const QByteArray &archive, const QString &dest, const std::function<void()> &before)
{
    m_archive.reset(new ArchiveFile(archive));
    scanBytes(archive);
    QMailSavingThread thread;
    if (!StartTestSave(SaveTypeOLM, dest))
        return SaveOutcome();
    if (before)
        before();
    if (!thread.SetInitialSettings(QString(), IndexFor(SaveTypeOLM)) || !thread.wait(120000))
        return SaveOutcome();
    return thread.outcome();
}

void OlmSafetyTest::hostileNames()
{
    if (IndexFor(SaveTypeOLM) < 0)
        QSKIP("this edition has no OLM save");
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("python3 reads the names");
    const QByteArray source = HostileArchive();
    QTemporaryDir dest;
    const SaveOutcome outcome = save(source, dest.path());
    const qint64 mails = MailItemCount;
    QCOMPARE(mails, qint64(5));
    const QString output = WriterOutputFor(SaveTypeOLM, saveDir, strTime);
    QVERIFY(QFileInfo::exists(output));

    QProcess py;
    py.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(kUnsafeNames), output});
    QVERIFY(py.waitForFinished(60000) && py.exitCode() == 0);
    QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()), QString());

    // Every renamed entry is named with its old and its new name; none is counted as lost.
    const QString report = outcome.incompletes.join(QLatin1Char('\n'));
    for (const char *name : {"../../../../x/message_00000.xml", "Accounts/../../evil/", "Inbox//message_00002.xml",
                             "In\\..\\..\\box/message_00003.xml", "/etc/cron.d/a", "..\\..\\..\\b",
                             "Local/Tasks/../../../t/Tasks.xml", "Inbox/./message_00004.xml"})
        QVERIFY2(report.contains(QLatin1String(name)), qPrintable(name + QStringLiteral(" in:\n") + report));
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    QCOMPARE(outcome.incomplete, qint64(outcome.incompletes.size()));

    // Read back: every message and the task are still there, with their attachments' bytes.
    m_archive.reset();
    const QByteArray written = ReadFile(output);
    scanBytes(written);
    QCOMPARE(MailItemCount, mails);
    QCOMPARE(TaskItemCount, qint64(1));
    QCOMPARE(attachmentNodes().size(), 7);

    if (QStandardPaths::findExecutable(QStringLiteral("bsdtar")).isEmpty())
        QSKIP("bsdtar is not installed");
    // Extracted, it writes only inside its folder.
    QTemporaryDir parent;
    QVERIFY(QDir(parent.path()).mkpath(QStringLiteral("a/b/c/inside")));
    const QString inside = parent.filePath(QStringLiteral("a/b/c/inside"));
    QProcess tar;
    tar.setWorkingDirectory(inside);
    tar.start(QStringLiteral("bsdtar"), {QStringLiteral("-xf"), output});
    QVERIFY(tar.waitForFinished(60000));
    QCOMPARE(tar.exitCode(), 0);
    const QStringList all = FilesBelow(parent.path());
    QVERIFY(!all.isEmpty());
    for (const QString &file : all)
        QVERIFY2(file.startsWith(QLatin1String("a/b/c/inside/")), qPrintable(file));
}

void OlmSafetyTest::stopInsideLargeEntry()
{
    // One attachment of 24 pieces' length; the stop is confirmed while its third piece is copied.
    const qint64 piece = OlmOutputFile::kBufferSize;
    QByteArray data(int(24 * piece), Qt::Uninitialized);
    QRandomGenerator random(5);
    for (char &c : data)
        c = char(random.generate());
    TestArchiveBuilder b;
    const QString url = kMessages + QStringLiteral("Inbox/com.microsoft.__Attachments/big");
    b.addEntry(url, data);
    b.addEntry(kMessages + QStringLiteral("Inbox/message_00000.xml"), OlmXml::emails({Mail(0, url)}));
    const QByteArray source = b.finish();
    ArchiveFile file(source);
    scanBytes(source);
    QCOMPARE(MailItemCount, qint64(1));

    OlmSelection selection;
    selection.mail = true;
    selection.folderIds = QString::number(mails().first()->llFolderId) + QLatin1Char(';');
    QTemporaryDir dest;
    const QString path = dest.filePath(QStringLiteral("RepairedOLMfile.olm"));
    // Without a stop: the copy asks between every two of its pieces.
    int asked = 0;
    int stopAt = -1;
    OlmSaveHooks hooks;
    hooks.stopRequested = [&] { return ++asked == stopAt || (stopAt > 0 && asked > stopAt); };
    {
        OlmArchiveWriter whole(fileDescriptor, hooks);
        QVERIFY2(whole.write(path, selection), qPrintable(whole.error()));
        QVERIFY(!whole.stopped());
        QCOMPARE(whole.itemsWritten(), qint64(1));
    }
    QVERIFY2(asked >= 23, qPrintable(QString::number(asked)));
    // Stopped twenty asks before the end: well inside the copy, which ends at once.
    stopAt = asked - 20;
    asked = 0;
    OlmArchiveWriter writer(fileDescriptor, hooks);
    QVERIFY2(writer.write(path, selection), qPrintable(writer.error()));
    QVERIFY(writer.stopped());
    const QByteArray output = ReadFile(path);
    QVERIFY2(output.size() < 12 * piece, qPrintable(QString::number(output.size())));
    // The message stands, named as saved incomplete; the archive is sound.
    QCOMPARE(writer.itemsWritten(), qint64(1));
    QCOMPARE(writer.incompletes().size(), 1);
    QVERIFY2(writer.incompletes().first().contains(QLatin1String("stopped before it was copied whole")),
             qPrintable(writer.incompletes().first()));
    if (!QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty()) {
        QProcess py;
        py.start(QStringLiteral("python3"),
                 {QStringLiteral("-c"), QStringLiteral("import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).testzip())"),
                  path});
        QVERIFY(py.waitForFinished(60000));
        QCOMPARE(py.readAllStandardOutput().trimmed(), QByteArray("None"));
    }
}

void OlmSafetyTest::fullDisk_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("bytes");  // room for the output; 0: all it needs
    QTest::newRow("room enough") << QStringLiteral("limit") << 0;
    QTest::newRow("file-size limit below the archive") << QStringLiteral("limit") << 48 * 1024;
    QTest::newRow("small tmpfs") << QStringLiteral("tmpfs") << 64 * 1024;
}

void OlmSafetyTest::fullDisk()
{
    QFETCH(QString, how);
    QFETCH(int, bytes);
    if (IndexFor(SaveTypeOLM) < 0)
        QSKIP("this edition has no OLM save");
    // Forty messages with an attachment each: about twice the room the small rows give.
    TestArchiveBuilder b;
    for (int i = 0; i < 40; ++i) {
        const QString url = kMessages + QStringLiteral("Inbox/com.microsoft.__Attachments/a%1").arg(i);
        b.addEntry(url, QByteArray(1500, char('a' + i % 26)));
        b.addEntry(kMessages + QStringLiteral("Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({Mail(i, url)}));
    }
    const QByteArray source = b.finish();
    QTemporaryDir dest;
    bool mounted = false;
    if (how == QLatin1String("tmpfs")) {
        mounted = QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                                             QStringLiteral("-o"), QStringLiteral("size=%1").arg(bytes),
                                                             QStringLiteral("tmpfs"), dest.path()})
            == 0;
        if (!mounted)
            QSKIP("no tmpfs can be mounted here");
    }
    struct rlimit oldLimit;
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    // A file-size limit fails writes past it as a full disk does; set once the source is written.
    const SaveOutcome outcome = save(source, dest.path(), [&] {
        if (how != QLatin1String("limit") || bytes == 0)
            return;
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = oldLimit;
        small.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_FSIZE, &small);
    });
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    const QString output = WriterOutputFor(SaveTypeOLM, saveDir, strTime);
    const bool exists = QFileInfo::exists(output);
    if (mounted)
        QProcess::execute(QStringLiteral("umount"), {dest.path()});
    if (bytes == 0) {
        QVERIFY(exists);
        QCOMPARE(outcome.written, qint64(40));
        QCOMPARE(outcome.failed, qint64(0));
        return;
    }
    // No archive is left, so nothing counts as written: each message written before the disk
    // filled is named as not saved, with the archive's reason.
    QVERIFY(!exists);
    QCOMPARE(outcome.written, qint64(0));
    QCOMPARE(outcome.incomplete, qint64(0));
    QVERIFY2(outcome.failed >= 1, qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    QCOMPARE(qint64(outcome.failures.size()), outcome.failed);
    for (const QString &line : outcome.failures)
        QVERIFY2(line.contains(QLatin1String("could not be written")), qPrintable(line));
    QVERIFY2(outcome.failures.filter(QLatin1String("Mail \"Message 0\"")).size() == 1,
             qPrintable(outcome.failures.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(OlmSafetyTest)
#include "tst_olmsafety.moc"
