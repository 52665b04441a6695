// Checks that the test archive builder writes archives that independent ZIP readers
// accept with the exact bytes put in, that it reproduces a real export byte for byte,
// and that the XML makers produce well-formed XML carrying the given values.

#include "OlmXml.h"
#include "TestArchiveBuilder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A real export to compare against: the sample kept with the tests.
QString sampleArchive()
{
    return QStringLiteral(OLM_SAMPLE_ARCHIVE);
}

struct Run {
    bool started = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runTool(const QString &program, const QStringList &args)
{
    Run r;
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return r;
    r.started = true;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished(5000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray allByteValues()
{
    QByteArray b;
    for (int round = 0; round < 40; ++round)
        for (int i = 0; i < 256; ++i)
            b.append(static_cast<char>(i ^ round));
    return b;
}

} // namespace

class TestArchiveBuilderTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void crcKnownValues();
    void readersAcceptArchive();
    void rebuildsSampleExactly();
    void damageHelpers();
    void xmlMakersAreWellFormed();

private:
    QString m_python;
    QTemporaryDir m_dir;
};

void TestArchiveBuilderTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_python = QStandardPaths::findExecutable(QStringLiteral("python3"));
}

void TestArchiveBuilderTest::crcKnownValues()
{
    QCOMPARE(TestArchiveBuilder::crc32(QByteArray()), 0u);
    QCOMPARE(TestArchiveBuilder::crc32(QByteArray("123456789")), 0xCBF43926u);
    // Chaining must equal one pass, or entries checksummed in chunks get wrong CRCs.
    const QByteArray data = allByteValues();
    const quint32 head = TestArchiveBuilder::crc32(data.constData(), 1000);
    QCOMPARE(TestArchiveBuilder::crc32(data.constData() + 1000, data.size() - 1000, head),
             TestArchiveBuilder::crc32(data));
}

