#include "app/MainThread.h"

#include <unistd.h>

#include <cassert>

bool OnMainThread() {
    // On Linux the first thread's id is the process id.
    return gettid() == getpid();
}

void AssertMainThread() {
    assert(OnMainThread() && "must run on the main thread");
}
