#include "app/Display.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool xServerAnswers() {
    if (environment("DISPLAY").empty()) return false;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    XCloseDisplay(display);
    return true;
}

// The toolkit picks Wayland by itself in a session that says it is one
// (on some desktops it prefers X even then, which xServerAnswers covers).
bool waylandSession() {
    return environment("XDG_SESSION_TYPE") == "wayland" && !environment("WAYLAND_DISPLAY").empty();
}

bool otherPlatformRequested() {
    const std::string platform = environment("QT_QPA_PLATFORM");
    return !platform.empty() && platform.rfind("xcb", 0) != 0;
}

} // namespace

bool displayReachable() {
    return otherPlatformRequested() || xServerAnswers() || waylandSession();
}
