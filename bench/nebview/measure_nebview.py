"""nebview's figures, measured with headless Chromium (software WebGL: SwiftShader) on
sample sequences that nebsample writes:

  - the time from starting nebview to the first picture of a 256^3 sequence (the browser
    is started first and opens the page as soon as nebview prints its address);
  - the playback rate of a 10-frame 128^3 sequence once every frame is held by the page;
  - the server's peak resident memory (VmHWM) in each run, statistics sweep included.

    NEB_BUILD_DIR=build/release /usr/bin/python3 bench/nebview/measure_nebview.py [WORKDIR]

The sequences are written into WORKDIR (default: a temporary folder, removed afterwards).
The picture is drawn by the CPU here, so the playback rate says more about SwiftShader on
this machine than about a browser with a GPU; the rate without shadows is printed too.
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
    browser = support.Browser(1280, 800)
    server = support.Server(folder + "/plume_####.neb")
    try:
        browser.open(server.url)
        browser.wait_for("document.body.dataset.shownState === 'ready'", 600)
        browser.wait_for("[...Array(10).keys()].every((i) => nebview.store.state(i) === 'ready')", 900)
        size = browser.evaluate("[document.getElementById('volume-canvas').width, document.getElementById('volume-canvas').height]")
        rates = []
        for shadows in (True, False):
            browser.evaluate("""(() => { const s = document.getElementById('shadows'); s.checked = %s;
              s.dispatchEvent(new Event('change'));
              const f = document.getElementById('fps'); f.value = '60'; f.dispatchEvent(new Event('change'));
              document.getElementById('play').click(); })()""" % ("true" if shadows else "false"))
            time.sleep(8)
            rates.append(browser.evaluate("nebview.timeline.rate"))
            browser.evaluate("document.getElementById('play').click()")
        browser.wait_for("nebview.stats.done === 10", 900)
        return size, rates, peak_kib(server.process.pid)
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
        size, rates, peak = playback(small)
        print("128^3, 10 frames held: playback %.1f fps with shadows, %.1f fps without (canvas %dx%d, "
              "SwiftShader); server peak %.0f MiB" % (rates[0] or 0, rates[1] or 0, size[0], size[1], peak / 1024))
    finally:
        if len(sys.argv) <= 1:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
