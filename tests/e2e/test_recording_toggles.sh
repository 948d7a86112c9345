#!/usr/bin/env bash
# Several recordings in one run: r four times gives two files, a name already
# taken is never overwritten, and ESC finalises a running recording.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/recording_lib.sh"

e2e_start_xvfb
e2e_make_workdir
e2e_make_video clip.avi --frames 100 --size 320x240 --fps 25
e2e_write_config clip.avi

playable() {
    local probe
    probe=$(e2e_probe "$E2E_WORKDIR/$1") || return 1
    echo "$probe" | grep -qx 'fourcc=MJPG' && [ "$(echo "$probe" | sed -n 's/^frames=//p')" -gt 0 ]
}

e2e_start_app
input=$(e2e_wait_window "INPUT VIDEO")
e2e_check "no video frame in the input window" e2e_wait_pixel 15 225 90 80 70 12

e2e_log "r four times"
toggle_recording on "$input"
toggle_recording off "$input"
toggle_recording on "$input"
toggle_recording off "$input"
files=$(recordings)
e2e_log "recordings: $(echo $files)"
[ "$(echo "$files" | grep -c .)" -eq 2 ] || e2e_fail "expected two recordings, found: $files"
for f in $files; do e2e_check "$f is not a playable Motion-JPEG file" playable "$f"; done

e2e_log "names already taken"
rm -f "$E2E_WORKDIR"/record_*.avi
# Stand-ins for earlier recordings under every name the next start may pick.
now=$(date +%s)
for ((s = now - 1; s <= now + 30; ++s)); do
    echo "earlier recording" >"$E2E_WORKDIR/record_$(date -d "@$s" +%d_%m_%Y_%H_%M_%S).avi"
done
toggle_recording on "$input"
toggle_recording off "$input"
new=$(recordings | grep '_1\.avi$' || true)
e2e_log "new recording: $new"
[ "$(echo "$new" | grep -c .)" -eq 1 ] || e2e_fail "expected one record_..._1.avi, found: $new"
e2e_check "$new is not a playable Motion-JPEG file" playable "$new"
for f in $(recordings | grep -v '_1\.avi$'); do
    [ "$(cat "$E2E_WORKDIR/$f")" = "earlier recording" ] || e2e_fail "$f was overwritten"
done

e2e_log "ESC during a recording"
rm -f "$E2E_WORKDIR"/record_*.avi
toggle_recording on "$input"
e2e_escape_ends_program "$input" "during a recording"
files=$(recordings)
[ "$(echo "$files" | grep -c .)" -eq 1 ] || e2e_fail "expected one recording, found: $files"
e2e_check "the recording cut short by ESC is not playable" playable "$files"
e2e_log "$files: $(e2e_probe_value frames "$E2E_WORKDIR/$files") frames"
