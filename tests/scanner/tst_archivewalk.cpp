// The walk over whole archives: the real sample, archives built here, and damaged variants.

#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "scanner/ArchiveWalk.h"

#include <QFile>
#include <QtTest>

#include <functional>

namespace {

QString messagePath(int folder, int i)
{
    return QStringLiteral("Local/com.microsoft.__Messages/Folder %1/message_%2.xml").arg(folder).arg(i, 5, 10, QLatin1Char('0'));
}

OlmXml::MailItem mailItem(int i)
{
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Subject %1 &amp; more").arg(i);
    m.body = QStringLiteral("Body of message %1 \xc3\xa9t\xc3\xa9 &lt;b&gt;").arg(i);
    m.sent = QStringLiteral("2018-06-21T03:26:46");
    m.from = {{QStringLiteral("a%1@example.com").arg(i), QStringLiteral("Sender, %1").arg(i)}};
    return m;
}

QByteArray threeContacts()
{
    QVector<OlmXml::ContactItem> cs;
    for (int i = 0; i < 3; ++i)
        cs.append({QStringLiteral("First%1").arg(i), QStringLiteral("Last%1").arg(i), QString(),
                   QStringLiteral("Notes %1").arg(i), i == 1 ? QStringLiteral("cGljdHVyZQ==") : QString()});
    return OlmXml::contacts(cs);
}

// An archive in the exporter's layout: list files, seven mails in six entries (the last holds
// two), an attachment behind each message and folder entries with CRC 0.
struct BaseArchive {
    QByteArray bytes;
    QVector<qint64> messageHeaders;
    qint64 contactsHeader = 0;
    qint64 lastMessageData = 0;
};

// cut: a message whose XML is cut at the first place cut names, its sizes and CRC-32 those of
// the cut bytes.
BaseArchive baseArchive(bool centralDirectory = true, int cutMessage = -1, const QByteArray &cut = QByteArray())
{
    TestArchiveBuilder b;
    BaseArchive base;
    b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Blue")}));
    b.addDirectory(QStringLiteral("Local/Address Book/"));
    base.contactsHeader = b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), threeContacts());
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"),
               OlmXml::appointments({{QStringLiteral("Meet"), QStringLiteral("Room"), QStringLiteral("Agenda"), QString(), QString()},
                                     {QStringLiteral("Lunch"), QString(), QString(), QString(), QString()}}));
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"),
               OlmXml::tasks({{QStringLiteral("Task A"), QStringLiteral("note A"), QStringLiteral("2")},
                              {QStringLiteral("Task B"), QString(), QString()}}));
    b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), OlmXml::notes({{QStringLiteral("Note"), QStringLiteral("Text")}}));
    for (int i = 0; i < 6; ++i) {
        QVector<OlmXml::MailItem> items{mailItem(i)};
        if (i == 5)
            items.append(mailItem(6));
        QByteArray xml = OlmXml::emails(items);
        if (i == cutMessage)
            xml.truncate(xml.indexOf(cut) + cut.size());
        base.messageHeaders.append(b.addEntry(messagePath(i % 2, i), xml));
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Folder %1/com.microsoft.__Attachments/att%2").arg(i % 2).arg(i),
                   QByteArray(300 + i, char('a' + i)));
    }
    base.lastMessageData = b.entries()[b.entries().size() - 2].dataOffset;
    base.bytes = b.finish(centralDirectory);
    return base;
}

// An attachment that is itself a ZIP archive, as every Office document is: local headers, a
// central directory and an end record of its own inside the outer entry's data.
QByteArray officeDocument(int i)
{
    TestArchiveBuilder inner;
    inner.addEntry(QStringLiteral("[Content_Types].xml"), QByteArray("<Types>") + QByteArray::number(i) + "</Types>");
    inner.addEntry(QStringLiteral("word/document.xml"), QByteArray(500 + i, char('d' + i % 5)));
    return inner.finish();
}

// Six messages, each followed by an Office-like attachment.
struct OfficeArchive {
    QByteArray bytes;
    QVector<qint64> messageHeaders;
    QVector<qint64> attachmentHeaders;
    QVector<QByteArray> attachments;
};

OfficeArchive officeArchive(bool centralDirectory = true)
{
    TestArchiveBuilder b;
    OfficeArchive o;
    for (int i = 0; i < 6; ++i) {
        o.messageHeaders.append(b.addEntry(messagePath(0, i), OlmXml::emails({mailItem(i)})));
        o.attachments.append(officeDocument(i));
        o.attachmentHeaders.append(b.addEntry(
            QStringLiteral("Local/com.microsoft.__Messages/Folder 0/com.microsoft.__Attachments/doc%1.docx").arg(i),
            o.attachments.last()));
    }
    o.bytes = b.finish(centralDirectory);
    return o;
}

// Overwrites the local header's ZIP64 sizes (the ones the walk reads) with value.
void setLocalSizes(QByteArray &a, qint64 header, quint64 value)
{
    const int n = int(quint8(a[int(header + 26)]) | quint8(a[int(header + 27)]) << 8);
    for (int k = 0; k < 16; ++k)
        a[int(header + 30 + n + 4 + k)] = char(value >> (8 * (k % 8)));
}

quint64 get64(const QByteArray &a, qint64 at)
{
    quint64 v = 0;
    for (int k = 7; k >= 0; --k)
        v = v << 8 | quint8(a[int(at + k)]);
    return v;
}

void put64(QByteArray &a, qint64 at, quint64 v)
{
    for (int k = 0; k < 8; ++k)
        a[int(at + k)] = char(v >> (8 * k));
}

// Where the ZIP64 extra values (usize, csize, header offset) of every central record lie, in
// directory order; the ZIP64 end record, 98 bytes before the end, gives the directory's place.
QVector<qint64> centralValues(const QByteArray &a)
{
    QVector<qint64> at;
    for (qint64 p = qint64(get64(a, a.size() - 98 + 48)); a.mid(int(p), 4) == "PK\x01\x02";) {
        const int n = int(quint8(a[int(p + 28)]) | quint8(a[int(p + 29)]) << 8);
        at.append(p + 46 + n + 4);
        p += 46 + n + 28;
    }
    return at;
}

// The central record of the entry whose local header lies at header.
qint64 centralValuesOf(const QByteArray &a, qint64 header)
{
    for (qint64 v : centralValues(a)) {
        if (qint64(get64(a, v + 16)) == header)
            return v;
    }
    return -1;
}

// Report lines, less the entries listed below a line that sums them up.
int summaryLines(const QStringList &lines)
{
    int n = 0;
    for (const QString &line : lines)
        n += !line.startsWith(QLatin1Char(' '));
    return n;
}

// The lines saying the file ends at byte size, where an entry ends, before any directory.
int cutAtEdgeLines(qint64 size)
{
    const QString head = QStringLiteral("The archive ends at byte %1, right where the last entry found ends").arg(size);
    return int(std::count_if(EntriesNotRead.begin(), EntriesNotRead.end(),
                             [&](const QString &line) { return line.startsWith(head); }));
}

QByteArray binaryPayload()
{
    // No 'P' and no '<': nothing in it can look like a header or a root tag.
    return QByteArray(200, '\x11');
}

// Twelve messages in three folders, each followed by a small stored ZIP (an Office document),
// after the contacts list: the shape the neighbourhood of every damage below is tried on.
TestArchiveBuilder neighbourhoodArchive()
{
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), threeContacts());
    for (int i = 0; i < 12; ++i) {
        OlmXml::MailItem m = mailItem(i);
        m.body += QString(500, QLatin1Char('y'));
        b.addEntry(messagePath(i % 3, i), OlmXml::emails({m}));
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Folder %1/com.microsoft.__Attachments/doc%2.docx")
                       .arg(i % 3)
                       .arg(i),
                   officeDocument(i));
    }
    return b;
}

// What a neighbourhood row does to the archive: bytes removed (< 0) or added inside entries,
// bytes put into one field of entries' local headers, LF turned into CR LF, or a cut.
struct Harm {
    enum Kind { Shift, HeaderBytes, CrLf, Cut } kind;
    int amount;          // bytes, or for a cut the share kept in per cent
    QVector<int> where;  // entry indexes (0 the contacts, odd ones messages, even ones documents)
    int field = 0;       // for header bytes: the byte of the header they go before or are lost from
                         // (-1: the name's middle); lost when amount < 0
    bool noDirectory = false;
};

} // namespace

Q_DECLARE_METATYPE(std::function<QByteArray()>)
Q_DECLARE_METATYPE(Harm)

class ArchiveWalkTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { CleanScanResults(); }
    void sampleArchive();
    void sampleArchiveShortReads();
    void builtArchive();
    void folderPaths_data();
    void folderPaths();
    void folderPathsInSequence_data();
    void folderPathsInSequence();
    void damaged_data();
    void damaged();
    void oddEntries();
    void damagedStoredSize_data();
    void damagedStoredSize();
    void mutations();
    void centralWitness_data();
    void centralWitness();
    void reportName_data();
    void reportName();
    void validUtf8_data();
    void validUtf8();
    void centralDisagrees_data();
    void centralDisagrees();
    void repeatedNames();
    void everyMessageAccounted_data();
    void everyMessageAccounted();
    void sampleShifted_data();
    void sampleShifted();
    void sampleDocumentHeader_data();
    void sampleDocumentHeader();
    void neighbourhood_data();
    void neighbourhood();
    void otherExtraChanged_data();
    void otherExtraChanged();
    void sampleFourAndOneBytes();
    void namelessHeaderJumpsNothing();
    void mailedArchiveCutInItsHeaders();
};

