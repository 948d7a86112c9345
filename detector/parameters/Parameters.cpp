#include "detector/parameters/Parameters.h"

#include "detector/background/PixelModel.h"

namespace motion {

namespace {

using V = ParameterValues;
constexpr double V::*noReal = nullptr;
constexpr int32_t V::*noInteger = nullptr;
constexpr RangeCheck plain = RangeCheck::value;
constexpr Presence required = Presence::required;

} // namespace

const std::array<Parameter, 15> parameterTable = {{
    {"pixel_deviation", PIXEL_DEVIATION, &V::pixelDeviation, noInteger, 0, 255, 10, plain, required,
     "grey levels a pixel may differ from its background and still match it"},
    {"alpha_coeff", ALPHA_COEFF, &V::alphaCoeff, noInteger, 0, 1, 0.01, plain, required,
     "learning rate of the background model"},
    {"max_object_width", MAX_OBJECT_WIDTH, noReal, &V::maxObjectWidth, 1, 8192, 128, plain, required,
     "widest region, in full-frame pixels, that can become an object"},
    {"min_object_width", MIN_OBJECT_WIDTH, noReal, &V::minObjectWidth, 1, 8192, 2, plain, required,
     "narrowest region that can become an object"},
    {"max_object_height", MAX_OBJECT_HEIGHT, noReal, &V::maxObjectHeight, 1, 8192, 128, plain, required,
     "tallest region that can become an object"},
    {"min_object_height", MIN_OBJECT_HEIGHT, noReal, &V::minObjectHeight, 1, 8192, 2, plain, required,
     "lowest region that can become an object"},
    {"min_object_velocity", MIN_OBJECT_VELOCITY, &V::minObjectVelocity, noInteger, 0, 8192, 0.1, plain, required,
     "scaled pixels per frame a track must move to count a step in a direction"},
    {"max_object_velocity", MAX_OBJECT_VELOCITY, &V::maxObjectVelocity, noInteger, 0, 8192, 20, plain, required,
     "fastest expected motion, in scaled pixels per frame"},
    {"num_threads", NUM_THREADS, noReal, &V::numThreads, 0, 255, 1, plain, required,
     "threads of the background update (0: the OpenMP runtime's choice)"},
    {"track_detection_criterion", TRACK_DETECTION_CRITERION, noReal, &V::trackDetectionCriterion, 1, 255, 15, plain,
     required, "steps in one direction before a track is reported as an object"},
    {"track_reset_criterion", TRACK_RESET_CRITERION, noReal, &V::trackResetCriterion, 0, 255, 5, plain, required,
     "frames a track may go unseen before it is dropped"},
    {"min_distance_between_objects", MIN_DISTANCE_BETWEEN_OBJECTS, noReal, &V::minDistanceBetweenObjects, 1, 8192,
     16, plain, required, "scaled pixels within which motion regions merge into one"},
    {"scale_factor", SCALE_FACTOR, noReal, &V::scaleFactor, 1, 8, 1, RangeCheck::truncated, required,
     "side of the pixel blocks averaged into one scaled pixel"},
    {"num_gauss_elements_in_pixel_model", NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, noReal, &V::numGaussElements, 1,
     PixelModel::capacity, 5, plain, required, "Gaussian components per pixel of the background model"},
    {"lighting_change_fraction", LIGHTING_CHANGE_FRACTION, &V::lightingChangeFraction, noInteger, 0, 1, 0, plain,
     Presence::optional, "share of watched pixels in motion above which a frame is taken as a change of light"},
}};

bool Parameter::accepts(double value) const {
    // Truncation is judged on the double, so that no out-of-range value is
    // ever converted to an integer.
    if (check == RangeCheck::truncated) return value >= low && value < high + 1.0;
    return value >= low && value <= high;
}

void Parameter::store(ParameterValues& values, double value) const {
    if (isInteger())
        values.*integer = static_cast<int32_t>(value);
    else
        values.*real = value;
}

double Parameter::storedIn(const ParameterValues& values) const {
    return isInteger() ? double(values.*integer) : values.*real;
}

const Parameter* findParameter(int id) {
    for (const Parameter& parameter : parameterTable)
        if (parameter.id == id) return &parameter;
    return nullptr;
}

ParameterValues defaultParameterValues() {
    ParameterValues values{};
    for (const Parameter& parameter : parameterTable) parameter.store(values, parameter.defaultValue);
    return values;
}

} // namespace motion
