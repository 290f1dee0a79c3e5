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
std::atomic<unsigned> g_callbacksInside{0};

} // namespace

void OpenBeatGate(BeatState *state) {
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

int EnterBeatGate(const BeatState *state) {
    g_callbacksInside.fetch_add(1);
    if (state != nullptr && g_gateState.load() == state) {
        return 1;
    }
    g_callbacksInside.fetch_sub(1);
    return 0;
}

void LeaveBeatGate() {
    g_callbacksInside.fetch_sub(1);
}
