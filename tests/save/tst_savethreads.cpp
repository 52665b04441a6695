// Messages formatted on several threads: the ordered work runner keeps order, its bound and its
// stop; whole saves of every message save type write the same bytes with one thread and with
// eight, failures and damaged messages included.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "platform/WorkerGlobals.h"
#include "save/QMailSavingThread.h"
#include "save/SaveFlow.h"
#include "save/SaveGlobals.h"
#include "save/mail/MailWriter.h"
#include "save/mail/OrderedWork.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <memory>
#include <thread>
#include <sys/resource.h>
#include <time.h>

namespace {

QByteArray SampleBytes()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Three folders of messages with attachments of every size class: small ones formatted ahead,
// one past the in-memory bound (streamed when its turn comes), one missing, one flipped byte,
// and a message whose XML was damaged.
QByteArray MixedArchive(const QByteArray &messageExtra = QByteArray())
{
    TestArchiveBuilder b;
    TestArchiveBuilder::EntryOptions messageOptions;
    messageOptions.extraBefore = messageExtra;
    const QStringList folders{QStringLiteral("Inbox"), QStringLiteral("Sent Items"), QStringLiteral("Inbox/Sub")};
    QString damagedEntry;
    for (int i = 0; i < 60; ++i) {
        const QString folder = QStringLiteral("Local/com.microsoft.__Messages/%1/").arg(folders.at(i % 3));
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Message %1").arg(i);
        m.sent = QStringLiteral("2019-02-03T04:05:%1").arg(i % 60, 2, 10, QLatin1Char('0'));
        m.received = m.sent;
        m.from = {{QStringLiteral("a%1@example.com").arg(i), QString::fromUtf8("Zoë %1").arg(i)}};
        m.to = {{QStringLiteral("b%1@example.com").arg(i), QStringLiteral("B %1").arg(i)}};
        m.messageId = QStringLiteral("&lt;m%1@example.com&gt;").arg(i);
        m.body = QStringLiteral("Body line of message %1\n").arg(i).repeated(1 + i % 7);
        if (i % 4 == 0) {
            const QString url = folder + QStringLiteral("com.microsoft.__Attachments/att_%1").arg(i);
            // Message 8: larger than a message formatted ahead may grow.
            const int size = i == 8 ? (2 << 20) : 1000 + 37 * i;
            b.addEntry(url, QByteArray(size, char('a' + i % 26)));
            m.attachmentNames = QStringList{QStringLiteral("file%1.bin").arg(i)};
            m.attachmentUrls = QStringList{url};
        }
        if (i == 13) {
            m.attachmentNames = QStringList{QStringLiteral("gone.txt")};
            m.attachmentUrls = QStringList{folder + QStringLiteral("com.microsoft.__Attachments/gone")};
        }
        const QString entry = folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0'));
        if (i == 21)
            damagedEntry = entry;
        b.addEntry(entry, OlmXml::emails({m}), messageOptions);
    }
    QByteArray archive = b.finish();
    for (const auto &e : b.entries()) {
        const QString name = QString::fromUtf8(e.nameBytes);
        // A flipped attachment byte (its CRC no longer agrees) and a flipped XML byte.
        if (name.endsWith(QLatin1String("/att_12")))
            archive[int(e.dataOffset) + 5] = char(archive[int(e.dataOffset) + 5] ^ 0x20);
        if (name == damagedEntry) {
            const int at = archive.indexOf("Message 21", int(e.dataOffset));
            archive[at] = 'm';
        }
    }
    return archive;
}

// Every file below root with its bytes, by relative path.
QMap<QString, QByteArray> Tree(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        files.insert(QDir(root).relativeFilePath(path), f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>"));
    }
    return files;
}

struct SaveResult {
    SaveOutcome outcome;
    QMap<QString, QByteArray> tree;
};

} // namespace

class SaveThreadsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void runInOrder_data();
    void runInOrder();
    void runInOrderFreesWhereMade();
    void memoryOutput_data();
    void memoryOutput();
    void sameBytesWithEightThreads_data();
    void sameBytesWithEightThreads();
    void sameBytesWhateverTheExtraFields_data();
    void sameBytesWhateverTheExtraFields();

private:
    // A save of the scanned archive into a new folder.
    SaveResult save(SaveType type, int threads);

    std::unique_ptr<ArchiveFile> m_archive;
};

