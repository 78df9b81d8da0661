"""What the nebview tests share: the programs under test (from the environment ctest
sets), sample sequences written by nebsample, the served program as a child process, the
library's own values through its C interface (ctypes), and a headless Chromium driven
through the DevTools protocol."""
import base64
import ctypes
import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import urllib.request

import numpy

NEBVIEW = os.environ.get("NEBVIEW", "")
NEBSAMPLE = os.environ.get("NEBSAMPLE", "")
NEBINFO = os.environ.get("NEBINFO", "")
LIBRARY = os.environ.get("NEBLOADER_LIBRARY", "")
CHROMIUM = os.environ.get("NEBVIEW_CHROMIUM", "/usr/bin/chromium")


def write_sample(folder, frames, resolution, start=0):
    """frames nebu2 files of the sample plume, folder/plume_####.neb; their paths."""
    pattern = os.path.join(folder, "plume_####.neb")
    subprocess.run([NEBSAMPLE, "--out", pattern, "--frames", str(frames), "--res", str(resolution),
                    "--start", str(start)], check=True, stdout=subprocess.DEVNULL)
    return [os.path.join(folder, "plume_%04d.neb" % (start + k)) for k in range(frames)]


def damage(path, keep=4000):
    """Cuts the file short: its footer is gone."""
    with open(path, "rb") as f:
        head = f.read(keep)
    with open(path, "wb") as f:
        f.write(head)


def load_reason(path):
    """Why the library refuses to load the frame, as nebinfo --json gives it: "nebu2 footer
    missing (status 12): " and then what the library reported, joined by "; "."""
    run = subprocess.run([NEBINFO, "--json", path], capture_output=True, text=True)
    return json.loads(run.stdout)["error"]


def footer_missing_reason(path):
    """What nebview shows for a frame cut short: the library's status text for a missing
    footer and the reports of the load, as nebinfo has them."""
    status, reports = load_reason(path).split(" (status 12): ", 1)
    assert status == "nebu2 footer missing"
    return status + ": " + reports


def end_process(process, timeout):
    """Terminates a process still running (killed after `timeout` seconds); its exit status."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return process.returncode


class Server:
    """nebview serving `args` on a free loopback port, stopped (SIGTERM) on exit."""

    def __init__(self, *args):
        self.log = tempfile.TemporaryFile(mode="w+")
        self.process = subprocess.Popen([NEBVIEW, "--port", "0", *args], stdout=subprocess.PIPE,
                                        stderr=self.log, text=True)
        line = self.process.stdout.readline()
        match = re.search(r"at (http://[^ ]+/)$", line.strip())
        if not match:
            self.process.kill()
            raise RuntimeError("nebview did not start: %r" % line)
        self.url = match.group(1)
        self.port = int(self.url.rsplit(":", 1)[1].strip("/"))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        return end_process(self.process, 30)

    def log_text(self):
        self.log.seek(0)
        return self.log.read()

    def get(self, target, timeout=120):
        """(status, body bytes, headers) of GET target, sent as it is."""
        import http.client
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        connection.putrequest("GET", target, skip_accept_encoding=True)
        connection.endheaders()
        response = connection.getresponse()
        body = response.read()
        connection.close()
        return response.status, body, dict(response.getheaders())


class Library:
    """The library's values through its C interface, independent of nebview."""

    def __init__(self):
        lib = ctypes.CDLL(LIBRARY)
        lib.neb_frame_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_longlong, ctypes.c_int,
                                       ctypes.POINTER(ctypes.c_void_p)]
        lib.neb_frame_close.argtypes = [ctypes.c_void_p]
        lib.neb_frame_grid_size.argtypes = [ctypes.c_void_p, ctypes.c_int * 3]
        lib.neb_frame_channel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.POINTER(ctypes.POINTER(ctypes.c_float))]
        lib.neb_frame_stored_group.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.POINTER(ctypes.c_void_p)]
        lib.neb_group_particle_count.argtypes = [ctypes.c_void_p]
        self.lib = lib

    def _open(self, path):
        frame = ctypes.c_void_p()
        assert self.lib.neb_frame_open(path.encode(), None, -1, 2, ctypes.byref(frame)) == 0, path
        return frame

    def channel(self, path, channel):
        """The channel as a float32 array indexed [z, y, x]."""
        frame = self._open(path)
        try:
            size = (ctypes.c_int * 3)()
            self.lib.neb_frame_grid_size(frame, size)
            values = ctypes.POINTER(ctypes.c_float)()
            assert self.lib.neb_frame_channel(frame, channel, ctypes.byref(values)) == 0
            count = size[0] * size[1] * size[2]
            array = numpy.ctypeslib.as_array(values, shape=(count,)).copy()
            return array.reshape(size[2], size[1], size[0])
        finally:
            self.lib.neb_frame_close(frame)

    def particle_count(self, path, group):
        frame = self._open(path)
        try:
            g = ctypes.c_void_p()
            assert self.lib.neb_frame_stored_group(frame, group, ctypes.byref(g)) == 0
            return self.lib.neb_group_particle_count(g)
        finally:
            self.lib.neb_frame_close(frame)


