// Choice of the vector code that runs the background update. The fastest
// one the processor supports is chosen at start-up; every choice gives the
// same result bit for bit. Switching exists so that tests can cover the
// baseline code on processors that would otherwise never run it. Not
// thread-safe: switch only while no update runs.
#pragma once

namespace motion {

enum class BackgroundKernel {
    baseline, // SSE2, four pixels per step: any x86-64 processor
    avx2,     // eight pixels per step
};

// Returns false, changing nothing, when the processor lacks the kernel's
// instructions.
bool selectBackgroundKernel(BackgroundKernel kernel);

} // namespace motion
