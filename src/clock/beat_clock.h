// The worker thread that keeps the beat: it owns the timer resolution, the MIDI output and the
// periodic multimedia timer while the click plays.
#ifndef CLOCK_BEAT_CLOCK_H
#define CLOCK_BEAT_CLOCK_H

#include <windows.h>
#include <mmsystem.h>

// Start routine for _beginthreadex; the argument is the TempoSettings to play. Ends through
// _endthreadex with 0 after a stop, or 0xFFFFFFFF when the click could not be started.
unsigned __stdcall BeatClockThread(void *argument);

// Multimedia-timer callback; user is the address of the beat clock's BeatState.
void CALLBACK BeatTimerProc(UINT timerId, UINT message, DWORD_PTR user, DWORD_PTR reserved1,
                            DWORD_PTR reserved2);

#endif
