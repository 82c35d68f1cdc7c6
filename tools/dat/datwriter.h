// Writer of Allegro 4 datafiles (packed "slh!" and unpacked "slh."), used by every data generator.
// Objects are built in memory with the make_* helpers and written in one go; all numbers in the
// file are big-endian as Allegro's loader expects.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace dat {

// Four-character type id, as Allegro's DAT_ID("BMP ").
constexpr uint32_t id(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

constexpr uint32_t TYPE_BITMAP = id("BMP ");
constexpr uint32_t TYPE_FONT = id("FONT");
constexpr uint32_t TYPE_PALETTE = id("PAL ");
constexpr uint32_t TYPE_SAMPLE = id("SAMP");
constexpr uint32_t TYPE_DATA = id("DATA");

struct Object {
  uint32_t type = TYPE_DATA;
  std::vector<uint8_t> data;  // the object's body exactly as stored (uncompressed)
  std::string name;           // written as a "NAME" property when not empty
};

// An 8-bit bitmap; pixels row by row, w*h palette indices.
Object make_bitmap(const std::string &name, int w, int h, const std::vector<uint8_t> &pixels);

// A 256-entry palette; rgb holds 768 components of 0..63 (Allegro's 6-bit DAC range).
Object make_palette(const std::string &name, const std::vector<uint8_t> &rgb);

// One glyph of a font: w*h pixels, 0 transparent, nonzero drawn (mono) or a colour index.
struct Glyph {
  int w = 0, h = 0;
  std::vector<uint8_t> pixels;
};
// A font of one range of characters starting at `first`. Mono fonts take the text colour when
// drawn; colour fonts keep their own palette indices.
Object make_font(const std::string &name, int first, const std::vector<Glyph> &glyphs, bool mono);

// A mono 8-bit (unsigned, 128 = silence) or 16-bit (signed) sample at `freq` Hz.
Object make_sample8(const std::string &name, int freq, const std::vector<uint8_t> &data);
Object make_sample16(const std::string &name, int freq, const std::vector<int16_t> &data);

// Raw bytes of any custom type.
Object make_raw(const std::string &name, uint32_t type, const std::vector<uint8_t> &data);

// The whole file image. `packed` selects Allegro's LZSS-compressed form.
std::vector<uint8_t> build_datafile(const std::vector<Object> &objects, bool packed);

// Writes the file; false (with a message on stderr) when it cannot be written.
bool write_datafile(const std::string &path, const std::vector<Object> &objects,
                    bool packed = false);

// The index header of a datafile, as a datafile grabber writes one: a #define per object,
// `prefix` + the object's name in capitals, with its index and type, and `prefix` + "COUNT" with
// the number of objects. A program that includes it addresses the objects by these names, so the
// generator's order is the only list. Objects without a name, or with a name that is not a C
// identifier, are refused (an empty string is returned and `error` says why).
std::string index_header(const std::string &file, const std::string &prefix,
                         const std::vector<Object> &objects, std::string &error);

// Writes the index header, leaving the file untouched (and its time stamp with it) when it
// already holds the same text, so the program that includes it is rebuilt only when an index
// changes. False, with a message on stderr, on any failure.
bool write_index_header(const std::string &path, const std::string &file, const std::string &prefix,
                        const std::vector<Object> &objects);

// Writes a generated header's text the same way: a file that already holds it is left alone.
bool write_header_text(const std::string &path, const std::string &text);

}  // namespace dat
