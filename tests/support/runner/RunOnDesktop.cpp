// Runs a command on a desktop of its own and takes the desktop down after it:
//   RunOnDesktop wayland|x11|x11-composited -- COMMAND [ARGS...]
// so that the window tests and the screenshots run on a real compositor or
// X server with a window manager, not only offscreen. Exits with the
// command's status.

#include "support/Weston.h"
#include "support/XServer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
        std::fprintf(stderr, "usage: %s wayland|x11|x11-composited -- COMMAND [ARGS...]\n",
                     argv[0]);
        return 2;
    }
    const std::string desktop = argv[1];
    Weston weston;
    XServer x11;
    std::string error;
    std::map<std::string, std::string> environment;
    if (desktop == "wayland") {
        if (!weston.Start(error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        environment = weston.Environment();
        // An X server of the caller must not be used instead.
        unsetenv("DISPLAY");
    } else if (desktop == "x11" || desktop == "x11-composited") {
        if (!x11.Start({true, desktop == "x11-composited"}, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        environment = x11.Environment();
        unsetenv("WAYLAND_DISPLAY");
    } else {
        std::fprintf(stderr, "unknown desktop: %s\n", desktop.c_str());
        return 2;
    }
    // Tests that expect something of a particular desktop ask for its name.
    setenv("VOICE_TEST_DESKTOP", desktop.c_str(), 1);
    for (const auto& [name, value] : environment) {
        setenv(name.c_str(), value.c_str(), 1);
    }
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[3], argv + 3);
        std::perror(argv[3]);
        _exit(127);
    }
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0) {
    }
    if (child < 0) {
        return 1;
    }
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "%s ended by signal %d\n", argv[3], WTERMSIG(status));
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}
