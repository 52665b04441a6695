// What a save says against what it did: items saved incomplete kept apart from items not saved,
// the report file that names them, counts that match the files on disk when files hit a size
// limit or the archive is cut during the save, message files that stand only when whole, and a
// recovered-attachment pass that a stop ends within one chunk.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "ThreadResults.h"
#include "platform/Crc32.h"
#include "platform/WholeFile.h"
#include "save/OutputLayout.h"
#include "save/QMailSavingThread.h"
#include "save/mail/MailFormatStyle.h"
#include "save/mail/MailWriter.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

const QString kMessages = QStringLiteral("Local/com.microsoft.__Messages/");

QByteArray el(const char *name, const QByteArray &value)
{
    return OlmXml::elementRaw(name, value);
}

// "The third Tuesday of every month, ten times", from a second Tuesday: a rule would move the
// first occurrence, so the item is written as a single one.
QByteArray secondTuesday()
{
    const QByteArray pattern = el("OPFRecurrencePatternDaysOfWeek", el("tuesday", "1"))
        + el("OPFRecurrencePatternInterval", "1")
        + el("OPFRecurrencePatternType", "OPFRecurrencePatternRelativeMonthly") + el("OPFRecurrencePatternWeek", "3");
    return el("OPFRecurrenceGetOccurenceCount", "1E1") + el("OPFRecurrenceIsNumbered", "1")
        + el("OPFRecurrencePattern", pattern);
}

QByteArray appointment(const QString &summary, const QByteArray &recurrence)
{
    QByteArray children;
    if (!recurrence.isEmpty())
        children += el("OPFCalendarEventCopyRecurrence", recurrence);
    children += el("OPFCalendarEventCopyStartTime", "2026-12-08T09:00:00") + el("OPFCalendarEventCopySummary", summary.toUtf8());
    return OlmXml::item(QStringLiteral("appointment"), children);
}

OlmXml::MailItem mailItem(int n, int bodyBytes = 0, const QString &attachmentUrl = QString())
{
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Message %1").arg(n);
    m.body = bodyBytes > 0 ? QString(bodyBytes, QLatin1Char('b')) : QStringLiteral("Body %1").arg(n);
    m.messageId = QStringLiteral("m%1@example.org").arg(n);
    if (!attachmentUrl.isEmpty()) {
        m.attachmentNames = QStringList{QStringLiteral("file%1.bin").arg(n)};
        m.attachmentUrls = QStringList{attachmentUrl};
    }
    return m;
}

