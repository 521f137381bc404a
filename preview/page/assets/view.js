// What the page shows of an image: its linear floats through the exposure,
// a channel or a false-colour scale, at a fit or a 1:1 zoom, with a
// snapshot wiped in beside it; and the values under the cursor.
'use strict';

const view = {
  image: null,    // {data: Float32Array of RGBA, width, height, meaning: 'colour' | 'data', and for a
                  // coarse image the size it is shown at, shownWidth and shownHeight}
  a: null,        // the snapshot compared, with its image
  exposure: 0,
  channel: 'rgb',
  zoom: 'fit',
  wipe: 0.5,
};

// Blue (open) through green and yellow to red (closed).
function falseColour(open) {
  const t = 1 - Math.max(0, Math.min(1, open));
  const stops = [[0.1, 0.2, 0.9], [0.1, 0.8, 0.3], [0.95, 0.9, 0.1], [0.9, 0.1, 0.1]];
  const x = t * (stops.length - 1), i = Math.min(stops.length - 2, Math.floor(x)), f = x - i;
  return stops[i].map((v, k) => v + (stops[i + 1][k] - v) * f);
}

// One pixel as shown, 0 to 255 each, with its alpha: colours as the PNG
// stores them (divided by their alpha, sRGB-encoded) after the exposure;
// data (bent normals) as n * 0.5 + 0.5.
function shownPixel(d, i, meaning, out) {
  const r = d[i], g = d[i + 1], b = d[i + 2];
  const a = Number.isNaN(d[i + 3]) ? 0 : Math.max(0, Math.min(1, d[i + 3]));
  const divide = meaning === 'colour' && a > 0 && a < 1 ? a : 1;
  let rgb;
  if (view.channel === 'false') {
    // The occlusion: for bent normals the open fraction, else the brightness.
    const open = meaning === 'data' ? a : (0.2126 * r + 0.7152 * g + 0.0722 * b) / divide;
    rgb = falseColour(open).map(v => v * 255);
    out[0] = rgb[0]; out[1] = rgb[1]; out[2] = rgb[2]; out[3] = a > 0 ? 255 : 0;
    return;
  }
  const gain = meaning === 'data' ? 1 : Math.pow(2, view.exposure);
  const store = v => meaning === 'data' ? v * 0.5 + 0.5 : srgbEncode(v / divide * gain);
  const byte = v => Math.round(Math.max(0, Math.min(1, v)) * 255);
  if (view.channel === 'a') {
    out[0] = out[1] = out[2] = byte(a); out[3] = 255;
    return;
  }
  rgb = [store(r), store(g), store(b)];
  if (view.channel !== 'rgb') rgb = Array(3).fill(rgb['rgb'.indexOf(view.channel)]);
  out[0] = byte(rgb[0]); out[1] = byte(rgb[1]); out[2] = byte(rgb[2]); out[3] = byte(a);
}

// The image as canvas pixels.
function imageData(image) {
  const data = new ImageData(image.width, image.height);
  const pixel = [0, 0, 0, 0];
  for (let i = 0; i < image.width * image.height * 4; i += 4) {
    shownPixel(image.data, i, image.meaning, pixel);
    data.data[i] = pixel[0]; data.data[i + 1] = pixel[1]; data.data[i + 2] = pixel[2]; data.data[i + 3] = pixel[3];
  }
  return data;
}

function imageCanvas(image) {
  const canvas = document.createElement('canvas');
  canvas.width = image.width;
  canvas.height = image.height;
  canvas.getContext('2d').putImageData(imageData(image), 0, 0);
  return canvas;
}

