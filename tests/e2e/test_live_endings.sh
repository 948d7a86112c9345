#!/usr/bin/env bash
# The other ways out of the live program: SIGINT, SIGTERM and SIGHUP, and the
# close button, end it as ESC does, with a running recording finalised and
# holding every frame shown until then (also when the display goes away); a
# jump of the wall clock does not hold playback up.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/recording_lib.sh"

speed=4 # the square's step per frame; its left edge wraps after 304 columns
e2e_start_xvfb
e2e_make_workdir
e2e_make_video clip.avi --frames 600 --size 320x240 --fps 20 --square 16 --speed $speed
e2e_write_config clip.avi

start_playing() {
    e2e_start_app
    input=$(e2e_wait_window "INPUT VIDEO")
    e2e_check "no video frame in the input window" e2e_wait_pixel 15 225 90 80 70 12
    read -r ix iy _ <<<"$(e2e_window_geometry "$input")"
}

# record_then_end WHAT COMMAND...: records for a moment, freezes the program
# (SIGSTOP) so that the window keeps the last frame shown, runs COMMAND,
# lets the program go on and checks that it ends with status 255, leaving a
# recording of consecutive frames that ends with the frame seen frozen or
# one or two passes later (the pass under way, and the one that noticed).
record_then_end() {
    local what=$1
    shift
    rm -f record_*.avi
    start_playing
    toggle_recording on "$input"
    e2e_check "no recording file" e2e_wait_until 10 test -n "$(recordings)"
    sleep 1.5 # the length of the recording, not a readiness wait
    kill -STOP "$E2E_APP_PID"
    local shown
    shown=$(e2e_square_left "$ix" $((iy + 120)) 320)
    "$@"
    kill -CONT "$E2E_APP_PID"
    e2e_check "program still running 5 s after $what" e2e_wait_exit 5
    [ "$E2E_APP_STATUS" -eq 255 ] || e2e_fail "status $E2E_APP_STATUS after $what, expected 255"

    local file centers
    file=$(recordings)
    [ "$(echo "$file" | grep -c .)" -eq 1 ] || e2e_fail "expected one recording after $what, found: $file"
    centers=$(e2e_probe_value center "$file" --square-center) || e2e_fail "$file cannot be read after $what"
    # The square's middle is its left edge + 7.5; a box drawn over the square
    # may move either measurement by one column.
    echo "$centers" | awk -v speed=$speed -v shown="$shown" -v what="$what" '{
        if (NF < 10) { print "only " NF " frames recorded before " what; exit 1 }
        for (i = 2; i <= NF; ++i) {
            step = ($i - $(i - 1) + 304 * 4) % 304
            if (step < speed - 1.01 || step > speed + 1.01) { print "frame " i - 1 " is no pass after the one before"; exit 1 }
        }
        behind = ($NF - 7.5 - shown + 304 * 4) % 304
        if (behind > 2 * speed + 1.5 && behind < 304 - 1.5) { print "the last frame is " behind " columns from the one shown at " what; exit 1 }
        print what ": " NF " consecutive frames, the last " behind " columns on from the one shown"
    }' || e2e_fail "recording after $what"
}

send_twice() {
    kill "-$1" "$E2E_APP_PID"
    kill -CONT "$E2E_APP_PID"
    kill "-$2" "$E2E_APP_PID" 2>/dev/null || true # may have ended already
}

record_then_end "SIGINT, then SIGINT again while ending" send_twice INT INT
record_then_end "SIGTERM, then SIGHUP while ending" send_twice TERM HUP
close_mask_window() { "$CLOSE_WINDOW" "$(e2e_find_window "MOTION MASK")"; }
record_then_end "the close button of MOTION MASK" close_mask_window
[ ! -s "$E2E_WORKDIR/stderr.txt" ] || e2e_fail "stderr: $(cat "$E2E_WORKDIR/stderr.txt")"

# The wall clock moves 40 minutes on while the monotonic clock runs on
# normally, as after a resume from suspend or a time server's step.
faketime_lib=/usr/lib/$(gcc -print-multiarch)/faketime/libfaketime.so.1
echo "+0" >fake-time
LD_PRELOAD=$faketime_lib FAKETIME_TIMESTAMP_FILE="$E2E_WORKDIR/fake-time" FAKETIME_NO_CACHE=1 \
    FAKETIME_DONT_FAKE_MONOTONIC=1 start_playing
echo "+40m" >fake-time
before=$(e2e_square_left "$ix" $((iy + 120)) 320)
moved() { [ "$(e2e_square_left "$ix" $((iy + 120)) 320)" != "$before" ]; }
e2e_check "playback stopped after the wall clock jumped" e2e_wait_until 5 moved
e2e_escape_ends_program "$input" "after the wall clock jumped"

# The display goes away (the X server stops, a remote session drops): the
# toolkit ends the program from inside a key poll; the recording is
# finalised all the same and the status is the usual one.
stop_display() {
    kill "$E2E_XVFB_PID"
    wait "$E2E_XVFB_PID" 2>/dev/null || true
    E2E_XVFB_PID=
}
record_then_end "the display going away" stop_display
