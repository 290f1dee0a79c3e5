#include "common/globals.h"
#include "common/system_function.h"
#include "ui/main_dialog.h"

#include <commctrl.h>
#include <objbase.h>

// Older SDK headers lack the flag; the value is the system's own.
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

HINSTANCE g_hInstance = nullptr;

namespace {

// winmm, the MIDI mapper and the drivers winmm loads by name when the output opens are not
// known DLLs: Windows would look for them in the program's folder, and the current folder,
// before the system folder. From here on every load searches the system folder only. Windows 7
// without its update lacks SetDefaultDllDirectories; there, at least the current folder goes.
void LoadDllsFromTheSystemFolderOnly() {
    BOOL(WINAPI * setDefault)(DWORD) = nullptr; // SetDefaultDllDirectories
    if (!BindKernelFunction("SetDefaultDllDirectories", &setDefault) ||
        !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    LoadDllsFromTheSystemFolderOnly();
    InitCommonControls();
    // For the annotation service that names the fields; without COM they stay unnamed, and
    // nothing else needs it, so the result is not looked at.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    g_hInstance = instance;
    const INT_PTR result = DialogBoxParamW(instance, L"IDD_MAINWINDOW", nullptr, MainDialogProc, 0);
    if (result >= 1) {
        return 0;
    }
    MessageBoxW(nullptr, L"初期化に失敗しました。", PROGRAM_TITLE, MB_OK | MB_ICONERROR);
    return -1;
}