void SaveThreadsTest::initTestCase()
{
    // Headers carry local times: a zone that is not UTC.
    qputenv("TZ", "America/St_Johns");
    tzset();
}

void SaveThreadsTest::init()
{
    ResetRunFlags();
}

void SaveThreadsTest::cleanup()
{
    FreeScanState();
    m_archive.reset();
}

void SaveThreadsTest::runInOrder_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("chunk");    // items a worker takes at once
    QTest::addColumn<int>("stopAt");   // consume returns false for this item; -1: never
    QTest::newRow("nothing to do") << 0 << 4 << 8 << 4 << -1;
    QTest::newRow("one item, many workers") << 1 << 8 << 32 << 4 << -1;
    QTest::newRow("many items") << 500 << 8 << 32 << 1 << -1;
    QTest::newRow("many items, four at a time") << 500 << 8 << 32 << 4 << -1;
    QTest::newRow("chunks not dividing the count") << 503 << 3 << 30 << 7 << -1;
    QTest::newRow("chunk larger than the window") << 50 << 4 << 3 << 8 << -1;
    QTest::newRow("window of one") << 50 << 4 << 1 << 1 << -1;
    QTest::newRow("more workers than the window") << 100 << 16 << 3 << 1 << -1;
    QTest::newRow("stop at the first") << 100 << 8 << 32 << 4 << 0;
    QTest::newRow("stop part-way") << 300 << 8 << 16 << 1 << 137;
    QTest::newRow("stop inside a chunk") << 300 << 8 << 16 << 4 << 137;
}

void SaveThreadsTest::runInOrder()
{
    QFETCH(int, count);
    QFETCH(int, workers);
    QFETCH(int, window);
    QFETCH(int, chunk);
    QFETCH(int, stopAt);
    std::atomic<int> prepared{0};
    std::atomic<int> highest{-1};
    int consumed = 0;
    int worstLead = 0;
    const bool finished = RunInOrder<QByteArray>(
        count, workers, window, chunk,
        [&](int i) {
            ++prepared;
            int seen = highest.load();
            while (i > seen && !highest.compare_exchange_weak(seen, i)) {
            }
            // Uneven work, so later items often finish first.
            QThread::usleep(unsigned((i * 7919) % 13) * 20);
            return QByteArray::number(i);
        },
        [&](int i, QByteArray &result) {
            if (result != QByteArray::number(i) || i != consumed)
                return false;
            worstLead = qMax(worstLead, highest.load() - i);
            ++consumed;
            return i != stopAt;
        });
    QCOMPARE(finished, stopAt < 0);
    QCOMPARE(consumed, stopAt < 0 ? count : stopAt + 1);
    // Never more items under way than the window allows, and none begun past it after a stop.
    QVERIFY2(worstLead <= qMax(window, 1), qPrintable(QString::number(worstLead)));
    QVERIFY(prepared.load() <= qMin(count, consumed + qMax(window, 1)));
}

namespace {

// Counts the results destroyed on another thread than the one that made them.
struct Made {
    explicit Made(std::atomic<int> *elsewhere) : elsewhere(elsewhere) {}
    ~Made()
    {
        if (std::this_thread::get_id() != maker)
            ++*elsewhere;
    }
    std::atomic<int> *elsewhere;
    std::thread::id maker = std::this_thread::get_id();
};

}  // namespace

void SaveThreadsTest::runInOrderFreesWhereMade()
{
    // Memory freed on the thread that allocated it takes no lock the workers hold: only the
    // last results of a run, consumed after their makers took their last items (at most a
    // window for each), go elsewhere.
    const int count = 2000, workers = 4, window = 32;
    std::atomic<int> elsewhere{0};
    int consumed = 0;
    QVERIFY(RunInOrder<std::unique_ptr<Made>>(
        count, workers, window, 4, [&](int) { return std::make_unique<Made>(&elsewhere); },
        [&](int, std::unique_ptr<Made> &made) { return made && ++consumed > 0; }));
    QCOMPARE(consumed, count);
    QVERIFY2(elsewhere.load() <= workers * window, qPrintable(QString::number(elsewhere.load())));
}

