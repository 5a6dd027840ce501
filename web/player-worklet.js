// The player's audio thread: a jitter buffer of float samples fed with s16le
// stereo frames (as Int16Array, their buffers transferred), played at the
// context's 48 kHz. Everything it needs is allocated once, in the constructor.

const CAPACITY = 48000; // samples per channel: one second
const SAMPLES_PER_FRAME = 480;

class BrenquostaPlayer extends AudioWorkletProcessor {
  constructor({ processorOptions }) {
    super();
    this.left = new Float32Array(CAPACITY);
    this.right = new Float32Array(CAPACITY);
    this.readAt = 0;
    this.fill = 0; // samples waiting
    this.target = processorOptions.targetSamples;
    // More than this waiting means the audio clock fell behind the program's
    // (a stalled audio thread, or a device clock slower than the system's):
    // the oldest samples are dropped back to the target to keep latency bounded.
    this.limit = Math.min(CAPACITY, this.target + Math.max(this.target >> 1, 1920));
    this.playing = false;
    this.starved = false; // ran dry while playing; frames that arrive now are late
    this.underruns = 0;
    this.lateFrames = 0;
    this.droppedSamples = 0;
    this.stats = { fillMs: 0, underruns: 0, lateFrames: 0, droppedFrames: 0, playing: false };
    this.port.onmessage = ({ data }) => {
      if (data instanceof Int16Array) {
        this.push(data);
      } else if (data === 'stats') {
        this.reportStats();
      }
    };
  }

  push(frame) {
    if (this.starved) {
      this.lateFrames++;
    }
    let writeAt = (this.readAt + this.fill) % CAPACITY;
    for (let i = 0; i + 1 < frame.length; i += 2) {
      this.left[writeAt] = frame[i] / 32768;
      this.right[writeAt] = frame[i + 1] / 32768;
      writeAt = writeAt + 1 === CAPACITY ? 0 : writeAt + 1;
    }
    this.fill += frame.length >> 1;
    if (this.fill > this.limit) {
      const drop = this.fill - this.target;
      this.droppedSamples += drop;
      this.readAt = (this.readAt + drop) % CAPACITY;
      this.fill = this.target;
    }
  }

  process(inputs, outputs) {
    const [left, right] = outputs[0];
    const count = left.length;
    if (!this.playing) {
      if (this.fill < this.target) {
        return true; // outputs start as silence
      }
      this.playing = true;
      this.starved = false;
    }
    if (this.fill < count) {
      // Keep what is left so no sample is lost, and build the target up again.
      this.underruns++;
      this.playing = false;
      this.starved = true;
      return true;
    }
    for (let i = 0; i < count; i++) {
      left[i] = this.left[this.readAt];
      right[i] = this.right[this.readAt];
      this.readAt = this.readAt + 1 === CAPACITY ? 0 : this.readAt + 1;
    }
    this.fill -= count;
    return true;
  }

  reportStats() {
    const stats = this.stats;
    stats.fillMs = (this.fill / sampleRate) * 1000;
    stats.underruns = this.underruns;
    stats.lateFrames = this.lateFrames;
    stats.droppedFrames = Math.ceil(this.droppedSamples / SAMPLES_PER_FRAME);
    stats.playing = this.playing;
    this.port.postMessage(stats);
  }
}

registerProcessor('brenquosta-player', BrenquostaPlayer);
