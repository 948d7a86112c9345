#!/usr/bin/env bash
# One recording, r to r: the file's name, format, rate and size, one frame
# per pass in between, and the frames as shown but without the label.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/recording_lib.sh"

fps=20
frames=600 # 30 s: the file does not loop during the test
speed=4    # the square's step per frame; it wraps at the right edge
e2e_start_xvfb
e2e_make_workdir
e2e_make_video clip.avi --frames $frames --size 320x240 --fps $fps --square 16 --speed $speed
e2e_write_config clip.avi
e2e_start_app
input=$(e2e_wait_window "INPUT VIDEO")
e2e_check "no video frame in the input window" e2e_wait_pixel 15 225 90 80 70 12

toggle_recording on "$input"
start_before=$PRESS_BEFORE start_after=$PRESS_AFTER
# The program names the file when its loop takes the key: on a busy machine
# that can be a second after the press, but never after the label shows.
names_at_start=$(for s in $(seq "${start_before%.*}" "${STATE_SEEN%.*}"); do
    echo -n "record_$(date -d "@$s" +%d_%m_%Y_%H_%M_%S).avi "
done)
e2e_screenshot "$E2E_WORKDIR/window-recording.png"
window_label=$(e2e_count_red "$E2E_WORKDIR/window-recording.png" 5 5 100 20)
sleep 2.5 # the length of the recording, not a readiness wait
toggle_recording off "$input"
stop_before=$PRESS_BEFORE stop_after=$PRESS_AFTER
e2e_key "$input" Escape
e2e_check "program still running 5 s after ESC" e2e_wait_exit 5
[ "$E2E_APP_STATUS" -eq 255 ] || e2e_fail "status $E2E_APP_STATUS, expected 255"

files=$(recordings)
e2e_log "recordings: $files"
[ "$(echo "$files" | grep -c .)" -eq 1 ] || e2e_fail "expected exactly one recording, found: $files"
[[ " $names_at_start " == *" $files "* ]] || e2e_fail "$files is not named from the local time of the key press ($names_at_start)"

file="$E2E_WORKDIR/$files"
probe=$(e2e_probe "$file" --square-center --red 0 0 100 20)
echo "$probe" | grep -v '^center=' | sed 's/^/    /'
value() { echo "$probe" | sed -n "s/^$1=//p"; }
[ "$(value fourcc)" = MJPG ] || e2e_fail "fourcc $(value fourcc), expected MJPG"
[ "$(value fps)" = 30.00 ] || e2e_fail "fps $(value fps), expected 30"
[ "$(value width)x$(value height)" = 320x240 ] || e2e_fail "size $(value width)x$(value height), expected 320x240"

# One frame per pass: consecutive frames of the source, none skipped or
# repeated. The square's left edge runs through 0..303 (320 - 16 - 1) and
# wraps; a box drawn over the square may shift the measured middle by one.
read -r -a centers <<<"$(value center)"
count=${#centers[@]}
steps=$(echo "${centers[@]}" | awk -v speed=$speed '{
    for (i = 2; i <= NF; ++i) {
        step = ($i - $(i - 1) + 304 * 4) % 304
        if (step < speed - 1.01 || step > speed + 1.01) { print "frame " i - 1 ": middle " $i " after " $(i - 1); exit }
    } }')
[ -z "$steps" ] || e2e_fail "recorded frames are not one pass each: $steps"

# Seen from outside, the passes between the presses: at most one per frame
# period (a pass lasts at least a period), within one at either press since
# each press lands somewhere within a pass, plus the moment xdotool takes.
# A loaded machine makes passes longer than a period, hence the loose lower
# bound; that every pass between the presses left exactly one frame is what
# the check of consecutive frames above proves.
bounds=$(awk -v a="$start_before" -v b="$start_after" -v c="$stop_before" -v d="$stop_after" -v f=$fps \
    'BEGIN { p = ((c + d) / 2 - (a + b) / 2) * f; s = 1 + ((b - a) + (d - c)) / 2 * f;
             printf "%.2f %.2f %.2f", p, 0.5 * p - s, p + s }')
read -r periods low high <<<"$bounds"
e2e_log "recorded $count consecutive frames; $periods frame periods between the presses (accepting $low..$high)"
e2e_float_between "$count" "$low" "$high" || e2e_fail "$count frames recorded for $periods frame periods"

# The label is in the window but never in the file; the processing time is in both.
e2e_log "red in the label area: window $window_label, recorded frames at most $(value red_max)"
[ "$window_label" -gt 20 ] || e2e_fail "no RECORDING label in the window while recording"
[ "$(value red_max)" -eq 0 ] || e2e_fail "the RECORDING label got into the recorded frames"
text_min=$(e2e_probe_value red_min "$file" --red 120 0 200 20)
[ "$text_min" -gt 20 ] || e2e_fail "a recorded frame lacks the processing-time text"
