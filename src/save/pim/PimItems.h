#pragma once
// What the contact, calendar, task and note writers put into their files, built from a record
// and the bytes read for it. Pure functions, so the file contents can be checked byte for byte.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <string_view>

struct TasksInformation;
struct NotesInformation;
struct ContactInformation;
struct CalenderInformation;
struct ContactPhoto;
class ZoneRules;

// ---- tasks ----

// The times of a task (and what else its element gives the to-do).
struct TaskDates {
    QByteArray start;     // local "YYYYMMDDThhmmss", or empty
    QByteArray startUtc;  // the same instant as "YYYYMMDDThhmmssZ"
    QByteArray due;
    QByteArray dueUtc;
    QByteArray reminder;
    QByteArray reminderUtc;
    // The archive gives the day alone (no time of day): written as a DATE value.
    bool startIsDate = false;
    bool dueIsDate = false;
    QString recurrence;       // the OPFTaskCopyRecurrence text, empty when the task does not repeat
    QByteArray categories;    // the CATEGORIES value, or empty
    QByteArray completedUtc;  // when the task was done, "YYYYMMDDThhmmssZ"; empty while it is open
    QString name;             // the whole name as the element holds it, its line breaks kept
    // The plain-text note as ItemElementBytes gives it, for a task without an HTML note: a long
    // one is written piece by piece. It may point into the element TaskDatesOf read, which must
    // outlive it.
    QByteArray notePlain;
    // What the element holds but no line can carry: an unreadable time ("its due time (…) is no
    // real date and time").
    QStringList unusable;
};

// The start, due and reminder times of the task element; a later task part overrides an
// earlier one, an empty or unusable value leaves its time empty. The same for its recurrence
// and categories.
TaskDates TaskDatesOf(std::string_view element);

// The .ics to-do of a task; uid is the dashed UUID (or a fallback), note the raw note bytes.
// Its times are UTC instants, but for a repeating task's start and due time, which are written
// in archiveZone (the zone the archive shows, see ArchiveZone.h) where its pattern names the
// start's day there, so it keeps its local time and days across that zone's clock changes. now: the DTSTAMP of a to-do without a start, which calendar readers
// require; empty leaves it out, as the package's to-dos have it. *unwritten as for CalendarEventFile:
// a task that holds no name, note, time, state, category or priority other than the usual one
// gives no bytes.
QByteArray TaskCalendarFile(const TasksInformation &rec, const QString &uid, const TaskDates &dates,
                            const QByteArray &note, const QByteArray &now, QString *unwritten = nullptr,
                            const ZoneRules *archiveZone = nullptr);

// The task's name on one line, for the report and the reminders script.
QString TaskNameOf(const TasksInformation &rec, const TaskDates &dates);

struct ReminderFields {
    QString name;      // escaped for a script string
    QString dateTime;  // reminder time, else due time, else empty
    QString note;      // plain text of the note, escaped
    QString priority;  // "HIGH", "LOW" or empty
};
ReminderFields ReminderFieldsOf(const TasksInformation &rec, const TaskDates &dates, const QByteArray &note);
QString ReminderScript(const ReminderFields &fields);
// ReminderScript(ReminderFieldsOf(...)), with a long stored note escaped into it piece by piece.
QString ReminderScriptOf(const TasksInformation &rec, const TaskDates &dates, const QByteArray &note);
// Backslash, double quote and line feed escaped for an AppleScript string; CR dropped.
QString EscapeScriptString(QString text);

// ---- notes ----

// element: the note's element, read for a title the record does not keep (empty when it does).
// The text file keeps a plain-text note as typed; only HTML is rendered. A note with neither
// title nor text is an empty note: a journal entry without either, an empty text file.
QByteArray NoteCalendarFile(const NotesInformation &rec, const QString &uid, const QByteArray &stored,
                            std::string_view element = {});
QByteArray NoteTextFile(const NotesInformation &rec, const QByteArray &stored, std::string_view element = {});

// ---- contacts and calendar items ----

// *leftOut (when given) receives the names of the contact's fields that no vCard field holds. A
// contact without any field to save gives no bytes. photo: its picture, written as PHOTO when it
// has one. archiveZone: the zone whose days the birthday and anniversary are (see PimDates.h).
QByteArray ContactCard(const ContactInformation &rec, const QString &uid, std::string_view element,
                       const QByteArray &notes, QStringList *leftOut = nullptr, const ContactPhoto *photo = nullptr,
                       const ZoneRules *archiveZone = nullptr);
// What a contact's card cannot hold of it, each said for its report line: a birthday or
// anniversary that is no real date, pictures after its first.
QStringList ContactLosses(std::string_view element);
// now: the DTSTAMP used when the item has no modification time ("YYYYMMDDThhmmssZ").
// *unwritten (when given) receives what the file lacks of the item (a repeat pattern written as a
// single item, an end before the start), empty when nothing. An item that can give no valid
// event (no real start) gives no bytes, and *unwritten says why.
// archiveZone: the zone whose days all-day events without zone data are (see PimDates.h).
// The UID is the event's own id, or uid when it has none or ownIdTaken (an earlier item of the
// save holds the same id: equal items held twice stay two).
QByteArray CalendarEventFile(const CalenderInformation &rec, const QString &uid, std::string_view element,
                             const QByteArray &description, const QByteArray &now, QString *unwritten = nullptr,
                             const ZoneRules *archiveZone = nullptr, bool ownIdTaken = false);

class ContentLines;
// A VALARM that shows a reminder at the trigger: property "TRIGGER" with a duration before the
// start ("-PT15M"), or "TRIGGER;VALUE=DATE-TIME" with a UTC instant.
void AddReminderAlarm(ContentLines &lines, const QByteArray &property, const QByteArray &trigger);
// The zone's VTIMEZONE block, for the times written in it.
void AddZoneBlock(ContentLines &lines, const ZoneRules &zone);

// The text of the item's element (entities undone, trimmed), from the last part of the item
// that holds it; empty when no part does.
QString ItemElementText(std::string_view element, std::string_view closeTag, const char *startTag);
// The same text before its references are undone and its line breaks read, as UTF-8 bytes:
// comments and CDATA as XML reads them, cut at the first NUL, trimmed as ItemElementText trims.
// It points into element (no copy) where no comment or CDATA had to be undone.
QByteArray ItemElementBytes(std::string_view element, std::string_view closeTag, const char *startTag);
// The names of the category entries of a list element, each its name attribute as XML reads it
// (trimmed), from the last part of the item that holds the list.
QStringList ItemCategoryNames(std::string_view element, std::string_view closeTag, const char *listTag);
// Whether the element holds the start tag but no part gives its value (no close tag): a value
// that could not be read, which the item's report line names. An empty value is read.
bool ItemElementUnreadable(std::string_view element, std::string_view closeTag, const char *startTag);
