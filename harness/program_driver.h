// Drives the real program as a user would: starts the executable, finds its windows, types and
// clicks through SendInput (real input, delivered by the window system to the foreground
// window), and reads back what the windows show.
#ifndef HARNESS_PROGRAM_DRIVER_H
#define HARNESS_PROGRAM_DRIVER_H

#include <windows.h>

#include <functional>
#include <string>

struct Program {
    PROCESS_INFORMATION process = {};
    HWND dialog = nullptr;
};

// The folder of the running driver, where the programs under test are.
std::wstring ProgramFolder();

// Starts <exe>, a path relative to ProgramFolder(), with the given arguments. Does not wait for
// any window.
bool LaunchProgram(const std::wstring &exe, const std::wstring &arguments, Program *program);

// Waits for the program's main dialog (the #32770 window with the tempo field).
HWND WaitForMainDialog(const Program &program, DWORD timeoutMs = 15000);

// Waits for a message box of the program: a #32770 window other than the main dialog.
HWND WaitForMessageBox(const Program &program, DWORD timeoutMs = 10000);

// Whether the program still shows a message box.
bool HasMessageBox(const Program &program);

// Waits for the process to end; returns its exit code, or STILL_ACTIVE after the time-out.
DWORD WaitForExit(Program *program, DWORD timeoutMs = 15000);

// Ends the process if it still runs and closes its handles.
void CloseProgram(Program *program);

bool WaitUntil(const std::function<bool()> &condition, DWORD timeoutMs);

// Makes the window the foreground window, as a user clicking on it would.
bool BringToFront(HWND window);

// Real keyboard input to the foreground window.
void PressKey(WORD vk);
void PressKeyCombo(WORD modifier, WORD vk);
void TypeText(const std::wstring &text); // each character as Unicode input

// A real left click at the centre of the window, or at a point in screen coordinates.
void ClickWindow(HWND window);
void ClickAt(int x, int y);

// Replaces an edit field's text by clicking into it, selecting all and typing. Returns whether
// the field then holds the text.
bool TypeIntoField(HWND dialog, int controlId, const std::wstring &text);

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int controlId);
std::wstring ClassOf(HWND window);

// The window that has the keyboard focus in the window's thread.
HWND FocusedWindow(HWND anyWindowOfThread);

// The main dialog's two states: idle (開始, every setting control enabled) and playing (停止,
// every setting control greyed out, the button enabled).
bool IsIdleWindow(HWND dialog);
bool IsPlayingWindow(HWND dialog);

#endif
