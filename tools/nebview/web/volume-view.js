// The 3D view: a ray-marched volume (WebGL 2, 3D textures) of a density channel with fire
// (a temperature or fuel channel) as emission and the colour channels as the smoke's
// colour, over a scene of lines (the grid's box, axes, the slice plane) and the particle
// groups as points. The scene is drawn first into a texture with depth; the volume pass
// marches each pixel's ray through the box up to the scene's depth there and lays the
// smoke over it, so particles inside the smoke are hidden by what is in front of them.
import { identity, invert, multiply, transformPoint, sub, normalize, length, unitCubeToWorld } from './mat4.js';

const SCENE_VERTEX = `#version 300 es
in vec3 position;
in vec3 colour;
uniform mat4 viewProjection;
uniform float pointSize;
out vec3 vColour;
void main() {
  vColour = colour;
  gl_Position = viewProjection * vec4(position, 1.0);
  gl_PointSize = pointSize;
}`;

const SCENE_FRAGMENT = `#version 300 es
precision highp float;
in vec3 vColour;
uniform int roundPoints;
out vec4 outColour;
void main() {
  if (roundPoints == 1 && length(gl_PointCoord - vec2(0.5)) > 0.5) discard;
  outColour = vec4(vColour, 1.0);
}`;

const VOLUME_VERTEX = `#version 300 es
out vec2 ndc;
void main() {
  // One triangle covering the screen.
  vec2 p = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
  ndc = p * 2.0 - 1.0;
  gl_Position = vec4(ndc, 0.0, 1.0);
}`;

const VOLUME_FRAGMENT = `#version 300 es
precision highp float;
precision highp sampler3D;
in vec2 ndc;
uniform mat4 inverseViewProjection;
uniform vec3 eye;
uniform mat4 worldToUnit;
uniform vec3 textureScale;
uniform sampler2D sceneColour;
uniform sampler2D sceneDepth;
uniform int hasVolume;
uniform sampler3D density;
uniform vec2 densityDecode;   // value = x + q * y
uniform vec2 densityMap;      // opacity = clamp((value - x) * y)
uniform float extinction;     // per world length at full opacity
uniform int hasFire;
uniform sampler3D fire;
uniform vec2 fireDecode;
uniform vec2 fireMap;
uniform float emission;       // per world length at full fire
uniform int hasColour;
uniform sampler3D colourR;
uniform sampler3D colourG;
uniform sampler3D colourB;
uniform vec3 colourDecodeA;   // per component: value = a + q * b
uniform vec3 colourDecodeB;
uniform float stepLength;
uniform int shadowSteps;
uniform vec3 lightUnit;       // towards the light, unit-cube space, one shadow step long
uniform float shadowStepWorld;
out vec4 outColour;

float hash(vec2 p) { return fract(sin(dot(p, vec2(12.9898, 78.233))) * 43758.5453); }

vec3 fireColour(float t) {
  // black body-ish: dark red, orange, yellow, white
  vec3 c = mix(vec3(0.0), vec3(0.9, 0.12, 0.02), smoothstep(0.0, 0.25, t));
  c = mix(c, vec3(1.0, 0.5, 0.05), smoothstep(0.25, 0.55, t));
  c = mix(c, vec3(1.0, 0.9, 0.35), smoothstep(0.55, 0.85, t));
  return mix(c, vec3(1.0, 1.0, 0.95), smoothstep(0.85, 1.0, t));
}

float opacityAt(vec3 u) {
  float q = texture(density, u * textureScale).r;
  return clamp((densityDecode.x + q * densityDecode.y - densityMap.x) * densityMap.y, 0.0, 1.0);
}

void main() {
  vec2 uv = ndc * 0.5 + 0.5;
  vec3 scene = texture(sceneColour, uv).rgb;
  if (hasVolume == 0) { outColour = vec4(scene, 1.0); return; }
  vec4 farPoint = inverseViewProjection * vec4(ndc, 1.0, 1.0);
  vec3 dir = normalize(farPoint.xyz / farPoint.w - eye);
  float depth = texture(sceneDepth, uv).r;
  float tScene = 1e30;
  if (depth < 1.0) {
    vec4 p = inverseViewProjection * vec4(ndc, depth * 2.0 - 1.0, 1.0);
    tScene = dot(p.xyz / p.w - eye, dir);
  }
  // The ray in unit-cube space, with the same parameter t (world length along dir).
  vec3 o = (worldToUnit * vec4(eye, 1.0)).xyz;
  vec3 d = (worldToUnit * vec4(dir, 0.0)).xyz;
  vec3 inv = 1.0 / d;
  vec3 t0 = -o * inv, t1 = (vec3(1.0) - o) * inv;
  vec3 tNear = min(t0, t1), tFar = max(t0, t1);
  float tMin = max(max(max(tNear.x, tNear.y), tNear.z), 0.0);
  float tMax = min(min(min(tFar.x, tFar.y), tFar.z), tScene);
  vec3 light = vec3(0.0);
  float through = 1.0;
  float t = tMin + stepLength * hash(gl_FragCoord.xy);
  for (int i = 0; i < 4096; ++i) {
    if (t >= tMax || through < 0.004) break;
    vec3 u = o + d * t;
    vec3 tc = u * textureScale;
    float a = opacityAt(u);
    if (a > 0.0) {
      float alpha = 1.0 - exp(-a * extinction * stepLength);
      vec3 albedo = vec3(0.86);
      if (hasColour == 1) {
        albedo = clamp(colourDecodeA + vec3(texture(colourR, tc).r, texture(colourG, tc).r, texture(colourB, tc).r) *
                       colourDecodeB, 0.0, 1.0);
      }
      float lit = 1.0;
      if (shadowSteps > 0) {
        float optical = 0.0;
        vec3 s = u;
        for (int k = 0; k < 16; ++k) {
          if (k >= shadowSteps) break;
          s += lightUnit;
          if (any(lessThan(s, vec3(0.0))) || any(greaterThan(s, vec3(1.0)))) break;
          optical += opacityAt(s);
        }
        lit = exp(-optical * extinction * shadowStepWorld);
      }
      light += through * alpha * albedo * (0.45 + 0.75 * lit);
      through *= 1.0 - alpha;
    }
    if (hasFire == 1) {
      float f = clamp((fireDecode.x + texture(fire, tc).r * fireDecode.y - fireMap.x) * fireMap.y, 0.0, 1.0);
      light += through * fireColour(f) * f * emission * stepLength;
    }
    t += stepLength;
  }
  outColour = vec4(light + through * scene, 1.0);
}`;

