// The record builders on realistic item XML: fields, bounds, and exact archive locations.

#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "scanner/ElementValue.h"
#include "scanner/WellFormed.h"

#include <QSignalSpy>
#include <QtTest>

#include "platform/Crc32.h"

#include <cstdlib>

namespace {

constexpr qint64 kTextStart = 4096;

// Places xml at kTextStart of a fake archive so recorded offsets can be read back.
QByteArray archiveWith(const QByteArray &xml)
{
    return QByteArray(int(kTextStart), '\0') + xml;
}

void setText(const QByteArray &xml)
{
    free(pBuff);
    pBuff = MakeCString(xml);
    pBuffLength = xml.size();
}

enum Kind { Contacts, Calendar, Tasks, Notes, Mail };

void build(QFolderInformationThread &t, Kind kind, const QByteArray &xml, const QString &path = QStringLiteral("F"))
{
    setText(xml);
    const qint64 end = kTextStart + xml.size();
    switch (kind) {
    case Contacts: t.InitializeCTRC(path, end, xml.size()); break;
    case Calendar: t.InitializeCLRC(path, end, xml.size()); break;
    case Tasks: t.InitializeTSRC(path, end, xml.size()); break;
    case Notes: t.InitializeNTRC(path, end, xml.size()); break;
    // The entry's own CRC-32: its bytes are whole.
    case Mail: t.InitializeMLRC(path, end, 1000, 20, xml.size(), Crc32Update(0, xml.constData(), xml.size()), xml.size()); break;
    }
}

QString str(const char *s)
{
    return s ? QString::fromUtf8(s) : QStringLiteral("<null>");
}

QByteArray mailXml(const QByteArray &children)
{
    return OlmXml::list(QStringLiteral("emails"), 1, OlmXml::item(QStringLiteral("email"), children));
}

} // namespace

class BuildersTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        CleanScanResults();
        bStopFlag = false;
    }
    void cleanupTestCase() { CleanScanResults(); }
    void contacts_();
    void stopDuringItems();
    void calendar();
    void tasks_();
    void notes_();
    void recordKeys_data();
    void recordKeys();
    void mailTwoItems();
    void mailFields_data();
    void mailFields();
    void mailBody();
    void mailSenders();
    void recoveredMail();
    void closeTagsWithBlanks_data();
    void closeTagsWithBlanks();
    void brokenMail_data();
    void brokenMail();
    void brokenItems_data();
    void brokenItems();
    void mailDamagedEntry_data();
    void mailDamagedEntry();
};

void BuildersTest::contacts_()
{
    QFolderInformationThread t;
    const QByteArray xml = OlmXml::contacts({{"Ann", "Lee &amp; Co", "", "  abc  ", ""},
                                             {QString(256, 'x'), "", "", " \r\n ", "UElD"},
                                             {"\xc3\xa9mile", "", "", "", ""}});
    build(t, Contacts, xml + "\n");   // a line break after the root must not shift anything
    const QByteArray a = archiveWith(xml + "\n");
    const QList<ContactInformation *> c = contacts();
    QCOMPARE(c.size(), 3);
    QCOMPARE(str(c[0]->pFirstName), QStringLiteral("Ann"));
    QCOMPARE(str(c[0]->pLastName), QStringLiteral("Lee & Co"));
    QCOMPARE(c[0]->dwNotesLength, 7u);
    QCOMPARE(bytesAt(a, c[0]->dwNotesOffset, 7), QByteArray("  abc  "));
    QCOMPARE(str(c[1]->pFirstName), QStringLiteral("<null>"));
    QCOMPARE(c[1]->dwNotesLength, 0u);
    QCOMPARE(bytesAt(a, c[1]->dwPictureOffset, c[1]->dwPictureLength), QByteArray("UElD"));
    QCOMPARE(str(c[2]->pFirstName), QString::fromUtf8("\xc3\xa9mile"));
    QCOMPARE(c[0]->llItemOffset, kTextStart);
    QCOMPARE(c[1]->llItemOffset, c[0]->llItemOffset + c[0]->dwItemLength);
    QCOMPARE(locationFault(a), QString());
    QCOMPARE(folderKey(c[0]->llFolderId), QStringLiteral("Fnotmailcontact"));
    QCOMPARE(llParentIdRunning, qint64(0));
    QVERIFY(strcmp(c[0]->szUuid, c[1]->szUuid) != 0);

    build(t, Contacts, xml, QString());
    QCOMPARE(contacts().last()->llFolderId, llFolder1Id);
}

