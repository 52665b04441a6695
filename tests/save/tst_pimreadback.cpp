// Calendar items, tasks, contacts and notes as calendar and address-book readers take them back
// (python icalendar, recurring-ical-events, vobject): weekday-of-the-month and endless repeats,
// the hour repeated when clocks go back, days without a time, names the record cannot keep,
// done tasks and the contact fields beyond the basic card; saved as the package and for Apple
// Mail on machines in nine zones with and without clock changes, which must all give the same
// files, for these items and for the sample archive. Times in a clock change of the machine's
// zone or before the item's zone data, repeats whose own day is not the UTC day, month ends and
// two-weekly patterns come back as meant. Items that give no valid event or nothing to save are
// named, not written; what a file lacks is named.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "PimSamples.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "platform/ReminderSink.h"
#include "save/OutputLayout.h"
#include "save/QMailSavingThread.h"

#include <QDirIterator>
#include <QProcess>
#include <QTimeZone>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <time.h>

namespace {

QByteArray el(const char *name, const QByteArray &value)
{
    return OlmXml::elementRaw(name, value);
}

const char kMountain[] = "BEGIN:VCALENDAR\nBEGIN:VTIMEZONE\nTZID:Mountain Time (US &amp; Canada)\nBEGIN:STANDARD\n"
                         "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=1SU;BYMONTH=11\nTZOFFSETFROM:-0600\nTZOFFSETTO:-0700\n"
                         "DTSTART:20071104T020000\nEND:STANDARD\nBEGIN:DAYLIGHT\n"
                         "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=2SU;BYMONTH=3\nTZOFFSETFROM:-0700\nTZOFFSETTO:-0600\n"
                         "DTSTART:20070311T020000\nEND:DAYLIGHT\nEND:VTIMEZONE\nEND:VCALENDAR\n";

// Zone data as a European calendar exports it: its rules stated from 1996 and 1981 on.
const char kBerlin[] = "BEGIN:VCALENDAR\nBEGIN:VTIMEZONE\nTZID:W. Europe Standard Time\nBEGIN:STANDARD\n"
                       "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=10\nTZOFFSETFROM:+0200\nTZOFFSETTO:+0100\n"
                       "DTSTART:19961027T030000\nEND:STANDARD\nBEGIN:DAYLIGHT\n"
                       "RRULE:FREQ=YEARLY;INTERVAL=1;BYDAY=-1SU;BYMONTH=3\nTZOFFSETFROM:+0100\nTZOFFSETTO:+0200\n"
                       "DTSTART:19810329T020000\nEND:DAYLIGHT\nEND:VTIMEZONE\nEND:VCALENDAR\n";

const char kTokyo[] = "BEGIN:VCALENDAR\nBEGIN:VTIMEZONE\nTZID:Tokyo Standard Time\nBEGIN:STANDARD\n"
                      "TZOFFSETFROM:+0900\nTZOFFSETTO:+0900\nDTSTART:16010101T000000\nEND:STANDARD\nEND:VTIMEZONE\n"
                      "END:VCALENDAR\n";

const char *const kZones[] = {"UTC",
                              "America/Denver",
                              "America/New_York",
                              "Europe/Berlin",
                              "Australia/Lord_Howe",
                              "Pacific/Auckland",
                              "Pacific/Kiritimati",
                              "Pacific/Tongatapu",
                              "Pacific/Apia"};

QByteArray repeat(const QByteArray &pattern, const QByteArray &ends, const char *element = "OPFCalendarEventCopyRecurrence")
{
    return el(element, ends + el("OPFRecurrencePattern", pattern));
}

QByteArray weekly(const QByteArray &days, const char *interval = "1")
{
    return el("OPFRecurrencePatternDaysOfWeek", days) + el("OPFRecurrencePatternInterval", interval)
        + el("OPFRecurrencePatternType", "OPFRecurrencePatternWeekly");
}

QByteArray counted(const QByteArray &count)
{
    return el("OPFRecurrenceGetOccurenceCount", count) + el("OPFRecurrenceIsNumbered", "1");
}

QByteArray appointment(const QByteArray &summary, const QByteArray &start, const QByteArray &end,
                       const QByteArray &more = QByteArray())
{
    QByteArray children = more;
    if (!end.isEmpty())
        children += el("OPFCalendarEventCopyEndTime", end);
    if (!start.isEmpty())
        children += el("OPFCalendarEventCopyStartTime", start);
    return OlmXml::item(QStringLiteral("appointment"), children + el("OPFCalendarEventCopySummary", summary));
}

QByteArray calendar()
{
    const QByteArray once = el("OPFRecurrencePatternInterval", "1");
    const QByteArray tuesday = el("OPFRecurrencePatternDaysOfWeek", el("tuesday", "1"));
    const QByteArray monday = el("OPFRecurrencePatternDaysOfWeek", el("monday", "1"));
    const QByteArray allDay = el("OPFCalendarEventGetIsAllDayEvent", "1");
    const QByteArray berlin = el("OPFCalendarEventGetStartTimeZoneICSData", kBerlin);
    QVector<QByteArray> items = {
        appointment("Second Tuesday", "2018-06-12T16:00:00", "2018-06-12T17:00:00",
                    repeat(tuesday + once + el("OPFRecurrencePatternType", "OPFRecurrencePatternRelativeMonthly"),
                           counted("6E0"))),
        appointment("Last Monday of May", "2018-05-28T15:00:00", "2018-05-28T16:00:00",
                    repeat(monday + once + el("OPFRecurrencePatternMonth", "5")
                               + el("OPFRecurrencePatternType", "OPFRecurrencePatternRelativeYearly")
                               + el("OPFRecurrencePatternWeek", "5"),
                           counted("3E0"))),
        appointment("Endless daily", "2018-06-01T09:00:00", "2018-06-01T09:30:00",
                    repeat(once + el("OPFRecurrencePatternType", "OPFRecurrencePatternDaily"), counted("1E9"))),
        appointment("Repeated hour", "2018-11-04T07:30:00", "2018-11-04T07:45:00",
                    el("OPFCalendarEventGetStartTimeZoneICSData", kMountain)),
        appointment("All day", "2018-06-20T06:00:00", "2018-06-21T06:00:00", allDay),
        appointment("All day in Tokyo", "2018-06-19T15:00:00", "2018-06-20T15:00:00",
                    allDay + el("OPFCalendarEventGetStartTimeZoneICSData", kTokyo)),
        appointment("Broken", QByteArray(), QByteArray()),
        appointment("No such day", "2018-02-30T10:00:00", "2018-02-30T11:00:00"),
        appointment("Weekly in Mountain time", "2018-06-18T17:30:00", "2018-06-18T18:00:00",
                    repeat(weekly(el("monday", "1")), counted("2.7E1"))
                        + el("OPFCalendarEventGetStartTimeZoneICSData", kMountain)),
        appointment("In New York's spring gap", "2018-03-11T02:30:00", "2018-03-11T03:30:00", berlin),
        appointment("Ends in New York's spring gap", "2018-03-11T01:30:00", "2018-03-11T02:30:00", berlin),
        appointment("In Berlin's spring gap", "2018-03-25T01:30:00", "2018-03-25T02:30:00", berlin),
        appointment("Daily until spring", "2018-03-20T02:30:00", "2018-03-20T03:00:00",
                    berlin
                        + repeat(once + el("OPFRecurrencePatternType", "OPFRecurrencePatternDaily"),
                                 el("OPFRecurrenceCopyEndDate", "2018-03-25T02:30:00")
                                     + el("OPFRecurrenceHasEndDate", "1"))),
        appointment("Monday evening in Los Angeles", "2018-06-19T03:00:00", "2018-06-19T04:00:00",
                    repeat(weekly(el("monday", "1")), counted("1E1"))),
        appointment("Mountain 2005", "2005-07-04T16:00:00", "2005-07-04T17:00:00",
                    repeat(weekly(el("monday", "1")), counted("1E1"))
                        + el("OPFCalendarEventGetStartTimeZoneICSData", kMountain)),
        appointment("Berlin 1965", "1965-07-01T10:00:00", "1965-07-01T11:00:00", berlin),
        appointment("Berlin 1601", "1601-01-15T10:00:00", "1601-01-15T11:00:00", berlin),
        appointment("Day 31", "2018-01-31T10:00:00", "2018-01-31T11:00:00",
                    repeat(el("OPFRecurrencePatternDayOfMonth", "31") + once
                               + el("OPFRecurrencePatternType", "OPFRecurrencePatternAbsoluteMonthly"),
                           counted("1.2E1"))),
        appointment("Sunday and Tuesday", "2018-01-07T10:00:00", "2018-01-07T11:00:00",
                    repeat(weekly(el("sunday", "1") + el("tuesday", "1"), "2"), counted("4"))),
        OlmXml::item(QStringLiteral("appointment"),
                     el("OPFCalendarEventCopyStartTime", "2018-06-01T10:00:00")
                         + "<OPFCalendarEventCopySummary xml:space=\"preserve\">Lost title"),
    };
    QByteArray all;
    for (const QByteArray &item : items)
        all += item;
    return OlmXml::list(QStringLiteral("appointments"), items.size(), all);
}

QByteArray contact(const QByteArray &display, const QByteArray &fields)
{
    return OlmXml::item(QStringLiteral("contact"), fields + el("OPFContactCopyDisplayName", display));
}

QByteArray contacts()
{
    const QByteArray jane = el("OPFContactCopyAnniversary", "2018-06-20T06:00:00")
        + el("OPFContactCopyBusinessOffice", "Engineer")
        + el("OPFContactCopyChildren", el("string", "Bart") + el("string", "Lisa"))
        + el("OPFContactCopyCustom1Data", "dfdf") + el("OPFContactCopyCustomDate1", "2018-06-20T06:00:00")
        + el("OPFContactCopyFirstName", "Jane")
        + el("OPFContactCopyIMAddressList",
             "<contactEmailAddress xml:space=\"preserve\" "
             "OPFContactEmailAddressAddress=\"jane@nosuch.mail\"></contactEmailAddress>")
        + el("OPFContactCopyInterests", "TV") + el("OPFContactCopyLastName", "Doe")
        + el("OPFContactCopySpousesName", "Marge");
    const QByteArray all = contact("Jane Doe", jane)
        + contact("Born 1980", el("OPFContactCopyBirthday", "1980-05-17T06:00:00"))
        + contact("Leap Day", el("OPFContactCopyBirthday", "1960-02-29T07:00:00"))
        + contact("Berlin Midnight", el("OPFContactCopyBirthday", "1985-03-09T23:00:00"))
        + contact("Holiday Person",
                  el("OPFContactCopyAstrologySign", "Pices")
                      + el("OPFContactCopyCategoryList",
                           "<category xml:space=\"preserve\" OPFCategoryCopyName=\"Holiday\"></category>"))
        + OlmXml::item(QStringLiteral("contact"), el("OPFContactType", "0"));
    return OlmXml::list(QStringLiteral("contacts"), 6, all);
}

QByteArray tasks()
{
    const QByteArray longName =
        OlmXml::item(QStringLiteral("task"),
                     el("OPFTaskCopyName", QByteArray(300, 'T') + " &amp; end") + el("OPFTaskGetPriority", "3"));
    const QByteArray done =
        OlmXml::item(QStringLiteral("task"),
                     el("OPFTaskCopyCompletedDateTime", "2018-06-21T03:17:02")
                         + el("OPFTaskCopyDueDateTime", "2018-06-20T06:00:00") + el("OPFTaskCopyName", "Done task"));
    const auto task = [](const QByteArray &name, const QByteArray &fields) {
        return OlmXml::item(QStringLiteral("task"), fields + el("OPFTaskCopyName", name));
    };
    const auto both = [](const QByteArray &time) {
        return el("OPFTaskCopyDueDateTime", time) + el("OPFTaskCopyStartDateTime", time);
    };
    const QByteArray more = task("Berlin Wednesday",
                                 both("2018-06-19T22:00:00")
                                     + repeat(weekly(el("wednesday", "1")), counted("1E1"), "OPFTaskCopyRecurrence"))
        + task("Tokyo 20th",
               both("2018-06-19T15:00:00")
                   + repeat(el("OPFRecurrencePatternDayOfMonth", "20") + el("OPFRecurrencePatternInterval", "1")
                                + el("OPFRecurrencePatternType", "OPFRecurrencePatternAbsoluteMonthly"),
                            counted("6"), "OPFTaskCopyRecurrence"))
        + task("Plain note", el("OPFTaskCopyNotePlain", "Call back\nat noon, &lt;sharp&gt;"))
        + task("Two\nlines", el("OPFTaskCopyDueDateTime", "2010-05-06T10:20:30Z"))
        + task("Bad due", el("OPFTaskCopyDueDateTime", "2018-13-45"))
        + task("Ended early", el("OPFTaskCopyDueDateTime", "2018-06-20")
                                  + repeat(el("OPFRecurrencePatternInterval", "1")
                                               + el("OPFRecurrencePatternType", "OPFRecurrencePatternDaily"),
                                           el("OPFRecurrenceCopyEndDate", "2018-06-19T00:00:00")
                                               + el("OPFRecurrenceHasEndDate", "1"),
                                           "OPFTaskCopyRecurrence"))
        + OlmXml::item(QStringLiteral("task"), el("OPFTaskGetPriority", "3"));
    return OlmXml::list(QStringLiteral("tasks"), 9, longName + done + more);
}

QByteArray notes()
{
    const QByteArray longTitle = OlmXml::item(QStringLiteral("note"),
                                              el("OPFNoteCopyText", "&lt;p&gt;text&lt;/p&gt;")
                                                  + el("OPFNoteCopyTitle", QByteArray(300, 'N') + " &amp; title"));
    const QByteArray lines = OlmXml::item(
        QStringLiteral("note"), el("OPFNoteCopyText", "one\ntwo\n\nthree\x07") + el("OPFNoteCopyTitle", "Lines"));
    const QByteArray typed = OlmXml::item(
        QStringLiteral("note"),
        el("OPFNoteCopyText", "Send the contract to John Smith &lt;john.smith@example.org&gt; by Friday\n"
                              "  if a&lt;b and c&gt;d then swap; x &lt; y\n&amp;lt;br&amp;gt;")
            + el("OPFNoteCopyTitle", "Typed"));
    const QByteArray empty =
        OlmXml::item(QStringLiteral("note"), el("OPFNoteCopyText", "") + el("OPFNoteCopyTitle", ""));
    return OlmXml::list(QStringLiteral("notes"), 4, longTitle + lines + typed + empty);
}

QByteArray archive()
{
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"), calendar());
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), contacts());
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), tasks());
    b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), notes());
    return b.finish();
}