function compile(gl, type, source) {
  const s = gl.createShader(type);
  gl.shaderSource(s, source);
  gl.compileShader(s);
  if (!gl.getShaderParameter(s, gl.COMPILE_STATUS)) throw new Error(gl.getShaderInfoLog(s));
  return s;
}

function program(gl, vertex, fragment) {
  const p = gl.createProgram();
  gl.attachShader(p, compile(gl, gl.VERTEX_SHADER, vertex));
  gl.attachShader(p, compile(gl, gl.FRAGMENT_SHADER, fragment));
  gl.linkProgram(p);
  if (!gl.getProgramParameter(p, gl.LINK_STATUS)) throw new Error(gl.getProgramInfoLog(p));
  const uniforms = {};
  const n = gl.getProgramParameter(p, gl.ACTIVE_UNIFORMS);
  for (let i = 0; i < n; ++i) {
    const name = gl.getActiveUniform(p, i).name;
    uniforms[name] = gl.getUniformLocation(p, name);
  }
  return { program: p, uniforms };
}

// A colour ramp for particles, t in [0, 1]: blue, cyan, yellow, red.
export function rampColour(t) {
  const stops = [[0.2, 0.35, 1.0], [0.2, 0.9, 1.0], [1.0, 0.95, 0.3], [1.0, 0.25, 0.15]];
  const x = Math.max(0, Math.min(1, t)) * (stops.length - 1);
  const i = Math.min(stops.length - 2, Math.floor(x)), f = x - i;
  return stops[i].map((c, k) => c + (stops[i + 1][k] - c) * f);
}

export class VolumeView {
  constructor(canvas) {
    this.canvas = canvas;
    const gl = canvas.getContext('webgl2', { antialias: false, preserveDrawingBuffer: true });
    if (!gl) throw new Error('this browser has no WebGL 2');
    this.gl = gl;
    this.scene = program(gl, SCENE_VERTEX, SCENE_FRAGMENT);
    this.volume = program(gl, VOLUME_VERTEX, VOLUME_FRAGMENT);
    this.emptyVao = gl.createVertexArray();
    this.textures = {};
    for (const name of ['density', 'fire', 'colourR', 'colourG', 'colourB']) this.textures[name] = this.makeTexture3D();
    this.lines = this.makeBuffer();
    this.points = [];
    this.frame = null;         // what is uploaded: {transform, size, fullSize, factor, decode}
    this.target = { width: 0, height: 0 };
    this.settings = {
      densityRange: [0, 1], opacity: 1, fireRange: [0, 1], fireIntensity: 1, quality: 1, shadows: true,
      showBox: true, slicePlane: null, pointSize: 2, upAxis: 'y',
    };
  }

