#include "events/PreCaptureBuffer.h"

#include "io/SourceTime.h"

PreCaptureBuffer::PreCaptureBuffer(double preSeconds) : preSeconds(preSeconds) {}

void PreCaptureBuffer::push(const cv::Mat& frame, double t) {
    entries.push_back({frame, t});
    while (!atMostApart(t, entries.front().t, preSeconds)) entries.pop_front();
}
