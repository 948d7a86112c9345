#include "config/ConfigReader.h"

#include "detector/MotionDetector.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <fstream>
#include <ios>
#include <limits>

using nlohmann::json;

namespace {

// An int key accepts any number (fractions truncated toward zero) and the
// literals true and false. Numbers beyond the int range saturate instead of
// wrapping, so the detector refuses them rather than receiving a small value.
int readInt(const json& value) {
    constexpr int lowest = std::numeric_limits<int>::min();
    constexpr int highest = std::numeric_limits<int>::max();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (d <= double(lowest)) return lowest;
        if (d >= double(highest)) return highest;
        return static_cast<int>(d);
    }
    if (value.is_number_unsigned()) {
        const uint64_t u = value.get<uint64_t>();
        return u > uint64_t(highest) ? highest : static_cast<int>(u);
    }
    if (value.is_number_integer()) {
        const int64_t i = value.get<int64_t>();
        return i < lowest ? lowest : i > highest ? highest : static_cast<int>(i);
    }
    return value.get<int>(); // booleans; any other type throws
}

ConfigParams readParams(const json& c) {
    ConfigParams p;
    p.pixelDeviation = c.at("pixel_deviation").get<double>();
    p.alphaCoeff = c.at("alpha_coeff").get<double>();
    p.maxObjectWidth = readInt(c.at("max_object_width"));
    p.minObjectWidth = readInt(c.at("min_object_width"));
    p.maxObjectHeight = readInt(c.at("max_object_height"));
    p.minObjectHeight = readInt(c.at("min_object_height"));
    p.minObjectVelocity = c.at("min_object_velocity").get<double>();
    p.maxObjectVelocity = c.at("max_object_velocity").get<double>();
    p.numThreads = readInt(c.at("num_threads"));
    p.trackDetectionCriterion = readInt(c.at("track_detection_criterion"));
    p.trackResetCriterion = readInt(c.at("track_reset_criterion"));
    p.minDistanceBetweenObjects = readInt(c.at("min_distance_between_objects"));
    p.scaleFactor = readInt(c.at("scale_factor"));
    p.numGaussElements = readInt(c.at("num_gauss_elements_in_pixel_model"));
    return p;
}

void applyParams(const ConfigParams& p, MotionDetector& detector) {
    detector.setParam(PIXEL_DEVIATION, p.pixelDeviation);
    detector.setParam(ALPHA_COEFF, p.alphaCoeff);
    detector.setParam(MAX_OBJECT_WIDTH, p.maxObjectWidth);
    detector.setParam(MIN_OBJECT_WIDTH, p.minObjectWidth);
    detector.setParam(MAX_OBJECT_HEIGHT, p.maxObjectHeight);
    detector.setParam(MIN_OBJECT_HEIGHT, p.minObjectHeight);
    detector.setParam(MIN_OBJECT_VELOCITY, p.minObjectVelocity);
    detector.setParam(MAX_OBJECT_VELOCITY, p.maxObjectVelocity);
    detector.setParam(NUM_THREADS, p.numThreads);
    detector.setParam(TRACK_DETECTION_CRITERION, p.trackDetectionCriterion);
    detector.setParam(TRACK_RESET_CRITERION, p.trackResetCriterion);
    detector.setParam(MIN_DISTANCE_BETWEEN_OBJECTS, p.minDistanceBetweenObjects);
    detector.setParam(SCALE_FACTOR, p.scaleFactor);
    detector.setParam(NUM_GAUSS_ELEMENTS_IN_PIXEL_MODEL, p.numGaussElements);
}

} // namespace

bool readConfiguration(const std::string& path, MotionDetector& detector, std::string& videoSourceInitString) {
    std::ifstream file(path);
    if (!file.is_open()) return false;
    try {
        const json document = json::parse(file, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
        const json& config = document.at("Config_Params");
        videoSourceInitString = config.at("video_source_init_string").get<std::string>();
        applyParams(readParams(config), detector);
    } catch (const json::exception&) {
        // Syntax errors, numbers beyond the double range, missing keys and
        // wrong types all end here; the caller reports one line for all.
        return false;
    } catch (const std::ios_base::failure&) {
        return false; // opened but unreadable, such as a directory
    }
    return true;
}
