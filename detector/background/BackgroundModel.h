// The background model stage: a mixture of Gaussians per scaled pixel,
// updated by every scaled frame, deciding per pixel whether it shows motion.
#pragma once

#include "detector/background/PixelModelStore.h"

#include <cstdint>
#include <memory>

namespace motion {

// The parameters an update reads.
struct BackgroundSettings {
    double alphaCoeff;     // learning rate
    double pixelDeviation; // grey levels: its square is the variance floor
    int32_t components;    // Gaussians in use per pixel, 1..PixelModel::capacity
    int32_t threads;       // 1: on the calling thread; otherwise an OpenMP team (0: the runtime's size)
};

class BackgroundModel {
public:
    // Replaces the models and the mask with empty ones for a scaledWidth x
    // scaledHeight grid. Allocation failure propagates and leaves nothing
    // allocated.
    void resize(int scaledWidth, int scaledHeight);
    void release();
    // Empties every model and clears the mask, keeping the buffers.
    void clear();
    bool allocated() const { return store.allocated(); }

    // Updates every model with its pixel of the scaled frame and writes the
    // mask (255 motion, 0 background). regionMask, when not null, holds a
    // byte per pixel; pixels at 0 keep their models and count as background.
    void update(const uint8_t* scaledFrame, const uint8_t* regionMask, const BackgroundSettings& settings);

    const uint8_t* mask() const { return motionMask.get(); }
    int width() const { return gridWidth; }
    int height() const { return gridHeight; }

    // One pixel's model as a record, index = row * width + column.
    PixelModel model(int64_t index) const { return store.get(index); }
    void setModel(int64_t index, const PixelModel& pixelModel) { store.set(index, pixelModel); }

private:
    void updateParallel(const uint8_t* scaledFrame, const uint8_t* regionMask, const BackgroundSettings& settings);
    void updateRows(const uint8_t* scaledFrame, const uint8_t* regionMask, const BackgroundSettings& settings,
                    int firstRow, int endRow);

    PixelModelStore store;
    std::unique_ptr<uint8_t[]> motionMask;
    int gridWidth = 0;
    int gridHeight = 0;
};

} // namespace motion
