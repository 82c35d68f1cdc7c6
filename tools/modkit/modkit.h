// modkit: writes MOD, S3M, XM and IT files from a plain description, field by field in the layout
// each format defines. The descriptions hold what a file stores (periods, packed cells, sample
// bytes), so the importers' tests can also write damaged and older variants; modtext.cpp turns
// the readable text form of a module into them. The defaults make a valid one-pattern module.
#ifndef MODKIT_H
#define MODKIT_H

#include <array>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace modkit {

using bytes = std::vector<uint8_t>;

struct out {
  bytes b;
  void u8(int v) { b.push_back(static_cast<uint8_t>(v)); }
  void le16(int v) { u8(v), u8(v >> 8); }
  void le32(uint32_t v) { le16(v & 0xFFFF), le16(v >> 16); }
  void be16(int v) { u8(v >> 8), u8(v); }
  void str(const std::string &s, size_t n) {
    for (size_t i = 0; i < n; i++) u8(i < s.size() ? s[i] : 0);
  }
  void raw(const bytes &d) { b.insert(b.end(), d.begin(), d.end()); }
  void seq(std::initializer_list<int> vs) {
    for (int v : vs) u8(v);
  }
  void pad_to(size_t n) {
    while (b.size() < n) u8(0);
  }
  void align16() { pad_to((b.size() + 15) & ~size_t(15)); }
  void put16le(size_t at, int v) { b[at] = v & 0xFF, b[at + 1] = (v >> 8) & 0xFF; }
  void set32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

// ---- MOD ------------------------------------------------------------------------------------
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
  std::vector<mod_sample> samples;        // up to no_inst
  std::vector<std::string> sample_names;  // none: every name empty
};

