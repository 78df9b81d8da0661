// nebview's page: the sequence from the server, the 3D view, the timeline and the panels.
import { getJson } from './api.js';
import { OrbitCamera } from './camera.js';
import { FrameStore } from './frame-store.js';
import { Timeline } from './timeline.js';
import { SlicePanel, floatText } from './slices.js';
import { renderFacts, StatsPlot } from './facts.js';
import { VolumeView, rampColour } from './volume-view.js';

const $ = (id) => document.getElementById(id);
const FIRE_CHANNELS = [1, 10];     // temperature, fuel
const COLOUR_CHANNELS = [7, 8, 9];
const MAX_PARTICLES = 1000000;     // per group and frame; more are thinned evenly

// State kept for tests and for the page's own parts.
const app = {
  sequence: null,
  facts: new Map(),        // index -> facts answer (or a promise of it)
  current: 0,
  shown: -1,
  channels: [],            // [{channel, name}] of the first readable frame
  groups: [],              // [{index, name}] stored groups with positions
  rangesSet: { density: false, fire: false },
  view: null,
  camera: new OrbitCamera(),
  box: null,
  renders: 0,
  firstPicture: null,      // ms from the page's start to its first volume drawn
  shownLog: [],            // the last frames put on screen: [index, 'ready' | 'failed']
  interacting: false,
  renderPending: false,
};
window.nebview = app;

function message(text, bad) {
  const m = $('message');
  m.textContent = text;
  m.classList.toggle('bad', !!bad);
}

function facts(index) {
  if (!app.facts.has(index)) {
    const p = getJson(`/api/frame/${index}/facts`).then((f) => {
      app.facts.set(index, f);
      return f;
    }, (e) => {
      app.facts.delete(index);
      throw e;
    });
    app.facts.set(index, p);
  }
  return Promise.resolve(app.facts.get(index));
}

// Present channels a frame can show (packed colour 18 is read as 7, 8, 9).
function readableChannels(summary) {
  return summary.channels.filter((c) => c.channel !== 18 && c.storage !== 'missing')
    .map((c) => ({ channel: c.channel, name: c.name || `channel ${c.channel}` }));
}

function volumeRequest() {
  const density = Number($('density-channel').value);
  const channels = [density];
  const fire = Number($('fire-channel').value);
  if (fire >= 0 && fire !== density) channels.push(fire);
  if ($('use-colour').checked) for (const c of COLOUR_CHANNELS) if (!channels.includes(c)) channels.push(c);
  const n = Number($('resolution').value);
  return {
    channels, cells: n * n * n, bits: Number($('bits').value),
    groups: app.groups.map((g) => g.index), maxParticles: MAX_PARTICLES,
  };
}

function requestRender(interacting) {
  app.interacting = !!interacting;
  if (app.renderPending) return;
  app.renderPending = true;
  requestAnimationFrame(() => {
    app.renderPending = false;
    render();
  });
}

// While the timeline plays, frames are drawn as while orbiting (half the steps, no
// shadows); a paused frame is drawn again in full.
function render() {
  if (!app.view) return;
  app.view.render(app.camera, app.interacting || (app.timeline && app.timeline.playing));
  app.renders += 1;
}

function hashColour(low) {
  // identifier -> a stable hue
  let h = Math.imul(low ^ (low >>> 16), 0x45d9f3b);
  h = Math.imul(h ^ (h >>> 16), 0x45d9f3b);
  const hue = ((h >>> 0) % 360) / 60, x = 1 - Math.abs((hue % 2) - 1);
  const rgb = [[1, x, 0], [x, 1, 0], [0, 1, x], [0, x, 1], [x, 0, 1], [1, 0, x]][Math.floor(hue) % 6];
  return rgb.map((c) => 0.35 + 0.65 * c);
}

