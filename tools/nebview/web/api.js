// The server's answers (see tools/nebview/WireFormat.h for the binary layouts; all
// little-endian, every block 4-byte aligned, so arrays are viewed in place).

export class RequestError extends Error {
  constructor(status, reason) {
    super(reason);
    this.status = status;
    this.reason = reason;
  }
}

async function fetchChecked(url, signal) {
  let response;
  try {
    response = await fetch(url, { signal, cache: 'no-store' });
  } catch (e) {
    if (e.name === 'AbortError') throw e;
    throw new RequestError(0, 'the server cannot be reached');
  }
  if (response.ok) return response;
  let reason = `HTTP ${response.status}`;
  try {
    const body = await response.json();
    if (body && body.error) reason = body.error;
  } catch (e) {
    // not JSON: keep the status
  }
  throw new RequestError(response.status, reason);
}

export async function getJson(url, signal) {
  return (await fetchChecked(url, signal)).json();
}

class Reader {
  constructor(buffer) {
    this.buffer = buffer;
    this.view = new DataView(buffer);
    this.at = 0;
  }
  u32() { const v = this.view.getUint32(this.at, true); this.at += 4; return v; }
  i32() { const v = this.view.getInt32(this.at, true); this.at += 4; return v; }
  f32() { const v = this.view.getFloat32(this.at, true); this.at += 4; return v; }
  u64() { const low = this.u32(); return low + this.u32() * 4294967296; }
  text(bytes) {
    const t = new TextDecoder().decode(new Uint8Array(this.buffer, this.at, bytes));
    this.at += (bytes + 3) & ~3;
    return t;
  }
  expect(magic) {
    if (this.buffer.byteLength < 8 || this.u32() !== magic || this.u32() !== 1) throw new RequestError(0, 'an answer the page cannot read');
  }
}

// {size, fullSize, factor, transform, channels: [{channel, status ('ok', 'absent', 'failed'), reason,
// bits, min, max, data (Uint8Array or Uint16Array, x fastest)}], bytes}
export async function getVolume(frame, request, signal) {
  const url = `/api/frame/${frame}/volume?channels=${request.channels.join(',')}&cells=${request.cells}&bits=${request.bits}`;
  const buffer = await (await fetchChecked(url, signal)).arrayBuffer();
  const r = new Reader(buffer);
  r.expect(0x4C4F564E);
  const count = r.u32();
  const size = [r.u32(), r.u32(), r.u32()];
  const fullSize = [r.u32(), r.u32(), r.u32()];
  const factor = r.u32();
  const transform = [];
  for (let i = 0; i < 12; ++i) transform.push(r.f32());
  const channels = [];
  for (let i = 0; i < count; ++i) {
    const channel = r.i32();
    const status = ['ok', 'absent', 'failed'][r.u32()] || 'failed';
    const bits = r.u32();
    const min = r.f32(), max = r.f32();
    const reasonBytes = r.u32(), dataBytes = r.u32();
    const reason = r.text(reasonBytes);
    let data = null;
    if (status === 'ok') {
      data = bits === 16 ? new Uint16Array(buffer, r.at, dataBytes / 2) : new Uint8Array(buffer, r.at, dataBytes);
    }
    r.at += (dataBytes + 3) & ~3;
    channels.push({ channel, status, reason, bits, min, max, data });
  }
  return { size, fullSize, factor, transform, channels, bytes: buffer.byteLength };
}

// {channel, axis, index, width, height, fullSize, min, max, values (Float32Array)}
export async function getSlice(frame, channel, axis, index, signal) {
  const url = `/api/frame/${frame}/slice?channel=${channel}&axis=${'xyz'[axis]}&index=${index}`;
  const buffer = await (await fetchChecked(url, signal)).arrayBuffer();
  const r = new Reader(buffer);
  r.expect(0x434C534E);
  const out = { channel: r.i32(), axis: r.u32(), index: r.u32(), width: r.u32(), height: r.u32() };
  out.fullSize = [r.u32(), r.u32(), r.u32()];
  out.min = r.f32();
  out.max = r.f32();
  out.values = new Float32Array(buffer, r.at, out.width * out.height);
  return out;
}

// {name, count, sent, stride, positions, velocities|null (Float32Array, 3 per particle),
// ids|null (Uint32Array, low and high word per particle), bytes}
export async function getParticles(frame, group, max, signal) {
  const buffer = await (await fetchChecked(`/api/frame/${frame}/particles?group=${group}&max=${max}`, signal)).arrayBuffer();
  const r = new Reader(buffer);
  r.expect(0x5452504E);
  const count = r.u64();
  const sent = r.u32(), stride = r.u32(), flags = r.u32();
  const name = r.text(r.u32());
  const positions = new Float32Array(buffer, r.at, sent * 3);
  r.at += sent * 12;
  let velocities = null, ids = null;
  if (flags & 1) {
    velocities = new Float32Array(buffer, r.at, sent * 3);
    r.at += sent * 12;
  }
  if (flags & 2) ids = new Uint32Array(buffer, r.at, sent * 2);
  return { name, count, sent, stride, positions, velocities, ids, bytes: buffer.byteLength };
}