inline bytes build_mod(const mod_image &m) {
  out w;
  w.str(m.title, 20);
  for (int i = 0; i < m.no_inst; i++) {
    const mod_sample s =
        i < static_cast<int>(m.samples.size()) ? m.samples[i] : mod_sample{0, 0, 0, 0, 0, {}};
    w.str(i < static_cast<int>(m.sample_names.size()) ? m.sample_names[i] : "", 22);
    w.be16(s.length_words), w.seq({s.finetune, s.volume});
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

// ---- S3M ------------------------------------------------------------------------------------
struct s3m_sample {
  int type = 1;
  bool mark = true;  // "SCRS"
  uint32_t length = 0, loop_begin = 0, loop_end = 0;
  int volume = 64, flags = 0, c2spd = 8363;
  bytes data;           // as stored
  int gus_address = 0;  // the sample's place in the sound card's memory, which ST3 fills in
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
  int ultra_click = 0;
  std::array<int, 32> chn_set = [] {
    std::array<int, 32> a{};
    a.fill(255);
    a[0] = 0, a[1] = 8, a[2] = 1, a[3] = 9;
    return a;
  }();
  std::array<int, 32> default_pan{};  // written when pan_flag is 252
  std::vector<s3m_sample> samples;
  std::vector<std::vector<s3m_event>> patterns{{}};  // a row's events in file order
  std::vector<int> pattern_para;  // when given, replaces the computed pattern parapointers
  bool data_last = false;         // every sample's data after the patterns, as ST3 saves
};

inline void write_s3m_data(out &w, size_t record, const bytes &data) {
  w.align16();
  const size_t para = w.b.size() / 16;
  w.b[record + 13] = static_cast<uint8_t>(para >> 16);
  w.put16le(record + 14, static_cast<int>(para & 0xFFFF));
  w.raw(data);
}

inline void write_s3m_pattern(out &w, const std::vector<s3m_event> &events) {
  const size_t start = w.b.size();
  w.le16(0);
  for (int row = 0; row < 64; row++) {
    for (const s3m_event &e : events) {
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

inline bytes build_s3m(const s3m_image &m) {
  out w;
  w.str(m.name, 28), w.seq({0x1A, 16, 0, 0});
  for (size_t n : {m.orders.size(), m.samples.size(), m.patterns.size()})
    w.le16(static_cast<int>(n));
  w.le16(m.flags), w.le16(m.tracker), w.le16(m.sample_format), w.str("SCRM", 4);
  w.seq({m.global_volume, m.speed, m.tempo, 0xB0, m.ultra_click, m.pan_flag}), w.str("", 10);
  for (int s : m.chn_set) w.u8(s);
  for (int o : m.orders) w.u8(o);
  const size_t ins_para = w.b.size();
  for (size_t i = 0; i < m.samples.size(); i++) w.le16(0);
  const size_t pat_para = w.b.size();
  for (size_t i = 0; i < m.patterns.size(); i++) w.le16(0);
  if (m.pan_flag == 252)
    for (int p : m.default_pan) w.u8(p);
  std::vector<size_t> records;
  for (size_t i = 0; i < m.samples.size(); i++) {
    const s3m_sample &s = m.samples[i];
    w.align16();
    w.put16le(ins_para + 2 * i, static_cast<int>(w.b.size() / 16));
    records.push_back(w.b.size());
    w.u8(s.type), w.str("", 15);  // the name, then the data parapointer, filled below
    w.le32(s.length), w.le32(s.loop_begin), w.le32(s.loop_end);
    w.seq({s.volume, 0, 0, s.flags}), w.le32(s.c2spd), w.str("", 4), w.le16(s.gus_address);
    w.str("", 6), w.str("sample", 28), w.str(s.mark ? "SCRS" : "none", 4);
    if (!m.data_last) write_s3m_data(w, records.back(), s.data);
  }
  for (size_t i = 0; i < m.patterns.size(); i++) {
    w.align16();
    w.put16le(pat_para + 2 * i,
              i < m.pattern_para.size() ? m.pattern_para[i] : static_cast<int>(w.b.size() / 16));
    write_s3m_pattern(w, m.patterns[i]);
  }
  for (size_t i = 0; i < m.samples.size() && m.data_last; i++)
    if (!m.samples[i].data.empty()) write_s3m_data(w, records[i], m.samples[i].data);
  return w.b;
}

// ---- XM -------------------------------------------------------------------------------------
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
  int pan_sustain = 0, pan_loop_start = 0, pan_loop_end = 0;
  std::string name = "instrument";
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

inline void write_xm_instrument(out &w, const xm_instrument &ins, bool with_data) {
  const size_t start = w.b.size();
  const int64_t size = ins.size >= 0 ? ins.size : (ins.samples.empty() ? 29 : 263);
  w.le32(static_cast<uint32_t>(size));
  w.str(ins.name, 23), w.le16(static_cast<int>(ins.samples.size())), w.le32(40);
  for (int n : ins.map) w.u8(n);
  for (const auto *env : {&ins.vol_env, &ins.pan_env})
    for (int i = 0; i < 12; i++) {
      const auto pt = i < static_cast<int>(env->size()) ? (*env)[i] : std::pair<int, int>{0, 0};
      w.le16(pt.first), w.le16(pt.second);
    }
  w.u8(static_cast<int>(ins.vol_env.size())), w.u8(static_cast<int>(ins.pan_env.size()));
  w.seq({ins.vol_sustain, ins.vol_loop_start, ins.vol_loop_end, ins.pan_sustain, ins.pan_loop_start,
         ins.pan_loop_end, ins.vol_flags, ins.pan_flags});
  for (int v : ins.vibrato) w.u8(v);
  w.le16(ins.fadeout);
  w.pad_to(start + 263);
  w.b.resize(start + size);  // a shorter header ends early, as the file says
  for (const xm_sample &s : ins.samples) {
    w.le32(s.length), w.le32(s.loop_start), w.le32(s.loop_length);
    w.seq({s.volume, s.finetune, s.type, s.pan, s.relative_note, s.reserved});
    w.str("sample", 22);
  }
  if (with_data)
    for (const xm_sample &s : ins.samples) w.raw(s.data);
}

inline bytes build_xm(const xm_image &m) {
  out w;
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
  for (const xm_instrument &ins : m.instruments) write_xm_instrument(w, ins, !old);
  if (old) {
    patterns();
    for (const xm_instrument &ins : m.instruments)
      for (const xm_sample &s : ins.samples) w.raw(s.data);
  }
  return w.b;
}

// Delta-codes 8-bit sample values as an XM stores them.
inline bytes xm_delta8(const std::vector<int> &values) {
  bytes d;
  for (size_t i = 0; i < values.size(); i++)
    d.push_back(static_cast<uint8_t>(values[i] - (i ? values[i - 1] : 0)));
  return d;
}

// ---- IT -------------------------------------------------------------------------------------
namespace it {

using modkit::bytes;

struct envelope {
  int flags = 0;  // bit 0 on, 1 loop, 2 sustain, 3 carry, 7 filter
  int loop_start = 0, loop_end = 0, sustain_start = 0, sustain_end = 0;
  std::vector<std::pair<int, int>> points;  // (tick, value)
};

struct instrument {
  bool old_layout = false;  // format 1.x header
  int nna = 0, dct = 0, dca = 0, fadeout = 0, global_volume = 128;
  int pan = -1, cutoff = -1, resonance = -1;
  int sample = 1;  // every note plays this sample (from 1), unless keyboard is given
  std::vector<std::pair<int, int>> keyboard;  // 120 (note, sample) pairs, or empty
  envelope vol, pan_env, pitch;
};

struct sample {
  int global_volume = 64, flags = 1, volume = 64, convert = 1, pan = 32 | 0;  // pan bit 7: use
  uint32_t length = 0, loop_start = 0, loop_end = 0, c5 = 8363, sustain_start = 0, sustain_end = 0;
  bytes data;  // as stored (compressed or plain)
};

// One cell: note 0..119, 253 fade, 254 cut, 255 off, -1 none; instrument 0 none; volume -1
// none; command letter 1..26 (0 none).
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
  int global_volume = 128, mix_volume = 48, speed = 6, tempo = 125;
  std::vector<int> orders{0, 255};
  std::vector<int> channel_pan = std::vector<int>(64, 32);
  std::vector<instrument> instruments;
  std::vector<sample> samples;
  std::vector<pattern> patterns{pattern{}};
  std::string message;
  // MIDI macros SF0..SFF then Z80..ZFF (144 texts); when any is given the song carries them all.
  std::vector<std::string> macros;
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
      const int head = (c.channel & 63) + 1;  // bit 7: a new mask follows
      mask == m.mask ? o.u8(head) : (o.u8(head | 128), o.u8(m.mask = mask));
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
  o.seq({e.flags, static_cast<int>(e.points.size()), e.loop_start, e.loop_end, e.sustain_start,
         e.sustain_end});
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

// The format 1.x instrument: one volume envelope of (tick, value) byte pairs.
inline void write_old_instrument(out &o, const instrument &ins) {
  o.u8(ins.vol.flags & 7);
  o.seq({ins.vol.loop_start, ins.vol.loop_end, ins.vol.sustain_start, ins.vol.sustain_end});
  o.le16(0), o.le16(ins.fadeout);
  o.u8(ins.nna), o.u8(ins.dct ? 1 : 0);
  o.le16(0x100), o.u8(1), o.u8(0);
  o.str("old instrument", 26), o.str("", 6);
  write_keyboard(o, ins);
  o.str("", 200);
  for (int i = 0; i < 25; i++) {
    const bool there = i < static_cast<int>(ins.vol.points.size());
    o.u8(there ? ins.vol.points[i].first : 255);
    o.u8(there ? ins.vol.points[i].second : 0);
  }
}

inline void write_instrument(out &o, const instrument &ins) {
  const size_t start = o.b.size();
  o.str("IMPI", 4), o.str("", 12), o.u8(0);
  if (ins.old_layout) {
    write_old_instrument(o, ins);
  } else {
    o.u8(ins.nna), o.u8(ins.dct), o.u8(ins.dca);
    o.le16(ins.fadeout);
    // No pitch-pan separation (its centre C-5), no random volume or pan.
    o.seq({0, 60, ins.global_volume, ins.pan < 0 ? 128 | 32 : ins.pan, 0, 0});
    o.le16(0x214), o.u8(1), o.u8(0);
    o.str("instrument", 26);
    o.u8(ins.cutoff < 0 ? 0 : 128 | ins.cutoff);
    o.u8(ins.resonance < 0 ? 0 : 128 | ins.resonance);
    o.u8(0), o.u8(0), o.le16(0);
    write_keyboard(o, ins);
    for (const envelope *e : {&ins.vol, &ins.pan_env, &ins.pitch}) write_envelope(o, *e);
  }
  o.pad_to(start + 554);
}

// The sample's header; answers where its data's offset goes.
inline size_t write_sample_header(out &o, const sample &smp) {
  o.str("IMPS", 4), o.str("", 12), o.u8(0);
  o.seq({smp.global_volume, smp.flags, smp.volume});
  o.str("sample", 26);
  o.u8(smp.convert), o.u8(smp.pan);
  o.le32(smp.length), o.le32(smp.loop_start), o.le32(smp.loop_end), o.le32(smp.c5);
  o.le32(smp.sustain_start), o.le32(smp.sustain_end);
  const size_t data_field = o.b.size();
  o.le32(0);
  o.le32(0);  // no vibrato
  return data_field;
}

inline void write_header(out &o, const song &s, size_t &message_field) {
  const int ni = static_cast<int>(s.instruments.size()), ns = static_cast<int>(s.samples.size()),
            np = static_cast<int>(s.patterns.size()), no = static_cast<int>(s.orders.size());
  o.str("IMPM", 4), o.str(s.name, 26);
  o.le16(0x0410);
  o.le16(no), o.le16(ni), o.le16(ns), o.le16(np);
  o.le16(s.tracker), o.le16(s.compatible);
  const bool macros = !s.macros.empty();
  o.le16(s.flags | (macros ? 0x80 : 0)),
      o.le16(s.special | (s.message.empty() ? 0 : 1) | (macros ? 8 : 0));
  o.seq({s.global_volume, s.mix_volume, s.speed, s.tempo, 128, 0});  // full stereo separation
  o.le16(static_cast<int>(s.message.size()));
  message_field = o.b.size();
  o.le32(0), o.le32(0);
  for (int ch = 0; ch < 64; ch++) o.u8(s.channel_pan[ch]);
  o.str(std::string(64, 64), 64);  // every channel's volume full
  for (int v : s.orders) o.u8(v);
}

inline bytes build(const song &s) {
  out o;
  const int ni = static_cast<int>(s.instruments.size()), ns = static_cast<int>(s.samples.size()),
            np = static_cast<int>(s.patterns.size());
  size_t message_field = 0;
  write_header(o, s, message_field);
  const size_t tables = o.b.size();
  o.pad_to(tables + 4 * (ni + ns + np));
  if (!s.macros.empty()) {
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
    o.set32(tables + 4 * (ni + i), static_cast<uint32_t>(o.b.size()));
    data_fields.push_back(write_sample_header(o, s.samples[i]));
  }
  for (int i = 0; i < np; i++) {
    const pattern &p = s.patterns[i];
    o.set32(tables + 4 * (ni + ns + i), static_cast<uint32_t>(o.b.size()));
    const bytes packed = p.packed.empty() ? pack(p) : p.packed;
    o.le16(static_cast<int>(packed.size())), o.le16(p.rows), o.le32(0);
    o.raw(packed);
  }
  for (int i = 0; i < ns; i++) {
    o.set32(data_fields[i], static_cast<uint32_t>(o.b.size()));
    o.raw(s.samples[i].data);
  }
  return o.b;
}

// The IT 2.14 compression in its simplest valid form: every block opens by setting a fixed bit
// width and writes each delta (of one integration, or two for 2.15) in it. width must hold
// every delta without using an escape value; 0 picks the full width (9 or 17 bits).
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
      const int delta1 = values[i] - prev1;
      const int d = twice ? delta1 - prev2 : delta1;
      prev2 = delta1, prev1 = values[i];
      const uint32_t mask = (1u << top) - 1;
      bits.put(static_cast<uint32_t>(d) & (w == full ? mask : (1u << w) - 1), w);
    }
    result.push_back(static_cast<uint8_t>(bits.b.size()));
    result.push_back(static_cast<uint8_t>(bits.b.size() >> 8));
    result.insert(result.end(), bits.b.begin(), bits.b.end());
  }
  return result;
}

}  // namespace it

// ---- The text form (modtext.cpp, described at the top of modkit_main.cpp) ------------------

// A mistake in a source, with its line (0: the source as a whole).
struct text_error : std::runtime_error {
  text_error(int at, const std::string &what) : std::runtime_error(what), line(at) {}
  int line;
};

// The module the source describes, in `format` (mod, s3m, xm or it) unless the source names
// its own. Throws text_error.
bytes build_text(const std::string &source, const std::string &format);

// ---- Packages and files -----------------------------------------------------------------------

// A UMX package: its signature, filler up to offset, then the module.
inline bytes wrap_umx(const bytes &module, size_t offset) {
  out w;
  w.seq({0xC1, 0x83, 0x2A, 0x9E});
  w.pad_to(offset);
  w.raw(module);
  return w.b;
}

// Writes bytes to a file; true on success.
inline bool write_file(const std::string &path, const bytes &b) {
  std::ofstream f(path, std::ios::binary);
  return f.write(reinterpret_cast<const char *>(b.data()), b.size()) && f.flush();
}

}  // namespace modkit

#endif
