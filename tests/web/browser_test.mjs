// Browser tests of the web page: headless Chromium, driven through
// puppeteer-core, replays the steps qel_web_expectations ran on the core
// natively (real files dropped through the DevTools drag events, the file
// picker, clicks on the menu) and checks after every step the title, the menu
// state, the status line, the console, every canvas pixel and each downloaded
// file against the desktop's outcome. Pictures shown are also compared with
// `qel render` of the same file. Prints the page's transferred sizes and the
// time to its first drawn canvas. Runs on Node 18 and later.
//
//   node browser_test.mjs --site DIR --expect FILE.json --qel QEL --work DIR
//        [--chromium PATH] [--screenshot FILE.png]
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';

const options = { chromium: '/usr/lib/chromium/chromium' };
for (let i = 2; i < process.argv.length; i += 2) options[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
for (const required of ['site', 'expect', 'qel', 'work']) {
  if (!options[required]) throw new Error(`--${required} is required`);
}
const expectations = JSON.parse(fs.readFileSync(options.expect, 'utf8'));
const work = path.resolve(options.work);
fs.rmSync(work, { recursive: true, force: true });
fs.mkdirSync(work, { recursive: true });

const HINT = 'Drop a .qel file on the page.';
const ENDED = 'QelViewer has ended. Reload the page to start it again.';
const failures = [];
let checks = 0;
function check(ok, what) {
  checks++;
  if (!ok) failures.push(what);
}
const same = (actual, expected, what) =>
  check(JSON.stringify(actual) === JSON.stringify(expected),
    `${what}: got ${JSON.stringify(actual)}, want ${JSON.stringify(expected)}`);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The site at /<run name>/, with that run's backdrop as bg/bg.bmp (none for
// a run without one), compressed as a static host would send it.
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.bmp': 'image/bmp' };
const server = http.createServer((request, response) => {
  const [, runName, ...rest] = decodeURIComponent(new URL(request.url, 'http://x').pathname).split('/');
  const run = expectations.runs.find((r) => r.name === runName);
  const name = rest.join('/') || 'index.html';
  let file = null;
  if (run && name === 'bg/bg.bmp') file = run.backdrop;
  else if (run && /^[\w.-]+$/.test(name)) file = path.join(options.site, name);
  if (!file || !fs.existsSync(file)) {
    response.writeHead(404).end('not here');
    return;
  }
  let body = fs.readFileSync(file);
  const headers = { 'Content-Type': types[path.extname(file)] ?? 'application/octet-stream', 'Cache-Control': 'no-store' };
  if (/\bgzip\b/.test(request.headers['accept-encoding'] ?? '')) {
    body = zlib.gzipSync(body);
    headers['Content-Encoding'] = 'gzip';
  }
  response.writeHead(200, headers).end(body);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const base = `http://127.0.0.1:${server.address().port}`;

const browser = await puppeteer.launch({
  executablePath: options.chromium, headless: true, args: ['--no-sandbox', '--disable-gpu'],
  userDataDir: path.join(work, 'profile'), defaultViewport: { width: 640, height: 400, deviceScaleFactor: 1 },
});
const versions = `Node ${process.version}, ${await browser.version()}`;
const page = (await browser.pages())[0] ?? await browser.newPage();
// Raw DevTools commands: drag events with real files, download events.
const session = await page.createCDPSession();
const browserSession = await browser.target().createCDPSession();
const consoleErrors = [];
// Only the page's own console calls, which carry arguments; not the
// browser's log entries, such as the 404 of a run without a backdrop.
page.on('console', (m) => { if (m.type() === 'error' && m.args().length > 0) consoleErrors.push(m.text()); });
page.on('pageerror', (e) => failures.push(`exception in the page: ${e.stack ?? e}`));
let navigations = 0;
page.on('framenavigated', () => navigations++);
await page.setCacheEnabled(false);

const firstFrameDrawn = () => performance.getEntriesByName('qel-first-frame').length > 0;
async function load(url) {
  await page.goto(url, { waitUntil: 'load' });
  await page.waitForFunction(firstFrameDrawn);
}

// ---- Transferred sizes and time to the first frame, over five loads.
const transferred = new Map();
const urls = new Map();
await session.send('Network.enable');
session.on('Network.responseReceived', (e) => urls.set(e.requestId, e.response.url));
session.on('Network.loadingFinished', (e) => {
  const url = urls.get(e.requestId);
  if (url) transferred.set(new URL(url).pathname.split('/').pop() || 'index.html', e.encodedDataLength);
});
const firstFrames = [];
for (let i = 0; i < 5; i++) {
  await load(`${base}/demo/`);
  firstFrames.push(await page.evaluate(() => performance.getEntriesByName('qel-first-frame')[0].startTime));
}
firstFrames.sort((a, b) => a - b);

// ---- The page's state, as the checks need it.
const state = () => page.evaluate(() => {
  const canvas = document.getElementById('canvas');
  let rgb = null;
  if (canvas.width > 0) {
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let bytes = '';
    for (let i = 0; i < data.length; i += 4) bytes += String.fromCharCode(data[i], data[i + 1], data[i + 2]);
    rgb = btoa(bytes);
  }
  const button = (id) => !document.getElementById(id).disabled;
  return { title: document.title, status: document.getElementById('status').textContent,
    extract: button('extract'), exit: button('exit'), picker: button('open'), rgb, href: location.href,
    size: [canvas.width, canvas.height] };
});

async function dropFiles(files) {
  const box = await (await page.$('canvas')).boundingBox();
  const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
  const data = { items: [], files, dragOperationsMask: 1 };
  for (const type of ['dragEnter', 'dragOver', 'drop']) await session.send('Input.dispatchDragEvent', { type, x, y, data });
}

// The canvas `qel render` draws for a file, as top-down RGB in base64.
function qelRender(file, backdrop) {
  const out = path.join(work, 'render.bmp');
  execFileSync(options.qel, ['render', ...(backdrop ? ['-b', backdrop] : []), '-o', out, file]);
  const bmp = fs.readFileSync(out);
  const [width, height, offset] = [bmp.readInt32LE(18), bmp.readInt32LE(22), bmp.readUInt32LE(10)];
  const rgb = Buffer.alloc(width * height * 3);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const src = offset + ((height - 1 - y) * width + x) * 3;
      rgb.set([bmp[src + 2], bmp[src + 1], bmp[src]], (y * width + x) * 3);
    }
  }
  return rgb.toString('base64');
}

// The first event named method on the session whose params satisfy accept.
function nextEvent(on, method, accept = () => true) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => { on.off(method, listener); reject(new Error(`no ${method} within 10 s`)); }, 10000);
    const listener = (params) => {
      if (!accept(params)) return;
      clearTimeout(timer);
      on.off(method, listener);
      resolve(params);
    };
    on.on(method, listener);
  });
}

