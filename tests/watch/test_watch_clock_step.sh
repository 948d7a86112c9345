#!/usr/bin/env bash
# The wall clock steps back a day between two runs on one output directory
# (faketime; the monotonic clock is left alone), with a storage limit that
# holds about two events, and a crash's leftover (a clip of the event-file
# pattern that no line names, its name from the far future, its time from
# the past). The limit deletes the leftover first and then the events that
# ended first, although the newest events' names now sort before the old
# ones: the files that stay are those of the last events in the log. The
# second run's events are numbered on from the first's.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
source "$here/faults_lib.sh"

command -v faketime >/dev/null || e2e_skip "faketime is not installed"
e2e_make_workdir
e2e_make_video scheduled.avi --frames 180 --fps 10 --size 640x480 --noise 8 --schedule "$(faults_schedule 3 60 40)"
e2e_write_config unused.avi
watch_at() {
    FAKETIME_DONT_FAKE_MONOTONIC=1 faketime -m "$1" "$MOTION_WATCH" --source scheduled.avi --output out \
        --pre 1 --post 1 --max-storage-mb 2 >>stdout.txt 2>>stderr.txt || e2e_fail "the run at $1 failed"
}

watch_at '2027-03-01 12:00:00'
head -c 300000 /dev/zero >out/event_20991231_235959_0099.avi
touch -d '2020-01-01' out/event_20991231_235959_0099.avi
watch_at '2027-02-28 12:00:00'

[ ! -s stderr.txt ] || e2e_fail "messages: $(cat stderr.txt)"
[ "$(sed -n 's/.*"type":"start","event":\([0-9]*\),.*"time":"\(2027-0[23]-[0-9]*\)T.*/\1 \2/p' out/events.jsonl | tr '\n' ' ')" = \
    "1 2027-03-01 2 2027-03-01 3 2027-03-01 4 2027-02-28 5 2027-02-28 6 2027-02-28 " ] ||
    e2e_fail "not three events a day apart numbered on: $(cat out/events.jsonl)"
faults_check_log out --pruned
# The events whose files stay, in the log's order, as 0 (gone) and 1 (kept).
kept=$(sed -n 's/.*"type":"end".*"clip":"\([^"]*\)\.avi".*/\1/p' out/events.jsonl |
    while read -r stem; do [ -e "out/$stem.avi" ] && echo -n 1 || echo -n 0; done)
e2e_log "files kept, by event: $kept; $(ls out | tr '\n' ' ')"
[[ $kept =~ ^0+11+$ ]] || e2e_fail "the files kept are not those of the last events: $kept"
[ ! -e out/event_20991231_235959_0099.avi ] || e2e_fail "the crash's leftover is still there"
