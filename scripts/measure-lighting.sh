#!/usr/bin/env bash
# Measures how the detector copes with a sudden change of light, and how much
# of the picture it marks as motion on clips without one.
#
#   scripts/measure-lighting.sh step [FRACTION...]
#       The sample clip, and the same clip made 15 % brighter and 15 % darker
#       from frame 300 on, traced once per lighting_change_fraction (default:
#       0, i.e. off). For each: the frames from 300 on with more than 20 % of
#       the picture as motion, and the (frame, object) reports in frames
#       300..699 next to those of the unaltered clip, in total and counting
#       in each frame no more than the unaltered clip has there. The last two
#       lines show the clips altered from the first frame on: what the new
#       light alone changes, without any step to recover from. STEP_FRAME=N
#       moves the step (and the 400 frames counted) to frame N.
#
#   scripts/measure-lighting.sh quiet [FRACTION]
#       The sample and the other clips of Debian's opencv-doc package, traced
#       with the fraction off: the largest share of the picture marked as
#       motion in any frame, and the first frame above FRACTION, where that
#       fraction would first relearn; a fraction above every share of a clip
#       never fires on it. Then traced with FRACTION: the frames relearned.
#
# Needs ffmpeg and a build (build/tools/motion_trace). Clips and traces go to
# build/lighting/. The altered clips and their unaltered reference are all
# re-encoded the same way (lossless FFV1), so compression cannot tell them
# apart. Set BUILD_DIR to use another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build}
TRACE="$BUILD_DIR/tools/motion_trace"
WORK="$BUILD_DIR/lighting"
PYTHON=/usr/bin/python3
STEP_FRAME=${STEP_FRAME:-300}
STEP_WINDOW=400
FLOOD_SHARE=0.2

die() { echo "measure-lighting: $*" >&2; exit 1; }
command -v ffmpeg >/dev/null || die "ffmpeg is missing (apt-get install ffmpeg)"
[ -x "$TRACE" ] || die "$TRACE is missing; build first"
[ -s samples/vtest.avi ] || die "samples/vtest.avi is missing; run scripts/setup.sh"
mkdir -p "$WORK"

# encode TARGET [FROM EXPRESSION]: lossless copy of the sample, with the grey
# values from frame FROM on replaced by the expression of val.
encode() {
    local target=$1 from=${2:-0} expression=${3:-val}
    [ -s "$target" ] && return
    ffmpeg -v error -y -i samples/vtest.avi -an \
        -vf "lutyuv=y='clip($expression,0,255)':enable='gte(n,$from)'" \
        -c:v ffv1 "$target.part.avi"
    mv "$target.part.avi" "$target"
}

# config FRACTION: Config_Params.json with the fraction added.
config() {
    local file="$WORK/config_$1.json"
    "$PYTHON" - "$1" "$file" <<'EOF'
import json, sys
with open("Config_Params.json") as f:
    document = json.load(f)
document["Config_Params"]["lighting_change_fraction"] = float(sys.argv[1])
with open(sys.argv[2], "w") as f:
    json.dump(document, f, indent=4)
EOF
    echo "$file"
}

# trace VIDEO FRACTION: the trace file of VIDEO with FRACTION, made again
# only when the tool was rebuilt since.
trace() {
    local video=$1 fraction=$2
    local out="$WORK/$(basename "${video%.*}")_$fraction.jsonl"
    [ -s "$out" ] && [ "$out" -nt "$TRACE" ] || "$TRACE" "$(config "$fraction")" "$video" --output "$out" 2>/dev/null
    echo "$out"
}

frame_pixels() {
    ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$1" \
        | head -1 | tr x '*' | bc
}

# compare ALTERED PLAIN PIXELS LABEL FRACTION: one line of the table.
compare() {
    "$PYTHON" - "$@" "$STEP_FRAME" "$STEP_WINDOW" "$FLOOD_SHARE" <<'EOF'
import json, sys
altered, plain, pixels, label, fraction, step, window, share = sys.argv[1:]
pixels, step, window, share = int(pixels), int(step), int(window), float(share)
def load(path):
    with open(path) as f:
        return [json.loads(line) for line in f]
def reports(frames):
    return sum(len(f["objects"]) for f in frames if step <= f["frame"] < step + window)
a, p = load(altered), load(plain)
flooded = [f["frame"] for f in a if f["frame"] >= step and f["motionPixels"] > share * pixels]
span = f" ({flooded[0]}..{flooded[-1]})" if flooded else ""
# Reports that the plain clip has in the same frame too: extra objects of the
# altered clip do not make up for missing ones.
shared = sum(min(len(x["objects"]), len(y["objects"])) for x, y in zip(a, p) if step <= x["frame"] < step + window)
kept = reports(a) / reports(p) if reports(p) else float("nan")
print(f"{label:<19} {fraction:<9} {len(flooded):>4}{span:<14} {reports(a):>4} of {reports(p):<4} ({kept:4.0%})"
      f"        {shared:>4} ({shared / reports(p):4.0%})")
EOF
}