void SaveThreadsTest::memoryOutput_data()
{
    // Pieces written in turn, then an optional rewrite of the start (the .emlx length line).
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint64>("written");   // what bytesWritten counts: a rewrite adds nothing
    QTest::newRow("pieces joined") << QByteArrayList{"ab", "", "cd"} << QByteArray() << qint64(10) << false << QByteArray("abcd") << qint64(4);
    QTest::newRow("exactly the limit") << QByteArrayList{"abcd", "ef"} << QByteArray() << qint64(6) << false << QByteArray("abcdef") << qint64(6);
    QTest::newRow("past the limit: failed, later writes ignored")
        << QByteArrayList{"abcd", "efg", "h"} << QByteArray() << qint64(6) << true << QByteArray("abcd") << qint64(4);
    QTest::newRow("start rewritten in place") << QByteArrayList{"      \n", "body"} << QByteArray("12") << qint64(64) << false
                                              << QByteArray("12    \nbody") << qint64(11);
    QTest::newRow("a rewrite past the end extends it, as in a file")
        << QByteArrayList{"ab"} << QByteArray("xyz") << qint64(64) << false << QByteArray("xyz") << qint64(2);
}

void SaveThreadsTest::memoryOutput()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QByteArray, start);
    QFETCH(qint64, limit);
    QFETCH(bool, failed);
    QFETCH(QByteArray, bytes);
    QFETCH(qint64, written);
    MailOutput out;
    out.openMemory(limit);
    QVERIFY(out.isOpen());
    for (const QByteArray &piece : pieces)
        out.write(piece);
    if (!start.isEmpty())
        QVERIFY(out.rewriteStart(start));
    QCOMPARE(out.failed(), failed);
    QCOMPARE(out.bytesWritten(), written);
    QCOMPARE(out.takeMemory(), bytes);
    QVERIFY(!out.isOpen());
}

void SaveThreadsTest::sameBytesWithEightThreads_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("type");
    QTest::addColumn<qint64>("fileLimit");   // largest file the save may write; 0: no limit
    const QByteArray sample = SampleBytes();
    const QByteArray mixed = MixedArchive();
    for (const SaveType type : {SaveTypeRGE, SaveTypeMBOX, SaveTypeEMLX, SaveTypeEML, SaveTypeHTML}) {
        QTest::newRow(qPrintable(QStringLiteral("sample, type %1").arg(int(type)))) << sample << int(type) << qint64(0);
        QTest::newRow(qPrintable(QStringLiteral("mixed, type %1").arg(int(type)))) << mixed << int(type) << qint64(0);
    }
    // Files that fill up part-way (a full disk): the same messages are cut back and named.
    for (const SaveType type : {SaveTypeRGE, SaveTypeMBOX, SaveTypeEML})
        QTest::newRow(qPrintable(QStringLiteral("mixed, type %1, files end at 20 KB").arg(int(type))))
            << mixed << int(type) << qint64(20000);
}

SaveResult SaveThreadsTest::save(SaveType type, int threads)
{
    SaveResult result;
    QTemporaryDir dest;
    saveDir = dest.path();
    strTime = MakeSaveTimeStamp(QDateTime(QDate(2024, 3, 5), QTime(10, 11, 12)));
    QString error;
    if (!CreateMailFolder(type, saveDir, &strTime, &error)) {
        qWarning() << "save start failed" << error;
        return result;
    }
    QMailSavingThread thread;
    thread.SetSaveThreads(threads);
    if (!thread.SetInitialSettings(QString(), IndexFor(type)) || !thread.wait(120000))
        return result;
    result.outcome = thread.outcome();
    // Failure lines name output paths: the same save elsewhere must compare equal.
    const QString native = QDir::toNativeSeparators(dest.path());
    result.outcome.failures.replaceInStrings(native, QStringLiteral("<dest>"));
    result.outcome.incompletes.replaceInStrings(native, QStringLiteral("<dest>"));
    result.tree = Tree(dest.path());
    // So do the lines of the report.
    for (QByteArray &bytes : result.tree)
        bytes.replace(native.toUtf8(), "<dest>");
    return result;
}

