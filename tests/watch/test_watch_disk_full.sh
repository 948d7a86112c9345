#!/usr/bin/env bash
# A full disk, for real: a 2 MiB tmpfs filled up before the watcher starts
# on a live stream, emptied after two events. The log from earlier runs
# fills its last page up to a few bytes, so that the first line written
# while the disk is full goes in part way only. While it is full the lines
# of the log wait (reported once), the events' clips and snapshots are
# reported as not written (one line per event) and their end lines say
# "clip":null; once there is room the waiting lines go in, in order, and new
# events get their files again. In the end the log holds exactly the earlier
# lines and those the standard output got, none torn or merged, and every
# clip named plays the frames its line states.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
source "$here/faults_lib.sh"

e2e_make_workdir
faults_mount_tmpfs 2m disk
e2e_make_video moving.avi --frames 400 --fps 10 --schedule "$(faults_schedule 7 60 40)"
e2e_write_config unused.avi
port=$(watch_free_port)
faults_serve "$port" moving.avi stream

# An earlier event 0 whose lines end 50 bytes short of the page.
mkdir disk/out
end='{"type":"end","event":0,"startFrame":0,"endFrame":0,"t0":0.000,"t1":0.000,"time":"2026-12-07T18:15:02+00:00","clip":null,"clipFrames":0,"snapshot":null,"objects":[],"interrupted":false}'
start='{"type":"start","event":0,"frame":0,"t":0.000,"time":"2026-12-07T18:15:02+00:00","padding":""}'
padding=$((4096 - 50 - ${#start} - ${#end} - 2))
printf '%s\n%s\n' "${start/\"\"\}/\"$(head -c "$padding" /dev/zero | tr '\0' x)\"\}}" "$end" >earlier.jsonl
[ "$(stat -c %s earlier.jsonl)" -eq 4046 ] || e2e_fail "the earlier lines are $(stat -c %s earlier.jsonl) bytes"
cp earlier.jsonl disk/out/events.jsonl
dd if=/dev/zero of=disk/filler bs=4k 2>/dev/null || true
faults_start_watch --source "http://127.0.0.1:$port/" --output disk/out --pre 1 --post 1
has_ends() { [ "$(faults_lines "$1" end)" -ge "$2" ]; }
e2e_check "no two events while the disk was full" e2e_wait_until 90 has_ends stdout.txt 2
cmp -s earlier.jsonl disk/out/events.jsonl || e2e_fail "lines went into a full disk"
grep -q "^motion_watch: cannot append to the events log disk/out/events.jsonl (No space left on device)" stderr.txt ||
    e2e_fail "the log's trouble was not reported"
rm disk/filler

e2e_check "the waiting lines did not go in" e2e_wait_until 30 grep -q "is written again" stderr.txt
with_clip() { grep '"type":"end"' disk/out/events.jsonl | tail -n 1 | grep -q '"clip":"event_'; }
e2e_check "no event with files after the disk had room again" e2e_wait_until 60 with_clip
faults_stop_within 30 INT

cat earlier.jsonl stdout.txt | cmp -s - disk/out/events.jsonl || e2e_fail "the log is not the earlier lines and stdout's"
faults_check_log disk/out
e2e_log "$(cat stderr.txt)"
[ "$(grep -c 'events log' stderr.txt)" -eq 2 ] || e2e_fail "the log's trouble was not reported once"
for event in 1 2; do
    [ "$(grep -c "^motion_watch: event $event: the clip .* could not be written (No space left on device); the snapshot .* could not be written (No space left on device)$" stderr.txt)" -eq 1 ] ||
        e2e_fail "event $event's files were not reported in one line"
    grep -q "\"type\":\"end\",\"event\":$event,.*\"clip\":null,\"clipFrames\":0,\"snapshot\":null," disk/out/events.jsonl ||
        e2e_fail "event $event's end line names files that were not written"
done
