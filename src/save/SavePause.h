#pragma once
// The pause of a save while the window asks whether to stop it: the saving thread and its
// formatting workers wait at their next item until the question is answered. One save runs at a
// time, so there is one gate.

// Asks the running save to wait at its next item. GUI thread.
void PauseSave();
// Lets a paused save go on (No), or lets it reach its stop test (Yes, after the stop flags are
// set). GUI thread; also called when a save ends, so the next one starts unpaused.
void ResumeSave();
bool SavePaused();
// The user asked the running save to stop: long work inside one item looks here too.
bool SaveStopAsked();

// Who waits at the gate: the thread that writes the output, or a worker that prepares items.
enum class SavePauseRole { Writer, Worker };
// Returns at once unless the save is paused; then waits until it is resumed or a stop is
// requested (the stop flags are looked at while waiting, so a stop never waits on a resume).
void WaitWhileSavePaused(SavePauseRole role);
// Threads of the given role waiting at the gate now.
int ThreadsWaitingAtPause(SavePauseRole role);
