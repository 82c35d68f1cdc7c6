// Core of the art generator: images, the palette source reader, text pictures and noise.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "art.h"

namespace art {

namespace {

// 4x4 ordered-dither thresholds (Bayer), the classic 256-colour way of showing a smooth ramp.
const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

std::vector<std::string> split_words(const std::string &line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  std::string w;
  while (in >> w) {
    // A comment starts at a lone '#' or at a '#' that opens the line; "#rrggbb" is a colour.
    if (w[0] == '#' && (w.size() == 1 || words.empty())) break;
    words.push_back(w);
  }
  return words;
}

std::string where(const std::string &file, int line) {
  return file + ":" + std::to_string(line) + ": ";
}

RGB parse_colour(const std::string &s, const std::string &at) {
  if (s.size() != 7 || s[0] != '#')
    throw Error(at + "colour must be written #rrggbb, not '" + s + "'");
  unsigned v = 0;
  for (size_t i = 1; i < 7; i++) {
    char c = char(std::tolower(static_cast<unsigned char>(s[i])));
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (d < 0) throw Error(at + "bad hex digit in '" + s + "'");
    v = v * 16 + unsigned(d);
  }
  return RGB{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

int parse_int(const std::string &s, const std::string &at) {
  try {
    size_t used = 0;
    int v = std::stoi(s, &used);
    if (used != s.size()) throw Error(at + "not a number: '" + s + "'");
    return v;
  } catch (const std::logic_error &) {
    throw Error(at + "not a number: '" + s + "'");
  }
}

}  // namespace

// ---- images ------------------------------------------------------------------------------------

Image::Image(int width, int height, uint8_t fill) : w(width), h(height) {
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096)
    throw Error("image size out of range");
  px.assign(size_t(w) * size_t(h), fill);
}

void Image::fill_rect(int x0, int y0, int x1, int y1, int c) {
  if (x0 > x1) std::swap(x0, x1);
  if (y0 > y1) std::swap(y0, y1);
  for (int y = std::max(0, y0); y <= std::min(h - 1, y1); y++)
    for (int x = std::max(0, x0); x <= std::min(w - 1, x1); x++) px[size_t(y * w + x)] = uint8_t(c);
}

void Image::rect(int x0, int y0, int x1, int y1, int c) {
  hline(x0, x1, y0, c);
  hline(x0, x1, y1, c);
  vline(x0, y0, y1, c);
  vline(x1, y0, y1, c);
}

void Image::blit(const Image &src, int dx, int dy, bool masked) {
  for (int y = 0; y < src.h; y++)
    for (int x = 0; x < src.w; x++) {
      uint8_t c = src.px[size_t(y * src.w + x)];
      if (!masked || c) set(dx + x, dy + y, c);
    }
}

Image Image::mirrored() const {
  Image m(w, h);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) m.px[size_t(y * w + x)] = px[size_t(y * w + (w - 1 - x))];
  return m;
}

Image Image::crop(int x0, int y0, int cw, int ch) const {
  Image c(cw, ch);
  for (int y = 0; y < ch; y++)
    for (int x = 0; x < cw; x++) c.set(x, y, get(x0 + x, y0 + y));
  return c;
}

dat::Object Image::to_object(const std::string &name) const {
  return dat::make_bitmap(name, w, h, px);
}

int Ramp::dither(double t, int x, int y) const {
  if (!(t > 0)) t = 0;  // also catches NaN
  if (t > 1) t = 1;
  double v = t * (count - 1);
  int base = int(std::floor(v));
  double frac = v - base;
  int threshold = kBayer[y & 3][x & 3];
  return at(base + (frac * 16.0 > threshold + 0.5 ? 1 : 0));
}

// ---- palette -----------------------------------------------------------------------------------

Palette Palette::load(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw Error("cannot open palette source " + path);
  Palette p;
  std::array<bool, 256> given{};
  auto claim = [&](int i, const std::string &name, RGB c, const std::string &at) {
    if (i < 0 || i > 255) throw Error(at + "index " + std::to_string(i) + " is outside 0..255");
    if (given[size_t(i)]) throw Error(at + "index " + std::to_string(i) + " is given twice");
    if (p.index_.count(name)) throw Error(at + "name '" + name + "' is used twice");
    given[size_t(i)] = true;
    p.rgb_[size_t(i)] = c;
    p.index_[name] = i;
  };
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    n++;
    auto w = split_words(line);
    if (w.empty()) continue;
    std::string at = where(path, n);
    if (w[0] == "ramp") {
      if (w.size() < 6)
        throw Error(at + "a ramp needs: ramp <first> <count> <name> <two or more colours>");
      int first = parse_int(w[1], at), count = parse_int(w[2], at);
      if (count < 2 || first < 0 || first + count > 256)
        throw Error(at + "ramp does not fit in 0..255");
      std::vector<RGB> stops;
      for (size_t i = 4; i < w.size(); i++) stops.push_back(parse_colour(w[i], at));
      for (int k = 0; k < count; k++) {
        double pos = double(k) / (count - 1) * double(stops.size() - 1);
        size_t s = std::min(stops.size() - 2, size_t(pos));
        double f = pos - double(s);
        auto mix = [&](uint8_t a, uint8_t b) { return uint8_t(std::lround(a + (b - a) * f)); };
        RGB c{mix(stops[s].r, stops[s + 1].r), mix(stops[s].g, stops[s + 1].g),
              mix(stops[s].b, stops[s + 1].b)};
        claim(first + k, w[3] + "." + std::to_string(k), c, at);
      }
      if (p.ramps_.count(w[3])) throw Error(at + "ramp '" + w[3] + "' is defined twice");
      p.ramps_[w[3]] = Ramp{first, count};
    } else {
      if (w.size() != 3) throw Error(at + "expected: <index> <name> <#rrggbb>");
      claim(parse_int(w[0], at), w[1], parse_colour(w[2], at), at);
    }
  }
  for (int i = 0; i < 256; i++)
    if (!given[size_t(i)])
      throw Error(path + ": palette entry " + std::to_string(i) + " is not given");
  return p;
}

