// The main dialog's controls, for code that goes through them all: the program, and the harness
// and tests that look at it from outside.
#ifndef UI_DIALOG_CONTROLS_H
#define UI_DIALOG_CONTROLS_H

#include <windows.h>

#include "res/resource_ids.h"

// Every control, in the template's order. All but the button (IDOK) are greyed out while the
// click plays.
const int kDialogControls[] = {IDOK,          IDC_EDIT_BEATS,    IDC_EDIT_NOTE,  IDC_EDIT_BPM,
                               IDC_LABEL_BPM, IDC_LABEL_TIMESIG, IDC_LABEL_SLASH};

#endif
