// Hand-built MUX images for the engine's tests and benchmarks: a small description of a module
// in file terms (periods or note bytes as the file stores them), an encoder of its column
// streams, and a PACKFILE that reads from memory so no test touches the disk unless it means to.
#pragma once

#include <allegro.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace muxtest {

using bytes = std::vector<uint8_t>;

inline void put8(bytes &b, int v) { b.push_back(static_cast<uint8_t>(v)); }
inline void put16(bytes &b, int v) {
  put8(b, v & 0xFF);
  put8(b, (v >> 8) & 0xFF);
}
inline void put32(bytes &b, int64_t v) {
  put16(b, static_cast<int>(v & 0xFFFF));
  put16(b, static_cast<int>((v >> 16) & 0xFFFF));
}

// One cell as the file holds it: note is an Amiga period (MOD family) or a note byte (XM).
struct cell {
  int note = 0, sample = 0, volume = 0, command = 0, param = 0;
};

struct pattern {
  int rows = 64;
  std::vector<cell> cells;  // rows x channels, row-major; missing cells are empty
  bytes raw;                // when not empty, written after the row count instead of cells
};

struct sample {
  int32_t length = 0;
  int32_t loop_start = 0, loop_end = 0;
  int vibrato_type = 0, vibrato_sweep = 0, vibrato_depth = 0, vibrato_rate = 0;
  int volume = 64, pan = 128, relative_note = 0, tuning = 8363, bits = 8, loop_flags = 0;
  bytes data;  // written as is; empty means length x bits / 8 bytes of a ramp
};

struct envelope {
  int tick[12] = {}, value[12] = {};
  int points = 0, flags = 0, sustain = 0, loop_start = 0, loop_end = 0;
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
  int pattern_count = -1;  // -1: patterns.size()
  int speed = 6, tempo = 125, global_volume = 64, restart = 0, flags = 0;
  std::vector<instrument> instruments;
  std::vector<sample> samples;
  std::vector<pattern> patterns;
};

// Column coding: a run of k non-empty values is 0x80|k then the values; k empty cells are k.
inline void encode_column(bytes &out, const std::vector<int> &values, int width) {
  size_t p = 0;
  while (p < values.size()) {
    size_t run = 0;
    const bool empty = values[p] == 0;
    while (p + run < values.size() && run < 127 && (values[p + run] == 0) == empty) run++;
    if (empty) {
      put8(out, static_cast<int>(run));
    } else {
      put8(out, 0x80 | static_cast<int>(run));
      for (size_t i = 0; i < run; i++) width == 1 ? put8(out, values[p + i]) : put16(out, values[p + i]);
    }
    p += run;
  }
}

inline void put_envelope(bytes &b, const envelope &e) {
  for (int i = 0; i < 12; i++) {
    put16(b, e.tick[i]);
    put16(b, e.value[i]);
  }
  put8(b, e.points);
  put8(b, e.flags);
  put8(b, e.sustain);
  put8(b, e.loop_start);
  put8(b, e.loop_end);
}

