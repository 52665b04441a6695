// The new OLM archive of save type 0: its time stamps and records, the attachment URL rules,
// the order of the entries each walk writes, and whole saves through the saving thread, read
// back by unzip, zipinfo, Python's zipfile and our own scanner, from intact and damaged sources;
// the fast checksum against zlib's, and entries that cross the output buffers.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "ThreadResults.h"
#include "platform/Crc32.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "save/olm/OlmArchiveWriter.h"
#include "save/olm/OlmZipRecords.h"
#include "save/SaveFlow.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <signal.h>
#include <memory>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

namespace {

const QString kMessages = QStringLiteral("Local/com.microsoft.__Messages/");

// Checks an archive with Python's zipfile: CRCs, one time stamp in every local and central
// header, and (with a source) every file entry's bytes equal to the source entry of its name.
const char kZipCheck[] = R"PY(
import sys, json, struct, zipfile
problems = []
out = zipfile.ZipFile(sys.argv[1])
bad = out.testzip()
if bad:
    problems.append('bad CRC in %s' % bad)
data = open(sys.argv[1], 'rb').read()
stamps = set()
for info in out.infolist():
    local = struct.unpack_from('<I', data, info.header_offset + 10)[0]
    stamps.add(local)
    if struct.unpack_from('<HH', data, info.header_offset + 10) != (
            (info.date_time[3] << 11) | (info.date_time[4] << 5) | (info.date_time[5] // 2),
            ((info.date_time[0] - 1980) << 9) | (info.date_time[1] << 5) | info.date_time[2]):
        problems.append('local and central time of %s differ' % info.filename)
if len(stamps) > 1:
    problems.append('%d different time stamps' % len(stamps))
same = 0
if len(sys.argv) > 2:
    src = zipfile.ZipFile(sys.argv[2])
    names = {}
    for info in src.infolist():
        names.setdefault(info.filename, info)
    for info in out.infolist():
        if info.is_dir() or info.filename not in names:
            continue
        if out.read(info) != src.read(names[info.filename]):
            problems.append('%s differs from the source' % info.filename)
        else:
            same += 1
print(json.dumps({'entries': len(out.infolist()), 'same': same, 'problems': problems[:20]}))
)PY";

struct Counts {
    qint64 mails = 0, contacts = 0, events = 0, tasks = 0, notes = 0, attachments = 0;
    QString text() const
    {
        return QStringLiteral("%1 mails, %2 contacts, %3 events, %4 tasks, %5 notes, %6 attachments")
            .arg(mails).arg(contacts).arg(events).arg(tasks).arg(notes).arg(attachments);
    }
    bool atLeast(const Counts &o) const
    {
        return mails >= o.mails && contacts >= o.contacts && events >= o.events && tasks >= o.tasks
               && notes >= o.notes && attachments >= o.attachments;
    }
};

// Scans bytes with our own scanner; attachments are those the messages name and the archive holds.
Counts ScanCounts(const QByteArray &archive)
{
    scanBytes(archive);
    Counts c{MailItemCount, ContactItemCount, CalendarItemCount, TaskItemCount, NotesItemCount, 0};
    const AttachmentIndex index(tmpAtFOStart);
    for (MailMLRC *m : mails()) {
        for (const AttachmentInfo &a : ParseMessageXml(bytesAt(archive, m->llDataOffset, m->dwDataLength)).attachments)
            c.attachments += index.find(a.url) != nullptr;
    }
    return c;
}

struct LocalEntry {
    QString name;
    qint64 size = 0;
};

// The local entries in file order, read by their headers alone.
QVector<LocalEntry> LocalEntries(const QByteArray &a)
{
    QVector<LocalEntry> list;
    qint64 pos = 0;
    while (pos + 30 <= a.size() && qFromLittleEndian<quint32>(a.constData() + pos) == 0x04034B50) {
        const int n = qFromLittleEndian<quint16>(a.constData() + pos + 26);
        const int e = qFromLittleEndian<quint16>(a.constData() + pos + 28);
        if (e < 20 || pos + 30 + n + e > a.size())
            break;
        LocalEntry entry;
        entry.name = QString::fromUtf8(a.mid(int(pos + 30), n));
        entry.size = qint64(qFromLittleEndian<quint64>(a.constData() + pos + 34 + n));
        list.append(entry);
        pos += 30 + n + e + entry.size;
    }
    return list;
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

struct ToolResult {
    QStringList problems;
    int entries = -1;
    int same = -1;
};

// unzip -t, zipinfo and Python's zipfile on the output; a missing tool is not a fault.
ToolResult CheckWithTools(const QString &output, const QString &source = QString())
{
    ToolResult r;
    for (const QStringList &tool : {QStringList{"unzip", "-tq"}, QStringList{"zipinfo", "-v"}, QStringList{"7z", "t"}}) {
        if (QStandardPaths::findExecutable(tool.first()).isEmpty())
            continue;
        QProcess p;
        p.start(tool.first(), tool.mid(1) << output);
        if (!p.waitForFinished(300000) || p.exitCode() != 0)
            r.problems << QStringLiteral("%1 refuses it: %2").arg(tool.first(), QString::fromUtf8(p.readAll().right(300)));
    }
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        return r;
    QProcess py;
    QStringList args{QStringLiteral("-c"), QString::fromLatin1(kZipCheck), output};
    if (!source.isEmpty())
        args << source;
    py.start(QStringLiteral("python3"), args);
    if (!py.waitForFinished(300000) || py.exitCode() != 0) {
        r.problems << QStringLiteral("zipfile refuses it: ") + QString::fromUtf8(py.readAllStandardError().right(400));
        return r;
    }
    const QJsonObject o = QJsonDocument::fromJson(py.readAllStandardOutput()).object();
    for (const QJsonValue &v : o.value(QStringLiteral("problems")).toArray())
        r.problems << v.toString();
    r.entries = o.value(QStringLiteral("entries")).toInt(-1);
    r.same = o.value(QStringLiteral("same")).toInt(-1);
    return r;
}

OlmXml::MailItem Mail(int i, const QString &attachmentUrl = QString())
{
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Message %1").arg(i);
    m.sent = QStringLiteral("2016-01-01T00:00:%1").arg(i % 60, 2, 10, QLatin1Char('0'));
    m.from = {{QStringLiteral("a%1@example.com").arg(i), QStringLiteral("A %1").arg(i)}};
    m.body = QStringLiteral("Body of message %1\n").arg(i).repeated(10);
    if (!attachmentUrl.isEmpty()) {
        m.attachmentNames = QStringList{QStringLiteral("file%1.bin").arg(i)};
        m.attachmentUrls = QStringList{attachmentUrl};
    }
    return m;
}

// Entries by name: "Contacts.xml" and "Calendar.xml" files get one item, message names
// ("message_..."), with a trailing "+", get an attachment entry of their own before them.
QByteArray LayoutArchive(const QStringList &names)
{
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Blue")}));
    int i = 0;
    for (QString name : names) {
        ++i;
        if (name.endsWith(QLatin1String("Contacts.xml"))) {
            b.addEntry(name, OlmXml::contacts({{QStringLiteral("F%1").arg(i), QStringLiteral("L"), {}, {}, {}}}));
        } else if (name.endsWith(QLatin1String("Calendar.xml"))) {
            b.addEntry(name, OlmXml::appointments({{QStringLiteral("E%1").arg(i), {}, {}, {}, {}}}));
        } else {
            QString url;
            if (name.endsWith(QLatin1Char('+'))) {
                name.chop(1);
                url = name.left(name.lastIndexOf(QLatin1Char('/')) + 1)
                      + QStringLiteral("com.microsoft.__Attachments/a%1").arg(i);
                b.addEntry(url, QByteArray(100 + i, char('a' + i)));
            }
            b.addEntry(name, OlmXml::emails({Mail(i, url)}));
        }
    }
    return b.finish();
}

QString Abbreviated(QString name)
{
    if (name.startsWith(kMessages))
        name = QStringLiteral("M/") + name.mid(kMessages.size());
    return name.replace(QLatin1String("com.microsoft.__Attachments/"), QLatin1String("@/"))
        .replace(QLatin1String("message_0000"), QLatin1String("m"));
}

// Mail folders in list order, "id;" each, as the saving thread passes them.
QString MailFolderIds()
{
    QString ids;
    for (MailMLRC *m : mails()) {
        const QString id = QString::number(quint64(m->llFolderId)) + QLatin1Char(';');
        if (!ids.split(QLatin1Char(';')).contains(id.chopped(1)))
            ids += id;
    }
    return ids;
}

QByteArray BuiltArchive(int messages)
{
    // Every store, local and account mail, and attachments.
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Blue"), QStringLiteral("Red")}));
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"),
               OlmXml::contacts({{"Ann", "Lee", {}, "n", {}}, {"Bob", "Ray", {}, {}, {}}}));
    b.addEntry(QStringLiteral("Accounts/Work/Address Book/Contacts.xml"), OlmXml::contacts({{"Cy", "Doe", {}, {}, {}}}));
    b.addEntry(QStringLiteral("Local/Calendar/Calendars/Calendar.xml"),
               OlmXml::appointments({{"Meet", "Room", "Agenda", {}, {}}}));
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::tasks({{"Task A", "note", "2"}, {"Task B", {}, {}}}));
    b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), OlmXml::notes({{"Note", "Text"}}));
    const QStringList folders{kMessages + QStringLiteral("Inbox/"), kMessages + QStringLiteral("Projects/2019/"),
                              kMessages + QStringLiteral("Inbox/Sub/"), QStringLiteral("Accounts/Work/Inbox/")};
    for (int i = 0; i < messages; ++i) {
        const QString folder = folders[i % folders.size()];
        QString url;
        if (i % 3 == 0) {
            url = folder + QStringLiteral("com.microsoft.__Attachments/att_%1;v2 &amp; more").arg(i);
            b.addEntry(url, QByteArray(3000 + i, char('a' + i % 26)));
            url.replace(QLatin1String("&amp;"), QLatin1String("&amp;amp;"));
        }
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), OlmXml::emails({Mail(i, url)}));
    }
    return b.finish();
}

struct BaseArchive {
    QByteArray bytes;
    QVector<qint64> messageHeaders;
    qint64 contactsHeader = 0;
};

BaseArchive DamageBase()
{
    TestArchiveBuilder b;
    BaseArchive base;
    b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Blue")}));
    base.contactsHeader = b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"),
                                     OlmXml::contacts({{"A", "B", {}, "n", {}}, {"C", "D", {}, {}, {}}}));
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::tasks({{"Task", "note", "2"}}));
    b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), OlmXml::notes({{"Note", "Text"}, {"Other", "More text"}}));
    for (int i = 0; i < 8; ++i) {
        const QString folder = kMessages + (i % 2 ? QStringLiteral("Inbox/") : QStringLiteral("Folder %1/").arg(i % 3));
        const QString url = folder + QStringLiteral("com.microsoft.__Attachments/att%1").arg(i);
        b.addEntry(url, QByteArray(300 + i, char('a' + i)));
        base.messageHeaders.append(b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                                              OlmXml::emails({Mail(i, url)})));
    }
    base.bytes = b.finish();
    return base;
}

// One message per attachment of the given sizes, with random bytes (returned in datas).
QByteArray LargeAttachmentArchive(const QList<int> &sizes, bool crcZero, QVector<QByteArray> *datas)
{
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Blue")}));
    const QString inbox = kMessages + QStringLiteral("Inbox/");
    QRandomGenerator random(7);
    TestArchiveBuilder::EntryOptions options;
    options.crcZero = crcZero;
    for (int i = 0; i < sizes.size(); ++i) {
        QByteArray data(sizes[i], Qt::Uninitialized);
        for (char &c : data)
            c = char(random.generate());
        const QString url = inbox + QStringLiteral("com.microsoft.__Attachments/big%1").arg(i);
        b.addEntry(url, data, options);
        b.addEntry(inbox + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), OlmXml::emails({Mail(i, url)}));
        if (datas)
            datas->append(data);
    }
    return b.finish();
}

// The sample damaged in the ways seen on real archives: bytes of two messages and two
// attachments changed, runs zeroed, the tail cut inside the last attachment of a message, and
// the local header of a message smashed. Offsets are the sample's local headers.
QByteArray DamagedSample(const QString &how)
{
    QByteArray a = ReadFile(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    const qint64 draftsMessage = 276175, archiveMessage = 1148105, firstAttachment = 71345, fifthAttachment = 439531;
    if (how == QLatin1String("flip")) {
        for (qint64 at : {draftsMessage + 900, archiveMessage + 2000, firstAttachment + 5000, fifthAttachment + 9000})
            for (int k = 0; k < 3; ++k)
                a[int(at + 7 * k)] = char(a[int(at + 7 * k)] ^ 0x20);
    } else if (how == QLatin1String("zero")) {
        Damage::zeroStretch(a, archiveMessage + 3000, 300);
        Damage::zeroStretch(a, fifthAttachment + 10000, 500);
    } else if (how == QLatin1String("cut")) {
        a = Damage::cutTail(a, 1000000);
    } else if (how == QLatin1String("smash")) {
        Damage::smashHeader(a, draftsMessage);
    }
    return a;
}

// The mails a save's report names, not saved or saved incomplete, each as "Mail "subject" (entry name)".
QSet<QString> FailedMails(const SaveOutcome &outcome)
{
    static const QRegularExpression mail(QStringLiteral("^(Mail \".*\" \\(.*\\)) (not )?written to "));
    QSet<QString> names;
    for (const QString &line : outcome.failures + outcome.incompletes) {
        const QRegularExpressionMatch m = mail.match(line);
        if (m.hasMatch())
            names.insert(m.captured(1));
    }
    return names;
}

int IndexForType(SaveType type)
{
    for (int index = 0; index < 6; ++index)
        if (SaveTypeForIndex(index) == type)
            return index;
    return -1;
}

int IndexForOlm()
{
    return IndexForType(SaveTypeOLM);
}

} // namespace

