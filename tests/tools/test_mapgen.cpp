// Level maps: text parsing, the playability checks under the vorbel's and the bugs' movement
// rules, wall masks and cell codes, the 1048-byte map record image, and every shipped level.
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "datwriter.h"
#include "maplevel.h"

namespace {

using mapgen::Level;

// A small playable level: one corridor along row 1 that is also an edge tunnel, all else walls.
// Row 1: vorbel at column 1, balls of values 1, 2, 3 and a power ball, the bugs at column 7.
std::vector<std::string> tiny_picture() {
  std::vector<std::string> rows(22, std::string(22, '#'));
  rows[1] = "-V.2o  B.3...........-";
  return rows;
}

std::string level_text(const std::vector<std::string>& rows, const std::string& header_extra = "") {
  std::string t =
      "; test level\n"
      "name: Tiny\n"
      "walls: 7\n"
      "balls: 19\n"
      "bugs: 3\n"
      "bug_sprite: 11\n"
      "points: 10 20 30 40 50 100 200 500\n" +
      header_extra + "map:\n";
  for (const std::string& r : rows) t += r + "\n";
  return t;
}

Level parse_ok(const std::vector<std::string>& rows) {
  Level level;
  std::string err = mapgen::parse_level(level_text(rows), "tiny.txt", level);
  EXPECT_EQ(err, "");
  return level;
}

std::string joined(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& p : v) s += p + "\n";
  return s;
}

int read16(const std::vector<uint8_t>& img, size_t off) { return int16_t(uint16_t(img[off] | (img[off + 1] << 8))); }

TEST(MapLevel, TinyLevelIsAccepted) {
  Level level = parse_ok(tiny_picture());
  EXPECT_EQ(joined(mapgen::check_level(level)), "");
  EXPECT_EQ(level.vorbel_start.x, 1);
  EXPECT_EQ(level.vorbel_start.y, 1);
  EXPECT_EQ(level.bug_start.x, 7);
  EXPECT_EQ(level.bug_start.y, 1);
  EXPECT_EQ(level.name, "Tiny");
  EXPECT_EQ(level.points[5], 100);
}

// Balls count towards clearing, power balls and decorations do not.
TEST(MapLevel, BallCountTakesValuesOneToFourOnly) {
  struct Case {
    const char* row1;
    int balls;
  } cases[] = {
      {"-V.2o  B.3...........-", 15},
      {"-V.2o  B.3ab.........-", 13},
      {"-V4.5678B...ooooooo..-", 7},
      {"-V1234  B............-", 16},
  };
  for (const Case& c : cases) {
    std::vector<std::string> rows = tiny_picture();
    rows[1] = c.row1;
    EXPECT_EQ(mapgen::ball_count(parse_ok(rows)), c.balls) << c.row1;
  }
}

// Bit 1 wall above, 2 right, 4 below, 8 left; outside the grid is not a wall.
TEST(MapLevel, WallMasksAndCodes) {
  Level level = parse_ok(tiny_picture());
  struct Case {
    int x, y, mask;
  } cases[] = {
      {0, 0, 2},          // top-left corner: the tunnel mouth below is floor, outside is no wall
      {21, 21, 1 | 8},    // bottom-right corner
      {1, 0, 2 | 8},      // above the vorbel: the floor below does not count
      {1, 2, 2 | 4 | 8},  // below the vorbel
      {15, 10, 15},       // deep inside the rock
      {0, 2, 2 | 4},      // under the tunnel mouth at column 0
      {10, 21, 1 | 2 | 8},  // bottom edge
      {21, 0, 8},         // top-right corner, tunnel mouth below it
      {21, 2, 4 | 8},     // under the right tunnel mouth
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mapgen::wall_mask(level, c.x, c.y), c.mask) << c.x << "," << c.y;
    EXPECT_EQ(mapgen::cell_code(level, c.x, c.y), 700 + c.mask) << c.x << "," << c.y;
  }
  EXPECT_EQ(mapgen::cell_code(level, 2, 1), 1901);  // ball of value 1 in set 19
  EXPECT_EQ(mapgen::cell_code(level, 3, 1), 1902);
  EXPECT_EQ(mapgen::cell_code(level, 4, 1), 1905);  // power ball
  EXPECT_EQ(mapgen::cell_code(level, 1, 1), 2300);  // vorbel start is plain floor
  EXPECT_EQ(mapgen::cell_code(level, 7, 1), 2300);  // bugs' start too
  EXPECT_EQ(mapgen::cell_code(level, 0, 1), 2300);  // tunnel mouth
  std::vector<std::string> rows = tiny_picture();
  rows[1] = "-V.2o  B.3af.........-";
  Level deco = parse_ok(rows);
  EXPECT_EQ(mapgen::cell_code(deco, 10, 1), 2210);
  EXPECT_EQ(mapgen::cell_code(deco, 11, 1), 2215);
}

