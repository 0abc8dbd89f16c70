#include "support/Weston.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr const char* kSocket = "wayland-voice-test";

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

Weston::~Weston() {
    Stop();
}

bool Weston::Start(std::string& error) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/voice-weston-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "mkdtemp failed";
        return false;
    }
    m_runtimeDir = pattern;
    ::chmod(m_runtimeDir.c_str(), 0700);
    const std::string log = m_runtimeDir + "/weston.log";
    if (!m_process.Start(
            {"weston", "--backend=headless-backend.so", "--use-pixman", "--debug", "--idle-time=0",
             "--width=1280", "--height=800", std::string("--socket=") + kSocket, "--log=" + log},
            {{{"XDG_RUNTIME_DIR", m_runtimeDir}}, "", "", ""})) {
        error = "weston could not be started (is it installed?)";
        return false;
    }
    // The shell client draws the desktop a moment after the socket exists;
    // its "launching" line comes before, the panel after.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const std::string socket = m_runtimeDir + "/" + kSocket;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!m_process.Alive()) {
            error = "weston ended at start: " + ReadText(log);
            return false;
        }
        if (fs::exists(socket) && ReadText(log).find("weston-desktop-shell") != std::string::npos) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error = "weston did not open its socket: " + ReadText(log);
    return false;
}

void Weston::Stop() {
    m_process.Stop();
    if (!m_runtimeDir.empty()) {
        std::error_code ignored;
        fs::remove_all(m_runtimeDir, ignored);
        m_runtimeDir.clear();
    }
}

std::map<std::string, std::string> Weston::Environment() const {
    // The headless backend has no seat: Qt's Wayland text input would look for
    // its keyboard at the first key press and crash, so no input method is used.
    return {{"XDG_RUNTIME_DIR", m_runtimeDir},
            {"WAYLAND_DISPLAY", kSocket},
            {"QT_QPA_PLATFORM", "wayland"},
            {"QT_IM_MODULE", "none"}};
}

bool Weston::Screenshot(const std::string& path) {
    // The screenshooter names its file by the time, in its working folder.
    char folder[] = "/tmp/voice-shot-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        return false;
    }
    const std::string command =
        "cd '" + std::string(folder) + "' && timeout 20 weston-screenshooter > /dev/null 2>&1";
    bool ok = std::system(command.c_str()) == 0;
    std::error_code ignored;
    bool found = false;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        found =
            ok && fs::copy_file(entry.path(), path, fs::copy_options::overwrite_existing, ignored);
    }
    fs::remove_all(folder, ignored);
    return found;
}
