// The message writer's frame: folder paths from entry names, mailbox outputs that roll back,
// and folder saves of a built archive with a stop, with failing outputs, with a missing
// attachment, and read back by Python's mailbox module.

#include "platform/FinderInfo.h"
#include "save/AttachmentIndex.h"
#include "save/mail/MailWriter.h"

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>
#include <functional>

namespace {

const char kInbox[] = "Local/com.microsoft.__Messages/Inbox/message_00000.xml";
const char kStamp[] = "(6 Dec 2026,14-26-23)";

OlmXml::MailItem mail(int n)
{
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Message %1").arg(n);
    m.body = QStringLiteral("Body %1").arg(n);
    m.received = QStringLiteral("2026-12-06T13:26:23Z");
    m.from = {{QStringLiteral("sender@example.org"), QStringLiteral("Sender")}};
    m.to = {{QStringLiteral("to%1@example.org").arg(n), QString()}};
    m.messageId = QStringLiteral("m%1@example.org").arg(n);
    return m;
}

// Three messages in the Inbox, one in Sent Items.
QByteArray folderArchive()
{
    TestArchiveBuilder b;
    for (int n = 0; n < 3; ++n)
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(n, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({mail(n)}));
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Sent Items/message_00000.xml"), OlmXml::emails({mail(9)}));
    return b.finish();
}

quint64 folderOf(const QString &entryPart)
{
    for (MailMLRC *m : mails()) {
        if (ReadEntryName(m->llNameOffset, m->nNameLength).contains(entryPart))
            return quint64(m->llFolderId);
    }
    return 0;
}

QString mailFolder(const QString &saveDir, const QString &relative)
{
    return saveDir + "/Converted Data" + kStamp + "/Mail/" + relative;
}

} // namespace

class MailFrameTest : public QObject {
    Q_OBJECT
public:
    // Every folder save runs with this many formatting threads.
    explicit MailFrameTest(int threads) : m_threads(threads) {}

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void relativePath_data();
    void relativePath();
    void discardLeavesTheMailboxAsItWas_data();
    void discardLeavesTheMailboxAsItWas();
    void folderSaveStopsAfterSecondMessage();
    void folderSaveCountsFailures_data();
    void folderSaveCountsFailures();
    void missingAttachmentIsNamed();
    void damagedBytesAreNamed_data();
    void damagedBytesAreNamed();
    void mailboxReadsBackInPython();

private:
    QByteArray m_oldTz;
    int m_threads;
};

void MailFrameTest::initTestCase()
{
    qInfo("folder saves with %d thread(s)", m_threads);
    m_oldTz = qgetenv("TZ");
    qputenv("TZ", "CET-1");
    tzset();
}

void MailFrameTest::cleanupTestCase()
{
    qputenv("TZ", m_oldTz);
    tzset();
    CleanScanResults();
}

