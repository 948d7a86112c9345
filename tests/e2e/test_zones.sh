#!/usr/bin/env bash
# Zones: a configured mask of half the frame size excludes (and darkens) a
# band at the top. Once the moving square has a box, a polygon clicked around
# the rest of its path (its open corners drawn in yellow) and closed with a
# right click makes the box vanish within a few frames of the square being
# inside it. Key w then writes the configured file back at frame size: both
# zones in black on white, to the pixel.
source "$(dirname "$0")/lib.sh"

e2e_make_workdir
e2e_start_xvfb 700x300x24
e2e_make_video clip.avi --frames 100 --size 320x240 --fps 8 --square 24 --speed 3
convert -size 160x120 xc:white -fill black +antialias -draw "rectangle 0,0 159,19" top.png
e2e_write_config clip.avi track_detection_criterion=5 track_reset_criterion=2 scale_factor=2 \
    'region_mask_file="top.png"'
e2e_start_app

input=$(e2e_wait_window "INPUT VIDEO")
e2e_check "input window never became 320x240" e2e_wait_geometry "$input" 320 240
read -r ix iy _ <<<"$(e2e_window_geometry "$input")"

# Red pixels below the processing time; the square's left edge on row 120,
# bright or darkened (every channel above 80, which the box and labels miss).
shot="$E2E_WORKDIR/shot.png"
red_now() { e2e_screenshot "$shot" && e2e_count_red "$shot" "$ix" $((iy + 25)) 320 215; }
square_left() { e2e_square_left_in "$shot" "$ix" $((iy + 120)) 320 80; }
# The background is (90, 80, 70) in RGB; darkened, its red stays below 50.
darkened() { e2e_screenshot "$shot" && read -r r _ <<<"$(e2e_pixel "$shot" $((ix + $1)) $((iy + $2)))" && [ "$r" -lt 50 ]; }
e2e_check "the configured band is not darkened" e2e_wait_until 10 darkened 10 30
! darkened 10 50 || e2e_fail "darkened below the configured band"
has_box() { [ "$(red_now)" -gt 40 ] && [ "$(square_left)" -lt 120 ]; }
e2e_check "no box around the square before it reached the zone" e2e_wait_until 30 has_box

click() { xdotool mousemove --window "$input" --sync "$1" "$2" click "$3"; }
yellow_shown() { e2e_screenshot "$shot" && [ "$(e2e_count_where "$shot" "$ix" "$iy" 320 240 'r > 200 && g > 200 && b < 80')" -gt 10 ]; }
click 150 60 1
click 319 60 1
e2e_check "the open polygon was not drawn" e2e_wait_until 10 yellow_shown
click 319 180 1
click 150 180 1
click 200 120 3 # anywhere: it adds no corner

# The zone counts from the frame that first shows it darkened. Inside it the
# square has no motion pixels; its track coasts for at most the reset
# criterion (2 frames) and is gone within 5 frames (15 px) of the square
# being inside, or of the zone showing, whichever is later.
e2e_check "the zone was never shown darkened" e2e_wait_until 20 darkened 300 70
shown_at=$(square_left)
[ "$shown_at" -lt 240 ] || e2e_fail "the zone showed too late, with the square at column $shown_at"
latest=$((shown_at > 150 ? shown_at + 15 : 165))
box_gone_at=""
while :; do
    red=$(red_now)
    left=$(square_left)
    [ "$left" -ge 264 ] || [ "$left" -lt "$shown_at" ] && break # past the zone or starting over
    [ "$left" -lt 150 ] && continue
    if [ "$red" -le 5 ]; then
        box_gone_at=${box_gone_at:-$left}
    else
        [ -z "$box_gone_at" ] || e2e_fail "the box came back (square at $left, $red red pixels)"
        [ "$left" -le "$latest" ] || e2e_fail "box still shown with the square at column $left, inside the zone"
    fi
done
e2e_log "box gone with the square at column $box_gone_at"
[ -n "$box_gone_at" ] || e2e_fail "the square was never seen inside the zone"

e2e_key "$input" w
e2e_check "no \"Region mask written\" line" e2e_wait_stdout_line "Region mask written: top.png" 10
convert -size 320x240 xc:white -fill black +antialias -draw "rectangle 0,0 319,39" \
    -draw "rectangle 150,60 319,180" expected.png
differing=$(compare -metric AE top.png expected.png null: 2>&1 || true)
[ "$differing" = 0 ] || e2e_fail "the written top.png differs from the two zones in $differing pixels"
e2e_escape_ends_program "$input" "after drawing zones"
