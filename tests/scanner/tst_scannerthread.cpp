// The scanner thread's life: its signals, a stop, a second start, a missing file, destruction.

#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "ThreadResults.h"

#include <QSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

#include <fcntl.h>
#include <unistd.h>

class ScannerThreadTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { CleanScanResults(); }
    void cleanup();
    void completeScan();
    void scanWithoutRecords();
    void stoppedScan();
    void stopInLongStretch();
    void secondStartDuringScan();
    void missingFile();
    void destroyWhileRunning();

private:
    void openArchive(const QByteArray &bytes);
    QTemporaryDir m_dir;
};

void ScannerThreadTest::openArchive(const QByteArray &bytes)
{
    const QString path = m_dir.filePath(QStringLiteral("a.olm"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
    f.close();
    if (fileDescriptor >= 0)
        ::close(fileDescriptor);
    fileDescriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    QVERIFY(fileDescriptor >= 0);
    lSize = bytes.size();
}

void ScannerThreadTest::cleanup()
{
    if (fileDescriptor >= 0)
        ::close(fileDescriptor);
    fileDescriptor = -1;
    lSize = 0;
    CleanScanResults();
}

namespace {

QByteArray mailArchive(int messages, int bodyBytes = 100)
{
    TestArchiveBuilder b;
    for (int i = 0; i < messages; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("s%1").arg(i);
        m.body = QString(bodyBytes, QLatin1Char('b'));
        b.addEntry(QStringLiteral("Local/M/Inbox/message_%1.xml").arg(i), OlmXml::emails({m}));
    }
    return b.finish();
}

// The thread's results, taken as the window takes them: its queued signals delivered here, then
// the scan's hand-over.
bool finished(QFolderInformationThread &t)
{
    if (!EndRun(t))
        return false;
    TakeScanResults();
    return true;
}

struct Spies {
    explicit Spies(QFolderInformationThread *t)
        : initial(t, &QFolderInformationThread::OnInitialSettings),
          finish(t, &QFolderInformationThread::OnFinishScanning),
          info(t, &QFolderInformationThread::InformationDlgOpen),
          message(t, &QFolderInformationThread::ShowMessage)
    {
    }
    QueuedSpy initial, finish, info, message;
};

} // namespace

void ScannerThreadTest::completeScan()
{
    openArchive(mailArchive(3));
    QFolderInformationThread t;
    Spies s(&t);
    t.SetInitialSettings();
    QVERIFY(finished(t));
    QTRY_COMPARE(s.finish.count(), 1);
    QCOMPARE(s.initial.count(), 1);
    QCOMPARE(s.initial.first().first().toLongLong(), lSize / 512);
    QCOMPARE(s.info.count(), 1);
    QCOMPARE(s.message.count(), 0);
    QCOMPARE(MailItemCount, qint64(3));
    QVERIFY(!bProcessRunning);
    QVERIFY(!t.stopped());
}

void ScannerThreadTest::scanWithoutRecords()
{
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/M/Inbox/com.microsoft.__Attachments/a"), QByteArray(10, 'x'));
    openArchive(b.finish());
    QFolderInformationThread t;
    Spies s(&t);
    t.SetInitialSettings();
    QVERIFY(finished(t));
    QTRY_COMPARE(s.finish.count(), 1);
    QCOMPARE(s.info.count(), 0);
    QCOMPARE(AttachmentNodeCount, qint64(1));
    // Compressed entries alone still open the summary, which names them.
    TestArchiveBuilder::EntryOptions deflated;
    deflated.method = 8;
    b.addEntry(QStringLiteral("Local/M/Inbox/message_1.xml"), QByteArray(40, 'x'), deflated);
    openArchive(b.finish());
    CleanScanResults();
    t.SetInitialSettings();
    QVERIFY(finished(t));
    QTRY_COMPARE(s.info.count(), 1);
    QCOMPARE(CompressedEntryCount + MailItemCount, qint64(1));
}

void ScannerThreadTest::stoppedScan()
{
    openArchive(mailArchive(50));
    QFolderInformationThread t;
    Spies s(&t);
    // The user answers the stop question while the first message is being read.
    connect(&t, &QFolderInformationThread::strInfo, &t, [] { bStopFlag = true; }, Qt::DirectConnection);
    t.SetInitialSettings();
    QVERIFY(finished(t));
    QTest::qWait(20);
    QCOMPARE(s.finish.count(), 0);
    QCOMPARE(s.info.count(), 0);
    QCOMPARE(MailItemCount, qint64(1));
    QVERIFY(!bProcessRunning);
    QVERIFY(t.stopped());
    // The stop belongs to that run: the next one starts clean.
    Spies again(&t);
    disconnect(&t, &QFolderInformationThread::strInfo, &t, nullptr);
    CleanScanResults();
    t.SetInitialSettings();
    QVERIFY(finished(t));
    QTRY_COMPARE(again.finish.count(), 1);
    QCOMPARE(MailItemCount, qint64(50));
    QVERIFY(!t.stopped());

    // A stop confirmed after the scan's last test finds it complete: it says so.
    connect(&t, &QFolderInformationThread::OnFinishScanning, &t, [] { bStopFlag = true; }, Qt::DirectConnection);
    CleanScanResults();
    Spies late(&t);
    t.SetInitialSettings();
    QVERIFY(finished(t));
    QTRY_COMPARE(late.finish.count(), 1);
    QCOMPARE(MailItemCount, qint64(50));
    QVERIFY(!t.stopped());
    bStopFlag = false;
}

namespace {

// Counts what the scan reads, and confirms the stop once 4 MiB are read.
struct StoppingSource : MemoryArchiveSource {
    using MemoryArchiveSource::MemoryArchiveSource;
    qint64 readAt(qint64 offset, void *buffer, qint64 length) override
    {
        if ((read += length) >= qint64(4) << 20)
            bStopFlag = true;
        return MemoryArchiveSource::readAt(offset, buffer, length);
    }
    std::atomic<qint64> read{0};
};

}  // namespace

void ScannerThreadTest::stopInLongStretch()
{
    // A root element whose close tag and next signature are never found, and damage without a
    // signature or a tag: each search runs to the end of the file.
    const qint64 size = qint64(256) << 20;
    for (const QByteArray &start : {QByteArray("<emails xml:space=\"preserve\"><email>"), QByteArray("\x11")}) {
        auto source = std::make_shared<StoppingSource>(start + QByteArray(int(size), start.at(0) == '<' ? 'x' : '\x11'));
        QFolderInformationThread t;
        t.setSource(source);
        t.SetInitialSettings();
        QVERIFY(finished(t));
        // The stop ended the searches within a few windows, not at the end of the stretch.
        QVERIFY(t.stopped());
        QVERIFY2(source->read < size / 8, qPrintable(QString::number(source->read)));
    }
}

void ScannerThreadTest::secondStartDuringScan()
{
    openArchive(mailArchive(2));
    QFolderInformationThread t;
    Spies s(&t);
    QSemaphore started, release;
    connect(&t, &QFolderInformationThread::OnInitialSettings, &t,
            [&] {
                started.release();
                release.acquire();
            },
            Qt::DirectConnection);
    t.SetInitialSettings();
    started.acquire();
    t.SetInitialSettings();   // starts nothing while the scan runs
    release.release();
    QVERIFY(finished(t));
    QTRY_COMPARE(s.finish.count(), 1);
    QTest::qWait(20);
    QCOMPARE(s.initial.count(), 1);
    QCOMPARE(MailItemCount, qint64(2));
}

void ScannerThreadTest::missingFile()
{
    fileDescriptor = -1;
    QFolderInformationThread t;
    Spies s(&t);
    t.SetInitialSettings();
    QVERIFY(finished(t));
    QTRY_COMPARE(s.message.count(), 1);
    QCOMPARE(s.message.first().first().toString(), QStringLiteral("\nThe file doesn't exist."));
    QCOMPARE(s.initial.count(), 1);
    QCOMPARE(s.finish.count(), 0);
    QCOMPARE(s.info.count(), 0);
}

void ScannerThreadTest::destroyWhileRunning()
{
    openArchive(mailArchive(2000, 2000));
    {
        QFolderInformationThread t;
        t.SetInitialSettings();
    }   // the destructor stops the scan and waits for it
    QVERIFY(MailItemCount <= 2000);
}

QTEST_GUILESS_MAIN(ScannerThreadTest)
#include "tst_scannerthread.moc"
