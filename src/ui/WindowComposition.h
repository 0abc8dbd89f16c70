#pragma once

// Whether the desktop composes translucent windows, so that a window may draw
// its own rounded corners and shadow: always on Wayland, on X11 only while a
// compositing manager runs. Elsewhere (offscreen, a bare X server) windows keep
// their square look.
bool CanComposeTranslucentWindows();
