// An orbit camera around a target: drag to orbit, right-drag (or shift-drag) to pan, wheel
// to zoom, double-click to reset. Upright with the world's Y axis up (the cache's
// convention) or, switched, with Z up.
import { add, cross, lookAt, normalize, perspective, scale, multiply } from './mat4.js';

export class OrbitCamera {
  constructor() {
    this.up = 'y';
    this.fov = (40 * Math.PI) / 180;
    this.bounds = { center: [0, 0, 0], radius: 1 };
    this.reset();
  }

  reset() {
    this.target = this.bounds.center.slice();
    this.yaw = 0.6;
    this.pitch = 0.35;
    this.distance = (this.bounds.radius / Math.sin(this.fov / 2)) * 1.05;
  }

  // Frames the sphere around the box; `resetView` also turns the camera back.
  fit(center, radius, resetView) {
    this.bounds = { center, radius: radius > 0 ? radius : 1 };
    if (resetView) this.reset();
  }

  upVector() { return this.up === 'z' ? [0, 0, 1] : [0, 1, 0]; }

  // The view direction's horizontal and vertical parts in the chosen upright frame.
  eye() {
    const c = Math.cos(this.pitch), s = Math.sin(this.pitch);
    const h = [c * Math.sin(this.yaw), c * Math.cos(this.yaw)];
    const offset = this.up === 'z' ? [h[0], -h[1], s] : [h[0], s, h[1]];
    return add(this.target, scale(offset, this.distance));
  }

  matrices(aspect) {
    const eye = this.eye();
    const view = lookAt(eye, this.target, this.upVector());
    const near = Math.max(this.distance - this.bounds.radius * 2, this.distance * 0.01);
    const far = this.distance + this.bounds.radius * 4;
    const projection = perspective(this.fov, aspect, near, far);
    return { eye, view, projection, viewProjection: multiply(projection, view) };
  }

  orbit(dx, dy) {
    this.yaw -= dx * 0.008;
    this.pitch = Math.max(-1.55, Math.min(1.55, this.pitch + dy * 0.008));
  }

  pan(dx, dy, heightPixels) {
    const eye = this.eye();
    const forward = normalize([this.target[0] - eye[0], this.target[1] - eye[1], this.target[2] - eye[2]]);
    const right = normalize(cross(forward, this.upVector()));
    const up = cross(right, forward);
    const perPixel = (2 * this.distance * Math.tan(this.fov / 2)) / heightPixels;
    this.target = add(this.target, add(scale(right, -dx * perPixel), scale(up, dy * perPixel)));
  }

  zoom(factor) {
    this.distance = Math.max(this.bounds.radius * 0.05, Math.min(this.bounds.radius * 50, this.distance * factor));
  }

  // Pointer and wheel control of the canvas; `changed(interacting)` after every change.
  attach(canvas, changed) {
    let drag = null;
    canvas.addEventListener('pointerdown', (e) => {
      drag = { x: e.clientX, y: e.clientY, pan: e.button === 2 || e.shiftKey };
      canvas.setPointerCapture(e.pointerId);
    });
    canvas.addEventListener('pointermove', (e) => {
      if (!drag) return;
      const dx = e.clientX - drag.x, dy = e.clientY - drag.y;
      drag.x = e.clientX;
      drag.y = e.clientY;
      if (drag.pan) this.pan(dx, dy, canvas.clientHeight || 1);
      else this.orbit(dx, dy);
      changed(true);
    });
    const end = () => {
      if (drag) changed(false);
      drag = null;
    };
    canvas.addEventListener('pointerup', end);
    canvas.addEventListener('pointercancel', end);
    canvas.addEventListener('contextmenu', (e) => e.preventDefault());
    canvas.addEventListener('wheel', (e) => {
      e.preventDefault();
      this.zoom(Math.exp(e.deltaY * 0.0015));
      changed(false);
    }, { passive: false });
    canvas.addEventListener('dblclick', () => {
      this.reset();
      changed(false);
    });
  }
}
