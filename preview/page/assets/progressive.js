// Rendering after a change: a coarse image at once, then passes of the look,
// each with its own sample pattern, added up by the server and shown as they
// come, with the progress, the time left and a Stop. A newer change aborts
// them (the server stops the older frame within milliseconds); an error
// leaves the last good image, marked stale, and the last good command.
'use strict';

const run = {
  generation: 0,      // the newest change; older answers are dropped
  requests: null,     // aborts the newest change's requests
  state: null,        // the look being rendered
  target: 0, done: 0, // its samples, and those added up so far
  passTimes: [],
  stopped: false,
  complete: false,
  placeholder: null,  // a restored snapshot's image, shown until the passes reach its samples
  settled: [],        // waiting for the run to end
};

// The look the copied command and the saves give: the last good one, with
// the samples reached where the passes were stopped short.
function keptLook() {
  const partial = run.stopped && run.done > 0 && run.done < run.target && same([run.target], [samplesOf(page.good)]);
  return {state: page.good, samples: partial ? run.done : undefined};
}

function showCommand() {
  if (!page.good) return;
  const kept = keptLook();
  $('command').value = command(kept.state, kept.samples);
}

function settle() {
  for (const done of run.settled.splice(0)) done();
}

// Resolves once the view's passes end: complete, stopped, failed or superseded.
function viewSettled() {
  if (run.complete || run.stopped || !run.requests) return Promise.resolve();
  return new Promise(done => run.settled.push(done));
}

function showError(message) {
  $('error').textContent = message;
  $('view').dataset.state = 'error';
  $('stale-note').hidden = false;
  $('stale-note').textContent = 'stale: ' + message;
  $('view-box').classList.add('stale');
  if (page.source) {
    page.source.classList.add('invalid');
    const field = page.source.querySelector('.field-error') || page.source.nextElementSibling;
    if (field && field.classList.contains('field-error')) field.textContent = message;
  }
  showCommand();
  settle();
}

function clearError() {
  $('error').textContent = '';
  $('stale-note').hidden = true;
  $('view-box').classList.remove('stale');
  for (const box of document.querySelectorAll('.invalid')) box.classList.remove('invalid');
  for (const field of document.querySelectorAll('.field-error')) field.textContent = '';
}

function showWarnings(warning) {
  const list = page.look.warnings.concat(warning ? [warning] : []);
  $('warnings').replaceChildren(...list.map(text => {
    const item = document.createElement('li');
    item.textContent = text;
    return item;
  }));
}

// One frame of the look as floats, or null (an error shown, or superseded).
// The server takes the request that reaches it last for the tab's newest, and
// the browser may deliver a change's request before the one it aborted: a
// request the server calls superseded, though no newer change came, is asked
// again.
async function fetchFrame(level, mine, signal) {
  const started = performance.now();
  let response = null;
  for (let tries = 0; tries < 20; ++tries) {
    response = await api(query(run.state, level, 'floats', tab), signal);
    if (mine !== run.generation) return null;
    if (response.status !== 409) break;
    await new Promise(done => setTimeout(done, 10 * tries));
  }
  if (!response.ok) {
    showError(await response.text());
    return null;
  }
  const buffer = await response.arrayBuffer();
  if (mine !== run.generation) return null;
  const header = name => response.headers.get(name);
  return {
    data: new Float32Array(buffer),
    width: Number(header('X-Umbrex-Width')), height: Number(header('X-Umbrex-Height')),
    meaning: header('X-Umbrex-Meaning'),
    samples: Number(header('X-Umbrex-Samples')), done: Number(header('X-Umbrex-Samples-Done')),
    rays: Number(header('X-Umbrex-Probe-Rays')), seconds: Number(header('X-Umbrex-Seconds')),
    warning: decodeURIComponent(header('X-Umbrex-Warning') || ''),
    wall: (performance.now() - started) / 1000,
  };
}

// Samples per pass for this image size, chosen from the coarse image's time
// so that a pass takes about half a second: a power of two from 4 to 64.
function choosePassSize(coarse, state) {
  const key = [state.width, state.height, state.aa].join('x');
  if (page.look.pass_samples || page.passSizes[key]) return;
  const coarseSamples = Math.max(1, Math.min(4, samplesOf(state)));
  const perSample = Math.max(coarse.seconds, 0.002) * 16 * state.aa / coarseSamples;
  let size = 4;
  while (size < 64 && perSample * size * 2 <= 0.5) size *= 2;
  page.passSizes[key] = size;
}

