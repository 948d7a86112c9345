// Whether the windows can be shown at all.
//
// Without a display the toolkit prints its own plugin text and aborts the
// process the moment the first window is made. Asking first lets the
// program end with one line of its own instead.
#pragma once

// The line printed when displayReachable() says no.
constexpr const char* noDisplayMessage = "No display: run this program in a desktop session, or see scripts/demo.sh";

// True when the X server named by DISPLAY accepts a connection, when a
// Wayland session is running that the toolkit picks on its own, or when
// QT_QPA_PLATFORM asks the toolkit for a platform other than X (its choice
// is then trusted).
bool displayReachable();
