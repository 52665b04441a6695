// A store held more than once under one name, one copy whole and another cut, zeroed or empty:
// the scan lists each item once, from the whole copy, and names the copy it left out. Where no
// copy is whole, the items come from the copy with the most that read whole. A store held once
// and damaged inside names what it lost.

#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"

#include <QFileInfo>
#include <QtTest>

namespace {

// A store's whole text with two items, and how many items the scan lists from it.
QByteArray storeText(const QString &name)
{
    if (name.endsWith(QLatin1String("Contacts.xml")))
        return OlmXml::contacts({{"Ann", "Lee", {}, "n", {}}, {"Bo", "Ray", {}, "m", {}}});
    if (name.endsWith(QLatin1String("Calendar.xml")))
        return OlmXml::appointments({{"Standup", "Room 1", "daily", "2020-01-02T09:00:00", "2020-01-02T09:15:00"},
                                     {"Review", "Room 2", "weekly", "2020-01-03T10:00:00", "2020-01-03T11:00:00"}});
    if (name.endsWith(QLatin1String("Tasks.xml")))
        return OlmXml::tasks({{"File taxes", "before April", "1"}, {"Call Bo", "about the roof", "3"}});
    return "<notes xml:space=\"preserve\" elementCount=\"2\"><note xml:space=\"preserve\">"
           "<OPFNoteCopyText xml:space=\"preserve\">one</OPFNoteCopyText></note><note xml:space=\"preserve\">"
           "<OPFNoteCopyText xml:space=\"preserve\">two</OPFNoteCopyText></note></notes>";
}

int listed(const QString &name)
{
    if (name.endsWith(QLatin1String("Contacts.xml")))
        return contacts().size();
    if (name.endsWith(QLatin1String("Calendar.xml")))
        return events().size();
    if (name.endsWith(QLatin1String("Tasks.xml")))
        return tasks().size();
    return notes().size();
}

// Four items, each long enough to zero inside it.
QByteArray fourItems(const QString &name, QByteArray *closeTag)
{
    const QString pad(40, QLatin1Char('x'));
    if (name.endsWith(QLatin1String("Contacts.xml"))) {
        *closeTag = "</contact>";
        return OlmXml::contacts(
            {{"Ann", pad, {}, {}, {}}, {"Bo", pad, {}, {}, {}}, {"Cy", pad, {}, {}, {}}, {"Di", pad, {}, {}, {}}});
    }
    if (name.endsWith(QLatin1String("Calendar.xml"))) {
        *closeTag = "</appointment>";
        QVector<OlmXml::EventItem> items;
        for (const char *summary : {"One", "Two", "Three", "Four"})
            items.append({summary, pad, {}, "2020-01-02T09:00:00", "2020-01-02T09:15:00"});
        return OlmXml::appointments(items);
    }
    if (name.endsWith(QLatin1String("Tasks.xml"))) {
        *closeTag = "</task>";
        return OlmXml::tasks({{"One", pad, "1"}, {"Two", pad, "1"}, {"Three", pad, "1"}, {"Four", pad, "1"}});
    }
    *closeTag = "</note>";
    return OlmXml::notes({{"One", pad}, {"Two", pad}, {"Three", pad}, {"Four", pad}});
}

// "cut N": ends inside item N+1; "zeroed N": item N's middle zeroed; "nul N": one NUL byte in
// item N; "shifted": 5 bytes lost inside item 2's text, every tag kept; "grown": 5 bytes added
// there; "empty".
QByteArray damagedCopy(const QString &name, const QString &how)
{
    QByteArray close;
    QByteArray text = fourItems(name, &close);
    if (how == QLatin1String("empty"))
        return {};
    if (how == QLatin1String("shifted"))
        return text.remove(text.indexOf(close) + close.size() + 60, 5);
    if (how == QLatin1String("grown"))
        return text.insert(text.indexOf(close) + close.size() + 60, "12345");
    const int n = how.section(QLatin1Char(' '), 1).toInt();
    int at = -1;
    for (int i = 0; i < n; ++i)
        at = text.indexOf(close, at + 1);
    if (how.startsWith(QLatin1String("cut")))
        return text.left(at + close.size() + 12);
    if (how.startsWith(QLatin1String("nul"))) {
        text[at - 20] = '\0';
        return text;
    }
    const int previous = text.lastIndexOf(close, at - 1);
    const int from = (previous < 0 ? text.indexOf('>') + 1 : previous + close.size()) + 30;
    text.replace(from, at - 10 - from, QByteArray(at - 10 - from, '\0'));
    return text;
}

// Thirty items, each named by its number, and the close tag of one.
QByteArray thirtyItems(const QString &name, QByteArray *close, int count = 30)
{
    const QString pad(30, QLatin1Char('y'));
    if (name.endsWith(QLatin1String("Contacts.xml"))) {
        QVector<OlmXml::ContactItem> items;
        for (int i = 1; i <= count; ++i)
            items.append({QStringLiteral("P%1").arg(i), pad, {}, {}, {}});
        *close = "</contact>";
        return OlmXml::contacts(items);
    }
    QVector<OlmXml::EventItem> items;
    for (int i = 1; i <= count; ++i)
        items.append({QStringLiteral("E%1").arg(i), pad, {}, "2020-01-02T09:00:00", "2020-01-02T09:15:00"});
    *close = "</appointment>";
    return OlmXml::appointments(items);
}

// One copy of the thirty items, its header stating what the export wrote: "whole"; "older" (the
// first 29, whole, written earlier); "cut 60%" (the first 60 %); "zeroed 40-55%"; "cut in N";
// "zeros in N" (200 NUL bytes inside item N); "NUL in N" (one).
QByteArray thirtyCopy(const QString &name, const QString &how, TestArchiveEntryOptions *options)
{
    QByteArray close;
    const QByteArray whole = thirtyItems(name, &close);
    if (how == QLatin1String("older"))
        return thirtyItems(name, &close, 29);
    options->usizeOverride = options->csizeOverride = whole.size();
    options->crcOverride = TestArchiveBuilder::crc32(whole);
    if (how == QLatin1String("whole"))
        return whole;
    if (how == QLatin1String("cut 60%"))
        return whole.left(whole.size() * 60 / 100);
    QByteArray copy = whole;
    if (how == QLatin1String("zeroed 40-55%")) {
        const int from = whole.size() * 40 / 100;
        return copy.replace(from, whole.size() * 55 / 100 - from, QByteArray(whole.size() * 15 / 100, '\0'));
    }
    const int n = how.section(QLatin1Char(' '), -1).toInt();
    int end = -1;
    for (int i = 0; i < n; ++i)
        end = copy.indexOf(close, end + 1);
    const int start = copy.lastIndexOf(close, end - 1) + close.size();
    if (how.startsWith(QLatin1String("cut")))
        return copy.left((start + end) / 2);
    const int length = how.startsWith(QLatin1String("zeros")) ? qMin(200, end - start - 20) : 1;
    return copy.replace(start + 20, length, QByteArray(length, '\0'));
}

}  // namespace

class StoreCopiesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachItemOnce_data();
    void eachItemOnce();
    void onlyCopyCut();
    void noCopyWhole_data();
    void noCopyWhole();
    void damagedOnce_data();
    void damagedOnce();
    void sampleDamagedOnce_data();
    void sampleDamagedOnce();
    void cutStatingWholeSize_data();
    void cutStatingWholeSize();
    void storeNameBounded();
    void threeIdenticalCopies();
    void itemsWholeInAnyCopy_data();
    void itemsWholeInAnyCopy();
    void countFromAnyRoot_data();
    void countFromAnyRoot();
    void itemReadTwiceListedOnce();
};

void StoreCopiesTest::eachItemOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("first");  // the other copy before the whole one
    for (const char *name : {"Local/Address Book/Contacts.xml", "Local/Calendar/Calendar.xml", "Local/Tasks/Tasks.xml",
                             "Local/Notes/Notes.xml"}) {
        for (const char *kind : {"cut", "cut, stating the whole size", "zeroed, its own checksum", "zeroed, checksum 0",
                                 "NUL byte", "empty", "whole again", "whole, one item other"}) {
            for (const bool first : {true, false})
                QTest::addRow("%s, %s copy %s", name, kind, first ? "before" : "after")
                    << QString::fromLatin1(name) << QString::fromLatin1(kind) << first;
        }
    }
}

