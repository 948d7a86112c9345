#!/usr/bin/env bash
# Instrumented runs, built with clang 14 in their own build directory
# (build-sanitize, or $SANITIZE_BUILD_DIR) with AddressSanitizer and
# UndefinedBehaviorSanitizer; undefined behaviour, a memory error or a leak
# ends the run with a failure.
#
#   scripts/sanitize.sh unit            the whole unit-test suite, and the
#                                       regression traces of motion_trace_raw
#                                       (clang's build must give the digests
#                                       stored from g++'s)
#   scripts/sanitize.sh fuzz [SECONDS]  every libFuzzer target in tests/fuzz,
#                                       SECONDS each (default 60), side by side
#   scripts/sanitize.sh                 both
#
# The fuzzers start from a fixed random seed, so that a run of the test
# suite is repeatable; FUZZ_SEED=0 picks a new seed each time.
#
# Expects what scripts/setup.sh installs (clang, libclang-rt-14-dev, libomp-dev).
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-all}
fuzz_seconds=${2:-60}
BUILD_DIR=${SANITIZE_BUILD_DIR:-build-sanitize}
FUZZ_TARGETS=(fuzz_config_reader fuzz_detector)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
# Idle OpenMP workers sleep instead of spinning: a fuzzed thread count of 255
# on two cores would otherwise crawl.
export OMP_WAIT_POLICY=passive

build() {
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
        -DMOTION_SANITIZE=ON -DMOTION_FUZZ=ON >/dev/null
    cmake --build "$BUILD_DIR" -j 2 --target "$@"
}

run_unit() {
    build detector_unit_tests unit_tests motion_trace_raw make_test_video dump_grey_frames
    local started=$SECONDS tests
    # Whole allocation stacks, so that the suppressions can recognise leaks
    # inside system libraries that lack frame pointers (scripts/lsan.supp).
    for tests in detector_unit_tests unit_tests; do
        ASAN_OPTIONS="$ASAN_OPTIONS:fast_unwind_on_malloc=0" "$BUILD_DIR/tests/$tests" --gtest_brief=1
    done
    echo "sanitized unit tests passed in $((SECONDS - started)) s"
    MOTION_TRACE_RAW=$BUILD_DIR/tools/motion_trace_raw MAKE_TEST_VIDEO=$BUILD_DIR/tests/make_test_video \
        DUMP_GREY_FRAMES=$BUILD_DIR/tests/dump_grey_frames SAMPLES_DIR=$PWD/samples WORK_DIR=$BUILD_DIR/regression \
        tests/regression/trace_digest.sh check-raw
}

# Each target starts from its committed seeds; what it finds on the way goes
# to a scratch corpus in the build directory, kept for the next run.
run_fuzz() {
    build "${FUZZ_TARGETS[@]}"
    local target pids=() failed=0
    for target in "${FUZZ_TARGETS[@]}"; do
        local scratch="$BUILD_DIR/fuzz-corpus/$target" log="$BUILD_DIR/$target.log"
        local options=()
        [ -f "tests/fuzz/$target.dict" ] && options+=(-dict="tests/fuzz/$target.dict")
        mkdir -p "$scratch"
        "$BUILD_DIR/tests/fuzz/$target" "$scratch" "tests/fuzz/corpus/$target" "${options[@]}" \
            -seed="${FUZZ_SEED:-1}" -max_total_time="$fuzz_seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
            -artifact_prefix="$BUILD_DIR/$target-" >"$log" 2>&1 &
        pids+=($!)
    done
    for i in "${!FUZZ_TARGETS[@]}"; do
        target=${FUZZ_TARGETS[$i]}
        if wait "${pids[$i]}"; then
            echo "$target: $(grep -E '^stat::number_of_executed_units' "$BUILD_DIR/$target.log" | awk '{print $2}') runs, no finding"
        else
            failed=1
            echo "$target: FINDING (input saved as $BUILD_DIR/$target-*), log follows" >&2
            tail -n 60 "$BUILD_DIR/$target.log" >&2
        fi
    done
    return "$failed"
}

case "$mode" in
unit) run_unit ;;
fuzz) run_fuzz ;;
all) run_unit && run_fuzz ;;
*)
    echo "usage: $0 [unit|fuzz [SECONDS]|all]" >&2
    exit 2
    ;;
esac
