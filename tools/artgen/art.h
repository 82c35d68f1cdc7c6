// Shared pieces of the art generator: 8-bit images, the palette with its named colours and ramps,
// text pictures with legends, font rendering, and the builders of each datafile's objects.
// Everything here is deterministic: the same sources always give the same bytes.
#pragma once
#include <array>
#include <functional>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "datwriter.h"

namespace art {

// Any fault in a source file or an impossible request; main reports it and stops.
struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// An 8-bit picture in palette indices; index 0 is the floor and the transparent colour.
struct Image {
  int w = 0, h = 0;
  std::vector<uint8_t> px;

  Image() = default;
  Image(int width, int height, uint8_t fill = 0);
  uint8_t get(int x, int y) const {
    return (x < 0 || y < 0 || x >= w || y >= h) ? 0 : px[size_t(y * w + x)];
  }
  void set(int x, int y, int c) {
    if (x >= 0 && y >= 0 && x < w && y < h) px[size_t(y * w + x)] = uint8_t(c);
  }
  void fill_rect(int x0, int y0, int x1, int y1, int c);  // inclusive corners
  void hline(int x0, int x1, int y, int c) { fill_rect(x0, y, x1, y, c); }
  void vline(int x, int y0, int y1, int c) { fill_rect(x, y0, x, y1, c); }
  void rect(int x0, int y0, int x1, int y1, int c);
  // Copies `src` with its top-left corner at (dx, dy); colour 0 of src is skipped when `masked`.
  void blit(const Image &src, int dx, int dy, bool masked = true);
  Image mirrored() const;
  Image crop(int x, int y, int cw, int ch) const;
  dat::Object to_object(const std::string &name) const;
};

// A run of palette entries from dark to light.
struct Ramp {
  int first = 0, count = 1;
  int at(int i) const { return first + (i < 0 ? 0 : i >= count ? count - 1 : i); }
  // The entry for brightness t (0..1), ordered-dithered at (x, y) between neighbouring entries.
  int dither(double t, int x, int y) const;
};

struct RGB {
  uint8_t r = 0, g = 0, b = 0;  // 8-bit components as written in the source
};

class Palette {
 public:
  // Reads the palette source; every one of the 256 entries must be given exactly once.
  static Palette load(const std::string &path);
  int find(const std::string &name) const;  // named colour or "ramp.n"
  const Ramp &ramp(const std::string &name) const;
  bool has(const std::string &name) const { return index_.count(name) != 0; }
  const RGB &rgb(int i) const { return rgb_[size_t(i & 255)]; }
  dat::Object to_object(const std::string &name) const;
  // The entry closest to an 8-bit colour, for mapping anti-aliased font coverage and the like.
  int nearest(int r, int g, int b, const Ramp *within = nullptr) const;

 private:
  std::array<RGB, 256> rgb_{};
  std::map<std::string, int> index_;
  std::map<std::string, Ramp> ramps_;
};

// Text pictures: rows of symbols translated through a legend of palette names. A legend entry may
// name a role ("body.4"); roles are bound to ramps when the picture is resolved, which is how one
// drawing serves several colourways.
struct Picture {
  std::string name, legend;
  int w = 0, h = 0;
  std::vector<std::string> rows;
  std::string file;
  int line = 0;
};

struct ArtBook {
  std::map<std::string, std::map<char, std::string>> legends;
  std::map<std::string, Picture> pictures;
  std::vector<std::string> order;                    // pictures in file order
  std::vector<std::vector<std::string>> directives;  // other lines, split into words

  static ArtBook load(const std::string &path);
  const Picture &picture(const std::string &name) const;
  Image resolve(const std::string &name, const Palette &pal,
                const std::map<std::string, std::string> &roles = {}) const;
};

// Fonts rendered from TrueType files with FreeType, hinted, one bit a pixel.
struct FontSpec {
  int object = 0;
  std::string name;  // the object is named FONT_<name>
  std::string file;
  int pixels = 0;
  int spacing = 0;  // extra columns after every glyph
};
std::vector<FontSpec> load_font_specs(const std::string &path);
dat::Object render_font(const std::string &name, const std::string &ttf, int pixels, int spacing);
// Anti-aliased coverage (0..255) of a line of text, for logos; w and h receive its size.
std::vector<uint8_t> render_text_coverage(const std::string &ttf, int pixels,
                                          const std::string &text, double shear, int &w, int &h);

// Builders of the generated files. Each returns its objects in datafile order.
struct Sources {
  std::string art_dir;   // data/art
  std::string font_dir;  // folder of the TrueType files
};
std::vector<dat::Object> build_vorbel_dat(const Palette &pal, const Sources &src);
std::vector<dat::Object> build_sprites_dat(const Palette &pal, const Sources &src);
// Tile set n (0..23): walls for n < 19, balls for 19..21, decorations for 22 and 23.
std::vector<dat::Object> build_tile_set(int n, const Palette &pal, const Sources &src);
// "vorbel2.dat": the bugs' pictures, then the vorbel's, kVorbelFrames for each direction in the
// order of kVorbelDirections (the first of each run is the standing picture). The game, the map
// tools and the editor take these numbers from the header write_sprites_header writes.
constexpr int kBugPictures = 28, kVorbelFrames = 4;
constexpr const char *kVorbelDirections[] = {"RIGHT", "LEFT", "UP", "DOWN"};
constexpr int kSpriteObjects = kBugPictures + kVorbelFrames * 4;
// The text of that header (SPR_BUG_COUNT, SPR_VORBEL_FRAMES, SPR_VORBEL_<direction>, SPR_COUNT).
std::string sprites_header();
// The same pictures before they become datafile objects.
std::vector<Image> sprite_images(const Palette &pal, const Sources &src);
std::vector<Image> tile_images(int n, const Palette &pal, const Sources &src);
constexpr int kWallThemes = 19;
constexpr int kTileSets = 24;

// The 47 wall tiles of a theme (0 .. kWallThemes-1), object n drawn for WallTileNeighbours(n).
std::vector<Image> wall_set(const Palette &pal, int theme);
const char *wall_theme_name(int theme);

// Pictures shared by several builders.
Image draw_vorbel_portrait(const Palette &pal, int size);  // big shaded vorbel, size x size
Image draw_logo(const Palette &pal, const Sources &src, const std::string &text, int pixels,
                double shear);

// Contact sheet of every picture of every file, at twice the size, as a PNG.
struct SheetEntry {
  std::string file;
  std::vector<dat::Object> objects;
};
void write_sheet(const std::string &path, const Palette &pal, const std::vector<SheetEntry> &files);

// Small deterministic helpers.
uint32_t hash2(int x, int y, uint32_t seed);  // well-mixed 32-bit hash of a point
// Smooth value noise in 0..1 with lattice periods px, py (0: not periodic); tiles repeat seamlessly
// when a whole number of periods spans them.
double noise2(double x, double y, int px, int py, uint32_t seed);

}  // namespace art
