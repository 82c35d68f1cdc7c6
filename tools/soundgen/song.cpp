// Reader of the song text: statements, tokens, phrase and group expansion, effects per row.
#include "song.h"

#include <cctype>
#include <functional>
#include <map>

#include "source.h"

namespace sound {

namespace {

// Periods of one octave in quarter Amiga units, C to B (the engine's semitone table).
const int kOctavePeriods[12] = {6848, 6464, 6096, 5760, 5424, 5120,
                                4832, 4560, 4304, 4064, 3840, 3628};
// Phrases may use phrases, but a chain this deep is a phrase that uses itself.
constexpr int kMaxNesting = 16;
constexpr int kMaxRows = 256;

struct Token {
  std::string text;
  int line = 0;
};

// Splits a channel or phrase line; '(' ')' '|' stand alone even when written against a word.
std::vector<Token> tokenize(const std::string &text, int line) {
  std::vector<Token> out;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) out.push_back({word, line});
    word.clear();
  };
  for (size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    if (std::isspace((unsigned char)c)) {
      flush();
    } else if (c == '(' || c == '|') {
      flush();
      out.push_back({std::string(1, c), line});
    } else if (c == ')') {
      flush();
      word = ")";
      while (i + 1 < text.size() &&
             (text[i + 1] == '*' || std::isdigit((unsigned char)text[i + 1])))
        word += text[++i];
      flush();
    } else {
      word += c;
    }
  }
  flush();
  return out;
}

struct KitEntry {
  std::string instrument;
  int pitch = 12;
};

// Effects written after an event: each is -1 when absent.
struct Suffixes {
  int volume = -1, vibrato = -1, arpeggio = -1, up = -1, down = -1, porta = -1, volslide = -1;
  int raw_command = -1, raw_param = 0;
};

enum class Kind { Note, Rest, Cut, Drum };

struct Reader {
  std::string file;
  Song song;
  std::set<std::string> known;
  std::map<char, KitEntry> kit;
  std::map<std::string, std::vector<Token>> phrases;

  [[noreturn]] void error(int line, const std::string &msg) { fail(file, line, msg); }

  int instrument_index(const std::string &name, int line) {
    if (!known.empty() && !known.count(name)) error(line, "unknown instrument '" + name + "'");
    for (size_t i = 0; i < song.instruments.size(); i++)
      if (song.instruments[i] == name) return int(i);
    song.instruments.push_back(name);
    return int(song.instruments.size() - 1);
  }

  static int hex(const std::string &s, size_t &i, int digits) {
    int v = 0;
    for (int d = 0; d < digits; d++, i++) {
      if (i >= s.size() || !std::isxdigit((unsigned char)s[i])) return -1;
      char c = char(std::tolower((unsigned char)s[i]));
      v = v * 16 + (std::isdigit((unsigned char)c) ? c - '0' : c - 'a' + 10);
    }
    return v;
  }

