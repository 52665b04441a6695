#include "save/pim/PimDates.h"

#include "save/pim/CalendarRules.h"

#include "scanner/DateConverter.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QStringList>

namespace {

int number(const QString &piece, bool *ok)
{
    bool good = false;
    const int v = piece.toInt(&good, 10);
    *ok = *ok && good;
    return v;
}

bool hasRealDate(const QString &text)
{
    const QStringList date = text.section(QLatin1Char('T'), 0, 0).trimmed().split(QLatin1Char('-'));
    if (date.size() != 3)
        return false;
    bool ok = true;
    const int y = number(date.at(0), &ok), m = number(date.at(1), &ok), d = number(date.at(2), &ok);
    return ok && QDate(y, m, d).isValid();
}

QByteArray converted(const QString &text, DateForm form)
{
    return hasRealDate(text) ? ConvertArchiveDate(text.trimmed(), form) : QByteArray();
}

QDateTime wallOf(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

// Days stored without a zone and no zone known: a midnight from UTC-10 to UTC+13 lies on its
// own day 13 hours on.
constexpr qint64 kFallbackDayShift = 13 * 3600;

// The zone data gives today's rules only: a midnight of a year whose clocks ran up to three
// hours ahead of them (Tonga's summer time of 2000) lies that much before the zone's midnight.
constexpr qint64 kPastRulesAhead = 3 * 3600;

QDate midnightDay(qint64 at, const ZoneRules *zone)
{
    if (zone && zone->hasHistory()) {
        // The day the zone's history gives the instant: a midnight there lies on its own day.
        const QDate day = QDate::fromString(QString::fromLatin1(zone->historyDate(at)), QStringLiteral("yyyyMMdd"));
        if (day.isValid())
            return day;
    }
    if (zone && zone->isValid()) {
        // Without a name, the block's offsets alone: its yearly rules stated back to the day: a birthday of 1990 is read by the summer time
        // rules the zone data gives, not by the offset before its first onset.
        const QByteArray local = zone->extendedTo(at).localDate(at + kPastRulesAhead);
        const QDate day = QDate::fromString(QString::fromLatin1(local), QStringLiteral("yyyyMMdd"));
        if (day.isValid())
            return day;
    }
    const QDate day = wallOf(at + kFallbackDayShift).date();
    return day.year() <= 9999 ? day : wallOf(at).date();
}

// The day a stored midnight of an unknown zone stands for; empty for no real date. A date
// stored without a time of day (a task's due date) is that day in every zone.
QDate dateOnlyDay(const QString &text, const ZoneRules *zone)
{
    qint64 at = 0;
    if (!ArchiveWallSeconds(text, &at))
        return QDate();
    return text.contains(QLatin1Char('T')) ? midnightDay(at, zone) : wallOf(at).date();
}

}  // namespace

namespace {

enum class ClockForm { Real, EndOfDay, Moved };

// The time of day of an archive text: "24:00:00" ends the day (the next day's midnight), a leap
// second "hh:mm:60" is the second before, other impossible times take the nearest real one. An
// unreadable time counts as 00:00:00.
QTime clockOf(const QString &t, ClockForm *form)
{
    *form = ClockForm::Real;
    // The time of day ends where a fraction or a zone letter begins ("10:20:30Z", "10:20:30.000").
    int end = 11;
    while (end < t.size() && (t.at(end).isDigit() || t.at(end) == QLatin1Char(':')))
        ++end;
    const QStringList pieces = t.mid(11, end - 11).split(QLatin1Char(':'));
    bool ok = t.size() > 11 && t.at(10) == QLatin1Char('T') && pieces.size() >= 2 && pieces.size() <= 3;
    const int h = ok ? number(pieces.at(0), &ok) : 0, m = ok ? number(pieces.at(1), &ok) : 0;
    const int s = ok && pieces.size() == 3 ? number(pieces.at(2), &ok) : 0;
    if (!ok || h < 0 || m < 0 || s < 0)
        return QTime(0, 0);
    if (h == 24 && m == 0 && s == 0) {
        *form = ClockForm::EndOfDay;
        return QTime(0, 0);
    }
    if (h <= 23 && m <= 59 && s == 60)
        return QTime(h, m, 59);
    if (QTime(h, m, s).isValid())
        return QTime(h, m, s);
    *form = ClockForm::Moved;
    if (h > 23)
        return QTime(23, 59, 59);
    return m > 59 ? QTime(h, 59, 59) : QTime(h, m, 59);
}

}  // namespace

bool ArchiveWallSeconds(const QString &text, qint64 *seconds)
{
    if (!hasRealDate(text))
        return false;
    const QString t = text.trimmed();
    const QDate day = QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid())
        return false;
    ClockForm form = ClockForm::Real;
    const QTime clock = clockOf(t, &form);
    *seconds = QDateTime(form == ClockForm::EndOfDay ? day.addDays(1) : day, clock, Qt::UTC).toSecsSinceEpoch();
    return true;
}

