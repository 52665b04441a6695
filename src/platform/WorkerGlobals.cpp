#include "platform/WorkerGlobals.h"

#include <QThread>

int fileDescriptor = -1;
qint64 lSize = 0;
std::atomic<bool> bStopFlag{false};
std::atomic<bool> bProcessRunning{false};
std::atomic<bool> stopflag{false};

bool StartWorker(QThread &worker, std::atomic<bool> &stopRequest)
{
    if (worker.isRunning())
        return false;
    stopRequest = false;
    worker.start(QThread::LowPriority);
    return true;
}
