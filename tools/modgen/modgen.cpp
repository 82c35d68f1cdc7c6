// modgen: writes small tracker modules (MOD, S3M or XM) from a readable text description, so
// that one-behaviour test modules live in the tree as text and become real files at build time.
//   modgen SOURCE.txt OUT.{mod,s3m,xm}
// The source, one statement a line ('#' starts a comment):
//   format mod|s3m|xm (default: OUT's extension)   channels N (4)   speed N   tempo N
//   linear 0|1 (XM)     version HEX (S3M tracker word or XM format word)     restart N
//   samples 15|31 (MOD: 15 writes the old Soundtracker layout, without a signature)
//   flags HEX (S3M header flags)     tracker NAME (XM tracker name; '_' writes a space)
//   orders P P ...      (S3M: 254 is "+++", 255 is "---"; default: every pattern in turn)
//   sample N [wave=sine|square|saw] [period=32] [length=8192] [loop=0|1] [decay=0]
//            [volume=64] [rate=8363] [finetune=0] [relnote=0] [pan=128]
//       a sine, square or saw of `period` frames, fading with a time constant of `decay`
//       frames (0: none); finetune is a MOD nibble -8..7 or an XM byte -128..127, rate an
//       S3M middle-C rate. Without any sample statement, sample 1 is a steady tone:
//       period=16 length=64 loop=1.
//   instrument N [volenv=T:V,T:V..] [volsus=P] [volloop=A-B] [panenv=..] [pansus=P]
//                [panloop=A-B] [fadeout=N] [vib=TYPE,SWEEP,DEPTH,RATE]     (XM; sample N)
//   pattern N [rows=64]
//   (S3M: a cell may name a channel above 0 again in its row; it is written after the others)
//   ROW CHANNEL NOTE INSTRUMENT VOLUME EFFECT         (ROW may be FIRST-LAST: the cell on each)
//       NOTE C-4, C#4 ... (the trackers' own octaves: a sample plays at its rate on C-2 in MOD,
//       C-4 in S3M and XM), '===' key off (XM), '^^^' note cut (S3M), '.' none; INSTRUMENT a
//       number or '.'; VOLUME '.' or the column's value (XM: its byte in hex; S3M: 0..64);
//       EFFECT '.' or the format's letter and two hex digits (MOD/XM 0-9A-Z, S3M A-Z).
// Any mistake stops with the line number and status 1.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Sample {
  std::string wave = "sine";
  int period = 32, length = 8192, loop = 0, decay = 0, volume = 64, rate = 8363, finetune = 0,
      relnote = 0, pan = 128;
};

struct Envelope {
  std::vector<std::pair<int, int>> points;  // tick, value
  int sustain = -1, loop_start = -1, loop_end = -1;
};

struct Instrument {
  Envelope vol, pan;
  int fadeout = 0;
  int vib[4] = {0, 0, 0, 0};
};

struct Cell {
  int note = 0;        // 0 none, 1.. semitones from C-0 plus 1, -1 key off, -2 cut
  int instrument = 0;  // 0 none
  int volume = -1;     // -1 none
  int effect = -1, param = 0;
};

struct Pattern {
  int rows = 64;
  std::map<std::pair<int, int>, Cell> cells;  // row, channel
  // S3M: cells that name a channel a second time in their row, written after the row's others.
  std::vector<std::pair<std::pair<int, int>, Cell>> again;
};

struct Song {
  std::string format = "xm", title = "modgen", tracker = "FastTracker v2.00";
  int channels = 4, speed = 6, tempo = 125, linear = 1, version = -1, restart = 0, flags = 0,
      slots = 31;
  std::vector<int> orders;
  std::map<int, Sample> samples;
  std::map<int, Instrument> instruments;
  std::map<int, Pattern> patterns;
};

int line_no = 0;

[[noreturn]] void fail(const std::string &what) {
  std::fprintf(stderr, "modgen: line %d: %s\n", line_no, what.c_str());
  std::exit(1);
}

int number(const std::string &s, int base = 10) {
  char *end = nullptr;
  const long v = std::strtol(s.c_str(), &end, base);
  if (s.empty() || *end) fail("not a number: " + s);
  return static_cast<int>(v);
}

