#pragma once
// Hands entry texts from the walk to the record builders. Threaded, the walk runs on a thread of
// its own and reads and places the next entries while the builders parse the previous ones on
// the scanner thread; the builders still see every text in the walk's order, one at a time, so
// the records come out exactly as from one thread.

#include "scanner/ArchiveWalk.h"

#include <QByteArray>
#include <QString>

#include <cstring>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

class QFolderInformationThread;
class PreparedMail;

namespace olm {

class ParallelBuild;

// One entry text (or XML block recovered from a damaged stretch) for its builder.
struct BuildJob {
    EntryRole role = EntryRole::Message;
    QString path;
    qint64 end = 0;         // archive offset just past the text
    qint64 nameOffset = 0;  // message entries: where the entry name lies (0 when recovered)
    int nameLength = 0;
    qint64 entrySize = 0;
    quint32 crc = 0;
    qint64 size = 0;       // text length
    char *text = nullptr;  // from takeText(), NUL-terminated; the queue gives it back. Null for a
                           // message text left in a run read ahead (view).
    int nul = -1;          // whether the text holds a NUL byte: -1 unknown
    // The text's bytes in a run the walk's reader read ahead (size bytes, not NUL-terminated),
    // kept for the worker by hold, which shares the run's buffer: no byte is read twice.
    const char *view = nullptr;
    QByteArray hold;
};

// Ends a text read later than the walk saw it (got of its size bytes): a file that changed since
// reads short. The text keeps the length the walk placed (the bounds on texts in flight count
// it), the rest zeroed, so no builder reads bytes never written; *nul becomes unknown then.
inline void EndLateText(char *text, qint64 got, qint64 size, int *nul)
{
    got = qBound<qint64>(0, got, size);
    if (got < size) {
        memset(text + got, 0, size_t(size - got));
        *nul = -1;
    }
    text[size] = '\0';
}

class BuildQueue {
public:
    // threaded: push() queues the job for drain(); else it runs the builder at once. With more
    // than two scan threads, messages are read on workers of their own (see ParallelBuild).
    BuildQueue(QFolderInformationThread &thread, bool threaded);
    // How many threads read messages in a scan of threads threads on a machine of processors
    // (0: unknown); 0 when messages are read on the draining thread alone.
    static int workersFor(int threads, unsigned processors);
    ~BuildQueue();
    BuildQueue(const BuildQueue &) = delete;
    BuildQueue &operator=(const BuildQueue &) = delete;

    // Takes the job's text. Waits while the texts in flight exceed the bound. After a stop
    // request the remaining jobs are dropped.
    void push(BuildJob job);
    // Whether messages are read on workers: the walk may then leave their texts' bytes in its
    // runs to them (BuildJob::view).
    bool parallel() const { return m_parallel != nullptr; }
    // The walk has pushed its last job.
    void close();
    // Builds the jobs as they come, in order, until close() and the last job is built (or
    // dropped after a stop). On the thread that read the central directory: the memory the walk
    // frees behind it is then reused for the records.
    void drain();
    // A buffer for a text of size bytes and its NUL; null when memory is short. Small ones are
    // reused, still warm in the caches, rather than freshly allocated for every entry.
    char *takeText(qint64 size);
    // Gives a buffer from takeText back (null allowed). On the walk's thread.
    void giveBack(char *text);

private:
    void run(BuildJob &job);
    // A job whose message records a worker prepared joins the lists; any other is built here.
    void commit(BuildJob &job, PreparedMail &mail);
    // Buffers back from the builders' threads, under one lock.
    void giveBackRun(char *const *texts, size_t count);
    char *takeSpare();
    // Whether a buffer from takeText is worth keeping for the next text.
    static bool spareWorthy(const char *text);
    static char *mark(char *text, qint64 size);
    // Buffers carry their capacity and the size asked in a header in front of the text.
    static constexpr size_t kHeader = 16;
    static constexpr qint64 kSmallText = 64 * 1024;
    static constexpr size_t kMaxSpares = 64;
    // A buffer that held a longer text is freed, not kept: its pages would stay resident.
    static constexpr qint64 kSpareUsed = 16 * 1024;

    // At most this much entry text is queued or being built (one larger text still goes alone).
    static constexpr qint64 kMaxBytes = 1024 * 1024;
    static constexpr size_t kMaxJobs = 1024;

    QFolderInformationThread &m_thread;
    const bool m_threaded;
    std::mutex m_mutex;
    std::condition_variable m_ready;  // jobs for the builder, or the end
    std::condition_variable m_room;   // the walk may push again
    std::vector<BuildJob> m_jobs;
    std::vector<char *> m_spares;  // free small buffers, last freed first
    std::unique_ptr<ParallelBuild> m_parallel;
    qint64 m_bytes = 0;  // text queued and being built
    bool m_done = false;
    bool m_builderIdle = false;
    bool m_walkWaits = false;
};

}  // namespace olm
