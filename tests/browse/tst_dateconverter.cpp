// Archive date-times read as UTC and shown in local time, in the three output forms.
// Expected values from python3's time.localtime under the same POSIX TZ strings.

#include "scanner/DateConverter.h"

#include <QtTest>

#include <clocale>
#include <cstdlib>
#include <ctime>

namespace {

const char kIndia[] = "IST-5:30";
const char kNewYork[] = "EST5EDT,M3.2.0,M11.1.0";

void setZone(const QByteArray &tz)
{
    qputenv("TZ", tz);
    tzset();
}

} // namespace

class DateConverterTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void forms_data();
    void forms();
    void monthNamesIgnoreTheLocale();
    void staticBuffers();

private:
    QByteArray m_oldTz;
};

void DateConverterTest::initTestCase()
{
    m_oldTz = qgetenv("TZ");
}

void DateConverterTest::cleanupTestCase()
{
    setZone(m_oldTz);
}

void DateConverterTest::forms_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("packed");
    QTest::addColumn<QByteArray>("task");
    QTest::addColumn<QByteArray>("contact");

    QTest::newRow("five and a half hours ahead") << QByteArray(kIndia) << "2010-05-06T10:20:30"
                                                 << QByteArray("20100506T155030") << QByteArray("2010,May,06, 15:50:30")
                                                 << QByteArray("2010-05-06");
    QTest::newRow("local date rolls over") << QByteArray(kIndia) << "2010-05-06T23:30:00"
                                           << QByteArray("20100507T050000") << QByteArray("2010,May,07, 05:00:00")
                                           << QByteArray("2010-05-07");
    QTest::newRow("30Z is not a number: seconds 0") << QByteArray("UTC0") << "2010-05-06T10:20:30Z"
                                                    << QByteArray("20100506T102000") << QByteArray("2010,May,06, 10:20:00")
                                                    << QByteArray("2010-05-06");
    QTest::newRow("fractional seconds: seconds 0") << QByteArray("UTC0") << "2010-05-06T10:20:30.000"
                                                   << QByteArray("20100506T102000") << QByteArray("2010,May,06, 10:20:00")
                                                   << QByteArray("2010-05-06");
    QTest::newRow("date only is midnight UTC") << QByteArray(kIndia) << "2010-05-06" << QByteArray("20100506T053000")
                                               << QByteArray("2010,May,06, 05:30:00") << QByteArray("2010-05-06");
    QTest::newRow("invalid date keeps the time of day") << QByteArray("UTC0") << "2010-13-40T10:00:00"
                                                        << QByteArray("19700101T100000")
                                                        << QByteArray("1970,Jan,01, 10:00:00") << QByteArray("1970-01-01");
    QTest::newRow("29 February of a common year is invalid") << QByteArray("UTC0") << "2010-02-29T08:00:00"
                                                             << QByteArray("19700101T080000")
                                                             << QByteArray("1970,Jan,01, 08:00:00") << QByteArray("1970-01-01");
    QTest::newRow("29 February of 1600 is valid") << QByteArray("UTC0") << "1600-02-29T12:00:00"
                                                  << QByteArray("16000229T120000") << QByteArray("1600,Feb,29, 12:00:00")
                                                  << QByteArray("1600-02-29");
    QTest::newRow("29 February of 1900 is invalid") << QByteArray("UTC0") << "1900-02-29T12:00:00"
                                                    << QByteArray("19700101T120000") << QByteArray("1970,Jan,01, 12:00:00")
                                                    << QByteArray("1970-01-01");
    QTest::newRow("year 0 is invalid") << QByteArray("UTC0") << "0000-01-01T01:02:03" << QByteArray("19700101T010203")
                                       << QByteArray("1970,Jan,01, 01:02:03") << QByteArray("1970-01-01");
    QTest::newRow("hour 24 is an invalid time") << QByteArray("UTC0") << "2010-05-06T24:00:00"
                                                << QByteArray("20100506T000000") << QByteArray("2010,May,06, 00:00:00")
                                                << QByteArray("2010-05-06");
    QTest::newRow("second 60 is an invalid time") << QByteArray("UTC0") << "2010-05-06T10:20:60"
                                                  << QByteArray("20100506T000000") << QByteArray("2010,May,06, 00:00:00")
                                                  << QByteArray("2010-05-06");
    QTest::newRow("pieces after the second T are ignored") << QByteArray("UTC0") << "2010-05-06T10:20:30T99:99"
                                                           << QByteArray("20100506T102030")
                                                           << QByteArray("2010,May,06, 10:20:30") << QByteArray("2010-05-06");
    QTest::newRow("empty text is the epoch in local time") << QByteArray(kNewYork) << ""
                                                           << QByteArray("19691231T190000")
                                                           << QByteArray("1969,Dec,31, 19:00:00") << QByteArray("1969-12-31");
    QTest::newRow("before the spring change") << QByteArray(kNewYork) << "2010-03-14T06:59:59"
                                              << QByteArray("20100314T015959") << QByteArray("2010,Mar,14, 01:59:59")
                                              << QByteArray("2010-03-14");
    QTest::newRow("after the spring change") << QByteArray(kNewYork) << "2010-03-14T07:00:00"
                                             << QByteArray("20100314T030000") << QByteArray("2010,Mar,14, 03:00:00")
                                             << QByteArray("2010-03-14");
    QTest::newRow("before the autumn change") << QByteArray(kNewYork) << "2010-11-07T05:59:59"
                                              << QByteArray("20101107T015959") << QByteArray("2010,Nov,07, 01:59:59")
                                              << QByteArray("2010-11-07");
    QTest::newRow("after the autumn change") << QByteArray(kNewYork) << "2010-11-07T06:00:00"
                                             << QByteArray("20101107T010000") << QByteArray("2010,Nov,07, 01:00:00")
                                             << QByteArray("2010-11-07");
    QTest::newRow("past 32-bit seconds") << QByteArray("UTC0") << "2038-01-19T03:14:08" << QByteArray("20380119T031408")
                                         << QByteArray("2038,Jan,19, 03:14:08") << QByteArray("2038-01-19");
    QTest::newRow("local year 0 is still shown") << QByteArray("EST5") << "0001-01-01T00:00:00"
                                                 << QByteArray("00001231T190000") << QByteArray("0000,Dec,31, 19:00:00")
                                                 << QByteArray("0000-12-31");
    QTest::newRow("last second of year 9999") << QByteArray(kIndia) << "9999-12-31T18:29:59"
                                              << QByteArray("99991231T235959") << QByteArray("9999,Dec,31, 23:59:59")
                                              << QByteArray("9999-12-31");
    QTest::newRow("local year 10000 gives nothing") << QByteArray(kIndia) << "9999-12-31T18:30:00" << QByteArray()
                                                    << QByteArray() << QByteArray();
    QTest::newRow("year 10000 gives nothing") << QByteArray("UTC0") << "10000-01-01T00:00:00" << QByteArray()
                                              << QByteArray() << QByteArray();
    QTest::newRow("largest year gives nothing") << QByteArray("UTC0") << "2147483647-12-31T23:59:59" << QByteArray()
                                                << QByteArray() << QByteArray();
}

