// Ending the watcher cleanly on the signals a user or a service manager sends.
//
// SIGINT (Ctrl+C), SIGTERM (a service manager, kill) and SIGHUP (the
// terminal closed) only raise a flag; the watcher's loop notices it, ends a
// running event as interrupted and finalises its files.
#pragma once

namespace watch {

// Installs the handler for SIGINT, SIGTERM and SIGHUP. Call once, early.
void installStopSignals();

// Whether one of those signals has arrived.
bool stopRequested();

// Writes to a pipe whose reader has gone (stdout piped into a program that
// ended, an event command that does not read its input) then fail instead of
// killing the watcher in the middle of a clip.
void ignoreBrokenPipe();

} // namespace watch
