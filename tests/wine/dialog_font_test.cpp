// Which font the controls get, asked inside the process (a font handle means nothing to another
// one): the program's own dialog template, from the built executable, on the real dialog manager.
// Run on a Japanese system (the tests' default) and on an English one (.english).
#include "program_driver.h"
#include "ui/dialog_controls.h"
#include "readable_dialog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

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

// Wine 10 and later, in the tests' prefixes: under a Japanese locale "System" is the Western raster
// font the prefix holds, not a CJK outline font as under Wine 8; and the message font is linked to
// Windows' own Japanese fonts, which a Linux system lacks, so that it draws boxes. There the
// controls take a Japanese font by character set.
bool Wine10OrLater() {
    using Version = const char *(CDECL *)();
    const auto version = reinterpret_cast<Version>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return version != nullptr && std::atoi(version()) >= 10;
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
    // The template's font draws the texts on a Japanese system, as on a Japanese Windows; not
    // under Wine 10, whose System there is the prefix's Western raster font.
    const bool keepsTemplate = japaneseSystem && !Wine10OrLater();
    for (int id : kDialogControls) {
        const HFONT font = FontOf(GetDlgItem(dialog, id));
        if (keepsTemplate) {
            EXPECT_EQ(font, templateFont) << "control " << id << " left the template's font";
        } else {
            EXPECT_NE(font, templateFont) << "control " << id << " kept a font without 拍子";
            EXPECT_EQ(font, buttonFont) << "control " << id << " has a font of its own";
        }
    }
    if (!keepsTemplate) {
        LOGFONTW chosen = {};
        GetObjectW(buttonFont, sizeof(chosen), &chosen);
        if (Wine10OrLater()) {
            // No message font draws them there: a Japanese font by character set, at the size
            // the template asks.
            LOGFONTW asked = {};
            GetObjectW(templateFont, sizeof(asked), &asked);
            EXPECT_EQ(chosen.lfCharSet, SHIFTJIS_CHARSET);
            EXPECT_STREQ(chosen.lfFaceName, L"");
            EXPECT_EQ(chosen.lfHeight, asked.lfHeight);
        } else {
            NONCLIENTMETRICSW metrics = {};
            metrics.cbSize = sizeof(metrics);
            SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
            EXPECT_STREQ(chosen.lfFaceName, metrics.lfMessageFont.lfFaceName);
            EXPECT_EQ(chosen.lfHeight, metrics.lfMessageFont.lfHeight);
        }
    }
    DestroyWindow(dialog);
    if (!keepsTemplate) {
        EXPECT_NE(GetObjectType(buttonFont), static_cast<DWORD>(OBJ_FONT))
            << "the font made for the controls outlived the dialog";
    }
    FreeLibrary(exe);
}

} // namespace
