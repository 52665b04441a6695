#include "save/mail/ParseArena.h"

#include <QtTest>

#include <cstring>
#include <set>
#include <vector>

class ParseArenaTest : public QObject {
    Q_OBJECT
private slots:
    void blocksHoldTheirBytes();
    void freedBlocksAreTakenAgain();
    void boundsRefuseAndRecover_data();
    void boundsRefuseAndRecover();
    void everyByteIsGivenBack();
};

// Blocks of every size the classes round to, and beside each boundary, are aligned, apart and
// keep what is written into them while the others are written.
void ParseArenaTest::blocksHoldTheirBytes()
{
    ParseArena arena(size_t(256) << 20);
    std::vector<size_t> sizes;
    for (size_t size = 0; size <= 4096; ++size)
        sizes.push_back(size);
    for (size_t power = 12; power <= 20; ++power)
        for (long delta : {-1L, 0L, 1L, 300L})
            sizes.push_back((size_t(1) << power) + size_t(delta));
    std::vector<unsigned char *> blocks;
    for (size_t n = 0; n < sizes.size(); ++n) {
        auto *block = static_cast<unsigned char *>(arena.allocate(sizes[n]));
        QVERIFY2(block, qPrintable(QString::number(sizes[n])));
        QCOMPARE(reinterpret_cast<uintptr_t>(block) % 8, uintptr_t(0));
        std::memset(block, int(n % 251), sizes[n]);
        blocks.push_back(block);
    }
    for (size_t n = 0; n < sizes.size(); ++n)
        for (size_t at : {size_t(0), sizes[n] / 2, sizes[n] - 1})
            if (sizes[n])
                QVERIFY2(blocks[n][at] == (unsigned char)(n % 251), qPrintable(QString::number(sizes[n])));
    for (unsigned char *block : blocks)
        arena.release(block);
    arena.release(nullptr);
}

// A vector grown by doubling, as the parser grows its own, takes back the blocks it left, so the
// arena holds about what is live, not all it ever gave.
void ParseArenaTest::freedBlocksAreTakenAgain()
{
    ParseArena arena(size_t(256) << 20);
    for (int round = 0; round < 200; ++round) {
        std::vector<void *> live;
        for (size_t size = 8; size <= 8192; size *= 2) {
            void *grown = arena.allocate(size);
            QVERIFY(grown);
            if (!live.empty()) {
                arena.release(live.back());
                live.pop_back();
            }
            live.push_back(grown);
        }
        for (void *block : live)
            arena.release(block);
    }
    QVERIFY2(arena.heldBytes() < (size_t(1) << 20), qPrintable(QString::number(arena.heldBytes())));
    // Freed small blocks come back to blocks of their size, never to a larger one's.
    void *first = arena.allocate(24);
    arena.release(first);
    void *larger = arena.allocate(40);
    QVERIFY(larger != first);
    QCOMPARE(arena.allocate(20), first);
}

void ParseArenaTest::boundsRefuseAndRecover_data()
{
    QTest::addColumn<size_t>("bound");
    QTest::addColumn<size_t>("blockSize");
    QTest::newRow("small blocks against a 1 MiB bound") << (size_t(1) << 20) << size_t(40);
    QTest::newRow("blocks of a class's largest size") << (size_t(3) << 20) << (size_t(1) << 18);
    QTest::newRow("blocks past every class") << (size_t(5) << 20) << ((size_t(1) << 18) + 1);
    QTest::newRow("a bound below the first chunk") << (size_t(10) << 10) << size_t(16);
}

// Past its bound the arena refuses, holds no more than the bound, and gives again what is freed.
void ParseArenaTest::boundsRefuseAndRecover()
{
    QFETCH(size_t, bound);
    QFETCH(size_t, blockSize);
    ParseArena arena(bound);
    std::vector<void *> blocks;
    while (void *block = arena.allocate(blockSize))
        blocks.push_back(block);
    QVERIFY(!blocks.empty());
    QVERIFY(arena.heldBytes() <= bound);
    QVERIFY(!arena.allocate(bound + 1));
    arena.release(blocks.back());
    blocks.pop_back();
    QVERIFY(arena.allocate(blockSize));
}

// The process-wide count falls back when an arena goes, whatever it held; two arenas count
// together against it.
void ParseArenaTest::everyByteIsGivenBack()
{
    const size_t before = ParseArena::sharedHeldBytes();
    {
        ParseArena one(size_t(64) << 20);
        ParseArena two(size_t(64) << 20);
        for (int n = 0; n < 10000; ++n) {
            QVERIFY(one.allocate(size_t(n % 700)));
            QVERIFY(two.allocate((size_t(n % 3) + 1) << 10));
        }
        void *large = two.allocate(size_t(1) << 20);
        QVERIFY(large);
        two.release(large);
        QCOMPARE(ParseArena::sharedHeldBytes(), before + one.heldBytes() + two.heldBytes());
    }
    QCOMPARE(ParseArena::sharedHeldBytes(), before);
    {
        // Two arenas of the whole shared limit each: the second gets what the first left.
        ParseArena one(ParseArena::kSharedLimitBytes);
        ParseArena two(ParseArena::kSharedLimitBytes);
        QVERIFY(one.allocate(ParseArena::kSharedLimitBytes - (size_t(1) << 20)));
        QVERIFY(!two.allocate(size_t(2) << 20));
        QVERIFY(two.allocate(size_t(256) << 10));
    }
    QCOMPARE(ParseArena::sharedHeldBytes(), before);
}

QTEST_GUILESS_MAIN(ParseArenaTest)
#include "tst_parsearena.moc"