int Palette::find(const std::string &name) const {
  auto it = index_.find(name);
  if (it == index_.end()) throw Error("no colour named '" + name + "' in the palette");
  return it->second;
}

const Ramp &Palette::ramp(const std::string &name) const {
  auto it = ramps_.find(name);
  if (it == ramps_.end()) throw Error("no ramp named '" + name + "' in the palette");
  return it->second;
}

dat::Object Palette::to_object(const std::string &name) const {
  std::vector<uint8_t> six;
  for (const RGB &c : rgb_)
    for (uint8_t v : {c.r, c.g, c.b}) six.push_back(uint8_t((v * 63 + 127) / 255));
  return dat::make_palette(name, six);
}

int Palette::nearest(int r, int g, int b, const Ramp *within) const {
  int lo = within ? within->first : 1, hi = within ? within->first + within->count - 1 : 255;
  int best = lo;
  long best_d = -1;
  for (int i = lo; i <= hi; i++) {
    const RGB &c = rgb_[size_t(i)];
    // Weighted distance: the eye is most sensitive to green, least to blue.
    long dr = c.r - r, dg = c.g - g, db = c.b - b;
    long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
    if (best_d < 0 || d < best_d) best_d = d, best = i;
  }
  return best;
}

// ---- text pictures -----------------------------------------------------------------------------

