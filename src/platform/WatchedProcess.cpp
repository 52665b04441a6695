#include "platform/WatchedProcess.h"

#include <QObject>
#include <QProcess>
#include <QThread>

qint64 StartWatchedProgram(const QString &program, const QStringList &arguments, QObject *context,
                           std::function<void()> failed)
{
    if (program.isEmpty() || !context)
        return 0;
    auto *process = new QProcess;
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    process->start();
    if (!process->waitForStarted(-1)) {
        delete process;
        return 0;
    }
    const qint64 pid = process->processId();
    const auto finished = qOverload<int, QProcess::ExitStatus>(&QProcess::finished);
    QObject::connect(process, finished, context, [failed](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code != 0 && failed)
            failed();
    });
    // Deleted once it has ended, never before: deleting a running QProcess would end the viewer.
    QObject::connect(process, finished, process, &QObject::deleteLater);
    // Its end is noticed by the event loop of the context's thread; a launcher thread without one
    // hands it over.
    if (process->thread() != context->thread())
        process->moveToThread(context->thread());
    return pid;
}
