// Calendar items: one iCalendar file (.ics) holding one event per item, in the output's
// Calendar folder. Times are written in the item's zone or as UTC instants; all-day events as
// the dates they have in their zone.

#include "save/MessageFields.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "save/SaveRun.h"
#include "save/pim/CalendarRules.h"
#include "save/pim/PimDates.h"
#include "save/pim/PimFiles.h"
#include "save/pim/PimItems.h"
#include "save/pim/PimText.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QPair>
#include <QStringList>

namespace {

constexpr std::string_view kEventEnd = "</appointment>";
const char kCalendarProdId[] = "-//Microsoft Corporation//Zovuvoziv Mac 11.0 MIMEDIR//EN";

QByteArray utcText(qint64 seconds)
{
    const QByteArray packed = PackedWallTime(seconds);
    return packed.isEmpty() ? packed : packed + 'Z';
}

// A start or end time as property name and value: in the event's own zone when the archive
// gives one readers can use (so a repeating meeting keeps its local time across clock changes),
// else as a UTC instant; an all-day event's as the date it has in its zone, read as every
// date-only value is. A local time that could name two instants (the hour repeated when clocks go
// back), one before the zone data that readers read alike, or one where the zone's history and
// the block give other offsets (readers that take the zone by its name would move it), is
// written in UTC. Empty when the archive gives no usable time.
QPair<QByteArray, QByteArray> timeProperty(const char *name, const QString &text, bool allDay, const ZoneRules &zone,
                                           const ZoneRules *archiveZone)
{
    if (allDay)
        return {QByteArray(name) + ";VALUE=DATE", ArchiveDateLocalDay(text, zone.isValid() ? &zone : archiveZone)};
    qint64 seconds = 0;
    if (zone.isValid() && ArchiveSeconds(text, &seconds)) {
        if (zone.covers(seconds) && zone.localTimeIsUnique(seconds) && zone.historyAgrees(seconds))
            return {QByteArray(name) + ';' + zone.tzidParameter(), zone.localTime(seconds)};
        return {QByteArray(name), utcText(seconds)};
    }
    return {QByteArray(name), ArchiveDateUtc(text)};
}

void addTime(ContentLines &lines, const QPair<QByteArray, QByteArray> &property)
{
    if (!property.second.isEmpty())
        lines.add(property.first, property.second);
}

// RRULE's UNTIL in the form DTSTART has: a date for an all-day event, else a UTC instant.
QByteArray untilValue(const QString &endText, bool allDay, const ZoneRules &zone, const ZoneRules *archiveZone)
{
    qint64 seconds = 0;
    if (!ArchiveSeconds(endText, &seconds))
        return QByteArray();
    if (!allDay)
        return utcText(seconds);
    // As the event's own days: never the converting machine's zone.
    return ArchiveDateLocalDay(endText, zone.isValid() ? &zone : archiveZone);
}

// The end, unless it is not after the start: such a DTEND makes the file invalid. *lost says
// why an end before the start is left out; one equal to the start loses nothing.
QPair<QByteArray, QByteArray> endProperty(const QString &start, const QString &end, bool allDay, const ZoneRules &zone,
                                          const ZoneRules *archiveZone, QString *lost)
{
    const auto property = timeProperty("DTEND", end, allDay, zone, archiveZone);
    qint64 from = 0, to = 0;
    if (property.second.isEmpty() || !ArchiveSeconds(start, &from) || !ArchiveSeconds(end, &to))
        return property;
    const QByteArray startValue = timeProperty("DTSTART", start, allDay, zone, archiveZone).second;
    const bool after = allDay ? property.second > startValue : to > from;
    if (after)
        return property;
    if (to < from)
        *lost = QStringLiteral("its end (%1) is before its start, so it is written without one").arg(end.trimmed());
    return {};
}

// The zone a timed item is written in from its start to spanEnd: the block where it agrees with
// the history of the zone it names (readers by name and by block read it alike), else that
// history stated as a block, so every occurrence keeps its wall time.
ZoneRules zoneOver(const ZoneRules &zone, qint64 startSeconds, qint64 spanEnd)
{
    const qint64 end = qMax(startSeconds, spanEnd);
    if (!zone.hasHistory() || (zone.covers(startSeconds) && zone.historyAgreesOver(startSeconds, end)))
        return zone;
    return zone.withHistoryOver(startSeconds, end);
}

struct EventTimes {
    ZoneRules zone;
    QPair<QByteArray, QByteArray> dtStart;  // empty value: no usable start
    RepeatRule repeat;
};

// The start and repeat rule of an event in givenZone. A repeat that starts before its zone data
// keeps its local time when the data's rules are stated from its start on, or where the zone is
// named, when its history is; a single time before zone data without a name is written in UTC,
// which every reader takes alike.
EventTimes timesIn(const ZoneRules &givenZone, const QString &start, qint64 spanEnd, bool allDay,
                   const QString &recurrence, const ZoneRules *archiveZone)
{
    EventTimes times{givenZone, {}, {}};
    qint64 startSeconds = 0;
    const bool known = ArchiveSeconds(start, &startSeconds);
    const ZoneRules single = known && !allDay ? zoneOver(givenZone, startSeconds, spanEnd) : givenZone;
    times.zone = single;
    if (known && !recurrence.trimmed().isEmpty()) {
        const qint64 seriesEnd = qMax(spanEnd, RepeatSpanEnd(recurrence, startSeconds));
        times.zone = (allDay ? givenZone : zoneOver(givenZone, startSeconds, seriesEnd)).extendedTo(startSeconds);
    }
    times.dtStart = timeProperty("DTSTART", start, allDay, times.zone, archiveZone);
    if (times.dtStart.second.isEmpty())
        return times;
    const ZoneRules &zone = times.zone;
    const auto until = [&](const QString &endText) { return untilValue(endText, allDay, zone, archiveZone); };
    // A start in UTC may lie on another day than the one the pattern counts from.
    times.repeat = times.dtStart.second.endsWith('Z')
        ? ZonelessRepeatRule(recurrence, until, times.dtStart.second)
        : FittedToStart(RepeatRuleOf(recurrence, until, times.dtStart.second), times.dtStart.second);
    QString repeatEnd;
    // Readers show nothing of a rule that ends before it starts: the first occurrence stands.
    if (times.repeat.kind == RepeatRule::Rule && RepeatEndsBefore(recurrence, startSeconds, &repeatEnd))
        times.repeat = RepeatRule{RepeatRule::Unsupported, QByteArray(),
                                  QStringLiteral("its repeat ends (%1) before its first occurrence").arg(repeatEnd)};
    if (times.repeat.kind != RepeatRule::Rule) {
        times.zone = single;
        times.dtStart = timeProperty("DTSTART", start, allDay, single, archiveZone);
    }
    return times;
}

}  // namespace