void TestArchiveBuilderTest::readersAcceptArchive()
{
    using namespace OlmXml;
    MailItem m1;
    m1.subject = escape(QStringLiteral("Tips & Tricks <b> \"quoted\""));
    m1.body = escape(QStringLiteral("Grüße, Jürgen — 日本語のテキスト\nline two"));
    m1.sent = QStringLiteral("2006-01-11T05:17:59");
    m1.received = QStringLiteral("2006-01-11T05:18:04");
    m1.from = { { QStringLiteral("a@example.com"), QStringLiteral("Ann Example") } };
    m1.to = { { QStringLiteral("b@example.com"), QString() } };
    const QString attUrl = QStringLiteral("Local/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/ID1@example.com_0000");
    m1.attachmentNames = QStringList{ QStringLiteral("report.pdf") };
    m1.attachmentUrls = QStringList{ attUrl };
    m1.priority = QStringLiteral("3");
    m1.outgoing = QStringLiteral("0E0");
    m1.messageId = QStringLiteral("ID1@example.com");
    MailItem m2;
    m2.subject = QStringLiteral("second");

    TestArchiveBuilder b;
    QMap<QString, QByteArray> files;
    auto add = [&](const QString &name, const QByteArray &data) {
        files.insert(name, data);
        b.addEntry(name, data);
    };
    add(QStringLiteral("Categories.xml"), categories({ QStringLiteral("Blue"), QStringLiteral("Grün & Co") }));
    b.addDirectory(QStringLiteral("Local/Address Book"));
    add(QStringLiteral("Local/Address Book/Contacts.xml"), contacts({ { QStringLiteral("Ann"), QStringLiteral("Example"), {}, {}, {} } }));
    b.addDirectory(QStringLiteral("Local/Calendar/"));
    add(QStringLiteral("Local/Calendar/Calendar.xml"), appointments({ { QStringLiteral("Meeting"), {}, {}, {}, {} } }));
    add(QStringLiteral("Local/Tasks/Tasks.xml"), tasks({ { QStringLiteral("Do it"), {}, QStringLiteral("3") } }));
    add(QStringLiteral("Local/Notes/Notes.xml"), notes({ { QStringLiteral("Note"), QStringLiteral("Text") } }));
    b.addDirectory(QStringLiteral("Local/com.microsoft.__Messages/Inbox/"));
    add(attUrl, allByteValues());
    add(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00000.xml"), emails({ m1 }));
    add(QStringLiteral("Local/com.microsoft.__Messages/Entwürfe/message_00000.xml"), emails({ m2 }));
    add(QStringLiteral("Local/empty.bin"), QByteArray());
    // The variant header forms must still be well-formed when not asked to lie.
    TestArchiveBuilder::EntryOptions plain;
    plain.zip64Extra = false;
    files.insert(QStringLiteral("Local/plain32.xml"), "<a/>");
    b.addEntry(QStringLiteral("Local/plain32.xml"), "<a/>", plain);
    TestArchiveBuilder::EntryOptions stamped;
    stamped.extraBefore = QByteArray("\x55\x54\x05\x00\x01\x00\x00\x00\x5b", 9); // timestamp record
    files.insert(QStringLiteral("Local/stamped.xml"), "<b/>");
    b.addEntry(QStringLiteral("Local/stamped.xml"), "<b/>", stamped);
    const QByteArray archive = b.finish();

    // The recorded offsets must point at the data as written.
    for (const TestArchiveBuilder::Entry &e : b.entries()) {
        QCOMPARE(archive.mid(e.headerOffset, 4), QByteArray("PK\x03\x04", 4));
        if (!e.directory) {
            QCOMPARE(archive.mid(e.dataOffset, e.size), files.value(e.name));
            QCOMPARE(e.crc, TestArchiveBuilder::crc32(files.value(e.name)));
        }
    }

    const QString path = m_dir.filePath(QStringLiteral("built.olm"));
    QVERIFY(writeFile(path, archive));

    if (m_python.isEmpty())
        QSKIP("python3 not found");
    const Run t = runTool(m_python, { QStringLiteral("-m"), QStringLiteral("zipfile"), QStringLiteral("-t"), path });
    QVERIFY2(t.started && t.exitCode == 0 && !t.out.contains("corrupt"), (t.out + t.err).constData());

    // Python lists every entry with the hex of its bytes' SHA-256 and its ZIP64 state.
    static const char script[] =
        "import sys, zipfile, hashlib, json\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "print(json.dumps([[i.filename, i.is_dir(), hashlib.sha256(z.read(i)).hexdigest(),\n"
        "                   i.extract_version, i.flag_bits] for i in z.infolist()]))\n";
    const Run r = runTool(m_python, { QStringLiteral("-c"), QString::fromLatin1(script), path });
    QVERIFY2(r.started && r.exitCode == 0, r.err.constData());
    const QJsonArray listed = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(listed.size(), b.entries().size());
    for (int i = 0; i < listed.size(); ++i) {
        const QJsonArray row = listed.at(i).toArray();
        const TestArchiveBuilder::Entry &e = b.entries().at(i);
        QCOMPARE(row.at(0).toString(), e.name);
        QCOMPARE(row.at(1).toBool(), e.directory);
        const QByteArray expected = e.directory ? QByteArray() : files.value(e.name);
        QCOMPARE(row.at(2).toString().toLatin1(),
                 QCryptographicHash::hash(expected, QCryptographicHash::Sha256).toHex());
        QCOMPARE(row.at(4).toInt(), 0x0800);
    }

    const QString unzip = QStandardPaths::findExecutable(QStringLiteral("unzip"));
    if (unzip.isEmpty())
        QSKIP("unzip not found");
    const Run u = runTool(unzip, { QStringLiteral("-t"), path });
    QVERIFY2(u.started && u.exitCode == 0, (u.out + u.err).constData());
}

// Rebuilds the sample export from its own entries: any difference in header layout,
// field order, extras or end records shows up as a byte mismatch.
void TestArchiveBuilderTest::rebuildsSampleExactly()
{
    const QString sample = sampleArchive();
    QFile f(sample);
    if (!f.open(QIODevice::ReadOnly))
        QSKIP("sample archive not available");
    const QByteArray original = f.readAll();
    if (m_python.isEmpty())
        QSKIP("python3 not found");

    const QString out = m_dir.filePath(QStringLiteral("sample_entries"));
    QVERIFY(QDir().mkpath(out));
    static const char script[] =
        "import sys, os, zipfile, json\n"
        "z = zipfile.ZipFile(sys.argv[1]); rows = []\n"
        "for n, i in enumerate(z.infolist()):\n"
        "    p = os.path.join(sys.argv[2], '%05d' % n)\n"
        "    open(p, 'wb').write(z.read(i))\n"
        "    rows.append([i.filename.encode('utf-8').hex(), i.is_dir(), p])\n"
        "print(json.dumps(rows))\n";
    const Run r = runTool(m_python, { QStringLiteral("-c"), QString::fromLatin1(script), sample, out });
    QVERIFY2(r.started && r.exitCode == 0, r.err.constData());
    const QJsonArray rows = QJsonDocument::fromJson(r.out).array();
    QVERIFY(!rows.isEmpty());

    TestArchiveBuilder b;
    for (const QJsonValue &v : rows) {
        const QJsonArray row = v.toArray();
        const QByteArray name = QByteArray::fromHex(row.at(0).toString().toLatin1());
        if (row.at(1).toBool()) {
            b.addDirectory(QString::fromUtf8(name));
        } else {
            QFile data(row.at(2).toString());
            QVERIFY(data.open(QIODevice::ReadOnly));
            b.addRawName(name, data.readAll());
        }
    }
    const QByteArray rebuilt = b.finish();
    QCOMPARE(rebuilt.size(), original.size());
    int firstDiff = -1;
    for (int i = 0; i < rebuilt.size() && firstDiff < 0; ++i)
        if (rebuilt.at(i) != original.at(i))
            firstDiff = i;
    QVERIFY2(firstDiff < 0, qPrintable(QStringLiteral("first difference at offset %1").arg(firstDiff)));
}

void TestArchiveBuilderTest::damageHelpers()
{
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("a.xml"), "<a>PK</a>");
    const qint64 second = b.addEntry(QStringLiteral("b.xml"), "<b/>");
    const QByteArray archive = b.finish();

    QByteArray smashed = archive;
    Damage::smashHeader(smashed, second);
    QCOMPARE(smashed.size(), archive.size());
    const QByteArray hit = smashed.mid(second, 30);
    QVERIFY(!hit.contains('P') && !hit.contains('K') && !hit.contains('<'));
    QCOMPARE(smashed.left(second), archive.left(second));
    QCOMPARE(smashed.mid(second + 30), archive.mid(second + 30));
    Damage::smashHeader(smashed, smashed.size() - 3); // near the end: clamped, no overrun
    Damage::smashHeader(smashed, -5);

    QCOMPARE(Damage::cutTail(archive, 10), archive.left(10));
    QCOMPARE(Damage::cutTail(archive, archive.size() + 100), archive);
    QVERIFY(Damage::cutTail(archive, -1).isEmpty());

    QByteArray zeroed = archive;
    Damage::zeroStretch(zeroed, 4, 6);
    QCOMPARE(zeroed.mid(4, 6), QByteArray(6, '\0'));
    QCOMPARE(zeroed.mid(10), archive.mid(10));
    Damage::zeroStretch(zeroed, zeroed.size() - 2, 1000);
    QCOMPARE(zeroed.size(), archive.size());

    // Same seed, same damage; another seed, other damage; the size never changes.
    QByteArray f1 = archive, f2 = archive, f3 = archive;
    Damage::flipBytes(f1, 7, 0.05);
    Damage::flipBytes(f2, 7, 0.05);
    Damage::flipBytes(f3, 8, 0.05);
    QCOMPARE(f1, f2);
    QVERIFY(f1 != archive);
    QVERIFY(f1 != f3);
    QCOMPARE(f1.size(), archive.size());
    QByteArray untouched = archive;
    Damage::flipBytes(untouched, 7, 0.0);
    Damage::flipBytes(untouched, 7, std::numeric_limits<double>::quiet_NaN());
    QCOMPARE(untouched, archive);
}

void TestArchiveBuilderTest::xmlMakersAreWellFormed()
{
    using namespace OlmXml;
    if (m_python.isEmpty())
        QSKIP("python3 not found");

    const QString tricky = QStringLiteral("A & B <c> \"d\" — Ünïcødé 日本");
    MailItem m;
    m.subject = escape(tricky);
    m.body = escape(QStringLiteral("line1\nline2 & more"));
    m.htmlBody = escape(QStringLiteral("<p>x</p>"));
    m.from = { { QStringLiteral("a@example.com"), escape(QStringLiteral("Ann \"A\" Example")) } };
    m.to = { { QStringLiteral("b@example.com"), QStringLiteral("Bob") }, { QStringLiteral("c@example.com"), QString() } };
    m.cc = { { QStringLiteral("d@example.com"), QStringLiteral("Dee") } };
    m.attachmentNames = QStringList{ QStringLiteral("x.pdf"), QStringLiteral("noext") };
    m.attachmentUrls = QStringList{ QStringLiteral("Local/x/com.microsoft.__Attachments/ID@example.com_0000") };
    m.sent = QStringLiteral("2018-06-20T18:49:36");
    m.received = m.sent;
    m.outgoing = QStringLiteral("1E0");
    m.priority = QStringLiteral("1");
    m.messageId = QStringLiteral("ID@example.com");

    struct Doc {
        QString root;
        int count;
        QByteArray xml;
        QString leaf;      // a leaf of the first item
        QString leafText;  // its expected text after parsing
    };
    const QVector<Doc> docs = {
        { "emails", 2, emails({ m, MailItem() }), "OPFMessageCopySubject", tricky },
        { "contacts", 1, contacts({ { "Ann", escape("O'Neil & Co"), "Ann O.", "n", "pic" } }), "OPFContactCopyLastName", "O'Neil & Co" },
        { "appointments", 1, appointments({ { escape("Lunch <today>"), "Café", "d", "2018-06-18T16:30:00", "2018-06-18T17:00:00" } }), "OPFCalendarEventCopySummary", "Lunch <today>" },
        { "tasks", 1, tasks({ { "t", escape("a \"b\""), "3" } }), "OPFTaskCopyNote", "a \"b\"" },
        { "notes", 1, notes({ { "title", "Grüße" } }), "OPFNoteCopyText", "Grüße" },
        { "categories", 2, categories({ "One", escape("Two & Three") }), QString(), QString() },
        { "emails", 0, emails({}), QString(), QString() },
    };

    QStringList args = { QStringLiteral("-c"), QString() };
    for (int i = 0; i < docs.size(); ++i) {
        const QString p = m_dir.filePath(QStringLiteral("doc%1.xml").arg(i));
        QVERIFY(writeFile(p, docs.at(i).xml));
        QVERIFY(!docs.at(i).xml.endsWith('\n'));
        QVERIFY(!docs.at(i).xml.startsWith("<?xml"));
        args << p;
    }
    // For each file: root tag, its elementCount, number of items, the first item's leaves,
    // the children order and every element's xml:space value.
    args[1] = QStringLiteral(
        "import sys, json, xml.etree.ElementTree as ET\n"
        "NS = '{http://www.w3.org/XML/1998/namespace}space'\n"
        "out = []\n"
        "for p in sys.argv[1:]:\n"
        "    r = ET.parse(p).getroot()\n"
        "    first = r[0] if len(r) else None\n"
        "    leaves = {c.tag: (c.text or '') for c in first} if first is not None else {}\n"
        "    order = [c.tag for c in first] if first is not None else []\n"
        "    spaces = sorted({e.get(NS) for e in r.iter() if e is not r})\n"
        "    out.append([r.tag, r.get('elementCount'), len(r), leaves, order, spaces])\n"
        "print(json.dumps(out))\n");
    const Run r = runTool(m_python, args);
    QVERIFY2(r.started && r.exitCode == 0, r.err.constData());
    const QJsonArray results = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(results.size(), docs.size());
    for (int i = 0; i < docs.size(); ++i) {
        const Doc &d = docs.at(i);
        const QJsonArray row = results.at(i).toArray();
        QCOMPARE(row.at(0).toString(), d.root);
        QCOMPARE(row.at(1).toString(), QString::number(d.count));
        QCOMPARE(row.at(2).toInt(), d.count);
        if (!d.leaf.isEmpty())
            QCOMPARE(row.at(3).toObject().value(d.leaf).toString(), d.leafText);
        QStringList order;
        for (const QJsonValue &v : row.at(4).toArray())
            order << v.toString();
        QStringList sorted = order;
        sorted.sort();
        QCOMPARE(order, sorted);
        if (d.count > 0) {
            const QJsonArray spaces = row.at(5).toArray();
            QCOMPARE(spaces.size(), 1);
            QCOMPARE(spaces.at(0).toString(), QStringLiteral("preserve"));
        }
    }
    // Every sender and attachment made it into the first message.
    const QByteArray mail = docs.at(0).xml;
    QVERIFY(mail.contains("OPFContactEmailAddressAddress=\"c@example.com\" OPFContactEmailAddressType=\"0\""));
    QVERIFY(mail.contains("OPFAttachmentName=\"noext\"></messageAttachment>"));
    QVERIFY(mail.contains("OPFAttachmentURL=\"Local/x/com.microsoft.__Attachments/ID@example.com_0000\""));
}

QTEST_GUILESS_MAIN(TestArchiveBuilderTest)
#include "tst_testarchivebuilder.moc"
