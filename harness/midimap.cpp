// A MIDI mapper for tests: stands where the synthesiser would be and records what the program
// sends through winmm, one line per event, with a high-resolution timestamp:
//   <microseconds> <process id> OPEN|DATA <message hex>|RESET|CLOSE
// The log goes to the file named by METRONOME_MIDI_LOG; nothing is recorded when it is unset.
// Installed in the Wine prefix's system folder, Wine loads it in place of its own mapper when
// told so (WINEDLLOVERRIDES=midimap=n).
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <cstdio>

#include "microseconds.h"

namespace {

void Record(const char *event, DWORD_PTR value, bool withValue) {
    const long long now = NowMicroseconds();
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"METRONOME_MIDI_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    char line[96];
    int size =
        withValue
            ? std::snprintf(line, sizeof(line), "%lld %lu %s %08lx\n", now, GetCurrentProcessId(),
                            event, static_cast<unsigned long>(value))
            : std::snprintf(line, sizeof(line), "%lld %lu %s\n", now, GetCurrentProcessId(), event);
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
}

} // namespace

extern "C" LRESULT CALLBACK DriverProc(DWORD_PTR, HDRVR, UINT message, LPARAM, LPARAM) {
    switch (message) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_OPEN:
    case DRV_CLOSE:
    case DRV_ENABLE:
    case DRV_DISABLE:
        return 1;
    default:
        return 0;
    }
}

extern "C" DWORD CALLBACK modMessage(UINT, UINT message, DWORD_PTR, DWORD_PTR p1, DWORD_PTR p2) {
    switch (message) {
    case DRVM_INIT:
    case DRVM_EXIT:
    case DRVM_ENABLE:
    case DRVM_DISABLE:
        return MMSYSERR_NOERROR;
    case MODM_GETNUMDEVS:
        return 1;
    case MODM_GETDEVCAPS: {
        if (p1 == 0 || p2 < sizeof(MIDIOUTCAPSW)) {
            return MMSYSERR_INVALPARAM;
        }
        MIDIOUTCAPSW *caps = reinterpret_cast<MIDIOUTCAPSW *>(p1);
        ZeroMemory(caps, sizeof(*caps));
        lstrcpynW(caps->szPname, L"Recording MIDI output", MAXPNAMELEN);
        caps->wTechnology = MOD_MAPPER;
        caps->wVoices = 0;
        caps->wNotes = 0;
        caps->wChannelMask = 0xFFFF;
        return MMSYSERR_NOERROR;
    }
    case MODM_OPEN:
        Record("OPEN", 0, false);
        return MMSYSERR_NOERROR;
    case MODM_DATA:
        Record("DATA", p1, true);
        return MMSYSERR_NOERROR;
    case MODM_RESET:
        Record("RESET", 0, false);
        return MMSYSERR_NOERROR;
    case MODM_CLOSE:
        Record("CLOSE", 0, false);
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}