void ArchiveWalkTest::sampleArchive()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray a = f.readAll();
    scanBytes(a);
    QCOMPARE(MailItemCount, qint64(7));
    QCOMPARE(ContactItemCount, qint64(5));
    QCOMPARE(CalendarItemCount, qint64(8));
    QCOMPARE(TaskItemCount, qint64(5));
    QCOMPARE(NotesItemCount, qint64(1));
    QCOMPARE(locationFault(a), QString());

    QStringList subjects;
    for (MailMLRC *m : mails()) {
        subjects << QString::fromUtf8(m->pSubject);
        QVERIFY(m->llNameOffset > 0);
        QCOMPARE(m->llDataOffset, m->llNameOffset + m->nNameLength + 20);
        QCOMPARE(qint64(m->dwDataLength), qint64(m->dwEntrySize));
        QVERIFY(bytesAt(a, m->llDataOffset, m->dwDataLength).startsWith("<emails "));
        QCOMPARE(TestArchiveBuilder::crc32(bytesAt(a, m->llDataOffset, m->dwDataLength)), m->dwCrc32);
    }
    QCOMPARE(subjects.first(), QString::fromUtf8("[ubuntu-ko] \xec\x9a\xb0\xeb\xb6\x84\xed\x88\xac \xec\x8b\x9c\xec\x9e\x91 "
                                                 "\xec\x95\x88\xeb\x82\xb4\xec\x84\x9c\xec\x9d\x98 10. Tips & Trick "
                                                 "\xec\x9d\x98 \xeb\xb2\x88\xec\x97\xad\xec\x9d\xb4 \xec\x9d\xbc\xeb\x8b\xa8"
                                                 "\xeb\x9d\xbd\xeb\x90\x98\xec\x97\x88\xec\x8a\xb5\xeb\x8b\x88\xeb\x8b\xa4."));
    QVERIFY(subjects.contains(QStringLiteral("Draft with low priority")));
    QCOMPARE(QString::fromUtf8(mails().first()->pFromNames), QString::fromUtf8("양정석;"));  // the Hangul name kept
    QVERIFY(mails()[1]->bHasAttachment);
    QVERIFY(mails().first()->dwSentTime > 0);

    // Mails of "Outlook PST/Inbox" sit in an Inbox folder under "Outlook PST".
    const qint64 inbox = mails().first()->llFolderId;
    QCOMPARE(folderKey(inbox), QStringLiteral("Inbox"));
    QCOMPARE(folderKey(objMapFID_PID.value(inbox)), QStringLiteral("Outlook PST"));

    QStringList firstNames;
    for (ContactInformation *c : contacts())
        firstNames << QString::fromUtf8(c->pFirstName);
    QCOMPARE(firstNames, QStringList({"tom", "Jane", "Bart", "Test", "privatw"}));
    QCOMPARE(folderKey(contacts().first()->llFolderId), QStringLiteral("Address Booknotmailcontact"));
    QCOMPARE(QString::fromUtf8(events().first()->pSummary), QStringLiteral("This is a calendar entry"));
    QCOMPARE(folderKey(events().first()->llFolderId), QStringLiteral("Calendarnotmailcalender"));
    QCOMPARE(QString::fromUtf8(tasks().first()->pName), QStringLiteral("task1"));
    QVERIFY(tasks().first()->dwNoteLength > 0);
    QCOMPARE(QString::fromUtf8(notes().first()->pTitle), QStringLiteral("note 1"));
    QVERIFY(notes().first()->dwTextLength > 0);
    QCOMPARE(folderKey(notes().first()->llFolderId), QStringLiteral("Notesnotmailnotes"));
    QVERIFY(categorie.size > 0);
    QVERIFY(bytesAt(a, categorie.dataOffset, categorie.size).startsWith("<categories "));
    for (FileOffsetNode *n : attachmentNodes())
        QCOMPARE(TestArchiveBuilder::crc32(bytesAt(a, n->llDataOffset, n->llSize)), n->dwCrc32);
    for (auto it = objMapFID_PID.cbegin(); it != objMapFID_PID.cend(); ++it)
        QVERIFY(it.value() < it.key());
}

void ArchiveWalkTest::sampleArchiveShortReads()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray a = f.readAll();
    scanBytes(a);
    QList<qint64> whole;
    for (MailMLRC *m : mails())
        whole << m->llBodyOffset << m->dwBodyLength;
    for (qint64 chunk : {1, 7, 31}) {
        scanBytes(a, chunk);
        QList<qint64> got;
        for (MailMLRC *m : mails())
            got << m->llBodyOffset << m->dwBodyLength;
        QCOMPARE(got, whole);
        QCOMPARE(ContactItemCount, qint64(5));
        QCOMPARE(CalendarItemCount, qint64(8));
    }
}

void ArchiveWalkTest::builtArchive()
{
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("A")}));
    const qint64 inboxMsg = b.addEntry(QStringLiteral("Accounts/me@x/Mail/Inbox/message_00001.xml"), OlmXml::emails({mailItem(1)}));
    b.addEntry(QStringLiteral("Local/Mail/Inbox/Old/message_7.xml"), OlmXml::emails({mailItem(2)}));
    b.addEntry(QStringLiteral("Other/Inbox/message_1.xml"), OlmXml::emails({mailItem(3)}));
    b.addDirectory(QStringLiteral("Local/Calendar/"));
    const qint64 att = b.addEntry(QStringLiteral("Local/x__message_attachment__report.xml"), QByteArray("<report/>"));
    b.addEntry(QStringLiteral("Accounts/me@x/Contacts/Contacts.xml"), OlmXml::contacts({{"A", "B", "", "", ""}}));
    const qint64 cats2 = b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("B"), QStringLiteral("C")}));
    const QByteArray a = b.finish();
    scanBytes(a);

    QCOMPARE(MailItemCount, qint64(3));
    const QList<MailMLRC *> m = mails();
    QCOMPARE(folderKey(m[0]->llFolderId), QStringLiteral("Inbox"));
    QCOMPARE(objMapFID_PID.value(m[0]->llFolderId), llRootId);
    QCOMPARE(m[0]->llNameOffset, inboxMsg + 30);
    QCOMPARE(folderKey(m[1]->llFolderId), QStringLiteral("Old"));
    QCOMPARE(folderKey(objMapFID_PID.value(m[1]->llFolderId)), QStringLiteral("Inbox"));
    QCOMPARE(m[2]->llFolderId, llFolder1Id);
    QCOMPARE(QString::fromUtf8(m[0]->pSubject), QStringLiteral("Subject 1 & more"));
    QCOMPARE(QString::fromUtf8(m[0]->pFromNames), QStringLiteral("Sender, 1;"));   // its comma kept
    QCOMPARE(locationFault(a), QString());

    // The attached XML file keeps its location; the last categories file wins.
    const QList<FileOffsetNode *> nodes = attachmentNodes();
    QCOMPARE(nodes.size(), 1);
    QCOMPARE(QByteArray(nodes[0]->pEntryName), QByteArray("Local/x__message_attachment__report.xml"));
    QCOMPARE(nodes[0]->llDataOffset, b.entries()[5].dataOffset);
    QCOMPARE(nodes[0]->llSize, qint64(9));
    QVERIFY(att > 0);
    QCOMPARE(categorie.dataOffset, b.entries().last().dataOffset);
    QVERIFY(cats2 > 0);
    QVERIFY(tmpCoFOStart && !tmpCoFOStart->pNext);
    QCOMPARE(tmpCoFOStart->llDataOffset, b.entries()[6].dataOffset);
    QCOMPARE(folderKey(contacts().first()->llFolderId), QStringLiteral("Contactsnotmailcontact"));

    // Nothing at all in an empty or foreign file.
    scanBytes(QByteArray());
    QCOMPARE(MailItemCount + AttachmentNodeCount, qint64(0));
    scanBytes(QByteArray(1 << 20, '\x7f'));
    QCOMPARE(MailItemCount + AttachmentNodeCount, qint64(0));
}

void ArchiveWalkTest::folderPaths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("account contacts") << "Accounts/acct/Contacts/Contacts.xml" << "Contacts";
    QTest::newRow("local calendar") << "Local/Calendar/Sub/Calendar.xml" << "Calendar/Sub";
    QTest::newRow("account message") << "Accounts/acct/Mail/Inbox/message_00001.xml" << "Inbox";
    QTest::newRow("local message") << "Local/Mail/Inbox/Old/message_7.xml" << "Inbox/Old";
    QTest::newRow("file name itself") << "Local/Notes.xml" << "Notes.xml";
    QTest::newRow("from the root") << "/Local/Mail/Inbox/message_7.xml" << "Inbox";
    QTest::newRow("from \"./\"") << ".//./Local/Mail/Inbox/message_7.xml" << "Inbox";
    QTest::newRow("foreign root") << "Other/Inbox/message_1.xml" << "";
    QTest::newRow("too short") << "Local/message_1.xml" << "";
}

void ArchiveWalkTest::folderPaths()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    const QStringList parts = name.split(QLatin1Char('/'));
    QCOMPARE(olm::folderPathFor(parts, olm::classifyEntry(name.toUtf8())), path);
}