inline bytes build(const module &m) {
  bytes b;
  const char magic[] = "MODUX 01 module : ";
  for (int i = 0; i < 18; i++) put8(b, magic[i]);
  for (size_t i = 0; i < 28; i++) put8(b, i < m.name.size() ? m.name[i] : 0);
  put16(b, 0);
  const int pattern_count = m.pattern_count >= 0 ? m.pattern_count : static_cast<int>(m.patterns.size());
  put16(b, static_cast<int>(m.orders.size()));
  put16(b, pattern_count);
  put16(b, m.channels);
  put16(b, static_cast<int>(m.instruments.size()));
  put16(b, static_cast<int>(m.samples.size()));
  put16(b, m.speed);
  put16(b, m.tempo);
  put16(b, m.global_volume);
  put16(b, m.restart);
  put16(b, m.flags);
  for (int c = 0; c < m.channels; c++) put8(b, c < static_cast<int>(m.pans.size()) ? m.pans[c] : 128);
  for (int o : m.orders) put8(b, o);
  for (const instrument &ins : m.instruments) {
    for (uint8_t s : ins.sample_map) put8(b, s);
    put_envelope(b, ins.vol);
    put_envelope(b, ins.pan);
    put16(b, ins.fadeout);
  }
  for (const sample &s : m.samples) {
    put32(b, s.length);
    if (s.length == 0) continue;
    put32(b, s.loop_start);
    put32(b, s.loop_end);
    put8(b, s.vibrato_type);
    put8(b, s.vibrato_sweep);
    put8(b, s.vibrato_depth);
    put8(b, s.vibrato_rate);
    put8(b, s.volume);
    put8(b, s.pan);
    put8(b, s.relative_note);
    put16(b, s.tuning);
    put8(b, s.bits);
    put8(b, s.loop_flags);
    if (!s.data.empty()) {
      b.insert(b.end(), s.data.begin(), s.data.end());
    } else {
      const int64_t n = static_cast<int64_t>(s.length) * (s.bits / 8);
      for (int64_t i = 0; i < n; i++) put8(b, static_cast<int>(i & 0xFF));
    }
  }
  for (const pattern &p : m.patterns) {
    put16(b, p.rows);
    if (!p.raw.empty()) {
      b.insert(b.end(), p.raw.begin(), p.raw.end());
      continue;
    }
    const size_t n = static_cast<size_t>(p.rows) * m.channels;
    std::vector<int> note(n), smp(n), vol(n), cmd(n), par(n);
    for (size_t i = 0; i < n && i < p.cells.size(); i++) {
      note[i] = p.cells[i].note;
      smp[i] = p.cells[i].sample;
      vol[i] = p.cells[i].volume;
      cmd[i] = p.cells[i].command;
      par[i] = p.cells[i].param;
    }
    encode_column(b, note, (m.flags & 1) ? 1 : 2);
    encode_column(b, smp, 1);
    encode_column(b, vol, 1);
    encode_column(b, cmd, 1);
    encode_column(b, par, 2);
  }
  return b;
}

// A read-only PACKFILE over a byte vector that outlives it.
struct memory_file {
  const bytes *data;
  size_t pos = 0;
};

inline int mem_fclose(void *) { return 0; }
inline int mem_getc(void *u) {
  memory_file *m = static_cast<memory_file *>(u);
  return m->pos < m->data->size() ? (*m->data)[m->pos++] : EOF;
}
inline int mem_ungetc(int c, void *u) {
  memory_file *m = static_cast<memory_file *>(u);
  if (m->pos == 0) return EOF;
  m->pos--;
  return c;
}
inline long mem_fread(void *p, long n, void *u) {
  memory_file *m = static_cast<memory_file *>(u);
  const size_t left = m->data->size() - m->pos;
  const size_t take = static_cast<size_t>(n) < left ? static_cast<size_t>(n) : left;
  if (take) std::memcpy(p, m->data->data() + m->pos, take);
  m->pos += take;
  return static_cast<long>(take);
}
inline int mem_putc(int, void *) { return EOF; }
inline long mem_fwrite(const void *, long, void *) { return 0; }
inline int mem_fseek(void *u, int offset) {
  memory_file *m = static_cast<memory_file *>(u);
  if (offset < 0 || m->pos + offset > m->data->size()) return -1;
  m->pos += offset;
  return 0;
}
inline int mem_feof(void *u) {
  memory_file *m = static_cast<memory_file *>(u);
  return m->pos >= m->data->size();
}
inline int mem_ferror(void *) { return 0; }

inline const PACKFILE_VTABLE *memory_vtable() {
  static const PACKFILE_VTABLE vt = {mem_fclose, mem_getc, mem_ungetc, mem_fread, mem_putc,
                                     mem_fwrite, mem_fseek, mem_feof, mem_ferror};
  return &vt;
}

// Opens the image for reading; close with pack_fclose. `state` must outlive the PACKFILE.
inline PACKFILE *open_memory(const bytes &data, memory_file &state) {
  state.data = &data;
  state.pos = 0;
  return pack_fopen_vtable(memory_vtable(), &state);
}

}  // namespace muxtest
