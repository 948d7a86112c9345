// Ending a program cleanly on the signals a user or a service manager sends.
//
// SIGINT (Ctrl+C), SIGTERM (a service manager, kill) and SIGHUP (the
// terminal closed) only raise a flag; the program's own loop notices it and
// ends the way its quit key does, so that files being written are finalised.
// Further signals while the program ends only raise the flag again.
#pragma once

// Installs the handler for SIGINT, SIGTERM and SIGHUP. Call once, early.
void installStopSignals();

// Whether one of those signals has arrived. Cheap enough to ask every pass.
bool stopRequested();

// Writes to a console or pipe that has gone away (the terminal closed, the
// reader ended) then fail instead of killing the program with SIGPIPE, which
// could strike in the middle of finalising a recording.
void ignoreBrokenPipe();