void BuildersTest::stopDuringItems()
{
    QFolderInformationThread t;
    QVector<OlmXml::ContactItem> items(5, {"A", "B", "", "n", ""});
    // A stop that is already set: folders are made, records are not.
    bStopFlag = true;
    build(t, Contacts, OlmXml::contacts(items), QStringLiteral("Stopped"));
    QCOMPARE(ContactItemCount, qint64(0));
    QVERIFY(objMapName_FID.contains(QStringLiteral("Stoppednotmailcontact")));
    // A stop during the first item keeps that item, complete, and makes no more.
    bStopFlag = false;
    connect(&t, &QFolderInformationThread::strInfo, &t, [] { bStopFlag = true; }, Qt::DirectConnection);
    build(t, Contacts, OlmXml::contacts(items));
    QCOMPARE(ContactItemCount, qint64(1));
    QCOMPARE(str(contacts().first()->pLastName), QStringLiteral("B"));
    QVERIFY(contacts().first()->dwNotesLength > 0);
    QCOMPARE(llParentIdRunning, qint64(0));
}

void BuildersTest::calendar()
{
    QFolderInformationThread t;
    const QString longSummary(300, QLatin1Char('s'));
    const QByteArray xml = OlmXml::appointments({{longSummary, "Tom &amp; Jerry", " desc \n", "", ""}});
    build(t, Calendar, xml);
    const QList<CalenderInformation *> e = events();
    QCOMPARE(e.size(), 1);
    QCOMPARE(str(e[0]->pSummary), longSummary);
    QCOMPARE(str(e[0]->pLocation), QStringLiteral("Tom & Jerry"));
    QCOMPARE(e[0]->dwDescriptionLength, 7u);
    QCOMPARE(locationFault(archiveWith(xml)), QString());
    QCOMPARE(folderKey(e[0]->llFolderId), QStringLiteral("Fnotmailcalender"));
}

void BuildersTest::tasks_()
{
    QFolderInformationThread t;
    const QByteArray xml = OlmXml::tasks({{QString(255, 'n'), "note", " 4 "},
                                          {QString(256, 'n'), " \t ", "02"},
                                          {"a &amp;lt; b\r\nc", "", "2"},
                                          {"", "", ""}});
    // A break between the last item and the root's close tag, as other writers produce.
    QByteArray spaced = xml;
    spaced.insert(spaced.lastIndexOf("</tasks>"), "\r\n");
    build(t, Tasks, spaced);
    const QList<TasksInformation *> r = tasks();
    QCOMPARE(r.size(), 4);
    QCOMPARE(str(r[0]->pName), QString(255, 'n'));
    QCOMPARE(r[0]->cPriority, '4');
    QCOMPARE(str(r[1]->pName), QStringLiteral("<null>"));
    QCOMPARE(r[1]->dwNoteLength, 0u);
    QCOMPARE(r[1]->cPriority, '3');
    QCOMPARE(str(r[2]->pName), QStringLiteral("a &lt; b  c"));
    QCOMPARE(r[2]->cPriority, '2');
    QCOMPARE(r[3]->cPriority, '\0');
    QCOMPARE(locationFault(archiveWith(spaced)), QString());
    QCOMPARE(bytesAt(archiveWith(spaced), r[0]->dwNoteOffset, r[0]->dwNoteLength), QByteArray("note"));

    // No item close tag: no record, but the folder is entered.
    build(t, Tasks, "<tasks a=\"1\"></tasks>", QStringLiteral("Empty"));
    QCOMPARE(TaskItemCount, qint64(4));
    QVERIFY(objMapName_FID.contains(QStringLiteral("Emptynotmailtask")));
}

void BuildersTest::notes_()
{
    QFolderInformationThread t;
    const QString title258 = QString(253, 't') + QStringLiteral("&amp;");  // 254 after decoding
    const QByteArray xml = OlmXml::notes({{title258, "  body  "}, {QString(256, 't'), ""}, {"line\nbreak", "x"}});
    QSignalSpy progress(&t, &QFolderInformationThread::OnProgressvalue);
    build(t, Notes, xml + "\n\n");
    const QList<NotesInformation *> n = notes();
    QCOMPARE(n.size(), 3);
    QCOMPARE(str(n[0]->pTitle).size(), 254);
    QCOMPARE(str(n[1]->pTitle), QStringLiteral("<null>"));
    QCOMPARE(str(n[2]->pTitle), QStringLiteral("line\nbreak"));
    QCOMPARE(bytesAt(archiveWith(xml), n[0]->dwTextOffset, n[0]->dwTextLength), QByteArray("  body  "));
    QCOMPARE(locationFault(archiveWith(xml + "\n\n")), QString());
    QCOMPARE(progress.count(), 0);
}

