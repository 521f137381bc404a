// The camera about the scene: orbit, dolly and pan about a pivot (the point
// under the image's centre, or the scene's centre where that ray meets
// nothing), steps that scale with the distance to it, and framing.
'use strict';

const add = (a, b) => a.map((v, i) => v + b[i]);
const sub = (a, b) => a.map((v, i) => v - b[i]);
const scale = (a, s) => a.map(v => v * s);
const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
const cross = (a, b) => [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]];
const norm = a => { const l = Math.hypot(...a); return l > 0 ? scale(a, 1 / l) : a; };

// The camera's own axes, as the renderer makes them from the scene's up.
function cameraAxes(camera) {
  const forward = norm(sub(camera.target, camera.eye));
  let right = norm(cross(forward, page.look.up));
  // Looking straight up or down: the scene's x as the up turns it.
  if (Math.hypot(...right) === 0) right = page.look.up[0] !== 0 ? [0, -page.look.up[0], 0] : [1, 0, 0];
  return {forward, right, up: cross(right, forward)};
}

function sceneCentre() {
  return scale(add(page.look.bounds.low, page.look.bounds.high), 0.5);
}

// `v` turned by `angle` about the unit `axis` (Rodrigues).
function turn(v, axis, angle) {
  const c = Math.cos(angle), s = Math.sin(angle);
  return add(add(scale(v, c), scale(cross(axis, v), s)), scale(axis, dot(axis, v) * (1 - c)));
}

// Where the camera ray through (x, y) of the image meets the scene, or null.
async function pick(camera, x, y) {
  const state = page.state;
  const q = new URLSearchParams({x, y, width: state.width, height: state.height,
    camera: camera.eye.map(exact).join(',') + ':' + camera.target.map(exact).join(',') + ':' + float(camera.fov[0])});
  const answer = await api('/pick?' + q.toString());
  if (!answer.ok) return null;
  return (await answer.json()).hit;
}

// The pivot after the camera moved: the point under the centre, or the
// scene's centre.
let pivotRequest = 0;
async function findPivot() {
  const mine = ++pivotRequest;
  const state = page.state;
  const hit = await pick(state.camera, state.width / 2, state.height / 2).catch(() => null);
  if (mine === pivotRequest) page.pivot = hit || sceneCentre();
}

// The whole camera turned about the pivot: about the scene's up by dx, about
// the camera's right by dy (radians), never over the pole.
function orbit(dx, dy) {
  const camera = page.state.camera, pivot = page.pivot || sceneCentre();
  const up = page.look.up;
  const axes = cameraAxes(camera);
  const height = Math.acos(Math.max(-1, Math.min(1, dot(axes.forward, up))));  // 0 looking straight up
  const limit = 0.02;
  const pitch = Math.max(height - Math.PI + limit, Math.min(height - limit, -dy));
  const move = v => turn(turn(sub(v, pivot), axes.right, pitch), up, -dx);
  camera.eye = add(pivot, move(camera.eye));
  camera.target = add(pivot, move(camera.target));
}

// Toward the pivot (steps below 0) or away, by a share of the distance.
function dolly(steps) {
  const camera = page.state.camera, pivot = page.pivot || sceneCentre();
  const factor = Math.exp(steps * 0.1);
  const shift = scale(sub(camera.eye, pivot), factor - 1);
  camera.eye = add(camera.eye, shift);
  camera.target = add(camera.target, shift);
}

// The camera and the pivot moved across the view so that the pivot's depth
// follows the pointer: dx, dy in pixels of an image `shownHeight` high.
function pan(dx, dy, shownHeight) {
  const camera = page.state.camera, pivot = page.pivot || sceneCentre();
  const axes = cameraAxes(camera);
  const depth = Math.max(Math.abs(dot(sub(pivot, camera.eye), axes.forward)), 1e-9);
  const perPixel = 2 * depth * Math.tan(camera.fov[0] * Math.PI / 360) / shownHeight;
  const shift = add(scale(axes.right, -dx * perPixel), scale(axes.up, dy * perPixel));
  camera.eye = add(camera.eye, shift);
  camera.target = add(camera.target, shift);
  page.pivot = add(pivot, shift);
}

// The scene's bounds in view from where the camera looks now.
function frameAll() {
  const camera = page.state.camera;
  const {low, high} = page.look.bounds;
  const centre = sceneCentre();
  const radius = Math.max(Math.hypot(...sub(high, low)) / 2, 1e-6);
  const vertical = camera.fov[0] * Math.PI / 180;
  const horizontal = 2 * Math.atan(Math.tan(vertical / 2) * page.state.width / page.state.height);
  const distance = radius / Math.sin(Math.min(vertical, horizontal) / 2) * 1.02;
  const forward = cameraAxes(camera).forward;
  camera.eye = sub(centre, scale(forward, distance));
  camera.target = centre.slice();
  page.pivot = centre;
}

// Aims the camera at a point of the image, which becomes the pivot.
async function aimAt(x, y) {
  const hit = await pick(page.state.camera, x, y);
  if (!hit) return false;
  page.state.camera.target = hit;
  page.pivot = hit;
  return true;
}
