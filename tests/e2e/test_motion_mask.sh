#!/usr/bin/env bash
# The MOTION MASK window shows a moving square of a generated video in
# white, where the input window shows the square, and keeps the still,
# slightly noisy background black. The scale factor of 2 makes the mask go
# through the block enlargement.
source "$(dirname "$0")/lib.sh"

e2e_start_xvfb
e2e_make_workdir
e2e_make_video clip.avi --frames 300 --size 320x240 --fps 20 --square 24 --speed 3 --noise 3
e2e_write_config clip.avi scale_factor=2
e2e_start_app

mask=$(e2e_wait_window "MOTION MASK")
e2e_check "mask window never became 320x240" e2e_wait_geometry "$mask" 320 240
read -r mx my _ <<<"$(e2e_window_geometry "$mask")"
read -r ix iy _ <<<"$(e2e_window_geometry "$(e2e_wait_window "INPUT VIDEO")")"

# From one screenshot: the square's columns on the input window's middle row,
# the white columns of the mask on the same row, and white anywhere in the
# mask's top 90 rows, well above the square (rows 108 to 131). The two
# windows may be a frame or two apart, so the mask may trail the square by
# a few pixels. Until the first frame's square has faded from the model, it
# leaves a white ghost at its starting place; the poll waits that out.
mask_shows_square() {
    local shot="$E2E_WORKDIR/shot.png" square left right white outside stray
    e2e_screenshot "$shot" 2>/dev/null || return 1
    square=$(_e2e_rgb_lines "$shot" "$ix" $((iy + 120)) 320 1 |
        awk '$1 > 160 && $2 > 160 && $3 > 160 { if (!n++) first = NR - 1; last = NR - 1 } END { if (n) print first, last }')
    [ -n "$square" ] || return 1
    read -r left right <<<"$square"
    read -r white outside <<<"$(_e2e_rgb_lines "$shot" "$mx" $((my + 120)) 320 1 |
        awk -v lo=$((left - 7)) -v hi=$((right + 7)) \
            '$1 > 200 && $2 > 200 && $3 > 200 { n++; x = NR - 1; if (x < lo || x > hi) o++ } END { print n + 0, o + 0 }')"
    stray=$(e2e_count_where "$shot" "$mx" "$my" 320 90 'r > 200 || g > 200 || b > 200')
    e2e_log "square at columns $left..$right; mask row: $white white, $outside of them off the square; white above: $stray"
    [ "$white" -ge 16 ] && [ "$outside" -eq 0 ] && [ "$stray" -eq 0 ]
}

e2e_check "the mask never showed the moving square in white" e2e_wait_until 40 mask_shows_square
e2e_check "program ended while showing the mask" e2e_app_running
