#pragma once

#include "support/SpawnedProcess.h"

#include <map>
#include <string>

// A real Wayland desktop for window tests: weston's headless backend with its
// desktop shell, in a runtime folder of its own (so it runs as root beside any
// other session), with the pixman renderer and --debug so that its screenshot
// protocol can be used. Stopped and its folder removed by Stop or the destructor.
class Weston {
public:
    Weston() = default;
    ~Weston();
    Weston(const Weston&) = delete;
    Weston& operator=(const Weston&) = delete;

    // Starts weston and waits until its socket takes clients; false with a reason.
    bool Start(std::string& error);
    void Stop();

    // What a client needs to reach it: XDG_RUNTIME_DIR, WAYLAND_DISPLAY and
    // QT_QPA_PLATFORM=wayland.
    std::map<std::string, std::string> Environment() const;

    // Saves the whole output as a PNG to `path` with weston's screenshooter,
    // from the environment of this process (which must reach the compositor).
    static bool Screenshot(const std::string& path);

private:
    SpawnedProcess m_process;
    std::string m_runtimeDir;
};
