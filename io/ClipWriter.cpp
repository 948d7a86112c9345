#include "io/ClipWriter.h"

ClipWriter::ClipWriter() : queue(16), worker(&ClipWriter::work, this) {}

ClipWriter::~ClipWriter() {
    close();
    queue.close();
    worker.join();
}

bool ClipWriter::open(const std::string& path, double fps, cv::Size frameSize) {
    close();
    framesWritten = 0;
    opened = writer.open(path, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, frameSize, true);
    return opened;
}

void ClipWriter::write(const cv::Mat& frame) {
    if (opened) queue.push(frame, BoundedQueue<cv::Mat>::WhenFull::Wait);
}

long long ClipWriter::close() {
    queue.waitUntilDone();
    if (!opened) return 0;
    writer.release();
    opened = false;
    return framesWritten;
}

void ClipWriter::work() {
    while (const std::optional<cv::Mat> frame = queue.pop()) {
        writer.write(*frame);
        ++framesWritten;
        queue.done();
    }
}
