'use strict';
// Draws the gauges from /gauges.json and moves them with the frames of the live WebSocket; a
// lost socket or an unreachable controller shows as "no controller" until frames come again.

const SWEEP = 270;  // degrees of the scale, from lower left round to lower right
const START = 135;
const svgNs = 'http://www.w3.org/2000/svg';
const gauges = new Map();  // channel -> {face, element, needle, value}

function polar(cx, cy, r, degrees) {
  const a = degrees * Math.PI / 180;
  return [cx + r * Math.cos(a), cy + r * Math.sin(a)];
}

function angleOf(face, v) {
  const f = Math.min(1, Math.max(0, (v - face.min) / (face.max - face.min)));
  return START + f * SWEEP;
}

function arc(face, from, to, colour, width) {
  const a0 = angleOf(face, from);
  const a1 = angleOf(face, to);
  if (a1 <= a0) return null;
  const [x0, y0] = polar(60, 60, 48, a0);
  const [x1, y1] = polar(60, 60, 48, a1);
  const path = document.createElementNS(svgNs, 'path');
  path.setAttribute('d', `M ${x0} ${y0} A 48 48 0 ${a1 - a0 > 180 ? 1 : 0} 1 ${x1} ${y1}`);
  path.setAttribute('stroke', colour);
  path.setAttribute('stroke-width', width);
  path.setAttribute('fill', 'none');
  return path;
}

function makeGauge(face) {
  const box = document.createElement('div');
  box.className = 'gauge stale';
  box.dataset.channel = face.channel;
  const svg = document.createElementNS(svgNs, 'svg');
  svg.setAttribute('viewBox', '0 0 120 100');
  const parts = [arc(face, face.min, face.max, '#555', 8)];
  if (face.lowDanger !== undefined) parts.push(arc(face, face.min, face.lowDanger, '#e53935', 8));
  if (face.lowWarning !== undefined) {
    parts.push(arc(face, face.lowDanger ?? face.min, face.lowWarning, '#fbc02d', 8));
  }
  if (face.highWarning !== undefined) {
    parts.push(arc(face, face.highWarning, face.highDanger ?? face.max, '#fbc02d', 8));
  }
  if (face.highDanger !== undefined) parts.push(arc(face, face.highDanger, face.max, '#e53935', 8));
  for (const p of parts) if (p) svg.appendChild(p);
  const needle = document.createElementNS(svgNs, 'line');
  needle.setAttribute('x1', 60);
  needle.setAttribute('y1', 60);
  needle.setAttribute('stroke', '#fff');
  needle.setAttribute('stroke-width', 2.5);
  svg.appendChild(needle);
  const title = document.createElement('div');
  title.className = 'title';
  title.textContent = face.title;
  const value = document.createElement('div');
  value.className = 'value';
  value.textContent = '--';
  const units = document.createElement('div');
  units.className = 'units';
  units.textContent = face.units;
  box.append(title, svg, value, units);
  const gauge = {face, element: box, needle, value};
  setNeedle(gauge, face.min);
  return gauge;
}

function setNeedle(gauge, v) {
  const [x, y] = polar(60, 60, 42, angleOf(gauge.face, v));
  gauge.needle.setAttribute('x2', x);
  gauge.needle.setAttribute('y2', y);
}

function showStatus(up, text) {
  const status = document.getElementById('status');
  status.className = 'status ' + (up ? 'up' : 'down');
  status.textContent = text;
  if (!up) for (const g of gauges.values()) g.element.classList.add('stale');
}

// The table view: one table as a heat map, the four cells around the engine's operating point
// (the table's axis channels) outlined and the nearest of them marked as the current cell.
let heatMap = null;  // {face, cells: rows of td, row 0 the lowest load}

function heatColour(f) {
  const hue = (1 - Math.min(1, Math.max(0, f))) * 240;
  return `hsl(${hue}, 100%, 68%)`;
}

// The index i with bins[i] <= v <= bins[i + 1] (clamped to the ends) and the fraction between.
function locate(bins, v) {
  if (bins.length < 2 || !(v > bins[0])) return [0, 0];
  for (let i = 0; i + 1 < bins.length; i++) {
    if (v <= bins[i + 1]) return [i, (v - bins[i]) / (bins[i + 1] - bins[i] || 1)];
  }
  return [bins.length - 2, 1];
}

