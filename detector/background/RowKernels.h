// What the background update hands a kernel (see BackgroundKernel.h): the
// pixels of one row, their models in the store's layout with the flags kept
// beside them (see PixelModelStore.h), and the parameters of the frame.
#pragma once

#include "detector/background/BackgroundKernel.h"
#include "detector/background/PixelModel.h"
#include "detector/background/PixelModelStore.h"

#include <cstdint>

namespace motion {

struct UpdateParams {
    float alpha;
    float minVariance;
    float matchedScale; // 1 / (alpha + 1): the normalisation after a match
    int components;
};

// The pixels of one row, from its first group.
struct RowJob {
    PixelModelStore::RankGroup* ranks[PixelModel::capacity]; // of component k in the row; the first n are set
    float* means[PixelModel::capacity];
    uint8_t* initialized;
    uint8_t* ordered;
    uint8_t* liveBound;
    const uint8_t* frame;
    const uint8_t* regionMask; // null: every pixel included
    uint8_t* mask;
    int width;
};

// Updates the first u.components slots of every included pixel's model with
// its grey value, its flags with them, and writes its mask byte (255 motion,
// 0 background); excluded pixels keep their models and are background.
using RowUpdate = void (*)(const RowJob& job, const UpdateParams& u);

RowUpdate rowUpdateOf(BackgroundKernel kernel);

// The kernels' entry points, each defined where the kernel is.
void updateRowPlain(const RowJob& job, const UpdateParams& u);
#if defined(__x86_64__)
void updateRowSse2(const RowJob& job, const UpdateParams& u);
void updateRowAvx2(const RowJob& job, const UpdateParams& u);
#elif defined(__aarch64__)
void updateRowNeon(const RowJob& job, const UpdateParams& u);
#endif

} // namespace motion