  // Reads ":LEN" and the effect suffixes after an event's head.
  void read_tail(const Token &t, size_t i, int &length, Suffixes &fx) {
    const std::string &s = t.text;
    if (i < s.size() && s[i] == ':') {
      i++;
      size_t b = i;
      while (i < s.size() && std::isdigit((unsigned char)s[i])) i++;
      if (b == i || i - b > 3)
        error(t.line, "'" + s + "': ':' must be followed by a length of 1 to 256 rows");
      length = std::stoi(s.substr(b, i - b));
      if (length < 1 || length > kMaxRows)
        error(t.line, "'" + s + "': length must be 1 to 256 rows");
    }
    while (i < s.size()) {
      char c = s[i++];
      int *slot = nullptr;
      switch (c) {
        case '@': {
          size_t b = i;
          while (i < s.size() && std::isdigit((unsigned char)s[i])) i++;
          if (b == i || i - b > 2) error(t.line, "'" + s + "': '@' takes a volume of 0 to 64");
          fx.volume = std::stoi(s.substr(b, i - b));
          if (fx.volume > 64) error(t.line, "'" + s + "': volume above 64");
          continue;
        }
        case '!': {
          int v = hex(s, i, 3);
          if (v < 0)
            error(t.line, "'" + s + "': '!' takes three hex digits: command and parameter");
          fx.raw_command = v >> 8;
          fx.raw_param = v & 0xFF;
          continue;
        }
        case '~': slot = &fx.vibrato; break;
        case '&': slot = &fx.arpeggio; break;
        case '/': slot = &fx.up; break;
        case '\\': slot = &fx.down; break;
        case '>': slot = &fx.porta; break;
        case '%': slot = &fx.volslide; break;
        default: error(t.line, "'" + s + "': unexpected '" + std::string(1, c) + "'");
      }
      int v = hex(s, i, 2);
      if (v < 0) error(t.line, "'" + s + "': '" + std::string(1, c) + "' takes two hex digits");
      *slot = v;
    }
  }

  // Puts one effect into a cell, refusing a second one: a cell has one command.
  void put(SongCell &cell, int command, int param, const Token &t) {
    if (cell.has_command)
      error(t.line, "'" + t.text + "': two effects fall on one row (one command per row)");
    cell.has_command = true;
    cell.command = command;
    cell.param = param;
  }

  struct Frame {
    int length = 1;  // default length of events
    int transpose = 0;
    int *instrument;  // current instrument index (-1 none), shared with the caller
  };

  void event(const Token &t, Frame &f, std::vector<SongCell> &out, int &pos) {
    const std::string &s = t.text;
    Kind kind;
    size_t i = 0;
    int pitch = 0;
    int instrument = *f.instrument;
    if (s[0] == '.') {
      kind = Kind::Rest;
      i = 1;
    } else if (s[0] == '^') {
      kind = Kind::Cut;
      i = 1;
    } else if (s[0] >= 'A' && s[0] <= 'G') {
      kind = Kind::Note;
      i = 1;
      if (i < s.size() && (s[i] == '#' || s[i] == 'b')) i++;
      if (i < s.size() && std::isdigit((unsigned char)s[i])) i++;
      if (!parse_pitch(s.substr(0, i), pitch))
        error(t.line, "'" + s + "' is not a note such as C4, F#3 or Bb5");
      pitch += f.transpose;
      if (pitch < kLowestPitch || pitch > kHighestPitch)
        error(t.line, "'" + s + "' transposed lies outside C1 to B7");
      if (instrument < 0)
        error(t.line,
              "'" + s + "': no instrument yet; name one with [name] or inst= on the channel");
    } else if (std::islower((unsigned char)s[0]) && kit.count(s[0])) {
      kind = Kind::Drum;
      i = 1;
      const KitEntry &k = kit[s[0]];
      pitch = k.pitch;
      instrument = instrument_index(k.instrument, t.line);
    } else {
      error(t.line, "'" + s + "' is not a note, rest (.), cut (^), drum letter or phrase");
    }
    int length = f.length;
    Suffixes fx;
    read_tail(t, i, length, fx);

    size_t first = out.size();
    out.resize(first + size_t(length));
    bool sounding = kind == Kind::Note || kind == Kind::Drum;
    SongCell &head = out[first];
    if (sounding) {
      head.has_note = true;
      head.pitch = pitch;
      if (fx.porta >= 0) {
        if (kind == Kind::Drum) error(t.line, "'" + s + "': a drum cannot slide");
        put(head, 3, fx.porta, t);  // the note becomes the slide's target; nothing restarts
      } else {
        head.instrument = instrument;
      }
    } else if (kind == Kind::Cut) {
      head.cut = true;
      if (fx.vibrato >= 0 || fx.arpeggio >= 0 || fx.up >= 0 || fx.down >= 0 || fx.porta >= 0 ||
          fx.volslide >= 0)
        error(t.line, "'" + s + "': a cut takes no effect but !");
    } else if (fx.porta >= 0) {
      error(t.line, "'" + s + "': '>' belongs on the note slid to");
    }
    if (fx.volume >= 0) head.volume = 0x10 + fx.volume;
    if (fx.raw_command >= 0) put(head, fx.raw_command, fx.raw_param, t);

    if (fx.porta >= 0 && fx.vibrato >= 0)
      error(t.line, "'" + s + "': a slide to a note cannot carry vibrato");
    // Vibrato and volume slides start after a new note's first row, so that the note speaks clean.
    int first_later = sounding ? 1 : 0;
    for (int r = 0; r < length; r++) {
      SongCell &c = out[first + size_t(r)];
      if (fx.arpeggio >= 0) put(c, 0, fx.arpeggio, t);
      if (fx.up >= 0) put(c, 1, fx.up, t);
      if (fx.down >= 0) put(c, 2, fx.down, t);
      if (fx.porta >= 0) {
        if (r > 0) put(c, fx.volslide >= 0 ? 5 : 3, fx.volslide >= 0 ? fx.volslide : 0, t);
      } else if (r >= first_later) {
        if (fx.vibrato >= 0 &&
            fx.volslide >= 0)  // the first row sets the vibrato, later ones add the slide
          put(c, r == first_later ? 4 : 6, r == first_later ? fx.vibrato : fx.volslide, t);
        else if (fx.vibrato >= 0)
          put(c, 4, fx.vibrato, t);
        else if (fx.volslide >= 0)
          put(c, 10, fx.volslide, t);
      }
    }
    pos += length;
  }

