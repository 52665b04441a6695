// Zone rules: the VTIMEZONE block an item carries, and the offset and local time it gives.

#include "save/pim/CalendarRules.h"

#include "save/pim/PimDates.h"

#include <QDateTime>
#include <QRegularExpression>

#include <limits>

namespace {

qint64 secondsOf(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, Qt::UTC).toSecsSinceEpoch();
}

QDateTime utcOf(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

// "+hhmm" or "+hhmmss" as seconds.
bool offsetSeconds(const QByteArray &text, int *seconds)
{
    static const QRegularExpression form(QStringLiteral("^([+-])(\\d\\d)(\\d\\d)(\\d\\d)?$"));
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(text));
    if (!m.hasMatch())
        return false;
    const int value = m.captured(2).toInt() * 3600 + m.captured(3).toInt() * 60 + m.captured(4).toInt();
    *seconds = m.captured(1) == QLatin1String("-") ? -value : value;
    return value < 24 * 3600;
}

// The yearly rule of an observance: FREQ=YEARLY, BYMONTH and BYDAY with an ordinal; the time of
// day parts may repeat DTSTART's. Anything else is not taken.
bool parseYearlyRule(const QByteArray &rule, ZoneRules::Observance *o)
{
    bool yearly = false;
    for (const QByteArray &part : rule.split(';')) {
        const int eq = part.indexOf('=');
        const QByteArray key = part.left(eq), value = part.mid(eq + 1);
        if (key == "FREQ") {
            yearly = value == "YEARLY";
        } else if (key == "INTERVAL") {
            if (value != "1")
                return false;
        } else if (key == "BYMONTH") {
            o->month = value.toInt();
        } else if (key == "BYDAY") {
            static const QRegularExpression form(QStringLiteral("^([+-]?)([1-5])([A-Z]{2})$"));
            const QRegularExpressionMatch m = form.match(QString::fromLatin1(value));
            if (!m.hasMatch())
                return false;
            o->week = m.captured(2).toInt() * (m.captured(1) == QLatin1String("-") ? -1 : 1);
            o->weekday = WeekdayOfCode(m.captured(3).toLatin1());
        } else if (key == "UNTIL") {
            if (!PackedWallSeconds(value, &o->untilUtc))
                return false;
        } else if (key != "BYHOUR" && key != "BYMINUTE" && key != "BYSECOND") {
            return false;
        }
    }
    return yearly && o->month >= 1 && o->month <= 12 && o->week != 0 && o->weekday != 0;
}

// The day of the month of the week-th weekday (negative: from the month's end); 0 when none.
int ruleDay(int year, int month, int week, int weekday)
{
    const QDate first(year, month, 1);
    const int days = first.daysInMonth();
    int day = 0;
    if (week > 0) {
        day = 1 + (weekday - first.dayOfWeek() + 7) % 7 + (week - 1) * 7;
    } else {
        day = days - (QDate(year, month, days).dayOfWeek() - weekday + 7) % 7 + (week + 1) * 7;
    }
    return day >= 1 && day <= days ? day : 0;
}

