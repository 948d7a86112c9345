# Shared by the fault-injection tests of motion_watch, after tests/e2e/lib.sh
# (and with tests/watch/stream_lib.sh, for watch_free_port):
#
#   faults_schedule N PERIOD SHOWN  a make_test_video schedule: the square
#                                   shown SHOWN frames of every PERIOD, N times
#   faults_mount_tmpfs SIZE DIR     mount a tmpfs of SIZE (such as 2m) on DIR,
#                                   unmounted on exit; skips without root
#   faults_serve PORT VIDEO PLAN... start tests/watch/stream_server.py (see
#                                   there) logging to server.log; wait until
#                                   it listens
#   faults_server_time WHAT         the time of the server's "WHAT" line
#   faults_start_watch ARGS...      start motion_watch ARGS in the working
#                                   directory, output in stdout.txt and
#                                   stderr.txt, as the program of lib.sh
#   faults_lines FILE TYPE          the number of TYPE lines in FILE
#   faults_check_log DIR [--pruned] check_log.py's promises for DIR
#   faults_stop_within SECONDS SIGNAL  send SIGNAL, wait for the end, fail
#                                   unless it came within SECONDS with status 0
#
# The server is stopped on exit along with the program, and the tmpfs
# unmounted.

faults_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$faults_here/stream_lib.sh"
faults_server=""

faults_schedule() {
    local ranges="" k
    for ((k = 0; k < $1; ++k)); do ranges+="${ranges:+,}$((k * $2))-$((k * $2 + $3))"; done
    echo "$ranges"
}

_faults_stop() {
    if [ -n "$1" ]; then
        kill "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}

# The program and the server stop before a file system of the test is
# unmounted (its contents kept beside it when the test failed); then the
# shared cleanup, which reads the status from $?.
_faults_exit() {
    local status=$1
    set +e
    _faults_stop "$E2E_APP_PID"
    E2E_APP_PID=""
    _faults_stop "$faults_server"
    if [ -n "$faults_mount" ]; then
        [ "$status" -eq 0 ] || [ "$status" -eq 77 ] || cp -a "$faults_mount" "$faults_mount.kept"
        umount "$faults_mount"
    fi
    (exit "$status")
    _e2e_cleanup
}
faults_mount=""
trap '_faults_exit $?' EXIT

faults_mount_tmpfs() {
    mkdir -p "$2"
    mount -t tmpfs -o "size=$1" tmpfs "$2" 2>/dev/null || e2e_skip "cannot mount a tmpfs (needs root)"
    faults_mount=$2
}

faults_serve() {
    command -v ffmpeg >/dev/null || e2e_skip "ffmpeg is not installed"
    /usr/bin/python3 "$faults_here/stream_server.py" "$1" "$2" "$E2E_WORKDIR/server.log" "${@:3}" 2>/dev/null &
    faults_server=$!
    e2e_check "the stream server did not start" e2e_wait_until 30 grep -q '^ready' "$E2E_WORKDIR/server.log"
}

faults_server_time() { sed -n "s/^$1 //p" "$E2E_WORKDIR/server.log" | head -n 1; }

faults_start_watch() {
    "$MOTION_WATCH" "$@" >"$E2E_WORKDIR/stdout.txt" 2>"$E2E_WORKDIR/stderr.txt" &
    E2E_APP_PID=$!
    E2E_APP_START=$(e2e_now)
}

faults_lines() {
    local n
    n=$(grep -c "\"type\":\"$2\"" "$1" 2>/dev/null) || true
    echo "${n:-0}"
}

faults_check_log() {
    /usr/bin/python3 "$faults_here/check_log.py" "$1" "$PROBE_VIDEO" "${@:2}" || e2e_fail "broken promise in $1"
}

faults_stop_within() {
    local sent took
    sent=$(e2e_now)
    kill "-$2" "$E2E_APP_PID"
    e2e_wait_exit 30 || e2e_fail "still running 30 s after SIG$2"
    took=$(e2e_seconds_between "$sent" "$E2E_APP_END")
    e2e_log "ended ${took} s after SIG$2 with status $E2E_APP_STATUS"
    [ "$E2E_APP_STATUS" -eq 0 ] || e2e_fail "status $E2E_APP_STATUS after SIG$2"
    e2e_float_between "$took" 0 "$(awk -v s="$1" -v k="$E2E_TIMEOUT_SCALE" 'BEGIN { print s * k }')" ||
        e2e_fail "SIG$2 took $took s, more than $1"
}
