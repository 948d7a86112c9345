#!/usr/bin/env bash
# motion_watch at a real MQTT broker (Debian's mosquitto on a free port, with
# a password file), watched with mosquitto_sub; the camera is a local stream
# served at its own pace, a square that never stops moving.
#
# A wrong login is reported once and tried again while detection goes on.
# With the right one: availability online, discovery, the settings; a
# retained /set left from before the start is ignored; the event gives ON,
# its start line, then a /set that makes the square too wide to be an object
# is echoed, kept in the configuration file and ends the event (OFF, the end
# line, the snapshot's very bytes); a refused value is reported and its state
# published again unchanged. "online" on homeassistant/status brings the
# discovery again; a restarted broker gets availability, motion state,
# settings and discovery again, and a command there starts motion again;
# kill -9 leaves "offline" through the last will. A short file run with its
# default name, another prefix and no discovery gets all its lines out and
# ends cleanly with "offline".
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
source "$here/stream_lib.sh"

for program in mosquitto mosquitto_sub mosquitto_pub mosquitto_passwd ffmpeg; do
    command -v "$program" >/dev/null || e2e_skip "$program is not installed"
done
e2e_make_workdir
e2e_make_video moving.avi --frames 1200 --fps 10
e2e_make_video short.avi --frames 60 --fps 10 --schedule 10-40
e2e_write_config unused.avi

broker_port=$(watch_free_port)
stream_port=$(watch_free_port)
mosquitto_passwd -c -b passwd cam secret
echo "cam:secret" >login
echo "cam:wrong" >wrong-login
# Started as root, the broker would drop to its own user, which cannot read
# the password file here.
printf 'user %s\nlistener %s 127.0.0.1\nallow_anonymous false\npassword_file %s/passwd\n' \
    "$(id -un)" "$broker_port" "$PWD" >broker.conf

