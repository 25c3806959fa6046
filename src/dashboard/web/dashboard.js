'use strict';
// Draws the gauges from /gauges.json and moves them with the frames of the live WebSocket; a
// lost socket or an unreachable controller shows as "no controller" until frames come again.

const SWEEP = 270;  // degrees of the scale, from lower left round to lower right
const START = 135;
const svgNs = 'http://www.w3.org/2000/svg';
const gauges = new Map();  // channel -> {spec, element, needle, value}

function polar(cx, cy, r, degrees) {
  const a = degrees * Math.PI / 180;
  return [cx + r * Math.cos(a), cy + r * Math.sin(a)];
}

function angleOf(spec, v) {
  const f = Math.min(1, Math.max(0, (v - spec.min) / (spec.max - spec.min)));
  return START + f * SWEEP;
}

function arc(spec, from, to, colour, width) {
  const a0 = angleOf(spec, from);
  const a1 = angleOf(spec, to);
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

function makeGauge(spec) {
  const box = document.createElement('div');
  box.className = 'gauge stale';
  box.dataset.channel = spec.channel;
  const svg = document.createElementNS(svgNs, 'svg');
  svg.setAttribute('viewBox', '0 0 120 100');
  const parts = [arc(spec, spec.min, spec.max, '#555', 8)];
  if (spec.lowDanger !== undefined) parts.push(arc(spec, spec.min, spec.lowDanger, '#e53935', 8));
  if (spec.lowWarning !== undefined) {
    parts.push(arc(spec, spec.lowDanger ?? spec.min, spec.lowWarning, '#fbc02d', 8));
  }
  if (spec.highWarning !== undefined) {
    parts.push(arc(spec, spec.highWarning, spec.highDanger ?? spec.max, '#fbc02d', 8));
  }
  if (spec.highDanger !== undefined) parts.push(arc(spec, spec.highDanger, spec.max, '#e53935', 8));
  for (const p of parts) if (p) svg.appendChild(p);
  const needle = document.createElementNS(svgNs, 'line');
  needle.setAttribute('x1', 60);
  needle.setAttribute('y1', 60);
  needle.setAttribute('stroke', '#fff');
  needle.setAttribute('stroke-width', 2.5);
  svg.appendChild(needle);
  const title = document.createElement('div');
  title.className = 'title';
  title.textContent = spec.title;
  const value = document.createElement('div');
  value.className = 'value';
  value.textContent = '--';
  const units = document.createElement('div');
  units.className = 'units';
  units.textContent = spec.units;
  box.append(title, svg, value, units);
  const gauge = {spec, element: box, needle, value};
  setNeedle(gauge, spec.min);
  return gauge;
}

function setNeedle(gauge, v) {
  const [x, y] = polar(60, 60, 42, angleOf(gauge.spec, v));
  gauge.needle.setAttribute('x2', x);
  gauge.needle.setAttribute('y2', y);
}

function showStatus(up, text) {
  const status = document.getElementById('status');
  status.className = 'status ' + (up ? 'up' : 'down');
  status.textContent = text;
  if (!up) for (const g of gauges.values()) g.element.classList.add('stale');
}

function onFrame(frame) {
  if (!frame.connected) {
    showStatus(false, 'no controller' + (frame.reason ? ': ' + frame.reason : ''));
    return;
  }
  showStatus(true, 'live');
  for (const g of gauges.values()) {
    const v = frame.values[g.spec.channel];
    if (typeof v !== 'number') continue;
    g.element.classList.remove('stale');
    g.value.textContent = v.toFixed(g.spec.digits);
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
  for (const spec of specs) {
    const gauge = makeGauge(spec);
    gauges.set(spec.channel, gauge);
    main.appendChild(gauge.element);
  }
  connectLive();
}

start();
