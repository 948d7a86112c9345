# Shared helpers of the end-to-end tests: each test script sources this file,
# runs the real program in a private X server and drives it with xdotool.
#
# Environment (set by tests/e2e/CMakeLists.txt through add_e2e_test):
#   MOTION_DEMO       the program under test
#   MAKE_TEST_VIDEO   the synthetic video generator (tests/tools/make_test_video.cpp)
#   PROBE_VIDEO       the video inspector (tests/e2e/probe_video.cpp)
#   CLOSE_WINDOW      sends a window the close request of its close button
#                     (tests/e2e/close_window.cpp)
#   E2E_SAMPLES_DIR   the repository's samples/ (vtest.avi, when fetched)
#   E2E_TMP_DIR       where working directories are created
#   E2E_TIMEOUT_SCALE optional factor for every readiness timeout (default 1)
#
# Every readiness wait polls for its condition up to a generous timeout; no
# fixed sleeps. On exit (pass or fail) the program and the X server are
# stopped; the working directory is removed on success and kept on failure.
#
# Test flow and results
#   e2e_fail MESSAGE...          print "FAIL: MESSAGE" to stderr and exit 1
#   e2e_skip MESSAGE...          print "SKIP: MESSAGE" and exit 77 (CTest: skipped)
#   e2e_check "DESCRIPTION" CMD... run CMD; fail with DESCRIPTION when it fails
#   e2e_log MESSAGE...           progress line on stdout (shown by ctest -V)
#   e2e_now                      wall-clock seconds with fractions
#   e2e_seconds_between FROM TO  TO - FROM (e2e_now values), 3 decimals
#   e2e_float_between VALUE LOW HIGH  true when LOW <= VALUE <= HIGH (decimals)
#   e2e_wait_until TIMEOUT CMD...  poll CMD every 0.05 s until it succeeds;
#                                false after TIMEOUT seconds (scaled)
#
# X server
#   e2e_start_xvfb [WxHxDEPTH]   start a private Xvfb on a free display (the
#                                server picks it) and export DISPLAY
#
# Working directory and inputs
#   e2e_make_workdir             create E2E_WORKDIR and cd into it
#   e2e_make_video NAME [OPTS]   write NAME in E2E_WORKDIR with make_test_video
#                                (OPTS: --frames N --size WxH --fps F --square S
#                                --speed PX --noise A)
#   e2e_write_config SOURCE [KEY=VALUE...]  write Config_Params.json in
#                                E2E_WORKDIR: SOURCE as the source text, the
#                                default detector values, KEY=VALUE overrides
#                                (VALUE is written as JSON, e.g. scale_factor=2)
#
# The program
#   e2e_start_app [DIR]          start MOTION_DEMO in E2E_WORKDIR (or DIR) in
#                                the background; stdout and stderr go to
#                                E2E_WORKDIR/stdout.txt and stderr.txt; sets
#                                E2E_APP_PID and E2E_APP_START (e2e_now)
#   e2e_app_running              true while the program runs
#   e2e_wait_exit TIMEOUT        wait for the program to end; sets
#                                E2E_APP_STATUS and E2E_APP_END (e2e_now);
#                                false on timeout
#   e2e_stdout                   print what the program wrote to stdout
#   e2e_wait_stdout_line LINE TIMEOUT  wait until stdout holds exactly LINE
#
# Windows and input
#   e2e_find_window TITLE        print the ids of windows titled exactly TITLE
#   e2e_wait_window TITLE [TIMEOUT]  wait (default 30 s) for a window titled
#                                exactly TITLE and print its id
#   e2e_window_geometry ID       print "X Y WIDTH HEIGHT" of the window
#   e2e_wait_geometry ID W H [TIMEOUT]  wait until the window is W x H
#   e2e_key ID KEY...            focus the window, then send the keys
#                                (xdotool names: Escape, space, r, Return)
#   e2e_type ID TEXT             focus the window, then type TEXT
#
# Screen contents
#   e2e_screenshot FILE          save the whole screen as PNG
#   e2e_pixel FILE X Y           print "R G B" of one pixel of a screenshot
#   e2e_count_where FILE X Y W H EXPR  print how many pixels of the rectangle
#                                satisfy EXPR, an awk condition on r, g, b
#                                (0..255), e.g. 'r > 200 && g > 200 && b > 200'
#   e2e_count_red FILE X Y W H   the same for clearly red pixels (red above 120
#                                and at least 60 above green and blue), as
#                                drawn by the program's boxes and texts
#   e2e_wait_pixel X Y R G B TOL [TIMEOUT]  wait until the screen pixel at
#                                (X, Y) is within TOL of (R, G, B) per channel
#   e2e_square_left X Y WIDTH    column (0-based, from X) of the first light
#                                pixel in the screen row Y from X to X+WIDTH-1,
#                                where a make_test_video square is; -1 if none
#   e2e_square_left_in FILE X Y WIDTH [LEVEL]  the same in a screenshot, for
#                                pixels with every channel above LEVEL (160)
#
# Videos
#   e2e_probe FILE [OPTS]        run probe_video on FILE (key=value lines)
#   e2e_probe_value KEY FILE [OPTS]  print one value of e2e_probe's output

