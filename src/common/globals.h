// The program's shared globals.
#ifndef COMMON_GLOBALS_H
#define COMMON_GLOBALS_H

#include <windows.h>

#include "common/tempo_settings.h"

// The program title: caption of every message box and start of the dialog's caption.
#define PROGRAM_TITLE L"ぱたぽこりん"

extern HINSTANCE g_hInstance;    // this module, set before the dialog is created
extern TempoSettings g_settings; // filled by the dialog, read by the beat clock
extern HANDLE g_workerThread;    // the beat-clock thread, or null when there is none

#endif
