#!/usr/bin/env bash
# A square moving steadily across a flat background gets a red box around it
# (and a cyan number above it) in the INPUT VIDEO window, but only once it
# has moved for the detection criterion's number of frames.
source "$(dirname "$0")/lib.sh"

criterion=15
fps=3
e2e_make_workdir
e2e_start_xvfb 700x300x24 # small: quicker screenshots
e2e_make_video clip.avi --frames 90 --size 320x240 --fps "$fps" --square 24 --speed 3
e2e_write_config clip.avi track_detection_criterion=$criterion
e2e_start_app

input=$(e2e_wait_window "INPUT VIDEO")
e2e_check "input window never became 320x240" e2e_wait_geometry "$input" 320 240
read -r ix iy _ <<<"$(e2e_window_geometry "$input")"

# Below the processing-time text: rows 25 to 239 of the window.
top=25
height=$((240 - top))

# "minx miny maxx maxy count" of the pixels of the window area below the
# text that satisfy an awk condition on r, g, b (coordinates in the window).
extent_where() {
    convert "$1" -crop "320x${height}+${ix}+$((iy + top))" +repage -depth 8 txt:- |
        sed -n 's/^\([0-9]*\),\([0-9]*\):[^(]*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3 \4 \5/p' |
        awk -v top="$top" "{ x = \$1; y = \$2 + top; r = \$3; g = \$4; b = \$5
            if ($2) { n++; if (n == 1 || x < x0) x0 = x; if (n == 1 || y < y0) y0 = y
                      if (x > x1) x1 = x; if (y > y1) y1 = y } }
            END { print x0 + 0, y0 + 0, x1 + 0, y1 + 0, n + 0 }"
}
red='r > 120 && r - (g > b ? g : b) > 60'
bright='r > 160 && g > 160 && b > 160'
cyan='g > 150 && b > 150 && r < 110'

# The file is paced: frame k is shown no earlier than k frame periods after
# the program started. The first frame only teaches the background, the
# second founds the track, so no box may show before frame criterion + 1;
# screenshots finished before (criterion - 1) periods must show none.
quiet_until=$(awk -v s="$E2E_APP_START" -v c="$criterion" -v f="$fps" 'BEGIN { printf "%.3f", s + (c - 1) / f }')
early=0
while :; do
    e2e_screenshot "$E2E_WORKDIR/early.png"
    taken=$(e2e_now)
    awk -v t="$taken" -v q="$quiet_until" 'BEGIN { exit !(t < q) }' || break
    read -r _ _ _ _ n <<<"$(extent_where "$E2E_WORKDIR/early.png" "$red")"
    [ "$n" -eq 0 ] || e2e_fail "a red box after fewer than $criterion frames ($n red pixels)"
    early=$((early + 1))
done
e2e_log "$early screenshot(s) within the first $((criterion - 1)) frame periods showed no box"

# The red box encloses the square's bright pixels of the same frame.
box_around_square() {
    local shot="$E2E_WORKDIR/box.png"
    e2e_screenshot "$shot"
    read -r rx0 ry0 rx1 ry1 rn <<<"$(extent_where "$shot" "$red")"
    read -r sx0 sy0 sx1 sy1 sn <<<"$(extent_where "$shot" "$bright")"
    [ "$rn" -ge 40 ] && [ "$sn" -ge 100 ] || return 1
    [ "$rx0" -le "$sx0" ] && [ "$ry0" -le "$sy0" ] && [ "$rx1" -ge "$sx1" ] && [ "$ry1" -ge "$sy1" ] || return 1
    BOX="$rx0 $ry0 $rx1 $ry1"
    SQUARE="$sx0 $sy0 $sx1 $sy1"
    SHOT=$shot
}
e2e_check "no red box around the moving square" e2e_wait_until 60 box_around_square
e2e_log "red box ($BOX) around the square ($SQUARE)"

# The identifier stands just above the box's top left corner.
read -r bx0 by0 _ <<<"$BOX"
label_cyan=$(e2e_count_where "$SHOT" $((ix + bx0 - 2)) $((iy + by0 - 20)) 30 18 "$cyan")
[ "$label_cyan" -gt 5 ] || e2e_fail "no cyan identifier above the box ($label_cyan cyan pixels)"

e2e_key "$input" Escape
e2e_check "program still running 5 s after ESC" e2e_wait_exit 5
