// Modules built straight into the engine's model (MODUX), freed by destroy_mod.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "modux_internal.h"

namespace model {

// Sample s: `length` frames of `bits` (its bytes from `data`, zeros past it), looped from
// `loop_start` to `loop_end` by `loop_flags`; volume 64, pan 128, tuning 128 in the XM family
// and 8363 elsewhere. An empty sample keeps every field 0, as a file stores it.
inline void set_sample(MODUX *m, int s, int length, int bits = 8, int loop_start = 0,
                       int loop_end = 0, int loop_flags = 0,
                       const std::vector<uint8_t> &data = {}) {
  const size_t bytes = static_cast<size_t>(length) * bits / 8;
  uint8_t *d = static_cast<uint8_t *>(calloc(1, bytes ? bytes : 1));
  std::copy_n(data.begin(), std::min(bytes, data.size()), d);
  free(m->samples[s].data);
  const unsigned long frames = length, start = loop_start, end = loop_end;
  m->samples[s] = SAMPLE{bits, 0, 1000, 192, frames, start, end, ~0ul, d};
  SAMPLE_INFO &info = m->sample_info[s];
  info = SAMPLE_INFO{};
  info.length = length, info.loop_start = loop_start, info.loop_end = loop_end;
  info.loop_flags = loop_flags;
  if (length == 0) return;
  info.tuning = (m->flags & MODUX_XM) ? 128 : 8363, info.volume = 64, info.pan = 128;
}

// `patterns` patterns of `rows` empty rows played in turn and `samples` silent 8-bit samples of
// `length` frames; speed 6, tempo 125, global volume 64, every channel's pan 128.
inline MODUX *module(int channels, int rows, int flags = 0, int patterns = 1, int samples = 2,
                     int length = 1000) {
  MODUX *m = static_cast<MODUX *>(calloc(1, sizeof(MODUX)));
  m->channel_count = channels, m->sample_count = samples, m->flags = flags;
  m->pattern_count = m->order_count = patterns;
  m->patterns = static_cast<PATTERN_INFO *>(calloc(patterns, sizeof(PATTERN_INFO)));
  for (int p = 0; p < patterns; p++) {
    m->patterns[p] = {static_cast<NOTE_INFO *>(calloc(rows * channels, sizeof(NOTE_INFO))), rows};
    m->order_table[p] = p;
  }
  m->sample_info = static_cast<SAMPLE_INFO *>(calloc(samples, sizeof(SAMPLE_INFO)));
  m->samples = static_cast<SAMPLE *>(calloc(samples, sizeof(SAMPLE)));
  for (int s = 0; s < samples; s++) set_sample(m, s, length);
  m->initial_speed = 6, m->initial_tempo = 125, m->initial_global_volume = 64;
  for (int c = 0; c < channels && c < MODUX_MAX_CHANNELS; c++) m->channel_pan[c] = 128;
  return m;
}

inline NOTE_INFO &cell(MODUX *m, int row, int ch, int p = 0) {
  return m->patterns[p].notes[row * m->channel_count + ch];
}

// The module's one XM instrument, mapping every note to sample `sample`.
inline INSTRUMENT_INFO &add_instrument(MODUX *m, int sample) {
  m->instruments = static_cast<INSTRUMENT_INFO *>(calloc(1, sizeof(INSTRUMENT_INFO)));
  m->instrument_count = 1;
  for (int &s : m->instruments[0].sample_map) s = sample;
  return m->instruments[0];
}

}  // namespace model
