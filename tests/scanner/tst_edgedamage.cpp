// Damage placed at the edges of entries rather than at shares of the file: a file cut where an
// entry starts or ends or inside a header, stray bytes between two whole entries, a name that lost
// bytes without a directory, and bytes lost across an entry's end.

#include "OlmXml.h"
#include "ArchiveEntries.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "platform/Crc32.h"
#include "scanner/ScanGlobals.h"

#include <QFile>
#include <QtEndian>
#include <QtTest>

namespace {

bool isMessage(const Entry &e)
{
    return e.name.contains("/message_") && e.name.endsWith(".xml");
}

const Entry *firstNamed(const QVector<Entry> &entries, const char *part)
{
    for (const Entry &e : entries) {
        if (e.name.contains(part) && e.size > 0)
            return &e;
    }
    return nullptr;
}

int linesWith(const QStringList &lines, const QString &text)
{
    return int(std::count_if(lines.begin(), lines.end(), [&](const QString &l) { return l.contains(text); }));
}

QString report()
{
    return (EntriesNotRead + EntriesReadElsewhere).join(QLatin1Char('\n'));
}

// The sample cut before its directory, and its first attachment that is (or is not) a zip of its own.
bool withoutDirectory(bool zip, QByteArray *a, Entry *e)
{
    *a = sample();
    const QVector<Entry> entries = entriesOf(*a);
    const auto chosen = std::find_if(entries.begin(), entries.end(), [&](const Entry &x) {
        return x.name.contains("__Attachments/") && x.size > 0 && a->mid(int(x.data), 2).startsWith("PK") == zip;
    });
    if (chosen == entries.end())
        return false;
    *e = *chosen;
    a->truncate(int(entries.last().data + entries.last().size));
    return true;
}

}  // namespace

class EdgeDamageTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { CleanScanResults(); }
    void cutAtEdges_data();
    void cutAtEdges();
    void strayBytes_data();
    void strayBytes();
    void namesLostWithoutDirectory();
    void attachmentSignatureWithoutDirectory_data();
    void attachmentSignatureWithoutDirectory();
    void attachmentFieldsWithoutDirectory_data();
    void attachmentFieldsWithoutDirectory();
    void attachmentNameHeadWithoutDirectory_data();
    void attachmentNameHeadWithoutDirectory();
    void attachmentHeaderHeadWithoutDirectory_data();
    void attachmentHeaderHeadWithoutDirectory();
    void textDataBehindDamagedName();
    void headerLostBehindFolders_data();
    void headerLostBehindFolders();
    void folderHeaderLostIntoNext_data();
    void folderHeaderLostIntoNext();
    void storeFieldsShifted_data();
    void storeFieldsShifted();
    void messageFieldsFarShifted_data();
    void messageFieldsFarShifted();
    void messageFieldsHoldCopiedHeader_data();
    void messageFieldsHoldCopiedHeader();
    void storeHeaderHoldsCopiedHeader_data();
    void storeHeaderHoldsCopiedHeader();
    void damagedHeaderBehindMovedBytes_data();
    void damagedHeaderBehindMovedBytes();
    void lossIntoLaterHeader_data();
    void lossIntoLaterHeader();
    void lossAcrossEntries_data();
    void lossAcrossEntries();
    void directoryDamage_data();
    void directoryDamage();
    void directoryMovedOntoRecords_data();
    void directoryMovedOntoRecords();
    void damageInsideDirectory_data();
    void damageInsideDirectory();
    void bytesPutIntoStore_data();
    void bytesPutIntoStore();
    void attachmentRecordNameDamaged_data();
    void attachmentRecordNameDamaged();
    void folderHeaderLostIntoStore_data();
    void folderHeaderLostIntoStore();
    void attachmentExtraWithoutDirectory_data();
    void attachmentExtraWithoutDirectory();
    void zipDirectoryCopiedIntoDirectory_data();
    void zipDirectoryCopiedIntoDirectory();
    void nameLostIntoExtraWithoutDirectory_data();
    void nameLostIntoExtraWithoutDirectory();
    void storeHeaderFieldsFlipped_data();
    void storeHeaderFieldsFlipped();
    void storeNameHoldsPutBytes_data();
    void storeNameHoldsPutBytes();
    void directoryMovedAsMuchAsLost_data();
    void directoryMovedAsMuchAsLost();
    void zerosBehindEndRecord_data();
    void zerosBehindEndRecord();
    void directoryFarMovedAndDamaged_data();
    void directoryFarMovedAndDamaged();
    void storeHeadLostFromNameOn_data();
    void storeHeadLostFromNameOn();
};

void EdgeDamageTest::cutAtEdges_data()
{
    QTest::addColumn<qint64>("cut");
    QTest::addColumn<QByteArray>("named");  // the entry the line names: its header's name stands whole
    const QVector<Entry> entries = entriesOf(sample());
    QVERIFY(entries.size() > 20);
    for (const Entry &e : entries) {
        QTest::addRow("cut where %s starts", e.name.constData()) << e.header << QByteArray();
        if (e.size > 0)
            QTest::addRow("cut where %s's data ends", e.name.constData()) << e.data + e.size << QByteArray();
    }
    // Inside the fixed fields, the name and the extra of one message, one attachment, one store.
    for (const char *part : {"/message_", "__Attachments/", "Contacts.xml"}) {
        const Entry *e = firstNamed(entries, part);
        QVERIFY(e);
        for (qint64 at : {qint64(2), qint64(7), qint64(10), qint64(16), qint64(20), qint64(27), qint64(29),
                          qint64(30 + e->name.size() / 2), e->data - e->header - 3})
            QTest::addRow("cut at byte %lld of %s's header", at, e->name.constData())
                << e->header + at << (at >= 30 + e->name.size() ? e->name : QByteArray());
    }
}

void EdgeDamageTest::cutAtEdges()
{
    // Wherever the cut falls, one line says where the file ends, and it counts as not read: the
    // save never ends in success. Every message whose text lies before the cut is listed.
    QFETCH(qint64, cut);
    QFETCH(QByteArray, named);
    const QByteArray whole = sample();
    const QVector<Entry> entries = entriesOf(whole);
    scanBytes(whole.left(int(cut)));
    const QString line = cut == 0 ? QStringLiteral("The archive is empty")
                                  : QStringLiteral("The archive ends at byte %1,").arg(cut);
    QVERIFY2(linesWith(EntriesNotRead, line) == 1, qPrintable(report()));
    QVERIFY2(named.isEmpty() || linesWith(EntriesNotRead, QString::fromUtf8(named)) >= 1, qPrintable(report()));
    const int before = int(std::count_if(entries.begin(), entries.end(),
                                         [&](const Entry &e) { return isMessage(e) && e.data + e.size <= cut; }));
    QVERIFY2(MailItemCount >= before, qPrintable(report()));
}

void EdgeDamageTest::strayBytes_data()
{
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QByteArray>("bytes");
    for (int n : {1, 2, 3, 4, 8, 16, 32, 63, 65, 128, 200, 300, 1000}) {
        QTest::addRow("%d NUL bytes after the first Inbox message", n) << QByteArray("Inbox/message_") << QByteArray(n, '\0');
        QTest::addRow("%d bytes of text after the first Inbox message", n)
            << QByteArray("Inbox/message_") << QByteArray(n, 'x');
        QTest::addRow("%d NUL bytes after the contacts", n) << QByteArray("Contacts.xml") << QByteArray(n, '\0');
    }
}

void EdgeDamageTest::strayBytes()
{
    // An entry whose size and CRC-32 verify is whole: the bytes behind it are named once, as
    // damage between entries, and no message or store item is taken for damaged.
    QFETCH(QByteArray, after);
    QFETCH(QByteArray, bytes);
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    const Entry *e = firstNamed(entries, after.constData());
    QVERIFY(e);
    const qint64 end = e->data + e->size;
    a.insert(int(end), bytes);
    scanBytes(a);
    QCOMPARE(MailItemCount, qint64(7));
    QCOMPARE(ContactItemCount, qint64(5));
    for (MailMLRC *m : mails())
        QVERIFY2(!m->bDamaged, qPrintable(report()));
    QVERIFY2(EntriesNotRead.isEmpty(), qPrintable(report()));
    const QString stray = QStringLiteral("the %1 bytes from archive offset %2 to the next entry at %3 are damage between")
                              .arg(bytes.size())
                              .arg(end)
                              .arg(end + bytes.size());
    QVERIFY2(linesWith(EntriesReadElsewhere, stray) == 1, qPrintable(report()));
    QVERIFY2(!report().contains(QLatin1String("is damaged")), qPrintable(report()));
}

void EdgeDamageTest::attachmentSignatureWithoutDirectory_data()
{
    QTest::addColumn<int>("at");     // where in the attachment's header bytes are put or zeroed
    QTest::addColumn<int>("bytes");  // bytes put in; 0: the signature zeroed; -1: a bit of it flipped at
                                     // byte at; -2: and another there, and bits of three bytes of the name
    QTest::newRow("signature zeroed") << 0 << 0;
    for (int at : {0, 1, 3})
        QTest::addRow("a bit of the signature's byte %d flipped", at) << at << -1;
    QTest::newRow("two bits of the signature and three bytes of the name flipped") << 2 << -2;
    for (int n : {1, 100, 1386})
        QTest::addRow("%d bytes put into the signature", n) << 2 << n;
    QTest::newRow("9 bytes put before the signature's last byte") << 3 << 9;
}

