// Full-size motion mask output.
#include "detector/MotionDetector.h"

void MotionDetector::getMotionMask(uint8_t*) {}
