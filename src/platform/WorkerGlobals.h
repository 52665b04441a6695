#pragma once
// State the shell owns and the workers (scanner, saving thread, previews) read. Defined in
// WorkerGlobals.cpp.

#include <QtGlobal>
#include <atomic>

// The open archive: opened read-only by the open/scan dialog before a scan starts, -1 when none is open.
// Never closed while a worker runs.
extern int fileDescriptor;
// Size of the open archive, set by the open/scan dialog before the scanner starts.
extern qint64 lSize;

// The user asked to stop the running scan or save. Set by the GUI thread, cleared when the next run starts.
extern std::atomic<bool> bStopFlag;
// A scan or save runs. Set by the worker when it starts, cleared by it before its finish signal.
extern std::atomic<bool> bProcessRunning;
// A save was aborted. Set by the GUI thread's stop answer, read by the saving thread.
extern std::atomic<bool> stopflag;

class QThread;

// Starts a worker thread at low priority (the window stays responsive) unless it already runs,
// clearing its stop request first: a stop belongs to the run it was made for. Every worker
// thread of the program starts here. False when it was running.
bool StartWorker(QThread &worker, std::atomic<bool> &stopRequest);
