#include "clock/winmm_binding.h"

#include "common/system_function.h"

#include <atomic>

namespace {

WinmmCalls g_winmmCalls;
// Set, with release, once g_winmmCalls is complete; read with acquire by every user.
std::atomic<bool> g_winmmBound(false);

// The full path of winmm in the system folder, or false when it does not fit.
bool SystemWinmmPath(wchar_t (&path)[MAX_PATH]) {
    const wchar_t name[] = L"\\winmm.dll";
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + sizeof(name) / sizeof(name[0]) > MAX_PATH) {
        return false;
    }
    lstrcpyW(path + length, name);
    return true;
}

} // namespace

const WinmmCalls *BindWinmm() {
    if (g_winmmBound.load(std::memory_order_acquire)) {
        return &g_winmmCalls;
    }
    wchar_t path[MAX_PATH];
    if (!SystemWinmmPath(path)) {
        return nullptr;
    }
    HMODULE winmm = LoadLibraryW(path); // kept for the life of the process
    WinmmCalls &c = g_winmmCalls;
    const bool complete = BindSystemFunction(winmm, "timeGetDevCaps", &c.timeGetDevCaps) &&
                          BindSystemFunction(winmm, "timeBeginPeriod", &c.timeBeginPeriod) &&
                          BindSystemFunction(winmm, "timeEndPeriod", &c.timeEndPeriod) &&
                          BindSystemFunction(winmm, "timeSetEvent", &c.timeSetEvent) &&
                          BindSystemFunction(winmm, "timeKillEvent", &c.timeKillEvent) &&
                          BindSystemFunction(winmm, "midiOutOpen", &c.midiOutOpen) &&
                          BindSystemFunction(winmm, "midiOutShortMsg", &c.midiOutShortMsg) &&
                          BindSystemFunction(winmm, "midiOutReset", &c.midiOutReset) &&
                          BindSystemFunction(winmm, "midiOutClose", &c.midiOutClose);
    if (!complete) {
        if (winmm != nullptr) {
            FreeLibrary(winmm);
        }
        return nullptr;
    }
    g_winmmBound.store(true, std::memory_order_release);
    return &g_winmmCalls;
}

const WinmmCalls *BoundWinmm() {
    return g_winmmBound.load(std::memory_order_acquire) ? &g_winmmCalls : nullptr;
}
