#include "clock/beat_clock.h"

namespace {

// Declared here because older SDK headers lack them; the values are the system's own.
const int kProcessPowerThrottling = 4; // PROCESS_INFORMATION_CLASS ProcessPowerThrottling
const ULONG kThrottlingCurrentVersion = 1;
const ULONG kThrottlingIgnoreTimerResolution = 0x4;

struct PowerThrottlingState {
    ULONG Version;
    ULONG ControlMask;
    ULONG StateMask;
};

typedef BOOL(WINAPI *SetProcessInformationFn)(HANDLE, int, LPVOID, DWORD);

} // namespace

// Windows 11 may ignore a raised timer resolution while the process's window is hidden,
// minimised or covered, which would make the click uneven exactly when nobody watches.
// Looked up at run time: older systems lack the function or the flag, and then nothing changes.
void KeepTimerResolutionWhenHidden() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return;
    }
    SetProcessInformationFn setInformation = reinterpret_cast<SetProcessInformationFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetProcessInformation")));
    if (setInformation == nullptr) {
        return;
    }
    PowerThrottlingState state = {kThrottlingCurrentVersion, kThrottlingIgnoreTimerResolution, 0};
    setInformation(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof(state));
}