Q_DECLARE_METATYPE(std::function<QByteArray()>)

class OlmArchiveTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void dosDateTime_data();
    void dosDateTime();
    void recordBytes();
    void nameFlag_data();
    void nameFlag();
    void attachmentUrls_data();
    void attachmentUrls();
    void walkLayout_data();
    void walkLayout();
    void saveReadBack_data();
    void saveReadBack();
    void damagedSources_data();
    void damagedSources();
    void stopHalfWay();
    void failures_data();
    void failures();
    void beyondFourGiB();
    void entriesAcrossTheBuffer_data();
    void entriesAcrossTheBuffer();
    void repackedSample_data();
    void repackedSample();
    void hostileNames();
    void stopInsideLargeEntry();
    void clashingNames_data();
    void clashingNames();
    void nothingLeftOut_data();
    void nothingLeftOut();
    void namesExtract();
    void numberedNamesExtract();
    void leftOutAfterDiskFull();
    void destinationReadOnlyMidSave();
    void storeCopies_data();
    void storeCopies();
    void sampleStoreDamagedInside_data();
    void sampleStoreDamagedInside();
    void compressedEntryCut_data();
    void compressedEntryCut();
    void hardStop_data();
    void hardStop();
    void nameTakenDuringSave();
    void replaceOnlyTheAgreedFile_data();
    void replaceOnlyTheAgreedFile();
    void twoSavesIntoOneFolder();
    void recoveredNoteKeepsLongTitle();
    void recoveredBrokenItemsNamed();

private:
    // Scans the bytes, checks every folder and runs save type 0 into m_dest to its end.
    SaveOutcome runSave(const QByteArray &archive, int *ticks = nullptr, const std::function<void(int)> &onTick = {});
    // The same with another save type, into a folder of its own.
    SaveOutcome runOtherSave(const QByteArray &archive, SaveType type);
    QString outputPath() const { return m_dest->filePath(QStringLiteral("RepairedOLMfile.olm")); }

    std::unique_ptr<ArchiveFile> m_archive;
    std::unique_ptr<QTemporaryDir> m_dest;
};

void OlmArchiveTest::initTestCase()
{
    // Entry times are local time; a zone that is not UTC catches a writer that uses UTC.
    qputenv("TZ", "Asia/Kolkata");
    tzset();
}

void OlmArchiveTest::init()
{
    ResetRunFlags();
    m_dest.reset(new QTemporaryDir);
}

void OlmArchiveTest::cleanup()
{
    FreeScanState();
    m_archive.reset();
}

SaveOutcome OlmArchiveTest::runSave(const QByteArray &archive, int *ticks, const std::function<void(int)> &onTick)
{
    m_archive.reset();   // its descriptor closes before the next one opens
    m_archive.reset(new ArchiveFile(archive));
    scanBytes(archive);
    CheckEveryScannedFolder();
    saveDir = m_dest->path();
    strTime = MakeSaveTimeStamp(QDateTime::currentDateTime());
    QMailSavingThread thread;
    int count = 0;
    QObject::connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        ++count;
        if (onTick)
            onTick(count);
    }, Qt::DirectConnection);
    if (!thread.SetInitialSettings(QString(), IndexForOlm()) || !EndRun(thread, &thread, 300000))
        return SaveOutcome();
    if (ticks)
        *ticks = count;
    return thread.outcome();
}

void OlmArchiveTest::dosDateTime_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<quint32>("value");
    QTest::newRow("first moment of the form") << QDateTime(QDate(1980, 1, 1), QTime(0, 0)) << 0x00210000u;
    QTest::newRow("odd second stored as the even one below")
        << QDateTime(QDate(2000, 1, 1), QTime(12, 34, 57)) << ((quint32(20) << 25 | 1 << 21 | 1 << 16) | 0x645Cu);
    QTest::newRow("last moment of the form") << QDateTime(QDate(2107, 12, 31), QTime(23, 59, 59)) << 0xFF9FBF7Du;
    QTest::newRow("leap day") << QDateTime(QDate(2000, 2, 29), QTime(13, 5, 9)) << 0x285D68A4u;
    QTest::newRow("before 1980 clamps, never wraps") << QDateTime(QDate(1979, 12, 31), QTime(23, 59, 59)) << 0x00210000u;
    QTest::newRow("after 2107 clamps, never wraps") << QDateTime(QDate(2108, 1, 1), QTime(0, 0, 1)) << 0xFF9FBF7Du;
}

void OlmArchiveTest::dosDateTime()
{
    QFETCH(QDateTime, when);
    QFETCH(quint32, value);
    QCOMPARE(DosDateTime(when), value);
}

void OlmArchiveTest::recordBytes()
{
    // Sizes and offsets live only in the Zip64 extras; every field little-endian.
    const QByteArray name("Categories.xml");
    const QByteArray local = LocalEntryHeader(name, 0x11223344, 0x0102030405ull, 0x285D68A4);
    QCOMPARE(local.size(), 50 + name.size());
    QCOMPARE(local.left(14).toHex(), QByteArray("504b03042d0000080000a4685d28"));
    QCOMPARE(local.mid(14, 16).toHex(), QByteArray("44332211ffffffffffffffff0e001400"));
    QCOMPARE(local.mid(30 + name.size()).toHex(), QByteArray("010010000504030201000000") + "0504030201000000");
    const QByteArray central = CentralEntryHeader(name, 0, 0, 0x1234, 0x285D68A4);
    QCOMPARE(central.size(), 74 + name.size());
    QCOMPARE(central.left(12).toHex(), QByteArray("504b01022d000a0000080000"));
    QCOMPARE(central.mid(38, 8).toHex(), QByteArray("0000ed41ffffffff"));
    QCOMPARE(central.right(8).toHex(), QByteArray("3412000000000000"));
    const QByteArray end = Zip64EndRecords(18, 0x500, 0x1000);
    QCOMPARE(end.size(), 98);
    QCOMPARE(qFromLittleEndian<quint64>(end.constData() + 56 + 8), quint64(0x1500));   // locator -> end record
    QCOMPARE(end.right(22).toHex(), QByteArray("504b0506ffffffffffffffffffffffffffffffff0000"));
}

void OlmArchiveTest::nameFlag_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("utf8");   // flagged UTF-8 in both headers
    QTest::newRow("ASCII") << QByteArray("Local/Inbox/message_00001.xml") << true;
    QTest::newRow("ASCII with DEL and controls") << QByteArray("a\x7F\x01" "b") << true;
    QTest::newRow("valid UTF-8") << QByteArray("Local/\xC3\x9C" "bersicht/\xE2\x82\xAC.xml") << true;
    QTest::newRow("four-byte UTF-8") << QByteArray("x\xF0\x9F\x98\x80") << true;
    QTest::newRow("invalid bytes") << QByteArray("Local/\xFF\xFE.xml") << false;
    QTest::newRow("overlong slash") << QByteArray("a\xC0\xAF") << false;
    QTest::newRow("cut sequence at the end") << QByteArray("abc\xE2\x82") << false;
    QTest::newRow("embedded NUL") << QByteArray("ab\0cd", 5) << false;
}

void OlmArchiveTest::nameFlag()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, utf8);
    const quint16 flag = utf8 ? 0x0800 : 0;
    QCOMPARE(qFromLittleEndian<quint16>(LocalEntryHeader(name, 0, 0, 0).constData() + 6), flag);
    QCOMPARE(qFromLittleEndian<quint16>(CentralEntryHeader(name, 0, 0, 0, 0).constData() + 8), flag);
}

void OlmArchiveTest::attachmentUrls_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QStringList>("urls");
    auto list = [](const QByteArray &attachments) {
        return "<OPFMessageCopyAttachmentList xml:space=\"preserve\">" + attachments + "</OPFMessageCopyAttachmentList>";
    };
    auto att = [](const QByteArray &url) {
        return "<messageAttachment OPFAttachmentName=\"n\" OPFAttachmentURL=\"" + url + "\"></messageAttachment>";
    };
    QTest::newRow("two attachments, in XML order") << "<emails><email>" + list(att("a/x_0") + att("a/x_1")) + "</email></emails>"
                                                   << QStringList{"a/x_0", "a/x_1"};
    QTest::newRow("a ';' in a name stays one URL") << "<email>" + list(att("a/r;v2.pdf")) + "</email>"
                                                   << QStringList{"a/r;v2.pdf"};
    QTest::newRow("entities: the first of two URLs is decoded twice")
        << "<email>" + list(att("a/x&amp;lt;1") + att("a/y&amp;lt;2")) + "</email>" << QStringList{"a/x<1", "a/y&lt;2"};
    QTest::newRow("every entity the exporter writes") << "<email>" + list(att("&lt;&gt;&amp;&apos;&nbsp;")) + "</email>"
                                                      << QStringList{"<>&' "};
    QTest::newRow("no email close: nothing") << "<email>" + list(att("a/x")) << QStringList{};
    QTest::newRow("the last email with a list wins")
        << "<email>" + list(att("a/first")) + "</email><email></email><email>" + list(att("a/last")) + "</email>"
        << QStringList{"a/last"};
    QTest::newRow("a piece without a URL adds none") << "<email>" + list("<messageAttachment x=\"1\"></messageAttachment>" + att("b"))
                                                            + "</email>"
                                                     << QStringList{"b"};
    QTest::newRow("an empty list") << QByteArray("<email><OPFMessageCopyAttachmentList xml:space=\"preserve\"/></email>")
                                   << QStringList{};
    // Where the tags stand against each other and against the email ends.
    QTest::newRow("a NUL ends the text") << "<email>" + list(att("a/x")) + "</email>" + QByteArray(1, '\0') + "<email>"
                                                + list(att("a/y")) + "</email>"
                                         << QStringList{"a/x"};
    QTest::newRow("a list opened in one email and closed in the next: none")
        << "<email><OPFMessageCopyAttachmentList xml:space=\"preserve\">" + att("a/x")
               + "</email><email></OPFMessageCopyAttachmentList></email>"
        << QStringList{};
    QTest::newRow("two lists in one email: the first") << "<email>" + list(att("a/1")) + list(att("a/2")) + "</email>"
                                                       << QStringList{"a/1"};
    QTest::newRow("an end tag before the start tag: the rest of the email")
        << "<email></OPFMessageCopyAttachmentList><OPFMessageCopyAttachmentList xml:space=\"preserve\">" + att("a/x")
               + "</email>"
        << QStringList{"a/x"};
    QTest::newRow("a start tag cut short by the email's end")
        << QByteArray("<email><OPFMessageCopyAttachmentList xml:s</OPFMessageCopyAttachmentList></email>") << QStringList{};
    QTest::newRow("text with '<' and entities around the list")
        << "<emails><email><a>x &lt; y</a><b/>" + list(att("a/&lt;z&gt;")) + "<c>1<2</c></email></emails>"
        << QStringList{"a/<z>"};
}

void OlmArchiveTest::attachmentUrls()
{
    QFETCH(QByteArray, xml);
    QFETCH(QStringList, urls);
    QCOMPARE(MessageAttachmentUrls(xml), urls);
}