let downloads = 0;
let lastExtract = 0;
async function extract(step, what) {
  // Chromium drops a download that follows a run of others too closely
  // (about ten within a second); a user never clicks that fast.
  await sleep(lastExtract + 250 - Date.now());
  lastExtract = Date.now();
  const dir = path.join(work, `download-${++downloads}`);
  await browserSession.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: dir, eventsEnabled: true });
  const begun = nextEvent(browserSession, 'Browser.downloadWillBegin');
  // A small download may be complete before its start has been read here.
  const ended = nextEvent(browserSession, 'Browser.downloadProgress', (e) => e.state !== 'inProgress');
  await page.click('#extract');
  const { guid, suggestedFilename } = await begun;
  const { guid: endedGuid, state: endState } = await ended;
  same([endedGuid, endState], [guid, 'completed'], `${what}: download`);
  same(suggestedFilename, step.download, `${what}: download name`);
  const saved = path.join(dir, step.download);
  check(fs.existsSync(saved) && fs.readFileSync(saved).equals(Buffer.from(step.bytes, 'base64')),
    `${what}: ${saved} is not the payload byte for byte`);
}

let screenshotTaken = false;
let current = '';
async function replay(run) {
  await load(`${base}/${run.name}/`);
  let status = HINT;
  let drops = 0;
  let before = await state();
  for (const [index, step] of run.steps.entries()) {
    const what = `${run.name} step ${index} (${step.do} ${(step.files ?? []).map((f) => path.basename(f)).join(', ')})`;
    current = what;
    consoleErrors.length = 0;
    const navigationsBefore = navigations;
    if (step.do === 'extract') {
      await extract(step, what);
      continue;
    }
    if (step.afterExit) {
      // The drop goes nowhere: the page stays, unchanged.
      await dropFiles(step.files);
      same(await state(), before, `${what}: the page after the viewer ended`);
      same(navigations, navigationsBefore, `${what}: navigations`);
      continue;
    }
    if (step.do === 'drop' || step.do === 'pick') {
      await (step.do === 'drop' ? dropFiles(step.files) : (await page.$('#open')).uploadFile(...step.files));
      drops++;
      await page.waitForFunction((n) => document.documentElement.dataset.dropsHandled === String(n), {}, drops);
    } else if (step.do === 'exit') {
      await page.click('#exit');
    }
    const now = await state();
    if (step.accepted) status = step.diag.join('\n');
    if (step.do === 'exit') status = ENDED;
    same(now.title, step.title, `${what}: title`);
    same(now.status, status, `${what}: status line`);
    // After Exit every command is grayed: nothing is left to act on.
    const running = step.do !== 'exit';
    same(now.extract, step.extract && running, `${what}: Extract(BMP) enabled`);
    same([now.exit, now.picker], [running, running], `${what}: Exit and the file picker enabled`);
    same(consoleErrors, step.diag, `${what}: console`);
    same(now.href, `${base}/${run.name}/`, `${what}: address`);
    if (step.canvas === null) {
      same(now.size, [0, 0], `${what}: canvas released`);
    } else {
      same(now.size, [144, 76], `${what}: canvas size`);
      check(now.rgb === step.canvas, `${what}: canvas pixels differ from the desktop's`);
    }
    if (step.success) {
      check(step.canvas === qelRender(step.files[0], run.backdrop), `${what}: canvas differs from qel render`);
    }
    if (!step.accepted && step.do !== 'start' && step.do !== 'exit') same(now, before, `${what}: a refused drop changes nothing`);
    if (options.screenshot && !screenshotTaken && run.backdrop && step.success) {
      await page.screenshot({ path: options.screenshot, type: 'png' });
      screenshotTaken = true;
    }
    before = now;
  }
}

