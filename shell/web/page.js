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
//   times      performance.now() at 'dialog' (it shows), 'data' (the data
//              files are in), 'ahead' (decoding
//              ahead is done), 'go' (the dialog's end), 'loading' (the
//              loading screen is shown), 'music' (the music is started)
//              and 'firstFrame'
//   stepMs     how long each animation frame that drew a show frame took
//   grabs      test mode: the grabbed frames, PNG data URLs by music clock
//   recording  record mode: what the music played, see Recorder
//
// Query parameters (tests): test=frames runs the show on a virtual clock
// (15 ms of music per frame, as fast as the page can draw) with the shake's
// seed seed=N (default 20240607), grabbing the frames at the music clocks of
// grab=MS,MS,... and drawing only those with draw=grabbed; record=S records
// the first S seconds of the music as the page plays it.
'use strict';

(function() {
  const params = new URLSearchParams(location.search);
  const virtualClock = params.get('test') === 'frames';
  const seed = Number(params.get('seed') || 20240607) >>> 0;
  const grabClocks = new Set((params.get('grab') || '').split(',').filter(Boolean).map(Number));
  const drawAll = params.get('draw') !== 'grabbed';
  const recordSeconds = Number(params.get('record') || 0);
  // Virtual clock: frames per animation frame, at most this long a batch.
  const VirtualBatchMs = 30;
  // The music is fed from a timer too, for a page that gets no animation
  // frames (a hidden tab).
  const MusicFeedMs = 250;

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
    stepMs: [],
    times: {},
    grabs: {},
    module: null,
    dataReady: null,
    keyPressed: false,
    fullscreen: false,

    setState(state) {
      if (state === 'dialog') page.times.dialog = performance.now();
      page.state = state;
      document.body.dataset.state = state;
      $('status').textContent = StatusTexts[state];
    },

    // The dialog has ended; with "Go!" this click (or key) is the gesture
    // that lets the page play sound, so the audio output is resumed now.
    dialogEnded(quit) {
      if (quit) return;
      page.times.go = performance.now();
      page.setState('starting');
      if (page.audioContext && page.audioContext.state === 'suspended') page.audioContext.resume();
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
      return new Promise(resolve => requestAnimationFrame(() => setTimeout(() => {
        page.times.loading = performance.now();
        resolve();
      }, 0)));
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

  // The music's output, made at once (suspended until "Go!" resumes it).
  function MakeAudioContext() {
    try {
      const Context = window.AudioContext || window.webkitAudioContext;
      return new Context({sampleRate: 44100, latencyHint: 'interactive'});
    } catch (e) {
      console.error('quenrik: no audio output:', e);
      return null;
    }
  }

  // Record mode: a pass-through node between the music and the output that
  // keeps the first recordSeconds of the stream as 16-bit stereo, placed by
  // the context frame where the stream starts (Module.onMusicStart), and
  // counts what should not be there: sound before the start, samples that
  // are not 16-bit values.
  async function Recorder(context) {
    const source = `registerProcessor('quenrik-recorder', class extends AudioWorkletProcessor {
      process(inputs, outputs) {
        const input = inputs[0], output = outputs[0];
        for (let c = 0; c < output.length && c < input.length; ++c) output[c].set(input[c]);
        this.port.postMessage([currentFrame, input.length ? input[0].slice() : null, input.length ? input[1].slice() : null]);
        return true;
      }
    });`;
    await context.audioWorklet.addModule(URL.createObjectURL(new Blob([source], {type: 'text/javascript'})));
    const node = new AudioWorkletNode(context, 'quenrik-recorder', {
      numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [2],
      channelCount: 2, channelCountMode: 'explicit', channelInterpretation: 'discrete'});
    node.connect(context.destination);
    const frames = Math.round(recordSeconds * 44100);
    const recording = page.recording = {startFrame: -1, frames, filled: 0, beforeStart: 0, notSixteenBit: 0,
                                        pcm: new Int16Array(2 * frames), done: false};
    node.port.onmessage = event => {
      const [at, left, right] = event.data;
      if (!left || recording.done) return;
      for (let i = 0; i < left.length; ++i) {
        const f = at + i - recording.startFrame;
        if (recording.startFrame < 0 || f < 0) {
          if (left[i] !== 0 || right[i] !== 0) ++recording.beforeStart;
        } else if (f < frames) {
          const l = left[i] * 32768, r = right[i] * 32768;
          if (!Number.isInteger(l) || !Number.isInteger(r)) ++recording.notSixteenBit;
          recording.pcm[2 * f] = l;
          recording.pcm[2 * f + 1] = r;
          recording.filled = Math.max(recording.filled, f + 1);
        }
      }
      recording.done = recording.filled === frames;
    };
    return node;
  }

  // The recording as base64 of its 16-bit samples (for the tests).
  page.recordingBase64 = () => {
    const bytes = new Uint8Array(page.recording.pcm.buffer);
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  };

  // While the dialog is open: the pictures and the music, a slice at a time
  // between the page's events.
  function DecodeAhead(Module) {
    if (page.state !== 'dialog') return;
    let more;
    try {
      more = Module._WebDecodeAhead();
    } catch (e) {
      console.error('quenrik: decoding ahead:', e);
      return;
    }
    if (more) {
      setTimeout(() => DecodeAhead(Module), 0);
    } else {
      page.times.ahead = performance.now();
    }
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
    const start = performance.now(), framesBefore = page.frames.length;
    let running;
    try {
      running = Module._WebStepShow();
      if (page.frames.length > framesBefore) page.stepMs.push(performance.now() - start);
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
    if (!virtualClock) {
      page.audioContext = MakeAudioContext();
      if (recordSeconds > 0 && page.audioContext) {
        const recorder = await Recorder(page.audioContext);
        Module.audioOutput = () => recorder;
      }
      Module.onMusicStart = frame => {
        page.times.music = performance.now();
        if (page.recording) page.recording.startFrame = frame;
      };
      setInterval(() => {
        if (page.state === 'playing') Module._WebFeedMusic();
      }, MusicFeedMs);
    }
    page.dataReady.then(() => {
      page.times.data = performance.now();
      DecodeAhead(Module);
    });
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
