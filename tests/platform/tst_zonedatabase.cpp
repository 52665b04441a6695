// Zones of the system's zone database as its files give them: local mean time before the first
// change, the table's changes, and the closing rule for the years after it (a rule whose summer
// time is the lower offset included); damaged files are refused, not read.

#include "platform/ZoneDatabase.h"

#include <QDateTime>
#include <QFile>
#include <QtTest>

namespace {

qint64 utc(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toSecsSinceEpoch();
}

}  // namespace

class ZoneDatabaseTest : public QObject {
    Q_OBJECT

private slots:
    void offsets_data();
    void offsets();
    void changesAcrossTheTableEnd();
    void damagedFiles_data();
    void damagedFiles();
};

void ZoneDatabaseTest::offsets_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("at");
    QTest::addColumn<int>("offset");
    QTest::newRow("Riyadh's local mean time") << QByteArray("Asia/Riyadh") << "1900-01-01T00:00:00Z" << 11212;
    QTest::newRow("Kathmandu's local mean time") << QByteArray("Asia/Kathmandu") << "1900-01-01T00:00:00Z" << 20476;
    QTest::newRow("Denver before the railways' time") << QByteArray("America/Denver") << "1880-01-01T00:00:00Z"
                                                      << -25196;
    QTest::newRow("Denver's summer of 2005") << QByteArray("America/Denver") << "2005-07-04T16:00:00Z" << -21600;
    QTest::newRow("Denver's April of 2006, before 2007's rules") << QByteArray("America/Denver")
                                                                 << "2006-04-03T17:00:00Z" << -21600;
    QTest::newRow("Denver's winter past the table") << QByteArray("America/Denver") << "2040-01-01T00:00:00Z" << -25200;
    QTest::newRow("Denver's summer past the table") << QByteArray("America/Denver") << "2040-07-01T00:00:00Z" << -21600;
    QTest::newRow("Apia the day before the date line moved") << QByteArray("Pacific/Apia") << "2011-12-29T12:00:00Z"
                                                              << -36000;
    QTest::newRow("Apia the day after") << QByteArray("Pacific/Apia") << "2011-12-30T12:00:00Z" << 50400;
    QTest::newRow("Moscow's +4 of 2012") << QByteArray("Europe/Moscow") << "2012-07-01T00:00:00Z" << 14400;
    QTest::newRow("Dublin's winter, its summer time the lower") << QByteArray("Europe/Dublin")
                                                                << "2040-01-15T00:00:00Z" << 0;
    QTest::newRow("Dublin's summer") << QByteArray("Europe/Dublin") << "2040-07-15T00:00:00Z" << 3600;
    QTest::newRow("Lord Howe's half hour of summer") << QByteArray("Australia/Lord_Howe") << "2040-01-15T00:00:00Z"
                                                     << 39600;
    QTest::newRow("Lord Howe's winter") << QByteArray("Australia/Lord_Howe") << "2040-07-15T00:00:00Z" << 37800;
    QTest::newRow("Sao Paulo without summer time") << QByteArray("America/Sao_Paulo") << "2030-01-15T00:00:00Z"
                                                   << -10800;
}

void ZoneDatabaseTest::offsets()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, at);
    QFETCH(int, offset);
    const auto loaded = SystemZone::load(zone);
    QVERIFY(loaded);
    QCOMPARE(loaded->offsetAt(utc(qPrintable(at))), offset);
}

// The changes of a span are the same whether the table or the closing rule gives them.
void ZoneDatabaseTest::changesAcrossTheTableEnd()
{
    const auto denver = SystemZone::load("America/Denver");
    QVERIFY(denver);
    const QVector<SystemZone::Change> changes = denver->changes(utc("2006-01-01T00:00:00Z"), utc("2041-01-01T00:00:00Z"));
    QCOMPARE(changes.size(), 70);
    QCOMPARE(changes.first().at, utc("2006-04-02T09:00:00Z"));
    QCOMPARE(changes.at(2).at, utc("2007-03-11T09:00:00Z"));
    QCOMPARE(changes.last().at, utc("2040-11-04T08:00:00Z"));
    for (int i = 1; i < changes.size(); ++i) {
        QVERIFY(changes.at(i).at > changes.at(i - 1).at);
        QCOMPARE(changes.at(i).from, changes.at(i - 1).to);
        QCOMPARE(denver->offsetAt(changes.at(i).at), changes.at(i).to);
        QCOMPARE(denver->offsetAt(changes.at(i).at - 1), changes.at(i).from);
    }
    QCOMPARE(denver->yearlyRules().size(), 2);
}

void ZoneDatabaseTest::damagedFiles_data()
{
    QFile file(QStringLiteral("/usr/share/zoneinfo/America/Denver"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray denver = file.readAll();
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("read");
    QTest::newRow("whole") << denver << true;
    QTest::newRow("cut in its 64-bit table") << denver.left(denver.size() / 2 + 200) << false;
    QTest::newRow("cut in its header") << denver.left(30) << false;
    QTest::newRow("no zone file") << QByteArray("TZjf") + denver.mid(4) << false;
    QByteArray huge = denver;
    huge[20 + 12] = char(0x7F);  // a count of changes past any file
    QTest::newRow("a count past the file") << huge << false;
    QTest::newRow("no types") << QByteArray(denver).replace(36, 4, QByteArray(4, '\0')) << false;
}

void ZoneDatabaseTest::damagedFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, read);
    QCOMPARE(bool(SystemZone::parse(bytes)), read);
    // Names outside the database's folder are never opened.
    for (const char *name : {"../etc/passwd", "/etc/localtime", "localtime", "Mountain Standard Time", ""})
        QVERIFY(!SystemZone::load(name));
}

QTEST_GUILESS_MAIN(ZoneDatabaseTest)
#include "tst_zonedatabase.moc"
