// Functions of system DLLs looked up at run time: those older Windows versions lack, and those of
// DLLs the program loads itself from the system folder.
#ifndef COMMON_SYSTEM_FUNCTION_H
#define COMMON_SYSTEM_FUNCTION_H

#include <windows.h>

// name's address in module, or null when the module is null or has no such function. Every
// lookup of the program goes through here, so that the whole program can be linked, for a test,
// against a stand-in that answers as an older Windows would.
FARPROC SystemFunctionAddress(HMODULE module, const char *name);

// Sets *function to name's address in module; returns whether it is there.
template <typename Function>
bool BindSystemFunction(HMODULE module, const char *name, Function *function) {
    // Through a plain function pointer: GetProcAddress's type fits no function in particular.
    *function = reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(SystemFunctionAddress(module, name)));
    return *function != nullptr;
}

// The same for a function of kernel32, which every process has loaded.
template <typename Function> bool BindKernelFunction(const char *name, Function *function) {
    return BindSystemFunction(GetModuleHandleW(L"kernel32.dll"), name, function);
}

#endif
