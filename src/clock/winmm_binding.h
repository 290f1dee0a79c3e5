// winmm, bound at run time from the system folder. winmm is not one of Windows' known DLLs, so a
// program that imported it by name would take a winmm.dll from its own folder first, where
// anybody may have left one.
#ifndef CLOCK_WINMM_BINDING_H
#define CLOCK_WINMM_BINDING_H

#include <windows.h>
#include <mmsystem.h>

// The winmm functions the beat clock uses, under their own names, typed from the SDK's own
// declarations so that a wrong signature cannot compile.
struct WinmmCalls {
    decltype(&::timeGetDevCaps) timeGetDevCaps;
    decltype(&::timeBeginPeriod) timeBeginPeriod;
    decltype(&::timeEndPeriod) timeEndPeriod;
    decltype(&::timeSetEvent) timeSetEvent;
    decltype(&::timeKillEvent) timeKillEvent;
    decltype(&::midiOutOpen) midiOutOpen;
    decltype(&::midiOutShortMsg) midiOutShortMsg;
    decltype(&::midiOutReset) midiOutReset;
    decltype(&::midiOutClose) midiOutClose;
};

// Loads winmm from the system folder on first use and keeps it. Returns its calls, or null when
// winmm or one of the functions is missing. Only the beat-clock thread calls it, and one runs at
// a time.
const WinmmCalls *BindWinmm();

// The calls once BindWinmm has succeeded, or null; for any thread.
const WinmmCalls *BoundWinmm();

#endif
