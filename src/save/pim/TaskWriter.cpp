// Tasks: an iCalendar to-do per task in the package's Tasks folder; for Apple Mail a reminder
// made by the reminders script, or where no reminders application exists, the same to-do as an
// .ics file in the output's Tasks folder.

#include "platform/FinderInfo.h"
#include "platform/ReminderSink.h"
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

namespace {

const char kTaskProdId[] = "-//Microsoft Corporation//Zovuvoziv Mac 11.0 MIMEDIR//EN";

QByteArray priorityDigit(char priority)
{
    switch (priority) {
    case '2':
        return "3";
    case '3':
        return "5";
    case '4':
        return "7";
    default:
        return QByteArray();
    }
}

// *unusable: the value of the task's last such element when it names no real time, else empty.
void takeDate(std::string_view part, const char *tag, QByteArray (*convert)(const QString &), QByteArray *out,
              QByteArray *utc, bool *dateOnly = nullptr, QString *unusable = nullptr)
{
    const ElementSpan span = GetElementValue(part, tag);
    if (!span.found)
        return;
    const QString value = ElementText(ElementBytes(part, span));
    const QByteArray local = value.isEmpty() ? QByteArray() : convert(value);
    if (unusable)
        *unusable = local.isEmpty() ? value : QString();
    if (local.isEmpty())
        return;
    *out = local;
    *utc = ArchiveDateUtc(value);
    if (dateOnly) {
        *dateOnly = !value.contains(QLatin1Char('T'));
        if (*dateOnly)
            *utc = utc->left(8);
    }
}

// DTSTART or DUE: a UTC instant, a local time of zone (when valid), or the date alone.
void addTaskTime(ContentLines &lines, const char *name, const QByteArray &value, bool dateOnly, const ZoneRules &zone)
{
    if (value.isEmpty())
        return;
    if (dateOnly)
        lines.add(QByteArray(name) + ";VALUE=DATE", value);
    else if (zone.isValid())
        lines.add(QByteArray(name) + ';' + zone.tzidParameter(), value);
    else
        lines.add(name, value);
}

// A to-do's start (its first due time when it has none), due time and repeat rule.
struct TaskTimes {
    ZoneRules zone{QString()};  // valid when the timed values are local times of it
    QByteArray start;
    QByteArray due;
    RepeatRule repeat;
};

// A timed repeat in the archive's zone, as a calendar item without zone data is written; false
// where a time has no single local time there or the pattern names no day of the start there
// (a task from elsewhere).
bool inArchiveZone(const TaskDates &dates, const QByteArray &firstUtc, const ZoneRules &archiveZone,
                   const UntilValue &until, TaskTimes *times)
{
    qint64 first = 0;
    if (!archiveZone.isValid() || !PackedWallSeconds(firstUtc.left(15), &first))
        return false;
    qint64 due = first;
    PackedWallSeconds(dates.dueUtc.left(15), &due);
    // Where the zone's history and its block part over the series, the history stated as its block.
    const qint64 spanEnd = qMax(due, RepeatSpanEnd(dates.recurrence, first));
    const bool byHistory =
        archiveZone.hasHistory() && (!archiveZone.covers(first) || !archiveZone.historyAgreesOver(first, spanEnd));
    const ZoneRules zone =
        byHistory ? archiveZone.withHistoryOver(qMin(first, due), spanEnd) : archiveZone.extendedTo(first);
    const auto local = [&zone](const QByteArray &utc, bool isDate, QByteArray *value) {
        qint64 seconds = 0;
        if (utc.isEmpty() || isDate) {
            *value = utc;
            return true;
        }
        if (!PackedWallSeconds(utc.left(15), &seconds) || !zone.covers(seconds) || !zone.localTimeIsUnique(seconds)
            || !zone.historyAgrees(seconds))
            return false;
        *value = zone.localTime(seconds);
        return true;
    };
    TaskTimes zoned;
    if (!local(firstUtc, false, &zoned.start) || !local(dates.dueUtc, dates.dueIsDate, &zoned.due))
        return false;
    zoned.repeat = FittedToStart(RepeatRuleOf(dates.recurrence, until, zoned.start), zoned.start);
    if (zoned.repeat.kind != RepeatRule::Rule)
        return false;
    zoned.zone = zone;
    *times = zoned;
    return true;
}

// Readers show nothing of a rule that ends before it starts: the first occurrence stands, in UTC.
void keepFirstWhenEndedBefore(const TaskDates &dates, const QByteArray &firstTime, bool countsFromDate,
                              const UntilValue &until, TaskTimes *times)
{
    if (times->repeat.kind != RepeatRule::Rule)
        return;
    QString repeatEnd;
    qint64 firstSeconds = 0;
    bool endsBefore = false;
    if (countsFromDate)
        endsBefore = RepeatEndsBeforeDay(dates.recurrence, firstTime, until, &repeatEnd);
    else if (PackedWallSeconds(firstTime.left(15), &firstSeconds))
        endsBefore = RepeatEndsBefore(dates.recurrence, firstSeconds, &repeatEnd);
    if (!endsBefore)
        return;
    *times = TaskTimes{ZoneRules(QString()), dates.startUtc, dates.dueUtc,
                       RepeatRule{RepeatRule::Unsupported, QByteArray(),
                                  QStringLiteral("its repeat ends (%1) before its first occurrence").arg(repeatEnd)}};
}

// A task carries no zone: a timed repeat is written in the archive's zone where it fits there,
// else in UTC on the days its pattern gives in UTC.
TaskTimes taskTimes(const TaskDates &dates, const ZoneRules *archiveZone)
{
    const QByteArray firstTime = dates.startUtc.isEmpty() ? dates.dueUtc : dates.startUtc;
    // UNTIL takes the form of the time the rule counts from: after a date alone, the end's day
    // read as every other date-only value is.
    const bool countsFromDate = dates.startUtc.isEmpty() ? dates.dueIsDate : dates.startIsDate;
    const auto until = [&](const QString &endText) {
        return countsFromDate ? ArchiveDateLocalDay(endText, archiveZone) : ArchiveDateUtc(endText);
    };
    TaskTimes times{ZoneRules(QString()), dates.startUtc, dates.dueUtc, RepeatRule()};
    if (dates.recurrence.trimmed().isEmpty() || countsFromDate || !archiveZone
        || !inArchiveZone(dates, firstTime, *archiveZone, until, &times))
        times.repeat = ZonelessRepeatRule(dates.recurrence, until, firstTime);
    keepFirstWhenEndedBefore(dates, firstTime, countsFromDate, until, &times);
    // A repeating to-do needs a start for its rule to count from: without one, its first due time.
    if (dates.startUtc.isEmpty() && times.repeat.kind == RepeatRule::Rule)
        times.start = times.due;
    return times;
}

}  // namespace

