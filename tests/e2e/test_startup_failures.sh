#!/usr/bin/env bash
# Start-up failures: the exact banner, then one line, about one second's
# wait and status 255, before any window exists (so no display is needed),
# and nothing at all on stderr. Without a display, a source that opens gets
# a line of its own.
source "$(dirname "$0")/lib.sh"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

e2e_make_workdir
expected="$E2E_WORKDIR/expected.txt"

# Runs the program on the current Config_Params.json and checks that its
# whole output is the banner followed by MESSAGE.
expect_failure() {
    local message=$1
    {
        printf '%s\n' \
            "###################################################" \
            "#                                                 #" \
            "#   Brannockvelderstimane Demo Application v4.0   #" \
            "#                                                 #" \
            "###################################################" \
            "" \
            "$message"
    } >"$expected"
    e2e_start_app
    e2e_check "no \"$message\" within 15 s" e2e_wait_stdout_line "$message" 15
    local line_seen total after_line
    line_seen=$(e2e_now)
    e2e_check "program still running 10 s after its message" e2e_wait_exit 10
    total=$(e2e_seconds_between "$E2E_APP_START" "$E2E_APP_END")
    after_line=$(e2e_seconds_between "$line_seen" "$E2E_APP_END")
    e2e_log "\"$message\", exit ${after_line} s later (${total} s after start), status $E2E_APP_STATUS"
    cmp -s "$expected" "$E2E_WORKDIR/stdout.txt" || {
        diff "$expected" "$E2E_WORKDIR/stdout.txt" >&2 || true
        e2e_fail "output differs from banner + \"$message\""
    }
    [ "$E2E_APP_STATUS" -eq 255 ] || e2e_fail "status $E2E_APP_STATUS, expected 255"
    [ ! -s "$E2E_WORKDIR/stderr.txt" ] || e2e_fail "stderr after \"$message\": $(cat "$E2E_WORKDIR/stderr.txt")"
    # The wait follows the line: at least a second in all, and not much more
    # after the line showed up (the polling itself takes a little).
    e2e_float_between "$total" 0.95 60 || e2e_fail "ended $total s after start, expected a one-second wait"
    e2e_float_between "$after_line" 0.5 2.5 || e2e_fail "ended $after_line s after its message, expected about one"
}

e2e_log "missing Config_Params.json"
expect_failure "Configuration params not read"

e2e_log "broken Config_Params.json"
printf '{ "Config_Params": { "video_source_init_string": "clip.avi", ' >Config_Params.json
expect_failure "Configuration params not read"

e2e_log "a file path that cannot be opened"
e2e_write_config "no/such/video.avi"
expect_failure "Video file not open"

e2e_log "a video file cut off inside its header"
e2e_make_video whole.avi --frames 5 --size 64x48
head -c 1000 whole.avi >cut.avi
e2e_write_config cut.avi
expect_failure "Video file not open"

e2e_log "the reserved text in another case is just a path"
e2e_write_config "Open file dialog"
expect_failure "Video file not open"

for text in "a.mp" "" "-" "99"; do
    e2e_log "camera text \"$text\""
    e2e_write_config "$text"
    expect_failure "Camera not open"
done

e2e_write_config whole.avi
no_display="No display: run this program in a desktop session, or see scripts/demo.sh"
e2e_log "a video that opens, without a display"
expect_failure "$no_display"
e2e_log "a display that cannot be reached"
DISPLAY=:4093 expect_failure "$no_display"
e2e_log "the file dialog, without a display"
e2e_write_config "open file dialog"
expect_failure "$no_display"

e2e_log "a region mask file that is not a picture"
e2e_write_config whole.avi 'region_mask_file="Config_Params.json"'
expect_failure "Region mask not read"
