// The program's only window: tempo and time signature fields and the start/stop button.
#ifndef UI_MAIN_DIALOG_H
#define UI_MAIN_DIALOG_H

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
