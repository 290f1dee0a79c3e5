// Which font the controls get, asked inside the process (a font handle means nothing to another
// one): the program's own dialog template, from the built executable, on the real dialog manager.
// Run on a Japanese system (the tests' default) and on an English one (.english).
#include "program_driver.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_font.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

INT_PTR CALLBACK ReadableDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        MakeTextsReadable(dialog);
        return TRUE;
    }
    if (message == WM_NCDESTROY) {
        ReleaseReadableFont();
    }
    return FALSE;
}

HFONT FontOf(HWND window) {
    return reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
}

// The face the system really draws a window's font with, and whether that is a raster font.
std::wstring DrawnFace(HWND window, bool *raster = nullptr) {
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, FontOf(window));
    wchar_t face[LF_FACESIZE] = {0};
    GetTextFaceW(dc, LF_FACESIZE, face);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    if (raster != nullptr) {
        *raster = (metrics.tmPitchAndFamily & (TMPF_TRUETYPE | TMPF_VECTOR)) == 0;
    }
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    return face;
}

TEST(DialogFont, TemplateFontWhereItHasTheTextsMessageFontElsewhere) {
    const bool japaneseSystem = GetACP() == 932;
    HMODULE exe = LoadLibraryExW((ProgramFolder() + L"metronome.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HWND dialog = CreateDialogParamW(exe, L"IDD_MAINWINDOW", nullptr, ReadableDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    const HFONT templateFont = FontOf(dialog);
    const HFONT buttonFont = FontOf(GetDlgItem(dialog, IDOK));
    ASSERT_NE(templateFont, nullptr);
    bool raster = false;
    const std::wstring templateFace = DrawnFace(dialog, &raster);
    std::printf("code page %u: the template's font is %ls (%s); the controls draw with %ls\n",
                GetACP(), templateFace.c_str(), raster ? "raster" : "outline",
                DrawnFace(GetDlgItem(dialog, IDOK)).c_str());
    if (!japaneseSystem) {
        // As on an English Windows: the prefix has Wine's raster System font (vgasys.fon).
        EXPECT_TRUE(raster) << "the template's System is not the raster font here";
    }
    for (int id : kDialogControls) {
        const HFONT font = FontOf(GetDlgItem(dialog, id));
        if (japaneseSystem) {
            EXPECT_EQ(font, templateFont) << "control " << id << " left the template's font";
        } else {
            EXPECT_NE(font, templateFont) << "control " << id << " kept a font without 拍子";
            EXPECT_EQ(font, buttonFont) << "control " << id << " has a font of its own";
        }
    }
    if (!japaneseSystem) {
        LOGFONTW chosen = {};
        GetObjectW(buttonFont, sizeof(chosen), &chosen);
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = sizeof(metrics);
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        EXPECT_STREQ(chosen.lfFaceName, metrics.lfMessageFont.lfFaceName);
        EXPECT_EQ(chosen.lfHeight, metrics.lfMessageFont.lfHeight);
    }
    DestroyWindow(dialog);
    if (!japaneseSystem) {
        EXPECT_NE(GetObjectType(buttonFont), static_cast<DWORD>(OBJ_FONT))
            << "the font made for the controls outlived the dialog";
    }
    FreeLibrary(exe);
}

} // namespace
