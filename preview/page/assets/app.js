// The look-dev page's start: the server's look, the controls, the view's
// pointer (orbit, pan, dolly, pivot) and the buttons.
'use strict';

function setUpPointer() {
  const canvas = $('view');
  let dragging = null;
  canvas.addEventListener('pointerdown', e => {
    const box = $('view-box');
    const how = e.altKey && view.zoom !== 'fit' ? 'scroll' : e.shiftKey || e.button === 1 ? 'pan' : 'orbit';
    dragging = {x: e.clientX, y: e.clientY, how, moved: false, left: box.scrollLeft, top: box.scrollTop};
    canvas.setPointerCapture(e.pointerId);
    e.preventDefault();
  });
  canvas.addEventListener('pointermove', e => {
    if (!dragging) return;
    const dx = e.clientX - dragging.x, dy = e.clientY - dragging.y;
    if (dragging.how === 'scroll') {
      $('view-box').scrollLeft = dragging.left - dx;
      $('view-box').scrollTop = dragging.top - dy;
      return;
    }
    if (dragging.how === 'orbit') orbit(dx * 0.01, dy * 0.01);
    else {
      const box = canvas.getBoundingClientRect();
      pan(dx, dy, canvas.height * Math.min(box.width / canvas.width, box.height / canvas.height));
    }
    dragging.x = e.clientX;
    dragging.y = e.clientY;
    dragging.moved = true;
    page.source = $('fov').closest('fieldset');
    changed();
  });
  canvas.addEventListener('pointerup', () => {
    if (dragging && dragging.moved && dragging.how !== 'scroll') {
      commit();
      findPivot();
    }
    dragging = null;
  });
  let wheelDone = 0;
  canvas.addEventListener('wheel', e => {
    e.preventDefault();
    dolly(e.deltaY / 100);
    page.source = $('fov').closest('fieldset');
    changed();
    clearTimeout(wheelDone);
    wheelDone = setTimeout(() => { commit(); findPivot(); }, 300);
  }, {passive: false});
  canvas.addEventListener('dblclick', async e => {
    const at = pixelAt(e.clientX, e.clientY);
    if (!at) return;
    const s = page.state.width / canvas.width;
    if (await aimAt((at.x + 0.5) * s, (at.y + 0.5) * s)) changeFrom($('fov').closest('fieldset'));
  });
}

async function start() {
  const answer = await api('/look');
  if (!answer.ok) {
    $('error').textContent = await answer.text();
    return;
  }
  page.look = await answer.json();
  $('shader-name').textContent = page.look.shader;
  page.state = startingState();
  buildControls();
  setUpSettings();
  setUpView();
  setUpPointer();
  setUpKeeping();
  showWarnings('');

  $('reset-start').addEventListener('click', () => {
    page.state = startingState();
    $('camera-menu').value = 'start';
    buildControls();
    findPivot();
    changeFrom($('parameters'));
  });
  $('reset-defaults').addEventListener('click', () => {
    for (const p of page.look.parameters) page.state.values[p.name] = p.default.slice();
    page.state.checkers = {};
    buildControls();
    changeFrom($('parameters'));
  });
  $('stop').addEventListener('click', stopOrContinue);
  $('save-png').addEventListener('click', () => save('png'));
  $('save-exr').addEventListener('click', () => save('exr'));
  $('copy-command').addEventListener('click', async () => {
    $('command').select();
    try { await navigator.clipboard.writeText($('command').value); } catch (error) { document.execCommand('copy'); }
  });
  await findPivot();
  changed();
}

start();
