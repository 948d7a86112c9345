"""motion_watch's web page end to end: the real program reading a looping
local stream, a headless browser on its page, and a plain HTTP client on
its API.

Environment: MOTION_WATCH, MAKE_TEST_VIDEO, PROBE_VIDEO (the programs),
WORK_DIR (where working directories go), CONFIG_TEMPLATE (a configuration
with the default detector values).
"""
import base64
import http.client
import json
import os
import shutil
import socket
import subprocess
import tempfile
import time

import cv2
import numpy as np
import pytest

if not shutil.which("ffmpeg") or not os.path.exists("/usr/bin/chromedriver"):
    pytest.skip("needs ffmpeg, chromium and chromium-driver", allow_module_level=True)

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.common.exceptions import NoSuchElementException, StaleElementReferenceException

MOTION_WATCH = os.environ["MOTION_WATCH"]
FPS = 20
WIDTH, HEIGHT = 320, 240
LOOP_FRAMES = 120  # a square moves through frames 10 to 50 of every loop
CREDENTIALS = ("viewer", "pass:word")


def wait_until(condition, what, timeout=60, state=lambda: ""):
    """Polls condition until it holds; state tells more when it never does.
    An element the page has not built yet, or has just rebuilt, counts as
    the condition not holding yet."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = condition()
        except (NoSuchElementException, StaleElementReferenceException):
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what} {state()}")
        time.sleep(0.05)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def basic(user, password):
    return "Basic " + base64.b64encode((user + ":" + password).encode()).decode()


class Watch:
    """motion_watch on a looping stream that ffmpeg serves on 127.0.0.1."""

    def __init__(self, directory, video, *options, auth=None):
        self.directory, self.video, self.options = directory, video, list(options)
        self.port = free_port()
        self.headers = {"Authorization": basic(*auth)} if auth else {}
        self.stream = self.process = None
        self.start()

    def start(self):
        stream_port = free_port()
        self.stream = subprocess.Popen(
            ["ffmpeg", "-nostdin", "-loglevel", "quiet", "-re", "-stream_loop", "-1", "-i", self.video,
             "-c:v", "mpeg2video", "-q:v", "3", "-f", "mpegts", "-listen", "1", f"http://127.0.0.1:{stream_port}"])
        wait_until(lambda: listening(stream_port), "the stream server")
        self.stderr = open(os.path.join(self.directory, "stderr.txt"), "a")
        self.process = subprocess.Popen(
            [MOTION_WATCH, "--config", "config.json", "--source", f"http://127.0.0.1:{stream_port}",
             "--output", "out", "--pre", "1", "--post", "1", "--http", str(self.port)] + self.options,
            cwd=self.directory, stdout=subprocess.DEVNULL, stderr=self.stderr)
        wait_until(lambda: self.running_frame() is not None, "the first frame on /api/status")

    def stop(self):
        self.process.send_signal(2)
        assert self.process.wait(30) == 0
        self.stream.kill()
        self.stream.wait()
        self.stderr.close()

    def request(self, method, path, body=None, headers=None, authorized=True):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        all_headers = dict(self.headers if authorized else {}, **(headers or {}))
        connection.request(method, path, body=body, headers=all_headers)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response.status, response, data

    def json(self, path):
        status, _, data = self.request("GET", path)
        assert status == 200, data
        return json.loads(data)

    def running_frame(self):
        try:
            return self.json("/api/status")["frame"]
        except (OSError, AssertionError):
            return None

    def frames_pass(self, count):
        start = self.json("/api/status")["frame"]
        wait_until(lambda: self.json("/api/status")["frame"] >= start + count, f"{count} more frames")

    def starts(self):
        with open(os.path.join(self.directory, "out", "events.jsonl")) as log:
            return sum('"type":"start"' in line for line in log)

    def quiet(self):
        """No event runs now, and none starts over two passes of the square."""
        wait_until(lambda: not self.json("/api/status")["eventActive"], "the running event to end")
        before = self.starts()
        self.frames_pass(2 * LOOP_FRAMES)
        return self.starts() == before


def listening(port):
    with open("/proc/net/tcp") as table:
        return any(f":{port:04X} " in line and line.split()[3] == "0A" for line in table)


@pytest.fixture(scope="module")
def workdir():
    directory = tempfile.mkdtemp(dir=os.environ.get("WORK_DIR"))
    video = os.path.join(directory, "square.avi")
    subprocess.run([os.environ["MAKE_TEST_VIDEO"], video, "--frames", str(LOOP_FRAMES), "--fps", str(FPS),
                    "--size", f"{WIDTH}x{HEIGHT}", "--schedule", "10-50"], check=True)
    yield directory, video
    shutil.rmtree(directory)


def new_watch_dir(workdir, name):
    directory = os.path.join(workdir[0], name)
    os.makedirs(directory)
    shutil.copy(os.environ["CONFIG_TEMPLATE"], os.path.join(directory, "config.json"))
    return directory


@pytest.fixture(scope="class")
def page_watch(workdir):
    watch = Watch(new_watch_dir(workdir, "page"), workdir[1], "--clip-format", "mp4")
    yield watch
    watch.stop()


@pytest.fixture(scope="class")
def browser():
    options = webdriver.ChromeOptions()
    for flag in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--window-size=1280,1000", "--autoplay-policy=no-user-gesture-required"]:
        options.add_argument(flag)
    profile = tempfile.mkdtemp()
    options.add_argument("--user-data-dir=" + profile)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    yield driver
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)


def script(driver, code):
    return driver.execute_script("return " + code)


def click(driver, selector):
    """Clicks the element; false when the list was redrawn under the click."""
    try:
        driver.find_element(By.CSS_SELECTOR, selector).click()
        return True
    except StaleElementReferenceException:
        return False


def expected_zone(corners):
    mask = np.full((HEIGHT, WIDTH), 255, np.uint8)
    cv2.fillPoly(mask, [np.array(corners)], 0)
    return mask


def differs_only_at_edges(mask, expected, tolerance=3):
    """Pixels may differ only within `tolerance` of the polygon's border:
    clicks land on whole screen pixels, each several picture pixels wide."""
    kernel = np.ones((2 * tolerance + 1, 2 * tolerance + 1), np.uint8)
    border = cv2.dilate(255 - expected, kernel) - cv2.erode(255 - expected, kernel)
    return not np.any((mask != expected) & (border == 0))


class TestPage:
    def test_live_view_and_mask_view(self, page_watch, browser):
        browser.get(f"http://127.0.0.1:{page_watch.port}/")
        wait_until(lambda: script(browser, "document.getElementById('live').naturalWidth") == WIDTH, "live frames")
        wait_until(lambda: "running" in browser.find_element(By.ID, "status").text, "the status line")
        browser.find_element(By.ID, "mask-toggle").click()
        assert "view=mask" in browser.find_element(By.ID, "live").get_attribute("src")
        wait_until(lambda: script(browser, "document.getElementById('live').naturalWidth") == WIDTH, "mask frames")
        browser.find_element(By.ID, "mask-toggle").click()

    def test_ended_event_appears_without_reload_and_plays(self, page_watch, browser):
        browser.execute_script("window.notReloaded = true")
        listed = lambda: {e.get_attribute("data-event-id") for e in browser.find_elements(By.CSS_SELECTOR, "#events li")}
        before = listed()
        ended = wait_until(lambda: [e for e in page_watch.json("/api/events") if e["type"] == "end"
                                    and e["id"] not in before], "an event to end")[0]
        entry = f"#events li[data-event-id='{ended['id']}']:not(.running)"
        wait_until(lambda: browser.find_elements(By.CSS_SELECTOR, entry), "the ended event on the page")
        assert script(browser, "window.notReloaded")
        clip = os.path.join(page_watch.directory, "out", ended["clip"])
        assert ended["clip"].endswith(".mp4") and ended["clipUrl"] == "/events/" + ended["clip"]
        probed = subprocess.run([os.environ["PROBE_VIDEO"], clip], capture_output=True, text=True).stdout
        assert f"frames={ended['clipFrames']}" in probed.split()
        wait_until(lambda: click(browser, entry), "a click on the event")
        player = "document.getElementById('player')"
        wait_until(lambda: script(browser, player + ".currentTime") > 0.5, "the clip to play",
                   state=lambda: script(browser, f"[{player}.src, {player}.readyState, {player}.networkState, "
                                                 f"{player}.error && {player}.error.message, {player}.paused]"))

    def test_zone_drawn_and_saved_excludes_motion(self, page_watch, browser):
        live = browser.find_element(By.ID, "live")
        corners = [(20, 80), (300, 80), (300, 170), (20, 170)]  # around the square's path
        for x, y in corners:
            shown_x = (x + 0.5) * live.size["width"] / WIDTH - live.size["width"] / 2
            shown_y = (y + 0.5) * live.size["height"] / HEIGHT - live.size["height"] / 2
            ActionChains(browser).move_to_element_with_offset(live, shown_x, shown_y).click().perform()
        browser.find_element(By.ID, "zone-close").click()
        browser.find_element(By.ID, "zone-save").click()
        wait_until(lambda: "saved" in browser.find_element(By.ID, "zone-message").text, "the zones to be saved")
        _, _, png = page_watch.request("GET", "/api/zones.png")
        mask = cv2.imdecode(np.frombuffer(png, np.uint8), cv2.IMREAD_GRAYSCALE)
        assert differs_only_at_edges(mask, expected_zone(corners))
        assert page_watch.quiet()

        browser.find_element(By.ID, "zone-clear").click()
        browser.find_element(By.ID, "zone-save").click()
        starts = page_watch.starts()
        wait_until(lambda: page_watch.starts() > starts, "motion to start events again")

    def test_settings_change_stops_events_and_survives_a_restart(self, page_watch, browser):
        field = browser.find_element(By.CSS_SELECTOR, "#settings input[name='pixel_deviation']")
        field.clear()
        field.send_keys("255")
        browser.find_element(By.ID, "settings-persist").click()
        browser.find_element(By.ID, "settings-apply").click()
        wait_until(lambda: "applied and kept" in browser.find_element(By.ID, "settings-message").text, "the answer")
        assert page_watch.quiet()

        # A second watcher on the same port fails before creating anything.
        second = subprocess.run([MOTION_WATCH, "--config", "config.json", "--source", page_watch.video,
                                 "--output", "second", "--http", str(page_watch.port)],
                                cwd=page_watch.directory, capture_output=True, text=True, timeout=60)
        assert second.returncode == 1 and len(second.stderr.splitlines()) == 1, second.stderr
        assert not os.path.exists(os.path.join(page_watch.directory, "second"))

        page_watch.stop()
        with open(os.path.join(page_watch.directory, "config.json")) as config:
            assert json.load(config)["Config_Params"]["pixel_deviation"] == 255
        page_watch.start()
        assert page_watch.json("/api/settings")["pixel_deviation"] == 255
        browser.get(f"http://127.0.0.1:{page_watch.port}/")
        wait_until(lambda: browser.find_element(By.CSS_SELECTOR, "#settings input[name='pixel_deviation']")
                   .get_attribute("value") == "255", "the kept setting on the page")


@pytest.fixture(scope="class")
def auth_watch(workdir):
    directory = new_watch_dir(workdir, "auth")
    with open(os.path.join(directory, "users"), "w") as users:
        users.write(":".join(CREDENTIALS) + "\n")
    os.chmod(os.path.join(directory, "users"), 0o600)
    watch = Watch(directory, workdir[1], "--http-auth", "users", auth=CREDENTIALS)
    yield watch
    watch.stop()


def open_stream(watch, query="", receive_buffer=None):
    s = socket.socket()
    if receive_buffer:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
    s.settimeout(30)
    s.connect(("127.0.0.1", watch.port))
    s.sendall(f"GET /stream.mjpg{query} HTTP/1.1\r\nHost: 127.0.0.1\r\n"
              f"Authorization: {watch.headers['Authorization']}\r\n\r\n".encode())
    return s


def server_unsent_bytes(server_port, client_port):
    """What the server's socket to this client holds unsent (/proc/net/tcp)."""
    local, remote = f":{server_port:04X}", f":{client_port:04X}"
    with open("/proc/net/tcp") as table:
        for line in table:
            fields = line.split()
            if fields[1].endswith(local) and fields[2].endswith(remote):
                return int(fields[4].split(":")[0], 16)
    return None