// "C-4" or "C#4": semitones from C-0, plus 1.
int parse_note(const std::string &s) {
  if (s == "." || s == "---") return 0;
  if (s == "===") return -1;
  if (s == "^^^") return -2;
  static const char names[] = "C-C#D-D#E-F-F#G-G#A-A#B-";
  if (s.size() != 3 || s[2] < '0' || s[2] > '9') fail("not a note: " + s);
  for (int k = 0; k < 12; k++)
    if (s[0] == names[2 * k] && s[1] == names[2 * k + 1]) return (s[2] - '0') * 12 + k + 1;
  fail("not a note: " + s);
}

Envelope parse_envelope(const std::string &s) {
  Envelope e;
  std::stringstream in(s);
  std::string point;
  while (std::getline(in, point, ',')) {
    const size_t colon = point.find(':');
    if (colon == std::string::npos) fail("envelope point without ':': " + point);
    e.points.push_back({number(point.substr(0, colon)), number(point.substr(colon + 1))});
  }
  if (e.points.empty() || e.points.size() > 12) fail("an envelope has 1 to 12 points");
  return e;
}

void parse_range(const std::string &s, int &a, int &b) {
  const size_t dash = s.find('-');
  if (dash == std::string::npos) fail("not a range A-B: " + s);
  a = number(s.substr(0, dash)), b = number(s.substr(dash + 1));
}

