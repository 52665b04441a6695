#include "save/pim/CalendarRules.h"

#include "save/pim/PimDates.h"
#include "save/pim/PimText.h"
#include "scanner/ElementValue.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char *const kDayCodes[] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};

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

int dayIndex(const QByteArray &code)
{
    for (int i = 0; i < 7; ++i) {
        if (code == kDayCodes[i])
            return i + 1;
    }
    return 0;
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
            o->weekday = dayIndex(m.captured(3).toLatin1());
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

bool ArchiveSeconds(const QString &text, qint64 *seconds)
{
    return ArchiveWallSeconds(text, seconds);
}

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
    return !inside && !m_tzid.trimmed().isEmpty() && !m_tzid.contains(QLatin1Char('"')) && !m_observances.isEmpty();
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

int ZoneRules::offsetAt(qint64 utcSeconds) const
{
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

namespace {

// The text of a child element of the recurrence, trimmed; empty when absent.
QString childText(const QByteArray &xml, const char *tag)
{
    const std::string_view text(xml.constData(), size_t(xml.size()));
    const ElementSpan span = GetElementValue(text, tag);
    if (!span.found)
        return QString();
    return QString::fromUtf8(xml.constData() + span.start, int(span.length)).trimmed();
}

bool isSet(const QByteArray &xml, const char *tag)
{
    return childText(xml, tag) == QLatin1String("1");
}

// A whole number written as the archive writes numbers ("27", "2.7E1"); -1 when it is none.
qint64 wholeNumber(const QString &text, qint64 max)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0 || v > double(max) || v != std::floor(v))
        return -1;
    return qint64(v);
}

// The day codes of the days-of-week flags, Monday first; empty when none is set.
QByteArrayList dayCodes(const QByteArray &days)
{
    static const char *const kNames[] = {"<monday", "<tuesday",  "<wednesday", "<thursday",
                                         "<friday", "<saturday", "<sunday"};
    const bool all = isSet(days, "<allDays");
    const bool weekdays = isSet(days, "<weekdays");
    const bool weekend = isSet(days, "<weekenddays");
    QByteArrayList codes;
    for (int i = 0; i < 7; ++i) {
        if (all || (weekdays && i < 5) || (weekend && i >= 5) || isSet(days, kNames[i]))
            codes.append(kDayCodes[i]);
    }
    return codes;
}

RepeatRule unsupported(const QString &reason)
{
    return RepeatRule{RepeatRule::Unsupported, QByteArray(), reason};
}

// Which of the month's matching weekdays a relative pattern means: 1..4, or -1 for the last. The
// pattern's own week number when it gives one (5 is the last), else the place of the start's day.
int weekOfMonth(const QByteArray &pattern, const QDate &start)
{
    const QString given = childText(pattern, "<OPFRecurrencePatternWeek");
    if (!given.isEmpty()) {
        bool ok = false;
        const int week = given.toInt(&ok);
        if (ok && week >= 1 && week <= 4)
            return week;
        return ok && (week == 5 || week == -1) ? -1 : 0;
    }
    if (!start.isValid())
        return 0;
    // A start in the month's last seven days is read as "the last", as the pattern was most
    // likely set; a fourth that is also the last gives the same day in such a month.
    if (start.day() + 7 > start.daysInMonth())
        return -1;
    return (start.day() - 1) / 7 + 1;
}

// BYDAY (and BYSETPOS) of "the week-th of these weekdays in the month": one day takes the
// ordinal itself, several ("the first weekday") pick their week-th match.
QByteArray relativeDays(const QByteArrayList &codes, int week)
{
    const QByteArray ordinal = QByteArray::number(week);
    if (codes.size() == 1)
        return "BYDAY=" + ordinal + codes.first();
    return "BYDAY=" + codes.join(',') + ";BYSETPOS=" + ordinal;
}

// The rule part of a relative (weekday of the month) pattern, or why it has none. Days, week and
// month the pattern leaves out are those of the start.
bool relativeRule(const QByteArray &pattern, bool yearly, qint64 interval, const QDate &start, QByteArray *rule,
                  QString *why)
{
    QByteArrayList codes = dayCodes(childText(pattern, "<OPFRecurrencePatternDaysOfWeek").toUtf8());
    if (codes.isEmpty() && start.isValid())
        codes.append(kDayCodes[start.dayOfWeek() - 1]);
    const int week = weekOfMonth(pattern, start);
    qint64 month = wholeNumber(childText(pattern, "<OPFRecurrencePatternMonth"), 12);
    if (month < 1 && start.isValid())
        month = start.month();
    if (codes.isEmpty() || week == 0 || (yearly && month < 1)) {
        *why = QStringLiteral("the weekday, week or month it repeats on is missing or not one of a calendar");
        return false;
    }
    *rule = (yearly ? "FREQ=YEARLY;INTERVAL=" : "FREQ=MONTHLY;INTERVAL=") + QByteArray::number(interval);
    if (yearly)
        *rule += ";BYMONTH=" + QByteArray::number(month);
    *rule += ';' + relativeDays(codes, week);
    return true;
}

// The log's words for a repeat pattern without a rule: what it lacks, never its element's name.
QString unsupportedPattern(const QString &type)
{
    if (type == QLatin1String("OPFRecurrencePatternAbsoluteMonthly")
        || type == QLatin1String("OPFRecurrencePatternAbsoluteYearly"))
        return QStringLiteral("the day of the month it repeats on is missing or no day of a month");
    return QStringLiteral("its repeat pattern is of a kind this program does not know");
}

// A day of every month: one past the 28th means the month's last day in a month too short for
// it, where readers would skip the month.
QByteArray monthDayPart(int day)
{
    if (day <= 28)
        return "BYMONTHDAY=" + QByteArray::number(day);
    if (day == 31)
        return "BYMONTHDAY=-1";
    QByteArrayList days;
    for (int d = 28; d <= day; ++d)
        days.append(QByteArray::number(d));
    return "BYMONTHDAY=" + days.join(',') + ";BYSETPOS=-1";
}

// Counts are written as stored; past this one a count is no number a reader keeps.
constexpr double kLargestCount = 1e15;

}  // namespace