class TestHttp:
    def test_credentials_are_required(self, auth_watch):
        for headers in [{}, {"Authorization": basic("viewer", "wrong")}, {"Authorization": basic("nobody", "x")}]:
            for path in ["/", "/api/status", "/stream.mjpg", "/no/such/page"]:
                status, response, body = auth_watch.request("GET", path, headers=headers, authorized=False)
                assert status == 401 and json.loads(body)["error"]
                assert response.getheader("WWW-Authenticate") == 'Basic realm="motion_watch"'
        assert auth_watch.request("GET", "/")[0] == 200

    def test_event_files_only_and_ranges(self, auth_watch):
        ended = wait_until(lambda: [e for e in auth_watch.json("/api/events") if e["type"] == "end"
                                    and e["snapshotUrl"]], "an ended event")[0]
        with open(os.path.join(auth_watch.directory, "out", ended["snapshot"]), "rb") as f:
            snapshot = f.read()
        status, response, body = auth_watch.request("GET", ended["snapshotUrl"], headers={"Range": "bytes=10-109"})
        assert status == 206 and body == snapshot[10:110]
        assert response.getheader("Content-Range") == f"bytes 10-109/{len(snapshot)}"
        assert auth_watch.request("GET", ended["snapshotUrl"], headers={"Range": f"bytes={len(snapshot)}-"})[0] == 416

        os.symlink("../config.json", os.path.join(auth_watch.directory, "out", "event_20000101_000000_0001.jpg"))
        for path in ["/events/../config.json", "/events/..%2Fconfig.json", "/events/%2e%2e/config.json",
                     "/events/events.jsonl", "/events/event_20000101_000000_0001.jpg",
                     "/events/" + ended["snapshot"] + "/..", "/events/%2Fetc%2Fpasswd"]:
            status, _, body = auth_watch.request("GET", path)
            assert status == 404 and json.loads(body)["error"], path

    def test_refusals(self, auth_watch):
        assert auth_watch.request("POST", "/api/status")[0] == 405
        assert auth_watch.request("PUT", "/api/settings", body=b" " * (17 << 20))[0] == 413
        status, _, body = auth_watch.request("PUT", "/api/settings", body=b'{"pixel_deviation": 300}')
        assert status == 400 and "pixel_deviation" in json.loads(body)["error"]
        assert auth_watch.request("PUT", "/api/zones.png", body=b"not an image")[0] == 400
        assert auth_watch.request("GET", "/stream.mjpg?fps=31")[0] == 400

        # A client sending its header a byte at a time is answered and dropped.
        slow = socket.create_connection(("127.0.0.1", auth_watch.port), timeout=60)
        slow.sendall(b"GET /api/status HTTP/1.1\r\n")

        def answered():
            try:
                slow.sendall(b"X")
            except OSError:
                return True
            slow.setblocking(False)
            try:
                return slow.recv(4096).startswith(b"HTTP/1.1 400")
            except BlockingIOError:
                return False
            finally:
                slow.setblocking(True)
        wait_until(answered, "the slow client to be answered", timeout=60)
        slow.close()

    def test_streams_are_limited_and_never_slow_detection(self, auth_watch):
        streams = [open_stream(auth_watch, "?fps=1") for _ in range(16)]
        for s in streams:
            assert s.recv(15) == b"HTTP/1.1 200 OK"
        status, _, body = auth_watch.request("GET", "/stream.mjpg")
        assert status == 503 and json.loads(body)["error"]
        for s in streams:
            s.close()

        # A client that never reads: once the server holds frames it cannot
        # send, detection goes on and the client stays connected.
        def accepted_stream():
            s = open_stream(auth_watch, "?fps=30", receive_buffer=4096)
            if s.recv(15) == b"HTTP/1.1 200 OK":
                return s
            s.close()  # the closed streams are not let go yet
        stuck = wait_until(accepted_stream, "a free stream")
        client_port = stuck.getsockname()[1]
        wait_until(lambda: (server_unsent_bytes(auth_watch.port, client_port) or 0) > 0, "the server to hold frames")
        auth_watch.frames_pass(3 * FPS)
        assert server_unsent_bytes(auth_watch.port, client_port) is not None
        stuck.close()

    def test_start_refusals(self, workdir):
        directory = new_watch_dir(workdir, "refused")
        for options, status in [(["--http", "0.0.0.0:8080"], 2), (["--http-auth", "users"], 2),
                                (["--http", "8080", "--http-auth", "missing"], 1)]:
            run = subprocess.run([MOTION_WATCH, "--config", "config.json", "--source", workdir[1], "--output", "out"]
                                 + options, cwd=directory, capture_output=True, text=True, timeout=60)
            assert run.returncode == status and len(run.stderr.splitlines()) == 1, run.stderr
        assert not os.path.exists(os.path.join(directory, "out"))