void BuildersTest::recordKeys_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("contacts") << int(Contacts) << OlmXml::contacts({{"Ann", "Lee", "", "", ""}, {"Ann", "Lee", "", "", ""}});
    QTest::newRow("events") << int(Calendar) << OlmXml::appointments({{"Meet", "", "", "", ""}, {"Meet", "", "", "", ""}});
    QTest::newRow("tasks") << int(Tasks) << OlmXml::tasks({{"Call", "", ""}, {"Call", "", ""}});
    QTest::newRow("notes") << int(Notes) << OlmXml::notes({{"Idea", "text"}, {"Idea", "text"}});
}

// Keys (and so file names) come from the items: a second scan gives the same ones, and two equal
// items at two places get two.
void BuildersTest::recordKeys()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, xml);
    const auto keys = [&] {
        QFolderInformationThread t;
        build(t, Kind(kind), xml);
        QStringList found;
        for (const ContactInformation *r = TmpCTRCPtrStart; r; r = r->pNext)
            found << QString::fromLatin1(r->szUuid);
        for (const CalenderInformation *r = TmpCLRCPtrStart; r; r = r->pNext)
            found << QString::fromLatin1(r->szUuid);
        for (const TasksInformation *r = TmpTSRCPtrStart; r; r = r->pNext)
            found << QString::fromLatin1(r->szUuid);
        for (const NotesInformation *r = TmpNTRCPtrStart; r; r = r->pNext)
            found << QString::fromLatin1(r->szUuid);
        CleanScanResults();
        return found;
    };
    const QStringList first = keys();
    QCOMPARE(first.size(), 2);
    QVERIFY(first[0] != first[1]);
    QCOMPARE(keys(), first);
}

void BuildersTest::mailTwoItems()
{
    QFolderInformationThread t;
    OlmXml::MailItem a, b;
    a.subject = QStringLiteral("first");
    a.body = QString::fromUtf8("caf\xc3\xa9 &lt;p&gt;");
    b.subject = QString::fromUtf8("\xe3\x83\x91\xe3\x83\xbc\xe3\x83\x86\xe3\x82\xa3");
    b.body = QString::fromUtf8("\xd7\x91\xd7\x90\xd7\x99\xd7\x96\xd7\x94");
    const QByteArray xml = OlmXml::emails({a, b});
    build(t, Mail, xml, QStringLiteral("Inbox/Sub"));
    const QList<MailMLRC *> m = mails();
    QCOMPARE(m.size(), 2);
    // Both items belong to the entry's folder, with its location, size and CRC.
    QCOMPARE(m[0]->llFolderId, m[1]->llFolderId);
    QCOMPARE(folderKey(m[1]->llFolderId), QStringLiteral("Sub"));
    for (MailMLRC *r : m) {
        QCOMPARE(r->llNameOffset, qint64(1000));
        QCOMPARE(r->nNameLength, 20);
        QCOMPARE(r->dwCrc32, Crc32Update(0, xml.constData(), xml.size()));
        QCOMPARE(r->dwEntrySize, quint32(xml.size()));
    }
    // Each record's XML is its own item span: together they tile the entry, one message each.
    QCOMPARE(m[0]->llDataOffset, kTextStart);
    QCOMPARE(m[1]->llDataOffset, m[0]->llDataOffset + m[0]->dwDataLength);
    QCOMPARE(m[1]->llDataOffset + m[1]->dwDataLength, kTextStart + xml.size());
    const QByteArray arc = archiveWith(xml);
    QCOMPARE(bytesAt(arc, m[0]->llDataOffset, m[0]->dwDataLength).count("</email>"), 1);
    QVERIFY(bytesAt(arc, m[1]->llDataOffset, m[1]->dwDataLength).contains(b.subject.toUtf8()));
    QVERIFY(!bytesAt(arc, m[1]->llDataOffset, m[1]->dwDataLength).contains("first"));
    QCOMPARE(bytesAt(arc, m[0]->llBodyOffset, m[0]->dwBodyLength), a.body.toUtf8());
    QCOMPARE(bytesAt(arc, m[1]->llBodyOffset, m[1]->dwBodyLength), b.body.toUtf8());
    QCOMPARE(str(m[1]->pSubject), b.subject);
    QCOMPARE(llParentIdRunning, qint64(0));
}

