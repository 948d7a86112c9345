// Reader of the program's JSON configuration file.
//
// The file holds one object whose member "Config_Params" carries the video
// source text and the detector's numeric parameters (the keys of the table
// in detector/parameters/Parameters.h, read and applied in its order). Every
// value is read before any is applied, so a failed read leaves the detector
// untouched.
#pragma once

#include <string>

class MotionDetector;

// Reads the file at path, stores its source text in videoSourceInitString and
// hands every numeric key to detector.setParam. Returns false when the file
// cannot be opened or parsed, or a key is missing or of the wrong type; a
// value the detector refuses keeps its default and still counts as success.
bool readConfiguration(const std::string& path, MotionDetector& detector, std::string& videoSourceInitString);