void OlmArchiveTest::walkLayout_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("expected");   // the entries of the mail part, or of the stores
    const QString m = kMessages;
    const QString standard = QStringLiteral("M/Sent Items/|M/Outbox/|M/Junk E-mail/|M/Inbox/|M/Drafts/|M/Deleted Items/|Accounts/");
    const QString storeTail = QStringLiteral("Local/Calendar/@/|Local/Calendar/|Accounts/|Local/Tasks/|Accounts/|Local/Notes/|Accounts/");
    auto msg = [&](const QString &folder, int i) { return m + folder + QStringLiteral("message_0000%1.xml").arg(i); };

    QTest::newRow("two messages of one folder") << QStringList{msg("A/", 1), msg("A/", 2)}
        << "M/|M/A/|M/A/@/|M/A/m1.xml|M/A/m2.xml|" + standard;
    QTest::newRow("A, B, then A again: A's entries again") << QStringList{msg("A/", 1), msg("B/", 2), msg("A/", 3)}
        << "M/|M/A/|M/A/@/|M/A/m1.xml|M/B/|M/B/@/|M/B/m2.xml|M/A/|M/A/@/|M/A/m3.xml|" + standard;
    QTest::newRow("A/B then D/B renews every level") << QStringList{msg("A/B/", 1), msg("D/B/", 2)}
        << "M/|M/A/|M/A/B/|M/A/B/@/|M/A/B/m1.xml|M/D/|M/D/B/|M/D/B/@/|M/D/B/m2.xml|" + standard;
    QTest::newRow("A, A/B, A: the return to A brings nothing") << QStringList{msg("A/", 1), msg("A/B/", 2), msg("A/", 3)}
        << "M/|M/A/|M/A/@/|M/A/m1.xml|M/A/B/|M/A/B/@/|M/A/B/m2.xml|M/A/m3.xml|" + standard;
    QTest::newRow("directly under the messages folder") << QStringList{msg("", 1)} << "M/|M/@/|M/m1.xml|" + standard;
    QTest::newRow("Inbox Old is an ordinary folder, an Inbox subfolder Inbox's")
        << QStringList{msg("Inbox Old/", 1), msg("Inbox/Sub/", 2), msg("Inbox Old/", 3)}
        << "M/|M/Inbox Old/|M/Inbox Old/@/|M/Inbox Old/m1.xml|M/Inbox Old/|M/Inbox Old/@/|M/Inbox Old/m3.xml|"
           "M/Sent Items/|M/Outbox/|M/Junk E-mail/|M/Inbox/|M/Inbox/Sub/|M/Inbox/Sub/@/|M/Inbox/Sub/m2.xml|"
           "M/Drafts/|M/Deleted Items/|Accounts/";
    QTest::newRow("standard folder: direct messages keep the previous path")
        << QStringList{msg("Inbox/", 1), msg("Inbox/Sub/", 2), msg("Inbox/", 3), msg("Inbox/Sub/", 4)}
        << "M/|M/Sent Items/|M/Outbox/|M/Junk E-mail/|M/Inbox/|M/Inbox/@/|M/Inbox/m1.xml|M/Inbox/Sub/|"
           "M/Inbox/Sub/@/|M/Inbox/Sub/m2.xml|M/Inbox/m3.xml|M/Inbox/Sub/m4.xml|M/Drafts/|M/Deleted Items/|Accounts/";
    QTest::newRow("standard folder: a subfolder first leaves the folder without attachments entry")
        << QStringList{msg("Inbox/Sub/", 1), msg("Inbox/", 2)}
        << "M/|M/Sent Items/|M/Outbox/|M/Junk E-mail/|M/Inbox/|M/Inbox/Sub/|M/Inbox/Sub/@/|M/Inbox/Sub/m1.xml|"
           "M/Inbox/m2.xml|M/Drafts/|M/Deleted Items/|Accounts/";
    QTest::newRow("accounts: levels from the account, attachments before their message")
        << QStringList{"Accounts/Work/Inbox/message_00001.xml", "Accounts/Work/Inbox/message_00002.xml+",
                       "Accounts/Work/Sent/message_00003.xml", "Accounts/Home/Inbox/message_00004.xml"}
        << "M/|" + standard
               + "|Accounts/Work/|Accounts/Work/Inbox/|Accounts/Work/Inbox/@/|Accounts/Work/Inbox/m1.xml|"
                 "Accounts/Work/Inbox/@/a2|Accounts/Work/Inbox/m2.xml|Accounts/Work/Sent/|Accounts/Work/Sent/@/|"
                 "Accounts/Work/Sent/m3.xml|Accounts/Home/|Accounts/Home/Inbox/|Accounts/Home/Inbox/@/|"
                 "Accounts/Home/Inbox/m4.xml";
    QTest::newRow("an account folder ending in Local is written once, by the accounts walk")
        << QStringList{"Accounts/Office.Local/com.microsoft.__Messages/Inbox/message_00001.xml"}
        << "M/|" + standard
               + "|Accounts/Office.Local/|Accounts/Office.Local/com.microsoft.__Messages/|"
                 "Accounts/Office.Local/com.microsoft.__Messages/Inbox/|Accounts/Office.Local/com.microsoft.__Messages/Inbox/@/|"
                 "Accounts/Office.Local/com.microsoft.__Messages/Inbox/m1.xml";
    QTest::newRow("a local folder named Accounts") << QStringList{msg("Accounts/", 1)}
        << "M/|M/Accounts/|M/Accounts/@/|M/Accounts/m1.xml|" + standard;
    QTest::newRow("each message's attachments right before it") << QStringList{msg("A/", 1) + "+", msg("A/", 2) + "+"}
        << "M/|M/A/|M/A/@/|M/A/@/a1|M/A/m1.xml|M/A/@/a2|M/A/m2.xml|" + standard;

    QTest::newRow("stores: the main file alone, a sub-folder with its folder entry")
        << QStringList{"Local/Address Book/Contacts.xml", "Local/Address Book/Family/Contacts.xml"}
        << "Local/Address Book/|Local/Address Book/Contacts.xml|Local/Address Book/Family/|"
           "Local/Address Book/Family/Contacts.xml|Accounts/|" + storeTail;
    QTest::newRow("stores: account levels compared with the previous node only")
        << QStringList{"Accounts/Work/Address Book/Contacts.xml", "Accounts/Work/Address Book/Family/Contacts.xml",
                       "Accounts/Home/Address Book/Contacts.xml"}
        << "Local/Address Book/|Accounts/|Accounts/Work/|Accounts/Work/Address Book/|Accounts/Work/Address Book/Contacts.xml|"
           "Accounts/Work/Address Book/Family/|Accounts/Work/Address Book/Family/Contacts.xml|Accounts/Home/|"
           "Accounts/Home/Address Book/|Accounts/Home/Address Book/Contacts.xml|" + storeTail;
    QTest::newRow("stores: an attachments entry per calendar account folder")
        << QStringList{"Accounts/Work/X/Sub/Calendar.xml", "Accounts/Work/Y/Sub/Calendar.xml"}
        << "Local/Address Book/|Accounts/|Local/Calendar/@/|Local/Calendar/|Accounts/|Accounts/Work/|Accounts/Work/X/|"
           "Accounts/Work/X/Sub/|Accounts/Work/X/Sub/@/|Accounts/Work/X/Sub/Calendar.xml|Accounts/Work/Y/|"
           "Accounts/Work/Y/Sub/|Accounts/Work/Y/Sub/@/|Accounts/Work/Y/Sub/Calendar.xml|Local/Tasks/|Accounts/|"
           "Local/Notes/|Accounts/";
    QTest::newRow("stores: a folder whose name holds the file word keeps it")
        << QStringList{"Local/Address Book/Old Contacts.xml stuff/Contacts.xml"}
        << "Local/Address Book/|Local/Address Book/Old Contacts.xml stuff/|"
           "Local/Address Book/Old Contacts.xml stuff/Contacts.xml|Accounts/|" + storeTail;
    QTest::newRow("stores: Local/Calendar/Calendar.xml is a sub-folder node") << QStringList{"Local/Calendar/Calendar.xml"}
        << "Local/Address Book/|Accounts/|Local/Calendar/@/|Local/Calendar/|Local/Calendar/|Local/Calendar/Calendar.xml|"
           "Accounts/|Local/Tasks/|Accounts/|Local/Notes/|Accounts/";
}

void OlmArchiveTest::walkLayout()
{
    QFETCH(QStringList, names);
    QFETCH(QString, expected);
    const QByteArray source = LayoutArchive(names);
    ArchiveFile file(source);
    scanBytes(source);
    OlmSelection selection;
    selection.mail = MailItemCount > 0;
    selection.cont = ContactItemCount > 0;
    selection.cal = CalendarItemCount > 0;
    selection.folderIds = MailFolderIds();
    int reported = 0;
    OlmArchiveWriter writer(fileDescriptor, {[] { return false; }, [&] { ++reported; }, [](qint64) {}});
    QVERIFY2(writer.write(outputPath(), selection), qPrintable(writer.error()));
    QStringList entries;
    for (const LocalEntry &e : LocalEntries(ReadFile(outputPath())))
        entries << Abbreviated(e.name);
    const int mailStart = entries.indexOf(QStringLiteral("M/"));
    QVERIFY(mailStart > 0);
    QCOMPARE(entries.first(), QStringLiteral("Categories.xml"));
    const QStringList part = selection.mail ? entries.mid(mailStart) : entries.mid(1, mailStart - 1);
    QCOMPARE(part.join(QLatin1Char('|')), expected);
    // One step per item written (the messages and the categories), whatever the folder.
    QCOMPARE(reported, int(writer.itemsWritten()));
    const ToolResult tools = CheckWithTools(outputPath());
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
}

void OlmArchiveTest::saveReadBack_data()
{
    QTest::addColumn<std::function<QByteArray()>>("make");
    QTest::newRow("the sample archive") << std::function<QByteArray()>([] { return ReadFile(QStringLiteral(OLM_SAMPLE_ARCHIVE)); });
    QTest::newRow("built: every store, accounts, attachments with ';' and entities")
        << std::function<QByteArray()>([] { return BuiltArchive(40); });
    QTest::newRow("built: attachments no message names") << std::function<QByteArray()>([] {
        TestArchiveBuilder b;
        b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Blue")}));
        const QString inbox = kMessages + QStringLiteral("Inbox/");
        for (int i = 0; i < 3; ++i)
            b.addEntry(inbox + QStringLiteral("com.microsoft.__Attachments/loose%1").arg(i), QByteArray(90 + i, 'l'));
        const QString named = inbox + QStringLiteral("com.microsoft.__Attachments/named");
        b.addEntry(named, QByteArray(80, 'n'));
        b.addEntry(inbox + QStringLiteral("message_00001.xml"), OlmXml::emails({Mail(1, named)}));
        return b.finish();
    });
    // Each mail record keeps only its own message: the entry must still be copied whole, once.
    QTest::newRow("built: entries holding several mails") << std::function<QByteArray()>([] {
        TestArchiveBuilder b;
        b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Blue")}));
        const QString inbox = kMessages + QStringLiteral("Projects/");
        for (int i = 0; i < 4; ++i) {
            const QString url = inbox + QStringLiteral("com.microsoft.__Attachments/att%1").arg(i);
            b.addEntry(url, QByteArray(200 + i, char('a' + i)));
            b.addEntry(inbox + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                       OlmXml::emails({Mail(3 * i), Mail(3 * i + 1, url), Mail(3 * i + 2)}));
        }
        return b.finish();
    });
}

void OlmArchiveTest::saveReadBack()
{
    QFETCH(std::function<QByteArray()>, make);
    if (IndexForOlm() < 0)
        QSKIP("this edition has no OLM save");
    const QByteArray source = make();
    QVERIFY(!source.isEmpty());
    const Counts before = ScanCounts(source);
    int ticks = 0;
    const SaveOutcome outcome = runSave(source, &ticks);
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    QCOMPARE(outcome.failed, qint64(0));
    QVERIFY(!outcome.stopped);
    // One step per item written, mails that share an entry and loose entries alike.
    QCOMPARE(qint64(ticks), outcome.written);
    const QByteArray output = ReadFile(outputPath());
    QCOMPARE(output.left(5).toHex(), QByteArray("504b03042d"));
    const Counts after = ScanCounts(output);
    QCOMPARE(after.text(), before.text());
    QVERIFY(after.mails > 0 && after.attachments > 0);
    QTemporaryDir work;
    const QString sourcePath = work.filePath(QStringLiteral("source.olm"));
    QFile f(sourcePath);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(source) == source.size());
    f.close();
    const ToolResult tools = CheckWithTools(outputPath(), sourcePath);
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
    int files = 0;
    QStringList names;
    for (const LocalEntry &e : LocalEntries(output)) {
        files += !e.name.endsWith(QLatin1Char('/'));
        names << e.name;
    }
    // Contact groups go with the other address-book stores.
    if (source.contains("Local/Address Book/Groups.xml"))
        QVERIFY(names.contains(QStringLiteral("Local/Address Book/Groups.xml")));
    if (tools.same >= 0)   // messages, attachments and stores: every byte as in the source
        QCOMPARE(tools.same, files);
}

SaveOutcome OlmArchiveTest::runOtherSave(const QByteArray &archive, SaveType type)
{
    m_archive.reset();
    m_archive.reset(new ArchiveFile(archive));
    scanBytes(archive);
    QTemporaryDir dest;
    if (!StartTestSave(type, dest.path()))
        return SaveOutcome();
    QMailSavingThread thread;
    if (!thread.SetInitialSettings(QString(), IndexForType(type)) || !EndRun(thread, &thread, 300000))
        return SaveOutcome();
    return thread.outcome();
}

