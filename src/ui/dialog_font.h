// The dialog's texts readable on a Windows of any language. The template's 9 point "System" is
// the system's raster font: a Japanese system's has 拍子, 開始 and 停止, another's draws them
// as empty boxes, and Windows links other fonts only to its TrueType interface fonts. There the
// controls take the font message boxes use, which the system links to its CJK fonts; and where
// even that draws boxes (Wine 10 links it to Windows' own fonts, which Linux lacks), a Japanese
// font the system has.
#ifndef UI_DIALOG_FONT_H
#define UI_DIALOG_FONT_H

#include <windows.h>

// When the dialog's font lacks a glyph of the program's own texts, gives every control the
// system's message font, or where that draws them as boxes, a Japanese font by character set;
// otherwise changes nothing. For WM_INITDIALOG.
void MakeTextsReadable(HWND dialog);

// Deletes the font MakeTextsReadable made, if any. For WM_NCDESTROY: the controls hold the font
// until they are destroyed, after the dialog's WM_DESTROY.
void ReleaseReadableFont();

#endif
