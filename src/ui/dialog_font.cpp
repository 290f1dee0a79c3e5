#include "ui/dialog_font.h"

#include "ui/dialog_controls.h"
#include "ui/message_font.h"

#include <algorithm>

namespace {

// The Japanese the program itself puts on its controls: the label and both button captions.
const wchar_t kOwnTexts[] = L"拍子開始停止";
const int kOwnTextLength = static_cast<int>(sizeof(kOwnTexts) / sizeof(kOwnTexts[0])) - 1;

HFONT g_readableFont = nullptr;

// A raster font has exactly the characters of its character set's code page. GetGlyphIndices
// is meant for outline fonts, so a raster font is asked through its code page instead.
bool CodePageHasOwnTexts(HDC dc) {
    CHARSETINFO charset = {};
    const DWORD_PTR id = static_cast<DWORD_PTR>(GetTextCharset(dc));
    if (!TranslateCharsetInfo(reinterpret_cast<DWORD *>(id), &charset, TCI_SRCCHARSET)) {
        return false;
    }
    char bytes[4 * kOwnTextLength];
    BOOL usedDefault = FALSE;
    return WideCharToMultiByte(charset.ciACP, WC_NO_BEST_FIT_CHARS, kOwnTexts, kOwnTextLength,
                               bytes, sizeof(bytes), nullptr, &usedDefault) > 0 &&
           !usedDefault;
}

bool FontHasOwnTexts(HDC dc) {
    TEXTMETRICW metrics = {};
    if (GetTextMetricsW(dc, &metrics) &&
        (metrics.tmPitchAndFamily & (TMPF_TRUETYPE | TMPF_VECTOR)) == 0) {
        return CodePageHasOwnTexts(dc);
    }
    WORD glyphs[kOwnTextLength];
    if (GetGlyphIndicesW(dc, kOwnTexts, kOwnTextLength, glyphs, GGI_MARK_NONEXISTING_GLYPHS) ==
        GDI_ERROR) {
        return CodePageHasOwnTexts(dc);
    }
    return std::none_of(glyphs, glyphs + kOwnTextLength,
                        [](WORD glyph) { return glyph == 0xFFFF; });
}

bool DialogFontHasOwnTexts(HWND dialog) {
    HDC dc = GetDC(dialog);
    if (dc == nullptr) {
        return true; // nothing to learn from: leave the template's font
    }
    HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
    const bool has = FontHasOwnTexts(dc);
    SelectObject(dc, previous);
    ReleaseDC(dialog, dc);
    return has;
}

} // namespace

void MakeTextsReadable(HWND dialog) {
    if (g_readableFont != nullptr || DialogFontHasOwnTexts(dialog)) {
        return;
    }
    LOGFONTW messageFont;
    if (!GetMessageFont(&messageFont)) {
        return; // the template's font it is: the controls work, though their texts may not show
    }
    g_readableFont = CreateFontIndirectW(&messageFont);
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
