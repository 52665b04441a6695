// Attachments that are zips of their own (.docx, .zip), as mail carries them, damaged around
// and inside: each stays one attachment of at least its length, and none of its parts is
// ever taken for an entry of the archive.

#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "scanner/ArchiveWalk.h"

#include <QtTest>

namespace {

const QString kAttachments = QStringLiteral("Local/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/");

// A document whose parts hold LF line ends: a stored text part and one that claims deflate.
// pad: bytes of one more part, to give the document a size of chosen bytes.
QByteArray lfDocument(int i, int pad = -1)
{
    TestArchiveBuilder inner;
    if (pad >= 0)
        inner.addEntry(QStringLiteral("pad"), QByteArray(pad, 'p'));
    inner.addEntry(QStringLiteral("[Content_Types].xml"), QByteArray("<?xml?>\n<Types>\n</Types>\n"));
    QByteArray lines;
    for (int k = 0; k < 20 + i; ++k)
        lines += "line " + QByteArray::number(k) + " of part " + QByteArray::number(i) + "\n";
    inner.addEntry(QStringLiteral("notes/part.txt"), lines);
    TestArchiveBuilder::EntryOptions deflated;
    deflated.method = 8;
    inner.addEntry(QStringLiteral("word/document.xml"), QByteArray(300 + i, char(i % 2 ? '\n' : 'q')), deflated);
    return inner.finish();
}

struct DocumentArchive {
    QByteArray bytes;
    QVector<TestArchiveBuilder::Entry> entries;  // contacts, then message, document, message, ...
};

DocumentArchive documentArchive(bool directory)
{
    TestArchiveBuilder b;
    // Notes of several lines: the list grows where LFs turn into CR LF.
    QVector<OlmXml::ContactItem> contacts;
    for (int i = 0; i < 4; ++i)
        contacts.append({QStringLiteral("First%1").arg(i), QStringLiteral("Last"), QString(),
                         QStringLiteral("line\n").repeated(40), QString()});
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), OlmXml::contacts(contacts));
    for (int i = 0; i < 6; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Subject %1").arg(i);
        m.body = QStringLiteral("Body %1\nsecond line").arg(i);
        m.sent = QStringLiteral("2018-06-21T03:26:46");
        // The message lists its document by the entry's name: the name stands in its text too.
        m.attachmentNames = QStringList{QStringLiteral("doc%1.docx").arg(i)};
        m.attachmentUrls = QStringList{kAttachments + QStringLiteral("doc%1_0000").arg(i)};
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({m}));
        // Document 4's size holds an LF byte: CR LF moves its header's fields and so its data.
        const int pad = (0x10A - lfDocument(i, 0).size() % 256) % 256;
        b.addEntry(kAttachments + QStringLiteral("doc%1_0000").arg(i), lfDocument(i, i == 4 ? pad : -1));
    }
    return {b.finish(directory), b.entries()};
}

// What a row does to the archive; index names the document (0-5) it is done to.
struct ZipHarm {
    enum Kind { CrLf, Flip, Zeros, LostBeforeHeader, Signature, HeaderStart, PutInHeader, NextHeaderStart, CopyInside, HeaderCopied } kind;
    int index = 2;
    bool directory = true;
    int at = 0;     // PutInHeader: where in the header bytes are put (below 0: from the data's start)
    int bytes = 0;  // PutInHeader, HeaderStart: how many bytes are put in or lost
    char fill = 'Z';
};

// The last 100 bytes of document 4 (its end record) and the 200 behind it (the next header).
QByteArray copied(const DocumentArchive &d)
{
    const TestArchiveBuilder::Entry &doc = d.entries[2 * 4 + 2];
    return d.bytes.mid(int(doc.dataOffset + doc.size - 100), 300);
}

QByteArray withLfEnds(QByteArray bytes)
{
    return bytes.replace("\r\n", "\n");
}

// As a zip tool that streams writes it, without a directory: no size or CRC-32 in the local
// headers (flag 8), a data descriptor behind each entry's data.
QByteArray streamedArchive(const QVector<QPair<QString, QByteArray>> &entries)
{
    QByteArray out;
    const auto u16 = [&](quint16 v) { out.append(char(v & 0xff)).append(char(v >> 8)); };
    const auto u32 = [&](quint32 v) { u16(quint16(v & 0xffff)), u16(quint16(v >> 16)); };
    for (const auto &e : entries) {
        const QByteArray name = e.first.toUtf8();
        u32(0x04034B50), u16(20), u16(0x0808), u16(0), u16(0), u16(0), u32(0), u32(0), u32(0);
        u16(quint16(name.size())), u16(0);
        out += name + e.second;
        u32(0x08074B50), u32(TestArchiveBuilder::crc32(e.second)), u32(quint32(e.second.size()));
        u32(quint32(e.second.size()));
    }
    return out;
}

}  // namespace