function showProgress(frame) {
  const seconds = t => t >= 90 ? Math.round(t / 60) + ' min' : t.toFixed(1) + ' s';
  $('progress-bar').value = run.target > 0 ? Math.min(1, run.done / run.target) : 1;
  $('progress').textContent = run.complete ? `${run.done} samples, complete`
    : run.stopped ? `stopped at ${run.done} of ${run.target} samples` : `${run.done} of ${run.target} samples`;
  const pass = passSamples(run.state) || run.target;
  const left = Math.ceil(Math.max(0, run.target - run.done) / Math.max(1, pass));
  const mean = run.passTimes.length ? run.passTimes.reduce((a, b) => a + b, 0) / run.passTimes.length : 0;
  $('eta').textContent = !run.complete && !run.stopped && mean > 0 ? 'about ' + seconds(left * mean) + ' left' : '';
  $('stop').textContent = run.stopped ? 'Continue' : 'Stop';
  $('stop').disabled = run.complete;
  if (frame) {
    $('samples').textContent = frame.samples + ' samples';
    $('rate').textContent = frame.seconds > 0 ? (frame.rays / frame.seconds / 1e6).toFixed(2) + ' M probe rays/s' : '';
    $('time').textContent = frame.wall.toFixed(2) + ' s';
  }
}

// The passes, one request each, until the samples are all there, Stop, or
// a newer change.
async function accumulate(mine, signal) {
  while (mine === run.generation && !run.stopped && !run.complete) {
    const frame = await fetchFrame('pass', mine, signal);
    if (!frame) return;
    run.done = frame.done;
    run.target = frame.samples;
    run.complete = frame.done >= frame.samples;
    if (frame.seconds > 0) run.passTimes.push(frame.wall);
    if (!run.placeholder || frame.done >= run.placeholder.done || run.complete) {
      run.placeholder = null;
      show(frame);
      $('view').dataset.state = run.complete ? 'final' : 'pass';
    }
    showProgress(frame);
    showCommand();
    if (run.complete) settle();
  }
}

function restart() {
  if (run.requests) run.requests.abort();
  run.requests = new AbortController();
  return run.requests.signal;
}

// Any change of the look: a coarse image, then its passes. `placeholder`
// (a snapshot's image and samples) stays shown until the passes reach it.
async function changed(placeholder) {
  const mine = ++run.generation;
  const signal = restart();
  settle();
  Object.assign(run, {state: clone(page.state), target: samplesOf(page.state), done: 0, passTimes: [],
                      stopped: false, complete: false, placeholder: placeholder || null});
  $('mode').textContent = mode(page.state);
  $('view').dataset.state = 'rendering';
  if (placeholder) show(placeholder.image);
  showProgress(null);
  try {
    const coarse = await fetchFrame('coarse', mine, signal);
    if (!coarse) return;
    page.good = clone(run.state);
    clearError();
    showWarnings(coarse.warning);
    choosePassSize(coarse, run.state);
    if (!run.placeholder) {
      show(Object.assign(coarse, {shownWidth: run.state.width, shownHeight: run.state.height}));
      $('view').dataset.state = 'coarse';
    }
    showProgress(coarse);
    showCommand();
    await accumulate(mine, signal);
  } catch (error) {
    if (mine === run.generation && error.name !== 'AbortError') showError(String(error));
  }
}

// Stop keeps the image so far, whose samples the copied command then names;
// Continue adds passes to it again.
function stopOrContinue() {
  if (run.complete || !run.state) return;
  if (!run.stopped) {
    run.stopped = true;
    restart();
    showProgress(null);
    showCommand();
    $('view').dataset.state = 'stopped';
    settle();
    return;
  }
  run.stopped = false;
  const mine = ++run.generation;
  showProgress(null);
  accumulate(mine, restart()).catch(error => {
    if (mine === run.generation && error.name !== 'AbortError') showError(String(error));
  });
}