void BuildersTest::mailFields_data()
{
    QTest::addColumn<QByteArray>("children");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<int>("outgoing");
    QTest::addColumn<int>("priority");
    QTest::addColumn<bool>("sentSet");
    QTest::addColumn<bool>("attachment");
    auto el = [](const char *n, const QString &v) { return OlmXml::element(QString::fromLatin1(n), v); };
    QTest::newRow("entities once, a line break made a blank")
        << el("OPFMessageCopySubject", " a &amp;lt; b &gt; c\r\nd ") << "a &lt; b > c d" << 0 << 0 << false << false;
    QTest::newRow("subject of 1023 kept") << el("OPFMessageCopySubject", QString(1023, 's')) << QString(1023, 's') << 0 << 0 << false << false;
    QTest::newRow("subject of 2000 kept") << el("OPFMessageCopySubject", QString(2000, 's')) << QString(2000, 's') << 0 << 0 << false << false;
    QTest::newRow("outgoing 1, priority 2") << el("OPFMessageIsOutgoing", "1") + el("OPFMessageGetPriority", "2") << "<null>" << 1 << int('2') << false << false;
    QTest::newRow("outgoing 0E0, priority 5") << el("OPFMessageIsOutgoing", "0E0") + el("OPFMessageGetPriority", "5") << "<null>" << 0x2D << int('3') << false << false;
    QTest::newRow("priority by character references") << el("OPFMessageGetPriority", " &#50;") << "<null>" << 0 << int('2') << false << false;
    QTest::newRow("priority by a hexadecimal reference") << el("OPFMessageGetPriority", "&#x34;") << "<null>" << 0 << int('4') << false << false;
    QTest::newRow("outgoing x, empty priority") << el("OPFMessageIsOutgoing", "x") + el("OPFMessageGetPriority", " ") << "<null>" << 0 << 0 << false << false;
    QTest::newRow("sent time of 31 characters") << el("OPFMessageCopySentTime", "2018-06-21T03:26:46.123456+0100") << "<null>" << 0 << 0 << true << false;
    QTest::newRow("sent time of 32 characters") << el("OPFMessageCopySentTime", "2018-06-21T03:26:46.123456+01:00") << "<null>" << 0 << 0 << false << false;
    QTest::newRow("attachment list") << QByteArray("<OPFMessageCopyAttachmentList xml:space=\"preserve\"><messageAttachment OPFAttachmentName=\"a\"></messageAttachment></OPFMessageCopyAttachmentList>") << "<null>" << 0 << 0 << false << true;
    QTest::newRow("empty attachment list") << el("OPFMessageCopyAttachmentList", "") << "<null>" << 0 << 0 << false << false;
    QTest::newRow("self-closing attachment, single quotes") << QByteArray("<OPFMessageCopyAttachmentList><messageAttachment OPFAttachmentName='a'/></OPFMessageCopyAttachmentList>") << "<null>" << 0 << 0 << false << true;
    // Elements in the reverse of the exporter's order, and repeated ones: the first of each counts.
    QTest::newRow("reordered elements")
        << QByteArray("<OPFMessageCopyAttachmentList xml:space=\"preserve\"><messageAttachment OPFAttachmentName=\"a\"></messageAttachment></OPFMessageCopyAttachmentList>")
               + el("OPFMessageGetPriority", "2") + el("OPFMessageIsOutgoing", "1")
               + el("OPFMessageCopySentTime", "2018-06-21T03:26:46") + el("OPFMessageCopySubject", "late")
        << "late" << 1 << int('2') << true << true;
    QTest::newRow("repeated elements")
        << el("OPFMessageCopySubject", "one") + el("OPFMessageGetPriority", "4") + el("OPFMessageCopySubject", "two")
               + el("OPFMessageGetPriority", "2")
        << "one" << 0 << int('4') << false << false;
    QTest::newRow("line breaks in the subject part its words")
        << el("OPFMessageCopySubject", "Quarterly\nfigures\r\nfor\r\n\nQ3&#10;now") << "Quarterly figures for Q3 now" << 0 << 0
        << false << false;
    // Valid XML forms: the values a conforming reader gives.
    QTest::newRow("subject in CDATA") << QByteArray("<OPFMessageCopySubject><![CDATA[Tom &amp; Jerry <3]]></OPFMessageCopySubject>")
                                      << "Tom &amp; Jerry <3" << 0 << 0 << false << false;
    QTest::newRow("comment inside the subject") << QByteArray("<OPFMessageCopySubject>Hello<!-- hidden -->World</OPFMessageCopySubject>")
                                                << "HelloWorld" << 0 << 0 << false << false;
    QTest::newRow("blank before the close tag's '>'") << QByteArray("<OPFMessageCopySubject>Real</OPFMessageCopySubject\n>")
                                                      << "Real" << 0 << 0 << false << false;
    QTest::newRow("'>' quoted in the start tag")
        << QByteArray("<OPFMessageCopySubject xml:space=\"preserve\" note=\"a>b\">Real subject</OPFMessageCopySubject>")
        << "Real subject" << 0 << 0 << false << false;
    QTest::newRow("element names inside a longer name")
        << el("OPFMessageCopySubjectPrefix", "no") + el("OPFMessageIsOutgoingX", "1") + el("OPFMessageCopySubject", "yes")
        << "yes" << 0 << 0 << false << false;
}

