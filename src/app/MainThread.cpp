#include "app/MainThread.h"

#include <cassert>

void AssertMainThread() {
    assert(OnMainThread() && "must run on the main thread");
}
