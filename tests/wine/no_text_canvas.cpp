// Linked into a test build of the font choice in place of the program's bitmap maker: a system
// that cannot make the bitmap fonts are asked with (out of memory, say).
#include "ui/text_canvas.h"

HBITMAP CreateTextCanvas(HDC, int, void **) {
    return nullptr;
}
