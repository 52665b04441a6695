// The walk's reads: an entry's text looked at in chunks finds what one look at the whole finds,
// and the read window gives the archive's bytes whatever order the walk asks for them in.

#include "platform/ArchiveSource.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/EntryTextScan.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// The first signature at index 2 or later, and whether a NUL lies before it: the whole text at once.
qint64 wholeSignature(const QByteArray &t, bool *nul)
{
    qint64 sig = -1;
    for (const char *s : {"PK\x03\x04", "PK\x01\x02"}) {
        const int at = t.indexOf(QByteArray(s, 4));
        if (at >= 0 && (sig < 0 || at < sig))
            sig = at;
    }
    *nul = t.left(sig < 0 ? t.size() : int(sig)).contains('\0');
    return sig;
}

}  // namespace

class WalkReadsTest : public QObject {
    Q_OBJECT
private slots:
    void textInChunks_data();
    void textInChunks();
    void lowBytesEverywhere();
    void windowOrder_data();
    void windowOrder();
};

void WalkReadsTest::textInChunks_data()
{
    QTest::addColumn<QByteArray>("text");
    const QByteArray pad(40, 'x');
    QTest::newRow("local signature") << pad + "PK\x03\x04" + pad;
    QTest::newRow("central signature") << pad + "PK\x01\x02" + pad;
    QTest::newRow("NUL, then a signature") << pad + QByteArray(1, '\0') + "ab" + "PK\x01\x02" + pad;
    QTest::newRow("signature, then a NUL") << pad + "PK\x03\x04" + QByteArray(1, '\0') + pad;
    QTest::newRow("NUL at the start and the end") << QByteArray(1, '\0') + pad + QByteArray(1, '\0');
    QTest::newRow("signature ends the text") << pad + "PK\x03\x04";
    QTest::newRow("third byte ends the text") << pad + "PK\x03";
    QTest::newRow("fourths swapped") << pad + "PK\x03\x02" + "PK\x01\x04" + pad;
    QTest::newRow("third bytes without PK") << pad + "P\x03\x04K\x01\x02" + pad;
    QTest::newRow("two signatures, the later one local") << pad + "PK\x01\x02" + "PK\x03\x04" + pad;
    QTest::newRow("bytes 2 around a signature") << pad + "PK\x02\x04\x02" + "PK\x01\x02\x02" + pad;
    QTest::newRow("third byte at the start") << QByteArray("\x03\x04", 2) + pad;
    QTest::newRow("signature at the start") << QByteArray("PK\x03\x04") + pad;
}

void WalkReadsTest::textInChunks()
{
    QFETCH(QByteArray, text);
    bool wholeNul = false;
    const qint64 sig = wholeSignature(text, &wholeNul);
    // Every place a chunk may end, the bytes coming in one at a time, and without signatures.
    for (qint64 edge = 0; edge <= text.size(); ++edge) {
        for (const qint64 step : {qint64(text.size()), qint64(1)}) {
            bool nul = false;
            qint64 resume = 0, found = -1, len = qMin<qint64>(edge, text.size());
            for (;;) {
                found = olm::ScanEntryText(text.constData(), resume, len, true, &nul, &resume);
                if (found >= 0 || len == text.size())
                    break;
                QVERIFY(resume <= len);
                len = qMin<qint64>(len + step, text.size());
            }
            QCOMPARE(found, sig);
            QCOMPARE(nul, wholeNul);
        }
        bool nul = false;
        qint64 resume = 0;
        QCOMPARE(olm::ScanEntryText(text.constData(), 0, edge, false, &nul, &resume), qint64(-1));
        QCOMPARE(nul, text.left(int(edge)).contains('\0'));
        // Where the bytes up to 3 stand known before (those of the whole text, past edge too):
        // the same answers.
        std::vector<qint64> marks;
        olm::FindLowBytes(text.constData(), text.size(), 1000, &marks);
        for (const bool signatures : {true, false}) {
            bool scannedNul = false, markedNul = false;
            qint64 scannedResume = 0, markedResume = 0;
            const qint64 scanned =
                olm::ScanEntryText(text.constData(), 0, edge, signatures, &scannedNul, &scannedResume);
            QCOMPARE(olm::ScanEntryTextMarked(text.constData(), edge, 1000, marks.data(), marks.size(), signatures,
                                              &markedNul, &markedResume),
                     scanned);
            QCOMPARE(markedNul, scannedNul);
            QCOMPARE(markedResume, scannedResume);
        }
    }
}

