#include "io/Overlay.h"

#include <opencv2/imgproc.hpp>

const cv::Scalar overlayRed(0, 0, 255);
const cv::Scalar overlayCyan(255, 255, 0);

void drawOverlayText(cv::Mat& image, const std::string& text, cv::Point origin, const cv::Scalar& colour) {
    cv::putText(image, text, origin, cv::FONT_HERSHEY_SIMPLEX, 0.5, colour, 1, cv::LINE_8);
}

void drawObjects(cv::Mat& frame, const std::vector<DetectedObject>& objects) {
    for (const DetectedObject& o : objects) {
        cv::rectangle(frame, cv::Rect(o.x0, o.y0, o.x1 - o.x0 + 1, o.y1 - o.y0 + 1), overlayRed, 1, cv::LINE_8, 0);
        drawOverlayText(frame, std::to_string(o.objectId), cv::Point(o.x0, o.y0 - 5), overlayCyan);
    }
}
