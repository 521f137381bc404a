// Saves: the kept look's final image as a PNG or EXR file named after the
// look, each save its own request, one after another, so that two saves and
// the view never cancel each other, and a change after a click does not
// change what that click saves. The server keeps the command in the file.
'use strict';

let saves = Promise.resolve();
let saveCount = 0;

async function saveOne(kept, format) {
  const name = lookName(kept.state, kept.samples) + '.' + format;
  $('save-status').textContent = 'saving ' + name;
  // A look the view is still adding passes to is saved from its sum, once done.
  if (JSON.stringify(run.state) === JSON.stringify(kept.state)) await viewSettled();
  const response = await api(query(kept.state, 'final', format, tab + 'save' + ++saveCount, kept.samples));
  if (!response.ok) throw new Error(name + ': ' + await response.text());
  download(await response.blob(), name);
  $('save-status').textContent = 'saved ' + name;
}

function save(format) {
  if (!page.good) return;
  const kept = clone(keptLook());
  saves = saves.then(() => saveOne(kept, format)).catch(error => { $('save-status').textContent = error.message; });
}

// The bytes a save of the kept look gets, as the page gets them.
async function saved(format) {
  const kept = keptLook();
  const response = await api(query(kept.state, 'final', format, tab + 'save' + ++saveCount, kept.samples));
  if (!response.ok) throw new Error(await response.text());
  return response.blob();
}
