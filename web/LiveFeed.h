// The watcher's latest frame for the web page's live view and snapshots.
//
// The detection thread publishes each frame by reference (no copy, no
// encoding) and goes on; it never waits for a client. A client's own thread
// asks for the next frame in its view at its own pace and encodes the JPEG
// there, so encoding happens only while someone watches and only as often
// as asked; a client that is slow to read simply gets a later frame. A JPEG
// is encoded once per frame, view and width, and shared by every client
// that asks for the same.
//
// The motion mask costs the detection thread a little, so it is taken only
// while someone holds a MaskInterest.
#pragma once

#include "events/EventSink.h"

#include <opencv2/core.hpp>

#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class LiveFeed {
public:
    using Clock = std::chrono::steady_clock;

    enum class View { Annotated, Mask };

    struct Picture {
        View view = View::Annotated;
        int width = 0; // scaled down to this width (aspect kept); 0 or wider than the frame: frame size
    };

    struct Jpeg {
        long long index; // the frame's
        std::shared_ptr<const std::vector<uchar>> bytes;
    };

    // Detection thread: the frame becomes the latest.
    void publish(const WatchedFrame& frame);

    // The JPEG of the newest frame with an index above `after` (-1: any),
    // waiting for one until the deadline; nothing when none came or the
    // feed is closed.
    std::optional<Jpeg> next(const Picture& picture, long long after, Clock::time_point deadline);

    // The index of the newest frame of the view (-1: none yet).
    long long newest(View view);

    // Wakes every waiting client for good.
    void close();

    // While one lives, frames come with their motion mask.
    class MaskInterest {
    public:
        explicit MaskInterest(LiveFeed& feed);
        ~MaskInterest();
        MaskInterest(const MaskInterest&) = delete;
        MaskInterest& operator=(const MaskInterest&) = delete;

    private:
        LiveFeed& feed;
    };

private:
    struct Encoding;
    std::shared_ptr<Encoding> encodingFor(const Picture& picture);

    std::mutex mutex;
    std::condition_variable published;
    VideoFrame annotated;
    long long annotatedIndex = -1;
    cv::Mat mask;
    long long maskIndex = -1;
    int maskInterests = 0;
    bool closed = false;

    std::mutex encodingsMutex;
    std::list<std::shared_ptr<Encoding>> encodings; // most recently used first
};
