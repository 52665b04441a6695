#pragma once
// Archive date-times ("2010-05-01T14:30:00", UTC) in the forms the item files carry. Each gives
// "" for a text whose date is not a real year-month-day: such a date leaves its line out rather
// than turning into 1970. A missing or unreadable time of day counts as 00:00:00.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class ZoneRules;

// The one date core of the item writers. Every archive time is read as a wall time: the stored
// UTC instant, or a wall time of the item's own zone. None of them passes through the converting
// machine's zone, so the files are the same on every machine.

// Seconds since 1970-01-01T00:00 of the wall time the text names ("YYYY-MM-DD", optionally
// "Thh:mm:ss" with fractions or a "Z" after the seconds); false when it names no real date. An
// unreadable time of day counts as 00:00:00.
// "24:00:00" is the next day's midnight, "hh:mm:60" the second before it; any other impossible
// time ("25:00:00", "10:61:00") the nearest real one, which ArchiveTimeMoved tells.
bool ArchiveWallSeconds(const QString &text, qint64 *seconds);
// Whether the text's time of day is impossible and was moved to the nearest real one.
bool ArchiveTimeMoved(const QString &text);
// "YYYYMMDDThhmmss" (or a trailing "Z"), the iCalendar form, as such wall seconds.
bool PackedWallSeconds(const QByteArray &text, qint64 *seconds);
// Wall seconds as "YYYYMMDDThhmmss" and "YYYYMMDD"; empty outside the years 0..9999.
QByteArray PackedWallTime(qint64 seconds);
QByteArray PackedWallDate(qint64 seconds);

// The machine's local "YYYYMMDDThhmmss", only for the reminders script, whose dates the
// machine's own reminders program reads as its local time: the due and reminder times of tasks.
QByteArray timeconvertert2(const QString &text);
// The same form for the start of a task.
QByteArray timeconverterDUetask2(const QString &text);
// The instant in UTC, "YYYYMMDDThhmmssZ".
QByteArray ArchiveDateUtc(const QString &text);
// The time of the save in that form, from its folder stamp ("(5 Mar 2024,10-11-12)", local time;
// now when unreadable): the DTSTAMP of an item that carries no time of its own.
QByteArray SaveTimeUtc(const QString &saveStamp);
// The calendar day of a date-only value, "YYYYMMDD" (all-day events and their ends, birthdays,
// anniversaries, date-only task dates): the stored time is a local midnight in UTC. Its day in
// archiveZone (the item's own zone, else the one the archive shows, see ArchiveZone.h) at that
// instant: by the history of the zone its block names where the zone database knows the name,
// else by the block's offsets; without a zone, the UTC day of the stored time plus 13 hours,
// which is the local day of a midnight anywhere from UTC-10 to UTC+13 (New Zealand's summer
// included). A date stored without a time of day is that day. The converting machine's zone
// never moves it.
QByteArray ArchiveDateLocalDay(const QString &text, const ZoneRules *archiveZone = nullptr);
// The same day as "YYYY-MM-DD" (birthdays, anniversaries).
QByteArray ArchiveDateLocalIsoDay(const QString &text, const ZoneRules *archiveZone = nullptr);