// Messages in the Inbox, every third with a large body, every other one with an attachment
// stored behind it.
QByteArray mixedArchive(int messages, int largeBody)
{
    TestArchiveBuilder b;
    for (int n = 0; n < messages; ++n) {
        const QString url = n % 2 ? kMessages + QStringLiteral("Inbox/com.microsoft.__Attachments/file%1").arg(n) : QString();
        b.addEntry(kMessages + QStringLiteral("Inbox/message_%1.xml").arg(n, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({mailItem(n, n % 3 == 0 ? largeBody : 0, url)}));
        if (!url.isEmpty())
            b.addEntry(url, QByteArray(3000 + n, char('a' + n % 26)));
    }
    return b.finish();
}

// A message of the Inbox with three attachments named as the exporter names them, after its id.
// how: "list cut" (bytes lost inside its attachment list, its checksum failing), "list gone" (no
// list left), "no message" (the list cut, and the message has another id), "no folder" (that,
// and no name gives a folder), "./ names" (every name packed again with a leading "./"), "// names" (a
// slash doubled in each), "flipped bit names" (a bit of the second one's name flipped).
QByteArray ownedAttachments(const QString &how, QStringList *urls)
{
    QString dir = kMessages + QStringLiteral("Inbox/");
    if (how == QLatin1String("no folder"))
        dir = QStringLiteral("Inbox/");
    OlmXml::MailItem m = mailItem(1);
    for (int i = 0; i < 3; ++i) {
        *urls << dir + QStringLiteral("com.microsoft.__Attachments/m1@example.org_000%1").arg(i);
        m.attachmentNames << QStringLiteral("file%1.bin").arg(i);
    }
    m.attachmentUrls = *urls;
    if (how.startsWith(QLatin1String("no ")))
        m.messageId = QStringLiteral("other@example.org");
    QByteArray xml = OlmXml::emails({m});
    const QByteArray whole = xml;
    const int list = xml.indexOf("<OPFMessageCopyAttachmentList");
    const int listEnd = xml.indexOf("</OPFMessageCopyAttachmentList>") + 31;
    if (how == QLatin1String("list cut") || how == QLatin1String("no message") || how == QLatin1String("no folder"))
        xml.remove(list + 60, 40);
    else if (how == QLatin1String("list gone"))
        xml.remove(list, listEnd - list);
    const QString prefix = how == QLatin1String("./ names") ? QStringLiteral("./") : QString();
    const auto named = [&](QString name) {
        // The second attachment's name with one bit flipped in its id.
        if (how == QLatin1String("flipped bit names") && name.endsWith(QLatin1String("_0001")))
            name[name.size() - 8] = QChar(name.at(name.size() - 8).unicode() ^ 0x02);
        // Bits flipped in two bytes of its folder's part, one into a control byte.
        if (how == QLatin1String("flipped folder names") && name.endsWith(QLatin1String("_0001"))) {
            name[3] = QChar(name.at(3).unicode() ^ 0x10);
            name[9] = QChar(name.at(9).unicode() ^ 0x20);
        }
        // Its head lost with its header's fields: only the tail from "ments/" stands.
        if (how == QLatin1String("head lost names") && name.endsWith(QLatin1String("_0001")))
            name = name.mid(name.indexOf(QLatin1String("__Attachments/")) + 8);
        return how == QLatin1String("// names") ? name.replace(QLatin1String("__Messages/"), QLatin1String("__Messages//"))
                                                 : prefix + name;
    };
    TestArchiveBuilder b;
    TestArchiveEntryOptions lost;
    lost.crcOverride = TestArchiveBuilder::crc32(whole);
    b.addEntry(named(dir + QStringLiteral("message_00001.xml")), xml, xml == whole ? TestArchiveEntryOptions() : lost);
    for (int i = 0; i < urls->size(); ++i)
        b.addEntry(named(urls->at(i)), QByteArray(2000 + i, char('k' + i)));
    return b.finish();
}

QStringList filesBelow(const QString &root, const QStringList &patterns)
{
    QStringList found;
    QDirIterator it(root, patterns, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Messages and item files that stand in the output, as a mail program or a calendar would find
// them: the From_ lines of every mailbox, or the message files, plus the kinds' item files.
qint64 itemsOnDisk(SaveType type, const QString &root)
{
    qint64 items = 0;
    if (type == SaveTypeRGE || type == SaveTypeMBOX) {
        for (const QString &box : filesBelow(root, {QStringLiteral("*.mbox")})) {
            const QByteArray data = readAll(box).replace('\r', '\n');
            items += data.count("\nFrom ???@???") + (data.startsWith("From ???@???") ? 1 : 0);
        }
        for (const char *kind : {"Contacts", "Calendar", "Tasks", "Notes"})
            items += filesBelow(root + QLatin1Char('/') + QLatin1String(kind), {QStringLiteral("*")}).size();
        return items;
    }
    return filesBelow(root, {QStringLiteral("*.emlx"), QStringLiteral("*.eml"), QStringLiteral("*.htm")}).size();
}

}  // namespace

class SaveOutcomeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { ResetRunFlags(); }
    void cleanup()
    {
        WholeFile::setUnnamedFilesAllowed(true);
        FreeScanState();
        m_archive.reset();
    }
    void repeatWithoutRule_data();
    void repeatWithoutRule();
    void entriesNotFollowed();
    void reportWhereItCanBeWritten();
    void countsMatchDisk_data();
    void countsMatchDisk();
    void messageFileStandsOnlyWhole_data();
    void messageFileStandsOnlyWhole();
    void stopEndsRecoveredPass_data();
    void stopEndsRecoveredPass();
    void storeItemsLost_data();
    void storeItemsLost();
    void storeChanged_data();
    void storeChanged();
    void attachmentsFindTheirMessage_data();
    void attachmentsFindTheirMessage();
    void uncheckedMessageNamed_data();
    void uncheckedMessageNamed();

private:
    bool prepare(const QByteArray &archive, SaveType type, const QString &dest);
    SaveOutcome save(SaveType type, int threads, const std::function<void(int)> &onTick = {});

    std::unique_ptr<ArchiveFile> m_archive;
};

bool SaveOutcomeTest::prepare(const QByteArray &archive, SaveType type, const QString &dest)
{
    return ScanAndStartTestSave(m_archive, archive, type, dest);
}

SaveOutcome SaveOutcomeTest::save(SaveType type, int threads, const std::function<void(int)> &onTick)
{
    QMailSavingThread thread;
    int ticks = 0;  // the saving thread's alone until wait() returns
    if (onTick)
        connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] { onTick(++ticks); },
                Qt::DirectConnection);
    thread.SetSaveThreads(threads);
    if (!thread.SetInitialSettings(QString(), IndexFor(type)) || !EndRun(thread, &thread, 120000))
        return SaveOutcome();
    return thread.outcome();
}

