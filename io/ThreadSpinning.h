// The OpenMP wait setting of the programs that run the detector live.
#pragma once

// OpenMP's default keeps idle workers spinning for milliseconds after every
// parallel region, on the core where the main thread goes on to decode and
// show the next frame, which makes two threads slower than one. Workers that
// sleep at once are no better: the main thread then sleeps at the end of the
// region too and waits to be woken. A short spin, about 0.1 ms, lets the
// threads meet at the end of a region and then frees the core.
//
// The runtime reads its setting from the environment only when it is loaded,
// before main, and the C library resets the environment after any earlier
// hook; so the program sets the variable and starts itself once more, with
// the same arguments. Call first thing in main. A wait policy or spin count
// set by the user is kept. If the restart fails, the program goes on with
// the runtime's defaults.
void restartWithShortSpinning(char** argv);
