#include <unistd.h>

#include <climits>

#include "app/Helpers.h"
#include "app/ModuleDir.h"

std::wstring ModuleDir::ExecutablePath() const {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) {
        return {};
    }
    return Utf8ToWide(std::string(buffer, static_cast<size_t>(n)));
}
