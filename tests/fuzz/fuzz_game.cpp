// Coverage-guided fuzz targets of the game's file parsers (clang's libFuzzer), one program per
// parser, chosen when it is built (-DFUZZ_PARSER=...): the high-score table, saved games,
// replays, map files, level texts and the options file. Whatever a parser accepts must keep the
// rules the game relies on afterwards, and must write back to what was read; a broken rule
// aborts like a crash. With FUZZ_SEED_DIR set, the program first writes a valid input there.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Template.h"
#include "maplevel.h"

#define FUZZ_TABLE 1
#define FUZZ_SAVE 2
#define FUZZ_REPLAY 3
#define FUZZ_MAP 4
#define FUZZ_LEVEL 5
#define FUZZ_OPTIONS 6

#define RULE(cond)                                       \
  do {                                                   \
    if (!(cond)) {                                       \
      fprintf(stderr, "fuzz_game: broken: %s\n", #cond); \
      abort();                                           \
    }                                                    \
  } while (0)

namespace {

using Bytes = std::vector<unsigned char>;

// A level of the list: the edge ring walls, balls everywhere else but on the two start cells.
map_struct Playable() {
  map_struct m{0, 10, 10, 5, 5, 2, 20 * 20 - 2, 3, {}, {}};
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++) m.cells[x][y] = int16_t(x % 21 && y % 21 ? 1901 : 5);
  m.cells[5][5] = m.cells[10][10] = 1900;
  for (int k = 0; k < 32; k++) m.points[k] = int16_t(k + 1);
  return m;
}

map_struct level;

// The same checksum as a recording's, so that fuzzed replays reach past it.
uint32_t Fnv(const unsigned char *b, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; i++) h = (h ^ b[i]) * 16777619u;
  return h;
}

void Table(const unsigned char *d, size_t n) {
  highscore_struct table[NUM_HIGHSCORES];
  if (!HighScoresFromBytes(d, n, table, nullptr, 0)) return;
  // An accepted table takes a new entry at its rank and stays sound.
  std::memcpy(HighScores, table, sizeof table);
  const int rank = InsertHighScore(int(Fnv(d, n) % (MAX_SCORE + 1u)), 1, 0);
  if (rank >= 0) std::strcpy(HighScores[rank].name, "x");
  RULE(CheckHighScores(HighScores, nullptr, 0));
}

void Save(const unsigned char *d, size_t n) {
  vorbel = actor_struct{20, 20, 0, 0, 0, SPR_VORBEL_RIGHT, 0, 0, 3};
  std::memset(&map, 0, sizeof map);
  if (!ApplySavedGame(d, n)) return;
  RULE(vorbel.x >= 0 && vorbel.y >= 0 && vorbel.x <= 21 * CELL && vorbel.y <= 21 * CELL);
  RULE(vorbel.x % 5 == 0 && vorbel.y % 5 == 0 && (vorbel.x % CELL == 0 || vorbel.y % CELL == 0));
  RULE(CellAt(vorbel.x / CELL, vorbel.y / CELL) != 0 && vorbel.lives >= 1);
  Bytes again(SAVE_SIZE);
  SavedGameBytes(again.data());
  // Written again, it holds what was read: the record's last four fields, the copy of its first
  // five (which the game reads in place of the first ones) and the map block.
  RULE(std::memcmp(again.data() + 20, d + 20, 16) == 0);
  RULE(std::memcmp(again.data() + 52, d + 52, SAVE_SIZE - 52) == 0);
}

void Replay(const unsigned char *d, size_t n) {
  Bytes b(d, d + n);
  for (int k = 0; k < 4; k++) b.push_back(uint8_t(Fnv(d, n) >> (8 * k)));
  ReplayFile r;
  if (!ParseReplay(b.data(), b.size(), &r, nullptr, 0)) return;
  RULE(r.dif_level >= 0 && r.dif_level <= 2);
  RULE(!r.custom || CheckMap(&r.map, nullptr, 0));
  RULE(ReplayBytes(r) == b);
}