void BuildersTest::mailFields()
{
    QFETCH(QByteArray, children);
    QFETCH(QString, subject);
    QFETCH(int, outgoing);
    QFETCH(int, priority);
    QFETCH(bool, sentSet);
    QFETCH(bool, attachment);
    QFolderInformationThread t;
    build(t, Mail, mailXml(children));
    QCOMPARE(MailItemCount, qint64(1));
    MailMLRC *m = TmpMlrcPtrStart;
    QCOMPARE(str(m->pSubject), subject);
    QCOMPARE(int(m->bOutgoing), outgoing);
    QCOMPARE(int(m->cPriority), priority);
    QCOMPARE(m->dwSentTime != 0, sentSet);
    QCOMPARE(m->dwSentTimeCopy, m->dwSentTime);
    QCOMPARE(bool(m->bHasAttachment), attachment);
}

void BuildersTest::mailBody()
{
    // The body element's text where the message has one; else its HTML form's.
    const auto bodyOf = [](const QString &body, const QString &html) {
        CleanScanResults();
        QFolderInformationThread t;
        OlmXml::MailItem m;
        m.body = body;
        m.htmlBody = html;
        const QByteArray xml = OlmXml::emails({m});
        build(t, Mail, xml);
        const MailMLRC *r = TmpMlrcPtrStart;
        return bytesAt(archiveWith(xml), r->llBodyOffset, r->dwBodyLength);
    };
    QCOMPARE(bodyOf(QStringLiteral("plain"), QStringLiteral("<p>html</p>")), QByteArray("plain"));
    QCOMPARE(bodyOf(QString(), QStringLiteral("<p>html</p>")), QByteArray("<p>html</p>"));
    QCOMPARE(bodyOf(QString(), QString()), QByteArray());
}

void BuildersTest::mailSenders()
{
    auto senders = [](const QList<OlmXml::Address> &from) {
        CleanScanResults();
        QFolderInformationThread t;
        OlmXml::MailItem m;
        m.from = from;
        build(t, Mail, OlmXml::emails({m}));
        const char *s = TmpMlrcPtrStart->pFromNames;
        return s ? QString::fromUtf8(s) : QStringLiteral("<null>");
    };
    // Names are kept as written: any script, commas, quotes and character references decoded.
    QCOMPARE(senders({{"a@x", "Doe, John"}}), QStringLiteral("Doe, John;"));
    QCOMPARE(senders({{"a@x", "O&#x27;Brien, Pat"}}), QStringLiteral("O'Brien, Pat;"));
    QCOMPARE(senders({{"a@x", "Team &quot;Core&quot;"}}), QStringLiteral("Team \"Core\";"));
    QCOMPARE(senders({{"a@x", "&#51312;&#xC815;"}}), QString::fromUtf8("조정;"));
    QCOMPARE(senders({{"a@x", QString(97, 'n') + "&amp;"}}), QString(97, 'n') + "&;");
    QCOMPARE(senders({{"a@x", QString::fromUtf8("李").repeated(98)}}), QString::fromUtf8("李").repeated(98) + ';');
    QCOMPARE(senders({{"a@x", "A"}, {"b@x", "B"}}), QStringLiteral("A;B;"));
    // A NUL from damage is dropped, not the name.
    QCOMPARE(senders({{"a@x", QStringLiteral("Nul") + QChar(0) + QStringLiteral("Name")}}), QStringLiteral("NulName;"));
    QCOMPARE(senders({{"a@x", ""}}), QStringLiteral("<null>"));
    QCOMPARE(senders({{"a@x", QString(98, 'n')}}), QString(98, 'n') + ';');
    QCOMPARE(senders({{"a@x", QString(99, 'n')}}), QStringLiteral("<null>"));
    QCOMPARE(senders({{"a@x", QString::fromUtf8("J\xc3\xbcrgen \xe6\x9d\x8e")}}), QString::fromUtf8("J\xc3\xbcrgen \xe6\x9d\x8e;"));
}

void BuildersTest::recoveredMail()
{
    QFolderInformationThread t;
    OlmXml::MailItem a, b;
    a.body = QStringLiteral("one");
    b.body = QStringLiteral("two");
    const QByteArray xml = OlmXml::emails({a, b});
    setText(xml);
    t.InitializeMLRC(QString(), kTextStart + xml.size(), 0, 0, 0, 0, xml.size());
    const QList<MailMLRC *> m = mails();
    QCOMPARE(m.size(), 2);
    const QByteArray arc = archiveWith(xml);
    for (MailMLRC *r : m) {
        QCOMPARE(r->llFolderId, llFolder1Id);
        QCOMPARE(r->llNameOffset, qint64(0));
        QCOMPARE(r->dwEntrySize, 0u);
        // Each recovered mail knows its own item.
        QVERIFY(bytesAt(arc, r->llDataOffset, r->dwDataLength).endsWith("</email>"));
    }
    QVERIFY(bytesAt(arc, m[1]->llDataOffset, m[1]->dwDataLength).contains(">two<"));
    QVERIFY(!bytesAt(arc, m[1]->llDataOffset, m[1]->dwDataLength).contains(">one<"));
}

