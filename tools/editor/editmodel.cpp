// The level editor's model: tools, strokes, header fields, undo and the problems on the map.
#include "editmodel.h"

#include <algorithm>
#include <cstdlib>

namespace editor {

using mapgen::Cell;
using mapgen::CellKind;
using mapgen::kMapSize;

// The shortcuts follow the text form's legend: space is floor, a to f the decorations; walls are w
// (the legend's '#' is awkward to type) and the bugs' start, home of the bugs, is h.
const Tool kTools[] = {
    {ToolKind::Wall, 0, 'w', "Wall"},
    {ToolKind::Floor, 0, ' ', "Floor"},
    {ToolKind::Ball, 1, '1', "Ball 1"},
    {ToolKind::Ball, 2, '2', "Ball 2"},
    {ToolKind::Ball, 3, '3', "Ball 3"},
    {ToolKind::Ball, 4, '4', "Ball 4"},
    {ToolKind::PowerBall, 5, '5', "Power ball 5"},
    {ToolKind::PowerBall, 6, '6', "Power ball 6"},
    {ToolKind::PowerBall, 7, '7', "Power ball 7"},
    {ToolKind::PowerBall, 8, '8', "Power ball 8"},
    {ToolKind::Decoration, 10, 'a', "Decoration a"},
    {ToolKind::Decoration, 11, 'b', "Decoration b"},
    {ToolKind::Decoration, 12, 'c', "Decoration c"},
    {ToolKind::Decoration, 13, 'd', "Decoration d"},
    {ToolKind::Decoration, 14, 'e', "Decoration e"},
    {ToolKind::Decoration, 15, 'f', "Decoration f"},
    {ToolKind::VorbelStart, 0, 'v', "Vorbel start"},
    {ToolKind::BugStart, 0, 'h', "Bugs' start"},
};
const int kNumTools = int(sizeof kTools / sizeof kTools[0]);

int tool_for_key(int ch) {
  for (int i = 0; i < kNumTools; i++)
    if (kTools[i].key == ch) return i;
  return -1;
}

Level new_level() {
  Level level;
  level.name = "New Level";
  level.wall_set = 0;
  level.ball_set = mapgen::kFirstBallSet;
  level.bug_count = 2;
  level.bug_sprite = 0;
  level.points = {10, 20, 30, 40, 50, 100, 150, 200};
  for (int x = 0; x < kMapSize; x++)
    for (int y = 0; y < kMapSize; y++) {
      const bool ring = x == 0 || y == 0 || x == mapgen::kEdge || y == mapgen::kEdge;
      level.cells[size_t(x)][size_t(y)] = Cell{ring ? CellKind::Wall : CellKind::Floor, 0};
    }
  level.bug_start = {10, 10};
  level.vorbel_start = {10, 16};
  return level;
}

namespace {

bool inside(int x, int y) { return x >= 0 && x < kMapSize && y >= 0 && y < kMapSize; }

bool same(const CellPos &a, int x, int y) { return a.x == x && a.y == y; }

bool place_start(Level &level, CellPos &start, const CellPos &other, int x, int y) {
  if (same(other, x, y)) return false;
  Cell &c = level.cells[size_t(x)][size_t(y)];
  const bool changed = !same(start, x, y) || c.kind != CellKind::Floor;
  c = Cell{CellKind::Floor, 0};
  start = {x, y};
  return changed;
}

}  // namespace

bool paint(Level &level, const Tool &tool, int x, int y) {
  if (!inside(x, y)) return false;
  switch (tool.kind) {
    case ToolKind::VorbelStart:
      return place_start(level, level.vorbel_start, level.bug_start, x, y);
    case ToolKind::BugStart: return place_start(level, level.bug_start, level.vorbel_start, x, y);
    default: break;
  }
  static const CellKind kinds[] = {CellKind::Wall, CellKind::Floor, CellKind::Ball,
                                   CellKind::PowerBall, CellKind::Decoration};
  const Cell want{kinds[int(tool.kind)],
                  tool.kind == ToolKind::Wall || tool.kind == ToolKind::Floor ? 0 : tool.value};
  if (want.kind != CellKind::Floor &&
      (same(level.vorbel_start, x, y) || same(level.bug_start, x, y)))
    return false;
  Cell &c = level.cells[size_t(x)][size_t(y)];
  if (c.kind == want.kind && c.value == want.value) return false;
  c = want;
  return true;
}

bool paint_rect(Level &level, const Tool &tool, CellPos from, CellPos to) {
  if (tool.kind == ToolKind::VorbelStart || tool.kind == ToolKind::BugStart)
    return paint(level, tool, to.x, to.y);
  bool changed = false;
  for (int x = std::min(from.x, to.x); x <= std::max(from.x, to.x); x++)
    for (int y = std::min(from.y, to.y); y <= std::max(from.y, to.y); y++)
      changed = paint(level, tool, x, y) || changed;
  return changed;
}

bool paint_line(Level &level, const Tool &tool, CellPos from, CellPos to) {
  if (tool.kind == ToolKind::VorbelStart || tool.kind == ToolKind::BugStart)
    return paint(level, tool, to.x, to.y);
  // Steps along one axis at a time, so the cells touch by their sides as the pointer crossed them.
  const int nx = std::abs(to.x - from.x), ny = std::abs(to.y - from.y);
  const int sx = from.x < to.x ? 1 : -1, sy = from.y < to.y ? 1 : -1;
  bool changed = paint(level, tool, from.x, from.y);
  for (int ix = 0, iy = 0; ix < nx || iy < ny;) {
    if ((1 + 2 * ix) * ny < (1 + 2 * iy) * nx)
      from.x += sx, ix++;
    else
      from.y += sy, iy++;
    changed = paint(level, tool, from.x, from.y) || changed;
  }
  return changed;
}

const Field kFields[] = {
    {"Walls", 0, mapgen::kWallSets - 1, 1},
    {"Balls", mapgen::kFirstBallSet, mapgen::kLastBallSet, 1},
    {"Bugs", 0, mapgen::kMaxBugs, 1},
    {"Bug picture", 0, mapgen::kBugSprites - 1, 1},
    {"Points 1", 0, 32760, 10},
    {"Points 2", 0, 32760, 10},
    {"Points 3", 0, 32760, 10},
    {"Points 4", 0, 32760, 10},
    {"Points 5", 0, 32760, 10},
    {"Points 6", 0, 32760, 10},
    {"Points 7", 0, 32760, 10},
    {"Points 8", 0, 32760, 10},
};
const int kNumFields = int(sizeof kFields / sizeof kFields[0]);

namespace {

int *field_ptr(Level &level, int field) {
  switch (field) {
    case 0: return &level.wall_set;
    case 1: return &level.ball_set;
    case 2: return &level.bug_count;
    case 3: return &level.bug_sprite;
    default: break;
  }
  if (field >= 4 && field < kNumFields) return &level.points[size_t(field - 4)];
  return nullptr;
}

}  // namespace

int field_value(const Level &level, int field) {
  const int *p = field_ptr(const_cast<Level &>(level), field);
  return p ? *p : 0;
}

bool step_field(Level &level, int field, int steps) {
  int *p = field_ptr(level, field);
  if (!p) return false;
  const Field &f = kFields[field];
  const int v = std::clamp(*p + steps * f.step, f.lo, f.hi);
  if (v == *p) return false;
  *p = v;
  return true;
}

void remember(History &h, const Level &before) {
  h.redo.clear();
  h.undo.push_back(before);
  if (h.undo.size() > kMaxUndo) h.undo.erase(h.undo.begin());
}

namespace {

bool move_back(std::vector<Level> &from, std::vector<Level> &to, Level &level) {
  if (from.empty()) return false;
  to.push_back(level);
  level = from.back();
  from.pop_back();
  return true;
}

}  // namespace

bool undo(History &h, Level &level) { return move_back(h.undo, h.redo, level); }
bool redo(History &h, Level &level) { return move_back(h.redo, h.undo, level); }

int problem_at(const std::vector<mapgen::Problem> &problems, int x, int y) {
  for (size_t i = 0; i < problems.size(); i++)
    if (problems[i].cell.x == x && problems[i].cell.y == y) return int(i);
  return -1;
}

}  // namespace editor
