// The last seconds of annotated frames, kept so that a clip can begin before
// the motion that started its event.
//
// Frames are held by reference (each decoded frame is its own image, never
// written to again), so keeping one costs no copy. The buffer never holds a
// frame older than the pre-capture time before the newest one, which bounds
// its memory by the frames of that many seconds.
#pragma once

#include <opencv2/core.hpp>

#include <deque>

class PreCaptureBuffer {
public:
    explicit PreCaptureBuffer(double preSeconds);

    // Appends the newest frame and drops those now too old.
    void push(const cv::Mat& frame, double t);

    // Calls write(frame) for every held frame, oldest first.
    template <class Write>
    void forEach(Write write) const {
        for (const Entry& e : entries) write(e.frame);
    }

    size_t size() const { return entries.size(); }

private:
    struct Entry {
        cv::Mat frame;
        double t;
    };

    double preSeconds;
    std::deque<Entry> entries;
};
