// The CRC-32 of streamed chunks against zlib's: the fast folding path and the table path must
// agree at every length, alignment and chunking.

#include "platform/Crc32.h"

#include <QRandomGenerator>
#include <QtTest>

#include <zlib.h>

class Crc32Test : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fastCrc_data();
    void fastCrc();
};

void Crc32Test::fastCrc_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("misalign");
    QTest::addColumn<int>("pieces");   // fed in this many uneven chunks
    // Around the 16- and 64-byte blocks of the folding, at odd addresses, and chained.
    const int rows[][3] = {{0, 0, 1},    {1, 0, 1},     {15, 3, 1},    {16, 0, 1},   {63, 1, 1},
                           {64, 0, 1},   {65, 7, 1},    {79, 2, 1},    {80, 0, 1},   {127, 5, 1},
                           {128, 0, 2},  {1000, 13, 1}, {4096, 0, 3},  {65537, 9, 5}, {(1 << 20) + 3, 1, 4}};
    for (const auto &r : rows)
        QTest::addRow("%d bytes at +%d in %d", r[0], r[1], r[2]) << r[0] << r[1] << r[2];
}

void Crc32Test::fastCrc()
{
    QFETCH(int, length);
    QFETCH(int, misalign);
    QFETCH(int, pieces);
    QRandomGenerator random(quint32(length * 31 + misalign));
    QByteArray bytes(length + misalign, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(random.generate());
    const char *data = bytes.constData() + misalign;
    for (quint32 start : {0u, 0x12345678u, 0xFFFFFFFFu}) {
        const quint32 expected = quint32(crc32(start, reinterpret_cast<const Bytef *>(data), uInt(length)));
        quint32 crc = start;
        int done = 0;
        for (int i = 0; i < pieces; ++i) {
            const int n = i + 1 == pieces ? length - done : (length - done) / (pieces - i) + i * 5;
            crc = Crc32Update(crc, data + done, qMin(n, length - done));
            done += qMin(n, length - done);
        }
        QCOMPARE(crc, expected);
    }
    // Zeros and all-ones, where a lost carry or a wrong constant cancels out least.
    for (char fill : {'\0', '\xFF'}) {
        const QByteArray same(length, fill);
        QCOMPARE(Crc32Update(0, same.constData(), length),
                 quint32(crc32(0, reinterpret_cast<const Bytef *>(same.constData()), uInt(length))));
    }
}

QTEST_GUILESS_MAIN(Crc32Test)
#include "tst_crc32.moc"