void SaveOutcomeTest::repeatWithoutRule_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("secondTuesday");
    for (SaveType type : {SaveTypeRGE, SaveTypeMBOX})
        QTest::addRow("type %d, second Tuesday", int(type)) << int(type) << true;
    for (int type = SaveTypeRGE; type <= SaveTypeHTML; ++type)
        QTest::addRow("type %d, nothing to report", type) << type << false;
}

void SaveOutcomeTest::reportWhereItCanBeWritten()
{
    // The output root is gone when the save ends: its report goes to the user's cache folder,
    // and the finish message says both.
    if (IndexFor(SaveTypeEML) < 0)
        QSKIP("this edition has no such save type");
    QTemporaryDir cache;
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    TestArchiveBuilder b;
    b.addEntry(kMessages + QStringLiteral("Inbox/message_00000.xml"), OlmXml::emails({mailItem(0)}));
    QTemporaryDir dest;
    QVERIFY(prepare(b.finish(), SaveTypeEML, dest.path()));
    const QString root = OutputRootFor(SaveTypeEML, saveDir, strTime);
    QVERIFY(QDir(root).removeRecursively());
    QFile blocker(root);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const SaveOutcome outcome = save(SaveTypeEML, 1);
    qputenv("XDG_CACHE_HOME", oldCache);
    QCOMPARE(outcome.failed, qint64(1));
    QVERIFY(!outcome.reportError.isEmpty());
    QVERIFY2(outcome.reportPath.startsWith(cache.path()), qPrintable(outcome.reportPath));
    QVERIFY(readAll(outcome.reportPath).startsWith("Not saved: "));
    const QString text = SaveProblemText(outcome);
    QVERIFY2(text.contains(outcome.reportError) && text.contains(outcome.reportPath), qPrintable(text));
}

void SaveOutcomeTest::repeatWithoutRule()
{
    // Written as a single item: saved incomplete, never "not saved"; the report names it and
    // why. A save with nothing to report writes no report and says nothing but success.
    QFETCH(int, type);
    QFETCH(bool, secondTuesday);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    TestArchiveBuilder b;
    b.addEntry(kMessages + QStringLiteral("Inbox/message_00000.xml"), OlmXml::emails({mailItem(0)}));
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"),
               OlmXml::list(QStringLiteral("appointments"), 2,
                            appointment(QStringLiteral("Team meeting"), secondTuesday ? ::secondTuesday() : QByteArray())
                                + appointment(QStringLiteral("Dentist"), QByteArray())));
    QTemporaryDir dest;
    QVERIFY(prepare(b.finish(), SaveType(type), dest.path()));
    const SaveOutcome outcome = save(SaveType(type), 2);
    const bool writesCalendar = type == SaveTypeRGE || type == SaveTypeMBOX;
    QCOMPARE(outcome.failed, qint64(0));
    QCOMPARE(outcome.incomplete, qint64(secondTuesday ? 1 : 0));
    QCOMPARE(outcome.written, qint64(writesCalendar ? 3 : 1));
    QVERIFY(outcome.foldersNotSaved.isEmpty());
    const QString root = OutputRootFor(SaveType(type), saveDir, strTime);
    // The package's folder holds what the package format defines; its report stands beside it.
    const QString reportFolder = type == SaveTypeRGE ? saveDir : root;
    const QStringList reports = QDir(reportFolder).entryList({QStringLiteral("Save Report*")}, QDir::Files);
    QVERIFY(filesBelow(root, {QStringLiteral("Save Report*")}).size() == (reportFolder == root ? reports.size() : 0));
    if (!secondTuesday) {
        QVERIFY2(reports.isEmpty(), qPrintable(reports.join(QLatin1Char(' '))));
        QVERIFY(outcome.reportPath.isEmpty());
        QCOMPARE(SaveProblemText(outcome), QString());
        return;
    }
    QCOMPARE(outcome.reportPath, SaveReportPathFor(SaveType(type), saveDir, strTime));
    QCOMPARE(reports, QStringList{QFileInfo(outcome.reportPath).fileName()});
    QCOMPARE(SaveProblemText(outcome), QStringLiteral("\n1 item(s) were saved incomplete.\nEach item is listed in \"%1\".")
                                           .arg(outcome.reportPath));
    const QList<QByteArray> lines = readAll(outcome.reportPath).split('\n');
    QCOMPARE(lines.size(), 2);  // one line, and its line feed
    const QString line = QString::fromUtf8(lines.first());
    QVERIFY2(line.startsWith(QLatin1String("Saved incomplete: Calendar item \"Team meeting\" (at archive offset "))
                 && line.contains(QLatin1String("written as a single item"))
                 && line.contains(QLatin1String("its start (2026-12-08) is not on a day its repeat pattern names"))
                 && !line.section(QLatin1String(" incomplete: "), -1).contains(QLatin1String("OPF")),
             qPrintable(line));
}

