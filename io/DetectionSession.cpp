#include "io/DetectionSession.h"

#include "detector/MotionDetector.h"

#include <opencv2/imgproc.hpp>

#include <utility>

DetectionSession::DetectionSession(MotionDetector& detector) : motion(detector) {}

StartFailure DetectionSession::start(const SessionRequest& request) {
    if (!readConfiguration(request.configPath, motion, texts)) return StartFailure::Configuration;
    live = std::make_unique<LiveSettings>(request.configPath, motion, texts.regionMaskFile);
    maskFile = request.regionMask.value_or(texts.regionMaskFile);
    if (!maskFile.empty() && !mask.load(maskFile)) return StartFailure::RegionMask;
    source = request.source.empty() ? texts.videoSourceInitString : request.source;
    if (sourceKind() == SourceKind::FileDialog && !request.fileDialog) return StartFailure::FileDialog;
    opened = request.openSource(source);
    if (opened.failureMessage != nullptr) return StartFailure::Source;
    publishedMask = mask.atFrameSize(frameSize());
    return StartFailure::None;
}

bool DetectionSession::detect(const cv::Mat& frame) {
    cv::cvtColor(frame, greyFrame, cv::COLOR_BGR2GRAY);
    return detectGrey();
}

bool DetectionSession::detect(const VideoFrame& frame) {
    frame.grey(greyFrame);
    return detectGrey();
}

bool DetectionSession::detectGrey() {
    live->applyPending(motion);
    applySubmitted();
    const uint8_t* watched = mask.forFrame(frameSize(), static_cast<int>(motion.getParam(SCALE_FACTOR)));
    return motion.processFrame(greyFrame.data, greyFrame.cols, greyFrame.rows, watched);
}

cv::Mat DetectionSession::motionMask() {
    cv::Mat image(frameSize(), CV_8UC1, cv::Scalar(0));
    motion.getMotionMask(image.data);
    return image;
}

cv::Mat DetectionSession::regionMaskImage() {
    std::lock_guard<std::mutex> lock(submittedMutex);
    return publishedMask.clone();
}

void DetectionSession::submitRegionMask(cv::Mat image) {
    std::lock_guard<std::mutex> lock(submittedMutex);
    submittedMask = std::move(image);
}

void DetectionSession::applySubmitted() {
    std::lock_guard<std::mutex> lock(submittedMutex);
    if (submittedMask.empty()) return;
    mask.assign(submittedMask);
    submittedMask.release();
    publishedMask = mask.atFrameSize(frameSize());
}
