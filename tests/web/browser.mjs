// Headless Chromium and a static web server for the browser tests, driven
// over the DevTools protocol with Node's own WebSocket (node
// --experimental-websocket): no packages besides Debian's chromium.
import {spawn} from 'node:child_process';
import {mkdtempSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

const ChromiumFlags = [
  '--headless=new', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
  '--disable-background-networking', '--disable-component-update', '--disable-default-apps',
  '--disable-sync', '--no-first-run', '--no-default-browser-check', '--metrics-recording-only',
  '--disable-features=MediaRouter,OptimizationHints,Translate', '--mute-audio',
  '--disable-background-timer-throttling', '--disable-renderer-backgrounding',
  '--window-size=1280,900', '--remote-debugging-port=0',
  // More for a measurement, say --disable-gpu-vsync --disable-frame-rate-limit.
  ...(process.env.QUENRIK_CHROMIUM_FLAGS || '').split(' ').filter(Boolean),
];

// Resolves with the first match of pattern in the process's output.
function WaitForOutput(child, stream, pattern, what, timeoutMs = 30000) {
  return new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error(what + ' did not start: ' + text.slice(-2000))), timeoutMs);
    child[stream].on('data', chunk => {
      text += chunk;
      const match = text.match(pattern);
      if (match) {
        clearTimeout(timer);
        resolve(match);
      }
    });
    child.on('exit', code => reject(new Error(what + ' exited with ' + code + ': ' + text.slice(-2000))));
  });
}

// python3 -m http.server on a free port of 127.0.0.1, serving folder.
export async function Serve(folder) {
  const child = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1', '--directory', folder, '0'],
                      {stdio: ['ignore', 'pipe', 'pipe']});
  const match = await WaitForOutput(child, 'stdout', /port (\d+)/, 'the web server');
  return {url: 'http://127.0.0.1:' + match[1] + '/', close: () => child.kill()};
}

// One DevTools connection: send(method, params) -> result; events by name.
class Connection {
  constructor(socket) {
    this.socket = socket;
    this.next = 1;
    this.pending = new Map();
    this.listeners = [];
    socket.addEventListener('message', event => {
      const message = JSON.parse(event.data);
      if (message.id && this.pending.has(message.id)) {
        const {resolve, reject} = this.pending.get(message.id);
        this.pending.delete(message.id);
        if (message.error) reject(new Error(JSON.stringify(message.error)));
        else resolve(message.result);
      } else if (message.method) {
        for (const listener of this.listeners) listener(message);
      }
    });
  }
  send(method, params = {}) {
    const id = this.next++;
    this.socket.send(JSON.stringify({id, method, params}));
    return new Promise((resolve, reject) => this.pending.set(id, {resolve, reject}));
  }
  on(listener) { this.listeners.push(listener); }
}

function Connect(url) {
  return new Promise((resolve, reject) => {
    const socket = new WebSocket(url);
    socket.addEventListener('open', () => resolve(new Connection(socket)));
    socket.addEventListener('error', () => reject(new Error('cannot connect to ' + url)));
  });
}

// True while any process of the group is alive.
function GroupAlive(pid) {
  try {
    process.kill(-pid, 0);
    return true;
  } catch (e) {
    return false;
  }
}

// Ends Chromium with every process it started (its own process group, so
// that none is left writing into the profile), then removes the profile.
async function EndBrowser(child, profile) {
  const deadline = Date.now() + 10000;
  for (const signal of ['SIGTERM', 'SIGKILL']) {
    if (!GroupAlive(child.pid)) break;
    process.kill(-child.pid, signal);
    while (GroupAlive(child.pid) && Date.now() < deadline) await new Promise(resolve => setTimeout(resolve, 50));
  }
  rmSync(profile, {recursive: true, force: true, maxRetries: 10, retryDelay: 100});
}

// Starts Chromium and opens one page; page.close() ends both.
export async function OpenBrowser() {
  const profile = mkdtempSync(join(tmpdir(), 'quenrik-chromium-'));
  const child = spawn('chromium', [...ChromiumFlags, '--user-data-dir=' + profile, 'about:blank'],
                      {stdio: ['ignore', 'ignore', 'pipe'], detached: true});
  let cdp;
  try {
    const match = await WaitForOutput(child, 'stderr', /DevTools listening on (ws:\/\/[^\s]+)/, 'chromium');
    const port = new URL(match[1]).port;
    const targets = await (await fetch('http://127.0.0.1:' + port + '/json/list')).json();
    cdp = await Connect(targets.find(t => t.type === 'page').webSocketDebuggerUrl);
  } catch (e) {
    await EndBrowser(child, profile);
    throw e;
  }
  const console = [];
  cdp.on(message => {
    if (message.method === 'Runtime.consoleAPICalled')
      console.push(message.params.args.map(a => a.value !== undefined ? a.value : a.description).join(' '));
    if (message.method === 'Runtime.exceptionThrown') console.push('exception: ' + message.params.exceptionDetails.text);
  });
  await cdp.send('Runtime.enable');
  await cdp.send('Page.enable');
  return {
    cdp,
    console,
    async close() {
      cdp.socket.close();
      await EndBrowser(child, profile);
    },
    async goto(url) {
      await cdp.send('Page.navigate', {url});
    },
    // The value of a page expression (awaited when it is a promise).
    async eval(expression) {
      const result = await cdp.send('Runtime.evaluate', {expression, awaitPromise: true, returnByValue: true});
      if (result.exceptionDetails) throw new Error(expression + ': ' + JSON.stringify(result.exceptionDetails));
      return result.result.value;
    },
    // Polls until the expression is truthy; returns its value.
    async waitFor(expression, timeoutMs = 30000, what = expression) {
      const end = Date.now() + timeoutMs;
      for (;;) {
        let value;
        try {
          value = await this.eval(expression);
        } catch (e) {
          value = undefined;
        }
        if (value) return value;
        if (Date.now() > end) throw new Error('timed out waiting for ' + what + '\n' + console.join('\n'));
        await new Promise(resolve => setTimeout(resolve, 50));
      }
    },
    // A real click (a user gesture) at the middle of the element.
    async click(selector) {
      const box = await this.eval(`(() => { const r = document.querySelector(${JSON.stringify(selector)})
          .getBoundingClientRect(); return [r.left + r.width / 2, r.top + r.height / 2]; })()`);
      for (const type of ['mousePressed', 'mouseReleased'])
        await cdp.send('Input.dispatchMouseEvent', {type, x: box[0], y: box[1], button: 'left', clickCount: 1});
    },
    // A key press: key as in KeyboardEvent.key, code and keyCode for the system.
    async key(key, code = key, keyCode = 0) {
      const text = key.length === 1 ? key : key === 'Enter' ? '\r' : undefined;
      await cdp.send('Input.dispatchKeyEvent',
                     {type: text ? 'keyDown' : 'rawKeyDown', key, code, windowsVirtualKeyCode: keyCode, text});
      await cdp.send('Input.dispatchKeyEvent', {type: 'keyUp', key, code, windowsVirtualKeyCode: keyCode});
    },
  };
}
