// A MIDI mapper for tests: stands where the synthesiser would be and records what the program
// sends through winmm, one line per event, with a high-resolution timestamp:
//   <microseconds> <process id> OPEN|DATA <message hex>|RESET|CLOSE
// The log goes to the file named by METRONOME_MIDI_LOG when the output is opened; nothing is
// recorded when it is unset. Installed in the Wine prefix's system folder, Wine loads it in place
// of its own mapper when told so (WINEDLLOVERRIDES=midimap=n).
//
// The notes arrive on winmm's timer thread, the very path the tests and the benchmark measure,
// so there the recorder only stamps each note into memory made ready before the first one. A
// thread of its own writes them out every 100 ms, into the log it keeps open from the output's
// open to its close; the open, reset and close, which come on the program's own thread, are
// written at once, with whatever notes came before them. A program that is killed loses at most
// its last 100 ms of notes.
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <new>

#include "microseconds.h"

namespace {

enum class Kind : uint8_t { Open, Data, Reset, Close };

struct Slot {
    long long us;
    DWORD value;
    Kind kind;
    std::atomic<uint64_t> published; // the event's number + 1 once the slot holds it
};

// Far more than the writer can fall behind in 100 ms: a note every millisecond fills 100.
const uint64_t kSlots = 1 << 16;
const DWORD kWriteEveryMs = 100;

Slot *g_slots = nullptr;              // made, and touched, before the first note
std::atomic<uint64_t> g_next{0};      // the next event's number
std::atomic<bool> g_recording{false}; // a log is named and the memory is ready
uint64_t g_written = 0;               // events written so far; under g_writing
HANDLE g_log = INVALID_HANDLE_VALUE;  // the session's log, open from its open to its close
CRITICAL_SECTION g_writing;           // one writer at a time: the thread, or an open or close
HANDLE g_writer = nullptr;
HANDLE g_stopWriter = nullptr;

const char *NameOf(Kind kind) {
    switch (kind) {
    case Kind::Open:
        return "OPEN";
    case Kind::Data:
        return "DATA";
    case Kind::Reset:
        return "RESET";
    default:
        return "CLOSE";
    }
}

// Appends every event published so far to the log. Holds g_writing.
void WritePending() {
    char text[8192];
    size_t used = 0;
    const auto flush = [&] {
        DWORD done = 0;
        if (used != 0 && g_log != INVALID_HANDLE_VALUE) {
            WriteFile(g_log, text, static_cast<DWORD>(used), &done, nullptr);
        }
        used = 0;
    };
    const unsigned long pid = GetCurrentProcessId();
    for (;;) {
        const Slot &slot = g_slots[g_written % kSlots];
        if (slot.published.load(std::memory_order_acquire) != g_written + 1) {
            break;
        }
        if (sizeof(text) - used < 96) {
            flush();
        }
        const int size =
            slot.kind == Kind::Data
                ? std::snprintf(text + used, sizeof(text) - used, "%lld %lu %s %08lx\n", slot.us,
                                pid, NameOf(slot.kind), static_cast<unsigned long>(slot.value))
                : std::snprintf(text + used, sizeof(text) - used, "%lld %lu %s\n", slot.us, pid,
                                NameOf(slot.kind));
        used += size > 0 ? static_cast<size_t>(size) : 0;
        ++g_written;
    }
    flush();
}

// Holds g_writing.
void CloseLog() {
    if (g_log != INVALID_HANDLE_VALUE) {
        CloseHandle(g_log);
        g_log = INVALID_HANDLE_VALUE;
    }
}

DWORD WINAPI WriterThread(void *) {
    while (WaitForSingleObject(g_stopWriter, kWriteEveryMs) == WAIT_TIMEOUT) {
        EnterCriticalSection(&g_writing);
        WritePending();
        LeaveCriticalSection(&g_writing);
    }
    return 0;
}

// Any thread: stamps the event into its slot. Nothing here waits or calls the system but the
// clock.
void Stamp(Kind kind, DWORD value) {
    const long long now = NowMicroseconds();
    if (!g_recording.load(std::memory_order_acquire)) {
        return;
    }
    const uint64_t number = g_next.fetch_add(1);
    Slot &slot = g_slots[number % kSlots];
    slot.us = now;
    slot.value = value;
    slot.kind = kind;
    slot.published.store(number + 1, std::memory_order_release);
}

// On the output's open: the memory and the writer made ready (once), earlier events written to
// the log they belong to, and the log named now taken for what follows.
void BeginSession() {
    EnterCriticalSection(&g_writing);
    if (g_slots == nullptr) {
        g_slots = static_cast<Slot *>(
            VirtualAlloc(nullptr, sizeof(Slot) * kSlots, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (g_slots != nullptr) {
            for (uint64_t i = 0; i < kSlots; ++i) {
                new (&g_slots[i]) Slot{0, 0, Kind::Data, {0}}; // touches every page now
            }
            g_stopWriter = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            g_writer = CreateThread(nullptr, 0, WriterThread, nullptr, 0, nullptr);
        }
    }
    if (g_slots != nullptr) {
        WritePending();
        CloseLog();
        wchar_t path[MAX_PATH];
        const DWORD length = GetEnvironmentVariableW(L"METRONOME_MIDI_LOG", path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            // Appended to by every process that records into it; readable, and removable,
            // while open.
            g_log = CreateFileW(path, FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        g_recording.store(g_log != INVALID_HANDLE_VALUE, std::memory_order_release);
    }
    LeaveCriticalSection(&g_writing);
}

// An event from the program's own thread, written at once with all before it.
void RecordNow(Kind kind) {
    Stamp(kind, 0);
    if (g_slots != nullptr) {
        EnterCriticalSection(&g_writing);
        WritePending();
        if (kind == Kind::Close) { // the session's log is whole
            g_recording.store(false, std::memory_order_release);
            CloseLog();
        }
        LeaveCriticalSection(&g_writing);
    }
}

// The driver is freed: the rest written, the writer ended.
void EndRecording() {
    if (g_writer != nullptr) {
        SetEvent(g_stopWriter);
        WaitForSingleObject(g_writer, INFINITE);
        CloseHandle(g_writer);
        g_writer = nullptr;
    }
    if (g_slots != nullptr) {
        EnterCriticalSection(&g_writing);
        WritePending();
        CloseLog();
        LeaveCriticalSection(&g_writing);
    }
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_writing);
    }
    return TRUE;
}

extern "C" LRESULT CALLBACK DriverProc(DWORD_PTR, HDRVR, UINT message, LPARAM, LPARAM) {
    switch (message) {
    case DRV_FREE:
        EndRecording();
        return 1;
    case DRV_LOAD:
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
        BeginSession();
        RecordNow(Kind::Open);
        return MMSYSERR_NOERROR;
    case MODM_DATA:
        Stamp(Kind::Data, static_cast<DWORD>(p1)); // winmm's timer thread: memory only
        return MMSYSERR_NOERROR;
    case MODM_RESET:
        RecordNow(Kind::Reset);
        return MMSYSERR_NOERROR;
    case MODM_CLOSE:
        RecordNow(Kind::Close);
        return MMSYSERR_NOERROR;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}
