// Drives the dashboard page in headless Chromium against the simulated controller: the page
// loads without console errors, the gauges show the simulator's rpm and coolant and move, the
// page says "no controller" while the simulator is gone and recovers when it is back; the log
// view draws a corpus log's RPM with a point per record and a log's markers, and shows a damaged
// log's error (corpus parts skipped with a message when ../shared/corpus is absent).
// Usage: node dashboard_test.mjs <torvik-cli> <torvik-ecu-sim> <ini> <artifact folder>
// Exits 77 (skipped) when Chromium is not installed.
import {spawn, spawnSync} from 'node:child_process';
import {copyFileSync, existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import path from 'node:path';

const [cli, simExe, ini, artifacts] = process.argv.slice(2);
const chromium = ['/usr/bin/chromium', '/usr/bin/chromium-browser'].find(existsSync);
if (!chromium) {
  console.log('SKIPPED: chromium is not installed');
  process.exit(77);
}
let puppeteer;
try {
  puppeteer = (await import('puppeteer-core')).default;
} catch (e) {
  console.log('SKIPPED: puppeteer-core is not installed (run npm ci in tests/browser)');
  process.exit(77);
}

const work = mkdtempSync(path.join(tmpdir(), 'tk-dashboard-'));
const children = [];
let failures = 0;

function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures++;
}

// Starts a program and resolves with the first line of the stream that matches.
function startUntil(program, args, stream, pattern) {
  const child = spawn(program, args, {stdio: ['ignore', 'pipe', 'pipe']});
  children.push(child);
  return new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error(`${program}: no ready line: ${text}`)), 15000);
    child[stream].on('data', (chunk) => {
      text += chunk;
      const match = text.match(pattern);
      if (match) {
        clearTimeout(timer);
        resolve({child, match});
      }
    });
    child.on('exit', () => reject(new Error(`${program} ended early: ${text}`)));
  });
}

function run(args) {
  const result = spawnSync(cli, args, {encoding: 'utf8'});
  if (result.status !== 0) throw new Error(`${args[0]} failed: ${result.stdout}${result.stderr}`);
}

async function startSim(port) {
  const {child, match} = await startUntil(simExe, ['--ini', ini, '--port', String(port)], 'stdout',
                                          /ready tcp 127\.0\.0\.1 (\d+)/);
  return {child, port: Number(match[1])};
}

function stop(child) {
  return new Promise((resolve) => {
    child.removeAllListeners('exit');
    child.on('exit', (code, signal) => resolve({code, signal}));
    child.kill('SIGTERM');
  });
}

async function gaugeValue(page, channel) {
  return page.$eval(`.gauge[data-channel="${channel}"] .value`, (e) => e.textContent);
}

async function waitForStatus(page, pattern, ms) {
  await page.waitForFunction((p) => new RegExp(p).test(document.getElementById('status').textContent),
                             {timeout: ms}, pattern);
}

