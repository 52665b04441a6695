// Which entry a message's attachment name finds when the archive holds the name more than once.

#include "save/AttachmentIndex.h"
#include "scanner/ScanGlobals.h"

#include <QtTest>

class AttachmentIndexTest : public QObject {
    Q_OBJECT
private slots:
    void repeatedName_data();
    void repeatedName();
};

void AttachmentIndexTest::repeatedName_data()
{
    QTest::addColumn<QVector<bool>>("cut");  // per entry of the name, in archive order: cut at the next entry
    QTest::addColumn<int>("found");
    QTest::newRow("one entry") << QVector<bool>{false} << 0;
    QTest::newRow("two whole entries: the first") << QVector<bool>{false, false} << 0;
    QTest::newRow("a cut copy in stray bytes before the entry") << QVector<bool>{true, false} << 1;
    QTest::newRow("the entry, then a cut copy") << QVector<bool>{false, true} << 0;
    QTest::newRow("two cut copies: the first") << QVector<bool>{true, true} << 0;
    QTest::newRow("two cut copies before the entry") << QVector<bool>{true, true, false} << 2;
}

void AttachmentIndexTest::repeatedName()
{
    QFETCH(QVector<bool>, cut);
    QFETCH(int, found);
    char name[] = "Local/M/Inbox/com.microsoft.__Attachments/doc_0000";
    std::vector<FileOffsetNode> nodes(size_t(cut.size()));
    for (int i = 0; i < cut.size(); ++i) {
        nodes[size_t(i)] = FileOffsetNode{};
        nodes[size_t(i)].pEntryName = name;
        nodes[size_t(i)].llDataOffset = 100 * (i + 1);
        nodes[size_t(i)].bSizeCut = cut[i];
        nodes[size_t(i)].pNext = i + 1 < cut.size() ? &nodes[size_t(i) + 1] : nullptr;
    }
    const AttachmentIndex index(&nodes[0]);
    QCOMPARE(index.find(QString::fromLatin1(name)), &nodes[size_t(found)]);
}

QTEST_GUILESS_MAIN(AttachmentIndexTest)
#include "tst_attachmentindex.moc"
