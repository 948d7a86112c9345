// The picture size an image file's header promises, read without decoding.
//
// A few kilobytes of PNG or JPEG can promise a picture of a billion pixels,
// which a decoder would allocate gigabytes for: an image that arrives over
// the network has its size checked here first.
#pragma once

#include <opencv2/core.hpp>

#include <optional>
#include <vector>

// The width and height in a PNG's or a JPEG's header; nothing for other
// formats or a header cut short.
std::optional<cv::Size> promisedImageSize(const std::vector<uchar>& bytes);
