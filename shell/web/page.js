// quenrik in a web page: loads the WebAssembly module and the show's data
// files, runs the show's start-up (the dialog, the loading screen, the
// pictures, the music), drives its frame step from animation frames, and
// ends in a state that says what happened.
//
// window.quenrik is the page's state, read by the browser tests:
//   state      'loading', 'dialog', 'starting', 'playing' or 'ended'
//   reason     why it ended: 'end', 'key', 'cancel' or 'error'; exitCode
//   error      the error box's text, or null
//   frames     [music clock ms, performance.now() ms] of every show frame
//   times      performance.now() at 'go' (the dialog's end) and 'firstFrame'
//   grabs      test mode: the grabbed frames, PNG data URLs by music clock
//
// Query parameters (tests): test=frames runs the show on a virtual clock
// (15 ms of music per frame, as fast as the page can draw) with the shake's
// seed seed=N (default 20240607), grabbing the frames at the music clocks of
// grab=MS,MS,... and drawing only those; configure=W,H,F,C with "Go!".
'use strict';

(function() {
  const params = new URLSearchParams(location.search);
  const virtualClock = params.get('test') === 'frames';
  const seed = Number(params.get('seed') || 20240607) >>> 0;
  const grabClocks = new Set((params.get('grab') || '').split(',').filter(Boolean).map(Number));
  const drawAll = params.get('draw') !== 'grabbed';
  // Virtual clock: frames per animation frame, at most this long a batch.
  const VirtualBatchMs = 30;

  const $ = id => document.getElementById(id);
  const StatusTexts = {
    loading: 'Loading …',
    dialog: '',
    starting: 'Loading the pictures and the music …',
    playing: '',
    ended: '',
  };
  const ClosingTexts = {
    end: 'The show has ended.',
    key: 'The show was stopped by a key.',
    cancel: 'Cancelled: the show did not start.',
    error: 'The show stopped with an error.',
  };

  const page = {
    state: 'loading',
    reason: null,
    exitCode: null,
    error: null,
    frames: [],
    times: {},
    grabs: {},
    module: null,
    dataReady: null,
    keyPressed: false,
    fullscreen: false,

    setState(state) {
      page.state = state;
      document.body.dataset.state = state;
      $('status').textContent = StatusTexts[state];
    },

    // The dialog has ended; with "Go!" this click (or key) is the gesture
    // that lets the page play sound, so the audio output is made now.
    dialogEnded(quit) {
      if (quit) return;
      page.times.go = performance.now();
      page.setState('starting');
      if (virtualClock) return;
      try {
        const Context = window.AudioContext || window.webkitAudioContext;
        page.audioContext = new Context({sampleRate: 44100, latencyHint: 'interactive'});
      } catch (e) {
        console.error('quenrik: no audio output:', e);
        page.audioContext = null;
      }
    },

    takeAudioContext() {
      const context = page.audioContext;
      page.audioContext = null;
      return context;
    },

    // The show's window: the canvas at the chosen size, or the whole screen.
    async openWindow(width, height, fullscreen) {
      const canvas = $('quenrik-canvas');
      canvas.width = width;
      canvas.height = height;
      canvas.style.width = width + 'px';
      canvas.style.height = height + 'px';
      page.fullscreen = fullscreen;
      if (!fullscreen) return 1;
      try {
        await $('screen').requestFullscreen({navigationUI: 'hide'});
      } catch (e) {
        console.error('quenrik: full screen refused:', e);
        return 0;
      }
      canvas.style.width = canvas.style.height = '';
      return 1;
    },

    closeWindow() {
      if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
      page.fullscreen = false;
    },

    // Resolves once the browser has put the drawn frame on the screen.
    showFrame() {
      return new Promise(resolve => requestAnimationFrame(() => setTimeout(resolve, 0)));
    },

    frameWanted(clock) { return grabClocks.has(clock); },

    framePresented(clock, gl) {
      const now = performance.now();
      if (page.frames.length === 0) page.times.firstFrame = now;
      page.frames.push([clock, now]);
      if (grabClocks.has(clock)) page.grabs[clock] = Grab(gl);
    },

    reportFailure(text, detail, exitCode) {
      if (detail) console.error('quenrik: ' + detail);
      if (!text) return;
      console.error('Error: ' + text);
      page.error = text;
      $('error-text').textContent = text;
      $('error-box').classList.add('shown');
      $('error-ok').focus();
    },

    finish(reason, exitCode) {
      page.reason = reason;
      page.exitCode = exitCode;
      $('closing-text').textContent =
          ClosingTexts[reason] + (reason === 'error' ? ' (exit code ' + exitCode + ')' : '');
      page.setState('ended');
    },
  };
  window.quenrik = page;

  // The frame in the drawing buffer as a PNG, top row first.
  function Grab(gl) {
    const width = gl.drawingBufferWidth, height = gl.drawingBufferHeight;
    const pixels = new Uint8Array(width * height * 4);
    gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, pixels);
    const canvas = document.createElement('canvas');
    canvas.width = width;
    canvas.height = height;
    const context = canvas.getContext('2d');
    const image = context.createImageData(width, height);
    const row = width * 4;
    for (let y = 0; y < height; ++y) image.data.set(pixels.subarray((height - 1 - y) * row, (height - y) * row), y * row);
    context.putImageData(image, 0, 0);
    return canvas.toDataURL('image/png');
  }

  // Fetches every data file into the module's file system; a file the server
  // does not have stays missing, and the show reports it when it opens it.
  async function FetchData(Module) {
    const files = Module.UTF8ToString(Module._WebDataFiles()).split('\n');
    await Promise.all(files.map(async path => {
      let bytes = null;
      try {
        const response = await fetch(path);
        if (response.ok) bytes = new Uint8Array(await response.arrayBuffer());
      } catch (e) {
        console.error('quenrik: cannot fetch ' + path + ':', e);
      }
      if (!bytes) return;
      Module.FS.mkdirTree(path.substring(0, path.lastIndexOf('/')));
      Module.FS.writeFile(path, bytes);
    }));
  }

  // The program ended inside the module: exit() after the error box, or a
  // crash.
  function Exited(error) {
    if (error && error.name === 'ExitStatus') {
      page.finish(page.error ? 'error' : 'end', error.status);
      return;
    }
    console.error('quenrik:', error);
    page.reportFailure(String(error && error.message || error), '', 1);
    page.finish('error', 1);
  }

  function Step(Module) {
    let running;
    try {
      running = Module._WebStepShow();
      if (virtualClock) {
        const until = performance.now() + VirtualBatchMs;
        while (running && performance.now() < until) running = Module._WebStepShow();
      }
    } catch (e) {
      Exited(e);
      return;
    }
    if (running) {
      requestAnimationFrame(() => Step(Module));
      return;
    }
    const exitCode = Module._WebEndShow();
    page.finish(page.keyPressed ? 'key' : 'end', exitCode);
  }

  // Any key ends the show; leaving full screen (the browser's Escape) too.
  document.addEventListener('keydown', event => {
    if (page.state !== 'playing') return;
    page.keyPressed = true;
    page.module._WebKeyDown();
    if (!event.ctrlKey && !event.metaKey && !event.altKey) event.preventDefault();
  });
  document.addEventListener('fullscreenchange', () => {
    if (page.state === 'playing' && page.fullscreen && !document.fullscreenElement) {
      page.keyPressed = true;
      page.module._WebKeyDown();
    }
  });
  $('error-ok').addEventListener('click', () => $('error-box').classList.remove('shown'));
  $('again').addEventListener('click', event => {
    event.preventDefault();
    location.reload();
  });

  QuenrikModule({page: page, takeAudioContext: page.takeAudioContext}).then(async Module => {
    page.module = Module;
    page.dataReady = FetchData(Module);
    let started;
    try {
      started = await Module.ccall('WebStartShow', 'number', ['number', 'number', 'number'],
                                   [virtualClock ? 1 : 0, seed, drawAll ? 1 : 0], {async: true});
    } catch (e) {
      Exited(e);
      return;
    }
    if (!started) {
      page.finish('cancel', Module._WebEndShow());
      return;
    }
    page.setState('playing');
    requestAnimationFrame(() => Step(Module));
  });
})();