// Each case changes the tiny level and names a text the refusal must contain.
TEST(MapLevel, UnplayableLevelsAreRefused) {
  struct Case {
    const char* what;
    int row;
    const char* text;
    const char* expect;
  } cases[] = {
      {"sealed ball", 3, "#####.################", "tiny.txt:12: ball at column 5, row 3 cannot be reached"},
      {"sealed power ball", 5, "#############o########", "power ball at column 13, row 5 cannot be reached"},
      {"ball in the far tunnel mouth", 1, "-V.2o  B.3...........1", "ball at column 21, row 1 lies in the far edge"},
      {"half-open tunnel", 1, "-V.2o  B.3...........#", "the tunnel on row 1 is open at column 0, row 1 but walled at column 21, row 1"},
      {"tunnel into a wall", 1, "-V.2o  B.3..........#-", "the tunnel on row 1 comes out into the wall at column 20, row 1"},
      {"open corner", 0, "-#####################", "corner column 0, row 0 must be a wall"},
      {"bugs cut off", 1, "-V.2o  .3.#...B......-", "the bugs' start at column 14, row 1 is not connected to the vorbel's start"},
      {"no balls", 1, "-V  o  B             -", "the level has no balls"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> rows = tiny_picture();
    rows[size_t(c.row)] = c.text;
    Level level = parse_ok(rows);
    std::string problems = joined(mapgen::check_level(level));
    EXPECT_NE(problems.find(c.expect), std::string::npos) << c.what << ":\n" << problems;
  }
}

// The vorbel crosses an edge: left from column 1 it comes out on column 20, and a tunnel cell in
// column or row 0 is eaten on the way, so these balls can all be eaten.
TEST(MapLevel, TunnelsCarryTheVorbel) {
  std::vector<std::string> rows = tiny_picture();
  rows[1] = "1V.2o  B.3#..........-";  // right part reached only through the tunnel
  EXPECT_EQ(joined(mapgen::check_level(parse_ok(rows))), "");

  // A column tunnel: from row 1 up through row 0, out on row 20, then along row 20.
  rows = tiny_picture();
  rows[1] = "#V.2o  B.3...........#";
  rows[0][5] = '.';
  rows[21][5] = '-';
  for (int y = 2; y < 20; y++) rows[size_t(y)][5] = '#';
  rows[20] = "#...................o#";
  EXPECT_EQ(joined(mapgen::check_level(parse_ok(rows))), "");

  // The same column walled at the bottom mouth is a half-open tunnel.
  rows[21][5] = '#';
  std::string problems = joined(mapgen::check_level(parse_ok(rows)));
  EXPECT_NE(problems.find("the tunnel on column 5 is open at column 5, row 0 but walled at column 5, row 21"),
            std::string::npos)
      << problems;
}

TEST(MapLevel, StartCellsMustBeOpenFloorInsideTheEdge) {
  struct Case {
    const char* what;
    bool vorbel;
    int x, y;
    const char* expect;
  } cases[] = {
      {"vorbel on a wall", true, 10, 5, "the vorbel start at column 10, row 5 is not open floor"},
      {"vorbel on a ball", true, 2, 1, "the vorbel start at column 2, row 1 is not open floor"},
      {"bugs on a wall", false, 3, 3, "the bugs' start at column 3, row 3 is not open floor"},
      {"vorbel in a tunnel mouth", true, 0, 1, "the vorbel start at column 0, row 1 is outside the playfield"},
      {"bugs outside the grid", false, 30, 1, "the bugs' start at column 30, row 1 is outside the playfield"},
      {"vorbel at a negative cell", true, -1, -1, "the vorbel start at column -1, row -1 is outside the playfield"},
      {"both on one cell", true, 7, 1, "the vorbel and the bugs start on the same cell"},
  };
  for (const Case& c : cases) {
    Level level = parse_ok(tiny_picture());
    (c.vorbel ? level.vorbel_start : level.bug_start) = {c.x, c.y};
    std::string problems = joined(mapgen::check_level(level));
    EXPECT_NE(problems.find(c.expect), std::string::npos) << c.what << ":\n" << problems;
    // The bad start is the one message: no flood of unreachable balls after it.
    EXPECT_EQ(problems.find("cannot be reached"), std::string::npos) << c.what << ":\n" << problems;
  }
}

TEST(MapLevel, HeaderValuesOutOfRangeAreRefused) {
  struct Case {
    void (*change)(Level&);
    const char* expect;
  } cases[] = {
      {[](Level& l) { l.wall_set = 19; }, "the wall set is 19, must be 0 to 18"},
      {[](Level& l) { l.ball_set = 22; }, "the ball set is 22, must be 19 to 21"},
      {[](Level& l) { l.bug_count = 21; }, "the bug count is 21, must be 0 to 20"},
      {[](Level& l) { l.bug_sprite = 28; }, "the bug picture is 28, must be 0 to 27"},
      {[](Level& l) { l.points[7] = 40000; }, "the points of value 8 is 40000"},
      {[](Level& l) { l.points[0] = -5; }, "the points of value 1 is -5"},
  };
  for (const Case& c : cases) {
    Level level = parse_ok(tiny_picture());
    c.change(level);
    std::string problems = joined(mapgen::check_level(level));
    EXPECT_NE(problems.find(c.expect), std::string::npos) << problems;
  }
}

TEST(MapLevel, DamagedTextIsRefusedWithItsLine) {
  std::vector<std::string> good = tiny_picture();
  std::vector<std::string> short_picture(good.begin(), good.end() - 1);
  std::vector<std::string> short_row = good;
  short_row[4].pop_back();
  std::vector<std::string> odd_char = good;
  odd_char[1][3] = 'X';
  std::vector<std::string> nul_char = good;
  nul_char[2][0] = '\0';
  std::vector<std::string> two_vorbels = good;
  two_vorbels[1][5] = 'V';
  std::vector<std::string> no_bugs = good;
  no_bugs[1][7] = ' ';
  struct Case {
    std::string text;
    const char* expect;
  } cases[] = {
      {level_text(short_picture), "tiny.txt:9: the picture has 21 rows, expected 22"},
      {level_text(short_row), "tiny.txt:13: picture row 4 has 21 columns, expected 22"},
      {level_text(odd_char), "tiny.txt:10: unknown character 0x58 at column 3, row 1"},
      {level_text(nul_char), "unknown character 0x00 at column 0, row 2"},
      {level_text(two_vorbels), "exactly one 'V' (vorbel start), found 2"},
      {level_text(no_bugs), "exactly one 'B' (bugs' start), found 0"},
      {level_text(good, "bugs: 4\n"), "tiny.txt:8: 'bugs' given twice (first on line 5)"},
      {level_text(good, "speed: 4\n"), "unknown header key 'speed'"},
      {level_text(good, "nonsense\n"), "expected 'key: value' or 'map:'"},
      {level_text(good) + "#####\n", "tiny.txt:31: text after the 22 picture rows"},
      {"name: x\nwalls: 1\nballs: 19\nbugs: 1\nbug_sprite: 1\npoints: 1 2 3 4 5 6 7 8\n", "no 'map:' line"},
      {"name: x\nwalls: 1\nballs: 19\nbug_sprite: 1\npoints: 1 2 3 4 5 6 7 8\nmap:\n", "the header has no 'bugs'"},
      {"name: x\nwalls: 99999999999\n", "'walls' needs a whole number, found '99999999999'"},
      {"name: x\nwalls: 1x\n", "'walls' needs a whole number"},
      {"points: 1 2 3\n", "'points' takes 8 numbers (values 1..8), found 3"},
      {"points: 1 2 3 4 5 6 7 8 9\n", "found more"},
      {"points: 1 2 three 4 5 6 7 8\n", "'points' has 'three', not a number"},
      {"name:\n", "empty level name"},
      {"", "the header has no 'name'"},
      {std::string("\xff\xfe\0\x01", 4), "expected 'key: value'"},
  };
  for (const Case& c : cases) {
    Level level;
    std::string err = mapgen::parse_level(c.text, "tiny.txt", level);
    EXPECT_NE(err.find(c.expect), std::string::npos) << "got: " << err;
  }
}

TEST(MapLevel, WindowsLineEndingsAreRead) {
  std::string text = level_text(tiny_picture());
  std::string crlf;
  for (char ch : text) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  Level level;
  EXPECT_EQ(mapgen::parse_level(crlf, "tiny.txt", level), "");
  EXPECT_EQ(mapgen::ball_count(level), 15);
}

TEST(MapLevel, LevelFilesThatCannotBeReadAreRefused) {
  Level level;
  EXPECT_NE(mapgen::load_level_file("/nonexistent/level99.txt", level).find("cannot open"), std::string::npos);
  std::string path = (std::filesystem::temp_directory_path() / "vorbel_mapgen_huge.txt").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(mapgen::kMaxLevelFileSize + 1, '#');
  }
  EXPECT_NE(mapgen::load_level_file(path, level).find("not a level"), std::string::npos);
  std::remove(path.c_str());
}

