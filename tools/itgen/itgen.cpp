// itgen: writes an IT module from a readable text source (tests/render/itsongs/*.txt).
// Usage: itgen SOURCE.txt OUT.it
//
// A source is a list of lines; a word starting with '#' starts a comment. Keywords:
//   name TEXT                 song name
//   speed N / tempo N / global N / mix N      header values (speed 6, tempo 125 unless given)
//   tracker HEX               version of the tracker that wrote the file (0x214: IT 2.14)
//   macro SFx|Zxx TEXT        a MIDI macro of the song (then it carries its own, the others empty)
//   flags WORD...             linear, amiga, instruments, samples, oldfx, compatgxx (default:
//                             linear instruments)
//   sample N KIND FRAMES [loop A B] [pingpong] [sustain A B] [c5 HZ] [volume V] [global G] [bits
//   16]
//                             KIND: square, saw, sine, noise; the wave repeats every 64 frames
//   instrument N sample S [nna cut|continue|off|fade] [dct off|note|sample|instrument]
//                [dca cut|off|fade] [fadeout F] [cutoff C] [resonance R] [pan P]
//   env vol|pan|pitch|filter [loop A B] [sustain A B] T:V T:V ...   envelope of the last instrument
//   pattern N rows R          then cells: ROW CHANNEL NOTE INSTRUMENT VOLUME EFFECT
//                             NOTE: C-5, C#5, === off, ^^^ cut, ~~~ fade, ... none
//                             VOLUME: vNN set, pNN pan, or a raw column byte rNNN; . none
//                             EFFECT: letter and two hex digits (SB2 -> S B2 is written SB2), .
//                             none
//   orders N N ...            the order list (255 is added at the end); default: every pattern
// Without any sample line, sample 1 is "saw 64 loop 0 64 c5 8363", a looped saw played at C-5.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>

#include "itwriter.h"

namespace {

[[noreturn]] void fail(int line, const std::string &why) {
  std::cerr << "itgen: line " << line << ": " << why << "\n";
  std::exit(1);
}

int number(int line, const std::string &s) {
  char *end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 0);
  if (s.empty() || *end) fail(line, "not a number: " + s);
  return static_cast<int>(v);
}

// The wave of a sample kind at frame i, -1..1.
double wave(const std::string &kind, int i) {
  const double phase = (i % 64) / 64.0;
  if (kind == "square") return phase < 0.5 ? 0.8 : -0.8;
  if (kind == "saw") return 1.6 * phase - 0.8;
  if (kind == "sine") return 0.8 * std::sin(2 * M_PI * phase);
  return ((i * 1103515245 + 12345) >> 8 & 255) / 160.0 - 0.8;  // noise
}

int note_of(int line, const std::string &s) {
  if (s == "...") return -1;
  if (s == "===") return 255;
  if (s == "^^^") return 254;
  if (s == "~~~") return 253;
  static const std::string names = "C-C#D-D#E-F-F#G-G#A-A#B-";
  const size_t at = names.find(s.substr(0, 2));
  if (s.size() != 3 || at == std::string::npos || at % 2) fail(line, "not a note: " + s);
  return static_cast<int>(at / 2) + 12 * number(line, s.substr(2));
}

const std::map<std::string, int> actions{{"cut", 0}, {"continue", 1}, {"off", 2}, {"fade", 3}};
const std::map<std::string, int> checks{{"off", 0}, {"note", 1}, {"sample", 2}, {"instrument", 3}};
const std::map<std::string, int> dup_actions{{"cut", 0}, {"off", 1}, {"fade", 2}};

int pick(int line, const std::map<std::string, int> &m, const std::string &s) {
  const auto it = m.find(s);
  if (it == m.end()) fail(line, "unknown word: " + s);
  return it->second;
}

}  // namespace

