"""Checks motion_watch's output for a file against an independent reading of
the event rule applied to motion_trace's output for the same file.

    check_events.py TRACE OUTPUT_DIR PRE POST FPS PROBE_VIDEO SOURCE_VIDEO

TRACE: motion_trace's lines for SOURCE_VIDEO; the video's frame i sits at
i / FPS seconds. Prints the events found; exits 1 with a message at the
first difference.
"""
import json
import subprocess
import sys

trace_path, out_dir, pre, post, fps, probe_video, source = sys.argv[1:8]
pre, post, fps = float(pre), float(post), float(fps)
SLACK = 1e-6


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def expected_events(frames):
    events, current, last_object_t = [], None, 0.0
    for f in frames:
        i, t, objects = f["frame"], f["frame"] / fps, f["objects"]
        if objects:
            if current is None:
                current = {"start": i, "objects": {}, "most": 0}
            last_object_t = t
            current["most"] = max(current["most"], len(objects))
            for o in objects:
                s = current["objects"].setdefault(o["objectId"], {"firstFrame": i, "maxPixelCount": 0})
                s["lastFrame"] = i
                s["maxPixelCount"] = max(s["maxPixelCount"], o["pixelCount"])
        elif current is not None and t - last_object_t >= post - SLACK:
            current["end"] = i
            events.append(current)
            current = None
    if current is not None:
        current["end"] = frames[-1]["frame"]
        events.append(current)
    for e in events:
        # The clip starts at the first frame no more than PRE seconds before the start.
        e["clipStart"] = next(i for i in range(e["start"] + 1) if e["start"] / fps - i / fps <= pre + SLACK)
    return events


def probe(path, *options):
    result = subprocess.run([probe_video, path, *options], capture_output=True, text=True, check=True)
    return dict(line.split("=", 1) for line in result.stdout.splitlines())


frames = [json.loads(line) for line in open(trace_path)]
expected = expected_events(frames)
lines = [json.loads(line) for line in open(out_dir + "/events.jsonl")]
starts = [l for l in lines if l["type"] == "start"]
ends = [l for l in lines if l["type"] == "end"]
if len(starts) != len(expected) or len(ends) != len(expected):
    fail(f"{len(starts)} starts and {len(ends)} ends, expected {len(expected)} events")

source_centres = probe(source, "--square-center")["center"].split()
for n, (e, start, end) in enumerate(zip(expected, starts, ends), 1):
    print(f"event {n}: frames {e['start']}..{e['end']}, clip from {e['clipStart']}")
    want_start = {"type": "start", "event": n, "frame": e["start"], "t": round(e["start"] / fps, 3)}
    if {k: start[k] for k in want_start} != want_start or list(start) != list(want_start) + ["time"]:
        fail(f"start line {start}, expected {want_start}")
    objects = [{"objectId": i, "firstFrame": s["firstFrame"], "lastFrame": s["lastFrame"],
                "maxPixelCount": s["maxPixelCount"]} for i, s in sorted(e["objects"].items())]
    want_end = {"type": "end", "event": n, "startFrame": e["start"], "endFrame": e["end"],
                "t0": round(e["start"] / fps, 3), "t1": round(e["end"] / fps, 3),
                "clipFrames": e["end"] - e["clipStart"] + 1, "objects": objects, "interrupted": False}
    order = ["type", "event", "startFrame", "endFrame", "t0", "t1", "time", "clip", "clipFrames", "snapshot",
             "objects", "interrupted"]
    if {k: end[k] for k in want_end} != want_end or list(end) != order:
        fail(f"end line {end}, expected {want_end}")

    # The clip holds exactly the source's frames from clipStart to the end,
    # at the source's rate: the square stands where it stood in the source.
    clip = probe(out_dir + "/" + end["clip"], "--square-center")
    centres = clip["center"].split()
    if int(clip["frames"]) != end["clipFrames"] or clip["fps"] != f"{fps:.2f}" or clip["fourcc"] != "MJPG":
        fail(f"clip of event {n}: {clip}")
    wanted = source_centres[e["clipStart"]:e["end"] + 1]
    if any(abs(float(a) - float(b)) > 1.0 for a, b in zip(centres, wanted)):
        fail(f"clip of event {n} shows other frames: {centres} instead of {wanted}")

    snapshot = subprocess.run(["identify", "-format", "%m %w %h", out_dir + "/" + end["snapshot"]],
                              capture_output=True, text=True).stdout
    if snapshot != f"JPEG {clip['width']} {clip['height']}":
        fail(f"snapshot of event {n}: {snapshot!r}")
