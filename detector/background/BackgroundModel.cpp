// The background model's lifetime and the update's rows, on the calling
// thread or shared by an OpenMP team; the kernels that update a row are in
// PlainKernel.cpp and VectorKernel.cpp.
#include "detector/background/BackgroundModel.h"

#include "detector/background/RowKernels.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace motion {

namespace {

// Rows are updated, and their runs listed, a block at a time.
constexpr int rowsPerBlock = 8;

int blocksOf(int rows) {
    return (rows + rowsPerBlock - 1) / rowsPerBlock;
}

// A block of rows in a parallel update: not taken yet, being updated, done.
enum BlockState : uint8_t { freeBlock, takenBlock, doneBlock };

// Tells the processor that this thread waits in a loop, so that it leaves
// the core to its sibling and spends less power.
inline void pauseWhileWaiting() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

} // namespace

void BackgroundModel::resize(int scaledWidth, int scaledHeight) {
    release();
    try {
        store.allocate(scaledWidth, scaledHeight);
        motionMask.reset(new uint8_t[size_t(int64_t{scaledWidth} * scaledHeight)]());
        runs.resize(scaledHeight);
        blockState.reset(new std::atomic<uint8_t>[size_t(blocksOf(scaledHeight))]);
    } catch (...) {
        release();
        throw;
    }
    gridWidth = scaledWidth;
    gridHeight = scaledHeight;
}

void BackgroundModel::release() {
    store.release();
    motionMask.reset();
    runs.release();
    blockState.reset();
    gridWidth = gridHeight = 0;
}

bool BackgroundModel::useKernel(BackgroundKernel kernel) {
    if (!backgroundKernelRuns(kernel)) return false;
    kernelInUse = kernel;
    return true;
}

void BackgroundModel::clear() {
    relearnRun = 0;
    if (!allocated()) return;
    store.clear();
    clearMask();
}

void BackgroundModel::update(const uint8_t* scaledFrame, const uint8_t* regionMask,
                             const BackgroundSettings& settings, const RowsReady& rowsReady) {
    if (settings.lightingChangeFraction > 0) {
        learn(scaledFrame, regionMask, settings, {}); // a change of light may yet empty the mask
        relearnIfLightChanged(scaledFrame, regionMask, settings);
    } else {
        learn(scaledFrame, regionMask, settings, rowsReady);
    }
}

void BackgroundModel::learn(const uint8_t* scaledFrame, const uint8_t* regionMask,
                            const BackgroundSettings& settings, const RowsReady& rowsReady) {
    // The team's size is given to each parallel region: setting it for the
    // process would change it for the host's own regions too.
    const int team = settings.threads > 0 ? settings.threads : omp_get_max_threads();
    BackgroundSettings run = settings;
    // Every model of a blank store is all zero. Such a model, updated with n
    // slots, matches none, takes the value into its last slot, which then
    // ranks ahead of every empty slot: it ends with the value in slot 0,
    // slots 1..n-1 still zero and no motion, bit for bit what one slot
    // gives. So that frame runs with one slot and streams plane 0 alone; the
    // flags it leaves hold for n slots as well (zero slots rank in order and
    // below any rate that learns).
    if (store.reserve(settings.components, static_cast<float>(settings.alphaCoeff), team))
        run.components = 1;
    runs.startFrame(blocksOf(gridHeight));
    if (run.threads == 1)
        updateRows(scaledFrame, regionMask, run, 0, gridHeight);
    else
        updateParallel(scaledFrame, regionMask, run, team, rowsReady);
}

