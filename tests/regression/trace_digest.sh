#!/usr/bin/env bash
# Regression check of the detector's whole output: runs motion_trace over a
# generated video (and over samples/vtest.avi when it is there) and compares
# the SHA-256 of each trace with the digest stored in digests/.
#
#   trace_digest.sh check     compare (the CTest test regression_trace)
#   trace_digest.sh update    store the digests of the current behaviour
#
# After a deliberate change of detector behaviour, regenerate and commit the
# digests with:  cmake --build build --target update_trace_digests
#
# Environment (set by tests/CMakeLists.txt): MOTION_TRACE, MAKE_TEST_VIDEO,
# SAMPLES_DIR, WORK_DIR.
set -euo pipefail

mode=${1:-check}
[ "$mode" = check ] || [ "$mode" = update ] || { echo "usage: $0 check|update" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
digests=$here/digests
work=${WORK_DIR:?}
mkdir -p "$work"

# The configuration with another thread count: every count must give the
# same trace, so all runs of a video share one digest.
config_with_threads() {
    local file="$work/config_threads_$1.json"
    sed "s/\"num_threads\": 1,/\"num_threads\": $1,/" "$here/trace_config.json" >"$file"
    echo "$file"
}

failures=0

# check_case NAME VIDEO THREADS...: the trace of VIDEO with each thread
# count. An update stores the digest of the first run; the others must match.
check_case() {
    local name=$1 video=$2
    shift 2
    local stored="$digests/$name.sha256" first=$1 threads trace actual
    for threads in "$@"; do
        trace="$work/$name.threads_$threads.jsonl"
        "$MOTION_TRACE" "$(config_with_threads "$threads")" "$video" --output "$trace"
        actual=$(sha256sum "$trace" | cut -d' ' -f1)
        if [ "$mode" = update ] && [ "$threads" = "$first" ]; then
            mkdir -p "$digests"
            echo "$actual" >"$stored"
            echo "$name: stored $actual"
        fi
        if [ ! -s "$stored" ]; then
            echo "FAIL: $name: no stored digest ($stored); run the update" >&2
            failures=$((failures + 1))
        elif [ "$actual" != "$(cat "$stored")" ]; then
            echo "FAIL: $name with $threads thread(s): digest $actual, stored $(cat "$stored"); trace kept in $trace" >&2
            failures=$((failures + 1))
        else
            echo "$name with $threads thread(s): $(wc -l <"$trace") frames, digest matches"
        fi
    done
}

generated="$work/square.avi"
"$MAKE_TEST_VIDEO" "$generated" --frames 150 --size 320x240 --square 24 --speed 3 --noise 6
check_case generated "$generated" 1 2

if [ -s "$SAMPLES_DIR/vtest.avi" ]; then
    check_case vtest "$SAMPLES_DIR/vtest.avi" 1
else
    echo "samples/vtest.avi is absent (scripts/setup.sh fetches it): only the generated video was checked"
fi

[ "$failures" -eq 0 ]
