// A dialog procedure that does with the program's template what the program does with its fonts,
// for the tests that ask, inside their own process, which font the controls get.
#ifndef TESTS_WINE_READABLE_DIALOG_H
#define TESTS_WINE_READABLE_DIALOG_H

#include "ui/dialog_font.h"

inline INT_PTR CALLBACK ReadableDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        MakeTextsReadable(dialog);
        return TRUE;
    }
    if (message == WM_NCDESTROY) {
        ReleaseReadableFont();
    }
    return FALSE;
}

#endif
