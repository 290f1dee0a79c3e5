// Linked into a test build of the program in place of its system lookups, so that the branches
// for an older or poorer Windows run under Wine: kernel32 without SetDefaultDllDirectories and
// SetProcessInformation (Windows 7 without its update KB2533623), and no message font to be had.
#include "common/system_function.h"
#include "ui/message_font.h"

#include <cstring>

FARPROC SystemFunctionAddress(HMODULE module, const char *name) {
    if (std::strcmp(name, "SetDefaultDllDirectories") == 0 ||
        std::strcmp(name, "SetProcessInformation") == 0) {
        return nullptr;
    }
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}

bool GetMessageFont(LOGFONTW *) {
    return false;
}