RepeatRule RepeatRuleOf(const QString &recurrence, const std::function<QByteArray(qint64)> &until,
                        const QByteArray &startValue)
{
    if (recurrence.trimmed().isEmpty())
        return RepeatRule();
    const QByteArray xml = recurrence.toUtf8();
    const QByteArray pattern = childText(xml, "<OPFRecurrencePattern").toUtf8();
    const QString type = childText(pattern, "<OPFRecurrencePatternType");
    const qint64 interval = wholeNumber(childText(pattern, "<OPFRecurrencePatternInterval"), 999);
    if (interval < 1)
        return unsupported(QStringLiteral("its repeat interval is not a whole number"));
    const QByteArray days = dayCodes(childText(pattern, "<OPFRecurrencePatternDaysOfWeek").toUtf8()).join(',');
    const qint64 monthDay = wholeNumber(childText(pattern, "<OPFRecurrencePatternDayOfMonth"), 31);
    const qint64 month = wholeNumber(childText(pattern, "<OPFRecurrencePatternMonth"), 12);
    const QDate start = QDate::fromString(QString::fromLatin1(startValue.left(8)), QStringLiteral("yyyyMMdd"));
    QByteArray rule;
    if (type == QLatin1String("OPFRecurrencePatternDaily")) {
        rule = "FREQ=DAILY;INTERVAL=" + QByteArray::number(interval);
        if (!days.isEmpty())
            rule += ";BYDAY=" + days;
    } else if (type == QLatin1String("OPFRecurrencePatternWeekly")) {
        rule = "FREQ=WEEKLY;INTERVAL=" + QByteArray::number(interval);
        if (!days.isEmpty())
            rule += ";BYDAY=" + days;
        // Which days share a week decides which weeks are skipped; the archive's weeks begin on
        // Sunday, readers' on Monday unless told.
        if (interval > 1)
            rule += ";WKST=SU";
    } else if (type == QLatin1String("OPFRecurrencePatternAbsoluteMonthly") && monthDay >= 1) {
        rule = "FREQ=MONTHLY;INTERVAL=" + QByteArray::number(interval) + ';' + monthDayPart(int(monthDay));
    } else if (type == QLatin1String("OPFRecurrencePatternAbsoluteYearly") && monthDay >= 1 && month >= 1) {
        rule = "FREQ=YEARLY;INTERVAL=" + QByteArray::number(interval) + ";BYMONTH=" + QByteArray::number(month)
            + ";BYMONTHDAY=" + QByteArray::number(monthDay);
    } else if (type == QLatin1String("OPFRecurrencePatternRelativeMonthly")
               || type == QLatin1String("OPFRecurrencePatternRelativeYearly")) {
        QString why;
        if (!relativeRule(pattern, type.endsWith(QLatin1String("Yearly")), interval, start, &rule, &why))
            return unsupported(why);
    } else {
        return unsupported(unsupportedPattern(type));
    }
    if (isSet(xml, "<OPFRecurrenceIsNoEnd"))
        return RepeatRule{RepeatRule::Rule, rule, QString()};
    bool counted = false;
    const double count = childText(xml, "<OPFRecurrenceGetOccurenceCount").toDouble(&counted);
    counted = counted && isSet(xml, "<OPFRecurrenceIsNumbered") && std::isfinite(count) && count >= 1
        && count == std::floor(count);
    if (counted && count <= kLargestCount)
        return RepeatRule{RepeatRule::Rule, rule + ";COUNT=" + QByteArray::number(qint64(count)), QString()};
    qint64 end = 0;
    if (isSet(xml, "<OPFRecurrenceHasEndDate") && ArchiveSeconds(childText(xml, "<OPFRecurrenceCopyEndDate"), &end)) {
        const QByteArray value = until(end);
        if (!value.isEmpty())
            return RepeatRule{RepeatRule::Rule, rule + ";UNTIL=" + value, QString()};
    }
    return unsupported(QStringLiteral("its repeat pattern has no usable end"));
}

