#pragma once

// The built program laid out as a store runs it, for the tests that start the
// real executable: its own folder with the audio pack and the updater stand-in
// beside it, started headless, watched through its log and its listening port.

#include "app/LoginRecord.h"
#include "app/SingleInstance.h"
#include "support/LoopbackPeers.h"
#include "support/SpawnedProcess.h"
#include "support/TempProgramDir.h"
#include "support/WaitUntil.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

inline const std::string kProgram = std::string(VOICE_BINARY_DIR) + "/src/ui/Voice";
inline const std::string kPack = std::string(VOICE_BINARY_DIR) + "/Audio.zip";
inline const std::string kUpdater = std::string(VOICE_SOURCE_DIR) + "/tools/AutoUpdate.exe";
inline const std::string kCashierSim = std::string(VOICE_SOURCE_DIR) + "/tools/cashier_sim.py";

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline size_t CountOf(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

// The fake web API's one account. Its cashier address (the discard port)
// never answers, which only the link check notices.
inline const std::string kBossAccount =
    R"({"accounts": [{"user_name": "boss", "pwd": "secret", "id": "88",
        "realname": "一号店", "service_ip": "127.0.0.1", "service_port": 9}]})";

// One copy per machine: while someone else's copy runs (another test, a
// demo), ours would only be the second and leave at once. Waits a while for it.
inline bool NoOtherCopyRuns() {
    return WaitUntil(
        [] {
            SingleInstance probe;
            return probe.Acquire();
        },
        120);
}

// Root writes anywhere unless it gives up the right to: this prefix runs the
// program without it, as a store's user would run it. Empty for other users.
inline std::vector<std::string> ObeyPermissionsPrefix() {
    if (geteuid() != 0) {
        return {};
    }
    return {"setpriv", "--inh-caps=-dac_override,-dac_read_search",
            "--bounding-set=-dac_override,-dac_read_search"};
}

class ProgramFolder {
public:
    // Lays out the executable, the audio pack and the updater; false (with the
    // reason) when the build has not made them.
    bool LayOut(std::string* why) {
        if (!fs::exists(kProgram) || !fs::exists(kPack)) {
            *why = "build the Voice and audio_pack targets first";
            return false;
        }
        m_folder = fs::canonical(m_dir.Dir()).string();
        fs::copy_file(kProgram, m_dir.Executable());
        fs::copy_file(kPack, m_dir.File("Audio.zip"));
        fs::copy_file(kUpdater, m_dir.File("AutoUpdate.exe"));
        return true;
    }

    // Starts the program headless, its output in stdout.txt and stderr.txt.
    // `prefix` runs before it (a wrapper such as ObeyPermissionsPrefix()).
    bool Start(SpawnedProcess& program, const std::vector<std::string>& prefix = {},
               const std::map<std::string, std::string>& environment = {}) {
        SpawnedProcess::Options options;
        // PULSE_SERVER comes from PulseServer::Start, when a test started one.
        options.environment = {{"QT_QPA_PLATFORM", "offscreen"}, {"SDL_AUDIODRIVER", "pulseaudio"}};
        for (const auto& [name, value] : environment) {
            options.environment[name] = value;
        }
        options.stdoutPath = m_dir.File("stdout.txt");
        options.stderrPath = m_dir.File("stderr.txt");
        std::vector<std::string> argv = prefix;
        argv.push_back(m_dir.Executable());
        return program.Start(argv, options);
    }

    // Points the settings at the web API with every clip played logged
    // (debug=1) and saves the boss's login with automatic login on `port`, so
    // the program logs in and listens by itself. The settings text written.
    std::string SaveAutoLogin(const std::string& apiUrl, int port) {
        const std::string settings = "[WebSetting]\nUrl=" + apiUrl + "\ndebug=1\n";
        m_dir.Write("Setting.ini", settings);
        if (!SaveLoginRecord(0, true, "boss", "secret", "", std::to_string(port))) {
            return "(the saved login could not be written)";
        }
        return settings;
    }

    // Sends SIGTERM and tells how the program ended: "exit N" or "signal N".
    static std::string StopWithSigterm(SpawnedProcess& program) {
        const int status = program.Stop(SIGTERM);
        if (WIFEXITED(status)) {
            return "exit " + std::to_string(WEXITSTATUS(status));
        }
        return WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                   : "status " + std::to_string(status);
    }

    // The day's log files in the order they were written.
    std::string Logs() const {
        std::vector<fs::path> files;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_folder + "/log", error)) {
            files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        std::string text;
        for (const fs::path& file : files) {
            text += ReadFile(file.string());
        }
        return text;
    }

    // What the program printed: the same lines as its log.
    std::string Output() const { return m_dir.Read("stdout.txt"); }

    // Sends the messages with the cashier simulator and returns its replies.
    std::string Send(int port, const std::vector<std::string>& messages) const {
        std::string command = "python3 '" + kCashierSim + "' --port " + std::to_string(port);
        for (const std::string& message : messages) {
            command += " '" + message + "'";
        }
        command += " > '" + m_dir.File("replies.txt") + "'";
        if (std::system(command.c_str()) != 0) {
            return "(cashier simulator failed)";
        }
        return m_dir.Read("replies.txt");
    }

    TempProgramDir& Dir() { return m_dir; }
    const TempProgramDir& Dir() const { return m_dir; }
    // The folder with symbolic links resolved, as the program sees itself.
    const std::string& Path() const { return m_folder; }

private:
    TempProgramDir m_dir;
    std::string m_folder;
};

inline bool Listening(int port) {
    const int fd = ConnectLoopback(port);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

}  // namespace e2e
