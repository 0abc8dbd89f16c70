#include "ui/WindowComposition.h"

#include <QGuiApplication>
#include <QString>

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace {

// The screen number of the X display, as in ":0.1"; 0 when not given.
int ScreenNumber() {
    const char* display = std::getenv("DISPLAY");
    if (!display) {
        return 0;
    }
    const std::string text(display);
    const auto colon = text.rfind(':');
    const auto dot = text.find('.', colon == std::string::npos ? 0 : colon);
    return dot == std::string::npos ? 0 : std::atoi(text.c_str() + dot + 1);
}

bool X11CompositorRuns() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) {
        return false;
    }
    // A compositing manager owns this selection for as long as it runs.
    const std::string name = "_NET_WM_CM_S" + std::to_string(ScreenNumber());
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (!atom) {
        return false;
    }
    const xcb_atom_t selection = atom->atom;
    free(atom);
    if (selection == XCB_ATOM_NONE) {
        return false;
    }
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
    return owned;
}

}  // namespace

bool CanComposeTranslucentWindows() {
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland"))) {
        return true;
    }
    if (platform == QLatin1String("xcb")) {
        return X11CompositorRuns();
    }
    return false;
}
