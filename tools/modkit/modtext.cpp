// The text form: statements read into one format-free song, then laid out as each format stores
// it (periods, note bytes, packed cells, synthesized sample bytes).
#include "modkit.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <sstream>
#include <vector>

namespace modkit {
namespace {

struct sample_text {
  std::string wave = "sine";
  int period = 32, length = 8192, loop = 0, decay = 0, volume = 64, rate = 8363, finetune = 0,
      relnote = 0, pan = 128;
};

struct envelope_text {
  std::vector<std::pair<int, int>> points;  // tick, value
  int sustain = -1, sustain_end = -1, loop_start = -1, loop_end = -1;
  bool carry = false;  // IT: a new note of the instrument goes on from where this one is
};

struct instrument_text {
  envelope_text vol, pan, pitch;  // pitch: a filter envelope when `filter`
  bool filter = false;
  int fadeout = 0, sample = 0, nna = 0, dct = 0, dca = 0, cutoff = -1, resonance = -1,
      default_pan = -1;
  int vib[4] = {0, 0, 0, 0};
};

// note: 0 none, 1.. semitones from C-0 plus 1, -1 key off, -2 cut, -3 fade.
struct cell_text {
  int row = 0, channel = 0, note = 0, instrument = 0, volume = -1, effect = -1, param = 0;
};

struct pattern_text {
  int rows = 64;
  std::vector<cell_text> cells;  // in the source's order
};

struct song_text {
  std::string format, title = "modgen", tracker = "FastTracker v2.00";
  int channels = 4, speed = 6, tempo = 125, linear = 1, version = -1, restart = 0, flags = -1,
      slots = 31, global = 128, mix = 48;
  std::vector<int> orders, off;
  std::map<int, sample_text> samples;
  std::map<int, instrument_text> instruments;
  std::map<int, pattern_text> patterns;
  std::vector<std::string> macros;
};

int line_no = 0;

[[noreturn]] void fail(const std::string &what) { throw text_error(line_no, what); }

int number(const std::string &s, int base = 10) {
  char *end = nullptr;
  const long v = std::strtol(s.c_str(), &end, base);
  if (s.empty() || *end) fail("not a number: " + s);
  return static_cast<int>(v);
}

// A line without its comment (a '#' that starts a word; inside a word it is a sharp), and its
// words.
std::vector<std::string> split(std::string &line) {
  for (size_t at = line.find('#'); at != std::string::npos; at = line.find('#', at + 1))
    if (at == 0 || std::isspace(static_cast<unsigned char>(line[at - 1]))) {
      line.erase(at);
      break;
    }
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

// The line's text from its word `from` on.
std::string rest(const std::string &line, const std::vector<std::string> &w, size_t from) {
  size_t at = 0;
  for (size_t i = 0; i < from; i++) at = line.find(w[i], at) + w[i].size();
  return line.substr(line.find(w[from], at));
}

void range(const std::string &s, int &a, int &b) {
  const size_t dash = s.find('-', 1);
  if (dash == std::string::npos) fail("not a range A-B: " + s);
  a = number(s.substr(0, dash)), b = number(s.substr(dash + 1));
}

int note(const std::string &s) {
  static const std::map<std::string, int> marks{{".", 0},    {"---", 0},  {"...", 0},
                                                {"===", -1}, {"^^^", -2}, {"~~~", -3}};
  if (marks.count(s)) return marks.at(s);
  static const std::string names = "C-C#D-D#E-F-F#G-G#A-A#B-";
  const size_t at = s.size() == 3 ? names.find(s.substr(0, 2)) : std::string::npos;
  if (at == std::string::npos || at % 2 || s[2] < '0' || s[2] > '9') fail("not a note: " + s);
  return (s[2] - '0') * 12 + static_cast<int>(at / 2) + 1;
}

int pick(const std::string &s, const std::vector<std::string> &words) {
  const auto it = std::find(words.begin(), words.end(), s);
  if (it == words.end()) fail("unknown word: " + s);
  return static_cast<int>(it - words.begin());
}

using options = std::map<std::string, std::string>;

// name=value words after the first two.
options read_options(const std::vector<std::string> &w) {
  options opt;
  for (size_t i = 2; i < w.size(); i++) {
    const size_t eq = w[i].find('=');
    if (eq == std::string::npos) fail("not name=value: " + w[i]);
    opt[w[i].substr(0, eq)] = w[i].substr(eq + 1);
  }
  return opt;
}

int get(const options &opt, const char *name, int fallback) {
  const auto it = opt.find(name);
  return it == opt.end() ? fallback : number(it->second);
}

sample_text read_sample(const options &opt) {
  sample_text s;
  if (opt.count("wave")) s.wave = opt.at("wave");
  s.period = get(opt, "period", s.period), s.length = get(opt, "length", s.length);
  s.loop = get(opt, "loop", 0), s.decay = get(opt, "decay", 0);
  s.volume = get(opt, "volume", 64), s.rate = get(opt, "rate", 8363);
  s.finetune = get(opt, "finetune", 0), s.relnote = get(opt, "relnote", 0);
  s.pan = get(opt, "pan", 128);
  if (s.period < 2 || s.length < 2 || s.length > 1 << 20)
    fail("sample period or length out of range");
  return s;
}

// KIND env=T:V,.. KIND sus=P or A-B, KIND loop=A-B.
void read_envelope(const options &opt, const std::string &kind, envelope_text &e) {
  const auto points = opt.find(kind + "env");
  if (points != opt.end()) {
    std::stringstream in(points->second);
    for (std::string p; std::getline(in, p, ',');) {
      const size_t colon = p.find(':');
      if (colon == std::string::npos) fail("envelope point without ':': " + p);
      e.points.push_back({number(p.substr(0, colon)), number(p.substr(colon + 1))});
    }
    if (e.points.empty() || e.points.size() > 25) fail("an envelope has 1 to 25 points");
  }
  const auto sus = opt.find(kind + "sus");
  if (sus != opt.end() && sus->second.find('-') != std::string::npos)
    range(sus->second, e.sustain, e.sustain_end);
  else if (sus != opt.end())
    e.sustain = e.sustain_end = number(sus->second);
  if (opt.count(kind + "loop")) range(opt.at(kind + "loop"), e.loop_start, e.loop_end);
  e.carry = get(opt, (kind + "carry").c_str(), 0) != 0;
}

instrument_text read_instrument(int n, const options &opt) {
  instrument_text ins;
  read_envelope(opt, "vol", ins.vol);
  read_envelope(opt, "pan", ins.pan);
  read_envelope(opt, "pitch", ins.pitch);
  if (opt.count("filterenv")) ins.filter = true, read_envelope(opt, "filter", ins.pitch);
  ins.fadeout = get(opt, "fadeout", 0), ins.sample = get(opt, "sample", n);
  ins.cutoff = get(opt, "cutoff", -1), ins.resonance = get(opt, "resonance", -1);
  ins.default_pan = get(opt, "pan", -1);
  if (opt.count("nna")) ins.nna = pick(opt.at("nna"), {"cut", "continue", "off", "fade"});
  if (opt.count("dct")) ins.dct = pick(opt.at("dct"), {"off", "note", "sample", "instrument"});
  if (opt.count("dca")) ins.dca = pick(opt.at("dca"), {"cut", "off", "fade"});
  if (opt.count("vib")) {
    std::stringstream v(opt.at("vib"));
    std::string part;
    for (int i = 0; i < 4 && std::getline(v, part, ','); i++) ins.vib[i] = number(part);
  }
  return ins;
}

int volume(const std::string &s, const std::string &format) {
  if (s == ".") return -1;
  if ((format == "it" || format == "s3m") && (s[0] == 'v' || s[0] == 'p'))
    return (s[0] == 'p' ? 128 : 0) + number(s.substr(1));
  return number(s, format == "xm" ? 16 : 10);
}

void read_effect(const std::string &s, const std::string &format, cell_text &c) {
  if (s == ".") return;
  if (s.size() != 3) fail("an effect is a letter and two hex digits: " + s);
  const char e = s[0];
  if (format == "s3m" || format == "it")
    c.effect = e >= 'A' && e <= 'Z' ? e - 'A' + 1 : -1;
  else
    c.effect = e >= '0' && e <= '9' ? e - '0' : e >= 'A' && e <= 'Z' ? e - 'A' + 10 : -1;
  if (c.effect < 0) fail("not an effect of the format: " + s);
  c.param = number(s.substr(1), 16);
}

// ROW[-LAST] CHANNEL NOTE INSTRUMENT VOLUME EFFECT, added on each row.
void read_cell(const std::vector<std::string> &w, const song_text &song, pattern_text &p) {
  cell_text c;
  int last = 0;
  c.channel = number(w[1]);
  if (w[0].find('-') != std::string::npos)
    range(w[0], c.row, last);
  else
    c.row = last = number(w[0]);
  const int channels = song.format == "it" ? 64 : song.channels;
  if (c.row < 0 || last < c.row || last >= p.rows || c.channel < 0 || c.channel >= channels)
    fail("cell outside the pattern");
  c.note = note(w[2]);
  c.instrument = w[3] == "." ? 0 : number(w[3]);
  c.volume = volume(w[4], song.format);
  read_effect(w[5], song.format, c);
  for (; c.row <= last; c.row++) p.cells.push_back(c);
}

void read_macro(const std::string &line, const std::vector<std::string> &w, song_text &song) {
  const std::string &m = w[1];
  if (w.size() < 3 || m.size() != 3 || (m[0] != 'S' && m[0] != 'Z'))
    fail("macro takes SFx or Zxx and its text");
  const int at = m[0] == 'S' ? number(m.substr(2), 16) : 16 + number(m.substr(1), 16) - 0x80;
  if (at < 0 || at >= 144) fail("no such macro: " + m);
  song.macros.resize(144);
  song.macros[at] = rest(line, w, 2);
}

// A statement of the song's header; false when the line is none.
bool read_header(const std::string &line, const std::vector<std::string> &w, song_text &song) {
  const std::string &key = w[0];
  static const std::map<std::string, int song_text::*> numbers{
      {"channels", &song_text::channels}, {"speed", &song_text::speed},
      {"tempo", &song_text::tempo},       {"linear", &song_text::linear},
      {"restart", &song_text::restart},   {"samples", &song_text::slots},
      {"global", &song_text::global},     {"mix", &song_text::mix}};
  if (numbers.count(key) && w.size() == 2) {
    song.*numbers.at(key) = number(w[1]);
  } else if ((key == "version" || key == "flags") && w.size() == 2) {
    (key == "version" ? song.version : song.flags) = number(w[1], 16);
  } else if (key == "format" && w.size() == 2) {
    song.format = w[1];
  } else if (key == "title" && w.size() >= 2) {
    song.title = rest(line, w, 1);
  } else if (key == "tracker" && w.size() == 2) {
    song.tracker = w[1];
    std::replace(song.tracker.begin(), song.tracker.end(), '_', ' ');
  } else if (key == "orders" || key == "off") {
    for (size_t i = 1; i < w.size(); i++)
      (key == "off" ? song.off : song.orders).push_back(number(w[i]));
  } else if (key == "macro" && w.size() >= 2) {
    read_macro(line, w, song);
  } else {
    return false;
  }
  return true;
}

void check(song_text &song) {
  if (song.format != "mod" && song.format != "s3m" && song.format != "xm" && song.format != "it")
    fail("unknown format " + song.format);
  if (song.samples.empty()) {
    sample_text &tone = song.samples[1];
    if (song.format == "it")
      tone.wave = "saw", tone.period = 64, tone.length = 64, tone.loop = 1;
    else
      tone.period = 16, tone.length = 64, tone.loop = 1;
  }
  if (song.orders.empty())
    for (const auto &p : song.patterns) song.orders.push_back(p.first);
  if (song.orders.empty()) fail("no orders");
  if (song.channels < 1 || song.channels > 32) fail("1 to 32 channels");
  if (song.slots != 15 && song.slots != 31) fail("15 or 31 samples");
  if (song.slots == 15 && song.channels != 4) fail("15 samples take 4 channels");
  if (song.format == "mod" && song.samples.rbegin()->first > song.slots)
    fail("a sample number beyond the samples");
}

song_text read_song(const std::string &source, const std::string &format) {
  song_text song;
  song.format = format;
  pattern_text *pattern = nullptr;
  std::istringstream in(source);
  line_no = 0;
  for (std::string line; std::getline(in, line);) {
    line_no++;
    const std::vector<std::string> w = split(line);
    if (w.empty() || read_header(line, w, song)) continue;
    if (w[0] == "sample" && w.size() >= 2) {
      song.samples[number(w[1])] = read_sample(read_options(w));
    } else if (w[0] == "instrument" && w.size() >= 2) {
      song.instruments[number(w[1])] = read_instrument(number(w[1]), read_options(w));
    } else if (w[0] == "pattern" && w.size() >= 2) {
      pattern = &song.patterns[number(w[1])];
      pattern->rows = get(read_options(w), "rows", 64);
      if (pattern->rows < 1 || pattern->rows > 256) fail("a pattern has 1 to 256 rows");
    } else if (w.size() == 6 && std::isdigit(static_cast<unsigned char>(w[0][0]))) {
      if (!pattern) fail("a cell before any pattern");
      read_cell(w, song, *pattern);
    } else {
      fail("cannot read: " + line);
    }
  }
  line_no = 0;
  check(song);
  return song;
}

// ---- Laying the song out in each format ----------------------------------------------------

// Signed sample values: the wave at `level` of full scale (IT's waves peak at 0.8) times `scale`.
std::vector<int> synthesize(const sample_text &s, double level, double scale) {
  std::vector<int> v(s.length);
  for (int i = 0; i < s.length; i++) {
    const double phase = static_cast<double>(i % s.period) / s.period;
    double x = s.wave == "square" ? (phase < 0.5 ? level : -level)
               : s.wave == "saw"  ? 2.0 * level * phase - level
                                  : level * std::sin(2 * M_PI * phase);
    if (s.decay > 0) x *= std::exp(-static_cast<double>(i) / s.decay);
    v[i] = static_cast<int>(std::lround(x * scale));
  }
  return v;
}

bytes sample_bytes(const sample_text &s, double level, double scale, int offset) {
  bytes b;
  for (int v : synthesize(s, level, scale)) b.push_back(static_cast<uint8_t>(v + offset));
  return b;
}

int top(const std::map<int, pattern_text> &m) { return m.empty() ? -1 : m.rbegin()->first; }

// Each (row, channel)'s first cell; `again` gets the later ones, which only S3M can store.
std::map<std::pair<int, int>, cell_text> first_cells(const pattern_text &p,
                                                     std::vector<cell_text> *again) {
  std::map<std::pair<int, int>, cell_text> cells;
  for (const cell_text &c : p.cells)
    if (cells.insert({{c.row, c.channel}, c}).second)
      continue;
    else if (again && c.channel > 0)  // channel 0 with no fields would end the row
      again->push_back(c);
    else
      fail("a cell named twice (S3M: channels above 0 only)");
  return cells;
}

// ProTracker periods of finetune 0, octaves 1 to 3 (C-1 = 856).
const int pt_periods[36] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                            428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
                            214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};

mod_cell mod_cell_of(const cell_text &c) {
  const int k = c.note - 1 - 12;  // C-1 of the MOD octaves is note C-1 of the source
  const int period = c.note > 0 && k >= 0 && k < 36 ? pt_periods[k] : 0;
  if (c.note > 0 && period == 0) fail("MOD notes run from C-1 to B-3");
  return {c.instrument, period, c.effect < 0 ? 0 : c.effect, c.effect < 0 ? 0 : c.param};
}

bytes to_mod(const song_text &song) {
  mod_image m;
  m.title = song.title, m.no_inst = song.slots, m.channels = song.channels;
  m.signature = song.channels == 4
                    ? "M.K."
                    : std::to_string(song.channels) + (song.channels < 10 ? "CHN" : "CH");
  m.song_length = static_cast<int>(song.orders.size()), m.orders = song.orders;
  m.restart = song.slots == 15 ? 120 : 127;  // the Soundtrackers' default tempo; ProTracker's mark
  m.samples.assign(song.slots, mod_sample{0, 0, 0, 0, 1, {}});
  m.sample_names.assign(song.slots, "");
  for (const auto &[n, s] : song.samples) {
    m.samples[n - 1] = {s.length / 2,
                        s.finetune & 15,
                        s.volume,
                        0,
                        s.loop ? s.length / 2 : 1,
                        sample_bytes(s, 1.0, 100, 0)};
    m.sample_names[n - 1] = "sample";
  }
  m.patterns.assign(top(song.patterns) + 1, std::vector<mod_cell>(64 * song.channels));
  for (const auto &[n, p] : song.patterns)
    for (const auto &[at, c] : first_cells(p, nullptr))
      m.patterns[n][at.first * song.channels + at.second] = mod_cell_of(c);
  return build_mod(m);
}

s3m_event s3m_event_of(const cell_text &c) {
  s3m_event e{c.row, c.channel};
  if (c.note != 0 || c.instrument != 0)
    e.note = c.note == -2 ? 254 : c.note > 0 ? ((c.note - 1) / 12) << 4 | (c.note - 1) % 12 : 255;
  e.instrument = c.instrument, e.volume = c.volume;
  if (c.effect >= 0) e.command = c.effect, e.info = c.param;
  return e;
}

bytes to_s3m(const song_text &song) {
  s3m_image m;
  m.name = song.title, m.orders = song.orders;
  if (m.orders.size() & 1) m.orders.push_back(255);
  m.flags = std::max(song.flags, 0), m.tracker = song.version >= 0 ? song.version : 0x1320;
  m.speed = song.speed, m.tempo = song.tempo, m.data_last = true;
  // Master volume 0x30 with the stereo bit; ultra-click 16 and a pan table, as ST3 saves.
  m.ultra_click = 16, m.pan_flag = 252;
  for (int ch = 0; ch < 32; ch++) {
    m.chn_set[ch] = ch < song.channels ? (ch & 1 ? 8 + ch / 2 % 8 : ch / 2 % 8) : 255;
    m.default_pan[ch] = 0x20 | (ch & 1 ? 12 : 3);
  }
  for (int ch : song.off) m.chn_set[ch & 31] |= 128;
  m.samples.assign(song.samples.rbegin()->first, s3m_sample{0, true, 0, 0, 0, 64, 0, 8363, {}, 1});
  for (const auto &[n, s] : song.samples) {
    s3m_sample &x = m.samples[n - 1];
    x.type = 1, x.length = s.length, x.loop_end = s.loop ? s.length : 0, x.volume = s.volume;
    x.flags = s.loop ? 1 : 0, x.c2spd = s.rate, x.data = sample_bytes(s, 1.0, 100, 128);
  }
  m.patterns.assign(top(song.patterns) + 1, {});
  for (const auto &[n, p] : song.patterns) {
    std::vector<cell_text> again;
    for (const auto &[at, c] : first_cells(p, &again)) m.patterns[n].push_back(s3m_event_of(c));
    for (const cell_text &c : again) m.patterns[n].push_back(s3m_event_of(c));
  }
  return build_s3m(m);
}

void xm_envelope(const envelope_text &e, std::vector<std::pair<int, int>> &points, int &flags,
                 int &sustain, int &loop_start, int &loop_end) {
  if (e.points.size() > 12) fail("an XM envelope has 1 to 12 points");
  points = e.points;
  flags = e.points.empty() ? 0 : 1 | (e.sustain >= 0 ? 2 : 0) | (e.loop_start >= 0 ? 4 : 0);
  sustain = std::max(e.sustain, 0), loop_start = std::max(e.loop_start, 0);
  loop_end = std::max(e.loop_end, 0);
}

xm_instrument xm_instrument_of(const sample_text &s, const instrument_text &ins) {
  xm_instrument x;
  xm_envelope(ins.vol, x.vol_env, x.vol_flags, x.vol_sustain, x.vol_loop_start, x.vol_loop_end);
  xm_envelope(ins.pan, x.pan_env, x.pan_flags, x.pan_sustain, x.pan_loop_start, x.pan_loop_end);
  std::copy(ins.vib, ins.vib + 4, x.vibrato);
  x.fadeout = ins.fadeout;
  const uint32_t length = static_cast<uint32_t>(s.length);
  x.samples = {{length, 0, s.loop ? length : 0, s.volume, s.finetune & 0xFF, s.loop ? 1 : 0, s.pan,
                s.relnote & 0xFF, xm_delta8(synthesize(s, 1.0, 100))}};
  return x;
}

bytes xm_packed(const pattern_text &p, int channels) {
  const auto cells = first_cells(p, nullptr);
  out o;
  for (int row = 0; row < p.rows; row++)
    for (int ch = 0; ch < channels; ch++) {
      const auto it = cells.find({row, ch});
      const cell_text c = it == cells.end() ? cell_text{} : it->second;
      if (c.note > 96) fail("XM notes run from C-0 to B-7");
      o.seq({0x80 | 0x1F, c.note == -1 ? 97 : std::max(c.note, 0), c.instrument,
             std::max(c.volume, 0), std::max(c.effect, 0), c.effect < 0 ? 0 : c.param});
    }
  return o.b;
}

bytes to_xm(const song_text &song) {
  xm_image m;
  m.name = song.title, m.tracker = song.tracker;
  m.version = song.version >= 0 ? song.version : 0x0104;
  m.song_length = static_cast<int>(song.orders.size()), m.orders = song.orders;
  m.restart = song.restart, m.channels = song.channels, m.flags = song.linear ? 1 : 0;
  m.speed = song.speed, m.tempo = song.tempo;
  m.patterns.assign(top(song.patterns) + 1, xm_pattern{});
  for (const auto &[n, p] : song.patterns)
    m.patterns[n].rows = p.rows, m.patterns[n].packed = xm_packed(p, song.channels);
  for (xm_pattern &p : m.patterns)
    if (p.packed.empty()) p.packed = xm_packed(pattern_text{}, song.channels);
  m.instruments.assign(song.samples.rbegin()->first, xm_instrument{});
  for (xm_instrument &x : m.instruments) x.name = "";
  for (const auto &[n, s] : song.samples) {
    const auto ins = song.instruments.find(n);
    m.instruments[n - 1] =
        xm_instrument_of(s, ins == song.instruments.end() ? instrument_text{} : ins->second);
  }
  return build_xm(m);
}

it::envelope it_envelope(const envelope_text &e, int filter) {
  it::envelope x;
  x.points = e.points;
  x.flags = e.points.empty() ? 0 : 1 | filter;
  if (e.loop_start >= 0) x.flags |= 2, x.loop_start = e.loop_start, x.loop_end = e.loop_end;
  if (e.sustain >= 0) x.flags |= 4, x.sustain_start = e.sustain, x.sustain_end = e.sustain_end;
  if (e.carry) x.flags |= 8;
  return x;
}

it::instrument it_instrument_of(const instrument_text &ins) {
  it::instrument x;
  x.sample = ins.sample, x.nna = ins.nna, x.dct = ins.dct, x.dca = ins.dca;
  x.fadeout = ins.fadeout, x.cutoff = ins.cutoff, x.resonance = ins.resonance;
  x.pan = ins.default_pan;
  x.vol = it_envelope(ins.vol, 0), x.pan_env = it_envelope(ins.pan, 0);
  x.pitch = it_envelope(ins.pitch, ins.filter ? 128 : 0);
  return x;
}

it::cell it_cell_of(const cell_text &c) {
  const int marks[] = {253, 254, 255, -1};  // fade, cut, off, none
  const int note = c.note > 0 ? c.note - 1 : marks[c.note + 3];
  return {c.row, c.channel, note, c.instrument, c.volume, std::max(c.effect, 0), c.param};
}

bytes to_it(const song_text &song) {
  it::song s;
  s.name = song.title, s.tracker = song.version >= 0 ? song.version : 0x214;
  s.flags = song.flags >= 0 ? song.flags : 1 | 4 | 8;
  if (song.instruments.empty()) s.flags &= ~4;
  s.speed = song.speed, s.tempo = song.tempo, s.global_volume = song.global;
  s.mix_volume = song.mix, s.macros = song.macros;
  s.orders = song.orders, s.orders.push_back(255);
  for (int n = 1; n <= song.samples.rbegin()->first; n++) {
    const auto it = song.samples.find(n);
    if (it == song.samples.end()) fail("samples are numbered from 1 in turn");
    const sample_text &t = it->second;
    it::sample x;
    x.flags = t.loop ? 1 | 16 : 1, x.c5 = t.rate, x.length = t.length, x.volume = t.volume;
    x.loop_end = t.loop ? t.length : 0, x.data = sample_bytes(t, 0.8, 127, 0);
    s.samples.push_back(x);
  }
  for (int n = 1; n <= (song.instruments.empty() ? 0 : song.instruments.rbegin()->first); n++) {
    const auto it = song.instruments.find(n);
    s.instruments.push_back(it_instrument_of(
        it == song.instruments.end() ? read_instrument(n, options{}) : it->second));
  }
  s.patterns.assign(top(song.patterns) + 1, it::pattern{});
  for (const auto &[n, p] : song.patterns) {
    s.patterns[n].rows = p.rows;
    for (const cell_text &c : p.cells) s.patterns[n].cells.push_back(it_cell_of(c));
    std::stable_sort(s.patterns[n].cells.begin(), s.patterns[n].cells.end(),
                     [](const it::cell &a, const it::cell &b) { return a.row < b.row; });
  }
  return it::build(s);
}

}  // namespace

bytes build_text(const std::string &source, const std::string &format) {
  const song_text song = read_song(source, format);
  line_no = 0;
  return song.format == "mod"   ? to_mod(song)
         : song.format == "s3m" ? to_s3m(song)
         : song.format == "xm"  ? to_xm(song)
                                : to_it(song);
}

}  // namespace modkit