void StoreCopiesTest::eachItemOnce()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, first);
    const QByteArray whole = storeText(name);
    // Cut inside its second item: the first item reads whole.
    QByteArray other = whole.left(whole.size() * 3 / 4);
    TestArchiveEntryOptions options;
    if (kind.startsWith(QLatin1String("zeroed"))) {
        other = whole;
        other.replace(other.size() / 2, other.size() / 4, QByteArray(other.size() / 4, '\0'));
        options.crcZero = kind.endsWith(QLatin1String(" 0"));
    } else if (kind == QLatin1String("cut, stating the whole size")) {
        // What bytes lost inside an entry leave: the header still states the whole text.
        options.usizeOverride = options.csizeOverride = whole.size();
        options.crcOverride = TestArchiveBuilder::crc32(whole);
    } else if (kind == QLatin1String("NUL byte")) {
        other = whole;
        other[other.size() * 3 / 4] = '\0';
        options.crcOverride = TestArchiveBuilder::crc32(whole);
    } else if (kind == QLatin1String("empty")) {
        other.clear();
    } else if (kind.startsWith(QLatin1String("whole"))) {
        other = whole;
        // Its second item's title changed: a copy the export wrote at another time.
        for (const char *title : {">Ray<", ">Review<", ">Call Bo<", ">two<"}) {
            if (kind.endsWith(QLatin1String("other")))
                other.replace(title, ">Zed<");
        }
    }
    TestArchiveBuilder b;
    if (first)
        b.addEntry(name, other, options);
    b.addEntry(name, whole);
    if (!first)
        b.addEntry(name, other, options);
    scanBytes(b.finish());
    // Identical copies are one copy; an item only another whole copy holds is listed too.
    const bool differs = kind.endsWith(QLatin1String("other"));
    QCOMPARE(listed(name), differs ? 3 : 2);
    const QStringList stores = EntriesReadElsewhere.filter(QStringLiteral("Store \""));
    const QStringList lines = stores.filter(QStringLiteral("is not whole"));
    const bool named = !kind.startsWith(QLatin1String("whole")) && kind != QLatin1String("empty");
    QCOMPARE(stores.size(), named ? 1 : 0);
    QCOMPARE(lines.size(), named ? 1 : 0);
    if (!lines.isEmpty()) {
        QVERIFY2(lines.first().contains(name), qPrintable(lines.first()));
        // The other copy holds one item whole (the first), or both where a byte was lost
        // inside; each was read once from it and left out.
        QVERIFY2(
            lines.first().contains(
                QStringLiteral(": %1 items read from it were left out").arg(kind == QLatin1String("NUL byte") ? 2 : 1)),
            qPrintable(lines.first()));
        QVERIFY2(!lines.first().contains(QLatin1String("no copy holds")), qPrintable(lines.first()));
    }
    CleanScanResults();
}

// A store held once and cut: the items before the cut are listed, and a line names the store.
void StoreCopiesTest::onlyCopyCut()
{
    for (const char *name : {"Local/Address Book/Contacts.xml", "Local/Calendar/Calendar.xml", "Local/Tasks/Tasks.xml",
                             "Local/Notes/Notes.xml"}) {
        const QByteArray whole = storeText(QString::fromLatin1(name));
        TestArchiveBuilder b;
        b.addEntry(QString::fromLatin1(name), whole.left(whole.size() * 3 / 4));
        scanBytes(b.finish());
        QCOMPARE(listed(QString::fromLatin1(name)), 1);
        const QStringList lines = EntriesReadElsewhere.filter(QStringLiteral("no whole copy"));
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains(QLatin1String(name)), qPrintable(lines.first()));
        CleanScanResults();
    }
}

void StoreCopiesTest::noCopyWhole_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("copies");  // in archive order
    QTest::addColumn<int>("items");           // listed: the best copy's
    QTest::addColumn<int>("readWhole");       // of them, reading whole
    QTest::addColumn<int>("leftOut");         // copies named as left out (those that gave items)
    const struct {
        const char *copies;
        int items, readWhole, leftOut;
    } rows[] = {
        {"cut 1,cut 3", 3, 3, 1},       {"cut 3,cut 1", 3, 3, 1},    {"empty,cut 2", 2, 2, 0},
        {"cut 2,cut 3", 3, 3, 1},       {"zeroed 2,cut 2", 4, 3, 1}, {"cut 2,zeroed 2", 4, 3, 1},
        {"cut 1,empty,cut 3", 3, 3, 1}, {"cut 3,zeroed 1", 4, 3, 1},
    };
    for (const char *name : {"Local/Address Book/Contacts.xml", "Local/Calendar/Calendar.xml", "Local/Tasks/Tasks.xml",
                             "Local/Notes/Notes.xml"}) {
        for (const auto &row : rows)
            QTest::addRow("%s: %s", name, row.copies)
                << QString::fromLatin1(name) << QString::fromLatin1(row.copies).split(QLatin1Char(',')) << row.items
                << row.readWhole << row.leftOut;
    }
}

