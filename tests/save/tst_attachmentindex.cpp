// Which entry a message's attachment name finds when the archive holds the name more than once.

#include "save/AttachmentIndex.h"
#include "scanner/ScanGlobals.h"

#include <QtTest>

class AttachmentIndexTest : public QObject {
    Q_OBJECT
private slots:
    void repeatedName_data();
    void repeatedName();
    void nearName_data();
    void nearName();
    void nameTail_data();
    void nameTail();
    void folderDamaged_data();
    void folderDamaged();
    void scatteredFlips_data();
    void scatteredFlips();
};

namespace {

// One 3000-byte entry per name, listed in that order.
std::vector<FileOffsetNode> nodesNamed(QByteArrayList &names)
{
    std::vector<FileOffsetNode> nodes(size_t(names.size()));
    for (int i = 0; i < names.size(); ++i) {
        nodes[size_t(i)] = FileOffsetNode{};
        nodes[size_t(i)].pEntryName = names[i].data();
        nodes[size_t(i)].llSize = 3000;
        nodes[size_t(i)].pNext = i + 1 < names.size() ? &nodes[size_t(i) + 1] : nullptr;
    }
    return nodes;
}

}  // namespace

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

void AttachmentIndexTest::nearName_data()
{
    QTest::addColumn<QByteArrayList>("names");  // the entries, each 3000 bytes long
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<QString>("listedSize");
    QTest::addColumn<int>("found");  // index into names, -1: none
    const QByteArray dir = "Local/M/Inbox/com.microsoft.__Attachments/";
    const QByteArray a = dir + "AB12-CD34@example.com_0000", b = dir + "EF56-GH78@example.com_0000";
    for (int at : {0, 9, 30, 50, a.size() - 1}) {
        QByteArray flipped = a;
        flipped[at] = char(flipped[at] ^ 0x10);
        QTest::addRow("a bit flipped at byte %d", at) << QByteArrayList{flipped, b} << a << QString() << 0;
    }
    QByteArray other = a;
    other[20] = 'x';
    QTest::newRow("a byte changed") << QByteArrayList{b, other} << a << QString() << 1;
    QTest::newRow("the name itself stands") << QByteArrayList{a, other} << a << QString() << -1;
    QByteArray two = other;
    two[45] = 'y';
    QTest::newRow("two bytes apart") << QByteArrayList{two} << a << QString() << -1;
    QTest::newRow("a byte lost") << QByteArrayList{a.left(40) + a.mid(41)} << a << QString() << -1;
    QByteArray second = a;
    second[45] = 'z';
    QTest::newRow("two entries that near") << QByteArrayList{other, second} << a << QString() << -1;
    QTest::newRow("the size the list gives") << QByteArrayList{other} << a << QStringLiteral("3.0E3") << 0;
    QTest::newRow("another size than the list gives") << QByteArrayList{other} << a << QStringLiteral("3.1E3") << -1;
    QTest::newRow("a size the list gives unreadably") << QByteArrayList{other} << a << QStringLiteral("n/a") << 0;
    // The exporter lists the size of the attachment's base64 lines: 4,000 characters for 3,000
    // bytes, a line end every 72 or 76 of them.
    for (const char *listed : {"4.0556E3", "4.1111E3", "4.0527E3", "4.1053E3"})
        QTest::addRow("the size of its base64 lines, %s", listed) << QByteArrayList{other} << a << QString(listed) << 0;
    QTest::newRow("the size of base64 lines of other bytes") << QByteArrayList{other} << a << QStringLiteral("4.2E3") << -1;
    QTest::newRow("a leading ./") << QByteArrayList{"./" + other} << a << QString() << 0;
    QByteArray sibling = a;
    sibling[a.size() - 1] = '1';
    QTest::newRow("the message's other attachment, one digit apart")
        << QByteArrayList{sibling, other} << a << QString() << 1;
    QTest::newRow("a byte turned NUL: the name cut there") << QByteArrayList{b, a.left(50)} << a << QString() << 1;
    QTest::newRow("two names cut short") << QByteArrayList{a.left(50), a.left(60)} << a << QString() << -1;
    QTest::newRow("an empty url") << QByteArrayList{other} << QByteArray() << QString() << -1;
}

void AttachmentIndexTest::nearName()
{
    QFETCH(QByteArrayList, names);
    QFETCH(QByteArray, url);
    QFETCH(QString, listedSize);
    QFETCH(int, found);
    std::vector<FileOffsetNode> nodes = nodesNamed(names);
    const AttachmentIndex index(&nodes[0]);
    // The message lists its other attachments too: never the one it lost.
    const QSet<QByteArray> listed{names.first().endsWith("_0001") ? names.first() : QByteArray()};
    QCOMPARE(index.nearName(QString::fromLatin1(url), listedSize, listed),
             found < 0 ? nullptr : &nodes[size_t(found)]);
}