void OlmArchiveTest::damagedSources_data()
{
    QTest::addColumn<std::function<QByteArray()>>("make");
    QTest::addColumn<int>("attachmentFiles");   // at least this many attachment entries are kept
    for (const char *how : {"flip", "zero", "cut", "smash"}) {
        QTest::newRow(qPrintable(QStringLiteral("the sample, %1").arg(QLatin1String(how))))
            << std::function<QByteArray()>([how] { return DamagedSample(QLatin1String(how)); })
            << (qstrcmp(how, "cut") == 0 ? 8 : 9);
    }
    QTest::newRow("smashed local header before a message") << std::function<QByteArray()>([] {
        BaseArchive b = DamageBase();
        Damage::smashHeader(b.bytes, b.messageHeaders[2]);
        return b.bytes;
    }) << 0;
    QTest::newRow("smashed header of Contacts.xml") << std::function<QByteArray()>([] {
        BaseArchive b = DamageBase();
        Damage::smashHeader(b.bytes, b.contactsHeader);
        return b.bytes;
    }) << 0;
    QTest::newRow("zeroed header and name of a message") << std::function<QByteArray()>([] {
        BaseArchive b = DamageBase();
        Damage::zeroStretch(b.bytes, b.messageHeaders[3], 30 + 60);
        return b.bytes;
    }) << 0;
    QTest::newRow("zeroed run inside a message") << std::function<QByteArray()>([] {
        BaseArchive b = DamageBase();
        Damage::zeroStretch(b.bytes, b.messageHeaders[1] + 200, 400);
        return b.bytes;
    }) << 0;
    QTest::newRow("message entry names holding a NUL, in the file name and in the folder")
        << std::function<QByteArray()>([] {
               TestArchiveBuilder t;
               const QString inbox = kMessages + QStringLiteral("Inbox/");
               for (int i = 0; i < 2; ++i) {
                   const QString url = inbox + QStringLiteral("com.microsoft.__Attachments/n%1").arg(i);
                   t.addEntry(url, QByteArray(500, char('n' + i)));
                   const QByteArray name = i == 0 ? (inbox + QStringLiteral("message_0")).toUtf8() + '\0' + "0001.xml"
                                                  : (kMessages + QStringLiteral("In")).toUtf8() + '\0' + "box/message_00002.xml";
                   t.addRawName(name, OlmXml::emails({Mail(i, url)}));
               }
               return t.finish();
           })
        << 2;
    QTest::newRow("cut tail") << std::function<QByteArray()>([] {
        BaseArchive b = DamageBase();
        return Damage::cutTail(b.bytes, b.messageHeaders[6] + 500);
    }) << 7;
    QTest::newRow("no central directory") << std::function<QByteArray()>([] {
        TestArchiveBuilder t;
        t.addEntry(kMessages + QStringLiteral("Inbox/message_00001.xml"), OlmXml::emails({Mail(1)}));
        t.addEntry(QStringLiteral("Local/Notes/Notes.xml"), OlmXml::notes({{"N", "T"}}));
        return t.finish(false);
    }) << 0;
    QTest::newRow("bare blocks of every kind between garbage") << std::function<QByteArray()>([] {
        TestArchiveBuilder t;
        t.addRaw(QByteArray(100, '\x11'));
        t.addRaw(OlmXml::emails({Mail(1), Mail(2)}));
        t.addRaw(OlmXml::contacts({{"A", "B", {}, {}, {}}}));
        t.addRaw(OlmXml::appointments({{"Meet", {}, {}, {}, {}}}));
        t.addRaw(OlmXml::tasks({{"Task", {}, {}}}));
        t.addRaw(OlmXml::notes({{"Note", "Text &amp; more"}}));
        t.addEntry(kMessages + QStringLiteral("Inbox/message_00003.xml"), OlmXml::emails({Mail(3)}));
        return t.finish();
    }) << 0;
    QTest::newRow("a store file whose size runs into the next entry") << std::function<QByteArray()>([] {
        TestArchiveBuilder t;
        TestArchiveBuilder::EntryOptions o;
        o.usizeOverride = o.csizeOverride = 5000;
        t.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::tasks({{"Task", {}, {}}}), o);
        t.addEntry(kMessages + QStringLiteral("Inbox/message_00001.xml"), OlmXml::emails({Mail(1)}));
        return t.finish();
    }) << 0;
    for (quint32 seed : {3u, 17u, 27u, 41u, 80u, 97u}) {
        QTest::newRow(qPrintable(QStringLiteral("flipped bytes, seed %1").arg(seed))) << std::function<QByteArray()>([seed] {
            BaseArchive b = DamageBase();
            Damage::flipBytes(b.bytes, seed, 0.003);
            return b.bytes;
        }) << 0;
    }
}

void OlmArchiveTest::damagedSources()
{
    QFETCH(std::function<QByteArray()>, make);
    QFETCH(int, attachmentFiles);
    if (IndexForOlm() < 0 || IndexForType(SaveTypeEML) < 0)
        QSKIP("this edition has no OLM save");
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QByteArray source = make();
    const Counts before = ScanCounts(source);
    const SaveOutcome files = runOtherSave(source, SaveTypeEML);
    const SaveOutcome outcome = runSave(source);
    qInstallMessageHandler(previous);
    // Damaged mail is kept, but named as the message files name it, never passed off as good.
    const QString log = (outcome.failures + outcome.incompletes).join(QLatin1Char('\n'));
    QVERIFY2(FailedMails(outcome) == FailedMails(files),
             qPrintable(log + QStringLiteral("\n-- the message files:\n")
                        + (files.failures + files.incompletes).join(QLatin1Char('\n'))));
    QCOMPARE(qint64(outcome.failures.size()), outcome.failed);
    // A damaged item kept with its bytes stands in the archive: saved incomplete, not failed.
    QCOMPARE(qint64(outcome.incompletes.size()), outcome.incomplete);
    QVERIFY(outcome.incomplete <= outcome.written);
    for (const QString &line : outcome.incompletes)
        QVERIFY2(line.contains(QLatin1String(" written to ")) && line.contains(QLatin1String(" incomplete: ")), qPrintable(log));
    // A line of an item not saved never says it was written.
    for (const QString &line : outcome.failures)
        QVERIFY2(!line.contains(QLatin1String(" incomplete: ")), qPrintable(log));
    for (const QString &line : outcome.failures + outcome.incompletes)
        QVERIFY2(line.contains(QLatin1String("damaged")) || line.contains(QLatin1String("cut short"))
                     || line.contains(QLatin1String("not found")), qPrintable(log));
    const QByteArray output = ReadFile(outputPath());
    const Counts after = ScanCounts(output);
    QVERIFY2(after.atLeast(before), qPrintable(after.text() + QStringLiteral(" from ") + before.text()));
    int kept = 0;
    for (const LocalEntry &e : LocalEntries(output))
        kept += e.name.contains(QLatin1String("__Attachments/")) && !e.name.endsWith(QLatin1Char('/'));
    QVERIFY2(kept >= attachmentFiles, qPrintable(QString::number(kept)));
    const ToolResult tools = CheckWithTools(outputPath());
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
}

void OlmArchiveTest::stopHalfWay()
{
    if (IndexForOlm() < 0)
        QSKIP("this edition has no OLM save");
    const QByteArray source = BuiltArchive(600);
    const Counts full = ScanCounts(source);
    int ticks = 0;
    // The confirmed stop, then the window clearing stopflag behind its message: still stopped.
    const SaveOutcome outcome = runSave(source, &ticks, [](int tick) {
        if (tick == 150) {
            bStopFlag = true;
            stopflag = true;
        }
        if (tick == 151)
            stopflag = false;
    });
    QVERIFY(outcome.stopped);
    const ToolResult tools = CheckWithTools(outputPath());
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
    const QByteArray output = ReadFile(outputPath());
    const Counts after = ScanCounts(output);
    QVERIFY2(after.mails >= 100 && after.mails < full.mails, qPrintable(after.text()));
    // Every fixed folder entry is there, the last one included.
    const QVector<LocalEntry> entries = LocalEntries(output);
    QCOMPARE(entries.last().name, QStringLiteral("Accounts/"));
    QCOMPARE(ticks, 150);
}

void OlmArchiveTest::failures_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("read-only destination: a folder stands at the output's name") << "folder" << "cannot be removed";
    QTest::newRow("destination is no folder") << "nofolder" << "cannot be created";
    QTest::newRow("full destination") << "full" << "could not be written";
    QTest::newRow("destination full after several buffers were written") << "fulllate" << "could not be written";
    QTest::newRow("small tmpfs") << "fulltmpfs" << "No space left on device";
    QTest::newRow("the output would be the archive being read") << "source" << "archive being read";
}

void OlmArchiveTest::failures()
{
    QFETCH(QString, setup);
    QFETCH(QString, message);
    if (IndexForOlm() < 0)
        QSKIP("this edition has no OLM save");
    const int buffer = int(OlmOutputFile::kBufferSize);
    const bool late = setup == QLatin1String("fulllate");
    const QByteArray source = late ? LargeAttachmentArchive({buffer, 2 * buffer, buffer + 5}, false, nullptr) : BuiltArchive(40);
    ArchiveFile file(source);
    scanBytes(source);
    CheckEveryScannedFolder();
    QTemporaryDir dir;
    QString dest = dir.path();
    std::unique_ptr<ArchiveFile> ownSource;
    if (setup == QLatin1String("folder"))
        QVERIFY(QDir(dest).mkdir(QStringLiteral("RepairedOLMfile.olm")) && QFile(dest + "/RepairedOLMfile.olm/x").open(QIODevice::WriteOnly));
    if (setup == QLatin1String("nofolder")) {
        dest += QStringLiteral("/plain");
        QFile plain(dest);
        QVERIFY(plain.open(QIODevice::WriteOnly));
    }
    const int oldFd = fileDescriptor;
    int sourceFd = -1;
    if (setup == QLatin1String("source")) {
        QFile copy(dest + QStringLiteral("/RepairedOLMfile.olm"));
        QVERIFY(copy.open(QIODevice::WriteOnly) && copy.write(source) == source.size());
        copy.close();
        sourceFd = ::open(QFile::encodeName(copy.fileName()).constData(), O_RDONLY);
        fileDescriptor = sourceFd;
    }
    // What a whole save writes: a full disk names every one of these items as not saved.
    qint64 whole = -1;
    if (setup.startsWith(QLatin1String("full"))) {
        QTemporaryDir roomy;
        saveDir = roomy.path();
        QMailSavingThread first;
        if (first.SetInitialSettings(QString(), IndexForOlm()) && EndRun(first, &first, 120000))
            whole = first.outcome().written;
        QVERIFY(whole > 0);
    }
    struct rlimit oldLimit;
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    const bool tmpfs = setup == QLatin1String("fulltmpfs");
    if (tmpfs
        && QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=16k", "tmpfs", dest}) != 0)
        QSKIP("no tmpfs can be mounted here");
    if (setup.startsWith(QLatin1String("full")) && !tmpfs) {
        // A file-size limit fails writes past it as a full disk does.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = oldLimit;
        small.rlim_cur = late ? rlim_t(2 * buffer + 4096) : 16 * 1024;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    // Each item not saved is logged: quiet here, the lines are checked below.
    const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    saveDir = dest;
    QMailSavingThread thread;
    QueuedSpy finish(&thread, &QMailSavingThread::OnFinishScanning);
    const bool started = thread.SetInitialSettings(QString(), IndexForOlm());
    const bool ended = started && EndRun(thread, &thread, 120000);
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    qInstallMessageHandler(previous);
    const bool left = QFileInfo::exists(dest + QStringLiteral("/RepairedOLMfile.olm"));
    if (tmpfs)
        QProcess::execute(QStringLiteral("umount"), {dest});
    fileDescriptor = oldFd;
    if (sourceFd >= 0)
        ::close(sourceFd);
    QVERIFY(ended);
    const SaveOutcome outcome = thread.outcome();
    QCOMPARE(finish.count(), 1);
    QVERIFY(outcome.failed >= 1);   // the window then says so, never "Saved Successfully"
    QVERIFY2(outcome.failures.join(QLatin1Char('\n')).contains(message), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    const QFileInfo out(dest + QStringLiteral("/RepairedOLMfile.olm"));
    if (setup == QLatin1String("source"))
        QCOMPARE(ReadFile(out.filePath()), source);   // untouched
    else if (setup.startsWith(QLatin1String("full")))
        QVERIFY(!left);   // no broken archive left to be taken for a saved one
    // The counts say what is on disk: nothing. Each message the removed archive held is named.
    QCOMPARE(outcome.written, qint64(0));
    QCOMPARE(outcome.incomplete, qint64(0));
    QCOMPARE(qint64(outcome.failures.size()), outcome.failed);
    // Items written before the disk filled and items never reached are all counted.
    if (whole > 0)
        QVERIFY2(outcome.failed >= whole, qPrintable(QStringLiteral("%1 of %2 named:\n").arg(outcome.failed).arg(whole)
                                                     + outcome.failures.join(QLatin1Char('\n'))));
    if (setup.startsWith(QLatin1String("full")) && !late)
        QVERIFY2(outcome.failures.filter(QRegularExpression(QStringLiteral("^Mail .* not saved: the archive"))).size() >= 1,
                 qPrintable(outcome.failures.join(QLatin1Char('\n'))));
}

namespace {

// Scans the file at path through a descriptor; the file is too large to hold in memory.
bool ScanFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    CleanScanResults();
    QFolderInformationThread scanner;
    scanner.setSource(std::make_shared<FdArchiveSource>(fd, QFileInfo(path).size()));
    scanner.CreateFile();
    bProcessRunning = false;
    ::close(fd);
    return true;
}

} // namespace

void OlmArchiveTest::beyondFourGiB()
{
    // Writes a sparse 4.5 GiB source and a real copy of it: only on request.
    if (qEnvironmentVariableIsEmpty("OLM_BIG_TESTS"))
        QSKIP("set OLM_BIG_TESTS=1 to save an archive over 4 GiB");
    if (IndexForOlm() < 0)
        QSKIP("this edition has no OLM save");
    const QString folder = kMessages + QStringLiteral("Inbox/");
    const QString url = folder + QStringLiteral("com.microsoft.__Attachments/big_0000");
    const qint64 bigSize = (qint64(9) << 29) + 12345;   // 4.5 GiB of zeros, a hole in the source
    const QString sourcePath = m_dest->filePath(QStringLiteral("big.olm"));
    {
        TestArchiveBuilder head;
        head.addEntry(folder + QStringLiteral("message_00000.xml"), OlmXml::emails({Mail(0)}));
        TestArchiveBuilder::EntryOptions sizes;
        sizes.usizeOverride = sizes.csizeOverride = bigSize;
        head.addEntry(url, QByteArray(), sizes);
        QByteArray bytes = head.finish(false);
        // The zeros' checksum, chunk by chunk.
        const QByteArray zeros(1 << 20, '\0');
        quint32 crc = 0;
        for (qint64 done = 0; done < bigSize; done += zeros.size())
            crc = TestArchiveBuilder::crc32(zeros.constData(), qMin<qint64>(zeros.size(), bigSize - done), crc);
        const qint64 header = head.entries().last().headerOffset;
        qToLittleEndian(crc, bytes.data() + header + 14);
        QFile f(sourcePath);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        QVERIFY(f.resize(bytes.size() + bigSize));
        QVERIFY(f.seek(bytes.size() + bigSize));
        TestArchiveBuilder tail;
        tail.addEntry(folder + QStringLiteral("message_00001.xml"), OlmXml::emails({Mail(1, url)}));
        const QByteArray tailBytes = tail.finish(false);
        QVERIFY(f.write(tailBytes) == tailBytes.size());
    }
    QVERIFY(ScanFile(sourcePath));
    QCOMPARE(MailItemCount, qint64(2));
    const int fd = ::open(QFile::encodeName(sourcePath).constData(), O_RDONLY);
    const int oldFd = fileDescriptor;
    const qint64 oldSize = lSize;
    fileDescriptor = fd;
    lSize = QFileInfo(sourcePath).size();
    CheckEveryScannedFolder();
    const QString dest = m_dest->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(dest));
    saveDir = dest;
    QMailSavingThread thread;
    QVERIFY(thread.SetInitialSettings(QString(), IndexForOlm()));
    QVERIFY(EndRun(thread, &thread, 1800000));
    fileDescriptor = oldFd;
    lSize = oldSize;
    ::close(fd);
    QFile::remove(sourcePath);
    const SaveOutcome outcome = thread.outcome();
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    const QString output = dest + QStringLiteral("/RepairedOLMfile.olm");
    QVERIFY(QFileInfo(output).size() > bigSize);
    const ToolResult tools = CheckWithTools(output);
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
    QVERIFY(ScanFile(output));
    QCOMPARE(MailItemCount, qint64(2));
    QCOMPARE(AttachmentNodeCount, qint64(1));
    QCOMPARE(tmpAtFOStart->llSize, bigSize);
}

void OlmArchiveTest::entriesAcrossTheBuffer_data()
{
    QTest::addColumn<QList<int>>("sizes");   // attachment sizes, one message each
    QTest::addColumn<bool>("crcZero");       // headers with a wrong checksum, set right behind them
    const int buffer = int(OlmOutputFile::kBufferSize);
    QTest::newRow("just under, at and over the buffer") << QList<int>{buffer - 1, buffer, buffer + 1} << false;
    QTest::newRow("several buffers with small entries between")
        << QList<int>{5, 3 * buffer + 7, 17, buffer / 2, buffer / 2 + 100, 0} << false;
    QTest::newRow("wrong checksums: corrected in the buffer and behind it")
        << QList<int>{100, 3 * buffer + 7, buffer - 60, 2 * buffer} << true;
}

void OlmArchiveTest::entriesAcrossTheBuffer()
{
    QFETCH(QList<int>, sizes);
    QFETCH(bool, crcZero);
    if (IndexForOlm() < 0)
        QSKIP("this edition has no OLM save");
    QVector<QByteArray> datas;
    const QByteArray source = LargeAttachmentArchive(sizes, crcZero, &datas);
    const SaveOutcome outcome = runSave(source);
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    const QByteArray output = ReadFile(outputPath());
    QTemporaryDir work;
    const QString sourcePath = work.filePath(QStringLiteral("source.olm"));
    QFile f(sourcePath);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(source) == source.size());
    f.close();
    // A source with wrong checksums cannot be read back by zipfile: its bytes are compared here.
    const ToolResult tools = CheckWithTools(outputPath(), crcZero ? QString() : sourcePath);
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
    int files = 0;
    for (const LocalEntry &e : LocalEntries(output))
        files += !e.name.endsWith(QLatin1Char('/'));
    if (!crcZero && tools.same >= 0)
        QCOMPARE(tools.same, files);
    for (int i = 0; i < datas.size(); ++i)
        QVERIFY2(output.contains(datas[i]), qPrintable(QStringLiteral("attachment %1 not copied whole").arg(i)));
}