Q_DECLARE_METATYPE(ZipHarm)

class ZipAttachmentsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { CleanScanResults(); }
    void damaged_data();
    void damaged();
    void streamed();
    void convertedHeaders_data();
    void convertedHeaders();
    void messageZeroedAfterAttachment_data();
    void messageZeroedAfterAttachment();
};

void ZipAttachmentsTest::damaged_data()
{
    QTest::addColumn<ZipHarm>("harm");
    for (bool directory : {true, false}) {
        const char *where = directory ? "" : ", no directory";
        QTest::addRow("every LF turned into CR LF%s", where) << ZipHarm{ZipHarm::CrLf, 0, directory};
        QTest::addRow("a flipped byte inside a document%s", where) << ZipHarm{ZipHarm::Flip, 2, directory};
        QTest::addRow("a zeroed block inside a document%s", where) << ZipHarm{ZipHarm::Zeros, 2, directory};
        QTest::addRow("5 bytes lost at a document's end, before the next header%s", where)
            << ZipHarm{ZipHarm::LostBeforeHeader, 3, directory};
    }
    // The directory's name, size and CRC-32 place the data between the headers around it,
    // however many bytes the header gained: the message's list naming it is no header.
    for (int bytes : {300, 5000}) {
        for (int at : {2, 10, 30, 30 + 70}) {
            QTest::addRow("%d bytes put into a document's header at its byte %d", bytes, at)
                << ZipHarm{ZipHarm::PutInHeader, 2, true, at, bytes};
        }
        QTest::addRow("%d bytes put into a document's extra, before its data", bytes)
            << ZipHarm{ZipHarm::PutInHeader, 2, true, -1, bytes};
        // Inside the ZIP64 sizes, which turn negative: the header is read by its record alone.
        QTest::addRow("%d bytes of 0xFF put into a document's ZIP64 sizes", bytes)
            << ZipHarm{ZipHarm::PutInHeader, 2, true, -9, bytes, '\xff'};
    }
    QTest::newRow("a document's header lost its first 31 bytes") << ZipHarm{ZipHarm::HeaderStart, 2, true, 0, 31};
    // The message's header, placed by its name, starts where the document ends, not inside it.
    for (int bytes : {26, 30})
        QTest::addRow("the header after a document lost its first %d bytes", bytes)
            << ZipHarm{ZipHarm::NextHeaderStart, 2, true, 0, bytes};
    // Another document's end record and the header behind it copied into the data: the
    // document runs on to the next entry the directory lists.
    QTest::newRow("another document's end and the next header copied into a document")
        << ZipHarm{ZipHarm::CopyInside, 2, true};
    // A document's header and half its data copied into an earlier message: the copy is no
    // attachment, the document is read whole where it stands.
    QTest::newRow("a document's header and half its data copied into a message before it")
        << ZipHarm{ZipHarm::HeaderCopied, 3, true};
    QTest::newRow("a document's header signature damaged, no directory") << ZipHarm{ZipHarm::Signature, 2, false};
    QTest::newRow("a document's header lost its first 12 bytes, no directory")
        << ZipHarm{ZipHarm::HeaderStart, 2, false, 0, 12};
}

