// Reads the dialog's three entry fields through the field check, carrying out a rejection.
#ifndef UI_READ_SETTINGS_H
#define UI_READ_SETTINGS_H

#include <windows.h>

#include "common/tempo_settings.h"

// Checks the three fields into settings (bpm, beats, noteValue). Returns 1 when all are
// accepted; 0 after showing the first field's warning and putting back its default text.
int ReadSettings(HWND dialog, TempoSettings *settings);

// The number code of an entry field's text: its value, -1 or -2 (see ParseFieldNumber).
int ReadNumberField(HWND dialog, int controlId);

#endif
