// The click itself: the tick period that follows from the tempo and, tick by tick, the note to
// send. Only the send needs the platform; it lives in the timer callback.
#ifndef CLOCK_BEAT_PATTERN_H
#define CLOCK_BEAT_PATTERN_H

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
typedef HMIDIOUT BeatMidiOut;
#else
typedef struct BeatMidiOutHandle *BeatMidiOut; // stands in for HMIDIOUT off Windows
#endif

// Note On, channel 10, velocity 127: open hi-hat (key 46) on the first beat of a bar, closed
// hi-hat (key 42) on the others. Packed as status | key << 8 | velocity << 16.
const uint32_t kAccentNote = 0x007F2E99;
const uint32_t kBeatNote = 0x007F2A99;

// Shared by the beat-clock thread, which fills it before arming the timer, and the timer
// callback, the only code that advances count while the timer exists.
struct BeatState {
    uint32_t beats; // bar length in beats
    uint32_t count; // ticks since the bar began; 0 when the timer is armed
    BeatMidiOut midiOut;
};

// Milliseconds between ticks: 36000 / bpm, remainder discarded. bpm must not be 0.
//
// 36000, not 60000, and on purpose: the field labelled BPM is the program's own tempo value, not
// beats per minute. A value N clicks 5N/3 times a minute (90, the default, clicks 150 times, every
// 400 ms); the README tells users to type 3T/5 for a true tempo T. Changing it to 60000 would
// slow down every tempo anyone has ever typed.
uint32_t BeatPeriodMs(uint32_t bpm);

// Advances the bar by one tick and returns the message for that tick.
uint32_t NextBeatMessage(BeatState *state);

#endif