void SaveOutcomeTest::entriesNotFollowed()
{
    // Central records the scan could not follow are named in the report: one whose entry was
    // found at its own local header, and one whose entry was found nowhere (counted as not read).
    if (IndexFor(SaveTypeMBOX) < 0)
        QSKIP("this edition has no such save type");
    TestArchiveBuilder b;
    const qint64 first = b.addEntry(kMessages + QStringLiteral("Inbox/message_00000.xml"), OlmXml::emails({mailItem(0)}));
    const qint64 att = b.addEntry(kMessages + QStringLiteral("Inbox/com.microsoft.__Attachments/lost"), QByteArray(300, '\x11'));
    b.addEntry(kMessages + QStringLiteral("Inbox/message_00001.xml"), OlmXml::emails({mailItem(1)}));
    QByteArray a = b.finish();
    const auto setOffset = [&a](const QByteArray &name, qint64 to) {
        const int at = a.lastIndexOf(name) + name.size() + 4 + 16;  // the central record's ZIP64 offset
        for (int k = 0; k < 8; ++k)
            a[at + k] = char(to >> (8 * k));
    };
    setOffset("message_00001.xml", first);
    setOffset("Attachments/lost", first + 100);
    Damage::smashHeader(a, att);
    QTemporaryDir dest;
    QVERIFY(prepare(a, SaveTypeMBOX, dest.path()));
    const SaveOutcome outcome = save(SaveTypeMBOX, 2);
    QCOMPARE(outcome.written, qint64(2));
    QCOMPARE(outcome.unreadEntries, qint64(1));
    QVERIFY(SaveProblemText(outcome).contains(QLatin1String("1 entries of the archive were not read")));
    const QByteArray report = readAll(outcome.reportPath);
    QVERIFY2(report.contains("Not read: Entry \"Local/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/lost\"")
                 && report.contains("Recovered: Entry \"Local/com.microsoft.__Messages/Inbox/message_00001.xml\""),
             report.constData());
}

void SaveOutcomeTest::countsMatchDisk_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("cut");  // the archive loses its second half at the fifth item; else files end at 24 KB
    QTest::addColumn<int>("messages");
    // Formatted ahead, the workers read up to 128 messages before their turn.
    for (int type = SaveTypeRGE; type <= SaveTypeHTML; ++type) {
        QTest::addRow("type %d, files end at 24 KB", type) << type << false << 24;
        QTest::addRow("type %d, archive cut", type) << type << true << 400;
    }
}

void SaveOutcomeTest::countsMatchDisk()
{
    // What is counted written stands on disk, whole; nothing of an item counted not saved is
    // left, no part file either; the report names every item not saved, or the message says it
    // could not be written.
    QFETCH(int, type);
    QFETCH(bool, cut);
    QFETCH(int, messages);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    const QByteArray archive = mixedArchive(messages, cut ? 0 : 40000);
    QTemporaryDir dest;
    QVERIFY(prepare(archive, SaveType(type), dest.path()));
    const QString path = m_archive->path();
    struct rlimit old;
    QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
    const sighandler_t before = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = cut ? old.rlim_cur : 24 * 1024;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    const SaveOutcome outcome = save(SaveType(type), 4, [&](int tick) {
        if (cut && tick == 5)
            QFile::resize(path, archive.size() / 2);
    });
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, before);
    const QString root = OutputRootFor(SaveType(type), saveDir, strTime);
    QVERIFY2(outcome.failed > 0 && outcome.written > 0, qPrintable(QString::number(outcome.written)));
    QCOMPARE(itemsOnDisk(SaveType(type), root), outcome.written);
    QCOMPARE(filesBelow(root, {QStringLiteral("*.part*")}), QStringList());
    for (const QString &file : filesBelow(root, {QStringLiteral("*.eml"), QStringLiteral("*.emlx")}))
        QVERIFY2(readAll(file).contains("Message-ID: <m"), qPrintable(file));
    for (const QString &file : filesBelow(root, {QStringLiteral("*.htm")}))
        QVERIFY2(readAll(file).trimmed().endsWith("</html>"), qPrintable(file));
    QVERIFY(!outcome.foldersNotSaved.isEmpty());
    QVERIFY(SaveProblemText(outcome).startsWith(SaveFailedText(outcome.failed)));
    if (outcome.reportPath.isEmpty())
        QVERIFY2(SaveProblemText(outcome).contains(QLatin1String("could not be written")), qPrintable(SaveProblemText(outcome)));
    else
        QCOMPARE(qint64(readAll(outcome.reportPath).count("Not saved: ")), outcome.failed);
}

