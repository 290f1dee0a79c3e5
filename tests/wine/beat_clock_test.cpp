// The beat clock on the real multimedia timer and winmm, heard through the recording mapper.
#include "clock/beat_pattern.h"
#include "clock_runner.h"
#include "fresh_midi_log.h"
#include "midi_log.h"
#include "stop_times.h"

#include "../expected_messages.h"
#include "common/system_function.h"

#include <gtest/gtest.h>

#include <process.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// The clock's calls of winmm and kernel32, recorded as it makes them, through the program's seam
// of system lookups: each lookup gets a recorder that logs the call and passes it on to the real
// function, which this test imports. Wine keeps no raised timer resolution to look at, nor any
// trace of how a timer was asked to end; the record shows both. timeSetEvent can be made to fail,
// as Windows may.
// Only the clock thread records, and the test reads the record once it has joined that thread:
// the join orders the two, so no lock.
namespace {

// A clock thread that did not end in time may still be writing the record: the test program ends
// here, failed, rather than read it.
void Joined(bool ended) {
    if (!ended) {
        std::fprintf(stderr, "a clock thread did not end in time: its calls cannot be read\n");
        std::fflush(nullptr);
        std::_Exit(3);
    }
}

std::vector<std::string> g_calls;
bool g_failTimer = false;

void Record(const std::string &call) {
    g_calls.push_back(call);
}

std::vector<std::string> TakeCalls() {
    return std::move(g_calls);
}

MMRESULT WINAPI BeginPeriod(UINT period) {
    Record("timeBeginPeriod " + std::to_string(period));
    return ::timeBeginPeriod(period);
}
MMRESULT WINAPI EndPeriod(UINT period) {
    Record("timeEndPeriod " + std::to_string(period));
    return ::timeEndPeriod(period);
}
MMRESULT WINAPI ArmTimer(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                         UINT flags) {
    Record("timeSetEvent " + std::to_string(flags));
    return g_failTimer ? 0 : ::timeSetEvent(delay, resolution, callback, user, flags);
}
MMRESULT WINAPI KillEvent(UINT timer) {
    Record("timeKillEvent");
    return ::timeKillEvent(timer);
}
MMRESULT WINAPI OutOpen(LPHMIDIOUT out, UINT device, DWORD_PTR callback, DWORD_PTR instance,
                        DWORD flags) {
    const MMRESULT result = ::midiOutOpen(out, device, callback, instance, flags);
    Record(result == MMSYSERR_NOERROR ? "midiOutOpen" : "midiOutOpen failed");
    return result;
}
MMRESULT WINAPI OutReset(HMIDIOUT out) {
    Record("midiOutReset");
    return ::midiOutReset(out);
}
MMRESULT WINAPI OutClose(HMIDIOUT out) {
    Record("midiOutClose");
    return ::midiOutClose(out);
}
// Answers as Windows 11 would; records only whether the process opts out of losing its timer
// resolution while hidden.
BOOL WINAPI SetInformation(HANDLE, PROCESS_INFORMATION_CLASS kind, LPVOID data, DWORD size) {
    const auto *state = static_cast<const PROCESS_POWER_THROTTLING_STATE *>(data);
    const ULONG flag = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    const bool keeps = kind == ProcessPowerThrottling && size == sizeof(*state) &&
                       state->Version == PROCESS_POWER_THROTTLING_CURRENT_VERSION &&
                       (state->ControlMask & flag) != 0 && (state->StateMask & flag) == 0;
    Record(keeps ? "keep resolution when hidden" : "SetProcessInformation, other");
    return TRUE;
}

// Through a plain function pointer, as the seam itself does.
template <typename Function> FARPROC Farproc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

const struct {
    const char *name;
    FARPROC recorder;
} kRecorders[] = {
    {"timeBeginPeriod", Farproc(&BeginPeriod)}, {"timeEndPeriod", Farproc(&EndPeriod)},
    {"timeSetEvent", Farproc(&ArmTimer)},       {"timeKillEvent", Farproc(&KillEvent)},
    {"midiOutOpen", Farproc(&OutOpen)},         {"midiOutReset", Farproc(&OutReset)},
    {"midiOutClose", Farproc(&OutClose)},       {"SetProcessInformation", Farproc(&SetInformation)},
};

} // namespace

