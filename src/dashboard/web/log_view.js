'use strict';
// The log view: an MLG log of the project's logs folder (or the one given with --log) as
// channels over time, drawn by uPlot. The server sends the chosen channels as one binary body
// (see fetchColumns), so that a long log loads without megabytes of JSON. Drag to zoom in on a
// span, the wheel zooms around the pointer, the arrow buttons or keys pan, a double-click or
// "Whole log" shows all of it; the log's markers are dashed lines with their text.

const logView = {
  name: null,     // the log shown
  fields: null,   // its /log/fields answer
  plot: null,     // the uPlot instance, also window.logPlot for the tests
  request: 0,     // the latest request, so that a slow answer to an older one is dropped
};
const MAX_CHANNELS = 8;
const COLOURS = ['#1565c0', '#c62828', '#2e7d32', '#ef6c00', '#6a1b9a', '#00838f', '#5d4037',
                 '#ad1457'];

function logError(text) {
  const box = document.getElementById('log-error');
  box.textContent = text || '';
  box.hidden = !text;
}

async function fetchJson(url) {
  const response = await fetch(url);
  const body = await response.json();
  if (!response.ok) throw new Error(body.error || `${url}: ${response.status}`);
  return body;
}

// The body: uint32 records n, uint32 channels k, n float64 times, then k runs of n float32.
async function fetchColumns(name, channels) {
  const query = new URLSearchParams({name});
  for (const c of channels) query.append('channel', c);
  const response = await fetch('log/columns?' + query);
  if (!response.ok) throw new Error((await response.json()).error);
  const buffer = await response.arrayBuffer();
  const view = new DataView(buffer);
  const n = view.getUint32(0, true);
  const k = view.getUint32(4, true);
  const data = [new Float64Array(buffer, 8, n)];
  for (let i = 0; i < k; i++) data.push(new Float32Array(buffer, 8 + 8 * n + 4 * n * i, n));
  return data;
}

// Draws each marker of the visible span as a dashed line with its text at the top.
function drawMarkers(u) {
  const markers = logView.fields ? logView.fields.markers : [];
  const {ctx, bbox} = u;
  const [low, high] = [u.scales.x.min, u.scales.x.max];
  ctx.save();
  ctx.strokeStyle = '#e65100';
  ctx.fillStyle = '#e65100';
  ctx.lineWidth = devicePixelRatio;
  ctx.setLineDash([6 * devicePixelRatio, 4 * devicePixelRatio]);
  ctx.font = `${12 * devicePixelRatio}px sans-serif`;
  let shown = 0;
  for (const m of markers) {
    if (m.time < low || m.time > high) continue;
    const x = Math.round(u.valToPos(m.time, 'x', true));
    ctx.beginPath();
    ctx.moveTo(x, bbox.top);
    ctx.lineTo(x, bbox.top + bbox.height);
    ctx.stroke();
    // Texts of markers close together go on lines of their own; near the right edge, leftwards.
    const right = x > bbox.left + 0.7 * bbox.width;
    ctx.textAlign = right ? 'right' : 'left';
    ctx.fillText(m.text, x + (right ? -4 : 4) * devicePixelRatio,
                 bbox.top + (14 + 15 * (shown++ % 4)) * devicePixelRatio);
  }
  ctx.restore();
}

function zoomTo(low, high) {
  const u = logView.plot;
  if (!u || !(high > low)) return;
  u.setScale('x', {min: low, max: high});
}

function pan(fraction) {
  const u = logView.plot;
  if (!u || !logView.fields) return;
  const {min, max} = u.scales.x;
  const {start, end} = logView.fields;
  // Kept within the log: a pan stops at its first or last record.
  const shift = Math.min(Math.max((max - min) * fraction, start - min), end - max);
  zoomTo(min + shift, max + shift);
}

// The wheel zooms in or out around the time under the pointer.
function wheelZoom(u) {
  u.over.addEventListener('wheel', (e) => {
    e.preventDefault();
    const {min, max} = u.scales.x;
    const at = u.posToVal(e.offsetX, 'x');
    const factor = e.deltaY < 0 ? 0.75 : 1 / 0.75;
    zoomTo(at - (at - min) * factor, at + (max - at) * factor);
  }, {passive: false});
}

function plotSize() {
  const box = document.getElementById('log-plot');
  return {width: Math.max(300, box.clientWidth), height: 420};
}

