// The background model of one scaled pixel, as a record. The model store
// keeps the models in another layout; records are what tests and the
// reference implementation read and write.
#pragma once

namespace motion {

// One weighted Gaussian of a pixel's background mixture.
struct GaussianComponent {
    float weight;
    float mean;
    float variance;
    float fitness; // weight / variance: the ranking key
};

// Components ranked most probable background first. All zero is the valid
// empty state.
struct PixelModel {
    static constexpr int capacity = 10;
    GaussianComponent components[capacity];
    bool initialized;
};

} // namespace motion