broker=""
subscribers=()
stop() {
    [ -n "$1" ] || return 0
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
stop_broker() { stop "$broker"; broker=""; }
# set +e: the trap must reach the shared cleanup, which reads the status from $?.
trap 'status=$?; set +e; for s in "${subscribers[@]}"; do stop "$s"; done; watch_stop_stream; stop_broker; (exit $status); _e2e_cleanup' EXIT

login=(-h 127.0.0.1 -p "$broker_port" -u cam -P secret)
publish() { mosquitto_pub "${login[@]}" -q 1 "$@"; }
start_broker() {
    mosquitto -c broker.conf >>broker.log 2>&1 &
    broker=$!
    e2e_check "the broker did not start" e2e_wait_until 30 watch_listening "$broker_port"
}
# subscribe FILE: everything under motion_watch/, home/ and homeassistant/
# but the snapshots (bytes) into FILE, one "topic payload" line each; returns
# once a probe message came through.
subscribe() {
    mosquitto_sub "${login[@]}" -v -t 'motion_watch/#' -t 'home/#' -t 'homeassistant/#' -T 'motion_watch/cam/snapshot' >"$1" &
    subscribers+=($!)
    e2e_check "the subscriber did not start" e2e_wait_until 30 probe_through "$1"
}
probe_through() {
    publish -t motion_watch/probe -m "$1"
    grep -qxF "motion_watch/probe $1" "$1"
}
has() { grep -aqxF -- "$2" "$1"; }
count() { grep -acxF -- "$2" "$1"; }
# at_least N COMMAND...: COMMAND prints a number of at least N.
at_least() { [ "$("${@:2}")" -ge "$1" ]; }
wait_for() { e2e_check "no \"$2\" in $1" e2e_wait_until 60 has "$1" "$2"; }
wait_count() { e2e_check "\"$2\" not $3 times in $1" e2e_wait_until 60 at_least "$3" count "$1" "$2"; }
discovery_count() { grep -ac '^homeassistant/[a-z_]*/motion_watch_cam/[a-z_]*/config {' "$1"; }
watch_stream() {
    watch_serve_stream moving.avi "$stream_port"
    "$MOTION_WATCH" --source "http://127.0.0.1:$stream_port" --post 1 --mqtt "127.0.0.1:$broker_port" --name cam "$@" \
        >stdout.txt 2>stderr.txt &
    E2E_APP_PID=$!
}
configured_width_is() {
    [ "$(/usr/bin/python3 -c 'import json; print(json.load(open("Config_Params.json"))["Config_Params"]["max_object_width"])')" = "$1" ]
}
T=motion_watch/cam
width=$T/settings/max_object_width

start_broker

e2e_log "a wrong login"
watch_stream --output refused --mqtt-auth wrong-login
e2e_check "the refused login is not reported" e2e_wait_until 30 grep -q 'not authorised' stderr.txt
e2e_check "the login is not tried again" e2e_wait_until 30 at_least 2 grep -c 'not authorised' broker.log
e2e_check "no event while the broker refuses" e2e_wait_until 60 grep -q '"type":"start"' refused/events.jsonl
e2e_app_running || e2e_fail "the watcher ended when the broker refused it"
[ "$(grep -c 'not authorised' stderr.txt)" -eq 1 ] || e2e_fail "the refusal is reported at every attempt"
kill -INT "$E2E_APP_PID"
e2e_check "still running after SIGINT" e2e_wait_exit 30
watch_stop_stream

e2e_log "events, settings and discovery"
publish -r -t "$width/set" -m 8
subscribe first.txt
watch_stream --output out --mqtt-auth login --mqtt-persist
wait_for first.txt "$T/availability online"
wait_for first.txt "$T/motion ON"
has first.txt "$width 128" || e2e_fail "the retained command changed the setting"
grep -q "$width/set: a retained command is ignored" stderr.txt || e2e_fail "the ignored command is not reported"
grep -a '^homeassistant/binary_sensor/motion_watch_cam/motion/config ' first.txt | grep -q '"device_class":"motion"' ||
    e2e_fail "no motion sensor discovered"
grep -a '^homeassistant/number/motion_watch_cam/max_object_width/config ' first.txt |
    grep -q "\"command_topic\":\"$width/set\".*\"min\":1.0,\"max\":8192.0,\"step\":1.0" ||
    e2e_fail "no number discovered for max_object_width"
discovered=$(discovery_count first.txt)
[ "$discovered" -eq $((2 + $(grep -ac "^$T/settings/[a-z_]* " first.txt))) ] ||
    e2e_fail "$discovered discovery messages for $(grep -ac "^$T/settings/" first.txt) settings"

publish -t "$width/set" -m 8
wait_for first.txt "$width 8"
wait_for first.txt "$T/motion OFF"
e2e_check "the setting is not kept in the configuration file" e2e_wait_until 30 configured_width_is 8
e2e_check "no end line published" e2e_wait_until 30 grep -q "^$T/events {\"type\":\"end\"" first.txt
diff <(sed -n "s|^$T/events ||p" first.txt) out/events.jsonl || e2e_fail "the published lines differ from the log"
snapshot=$(sed -n 's/.*"snapshot":"\([^"]*\)".*/\1/p' out/events.jsonl)
mosquitto_sub "${login[@]}" -C 1 -N -W 30 -t "$T/snapshot" >snapshot.jpg || e2e_fail "no snapshot published"
cmp -s snapshot.jpg "out/$snapshot" || e2e_fail "the snapshot published is not $snapshot"

publish -t "$width/set" -m 0
wait_count first.txt "$width 8" 2
grep -q "$width/set: .*max_object_width" stderr.txt || e2e_fail "the refused value is not reported"

publish -t homeassistant/status -m online
e2e_check "the discovery is not sent again" e2e_wait_until 60 at_least $((2 * discovered)) discovery_count first.txt

e2e_log "the broker restarts"
stop_broker
e2e_check "the lost broker is not reported" e2e_wait_until 30 grep -q 'connection was lost' stderr.txt
start_broker
subscribe second.txt
wait_for second.txt "$T/availability online"
wait_for second.txt "$T/motion OFF"
wait_for second.txt "$width 8"
e2e_check "no discovery after the restart" e2e_wait_until 60 at_least "$discovered" discovery_count second.txt
publish -t "$width/set" -m 128
wait_for second.txt "$T/motion ON"

e2e_log "kill -9"
kill -KILL "$E2E_APP_PID"
wait_for second.txt "$T/availability offline"
e2e_wait_exit 10 || true
watch_stop_stream

e2e_log "a short file with the default name"
"$MOTION_WATCH" --source short.avi --output short --mqtt "127.0.0.1:$broker_port" --mqtt-auth login \
    --mqtt-prefix home/cams --mqtt-discovery-prefix "" >/dev/null 2>short-stderr.txt ||
    e2e_fail "the short run ended with status $?"
wait_for second.txt "home/cams/Config_Params/availability offline"
diff <(sed -n 's|^home/cams/Config_Params/events ||p' second.txt) short/events.jsonl ||
    e2e_fail "the short run's lines did not all reach the broker"
[ "$(wc -l <short/events.jsonl)" -eq 2 ] || e2e_fail "the short video no longer gives one event"
has second.txt "home/cams/Config_Params/availability online" || e2e_fail "the short run was never online"
! grep -aq 'home_cams_Config_Params' second.txt || e2e_fail "discovery published although turned off"
[ ! -s short-stderr.txt ] || e2e_fail "the short run complained: $(cat short-stderr.txt)"
