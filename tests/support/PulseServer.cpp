#include "support/PulseServer.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <csignal>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

bool CanConnectUnix(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

namespace {
std::uintmax_t FileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}
}  // namespace

PulseServer::PulseServer() {
    char pattern[] = "/tmp/voice-pulse-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    m_folder = made != nullptr ? made : "";
}

PulseServer::~PulseServer() {
    Stop();
    if (!m_folder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_folder, error);
    }
}

std::string PulseServer::Address() const {
    return "unix:" + m_folder + "/native";
}

bool PulseServer::Start(std::string* error) {
    auto fail = [error](const std::string& why) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    };
    if (m_folder.empty()) {
        return fail("no temporary folder");
    }
    ::mkdir((m_folder + "/runtime").c_str(), 0700);
    ::mkdir((m_folder + "/state").c_str(), 0700);
    SpawnedProcess::Options options;
    options.environment = {{"PULSE_RUNTIME_PATH", m_folder + "/runtime"},
                           {"PULSE_STATE_PATH", m_folder + "/state"},
                           {"HOME", m_folder}};
    options.stderrPath = m_folder + "/daemon.log";
    const std::string socketPath = m_folder + "/native";
    // module-stream-restore as every desktop loads it: the server remembers
    // each program's level, and setting a stream's level through the client
    // API changes what it remembers.
    const std::vector<std::string> argv = {
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--disallow-exit",
        "--use-pid-file=no",
        "--system=false",
        "--realtime=no",
        "--high-priority=no",
        "--log-target=stderr",
        "-L",
        std::string("module-null-sink sink_name=") + kSink,
        "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + socketPath,
        "-L",
        "module-stream-restore"};
    if (!m_daemon.Start(argv, options)) {
        return fail("pulseaudio could not be started");
    }
    for (int i = 0; i < 1000 && !CanConnectUnix(socketPath); ++i) {
        if (!m_daemon.Alive()) {
            return fail("pulseaudio ended; see " + m_folder + "/daemon.log");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!CanConnectUnix(socketPath)) {
        Stop();
        return fail("pulseaudio did not open its socket");
    }
    if (const char* previous = std::getenv("PULSE_SERVER"); previous != nullptr) {
        m_hadPreviousServer = true;
        m_previousServer = previous;
    }
    ::setenv("PULSE_SERVER", Address().c_str(), 1);
    return true;
}

void PulseServer::Stop() {
    StopWith(SIGTERM);
}

void PulseServer::Kill() {
    StopWith(SIGKILL);
}

bool PulseServer::Restart(std::chrono::milliseconds down, std::string* error) {
    const std::string address = Address();
    const bool hadPrevious = m_hadPreviousServer;
    const std::string previous = m_previousServer;
    Kill();
    ::setenv("PULSE_SERVER", address.c_str(), 1);
    std::this_thread::sleep_for(down);
    const bool started = Start(error);
    // What Stop gives back is what was there before the first start.
    m_hadPreviousServer = hadPrevious;
    m_previousServer = previous;
    return started;
}

void PulseServer::StopWith(int signal) {
    m_recorder.Stop(SIGINT);
    if (m_daemon.Pid() > 0) {
        Thaw();
        m_daemon.Stop(signal);
        if (m_hadPreviousServer) {
            ::setenv("PULSE_SERVER", m_previousServer.c_str(), 1);
        } else {
            ::unsetenv("PULSE_SERVER");
        }
    }
}

void PulseServer::Freeze() {
    if (m_daemon.Pid() > 0) {
        ::kill(m_daemon.Pid(), SIGSTOP);
    }
}

void PulseServer::Thaw() {
    if (m_daemon.Pid() > 0) {
        ::kill(m_daemon.Pid(), SIGCONT);
    }
}

bool PulseServer::StartRecording() {
    m_recordPath = m_folder + "/monitor.raw";
    SpawnedProcess::Options options;
    options.stdoutPath = m_recordPath;
    const std::vector<std::string> argv = {"parec",
                                           "--raw",
                                           std::string("--device=") + kSink + ".monitor",
                                           "--format=s16le",
                                           "--rate=" + std::to_string(kRecordRate),
                                           "--channels=1",
                                           "--latency-msec=20"};
    if (!m_recorder.Start(argv, options)) {
        return false;
    }
    // The monitor delivers silence while nothing plays, so data in the file
    // means the recorder is connected.
    for (int i = 0; i < 1000 && FileSize(m_recordPath) == 0; ++i) {
        if (!m_recorder.Alive()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return FileSize(m_recordPath) > 0;
}

std::vector<int16_t> PulseServer::StopRecording() {
    m_recorder.Stop(SIGINT);
    std::ifstream in(m_recordPath, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

double SoundingSeconds(const std::vector<int16_t>& samples, double threshold) {
    constexpr size_t kFrame = PulseServer::kRecordRate / 100;
    long first = -1;
    long last = -1;
    for (size_t frame = 0; (frame + 1) * kFrame <= samples.size(); ++frame) {
        double sum = 0;
        for (size_t i = frame * kFrame; i < (frame + 1) * kFrame; ++i) {
            sum += double(samples[i]) * samples[i];
        }
        if (std::sqrt(sum / kFrame) > threshold) {
            if (first < 0) {
                first = static_cast<long>(frame);
            }
            last = static_cast<long>(frame);
        }
    }
    return first < 0 ? 0.0 : double(last - first + 1) / 100.0;
}
