#include "tools/trace/GreyFrames.h"

#include <cctype>

namespace {

// A header number, after white space and comments, and the one white-space
// byte that ends it (after the last number, the pixels follow it).
bool readHeaderNumber(std::FILE* in, long& value) {
    int c = std::fgetc(in);
    for (;;) {
        while (c != EOF && std::isspace(c)) c = std::fgetc(in);
        if (c != '#') break;
        while (c != EOF && c != '\n') c = std::fgetc(in);
    }
    if (c == EOF || !std::isdigit(c)) return false;
    value = 0;
    for (; c != EOF && std::isdigit(c); c = std::fgetc(in)) {
        value = value * 10 + (c - '0');
        if (value > greyFrameMaxSide) return false;
    }
    return c != EOF && std::isspace(c);
}

} // namespace

GreyFrameRead readGreyFrame(std::FILE* in, GreyFrame& frame) {
    const int first = std::fgetc(in);
    if (first == EOF) return GreyFrameRead::end;
    long width = 0, height = 0, maxValue = 0;
    if (first != 'P' || std::fgetc(in) != '5' || !readHeaderNumber(in, width) || !readHeaderNumber(in, height) ||
        !readHeaderNumber(in, maxValue) || maxValue != 255)
        return GreyFrameRead::damaged;
    frame.width = int(width);
    frame.height = int(height);
    frame.pixels.resize(size_t(width) * size_t(height));
    if (std::fread(frame.pixels.data(), 1, frame.pixels.size(), in) != frame.pixels.size())
        return GreyFrameRead::damaged;
    return GreyFrameRead::frame;
}

bool writeGreyFrame(std::FILE* out, const uint8_t* pixels, int width, int height) {
    std::fprintf(out, "P5\n%d %d\n255\n", width, height);
    if (width > 0 && height > 0) std::fwrite(pixels, 1, size_t(width) * size_t(height), out);
    return !std::ferror(out);
}
