#include "clock/beat_clock.h"

#include "clock/beat_gate.h"
#include "clock/beat_pattern.h"

void CALLBACK BeatTimerProc(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    BeatState *state = reinterpret_cast<BeatState *>(user);
    if (state == nullptr || !EnterBeatGate(state)) {
        return;
    }
    const uint32_t message = NextBeatMessage(state);
    midiOutShortMsg(state->midiOut, message); // a failed send still advances the bar
    LeaveBeatGate();
}