void BackgroundModel::updateParallel(const uint8_t* scaledFrame, const uint8_t* regionMask,
                                     const BackgroundSettings& settings, int team, const RowsReady& rowsReady) {
    // The rows are cut into four stretches per thread, handed out in order
    // as threads come free; a thread works through its stretch's blocks from
    // the top, and once no stretch is left it helps with the others, from
    // their bottom up, until it meets their owners. Threads taking turns on
    // neighbouring blocks took a third more time each (every core's
    // prefetching ran into rows the other core was writing); this way they
    // stay a stretch apart until they meet. The first stretches are done
    // early, so the rows handed on follow the work closely. A thread that
    // starts late, or shares its core with other work, ends up with less
    // work instead of holding up the others.
    const int blocks = blocksOf(gridHeight);
    const int stretches = std::max(1, std::min(blocks, 4 * team));
    const auto stretchStart = [&](int k) { return int(int64_t{blocks} * k / stretches); };
    nextStretch.store(0, std::memory_order_relaxed);
    for (int block = 0; block < blocks; ++block) blockState[block].store(freeBlock, std::memory_order_relaxed);
#pragma omp parallel num_threads(team)
    {
        // The calling thread hands on the rows finished from the top, after
        // each of its own blocks and then until the others finish theirs.
        int finished = 0; // blocks from the first, as it last saw them
        const auto handOn = [&] {
            const int before = finished;
            while (finished < blocks && blockState[finished].load(std::memory_order_acquire) == doneBlock) ++finished;
            if (finished > before) rowsReady(std::min(gridHeight, finished * rowsPerBlock));
        };
        const bool handsOn = omp_get_thread_num() == 0 && rowsReady;
        const auto take = [&](int block) {
            uint8_t expected = freeBlock;
            return blockState[block].compare_exchange_strong(expected, takenBlock, std::memory_order_relaxed);
        };
        const auto update = [&](int block) {
            updateRows(scaledFrame, regionMask, settings, block * rowsPerBlock,
                       std::min(gridHeight, (block + 1) * rowsPerBlock));
            blockState[block].store(doneBlock, std::memory_order_release);
            if (handsOn) handOn();
        };
        for (int k; (k = nextStretch.fetch_add(1, std::memory_order_relaxed)) < stretches;)
            for (int block = stretchStart(k); block < stretchStart(k + 1) && take(block); ++block) update(block);
        for (int k = 0; k < stretches; ++k)
            for (int block = stretchStart(k + 1) - 1; block >= stretchStart(k) && take(block); --block) update(block);
        while (handsOn && finished < blocks) {
            pauseWhileWaiting();
            handOn();
        }
    }
}

void BackgroundModel::updateRows(const uint8_t* scaledFrame, const uint8_t* regionMask,
                                 const BackgroundSettings& settings, int firstRow, int endRow) {
    const float alpha = static_cast<float>(settings.alphaCoeff);
    const UpdateParams u{alpha, static_cast<float>(settings.pixelDeviation * settings.pixelDeviation),
                         1.0f / (alpha + 1.0f), settings.components};
    // A rate whose reciprocal overflows (0 included) would normalise the
    // first frame's weights to infinity or NaN; such a model cannot learn, so
    // it stays as it is and every pixel counts as background.
    if (!std::isfinite(1.0f / alpha)) {
        const int64_t first = int64_t{firstRow} * gridWidth;
        std::memset(motionMask.get() + first, 0, size_t(int64_t{endRow} * gridWidth - first));
        for (int row = firstRow; row < endRow; ++row) runs.clearRow(row);
        return;
    }
    const RowUpdate update = rowUpdateOf(kernelInUse);
    for (int row = firstRow; row < endRow; ++row) {
        const int64_t offset = int64_t{row} * gridWidth;
        RowJob job{{}, {}, store.rowInitialized(row), store.rowOrdered(row), store.rowLiveBound(row),
                   scaledFrame + offset, regionMask ? regionMask + offset : nullptr, motionMask.get() + offset,
                   gridWidth};
        for (int k = 0; k < settings.components; ++k) {
            job.ranks[k] = store.rankRow(k, row);
            job.means[k] = store.meanRow(k, row);
        }
        update(job, u);
        runs.findRow(row, job.mask, job.frame, gridWidth, row / rowsPerBlock);
    }
}

} // namespace motion
