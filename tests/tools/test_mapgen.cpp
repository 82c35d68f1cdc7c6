// Level maps: text parsing, the playability checks under the movement rules, the 1048-byte map
// record, vorbel-mapc, and the level editor's model (strokes, wall tiles, undo, problem cells).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "editmodel.h"
#include "maplevel.h"

namespace {

using mapgen::CellPos;
using mapgen::Level;
using Edits = std::vector<std::pair<int, std::string>>;  // picture rows replaced whole

// All rock but row 1, a corridor that is also an edge tunnel: the vorbel at column 1, balls of
// values 1, 2, 3 and a power ball, the bugs at column 7.
std::vector<std::string> picture(const Edits &edits = {}) {
  std::vector<std::string> rows(22, std::string(22, '#'));
  rows[1] = "-V.2o  B.3...........-";
  for (const auto &[row, text] : edits) rows[size_t(row)] = text;
  return rows;
}

std::string level_text(const std::vector<std::string> &rows, const std::string &header_extra = "") {
  std::string t =
      "; test level\nname: Tiny\nwalls: 7\nballs: 19\nbugs: 3\nbug_sprite: 11\n"
      "points: 10 20 30 40 50 100 200 500\n" +
      header_extra + "map:\n";
  for (const std::string &r : rows) t += r + "\n";
  return t;
}

Level parse_ok(const std::vector<std::string> &rows) {
  Level level;
  EXPECT_EQ(mapgen::parse_level(level_text(rows), "tiny.txt", level), "");
  return level;
}

// Each case changes the tiny level; "" means it stays playable, else its one problem contains the
// text. (The editor's table below adds an open corner, a tunnel walled at its far end, no balls.)
TEST(MapLevel, LevelsAreCheckedUnderTheMovementRules) {
  const char *kCol5Top = "#####.################";
  // clang-format off
  struct Case { Edits edits; std::function<void(Level &)> change; const char *expect; } cases[] = {
      // Left from column 1 the vorbel comes out on column 20, eating the mouth at column 0.
      {{{1, "1V.2o  B.3#..........-"}}, nullptr, ""},
      // Up through row 0 on column 5, out on row 20.
      {{{0, kCol5Top}, {1, "#V.2o  B.3...........#"}, {20, "#...................o#"}, {21, "#####-################"}},
       nullptr, ""},
      {{{0, kCol5Top}, {1, "#V.2o  B.3...........#"}, {20, "#...................o#"}}, nullptr,
       "the tunnel on column 5 is open at column 5, row 0 but walled at column 5, row 21"},
      {{{3, "#####.################"}}, nullptr, "tiny.txt:12: ball at column 5, row 3 cannot be reached"},
      {{{1, "-V.2o  B.3...........1"}}, nullptr, "ball at column 21, row 1 lies in the far edge"},
      {{{1, "-V.2o  B.3..........#-"}}, nullptr, "the tunnel on row 1 comes out into the wall at column 20, row 1"},
      {{{1, "-V.2o  .3.#...B......-"}}, nullptr,
       "the bugs' start at column 14, row 1 is not connected to the vorbel's start"},
      // A bad start is the one message: no flood of unreachable balls after it.
      {{}, [](Level& l) { l.vorbel_start = {10, 5}; }, "the vorbel start at column 10, row 5 is not open floor"},
      {{}, [](Level& l) { l.bug_start = {3, 3}; }, "the bugs' start at column 3, row 3 is not open floor"},
      {{}, [](Level& l) { l.vorbel_start = {0, 1}; }, "the vorbel start at column 0, row 1 is outside the playfield"},
      {{}, [](Level& l) { l.vorbel_start = {30, 1}; }, "the vorbel start at column 30, row 1 is outside the playfield"},
      {{}, [](Level& l) { l.vorbel_start = {7, 1}; }, "the vorbel and the bugs start on the same cell"},
      {{}, [](Level& l) { l.wall_set = 19; }, "the wall set is 19, must be 0 to 18"},
      {{}, [](Level& l) { l.ball_set = 22; }, "the ball set is 22, must be 19 to 21"},
      {{}, [](Level& l) { l.bug_count = 21; }, "the bug count is 21, must be 0 to 20"},
      {{}, [](Level& l) { l.bug_sprite = 28; }, "the bug picture is 28, must be 0 to 27"},
      {{}, [](Level& l) { l.points[7] = 40000; }, "the points of value 8 is 40000"},
      // clang-format on
  };
  for (const Case &c : cases) {
    Level level = parse_ok(picture(c.edits));
    if (c.change) c.change(level);
    std::string got;
    for (const std::string &p : mapgen::check_level(level)) got += p + "\n";
    EXPECT_EQ(std::count(got.begin(), got.end(), '\n'), *c.expect ? 1 : 0) << got;
    EXPECT_NE(got.find(c.expect), std::string::npos) << got;
  }
}

TEST(MapLevel, DamagedTextIsRefusedWithItsLine) {
  std::vector<std::string> short_picture = picture();
  short_picture.pop_back();
  auto with = [](const Edits &edits) { return level_text(picture(edits)); };
  std::string crlf;
  for (char ch : level_text(picture()))
    crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  // "": read without complaint.
  const std::pair<std::string, const char *> cases[] = {
      // clang-format off
      {crlf, ""},
      {level_text(short_picture), "tiny.txt:9: the picture has 21 rows, expected 22"},
      {with({{4, std::string(21, '#')}}), "tiny.txt:13: picture row 4 has 21 columns, expected 22"},
      {with({{1, "-V.Xo  B.3...........-"}}), "tiny.txt:10: unknown character 0x58 at column 3, row 1"},
      {with({{2, std::string("\0#####################", 22)}}), "unknown character 0x00 at column 0, row 2"},
      {with({{1, "-V.2oV B.3...........-"}}), "exactly one 'V' (vorbel start), found 2"},
      {with({{1, "-V.2o   .3...........-"}}), "exactly one 'B' (bugs' start), found 0"},
      {level_text(picture(), "bugs: 4\n"), "tiny.txt:8: 'bugs' given twice (first on line 5)"},
      {level_text(picture(), "speed: 4\n"), "unknown header key 'speed'"},
      {level_text(picture(), "nonsense\n"), "expected 'key: value' or 'map:'"},
      {level_text(picture()) + "#####\n", "tiny.txt:31: text after the 22 picture rows"},
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
      {"walls 2\x1b[2J\n", "found 'walls 2\\x1b[2J'"},  // a control byte never reaches a terminal
      // clang-format on
  };
  for (const auto &[text, expect] : cases) {
    Level level;
    std::string err = mapgen::parse_level(text, "tiny.txt", level);
    EXPECT_TRUE(*expect ? err.find(expect) != std::string::npos : err.empty()) << "got: " << err;
  }
  Level level;
  std::string path = "/tmp/vorbel_mapgen_huge_" + std::to_string(getpid()) + ".txt";
  std::ofstream(path, std::ios::binary) << std::string(mapgen::kMaxLevelFileSize + 1, '#');
  EXPECT_NE(mapgen::load_level_file(path, level).find("not a level"), std::string::npos);
  std::remove(path.c_str());
}

// vorbel-mapc: without -o a good level's record is written beside its text and reads back alike,
// named after the file; damaged records are refused; a broken level is refused with every problem
// and its line, and nothing is written, not even over an older map of that name.
TEST(VorbelMapc, CompilesAGoodLevelAndRefusesABrokenOne) {
  const std::string dir = "/tmp/vorbel_mapc_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  std::string out;
  auto run = [&](const std::string &args) {  // the tool's status, its messages in `out`
    FILE *p = popen(("timeout 20 " + std::string(VORBEL_MAPC) + " " + args + " 2>&1").c_str(), "r");
    char buf[512];
    for (out.clear(); p && fgets(buf, sizeof buf, p);) out += buf;
    int status = p ? pclose(p) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  auto write = [&](const std::string &name, const std::string &text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
    return dir + "/" + name;
  };
  auto bytes = [](const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  };
  const std::string good = write("good.txt", level_text(picture()));
  ASSERT_EQ(run(good), 0) << out;
  const std::vector<uint8_t> older = bytes(dir + "/good.map");
  EXPECT_EQ(older, mapgen::map_image(parse_ok(picture())));
  Level from_map;
  ASSERT_EQ(mapgen::level_from_image(older.data(), older.size(), "dir/x.map", from_map), "");
  EXPECT_EQ(mapgen::map_image(from_map), older);
  EXPECT_EQ(from_map.name, "x");
  // clang-format off
  const struct { size_t size, off; int code; const char *expect; } damaged[] = {
      {100, 0, 0, "100 bytes, a map file holds 1048"},
      {1049, 0, 0, "more than bytes, a map file holds 1048"},
      {1048, 16 + 2 * (22 * 4 + 2), 2400, "column 4, row 2 has the code 2400"},
      {1048, 16, -1, "column 0, row 0 has the code -1"},
      // clang-format on
  };
  for (const auto &d : damaged) {
    std::vector<uint8_t> bad = older;
    bad.resize(d.size);
    bad[d.off] = uint8_t(d.code & 0xff), bad[d.off + 1] = uint8_t((d.code >> 8) & 0xff);
    Level level;
    EXPECT_NE(mapgen::level_from_image(bad.data(), d.size, "bad.map", level).find(d.expect),
              std::string::npos)
        << d.expect;
  }

  // Three problems at once: an unreachable ball, an open corner, a bad bug picture.
  std::string broken =
      level_text(picture({{0, "-#####################"}, {3, "#####.################"}}));
  broken.replace(broken.find("bug_sprite: 11"), 14, "bug_sprite: 40");
  std::filesystem::copy_file(dir + "/good.map", dir + "/broken.map");
  EXPECT_EQ(run(write("broken.txt", broken)), 1);
  for (const char *want : {"broken.txt:12: ball at column 5, row 3 cannot be reached",
                           "bug picture is 40", "3 problems found", "not written"})
    EXPECT_NE(out.find(want), std::string::npos) << want << " in:\n" << out;
  EXPECT_EQ(bytes(dir + "/broken.map"), older);

  const std::pair<std::string, int> usage[] = {
      // clang-format off
      {"", 2}, {good + " -o", 2}, {good + " " + good, 2}, {good + " -o " + good, 2},
      {dir + "/missing.txt", 1}, {write("junk.txt", std::string("\x7f" "ELF\0\0junk", 9)), 1},
      {good + " -o /nonexistent-dir/x.map", 1}, {"--help", 0},
      // clang-format on
  };
  for (const auto &[args, status] : usage) EXPECT_EQ(run(args), status) << args << ":\n" << out;
  EXPECT_FALSE(std::filesystem::exists(dir + "/junk.map"));

  // Hostile paths: a FIFO as input is refused unopened; a FIFO with no reader or a device node (as
  // root) as output is written to, never replaced, or fails with its reason.
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  const bool root = mknod((dir + "/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  const std::tuple<std::string, int, std::string> hostile[] = {
      {dir + "/fifo", 1, "fifo: it is a FIFO, not a file"},
      {good + " -o " + dir + "/fifo", 1, "cannot write " + dir + "/fifo: No such device"},
      {good + " -o " + dir + (root ? "/null" : "/fifo.map"), 0, "-> " + dir},
  };
  for (const auto &[args, status, expect] : hostile) {
    EXPECT_EQ(run(args), status) << args;
    EXPECT_NE(out.find(expect), std::string::npos) << expect << " in:\n" << out;
  }
  struct stat st;
  EXPECT_TRUE(!root || (stat((dir + "/null").c_str(), &st) == 0 && S_ISCHR(st.st_mode)));
  std::filesystem::remove_all(dir);
}

const editor::Tool &ToolOf(char key) { return editor::kTools[editor::tool_for_key(key)]; }

// Picture row y of a level's text form (the rows follow the header's 9 lines).
std::string Row(const Level &level, int y) {
  std::string t = mapgen::write_level_text(level);
  return t.substr(t.find("map:\n") + 5 + size_t(23 * y), 22);
}

// A stroke from the new level (ring of wall, bugs at 10,10, vorbel at 10,16) and the picture row
// it leaves; strokes paint `a` alone ('p'), fill a rectangle ('r') or a line ('l') from `a` to `b`.
TEST(Editor, StrokesOfTheTools) {
  // clang-format off
  struct Case { char key; char how; CellPos a, b; bool changed; int row; const char *expect; } cases[] = {
      {' ', 'p', {0, 5}, {}, true, 5, "-                    #"},  // the ring opened: a tunnel mouth
      {'w', 'p', {10, 16}, {}, false, 16, "#         V          #"},  // no wall over a start
      {'v', 'p', {10, 10}, {}, false, 16, "#         V          #"},  // starts never share a cell
      {'v', 'p', {21, 3}, {}, true, 3, "#                    V"},    // a start clears its cell
      {'w', 'p', {22, 3}, {}, false, 3, "#                    #"},  // outside the grid
      {'2', 'r', {3, 2}, {1, 1}, true, 2, "#222                 #"},  // corners in any order
      {'v', 'r', {1, 1}, {3, 1}, true, 1, "#  V                 #"},  // a start lands at the end
      {'w', 'l', {1, 2}, {4, 3}, true, 3, "# ###                #"},  // a fast drag: no gap, sides touch
      // clang-format on
  };
  for (const Case &c : cases) {
    Level level = editor::new_level();
    bool changed = c.how == 'r'   ? editor::paint_rect(level, ToolOf(c.key), c.a, c.b)
                   : c.how == 'l' ? editor::paint_line(level, ToolOf(c.key), c.a, c.b)
                                  : editor::paint(level, ToolOf(c.key), c.a.x, c.a.y);
    EXPECT_EQ(changed, c.changed) << c.key << " at " << c.a.x << "," << c.a.y;
    EXPECT_EQ(Row(level, c.row), c.expect) << c.key << " at " << c.a.x << "," << c.a.y;
  }
}

// A wall's tile follows the walls around it, and changes when a neighbour is painted or erased.
TEST(Editor, WallTilesFollowTheirNeighbours) {
  // clang-format off
  struct Case { std::vector<CellPos> walls, floors; CellPos cell; int bits; } cases[] = {
      {{{5, 5}}, {}, {5, 5}, 0},
      {{{5, 5}, {6, 5}, {5, 4}, {6, 4}}, {}, {5, 5}, WALL_RIGHT | WALL_UP | WALL_UP_RIGHT},
      {{{5, 5}, {6, 5}, {5, 4}, {6, 4}}, {{6, 5}}, {5, 5}, WALL_UP},
      {{{1, 1}}, {}, {1, 1}, WALL_LEFT | WALL_UP | WALL_UP_LEFT},  // in the ring's corner
      // clang-format on
  };
  for (const Case &c : cases) {
    Level level = editor::new_level();
    for (CellPos w : c.walls) editor::paint(level, ToolOf('w'), w.x, w.y);
    for (CellPos f : c.floors) editor::paint(level, ToolOf(' '), f.x, f.y);
    level.wall_set = 7;
    EXPECT_EQ(mapgen::cell_code(level, c.cell.x, c.cell.y), 700 + WallTile(c.bits))
        << c.walls.size() << " walls";
  }
}

// Edits, undos ('u') and redos ('r') in turn: whether each did something, and the level's one
// problem then with its cell ({-1, -1}: the whole level; "": none). A new edit drops redo.
TEST(Editor, UndoRedoAndTheProblemsOnTheirCells) {
  const std::vector<std::pair<char, CellPos>> box = {
      {'w', {4, 5}}, {'w', {6, 5}}, {'w', {5, 4}}, {'w', {5, 6}}, {'1', {8, 8}}};
  const std::vector<std::pair<char, CellPos>> cage = {
      {'w', {9, 10}}, {'w', {11, 10}}, {'w', {10, 9}}, {'w', {10, 11}}};
  // clang-format off
  struct Step { char op; std::vector<std::pair<char, CellPos>> strokes; bool done; CellPos cell; const char *problem; } steps[] = {
      {'u', {}, false, {-1, -1}, "the level has no balls"},
      {'p', {{'1', {5, 5}}}, true, {}, ""},
      {'p', {{' ', {0, 0}}}, true, {0, 0}, "corner column 0, row 0 must be a wall"},
      {'u', {}, true, {}, ""},
      {'r', {}, true, {0, 0}, "corner column 0, row 0 must be a wall"},
      {'u', {}, true, {}, ""},
      {'p', {{' ', {0, 7}}}, true, {21, 7}, "the tunnel on row 7 is open at column 0, row 7 but walled"},
      {'r', {}, false, {21, 7}, "the tunnel on row 7"},
      {'u', {}, true, {}, ""},
      {'p', box, true, {5, 5}, "ball at column 5, row 5 cannot be reached"},
      {'u', {}, true, {}, ""},
      {'p', cage, true, {10, 10}, "the bugs' start at column 10, row 10 is not connected"},
      {'u', {}, true, {}, ""},
      {'u', {}, true, {-1, -1}, "the level has no balls"},
      {'u', {}, false, {-1, -1}, "the level has no balls"},
      {'r', {}, true, {}, ""},
      // clang-format on
  };
  Level level = editor::new_level();
  editor::History h;
  int n = 0;
  for (const Step &s : steps) {
    SCOPED_TRACE("step " + std::to_string(n++));
    bool done = true;
    if (s.op == 'p') {
      Level before = level;
      for (const auto &[key, at] : s.strokes) editor::paint(level, ToolOf(key), at.x, at.y);
      editor::remember(h, before);
    }
    if (s.op == 'u') done = editor::undo(h, level);
    if (s.op == 'r') done = editor::redo(h, level);
    EXPECT_EQ(done, s.done);
    std::vector<mapgen::Problem> problems = mapgen::level_problems(level);
    if (!*s.problem) {
      EXPECT_TRUE(problems.empty()) << problems.front().text;
      continue;
    }
    ASSERT_EQ(problems.size(), 1u) << s.problem << ": " << problems.front().text;
    EXPECT_NE(problems[0].text.find(s.problem), std::string::npos) << problems[0].text;
    EXPECT_EQ(std::make_pair(problems[0].cell.x, problems[0].cell.y),
              std::make_pair(s.cell.x, s.cell.y));
    EXPECT_EQ(editor::problem_at(problems, s.cell.x, s.cell.y), 0);
    EXPECT_EQ(editor::problem_at(problems, 3, 3), -1);
  }
  for (size_t i = 0; i < editor::kMaxUndo + 10; i++) editor::remember(h, level);
  EXPECT_EQ(h.undo.size(), editor::kMaxUndo);
}

}  // namespace
