#include <windows.h>

#include "app/MainThread.h"

namespace {
// Windows gives the first thread no id of its own kind; the thread that runs
// the program's static initialisation, before main(), is the main thread.
const DWORD s_mainThreadId = ::GetCurrentThreadId();
}  // namespace

bool OnMainThread() {
    return ::GetCurrentThreadId() == s_mainThreadId;
}
