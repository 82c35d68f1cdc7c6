// Hand-built MUX images for the engine's tests: a module described in file terms (Amiga periods
// or XM note bytes as the file stores them), its encoder, and a read-only PACKFILE over memory so
// that no test touches the disk unless it means to.
#pragma once

#include <allegro.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace muxtest {

using bytes = std::vector<uint8_t>;

inline void put8(bytes &b, int v) { b.push_back(static_cast<uint8_t>(v)); }
inline void put16(bytes &b, int v) { put8(b, v), put8(b, v >> 8); }
inline void put32(bytes &b, int64_t v) { put16(b, int(v & 0xFFFF)), put16(b, int(v >> 16)); }

struct cell {
  int note = 0, sample = 0, volume = 0, command = 0, param = 0;
};
struct pattern {
  int rows = 64;
  std::vector<cell> cells;  // row-major; missing cells are empty
  bytes raw = {};           // when not empty, written after the row count instead of the cells
};

struct sample {
  int32_t length = 0, loop_start = 0, loop_end = 0;
  int vibrato_type = 0, vibrato_sweep = 0, vibrato_depth = 0, vibrato_rate = 0;
  int volume = 64, pan = 128, relative_note = 0, tuning = 8363, bits = 8, loop_flags = 0;
  bytes data;  // written as is; empty means length x bits / 8 bytes of a ramp
};

struct envelope {
  int tick[12] = {}, value[12] = {}, points = 0, flags = 0, sustain = 0, loop_start = 0,
      loop_end = 0;
};
struct instrument {
  uint8_t sample_map[96] = {};
  envelope vol, pan;
  int fadeout = 0;
};

struct module {
  std::string name = "test song";
  int channels = 4;
  std::vector<int> pans;  // missing entries are 128
  std::vector<int> orders = {0};
  int speed = 6, tempo = 125, global_volume = 64, restart = 0, flags = 0;
  std::vector<instrument> instruments;
  std::vector<sample> samples;
  std::vector<pattern> patterns;
};

// Column coding: a run of k non-empty values is 0x80|k then the values; k empty cells are k.
inline void encode_column(bytes &out, const std::vector<int> &values, int width) {
  for (size_t p = 0, run; p < values.size(); p += run) {
    const bool empty = values[p] == 0;
    for (run = 0; p + run < values.size() && run < 127 && (values[p + run] == 0) == empty;) run++;
    put8(out, static_cast<int>(run) | (empty ? 0 : 0x80));
    for (size_t i = 0; !empty && i < run; i++)
      width == 1 ? put8(out, values[p + i]) : put16(out, values[p + i]);
  }
}

inline bytes build(const module &m) {
  bytes b;
  for (int i = 0; i < 18; i++) put8(b, "MODUX 01 module : "[i]);
  for (size_t i = 0; i < 30; i++)
    put8(b, i < m.name.size() ? m.name[i] : 0);  // name, reserved word
  for (size_t v : {m.orders.size(), m.patterns.size(), size_t(m.channels), m.instruments.size(),
                   m.samples.size()})
    put16(b, static_cast<int>(v));
  for (int v : {m.speed, m.tempo, m.global_volume, m.restart, m.flags}) put16(b, v);
  for (int c = 0; c < m.channels; c++)
    put8(b, c < static_cast<int>(m.pans.size()) ? m.pans[c] : 128);
  for (int o : m.orders) put8(b, o);
  for (const instrument &ins : m.instruments) {
    for (uint8_t s : ins.sample_map) put8(b, s);
    for (const envelope *e : {&ins.vol, &ins.pan}) {
      for (int i = 0; i < 12; i++) put16(b, e->tick[i]), put16(b, e->value[i]);
      for (int v : {e->points, e->flags, e->sustain, e->loop_start, e->loop_end}) put8(b, v);
    }
    put16(b, ins.fadeout);
  }
  for (const sample &s : m.samples) {
    put32(b, s.length);
    if (s.length == 0) continue;
    put32(b, s.loop_start), put32(b, s.loop_end);
    for (int v : {s.vibrato_type, s.vibrato_sweep, s.vibrato_depth, s.vibrato_rate, s.volume, s.pan,
                  s.relative_note})
      put8(b, v);
    put16(b, s.tuning), put8(b, s.bits), put8(b, s.loop_flags);
    b.insert(b.end(), s.data.begin(), s.data.end());
    for (int64_t i = 0; s.data.empty() && i < int64_t(s.length) * (s.bits / 8); i++)
      put8(b, static_cast<int>(i));
  }
  for (const pattern &p : m.patterns) {
    put16(b, p.rows);
    b.insert(b.end(), p.raw.begin(), p.raw.end());
    if (!p.raw.empty()) continue;
    const size_t n = static_cast<size_t>(p.rows) * m.channels;
    std::vector<int> col[5];
    for (size_t i = 0; i < n; i++) {
      const cell c = i < p.cells.size() ? p.cells[i] : cell{};
      const int v[5] = {c.note, c.sample, c.volume, c.command, c.param};
      for (int k = 0; k < 5; k++) col[k].push_back(v[k]);
    }
    for (int k = 0; k < 5; k++)
      encode_column(b, col[k], k == 4 || (k == 0 && !(m.flags & 1)) ? 2 : 1);
  }
  return b;
}

// A read-only PACKFILE over a byte vector that outlives it.
struct memory_file {
  const bytes *data;
  size_t pos = 0;
  size_t left() const { return data->size() - pos; }
};

inline const PACKFILE_VTABLE *memory_vtable() {
  static memory_file &(*m)(void *) = [](void *u) -> memory_file & {
    return *static_cast<memory_file *>(u);
  };
  static const PACKFILE_VTABLE vt = {
      [](void *) { return 0; },
      [](void *u) { return m(u).left() ? int((*m(u).data)[m(u).pos++]) : EOF; },
      [](int c, void *u) { return m(u).pos ? (m(u).pos--, c) : EOF; },
      [](void *p, long n, void *u) {
        const size_t take = std::min(static_cast<size_t>(n), m(u).left());
        std::copy_n(m(u).data->begin() + m(u).pos, take, static_cast<uint8_t *>(p));
        m(u).pos += take;
        return static_cast<long>(take);
      },
      [](int, void *) { return EOF; },
      [](const void *, long, void *) { return 0L; },
      [](void *u, int offset) {
        return offset < 0 || size_t(offset) > m(u).left() ? -1 : (m(u).pos += offset, 0);
      },
      [](void *u) { return int(!m(u).left()); },
      [](void *) { return 0; }};
  return &vt;
}

// Opens the image for reading; close with pack_fclose. `state` must outlive the PACKFILE.
inline PACKFILE *open_memory(const bytes &data, memory_file &state) {
  state = memory_file{&data, 0};
  return pack_fopen_vtable(memory_vtable(), &state);
}

}  // namespace muxtest