// The item files below root, each by its name and without its DTSTAMP lines (the save's time),
// sorted: what must not differ between machines nor between two scans of one archive.
QStringList itemFiles(const QString &root)
{
    QStringList found;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QStringList kept;
        for (const QString &line : QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"))) {
            if (!line.startsWith(QLatin1String("DTSTAMP:")))
                kept << line;
        }
        found << QFileInfo(path).dir().dirName() + QLatin1Char('/') + QFileInfo(path).fileName() + QLatin1Char('|')
                + kept.join(QLatin1Char('\n'));
    }
    found.sort();
    return found;
}

// Midnight of day, or the wall time, in the IANA zone, as the archive stores it (UTC).
QByteArray storedAt(const char *zone, const QDate &day, const QTime &time = QTime(0, 0))
{
    return QDateTime(day, time, QTimeZone(zone)).toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
}

// Tasks due on 15 January 2019 alone, repeating daily up to the user's midnight of the 20th, of
// the 15th and of the 14th.
QByteArray dueDateRepeats(const char *zone)
{
    const auto task = [zone](const QByteArray &name, int lastDay) {
        const QByteArray ends = el("OPFRecurrenceCopyEndDate", storedAt(zone, QDate(2019, 1, lastDay)))
            + el("OPFRecurrenceHasEndDate", "1");
        const QByteArray daily = el("OPFRecurrencePatternInterval", "1")
            + el("OPFRecurrencePatternType", "OPFRecurrencePatternDaily");
        return OlmXml::item(QStringLiteral("task"), el("OPFTaskCopyDueDateTime", "2019-01-15")
                                                        + repeat(daily, ends, "OPFTaskCopyRecurrence")
                                                        + el("OPFTaskCopyName", name));
    };
    return task("Due daily to the 20th", 20) + task("Due daily to its day", 15) + task("Due daily to the 14th", 14);
}

