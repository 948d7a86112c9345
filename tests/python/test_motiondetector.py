"""The Python module against motion_trace on the same frames, the arguments
it must refuse, and detectors in threads. EXAMPLES_DIR names the examples."""
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

FLOATS = ("centroidX", "centroidY", "reserved", "velocityX", "velocityY")


def configured(settings):
    detector = md.MotionDetector()
    for key, value in settings.items():
        if hasattr(md.Param, key.upper()):
            assert detector.set_param(getattr(md.Param, key.upper()), value), key
    return detector


def run(detector, frames, region=None):
    """motion_trace's lines, read through the module; the object table must
    hold the same records as the object list."""
    lines = []
    for index, frame in enumerate(frames):
        accepted = detector.process_frame(frame, region)
        objects = [{name: getattr(o, name) for name in md.OBJECT_DTYPE.names} for o in detector.objects()]
        assert [tuple(row) for row in detector.objects_array().tolist()] == [tuple(o.values()) for o in objects]
        lines.append({"frame": index, "accepted": accepted, "objects": objects,
                      "motionPixels": int(np.count_nonzero(detector.motion_mask() == 255))})
    return lines


def reference(trace, **changes):
    """motion_trace's settings and lines, its numbers as the module gives them."""
    settings, expected = trace(**changes)
    for line in expected:  # printed with 9 digits, which read back to the same float32
        for o in line["objects"]:
            o.update({name: float(np.float32(o[name])) for name in FLOATS})
    return settings, expected


@pytest.mark.parametrize("changes", [{}, {"scale_factor": 2, "num_threads": 2, "track_detection_criterion": 5}])
def test_same_results_as_motion_trace(frames, trace, changes):
    settings, expected = reference(trace, **changes)
    assert run(configured(settings), frames) == expected


def test_configuration_and_region_mask_as_motion_trace_applies_them(tmp_path, frames, trace):
    """A colour mask picture of half the frame size, so that the grey
    conversion, the resizing and the reduction to the scaled grid all count.
    Orange is light as BGR (grey 158) but would be dark read as RGB."""
    picture = np.full((120, 160, 3), (0, 140, 255), np.uint8)
    picture[:, 40:100] = 0  # a band across the middle, excluded
    mask_file = str(tmp_path / "zones.png")
    cv2.imwrite(mask_file, picture)
    settings, expected = reference(trace, scale_factor=2, track_detection_criterion=5, region_mask_file=mask_file)
    assert expected != reference(trace, scale_factor=2, track_detection_criterion=5)[1], "the mask should matter"

    config = tmp_path / "loaded.json"
    config.write_text(json.dumps({"Config_Params": settings}))
    detector, texts = md.load_config(config)
    assert (texts.video_source, texts.region_mask_file) == ("named on the command line", mask_file)
    for key, value in settings.items():
        if hasattr(md.Param, key.upper()):
            assert detector.get_param(getattr(md.Param, key.upper())) == value, key
    region = md.region_mask(texts.region_mask_file, 320, 240, 2)
    assert region.dtype == np.uint8 and region.shape == (120, 160)
    assert np.array_equal(region, md.region_mask(picture, 320, 240, 2)), "a picture reads as its file"
    assert run(detector, frames, region) == expected


def test_load_config_and_region_mask_refuse_what_the_programs_refuse(tmp_path):
    config = tmp_path / "config.json"
    config.write_text('{"Config_Params": {"video_source_init_string": "a.avi"}}')  # no numeric keys
    for path in (config, str(tmp_path / "absent.json")):
        with pytest.raises(ValueError, match="^Configuration params not read$"):
            md.load_config(path)
    with pytest.raises(ValueError, match="cannot read the region mask"):
        md.region_mask(config, 320, 240, 1)


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
