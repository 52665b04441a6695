// The reminders script of a task, its note escaped into it piece by piece.

#include "save/pim/PimItems.h"
#include "save/pim/PimText.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QLoggingCategory>

#include <climits>

Q_LOGGING_CATEGORY(lcReminders, "corvask.reminders", QtWarningMsg)

namespace {

// The day is set to 1 before year and month, so no intermediate date rolls into the next month.
const char kReminderTemplate[] = "set reminderName to \"%1\"\n"
                                 "set reminderDateTime to \"%2\"\n"
                                 "set reminderNote to \"%3\"\n"
                                 "set reminderPriority to \"%4\"\n"
                                 "\n"
                                 "set myListName to \"ImportedTask\"\n"
                                 "\n"
                                 "-- Initialize base properties\n"
                                 "set reminderProperties to {name:reminderName}\n"
                                 "\n"
                                 "-- Handle time (skip due date if empty)\n"
                                 "if reminderDateTime is not \"\" then\n"
                                 "    set yearStr to text 1 thru 4 of reminderDateTime\n"
                                 "    set monthStr to text 5 thru 6 of reminderDateTime\n"
                                 "    set dayStr to text 7 thru 8 of reminderDateTime\n"
                                 "    set hourStr to text 10 thru 11 of reminderDateTime\n"
                                 "    set minuteStr to text 12 thru 13 of reminderDateTime\n"
                                 "    set secondStr to text 14 thru 15 of reminderDateTime\n"
                                 "\n"
                                 "    set yearNum to yearStr as integer\n"
                                 "    set monthNum to monthStr as integer\n"
                                 "    set dayNum to dayStr as integer\n"
                                 "    set hourNum to hourStr as integer\n"
                                 "    set minuteNum to minuteStr as integer\n"
                                 "    set secondNum to secondStr as integer\n"
                                 "\n"
                                 "    set dateObj to current date\n"
                                 "    set day of dateObj to 1\n"
                                 "    set year of dateObj to yearNum\n"
                                 "    set month of dateObj to monthNum\n"
                                 "    set day of dateObj to dayNum\n"
                                 "    set hours of dateObj to hourNum\n"
                                 "    set minutes of dateObj to minuteNum\n"
                                 "    set seconds of dateObj to secondNum\n"
                                 "end if\n"
                                 "\n"
                                 "-- Create the reminder\n"
                                 "tell application \"Reminders\"\n"
                                 "    if not (exists list myListName) then\n"
                                 "        make new list with properties {name:myListName}\n"
                                 "    end if\n"
                                 "\n"
                                 "    tell list myListName\n"
                                 "        set newReminder to make new reminder with properties {name:reminderName}\n"
                                 "\n"
                                 "        -- Set due date separately\n"
                                 "        if reminderDateTime is not \"\" then\n"
                                 "            set due date of newReminder to dateObj\n"
                                 "        end if\n"
                                 "\n"
                                 "        -- Set note if available\n"
                                 "        if reminderNote is not \"\" then\n"
                                 "            set body of newReminder to reminderNote\n"
                                 "        end if\n"
                                 "\n"
                                 "        -- Set priority separately\n"
                                 "        if reminderPriority is \"high\" then\n"
                                 "            set priority of newReminder to 1\n"
                                 "        else if reminderPriority is \"medium\" then\n"
                                 "            set priority of newReminder to 5\n"
                                 "        else if reminderPriority is \"low\" then\n"
                                 "            set priority of newReminder to 9\n"
                                 "        end if\n"
                                 "    end tell\n"
                                 "end tell";

// Whether the task's stored note is HTML (its opening tells), and the note before its first NUL.
bool storedNoteIsHtml(const QByteArray &note, std::string_view *stored)
{
    *stored = TextBeforeNul(note);
    const QString opening = UnescapeXmlEntities(
        QString::fromUtf8(stored->data(), int(qMin<size_t>(stored->size(), 4096))), EntityForm::Notes);
    return IsMarkupText(opening);
}

// The note's plain text piece by piece: the plain note the archive holds, else the stored note's.
void forEachNoteChunk(const TasksInformation &rec, const TaskDates &dates, const QByteArray &note,
                      const std::function<void(const QString &)> &take)
{
    if (!dates.notePlain.isEmpty()) {
        ForEachPlainChunk(std::string_view(dates.notePlain.constData(), size_t(dates.notePlain.size())), false, take);
    } else if (rec.dwNoteLength != 0) {
        std::string_view stored;
        const bool html = storedNoteIsHtml(note, &stored);
        ForEachPlainChunk(stored, html, take);
    }
}

ReminderFields fieldsWithoutNote(const TasksInformation &rec, const TaskDates &dates)
{
    ReminderFields f;
    f.name = EscapeScriptString(TaskNameOf(rec, dates));
    f.priority = rec.cPriority == '2' ? QStringLiteral("HIGH")
        : rec.cPriority == '4'        ? QStringLiteral("LOW")
                                      : QString();
    f.dateTime = QString::fromLatin1(!dates.reminder.isEmpty() ? dates.reminder : dates.due);
    return f;
}

}  // namespace

QString EscapeScriptString(QString text)
{
    // One pass: replacing each line feed in place moves the rest of a long note once per few of them.
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : qAsConst(text)) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\\n");
        } else if (c != QLatin1Char('\r')) {
            out += c;
        }
    }
    return out;
}

ReminderFields ReminderFieldsOf(const TasksInformation &rec, const TaskDates &dates, const QByteArray &note)
{
    ReminderFields f = fieldsWithoutNote(rec, dates);
    forEachNoteChunk(rec, dates, note, [&f](const QString &text) { f.note += EscapeScriptString(text); });
    // User data: only with the category switched on.
    qCDebug(lcReminders).noquote() << f.name << f.priority << f.dateTime << f.note;
    return f;
}

QString ReminderScript(const ReminderFields &f)
{
    return QString::fromLatin1(kReminderTemplate).arg(f.name, f.dateTime, f.note, f.priority);
}

QString ReminderScriptOf(const TasksInformation &rec, const TaskDates &dates, const QByteArray &note)
{
    // A long note is escaped into the script piece by piece: it is held once, not once more whole.
    ReminderFields f = fieldsWithoutNote(rec, dates);
    const QString marker = QStringLiteral("\x01note\x01");
    f.note = marker;
    const QString frame = ReminderScript(f);
    const int at = frame.lastIndexOf(marker);
    const qint64 noteBytes = dates.notePlain.isEmpty() ? note.size() : dates.notePlain.size();
    QString script;
    script.reserve(int(qMin<qint64>(qint64(frame.size()) + noteBytes * 11 / 10, INT_MAX / 4)));
    script += frame.leftRef(at);
    forEachNoteChunk(rec, dates, note, [&script](const QString &text) { script += EscapeScriptString(text); });
    script += frame.midRef(at + marker.size());
    return script;
}