  // Expands tokens [b, e) into rows; `pos` counts rows from the start of this definition for
  // the bar-line checks.
  void expand(const std::vector<Token> &tokens, size_t b, size_t e, Frame f,
              std::vector<SongCell> &out, int depth) {
    if (depth > kMaxNesting)
      error(tokens[b < tokens.size() ? b : 0].line,
            "phrases nest too deeply (a phrase that uses itself?)");
    int pos = 0;
    for (size_t i = b; i < e; i++) {
      const Token &t = tokens[i];
      const std::string &s = t.text;
      if (s == "|") {
        if (song.bar > 0 && pos % song.bar != 0)
          error(t.line, "bar line after " + std::to_string(pos) +
                            " rows, which is not a whole number of " + std::to_string(song.bar) +
                            "-row bars");
      } else if (s == "(") {
        int level = 1;
        size_t j = i + 1;
        for (; j < e; j++) {
          if (tokens[j].text == "(")
            level++;
          else if (tokens[j].text[0] == ')' && --level == 0)
            break;
        }
        if (j >= e) error(t.line, "'(' without ')'");
        int times = repeat_count(tokens[j], 1);
        size_t before = out.size();
        for (int k = 0; k < times; k++) expand(tokens, i + 1, j, f, out, depth + 1);
        pos += int(out.size() - before);
        i = j;
      } else if (s[0] == ')') {
        error(t.line, "')' without '('");
      } else if (s[0] == '$') {
        size_t k = 1;
        while (k < s.size() && (std::isalnum((unsigned char)s[k]) || s[k] == '_')) k++;
        std::string name = s.substr(1, k - 1);
        auto ph = phrases.find(name);
        if (ph == phrases.end()) error(t.line, "unknown phrase '" + name + "'");
        int shift = 0, times = 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) {
          size_t d = k + 1;
          while (d < s.size() && std::isdigit((unsigned char)s[d])) d++;
          if (d == k + 1 || d - k > 3)
            error(t.line, "'" + s + "': transpose needs a number of semitones (up to 99)");
          shift = std::stoi(s.substr(k, d - k));
          k = d;
        }
        if (k < s.size() && s[k] == '*') {
          size_t d = k + 1;
          while (d < s.size() && std::isdigit((unsigned char)s[d])) d++;
          if (d == k + 1 || d - k > 3) error(t.line, "'" + s + "': repeat needs a count");
          times = std::stoi(s.substr(k + 1, d - k - 1));
          k = d;
        }
        if (k != s.size() || times < 1)
          error(t.line, "'" + s + "' is not $phrase, $phrase+N or $phrase*N");
        Frame inner;
        inner.transpose = f.transpose + shift;
        inner.instrument = f.instrument;
        size_t before = out.size();
        for (int r = 0; r < times; r++)
          expand(ph->second, 0, ph->second.size(), inner, out, depth + 1);
        pos += int(out.size() - before);
      } else if (s[0] == '[') {
        if (s.size() < 3 || s.back() != ']')
          error(t.line, "'" + s + "': instrument changes are written [name]");
        *f.instrument = instrument_index(s.substr(1, s.size() - 2), t.line);
      } else if (s[0] == ':') {
        long n;
        if (!parse_int(s.substr(1), n) || n < 1 || n > kMaxRows)
          error(t.line, "'" + s + "': default length must be 1 to 256 rows");
        f.length = int(n);
      } else {
        event(t, f, out, pos);
      }
      if (out.size() > size_t(kMaxRows) * 64) error(t.line, "far too many rows");
    }
  }

  int repeat_count(const Token &t, int fallback) {
    if (t.text == ")") return fallback;
    long n;
    if (t.text.size() < 3 || t.text[1] != '*' || !parse_int(t.text.substr(2), n) || n < 1 || n > 64)
      error(t.line, "'" + t.text + "': a group repeats as )*N with N of 1 to 64");
    return int(n);
  }

  int channel_index(const std::string &name) {
    for (size_t i = 0; i < song.channels.size(); i++)
      if (song.channels[i].name == name) return int(i);
    return -1;
  }

  long integer(const SourceLine &l, size_t w, long lo, long hi) {
    long v;
    if (w >= l.words.size() || !parse_int(l.words[w], v) || v < lo || v > hi)
      error(l.number, "'" + l.words[0] + "' takes a whole number of " + std::to_string(lo) +
                          " to " + std::to_string(hi));
    return v;
  }

  void read(const std::string &text) {
    std::vector<SourceLine> lines = read_lines(text);
    // Phrases first, so that patterns may use phrases written below them.
    std::string continuing;  // the phrase that an indented line continues
    for (const SourceLine &l : lines) {
      if (l.indented) {
        if (!continuing.empty()) {
          auto more = tokenize(l.text, l.number);
          phrases[continuing].insert(phrases[continuing].end(), more.begin(), more.end());
        }
        continue;
      }
      continuing.clear();
      if (l.words[0] != "phrase") continue;
      size_t colon = l.text.find(':');
      if (colon == std::string::npos) error(l.number, "expected 'phrase NAME: notes'");
      std::string name = l.text.substr(6, colon - 6);
      size_t b = name.find_first_not_of(" \t"), e = name.find_last_not_of(" \t");
      name = b == std::string::npos ? "" : name.substr(b, e - b + 1);
      if (name.empty()) error(l.number, "the phrase needs a name");
      for (char c : name)
        if (!std::isalnum((unsigned char)c) && c != '_')
          error(l.number, "phrase names use letters, digits and _");
      auto more = tokenize(l.text.substr(colon + 1), l.number);
      auto &dst = phrases[name];
      dst.insert(dst.end(), more.begin(), more.end());
      continuing = name;
    }

    std::map<std::string, int> pattern_index;
    struct Pending {
      int line = 0;
      std::map<int, std::vector<Token>> channels;
    };
    std::vector<Pending> pending;
    std::vector<std::pair<std::string, int>> order_names;

    std::vector<Token> *channel_line = nullptr;  // what an indented line continues
    bool after_phrase = false;
    for (const SourceLine &l : lines) {
      const std::string &key = l.words[0];
      if (l.indented) {
        if (channel_line) {
          auto more = tokenize(l.text, l.number);
          channel_line->insert(channel_line->end(), more.begin(), more.end());
        } else if (!after_phrase) {
          error(l.number,
                "an indented line continues a channel or phrase line, and none is above it");
        }
        continue;
      }
      channel_line = nullptr;
      after_phrase = key == "phrase";
      if (key == "phrase") continue;
      if (key.size() > 1 && key.back() == ':' && key.find(':') == key.size() - 1) {
        std::string cname = key.substr(0, key.size() - 1);
        int c = channel_index(cname);
        if (c < 0) error(l.number, "unknown channel '" + cname + "'");
        if (pending.empty()) error(l.number, "channel lines belong inside a pattern");
        auto more = tokenize(l.text.substr(l.text.find(':') + 1), l.number);
        auto &dst = pending.back().channels[c];
        dst.insert(dst.end(), more.begin(), more.end());
        channel_line = &dst;
        continue;
      }
      if (key == "song") {
        if (l.words.size() != 2) error(l.number, "expected song \"Name\"");
        song.name = l.words[1];
        if (song.name.size() > 2 && song.name.front() == '"' && song.name.back() == '"')
          song.name = song.name.substr(1, song.name.size() - 2);
        if (song.name.size() > 28) error(l.number, "the song name has more than 28 characters");
      } else if (key == "tempo") {
        song.tempo = int(integer(l, 1, 33, 255));
      } else if (key == "speed") {
        song.speed = int(integer(l, 1, 1, 32));
      } else if (key == "volume") {
        song.volume = int(integer(l, 1, 0, 64));
      } else if (key == "bar") {
        song.bar = int(integer(l, 1, 1, kMaxRows));
      } else if (key == "restart") {
        song.restart = int(integer(l, 1, 0, 255));
      } else if (key == "family") {
        if (l.words.size() != 2 || (l.words[1] != "xm" && l.words[1] != "mod"))
          error(l.number, "expected 'family mod' or 'family xm'");
        song.xm = l.words[1] == "xm";
      } else if (key == "channel") {
        if (l.words.size() < 2) error(l.number, "expected 'channel NAME inst=INSTRUMENT pan=N'");
        SongChannel ch;
        ch.name = l.words[1];
        if (channel_index(ch.name) >= 0)
          error(l.number, "channel '" + ch.name + "' is declared twice");
        for (const auto &[k, v] : parse_settings(file, l, 2)) {
          long n;
          if (k == "inst")
            ch.instrument = v;
          else if (k == "pan" && parse_int(v, n) && n >= 0 && n <= 255)
            ch.pan = int(n);
          else
            error(l.number,
                  "channel settings are inst=NAME and pan=0..255, not '" + k + "=" + v + "'");
        }
        if (!ch.instrument.empty() && !known.empty() && !known.count(ch.instrument))
          error(l.number, "unknown instrument '" + ch.instrument + "'");
        song.channels.push_back(ch);
        if (song.channels.size() > 64) error(l.number, "more than 64 channels");
      } else if (key == "kit") {
        if (l.words.size() < 3 || l.words.size() > 4 || l.words[1].size() != 1 ||
            !std::islower((unsigned char)l.words[1][0]))
          error(l.number, "expected 'kit LETTER INSTRUMENT [PITCH]' with a lower-case letter");
        KitEntry k;
        k.instrument = l.words[2];
        if (!known.empty() && !known.count(k.instrument))
          error(l.number, "unknown instrument '" + k.instrument + "'");
        if (l.words.size() == 4 && !parse_pitch(l.words[3], k.pitch))
          error(l.number, "'" + l.words[3] + "' is not a pitch");
        kit[l.words[1][0]] = k;
      } else if (key == "pattern") {
        if (l.words.size() < 2 || l.words.size() > 3)
          error(l.number, "expected 'pattern NAME [ROWS]'");
        if (pattern_index.count(l.words[1]))
          error(l.number, "pattern '" + l.words[1] + "' is defined twice");
        SongPattern p;
        p.name = l.words[1];
        if (l.words.size() == 3) p.rows = int(integer(l, 2, 1, kMaxRows));
        pattern_index[p.name] = int(song.patterns.size());
        song.patterns.push_back(p);
        pending.push_back({l.number, {}});
      } else if (key == "order") {
        for (size_t w = 1; w < l.words.size(); w++) order_names.push_back({l.words[w], l.number});
      } else {
        error(l.number, "unknown statement '" + key + "'");
      }
    }

    if (song.channels.empty()) error(1, "the song declares no channel");
    if (song.patterns.empty()) error(1, "the song has no pattern");
    if (order_names.empty()) error(1, "the song has no order");
    for (size_t p = 0; p < song.patterns.size(); p++) {
      SongPattern &pat = song.patterns[p];
      size_t nch = song.channels.size();
      pat.cells.assign(size_t(pat.rows) * nch, SongCell());
      for (auto &[c, tokens] : pending[p].channels) {
        int current = -1;
        if (!song.channels[size_t(c)].instrument.empty())
          current = instrument_index(song.channels[size_t(c)].instrument, pending[p].line);
        Frame f;
        f.instrument = &current;
        std::vector<SongCell> rows;
        if (!tokens.empty()) expand(tokens, 0, tokens.size(), f, rows, 0);
        if (int(rows.size()) != pat.rows)
          error(tokens.empty() ? pending[p].line : tokens.back().line,
                "pattern '" + pat.name + "' channel '" + song.channels[size_t(c)].name + "' has " +
                    std::to_string(rows.size()) + " rows, the pattern has " +
                    std::to_string(pat.rows));
        for (int r = 0; r < pat.rows; r++) pat.cells[size_t(r) * nch + size_t(c)] = rows[size_t(r)];
      }
    }
    for (auto &[name, line] : order_names) {
      auto it = pattern_index.find(name);
      if (it == pattern_index.end()) error(line, "order names unknown pattern '" + name + "'");
      song.order.push_back(it->second);
    }
    if (song.order.size() > 256) error(order_names.back().second, "more than 256 order positions");
    if (song.restart >= int(song.order.size())) error(1, "restart lies past the end of the order");
  }
};

}  // namespace

