"""The README's programs run exactly as printed against fresh installs (a
static one of this build, a shared one without windows): the C++ program must
report motion_trace's objects. Environment: SOURCE_DIR, BUILD_DIR,
CMAKE_COMMAND, PYTHON_INSTALL_DIR (empty without the Python module)."""
import os
import re
import subprocess
import sys

import pytest

SOURCE = os.environ["SOURCE_DIR"]
CMAKE = os.environ["CMAKE_COMMAND"]


def readme_snippet(heading, language):
    """The one code block of the language under a README heading."""
    with open(os.path.join(SOURCE, "README.md")) as f:
        section = re.split(r"\n#{2,3} ", f.read().split("\n### " + heading + "\n", 1)[1], 1)[0]
    [block] = re.findall(r"^```" + language + r"\n(.*?)^```$", section, re.S | re.M)
    return block


def run(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs).stdout


@pytest.fixture(scope="module")
def static_prefix(tmp_path_factory):
    prefix = tmp_path_factory.mktemp("static")
    run([CMAKE, "--install", os.environ["BUILD_DIR"], "--prefix", str(prefix)])
    headers = [str(p.relative_to(prefix / "include")) for p in (prefix / "include").rglob("*.h")]
    assert headers == ["motiondetector/MotionDetector.h"], "only the public header is installed"
    return prefix


@pytest.fixture(scope="module")
def shared_prefix(tmp_path_factory):
    """The installed motion_trace finds the library by its SONAME in the
    prefix and needs no GUI library."""
    build, prefix = tmp_path_factory.mktemp("shared-build"), tmp_path_factory.mktemp("shared")
    run([CMAKE, "-S", SOURCE, "-B", str(build), "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_SHARED_LIBS=ON",
         "-DMOTION_WITH_GUI=OFF", "-DMOTION_PYTHON=OFF", "-DBUILD_TESTING=OFF"])
    run([CMAKE, "--build", str(build), "-j2"])
    run([CMAKE, "--install", str(build), "--prefix", str(prefix)])
    libraries = run(["ldd", str(prefix / "bin" / "motion_trace")])
    found = re.search(r"libmotiondetector\.so\.1 => (\S+)", libraries)
    assert found and os.path.normpath(found.group(1)) == str(prefix / "lib" / "libmotiondetector.so.1")
    assert not re.search(r"Qt5|opencv_highgui", libraries) and not (prefix / "bin" / "motion_demo").exists()
    return prefix


@pytest.mark.parametrize("variant", ["static", "shared"])
@pytest.mark.parametrize("build", ["C++ with CMake", "C++ with pkg-config"])
def test_cpp_program(request, tmp_path, frames, trace, variant, build):
    prefix = request.getfixturevalue(variant + "_prefix")
    (tmp_path / "my_app.cpp").write_text(readme_snippet("C++ with CMake", "cpp"))
    (tmp_path / "CMakeLists.txt").write_text(readme_snippet("C++ with CMake", "cmake"))
    environment = dict(os.environ, PREFIX=str(prefix), LD_LIBRARY_PATH=str(prefix / "lib"))
    run(["bash", "-euo", "pipefail", "-c", readme_snippet(build, "sh")], cwd=tmp_path, env=environment)
    executable = tmp_path / ("build/my_app" if "CMake" in build else "my_app")
    printed = subprocess.run([str(executable), "320", "240"], input=b"".join(f.tobytes() for f in frames),
                             check=True, capture_output=True, env=environment).stdout.decode()
    _, lines = trace(scale_factor=2)  # the program's one setting
    assert printed.splitlines() == [
        f"frame {line['frame']} object {o['objectId']}: box {o['x0']} {o['y0']} {o['x1']} {o['y1']}, "
        f"{o['pixelCount']} pixels, sum {o['intensitySum']}, label {o['label']}, "
        f"centre {o['centroidX']:.9g} {o['centroidY']:.9g}, velocity {o['velocityX']:.9g} {o['velocityY']:.9g}"
        for line in lines for o in line["objects"]]


def test_python_script(static_prefix):
    if not os.environ["PYTHON_INSTALL_DIR"]:
        pytest.skip("built without the Python module")
    if not os.path.exists(os.path.join(SOURCE, "samples", "vtest.avi")):
        pytest.skip("samples/vtest.avi is absent (scripts/setup.sh fetches it)")
    environment = dict(os.environ, PYTHONPATH=str(static_prefix / os.environ["PYTHON_INSTALL_DIR"]))
    printed = run([sys.executable, "-c", readme_snippet("Python", "python")], cwd=SOURCE, env=environment)
    rows = [line.split() for line in printed.splitlines()]
    assert rows and all(len(row) == 5 and int(row[0]) >= 1 for row in rows)
