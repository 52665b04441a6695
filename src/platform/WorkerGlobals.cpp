#include "platform/WorkerGlobals.h"

int fileDescriptor = -1;
qint64 lSize = 0;
std::atomic<bool> bStopFlag{false};
std::atomic<bool> bProcessRunning{false};
std::atomic<bool> stopflag{false};
