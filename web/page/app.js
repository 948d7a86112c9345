'use strict';
// The page of a running motion_watch: everything it shows comes from the
// program's own HTTP API, so it works without any other server.

const $ = (id) => document.getElementById(id);
const statusPeriodMs = 1000;
const streamRetryMs = 2000;

async function request(url, options) {
  const response = await fetch(url, Object.assign({cache: 'no-store'}, options));
  if (!response.ok) {
    let why = response.statusText;
    try { why = (await response.json()).error; } catch (e) { /* not JSON */ }
    throw new Error(why);
  }
  return response;
}

const getJson = async (url) => (await request(url)).json();

function say(id, text, isError) {
  const element = $(id);
  element.textContent = text;
  element.classList.toggle('error', !!isError);
}

// ---- Live view and status ------------------------------------------------

function liveUrl() {
  return $('mask-toggle').checked ? '/stream.mjpg?view=mask' : '/stream.mjpg';
}

function startLiveView() {
  const live = $('live');
  // A stream that breaks (the watcher restarted) is opened again.
  live.addEventListener('error', () => setTimeout(() => { live.src = liveUrl(); }, streamRetryMs));
  $('mask-toggle').addEventListener('change', () => { live.src = liveUrl(); });
}

let shownEvents = null; // the status values the event list was last fetched for

function describeStatus(s) {
  const parts = [s.state, s.fps.toFixed(1) + ' fps', 'frame ' + (s.frame === null ? '–' : s.frame)];
  parts.push(s.eventActive ? 'event running' : 'no event');
  parts.push(s.events + (s.events === 1 ? ' event' : ' events') + ' since ' + s.startedAt.replace('T', ' '));
  return parts.join(' · ');
}

async function followStatus() {
  try {
    const s = await getJson('/api/status');
    document.title = s.name + ' – motion_watch';
    $('title').textContent = s.name;
    say('status', describeStatus(s), s.state !== 'running');
    // The live picture's size is known once its first frame is in.
    if ($('zone-overlay').width !== pictureSize().width) drawZones();
    const key = s.events + '/' + s.eventActive;
    if (key !== shownEvents) {
      await refreshEvents();
      shownEvents = key;
    }
  } catch (e) {
    say('status', 'no answer from the watcher: ' + e.message, true);
  }
  setTimeout(followStatus, statusPeriodMs);
}

// ---- Events ---------------------------------------------------------------

function clock(date) {
  return date.toLocaleString(undefined, {dateStyle: 'short', timeStyle: 'medium'});
}

function eventEntry(e) {
  const item = document.createElement('li');
  item.dataset.eventId = e.id === null ? '' : e.id;
  item.tabIndex = 0;
  const running = e.type === 'start';
  if (e.snapshotUrl) {
    const thumbnail = document.createElement('img');
    thumbnail.src = e.snapshotUrl;
    thumbnail.alt = '';
    thumbnail.loading = 'lazy';
    item.appendChild(thumbnail);
  }
  const text = document.createElement('span');
  if (running) {
    item.classList.add('running');
    text.textContent = 'Event ' + e.event + ' running since ' + clock(new Date(e.time));
  } else {
    const seconds = e.t1 - e.t0;
    const start = new Date(new Date(e.time).getTime() - seconds * 1000);
    text.textContent = clock(start) + ' · ' + seconds.toFixed(1) + ' s · ' + e.objects.length +
        (e.objects.length === 1 ? ' object' : ' objects') + (e.interrupted ? ' · interrupted' : '');
  }
  item.appendChild(text);
  const open = () => openEvent(e, item);
  item.addEventListener('click', open);
  item.addEventListener('keydown', (k) => { if (k.key === 'Enter') open(); });
  return item;
}

