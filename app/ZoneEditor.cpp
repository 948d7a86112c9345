#include "app/ZoneEditor.h"

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <utility>

namespace {

constexpr int keyClear = 'c'; // lower case only
constexpr int keyWrite = 'w';

// Excluded pixels keep this share of their brightness: dim enough to stand
// out, light enough to see what is there.
constexpr double excludedBrightness = 0.4;

const cv::Scalar yellow(0, 255, 255);

} // namespace

ZoneEditor::ZoneEditor(RegionMask& mask, const std::string& configuredFile)
    : mask(mask), writePath(configuredFile.empty() ? defaultRegionMaskFile : configuredFile) {}

void ZoneEditor::attach(const std::string& window, cv::Size size) {
    frameSize = size;
    noteMaskChange();
    cv::setMouseCallback(window, onMouse, this);
}


void ZoneEditor::annotate(cv::Mat& frame) {
    if (!excluded.empty()) {
        frame.convertTo(darker, -1, excludedBrightness);
        darker.copyTo(frame, excluded);
    }
    if (corners.empty()) return;
    cv::polylines(frame, corners, /*isClosed=*/false, yellow, 1, cv::LINE_8);
    for (const cv::Point& corner : corners) cv::circle(frame, corner, 2, yellow, cv::FILLED, cv::LINE_8);
}

void ZoneEditor::handleKey(int key) {
    if (key == keyClear) {
        mask.clear();
        corners.clear();
        noteMaskChange();
    }
    if (key == keyWrite) writeMask();
}

void ZoneEditor::onMouse(int event, int x, int y, int, void* editor) {
    ZoneEditor& self = *static_cast<ZoneEditor*>(editor);
    if (event == cv::EVENT_LBUTTONDOWN) self.addCorner(x, y);
    if (event == cv::EVENT_RBUTTONDOWN) self.closePolygon();
}

// A window larger than the frame reports clicks beside the picture; they
// count at the nearest edge.
void ZoneEditor::addCorner(int x, int y) {
    corners.emplace_back(std::clamp(x, 0, frameSize.width - 1), std::clamp(y, 0, frameSize.height - 1));
}

void ZoneEditor::closePolygon() {
    mask.exclude(corners, frameSize);
    corners.clear();
    noteMaskChange();
}

void ZoneEditor::noteMaskChange() {
    if (mask.configured())
        excluded = mask.atFrameSize(frameSize) == 0;
    else
        excluded.release();
}

// Always PNG, whatever the file's extension: lossless, so the file reads
// back to exactly this mask, and image readers recognise it by its content.
void ZoneEditor::writeMask() {
    std::vector<uchar> png;
    cv::imencode(".png", mask.atFrameSize(frameSize), png);
    std::ofstream file(writePath, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    file.close();
    if (file)
        std::cout << "Region mask written: " << writePath << std::endl;
    else
        std::cout << "Region mask could not be written: " << writePath << std::endl;
}
