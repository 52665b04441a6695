#pragma once
// The reader's runs ahead of its window, read on threads of their own. Included by the reader alone.

#include "platform/ArchiveSource.h"
#include "platform/HandOver.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/EntryTextScan.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// The runs after the window, read on threads of their own: a chain of runs, each beginning where
// the one before it ends, so one reader's pause does not stall the walk. A run is asked for
// (pos set, got -1), read (got its length), or free (pos -1); a run dropped while it is read is
// freed by its reader.
struct BufferedArchiveReader::Ahead {
    struct Run {
        QByteArray buf;             // kAheadHead bytes for those kept from the window, then the run
        std::vector<qint64> marks;  // where the run's bytes up to 3 stand, found by its reader
        qint64 pos = -1;
        qint64 length = 0;
        qint64 got = -1;
        bool reading = false;
    };

    Ahead(ArchiveSource &s, qint64 capacity, const BufferedArchiveReader &r) : source(s), reader(r)
    {
        for (Run &run : runs)
            run.buf.resize(int(kAheadHead + capacity));
        try {
            for (std::thread &t : threads)
                t = std::thread([this] { read(); });
        } catch (...) {
            stop();
            throw;
        }
    }
    ~Ahead() { stop(); }
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit = true;
        }
        changed.notify_all();
        for (std::thread &t : threads) {
            if (t.joinable())
                t.join();
        }
    }
    // The earliest run asked for and not taken by a reader; null if none.
    Run *nextAsked()
    {
        Run *first = nullptr;
        for (Run &run : runs) {
            if (run.pos >= 0 && run.got < 0 && !run.reading && (!first || run.pos < first->pos))
                first = &run;
        }
        return first;
    }
    void read()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            Run *run = nullptr;
            changed.wait(lock, [&] { return quit || (run = nextAsked()) != nullptr; });
            if (quit)
                return;
            const qint64 at = run->pos, len = run->length;
            run->reading = true;
            const int bufSize = run->buf.size();
            if (!run->buf.isDetached())
                spareFor(&run->buf);
            // The last job that read the buffer let it go before: its reads come before these writes.
            if (run->buf.size() == bufSize)
                MarkTaken(run->buf.constData());
            lock.unlock();
            if (run->buf.size() != bufSize)
                run->buf = QByteArray(bufSize, Qt::Uninitialized);
            char *to = run->buf.data() + kAheadHead;
            const qint64 n = readFully(source, at, to, len);
            // The bytes are in this thread's caches now: their scan for the walk costs least here.
            run->marks.clear();
            olm::FindLowBytes(to, qMax<qint64>(0, n), at, &run->marks);
            lock.lock();
            run->reading = false;
            if (run->pos == at)
                run->got = qMax<qint64>(0, n);
            changed.notify_all();
        }
    }
    // A buffer a job still shares stays the job's, and is kept here until the job lets it go;
    // the run takes a kept one no job holds any more. Fresh memory for every run cost a page
    // fault per page read, more than the read itself. Called with the mutex held.
    void spareFor(QByteArray *buf)
    {
        spare.push_back(std::move(*buf));
        *buf = QByteArray();
        for (auto it = spare.begin(); it != spare.end(); ++it) {
            if (it->size() > 0 && it->isDetached()) {
                buf->swap(*it);
                spare.erase(it);
                break;
            }
        }
        // Jobs hold a few runs at most; past that the oldest is left to them alone.
        if (spare.size() > size_t(2 * kAheadRuns))
            spare.erase(spare.begin());
    }
    Run *runAt(qint64 pos)
    {
        for (Run &run : runs) {
            if (run.pos == pos)
                return &run;
        }
        return nullptr;
    }
    // Asks for runs from 'from' on until every free run is asked for; runs not in that chain are
    // dropped. The chain goes on behind the bytes the walk jumps over, and no run reads into them.
    // Short stretches between jumps are left to the walk: a run's hand-over would cost more than
    // its read.
    void askFrom(qint64 from, qint64 size)
    {
        from = reader.aheadFrom(from);
        qint64 end = from;
        for (Run *run = runAt(end); run; run = runAt(end))
            end = reader.aheadFrom(run->pos + run->length);
        for (Run &run : runs) {
            if (run.pos >= 0 && (run.pos < from || run.pos >= end))
                run.pos = -1;
        }
        bool asked = false;
        for (Run &run : runs) {
            if (end >= size)
                break;
            if (run.pos >= 0 || run.reading)
                continue;
            run.pos = end;
            run.length = qMin(qMin(kAheadRun, size - end), reader.jumpFrom(end) - end);
            run.got = -1;
            end = reader.aheadFrom(end + run.length);
            asked = true;
        }
        // A wake costs the readers' and the walk's processors: only for work.
        if (asked)
            changed.notify_all();
    }

    ArchiveSource &source;
    const BufferedArchiveReader &reader;
    std::mutex mutex;
    std::condition_variable changed;
    Run runs[kAheadRuns];
    std::vector<QByteArray> spare;  // buffers jobs shared when their run was read again
    bool quit = false;
    std::thread threads[kAheadReaders];
};
