// The controls: one per parameter of the declaration, by its type and what
// it means (distances ranged from the scene's size, colours picked in sRGB
// and sent linear, the ray-type bypass as a choice), each with its help and
// a reset; the image settings and the camera's.
'use strict';

// Parameters that are distances in scene units, and scalars with ranges of their own.
const distanceParameters = ['falloff_start', 'falloff_stop'];
const scalarRanges = {spread: [0, 180], bias: [0, 1]};

function sceneSize() {
  const {low, high} = page.look.bounds;
  return Math.hypot(...sub(high, low));
}

// A round number near x: 1, 2 or 5 times a power of ten.
function roundUp(x) {
  const power = Math.pow(10, Math.floor(Math.log10(x)));
  return [1, 2, 5, 10].map(m => m * power).find(v => v >= x);
}

function sliderRange(p) {
  if (scalarRanges[p.name]) return scalarRanges[p.name];
  if (distanceParameters.includes(p.name)) return [0, roundUp(Math.max(sceneSize(), 1e-6))];
  const d = Math.abs(p.default[0]);
  return [Math.min(0, p.default[0]), Math.max(1, d * 4)];
}

// The ray-type bypass: 1 bypasses the shader's list of secondary ray types,
// any other value none.
const bypassChoices = [[1, 'bypass secondary rays (types 8 to 15, 18 to 20, 23, 24, 27)'], [0, 'never bypass']];

const toHex = v => Math.round(Math.min(1, Math.max(0, srgbEncode(v))) * 255).toString(16).padStart(2, '0');

function numberInput(value, step, onChange) {
  const input = document.createElement('input');
  input.type = 'number';
  input.step = step;
  input.value = value;
  input.addEventListener('change', () => { if (input.value !== '') onChange(Number(input.value)); });
  return input;
}

// A committed change from a control inside `box`: kept in the history and rendered.
function changeFrom(box) {
  page.source = box;
  commit();
  changed();
}

// One control per parameter, by its type, with its help and a reset; colours
// and scalars may be attached to a checker.
function buildParameter(p) {
  const state = page.state;
  const box = document.createElement('div');
  box.className = 'parameter';
  box.dataset.name = p.name;
  box.title = parameterHelp[p.name] || '';
  const head = document.createElement('div');
  head.className = 'row';
  head.innerHTML = '<span class="name"></span><span class="help" aria-hidden="true">?</span><span class="type"></span>';
  head.querySelector('.name').textContent = p.name;
  head.querySelector('.type').textContent = p.type + (distanceParameters.includes(p.name) ? ', scene units' : '');
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

  const set = v => { state.values[p.name] = v; fill(); changeFrom(box); };
  const fill = () => {
    row.replaceChildren();
    const v = state.values[p.name];
    if (p.type === 'boolean') {
      const check = document.createElement('input');
      check.type = 'checkbox';
      check.checked = v[0] !== 0;
      check.addEventListener('change', () => set([check.checked ? 1 : 0]));
      row.appendChild(check);
    } else if (p.name === 'ray_type_bypass') {
      const select = document.createElement('select');
      const choices = bypassChoices.some(([n]) => n === v[0]) ? bypassChoices
        : bypassChoices.concat([[v[0], v[0] + ': never bypass']]);
      for (const [n, text] of choices) select.add(new Option(n + ': ' + text.replace(/^\d+: /, ''), n));
      select.value = v[0];
      select.addEventListener('change', () => set([Number(select.value)]));
      row.appendChild(select);
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
      const number = numberInput(v[0], 'any', n => set([n]));
      slider.addEventListener('input', () => {
        state.values[p.name] = [Number(slider.value)];
        number.value = slider.value;
        page.source = box;
        changed();
      });
      slider.addEventListener('change', () => commit());
      row.append(slider, number);
    } else if (p.type === 'color') {
      const picker = document.createElement('input');
      picker.type = 'color';
      picker.title = 'picked in sRGB, sent as linear values';
      picker.value = '#' + v.slice(0, 3).map(toHex).join('');
      picker.addEventListener('change', () => {
        const hex = picker.value;
        set([1, 3, 5].map(i => srgbDecode(parseInt(hex.substr(i, 2), 16) / 255)).concat([state.values[p.name][3]]));
      });
      row.appendChild(picker);
      ['r', 'g', 'b', 'a'].forEach((c, i) => {
        const input = numberInput(v[i], 'any', n => { const w = state.values[p.name].slice(); w[i] = n; set(w); });
        input.title = c + ' (linear)';
        row.appendChild(input);
      });
    } else {
      ['x', 'y', 'z'].forEach((c, i) => {
        const input = numberInput(v[i], 'any', n => { const w = state.values[p.name].slice(); w[i] = n; set(w); });
        input.title = c;
        row.appendChild(input);
      });
    }
  };
  reset.addEventListener('click', () => {
    state.values[p.name] = p.default.slice();
    delete state.checkers[p.name];
    buildParameters();
    changeFrom(box);
  });
  fill();

  if (p.type === 'color' || p.type === 'scalar') {
    const attach = document.createElement('div');
    attach.className = 'row';
    const toggle = document.createElement('input');
    toggle.type = 'checkbox';
    toggle.checked = p.name in state.checkers;
    const cell = numberInput(state.checkers[p.name] || 0.5, 'any', n => {
      if (n > 0 && toggle.checked) { state.checkers[p.name] = n; changeFrom(box); }
    });
    toggle.addEventListener('change', () => {
      if (toggle.checked) state.checkers[p.name] = Number(cell.value) > 0 ? Number(cell.value) : 0.5;
      else delete state.checkers[p.name];
      changeFrom(box);
    });
    const label = document.createElement('label');
    label.append(toggle, ' checker, cells ');
    attach.append(label, cell);
    box.appendChild(attach);
  }
  const error = document.createElement('div');
  error.className = 'field-error';
  box.appendChild(error);
  return box;
}