void MailFrameTest::relativePath_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("expected");
    QTest::newRow("local, one folder level") << "Local/com.microsoft.__Messages/Inbox/message_00000.xml" << "Inbox";
    QTest::newRow("local, two folder levels") << "Local/S/Inbox/Projects/m.xml" << "Inbox/Projects";
    // Rows run in turn: each must be answered for its own folder, not the one before.
    QTest::newRow("same folder, next message") << "Local/S/Inbox/Projects/n.xml" << "Inbox/Projects";
    QTest::newRow("parent of the folder before") << "Local/S/Inbox/m.xml" << "Inbox";
    QTest::newRow("message named like the folder before") << "Local/S/Inbox/Projects" << "Inbox";
    QTest::newRow("account form") << "Accounts/me@x.org/com.microsoft.__Messages/Inbox/Projects/m.xml"
                                  << "Inbox/Projects";
    QTest::newRow("empty entry name") << "" << "Folder1";
    QTest::newRow("unknown first component") << "Other/S/Inbox/m.xml" << "Folder1";
    QTest::newRow("case matters for the prefix") << "local/S/Inbox/m.xml" << "Folder1";
    QTest::newRow("local without a folder level") << "Local/S/m.xml" << "Folder1";
    QTest::newRow("account with three components") << "Accounts/A/m.xml" << "Folder1";
    QTest::newRow("account without a folder level") << "Accounts/A/S/m.xml" << "Folder1";
    QTest::newRow("bare prefix") << "Local" << "Folder1";
    QTest::newRow("dot-dot folder stays inside") << "Local/S/../../etc/m.xml" << "__/__/etc";
    QTest::newRow("single dot folder") << "Local/S/./Inbox/m.xml" << "_/Inbox";
    QTest::newRow("empty folder component") << "Local/S/Inbox//m.xml" << "Inbox/_";
    QTest::newRow("control characters") << QStringLiteral("Local/S/In\nbox\x01/m.xml") << "In_box_";
    QTest::newRow("long name cut to fit a file name") << "Local/S/" + QString(300, QLatin1Char('x')) + "/m.xml"
                                                      << QString(250, QLatin1Char('x'));
    QTest::newRow("long name cut between characters") << "Local/S/" + QString(130, QChar(0x65E5)) + "/m.xml"
                                                      << QString(83, QChar(0x65E5));
    QTest::newRow("leading slash names the same place") << "/Local/S/Inbox/m.xml" << "Inbox";
    QTest::newRow("leading dot part names the same place") << "./Local/S/Inbox/m.xml" << "Inbox";
    QTest::newRow("C1 controls and a backslash") << QStringLiteral("Local/S/a\u0085\u009b\\b/m.xml") << "a___b";
    QTest::newRow("colon and accents kept") << QStringLiteral("Local/S/Reuters: N\u00e9ws/m.xml")
                                            << QStringLiteral("Reuters: N\u00e9ws");
}

void MailFrameTest::relativePath()
{
    QFETCH(QString, entry);
    QFETCH(QString, expected);
    QCOMPARE(MailFolderRelativePath(entry), expected);
}

void MailFrameTest::discardLeavesTheMailboxAsItWas_data()
{
    QTest::addColumn<QByteArray>("before");     // the file's bytes before the open; null: no file
    QTest::addColumn<QByteArray>("completed");  // messages ended before the failing one
    QTest::newRow("existing mailbox") << QByteArray("earlier message\n") << QByteArray();
    QTest::newRow("new mailbox") << QByteArray() << QByteArray();
    QTest::newRow("new mailbox, one message ended") << QByteArray() << QByteArray("first\n");
    QTest::newRow("existing mailbox, two messages ended") << QByteArray("earlier\n") << QByteArray("one\ntwo\n");
}

void MailFrameTest::discardLeavesTheMailboxAsItWas()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, completed);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("box.mbox"));
    if (!before.isNull()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    MailOutput out;
    QVERIFY(out.openAppend(path));
    QCOMPARE(out.created(), before.isNull());
    for (const QByteArray &message : completed.split('\n')) {
        if (message.isEmpty())
            continue;
        QVERIFY(out.write(message + '\n'));
        QVERIFY(out.endMessage());
    }
    QVERIFY(out.write("half a message"));
    // While it is written its name holds nothing a hard stop could leave cut.
    QVERIFY(out.endMessage());
    QVERIFY(!QFile::exists(path));
    QVERIFY(out.write("half a message"));
    QVERIFY(out.discard());
    // Nothing else is left in its folder.
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    const QByteArray kept = before + completed + "half a message";
    QCOMPARE(left, QStringList{QStringLiteral("box.mbox")});
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), kept);
}