// Every copy of a store damaged: each item is listed once, from one copy, and the report names
// the store and the copies left out.
void StoreCopiesTest::noCopyWhole()
{
    QFETCH(QString, name);
    QFETCH(QStringList, copies);
    QFETCH(int, items);
    QFETCH(int, readWhole);
    QFETCH(int, leftOut);
    TestArchiveBuilder b;
    for (const QString &how : copies)
        b.addEntry(name, damagedCopy(name, how));
    scanBytes(b.finish());
    QCOMPARE(listed(name), items);
    const QStringList kept = EntriesReadElsewhere.filter(QStringLiteral("no copy of it is whole"));
    QCOMPARE(kept.size(), 1);
    QVERIFY2(kept.first().contains(QStringLiteral("\"%1\" is held %2 times").arg(name).arg(copies.size())),
             qPrintable(kept.first()));
    QVERIFY2(kept.first().contains(QStringLiteral("(%1)").arg(readWhole)), qPrintable(kept.first()));
    const QStringList others = EntriesReadElsewhere.filter(QStringLiteral("are read from its copy"));
    QCOMPARE(others.size(), leftOut);
    for (const QString &line : others)
        QVERIFY2(line.contains(name), qPrintable(line));
    CleanScanResults();
}

void StoreCopiesTest::damagedOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("copies");  // in archive order, all alike
    QTest::addColumn<int>("items");           // listed
    QTest::addColumn<int>("named");           // items the line names as damaged
    QTest::addColumn<int>("unread");          // items the root element states that gave no record
    QTest::addColumn<bool>("cut");            // the line says the store is cut
    const struct {
        const char *copies;
        int items, named, unread;
        bool cut;
    } rows[] = {
        {"cut 2", 2, 0, 2, true},     {"cut 2,cut 2", 2, 0, 2, true},  {"zeroed 2", 4, 1, 0, false},
        {"nul 3", 4, 1, 0, false},    {"nul 3,nul 3", 4, 1, 0, false}, {"shifted", 4, 0, 0, false},
        {"zeroed 4", 4, 1, 0, false}, {"grown", 4, 0, 0, false},
    };
    for (const char *name : {"Local/Address Book/Contacts.xml", "Local/Calendar/Calendar.xml", "Local/Tasks/Tasks.xml",
                             "Local/Notes/Notes.xml"}) {
        for (const auto &row : rows)
            QTest::addRow("%s: %s", name, row.copies)
                << QString::fromLatin1(name) << QString::fromLatin1(row.copies).split(QLatin1Char(',')) << row.items
                << row.named << row.unread << row.cut;
    }
}

// A store held once (or in identical copies) and damaged inside: its items are listed once, and
// one line names the store, its damage and each item lost; a store whose every item was read is
// never called cut.
void StoreCopiesTest::damagedOnce()
{
    QFETCH(QString, name);
    QFETCH(QStringList, copies);
    QFETCH(int, items);
    QFETCH(int, named);
    QFETCH(int, unread);
    QFETCH(bool, cut);
    QByteArray close;
    const QByteArray whole = fourItems(name, &close);
    TestArchiveBuilder b;
    for (const QString &how : copies) {
        TestArchiveEntryOptions options;
        // The header states what the export wrote: bytes changed inside leave it as it was.
        options.usizeOverride = options.csizeOverride = whole.size();
        options.crcOverride = TestArchiveBuilder::crc32(whole);
        b.addEntry(name, damagedCopy(name, how), options);
    }
    scanBytes(b.finish());
    QCOMPARE(listed(name), items);
    const QStringList lines = EntriesReadElsewhere.filter(QStringLiteral("Store \""));
    QCOMPARE(lines.size(), 1);
    const QString line = lines.first();
    QVERIFY2(line.contains(QStringLiteral("\"%1\" at archive offset").arg(name)), qPrintable(line));
    QVERIFY2(line.contains(QLatin1String("no whole copy")), qPrintable(line));
    QCOMPARE(line.contains(QLatin1String("cut")), cut);
    QCOMPARE(line.count(QRegularExpression(QStringLiteral("the (contact|calendar item|task|note) at archive offset"))),
             named);
    QCOMPARE(line.contains(
                 QStringLiteral("%1 item%2 of which nothing could be read").arg(unread).arg(unread > 1 ? "s" : "")),
             unread > 0);
    if (named + unread == 0)
        QVERIFY2(line.contains(QLatin1String("4 of the 4 items read from it read whole, of the 4 its root")),
                 qPrintable(line));
    CleanScanResults();
}