// The canvas is drawn in whole device pixels per canvas pixel, never
// smoothed: 1:1 in a small window, the largest whole factor that fits in
// a larger one.
async function checkScaling() {
  await load(`${base}/demo/`);
  let previous = 0;
  for (const [width, height] of [[320, 240], [640, 400], [1280, 900]]) {
    await page.setViewport({ width, height, deviceScaleFactor: 1 });
    await page.waitForFunction((w, h) => innerWidth === w && innerHeight === h, {}, width, height);
    // The page handles the resize event before the next frame.
    await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
    const shown = await page.evaluate(() => {
      const c = document.getElementById('canvas');
      const r = c.getBoundingClientRect();
      const fits = document.documentElement.scrollWidth <= innerWidth && document.documentElement.scrollHeight <= innerHeight;
      return { factor: r.width / 144, whole: r.width / 144 === r.height / 76, fits, rendering: getComputedStyle(c).imageRendering };
    });
    const what = `canvas in a ${width}x${height} window (${JSON.stringify(shown)})`;
    check(Number.isInteger(shown.factor) && shown.whole && shown.rendering === 'pixelated', `${what}: not whole pixels`);
    check(shown.fits, `${what}: does not fit`);
    check(previous === 0 ? shown.factor === 1 : shown.factor > previous, `${what}: factor`);
    previous = shown.factor;
  }
}

try {
  for (const run of expectations.runs) await replay(run);
  await checkScaling();
} catch (error) {
  failures.push(`stopped at ${current}: ${error.stack ?? error}`);
} finally {
  await browser.close();
  server.close();
}

const sizes = ['index.html', 'app.js', 'qelviewer.js', 'qelviewer.wasm'].map((f) => `${f} ${transferred.get(f)}`);
console.log(`transferred (gzip, headers included): ${sizes.join(', ')} bytes`);
console.log(`first canvas drawn after ${firstFrames.map((t) => t.toFixed(0)).join(', ')} ms (median ${firstFrames[2].toFixed(0)} ms)`);
for (const failure of failures) console.log(`FAIL: ${failure}`);
console.log(`${checks - failures.length} of ${checks} checks passed (${versions})`);
process.exit(failures.length === 0 ? 0 : 1);