Song read_song(const char *path, const std::string &format) {
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "modgen: cannot read %s\n", path);
    std::exit(1);
  }
  Song song;
  song.format = format;
  Pattern *pattern = nullptr;
  std::string line;
  while (std::getline(in, line)) {
    line_no++;
    line = line.substr(0, line.find('#'));
    std::stringstream words(line);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.empty()) continue;
    const std::string &key = w[0];
    // name=value options after the first two words
    std::map<std::string, std::string> opt;
    for (size_t i = 2; i < w.size(); i++) {
      const size_t eq = w[i].find('=');
      if (eq != std::string::npos) opt[w[i].substr(0, eq)] = w[i].substr(eq + 1);
    }
    auto get = [&](const char *name, int fallback) {
      return opt.count(name) ? number(opt[name]) : fallback;
    };
    if (key == "format" && w.size() == 2) {
      song.format = w[1];
    } else if (key == "title" && w.size() == 2) {
      song.title = w[1];
    } else if ((key == "channels" || key == "speed" || key == "tempo" || key == "linear" ||
                key == "restart" || key == "samples") &&
               w.size() == 2) {
      int &field = key == "channels"  ? song.channels
                   : key == "speed"   ? song.speed
                   : key == "tempo"   ? song.tempo
                   : key == "linear"  ? song.linear
                   : key == "samples" ? song.slots
                                      : song.restart;
      field = number(w[1]);
    } else if (key == "version" && w.size() == 2) {
      song.version = number(w[1], 16);
    } else if (key == "tracker" && w.size() == 2) {
      song.tracker = w[1];
      for (char &ch : song.tracker)
        if (ch == '_') ch = ' ';
    } else if (key == "flags" && w.size() == 2) {
      song.flags = number(w[1], 16);
    } else if (key == "orders") {
      for (size_t i = 1; i < w.size(); i++) song.orders.push_back(number(w[i]));
    } else if (key == "sample" && w.size() >= 2) {
      Sample s;
      if (opt.count("wave")) s.wave = opt["wave"];
      s.period = get("period", s.period), s.length = get("length", s.length),
      s.loop = get("loop", 0);
      s.decay = get("decay", 0), s.volume = get("volume", 64), s.rate = get("rate", 8363);
      s.finetune = get("finetune", 0), s.relnote = get("relnote", 0), s.pan = get("pan", 128);
      if (s.period < 2 || s.length < 2 || s.length > 1 << 20)
        fail("sample period or length out of range");
      song.samples[number(w[1])] = s;
    } else if (key == "instrument" && w.size() >= 2) {
      Instrument ins;
      if (opt.count("volenv")) ins.vol = parse_envelope(opt["volenv"]);
      if (opt.count("panenv")) ins.pan = parse_envelope(opt["panenv"]);
      ins.vol.sustain = get("volsus", -1), ins.pan.sustain = get("pansus", -1);
      if (opt.count("volloop")) parse_range(opt["volloop"], ins.vol.loop_start, ins.vol.loop_end);
      if (opt.count("panloop")) parse_range(opt["panloop"], ins.pan.loop_start, ins.pan.loop_end);
      ins.fadeout = get("fadeout", 0);
      if (opt.count("vib")) {
        std::stringstream v(opt["vib"]);
        std::string part;
        for (int i = 0; i < 4 && std::getline(v, part, ','); i++) ins.vib[i] = number(part);
      }
      song.instruments[number(w[1])] = ins;
    } else if (key == "pattern" && w.size() >= 2) {
      pattern = &song.patterns[number(w[1])];
      pattern->rows = get("rows", 64);
      if (pattern->rows < 1 || pattern->rows > 256) fail("a pattern has 1 to 256 rows");
    } else if (w.size() == 6 && key[0] >= '0' && key[0] <= '9') {
      if (!pattern) fail("a cell before any pattern");
      Cell c;
      int row = 0, last = 0;
      const int ch = number(w[1]);
      if (w[0].find('-') != std::string::npos)
        parse_range(w[0], row, last);
      else
        row = last = number(w[0]);
      if (row < 0 || last < row || last >= pattern->rows || ch < 0 || ch >= song.channels)
        fail("cell outside the pattern");
      c.note = parse_note(w[2]);
      c.instrument = w[3] == "." ? 0 : number(w[3]);
      if (w[4] != ".") c.volume = number(w[4], song.format == "xm" ? 16 : 10);
      if (w[5] != ".") {
        if (w[5].size() != 3) fail("an effect is a letter and two hex digits: " + w[5]);
        const char e = w[5][0];
        if (song.format == "s3m") {
          if (e < 'A' || e > 'Z') fail("an S3M effect is a letter A-Z");
          c.effect = e - 'A' + 1;
        } else {
          c.effect = e >= '0' && e <= '9' ? e - '0' : e >= 'A' && e <= 'Z' ? e - 'A' + 10 : -1;
          if (c.effect < 0) fail("not an effect: " + w[5]);
        }
        c.param = number(w[5].substr(1), 16);
      }
      for (; row <= last; row++) {
        if (!pattern->cells.count({row, ch}))
          pattern->cells[{row, ch}] = c;
        else if (song.format == "s3m" && ch > 0)  // channel 0 with no fields would end the row
          pattern->again.push_back({{row, ch}, c});
        else
          fail("a cell named twice (S3M: channels above 0 only)");
      }
    } else {
      fail("cannot read: " + line);
    }
  }
  if (song.format != "mod" && song.format != "s3m" && song.format != "xm")
    fail("unknown format " + song.format);
  if (song.samples.empty()) {
    Sample &tone = song.samples[1];
    tone.period = 16, tone.length = 64, tone.loop = 1;
  }
  if (song.orders.empty())
    for (const auto &p : song.patterns) song.orders.push_back(p.first);
  if (song.orders.empty()) fail("no orders");
  if (song.channels < 1 || song.channels > 32) fail("1 to 32 channels");
  if (song.slots != 15 && song.slots != 31) fail("15 or 31 samples");
  if (song.slots == 15 && song.channels != 4) fail("15 samples take 4 channels");
  if (song.format == "mod" && !song.samples.empty() && song.samples.rbegin()->first > song.slots)
    fail("a sample number beyond the samples");
  return song;
}

// Signed 8-bit frames of a sample.
std::vector<int> synthesize(const Sample &s) {
  std::vector<int> out(s.length);
  for (int i = 0; i < s.length; i++) {
    const double phase = static_cast<double>(i % s.period) / s.period;
    double v = s.wave == "square" ? (phase < 0.5 ? 1.0 : -1.0)
               : s.wave == "saw"  ? 2.0 * phase - 1.0
                                  : std::sin(2 * M_PI * phase);
    if (s.decay > 0) v *= std::exp(-static_cast<double>(i) / s.decay);
    out[i] = static_cast<int>(std::lround(v * 100));
  }
  return out;
}