async function drawLog() {
  const channels = [...document.getElementById('log-channels').selectedOptions]
                       .map((o) => o.value).slice(0, MAX_CHANNELS);
  const request = ++logView.request;
  const data = await fetchColumns(logView.name, channels);
  if (request !== logView.request) return;
  const byName = new Map(logView.fields.fields.map((f) => [f.name, f]));
  const series = [{label: 'time (s)', value: (u, v) => (v == null ? '' : v.toFixed(2))}];
  const axes = [{label: 'seconds', stroke: '#333'}];
  channels.forEach((name, i) => {
    const field = byName.get(name) || {units: '', digits: 2};
    const colour = COLOURS[i % COLOURS.length];
    // Each channel on its own scale, so that rpm and lambda both fill the plot; the first two
    // have their axis drawn, left and right.
    series.push({label: field.units ? `${name} (${field.units})` : name, stroke: colour,
                 width: 1.5, scale: 's' + i, points: {show: false},
                 value: (u, v) => (v == null ? '' : v.toFixed(Math.max(0, field.digits)))});
    if (i < 2) axes.push({scale: 's' + i, side: i === 0 ? 3 : 1, stroke: colour, grid: {show: i === 0}});
  });
  const options = {
    ...plotSize(),
    scales: {x: {time: false}},
    series,
    axes,
    cursor: {drag: {x: true, y: false}},
    hooks: {draw: [drawMarkers], ready: [wheelZoom]},
  };
  if (logView.plot) logView.plot.destroy();
  logView.plot = new uPlot(options, data, document.getElementById('log-plot'));
  window.logPlot = logView.plot;
}

function listMarkers(markers) {
  const list = document.getElementById('log-markers');
  list.replaceChildren();
  for (const m of markers) {
    const item = document.createElement('li');
    item.textContent = `${m.time.toFixed(2)} s: ${m.text}`;
    item.onclick = () => zoomTo(m.time - 10, m.time + 10);
    list.appendChild(item);
  }
}

async function openLog(name) {
  logView.name = name;
  logView.fields = null;
  if (logView.plot) logView.plot.destroy();
  logView.plot = window.logPlot = null;
  document.getElementById('log-channels').replaceChildren();
  listMarkers([]);
  document.getElementById('log-info').textContent = '';
  try {
    logError(null);
    const fields = await fetchJson('log/fields?' + new URLSearchParams({name}));
    if (logView.name !== name) return;
    logView.fields = fields;
    const picker = document.getElementById('log-channels');
    for (const f of fields.fields) picker.add(new Option(f.name, f.name));
    // RPM to begin with, the channel every log has and people look at first.
    const rpm = fields.fields.find((f) => /^rpm$/i.test(f.name)) ||
                fields.fields.find((f) => /rpm/i.test(f.name)) || fields.fields[1] || fields.fields[0];
    if (rpm) picker.options[fields.fields.indexOf(rpm)].selected = true;
    document.getElementById('log-info').textContent =
        `${fields.records} records, ${(fields.end - fields.start).toFixed(1)} s, ` +
        `${fields.markers.length} markers`;
    listMarkers(fields.markers);
    if (rpm) await drawLog();
  } catch (e) {
    logError(String(e.message || e));
  }
}

async function setUpLogs() {
  const names = await fetchJson('logs.json');
  const choice = document.getElementById('log-choice');
  for (const n of names) choice.add(new Option(n, n));
  if (!names.length) logError('No logs: put .mlg files in the project\'s logs folder or start with --log FILE');
  choice.onchange = () => openLog(choice.value);
  document.getElementById('log-channels').onchange = () =>
    drawLog().catch((e) => logError(String(e.message || e)));
  document.getElementById('log-left').onclick = () => pan(-0.5);
  document.getElementById('log-right').onclick = () => pan(0.5);
  document.getElementById('log-reset').onclick = () =>
    logView.fields && zoomTo(logView.fields.start, logView.fields.end);
  document.addEventListener('keydown', (e) => {
    if (document.getElementById('log-view').hidden || e.target.tagName === 'SELECT') return;
    if (e.key === 'ArrowLeft') pan(-0.25);
    if (e.key === 'ArrowRight') pan(0.25);
  });
  // The first log is opened when the view is first shown, since uPlot needs the plot's width.
  document.addEventListener('log-view-shown', () => {
    if (logView.name === null && names.length) openLog(choice.value);
  });
  window.addEventListener('resize', () => logView.plot && logView.plot.setSize(plotSize()));
}

setUpLogs();
