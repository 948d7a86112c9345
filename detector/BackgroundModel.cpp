// Per-pixel mixture-of-Gaussians background update.
#include "detector/MotionDetector.h"

void MotionDetector::updateBackground(const uint8_t*, const uint8_t*) {}

void MotionDetector::updateBackgroundParallel(const uint8_t*, const uint8_t*) {}
