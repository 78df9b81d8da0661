// Facts of the frame (what nebinfo --json says) and the statistics over the sequence,
// computed by the server in the background and plotted as they come.
import { getJson } from './api.js';

const escape = (t) => String(t).replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' })[c]);

function bytesText(n) {
  if (n === null || n === undefined) return '–';
  const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB'];
  let u = 0;
  while (n >= 1024 && u < units.length - 1) { n /= 1024; ++u; }
  return `${u ? n.toFixed(n < 10 ? 2 : 1) : n} ${units[u]}`;
}

const number = (v) => (typeof v === 'number' ? Number(v.toPrecision(6)) : v);

export function renderFacts(element, facts) {
  const s = facts.summary;
  if (!s.loaded) {
    element.innerHTML = `<p class="note">${escape(s.file)}</p><p>Cannot be read: ${escape(s.error || 'unknown reason')}</p>`;
    return;
  }
  const t = s.transform || [];
  const rows = [
    ['file', escape(s.file)],
    ['format', `${escape(s.format)} version ${s.version}`],
    ['frame', s.frame === undefined || s.frame === null ? '–' : s.frame],
    ['grid', `${s.grid.join(' × ')} (${s.grid.reduce((a, b) => a * b, 1).toLocaleString('en')} cells)`],
    ['voxel size', s.voxel_size ? s.voxel_size.map(number).join(', ') : '–'],
    ['transform', t.length === 12 ? `[${t.slice(0, 3).map(number).join(' ')}] [${t.slice(3, 6).map(number).join(' ')}] ` +
      `[${t.slice(6, 9).map(number).join(' ')}] offset [${t.slice(9).map(number).join(' ')}]` : '–'],
  ];
  let html = '<table class="facts">' + rows.map(([k, v]) => `<tr><th>${k}</th><td>${v}</td></tr>`).join('') + '</table>';
  html += '<table class="facts"><tr><th>channel</th><th>#</th><th>stored</th><th>storage</th></tr>';
  for (const c of s.channels) {
    const how = c.storage === 'derived' ? `derived from ${c.derived_from === 4 ? '4, 5, 6' : c.derived_from}` : escape(c.storage);
    html += `<tr><td>${escape(c.name)}</td><td>${c.channel}</td><td>${bytesText(c.stored_bytes)}</td><td>${how}</td></tr>`;
  }
  html += '</table><table class="facts"><tr><th>group</th><th>particles</th><th>slots</th></tr>';
  for (const g of s.groups) {
    html += `<tr><td>${escape(g.name)}</td><td>${g.particles.toLocaleString('en')}</td><td>${g.channels.map((c) => escape(c.name || c.slot)).join(', ')}</td></tr>`;
  }
  element.innerHTML = html + '</table>';
}

// The series plotted, from a frame's summary with statistics; null where it has no value.
const SERIES = [
  { label: 'smoke total', colour: '#d8dde6', value: (s) => total(s, 2) },
  { label: 'temperature max', colour: '#ff8a2a', value: (s) => stat(s, 1, 'max') },
  { label: 'fuel total', colour: '#6fb3ff', value: (s) => total(s, 10) },
  { label: 'particles', colour: '#c792ea', value: (s) => (s.loaded ? s.groups.reduce((a, g) => a + g.particles, 0) : null) },
];

function channelStats(s, channel) {
  if (!s.loaded) return null;
  const c = s.channels.find((x) => x.channel === channel);
  return c && c.stats ? c.stats : null;
}
function stat(s, channel, key) {
  const st = channelStats(s, channel);
  return st ? st[key] : null;
}
function total(s, channel) {
  const st = channelStats(s, channel);
  return st ? st.mean * (st.count - st.nonfinite) : null;
}

export class StatsPlot {
  constructor(frameCount) {
    const $ = (id) => document.getElementById(id);
    this.el = { canvas: $('stats-canvas'), legend: $('stats-legend'), progress: $('stats-progress'), bar: $('stats-bar') };
    this.entries = new Array(frameCount).fill(null);
    this.done = 0;
    this.current = 0;
    this.started = false;
    window.addEventListener('resize', () => this.draw());
  }

  // Polls the server until every frame is summarised.
  async start() {
    if (this.started) return;
    this.started = true;
    for (;;) {
      let answer;
      try {
        answer = await getJson(`/api/stats?from=${this.done}`);
      } catch (e) {
        this.el.progress.textContent = `statistics unavailable: ${e.reason || e}`;
        return;
      }
      for (const f of answer.frames) this.entries[f.index] = f.summary;
      this.done = answer.done;
      this.el.bar.max = answer.total;
      this.el.bar.value = answer.done;
      this.el.progress.textContent = answer.done < answer.total
        ? `computing: ${answer.done} of ${answer.total} frames` : `${answer.total} frames`;
      this.draw();
      if (answer.done >= answer.total) return;
      await new Promise((r) => setTimeout(r, 700));
    }
  }

  setCurrent(index) {
    this.current = index;
    this.draw();
  }

  draw() {
    const c = this.el.canvas;
    const width = Math.max(50, c.clientWidth), height = Math.max(50, c.clientHeight);
    if (c.width !== width) c.width = width;
    if (c.height !== height) c.height = height;
    const g = c.getContext('2d');
    g.clearRect(0, 0, width, height);
    const n = this.entries.length;
    const x = (i) => (n > 1 ? (i / (n - 1)) * (width - 8) + 4 : width / 2);
    const legend = [];
    for (const series of SERIES) {
      const values = this.entries.map((s) => (s ? series.value(s) : null));
      const present = values.filter((v) => v !== null && Number.isFinite(v));
      if (!present.length) continue;
      const max = Math.max(...present), min = Math.min(0, ...present);
      const y = (v) => height - 6 - ((v - min) / (max - min || 1)) * (height - 12);
      g.strokeStyle = series.colour;
      g.lineWidth = 1.5;
      g.beginPath();
      let pen = false;
      values.forEach((v, i) => {
        if (v === null || !Number.isFinite(v)) { pen = false; return; }
        if (pen) g.lineTo(x(i), y(v));
        else g.moveTo(x(i), y(v));
        pen = true;
      });
      g.stroke();
      legend.push({ colour: series.colour, text: ` ${series.label} (max ${Number(max.toPrecision(4))})` });
    }
    // Frames that could not be read, and the current frame.
    g.fillStyle = '#e5484d';
    this.entries.forEach((s, i) => { if (s && !s.loaded) g.fillRect(x(i) - 1, 0, 3, height); });
    g.fillStyle = 'rgba(255,255,255,0.6)';
    g.fillRect(x(this.current) - 0.5, 0, 1, height);
    // Colours through the style object: the page's policy allows no inline style text.
    this.el.legend.replaceChildren(...legend.map((l) => {
      const row = document.createElement('div'), mark = document.createElement('span');
      mark.textContent = '■';
      mark.style.color = l.colour;
      row.append(mark, l.text);
      return row;
    }));
  }
}
