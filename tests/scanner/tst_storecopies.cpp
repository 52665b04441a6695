// A store held more than once under one name, one copy whole and another cut, zeroed or empty:
// the scan lists each item once, from the whole copy, and names the copy it left out.

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

}  // namespace

class StoreCopiesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eachItemOnce_data();
    void eachItemOnce();
    void onlyCopyCut();
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

QTEST_GUILESS_MAIN(StoreCopiesTest)
#include "tst_storecopies.moc"
