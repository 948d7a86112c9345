#!/usr/bin/env bash
# Streams that misbehave, from a local server. Against a server that accepts
# and never answers, SIGHUP ends the watcher while it is still opening the
# source: within 2 s, status 0, nothing created. Then a stream that stalls
# with its connection open in the middle of an event: the source counts as
# lost once (one message), the event ends as interrupted, and reconnection
# starts within 7 s of the stall; the next connection sends garbage and is
# given up, the one after streams again and a new event starts, with no
# phantom event from the frame a given-up read brings late. SIGTERM during
# a second stall ends the watcher within 2 s with status 0. The clips play
# at the stream's 10 frames per second.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
source "$here/faults_lib.sh"

e2e_make_workdir
e2e_make_video moving.avi --frames 600 --fps 10
e2e_write_config unused.avi

port=$(watch_free_port)
faults_serve "$port" moving.avi silent
faults_start_watch --source "http://127.0.0.1:$port/" --output silent-out
e2e_check "the watcher did not connect" e2e_wait_until 30 grep -q '^connect 1' server.log
faults_stop_within 2 HUP
[ ! -e silent-out ] && [ ! -s stdout.txt ] && [ ! -s stderr.txt ] || e2e_fail "SIGHUP while opening left traces"
_faults_stop "$faults_server"
rm server.log

port=$(watch_free_port)
faults_serve "$port" moving.avi stall:8 garbage stall:10
faults_start_watch --source "http://127.0.0.1:$port/" --output out --post 1
e2e_check "no message about the lost source" e2e_wait_until 60 grep -qxF "Video source lost, reopening" stderr.txt
e2e_check "the event did not end when the source was lost" e2e_wait_until 10 grep -q '"type":"end"' out/events.jsonl
grep -q '"type":"end","event":1,.*"interrupted":true}$' out/events.jsonl || e2e_fail "the lost source's event is not interrupted"
e2e_check "no reconnection" e2e_wait_until 30 grep -q '^connect 3' server.log
reconnected=$(e2e_seconds_between "$(faults_server_time 'stall 1')" "$(faults_server_time 'connect 2')")
given_up=$(e2e_seconds_between "$(faults_server_time 'connect 2')" "$(faults_server_time 'connect 3')")
e2e_log "reconnected ${reconnected} s after the stall; garbage given up after ${given_up} s"
e2e_float_between "$reconnected" 0 "$(awk -v k="$E2E_TIMEOUT_SCALE" 'BEGIN { print 7 * k }')" ||
    e2e_fail "reconnection only ${reconnected} s after the stall"
e2e_float_between "$given_up" 0 "$(awk -v k="$E2E_TIMEOUT_SCALE" 'BEGIN { print 7 * k }')" ||
    e2e_fail "the garbage held the watcher for ${given_up} s"

e2e_check "no event after reconnecting" e2e_wait_until 60 grep -q '"type":"start","event":2,' out/events.jsonl
e2e_check "the stream did not stall again" e2e_wait_until 30 grep -q '^stall 3' server.log
second_passed() { awk -v n="$(e2e_now)" -v t="$(faults_server_time 'stall 3')" 'BEGIN { exit !(n > t + 1) }'; }
e2e_wait_until 5 second_passed
faults_stop_within 2 TERM

[ "$(grep -c 'Video source lost' stderr.txt)" -eq 1 ] || e2e_fail "the lost source was reported more than once"
cmp -s stdout.txt out/events.jsonl || e2e_fail "stdout differs from the log"
[ "$(faults_lines out/events.jsonl end)" -eq 2 ] || e2e_fail "expected two events: $(cat out/events.jsonl)"
grep -q '"type":"end","event":2,.*"interrupted":true}$' out/events.jsonl || e2e_fail "SIGTERM's event is not interrupted"
faults_check_log out
# The clips play at the rate frames came, not at that of the burst the
# decoder releases after opening.
for clip in out/*.avi; do
    fps=$(e2e_probe_value fps "$clip")
    e2e_float_between "$fps" 9 11 || e2e_fail "$clip plays at $fps frames per second, not 10"
done
