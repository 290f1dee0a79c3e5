#include "clock/beat_pattern.h"

#include "../expected_messages.h"

#include <gtest/gtest.h>

namespace {

TEST(BeatPeriodMs, IsThirtySixThousandOverTempo) {
    const struct {
        uint32_t bpm;
        uint32_t period;
    } cases[] = {{1, 36000}, {7, 5142}, {90, 400}, {120, 300}, {1000, 36}, {999, 36}, {11, 3272}};
    for (const auto &c : cases) {
        EXPECT_EQ(BeatPeriodMs(c.bpm), c.period) << "bpm " << c.bpm;
    }
}

// Keys over three bars: the accent opens every bar and the count wraps at the bar length; the bar
// length and the MIDI handle stay as the clock set them.
TEST(NextBeatMessage, AccentsTheFirstBeatOfEveryBar) {
    const BeatMidiOut handle = reinterpret_cast<BeatMidiOut>(static_cast<uintptr_t>(0x1234));
    for (uint32_t beats : {1u, 2u, 4u, 7u, 20u}) {
        SCOPED_TRACE(beats);
        BeatState state{beats, 0, handle};
        for (uint32_t tick = 0; tick < beats * 3; ++tick) {
            const uint32_t message = NextBeatMessage(&state);
            EXPECT_EQ(KeyOf(message), tick % beats == 0 ? 46 : 42) << "tick " << tick;
            EXPECT_EQ(message & 0xFFFF00FFu, 0x007F0099u);
            EXPECT_LT(state.count, beats);
        }
        EXPECT_EQ(state.count, 0u);
        EXPECT_EQ(state.beats, beats);
        EXPECT_EQ(state.midiOut, handle);
    }
}

} // namespace
