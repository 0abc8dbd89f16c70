#include "app/ModuleDir.h"

#include <unistd.h>

#include <climits>

#include "app/Helpers.h"

namespace {
std::unique_ptr<ModuleDir>& Installed() {
    static std::unique_ptr<ModuleDir> instance;
    return instance;
}
}  // namespace

const ModuleDir& ModuleDir::Instance() {
    static const ModuleDir real;
    const auto& installed = Installed();
    return installed ? *installed : real;
}

void ModuleDir::Install(std::unique_ptr<ModuleDir> instance) {
    Installed() = std::move(instance);
}

std::wstring ModuleDir::ExecutablePath() const {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) {
        return {};
    }
    return Utf8ToWide(std::string(buffer, static_cast<size_t>(n)));
}
