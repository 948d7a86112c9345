// Score of a track-blob pair: a Gaussian likelihood of the blob's centroid
// around the track's predicted centroid, times the share of agreeing votes
// among up to nine plausibility tests. The precision of every step (float,
// or double where noted) is part of the result and must not change.
#pragma once

#include "detector/tracking/Track.h"

namespace motion {

// In 0..1; pairs above 0.5 may be associated.
float matchScore(const Blob& blob, const Track& track);

// Of the steps a -> b and b -> c along one axis: 0 for equal speeds, towards
// 1 the more they differ, 0.5 when either step is 0.
float speedDissimilarity(float a, float b, float c);

} // namespace motion
