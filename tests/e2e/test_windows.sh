#!/usr/bin/env bash
# The live windows on a generated video: titles, positions and sizes, the
# processing-time text, space keeps the loop going, ESC ends it at once.
source "$(dirname "$0")/lib.sh"

e2e_start_xvfb
e2e_make_workdir
e2e_make_video clip.avi --frames 100 --size 320x240 --fps 20 --square 24 --speed 3
e2e_write_config clip.avi
e2e_start_app

input=$(e2e_wait_window "INPUT VIDEO")
mask=$(e2e_wait_window "MOTION MASK")
e2e_check "input window never became 320x240" e2e_wait_geometry "$input" 320 240
e2e_check "mask window never became 320x240" e2e_wait_geometry "$mask" 320 240
read -r ix iy _ <<<"$(e2e_window_geometry "$input")"
read -r mx my _ <<<"$(e2e_window_geometry "$mask")"
e2e_log "INPUT VIDEO at ($ix, $iy), MOTION MASK at ($mx, $my)"
[ "$ix $iy" = "5 5" ] || e2e_fail "INPUT VIDEO at ($ix, $iy), expected (5, 5)"
[ "$mx $my" = "330 5" ] || e2e_fail "MOTION MASK at ($mx, $my), expected (330, 5)"

# The video's grey background (BGR 70, 80, 90) shows up in the input window.
e2e_check "no video frame in the input window" e2e_wait_pixel $((ix + 10)) $((iy + 220)) 90 80 70 12

shot="$E2E_WORKDIR/live.png"
e2e_screenshot "$shot"
text_red=$(e2e_count_red "$shot" $((ix + 320 - 200)) "$iy" 200 20)
label_red=$(e2e_count_red "$shot" "$ix" "$iy" 100 20)
e2e_log "red pixels: processing-time area $text_red, label area $label_red"
[ "$text_red" -gt 30 ] || e2e_fail "no processing-time text at the top right"
[ "$label_red" -eq 0 ] || e2e_fail "red in the label area while not recording"

# Left edge of the moving square on the input window's middle row.
square_x() { e2e_square_left "$ix" $((iy + 120)) 320; }
square_moved() { [ "$(square_x)" != "$1" ]; }

e2e_key "$input" space
before=$(square_x)
e2e_check "the video stopped after space" e2e_wait_until 10 square_moved "$before"
e2e_check "program ended after space" e2e_app_running

e2e_escape_ends_program "$input" "after space and the checks above"