void SaveOutcomeTest::messageFileStandsOnlyWhole_data()
{
    QTest::addColumn<bool>("unnamed");  // made without a name; else under a hidden part name
    QTest::addColumn<QString>("end");
    for (bool unnamed : {true, false}) {
        const char *how = unnamed ? "unnamed" : "part name";
        for (const char *end : {"closed", "name taken", "discarded", "left without a close", "write fails",
                                "no name left"})
            QTest::addRow("%s, %s", how, end) << unnamed << QString::fromLatin1(end);
    }
}

void SaveOutcomeTest::messageFileStandsOnlyWhole()
{
    // While it is written a message file has no name a reader would take; it takes one that does
    // not exist yet only when all its bytes are out. Otherwise nothing of it stays.
    QFETCH(bool, unnamed);
    QFETCH(QString, end);
    WholeFile::setUnnamedFilesAllowed(unnamed);
    QTemporaryDir dir;
    const QByteArray earlier("an earlier save's message");
    if (end == QLatin1String("name taken"))
        QVERIFY(writeFile(dir.filePath(QStringLiteral("7.eml")), earlier));
    QStringList names{QStringLiteral("7.eml"), QStringLiteral("8.eml")};
    if (end == QLatin1String("no name left"))
        names.clear();
    const QStringList before = QDir(dir.path()).entryList(QDir::Files);
    const QByteArray bytes(100000, 'x');
    QString error;
    {
        MailOutput out;
        QVERIFY(out.createNew(dir.path(), [&] { return names.isEmpty() ? QString() : dir.filePath(names.takeFirst()); }));
        QVERIFY(out.write(bytes));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), before);
        const QStringList parts = QDir(dir.path()).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden);
        QCOMPARE(parts.size(), unnamed ? 0 : 1);
        if (end == QLatin1String("discarded")) {
            out.discard();
        } else if (end == QLatin1String("write fails")) {
            struct rlimit old;
            QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
            const sighandler_t was = std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = old;
            small.rlim_cur = 64 * 1024;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
            const bool closed = out.close();
            setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, was);
            QVERIFY(!closed);
            error = out.error();
        } else if (end != QLatin1String("left without a close")) {
            const bool closed = out.close();
            QCOMPARE(closed, end != QLatin1String("no name left"));
            error = out.error();
        }
        if (!error.isEmpty())
            QVERIFY(out.path().isEmpty());
    }
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    if (end == QLatin1String("closed")) {
        QCOMPARE(left, QStringList{QStringLiteral("7.eml")});
        QCOMPARE(readAll(dir.filePath(QStringLiteral("7.eml"))), bytes);
    } else if (end == QLatin1String("name taken")) {
        QCOMPARE(left, (QStringList{QStringLiteral("7.eml"), QStringLiteral("8.eml")}));
        QCOMPARE(readAll(dir.filePath(QStringLiteral("7.eml"))), earlier);
        QCOMPARE(readAll(dir.filePath(QStringLiteral("8.eml"))), bytes);
    } else {
        QCOMPARE(left, QStringList());
    }
    if (end == QLatin1String("write fails"))
        QCOMPARE(error, qt_error_string(EFBIG));
    if (end == QLatin1String("no name left"))
        QCOMPARE(error, QStringLiteral("no file number is left"));
}

void SaveOutcomeTest::stopEndsRecoveredPass_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("stopAtCall");  // the stop test that first says stop; 0: none does
    for (SaveType type : {SaveTypeMBOX, SaveTypeEML}) {
        QTest::addRow("type %d, not stopped", int(type)) << int(type) << 0;
        QTest::addRow("type %d, stopped at the entry", int(type)) << int(type) << 1;
        QTest::addRow("type %d, stopped inside the copy", int(type)) << int(type) << 3;
    }
}

