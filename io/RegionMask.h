// The part of the video the detector watches, given as an image.
//
// Any image OpenCV reads serves as a mask, colour or grey: light areas are
// watched, dark areas excluded. Every program turns it into the detector's
// region mask by the same rule, so that they all agree to the pixel:
//
//   1. grey (OpenCV's BGR-to-grey conversion for colour images);
//   2. resized to the frame size with nearest-neighbour interpolation when
//      its size differs;
//   3. binarised: grey >= 128 becomes 255 (watched), anything else 0;
//   4. reduced to the detector's grid by the truncating mean of each
//      scale-factor block, the same reduction the detector applies to frames;
//   5. a scaled pixel is watched (byte 1) when that mean is >= 128, else
//      excluded (byte 0).
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>
#include <vector>

// Reads the image at path as 8-bit grey (steps 1 and the grey conversion of
// colour). Returns an empty matrix when the file cannot be read as an image.
cv::Mat readRegionMaskImage(const std::string& path);

// The same for an image file's bytes held in memory.
cv::Mat decodeRegionMaskImage(const std::vector<uchar>& bytes);

// Steps 2 and 3: the grey image as a 0/255 mask of frameSize.
cv::Mat binariseRegionMask(const cv::Mat& grey, cv::Size frameSize);

// Steps 4 and 5 for a scale factor of 1 to 8: one byte per scaled pixel,
// (width / factor) x (height / factor) of them, row by row; 1 watched, 0
// excluded.
std::vector<uint8_t> reduceRegionMask(const cv::Mat& binary, int scaleFactor);

// A region mask that follows the video: it keeps the full-size binarised
// mask and redoes the reduction only when the frame size or the scale factor
// changes. Without a mask everything is watched and the detector gets a null
// region mask, exactly as if zones did not exist.
class RegionMask {
public:
    // Replaces the mask by the image at path. Returns false, leaving the mask
    // as it was, when the file cannot be read as an image.
    bool load(const std::string& path);

    // Replaces the mask by an 8-bit grey image (such as one read by
    // readRegionMaskImage, or a 0/255 mask), taken through the same rule.
    void assign(const cv::Mat& grey);

    // Whether anything is excluded or was loaded; false means "watch all".
    bool configured() const { return !image.empty(); }

    // The region mask to hand to MotionDetector::processFrame for a frame of
    // this size at this scale factor, valid until the next call or edit;
    // nullptr when nothing is configured.
    const uint8_t* forFrame(cv::Size frameSize, int scaleFactor);

    // The binarised mask at frame size: 255 watched, 0 excluded; all 255
    // when nothing is configured.
    cv::Mat atFrameSize(cv::Size frameSize);

    // Excludes the inside and the border of the polygon (frame coordinates).
    void exclude(const std::vector<cv::Point>& polygon, cv::Size frameSize);

    // Watches everything again, configured mask included.
    void clear();

private:
    const cv::Mat& binaryAt(cv::Size frameSize);

    cv::Mat image;  // grey; after an edit, the edited binary mask
    cv::Mat binary; // image binarised at the last frame size asked for
    std::vector<uint8_t> grid;
    int gridFactor = 0; // 0: grid not computed for the current binary mask
};