// Content lines with their folds undone.
QVector<QByteArray> unfolded(const QString &text)
{
    QVector<QByteArray> lines;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (!lines.isEmpty() && (line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t'))))
            lines.last() += line.mid(1).toUtf8();
        else
            lines.append(line.toUtf8());
    }
    return lines;
}

QByteArray withoutControls(QByteArray line)
{
    for (char &c : line) {
        if (uchar(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    return line;
}

}  // namespace

ZoneRules::ZoneRules(const QString &icsData)
{
    const QVector<QByteArray> all = unfolded(icsData);
    const int begin = all.indexOf("BEGIN:VTIMEZONE");
    const int end = all.indexOf("END:VTIMEZONE");
    if (begin < 0 || end <= begin)
        return;
    const QVector<QByteArray> block = all.mid(begin, end - begin + 1);
    m_valid = parseBlock(block);
    if (!m_valid)
        return;
    for (const QByteArray &line : block)
        m_lines.append(withoutControls(line));
}

bool ZoneRules::parseBlock(const QVector<QByteArray> &block)
{
    QStringList names;
    Observance current;
    bool inside = false, started = false, from = false, to = false;
    for (const QByteArray &line : block) {
        const int colon = line.indexOf(':');
        // Every line is written again as it is: one that is no content line, or a component
        // the block may not hold, would break the file for its readers.
        if (colon <= 0)
            return false;
        const QByteArray name = line.left(colon).split(';').first(), value = line.mid(colon + 1);
        if ((name == "BEGIN" || name == "END") && value != "VTIMEZONE" && value != "STANDARD" && value != "DAYLIGHT")
            return false;
        if (line == "BEGIN:STANDARD" || line == "BEGIN:DAYLIGHT") {
            if (inside)
                return false;
            current = Observance();
            inside = true;
            started = from = to = false;
        } else if (line == "END:STANDARD" || line == "END:DAYLIGHT") {
            if (!inside || !started || !from || !to)
                return false;
            m_observances.append(current);
            inside = false;
        } else if (!inside) {
            // As the block's line is written, so the parameter names it exactly.
            if (name == "TZID")
                m_tzid = QString::fromUtf8(withoutControls(value));
            // The exporter's own zone name comes first: the TZID may be a display name.
            if (name == "X-ENTOURAGE-CFTIMEZONE" || name == "X-LIC-LOCATION")
                names.prepend(QString::fromUtf8(value).trimmed());
        } else if (name == "DTSTART") {
            started = PackedWallSeconds(value, &current.startLocal);
        } else if (name == "TZOFFSETFROM") {
            from = offsetSeconds(value, &current.fromOffset);
        } else if (name == "TZOFFSETTO") {
            to = offsetSeconds(value, &current.toOffset);
        } else if (name == "RRULE") {
            if (!parseYearlyRule(value, &current))
                return false;
        } else if (name == "RDATE") {
            return false;
        }
    }
    const bool valid =
        !inside && !m_tzid.trimmed().isEmpty() && !m_tzid.contains(QLatin1Char('"')) && !m_observances.isEmpty();
    if (valid)
        nameZone(names << m_tzid.trimmed());
    return valid;
}

qint64 ZoneRules::latestOnsetBefore(const Observance &o, qint64 utcSeconds) const
{
    const qint64 none = std::numeric_limits<qint64>::min();
    if (o.month == 0) {
        const qint64 onset = o.startLocal - o.fromOffset;
        return onset <= utcSeconds ? onset : none;
    }
    const int year = utcOf(utcSeconds).date().year();
    const QTime clock = utcOf(o.startLocal).time();
    qint64 best = none;
    for (int y = year - 1; y <= year + 1; ++y) {
        const int day = ruleDay(y, o.month, o.week, o.weekday);
        if (day == 0)
            continue;
        const qint64 local = secondsOf(QDate(y, o.month, day), clock);
        const qint64 onset = local - o.fromOffset;
        if (local < o.startLocal || (o.untilUtc && onset > o.untilUtc) || onset > utcSeconds)
            continue;
        best = qMax(best, onset);
    }
    return best;
}

QVector<qint64> ZoneRules::onsetsIn(qint64 fromUtc, qint64 toUtc) const
{
    QVector<qint64> onsets;
    const int firstYear = utcOf(fromUtc).date().year(), lastYear = utcOf(toUtc).date().year();
    for (const Observance &o : m_observances) {
        for (int y = firstYear; o.month != 0 && y <= lastYear; ++y) {
            const int day = ruleDay(y, o.month, o.week, o.weekday);
            const qint64 local = day == 0 ? 0 : secondsOf(QDate(y, o.month, day), utcOf(o.startLocal).time());
            if (day != 0 && local >= o.startLocal && (!o.untilUtc || local - o.fromOffset <= o.untilUtc))
                onsets.append(local - o.fromOffset);
        }
        if (o.month == 0)
            onsets.append(o.startLocal - o.fromOffset);
    }
    return onsets;
}

int ZoneRules::offsetAt(qint64 utcSeconds) const
{
    if (m_byHistory)
        return historyOffsetAt(utcSeconds);
    const qint64 none = std::numeric_limits<qint64>::min();
    qint64 best = none;
    int offset = 0;
    const Observance *earliest = nullptr;
    for (const Observance &o : m_observances) {
        const qint64 onset = latestOnsetBefore(o, utcSeconds);
        if (onset != none && onset > best) {
            best = onset;
            offset = o.toOffset;
        }
        if (!earliest || o.startLocal < earliest->startLocal)
            earliest = &o;
    }
    // Before the first onset the zone keeps the offset that onset changes from.
    if (best == none && earliest)
        offset = earliest->fromOffset;
    return offset;
}

bool ZoneRules::covers(qint64 utcSeconds) const
{
    if (m_byHistory)
        return true;
    bool oneOffset = true;
    qint64 first = std::numeric_limits<qint64>::max();
    for (const Observance &o : m_observances) {
        oneOffset = oneOffset && o.fromOffset == o.toOffset && o.toOffset == m_observances.first().toOffset;
        first = qMin(first, o.startLocal - o.fromOffset);
    }
    return oneOffset || utcSeconds >= first;
}

ZoneRules ZoneRules::extendedTo(qint64 utcSeconds) const
{
    if (!m_valid || covers(utcSeconds))
        return *this;
    const int year = utcOf(utcSeconds).date().year() - 1;
    ZoneRules extended = *this;
    for (Observance &o : extended.m_observances) {
        const int day = o.month != 0 && o.untilUtc == 0 && year >= 1 ? ruleDay(year, o.month, o.week, o.weekday) : 0;
        if (day == 0)
            return *this;
        o.startLocal = secondsOf(QDate(year, o.month, day), utcOf(o.startLocal).time());
    }
    // Each observance's DTSTART line, in the order the block holds them, gets its new onset.
    int index = -1;
    for (QByteArray &line : extended.m_lines) {
        if (line == "BEGIN:STANDARD" || line == "BEGIN:DAYLIGHT")
            ++index;
        else if (index >= 0 && (line.startsWith("DTSTART:") || line.startsWith("DTSTART;")))
            line = "DTSTART:" + PackedWallTime(extended.m_observances.at(index).startLocal);
    }
    return extended;
}

bool ZoneRules::localTimeIsUnique(qint64 utcSeconds) const
{
    if (m_byHistory)
        return historyTimeIsUnique(utcSeconds);
    const qint64 local = utcSeconds + offsetAt(utcSeconds);
    QVector<int> offsets;
    for (const Observance &o : m_observances) {
        for (const int offset : {o.fromOffset, o.toOffset}) {
            if (!offsets.contains(offset))
                offsets.append(offset);
        }
    }
    int readings = 0;
    for (const int offset : offsets) {
        if (offsetAt(local - offset) == offset)
            ++readings;
    }
    return readings == 1;
}

QByteArray ZoneRules::localTime(qint64 utcSeconds) const
{
    return PackedWallTime(utcSeconds + offsetAt(utcSeconds));
}

QByteArray ZoneRules::localDate(qint64 utcSeconds) const
{
    return localTime(utcSeconds).left(8);
}

QByteArray ZoneRules::tzidParameter() const
{
    const QString &id = m_tzid;
    const bool quote = id.contains(QLatin1Char(';')) || id.contains(QLatin1Char(':')) || id.contains(QLatin1Char(','));
    return "TZID=" + (quote ? '"' + id.toUtf8() + '"' : id.toUtf8());
}
