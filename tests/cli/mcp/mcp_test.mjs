// torvik-cli mcp driven by the official MCP client over stdio, against torvik-ecu-sim over
// loopback TCP. Usage: node mcp_test.mjs <torvik-cli> <torvik-ecu-sim> <definition.ini>
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

const [cli, simExe, ini] = process.argv.slice(2);
const dir = mkdtempSync(join(tmpdir(), 'tk-mcp-'));
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const run = (...args) => JSON.parse(execFileSync(cli, args, { encoding: 'utf8' }));

// Every command of the table but the session command itself.
const kTools = ['open-project', 'create-project', 'list-tables', 'list-curves', 'list-scalars',
  'list-fields', 'list-channels', 'list-commands', 'get-table', 'get-curve', 'get-scalar',
  'get-field', 'set-scalar', 'set-field', 'set-table', 'set-table-cell', 'set-curve',
  'set-curve-point', 'set-bits', 'save', 'import-msq', 'export-msq', 'connect', 'sync', 'burn',
  'read-tune', 'send-command', 'get-signature', 'get-firmware', 'get-config-error',
  'send-console', 'datalog', 'read-channels', 'set-connection', 'apply-edits',
  'list-setting-groups', 'set-setting-group', 'diff', 've-analyze', 'wue-analyze', 'plot'];

// The local ports of the established loopback TCP connections to port (Linux' table; null
// elsewhere).
function linksTo(port) {
  if (!existsSync('/proc/net/tcp')) return null;
  return readFileSync('/proc/net/tcp', 'utf8').split('\n').slice(1).map((l) => l.trim().split(/\s+/))
    .filter((f) => f.length > 3 && f[3] === '01' && parseInt(f[2].split(':')[1], 16) === port)
    .map((f) => parseInt(f[1].split(':')[1], 16));
}

function startSim() {
  const sim = spawn(simExe, ['--ini', ini, '--port', '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    createInterface({ input: sim.stdout }).once('line', (line) => {
      const match = /ready tcp \S+ (\d+)/.exec(line);
      match ? resolve({ sim, port: Number(match[1]) }) : reject(new Error(line));
    });
  });
}

// One raw session: lines in, one reply line per request out; the exit code at the end.
async function rawSession(project, messages) {
  const server = spawn(cli, ['mcp', '-p', project], { stdio: ['pipe', 'pipe', 'inherit'] });
  const replies = [];
  createInterface({ input: server.stdout }).on('line', (line) => replies.push(JSON.parse(line)));
  for (const message of messages) {
    server.stdin.write((typeof message === 'string' ? message : JSON.stringify(message)) + '\n');
  }
  server.stdin.end();
  const code = await new Promise((resolve) => server.on('exit', resolve));
  return { replies, code };
}

async function checkBadInput(project) {
  const request = (id, method, params) => ({ jsonrpc: '2.0', id, method, params });
  const { replies, code } = await rawSession(project, [
    request(1, 'tools/list'),
    '{"jsonrpc": "2.0", "id": 2, "method": ',
    request(3, 'initialize', { protocolVersion: '2025-06-18', capabilities: {},
      clientInfo: { name: 'raw', version: '1' } }),
    { jsonrpc: '2.0', method: 'notifications/initialized' },
    request(4, 'resources/list'),
    request(5, 'tools/call', { name: 'no-such-tool', arguments: {} }),
    request(6, 'tools/call', { name: 'get-table', arguments: { id: 'veTable1Tbl', row: 'x' } }),
    request(7, 'tools/call', { name: 'set-table-cell', arguments: { id: 'veTable1Tbl', row: 1.5 } }),
    request(8, 'tools/call', { name: 'get-scalar', arguments: {} }),
    request(9, 'initialize', { protocolVersion: '1999-01-01' }),
    request(10, 'ping'),
  ]);
  assert.equal(code, 0, 'end of input ends the session with exit code 0');
  const byId = (id) => replies.find((r) => r.id === id);
  assert.equal(byId(1).error.code, -32002);
  assert.equal(replies.find((r) => r.id === null).error.code, -32700);
  assert.equal(byId(3).result.protocolVersion, '2025-06-18');
  assert.equal(byId(4).error.code, -32601);
  assert.equal(byId(5).error.code, -32602);
  assert.match(byId(5).error.message, /no-such-tool/);
  assert.equal(byId(6).error.code, -32602);
  assert.match(byId(6).error.message, /'row'/);
  assert.match(byId(7).error.message, /'row'/);
  assert.match(byId(8).error.message, /'name'/);
  assert.equal(byId(9).result.protocolVersion, '2025-11-25');
  assert.deepEqual(byId(10).result, {});
  assert.equal(replies.length, 10, 'one reply per request, none for the notification');
}

function checkSchemas(tools) {
  assert.deepEqual(tools.map((t) => t.name).sort(), [...kTools].sort());
  for (const tool of tools) {
    assert.ok(tool.description, tool.name);
    const schema = tool.inputSchema;
    assert.equal(schema.type, 'object');
    assert.ok(!('project' in schema.properties), `${tool.name}: the project is the session's`);
    for (const [name, property] of Object.entries(schema.properties)) {
      assert.ok(property.type && property.description, `${tool.name}.${name}`);
    }
    for (const name of schema.required ?? []) {
      assert.ok(name in schema.properties, `${tool.name} requires ${name}`);
    }
    assert.equal(typeof tool.annotations.readOnlyHint, 'boolean');
  }
  const byName = Object.fromEntries(tools.map((t) => [t.name, t]));
  assert.deepEqual(byName['set-table-cell'].inputSchema.required, ['id', 'row', 'col', 'value']);
  assert.equal(byName['set-table-cell'].inputSchema.properties.row.type, 'integer');
  assert.equal(byName['set-table-cell'].annotations.destructiveHint, true);
  assert.equal(byName['get-table'].annotations.readOnlyHint, true);
}

