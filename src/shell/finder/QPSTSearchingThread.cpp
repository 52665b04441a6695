#include "shell/finder/QPSTSearchingThread.h"

#include "platform/WorkerGlobals.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMutexLocker>

std::atomic<bool> bProcessRunningSearching{false};
std::atomic<bool> bStopFlagSearching{false};

namespace {

FoundArchive Describe(const QFileInfo &info)
{
    FoundArchive found;
    found.path = info.filePath();
    // A search root given with a trailing slash must not show up as "//" in the listed paths.
    while (found.path.contains(QLatin1String("//")))
        found.path.replace(QLatin1String("//"), QLatin1String("/"));
    found.size = info.size();
    // Not every file system records a birth time; the metadata change time is the closest stand-in.
    found.created = info.birthTime().isValid() ? info.birthTime() : info.metadataChangeTime();
    found.accessed = info.lastRead();
    found.modified = info.lastModified();
    return found;
}

}  // namespace

QPSTSearchingThread::QPSTSearchingThread(QObject *parent) : QThread(parent)
{
    bStopFlagSearching = false;
}

QPSTSearchingThread::~QPSTSearchingThread()
{
    // Owners wait before deleting; this keeps a forgotten wait from destroying a running thread.
    RequestStop();
    wait();
}

void QPSTSearchingThread::SetInitialSettings()
{
    if (isRunning())
        return;
    m_cancel = false;
    // Set here as well as in run(): a close between start() and the first instruction of run()
    // must still see a search in progress.
    bProcessRunningSearching = true;
    StartWorker(*this, bStopFlagSearching);
}

void QPSTSearchingThread::RequestStop()
{
    m_cancel = true;
}

bool QPSTSearchingThread::StopRequested() const
{
    return m_cancel;
}

QVector<FoundArchive> QPSTSearchingThread::Results() const
{
    QMutexLocker lock(&m_resultsLock);
    return m_results;
}

void QPSTSearchingThread::run()
{
    bProcessRunningSearching = true;
    if (!bStopFlagSearching && !m_cancel)
        StartSearch();
    bProcessRunningSearching = false;
    Q_EMIT FinshScanningProcess();
}

void QPSTSearchingThread::StartSearch()
{
    QVector<FoundArchive> found;
    if (strSearchPath.isEmpty()) {  // an empty path would walk the current folder
        QMutexLocker lock(&m_resultsLock);
        m_results.clear();
        return;
    }
    // Directories are listed too, so the stop request is tested once per entry even in a tree of
    // empty folders. Symbolic links to folders are not followed: a link loop cannot trap the walk.
    QDirIterator it(strSearchPath, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (!m_cancel.load(std::memory_order_relaxed) && it.hasNext()) {
        it.next();
        if (!it.fileName().endsWith(QLatin1String(".olm")))
            continue;
        const QFileInfo info = it.fileInfo();
        if (info.isDir())
            continue;
        found.append(Describe(info));
    }
    QMutexLocker lock(&m_resultsLock);
    m_results = found;
}