def chromium_present():
    return os.access(CHROMIUM, os.X_OK)


class Browser:
    """Headless Chromium with software WebGL (SwiftShader), one page, driven through the
    DevTools protocol. Nothing is fetched from the network: a fresh profile, no
    background services."""

    def __init__(self, width=900, height=640):
        import websocket  # Debian: python3-websocket
        self.profile = tempfile.mkdtemp(prefix="nebview-chromium-")
        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--remote-debugging-port=0", "--user-data-dir=" + self.profile,
             "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-extensions",
             "--disable-default-apps", "--window-size=%d,%d" % (width, height), "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.time() + 60
        while not (os.path.exists(port_file) and open(port_file).read().strip()):
            if time.time() > deadline or self.process.poll() is not None:
                self.close()
                raise RuntimeError("chromium did not start")
            time.sleep(0.1)
        port = int(open(port_file).read().split()[0])
        targets = json.load(urllib.request.urlopen("http://127.0.0.1:%d/json" % port))
        page = [t for t in targets if t["type"] == "page"][0]
        self.socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=300)
        self.next_id = 0
        self.events = []  # console messages and exceptions of the page
        self.call("Page.enable")
        self.call("Runtime.enable")
        # The page's viewport is the window's size exactly.
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1, mobile=False)

    def call(self, method, **params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            answer = json.loads(self.socket.recv())
            if answer.get("method") in ("Runtime.consoleAPICalled", "Runtime.exceptionThrown"):
                self.events.append(answer["params"])
            if answer.get("id") == self.next_id:
                if "error" in answer:
                    raise RuntimeError("%s: %s" % (method, answer["error"]))
                return answer.get("result", {})

    def open(self, url):
        self.call("Page.navigate", url=url)

    def evaluate(self, expression):
        """The value of a JavaScript expression (promises awaited)."""
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError("page error: %s" % result["exceptionDetails"])
        return result["result"].get("value")

    def wait_for(self, expression, timeout=120):
        """The expression's value once it is true (errors while the page loads count as false)."""
        deadline = time.time() + timeout
        guarded = "(() => { try { return (%s); } catch (e) { return null; } })()" % expression
        while time.time() < deadline:
            value = self.evaluate(guarded)
            if value:
                return value
            time.sleep(0.1)
        raise AssertionError("timed out waiting for: " + expression)

    def canvas_pixels(self, canvas_id="volume-canvas"):
        """The canvas as drawn, an RGBA uint8 array [row from top, column, channel]."""
        shot = self.evaluate("""(() => {
          const c = document.getElementById(%s), t = document.createElement('canvas');
          t.width = c.width; t.height = c.height;
          const g = t.getContext('2d'); g.drawImage(c, 0, 0);
          const d = g.getImageData(0, 0, t.width, t.height).data;
          let s = ''; for (let i = 0; i < d.length; i += 32768) s += String.fromCharCode.apply(null, d.subarray(i, i + 32768));
          return {w: t.width, h: t.height, b64: btoa(s)}; })()""" % json.dumps(canvas_id))
        data = numpy.frombuffer(base64.b64decode(shot["b64"]), dtype=numpy.uint8)
        return data.reshape(shot["h"], shot["w"], 4)

    def screenshot(self, path):
        with open(path, "wb") as f:
            f.write(base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"]))

    def mouse_move(self, x, y):
        self.call("Input.dispatchMouseEvent", type="mouseMoved", x=x, y=y)

    def close(self):
        end_process(self.process, 20)
        shutil.rmtree(self.profile, ignore_errors=True)
