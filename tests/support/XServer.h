#pragma once

#include "support/SpawnedProcess.h"

#include <map>
#include <string>

// A real X11 desktop for window tests: Xvfb on a free display, with a window
// manager (openbox: it stacks, focuses and raises windows as a desktop does)
// and, when asked, a compositing manager (xcompmgr). Stopped by Stop or the
// destructor.
class XServer {
public:
    struct Options {
        bool windowManager = true;
        bool compositor = false;
    };

    XServer() = default;
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // Starts the server and the managers and waits until each has taken
    // over; false with a reason.
    bool Start(const Options& options, std::string& error);
    void Stop();

    // DISPLAY and QT_QPA_PLATFORM=xcb.
    std::map<std::string, std::string> Environment() const;

private:
    SpawnedProcess m_server;
    SpawnedProcess m_windowManager;
    SpawnedProcess m_compositor;
    std::string m_folder;
    std::string m_display;
};
