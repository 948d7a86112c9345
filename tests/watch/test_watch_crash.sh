#!/usr/bin/env bash
# Power loss and kill -9: the watcher of a stream is killed in the middle of
# an event, its clip unfinished, and the log is left with a line cut short
# (while it ran, a second watcher on its directory was refused). The next
# start repairs that before anything else, in one report line: the torn line
# goes, the interrupted event gets its end line ("interrupted" and
# "recovered" true) with its clip playing the frames it states, and the
# numbers go on from the log's highest. The event command inherits no file
# of the watcher besides its standard streams.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
source "$here/faults_lib.sh"

e2e_make_workdir
e2e_make_video moving.avi --frames 600 --fps 10
e2e_make_video scheduled.avi --frames 200 --fps 10 --schedule "$(faults_schedule 3 60 40)"
e2e_write_config unused.avi

# The event command lists the files it inherited (but for the listing's
# own, gone once listed).
cat >fds.py <<'PY'
import os
fds = [fd for fd in os.listdir("/proc/self/fd") if os.path.lexists("/proc/self/fd/" + fd)]
with open("fds.txt", "a") as out:
    out.write(" ".join(sorted(fds)) + "\n")
PY
clip_frames_written() {
    local clip
    clip=$(ls out/*.avi 2>/dev/null | head -n 1)
    [ -n "$clip" ] && [ "$(stat -c %s "$clip")" -gt 50000 ]
}
# A stream at its own pace, so that the event still runs at the kill.
port=$(watch_free_port)
faults_serve "$port" moving.avi stream
faults_start_watch --source "http://127.0.0.1:$port/" --output out --on-event 'exec /usr/bin/python3 fds.py'
e2e_check "no event started" e2e_wait_until 60 grep -qs '"type":"start"' out/events.jsonl
e2e_check "the clip did not grow" e2e_wait_until 60 clip_frames_written
# A second watcher must not take the running event for a crash's.
status=0
"$MOTION_WATCH" --source scheduled.avi --output out >/dev/null 2>second.txt || status=$?
[ "$status" -eq 1 ] && grep -q 'another motion_watch writes there' second.txt ||
    e2e_fail "a second watcher on the same directory: status $status, $(cat second.txt)"
kill -KILL "$E2E_APP_PID"
e2e_wait_exit 10 || e2e_fail "not ended by SIGKILL"
[ "$(faults_lines out/events.jsonl end)" -eq 0 ] || e2e_fail "the event ended before the kill"
[ "$(sort -u fds.txt)" = "0 1 2" ] || e2e_fail "the event command inherited: $(sort -u fds.txt | tr '\n' ' ')"
# Power lost in the middle of an end line.
printf '{"type":"end","event":1,"startFrame":2' >>out/events.jsonl

faults_start_watch --source scheduled.avi --output out --post 1
e2e_wait_exit 60 || e2e_fail "the second run did not end"
[ "$E2E_APP_STATUS" -eq 0 ] || e2e_fail "the second run ended with status $E2E_APP_STATUS"
e2e_log "$(cat stderr.txt)"
[ "$(wc -l <stderr.txt)" -eq 1 ] && grep -q '^motion_watch: repaired .*a line cut short removed' stderr.txt &&
    grep -q 'event 1 ended with [0-9]* frames in its clip' stderr.txt ||
    e2e_fail "no single line reporting the repair"
faults_check_log out
recovered=$(sed -n 2p out/events.jsonl)
[[ $recovered == '{"type":"end","event":1,"startFrame":'*'"endFrame":null,'*'"objects":null,"interrupted":true,"recovered":true}' ]] ||
    e2e_fail "not the recovered end line: $recovered"
[[ $recovered == *'"clip":"event_'*'_0001.avi"'* ]] || e2e_fail "the recovered event has no clip: $recovered"
[ "$(grep -c '"type":"start"' out/events.jsonl)" -eq 4 ] || e2e_fail "the second run did not find three events"
[ "$(sed -n 's/.*"type":"start","event":\([0-9]*\).*/\1/p' out/events.jsonl | tr '\n' ' ')" = "1 2 3 4 " ] ||
    e2e_fail "event numbers did not go on from the log: $(cat out/events.jsonl)"
[ "$(grep -c '^' stdout.txt)" -eq 7 ] && head -n 1 stdout.txt | grep -q '"recovered":true}$' ||
    e2e_fail "the recovered end line did not reach the standard output first"
