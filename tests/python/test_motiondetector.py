"""The Python module against motion_trace on the same frames, the arguments
it must refuse, and detectors in threads.

Environment (set by tests/CMakeLists.txt): MOTION_TRACE, MAKE_TEST_VIDEO,
TRACE_CONFIG (the regression configuration), EXAMPLES_DIR, PYTHONPATH with
the built module.
"""
import json
import os
import subprocess
import sys
import threading
import time

import cv2
import numpy as np
import pytest

import motiondetector as md

FIELDS = [name for name in md.OBJECT_DTYPE.names]


@pytest.fixture(scope="module")
def video(tmp_path_factory):
    path = tmp_path_factory.mktemp("video") / "square.avi"
    subprocess.run([os.environ["MAKE_TEST_VIDEO"], str(path), "--frames", "90", "--size", "320x240",
                    "--square", "24", "--speed", "3", "--noise", "6"], check=True)
    return path


@pytest.fixture(scope="module")
def frames(video):
    """The frames as motion_trace sees them: decoded by OpenCV, BGR to grey."""
    capture = cv2.VideoCapture(str(video))
    grey = []
    while True:
        ok, frame = capture.read()
        if not ok:
            return grey
        grey.append(cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY))


def configuration(tmp_path, **changes):
    with open(os.environ["TRACE_CONFIG"]) as f:
        document = json.load(f)
    document["Config_Params"].update(changes)
    path = tmp_path / "config.json"
    path.write_text(json.dumps(document))
    return path, document["Config_Params"]


def configured_detector(settings):
    detector = md.MotionDetector()
    for key, value in settings.items():
        if hasattr(md.Param, key.upper()):
            assert detector.set_param(getattr(md.Param, key.upper()), value), key
    return detector


def run(detector, frames):
    """What motion_trace prints for each frame, read through the module."""
    lines = []
    for index, frame in enumerate(frames):
        accepted = detector.process_frame(frame)
        mask = detector.motion_mask()
        objects = [{name: getattr(o, name) for name in FIELDS} for o in detector.objects()]
        lines.append({"frame": index, "accepted": accepted,
                      "motionPixels": int(np.count_nonzero(mask == 255)), "objects": objects})
    return lines


def as_float32(trace_line):
    """motion_trace prints floats with 9 digits, which read back to the same
    float32: compare them as such."""
    for o in trace_line["objects"]:
        for name in ("centroidX", "centroidY", "reserved", "velocityX", "velocityY"):
            o[name] = float(np.float32(o[name]))
    return trace_line


@pytest.mark.parametrize("changes", [{}, {"scale_factor": 2, "num_threads": 2, "track_detection_criterion": 5}],
                         ids=["defaults", "scaled-threaded"])
def test_same_results_as_motion_trace(tmp_path, frames, video, changes):
    config, settings = configuration(tmp_path, **changes)
    trace = subprocess.run([os.environ["MOTION_TRACE"], str(config), str(video)], check=True,
                           capture_output=True, text=True).stdout
    expected = [as_float32(json.loads(line)) for line in trace.splitlines()]
    actual = run(configured_detector(settings), frames)
    assert sum(len(line["objects"]) for line in expected) > 0, "the video should give objects"
    assert actual == expected


def test_object_table_matches_objects(frames):
    detector = md.MotionDetector()
    detector.set_param(md.Param.TRACK_DETECTION_CRITERION, 3)
    seen = 0
    for frame in frames[:40]:
        detector.process_frame(frame)
        listed = detector.objects()
        table = detector.objects_array()
        assert table.dtype == md.OBJECT_DTYPE and len(table) == len(listed)
        for row, o in zip(table, listed):
            assert tuple(row.tolist()) == tuple(getattr(o, name) for name in FIELDS)
        seen += len(listed)
    assert seen > 0


def test_refuses_what_it_cannot_read_and_stays_usable(frames):
    detector = md.MotionDetector()
    assert detector.motion_mask() is None  # no frame size yet
    frame = frames[0]
    wrong = [
        (TypeError, "dtype uint8", frame.astype(np.float32), None),
        (TypeError, "2-D", np.dstack([frame, frame, frame]), None),
        (TypeError, "2-D", frame.ravel(), None),
        (ValueError, "C-contiguous", np.asfortranarray(frame), None),
        (ValueError, "C-contiguous", frame[:, ::2], None),
        (TypeError, "dtype uint8", frame, np.ones((240, 320), np.int32)),
        (ValueError, r"\(240, 320\)", frame, np.ones((120, 160), np.uint8)),
        (ValueError, "C-contiguous", frame, np.ones((240, 640), np.uint8)[:, ::2]),
    ]
    for error, message, image, region in wrong:
        with pytest.raises(error, match=message):
            detector.process_frame(image, region)
    assert detector.motion_mask() is None, "a refused argument must not count as a frame"

    assert not detector.process_frame(np.zeros((20, 320), np.uint8)), "too small a frame is refused"
    assert not detector.set_param(md.Param.SCALE_FACTOR, 9)
    assert detector.set_param(md.Param.SCALE_FACTOR, 2.5) and detector.get_param(md.Param.SCALE_FACTOR) == 2
    assert detector.process_frame(frame, np.ones((120, 160), np.uint8))
    assert detector.motion_mask().shape == (240, 320) and detector.motion_mask().dtype == np.uint8


def test_region_mask_excludes_pixels(frames):
    free, masked = md.MotionDetector(), md.MotionDetector()
    nowhere = np.zeros((240, 320), np.uint8)
    for frame in frames[:30]:
        free.process_frame(frame)
        masked.process_frame(frame, nowhere)
    assert np.count_nonzero(free.motion_mask()) > 0
    assert np.count_nonzero(masked.motion_mask()) == 0


def test_two_detectors_in_two_threads(frames):
    """Each detector in its own thread gives what it gives alone; the time
    against one after the other is printed, not judged (the machine may have
    no free second core)."""
    work = frames * 4
    started = time.perf_counter()
    alone = run(md.MotionDetector(), work)
    run(md.MotionDetector(), work)
    sequential = time.perf_counter() - started

    results = [None, None]

    def worker(slot):
        results[slot] = run(md.MotionDetector(), work)

    threads = [threading.Thread(target=worker, args=(slot,)) for slot in (0, 1)]
    started = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    side_by_side = time.perf_counter() - started
    assert results[0] == alone and results[1] == alone
    print(f"\ntwo detectors, {len(work)} frames each: one after the other {sequential:.3f} s, "
          f"in two threads {side_by_side:.3f} s (ratio {side_by_side / sequential:.2f})", file=sys.stderr)


def test_example_script_writes_boxes(tmp_path, video):
    output = tmp_path / "boxes.avi"
    subprocess.run([sys.executable, os.path.join(os.environ["EXAMPLES_DIR"], "detect_video.py"), str(video),
                    "--output", str(output), "--frames", "40"], check=True)
    capture = cv2.VideoCapture(str(output))
    written = []
    while True:
        ok, frame = capture.read()
        if not ok:
            break
        written.append(frame)
    assert len(written) == 40
    b, g, r = (written[-1][:, :, c].astype(int) for c in range(3))
    assert np.count_nonzero(r - np.maximum(g, b) > 80) > 0, "no red box drawn"
