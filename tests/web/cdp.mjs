// A small client of the DevTools protocol for headless Chromium: enough to
// start the browser, open a page, send commands and wait for events. Needs
// Node 20 run with --experimental-websocket.
import { spawn } from 'node:child_process';

export class Cdp {
  constructor(socket) {
    this.socket = socket;
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = new Set();
    socket.onmessage = (message) => this.dispatch(JSON.parse(message.data));
    socket.onclose = () => {
      for (const { reject, method } of this.pending.values()) reject(new Error(`${method}: connection closed`));
      this.pending.clear();
    };
  }

  static connect(url) {
    return new Promise((resolve, reject) => {
      const socket = new WebSocket(url);
      socket.onopen = () => resolve(new Cdp(socket));
      socket.onerror = () => reject(new Error(`cannot connect to ${url}`));
    });
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    this.socket.send(JSON.stringify({ id, method, params, sessionId }));
    return new Promise((resolve, reject) => this.pending.set(id, { resolve, reject, method }));
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const call = this.pending.get(message.id);
      if (!call) return;
      this.pending.delete(message.id);
      if (message.error) call.reject(new Error(`${call.method}: ${message.error.message}`));
      else call.resolve(message.result);
      return;
    }
    for (const listener of this.listeners) listener(message);
  }

  // Calls handler(params, sessionId) for every event named method; returns
  // a function that stops it.
  on(method, handler) {
    const listener = (message) => { if (message.method === method) handler(message.params, message.sessionId); };
    this.listeners.add(listener);
    return () => this.listeners.delete(listener);
  }

  // The first event named method whose params satisfy accept (from the
  // given session only, when one is given).
  waitFor(method, accept = () => true, timeoutMs = 10000, sessionId = undefined) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => { stop(); reject(new Error(`no ${method} within ${timeoutMs} ms`)); }, timeoutMs);
      const stop = this.on(method, (params, from) => {
        if ((sessionId !== undefined && from !== sessionId) || !accept(params)) return;
        clearTimeout(timer);
        stop();
        resolve(params);
      });
    });
  }

  close() { this.socket.close(); }
}

// Starts headless Chromium with a fresh profile in profileDir and resolves
// to { process, url } once its DevTools endpoint is listening.
export function launchChromium(executable, profileDir) {
  const args = ['--headless=new', '--no-sandbox', '--disable-gpu', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--remote-debugging-port=0', `--user-data-dir=${profileDir}`, 'about:blank'];
  const browser = spawn(executable, args, { stdio: ['ignore', 'ignore', 'pipe'] });
  return new Promise((resolve, reject) => {
    let output = '';
    const timer = setTimeout(() => { browser.kill(); reject(new Error(`Chromium did not start:\n${output}`)); }, 30000);
    browser.stderr.on('data', (chunk) => {
      output += chunk;
      const found = /DevTools listening on (ws:\/\/\S+)/.exec(output);
      if (found) {
        clearTimeout(timer);
        browser.stderr.removeAllListeners('data');
        browser.stderr.resume();
        resolve({ process: browser, url: found[1] });
      }
    });
    browser.on('exit', (code) => { clearTimeout(timer); reject(new Error(`Chromium exited with ${code}:\n${output}`)); });
  });
}

// A page (tab) of the browser, reached through a flattened session.
export class Page {
  static async open(cdp) {
    const { targetId } = await cdp.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await cdp.send('Target.attachToTarget', { targetId, flatten: true });
    return new Page(cdp, sessionId);
  }

  constructor(cdp, sessionId) {
    this.cdp = cdp;
    this.sessionId = sessionId;
  }

  send(method, params = {}) { return this.cdp.send(method, params, this.sessionId); }

  on(method, handler) {
    return this.cdp.on(method, (params, sessionId) => { if (sessionId === this.sessionId) handler(params); });
  }

  waitFor(method, accept = () => true, timeoutMs = 10000) {
    return this.cdp.waitFor(method, accept, timeoutMs, this.sessionId);
  }

  async evaluate(expression) {
    const result = await this.send('Runtime.evaluate', { expression, returnByValue: true, awaitPromise: true });
    if (result.exceptionDetails) {
      throw new Error(`${expression}: ${result.exceptionDetails.exception?.description ?? result.exceptionDetails.text}`);
    }
    return result.result.value;
  }

  // Evaluates expression every 20 ms until it is truthy; returns its value.
  async until(expression, timeoutMs = 10000) {
    const end = Date.now() + timeoutMs;
    for (;;) {
      const value = await this.evaluate(expression);
      if (value) return value;
      if (Date.now() > end) throw new Error(`still false after ${timeoutMs} ms: ${expression}`);
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }
}
