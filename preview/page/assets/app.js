// The look-dev page: controls generated from the shader's declaration, an
// orbiting camera, and renders that come coarse first, then in full.
'use strict';

const tab = Array.from(crypto.getRandomValues(new Uint8Array(8)), b => b.toString(16).padStart(2, '0')).join('');

// The session's token comes in the address umbrex-render printed; the tab
// keeps it (a reload still works), takes it out of the address bar, and
// hands it back with every request: the server answers nothing else.
const token = (() => {
  const given = new URLSearchParams(location.search).get('token');
  if (given) {
    sessionStorage.setItem('umbrex-token', given);
    history.replaceState(null, '', location.pathname);
  }
  return sessionStorage.getItem('umbrex-token') || '';
})();

// Every request of the page goes through here. `signal` aborts it.
function api(path, signal) {
  return fetch(path, {headers: {'X-Umbrex-Token': token}, cache: 'no-store', signal});
}

const $ = id => document.getElementById(id);
let look = null;        // what the server starts with
let values = {};        // parameter name -> array of numbers
let checkers = {};      // parameter name -> cell size, when attached to a checker
let camera = null;      // {eye, target, fov}
let generation = 0;     // the newest change; older answers are dropped
let requests = null;    // aborts the newest change's requests

// Numbers as the command line reads them: floats that parse back exactly.
const float = v => String(Number(Math.fround(v).toPrecision(9)));
const exact = v => String(v);
const same = (a, b) => a.length === b.length && a.every((v, i) => Math.fround(v) === Math.fround(b[i]));

function valueText(p, v) {
  switch (p.type) {
    case 'boolean': return v[0] ? 'on' : 'off';
    case 'integer': return String(Math.trunc(v[0]));
    default: return v.map(float).join(',');
  }
}

// The look as --set, --attach, --camera and the image options.
function lookArguments() {
  const args = [];
  for (const p of look.parameters) {
    if (!same(values[p.name], p.default)) args.push(['--set', p.name + '=' + valueText(p, values[p.name])]);
  }
  for (const [name, cell] of Object.entries(checkers)) args.push(['--attach', name + '=checker:' + float(cell)]);
  for (const spec of look.attachments.filter(a => !a.includes('=checker:'))) args.push(['--attach', spec]);
  const c = camera;
  args.push(['--camera', c.eye.map(exact).join(',') + ':' + c.target.map(exact).join(',') + ':' + float(c.fov)]);
  args.push(['--width', $('width').value], ['--height', $('height').value]);
  if (Number($('aa').value) !== 1) args.push(['--aa', $('aa').value]);
  return args;
}

// A render request of the look. `stream` is the tab's for the view; a save
// has its own, so that it does not cancel the view's frame (the server
// renders one frame per stream at a time, the newest).
function query(level, format, stream = tab) {
  const q = new URLSearchParams({tab: stream, level, format});
  for (const [option, value] of lookArguments()) {
    const key = {'--set': 'set', '--attach': 'attach', '--camera': 'camera', '--width': 'width',
                 '--height': 'height', '--aa': 'aa'}[option];
    if (!(option === '--attach' && !value.includes('=checker:'))) q.append(key, value);
  }
  return '/render?' + q.toString();
}

