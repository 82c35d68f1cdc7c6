// Writer of Allegro 4 datafiles. The layout (magic, object count, optional "prop" chunks, type id,
// stored size, unpacked size, body; all big-endian) is the one Allegro's load_datafile reads.
#include "datwriter.h"

#include <cstdio>

namespace dat {
namespace {

// Allegro's magic numbers: whole-file packed / unpacked, the root datafile, a property chunk.
constexpr uint32_t F_PACK_MAGIC = 0x736C6821;    // "slh!"
constexpr uint32_t F_NOPACK_MAGIC = 0x736C682E;  // "slh."
constexpr uint32_t DAT_MAGIC = id("ALL.");
constexpr uint32_t PROP_MAGIC = id("prop");
constexpr uint32_t PROP_NAME = id("NAME");

void put16(std::vector<uint8_t>& out, int v) {
  out.push_back(uint8_t((v >> 8) & 0xFF));
  out.push_back(uint8_t(v & 0xFF));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 24));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// Allegro's LZSS stream: one flag byte per eight items, bit set = literal byte. Writing every
// byte as a literal is a valid stream that any reader expands; the packed form is about size on
// disk only, and our files are small.
std::vector<uint8_t> lzss_literals(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  out.reserve(in.size() + in.size() / 8 + 1);
  for (size_t i = 0; i < in.size(); i += 8) {
    size_t n = in.size() - i < 8 ? in.size() - i : 8;
    out.push_back(uint8_t((1u << n) - 1));
    out.insert(out.end(), in.begin() + long(i), in.begin() + long(i + n));
  }
  return out;
}

}  // namespace

Object make_bitmap(const std::string& name, int w, int h, const std::vector<uint8_t>& pixels) {
  Object o{TYPE_BITMAP, {}, name};
  put16(o.data, 8);
  put16(o.data, w);
  put16(o.data, h);
  o.data.insert(o.data.end(), pixels.begin(), pixels.begin() + long(size_t(w) * size_t(h)));
  return o;
}

Object make_palette(const std::string& name, const std::vector<uint8_t>& rgb) {
  Object o{TYPE_PALETTE, {}, name};
  for (int i = 0; i < 256; i++) {
    for (int c = 0; c < 3; c++) o.data.push_back(uint8_t(rgb[size_t(i * 3 + c)] & 63));
    o.data.push_back(0);  // padding byte of each entry
  }
  return o;
}

Object make_font(const std::string& name, int first, const std::vector<Glyph>& glyphs, bool mono) {
  Object o{TYPE_FONT, {}, name};
  put16(o.data, 0);  // the range-based font layout
  put16(o.data, 1);  // one range
  o.data.push_back(mono ? 1 : 8);
  put32(o.data, uint32_t(first));
  put32(o.data, uint32_t(first + int(glyphs.size()) - 1));
  for (const Glyph& g : glyphs) {
    put16(o.data, g.w);
    put16(o.data, g.h);
    if (mono) {
      // One bit a pixel, most significant first, each row padded to whole bytes.
      int stride = (g.w + 7) / 8;
      for (int y = 0; y < g.h; y++) {
        for (int b = 0; b < stride; b++) {
          uint8_t byte = 0;
          for (int bit = 0; bit < 8; bit++) {
            int x = b * 8 + bit;
            if (x < g.w && g.pixels[size_t(y * g.w + x)]) byte |= uint8_t(0x80 >> bit);
          }
          o.data.push_back(byte);
        }
      }
    } else {
      o.data.insert(o.data.end(), g.pixels.begin(), g.pixels.begin() + long(g.w * g.h));
    }
  }
  return o;
}

Object make_sample8(const std::string& name, int freq, const std::vector<uint8_t>& data) {
  Object o{TYPE_SAMPLE, {}, name};
  put16(o.data, 8);
  put16(o.data, freq);
  put32(o.data, uint32_t(data.size()));
  append(o.data, data);
  return o;
}

Object make_sample16(const std::string& name, int freq, const std::vector<int16_t>& data) {
  Object o{TYPE_SAMPLE, {}, name};
  put16(o.data, 16);
  put16(o.data, freq);
  put32(o.data, uint32_t(data.size()));
  // Allegro keeps 16-bit samples unsigned and reads each word little-endian.
  for (int16_t s : data) {
    uint16_t u = uint16_t(uint16_t(s) ^ 0x8000);
    o.data.push_back(uint8_t(u & 0xFF));
    o.data.push_back(uint8_t(u >> 8));
  }
  return o;
}

Object make_raw(const std::string& name, uint32_t type, const std::vector<uint8_t>& data) {
  return Object{type, data, name};
}

std::vector<uint8_t> build_datafile(const std::vector<Object>& objects, bool packed) {
  std::vector<uint8_t> body;
  put32(body, DAT_MAGIC);
  put32(body, uint32_t(objects.size()));
  for (const Object& o : objects) {
    if (!o.name.empty()) {
      put32(body, PROP_MAGIC);
      put32(body, PROP_NAME);
      put32(body, uint32_t(o.name.size()));
      body.insert(body.end(), o.name.begin(), o.name.end());
    }
    put32(body, o.type);
    put32(body, uint32_t(o.data.size()));
    put32(body, uint32_t(o.data.size()));
    append(body, o.data);
  }
  std::vector<uint8_t> file;
  put32(file, packed ? F_PACK_MAGIC : F_NOPACK_MAGIC);
  append(file, packed ? lzss_literals(body) : body);
  return file;
}

bool write_datafile(const std::string& path, const std::vector<Object>& objects, bool packed) {
  std::vector<uint8_t> bytes = build_datafile(objects, packed);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "error writing %s\n", path.c_str());
  return ok;
}

}  // namespace dat
