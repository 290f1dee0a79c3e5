#include "clock/beat_pattern.h"

uint32_t BeatPeriodMs(uint32_t bpm) {
    return 36000u / bpm;
}

uint32_t NextBeatMessage(BeatState *state) {
    state->count += 1;
    const uint32_t message = state->count == 1 ? kAccentNote : kBeatNote;
    if (state->count == state->beats) {
        state->count = 0;
    }
    return message;
}
