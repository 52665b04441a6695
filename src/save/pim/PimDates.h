#pragma once
// Archive date-times ("2010-05-01T14:30:00", UTC) in the forms the item files carry. Each gives
// "" for a text whose date is not a real year-month-day: such a date leaves its line out rather
// than turning into 1970. A missing or unreadable time of day counts as 00:00:00.

#include <QByteArray>
#include <QString>

// Local "YYYYMMDDThhmmss": the due and reminder times of tasks.
QByteArray timeconvertert2(const QString &text);
// The same form for the start of a task.
QByteArray timeconverterDUetask2(const QString &text);
// The instant in UTC, "YYYYMMDDThhmmssZ".
QByteArray ArchiveDateUtc(const QString &text);
// The time of the save in that form, from its folder stamp ("(5 Mar 2024,10-11-12)", local time;
// now when unreadable): the DTSTAMP of an item that carries no time of its own.
QByteArray SaveTimeUtc(const QString &saveStamp);
// The calendar day of a date-only value whose zone the item does not carry, "YYYYMMDD" (all-day
// events): the UTC day of the stored time plus 12 hours, which is the local day of a midnight
// anywhere from UTC-12 to UTC+12. The converting machine's zone never moves it.
QByteArray ArchiveDateLocalDay(const QString &text);
// The same day as "YYYY-MM-DD" (birthdays, anniversaries).
QByteArray ArchiveDateLocalIsoDay(const QString &text);
