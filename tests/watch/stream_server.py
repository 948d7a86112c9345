"""A local video server for the watcher's fault tests, on 127.0.0.1.

    stream_server.py PORT VIDEO LOG PLAN...

Serves VIDEO over HTTP as an MPEG-TS stream at its own rate (through
ffmpeg -re). Connection k (from 1) follows PLAN[k], the last one repeated:

    stream       the whole video, then close
    stall:S      the video for S seconds, then nothing, the connection open
    garbage      an HTTP header, then random bytes at about 200 kB/s
    silent       accept, then say nothing at all

LOG gets one line per happening, "connect K T", "stall K T", with T the
wall-clock time in seconds; the server is ready once LOG holds "ready".
"""
import os
import socket
import subprocess
import sys
import threading
import time

port, video, log_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
plan = sys.argv[4:]
log_lock = threading.Lock()


def log(what):
    with log_lock, open(log_path, "a") as out:
        out.write(f"{what} {time.time():.3f}\n")


def header(conn):
    conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: video/mp2t\r\n\r\n")


def hold(conn):
    """Keeps the connection open and quiet until the client leaves."""
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def stream(conn, number, seconds):
    header(conn)
    ffmpeg = subprocess.Popen(["ffmpeg", "-nostdin", "-loglevel", "quiet", "-re", "-i", video,
                               "-c:v", "mpeg2video", "-q:v", "3", "-f", "mpegts", "-"], stdout=subprocess.PIPE)
    started = time.monotonic()
    try:
        while seconds is None or time.monotonic() - started < seconds:
            data = ffmpeg.stdout.read1(65536)
            if not data:
                return
            conn.sendall(data)
        log(f"stall {number}")
        hold(conn)
    except OSError:
        pass
    finally:
        ffmpeg.kill()
        ffmpeg.wait()


def garbage(conn):
    header(conn)
    try:
        while True:
            conn.sendall(os.urandom(20000))
            time.sleep(0.1)
    except OSError:
        pass


def serve(conn, number):
    step = plan[min(number, len(plan)) - 1]
    with conn:
        if step == "stream":
            stream(conn, number, None)
        elif step.startswith("stall:"):
            stream(conn, number, float(step[6:]))
        elif step == "garbage":
            garbage(conn)
        else:
            hold(conn)


listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", port))
listener.listen(8)
log("ready")
for number in range(1, 1 << 30):
    conn, _ = listener.accept()
    log(f"connect {number}")
    threading.Thread(target=serve, args=(conn, number), daemon=True).start()