set -euo pipefail

: "${E2E_TIMEOUT_SCALE:=1}"
: "${E2E_TMP_DIR:=${TMPDIR:-/tmp}}"

E2E_XVFB_PID=""
E2E_APP_PID=""
E2E_WORKDIR=""
E2E_APP_STATUS=""

e2e_log() { echo "[$(date +%T.%N | cut -c1-12)] $*"; }

e2e_fail() {
    echo "FAIL: $*" >&2
    exit 1
}

e2e_skip() {
    echo "SKIP: $*"
    exit 77
}

e2e_check() {
    local description=$1
    shift
    "$@" || e2e_fail "$description"
}

e2e_now() { date +%s.%N; }

e2e_seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }

e2e_float_between() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

e2e_wait_until() {
    local timeout deadline
    timeout=$(awk -v t="$1" -v s="$E2E_TIMEOUT_SCALE" 'BEGIN { print t * s }')
    shift
    deadline=$(awk -v n="$(e2e_now)" -v t="$timeout" 'BEGIN { printf "%.3f", n + t }')
    until "$@"; do
        awk -v n="$(e2e_now)" -v d="$deadline" 'BEGIN { exit !(n > d) }' && return 1
        sleep 0.05
    done
}

_e2e_cleanup() {
    local status=$?
    if [ -n "$E2E_APP_PID" ] && kill -0 "$E2E_APP_PID" 2>/dev/null; then
        kill "$E2E_APP_PID" 2>/dev/null || true
        wait "$E2E_APP_PID" 2>/dev/null || true
    fi
    if [ -n "$E2E_XVFB_PID" ]; then
        kill "$E2E_XVFB_PID" 2>/dev/null || true
        wait "$E2E_XVFB_PID" 2>/dev/null || true
    fi
    if [ -n "$E2E_WORKDIR" ] && [ -d "$E2E_WORKDIR" ]; then
        if [ "$status" -eq 0 ] || [ "$status" -eq 77 ]; then
            rm -rf "$E2E_WORKDIR"
        else
            echo "Working directory kept for inspection: $E2E_WORKDIR" >&2
            [ -f "$E2E_WORKDIR/stdout.txt" ] && { echo "--- program stdout:" >&2; cat "$E2E_WORKDIR/stdout.txt" >&2; }
            [ -f "$E2E_WORKDIR/stderr.txt" ] && { echo "--- program stderr:" >&2; cat "$E2E_WORKDIR/stderr.txt" >&2; }
        fi
    fi
    exit "$status"
}
trap _e2e_cleanup EXIT

