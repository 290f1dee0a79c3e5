#include "ui/dialog_font.h"

#include "ui/dialog_controls.h"
#include "ui/message_font.h"

#include <cstdlib>
#include <cstring>

namespace {

// The Japanese the program itself puts on its controls: the label and both button captions.
const wchar_t kOwnTexts[] = L"拍子開始停止";
const int kOwnTextLength = static_cast<int>(sizeof(kOwnTexts) / sizeof(kOwnTexts[0])) - 1;

HFONT g_readableFont = nullptr;

// Whether FONT draws each of the program's texts as a character, not as the box it draws for a
// character it has nothing for. Asked by drawing: the system's font linking, which lends an
// interface font the Japanese of other fonts, works only there, and a font's own glyph table
// knows nothing of it. The box is what the font draws for U+FFFF, which no font has.
bool DrawsOwnTexts(HDC reference, HGDIOBJ font) {
    const int kSide = 64; // a cell larger than any interface font's character
    const size_t kBytes = kSide * kSide * sizeof(DWORD);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kSide;
    info.bmiHeader.biHeight = -kSide;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    void *box = std::malloc(kBytes);
    HDC dc = CreateCompatibleDC(reference);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool draws = box != nullptr && dc != nullptr && bitmap != nullptr;
    if (draws) {
        HGDIOBJ previousBitmap = SelectObject(dc, bitmap);
        HGDIOBJ previousFont = SelectObject(dc, font);
        const wchar_t none = 0xFFFF;
        for (int i = -1; draws && i < kOwnTextLength; ++i) {
            std::memset(bits, 0xFF, kBytes);
            TextOutW(dc, 0, 0, i < 0 ? &none : &kOwnTexts[i], 1);
            GdiFlush();
            if (i < 0) {
                std::memcpy(box, bits, kBytes);
            } else {
                draws = std::memcmp(box, bits, kBytes) != 0;
            }
        }
        SelectObject(dc, previousFont);
        SelectObject(dc, previousBitmap);
    }
    if (bitmap != nullptr) {
        DeleteObject(bitmap);
    }
    if (dc != nullptr) {
        DeleteDC(dc);
    }
    std::free(box);
    return draws;
}

// A font the controls draw their texts with, when the template's cannot: the message font, which
// the system links to its fonts of other scripts, where it draws them; else a font the system has
// for Japanese, chosen by character set, at the template's size; else the message font still.
// Null where the system gives no message font: the template's font stays, as it always has there.
HFONT ReadableFont(HDC dc, HGDIOBJ templateFont) {
    LOGFONTW wanted;
    HFONT messageFont = GetMessageFont(&wanted) ? CreateFontIndirectW(&wanted) : nullptr;
    if (messageFont == nullptr || DrawsOwnTexts(dc, messageFont) ||
        GetObjectW(templateFont, sizeof(wanted), &wanted) != sizeof(wanted)) {
        return messageFont;
    }
    wanted.lfCharSet = SHIFTJIS_CHARSET;
    wanted.lfFaceName[0] = L'\0';
    wanted.lfOutPrecision = OUT_TT_PRECIS; // not a raster font of the set, whose kanji may lack
    HFONT japaneseFont = CreateFontIndirectW(&wanted);
    if (japaneseFont != nullptr && DrawsOwnTexts(dc, japaneseFont)) {
        if (messageFont != nullptr) {
            DeleteObject(messageFont);
        }
        return japaneseFont;
    }
    if (japaneseFont != nullptr) {
        DeleteObject(japaneseFont);
    }
    return messageFont;
}

} // namespace

void MakeTextsReadable(HWND dialog) {
    if (g_readableFont != nullptr) {
        return;
    }
    HDC dc = GetDC(dialog);
    if (dc == nullptr) {
        return; // nothing to learn from: leave the template's font
    }
    HGDIOBJ templateFont = reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    if (templateFont == nullptr) {
        templateFont = GetStockObject(SYSTEM_FONT);
    }
    // Asked by drawing, as every other font: a raster font's character set may claim what it has
    // not (Wine 10's System under a Japanese locale reports code page 932 and draws boxes).
    g_readableFont = DrawsOwnTexts(dc, templateFont) ? nullptr : ReadableFont(dc, templateFont);
    ReleaseDC(dialog, dc);
    if (g_readableFont == nullptr) {
        return;
    }
    // The layout stays in the template's dialog units: only the drawing changes.
    for (int id : kDialogControls) {
        SendDlgItemMessageW(dialog, id, WM_SETFONT, reinterpret_cast<WPARAM>(g_readableFont), TRUE);
    }
}

void ReleaseReadableFont() {
    if (g_readableFont != nullptr) {
        DeleteObject(g_readableFont);
        g_readableFont = nullptr;
    }
}
