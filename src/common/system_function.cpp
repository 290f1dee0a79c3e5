#include "common/system_function.h"

FARPROC SystemFunctionAddress(HMODULE module, const char *name) {
    return module != nullptr ? GetProcAddress(module, name) : nullptr;
}
