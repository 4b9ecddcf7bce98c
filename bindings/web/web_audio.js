// Web Audio for the music module (web_audio.cpp): the page's AudioContext,
// the stream as one AudioBuffer, one source node, and the output clock.
mergeInto(LibraryManager.library, {
  $QuenrikAudio: {context: null, buffer: null, source: null},

  // The context the page made at the user's "Go!" (Module.takeAudioContext).
  quenrik_audio_open__deps: ['$QuenrikAudio'],
  quenrik_audio_open: function() {
    let context = null;
    try {
      context = Module['takeAudioContext'] ? Module['takeAudioContext']() : null;
    } catch (e) {
      err('quenrik: no audio output: ' + e);
    }
    QuenrikAudio.context = context;
    return context ? 1 : 0;
  },

  // Interleaved 16-bit stereo into a float buffer at the stream's rate.
  quenrik_audio_load__deps: ['$QuenrikAudio'],
  quenrik_audio_load: function(samples, frames) {
    const context = QuenrikAudio.context;
    const buffer = context.createBuffer(2, Math.max(frames, 1), 44100);
    const left = buffer.getChannelData(0), right = buffer.getChannelData(1);
    const pcm = HEAP16.subarray(samples >> 1, (samples >> 1) + 2 * frames);
    for (let i = 0; i < frames; ++i) {
      left[i] = pcm[2 * i] / 32768;
      right[i] = pcm[2 * i + 1] / 32768;
    }
    QuenrikAudio.buffer = buffer;
  },

  // Schedules the first frame leadSeconds from now; returns that context time.
  quenrik_audio_play__deps: ['$QuenrikAudio'],
  quenrik_audio_play: function(leadSeconds) {
    const a = QuenrikAudio;
    if (a.context.state === 'suspended') a.context.resume();
    a.source = a.context.createBufferSource();
    a.source.buffer = a.buffer;
    a.source.connect(a.context.destination);
    const start = a.context.currentTime + leadSeconds;
    a.source.start(start);
    return start;
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

  quenrik_audio_close__deps: ['$QuenrikAudio'],
  quenrik_audio_close: function() {
    const a = QuenrikAudio;
    try {
      if (a.source) a.source.stop();
      if (a.context && a.context.state !== 'closed') a.context.close();
    } catch (e) {
    }
    a.context = a.buffer = a.source = null;
  },
});
