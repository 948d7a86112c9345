#!/usr/bin/env bash
# CPU per camera of motion_watch: a quiet H.264 camera stream (a still
# picture from the sample with a little sensor noise) is served on 127.0.0.1
# as MPEG-TS over HTTP, one watcher watches it for SECONDS, and the script
# prints the watcher's CPU seconds per minute of video (user + system, from
# /proc), its peak resident memory, and the events and clip bytes per minute
# it wrote. SCENE=moving serves the sample itself instead (people walking:
# events all along).
#
#   scripts/camera_benchmark.sh [SECONDS] [MODE...] [-- WATCH_ARGS...]
#
# SECONDS: length of each run (default 60). MODE: WIDTHxHEIGHT@FPS (default
# 1920x1080@10 1280x720@25). WATCH_ARGS go to motion_watch as they are
# (--pre 60, --clip-format mp4, ...). BUILD_DIR names the build (default
# build), WATCH the program itself. Measurements, not a test: nothing here
# is checked against a limit.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
watch=${WATCH:-$build/tools/motion_watch}
sample=$root/samples/vtest.avi
seconds=60
modes=()
watch_args=()

while [ $# -gt 0 ]; do
    case $1 in
    --) shift; watch_args=("$@"); break ;;
    *x*@*) modes+=("$1") ;;
    *) seconds=$1 ;;
    esac
    shift
done
[ ${#modes[@]} -gt 0 ] || modes=(1920x1080@10 1280x720@25)
[ -x "$watch" ] || { echo "no $watch: build the motion_watch target first" >&2; exit 1; }
[ -f "$sample" ] || { echo "no $sample" >&2; exit 1; }

work=$(mktemp -d)
server=""
watcher=""
cleanup() {
    for pid in $watcher $server; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

listening() {
    awk -v p="$(printf ':%04X' "$1")" '$2 ~ p"$" && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp
}

connected() {
    awk -v p="$(printf ':%04X' "$1")" '$2 ~ p"$" && $4 == "01" { found = 1 } END { exit !found }' /proc/net/tcp
}

wait_for() {
    local tries=$1; shift
    for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.2; done
    return 1
}

# user + system clock ticks of a process, from /proc/PID/stat (fields 14, 15
# after the parenthesised name).
cpu_ticks() {
    sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'
}

# Ten seconds of stream are encoded once and served in a loop, so that
# serving costs the server no encoding while the watcher is measured.
make_stream() {
    local size=$1 fps=$2 out=$3
    if [ "${SCENE:-quiet}" = moving ]; then
        ffmpeg -nostdin -loglevel error -y -i "$sample" -t 10 -vf "scale=$size,fps=$fps,format=yuv420p" \
            -c:v libx264 -preset veryfast -g "$((fps * 2))" -bf 0 "$out"
        return
    fi
    ffmpeg -nostdin -loglevel error -y -ss 1 -i "$sample" -frames:v 1 -vf "scale=$size" "$work/still.png"
    ffmpeg -nostdin -loglevel error -y -loop 1 -framerate "$fps" -i "$work/still.png" -t 10 \
        -vf "noise=alls=3:allf=t,format=yuv420p" -c:v libx264 -preset veryfast -g "$((fps * 2))" -bf 0 "$out"
}

run_mode() {
    local mode=$1 size=${1%@*} fps=${1#*@}
    local stream=$work/stream_${size}_${fps}.mp4
    make_stream "${size/x/:}" "$fps" "$stream"
    local port; port=$(free_port)
    ffmpeg -nostdin -loglevel quiet -re -stream_loop -1 -i "$stream" -c copy -f mpegts -listen 1 "http://127.0.0.1:$port" &
    server=$!
    wait_for 150 listening "$port" || { echo "stream server did not start" >&2; exit 1; }

    rm -rf "$work/out"
    "$watch" --source "http://127.0.0.1:$port" --output "$work/out" ${watch_args[@]+"${watch_args[@]}"} \
        >"$work/watch.log" 2>&1 &
    watcher=$!
    # The clock starts once the stream flows: opening it is not per-minute work.
    wait_for 150 connected "$port" || { echo "motion_watch did not connect" >&2; exit 1; }
    sleep 3
    local start; start=$(cpu_ticks "$watcher")
    sleep "$seconds"
    local end; end=$(cpu_ticks "$watcher")
    local rss; rss=$(awk '/VmHWM/ { print $2 }' "/proc/$watcher/status")
    kill -INT "$watcher"; wait "$watcher" || true; watcher=""
    kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; server=""

    local hz; hz=$(getconf CLK_TCK)
    local events; events=$(grep -c '"type":"start"' "$work/out/events.jsonl" 2>/dev/null || true)
    local clips; clips=$(find "$work/out" -name 'event_*' \( -name '*.avi' -o -name '*.mp4' \) -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
    awk -v m="$mode" -v t=$((end - start)) -v hz="$hz" -v s="$seconds" -v rss="$rss" -v e="${events:-0}" -v c="$clips" \
        'BEGIN { printf "%-14s %6.2f CPU s per minute   peak RSS %5.0f MB   %d events   clips %5.1f MB per minute\n", m, t / hz * 60 / s, rss / 1024, e, c / 1e6 * 60 / (s + 3) }'
}

echo "motion_watch ${watch_args[*]:-(defaults)}, ${seconds} s per run"
for mode in "${modes[@]}"; do run_mode "$mode"; done
