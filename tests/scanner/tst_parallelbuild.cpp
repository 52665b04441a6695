// The readers behind the walk: every job reaches its commit once, in the order pushed, with its
// message records ready, whatever the runs, sizes and stops; every text comes back once.

#include "OlmXml.h"
#include "platform/WorkerGlobals.h"
#include "scanner/ParallelBuild.h"

#include <QtTest>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

using olm::BuildJob;
using olm::EntryRole;
using olm::ParallelBuild;

namespace {

// Texts carry their job's index in front, so each one's return is counted however the
// allocator reuses addresses.
char *textOf(const QByteArray &bytes, int index)
{
    char *block = static_cast<char *>(malloc(sizeof(int) + size_t(bytes.size()) + 1));
    memcpy(block, &index, sizeof index);
    memcpy(block + sizeof index, bytes.constData(), size_t(bytes.size()) + 1);
    return block + sizeof index;
}

void giveBack(char *text, QVector<int> &returns)
{
    if (!text)
        return;
    int index = 0;
    memcpy(&index, text - sizeof index, sizeof index);
    ++returns[index];
    free(text - sizeof index);
}

}  // namespace

class ParallelBuildTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { bStopFlag = false; }
    void cleanup() { bStopFlag = false; }
    void inOrder_data();
    void inOrder();
};

void ParallelBuildTest::inOrder_data()
{
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("jobs");
    QTest::addColumn<int>("stopAt");  // the job whose push sets the stop flag, -1 for none
    QTest::newRow("none") << 2 << 0 << -1;
    QTest::newRow("one") << 2 << 1 << -1;
    QTest::newRow("fewer than a run") << 7 << 5 << -1;
    QTest::newRow("runs and a part") << 3 << 97 << -1;
    QTest::newRow("more than the slots, seven readers") << 7 << 5000 << -1;
    QTest::newRow("stop halfway") << 4 << 3000 << 1500;
}

void ParallelBuildTest::inOrder()
{
    QFETCH(int, workers);
    QFETCH(int, jobs);
    QFETCH(int, stopAt);
    OlmXml::MailItem mail;
    mail.subject = QStringLiteral("S");
    const QByteArray one = OlmXml::emails({mail});
    const QByteArray two = OlmXml::emails({mail, mail});
    // Now and then a text larger than all the texts in flight may be: it goes alone.
    const QByteArray huge = one + QByteArray(9 * 1024 * 1024, ' ');

    QVector<int> returns(jobs, 0);
    std::mutex returnsMutex;
    QVector<qint64> committed;
    QVector<qint64> records;
    size_t started = 0;
    {
        ParallelBuild build(
            workers,
            [&](BuildJob &job, PreparedMail &prepared) {
                committed << job.end;
                records << prepared.count();
                prepared.clear();
                std::lock_guard<std::mutex> lock(returnsMutex);
                giveBack(job.text, returns);
                job.text = nullptr;
            },
            [&](char *const *texts, size_t count) {
                std::lock_guard<std::mutex> lock(returnsMutex);
                for (size_t i = 0; i < count; ++i)
                    giveBack(texts[i], returns);
            });
        std::thread walk([&] {
            for (int i = 0; i < jobs; ++i) {
                BuildJob job;
                job.role = i % 10 == 9 ? EntryRole::Contacts : EntryRole::Message;
                const QByteArray &bytes = i % 1000 == 500 ? huge : i % 3 ? one : two;
                job.text = textOf(bytes, i);
                job.size = bytes.size();
                job.end = 1000000 + i;
                job.nameOffset = i + 1;
                job.nameLength = 1;
                job.entrySize = bytes.size();
                if (i == stopAt)
                    bStopFlag = true;
                build.push(std::move(job));
            }
            build.close();
        });
        build.drain();
        walk.join();
        started = build.workersStarted();
    }
    // A few jobs are read by the one worker started; more start only while jobs wait.
    QVERIFY(started >= 1 && started <= size_t(workers));
    if (jobs < 32)
        QCOMPARE(started, size_t(1));
    QCOMPARE(committed.size(), jobs);
    for (int i = 0; i < jobs; ++i) {
        QCOMPARE(committed[i], qint64(1000000 + i));
        QCOMPARE(returns[i], 1);
        // Jobs pushed after the stop are not read; those far enough before it were read whole
        // (no more than the slots are ever in flight).
        const bool read = i % 10 != 9 && (stopAt < 0 || i < stopAt - 2000);
        if (read)
            QCOMPARE(records[i], qint64(i % 1000 == 500 || i % 3 ? 1 : 2));
        else if (i % 10 == 9 || (stopAt >= 0 && i >= stopAt))
            QCOMPARE(records[i], qint64(0));
    }
}

QTEST_GUILESS_MAIN(ParallelBuildTest)
#include "tst_parallelbuild.moc"
