#include "io/RegionMask.h"

#include "detector/scaling/FrameScaling.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int watchedThreshold = 128;
constexpr uint8_t watchedValue = 255;

// Colour reading turns grey, 16-bit and alpha images alike into 8-bit BGR,
// and converting a grey pixel replicated into BGR gives back the same grey
// value: one path for every kind of file.
template <class Read>
cv::Mat readGrey(Read read) {
    cv::Mat colour;
    try {
        colour = read(cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        return {}; // decoders throw on some damaged or oversized files
    }
    if (colour.empty()) return {};
    cv::Mat grey;
    cv::cvtColor(colour, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

} // namespace

cv::Mat readRegionMaskImage(const std::string& path) {
    return readGrey([&](int flags) { return cv::imread(path, flags); });
}

cv::Mat decodeRegionMaskImage(const std::vector<uchar>& bytes) {
    return readGrey([&](int flags) { return bytes.empty() ? cv::Mat() : cv::imdecode(bytes, flags); });
}

cv::Mat binariseRegionMask(const cv::Mat& grey, cv::Size frameSize) {
    cv::Mat sized = grey;
    if (grey.size() != frameSize) cv::resize(grey, sized, frameSize, 0, 0, cv::INTER_NEAREST);
    cv::Mat binary;
    // THRESH_BINARY sets values strictly above the threshold: > 127 is >= 128.
    cv::threshold(sized, binary, watchedThreshold - 1, watchedValue, cv::THRESH_BINARY);
    return binary;
}

std::vector<uint8_t> reduceRegionMask(const cv::Mat& binary, int scaleFactor) {
    CV_Assert(binary.type() == CV_8UC1 && binary.isContinuous() && scaleFactor >= 1 && scaleFactor <= 8);
    std::vector<uint8_t> scaled(size_t(binary.cols / scaleFactor) * size_t(binary.rows / scaleFactor));
    // The detector's own block mean, so that mask and frames reduce alike.
    motion::downscale(binary.data, binary.cols, binary.rows, scaleFactor, scaled.data());
    for (uint8_t& mean : scaled) mean = mean >= watchedThreshold ? 1 : 0;
    return scaled;
}

bool RegionMask::load(const std::string& path) {
    cv::Mat grey = readRegionMaskImage(path);
    if (grey.empty()) return false;
    assign(grey);
    return true;
}

void RegionMask::assign(const cv::Mat& grey) {
    image = grey;
    binary.release();
    gridFactor = 0;
}

const uint8_t* RegionMask::forFrame(cv::Size frameSize, int scaleFactor) {
    if (!configured()) return nullptr;
    const cv::Mat& full = binaryAt(frameSize);
    if (gridFactor != scaleFactor) {
        grid = reduceRegionMask(full, scaleFactor);
        gridFactor = scaleFactor;
    }
    return grid.data();
}

cv::Mat RegionMask::atFrameSize(cv::Size frameSize) {
    if (!configured()) return cv::Mat(frameSize, CV_8UC1, cv::Scalar(watchedValue));
    return binaryAt(frameSize);
}

void RegionMask::exclude(const std::vector<cv::Point>& polygon, cv::Size frameSize) {
    if (polygon.empty()) return;
    cv::Mat edited = atFrameSize(frameSize).clone();
    cv::fillPoly(edited, std::vector<std::vector<cv::Point>>{polygon}, cv::Scalar(0), cv::LINE_8);
    // The edited mask becomes the source: binarising it again at this size
    // changes nothing, and at another size it scales like a loaded mask.
    image = edited;
    binary = edited;
    gridFactor = 0;
}

void RegionMask::clear() {
    image.release();
    binary.release();
    gridFactor = 0;
}

const cv::Mat& RegionMask::binaryAt(cv::Size frameSize) {
    if (binary.size() != frameSize || binary.empty()) {
        binary = binariseRegionMask(image, frameSize);
        gridFactor = 0;
    }
    return binary;
}
