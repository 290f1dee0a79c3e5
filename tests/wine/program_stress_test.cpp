// A bounded stress run through the real executable: many start/stop presses at the shortest
// period, rejected input between starts, Enter held down, closes while playing. Nothing may
// crash or hang, every MIDI open must be closed with no note after its reset, and the process's
// handles and memory must stay flat. --stress-seconds=N on the command line sets the length
// (default 20): scripts/stress.sh passes it.
#include "midi_log.h"
#include "program_driver.h"
#include "res/resource_ids.h"

#include <gtest/gtest.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <algorithm>
#include <random>
#include <vector>

namespace {

struct Reading {
    DWORD handles = 0;
    DWORD threads = 0;
    SIZE_T workingSet = 0;
    SIZE_T privateBytes = 0;
};

// The system's handle table, for where GetProcessHandleCount answers nothing (Wine).
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};

DWORD HandlesOf(HANDLE process) {
    DWORD count = 0;
    if (GetProcessHandleCount(process, &count) && count != 0) {
        return count;
    }
    typedef NTSTATUS(NTAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    QueryFn query = reinterpret_cast<QueryFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    const ULONG kSystemHandleInformation = 16;
    if (query == nullptr || query(kSystemHandleInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed) != 0) {
        return 0;
    }
    const ULONG entries = *reinterpret_cast<ULONG *>(buffer.data());
    const HandleEntry *entry =
        reinterpret_cast<const HandleEntry *>(buffer.data() + sizeof(void *));
    const DWORD pid = GetProcessId(process);
    for (ULONG i = 0; i < entries; ++i) {
        count += entry[i].ownerPid == pid ? 1 : 0;
    }
    return count;
}

DWORD ThreadsOf(HANDLE process) {
    const DWORD pid = GetProcessId(process);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    DWORD count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == pid ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

Reading Read(HANDLE process) {
    Reading r;
    r.handles = HandlesOf(process);
    r.threads = ThreadsOf(process);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters),
                             sizeof(counters))) {
        r.workingSet = counters.WorkingSetSize;
        r.privateBytes = counters.PrivateUsage;
    }
    return r;
}

bool Responsive(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &result) != 0;
}

class ProgramStress : public ::testing::Test {
  protected:
    void TearDown() override {
        CloseProgram(&program_);
    }

    // Starts a program at the shortest period and takes its baseline reading after a warm-up:
    // Wine maps fonts and caches on first use.
    void Launch() {
        ASSERT_TRUE(LaunchProgram(L"metronome.exe", L"", &program_));
        program_.dialog = WaitForMainDialog(program_);
        ASSERT_NE(program_.dialog, nullptr);
        ASSERT_TRUE(BringToFront(program_.dialog));
        ASSERT_TRUE(TypeIntoField(program_.dialog, IDC_EDIT_BPM, L"1000"));
        for (int i = 0; i < 5; ++i) {
            Toggle(true);
            Sleep(80);
            Toggle(false);
        }
        Sleep(300);
        baseline_ = Read(program_.process.hProcess);
        latest_ = baseline_;
        ++launches_;
    }

    // Takes a reading of the running program, idle, and keeps the largest growth seen.
    void TakeReading() {
        latest_ = Read(program_.process.hProcess);
        EXPECT_LE(latest_.threads, baseline_.threads + 1)
            << "a beat-clock thread outlived its stop";
        worstHandles_ = std::max(worstHandles_, static_cast<long>(latest_.handles) -
                                                    static_cast<long>(baseline_.handles));
        worstWorkingSet_ =
            std::max(worstWorkingSet_, static_cast<double>(latest_.workingSet) / 1048576.0 -
                                           static_cast<double>(baseline_.workingSet) / 1048576.0);
    }

    void Toggle(bool toPlaying) {
        BringToFront(program_.dialog);
        PressKey(VK_RETURN);
        const HWND dialog = program_.dialog;
        ASSERT_TRUE(WaitUntil(
            [&] { return toPlaying ? IsPlayingWindow(dialog) : IsIdleWindow(dialog); }, 5000))
            << (toPlaying ? "did not start" : "did not stop");
        ++presses_;
    }

    Program program_;
    int presses_ = 0;
    int launches_ = 0;
    Reading baseline_; // of the running program, after its warm-up
    Reading latest_;
    Reading first_; // the first program's baseline, for the report
    long worstHandles_ = 0;
    double worstWorkingSet_ = 0; // MiB
};