struct Out {
  std::vector<unsigned char> b;
  void byte(int v) { b.push_back(static_cast<unsigned char>(v)); }
  void le16(int v) { byte(v), byte(v >> 8); }
  void le32(long v) { le16(static_cast<int>(v & 0xFFFF)), le16(static_cast<int>(v >> 16)); }
  void be16(int v) { byte(v >> 8), byte(v); }
  void text(const std::string &s, size_t n) {
    for (size_t i = 0; i < n; i++) byte(i < s.size() ? s[i] : 0);
  }
  void zeros(size_t n) { b.insert(b.end(), n, 0); }
  void put16(size_t at, int v) {
    b[at] = static_cast<unsigned char>(v), b[at + 1] = static_cast<unsigned char>(v >> 8);
  }
};

int max_pattern(const Song &song) {
  int top = -1;
  for (const auto &p : song.patterns) top = std::max(top, p.first);
  return top;
}

// ProTracker periods of finetune 0, octaves 1 to 3 (C-1 = 856).
const int pt_periods[36] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                            428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
                            214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};

Out write_mod(const Song &song) {
  Out o;
  o.text(song.title, 20);
  for (int n = 1; n <= song.slots; n++) {
    const auto it = song.samples.find(n);
    if (it == song.samples.end()) {
      o.zeros(22), o.be16(0), o.byte(0), o.byte(0), o.be16(0), o.be16(1);
      continue;
    }
    const Sample &s = it->second;
    o.text("sample", 22);
    o.be16(s.length / 2);
    o.byte(s.finetune & 15);
    o.byte(s.volume);
    o.be16(0);
    o.be16(s.loop ? s.length / 2 : 1);
  }
  o.byte(static_cast<int>(song.orders.size()));
  o.byte(song.slots == 15 ? 120 : 127);  // the Soundtrackers' default tempo; ProTracker's mark
  for (int i = 0; i < 128; i++)
    o.byte(i < static_cast<int>(song.orders.size()) ? song.orders[i] : 0);
  // The 15-sample layout has no signature.
  if (song.slots == 31 && song.channels == 4)
    o.text("M.K.", 4);
  else if (song.slots == 31)
    o.text(std::to_string(song.channels) + (song.channels < 10 ? "CHN" : "CH"), 4);
  for (int p = 0; p <= max_pattern(song); p++) {
    const auto it = song.patterns.find(p);
    for (int row = 0; row < 64; row++)
      for (int ch = 0; ch < song.channels; ch++) {
        Cell c;
        if (it != song.patterns.end() && it->second.cells.count({row, ch}))
          c = it->second.cells.at({row, ch});
        // C-1 of the MOD octaves is note C-1 of the source.
        const int k = c.note - 1 - 12;
        const int period = c.note > 0 && k >= 0 && k < 36 ? pt_periods[k] : 0;
        if (c.note > 0 && period == 0) fail("MOD notes run from C-1 to B-3");
        const int effect = c.effect < 0 ? 0 : c.effect;
        o.byte((c.instrument & 0xF0) | (period >> 8));
        o.byte(period & 0xFF);
        o.byte(((c.instrument & 15) << 4) | (effect & 15));
        o.byte(c.effect < 0 ? 0 : c.param);
      }
  }
  for (int n = 1; n <= 31; n++) {
    const auto it = song.samples.find(n);
    if (it == song.samples.end()) continue;
    for (int v : synthesize(it->second)) o.byte(v);
  }
  return o;
}