Song parse_song(const std::string &file, const std::string &text,
                const std::set<std::string> &known_instruments) {
  Reader r;
  r.file = file;
  r.known = known_instruments;
  r.song.file = file;
  r.read(text);
  return r.song;
}

double song_seconds(const Song &song) {
  double seconds = 0;
  int speed = song.speed, tempo = song.tempo;
  size_t nch = song.channels.size();
  for (int p : song.order) {
    const SongPattern &pat = song.patterns[size_t(p)];
    for (int r = 0; r < pat.rows; r++) {
      int delay = 0;
      for (size_t c = 0; c < nch; c++) {
        const SongCell &cell = pat.cells[size_t(r) * nch + c];
        if (!cell.has_command) continue;
        if (cell.command == 15 && cell.param > 0 && cell.param <= 32) speed = cell.param;
        if (cell.command == 15 && cell.param > 32) tempo = cell.param;
        if (cell.command == 14 && (cell.param >> 4) == 14) delay = cell.param & 15;
      }
      seconds += double(speed) * (1 + delay) * 2.5 / tempo;
    }
  }
  return seconds;
}

int amiga_period(int pitch) {
  int octave = 4 + (pitch >= 0 ? pitch / 12 : -((-pitch + 11) / 12));
  int semitone = pitch - (octave - 4) * 12;
  if (octave >= 2) return ((kOctavePeriods[semitone] >> (octave - 2)) + 1) / 2;
  return kOctavePeriods[semitone] << (1 - octave);
}

}  // namespace sound
