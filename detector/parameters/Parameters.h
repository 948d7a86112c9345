// The detector's parameters: one table describes each of them (its key in
// the configuration file, its identifier, type, accepted range, default and
// meaning); the detector, the configuration reader, the tools and the tests
// all read it, so that adding a parameter means adding one row and one
// stored value.
#pragma once

#include "detector/MotionDetector.h"

#include <array>
#include <cstdint>

namespace motion {

// The values in force, read by the stages. Each starts at its table default.
struct ParameterValues {
    double pixelDeviation;
    double alphaCoeff;
    int32_t maxObjectWidth;
    int32_t minObjectWidth;
    int32_t maxObjectHeight;
    int32_t minObjectHeight;
    double minObjectVelocity;
    double maxObjectVelocity;
    int32_t numThreads;
    int32_t trackDetectionCriterion;
    int32_t trackResetCriterion;
    int32_t minDistanceBetweenObjects;
    int32_t scaleFactor;
    int32_t numGaussElements;
    double lightingChangeFraction;
};

// How a value is judged before it is stored.
enum class RangeCheck {
    value,     // the value itself lies in low..high
    truncated, // the value truncated toward zero lies in low..high
};

// Whether the configuration file must carry the key.
enum class Presence { required, optional };

struct Parameter {
    const char* key; // in the configuration file
    MotionDetectorParam id;
    // Exactly one of the two is set: where the value is stored, and with it
    // the type (an integer parameter takes the value truncated toward zero).
    double ParameterValues::*real;
    int32_t ParameterValues::*integer;
    double low; // accepted range, inclusive
    double high;
    double defaultValue;
    RangeCheck check;
    Presence presence;
    const char* meaning;

    bool isInteger() const { return integer != nullptr; }
    // NaN fails both comparisons and is thus refused for every parameter.
    bool accepts(double value) const;
    void store(ParameterValues& values, double value) const;
    double storedIn(const ParameterValues& values) const;
};

// In the order the configuration reader reads and applies them.
extern const std::array<Parameter, 15> parameterTable;

// The row of an identifier, or null.
const Parameter* findParameter(int id);

// Every parameter at its default.
ParameterValues defaultParameterValues();

} // namespace motion
