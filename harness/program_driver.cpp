#include "program_driver.h"

#include "ui/dialog_controls.h"

#include <vector>

namespace {

struct FindContext {
    DWORD pid;
    HWND exclude;
    bool wantMain;
    HWND found;
};

BOOL CALLBACK FindDialogOfProcess(HWND window, LPARAM parameter) {
    FindContext *context = reinterpret_cast<FindContext *>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != context->pid || window == context->exclude || !IsWindowVisible(window) ||
        ClassOf(window) != L"#32770") {
        return TRUE;
    }
    const bool isMain = GetDlgItem(window, IDC_EDIT_BPM) != nullptr;
    if (isMain == context->wantMain) {
        context->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindDialog(const Program &program, bool wantMain) {
    FindContext context = {program.process.dwProcessId, wantMain ? nullptr : program.dialog,
                           wantMain, nullptr};
    EnumWindows(FindDialogOfProcess, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

void SendInputs(std::vector<INPUT> inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    Sleep(30); // let the window system deliver them before anyone looks
}

INPUT Key(WORD vk, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

} // namespace

std::wstring ProgramFolder() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

bool LaunchProgram(const std::wstring &exe, const std::wstring &arguments, Program *program) {
    const std::wstring path = ProgramFolder() + exe;
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!arguments.empty()) {
        commandLine += L" " + arguments;
    }
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    *program = Program();
    return CreateProcessW(path.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &program->process) != 0;
}

bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(10);
    }
}

HWND WaitForMainDialog(const Program &program, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(program, true)) != nullptr; }, timeoutMs);
    return found;
}

HWND WaitForMessageBox(const Program &program, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialog(program, false)) != nullptr; }, timeoutMs);
    return found;
}

bool HasMessageBox(const Program &program) {
    return FindDialog(program, false) != nullptr;
}

DWORD WaitForExit(Program *program, DWORD timeoutMs) {
    if (WaitForSingleObject(program->process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(program->process.hProcess, &code);
    return code;
}

void CloseProgram(Program *program) {
    if (program->process.hProcess == nullptr) {
        return;
    }
    if (WaitForSingleObject(program->process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(program->process.hProcess, 99);
        WaitForSingleObject(program->process.hProcess, 5000);
    }
    CloseHandle(program->process.hThread);
    CloseHandle(program->process.hProcess);
    *program = Program();
}

bool BringToFront(HWND window) {
    return WaitUntil(
        [&] {
            if (GetForegroundWindow() == window) {
                return true;
            }
            SetForegroundWindow(window);
            return false;
        },
        3000);
}

void PressKey(WORD vk) {
    SendInputs({Key(vk, false), Key(vk, true)});
}

void PressKeyCombo(WORD modifier, WORD vk) {
    SendInputs({Key(modifier, false), Key(vk, false), Key(vk, true), Key(modifier, true)});
}

void TypeText(const std::wstring &text) {
    std::vector<INPUT> inputs;
    for (wchar_t c : text) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wScan = static_cast<WORD>(c);
        input.ki.dwFlags = KEYEVENTF_UNICODE;
        inputs.push_back(input);
        input.ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    if (!inputs.empty()) {
        SendInputs(inputs);
    }
}

void ClickAt(int x, int y) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = (x * 65535 + width / 2) / (width - 1);
    input.mi.dy = (y * 65535 + height / 2) / (height - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    // The button events carry the position too: Wine may still place a bare button event where
    // the pointer was before the move, and a pointer left on a close box would close a window.
    SendInputs({input});
    INPUT down = input;
    down.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    INPUT up = input;
    up.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    SendInputs({down, up});
}

void ClickWindow(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    ClickAt((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
}

bool TypeIntoField(HWND dialog, int controlId, const std::wstring &text) {
    // Input is real, so it goes wherever the focus really is: wait for each step to land
    // before the next, and try again when a click was lost (a busy, freshly made prefix).
    HWND field = GetDlgItem(dialog, controlId);
    for (int attempt = 0; attempt < 3; ++attempt) {
        BringToFront(dialog);
        ClickWindow(field);
        if (!WaitUntil([&] { return FocusedWindow(dialog) == field; }, 1000)) {
            continue;
        }
        PressKey(VK_END);
        PressKeyCombo(VK_SHIFT, VK_HOME);
        PressKey(VK_DELETE);
        TypeText(text);
        if (WaitUntil([&] { return WindowText(field) == text; }, 2000)) {
            return true;
        }
    }
    return false;
}

std::wstring WindowText(HWND window) {
    // GetWindowText does not ask a window of another process for its text; WM_GETTEXT does.
    wchar_t text[512] = {0};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 5000, &length)) {
        return L"<no answer>";
    }
    return std::wstring(text, length);
}

std::wstring ControlText(HWND dialog, int controlId) {
    return WindowText(GetDlgItem(dialog, controlId));
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64];
    const int length = GetClassNameW(window, name, 64);
    return std::wstring(name, static_cast<size_t>(length > 0 ? length : 0));
}

HWND FocusedWindow(HWND anyWindowOfThread) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    const DWORD thread = GetWindowThreadProcessId(anyWindowOfThread, nullptr);
    if (!GetGUIThreadInfo(thread, &info)) {
        return nullptr;
    }
    return info.hwndFocus;
}

namespace {

bool SettingsEnabled(HWND dialog, bool enabled) {
    for (int id : kDialogControls) {
        if (IsSettingControl(id) && (IsWindowEnabled(GetDlgItem(dialog, id)) != 0) != enabled) {
            return false;
        }
    }
    return true;
}

} // namespace

bool IsIdleWindow(HWND dialog) {
    return ControlText(dialog, IDOK) == L"開始" && SettingsEnabled(dialog, true);
}

bool IsPlayingWindow(HWND dialog) {
    return ControlText(dialog, IDOK) == L"停止" && SettingsEnabled(dialog, false) &&
           IsWindowEnabled(GetDlgItem(dialog, IDOK)) != 0;
}