const shellWord = w => /^[A-Za-z0-9_@%+=:,./-]+$/.test(w) ? w : "'" + w.replace(/'/g, "'\\''") + "'";

function command() {
  const words = look.command.slice();
  for (const [option, value] of lookArguments()) words.push(option, value);
  words.push('--output', 'umbrex.png');
  return words.map(shellWord).join(' ');
}

function mode() {
  const on = name => values[name] && values[name][0] !== 0;
  return on('bent_normals') ? 'bent normals' : on('environment') ? 'environment' : 'occlusion';
}

async function fetchImage(level, mine, signal) {
  const started = performance.now();
  const response = await api(query(level, 'png'), signal);
  if (mine !== generation) return false;
  if (response.status === 409) return false;
  if (!response.ok) {
    $('error').textContent = await response.text();
    $('view').dataset.state = 'error';
    return false;
  }
  const blob = await response.blob();
  if (mine !== generation) return false;
  const old = $('view').src;
  $('view').src = URL.createObjectURL(blob);
  if (old.startsWith('blob:')) URL.revokeObjectURL(old);
  const rays = Number(response.headers.get('X-Umbrex-Probe-Rays'));
  const seconds = Number(response.headers.get('X-Umbrex-Seconds'));
  $('error').textContent = '';
  $('progress').textContent = level === 'coarse' ? 'coarse' : 'final';
  $('samples').textContent = response.headers.get('X-Umbrex-Samples') + ' samples';
  $('rate').textContent = seconds > 0 ? (rays / seconds / 1e6).toFixed(2) + ' M probe rays/s' : '';
  $('time').textContent = ((performance.now() - started) / 1000).toFixed(2) + ' s';
  $('view').dataset.state = level;
  return true;
}

// Any change: a coarse image at once, then the full one; a newer change
// aborts both (the server stops the older frame within milliseconds).
async function changed() {
  const mine = ++generation;
  if (requests) requests.abort();
  requests = new AbortController();
  const signal = requests.signal;
  $('mode').textContent = mode();
  $('command').value = command();
  $('view').dataset.state = 'rendering';
  try {
    if (await fetchImage('coarse', mine, signal) && mine === generation) await fetchImage('final', mine, signal);
  } catch (error) {
    if (mine === generation && error.name !== 'AbortError') $('error').textContent = String(error);
  }
}

// The look's final image as a PNG or EXR file, rendered for the save.
async function saved(format) {
  const response = await api(query('final', format, tab + 'save'));
  if (!response.ok) throw new Error(await response.text());
  return response.blob();
}

async function save(format) {
  try {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(await saved(format));
    link.download = 'umbrex.' + format;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  } catch (error) {
    $('error').textContent = error.message;
  }
}

function numberInput(value, step, onInput) {
  const input = document.createElement('input');
  input.type = 'number';
  input.step = step;
  input.value = value;
  input.addEventListener('change', () => { if (input.value !== '') onInput(Number(input.value)); });
  return input;
}

const toHex = v => Math.round(Math.min(1, Math.max(0, v)) * 255).toString(16).padStart(2, '0');

function sliderRange(p) {
  if (p.name === 'spread') return [0, 180];
  const d = Math.abs(p.default[0]);
  return [Math.min(0, p.default[0]), Math.max(1, d * 4)];
}

// One control per parameter, by its type, with a reset; colours and scalars
// may be attached to a checker.
function buildParameter(p) {
  const box = document.createElement('div');
  box.className = 'parameter';
  box.dataset.name = p.name;
  const head = document.createElement('div');
  head.className = 'row';
  head.innerHTML = '<span class="name"></span><span class="type"></span>';
  head.querySelector('.name').textContent = p.name;
  head.querySelector('.type').textContent = p.type;
  const reset = document.createElement('button');
  reset.className = 'reset';
  reset.type = 'button';
  reset.title = 'back to the default';
  reset.textContent = '\u21ba';
  head.appendChild(reset);
  box.appendChild(head);
  const row = document.createElement('div');
  row.className = 'row';
  box.appendChild(row);

  const set = v => { values[p.name] = v; fill(); changed(); };
  const fill = () => {
    row.replaceChildren();
    const v = values[p.name];
    if (p.type === 'boolean') {
      const box = document.createElement('input');
      box.type = 'checkbox';
      box.checked = v[0] !== 0;
      box.addEventListener('change', () => set([box.checked ? 1 : 0]));
      row.appendChild(box);
    } else if (p.type === 'integer') {
      row.appendChild(numberInput(v[0], 1, n => set([Math.trunc(n)])));
    } else if (p.type === 'scalar') {
      const [low, high] = sliderRange(p);
      const slider = document.createElement('input');
      slider.type = 'range';
      slider.min = low;
      slider.max = Math.max(high, v[0]);
      slider.step = (high - low) / 360;
      slider.value = v[0];
      slider.addEventListener('input', () => { values[p.name] = [Number(slider.value)]; number.value = slider.value; changed(); });
      const number = numberInput(v[0], 'any', n => set([n]));
      row.append(slider, number);
    } else if (p.type === 'color') {
      const picker = document.createElement('input');
      picker.type = 'color';
      picker.value = '#' + v.slice(0, 3).map(toHex).join('');
      picker.addEventListener('input', () => {
        const hex = picker.value;
        set([1, 3, 5].map(i => parseInt(hex.substr(i, 2), 16) / 255).concat([values[p.name][3]]));
      });
      row.appendChild(picker);
      ['r', 'g', 'b', 'a'].forEach((c, i) => {
        const input = numberInput(v[i], 'any', n => { const w = values[p.name].slice(); w[i] = n; set(w); });
        input.title = c;
        row.appendChild(input);
      });
    } else {
      ['x', 'y', 'z'].forEach((c, i) => {
        const input = numberInput(v[i], 'any', n => { const w = values[p.name].slice(); w[i] = n; set(w); });
        input.title = c;
        row.appendChild(input);
      });
    }
  };
  reset.addEventListener('click', () => { values[p.name] = p.default.slice(); delete checkers[p.name]; build(); changed(); });
  fill();

  if (p.type === 'color' || p.type === 'scalar') {
    const attach = document.createElement('div');
    attach.className = 'row';
    const toggle = document.createElement('input');
    toggle.type = 'checkbox';
    toggle.checked = p.name in checkers;
    const cell = numberInput(checkers[p.name] || 0.5, 'any', n => { if (n > 0) { checkers[p.name] = n; if (toggle.checked) changed(); } });
    toggle.addEventListener('change', () => {
      if (toggle.checked) checkers[p.name] = Number(cell.value) > 0 ? Number(cell.value) : 0.5;
      else delete checkers[p.name];
      changed();
    });
    const label = document.createElement('label');
    label.append(toggle, ' checker, cells ');
    attach.append(label, cell);
    box.appendChild(attach);
  }
  return box;
}

function build() {
  $('parameters').replaceChildren(...look.parameters.map(buildParameter));
}

function startingCamera() {
  return {eye: look.camera.eye.slice(), target: look.camera.target.slice(), fov: look.camera.fov[0]};
}

// Orbit about the target around the scene's up axis, and dolly toward it.
function orbit(dx, dy) {
  const up = 'XYZ'.indexOf(look.up[1]), sign = look.up[0] === '-' ? -1 : 1;
  const [a, b] = [[1, 2], [2, 0], [0, 1]][up];
  const o = camera.eye.map((e, i) => e - camera.target[i]);
  const r = Math.hypot(...o);
  let azimuth = Math.atan2(o[b], o[a]) - dx * 0.01;
  let elevation = Math.asin(Math.max(-1, Math.min(1, sign * o[up] / r))) + dy * 0.01;
  elevation = Math.max(-1.55, Math.min(1.55, elevation));
  const e = [0, 0, 0];
  e[a] = r * Math.cos(elevation) * Math.cos(azimuth);
  e[b] = r * Math.cos(elevation) * Math.sin(azimuth);
  e[up] = sign * r * Math.sin(elevation);
  camera.eye = e.map((v, i) => v + camera.target[i]);
}

function dolly(amount) {
  const scale = Math.exp(amount * 0.001);
  camera.eye = camera.eye.map((e, i) => camera.target[i] + (e - camera.target[i]) * scale);
}

async function start() {
  const answer = await api('/look');
  if (!answer.ok) {
    $('error').textContent = await answer.text();
    return;
  }
  look = await answer.json();
  $('shader-name').textContent = look.shader;
  for (const p of look.parameters) values[p.name] = p.value.slice();
  for (const spec of look.attachments) {
    const m = /^([^=]+)=checker:(.+)$/.exec(spec);
    if (m) checkers[m[1]] = Number(m[2]);
  }
  camera = startingCamera();
  $('width').value = look.width;
  $('height').value = look.height;
  $('aa').value = look.aa;
  for (const id of ['width', 'height', 'aa']) $(id).addEventListener('change', changed);
  build();

  const view = $('view');
  let dragging = null;
  view.addEventListener('pointerdown', e => { dragging = [e.clientX, e.clientY]; view.setPointerCapture(e.pointerId); });
  view.addEventListener('pointermove', e => {
    if (!dragging) return;
    orbit(e.clientX - dragging[0], e.clientY - dragging[1]);
    dragging = [e.clientX, e.clientY];
    changed();
  });
  view.addEventListener('pointerup', () => { dragging = null; });
  view.addEventListener('wheel', e => { e.preventDefault(); dolly(e.deltaY); changed(); }, {passive: false});
  $('reset-camera').addEventListener('click', () => { camera = startingCamera(); changed(); });
  $('reset-all').addEventListener('click', () => {
    for (const p of look.parameters) values[p.name] = p.default.slice();
    checkers = {};
    camera = startingCamera();
    build();
    changed();
  });
  $('save-png').addEventListener('click', () => save('png'));
  $('save-exr').addEventListener('click', () => save('exr'));
  $('copy-command').addEventListener('click', async () => {
    $('command').select();
    try { await navigator.clipboard.writeText($('command').value); } catch (error) { document.execCommand('copy'); }
  });
  changed();
}

start();