// The archive of a user in zone (IANA name) whose items carry zoneData: two meetings with it,
// birthdays, an all-day event and repeats (events and tasks) without it, contacts with pictures,
// a typed note.
QByteArray pacificArchive(const char *zone, const char *zoneData)
{
    const QByteArray tz = el("OPFCalendarEventGetStartTimeZoneICSData", zoneData);
    const QByteArray thirty = el("OPFRecurrenceGetOccurenceCount", "30") + el("OPFRecurrenceIsNumbered", "1");
    const QByteArray twelve = el("OPFRecurrenceGetOccurenceCount", "12") + el("OPFRecurrenceIsNumbered", "1");
    const QByteArray events =
        appointment("Meeting", storedAt(zone, QDate(2019, 3, 4), QTime(10, 0)),
                    storedAt(zone, QDate(2019, 3, 4), QTime(11, 0)), tz)
        + appointment("Lunch", storedAt(zone, QDate(2019, 3, 5), QTime(12, 0)),
                      storedAt(zone, QDate(2019, 3, 5), QTime(13, 0)), tz)
        + appointment("New Year", storedAt(zone, QDate(2019, 1, 1)), storedAt(zone, QDate(2019, 1, 2)),
                      el("OPFCalendarEventGetIsAllDayEvent", "1"))
        + appointment("Wednesday standup", storedAt(zone, QDate(2019, 1, 16), QTime(8, 0)),
                      storedAt(zone, QDate(2019, 1, 16), QTime(8, 15)), repeat(weekly(el("wednesday", "1")), thirty))
        + appointment("Early Wednesday", storedAt(zone, QDate(2019, 1, 16), QTime(1, 0)),
                      storedAt(zone, QDate(2019, 1, 16), QTime(1, 30)), repeat(weekly(el("wednesday", "1")), thirty))
        + appointment("First of the month", storedAt(zone, QDate(2019, 2, 1), QTime(9, 0)),
                      storedAt(zone, QDate(2019, 2, 1), QTime(10, 0)),
                      repeat(el("OPFRecurrencePatternDayOfMonth", "1") + el("OPFRecurrencePatternInterval", "1")
                                 + el("OPFRecurrencePatternType", "OPFRecurrencePatternAbsoluteMonthly"),
                             twelve));
    const QByteArray people =
        contact("Born 15 January", el("OPFContactCopyBirthday", storedAt(zone, QDate(2000, 1, 15))))
        + contact("Born 15 July", el("OPFContactCopyBirthday", storedAt(zone, QDate(2000, 7, 15))))
        + contact("PNG Person", el("OPFContactAddPicture", kPngBase64))
        + contact("JPEG Person", el("OPFContactAddPicture", QByteArray(kJpegBase64).replace("=", "=\r\n ")))
        + contact("Broken Picture", el("OPFContactAddPicture", "iVBOR*0KGgo="));
    const QByteArray note =
        OlmXml::item(QStringLiteral("note"), el("OPFNoteCopyText", "&lt;br&gt; &lt;anna@example.com&gt; &amp;amp;")
                                                 + el("OPFNoteCopyTitle", "Typed"));
    // Tasks carry no zone: the same repeats as to-dos.
    const auto task = [](const QByteArray &name, const QByteArray &time, const QByteArray &recurrence) {
        return OlmXml::item(QStringLiteral("task"), el("OPFTaskCopyDueDateTime", time) + recurrence
                                                        + el("OPFTaskCopyName", name)
                                                        + el("OPFTaskCopyStartDateTime", time));
    };
    const QByteArray weeklyTask = repeat(weekly(el("wednesday", "1")), thirty, "OPFTaskCopyRecurrence");
    const QByteArray todos =
        task("Wednesday task", storedAt(zone, QDate(2019, 1, 16), QTime(8, 0)), weeklyTask)
        + task("Early Wednesday task", storedAt(zone, QDate(2019, 1, 16), QTime(1, 0)), weeklyTask)
        + task("First of the month task", storedAt(zone, QDate(2019, 2, 1), QTime(9, 0)),
               repeat(el("OPFRecurrencePatternDayOfMonth", "1") + el("OPFRecurrencePatternInterval", "1")
                          + el("OPFRecurrencePatternType", "OPFRecurrencePatternAbsoluteMonthly"),
                      twelve, "OPFTaskCopyRecurrence"))
        + dueDateRepeats(zone);
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"), OlmXml::list(QStringLiteral("appointments"), 6, events));
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"), OlmXml::list(QStringLiteral("tasks"), 6, todos));
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), OlmXml::list(QStringLiteral("contacts"), 5, people));
    b.addEntry(QStringLiteral("Local/Notes/Notes.xml"), OlmXml::list(QStringLiteral("notes"), 1, note));
    return b.finish();
}