// Draws the current image (a coarse one scaled up to the look's size) and,
// left of the wipe, the snapshot chosen as A.
function draw() {
  const canvas = $('view');
  const image = view.image;
  if (!image) return;
  const width = image.shownWidth || image.width, height = image.shownHeight || image.height;
  const full = image.width === width && image.height === height;
  canvas.width = full ? image.width : width;
  canvas.height = full ? image.height : height;
  const context = canvas.getContext('2d');
  context.imageSmoothingEnabled = false;
  if (full) context.putImageData(imageData(image), 0, 0);
  else context.drawImage(imageCanvas(image), 0, 0, canvas.width, canvas.height);
  if (view.a) {
    const split = Math.round(view.wipe * canvas.width);
    context.save();
    context.beginPath();
    context.rect(0, 0, split, canvas.height);
    context.clip();
    context.clearRect(0, 0, split, canvas.height);
    context.drawImage(imageCanvas(view.a.image), 0, 0, canvas.width, canvas.height);
    context.restore();
    context.fillStyle = '#f0c674';
    context.fillRect(split, 0, 1, canvas.height);
  }
  placeView();
}

// The canvas at the zoom: fitted to the panel, or so many device pixels a pixel.
function placeView() {
  const canvas = $('view');
  $('view-box').dataset.zoom = view.zoom;
  if (view.zoom === 'fit') {
    canvas.style.width = canvas.style.height = '';
  } else {
    const z = Number(view.zoom) / (window.devicePixelRatio || 1);
    canvas.style.width = canvas.width * z + 'px';
    canvas.style.height = canvas.height * z + 'px';
  }
}

function show(image) {
  view.image = image;
  draw();
}

// The image pixel under a point of the window, or null.
function pixelAt(clientX, clientY) {
  const canvas = $('view');
  const box = canvas.getBoundingClientRect();
  const s = Math.min(box.width / canvas.width, box.height / canvas.height);
  const left = box.left + (box.width - canvas.width * s) / 2, top = box.top + (box.height - canvas.height * s) / 2;
  const x = Math.floor((clientX - left) / s), y = Math.floor((clientY - top) / s);
  return x >= 0 && y >= 0 && x < canvas.width && y < canvas.height ? {x, y, scale: s} : null;
}

// The linear values under the cursor, as the EXR of the shown image holds them.
function readPixel(clientX, clientY) {
  const out = $('pixel');
  const at = pixelAt(clientX, clientY);
  const image = view.image;
  if (!at || !image || image.width !== $('view').width) {
    out.textContent = '';
    delete out.dataset.rgba;
    return;
  }
  const i = (at.y * image.width + at.x) * 4;
  const v = Array.from(image.data.subarray(i, i + 4));
  const f = x => x.toFixed(4);
  out.dataset.x = at.x;
  out.dataset.y = at.y;
  out.dataset.rgba = v.map(String).join(',');
  out.textContent = image.meaning === 'data'
    ? `(${at.x}, ${at.y}) normal ${v.slice(0, 3).map(f).join(' ')} open ${f(v[3])}`
    : `(${at.x}, ${at.y}) r ${f(v[0])} g ${f(v[1])} b ${f(v[2])} a ${f(v[3])}`;
}

function setUpView() {
  $('exposure').addEventListener('input', () => {
    view.exposure = Number($('exposure').value);
    $('exposure-value').textContent = (view.exposure > 0 ? '+' : '') + view.exposure;
    draw();
  });
  $('channel').addEventListener('change', () => {
    view.channel = $('channel').value;
    $('false-legend').hidden = view.channel !== 'false';
    draw();
  });
  $('zoom').addEventListener('change', () => { view.zoom = $('zoom').value; placeView(); });
  $('wipe').addEventListener('input', () => {
    view.wipe = Number($('wipe').value);
    localStorage.setItem('umbrex-wipe', String(view.wipe));
    draw();
  });
  view.wipe = Number(localStorage.getItem('umbrex-wipe') || 0.5);
  $('wipe').value = view.wipe;
  $('view').addEventListener('pointermove', e => readPixel(e.clientX, e.clientY));
  $('view').addEventListener('pointerleave', () => { $('pixel').textContent = ''; });
}