FARPROC SystemFunctionAddress(HMODULE module, const char *name) {
    for (const auto &recorder : kRecorders) {
        if (std::strcmp(name, recorder.name) == 0) {
            return recorder.recorder;
        }
    }
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

namespace {

struct ClockRun {
    DWORD exitCode = 0;
    long long startUs = 0;    // just before the thread was started
    long long stopUs = 0;     // when running was cleared
    long long stopTookUs = 0; // from clearing running to the thread's end
    std::vector<MidiEvent> events;
};

// Every resolution raised was given back, as often as it was raised.
void ExpectResolutionGivenBack(const std::vector<std::string> &calls) {
    const auto count = [&](const char *prefix) {
        return std::count_if(calls.begin(), calls.end(),
                             [&](const std::string &call) { return call.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(count("timeBeginPeriod"), count("timeEndPeriod"));
}

class BeatClock : public FreshMidiLog {
  protected:
    void SetUp() override {
        FreshMidiLog::SetUp();
        TakeCalls();
        g_failTimer = false;
    }
    void TearDown() override {
        ExpectResolutionGivenBack(TakeCalls());
        FreshMidiLog::TearDown();
    }

    // Starts the clock, lets it play for playMs after it opened the output (or from the start,
    // when fromOpen is false), stops it and waits for it.
    ClockRun Run(uint32_t bpm, uint32_t beats, DWORD playMs, bool fromOpen = true) {
        TempoSettings settings;
        ClockRun run;
        run.startUs = NowMicroseconds();
        HANDLE thread = StartBeatClock(&settings, bpm, beats);
        EXPECT_NE(thread, nullptr);
        if (thread == nullptr) {
            return run;
        }
        // The first open in a fresh Wine prefix can take a second; time the play from it.
        if (fromOpen) {
            const size_t opensBefore = opens_;
            EXPECT_TRUE(WaitForOpens(opensBefore + 1)) << "the output was never opened";
        }
        Sleep(playMs);
        run.stopUs = NowMicroseconds();
        run.stopTookUs = StopBeatClock(&settings, thread, 10000, &run.exitCode);
        Joined(run.stopTookUs >= 0);
        run.events = ReadMidiLog(log_);
        opens_ = CountOf(run.events, "OPEN");
        return run;
    }

    static size_t CountOf(const std::vector<MidiEvent> &events, const char *kind) {
        return static_cast<size_t>(std::count_if(
            events.begin(), events.end(), [&](const MidiEvent &e) { return e.kind == kind; }));
    }

    bool WaitForOpens(size_t count) {
        for (int i = 0; i < 1000; ++i) {
            if (CountOf(ReadMidiLog(log_), "OPEN") >= count) {
                return true;
            }
            Sleep(10);
        }
        return false;
    }

    size_t opens_ = 0; // OPEN events in the log so far
};

void ExpectPattern(const std::vector<MidiEvent> &notes, uint32_t beats) {
    for (size_t i = 0; i < notes.size(); ++i) {
        EXPECT_EQ(notes[i].data & 0xFFFF00FFu, 0x007F0099u) << "note " << i;
        EXPECT_EQ(KeyOf(notes[i].data), i % beats == 0 ? 46 : 42) << "note " << i;
    }
}

TEST_F(BeatClock, PlaysTheBarPatternAndStartsEveryRunOnTheAccent) {
    const struct {
        uint32_t beats;
        DWORD playMs;
        size_t atLeast;
    } cases[] = {{4, 600, 10}, {1, 400, 6}, {20, 1700, 40}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.beats);
        const ClockRun run = Run(1000, c.beats, c.playMs);
        EXPECT_EQ(run.exitCode, 0u);
        const std::vector<MidiEvent> notes = NotesOf(run.events);
        EXPECT_GE(notes.size(), c.atLeast);
        ExpectPattern(notes, c.beats);
        size_t sessions = 0;
        EXPECT_EQ(CheckSessions(run.events, &sessions), "");
        EXPECT_EQ(sessions, 1u);
        DeleteFileW(log_.c_str());
        opens_ = 0;
    }
}

// Wide margins: the machine may be busy. The benchmark measures the real figures.
TEST_F(BeatClock, FirstNoteComesOnePeriodAfterTheStartThenEveryPeriod) {
    const uint32_t bpm = 200; // 180 ms
    const long long period = BeatPeriodMs(bpm) * 1000LL;
    const ClockRun run = Run(bpm, 4, 2000);
    const std::vector<MidiEvent> notes = NotesOf(run.events);
    ASSERT_GE(notes.size(), 8u);
    // The timer is armed right after the output is opened, so the open is the start of the beat.
    ASSERT_EQ(run.events.front().kind, "OPEN");
    const long long first = notes[0].us - run.events.front().us;
    EXPECT_GT(first, period - 5000) << "the first note must not come at once";
    EXPECT_LT(first, period + period / 2) << "the first note must not wait two periods";
    // Every period: the median gap, close.
    std::vector<long long> gaps;
    for (size_t i = 1; i < notes.size(); ++i) {
        gaps.push_back(notes[i].us - notes[i - 1].us);
    }
    std::sort(gaps.begin(), gaps.end());
    EXPECT_NEAR(static_cast<double>(gaps[gaps.size() / 2]), static_cast<double>(period), 3000.0);
    // Each note on its own slot of the grid the notes keep (laid at their median offset), within
    // half a period, but one: a beat skipped or doubled moves every later note off by a whole
    // period, while a busy machine may hold a single note back by most of one (93 ms seen with
    // both cores busy under Wine 10).
    std::vector<long long> offsets;
    for (size_t i = 0; i < notes.size(); ++i) {
        offsets.push_back(notes[i].us - static_cast<long long>(i) * period);
    }
    const auto medianOf = [](std::vector<long long> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const long long grid = medianOf(offsets);
    const auto offGrid = std::count_if(offsets.begin(), offsets.end(), [&](long long offset) {
        return std::llabs(offset - grid) > period / 2;
    });
    EXPECT_LE(offGrid, 1) << "notes off the beat's grid";
    // No drift: the last third of the notes sits where the first third does, each third placed by
    // its median, so that one held-back note moves neither.
    const auto third = static_cast<std::ptrdiff_t>(notes.size() / 3);
    const long long early = medianOf({offsets.begin(), offsets.begin() + third});
    const long long late = medianOf({offsets.end() - third, offsets.end()});
    EXPECT_NEAR(static_cast<double>(late), static_cast<double>(early), 10000.0);
}

TEST_F(BeatClock, StopEndsTheThreadWithinAPollAndResetsBeforeClosing) {
    const ClockRun run = Run(1000, 4, 500);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_LT(run.stopTookUs, 100000 + 150000) << "one 100 ms poll plus clean-up";
    // One whole session: opened, reset after the last note, then closed.
    size_t sessions = 0;
    EXPECT_EQ(CheckSessions(run.events, &sessions), "");
    EXPECT_EQ(sessions, 1u);
    // Silent from the stop, though the thread sees the flag only at its next poll. A callback
    // that read the flag just before it was cleared may still be sending: microseconds, not a
    // period.
    for (const MidiEvent &note : NotesOf(run.events)) {
        EXPECT_LT(note.us, run.stopUs + 5000) << "a note after the stop";
    }
}

TEST_F(BeatClock, StopSeenBeforeTheFirstPeriodGivesNoNote) {
    const ClockRun run = Run(7, 4, 150); // first tick due after 5142 ms
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(NotesOf(run.events).empty());
    size_t sessions = 0;
    EXPECT_EQ(CheckSessions(run.events, &sessions), "");
    EXPECT_EQ(sessions, 1u);
}

// Runs a clock thread that is expected to end on its own; returns its exit code.
DWORD RunUntilItEnds(TempoSettings *settings) {
    HANDLE thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, BeatClockThread, settings, 0, nullptr));
    EXPECT_NE(thread, nullptr);
    if (thread == nullptr) {
        return 0;
    }
    Joined(WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

TEST_F(BeatClock, NullArgumentFails) {
    EXPECT_EQ(RunUntilItEnds(nullptr), 0xFFFFFFFFu);
    EXPECT_TRUE(ReadMidiLog(log_).empty()) << "nothing may be opened";
}

TEST_F(BeatClock, ZeroTempoFailsInsteadOfDividingByZero) {
    TempoSettings settings;
    ClearTempoSettings(&settings);
    settings.beats = 4;
    settings.running.store(1);
    EXPECT_EQ(RunUntilItEnds(&settings), 0xFFFFFFFFu);
    EXPECT_TRUE(TakeCalls().empty()) << "nothing may be taken";
}

TEST_F(BeatClock, CallbackWithoutALiveClockTouchesNothing) {
    BeatState state = {4, 0, nullptr};
    BeatTimerProc(0, 0, 0, 0, 0);
    BeatTimerProc(0, 0, reinterpret_cast<DWORD_PTR>(&state), 0, 0);
    EXPECT_EQ(state.count, 0u) << "a late callback must not advance a state it was not let in to";
}

// What the clock takes it gives back on every path, in the order the clock's callers rely on:
// the timer first (no callback after that), then the resolution, then the MIDI output, reset
// before it is closed.
TEST_F(BeatClock, GivesBackWhatItTookInOrderOnEveryPath) {
    TIMECAPS caps = {};
    ASSERT_EQ(timeGetDevCaps(&caps, sizeof(caps)), TIMERR_NOERROR);
    const std::string begin = "timeBeginPeriod " + std::to_string(caps.wPeriodMin);
    const std::string end = "timeEndPeriod " + std::to_string(caps.wPeriodMin);
    // A periodic timer whose end waits for its callbacks (see beat_gate.h for why).
    const std::string arm =
        "timeSetEvent " +
        std::to_string(TIME_PERIODIC | TIME_CALLBACK_FUNCTION | TIME_KILL_SYNCHRONOUS);
    const std::string keep = "keep resolution when hidden";
    const struct {
        const char *path;
        uint32_t bpm;
        bool failTimer;
        std::vector<std::string> calls;
    } cases[] = {
        {"played and stopped",
         1000,
         false,
         {begin, keep, "midiOutOpen", arm, "timeKillEvent", end, "midiOutReset", "midiOutClose"}},
        {"no timer",
         1000,
         true,
         {begin, keep, "midiOutOpen", arm, end, "midiOutReset", "midiOutClose"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        g_failTimer = c.failTimer;
        TempoSettings settings;
        HANDLE thread = StartBeatClock(&settings, c.bpm, 4);
        ASSERT_NE(thread, nullptr);
        Sleep(300);
        DWORD exitCode = 0;
        Joined(StopBeatClock(&settings, thread, 10000, &exitCode) >= 0);
        EXPECT_EQ(exitCode, c.failTimer ? 0xFFFFFFFFu : 0u);
        EXPECT_EQ(TakeCalls(), c.calls);
    }
}

// Hundreds of starts and stops at the shortest period, stopped at once or after a few ticks.
// A stop waits for one poll of the running flag and the clean-up. The stops are judged by the
// ninth in ten, which a longer poll or a stop waiting on a tick would raise in most cycles, and
// the slowest only loosely: the first cycle stops at once, so its stop waits out the process's
// first start-up (the MIDI mapper loaded, winmm's timer thread made), which with both cores busy
// has taken 300 to 410 ms where the other stops took 110.
TEST_F(BeatClock, StressStartStopAtTheShortestPeriod) {
    const int kCycles = 300;
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> wait(0, 130);
    std::vector<long long> stops;
    size_t totalNotes = 0;
    const long long began = NowMicroseconds();
    for (int i = 0; i < kCycles; ++i) {
        const DWORD playMs = i % 4 == 0 ? 0 : static_cast<DWORD>(wait(random));
        const ClockRun run = Run(1000, 4, playMs, playMs != 0);
        ASSERT_EQ(run.exitCode, 0u) << "cycle " << i;
        stops.push_back(run.stopTookUs);
    }
    const StopTimes judged = SummariseStops(stops);
    const long long ninthInTen = judged.ninthInTenUs;
    const long long slowestStop = judged.slowestUs;
    const size_t slowestCycle = judged.slowest;
    const long long tookUs = NowMicroseconds() - began;
    const std::vector<MidiEvent> events = ReadMidiLog(log_);
    size_t sessions = 0;
    EXPECT_EQ(CheckSessions(events, &sessions), "");
    EXPECT_EQ(sessions, static_cast<size_t>(kCycles)) << "every open matched by a close";
    totalNotes = NotesOf(events).size();
    EXPECT_LT(ninthInTen, kStopBoundUs) << "one 100 ms poll plus clean-up";
    EXPECT_LT(slowestStop, kSlowestStopBoundUs);
    EXPECT_LT(tookUs, 120LL * 1000000) << "bounded total time";
    std::printf("stress: %d cycles, %zu notes, stops: 9 in 10 within %.1f ms, slowest %.1f ms "
                "(cycle %zu), total %.1f s\n",
                kCycles, totalNotes, static_cast<double>(ninthInTen) / 1000.0,
                static_cast<double>(slowestStop) / 1000.0, slowestCycle,
                static_cast<double>(tookUs) / 1e6);
    RecordProperty("cycles", kCycles);
    RecordProperty("notes", static_cast<int>(totalNotes));
    RecordProperty("ninth_in_ten_stop_us", static_cast<int>(ninthInTen));
    RecordProperty("slowest_stop_us", static_cast<int>(slowestStop));
}

// Run only where the prefix has no MIDI output at all.
TEST(NoMidiOutput, ClockEndsAtOnceWithFailureAndSilence) {
    const std::wstring log = UseFreshMidiLog(L"nomidi");
    TakeCalls();
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        TempoSettings settings;
        ClearTempoSettings(&settings);
        settings.bpm = 1000;
        settings.beats = 4;
        settings.running.store(1);
        const long long start = NowMicroseconds();
        EXPECT_EQ(RunUntilItEnds(&settings), 0xFFFFFFFFu);
        EXPECT_LT(NowMicroseconds() - start, 2000000) << "it must end at once";
    }
    EXPECT_TRUE(ReadMidiLog(log).empty());
    const std::vector<std::string> calls = TakeCalls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "midiOutOpen failed"), 2);
    ExpectResolutionGivenBack(calls);
    DeleteFileW(log.c_str());
}

} // namespace
