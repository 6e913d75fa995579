// The official MCP clients drive uiglean-mcp against our GTK test application on the private
// desktop: the SDK 1.x client (2025-11-25, with the handshake), the 2.x client pinned to
// 2026-07-28 (stateless), and the Inspector's command-line mode.
//
//   node clients.mjs BIN_DIR     (DESKTOP_STATE_DIR names the desktop; run.sh installs the
//                                 pinned packages beside a copy of this file and runs it there)
import assert from 'node:assert/strict';
import { spawn, execFile } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

import { Client as Client1 } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport as Stdio1 } from '@modelcontextprotocol/sdk/client/stdio.js';
import { Client as Client2 } from '@modelcontextprotocol/client';
import { StdioClientTransport as Stdio2 } from '@modelcontextprotocol/client/stdio';

const [binDir] = process.argv.slice(2);
const stateDir = process.env.DESKTOP_STATE_DIR;
if (!binDir || !stateDir) {
  console.error('usage: DESKTOP_STATE_DIR=DIR node clients.mjs BIN_DIR');
  process.exit(2);
}
const modules = path.join(path.dirname(fileURLToPath(import.meta.url)), 'node_modules');

// The desktop's environment (the accessibility bus is found through the session bus).
const env = { PATH: process.env.PATH, HOME: process.env.HOME ?? '/tmp' };
for (const line of readFileSync(path.join(stateDir, 'env'), 'utf8').split('\n')) {
  const eq = line.indexOf('=');
  if (eq > 0 && line.slice(0, eq) !== 'AT_SPI_BUS_ADDRESS') env[line.slice(0, eq)] = line.slice(eq + 1);
}
const server = path.join(binDir, 'uiglean-mcp');
const work = mkdtempSync(path.join(tmpdir(), 'mcp-clients-'));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

let failures = 0;
async function step(name, body) {
  const started = Date.now();
  try {
    await body();
    console.log(`ok   ${name} (${Date.now() - started} ms)`);
  } catch (e) {
    failures++;
    console.log(`FAIL ${name}: ${e?.stack ?? e}`);
  }
}

// Depth-first search over a snapshot's windows.
function find(payload, match) {
  const stack = [...(payload.windows ?? [])].reverse();
  while (stack.length) {
    const n = stack.pop();
    if (match(n)) return n;
    stack.push(...[...(n.children ?? [])].reverse());
  }
  return undefined;
}
const titled = (role, title) => (n) => n.role === role && n.title === title;
const text = (result) => result.content.map((c) => c.text ?? '').join('');

const app = spawn(path.join(binDir, 'uiglean-gtk-app'), ['--log', path.join(work, 'app.log')], {
  env, stdio: 'ignore',
});
const appLog = () => { try { return readFileSync(path.join(work, 'app.log'), 'utf8'); } catch { return ''; } };

async function waitForApp(client) {
  for (let i = 0; i < 100; i++) {
    const r = await client.callTool({ name: 'tree', arguments: { format: 'text' } });
    if (!r.isError && r.structuredContent.pid === app.pid && text(r).includes('Say Hello')) {
      const w = await client.callTool({ name: 'windows', arguments: {} });
      if (!w.isError && w.structuredContent.windows.some((x) => x.main)) return;
    }
    await sleep(100);
  }
  throw new Error('the GTK application did not come up');
}