void BuildersTest::mailDamagedEntry_data()
{
    // stored: the entry as written (its size and CRC); text: what the walk read.
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("records");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QByteArray>("lastSubject");

    OlmXml::MailItem one, two;
    one.subject = QStringLiteral("one");
    two.subject = QStringLiteral("two");
    const QByteArray both = OlmXml::emails({one, two});
    QByteArray zeroedTail = both;
    const int second = zeroedTail.indexOf("<email ", zeroedTail.indexOf("</email>"));
    const int cut = zeroedTail.indexOf("two</OPFMessageCopySubject>") + 27;
    zeroedTail.replace(cut, zeroedTail.size() - cut, QByteArray(zeroedTail.size() - cut, '\0'));
    QByteArray flipped = both;
    const int rootClose = flipped.lastIndexOf("</emails>") + 3;
    flipped[rootClose] = char(flipped[rootClose] ^ 0x20);

    QTest::newRow("intact entry") << both << both << 2 << false << QByteArray("two");
    // The scan leaves the CRC-32 of message text to the writers, which read it anyway.
    QTest::newRow("a flipped byte is left to the writers") << both << flipped << 2 << false << QByteArray("two");
    QTest::newRow("zeroed bytes mark every message of the entry")
        << both << QByteArray(both).replace(rootClose - 3, 9, QByteArray(9, '\0')) << 2 << true << QByteArray("two");
    QTest::newRow("zeroed tail keeps the message that lost its close tag") << both << zeroedTail << 2 << true
                                                                           << QByteArray("two");
    // A NUL the exporter wrote (the checksum agrees) is no damage.
    QByteArray withNul = both;
    withNul.replace("two</OPFMessageCopySubject>", QByteArray("t\0wo</OPFMessageCopySubject>", 28));
    QTest::newRow("NUL in an intact entry: dropped from the subject") << withNul << withNul << 2 << false
                                                                      << QByteArray("two");
    QTest::newRow("text cut short by the walk") << both << both.left(cut) << 2 << true << QByteArray("two");
    QTest::newRow("nothing left of the second message") << both << both.left(second) + QByteArray(50, '\0') << 1
                                                        << true << QByteArray("one");
}

void BuildersTest::mailDamagedEntry()
{
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, text);
    QFETCH(int, records);
    QFETCH(bool, damaged);
    QFETCH(QByteArray, lastSubject);
    QFolderInformationThread t;
    setText(text);
    t.InitializeMLRC(QStringLiteral("F"), kTextStart + text.size(), 1000, 20, stored.size(),
                     Crc32Update(0, stored.constData(), stored.size()), text.size());
    const QList<MailMLRC *> m = mails();
    QCOMPARE(m.size(), records);
    for (MailMLRC *r : m)
        QCOMPARE(bool(r->bDamaged), damaged);
    QCOMPARE(QByteArray(m.last()->pSubject), lastSubject);
    // The last record's span runs to the end of what was read, and stays inside it.
    QCOMPARE(m.last()->llDataOffset + m.last()->dwDataLength, kTextStart + text.size());
    QCOMPARE(locationFault(archiveWith(text)), QString());
}

void BuildersTest::closeTagsWithBlanks_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QByteArray>("root");
    QTest::newRow("contacts") << int(Contacts) << QByteArray("contact") << QByteArray("contacts");
    QTest::newRow("events") << int(Calendar) << QByteArray("appointment") << QByteArray("appointments");
    QTest::newRow("tasks") << int(Tasks) << QByteArray("task") << QByteArray("tasks");
    QTest::newRow("notes") << int(Notes) << QByteArray("note") << QByteArray("notes");
    QTest::newRow("messages") << int(Mail) << QByteArray("email") << QByteArray("emails");
}

// Every form of close tag XML allows ends its item, and what stands after the root is no item.
void BuildersTest::closeTagsWithBlanks()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, item);
    QFETCH(QByteArray, root);
    const char *const closes[] = {" >", "\n>", "\t\r\n >", ">"};
    QByteArray xml = "<?xml version=\"1.0\"?>\n<" + root + ">";
    for (const char *close : closes)
        xml += "<" + item + "\t><x>1</x\n></" + item + close + "<!-- between --><?pi?>\n";
    xml += "</" + root + " ><!-- after --><" + root + "><" + item + "><x>ghost</x></" + item + "></" + root + ">";
    QFolderInformationThread t;
    build(t, Kind(kind), xml);
    const qint64 counts[] = {ContactItemCount, CalendarItemCount, TaskItemCount, NotesItemCount, MailItemCount};
    QCOMPARE(counts[kind], qint64(4));
    for (const MailMLRC *m : mails())
        QVERIFY(!m->bDamaged);
}