void EdgeDamageTest::attachmentSignatureWithoutDirectory()
{
    // No directory, an attachment's header without its signature, its fields, name and data
    // whole: the attachment is read by its fields, its bytes verified.
    QFETCH(int, at);
    QFETCH(int, bytes);
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    // Not a zip of its own (a document): its data holds no header to find it by.
    const auto plain = std::find_if(entries.begin(), entries.end(), [&](const Entry &x) {
        return x.name.contains("__Attachments/") && x.size > 0 && !a.mid(int(x.data), 2).startsWith("PK");
    });
    QVERIFY(plain != entries.end());
    const Entry *e = &*plain;
    const QByteArray data = a.mid(int(e->data), int(e->size));
    a.truncate(int(entries.last().data + entries.last().size));
    const int h = int(e->header);
    if (bytes == 0)
        a.replace(h, 4, QByteArray(4, '\0'));
    else if (bytes > 0)
        a.insert(h + at, QByteArray(bytes, 'P'));
    else
        a[h + at] = char(a[h + at] ^ (bytes == -1 ? 0x10 : 0x12));
    // In the attachments folder's name, the separator behind it and the own part.
    const int folder = int(e->name.indexOf("Attachments/"));
    for (int k : {folder + 7, folder + 11, folder + 12})
        a[h + 30 + k] = bytes == -2 ? char(a[h + 30 + k] ^ 0x10) : a[h + 30 + k];
    scanBytes(a);
    int found = 0;
    for (FileOffsetNode *n : attachmentNodes()) {
        if (n->pEntryName == e->name || (bytes == -2 && bytesAt(a, n->llDataOffset, n->llSize) == data)) {
            ++found;
            QVERIFY2(bytesAt(a, n->llDataOffset, n->llSize) == data, qPrintable(report()));
            // Read as the header it is, its CRC-32 kept: a damaged name is tied to its message by it.
            QVERIFY2(bytes >= 0 || n->dwCrc32 == Crc32Update(0, data.constData(), data.size()), qPrintable(report()));
        }
    }
    QVERIFY2(found == 1, qPrintable(report()));
}

void EdgeDamageTest::attachmentFieldsWithoutDirectory_data()
{
    QTest::addColumn<int>("at");      // the field of the attachment's header the change starts in
    QTest::addColumn<int>("change");  // bytes put in (positive) or lost (negative)
    QTest::addColumn<bool>("zip");    // the attachment is a zip of its own (a document's parts)
    QTest::addColumn<QByteArray>("fill");  // the bytes put in
    const std::pair<const char *, int> fields[] = {{"version", 4}, {"flags", 6},  {"method", 8},
                                                   {"time", 10},   {"date", 12},  {"CRC-32", 14},
                                                   {"size", 18},   {"length", 22}, {"name length", 26},
                                                   {"extra length", 28}};
    for (const auto &[field, at] : fields) {
        for (int change : {-1, -3, -5, 1, 4, 9, 40, 200, 900}) {
            for (bool zip : {false, true}) {
                if (at - change <= 30)
                    QTest::addRow("%d bytes %s the %s of a %s", qAbs(change), change < 0 ? "lost from" : "put into",
                                  field, zip ? "zip" : "document")
                        << at << change << zip << QByteArray("\x7f");
            }
        }
    }
    // Stray signatures put in: the last of them is the header nearest the name.
    for (int at : {4, 14, 28}) {
        for (int signatures : {1, 10, 50}) {
            for (bool zip : {false, true})
                QTest::addRow("%d signatures put into byte %d of a %s", signatures, at, zip ? "zip" : "document")
                    << at << 4 * signatures << zip << QByteArray("PK\x03\x04");
        }
    }
}

void EdgeDamageTest::attachmentFieldsWithoutDirectory()
{
    // No directory, and bytes lost from or put into an attachment's fixed header fields: its name
    // and extra still stand before its data, whose size ends at the next entry. The attachment
    // is read whole, once, and named; no mail is lost.
    QFETCH(int, at);
    QFETCH(int, change);
    QFETCH(bool, zip);
    QFETCH(QByteArray, fill);
    QByteArray a;
    Entry e;
    QVERIFY(withoutDirectory(zip, &a, &e));
    const QByteArray data = a.mid(int(e.data), int(e.size));
    if (change < 0)
        a.remove(int(e.header + at), -change);
    else
        a.insert(int(e.header + at), fill.repeated(change / fill.size()));
    scanBytes(a);
    QVERIFY2(MailItemCount == 7, qPrintable(report()));
    int found = 0;
    for (FileOffsetNode *n : attachmentNodes()) {
        if (n->pEntryName == e.name) {
            ++found;
            QVERIFY2(bytesAt(a, n->llDataOffset, n->llSize) == data, qPrintable(report()));
        }
    }
    QVERIFY2(found == 1, qPrintable(report()));
    QVERIFY2(linesWith(EntriesNotRead, QString::fromUtf8(e.name)) == 0, qPrintable(report()));
}

void EdgeDamageTest::attachmentNameHeadWithoutDirectory_data()
{
    QTest::addColumn<int>("at");    // the field the loss starts in (0: the signature)
    QTest::addColumn<int>("name");  // bytes of the name lost with the fields; -1: all but its own part,
                                    // -2: and that part's first byte
    QTest::addColumn<bool>("zip");
    for (int at : {0, 4, 12, 22, 26}) {
        for (int name : {7, 30, -1, -2}) {
            for (bool zip : {false, true})
                QTest::addRow("from byte %d, %s of the name, a %s", at,
                              name == -1   ? "all but the last part"
                              : name == -2 ? "all and the last part's first byte"
                                           : qPrintable(QStringLiteral("%1 bytes").arg(name)),
                              zip ? "zip" : "document")
                    << at << name << zip;
        }
    }
}

void EdgeDamageTest::attachmentNameHeadWithoutDirectory()
{
    // No directory, and bytes lost from an attachment's fields through the head of its name: the
    // rest of its name (its message's id and number) and its data still stand. It is read whole
    // under that rest, which the save ties to the message's list, and named.
    QFETCH(int, at);
    QFETCH(int, name);
    QFETCH(bool, zip);
    QByteArray a;
    Entry e;
    QVERIFY(withoutDirectory(zip, &a, &e));
    const QByteArray data = a.mid(int(e.data), int(e.size));
    const int lostOfName = name == -1 ? e.name.lastIndexOf('/') - 3 : name == -2 ? e.name.lastIndexOf('/') + 2 : name;
    a.remove(int(e.header + at), 30 - at + lostOfName);
    scanBytes(a);
    QVERIFY2(MailItemCount == 7, qPrintable(report()));
    int found = 0;
    for (FileOffsetNode *n : attachmentNodes()) {
        const QByteArray read(n->pEntryName);
        if (read != e.name && e.name.endsWith(read) && read.size() >= 24) {
            ++found;
            QVERIFY2(bytesAt(a, n->llDataOffset, n->llSize) == data, qPrintable(report()));
            QVERIFY2(linesWith(EntriesReadElsewhere, QString::fromUtf8(read)) == 1, qPrintable(report()));
        }
    }
    QVERIFY2(found == 1, qPrintable(report()));
}

void EdgeDamageTest::attachmentHeaderHeadWithoutDirectory_data()
{
    QTest::addColumn<int>("lost");  // bytes lost from the header's start, its signature with them
    QTest::addColumn<bool>("zip");
    for (int lost : {5, 15, 22, 29}) {
        for (bool zip : {false, true})
            QTest::addRow("%d bytes, a %s", lost, zip ? "zip" : "document") << lost << zip;
    }
}

void EdgeDamageTest::attachmentHeaderHeadWithoutDirectory()
{
    // No directory, and an attachment's header lost its signature and fields up to its name:
    // its whole name, the ZIP64 record and its data still stand, and it is read under that name.
    QFETCH(int, lost);
    QFETCH(bool, zip);
    QByteArray a;
    Entry e;
    QVERIFY(withoutDirectory(zip, &a, &e));
    const QByteArray data = a.mid(int(e.data), int(e.size));
    a.remove(int(e.header), lost);
    scanBytes(a);
    QVERIFY2(MailItemCount == 7, qPrintable(report()));
    int found = 0;
    for (FileOffsetNode *n : attachmentNodes())
        found += n->pEntryName == e.name && bytesAt(a, n->llDataOffset, n->llSize) == data;
    QVERIFY2(found == 1, qPrintable(report()));
}

void EdgeDamageTest::textDataBehindDamagedName()
{
    // No directory and no extra behind an attachment's name, its data starting with text ("PK"
    // and more): with a byte put into its name length nothing says where the name ends, so the
    // attachment is never listed under a name that ran on into its data, and no message is lost.
    TestArchiveBuilder b;
    const QString dir = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    for (int i = 0; i < 3; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Subject %1").arg(i);
        b.addEntry(dir + QStringLiteral("com.microsoft.__Attachments/id-%1@example.com_0000").arg(i),
                   "PKtext of the attachment " + QByteArray(2000, char('a' + i)));
        b.addEntry(dir + QStringLiteral("message_%1.xml").arg(i), OlmXml::emails({m}));
    }
    const QVector<TestArchiveBuilder::Entry> e = b.entries();
    QByteArray a = b.finish();
    a.truncate(int(e.last().dataOffset + e.last().size));
    a.insert(int(e[2].headerOffset + 27), '\x01');
    scanBytes(a);
    QVERIFY2(MailItemCount == 3, qPrintable(report()));
    for (FileOffsetNode *n : attachmentNodes())
        QVERIFY2(QByteArray(n->pEntryName).endsWith("_0000"), n->pEntryName);
}

void EdgeDamageTest::headerLostBehindFolders_data()
{
    QTest::addColumn<bool>("folders");  // the folder entries before it lost too
    QTest::addColumn<int>("into");      // bytes of the attachment's header lost; -1: all of it
    for (bool folders : {true, false}) {
        for (int into : {4, 30, 60, 150, -1})
            QTest::addRow("%s%s", folders ? "folder entries and " : "",
                          into < 0 ? "the whole header" : qPrintable(QStringLiteral("%1 header bytes").arg(into)))
                << folders << into;
    }
}

