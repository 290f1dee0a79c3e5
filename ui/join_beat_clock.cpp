#include "common/globals.h"
#include "ui/main_dialog.h"

int JoinBeatClock() {
    if (g_workerThread == nullptr) {
        return 1;
    }
    if (WaitForSingleObject(g_workerThread, INFINITE) != WAIT_OBJECT_0) {
        return 0;
    }
    if (!CloseHandle(g_workerThread)) {
        return 0;
    }
    g_workerThread = nullptr;
    return 1;
}