  makeTexture3D() {
    const gl = this.gl;
    const t = gl.createTexture();
    gl.bindTexture(gl.TEXTURE_3D, t);
    gl.texParameteri(gl.TEXTURE_3D, gl.TEXTURE_MIN_FILTER, gl.LINEAR);
    gl.texParameteri(gl.TEXTURE_3D, gl.TEXTURE_MAG_FILTER, gl.LINEAR);
    for (const w of [gl.TEXTURE_WRAP_S, gl.TEXTURE_WRAP_T, gl.TEXTURE_WRAP_R]) gl.texParameteri(gl.TEXTURE_3D, w, gl.CLAMP_TO_EDGE);
    return t;
  }

  makeBuffer() {
    const gl = this.gl;
    const vao = gl.createVertexArray();
    const positions = gl.createBuffer(), colours = gl.createBuffer();
    gl.bindVertexArray(vao);
    const bind = (buffer, name) => {
      const at = gl.getAttribLocation(this.scene.program, name);
      gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
      gl.enableVertexAttribArray(at);
      gl.vertexAttribPointer(at, 3, gl.FLOAT, false, 0, 0);
    };
    bind(positions, 'position');
    bind(colours, 'colour');
    gl.bindVertexArray(null);
    return { vao, positions, colours, count: 0 };
  }

