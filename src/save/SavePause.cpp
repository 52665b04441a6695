#include "save/SavePause.h"

#include "platform/WorkerGlobals.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

struct PauseGate {
    std::mutex lock;
    std::condition_variable resumed;
    bool paused = false;
    int waiting[2] = {0, 0};
};

PauseGate &gate()
{
    static PauseGate g;
    return g;
}

}  // namespace

bool SaveStopAsked()
{
    return stopflag || bStopFlag;
}

void PauseSave()
{
    std::lock_guard<std::mutex> held(gate().lock);
    gate().paused = true;
}

void ResumeSave()
{
    {
        std::lock_guard<std::mutex> held(gate().lock);
        gate().paused = false;
    }
    gate().resumed.notify_all();
}

bool SavePaused()
{
    std::lock_guard<std::mutex> held(gate().lock);
    return gate().paused;
}

void WaitWhileSavePaused(SavePauseRole role)
{
    PauseGate &g = gate();
    std::unique_lock<std::mutex> held(g.lock);
    if (!g.paused)
        return;
    int &count = g.waiting[role == SavePauseRole::Writer ? 0 : 1];
    ++count;
    // The stop flags are set without this lock (the window's exit, a thread's destructor): look
    // at them now and then rather than rely on a wake-up.
    while (g.paused && !SaveStopAsked())
        g.resumed.wait_for(held, std::chrono::milliseconds(50));
    --count;
}

int ThreadsWaitingAtPause(SavePauseRole role)
{
    std::lock_guard<std::mutex> held(gate().lock);
    return gate().waiting[role == SavePauseRole::Writer ? 0 : 1];
}
