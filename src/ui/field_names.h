// Names of the entry fields for a screen reader. Windows names an edit field after the static
// text just before it in the dialog's order, and the template puts its labels after the fields:
// that order is also the tab order, and stays. So the fields are named directly, through the
// system's annotation service, with the names the warnings use.
#ifndef UI_FIELD_NAMES_H
#define UI_FIELD_NAMES_H

#include <windows.h>

// Gives each entry field its name. Without COM or the service the fields stay unnamed and
// nothing else changes. For WM_INITDIALOG, after COM is initialised.
void NameFieldsForScreenReaders(HWND dialog);

// Takes the names back while the fields still exist, as the service asks of whoever annotates a
// window. For WM_DESTROY.
void ForgetFieldNames(HWND dialog);

#endif