bool RepeatEndsBefore(const QString &recurrence, qint64 startSeconds, QString *endText)
{
    const QByteArray xml = recurrence.toUtf8();
    if (isSet(xml, "<OPFRecurrenceIsNoEnd") || !isSet(xml, "<OPFRecurrenceHasEndDate"))
        return false;
    bool counted = false;
    const double count = childText(xml, "<OPFRecurrenceGetOccurenceCount").toDouble(&counted);
    if (counted && isSet(xml, "<OPFRecurrenceIsNumbered") && count >= 1 && count <= kLargestCount
        && count == std::floor(count))
        return false;
    *endText = childText(xml, "<OPFRecurrenceCopyEndDate");
    qint64 end = 0;
    return ArchiveSeconds(*endText, &end) && end < startSeconds;
}

namespace {

// Whether day is the setPos-th (negative: from the end) day of its month among those on the
// weekdays of codes.
bool isNthOfMonth(const QDate &day, const QByteArrayList &codes, int setPos)
{
    QVector<int> matching;
    for (int d = 1; d <= day.daysInMonth(); ++d) {
        if (codes.contains(kDayCodes[QDate(day.year(), day.month(), d).dayOfWeek() - 1]))
            matching.append(d);
    }
    const int index = setPos > 0 ? setPos - 1 : matching.size() + setPos;
    return index >= 0 && index < matching.size() && matching.at(index) == day.day();
}

// BYDAY's entries fit the day: its weekday is named, and where an entry carries an ordinal
// ("2TU", "-1MO"), the day is that one of its month.
bool daysFit(const QByteArray &byDay, const QDate &day)
{
    static const QRegularExpression entry(QStringLiteral("^([+-]?\\d{1,2})?([A-Z]{2})$"));
    const QByteArray code = kDayCodes[day.dayOfWeek() - 1];
    for (const QByteArray &item : byDay.split(',')) {
        const QRegularExpressionMatch m = entry.match(QString::fromLatin1(item));
        if (!m.hasMatch() || m.captured(2).toLatin1() != code)
            continue;
        if (m.captured(1).isEmpty() || isNthOfMonth(day, {code}, m.captured(1).toInt()))
            return true;
    }
    return false;
}

// BYMONTHDAY's days (negative: from the month's end) fit the day: it is one of them, or with a
// set position, that one of those its month has.
bool monthDaysFit(const QByteArray &byMonthDay, int setPos, const QDate &day)
{
    QVector<int> days;
    for (const QByteArray &item : byMonthDay.split(',')) {
        const int d = item.toInt();
        const int inMonth = d < 0 ? day.daysInMonth() + 1 + d : d;
        if (d != 0 && inMonth >= 1 && inMonth <= day.daysInMonth() && !days.contains(inMonth))
            days.append(inMonth);
    }
    std::sort(days.begin(), days.end());
    if (setPos == 0)
        return days.contains(day.day());
    const int index = setPos > 0 ? setPos - 1 : days.size() + setPos;
    return index >= 0 && index < days.size() && days.at(index) == day.day();
}

}  // namespace

RepeatRule FittedToStart(const RepeatRule &rule, const QByteArray &startValue)
{
    if (rule.kind != RepeatRule::Rule)
        return rule;
    const QDate day = QDate::fromString(QString::fromLatin1(startValue.left(8)), QStringLiteral("yyyyMMdd"));
    if (!day.isValid())
        return unsupported(QStringLiteral("its repeat pattern has no start"));
    bool fits = true;
    QByteArray byDay, byMonthDay;
    int setPos = 0;
    for (const QByteArray &part : rule.rrule.split(';')) {
        const int eq = part.indexOf('=');
        const QByteArray key = part.left(eq), value = part.mid(eq + 1);
        if (key == "BYDAY")
            byDay = value;
        else if (key == "BYSETPOS")
            setPos = value.toInt();
        else if (key == "BYMONTHDAY")
            byMonthDay = value;
        else if (key == "BYMONTH")
            fits = fits && value.toInt() == day.month();
    }
    if (!byMonthDay.isEmpty())
        fits = fits && monthDaysFit(byMonthDay, byDay.isEmpty() ? setPos : 0, day);
    if (!byDay.isEmpty())
        fits = fits && (setPos != 0 ? isNthOfMonth(day, byDay.split(','), setPos) : daysFit(byDay, day));
    if (fits)
        return rule;
    return unsupported(
        QStringLiteral("its start (%1) is not on a day its repeat pattern names").arg(day.toString(Qt::ISODate)));
}