TEST_F(ProgramStress, StartStopRejectHoldAndCloseStayClean) {
    const wchar_t kLength[] = L"--stress-seconds=";
    const wchar_t *setting = std::wcsstr(GetCommandLineW(), kLength);
    const long long seconds =
        setting != nullptr ? std::wcstoll(setting + std::wcslen(kLength), nullptr, 10) : 20;
    const std::wstring log = UseFreshMidiLog(L"stress");
    std::mt19937 random(2026);
    std::uniform_int_distribution<int> playMs(0, 150);

    Launch();
    first_ = baseline_;
    int cycles = 0, rejections = 0, holds = 0, closes = 0;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (GetTickCount64() < end) {
        ++cycles;
        Toggle(true);
        Sleep(static_cast<DWORD>(playMs(random)));
        ASSERT_TRUE(Responsive(program_.dialog)) << "the dialog hangs while playing";
        if (cycles % 100 == 40) {
            // Close while playing, then go on with a new program.
            PressKey(VK_ESCAPE);
            ASSERT_EQ(WaitForExit(&program_), 0u) << "close while playing";
            CloseProgram(&program_);
            ++closes;
            Launch();
            continue;
        }
        Toggle(false);
        if (cycles % 10 == 0) {
            ASSERT_TRUE(TypeIntoField(program_.dialog, IDC_EDIT_BEATS, L"0"));
            PressKey(VK_RETURN);
            const HWND box = WaitForMessageBox(program_);
            ASSERT_NE(box, nullptr) << "no warning for a zero bar length";
            BringToFront(box);
            PressKey(VK_RETURN);
            ASSERT_TRUE(WaitUntil([&] { return !HasMessageBox(program_); }, 5000));
            ASSERT_EQ(ControlText(program_.dialog, IDC_EDIT_BEATS), L"4");
            ++rejections;
        }
        if (cycles % 15 == 0) {
            // Enter held down from idle: the keyboard sends it nine times (the press and eight
            // repeats), each a start or a stop, the stops waiting for their clock. The user then
            // sees the click playing, and has heard five whole sessions by the next stop.
            size_t sessionsBefore = 0;
            ASSERT_EQ(CheckSessions(ReadMidiLog(log), &sessionsBefore), "");
            BringToFront(program_.dialog);
            INPUT down = {};
            down.type = INPUT_KEYBOARD;
            down.ki.wVk = VK_RETURN;
            for (int repeat = 0; repeat < 9; ++repeat) {
                SendInput(1, &down, sizeof(INPUT));
                Sleep(35);
            }
            INPUT up = down;
            up.ki.dwFlags = KEYEVENTF_KEYUP;
            SendInput(1, &up, sizeof(INPUT));
            const HWND dialog = program_.dialog;
            // Playing: 停止 on the button, every field and label greyed out, the button enabled.
            ASSERT_TRUE(WaitUntil([&] { return IsPlayingWindow(dialog); }, 5000))
                << "after Enter held nine times: button "
                << ::testing::PrintToString(ControlText(dialog, IDOK))
                << (IsIdleWindow(dialog) ? ", idle" : ", neither idle nor playing");
            ASSERT_TRUE(Responsive(dialog)) << "the dialog hangs after Enter was held";
            presses_ += 9;
            Toggle(false);
            size_t sessionsAfter = 0;
            ASSERT_EQ(CheckSessions(ReadMidiLog(log), &sessionsAfter), "")
                << "a session of the held Enter was left open";
            EXPECT_EQ(sessionsAfter - sessionsBefore, 5u) << "one whole session per start";
            ++holds;
        }
        TakeReading();
    }
    PressKey(VK_ESCAPE);
    ASSERT_EQ(WaitForExit(&program_), 0u);

    const std::vector<MidiEvent> events = ReadMidiLog(log);
    size_t sessions = 0;
    EXPECT_EQ(CheckSessions(events, &sessions), "");
    const size_t notes = NotesOf(events).size();
    std::printf("stress: %lld s, %d cycles, %d presses, %d rejections, %d holds, %d closes while "
                "playing, %d programs, %zu MIDI sessions, %zu notes\n"
                "stress: first program: handles %lu, threads %lu, working set %.1f MiB; last "
                "program at the end: handles %lu, threads %lu, working set %.1f MiB; largest "
                "growth within one program: %ld handles, %.1f MiB\n",
                seconds, cycles, presses_, rejections, holds, closes, launches_, sessions, notes,
                first_.handles, first_.threads, static_cast<double>(first_.workingSet) / 1048576.0,
                latest_.handles, latest_.threads,
                static_cast<double>(latest_.workingSet) / 1048576.0, worstHandles_,
                worstWorkingSet_);
    EXPECT_GT(notes, 0u);
    // Flat: a handle lost per cycle would show as dozens within one program's life.
    EXPECT_LE(worstHandles_, 8);
    EXPECT_LE(worstWorkingSet_, 8.0);
}

} // namespace