void OlmArchiveTest::repackedSample_data()
{
    QTest::addColumn<int>("type");
    for (SaveType type : {SaveTypeOLM, SaveTypeRGE, SaveTypeMBOX, SaveTypeEMLX, SaveTypeEML, SaveTypeHTML})
        QTest::newRow(qPrintable(QStringLiteral("save type %1").arg(int(type)))) << int(type);
}

void OlmArchiveTest::repackedSample()
{
    QFETCH(int, type);
    if (IndexForType(SaveType(type)) < 0 || QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("needs the save type and python3");
    // The sample as a common zip tool packs it again: every entry deflated.
    QTemporaryDir dir;
    const QString repacked = dir.filePath(QStringLiteral("repacked.olm"));
    QCOMPARE(QProcess::execute(QStringLiteral("python3"),
                               {"-c",
                                "import sys, zipfile\n"
                                "src = zipfile.ZipFile(sys.argv[1])\n"
                                "with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as out:\n"
                                "    for i in src.infolist(): out.writestr(i.filename, src.read(i))\n",
                                QStringLiteral(OLM_SAMPLE_ARCHIVE), repacked}),
             0);
    const QByteArray source = ReadFile(repacked);
    const SaveOutcome outcome = type == SaveTypeOLM ? runSave(source) : runOtherSave(source, SaveType(type));
    // None of its 22 file entries is read; the scan counts them, every save names each, none as saved.
    QCOMPARE(MailItemCount + ContactItemCount + CalendarItemCount, qint64(0));
    QCOMPARE(CompressedEntryCount, qint64(22));
    // The new archive copies them as they are: its lines say so, the others' that they were not read.
    const bool copies = type == SaveTypeOLM;
    QCOMPARE(outcome.unreadEntries, qint64(copies ? 0 : 22));
    QCOMPARE(outcome.copiedEntries, qint64(copies ? 22 : 0));
    QCOMPARE(outcome.unread.filter(copies ? QStringLiteral(": compressed (method 8), copied as it is, unread")
                                          : QStringLiteral(": compressed (method 8), not read"))
                 .size(),
             22);
    QCOMPARE(SaveProblemText(outcome).contains(QLatin1String("were copied as they are, unread")), copies);
    QCOMPARE(outcome.written, qint64(0));
    if (type != SaveTypeOLM)
        return;
    // The new archive keeps each whole: the same content under the same name, for every reader.
    const ToolResult tools = CheckWithTools(outputPath(), repacked);
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
    QCOMPARE(tools.same, 22);
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
}

void OlmArchiveTest::hostileNames()
{
    if (IndexForOlm() < 0 || QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("needs the OLM save and python3");
    // Messages with an attachment each in climbing, empty, backslash and "." folders, an attachment
    // of an absolute name and one that climbs by backslashes, and a climbing store file.
    const QStringList folders{kMessages + "../../../../x/", "Accounts/../../evil/com.microsoft.__Messages/Inbox/",
                              kMessages + "Inbox//", kMessages + "In\\..\\..\\box/", kMessages + "Inbox/./"};
    TestArchiveBuilder b;
    for (int i = 0; i < folders.size(); ++i) {
        const QString url = folders[i] + QStringLiteral("com.microsoft.__Attachments/a%1").arg(i);
        b.addEntry(url, QByteArray(300 + i, char('a' + i)));
        b.addEntry(folders[i] + QStringLiteral("message_0000%1.xml").arg(i), OlmXml::emails({Mail(i, url)}));
    }
    b.addEntry(QStringLiteral("/etc/cron.d/a"), QByteArray(100, 'z'));
    b.addEntry(kMessages + QStringLiteral("Inbox/com.microsoft.__Attachments/..\\..\\..\\b"), QByteArray(90, 'y'));
    b.addEntry(QStringLiteral("Local/Tasks/../../../t/Tasks.xml"), OlmXml::tasks({{"Task", {}, {}}}));
    const SaveOutcome outcome = runSave(b.finish());
    QCOMPARE(MailItemCount, qint64(5));
    // Python's zipfile finds no name that climbs, starts at the root or holds a backslash.
    QProcess py;
    py.start(QStringLiteral("python3"),
             {"-c",
              "import sys, zipfile\n"
              "for n in zipfile.ZipFile(sys.argv[1]).namelist():\n"
              "    if '\\\\' in n or set(n.rstrip('/').split('/')) & {'', '.', '..'}: print(n)\n",
              outputPath()});
    QVERIFY(py.waitForFinished(60000) && py.exitCode() == 0);
    QCOMPARE(py.readAllStandardOutput(), QByteArray());
    // Each renamed item is named with its old name and counted saved: it lost nothing.
    const QString report = outcome.recovered.join(QLatin1Char('\n'));
    QVERIFY2(outcome.incompletes.isEmpty(), qPrintable(outcome.incompletes.join(QLatin1Char('\n'))));
    for (const char *name : {"../../../../x/message_00000.xml", "Accounts/../../evil/", "Inbox//message_00002.xml",
                             "In\\..\\..\\box/message_00003.xml", "Inbox/./message_00004.xml", "/etc/cron.d/a",
                             "..\\..\\..\\b", "Local/Tasks/../../../t/Tasks.xml"})
        QVERIFY2(report.contains(QLatin1String(name)), qPrintable(name + QStringLiteral(" in:\n") + report));
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    m_archive.reset();
    scanBytes(ReadFile(outputPath()));
    QCOMPARE(MailItemCount + TaskItemCount + AttachmentNodeCount, qint64(5 + 1 + 7));
    if (QStandardPaths::findExecutable(QStringLiteral("bsdtar")).isEmpty())
        QSKIP("bsdtar is not installed");
    // bsdtar writes only inside the folder it extracts into.
    QTemporaryDir parent;
    QVERIFY(QDir(parent.path()).mkpath(QStringLiteral("a/b/inside")));
    QCOMPARE(QProcess::execute(QStringLiteral("bsdtar"),
                               {"-xf", outputPath(), "-C", parent.filePath(QStringLiteral("a/b/inside"))}),
             0);
    QDirIterator it(parent.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        QVERIFY2(it.next().startsWith(parent.filePath(QStringLiteral("a/b/inside/"))), qPrintable(it.filePath()));
}

void OlmArchiveTest::stopInsideLargeEntry()
{
    const qint64 piece = OlmOutputFile::kBufferSize;
    const QByteArray source = LargeAttachmentArchive({int(24 * piece)}, false, nullptr);
    ArchiveFile file(source);
    scanBytes(source);
    OlmSelection selection;
    selection.mail = true;
    selection.folderIds = QString::number(mails().first()->llFolderId) + QLatin1Char(';');
    int asked = 0;
    int stopAt = 0;
    OlmSaveHooks hooks;
    hooks.stopRequested = [&] { return ++asked >= stopAt && stopAt > 0; };
    // Unstopped, the copy of the one large entry asks between every two of its pieces.
    QVERIFY(OlmArchiveWriter(fileDescriptor, hooks).write(outputPath(), selection));
    QVERIFY2(asked >= 23, qPrintable(QString::number(asked)));
    // Stopped twenty asks before the end: inside the copy, which ends at once, its message named.
    stopAt = asked - 20;
    asked = 0;
    OlmArchiveWriter writer(fileDescriptor, hooks);
    QVERIFY(writer.write(outputPath(), selection) && writer.stopped());
    QVERIFY(QFileInfo(outputPath()).size() < 12 * piece);
    // The message and the category list.
    QCOMPARE(writer.itemsWritten(), qint64(2));
    QCOMPARE(writer.incompletes().filter(QStringLiteral("stopped before it was copied whole")).size(), 1);
    const ToolResult tools = CheckWithTools(outputPath());
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
}

namespace {

// File names the new archive holds twice, and file names that are also folders of it: both
// break extraction (one file lost, or "cannot replace a folder").
const char kNameCheck[] = R"PY(
import sys, zipfile
names = [i.filename for i in zipfile.ZipFile(sys.argv[1]).infolist()]
files = [n for n in names if not n.endswith('/')]
folders = {n.rstrip('/') for n in names if n.endswith('/')}
for n in names:
    parts = n.rstrip('/').split('/')
    folders |= {'/'.join(parts[:k]) for k in range(1, len(parts))}
bad = {n for n in files if files.count(n) > 1} | (set(files) & folders)
print('\n'.join(sorted(bad)))
)PY";

// Exit codes of the extraction tools on path into a folder of their own; absent tools left out.
QStringList ExtractionProblems(const QString &path)
{
    QStringList problems;
    const QList<QStringList> tools{{"bsdtar", "-xf", path, "-C"}, {"unzip", "-o", "-q", path, "-d"}};
    for (const QStringList &tool : tools) {
        if (QStandardPaths::findExecutable(tool.first()).isEmpty())
            continue;
        QTemporaryDir into;
        QProcess p;
        p.start(tool.first(), tool.mid(1) << into.path());
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            problems << QStringLiteral("%1 exits %2: %3")
                            .arg(tool.first())
                            .arg(p.exitCode())
                            .arg(QString::fromUtf8(p.readAllStandardError().left(300)));
    }
    return problems;
}

// Data that claims to be deflated: the new archive copies compressed entries without reading them.
TestArchiveBuilder::EntryOptions Deflated(qint64 contentSize)
{
    TestArchiveBuilder::EntryOptions options;
    options.method = 8;
    options.usizeOverride = contentSize;
    return options;
}

QByteArray RandomBytes(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &byte : data)
        byte = char(random.generate());
    return data;
}

}  // namespace

void OlmArchiveTest::clashingNames_data()
{
    // Entries in order: "message_" names hold a message, the others bytes of their own.
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("reason");  // in the line of the renamed entry
    const QString drafts = kMessages + QStringLiteral("Drafts/");
    const QString inbox = kMessages + QStringLiteral("Inbox/");
    const QString attachments = inbox + QStringLiteral("com.microsoft.__Attachments/");
    QTest::newRow("./ before the real name")
        << QStringList{drafts + "./message_00001.xml", drafts + "message_00001.xml"} << "has a \".\" part";
    QTest::newRow("empty part before the real name")
        << QStringList{inbox + "/message_00002.xml", inbox + "message_00002.xml"} << "has an empty part";
    QTest::newRow("names ending in ..")
        << QStringList{inbox + "message_00001.xml", attachments + "..", kMessages + ".."}
        << "written as \"" + kMessages + "__\"";
    QTest::newRow("a file under a folder's name")
        << QStringList{inbox + "message_00001.xml", kMessages + "Inbox"} << "a folder of this archive has that name";
    QTest::newRow("two entries of one name")
        << QStringList{attachments + "a", attachments + "a", inbox + "message_00001.xml"}
        << "another entry has the name";
}

void OlmArchiveTest::clashingNames()
{
    QFETCH(QStringList, names);
    QFETCH(QString, reason);
    if (IndexForOlm() < 0 || QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("needs the OLM save and python3");
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Blue")}));
    QVector<QByteArray> datas;
    int messages = 0;
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].contains(QLatin1String("message_"))) {
            b.addEntry(names[i], OlmXml::emails({Mail(i)}));
            ++messages;
        } else {
            datas << QByteArray(60 + i, char('k' + i));
            b.addEntry(names[i], datas.last());
        }
    }
    const SaveOutcome outcome = runSave(b.finish());
    QVERIFY2(outcome.failures.isEmpty() && outcome.incompletes.isEmpty(),
             qPrintable((outcome.failures + outcome.incompletes).join(QLatin1Char('\n'))));
    // Renamed, nothing lost: saved, with the name it had and what was wrong with it.
    const QString report = outcome.recovered.join(QLatin1Char('\n'));
    QVERIFY2(report.contains(reason), qPrintable(report));
    if (!names.join(QString()).contains(QLatin1String("..")))
        QVERIFY2(!report.contains(QLatin1String("outside")) && !report.contains(QLatin1String("climbs")),
                 qPrintable(report));
    QProcess py;
    py.start(QStringLiteral("python3"), {"-c", QString::fromLatin1(kNameCheck), outputPath()});
    QVERIFY(py.waitForFinished(60000) && py.exitCode() == 0);
    QCOMPARE(py.readAllStandardOutput().trimmed(), QByteArray());
    const QStringList extraction = ExtractionProblems(outputPath());
    QVERIFY2(extraction.isEmpty(), qPrintable(extraction.join(QLatin1Char('\n'))));
    // Every message and every entry's bytes are there.
    const QByteArray output = ReadFile(outputPath());
    for (const QByteArray &data : qAsConst(datas))
        QVERIFY(output.contains(data));
    m_archive.reset();
    scanBytes(output);
    QCOMPARE(MailItemCount, qint64(messages));
}