namespace {

// The rule with each of its days moved by shift days (-1 or 1), as the same occurrences fall in
// another zone; false for a rule whose days do not move one by one (a weekday of the month, a
// choice among days, a day near a month's end that changes its month's length).
bool movedDays(const QByteArray &rrule, int shift, QByteArray *moved)
{
    QByteArrayList parts = rrule.split(';');
    int monthPart = -1;
    int monthMove = 0;
    for (int i = 0; i < parts.size(); ++i) {
        const int eq = parts.at(i).indexOf('=');
        const QByteArray key = parts.at(i).left(eq), value = parts.at(i).mid(eq + 1);
        if (key == "BYSETPOS")
            return false;
        if (key == "BYMONTH") {
            monthPart = i;
        } else if (key == "BYDAY") {
            QByteArrayList codes;
            for (const QByteArray &code : value.split(',')) {
                const int index = dayIndex(code);
                if (index == 0)
                    return false;
                codes.append(kDayCodes[(index - 1 + shift + 7) % 7]);
            }
            parts[i] = "BYDAY=" + codes.join(',');
        } else if (key == "BYMONTHDAY") {
            bool ok = false;
            const int day = value.toInt(&ok);
            int to = 0;
            if (!ok || day == 0)
                return false;
            if (shift < 0)
                to = day == 1 ? -1 : day - 1;
            else
                to = day == -1 ? 1 : (day > 0 && day <= 27 ? day + 1 : (day < -1 ? day + 1 : 0));
            if (to == 0 || to < -28)
                return false;
            monthMove = (day == 1 && shift < 0) ? -1 : (day == -1 && shift > 0 ? 1 : 0);
            parts[i] = "BYMONTHDAY=" + QByteArray::number(to);
        }
    }
    if (monthPart >= 0 && monthMove != 0) {
        const int month = parts.at(monthPart).mid(8).toInt();
        parts[monthPart] = "BYMONTH=" + QByteArray::number((month - 1 + monthMove + 12) % 12 + 1);
    }
    *moved = parts.join(';');
    return true;
}

}  // namespace

RepeatRule ZonelessRepeatRule(const QString &recurrence, const std::function<QByteArray(qint64)> &until,
                              const QByteArray &utcStart)
{
    const RepeatRule onUtcDay = FittedToStart(RepeatRuleOf(recurrence, until, utcStart), utcStart);
    const QDate utcDay = QDate::fromString(QString::fromLatin1(utcStart.left(8)), QStringLiteral("yyyyMMdd"));
    if (onUtcDay.kind != RepeatRule::Unsupported || utcStart.size() < 15 || !utcDay.isValid())
        return onUtcDay;
    // A local day differs from the UTC day only by the zone's offset: most likely the next day
    // from noon UTC on (east of UTC), the day before until then (west); east of UTC+12 an early
    // morning is the next day too, so the other neighbour is tried after.
    const int likely = utcStart.mid(9, 2).toInt() >= 12 ? 1 : -1;
    for (const int ownShift : {likely, -likely}) {
        const QByteArray ownStart = utcDay.addDays(ownShift).toString(QStringLiteral("yyyyMMdd")).toLatin1();
        RepeatRule own = FittedToStart(RepeatRuleOf(recurrence, until, ownStart), ownStart);
        if (own.kind == RepeatRule::Rule && movedDays(own.rrule, -ownShift, &own.rrule)
            && FittedToStart(own, utcStart).kind == RepeatRule::Rule)
            return own;
    }
    return onUtcDay;
}

QByteArray ReminderTrigger(qint64 secondsBefore)
{
    const qint64 s = qAbs(secondsBefore);
    const QByteArray sign = secondsBefore < 0 ? "" : "-";
    if (s % 60 == 0)
        return sign + "PT" + QByteArray::number(s / 60) + 'M';
    return sign + "PT" + QByteArray::number(s) + 'S';
}

QByteArray CategoriesValue(const QString &categoryList, const QString &primaryName)
{
    static const QRegularExpression name(QStringLiteral("OPFCategoryCopyName=\"([^\"]*)\""));
    QStringList names;
    auto it = name.globalMatch(categoryList);
    while (it.hasNext()) {
        const QString n = it.next().captured(1).trimmed();
        if (!n.isEmpty() && !names.contains(n))
            names.append(n);
    }
    if (names.isEmpty() && !primaryName.trimmed().isEmpty())
        names.append(primaryName.trimmed());
    QByteArrayList escaped;
    for (const QString &n : names)
        escaped.append(EscapeText(n).toUtf8());
    return escaped.join(',');
}