void MailFrameTest::folderSaveStopsAfterSecondMessage()
{
    const QByteArray archive = folderArchive();
    scanBytes(archive);
    ArchiveFile file(archive);
    QVERIFY(file.isOpen());
    QTemporaryDir out;
    const auto byFolder = IndexMessagesByFolder(TmpMlrcPtrStart);
    const AttachmentIndex attachments(tmpAtFOStart);
    int ticks = 0;
    MailSaveContext context;
    context.workerThreads = m_threads;
    context.saveDir = out.path();
    context.strTime = kStamp;
    context.messagesByFolder = &byFolder;
    context.attachments = &attachments;
    context.stopRequested = [&] { return ticks >= 2; };
    context.reportProgress = [&] { ++ticks; };
    // Only the message that creates the mailbox marks it; later ones leave it as it is.
    QStringList marked;
    FinderInfoHooks::record = [&](const QString &path, quint32 type, quint32 creator) {
        marked << QStringLiteral("%1 %2 %3").arg(QFileInfo(path).fileName()).arg(type, 0, 16).arg(creator, 0, 16);
        return true;
    };

    QVERIFY(!SaveMailFolder(folderOf(QStringLiteral("/Inbox/")), AppleMailStyle(), context));
    FinderInfoHooks::record = nullptr;
    QCOMPARE(marked, QStringList{QStringLiteral("Inbox.mbox 4d424f58 4f50494d")});
    QCOMPARE(ticks, 2);
    QCOMPARE(context.written, qint64(2));
    QCOMPARE(context.failed, qint64(0));
    QFile mbox(mailFolder(out.path(), QStringLiteral("Inbox/Inbox.mbox")));
    QVERIFY2(mbox.open(QIODevice::ReadOnly), qPrintable(mbox.fileName()));
    const QByteArray text = mbox.readAll();
    QVERIFY(text.startsWith("From ???@???"));
    QCOMPARE(text.count("\nFrom ???@???"), 1);
    QVERIFY(text.contains("Thread-Topic: Message 0\n"));
    QVERIFY(text.contains("Thread-Topic: Message 1\n"));
    QVERIFY(!text.contains("Message 2"));
    QVERIFY(!QFileInfo::exists(mailFolder(out.path(), QStringLiteral("Sent Items"))));

    // A folder no record carries: nothing is made.
    ticks = 0;
    context.stopRequested = [] { return false; };
    QVERIFY(SaveMailFolder(12345, AppleMailStyle(), context));
    QCOMPARE(ticks, 0);
}

void MailFrameTest::folderSaveCountsFailures_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::newRow("a folder stands where the mailbox goes") << "folder";
    if (QFileInfo::exists(QStringLiteral("/dev/full")))
        QTest::newRow("the disk is full") << "full";
}

void MailFrameTest::folderSaveCountsFailures()
{
    QFETCH(QString, obstacle);
    const QByteArray archive = folderArchive();
    scanBytes(archive);
    ArchiveFile file(archive);
    QTemporaryDir out;
    const QString inboxMbox = mailFolder(out.path(), QStringLiteral("Inbox/Inbox.mbox"));
    QVERIFY(QDir().mkpath(QFileInfo(inboxMbox).path()));
    if (obstacle == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(inboxMbox));
    else
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), inboxMbox));
    int ticks = 0;
    MailSaveContext context;
    context.workerThreads = m_threads;
    context.saveDir = out.path();
    context.strTime = kStamp;
    context.reportProgress = [&] { ++ticks; };

    QVERIFY(SaveMailFolder(folderOf(QStringLiteral("/Inbox/")), AppleMailStyle(), context));
    QCOMPARE(ticks, 3);
    QCOMPARE(context.failed, qint64(3));
    QCOMPARE(context.written, qint64(0));
    QCOMPARE(context.failures.size(), 3);
    QVERIFY2(context.failures.first().contains(QLatin1String("Inbox/message_00000.xml")), qPrintable(context.failures.first()));
    QVERIFY(context.failures.first().contains(QLatin1String("\"Message 0\"")));

    // The next folder is written normally.
    QVERIFY(SaveMailFolder(folderOf(QStringLiteral("/Sent Items/")), AppleMailStyle(), context));
    QCOMPARE(context.written, qint64(1));
    QVERIFY(QFileInfo(mailFolder(out.path(), QStringLiteral("Sent Items/Sent Items.mbox"))).size() > 0);
}

