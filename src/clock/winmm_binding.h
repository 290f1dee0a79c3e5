// winmm, bound at run time from the system folder. winmm is not one of Windows' known DLLs, so a
// program that imported it by name would take a winmm.dll from its own folder first, where
// anybody may have left one.
#ifndef CLOCK_WINMM_BINDING_H
#define CLOCK_WINMM_BINDING_H

#include <windows.h>
#include <mmsystem.h>

// The winmm functions the beat clock uses, under their own names.
struct WinmmCalls {
    MMRESULT(WINAPI *timeGetDevCaps)(LPTIMECAPS caps, UINT size);
    MMRESULT(WINAPI *timeBeginPeriod)(UINT period);
    MMRESULT(WINAPI *timeEndPeriod)(UINT period);
    MMRESULT(WINAPI *timeSetEvent)
    (UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user, UINT event);
    MMRESULT(WINAPI *timeKillEvent)(UINT timer);
    MMRESULT(WINAPI *midiOutOpen)
    (LPHMIDIOUT out, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
    MMRESULT(WINAPI *midiOutShortMsg)(HMIDIOUT out, DWORD message);
    MMRESULT(WINAPI *midiOutReset)(HMIDIOUT out);
    MMRESULT(WINAPI *midiOutClose)(HMIDIOUT out);
};

// Loads winmm from the system folder on first use and keeps it. Returns its calls, or null when
// winmm or one of the functions is missing. Only the beat-clock thread calls it, and one runs at
// a time.
const WinmmCalls *BindWinmm();

// The calls once BindWinmm has succeeded, or null; for any thread.
const WinmmCalls *BoundWinmm();

#endif
