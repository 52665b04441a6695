// The central-directory reader: where it finds the directory, what it trusts of it, and what
// it refuses, on built archives with their end records or entries damaged.

#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "platform/ArchiveSource.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/CentralDirectory.h"

#include <QtTest>

#include <functional>

namespace {

struct Built {
    QByteArray bytes;
    QVector<TestArchiveBuilder::Entry> entries;
};

// Five stored entries, the third an archive of its own, in the exporter's layout.
Built built(bool centralDirectory = true)
{
    TestArchiveBuilder inner;
    inner.addEntry(QStringLiteral("word/document.xml"), QByteArray(300, 'w'));
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/a/message_00000.xml"), QByteArray("<emails ></emails>"));
    b.addEntry(QStringLiteral("Local/a/att0"), QByteArray(100, 'a'));
    b.addEntry(QStringLiteral("Local/a/doc.docx"), inner.finish());
    b.addEntry(QStringLiteral("Local/a/att1"), QByteArray(200, 'b'));
    b.addEntry(QStringLiteral("Local/b/message_00001.xml"), QByteArray("<emails ></emails>"));
    return {b.finish(centralDirectory), b.entries()};
}

void put64(QByteArray &a, qint64 at, quint64 v)
{
    for (int k = 0; k < 8; ++k)
        a[int(at + k)] = char(v >> (8 * k));
}

// The directory's own offset, read back from the ZIP64 end record (98 bytes before the end).
qint64 directoryOffset(const QByteArray &a)
{
    qint64 v = 0;
    for (int k = 7; k >= 0; --k)
        v = v << 8 | quint8(a[a.size() - 98 + 48 + k]);
    return v;
}

// Where the directory's record k starts.
qint64 nthRecord(const QByteArray &a, int k)
{
    qint64 at = directoryOffset(a);
    for (int i = 0; i < k; ++i)
        at = a.indexOf("PK\x01\x02", int(at) + 4);
    return at;
}

// Counts the bytes a scan reads: what it costs, whatever the machine.
class CountingSource : public ArchiveSource {
public:
    explicit CountingSource(QByteArray data) : m_source(std::move(data)) {}
    qint64 size() const override { return m_source.size(); }
    qint64 readAt(qint64 offset, void *buffer, qint64 length) override
    {
        const qint64 got = m_source.readAt(offset, buffer, length);
        m_read += qMax<qint64>(0, got);
        return got;
    }
    qint64 read() const { return m_read; }

private:
    MemoryArchiveSource m_source;
    std::atomic<qint64> m_read{0};
};

// Messages in the Inbox, each with an attachment of 1 KB: about 2.5 MB.
QByteArray inboxOf(int messages)
{
    TestArchiveBuilder b;
    const QString inbox = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    for (int n = 0; n < messages; ++n) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Message %1").arg(n);
        m.messageId = QStringLiteral("m%1@example.org").arg(n);
        b.addEntry(inbox + QStringLiteral("message_%1.xml").arg(n, 5, 10, QLatin1Char('0')), OlmXml::emails({m}));
        b.addEntry(inbox + QStringLiteral("com.microsoft.__Attachments/m%1@example.org_0000").arg(n),
                   QByteArray(1000, char('a' + n % 26)));
    }
    return b.finish();
}

// Every directory record points 7 bytes past its header, states a wrong CRC-32 and a size that
// runs to (toDirectory) or most of the way to the directory: none can be placed.
void makeRecordsHostile(QByteArray &a, bool toDirectory)
{
    const qint64 directory = directoryOffset(a);
    for (qint64 at = directory; a.mid(int(at), 4) == QByteArray("PK\x01\x02", 4);) {
        const int n = quint8(a[int(at + 28)]) | quint8(a[int(at + 29)]) << 8;
        const qint64 extra = at + 46 + n;
        qint64 offset = 0;
        for (int k = 7; k >= 0; --k)
            offset = offset << 8 | quint8(a[int(extra + 20 + k)]);
        const qint64 data = offset + 7 + 30 + n + 24;
        const qint64 size = toDirectory ? directory - data : (directory - data) * 9 / 10;
        a[int(at + 16)] = char(a[int(at + 16)] ^ 0x5A);
        put64(a, extra + 4, quint64(size));
        put64(a, extra + 12, quint64(size));
        put64(a, extra + 20, quint64(offset + 7));
        at = extra + 28;
    }
}

} // namespace

