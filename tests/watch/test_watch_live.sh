#!/usr/bin/env bash
# A live source that drops and comes back: a local stream served by ffmpeg
# stops in the middle of an event, which then ends as interrupted with
# "Video source lost, reopening" on stderr; once the stream is served again
# the watcher reconnects by itself and finds the next event; SIGINT ends
# that one as interrupted too, with status 0.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
source "$here/stream_lib.sh"

command -v ffmpeg >/dev/null || e2e_skip "ffmpeg is not installed"
e2e_make_workdir
e2e_make_video moving.avi --frames 600 --fps 10
e2e_write_config unused.avi

port=$(watch_free_port)
# set +e: the trap must reach the shared cleanup, which reads the status from $?.
trap 'status=$?; watch_stop_stream; set +e; (exit $status); _e2e_cleanup' EXIT
serve() { watch_serve_stream moving.avi "$port"; }
lines() { cat out/events.jsonl 2>/dev/null | grep -c "\"type\":\"$1\""; }
has_lines() { [ "$(lines "$1")" -ge "$2" ]; }

serve
"$MOTION_WATCH" --source "http://127.0.0.1:$port" --output out --post 1 >stdout.txt 2>stderr.txt &
E2E_APP_PID=$!
e2e_check "no event from the stream" e2e_wait_until 60 has_lines start 1
watch_stop_stream
e2e_check "no message about the lost source" e2e_wait_until 30 grep -qxF "Video source lost, reopening" stderr.txt
has_lines end 1 || e2e_fail "the event did not end when the source was lost"
grep '"type":"end"' out/events.jsonl | grep -q '"interrupted":true}$' || e2e_fail "the lost source's event is not interrupted"

serve
e2e_check "no event after the stream came back" e2e_wait_until 90 has_lines start 2
kill -INT "$E2E_APP_PID"
e2e_check "still running after SIGINT" e2e_wait_exit 30
[ "$E2E_APP_STATUS" -eq 0 ] || e2e_fail "status $E2E_APP_STATUS after SIGINT"
[ "$(lines end)" -eq 2 ] && [ "$(grep -c '"interrupted":true}$' out/events.jsonl)" -eq 2 ] ||
    e2e_fail "expected two interrupted events: $(cat out/events.jsonl)"
while read -r clip frames; do
    [ "$(e2e_probe_value frames "out/$clip")" = "$frames" ] || e2e_fail "$clip does not play its $frames frames"
done < <(sed -n 's/.*"clip":"\([^"]*\)","clipFrames":\([0-9]*\).*/\1 \2/p' out/events.jsonl)
