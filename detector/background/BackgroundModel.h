// The background model stage: a mixture of Gaussians per scaled pixel,
// updated by every scaled frame, deciding per pixel whether it shows motion.
#pragma once

#include "detector/background/BackgroundKernel.h"
#include "detector/background/PixelModelStore.h"
#include "detector/blobs/MotionRuns.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace motion {

class ToneCurve;

// The parameters an update reads.
struct BackgroundSettings {
    double alphaCoeff;     // learning rate
    double pixelDeviation; // grey levels: its square is the variance floor
    int32_t components;    // Gaussians in use per pixel, 1..PixelModel::capacity
    int32_t threads;       // 1: on the calling thread; otherwise an OpenMP team of this size (0: the size
                           // a region of the host gets); the host's OpenMP settings stay as they are
    // A frame with more than this share of the watched pixels in motion is
    // taken as a change of light (0: never), and relearned on at most
    // relearnRunLimit frames in a row.
    double lightingChangeFraction;
    int32_t relearnRunLimit;
};

// Told how many rows of the mask, from the first, and of their runs are
// final while the update still works on the others.
using RowsReady = std::function<void(int rows)>;

class BackgroundModel {
public:
    // Replaces the models and the mask with empty ones for a scaledWidth x
    // scaledHeight grid. Allocation failure propagates and leaves nothing
    // allocated.
    void resize(int scaledWidth, int scaledHeight);
    void release();
    // Empties every model and clears the mask, keeping the grid.
    void clear();
    bool allocated() const { return store.allocated(); }

    // The kernel that updates the rows: the fastest this processor runs,
    // unless another is chosen. Returns false, changing nothing, when the
    // processor cannot run it. Not while an update runs.
    bool useKernel(BackgroundKernel kernel);

    // Updates every model with its pixel of the scaled frame and writes the
    // mask (255 motion, 0 background). regionMask, when not null, holds a
    // byte per pixel; pixels at 0 keep their models and count as background.
    //
    // A change of light: when more than settings.lightingChangeFraction of
    // the watched pixels are motion, the frame is taken in at once and the
    // mask is empty. If one rising tone curve, fitted from the watched
    // pixels' first components to the frame, leaves no more than that share
    // of them unmatched, the means of their components are moved along it;
    // otherwise their models are learned afresh from this frame, exactly as
    // after clear(). The next frames are taken in alike while they stay
    // above the fraction, but no more than settings.relearnRunLimit in a
    // row; after that the models learn as usual until a frame is at or below
    // the fraction again.
    //
    // rowsReady, when given, is called on the calling thread while an OpenMP
    // team updates the rows, each time more rows from the first are final,
    // so that later stages can start on them; it must not throw. It is not
    // called on one thread, nor while a change of light may still empty the
    // mask: the rows are then final when update returns.
    void update(const uint8_t* scaledFrame, const uint8_t* regionMask, const BackgroundSettings& settings,
                const RowsReady& rowsReady = {});

    const uint8_t* mask() const { return motionMask.get(); }
    // The runs of motion of each row of the mask, with their grey sums.
    // Found by the update while each row is fresh in the cache, on the
    // threads that wrote it, so that blob extraction need not read the mask.
    const MotionRuns& motionRuns() const { return runs; }
    int width() const { return gridWidth; }
    int height() const { return gridHeight; }

    // One pixel's model as a record, index = row * width + column.
    PixelModel model(int64_t index) const { return store.get(index); }
    void setModel(int64_t index, const PixelModel& pixelModel) { store.set(index, pixelModel); }

private:
    void learn(const uint8_t* scaledFrame, const uint8_t* regionMask, const BackgroundSettings& settings,
               const RowsReady& rowsReady);
    // Defined with the relearning, in LightingChange.cpp.
    void relearnIfLightChanged(const uint8_t* scaledFrame, const uint8_t* regionMask,
                               const BackgroundSettings& settings);
    template <typename Visit>
    void forEachWatched(const uint8_t* regionMask, Visit visit) const;
    bool fitToneCurve(const uint8_t* scaledFrame, const uint8_t* regionMask, ToneCurve& curve) const;
    int64_t unexplainedCount(const uint8_t* scaledFrame, const uint8_t* regionMask, const ToneCurve& curve) const;
    void moveModels(const ToneCurve& curve, const uint8_t* regionMask, int components);
    void emptyModels(const uint8_t* regionMask);
    void clearMask();

    void updateParallel(const uint8_t* scaledFrame, const uint8_t* regionMask, const BackgroundSettings& settings,
                        int team, const RowsReady& rowsReady);
    void updateRows(const uint8_t* scaledFrame, const uint8_t* regionMask, const BackgroundSettings& settings,
                    int firstRow, int endRow);

    BackgroundKernel kernelInUse = fastestBackgroundKernel();
    PixelModelStore store;
    // In a parallel update: the next stretch of rows to hand out, on a cache
    // line of its own, and the state of each block of rows.
    alignas(64) std::atomic<int> nextStretch{0};
    std::unique_ptr<std::atomic<uint8_t>[]> blockState;
    std::unique_ptr<uint8_t[]> motionMask;
    MotionRuns runs;
    int gridWidth = 0;
    int gridHeight = 0;
    int32_t relearnRun = 0; // frames relearned in a row, ending with the last frame
};

} // namespace motion
