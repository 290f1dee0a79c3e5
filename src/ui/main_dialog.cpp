#include "ui/main_dialog.h"

#include "clock/beat_clock.h"
#include "common/globals.h"
#include "res/resource_ids.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_font.h"
#include "ui/field_names.h"
#include "ui/read_settings.h"
#include "ui/settings_check.h"

#include <process.h>

TempoSettings g_settings;
HANDLE g_workerThread = nullptr;

namespace {

void EnableSettingControls(HWND dialog, BOOL enable) {
    for (int id : kDialogControls) {
        HWND control = GetDlgItem(dialog, id);
        if (IsSettingControl(id) && control != nullptr) {
            EnableWindow(control, enable);
        }
    }
}

// Waits for the beat-clock thread to end and closes its handle, whatever the wait gave: kept,
// the next start would overwrite it and it would leak. Nothing here can act on a failure.
void JoinBeatClock() {
    if (g_workerThread == nullptr) {
        return;
    }
    WaitForSingleObject(g_workerThread, INFINITE);
    CloseHandle(g_workerThread);
    g_workerThread = nullptr;
}

void StartClick(HWND dialog) {
    if (!ReadSettings(dialog, &g_settings)) {
        return;
    }
    // Set before the thread exists: it is the thread's run condition.
    g_settings.running.store(1, std::memory_order_release);
    SetDlgItemTextW(dialog, IDOK, L"停止");
    SetFocus(GetDlgItem(dialog, IDOK));
    EnableSettingControls(dialog, FALSE);
    unsigned threadId = 0;
    g_workerThread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, BeatClockThread, &g_settings, 0, &threadId));
}

void StopClick(HWND dialog) {
    g_settings.running.store(0, std::memory_order_release);
    SetDlgItemTextW(dialog, IDOK, L"開始");
    EnableSettingControls(dialog, TRUE);
    SetFocus(GetDlgItem(dialog, IDOK));
    JoinBeatClock(); // the window is already idle; this waits for the clock's clean-up
}

INT_PTR OnInitDialog(HWND dialog) {
    HICON icon = LoadIconW(g_hInstance, L"IDC_ICON");
    if (icon != nullptr) {
        SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    ClearTempoSettings(&g_settings);
    for (const FieldRule &rule : kFieldRules) { // tempo, beats, note value
        SetDlgItemTextW(dialog, rule.controlId, rule.defaultText);
    }
    MakeTextsReadable(dialog);
    AnnotateFields(dialog, true);
    SetFocus(GetDlgItem(dialog, IDOK));
    return TRUE;
}

INT_PTR OnStartStop(HWND dialog) {
    if (g_settings.running.load(std::memory_order_acquire) != 0) {
        StopClick(dialog);
    } else {
        StartClick(dialog);
    }
    return TRUE;
}

INT_PTR OnClose(HWND dialog) {
    g_settings.running.store(0, std::memory_order_release);
    JoinBeatClock();
    EndDialog(dialog, 1);
    return FALSE;
}

INT_PTR OnCommand(HWND dialog, WPARAM wParam) {
    // The low word alone: edit-field notifications fall through to "any other".
    switch (LOWORD(wParam)) {
    case IDOK:
        return OnStartStop(dialog);
    case IDCANCEL:
        return OnClose(dialog);
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_COMMAND:
        return OnCommand(dialog, wParam);
    case WM_DESTROY:
        AnnotateFields(dialog, false); // while the fields still exist
        return FALSE;
    case WM_NCDESTROY:
        ReleaseReadableFont(); // the controls, which drew with it, are gone by now
        return FALSE;
    default:
        return FALSE;
    }
}
