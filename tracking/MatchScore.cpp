// Score of a track-blob pair.
#include "detector/MotionDetector.h"

float MotionDetector::matchScore(const Blob&, const Track&) const { return 0.0f; }

float MotionDetector::speedDissimilarity(float, float, float) { return 0.5f; }
