// The JSON line that motion_trace and motion_trace_raw write for each frame:
// the frame index, whether the detector accepted the frame, the number of
// motion pixels in the full-size mask and every reported object with all its
// fields. Floats are printed with 9 significant digits, which reads back to
// the same float; JSON has no NaN or infinity, so such a value is null.
#pragma once

#include "detector/MotionDetector.h"

#include <cstdio>
#include <vector>

void printTraceLine(std::FILE* out, long long index, bool accepted, long long motionPixels,
                    const std::vector<DetectedObject>& objects);