void EdgeDamageTest::headerLostBehindFolders()
{
    // With the directory whole, bytes lost from where the entry before ends through an
    // attachment's header (a zip of its own): its data, whose CRC-32 its record gives, ends where
    // the next header starts. It is read whole, its message keeps it, and the folder entries
    // lost with it place nothing inside its data.
    QFETCH(bool, folders);
    QFETCH(int, into);
    QByteArray a = sample();
    scanBytes(a);
    const qint64 mails = MailItemCount;
    CleanScanResults();
    const QVector<Entry> entries = entriesOf(a);
    int i = 2;
    while (i < entries.size()
           && !(entries[i].name.contains("__Attachments/") && entries[i].size > 0 && entries[i - 1].name.endsWith('/')
                && entries[i - 2].name.endsWith('/')))
        ++i;
    QVERIFY(i < entries.size());
    const Entry e = entries[i];
    const QByteArray data = a.mid(int(e.data), int(e.size));
    const qint64 from = folders ? entries[i - 2].header : e.header;
    a.remove(int(from), int((into < 0 ? e.data : e.header + into) - from));
    scanBytes(a);
    QVERIFY2(MailItemCount == mails, qPrintable(report()));
    int found = 0;
    for (FileOffsetNode *n : attachmentNodes()) {
        if (n->pEntryName == e.name) {
            ++found;
            QVERIFY2(bytesAt(a, n->llDataOffset, n->llSize) == data && !n->bSizeCut, qPrintable(report()));
        }
    }
    QVERIFY2(found == 1, qPrintable(report()));
    QVERIFY2(linesWith(EntriesNotRead, QString::fromUtf8(e.name)) == 0, qPrintable(report()));
}

void EdgeDamageTest::folderHeaderLostIntoNext_data()
{
    QTest::addColumn<QByteArray>("part");  // the entry behind the folder entry
    QTest::addColumn<int>("from");         // the folder header's byte the loss starts at
    QTest::addColumn<int>("into");         // bytes of the next header lost; past 30, its name's head
    for (const char *part : {"/message_", "__Attachments/"}) {
        for (int from : {6, 10, 14, 18, 22, 26, 28, 31}) {
            for (int into : {0, 14, 26, 30, 31, 35, 40, 50})
                QTest::addRow("%s: folder header from byte %d, next header %d bytes", part, from, into)
                    << QByteArray(part) << from << into;
        }
    }
}

void EdgeDamageTest::folderHeaderLostIntoNext()
{
    // With the directory whole, bytes lost from an empty folder entry's fields through the head of
    // the next entry's header leave one header of both: the next entry's data, whose CRC-32 its
    // record gives, still stands whole. It is read from there under its own name and folder, never
    // under the name bytes left in that header.
    QFETCH(QByteArray, part);
    QFETCH(int, from);
    QFETCH(int, into);
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    int i = 1;
    while (i < entries.size()
           && !(entries[i].name.contains(part) && entries[i].size > 0 && entries[i - 1].name.endsWith('/')
                && entries[i - 1].size == 0 && entries[i].name.size() > into - 30))
        ++i;
    QVERIFY(i < entries.size());
    const Entry e = entries[i];
    const QByteArray data = a.mid(int(e.data), int(e.size));
    scanBytes(a);
    const qint64 mails = MailItemCount;
    QString folder;
    for (MailMLRC *m : ::mails()) {
        if (m->llDataOffset == e.data)
            folder = folderKey(m->llFolderId);
    }
    CleanScanResults();
    const qint64 at = entries[i - 1].header + from;
    const qint64 lost = e.header + into - at;
    a.remove(int(at), int(lost));
    scanBytes(a);
    QVERIFY2(MailItemCount == mails, qPrintable(report()));
    QVERIFY2(linesWith(EntriesNotRead, QString::fromUtf8(e.name)) == 0, qPrintable(report()));
    int found = 0;
    if (part == "/message_") {
        for (MailMLRC *m : ::mails())
            found += m->llDataOffset == e.data - lost && folderKey(m->llFolderId) == folder;
    } else {
        for (FileOffsetNode *n : attachmentNodes())
            found += n->pEntryName == e.name && bytesAt(a, n->llDataOffset, n->llSize) == data && !n->bSizeCut;
    }
    QVERIFY2(found == 1, qPrintable(report()));
}

void EdgeDamageTest::storeFieldsShifted_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<int>("at");      // the header field the change is made in
    QTest::addColumn<int>("change");  // bytes put in (positive) or lost (negative)
    QTest::addColumn<bool>("stray");  // the directory kept, stray bytes behind its end record; else cut off
    for (const char *store : {"Contacts.xml", "Calendar.xml", "Tasks.xml", "Notes.xml", "Drafts/message_"}) {
        for (int at : {6, 10, 14, 26, 28}) {
            for (int change : {1, -1, 3, 18}) {
                for (bool stray : {false, true})
                    QTest::addRow("%s: %d bytes %s byte %d, %s", store, qAbs(change), change < 0 ? "lost at" : "put in at",
                                  at, stray ? "stray bytes behind the directory" : "no directory")
                        << QByteArray(store) << at << change << stray;
            }
        }
    }
}

void EdgeDamageTest::storeFieldsShifted()
{
    // A store's header whose fields moved by a few bytes, its name and extra read from what
    // followed: its items are still read from its text, every one, and no store's bytes are
    // jumped over. Stray bytes behind the end record do not hide a directory the change moved.
    QFETCH(QByteArray, store);
    QFETCH(int, at);
    QFETCH(int, change);
    QFETCH(bool, stray);
    QByteArray a = sample();
    scanBytes(a);
    const QVector<qint64> intact{MailItemCount, ContactItemCount, CalendarItemCount, TaskItemCount, NotesItemCount};
    CleanScanResults();
    const QVector<Entry> entries = entriesOf(a);
    const Entry *e = firstNamed(entries, store.constData());
    QVERIFY(e);
    if (stray)
        a += QByteArray("e and \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d o");
    else
        a.truncate(int(entries.last().data + entries.last().size));
    if (change < 0)
        a.remove(int(e->header + at), -change);
    else
        a.insert(int(e->header + at), QByteArray(change, '\0'));
    scanBytes(a);
    const QVector<qint64> read{MailItemCount, ContactItemCount, CalendarItemCount, TaskItemCount, NotesItemCount};
    QVERIFY2(read == intact, qPrintable(report()));
    QVERIFY2(linesWith(EntriesNotRead, QStringLiteral("local header and start are lost")) == 0, qPrintable(report()));
    QVERIFY2(!stray || linesWith(EntriesNotRead + EntriesReadElsewhere, QStringLiteral("The archive ends at byte")) == 0,
             qPrintable(report()));
}

void EdgeDamageTest::messageFieldsFarShifted_data()
{
    QTest::addColumn<int>("at");      // the header field the bytes are put into
    QTest::addColumn<int>("change");  // bytes put in: past where a name is looked for behind a signature
    QTest::addColumn<int>("end");     // 0: the directory kept, 1: cut off, 2: the file cut inside the data
    for (int at : {4, 8, 14, 22, 28}) {
        for (int change : {65, 194, 300, 470, 600, 5000}) {
            for (int end : {0, 1, 2})
                QTest::addRow("%d bytes put in at byte %d, %s", change, at,
                              end == 0   ? "directory kept"
                              : end == 1 ? "no directory"
                                         : "cut inside the data")
                    << at << change << end;
        }
    }
}

void EdgeDamageTest::messageFieldsFarShifted()
{
    // Many bytes put into a message header's fields: its name, lengths and extra still stand
    // right before its text. The message is read under its own name, checked by the CRC-32 that
    // stands before its lengths, or named cut where the file ends inside it.
    QFETCH(int, at);
    QFETCH(int, change);
    QFETCH(int, end);
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    const Entry *e = nullptr;
    for (const Entry &x : entries) {
        if (isMessage(x) && (!e || x.size > e->size))
            e = &x;
    }
    QVERIFY(e && e->size > 4000);
    const quint32 crc = le<quint32>(a, e->header + 14);
    if (end > 0)
        a.truncate(int(end == 1 ? entries.last().data + entries.last().size : e->data + e->size / 2));
    scanBytes(a);
    const qint64 intact = MailItemCount;
    CleanScanResults();
    QByteArray fill(change, Qt::Uninitialized);
    for (int i = 0; i < change; ++i)
        fill[i] = char(i * 37 + 11);
    a.insert(int(e->header + at), fill);
    scanBytes(a);
    QVERIFY2(MailItemCount == intact, qPrintable(report()));
    int named = 0;
    for (const MailMLRC *m : mails()) {
        if (m->nNameLength <= 0 || bytesAt(a, m->llNameOffset, m->nNameLength) != e->name)
            continue;
        ++named;
        // Past a few hundred bytes the signature, and any CRC-32 left in its field, is out of
        // reach: the text is read unchecked, never called damaged.
        QVERIFY2(end == 2 ? bool(m->bDamaged) : (m->dwCrc32 == crc || (change > 400 && m->dwCrc32 == 0)) && !m->bDamaged,
                 qPrintable(report()));
    }
    QVERIFY2(named == 1, qPrintable(report()));
}

