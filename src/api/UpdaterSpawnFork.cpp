#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "api/UpdaterSpawn.h"

void SpawnUpdater(const std::string& program, const std::string& address) {
    // A missing updater is no error worth a line: the program simply runs on.
    if (::access(program.c_str(), X_OK) != 0) {
        return;
    }
    // Everything the child needs is built before the fork: after it, in a
    // threaded process, only async-signal-safe calls are allowed.
    std::string argument = address;
    std::string pid = std::to_string(::getpid());
    std::string start = "start";
    std::string name = program;
    std::vector<char*> argv = {name.data(), start.data(), argument.data(), pid.data(), nullptr};

    // Double fork: the updater is adopted by init, so it is never waited for and
    // never left as a zombie of ours; only the short-lived middle child is reaped.
    const pid_t middle = ::fork();
    if (middle < 0) {
        return;
    }
    if (middle == 0) {
        if (::fork() == 0) {
            ::setsid();
            // The updater must not hold our sockets (the listening port) open.
            ::close_range(3, ~0U, 0);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
}
