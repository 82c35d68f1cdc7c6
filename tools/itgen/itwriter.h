// itwriter: writes IT modules from a plain description, field by field in the layout the
// format defines (header, orders, offset tables, message, instruments, sample headers,
// packed patterns, sample data). Used by itgen (test songs from text sources) and by the
// engine's tests and fuzz seeds, which also write damaged variants through the `lie_*` fields.
#ifndef ITWRITER_H
#define ITWRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace itw {

using bytes = std::vector<uint8_t>;

struct out {
  bytes b;
  void u8(int v) { b.push_back(static_cast<uint8_t>(v)); }
  void le16(int v) { u8(v), u8(v >> 8); }
  void le32(uint32_t v) { le16(v & 0xFFFF), le16(v >> 16); }
  void str(const std::string &s, size_t n) {
    for (size_t i = 0; i < n; i++) u8(i < s.size() ? s[i] : 0);
  }
  void pad_to(size_t n) {
    while (b.size() < n) u8(0);
  }
  void set32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

struct envelope {
  int flags = 0;  // bit 0 on, 1 loop, 2 sustain, 7 filter
  int loop_start = 0, loop_end = 0, sustain_start = 0, sustain_end = 0;
  std::vector<std::pair<int, int>> points;  // (tick, value)
};

struct instrument {
  bool old_layout = false;  // format 1.x header
  int nna = 0, dct = 0, dca = 0, fadeout = 0, pps = 0, ppc = 60, global_volume = 128;
  int pan = -1, random_volume = 0, random_pan = 0, cutoff = -1, resonance = -1;
  int sample = 1;  // every note plays this sample (from 1), unless keyboard is given
  std::vector<std::pair<int, int>> keyboard;  // 120 (note, sample) pairs, or empty
  envelope vol, pan_env, pitch;
};

struct sample {
  int global_volume = 64, flags = 1, volume = 64, convert = 1, pan = 32 | 0;  // pan bit 7: use
  uint32_t length = 0, loop_start = 0, loop_end = 0, c5 = 8363, sustain_start = 0, sustain_end = 0;
  int vib_speed = 0, vib_depth = 0, vib_rate = 0, vib_type = 0;
  bytes data;  // as stored (compressed or plain)
};

// One cell: note 0..119, 254 cut, 255 off, -1 none; instrument 0 none; volume -1 none;
// command letter 1..26 (0 none).
struct cell {
  int row = 0, channel = 0, note = -1, instrument = 0, volume = -1, command = 0, param = 0;
};

struct pattern {
  int rows = 64;
  std::vector<cell> cells;  // in row order
  bytes packed;             // written as is when not empty (else packed from cells)
};

struct song {
  std::string name = "it song";
  int flags = 1 | 4 | 8;  // stereo, instruments, linear slides
  int tracker = 0x214, compatible = 0x214, special = 0;
  int global_volume = 128, mix_volume = 48, speed = 6, tempo = 125, separation = 128;
  std::vector<int> orders{0, 255};
  std::vector<int> channel_pan = std::vector<int>(64, 32);
  std::vector<int> channel_volume = std::vector<int>(64, 64);
  std::vector<instrument> instruments;
  std::vector<sample> samples;
  std::vector<pattern> patterns{pattern{}};
  std::string message;
  // MIDI macros SF0..SFF then Z80..ZFF (144 texts); when any is given the song carries them all.
  std::vector<std::string> macros;
  // Damage for the loader's tests: counts written instead of the real ones (-1: the real).
  int lie_instruments = -1, lie_samples = -1, lie_patterns = -1, lie_orders = -1;
};

// Packs cells with channel masks and the last-value memory: a field equal to the channel's
// last one is written as "same as before" (mask bits 4..7).
inline bytes pack(const pattern &p) {
  out o;
  struct last {
    int mask = -1, note = -1, instrument = -1, volume = -1, command = -1, param = -1;
  } mem[64];
  size_t k = 0;
  for (int r = 0; r < p.rows; r++) {
    for (; k < p.cells.size() && p.cells[k].row == r; k++) {
      const cell &c = p.cells[k];
      last &m = mem[c.channel & 63];
      int mask = 0;
      if (c.note >= 0) mask |= c.note == m.note ? 16 : 1;
      if (c.instrument > 0) mask |= c.instrument == m.instrument ? 32 : 2;
      if (c.volume >= 0) mask |= c.volume == m.volume ? 64 : 4;
      if (c.command > 0) mask |= c.command == m.command && c.param == m.param ? 128 : 8;
      if (mask == m.mask) {
        o.u8((c.channel & 63) + 1);
      } else {
        o.u8(((c.channel & 63) + 1) | 128);
        o.u8(mask);
        m.mask = mask;
      }
      if (mask & 1) o.u8(m.note = c.note);
      if (mask & 2) o.u8(m.instrument = c.instrument);
      if (mask & 4) o.u8(m.volume = c.volume);
      if (mask & 8) o.u8(m.command = c.command), o.u8(m.param = c.param);
    }
    o.u8(0);
  }
  return o.b;
}

inline void write_envelope(out &o, const envelope &e) {
  o.u8(e.flags);
  o.u8(static_cast<int>(e.points.size()));
  o.u8(e.loop_start), o.u8(e.loop_end), o.u8(e.sustain_start), o.u8(e.sustain_end);
  for (int i = 0; i < 25; i++) {
    const bool there = i < static_cast<int>(e.points.size());
    o.u8(there ? e.points[i].second : 0);
    o.le16(there ? e.points[i].first : 0);
  }
  o.u8(0);
}

inline void write_keyboard(out &o, const instrument &ins) {
  for (int n = 0; n < 120; n++) {
    if (n < static_cast<int>(ins.keyboard.size()))
      o.u8(ins.keyboard[n].first), o.u8(ins.keyboard[n].second);
    else
      o.u8(n), o.u8(ins.sample);
  }
}

inline void write_instrument(out &o, const instrument &ins) {
  const size_t start = o.b.size();
  o.str("IMPI", 4);
  o.str("", 12);
  o.u8(0);
  if (ins.old_layout) {
    o.u8(ins.vol.flags & 7);
    o.u8(ins.vol.loop_start), o.u8(ins.vol.loop_end), o.u8(ins.vol.sustain_start),
        o.u8(ins.vol.sustain_end);
    o.le16(0);
    o.le16(ins.fadeout);
    o.u8(ins.nna), o.u8(ins.dct ? 1 : 0);
    o.le16(0x100), o.u8(1), o.u8(0);
    o.str("old instrument", 26);
    o.str("", 6);
    write_keyboard(o, ins);
    o.str("", 200);
    for (int i = 0; i < 25; i++) {
      const bool there = i < static_cast<int>(ins.vol.points.size());
      o.u8(there ? ins.vol.points[i].first : 255);
      o.u8(there ? ins.vol.points[i].second : 0);
    }
  } else {
    o.u8(ins.nna), o.u8(ins.dct), o.u8(ins.dca);
    o.le16(ins.fadeout);
    o.u8(ins.pps), o.u8(ins.ppc), o.u8(ins.global_volume);
    o.u8(ins.pan < 0 ? 128 | 32 : ins.pan);
    o.u8(ins.random_volume), o.u8(ins.random_pan);
    o.le16(0x214), o.u8(1), o.u8(0);
    o.str("instrument", 26);
    o.u8(ins.cutoff < 0 ? 0 : 128 | ins.cutoff);
    o.u8(ins.resonance < 0 ? 0 : 128 | ins.resonance);
    o.u8(0), o.u8(0), o.le16(0);
    write_keyboard(o, ins);
    write_envelope(o, ins.vol);
    write_envelope(o, ins.pan_env);
    write_envelope(o, ins.pitch);
  }
  o.pad_to(start + 554);
}

inline bytes build(const song &s) {
  out o;
  const int ni = static_cast<int>(s.instruments.size()), ns = static_cast<int>(s.samples.size()),
            np = static_cast<int>(s.patterns.size()), no = static_cast<int>(s.orders.size());
  o.str("IMPM", 4);
  o.str(s.name, 26);
  o.le16(0x0410);
  o.le16(s.lie_orders >= 0 ? s.lie_orders : no);
  o.le16(s.lie_instruments >= 0 ? s.lie_instruments : ni);
  o.le16(s.lie_samples >= 0 ? s.lie_samples : ns);
  o.le16(s.lie_patterns >= 0 ? s.lie_patterns : np);
  o.le16(s.tracker), o.le16(s.compatible);
  const bool macros = !s.macros.empty();
  o.le16(s.flags | (macros ? 0x80 : 0)),
      o.le16(s.special | (s.message.empty() ? 0 : 1) | (macros ? 8 : 0));
  o.u8(s.global_volume), o.u8(s.mix_volume), o.u8(s.speed), o.u8(s.tempo), o.u8(s.separation),
      o.u8(0);
  o.le16(static_cast<int>(s.message.size()));
  const size_t message_field = o.b.size();
  o.le32(0), o.le32(0);
  for (int ch = 0; ch < 64; ch++) o.u8(s.channel_pan[ch]);
  for (int ch = 0; ch < 64; ch++) o.u8(s.channel_volume[ch]);
  for (int v : s.orders) o.u8(v);
  const size_t tables = o.b.size();
  o.pad_to(tables + 4 * (ni + ns + np));
  if (macros) {
    o.pad_to(o.b.size() + 9 * 32);  // the device messages: none
    for (size_t i = 0; i < 144; i++) o.str(i < s.macros.size() ? s.macros[i] : "", 32);
  }
  if (!s.message.empty()) {
    o.set32(message_field, static_cast<uint32_t>(o.b.size()));
    o.str(s.message, s.message.size());
  }
  for (int i = 0; i < ni; i++) {
    o.set32(tables + 4 * i, static_cast<uint32_t>(o.b.size()));
    write_instrument(o, s.instruments[i]);
  }
  std::vector<size_t> data_fields;
  for (int i = 0; i < ns; i++) {
    const sample &smp = s.samples[i];
    o.set32(tables + 4 * (ni + i), static_cast<uint32_t>(o.b.size()));
    o.str("IMPS", 4);
    o.str("", 12);
    o.u8(0);
    o.u8(smp.global_volume), o.u8(smp.flags), o.u8(smp.volume);
    o.str("sample", 26);
    o.u8(smp.convert), o.u8(smp.pan);
    o.le32(smp.length), o.le32(smp.loop_start), o.le32(smp.loop_end), o.le32(smp.c5);
    o.le32(smp.sustain_start), o.le32(smp.sustain_end);
    data_fields.push_back(o.b.size());
    o.le32(0);
    o.u8(smp.vib_speed), o.u8(smp.vib_depth), o.u8(smp.vib_rate), o.u8(smp.vib_type);
  }
  for (int i = 0; i < np; i++) {
    const pattern &p = s.patterns[i];
    o.set32(tables + 4 * (ni + ns + i), static_cast<uint32_t>(o.b.size()));
    const bytes packed = p.packed.empty() ? pack(p) : p.packed;
    o.le16(static_cast<int>(packed.size())), o.le16(p.rows), o.le32(0);
    o.b.insert(o.b.end(), packed.begin(), packed.end());
  }
  for (int i = 0; i < ns; i++) {
    o.set32(data_fields[i], static_cast<uint32_t>(o.b.size()));
    o.b.insert(o.b.end(), s.samples[i].data.begin(), s.samples[i].data.end());
  }
  return o.b;
}

// ---------------------------------------------------------------------------------------------
// The IT 2.14 compression, in its simplest valid form: every block opens by setting a fixed bit
// width and writes each delta (of one integration, or two for 2.15) in it. width must hold
// every delta without using an escape value; 0 picks the full width (9 or 17 bits).
// ---------------------------------------------------------------------------------------------

struct bit_out {
  bytes b;
  int bit = 0;
  void put(uint32_t v, int n) {
    for (int i = 0; i < n; i++) {
      if (bit == 0) b.push_back(0);
      b.back() |= ((v >> i) & 1) << bit;
      bit = (bit + 1) & 7;
    }
  }
};

// values: signed 8- or 16-bit sample values. Answers the blocks, each with its length word.
inline bytes compress(const std::vector<int> &values, bool wide, bool twice, int width = 0) {
  const int top = wide ? 16 : 8, full = top + 1;
  const size_t per_block = wide ? 0x4000 : 0x8000;
  bytes result;
  for (size_t start = 0; start < values.size(); start += per_block) {
    bit_out bits;
    int w = full;
    if (width > 0 && width < full) {
      bits.put((1u << top) | static_cast<uint32_t>(width - 1), full);  // width escape at full width
      w = width;
    }
    int prev1 = 0, prev2 = 0;
    for (size_t i = start; i < values.size() && i < start + per_block; i++) {
      const int v = values[i];
      int delta1 = v - prev1;
      int d = delta1;
      if (twice) d = delta1 - prev2;
      prev2 = delta1;
      prev1 = v;
      const uint32_t mask = (1u << top) - 1;
      bits.put(static_cast<uint32_t>(d) & (w == full ? mask : (1u << w) - 1), w);
    }
    result.push_back(static_cast<uint8_t>(bits.b.size()));
    result.push_back(static_cast<uint8_t>(bits.b.size() >> 8));
    result.insert(result.end(), bits.b.begin(), bits.b.end());
  }
  return result;
}

}  // namespace itw

#endif
