// The main dialog's controls, for code that goes through them all: the program, and the harness
// and tests that look at it from outside.
#ifndef UI_DIALOG_CONTROLS_H
#define UI_DIALOG_CONTROLS_H

#include <windows.h>

#include "res/resource_ids.h"

// Every control, in the template's order.
const int kDialogControls[] = {IDOK,          IDC_EDIT_BEATS,    IDC_EDIT_NOTE,  IDC_EDIT_BPM,
                               IDC_LABEL_BPM, IDC_LABEL_TIMESIG, IDC_LABEL_SLASH};

// The controls greyed out while the click plays: all but the button, which stays for the stop.
inline bool IsSettingControl(int id) {
    return id != IDOK;
}

#endif
