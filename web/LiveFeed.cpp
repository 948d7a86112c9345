#include "web/LiveFeed.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

constexpr int jpegQuality = 80;

// Views and widths asked for at once are few; the bound only keeps a client
// that tries every width from growing the list.
constexpr size_t keptEncodings = 16;

std::vector<uchar> encode(const cv::Mat& image, int width) {
    cv::Mat shown = image;
    if (width > 0 && width < image.cols) {
        const int height = std::max(1, static_cast<int>(std::lround(double(image.rows) * width / image.cols)));
        cv::resize(image, shown, cv::Size(width, height), 0, 0, cv::INTER_AREA);
    }
    std::vector<uchar> bytes;
    cv::imencode(".jpg", shown, bytes, {cv::IMWRITE_JPEG_QUALITY, jpegQuality});
    return bytes;
}

} // namespace

// The last JPEG of one view at one width; its mutex makes clients that want
// the same wait for one encoding instead of each making their own.
struct LiveFeed::Encoding {
    Picture picture;
    std::mutex mutex;
    long long index = -1;
    std::shared_ptr<const std::vector<uchar>> bytes;
};

void LiveFeed::publish(const WatchedFrame& frame) {
    std::unique_lock<std::mutex> lock(mutex);
    annotated = frame.frame;
    annotatedIndex = frame.index;
    if (maskInterests > 0) {
        lock.unlock(); // the mask is made on this thread; clients need not wait for it
        cv::Mat motion = frame.motionMask();
        lock.lock();
        mask = std::move(motion);
        maskIndex = frame.index;
    }
    published.notify_all();
}

std::optional<LiveFeed::Jpeg> LiveFeed::next(const Picture& picture, long long after, Clock::time_point deadline) {
    cv::Mat maskImage;
    VideoFrame frame;
    long long index;
    const bool isMask = picture.view == View::Mask;
    {
        std::unique_lock<std::mutex> lock(mutex);
        const long long& newest = isMask ? maskIndex : annotatedIndex;
        if (!published.wait_until(lock, deadline, [&] { return closed || newest > after; }) || closed) return {};
        if (isMask) maskImage = mask;
        else frame = annotated;
        index = newest;
    }
    const std::shared_ptr<Encoding> encoding = encodingFor(picture);
    std::lock_guard<std::mutex> lock(encoding->mutex);
    if (encoding->index != index) {
        // The frame is made colour and annotated here, on the viewer's
        // thread, when the detection thread had no need to.
        const cv::Mat& image = isMask ? maskImage : frame.annotated();
        encoding->bytes = std::make_shared<const std::vector<uchar>>(encode(image, picture.width));
        encoding->index = index;
    }
    return Jpeg{index, encoding->bytes};
}

long long LiveFeed::newest(View view) {
    std::lock_guard<std::mutex> lock(mutex);
    return view == View::Mask ? maskIndex : annotatedIndex;
}

void LiveFeed::close() {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    published.notify_all();
}

std::shared_ptr<LiveFeed::Encoding> LiveFeed::encodingFor(const Picture& picture) {
    std::lock_guard<std::mutex> lock(encodingsMutex);
    auto it = std::find_if(encodings.begin(), encodings.end(), [&](const std::shared_ptr<Encoding>& e) {
        return e->picture.view == picture.view && e->picture.width == picture.width;
    });
    if (it != encodings.end()) {
        encodings.splice(encodings.begin(), encodings, it);
    } else {
        encodings.push_front(std::make_shared<Encoding>());
        encodings.front()->picture = picture;
        if (encodings.size() > keptEncodings) encodings.pop_back();
    }
    return encodings.front();
}

LiveFeed::MaskInterest::MaskInterest(LiveFeed& feed) : feed(feed) {
    std::lock_guard<std::mutex> lock(feed.mutex);
    ++feed.maskInterests;
}

LiveFeed::MaskInterest::~MaskInterest() {
    std::lock_guard<std::mutex> lock(feed.mutex);
    --feed.maskInterests;
}
