#include "io/VideoFrame.h"

#include "io/Overlay.h"

#include <opencv2/imgproc.hpp>

#include <mutex>

struct VideoFrame::Shared {
    // Null when colour came first, and once colour is made: the frame then
    // holds its pixels once, not twice.
    std::shared_ptr<const DecodedPicture> picture;
    std::shared_ptr<const SourcePackets> packets;
    GreyInput greyInput = GreyInput::Exact;
    cv::Size size;
    std::vector<DetectedObject> objects;
    std::once_flag coloured, drawn;
    cv::Mat image; // the colour, then with the objects drawn
};

VideoFrame::VideoFrame(cv::Mat colour) : shared(std::make_shared<Shared>()) {
    shared->size = colour.size();
    shared->image = std::move(colour);
    std::call_once(shared->coloured, [] {});
}

VideoFrame::VideoFrame(std::shared_ptr<const DecodedPicture> picture, GreyInput grey)
    : shared(std::make_shared<Shared>()) {
    shared->size = cv::Size(picture->width(), picture->height());
    shared->packets = picture->packets();
    shared->picture = std::move(picture);
    shared->greyInput = grey;
}

cv::Size VideoFrame::size() const {
    return shared->size;
}

const cv::Mat& VideoFrame::colour() const {
    std::call_once(shared->coloured, [this] {
        shared->image = shared->picture->colour();
        shared->picture.reset();
    });
    return shared->image;
}

void VideoFrame::grey(cv::Mat& grey) const {
    // Copied (a fraction of a millisecond): the picture goes once the frame
    // is made colour, and with it its planes.
    if (shared->greyInput == GreyInput::Luma) {
        const cv::Mat luma = shared->picture->luma();
        if (!luma.empty()) {
            luma.copyTo(grey);
            return;
        }
    }
    cv::cvtColor(colour(), grey, cv::COLOR_BGR2GRAY);
}

void VideoFrame::setObjects(std::vector<DetectedObject> objects) {
    shared->objects = std::move(objects);
}

const std::shared_ptr<const SourcePackets>& VideoFrame::packets() const {
    return shared->packets;
}

const cv::Mat& VideoFrame::annotated() const {
    colour();
    std::call_once(shared->drawn, [this] { drawObjects(shared->image, shared->objects); });
    return shared->image;
}
