// The level editor's model: what each tool's stroke does to a level (starts kept on floor, wall
// tiles following their neighbours), header fields, and edits undone and redone with the problems
// of the checks on the cells the editor marks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editmodel.h"

namespace {

using editor::Level;
using mapgen::CellPos;

const editor::Tool &ToolOf(char key) { return editor::kTools[editor::tool_for_key(key)]; }

// Picture row y of a level's text form (the rows follow the header's 9 lines).
std::string Row(const Level &level, int y) {
  std::string t = mapgen::write_level_text(level);
  return t.substr(t.find("map:\n") + 5 + size_t(23 * y), 22);
}

// A stroke from the new level (ring of wall, bugs at 10,10, vorbel at 10,16) and the picture row
// it leaves; `rect` strokes fill from `a` to `b`, the others paint `a` alone.
TEST(Editor, StrokesOfTheTools) {
  // clang-format off
  struct Case { char key; bool rect; CellPos a, b; bool changed; int row; const char *expect; } cases[] = {
      {'w', false, {5, 5}, {}, true, 5, "#    #               #"},
      {' ', false, {5, 5}, {}, false, 5, "#                    #"},  // floor on floor
      {' ', false, {0, 5}, {}, true, 5, "-                    #"},  // the ring opened: a tunnel mouth
      {'w', false, {10, 16}, {}, false, 16, "#         V          #"},  // no wall over a start
      {'v', false, {10, 10}, {}, false, 16, "#         V          #"},  // starts never share a cell
      {'v', false, {21, 3}, {}, true, 3, "#                    V"},    // a start clears its cell
      {'w', false, {22, 3}, {}, false, 3, "#                    #"},  // outside the grid
      {'2', true, {3, 2}, {1, 1}, true, 2, "#222                 #"},  // corners in any order
      {'e', true, {8, 16}, {12, 16}, true, 16, "#       eeVee        #"},
      {'v', true, {1, 1}, {3, 1}, true, 1, "#  V                 #"},  // a start lands at the end
      {'5', false, {7, 7}, {}, true, 7, "#      o             #"},
      // clang-format on
  };
  for (const Case &c : cases) {
    Level level = editor::new_level();
    bool changed = c.rect ? editor::paint_rect(level, ToolOf(c.key), c.a, c.b)
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
      {{{5, 5}, {6, 5}, {5, 4}}, {}, {5, 5}, WALL_RIGHT | WALL_UP},
      {{{5, 5}, {6, 5}, {5, 4}, {6, 4}}, {}, {5, 5}, WALL_RIGHT | WALL_UP | WALL_UP_RIGHT},
      {{{5, 5}, {6, 5}, {5, 4}, {6, 4}}, {{6, 5}}, {5, 5}, WALL_UP},
      {{{1, 1}}, {}, {1, 1}, WALL_LEFT | WALL_UP | WALL_UP_LEFT},  // in the ring's corner
      {{{1, 2}}, {}, {1, 2}, WALL_LEFT},
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

// The panel's fields step inside the ranges the checks accept.
TEST(Editor, FieldsStepInsideTheirRanges) {
  // clang-format off
  struct Case { int field, steps, value; bool changed; } cases[] = {
      {0, -1, 0, false}, {0, 40, 18, true}, {1, 1, 20, true}, {1, -5, 19, false}, {2, 30, 20, true},
      {3, 28, 27, true}, {4, 3, 40, true}, {11, -30, 0, true}, {11, 4000, 32760, true},
      // clang-format on
  };
  for (const Case &c : cases) {
    Level level = editor::new_level();
    EXPECT_EQ(editor::step_field(level, c.field, c.steps), c.changed) << c.field << " " << c.steps;
    EXPECT_EQ(editor::field_value(level, c.field), c.value) << c.field << " by " << c.steps;
  }
}

// Edits, undos ('u') and redos ('r') one after another: whether each did something, and the one
// problem of the level then with the cell it lies on ({-1, -1}: the whole level; "": none). Undo
// takes back whole edits in reverse order, redo brings them again, a new edit drops redo.
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
