// The live loop of the demo: one pass per frame until ESC.
//
// Each pass reads a colour frame, has the detector process its grey version
// within the zones, darkens the excluded zones and draws the reported objects
// and the processing time onto it, hands it to a running recording, shows it
// beside the motion mask, acts on the key pressed (ESC ends, space resets the
// detector, r starts or stops a recording, c and w go to the zone editor)
// and, for a file, waits out the rest of the frame period. A stop
// signal (see Shutdown.h) or a window closed by the user ends it as ESC does.
#pragma once

#include <opencv2/videoio.hpp>

class DetectionSession;
class ZoneEditor;

// Seconds without any usable frame after which the loop gives up on the
// source (a camera unplugged, a one-frame file that cannot loop).
constexpr int noFrameLimitSeconds = 5;

// Creates the windows "INPUT VIDEO" and "MOTION MASK" side by side and runs
// the loop on the opened source, with zones edited in the input window.
// Returns the exit status: -1 on every way out (ESC, a stop signal, a closed
// window, a source that stops delivering usable frames), each after the
// windows are closed and a running recording is finalised.
// capture reads the session's source, opened already.
int runLiveLoop(cv::VideoCapture& capture, DetectionSession& session, ZoneEditor& zones);
