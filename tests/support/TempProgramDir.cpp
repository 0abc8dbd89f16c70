#include "support/TempProgramDir.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/Clock.h"
#include "app/IniHelper.h"
#include "app/LogHelper.h"
#include "app/ModuleDir.h"

namespace {

// The thread's capability sets, read and written with the raw system calls so
// the tests need no extra library.
bool GetCaps(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, data) == 0;
}

bool SetCaps(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capset, &header, data) == 0;
}

void SetDacOverride(bool on) {
    __user_cap_data_struct data[2] = {};
    if (!GetCaps(data)) {
        return;
    }
    const unsigned bits = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    if (on) {
        data[0].effective |= bits & data[0].permitted;
    } else {
        data[0].effective &= ~bits;
    }
    SetCaps(data);
}

}  // namespace

TempProgramDir::TempProgramDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/voice-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + pattern);
    }
    m_dir = pattern;
    ModuleDir::UseFolder(m_dir);
    // As the program wires it: debug lines follow the settings' switch.
    LogHelper::FollowDebugSwitch([] {
        const IniHelper* ini = IniHelper::Peek();
        return ini != nullptr && ini->Settings().debug.load();
    });
}

TempProgramDir::~TempProgramDir() {
    // The settings save themselves on destruction, so they go while the
    // temporary folder is still the program folder, and before the logger
    // they may write to.
    IniHelper::Destroy();
    LogHelper::Destroy();
    LogHelper::FollowDebugSwitch(nullptr);
    ModuleDir::Install(nullptr);
    Clock::Install(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::string TempProgramDir::File(const std::string& name) const {
    return m_dir + "/" + name;
}

std::string TempProgramDir::Read(const std::string& name) const {
    std::ifstream in(File(name), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void TempProgramDir::Write(const std::string& name, const std::string& content) const {
    std::filesystem::create_directories(std::filesystem::path(File(name)).parent_path());
    std::ofstream out(File(name), std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + File(name));
    }
}

bool TempProgramDir::Exists(const std::string& name) const {
    return std::filesystem::exists(File(name));
}

ObeyPermissions::ObeyPermissions() {
    if (::geteuid() == 0) {
        SetDacOverride(false);
        m_lowered = true;
    }
}

ObeyPermissions::~ObeyPermissions() {
    if (m_lowered) {
        SetDacOverride(true);
    }
}

ReadOnlyDir::ReadOnlyDir(std::string dir) : m_dir(std::move(dir)) {
    ::chmod(m_dir.c_str(), 0555);
    const std::string probe = m_dir + "/.probe";
    const int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY | O_EXCL, 0644);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.c_str());
    }
    m_effective = fd < 0;
}

ReadOnlyDir::~ReadOnlyDir() {
    ::chmod(m_dir.c_str(), 0700);
}

std::string TempProgramDir::LogText() const {
    std::string text;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(File("log"), error)) {
        std::ifstream in(entry.path(), std::ios::binary);
        text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return text;
}