// Sample N of a sample line's words, its wave written as its bytes.
itw::sample read_sample(int line, const std::vector<std::string> &w) {
  if (w.size() < 4) fail(line, "sample N KIND FRAMES ...");
  itw::sample s;
  const int frames = number(line, w[3]);
  int bits = 8;
  s.flags = 1;
  for (size_t i = 4; i < w.size(); i++) {
    if (w[i] == "loop" && i + 2 < w.size()) {
      s.flags |= 16, s.loop_start = number(line, w[i + 1]), s.loop_end = number(line, w[i + 2]),
                     i += 2;
    } else if (w[i] == "sustain" && i + 2 < w.size()) {
      s.flags |= 32, s.sustain_start = number(line, w[i + 1]),
                     s.sustain_end = number(line, w[i + 2]), i += 2;
    } else if (w[i] == "pingpong") {
      s.flags |= 64;
    } else if (i + 1 < w.size() &&
               (w[i] == "c5" || w[i] == "volume" || w[i] == "global" || w[i] == "bits")) {
      const int v = number(line, w[i + 1]);
      if (w[i] == "c5") s.c5 = v;
      if (w[i] == "volume") s.volume = v;
      if (w[i] == "global") s.global_volume = v;
      if (w[i] == "bits") bits = v;
      i++;
    } else {
      fail(line, "unknown sample word: " + w[i]);
    }
  }
  if (bits == 16) s.flags |= 2;
  s.length = frames;
  for (int k = 0; k < frames; k++) {
    const int v = static_cast<int>(std::lround(wave(w[2], k) * (bits == 16 ? 32767 : 127)));
    s.data.push_back(static_cast<uint8_t>(v));
    if (bits == 16) s.data.push_back(static_cast<uint8_t>(v >> 8));
  }
  return s;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: itgen SOURCE.txt OUT.it\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "itgen: cannot read " << argv[1] << "\n";
    return 1;
  }
  itw::song song;
  song.patterns.clear();
  song.orders.clear();
  itw::pattern *pattern = nullptr;
  std::string text;
  for (int line = 1; std::getline(in, text); line++) {
    // A comment's '#' starts a word; one inside a word is a sharp (C#5).
    for (size_t at = text.find('#'); at != std::string::npos; at = text.find('#', at + 1))
      if (at == 0 || std::isspace(static_cast<unsigned char>(text[at - 1]))) {
        text.erase(at);
        break;
      }
    std::istringstream words(text);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.empty()) continue;
    const std::string &key = w[0];
    if (key == "name") {
      song.name = text.substr(text.find("name") + 5);
    } else if (key == "speed" || key == "tempo" || key == "global" || key == "mix") {
      if (w.size() != 2) fail(line, key + " takes one number");
      int &field = key == "speed"    ? song.speed
                   : key == "tempo"  ? song.tempo
                   : key == "global" ? song.global_volume
                                     : song.mix_volume;
      field = number(line, w[1]);
    } else if (key == "macro") {
      // macro SFx TEXT or macro Zxx TEXT (xx 80..FF)
      if (w.size() < 3 || w[1].size() != 3 || (w[1][0] != 'S' && w[1][0] != 'Z'))
        fail(line, "macro takes SFx or Zxx and its text");
      const int at = w[1][0] == 'S' ? number(line, "0x" + w[1].substr(2))
                                    : 16 + number(line, "0x" + w[1].substr(1)) - 0x80;
      if (at < 0 || at >= 144) fail(line, "no such macro: " + w[1]);
      song.macros.resize(144);
      song.macros[at] = text.substr(text.find(w[2], text.find(w[1]) + 3));
    } else if (key == "tracker") {
      if (w.size() != 2) fail(line, "tracker takes one number");
      song.tracker = number(line, w[1]);
    } else if (key == "flags") {
      song.flags = 1;
      for (size_t i = 1; i < w.size(); i++) {
        static const std::map<std::string, int> bits{{"linear", 8},      {"amiga", 0},
                                                     {"instruments", 4}, {"samples", 0},
                                                     {"oldfx", 16},      {"compatgxx", 32}};
        song.flags |= pick(line, bits, w[i]);
      }
    } else if (key == "sample") {
      if (number(line, w[1]) != static_cast<int>(song.samples.size()) + 1)
        fail(line, "samples are numbered in order");
      song.samples.push_back(read_sample(line, w));
    } else if (key == "instrument") {
      if (number(line, w[1]) != static_cast<int>(song.instruments.size()) + 1)
        fail(line, "instruments are numbered in order");
      itw::instrument ins;
      for (size_t i = 2; i + 1 < w.size(); i += 2) {
        const std::string &k = w[i], &v = w[i + 1];
        if (k == "sample")
          ins.sample = number(line, v);
        else if (k == "nna")
          ins.nna = pick(line, actions, v);
        else if (k == "dct")
          ins.dct = pick(line, checks, v);
        else if (k == "dca")
          ins.dca = pick(line, dup_actions, v);
        else if (k == "fadeout")
          ins.fadeout = number(line, v);
        else if (k == "cutoff")
          ins.cutoff = number(line, v);
        else if (k == "resonance")
          ins.resonance = number(line, v);
        else if (k == "pan")
          ins.pan = number(line, v);
        else
          fail(line, "unknown instrument word: " + k);
      }
      song.instruments.push_back(ins);
    } else if (key == "env") {
      if (song.instruments.empty() || w.size() < 2) fail(line, "env needs an instrument before it");
      itw::instrument &ins = song.instruments.back();
      itw::envelope &e = w[1] == "vol" ? ins.vol : w[1] == "pan" ? ins.pan_env : ins.pitch;
      e.flags = 1 | (w[1] == "filter" ? 128 : 0);
      for (size_t i = 2; i < w.size(); i++) {
        if ((w[i] == "loop" || w[i] == "sustain") && i + 2 < w.size()) {
          const int a = number(line, w[i + 1]), b = number(line, w[i + 2]);
          if (w[i] == "loop")
            e.flags |= 2, e.loop_start = a, e.loop_end = b;
          else
            e.flags |= 4, e.sustain_start = a, e.sustain_end = b;
          i += 2;
        } else {
          const size_t colon = w[i].find(':');
          if (colon == std::string::npos) fail(line, "envelope point T:V expected: " + w[i]);
          e.points.push_back(
              {number(line, w[i].substr(0, colon)), number(line, w[i].substr(colon + 1))});
        }
      }
    } else if (key == "pattern") {
      if (w.size() != 4 || w[2] != "rows") fail(line, "pattern N rows R");
      if (number(line, w[1]) != static_cast<int>(song.patterns.size()))
        fail(line, "patterns are numbered from 0 in order");
      song.patterns.push_back(itw::pattern{});
      pattern = &song.patterns.back();
      pattern->rows = number(line, w[3]);
    } else if (key == "orders") {
      for (size_t i = 1; i < w.size(); i++) song.orders.push_back(number(line, w[i]));
    } else {
      if (!pattern || w.size() != 6)
        fail(line, "a cell is ROW CHANNEL NOTE INSTRUMENT VOLUME EFFECT");
      itw::cell c;
      c.row = number(line, w[0]);
      c.channel = number(line, w[1]);
      c.note = note_of(line, w[2]);
      c.instrument = w[3] == "." ? 0 : number(line, w[3]);
      if (w[4] != ".") {
        const int v = number(line, w[4].substr(1));
        c.volume = w[4][0] == 'v' ? v : w[4][0] == 'p' ? 128 + v : v;
      }
      if (w[5] != ".") {
        if (w[5].size() != 3 || w[5][0] < 'A' || w[5][0] > 'Z')
          fail(line, "an effect is a letter and two hex digits");
        c.command = w[5][0] - 'A' + 1;
        c.param = static_cast<int>(std::strtol(w[5].substr(1).c_str(), nullptr, 16));
      }
      if (!pattern->cells.empty() && c.row < pattern->cells.back().row)
        fail(line, "cells go in row order");
      pattern->cells.push_back(c);
    }
  }
  if (song.samples.empty())
    song.samples.push_back(
        read_sample(0, {"sample", "1", "saw", "64", "loop", "0", "64", "c5", "8363"}));
  if (song.orders.empty())
    for (size_t p = 0; p < song.patterns.size(); p++) song.orders.push_back(int(p));
  song.orders.push_back(255);
  if (song.instruments.empty()) song.flags &= ~4;
  const itw::bytes b = itw::build(song);
  FILE *f = std::fopen(argv[2], "wb");
  if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0) {
    std::cerr << "itgen: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