function particleColours(data, by) {
  const n = data.sent, colours = new Float32Array(n * 3);
  if (by === 'id' && data.ids) {
    for (let i = 0; i < n; ++i) colours.set(hashColour(data.ids[2 * i]), 3 * i);
    return colours;
  }
  const v = data.velocities;
  let top = 0;
  const speed = new Float32Array(n);
  for (let i = 0; i < n; ++i) {
    speed[i] = v ? Math.hypot(v[3 * i], v[3 * i + 1], v[3 * i + 2]) : 0;
    top = Math.max(top, speed[i]);
  }
  for (let i = 0; i < n; ++i) colours.set(rampColour(top > 0 ? speed[i] / top : 0.5), 3 * i);
  return colours;
}

function showParticles(entry) {
  const by = $('particle-colour').value;
  const shown = [];
  app.groups.forEach((g, k) => {
    const count = $(`group-count-${k}`);
    const part = entry && entry.state === 'ready' ? entry.data.particles.find((p) => p.group === g.index) : null;
    if (!part) {
      count.textContent = '–';
      return;
    }
    if (!part.data) {
      count.textContent = `cannot be read: ${part.reason}`;
      return;
    }
    const d = part.data;
    count.textContent = `${d.count.toLocaleString('en')} particles` + (d.stride > 1 ? ` (every ${d.stride}th shown)` : '');
    count.dataset.count = String(d.count);
    if ($(`group-toggle-${k}`).checked && d.sent) shown.push({ positions: d.positions, colours: particleColours(d, by) });
  });
  app.view && app.view.setPoints(shown);
}

function updateSlicePlane(plane) {
  if (!app.view) return;
  app.view.settings.slicePlane = plane;
  app.view.setBox(app.box);
  requestRender(false);
}

// Puts a read (or failed) frame on screen.
function display(index, entry) {
  if (index !== app.current) return;
  app.shown = index;
  const frame = app.sequence.frames[index];
  const overlay = $('overlay');
  document.body.dataset.shownFrame = String(index);
  app.shownLog.push([index, entry.state]);
  if (app.shownLog.length > 100) app.shownLog.shift();
  if (entry.state === 'failed') {
    overlay.hidden = false;
    overlay.textContent = `Frame ${frame.number} (${frame.name}) cannot be read:\n${entry.reason}`;
    message(`frame ${frame.number}: ${entry.reason}`, true);
    document.body.dataset.shownState = 'failed';
    if (app.view) {
      app.view.setVolume(null);
      app.view.setPoints([]);
      render();
    }
    return;
  }
  const volume = entry.data.volume;
  const byChannel = new Map(volume.channels.map((c) => [c.channel, c]));
  const request = volumeRequest();
  const density = byChannel.get(request.channels[0]);
  const notes = [];
  let fire = null, colour = null;
  for (const c of volume.channels) {
    if (c.status !== 'ok' && c !== density) notes.push(`channel ${c.channel}: ${c.reason}`);
  }
  const fireNumber = Number($('fire-channel').value);
  if (fireNumber >= 0 && byChannel.get(fireNumber) && byChannel.get(fireNumber).status === 'ok') fire = byChannel.get(fireNumber);
  if ($('use-colour').checked && COLOUR_CHANNELS.every((c) => byChannel.get(c) && byChannel.get(c).status === 'ok')) {
    colour = COLOUR_CHANNELS.map((c) => byChannel.get(c));
  }
  $('volume-note').textContent = notes.join('; ');
  if (!density || density.status !== 'ok') {
    overlay.hidden = false;
    const why = density ? density.reason : 'not read';
    overlay.textContent = `Frame ${frame.number} (${frame.name}): channel ${request.channels[0]} cannot be shown:\n${why}`;
    message(`frame ${frame.number}: ${why}`, true);
    document.body.dataset.shownState = 'failed';
  } else {
    overlay.hidden = true;
    message(`frame ${frame.number} (${frame.name}): ${volume.size.join(' × ')} cells shown of ${volume.fullSize.join(' × ')}` +
      (volume.factor > 1 ? ` (each the mean of ${volume.factor}³)` : ''));
    document.body.dataset.shownState = 'ready';
    if (!app.rangesSet.density) setRange('density', density.min, density.max, false);
    if (fire && !app.rangesSet.fire) setRange('fire', fire.min, fire.max, false);
  }
  $('resolution-note').textContent = `shown: ${volume.size.join(' × ')} of ${volume.fullSize.join(' × ')} cells per channel`;
  const box = VolumeView.boxOf(volume.transform, volume.fullSize);
  if (box && (!app.box || box.center.some((c, i) => c !== app.box.center[i]) || box.radius !== app.box.radius)) {
    const first = !app.box;
    app.box = box;
    app.camera.fit(box.center, box.radius, first);
  }
  if (app.view) {
    app.view.setVolume(density && density.status === 'ok' ? volume : null,
      { density: density && density.status === 'ok' ? density : null, fire, colour }, volume.transform);
    app.view.setBox(app.box);
  }
  showParticles(entry);
  render();
  if (app.firstPicture === null && density && density.status === 'ok') {
    app.firstPicture = performance.now();
    document.body.dataset.firstPicture = String(Math.round(app.firstPicture));
    app.stats.start();
  }
}

