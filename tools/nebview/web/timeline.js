// The timeline: play, pause, step, scrub, a frame range and a strip with one mark per
// frame (held, being read, failed). Playback shows the next frame of the range when its
// time has come and it is held; it waits for one being read, and passes a failed one (the
// page shows it as a gap with its reason) at the same pace.
const STATE_COLOURS = { none: '#262c37', loading: '#3d5a80', ready: '#3fa66b', failed: '#e5484d' };

export class Timeline {
  constructor(frames, store, onShow, onPause) {
    this.frames = frames;  // [{index, number, name}]
    this.store = store;
    this.onShow = onShow;  // (index) => void, shows the frame
    this.onPause = onPause;
    this.current = 0;
    this.rangeStart = 0;
    this.rangeEnd = frames.length - 1;
    this.playing = false;
    this.fps = 24;
    this.shownTimes = [];
    this.due = 0;
    const $ = (id) => document.getElementById(id);
    this.el = {
      play: $('play'), scrub: $('scrub'), number: $('frame-number'), start: $('range-start'), end: $('range-end'),
      fps: $('fps'), rate: $('play-rate'), strip: $('strip'),
    };
    this.el.scrub.max = String(frames.length - 1);
    this.el.start.value = frames[0].number;
    this.el.end.value = frames[frames.length - 1].number;
    $('first').onclick = () => this.seek(this.rangeStart);
    $('last').onclick = () => this.seek(this.rangeEnd);
    $('previous').onclick = () => this.step(-1);
    $('next').onclick = () => this.step(1);
    this.el.play.onclick = () => this.toggle();
    this.el.scrub.oninput = () => this.seek(Number(this.el.scrub.value));
    this.el.fps.onchange = () => { this.fps = Number(this.el.fps.value); };
    const rangeChanged = () => {
      this.rangeStart = this.indexOfNumber(Number(this.el.start.value), 0);
      this.rangeEnd = this.indexOfNumber(Number(this.el.end.value), frames.length - 1);
      if (this.rangeEnd < this.rangeStart) [this.rangeStart, this.rangeEnd] = [this.rangeEnd, this.rangeStart];
      this.el.start.value = frames[this.rangeStart].number;
      this.el.end.value = frames[this.rangeEnd].number;
      if (this.current < this.rangeStart || this.current > this.rangeEnd) this.seek(this.rangeStart);
      this.readAhead();
      this.draw();
    };
    this.el.start.onchange = rangeChanged;
    this.el.end.onchange = rangeChanged;
    this.el.strip.addEventListener('click', (e) => this.seek(this.indexAt(e)));
    this.el.strip.addEventListener('mousemove', (e) => {
      const i = this.indexAt(e);
      const f = frames[i], entry = store.entry(i);
      this.el.strip.title = `frame ${f.number} (${f.name}): ` +
        (entry ? (entry.state === 'failed' ? `failed: ${entry.reason}` : entry.state === 'ready' ? 'held' : 'being read') : 'not read yet');
    });
    document.addEventListener('keydown', (e) => {
      if (e.target.tagName === 'INPUT' || e.target.tagName === 'SELECT') return;
      if (e.key === ' ') { this.toggle(); e.preventDefault(); }
      else if (e.key === 'ArrowLeft') this.step(-1);
      else if (e.key === 'ArrowRight') this.step(1);
      else if (e.key === 'Home') this.seek(this.rangeStart);
      else if (e.key === 'End') this.seek(this.rangeEnd);
    });
    window.addEventListener('resize', () => this.draw());
    requestAnimationFrame((t) => this.tick(t));
  }

  indexOfNumber(number, fallback) {
    let best = fallback, distance = Infinity;
    this.frames.forEach((f, i) => {
      const d = Math.abs(f.number - number);
      if (d < distance) { best = i; distance = d; }
    });
    return best;
  }

  indexAt(event) {
    const r = this.el.strip.getBoundingClientRect();
    const i = Math.floor(((event.clientX - r.left) / r.width) * this.frames.length);
    return Math.max(0, Math.min(this.frames.length - 1, i));
  }

  // Frame indices of the range in play order from its start.
  order() {
    const out = [];
    for (let i = this.rangeStart; i <= this.rangeEnd; ++i) out.push(i);
    return out;
  }

  next(index, direction) {
    if (direction > 0) return index >= this.rangeEnd || index < this.rangeStart ? this.rangeStart : index + 1;
    return index <= this.rangeStart || index > this.rangeEnd ? this.rangeEnd : index - 1;
  }

  seek(index) {
    this.current = index;
    this.el.scrub.value = String(index);
    const f = this.frames[index];
    this.el.number.textContent = `frame ${f.number}`;
    this.onShow(index);
    this.readAhead();
    this.draw();
  }

  step(direction) {
    this.pause();
    this.seek(this.next(this.current, direction));
  }

  readAhead() { this.store.readAhead(this.current, this.order()); }

  toggle() { if (this.playing) this.pause(); else this.play(); }
  play() {
    this.playing = true;
    this.due = 0;
    this.shownTimes = [];
    this.el.play.textContent = 'pause';
  }
  pause() {
    const was = this.playing;
    this.playing = false;
    this.el.play.textContent = 'play';
    this.el.rate.textContent = '';
    if (was) this.onPause();
  }

  tick(now) {
    requestAnimationFrame((t) => this.tick(t));
    if (!this.playing || now < this.due) return;
    const candidate = this.next(this.current, 1);
    const state = this.store.state(candidate);
    if (state === 'none') this.store.get(candidate);
    if (state !== 'ready' && state !== 'failed') return;  // wait for it
    this.due = (this.due && now - this.due < 250 ? this.due : now) + 1000 / this.fps;
    this.seek(candidate);
    this.shownTimes.push(now);
    while (this.shownTimes.length && now - this.shownTimes[0] > 2000) this.shownTimes.shift();
    if (this.shownTimes.length > 1) {
      const span = (this.shownTimes[this.shownTimes.length - 1] - this.shownTimes[0]) / 1000;
      this.rate = (this.shownTimes.length - 1) / span;
      this.el.rate.textContent = `${this.rate.toFixed(1)} fps`;
    }
  }

  draw() {
    const canvas = this.el.strip;
    const width = Math.max(1, canvas.clientWidth);
    if (canvas.width !== width) canvas.width = width;
    const g = canvas.getContext('2d');
    const n = this.frames.length, w = width / n;
    g.clearRect(0, 0, width, canvas.height);
    for (let i = 0; i < n; ++i) {
      g.fillStyle = STATE_COLOURS[this.store.state(i)];
      g.globalAlpha = i < this.rangeStart || i > this.rangeEnd ? 0.35 : 1;
      g.fillRect(i * w, 2, Math.max(1, w - (w > 4 ? 1 : 0)), canvas.height - 4);
    }
    g.globalAlpha = 1;
    g.fillStyle = '#ffffff';
    g.fillRect(this.current * w, 0, Math.max(2, w), 2);
    g.fillRect(this.current * w, canvas.height - 2, Math.max(2, w), 2);
  }
}