void StoreCopiesTest::sampleDamagedOnce_data()
{
    QTest::addColumn<QByteArray>("store");   // the root start tag of the store damaged
    QTest::addColumn<QByteArray>("within");  // where in it: after this text
    QTest::addColumn<int>("length");         // NUL bytes put there
    QTest::addColumn<QString>("lost");       // what the line names
    QTest::newRow("4 KiB zeroed inside Calendar.xml")
        << QByteArray("<appointments") << QByteArray("Weekly Recurring meeting") << 4096
        << QStringLiteral("lost or damaged: the calendar item at archive offset 20971 (\"Weekly Recurring meeting\"), 1 "
                          "item of which nothing");
    QTest::newRow("a NUL byte in a task") << QByteArray("<tasks") << QByteArray("recurring task") << 1
                                          << QStringLiteral("lost or damaged: the task at archive offset 49803");
    QTest::newRow("a NUL byte in an event's summary")
        << QByteArray("<appointments") << QByteArray("<OPFCalendarEventCopySummary xml:space=\"preserve\">Th") << 1
        << QStringLiteral("the calendar item at archive offset 18014 (\"Th\")");
    QTest::newRow("a NUL byte in a contact")
        << QByteArray("<contacts") << QByteArray("<contact ") << 1 << QStringLiteral("the contact at archive offset");
}

// The sample's stores, each held once, damaged inside: the report names the store and what it
// lost, in every save type (they all carry the scan's lines).
void StoreCopiesTest::sampleDamagedOnce()
{
    QFETCH(QByteArray, store);
    QFETCH(QByteArray, within);
    QFETCH(int, length);
    QFETCH(QString, lost);
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray archive = f.readAll();
    scanBytes(archive);
    // The intact sample gives no line.
    QVERIFY2(EntriesReadElsewhere.filter(QStringLiteral("Store \"")).isEmpty(),
             qPrintable(EntriesReadElsewhere.join(QLatin1Char('\n'))));
    const int items = contacts().size() + events().size() + tasks().size();
    const int at = archive.indexOf(within, archive.indexOf(store)) + within.size();
    archive.replace(at, length, QByteArray(length, '\0'));
    scanBytes(archive);
    const QStringList lines = EntriesReadElsewhere.filter(QStringLiteral("Store \""));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains(lost), qPrintable(lines.first()));
    QVERIFY2(lines.first().contains(QLatin1String("is damaged")), qPrintable(lines.first()));
    QCOMPARE(contacts().size() + events().size() + tasks().size(), items - (length > 1 ? 1 : 0));
    CleanScanResults();
}

void StoreCopiesTest::cutStatingWholeSize_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVector<int>>("cuts");  // percent of the text each cut copy holds, before the whole one
    for (const char *name :
         {"Local/Address Book/Contacts.xml", "Local/Calendar/Calendar.xml", "Local/Tasks/Tasks.xml"}) {
        QTest::addRow("%s, one cut copy", name) << QString::fromLatin1(name) << QVector<int>{60};
        QTest::addRow("%s, two cut copies", name) << QString::fromLatin1(name) << QVector<int>{60, 80};
    }
}