// Field offsets and byte order of the record the game reads, and the column-major cell layout.
TEST(MapLevel, MapImageLayout) {
  Level level = parse_ok(tiny_picture());
  std::vector<uint8_t> img = mapgen::map_image(level);
  ASSERT_EQ(img.size(), 1048u);
  struct Case {
    size_t off;
    int value;
  } cases[] = {
      {0, 0},                          // reserved
      {2, 7},    {4, 1},               // bugs' start column, row
      {6, 1},    {8, 1},               // vorbel start column, row
      {10, 3},                         // bug count
      {12, 15},                        // ball count
      {14, 11},                        // bug picture
      {16 + 2 * (22 * 3 + 1), 1902},   // cell (3, 1): the ball of value 2
      {16 + 2 * (22 * 1 + 3), 715},    // cell (1, 3): rock, not the ball
      {16 + 2 * (22 * 0 + 0), 702},    // first cell
      {16 + 2 * (22 * 21 + 21), 709},  // last cell
      {16 + 2 * (22 * 0 + 1), 2300},   // tunnel mouth
      {984, 10},  {984 + 2 * 5, 100}, {984 + 2 * 7, 500},
      {984 + 2 * 8, 0}, {984 + 2 * 31, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(read16(img, c.off), c.value) << "offset " << c.off;
  // Little-endian: 1902 = 0x076E.
  EXPECT_EQ(img[16 + 2 * (22 * 3 + 1)], 0x6E);
  EXPECT_EQ(img[16 + 2 * (22 * 3 + 1) + 1], 0x07);
}

std::vector<std::string> shipped_levels() {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(VORBEL_MAPS_DIR)) {
    std::string name = e.path().filename().string();
    if (name.size() == 11 && name.rfind("level", 0) == 0 && name.substr(7) == ".txt") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(ShippedLevels, AllPlayableAndNumberedWithoutGaps) {
  std::vector<std::string> files = shipped_levels();
  ASSERT_GE(files.size(), 12u);
  for (size_t i = 0; i < files.size(); i++) {
    std::string want = std::string(i + 1 < 10 ? "level0" : "level") + std::to_string(i + 1) + ".txt";
    EXPECT_EQ(std::filesystem::path(files[i]).filename().string(), want);
    Level level;
    ASSERT_EQ(mapgen::load_level_file(files[i], level), "");
    EXPECT_EQ(joined(mapgen::check_level(level)), "");
    EXPECT_GE(level.bug_count, 2) << files[i];
  }
}

// The objects the game will load: one DATA object of 1048 bytes per level, in play order.
TEST(ShippedLevels, DatafileLoadsInAllegro) {
  std::vector<std::string> files = shipped_levels();
  std::vector<dat::Object> objects;
  std::vector<std::vector<uint8_t>> images;
  for (const std::string& f : files) {
    Level level;
    ASSERT_EQ(mapgen::load_level_file(f, level), "");
    images.push_back(mapgen::map_image(level));
    objects.push_back(dat::make_raw("LEVEL", dat::TYPE_DATA, images.back()));
  }
  std::string path = (std::filesystem::temp_directory_path() / "vorbel_test_maps.dat").string();
  ASSERT_TRUE(dat::write_datafile(path, objects));
  install_allegro(SYSTEM_NONE, &errno, atexit);
  DATAFILE* d = load_datafile(path.c_str());
  ASSERT_NE(d, nullptr);
  size_t n = 0;
  while (d[n].type != DAT_END) {
    ASSERT_LT(n, images.size());
    EXPECT_EQ(d[n].type, DAT_ID('D', 'A', 'T', 'A'));
    ASSERT_EQ(d[n].size, 1048);
    EXPECT_TRUE(std::equal(images[n].begin(), images[n].end(), static_cast<const uint8_t*>(d[n].dat)));
    n++;
  }
  EXPECT_EQ(n, images.size());
  unload_datafile(d);
  std::remove(path.c_str());
}

}  // namespace