void BuildersTest::brokenMail_data()
{
    QTest::addColumn<QByteArray>("children");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("sent");
    const QByteArray subject = OlmXml::element(QStringLiteral("OPFMessageCopySubject"), QStringLiteral("S"));
    const QByteArray sent =
        OlmXml::element(QStringLiteral("OPFMessageCopySentTime"), QStringLiteral("2020-01-0&#50;T10:00:00"));
    const auto from = [](const QByteArray &tags) {
        return "<OPFMessageCopyFromAddresses>" + tags + "</OPFMessageCopyFromAddresses>";
    };
    const QByteArray ann = "<emailAddress OPFContactEmailAddressAddress=\"a@x\" OPFContactEmailAddressName=\"Ann\"/>";
    QTest::newRow("whole, a date with a reference") << subject + from(ann) + sent << false << "Ann;" << true;
    QTest::newRow("an address tag never closed") << subject
            + from(ann
                   + "<emailAddress OPFContactEmailAddressAddress=\"ghost@evil.example\" "
                     "OPFContactEmailAddressName=\"Ghost\" ")
            + sent << true << "Ann;" << true;
    QTest::newRow("an unterminated quote") << subject
            + from("<emailAddress OPFContactEmailAddressName=\"Ann OPFContactEmailAddressAddress=\"a@example.com\"/>")
            + sent << true << "<null>" << true;
    QTest::newRow("an unclosed comment in the body")
        << subject + "<OPFMessageCopyBody>a<!-- b</OPFMessageCopyBody>" + from(ann) + sent << true << "Ann;" << true;
    const auto html = [](const QByteArray &body) { return "<OPFMessageCopyHTMLBody>" + body + "</OPFMessageCopyHTMLBody>"; };
    QTest::newRow("a stray close tag in the HTML body, the fields after it")
        << html("<p>hello</p></div>") + subject + from(ann) + sent << true << "Ann;" << true;
    QTest::newRow("a stray close tag in the text body")
        << "<OPFMessageCopyBody>Hello</div>world</OPFMessageCopyBody>" + subject + from(ann) + sent << true << "Ann;"
        << true;
    QTest::newRow("a stray close tag between the fields") << subject + "</p>" + from(ann) + sent << true << "Ann;" << true;
    QTest::newRow("the message's own close tag in its body")
        << "<OPFMessageCopyBody>a</email>b</OPFMessageCopyBody>" + subject + from(ann) + sent << true << "Ann;" << true;
    QTest::newRow("a bare '&' in the body")
        << "<OPFMessageCopyBody>a & b</OPFMessageCopyBody>" + subject << true << "<null>" << false;
}

// A message that is no well-formed XML: nothing is read from a broken element.
void BuildersTest::brokenMail()
{
    QFETCH(QByteArray, children);
    QFETCH(bool, damaged);
    QFETCH(QString, from);
    QFETCH(bool, sent);
    QFolderInformationThread t;
    build(t, Mail, mailXml(children));
    QCOMPARE(MailItemCount, qint64(1));
    const MailMLRC *m = TmpMlrcPtrStart;
    // Its bytes are whole: the save, not the record, names what is wrong.
    QVERIFY(!m->bDamaged);
    QCOMPARE(
        !CheckItem(bytesAt(archiveWith(mailXml(children)), m->llDataOffset, m->dwDataLength).toStdString(), "<email")
             .whole(),
        damaged);
    QCOMPARE(str(m->pSubject), QStringLiteral("S"));
    QCOMPARE(str(m->pFromNames), from);
    QCOMPARE(m->dwSentTime != 0, sent);
}