// A store of every kind; later: the same with one item added and one edited in each, and each
// store's items in reverse order. "Twice" items are held twice, alike.
QByteArray laterExportArchive(bool later)
{
    const auto store = [later](const char *list, QVector<QByteArray> items, const QByteArray &added) {
        if (later) {
            items.append(added);
            std::reverse(items.begin(), items.end());
        }
        QByteArray all;
        for (const QByteArray &item : items)
            all += item;
        return OlmXml::list(QString::fromLatin1(list), items.size(), all);
    };
    const auto event = [](const QByteArray &title, const QByteArray &more) {
        return appointment(title, "2019-03-04T10:00:00", "2019-03-04T11:00:00", more);
    };
    const auto task = [](const QByteArray &name, const QByteArray &more) {
        return OlmXml::item(QStringLiteral("task"), more + el("OPFTaskCopyName", name));
    };
    const auto note = [](const QByteArray &title, const QByteArray &text) {
        return OlmXml::item(QStringLiteral("note"), el("OPFNoteCopyText", text) + el("OPFNoteCopyTitle", title));
    };
    const QByteArray edit = later ? QByteArray("edited") : QByteArray("as first");
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"),
               store("appointments",
                     {event("Standup", el("OPFCalendarEventCopyUUID", "8C1E0A52-55E4-4C53-9C5E-0C2B1E0C6A11")),
                      event("Lunch", QByteArray()), event("Review", el("OPFCalendarEventCopyLocation", edit)),
                      event("Twice", QByteArray()), event("Twice", QByteArray())},
                     event("Added", QByteArray())));
    b.addEntry(QStringLiteral("Local/Tasks/Tasks.xml"),
               store("tasks",
                     {task("Task one", QByteArray()), task("Task two", el("OPFTaskCopyNotePlain", edit)),
                      task("Twice task", QByteArray()), task("Twice task", QByteArray())},
                     task("Added task", QByteArray())));
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"),
               store("contacts",
                     {contact("Ann", QByteArray()), contact("Bob", el("OPFContactCopySpousesName", edit)),
                      contact("Cy", QByteArray()), contact("Cy", QByteArray())},
                     contact("Dee", QByteArray())));
    b.addEntry(
        QStringLiteral("Local/Notes/Notes.xml"),
        store("notes",
              {note("Note one", "one"), note("Note two", edit), note("Twice note", "same"), note("Twice note", "same")},
              note("Added note", "new")));
    return b.finish();
}