void AttachmentIndexTest::nameTail_data()
{
    QTest::addColumn<QByteArrayList>("names");  // the entries, each 3000 bytes long
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<int>("found");  // index into names, -1: none
    const QByteArray dir = "Local/M/Inbox/com.microsoft.__Attachments/", own = "AB12-CD34@example.com_0000";
    const QByteArray a = dir + own, b = dir + "EF56-GH78@example.com_0000";
    for (int lost : {1, 6, 20, dir.size() - 1, dir.size()})
        QTest::addRow("the name's first %d bytes lost", lost) << QByteArrayList{b, a.mid(lost)} << a << 1;
    QTest::newRow("field bytes before the tail") << QByteArrayList{"\x7f\x7f" + a.mid(30)} << a << 0;
    QTest::newRow("the own part alone") << QByteArrayList{own} << a << 0;
    // The loss ran into the id: field bytes that read as an id's characters start the tail.
    const QByteArray id = dir + "2A09A102-8AE0-4657-AFA2-BB78E0C76D9B@contoso.com_0002";
    const QByteArray rest = id.right(44);
    for (const QByteArray &fields : {QByteArray("L"), QByteArray("Lx9"), QByteArray(8, 'Q'), QByteArray(9, 'Q')})
        QTest::addRow("%d field bytes before the id's tail", int(fields.size()))
            << QByteArrayList{b, fields + rest} << id << (fields.size() <= 8 ? 1 : -1);
    QTest::newRow("a field byte before too short a tail") << QByteArrayList{"L" + id.right(23)} << id << -1;
    QByteArray other = rest;
    other[other.size() - 20] = other[other.size() - 20] == 'A' ? 'B' : 'A';
    QTest::newRow("a field byte before another id's tail") << QByteArrayList{"L" + other} << id << -1;
    QTest::newRow("two tails with field bytes") << QByteArrayList{"L" + rest, "Q9" + rest} << id << -1;
    QTest::newRow("the own part's first bytes lost") << QByteArrayList{b, own.mid(1)} << a << 1;
    QTest::newRow("all but 20 bytes of it lost") << QByteArrayList{own.right(20)} << a << -1;
    QTest::newRow("two tails of one part") << QByteArrayList{a.mid(10), a.mid(30)} << a << -1;
    QTest::newRow("the name itself stands") << QByteArrayList{a, a.mid(10)} << a << -1;
    // Whole names are no tails: the same message's attachment in another folder is its own.
    QTest::newRow("a whole name in another folder")
        << QByteArrayList{"Local/M/Sent/com.microsoft.__Attachments/" + own} << a << -1;
    QTest::newRow("another number") << QByteArrayList{a.mid(10).replace("_0000", "_0001")} << a << -1;
    QTest::newRow("a url without a number") << QByteArrayList{QByteArray("x/report")} << dir + "report" << -1;
    QTest::newRow("an empty url") << QByteArrayList{a.mid(10)} << QByteArray() << -1;
}

void AttachmentIndexTest::nameTail()
{
    QFETCH(QByteArrayList, names);
    QFETCH(QByteArray, url);
    QFETCH(int, found);
    std::vector<FileOffsetNode> nodes = nodesNamed(names);
    const AttachmentIndex index(&nodes[0]);
    QCOMPARE(index.nameTail(QString::fromLatin1(url)), found < 0 ? nullptr : &nodes[size_t(found)]);
}