function openEvent(e, item) {
  for (const other of $('events').children) other.classList.toggle('chosen', other === item);
  const player = $('player');
  const link = $('clip-link');
  link.textContent = '';
  if (!e.clipUrl) {
    player.removeAttribute('src');
    say('clip-link', e.type === 'start' ? 'The clip is still being written.' : 'The clip is gone.');
  } else if (e.clipUrl.endsWith('.mp4')) {
    player.src = e.clipUrl;
    player.play().catch(() => { /* the user presses play */ });
  } else {
    // Browsers do not play Motion-JPEG AVI: offer it for download.
    player.removeAttribute('src');
    const a = document.createElement('a');
    a.href = e.clipUrl;
    a.download = e.clipUrl.split('/').pop();
    a.textContent = 'Download the clip (AVI)';
    link.appendChild(a);
  }
}

async function refreshEvents() {
  const list = await getJson('/api/events');
  const chosen = document.querySelector('#events li.chosen');
  const chosenId = chosen ? chosen.dataset.eventId : null;
  $('events').replaceChildren(...list.map(eventEntry));
  if (chosenId !== null) {
    for (const item of $('events').children) item.classList.toggle('chosen', item.dataset.eventId === chosenId);
  }
}

// ---- Zone editor ----------------------------------------------------------

const zones = {
  mask: null,      // the mask in force as an image (white watched), or null while loading
  cleared: false,  // "clear all" pressed: the saved mask starts all white
  polygons: [],    // closed polygons to exclude, in picture pixels
  corners: [],     // the polygon being drawn
};

function pictureSize() {
  const live = $('live');
  return {width: live.naturalWidth, height: live.naturalHeight};
}

// A click on the picture, in the picture's own pixels whatever size it is shown at.
function picturePoint(click) {
  const box = $('live').getBoundingClientRect();
  const size = pictureSize();
  const x = Math.floor((click.clientX - box.left) * size.width / box.width);
  const y = Math.floor((click.clientY - box.top) * size.height / box.height);
  return [Math.min(Math.max(x, 0), size.width - 1), Math.min(Math.max(y, 0), size.height - 1)];
}

function tracePolygon(context, corners) {
  context.beginPath();
  corners.forEach(([x, y], i) => (i === 0 ? context.moveTo(x, y) : context.lineTo(x, y)));
  context.closePath();
}

// The excluded parts of a mask as a translucent red layer.
function exclusionLayer(mask, width, height) {
  const canvas = document.createElement('canvas');
  canvas.width = width;
  canvas.height = height;
  const context = canvas.getContext('2d');
  context.drawImage(mask, 0, 0, width, height);
  const pixels = context.getImageData(0, 0, width, height);
  for (let i = 0; i < pixels.data.length; i += 4) {
    const excluded = pixels.data[i] < 128;
    pixels.data.set(excluded ? [200, 0, 0, 110] : [0, 0, 0, 0], i);
  }
  context.putImageData(pixels, 0, 0);
  return canvas;
}

function drawZones() {
  const overlay = $('zone-overlay');
  const size = pictureSize();
  if (!size.width) return;
  overlay.width = size.width;
  overlay.height = size.height;
  const context = overlay.getContext('2d');
  context.clearRect(0, 0, size.width, size.height);
  if (zones.mask && !zones.cleared) context.drawImage(exclusionLayer(zones.mask, size.width, size.height), 0, 0);
  context.fillStyle = 'rgba(200, 0, 0, 0.45)';
  for (const polygon of zones.polygons) {
    tracePolygon(context, polygon);
    context.fill();
  }
  context.strokeStyle = '#ffeb3b';
  context.lineWidth = Math.max(1, size.width / 400);
  if (zones.corners.length > 0) {
    tracePolygon(context, zones.corners);
    context.stroke();
  }
}

async function loadZones() {
  const image = new Image();
  const blob = await (await request('/api/zones.png')).blob();
  image.src = URL.createObjectURL(blob);
  await image.decode();
  zones.mask = image;
  zones.cleared = false;
  zones.polygons = [];
  zones.corners = [];
  drawZones();
}