void OlmArchiveTest::nothingLeftOut_data()
{
    QTest::addColumn<QString>("kept");  // the entry whose source bytes the new archive must hold
    QTest::addColumn<QString>("setup");
    QTest::newRow("compressed contacts store keeps Groups.xml") << "Local/Address Book/Groups.xml" << "contacts";
    QTest::newRow("empty duplicate keeps the real Categories.xml") << "Categories.xml" << "categories";
    QTest::newRow("empty duplicate keeps the real Contacts.xml") << "Local/Address Book/Contacts.xml" << "store";
}

void OlmArchiveTest::nothingLeftOut()
{
    QFETCH(QString, kept);
    QFETCH(QString, setup);
    if (IndexForOlm() < 0)
        QSKIP("this edition has no OLM save");
    TestArchiveBuilder b;
    const QByteArray categories = OlmXml::categories({QStringLiteral("Blue"), QStringLiteral("Red")});
    b.addEntry(QStringLiteral("Categories.xml"), categories);
    const QByteArray groups = "<groups xml:space=\"preserve\"><group>Team</group></groups>";
    if (setup == QLatin1String("contacts")) {
        b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), RandomBytes(700, 3), Deflated(2000));
        b.addEntry(QStringLiteral("Local/Address Book/Groups.xml"), groups);
    }
    const QByteArray contacts = OlmXml::contacts({{"Ann", "Lee", {}, "n", {}}});
    if (setup == QLatin1String("store"))
        b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), contacts);
    b.addEntry(kMessages + QStringLiteral("Inbox/message_00001.xml"), OlmXml::emails({Mail(1)}));
    if (setup == QLatin1String("categories"))
        b.addEntry(QStringLiteral("Categories.xml"), QByteArray());
    if (setup == QLatin1String("store"))
        b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), QByteArray());
    const SaveOutcome outcome = runSave(b.finish());
    // An empty store duplicate holds nothing to save, and is named all the same.
    QVERIFY2(outcome.failures.size() == (setup == QLatin1String("store") ? 1 : 0)
                 && outcome.failures.filter(QStringLiteral("it is empty in the archive")).size() == outcome.failures.size(),
             qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    const QByteArray output = ReadFile(outputPath());
    QVector<LocalEntry> found;
    for (const LocalEntry &entry : LocalEntries(output)) {
        if (entry.name == kept)
            found << entry;
    }
    const QByteArray expected = setup == QLatin1String("contacts") ? groups
        : setup == QLatin1String("store")                            ? contacts
                                                                     : categories;
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().size, qint64(expected.size()));
    QVERIFY(output.contains(expected));
}

namespace {

// Really deflated: the header gives the size and checksum of the text it inflates to.
void AddDeflated(TestArchiveBuilder &b, const QString &name, const QByteArray &text)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(text.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(text.constData()));
    z.avail_in = uInt(text.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    TestArchiveBuilder::EntryOptions options = Deflated(text.size());
    options.crcOverride = qint64(Crc32Update(0, text.constData(), text.size()));
    b.addEntry(name, out, options);
}

// The text Python's zipfile reads (checksum checked) under name; empty when it cannot.
QByteArray ExtractedEntry(const QString &archive, const QString &name)
{
    QProcess py;
    py.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import sys,zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))"),
         archive, name});
    return py.waitForFinished(60000) && py.exitCode() == 0 ? py.readAllStandardOutput() : QByteArray();
}

}  // namespace