e2e_start_xvfb() {
    local screen=${1:-1600x1000x24} fifo display
    mkdir -p "$E2E_TMP_DIR"
    fifo=$(mktemp -u "${E2E_TMP_DIR}/xvfb-display.XXXXXX")
    mkfifo "$fifo"
    # -displayfd lets the server choose a free display number and report it
    # once it accepts connections: no guessing, no race between parallel tests.
    # -noreset: by default the server resets whenever its last client leaves
    # and refuses connections meanwhile, which a test that starts the program
    # again at once would run into.
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    E2E_XVFB_PID=$!
    read -r -t "$(awk -v s="$E2E_TIMEOUT_SCALE" 'BEGIN { print 30 * s }')" display <"$fifo" || true
    rm -f "$fifo"
    [ -n "$display" ] || e2e_fail "Xvfb did not start"
    export DISPLAY=":$display"
    e2e_log "Xvfb on $DISPLAY"
}

e2e_make_workdir() {
    mkdir -p "$E2E_TMP_DIR"
    E2E_WORKDIR=$(mktemp -d "${E2E_TMP_DIR}/e2e-$(basename "$0" .sh).XXXXXX")
    cd "$E2E_WORKDIR"
}

e2e_make_video() {
    local name=$1
    shift
    "$MAKE_TEST_VIDEO" "$E2E_WORKDIR/$name" "$@" || e2e_fail "could not generate $name"
}

e2e_write_config() {
    local source=$1
    shift
    local -A values=(
        [pixel_deviation]=10.0 [alpha_coeff]=0.01
        [max_object_width]=128 [min_object_width]=2
        [max_object_height]=128 [min_object_height]=2
        [min_object_velocity]=0.1 [max_object_velocity]=20.0
        [num_threads]=1 [track_detection_criterion]=15 [track_reset_criterion]=5
        [min_distance_between_objects]=16 [scale_factor]=1
        [num_gauss_elements_in_pixel_model]=5
    )
    local pair
    for pair in "$@"; do values[${pair%%=*}]=${pair#*=}; done
    local escaped=${source//\\/\\\\}
    escaped=${escaped//\"/\\\"}
    {
        printf '{\n  "Config_Params": {\n    "video_source_init_string": "%s"' "$escaped"
        local key
        for key in "${!values[@]}"; do printf ',\n    "%s": %s' "$key" "${values[$key]}"; done
        printf '\n  }\n}\n'
    } >"$E2E_WORKDIR/Config_Params.json"
}

e2e_start_app() {
    # Qt wants a private runtime directory and complains on stderr without one.
    mkdir -p -m 700 "$E2E_WORKDIR/.runtime"
    (cd "${1:-$E2E_WORKDIR}" && XDG_RUNTIME_DIR="$E2E_WORKDIR/.runtime" exec "$MOTION_DEMO") >"$E2E_WORKDIR/stdout.txt" 2>"$E2E_WORKDIR/stderr.txt" &
    E2E_APP_PID=$!
    E2E_APP_START=$(e2e_now)
    E2E_APP_STATUS=""
}

e2e_app_running() { kill -0 "$E2E_APP_PID" 2>/dev/null; }

_e2e_app_ended() { ! e2e_app_running; }

e2e_wait_exit() {
    e2e_wait_until "$1" _e2e_app_ended || return 1
    E2E_APP_END=$(e2e_now)
    E2E_APP_STATUS=0
    wait "$E2E_APP_PID" || E2E_APP_STATUS=$?
    E2E_APP_PID=""
}

# e2e_escape_ends_program WINDOW WHEN: presses ESC in WINDOW and checks that
# the program ends within a second with status 255 (WHEN names the situation
# in the failure message).
e2e_escape_ends_program() {
    local pressed took
    pressed=$(e2e_now)
    e2e_key "$1" Escape
    e2e_check "program still running 5 s after ESC" e2e_wait_exit 5
    took=$(e2e_seconds_between "$pressed" "$E2E_APP_END")
    e2e_log "ended ${took} s after ESC with status $E2E_APP_STATUS"
    [ "$E2E_APP_STATUS" -eq 255 ] || e2e_fail "status $E2E_APP_STATUS after ESC, expected 255"
    e2e_float_between "$took" 0 1 || e2e_fail "ESC took $took s $2"
}

e2e_stdout() { cat "$E2E_WORKDIR/stdout.txt"; }

_e2e_stdout_has() { grep -qxF -- "$1" "$E2E_WORKDIR/stdout.txt"; }

e2e_wait_stdout_line() { e2e_wait_until "$2" _e2e_stdout_has "$1"; }

e2e_find_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null; }

_e2e_window_found() { [ -n "$(e2e_find_window "$1")" ]; }

e2e_wait_window() {
    e2e_wait_until "${2:-30}" _e2e_window_found "$1" || e2e_fail "no window titled \"$1\""
    e2e_find_window "$1" | head -n 1
}

e2e_window_geometry() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    echo "$X $Y $WIDTH $HEIGHT"
}

_e2e_has_size() {
    local geometry
    read -r -a geometry <<<"$(e2e_window_geometry "$1")"
    [ "${geometry[2]}" = "$2" ] && [ "${geometry[3]}" = "$3" ]
}

e2e_wait_geometry() { e2e_wait_until "${4:-30}" _e2e_has_size "$1" "$2" "$3"; }

e2e_key() {
    local window=$1
    shift
    xdotool windowfocus --sync "$window" key "$@"
}

e2e_type() { xdotool windowfocus --sync "$1" type --delay 20 "$2"; }

e2e_screenshot() { import -window root "$1"; }

# One "R G B" line per pixel of the screenshot's rectangle, row by row.
_e2e_rgb_lines() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -depth 8 txt:- |
        sed -n 's/^[^(]*(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3/p'
}

