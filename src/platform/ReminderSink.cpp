#include "platform/ReminderSink.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace ReminderHooks {
std::function<bool(const ReminderRequest &, QString *)> record;
}

namespace {

constexpr int kScriptTimeoutMs = 60000;

bool runScript(const QString &osascript, const QString &script, QString *error)
{
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/reminderXXXXXX.applescript"));
    const QByteArray bytes = script.toUtf8();
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush()) {
        *error = file.errorString();
        return false;
    }
    QProcess process;
    process.start(osascript, {file.fileName()});
    if (!process.waitForFinished(kScriptTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        *error = QStringLiteral("osascript did not finish");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QString::fromUtf8(process.readAllStandardError()).trimmed();
        return false;
    }
    return true;
}

}  // namespace

bool AddReminder(const ReminderRequest &request, QString *error)
{
    if (ReminderHooks::record)
        return ReminderHooks::record(request, error);
    const QString osascript = QStandardPaths::findExecutable(QStringLiteral("osascript"));
    if (!osascript.isEmpty())
        return runScript(osascript, request.script ? request.script() : QString(), error);
    if (!request.standIn) {
        *error = QStringLiteral("no reminders application");
        return false;
    }
    return request.standIn(error);
}