namespace {

// Extracts archive into a new empty folder with each zip tool there is: a failure per tool,
// and the files each one made.
QStringList ExtractProblems(const QString &archive, int files)
{
    QStringList problems;
    const QList<QStringList> tools{{"bsdtar", "-xf", archive}, {"unzip", "-oqq", archive}, {"7z", "x", "-y", archive}};
    for (const QStringList &tool : tools) {
        if (QStandardPaths::findExecutable(tool.first()).isEmpty())
            continue;
        QTemporaryDir into;
        QProcess p;
        p.setWorkingDirectory(into.path());
        p.start(tool.first(), tool.mid(1));
        if (!p.waitForFinished(120000) || p.exitCode() != 0)
            problems << QStringLiteral("%1 exits %2: %3")
                            .arg(tool.first())
                            .arg(p.exitCode())
                            .arg(QString::fromUtf8(p.readAll().right(300)));
        int made = 0;
        for (QDirIterator it(into.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();
             it.next())
            ++made;
        if (made != files)
            problems << QStringLiteral("%1 made %2 files of %3").arg(tool.first()).arg(made).arg(files);
    }
    return problems;
}

}  // namespace

void OlmArchiveTest::namesExtract()
{
    // Names zip tools cannot extract, or extract outside the folder, each a message of Inbox.
    const QByteArray inbox = kMessages.toUtf8() + "Inbox/";
    const QList<QByteArray> names{
        inbox + QByteArray(300, 'n') + "/message_00001.xml",
        inbox + (QByteArray(200, 'd') + '/').repeated(22) + "message_00002.xml",
        inbox + "message_\x1b[31m00003.xml",
        inbox + "message_00004\n.xml",
        "./" + inbox + "message_00005.xml",
        "/" + inbox + "message_00006.xml",
        inbox.left(inbox.size() - 1) + "\\message_00007.xml",
        inbox + QByteArray("mess\0age_00008.xml", 18),
    };
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Blue")}));
    for (int i = 0; i < names.size(); ++i)
        b.addRawName(names[i], OlmXml::emails({Mail(i + 1)}));
    const SaveOutcome outcome = runSave(b.finish());
    QCOMPARE(outcome.failures, QStringList());
    QCOMPARE(outcome.written, qint64(names.size() + 1));
    // One line per renamed message, naming what it was and what it became.
    QCOMPARE(outcome.recovered.filter(QStringLiteral("written as")).size(), names.size());
    QCOMPARE(outcome.recovered.size(), names.size());
    int files = 0;
    for (const LocalEntry &e : LocalEntries(ReadFile(outputPath()))) {
        if (!e.name.endsWith(QLatin1Char('/')))
            ++files;
        const QByteArray utf8 = e.name.toUtf8();
        QVERIFY2(utf8.size() <= kOlmMaxNameBytes, qPrintable(e.name.left(80)));
        for (const QByteArray &part : utf8.split('/'))
            QVERIFY2(part.size() <= 255 && part != ".." && part != ".", qPrintable(e.name.left(80)));
        QVERIFY2(std::none_of(utf8.begin(), utf8.end(), [](char ch) { return uchar(ch) < 0x20; }), qPrintable(e.name));
    }
    QCOMPARE(files, names.size() + 1);
    const QStringList problems = ExtractProblems(outputPath(), files);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

void OlmArchiveTest::leftOutAfterDiskFull()
{
    // An entry that is left out for its own reason keeps its line when the disk filled before it.
    TestArchiveBuilder b;
    for (int i = 0; i < 40; ++i)
        b.addEntry(kMessages + QStringLiteral("Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({Mail(i)}));
    TestArchiveBuilder::EntryOptions unknown;
    unknown.method = 77;
    b.addEntry(kMessages + QStringLiteral("Inbox/com.microsoft.__Attachments/odd"), RandomBytes(3000, 5), unknown);
    const QByteArray source = b.finish();
    ArchiveFile file(source);
    scanBytes(source);
    OlmSelection selection;
    selection.mail = true;
    selection.folderIds = MailFolderIds();
    struct rlimit oldLimit;
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = oldLimit;
    small.rlim_cur = 16 * 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    OlmArchiveWriter writer(fileDescriptor, OlmSaveHooks());
    const bool written = writer.write(outputPath(), selection);
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    QVERIFY(!written);
    QCOMPARE(writer.failures().filter(QStringLiteral("method no reader knows")).size(), 1);
    // Every message and the category list named as well: 41 items and the odd entry.
    QCOMPARE(writer.failures().size(), 42);
}

void OlmArchiveTest::destinationReadOnlyMidSave()
{
    if (::geteuid() == 0)
        QSKIP("permissions do not bind the superuser");
    const QByteArray source = BuiltArchive(30);
    ArchiveFile file(source);
    scanBytes(source);
    OlmSelection selection;
    selection.mail = true;
    selection.folderIds = MailFolderIds();
    const QString folder = QFileInfo(outputPath()).path();
    OlmSaveHooks hooks;
    hooks.stopRequested = [&] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        return false;
    };
    OlmArchiveWriter writer(fileDescriptor, hooks);
    const bool written = writer.write(outputPath(), selection);
    const QStringList left = QDir(folder).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!written);
    // The hidden file that could not go is named, in the error and in every item's line.
    QCOMPARE(left.size(), 1);
    QVERIFY2(writer.error().contains(left.first()), qPrintable(writer.error()));
    // Written to its end, the hidden archive is whole: it is called so.
    QVERIFY2(writer.error().contains(QStringLiteral("whole copy")), qPrintable(writer.error()));
    QVERIFY(writer.failures().filter(left.first()).size() >= 30);
}

// Message files, loose attachments and top-level entries whose names cut to the same 255
// bytes: the numbered ones stay within the limit, so every zip tool extracts every file.
void OlmArchiveTest::numberedNamesExtract()
{
    const QByteArray inbox = kMessages.toUtf8() + "Inbox/";
    const QByteArray attachments = inbox + "com.microsoft.__Attachments/";
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Blue")}));
    int files = 1;
    for (const char *tail : {"1", "2", "3"}) {
        b.addRawName(inbox + "message_" + QByteArray(300, 'm') + tail + ".xml", OlmXml::emails({Mail(files)}));
        b.addRawName(attachments + QByteArray(300, 'a') + tail, QByteArray(100, 'x'));
        b.addRawName(QByteArray(300, 't') + tail + ".bin", QByteArray(50, 'y'));
        files += 3;
    }
    const SaveOutcome outcome = runSave(b.finish());
    QCOMPARE(outcome.failures, QStringList());
    int written = 0;
    for (const LocalEntry &e : LocalEntries(ReadFile(outputPath()))) {
        if (e.name.endsWith(QLatin1Char('/')))
            continue;
        ++written;
        for (const QByteArray &part : e.name.toUtf8().split('/'))
            QVERIFY2(part.size() <= 255, qPrintable(e.name.right(80)));
    }
    QCOMPARE(written, files);
    const QStringList problems = ExtractProblems(outputPath(), files);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

void OlmArchiveTest::storeCopies_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("realDeflated");
    QTest::addColumn<QString>("kind");  // of the other copy: cut, zeroed (its header's checksum kept) or empty
    QTest::addColumn<bool>("otherDeflated");
    QTest::addColumn<bool>("otherFirst");
    const QString categories = QStringLiteral("Categories.xml");
    const QString contacts = QStringLiteral("Local/Address Book/Contacts.xml");
    const QString notes = QStringLiteral("Local/Notes/Notes.xml");
    const QString cut = QStringLiteral("cut");
    QTest::newRow("categories, stored cut copy after the real one") << categories << false << cut << false << false;
    QTest::newRow("categories, stored cut copy before the real one") << categories << false << cut << false << true;
    QTest::newRow("categories, deflated real one, stored cut copy") << categories << true << cut << false << false;
    QTest::newRow("contacts, deflated real one, stored cut copy after") << contacts << true << cut << false << false;
    QTest::newRow("contacts, stored real one, deflated cut copy before") << contacts << false << cut << true << true;
    QTest::newRow("contacts, both stored, cut copy before") << contacts << false << cut << false << true;
    QTest::newRow("notes, stored real one, stored cut copy after") << notes << false << cut << false << false;
    // The calendar and the tasks under the names exports give them; zeroed and empty copies on
    // either side of the whole one.
    // The bench's store-copies rows hold every store, kind and place; here the calendar's, and
    // the tasks' on either side.
    const QString calendar = QStringLiteral("Local/Calendar/Calendar.xml");
    const QString tasks = QStringLiteral("Local/Tasks/Tasks.xml");
    for (const QString &kind : {cut, QStringLiteral("zeroed"), QStringLiteral("empty")}) {
        for (const bool first : {true, false}) {
            const QString row = QStringLiteral("calendar, %1 copy %2").arg(kind, first ? "before" : "after");
            QTest::newRow(qPrintable(row)) << calendar << false << kind << false << first;
        }
    }
    QTest::newRow("tasks, cut copy before") << tasks << false << cut << false << true;
    QTest::newRow("tasks, zeroed copy after") << tasks << false << QStringLiteral("zeroed") << false << false;
    QTest::newRow("tasks, empty copy before") << tasks << false << QStringLiteral("empty") << false << true;
    QTest::newRow("calendar, deflated real one, stored cut copy before") << calendar << true << cut << false << true;
    QTest::newRow("contacts, zeroed copy before") << contacts << false << QStringLiteral("zeroed") << false << true;
    // A zeroed copy whose header holds 0, or the checksum of its zeroed bytes, and an empty
    // deflated copy: none is whole, whatever its checksum says.
    // Whole copies beside the whole one, and a cut copy whose header states the whole size.
    for (const QString &store : {contacts, calendar, tasks, notes}) {
        for (const bool first : {true, false})
            QTest::addRow("%s, whole copy with one item other %s", qPrintable(store.section(QLatin1Char('/'), -1)),
                          first ? "before" : "after")
                << store << false << QStringLiteral("whole, one item other") << false << first;
    }
    QTest::newRow("calendar, identical copy before") << calendar << false << QStringLiteral("whole again") << false << true;
    QTest::newRow("contacts, cut copy stating the whole size before")
        << contacts << false << QStringLiteral("cut, stating the whole size") << false << true;
    QTest::newRow("calendar, cut copy stating the whole size after")
        << calendar << false << QStringLiteral("cut, stating the whole size") << false << false;
    const QString stores[] = {categories, contacts, calendar, tasks, notes};
    for (const QString &store : stores) {
        const QString shortName = store.section(QLatin1Char('/'), -1);
        for (const char *other : {"zeroed, checksum 0", "zeroed, its own checksum"})
            QTest::addRow("%s, %s copy before", qPrintable(shortName), other)
                << store << false << QString::fromLatin1(other) << false << true;
        QTest::addRow("%s, empty deflated copy before", qPrintable(shortName))
            << store << false << QStringLiteral("empty") << true << true;
        QTest::addRow("%s, only a cut copy", qPrintable(shortName)) << store << false << QStringLiteral("only cut")
                                                                    << false << true;
    }
}

void OlmArchiveTest::storeCopies()
{
    QFETCH(QString, name);
    QFETCH(bool, realDeflated);
    QFETCH(QString, kind);
    QFETCH(bool, otherDeflated);
    QFETCH(bool, otherFirst);
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("python3 reads the new archive");
    QByteArray real;
    if (name == QLatin1String("Categories.xml"))
        real = OlmXml::categories({QStringLiteral("Blue"), QStringLiteral("Red"), QStringLiteral("Green")});
    else if (name.endsWith(QLatin1String("Contacts.xml")))
        real = OlmXml::contacts({{"Ann", "Lee", {}, "n", {}}, {"Bo", "Ray", {}, "m", {}}});
    else if (name.endsWith(QLatin1String("Calendar.xml")))
        real = OlmXml::appointments({{"Standup", "Room 1", "daily", "2020-01-02T09:00:00", "2020-01-02T09:15:00"},
                                     {"Review", "Room 2", "weekly", "2020-01-03T10:00:00", "2020-01-03T11:00:00"}});
    else if (name.endsWith(QLatin1String("Tasks.xml")))
        real = OlmXml::tasks({{"File taxes", "before April", "1"}, {"Call Bo", "about the roof", "3"}});
    else
        real = "<notes xml:space=\"preserve\" elementCount=\"1\"><note xml:space=\"preserve\">"
               "<OPFNoteCopyText xml:space=\"preserve\">a note</OPFNoteCopyText></note></notes>";
    QByteArray other = real.left(real.size() / 2);
    TestArchiveEntryOptions options;
    if (kind == QLatin1String("zeroed")) {
        // Zeroed in place: full length, close tag kept, the header's checksum that of the real text.
        other = real;
        other.replace(other.size() / 4, other.size() / 2, QByteArray(other.size() / 2, '\0'));
        options.crcOverride = TestArchiveBuilder::crc32(real);
    } else if (kind.startsWith(QLatin1String("zeroed, "))) {
        other = real;
        other.replace(other.size() / 4, other.size() / 2, QByteArray(other.size() / 2, '\0'));
        options.crcZero = kind.endsWith(QLatin1String(" 0"));
    } else if (kind == QLatin1String("empty")) {
        other.clear();
    } else if (kind == QLatin1String("cut, stating the whole size")) {
        options.usizeOverride = options.csizeOverride = real.size();
        options.crcOverride = TestArchiveBuilder::crc32(real);
    } else if (kind.startsWith(QLatin1String("whole"))) {
        other = real;
        for (const char *title : {">Ray<", ">Review<", ">Call Bo<", ">a note<"}) {
            if (kind.endsWith(QLatin1String("other")))
                other.replace(title, ">Zed<");
        }
    }
    TestArchiveBuilder b;
    auto add = [&](const QByteArray &text, bool deflated, const TestArchiveEntryOptions &opt) {
        if (deflated)
            AddDeflated(b, name, text);
        else
            b.addEntry(name, text, opt);
    };
    const bool onlyCut = kind == QLatin1String("only cut");
    if (otherFirst)
        add(other, otherDeflated, options);
    if (!onlyCut)
        add(real, realDeflated, {});
    if (!otherFirst)
        add(other, otherDeflated, options);
    b.addEntry(kMessages + QStringLiteral("Inbox/message_00001.xml"), OlmXml::emails({Mail(1)}));
    const SaveOutcome outcome = runSave(b.finish());
    const QString beside = name.left(name.size() - 4) + QStringLiteral("_2.xml");
    if (kind.startsWith(QLatin1String("whole"))) {
        // One copy under the store's name and none beside it: the items only the other copy
        // holds go with the recovered items, so reading the new archive lists each item once.
        QCOMPARE(ExtractedEntry(outputPath(), name), otherFirst ? other : real);
        QVERIFY(ExtractedEntry(outputPath(), beside).isEmpty());
        QVERIFY2(outcome.failures.isEmpty() && outcome.incompletes.isEmpty(),
                 qPrintable((outcome.failures + outcome.incompletes).join(QLatin1Char('\n'))));
        QFile written(outputPath());
        QVERIFY(written.open(QIODevice::ReadOnly));
        scanBytes(written.readAll());
        const int items = name.endsWith(QLatin1String("Contacts.xml"))   ? contacts().size()
                          : name.endsWith(QLatin1String("Calendar.xml")) ? events().size()
                          : name.endsWith(QLatin1String("Tasks.xml"))    ? tasks().size()
                                                                         : notes().size();
        // The notes store holds one item, the others two.
        const int held = name.endsWith(QLatin1String("Notes.xml")) ? 1 : 2;
        QCOMPARE(items, held + (kind.endsWith(QLatin1String("other")) ? 1 : 0));
        return;
    }
    if (onlyCut) {
        // What it holds is saved under its name, and a line says it is cut.
        QCOMPARE(ExtractedEntry(outputPath(), name), other);
        const QStringList lines = outcome.incompletes.filter(QStringLiteral("no copy of it is whole"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(name), qPrintable(lines.first()));
        return;
    }
    // The store's name holds the whole copy; a damaged one stands beside it, named as cut.
    QCOMPARE(ExtractedEntry(outputPath(), name), real);
    if (kind == QLatin1String("empty"))
        return;
    QCOMPARE(ExtractedEntry(outputPath(), beside), other);
    // One line names the cut copy, what it became and which copy keeps the name; the scan may add
    // that two entries share the name, or that a copy's text is damaged.
    QStringList lines = outcome.incompletes + outcome.recovered + outcome.failures;
    lines = lines.filter(QStringLiteral("a cut copy"));
    QCOMPARE(lines.size(), 1);
    for (const QString &part : {QStringLiteral("keeps the name"), beside})
        QVERIFY2(lines.first().contains(part), qPrintable(lines.first()));
    if (kind != QLatin1String("cut"))
        return;
    const ToolResult tools = CheckWithTools(outputPath());
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
}

void OlmArchiveTest::sampleStoreDamagedInside_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("new archive") << int(SaveTypeOLM);
    QTest::newRow("mbox") << int(SaveTypeMBOX);
}

// The sample's calendar, held once, with 4 KiB zeroed inside: every save's report names the
// store, its damage and the items it lost, and never calls it cut.
void OlmArchiveTest::sampleStoreDamagedInside()
{
    QFETCH(int, type);
    QByteArray source = ReadFile(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    const int at = source.indexOf("Weekly Recurring meeting", source.indexOf("<appointments"));
    QVERIFY(at > 0);
    Damage::zeroStretch(source, at, 4096);
    const SaveOutcome outcome = type == SaveTypeOLM ? runSave(source) : runOtherSave(source, SaveType(type));
    const QStringList lines = outcome.recovered.filter(QStringLiteral("Store \"Local/Calendar/Calendar.xml\""));
    QCOMPARE(lines.size(), 1);
    for (const QString &part : {QStringLiteral("is damaged (4096 NUL bytes from archive offset"),
                                QStringLiteral("its checksum fails"), QStringLiteral("of the 8 its root element states"),
                                QStringLiteral("1 item of which nothing could be read")})
        QVERIFY2(lines.first().contains(part), qPrintable(lines.first()));
    QVERIFY2(!lines.first().contains(QLatin1String("cut")), qPrintable(lines.first()));
}

void OlmArchiveTest::compressedEntryCut_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("stop");      // else the archive being read is cut short
    QTest::addColumn<bool>("inside");    // while the entry is copied, else before the save
    const int large = int(16 * OlmOutputFile::kBufferSize);
    QTest::newRow("the save stopped inside it") << large << true << true;
    QTest::newRow("the archive being read cut short under it") << large << false << true;
    QTest::newRow("a small one, the archive being read cut short before it") << 5000 << false << false;
}

void OlmArchiveTest::compressedEntryCut()
{
    QFETCH(int, size);
    QFETCH(bool, stop);
    QFETCH(bool, inside);
    const QString inbox = kMessages + QStringLiteral("Inbox/");
    const QString url = inbox + QStringLiteral("com.microsoft.__Attachments/picture");
    TestArchiveBuilder b;
    b.addEntry(url, RandomBytes(size, 11), Deflated(2 * qint64(size)));
    b.addEntry(inbox + QStringLiteral("message_00000.xml"), OlmXml::emails({Mail(0, url)}));
    const QByteArray source = b.finish();
    ArchiveFile file(source);
    scanBytes(source);
    OlmSelection selection;
    selection.mail = true;
    selection.folderIds = QString::number(mails().first()->llFolderId) + QLatin1Char(';');
    // The copy of a large entry asks between its pieces: eight asks before the end of an
    // unstopped save are inside it.
    int asked = 0;
    int at = 0;
    OlmSaveHooks hooks;
    hooks.stopRequested = [&] {
        if (++asked == at && !stop)
            QFile::resize(file.path(), inside ? source.size() / 2 : 0);
        return stop && at > 0 && asked >= at;
    };
    QVERIFY(OlmArchiveWriter(fileDescriptor, hooks).write(outputPath(), selection));
    QVERIFY2(asked > 15 || !inside, qPrintable(QString::number(asked)));
    at = inside ? asked - 8 : 1;
    asked = 0;
    OlmArchiveWriter writer(fileDescriptor, hooks);
    QVERIFY(writer.write(outputPath(), selection));
    // Left out whole, never kept as cut bytes under its name, and named.
    for (const LocalEntry &entry : LocalEntries(ReadFile(outputPath())))
        QVERIFY2(!entry.name.endsWith(QLatin1String("/picture")), qPrintable(entry.name));
    const QString lines = (writer.failures() + writer.incompletes()).join(QLatin1Char('\n'));
    static const QRegularExpression named(QStringLiteral("\"[^\n]*/picture\"[^\n]*: compressed, [^\n]*: left out"));
    QVERIFY2(named.match(lines).hasMatch(), qPrintable(lines));
    QVERIFY(writer.compressedCopied().isEmpty());
    const ToolResult tools = CheckWithTools(outputPath());
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
}

namespace {

const char kChildFlag[] = "--write-archive";

// The child of the hard-stop test: scans the archive at source and writes the new archive at
// output, slowed by a pause at each stop test so it can be killed part-way.
int WriteArchiveChild(const QString &source, const QString &output)
{
    // Read where it lies: a killed child cleans nothing up.
    const QByteArray bytes = ReadFile(source);
    fileDescriptor = ::open(QFile::encodeName(source).constData(), O_RDONLY);
    lSize = bytes.size();
    scanBytes(bytes);
    OlmSelection selection;
    selection.mail = true;
    for (MailMLRC *m : mails())
        selection.folderIds += QString::number(quint64(m->llFolderId)) + QLatin1Char(';');
    OlmSaveHooks hooks;
    hooks.stopRequested = [] {
        usleep(300);
        return false;
    };
    return OlmArchiveWriter(fileDescriptor, hooks).write(output, selection) ? 0 : 1;
}

}  // namespace

void OlmArchiveTest::hardStop_data()
{
    QTest::addColumn<double>("at");        // share of the source written when the save is killed
    QTest::addColumn<bool>("earlier");     // an archive of an earlier save stands at the name
    QTest::newRow("killed early") << 0.05 << false;
    QTest::newRow("killed half way") << 0.5 << false;
    QTest::newRow("killed near the end, an earlier archive in place") << 0.9 << true;
    QTest::newRow("killed as it ends, an earlier archive in place") << 1.0 << true;
}

namespace {

// The hidden files saves writing the archive in dest hold.
QStringList HiddenArchives(const QString &dest)
{
    return QDir(dest).entryList({QStringLiteral(".RepairedOLMfile.olm.*.part")}, QDir::Files | QDir::Hidden);
}

}  // namespace

void OlmArchiveTest::hardStop()
{
    QFETCH(double, at);
    QFETCH(bool, earlier);
    const QByteArray source = BuiltArchive(1500);
    const QString sourcePath = m_dest->filePath(QStringLiteral("source.olm"));
    const QString dest = m_dest->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(dest));
    QFile f(sourcePath);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(source) == source.size());
    f.close();
    const QString output = dest + QStringLiteral("/RepairedOLMfile.olm");
    const QByteArray old("an earlier archive");
    if (earlier) {
        QFile o(output);
        QVERIFY(o.open(QIODevice::WriteOnly) && o.write(old) == old.size());
    }
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {kChildFlag, sourcePath, output});
    QVERIFY(child.waitForStarted());
    QElapsedTimer waited;
    waited.start();
    // Killed once the hidden file has grown to the share, or (1.0) as the archive takes its name.
    auto reached = [&] {
        const QStringList hidden = HiddenArchives(dest);
        if (at >= 1.0)
            return hidden.isEmpty() ? ReadFile(output) != old : false;
        return !hidden.isEmpty() && QFileInfo(QDir(dest).filePath(hidden.first())).size() >= qint64(at * source.size());
    };
    while (!reached() && child.state() == QProcess::Running && waited.elapsed() < 120000)
        QThread::yieldCurrentThread();
    const bool killedRunning = child.state() == QProcess::Running;
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished(30000);
    if (at < 1.0)
        QVERIFY2(killedRunning, "the save ended before it could be killed");
    // At most the hidden file beside the earlier archive, which is as it was or already the
    // new archive, whole: the name is never without an archive.
    const QStringList hidden = HiddenArchives(dest);
    QVERIFY(hidden.size() <= 1);
    QStringList left = QDir(dest).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : hidden)
        left.removeAll(name);
    QCOMPARE(left, earlier ? QStringList{QStringLiteral("RepairedOLMfile.olm")} : QStringList());
    if (earlier && ReadFile(output) != old) {
        const ToolResult tools = CheckWithTools(output);
        QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
    }
    // The next save removes the hidden file no save holds any more, with a line, and then
    // replaces the earlier archive.
    ArchiveFile file(source);
    scanBytes(source);
    OlmSelection selection;
    selection.mail = true;
    selection.folderIds = MailFolderIds();
    OlmArchiveWriter writer(fileDescriptor, OlmSaveHooks());
    QVERIFY(writer.write(output, selection));
    QCOMPARE(writer.leftoversRemoved().size(), hidden.size());
    if (!hidden.isEmpty())
        QVERIFY2(writer.leftoversRemoved().first().contains(hidden.first()),
                 qPrintable(writer.leftoversRemoved().first()));
    QCOMPARE(QDir(dest).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("RepairedOLMfile.olm")});
    const ToolResult tools = CheckWithTools(output);
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
}