void SaveThreadsTest::sameBytesWithEightThreads()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, type);
    QFETCH(qint64, fileLimit);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QVERIFY(!archive.isEmpty());
    // One scan for both saves: records get random ids that name some files.
    m_archive.reset(new ArchiveFile(archive));
    QVERIFY(m_archive->isOpen());
    scanBytes(archive);
    CheckEveryScannedFolder();
    SizeOfAllMails = unsigned(CountCheckedItems(StartFldrAtrib, CurrentSaveItemLists()));
    struct rlimit old;
    QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
    if (fileLimit > 0) {
        // A write past the limit then fails with EFBIG instead of ending the process.
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit cut = old;
        cut.rlim_cur = rlim_t(fileLimit);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &cut) == 0);
    }
    const SaveResult one = save(SaveType(type), 1);
    const SaveResult eight = save(SaveType(type), 8);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &old) == 0);
    if (fileLimit > 0)
        QVERIFY2(one.outcome.failed > 0 && one.outcome.written > 0, qPrintable(one.outcome.failures.join(QLatin1Char('\n'))));
    QVERIFY(!one.tree.isEmpty());
    QCOMPARE(eight.tree.keys(), one.tree.keys());
    for (auto it = one.tree.constBegin(); it != one.tree.constEnd(); ++it)
        QVERIFY2(eight.tree.value(it.key()) == it.value(), qPrintable(it.key() + QStringLiteral(" differs")));
    QCOMPARE(eight.outcome.written, one.outcome.written);
    QCOMPARE(eight.outcome.failed, one.outcome.failed);
    QCOMPARE(eight.outcome.items, one.outcome.items);
    QCOMPARE(eight.outcome.failures, one.outcome.failures);
    QCOMPARE(eight.outcome.incompletes, one.outcome.incompletes);
    QVERIFY(one.outcome.written > 0);
    // The mixed archive's damaged message, and the missing and the flipped attachment (pages
    // keep theirs beside them). They stand in their files: saved incomplete, not "not saved".
    if (fileLimit == 0 && QTest::currentDataTag() == QStringLiteral("mixed, type %1").arg(type)) {
        QCOMPARE(one.outcome.failed, qint64(0));
        QVERIFY2(one.outcome.incomplete == 3,
                 qPrintable(one.outcome.incompletes.join(QLatin1Char('\n'))));
    }
}

void SaveThreadsTest::sameBytesWhateverTheExtraFields_data()
{
    QTest::addColumn<int>("type");
    for (const SaveType type : {SaveTypeRGE, SaveTypeMBOX, SaveTypeEMLX, SaveTypeHTML})
        QTest::newRow(qPrintable(QStringLiteral("type %1").arg(int(type)))) << int(type);
}

void SaveThreadsTest::sameBytesWhateverTheExtraFields()
{
    // A message's entry name and XML come with one read when a short extra field lies between
    // them, with two past a wide one: both give the same files, counts and named failures.
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QByteArray wide(4 + 6000, 'e');
    wide[0] = '\x99';  // an extra record of an unknown id, 6000 bytes long
    wide[1] = '\x99';
    wide[2] = char(6000 & 0xFF);
    wide[3] = char(6000 >> 8);
    SaveResult results[2];
    const QByteArray archives[2] = {MixedArchive(), MixedArchive(wide)};
    for (int i = 0; i < 2; ++i) {
        FreeScanState();
        ResetRunFlags();
        m_archive.reset();  // its descriptor is the global one: closed before the next opens
        m_archive.reset(new ArchiveFile(archives[i]));
        QVERIFY(m_archive->isOpen());
        scanBytes(archives[i]);
        CheckEveryScannedFolder();
        SizeOfAllMails = unsigned(CountCheckedItems(StartFldrAtrib, CurrentSaveItemLists()));
        results[i] = save(SaveType(type), 8);
    }
    QVERIFY(!results[0].tree.isEmpty());
    QCOMPARE(results[1].tree.keys(), results[0].tree.keys());
    for (auto it = results[0].tree.constBegin(); it != results[0].tree.constEnd(); ++it)
        QVERIFY2(results[1].tree.value(it.key()) == it.value(), qPrintable(it.key() + QStringLiteral(" differs")));
    QCOMPARE(results[1].outcome.written, results[0].outcome.written);
    QCOMPARE(results[1].outcome.failures, results[0].outcome.failures);
    QCOMPARE(results[1].outcome.incompletes, results[0].outcome.incompletes);
    QVERIFY(results[0].outcome.incompletes.join(QLatin1Char('\n')).contains(QLatin1String("message_00021.xml")));
}

QTEST_GUILESS_MAIN(SaveThreadsTest)
#include "tst_savethreads.moc"
