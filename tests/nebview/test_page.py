"""nebview's page in Debian's headless Chromium (software WebGL 2): the volume view draws
the plume and follows the frames, a damaged frame shows its reason and playback passes it,
a slice shows the library's value of a cell, and a group's particle count is the
library's."""
import numpy
import pytest

import nebview_support as support

if not support.chromium_present():
    pytest.skip("chromium is not installed (Debian package chromium, from scripts/install-deps.sh): "
                "the page is not tested", allow_module_level=True)


@pytest.fixture(scope="module")
def served(tmp_path_factory):
    """Frames 0..4 of a 40^3 plume with frame 3 cut short, served, and a browser on the page
    with the frame shown."""
    folder = str(tmp_path_factory.mktemp("page"))
    paths = support.write_sample(folder, 5, 40)
    support.damage(paths[3])
    server = support.Server(folder + "/plume_####.neb")
    browser = support.Browser(720, 560)
    try:
        browser.open(server.url)
        browser.wait_for("document.body.dataset.shownState === 'ready'")
        # Only the volume on the canvas: no box lines, no particles; no shadows (software GL).
        browser.evaluate("""(() => {
          for (const id of ['show-box', 'shadows', 'group-toggle-0']) {
            const box = document.getElementById(id); box.checked = false; box.dispatchEvent(new Event('change')); }
        })()""")
        yield folder, paths, server, browser
    finally:
        browser.close()
        server.stop()


def show(browser, index, state):
    browser.evaluate("nebview.timeline.seek(%d)" % index)
    browser.wait_for("document.body.dataset.shownFrame === '%d' && document.body.dataset.shownState === '%s'"
                     % (index, state))
    # The next animation frame has drawn everything the change asked for.
    browser.evaluate("new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))")


def box_rectangle(browser):
    """The canvas pixels the grid's box covers: (left, top, right, bottom)."""
    corners = browser.evaluate("""(() => {
      const c = document.getElementById('volume-canvas');
      const m = Array.from(nebview.camera.matrices(c.width / c.height).viewProjection);
      return {m, corners: nebview.box.corners, w: c.width, h: c.height}; })()""")
    m = numpy.array(corners["m"]).reshape(4, 4).T
    xs, ys = [], []
    for p in corners["corners"]:
        clip = m @ numpy.array(p + [1.0])
        xs.append((clip[0] / clip[3] * 0.5 + 0.5) * corners["w"])
        ys.append((0.5 - clip[1] / clip[3] * 0.5) * corners["h"])
    return int(min(xs)), int(min(ys)), int(max(xs)), int(max(ys))


def test_the_volume_view_draws_the_plume_and_follows_the_frames(served):
    _, _, _, browser = served
    show(browser, 4, "ready")
    late = browser.canvas_pixels()[:, :, :3].astype(float)
    light = late.max(axis=2)
    left, top, right, bottom = box_rectangle(browser)
    inside = light[max(top, 0):bottom, max(left, 0):right]
    assert (inside > 80).sum() > 200  # the smoke and fire of the plume
    for corner in (light[:12, :12], light[:12, -12:], light[-12:, :12], light[-12:, -12:]):
        assert corner.max() < 30
    show(browser, 1, "ready")
    early = browser.canvas_pixels()[:, :, :3].astype(float)
    assert numpy.abs(late - early).mean() > 1.0  # the plume grows


def test_a_damaged_frame_shows_its_reason_and_playback_passes_it(served):
    _, paths, _, browser = served
    reason = support.footer_missing_reason(paths[3])
    show(browser, 3, "failed")
    overlay = browser.evaluate("document.getElementById('overlay').hidden ? '' : document.getElementById('overlay').textContent")
    assert reason in overlay
    assert browser.evaluate("nebview.store.state(3)") == "failed"
    show(browser, 2, "ready")
    browser.evaluate("nebview.shownLog = []; document.getElementById('play').click()")
    shown = browser.wait_for("nebview.shownLog.length >= 2 && nebview.shownLog.slice(0, 2)")
    browser.evaluate("document.getElementById('play').click()")
    assert shown == [[3, "failed"], [4, "ready"]]


def test_a_slice_shows_the_value_the_library_gives_for_a_cell(served):
    _, paths, _, browser = served
    show(browser, 2, "ready")
    smoke = support.Library().channel(paths[2], 2)
    z = 5
    y, x = numpy.unravel_index(numpy.argmax(smoke[z]), smoke[z].shape)
    browser.evaluate("""(() => {
      document.getElementById('slice-section').open = true;
      const s = document.getElementById('slice-channel'); s.value = '2'; s.dispatchEvent(new Event('change'));
      const i = document.getElementById('slice-index'); i.value = '%d'; i.dispatchEvent(new Event('input')); })()""" % z)
    browser.wait_for("nebview.slices.slice && nebview.slices.slice.index === %d && nebview.slices.slice.channel === 2" % z)
    rect = browser.evaluate("""(() => { document.getElementById('slice-canvas').scrollIntoView();
      const r = document.getElementById('slice-canvas').getBoundingClientRect();
      return [r.left, r.top, r.width, r.height]; })()""")
    width, height = smoke.shape[2], smoke.shape[1]
    # Row 0 of the slice is drawn at the bottom.
    browser.mouse_move(rect[0] + (x + 0.5) * rect[2] / width, rect[1] + (height - 1 - y + 0.5) * rect[3] / height)
    readout = browser.wait_for("document.getElementById('slice-readout').textContent.startsWith('cell') && "
                               "document.getElementById('slice-readout').textContent")
    assert readout.startswith("cell (%d, %d, %d) = " % (x, y, z))
    assert numpy.float32(float(readout.split("= ")[1])) == smoke[z, y, x]


def test_the_particle_count_shown_is_the_groups(served):
    _, paths, _, browser = served
    show(browser, 4, "ready")
    shown = browser.evaluate("document.getElementById('group-count-0').textContent")
    assert int(shown.split()[0].replace(",", "")) == support.Library().particle_count(paths[4], 0)
