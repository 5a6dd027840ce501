// Brenquosta áudio's live stream in a web page: the connection.
//
// The program listens on 127.0.0.1 and admits one page at a time: it sends a
// JSON format message, then one binary message per 10 ms of 48 kHz stereo
// s16le audio (1920 bytes). No build step, no dependencies.
//
// Every failure is a value, never an exception: {code, reason}, where `code`
// is one of the ERROR_CODES below and `reason` a sentence a page can show.

/** The one stream format the program sends. */
export const STREAM_FORMAT = Object.freeze({
  type: 'format', sampleRate: 48000, channels: 2, format: 's16le', frameMs: 10, frameBytes: 1920,
});

/** What `code` of a StreamError can be. */
export const ERROR_CODES = Object.freeze({
  BAD_ARGUMENTS: 'bad-arguments',
  BAD_INFO: 'bad-info',
  REFUSED: 'refused',
  BLOCKED: 'blocked',
  TIMEOUT: 'timeout',
  BAD_FORMAT: 'bad-format',
  ENDED: 'ended',
  CAPTURE_ERROR: 'capture-error',
  CLOSED: 'closed',
  LOST: 'lost',
});
const E = ERROR_CODES;

/**
 * @typedef {object} StreamError
 * @property {string} code one of ERROR_CODES
 * @property {string} reason a sentence for the page's user
 * @property {string} [detail] the program's own text (capture errors) or the close code
 */

/**
 * @typedef {object} StreamStats
 * @property {number} framesReceived audio frames delivered so far
 * @property {number} framesMissing 10 ms slots between the first and the last arrival without a frame
 * @property {number} lastArrival performance.now() of the last frame, or NaN
 */

/** The browser's name for the permission a public page needs to reach a loopback port. */
export const LOOPBACK_PERMISSION = 'loopback-network';

const TOKEN_RULE = /^[A-Za-z0-9_-]{16,128}$/;

function failure(code, reason, detail) {
  return detail === undefined ? { code, reason } : { code, reason, detail };
}

/**
 * Checks the program's first message.
 * @param {unknown} data the first message's data
 * @returns {StreamError | null} null when it is the expected format message
 */
export function checkFormatMessage(data) {
  if (typeof data !== 'string') {
    return failure(E.BAD_FORMAT, 'The first message is not the format message (it is binary).');
  }
  let message;
  try {
    message = JSON.parse(data);
  } catch {
    return failure(E.BAD_FORMAT, 'The first message is not JSON.', data.slice(0, 200));
  }
  if (message === null || typeof message !== 'object') {
    return failure(E.BAD_FORMAT, 'The first message is not a JSON object.', data.slice(0, 200));
  }
  for (const [key, value] of Object.entries(STREAM_FORMAT)) {
    if (message[key] !== value) {
      const found = key in message ? `${key} ${JSON.stringify(message[key])}` : `no ${key}`;
      return failure(E.BAD_FORMAT, `The format message has ${found}; this page expects ${key} ` +
        `${JSON.stringify(value)}.`, data.slice(0, 200));
    }
  }
  return null;
}

/** Why a connection that never opened failed: the browser's permission, or the program. */
async function whyNotOpened() {
  try {
    const status = await navigator.permissions.query({ name: LOOPBACK_PERMISSION });
    if (status.state === 'denied') {
      return failure(E.BLOCKED, 'The browser blocked the connection: this site is not allowed to reach ' +
        'apps and services on this device (the local network permission in the site settings).');
    }
  } catch {
    // This browser does not know the permission, so it cannot have blocked on it.
  }
  return failure(E.REFUSED, 'Brenquosta áudio refused the connection or is not running.');
}

/** A connected stream; made by connect(). */
export class AudioStream {
  /** @type {typeof STREAM_FORMAT} the format the program announced */
  format = STREAM_FORMAT;
  /** @type {Promise<StreamError>} settles once, with how the stream ended */
  ended;

  #socket;
  #settle;
  #end = null;
  #received = 0;
  #firstArrival = NaN;
  #lastArrival = NaN;