bool ArchiveTimeMoved(const QString &text)
{
    ClockForm form = ClockForm::Real;
    if (hasRealDate(text))
        clockOf(text.trimmed(), &form);
    return form == ClockForm::Moved;
}

bool PackedWallSeconds(const QByteArray &text, qint64 *seconds)
{
    const QByteArray t = text.endsWith('Z') ? text.left(text.size() - 1) : text;
    if (t.size() != 15 || t.at(8) != 'T')
        return false;
    for (int i = 0; i < t.size(); ++i) {
        if (i != 8 && (t.at(i) < '0' || t.at(i) > '9'))
            return false;
    }
    const QDate day = QDate::fromString(QString::fromLatin1(t.left(8)), QStringLiteral("yyyyMMdd"));
    const QTime clock = QTime::fromString(QString::fromLatin1(t.mid(9)), QStringLiteral("HHmmss"));
    if (!day.isValid() || !clock.isValid())
        return false;
    *seconds = QDateTime(day, clock, Qt::UTC).toSecsSinceEpoch();
    return true;
}

QByteArray PackedWallTime(qint64 seconds)
{
    const QDateTime at = wallOf(seconds);
    if (!at.isValid() || at.date().year() < 0 || at.date().year() > 9999)
        return QByteArray();
    return at.toString(QStringLiteral("yyyyMMdd'T'HHmmss")).toLatin1();
}

QByteArray PackedWallDate(qint64 seconds)
{
    return PackedWallTime(seconds).left(8);
}

QByteArray timeconvertert2(const QString &text)
{
    return converted(text, DateForm::Packed);
}

QByteArray timeconverterDUetask2(const QString &text)
{
    return converted(text, DateForm::Packed);
}

QByteArray ArchiveDateUtc(const QString &text)
{
    qint64 at = 0;
    const QByteArray packed = ArchiveWallSeconds(text, &at) ? PackedWallTime(at) : QByteArray();
    return packed.isEmpty() ? packed : packed + 'Z';
}

QByteArray SaveTimeUtc(const QString &saveStamp)
{
    // A stamp may carry a number after its time ("(...)_2"): the save's root was taken.
    QDateTime when = QLocale::c().toDateTime(saveStamp.mid(1, saveStamp.lastIndexOf(QLatin1Char(')')) - 1),
                                             QStringLiteral("d MMM yyyy,hh-mm-ss"));
    if (!when.isValid())
        when = QDateTime::currentDateTime();
    return when.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
}

QByteArray ArchiveDateLocalDay(const QString &text, const ZoneRules *archiveZone)
{
    return dateOnlyDay(text, archiveZone).toString(QStringLiteral("yyyyMMdd")).toLatin1();
}

QByteArray ArchiveDateLocalIsoDay(const QString &text, const ZoneRules *archiveZone)
{
    return dateOnlyDay(text, archiveZone).toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
}
