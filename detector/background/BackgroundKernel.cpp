// The kernels built for the target, in one table.
#include "detector/background/BackgroundKernel.h"

#include "detector/background/RowKernels.h"

namespace motion {

namespace {

bool always() {
    return true;
}

#if defined(__x86_64__)
bool hasAvx2() {
    __builtin_cpu_init(); // may run before the runtime's own constructors
    return __builtin_cpu_supports("avx2");
}
#endif

struct KernelEntry {
    BackgroundKernel kernel;
    RowUpdate update;
    bool (*runs)();
};

// The plain kernel first, the fastest last. ARM64 processors all have NEON.
const KernelEntry kernels[] = {
    {BackgroundKernel::plain, updateRowPlain, always},
#if defined(__x86_64__)
    {BackgroundKernel::sse2, updateRowSse2, always},
    {BackgroundKernel::avx2, updateRowAvx2, hasAvx2},
#elif defined(__aarch64__)
    {BackgroundKernel::neon, updateRowNeon, always},
#endif
};

const KernelEntry* find(BackgroundKernel kernel) {
    for (const KernelEntry& entry : kernels)
        if (entry.kernel == kernel) return &entry;
    return nullptr;
}

} // namespace

const std::vector<BackgroundKernel>& builtBackgroundKernels() {
    static const std::vector<BackgroundKernel> built = [] {
        std::vector<BackgroundKernel> list;
        for (const KernelEntry& entry : kernels) list.push_back(entry.kernel);
        return list;
    }();
    return built;
}

bool backgroundKernelRuns(BackgroundKernel kernel) {
    const KernelEntry* entry = find(kernel);
    return entry && entry->runs();
}

BackgroundKernel fastestBackgroundKernel() {
    static const BackgroundKernel fastest = [] {
        BackgroundKernel best = BackgroundKernel::plain;
        for (const KernelEntry& entry : kernels)
            if (entry.runs()) best = entry.kernel;
        return best;
    }();
    return fastest;
}

const char* backgroundKernelName(BackgroundKernel kernel) {
    static const char* const names[] = {"plain", "sse2", "avx2", "neon"}; // in the order of the enumeration
    return names[int(kernel)];
}

RowUpdate rowUpdateOf(BackgroundKernel kernel) {
    const KernelEntry* entry = find(kernel);
    return entry ? entry->update : nullptr;
}

} // namespace motion
