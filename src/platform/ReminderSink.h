#pragma once
// Handing a task to the reminders application. Where one is present (osascript on the PATH),
// the filled script runs through osascript from a private temporary file, with an argument
// list. Where none is, the request's stand-in saves the task another way (the saving thread
// writes it as an iCalendar to-do), so no task is lost.

#include <QString>

#include <functional>

struct ReminderRequest {
    // Makes the filled AppleScript, only where it runs: a long note makes a large script.
    std::function<QString()> script;
    std::function<bool(QString *error)> standIn;  // used where no reminders application exists
};

// False with the reason in *error when the reminder could not be made.
bool AddReminder(const ReminderRequest &request, QString *error);

namespace ReminderHooks {
// When set, receives every request instead of the system (tests record them here).
extern std::function<bool(const ReminderRequest &request, QString *error)> record;
}  // namespace ReminderHooks