void EdgeDamageTest::messageFieldsHoldCopiedHeader_data()
{
    QTest::addColumn<int>("at");      // the header field the copy is put into
    QTest::addColumn<int>("copied");  // bytes of the first message's entry copied there: its header and text's head
    QTest::addColumn<bool>("directory");
    for (int at : {14, 22, 26}) {
        for (int copied : {400, 2000, 9000}) {
            for (bool directory : {false, true})
                QTest::addRow("%d bytes of another entry put in at byte %d, %s", copied, at,
                              directory ? "directory kept" : "no directory")
                    << at << copied << directory;
        }
    }
}

void EdgeDamageTest::messageFieldsHoldCopiedHeader()
{
    // A copy of another message's header and the head of its text put into a message header's
    // fields: the copy's size runs over this message's name and text, but its text is read under
    // its own name, never as the end of the copy.
    QFETCH(int, at);
    QFETCH(int, copied);
    QFETCH(bool, directory);
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    const Entry *first = nullptr, *e = nullptr;
    for (const Entry &x : entries) {
        if (isMessage(x) && !first)
            first = &x;
        else if (isMessage(x) && x.size > 20000 && !e)
            e = &x;
    }
    QVERIFY(first && e && first->data + first->size - first->header > copied);
    if (!directory)
        a.truncate(int(entries.last().data + entries.last().size));
    a.insert(int(e->header + at), a.mid(int(first->header), copied));
    scanBytes(a);
    int named = 0;
    for (const MailMLRC *m : mails())
        named += m->nNameLength > 0 && bytesAt(a, m->llNameOffset, m->nNameLength) == e->name;
    QVERIFY2(named == 1, qPrintable(report()));
    QVERIFY2(linesWith(EntriesNotRead, QStringLiteral("local header and start are lost")) == 0, qPrintable(report()));
}

void EdgeDamageTest::storeHeaderHoldsCopiedHeader_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<int>("copied");      // bytes of a message's data copied with its header
    QTest::addColumn<bool>("directory");  // kept, else cut off
    for (const char *store : {"Contacts.xml", "Calendar.xml", "Tasks.xml", "Notes.xml"}) {
        for (int copied : {0, 100, 5000, 30000}) {
            for (bool directory : {false, true})
                QTest::addRow("%s: a header and %d bytes of its data, %s", store, copied,
                              directory ? "directory kept" : "no directory")
                    << QByteArray(store) << copied << directory;
        }
    }
}

void EdgeDamageTest::storeHeaderHoldsCopiedHeader()
{
    // Bytes of the archive itself put into a store's header fields: a copy of a message's header
    // and the head of its data, whose size claims the store's text as well. The store lost its
    // signature behind the copy; its items are still read from its text.
    QFETCH(QByteArray, store);
    QFETCH(int, copied);
    QFETCH(bool, directory);
    QByteArray a = sample();
    scanBytes(a);
    const QVector<qint64> intact{ContactItemCount, CalendarItemCount, TaskItemCount, NotesItemCount};
    CleanScanResults();
    const QVector<Entry> entries = entriesOf(a);
    const Entry *e = firstNamed(entries, store.constData());
    const Entry *m = nullptr;
    for (const Entry &x : entries) {
        if (isMessage(x) && (!m || x.size > m->size))
            m = &x;
    }
    QVERIFY(e && m && m->size > copied);
    if (!directory)
        a.truncate(int(entries.last().data + entries.last().size));
    a.insert(int(e->header + 8), a.mid(int(m->header), int(m->data - m->header + copied)));
    scanBytes(a);
    const QVector<qint64> read{ContactItemCount, CalendarItemCount, TaskItemCount, NotesItemCount};
    QVERIFY2(read == intact, qPrintable(report()));
    QVERIFY2(MailItemCount >= 7, qPrintable(report()));
}

void EdgeDamageTest::damagedHeaderBehindMovedBytes_data()
{
    QTest::addColumn<QByteArray>("entry");  // the entry whose header is damaged
    QTest::addColumn<int>("change");        // bytes put into (positive) or lost from the calendar before it
    QTest::addColumn<QByteArray>("damage");
    for (const char *entry : {"__Attachments/", "/message_"}) {
        for (int change : {1, 64, 2207, 40000, -1, -50}) {
            for (const char *damage :
                 {"name", "name and CRC-32", "name and signature", "record's file name", "record's folder name"})
                QTest::addRow("%s: %d bytes %s the calendar, %s damaged", entry, qAbs(change),
                              change < 0 ? "lost from" : "put into", damage)
                    << QByteArray(entry) << change << QByteArray(damage);
        }
    }
}

void EdgeDamageTest::damagedHeaderBehindMovedBytes()
{
    // The directory kept, every header behind a store moved by bytes put into or lost from its
    // text, and one of those headers damaged besides: its record, moved as much as its
    // neighbours, still places its data by its CRC-32, whole and under its name.
    QFETCH(QByteArray, entry);
    QFETCH(int, change);
    QFETCH(QByteArray, damage);
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    const Entry *calendar = firstNamed(entries, "Calendar.xml");
    const Entry *e = nullptr;
    for (const Entry &x : entries) {
        if (!e && x.header > calendar->header && x.name.contains(entry) && x.size > 0)
            e = &x;
    }
    QVERIFY(calendar && e);
    const QByteArray data = a.mid(int(e->data), int(e->size));
    const quint32 crc = le<quint32>(a, e->header + 14);
    // A byte of the record's name damaged instead (in an attachment's message id, or in the stem
    // a message shares with its neighbours): the header's name, which they share, is read. A
    // digit of a message's number is no such damage: either name may be the damaged one.
    const auto flip = [&a](qint64 at) { a[int(at)] = char(a[int(at)] ^ 0x04); };
    const int record = damage.startsWith("record") ? a.lastIndexOf(e->name) : -1;
    if (record >= 0)
        flip(record + (damage.contains("file") ? e->name.size() - (entry.contains("message") ? 12 : 8) : 8));
    for (int k : {40, 47, 81}) {
        if (record < 0)
            flip(e->header + 30 + qMin(k, e->name.size() - 1));
    }
    if (damage.contains("CRC"))
        flip(e->header + 14);
    if (damage.contains("signature"))
        a[int(e->header + 1)] = 'X';
    if (change > 0)
        a.insert(int(calendar->data + calendar->size / 2), QByteArray(change, '\0'));
    else
        a.remove(int(calendar->data + calendar->size / 2), -change);
    const qint64 at = e->data + change;
    scanBytes(a);
    int found = 0;
    if (entry.contains("message")) {
        for (const MailMLRC *m : mails())
            found += m->llDataOffset == at && m->dwCrc32 == crc && !m->bDamaged
                && (record < 0 || bytesAt(a, m->llNameOffset, m->nNameLength) == e->name);
    } else {
        for (FileOffsetNode *n : attachmentNodes())
            found += n->pEntryName == e->name && bytesAt(a, n->llDataOffset, n->llSize) == data;
    }
    QVERIFY2(found == 1, qPrintable(report()));
    QVERIFY2(MailItemCount == 7, qPrintable(report()));
}

void EdgeDamageTest::lossIntoLaterHeader_data()
{
    QTest::addColumn<QByteArray>("entry");  // the entry whose header's head the loss takes
    QTest::addColumn<int>("into");          // bytes of that header lost; -1: all but its extra, -2: and 1 byte of it
    QTest::addColumn<bool>("near");         // the loss starts 77 bytes before the end of the entry right before
    for (const char *entry : {"__Attachments/", "/message_"}) {
        for (bool near : {false, true}) {
            for (int into : {1, 4, 11, 20, 29, -1, -2})
                QTest::addRow("%s: %s, %s lost", entry, near ? "from the entry right before" : "from two entries before",
                              into == -1   ? "all of its header but the extra"
                              : into == -2 ? "all of its header and a byte of the extra"
                                           : qPrintable(QStringLiteral("its header's first %1 bytes").arg(into)))
                    << QByteArray(entry) << into << near;
        }
    }
}

void EdgeDamageTest::lossIntoLaterHeader()
{
    // The directory kept, and bytes lost from inside an attachment's data through the entries
    // behind it into a later header: that header's record, between one that stands where it
    // says and ones that moved, is looked for moved, and its whole data read under its name,
    // also where the loss took the whole header but the ZIP64 record, or the end of the entry
    // right before with the whole header.
    QFETCH(QByteArray, entry);
    QFETCH(int, into);
    QFETCH(bool, near);
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    int first = 0;
    while (first < entries.size() && !(entries[first].name.contains("__Attachments/") && entries[first].size > 1000))
        ++first;
    int target = first + 2;
    while (target < entries.size()
           && !(entries[target].name.contains(entry) && entries[target].size > 0
                && (!near || entries[target - 1].size > 1000)))
        ++target;
    QVERIFY(target < entries.size());
    const Entry &e = entries[target];
    if (into < 0)
        into = int(30 + e.name.size() + (into == -2 ? 1 : 0));
    const QByteArray data = a.mid(int(e.data), int(e.size));
    const qint64 from = near ? e.header - 77 : entries[first].data + entries[first].size / 2;
    a.remove(int(from), int(e.header + into - from));
    const qint64 at = e.data - (e.header + into - from);
    scanBytes(a);
    int found = 0;
    for (const MailMLRC *m : mails())
        found += m->llDataOffset == at && bytesAt(a, m->llNameOffset, m->nNameLength) == e.name && !m->bDamaged;
    for (FileOffsetNode *n : attachmentNodes())
        found += n->pEntryName == e.name && n->llDataOffset == at && bytesAt(a, n->llDataOffset, n->llSize) == data;
    QVERIFY2(found == 1, qPrintable(report()));
}