void DateConverterTest::forms()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, text);
    QFETCH(QByteArray, packed);
    QFETCH(QByteArray, task);
    QFETCH(QByteArray, contact);
    setZone(zone);
    QCOMPARE(ConvertArchiveDate(text, DateForm::Packed), packed);
    QCOMPARE(ConvertArchiveDate(text, DateForm::TaskText), task);
    QCOMPARE(ConvertArchiveDate(text, DateForm::ContactDate), contact);
    QCOMPARE(QByteArray(timeconvertert1(text)), packed);
    QCOMPARE(QByteArray(timeconverterDUetask1(text)), packed);
    QCOMPARE(QByteArray(timeconverterpre1(text)), task);
    QCOMPARE(QByteArray(timeconverterCont(text)), contact);
}

void DateConverterTest::monthNamesIgnoreTheLocale()
{
    // A desktop session sets the user's locale; the task form must keep its English names.
    setZone("UTC0");
    const char *old = setlocale(LC_ALL, nullptr);
    const QByteArray saved = old ? QByteArray(old) : QByteArray("C");
    setlocale(LC_ALL, "");
    const char *names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 1; m <= 12; ++m) {
        const QString text = QStringLiteral("2021-%1-15T12:34:56").arg(m, 2, 10, QLatin1Char('0'));
        QCOMPARE(QByteArray(timeconverterpre1(text)),
                 QByteArray("2021,") + names[m - 1] + ",15, 12:34:56");
    }
    setlocale(LC_ALL, saved.constData());
}

void DateConverterTest::staticBuffers()
{
    setZone("UTC0");
    char *first = timeconverterpre1(QStringLiteral("2010-05-06T10:20:30"));
    char *second = timeconverterpre1(QStringLiteral("2011-06-07T11:21:31"));
    QCOMPARE(first, second);
    QCOMPARE(QByteArray(first), QByteArray("2011,Jun,07, 11:21:31"));
    // Each function has its own buffer.
    char *packedA = timeconvertert1(QStringLiteral("2010-05-06"));
    char *packedB = timeconverterDUetask1(QStringLiteral("2012-01-01"));
    char *contact = timeconverterCont(QStringLiteral("2013-02-03"));
    QVERIFY(packedA != packedB);
    QCOMPARE(QByteArray(packedA), QByteArray("20100506T000000"));
    QCOMPARE(QByteArray(packedB), QByteArray("20120101T000000"));
    QCOMPARE(QByteArray(contact), QByteArray("2013-02-03"));
    QCOMPARE(QByteArray(first), QByteArray("2011,Jun,07, 11:21:31"));
    // A failed conversion empties the buffer instead of leaving the last result.
    QCOMPARE(QByteArray(timeconverterpre1(QStringLiteral("10000-01-01"))), QByteArray());
    QCOMPARE(first[0], '\0');
}

QTEST_GUILESS_MAIN(DateConverterTest)
#include "tst_dateconverter.moc"
