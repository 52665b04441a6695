// Line ends converted back: CR LF (or CR CR LF after two conversions) read as LF, whatever the
// pieces the bytes come in, a lone CR kept; and an entry's data read through it from a file.

#include "platform/LineEndsBack.h"

#include <QTemporaryFile>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The bytes converted back, fed in pieces of piece bytes.
QByteArray convertedBack(const QByteArray &in, int times, int piece)
{
    LineEndsBack back(times);
    QByteArray out;
    for (int at = 0; at < in.size(); at += piece) {
        const QByteArray part = in.mid(at, piece);
        QByteArray room(part.size() + LineEndsBack::kMaxTimes, '?');
        out += room.left(int(back.feed(part.constData(), part.size(), room.data())));
    }
    char tail[LineEndsBack::kMaxTimes];
    return out + QByteArray(tail, int(back.finish(tail)));
}

}  // namespace

class LineEndsBackTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void converted_data();
    void converted();
    void entryReader_data();
    void entryReader();
};

void LineEndsBackTest::converted_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<int>("times");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("CR LF, once") << QByteArray("a\r\nb\r\n") << 1 << QByteArray("a\nb\n");
    QTest::newRow("CR CR LF, twice") << QByteArray("a\r\r\nb\r\r\n") << 2 << QByteArray("a\nb\n");
    // A CR LF the data held went through the conversions too: one CR of it stays.
    QTest::newRow("CR CR LF, once") << QByteArray("a\r\r\nb") << 1 << QByteArray("a\r\nb");
    QTest::newRow("CR CR CR LF, twice") << QByteArray("\r\r\r\n") << 2 << QByteArray("\r\n");
    QTest::newRow("a run of CRs before LF, twice") << QByteArray("x\r\r\r\r\r\ny") << 2 << QByteArray("x\r\r\r\ny");
    QTest::newRow("a lone CR") << QByteArray("a\rb\r") << 1 << QByteArray("a\rb\r");
    QTest::newRow("CRs before another byte, twice") << QByteArray("\r\r\rx\r\r") << 2 << QByteArray("\r\r\rx\r\r");
    QTest::newRow("LF alone") << QByteArray("\n\nz\n") << 2 << QByteArray("\n\nz\n");
    QTest::newRow("not converted") << QByteArray("a\r\nb\r\r\n") << 0 << QByteArray("a\r\nb\r\r\n");
    QTest::newRow("binary bytes") << QByteArray("\0\r\n\xff\r\0\n", 7) << 1 << QByteArray("\0\n\xff\r\0\n", 6);
}

void LineEndsBackTest::converted()
{
    QFETCH(QByteArray, in);
    QFETCH(int, times);
    QFETCH(QByteArray, out);
    // Every piece size: a CR run split at any point converts the same.
    for (int piece = 1; piece <= in.size(); ++piece)
        QCOMPARE(convertedBack(in, times, piece), out);
}

void LineEndsBackTest::entryReader_data()
{
    QTest::addColumn<int>("times");
    QTest::addColumn<qint64>("size");  // stored bytes of the entry; past the file's end it is cut
    QTest::addColumn<int>("max");      // asked of each read
    QTest::addColumn<bool>("whole");
    const qint64 entry = 3 * 20000;  // "x\r\n" 20000 times
    for (int times : {0, 1}) {
        for (int max : {1, 2, 7, 1 << 21}) {
            QTest::addRow("%d times, reads of %d", times, max) << times << entry << max << true;
            QTest::addRow("%d times, reads of %d, cut by the file's end", times, max) << times << entry + 5 << max << false;
        }
    }
}

void LineEndsBackTest::entryReader()
{
    QFETCH(int, times);
    QFETCH(qint64, size);
    QFETCH(int, max);
    QFETCH(bool, whole);
    const QByteArray data = QByteArray("x\r\n").repeated(20000);
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write("head" + data);
    file.flush();
    const int fd = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    EntryDataReader reader(fd, 4, size, times);
    QByteArray got;
    QByteArray buffer(max, '\0');
    for (qint64 n; (n = reader.read(buffer.data(), max)) > 0;) {
        got += buffer.left(int(n));
        // Fewer than asked only at the end.
        if (n < max)
            QCOMPARE(reader.read(buffer.data(), max), qint64(0));
    }
    ::close(fd);
    QCOMPARE(reader.whole(), whole);
    QCOMPARE(got, times == 0 ? data : QByteArray("x\n").repeated(20000));
}

QTEST_GUILESS_MAIN(LineEndsBackTest)
#include "tst_lineendsback.moc"