void EdgeDamageTest::namesLostWithoutDirectory()
{
    // No directory, and three bytes lost from the middle of every message's name: each message is
    // still read, and the file's end is named.
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    a.truncate(int(entries.last().data + entries.last().size));
    for (int i = entries.size() - 1; i >= 0; --i) {
        if (isMessage(entries[i]))
            a.remove(int(entries[i].header + 30 + entries[i].name.size() / 2), 3);
    }
    scanBytes(a);
    QVERIFY2(MailItemCount == 7, qPrintable(report()));
    QVERIFY2(linesWith(EntriesNotRead, QStringLiteral("The archive ends at byte %1,").arg(a.size())) == 1,
             qPrintable(report()));
}

void EdgeDamageTest::lossAcrossEntries_data()
{
    QTest::addColumn<bool>("directory");
    QTest::addColumn<int>("from");  // the message whose text the loss starts in
    QTest::addColumn<int>("to");    // the message whose text it ends in
    QTest::addColumn<QByteArray>("fromTag");  // the loss starts 50 bytes into this element
    QTest::addColumn<QByteArray>("toTag");    // and ends 2 bytes before this one
    const int pairs[][2] = {{1, 2}, {1, 3}, {4, 5}};
    for (bool directory : {true, false}) {
        for (const auto &p : pairs) {
            for (const char *fromTag : {"<OPFMessageCopyBody", "<OPFMessageCopyMessageID"}) {
                for (const char *toTag : {"<OPFMessageCopyMessageID", "<OPFMessageCopySubject"}) {
                    QTest::addRow("from inside message %d's %s to before message %d's %s%s", p[0], fromTag + 15,
                                  p[1], toTag + 15, directory ? "" : ", no central directory")
                        << directory << p[0] << p[1] << QByteArray(fromTag) << QByteArray(toTag);
                }
            }
        }
    }
}

void EdgeDamageTest::lossAcrossEntries()
{
    // Bytes lost from inside one message's text to inside a later one's: no message takes fields
    // from two entries, and every message is listed or named.
    QFETCH(bool, directory);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QByteArray, fromTag);
    QFETCH(QByteArray, toTag);
    TestArchiveBuilder b;
    QVector<qint64> headers;
    QVector<QByteArray> texts;
    for (int i = 0; i < 6; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Subject %1").arg(i);
        m.body = QStringLiteral("Body %1 ").arg(i).repeated(40);
        m.sent = QStringLiteral("2018-06-21T03:26:46");
        m.from = {{QStringLiteral("a%1@example.com").arg(i), QStringLiteral("Sender %1").arg(i)}};
        m.messageId = QStringLiteral("id-%1@example.com").arg(i);
        texts.append(OlmXml::emails({m}));
        headers.append(b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(i), texts.last()));
    }
    const QVector<TestArchiveBuilder::Entry> &entries = b.entries();
    QByteArray a = b.finish(directory);
    const qint64 start = entries[from].dataOffset + texts[from].indexOf(fromTag) + 50;
    const qint64 end = entries[to].dataOffset + texts[to].indexOf(toTag) - 2;
    a.remove(int(start), int(end - start));
    scanBytes(a);
    for (MailMLRC *m : mails()) {
        const QByteArray name = bytesAt(a, m->llNameOffset, m->nNameLength);
        const QByteArray subject = m->pSubject ? QByteArray(m->pSubject) : QByteArray();
        // Read under its own name, or recovered without one: its subject is its own.
        if (!name.isEmpty())
            QVERIFY2(subject.isEmpty() || name.endsWith("message_" + subject.mid(8) + ".xml"),
                     qPrintable(name + " holds " + subject + "\n" + report()));
    }
    for (int i = 0; i < 6; ++i) {
        const QByteArray name = "message_" + QByteArray::number(i) + ".xml";
        bool listed = false;
        for (MailMLRC *m : mails())
            listed = listed || bytesAt(a, m->llNameOffset, m->nNameLength).endsWith(name);
        QVERIFY2(listed || report().contains(QString::fromLatin1(name))
                     || report().contains(QStringLiteral("Subject %1").arg(i)) || !EntriesNotRead.isEmpty(),
                 qPrintable(name + "\n" + report()));
    }
}

void EdgeDamageTest::directoryDamage_data()
{
    QTest::addColumn<QByteArray>("damage");
    QTest::addColumn<bool>("lost");  // message 2's entry is gone from the file; its record names it
    QTest::addColumn<int>("listed");
    QTest::newRow("4 bytes lost inside the first record") << QByteArray("lose") << true << 5;
    QTest::newRow("18 bytes put into the first record") << QByteArray("add") << true << 5;
    QTest::newRow("a copy of an entry behind the end record") << QByteArray("junk") << true << 6;
    // Line ends converted inside the record's fixed fields: its lengths and name stand that much on.
    QTest::newRow("1 byte put into the lost entry's record's fields") << QByteArray("fields 1") << true << 5;
    QTest::newRow("3 bytes put into the lost entry's record's fields") << QByteArray("fields 3") << true << 5;
    QTest::newRow("2 bytes put into its record's fields, the end records lost") << QByteArray("fields end 2") << true << 5;
    QTest::newRow("a flipped bit in a record's file name") << QByteArray("file") << false << 6;
    QTest::newRow("a flipped bit in a record's folder name") << QByteArray("folder") << false << 6;
    // The name no longer UTF-8: the writer writes none such.
    QTest::newRow("the high bit set in a record's file name") << QByteArray("file high") << false << 6;
    QTest::newRow("the high bit set in a record's folder name") << QByteArray("folder high") << false << 6;
    // Every header behind the first message moved by bytes put into its data: the record is
    // looked for moved as much, and its header's name, standing there, is read.
    QTest::newRow("a flipped bit in a moved record's file name") << QByteArray("file moved") << false << 6;
    QTest::newRow("a flipped bit in a moved record's folder name") << QByteArray("folder moved") << false << 6;
    // The header's name damaged, its record whole: the record's name, whose stem its
    // neighbours share, is read.
    QTest::newRow("a flipped bit in a header's file name") << QByteArray("header") << false << 6;
    QTest::newRow("a flipped bit in a moved header's file name") << QByteArray("header moved") << false << 6;
}

void EdgeDamageTest::directoryDamage()
{
    // Damage inside or behind the directory: a message whose entry is lost is named by what is
    // left of its record, and one whose record's name is damaged is read by its whole header.
    QFETCH(QByteArray, damage);
    QFETCH(bool, lost);
    QFETCH(int, listed);
    TestArchiveBuilder b;
    for (int i = 0; i < 6; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Subject %1").arg(i);
        m.messageId = QStringLiteral("id-%1@example.com").arg(i);
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(i), OlmXml::emails({m}));
    }
    const QVector<TestArchiveBuilder::Entry> e = b.entries();
    QByteArray a = b.finish();
    const qint64 records = e.last().dataOffset + e.last().size;
    const int third = a.indexOf("Inbox/message_3.xml", int(records));
    if (damage == "lose")
        a.remove(int(records + 20), 4);
    else if (damage == "add")
        a.insert(int(records + 50), QByteArray(18, 'x'));
    else if (damage == "junk")
        a += a.mid(int(e[5].headerOffset), int(records - e[5].headerOffset));
    else if (damage.startsWith("fields"))
        a.insert(a.indexOf("Local/com.microsoft.__Messages/Inbox/message_2.xml", int(records)) - 46 + 6,
                 QByteArray(damage.right(1).toInt(), '\r'));
    if (damage.startsWith("fields end")) {
        const int ends = a.indexOf("PK\x06\x06", int(records));
        a.truncate(ends >= 0 ? ends : a.indexOf("PK\x05\x06", int(records)));
    }
    else if (damage.startsWith("header"))
        a[int(e[3].headerOffset + 30 + 37)] = char(a[int(e[3].headerOffset + 30 + 37)] ^ 0x04);
    else {
        const int at = damage.startsWith("file") ? third + 8 : third + 3;
        a[at] = char(a[at] ^ (damage.endsWith("high") ? 0x80 : 0x04));
    }
    if (lost)
        a.remove(int(e[2].headerOffset), int(e[3].headerOffset - e[2].headerOffset));
    if (damage.endsWith("moved"))
        a.insert(int(e[1].headerOffset), QByteArray(100, 'x'));
    scanBytes(a);
    QVERIFY2(MailItemCount == listed, qPrintable(report()));
    QVERIFY2(!lost || linesWith(EntriesNotRead, QStringLiteral("Inbox/message_2.xml")) == 1, qPrintable(report()));
    for (MailMLRC *m : mails()) {
        const QByteArray name = bytesAt(a, m->llNameOffset, m->nNameLength);
        QVERIFY2(name.startsWith("Local/com.microsoft.__Messages/Inbox/message_"), qPrintable(name + "\n" + report()));
    }
}

void EdgeDamageTest::directoryMovedOntoRecords_data()
{
    QTest::addColumn<QByteArray>("where");  // the bytes are lost or added right at this entry's header
    QTest::addColumn<int>("records");       // as many bytes as the directory's first records hold
    QTest::addColumn<bool>("added");        // a copy of those records put in, else bytes lost
    for (const char *where : {"__Attachments/", "/message_", "directory"}) {
        for (int records : {1, 2, 5}) {
            for (bool added : {false, true})
                QTest::addRow("%s %d records' length %s", added ? "a copy of" : "bytes lost:", records,
                              QByteArray(where).startsWith("dir") ? "before the directory"
                                                                  : qPrintable(QStringLiteral("at the first %1 header")
                                                                                   .arg(QLatin1String(where))))
                    << QByteArray(where) << records << added;
        }
    }
}

