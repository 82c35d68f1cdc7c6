// The offline mixer's cost per voice and second of output, with 128 busy voices (the size of
// the IT family's background pool): looping 8- and 16-bit samples at unrelated pitches, with and
// without IT's resonant filter. Reported as wall-clock nanoseconds per voice-second of output and
// as output seconds mixed per wall-clock second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "voice.h"

namespace {

const int RATE = 44100;
const int VOICES = 128;
const int BLOCK = 1024;
MIXER_STATE mixer;  // the mixer measured

struct test_sample {
  SAMPLE spl{};
  std::vector<unsigned char> data;
  explicit test_sample(int bits) {
    const int frames = 4096;
    data.resize(frames * bits / 8);
    for (int i = 0; i < frames; i++) {
      const int v =
          static_cast<int>(std::lround(std::sin(i * 0.07) * 0.8 * (bits == 16 ? 32767 : 127)));
      if (bits == 16) {
        const unsigned u = static_cast<unsigned>(v + 32768);
        data[2 * i] = u & 255, data[2 * i + 1] = u >> 8;
      } else {
        data[i] = static_cast<unsigned char>(v + 128);
      }
    }
    spl.bits = bits, spl.freq = RATE, spl.len = frames, spl.loop_start = 100, spl.loop_end = frames;
    spl.data = data.data();
  }
};

void mix_voices(benchmark::State &state) {
  const int bits = static_cast<int>(state.range(0));
  const bool filtered = state.range(1) != 0;
  test_sample sample(bits);
  mixer_reset(&mixer, RATE);
  for (int v = 0; v < VOICES; v++) {
    const int voice = mixer_allocate(&mixer, &sample.spl);
    mixer_set_playmode(&mixer, voice, PLAYMODE_LOOP | (v % 3 == 0 ? PLAYMODE_BIDIR : 0));
    mixer_set_frequency(&mixer, voice, 4000 + 397 * v);
    mixer_set_volume(&mixer, voice, 40 + v % 100);
    mixer_set_pan(&mixer, voice, (v * 37) % 256);
    if (filtered) mixer_set_filter(&mixer, voice, 40 + v % 80, v % 100);
    mixer_start(&mixer, voice);
  }
  std::vector<short> out(2 * BLOCK);
  for (auto _ : state) {
    mixer_mix(&mixer, out.data(), BLOCK);
    benchmark::DoNotOptimize(out.data());
  }
  const double seconds = static_cast<double>(state.iterations()) * BLOCK / RATE;
  state.counters["voice_seconds"] = benchmark::Counter(
      seconds * VOICES, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
  mixer_reset(&mixer, RATE);
}

}  // namespace

BENCHMARK(mix_voices)
    ->Args({8, 0})
    ->Args({16, 0})
    ->Args({8, 1})
    ->Args({16, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
