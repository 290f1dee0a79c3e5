#include "common/globals.h"
#include "ui/main_dialog.h"

#include <commctrl.h>
#include <objbase.h>

HINSTANCE g_hInstance = nullptr;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    InitCommonControls();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED); // nothing else uses COM; result not needed
    g_hInstance = instance;
    const INT_PTR result = DialogBoxParamW(instance, L"IDD_MAINWINDOW", nullptr, MainDialogProc, 0);
    if (result >= 1) {
        return 0;
    }
    MessageBoxW(nullptr, L"初期化に失敗しました。", PROGRAM_TITLE, MB_OK | MB_ICONERROR);
    return -1;
}
