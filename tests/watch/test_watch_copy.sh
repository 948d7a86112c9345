#!/usr/bin/env bash
# Clips that copy the camera's stream: an H.264 stream served on 127.0.0.1
# with a keyframe every 2 seconds; each event's clip is the stream's own
# video in MP4, begun at a keyframe at or before the pre-capture, and plays
# the frames its end line counts. A webcam brings no packets to copy: the
# watcher says so and ends with status 1, before any file is made.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
source "$here/stream_lib.sh"

command -v ffmpeg >/dev/null || e2e_skip "ffmpeg is not installed"
e2e_make_workdir
e2e_make_video moving.avi --frames 600 --fps 10
e2e_write_config unused.avi

status=0
"$MOTION_WATCH" --source 0 --output camera --clip-format copy >/dev/null 2>stderr.txt || status=$?
[ "$status" -eq 1 ] && grep -q "^motion_watch: --clip-format copy needs a stream or a video file" stderr.txt ||
    e2e_fail "a camera with --clip-format copy: status $status, $(cat stderr.txt)"
[ ! -e camera ] || e2e_fail "the refused start made its output directory"

port=$(watch_free_port)
trap 'status=$?; kill "$server" 2>/dev/null || true; set +e; (exit $status); _e2e_cleanup' EXIT
ffmpeg -nostdin -loglevel quiet -re -i moving.avi -c:v libx264 -preset veryfast -g 20 -bf 0 -f mpegts \
    -listen 1 "http://127.0.0.1:$port" &
server=$!
e2e_check "the stream server did not start" e2e_wait_until 30 watch_listening "$port"
"$MOTION_WATCH" --source "http://127.0.0.1:$port" --output out --clip-format copy --pre 3 --post 1 \
    >/dev/null 2>stderr.txt &
E2E_APP_PID=$!
ended() { [ "$(cat out/events.jsonl 2>/dev/null | grep -c '"type":"end"')" -ge 1 ]; }
e2e_check "no event ended" e2e_wait_until 90 ended
kill -INT "$E2E_APP_PID"
e2e_check "still running after SIGINT" e2e_wait_exit 30
[ "$E2E_APP_STATUS" -eq 0 ] || e2e_fail "status $E2E_APP_STATUS after SIGINT: $(cat stderr.txt)"
while read -r clip frames first last; do
    [ "${clip##*.}" = mp4 ] || e2e_fail "$clip is no MP4"
    [ "$(e2e_probe_value frames "out/$clip")" = "$frames" ] || e2e_fail "$clip does not play its $frames frames"
    # At least the pre-capture and the event's own frames (fewer only when
    # the stream had not run 3 seconds yet).
    [ "$frames" -ge $((last - first + 1)) ] || e2e_fail "$clip holds $frames frames for frames $first-$last"
done < <(sed -n 's/.*"startFrame":\([0-9]*\),"endFrame":\([0-9]*\),.*"clip":"\([^"]*\)","clipFrames":\([0-9]*\).*/\3 \4 \1 \2/p' \
    out/events.jsonl)
[ "$(grep -c '"clip":"' out/events.jsonl)" -ge 1 ] || e2e_fail "no clip written: $(cat out/events.jsonl)"
