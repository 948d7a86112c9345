#!/usr/bin/env bash
# Regression check of the detector's whole output: runs motion_trace over a
# generated video (and over samples/vtest.avi when it is there) and compares
# the SHA-256 of each trace with the digest stored in digests/. The same
# frames, converted to grey by dump_grey_frames, go through
# motion_trace_raw with every background kernel this processor runs: each
# must give the same bytes.
#
#   trace_digest.sh check     compare (the CTest test regression_trace)
#   trace_digest.sh update    store the digests of the current behaviour
#
# After a deliberate change of detector behaviour, regenerate and commit the
# digests with:  cmake --build build --target update_trace_digests
#
# Environment (set by tests/CMakeLists.txt): MOTION_TRACE, MOTION_TRACE_RAW,
# DUMP_GREY_FRAMES, MAKE_TEST_VIDEO, SAMPLES_DIR, WORK_DIR.
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

# The configuration's numeric settings as motion_trace_raw takes them
# (KEY=VALUE), with another thread count.
raw_settings() {
    sed -n 's/^ *"\([a-z_]*\)": *\([-+0-9.eE]*\),\{0,1\} *$/\1=\2/p' "$here/trace_config.json" |
        sed "s/^num_threads=.*/num_threads=$1/"
}

failures=0

# compare NAME WHAT TRACE STORE: the trace's digest against the one stored
# for NAME; STORE=store stores it first.
compare() {
    local name=$1 what=$2 trace=$3 stored="$digests/$1.sha256" actual
    actual=$(sha256sum "$trace" | cut -d' ' -f1)
    if [ "$4" = store ]; then
        mkdir -p "$digests"
        echo "$actual" >"$stored"
        echo "$name: stored $actual"
    fi
    if [ ! -s "$stored" ]; then
        echo "FAIL: $name: no stored digest ($stored); run the update" >&2
        failures=$((failures + 1))
    elif [ "$actual" != "$(cat "$stored")" ]; then
        echo "FAIL: $name $what: digest $actual, stored $(cat "$stored"); trace kept in $trace" >&2
        failures=$((failures + 1))
    else
        echo "$name $what: $(wc -l <"$trace") frames, digest matches"
    fi
}

# check_case NAME VIDEO THREADS...: the trace of VIDEO with each thread
# count, from motion_trace and from motion_trace_raw with each kernel (the
# grey frames piped from dump_grey_frames). An update stores the digest of
# the first run; all others must match it.
check_case() {
    local name=$1 video=$2
    shift 2
    local store=keep threads kernel trace
    [ "$mode" = update ] && store=store
    for threads in "$@"; do
        trace="$work/$name.threads_$threads.jsonl"
        "$MOTION_TRACE" "$(config_with_threads "$threads")" "$video" --output "$trace"
        compare "$name" "with $threads thread(s)" "$trace" "$store"
        store=keep
    done
    for kernel in $("$MOTION_TRACE_RAW" --kernels); do
        for threads in "$@"; do
            trace="$work/$name.raw_$kernel.threads_$threads.jsonl"
            # shellcheck disable=SC2046 # one argument per setting
            "$DUMP_GREY_FRAMES" "$video" /dev/stdout |
                "$MOTION_TRACE_RAW" --kernel "$kernel" $(raw_settings "$threads") --output "$trace"
            compare "$name" "from grey frames, kernel $kernel, $threads thread(s)" "$trace" keep
        done
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
