#!/usr/bin/env bash
# A live source that drops and comes back: a local stream served by ffmpeg
# stops in the middle of an event, which then ends as interrupted with
# "Video source lost, reopening" on stderr; once the stream is served again
# the watcher reconnects by itself and finds the next event; SIGINT ends
# that one as interrupted too, with status 0.
source "$(dirname "$0")/../e2e/lib.sh"

command -v ffmpeg >/dev/null || e2e_skip "ffmpeg is not installed"
e2e_make_workdir
e2e_make_video moving.avi --frames 600 --fps 10
e2e_write_config unused.avi

port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
server=""
stop_server() {
    if [ -n "$server" ]; then
        kill "$server" 2>/dev/null || true
        wait "$server" 2>/dev/null || true
    fi
    server=""
}
# set +e: the trap must reach the shared cleanup, which reads the status from $?.
trap 'status=$?; stop_server; set +e; (exit $status); _e2e_cleanup' EXIT

# The server takes one client; it listens once its port shows up in
# /proc/net/tcp (state 0A), which a probing connection would use up. The
# watcher's own attempts to reconnect may take it first (state 01).
listening() { awk -v p="$(printf ':%04X' "$port")" '$2 ~ p"$" && ($4 == "0A" || $4 == "01") { found = 1 } END { exit !found }' /proc/net/tcp; }
serve() {
    ffmpeg -nostdin -loglevel quiet -re -i moving.avi -c:v mpeg2video -q:v 3 -f mpegts -listen 1 "http://127.0.0.1:$port" &
    server=$!
    e2e_check "the stream server did not start" e2e_wait_until 30 listening
}
lines() { cat out/events.jsonl 2>/dev/null | grep -c "\"type\":\"$1\""; }
has_lines() { [ "$(lines "$1")" -ge "$2" ]; }

serve
"$MOTION_WATCH" --source "http://127.0.0.1:$port" --output out --post 1 >stdout.txt 2>stderr.txt &
E2E_APP_PID=$!
e2e_check "no event from the stream" e2e_wait_until 60 has_lines start 1
stop_server
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
