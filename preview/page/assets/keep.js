// What the artist keeps: the history of changes (undo and redo), snapshots
// of images with their looks (in this browser's database, so that they and
// the A/B choice outlive a reload), and presets of parameters, kept in the
// browser, saved and loaded as JSON files, and read from commands.
'use strict';

const undoable = {states: [], index: -1};

// The state as it is now becomes the newest step of the history.
function commit() {
  undoable.states = undoable.states.slice(0, undoable.index + 1);
  undoable.states.push(clone(page.state));
  if (undoable.states.length > 200) undoable.states.shift();
  undoable.index = undoable.states.length - 1;
}

function step(by) {
  const index = undoable.index + by;
  if (index < 0 || index >= undoable.states.length) return;
  undoable.index = index;
  page.state = clone(undoable.states[index]);
  buildControls();
  findPivot();
  changed();
}

// The scene a snapshot belongs to: its command's scene options.
const sceneKey = () => JSON.stringify(page.look.command);

// The snapshots, in IndexedDB: each a look, its samples and its image's floats.
function database() {
  return new Promise((resolve, reject) => {
    const request = indexedDB.open('umbrex-look-dev', 1);
    request.onupgradeneeded = () => request.result.createObjectStore('snapshots', {keyPath: 'id', autoIncrement: true});
    request.onsuccess = () => resolve(request.result);
    request.onerror = () => reject(request.error);
  });
}

async function stored(mode, work) {
  const db = await database();
  return new Promise((resolve, reject) => {
    const transaction = db.transaction('snapshots', mode);
    const request = work(transaction.objectStore('snapshots'));
    transaction.oncomplete = () => resolve(request.result);
    transaction.onerror = () => reject(transaction.error);
  });
}

const snapshots = {list: []};

async function loadSnapshots() {
  const all = await stored('readonly', store => store.getAll());
  snapshots.list = all.filter(s => s.scene === sceneKey()).map(s => Object.assign(s, {
    image: {data: new Float32Array(s.pixels), width: s.width, height: s.height, meaning: s.meaning}}));
  const a = Number(localStorage.getItem('umbrex-a'));
  view.a = snapshots.list.find(s => s.id === a) || null;
  showStrip();
  draw();
}

async function takeSnapshot() {
  const image = view.image;
  if (!image || !page.good || image.shownWidth) return;
  const kept = keptLook();
  const record = {scene: sceneKey(), state: clone(kept.state), done: run.done, time: Date.now(),
                  command: command(kept.state, kept.samples), width: image.width, height: image.height,
                  meaning: image.meaning, pixels: image.data.slice().buffer};
  record.id = await stored('readwrite', store => store.add(record));
  record.image = {data: new Float32Array(record.pixels), width: record.width, height: record.height,
                  meaning: record.meaning};
  snapshots.list.push(record);
  showStrip();
}

function restoreSnapshot(s) {
  page.state = clone(s.state);
  commit();
  buildControls();
  findPivot();
  changed({image: s.image, done: s.done});
}

function chooseA(s) {
  view.a = view.a === s ? null : s;
  localStorage.setItem('umbrex-a', view.a ? String(s.id) : '');
  showStrip();
  draw();
}

async function forget(s) {
  await stored('readwrite', store => store.delete(s.id));
  snapshots.list = snapshots.list.filter(x => x !== s);
  if (view.a === s) chooseA(s);
  showStrip();
}

function showStrip() {
  $('wipe-label').hidden = !view.a;
  $('strip').replaceChildren(...snapshots.list.map(s => {
    const item = document.createElement('div');
    item.className = 'snapshot' + (view.a === s ? ' chosen' : '');
    item.dataset.id = s.id;
    const thumb = document.createElement('canvas');
    const big = imageCanvas(s.image);
    thumb.width = 96;
    thumb.height = Math.max(1, Math.round(96 * s.height / s.width));
    thumb.getContext('2d').drawImage(big, 0, 0, thumb.width, thumb.height);
    thumb.title = 'restore: ' + s.command;
    thumb.addEventListener('click', () => restoreSnapshot(s));
    const a = document.createElement('button');
    a.type = 'button';
    a.className = 'choose-a';
    a.textContent = 'A';
    a.title = 'compare with the current view (A left of the wipe)';
    a.addEventListener('click', () => chooseA(s));
    const remove = document.createElement('button');
    remove.type = 'button';
    remove.textContent = '\u00d7';
    remove.title = 'forget this snapshot';
    remove.addEventListener('click', () => forget(s));
    item.append(thumb, a, remove);
    return item;
  }));
}

