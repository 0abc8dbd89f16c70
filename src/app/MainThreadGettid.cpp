#include <unistd.h>

#include "app/MainThread.h"

bool OnMainThread() {
    // On Linux the first thread's id is the process id.
    return gettid() == getpid();
}