Out write_s3m(const Song &song) {
  Out o;
  const int orders = static_cast<int>(song.orders.size() + (song.orders.size() & 1));
  const int instruments = song.samples.empty() ? 0 : song.samples.rbegin()->first;
  const int patterns = max_pattern(song) + 1;
  o.text(song.title, 28);
  o.byte(0x1A), o.byte(16), o.le16(0);
  o.le16(orders), o.le16(instruments), o.le16(patterns);
  o.le16(song.flags);
  o.le16(song.version >= 0 ? song.version : 0x1320);
  o.le16(2);  // unsigned samples
  o.text("SCRM", 4);
  // Master volume 0x30 with the stereo bit; ultra-click 16 and a pan table (252), as ST3 saves.
  o.byte(64), o.byte(song.speed), o.byte(song.tempo), o.byte(0xB0), o.byte(16), o.byte(252);
  o.zeros(8), o.le16(0);
  for (int ch = 0; ch < 32; ch++)
    o.byte(ch < song.channels ? (ch & 1 ? 8 + ch / 2 % 8 : ch / 2 % 8) : 255);
  for (int i = 0; i < orders; i++)
    o.byte(i < static_cast<int>(song.orders.size()) ? song.orders[i] : 255);
  const size_t ins_ptrs = o.b.size();
  o.zeros(2 * instruments);
  const size_t pat_ptrs = o.b.size();
  o.zeros(2 * patterns);
  for (int ch = 0; ch < 32; ch++) o.byte(0x20 | (ch & 1 ? 12 : 3));
  auto align = [&] {
    while (o.b.size() % 16) o.byte(0);
  };
  std::vector<size_t> memseg_at(instruments + 1, 0);
  for (int n = 1; n <= instruments; n++) {
    align();
    o.put16(ins_ptrs + 2 * (n - 1), static_cast<int>(o.b.size() / 16));
    const auto it = song.samples.find(n);
    Sample s;
    if (it != song.samples.end()) s = it->second;
    const bool present = it != song.samples.end();
    o.byte(present ? 1 : 0);
    o.text("", 12);
    memseg_at[n] = o.b.size();
    o.byte(0), o.le16(0);
    o.le32(present ? s.length : 0), o.le32(0), o.le32(present && s.loop ? s.length : 0);
    o.byte(s.volume), o.byte(0), o.byte(0), o.byte(present && s.loop ? 1 : 0);
    o.le32(s.rate);
    // Unused, then the sample's place in the sound card's memory, which ST3 fills in.
    o.zeros(4), o.le16(1), o.zeros(6);
    o.text("sample", 28);
    o.text("SCRS", 4);
  }
  for (int p = 0; p < patterns; p++) {
    align();
    o.put16(pat_ptrs + 2 * p, static_cast<int>(o.b.size() / 16));
    const size_t start = o.b.size();
    o.le16(0);
    const auto it = song.patterns.find(p);
    for (int row = 0; row < 64; row++) {
      std::vector<std::pair<int, const Cell *>> row_cells;  // channel, cell, in file order
      if (it != song.patterns.end()) {
        for (int ch = 0; ch < song.channels; ch++)
          if (it->second.cells.count({row, ch}))
            row_cells.push_back({ch, &it->second.cells.at({row, ch})});
        for (const auto &a : it->second.again)
          if (a.first.first == row) row_cells.push_back({a.first.second, &a.second});
      }
      for (const auto &[ch, cell] : row_cells) {
        const Cell &c = *cell;
        const bool note = c.note != 0 || c.instrument != 0, vol = c.volume >= 0,
                   eff = c.effect >= 0;
        o.byte(ch | (note ? 0x20 : 0) | (vol ? 0x40 : 0) | (eff ? 0x80 : 0));
        if (note) {
          const int n = c.note == -2 ? 254
                        : c.note > 0 ? ((c.note - 1) / 12) << 4 | (c.note - 1) % 12
                                     : 255;
          o.byte(n), o.byte(c.instrument);
        }
        if (vol) o.byte(c.volume);
        if (eff) o.byte(c.effect), o.byte(c.param);
      }
      o.byte(0);
    }
    o.put16(start, static_cast<int>(o.b.size() - start));
  }
  for (int n = 1; n <= instruments; n++) {
    const auto it = song.samples.find(n);
    if (it == song.samples.end()) continue;
    align();
    const long para = static_cast<long>(o.b.size() / 16);
    o.b[memseg_at[n]] = static_cast<unsigned char>(para >> 16);
    o.put16(memseg_at[n] + 1, static_cast<int>(para & 0xFFFF));
    for (int v : synthesize(it->second)) o.byte(v + 128);
  }
  return o;
}

void write_envelope(Out &o, const Envelope &e) {
  for (int i = 0; i < 12; i++) {
    const bool used = i < static_cast<int>(e.points.size());
    o.le16(used ? e.points[i].first : 0), o.le16(used ? e.points[i].second : 0);
  }
}

int envelope_type(const Envelope &e) {
  if (e.points.empty()) return 0;
  return 1 | (e.sustain >= 0 ? 2 : 0) | (e.loop_start >= 0 ? 4 : 0);
}