ArtBook ArtBook::load(const std::string &path) {
  std::ifstream in(path);
  if (!in) throw Error("cannot open art source " + path);
  ArtBook book;
  std::string line;
  int n = 0;
  enum { kTop, kLegend, kPicture } mode = kTop;
  std::string current;
  Picture pic;
  while (std::getline(in, line)) {
    n++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string at = where(path, n);
    if (mode == kPicture) {
      if (line == "end") {
        if (pic.rows.empty()) throw Error(at + "picture '" + pic.name + "' has no rows");
        pic.h = int(pic.rows.size());
        book.pictures[pic.name] = pic;
        book.order.push_back(pic.name);
        mode = kTop;
        continue;
      }
      if (!pic.rows.empty() && int(line.size()) != pic.w)
        throw Error(at + "row of " + std::to_string(line.size()) + " symbols in picture '" +
                    pic.name + "', the first row has " + std::to_string(pic.w));
      if (pic.rows.empty()) pic.w = int(line.size());
      if (pic.w == 0) throw Error(at + "empty row in picture '" + pic.name + "'");
      pic.rows.push_back(line);
      continue;
    }
    auto w = split_words(line);
    if (w.empty()) continue;
    if (mode == kLegend) {
      if (w[0] == "end") {
        mode = kTop;
        continue;
      }
      if (w.size() != 2 || w[0].size() != 1)
        throw Error(at + "legend lines are: <symbol> <colour name>");
      auto &legend = book.legends[current];
      if (legend.count(w[0][0])) throw Error(at + "symbol '" + w[0] + "' is given twice");
      legend[w[0][0]] = w[1];
      continue;
    }
    if (w[0] == "legend") {
      if (w.size() != 2) throw Error(at + "expected: legend <name>");
      current = w[1];
      if (book.legends.count(current))
        throw Error(at + "legend '" + current + "' is defined twice");
      book.legends[current];
      mode = kLegend;
    } else if (w[0] == "picture") {
      if (w.size() != 3) throw Error(at + "expected: picture <name> <legend>");
      if (book.pictures.count(w[1])) throw Error(at + "picture '" + w[1] + "' is defined twice");
      if (!book.legends.count(w[2])) throw Error(at + "unknown legend '" + w[2] + "'");
      pic = Picture{};
      pic.name = w[1];
      pic.legend = w[2];
      pic.file = path;
      pic.line = n;
      mode = kPicture;
    } else {
      book.directives.push_back(w);
    }
  }
  if (mode != kTop) throw Error(path + ": file ends inside a legend or picture");
  return book;
}

const Picture &ArtBook::picture(const std::string &name) const {
  auto it = pictures.find(name);
  if (it == pictures.end()) throw Error("no picture named '" + name + "'");
  return it->second;
}

Image ArtBook::resolve(const std::string &name, const Palette &pal,
                       const std::map<std::string, std::string> &roles) const {
  const Picture &p = picture(name);
  const auto &legend = legends.at(p.legend);
  // Only the symbols the picture uses are looked up, so a colourway binds just the roles it needs.
  std::map<char, int> colour;
  for (const std::string &row : p.rows)
    for (char sym : row) {
      if (colour.count(sym)) continue;
      auto entry = legend.find(sym);
      if (entry == legend.end()) continue;  // reported with its row below
      const std::string &cname = entry->second;
      std::string full = cname;
      size_t dot = cname.find('.');
      if (dot != std::string::npos) {
        auto r = roles.find(cname.substr(0, dot));
        if (r != roles.end()) full = r->second + cname.substr(dot);
      }
      try {
        colour[sym] = pal.find(full);
      } catch (const Error &e) {
        throw Error(where(p.file, p.line) + "picture '" + name + "', symbol '" +
                    std::string(1, sym) + "': " + e.what());
      }
    }
  Image img(p.w, p.h);
  for (int y = 0; y < p.h; y++)
    for (int x = 0; x < p.w; x++) {
      char s = p.rows[size_t(y)][size_t(x)];
      auto it = colour.find(s);
      if (it == colour.end())
        throw Error(where(p.file, p.line + 1 + y) + "symbol '" + std::string(1, s) +
                    "' is not in legend '" + p.legend + "'");
      img.set(x, y, it->second);
    }
  return img;
}

// ---- noise -------------------------------------------------------------------------------------

uint32_t hash2(int x, int y, uint32_t seed) {
  uint32_t h = seed * 0x9E3779B1u ^ uint32_t(x) * 0x85EBCA77u ^ uint32_t(y) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

double noise2(double x, double y, int px, int py, uint32_t seed) {
  auto wrap = [](int v, int p) { return p > 0 ? ((v % p) + p) % p : v; };
  int x0 = int(std::floor(x)), y0 = int(std::floor(y));
  double fx = x - x0, fy = y - y0;
  auto val = [&](int xi, int yi) {
    return (hash2(wrap(xi, px), wrap(yi, py), seed) & 0xFFFF) / 65535.0;
  };
  auto smooth = [](double t) { return t * t * (3 - 2 * t); };
  double sx = smooth(fx), sy = smooth(fy);
  double a = val(x0, y0) + (val(x0 + 1, y0) - val(x0, y0)) * sx;
  double b = val(x0, y0 + 1) + (val(x0 + 1, y0 + 1) - val(x0, y0 + 1)) * sx;
  return a + (b - a) * sy;
}

}  // namespace art
