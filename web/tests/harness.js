// What the browser tests run inside a page, through the module as a page would.
import { connect, checkFormatMessage, STREAM_FORMAT } from '/brenquosta-audio.js';
import { createPlayer } from '/player.js';

const next = (v) => (v === 4900 ? -5000 : v + 100);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

/** Tallies the frames as they arrive: size, both channels equal, the sawtooth unbroken. */
function frameChecker() {
  const tally = { frames: 0, wrongSize: 0, wrongSamples: 0, firstAt: NaN, timesMs: [] };
  let expected = null;
  const check = (frame) => {
    const now = performance.now();
    if (tally.frames++ === 0) {
      tally.firstAt = now;
    }
    tally.timesMs.push(now - tally.firstAt);
    if (frame.byteLength !== STREAM_FORMAT.frameBytes) {
      tally.wrongSize++;
      return;
    }
    const samples = new Int16Array(frame);
    for (let i = 0; i < samples.length; i += 2) {
      if (samples[i] !== samples[i + 1] || (expected !== null && samples[i] !== expected)) {
        tally.wrongSamples++;
      }
      expected = next(samples[i]);
    }
  };
  return { tally, check };
}

/**
 * Streams through the module into the player and reads the player's output
 * back through its MediaStreamTrack with a second worklet.
 */
export async function streamAndPlay({ port, token, countMs, playMs, targetMs }) {
  const context = new AudioContext({ sampleRate: 48000 });
  await context.resume();
  const made = await createPlayer(context, targetMs ? { targetMs } : {});
  if (made.error) {
    return { error: made.error };
  }
  const { player } = made;
  await context.audioWorklet.addModule('/tests/tap-worklet.js');
  const tap = new AudioWorkletNode(context, 'sawtooth-tap', { channelCount: 2, channelCountMode: 'explicit' });
  context.createMediaStreamSource(new MediaStream([player.track])).connect(tap);
  tap.connect(context.destination);

  const { tally, check } = frameChecker();
  const connected = await connect({ port, token, onFrame: (frame) => { check(frame); player.feed(frame); } });
  if (connected.error) {
    return { error: connected.error };
  }
  const { stream } = connected;
  await sleep(playMs);
  const tapReport = await new Promise((resolve) => {
    tap.port.onmessage = ({ data }) => resolve(data);
    tap.port.postMessage('report');
  });
  const playerStats = await player.stats();
  const streamStats = stream.stats();
  stream.close();
  const end = await stream.ended;
  player.close();
  await context.close();
  const inWindow = tally.timesMs.filter((t) => t < countMs).length;
  return {
    format: stream.format, firstFrameEpochMs: performance.timeOrigin + tally.firstAt,
    framesInWindow: inWindow, frames: tally.frames, wrongSize: tally.wrongSize,
    wrongSamples: tally.wrongSamples, tap: tapReport, player: playerStats, stream: streamStats, end,
  };
}

/** Connects and waits for the end; frames are only counted. */
export async function connectAndWaitForEnd({ port, token, untilMs }) {
  let frames = 0;
  const connected = await connect({ port, token, onFrame: () => { frames++; } });
  if (connected.error) {
    return { error: connected.error };
  }
  const end = await Promise.race([connected.stream.ended, sleep(untilMs).then(() => null)]);
  return { end, frames };
}

/** Opens a stream and keeps it in window.openStream, for the test to end it from elsewhere. */
export async function openAndKeep({ port, token }) {
  const connected = await connect({ port, token, onFrame: () => {} });
  if (connected.error) {
    return { error: connected.error };
  }
  window.openStream = connected.stream;
  window.openStreamEnd = null;
  connected.stream.ended.then((end) => { window.openStreamEnd = end; });
  return { format: connected.stream.format };
}

/** The module's check of the first message, over wrong first messages. */
export function formatChecks() {
  const good = JSON.stringify(STREAM_FORMAT);
  const wrong = [new ArrayBuffer(97), 'not json', 'null', good.replace('48000', '44100'),
    good.replace('"s16le"', '"f32le"'), '{"type":"error","message":"x"}'];
  return { good: checkFormatMessage(good), wrong: wrong.map((data) => checkFormatMessage(data)?.code ?? null) };
}

/** How far the waveform in a screenshot spreads: rows and columns holding the trace's blue. */
export async function traceExtent({ png: base64, area: { x, y, width, height } }) {
  const png = await (await fetch(`data:image/png;base64,${base64}`)).blob();
  const canvas = new OffscreenCanvas(width, height);
  const pen = canvas.getContext('2d');
  pen.drawImage(await createImageBitmap(png), -x, -y);
  const { data } = pen.getImageData(0, 0, width, height);
  const rows = new Set();
  const columns = new Set();
  for (let i = 0; i < data.length; i += 4) {
    if (data[i + 2] > 150 && data[i] < 100) {
      rows.add(Math.floor(i / 4 / width));
      columns.add((i / 4) % width);
    }
  }
  return { rows: rows.size, columns: columns.size };
}
