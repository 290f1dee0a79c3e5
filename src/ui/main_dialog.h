// The program's only window: tempo and time signature fields and the start/stop button.
#ifndef UI_MAIN_DIALOG_H
#define UI_MAIN_DIALOG_H

#include <windows.h>

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Waits for the beat-clock thread to end and closes its handle. Returns 1 on success or when
// there is no thread, 0 when waiting or closing failed. Either way the handle is closed and
// g_workerThread is null afterwards.
int JoinBeatClock();

#endif
