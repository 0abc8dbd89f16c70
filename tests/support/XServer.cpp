#include "support/XServer.h"

#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whether some client owns the selection `name` on the display (a window
// manager owns WM_S0, a compositing manager _NET_WM_CM_S0).
bool SelectionOwned(const std::string& display, const std::string& name) {
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    bool owned = false;
    if (!xcb_connection_has_error(connection)) {
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()),
            nullptr);
        if (atom) {
            xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
                connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
            owned = owner && owner->owner != XCB_WINDOW_NONE;
            free(owner);
            free(atom);
        }
    }
    xcb_disconnect(connection);
    return owned;
}

bool WaitFor(SpawnedProcess& process, const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ready()) {
            return true;
        }
        if (!process.Alive()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

XServer::~XServer() {
    Stop();
}

bool XServer::Start(const Options& options, std::string& error) {
    char folder[] = "/tmp/voice-xserver-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        error = "mkdtemp failed";
        return false;
    }
    m_folder = folder;
    const std::string number = m_folder + "/display";
    // Xvfb picks a free display itself and writes its number to the file.
    if (!m_server.Start({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten",
                         "tcp", "-noreset"},
                        {{}, "", number, m_folder + "/xvfb.log"})) {
        error = "Xvfb could not be started (is it installed?)";
        return false;
    }
    if (!WaitFor(m_server, [&] { return ReadText(number).find('\n') != std::string::npos; })) {
        error = "Xvfb did not start: " + ReadText(m_folder + "/xvfb.log");
        return false;
    }
    m_display = ":" + ReadText(number).substr(0, ReadText(number).find('\n'));
    const std::map<std::string, std::string> environment{{"DISPLAY", m_display}};
    if (options.windowManager) {
        if (!m_windowManager.Start({"openbox", "--sm-disable"},
                                   {environment, "", "", m_folder + "/openbox.log"}) ||
            !WaitFor(m_windowManager, [&] { return SelectionOwned(m_display, "WM_S0"); })) {
            error = "openbox did not take over: " + ReadText(m_folder + "/openbox.log");
            return false;
        }
    }
    if (options.compositor) {
        if (!m_compositor.Start({"xcompmgr"}, {environment, "", "", m_folder + "/xcompmgr.log"}) ||
            !WaitFor(m_compositor, [&] { return SelectionOwned(m_display, "_NET_WM_CM_S0"); })) {
            error = "xcompmgr did not take over: " + ReadText(m_folder + "/xcompmgr.log");
            return false;
        }
    }
    return true;
}

void XServer::Stop() {
    m_compositor.Stop();
    m_windowManager.Stop();
    m_server.Stop();
    if (!m_folder.empty()) {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
        m_folder.clear();
    }
}

std::map<std::string, std::string> XServer::Environment() const {
    return {{"DISPLAY", m_display}, {"QT_QPA_PLATFORM", "xcb"}};
}
