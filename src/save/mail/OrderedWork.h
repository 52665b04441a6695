#pragma once
// Work done ahead on a few threads and used in its original order on the calling thread: the
// writers format the next messages of a folder while one thread appends them to the output.

#include <algorithm>
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
template <typename Result>
bool RunInOrder(int count, int workers, int window, const std::function<Result(int)> &prepare,
                const std::function<bool(int, Result &)> &consume)
{
    window = std::max(window, 1);
    workers = std::max(1, std::min(workers, window));
    std::mutex lock;
    // Two conditions and single wake-ups: with small items, waking every thread for every item
    // costs more than the items.
    std::condition_variable slotFree, itemReady;
    std::vector<Result> results(size_t(std::min(window, std::max(count, 1))));
    std::vector<char> ready(results.size(), 0);
    std::vector<int> maker(results.size(), 0);
    // Consumed results wait here for the worker that made them, which destroys them: memory
    // freed by the thread that allocated it takes no lock another thread is holding.
    std::vector<std::vector<Result>> spent(static_cast<size_t>(workers));
    const int ring = int(results.size());
    int next = 0;      // next item a worker takes
    int consumed = 0;  // items handed to consume so far; the consumer waits for this one
    int idleWorkers = 0;
    bool consumerWaits = false;
    bool ended = false;

    auto work = [&](int self) {
        std::vector<Result> done;
        std::unique_lock<std::mutex> held(lock);
        for (;;) {
            // A slot is free once the item `ring` places before it has been consumed.
            while (!ended && next < count && next >= consumed + ring) {
                ++idleWorkers;
                slotFree.wait(held);
                --idleWorkers;
            }
            if (ended || next >= count)
                return;
            const int i = next++;
            done.swap(spent[size_t(self)]);
            // Idle workers wake one another while slots are free, so the consumer wakes one.
            const bool wakeNext = idleWorkers > 0 && next < count && next < consumed + ring;
            held.unlock();
            if (wakeNext)
                slotFree.notify_one();
            done.clear();
            Result result = prepare(i);
            held.lock();
            results[size_t(i % ring)] = std::move(result);
            maker[size_t(i % ring)] = self;
            ready[size_t(i % ring)] = 1;
            if (consumerWaits && i == consumed)
                itemReady.notify_one();
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(size_t(workers));
    for (int w = 0; w < workers; ++w)
        pool.emplace_back(work, w);

    bool finished = true;
    Result last;
    int lastMaker = -1;
    for (int i = 0; i < count; ++i) {
        Result result;
        bool wake = false;
        {
            std::unique_lock<std::mutex> held(lock);
            if (lastMaker >= 0)
                spent[size_t(lastMaker)].push_back(std::move(last));
            while (!ready[size_t(i % ring)]) {
                consumerWaits = true;
                itemReady.wait(held);
                consumerWaits = false;
            }
            result = std::move(results[size_t(i % ring)]);
            results[size_t(i % ring)] = Result();
            lastMaker = maker[size_t(i % ring)];
            ready[size_t(i % ring)] = 0;
            consumed = i + 1;
            // Idle workers are woken once half the window is free: one wake-up per consumed
            // item made the consumer wait on the scheduler instead of the work.
            wake = idleWorkers > 0 && 2 * (consumed + ring - next) >= ring;
        }
        if (wake)
            slotFree.notify_one();
        const bool goOn = consume(i, result);
        last = std::move(result);
        if (!goOn) {
            finished = false;
            break;
        }
    }
    {
        std::lock_guard<std::mutex> held(lock);
        ended = true;
    }
    slotFree.notify_all();
    for (std::thread &t : pool)
        t.join();
    return finished;
}
