// What the calendar rules share (weekday codes, archive times), and reminders and categories.

#include "save/pim/CalendarRules.h"

#include "save/pim/PimDates.h"
#include "save/pim/PimText.h"

#include <QStringList>

const char *const kWeekdayCodes[7] = {"MO", "TU", "WE", "TH", "FR", "SA", "SU"};

int WeekdayOfCode(const QByteArray &code)
{
    for (int i = 0; i < 7; ++i) {
        if (code == kWeekdayCodes[i])
            return i + 1;
    }
    return 0;
}

bool ArchiveSeconds(const QString &text, qint64 *seconds)
{
    return ArchiveWallSeconds(text, seconds);
}

QByteArray ReminderTrigger(qint64 secondsBefore)
{
    const qint64 s = qAbs(secondsBefore);
    const QByteArray sign = secondsBefore < 0 ? "" : "-";
    if (s % 60 == 0)
        return sign + "PT" + QByteArray::number(s / 60) + 'M';
    return sign + "PT" + QByteArray::number(s) + 'S';
}

QByteArray CategoriesValue(const QStringList &listNames, const QString &primaryName)
{
    QStringList names;
    for (const QString &n : listNames) {
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
