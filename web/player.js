// Brenquosta áudio's stream in a web page: the player. It turns the frames
// into a MediaStreamTrack (through an AudioWorkletNode with a jitter buffer)
// that a page can hand to a WebRTC sender or a recorder.

import { STREAM_FORMAT } from './brenquosta-audio.js';

/**
 * The default jitter-buffer target, from measurement (bench/browser_player.py,
 * figures in the README): in 60 s, 20 and 40 ms underran even on a normally
 * loaded machine, 80 ms did not (0 to 3 times with both cores saturated),
 * 200 ms never did but doubles the delay.
 */
export const DEFAULT_TARGET_MS = 80;

/**
 * @typedef {object} PlayerStats
 * @property {number} fillMs audio waiting in the jitter buffer
 * @property {number} underruns times the buffer ran dry while playing
 * @property {number} lateFrames frames that arrived while the buffer was dry
 * @property {number} droppedFrames frames' worth of audio dropped because too much had piled up
 * @property {boolean} playing false while the buffer fills up to its target
 */

// Int16Array reads the platform's byte order; the stream is little-endian.
const LITTLE_ENDIAN = new Uint8Array(new Uint16Array([1]).buffer)[0] === 1;

/** Plays the frames of one stream; made by createPlayer(). */
export class Player {
  /** @type {AudioWorkletNode} the player's node, for pages that want to connect it further */
  node;
  /** @type {MediaStreamTrack} the audio as a track */
  track;

  #destination;
  #waiting = [];

  /** @internal */
  constructor(node, destination) {
    this.node = node;
    this.#destination = destination;
    this.track = destination.stream.getAudioTracks()[0];
    this.feed = this.feed.bind(this);
    node.port.onmessage = ({ data }) => this.#waiting.shift()?.(data);
  }

  /**
   * Queues one 1920-byte frame; its buffer is transferred (unusable afterwards).
   * Pass it as connect()'s onFrame.
   * @param {ArrayBuffer} frame
   */
  feed(frame) {
    this.node.port.postMessage(new Int16Array(frame), [frame]);
  }

  /** @returns {Promise<PlayerStats>} */
  stats() {
    return new Promise((resolve) => {
      this.#waiting.push(resolve);
      this.node.port.postMessage('stats');
    });
  }

  /** Stops the track and takes the player out of its audio graph. */
  close() {
    this.track.stop();
    this.node.disconnect();
    this.node.port.close();
    this.#destination.disconnect();
    for (const resolve of this.#waiting.splice(0)) {
      resolve(null);
    }
  }
}

/**
 * Makes a player in an AudioContext that runs at 48000 Hz.
 * @param {AudioContext} context
 * @param {object} [options]
 * @param {number} [options.targetMs=DEFAULT_TARGET_MS] audio to collect before playing, and again
 *   after an underrun (10 to 400 ms)
 * @returns {Promise<{player: Player} | {error: {code: string, reason: string}}>}
 */
export async function createPlayer(context, { targetMs = DEFAULT_TARGET_MS } = {}) {
  if (context.sampleRate !== STREAM_FORMAT.sampleRate) {
    return { error: { code: 'bad-context', reason: `The AudioContext runs at ${context.sampleRate} Hz; ` +
      `the player needs ${STREAM_FORMAT.sampleRate} Hz (new AudioContext({sampleRate: 48000})).` } };
  }
  if (!LITTLE_ENDIAN) {
    return { error: { code: 'bad-context', reason: 'This platform stores numbers big-endian.' } };
  }
  if (!(targetMs >= 10 && targetMs <= 400)) {
    return { error: { code: 'bad-arguments', reason: `A buffer target of ${targetMs} ms is not 10 to 400 ms.` } };
  }
  try {
    await context.audioWorklet.addModule(new URL('./player-worklet.js', import.meta.url));
  } catch (e) {
    return { error: { code: 'no-worklet', reason: `The player's audio worklet did not load: ${e.message}` } };
  }
  const node = new AudioWorkletNode(context, 'brenquosta-player', {
    numberOfInputs: 0,
    numberOfOutputs: 1,
    outputChannelCount: [STREAM_FORMAT.channels],
    processorOptions: { targetSamples: Math.round((targetMs * STREAM_FORMAT.sampleRate) / 1000) },
  });
  const destination = context.createMediaStreamDestination();
  destination.channelCount = STREAM_FORMAT.channels;
  node.connect(destination);
  return { player: new Player(node, destination) };
}
