// Pairing blobs with tracks from frame to frame.
#include "detector/MotionDetector.h"

void MotionDetector::updateTracks() {}