function buildParameters() {
  $('parameters').replaceChildren(...page.look.parameters.map(buildParameter));
}

// The image settings and the camera's fields, from the state.
function fillSettings() {
  const state = page.state;
  for (const id of ['width', 'height', 'aa', 'seed']) $(id).value = state[id];
  $('fov').value = state.camera.fov[0];
}

// Everything the controls show, from the state.
function buildControls() {
  buildParameters();
  fillSettings();
}

function setUpSettings() {
  for (const id of ['width', 'height', 'aa', 'seed']) {
    $(id).addEventListener('change', () => {
      page.state[id] = $(id).value === '' ? page.state[id] : Number($(id).value);
      changeFrom($(id).closest('fieldset'));
    });
  }
  $('fov').addEventListener('change', () => {
    if ($('fov').value === '') return;
    page.state.camera.fov = [Number($('fov').value)];
    changeFrom($('fov').closest('fieldset'));
  });

  const menu = $('camera-menu');
  menu.add(new Option('starting camera', 'start'));
  page.look.cameras.forEach((c, i) => {
    const option = new Option('file camera "' + c.name + '"' + (c.fault ? ' (cannot be used)' : ''), String(i));
    option.disabled = Boolean(c.fault);
    option.title = c.fault || '';
    menu.add(option);
  });
  menu.addEventListener('change', () => {
    const chosen = menu.value === 'start' ? page.look.camera : page.look.cameras[Number(menu.value)].view;
    page.state.camera = clone(chosen);
    fillSettings();
    findPivot();
    changeFrom(menu.closest('fieldset'));
  });
  $('frame-all').addEventListener('click', () => { frameAll(); changeFrom($('frame-all').closest('fieldset')); });
  $('reset-camera').addEventListener('click', () => {
    page.state.camera = clone(page.look.camera);
    menu.value = 'start';
    fillSettings();
    findPivot();
    changeFrom($('reset-camera').closest('fieldset'));
  });
}