void EdgeDamageTest::directoryMovedOntoRecords()
{
    // Bytes lost or added before the directory by as many as its first records hold leave the
    // end record's offset on a record all the same: the directory is still found where its size
    // puts it, and every message is read.
    QFETCH(QByteArray, where);
    QFETCH(int, records);
    QFETCH(bool, added);
    QByteArray a = sample();
    scanBytes(a);
    const qint64 intact = MailItemCount;
    CleanScanResults();
    const QVector<Entry> entries = entriesOf(a);
    const qint64 directory = entries.last().data + entries.last().size;
    qint64 span = 0;
    for (int i = 0; i < records; ++i) {
        const qint64 at = directory + span;
        span += 46 + le<quint16>(a, at + 28) + le<quint16>(a, at + 30) + le<quint16>(a, at + 32);
    }
    const Entry *entry = where == "directory" ? nullptr : firstNamed(entries, where.constData());
    const qint64 at = entry ? entry->header : directory;
    // Bytes lost past a message's header take its text with them: it is named instead.
    const bool messageLost = !added && entry && where == "/message_" && span > entry->data - entry->header;
    // Lost right before the directory, the bytes are the last entry's; else the header's own.
    if (added)
        a.insert(int(at), a.mid(int(directory), int(span)));
    else
        a.remove(int(where == "directory" ? at - span : at), int(span));
    scanBytes(a);
    QVERIFY2(linesWith(EntriesNotRead + EntriesReadElsewhere, QStringLiteral("The archive ends at byte")) == 0,
             qPrintable(report()));
    QVERIFY2(!entry || linesWith(EntriesReadElsewhere, QStringLiteral("The central directory lies %1 bytes").arg(span)) == 1,
             qPrintable(report()));
    QVERIFY2(MailItemCount == intact - messageLost, qPrintable(QString::number(MailItemCount) + "\n" + report()));
    QVERIFY2(!messageLost || linesWith(EntriesNotRead, QString::fromUtf8(entry->name)) == 1, qPrintable(report()));
}

void EdgeDamageTest::damageInsideDirectory_data()
{
    QTest::addColumn<int>("record");   // the record the change is made in, from the directory's first
    QTest::addColumn<int>("change");   // bytes put in (positive) or lost (negative), 20 bytes into it and no
                                       // further than its end
    QTest::addColumn<bool>("header");  // and 22 bytes lost from the first attachment's header
    for (int record : {0, 25, 52}) {
        for (int change : {-5, -40, 7, 100}) {
            for (bool header : {false, true})
                QTest::addRow("%d bytes %s record %d%s", qAbs(change), change < 0 ? "lost from" : "put into", record,
                              header ? ", an attachment header damaged" : "")
                    << record << change << header;
        }
    }
}

void EdgeDamageTest::damageInsideDirectory()
{
    // Bytes lost or put in among the directory's records, which the end record's size no longer
    // holds: the directory is still used, no cut is reported, every mail and attachment is read,
    // also one whose own header the directory alone places.
    QFETCH(int, record);
    QFETCH(int, change);
    QFETCH(bool, header);
    QByteArray a = sample();
    scanBytes(a);
    const qint64 mails = MailItemCount, attachments = AttachmentNodeCount;
    CleanScanResults();
    const QVector<Entry> entries = entriesOf(a);
    qint64 at = entries.last().data + entries.last().size;
    for (int i = 0; i < record; ++i)
        at += 46 + le<quint16>(a, at + 28) + le<quint16>(a, at + 30) + le<quint16>(a, at + 32);
    QVERIFY(le<quint32>(a, at) == 0x02014B50);
    if (change < 0)
        a.remove(int(at + 20), -change);
    else
        a.insert(int(at + 20), QByteArray(change, 'j'));
    if (header)
        a.remove(int(firstNamed(entries, "__Attachments/")->header), 22);
    scanBytes(a);
    QVERIFY2(linesWith(EntriesNotRead + EntriesReadElsewhere, QStringLiteral("The archive ends at byte")) == 0,
             qPrintable(report()));
    QVERIFY2(linesWith(EntriesReadElsewhere, QStringLiteral("The central directory is damaged")) == 1,
             qPrintable(report()));
    QVERIFY2(MailItemCount == mails, qPrintable(report()));
    QVERIFY2(AttachmentNodeCount == attachments, qPrintable(report()));
}

namespace {

QVector<qint64> storeCounts()
{
    return {MailItemCount, ContactItemCount, CalendarItemCount, TaskItemCount, NotesItemCount};
}

// The first entry named store, and the archive cut before its directory unless that is kept.
Entry storeWithoutDirectory(const QByteArray &store, bool directory, QByteArray *a)
{
    const QVector<Entry> entries = entriesOf(*a);
    const Entry *e = firstNamed(entries, store.constData());
    if (!directory)
        a->truncate(int(entries.last().data + entries.last().size));
    return e ? *e : Entry();
}

// The counts a scan of the archive before its damage gives.
QVector<qint64> intactStoreCounts(const QByteArray &a)
{
    scanBytes(a);
    const QVector<qint64> counts = storeCounts();
    CleanScanResults();
    return counts;
}

}  // namespace

void EdgeDamageTest::bytesPutIntoStore_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QByteArray>("put");  // put into the store's text, three fifths of the way in; empty: its
                                          // LFs written as CR LF
    QTest::addColumn<int>("record");      // the directory's record 40 bytes are lost from; -1: none, -2: the
                                          // record of the entry behind the store
    QByteArray binary;
    for (int i = 0; i < 278; ++i)
        binary += char(i % 97 == 5 ? 0 : (i * 73 + 11) & 0xff);
    for (const char *store : {"Contacts.xml", "Calendar.xml", "Tasks.xml", "Notes.xml"}) {
        for (const QByteArray &put : {QByteArray("hello"), binary, QByteArray()}) {
            for (int record : {-1, -2, 0, 20, 47, 52})
                QTest::addRow("%s: %s, %s", store,
                              put.isEmpty() ? "CR LF" : qPrintable(QStringLiteral("%1 bytes put in").arg(put.size())),
                              record == -1   ? "the directory whole"
                                  : record == -2 ? "bytes lost from the next entry's record"
                                                 : qPrintable(QStringLiteral("bytes lost from record %1").arg(record)))
                    << QByteArray(store) << put << record;
        }
    }
}

void EdgeDamageTest::bytesPutIntoStore()
{
    // Bytes put into a store's text: it runs on to the next header, and every item behind the
    // bytes is read, wherever records were lost from the directory: also where the next entry's
    // record, lost, leaves its successor unknown. The folder entries behind a lost record are no
    // stray bytes.
    QFETCH(QByteArray, store);
    QFETCH(QByteArray, put);
    QFETCH(int, record);
    QByteArray a = sample();
    const QVector<qint64> intact = intactStoreCounts(a);
    const QVector<Entry> entries = entriesOf(a);
    const Entry *e = firstNamed(entries, store.constData());
    QVERIFY(e);
    qint64 at = entries.last().data + entries.last().size;
    const auto name = [&a](qint64 r) { return a.mid(int(r + 46), le<quint16>(a, r + 28)); };
    for (int i = 0; record == -2 ? name(at) != e->name : i < record; ++i)
        at += 46 + le<quint16>(a, at + 28) + le<quint16>(a, at + 30) + le<quint16>(a, at + 32);
    if (record == -2)
        at += 46 + le<quint16>(a, at + 28) + le<quint16>(a, at + 30) + le<quint16>(a, at + 32);
    if (record != -1) {
        QVERIFY(le<quint32>(a, at) == 0x02014B50);
        a.remove(int(at + 20), 40);
    }
    if (put.isEmpty())
        a.replace(int(e->data), int(e->size), a.mid(int(e->data), int(e->size)).replace("\n", "\r\n"));
    else
        a.insert(int(e->data + e->size * 3 / 5), put);
    scanBytes(a);
    QVERIFY2(storeCounts() == intact, qPrintable(report()));
    QVERIFY2(linesWith(EntriesReadElsewhere, QStringLiteral("no entry's and end no item")) == 0, qPrintable(report()));
}

void EdgeDamageTest::attachmentRecordNameDamaged_data()
{
    QTest::addColumn<QByteArray>("bytes");  // over the attachment record's name from its 45th byte on
    QTest::addColumn<bool>("putIn");        // put in there instead, the record's extra moved behind them
    const QByteArray high("\x87\x90\x86=N\xe3\xe5\xf1\x93\xaa", 10), control("\x01\x02\x11U\x0f", 5);
    QByteArray run;
    for (int i = 0; i < 300; ++i)
        run += char((i * 151 + 7) & 0xff);
    QTest::newRow("bytes no name holds written over it") << high << false;
    QTest::newRow("control bytes written over it") << control << false;
    QTest::newRow("bytes no name holds put into it") << high << true;
    QTest::newRow("300 random bytes put into it") << run << true;
}

void EdgeDamageTest::attachmentRecordNameDamaged()
{
    // An attachment's record whose name holds bytes no name holds: its neighbours are its message
    // and the next one, of another folder, but its local header's name, whose fields agree with
    // the record and whose data verifies, is the entry's.
    QFETCH(QByteArray, bytes);
    QFETCH(bool, putIn);
    TestArchiveBuilder b;
    const QString inbox = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    QSet<QByteArray> names;
    for (int n = 0; n < 4; ++n) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Message %1").arg(n);
        m.messageId = QStringLiteral("m%1@example.org").arg(n);
        const QString url = inbox + QStringLiteral("com.microsoft.__Attachments/m%1@example.org_0000").arg(n);
        m.attachmentUrls << url;
        m.attachmentNames << QStringLiteral("file%1.bin").arg(n);
        b.addEntry(url, QByteArray(1500, char('a' + n)));
        b.addEntry(inbox + QStringLiteral("message_%1.xml").arg(n, 5, 10, QLatin1Char('0')), OlmXml::emails({m}));
        names.insert(url.toUtf8());
    }
    const QVector<TestArchiveBuilder::Entry> e = b.entries();
    QByteArray a = b.finish();
    const int name = a.indexOf("m2@example.org_0000", int(e.last().dataOffset + e.last().size)) - 65;
    QVERIFY(a.mid(name, 6) == "Local/");
    if (putIn)
        a.insert(name + 45, bytes);
    else
        a.replace(name + 45, bytes.size(), bytes);
    scanBytes(a);
    QVERIFY2(MailItemCount == 4, qPrintable(report()));
    QSet<QByteArray> read;
    for (FileOffsetNode *n : attachmentNodes())
        read.insert(QByteArray(n->pEntryName));
    QVERIFY2(read == names, qPrintable(report()));
}

