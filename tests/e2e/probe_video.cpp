// Reports what end-to-end tests need to know about a video file, one
// key=value per line:
//
//   probe_video FILE                      fourcc, fps, width, height, frames (decoded)
//   probe_video FILE --square-center      also center=... : per frame, the middle column of the
//                                         bright square on the middle row (-1: none)
//   probe_video FILE --red X Y W H        also red_min=, red_max= : fewest and most reddish
//                                         pixels inside the rectangle over all frames
//
// Exit status 1 when the file cannot be opened.
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The test videos have a grey background and a light grey square; the
// overlays are drawn in pure red, which Motion-JPEG blurs but keeps red.
bool isReddish(const cv::Vec3b& bgr) {
    return bgr[2] > 120 && bgr[2] - std::max(bgr[0], bgr[1]) > 60;
}

// By brightness, which Motion-JPEG keeps sharp where it blurs colour. The
// red box of a reported object may cover the square's outer columns; it
// covers both sides alike, so the middle stays put.
bool isSquare(const cv::Vec3b& bgr) {
    return 0.114 * bgr[0] + 0.587 * bgr[1] + 0.299 * bgr[2] > 155.0;
}

double squareCenter(const cv::Mat& frame) {
    const int row = frame.rows / 2;
    int left = -1;
    int right = -1;
    for (int x = 0; x < frame.cols; ++x) {
        if (!isSquare(frame.at<cv::Vec3b>(row, x))) continue;
        if (left < 0) left = x;
        right = x;
    }
    return left < 0 ? -1.0 : (left + right) / 2.0;
}

int countRed(const cv::Mat& frame, const cv::Rect& area) {
    const cv::Rect inside = area & cv::Rect(0, 0, frame.cols, frame.rows);
    int count = 0;
    for (int y = inside.y; y < inside.y + inside.height; ++y)
        for (int x = inside.x; x < inside.x + inside.width; ++x) count += isReddish(frame.at<cv::Vec3b>(y, x));
    return count;
}

std::string fourccText(double code) {
    const int c = static_cast<int>(code);
    return {char(c & 255), char((c >> 8) & 255), char((c >> 16) & 255), char((c >> 24) & 255)};
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: probe_video FILE [--square-center] [--red X Y W H]\n");
        return 2;
    }
    bool wantSquare = false;
    bool wantRed = false;
    cv::Rect redArea;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--square-center") == 0) {
            wantSquare = true;
        } else if (std::strcmp(argv[i], "--red") == 0 && i + 4 < argc) {
            wantRed = true;
            redArea = cv::Rect(std::atoi(argv[i + 1]), std::atoi(argv[i + 2]), std::atoi(argv[i + 3]), std::atoi(argv[i + 4]));
            i += 4;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }

    cv::VideoCapture video(argv[1], cv::CAP_ANY);
    if (!video.isOpened()) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    std::printf("fourcc=%s\n", fourccText(video.get(cv::CAP_PROP_FOURCC)).c_str());
    std::printf("fps=%.2f\n", video.get(cv::CAP_PROP_FPS));
    std::printf("width=%d\n", static_cast<int>(video.get(cv::CAP_PROP_FRAME_WIDTH)));
    std::printf("height=%d\n", static_cast<int>(video.get(cv::CAP_PROP_FRAME_HEIGHT)));

    int frames = 0;
    int redMin = INT_MAX;
    int redMax = 0;
    std::string positions;
    cv::Mat frame;
    while (video.read(frame) && !frame.empty()) {
        ++frames;
        if (wantSquare) {
            char center[16];
            std::snprintf(center, sizeof center, "%.1f", squareCenter(frame));
            positions += (positions.empty() ? "" : " ") + std::string(center);
        }
        if (wantRed) {
            const int red = countRed(frame, redArea);
            redMin = std::min(redMin, red);
            redMax = std::max(redMax, red);
        }
    }
    std::printf("frames=%d\n", frames);
    if (wantSquare) std::printf("center=%s\n", positions.c_str());
    if (wantRed) std::printf("red_min=%d\nred_max=%d\n", frames > 0 ? redMin : 0, redMax);
    return 0;
}
