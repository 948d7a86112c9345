#include "config/ConfigReader.h"

#include "detector/MotionDetector.h"
#include "detector/parameters/Parameters.h"

#include <nlohmann/json.hpp>

#include <array>
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

using motion::parameterTable;
using motion::Parameter;
using ParameterList = std::array<double, parameterTable.size()>;

// An optional key that is absent takes its default.
double readValue(const json& config, const Parameter& parameter) {
    const bool absent = !config.contains(parameter.key);
    if (absent && parameter.presence == motion::Presence::optional) return parameter.defaultValue;
    return readParameterValue(config.at(parameter.key), parameter);
}

ParameterList readParams(const json& config) {
    ParameterList values{};
    for (size_t k = 0; k < parameterTable.size(); ++k) values[k] = readValue(config, parameterTable[k]);
    return values;
}

void applyParams(const ParameterList& values, MotionDetector& detector) {
    for (size_t k = 0; k < parameterTable.size(); ++k) detector.setParam(parameterTable[k].id, values[k]);
}

// The region mask file is optional and, unlike the numeric keys, has no
// default to stand in for a value of the wrong type: that fails the read.
ConfigTexts readTexts(const json& config) {
    ConfigTexts texts;
    texts.videoSourceInitString = config.at("video_source_init_string").get<std::string>();
    if (config.contains("region_mask_file")) texts.regionMaskFile = config.at("region_mask_file").get<std::string>();
    return texts;
}

} // namespace

// A double key accepts any number and refuses booleans.
double readParameterValue(const json& value, const Parameter& parameter) {
    return parameter.isInteger() ? readInt(value) : value.get<double>();
}

bool readConfiguration(const std::string& path, MotionDetector& detector, ConfigTexts& texts) {
    std::ifstream file(path);
    if (!file.is_open()) return false;
    try {
        const json document = json::parse(file, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/false);
        const json& config = document.at("Config_Params");
        const ConfigTexts read = readTexts(config);
        applyParams(readParams(config), detector);
        texts = read;
    } catch (const json::exception&) {
        // Syntax errors, numbers beyond the double range, missing keys and
        // wrong types all end here; the caller reports one line for all.
        return false;
    } catch (const std::ios_base::failure&) {
        return false; // opened but unreadable, such as a directory
    }
    return true;
}