// Cut copies whose headers still state the whole size and checksum, in front of the whole
// copy: the whole copy's 30 items are all listed, and each line counts what its copy held.
void StoreCopiesTest::cutStatingWholeSize()
{
    QFETCH(QString, name);
    QFETCH(QVector<int>, cuts);
    const QString pad(30, QLatin1Char('y'));
    QByteArray whole;
    QByteArray close;
    if (name.endsWith(QLatin1String("Contacts.xml"))) {
        QVector<OlmXml::ContactItem> items;
        for (int i = 0; i < 30; ++i)
            items.append({QStringLiteral("P%1").arg(i), pad, {}, {}, {}});
        whole = OlmXml::contacts(items);
        close = "</contact>";
    } else if (name.endsWith(QLatin1String("Calendar.xml"))) {
        QVector<OlmXml::EventItem> items;
        for (int i = 0; i < 30; ++i)
            items.append({QStringLiteral("E%1").arg(i), pad, {}, "2020-01-02T09:00:00", "2020-01-02T09:15:00"});
        whole = OlmXml::appointments(items);
        close = "</appointment>";
    } else {
        QVector<OlmXml::TaskItem> items;
        for (int i = 0; i < 30; ++i)
            items.append({QStringLiteral("T%1").arg(i), pad, "1"});
        whole = OlmXml::tasks(items);
        close = "</task>";
    }
    TestArchiveBuilder b;
    QVector<int> held;
    for (const int percent : cuts) {
        const QByteArray cut = whole.left(whole.size() * percent / 100);
        held.append(cut.count(close));
        TestArchiveEntryOptions options;
        options.usizeOverride = options.csizeOverride = whole.size();
        options.crcOverride = TestArchiveBuilder::crc32(whole);
        b.addEntry(name, cut, options);
    }
    b.addEntry(name, whole);
    scanBytes(b.finish());
    QCOMPARE(listed(name), 30);
    const QStringList lines = EntriesReadElsewhere.filter(QStringLiteral("Store \""));
    QCOMPARE(lines.size(), cuts.size());
    for (int i = 0; i < cuts.size(); ++i)
        QVERIFY2(lines[i].contains(QStringLiteral("is not whole (its text ends before its root element closes; its "
                                                  "checksum fails): %1 items read from it were left out, as its whole "
                                                  "copy gives the store's items")
                                       .arg(held[i])),
                 qPrintable(lines[i]));
    CleanScanResults();
}

// A store's name in a line is bounded and its control bytes written out, as every line does.
void StoreCopiesTest::storeNameBounded()
{
    const QString name = QStringLiteral("Local/Tasks/\x1b[31m") + QString(400, QLatin1Char('n')) + "/Tasks.xml";
    TestArchiveBuilder b;
    b.addEntry(name, damagedCopy(name, QStringLiteral("cut 2")));
    scanBytes(b.finish());
    const QStringList lines = EntriesReadElsewhere.filter(QStringLiteral("Store \""));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(!lines.first().contains(QChar(0x1b)) && lines.first().contains(QLatin1String("\\x1b[31m")),
             qPrintable(lines.first()));
    QVERIFY2(lines.first().size() < 700, qPrintable(lines.first()));
    CleanScanResults();
}

// A store held three times alike is one store: its items are listed once, and nothing is lost.
void StoreCopiesTest::threeIdenticalCopies()
{
    for (const char *name : {"Local/Address Book/Contacts.xml", "Local/Calendar/Calendar.xml", "Local/Tasks/Tasks.xml",
                             "Local/Notes/Notes.xml"}) {
        TestArchiveBuilder b;
        for (int i = 0; i < 3; ++i)
            b.addEntry(QString::fromLatin1(name), storeText(QString::fromLatin1(name)));
        scanBytes(b.finish());
        QCOMPARE(listed(QString::fromLatin1(name)), 2);
        QVERIFY2(EntriesReadElsewhere.filter(QStringLiteral("Store \"")).isEmpty(),
                 qPrintable(EntriesReadElsewhere.join(QLatin1Char('\n'))));
        CleanScanResults();
    }
}

void StoreCopiesTest::itemsWholeInAnyCopy_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("copies");  // in archive order
    QTest::addColumn<int>("lost");            // items whole in no copy: listed as they read, and named
    const struct {
        const char *copies;
        int lost;
    } rows[] = {
        {"cut 60%,zeroed 40-55%", 0},
        {"zeroed 40-55%,cut 60%", 0},
        {"cut in 20,zeros in 5,NUL in 12", 0},
        {"NUL in 12,zeros in 5,cut in 20", 0},
        {"zeros in 5,cut in 20,NUL in 12", 0},
        {"older,whole", 0},
        {"whole,older", 0},
        {"older,NUL in 12", 0},
        {"zeros in 5,whole", 0},
        {"NUL in 12,cut in 20", 0},
        {"zeros in 5,NUL in 5", 1},
        {"NUL in 5,cut in 3,zeros in 5", 1},
    };
    for (const char *name : {"Local/Address Book/Contacts.xml", "Local/Calendar/Calendar.xml"}) {
        for (const auto &row : rows)
            QTest::addRow("%s: %s", name, row.copies)
                << QString::fromLatin1(name) << QString::fromLatin1(row.copies).split(QLatin1Char(',')) << row.lost;
    }
}

