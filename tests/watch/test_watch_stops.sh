#!/usr/bin/env bash
# How motion_watch ends. Input it cannot use gets one line on stderr, the
# documented status and no output directory; SIGTERM in the middle of an
# event ends it as interrupted with a finished, playable clip and status 0.
source "$(dirname "$0")/../e2e/lib.sh"

e2e_make_workdir
e2e_make_video moving.avi --frames 4000 --fps 10
e2e_write_config moving.avi
touch plain-file

# refused ARGS... STATUS WHAT: the run fails with STATUS, one line on stderr
# (plus the usage for status 2) and creates nothing.
refused() {
    local status=0 expected=${*: -2:1} what=${*: -1}
    "$MOTION_WATCH" "${@:1:$#-2}" >stdout.txt 2>stderr.txt || status=$?
    [ "$status" -eq "$expected" ] || e2e_fail "$what: status $status, expected $expected"
    [ -s stdout.txt ] && e2e_fail "$what: wrote to stdout"
    [ "$(head -n 1 stderr.txt | grep -c '^motion_watch: ')" -eq 1 ] || e2e_fail "$what: no message"
    if [ "$expected" -eq 2 ]; then
        grep -q '^usage: motion_watch' stderr.txt || e2e_fail "$what: no usage"
    else
        [ "$(wc -l <stderr.txt)" -eq 1 ] || e2e_fail "$what: more than one line on stderr"
    fi
    [ ! -e events ] && [ ! -e plain-file/out ] || e2e_fail "$what: output created"
    e2e_log "$what: $(head -n 1 stderr.txt)"
}
refused --pre soon 2 "malformed number"
refused --post 2 "missing value"
refused --frames 10 2 "unknown option"
refused --config missing.json 1 "missing configuration"
refused --region-mask missing.png 1 "missing region mask"
refused --source missing.avi 1 "missing video"
refused --source 9999 1 "absent camera"
refused --output plain-file/out 1 "output inside a file"
refused --mqtt 127.0.0.1:65536 2 "broker port out of range"
refused --mqtt 127.0.0.1 --mqtt-auth missing.login 1 "missing MQTT login"
refused --mqtt 127.0.0.1 --name front/door 1 "camera name with a topic separator"

"$MOTION_WATCH" --output out >stdout.txt 2>stderr.txt &
E2E_APP_PID=$!
e2e_check "no event started" e2e_wait_until 60 grep -q '"type":"start"' out/events.jsonl
kill -TERM "$E2E_APP_PID"
e2e_check "still running after SIGTERM" e2e_wait_exit 30
[ "$E2E_APP_STATUS" -eq 0 ] || e2e_fail "status $E2E_APP_STATUS after SIGTERM"
end=$(tail -n 1 out/events.jsonl)
[[ $end == *'"interrupted":true}' ]] || e2e_fail "last line is not an interrupted end: $end"
clip=$(sed -n 's/.*"clip":"\([^"]*\)".*/\1/p' <<<"$end")
frames=$(sed -n 's/.*"clipFrames":\([0-9]*\).*/\1/p' <<<"$end")
e2e_log "SIGTERM: $frames frames in $clip"
[ "$(e2e_probe_value frames "out/$clip")" = "$frames" ] || e2e_fail "the clip does not play its $frames frames"