void ArchiveWalkTest::folderPathsInSequence_data()
{
    // Entry names in archive order, and the folder each one's message is filed under. The walk
    // keeps the last folder's path: a name whose path is its file name must never reuse it.
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("folders");
    QTest::newRow("one folder") << QStringList{"Local/Mail/Inbox/message_1.xml", "Local/Mail/Inbox/message_2.xml"}
                                << QStringList{"Inbox", "Inbox"};
    QTest::newRow("file names as paths")
        << QStringList{"Local/Mail/message_1.xml", "Local/Mail/message_2.xml", "Local/Mail/Inbox/message_3.xml"}
        << QStringList{"message_1.xml", "message_2.xml", "Inbox"};
    QTest::newRow("folder, then a longer one with the same start")
        << QStringList{"Local/Mail/Inbox/message_1.xml", "Local/Mail/Inbox2/message_2.xml", "Local/Mail/Inbox/Sub/message_3.xml"}
        << QStringList{"Inbox", "Inbox2", "Sub"};
    QTest::newRow("account and local folders of one name")
        << QStringList{"Accounts/a/Mail/Inbox/message_1.xml", "Local/Mail/Inbox/message_2.xml", "Accounts/a/Mail/Inbox/message_3.xml"}
        << QStringList{"Inbox", "Inbox", "Inbox"};
    QTest::newRow("a foreign root between") << QStringList{"Local/Mail/Inbox/message_1.xml", "Other/Mail/Inbox/message_2.xml",
                                                           "Local/Mail/Inbox/message_3.xml"}
                                            << QStringList{"Inbox", "Folder1", "Inbox"};
}

void ArchiveWalkTest::folderPathsInSequence()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, folders);
    TestArchiveBuilder b;
    for (int i = 0; i < names.size(); ++i)
        b.addEntry(names.at(i), OlmXml::emails({mailItem(i)}));
    scanBytes(b.finish());
    const QList<MailMLRC *> m = mails();
    QCOMPARE(m.size(), names.size());
    for (int i = 0; i < m.size(); ++i) {
        const QString got = m[i]->llFolderId == llFolder1Id ? QStringLiteral("Folder1") : folderKey(m[i]->llFolderId);
        QCOMPARE(got, folders.at(i));
    }
}

void ArchiveWalkTest::damaged_data()
{
    QTest::addColumn<std::function<QByteArray()>>("make");
    QTest::addColumn<int>("mailCount");
    QTest::addColumn<int>("contactCount");
    QTest::addColumn<int>("folder1Mails");

    QTest::newRow("intact") << std::function<QByteArray()>([] { return baseArchive().bytes; }) << 7 << 3 << 0;
    // With the central directory, a message behind a damaged header keeps its folder; without
    // it, block recovery finds the message and lists it under Folder1.
    QTest::newRow("smashed local header before a message") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive();
        Damage::smashHeader(b.bytes, b.messageHeaders[2]);
        return b.bytes;
    }) << 7 << 3 << 0;
    // Its name still stands behind the smashed fields: the message keeps its folder.
    QTest::newRow("smashed local header before a message, no central directory") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive(false);
        Damage::smashHeader(b.bytes, b.messageHeaders[2]);
        return b.bytes;
    }) << 7 << 3 << 0;
    QTest::newRow("smashed header of Contacts.xml") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive();
        Damage::smashHeader(b.bytes, b.contactsHeader);
        return b.bytes;
    }) << 7 << 3 << 0;
    QTest::newRow("zeroed header and name of a message") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive();
        Damage::zeroStretch(b.bytes, b.messageHeaders[3], 30 + 60);
        return b.bytes;
    }) << 7 << 3 << 0;
    QTest::newRow("zeroed header and name of a message, no central directory") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive(false);
        Damage::zeroStretch(b.bytes, b.messageHeaders[3], 30 + 60);
        return b.bytes;
    }) << 7 << 3 << 1;
    QTest::newRow("zeroed stretch over two whole messages") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive();
        Damage::zeroStretch(b.bytes, b.messageHeaders[1], b.messageHeaders[3] - b.messageHeaders[1]);
        return b.bytes;
    }) << 5 << 3 << 0;
    QTest::newRow("zeroed 4 KiB from the middle of a message") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive();
        Damage::zeroStretch(b.bytes, b.messageHeaders[1] + 200, 4096);
        return b.bytes;
    }) << -1 << 3 << -1;
    QTest::newRow("cut after the first item of the last message") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive();
        const int cut = b.bytes.indexOf("</email>", int(b.lastMessageData)) + 8;
        return Damage::cutTail(b.bytes, cut);
    }) << 6 << 3 << 0;
    QTest::newRow("CRC 0 on a message header") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive();
        memset(b.bytes.data() + b.messageHeaders[0] + 14, 0, 4);
        return b.bytes;
    }) << 7 << 3 << 0;
    // A size that lands on the next record places the entry even without its CRC.
    QTest::newRow("CRC 0 on a message header, no central directory") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive(false);
        memset(b.bytes.data() + b.messageHeaders[0] + 14, 0, 4);
        return b.bytes;
    }) << 7 << 3 << 0;
    QTest::newRow("CRC and sizes 0 on a message header, no central directory") << std::function<QByteArray()>([] {
        BaseArchive b = baseArchive(false);
        memset(b.bytes.data() + b.messageHeaders[0] + 14, 0, 12);
        const int n = int(quint8(b.bytes[int(b.messageHeaders[0] + 26)]));
        memset(b.bytes.data() + b.messageHeaders[0] + 30 + n + 4, 0, 16);
        return b.bytes;
    }) << 7 << 3 << 0;
    QTest::newRow("Contacts.xml cut mid-item before valid messages") << std::function<QByteArray()>([] {
        TestArchiveBuilder t;
        t.addRaw(binaryPayload());
        QByteArray block = OlmXml::contacts({{"A", "", "", "", ""}, {"B", "", "", "", ""}});
        t.addRaw(block.left(block.indexOf("<contact", block.indexOf("</contact>")) + 20));
        for (int i = 0; i < 3; ++i)
            t.addEntry(messagePath(0, i), OlmXml::emails({mailItem(i)}));
        return t.finish();
    }) << 3 << 1 << 0;
    QTest::newRow("garbage then a bare contacts block") << std::function<QByteArray()>([] {
        TestArchiveBuilder t;
        t.addRaw(binaryPayload());
        t.addRaw(OlmXml::contacts({{"A", "B", "", "n", ""}, {"C", "D", "", "", ""}}));
        t.addRaw(binaryPayload());
        t.addRaw(OlmXml::contacts({{"E", "F", "", "", ""}}));
        t.addEntry(messagePath(0, 0), OlmXml::emails({mailItem(0)}));
        return t.finish();
    }) << 1 << 3 << 0;
    QTest::newRow("stray central signature with long lengths before a message") << std::function<QByteArray()>([] {
        TestArchiveBuilder t;
        QByteArray stray("PK\x01\x02", 4);
        stray += QByteArray(24, '\x11') + QByteArray(6, '\xff') + QByteArray(12, '\x11');
        t.addRaw(stray);
        t.addEntry(messagePath(0, 0), OlmXml::emails({mailItem(0)}));
        return t.finish(false);
    }) << 1 << 0 << 0;
    QTest::newRow("start tag without a blank is no block") << std::function<QByteArray()>([] {
        TestArchiveBuilder t;
        t.addRaw("<contacts><contact></contact></contacts>");
        return t.finish();
    }) << 0 << 0 << 0;
}

void ArchiveWalkTest::damaged()
{
    QFETCH(std::function<QByteArray()>, make);
    QFETCH(int, mailCount);
    QFETCH(int, contactCount);
    QFETCH(int, folder1Mails);
    const QByteArray a = make();
    scanBytes(a);
    if (mailCount >= 0)
        QCOMPARE(MailItemCount, qint64(mailCount));
    QCOMPARE(ContactItemCount, qint64(contactCount));
    int inFolder1 = 0;
    for (MailMLRC *m : mails())
        inFolder1 += m->llFolderId == llFolder1Id;
    if (folder1Mails >= 0)
        QCOMPARE(inFolder1, folder1Mails);
    QCOMPARE(locationFault(a), QString());
    // Recovered mail has no entry, but knows where its own XML lies.
    for (MailMLRC *m : mails()) {
        if (m->llFolderId == llFolder1Id && m->nNameLength == 0) {
            QCOMPARE(m->dwEntrySize, 0u);
            QVERIFY(bytesAt(a, m->llDataOffset, m->dwDataLength).endsWith("</email>"));
        }
    }
}

