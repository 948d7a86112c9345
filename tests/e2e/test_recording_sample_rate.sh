#!/usr/bin/env bash
# File playback is paced to the file's own rate: about five seconds recorded
# from the 10 frames-per-second sample hold about fifty frames, although the
# recording itself is stamped 30 frames per second.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/recording_lib.sh"

sample="$E2E_SAMPLES_DIR/vtest.avi"
[ -s "$sample" ] || e2e_skip "no sample video at $sample (scripts/setup.sh fetches it)"

e2e_start_xvfb
e2e_make_workdir
e2e_write_config "$sample"
e2e_start_app
input=$(e2e_wait_window "INPUT VIDEO")
e2e_check "input window never became 768x576" e2e_wait_geometry "$input" 768 576

toggle_recording on "$input"
started=$(awk -v a="$PRESS_BEFORE" -v b="$PRESS_AFTER" 'BEGIN { printf "%.3f", (a + b) / 2 }')
sleep 5 # the length of the recording, not a readiness wait
toggle_recording off "$input"
stopped=$(awk -v a="$PRESS_BEFORE" -v b="$PRESS_AFTER" 'BEGIN { printf "%.3f", (a + b) / 2 }')
e2e_key "$input" Escape
e2e_check "program still running 5 s after ESC" e2e_wait_exit 5

file=$(recordings)
[ "$(echo "$file" | grep -c .)" -eq 1 ] || e2e_fail "expected one recording, found: $file"
frames=$(e2e_probe_value frames "$E2E_WORKDIR/$file")
fps=$(e2e_probe_value fps "$E2E_WORKDIR/$file")
seconds=$(awk -v a="$started" -v b="$stopped" 'BEGIN { printf "%.2f", b - a }')
e2e_log "$frames frames at a nominal $fps fps over $seconds s of recording"
[ "$fps" = 30.00 ] || e2e_fail "recorded at $fps fps, expected 30"
expected=$(awk -v s="$seconds" 'BEGIN { printf "%.1f", s * 10 }')
e2e_float_between "$frames" "$(awk -v e="$expected" 'BEGIN { print 0.7 * e - 2 }')" "$(awk -v e="$expected" 'BEGIN { print e + 2 }')" ||
    e2e_fail "$frames frames for $seconds s at 10 fps (about $expected expected)"
