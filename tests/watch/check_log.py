"""Checks what motion_watch promises of its output directory, whatever
happened while it ran:

    check_log.py OUTPUT_DIR PROBE_VIDEO [--pruned] [--log NAME]

- events.jsonl (or the log NAME in OUTPUT_DIR) ends with a newline and every
  line of it is a JSON object;
- an event number has at most one start line and one end line, the end
  after the start;
- every end line's clip is null or plays exactly the clipFrames it states
  (probe_video counts the frames a reader gets); with --pruned a clip may
  be gone (deleted by the storage limit), never cut short;
- a snapshot named is a JPEG.

Prints the events found; exits 1 with a message at the first broken promise.
"""
import json
import os
import subprocess
import sys

out_dir, probe_video = sys.argv[1], sys.argv[2]
pruned = "--pruned" in sys.argv[3:]
log = sys.argv[sys.argv.index("--log") + 1] if "--log" in sys.argv else "events.jsonl"


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


text = open(os.path.join(out_dir, log), "rb").read().decode()
if text and not text.endswith("\n"):
    fail(f"{log} does not end with a newline")
starts, ends = {}, {}
for number, line in enumerate(text.splitlines(), 1):
    try:
        event = json.loads(line)
    except ValueError:
        fail(f"line {number} does not parse: {line!r}")
    if not isinstance(event, dict) or event.get("type") not in ("start", "end"):
        fail(f"line {number} is no event line: {line!r}")
    seen = starts if event["type"] == "start" else ends
    if event["event"] in seen:
        fail(f"event {event['event']} has two {event['type']} lines")
    if event["type"] == "end" and event["event"] not in starts:
        fail(f"event {event['event']} ends without a start line before")
    seen[event["event"]] = event

for number, end in sorted(ends.items()):
    clip, frames = end["clip"], end["clipFrames"]
    played = None
    if clip is not None and (os.path.exists(os.path.join(out_dir, clip)) or not pruned):
        result = subprocess.run([probe_video, os.path.join(out_dir, clip)], capture_output=True, text=True)
        played = dict(l.split("=", 1) for l in result.stdout.splitlines()).get("frames")
        if played != str(frames):
            fail(f"event {number}: clip {clip} plays {played} frames, its end line says {frames}")
    snapshot = end["snapshot"]
    if snapshot is not None and os.path.exists(os.path.join(out_dir, snapshot)):
        with open(os.path.join(out_dir, snapshot), "rb") as f:
            if f.read(2) != b"\xff\xd8":
                fail(f"event {number}: snapshot {snapshot} is no JPEG")
    elif snapshot is not None and not pruned:
        fail(f"event {number}: snapshot {snapshot} is missing")
    print(f"event {number}: clip {clip} ({played} frames){' interrupted' if end['interrupted'] else ''}"
          f"{' recovered' if end.get('recovered') else ''}")