TaskDates TaskDatesOf(std::string_view element)
{
    TaskDates dates;
    QString badStart, badDue, badReminder;
    SplitItems(element, "</task>", 0, [&](const ItemPiece &piece) {
        takeDate(piece.bytes, "<OPFTaskCopyStartDateTime", timeconverterDUetask2, &dates.start, &dates.startUtc,
                 &dates.startIsDate, &badStart);
        takeDate(piece.bytes, "<OPFTaskCopyDueDateTime", timeconvertert2, &dates.due, &dates.dueUtc, &dates.dueIsDate,
                 &badDue);
        takeDate(piece.bytes, "<OPFTaskCopyReminderTime", timeconvertert2, &dates.reminder, &dates.reminderUtc, nullptr,
                 &badReminder);
        return true;
    });
    dates.recurrence = ItemElementText(element, "</task>", "<OPFTaskCopyRecurrence");
    const QString completed = ItemElementText(element, "</task>", "<OPFTaskCopyCompletedDateTime");
    dates.completedUtc = ArchiveDateUtc(completed);
    const QString badCompleted = dates.completedUtc.isEmpty() ? completed : QString();
    for (const auto &bad :
         {qMakePair(QStringLiteral("start"), badStart), qMakePair(QStringLiteral("due"), badDue),
          qMakePair(QStringLiteral("reminder"), badReminder), qMakePair(QStringLiteral("completion"), badCompleted)}) {
        if (!bad.second.isEmpty())
            dates.unusable << QStringLiteral("its %1 time (%2) is no real date and time").arg(bad.first, bad.second);
    }
    static const char *const kTimes[][2] = {{"start", "<OPFTaskCopyStartDateTime"},
                                            {"due", "<OPFTaskCopyDueDateTime"},
                                            {"reminder", "<OPFTaskCopyReminderTime"}};
    for (const auto &time : kTimes) {
        const QString value = ItemElementText(element, "</task>", time[1]);
        if (ArchiveTimeMoved(value))
            dates.unusable << QStringLiteral(
                                  "its %1 time (%2) names no real time of day, so the nearest one is written")
                                  .arg(QLatin1String(time[0]), value);
    }
    // The record keeps no name over 255 characters, nor its line breaks; the element has it whole.
    dates.name = ItemElementText(element, "</task>", "<OPFTaskCopyName");
    dates.notePlain = ItemElementBytes(element, "</task>", "<OPFTaskCopyNotePlain");
    dates.categories = CategoriesValue(ItemCategoryNames(element, "</task>", "<OPFTaskCopyCategoryList"),
                                       ItemElementText(element, "</task>", "<OPFCategoryCopyName"));
    return dates;
}

