"""The README's programs, run exactly as printed against fresh installs.

The C++ program of "Use the detector in your own program" is built with the
README's CMake project and with its pkg-config command line, against a
static install of this build and against a shared, window-less build of the
library made here; each must report the objects motion_trace reports for the
same generated video. The README's Python script runs with the installed
module.

Environment (set by tests/CMakeLists.txt): SOURCE_DIR, BUILD_DIR,
CMAKE_COMMAND, MOTION_TRACE, MAKE_TEST_VIDEO, TRACE_CONFIG,
PYTHON_INSTALL_DIR (empty without the Python module).
"""
import json
import os
import re
import subprocess
import sys

import cv2
import numpy as np
import pytest

SOURCE = os.environ["SOURCE_DIR"]
CMAKE = os.environ["CMAKE_COMMAND"]


def readme_snippet(heading, language):
    """The code block of the given language under a README heading."""
    with open(os.path.join(SOURCE, "README.md")) as f:
        text = f.read()
    section = re.split(r"\n#{2,3} ", text.split("\n### " + heading + "\n", 1)[1], 1)[0]
    blocks = re.findall(r"^```" + re.escape(language) + r"\n(.*?)^```$", section, re.S | re.M)
    assert len(blocks) == 1, f"one {language} block expected under {heading}"
    return blocks[0]


def run(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs).stdout


def run_snippet(snippet, cwd, prefix):
    environment = dict(os.environ, PREFIX=str(prefix))
    return run(["bash", "-euo", "pipefail", "-c", snippet], cwd=cwd, env=environment)


@pytest.fixture(scope="module")
def static_prefix(tmp_path_factory):
    prefix = tmp_path_factory.mktemp("static")
    run([CMAKE, "--install", os.environ["BUILD_DIR"], "--prefix", str(prefix)])
    headers = sorted(str(p.relative_to(prefix / "include")) for p in (prefix / "include").rglob("*.h"))
    assert headers == ["motiondetector/MotionDetector.h"], "only the public header is installed"
    return prefix


@pytest.fixture(scope="module")
def shared_prefix(tmp_path_factory):
    """A shared library from a build without windows. The installed
    motion_trace must find it by its SONAME in the prefix and need no GUI
    library."""
    build = tmp_path_factory.mktemp("shared-build")
    prefix = tmp_path_factory.mktemp("shared")
    run([CMAKE, "-S", SOURCE, "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_SHARED_LIBS=ON",
         "-DMOTION_WITH_GUI=OFF", "-DMOTION_PYTHON=OFF", "-DBUILD_TESTING=OFF"])
    run([CMAKE, "--build", str(build), "-j2"])
    run([CMAKE, "--install", str(build), "--prefix", str(prefix)])
    assert not (prefix / "bin" / "motion_demo").exists()
    libraries = run(["ldd", str(prefix / "bin" / "motion_trace")])
    found = re.search(r"libmotiondetector\.so\.1 => (\S+)", libraries)
    assert found and os.path.normpath(found.group(1)) == str(prefix / "lib" / "libmotiondetector.so.1"), libraries
    assert not re.search(r"Qt5|opencv_highgui", libraries), libraries
    return prefix


@pytest.fixture(scope="module")
def video_frames_and_expected(tmp_path_factory):
    """Raw grey frames of a generated video (decoded and converted as
    motion_trace does) and the lines the README program must print for them:
    motion_trace's objects at the program's scale factor 2."""
    work = tmp_path_factory.mktemp("video")
    video = work / "square.avi"
    run([os.environ["MAKE_TEST_VIDEO"], str(video), "--frames", "80", "--size", "320x240", "--noise", "6"])
    with open(os.environ["TRACE_CONFIG"]) as f:
        config = json.load(f)
    config["Config_Params"]["scale_factor"] = 2
    (work / "config.json").write_text(json.dumps(config))
    trace = run([os.environ["MOTION_TRACE"], str(work / "config.json"), str(video)])
    expected = [
        f"frame {line['frame']} object {o['objectId']}: box {o['x0']} {o['y0']} {o['x1']} {o['y1']}, "
        f"{o['pixelCount']} pixels, sum {o['intensitySum']}, label {o['label']}, "
        f"centre {o['centroidX']:.9g} {o['centroidY']:.9g}, velocity {o['velocityX']:.9g} {o['velocityY']:.9g}"
        for line in map(json.loads, trace.splitlines()) for o in line["objects"]]
    assert expected, "the video should give objects"
    capture = cv2.VideoCapture(str(video))
    frames = bytearray()
    while True:
        ok, frame = capture.read()
        if not ok:
            break
        frames += cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY).tobytes()
    return bytes(frames), expected


def write_program(directory):
    program = readme_snippet("C++ with CMake", "cpp")
    (directory / "my_app.cpp").write_text(program)
    (directory / "CMakeLists.txt").write_text(readme_snippet("C++ with CMake", "cmake"))


def check_program(executable, video_frames_and_expected, environment=None):
    frames, expected = video_frames_and_expected
    printed = subprocess.run([str(executable), "320", "240"], input=frames, check=True, capture_output=True,
                             env=environment).stdout.decode()
    assert printed.splitlines() == expected


@pytest.mark.parametrize("variant", ["static", "shared"])
def test_cmake_consumer(request, tmp_path, variant, video_frames_and_expected):
    prefix = request.getfixturevalue(variant + "_prefix")
    write_program(tmp_path)
    run_snippet(readme_snippet("C++ with CMake", "sh"), tmp_path, prefix)
    check_program(tmp_path / "build" / "my_app", video_frames_and_expected)


@pytest.mark.parametrize("variant", ["static", "shared"])
def test_pkgconfig_consumer(request, tmp_path, variant, video_frames_and_expected):
    prefix = request.getfixturevalue(variant + "_prefix")
    write_program(tmp_path)
    run_snippet(readme_snippet("C++ with pkg-config", "sh"), tmp_path, prefix)
    check_program(tmp_path / "my_app", video_frames_and_expected,
                  dict(os.environ, LD_LIBRARY_PATH=str(prefix / "lib")))


def test_python_script(static_prefix):
    module_dir = os.environ["PYTHON_INSTALL_DIR"]
    if not module_dir:
        pytest.skip("built without the Python module")
    if not os.path.exists(os.path.join(SOURCE, "samples", "vtest.avi")):
        pytest.skip("samples/vtest.avi is absent (scripts/setup.sh fetches it)")
    environment = dict(os.environ, PYTHONPATH=str(static_prefix / module_dir))
    printed = run([sys.executable, "-c", readme_snippet("Python", "python")], cwd=SOURCE, env=environment)
    rows = [list(map(int, line.split())) for line in printed.splitlines()]
    assert rows and all(len(row) == 5 and row[0] >= 1 for row in rows)