void MailFrameTest::missingAttachmentIsNamed()
{
    OlmXml::MailItem m = mail(0);
    m.attachmentNames = QStringList{QStringLiteral("gone.txt"), QStringLiteral("here.txt")};
    m.attachmentUrls = QStringList{QStringLiteral("Local/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/gone"),
                                   QStringLiteral("Local/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/here")};
    TestArchiveBuilder b;
    b.addEntry(QString::fromLatin1(kInbox), OlmXml::emails({m}));
    b.addEntry(m.attachmentUrls.at(1), QByteArray("present"));
    const QByteArray archive = b.finish();
    scanBytes(archive);
    ArchiveFile file(archive);
    QTemporaryDir out;
    MailSaveContext context;
    context.workerThreads = m_threads;
    context.saveDir = out.path();
    context.strTime = kStamp;
    QVERIFY(SaveMailFolder(folderOf(QStringLiteral("/Inbox/")), AppleMailStyle(), context));
    // The message is kept in its mailbox: written, and named apart as incomplete.
    QCOMPARE(context.written, qint64(1));
    QCOMPARE(context.failed, qint64(0));
    QCOMPARE(context.incomplete, qint64(1));
    QCOMPARE(context.incompletes.size(), 1);
    const QString line = context.incompletes.first();
    QVERIFY2(line.contains(QLatin1String("incomplete")) && line.contains(QLatin1String("\"gone.txt\""))
                 && !line.contains(QLatin1String("here.txt")), qPrintable(line));
    QVERIFY(QFileInfo(mailFolder(out.path(), QStringLiteral("Inbox/Inbox.mbox"))).size() > 0);
}

using ArchiveDamage = std::function<void(QByteArray &, const TestArchiveBuilder &)>;
Q_DECLARE_METATYPE(ArchiveDamage)

void MailFrameTest::damagedBytesAreNamed_data()
{
    // One Inbox message with attachment "here.txt", then a Sent Items message behind it.
    QTest::addColumn<bool>("central");
    QTest::addColumn<ArchiveDamage>("damage");
    QTest::addColumn<QString>("reason");  // in the incomplete line; empty when the message is whole

    const auto attachmentData = [](const TestArchiveBuilder &b) { return b.entries()[1].dataOffset; };
    QTest::newRow("intact") << true << ArchiveDamage([](QByteArray &, const TestArchiveBuilder &) {}) << QString();
    QTest::newRow("flipped attachment byte") << true << ArchiveDamage([=](QByteArray &a, const TestArchiveBuilder &b) {
        a[int(attachmentData(b)) + 3] = char(a[int(attachmentData(b)) + 3] ^ 0x01);
    }) << QStringLiteral("\"here.txt\": damaged: CRC-32");
    QTest::newRow("attachment's local size too large, the directory knows better")
        << true << ArchiveDamage([](QByteArray &a, const TestArchiveBuilder &b) {
               const qint64 h = b.entries()[1].headerOffset;
               const int n = int(b.entries()[1].nameBytes.size());
               for (int k = 0; k < 16; ++k)
                   a[int(h + 30 + n + 4 + k)] = k % 8 == 1 ? char(0x40) : char(0);
           })
        << QString();
    QTest::newRow("flipped byte in the message XML") << true << ArchiveDamage([](QByteArray &a, const TestArchiveBuilder &b) {
        const int at = a.indexOf("Message 0", int(b.entries()[0].dataOffset));
        a[at] = 'm';
    }) << QStringLiteral("its XML in the archive is damaged");
    QTest::newRow("message XML zeroed to its end") << true << ArchiveDamage([](QByteArray &a, const TestArchiveBuilder &b) {
        const qint64 start = b.entries()[0].dataOffset;
        const int from = a.indexOf("<OPFMessageCopySubject", int(start));
        a.replace(from, int(start + b.entries()[0].size - from), QByteArray(int(start + b.entries()[0].size - from), '\0'));
    }) << QStringLiteral("its XML in the archive is damaged");
    // Without the directory, the next local header the walk finds ends the attachment.
    QTest::newRow("attachment size into the next entry, no directory") << false
        << ArchiveDamage([](QByteArray &a, const TestArchiveBuilder &b) {
               const qint64 h = b.entries()[1].headerOffset;
               const int n = int(b.entries()[1].nameBytes.size());
               for (int k = 0; k < 16; ++k)
                   a[int(h + 30 + n + 4 + k)] = k % 8 == 3 ? char(0x40) : char(0);
           })
        << QString();
    QTest::newRow("attachment size past the end of the file") << true
        << ArchiveDamage([](QByteArray &a, const TestArchiveBuilder &b) {
               a.truncate(int(b.entries()[1].dataOffset + 5));
           })
        << QStringLiteral("\"here.txt\": cut short in the archive");
}

