// The demo: connect with the info file's text, show the state and the
// statistics, and draw the player's output so a person can see audio flow.
import { connectWithInfo } from '../brenquosta-audio.js';
import { createPlayer } from '../player.js';

const $ = (id) => document.getElementById(id);
let session = null; // {context, player, stream, timer}

function showState(state, text) {
  $('state').dataset.state = state;
  $('state').textContent = text;
}

async function start() {
  stop();
  showState('connecting', 'Connecting…');
  const context = new AudioContext({ sampleRate: 48000 });
  context.resume(); // without a click on Connect the browser may keep it suspended
  const made = await createPlayer(context);
  if (made.error) {
    showState(made.error.code, made.error.reason);
    return;
  }
  const { player } = made;
  const analyser = context.createAnalyser();
  analyser.fftSize = 2048;
  player.node.connect(analyser);
  if ($('listen').checked) {
    analyser.connect(context.destination);
  }
  const connected = await connectWithInfo($('info').value, { onFrame: player.feed });
  if (connected.error) {
    showState(connected.error.code, connected.error.reason);
    player.close();
    await context.close();
    return;
  }
  const { stream } = connected;
  const timer = setInterval(() => showStats(stream, player), 250);
  session = { context, player, stream, timer };
  showState('streaming', context.state === 'running'
    ? 'Streaming.' : 'Streaming; the browser holds the audio until you click the page.');
  draw(analyser, new Float32Array(analyser.fftSize), stream);
  const end = await stream.ended;
  showState(end.code, end.reason);
  clearInterval(timer);
  player.close();
  await context.close();
  if (session?.stream === stream) {
    session = null;
  }
}

function stop() {
  session?.stream.close();
}

async function showStats(stream, player) {
  const { framesReceived, framesMissing } = stream.stats();
  const played = await player.stats();
  $('framesReceived').textContent = framesReceived;
  $('framesMissing').textContent = framesMissing;
  if (played) {
    $('fillMs').textContent = `${played.fillMs.toFixed(0)} ms`;
    $('underruns').textContent = played.underruns;
    $('lateFrames').textContent = played.lateFrames;
  }
}

function draw(analyser, samples, stream) {
  const canvas = $('wave');
  const pen = canvas.getContext('2d');
  const frame = () => {
    if (session?.stream !== stream) {
      return; // keeps the last picture
    }
    analyser.getFloatTimeDomainData(samples);
    pen.clearRect(0, 0, canvas.width, canvas.height);
    pen.strokeStyle = '#1565c0';
    pen.lineWidth = 2;
    pen.beginPath();
    const middle = canvas.height / 2;
    for (let x = 0; x < canvas.width; x++) {
      const y = middle - samples[Math.floor((x * samples.length) / canvas.width)] * middle;
      x === 0 ? pen.moveTo(x, y) : pen.lineTo(x, y);
    }
    pen.stroke();
    requestAnimationFrame(frame);
  };
  requestAnimationFrame(frame);
}

$('connect').addEventListener('submit', (event) => {
  event.preventDefault();
  start();
});
$('disconnect').addEventListener('click', stop);
document.addEventListener('click', () => session?.context.resume());

// #port=…&token=… in the address fills in the info and connects at once.
const fromAddress = new URLSearchParams(location.hash.slice(1));
if (fromAddress.has('port') && fromAddress.has('token')) {
  $('info').value = JSON.stringify({ port: Number(fromAddress.get('port')), token: fromAddress.get('token') });
  start();
}
