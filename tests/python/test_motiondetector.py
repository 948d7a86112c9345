"""The Python module against motion_trace on the same frames, the arguments
it must refuse, and detectors in threads. EXAMPLES_DIR names the examples."""
import os
import subprocess
import sys
import threading
import time

import cv2
import numpy as np
import pytest

import motiondetector as md

FLOATS = ("centroidX", "centroidY", "reserved", "velocityX", "velocityY")


def configured(settings):
    detector = md.MotionDetector()
    for key, value in settings.items():
        if hasattr(md.Param, key.upper()):
            assert detector.set_param(getattr(md.Param, key.upper()), value), key
    return detector


def run(detector, frames):
    """motion_trace's lines, read through the module; the object table must
    hold the same records as the object list."""
    lines = []
    for index, frame in enumerate(frames):
        accepted = detector.process_frame(frame)
        objects = [{name: getattr(o, name) for name in md.OBJECT_DTYPE.names} for o in detector.objects()]
        assert [tuple(row) for row in detector.objects_array().tolist()] == [tuple(o.values()) for o in objects]
        lines.append({"frame": index, "accepted": accepted, "objects": objects,
                      "motionPixels": int(np.count_nonzero(detector.motion_mask() == 255))})
    return lines


@pytest.mark.parametrize("changes", [{}, {"scale_factor": 2, "num_threads": 2, "track_detection_criterion": 5}])
def test_same_results_as_motion_trace(frames, trace, changes):
    settings, expected = trace(**changes)
    for line in expected:  # printed with 9 digits, which read back to the same float32
        for o in line["objects"]:
            o.update({name: float(np.float32(o[name])) for name in FLOATS})
    assert run(configured(settings), frames) == expected


def test_refuses_what_it_cannot_read_and_stays_usable(frames):
    detector = md.MotionDetector()
    frame = frames[0]
    wrong = [(TypeError, "dtype uint8", frame.astype(np.float32), None),
             (TypeError, "2-D", np.dstack([frame, frame]), None),
             (ValueError, "C-contiguous", frame[:, ::2], None),
             (TypeError, "dtype uint8", frame, np.ones((240, 320), np.int32)),
             (ValueError, r"\(240, 320\)", frame, np.ones((120, 160), np.uint8)),
             (ValueError, "C-contiguous", frame, np.ones((240, 640), np.uint8)[:, ::2])]
    for error, message, image, region in wrong:
        with pytest.raises(error, match=message):
            detector.process_frame(image, region)
    assert detector.motion_mask() is None, "no frame accepted yet"
    assert not detector.process_frame(np.zeros((20, 320), np.uint8)) and detector.motion_mask() is None

    assert detector.set_param(md.Param.SCALE_FACTOR, 2.5) and detector.get_param(md.Param.SCALE_FACTOR) == 2
    free = md.MotionDetector()
    for frame in frames[:30]:  # a region mask of zeros excludes every pixel
        assert detector.process_frame(frame, np.zeros((120, 160), np.uint8)) and free.process_frame(frame)
    assert detector.motion_mask().shape == (240, 320) and not detector.motion_mask().any()
    assert free.motion_mask().any()


def test_two_detectors_in_two_threads(frames):
    """Each gives what it gives alone. The time against one after the other
    is printed, not judged: a second core may not be free."""
    work = frames * 4
    started = time.perf_counter()
    alone = [run(md.MotionDetector(), work) for _ in range(2)][0]
    sequential = time.perf_counter() - started
    results = []
    threads = [threading.Thread(target=lambda: results.append(run(md.MotionDetector(), work))) for _ in range(2)]
    started = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    side_by_side = time.perf_counter() - started
    assert results == [alone, alone]
    print(f"\n{len(work)} frames twice: one after the other {sequential:.3f} s, in two threads "
          f"{side_by_side:.3f} s", file=sys.stderr)


def test_example_script_draws_boxes(tmp_path, video):
    output = tmp_path / "boxes.avi"
    subprocess.run([sys.executable, os.path.join(os.environ["EXAMPLES_DIR"], "detect_video.py"), str(video),
                    "--output", str(output)], check=True)
    capture, last, count = cv2.VideoCapture(str(output)), None, 0
    while (frame := capture.read()[1]) is not None:
        last, count = frame, count + 1
    b, g, r = (last[:, :, c].astype(int) for c in range(3))
    assert count == 80 and np.count_nonzero(r - np.maximum(g, b) > 80) > 0, "no red box on the last frame"
