// A stranger's DLL left beside the program under a system DLL's name. It does nothing but leave
// a mark, a file named after itself with ".loaded" added, the moment it is loaded.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8];
        const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcpyW(path + length, L".loaded");
            HANDLE mark = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (mark != INVALID_HANDLE_VALUE) {
                CloseHandle(mark);
            }
        }
    }
    return TRUE;
}
