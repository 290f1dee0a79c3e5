// The record the dialog fills and the beat clock reads.
#ifndef COMMON_TEMPO_SETTINGS_H
#define COMMON_TEMPO_SETTINGS_H

#include <atomic>
#include <cstdint>

// Four 32-bit fields in this order, and nothing else, checked below: the one record two threads
// share stays a plain block whose flag is a single aligned word, read whole without a lock, and
// whose fields sit where anyone looking at the program's memory (a debugger, a dump) expects them.
struct TempoSettings {
    uint32_t bpm;   // tempo value, 1..1000 once accepted
    uint32_t beats; // beats per bar, 1..20
    // The lower number of the time signature, 1..20. Checked and stored like the others, and read
    // by nobody: a metronome's click is the same for 4/4 and 4/8, so neither the period nor the
    // pattern uses it. It is kept so that the time signature the user typed is checked whole.
    uint32_t noteValue;
    // 1 while the click is to play. Written by the dialog's thread while the beat-clock thread
    // polls it, so it is atomic: a plain 32-bit word, lock-free, same size and place.
    std::atomic<uint32_t> running;
};

static_assert(sizeof(std::atomic<uint32_t>) == 4, "running must stay a 32-bit flag");
static_assert(std::atomic<uint32_t>::is_always_lock_free, "running must need no lock");
static_assert(sizeof(TempoSettings) == 16, "TempoSettings is four 32-bit fields");

// Clears all four fields to 0.
inline void ClearTempoSettings(TempoSettings *settings) {
    settings->bpm = 0;
    settings->beats = 0;
    settings->noteValue = 0;
    settings->running.store(0);
}

#endif
