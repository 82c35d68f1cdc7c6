// The offline mixer's cost per voice and output frame, at 1, 16, 64 and 128 busy voices (128:
// the size of the IT family's background pool), for each resampler, with and without IT's
// resonant filter; beside it the floor: a plain loop built here that does only what linear
// mixing must (read two float frames, interpolate, add to both sides with a gain), with none of
// the mixer's bookkeeping. The voices play looping 8- and 16-bit samples at unrelated pitches
// (steps 0.09 to 1.3 frames per output frame). Reported as time per voice-frame.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "voice.h"

namespace {

const int RATE = 44100;
const int BLOCK = 1024;
const int SAMPLE_FRAMES = 4096;
MIXER_STATE mixer;  // the mixer measured

struct test_sample {
  SAMPLE spl{};
  std::vector<unsigned char> data;
  explicit test_sample(int bits) {
    data.resize(SAMPLE_FRAMES * bits / 8);
    for (int i = 0; i < SAMPLE_FRAMES; i++) {
      const int v =
          static_cast<int>(std::lround(std::sin(i * 0.07) * 0.8 * (bits == 16 ? 32767 : 127)));
      if (bits == 16) {
        const unsigned u = static_cast<unsigned>(v + 32768);
        data[2 * i] = u & 255, data[2 * i + 1] = u >> 8;
      } else {
        data[i] = static_cast<unsigned char>(v + 128);
      }
    }
    spl.bits = bits, spl.freq = RATE, spl.len = SAMPLE_FRAMES, spl.loop_start = 100;
    spl.loop_end = SAMPLE_FRAMES;
    spl.data = data.data();
  }
};

int hz_of(int v) { return 4000 + (397 * v) % 53000; }

void report(benchmark::State &state, int voices) {
  // Seconds per voice-frame: printed as nanoseconds ("2.4n").
  state.counters["per_voice_frame"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * BLOCK * voices,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Args: voices, resampler, filtered (0/1), bits.
void mix_voices(benchmark::State &state) {
  const int voices = static_cast<int>(state.range(0));
  const int resampler = static_cast<int>(state.range(1));
  const bool filtered = state.range(2) != 0;
  test_sample sample(static_cast<int>(state.range(3)));
  mixer_reset(&mixer, RATE);
  mixer_set_resampler(&mixer, resampler);
  for (int v = 0; v < voices; v++) {
    const int voice = mixer_allocate(&mixer, &sample.spl);
    mixer_set_playmode(&mixer, voice, PLAYMODE_LOOP | (v % 3 == 2 ? PLAYMODE_BIDIR : 0));
    mixer_set_frequency(&mixer, voice, hz_of(v));
    mixer_set_volume(&mixer, voice, 40 + v % 100);
    mixer_set_pan(&mixer, voice, (v * 37) % 256);
    if (filtered) mixer_set_filter(&mixer, voice, (40 + v % 80) * 256, v % 100);
    mixer_start(&mixer, voice);
  }
  std::vector<short> out(2 * BLOCK);
  mixer_mix(&mixer, out.data(), BLOCK);  // past the ramps
  for (auto _ : state) {
    mixer_mix(&mixer, out.data(), BLOCK);
    benchmark::DoNotOptimize(out.data());
  }
  report(state, voices);
  mixer_reset(&mixer, RATE);
  mixer_set_resampler(&mixer, MIXER_LINEAR);
}

// The floor: the same voices as plain records over one float sample long enough that no loop
// is reached within a block, mixed into a float accumulator and converted to 16 bits.
void floor_loop(benchmark::State &state) {
  const int voices = static_cast<int>(state.range(0));
  const int frames = 2 * BLOCK * 2 + 2;  // the fastest step reads under 2 frames per output
  std::vector<float> data(frames);
  for (int i = 0; i < frames; i++) data[i] = static_cast<float>(std::sin(i * 0.07) * 0.8);
  struct plain_voice {
    long long pos, step;
    float gl, gr;
  };
  std::vector<plain_voice> vs(voices);
  for (int v = 0; v < voices; v++)
    vs[v] = {0, (static_cast<long long>(hz_of(v)) << 32) / RATE, 0.3f, 0.2f};
  std::vector<float> acc(2 * BLOCK);
  std::vector<short> out(2 * BLOCK);
  for (auto _ : state) {
    for (float &a : acc) a = 0;
    for (plain_voice &v : vs) {
      long long pos = v.pos;
      for (int k = 0; k < BLOCK; k++) {
        const long i = static_cast<long>(pos >> 32);
        const float f = static_cast<float>(pos & 0xFFFFFFFFLL) * (1.0f / 4294967296.0f);
        const float s = data[i] + (data[i + 1] - data[i]) * f;
        acc[2 * k] += s * v.gl;
        acc[2 * k + 1] += s * v.gr;
        pos += v.step;
      }
      benchmark::DoNotOptimize(pos);
    }
    for (int k = 0; k < 2 * BLOCK; k++) {
      const float s = acc[k] * 32767.0f;
      out[k] = static_cast<short>(s >= 32767.0f    ? 32767
                                  : s <= -32768.0f ? -32768
                                                   : static_cast<int>(s + (s >= 0 ? 0.5f : -0.5f)));
    }
    benchmark::DoNotOptimize(out.data());
  }
  report(state, voices);
}

}  // namespace

// CPU time: the machine is shared, and a benchmark's wall-clock time counts the others' work.
BENCHMARK(floor_loop)->ArgName("voices")->Arg(1)->Arg(16)->Arg(64)->Arg(128);
BENCHMARK(mix_voices)
    ->ArgNames({"voices", "resampler", "filter", "bits"})
    ->ArgsProduct({{1, 16, 64, 128}, {MIXER_LINEAR}, {0}, {16}})
    ->ArgsProduct({{1, 16, 64, 128}, {MIXER_LINEAR}, {0, 1}, {8}})
    ->ArgsProduct({{16, 128}, {MIXER_NEAREST, MIXER_CUBIC, MIXER_SINC}, {0}, {16}});