void ZipAttachmentsTest::damaged()
{
    QFETCH(ZipHarm, harm);
    const DocumentArchive d = documentArchive(harm.directory);
    const TestArchiveBuilder::Entry &doc = d.entries[2 * harm.index + 2];
    QByteArray a = d.bytes;
    switch (harm.kind) {
    case ZipHarm::CrLf:
        a.replace("\n", "\r\n");
        break;
    case ZipHarm::Flip:
        a[int(doc.dataOffset + doc.size / 2)] = char(a[int(doc.dataOffset + doc.size / 2)] ^ 0x20);
        break;
    case ZipHarm::Zeros:
        a.replace(int(doc.dataOffset + 40), 100, QByteArray(100, '\0'));
        break;
    case ZipHarm::LostBeforeHeader:
        // The last bytes of the document's end record, right before the next message's header.
        a.remove(int(d.entries[2 * harm.index + 3].headerOffset - 5), 5);
        break;
    case ZipHarm::Signature:
        a[int(doc.headerOffset)] = 'Q';
        break;
    case ZipHarm::HeaderStart:
        a.remove(int(doc.headerOffset), harm.bytes);
        break;
    case ZipHarm::NextHeaderStart:
        a.remove(int(d.entries[2 * harm.index + 3].headerOffset), harm.bytes);
        break;
    case ZipHarm::CopyInside:
        a.insert(int(doc.dataOffset + doc.size / 2), copied(d));
        break;
    case ZipHarm::HeaderCopied:
        a.insert(a.indexOf("</email>", int(d.entries[1].dataOffset)),
                 d.bytes.mid(int(doc.headerOffset), int(doc.dataOffset - doc.headerOffset + doc.size / 2)));
        break;
    case ZipHarm::PutInHeader:
        a.insert(int(harm.at < 0 ? doc.dataOffset + harm.at + 1 : doc.headerOffset + harm.at),
                 QByteArray(harm.bytes, harm.fill));
        break;
    }
    scanBytes(a);
    const QString report = (EntriesNotRead + EntriesReadElsewhere).join(QLatin1Char('\n'));
    QCOMPARE(MailItemCount, qint64(6));
    // A list grown past its stated size is read to its root's close.
    QCOMPARE(ContactItemCount, qint64(4));
    QCOMPARE(CompressedEntryCount, qint64(0));
    QVERIFY2(!report.contains(QLatin1String("Content_Types")) && !report.contains(QLatin1String("part.txt")),
             qPrintable(report));
    const QList<FileOffsetNode *> nodes = attachmentNodes();
    QCOMPARE(nodes.size(), 6);
    for (int i = 0; i < 6; ++i) {
        const TestArchiveBuilder::Entry &e = d.entries[2 * i + 2];
        const FileOffsetNode *n = nodes[i];
        QCOMPARE(QString::fromUtf8(n->pEntryName), kAttachments + QStringLiteral("doc%1_0000").arg(i));
        const QByteArray kept = bytesAt(a, n->llDataOffset, n->llSize);
        const QByteArray original = bytesAt(d.bytes, e.dataOffset, e.size);
        const bool changedInPlace = i == harm.index && (harm.kind == ZipHarm::Flip || harm.kind == ZipHarm::Zeros);
        if (harm.kind == ZipHarm::CrLf) {
            // Grown, never cut: the line ends taken back give the document again.
            QVERIFY2(n->llSize >= e.size && withLfEnds(kept) == withLfEnds(original), qPrintable(report));
        } else if (changedInPlace) {
            // Its whole length, its CRC-32 telling the damage.
            QVERIFY2(n->llSize == e.size && !n->bSizeCut, qPrintable(report));
        } else if (harm.kind == ZipHarm::CopyInside && i == harm.index) {
            QVERIFY2(kept == QByteArray(original).insert(int(e.size / 2), copied(d)), qPrintable(report));
        } else if (harm.kind == ZipHarm::LostBeforeHeader && i == harm.index) {
            // The last bytes of its end record lost: the rest of it is kept, up to the next header.
            QVERIFY2(kept == original.left(original.size() - 5), qPrintable(report));
        } else {
            QVERIFY2(kept == original, qPrintable(QStringLiteral("doc%1\n").arg(i) + report));
        }
    }
}

void ZipAttachmentsTest::streamed()
{
    // Each document ends where its zip does, with its descriptor's CRC-32, and no line calls
    // its header damaged.
    QVector<QPair<QString, QByteArray>> entries;
    for (int i = 0; i < 4; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Subject %1").arg(i);
        entries.append({QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                        OlmXml::emails({m})});
        entries.append({kAttachments + QStringLiteral("doc%1_0000").arg(i), lfDocument(i)});
    }
    scanBytes(streamedArchive(entries));
    const QString report = (EntriesNotRead + EntriesReadElsewhere).join(QLatin1Char('\n'));
    QCOMPARE(MailItemCount, qint64(4));
    QVERIFY2(!report.contains(QLatin1String("local header")) && !report.contains(QLatin1String("Content_Types")),
             qPrintable(report));
    const QList<FileOffsetNode *> nodes = attachmentNodes();
    QCOMPARE(nodes.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(QString::fromUtf8(nodes[i]->pEntryName), entries[2 * i + 1].first);
        QCOMPARE(nodes[i]->llSize, qint64(entries[2 * i + 1].second.size()));
        QCOMPARE(nodes[i]->dwCrc32, TestArchiveBuilder::crc32(entries[2 * i + 1].second));
    }
}

