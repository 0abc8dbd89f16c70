#include "support/PipeWireServer.h"

#include "support/PulseServer.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {
// The daemon named in the pid file runs (exists and is no zombie waiting to
// be reaped by whoever inherited it).
bool Alive(const std::string& pidFile) {
    std::ifstream in(pidFile);
    pid_t pid = 0;
    if (!(in >> pid) || pid <= 0) {
        return false;
    }
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

constexpr const char* kDaemons[] = {"pipewire", "wireplumber", "pipewire-pulse"};

// Runs a command to its end; its error output goes to `errors` when given.
bool Run(const std::vector<std::string>& argv, const std::string& errors = "") {
    SpawnedProcess process;
    SpawnedProcess::Options options;
    options.stderrPath = errors;
    return process.Start(argv, options) && process.Stop(0) == 0;
}

// Each daemon's output goes to a log of its own and its process id to a
// file, so that a fixture can tell which one gave up.
constexpr const char* kScript = R"(
cd "$VOICE_PW_DIR"
pipewire > pipewire.log 2>&1 &
echo $! > pipewire.pid
i=0
while [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done
wireplumber > wireplumber.log 2>&1 &
echo $! > wireplumber.pid
pipewire-pulse > pipewire-pulse.log 2>&1 &
echo $! > pipewire-pulse.pid
wait
)";
}  // namespace

PipeWireServer::PipeWireServer() {
    char pattern[] = "/tmp/voice-pipewire-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    m_folder = made != nullptr ? made : "";
}

PipeWireServer::~PipeWireServer() {
    Stop();
    if (!m_folder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_folder, error);
    }
}

std::string PipeWireServer::Address() const {
    return "unix:" + m_folder + "/run/pulse/native";
}

bool PipeWireServer::Start(std::string* why) {
    auto fail = [this, why](const std::string& reason) {
        *why = reason;
        Stop();
        return false;
    };
    for (const char* program : {"dbus-run-session", "pipewire", "wireplumber", "pipewire-pulse"}) {
        if (!Run({"sh", "-c", std::string("command -v ") + program + " > /dev/null"})) {
            return fail(std::string(program) + " is not installed (scripts/packages.txt)");
        }
    }
    if (m_folder.empty()) {
        return fail("no temporary folder");
    }
    const std::string run = m_folder + "/run";
    ::mkdir(run.c_str(), 0700);
    ::mkdir((m_folder + "/home").c_str(), 0700);
    SpawnedProcess::Options options;
    options.environment = {{"VOICE_PW_DIR", m_folder},
                           {"XDG_RUNTIME_DIR", run},
                           {"HOME", m_folder + "/home"},
                           {"XDG_CONFIG_HOME", m_folder + "/home/.config"},
                           {"XDG_STATE_HOME", m_folder + "/home/.local/state"},
                           {"XDG_DATA_HOME", m_folder + "/home/.local/share"}};
    options.stderrPath = m_folder + "/dbus-run-session.log";
    if (!m_session.Start({"dbus-run-session", "--", "sh", "-c", kScript}, options)) {
        return fail("dbus-run-session could not be started");
    }
    m_started = true;
    const std::string socketPath = run + "/pulse/native";
    for (int i = 0; i < 1000 && !CanConnectUnix(socketPath); ++i) {
        if (!m_session.Alive()) {
            return fail("the session ended; see " + m_folder + "/*.log");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!CanConnectUnix(socketPath)) {
        return fail("pipewire-pulse did not open its socket; see " + m_folder + "/*.log");
    }
    if (const char* previous = std::getenv("PULSE_SERVER"); previous != nullptr) {
        m_hadPreviousServer = true;
        m_previousServer = previous;
    }
    m_pointed = true;
    ::setenv("PULSE_SERVER", Address().c_str(), 1);
    const std::string errors = m_folder + "/pactl.log";
    // The socket opens before the server takes module requests, and the sink
    // is known by name a moment after it was loaded: each tried for a while.
    auto retried = [&errors](const std::vector<std::string>& argv) {
        for (int i = 0; i < 50; ++i) {
            if (Run(argv, errors)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    };
    if (!retried({"pactl", "load-module", "module-null-sink", std::string("sink_name=") + kSink}) ||
        !retried({"pactl", "set-default-sink", kSink})) {
        std::ifstream in(errors);
        std::string said;
        std::getline(in, said);
        return fail("the null sink could not be loaded through pipewire-pulse: " + said);
    }
    // Without WirePlumber no stream is linked and no level remembered.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (const char* daemon : kDaemons) {
        if (!Alive(m_folder + "/" + daemon + ".pid")) {
            return fail(std::string(daemon) + " ended; see " + m_folder + "/" + daemon + ".log");
        }
    }
    return true;
}

void PipeWireServer::Stop() {
    if (m_started && m_session.Pid() > 0) {
        // The whole stack is the session's process group (SpawnedProcess
        // gives each child one of its own).
        const pid_t group = m_session.Pid();
        ::kill(-group, SIGTERM);
        m_session.Stop(SIGTERM);
        // Gone before the folder they write into goes.
        auto anyAlive = [this] {
            return std::any_of(std::begin(kDaemons), std::end(kDaemons), [this](const char* name) {
                return Alive(m_folder + "/" + name + ".pid");
            });
        };
        for (int i = 0; i < 200 && anyAlive(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(-group, SIGKILL);
    }
    m_started = false;
    if (!m_pointed) {
        return;
    }
    m_pointed = false;
    if (m_hadPreviousServer) {
        ::setenv("PULSE_SERVER", m_previousServer.c_str(), 1);
    } else {
        ::unsetenv("PULSE_SERVER");
    }
}
