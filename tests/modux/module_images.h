// Small MOD, S3M, XM, IT and UMX files built in memory for the importer tests and the fuzz seeds,
// field by field from a plain description; the defaults make a valid one-pattern module.
#ifndef MODULE_IMAGES_H
#define MODULE_IMAGES_H

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "../../tools/itgen/itwriter.h"

namespace modimg {

using bytes = std::vector<uint8_t>;

// itwriter's little-endian writer with what the other formats add: big-endian words, raw bytes,
// byte lists and a word written back at an offset.
struct writer : itw::out {
  void be16(int v) { u8(v >> 8), u8(v); }
  void raw(const bytes &d) { b.insert(b.end(), d.begin(), d.end()); }
  void seq(std::initializer_list<int> vs) {
    for (int v : vs) u8(v);
  }
  void put16le(size_t at, int v) { b[at] = v & 0xFF, b[at + 1] = (v >> 8) & 0xFF; }
};

struct mod_sample {
  int length_words = 0, finetune = 0, volume = 64, loop_start_words = 0, loop_words = 0;
  bytes data;  // signed bytes as stored; shorter than the length leaves the file short
};
struct mod_cell {
  int sample = 0, period = 0, effect = 0, param = 0;
};
struct mod_image {
  std::string title = "tune";
  int no_inst = 31;
  std::string signature = "M.K.";
  int channels = 4;  // cells per row written
  int song_length = 1, restart = 0;
  std::vector<int> orders{0};  // the first entries of the 128
  std::vector<std::vector<mod_cell>> patterns{std::vector<mod_cell>(64 * 4)};
  std::vector<mod_sample> samples;  // up to no_inst
};

inline bytes build_mod(const mod_image &m) {
  writer w;
  w.str(m.title, 20);
  for (int i = 0; i < m.no_inst; i++) {
    const mod_sample s =
        i < static_cast<int>(m.samples.size()) ? m.samples[i] : mod_sample{0, 0, 0, 0, 0, {}};
    w.str("", 22), w.be16(s.length_words), w.seq({s.finetune, s.volume});
    w.be16(s.loop_start_words), w.be16(s.loop_words);
  }
  w.seq({m.song_length, m.restart});
  for (int i = 0; i < 128; i++) w.u8(i < static_cast<int>(m.orders.size()) ? m.orders[i] : 0);
  if (m.no_inst == 31) w.str(m.signature, 4);
  if (m.no_inst == 31 && m.signature.compare(0, 3, "FA0") == 0) w.seq({0, 0x40, 0, 0});
  // FLT8 stores channels 0-3 of all rows, then channels 4-7; the others row by row.
  const bool halves = m.signature == "FLT8";
  for (const auto &p : m.patterns)
    for (int k = 0; k < 64 * m.channels; k++) {
      const int i = halves ? (k % 256) / 4 * 8 + k / 256 * 4 + k % 4 : k;
      const mod_cell c = i < static_cast<int>(p.size()) ? p[i] : mod_cell{};
      w.seq({(c.sample & 0xF0) | ((c.period >> 8) & 15), c.period & 0xFF,
             ((c.sample & 15) << 4) | (c.effect & 15), c.param});
    }
  for (const auto &s : m.samples) w.raw(s.data);
  return w.b;
}

struct s3m_sample {
  int type = 1;
  bool mark = true;  // "SCRS"
  uint32_t length = 0, loop_begin = 0, loop_end = 0;
  int volume = 64, flags = 0, c2spd = 8363;
  bytes data;  // as stored
};
struct s3m_event {
  int row, channel;
  int note = -1, instrument = 0, volume = -1, command = -1, info = 0;  // -1: absent
};
struct s3m_image {
  std::string name = "s3m tune";
  std::vector<int> orders{0, 255};
  int sample_format = 2;
  int global_volume = 64, speed = 6, tempo = 125, pan_flag = 0;
  int flags = 0, tracker = 0x1320;  // header flags and "created with tracker" word
  std::array<int, 32> chn_set = [] {
    std::array<int, 32> a{};
    a.fill(255);
    a[0] = 0, a[1] = 8, a[2] = 1, a[3] = 9;
    return a;
  }();
  std::array<int, 32> default_pan{};
  std::vector<s3m_sample> samples;
  std::vector<std::vector<s3m_event>> patterns{{}};
  std::vector<int> pattern_para;  // when given, replaces the computed pattern parapointers
};

inline bytes build_s3m(const s3m_image &m) {
  writer w;
  w.str(m.name, 28), w.seq({0x1A, 16, 0, 0});
  for (size_t n : {m.orders.size(), m.samples.size(), m.patterns.size()})
    w.le16(static_cast<int>(n));
  w.le16(m.flags), w.le16(m.tracker), w.le16(m.sample_format), w.str("SCRM", 4);
  w.seq({m.global_volume, m.speed, m.tempo, 0xB0, 0, m.pan_flag}), w.str("", 10);
  for (int s : m.chn_set) w.u8(s);
  for (int o : m.orders) w.u8(o);
  const size_t ins_para = w.b.size();
  for (size_t i = 0; i < m.samples.size(); i++) w.le16(0);
  const size_t pat_para = w.b.size();
  for (size_t i = 0; i < m.patterns.size(); i++) w.le16(0);
  if (m.pan_flag == 252)
    for (int p : m.default_pan) w.u8(p);
  for (size_t i = 0; i < m.samples.size(); i++) {
    const s3m_sample &s = m.samples[i];
    w.pad_to((w.b.size() + 15) & ~size_t(15));
    w.put16le(ins_para + 2 * i, static_cast<int>(w.b.size() / 16));
    const size_t rec = w.b.size();
    w.u8(s.type), w.str("", 15);  // the name, then the data parapointer, filled below
    w.le32(s.length), w.le32(s.loop_begin), w.le32(s.loop_end);
    w.seq({s.volume, 0, 0, s.flags}), w.le32(s.c2spd), w.str("", 12);
    w.str("sample", 28), w.str(s.mark ? "SCRS" : "none", 4);
    w.pad_to((w.b.size() + 15) & ~size_t(15));
    const size_t para = w.b.size() / 16;
    w.b[rec + 13] = static_cast<uint8_t>(para >> 16);
    w.put16le(rec + 14, static_cast<int>(para & 0xFFFF));
    w.raw(s.data);
  }
  for (size_t i = 0; i < m.patterns.size(); i++) {
    w.pad_to((w.b.size() + 15) & ~size_t(15));
    w.put16le(pat_para + 2 * i,
              i < m.pattern_para.size() ? m.pattern_para[i] : static_cast<int>(w.b.size() / 16));
    const size_t start = w.b.size();
    w.le16(0);
    for (int row = 0; row < 64; row++) {
      for (const s3m_event &e : m.patterns[i]) {
        if (e.row != row) continue;
        w.u8((e.channel & 31) | (e.note >= 0 ? 0x20 : 0) | (e.volume >= 0 ? 0x40 : 0) |
             (e.command >= 0 ? 0x80 : 0));
        if (e.note >= 0) w.u8(e.note), w.u8(e.instrument);
        if (e.volume >= 0) w.u8(e.volume);
        if (e.command >= 0) w.u8(e.command), w.u8(e.info);
      }
      w.u8(0);
    }
    w.put16le(start, static_cast<int>(w.b.size() - start));
  }
  return w.b;
}

struct xm_sample {
  uint32_t length = 0, loop_start = 0, loop_length = 0;  // bytes
  int volume = 64, finetune = 0, type = 0, pan = 128, relative_note = 0;
  bytes data;        // as stored (delta-coded)
  int reserved = 0;  // the header byte after the relative note
};
struct xm_instrument {
  int64_t size = -1;  // header size; -1: the usual 263 (29 without samples)
  std::vector<xm_sample> samples;
  std::array<int, 96> map{};
  std::vector<std::pair<int, int>> vol_env, pan_env;  // (tick, value)
  int vol_flags = 0, pan_flags = 0, vol_sustain = 0, vol_loop_start = 0, vol_loop_end = 0;
  int vibrato[4] = {0, 0, 0, 0}, fadeout = 0;
};
struct xm_pattern {
  int rows = 64;
  bytes packed;                // cells as stored
  int64_t header_length = -1;  // -1: the length of the fields (9, or 8 before version 1.03)
};
struct xm_image {
  std::string name = "xm tune";
  int song_length = 1, restart = 0, channels = 2, flags = 1, speed = 6, tempo = 125;
  std::vector<int> orders{0};
  uint32_t header_size = 276;
  // 0x104; 0x102 and 0x103 put the instruments before the patterns and all sample data last,
  // and 0x102 stores a pattern's rows less one in a byte.
  int version = 0x104;
  std::string tracker = "builder";  // tracker name
  std::vector<xm_pattern> patterns{xm_pattern{}};
  std::vector<xm_instrument> instruments;
};

inline bytes build_xm(const xm_image &m) {
  writer w;
  w.str("Extended Module: ", 17), w.str(m.name, 20), w.u8(0x1A), w.str(m.tracker, 20);
  w.le16(m.version), w.le32(m.header_size);
  for (int v : {m.song_length, m.restart, m.channels, static_cast<int>(m.patterns.size()),
                static_cast<int>(m.instruments.size()), m.flags, m.speed, m.tempo})
    w.le16(v);
  for (int i = 0; i < 256; i++) w.u8(i < static_cast<int>(m.orders.size()) ? m.orders[i] : 0);
  w.pad_to(60 + m.header_size);
  const bool old = m.version < 0x104, byte_rows = m.version < 0x103;
  auto patterns = [&] {
    for (const xm_pattern &p : m.patterns) {
      w.le32(static_cast<uint32_t>(p.header_length >= 0 ? p.header_length : byte_rows ? 8 : 9));
      w.u8(0);
      byte_rows ? w.u8(p.rows - 1) : w.le16(p.rows);
      w.le16(static_cast<int>(p.packed.size()));
      w.raw(p.packed);
    }
  };
  if (!old) patterns();
  for (const xm_instrument &ins : m.instruments) {
    const size_t start = w.b.size();
    const int64_t size = ins.size >= 0 ? ins.size : (ins.samples.empty() ? 29 : 263);
    w.le32(static_cast<uint32_t>(size));
    w.str("instrument", 23), w.le16(static_cast<int>(ins.samples.size())), w.le32(40);
    for (int n : ins.map) w.u8(n);
    for (const auto *env : {&ins.vol_env, &ins.pan_env})
      for (int i = 0; i < 12; i++) {
        const auto pt = i < static_cast<int>(env->size()) ? (*env)[i] : std::pair<int, int>{0, 0};
        w.le16(pt.first), w.le16(pt.second);
      }
    w.u8(static_cast<int>(ins.vol_env.size())), w.u8(static_cast<int>(ins.pan_env.size()));
    w.seq({ins.vol_sustain, ins.vol_loop_start, ins.vol_loop_end, 0, 0, 0, ins.vol_flags,
           ins.pan_flags});
    for (int v : ins.vibrato) w.u8(v);
    w.le16(ins.fadeout);
    w.pad_to(start + 263);
    w.b.resize(start + size);  // a shorter header ends early, as the file says
    for (const xm_sample &s : ins.samples) {
      w.le32(s.length), w.le32(s.loop_start), w.le32(s.loop_length);
      w.seq({s.volume, s.finetune, s.type, s.pan, s.relative_note, s.reserved});
      w.str("sample", 22);
    }
    if (!old)
      for (const xm_sample &s : ins.samples) w.raw(s.data);
  }
  if (old) {
    patterns();
    for (const xm_instrument &ins : m.instruments)
      for (const xm_sample &s : ins.samples) w.raw(s.data);
  }
  return w.b;
}

// Delta-codes 8-bit sample values as an XM stores them.
inline bytes xm_delta8(const std::vector<int> &values) {
  bytes out;
  for (size_t i = 0; i < values.size(); i++)
    out.push_back(static_cast<uint8_t>(values[i] - (i ? values[i - 1] : 0)));
  return out;
}

// A playable IT of one instrument and one 8-bit sample, a few notes and effects (itwriter.h
// writes IT modules of any shape).
inline bytes build_it(const std::string &name) {
  itw::song s;
  s.name = name;
  itw::instrument ins;
  ins.nna = 3, ins.fadeout = 64;
  ins.vol.flags = 1 | 4, ins.vol.points = {{0, 64}, {10, 32}, {20, 0}},
  ins.vol.sustain_start = ins.vol.sustain_end = 1;
  s.instruments.push_back(ins);
  itw::sample smp;
  smp.flags = 1 | 16, smp.length = 32, smp.loop_start = 8, smp.loop_end = 32;
  for (int i = 0; i < 32; i++) smp.data.push_back(static_cast<uint8_t>((i * 8) ^ 0x80));
  s.samples.push_back(smp);
  s.patterns[0].rows = 16;
  s.patterns[0].cells = {{0, 0, 60, 1, 64, 0, 0},
                         {2, 1, 64, 1, -1, 8, 0x44},
                         {4, 0, 67, 1, 40, 19, 0xB1},
                         {6, 0, 255, 0, -1, 0, 0},
                         {8, 1, 254, 0, -1, 4, 0x02}};
  return itw::build(s);
}

// A UMX package: its signature, filler up to offset, then the module.
inline bytes wrap_umx(const bytes &module, size_t offset) {
  writer w;
  w.u8(0xC1), w.u8(0x83), w.u8(0x2A), w.u8(0x9E);
  w.pad_to(offset);
  w.raw(module);
  return w.b;
}

// Writes bytes to a file; true on success.
inline bool write_file(const std::string &path, const bytes &b) {
  std::ofstream f(path, std::ios::binary);
  return f.write(reinterpret_cast<const char *>(b.data()), b.size()) && f.flush();
}

}  // namespace modimg

#endif
