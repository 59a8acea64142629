// The microphone for /tiravex.js: an audio worklet that turns the input
// into 8 kHz mono 16-bit PCM (each output sample the mean of the input over
// its period, which also keeps what is above 4 kHz out) and posts it in
// batches of `batchMs` milliseconds.
class TiravexTalk extends AudioWorkletProcessor {
    constructor(options) {
        super();
        this.step = sampleRate / 8000;
        this.batch = Math.round(8000 * ((options.processorOptions && options.processorOptions.batchMs) || 100) / 1000);
        this.out = new Int16Array(this.batch);
        this.filled = 0;
        this.sum = 0;
        this.count = 0;
        this.phase = 0;
    }

    process(inputs) {
        const channel = inputs[0] && inputs[0][0];
        if (!channel) return true;
        for (let i = 0; i < channel.length; ++i) {
            this.sum += channel[i];
            this.count += 1;
            this.phase += 1;
            if (this.phase >= this.step) {
                this.phase -= this.step;
                const v = Math.max(-1, Math.min(1, this.sum / this.count));
                this.out[this.filled++] = Math.round(v * 32767);
                this.sum = 0;
                this.count = 0;
                if (this.filled === this.batch) {
                    this.port.postMessage(this.out.buffer, [this.out.buffer]);
                    this.out = new Int16Array(this.batch);
                    this.filled = 0;
                }
            }
        }
        return true;
    }
}

registerProcessor('tiravex-talk', TiravexTalk);