function setRange(which, low, high, byHand) {
  const lo = which === 'density' ? Math.max(0, low) : low;
  $(`${which}-low`).value = floatText(lo);
  $(`${which}-high`).value = floatText(high > lo ? high : lo + 1);
  app.rangesSet[which] = byHand;
  applySettings();
}

function applySettings() {
  if (!app.view) return;
  const s = app.view.settings;
  s.densityRange = [Number($('density-low').value), Number($('density-high').value)];
  s.opacity = Number($('opacity').value);
  s.fireRange = [Number($('fire-low').value), Number($('fire-high').value)];
  s.fireIntensity = Number($('fire-intensity').value);
  s.quality = Number($('quality').value);
  s.shadows = $('shadows').checked;
  s.showBox = $('show-box').checked;
  s.pointSize = Number($('point-size').value);
  s.upAxis = $('up-axis').value;
  requestRender(false);
}

function showFrame(index) {
  app.current = index;
  const frame = app.sequence.frames[index];
  $('frame-label').textContent = frame.name;
  app.stats.setCurrent(index);
  facts(index).then((f) => {
    if (index !== app.current) return;
    renderFacts($('facts'), f);
    if (f.summary.loaded) app.slices.setFrame(index, readableChannels(f.summary), f.summary.grid);
    else app.slices.setUnreadable(frame.number, f.summary.error || 'unknown reason');
  }, (e) => app.slices.setUnreadable(frame.number, e.reason || String(e)));
  const entry = app.store.entry(index);
  if (entry && entry.state !== 'loading') {
    display(index, entry);
  } else {
    message(`reading frame ${frame.number}…`);
    app.store.get(index).then((e) => display(index, e));
  }
}

// A new request (channels, resolution, precision): everything is read again.
function reload() {
  app.store.setRequest(volumeRequest());
  showFrame(app.current);
  app.timeline.readAhead();
}

function fillChannelSelects(channels) {
  const options = (list, extra) => extra + list.map((c) => `<option value="${c.channel}">${c.channel} ${c.name}</option>`).join('');
  $('density-channel').innerHTML = options(channels, '');
  const has = (n) => channels.some((c) => c.channel === n);
  $('density-channel').value = String(has(2) ? 2 : channels.length ? channels[0].channel : '');
  $('fire-channel').innerHTML = options(channels.filter((c) => FIRE_CHANNELS.includes(c.channel)), '<option value="-1">none</option>');
  $('fire-channel').value = String(has(1) ? 1 : has(10) ? 10 : -1);
  const colour = COLOUR_CHANNELS.every(has);
  $('use-colour').checked = colour;
  $('use-colour').disabled = !colour;
}

function fillGroups(groups) {
  const list = $('particle-groups');
  list.innerHTML = '';
  if (!groups.length) list.textContent = 'no particle groups';
  groups.forEach((g, k) => {
    const row = document.createElement('label');
    row.className = 'group';
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.checked = true;
    box.id = `group-toggle-${k}`;
    box.onchange = () => { showParticles(app.store.entry(app.current)); requestRender(false); };
    const name = document.createElement('span');
    name.textContent = g.name;
    const count = document.createElement('span');
    count.className = 'count';
    count.id = `group-count-${k}`;
    row.append(box, name, count);
    list.append(row);
  });
}