void EdgeDamageTest::folderHeaderLostIntoStore_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<int>("from");  // the folder header's byte the loss starts at
    QTest::addColumn<int>("into");  // bytes of the store's text lost with its header: its root's head
    for (const char *store : {"Contacts.xml", "Calendar.xml", "Tasks.xml", "Notes.xml"}) {
        for (int from : {18, 26, 29, 31}) {
            for (int into : {1, 4, 11, 30})
                QTest::addRow("%s: folder header from byte %d, %d bytes of its text", store, from, into)
                    << QByteArray(store) << from << into;
        }
    }
}

void EdgeDamageTest::folderHeaderLostIntoStore()
{
    // Bytes lost from the folder entry before a store through the store's header into the head of
    // its root's start tag: what is left of the folder's header reads the store's text as its
    // name and extra, whose ZIP64 record is not there. Every item behind the lost tag is read.
    QFETCH(QByteArray, store);
    QFETCH(int, from);
    QFETCH(int, into);
    QByteArray a = sample();
    scanBytes(a);
    const QVector<qint64> intact{MailItemCount, ContactItemCount, CalendarItemCount, TaskItemCount, NotesItemCount};
    CleanScanResults();
    const QVector<Entry> entries = entriesOf(a);
    int i = 1;
    while (i < entries.size() && !(entries[i].name.endsWith(store) && entries[i - 1].name.endsWith('/')))
        ++i;
    QVERIFY(i < entries.size());
    const qint64 at = entries[i - 1].header + from;
    a.remove(int(at), int(entries[i].data + into - at));
    scanBytes(a);
    const QVector<qint64> read{MailItemCount, ContactItemCount, CalendarItemCount, TaskItemCount, NotesItemCount};
    QVERIFY2(read == intact, qPrintable(report()));
}

void EdgeDamageTest::attachmentExtraWithoutDirectory_data()
{
    QTest::addColumn<int>("at");      // the byte of the attachment's ZIP64 record the change starts at
    QTest::addColumn<int>("change");  // bytes put in (positive) or lost (negative)
    QTest::addColumn<bool>("zip");    // the attachment is a zip of its own
    const std::pair<const char *, int> fields[] = {{"tag", 1}, {"length", 3}, {"size", 4}, {"size", 9},
                                                   {"compressed size", 12}, {"compressed size", 19}};
    for (const auto &[field, at] : fields) {
        for (int change : {-1, -2, -5, 1, 7, 300, 3525, 40000}) {
            // Losses that reach the data, or both sizes, leave nothing to find it by.
            if (at - change > 20 || (at < 12 && at - change > 12))
                continue;
            for (bool zip : {false, true})
                QTest::addRow("%d bytes %s byte %d (%s) of a %s", qAbs(change), change < 0 ? "lost from" : "put into",
                              at, field, zip ? "zip" : "document")
                    << at << change << zip;
        }
    }
}

void EdgeDamageTest::attachmentExtraWithoutDirectory()
{
    // No directory, and bytes lost from or put into an attachment's ZIP64 record: its sizes read
    // from there may be anything, but the one that stands and its CRC-32 find its data ending at
    // the next header, however many bytes were put in before it.
    QFETCH(int, at);
    QFETCH(int, change);
    QFETCH(bool, zip);
    QByteArray a;
    Entry e;
    QVERIFY(withoutDirectory(zip, &a, &e));
    const QByteArray data = a.mid(int(e.data), int(e.size));
    const qint64 extra = e.header + 30 + e.name.size();
    if (change < 0)
        a.remove(int(extra + at), -change);
    else
        a.insert(int(extra + at), QByteArray(change, '\0'));
    scanBytes(a);
    QVERIFY2(MailItemCount == 7, qPrintable(report()));
    int found = 0;
    for (FileOffsetNode *n : attachmentNodes())
        found += n->pEntryName == e.name && bytesAt(a, n->llDataOffset, n->llSize) == data;
    QVERIFY2(found == 1, qPrintable(report()));
}

void EdgeDamageTest::zipDirectoryCopiedIntoDirectory_data()
{
    QTest::addColumn<int>("record");   // the record the copy is put before, from the directory's first
    QTest::addColumn<int>("records");  // the zip's own records copied; -1: all of them
    for (int record : {0, 25, 52}) {
        for (int records : {1, 4, -1})
            QTest::addRow("%d of a document's own records put before record %d", records, record) << record << records;
    }
}

void EdgeDamageTest::zipDirectoryCopiedIntoDirectory()
{
    // Records of a zip stored as an attachment (a document's parts) copied among the archive's
    // own: their names lie in none of its folders, and their headers, found by those names, stand
    // inside the attachment. The attachment stays whole; none of its parts is an entry.
    QFETCH(int, record);
    QFETCH(int, records);
    QByteArray a = sample();
    scanBytes(a);
    const qint64 mails = MailItemCount, attachments = AttachmentNodeCount;
    CleanScanResults();
    const QVector<Entry> entries = entriesOf(a);
    const auto zip = std::find_if(entries.begin(), entries.end(), [&](const Entry &x) {
        return x.name.contains("__Attachments/") && x.size > 0 && a.mid(int(x.data), 4) == "PK\x03\x04";
    });
    QVERIFY(zip != entries.end());
    const QByteArray data = a.mid(int(zip->data), int(zip->size));
    const int own = data.indexOf("PK\x01\x02");
    int end = own;
    for (int k = 0; (records < 0 || k < records) && le<quint32>(data, end) == 0x02014B50; ++k)
        end += 46 + le<quint16>(data, end + 28) + le<quint16>(data, end + 30) + le<quint16>(data, end + 32);
    qint64 at = entries.last().data + entries.last().size;
    for (int i = 0; i < record; ++i)
        at += 46 + le<quint16>(a, at + 28) + le<quint16>(a, at + 30) + le<quint16>(a, at + 32);
    a.insert(int(at), data.mid(own, end - own));
    scanBytes(a);
    QVERIFY2(MailItemCount == mails, qPrintable(report()));
    QVERIFY2(AttachmentNodeCount == attachments, qPrintable(report()));
    int found = 0;
    for (FileOffsetNode *n : attachmentNodes())
        found += n->pEntryName == zip->name && bytesAt(a, n->llDataOffset, n->llSize) == data;
    QVERIFY2(found == 1, qPrintable(report()));
    QVERIFY2(linesWith(EntriesNotRead, QStringLiteral("word/")) == 0, qPrintable(report()));
}

void EdgeDamageTest::nameLostIntoExtraWithoutDirectory_data()
{
    QTest::addColumn<QByteArray>("part");  // the entry whose name loses bytes
    QTest::addColumn<int>("lost");         // bytes lost from the middle of its name
    for (const char *part : {"/message_", "__Attachments/"}) {
        for (int lost : {1, 3, 9, 21})
            QTest::addRow("%s: %d bytes of its name lost", part, lost) << QByteArray(part) << lost;
    }
}

void EdgeDamageTest::nameLostIntoExtraWithoutDirectory()
{
    // No directory, and bytes lost from a name whose length still counts them: the name takes
    // the first bytes of the ZIP64 record, its control bytes with them. The name ends at those;
    // the record behind it gives the sizes, and the CRC-32 verifies the data where it stands.
    QFETCH(QByteArray, part);
    QFETCH(int, lost);
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    const Entry *e = firstNamed(entries, part.constData());
    QVERIFY(e);
    const QByteArray data = a.mid(int(e->data), int(e->size));
    a.truncate(int(entries.last().data + entries.last().size));
    const int at = int(e->header + 30 + e->name.size() / 2);
    a.remove(at, lost);
    const QByteArray name = e->name.left(e->name.size() / 2) + e->name.mid(e->name.size() / 2 + lost);
    scanBytes(a);
    int found = 0;
    if (part == "/message_") {
        for (MailMLRC *m : mails())
            found += bytesAt(a, m->llDataOffset, m->dwEntrySize) == data && bytesAt(a, m->llNameOffset, m->nNameLength) == name;
    } else {
        for (FileOffsetNode *n : attachmentNodes())
            found += n->pEntryName == name && bytesAt(a, n->llDataOffset, n->llSize) == data;
    }
    QVERIFY2(found == 1, qPrintable(report()));
}

void EdgeDamageTest::storeHeaderFieldsFlipped_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<int>("fields");  // 1: its method, 2: and its name length, 3: and a byte of its name;
                                      // -n: n bytes of its name alone
    QTest::addColumn<bool>("directory");
    for (const char *store : {"Contacts.xml", "Calendar.xml", "Tasks.xml", "Notes.xml"}) {
        for (int fields : {1, 2, 3, -1, -2, -4}) {
            for (bool directory : {true, false})
                QTest::addRow("%s: %d fields flipped, %s", store, fields, directory ? "directory kept" : "no directory")
                    << QByteArray(store) << fields << directory;
        }
    }
}