// Presets: parameters and checkers by name.
function presets() {
  try { return JSON.parse(localStorage.getItem('umbrex-presets') || '[]'); } catch (error) { return []; }
}

function keepPresets(list) {
  localStorage.setItem('umbrex-presets', JSON.stringify(list));
  showPresets();
}

function presetOf(name, state) {
  return {umbrex_preset: 1, name, parameters: clone(state.values), checkers: clone(state.checkers)};
}

// A preset as the page's own, or an error naming what is wrong with it.
function checkedPreset(preset) {
  if (!preset || typeof preset !== 'object' || typeof preset.parameters !== 'object' || !preset.parameters)
    throw new Error('a preset is {"name": ..., "parameters": {...}, "checkers": {...}}');
  for (const [name, v] of Object.entries(preset.parameters)) {
    const p = parameter(name);
    if (!p) throw new Error('the shader has no parameter "' + name + '"');
    if (!Array.isArray(v) || v.length !== p.default.length || !v.every(Number.isFinite))
      throw new Error(name + ' takes ' + p.default.length + ' finite numbers');
  }
  for (const [name, cell] of Object.entries(preset.checkers || {})) {
    if (!parameter(name) || !(cell > 0 && Number.isFinite(cell))) throw new Error('checker of ' + name + ': bad cell size');
  }
  return {umbrex_preset: 1, name: String(preset.name || 'preset'), parameters: preset.parameters,
          checkers: preset.checkers || {}};
}

function applyPreset(preset) {
  for (const p of page.look.parameters) page.state.values[p.name] = (preset.parameters[p.name] || p.default).slice();
  page.state.checkers = clone(preset.checkers);
  buildControls();
  changeFrom($('presets').closest('fieldset'));
}

function download(blob, name) {
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = name;
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 60000);
}

// The preset's settings as command-line words.
function presetCommand(preset) {
  const state = Object.assign(clone(page.state), {values: preset.parameters, checkers: preset.checkers});
  return lookArguments(state).filter(([option]) => option === '--set' || option === '--attach')
    .map(words => words.map(shellWord).join(' ')).join(' ');
}

function showPresets() {
  $('presets').replaceChildren(...presets().map((preset, index) => {
    const item = document.createElement('li');
    item.className = 'preset';
    const name = document.createElement('span');
    name.textContent = preset.name;
    item.appendChild(name);
    const actions = {
      Apply: () => applyPreset(preset),
      JSON: () => download(new Blob([JSON.stringify(preset, null, 1)], {type: 'application/json'}), preset.name + '.json'),
      Command: () => { $('preset-command').value = presetCommand(preset); },
      '\u00d7': () => keepPresets(presets().filter((_, i) => i !== index)),
    };
    for (const [label, action] of Object.entries(actions)) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = label;
      button.addEventListener('click', action);
      item.appendChild(button);
    }
    return item;
  }));
}

// Words as a POSIX shell splits them: quotes and backslashes.
function shellWords(text) {
  const words = [];
  let word = null, quote = null;
  for (let i = 0; i < text.length; ++i) {
    const c = text[i];
    if (quote) {
      if (c === quote) quote = null;
      else if (c === '\\' && quote === '"' && i + 1 < text.length) word += text[++i];
      else word += c;
    } else if (c === "'" || c === '"') {
      quote = c; word = word || '';
    } else if (c === '\\' && i + 1 < text.length) {
      word = (word || '') + text[++i];
    } else if (/\s/.test(c)) {
      if (word !== null) words.push(word);
      word = null;
    } else {
      word = (word || '') + c;
    }
  }
  if (quote) throw new Error('an unclosed quote');
  if (word !== null) words.push(word);
  return words;
}

