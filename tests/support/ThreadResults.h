#pragma once
// What a worker thread hands a test, taken as the window takes it: its signals through queued
// connections, delivered on the test's thread, and what it wrote through its hand-over mark
// (platform/HandOver.h). A QSignalSpy appends on the emitting thread, and the test's read of it
// after QThread::wait is a race the thread checker sees: that wait is a hand-over inside Qt.

#include "platform/HandOver.h"

#include <QCoreApplication>
#include <QList>
#include <QObject>
#include <QThread>
#include <QVariant>

#include <type_traits>

// Each emission's arguments, recorded on the thread the spy lives in.
class QueuedSpy : public QObject, public QList<QVariantList> {
public:
    template <typename Sender, typename Owner, typename... Args>
    QueuedSpy(Sender *sender, void (Owner::*signal)(Args...))
    {
        connect(
            static_cast<Owner *>(sender), signal, this,
            [this](Args... args) { append(QVariantList{QVariant::fromValue(std::decay_t<Args>(args))...}); },
            Qt::QueuedConnection);
    }
};

// Waits for the thread's run to end and delivers what it queued for this thread; false when it
// did not end in time. The caller then takes the run's hand-over mark.
inline bool EndRun(QThread &thread, unsigned long milliseconds = 30000)
{
    if (!thread.wait(milliseconds))
        return false;
    QCoreApplication::sendPostedEvents();
    return true;
}

// As EndRun, then takes the hand-over the run marked at mark (a saving thread marks its own
// address as its run ends, and takes it as the next run starts).
inline bool EndRun(QThread &thread, const void *mark, unsigned long milliseconds)
{
    if (!EndRun(thread, milliseconds))
        return false;
    MarkTaken(mark);
    return true;
}