function drawTable(face) {
  const table = document.getElementById('heat-map');
  table.replaceChildren();
  const finite = face.values.filter((v) => v !== null);
  const low = Math.min(...finite);
  const high = Math.max(...finite);
  const cells = [];
  for (let r = face.rows - 1; r >= 0; r--) {
    const tr = table.insertRow();
    const th = document.createElement('th');
    th.textContent = face.yBins[r] !== undefined ? face.yBins[r].toFixed(face.yDigits) : '';
    tr.appendChild(th);
    cells[r] = [];
    for (let c = 0; c < face.cols; c++) {
      const v = face.values[r * face.cols + c];
      const td = tr.insertCell();
      td.textContent = v === null ? '' : v.toFixed(face.digits);
      td.style.background = heatColour(high > low ? (v - low) / (high - low) : 0.5);
      td.dataset.row = r;
      td.dataset.col = c;
      cells[r][c] = td;
    }
  }
  const axis = table.insertRow();
  axis.appendChild(document.createElement('th'));
  for (let c = 0; c < face.cols; c++) {
    const th = document.createElement('th');
    th.textContent = face.xBins[c] !== undefined ? face.xBins[c].toFixed(face.xDigits) : '';
    axis.appendChild(th);
  }
  const names = table.insertRow();
  const label = document.createElement('th');
  label.colSpan = face.cols + 1;
  label.textContent = `${face.xName} across, ${face.yName} up` + (face.units ? ` (${face.units})` : '');
  names.appendChild(label);
  heatMap = {face, cells};
}

function markOperatingPoint(values) {
  if (!heatMap) return;
  const {face, cells} = heatMap;
  const x = values[face.xChannel];
  const y = values[face.yChannel];
  for (const td of document.querySelectorAll('#heat-map td.active, #heat-map td.current')) {
    td.classList.remove('active', 'current');
  }
  if (typeof x !== 'number' || typeof y !== 'number') return;
  const [c, fx] = locate(face.xBins, x);
  const [r, fy] = locate(face.yBins, y);
  for (const [rr, cc] of [[r, c], [r, c + 1], [r + 1, c], [r + 1, c + 1]]) {
    if (cells[rr] && cells[rr][cc]) cells[rr][cc].classList.add('active');
  }
  const near = cells[r + (fy >= 0.5 ? 1 : 0)]?.[c + (fx >= 0.5 ? 1 : 0)];
  if (near) near.classList.add('current');
  document.getElementById('operating-point').textContent =
      `${face.xChannel} ${x.toFixed(face.xDigits)}, ${face.yChannel} ${y.toFixed(face.yDigits)}`;
}

async function chooseTable(id) {
  const response = await fetch('table/' + encodeURIComponent(id));
  drawTable(await response.json());
}

function showView(name) {
  document.getElementById('gauges').hidden = name !== 'gauges';
  document.getElementById('table-view').hidden = name !== 'table';
  document.getElementById('log-view').hidden = name !== 'log';
  for (const view of ['gauges', 'table', 'log']) {
    document.getElementById('show-' + view).classList.toggle('chosen', name === view);
  }
  // The log view (log_view.js) draws once it is visible and thus has a size.
  if (name === 'log') document.dispatchEvent(new Event('log-view-shown'));
}

async function setUpTables() {
  const tables = await (await fetch('tables.json')).json();
  const choice = document.getElementById('table-choice');
  for (const t of tables) choice.add(new Option(t.title, t.id));
  choice.onchange = () => chooseTable(choice.value);
  document.getElementById('show-gauges').onclick = () => showView('gauges');
  document.getElementById('show-table').onclick = () => showView('table');
  document.getElementById('show-log').onclick = () => showView('log');
  // The fuel table first when there is one: it is the one people watch.
  const ve = tables.find((t) => /^ve/i.test(t.id));
  if (ve) choice.value = ve.id;
  if (tables.length) await chooseTable(choice.value);
}

function onFrame(frame) {
  if (!frame.connected) {
    showStatus(false, 'no controller' + (frame.reason ? ': ' + frame.reason : ''));
    return;
  }
  showStatus(true, 'live');
  markOperatingPoint(frame.values);
  for (const g of gauges.values()) {
    const v = frame.values[g.face.channel];
    if (typeof v !== 'number') continue;
    g.element.classList.remove('stale');
    g.value.textContent = v.toFixed(g.face.digits);
    setNeedle(g, v);
  }
}

function connectLive() {
  const socket = new WebSocket(`ws://${location.host}/live`);
  socket.onmessage = (event) => {
    try {
      onFrame(JSON.parse(event.data));
    } catch (e) {
      // A frame that cannot be read leaves the gauges as they were.
    }
  };
  socket.onclose = () => {
    showStatus(false, 'no controller: dashboard not reachable');
    setTimeout(connectLive, 1000);
  };
}

async function start() {
  const response = await fetch('gauges.json');
  const specs = await response.json();
  const main = document.getElementById('gauges');
  for (const face of specs) {
    const gauge = makeGauge(face);
    gauges.set(face.channel, gauge);
    main.appendChild(gauge.element);
  }
  await setUpTables();
  connectLive();
}

start();
