#include "web/ImageHeader.h"

#include <cstring>

namespace {

unsigned bigEndian(const std::vector<uchar>& bytes, size_t at, int count) {
    unsigned value = 0;
    for (int i = 0; i < count; ++i) value = value << 8 | bytes[at + i];
    return value;
}

// The first chunk of a PNG is its header: width and height, 4 bytes each.
std::optional<cv::Size> pngSize(const std::vector<uchar>& bytes) {
    static const uchar signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (bytes.size() < 24 || std::memcmp(bytes.data(), signature, 8) != 0 || std::memcmp(&bytes[12], "IHDR", 4) != 0)
        return std::nullopt;
    const unsigned width = bigEndian(bytes, 16, 4);
    const unsigned height = bigEndian(bytes, 20, 4);
    if (width > INT32_MAX || height > INT32_MAX) return cv::Size(INT32_MAX, INT32_MAX);
    return cv::Size(static_cast<int>(width), static_cast<int>(height));
}

// A JPEG's segments up to the first start of frame, whose header holds
// height and width (2 bytes each, after the precision byte).
std::optional<cv::Size> jpegSize(const std::vector<uchar>& bytes) {
    if (bytes.size() < 4 || bytes[0] != 0xff || bytes[1] != 0xd8) return std::nullopt;
    size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (bytes[at] != 0xff) return std::nullopt;
        const uchar marker = bytes[at + 1];
        if (marker == 0xff) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) { // no length
            at += 2;
            continue;
        }
        const size_t length = bigEndian(bytes, at + 2, 2);
        const bool startOfFrame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (startOfFrame) {
            if (at + 9 > bytes.size()) return std::nullopt;
            return cv::Size(static_cast<int>(bigEndian(bytes, at + 7, 2)), static_cast<int>(bigEndian(bytes, at + 5, 2)));
        }
        at += 2 + length;
    }
    return std::nullopt;
}

} // namespace

std::optional<cv::Size> promisedImageSize(const std::vector<uchar>& bytes) {
    if (std::optional<cv::Size> size = pngSize(bytes)) return size;
    return jpegSize(bytes);
}
