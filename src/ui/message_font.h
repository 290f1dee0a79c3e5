// The font of the system's message boxes: the one interface font every Windows links to fonts of
// other scripts, so it draws Japanese on a system of any language.
#ifndef UI_MESSAGE_FONT_H
#define UI_MESSAGE_FONT_H

#include <windows.h>

// Fills *font with the message font's description; returns false when the system cannot tell.
bool GetMessageFont(LOGFONTW *font);

#endif
