// All-day events, birthdays and anniversaries of every day from 1990 to 2025 on their stored
// day in python icalendar and vobject, in zones whose offsets changed in those years (Denver's
// rules before 2007, Apia's and Kiritimati's side of the date line, Tonga's summers, Lord Howe's
// half hour) while their zone blocks give today's rules only; the same bytes on machines with and
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

// Every day from 1990 to 2025 that has a midnight in zone (IANA name), stored as that midnight, as
// the item writers write it on this machine: an all-day event "D <day> <next>" carrying zoneData
// from it to the next such midnight, and a card "P <day>" with it as birthday and anniversary, in
// an archive whose calendar shows that zone. Each kind's files one after the other. *days: how many.
QPair<QByteArray, QByteArray> everyDayFiles(const char *zone, const char *zoneData, int *days)
{
    const QTimeZone tz(zone);
    const ZoneRules archiveZone{QString::fromUtf8(zoneData).replace(QLatin1String("&amp;"), QLatin1String("&"))};
    const QByteArray more =
        el("OPFCalendarEventGetIsAllDayEvent", "1") + el("OPFCalendarEventGetStartTimeZoneICSData", zoneData);
    const auto hasMidnight = [&tz](const QDate &day) {
        const QDateTime midnight(day, QTime(0, 0), tz);
        return midnight.isValid() && midnight.date() == day && midnight.time() == QTime(0, 0);
    };
    const auto view = [](const QByteArray &bytes) { return std::string_view(bytes.constData(), size_t(bytes.size())); };
    QPair<QByteArray, QByteArray> files;
    *days = 0;
    for (QDate day(1990, 1, 1); day.year() <= 2025; day = day.addDays(1)) {
        if (!hasMidnight(day))
            continue;
        QDate next = day.addDays(1);
        while (!hasMidnight(next))
            next = next.addDays(1);
        const QByteArray iso = day.toString(Qt::ISODate).toLatin1(), stored = storedAt(tz, day);
        const QByteArray event = OlmXml::item(
            QStringLiteral("appointment"),
            more + el("OPFCalendarEventCopyEndTime", storedAt(tz, next)) + el("OPFCalendarEventCopyStartTime", stored)
                + el("OPFCalendarEventCopySummary", "D " + iso + ' ' + next.toString(Qt::ISODate).toLatin1()));
        const QByteArray card =
            OlmXml::item(QStringLiteral("contact"),
                         el("OPFContactCopyAnniversary", stored) + el("OPFContactCopyBirthday", stored)
                             + el("OPFContactCopyDisplayName", "P " + iso));
        CalenderInformation eventRecord{};
        ContactInformation cardRecord{};
        const QString uid = QStringLiteral("U-%1").arg(*days);
        files.first +=
            CalendarEventFile(eventRecord, uid, view(event), QByteArray(), "20240305T101112Z", nullptr, &archiveZone);
        files.second += ContactCard(cardRecord, uid, view(card), QByteArray(), nullptr, nullptr, &archiveZone);
        ++*days;
    }
    return files;
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
};

void PimEveryDayTest::everyDayInItsZone()
{
    // Blocks naming their zone by the exporter's legacy name, a Windows id or a zone database name.
    const QList<QPair<const char *, const char *>> zones = {{"America/Denver", kDenverNamedZone},
                                                            {"Pacific/Apia", kApiaZone},
                                                            {"Pacific/Kiritimati", kKiritimatiNamedZone},
                                                            {"Pacific/Tongatapu", kTongaZone},
                                                            {"Australia/Lord_Howe", kLordHoweZone}};
    QTemporaryDir dest;
    std::vector<std::unique_ptr<QProcess>> checks;
    for (const auto &zone : zones) {
        QPair<QByteArray, QByteArray> first;
        int days = 0;
        for (const char *machine : {"UTC", "Pacific/Apia", "Australia/Lord_Howe"}) {
            qputenv("TZ", machine);
            tzset();
            const QPair<QByteArray, QByteArray> files = everyDayFiles(zone.first, zone.second, &days);
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
                              QStringLiteral("days"), QString::number(days)});
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
