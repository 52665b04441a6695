#include "scanner/BuildQueue.h"

#include "platform/WorkerGlobals.h"
#include "scanner/ParallelBuild.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace olm {

BuildQueue::BuildQueue(QFolderInformationThread &thread, bool threaded) : m_thread(thread), m_threaded(threaded)
{
    const int workers = workersFor(thread.scanThreads(), std::thread::hardware_concurrency());
    if (threaded && workers >= 1) {
        m_parallel = std::make_unique<ParallelBuild>(
            workers, [this](BuildJob &job, PreparedMail &mail) { commit(job, mail); },
            [this](char *const *texts, size_t count) { giveBackRun(texts, count); });
    }
}

int BuildQueue::workersFor(int threads, unsigned processors)
{
    // The walk keeps a thread of its own; the records join the lists on the draining one. With
    // two threads one worker reads the messages while the walk reads on: the drain costs little.
    int workers = threads - 1;
    if (workers < 1)
        return 0;
    // The walk, the drain and the reads ahead keep about three processors busy between them. A
    // worker more than the machine has processors for takes the walk's, and all wait on it.
    if (processors > 0)
        workers = qBound(qMin(2, workers), int(processors) - 3, workers);
    return workers;
}

BuildQueue::~BuildQueue()
{
    m_parallel.reset();
    for (char *text : m_spares)
        free(text - kHeader);
}

void BuildQueue::run(BuildJob &job)
{
    // The builders read the text as pBuff; only this thread touches it while a scan runs.
    pBuff = job.text;
    pBuffLength = job.size;
    job.text = nullptr;
    if (!bStopFlag) {
        switch (job.role) {
        case EntryRole::Contacts:
            m_thread.InitializeCTRC(job.path, job.end, job.size);
            break;
        case EntryRole::Calendar:
            m_thread.InitializeCLRC(job.path, job.end, job.size);
            break;
        case EntryRole::Tasks:
            m_thread.InitializeTSRC(job.path, job.end, job.size);
            break;
        case EntryRole::Notes:
            m_thread.InitializeNTRC(job.path, job.end, job.size);
            break;
        case EntryRole::Message:
            m_thread.InitializeMLRC(job.path, job.end, job.nameOffset, job.nameLength, job.entrySize, job.crc, job.size,
                                    job.nul);
            break;
        default:
            break;
        }
    }
    char *text = pBuff;
    pBuff = nullptr;
    pBuffLength = 0;
    if (m_parallel)
        giveBackRun(&text, 1);
    else
        giveBack(text);
}

void BuildQueue::commit(BuildJob &job, PreparedMail &mail)
{
    if (job.role != EntryRole::Message) {
        run(job);
        return;
    }
    // After a stop request the jobs still queued are dropped, as one builder drops them.
    if (bStopFlag)
        mail.clear();
    else
        m_thread.CommitMail(job.path, mail, job.end, job.nameOffset, job.nameLength, job.size);
    giveBackRun(&job.text, 1);
    job.text = nullptr;
}

char *BuildQueue::takeSpare()
{
    std::unique_lock<std::mutex> lock(m_mutex, std::defer_lock);
    if (m_threaded)
        lock.lock();
    if (m_spares.empty())
        return nullptr;
    char *text = m_spares.back();
    m_spares.pop_back();
    return text;
}

char *BuildQueue::mark(char *text, qint64 size)
{
    // The most a buffer ever held: its pages stay touched.
    qint64 used = 0;
    memcpy(&used, text - kHeader + sizeof(qint64), sizeof used);
    used = qMax(used, size);
    memcpy(text - kHeader + sizeof(qint64), &used, sizeof used);
    return text;
}

char *BuildQueue::takeText(qint64 size)
{
    if (size < 0)
        return nullptr;
    const qint64 capacity = size < kSmallText ? kSmallText : size + 1;
    if (capacity == kSmallText) {
        if (char *text = takeSpare())
            return mark(text, size);
    }
    char *block = static_cast<char *>(malloc(kHeader + size_t(capacity)));
    if (!block)
        return nullptr;
    const qint64 header[2] = {capacity, size};
    memcpy(block, header, sizeof header);
    return block + kHeader;
}

bool BuildQueue::spareWorthy(const char *text)
{
    qint64 header[2];
    memcpy(header, text - kHeader, sizeof header);
    return header[0] == kSmallText && header[1] <= kSpareUsed;
}

void BuildQueue::giveBack(char *text)
{
    if (!text)
        return;
    if (spareWorthy(text)) {
        std::unique_lock<std::mutex> lock(m_mutex, std::defer_lock);
        if (m_threaded)
            lock.lock();
        if (m_spares.size() < kMaxSpares) {
            m_spares.push_back(text);
            return;
        }
    }
    free(text - kHeader);
}

void BuildQueue::giveBackRun(char *const *texts, size_t count)
{
    // Messages left in runs read ahead come with no buffer: most runs give none back.
    if (std::all_of(texts, texts + count, [](const char *text) { return text == nullptr; }))
        return;
    char *unkept[64];
    size_t freed = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (size_t i = 0; i < count; ++i) {
            char *text = texts[i];
            if (!text)
                continue;
            if (spareWorthy(text) && m_spares.size() < kMaxSpares)
                m_spares.push_back(text);
            else if (freed < 64)
                unkept[freed++] = text;
            else
                free(text - kHeader);
        }
    }
    for (size_t i = 0; i < freed; ++i)
        free(unkept[i] - kHeader);
}

void BuildQueue::push(BuildJob job)
{
    if (m_parallel) {
        m_parallel->push(std::move(job));
        return;
    }
    if (!m_threaded) {
        run(job);
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_bytes > 0 && (m_bytes + job.size > kMaxBytes || m_jobs.size() >= kMaxJobs)) {
        if (m_builderIdle)
            m_ready.notify_one();
        m_walkWaits = true;
        m_room.wait(lock);
        m_walkWaits = false;
    }
    m_bytes += job.size;
    m_jobs.push_back(std::move(job));
    // A wake costs a system call: hand the builder runs of texts, not one at a time.
    const bool wake = m_builderIdle && (m_jobs.size() >= 64 || m_bytes >= kMaxBytes / 4);
    lock.unlock();
    if (wake)
        m_ready.notify_one();
}

void BuildQueue::drain()
{
    if (m_parallel) {
        m_parallel->drain();
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        while (m_jobs.empty() && !m_done) {
            m_builderIdle = true;
            m_ready.wait(lock);
            m_builderIdle = false;
        }
        if (m_jobs.empty())
            return;
        std::vector<BuildJob> batch;
        batch.swap(m_jobs);
        const bool walkWaits = m_walkWaits;
        lock.unlock();
        if (walkWaits)
            m_room.notify_one();
        qint64 built = 0;
        for (BuildJob &job : batch) {
            built += job.size;
            run(job);
        }
        lock.lock();
        m_bytes -= built;
        if (m_walkWaits)
            m_room.notify_one();
    }
}

void BuildQueue::close()
{
    if (m_parallel) {
        m_parallel->close();
        return;
    }
    if (!m_threaded)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_ready.notify_one();
}

}  // namespace olm
