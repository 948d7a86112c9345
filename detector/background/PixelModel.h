// The background model of one scaled pixel, as a record. The model store
// keeps the models in another layout; records are what tests and the
// reference implementation read and write.
#pragma once

#include <cstdint>

namespace motion {

// One weighted Gaussian of a pixel's background mixture.
struct GaussianComponent {
    float weight;
    float mean;
    float variance;
    float fitness; // weight / variance (0 when both are 0): the ranking key
};

// A value matches a component when its squared distance from the mean is
// below this many variances (2.5 standard deviations, squared).
constexpr float matchFactor = 6.25f;

// Components ranked most probable background first. All zero is the valid
// empty state.
struct PixelModel {
    static constexpr int capacity = 10;
    GaussianComponent components[capacity];
    bool initialized;
};

// Updates a model with its pixel's grey value, using its first `components`
// slots, and returns whether the pixel is motion. The steps are written out
// one after another without any of the vector kernels' shortcuts: this is
// the plain kernel, and the yardstick the tests hold every kernel to.
bool updatePixelModel(PixelModel& model, uint8_t value, float alpha, float minVariance, int components);

} // namespace motion
