#pragma once
// Whether a window can be shown, decided by reaching a display server rather
// than by a variable being set: a DISPLAY left over from an ended session, or
// one that names a machine that is gone, must not send a headless process into
// a toolkit that aborts when it cannot connect.

#include <optional>
#include <string>

namespace vorn {

// The Qt platform plugin that can show windows here: the one QT_QPA_PLATFORM
// names when it needs no display server (offscreen, minimal, ...) or its
// server answers; otherwise "xcb" or "wayland" for a server that accepts a
// connection (X first when both do). nullopt when none can.
std::optional<std::string> ReachableDisplayPlatform();

// The socket checks on their own, for tests: true when a display server
// accepts a connection at the address DISPLAY (":0", "unix:1", "host:0.0")
// or WAYLAND_DISPLAY ("wayland-0" under `runtimeDir`, or an absolute path) names.
bool CanReachX11Display(const std::string& display);
bool CanReachWaylandDisplay(const std::string& display, const std::string& runtimeDir);

}  // namespace vorn