Out write_xm(const Song &song) {
  Out o;
  const int instruments = song.samples.empty() ? 0 : song.samples.rbegin()->first;
  const int patterns = max_pattern(song) + 1;
  o.text("Extended Module: ", 17);
  o.text(song.title, 20);
  o.byte(0x1A);
  o.text(song.tracker, 20);  // the tracker whose rules the file follows
  o.le16(song.version >= 0 ? song.version : 0x0104);
  o.le32(276);
  o.le16(static_cast<int>(song.orders.size())), o.le16(song.restart), o.le16(song.channels);
  o.le16(patterns), o.le16(instruments), o.le16(song.linear ? 1 : 0);
  o.le16(song.speed), o.le16(song.tempo);
  for (int i = 0; i < 256; i++)
    o.byte(i < static_cast<int>(song.orders.size()) ? song.orders[i] : 0);
  for (int p = 0; p < patterns; p++) {
    const auto it = song.patterns.find(p);
    const int rows = it == song.patterns.end() ? 64 : it->second.rows;
    o.le32(9), o.byte(0), o.le16(rows);
    const size_t size_at = o.b.size();
    o.le16(0);
    const size_t start = o.b.size();
    for (int row = 0; row < rows; row++)
      for (int ch = 0; ch < song.channels; ch++) {
        Cell c;
        if (it != song.patterns.end() && it->second.cells.count({row, ch}))
          c = it->second.cells.at({row, ch});
        const int note = c.note == -1 ? 97 : c.note > 0 ? c.note : 0;  // XM note 1 is C-0
        if (c.note > 96) fail("XM notes run from C-0 to B-7");
        o.byte(0x80 | 0x1F);
        o.byte(note), o.byte(c.instrument), o.byte(c.volume < 0 ? 0 : c.volume);
        o.byte(c.effect < 0 ? 0 : c.effect), o.byte(c.effect < 0 ? 0 : c.param);
      }
    o.put16(size_at, static_cast<int>(o.b.size() - start));
  }
  for (int n = 1; n <= instruments; n++) {
    const auto sit = song.samples.find(n);
    if (sit == song.samples.end()) {
      o.le32(29), o.text("", 22), o.byte(0), o.le16(0);
      continue;
    }
    const Sample &s = sit->second;
    Instrument ins;
    if (song.instruments.count(n)) ins = song.instruments.at(n);
    o.le32(263), o.text("instrument", 22), o.byte(0), o.le16(1);
    o.le32(40);
    o.zeros(96);  // every note plays the instrument's one sample
    write_envelope(o, ins.vol), write_envelope(o, ins.pan);
    o.byte(static_cast<int>(ins.vol.points.size())),
        o.byte(static_cast<int>(ins.pan.points.size()));
    o.byte(std::max(ins.vol.sustain, 0)), o.byte(std::max(ins.vol.loop_start, 0)),
        o.byte(std::max(ins.vol.loop_end, 0));
    o.byte(std::max(ins.pan.sustain, 0)), o.byte(std::max(ins.pan.loop_start, 0)),
        o.byte(std::max(ins.pan.loop_end, 0));
    o.byte(envelope_type(ins.vol)), o.byte(envelope_type(ins.pan));
    for (int v : ins.vib) o.byte(v);
    o.le16(ins.fadeout);
    o.zeros(22);
    o.le32(s.length), o.le32(0), o.le32(s.loop ? s.length : 0);
    o.byte(s.volume), o.byte(s.finetune & 0xFF), o.byte(s.loop ? 1 : 0), o.byte(s.pan),
        o.byte(s.relnote & 0xFF);
    o.byte(0);
    o.text("sample", 22);
    int previous = 0;
    for (int v : synthesize(s)) {
      o.byte((v - previous) & 0xFF);
      previous = v;
    }
  }
  return o;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: modgen SOURCE.txt OUT.{mod,s3m,xm}\n");
    return 2;
  }
  const std::string out = argv[2];
  const Song song = read_song(argv[1], out.substr(out.rfind('.') + 1));
  line_no = 0;
  const Out o = song.format == "mod"   ? write_mod(song)
                : song.format == "s3m" ? write_s3m(song)
                                       : write_xm(song);
  FILE *f = std::fopen(argv[2], "wb");
  if (!f || std::fwrite(o.b.data(), 1, o.b.size(), f) != o.b.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "modgen: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
