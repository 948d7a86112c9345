#!/usr/bin/env bash
# The output directory removed, and later the log moved away, while the
# watcher runs (by its own event command, at the end of events 2 and 6).
# Each time it says so in one line, makes the directory again or starts a
# new log file, and goes on: the lines written since are in the log files
# (the moved one, then the new one) exactly as on the standard output, and
# every clip they name plays the frames they state.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
source "$here/faults_lib.sh"

e2e_make_workdir
e2e_make_video scheduled.avi --frames 720 --fps 10 --schedule "$(faults_schedule 12 60 40)"
e2e_write_config unused.avi
command='line=$(cat)
case $line in
*"\"type\":\"end\",\"event\":2,"*) mv out removed && rm -rf removed ;;
*"\"type\":\"end\",\"event\":6,"*) mv out/events.jsonl out/moved.jsonl ;;
esac'
faults_start_watch --source scheduled.avi --output out --pre 1 --post 1 --on-event "$command"
e2e_wait_exit 120 || e2e_fail "the watcher did not end"
[ "$E2E_APP_STATUS" -eq 0 ] || e2e_fail "status $E2E_APP_STATUS"
e2e_log "$(cat stderr.txt)"

[ "$(faults_lines stdout.txt end)" -eq 12 ] || e2e_fail "the schedule no longer gives twelve events"
[ "$(grep -c 'was deleted or replaced' stderr.txt)" -eq 2 ] || e2e_fail "not one report per removal"
# The command runs beside the watcher, which may write a line or two of
# event 3 into the old directory before the removal takes effect (the
# directory goes at once: renamed, then deleted).
head -n 1 out/moved.jsonl | grep -Eq '"event":(3|4),' || e2e_fail "the lines after the removal are not in the new directory"
cat out/moved.jsonl out/events.jsonl >out/combined.jsonl
tail -n "$(wc -l <out/combined.jsonl)" stdout.txt | cmp -s - out/combined.jsonl ||
    e2e_fail "the log files differ from the standard output's last lines"
grep -q '"type":"end","event":12,.*"clip":"event_' out/events.jsonl || e2e_fail "the last event has no clip"
# An event that straddles the removal ends in the new log without its start.
sed '1{/"type":"end"/d}' out/combined.jsonl >out/checked.jsonl
faults_check_log out --log checked.jsonl
