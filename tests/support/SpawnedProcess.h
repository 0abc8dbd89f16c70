#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

// A child process for tests (an audio daemon, a player, a recorder): started
// from an argument list without a shell, with extra environment variables and
// optional stdin/stdout files; killed and reaped by Stop or the destructor.
class SpawnedProcess {
public:
    struct Options {
        std::map<std::string, std::string> environment;  // added to or replacing ours
        std::string stdinPath;                           // empty: /dev/null
        std::string stdoutPath;                          // empty: /dev/null
        std::string stderrPath;                          // empty: /dev/null
    };

    SpawnedProcess() = default;
    ~SpawnedProcess();
    SpawnedProcess(const SpawnedProcess&) = delete;
    SpawnedProcess& operator=(const SpawnedProcess&) = delete;

    // False when the program could not be started.
    bool Start(const std::vector<std::string>& argv, const Options& options);
    // Still running (not yet exited)?
    bool Alive();
    // Sends the signal, waits for the exit and returns the wait status (-1: none);
    // for a process that already ended (seen by Alive), its status.
    int Stop(int signal = 15);
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_endStatus = -1;
};
