// Starting and stopping the beat-clock thread as the dialog does, for the clock's tests and its
// benchmark. Needs the clock library.
#ifndef HARNESS_CLOCK_RUNNER_H
#define HARNESS_CLOCK_RUNNER_H

#include "clock/beat_clock.h"
#include "common/tempo_settings.h"
#include "microseconds.h"

#include <process.h>

// Fills settings for a run at bpm with beats per bar, sets running and starts the thread.
// Returns its handle, or null.
inline HANDLE StartBeatClock(TempoSettings *settings, uint32_t bpm, uint32_t beats) {
    ClearTempoSettings(settings);
    settings->bpm = bpm;
    settings->beats = beats;
    settings->noteValue = 4;
    settings->running.store(1);
    return reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, BeatClockThread, settings, 0, nullptr));
}

// Clears running, waits up to timeoutMs for the thread and closes its handle. Returns the
// microseconds from clearing the flag to the thread's end (or -1 after the time-out) and, when
// exitCode is given, the thread's exit code.
inline long long StopBeatClock(TempoSettings *settings, HANDLE thread, DWORD timeoutMs = INFINITE,
                               DWORD *exitCode = nullptr) {
    const long long stop = NowMicroseconds();
    settings->running.store(0);
    const bool ended = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    const long long took = NowMicroseconds() - stop;
    if (exitCode != nullptr) {
        GetExitCodeThread(thread, exitCode);
    }
    CloseHandle(thread);
    return ended ? took : -1;
}

#endif