QTEST_GUILESS_MAIN(ZipAttachmentsTest)
#include "tst_zipattachments.moc"

void ZipAttachmentsTest::convertedHeaders_data()
{
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("directory");
    for (int times : {1, 2}) {
        QTest::addRow("every LF turned into CR LF %d times", times) << times << true;
        QTest::addRow("every LF turned into CR LF %d times, no directory", times) << times << false;
    }
}

// Messages whose headers' CRC-32 holds an LF byte: converted line ends move the header's fields,
// so its name no longer stands where its length says. Each message is still read under its name
// and checked against its own CRC-32, so a text the conversion changed is never taken for whole.
void ZipAttachmentsTest::convertedHeaders()
{
    QFETCH(int, times);
    QFETCH(bool, directory);
    TestArchiveBuilder b;
    int made = 0;
    for (int pad = 0; made < 4 && pad < 4096; ++pad) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Subject %1").arg(made);
        m.body = QStringLiteral("Body\nsecond line ") + QString(pad, QLatin1Char('x'));
        m.sent = QStringLiteral("2018-06-21T03:26:46");
        const QByteArray xml = OlmXml::emails({m});
        const quint32 crc = TestArchiveBuilder::crc32(xml);
        if ((crc & 0xff) != 0x0a && (crc >> 8 & 0xff) != 0x0a && (crc >> 16 & 0xff) != 0x0a && (crc >> 24) != 0x0a)
            continue;
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(made++, 5, 10, QLatin1Char('0')),
                   xml);
    }
    QCOMPARE(made, 4);
    QByteArray a = b.finish(directory);
    for (int k = 0; k < times; ++k)
        a.replace("\n", "\r\n");
    scanBytes(a);
    const QString report = (EntriesNotRead + EntriesReadElsewhere).join(QLatin1Char('\n'));
    QCOMPARE(MailItemCount, qint64(4));
    // As the save judges a message: marked damaged, or its text fails its entry's CRC-32.
    for (MailMLRC *m : mails()) {
        const QByteArray text = bytesAt(a, m->llDataOffset, m->dwDataLength);
        QVERIFY2(m->bDamaged
                     || (m->nNameLength > 0 && m->dwCrc32 != 0 && m->dwEntrySize == m->dwDataLength
                         && TestArchiveBuilder::crc32(text) != m->dwCrc32),
                 qPrintable(report));
    }
}

void ZipAttachmentsTest::messageZeroedAfterAttachment_data()
{
    QTest::addColumn<int>("into");  // bytes of the message's text zeroed with its header
    for (int into : {0, 20, 200})
        QTest::addRow("the attachment's end, the next message's header and %d bytes of its text zeroed", into) << into;
}

// Zeros over an attachment's end and the next message's header leave the attachment's size
// ending where no header stands, and the message's end behind it: the attachment runs on to the
// next header, and the message it took in is counted lost, never silently.
void ZipAttachmentsTest::messageZeroedAfterAttachment()
{
    QFETCH(int, into);
    const DocumentArchive d = documentArchive(false);
    const TestArchiveBuilder::Entry &doc = d.entries[2 * 2 + 2];
    const TestArchiveBuilder::Entry &next = d.entries[2 * 3 + 1];
    QVERIFY(next.name.contains(QLatin1String("message_")));
    QByteArray a = d.bytes;
    const qint64 from = doc.dataOffset + doc.size - 30;
    a.replace(int(from), int(next.dataOffset + into - from), QByteArray(int(next.dataOffset + into - from), '\0'));
    scanBytes(a);
    const QString report = (EntriesNotRead + EntriesReadElsewhere).join(QLatin1Char('\n'));
    // Its root's start tag standing, the message is read from it; else its end is counted lost.
    QCOMPARE(MailItemCount, qint64(into == 0 ? 6 : 5));
    QVERIFY2(EntriesNotRead.filter(QLatin1String("hold the end of 1 item")).size() == (into == 0 ? 0 : 1),
             qPrintable(report));
}