void ArchiveWalkTest::oddEntries()
{
    // Headers with impossible or unusual fields between ordinary entries: the walk keeps every
    // ordinary item and never jumps backwards, loops or allocates what a header claims.
    using Opt = TestArchiveBuilder::EntryOptions;
    auto sizes = [](qint64 u, qint64 c) {
        Opt o;
        o.overrideSizes = true;
        o.usizeOverride = u;
        o.csizeOverride = c;
        return o;
    };
    TestArchiveBuilder b;
    b.addEntry(messagePath(0, 0), OlmXml::emails({mailItem(0)}));
    b.addEntry(QStringLiteral("Local/a/att1"), binaryPayload(), sizes(200, -5));
    b.addEntry(QStringLiteral("Local/a/att2"), binaryPayload(), sizes(-1, -1));
    b.addEntry(messagePath(0, 1), OlmXml::emails({mailItem(1)}), sizes(qint64(1) << 62, qint64(1) << 62));
    b.addEntry(QStringLiteral("Local/a/att3"), binaryPayload(), sizes(qint64(1) << 40, 200));
    // A size that lands in the middle of the next message must not skip it.
    b.addEntry(QStringLiteral("Local/a/att4"), binaryPayload(), sizes(200, 600));
    Opt plain;
    plain.zip64Extra = false;
    b.addEntry(messagePath(0, 2), OlmXml::emails({mailItem(2)}), plain);
    Opt extraFirst;
    extraFirst.extraBefore = QByteArray("\x0a\x00\x04\x00\x01\x02\x03\x04", 8);
    const qint64 m28 = b.addEntry(messagePath(0, 3), OlmXml::emails({mailItem(3)}), extraFirst);
    Opt deflated;
    deflated.method = 8;
    b.addEntry(messagePath(0, 4), OlmXml::emails({mailItem(4)}), deflated);
    b.addEntry(QStringLiteral("Local/") + QString(2000, QLatin1Char('n')), binaryPayload());
    b.addRawName(QByteArray("Local/a/with\0nul", 16), binaryPayload());
    b.addEntry(messagePath(0, 5), OlmXml::emails({mailItem(5)}));
    // A message whose name holds a NUL stays a message, in the folder its name gives up to the NUL.
    b.addRawName(messagePath(0, 6).toUtf8().replace("message_", QByteArray("mess\0age_", 10)), OlmXml::emails({mailItem(6)}));
    const QByteArray a = b.finish();
    scanBytes(a);

    QStringList subjects;
    for (MailMLRC *m : mails())
        subjects << QString::fromUtf8(m->pSubject);
    QCOMPARE(subjects, QStringList({"Subject 0 & more", "Subject 1 & more", "Subject 2 & more",
                                    "Subject 3 & more", "Subject 5 & more", "Subject 6 & more"}));
    QCOMPARE(mails()[5]->llFolderId, mails()[4]->llFolderId);
    QCOMPARE(locationFault(a), QString());
    QCOMPARE(mails()[3]->llDataOffset, m28 + 30 + mails()[3]->nNameLength + 28);

    QList<QByteArray> names;
    bool compressed = false;
    for (FileOffsetNode *n : attachmentNodes()) {
        names << QByteArray(n->pEntryName);
        compressed |= n->bCompressed && QByteArray(n->pEntryName).endsWith("message_00004.xml");
    }
    QVERIFY(compressed);
    QVERIFY(names.contains("Local/" + QByteArray(2000, 'n')));
    QVERIFY(names.contains("Local/a/with"));
}

void ArchiveWalkTest::damagedStoredSize_data()
{
    QTest::addColumn<qint64>("centralSize");
    QTest::addColumn<int>("header");  // 0 intact, 1 smashed, 2 its sizes damaged
    QTest::addColumn<bool>("message");
    const qint64 negative = qint64(Q_UINT64_C(0xCD00000000000088));
    const char *const headers[] = {"header intact", "header smashed", "header's sizes damaged"};
    for (bool message : {false, true}) {
        for (int header = 0; header < 3; ++header) {
            const QString how = QLatin1String(message ? "message, " : "attachment, ") + QLatin1String(headers[header]);
            QTest::newRow(qPrintable(QStringLiteral("negative, %1").arg(how))) << negative << header << message;
            QTest::newRow(qPrintable(QStringLiteral("far larger, %1").arg(how))) << (qint64(1) << 62) << header << message;
            QTest::newRow(qPrintable(QStringLiteral("one more, %1").arg(how))) << qint64(201) << header << message;
            QTest::newRow(qPrintable(QStringLiteral("zero, %1").arg(how))) << qint64(0) << header << message;
        }
    }
}

void ArchiveWalkTest::damagedStoredSize()
{
    // A stored entry's central record gives a damaged uncompressed size: an attachment is listed
    // with the size its bytes have, a message read whole, whether its own header or its CRC-32
    // places it.
    QFETCH(qint64, centralSize);
    QFETCH(int, header);
    QFETCH(bool, message);
    TestArchiveBuilder b;
    b.addEntry(messagePath(0, 0), OlmXml::emails({mailItem(0)}));
    if (message)
        b.addEntry(messagePath(0, 9), OlmXml::emails({mailItem(9)}));
    else
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Folder 0/com.microsoft.__Attachments/a_0"), binaryPayload());
    b.addEntry(messagePath(0, 1), OlmXml::emails({mailItem(1)}));
    QByteArray a = b.finish();
    // The attachment's record: its ZIP64 extra's first value is the uncompressed size.
    const int record = a.indexOf("PK\x01\x02", a.indexOf("PK\x01\x02") + 4);
    const int nameLength = quint8(a[record + 28]) | quint8(a[record + 29]) << 8;
    QCOMPARE(a.mid(record + 46 + nameLength, 2), QByteArray("\x01\x00", 2));
    for (int i = 0; i < 8; ++i)
        a[record + 46 + nameLength + 4 + i] = char(quint64(centralSize) >> (8 * i));
    if (header == 1)
        Damage::smashHeader(a, b.entries()[1].headerOffset);
    // The local ZIP64 extra's two sizes, right before the data.
    for (int i = 16; header == 2 && i > 0; --i)
        a[int(b.entries()[1].dataOffset - i)] = char(0x5A + i);
    scanBytes(a);
    QCOMPARE(locationFault(a), QString());
    if (message) {
        QStringList subjects;
        for (MailMLRC *m : mails())
            subjects << QString::fromUtf8(m->pSubject);
        QCOMPARE(subjects, QStringList({"Subject 0 & more", "Subject 9 & more", "Subject 1 & more"}));
        return;
    }
    QCOMPARE(MailItemCount, qint64(2));
    QCOMPARE(attachmentNodes().size(), 1);
    QCOMPARE(attachmentNodes()[0]->llDataOffset, b.entries()[1].dataOffset);
    QCOMPARE(attachmentNodes()[0]->llSize, qint64(200));
}

void ArchiveWalkTest::mutations()
{
    // Random byte flips must never crash, hang or yield a location outside the archive.
    const QByteArray base = baseArchive().bytes;
    // Flipped dates are expected to be unreadable; keep the log quiet.
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    for (quint32 seed = 1; seed <= 150; ++seed) {
        QByteArray a = base;
        Damage::flipBytes(a, seed, 0.01);
        scanBytes(a, seed % 3 == 0 ? 13 : 0);
        for (MailMLRC *m : mails()) {
            QVERIFY(m->llBodyOffset >= 0 && m->llBodyOffset + m->dwBodyLength <= a.size());
            QVERIFY(m->llDataOffset >= 0 && m->llDataOffset + m->dwDataLength <= a.size());
        }
        for (ContactInformation *c : contacts())
            QVERIFY(c->llItemOffset >= 0 && c->llItemOffset + c->dwItemLength <= a.size());
        for (TasksInformation *t : tasks())
            QVERIFY(t->dwNoteOffset + t->dwNoteLength <= a.size());
    }
    qInstallMessageHandler(previous);
}

using OfficeDamage = std::function<void(OfficeArchive &)>;
Q_DECLARE_METATYPE(OfficeDamage)

void ArchiveWalkTest::centralWitness_data()
{
    QTest::addColumn<bool>("central");
    QTest::addColumn<OfficeDamage>("damage");
    QTest::addColumn<int>("mailCount");
    QTest::addColumn<int>("exactAttachments");  // nodes whose bytes are exactly the document

    const auto zeroCrc = [](int k) {
        return OfficeDamage([k](OfficeArchive &o) { memset(o.bytes.data() + o.attachmentHeaders[k] + 14, 0, 4); });
    };
    QTest::newRow("intact") << true << OfficeDamage([](OfficeArchive &) {}) << 6 << 6;
    QTest::newRow("zeroed CRC on the first document") << true << zeroCrc(0) << 6 << 6;
    QTest::newRow("zeroed CRC on every document") << true << OfficeDamage([](OfficeArchive &o) {
        for (qint64 h : o.attachmentHeaders)
            memset(o.bytes.data() + h + 14, 0, 4);
    }) << 6 << 6;
    QTest::newRow("smashed header of a document") << true << OfficeDamage([](OfficeArchive &o) {
        Damage::smashHeader(o.bytes, o.attachmentHeaders[1]);
    }) << 6 << 6;
    QTest::newRow("document sizes too large") << true << OfficeDamage([](OfficeArchive &o) {
        setLocalSizes(o.bytes, o.attachmentHeaders[2], o.attachments[2].size() + 4000);
    }) << 6 << 6;
    QTest::newRow("document sizes too small") << true << OfficeDamage([](OfficeArchive &o) {
        setLocalSizes(o.bytes, o.attachmentHeaders[2], 10);
    }) << 6 << 6;
    QTest::newRow("message sizes too large") << true << OfficeDamage([](OfficeArchive &o) {
        setLocalSizes(o.bytes, o.messageHeaders[3], 1 << 20);
    }) << 6 << 6;
    QTest::newRow("smashed header of a message") << true << OfficeDamage([](OfficeArchive &o) {
        Damage::smashHeader(o.bytes, o.messageHeaders[4]);
    }) << 6 << 6;
    // Without the directory a document whose header is smashed is still one: its name stands
    // before its data, which ends with its own end record.
    QTest::newRow("zeroed CRC on the first document, no central directory") << false << zeroCrc(0) << 6 << 6;
    QTest::newRow("smashed header of a document, no central directory") << false << OfficeDamage([](OfficeArchive &o) {
        Damage::smashHeader(o.bytes, o.attachmentHeaders[1]);
    }) << 6 << 6;
    // A size past the end of the file is damage where this archive's entries lie behind the
    // document's own end record, which ends it; only the last document may run to the end (a
    // file cut there is not told from a size grown).
    for (int k : {1, 5}) {
        QTest::addRow("document %d's sizes past the end of the file, no central directory", k)
            << false << OfficeDamage([k](OfficeArchive &o) {
                   setLocalSizes(o.bytes, o.attachmentHeaders[k], quint64(o.bytes.size()));
               }) << 6 << (k == 5 ? 5 : 6);
    }
}

