// A small bitmap to draw one character into and read back, for asking a font what it draws. In a
// file of its own, as the other things the program asks of the system, so that a test build can
// link a stand-in for a system that cannot make one.
#ifndef UI_TEXT_CANVAS_H
#define UI_TEXT_CANVAS_H

#include <windows.h>

// A top-down 32-bit DIB section of side x side pixels compatible with dc, its pixels in *bits;
// null (and *bits untouched) when the system cannot make one.
HBITMAP CreateTextCanvas(HDC dc, int side, void **bits);

#endif
