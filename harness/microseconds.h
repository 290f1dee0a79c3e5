// The clock of the MIDI recording: QueryPerformanceCounter in microseconds, the same in every
// process of a Wine prefix or Windows session.
#ifndef HARNESS_MICROSECONDS_H
#define HARNESS_MICROSECONDS_H

#include <windows.h>

inline long long NowMicroseconds() {
    LARGE_INTEGER ticks;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&ticks);
    QueryPerformanceFrequency(&frequency);
    const long long seconds = ticks.QuadPart / frequency.QuadPart;
    const long long rest = ticks.QuadPart % frequency.QuadPart;
    return seconds * 1000000 + rest * 1000000 / frequency.QuadPart;
}

#endif
