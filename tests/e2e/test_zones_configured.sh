#!/usr/bin/env bash
# A configured region mask (half the frame size, so it is stretched)
# excluding the band the square moves along: the band is shown darkened and
# the square never gets a box. Key w writes the mask back to the configured
# file at frame size, the same band in black on white.
source "$(dirname "$0")/lib.sh"

e2e_make_workdir
e2e_start_xvfb 700x300x24
e2e_make_video clip.avi --frames 100 --size 320x240 --fps 8 --square 24 --speed 3
convert -size 160x120 xc:white -fill black +antialias -draw "rectangle 0,48 159,71" band.png
e2e_write_config clip.avi track_detection_criterion=5 scale_factor=2 'region_mask_file="band.png"'
e2e_start_app

input=$(e2e_wait_window "INPUT VIDEO")
e2e_check "input window never became 320x240" e2e_wait_geometry "$input" 320 240
read -r ix iy _ <<<"$(e2e_window_geometry "$input")"

# The background is (90, 80, 70) in RGB; darkened, its red stays below 50.
shot="$E2E_WORKDIR/shot.png"
e2e_screenshot "$shot"
read -r band_red _ <<<"$(e2e_pixel "$shot" $((ix + 10)) $((iy + 100)))"
read -r open_red _ <<<"$(e2e_pixel "$shot" $((ix + 10)) $((iy + 60)))"
[ "$band_red" -lt 50 ] && [ "$open_red" -gt 80 ] || e2e_fail "band not darkened (red $band_red in it, $open_red outside)"

# The square (darkened: every channel above 80) crosses the frame; a box
# would show after 5 frames (15 px) of motion.
deadline=$(awk -v n="$(e2e_now)" -v s="$E2E_TIMEOUT_SCALE" 'BEGIN { print n + 60 * s }')
left=-1
while [ "$left" -lt 200 ]; do
    awk -v n="$(e2e_now)" -v d="$deadline" 'BEGIN { exit !(n > d) }' && e2e_fail "the square never crossed the frame"
    e2e_screenshot "$shot"
    red=$(e2e_count_red "$shot" "$ix" $((iy + 25)) 320 215)
    left=$(e2e_square_left_in "$shot" "$ix" $((iy + 120)) 320 80)
    [ "$red" -le 5 ] || e2e_fail "a box ($red red pixels) with the square at column $left, inside the excluded band"
done

e2e_key "$input" w
e2e_check "no \"Region mask written\" line" e2e_wait_stdout_line "Region mask written: band.png" 10
convert -size 320x240 xc:white -fill black +antialias -draw "rectangle 0,96 319,143" expected.png
differing=$(compare -metric AE band.png expected.png null: 2>&1 || true)
[ "$differing" = 0 ] || e2e_fail "the written band.png differs from the configured band in $differing pixels"
e2e_escape_ends_program "$input" "with a configured mask"