using DirectoryDamage = std::function<void(Built &)>;
Q_DECLARE_METATYPE(DirectoryDamage)

class CentralDirectoryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void read_data();
    void read();
    void cutAfterMailedArchive_data();
    void cutAfterMailedArchive();
    void signatureInDamagedHeader_data();
    void signatureInDamagedHeader();
    void unplaceableRecordsReadOnce_data();
    void unplaceableRecordsReadOnce();
};

void CentralDirectoryTest::read_data()
{
    QTest::addColumn<DirectoryDamage>("damage");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("intact");   // entries whose local header agrees

    QTest::newRow("intact") << DirectoryDamage([](Built &) {}) << true << 5 << 5;
    QTest::newRow("no directory") << DirectoryDamage([](Built &b) { b = built(false); }) << false << 0 << 0;
    QTest::newRow("end record cut off") << DirectoryDamage([](Built &b) { b.bytes.chop(10); }) << false << 0 << 0;
    QTest::newRow("locator names a wrong offset: the adjacent end record serves")
        << DirectoryDamage([](Built &b) { put64(b.bytes, b.bytes.size() - 42 + 8, 12345); }) << true << 5 << 5;
    // A size that no longer holds leaves the records: they still fill the directory's place.
    QTest::newRow("directory size off by one")
        << DirectoryDamage([](Built &b) { put64(b.bytes, b.bytes.size() - 98 + 40, quint64(b.bytes.size() - 98 - directoryOffset(b.bytes) + 1)); })
        << true << 5 << 5;
    QTest::newRow("entry count beyond what the size holds")
        << DirectoryDamage([](Built &b) { put64(b.bytes, b.bytes.size() - 98 + 32, quint64(1) << 40); }) << false << 0 << 0;
    // A damaged record leaves the ones on both sides of it.
    for (int k : {0, 1, 3}) {
        QTest::addRow("record %d's signature smashed", k) << DirectoryDamage([k](Built &b) {
            b.bytes[int(nthRecord(b.bytes, k))] = 'X';
        }) << true << 4 << 4;
    }
    QTest::newRow("second record zeroed") << DirectoryDamage([](Built &b) {
        memset(b.bytes.data() + nthRecord(b.bytes, 1), 0, 46);
    }) << true << 4 << 4;
    QTest::newRow("second record's name length runs into the third") << DirectoryDamage([](Built &b) {
        const qint64 at = nthRecord(b.bytes, 1);
        b.bytes[int(at + 28)] = char(0xff);
    }) << true << 4 << 4;
    // The entry before a lost record no longer knows where its data ends: with its own header
    // smashed, it is not placed.
    QTest::newRow("smashed local header before a zeroed record") << DirectoryDamage([](Built &b) {
        memset(b.bytes.data() + b.entries[3].headerOffset, 0x11, 30);
        memset(b.bytes.data() + nthRecord(b.bytes, 4), 0, 46);
    }) << true << 3 << 3;
    QTest::newRow("smashed local header, a record lost elsewhere") << DirectoryDamage([](Built &b) {
        memset(b.bytes.data() + b.entries[3].headerOffset, 0x11, 30);
        memset(b.bytes.data() + nthRecord(b.bytes, 1), 0, 46);
    }) << true << 4 << 3;
    QTest::newRow("record pointing into the embedded archive is dropped")
        << DirectoryDamage([](Built &b) {
               const qint64 first = directoryOffset(b.bytes);
               const int n = int(quint8(b.bytes[int(first + 28)]) | quint8(b.bytes[int(first + 29)]) << 8);
               // The inner archive's own first local header, inside the third entry's data.
               put64(b.bytes, first + 46 + n + 4 + 16, quint64(b.entries[2].dataOffset));
           })
        << true << 4 << 4;
    // Cut right after a mailed archive: the end record that ends the file is the attachment's,
    // and its directory, moved by where the attachment's data starts, is not this archive's.
    QTest::newRow("cut after a mailed archive") << DirectoryDamage([](Built &b) {
        TestArchiveBuilder mailed;
        mailed.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00009.xml"), QByteArray(80, 'm'));
        TestArchiveBuilder outer;
        outer.addEntry(QStringLiteral("Local/a/message_00000.xml"), QByteArray("<emails ></emails>"));
        outer.addEntry(QStringLiteral("Local/a/com.microsoft.__Attachments/mailed.olm"), mailed.finish());
        outer.addEntry(QStringLiteral("Local/b/message_00001.xml"), QByteArray("<emails ></emails>"));
        b.bytes = outer.finish();
        b.entries = outer.entries();
        b.bytes.truncate(int(b.entries[1].dataOffset + b.entries[1].size));
    }) << false << 0 << 0;
    QTest::newRow("records out of entry order are sorted")
        << DirectoryDamage([](Built &b) {
               // The first two records swapped: the directory stays whole, its order does not.
               const int first = int(directoryOffset(b.bytes));
               const int second = b.bytes.indexOf("PK\x01\x02", first + 4);
               const int third = b.bytes.indexOf("PK\x01\x02", second + 4);
               const QByteArray a = b.bytes.mid(first, second - first);
               const QByteArray c = b.bytes.mid(second, third - second);
               b.bytes.replace(first, third - first, c + a);
           })
        << true << 5 << 5;
    QTest::newRow("smashed local header: the directory places its data")
        << DirectoryDamage([](Built &b) { memset(b.bytes.data() + b.entries[3].headerOffset, 0x11, 30); }) << true << 5 << 4;
    QTest::newRow("record pointing past the directory is dropped")
        << DirectoryDamage([](Built &b) {
               const qint64 first = directoryOffset(b.bytes);
               // The first record's ZIP64 extra holds usize, csize, then the local header offset.
               const int n = int(quint8(b.bytes[int(first + 28)]) | quint8(b.bytes[int(first + 29)]) << 8);
               put64(b.bytes, first + 46 + n + 4 + 16, quint64(b.bytes.size()));
           })
        << true << 4 << 4;
    QTest::newRow("a record's 64-bit size is the largest value: the entry is not placed")
        << DirectoryDamage([](Built &b) {
               const qint64 first = directoryOffset(b.bytes);
               const int n = int(quint8(b.bytes[int(first + 28)]) | quint8(b.bytes[int(first + 29)]) << 8);
               put64(b.bytes, first + 46 + n + 4 + 8, quint64(INT64_MAX));
           })
        << true << 4 << 4;
}

