#include "clock/beat_clock.h"

#include "clock/beat_gate.h"
#include "clock/beat_pattern.h"
#include "clock/winmm_binding.h"
#include "common/system_function.h"
#include "common/tempo_settings.h"

#include <process.h>

namespace {

// SetProcessInformation is declared only for Windows 8 and later; its type is spelled out here
// with the header's own PROCESS_INFORMATION_CLASS.
typedef BOOL(WINAPI *SetProcessInformationFn)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);

// Windows 11 may ignore a raised timer resolution while the process's window is hidden,
// minimised or covered, which would make the click uneven exactly when nobody watches.
// Looked up at run time: older systems lack the function or the flag, and then nothing changes.
void KeepTimerResolutionWhenHidden() {
    SetProcessInformationFn setInformation = nullptr;
    if (!BindKernelFunction("SetProcessInformation", &setInformation)) {
        return;
    }
    PROCESS_POWER_THROTTLING_STATE state = {PROCESS_POWER_THROTTLING_CURRENT_VERSION,
                                            PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION, 0};
    setInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof(state));
}

// The thread looks at the running flag every 100 ms rather than waiting on an event: the flag is
// the only signal between the threads, with no handle to make, share or leak, and the wait stays
// a plain Sleep. The poll bounds how long a stop waits for the clean-up; when the click falls
// silent is the timer callback's business, which reads the flag itself (see beat_gate.h).
const DWORD kPollMs = 100;
const unsigned kExitStopped = 0;
const unsigned kExitFailed = 0xFFFFFFFFu;

// Runs the click from arming the timer to the stop. Returns the exit code; the caller gives
// back the resolution and the MIDI output.
unsigned PlayUntilStopped(const WinmmCalls *winmm, const TempoSettings *settings, BeatState *state,
                          UINT period) {
    state->beats = settings->beats;
    state->count = 0;
    OpenBeatGate(state, &settings->running);
    // TIME_KILL_SYNCHRONOUS: timeKillEvent returns only once no callback of this timer is running
    // or still to start. The gate keeps a late callback away from this clock's state, but not
    // from the next clock's, whose state may sit at the same address (see beat_gate.h).
    const MMRESULT timer =
        winmm->timeSetEvent(period, 0, BeatTimerProc, reinterpret_cast<DWORD_PTR>(state),
                            TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    if (timer == 0) {
        CloseBeatGate();
        return kExitFailed;
    }
    while (settings->running.load(std::memory_order_acquire) != 0) {
        Sleep(kPollMs);
    }
    winmm->timeKillEvent(timer);
    CloseBeatGate(); // from here on no callback uses state or its MIDI handle
    return kExitStopped;
}

} // namespace

void CALLBACK BeatTimerProc(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    BeatState *state = reinterpret_cast<BeatState *>(user);
    if (state == nullptr || !EnterBeatGate(state)) {
        return;
    }
    const uint32_t message = NextBeatMessage(state);
    // The gate is open only while a clock that has bound winmm plays.
    const WinmmCalls *winmm = BoundWinmm();
    if (winmm != nullptr) {
        winmm->midiOutShortMsg(state->midiOut, message); // a failed send still advances the bar
    }
    LeaveBeatGate();
}

// The thread's entry, as _beginthreadex calls it: its one argument is a plain void *, which the
// clock only reads through.
// cppcheck-suppress constParameterPointer
unsigned __stdcall BeatClockThread(void *argument) {
    BeatState state = {0, 0, nullptr};
    TIMECAPS caps = {0, 0};
    const TempoSettings *settings = static_cast<const TempoSettings *>(argument);
    // A zero tempo has no period; the dialog never passes one, but dividing by it would crash.
    // Without winmm there is no timer and no MIDI output: the click fails as without a device.
    const bool tempo = settings != nullptr && settings->bpm != 0;
    const WinmmCalls *winmm = tempo ? BindWinmm() : nullptr;
    if (winmm == nullptr || winmm->timeGetDevCaps(&caps, sizeof(caps)) != TIMERR_NOERROR ||
        winmm->timeBeginPeriod(caps.wPeriodMin) != TIMERR_NOERROR) {
        _endthreadex(kExitFailed);
        return kExitFailed;
    }
    KeepTimerResolutionWhenHidden();

    unsigned exitCode = kExitFailed;
    const UINT period = BeatPeriodMs(settings->bpm);
    if (winmm->midiOutOpen(&state.midiOut, MIDI_MAPPER, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR) {
        exitCode = PlayUntilStopped(winmm, settings, &state, period);
    } else {
        state.midiOut = nullptr;
    }

    winmm->timeEndPeriod(caps.wPeriodMin);
    if (state.midiOut != nullptr) {
        winmm->midiOutReset(state.midiOut); // silences whatever still sounds
        winmm->midiOutClose(state.midiOut);
    }
    _endthreadex(exitCode);
    return exitCode;
}
