// The saving thread's run as the window relies on it: ticks, stop, and one save at a time.

#include "browse/FolderAttributes.h"
#include "save/QMailSavingThread.h"
#include "shell/ShellGlobals.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

namespace {

int IndexFor(SaveType type)
{
    for (int index = 0; index < 6; ++index)
        if (SaveTypeForIndex(index) == type)
            return index;
    return -1;
}

} // namespace

class SavingThreadTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup() { FreeFolderAttributes(); }
    void ticksAndFinish();
    void stops_data();
    void stops();
    void refusesSecondStart();
};

void SavingThreadTest::init()
{
    bStopFlag = false;
    stopflag = false;
    bProcessRunning = false;
    AppendFolderAttribute(1, 501, 0);
}

void SavingThreadTest::ticksAndFinish()
{
    SizeOfAllMails = 25;
    QMailSavingThread thread;
    QSignalSpy initial(&thread, &QMailSavingThread::OnInitialSettingsMainWindow);
    QSignalSpy ticks(&thread, &QMailSavingThread::OnProgressvalueMainWindow);
    QSignalSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    bool flagsAtFinish = true;
    connect(&thread, &QMailSavingThread::OnFinishScanning, &thread,
            [&] { flagsAtFinish = bProcessRunning || bStopFlag; }, Qt::DirectConnection);
    QVERIFY(!thread.SetInitialSettings(QStringLiteral("/a.olm"), -1));
    QVERIFY(!thread.SetInitialSettings(QStringLiteral("/a.olm"), 6));
    QVERIFY(!thread.isRunning());

    bStopFlag = true;   // a stop left from an earlier run does not hold the new one
    QVERIFY(thread.SetInitialSettings(QStringLiteral("/a.olm"), IndexFor(SaveTypeEML)));
    QVERIFY(thread.wait(30000));
    QCOMPARE(initial.count(), 1);
    QCOMPARE(initial.first().first().toUInt(), 25u);
    QCOMPARE(ticks.count(), 25);
    QCOMPARE(finish.count(), 1);
    QVERIFY(!flagsAtFinish);   // the window sees the run ended when the finish arrives
    QCOMPARE(thread.saveType(), SaveTypeEML);

    // Without a folder tree nothing is saved, and the run still ends.
    FreeFolderAttributes();
    QVERIFY(thread.SetInitialSettings(QStringLiteral("/a.olm"), IndexFor(SaveTypeEML)));
    QVERIFY(thread.wait(30000));
    QCOMPARE(initial.count(), 1);
    QCOMPARE(ticks.count(), 25);
    QCOMPARE(finish.count(), 2);
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
    SizeOfAllMails = 1000;
    QMailSavingThread thread;
    QSignalSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    int ticks = 0;
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        if (++ticks == 5) {
            stopflag = setStopflag;
            bStopFlag = setStopFlag;
        }
    }, Qt::DirectConnection);
    QVERIFY(thread.SetInitialSettings(QStringLiteral("/a.olm"), IndexFor(SaveTypeMBOX)));
    QVERIFY(thread.wait(30000));
    QCOMPARE(ticks, 5);
    QCOMPARE(finish.count(), 0);
    QVERIFY(!bProcessRunning);
    QVERIFY(!bStopFlag);   // the next save may start
}

void SavingThreadTest::refusesSecondStart()
{
    SizeOfAllMails = 3;
    QMailSavingThread thread;
    QSemaphore inside;
    QSemaphore release;
    QSignalSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    QSignalSpy ticks(&thread, &QMailSavingThread::OnProgressvalueMainWindow);
    bool first = true;   // touched by the saving thread only
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        if (first) {
            first = false;
            inside.release();
            release.acquire();
        }
    }, Qt::DirectConnection);
    QVERIFY(thread.SetInitialSettings(QStringLiteral("/first.olm"), IndexFor(SaveTypeEMLX)));
    QVERIFY(inside.tryAcquire(1, 30000));
    QVERIFY(!thread.SetInitialSettings(QStringLiteral("/second.olm"), IndexFor(SaveTypeMBOX)));
    QCOMPARE(thread.saveType(), SaveTypeEMLX);
    QCOMPARE(thread.databasePath(), QStringLiteral("/first.olm"));
    QVERIFY(!bStopFlag);   // the refused start does not stop the running save
    release.release();
    QVERIFY(thread.wait(30000));
    QCOMPARE(ticks.count(), 3);
    QCOMPARE(finish.count(), 1);
}

QTEST_GUILESS_MAIN(SavingThreadTest)
#include "tst_savingthread.moc"