step() {
    local fractions=("$@")
    [ ${#fractions[@]} -gt 0 ] || fractions=(0)
    encode "$WORK/vtest_plain.avi"
    local pixels plain
    pixels=$(frame_pixels "$WORK/vtest_plain.avi")
    printf '%-19s %-9s %-18s %-26s %s\n' clip fraction "flooded frames" "object reports (plain)" \
        "in frames of the plain's"
    for fraction in "${fractions[@]}"; do
        plain=$(trace "$WORK/vtest_plain.avi" "$fraction")
        for clip in brighter:1.15 darker:0.85; do
            local name=${clip%%:*} factor=${clip#*:}
            encode "$WORK/vtest_$name$STEP_FRAME.avi" "$STEP_FRAME" "val*$factor"
            compare "$(trace "$WORK/vtest_$name$STEP_FRAME.avi" "$fraction")" "$plain" "$pixels" \
                "$name at $STEP_FRAME" "$fraction"
        done
    done
    # The new light alone, without a step to recover from.
    plain=$(trace "$WORK/vtest_plain.avi" 0)
    for clip in brighter:1.15 darker:0.85; do
        local name=${clip%%:*} factor=${clip#*:}
        encode "$WORK/vtest_${name}0.avi" 0 "val*$factor"
        compare "$(trace "$WORK/vtest_${name}0.avi" 0)" "$plain" "$pixels" "$name throughout" 0
    done
}

# The clips of opencv-doc other than the sample: downloaded once, unpacked
# into the work directory, the package itself is not installed.
fetch_quiet_clips() {
    [ -s "$WORK/clips/done" ] && return
    local tmp
    tmp=$(mktemp -d)
    (cd "$tmp" && apt-get download -qq opencv-doc 2>/dev/null)
    mkdir -p "$WORK/clips"
    dpkg-deb --fsys-tarfile "$tmp"/opencv-doc_*.deb | tar -x -C "$tmp" \
        ./usr/share/doc/opencv-doc/examples/data/tree.avi \
        ./usr/share/doc/opencv-doc/examples/data/Megamind.avi \
        ./usr/share/doc/opencv-doc/examples/data/Megamind_bugy.avi \
        ./usr/share/doc/opencv-doc/opencv4/html/box.mp4.gz \
        ./usr/share/doc/opencv-doc/opencv4/html/cup.mp4.gz
    find "$tmp/usr" -type f -name '*.gz' -exec gunzip {} +
    find "$tmp/usr" -type f -exec mv {} "$WORK/clips/" \;
    rm -rf "$tmp"
    touch "$WORK/clips/done"
}

quiet() {
    local fraction=${1:-0}
    fetch_quiet_clips
    printf '%-18s %6s  %-15s %-12s %s\n' clip frames "largest share" "first above" "relearned with $fraction"
    for video in samples/vtest.avi "$WORK"/clips/*.avi "$WORK"/clips/*.mp4; do
        "$PYTHON" - "$(trace "$video" 0)" "$(trace "$video" "$fraction")" "$(frame_pixels "$video")" \
            "$fraction" "$(basename "$video")" <<'EOF'
import json, sys
off, on, pixels, fraction, name = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
def motion(path):
    with open(path) as f:
        return [json.loads(line)["motionPixels"] for line in f]
shares = [(m / pixels, n) for n, m in enumerate(motion(off))]
largest, at = max(shares)
above = [n for s, n in shares if s > fraction]
# A relearned frame shows no motion at all, which a frame of these clips
# after the first one otherwise never does.
relearned = [n for n, m in enumerate(motion(on)) if n > 0 and m == 0] if fraction > 0 else []
print(f"{name:<18} {len(shares):>6}  {largest:.3f} (#{at:<3})   {above[0] if above else '-':<12} {relearned or '-'}")
EOF
    done
}

case "${1:-}" in
step) shift; step "$@" ;;
quiet) shift; quiet "$@" ;;
*) die "usage: $0 step [FRACTION...] | quiet [FRACTION]" ;;
esac
