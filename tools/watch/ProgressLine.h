// The watcher's progress on a terminal: one line on stderr, redrawn at most
// ten times a second; nothing when stderr is not a terminal.
//
//   file:  [##########              ] 240/795 frames, 2 events
//   live:  1234 frames, 9.8 fps, 3 events
#pragma once

#include <chrono>

class ProgressLine {
public:
    // totalFrames 0: a live source (or a file of unknown length).
    explicit ProgressLine(long long totalFrames);

    void update(long long frames, int events);

    // Draws the final state and ends the line.
    void finish(long long frames, int events);

private:
    void draw(long long frames, int events);

    bool enabled;
    long long total;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw{};
};
