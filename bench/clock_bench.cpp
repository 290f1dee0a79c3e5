// Records the beat clock at work, for the timing report, one series a run: the real clock
// thread at a tempo, a naive Sleep loop for comparison, or many stops. Every note goes through
// winmm to the recording MIDI mapper, which timestamps it; this program writes the series' log
// and adds to a summary what only it can see (stop latency, processor time).
//   clock_bench OUT_FOLDER program|naive SECONDS TEMPO
//   clock_bench OUT_FOLDER stops
#include "clock/beat_pattern.h"
#include "clock_runner.h"
#include "midi_log.h"

#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void LogTo(const std::wstring &folder, const std::wstring &name) {
    UseMidiLog(folder + L"\\" + name + L".log");
}

long long ProcessCpuMicroseconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto micro = [](const FILETIME &t) {
        return static_cast<long long>(
            (static_cast<unsigned long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10);
    };
    return micro(kernel) + micro(user);
}

struct NaiveArgs {
    DWORD period;
    volatile LONG running;
};

// The way a naive metronome keeps time: a note, then Sleep for one period, over and over.
unsigned __stdcall NaiveLoop(void *argument) {
    NaiveArgs *args = static_cast<NaiveArgs *>(argument);
    HMIDIOUT out = nullptr;
    if (midiOutOpen(&out, MIDI_MAPPER, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        return 1;
    }
    uint32_t count = 0;
    while (args->running) {
        Sleep(args->period);
        midiOutShortMsg(out, ++count % 4 == 1 ? kAccentNote : kBeatNote);
    }
    midiOutReset(out);
    midiOutClose(out);
    return 0;
}

} // namespace

namespace {

void RecordProgram(const std::wstring &folder, FILE *summary, DWORD seconds, uint32_t bpm) {
    LogTo(folder, L"program-" + std::to_wstring(bpm));
    TempoSettings settings;
    const long long cpuBefore = ProcessCpuMicroseconds();
    const long long wallBefore = NowMicroseconds();
    HANDLE thread = StartBeatClock(&settings, bpm, 4);
    Sleep(seconds * 1000);
    const long long stopTook = StopBeatClock(&settings, thread);
    const long long cpu = ProcessCpuMicroseconds() - cpuBefore;
    const long long wall = NowMicroseconds() - wallBefore;
    std::fprintf(summary, "cpu %u %lld %lld\nstop %u %lld\n", bpm, cpu, wall, bpm, stopTook);
}

void RecordNaive(const std::wstring &folder, DWORD seconds, uint32_t bpm) {
    LogTo(folder, L"naive-" + std::to_wstring(bpm));
    NaiveArgs naive = {BeatPeriodMs(bpm), 1};
    HANDLE loop =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, NaiveLoop, &naive, 0, nullptr));
    Sleep(seconds * 1000);
    naive.running = 0;
    WaitForSingleObject(loop, INFINITE);
    CloseHandle(loop);
}

// Stop latency over many stops at the shortest period, each after a different time.
void RecordStops(const std::wstring &folder, FILE *summary) {
    LogTo(folder, L"stops");
    // Once untimed: the first open of the MIDI output in a process sets up winmm's drivers, which
    // a user pays once, not at every stop.
    TempoSettings warmUp;
    StopBeatClock(&warmUp, StartBeatClock(&warmUp, 1000, 4));
    for (int i = 0; i < 40; ++i) {
        TempoSettings settings;
        HANDLE thread = StartBeatClock(&settings, 1000, 4);
        Sleep(150 + static_cast<DWORD>(i * 37 % 200));
        std::fprintf(summary, "stop 0 %lld\n", StopBeatClock(&settings, thread));
    }
}

} // namespace

// Wide arguments: the folder may be named in any language.
int wmain(int argc, wchar_t **argv) {
    const std::wstring mode = argc > 2 ? argv[2] : L"";
    const bool series = (mode == L"program" || mode == L"naive") && argc == 5;
    if (!series && !(mode == L"stops" && argc == 3)) {
        std::fprintf(stderr, "usage: clock_bench OUT_FOLDER program|naive SECONDS TEMPO\n"
                             "       clock_bench OUT_FOLDER stops\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    FILE *summary = _wfopen((folder + L"\\clock_summary.txt").c_str(), L"a");
    if (summary == nullptr) {
        return 1;
    }
    if (mode == L"stops") {
        RecordStops(folder, summary);
    } else {
        const DWORD seconds = static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10));
        const uint32_t bpm = static_cast<uint32_t>(std::wcstoul(argv[4], nullptr, 10));
        if (mode == L"program") {
            RecordProgram(folder, summary, seconds, bpm);
        } else {
            RecordNaive(folder, seconds, bpm);
        }
    }
    std::fclose(summary);
    return 0;
}
