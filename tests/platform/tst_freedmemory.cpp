// What a worker thread allocated and the window's thread frees goes back to the system: a closed
// archive's records, built on the scan's threads, must not stay resident.

#include "ProcessMemory.h"
#include "platform/FreedMemory.h"

#include <QThread>
#include <QtTest>

#include <malloc.h>
#include <vector>


class FreedMemoryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void settingsHoldFromStart();
    void workerBlocksReturn();
};

// Small blocks freed, beyond what the per-thread cache takes, that the fast bins hold for reuse.
static size_t FastBinBlocksAfterFreeing()
{
    std::vector<char *> blocks(2000);
    for (char *&block : blocks)
        block = static_cast<char *>(std::malloc(48));
    const size_t before = mallinfo2().smblks;
    for (char *block : blocks)
        std::free(block);
    return mallinfo2().smblks - before;
}

// Nothing here calls the set-up: a test, like a benchmark, runs with the program's allocator only
// if the build links it in. Without it a fresh process maps every block over 128 KiB on its own.
// The fast bins stay: without them the scan of many small mails is 10 to 15% slower.
void FreedMemoryTest::settingsHoldFromStart()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("the sanitizers bring their own allocator");
#endif
    static char *volatile kept;  // keeps the compiler from dropping the block
    const size_t before = mallinfo2().hblks;
    kept = static_cast<char *>(std::malloc(size_t(2) << 20));
    const size_t mapped = mallinfo2().hblks - before;
    std::free(kept);
    QCOMPARE(mapped, size_t(0));
    QVERIFY(FastBinBlocksAfterFreeing() > 1000);
}

void FreedMemoryTest::workerBlocksReturn()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("the sanitizers' allocators keep freed memory aside");
#endif
    // Large reads come and go first, as a scan's do.
    for (int mib = 1; mib <= 32; mib *= 2) {
        char *read = static_cast<char *>(std::malloc(size_t(mib) << 20));
        memset(read, 0, size_t(mib) << 20);
        std::free(read);
    }
    ReturnFreedMemory();
    const long before = MemoryKb("VmRSS:");
    QVERIFY(before > 0);
    // Records of many small sizes, as a scan builds them: about 50 MiB on a thread of its own, below the threshold large reads leave.
    std::vector<char *> blocks;
    QThread *worker = QThread::create([&blocks] {
        blocks.reserve(500000);
        for (int i = 0; i < 500000; ++i) {
            const size_t size = 16 + size_t(i % 13) * 12;
            char *block = static_cast<char *>(std::malloc(size));
            memset(block, 1, size);
            blocks.push_back(block);
        }
    });
    worker->start();
    QVERIFY(worker->wait(60000));
    delete worker;
    QVERIFY(MemoryKb("VmRSS:") - before > 40 * 1024);
    for (char *block : blocks)
        std::free(block);
    std::vector<char *>().swap(blocks);
    ReturnFreedMemory();
    const long after = MemoryKb("VmRSS:");
    QVERIFY2(after - before < 24 * 1024,
             qPrintable(QStringLiteral("%1 kB before, %2 kB after").arg(before).arg(after)));
}

QTEST_GUILESS_MAIN(FreedMemoryTest)
#include "tst_freedmemory.moc"
