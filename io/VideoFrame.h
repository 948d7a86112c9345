// One frame as the watcher hands it on, to the detector, the pre-capture,
// clips, snapshots and live views: shared by reference, never copied.
//
// What costs time is done on first use only, once, on whichever thread asks
// first: a frame from the decoder becomes colour when somebody looks at it,
// and the objects are drawn on it when somebody looks at the annotated
// image. A quiet camera whose frames nobody sees in colour costs no colour
// conversion in the fast input, and no drawing in either input.
#pragma once

#include "detector/MotionDetector.h"
#include "io/DirectDecoder.h"

#include <opencv2/core.hpp>

#include <memory>
#include <vector>

// Where the detector's grey frame comes from.
enum class GreyInput {
    Exact, // COLOR_BGR2GRAY of the colour frame: the results every program agrees on
    Luma,  // the decoder's luma plane, where it has one: no colour conversion
};

class VideoFrame {
public:
    VideoFrame() = default;
    explicit VideoFrame(cv::Mat colour);                              // 8-bit BGR, as OpenCV's reader gives it
    VideoFrame(std::shared_ptr<const DecodedPicture> picture, GreyInput grey);

    bool empty() const { return !shared; }
    cv::Size size() const;

    // The detector's input into grey, reusing its buffer. Ask before the
    // frame is shared or annotated: the drawing goes into the colour.
    void grey(cv::Mat& grey) const;

    // The objects to draw; given once, before the frame is shared.
    void setObjects(std::vector<DetectedObject> objects);

    // 8-bit BGR with the objects drawn.
    const cv::Mat& annotated() const;

    // The source's packets behind the frame, when its reader keeps them.
    const std::shared_ptr<const SourcePackets>& packets() const;

private:
    struct Shared;
    const cv::Mat& colour() const;

    std::shared_ptr<Shared> shared;
};