void CentralDirectoryTest::read()
{
    QFETCH(DirectoryDamage, damage);
    QFETCH(bool, found);
    QFETCH(int, entries);
    QFETCH(int, intact);
    Built b = built();
    damage(b);
    MemoryArchiveSource source(b.bytes);
    olm::CentralDirectory cd;
    QCOMPARE(cd.read(source), found);
    QCOMPARE(cd.found(), found);
    QVERIFY(std::is_sorted(cd.entries().begin(), cd.entries().end(),
                           [](const olm::CentralEntry &x, const olm::CentralEntry &y) { return x.headerOffset < y.headerOffset; }));
    // Resolved in order, as the walk does.
    BufferedArchiveReader reader(source);
    int placed = 0;
    for (size_t i = 0; i < cd.entries().size(); ++i)
        placed += cd.resolve(i, reader);
    QCOMPARE(placed, entries);
    int agreeing = 0;
    for (const olm::CentralEntry &e : cd.entries()) {
        if (e.dropped || e.dataOffset < 0)
            continue;
        agreeing += e.localIntact;
        // Whatever the damage, every entry the reader gives has the bytes it had when built.
        const auto it = std::find_if(b.entries.begin(), b.entries.end(),
                                     [&](const TestArchiveBuilder::Entry &w) { return w.headerOffset == e.headerOffset; });
        QVERIFY(it != b.entries.end());
        QCOMPARE(e.dataOffset, it->dataOffset);
        QCOMPARE(e.csize, it->size);
        QCOMPARE(e.crc, it->crc);
        QCOMPARE(e.name, it->nameBytes);
        QCOMPARE(cd.firstAtOrAfter(e.headerOffset) < cd.entries().size(), true);
    }
    QCOMPARE(agreeing, intact);
}

