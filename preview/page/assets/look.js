// The look: the parameters' values, the checkers, the camera and the image
// settings; and the words that say it, as a command and as a request.
'use strict';

// The page's shared state.
const page = {
  look: null,        // what the server starts with (/look)
  state: null,       // the look as the controls have it now
  good: null,        // the newest look the server accepted: what is copied and saved
  pivot: null,       // the point orbits, dollies and pans are about
  passSizes: {},     // samples per pass, chosen once per image size
  source: null,      // the control of the newest change, where its error is shown
};

// Numbers as the command line reads them: floats that parse back exactly.
const float = v => String(Number(Math.fround(v).toPrecision(9)));
const exact = v => String(v);
const same = (a, b) => a.length === b.length && a.every((v, i) => Math.fround(v) === Math.fround(b[i]));

// sRGB and linear, as the PNG stores colours.
const srgbEncode = v => !(v > 0) ? 0 : v <= 0.0031308 ? v * 12.92 : 1.055 * Math.pow(v, 1 / 2.4) - 0.055;
const srgbDecode = v => v <= 0.04045 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4);

function parameter(name) {
  return page.look.parameters.find(p => p.name === name);
}

function startingState() {
  const look = page.look;
  const values = {}, checkers = {};
  for (const p of look.parameters) values[p.name] = p.value.slice();
  for (const attachment of look.attachments) {
    const m = /^([^=]+)=checker:(.+)$/.exec(attachment);
    if (m) checkers[m[1]] = Number(m[2]);
  }
  return {values, checkers, camera: clone(look.camera), width: look.width, height: look.height, aa: look.aa,
          seed: look.seed};
}

function valueText(p, v) {
  switch (p.type) {
    case 'boolean': return v[0] ? 'on' : 'off';
    case 'integer': return String(Math.trunc(v[0]));
    default: return v.map(float).join(',');
  }
}

function samplesOf(state) {
  return state.values.samples ? state.values.samples[0] : 0;
}

// Samples per pass for the state's image size: the command line's, or the
// size the page chose for it.
function passSamples(state) {
  return page.look.pass_samples || page.passSizes[[state.width, state.height, state.aa].join('x')] || 0;
}

// The look as --set, --attach, --camera and the image options, with the
// samples `samples` where given (a stopped image's).
function lookArguments(state, samples) {
  const args = [];
  for (const p of page.look.parameters) {
    const v = p.name === 'samples' && samples !== undefined ? [samples] : state.values[p.name];
    if (!same(v, p.default)) args.push(['--set', p.name + '=' + valueText(p, v)]);
  }
  for (const [name, cell] of Object.entries(state.checkers)) args.push(['--attach', name + '=checker:' + float(cell)]);
  for (const attachment of page.look.attachments.filter(a => !a.includes('=checker:'))) args.push(['--attach', attachment]);
  const c = state.camera;
  args.push(['--camera', c.eye.map(exact).join(',') + ':' + c.target.map(exact).join(',') + ':' + float(c.fov[0])]);
  args.push(['--width', String(state.width)], ['--height', String(state.height)]);
  if (Number(state.aa) !== 1) args.push(['--aa', String(state.aa)]);
  if (Number(state.seed) !== 0) args.push(['--seed', String(state.seed)]);
  const pass = passSamples(state);
  if (pass > 0 && (samples !== undefined ? samples : samplesOf(state)) > pass) args.push(['--pass-samples', String(pass)]);
  return args;
}

// A render request of the look. `stream` is the tab's for the view; each
// save has its own, so that it never cancels the view's frame nor another
// save (the server renders one frame per stream at a time, the newest).
function query(state, level, format, stream, samples) {
  const q = new URLSearchParams({tab: stream, level, format});
  const keys = {'--set': 'set', '--attach': 'attach', '--camera': 'camera', '--width': 'width', '--height': 'height',
                '--aa': 'aa', '--seed': 'seed'};
  for (const [option, value] of lookArguments(state, samples)) {
    if (keys[option] && !(option === '--attach' && !value.includes('=checker:'))) q.append(keys[option], value);
  }
  if (passSamples(state) > 0) q.append('pass_samples', passSamples(state));
  return '/render?' + q.toString();
}

const shellWord = w => /^[A-Za-z0-9_@%+=:,./-]+$/.test(w) ? w : "'" + w.replace(/'/g, "'\\''") + "'";

function command(state, samples, output = 'umbrex.png') {
  const words = page.look.command.slice();
  for (const [option, value] of lookArguments(state, samples)) words.push(option, value);
  words.push('--output', output);
  return words.map(shellWord).join(' ');
}

function mode(state) {
  const on = name => state.values[name] && state.values[name][0] !== 0;
  return on('bent_normals') ? 'bent normals' : on('environment') ? 'environment' : 'occlusion';
}

// A short name for files of the look: its mode, the parameters it changes
// and a digest of its whole command, so that two looks never share one.
function lookName(state, samples) {
  const parts = ['umbrex', mode(state).replace(' ', '-')];
  for (const p of page.look.parameters) {
    const v = p.name === 'samples' && samples !== undefined ? [samples] : state.values[p.name];
    if (!same(v, p.default) && parts.join('-').length < 80)
      parts.push((p.name + valueText(p, v)).replace(/[^A-Za-z0-9_.]+/g, '_'));
  }
  let hash = 0x811c9dc5;
  for (const c of command(state, samples)) hash = Math.imul(hash ^ c.charCodeAt(0), 0x01000193) >>> 0;
  parts.push(hash.toString(16).padStart(8, '0'));
  return parts.join('-');
}