void ArchiveWalkTest::centralWitness()
{
    QFETCH(bool, central);
    QFETCH(OfficeDamage, damage);
    QFETCH(int, mailCount);
    QFETCH(int, exactAttachments);
    OfficeArchive o = officeArchive(central);
    damage(o);
    scanBytes(o.bytes);
    QCOMPARE(MailItemCount, qint64(mailCount));
    QCOMPARE(locationFault(o.bytes), QString());
    int exact = 0;
    for (FileOffsetNode *n : attachmentNodes()) {
        // No node ever reaches into another entry's bytes; the last one, cut by the end of the
        // file, keeps its stated size.
        QVERIFY(n->llDataOffset + n->llSize <= o.bytes.size() || n->llDataOffset > o.attachmentHeaders.last());
        const QByteArray bytes = bytesAt(o.bytes, n->llDataOffset, n->llSize);
        if (o.attachments.contains(bytes)) {
            ++exact;
            // Without the directory a zeroed CRC stays unknown (0).
            if (central || n->dwCrc32 != 0)
                QCOMPARE(TestArchiveBuilder::crc32(bytes), n->dwCrc32);
        } else if (central) {
            QVERIFY2(n->bSizeCut || TestArchiveBuilder::crc32(bytes) != n->dwCrc32, n->pEntryName);
        }
    }
    QCOMPARE(exact, exactAttachments);
    if (central) {
        for (MailMLRC *m : mails())
            QVERIFY(m->llFolderId != llFolder1Id);
    }
}

void ArchiveWalkTest::reportName_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QByteArray("Local/Inbox/message_00001.xml") << QStringLiteral("Local/Inbox/message_00001.xml");
    QTest::newRow("control byte") << QByteArray("message_00034.xml\x01") << QStringLiteral("message_00034.xml\\x01");
    QTest::newRow("260 characters, whole") << QByteArray(260, 'n') << QString(260, QLatin1Char('n'));
    QTest::newRow("run of signatures") << QByteArray("PK\x03\x04").repeated(3000)
                                       << QStringLiteral("PK\\x03\\x04").repeated(26) + QStringLiteral("\u2026 (12000 bytes)");
}

void ArchiveWalkTest::reportName()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, shown);
    QCOMPARE(olm::ReportName(raw), shown);
}

void ArchiveWalkTest::validUtf8_data()
{
    // A name that is not UTF-8 still names its message; one that is must not be taken for damage.
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("valid");
    QTest::newRow("ASCII") << QByteArray("Local/Inbox/message_00001.xml") << true;
    QTest::newRow("two, three and four bytes") << QByteArray("Entw\xc3\xbc" "rfe/\xe6\x97\xa5/\xf0\x9f\x98\x80") << true;
    QTest::newRow("bytes of no UTF-8") << QByteArray("m\xff\xfe\xc0" "age_00001.xml") << false;
    QTest::newRow("overlong slash") << QByteArray("a\xc0\xaf") << false;
    QTest::newRow("surrogate") << QByteArray("a\xed\xa0\x80") << false;
    QTest::newRow("past the last code point") << QByteArray("a\xf4\x90\x80\x80") << false;
    QTest::newRow("cut at the end") << QByteArray("a\xe6\x97") << false;
    QTest::newRow("continuation byte alone") << QByteArray("a\x80" "b") << false;
}

void ArchiveWalkTest::validUtf8()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, valid);
    QCOMPARE(olm::validUtf8(name), valid);
}

using BaseDamage = std::function<void(BaseArchive &)>;
Q_DECLARE_METATYPE(BaseDamage)

void ArchiveWalkTest::centralDisagrees_data()
{
    QTest::addColumn<BaseDamage>("damage");
    QTest::addColumn<int>("mailCount");
    QTest::addColumn<int>("folder1Mails");
    QTest::addColumn<int>("readElsewhere");  // report lines: read from the other source or extent
    QTest::addColumn<int>("notRead");        // report lines: entries not read at all

    const auto centralSizes = [](int message, qint64 delta) {
        return BaseDamage([=](BaseArchive &b) {
            const qint64 v = centralValuesOf(b.bytes, b.messageHeaders[message]);
            put64(b.bytes, v, get64(b.bytes, v) + quint64(delta));
            put64(b.bytes, v + 8, get64(b.bytes, v + 8) + quint64(delta));
        });
    };
    QTest::newRow("central sizes a little too small: the local ones verify")
        << centralSizes(2, -40) << 7 << 0 << 1 << 0;
    QTest::newRow("central sizes one too large") << centralSizes(2, 1) << 7 << 0 << 1 << 0;
    QTest::newRow("central sizes far too large") << centralSizes(5, 100000) << 7 << 0 << 1 << 0;
    QTest::newRow("invalid UTF-8 in a message's file name") << BaseDamage([](BaseArchive &b) {
        for (const qint64 at : {b.messageHeaders[1] + 30, centralValuesOf(b.bytes, b.messageHeaders[1]) - 4 - 70}) {
            const int name = b.bytes.indexOf("/message_", int(at)) + 1;
            b.bytes.replace(name, 4, QByteArray("\x6d\xff\xfe\xc0", 4));
        }
    }) << 7 << 0 << 0 << 0;
    // Every record is named: all but the folder entry are found at their local headers, moved
    // alike, so one line sums them up.
    QTest::newRow("every central offset shifted into the data") << BaseDamage([](BaseArchive &b) {
        for (const qint64 v : centralValues(b.bytes))
            put64(b.bytes, v + 16, get64(b.bytes, v + 16) + 37);
    }) << 7 << 0 << 1 << 0;
    QTest::newRow("two message records point at each other's headers") << BaseDamage([](BaseArchive &b) {
        const qint64 one = centralValuesOf(b.bytes, b.messageHeaders[1]);
        const qint64 three = centralValuesOf(b.bytes, b.messageHeaders[3]);
        put64(b.bytes, one + 16, quint64(b.messageHeaders[3]));
        put64(b.bytes, three + 16, quint64(b.messageHeaders[1]));
    }) << 7 << 0 << 1 << 0;
    // Neither source leads to the message: the recovery finds its block, and its folder by the
    // name behind the smashed fields; the record is named as pointing elsewhere.
    QTest::newRow("smashed local header and its record shifted") << BaseDamage([](BaseArchive &b) {
        const qint64 v = centralValuesOf(b.bytes, b.messageHeaders[2]);
        put64(b.bytes, v + 16, quint64(b.messageHeaders[3] + 40));
        Damage::smashHeader(b.bytes, b.messageHeaders[2]);
    }) << 7 << 0 << 1 << 0;
}

void ArchiveWalkTest::centralDisagrees()
{
    // Where the directory and an intact local header disagree, every message is read from the
    // bytes that verify, in its own folder, and every record not followed is named.
    QFETCH(BaseDamage, damage);
    QFETCH(int, mailCount);
    QFETCH(int, folder1Mails);
    QFETCH(int, readElsewhere);
    QFETCH(int, notRead);
    BaseArchive b = baseArchive();
    scanBytes(b.bytes);
    QMap<QString, QString> intact;  // subject -> folder
    for (MailMLRC *m : mails())
        intact.insert(QString::fromUtf8(m->pSubject), folderKey(m->llFolderId));
    damage(b);
    scanBytes(b.bytes);
    QCOMPARE(MailItemCount, qint64(mailCount));
    QCOMPARE(ContactItemCount, qint64(3));
    QCOMPARE(CalendarItemCount + TaskItemCount + NotesItemCount, qint64(5));
    QCOMPARE(locationFault(b.bytes), QString());
    int inFolder1 = 0;
    for (MailMLRC *m : mails()) {
        QVERIFY(!m->bDamaged);
        if (m->llFolderId == llFolder1Id)
            ++inFolder1;
        else
            QCOMPARE(folderKey(m->llFolderId), intact.value(QString::fromUtf8(m->pSubject)));
    }
    QCOMPARE(inFolder1, folder1Mails);
    QCOMPARE(AttachmentNodeCount, qint64(6));
    for (FileOffsetNode *n : attachmentNodes())
        QCOMPARE(TestArchiveBuilder::crc32(bytesAt(b.bytes, n->llDataOffset, n->llSize)), n->dwCrc32);
    QVERIFY2(summaryLines(EntriesReadElsewhere) == readElsewhere, qPrintable(EntriesReadElsewhere.join(QLatin1Char('\n'))));
    QVERIFY2(EntriesNotRead.size() == notRead, qPrintable(EntriesNotRead.join(QLatin1Char('\n'))));
}

void ArchiveWalkTest::repeatedNames()
{
    // Two entries of one name: both read; a line says so only when their contents differ.
    TestArchiveBuilder t;
    t.addEntry(messagePath(0, 0), OlmXml::emails({mailItem(0)}));
    t.addEntry(messagePath(0, 1), OlmXml::emails({mailItem(1)}));
    t.addEntry(messagePath(0, 0), OlmXml::emails({mailItem(2)}));
    t.addEntry(messagePath(0, 1), OlmXml::emails({mailItem(1)}));
    scanBytes(t.finish());
    QCOMPARE(MailItemCount, qint64(4));
    QCOMPARE(EntriesReadElsewhere.size(), 1);
    QVERIFY(EntriesReadElsewhere.first().contains(QLatin1String("message_00000.xml")));
    QVERIFY(EntriesNotRead.isEmpty());
}

