// Reads the player's output back and checks it against the fake source's
// sawtooth: 100 * (n mod 100) - 5000 on both channels, as float value / 32768.
// Silence (zeros) is allowed only where the player had nothing to play.

const next = (v) => (v === 4900 ? -5000 : v + 100);
const isSawtoothValue = (v) => Number.isInteger(v) && v >= -5000 && v <= 4900 && (v + 5000) % 100 === 0;

class SawtoothTap extends AudioWorkletProcessor {
  constructor() {
    super();
    this.report = { checked: 0, wrong: 0, breaks: 0, silences: 0, firstWrong: null };
    this.expected = null; // null until the first sound
    this.inSilence = false;
    this.port.onmessage = () => this.port.postMessage(this.report);
  }

  process(inputs) {
    const [left, right] = inputs[0];
    if (!left || !right) {
      return true;
    }
    const r = this.report;
    for (let i = 0; i < left.length; i++) {
      const v = left[i] * 32768;
      if (left[i] !== right[i] || !isSawtoothValue(v)) {
        r.wrong++;
        r.firstWrong ??= `left ${left[i]} right ${right[i]} after ${r.checked} samples`;
      } else if (v === this.expected) {
        this.inSilence = false;
        this.expected = next(v);
        r.checked++;
      } else if (v === 0) {
        if (!this.inSilence && this.expected !== null) {
          r.silences++;
        }
        this.inSilence = true;
      } else {
        if (this.expected !== null) {
          r.breaks++;
        }
        this.inSilence = false;
        this.expected = next(v);
        r.checked++;
      }
    }
    return true;
  }
}

registerProcessor('sawtooth-tap', SawtoothTap);
