#!/usr/bin/env bash
# A video file cut off half-way: the frames before the damage play, the
# damage counts as the end of the file, so playback starts over and the
# program goes on instead of giving up on the source; ESC ends it as usual.
source "$(dirname "$0")/lib.sh"

e2e_start_xvfb
e2e_make_workdir
e2e_make_video whole.avi --frames 80 --size 320x240 --fps 20 --square 16 --speed 4
head -c $(($(stat -c %s whole.avi) / 2)) whole.avi >cut.avi
rm whole.avi
e2e_write_config cut.avi
e2e_start_app

input=$(e2e_wait_window "INPUT VIDEO")
e2e_check "no video frame in the input window" e2e_wait_pixel 15 225 90 80 70 12
shown=$(e2e_now)
read -r ix iy _ <<<"$(e2e_window_geometry "$input")"

# The square only ever moves right, except where playback starts over.
last_x=-1
square_went_back() {
    local x
    x=$(e2e_square_left "$ix" $((iy + 120)) 320)
    [ "$x" -ge 0 ] || return 1
    local before=$last_x
    last_x=$x
    [ "$before" -ge 0 ] && [ "$x" -lt "$before" ]
}
e2e_check "playback never started over" e2e_wait_until 30 square_went_back
e2e_log "started over: the square went back to column $last_x"

# Past the readable part and the five seconds without frames after which
# the program would give up on its source.
sleep "$(awk -v s="$shown" -v n="$(e2e_now)" 'BEGIN { d = s + 8 - n; print (d > 0 ? d : 0) }')" # a measuring interval
e2e_check "program ended on a damaged file" e2e_app_running
last_x=-1
e2e_check "playback does not go on" e2e_wait_until 30 square_went_back
grep -q "No frame" "$E2E_WORKDIR/stdout.txt" && e2e_fail "gave up on the damaged file"

e2e_escape_ends_program "$input" "playing a damaged file"
[ ! -s "$E2E_WORKDIR/stderr.txt" ] || e2e_fail "stderr: $(cat "$E2E_WORKDIR/stderr.txt")"
