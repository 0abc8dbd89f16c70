#include "app/ModuleDir.h"

#include <utility>

#include "app/Helpers.h"

namespace {
std::unique_ptr<ModuleDir>& Installed() {
    static std::unique_ptr<ModuleDir> instance;
    return instance;
}

// An executable path chosen by whoever installs it, not read from the system.
class FixedModuleDir : public ModuleDir {
public:
    explicit FixedModuleDir(std::wstring executable) : m_executable(std::move(executable)) {}
    std::wstring ExecutablePath() const override { return m_executable; }

private:
    std::wstring m_executable;
};
}  // namespace

const ModuleDir& ModuleDir::Instance() {
    static const ModuleDir real;
    const auto& installed = Installed();
    return installed ? *installed : real;
}

void ModuleDir::Install(std::unique_ptr<ModuleDir> instance) {
    Installed() = std::move(instance);
}

void ModuleDir::UseExecutable(std::wstring executable) {
    Install(std::make_unique<FixedModuleDir>(std::move(executable)));
}

void ModuleDir::UseFolder(const std::string& folder) {
    UseExecutable(Utf8ToWide(folder + "/Voice"));
}
