# Shared by the fault-injection tests of motion_watch, after tests/e2e/lib.sh:
#
#   faults_schedule N PERIOD SHOWN  a make_test_video schedule: the square
#                                   shown SHOWN frames of every PERIOD, N times
#   faults_free_port                a free TCP port on 127.0.0.1
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
# The server is stopped on exit along with the program.

faults_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
faults_server=""

faults_schedule() {
    local ranges="" k
    for ((k = 0; k < $1; ++k)); do ranges+="${ranges:+,}$((k * $2))-$((k * $2 + $3))"; done
    echo "$ranges"
}

faults_free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

_faults_stop_server() {
    if [ -n "$faults_server" ]; then
        kill "$faults_server" 2>/dev/null || true
        wait "$faults_server" 2>/dev/null || true
    fi
    faults_server=""
}
# set +e: the trap must reach the shared cleanup, which reads the status from $?.
trap 'status=$?; _faults_stop_server; set +e; (exit $status); _e2e_cleanup' EXIT

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
