// One run of the real executable for the timing report: started, the tempo typed, Enter
// pressed as a user would, left to play, Enter again, closed. The recording mapper logs the
// notes; this program logs when it pressed the keys.
//   e2e_run OUT_FOLDER SECONDS TEMPO
#include "midi_log.h"
#include "program_driver.h"
#include "res/resource_ids.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// Wide arguments: the folder may be named in any language.
int wmain(int argc, wchar_t **argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: e2e_run OUT_FOLDER SECONDS TEMPO\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    const DWORD seconds = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    const std::wstring tempo = argv[3];
    UseMidiLog(folder + L"\\e2e-" + tempo + L".log");

    Program program;
    if (!LaunchProgram(L"metronome.exe", L"", &program)) {
        std::fprintf(stderr, "e2e_run: the program could not be started (error %lu)\n",
                     GetLastError());
        return 1;
    }
    if ((program.dialog = WaitForMainDialog(program)) == nullptr) {
        std::fprintf(stderr, "e2e_run: the program showed no dialog (exit code %lu)\n",
                     WaitForExit(&program, 0));
        CloseProgram(&program);
        return 1;
    }
    BringToFront(program.dialog);
    if (!TypeIntoField(program.dialog, IDC_EDIT_BPM, tempo)) {
        std::fprintf(stderr, "e2e_run: could not type the tempo\n");
        CloseProgram(&program);
        return 1;
    }
    const long long started = NowMicroseconds();
    PressKey(VK_RETURN);
    Sleep(seconds * 1000);
    const long long stopped = NowMicroseconds();
    PressKey(VK_RETURN);
    WaitUntil([&] { return ControlText(program.dialog, IDOK) == L"開始"; }, 5000);
    PressKey(VK_ESCAPE);
    const DWORD code = WaitForExit(&program);
    CloseProgram(&program);
    FILE *keys = _wfopen((folder + L"\\e2e-" + tempo + L"-keys.txt").c_str(), L"w");
    if (keys != nullptr) {
        std::fprintf(keys, "start %lld\nstop %lld\nexit %lu\n", started, stopped, code);
        std::fclose(keys);
    }
    return code == 0 ? 0 : 1;
}
