// Repeat rules: the archive's recurrence element as an RRULE, with its end.

#include "save/pim/CalendarRules.h"

#include "scanner/ElementValue.h"

#include <QDate>

#include <cmath>
#include <limits>

namespace {

// The text of a child element of the recurrence, trimmed; empty when absent.
QString childText(const QByteArray &xml, const char *tag)
{
    const std::string_view text(xml.constData(), size_t(xml.size()));
    const ElementSpan span = GetElementValue(text, tag);
    if (!span.found)
        return QString();
    return ElementText(ElementBytes(text, span));
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
            codes.append(kWeekdayCodes[i]);
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
        codes.append(kWeekdayCodes[start.dayOfWeek() - 1]);
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

RepeatRule RepeatRuleOf(const QString &recurrence, const UntilValue &until, const QByteArray &startValue)
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
    const QString endText = childText(xml, "<OPFRecurrenceCopyEndDate");
    if (isSet(xml, "<OPFRecurrenceHasEndDate") && ArchiveSeconds(endText, &end)) {
        const QByteArray value = until(endText);
        if (!value.isEmpty())
            return RepeatRule{RepeatRule::Rule, rule + ";UNTIL=" + value, QString()};
    }
    return unsupported(QStringLiteral("its repeat pattern has no usable end"));
}

namespace {

// Whether the repeat ends by its end date (not by a count, not endless): *end its instant,
// *endText the stored date.
bool endedByDate(const QString &recurrence, qint64 *end, QString *endText)
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
    return ArchiveSeconds(*endText, end);
}

}  // namespace

bool RepeatEndsBefore(const QString &recurrence, qint64 startSeconds, QString *endText)
{
    qint64 end = 0;
    return endedByDate(recurrence, &end, endText) && end < startSeconds;
}

bool RepeatEndsBeforeDay(const QString &recurrence, const QByteArray &startDay, const UntilValue &until,
                         QString *endText)
{
    qint64 end = 0;
    if (!endedByDate(recurrence, &end, endText))
        return false;
    const QByteArray endDay = until(*endText);
    return !endDay.isEmpty() && endDay < startDay.left(8);
}

qint64 RepeatSpanEnd(const QString &recurrence, qint64 startSeconds)
{
    constexpr qint64 kEndless = std::numeric_limits<qint64>::max();
    const QByteArray xml = recurrence.toUtf8();
    if (isSet(xml, "<OPFRecurrenceIsNoEnd"))
        return kEndless;
    qint64 end = 0;
    QString endText;
    if (endedByDate(recurrence, &end, &endText))
        return end + 86400;
    bool counted = false;
    const double count = childText(xml, "<OPFRecurrenceGetOccurenceCount").toDouble(&counted);
    if (!counted || !std::isfinite(count) || count < 1 || count > 1e6)
        return kEndless;
    const QByteArray pattern = childText(xml, "<OPFRecurrencePattern").toUtf8();
    const QString type = childText(pattern, "<OPFRecurrencePatternType");
    const qint64 interval = qMax<qint64>(1, wholeNumber(childText(pattern, "<OPFRecurrencePatternInterval"), 999));
    // A daily pattern may name one weekday alone: a week for each occurrence at most.
    const qint64 days = type.endsWith(QLatin1String("Daily")) || type.endsWith(QLatin1String("Weekly")) ? 7
        : type.endsWith(QLatin1String("Monthly"))                                                       ? 31
                                                                                                        : 366;
    return startSeconds + (qint64(count) * interval + 1) * days * 86400;
}
