// Ending a program cleanly on the signals a user or a service manager sends.
//
// SIGINT (Ctrl+C), SIGTERM (a service manager, kill) and SIGHUP (the
// terminal closed) only raise a flag; the program's own loop notices it and
// ends the way its quit key does, so that files being written are finalised.
// Further signals while the program ends only raise the flag again.
#pragma once

#include <functional>

// Installs the handler for SIGINT, SIGTERM and SIGHUP. Call once, early.
void installStopSignals();

// Whether one of those signals has arrived. Cheap enough to ask every pass.
bool stopRequested();

// Writes to a console or pipe that has gone away (the terminal closed, the
// reader ended) then fail instead of killing the program with SIGPIPE, which
// could strike in the middle of finalising a recording.
void ignoreBrokenPipe();

// The window toolkit ends the process with exit(1) when its display goes
// away (the X server stopped, a remote session dropped), from inside a key
// poll the program's loop cannot see coming. While a guard lives, such an
// exit first runs `finish` (finalising a recording, say) and then ends the
// process with status 255, as every other ending of the live program does.
// Guards do not nest; the destructor disarms the guard, so an ordinary end
// of the program is left alone.
class ExitGuard {
public:
    explicit ExitGuard(std::function<void()> finish);
    ~ExitGuard();
    ExitGuard(const ExitGuard&) = delete;
    ExitGuard& operator=(const ExitGuard&) = delete;
};
