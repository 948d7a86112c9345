// Grouping of motion pixels into blobs.
#include "detector/MotionDetector.h"

void MotionDetector::extractBlobs() {}
