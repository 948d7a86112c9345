#!/usr/bin/env bash
# Sets everything up, then runs the demo from the repository root on the
# video named in Config_Params.json (the sample clip unless you changed it).
#
# Without a display ($DISPLAY unset, e.g. over ssh) the demo runs for a few
# seconds on a private virtual display instead, and a screenshot of its two
# windows is saved under the build directory.
#
#   scripts/demo.sh --zones-screenshot
#
# always uses the virtual display, draws an excluded zone over the right part
# of the picture with the mouse and saves the INPUT VIDEO window as
# docs/zones-screenshot.png, the README's picture of zones.
set -euo pipefail
cd "$(dirname "$0")/.."

zones=0
[ "${1:-}" = --zones-screenshot ] && zones=1

scripts/setup.sh

BUILD_DIR=${BUILD_DIR:-build}
PROGRAM="$BUILD_DIR/app/motion_demo"

if [ -n "${DISPLAY:-}" ] && [ "$zones" -eq 0 ]; then
    exec "$PROGRAM"
fi

SCREENSHOT="$PWD/$BUILD_DIR/demo-screenshot.png"
[ "$zones" -eq 0 ] || SCREENSHOT="$PWD/docs/zones-screenshot.png"
RUN_SECONDS=6
[ "$zones" -eq 0 ] || RUN_SECONDS=12 # long enough for boxes beside the zone

echo "No display found (\$DISPLAY is not set): running the demo for ${RUN_SECONDS} seconds on a virtual display."

xvfb_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    [ -n "${private_runtime_dir:-}" ] && rm -rf "$private_runtime_dir"
    return 0
}
trap cleanup EXIT

# The server picks a free display number and reports it once it is ready.
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb_pid=$!
display=""
read -r -t 30 display <"$fifo" || true
rm -f "$fifo"
[ -n "$display" ] || { echo "The virtual display (Xvfb) did not start." >&2; exit 1; }
export DISPLAY=":$display"

# Qt wants a private runtime directory; without a desktop session there is none.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    private_runtime_dir=$(mktemp -d)
    export XDG_RUNTIME_DIR=$private_runtime_dir
fi

"$PROGRAM" &
app_pid=$!

# Waits up to 60 s for a window titled exactly $1 and prints its id.
wait_for_window() {
    local id
    for _ in $(seq 600); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$app_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

input=$(wait_for_window "INPUT VIDEO") && mask=$(wait_for_window "MOTION MASK") || {
    status=0
    wait "$app_pid" || status=$?
    app_pid=""
    echo "The demo ended before showing its windows (status $status); see the messages above." >&2
    exit 1
}

# Corners of a polygon over the road on the right of the sample clip, then
# the right click that closes it (anywhere). The window takes the frame's
# size only with the first frame shown; clicks before that could miss it.
if [ "$zones" -eq 1 ]; then
    for _ in $(seq 300); do
        eval "$(xdotool getwindowgeometry --shell "$input")"
        [ "$WIDTH" -ge 768 ] && [ "$HEIGHT" -ge 576 ] && break
        sleep 0.1
    done
    for corner in "470 100" "767 60" "767 575" "560 575" "470 420"; do
        xdotool mousemove --window "$input" --sync $corner click 1
    done
    xdotool mousemove --window "$input" --sync 300 300 click 3
fi

sleep "$RUN_SECONDS"

if [ "$zones" -eq 1 ]; then
    eval "$(xdotool getwindowgeometry --shell "$input")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$SCREENSHOT"
else
    # Both windows stand side by side from the top left corner of the screen.
    eval "$(xdotool getwindowgeometry --shell "$mask")"
    import -window root -crop "$((X + WIDTH + 5))x$((Y + HEIGHT + 5))+0+0" +repage "$SCREENSHOT"
fi

xdotool windowfocus --sync "$input" key Escape
for _ in $(seq 50); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
done

echo
echo "Screenshot after ${RUN_SECONDS} seconds: $SCREENSHOT"
[ "$zones" -eq 1 ] && exit 0
echo "To watch the demo live, run scripts/demo.sh in a terminal of a desktop session (where \$DISPLAY is set)."