void SaveOutcomeTest::attachmentsFindTheirMessage_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("tied");       // attachments its message names or its id claims
    QTest::addColumn<QString>("folder");  // where the recovered ones are filed
    for (SaveType type : {SaveTypeMBOX, SaveTypeEML}) {
        for (const char *how :
             {"list cut", "list gone", "./ names", "// names", "flipped bit names", "flipped folder names", "head lost names"})
            QTest::addRow("type %d, %s", int(type), how) << int(type) << QString::fromLatin1(how) << 3 << QString();
        QTest::addRow("type %d, no message", int(type))
            << int(type) << QStringLiteral("no message") << 0 << QStringLiteral("Inbox");
        QTest::addRow("type %d, no folder", int(type))
            << int(type) << QStringLiteral("no folder") << 0 << QStringLiteral("Folder1");
    }
}

// An attachment belongs to the message whose list names it, else to the one whose id and folder
// its name gives; one no message claims goes to the folder its name gives. Names packed again
// by a zip tool ("./", "//") are the names the messages give.
void SaveOutcomeTest::attachmentsFindTheirMessage()
{
    QFETCH(int, type);
    QFETCH(QString, how);
    QFETCH(int, tied);
    QFETCH(QString, folder);
    QStringList urls;
    QTemporaryDir dest;
    QVERIFY(prepare(ownedAttachments(how, &urls), SaveType(type), dest.path()));
    const SaveOutcome outcome = save(SaveType(type), 1);
    const QString root = OutputRootFor(SaveType(type), saveDir, strTime);
    QCOMPARE(outcome.failed, qint64(0));
    // A doubled slash also names a folder "" beside the attachments.
    const QStringList recovered = outcome.recovered.filter(QRegularExpression(QStringLiteral("^attachment ")));
    QCOMPARE(recovered.size(), 3 - tied);
    QCOMPARE(itemsOnDisk(SaveType(type), root), qint64(1 + 3 - tied));
    const bool damaged = !how.endsWith(QLatin1String(" names"));
    QCOMPARE(outcome.incompletes.size(), damaged ? 1 : 0);
    // A name one bit off stands in for the one the list gives, and the report says so.
    QCOMPARE(outcome.recovered.filter(QStringLiteral("with one byte damaged")).size(),
             how == QLatin1String("flipped bit names") ? 1 : 0);
    QCOMPARE(outcome.recovered.filter(QStringLiteral("with its head lost")).size(),
             how == QLatin1String("head lost names") ? 1 : 0);
    QCOMPARE(outcome.recovered.filter(QStringLiteral("with its folder's part damaged")).size(),
             how == QLatin1String("flipped folder names") ? 1 : 0);
    if (damaged && how == QLatin1String("list gone")) {
        QVERIFY2(outcome.incompletes.first().contains(QLatin1String("3 attachments it does not list were tied")),
                 qPrintable(outcome.incompletes.first()));
        // Each name whole and apart, as a reader of the report looks for one.
        for (const QString &url : urls)
            QVERIFY2(outcome.incompletes.first().contains(QLatin1Char('"') + url + QLatin1Char('"')),
                     qPrintable(outcome.incompletes.first()));
    }
    const QStringList files = filesBelow(root, {QStringLiteral("*.mbox"), QStringLiteral("*.eml")});
    QByteArray all;
    for (const QString &file : files) {
        all += readAll(file);
        // Only what has no readable name goes to Folder1; the rest to the folder its name gives.
        QVERIFY2(folder.isEmpty() || file.contains(QStringLiteral("/Inbox")) || file.contains(folder), qPrintable(file));
    }
    for (int i = 0; i < 3; ++i) {
        // Each attachment's bytes in base64: 2000 'k's start "a2tr".
        const QByteArray bytes(2000 + i, char('k' + i));
        QVERIFY2(all.contains(bytes.left(300).toBase64().left(76)), qPrintable(urls.at(i)));
    }
    for (const QString &line : recovered)
        QVERIFY2(line.contains(QStringLiteral(" of %1: no saved message names it").arg(folder)), qPrintable(line));
}

