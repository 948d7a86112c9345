#include "io/ClipWriter.h"

#include <opencv2/imgcodecs.hpp>

namespace {

// About the size per frame of the encoder the clips were written with
// before: quality costs disk space, and the storage limit counts it.
const std::vector<int> jpegQuality{cv::IMWRITE_JPEG_QUALITY, 80};

// OpenCV makes its table of encoders at the first encoding, as a static that
// is destroyed at exit in the reverse order of creation. Making it before the
// first writer exists means that it outlives whatever exit handler the owner
// of a writer registers later (the demo finalises its recording from one when
// the display goes away), instead of vanishing under the encoding thread.
void createEncoderTables() {
    static const bool created = [] {
        std::vector<uchar> unused;
        return cv::imencode(".jpg", cv::Mat(8, 8, CV_8UC3, cv::Scalar::all(0)), unused);
    }();
    (void)created;
}

} // namespace

ClipFrame compressClipFrame(const cv::Mat& image) {
    auto jpeg = std::make_shared<std::vector<uchar>>();
    if (image.empty() || !cv::imencode(".jpg", image, *jpeg, jpegQuality)) return {image, nullptr, nullptr}; // as it is
    return {cv::Mat(), std::move(jpeg), nullptr};
}

const char* clipExtension(ClipFormat format) {
    return format == ClipFormat::Avi ? ".avi" : ".mp4";
}

ClipWriter::ClipWriter(ClipFormat format) : format(format), queue(16) {
    createEncoderTables();
    worker = std::thread(&ClipWriter::work, this);
}

ClipWriter::~ClipWriter() {
    close();
    queue.close();
    worker.join();
}

bool ClipWriter::open(const std::string& path, double fps, cv::Size frameSize) {
    close();
    switch (format) {
    case ClipFormat::Avi: opened = file.open(path, fps, frameSize); break;
    case ClipFormat::Mp4: opened = mp4.open(path, fps, frameSize); break;
    case ClipFormat::Copy: opened = mp4.openCopy(path); break;
    }
    return opened;
}

void ClipWriter::write(const cv::Mat& frame) {
    write(ClipFrame{frame, nullptr, nullptr});
}

void ClipWriter::write(const ClipFrame& frame) {
    if (opened) queue.push(frame, BoundedQueue<ClipFrame>::WhenFull::Wait);
}

long long ClipWriter::close(std::optional<double> fps) {
    queue.waitUntilDone();
    if (!opened) return 0;
    opened = false;
    if (format != ClipFormat::Avi) return mp4.close();
    if (fps) file.setFps(*fps);
    return file.finish();
}

void ClipWriter::work() {
    while (const std::optional<ClipFrame> frame = queue.pop()) {
        // Once the file refuses a frame, the rest of the clip is not encoded.
        if (failure().empty()) encode(*frame);
        queue.done();
    }
}

void ClipWriter::encode(const ClipFrame& frame) {
    if (format == ClipFormat::Copy) {
        if (frame.packets) mp4.write(*frame.packets);
    } else if (format == ClipFormat::Mp4)
        mp4.write(frame.jpeg ? cv::imdecode(*frame.jpeg, cv::IMREAD_COLOR) : frame.image);
    else if (frame.jpeg)
        file.append(*frame.jpeg);
    else if (cv::imencode(".jpg", frame.image, jpeg, jpegQuality))
        file.append(jpeg);
}
