// Line splitting, word and number parsing shared by the instrument, effect and song readers.
#include "source.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sound {

std::vector<SourceLine> read_lines(const std::string &text) {
  std::vector<SourceLine> lines;
  std::istringstream in(text);
  std::string raw;
  int number = 0;
  while (std::getline(in, raw)) {
    number++;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    SourceLine line;
    line.number = number;
    line.indented = !raw.empty() && (raw[0] == ' ' || raw[0] == '\t');
    std::string kept;
    std::string word;
    bool quoted = false, in_word = false;
    for (char c : raw) {
      if (c == '"') {
        quoted = !quoted;
        in_word = true;
        kept += c;
        continue;
      }
      if (c == '#' && !quoted && !in_word) break;  // F#4 is a pitch, not a comment
      kept += c;
      if (!quoted && std::isspace((unsigned char)c)) {
        if (in_word) line.words.push_back(word);
        word.clear();
        in_word = false;
      } else {
        word += c;
        in_word = true;
      }
    }
    if (in_word) line.words.push_back(word);
    size_t b = kept.find_first_not_of(" \t");
    if (b == std::string::npos) continue;
    size_t e = kept.find_last_not_of(" \t");
    line.text = kept.substr(b, e - b + 1);
    lines.push_back(line);
  }
  return lines;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SourceError(path + ": cannot be read");
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void fail(const std::string &file, int line, const std::string &message) {
  throw SourceError(file + ":" + std::to_string(line) + ": " + message);
}

bool parse_number(const std::string &word, double &value) {
  if (word.empty()) return false;
  const char *s = word.c_str();
  char *end = nullptr;
  errno = 0;
  double v = std::strtod(s, &end);
  if (end == s || *end != '\0' || errno != 0 || !(v == v)) return false;
  value = v;
  return true;
}

bool parse_int(const std::string &word, long &value) {
  if (word.empty()) return false;
  const char *s = word.c_str();
  char *end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s || *end != '\0' || errno != 0) return false;
  value = v;
  return true;
}

std::map<std::string, std::string> parse_settings(const std::string &file, const SourceLine &line,
                                                  size_t first) {
  std::map<std::string, std::string> out;
  for (size_t i = first; i < line.words.size(); i++) {
    const std::string &w = line.words[i];
    size_t eq = w.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == w.size())
      fail(file, line.number, "expected key=value, found '" + w + "'");
    std::string key = w.substr(0, eq);
    if (out.count(key)) fail(file, line.number, "'" + key + "' is given twice");
    out[key] = w.substr(eq + 1);
  }
  return out;
}

bool parse_pitch(const std::string &word, int &semitones) {
  static const int kStep[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G from C
  if (word.size() < 2 || word.size() > 3) return false;
  char letter = word[0];
  if (letter < 'A' || letter > 'G') return false;
  int s = kStep[letter - 'A'];
  size_t i = 1;
  if (word[i] == '#') {
    s++;
    i++;
  } else if (word[i] == 'b') {
    s--;
    i++;
  }
  if (i + 1 != word.size() || !std::isdigit((unsigned char)word[i])) return false;
  int octave = word[i] - '0';
  semitones = (octave - 4) * 12 + s;
  return true;
}

}  // namespace sound
