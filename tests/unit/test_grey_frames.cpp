// The files of grey frames that motion_trace_raw reads: what is written
// reads back, headers as other programs write them are understood, and
// damaged or oversized frames are refused without reading past them.
#include "tools/trace/GreyFrames.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// A stream holding `bytes`.
std::FILE* streamOf(const std::string& bytes) {
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    return f;
}

GreyFrameRead readOnly(const std::string& bytes, GreyFrame& frame) {
    std::FILE* f = streamOf(bytes);
    const GreyFrameRead read = readGreyFrame(f, frame);
    std::fclose(f);
    return read;
}

} // namespace

TEST(GreyFrames, WrittenFramesReadBackThenTheStreamEnds) {
    std::FILE* f = std::tmpfile();
    const uint8_t pixels[6] = {0, 10, 255, 32, 9, 13}; // 9 and 13 are white space as characters
    ASSERT_TRUE(writeGreyFrame(f, pixels, 3, 2));
    ASSERT_TRUE(writeGreyFrame(f, nullptr, 0, 0)); // a frame the source could not use
    std::rewind(f);
    GreyFrame frame;
    ASSERT_EQ(readGreyFrame(f, frame), GreyFrameRead::frame);
    EXPECT_EQ(frame.width, 3);
    EXPECT_EQ(frame.height, 2);
    EXPECT_EQ(frame.pixels, std::vector<uint8_t>(pixels, pixels + 6));
    ASSERT_EQ(readGreyFrame(f, frame), GreyFrameRead::frame);
    EXPECT_TRUE(frame.pixels.empty());
    EXPECT_EQ(readGreyFrame(f, frame), GreyFrameRead::end);
    std::fclose(f);
}

TEST(GreyFrames, HeadersWithCommentsAndOtherSpacing) {
    GreyFrame frame;
    ASSERT_EQ(readOnly("P5 # made elsewhere\n2\t1 # two by one\n255\rab", frame), GreyFrameRead::frame);
    EXPECT_EQ(frame.pixels, (std::vector<uint8_t>{'a', 'b'}));
}

TEST(GreyFrames, DamagedFramesAreRefused) {
    GreyFrame frame;
    for (const char* bytes : {"P6\n2 1\n255\nab", "P5\n2 1\n65535\nabcd", "P5\n2 1\n255\na", "P5\n2 1 255\n",
                              "P5\n-2 1\n255\nab", "P5\n16385 1\n255\n", "P5\n99999999999999999999 1\n255\n"})
        EXPECT_EQ(readOnly(bytes, frame), GreyFrameRead::damaged) << bytes;
}
