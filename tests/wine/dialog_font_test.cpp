// Which font the controls get, asked inside the process (a font handle means nothing to another
// one): the program's own dialog template, from the built executable, on the real dialog manager.
// Run on a Japanese system (the tests' default) and on an English one (.english).
#include "program_driver.h"
#include "ui/dialog_controls.h"
#include "readable_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

HFONT FontOf(HWND window) {
    return reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
}

// The face the system really draws FONT with, and whether that is a raster font.
std::wstring DrawnFace(HFONT font, bool *raster = nullptr) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {0};
    GetTextFaceW(dc, LF_FACESIZE, face);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    if (raster != nullptr) {
        *raster = (metrics.tmPitchAndFamily & (TMPF_TRUETYPE | TMPF_VECTOR)) == 0;
    }
    SelectObject(dc, previous);
    DeleteDC(dc);
    return face;
}

// Whether FONT draws each character of TEXT as something other than the box it draws for U+FFFF,
// which no font has: what a user would see, read from a bitmap rather than from the screen.
bool DrawsCharacters(HFONT font, const std::wstring &text) {
    const int side = 64;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(info.bmiHeader), side, -side, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void *bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ previousBitmap = SelectObject(dc, bitmap);
    const HGDIOBJ previousFont = SelectObject(dc, font);
    const auto draw = [&](wchar_t c) {
        const size_t count = static_cast<size_t>(side * side);
        std::fill_n(static_cast<DWORD *>(bits), count, 0xFFFFFFFFu);
        TextOutW(dc, 0, 0, &c, 1);
        GdiFlush();
        return std::vector<DWORD>(static_cast<DWORD *>(bits), static_cast<DWORD *>(bits) + count);
    };
    const std::vector<DWORD> box = draw(0xFFFF);
    bool draws = true;
    for (wchar_t c : text) {
        draws = draws && draw(c) != box;
    }
    SelectObject(dc, previousFont);
    SelectObject(dc, previousBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return draws;
}

const wchar_t kTexts[] = L"拍子開始停止";

// The template's font stays where it draws the program's texts (a Japanese Windows's System);
// elsewhere every control gets one font that draws them. Which one the system offers (the
// message font through its font links, or a Japanese font by character set where those links
// name fonts the system lacks, as in a Wine 10 prefix) is the system's to decide: printed, not
// asserted.
TEST(DialogFont, TemplateFontWhereItDrawsTheTextsElseOneThatDoes) {
    HMODULE exe = LoadLibraryExW((ProgramFolder() + L"metronome.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HWND dialog = CreateDialogParamW(exe, L"IDD_MAINWINDOW", nullptr, ReadableDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    const HFONT templateFont = FontOf(dialog);
    const HFONT buttonFont = FontOf(GetDlgItem(dialog, IDOK));
    ASSERT_NE(templateFont, nullptr);
    bool raster = false;
    const std::wstring templateFace = DrawnFace(templateFont, &raster);
    const bool templateDraws = DrawsCharacters(templateFont, kTexts);
    std::printf("code page %u: the template's font is %ls (%s, %s); the controls draw with %ls\n",
                GetACP(), templateFace.c_str(), raster ? "raster" : "outline",
                templateDraws ? "draws the texts" : "draws boxes", DrawnFace(buttonFont).c_str());
    if (GetACP() != 932) {
        // As on an English Windows: the prefix has Wine's raster System font (vgasys.fon).
        EXPECT_TRUE(raster) << "the template's System is not the raster font here";
    }
    for (int id : kDialogControls) {
        const HFONT font = FontOf(GetDlgItem(dialog, id));
        if (templateDraws) {
            EXPECT_EQ(font, templateFont) << "control " << id << " left the template's font";
        } else {
            EXPECT_NE(font, templateFont) << "control " << id << " kept a font without 拍子";
            EXPECT_EQ(font, buttonFont) << "control " << id << " has a font of its own";
        }
    }
    if (!templateDraws) {
        EXPECT_TRUE(DrawsCharacters(buttonFont, kTexts)) << "the controls' font draws boxes";
        // The message font first, wherever it draws the texts: a font by character set only
        // where it does not.
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = sizeof(metrics);
        ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
        const HFONT message = CreateFontIndirectW(&metrics.lfMessageFont);
        if (DrawsCharacters(message, kTexts)) {
            EXPECT_EQ(DrawnFace(buttonFont), DrawnFace(message))
                << "the message font draws the texts, but the controls were not given it";
        }
        DeleteObject(message);
    }
    DestroyWindow(dialog);
    if (!templateDraws) {
        EXPECT_NE(GetObjectType(buttonFont), static_cast<DWORD>(OBJ_FONT))
            << "the font made for the controls outlived the dialog";
    }
    FreeLibrary(exe);
}

// The title bar is the system's to draw, with its caption font: the program's name must show as
// characters there too. Under Wine 10 that font is linked to Windows' own Japanese fonts, which
// Linux lacks; the prefix the commands make (harness/wine-session.sh) points them at a font the
// system has. In a prefix as wineboot makes it this fails under Wine 10.
TEST(DialogFont, CaptionFontDrawsTheProgramsName) {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    const HFONT caption = CreateFontIndirectW(&metrics.lfCaptionFont);
    ASSERT_NE(caption, nullptr);
    std::printf("code page %u: the caption font is %ls\n", GetACP(),
                metrics.lfCaptionFont.lfFaceName);
    EXPECT_TRUE(DrawsCharacters(caption, L"ぱたぽこりん")) << "the title shows boxes";
    DeleteObject(caption);
}

} // namespace