let browser;
try {
  let sim = await startSim(0);
  const folder = path.join(work, 'p');
  run(['create-project', '--name', 'Demo', '--ini', ini, '--folder', folder]);
  const project = path.join(folder, 'Demo.tkproj');
  run(['set-connection', '-p', project, '--protocol', 'TcpBridge', '--host', '127.0.0.1', '--tcp-port',
       String(sim.port)]);
  const ve = Array.from({length: 16}, (_, r) =>
    Array.from({length: 16}, (_, c) => Math.round(35 + 3 * r + 2 * c - 0.1 * (c - 9) ** 2)));
  run(['set-table', '-p', project, '--id', 'veTable1Tbl', '--values', JSON.stringify(ve), '--offline']);
  // Axes for the fuel table, so that the table view has cells to mark (a new tune holds zeros).
  for (let i = 0; i < 16; i++) {
    run(['set-field', '-p', project, '--name', 'rpmBins', '--index', String(i), '--value',
         String(500 + 500 * i), '--offline']);
    run(['set-field', '-p', project, '--name', 'fuelLoadBins', '--index', String(i), '--value',
         String(16 + 12 * i), '--offline']);
  }

  // Logs: a v2 corpus log given with --log, a v1 one with markers and a damaged one in logs/.
  const corpus = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../../../shared/corpus/mlg');
  const rpmLog = path.join(corpus, 'passat-202501-v2-markers.mlg');
  const markerLog = 'miata-202012-v1-markers.mlg';
  const haveCorpus = existsSync(rpmLog) && existsSync(path.join(corpus, markerLog));
  mkdirSync(path.join(folder, 'logs'));
  writeFileSync(path.join(folder, 'logs', 'broken.mlg'), 'MLVLG\0\0\x01 cut short');
  if (haveCorpus) copyFileSync(path.join(corpus, markerLog), path.join(folder, 'logs', markerLog));
  else console.log('SKIPPED (part): corpus logs absent, the log view is checked on a damaged log only');

  const started = Date.now();
  const dash = await startUntil(cli, ['dashboard', '-p', project, '--port', '0',
                                      ...(haveCorpus ? ['--log', rpmLog] : [])], 'stderr',
                                /Dashboard at (http:\/\/127\.0\.0\.1:\d+\/)/);
  const url = dash.match[1];
  browser = await puppeteer.launch({executablePath: chromium, headless: true,
                                    args: ['--no-sandbox', '--disable-gpu']});
  const page = await browser.newPage();
  await page.setViewport({width: 1100, height: 700});
  const errors = [];
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  page.on('pageerror', (e) => errors.push(String(e)));

  const loadStart = Date.now();
  await page.goto(url, {waitUntil: 'load'});
  await page.waitForSelector('.gauge[data-channel="rpm"]');
  console.log(`page loaded in ${Date.now() - loadStart} ms (server started ${loadStart - started} ms before)`);
  await waitForStatus(page, '^live$', 5000);
  await page.waitForFunction(() => !document.querySelector('.gauge[data-channel="rpm"]').classList.contains('stale'));
  const rpm1 = Number(await gaugeValue(page, 'rpm'));
  const clt = Number(await gaugeValue(page, 'coolant'));
  check(rpm1 > 0 && rpm1 < 9000, `rpm gauge shows the engine's ${rpm1}`);
  check(clt > -40 && clt < 130, `coolant gauge shows ${clt}`);
  const seen = new Set();
  // The idling engine moves by a step or two; a slow (sanitizer) build may need longer to show it.
  for (let i = 0; i < 100 && seen.size < 2; i++) {
    seen.add(await gaugeValue(page, 'rpm'));
    await new Promise((r) => setTimeout(r, 100));
  }
  check(seen.size > 1, `rpm changed within ten seconds (${[...seen].slice(0, 5).join(', ')})`);
  await page.screenshot({path: path.join(artifacts, 'dashboard-gauges.png')});

  // The table view marks the cells around the simulator's rpm and load: checked in one task of
  // the page, so that the text and the marks come from the same frame.
  await page.click('#show-table');
  await page.waitForFunction(() => document.querySelectorAll('#heat-map td.current').length === 1);
  const marked = await page.evaluate(async () => {
    const table = await (await fetch('table/' + document.getElementById('table-choice').value)).json();
    const [, x, y] = document.getElementById('operating-point').textContent
                         .match(/^\S+ (-?[\d.]+), \S+ (-?[\d.]+)$/).map(Number);
    const current = document.querySelector('#heat-map td.current');
    const active = [...document.querySelectorAll('#heat-map td.active')]
                       .map((td) => [Number(td.dataset.row), Number(td.dataset.col)]);
    return {table, x, y, current: [Number(current.dataset.row), Number(current.dataset.col)], active};
  });
  const nearest = (bins, v) => bins.reduce((best, b, i) =>
      Math.abs(b - v) < Math.abs(bins[best] - v) ? i : best, 0);
  const expected = [nearest(marked.table.yBins, marked.y), nearest(marked.table.xBins, marked.x)];
  check(String(marked.current) === String(expected),
        `table marks cell ${marked.current} for ${marked.table.xChannel} ${marked.x}, ` +
        `${marked.table.yChannel} ${marked.y} (nearest bins ${expected})`);
  check(marked.active.length === 4 || marked.active.length === 2 || marked.active.length === 1,
        `${marked.active.length} active cells around the operating point`);
  await page.screenshot({path: path.join(artifacts, 'dashboard-table.png')});
  await page.click('#show-log');
  const logShown = (name) => page.evaluate(async (n) => {
    const fields = await (await fetch('log/fields?name=' + encodeURIComponent(n))).json();
    return {fields, lengths: window.logPlot.data.map((d) => d.length), label: window.logPlot.series[1].label,
            markers: document.querySelectorAll('#log-markers li').length};
  }, name);
  if (haveCorpus) {
    await page.waitForFunction(() => window.logPlot);
    const rpm = await logShown(path.basename(rpmLog));
    check(/^rpm/i.test(rpm.label) && rpm.fields.records > 0 &&
          rpm.lengths.every((n) => n === rpm.fields.records),
          `log view draws ${rpm.label} with ${rpm.lengths} points for ${rpm.fields.records} records`);
    await page.select('#log-choice', markerLog);
    await page.waitForFunction(() => window.logPlot && document.querySelectorAll('#log-markers li').length);
    const marked = await logShown(markerLog);
    check(marked.markers === marked.fields.markers.length && marked.markers > 0,
          `${marked.markers} markers listed of the log's ${marked.fields.markers.length}`);
    // A second channel (throttle) on the same plot, on a scale of its own.
    await page.evaluate(() => {
      const picker = document.getElementById('log-channels');
      for (const o of picker.options) if (/^tps$/i.test(o.value)) o.selected = true;
      picker.dispatchEvent(new Event('change'));
    });
    await page.waitForFunction(() => window.logPlot && window.logPlot.series.length === 3);
    await page.screenshot({path: path.join(artifacts, 'dashboard-log.png')});
    // The wheel zooms in around the pointer, the arrow button pans (no further than the start).
    const span = () => page.evaluate(() => [window.logPlot.scales.x.min, window.logPlot.scales.x.max]);
    const whole = await span();
    const box = await (await page.$('#log-plot .u-over')).boundingBox();
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.wheel({deltaY: -100});
    const zoomed = await span();
    await page.click('#log-left');
    const panned = await span();
    check(zoomed[1] - zoomed[0] < 0.8 * (whole[1] - whole[0]) &&
          panned[0] < zoomed[0] && panned[0] > whole[0] - 1e-6 &&
          Math.abs(panned[1] - panned[0] - (zoomed[1] - zoomed[0])) < 1e-6,
          `wheel zooms ${whole} to ${zoomed}, the left arrow pans to ${panned}`);
  }
  await page.select('#log-choice', 'broken.mlg');
  await page.waitForFunction(() => /^Cannot read log 'broken.mlg'/.test(document.getElementById('log-error').textContent));
  check(true, 'a damaged log shows its error in the page');
  // The browser reports the damaged log's 422 answer as a console error of its own.
  errors.splice(0, errors.length, ...errors.filter((e) => !/status of 422/.test(e)));
  await page.click('#show-gauges');

  // Requests outside the page's files are refused and the server goes on.
  for (const bad of ['..%2f..%2fetc%2fpasswd', '%2e%2e/%2e%2e/etc/passwd', 'live', 'nothing.js',
                     'log/fields?name=..%2FDemo.tkproj', 'log/fields?name=%2Fetc%2Fpasswd',
                     'vendor/..%2Fdashboard.js']) {
    const status = (await fetch(url + bad)).status;
    check(status === 404, `${bad} is not found (${status})`);
  }

  await stop(sim.child);
  await waitForStatus(page, '^no controller', 5000);
  check(true, 'page says "no controller" with the simulator gone');
  await page.screenshot({path: path.join(artifacts, 'dashboard-no-controller.png')});
  sim = await startSim(sim.port);
  await waitForStatus(page, '^live$', 8000);
  check(true, 'page is live again once the simulator is back');

  check(errors.length === 0, `no console errors ${errors.join(' | ')}`);
  await browser.close();
  browser = null;
  const ended = await stop(dash.child);
  check(ended.code === 0, `dashboard stops cleanly on SIGTERM (exit ${ended.code})`);
  await stop(sim.child);
} catch (e) {
  console.log(`FAIL ${e.stack || e}`);
  failures++;
} finally {
  if (browser) await browser.close();
  for (const child of children) if (child.exitCode === null) child.kill('SIGKILL');
  rmSync(work, {recursive: true, force: true});
}
process.exit(failures ? 1 : 0);
