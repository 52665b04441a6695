#include "scanner/QFolderInformationThread.h"

#include "platform/ArchiveSource.h"
#include "platform/HandOver.h"
#include "platform/WorkerGlobals.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/ScanGlobals.h"
#include "scanner/StoreCopies.h"

#include <thread>

QFolderInformationThread::QFolderInformationThread(QObject *parent) : QThread(parent)
{
}

QFolderInformationThread::~QFolderInformationThread()
{
    // Never destroy a running thread: stop it and wait.
    if (isRunning()) {
        bStopFlag = true;
        wait();
    }
}

void QFolderInformationThread::setSource(std::shared_ptr<ArchiveSource> source)
{
    m_source = std::move(source);
}

int QFolderInformationThread::DefaultScanThreads()
{
    return int(qBound(1u, std::thread::hardware_concurrency(), 8u));
}

int QFolderInformationThread::SetScanThreads(int threads)
{
    // The walk keeps one busy; more readers than 15 only wait on it.
    m_scanThreads = qBound(1, threads, 16);
    return m_scanThreads;
}

void QFolderInformationThread::SetInitialSettings()
{
    StartWorker(*this, bStopFlag);
}

namespace {
char gScanResults;  // only its address is used
}

void HandOverScanResults()
{
    MarkHandedOver(&gScanResults);
}

void TakeScanResults()
{
    MarkTaken(&gScanResults);
}

void QFolderInformationThread::run()
{
    m_stopped = false;
    CreateFile();
    // The last stop test: a stop confirmed after it finds a complete scan.
    if (bStopFlag) {
        m_stopped = true;
        bProcessRunning = false;
        HandOverScanResults();
        return;
    }
    if (TmpCLRCPtrEnd)
        TmpCLRCPtrEnd->pNext = nullptr;
    if (TmpNTRCPtrEnd)
        TmpNTRCPtrEnd->pNext = nullptr;
    if (TmpTSRCPtrEnd)
        TmpTSRCPtrEnd->pNext = nullptr;
    if (TmpCTRCPtrEnd)
        TmpCTRCPtrEnd->pNext = nullptr;
    if (TmpMlrcPtrEnd)
        TmpMlrcPtrEnd->pNext = nullptr;
    bProcessRunning = false;
    HandOverScanResults();
    Q_EMIT OnFinishScanning();
    if (bStopFlag)
        return;
    // Compressed entries alone still get the summary: it is where the user learns of them.
    if (TmpCLRCPtrStart || TmpCTRCPtrStart || TmpTSRCPtrStart || TmpNTRCPtrStart || TmpMlrcPtrStart
        || CompressedEntryCount > 0)
        Q_EMIT InformationDlgOpen();
}

void QFolderInformationThread::CreateFile()
{
    bProcessRunning = true;
    PID = llRootId;
    categorie = {0, 0, 0};
    categorieCopies.clear();
    m_lastProgress = -1;
    m_lastStatus.clear();
    std::shared_ptr<ArchiveSource> source = m_source;
    if (!source && fileDescriptor >= 0)
        source = std::make_shared<FdArchiveSource>(fileDescriptor, lSize);
    Q_EMIT OnInitialSettings((source ? source->size() : lSize) / 512);
    if (!source) {
        Q_EMIT ShowMessage(QStringLiteral("\nThe file doesn't exist."));
        bStopFlag = true;
        return;
    }
    olm::ArchiveWalker(*this, *source, m_scanThreads >= 2).walk();
    if (!bStopFlag)
        olm::DropItemsOfBrokenStoreCopies(*source);
}

std::vector<QFolderInformationThread::EmptyEntry> QFolderInformationThread::takeEmptyMessageEntries()
{
    std::vector<EmptyEntry> taken;
    std::lock_guard<std::mutex> lock(m_reportMutex);
    taken.swap(m_emptyEntries);
    return taken;
}

void QFolderInformationThread::progressAt(qint64 archiveOffset)
{
    const long long value = archiveOffset / 512;
    // The walk and its builders both report; the builders lag behind, so only forward moves show.
    std::lock_guard<std::mutex> lock(m_reportMutex);
    if (value <= m_lastProgress)
        return;
    // Reading the clock on every change cost more than crossing a damaged stretch itself.
    if (m_lastProgress >= 0 && (++m_progressChanges & 15) != 0)
        return;
    if (m_lastProgress >= 0 && m_progressClock.isValid() && m_progressClock.elapsed() < 50)
        return;
    m_lastProgress = value;
    m_progressClock.start();
    Q_EMIT OnProgressvalue(value);
}

void QFolderInformationThread::status(const QString &text)
{
    std::lock_guard<std::mutex> lock(m_reportMutex);
    if (text == m_lastStatus)
        return;
    m_lastStatus = text;
    Q_EMIT strInfo(text);
}
