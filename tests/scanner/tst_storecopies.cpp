// A store held more than once under one name, one copy whole and another cut, zeroed or empty:
// the scan lists each item once, from the whole copy, and names the copy it left out. Where no
// copy is whole, the items come from the copy with the most that read whole.

#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"

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

// "cut N": ends inside item N+1; "zeroed N": item N's middle zeroed; "empty".
QByteArray damagedCopy(const QString &name, const QString &how)
{
    QByteArray close;
    QByteArray text = fourItems(name, &close);
    if (how == QLatin1String("empty"))
        return {};
    const int n = how.section(QLatin1Char(' '), 1).toInt();
    int at = -1;
    for (int i = 0; i < n; ++i)
        at = text.indexOf(close, at + 1);
    if (how.startsWith(QLatin1String("cut")))
        return text.left(at + close.size() + 12);
    const int previous = text.lastIndexOf(close, at - 1);
    const int from = (previous < 0 ? text.indexOf('>') + 1 : previous + close.size()) + 30;
    text.replace(from, at - 10 - from, QByteArray(at - 10 - from, '\0'));
    return text;
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
};

void StoreCopiesTest::eachItemOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("first");  // the other copy before the whole one
    for (const char *name : {"Local/Address Book/Contacts.xml", "Local/Calendar/Calendar.xml", "Local/Tasks/Tasks.xml",
                             "Local/Notes/Notes.xml"}) {
        for (const char *kind : {"cut", "zeroed, its own checksum", "zeroed, checksum 0", "empty", "whole again"}) {
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
    } else if (kind == QLatin1String("empty")) {
        other.clear();
    } else if (kind == QLatin1String("whole again")) {
        other = whole;
    }
    TestArchiveBuilder b;
    if (first)
        b.addEntry(name, other, options);
    b.addEntry(name, whole);
    if (!first)
        b.addEntry(name, other, options);
    scanBytes(b.finish());
    // Two whole copies are two stores the export holds: both stay.
    const bool again = kind == QLatin1String("whole again");
    QCOMPARE(listed(name), again ? 4 : 2);
    const QStringList lines = EntriesReadElsewhere.filter(QStringLiteral("is not whole"));
    QCOMPARE(lines.size(), again || kind == QLatin1String("empty") ? 0 : 1);
    if (!lines.isEmpty())
        QVERIFY2(lines.first().contains(name), qPrintable(lines.first()));
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
        {"cut 1,cut 3", 3, 3, 1},      {"cut 3,cut 1", 3, 3, 1},    {"empty,cut 2", 2, 2, 0},
        {"cut 2,cut 2", 2, 2, 1},      {"zeroed 2,cut 2", 4, 3, 1}, {"cut 2,zeroed 2", 4, 3, 1},
        {"cut 1,empty,cut 3", 3, 3, 1}, {"cut 3,zeroed 1", 3, 3, 1},
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

QTEST_GUILESS_MAIN(StoreCopiesTest)
#include "tst_storecopies.moc"
