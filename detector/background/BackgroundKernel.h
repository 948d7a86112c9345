// The code that updates the background models a row at a time: a plain one
// that takes the pixels one by one and runs everywhere, and vector ones for
// the processors the library is built for (SSE2 and AVX2 on x86-64, NEON on
// 64-bit ARM). Every kernel gives the same models and mask bit for bit, on
// one thread or many. Each detector uses the fastest one the processor has;
// tests and the regression driver choose others (BackgroundModel::useKernel)
// to show that they agree.
#pragma once

#include <vector>

namespace motion {

enum class BackgroundKernel {
    plain, // one pixel at a time, the steps exactly as the model defines them
    sse2,  // four pixels per step: any x86-64 processor
    avx2,  // eight pixels per step
    neon,  // four pixels per step: any 64-bit ARM processor
};

// The kernels built for this target, the plain one first and the fastest
// last, including those this processor lacks the instructions for.
const std::vector<BackgroundKernel>& builtBackgroundKernels();

// Whether this processor can run the kernel; false for one not built.
bool backgroundKernelRuns(BackgroundKernel kernel);

// The last built kernel that this processor runs.
BackgroundKernel fastestBackgroundKernel();

// "plain", "sse2", "avx2" or "neon".
const char* backgroundKernelName(BackgroundKernel kernel);

} // namespace motion