void SaveOutcomeTest::stopEndsRecoveredPass()
{
    // An attachment of 6 MiB that no message names: its search and its copy ask the stop at every
    // MiB, and the message a stop cuts is not kept. Not stopped, it is saved with the reason known.
    QFETCH(int, type);
    QFETCH(int, stopAtCall);
    const QString url = kMessages + QStringLiteral("Inbox/com.microsoft.__Attachments/big");
    TestArchiveBuilder b;
    b.addEntry(kMessages + QStringLiteral("Inbox/message_00000.xml"), OlmXml::emails({mailItem(0)}));
    b.addEntry(url, QByteArray(6 << 20, 'q'));
    QTemporaryDir dest;
    QVERIFY(prepare(b.finish(), SaveType(type), dest.path()));
    MailSaveContext context;
    context.saveDir = saveDir;
    context.strTime = strTime;
    int calls = 0;
    context.stopRequested = [&] {
        ++calls;
        return false;
    };
    const QSet<qint64> inbox{mails().first()->llFolderId};
    const QVector<const FileOffsetNode *> entries = UnnamedAttachmentEntries(inbox, context);
    QCOMPARE(entries.size(), 1);
    QVERIFY2(calls >= 6, qPrintable(QString::number(calls)));  // one per MiB of its checksum
    // A stop during the search leaves nothing to write.
    calls = 0;
    context.stopRequested = [&] { return ++calls >= 2; };
    QVERIFY(UnnamedAttachmentEntries(inbox, context).isEmpty());
    QCOMPARE(calls, 2);

    calls = 0;
    context.stopRequested = [&] { return ++calls >= stopAtCall && stopAtCall > 0; };
    const MailFormatStyle &style = type == SaveTypeMBOX ? AppleMailStyle() : EmlStyle();
    SaveRecoveredAttachments(entries, style, context);
    const QString root = OutputRootFor(SaveType(type), saveDir, strTime);
    QCOMPARE(filesBelow(root, {QStringLiteral("*.part*")}), QStringList());
    if (stopAtCall == 0) {
        QCOMPARE(context.written, qint64(1));
        QCOMPARE(itemsOnDisk(SaveType(type), root), qint64(1));
        QCOMPARE(context.recovered.size(), 1);
        QVERIFY2(context.recovered.first().endsWith(QLatin1String(": no saved message names it")),
                 qPrintable(context.recovered.first()));
        return;
    }
    QCOMPARE(calls, stopAtCall);  // nothing asked, nothing copied past the stop
    QCOMPARE(context.written, qint64(0));
    QVERIFY(context.recovered.isEmpty());
    QCOMPARE(itemsOnDisk(SaveType(type), root), qint64(0));
    // Cut inside its copy: named as not saved, with its entry and why.
    QCOMPARE(context.failed, qint64(stopAtCall > 1 ? 1 : 0));
    if (stopAtCall > 1)
        QVERIFY2(context.failures.first().contains(QLatin1String("stopped"))
                     && context.failures.first().contains(QStringLiteral("(%1)").arg(url)),
                 qPrintable(context.failures.first()));
}

void SaveOutcomeTest::storeItemsLost_data()
{
    QTest::addColumn<int>("type");
    for (int type = SaveTypeOLM; type <= SaveTypeHTML; ++type)
        QTest::addRow("type %d", type) << type;
}

void SaveOutcomeTest::storeItemsLost()
{
    // A store held once and cut at 60 % of its text, its sizes those of the cut bytes: the items
    // its root counts that nothing could be read of are not saved, whatever the save type, and
    // the end message says so.
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QVector<OlmXml::ContactItem> cards;
    for (int i = 0; i < 30; ++i)
        cards.append({QStringLiteral("First%1").arg(i), QStringLiteral("Last%1").arg(i), QString(), QString(), QString()});
    QByteArray store = OlmXml::contacts(cards);
    store.truncate(store.size() * 6 / 10);
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), store);
    b.addEntry(kMessages + QStringLiteral("Inbox/message_00000.xml"), OlmXml::emails({mailItem(0)}));
    QTemporaryDir dest;
    QVERIFY(prepare(b.finish(), SaveType(type), dest.path()));
    const qint64 lost = 30 - ContactItemCount;
    QVERIFY2(lost >= 11 && StoreItemsLost == lost, qPrintable(QString::number(ContactItemCount)));
    const SaveOutcome outcome = save(SaveType(type), 2);
    QVERIFY2(outcome.failed >= lost, qPrintable(QString::number(outcome.failed)));
    QVERIFY(SaveProblemText(outcome).startsWith(SaveFailedText(outcome.failed)));
    QVERIFY(readAll(outcome.reportPath).contains(QStringLiteral("Not saved: %1 store items of which nothing could be read").arg(lost).toUtf8()));
}

