// How cleanly each resampler plays a held sine, beside openmpt123's interpolation filters on the
// same files. Each case is an IT module written here: one looped 16-bit sine of a period of P
// frames, one note played for two seconds at a pitch that reads `step` frames of it per output
// frame at 44100 Hz. Reported per case, in dB:
//   distortion + noise: what the best-fitting sine leaves over, against that sine;
//   aliasing (tones above half the output rate): the level of what comes out, against the same
//   sample's level at an in-band pitch, where nothing should come out at all.
// The engine renders through the C interface in 16 bits, as openmpt123 --no-float writes, whose
// rounding sets a floor near -82 dB; with --float the engine's figures are those of its float
// output, below that floor.
//   resampler_quality [--float] [--no-reference]
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../../tools/modkit/modkit.h"
#include "audio_measure.h"
#include "libmodux.h"
#include "process_timing.h"

namespace {

const int RATE = 44100;
const double SECONDS = 2.0, FROM = 0.5, TO = 1.9;  // rendered, and the stretch measured
const double IN_BAND_STEP = 0.9;                   // the level reference of an aliasing case
bool float_output = false;

struct quality_case {
  int period;
  double step;
};

const quality_case CASES[] = {{32, 0.9}, {32, 2.3}, {8, 0.9}, {8, 1.5}, {8, 2.3},
                              {8, 4.4},  {8, 5.6},  {8, 6.8}, {4, 3.2}};

modkit::bytes sine_module(int period, double step) {
  modkit::it::song s;
  s.flags = 1 | 8;  // stereo, linear slides, samples without instruments
  s.mix_volume = 128;
  modkit::it::sample q;
  const int frames = period * (4096 / period);
  q.flags = 1 | 2 | 16, q.length = frames, q.loop_start = 0, q.loop_end = frames;
  q.c5 = static_cast<uint32_t>(std::lround(step * RATE));
  for (int i = 0; i < frames; i++) {
    const int v = static_cast<int>(std::lround(0.5 * 32767 * std::sin(2 * M_PI * i / period)));
    q.data.push_back(static_cast<uint8_t>(v)), q.data.push_back(static_cast<uint8_t>(v >> 8));
  }
  s.samples = {q};
  s.patterns[0].cells = {{0, 0, 60, 1, -1, 0, 0}};  // C-5: the sample's own rate
  return modkit::it::build(s);
}

std::vector<float> measured_part(const std::vector<float> &mono) {
  const size_t from = static_cast<size_t>(FROM * RATE), to = static_cast<size_t>(TO * RATE);
  if (mono.size() < to) return {};
  return std::vector<float>(mono.begin() + from, mono.begin() + to);
}

// The engine's render of a module file with a resampler, as mono.
std::vector<float> render_modux(const std::string &path, int resampler) {
  modux_module *m = modux_module_load_file(path.c_str(), nullptr);
  modux_player *p = modux_player_create();
  std::vector<float> mono;
  if (m && p && modux_player_set_option(p, MODUX_OPTION_RESAMPLER, resampler) == MODUX_OK &&
      modux_player_play(p, m) == MODUX_OK) {
    const long frames = static_cast<long>(SECONDS * RATE);
    std::vector<int16_t> out(2 * frames);
    std::vector<float> f(2 * frames);
    const long got = float_output ? modux_player_render_float(p, f.data(), frames)
                                  : modux_player_render_s16(p, out.data(), frames);
    for (long i = 0; i < got; i++)
      mono.push_back(float_output ? (f[2 * i] + f[2 * i + 1]) / 2
                                  : (out[2 * i] + out[2 * i + 1]) / 65536.0f);
  }
  modux_player_destroy(p);
  modux_module_destroy(m);
  return measured_part(mono);
}

// openmpt123's render with an interpolation filter of `taps` taps, as mono; empty when it fails.
std::vector<float> render_openmpt(const std::string &path, int taps, const std::string &wav) {
  unlink(wav.c_str());
  const process_timing t =
      run_process({"openmpt123", "--batch", "--quiet", "--force", "--no-float", "--samplerate",
                   std::to_string(RATE), "--filter", std::to_string(taps), "--end-time",
                   std::to_string(SECONDS), "-o", wav, path});
  audio_measure::Audio audio;
  std::string error;
  if (!t.ok || !audio_measure::read_wav(wav, audio, error)) return {};
  return measured_part(audio.mono);
}

double power(const std::vector<float> &x) {
  double e = 0;
  for (float v : x) e += static_cast<double>(v) * v;
  return x.empty() ? 0 : e / x.size();
}

struct player_column {
  const char *name;
  int resampler;     // the engine's, or -1
  int openmpt_taps;  // openmpt123's filter, or 0
};

}  // namespace

int main(int argc, char **argv) {
  bool reference = true;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--no-reference") == 0) reference = false;
    if (std::strcmp(argv[i], "--float") == 0) float_output = true;
  }
  char scratch[] = "/tmp/resampler_quality.XXXXXX";
  if (!mkdtemp(scratch)) return 1;
  const std::string dir = scratch, module = dir + "/sine.it", wav = dir + "/ref.wav";
  std::vector<player_column> columns = {{"nearest", MODUX_RESAMPLER_NEAREST, 0},
                                        {"linear", MODUX_RESAMPLER_LINEAR, 0},
                                        {"cubic", MODUX_RESAMPLER_CUBIC, 0},
                                        {"sinc", MODUX_RESAMPLER_SINC, 0}};
  if (reference)
    for (int taps : {1, 2, 4, 8})
      columns.push_back({taps == 1   ? "ompt f1"
                         : taps == 2 ? "ompt f2"
                         : taps == 4 ? "ompt f4"
                                     : "ompt f8",
                         -1, taps});

  auto render = [&](const player_column &c, int period, double step) {
    FILE *f = std::fopen(module.c_str(), "wb");
    const modkit::bytes b = sine_module(period, step);
    const bool written = f && std::fwrite(b.data(), 1, b.size(), f) == b.size();
    if (f) std::fclose(f);
    if (!written) return std::vector<float>();
    return c.resampler >= 0 ? render_modux(module, c.resampler)
                            : render_openmpt(module, c.openmpt_taps, wav);
  };

  std::printf("%-28s", "dB (lower is cleaner)");
  for (const player_column &c : columns) std::printf(" %8s", c.name);
  std::printf("\n");
  for (const quality_case &q : CASES) {
    const double cycles = q.step / q.period;  // per output frame
    const bool in_band = cycles < 0.5;
    char label[64];
    std::snprintf(label, sizeof label, "%s P=%d step %.1f", in_band ? "dist+noise" : "aliasing",
                  q.period, q.step);
    std::printf("%-28s", label);
    for (const player_column &c : columns) {
      const std::vector<float> x = render(c, q.period, q.step);
      double db = NAN;
      if (in_band && !x.empty()) {
        db = audio_measure::fit_sine(x, cycles).residual_db;
      } else if (!x.empty()) {
        const std::vector<float> ref = render(c, q.period, IN_BAND_STEP);
        const double amplitude = audio_measure::fit_sine(ref, IN_BAND_STEP / q.period).amplitude;
        if (amplitude > 0)
          db = 10 * std::log10(std::max(power(x), 1e-20) / (amplitude * amplitude / 2));
      }
      if (std::isnan(db))
        std::printf(" %8s", "-");
      else
        std::printf(" %8.1f", db);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  unlink(module.c_str());
  unlink(wav.c_str());
  rmdir(scratch);
  return 0;
}