void ArchiveWalkTest::everyMessageAccounted_data()
{
    QTest::addColumn<std::function<QByteArray()>>("make");
    QTest::addColumn<int>("mailCount");
    QTest::addColumn<int>("damagedMails");   // kept, but saved as incomplete
    QTest::addColumn<int>("readElsewhere");  // report lines: read from the other source or extent
    QTest::addColumn<int>("notRead");        // report lines: entries not read at all

    using Make = std::function<QByteArray()>;
    // Cut where the checks cannot see it: the message is kept from what remains.
    QTest::newRow("message cut after its subject, its sizes and CRC-32 of the cut")
        << Make([] { return baseArchive(true, 3, "</OPFMessageCopySubject>").bytes; }) << 7 << 1 << 0 << 0;
    QTest::newRow("message cut inside a tag, no central directory")
        << Make([] { return baseArchive(false, 3, "<OPFMessageCopyBo").bytes; }) << 7 << 1 << 0 << 0;
    // Nothing left of it to list: the entry is named.
    for (bool central : {true, false}) {
        QTest::addRow("message cut right after its root start tag%s", central ? "" : ", no central directory")
            << Make([central] { return baseArchive(central, 3, "elementCount=\"1\">").bytes; }) << 6 << 0 << 0 << 1;
    }
    // The zeroed header's record still places its data, where its CRC-32 holds: named so.
    QTest::newRow("a message's header zeroed, and the directory's second record") << Make([] {
        BaseArchive b = baseArchive();
        Damage::zeroStretch(b.bytes, b.messageHeaders[2], 30 + 60);
        const qint64 first = qint64(get64(b.bytes, b.bytes.size() - 98 + 48));
        Damage::zeroStretch(b.bytes, b.bytes.indexOf("PK\x01\x02", int(first) + 4), 46);
        return b.bytes;
    }) << 7 << 0 << 1 << 0;
    // The directory moves with the bytes behind the removed ones: its records are read moved
    // (one line), and the message whose header is gone is named.
    QTest::newRow("200 bytes removed at a message's local header") << Make([] {
        BaseArchive b = baseArchive();
        return b.bytes.remove(int(b.messageHeaders[2]), 200);
    }) << 6 << 0 << 1 << 1;
    QTest::newRow("a second record of a read message's name, at another message's header") << Make([] {
        BaseArchive b = baseArchive();
        const QByteArray other = messagePath(1, 3).toUtf8();
        b.bytes.replace(b.bytes.lastIndexOf(other), other.size(), messagePath(1, 1).toUtf8());
        return b.bytes;
    }) << 7 << 0 << 1 << 0;
    // The text up to the next entry has the entry's CRC-32: whole, not damaged.
    QTest::newRow("a message's sizes in both headers stretched over the next entry") << Make([] {
        BaseArchive b = baseArchive();
        const qint64 v = centralValuesOf(b.bytes, b.messageHeaders[2]);
        setLocalSizes(b.bytes, b.messageHeaders[2], get64(b.bytes, v) + 100);
        put64(b.bytes, v, get64(b.bytes, v) + 100);
        put64(b.bytes, v + 8, get64(b.bytes, v + 8) + 100);
        return b.bytes;
    }) << 7 << 0 << 0 << 0;
    QTest::newRow("Contacts.xml stored again inside a mail folder") << Make([] {
        TestArchiveBuilder t;
        t.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), threeContacts());
        t.addEntry(messagePath(0, 0), OlmXml::emails({mailItem(0)}));
        t.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Folder 0/Contacts.xml"), threeContacts());
        return t.finish();
    }) << 1 << 0 << 1 << 0;
    // Entries behind a shortened or lengthened one stand a few bytes from where the directory
    // points: each is read at its own header, in its own folder, and the moved records are
    // summed up in one line.
    for (int shift : {-1, -3, 2}) {
        QTest::addRow("%d bytes at each of three messages' text", shift) << Make([shift] {
            BaseArchive b = baseArchive();
            for (int i : {4, 2, 1}) {
                const int at = int(b.messageHeaders[i]) + 200;
                if (shift < 0)
                    b.bytes.remove(at, -shift);
                else
                    b.bytes.insert(at, QByteArray(shift, 'x'));
            }
            return b.bytes;
        }) << 7 << (shift < 0 ? 3 : 0) << 2 << 0;
    }
    // Mail text may hold a signature's bytes: sizes and CRC-32 that agree end the entry.
    for (bool central : {true, false}) {
        QTest::addRow("signature bytes in intact messages' text%s", central ? "" : ", no central directory")
            << Make([central] {
                   TestArchiveBuilder t;
                   t.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), threeContacts());
                   for (int i = 0; i < 7; ++i) {
                       OlmXml::MailItem m = mailItem(i);
                       if (i % 3 == 1)
                           m.body += QLatin1String(i == 1 ? "PK\x03\x04" : "PK\x01\x02 PK\x03\x04");
                       t.addEntry(messagePath(i % 2, i), OlmXml::emails({m}));
                   }
                   return t.finish(central);
               })
            << 7 << 0 << 0 << 0;
    }
    // Fake local headers hide nothing behind them, however the run ends against the next header.
    for (int shift = 0; shift < 4; ++shift) {
        QTest::addRow("64 KiB of local header signatures from byte %d, no central directory", shift) << Make([shift] {
            TestArchiveBuilder t;
            t.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), threeContacts());
            t.addEntry(messagePath(0, 0), OlmXml::emails({mailItem(0)}));
            t.addRaw(QByteArray("PK\x03\x04", 4).repeated(16385).mid(shift, 65536));
            for (int i = 1; i < 7; ++i)
                t.addEntry(messagePath(i % 2, i), OlmXml::emails({mailItem(i)}));
            return t.finish(false);
        }) << 7 << 0 << 1 << 0;  // the signatures, named as bytes between entries
    }
    QTest::newRow("a message's local name length one too long") << Make([] {
        BaseArchive b = baseArchive();
        b.bytes[int(b.messageHeaders[2] + 26)] = char(b.bytes[int(b.messageHeaders[2] + 26)] + 1);
        return b.bytes;
    }) << 7 << 0 << 1 << 0;
    QTest::newRow("a message's local name length one too short") << Make([] {
        BaseArchive b = baseArchive();
        b.bytes[int(b.messageHeaders[2] + 26)] = char(b.bytes[int(b.messageHeaders[2] + 26)] - 1);
        return b.bytes;
    }) << 7 << 0 << 1 << 0;
    // A stub that is a small archive of its own: its message is read, and named, since its name
    // places it in none of the archive's folders.
    QTest::newRow("a stub that is a small archive") << Make([] {
        TestArchiveBuilder stub;
        stub.addEntry(QStringLiteral("setup/Inbox/message_00000.xml"), OlmXml::emails({mailItem(9)}));
        return stub.finish() + baseArchive().bytes;
    }) << 8 << 0 << 2 << 0;
    // Without the archive's own directory, the stub's end record is the last in the file: its
    // directory is not the archive's, and the walk goes on past it.
    QTest::newRow("a stub that is a small archive, no central directory") << Make([] {
        TestArchiveBuilder stub;
        stub.addEntry(QStringLiteral("setup/Inbox/message_00000.xml"), OlmXml::emails({mailItem(9)}));
        return stub.finish() + baseArchive(false).bytes;
    }) << 8 << 0 << 2 << 0;  // and the stub's directory, named as bytes between entries
    // A stray header in the stub whose name length runs over the first real headers.
    for (bool central : {true, false}) {
        QTest::addRow("64 KiB stub before the archive%s", central ? "" : ", no central directory") << Make([central] {
            QByteArray stub(65536, '\0');
            stub.replace(65536 - 200, 4, "PK\x03\x04");
            stub[65536 - 200 + 26] = char(6600 & 0xff);
            stub[65536 - 200 + 27] = char(6600 >> 8);
            return stub + baseArchive(central).bytes;
        }) << 7 << 0 << (central ? 1 : 0) << 0;
    }
}

void ArchiveWalkTest::everyMessageAccounted()
{
    // Every message any source names is read, read incomplete, or named in a line.
    QFETCH(std::function<QByteArray()>, make);
    QFETCH(int, mailCount);
    QFETCH(int, damagedMails);
    QFETCH(int, readElsewhere);
    QFETCH(int, notRead);
    const QByteArray a = make();
    scanBytes(a);
    QCOMPARE(MailItemCount, qint64(mailCount));
    QCOMPARE(ContactItemCount, qint64(3));
    int damaged = 0;
    for (MailMLRC *m : mails()) {
        damaged += m->bDamaged;
        // Each in the folder its own name gives, with its fields.
        if (m->pSubject && QByteArray(m->pSubject) == "Subject 9 & more") {
            QCOMPARE(m->llFolderId, llFolder1Id);  // a stub's mail, named in a line
            continue;
        }
        QCOMPARE(folderKey(m->llFolderId).left(7), QStringLiteral("Folder "));
        QVERIFY(m->bDamaged || (m->pSubject && QByteArray(m->pSubject).startsWith("Subject ")));
    }
    QCOMPARE(damaged, damagedMails);
    QCOMPARE(locationFault(a), QString());
    // No row damages an attachment: each is found whole, under its own name.
    for (FileOffsetNode *n : attachmentNodes()) {
        QVERIFY(QByteArray(n->pEntryName).contains("/att"));
        QCOMPARE(TestArchiveBuilder::crc32(bytesAt(a, n->llDataOffset, n->llSize)), n->dwCrc32);
    }
    QVERIFY2(summaryLines(EntriesReadElsewhere) == readElsewhere, qPrintable(EntriesReadElsewhere.join(QLatin1Char('\n'))));
    // Without its directory the file reads as cut where an entry ends: one line more says so.
    const bool noDirectory = QByteArray(QTest::currentDataTag()).endsWith("no central directory");
    QVERIFY2(EntriesNotRead.size() == notRead + noDirectory, qPrintable(EntriesNotRead.join(QLatin1Char('\n'))));
    QCOMPARE(cutAtEdgeLines(a.size()), int(noDirectory));
}

