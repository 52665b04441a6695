#pragma once
// Message texts read on several threads behind the walk, while their records join the lists on
// one thread in the walk's order: the lists, folders and report come out as from one thread.

#include "scanner/BuildQueue.h"
#include "scanner/PreparedMail.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace olm {

class ParallelBuild {
public:
    // commit runs on the thread in drain(), job by job in the order pushed; a message job comes
    // with its records prepared and its text already given back through giveBack.
    ParallelBuild(int workers, std::function<void(BuildJob &, PreparedMail &)> commit,
                  std::function<void(char *const *, size_t)> giveBack);
    ~ParallelBuild();
    ParallelBuild(const ParallelBuild &) = delete;
    ParallelBuild &operator=(const ParallelBuild &) = delete;

    // On the walk's thread. Jobs are handed on a run at a time; push waits while the jobs or
    // texts in flight exceed their bounds (one larger text goes alone).
    void push(BuildJob job);
    // The walk has pushed its last job.
    void close();
    // The workers started so far: one, and more only while jobs wait for them.
    size_t workersStarted() const { return m_started; }
    // Commits the jobs as their records are ready until close() and the last one is committed.
    void drain();

private:
    struct Slot {
        BuildJob job;
        PreparedMail mail{true};
        bool ready = false;
    };
    // Hands the jobs pushed since the last call to the workers; roomFor >= 0 then waits until
    // a job of that size fits.
    void publish(qint64 roomFor);
    void work();
    // Returns the message's text buffer, now free.
    char *prepare(Slot &slot);
    Slot &slot(quint64 index) { return m_slots[index % kSlots]; }
    void stopWorkers();
    // Starts one more worker (on the walk's thread, which alone adds them).
    void addWorker();

    // A worker takes a run of jobs at a time: fewer wakes and lock turns than one by one.
    static constexpr quint64 kRun = 32;
    static constexpr size_t kSlots = 1024;
    static constexpr int kLookAgainMicroseconds = 250;
    static constexpr qint64 kMaxBytes = 8 * 1024 * 1024;

    std::function<void(BuildJob &, PreparedMail &)> m_commit;
    std::function<void(char *const *, size_t)> m_giveBack;
    std::unique_ptr<Slot[]> m_slots;
    std::vector<std::thread> m_workers;
    size_t m_maxWorkers;
    size_t m_started = 0;
    std::mutex m_mutex;
    std::condition_variable m_work;   // jobs to take, or the end
    std::condition_variable m_ready;  // the next job to commit is ready, or the end
    std::condition_variable m_room;   // the walk may push again
    // Jobs [m_head, m_taken) are being prepared or wait to be committed, [m_taken, m_tail) wait
    // for a worker.
    quint64 m_head = 0;
    quint64 m_taken = 0;
    quint64 m_tail = 0;
    qint64 m_bytes = 0;
    int m_idleWorkers = 0;
    bool m_closed = false;
    bool m_commitWaits = false;
    bool m_walkWaits = false;
    // The walk's own: jobs written behind m_tail not yet handed on, and what it last saw free.
    quint64 m_pending = 0;
    qint64 m_pendingBytes = 0;
    quint64 m_freeSlots = kSlots;
    qint64 m_bytesSeen = 0;
};

}  // namespace olm
