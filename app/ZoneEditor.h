// Zones drawn on the live video: the demo's editor of its region mask.
//
// In the INPUT VIDEO window a left click adds a corner of a polygon (drawn
// as it grows) and a right click closes it, excluding its inside and border.
// Key c watches everything again, key w writes the mask as a PNG at frame
// size (white watched, black excluded). Excluded areas are shown darkened.
// Mouse events arrive while the loop waits for a key, after the frame was
// processed, so every edit takes effect from the next frame.
#pragma once

#include "io/RegionMask.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// Where key w writes when the configuration names no mask file.
constexpr const char* defaultRegionMaskFile = "region_mask.png";

class ZoneEditor {
public:
    // mask: the region mask the detector runs with, edited in place.
    // configuredFile: the configuration's region_mask_file, "" when none;
    // key w writes there.
    ZoneEditor(RegionMask& mask, const std::string& configuredFile);

    // Listens to the mouse in the named window, which must exist, showing
    // frames of frameSize.
    void attach(const std::string& window, cv::Size frameSize);

    // Darkens the excluded areas of the frame and draws the open polygon.
    void annotate(cv::Mat& frame);

    // Acts on the keys c and w; other keys are ignored.
    void handleKey(int key);

private:
    static void onMouse(int event, int x, int y, int flags, void* editor);
    void addCorner(int x, int y);
    void closePolygon();
    void writeMask();
    // Recomputes `excluded` after the mask or the frame size changed.
    void noteMaskChange();

    RegionMask& mask;
    std::string writePath;
    cv::Size frameSize;
    std::vector<cv::Point> corners; // of the polygon being drawn
    // The pixels shown darkened (empty when nothing is excluded), kept
    // between edits, and the darkened frame's buffer: a frame only reuses them.
    cv::Mat excluded;
    cv::Mat darker;
};
