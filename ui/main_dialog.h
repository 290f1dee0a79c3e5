// The program's only window: tempo and time signature fields and the start/stop button.
#ifndef UI_MAIN_DIALOG_H
#define UI_MAIN_DIALOG_H

#include <windows.h>

#include "common/tempo_settings.h"

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Checks the three fields into settings (bpm, beats, noteValue). Returns 1 when all are
// accepted; 0 after showing the first field's warning and putting back its default text.
int ReadSettings(HWND dialog, TempoSettings *settings);

// The number code of an entry field's text: its value, -1 or -2 (see ParseFieldNumber).
int ReadNumberField(HWND dialog, int controlId);

// Waits for the beat-clock thread to end and closes its handle. Returns 1 on success or when
// there is no thread, 0 when waiting or closing failed (the handle is then kept).
int JoinBeatClock();

#endif
