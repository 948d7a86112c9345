#include "web/WebSink.h"

#include "events/EventJson.h"

#include <cmath>

namespace {

// The frame rate is measured over this much of the recent past.
constexpr auto fpsWindow = std::chrono::seconds(5);

const char* stateName(SourceState state) {
    switch (state) {
    case SourceState::Running: return "running";
    case SourceState::Lost: return "lost";
    case SourceState::Ended: return "ended";
    }
    return "running";
}

// Multiplying and dividing by a power of ten gives the double nearest the
// decimal, which the JSON then shows with just these digits.
double rounded(double value, double scale) {
    return std::round(value * scale) / scale;
}

} // namespace

std::string sourceWithoutPassword(const std::string& source) {
    const size_t scheme = source.find("://");
    if (scheme == std::string::npos) return source;
    const size_t authorityStart = scheme + 3;
    const size_t authorityEnd = source.find_first_of("/?#", authorityStart);
    const size_t at = source.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd);
    if (at == std::string::npos || at < authorityStart) return source;
    const size_t colon = source.find(':', authorityStart);
    if (colon == std::string::npos || colon > at) return source;
    return source.substr(0, colon + 1) + "***" + source.substr(at);
}

WebSink::WebSink(WatchIdentity identity) : identity(std::move(identity)) {}

void WebSink::line(const EventLine& line) {
    nlohmann::ordered_json start;
    if (line.kind == EventLine::Start) {
        start = nlohmann::ordered_json::parse(line.json);
        start["id"] = line.fileStem;
    }
    std::lock_guard<std::mutex> lock(mutex);
    running = std::move(start);
    events = line.event.number;
}

void WebSink::frame(const WatchedFrame& frame) {
    live.publish(frame);
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    frameIndex = frame.index;
    frameT = frame.t;
    recentFrames.push_back(now);
    while (now - recentFrames.front() > fpsWindow) recentFrames.pop_front();
}

void WebSink::sourceState(SourceState changed) {
    std::lock_guard<std::mutex> lock(mutex);
    state = changed;
}

double WebSink::measuredFps() const {
    if (recentFrames.size() < 2) return 0.0;
    const double span = std::chrono::duration<double>(recentFrames.back() - recentFrames.front()).count();
    return span > 0.0 ? (recentFrames.size() - 1) / span : 0.0;
}

nlohmann::ordered_json WebSink::status() {
    std::lock_guard<std::mutex> lock(mutex);
    nlohmann::ordered_json s;
    s["name"] = identity.name;
    s["source"] = sourceWithoutPassword(identity.source);
    s["live"] = identity.live;
    s["state"] = stateName(state);
    s["frame"] = frameIndex >= 0 ? nlohmann::ordered_json(frameIndex) : nlohmann::ordered_json();
    s["t"] = frameIndex >= 0 ? nlohmann::ordered_json(rounded(frameT, 1000)) : nlohmann::ordered_json();
    s["fps"] = rounded(measuredFps(), 10);
    s["width"] = identity.frameSize.width;
    s["height"] = identity.frameSize.height;
    s["eventActive"] = !running.is_null();
    s["events"] = events;
    s["startedAt"] = isoLocalTime(identity.startedAt);
    s["version"] = MOTION_VERSION;
    return s;
}

nlohmann::ordered_json WebSink::runningEvent() {
    std::lock_guard<std::mutex> lock(mutex);
    return running;
}
