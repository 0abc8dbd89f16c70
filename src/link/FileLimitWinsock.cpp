#include "link/FileLimit.h"

// Windows sets no per-process count of socket handles like RLIMIT_NOFILE
// (they are bounded by memory only), so there is no limit to raise.
bool RaiseFileLimit() {
    return true;
}
