// Attachments of an archive whose line ends a copy converted: read with them converted back, each
// gives the bytes the intact archive stored, with a true line; one that verifies as it stands,
// or one that holds no LF, is read as stored.

#include "LineEndArchive.h"
#include "ScanTestUtil.h"
#include "platform/LineEndsBack.h"
#include "scanner/ScanGlobals.h"

#include <QtTest>

namespace {

// The node's bytes as every reader gets them.
QByteArray readBack(const QByteArray &archive, const FileOffsetNode &n)
{
    const QByteArray stored = bytesAt(archive, n.llDataOffset, n.llSize);
    LineEndsBack back(n.bLineEndsBack);
    QByteArray out(stored.size() + LineEndsBack::kMaxTimes, '\0');
    qint64 size = back.feed(stored.constData(), stored.size(), out.data());
    size += back.finish(out.data() + size);
    return out.left(int(size));
}

}  // namespace

class LineEndNodesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { CleanScanResults(); }
    void convertedBack_data();
    void convertedBack();
    void changedBytesNotConverted();
};

void LineEndNodesTest::convertedBack_data()
{
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("directory");
    for (int times : {0, 1, 2}) {
        QTest::addRow("LF written as CR LF %d times", times) << times << true;
        QTest::addRow("LF written as CR LF %d times, no directory", times) << times << false;
    }
}

void LineEndNodesTest::convertedBack()
{
    QFETCH(int, times);
    QFETCH(bool, directory);
    const LineEndArchive a = MakeLineEndArchive(times, directory);
    scanBytes(a.bytes);
    const QString report = (EntriesNotRead + EntriesReadElsewhere).join(QLatin1Char('\n'));
    const QList<FileOffsetNode *> nodes = attachmentNodes();
    QCOMPARE(nodes.size(), a.names.size());
    int converted = 0;
    for (int i = 0; i < nodes.size(); ++i) {
        const FileOffsetNode &n = *nodes[i];
        QCOMPARE(QString::fromUtf8(n.pEntryName), a.names[i]);
        QVERIFY2(readBack(a.bytes, n) == a.datas[i], qPrintable(a.names[i] + QLatin1Char('\n') + report));
        // Only bytes that grew are converted, and only as often as they were.
        const bool grew = times > 0 && a.datas[i].contains('\n');
        QCOMPARE(int(n.bLineEndsBack), grew ? times : 0);
        QCOMPARE(n.bLineEndsBack ? n.llBackSize : n.llSize, qint64(a.datas[i].size()));
        QVERIFY(!n.bSizeCut);
        converted += n.bLineEndsBack ? 1 : 0;
    }
    QCOMPARE(EntriesReadElsewhere.filter(QLatin1String("read with them converted back")).size(), converted);
    QVERIFY2(!report.contains(QLatin1String("Content_Types")), qPrintable(report));
}

void LineEndNodesTest::changedBytesNotConverted()
{
    // A byte changed besides the conversion: neither form verifies, and the bytes stay as stored.
    LineEndArchive a = MakeLineEndArchive(1, true);
    const int at = a.bytes.indexOf("second line\r\n\r\nlast");
    QVERIFY(at > 0);
    a.bytes[at] = 'S';
    scanBytes(a.bytes);
    const QList<FileOffsetNode *> nodes = attachmentNodes();
    QCOMPARE(nodes.size(), a.names.size());
    QCOMPARE(int(nodes[1]->bLineEndsBack), 0);
    QCOMPARE(int(nodes[0]->bLineEndsBack), 1);
}

QTEST_GUILESS_MAIN(LineEndNodesTest)
#include "tst_lineendnodes.moc"
