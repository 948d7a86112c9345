#!/usr/bin/env bash
# Events from a file, checked against the rule applied to motion_trace's
# report of the same video: a square that moves in scheduled stretches gives
# one event whose clip reaches back to the start of the file and that takes
# in a short pause, one on its own whose pre-capture overlaps the previous
# event's frames, and one that runs to the end of the file. The event command
# sees every log line, and each failing command is reported; the fast input
# gives the same events and clips; with
# --max-storage-mb 0 only the newest event's files stay, while the log keeps
# all lines. With the configuration's zones (half of the picture, at scale
# factor 2) the events again follow motion_trace's report.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"

e2e_make_workdir
e2e_make_video scheduled.avi --frames 340 --fps 10 --schedule 0-50,58-110,200-250,300-340
e2e_write_config unused.avi
"$MOTION_TRACE" Config_Params.json scheduled.avi --output trace.jsonl || e2e_fail "motion_trace failed"

"$MOTION_WATCH" --source scheduled.avi --output out --pre 4 --post 3 --on-event 'cat >> hook.txt' \
    >stdout.txt 2>stderr.txt || e2e_fail "motion_watch ended with status $?"
/usr/bin/python3 "$here/check_events.py" trace.jsonl out 4 3 10 "$PROBE_VIDEO" scheduled.avi ||
    e2e_fail "events differ from the rule"
[ "$(grep -c '"type":"end"' out/events.jsonl)" -eq 3 ] || e2e_fail "the schedule no longer gives three events"
grep -q '"startFrame":[0-9]*,"endFrame":339,' out/events.jsonl || e2e_fail "no event ends with the file"
cmp -s stdout.txt out/events.jsonl || e2e_fail "stdout differs from the events log"
cmp -s hook.txt out/events.jsonl || e2e_fail "the event command did not get every line"

# The fast input decodes the file itself and detects on its luma plane; on
# this clean square the events are the same, and the clips, made colour only
# when written (pre-capture included), show the square where the source has it.
"$MOTION_WATCH" --source scheduled.avi --output fast --pre 4 --post 3 --fast-input >/dev/null 2>&1 ||
    e2e_fail "motion_watch --fast-input ended with status $?"
/usr/bin/python3 "$here/check_events.py" trace.jsonl fast 4 3 10 "$PROBE_VIDEO" scheduled.avi ||
    e2e_fail "events of the fast input differ from the rule"

"$MOTION_WATCH" --source scheduled.avi --output limited --max-storage-mb 0 --on-event 'exit 3' >/dev/null 2>stderr.txt ||
    e2e_fail "motion_watch --max-storage-mb ended with status $?"
[ "$(grep -c 'command failed with status 3' stderr.txt)" -eq 6 ] || e2e_fail "failing commands not reported"
last=$(sed -n 's/.*"type":"end".*"clip":"\([^"]*\)\.avi".*/\1/p' limited/events.jsonl | tail -n 1)
[ "$(ls limited | sort | tr '\n' ' ')" = "$last.avi $last.jpg events.jsonl " ] ||
    e2e_fail "after pruning: $(ls limited | tr '\n' ' ') (newest event $last)"
[ "$(wc -l <limited/events.jsonl)" -eq 6 ] || e2e_fail "the log lost lines when files were pruned"

convert -size 320x240 xc:white -fill black -draw "rectangle 0,0 159,239" zones.png
e2e_write_config unused.avi scale_factor=2 region_mask_file='"zones.png"'
"$MOTION_TRACE" Config_Params.json scheduled.avi --output masked-trace.jsonl || e2e_fail "motion_trace failed with zones"
"$MOTION_WATCH" --source scheduled.avi --output masked --pre 4 >/dev/null 2>&1 ||
    e2e_fail "motion_watch with zones ended with status $?"
/usr/bin/python3 "$here/check_events.py" masked-trace.jsonl masked 4 3 10 "$PROBE_VIDEO" scheduled.avi ||
    e2e_fail "events with zones differ from the rule"
[ "$(grep -c '"type":"end"' masked/events.jsonl)" -eq 1 ] || e2e_fail "the zones no longer leave one event"
