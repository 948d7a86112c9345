#!/usr/bin/env bash
# r in a working directory where no file can be created: one clear line per
# attempt, no recording label, no file, and the program goes on. The
# directory is removed while the program runs, which stops even root from
# creating files in it.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/recording_lib.sh"

e2e_start_xvfb
e2e_make_workdir
e2e_make_video clip.avi --frames 400 --size 320x240 --fps 20 --square 16 --speed 2
e2e_write_config "$E2E_WORKDIR/clip.avi"
mkdir gone
mv Config_Params.json gone/
e2e_start_app "$E2E_WORKDIR/gone"
input=$(e2e_wait_window "INPUT VIDEO")
e2e_check "no video frame in the input window" e2e_wait_pixel 15 225 90 80 70 12
rm -rf gone

pattern='^Recording could not be started: record_[0-9]{2}_[0-9]{2}_[0-9]{4}(_[0-9]{2}){3}\.avi cannot be written$'
failures() { grep -cE "$pattern" "$E2E_WORKDIR/stdout.txt" || true; }
has_failures() { [ "$(failures)" -ge "$1" ]; }
for attempt in 1 2; do
    e2e_key "$input" r
    e2e_check "no failure line after r number $attempt" e2e_wait_until 15 has_failures $attempt
    e2e_check "RECORDING label shown although nothing is recorded" label_gone
done
e2e_log "$(grep -E "$pattern" "$E2E_WORKDIR/stdout.txt" | head -n 1)"
[ "$(failures)" -eq 2 ] || e2e_fail "$(failures) failure lines for two presses of r"

read -r ix iy _ <<<"$(e2e_window_geometry "$input")"
before=$(e2e_square_left "$ix" $((iy + 120)) 320)
moved() { [ "$(e2e_square_left "$ix" $((iy + 120)) 320)" != "$before" ]; }
e2e_check "the video stopped after the failed recording" e2e_wait_until 10 moved

e2e_escape_ends_program "$input" "after failed recordings"
[ ! -s "$E2E_WORKDIR/stderr.txt" ] || e2e_fail "stderr: $(cat "$E2E_WORKDIR/stderr.txt")"
[ -z "$(find "$E2E_WORKDIR" -name 'record_*')" ] || e2e_fail "a recording file appeared: $(find "$E2E_WORKDIR" -name 'record_*')"
[ "$(grep -cv -E "$pattern" "$E2E_WORKDIR/stdout.txt")" -eq 6 ] || e2e_fail "unexpected lines besides the banner: $(cat "$E2E_WORKDIR/stdout.txt")"