QString TaskNameOf(const TasksInformation &rec, const TaskDates &dates)
{
    return rec.pName ? QString::fromUtf8(rec.pName) : JoinLines(dates.name);
}

QByteArray TaskCalendarFile(const TasksInformation &rec, const QString &uid, const TaskDates &dates,
                            const QByteArray &note, const QByteArray &now, QString *unwritten,
                            const ZoneRules *archiveZone)
{
    const QString name = dates.name.isEmpty() ? TaskNameOf(rec, dates) : dates.name;
    const bool hasNote = rec.dwNoteLength != 0 || !dates.notePlain.isEmpty();
    // The usual priority is what every new task has: alone it is nothing to save.
    const bool hasPriority = rec.cPriority == '2' || rec.cPriority == '4';
    if (name.trimmed().isEmpty() && !hasNote && !hasPriority && dates.startUtc.isEmpty() && dates.dueUtc.isEmpty()
        && dates.reminderUtc.isEmpty() && dates.completedUtc.isEmpty() && dates.categories.isEmpty()
        && dates.recurrence.isEmpty()) {
        if (unwritten)
            *unwritten = (QStringList(QStringLiteral("it holds no name, note, priority, time or state to save"))
                          + dates.unusable)
                             .join(QStringLiteral("; "));
        return QByteArray();
    }
    const TaskTimes times = taskTimes(dates, archiveZone);
    const RepeatRule &repeat = times.repeat;
    if (unwritten) {
        QStringList lost = dates.unusable;
        if (repeat.kind == RepeatRule::Unsupported)
            lost.prepend(QStringLiteral("written as a single item, ") + repeat.reason);
        *unwritten = lost.join(QStringLiteral("; "));
    }
    const bool startIsDate = dates.startUtc.isEmpty() ? dates.dueIsDate : dates.startIsDate;
    ContentLines lines;
    AddCalendarHead(lines, kTaskProdId);
    if (times.zone.isValid())
        AddZoneBlock(lines, times.zone);
    lines.add("BEGIN", QByteArray("VTODO"));
    lines.add("UID", EscapeText(uid));
    const QByteArray stamp = dates.startUtc.isEmpty() ? now : dates.startUtc;
    if (!stamp.isEmpty())
        lines.add("DTSTAMP", stamp);
    if (!name.isEmpty())
        lines.add("SUMMARY", EscapeText(name));
    // Its plain text: the plain note the archive holds, else the note's own plain text.
    if (!dates.notePlain.isEmpty())
        lines.addStoredText("DESCRIPTION", dates.notePlain);
    else if (rec.dwNoteLength != 0)
        lines.addStoredText("DESCRIPTION", note, ContentLines::StoredForm::TaskNote);
    addTaskTime(lines, "DTSTART", times.start, startIsDate, times.zone);
    addTaskTime(lines, "DUE", times.due, dates.dueIsDate, times.zone);
    if (repeat.kind == RepeatRule::Rule && !times.start.isEmpty())
        lines.add("RRULE", repeat.rrule);
    if (!dates.completedUtc.isEmpty()) {
        lines.add("STATUS", QByteArray("COMPLETED"));
        lines.add("COMPLETED", dates.completedUtc);
    }
    if (!dates.categories.isEmpty())
        lines.add("CATEGORIES", dates.categories);
    const QByteArray priority = priorityDigit(rec.cPriority);
    if (!priority.isEmpty())
        lines.add("Priority", priority);
    if (!dates.reminderUtc.isEmpty())
        AddReminderAlarm(lines, "TRIGGER;VALUE=DATE-TIME", dates.reminderUtc);
    lines.add("END", QByteArray("VTODO"));
    lines.add("END", QByteArray("VCALENDAR"));
    return lines.bytes();
}