void ArchiveWalkTest::sampleShifted_data()
{
    QTest::addColumn<int>("change");  // bytes added inside each message (< 0: removed), or 0: name length + 1
    QTest::newRow("one byte removed inside each message") << -1;
    QTest::newRow("three bytes removed inside each message") << -3;
    QTest::newRow("two bytes added inside each message") << 2;
    QTest::newRow("each message's local name length one too long") << 0;
}

void ArchiveWalkTest::sampleShifted()
{
    // Every mail of the sample comes back in its own folder with its fields, and no line says an
    // entry was not read.
    QFETCH(int, change);
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray a = f.readAll();
    scanBytes(a);
    QMap<QString, QString> folders;
    for (MailMLRC *m : mails())
        folders.insert(QString::fromUtf8(m->pSubject), folderKey(m->llFolderId));
    QVector<int> headers;
    for (int at = a.indexOf("PK\x03\x04"); at >= 0; at = a.indexOf("PK\x03\x04", at + 4)) {
        const int n = int(quint8(a[at + 26]) | quint8(a[at + 27]) << 8);
        const QByteArray name = a.mid(at + 30, n);
        if (name.contains("/message_") && name.endsWith(".xml"))
            headers.prepend(at);
    }
    QVERIFY(headers.size() >= 6);
    for (int at : headers) {
        if (change == 0)
            a[at + 26] = char(a[at + 26] + 1);
        else if (change < 0)
            a.remove(at + 400, -change);
        else
            a.insert(at + 400, QByteArray(change, ' '));
    }
    scanBytes(a);
    QCOMPARE(MailItemCount, qint64(7));
    for (MailMLRC *m : mails())
        QCOMPARE(folderKey(m->llFolderId), folders.value(QString::fromUtf8(m->pSubject)));
    QVERIFY2(EntriesNotRead.isEmpty(), qPrintable(EntriesNotRead.join(QLatin1Char('\n'))));
    QVERIFY2(summaryLines(EntriesReadElsewhere) <= headers.size() + 1, qPrintable(EntriesReadElsewhere.join(QLatin1Char('\n'))));
}

void ArchiveWalkTest::sampleDocumentHeader_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("zeroed CRC") << 0;
    QTest::newRow("smashed signature") << 1;
    QTest::newRow("smashed fixed fields") << 2;
}

void ArchiveWalkTest::sampleDocumentHeader()
{
    // One damaged local header in front of the sample's .docx attachment: every mail and every
    // attachment comes back with its exact bytes.
    QFETCH(int, mode);
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray a = f.readAll();
    scanBytes(a);
    const qint64 nodes = AttachmentNodeCount;
    qint64 docx = -1;
    for (FileOffsetNode *n : attachmentNodes()) {
        // The document is itself a ZIP archive.
        if (docx < 0 && a.mid(int(n->llDataOffset), 4) == "PK\x03\x04")
            docx = a.lastIndexOf("PK\x03\x04", int(n->llDataOffset) - 1);
    }
    QVERIFY(docx > 0);
    if (mode == 0)
        memset(a.data() + docx + 14, 0, 4);
    else if (mode == 1)
        a[int(docx)] = 'X';
    else
        Damage::smashHeader(a, docx);
    scanBytes(a);
    QCOMPARE(MailItemCount, qint64(7));
    QCOMPARE(AttachmentNodeCount, nodes);
    for (FileOffsetNode *n : attachmentNodes())
        QCOMPARE(TestArchiveBuilder::crc32(bytesAt(a, n->llDataOffset, n->llSize)), n->dwCrc32);
    for (MailMLRC *m : mails())
        QVERIFY(m->llFolderId != llFolder1Id);
}

void ArchiveWalkTest::neighbourhood_data()
{
    QTest::addColumn<Harm>("harm");
    for (int n : {1, 2, 3, 4, 5, 8, 16, 64, 300}) {
        QTest::addRow("%d bytes removed inside a message", n) << Harm{Harm::Shift, -n, {3}};
        QTest::addRow("%d bytes added inside a document", n) << Harm{Harm::Shift, n, {4}};
        QTest::addRow("%d bytes removed inside three messages and a document", n)
            << Harm{Harm::Shift, -n, {1, 8, 13, 19}};
        QTest::addRow("%d bytes added inside the contacts and two messages", n) << Harm{Harm::Shift, n, {0, 5, 21}};
    }
    const struct {
        const char *name;
        int at;
    } fields[] = {{"signature", 2}, {"version", 5}, {"CRC-32", 15}, {"sizes", 20}, {"name", -1}, {"extra", -2}};
    for (const auto &f : fields) {
        for (int n : {1, 5, 8}) {
            QTest::addRow("%d bytes in the %s of a message's header", n, f.name)
                << Harm{Harm::HeaderBytes, n, {5}, f.at};
            QTest::addRow("%d bytes in the %s of three headers", n, f.name)
                << Harm{Harm::HeaderBytes, n, {2, 9, 17}, f.at};
        }
    }
    // Bytes lost from a header, its signature's or name's included: the header then starts where
    // the entry before it ends, closer to its data than a whole header, also where that entry's
    // own header is damaged too.
    for (const auto &f : fields) {
        for (int n : {1, 4, 8, 22}) {
            // More than the extra's 14 bytes after the field would take bytes of the data too.
            if (f.at == -2 && n > 14)
                continue;
            QTest::addRow("%d bytes lost from the %s of a message's header", n, f.name)
                << Harm{Harm::HeaderBytes, -n, {5}, f.at};
            QTest::addRow("%d bytes lost from the %s of a document's header and the message's behind it", n, f.name)
                << Harm{Harm::HeaderBytes, -n, {4, 5}, f.at};
            QTest::addRow("%d bytes lost from the %s of three headers", n, f.name)
                << Harm{Harm::HeaderBytes, -n, {2, 9, 17}, f.at};
            // Without a directory, a message whose header's fixed fields lost bytes is found by
            // the name behind them and the data's CRC-32.
            if (f.at >= 0 && n <= 8)
                QTest::addRow("%d bytes lost from the %s of a message's header, no directory", n, f.name)
                    << Harm{Harm::HeaderBytes, -n, {5}, f.at, true};
        }
    }
    for (int at : {15, 20})
        QTest::addRow("a byte in the %s of a message's header, no central directory", at == 15 ? "CRC-32" : "sizes")
            << Harm{Harm::HeaderBytes, 1, {5}, at, true};
    QTest::newRow("every LF turned into CR LF") << Harm{Harm::CrLf, 0, {}};
    for (int share : {10, 50, 90, 99})
        QTest::addRow("cut at %d %%", share) << Harm{Harm::Cut, share, {}};
}

