// Records the beat clock at work, for the timing report, one series a run: the real clock
// thread at a tempo, a naive Sleep loop for comparison, or many stops. Every note goes through
// winmm to the recording MIDI mapper, which timestamps it; this program writes the series' log
// and adds to a summary what only it can see (stop latency, processor time).
//   clock_bench OUT_FOLDER program|naive|floor SECONDS TEMPO
//   clock_bench OUT_FOLDER stops
// floor: the least any program can do for a click, the platform's floor of processor time: the
// same periodic timer, and a callback that sends one short message per beat and nothing else.
#include "clock/beat_pattern.h"
#include "clock_runner.h"
#include "midi_log.h"

#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void LogTo(const std::wstring &folder, const std::wstring &name) {
    UseMidiLog(folder + L"\\" + name + L".log");
}

// This process as Linux numbers it. Wine resolves /proc/self in its server, not here, so the
// process is found by its name, the newest of that name: the folder's lock lets one benchmark
// run at a time.
std::wstring LinuxProcessFolder() {
    std::wstring found;
    unsigned long long newest = 0;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return found;
    }
    do {
        if (entry.cFileName[0] < L'0' || entry.cFileName[0] > L'9') {
            continue;
        }
        const std::wstring folder = std::wstring(L"Z:\\proc\\") + entry.cFileName;
        FILE *file = _wfopen((folder + L"\\stat").c_str(), L"r");
        if (file == nullptr) {
            continue;
        }
        char line[1024] = {0};
        const size_t got = std::fread(line, 1, sizeof(line) - 1, file);
        std::fclose(file);
        line[got] = '\0';
        const char *name = std::strstr(line, "(clock_bench.exe) ");
        if (name == nullptr) {
            continue;
        }
        // The start time is the 20th field after the name.
        const char *field = name + std::strlen("(clock_bench.exe) ");
        for (int i = 1; i < 20 && field != nullptr; ++i) {
            field = std::strchr(field, ' ');
            field = field != nullptr ? field + 1 : nullptr;
        }
        const unsigned long long start = field != nullptr ? std::strtoull(field, nullptr, 10) : 0;
        if (start >= newest) {
            newest = start;
            found = folder;
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

// Processor time of every thread of this process, in nanoseconds, as Linux counts it (each
// task's schedstat, through Wine's Z: drive). GetProcessTimes under Wine counts 10 ms clock ticks,
// too coarse for a click that costs a few milliseconds a minute. A thread that ends takes its
// time with it: measure while the same threads run.
long long ProcessCpuNanoseconds(const std::wstring &process) {
    long long total = 0;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((process + L"\\task\\*").c_str(), &found);
    if (process.empty() || search == INVALID_HANDLE_VALUE) {
        return -1;
    }
    do {
        if (found.cFileName[0] == L'.') {
            continue;
        }
        const std::wstring path = process + L"\\task\\" + found.cFileName + L"\\schedstat";
        FILE *file = _wfopen(path.c_str(), L"r");
        long long ns = 0;
        if (file != nullptr) {
            if (std::fscanf(file, "%lld", &ns) == 1) {
                total += ns;
            }
            std::fclose(file);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return total;
}

// Processor time and wall time over seconds of the steady state, after a second to settle.
void MeasureWhilePlaying(FILE *summary, const char *series, uint32_t bpm, DWORD seconds) {
    const std::wstring process = LinuxProcessFolder();
    Sleep(1000);
    const long long cpuBefore = ProcessCpuNanoseconds(process);
    const long long wallBefore = NowMicroseconds();
    Sleep(seconds * 1000 - 1000);
    const long long cpuAfter = ProcessCpuNanoseconds(process);
    const long long cpu = cpuBefore < 0 || cpuAfter < 0 ? -1 : cpuAfter - cpuBefore;
    const long long wall = NowMicroseconds() - wallBefore;
    std::fprintf(summary, "cpu %s %u %lld %lld\n", series, bpm, cpu, wall);
}

struct FloorState {
    HMIDIOUT out;
    uint32_t count;
};

void CALLBACK FloorTick(UINT, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
    FloorState *state = reinterpret_cast<FloorState *>(user);
    midiOutShortMsg(state->out, ++state->count % 4 == 1 ? kAccentNote : kBeatNote);
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
    HANDLE thread = StartBeatClock(&settings, bpm, 4);
    MeasureWhilePlaying(summary, "program", bpm, seconds);
    StopBeatClock(&settings, thread);
}

void RecordFloor(const std::wstring &folder, FILE *summary, DWORD seconds, uint32_t bpm) {
    LogTo(folder, L"floor-" + std::to_wstring(bpm));
    TIMECAPS caps = {0, 0};
    timeGetDevCaps(&caps, sizeof(caps));
    timeBeginPeriod(caps.wPeriodMin);
    FloorState state = {nullptr, 0};
    if (midiOutOpen(&state.out, MIDI_MAPPER, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR) {
        const MMRESULT timer =
            timeSetEvent(BeatPeriodMs(bpm), 0, FloorTick, reinterpret_cast<DWORD_PTR>(&state),
                         TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
        MeasureWhilePlaying(summary, "floor", bpm, seconds);
        timeKillEvent(timer);
        midiOutReset(state.out);
        midiOutClose(state.out);
    }
    timeEndPeriod(caps.wPeriodMin);
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
    const bool series = (mode == L"program" || mode == L"naive" || mode == L"floor") && argc == 5;
    if (!series && !(mode == L"stops" && argc == 3)) {
        std::fprintf(stderr, "usage: clock_bench OUT_FOLDER program|naive|floor SECONDS TEMPO\n"
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
        } else if (mode == L"floor") {
            RecordFloor(folder, summary, seconds, bpm);
        } else {
            RecordNaive(folder, seconds, bpm);
        }
    }
    std::fclose(summary);
    return 0;
}
