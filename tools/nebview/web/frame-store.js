// The frames the page holds: each frame's volume (and its particle groups) fetched once,
// kept under a memory bound, read ahead of the play head. A frame that fails keeps its
// reason and is not asked for again (until the request changes).
import { getParticles, getVolume } from './api.js';

export class FrameStore {
  constructor({ budgetBytes = 1 << 30, parallel = 2, onChange = () => {}, onSettled = () => {} } = {}) {
    this.budgetBytes = budgetBytes;
    this.parallel = parallel;
    this.onChange = onChange;
    this.onSettled = onSettled;  // after each frame read or failed: time to read further ahead
    this.request = null;
    this.entries = new Map();  // index -> {state: 'loading'|'ready'|'failed', promise, data, reason, bytes}
    this.queue = [];
    this.running = 0;
    this.generation = 0;
  }

  // What every frame is fetched with: {channels, cells, bits, groups: [stored group
  // index], maxParticles}. A change drops everything held.
  setRequest(request) {
    const key = JSON.stringify(request);
    if (this.request && JSON.stringify(this.request) === key) return;
    this.request = request;
    this.generation += 1;
    this.entries.clear();
    this.queue = [];
    this.onChange();
  }

  state(index) {
    const e = this.entries.get(index);
    return e ? e.state : 'none';
  }
  entry(index) { return this.entries.get(index); }
  heldBytes() {
    let total = 0;
    for (const e of this.entries.values()) total += e.bytes || 0;
    return total;
  }

  // The frame's entry once loaded or failed; asked for first when not held.
  get(index) {
    let e = this.entries.get(index);
    if (!e) {
      e = this.start(index, true);
    }
    return e.promise;
  }

  start(index, urgent) {
    const generation = this.generation;
    const e = { state: 'loading', bytes: 0 };
    e.promise = new Promise((resolve) => { e.resolve = resolve; });
    this.entries.set(index, e);
    const job = () => this.load(index, e, generation);
    if (urgent) this.queue.unshift(job);
    else this.queue.push(job);
    this.pump();
    this.onChange();
    return e;
  }

  pump() {
    while (this.running < this.parallel && this.queue.length) {
      const job = this.queue.shift();
      this.running += 1;
      job().finally(() => {
        this.running -= 1;
        this.pump();
      });
    }
  }

  async load(index, e, generation) {
    const request = this.request;
    try {
      const volume = await getVolume(index, request);
      const particles = [];
      for (const g of request.groups) {
        try {
          particles.push({ group: g, data: await getParticles(index, g, request.maxParticles) });
        } catch (error) {
          particles.push({ group: g, data: null, reason: error.reason || String(error) });
        }
      }
      e.data = { volume, particles };
      e.bytes = volume.bytes + particles.reduce((s, p) => s + (p.data ? p.data.bytes : 0), 0);
      e.state = 'ready';
    } catch (error) {
      e.state = 'failed';
      e.reason = error.reason || String(error);
      e.status = error.status || 0;
    }
    e.resolve(e);
    if (generation === this.generation) {
      this.onChange();
      this.onSettled();
    }
  }

  // Reads ahead of `current` in play order over `order` (frame indices of the range, in
  // play order), within the budget; frames outside the window ahead are given up first,
  // farthest first.
  readAhead(current, order) {
    const at = Math.max(0, order.indexOf(current));
    const ahead = [];
    for (let k = 0; k < order.length; ++k) ahead.push(order[(at + k) % order.length]);
    const rank = new Map(ahead.map((index, k) => [index, k]));
    // Give up held frames outside the range, then those farthest ahead, while over the budget.
    const held = [...this.entries.entries()].filter(([i, e]) => e.state !== 'loading' && i !== current);
    held.sort((a, b) => (rank.has(b[0]) ? rank.get(b[0]) : 1e9) - (rank.has(a[0]) ? rank.get(a[0]) : 1e9));
    let total = this.heldBytes();
    for (const [i, e] of held) {
      if (total <= this.budgetBytes) break;
      total -= e.bytes || 0;
      this.entries.delete(i);
    }
    // The size of a frame, from one held, tells how many more fit.
    let perFrame = 0;
    for (const e of this.entries.values()) perFrame = Math.max(perFrame, e.bytes || 0);
    const loading = [...this.entries.values()].filter((e) => e.state === 'loading').length;
    let room = perFrame ? Math.floor((this.budgetBytes - total) / perFrame) - loading : 1;
    for (const index of ahead) {
      if (room <= 0 || this.queue.length >= this.parallel * 2) break;
      if (this.entries.has(index)) continue;
      this.start(index, false);
      room -= 1;
    }
    this.onChange();
  }
}