void BuildersTest::brokenItems_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("name");     // first name, summary, task name or title
    QTest::addColumn<QString>("second");   // last name or location
    QTest::addColumn<QByteArray>("text");  // notes, description or note text as recorded
    const auto el = [](const char *name, const QByteArray &value) { return OlmXml::elementRaw(name, value); };
    const auto store = [](const char *root, const char *item, const QByteArray &children) {
        return OlmXml::list(QString::fromLatin1(root), 1, OlmXml::item(QString::fromLatin1(item), children));
    };
    QTest::newRow("contact: an unclosed comment in its last name, a whole note after it")
        << int(Contacts)
        << store("contacts", "contact",
                 el("OPFContactCopyFirstName", "Ann") + el("OPFContactCopyLastName", "Bea<!-- ghost")
                     + el("OPFContactCopyNotesPlain", "note"))
        << "Ann"
        << "Bea" << QByteArray("note");
    QTest::newRow("contact: its own close tag in its last name, one card")
        << int(Contacts)
        << store("contacts", "contact",
                 el("OPFContactCopyFirstName", "Ann") + el("OPFContactCopyLastName", "Bea</contact>Cy")
                     + el("OPFContactCopyNotesPlain", "note"))
        << "Ann"
        << "Bea" << QByteArray("note");
    QTest::newRow("contact: a bare '&' in its note keeps the note up to it")
        << int(Contacts)
        << store("contacts", "contact",
                 el("OPFContactCopyFirstName", "Ann") + el("OPFContactCopyNotesPlain", "ab &amp c ghost"))
        << "Ann"
        << "<null>" << QByteArray("ab ");
    QTest::newRow("event: a '<' in an attribute of its summary")
        << int(Calendar)
        << store("appointments", "appointment",
                 el("OPFCalendarEventCopyLocation", "Room")
                     + "<OPFCalendarEventCopySummary a=\"<\">ghost</OPFCalendarEventCopySummary>"
                     + el("OPFCalendarEventCopyDescriptionPlain", "desc"))
        << "<null>"
        << "Room" << QByteArray("desc");
    QTest::newRow("task: a stray close tag in its name breaks only the name, the note after it is read")
        << int(Tasks) << store("tasks", "task", el("OPFTaskCopyName", "T</i>ghost") + el("OPFTaskCopyNote", "n")) << "T"
        << "<null>" << QByteArray("n");
    QTest::newRow("task: markup never closed in its note keeps the note up to the fault")
        << int(Tasks) << store("tasks", "task", el("OPFTaskCopyName", "T") + el("OPFTaskCopyNote", "<img src='x'>"))
        << "T" << "<null>" << QByteArray("<img src='x'>");
    QTest::newRow("task: a bare '&' in its name, a whole note after it")
        << int(Tasks) << store("tasks", "task", el("OPFTaskCopyName", "T & ghost") + el("OPFTaskCopyNote", "n")) << "T"
        << "<null>" << QByteArray("n");
    QTest::newRow("note: a stray close tag in its text, its title after it")
        << int(Notes) << store("notes", "note", el("OPFNoteCopyText", "abc</p>def") + el("OPFNoteCopyTitle", "Title"))
        << "Title"
        << "<null>" << QByteArray("abc");
    QTest::newRow("note: a tag never closed in its text, nothing taken after it")
        << int(Notes)
        << store("notes", "note", el("OPFNoteCopyTitle", "Title") + el("OPFNoteCopyText", "one <b x=\"1\" ghost"))
        << "Title"
        << "<null>" << QByteArray("one ");
}

// An item that is no well-formed XML: its record takes nothing from a broken element, and a
// long text is recorded only where its sound part stands in the archive.
void BuildersTest::brokenItems()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, xml);
    QFETCH(QString, name);
    QFETCH(QString, second);
    QFETCH(QByteArray, text);
    QFolderInformationThread t;
    build(t, Kind(kind), xml);
    const QByteArray arc = archiveWith(xml);
    QString gotName, gotSecond;
    QByteArray gotText;
    switch (Kind(kind)) {
    case Contacts:
        QCOMPARE(ContactItemCount, qint64(1));
        gotName = str(TmpCTRCPtrStart->pFirstName);
        gotSecond = str(TmpCTRCPtrStart->pLastName);
        gotText = bytesAt(arc, TmpCTRCPtrStart->dwNotesOffset, TmpCTRCPtrStart->dwNotesLength);
        break;
    case Calendar:
        QCOMPARE(CalendarItemCount, qint64(1));
        gotName = str(TmpCLRCPtrStart->pSummary);
        gotSecond = str(TmpCLRCPtrStart->pLocation);
        gotText = bytesAt(arc, TmpCLRCPtrStart->dwDescriptionOffset, TmpCLRCPtrStart->dwDescriptionLength);
        break;
    case Tasks:
        QCOMPARE(TaskItemCount, qint64(1));
        gotName = str(TmpTSRCPtrStart->pName);
        gotSecond = QStringLiteral("<null>");
        gotText = bytesAt(arc, TmpTSRCPtrStart->dwNoteOffset, TmpTSRCPtrStart->dwNoteLength);
        break;
    default:
        QCOMPARE(NotesItemCount, qint64(1));
        gotName = str(TmpNTRCPtrStart->pTitle);
        gotSecond = QStringLiteral("<null>");
        gotText = bytesAt(arc, TmpNTRCPtrStart->dwTextOffset, TmpNTRCPtrStart->dwTextLength);
        break;
    }
    QCOMPARE(gotName, name);
    QCOMPARE(gotSecond, second);
    QCOMPARE(gotText, text);
}

QTEST_GUILESS_MAIN(BuildersTest)
#include "tst_builders.moc"