void ArchiveWalkTest::neighbourhood()
{
    // Every message is listed in its own folder, or (cut off) counted in the one line that says
    // where the file ends; every document not damaged comes back whole under its own name; the
    // parts inside a document are never taken for the archive's entries; no line is untrue.
    QFETCH(Harm, harm);
    const TestArchiveBuilder b = neighbourhoodArchive();
    const QVector<TestArchiveBuilder::Entry> &entries = b.entries();
    QByteArray a = b.finish(!harm.noDirectory);
    QVector<int> where = harm.where;
    std::sort(where.rbegin(), where.rend());
    for (int i : where) {
        const TestArchiveBuilder::Entry &e = entries[i];
        if (harm.kind == Harm::Shift) {
            const int at = int(e.dataOffset) + 100;
            if (harm.amount < 0)
                a.remove(at, -harm.amount);
            else
                a.insert(at, QByteArray(harm.amount, 'x'));
        } else {
            const int nameLength = e.nameBytes.size();
            const int at = harm.field == -1 ? 30 + nameLength / 2 : harm.field == -2 ? 30 + nameLength + 6 : harm.field;
            if (harm.amount < 0)
                a.remove(int(e.headerOffset) + at, -harm.amount);
            else
                a.insert(int(e.headerOffset) + at, QByteArray(harm.amount, '\x11'));
        }
    }
    if (harm.kind == Harm::CrLf)
        a.replace("\n", "\r\n");
    const qint64 kept = a.size() * harm.amount / 100;
    if (harm.kind == Harm::Cut)
        a.truncate(int(kept));
    scanBytes(a);
    const QString report = (EntriesNotRead + EntriesReadElsewhere).join(QLatin1Char('\n'));
    int listed = 12, damaged = 0, wholeDocuments = 0;
    if (harm.kind == Harm::Cut) {
        // Messages whose text lies before the cut; the one the cut runs through may be listed too.
        listed = int(std::count_if(entries.begin(), entries.end(), [&](const TestArchiveBuilder::Entry &e) {
            return e.name.endsWith(QLatin1String(".xml")) && e.name.contains(QLatin1String("message_"))
                && e.dataOffset + e.size <= kept;
        }));
        QVERIFY2(MailItemCount == listed || MailItemCount == listed + 1, qPrintable(report));
        const bool inDirectory = kept > entries.last().dataOffset + entries.last().size;
        QVERIFY2((inDirectory ? EntriesReadElsewhere : EntriesNotRead).size() == 1, qPrintable(report));
        QVERIFY2(report.contains(QStringLiteral("The archive ends at byte %1,").arg(kept)), qPrintable(report));
    } else {
        QCOMPARE(MailItemCount, qint64(listed));
        // Without its directory the file reads as cut where an entry ends, and says only that.
        QVERIFY2(EntriesNotRead.size() == int(harm.noDirectory), qPrintable(report));
        QCOMPARE(cutAtEdgeLines(a.size()), int(harm.noDirectory));
    }
    for (MailMLRC *m : mails()) {
        damaged += m->bDamaged;
        QVERIFY2(folderKey(m->llFolderId).startsWith(QLatin1String("Folder ")), qPrintable(report));
    }
    const auto harmed = [&](const QString &name) {
        for (int i : harm.where) {
            if (entries[i].name == name)
                return true;
        }
        return harm.kind == Harm::CrLf;
    };
    for (FileOffsetNode *n : attachmentNodes()) {
        const QString name = QString::fromUtf8(n->pEntryName);
        // A document's parts are never the archive's entries, whatever grew around them.
        QVERIFY2(name.contains(QLatin1String("/com.microsoft.__Attachments/doc")), qPrintable(name));
        const bool whole = TestArchiveBuilder::crc32(bytesAt(a, n->llDataOffset, n->llSize)) == n->dwCrc32;
        QVERIFY2(whole || harmed(name) || harm.kind == Harm::Cut, qPrintable(name));
        wholeDocuments += whole;
    }
    if (harm.kind == Harm::Shift || harm.kind == Harm::HeaderBytes) {
        // Only the messages whose own text lost or gained bytes are damaged.
        const int harmedDocuments =
            int(std::count_if(where.begin(), where.end(), [](int i) { return i > 0 && i % 2 == 0; }));
        const int harmedMessages = int(std::count_if(where.begin(), where.end(), [](int i) { return i % 2 == 1; }));
        QVERIFY2(damaged <= (harm.kind == Harm::Shift ? harmedMessages : 0), qPrintable(report));
        QVERIFY2(wholeDocuments >= 12 - (harm.kind == Harm::Shift ? harmedDocuments : 0), qPrintable(report));
        QVERIFY2(ContactItemCount >= (where.contains(0) ? 2 : 3),
                 qPrintable(QString::number(ContactItemCount) + report));
    }
    QVERIFY2(!report.contains(QLatin1String("Folder1")), qPrintable(report));
}

void ArchiveWalkTest::otherExtraChanged_data()
{
    QTest::addColumn<bool>("zip64");
    QTest::addColumn<int>("amount");  // bytes put into (> 0) or lost from (< 0) a timestamp extra
    for (bool zip64 : {true, false}) {
        for (int n : {-4, -3, -1, 1, 3, 64})
            QTest::addRow("%d bytes %s, %s", qAbs(n), n < 0 ? "lost" : "added", zip64 ? "ZIP64" : "32-bit sizes")
                << zip64 << n;
    }
}

// Headers with another extra before or instead of the ZIP64 one, as other programs write them:
// bytes lost from or put into it move the data while both sources' sizes still agree. The data
// is found where it ends at the next header with its CRC-32; nothing is read shifted.
void ArchiveWalkTest::otherExtraChanged()
{
    QFETCH(bool, zip64);
    QFETCH(int, amount);
    TestArchiveEntryOptions options;
    options.zip64Extra = zip64;
    options.extraBefore = QByteArray("\x55\x54\x05\x00\x01\x11\x22\x33\x44", 9);  // a timestamp
    TestArchiveBuilder b;
    for (int i = 0; i < 6; ++i) {
        OlmXml::MailItem m = mailItem(i);
        m.body += QString(500, QLatin1Char('y'));
        b.addEntry(messagePath(i % 3, i), OlmXml::emails({m}), options);
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Folder %1/com.microsoft.__Attachments/doc%2.docx")
                       .arg(i % 3)
                       .arg(i),
                   officeDocument(i), options);
    }
    const QVector<TestArchiveBuilder::Entry> entries = b.entries();
    QByteArray a = b.finish();
    // A message's and a document's timestamps, from the back so the places before stay put.
    for (int i : {7, 2}) {
        const qint64 at = entries[i].headerOffset + 30 + entries[i].nameBytes.size() + 5;
        if (amount < 0)
            a.remove(int(at), -amount);
        else
            a.insert(int(at), QByteArray(amount, '\x11'));
    }
    scanBytes(a);
    const QString report = (EntriesNotRead + EntriesReadElsewhere).join(QLatin1Char('\n'));
    QCOMPARE(MailItemCount, qint64(6));
    QVERIFY2(EntriesNotRead.isEmpty(), qPrintable(report));
    for (MailMLRC *m : mails())
        QVERIFY2(!m->bDamaged, qPrintable(report));
    int whole = 0;
    for (FileOffsetNode *n : attachmentNodes())
        whole += TestArchiveBuilder::crc32(bytesAt(a, n->llDataOffset, n->llSize)) == n->dwCrc32;
    QVERIFY2(whole == 6, qPrintable(QString::number(whole) + QLatin1Char('\n') + report));
}

void ArchiveWalkTest::sampleFourAndOneBytes()
{
    // Four bytes lost inside one message and one inside another: the Drafts mail's document
    // behind them is found whole, and no part inside it is taken for an entry of the archive.
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray a = f.readAll();
    scanBytes(a);
    const qint64 nodes = AttachmentNodeCount;
    a.remove(1392355, 1);
    a.remove(61854, 4);
    scanBytes(a);
    const QString report = (EntriesNotRead + EntriesReadElsewhere).join(QLatin1Char('\n'));
    QCOMPARE(MailItemCount, qint64(7));
    QCOMPARE(AttachmentNodeCount, nodes);
    QCOMPARE(CompressedEntryCount, qint64(0));
    QVERIFY2(EntriesNotRead.isEmpty(), qPrintable(report));
    for (FileOffsetNode *n : attachmentNodes())
        QCOMPARE(TestArchiveBuilder::crc32(bytesAt(a, n->llDataOffset, n->llSize)), n->dwCrc32);
    int damaged = 0;
    for (MailMLRC *m : mails()) {
        damaged += m->bDamaged;
        QVERIFY(m->llFolderId != llFolder1Id);
    }
    QCOMPARE(damaged, 2);
    // One line for the 4-byte move with at most 20 entries below it, one for the directory.
    QVERIFY2(summaryLines(EntriesReadElsewhere) <= 2 && EntriesReadElsewhere.size() <= 23, qPrintable(report));
}

void ArchiveWalkTest::namelessHeaderJumpsNothing()
{
    // A damaged header (an LF grown into CR LF moves its fields) may read as one without a name,
    // or as stored data of two sizes, whose size lands a byte or three past a later header: the
    // whole entries it would jump over are read all the same.
    for (bool named : {false, true}) {
        TestArchiveBuilder t;
        QVector<qint64> headers;
        for (int i = 0; i < 7; ++i)
            headers << t.addEntry(messagePath(i % 2, i), OlmXml::emails({mailItem(i)}));
        QByteArray a = t.finish(false);
        const QByteArray name = named ? QByteArray("Local/com.microsoft.__Messages/Folder 0/x.docx") : QByteArray();
        QByteArray fake("PK\x03\x04", 4);
        fake += QByteArray(10, '\0') + QByteArray("\x78\x56\x34\x12", 4);
        const quint32 size = quint32(headers[5] - headers[1] + 2);
        for (quint32 v : {size, named ? size / 2 : size})
            for (int b = 0; b < 4; ++b)
                fake += char(v >> (8 * b));
        fake += char(name.size()) + QByteArray(3, '\0') + name;
        a.insert(int(headers[1]), fake);
        scanBytes(a);
        QCOMPARE(MailItemCount, qint64(7));
        for (MailMLRC *m : mails())
            QVERIFY(m->llFolderId != llFolder1Id);
    }
}

void ArchiveWalkTest::mailedArchiveCutInItsHeaders()
{
    // The last mail carries an archive of the same kind, stored; the file is cut inside one of
    // its local headers or at its directory: none of its mails or events is taken for the
    // user's own.
    TestArchiveBuilder inner;
    QVector<qint64> cuts;
    for (int i = 0; i < 4; ++i) {
        const qint64 at = inner.addEntry(messagePath(i % 2, i), OlmXml::emails({mailItem(100 + i)}));
        cuts << at << at + 3 << at + 29 << at + 40;
    }
    inner.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"),
                   OlmXml::appointments({{QStringLiteral("Inner"), QString(), QString(), QString(), QString()}}));
    const QByteArray mailed = inner.finish();
    cuts << inner.size() << inner.size() + 2;
    TestArchiveBuilder outer;
    for (int i = 0; i < 3; ++i)
        outer.addEntry(messagePath(0, i), OlmXml::emails({mailItem(i)}));
    outer.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Folder 0/com.microsoft.__Attachments/old.olm"),
                   mailed);
    const QByteArray whole = outer.finish();
    const qint64 start = outer.entries().last().dataOffset;
    for (qint64 cut : cuts) {
        scanBytes(whole.left(int(start + cut)));
        QVERIFY2(MailItemCount == 3, qPrintable(QString::number(cut)));
        QCOMPARE(CalendarItemCount, qint64(0));
    }
}

QTEST_GUILESS_MAIN(ArchiveWalkTest)
#include "tst_archivewalk.moc"