// The item files below root by folder and title (SUMMARY, FN or a text's first line), each with
// its file name and UID, sorted.
QMap<QString, QStringList> fileIdentities(const QString &root)
{
    QMap<QString, QStringList> found;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        QString title = lines.value(0), uid;
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1String("SUMMARY:")) || line.startsWith(QLatin1String("FN:")))
                title = line.section(QLatin1Char(':'), 1);
            else if (line.startsWith(QLatin1String("UID:")))
                uid = line.mid(4);
        }
        QStringList &names = found[QFileInfo(path).dir().dirName() + QLatin1Char('|') + title];
        names << QFileInfo(path).fileName() + QLatin1Char('|') + uid;
        names.sort();
    }
    return found;
}

// The UID lines of the cards below root, sorted.
QStringList cardUids(const QString &root)
{
    QStringList uids;
    QDirIterator it(root, {QStringLiteral("*.vcf")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            uids << QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n")).filter(QRegularExpression("^UID:"));
    }
    uids.sort();
    return uids;
}

QByteArray sample()
{
    QFile file(QStringLiteral(OLM_SOURCE_DIR "/tests/data/outlook_example.olm"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class PimReadBackTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetRunFlags(); }
    void cleanup()
    {
        FreeScanState();
        m_archive.reset();
        ReminderHooks::record = nullptr;
        qputenv("TZ", "UTC");
        tzset();
    }
    void readersAgree_data();
    void readersAgree();
    void sameOnEveryMachine_data();
    void sameOnEveryMachine();
    void eastAndWestOfTheDateLine_data();
    void eastAndWestOfTheDateLine();
    void laterExportKeepsNames_data();
    void laterExportKeepsNames();

private:
    // Saves archive as type on a machine in zone; the outcome, and the output root.
    bool save(const QByteArray &archive, int type, const char *zone, SaveOutcome *outcome, QString *root);
    // pim_readback.py on the output: its PROBLEM lines, empty when the readers agree.
    QString readBack(const QString &root, const char *what, const QStringList &more = {});
    std::unique_ptr<ArchiveFile> m_archive;
    QTemporaryDir m_dest;
};

bool PimReadBackTest::save(const QByteArray &archive, int type, const char *zone, SaveOutcome *outcome, QString *root)
{
    qputenv("TZ", zone);
    tzset();
    const QString dest = m_dest.path() + QLatin1Char('/') + QString::number(type) + QLatin1Char('-')
        + QString::fromLatin1(zone).replace(QLatin1Char('/'), QLatin1Char('_')) + QString::number(archive.size());
    if (!QDir().mkpath(dest) || !ScanAndStartTestSave(m_archive, archive, SaveType(type), dest))
        return false;
    QMailSavingThread thread;
    if (!thread.SetInitialSettings(QString(), IndexFor(SaveType(type))) || !thread.wait(120000))
        return false;
    *outcome = thread.outcome();
    *root = OutputRootFor(SaveType(type), saveDir, strTime);
    FreeScanState();
    m_archive.reset();
    return true;
}

QString PimReadBackTest::readBack(const QString &root, const char *what, const QStringList &more)
{
    QProcess check;
    check.start(QStringLiteral("/usr/bin/python3"),
                QStringList{QStringLiteral(OLM_SOURCE_DIR "/tests/save/pim_readback.py"), root, QString::fromLatin1(what)}
                    + more);
    if (!check.waitForFinished(120000) || check.exitCode() != 0)
        return QStringLiteral("the check did not run: ") + QString::fromUtf8(check.readAllStandardError());
    const QString output = QString::fromUtf8(check.readAllStandardOutput());
    const QStringList problems = output.split(QLatin1Char('\n')).filter(QLatin1String("PROBLEM"));
    return problems.isEmpty() ? QString() : problems.join(QLatin1Char('\n')) + QLatin1Char('\n') + output;
}

void PimReadBackTest::readersAgree_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("zone");
    for (const char *zone : kZones) {
        QTest::newRow(qPrintable(QStringLiteral("package, %1").arg(zone))) << int(SaveTypeRGE) << QByteArray(zone);
        QTest::newRow(qPrintable(QStringLiteral("Apple Mail, %1").arg(zone))) << int(SaveTypeMBOX) << QByteArray(zone);
    }
}

void PimReadBackTest::readersAgree()
{
    QFETCH(int, type);
    QFETCH(QByteArray, zone);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    SaveOutcome outcome;
    QString root;
    QVERIFY(save(archive(), type, zone.constData(), &outcome, &root));

    // The two events without a real start and the task, note and contact without anything to
    // save are counted not saved, each named with why.
    const QString failures = outcome.failures.join(QLatin1Char('\n'));
    QCOMPARE(outcome.failed, qint64(4));
    for (const char *words : {"\"Broken\"", "no start time", "\"No such day\"", "(2018-02-30T10:00:00) is no real date",
                              "it holds no name, note, priority, time or state", "it holds no name or other field"})
        QVERIFY2(failures.contains(QLatin1String(words)), qPrintable(failures));
    // What no field holds, or could not be read, is named for its item.
    const QString incomplete = outcome.incompletes.join(QLatin1Char('\n'));
    QCOMPARE(outcome.incomplete, qint64(5));
    for (const char *words : {"Jane Doe", "Custom 1, Custom date 1, business office, interests", "Holiday Person",
                              "astrology sign", "its XML is not well-formed (a close tag that does not match", "\"Bad due\"",
                              "its due time (2018-13-45) is no real date", "\"Ended early\"",
                              "its repeat ends (2018-06-19T00:00:00) before its first occurrence"})
        QVERIFY2(incomplete.contains(QLatin1String(words)), qPrintable(incomplete));

    const QString problems = readBack(root, "cases");
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

void PimReadBackTest::sameOnEveryMachine_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("isSample");
    QTest::newRow("package, the sample") << int(SaveTypeRGE) << true;
    QTest::newRow("Apple Mail, the sample") << int(SaveTypeMBOX) << true;
    QTest::newRow("package, the cases") << int(SaveTypeRGE) << false;
    QTest::newRow("Apple Mail, the cases") << int(SaveTypeMBOX) << false;
}

// Whatever the converting machine's zone, the item files are the same; the sample's repeats
// come back at their own local times.
void PimReadBackTest::sameOnEveryMachine()
{
    QFETCH(int, type);
    QFETCH(bool, isSample);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    const QByteArray bytes = isSample ? sample() : archive();
    QVERIFY(!bytes.isEmpty());
    QStringList first, firstUids;
    for (const char *zone : kZones) {
        SaveOutcome outcome;
        QString root;
        QVERIFY(save(bytes, type, zone, &outcome, &root));
        // Each save gives each card the UID of the first, so address books see the same contacts.
        const QStringList uids = cardUids(root + QStringLiteral("/Contacts"));
        QVERIFY(!uids.isEmpty() && QSet<QString>(uids.begin(), uids.end()).size() == uids.size());
        if (firstUids.isEmpty())
            firstUids = uids;
        QCOMPARE(uids, firstUids);
        const QStringList files = itemFiles(root + QStringLiteral("/Calendar")) + itemFiles(root + QStringLiteral("/Tasks"))
            + itemFiles(root + QStringLiteral("/Contacts")) + itemFiles(root + QStringLiteral("/Notes"));
        QVERIFY(!files.isEmpty());
        if (first.isEmpty())
            first = files;
        QVERIFY2(files == first, zone);
        if (isSample) {
            const QString problems = readBack(root, "sample");
            QVERIFY2(problems.isEmpty(), qPrintable(QString::fromLatin1(zone) + QLatin1Char('\n') + problems));
        }
    }
}

void PimReadBackTest::eastAndWestOfTheDateLine_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("zoneData");
    const QList<QPair<const char *, const char *>> zones = {
        {"Pacific/Auckland", kAucklandZone}, {"Pacific/Kiritimati", kKiritimatiZone}, {"Pacific/Tongatapu", kTongaZone},
        {"Pacific/Pago_Pago", kPagoPagoZone}};
    for (const auto &z : zones) {
        QTest::newRow(qPrintable(QStringLiteral("package, %1").arg(z.first)))
            << int(SaveTypeRGE) << QByteArray(z.first) << QByteArray(z.second);
        QTest::newRow(qPrintable(QStringLiteral("Apple Mail, %1").arg(z.first)))
            << int(SaveTypeMBOX) << QByteArray(z.first) << QByteArray(z.second);
    }
}