// Copies of a store each damaged elsewhere, or written at other times: every item whole in any
// copy is listed once, whichever copy holds it; one whole in no copy is listed once and named.
void StoreCopiesTest::itemsWholeInAnyCopy()
{
    QFETCH(QString, name);
    QFETCH(QStringList, copies);
    QFETCH(int, lost);
    TestArchiveBuilder b;
    for (const QString &how : copies) {
        TestArchiveEntryOptions options;
        b.addEntry(name, thirtyCopy(name, how, &options), options);
    }
    scanBytes(b.finish());
    QStringList titles;
    if (name.endsWith(QLatin1String("Contacts.xml"))) {
        for (const ContactInformation *r : contacts())
            titles << QString::fromUtf8(r->pFirstName);
    } else {
        for (const CalenderInformation *r : events())
            titles << QString::fromUtf8(r->pSummary);
    }
    // Each item once; an item damaged in every copy may have lost its title.
    QCOMPARE(titles.size(), 30);
    const QString prefix = QLatin1String(name.endsWith(QLatin1String("Contacts.xml")) ? "P" : "E");
    for (int i = 1; i <= 30; ++i)
        QVERIFY2(titles.count(prefix + QString::number(i)) == 1 || (lost > 0 && i == 5), qPrintable(titles.join(' ')));
    const QString lines = EntriesReadElsewhere.filter(QStringLiteral("Store \"")).join(QLatin1Char('\n'));
    QVERIFY2(!lines.contains(QLatin1String("nothing could be read")), qPrintable(lines));
    QCOMPARE(lines.contains(QRegularExpression(QStringLiteral("(lost or damaged|no copy holds them whole): the"))),
             lost > 0);
    CleanScanResults();
}

void StoreCopiesTest::countFromAnyRoot_data()
{
    QTest::addColumn<bool>("nulFirst");
    QTest::newRow("all-NUL copy before one cut inside its first item") << true;
    QTest::newRow("all-NUL copy after one cut inside its first item") << false;
}

// No copy holds an item whole, and the copy kept (the first of equals) lost its root: the other
// copy's root still counts the items lost, so no save passes them over.
void StoreCopiesTest::countFromAnyRoot()
{
    QFETCH(bool, nulFirst);
    QVector<OlmXml::ContactItem> items;
    for (int i = 0; i < 30; ++i)
        items.append({QStringLiteral("P%1").arg(i), QString(30, QLatin1Char('y')), {}, {}, {}});
    const QByteArray whole = OlmXml::contacts(items);
    TestArchiveEntryOptions cut;
    cut.usizeOverride = cut.csizeOverride = whole.size();
    cut.crcOverride = TestArchiveBuilder::crc32(whole);
    const QString name = QStringLiteral("Local/Address Book/Contacts.xml");
    TestArchiveBuilder b;
    if (nulFirst)
        b.addEntry(name, QByteArray(whole.size(), '\0'));
    b.addEntry(name, whole.left(whole.indexOf("</contact>") - 5), cut);
    if (!nulFirst)
        b.addEntry(name, QByteArray(whole.size(), '\0'));
    scanBytes(b.finish());
    QCOMPARE(StoreItemsLost, qint64(30 - listed(name)));
    CleanScanResults();
}

// A store whose text and header's end are lost, its stated size running over the next store whose
// header lost its signature: that store's item is read inside the first one's extent, and again
// where the directory places the store. The same bytes are one item, listed once. The archive is
// one the scanner's fuzzer made, kept with its other finds.
void StoreCopiesTest::itemReadTwiceListedOnce()
{
    QFile f(QFileInfo(QStringLiteral(OLM_SAMPLE_ARCHIVE)).absolutePath()
            + QStringLiteral("/../fuzz/crashes/store-read-inside-damaged-store.olm"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    scanBytes(f.readAll());
    QCOMPARE(notes().size(), 1);
    QCOMPARE(NotesItemCount, qint64(1));
}

QTEST_GUILESS_MAIN(StoreCopiesTest)
#include "tst_storecopies.moc"