  fill(buffer, positions, colours) {
    const gl = this.gl;
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer.positions);
    gl.bufferData(gl.ARRAY_BUFFER, positions, gl.STATIC_DRAW);
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer.colours);
    gl.bufferData(gl.ARRAY_BUFFER, colours, gl.STATIC_DRAW);
    buffer.count = positions.length / 3;
  }

  upload(texture, channel, size) {
    const gl = this.gl;
    gl.bindTexture(gl.TEXTURE_3D, texture);
    gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
    if (channel.bits === 16) {
      const f = new Float32Array(channel.data.length);
      for (let i = 0; i < f.length; ++i) f[i] = channel.data[i] / 65535;
      gl.texImage3D(gl.TEXTURE_3D, 0, gl.R16F, size[0], size[1], size[2], 0, gl.RED, gl.FLOAT, f);
    } else {
      gl.texImage3D(gl.TEXTURE_3D, 0, gl.R8, size[0], size[1], size[2], 0, gl.RED, gl.UNSIGNED_BYTE, channel.data);
    }
  }

  // A frame's volume: `parts` names the channels of `volume` to show ({density, fire,
  // colour: [r, g, b]}, each a channel entry of the answer or null). Null clears the view.
  setVolume(volume, parts, transform) {
    if (!volume || !parts.density) {
      this.frame = null;
      return;
    }
    const extent = volume.size.map((n) => n * volume.factor);
    const unitToWorld = unitCubeToWorld(transform, volume.fullSize);
    if (!unitToWorld) {
      this.frame = null;
      return;
    }
    const decode = (c) => [c.min, c.max - c.min];
    this.upload(this.textures.density, parts.density, volume.size);
    if (parts.fire) this.upload(this.textures.fire, parts.fire, volume.size);
    if (parts.colour) parts.colour.forEach((c, i) => this.upload(this.textures[['colourR', 'colourG', 'colourB'][i]], c, volume.size));
    this.frame = {
      unitToWorld,
      textureScale: volume.fullSize.map((n, i) => n / extent[i]),
      cells: Math.max(...volume.size),
      density: decode(parts.density),
      fire: parts.fire ? decode(parts.fire) : null,
      colour: parts.colour ? parts.colour.map(decode) : null,
    };
  }

  // The box of the grid in world space (for the camera): {center, radius, unitToWorld}.
  static boxOf(transform, fullSize) {
    const m = unitCubeToWorld(transform, fullSize);
    if (!m) return null;
    const corners = [];
    for (let i = 0; i < 8; ++i) corners.push(transformPoint(m, [i & 1, (i >> 1) & 1, (i >> 2) & 1]));
    const center = [0, 1, 2].map((k) => corners.reduce((s, c) => s + c[k], 0) / 8);
    const radius = Math.max(...corners.map((c) => length(sub(c, center))));
    return { center, radius, unitToWorld: m, corners };
  }

  // The lines of the scene: the grid's box, axes at its first corner and the slice plane.
  setBox(box) {
    const positions = [], colours = [];
    const line = (a, b, c) => {
      positions.push(...a, ...b);
      colours.push(...c, ...c);
    };
    if (box) {
      // The axes first: where they run along an edge of the box, they win the depth test.
      const p = (x, y, z) => transformPoint(box.unitToWorld, [x, y, z]);
      const o = p(0, 0, 0), size = box.radius * 0.35;
      line(o, [o[0] + size, o[1], o[2]], [1, 0.25, 0.25]);
      line(o, [o[0], o[1] + size, o[2]], [0.3, 1, 0.3]);
      line(o, [o[0], o[1], o[2] + size], [0.35, 0.55, 1]);
      const grey = [0.45, 0.48, 0.55];
      for (let a = 0; a < 2; ++a)
        for (let b = 0; b < 2; ++b) {
          line(p(0, a, b), p(1, a, b), grey);
          line(p(a, 0, b), p(a, 1, b), grey);
          line(p(a, b, 0), p(a, b, 1), grey);
        }
      const plane = this.settings.slicePlane;
      if (plane) {
        const yellow = [1, 0.85, 0.2];
        const at = plane.position;
        const q = (s, t) => {
          const u = [0, 0, 0];
          u[plane.axis] = at;
          u[(plane.axis + 1) % 3] = s;
          u[(plane.axis + 2) % 3] = t;
          return p(...u);
        };
        line(q(0, 0), q(1, 0), yellow);
        line(q(1, 0), q(1, 1), yellow);
        line(q(1, 1), q(0, 1), yellow);
        line(q(0, 1), q(0, 0), yellow);
      }
    }
    this.fill(this.lines, new Float32Array(positions), new Float32Array(colours));
  }

  // Particle groups: [{positions, colours}] (Float32Array, 3 per particle).
  setPoints(groups) {
    while (this.points.length < groups.length) this.points.push(this.makeBuffer());
    groups.forEach((g, i) => this.fill(this.points[i], g.positions, g.colours));
    for (let i = groups.length; i < this.points.length; ++i) this.points[i].count = 0;
  }

  resizeTarget(width, height) {
    const gl = this.gl;
    if (this.target.width === width && this.target.height === height) return;
    if (this.target.fbo) {
      gl.deleteFramebuffer(this.target.fbo);
      gl.deleteTexture(this.target.colour);
      gl.deleteTexture(this.target.depth);
    }
    const colour = gl.createTexture();
    gl.bindTexture(gl.TEXTURE_2D, colour);
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, width, height, 0, gl.RGBA, gl.UNSIGNED_BYTE, null);
    const depth = gl.createTexture();
    gl.bindTexture(gl.TEXTURE_2D, depth);
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.DEPTH_COMPONENT24, width, height, 0, gl.DEPTH_COMPONENT, gl.UNSIGNED_INT, null);
    for (const t of [colour, depth]) {
      gl.bindTexture(gl.TEXTURE_2D, t);
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.CLAMP_TO_EDGE);
      gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.CLAMP_TO_EDGE);
    }
    const fbo = gl.createFramebuffer();
    gl.bindFramebuffer(gl.FRAMEBUFFER, fbo);
    gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, colour, 0);
    gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.DEPTH_ATTACHMENT, gl.TEXTURE_2D, depth, 0);
    gl.bindFramebuffer(gl.FRAMEBUFFER, null);
    this.target = { width, height, fbo, colour, depth };
  }

  // Draws everything with the camera's matrices; `interacting` halves the ray steps.
  render(camera, interacting) {
    const gl = this.gl, s = this.settings;
    const width = Math.max(1, Math.round(this.canvas.clientWidth * (window.devicePixelRatio || 1)));
    const height = Math.max(1, Math.round(this.canvas.clientHeight * (window.devicePixelRatio || 1)));
    if (this.canvas.width !== width || this.canvas.height !== height) {
      this.canvas.width = width;
      this.canvas.height = height;
    }
    this.resizeTarget(width, height);
    const m = camera.matrices(width / height);

    gl.bindFramebuffer(gl.FRAMEBUFFER, this.target.fbo);
    gl.viewport(0, 0, width, height);
    gl.clearColor(0.055, 0.063, 0.078, 1);
    gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
    gl.enable(gl.DEPTH_TEST);
    gl.useProgram(this.scene.program);
    gl.uniformMatrix4fv(this.scene.uniforms.viewProjection, false, m.viewProjection);
    if (s.showBox && this.lines.count) {
      gl.uniform1i(this.scene.uniforms.roundPoints, 0);
      gl.bindVertexArray(this.lines.vao);
      gl.drawArrays(gl.LINES, 0, this.lines.count);
    }
    gl.uniform1i(this.scene.uniforms.roundPoints, 1);
    gl.uniform1f(this.scene.uniforms.pointSize, s.pointSize * (window.devicePixelRatio || 1));
    for (const p of this.points) {
      if (!p.count) continue;
      gl.bindVertexArray(p.vao);
      gl.drawArrays(gl.POINTS, 0, p.count);
    }
    gl.disable(gl.DEPTH_TEST);

    gl.bindFramebuffer(gl.FRAMEBUFFER, null);
    gl.viewport(0, 0, width, height);
    const v = this.volume, u = v.uniforms;
    gl.useProgram(v.program);
    gl.uniformMatrix4fv(u.inverseViewProjection, false, invert(m.viewProjection));
    gl.uniform3fv(u.eye, m.eye);
    const bindTexture = (unit, target, texture, name) => {
      gl.activeTexture(gl.TEXTURE0 + unit);
      gl.bindTexture(target, texture);
      gl.uniform1i(u[name], unit);
    };
    bindTexture(0, gl.TEXTURE_2D, this.target.colour, 'sceneColour');
    bindTexture(1, gl.TEXTURE_2D, this.target.depth, 'sceneDepth');
    const f = this.frame;
    gl.uniform1i(u.hasVolume, f ? 1 : 0);
    if (f) {
      const worldToUnit = invert(f.unitToWorld) || identity();
      gl.uniformMatrix4fv(u.worldToUnit, false, worldToUnit);
      gl.uniform3fv(u.textureScale, f.textureScale);
      bindTexture(2, gl.TEXTURE_3D, this.textures.density, 'density');
      bindTexture(3, gl.TEXTURE_3D, this.textures.fire, 'fire');
      bindTexture(4, gl.TEXTURE_3D, this.textures.colourR, 'colourR');
      bindTexture(5, gl.TEXTURE_3D, this.textures.colourG, 'colourG');
      bindTexture(6, gl.TEXTURE_3D, this.textures.colourB, 'colourB');
      const map = (range) => [range[0], range[1] > range[0] ? 1 / (range[1] - range[0]) : 1e30];
      gl.uniform2fv(u.densityDecode, f.density);
      gl.uniform2fv(u.densityMap, map(s.densityRange));
      // Lengths in units of the box's diagonal: the look does not depend on the world's scale.
      const diagonal = length(sub(transformPoint(f.unitToWorld, [1, 1, 1]), transformPoint(f.unitToWorld, [0, 0, 0])));
      gl.uniform1f(u.extinction, (s.opacity * 160) / diagonal);
      gl.uniform1i(u.hasFire, f.fire ? 1 : 0);
      if (f.fire) {
        gl.uniform2fv(u.fireDecode, f.fire);
        gl.uniform2fv(u.fireMap, map(s.fireRange));
        gl.uniform1f(u.emission, (s.fireIntensity * 48) / diagonal);
      }
      gl.uniform1i(u.hasColour, f.colour ? 1 : 0);
      if (f.colour) {
        gl.uniform3fv(u.colourDecodeA, f.colour.map((c) => c[0]));
        gl.uniform3fv(u.colourDecodeB, f.colour.map((c) => c[1]));
      }
      const steps = Math.min(4000, Math.max(32, f.cells * 1.5 * s.quality * (interacting ? 0.5 : 1)));
      gl.uniform1f(u.stepLength, diagonal / steps);
      const shadowSteps = s.shadows && !interacting ? 8 : 0;
      gl.uniform1i(u.shadowSteps, shadowSteps);
      const shadowWorld = diagonal / 24;
      // Towards the light: above (the upright axis) and a little to the side, in world space.
      const lightWorld = normalize(s.upAxis === 'z' ? [0.35, -0.25, 1] : [0.35, 1, 0.25]);
      const a = transformPoint(worldToUnit, [0, 0, 0]);
      const b = transformPoint(worldToUnit, lightWorld.map((c) => c * shadowWorld));
      gl.uniform3fv(u.lightUnit, sub(b, a));
      gl.uniform1f(u.shadowStepWorld, shadowWorld);
    }
    gl.bindVertexArray(this.emptyVao);
    gl.drawArrays(gl.TRIANGLES, 0, 3);
    gl.bindVertexArray(null);
  }
}
