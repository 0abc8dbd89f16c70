#include "support/SpawnedProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

SpawnedProcess::~SpawnedProcess() {
    Stop();
}

bool SpawnedProcess::Start(const std::vector<std::string>& argv, const Options& options) {
    if (m_pid > 0 || argv.empty()) {
        return false;
    }
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr) {
            merged[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
        }
    }
    for (const auto& [name, value] : options.environment) {
        merged[name] = value;
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : merged) {
        envText.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& text : envText) {
        envp.push_back(text.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& arg : args) {
        argp.push_back(arg.data());
    }
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    auto path = [](const std::string& p) { return p.empty() ? std::string("/dev/null") : p; };
    posix_spawn_file_actions_addopen(&actions, 0, path(options.stdinPath).c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, path(options.stdoutPath).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, path(options.stderrPath).c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so a stop signal reaches nothing else of ours.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        return false;
    }
    m_pid = pid;
    m_endStatus = -1;
    return true;
}

bool SpawnedProcess::Alive() {
    if (m_pid <= 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        m_endStatus = status;
        return false;
    }
    return true;
}

int SpawnedProcess::Stop(int signal) {
    if (m_pid <= 0) {
        return m_endStatus;
    }
    ::kill(m_pid, signal);
    int status = 0;
    // A child that ignores the signal is killed after a while rather than
    // hanging the test run.
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return status;
        }
        ::usleep(10000);
    }
    ::kill(m_pid, SIGKILL);
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    return status;
}