namespace {

// Twenty mails of this archive, one of them mailing an archive of seven of its own (and a
// document, itself an archive); the bytes, and where the attachment's data ends.
QByteArray mailingArchive(qint64 *attachmentEnd)
{
    const QString messages = QStringLiteral("Local/com.microsoft.__Messages/");
    TestArchiveBuilder mailed;
    for (int i = 0; i < 7; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Mailed %1").arg(i);
        m.body = QStringLiteral("body");
        mailed.addEntry(messages + (i % 2 ? "Inbox" : "Sent Items") + QStringLiteral("/message_%1.xml").arg(i),
                        OlmXml::emails({m}));
        // An archive inside the mailed one ends before it does.
        if (i == 3) {
            TestArchiveBuilder document;
            document.addEntry(QStringLiteral("word/document.xml"), QByteArray(300, 'w'));
            mailed.addEntry(messages + QStringLiteral("Inbox/com.microsoft.__Attachments/doc.docx"), document.finish());
        }
    }
    TestArchiveBuilder b;
    const QString url = messages + QStringLiteral("Inbox/com.microsoft.__Attachments/mailed.olm");
    for (int i = 0; i < 20; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Own %1").arg(i);
        m.body = QStringLiteral("body");
        if (i == 9) {
            m.attachmentNames = QStringList{QStringLiteral("mailed.olm")};
            m.attachmentUrls = QStringList{url};
            b.addEntry(url, mailed.finish());
            *attachmentEnd = b.entries().last().dataOffset + b.entries().last().size;
        }
        b.addEntry(messages + QStringLiteral("Own/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), OlmXml::emails({m}));
    }
    return b.finish();
}

}  // namespace

void CentralDirectoryTest::cutAfterMailedArchive_data()
{
    QTest::addColumn<int>("from");  // the cut, in bytes from the end of the mailed archive
    for (int from = -64; from <= 64; ++from)
        QTest::addRow("%d", from) << from;
}

// Cut around the end of a mailed archive, the scan never takes the mailed archive's mails for
// this archive's: its end record is not taken for this archive's directory, and the walk takes
// no entry from inside it. The attachment keeps its stated size: its copy comes up short.
void CentralDirectoryTest::cutAfterMailedArchive()
{
    QFETCH(int, from);
    qint64 end = 0;
    const QByteArray whole = mailingArchive(&end);
    scanBytes(whole.left(int(end + from)));
    const QList<MailMLRC *> found = mails();
    QVERIFY(found.size() <= 20);
    for (const MailMLRC *m : found) {
        QVERIFY(!QByteArray(m->pSubject ? m->pSubject : "").startsWith("Mailed"));
        QCOMPARE(folderKey(m->llFolderId), QStringLiteral("Own"));
    }
    const QList<FileOffsetNode *> nodes = attachmentNodes();
    const auto mailed = std::find_if(nodes.begin(), nodes.end(),
                                     [](FileOffsetNode *n) { return QByteArray(n->pEntryName).endsWith("/mailed.olm"); });
    QVERIFY(mailed != nodes.end());
    QCOMPARE((*mailed)->llDataOffset + (*mailed)->llSize, end);
    QVERIFY(!(*mailed)->bSizeCut);
    CleanScanResults();
}

void CentralDirectoryTest::signatureInDamagedHeader_data()
{
    QTest::addColumn<int>("lost");  // bytes lost from the entry before, so every header after moved
    QTest::addColumn<int>("at");    // where a stray signature stands in the damaged header
    const int name = int(qstrlen("Local/a/att1"));
    for (int lost : {0, 1, 4, 5, 64}) {
        for (int at : {4, 12, 20, 26, 29, 30, 31, 34, 30 + name - 4})
            QTest::addRow("%d lost, signature at %d", lost, at) << lost << at;
    }
}

// A header whose signature is smashed and whose fixed part or name holds another signature:
// the entry's data is still placed where it is, behind the header and name, never inside them.
void CentralDirectoryTest::signatureInDamagedHeader()
{
    QFETCH(int, lost);
    QFETCH(int, at);
    Built b = built();
    b.bytes.remove(int(b.entries[1].dataOffset + 10), lost);
    const qint64 header = b.entries[3].headerOffset - lost;
    b.bytes[int(header)] = 'X';
    b.bytes.replace(int(header + at), 4, QByteArray("PK\x03\x04", 4));
    MemoryArchiveSource source(b.bytes);
    olm::CentralDirectory cd;
    QVERIFY(cd.read(source));
    BufferedArchiveReader reader(source);
    for (size_t i = 0; i < cd.entries().size(); ++i)
        cd.agrees(i, reader);
    for (size_t i = 0; i < cd.entries().size(); ++i)
        cd.resolve(i, reader);
    bool att1 = false;
    qint64 previousEnd = 0;
    for (const olm::CentralEntry &e : cd.entries()) {
        if (e.dropped || e.dataOffset < 0)
            continue;
        QVERIFY(e.headerOffset >= previousEnd);
        QVERIFY(e.dataOffset >= e.headerOffset + 30 + e.nameLength);
        previousEnd = e.dataOffset + e.csize;
        if (e.name != "Local/a/att1")
            continue;
        att1 = true;
        QCOMPARE(e.headerOffset, header);
        QCOMPARE(e.dataOffset, b.entries[3].dataOffset - lost);
        QCOMPARE(b.bytes.mid(int(e.dataOffset), int(e.csize)), QByteArray(200, 'b'));
    }
    QVERIFY(att1);
}

void CentralDirectoryTest::unplaceableRecordsReadOnce_data()
{
    QTest::addColumn<bool>("toDirectory");
    QTest::newRow("sizes most of the way to the directory") << false;
    QTest::newRow("sizes that end at the directory") << true;
}

// Records that cannot be placed cost a scan a few readings of the file more than the intact
// archive's scan, not one per record; every entry is still read from its own header.
void CentralDirectoryTest::unplaceableRecordsReadOnce()
{
    QFETCH(bool, toDirectory);
    const QByteArray intact = inboxOf(1200);
    QByteArray hostile = intact;
    makeRecordsHostile(hostile, toDirectory);
    qint64 read[2] = {};
    for (int i = 0; i < 2; ++i) {
        auto source = std::make_shared<CountingSource>(i == 0 ? intact : hostile);
        CleanScanResults();
        bStopFlag = false;
        {
            QFolderInformationThread scanner;
            scanner.SetScanThreads(1);
            scanner.setSource(source);
            scanner.CreateFile();
        }
        bProcessRunning = false;
        QCOMPARE(mails().size(), 1200);
        QCOMPARE(attachmentNodes().size(), 1200);
        read[i] = source->read();
    }
    QVERIFY2(read[1] <= 10 * read[0], qPrintable(QStringLiteral("%1 bytes read, intact %2").arg(read[1]).arg(read[0])));
    CleanScanResults();
}

QTEST_GUILESS_MAIN(CentralDirectoryTest)
#include "tst_centraldirectory.moc"
