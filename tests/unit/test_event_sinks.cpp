// The watcher's stream as a sink sees it, on a real video through the real
// loop: every log line in order and byte for byte as events.jsonl holds it,
// every frame once with a usable motion mask, and the source's state from
// running to ended. Plus the exact bytes of a log line.
#include "detector/MotionDetector.h"
#include "events/EventJson.h"
#include "events/LogSinks.h"
#include "io/DetectionSession.h"
#include "io/FrameReader.h"
#include "tools/watch/Watcher.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class RecordingSink : public EventSink {
public:
    std::vector<std::string> lines;
    std::vector<long long> frames;
    std::vector<SourceState> states;
    int maskPixels = 0;

    void line(const EventLine& line) override {
        lines.push_back(line.json);
        EXPECT_EQ(line.kind == EventLine::End, line.files != nullptr);
    }
    void frame(const WatchedFrame& frame) override {
        frames.push_back(frame.index);
        const cv::Mat mask = frame.motionMask();
        ASSERT_EQ(mask.size(), frame.frame.size());
        maskPixels += cv::countNonZero(mask);
    }
    void sourceState(SourceState state) override { states.push_back(state); }
};

// A square crossing a grey picture from frame 20 to 60 of 100, at 10 fps.
void writeCrossingSquare(const fs::path& path) {
    cv::VideoWriter writer(path.string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10.0, cv::Size(160, 120));
    for (int i = 0; i < 100; ++i) {
        cv::Mat frame(120, 160, CV_8UC3, cv::Scalar::all(90));
        if (i >= 20 && i < 60) cv::rectangle(frame, cv::Rect(10 + 2 * (i - 20), 50, 16, 16), cv::Scalar::all(230), -1);
        writer.write(frame);
    }
}

std::vector<std::string> fileLines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(EventSinks, ASinkSeesTheStreamAsTheLogDoes) {
    const fs::path dir = fs::path(::testing::TempDir()) / "event_sinks";
    fs::remove_all(dir);
    fs::create_directories(dir / "out");
    writeCrossingSquare(dir / "square.avi");
    std::ofstream(dir / "config.json") << R"({"Config_Params": {"video_source_init_string": "unused.avi",
        "pixel_deviation": 10.0, "alpha_coeff": 0.01, "max_object_width": 128, "min_object_width": 2,
        "max_object_height": 128, "min_object_height": 2, "min_object_velocity": 0.1,
        "max_object_velocity": 20.0, "num_threads": 1, "track_detection_criterion": 15,
        "track_reset_criterion": 5, "min_distance_between_objects": 16, "scale_factor": 1,
        "num_gauss_elements_in_pixel_model": 5}})";

    MotionDetector detector;
    DetectionSession session(detector);
    std::unique_ptr<FrameReader> reader;
    const auto open = [&](const std::string& text) {
        reader = std::make_unique<FrameReader>(text);
        return reader->open();
    };
    ASSERT_EQ(session.start({(dir / "config.json").string(), "", (dir / "square.avi").string(), open}),
              StartFailure::None);
    std::vector<std::string> reports;
    EventLogFile log([&](const std::string& m) { reports.push_back(m); });
    ASSERT_TRUE(log.open((dir / "out" / "events.jsonl").string()));
    RecordingSink sink;
    Watcher watcher({dir / "out", 1.0, 1.0, std::nullopt}, session, *reader, {&log, &sink},
                    [&](const std::string& m) { reports.push_back(m); });
    EXPECT_EQ(watcher.run(), 0);

    EXPECT_TRUE(reports.empty());
    ASSERT_EQ(sink.lines.size(), 2u); // one event: its start and its end
    EXPECT_EQ(sink.lines, fileLines(dir / "out" / "events.jsonl"));
    ASSERT_EQ(sink.frames.size(), 100u);
    for (long long i = 0; i < 100; ++i) EXPECT_EQ(sink.frames[size_t(i)], i);
    EXPECT_GT(sink.maskPixels, 0);
    EXPECT_EQ(sink.states, (std::vector<SourceState>{SourceState::Running, SourceState::Ended}));
}

TEST(EventSinks, LineBytesKeepTheirFormat) {
    Event event;
    event.number = 7;
    event.startFrame = 20;
    event.endFrame = 75;
    event.t0 = 2.0;
    event.t1 = 7.5;
    event.objects[3] = EventObject{21, 60, 256};
    event.interrupted = true;
    const std::time_t when = 0;
    const std::string time = isoLocalTime(when);
    EXPECT_EQ(eventLineText(eventStartJson(event, when)),
              R"({"type":"start","event":7,"frame":20,"t":2.000,"time":")" + time + "\"}");
    EventFiles::Written files;
    files.clip = "event_1.avi";
    files.clipFrames = 56;
    EXPECT_EQ(eventLineText(eventEndJson(event, when, files)),
              R"({"type":"end","event":7,"startFrame":20,"endFrame":75,"t0":2.000,"t1":7.500,"time":")" + time +
                  R"(","clip":"event_1.avi","clipFrames":56,"snapshot":null,)"
                  R"("objects":[{"objectId":3,"firstFrame":21,"lastFrame":60,"maxPixelCount":256}],"interrupted":true})");
}

} // namespace
