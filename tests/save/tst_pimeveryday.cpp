// All-day events, birthdays and anniversaries of every day from 1990 to 2025 on their stored
// day in python icalendar and vobject, in zones whose offsets changed in those years (Denver's
// rules before 2007, Apia's and Kiritimati's side of the date line, Tonga's summers, Lord Howe's
// half hour) while their zone blocks give today's rules only, and of every third day from 1880 to
// 1950 in zones whose database begins with local mean time; the same bytes on machines with and
// without clock changes. 13,000 days a zone: the writers' bytes are read back as they are,
// without a save's 26,000 files.

#include "OlmXml.h"
#include "PimSamples.h"
#include "save/pim/CalendarRules.h"
#include "save/pim/PimItems.h"
#include "scanner/ScanGlobals.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <memory>
#include <time.h>

namespace {

QByteArray el(const char *name, const QByteArray &value)
{
    return OlmXml::elementRaw(name, value);
}

// Midnight of day in the IANA zone, as the archive stores it (UTC).
QByteArray storedAt(const QTimeZone &zone, const QDate &day)
{
    return QDateTime(day, QTime(0, 0), zone).toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
}

// One day of a zone: its midnight and the next day's that has one, as the archive stores them.
struct StoredDay {
    QByteArray day, stored, next, storedNext;
};

// Each day as the item writers write it on this machine: an all-day event "D <day> <next>"
// carrying zoneData from its midnight to the next, and a card "P <day>" with it as birthday and
// anniversary, in an archive whose calendar shows that zone. Each kind's files one after the other.
QPair<QByteArray, QByteArray> dayFiles(const char *zoneData, const QVector<StoredDay> &days)
{
    const ZoneRules archiveZone{QString::fromUtf8(zoneData).replace(QLatin1String("&amp;"), QLatin1String("&"))};
    const QByteArray more =
        el("OPFCalendarEventGetIsAllDayEvent", "1") + el("OPFCalendarEventGetStartTimeZoneICSData", zoneData);
    const auto view = [](const QByteArray &bytes) { return std::string_view(bytes.constData(), size_t(bytes.size())); };
    QPair<QByteArray, QByteArray> files;
    for (int i = 0; i < days.size(); ++i) {
        const StoredDay &d = days.at(i);
        const QByteArray event = OlmXml::item(
            QStringLiteral("appointment"),
            more + el("OPFCalendarEventCopyEndTime", d.storedNext) + el("OPFCalendarEventCopyStartTime", d.stored)
                + el("OPFCalendarEventCopySummary", "D " + d.day + ' ' + d.next));
        const QByteArray card =
            OlmXml::item(QStringLiteral("contact"),
                         el("OPFContactCopyAnniversary", d.stored) + el("OPFContactCopyBirthday", d.stored)
                             + el("OPFContactCopyDisplayName", "P " + d.day));
        CalenderInformation eventRecord{};
        ContactInformation cardRecord{};
        const QString uid = QStringLiteral("U-%1").arg(i);
        files.first +=
            CalendarEventFile(eventRecord, uid, view(event), QByteArray(), "20240305T101112Z", nullptr, &archiveZone);
        files.second += ContactCard(cardRecord, uid, view(card), QByteArray(), nullptr, nullptr, &archiveZone);
    }
    return files;
}

// Every day from 1990 to 2025 that has a midnight in zone (IANA name).
QVector<StoredDay> everyDay(const char *zone)
{
    const QTimeZone tz(zone);
    const auto hasMidnight = [&tz](const QDate &day) {
        const QDateTime midnight(day, QTime(0, 0), tz);
        return midnight.isValid() && midnight.date() == day && midnight.time() == QTime(0, 0);
    };
    QVector<StoredDay> days;
    for (QDate day(1990, 1, 1); day.year() <= 2025; day = day.addDays(1)) {
        if (!hasMidnight(day))
            continue;
        QDate next = day.addDays(1);
        while (!hasMidnight(next))
            next = next.addDays(1);
        days.append({day.toString(Qt::ISODate).toLatin1(), storedAt(tz, day), next.toString(Qt::ISODate).toLatin1(),
                     storedAt(tz, next)});
    }
    return days;
}

// Every third day from 1880 to 1950 in zone, its midnights from python's reading of the system's
// zone database (local mean time before the zone's first change, which Qt does not give).
QVector<StoredDay> daysOfLocalMeanTime(const char *zone)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(OLM_SOURCE_DIR "/tests/save/zone_readback.py"),
                                                      QStringLiteral("midnights"), QString::fromLatin1(zone),
                                                      QStringLiteral("1880"), QStringLiteral("1950"), QStringLiteral("3")});
    QVector<StoredDay> days;
    if (!python.waitForFinished(120000) || python.exitCode() != 0)
        return days;
    for (const QByteArray &line : python.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = line.split('|');
        if (f.size() == 4)
            days.append({f.at(0), f.at(1), f.at(2), f.at(3)});
    }
    return days;
}

}  // namespace

class PimEveryDayTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        qputenv("TZ", "UTC");
        tzset();
    }
    void everyDayInItsZone();
    void daysOfLocalMeanTimeInTheirZone();

private:
    // Writes each zone's days on machines in three zones (the same bytes on each) and reads them
    // back, all zones at once.
    void checkDays(const QList<QPair<const char *, const char *>> &zones,
                   QVector<StoredDay> (*daysOf)(const char *zone));
};

void PimEveryDayTest::everyDayInItsZone()
{
    // Blocks naming their zone by the exporter's legacy name, a Windows id or a zone database name.
    checkDays({{"America/Denver", kDenverNamedZone},
               {"Pacific/Apia", kApiaZone},
               {"Pacific/Kiritimati", kKiritimatiNamedZone},
               {"Pacific/Tongatapu", kTongaZone},
               {"Australia/Lord_Howe", kLordHoweZone}},
              everyDay);
}

// Before a zone's first change its days are those of its local mean time, as the zone database
// has it: Riyadh's +3:06:52 until 1947, Kathmandu's +5:41:16 until 1920, Denver's and New York's
// until 18 Nov 1883, Lord Howe's until 1895.
void PimEveryDayTest::daysOfLocalMeanTimeInTheirZone()
{
    checkDays({{"Asia/Riyadh", kRiyadhZone},
               {"Asia/Kathmandu", kKathmanduZone},
               {"America/Denver", kDenverNamedZone},
               {"America/New_York", kNewYorkZone},
               {"Australia/Lord_Howe", kLordHoweZone}},
              daysOfLocalMeanTime);
}

void PimEveryDayTest::checkDays(const QList<QPair<const char *, const char *>> &zones,
                                QVector<StoredDay> (*daysOf)(const char *zone))
{
    QTemporaryDir dest;
    std::vector<std::unique_ptr<QProcess>> checks;
    for (const auto &zone : zones) {
        const QVector<StoredDay> days = daysOf(zone.first);
        QVERIFY2(days.size() > 1000, zone.first);
        QPair<QByteArray, QByteArray> first;
        for (const char *machine : {"UTC", "Pacific/Apia", "Australia/Lord_Howe"}) {
            qputenv("TZ", machine);
            tzset();
            const QPair<QByteArray, QByteArray> files = dayFiles(zone.second, days);
            if (first.first.isEmpty())
                first = files;
            QVERIFY2(files == first, machine);
        }
        const QString root = dest.path() + QLatin1Char('/') + QString::fromLatin1(zone.first).replace('/', '_');
        QVERIFY(QDir().mkpath(root));
        for (const auto &file : {qMakePair(QStringLiteral("/days.ics"), first.first),
                                 qMakePair(QStringLiteral("/days.vcf"), first.second)}) {
            QFile out(root + file.first);
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file.second) == file.second.size());
        }
        // The readers take seconds for each zone's files: all zones are checked at once.
        checks.emplace_back(new QProcess);
        checks.back()->start(QStringLiteral("/usr/bin/python3"),
                             {QStringLiteral(OLM_SOURCE_DIR "/tests/save/pim_readback.py"), root,
                              QStringLiteral("days"), QString::number(days.size())});
    }
    for (size_t i = 0; i < checks.size(); ++i) {
        QProcess &check = *checks[i];
        QVERIFY2(check.waitForFinished(-1) && check.exitCode() == 0, qPrintable(check.readAllStandardError()));
        const QString output = QString::fromUtf8(check.readAllStandardOutput());
        QVERIFY2(!output.contains(QLatin1String("PROBLEM")), qPrintable(zones.at(int(i)).first + output.left(4000)));
        QVERIFY2(output.contains(QLatin1String("days|")), qPrintable(output));
    }
}

QTEST_GUILESS_MAIN(PimEveryDayTest)
#include "tst_pimeveryday.moc"
