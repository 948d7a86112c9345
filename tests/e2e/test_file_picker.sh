#!/usr/bin/env bash
# The source text "open file dialog": the file is chosen in a dialog titled
# "OPEN VIDEO FILE" before any window exists.
source "$(dirname "$0")/lib.sh"

e2e_start_xvfb
e2e_make_workdir
e2e_make_video clip.avi --frames 60 --size 320x240 --fps 20
e2e_write_config "open file dialog"
banner_lines=6

# Everything the program printed after its banner.
after_banner() { tail -n +$((banner_lines + 1)) "$E2E_WORKDIR/stdout.txt"; }

e2e_log "choosing a video"
e2e_start_app
dialog=$(e2e_wait_window "OPEN VIDEO FILE")
[ -z "$(e2e_find_window "INPUT VIDEO")" ] || e2e_fail "the video window exists before a file was chosen"
e2e_type "$dialog" "$E2E_WORKDIR/clip.avi"
e2e_key "$dialog" Return
input=$(e2e_wait_window "INPUT VIDEO")
e2e_check "input window never became 320x240" e2e_wait_geometry "$input" 320 240
e2e_check "no video frame in the input window" e2e_wait_pixel 15 225 90 80 70 12
[ "$(after_banner)" = "$E2E_WORKDIR/clip.avi" ] || e2e_fail "the chosen path was not printed on its own line"
e2e_key "$input" Escape
e2e_check "program still running 5 s after ESC" e2e_wait_exit 5
[ "$E2E_APP_STATUS" -eq 255 ] || e2e_fail "status $E2E_APP_STATUS after ESC, expected 255"

e2e_log "choosing a file that is no video"
e2e_start_app
dialog=$(e2e_wait_window "OPEN VIDEO FILE")
e2e_type "$dialog" "$E2E_WORKDIR/Config_Params.json"
e2e_key "$dialog" Return
e2e_check "program still running 15 s after the choice" e2e_wait_exit 15
[ "$E2E_APP_STATUS" -eq 255 ] || e2e_fail "status $E2E_APP_STATUS, expected 255"
[ "$(after_banner)" = "$E2E_WORKDIR/Config_Params.json"$'\n'"Video file not open" ] ||
    e2e_fail "expected the chosen path, then \"Video file not open\""

e2e_log "cancelling the dialog"
e2e_start_app
dialog=$(e2e_wait_window "OPEN VIDEO FILE")
e2e_key "$dialog" Escape
e2e_check "program still running 15 s after cancelling" e2e_wait_exit 15
[ "$E2E_APP_STATUS" -eq 255 ] || e2e_fail "status $E2E_APP_STATUS, expected 255"
[ "$(after_banner)" = "Video file not open" ] || e2e_fail "expected just \"Video file not open\" after cancelling"
