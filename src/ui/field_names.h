// Names of the entry fields for a screen reader. Windows names an edit field after the static
// text just before it in the dialog's order, and the template puts its labels after the fields:
// that order is also the tab order, and stays. So the fields are named directly, through the
// system's annotation service, with the names the warnings use.
#ifndef UI_FIELD_NAMES_H
#define UI_FIELD_NAMES_H

#include <windows.h>

// Gives each entry field its name (name true, for WM_INITDIALOG), or takes the names back while
// the fields still exist, as the service asks of whoever annotated a window (false, for
// WM_DESTROY). The annotations stay with the windows; the service is taken for each call and
// released. Without COM or the service the fields stay unnamed and nothing else changes.
void AnnotateFields(HWND dialog, bool name);

#endif
