// Which font the controls get where the program cannot learn what a font draws, asked inside the
// process as dialog_font_test.cpp asks. Built twice, each with a stand-in: a system that gives no
// message font (older_windows.cpp), and one that cannot make the bitmap a font is asked with
// (no_text_canvas.cpp). Run as on an English Windows, where the template's raster System cannot
// draw the texts: the controls still keep it, as they always have where nothing better is known.
#include "program_driver.h"
#include "ui/dialog_controls.h"
#include "readable_dialog.h"

#include <gtest/gtest.h>

namespace {

TEST(DialogFontUnasked, ControlsKeepTheTemplateFont) {
    HMODULE exe = LoadLibraryExW((ProgramFolder() + L"metronome.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr);
    HWND dialog = CreateDialogParamW(exe, L"IDD_MAINWINDOW", nullptr, ReadableDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    const LRESULT templateFont = SendMessageW(dialog, WM_GETFONT, 0, 0);
    ASSERT_NE(templateFont, 0);
    for (int id : kDialogControls) {
        EXPECT_EQ(SendMessageW(GetDlgItem(dialog, id), WM_GETFONT, 0, 0), templateFont)
            << "control " << id << " left the template's font";
    }
    DestroyWindow(dialog);
    FreeLibrary(exe);
}

} // namespace
