// Writer of Allegro 4 datafiles. The layout (magic, object count, optional "prop" chunks, type id,
// stored size, unpacked size, body; all big-endian) is the one Allegro's load_datafile reads.
#include "datwriter.h"

#include <cctype>
#include <cstdio>

namespace dat {
namespace {

// Allegro's magic numbers: whole-file packed / unpacked, the root datafile, a property chunk.
constexpr uint32_t F_PACK_MAGIC = 0x736C6821;    // "slh!"
constexpr uint32_t F_NOPACK_MAGIC = 0x736C682E;  // "slh."
constexpr uint32_t DAT_MAGIC = id("ALL.");
constexpr uint32_t PROP_MAGIC = id("prop");
constexpr uint32_t PROP_NAME = id("NAME");

void put16(std::vector<uint8_t> &out, int v) {
  out.push_back(uint8_t((v >> 8) & 0xFF));
  out.push_back(uint8_t(v & 0xFF));
}

void put32(std::vector<uint8_t> &out, uint32_t v) {
  out.push_back(uint8_t(v >> 24));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}

void append(std::vector<uint8_t> &out, const std::vector<uint8_t> &more) {
  out.insert(out.end(), more.begin(), more.end());
}

// Allegro's LZSS stream: one flag byte per eight items, bit set = literal byte. Writing every
// byte as a literal is a valid stream that any reader expands; the packed form is about size on
// disk only, and our files are small.
std::vector<uint8_t> lzss_literals(const std::vector<uint8_t> &in) {
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

Object make_bitmap(const std::string &name, int w, int h, const std::vector<uint8_t> &pixels) {
  Object o{TYPE_BITMAP, {}, name};
  put16(o.data, 8);
  put16(o.data, w);
  put16(o.data, h);
  o.data.insert(o.data.end(), pixels.begin(), pixels.begin() + long(size_t(w) * size_t(h)));
  return o;
}

Object make_palette(const std::string &name, const std::vector<uint8_t> &rgb) {
  Object o{TYPE_PALETTE, {}, name};
  for (int i = 0; i < 256; i++) {
    for (int c = 0; c < 3; c++) o.data.push_back(uint8_t(rgb[size_t(i * 3 + c)] & 63));
    o.data.push_back(0);  // padding byte of each entry
  }
  return o;
}

Object make_font(const std::string &name, int first, const std::vector<Glyph> &glyphs, bool mono) {
  Object o{TYPE_FONT, {}, name};
  put16(o.data, 0);  // the range-based font layout
  put16(o.data, 1);  // one range
  o.data.push_back(mono ? 1 : 8);
  put32(o.data, uint32_t(first));
  put32(o.data, uint32_t(first + int(glyphs.size()) - 1));
  for (const Glyph &g : glyphs) {
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

Object make_sample8(const std::string &name, int freq, const std::vector<uint8_t> &data) {
  Object o{TYPE_SAMPLE, {}, name};
  put16(o.data, 8);
  put16(o.data, freq);
  put32(o.data, uint32_t(data.size()));
  append(o.data, data);
  return o;
}

Object make_sample16(const std::string &name, int freq, const std::vector<int16_t> &data) {
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

Object make_raw(const std::string &name, uint32_t type, const std::vector<uint8_t> &data) {
  return Object{type, data, name};
}

std::vector<uint8_t> build_datafile(const std::vector<Object> &objects, bool packed) {
  std::vector<uint8_t> body;
  put32(body, DAT_MAGIC);
  put32(body, uint32_t(objects.size()));
  for (const Object &o : objects) {
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

bool write_datafile(const std::string &path, const std::vector<Object> &objects, bool packed) {
  std::vector<uint8_t> bytes = build_datafile(objects, packed);
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "error writing %s\n", path.c_str());
  return ok;
}

namespace {

bool c_identifier(const std::string &s) {
  if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  return true;
}

std::string type_text(uint32_t type) {
  std::string t;
  for (int shift = 24; shift >= 0; shift -= 8) t += char((type >> shift) & 0xFF);
  return t;
}

}  // namespace

std::string index_header(const std::string &file, const std::string &prefix,
                         const std::vector<Object> &objects, std::string &error) {
  std::string guard;
  for (char c : file)
    guard += std::isalnum(static_cast<unsigned char>(c)) ? char(std::toupper(c)) : '_';
  std::string h = "/* Objects of \"" + file + "\": generated with the datafile, do not edit. */\n";
  h += "#ifndef " + guard + "_INDEX_H\n#define " + guard + "_INDEX_H\n\n";
  std::vector<std::string> seen;
  for (size_t i = 0; i < objects.size(); i++) {
    std::string name = prefix;
    for (char c : objects[i].name) name += char(std::toupper(static_cast<unsigned char>(c)));
    if (objects[i].name.empty() || !c_identifier(name)) {
      error = file + ": object " + std::to_string(i) + " has no name usable in a header (\"" +
              objects[i].name + "\")";
      return "";
    }
    for (const std::string &s : seen)
      if (s == name) {
        error = file + ": two objects are named " + name;
        return "";
      }
    seen.push_back(name);
    char line[160];
    std::snprintf(line, sizeof line, "#define %-32s %3zu /* %s */\n", name.c_str(), i,
                  type_text(objects[i].type).c_str());
    h += line;
  }
  h += "\n#define " + prefix + "COUNT " + std::to_string(objects.size()) + "\n\n#endif\n";
  return h;
}

bool write_index_header(const std::string &path, const std::string &file, const std::string &prefix,
                        const std::vector<Object> &objects) {
  std::string error;
  std::string text = index_header(file, prefix, objects, error);
  if (text.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  return write_header_text(path, text);
}

bool write_header_text(const std::string &path, const std::string &text) {
  if (FILE *old = std::fopen(path.c_str(), "rb")) {
    std::string have;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, old)) > 0) have.append(buf, n);
    std::fclose(old);
    if (have == text) return true;
  }
  FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "error writing %s\n", path.c_str());
  return ok;
}

}  // namespace dat