// The mask to save: the one in force (or all white after "clear all") with
// every closed polygon black.
function composedMask() {
  const size = pictureSize();
  const canvas = document.createElement('canvas');
  canvas.width = size.width;
  canvas.height = size.height;
  const context = canvas.getContext('2d');
  context.fillStyle = '#fff';
  context.fillRect(0, 0, size.width, size.height);
  if (zones.mask && !zones.cleared) context.drawImage(zones.mask, 0, 0, size.width, size.height);
  context.fillStyle = '#000';
  for (const polygon of zones.polygons) {
    tracePolygon(context, polygon);
    context.fill();
  }
  return new Promise((resolve) => canvas.toBlob(resolve, 'image/png'));
}

async function saveZones() {
  if (zones.corners.length >= 3) closePolygon();
  try {
    const persist = $('zone-persist').checked ? '?persist=1' : '';
    await request('/api/zones.png' + persist, {method: 'PUT', body: await composedMask(),
                                                headers: {'Content-Type': 'image/png'}});
    await loadZones();
    say('zone-message', persist ? 'Zones saved and kept.' : 'Zones saved until the watcher restarts.');
  } catch (e) {
    say('zone-message', 'Not saved: ' + e.message, true);
  }
}

function closePolygon() {
  if (zones.corners.length < 3) {
    say('zone-message', 'A polygon needs at least three corners.', true);
    return;
  }
  zones.polygons.push(zones.corners);
  zones.corners = [];
  say('zone-message', zones.polygons.length + ' new zone(s); save to apply.');
  drawZones();
}

function startZoneEditor() {
  $('live').addEventListener('click', (click) => {
    if (!pictureSize().width) return;
    zones.corners.push(picturePoint(click));
    drawZones();
  });
  $('zone-close').addEventListener('click', closePolygon);
  $('zone-clear').addEventListener('click', () => {
    zones.cleared = true;
    zones.polygons = [];
    zones.corners = [];
    say('zone-message', 'Everything watched; save to apply.');
    drawZones();
  });
  $('zone-save').addEventListener('click', saveZones);
  loadZones().catch((e) => say('zone-message', 'Zones not loaded: ' + e.message, true));
}

// ---- Settings -------------------------------------------------------------

let appliedSettings = {};

function settingField(parameter, value) {
  const label = document.createElement('label');
  const name = document.createElement('span');
  name.textContent = parameter.key;
  name.title = parameter.meaning;
  const input = document.createElement('input');
  input.type = 'number';
  input.name = parameter.key;
  input.min = parameter.min;
  input.max = parameter.max;
  input.step = parameter.integer ? '1' : 'any';
  input.value = value;
  const range = document.createElement('span');
  range.className = 'range';
  range.textContent = parameter.min + ' to ' + parameter.max + (parameter.integer ? ', whole numbers' : '') +
      ' (default ' + parameter.default + '): ' + parameter.meaning;
  label.append(name, input, range);
  return label;
}

async function loadSettings() {
  const [parameters, values] = await Promise.all([getJson('/api/parameters'), getJson('/api/settings')]);
  appliedSettings = values;
  $('settings').replaceChildren(...parameters.map((p) => settingField(p, values[p.key])));
}

async function applySettings() {
  const changes = {};
  for (const input of $('settings').elements) {
    if (input.value === '' || Number(input.value) === appliedSettings[input.name]) continue;
    changes[input.name] = Number(input.value);
  }
  const persist = $('settings-persist').checked;
  try {
    appliedSettings = await (await request('/api/settings' + (persist ? '?persist=1' : ''), {
      method: 'PUT', headers: {'Content-Type': 'application/json'}, body: JSON.stringify(changes)})).json();
    for (const input of $('settings').elements) input.value = appliedSettings[input.name];
    const count = Object.keys(changes).length;
    say('settings-message', (count === 0 ? 'Nothing changed' : count + ' setting(s) applied') + (persist ? ' and kept.' : '.'));
  } catch (e) {
    say('settings-message', 'Not applied: ' + e.message, true);
  }
}

function startSettings() {
  $('settings').addEventListener('submit', (e) => { e.preventDefault(); applySettings(); });
  $('settings-apply').addEventListener('click', applySettings);
  loadSettings().catch((e) => say('settings-message', 'Settings not loaded: ' + e.message, true));
}

startLiveView();
startZoneEditor();
startSettings();
followStatus();