// Archives of users east of UTC+12 and west of UTC-10: birthdays, all-day events and repeats
// without zone data on their own days at their own times, pictures whole, a typed note as typed;
// the same files on every machine.
void PimReadBackTest::eastAndWestOfTheDateLine()
{
    QFETCH(int, type);
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, zoneData);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    const QByteArray bytes = pacificArchive(zone.constData(), zoneData.constData());
    const QString archivePath = m_dest.path() + QStringLiteral("/pacific.olm");
    QFile archiveFile(archivePath);
    QVERIFY(archiveFile.open(QIODevice::WriteOnly | QIODevice::Truncate) && archiveFile.write(bytes) == bytes.size());
    archiveFile.close();
    QStringList first;
    for (const char *machine : {"UTC", "America/Denver", "Europe/Berlin", "Australia/Lord_Howe", "Pacific/Auckland",
                                "Pacific/Kiritimati", "Pacific/Tongatapu"}) {
        SaveOutcome outcome;
        QString root;
        QVERIFY(save(bytes, type, machine, &outcome, &root));
        QCOMPARE(outcome.failed, qint64(0));
        QCOMPARE(outcome.incomplete, qint64(2));
        const QString incomplete = outcome.incompletes.join(QLatin1Char('\n'));
        for (const char *words : {"\"Broken Picture\"", "its picture is not readable", "\"Due daily to the 14th\"",
                                  "written as a single item, its repeat ends"})
            QVERIFY2(incomplete.contains(QLatin1String(words)), qPrintable(incomplete));
        const QStringList files = itemFiles(root + QStringLiteral("/Calendar")) + itemFiles(root + QStringLiteral("/Contacts"))
            + itemFiles(root + QStringLiteral("/Notes")) + itemFiles(root + QStringLiteral("/Tasks"));
        if (first.isEmpty()) {
            first = files;
            const QString problems =
                readBack(root, "pacific", {QString::fromLatin1(zone), archivePath});
            QVERIFY2(problems.isEmpty(), qPrintable(problems));
        }
        QVERIFY2(files == first, machine);
    }
}

