#include "scanner/ParallelBuild.h"

#include "platform/HandOver.h"
#include "platform/WorkerGlobals.h"

#include <chrono>
#include <system_error>

namespace olm {

ParallelBuild::ParallelBuild(int workers, std::function<void(BuildJob &, PreparedMail &)> commit,
                             std::function<void(char *const *, size_t)> giveBack)
    : m_commit(std::move(commit)), m_giveBack(std::move(giveBack)), m_slots(new Slot[kSlots]),
      m_maxWorkers(size_t(qMax(1, workers)))
{
    m_workers.emplace_back([this] { work(); });
    m_started = 1;
}

void ParallelBuild::addWorker()
{
    // More workers only where jobs wait for one: a small archive's scan costs less than their start.
    try {
        m_workers.emplace_back([this] { work(); });
        ++m_started;
    } catch (const std::system_error &) {
        m_maxWorkers = m_workers.size();
    }
}

ParallelBuild::~ParallelBuild()
{
    close();
    stopWorkers();
    // Only a drain cut short leaves jobs behind.
    for (quint64 i = m_head; i < m_tail; ++i) {
        slot(i).mail.clear();
        m_giveBack(&slot(i).job.text, 1);
    }
}

void ParallelBuild::stopWorkers()
{
    for (std::thread &worker : m_workers)
        worker.join();
    m_workers.clear();
}

void ParallelBuild::push(BuildJob job)
{
    // What the last look under the lock left free is surely free still: the committer only frees.
    if (m_pending >= m_freeSlots
        || (m_bytesSeen + m_pendingBytes > 0 && m_bytesSeen + m_pendingBytes + job.size > kMaxBytes))
        publish(job.size);
    const bool large = job.size >= 64 * 1024;
    Slot &s = slot(m_tail + m_pending);
    s.job = std::move(job);
    s.ready = false;
    m_pendingBytes += s.job.size;
    ++m_pending;
    if (m_pending >= kRun || large)
        publish(-1);
}

void ParallelBuild::publish(qint64 roomFor)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_tail += m_pending;
    m_bytes += m_pendingBytes;
    m_pending = 0;
    m_pendingBytes = 0;
    while (roomFor >= 0 && (m_tail - m_head >= kSlots || (m_bytes > 0 && m_bytes + roomFor > kMaxBytes))) {
        if (m_idleWorkers > 0 && m_taken < m_tail)
            m_work.notify_all();
        m_walkWaits = true;
        m_room.wait(lock);
        m_walkWaits = false;
    }
    m_freeSlots = kSlots - (m_tail - m_head);
    m_bytesSeen = m_bytes;
    const bool waiting = m_tail - m_taken >= kRun && m_workers.size() < m_maxWorkers;
    lock.unlock();
    if (waiting)
        addWorker();
}

void ParallelBuild::close()
{
    if (m_pending > 0)
        publish(-1);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_closed)
            return;
        m_closed = true;
    }
    m_work.notify_all();
    m_ready.notify_one();
}

char *ParallelBuild::prepare(Slot &s)
{
    BuildJob &job = s.job;
    if (job.role != EntryRole::Message)
        return nullptr;
    // As the builders read pBuff: no text is an empty one.
    if (!bStopFlag) {
        const char *bytes = job.view ? job.view : job.text;
        const std::string_view text =
            bytes && job.size > 0 ? std::string_view(bytes, size_t(job.size)) : std::string_view();
        PrepareMail(text, job.end, job.nameOffset, job.nameLength, job.entrySize, job.crc, job.size, job.nul, &s.mail);
    }
    // The window's buffer goes back to the walk's reader as soon as no job holds it.
    job.view = nullptr;
    if (!job.hold.isNull())
        MarkHandedOver(job.hold.constData());
    job.hold = QByteArray();
    // The records hold no pointer into the text: it goes back for the walk's next entries.
    char *text = job.text;
    job.text = nullptr;
    return text;
}

void ParallelBuild::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        while (m_taken == m_tail && !m_closed) {
            // Idle workers look for jobs now and then rather than being woken by the walk: a
            // thread woken takes the waker's processor, and the walk is the one that must run.
            ++m_idleWorkers;
            m_work.wait_for(lock, std::chrono::microseconds(kLookAgainMicroseconds));
            --m_idleWorkers;
        }
        if (m_taken == m_tail)
            return;
        const quint64 from = m_taken;
        const quint64 to = qMin(m_tail, from + kRun);
        m_taken = to;
        lock.unlock();
        char *texts[kRun];
        for (quint64 i = from; i < to; ++i)
            texts[i - from] = prepare(slot(i));
        m_giveBack(texts, size_t(to - from));
        lock.lock();
        for (quint64 i = from; i < to; ++i)
            slot(i).ready = true;
        if (m_commitWaits && from <= m_head && m_head < to)
            m_ready.notify_one();
    }
}

void ParallelBuild::drain()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (true) {
        while (!(m_head < m_tail && slot(m_head).ready) && !(m_closed && m_head == m_tail)) {
            m_commitWaits = true;
            m_ready.wait(lock);
            m_commitWaits = false;
        }
        if (m_head == m_tail)
            break;
        quint64 to = m_head;
        while (to < m_tail && slot(to).ready)
            ++to;
        lock.unlock();
        qint64 bytes = 0;
        for (quint64 i = m_head; i < to; ++i) {
            Slot &s = slot(i);
            bytes += s.job.size;
            m_commit(s.job, s.mail);
            s.job = BuildJob();
        }
        lock.lock();
        m_head = to;
        m_bytes -= bytes;
        if (m_walkWaits)
            m_room.notify_one();
    }
    lock.unlock();
    stopWorkers();
}

}  // namespace olm