void MailFrameTest::damagedBytesAreNamed()
{
    // Damaged bytes are still written: the message counts as written and incomplete, never as not
    // saved, and its line says why.
    QFETCH(bool, central);
    QFETCH(ArchiveDamage, damage);
    QFETCH(QString, reason);
    OlmXml::MailItem m = mail(0);
    m.attachmentNames = QStringList{QStringLiteral("here.txt")};
    m.attachmentUrls = QStringList{QStringLiteral("Local/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/here")};
    TestArchiveBuilder b;
    b.addEntry(QString::fromLatin1(kInbox), OlmXml::emails({m}));
    b.addEntry(m.attachmentUrls.at(0), QByteArray("the attachment's own bytes"));
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Sent Items/message_00000.xml"), OlmXml::emails({mail(9)}));
    QByteArray archive = b.finish(central);
    damage(archive, b);
    scanBytes(archive);
    ArchiveFile file(archive);
    QTemporaryDir out;
    MailSaveContext context;
    context.workerThreads = m_threads;
    context.saveDir = out.path();
    context.strTime = kStamp;
    QVERIFY(SaveMailFolder(folderOf(QStringLiteral("/Inbox/")), AppleMailStyle(), context));
    QCOMPARE(context.written, qint64(1));
    QCOMPARE(context.failed, qint64(0));
    QCOMPARE(context.incomplete, qint64(reason.isEmpty() ? 0 : 1));
    if (!reason.isEmpty())
        QVERIFY2(context.incompletes.first().contains(reason), qPrintable(context.incompletes.first()));
    // The attachment is in the mailbox whatever happened to it.
    QFile box(mailFolder(out.path(), QStringLiteral("Inbox/Inbox.mbox")));
    QVERIFY(box.open(QIODevice::ReadOnly));
    QVERIFY(box.readAll().contains("filename=\"here.txt\""));
}

void MailFrameTest::mailboxReadsBackInPython()
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    const QByteArray archive = folderArchive();
    scanBytes(archive);
    ArchiveFile file(archive);
    QTemporaryDir out;
    MailSaveContext context;
    context.workerThreads = m_threads;
    context.saveDir = out.path();
    context.strTime = kStamp;
    QVERIFY(SaveMailFolder(folderOf(QStringLiteral("/Inbox/")), AppleMailStyle(), context));
    QCOMPARE(context.written, qint64(3));

    const char *script =
        "import mailbox, email.policy, sys\n"
        "box = mailbox.mbox(sys.argv[1], factory=lambda f: email.message_from_binary_file(f, policy=email.policy.default))\n"
        "for m in box:\n"
        "    print('|'.join([str(m['subject']), m['from'].addresses[0].addr_spec, m['to'].addresses[0].addr_spec,\n"
        "                    m['date'].datetime.isoformat(), str(m['message-id'])]))\n";
    QProcess p;
    p.start(python, {QStringLiteral("-c"), QString::fromLatin1(script),
                     mailFolder(out.path(), QStringLiteral("Inbox/Inbox.mbox"))});
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    for (int n = 0; n < 3; ++n)
        QCOMPARE(lines[n], QStringLiteral("Message %1|sender@example.org|to%1@example.org|2026-12-06T14:26:23+01:00|"
                                          "<m%1@example.org>").arg(n).toUtf8());
}

// The whole suite on the saving thread alone, then with messages formatted on eight threads.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int failed = 0;
    for (const int threads : {1, 8}) {
        MailFrameTest test(threads);
        failed += QTest::qExec(&test, argc, argv);
    }
    return failed;
}
#include "tst_mailframe.moc"
