// What the web page takes from the network and from the output directory:
// credentials, event file names, byte ranges and the events log.
#include "events/EventFiles.h"
#include "web/ByteRange.h"
#include "web/Credentials.h"
#include "web/EventList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

fs::path freshDirectory(const std::string& name) {
    const fs::path directory = fs::temp_directory_path() / ("motion_web_" + name + "_" + std::to_string(getpid()));
    fs::remove_all(directory);
    fs::create_directories(directory);
    return directory;
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string basic(const std::string& base64) {
    return "Basic " + base64;
}

} // namespace

TEST(WebCredentials, AcceptsExactlyTheListedPairs) {
    const fs::path directory = freshDirectory("credentials");
    // CRLF endings, an empty line, a password with a colon.
    writeFile(directory / "users", "alice:secret\r\n\nbob:pa:ss\n");
    Credentials credentials;
    ASSERT_EQ(credentials.load((directory / "users").string()), "");

    EXPECT_TRUE(credentials.accepts(basic("YWxpY2U6c2VjcmV0")));   // alice:secret
    EXPECT_TRUE(credentials.accepts(basic("Ym9iOnBhOnNz")));       // bob:pa:ss
    EXPECT_FALSE(credentials.accepts(basic("YWxpY2U6c2VjcmU=")));  // alice:secre
    EXPECT_FALSE(credentials.accepts(basic("YWxpY2U6c2VjcmV0MQ=="))); // alice:secret1
    EXPECT_FALSE(credentials.accepts(basic("Ym9iOnBh")));          // bob:pa
    EXPECT_FALSE(credentials.accepts(basic("YWxpY2U6c2VjcmV0!")));  // not base64
    EXPECT_FALSE(credentials.accepts(basic("YWxpY2U6c2VjcmV0=")));  // bad padding
    EXPECT_FALSE(credentials.accepts("Bearer YWxpY2U6c2VjcmV0"));
    EXPECT_FALSE(credentials.accepts(""));

    writeFile(directory / "broken", "alice:secret\nbob\n");
    EXPECT_NE(credentials.load((directory / "broken").string()).find("line 2"), std::string::npos);
    writeFile(directory / "empty", "\n");
    EXPECT_NE(credentials.load((directory / "empty").string()), "");
    EXPECT_NE(credentials.load((directory / "missing").string()), "");
    fs::remove_all(directory);
}

TEST(WebEventFiles, OnlyTheNamesEventsGetAreServed) {
    for (const char* name : {"event_20261207_181502_0001.avi", "event_20261207_181502_0001.mp4",
                             "event_20261207_181502_0001.jpg", "event_20261207_181502_12345_2.mp4"})
        EXPECT_NE(eventFileStem(name), "") << name;
    for (const char* name : {"events.jsonl", "../event_20261207_181502_0001.avi", "event_20261207_181502_0001.avi/..",
                             "a/event_20261207_181502_0001.jpg", "event_20261207_181502_0001.avi.part",
                             "event_20261207_181502_001.avi", "event_20261207_181502_0001.png", ""})
        EXPECT_EQ(eventFileStem(name), "") << name;
    EXPECT_EQ(eventFileStem("event_20261207_181502_" + std::string(5000, '1') + ".avi"), "");
}

TEST(WebByteRange, OneRangeIsServedWithinTheFile) {
    struct Case {
        const char* header;
        ByteRange::Kind kind;
        size_t first, last;
    };
    const Case cases[] = {
        {"", ByteRange::Whole, 0, 0},
        {"bytes=0-9", ByteRange::Part, 0, 9},
        {"bytes=90-", ByteRange::Part, 90, 99},
        {"bytes=90-1000", ByteRange::Part, 90, 99},
        {"bytes=-10", ByteRange::Part, 90, 99},
        {"bytes=-1000", ByteRange::Part, 0, 99},
        {"bytes=100-", ByteRange::Unsatisfiable, 0, 0},
        {"bytes=-0", ByteRange::Unsatisfiable, 0, 0},
        {"bytes=0-1,5-6", ByteRange::Whole, 0, 0},
        {"bytes=9-2", ByteRange::Whole, 0, 0},
        {"bytes=+1-2", ByteRange::Whole, 0, 0},
        {"lines=0-9", ByteRange::Whole, 0, 0},
        {"bytes=99999999999999999999-", ByteRange::Whole, 0, 0},
    };
    for (const Case& c : cases) {
        const ByteRange range = byteRangeOf(c.header, 100);
        EXPECT_EQ(range.kind, c.kind) << c.header;
        if (c.kind == ByteRange::Part) {
            EXPECT_EQ(range.first, c.first) << c.header;
            EXPECT_EQ(range.last, c.last) << c.header;
        }
    }
    EXPECT_EQ(byteRangeOf("bytes=0-", 0).kind, ByteRange::Unsatisfiable);
}

// Two runs' lines, more than one read chunk of them, a torn last line: the
// end lines come newest first, with the URLs of the files still there.
TEST(WebEventList, EndLinesNewestFirstFromTheLogsEnd) {
    const fs::path directory = freshDirectory("history");
    std::string log;
    const int events = 1500; // about 200 KiB of lines
    for (int n = 1; n <= events; ++n) {
        char stem[64];
        std::snprintf(stem, sizeof stem, "event_20260101_%06d_%04d", n, n);
        log += "{\"type\":\"start\",\"event\":" + std::to_string(n) + ",\"frame\":1,\"t\":0.0,\"time\":\"x\"}\n";
        log += "{\"type\":\"end\",\"event\":" + std::to_string(n) + ",\"clip\":\"" + stem +
               ".mp4\",\"snapshot\":null,\"objects\":[],\"pad\":\"" + std::string(40, 'p') + "\"}\n";
        if (n == events) writeFile(directory / (std::string(stem) + ".mp4"), "clip");
    }
    log += "{\"type\":\"end\",\"event\":9"; // a crash mid-line
    writeFile(directory / "events.jsonl", log);

    const nlohmann::ordered_json newest = recentEvents(directory, 3);
    ASSERT_EQ(newest.size(), 3u);
    EXPECT_EQ(newest[0]["event"], events);
    EXPECT_EQ(newest[0]["id"], "event_20260101_001500_1500");
    EXPECT_EQ(newest[0]["clipUrl"], "/events/event_20260101_001500_1500.mp4");
    EXPECT_TRUE(newest[0]["snapshotUrl"].is_null());
    EXPECT_TRUE(newest[1]["clipUrl"].is_null()); // its clip is gone
    EXPECT_EQ(newest[2]["event"], events - 2);

    const nlohmann::ordered_json all = recentEvents(directory, 100000);
    ASSERT_EQ(all.size(), size_t(events));
    for (int i = 0; i < events; ++i) ASSERT_EQ(all[i]["event"], events - i);
    EXPECT_TRUE(recentEvents(directory / "nowhere", 10).empty());
    fs::remove_all(directory);
}
