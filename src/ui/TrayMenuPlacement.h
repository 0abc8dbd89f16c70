#pragma once

// Whether the desktop opens the tray icon's menu itself. A StatusNotifier tray
// (every Wayland desktop with a tray, and X11 desktops that offer one) shows
// the menu the icon hands it; a menu the program opened at the cursor might
// never show there. Only the XEmbed tray of X11 leaves placing it to the
// program. Decided the way the toolkit picks its tray: a StatusNotifier host
// on the session bus wins.
bool DesktopPlacesTrayMenus();
