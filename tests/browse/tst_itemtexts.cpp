// Dates of the item previews on machines east and west of UTC: a birthday is the archive's day,
// an instant keeps its seconds, and a date that names no real day shows nothing, not 1970.

#include "browse/ContactFields.h"
#include "browse/ItemTexts.h"

#include <QtTest>

#include <ctime>

class ItemTextsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanupTestCase();
    void localTimes_data();
    void localTimes();
    void birthdays_data();
    void birthdays();

private:
    QByteArray m_oldTz = qgetenv("TZ");
};

namespace {

void useZone(const QByteArray &zone)
{
    qputenv("TZ", zone);
    tzset();
}

}  // namespace

void ItemTextsTest::cleanupTestCase()
{
    useZone(m_oldTz);
}

void ItemTextsTest::localTimes_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("archive");
    QTest::addColumn<QString>("shown");
    QTest::newRow("Z keeps its seconds") << QByteArray("Asia/Kolkata") << "2010-05-06T10:20:30Z"
                                         << "2010,May,06, 15:50:30";
    QTest::newRow("fraction keeps its seconds") << QByteArray("Asia/Kolkata") << "2010-05-06T10:20:30.000"
                                                << "2010,May,06, 15:50:30";
    QTest::newRow("west of UTC the day before") << QByteArray("America/New_York") << "2010-05-06T02:00:00"
                                                << "2010,May,05, 22:00:00";
    QTest::newRow("month 13, day 40") << QByteArray("America/New_York") << "2010-13-40T10:00:00" << "";
    QTest::newRow("garbage") << QByteArray("Asia/Kolkata") << "garbage" << "";
    QTest::newRow("29 February of a common year") << QByteArray("Asia/Kolkata") << "2001-02-29T10:00:00" << "";
}

void ItemTextsTest::localTimes()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, archive);
    QFETCH(QString, shown);
    useZone(zone);
    QCOMPARE(LocalTimeText(archive), shown);
}

void ItemTextsTest::birthdays_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("element");
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("shown");
    // The archive's midnight in UTC: New York's local time of it is the day before.
    QTest::newRow("leap day in New York") << QByteArray("America/New_York") << QByteArray("OPFContactCopyBirthday")
                                          << QByteArray("1980-02-29T00:00:00") << "1980-02-29";
    QTest::newRow("leap day in Kolkata") << QByteArray("Asia/Kolkata") << QByteArray("OPFContactCopyBirthday")
                                         << QByteArray("1980-02-29T00:00:00") << "1980-02-29";
    QTest::newRow("anniversary of month 13") << QByteArray("America/New_York")
                                             << QByteArray("OPFContactCopyAnniversary")
                                             << QByteArray("2001-13-01T00:00:00") << "";
    QTest::newRow("birthday of garbage") << QByteArray("Asia/Kolkata") << QByteArray("OPFContactCopyBirthday")
                                         << QByteArray("garbage") << "";
}

void ItemTextsTest::birthdays()
{
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, element);
    QFETCH(QByteArray, archive);
    QFETCH(QString, shown);
    useZone(zone);
    const QByteArray item = "<contacts><contact><" + element + ">" + archive + "</" + element + "></contact></contacts>";
    const ContactPreviewFields f = ExtractContactFields(std::string_view(item.constData(), size_t(item.size())));
    const char *day = element == "OPFContactCopyBirthday" ? f.szBirthday : f.szAnniversary;
    QCOMPARE(QString::fromLatin1(day), shown);
}

QTEST_MAIN(ItemTextsTest)
#include "tst_itemtexts.moc"
