// Reader of the program's JSON configuration file.
//
// The file holds one object whose member "Config_Params" carries the video
// source text and fourteen numeric detector parameters. Every value is read
// before any is applied, so a failed read leaves the detector untouched.
#pragma once

#include <string>

class MotionDetector;

// The numeric keys, as read from the file and before the detector judges them.
struct ConfigParams {
    double pixelDeviation;
    double alphaCoeff;
    int maxObjectWidth;
    int minObjectWidth;
    int maxObjectHeight;
    int minObjectHeight;
    double minObjectVelocity;
    double maxObjectVelocity;
    int numThreads;
    int trackDetectionCriterion;
    int trackResetCriterion;
    int minDistanceBetweenObjects;
    int scaleFactor;
    int numGaussElements;
};

// Reads the file at path, stores its source text in videoSourceInitString and
// hands every numeric key to detector.setParam. Returns false when the file
// cannot be opened or parsed, or a key is missing or of the wrong type; a
// value the detector refuses keeps its default and still counts as success.
bool readConfiguration(const std::string& path, MotionDetector& detector, std::string& videoSourceInitString);