// A value as --set writes it, for the parameter.
function readValue(p, text) {
  if (p.type === 'boolean') {
    if (!['on', 'off'].includes(text)) throw new Error(p.name + ' takes on or off, not "' + text + '"');
    return [text === 'on' ? 1 : 0];
  }
  const v = text.split(',').map(Number);
  const count = p.default.length;
  if (!(v.length === count || (p.type === 'color' && v.length === 3)) || !v.every(Number.isFinite) ||
      (p.type === 'integer' && !Number.isInteger(v[0])))
    throw new Error(p.name + ': "' + text + '" is not ' + count + ' ' + (p.type === 'integer' ? 'whole number' : 'numbers'));
  return p.type === 'color' && v.length === 3 ? v.concat([1]) : v;
}

// Applies the --set, --attach (checkers), --camera and image options of a command.
function applyCommand(text) {
  const words = shellWords(text);
  const state = clone(page.state);
  for (let i = 0; i < words.length; ++i) {
    const option = words[i], value = words[i + 1];
    const needs = ['--set', '--attach', '--camera', '--width', '--height', '--aa', '--seed'];
    if (!needs.includes(option)) continue;
    if (value === undefined) throw new Error(option + ' needs a value');
    ++i;
    if (option === '--set' || option === '--attach') {
      const equals = value.indexOf('=');
      const p = parameter(value.slice(0, equals));
      if (equals < 0 || !p) throw new Error(option + ' ' + value + ': the shader has no such parameter');
      if (option === '--set') {
        state.values[p.name] = readValue(p, value.slice(equals + 1));
      } else {
        const m = /^checker:(.+)$/.exec(value.slice(equals + 1));
        if (!m || !(Number(m[1]) > 0)) throw new Error('--attach ' + value + ': the page attaches checkers only');
        state.checkers[p.name] = Number(m[1]);
      }
    } else if (option === '--camera') {
      const parts = value.split(':');
      const eye = parts[0] && parts[0].split(',').map(Number), target = parts[1] && parts[1].split(',').map(Number);
      if (parts.length !== 3 || eye.length !== 3 || target.length !== 3 || ![...eye, ...target, Number(parts[2])].every(Number.isFinite))
        throw new Error('--camera ' + value + ': expected eye_x,eye_y,eye_z:target_x,target_y,target_z:fov_degrees');
      state.camera = {eye, target, fov: [Number(parts[2])]};
    } else {
      if (!/^\d+$/.test(value)) throw new Error(option + ' ' + value + ': not a whole number');
      state[option.slice(2)] = Number(value);
    }
  }
  page.state = state;
  buildControls();
  findPivot();
  changeFrom($('presets').closest('fieldset'));
}

function setUpKeeping() {
  commit();
  $('undo').addEventListener('click', () => step(-1));
  $('redo').addEventListener('click', () => step(1));
  document.addEventListener('keydown', e => {
    if (!(e.ctrlKey || e.metaKey) || e.target.matches('input[type=text], input[type=number], textarea')) return;
    if (e.key.toLowerCase() === 'z') { e.preventDefault(); step(e.shiftKey ? 1 : -1); }
    if (e.key.toLowerCase() === 'y') { e.preventDefault(); step(1); }
  });
  $('snapshot').addEventListener('click', () => takeSnapshot().catch(error => { $('error').textContent = String(error); }));
  $('keep-preset').addEventListener('click', () => {
    const name = $('preset-name').value.trim() || 'preset ' + (presets().length + 1);
    keepPresets(presets().concat([presetOf(name, page.state)]));
  });
  $('load-preset').addEventListener('change', async () => {
    const file = $('load-preset').files[0];
    $('load-preset').value = '';
    if (!file) return;
    try {
      const preset = checkedPreset(JSON.parse(await file.text()));
      keepPresets(presets().concat([preset]));
      applyPreset(preset);
      $('preset-error').textContent = '';
    } catch (error) {
      $('preset-error').textContent = file.name + ': ' + error.message;
    }
  });
  $('apply-command').addEventListener('click', () => {
    try {
      applyCommand($('preset-command').value);
      $('preset-error').textContent = '';
    } catch (error) {
      $('preset-error').textContent = error.message;
    }
  });
  showPresets();
  loadSnapshots().catch(error => { $('error').textContent = 'snapshots: ' + error; });
}
