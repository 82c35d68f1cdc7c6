// Coverage-guided fuzz targets of the game's file parsers (clang's libFuzzer), one program per
// parser, chosen when it is built (-DFUZZ_PARSER=1..6): the high-score table, saved games,
// replays, map files, level texts and the options file. Whatever a parser accepts must keep the
// rules the game relies on afterwards and write back to what was read; a broken rule aborts.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Template.h"
#include "maplevel.h"

namespace {

using Bytes = std::vector<unsigned char>;

#define RULE(c) ((c) ? (void)0 : (fprintf(stderr, "fuzz_game: broken: %s\n", #c), abort()))

map_struct level{0, 10, 10, 5, 5, 2, 1, 3, {}, {}};  // saves are loaded into a game of the list

// A recording's checksum, which the target adds so that fuzzed replays reach past it.
uint32_t Fnv(const unsigned char *b, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; i++) h = (h ^ b[i]) * 16777619u;
  return h;
}

void Table(const unsigned char *d, size_t n) {
  if (!HighScoresFromBytes(d, n, HighScores, nullptr, 0)) return;
  const int rank = InsertHighScore(int(Fnv(d, n) % (MAX_SCORE + 1u)), 1, 0);
  RULE(CheckHighScores(HighScores, nullptr, 0));  // a new entry keeps the table sound
}

void Save(const unsigned char *d, size_t n) {
  if (!ApplySavedGame(d, n)) return;
  // Saved again it holds what was read: the record's last four fields, the copy of its first five
  // (which stand for the first ones) and the map block.
  Bytes again(SAVE_SIZE);
  SavedGameBytes(again.data());
  RULE(!std::memcmp(&again[20], d + 20, 16) && !std::memcmp(&again[52], d + 52, SAVE_SIZE - 52));
}

void Replay(const unsigned char *d, size_t n) {
  Bytes b(d, d + n);
  for (int k = 0; k < 4; k++) b.push_back(uint8_t(Fnv(d, n) >> (8 * k)));
  ReplayFile r;
  if (!ParseReplay(b.data(), b.size(), &r, nullptr, 0)) return;
  const Bytes written = ReplayBytes(r);  // reserved bytes come back as 0, flags as 1
  ReplayFile again;
  RULE(ParseReplay(written.data(), written.size(), &again, nullptr, 0));
  RULE(ReplayBytes(again) == written && again.stream == r.stream);
}

void Map(const unsigned char *d, size_t n) {
  map_struct m;
  if (n != sizeof m || (MapFromBytes(d, &m), !CheckMap(&m, nullptr, 0))) return;
  Bytes again(n);
  MapToBytes(&m, again.data());
  RULE(!std::memcmp(again.data(), d, n));
}

// The text form reads back as the same level, and a level the kit passes is one the game plays.
void LevelText(const unsigned char *d, size_t n) {
  mapgen::Level parsed, again;
  if (!mapgen::parse_level(std::string(d, d + n), "f.txt", parsed).empty()) return;
  RULE(mapgen::parse_level(mapgen::write_level_text(parsed), "f.txt", again).empty());
  RULE(mapgen::same_level(parsed, again));
  if (!mapgen::check_level(parsed).empty()) return;
  const std::vector<uint8_t> image = mapgen::map_image(parsed);
  map_struct m;
  MapFromBytes(image.data(), &m);  // map_image writes a whole record
  RULE(CheckMap(&m, nullptr, 0));
}

void Options(const unsigned char *d, size_t n) {
  if (!ParseOptions(reinterpret_cast<const char *>(d), n, nullptr, 0)) return;
  const std::string text = OptionsText();
  RULE(ParseOptions(text.data(), text.size(), nullptr, 0) && OptionsText() == text);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  num_sprites = 44;
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++) level.cells[x][y] = int16_t(x % 21 && y % 21 ? 1901 : 5);
  gmap = &level;
  BuildCellValues();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t n) {
  void (*const parsers[])(const unsigned char *, size_t) = {Table, Save,      Replay,
                                                            Map,   LevelText, Options};
  parsers[FUZZ_PARSER - 1](d, n);
  return 0;
}
