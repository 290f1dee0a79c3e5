#include "clock/beat_gate.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#endif

namespace {

// Lets a callback that is inside run on. The platform's own yield: std::this_thread would link
// a threading library into the program.
void YieldToCallbacks() {
#ifdef _WIN32
    SwitchToThread();
#else
    sched_yield();
#endif
}

// Sequentially consistent throughout: the argument below needs a single order of the gate's
// store and the callbacks' check-ins.
std::atomic<const BeatState *> g_gateState{nullptr};
std::atomic<const std::atomic<uint32_t> *> g_running{nullptr};
std::atomic<unsigned> g_callbacksInside{0};

} // namespace

void OpenBeatGate(BeatState *state, const std::atomic<uint32_t> *running) {
    g_running.store(running); // before the state: whoever sees the state sees its flag
    g_gateState.store(state);
}

void CloseBeatGate() {
    g_gateState.store(nullptr);
    // A callback that checked in before this point is waited for; one that checks in after it
    // reads the null stored above.
    while (g_callbacksInside.load() != 0) {
        YieldToCallbacks();
    }
}

bool EnterBeatGate(const BeatState *state) {
    g_callbacksInside.fetch_add(1);
    // The flag is read only once the gate names the state, so while the clock, and the
    // settings it plays, are alive.
    //
    // A callback that read the flag an instant before the dialog's thread cleared it still sends
    // its note, just after the press: reading the flag and sending are two steps, and making them
    // one would take a lock that the dialog's thread would wait on. That is all it can be: the
    // timer's callbacks run one after another, and every one that starts after the store reads 0.
    if (state != nullptr && g_gateState.load() == state &&
        g_running.load()->load(std::memory_order_acquire) != 0) {
        return true;
    }
    g_callbacksInside.fetch_sub(1);
    return false;
}

void LeaveBeatGate() {
    g_callbacksInside.fetch_sub(1);
}
