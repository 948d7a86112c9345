// Tracks that qualify as objects, in full-frame units.
#include "detector/MotionDetector.h"

std::vector<DetectedObject> MotionDetector::getObjects() { return {}; }