  /** @internal */
  constructor(socket, onFrame) {
    this.#socket = socket;
    this.ended = new Promise((resolve) => { this.#settle = resolve; });
    socket.onmessage = (event) => {
      if (typeof event.data === 'string') {
        this.#onText(event.data);
      } else if (event.data.byteLength === STREAM_FORMAT.frameBytes) {
        this.#lastArrival = performance.now();
        if (this.#received++ === 0) {
          this.#firstArrival = this.#lastArrival;
        }
        onFrame?.(event.data);
      } else {
        this.#finish(failure(E.BAD_FORMAT, `A frame of ${event.data.byteLength} bytes arrived, ` +
          `not ${STREAM_FORMAT.frameBytes}.`));
        socket.close();
      }
    };
    socket.onclose = (event) => {
      // The program closes without a status code (1005) when a newer page took
      // over or its capture ended; after an error message that text is the reason.
      this.#finish(event.code === 1005
        ? failure(E.ENDED, 'Brenquosta áudio ended the stream: another page took over, or the capture ended.')
        : failure(E.LOST, 'The connection to Brenquosta áudio was lost.', String(event.code)));
    };
  }

  #onText(text) {
    let message = null;
    try {
      message = JSON.parse(text);
    } catch {
      // not JSON: handled below like any unknown message
    }
    if (message?.type === 'error' && typeof message.message === 'string') {
      this.#finish(failure(E.CAPTURE_ERROR, `Brenquosta áudio could not capture: ${message.message}`,
        message.message));
    }
    // Anything else (a second format message included) cannot change the stream: ignored.
  }

  #finish(end) {
    if (this.#end === null) {
      this.#end = end;
      this.#settle(end);
    }
  }

  /** @returns {StreamStats} */
  stats() {
    let missing = 0;
    if (this.#received > 1) {
      const slots = Math.round((this.#lastArrival - this.#firstArrival) / STREAM_FORMAT.frameMs) + 1;
      missing = Math.max(0, slots - this.#received);
    }
    return { framesReceived: this.#received, framesMissing: missing, lastArrival: this.#lastArrival };
  }

  /** Ends the stream from the page's side; `ended` then gives code 'closed'. */
  close() {
    this.#finish(failure(E.CLOSED, 'The page closed the stream.'));
    this.#socket.close();
  }
}

/**
 * Connects to the program and waits for its format message.
 * @param {object} options
 * @param {number} options.port the port from the info file
 * @param {string} options.token the token from the info file
 * @param {(frame: ArrayBuffer) => void} [options.onFrame] called with each 1920-byte frame; it may
 *   transfer the buffer (a player does)
 * @param {number} [options.timeoutMs=10000] longest wait for the format message
 * @returns {Promise<{stream: AudioStream} | {error: StreamError}>}
 */
export function connect({ port, token, onFrame, timeoutMs = 10000 }) {
  if (!Number.isInteger(port) || port < 1 || port > 65535) {
    return Promise.resolve({ error: failure(E.BAD_ARGUMENTS, `The port ${port} is not a TCP port.`) });
  }
  if (typeof token !== 'string' || !TOKEN_RULE.test(token)) {
    return Promise.resolve({ error: failure(E.BAD_ARGUMENTS, 'The token is not a Brenquosta áudio token.') });
  }
  return new Promise((resolve) => {
    const socket = new WebSocket(`ws://127.0.0.1:${port}/?t=${token}`);
    socket.binaryType = 'arraybuffer';
    let opened = false;
    const give = (result) => {
      clearTimeout(timer);
      resolve(result);
    };
    const timer = setTimeout(() => {
      socket.onclose = socket.onmessage = null;
      socket.close();
      give({ error: failure(E.TIMEOUT, opened
        ? `Brenquosta áudio sent no format message within ${timeoutMs} ms.`
        : `No connection within ${timeoutMs} ms. If the browser asks whether this site may access other ` +
          'apps and services on this device, allow it and connect again.') });
    }, timeoutMs);
    socket.onopen = () => { opened = true; };
    socket.onclose = async (event) => {
      give({ error: opened
        ? failure(E.LOST, 'Brenquosta áudio closed the connection before announcing the format.',
          String(event.code))
        : await whyNotOpened() });
    };
    socket.onmessage = (event) => {
      const wrong = checkFormatMessage(event.data);
      if (wrong) {
        socket.onclose = socket.onmessage = null;
        socket.close();
        give({ error: wrong });
      } else {
        give({ stream: new AudioStream(socket, onFrame) });
      }
    };
  });
}

/**
 * connect() with the info file's text ({"port":…,"token":"…","pid":…}).
 * @param {string} infoText the info file's content
 * @param {object} [options] onFrame and timeoutMs, as for connect()
 * @returns {Promise<{stream: AudioStream} | {error: StreamError}>}
 */
export function connectWithInfo(infoText, options = {}) {
  let info;
  try {
    info = JSON.parse(infoText);
  } catch {
    return Promise.resolve({ error: failure(E.BAD_INFO, 'The info file is not JSON.') });
  }
  if (info === null || typeof info !== 'object' || !Number.isInteger(info.port) ||
      typeof info.token !== 'string') {
    return Promise.resolve({ error: failure(E.BAD_INFO, 'The info file has no port and token.') });
  }
  return connect({ ...options, port: info.port, token: info.token });
}
