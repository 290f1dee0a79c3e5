// Records the beat clock at work, for the timing report: the real clock thread at several
// tempi, a naive Sleep loop for comparison, and many stops. Every note goes through winmm to
// the recording MIDI mapper, which timestamps it; this program writes one log per series and
// a summary of what only it can see (stop latency, processor time).
//   clock_bench OUT_FOLDER SECONDS TEMPO...
#include "clock/beat_clock.h"
#include "clock/beat_pattern.h"
#include "common/tempo_settings.h"

#include "../tests/midirec/microseconds.h"

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring Widen(const std::string &s) {
    return std::wstring(s.begin(), s.end());
}

void LogTo(const std::string &folder, const std::string &name) {
    const std::wstring path = Widen(folder + "\\" + name + ".log");
    DeleteFileW(path.c_str());
    SetEnvironmentVariableW(L"MIDIREC_LOG", path.c_str());
}

long long ProcessCpuMicroseconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto micro = [](const FILETIME &t) {
        return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32 |
                                       t.dwLowDateTime) /
                                      10);
    };
    return micro(kernel) + micro(user);
}

HANDLE StartClock(TempoSettings *settings, uint32_t bpm) {
    ClearTempoSettings(settings);
    settings->bpm = bpm;
    settings->beats = 4;
    settings->noteValue = 4;
    settings->running.store(1);
    return reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, BeatClockThread, settings, 0, nullptr));
}

// Returns microseconds from clearing running to the thread's end.
long long StopClock(TempoSettings *settings, HANDLE thread) {
    const long long stop = NowMicroseconds();
    settings->running.store(0);
    WaitForSingleObject(thread, INFINITE);
    const long long took = NowMicroseconds() - stop;
    CloseHandle(thread);
    return took;
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

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: clock_bench OUT_FOLDER SECONDS TEMPO...\n");
        return 2;
    }
    const std::string folder = argv[1];
    const DWORD seconds = static_cast<DWORD>(std::atoi(argv[2]));
    std::vector<uint32_t> tempi;
    for (int i = 3; i < argc; ++i) {
        tempi.push_back(static_cast<uint32_t>(std::atoi(argv[i])));
    }
    FILE *summary = std::fopen((folder + "\\clock_summary.txt").c_str(), "w");
    if (summary == nullptr) {
        return 1;
    }

    for (uint32_t bpm : tempi) {
        std::printf("clock_bench: program at %u BPM for %lu s\n", bpm, seconds);
        std::fflush(stdout);
        LogTo(folder, "program-" + std::to_string(bpm));
        TempoSettings settings;
        const long long cpuBefore = ProcessCpuMicroseconds();
        const long long wallBefore = NowMicroseconds();
        HANDLE thread = StartClock(&settings, bpm);
        Sleep(seconds * 1000);
        const long long stopTook = StopClock(&settings, thread);
        const long long cpu = ProcessCpuMicroseconds() - cpuBefore;
        const long long wall = NowMicroseconds() - wallBefore;
        std::fprintf(summary, "cpu %u %lld %lld\nstop %u %lld\n", bpm, cpu, wall, bpm, stopTook);

        std::printf("clock_bench: naive Sleep loop at %u BPM for %lu s\n", bpm, seconds);
        std::fflush(stdout);
        LogTo(folder, "naive-" + std::to_string(bpm));
        NaiveArgs naive = {BeatPeriodMs(bpm), 1};
        HANDLE loop =
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, NaiveLoop, &naive, 0, nullptr));
        Sleep(seconds * 1000);
        naive.running = 0;
        WaitForSingleObject(loop, INFINITE);
        CloseHandle(loop);
    }

    // Stop latency over many stops at the shortest period, each after a different time.
    std::printf("clock_bench: 40 stops\n");
    std::fflush(stdout);
    LogTo(folder, "stops");
    for (int i = 0; i < 40; ++i) {
        TempoSettings settings;
        HANDLE thread = StartClock(&settings, 1000);
        Sleep(150 + static_cast<DWORD>(i * 37 % 200));
        std::fprintf(summary, "stop 0 %lld\n", StopClock(&settings, thread));
    }
    std::fclose(summary);
    return 0;
}