try {
  // ---- SDK 1.x: 2025-11-25 with the handshake ----
  const c1 = new Client1({ name: 'sdk1-test', version: '1.0.0' });
  await c1.connect(new Stdio1({ command: server, args: [], env, stderr: 'inherit' }));

  await step('sdk1: handshake and tool list', async () => {
    assert.equal(c1.getServerVersion().name, 'uiglean-mcp');
    const { tools } = await c1.listTools();
    assert.equal(tools.length, 19);
    for (const t of tools) assert.ok(t.outputSchema && t.description.length > 40, t.name);
  });
  await step('sdk1: the application comes up', () => waitForApp(c1));

  let hello;
  await step('sdk1: snapshots in each format', async () => {
    const json = await c1.callTool({ name: 'tree', arguments: { format: 'json', maxNodes: 4000 } });
    assert.equal(json.isError, false);
    assert.equal(json.structuredContent.app, 'uiglean-gtk-app');
    assert.deepEqual(JSON.parse(text(json)), json.structuredContent);
    hello = find(json.structuredContent, titled('AXButton', 'Say Hello'))?.ref;
    assert.ok(hello, 'Say Hello in the snapshot');
    const plain = await c1.callTool({ name: 'tree', arguments: { format: 'text' } });
    assert.match(text(plain), new RegExp(`\\n *Button "Say Hello" ${hello.replaceAll('.', '\\.')}( [a-z]+)* \\[Press\\]\\n`));
    const active = await c1.callTool({ name: 'tree', arguments: { format: 'text', interactive: true } });
    assert.ok(text(active).includes('Say Hello'));
    assert.ok(text(active).length < text(plain).length, 'interactive is smaller');
    const sub = await c1.callTool({ name: 'tree', arguments: { root: hello } });
    assert.equal(sub.structuredContent.windows.length, 1);
    assert.equal(sub.structuredContent.windows[0].ref, hello);
    const cut = await c1.callTool({ name: 'tree', arguments: { maxNodes: 3 } });
    assert.ok(cut.structuredContent.truncated.omittedNodes > 0);
  });

  await step('sdk1: press, settle, and the label changed', async () => {
    const press = await c1.callTool({ name: 'press', arguments: { ref: hello } });
    assert.deepEqual(press.structuredContent, { ok: true });
    const settle = await c1.callTool({ name: 'settle', arguments: { quietMs: 300, limitMs: 3000 } });
    assert.equal(typeof settle.structuredContent.settled, 'boolean');
    const after = await c1.callTool({ name: 'tree', arguments: {} });
    assert.ok(find(after.structuredContent, (n) => n.value === 'Hello pressed 1'), 'label changed');
    assert.ok(appLog().includes('button Say Hello'));
  });

  await step('sdk1: set a value', async () => {
    const tree = await c1.callTool({ name: 'tree', arguments: {} });
    const entry = find(tree.structuredContent, titled('AXTextField', 'Name'));
    const set = await c1.callTool({ name: 'setvalue', arguments: { ref: entry.ref, value: 'Grüße' } });
    assert.deepEqual(set.structuredContent, { ok: true });
    const after = await c1.callTool({ name: 'tree', arguments: {} });
    assert.equal(find(after.structuredContent, titled('AXTextField', 'Name')).value, 'Grüße');
  });

  await step('sdk1: a key chord triggers a shortcut, a click presses a button', async () => {
    const key = await c1.callTool({ name: 'key', arguments: { keys: ['ctrl+n'] } });
    assert.deepEqual(key.structuredContent, { ok: true, keys: ['ctrl+n'] });
    for (let i = 0; i < 40 && !appLog().includes('menu New'); i++) await sleep(50);
    assert.ok(appLog().includes('menu New'), 'ctrl+n reached the application');
    const click = await c1.callTool({ name: 'click', arguments: { ref: hello } });
    assert.equal(click.structuredContent.ok, true);
    assert.equal(click.structuredContent.at.length, 2);
    for (let i = 0; i < 40 && !appLog().includes('Hello pressed 2'); i++) await sleep(50);
    assert.ok(appLog().includes('Hello pressed 2'), 'the click pressed the button');
    const bad = await c1.callTool({ name: 'key', arguments: { keys: ['ctrl+nosuchkey'] } });
    assert.equal(bad.isError, true);
    assert.match(text(bad), /unknown key/);
  });

  await step('sdk1: a screenshot is PNG image content with the recognised text', async () => {
    const shot = await c1.callTool({ name: 'screenshot', arguments: { ocr: true } });
    assert.equal(shot.isError, false);
    const image = shot.content.find((c) => c.type === 'image');
    assert.equal(image.mimeType, 'image/png');
    const png = Buffer.from(image.data, 'base64');
    assert.equal(png.subarray(1, 4).toString('latin1'), 'PNG');
    assert.equal(png.readUInt32BE(16), shot.structuredContent.w);
    assert.equal(png.readUInt32BE(20), shot.structuredContent.h);
    assert.equal(shot.structuredContent.png, undefined, 'the picture is not repeated as text');
    assert.ok(shot.structuredContent.lines.some((l) => l.text === 'Open Dialog'), JSON.stringify(shot.structuredContent.lines));
  });

  await step('sdk1: list menus and click one', async () => {
    const bar = await c1.callTool({ name: 'menus', arguments: {} });
    assert.ok(bar.structuredContent.menus.some((m) => m.title === 'File'));
    const file = await c1.callTool({ name: 'menus', arguments: { menu: 'File' } });
    assert.ok(JSON.stringify(file.structuredContent).includes('New Window'));
    const click = await c1.callTool({ name: 'menuclick', arguments: { path: ['File', 'New Window'] } });
    assert.deepEqual(click.structuredContent, { ok: true });
    for (let i = 0; i < 30; i++) {
      const w = await c1.callTool({ name: 'windows', arguments: {} });
      if (w.structuredContent.windows.length >= 2) return;
      await sleep(100);
    }
    assert.fail('no second window');
  });

  await step('sdk1: failing calls are error results', async () => {
    const stale = await c1.callTool({ name: 'press', arguments: { ref: 'w9.9.9' } });
    assert.equal(stale.isError, true);
    assert.match(text(stale), /no longer resolves/);
    const menu = await c1.callTool({ name: 'menus', arguments: { menu: 'Nope' } });
    assert.equal(menu.isError, true);
    assert.equal(text(menu), 'no menu titled "Nope"');
    const typed = await c1.callTool({ name: 'press', arguments: { ref: 7 } });
    assert.equal(typed.isError, true);
    await assert.rejects(c1.callTool({ name: 'nonesuch', arguments: {} }), /Unknown tool/);
  });

  await step('sdk1: a cancelled settle, with progress before it', async () => {
    const ac = new AbortController();
    const progress = [];
    const started = Date.now();
    const call = c1.callTool({ name: 'settle', arguments: { quietMs: 60000, limitMs: 60000 } }, undefined,
      { signal: ac.signal, onprogress: (p) => progress.push(p), timeout: 120000 });
    setTimeout(() => ac.abort('enough'), 1500);
    await assert.rejects(call);
    assert.ok(progress.length >= 1, 'progress notifications');
    const w = await c1.callTool({ name: 'windows', arguments: {} });
    assert.equal(w.isError, false);
    assert.ok(Date.now() - started < 10000, 'the server went on at once');
  });
  await c1.close();

  // ---- 2.x client: 2026-07-28, no handshake ----
  const c2 = new Client2({ name: 'sdk2-test', version: '1.0.0' }, { versionNegotiation: { pin: '2026-07-28' } });
  await c2.connect(new Stdio2({ command: server, args: [], env, stderr: 'inherit' }));
  await step('sdk2: tools, snapshot, press, settle, setvalue, menus, failure', async () => {
    const { tools } = await c2.listTools();
    assert.equal(tools.length, 19);
    const tree = await c2.callTool({ name: 'tree', arguments: { maxNodes: 4000 } });
    assert.equal(tree.structuredContent.app, 'uiglean-gtk-app');
    const plain = await c2.callTool({ name: 'tree', arguments: { format: 'text', interactive: true } });
    assert.ok(text(plain).includes('Say Hello'));
    const ref = find(tree.structuredContent, titled('AXButton', 'Say Hello'))?.ref;
    const press = await c2.callTool({ name: 'press', arguments: { ref } });
    assert.deepEqual(press.structuredContent, { ok: true });
    const settle = await c2.callTool({ name: 'settle', arguments: {} });
    assert.equal(typeof settle.structuredContent.elapsedMs, 'number');
    const entry = find(tree.structuredContent, titled('AXTextField', 'Name'));
    const set = await c2.callTool({ name: 'setvalue', arguments: { ref: entry.ref, value: 'zwei' } });
    assert.deepEqual(set.structuredContent, { ok: true });
    const menus = await c2.callTool({ name: 'menus', arguments: { menu: 'File' } });
    assert.equal(menus.isError, false);
    const shot = await c2.callTool({ name: 'screenshot', arguments: {} });
    assert.equal(shot.content[0].type, 'image');
    assert.ok(shot.structuredContent.w > 100);
    const bad = await c2.callTool({ name: 'focuswindow', arguments: { window: 'no such window' } });
    assert.equal(bad.isError, true);
  });
  await c2.close();

  // ---- the Inspector's command-line mode ----
  await step('inspector --cli: tools/list and a call', async () => {
    const cli = path.join(modules, '.bin/mcp-inspector');
    const envArgs = Object.entries(env).flatMap(([k, v]) => ['-e', `${k}=${v}`]);
    const run = (extra) => new Promise((resolve, reject) => {
      execFile(cli, ['--cli', ...envArgs, server, ...extra], { timeout: 60000, env: process.env },
        (err, stdout, stderr) => (err ? reject(new Error(`${err.message}\n${stderr}`)) : resolve(stdout)));
    });
    const list = JSON.parse(await run(['--method', 'tools/list']));
    assert.equal(list.tools.length, 19);
    const windows = JSON.parse(await run(['--method', 'tools/call', '--tool-name', 'windows']));
    assert.equal(windows.structuredContent.app, 'uiglean-gtk-app');
  });
} finally {
  app.kill('SIGTERM');
  rmSync(work, { recursive: true, force: true });
}
console.log(failures === 0 ? 'all passed' : `${failures} failed`);
process.exit(failures === 0 ? 0 : 1);
