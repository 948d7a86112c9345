#!/usr/bin/env bash
# The library for 64-bit ARM, checked here under emulation: cross-builds the
# library-only tree with Debian's g++-aarch64-linux-gnu
# (cmake/toolchain-aarch64.cmake) in build-aarch64, or $CROSS_BUILD_DIR,
# and runs under qemu-aarch64
# - the detector's unit tests, on 60 frames of the sample clip at half its
#   size (both sides still divisible by every scale factor the tests use);
# - motion_trace_raw over the grey frames of the regression videos with
#   every kernel there and one and two threads (trace_digest.sh check-raw):
#   the traces must have the digests stored from x86.
#
#   scripts/cross-aarch64.sh            (the CTest test cross_aarch64)
#
# The frames come from the host's build, $HOST_BUILD_DIR (default build), or
# from the programs CTest names in MAKE_TEST_VIDEO and DUMP_GREY_FRAMES.
# Without the cross compiler or the emulator (scripts/setup.sh installs
# them on x86-64) the script exits with status 77: skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in aarch64-linux-gnu-g++ qemu-aarch64 ffmpeg; do
    command -v "$tool" >/dev/null || { echo "$tool is missing: no cross build" >&2; exit 77; }
done

BUILD_DIR=${CROSS_BUILD_DIR:-build-aarch64}
host=${HOST_BUILD_DIR:-build}
export MAKE_TEST_VIDEO=${MAKE_TEST_VIDEO:-$host/tests/make_test_video}
export DUMP_GREY_FRAMES=${DUMP_GREY_FRAMES:-$host/tests/dump_grey_frames}
export SAMPLES_DIR=${SAMPLES_DIR:-$PWD/samples}
export WORK_DIR=$PWD/$BUILD_DIR/regression
export MOTION_TRACE_RAW=$PWD/$BUILD_DIR/tools/motion_trace_raw
export RAW_RUNNER="qemu-aarch64 -L /usr/aarch64-linux-gnu"
mkdir -p "$WORK_DIR"

started=$SECONDS
cmake -S . -B "$BUILD_DIR" --no-warn-unused-cli -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake -DMOTION_LIBRARY_ONLY=ON >/dev/null
cmake --build "$BUILD_DIR" -j 2 --target detector_unit_tests motion_trace_raw
built=$SECONDS

frames=$WORK_DIR/sample-frames.pgm
if [ -s "$SAMPLES_DIR/vtest.avi" ]; then
    ffmpeg -v error -y -i "$SAMPLES_DIR/vtest.avi" -frames:v 60 -vf scale=384:288 -pix_fmt gray \
        -c:v pgm -f image2pipe "$frames"
else
    "$MAKE_TEST_VIDEO" "$WORK_DIR/sample.avi" --frames 60 --size 384x288 --square 24 --speed 5 --noise 6
    "$DUMP_GREY_FRAMES" "$WORK_DIR/sample.avi" "$frames"
fi
# The tests that time ten thousand objects would time the emulator.
# shellcheck disable=SC2086 # the runner is a command with its arguments
MOTION_SAMPLE_FRAMES=$frames $RAW_RUNNER "$BUILD_DIR/tests/detector_unit_tests" --gtest_brief=1 \
    --gtest_filter='-*Promptly'
tested=$SECONDS

tests/regression/trace_digest.sh check-raw
echo "aarch64: built in $((built - started)) s; under emulation the unit tests took $((tested - built)) s," \
    "the traces $((SECONDS - tested)) s"