void SaveOutcomeTest::uncheckedMessageNamed_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("named");    // its header stands, its lengths damaged: read under its name
    QTest::addColumn<bool>("checked");  // and its CRC-32 left: its text is checked
    for (SaveType type : {SaveTypeMBOX, SaveTypeEML, SaveTypeEMLX, SaveTypeHTML}) {
        QTest::addRow("type %d, header lost", int(type)) << int(type) << false << false;
        QTest::addRow("type %d, header's lengths and CRC-32 damaged", int(type)) << int(type) << true << false;
        QTest::addRow("type %d, header's lengths damaged", int(type)) << int(type) << true << true;
    }
}

void SaveOutcomeTest::uncheckedMessageNamed()
{
    // A message whose header is lost, with no directory: read from its text alone, with no name
    // or CRC-32 to check it against. The report names it, by its subject, where it went.
    QFETCH(int, type);
    QFETCH(bool, named);
    QFETCH(bool, checked);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    TestArchiveBuilder b;
    b.addEntry(kMessages + QStringLiteral("Inbox/message_00000.xml"), OlmXml::emails({mailItem(0)}));
    if (named) {
        b.addEntry(kMessages + QStringLiteral("Inbox/message_00001.xml"), OlmXml::emails({mailItem(1)}));
    } else {
        b.addRaw(QByteArray(40, 'x'));
        b.addRaw(OlmXml::emails({mailItem(1)}));
    }
    QByteArray archive = b.finish(false);
    if (named)
        archive[int(b.entries().last().headerOffset + 27)] = char(0xff);
    if (named && !checked)
        archive[int(b.entries().last().headerOffset + 15)] = char(archive[int(b.entries().last().headerOffset + 15)] ^ 1);
    QTemporaryDir dest;
    QVERIFY(prepare(archive, SaveType(type), dest.path()));
    QCOMPARE(MailItemCount, qint64(2));
    const SaveOutcome outcome = save(SaveType(type), 2);
    const QString subject = QString::fromUtf8(mails().last()->pSubject);
    QVERIFY(!subject.isEmpty());
    const QString report = QString::fromUtf8(readAll(outcome.reportPath));
    if (checked) {
        const QString name = kMessages + QStringLiteral("Inbox/message_00001.xml");
        QVERIFY2(report.contains(QStringLiteral("\"%1\" at archive offset").arg(name))
                     && report.contains(QLatin1String("read by its name before its text, its CRC-32 verified")),
                 qPrintable(report));
    } else {
        QVERIFY2(report.contains(QStringLiteral("Mail \"%1\" (").arg(subject))
                     && report.contains(named ? QLatin1String("read from its text behind a damaged header")
                                              : QLatin1String("read from text no entry header describes")),
                 qPrintable(report));
    }
    QVERIFY2(!report.contains(QStringLiteral("Mail \"%1\"").arg(QString::fromUtf8(mails().first()->pSubject))),
             qPrintable(report));
}

void SaveOutcomeTest::storeChanged_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("counted");  // the save writes contacts as items of their own
    for (int type = SaveTypeOLM; type <= SaveTypeHTML; ++type)
        QTest::addRow("type %d", type) << type << (type != SaveTypeEML && type != SaveTypeEMLX && type != SaveTypeHTML);
}

void SaveOutcomeTest::storeChanged()
{
    // A store held once that lost 2 bytes inside a card's name, its CRC-32 the whole text's:
    // every card still reads whole, but one is changed, and no save of it says all was saved.
    QFETCH(int, type);
    QFETCH(bool, counted);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QVector<OlmXml::ContactItem> cards;
    for (int i = 0; i < 30; ++i)
        cards.append({QStringLiteral("First%1").arg(i), QStringLiteral("Last%1").arg(i), QString(), QString(), QString()});
    const QByteArray store = OlmXml::contacts(cards);
    QByteArray changed = store;
    changed.remove(changed.indexOf("First12") + 2, 2);
    TestArchiveBuilder::EntryOptions o;
    o.crcOverride = Crc32Update(0, store.constData(), store.size());
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), changed, o);
    b.addEntry(kMessages + QStringLiteral("Inbox/message_00000.xml"), OlmXml::emails({mailItem(0)}));
    QTemporaryDir dest;
    QVERIFY(prepare(b.finish(), SaveType(type), dest.path()));
    QCOMPARE(ContactItemCount, qint64(30));
    const SaveOutcome outcome = save(SaveType(type), 2);
    QVERIFY2((outcome.incomplete > 0) == counted, qPrintable(outcome.incompletes.join(QLatin1Char('\n'))));
    QVERIFY(!counted || SaveProblemText(outcome).contains(QString::fromLatin1(kSaveItemsIncompleteText).arg(outcome.incomplete)));
}

QTEST_GUILESS_MAIN(SaveOutcomeTest)
#include "tst_saveoutcome.moc"
