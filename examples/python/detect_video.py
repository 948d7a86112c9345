#!/usr/bin/python3
"""Runs the motion detector over a video and draws a box around every object.

    detect_video.py VIDEO [--output OUT.avi] [--show] [--config Config_Params.json]
                          [--frames N]

With --output the frames with their boxes are written to a Motion-JPEG AVI at
the video's frame rate; with --show they are shown in a window (Esc ends).
Without either, one line per frame with objects is printed. --config applies
a configuration file as the demo does: its numeric settings and its
region_mask_file.
"""
import argparse
import sys

import cv2
import motiondetector

RED = (0, 0, 255)
CYAN = (255, 255, 0)
ESC = 27


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("video", help="video file to read")
    parser.add_argument("--output", help="write the video with boxes to this AVI file")
    parser.add_argument("--show", action="store_true", help="show the video with boxes in a window")
    parser.add_argument("--config", help="configuration file whose settings and region mask are applied")
    parser.add_argument("--frames", type=int, default=-1, help="stop after this many frames")
    return parser.parse_args()


def configured_detector(config_path):
    """A detector with the settings of a configuration file, and the file's
    region mask file ("" when it names none)."""
    if not config_path:
        return motiondetector.MotionDetector(), ""
    try:
        detector, texts = motiondetector.load_config(config_path)
    except ValueError as error:
        sys.exit(str(error))
    return detector, texts.region_mask_file


def region_of(mask_file, detector, frame):
    """The region mask for frames of this size, None to watch everything."""
    if not mask_file:
        return None
    height, width = frame.shape[:2]
    try:
        return motiondetector.region_mask(mask_file, width, height,
                                          int(detector.get_param(motiondetector.Param.SCALE_FACTOR)))
    except ValueError as error:
        sys.exit(str(error))


def draw_objects(frame, objects):
    """Box edges are inclusive; the number stands above the box, as in the demo."""
    for o in objects:
        cv2.rectangle(frame, (o.x0, o.y0), (o.x1, o.y1), RED, 1)
        cv2.putText(frame, str(o.objectId), (o.x0, o.y0 - 5), cv2.FONT_HERSHEY_SIMPLEX, 0.5, CYAN, 1)


def open_writer(path, capture, frame):
    fps = capture.get(cv2.CAP_PROP_FPS) or 25.0
    height, width = frame.shape[:2]
    writer = cv2.VideoWriter(path, cv2.VideoWriter_fourcc(*"MJPG"), fps, (width, height))
    if not writer.isOpened():
        sys.exit(f"cannot write {path}")
    return writer


def main():
    args = parse_arguments()
    capture = cv2.VideoCapture(args.video)
    if not capture.isOpened():
        sys.exit(f"cannot open {args.video}")
    detector, mask_file = configured_detector(args.config)
    writer = region = None
    index = 0
    while index != args.frames:
        ok, frame = capture.read()
        if not ok:
            break
        if index == 0:
            region = region_of(mask_file, detector, frame)
        detector.process_frame(cv2.cvtColor(frame, cv2.COLOR_BGR2GRAY), region)
        objects = detector.objects()
        draw_objects(frame, objects)
        if args.output:
            writer = writer or open_writer(args.output, capture, frame)
            writer.write(frame)
        if args.show:
            cv2.imshow("motion", frame)
            if cv2.waitKey(1) & 0xFF == ESC:
                break
        if not (args.output or args.show) and objects:
            print(f"frame {index}: " + ", ".join(f"#{o.objectId} at ({o.x0},{o.y0})-({o.x1},{o.y1})" for o in objects))
        index += 1
    if writer is not None:
        writer.release()
    print(f"{index} frames", file=sys.stderr)


if __name__ == "__main__":
    main()