// Where the bytes up to 3 stand, found sixteen and sixty-four at a time: every length about those
// blocks, one such byte at each place, and every byte one.
void WalkReadsTest::lowBytesEverywhere()
{
    for (int len = 0; len <= 140; ++len) {
        for (int at = -1; at < len; ++at) {
            for (const char low : {'\0', '\x01', '\x03'}) {
                QByteArray bytes(len, 'x');
                if (at >= 0)
                    bytes[at] = low;
                std::vector<qint64> found;
                olm::FindLowBytes(bytes.constData(), len, 5, &found);
                QCOMPARE(found, at >= 0 ? std::vector<qint64>{5 + at} : std::vector<qint64>{});
            }
        }
        std::vector<qint64> all;
        olm::FindLowBytes(QByteArray(len, '\x02').constData(), len, 0, &all);
        QCOMPARE(all.size(), size_t(len));
    }
}

void WalkReadsTest::windowOrder_data()
{
    QTest::addColumn<qint64>("window");
    QTest::addColumn<qint64>("maxChunk");
    QTest::addColumn<bool>("ahead");
    QTest::addColumn<int>("jumpOneIn");  // 0: the walk never jumps ahead
    QTest::newRow("small window") << qint64(4096) << qint64(0) << false << 20;
    QTest::newRow("the walk's window") << qint64(1024 * 1024) << qint64(0) << false << 20;
    QTest::newRow("the walk's window, short reads") << qint64(1024 * 1024) << qint64(1000) << false << 20;
    QTest::newRow("read ahead") << qint64(1024 * 1024) << qint64(0) << true << 20;
    QTest::newRow("read ahead, short reads") << qint64(1024 * 1024) << qint64(1000) << true << 20;
    // Runs in flight dropped at nearly every entry, and a chain of runs never broken.
    QTest::newRow("read ahead, many jumps") << qint64(1024 * 1024) << qint64(1000) << true << 2;
    QTest::newRow("read ahead, no jumps") << qint64(1024 * 1024) << qint64(0) << true << 0;
}

void WalkReadsTest::windowOrder()
{
    // Entries of 1 to 40,000 bytes in a row, read as the walk does: the header, a look at the next
    // one, then the text behind; now and then a jump ahead or a look far back.
    QFETCH(qint64, window);
    QFETCH(qint64, maxChunk);
    QFETCH(bool, ahead);
    QFETCH(int, jumpOneIn);
    // Several times the runs read ahead at once, so chains of them are taken and asked for anew.
    QByteArray bytes(12 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator rng(7);
    // One byte in eight up to 3 (those a text's look stops at), so some end every run read ahead.
    for (char &c : bytes)
        c = char(rng.bounded(8) ? rng.bounded(256) : rng.bounded(4));
    // Signatures now and then, so texts looked at end at them.
    for (int at = 0; at + 4 < bytes.size(); at += rng.bounded(1, 60000))
        bytes.replace(at, 4, rng.bounded(2) ? "PK\x03\x04" : "PK\x01\x02", 4);
    MemoryArchiveSource source(bytes, maxChunk);
    BufferedArchiveReader r(source, window);
    if (ahead)
        r.readAhead();
    const auto wordAt = [&](qint64 p) {
        quint32 v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | uchar(bytes[int(p + i)]);
        return v;
    };
    for (qint64 pos = 0; pos + 64 < bytes.size();) {
        const qint64 size = qMin<qint64>(rng.bounded(1, 40000), bytes.size() - pos - 64);
        const qint64 next = pos + 30 + size;
        QCOMPARE(r.u32At(pos), wordAt(pos));
        if (next + 4 <= bytes.size())
            QCOMPARE(r.u32At(next), wordAt(next));
        // A text looked at in the window: its NULs and signatures as a scan of its bytes finds them
        // (read ahead, its runs' readers found them).
        if (size <= 32 * 1024 && r.peekText(pos + 30, size)) {
            const QByteArray expected = bytes.mid(int(pos + 30), int(size));
            for (const bool signatures : {true, false}) {
                bool nul = false, expectedNul = false;
                qint64 resume = 0, expectedResume = 0;
                const qint64 sig = r.scanPeekedText(pos + 30, size, signatures, &nul, &resume);
                QCOMPARE(sig,
                         olm::ScanEntryText(expected.constData(), 0, size, signatures, &expectedNul, &expectedResume));
                QCOMPARE(nul, expectedNul);
                QCOMPARE(resume, expectedResume);
            }
        }
        QByteArray text(int(size), Qt::Uninitialized);
        QCOMPARE(r.readText(pos + 30, text.data(), size), size);
        QCOMPARE(text, bytes.mid(int(pos + 30), int(size)));
        if (rng.bounded(30) == 0) {
            const qint64 back = qMax<qint64>(0, pos - rng.bounded(1, 100000));
            QCOMPARE(r.u16At(back), quint16(wordAt(back) & 0xFFFF));
        }
        pos = jumpOneIn && rng.bounded(jumpOneIn) == 0 ? next + rng.bounded(1, 400000) : next;
    }
    QCOMPARE(r.u32At(bytes.size() - 2), quint32(0));
}

QTEST_GUILESS_MAIN(WalkReadsTest)
#include "tst_walkreads.moc"