void AddReminderAlarm(ContentLines &lines, const QByteArray &property, const QByteArray &trigger)
{
    lines.add("BEGIN", QByteArray("VALARM"));
    lines.add("ACTION", QByteArray("DISPLAY"));
    lines.add("DESCRIPTION", QByteArray("Reminder"));
    lines.add(property, trigger);
    lines.add("END", QByteArray("VALARM"));
}

void AddZoneBlock(ContentLines &lines, const ZoneRules &zone)
{
    for (const QByteArray &line : zone.lines()) {
        const int colon = line.indexOf(':');
        lines.add(line.left(colon), line.mid(colon + 1));
    }
}

QByteArray CalendarEventFile(const CalenderInformation &rec, const QString &uid, std::string_view element,
                             const QByteArray &description, const QByteArray &now, QString *unwritten,
                             const ZoneRules *archiveZone, bool ownIdTaken)
{
    const auto text = [&](const char *tag) { return ItemElementText(element, kEventEnd, tag); };
    const QString start = text("<OPFCalendarEventCopyStartTime");
    const QString end = text("<OPFCalendarEventCopyEndTime");
    const bool allDay = text("<OPFCalendarEventGetIsAllDayEvent") == QLatin1String("1");
    QByteArray stamp = ArchiveDateUtc(text("<OPFCalendarEventCopyModDate"));
    if (stamp.isEmpty())
        stamp = now;
    const QString eventUid = text("<OPFCalendarEventCopyUUID");
    const ZoneRules ownZone(text("<OPFCalendarEventGetStartTimeZoneICSData"));
    const QString recurrence = text("<OPFCalendarEventCopyRecurrence");
    // A repeat without zone data is the user's: in the zone the archive shows it keeps its local
    // time and its days across that zone's clock changes.
    const bool borrowsZone =
        !ownZone.isValid() && archiveZone && archiveZone->isValid() && !recurrence.trimmed().isEmpty();
    qint64 endSeconds = 0;
    ArchiveSeconds(end, &endSeconds);
    EventTimes times =
        timesIn(borrowsZone ? *archiveZone : ownZone, start, endSeconds, allDay, recurrence, archiveZone);
    // A pattern that names no day of its start there belongs to another zone: its UTC days are tried.
    if (borrowsZone && times.repeat.kind == RepeatRule::Unsupported)
        times = timesIn(ownZone, start, endSeconds, allDay, recurrence, archiveZone);
    const ZoneRules &zone = times.zone;
    const auto &dtStart = times.dtStart;
    const RepeatRule &repeat = times.repeat;
    if (dtStart.second.isEmpty()) {
        // Every event needs a start: without one there is no valid file to write.
        if (unwritten)
            *unwritten = start.isEmpty() ? QStringLiteral("it has no start time")
                                         : QStringLiteral("its start time (%1) is no real date and time").arg(start);
        return QByteArray();
    }
    QStringList lost;
    if (repeat.kind == RepeatRule::Unsupported)
        lost << QStringLiteral("written as a single item, ") + repeat.reason;
    QString endLost;
    const auto dtEnd = endProperty(start, end, allDay, zone, archiveZone, &endLost);
    if (!endLost.isEmpty())
        lost << endLost;
    else if (!end.isEmpty() && timeProperty("DTEND", end, allDay, zone, archiveZone).second.isEmpty())
        lost << QStringLiteral("its end time (%1) is no real date and time").arg(end);
    for (const auto &time : {qMakePair(QStringLiteral("start"), start), qMakePair(QStringLiteral("end"), end)}) {
        if (ArchiveTimeMoved(time.second))
            lost << QStringLiteral("its %1 time (%2) names no real time of day, so the nearest one is written")
                        .arg(time.first, time.second.trimmed());
    }
    const QString summary = rec.pSummary ? QString::fromUtf8(rec.pSummary) : text("<OPFCalendarEventCopySummary");
    const QString location = rec.pLocation ? QString::fromUtf8(rec.pLocation) : text("<OPFCalendarEventCopyLocation");
    // An element that is opened but never closed has a value no one can read back.
    if (summary.isEmpty() && ItemElementUnreadable(element, kEventEnd, "<OPFCalendarEventCopySummary"))
        lost << QStringLiteral("its title could not be read");
    if (location.isEmpty() && ItemElementUnreadable(element, kEventEnd, "<OPFCalendarEventCopyLocation"))
        lost << QStringLiteral("its location could not be read");
    if (unwritten)
        *unwritten = lost.join(QStringLiteral("; "));

    ContentLines lines;
    AddCalendarHead(lines, kCalendarProdId);
    if (zone.isValid() && !allDay)
        AddZoneBlock(lines, zone);
    lines.add("BEGIN", QByteArray("VEVENT"));
    lines.add("UID", EscapeText(eventUid.isEmpty() || ownIdTaken ? uid : eventUid));
    lines.add("DTSTAMP", stamp);
    lines.addText("SUMMARY", summary);
    lines.addText("LOCATION", location);
    if (rec.dwDescriptionLength != 0)
        lines.addStoredText("DESCRIPTION", PlainElementBytes(description));
    addTime(lines, dtStart);
    addTime(lines, dtEnd);
    if (repeat.kind == RepeatRule::Rule)
        lines.add("RRULE", repeat.rrule);
    const QByteArray categories = CategoriesValue(
        ItemCategoryNames(element, kEventEnd, "<OPFCalendarEventCopyCategoryList"), text("<OPFCategoryCopyName"));
    if (!categories.isEmpty())
        lines.add("CATEGORIES", categories);
    bool ok = false;
    const qint64 delta = text("<OPFCalendarEventCopyReminderDelta").toLongLong(&ok);
    if (text("<OPFCalendarEventGetHasReminder") == QLatin1String("1") && ok && delta >= 0 && delta < 366LL * 86400)
        AddReminderAlarm(lines, "TRIGGER", ReminderTrigger(delta));
    lines.add("END", QByteArray("VEVENT"));
    lines.add("END", QByteArray("VCALENDAR"));
    return lines.bytes();
}

