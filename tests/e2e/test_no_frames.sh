#!/usr/bin/env bash
# A source that stops delivering frames: a one-frame file cannot loop past
# its frame with index 1, so after the first frame every read is empty. The
# program keeps the keyboard alive without burning a core, ends on ESC, and
# gives up with one line after five seconds.
source "$(dirname "$0")/lib.sh"

e2e_start_xvfb
e2e_make_workdir
e2e_make_video single.avi --frames 1 --size 320x240 --fps 20
e2e_write_config single.avi

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$E2E_APP_PID/stat"; }

e2e_log "ESC while no frame arrives"
e2e_start_app
input=$(e2e_wait_window "INPUT VIDEO")
e2e_check "the only frame never showed" e2e_wait_pixel 15 225 90 80 70 12
ticks_before=$(cpu_ticks)
sleep 2 # a measuring interval, not a readiness wait
ticks=$(($(cpu_ticks) - ticks_before))
e2e_log "CPU time over 2 s of empty reads: $ticks ticks"
[ "$ticks" -lt 100 ] || e2e_fail "empty reads used $ticks ticks of CPU in 2 s: spinning"
e2e_escape_ends_program "$input" "while waiting for frames"
grep -q "No frame" "$E2E_WORKDIR/stdout.txt" && e2e_fail "gave up on the source although ESC came first"

e2e_log "nothing but waiting"
e2e_start_app
e2e_wait_window "INPUT VIDEO" >/dev/null
shown=$(e2e_now)
e2e_check "program did not give up within 20 s" e2e_wait_exit 20
took=$(e2e_seconds_between "$shown" "$E2E_APP_END")
e2e_log "gave up ${took} s after the window appeared, status $E2E_APP_STATUS"
[ "$E2E_APP_STATUS" -eq 255 ] || e2e_fail "status $E2E_APP_STATUS, expected 255"
e2e_float_between "$took" 4 9 || e2e_fail "gave up after $took s, expected about five"
[ "$(tail -n 1 "$E2E_WORKDIR/stdout.txt")" = "No frame from the video source for 5 seconds, ending" ] ||
    e2e_fail "last line is not the give-up message"
