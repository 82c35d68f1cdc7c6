// Reading the readable sound sources of data/sounds: lines with comments stripped, words,
// key=value settings and numbers, with every complaint naming the file and line.
#pragma once
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace sound {

// A mistake in a source file (or an impossible request), with the place it was found.
class SourceError : public std::runtime_error {
 public:
  explicit SourceError(const std::string &message) : std::runtime_error(message) {}
};

struct SourceLine {
  int number = 0;                  // 1-based line number in the file
  bool indented = false;           // starts with a blank: continues the block above
  std::string text;                // the line without its comment and surrounding blanks
  std::vector<std::string> words;  // blank-separated; "quoted text" stays one word, quotes removed
};

// Splits a file's text into its non-empty lines. A '#' that begins a word (outside quotes)
// starts a comment; inside a word, as in F#4, it is part of the word.
std::vector<SourceLine> read_lines(const std::string &text);

// Reads a whole file; throws SourceError when it cannot be read.
std::string read_file(const std::string &path);

// "file:line: message"
[[noreturn]] void fail(const std::string &file, int line, const std::string &message);

// Strict number parsing: the whole word must be the number.
bool parse_number(const std::string &word, double &value);
bool parse_int(const std::string &word, long &value);

// key=value words from `first` on; a word without '=' or a repeated key is an error.
std::map<std::string, std::string> parse_settings(const std::string &file, const SourceLine &line,
                                                  size_t first);

// A pitch name such as C4, F#3 or Bb5: returns semitones from C4, or false when `word` is not one.
bool parse_pitch(const std::string &word, int &semitones_from_c4);

}  // namespace sound
