#include "io/ClipWriter.h"

const char* clipExtension(ClipFormat format) {
    return format == ClipFormat::Mp4 ? ".mp4" : ".avi";
}

ClipWriter::ClipWriter(ClipFormat format) : format(format), queue(16), worker(&ClipWriter::work, this) {}

ClipWriter::~ClipWriter() {
    close();
    queue.close();
    worker.join();
}

bool ClipWriter::open(const std::string& path, double fps, cv::Size frameSize) {
    close();
    framesWritten = 0;
    opened = format == ClipFormat::Mp4 ? mp4.open(path, fps, frameSize)
                                       : writer.open(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, frameSize, true);
    return opened;
}

void ClipWriter::write(const cv::Mat& frame) {
    if (opened) queue.push(frame, BoundedQueue<cv::Mat>::WhenFull::Wait);
}

long long ClipWriter::close() {
    queue.waitUntilDone();
    if (!opened) return 0;
    if (format == ClipFormat::Mp4)
        mp4.close();
    else
        writer.release();
    opened = false;
    return framesWritten;
}

void ClipWriter::work() {
    while (const std::optional<cv::Mat> frame = queue.pop()) {
        if (encode(*frame)) ++framesWritten;
        queue.done();
    }
}

// OpenCV's writer does not tell whether a frame went in; the MP4 writer does.
bool ClipWriter::encode(const cv::Mat& frame) {
    if (format == ClipFormat::Mp4) return mp4.write(frame);
    writer.write(frame);
    return true;
}
