# Local servers for the watcher's end-to-end tests; sourced after
# tests/e2e/lib.sh.
#
#   watch_free_port                 print a TCP port free on 127.0.0.1
#   watch_listening PORT            true once something listens on PORT, found
#                                   in /proc/net/tcp (state 0A), since a probing
#                                   connection would use up a one-client server;
#                                   or has a connection on it (state 01), taken
#                                   by a watcher that tries to reconnect
#   watch_serve_stream FILE PORT    serve FILE at its own frame rate as an
#                                   MPEG-TS stream over HTTP on 127.0.0.1:PORT
#                                   to one client; returns once it listens and
#                                   sets WATCH_STREAM_PID
#   watch_stop_stream               stop that server (nothing when none runs)

WATCH_STREAM_PID=""

watch_free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

watch_listening() {
    awk -v p="$(printf ':%04X' "$1")" '$2 ~ p"$" && ($4 == "0A" || $4 == "01") { found = 1 } END { exit !found }' /proc/net/tcp
}

watch_serve_stream() {
    ffmpeg -nostdin -loglevel quiet -re -i "$1" -c:v mpeg2video -q:v 3 -f mpegts -listen 1 "http://127.0.0.1:$2" &
    WATCH_STREAM_PID=$!
    e2e_check "the stream server did not start" e2e_wait_until 30 watch_listening "$2"
}

watch_stop_stream() {
    if [ -n "$WATCH_STREAM_PID" ]; then
        kill "$WATCH_STREAM_PID" 2>/dev/null || true
        wait "$WATCH_STREAM_PID" 2>/dev/null || true
    fi
    WATCH_STREAM_PID=""
}
