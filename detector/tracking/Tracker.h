// The tracking stage: pairs the blobs of each frame with the tracks of the
// last, as a pipeline of steps: score every pair, resolve the candidates
// track by track (earlier tracks have the first claim), correct matched
// tracks, start tracks on the blobs nobody took, coast and retire missed
// tracks, and store the survivors with reported objects first.
#pragma once

#include "detector/tracking/Track.h"

#include <vector>

namespace motion {

// The parameters tracking reads.
struct TrackingSettings {
    double minObjectVelocity; // a smaller displacement counts no direction step
    double maxObjectVelocity; // sets the velocity filter's variance floor and new tracks' search width
    int32_t resetCriterion;   // a track missed this many frames in a row is retired
};

class Tracker {
public:
    // Takes this frame's blobs; afterwards tracks() holds the tracks in
    // precedence order for the next frame.
    void update(const std::vector<Blob>& blobs, const TrackingSettings& settings);

    // The object report marks tracks as reported by giving them identifiers.
    std::vector<Track>& tracks() { return current; }
    const std::vector<Track>& tracks() const { return current; }
    void clear() { current.clear(); }

private:
    std::vector<Track> current;
};

// Corrects a track with the blob it is paired with: direction counts, the
// velocity filter, then the blob itself.
void correct(Track& track, const Blob& blob, const TrackingSettings& settings);

} // namespace motion