async function main() {
  const { sim, port } = await startSim();
  try {
    const project = run('create-project', '--name', 'Demo', '--ini', ini, '--folder',
      join(dir, 'p')).data.projectFile;
    run('set-connection', '-p', project, '--protocol', 'TcpBridge', '--host', '127.0.0.1',
      '--tcp-port', String(port));
    await checkBadInput(project);

    const client = new Client({ name: 'torvik-test', version: '1.0.0' });
    const transport = new StdioClientTransport({ command: cli,
      args: ['mcp', '-p', project, '--ecu-idle', '2'], stderr: 'inherit' });
    await client.connect(transport);
    assert.equal(client.getServerVersion().name, 'torvik-cli');
    checkSchemas((await client.listTools()).tools);
    const call = async (name, args, options) => {
      const result = await client.callTool({ name, arguments: args }, undefined, options);
      assert.deepEqual(JSON.parse(result.content[0].text), result.structuredContent);
      return result;
    };

    // The ECU's tune becomes the project's; then an edit pushed to the simulator.
    assert.equal((await call('read-tune', {})).isError, false);
    const table = (await call('get-table', { id: 'veTable1Tbl' })).structuredContent;
    assert.equal(table.success, true);
    const old = table.data.values[0][0];
    await call('set-table-cell', { id: 'veTable1Tbl', row: 0, col: 0, value: old + 7,
      offline: true });
    assert.equal((await call('diff', { ecu: true })).structuredContent.data.differences, 1);
    const pushed = await call('set-table-cell', { id: 'veTable1Tbl', row: 0, col: 0,
      value: old + 9 });
    assert.equal(pushed.isError, false);
    assert.match(pushed.content[1].text, /\[CLI\] ECU sync: pushed/);
    assert.equal((await call('diff', { ecu: true })).structuredContent.data.differences, 0,
      "the simulator's page holds the new byte");
    const missing = await call('get-table', { id: 'noSuchTable' });
    assert.equal(missing.isError, true);

    // One held link: two controller calls in a row share one connection, closed when idle.
    const channels = await call('read-channels', { count: 1 });
    assert.ok(channels.structuredContent.data.channels.length > 0);
    const held = linksTo(port);
    assert.equal((await call('get-signature', {})).isError, false);
    if (held) {
      assert.equal(held.length, 1, 'the link stays open between calls');
      assert.deepEqual(linksTo(port), held, 'the next call uses the same connection');
      // The simulator drops the held link for another program's: the next call opens it again.
      assert.equal(run('get-signature', '-p', project).success, true);
      assert.equal((await call('get-signature', {})).isError, false, 'reopened after a loss');
      // Closed after --ecu-idle 2 seconds without use (a loaded machine may take a little longer).
      const idleStart = Date.now();
      while (linksTo(port).length > 0 && Date.now() - idleStart < 8000) await sleep(100);
      assert.deepEqual(linksTo(port), [], 'closed after --ecu-idle seconds without use');
    }
    const steps = [];
    const series = await call('read-channels', { count: 40 },
      { onprogress: (p) => steps.push(p.progress) });
    assert.equal(series.structuredContent.data.readCount, 40);
    assert.ok(steps.length > 0 && steps.every((v, i) => i === 0 || v > steps[i - 1]), `${steps}`);

    // Another process edits the project between two calls: the session sees it.
    const scalar = (await call('get-scalar', { name: 'reqFuel' })).structuredContent.data;
    run('set-scalar', '-p', project, '--name', 'reqFuel', '--value', String(scalar.value + 1),
      '--offline');
    const after = (await call('get-scalar', { name: 'reqFuel' })).structuredContent.data;
    assert.notEqual(after.value, scalar.value);

    // A datalog cancelled after a second keeps its file with what it recorded.
    const mlg = join(dir, 'log.mlg');
    const abort = new AbortController();
    let progress = 0;
    const logging = call('datalog', { duration: 30, output: mlg },
      { signal: abort.signal, onprogress: () => { progress += 1; } });
    await sleep(1000);
    abort.abort();
    await assert.rejects(logging);
    for (let i = 0; i < 50 && !existsSync(mlg); i += 1) await sleep(100);
    assert.ok(progress > 0, 'progress notifications while recording');
    const csv = join(dir, 'log.csv');
    execFileSync(cli, ['dump-mlg', mlg, csv]);
    const records = Number(/# records=(\d+)/.exec(readFileSync(csv, 'utf8'))[1]);
    assert.ok(records > 5, `records counted: ${records}`);
    // The session goes on after the cancel.
    assert.equal((await call('get-table', { id: 'veTable1Tbl' })).isError, false);
    await client.close();
    console.log(`mcp test passed (${records} records before the cancel)`);
  } finally {
    sim.kill('SIGTERM');
    rmSync(dir, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