void EdgeDamageTest::storeHeaderFieldsFlipped()
{
    // Bits flipped in a store header's method (to one no zip writer uses), name length and name:
    // the header describes nothing, and the store's text behind it is read by its root element.
    // Bits flipped in its name alone: the name is the list's all the same.
    QFETCH(QByteArray, store);
    QFETCH(int, fields);
    QFETCH(bool, directory);
    QByteArray a = sample();
    const QVector<qint64> intact = intactStoreCounts(a);
    const Entry e = storeWithoutDirectory(store, directory, &a);
    QVERIFY(!e.name.isEmpty());
    const int h = int(e.header);
    // Bits of a list's name flipped: no other name comes near it, and its items are read.
    for (int k = 0; k < -fields; ++k)
        a[h + 31 + k * 6] = char(a[h + 31 + k * 6] ^ (k % 2 ? 0x80 : 0x20));
    if (fields > 0)
        a[h + 9] = char(a[h + 9] ^ 0x04);
    if (fields >= 2)
        a[h + 27] = char(a[h + 27] ^ 0x10);
    if (fields >= 3)
        a[h + 38] = char(a[h + 38] ^ 0x08);
    scanBytes(a);
    QVERIFY2(storeCounts() == intact, qPrintable(report()));
}

void EdgeDamageTest::storeNameHoldsPutBytes_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QByteArray>("put");  // put into its header's name, a third of the way in
    QTest::addColumn<bool>("directory");
    QByteArray binary;
    for (int i = 0; i < 7; ++i)
        binary += char(0x81 + i * 29);
    const QByteArray text = sample().mid(1124214, 2751);  // a message's text, copied
    for (const char *store : {"Contacts.xml", "Calendar.xml", "Tasks.xml", "Notes.xml"}) {
        for (const QByteArray &put : {binary, text.left(300), text}) {
            for (bool directory : {true, false})
                QTest::addRow("%s: %d bytes put in, %s", store, int(put.size()),
                              directory ? "directory kept" : "no directory")
                    << QByteArray(store) << put << directory;
        }
    }
}

void EdgeDamageTest::storeNameHoldsPutBytes()
{
    // Bytes put into a store header's name: its CRC-32 and sizes still stand, and its data is
    // found by them. The directory's record names it; without one, the head of the name and the
    // bytes right before the extra give the store's name back.
    QFETCH(QByteArray, store);
    QFETCH(QByteArray, put);
    QFETCH(bool, directory);
    QByteArray a = sample();
    const QVector<qint64> intact = intactStoreCounts(a);
    const Entry e = storeWithoutDirectory(store, directory, &a);
    QVERIFY(!e.name.isEmpty());
    a.insert(int(e.header + 30 + e.name.size() / 3), put);
    scanBytes(a);
    QVERIFY2(storeCounts() == intact, qPrintable(report()));
}

void EdgeDamageTest::directoryMovedAsMuchAsLost_data()
{
    QTest::addColumn<int>("message");  // the message bytes are put in front of
    QTest::addColumn<int>("record");   // the record as many bytes are lost from, 20 bytes into it
    QTest::addColumn<int>("bytes");
    for (int message : {0, 3, 5}) {
        for (int record : {0, 2, 5}) {
            for (int bytes : {1, 5, 40})
                QTest::addRow("%d bytes put before message %d, lost from record %d", bytes, message, record)
                    << message << record << bytes;
        }
    }
}

void EdgeDamageTest::directoryMovedAsMuchAsLost()
{
    // Bytes put in before an entry and as many lost among the directory's records: the end
    // record still adds up, but the directory starts later than it says. The last entry runs on
    // to the first record, and its CRC-32 verifies there: it is whole, not cut.
    QFETCH(int, message);
    QFETCH(int, record);
    QFETCH(int, bytes);
    TestArchiveBuilder b;
    for (int i = 0; i < 6; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Subject %1").arg(i);
        m.body = QStringLiteral("Body %1 ").arg(i).repeated(40);
        m.messageId = QStringLiteral("id-%1@example.com").arg(i);
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(i), OlmXml::emails({m}));
    }
    const QVector<TestArchiveBuilder::Entry> &entries = b.entries();
    QByteArray a = b.finish();
    qint64 at = entries.last().dataOffset + entries.last().size;
    for (int i = 0; i < record; ++i)
        at += 46 + le<quint16>(a, at + 28) + le<quint16>(a, at + 30) + le<quint16>(a, at + 32);
    QVERIFY(le<quint32>(a, at) == 0x02014B50);
    a.remove(int(at + 20), bytes);
    a.insert(int(entries[message].headerOffset), QByteArray(bytes, 'j'));
    scanBytes(a);
    int whole = 0;
    for (MailMLRC *m : mails())
        whole += !m->bDamaged && m->dwDataLength == m->dwEntrySize;
    QVERIFY2(whole == 6, qPrintable(report()));
}

void EdgeDamageTest::zerosBehindEndRecord_data()
{
    QTest::addColumn<int>("zeros");
    QTest::addColumn<bool>("moved");  // and bytes put in before the first message: only the directory
                                      // knows where its records' headers went
    for (int zeros : {1, 1000, 65535, 65536 + 22, 70000, 300000}) {
        for (bool moved : {false, true})
            QTest::addRow("%d NULs behind the end record%s", zeros, moved ? ", headers moved" : "") << zeros << moved;
    }
}

void EdgeDamageTest::zerosBehindEndRecord()
{
    // A copy padded with NULs to a block's size, further than an end record's comment reaches:
    // the end record is still found behind them, and the directory read. The NULs hold nothing.
    QFETCH(int, zeros);
    QFETCH(bool, moved);
    QByteArray a = sample();
    const QVector<qint64> intact = intactStoreCounts(a);
    const QVector<Entry> entries = entriesOf(a);
    const Entry *first = firstNamed(entries, "/message_");
    QVERIFY(first);
    if (moved)
        a.insert(int(first->header), QByteArray(40, 'x'));
    a += QByteArray(zeros, '\0');
    scanBytes(a);
    QVERIFY2(storeCounts() == intact, qPrintable(report()));
    QVERIFY2(linesWith(EntriesNotRead + EntriesReadElsewhere, QStringLiteral("The archive ends")) == 0,
             qPrintable(report()));
}

void EdgeDamageTest::directoryFarMovedAndDamaged_data()
{
    QTest::addColumn<int>("lost");  // bytes lost before the directory, from the first message's header on
    QTest::addColumn<int>("put");   // NULs put in among its records, two thirds of the way in
    for (int lost : {1000, 70000, 200000}) {
        for (int put : {100, 84193})
            QTest::addRow("%d bytes lost before it, %d put in", lost, put) << lost << put;
    }
}

void EdgeDamageTest::directoryFarMovedAndDamaged()
{
    // Whole entries lost before the directory and bytes put in among its records: its size no
    // longer holds, and its first records stand further back than where its end record places
    // it. Every record is read from its first on: each message is read, or named as lost.
    QFETCH(int, lost);
    QFETCH(int, put);
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    const qint64 directory = entries.last().data + entries.last().size;
    const int end = a.lastIndexOf("PK\x05\x06");
    a.insert(int(directory + (end - directory) * 2 / 3), QByteArray(put, '\0'));
    const Entry *first = firstNamed(entries, "/message_");
    QVERIFY(first && first->header + lost < directory);
    a.remove(int(first->header), lost);
    scanBytes(a);
    for (const Entry &e : entries) {
        if (!isMessage(e))
            continue;
        bool read = false;
        for (MailMLRC *m : mails())
            read = read || bytesAt(a, m->llNameOffset, m->nNameLength) == e.name;
        QVERIFY2(read || linesWith(EntriesNotRead, QString::fromUtf8(e.name)) > 0,
                 qPrintable(e.name + "\n" + report()));
    }
}

void EdgeDamageTest::storeHeadLostFromNameOn_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QByteArray>("item");  // the store's item start tag
    QTest::addColumn<int>("field");        // where in the header the loss starts: its name length, its extra length
    QTest::addColumn<int>("lost");
    const QList<QPair<QByteArray, QByteArray>> stores = {
        {"Contacts.xml", "<contact "}, {"Calendar.xml", "<appointment "}, {"Tasks.xml", "<task "}};
    for (const auto &store : stores) {
        for (int field : {27, 28}) {
            for (int lost : {437, 3171})
                QTest::addRow("%s: %d bytes lost from byte %d of its header", store.first.constData(), lost, field)
                    << store.first << store.second << field << lost;
        }
    }
}

void EdgeDamageTest::storeHeadLostFromNameOn()
{
    // Bytes lost from a store header's name or extra length on, its name, extra and the start of
    // its text with them: its CRC-32 and size still agree with its record, but its data does not
    // verify anywhere. What is left is read by its items: every item behind the loss is read.
    QFETCH(QByteArray, store);
    QFETCH(QByteArray, item);
    QFETCH(int, field);
    QFETCH(int, lost);
    QByteArray a = sample();
    const Entry e = storeWithoutDirectory(store, true, &a);
    QVERIFY(!e.name.isEmpty());
    const QByteArray text = a.mid(int(e.data), int(e.size));
    const qint64 cut = e.header + field + lost - e.data;  // into the text
    QVERIFY(cut > 0 && cut < text.size());
    const int behind = text.mid(int(cut)).count(item);
    a.remove(int(e.header + field), lost);
    scanBytes(a);
    const QVector<qint64> counts = storeCounts();
    const qint64 read = store == "Contacts.xml" ? counts[1] : store == "Calendar.xml" ? counts[2] : counts[3];
    QVERIFY2(read >= behind, qPrintable(QStringLiteral("%1 of %2\n").arg(read).arg(behind) + report()));
}

QTEST_GUILESS_MAIN(EdgeDamageTest)
#include "tst_edgedamage.moc"
