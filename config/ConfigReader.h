// Reader of the program's JSON configuration file.
//
// The file holds one object whose member "Config_Params" carries the video
// source text, the optional region mask file and the detector's numeric
// parameters (the keys of the table in detector/parameters/Parameters.h, read
// and applied in its order). Every value is read before any is applied, so a
// failed read leaves the detector and the texts untouched.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>

class MotionDetector;

namespace motion {
struct Parameter;
}

// The texts of the configuration, which are for the program, not the detector.
struct ConfigTexts {
    std::string videoSourceInitString;
    std::string regionMaskFile; // "" when absent: the whole frame is watched
};

// Reads the file at path, stores its texts in texts and hands every numeric
// key to detector.setParam. Returns false, changing neither, when the file
// cannot be opened or parsed, or a key is missing or of the wrong type; a
// value the detector refuses keeps its default and still counts as success.
bool readConfiguration(const std::string& path, MotionDetector& detector, ConfigTexts& texts);

// One numeric key's value as the file gives it to the detector: an integer
// key takes any number, fractions truncated toward zero and the int range
// saturated (so that the detector refuses rather than wraps), or true and
// false; a real key takes any number and refuses booleans. Throws
// nlohmann::json::exception for a value of the wrong type. Whether the
// value lies in the key's range is the caller's question.
double readParameterValue(const nlohmann::json& value, const motion::Parameter& parameter);
