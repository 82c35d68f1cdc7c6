// artgen: builds the game's picture datafiles from the sources in data/art.
//   artgen --art <data/art> --fonts <ttf folder> --out <run folder> [--header <file.h>]
//          [--sprites-header <file.h>] [--sheet <file.png>]
// writes vorbel.dat (screens, fonts, palette), vorbel2.dat (bugs and the vorbel) and set0.dat ..
// set23.dat (maze tiles); --header also writes the index header of vorbel.dat (GFX_<name> for
// each object), which the game includes; --sprites-header writes the layout of vorbel2.dat
// (SPR_<name>), which the game and the map tools include; --sheet writes a contact sheet of
// everything at twice the size.
#include <cstdio>
#include <string>

#include "art.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: artgen --art <data/art folder> --fonts <font folder> --out <folder> "
               "[--header <file.h>] [--sprites-header <file.h>] [--sheet <png>]\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  art::Sources src;
  std::string out, sheet, header, sprites_header;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (i + 1 >= argc) return usage();
    std::string v = argv[++i];
    if (a == "--art")
      src.art_dir = v;
    else if (a == "--fonts")
      src.font_dir = v;
    else if (a == "--out")
      out = v;
    else if (a == "--sheet")
      sheet = v;
    else if (a == "--header")
      header = v;
    else if (a == "--sprites-header")
      sprites_header = v;
    else
      return usage();
  }
  if (src.art_dir.empty() || src.font_dir.empty() || out.empty()) return usage();

  try {
    art::Palette pal = art::Palette::load(src.art_dir + "/palette.txt");
    std::vector<art::SheetEntry> files;
    files.push_back({"vorbel.dat", art::build_vorbel_dat(pal, src)});
    files.push_back({"vorbel2.dat", art::build_sprites_dat(pal, src)});
    for (int n = 0; n < art::kTileSets; n++)
      files.push_back({"set" + std::to_string(n) + ".dat", art::build_tile_set(n, pal, src)});
    for (const auto &f : files)
      if (!dat::write_datafile(out + "/" + f.file, f.objects)) return 1;
    if (!header.empty() &&
        !dat::write_index_header(header, files[0].file, "GFX_", files[0].objects))
      return 1;
    if (!sprites_header.empty() && !dat::write_header_text(sprites_header, art::sprites_header()))
      return 1;
    if (!sheet.empty()) art::write_sheet(sheet, pal, files);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "artgen: %s\n", e.what());
    return 1;
  }
  return 0;
}
