#include "ui/dialog_font.h"

#include "ui/dialog_controls.h"
#include "ui/message_font.h"
#include "ui/text_canvas.h"

#include <cstdlib>
#include <cstring>

namespace {

// The Japanese the program itself puts on its controls: the label and both button captions.
const wchar_t kOwnTexts[] = L"拍子開始停止";
const int kOwnTextLength = static_cast<int>(sizeof(kOwnTexts) / sizeof(kOwnTexts[0])) - 1;

HFONT g_readableFont = nullptr;

// What a font does with each of the program's texts.
enum class Drawing : unsigned char {
    Characters, // every one as a character
    Boxes,      // one at least as the box a font draws for a character it has nothing for
    Unknown,    // the system could not give what the drawing needs
};

// What FONT draws for each of the program's texts. Asked by drawing: the system's font linking,
// which lends an interface font the Japanese of other fonts, works only there, and a font's own
// glyph table knows nothing of it. The box is what the font draws for U+FFFF, which no font has.
Drawing AskDrawing(HDC reference, HGDIOBJ font) {
    const int kSide = 64; // a cell larger than any interface font's character
    const size_t kBytes = kSide * kSide * sizeof(DWORD);
    void *bits = nullptr;
    void *box = std::malloc(kBytes);
    HDC dc = CreateCompatibleDC(reference);
    HBITMAP bitmap = dc != nullptr ? CreateTextCanvas(dc, kSide, &bits) : nullptr;
    Drawing drawing = Drawing::Unknown;
    if (box != nullptr && bitmap != nullptr) {
        HGDIOBJ previousBitmap = SelectObject(dc, bitmap);
        HGDIOBJ previousFont = SelectObject(dc, font);
        const wchar_t none = 0xFFFF;
        drawing = Drawing::Characters;
        for (int i = -1; drawing == Drawing::Characters && i < kOwnTextLength; ++i) {
            std::memset(bits, 0xFF, kBytes);
            TextOutW(dc, 0, 0, i < 0 ? &none : &kOwnTexts[i], 1);
            GdiFlush();
            if (i < 0) {
                std::memcpy(box, bits, kBytes);
            } else if (std::memcmp(box, bits, kBytes) == 0) {
                drawing = Drawing::Boxes;
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
    return drawing;
}

// A font the controls draw their texts with, when the template's draws boxes: the message font,
// which the system links to its fonts of other scripts, where it draws them; else a font the
// system has for Japanese, chosen by character set, at the template's size; else the message font
// still. Null where the system gives no message font, or cannot say what a font draws: the
// template's font stays, as it always has there.
HFONT ReadableFont(HDC dc, HGDIOBJ templateFont) {
    LOGFONTW wanted;
    HFONT messageFont = GetMessageFont(&wanted) ? CreateFontIndirectW(&wanted) : nullptr;
    if (messageFont == nullptr) {
        return nullptr;
    }
    Drawing drawing = AskDrawing(dc, messageFont);
    if (drawing == Drawing::Boxes &&
        GetObjectW(templateFont, sizeof(wanted), &wanted) == sizeof(wanted)) {
        wanted.lfCharSet = SHIFTJIS_CHARSET;
        wanted.lfFaceName[0] = L'\0';
        wanted.lfOutPrecision = OUT_TT_PRECIS; // not a raster font of the set, whose kanji may lack
        HFONT japaneseFont = CreateFontIndirectW(&wanted);
        if (japaneseFont != nullptr) {
            drawing = AskDrawing(dc, japaneseFont);
            if (drawing == Drawing::Characters) {
                DeleteObject(messageFont);
                return japaneseFont;
            }
            DeleteObject(japaneseFont);
        }
    }
    if (drawing == Drawing::Unknown) {
        DeleteObject(messageFont);
        return nullptr;
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
    // Where the system cannot say (no memory, no bitmap), the template's font stays: asking
    // failed, not the font.
    g_readableFont =
        AskDrawing(dc, templateFont) == Drawing::Boxes ? ReadableFont(dc, templateFont) : nullptr;
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
