// Web Audio for the music module (web_audio.cpp): the page's AudioContext,
// the decoded stream kept as it arrives, scheduled as a chain of buffer
// sources, and the output clock. Emscripten's optimizer reads this file:
// ES2015 only (no async functions, no destructuring).
mergeInto(LibraryManager.library, {
  $QuenrikAudio: {
    rate: 0,               // the stream's frames per second
    segmentFrames: 22050,  // about this long a source each
    horizonFrames: 176400, // scheduled at most this far ahead of the context's time
    context: null,
    pending: [],           // decoded pieces not yet scheduled: [left, right]
    pendingOffset: 0,      // frames of pending[0] already scheduled
    pendingFrames: 0,
    ended: false,          // no more pieces will come
    startFrame: -1,        // the context frame of the stream's frame 0, once playing
    scheduledFrames: 0,
    sources: [],

    // Chromium starts a source at time t on frame round(t * rate), but
    // interpolates the whole buffer by whatever fraction t * rate lies off
    // that frame. So every source starts at a frame f whose time f / rate
    // gives f back exactly: then the samples are heard as decoded.
    exactFrame: function(frame) {
      const rate = QuenrikAudio.rate;
      while (frame / rate * rate !== frame) ++frame;
      return frame;
    },

    // Schedules what has been decoded, up to horizonFrames ahead: sources of
    // about segmentFrames, each starting where the last one ends, on an exact
    // frame; the last one ends with the stream.
    schedule: function() {
      const a = QuenrikAudio;
      if (a.startFrame < 0) return;
      for (;;) {
        const at = a.startFrame + a.scheduledFrames;
        if (a.pendingFrames === 0 || at > a.context.currentTime * a.rate + a.horizonFrames) return;
        let length = a.pendingFrames;
        if (!a.ended || length >= 2 * a.segmentFrames) {
          length = a.exactFrame(at + a.segmentFrames) - at;
          if (length > a.pendingFrames) return;  // more is coming
        }
        const buffer = a.context.createBuffer(2, length, a.rate);
        for (let copied = 0; copied < length;) {
          const piece = a.pending[0];
          const take = Math.min(length - copied, piece[0].length - a.pendingOffset);
          buffer.copyToChannel(piece[0].subarray(a.pendingOffset, a.pendingOffset + take), 0, copied);
          buffer.copyToChannel(piece[1].subarray(a.pendingOffset, a.pendingOffset + take), 1, copied);
          copied += take;
          a.pendingOffset += take;
          if (a.pendingOffset === piece[0].length) {
            a.pending.shift();
            a.pendingOffset = 0;
          }
        }
        a.pendingFrames -= length;
        a.scheduledFrames += length;
        const source = a.context.createBufferSource();
        source.buffer = buffer;
        source.connect(a.output);
        source.onended = function() {
          const index = a.sources.indexOf(source);
          if (index >= 0) a.sources.splice(index, 1);
        };
        // Decoded too late (a starved page): heard from where the clock is,
        // so the music stays in time.
        const when = at / a.rate, now = a.context.currentTime;
        if (when >= now) {
          source.start(when);
        } else if (now < (at + length) / a.rate) {
          source.start(now, now - when);
        }
        a.sources.push(source);
      }
    },
  },

  // The context the page made (Module.takeAudioContext), for a stream of
  // rate frames per second.
  quenrik_audio_open__deps: ['$QuenrikAudio'],
  quenrik_audio_open: function(rate) {
    QuenrikAudio.rate = rate;
    let context = null;
    try {
      context = Module['takeAudioContext'] ? Module['takeAudioContext']() : null;
    } catch (e) {
      err('quenrik: no audio output: ' + e);
    }
    QuenrikAudio.context = context;
    return context ? 1 : 0;
  },

  // Interleaved 16-bit stereo, kept as two float channels.
  quenrik_audio_append__deps: ['$QuenrikAudio'],
  quenrik_audio_append: function(samples, frames) {
    const a = QuenrikAudio;
    const left = new Float32Array(frames), right = new Float32Array(frames);
    const pcm = HEAP16.subarray(samples >> 1, (samples >> 1) + 2 * frames);
    for (let i = 0; i < frames; ++i) {
      left[i] = pcm[2 * i] / 32768;
      right[i] = pcm[2 * i + 1] / 32768;
    }
    a.pending.push([left, right]);
    a.pendingFrames += frames;
    a.schedule();
  },

  // More of the decoded stream scheduled, as the horizon moves on.
  quenrik_audio_schedule__deps: ['$QuenrikAudio'],
  quenrik_audio_schedule: function() { QuenrikAudio.schedule(); },

  quenrik_audio_end__deps: ['$QuenrikAudio'],
  quenrik_audio_end: function() {
    QuenrikAudio.ended = true;
    QuenrikAudio.schedule();
  },

  // Starts the stream on an exact frame leadSeconds from now; returns its time.
  quenrik_audio_play__deps: ['$QuenrikAudio'],
  quenrik_audio_play: function(leadSeconds) {
    const a = QuenrikAudio;
    if (a.context.state === 'suspended') a.context.resume();
    a.output = Module['audioOutput'] ? Module['audioOutput'](a.context) : a.context.destination;
    a.startFrame = a.exactFrame(Math.ceil((a.context.currentTime + leadSeconds) * a.rate));
    a.scheduledFrames = 0;
    a.schedule();
    if (Module['onMusicStart']) Module['onMusicStart'](a.startFrame);
    return a.startFrame / a.rate;
  },

  // What the device plays out now, and when that was. Without
  // getOutputTimestamp: the context's time less its latencies.
  quenrik_audio_reading__deps: ['$QuenrikAudio'],
  quenrik_audio_reading: function(contextTime, performanceTime, now) {
    const context = QuenrikAudio.context;
    const time = performance.now();
    let stamp;
    if (context.getOutputTimestamp) {
      stamp = context.getOutputTimestamp();
    } else {
      const latency = (context.outputLatency || 0) + (context.baseLatency || 0);
      stamp = {contextTime: Math.max(0, context.currentTime - latency), performanceTime: time};
    }
    HEAPF64[contextTime >> 3] = stamp.contextTime || 0;
    HEAPF64[performanceTime >> 3] = stamp.performanceTime || 0;
    HEAPF64[now >> 3] = time;
  },

  // Stops every source, closes the context, forgets the stream.
  quenrik_audio_close__deps: ['$QuenrikAudio'],
  quenrik_audio_close: function() {
    const a = QuenrikAudio;
    a.sources.forEach(function(source) {
      try {
        source.stop();
      } catch (e) {
      }
    });
    try {
      if (a.context && a.context.state !== 'closed') a.context.close();
    } catch (e) {
    }
    a.context = a.output = null;
    a.pending = [];
    a.pendingOffset = a.pendingFrames = a.scheduledFrames = 0;
    a.ended = false;
    a.startFrame = -1;
    a.sources = [];
  },
});