void QMailSavingThread::OnCalenderSaving(unsigned long long folderId)
{
    SaveRun *run = currentRun();
    if (!run)
        return;
    const PimFile target{PimItemFolder(run->mail, appmaildata, QStringLiteral("Calendar")), QString(),
                         QStringLiteral(".ics"), 0, 0};
    const QVector<const CalenderInformation *> records = run->calendar.of(qint64(folderId));
    const QByteArray now = SaveTimeUtc(run->mail.strTime);
    for (int i = 0; i < records.size(); ++i) {
        if (stopRequested())
            return;
        const CalenderInformation &rec = *records.at(i);
        reportItem(QStringLiteral("Saving Calender Folders..."));

        const QByteArray element = ReadArchiveBytes(rec.llItemOffset, rec.dwItemLength);
        const QByteArray description =
            LongTextOf(element, rec.llItemOffset, rec.dwDescriptionOffset, rec.dwDescriptionLength);
        const ItemIdentity id = run->itemIds.next(std::string_view(element.constData(), size_t(element.size())),
                                                  "<appointment", kEventEnd, "<OPFCalendarEventCopyUUID");
        QString uid;
        const PimFile file = ItemFile(target, id.hex.constData(), "Event", i + 1, &uid);
        const QString what =
            QStringLiteral("Calendar item \"%1\" (at archive offset %2)")
                .arg(QString::fromUtf8(rec.pSummary ? rec.pSummary : ""), QString::number(rec.llItemOffset));
        if (!ReadBackIntact(element, rec.dwItemLength) || !ReadBackIntact(description, rec.dwDescriptionLength)) {
            NoteUnreadable(run->mail, what, file);
            continue;
        }
        const SoundElement sound = SoundElementOf(element, "<appointment");
        if (sound.nothingWhole) {
            NotePimResult(run->mail, false, what, file.folder, sound.damage);
            continue;
        }
        QString unwritten;
        const QByteArray bytes = CalendarEventFile(rec, uid, sound.view(), description, now, &unwritten,
                                                   &run->archiveZone(), id.occurrence > 1);
        if (!sound.damage.isEmpty())
            unwritten = unwritten.isEmpty() ? sound.damage : sound.damage + QStringLiteral("; ") + unwritten;
        if (bytes.isEmpty()) {
            NotePimResult(run->mail, false, what, file.folder, unwritten);
            continue;
        }
        QString path, error;
        const bool written = WritePimFile(file, bytes, &path, &error);
        if (written && !unwritten.isEmpty())
            NotePimIncomplete(run->mail, what, path, unwritten);
        else
            NotePimResult(run->mail, written, what, path, error);
    }
}
