// vorbel2.dat: the actor pictures. Objects 0..27 are the bugs, 28..43 the vorbel, all 20x20 with
// colour 0 transparent, drawn from the text pictures in data/art/sprites.
#include <cstdio>
#include <map>

#include "art.h"

namespace art {

namespace {

constexpr int kBugs = kBugPictures, kActors = kSpriteObjects, kSize = 20;

// Reads "object <index> <picture> [mirror] [role=ramp ...]" lines of a book into `slots`.
void place_objects(const ArtBook &book, const Palette &pal, const std::string &what, int lo, int hi,
                   std::vector<Image> &slots, std::vector<bool> &given) {
  for (const auto &d : book.directives) {
    if (d.size() < 3 || d[0] != "object")
      throw Error(what + ": expected: object <index> <picture> ...");
    int index = -1;
    try {
      index = std::stoi(d[1]);
    } catch (const std::logic_error &) {
    }
    if (index < lo || index > hi)
      throw Error(what + ": object " + d[1] + " is outside " + std::to_string(lo) + ".." +
                  std::to_string(hi));
    if (given[size_t(index)]) throw Error(what + ": object " + d[1] + " is given twice");
    bool mirror = false;
    std::map<std::string, std::string> roles;
    for (size_t i = 3; i < d.size(); i++) {
      if (d[i] == "mirror") {
        mirror = true;
        continue;
      }
      size_t eq = d[i].find('=');
      if (eq == std::string::npos || eq == 0)
        throw Error(what + ": object " + d[1] + ": '" + d[i] + "' is not role=ramp");
      roles[d[i].substr(0, eq)] = d[i].substr(eq + 1);
    }
    Image img = book.resolve(d[2], pal, roles);
    if (img.w != kSize || img.h != kSize) throw Error(what + ": picture " + d[2] + " is not 20x20");
    slots[size_t(index)] = mirror ? img.mirrored() : img;
    given[size_t(index)] = true;
  }
}

}  // namespace

std::vector<Image> sprite_images(const Palette &pal, const Sources &src) {
  std::vector<Image> slots(static_cast<size_t>(kActors));
  std::vector<bool> given(static_cast<size_t>(kActors), false);
  place_objects(ArtBook::load(src.art_dir + "/sprites/bugs.txt"), pal, "bugs.txt", 0, kBugs - 1,
                slots, given);
  place_objects(ArtBook::load(src.art_dir + "/sprites/vorbel.txt"), pal, "vorbel.txt", kBugs,
                kActors - 1, slots, given);
  for (int i = 0; i < kActors; i++)
    if (!given[size_t(i)])
      throw Error("vorbel2.dat: object " + std::to_string(i) + " has no picture");
  return slots;
}

std::vector<dat::Object> build_sprites_dat(const Palette &pal, const Sources &src) {
  std::vector<Image> slots = sprite_images(pal, src);
  std::vector<dat::Object> objects;
  for (int i = 0; i < kActors; i++)
    objects.push_back(
        slots[size_t(i)].to_object((i < kBugs ? "BUG_" : "VORBEL_") + std::to_string(i)));
  return objects;
}

std::string sprites_header() {
  std::string text =
      "/* Objects of \"vorbel2.dat\": generated with the datafile, do not edit. */\n"
      "#ifndef VORBEL2_DAT_INDEX_H\n#define VORBEL2_DAT_INDEX_H\n\n";
  auto define = [&](const std::string &name, int value, const char *what) {
    char line[160];
    std::snprintf(line, sizeof line, "#define %-30s %3d%s%s%s\n", name.c_str(), value,
                  *what ? " /* " : "", what, *what ? " */" : "");
    text += line;
  };
  define("SPR_BUG_COUNT", kBugs, "objects 0 on: the bugs' pictures");
  define("SPR_VORBEL_FRAMES", kVorbelFrames,
         "pictures of each direction of the vorbel, standing first");
  int first = kBugs;
  for (const char *direction : kVorbelDirections)
    define(std::string("SPR_VORBEL_") + direction, first, ""), first += kVorbelFrames;
  define("SPR_COUNT", kActors, "");
  return text + "\n#endif\n";
}

}  // namespace art
