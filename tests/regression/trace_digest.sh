#!/usr/bin/env bash
# Regression check of the detector's whole output: runs motion_trace over a
# generated video (and over samples/vtest.avi when it is there) and compares
# the SHA-256 of each trace with the digest stored in digests/. The same
# frames, converted to grey by dump_grey_frames, go through
# motion_trace_raw with every background kernel this processor runs: each
# must give the same bytes.
#
#   trace_digest.sh check      compare (the CTest test regression_trace)
#   trace_digest.sh update     store the digests of the current behaviour
#   trace_digest.sh check-raw  compare motion_trace_raw's traces alone, of
#                              another build (scripts/cross-aarch64.sh,
#                              scripts/sanitize.sh); sample clip: the fastest
#                              kernel alone, two threads
#
# After a deliberate change of detector behaviour, regenerate and commit the
# digests with:  cmake --build build --target update_trace_digests
#
# Environment (set by tests/CMakeLists.txt): MOTION_TRACE (not for
# check-raw), MOTION_TRACE_RAW, DUMP_GREY_FRAMES, MAKE_TEST_VIDEO,
# SAMPLES_DIR, WORK_DIR; RAW_RUNNER, a command that runs motion_trace_raw
# (an emulator), none when empty.
set -euo pipefail

mode=${1:-check}
case "$mode" in
check | update | check-raw) ;;
*)
    echo "usage: $0 check|update|check-raw" >&2
    exit 2
    ;;
esac
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

trace_raw() {
    # shellcheck disable=SC2086 # the runner is a command with its arguments
    ${RAW_RUNNER:-} "$MOTION_TRACE_RAW" "$@"
}

# trace_case NAME VIDEO THREADS...: motion_trace's trace of VIDEO with each
# thread count. An update stores the digest of the first run; all others
# must match it.
trace_case() {
    local name=$1 video=$2
    shift 2
    local store=keep threads trace
    [ "$mode" = update ] && store=store
    for threads in "$@"; do
        trace="$work/$name.threads_$threads.jsonl"
        "$MOTION_TRACE" "$(config_with_threads "$threads")" "$video" --output "$trace"
        compare "$name" "with $threads thread(s)" "$trace" "$store"
        store=keep
    done
}

# raw_case NAME VIDEO KERNELS THREADS...: motion_trace_raw's trace of the
# grey frames of VIDEO, piped from dump_grey_frames, with each of the
# KERNELS (a list) and each thread count.
raw_case() {
    local name=$1 video=$2 kernels=$3
    shift 3
    local kernel threads trace
    for kernel in $kernels; do
        for threads in "$@"; do
            trace="$work/$name.raw_$kernel.threads_$threads.jsonl"
            # shellcheck disable=SC2046 # one argument per setting
            "$DUMP_GREY_FRAMES" "$video" /dev/stdout |
                trace_raw --kernel "$kernel" $(raw_settings "$threads") --output "$trace"
            compare "$name" "from grey frames, kernel $kernel, $threads thread(s)" "$trace" keep
        done
    done
}

kernels=$(trace_raw --kernels)

generated="$work/square.avi"
"$MAKE_TEST_VIDEO" "$generated" --frames 150 --size 320x240 --square 24 --speed 3 --noise 6
[ "$mode" = check-raw ] || trace_case generated "$generated" 1 2
raw_case generated "$generated" "$kernels" 1 2

vtest="$SAMPLES_DIR/vtest.avi"
if [ ! -s "$vtest" ]; then
    echo "samples/vtest.avi is absent (scripts/setup.sh fetches it): only the generated video was checked"
elif [ "$mode" = check-raw ]; then
    raw_case vtest "$vtest" "$(echo "$kernels" | tail -n 1)" 2
else
    trace_case vtest "$vtest" 1
    raw_case vtest "$vtest" "$kernels" 1
fi

[ "$failures" -eq 0 ]