void AttachmentIndexTest::folderDamaged_data()
{
    QTest::addColumn<QByteArrayList>("names");  // the entries, each 3000 bytes long
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<int>("found");  // index into names, -1: none
    const QByteArray dir = "Local/com.microsoft.__Messages/Outlook PST/Inbox/com.microsoft.__Attachments/";
    const QByteArray a = dir + "AB12-CD34@example.com_0000", b = dir + "EF56-GH78@example.com_0000";
    // Bits flipped over the folder's part, printable or not: 1 to 8 bytes apart.
    for (int flipped : {1, 2, 5, 8, 9}) {
        QByteArray name = a;
        for (int k = 0; k < flipped; ++k)
            name[3 + k * 9] = char(name[3 + k * 9] ^ (k % 2 ? 0x40 : 0x10));
        QTest::addRow("%d bytes of the folder's part flipped", flipped) << QByteArrayList{b, name} << a << (flipped <= 8 ? 1 : -1);
    }
    QByteArray own = a;
    own[a.size() - 8] = 'Z';
    QTest::newRow("a byte of the own part changed") << QByteArrayList{own} << a << -1;
    QByteArray folder = a;
    folder[10] = 'q';
    QTest::newRow("the name itself stands") << QByteArrayList{a, folder} << a << -1;
    QByteArray other = a;
    other[20] = 'r';
    QTest::newRow("two damaged copies of the own part") << QByteArrayList{folder, other} << a << -1;
    // Bytes lost from or put into the folder's part: the header's name length counts them, or the
    // name ended at its extra's control byte.
    for (int lost : {1, 4, 8, 9})
        QTest::addRow("%d bytes of the folder lost", lost) << QByteArrayList{b, a.left(12) + a.mid(12 + lost)} << a
                                                          << (lost <= 8 ? 1 : -1);
    QTest::newRow("3 bytes put into the folder") << QByteArrayList{a.left(40) + "\x93\x01z" + a.mid(40)} << a << 0;
    QTest::newRow("5 bytes of the folder turned into 2") << QByteArrayList{a.left(30) + "ZZ" + a.mid(35)} << a << 0;
    QTest::newRow("bytes lost in two places") << QByteArrayList{a.left(8) + a.mid(10, 30) + a.mid(43)} << a << -1;
    QTest::newRow("a name the message lists itself") << QByteArrayList{dir.left(40) + "x" + a.mid(41)} << a << -1;
    QTest::newRow("no number: not an attachment's name") << QByteArrayList{"Lxcal/" + a.mid(6, 40)} << a.left(46) << -1;
}

void AttachmentIndexTest::folderDamaged()
{
    QFETCH(QByteArrayList, names);
    QFETCH(QByteArray, url);
    QFETCH(int, found);
    std::vector<FileOffsetNode> nodes = nodesNamed(names);
    const AttachmentIndex index(&nodes[0]);
    const QSet<QByteArray> listed{QTest::currentDataTag() == QByteArray("a name the message lists itself") ? names.first()
                                                                                                        : QByteArray()};
    QCOMPARE(index.folderDamaged(QString::fromLatin1(url), listed), found < 0 ? nullptr : &nodes[size_t(found)]);
}

void AttachmentIndexTest::scatteredFlips_data()
{
    QTest::addColumn<QByteArrayList>("names");  // the entries, each 3000 bytes long
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<int>("found");  // index into names, -1: none
    const QByteArray dir = "Local/com.microsoft.__Messages/Outlook PST/Inbox/com.microsoft.__Attachments/";
    const QByteArray a = dir + "AB12-CD34@example.com_0000", b = dir + "EF56-GH78@example.com_0001";
    // The separator before the own part flipped, with 0 to 8 more bytes over the whole name.
    for (int more : {0, 1, 3, 7, 8}) {
        QByteArray name = a;
        name[dir.size() - 1] = char(0xaf);
        for (int k = 0; k < more; ++k)
            name[5 + k * 13] = char(name[5 + k * 13] ^ 0x04);
        QTest::addRow("separator and %d more bytes flipped", more) << QByteArrayList{b, name} << a << (more < 8 ? 1 : -1);
    }
    QByteArray folder = a;
    folder[dir.size() - 1] = '*';
    QByteArray second = folder;
    second[a.size() - 3] = 'x';
    QTest::newRow("two such names: neither") << QByteArrayList{folder, second} << a << -1;
    QByteArray owned = a;
    owned[a.size() - 10] = 'k';
    QTest::newRow("a name that names another attachment") << QByteArrayList{owned} << a << -1;
    QTest::newRow("one byte longer") << QByteArrayList{folder + "0"} << a << -1;
    QByteArrayList many;
    for (int i = 0; i < 70; ++i) {
        QByteArray name = folder;
        name[10] = char('A' + i % 26);
        name[11] = char('a' + i / 26);
        many << name;
    }
    QTest::newRow("too many names of that length to tell") << many << a << -1;
}

void AttachmentIndexTest::scatteredFlips()
{
    QFETCH(QByteArrayList, names);
    QFETCH(QByteArray, url);
    QFETCH(int, found);
    std::vector<FileOffsetNode> nodes = nodesNamed(names);
    const AttachmentIndex index(&nodes[0]);
    QCOMPARE(index.scatteredFlips(QString::fromLatin1(url)), found < 0 ? nullptr : &nodes[size_t(found)]);
}

QTEST_GUILESS_MAIN(AttachmentIndexTest)
#include "tst_attachmentindex.moc"