function wireControls() {
  for (const id of ['opacity', 'fire-intensity', 'quality', 'point-size']) $(id).oninput = applySettings;
  for (const id of ['shadows', 'show-box']) $(id).onchange = applySettings;
  for (const which of ['density', 'fire']) {
    for (const end of ['low', 'high']) $(`${which}-${end}`).onchange = () => { app.rangesSet[which] = true; applySettings(); };
    $(`${which}-auto`).onclick = () => {
      const e = app.store.entry(app.shown);
      const channel = Number($(`${which}-channel`).value);
      const c = e && e.state === 'ready' ? e.data.volume.channels.find((x) => x.channel === channel) : null;
      if (c && c.status === 'ok') setRange(which, c.min, c.max, true);
    };
  }
  $('density-channel').onchange = () => { app.rangesSet.density = false; reload(); };
  $('fire-channel').onchange = () => { app.rangesSet.fire = false; reload(); };
  for (const id of ['use-colour', 'resolution', 'bits']) $(id).onchange = reload;
  $('budget').onchange = () => {
    app.store.budgetBytes = Number($('budget').value) * 1048576;
    app.timeline.readAhead();
  };
  $('particle-colour').onchange = () => { showParticles(app.store.entry(app.current)); requestRender(false); };
  $('up-axis').onchange = () => {
    app.camera.up = $('up-axis').value;
    app.camera.reset();
    applySettings();
    if (app.slices.slice) app.slices.draw();
  };
  $('reset-view').onclick = () => { app.camera.reset(); requestRender(false); };
  $('help-button').onclick = () => { $('help').hidden = !$('help').hidden; };
  window.addEventListener('resize', () => requestRender(false));
}

async function start() {
  wireControls();
  let sequence;
  try {
    sequence = await getJson('/api/sequence');
  } catch (e) {
    message(`the server cannot be reached: ${e.reason || e}`, true);
    return;
  }
  app.sequence = sequence;
  $('sequence-label').textContent = `${sequence.label} — ${sequence.frames.length} frame${sequence.frames.length === 1 ? '' : 's'}`;
  document.title = `nebview — ${sequence.label}`;
  const side = Math.round(Math.cbrt(sequence.cells));
  const sizes = [...new Set([64, 96, 128, 192, 256, 320, 384, 512, side])].sort((a, b) => a - b);
  $('resolution').innerHTML = sizes.map((n) => `<option value="${n}">${n}³</option>`).join('');
  $('resolution').value = String(side);

  // Channels and groups come from the first frame that can be read.
  let reference = null;
  for (let i = 0; i < sequence.frames.length && i < 32 && !reference; ++i) {
    try {
      const f = await facts(i);
      if (f.summary.loaded) reference = f.summary;
    } catch (e) {
      // try the next frame
    }
  }
  if (!reference) {
    message('no frame of the first ones can be read', true);
  } else {
    app.channels = readableChannels(reference);
    app.groups = reference.groups.map((g, index) => ({ index, name: g.name, positions: g.has_positions }))
      .filter((g) => g.positions);
  }
  fillChannelSelects(app.channels);
  fillGroups(app.groups);

  try {
    app.view = new VolumeView($('volume-canvas'));
  } catch (e) {
    const overlay = $('overlay');
    overlay.hidden = false;
    overlay.textContent = `No 3D view: ${e.message}. Slices, facts and statistics still work.`;
  }
  app.camera.attach($('volume-canvas'), (interacting) => requestRender(interacting));
  app.store = new FrameStore({
    budgetBytes: Number($('budget').value) * 1048576,
    onChange: () => {
      if (app.timeline) app.timeline.draw();
      $('memory-label').textContent = `${Math.round(app.store.heldBytes() / 1048576)} MB held`;
    },
    onSettled: () => { if (app.timeline) app.timeline.readAhead(); },
  });
  app.stats = new StatsPlot(sequence.frames.length);
  app.slices = new SlicePanel(updateSlicePlane, () => ($('up-axis').value === 'z' ? 2 : 1));
  applySettings();
  app.store.setRequest(volumeRequest());
  app.timeline = new Timeline(sequence.frames, app.store, showFrame, () => requestRender(false));
  app.timeline.seek(0);
}

start();
