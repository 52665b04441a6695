#pragma once
// Work done ahead on a few threads and used in its original order on the calling thread: the
// writers format the next messages of a folder while one thread appends them to the output.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Worker threads a save uses by default: the machine's cores, at most eight (more only add
// memory and page-cache contention).
int DefaultSaveThreads();

// Runs prepare(i) for every i in [0, count) on `workers` threads, never more than `window` items
// ahead of the consumer, and hands each result to consume(i, result) in the order of i on the
// calling thread. consume returns false to end the run: no later item is consumed, and workers
// finish only the items they already hold. Returns false when consume ended it.
//
// Workers take `chunk` consecutive items at a time and hand them over together: with small
// items, taking the lock for every item kept the threads waiting on each other.
//
// pausePoint, when set, is where a pause holds the run: a worker calls it (false) before it takes
// the next chunk, the consumer (true) whenever the chunk it needs is not ready, again every
// 50 ms while it waits. It returns when the run may go on.
template <typename Result>
bool RunInOrder(int count, int workers, int window, int chunk, const std::function<Result(int)> &prepare,
                const std::function<bool(int, Result &)> &consume,
                const std::function<void(bool consumer)> &pausePoint = {})
{
    window = std::max(window, 1);
    chunk = std::max(1, std::min(chunk, window));
    const int chunks = (std::max(count, 0) + chunk - 1) / chunk;
    const int ring = std::max(1, std::min(window / chunk, chunks));
    workers = std::max(1, std::min(workers, ring));
    using Chunk = std::vector<Result>;
    std::mutex lock;
    // Two conditions and single wake-ups: waking every thread for every chunk costs more than
    // the chunks.
    std::condition_variable slotFree, chunkReady;
    std::vector<Chunk> places(static_cast<size_t>(ring));
    std::vector<char> ready(places.size(), 0);
    std::vector<int> maker(places.size(), 0);
    // Consumed chunks wait here for the worker that made them, which destroys them: memory freed
    // by the thread that allocated it takes no lock another thread is holding.
    std::vector<std::vector<Chunk>> spent(static_cast<size_t>(workers));
    int next = 0;      // next chunk a worker takes
    int consumed = 0;  // chunks consumed so far; the consumer waits for this one
    int idleWorkers = 0;
    bool consumerWaits = false;
    bool ended = false;

    auto work = [&](int self) {
        std::vector<Chunk> done;
        std::unique_lock<std::mutex> held(lock);
        for (;;) {
            // Only a worker with work left waits: the run's end must not wait on a pause.
            if (pausePoint && !ended && next < chunks) {
                held.unlock();
                pausePoint(false);
                held.lock();
            }
            // A place is free once the chunk `ring` places before it has been consumed.
            while (!ended && next < chunks && next >= consumed + ring) {
                ++idleWorkers;
                slotFree.wait(held);
                --idleWorkers;
            }
            if (ended || next >= chunks)
                return;
            const int c = next++;
            done.swap(spent[size_t(self)]);
            // Idle workers wake one another while places are free, so the consumer wakes one.
            const bool wakeNext = idleWorkers > 0 && next < chunks && next < consumed + ring;
            held.unlock();
            if (wakeNext)
                slotFree.notify_one();
            done.clear();
            const int first = c * chunk, last = std::min(count, first + chunk);
            Chunk made;
            made.reserve(size_t(last - first));
            for (int i = first; i < last; ++i)
                made.push_back(prepare(i));
            held.lock();
            places[size_t(c % ring)] = std::move(made);
            maker[size_t(c % ring)] = self;
            ready[size_t(c % ring)] = 1;
            if (consumerWaits && c == consumed)
                chunkReady.notify_one();
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(size_t(workers));
    for (int w = 0; w < workers; ++w)
        pool.emplace_back(work, w);

    bool finished = true;
    Chunk taken;
    int takenMaker = -1;
    // Both under the lock.
    const auto giveBack = [&] {
        if (takenMaker >= 0)
            spent[size_t(takenMaker)].push_back(std::move(taken));
        takenMaker = -1;
    };
    const auto take = [&](size_t place) {
        taken = std::move(places[place]);
        takenMaker = maker[place];
        ready[place] = 0;
    };
    for (int c = 0; c < chunks && finished; ++c) {
        const size_t place = size_t(c % ring);
        bool wake = false, have = false;
        {
            std::lock_guard<std::mutex> held(lock);
            // The chunk before is done with: its place is free, its results go back.
            giveBack();
            consumed = c;
            // Idle workers are woken once half the window is free: one wake-up per consumed
            // chunk made the consumer wait on the scheduler instead of the work.
            wake = idleWorkers > 0 && 2 * (consumed + ring - next) >= ring;
            have = ready[place];
            if (have)
                take(place);
        }
        if (wake)
            slotFree.notify_one();
        if (!have) {
            std::unique_lock<std::mutex> held(lock);
            while (!ready[place]) {
                consumerWaits = true;
                if (!pausePoint) {
                    chunkReady.wait(held);
                    consumerWaits = false;
                    continue;
                }
                // The workers may be held before taking the chunk waited for: wait where the
                // pause holds the run rather than on them.
                chunkReady.wait_for(held, std::chrono::milliseconds(50));
                consumerWaits = false;
                if (!ready[place]) {
                    held.unlock();
                    pausePoint(true);
                    held.lock();
                }
            }
            take(place);
        }
        for (size_t k = 0; k < taken.size() && finished; ++k)
            finished = consume(c * chunk + int(k), taken[k]);
    }
    {
        std::lock_guard<std::mutex> held(lock);
        giveBack();
        ended = true;
    }
    slotFree.notify_all();
    for (std::thread &t : pool)
        t.join();
    return finished;
}
