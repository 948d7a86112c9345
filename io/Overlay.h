// Drawing of the detector's reported objects onto a colour frame, shared by
// every program that shows or stores annotated video, so that a box looks the
// same on screen, in a recording and in an event clip. Headless: imgproc only.
#pragma once

#include "detector/MotionDetector.h"

#include <opencv2/core.hpp>

#include <string>
#include <vector>

// The colours of the overlays (BGR).
extern const cv::Scalar overlayRed;
extern const cv::Scalar overlayCyan;

// One line of overlay text: Hershey simplex, scale 0.5, thickness 1.
void drawOverlayText(cv::Mat& image, const std::string& text, cv::Point origin, const cv::Scalar& colour);

// A red box around each object (edges inclusive) and its identifier in cyan
// 5 pixels above the top edge.
void drawObjects(cv::Mat& frame, const std::vector<DetectedObject>& objects);
