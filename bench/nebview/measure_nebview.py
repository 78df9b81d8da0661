"""nebview's figures, measured with headless Chromium (software WebGL: SwiftShader) on
sample sequences that nebsample writes:

  - the time from starting nebview to the first picture of a 256^3 sequence (the browser
    is started first and opens the page as soon as nebview prints its address);
  - the time a frame of playback takes for a 10-frame 128^3 sequence once every frame is
    held by the page (its textures uploaded, the picture drawn to the end);
  - the server's peak resident memory (VmHWM) in each run, statistics sweep included.

    NEB_BUILD_DIR=build/release /usr/bin/python3 bench/nebview/measure_nebview.py [WORKDIR]

The sequences are written into WORKDIR (default: a temporary folder, removed afterwards).
The picture is drawn by the CPU here (SwiftShader), so the playback figure says more about
software rendering on this machine than about a browser with a GPU; the drawing's share
and the figure at a quarter of the pixels are printed too.
"""
import os
import shutil
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(os.environ.get("NEB_BUILD_DIR", os.path.join(ROOT, "build", "release")))
os.environ.setdefault("NEBVIEW", os.path.join(BUILD, "tools", "nebview", "nebview"))
os.environ.setdefault("NEBSAMPLE", os.path.join(BUILD, "tools", "nebsample", "nebsample"))
sys.path.insert(0, os.path.join(ROOT, "tests", "nebview"))
import nebview_support as support  # noqa: E402


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def first_picture(folder):
    browser = support.Browser(1280, 800)
    try:
        start = time.time()
        server = support.Server(folder + "/plume_####.neb")
        listening = time.time() - start
        browser.open(server.url)
        browser.wait_for("document.body.dataset.firstPicture", 900)
        picture = time.time() - start
        cpu = cpu_seconds(server.process.pid)
        browser.wait_for("nebview.stats.done === nebview.sequence.frames.length", 1800)
        peak = peak_kib(server.process.pid)
        server.stop()
        return listening, picture, cpu, peak
    finally:
        browser.close()


def playback(folder):
    """Milliseconds per frame of playback with every frame held: the frame's textures
    uploaded and the picture drawn as playback draws it, to the end (read back), at the
    page's canvas size and at a quarter of it; and what the upload alone takes."""
    browser = support.Browser(1280, 800)
    server = support.Server(folder + "/plume_####.neb")
    try:
        browser.open(server.url)
        browser.wait_for("document.body.dataset.shownState === 'ready'", 600)
        browser.wait_for("[...Array(10).keys()].every((i) => nebview.store.state(i) === 'ready')", 900)
        result = browser.evaluate("""(() => {
          const app = nebview, gl = app.view.gl, pixel = new Uint8Array(4), out = {};
          const finish = () => gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
          app.timeline.playing = true;  // draws as playback does; nothing advances by itself
          app.timeline.due = Infinity;
          const time = (body) => { const t = performance.now(); for (let i = 0; i < 10; ++i) body(i); return (performance.now() - t) / 10; };
          const canvas = document.getElementById('volume-canvas');
          out.size = [canvas.width, canvas.height];
          out.frame = time((i) => { app.timeline.seek(i); finish(); });
          out.draw = time(() => { app.view.render(app.camera, true); finish(); });
          canvas.style.width = '50%'; canvas.style.height = '50%';
          app.view.render(app.camera, true);
          out.smallSize = [canvas.width, canvas.height];
          out.smallFrame = time((i) => { app.timeline.seek(i); finish(); });
          app.timeline.playing = false;
          return out; })()""")
        browser.wait_for("nebview.stats.done === 10", 900)
        return result, peak_kib(server.process.pid)
    finally:
        server.stop()
        browser.close()


def main():
    work = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="nebview-measure-")
    big, small = os.path.join(work, "256"), os.path.join(work, "128")
    try:
        for folder, resolution in ((big, 256), (small, 128)):
            if not os.path.exists(os.path.join(folder, "plume_0009.neb")):
                os.makedirs(folder, exist_ok=True)
                support.write_sample(folder, 10, resolution)
        with open("/proc/loadavg") as f:
            print("load average at start:", " ".join(f.read().split()[:3]), "on", os.cpu_count(), "processors")
        listening, picture, cpu, peak = first_picture(big)
        print("256^3, 10 frames: listening after %.2f s, first picture %.2f s after start "
              "(server CPU %.2f s by then); server peak %.0f MiB" % (listening, picture, cpu, peak / 1024))
        r, peak = playback(small)
        print("128^3, 10 frames held: a frame of playback takes %.0f ms (%.2f fps) at %dx%d, of which the drawing "
              "%.0f ms; %.0f ms (%.2f fps) at %dx%d; server peak %.0f MiB" %
              (r["frame"], 1000 / r["frame"], r["size"][0], r["size"][1], r["draw"], r["smallFrame"],
               1000 / r["smallFrame"], r["smallSize"][0], r["smallSize"][1], peak / 1024))
    finally:
        if len(sys.argv) <= 1:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