void Map(const unsigned char *d, size_t n) {
  if (n != sizeof(map_struct)) return;
  map_struct m;
  MapFromBytes(d, &m);
  if (!CheckMap(&m, nullptr, 0)) return;
  Bytes again(n);
  MapToBytes(&m, again.data());
  RULE(std::memcmp(again.data(), d, n) == 0);
  gmap = &m;
  BuildCellValues();
  RULE(CellAt(m.vorbel_start_x, m.vorbel_start_y) != 0 &&
       CellAt(m.bug_start_x, m.bug_start_y) != 0);
  gmap = &level;
  BuildCellValues();
}

void LevelText(const unsigned char *d, size_t n) {
  mapgen::Level parsed, again;
  const std::string text(reinterpret_cast<const char *>(d), n);
  if (!mapgen::parse_level(text, "fuzz.txt", parsed).empty()) return;
  const std::vector<std::string> problems = mapgen::check_level(parsed);
  RULE(mapgen::parse_level(mapgen::write_level_text(parsed), "fuzz.txt", again).empty());
  RULE(mapgen::same_level(parsed, again));
  if (!problems.empty()) return;
  // A level the kit passes is a map the game plays.
  const std::vector<uint8_t> image = mapgen::map_image(parsed);
  RULE(image.size() == sizeof(map_struct));
  map_struct m;
  MapFromBytes(image.data(), &m);
  char why[160] = "";
  if (!CheckMap(&m, why, sizeof why)) {
    fprintf(stderr, "fuzz_game: the game refuses a level the kit passes: %s\n", why);
    abort();
  }
}

void Options(const unsigned char *d, size_t n) {
  if (!ParseOptions(reinterpret_cast<const char *>(d), n, nullptr, 0)) return;
  const std::string text = OptionsText();
  RULE(ParseOptions(text.data(), text.size(), nullptr, 0) && OptionsText() == text);
}

void WriteSeed(const std::string &dir) {
  Bytes seed;
  switch (FUZZ_PARSER) {
    case FUZZ_TABLE: {
      ResetHighScores();
      InsertHighScore(1234, 2, 3);
      seed.resize(NUM_HIGHSCORES * 28);
      for (int i = 0; i < NUM_HIGHSCORES; i++) {
        const highscore_struct &e = HighScores[i];
        for (int k = 0; k < 4; k++) {
          seed[28 * i + k] = uint8_t(uint32_t(e.score) >> (8 * k));
          seed[28 * i + 4 + k] = uint8_t(uint32_t(e.level) >> (8 * k));
          seed[28 * i + 8 + k] = uint8_t(uint32_t(e.bugs_eaten) >> (8 * k));
        }
        std::memcpy(&seed[28 * i + 12], e.name, 16);
      }
      break;
    }
    case FUZZ_SAVE:
      seed.resize(SAVE_SIZE);
      map = Playable();
      vorbel = actor_struct{100, 100, 0, 0, 0, SPR_VORBEL_RIGHT, 10, 1, 3};  // on cell (5, 5)
      SavedGameBytes(seed.data());
      break;
    case FUZZ_REPLAY: {
      ReplayFile r;
      std::strcpy(r.version, REPLAY_VERSION);
      r.custom = -1, r.map = Playable(), r.stream = {1, 3, 0x82, 1, 2, 3, 4, 0x80};
      seed = ReplayBytes(r);
      seed.resize(seed.size() - 4);  // the target adds the checksum
      break;
    }
    case FUZZ_MAP: {
      const map_struct m = Playable();
      seed.resize(sizeof m);
      MapToBytes(&m, seed.data());
      break;
    }
    case FUZZ_LEVEL: return;  // the shipped level texts are the seeds
    case FUZZ_OPTIONS: {
      const std::string t = OptionsText();
      seed.assign(t.begin(), t.end());
      break;
    }
  }
  FILE *f = fopen((dir + "/seed").c_str(), "wb");
  if (f) fwrite(seed.data(), 1, seed.size(), f), fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  num_sprites = 44;
  level = Playable();
  gmap = &level;
  BuildCellValues();
  if (const char *dir = getenv("FUZZ_SEED_DIR")) WriteSeed(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  switch (FUZZ_PARSER) {
    case FUZZ_TABLE: Table(data, size); break;
    case FUZZ_SAVE: Save(data, size); break;
    case FUZZ_REPLAY: Replay(data, size); break;
    case FUZZ_MAP: Map(data, size); break;
    case FUZZ_LEVEL: LevelText(data, size); break;
    case FUZZ_OPTIONS: Options(data, size); break;
  }
  return 0;
}
