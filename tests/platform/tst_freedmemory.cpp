// What a worker thread allocated and the window's thread frees goes back to the system: a closed
// archive's records, built on the scan's threads, must not stay resident.

#include "ProcessMemory.h"
#include "platform/FreedMemory.h"

#include <QThread>
#include <QtTest>

#include <vector>


class FreedMemoryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void workerBlocksReturn();
};

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
