#!/usr/bin/env bash
# motion_trace with a region mask: a square crossing an excluded band (a
# JPEG, columns 96 to 223, at scale factor 2) has no motion pixels once well
# inside it and no object box ever touches it, while the same trace without
# the mask (--region-mask "" overriding the configuration) reports both.
# An unreadable mask ends the trace with status 1 and one line.
source "$(dirname "$0")/lib.sh"
unset DISPLAY
: "${MOTION_TRACE:?}"

e2e_make_workdir
e2e_make_video clip.avi --frames 80 --size 320x240 --square 24 --speed 3
convert -size 320x240 xc:white -fill black +antialias -draw "rectangle 96,0 223,239" band.jpg
e2e_write_config clip.avi scale_factor=2 'region_mask_file="band.jpg"'

# "boxes silent" of a trace: object boxes overlapping the band, and how many
# of frames 47 to 64 (square columns 149 to 223, the second half of its way
# through the band, past the fading of its trail) have no motion pixels.
tally() {
    awk -F '[][{}:,]+' '
        { for (i = 1; i < NF; i++) {
              if ($i == "\"frame\"") frame = $(i + 1)
              if ($i == "\"motionPixels\"" && frame >= 47 && frame <= 64 && $(i + 1) == 0) silent++
              if ($i == "\"x0\"") x0 = $(i + 1)
              if ($i == "\"x1\"" && x0 <= 223 && $(i + 1) >= 96) boxes++
          } }
        END { print boxes + 0, silent + 0 }' "$1"
}

"$MOTION_TRACE" Config_Params.json clip.avi --output masked.jsonl || e2e_fail "trace with the configured mask failed"
"$MOTION_TRACE" Config_Params.json clip.avi --region-mask "" --output open.jsonl || e2e_fail "trace without mask failed"
read -r masked_boxes masked_silent <<<"$(tally masked.jsonl)"
read -r open_boxes open_silent <<<"$(tally open.jsonl)"
e2e_log "boxes in the band: $masked_boxes masked, $open_boxes open; silent frames: $masked_silent masked, $open_silent open"
[ "$masked_boxes" -eq 0 ] && [ "$masked_silent" -eq 18 ] || e2e_fail "the excluded band shows motion"
[ "$open_boxes" -gt 0 ] && [ "$open_silent" -eq 0 ] || e2e_fail "without the mask the square is not seen in the band"

status=0
"$MOTION_TRACE" Config_Params.json clip.avi --region-mask clip.avi >/dev/null 2>stderr.txt || status=$?
[ "$status" -eq 1 ] && [ "$(wc -l <stderr.txt)" -eq 1 ] || e2e_fail "unreadable mask: status $status, stderr: $(cat stderr.txt)"
