// Interactive choice of the video file, for the source text "open file dialog".
#pragma once

namespace cv {
class VideoCapture;
}

// Shows the platform's modal file-open dialog titled "OPEN VIDEO FILE" for
// one existing file of any type. When a file is chosen, prints its path on a
// line of its own and opens capture on it. Returns true when capture is open
// on the chosen file afterwards; false when the dialog was cancelled or
// failed, or the file could not be opened. Call before any window exists.
bool openVideoFileDialog(cv::VideoCapture& capture);
