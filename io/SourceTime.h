// Comparing source times, in seconds.
//
// Source times come from rational stream positions through floating-point
// arithmetic (frame 3 of a 10 fps file sits at 0.30000000000000004 s); a
// microsecond of slack keeps a whole number of frame periods from falling
// just short of, or just beyond, a limit.
#pragma once

constexpr double sourceTimeSlack = 1e-6;

// Whether later is at least seconds after earlier.
inline bool atLeastApart(double later, double earlier, double seconds) {
    return later - earlier >= seconds - sourceTimeSlack;
}

// Whether later is at most seconds after earlier.
inline bool atMostApart(double later, double earlier, double seconds) {
    return later - earlier <= seconds + sourceTimeSlack;
}
