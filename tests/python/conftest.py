"""A generated video, its frames as motion_trace reads them, and
motion_trace's report of it: the reference the Python module and the
README's programs are held against.

Environment (set by tests/CMakeLists.txt): MOTION_TRACE, MAKE_TEST_VIDEO,
TRACE_CONFIG (the regression configuration).
"""
import json
import os
import subprocess

import cv2
import pytest


@pytest.fixture(scope="session")
def video(tmp_path_factory):
    path = tmp_path_factory.mktemp("video") / "square.avi"
    subprocess.run([os.environ["MAKE_TEST_VIDEO"], str(path), "--frames", "80", "--size", "320x240",
                    "--noise", "6"], check=True)
    return path


@pytest.fixture(scope="session")
def frames(video):
    """Decoded by OpenCV and converted BGR to grey, as motion_trace does."""
    capture = cv2.VideoCapture(str(video))
    grey = []
    while True:
        ok, frame = capture.read()
        if not ok:
            return grey
        grey.append(cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY))


@pytest.fixture
def trace(tmp_path, video):
    """trace(**changes): the settings (regression configuration with the
    changes) and motion_trace's lines for the video, parsed."""
    def run(**changes):
        with open(os.environ["TRACE_CONFIG"]) as f:
            document = json.load(f)
        document["Config_Params"].update(changes)
        config = tmp_path / "config.json"
        config.write_text(json.dumps(document))
        output = subprocess.run([os.environ["MOTION_TRACE"], str(config), str(video)], check=True,
                                capture_output=True, text=True).stdout
        lines = [json.loads(line) for line in output.splitlines()]
        assert any(line["objects"] for line in lines), "the video should give objects"
        return document["Config_Params"], lines
    return run