void PimReadBackTest::laterExportKeepsNames_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("package") << int(SaveTypeRGE);
    QTest::newRow("Apple Mail") << int(SaveTypeMBOX);
}

// A later export of the same mailbox, with items added, edited and moved: every unchanged item
// keeps its file name and UID, so importing both saves gives no second copy of it.
void PimReadBackTest::laterExportKeepsNames()
{
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QMap<QString, QStringList> saved[2];
    for (const bool later : {false, true}) {
        SaveOutcome outcome;
        QString root;
        QVERIFY(save(laterExportArchive(later), type, "Europe/Berlin", &outcome, &root));
        saved[later] = fileIdentities(root + QStringLiteral("/Calendar"));
        for (const char *kind : {"/Tasks", "/Contacts", "/Notes"}) {
            const QMap<QString, QStringList> more = fileIdentities(root + QLatin1String(kind));
            for (auto it = more.begin(); it != more.end(); ++it)
                saved[later].insert(it.key(), it.value());
        }
    }
    QCOMPARE(saved[1].size(), saved[0].size() + 4);
    int kept = 0;
    for (auto it = saved[0].begin(); it != saved[0].end(); ++it) {
        const bool twice = it.key().contains(QLatin1String("Twice")) || it.key().endsWith(QLatin1String("|Cy"));
        QCOMPARE(it.value().size(), twice ? 2 : 1);
        // Two equal items: two names and two UIDs.
        const auto part = [&it](int i, int which) {
            return it.value().value(i).section(QLatin1Char('|'), which, which);
        };
        QVERIFY(!twice || (part(0, 0) != part(1, 0) && (part(0, 1).isEmpty() || part(0, 1) != part(1, 1))));
        const bool edited = it.key().contains(QLatin1String("Review")) || it.key().contains(QLatin1String("Task two"))
            || it.key().endsWith(QLatin1String("|Bob")) || it.key().contains(QLatin1String("Note two"));
        if (edited)
            continue;
        QVERIFY2(saved[1].value(it.key()) == it.value(), qPrintable(it.key()));
        ++kept;
    }
    QCOMPARE(kept, saved[0].size() - 4);
}

QTEST_GUILESS_MAIN(PimReadBackTest)
#include "tst_pimreadback.moc"
