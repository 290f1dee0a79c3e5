#include "ui/message_font.h"

#include <cstddef>

bool GetMessageFont(LOGFONTW *font) {
    NONCLIENTMETRICSW metrics = {};
    // The structure as Windows XP knows it. Vista added a last field, and XP refuses the larger
    // size; every later Windows takes this one, and the message font is in both.
    metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0)) {
        return false;
    }
    *font = metrics.lfMessageFont;
    return true;
}
