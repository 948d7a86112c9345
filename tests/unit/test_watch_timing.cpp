// The watcher's time rules at a frame rate whose frame times are not exact
// in binary: a whole number of frame periods must count as reached, both
// for the quiet time that ends an event and for the pre-capture window.
#include "events/EventTracker.h"
#include "events/PreCaptureBuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A frame's time as a 30 fps stream position reaches the watcher: the
// timestamp in seconds, through milliseconds and back.
double frameTime(long long index) {
    return index * (1.0 / 30.0) * 1000.0 / 1000.0;
}

std::vector<DetectedObject> objects(int count) {
    std::vector<DetectedObject> list(size_t(count), DetectedObject{});
    for (int k = 0; k < count; ++k) {
        list[size_t(k)].objectId = k + 1;
        list[size_t(k)].pixelCount = 100;
    }
    return list;
}

TEST(WatchTiming, EventEndsExactlyThreeSecondsOfFramesAfterTheLastObject) {
    for (long long lastObject = 0; lastObject < 400; ++lastObject) {
        EventTracker tracker(3.0);
        long long ended = -1;
        for (long long i = 0; ended < 0 && i < lastObject + 200; ++i) {
            const FrameVerdict v = tracker.observe(i, frameTime(i), objects(i <= lastObject ? 1 : 0));
            if (v.step == FrameVerdict::Ended) ended = i;
        }
        ASSERT_EQ(ended, lastObject + 90) << "last object on frame " << lastObject;
        EXPECT_EQ(tracker.event().endFrame, ended);
    }
}

TEST(WatchTiming, PreCaptureHoldsExactlyTwoSecondsOfFrames) {
    PreCaptureBuffer buffer(2.0);
    for (long long i = 0; i < 1000; ++i) {
        buffer.push(VideoFrame(cv::Mat()), frameTime(i));
        ASSERT_EQ(buffer.size(), size_t(std::min<long long>(i + 1, 61))) << "after frame " << i;
    }
}

TEST(WatchTiming, SnapshotIsTheEarliestFrameWithTheMostObjects) {
    EventTracker tracker(3.0);
    const int counts[] = {1, 2, 2, 3, 1, 3};
    std::vector<bool> snapshots;
    for (int i = 0; i < 6; ++i) snapshots.push_back(tracker.observe(i, frameTime(i), objects(counts[i])).newSnapshot);
    EXPECT_EQ(snapshots, (std::vector<bool>{true, true, false, true, false, false}));
    EXPECT_EQ(tracker.event().objects.size(), 3u);
    EXPECT_EQ(tracker.event().objects.at(3).firstFrame, 3);
    EXPECT_EQ(tracker.event().objects.at(3).lastFrame, 5);
}

} // namespace