e2e_pixel() { _e2e_rgb_lines "$1" "$2" "$3" 1 1; }

e2e_count_where() {
    _e2e_rgb_lines "$1" "$2" "$3" "$4" "$5" |
        awk "{ r = \$1; g = \$2; b = \$3; if ($6) n++ } END { print n + 0 }"
}

e2e_count_red() { e2e_count_where "$@" 'r > 120 && r - (g > b ? g : b) > 60'; }

_e2e_pixel_near() {
    local shot="$E2E_WORKDIR/.pixel-probe.png" rgb
    e2e_screenshot "$shot" 2>/dev/null || return 1
    read -r -a rgb <<<"$(e2e_pixel "$shot" "$1" "$2")"
    [ "${#rgb[@]}" -eq 3 ] || return 1
    awk -v r="${rgb[0]}" -v g="${rgb[1]}" -v b="${rgb[2]}" -v R="$3" -v G="$4" -v B="$5" -v t="$6" \
        'function d(a, b) { return a > b ? a - b : b - a } BEGIN { exit !(d(r, R) <= t && d(g, G) <= t && d(b, B) <= t) }'
}

e2e_wait_pixel() { e2e_wait_until "${7:-30}" _e2e_pixel_near "$1" "$2" "$3" "$4" "$5" "$6"; }

e2e_square_left_in() {
    _e2e_rgb_lines "$1" "$2" "$3" "$4" 1 |
        awk -v l="${5:-160}" '$1 > l && $2 > l && $3 > l { print NR - 1; found = 1; exit } END { if (!found) print -1 }'
}

e2e_square_left() {
    e2e_screenshot "$E2E_WORKDIR/.square-probe.png"
    e2e_square_left_in "$E2E_WORKDIR/.square-probe.png" "$@"
}

e2e_probe() { "$PROBE_VIDEO" "$@"; }

e2e_probe_value() {
    local key=$1
    shift
    "$PROBE_VIDEO" "$@" | sed -n "s/^$key=//p"
}
