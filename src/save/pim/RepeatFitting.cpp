// Exceptions to a repeat rule's days: a rule kept only where its first occurrence is the item's
// start, and the rule of an item written in UTC moved to the UTC days.

#include "save/pim/CalendarRules.h"

#include <QDate>
#include <QRegularExpression>

#include <algorithm>

namespace {

RepeatRule unsupported(const QString &reason)
{
    return RepeatRule{RepeatRule::Unsupported, QByteArray(), reason};
}

// Whether day is the setPos-th (negative: from the end) day of its month among those on the
// weekdays of codes.
bool isNthOfMonth(const QDate &day, const QByteArrayList &codes, int setPos)
{
    QVector<int> matching;
    for (int d = 1; d <= day.daysInMonth(); ++d) {
        if (codes.contains(kWeekdayCodes[QDate(day.year(), day.month(), d).dayOfWeek() - 1]))
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
    const QByteArray code = kWeekdayCodes[day.dayOfWeek() - 1];
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
                const int index = WeekdayOfCode(code);
                if (index == 0)
                    return false;
                codes.append(kWeekdayCodes[(index - 1 + shift + 7) % 7]);
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

RepeatRule ZonelessRepeatRule(const QString &recurrence, const UntilValue &until, const QByteArray &utcStart)
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