void QMailSavingThread::OnTaskSaving(unsigned long long folderId)
{
    SaveRun *run = currentRun();
    if (!run)
        return;
    const bool appleMail = appmaildata;
    const PimFile target{PimItemFolder(run->mail, appleMail, QStringLiteral("Tasks")), QString(),
                         appleMail ? QStringLiteral(".ics") : QString(), FourCharCode("Ics "), FourCharCode("OPIM")};
    const QVector<const TasksInformation *> records = run->tasks.of(qint64(folderId));
    const QByteArray now = appleMail ? SaveTimeUtc(run->mail.strTime) : QByteArray();
    for (int i = 0; i < records.size(); ++i) {
        if (stopRequested())
            return;
        const TasksInformation &rec = *records.at(i);
        const QByteArray element = ReadArchiveBytes(rec.llItemOffset, rec.dwItemLength);
        const SoundElement sound = SoundElementOf(element, "<task");
        const TaskDates dates = TaskDatesOf(sound.view());
        reportItem(QStringLiteral("Saving Tasks Folders..."));

        const QByteArray note = LongTextOf(element, rec.llItemOffset, rec.dwNoteOffset, rec.dwNoteLength);
        QString uid;
        const ItemIdentity id =
            run->itemIds.next(std::string_view(element.constData(), size_t(element.size())), "<task", "</task>");
        const PimFile file = ItemFile(target, id.hex.constData(), "Task", i + 1, &uid);
        const QString what = QStringLiteral("Task \"%1\" (at archive offset %2)")
                                 .arg(TaskNameOf(rec, dates), QString::number(rec.llItemOffset));
        if (!ReadBackIntact(element, rec.dwItemLength) || !ReadBackIntact(note, rec.dwNoteLength)) {
            NoteUnreadable(run->mail, what, file);
            continue;
        }
        if (sound.nothingWhole) {
            NotePimResult(run->mail, false, what, file.folder, sound.damage);
            continue;
        }
        QString path = file.folder, error;
        bool written = false;
        QString unwritten;
        // The note as XML reads it: comments dropped, CDATA and character references undone.
        const QByteArray readable = ReadableElementBytes(note);
        const QByteArray todo = TaskCalendarFile(rec, uid, dates, readable, now, &unwritten, &run->archiveZone());
        if (!sound.damage.isEmpty())
            unwritten = unwritten.isEmpty() ? sound.damage : sound.damage + QStringLiteral("; ") + unwritten;
        if (todo.isEmpty()) {
            NotePimResult(run->mail, false, what, path, unwritten);
            continue;
        }
        const auto writeTodo = [&, todo](QString *why) { return WritePimFile(file, todo, &path, why); };
        if (appleMail)
            written = AddReminder(
                ReminderRequest{[&rec, &dates, &readable] { return ReminderScriptOf(rec, dates, readable); },
                                writeTodo},
                &error);
        else
            written = writeTodo(&error);
        if (written && !unwritten.isEmpty())
            NotePimIncomplete(run->mail, what, path, unwritten);
        else
            NotePimResult(run->mail, written, what, path, error);
    }
}