void OlmArchiveTest::nameTakenDuringSave()
{
    // A file that appears under the archive's name while it is written is never replaced.
    const QByteArray source = BuiltArchive(30);
    ArchiveFile file(source);
    scanBytes(source);
    OlmSelection selection;
    selection.mail = true;
    selection.folderIds = MailFolderIds();
    const QByteArray other("someone else's file");
    OlmSaveHooks hooks;
    hooks.stopRequested = [&] {
        QFile taken(outputPath());
        if (!taken.exists() && taken.open(QIODevice::WriteOnly))
            taken.write(other);
        return false;
    };
    OlmArchiveWriter writer(fileDescriptor, hooks);
    QVERIFY(!writer.write(outputPath(), selection));
    QVERIFY2(writer.error().contains(QLatin1String("could not be given its name")), qPrintable(writer.error()));
    QCOMPARE(ReadFile(outputPath()), other);
    QCOMPARE(writer.itemsWritten(), qint64(0));
    // Its 30 messages and the category list, each named.
    QCOMPARE(writer.itemsLost(), qint64(31));
    QCOMPARE(writer.failures().filter(QStringLiteral("could not be written")).size(), 31);
}

void OlmArchiveTest::replaceOnlyTheAgreedFile_data()
{
    QTest::addColumn<bool>("swapped");  // another file takes the earlier archive's place during the save
    QTest::newRow("the earlier archive keeps the name until the new one takes it") << false;
    QTest::newRow("a file put in its place during the save stays") << true;
}

void OlmArchiveTest::replaceOnlyTheAgreedFile()
{
    QFETCH(bool, swapped);
    const QByteArray source = BuiltArchive(30);
    ArchiveFile file(source);
    scanBytes(source);
    OlmSelection selection;
    selection.mail = true;
    selection.folderIds = MailFolderIds();
    const QByteArray earlier("an earlier archive"), other("someone else's file");
    WriteFile(outputPath(), earlier);
    bool alwaysNamed = true;
    OlmSaveHooks hooks;
    hooks.stopRequested = [&] {
        const QByteArray now = ReadFile(outputPath());
        alwaysNamed = alwaysNamed && (now == earlier || now == other);
        if (swapped && now == earlier) {
            // Made while the earlier one still stands, so it is a file of its own.
            WriteFile(outputPath() + QStringLiteral(".new"), other);
            ::rename(QFile::encodeName(outputPath() + QStringLiteral(".new")).constData(),
                     QFile::encodeName(outputPath()).constData());
        }
        return false;
    };
    {
        OlmArchiveWriter writer(fileDescriptor, hooks);
        QCOMPARE(writer.write(outputPath(), selection), !swapped);
        if (swapped)
            QVERIFY2(writer.error().contains(QLatin1String("could not be given its name")), qPrintable(writer.error()));
    }
    QVERIFY(alwaysNamed);
    if (swapped) {
        QCOMPARE(ReadFile(outputPath()), other);
    } else {
        const ToolResult tools = CheckWithTools(outputPath());
        QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
    }
    // Once the writer is gone, nothing else is left beside it.
    QCOMPARE(QDir(QFileInfo(outputPath()).path()).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden),
             QStringList());
}

void OlmArchiveTest::twoSavesIntoOneFolder()
{
    // Another save writes its hidden file in the same folder; one a save stopped hard left
    // lies there as well.
    const QByteArray source = BuiltArchive(30);
    ArchiveFile file(source);
    scanBytes(source);
    const QString folder = QFileInfo(outputPath()).path();
    const QString stale = folder + QStringLiteral("/.RepairedOLMfile.olm.999999-1.part");
    WriteFile(stale, "PK\x03\x04 cut");
    WriteFile(folder + QStringLiteral("/.RepairedOLMfile.olm.part"), "PK\x03\x04 cut by an earlier version");
    OlmOutputFile other;
    QVERIFY(other.create(outputPath()));
    QCOMPARE(other.leftovers().size(), 2);
    QVERIFY(other.leftovers().first().startsWith(QLatin1String(".RepairedOLMfile.olm.")));
    QVERIFY(other.write(QByteArray("the other save's bytes")));
    QVERIFY(other.drain());
    OlmSelection selection;
    selection.mail = true;
    selection.folderIds = MailFolderIds();
    OlmArchiveWriter writer(fileDescriptor, OlmSaveHooks());
    QVERIFY(writer.write(outputPath(), selection));
    // The other save's file was left alone; this save removed only the one no save held.
    QCOMPARE(writer.leftoversRemoved(), QStringList());
    QCOMPARE(QDir(folder).entryList({QStringLiteral(".RepairedOLMfile.olm.*.part")}, QDir::Files | QDir::Hidden).size(),
             1);
    // The other save then finds the name taken: it fails and says so, and replaces nothing.
    QVERIFY(other.close());
    QVERIFY(!other.takeName(outputPath()));
    QCOMPARE(other.error(), qt_error_string(EEXIST));
    const ToolResult tools = CheckWithTools(outputPath());
    QVERIFY2(tools.problems.isEmpty(), qPrintable(tools.problems.join(QLatin1Char('\n'))));
}

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], kChildFlag) == 0) {
        QCoreApplication app(argc, argv);
        return WriteArchiveChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    QCoreApplication app(argc, argv);
    OlmArchiveTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
// A note recovered from a damaged stretch is rebuilt from its record, which keeps no title over
// 255 characters: the title comes whole from the note's own element.
void OlmArchiveTest::recoveredNoteKeepsLongTitle()
{
    if (IndexForOlm() < 0)
        QSKIP("this edition has no OLM save");
    const QString title = QString(300, QLatin1Char('T')) + QStringLiteral(" & end");
    TestArchiveBuilder t;
    t.addRaw(QByteArray(100, '\x11'));
    t.addRaw(OlmXml::notes({{OlmXml::escape(title), "Text"}}));
    t.addEntry(kMessages + QStringLiteral("Inbox/message_00001.xml"), OlmXml::emails({Mail(1)}));
    const SaveOutcome outcome = runSave(t.finish());
    QCOMPARE(outcome.failed, qint64(0));
    const QByteArray output = ReadFile(outputPath());
    QVERIFY(output.contains("<OPFNoteCopyTitle xml:space=\"preserve\">" + title.toUtf8().replace("&", "&amp;")
                            + "</OPFNoteCopyTitle>"));
}

// Recovered items are rewritten into a store of their own: a broken one as far as it is sound,
// named; one with no whole element named and left out.
void OlmArchiveTest::recoveredBrokenItemsNamed()
{
    if (IndexForOlm() < 0)
        QSKIP("this edition has no OLM save");
    const auto name = [](const QByteArray &first, const QByteArray &last) {
        return OlmXml::item(QStringLiteral("contact"),
                            OlmXml::elementRaw("OPFContactCopyFirstName", first)
                                + OlmXml::elementRaw("OPFContactCopyLastName", last));
    };
    TestArchiveBuilder t;
    t.addRaw(QByteArray(100, '\x11'));
    t.addRaw(OlmXml::list(
        QStringLiteral("contacts"), 3,
        name("Good", "One") + name("Bea", "a & Ghost")
            + OlmXml::item(QStringLiteral("contact"), OlmXml::elementRaw("OPFContactCopyFirstName", "<!-- Ghost"))));
    t.addEntry(kMessages + QStringLiteral("Inbox/message_00001.xml"), OlmXml::emails({Mail(1)}));
    const SaveOutcome outcome = runSave(t.finish());
    QCOMPARE(outcome.failures.size(), 1);
    QVERIFY2(outcome.failures.first().startsWith(QStringLiteral("Contact at archive offset"))
                 && outcome.failures.first().contains(QStringLiteral("and none of its elements is whole")),
             qPrintable(outcome.failures.first()));
    QCOMPARE(outcome.incompletes.size(), 1);
    QVERIFY2(outcome.incompletes.first().contains(QStringLiteral("Contact at archive offset"))
                 && outcome.incompletes.first().contains(QStringLiteral("its broken elements were not read")),
             qPrintable(outcome.incompletes.first()));
    const QByteArray output = ReadFile(outputPath());
    QVERIFY(output.contains(">Good<"));
    QVERIFY(output.contains(">Bea<"));
    QVERIFY(!output.contains("Ghost"));
    QVERIFY(output.contains("elementCount=\"2\""));
}

#include "tst_olmarchive.moc"
