// Slices: one layer of a grid channel across x, y or z at full resolution, as the library
// gives it, drawn with a grey ramp over the slice's range, the up axis (y, or z when
// switched) pointing up where it lies in the layer; hovering a cell shows its coordinates
// and its exact value.
import { getSlice } from './api.js';

// A float32 value as the shortest text that reads back as the same float32.
export function floatText(v) {
  if (!Number.isFinite(v)) return String(v);
  for (let p = 1; p <= 9; ++p) {
    const t = v.toPrecision(p);
    if (Math.fround(Number(t)) === v) return String(Number(t));
  }
  return String(v);
}

export class SlicePanel {
  constructor(onPlane, upAxis) {
    this.onPlane = onPlane;  // ({axis, position} | null) => void, for the 3D view's outline
    this.upAxis = upAxis;    // () => 1 (y) or 2 (z)
    const $ = (id) => document.getElementById(id);
    this.el = {
      section: $('slice-section'), channel: $('slice-channel'), index: $('slice-index'), indexLabel: $('slice-index-label'),
      canvas: $('slice-canvas'), readout: $('slice-readout'), note: $('slice-note'),
    };
    this.axis = 2;
    this.frame = null;
    this.size = null;
    this.slice = null;
    this.timer = 0;
    this.abort = null;
    for (const r of document.querySelectorAll('input[name=slice-axis]')) {
      r.onchange = () => { this.axis = Number(r.value); this.fitIndex(true); this.request(); };
    }
    this.el.channel.onchange = () => this.request();
    this.el.index.oninput = () => {
      this.el.indexLabel.textContent = this.el.index.value;
      this.announcePlane();
      clearTimeout(this.timer);
      this.timer = setTimeout(() => this.request(), 120);
    };
    this.el.section.addEventListener('toggle', () => { this.announcePlane(); if (this.open()) this.request(); });
    this.el.canvas.addEventListener('mousemove', (e) => this.hover(e));
    this.el.canvas.addEventListener('mouseleave', () => { this.el.readout.innerHTML = '&nbsp;'; });
  }

  open() { return this.el.section.open; }

  // The channels a frame has (numbers and names) and its grid size.
  setFrame(index, channels, size) {
    this.frame = index;
    const previous = this.el.channel.value;
    const options = channels.map((c) => `<option value="${c.channel}">${c.channel} ${c.name}</option>`).join('');
    if (this.el.channel.dataset.options !== options) {
      this.el.channel.innerHTML = options;
      this.el.channel.dataset.options = options;
      if (channels.some((c) => String(c.channel) === previous)) this.el.channel.value = previous;
      else if (channels.some((c) => c.channel === 2)) this.el.channel.value = '2';
    }
    const changed = !this.size || size.some((n, i) => n !== this.size[i]);
    this.size = size;
    this.fitIndex(changed);
    if (this.open()) this.request();
  }

  // A frame whose slices cannot be read.
  setUnreadable(index, reason) {
    this.frame = null;
    if (this.abort) this.abort.abort();
    this.slice = null;
    const g = this.el.canvas.getContext('2d');
    g.clearRect(0, 0, this.el.canvas.width, this.el.canvas.height);
    this.el.note.textContent = `frame ${index} cannot be read: ${reason}`;
    this.el.note.dataset.state = 'failed';
  }

  fitIndex(middle) {
    if (!this.size) return;
    const n = this.size[this.axis];
    this.el.index.max = String(Math.max(0, n - 1));
    if (middle || Number(this.el.index.value) > n - 1) this.el.index.value = String(Math.floor(n / 2));
    this.el.indexLabel.textContent = this.el.index.value;
    this.announcePlane();
  }

  announcePlane() {
    if (!this.open() || !this.size) { this.onPlane(null); return; }
    this.onPlane({ axis: this.axis, position: (Number(this.el.index.value) + 0.5) / this.size[this.axis] });
  }

  async request() {
    if (this.frame === null || !this.open() || this.el.channel.value === '') return;
    if (this.abort) this.abort.abort();
    const abort = (this.abort = new AbortController());
    const channel = Number(this.el.channel.value), index = Number(this.el.index.value);
    this.el.note.textContent = 'reading…';
    try {
      const s = await getSlice(this.frame, channel, this.axis, index, abort.signal);
      if (abort.signal.aborted) return;
      this.slice = s;
      this.draw();
      this.el.note.textContent = `${'xyz'[s.axis]} = ${s.index}: ${s.width} × ${s.height} cells, ` +
        `values ${floatText(s.min)} to ${floatText(s.max)}`;
      this.el.note.dataset.state = 'ready';
    } catch (e) {
      if (e.name === 'AbortError') return;
      this.slice = null;
      this.el.note.textContent = `no slice: ${e.reason || e}`;
      this.el.note.dataset.state = 'failed';
    }
  }

  // The grid axes drawn across and up for the slice's axis; the layout of the answer:
  // its first named axis runs fastest (axis z: x by y, axis y: x by z, axis x: y by z).
  layout(s) {
    const inPlane = [0, 1, 2].filter((k) => k !== s.axis);
    const up = this.upAxis();
    const vertical = inPlane.includes(up) ? up : inPlane[1];
    const across = inPlane.find((k) => k !== vertical);
    return { across, vertical, fast: inPlane[0], slow: inPlane[1] };
  }

  draw() {
    const s = this.slice, c = this.el.canvas, l = this.layout(s);
    const size = s.fullSize;
    c.width = size[l.across];
    c.height = size[l.vertical];
    const g = c.getContext('2d');
    const image = g.createImageData(c.width, c.height);
    const span = s.max > s.min ? 255 / (s.max - s.min) : 0;
    const cell = [0, 0, 0];
    cell[s.axis] = s.index;
    for (let py = 0; py < c.height; ++py) {
      cell[l.vertical] = c.height - 1 - py;
      for (let px = 0; px < c.width; ++px) {
        cell[l.across] = px;
        const v = s.values[cell[l.slow] * size[l.fast] + cell[l.fast]];
        const q = Number.isFinite(v) ? (v - s.min) * span : 0;
        const o = (py * c.width + px) * 4;
        image.data[o] = image.data[o + 1] = image.data[o + 2] = q;
        image.data[o + 3] = 255;
      }
    }
    g.putImageData(image, 0, 0);
    // As large as the panel allows, at most 260 pixels high, square cells.
    const room = c.parentElement.clientWidth || 280;
    const scale = Math.min(room / c.width, 260 / c.height);
    c.style.width = `${Math.floor(c.width * scale)}px`;
    c.style.height = `${Math.floor(c.height * scale)}px`;
  }

  // The cell under the pointer: grid coordinates and value.
  cellAt(clientX, clientY) {
    const s = this.slice;
    if (!s) return null;
    const l = this.layout(s), c = this.el.canvas;
    const r = c.getBoundingClientRect();
    const px = Math.floor(((clientX - r.left) / r.width) * c.width);
    const py = Math.floor(((clientY - r.top) / r.height) * c.height);
    if (px < 0 || py < 0 || px >= c.width || py >= c.height) return null;
    const cell = [0, 0, 0];
    cell[s.axis] = s.index;
    cell[l.across] = px;
    cell[l.vertical] = c.height - 1 - py;
    return { cell, value: s.values[cell[l.slow] * s.fullSize[l.fast] + cell[l.fast]] };
  }

  hover(e) {
    const hit = this.cellAt(e.clientX, e.clientY);
    if (!hit) return;
    this.el.readout.textContent = `cell (${hit.cell.join(', ')}) = ${floatText(hit.value)}`;
    this.el.readout.dataset.value = floatText(hit.value);
  }
}
