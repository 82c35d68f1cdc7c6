// The level editor's model, free of Allegro: the drawing tools and what a stroke of each does to a
// level, the header fields the panel steps through, the undo history, and where the problems of
// the level checks lie on the map.
#pragma once
#include <string>
#include <vector>

#include "maplevel.h"

namespace editor {

using mapgen::CellPos;
using mapgen::Level;

enum class ToolKind { Wall, Floor, Ball, PowerBall, Decoration, VorbelStart, BugStart };

struct Tool {
  ToolKind kind;
  int value;  // ball 1..4, power ball 5..8, decoration 10..15; 0 for the others
  char key;   // the keyboard shortcut that picks it
  const char *name;
};

// The palette, in the order the panel shows it.
extern const Tool kTools[];
extern const int kNumTools;

// The palette index of the tool a key picks (lower case), or -1.
int tool_for_key(int ch);

// A level to start from: a ring of wall round open floor, both starts placed, no balls.
Level new_level();

// One cell under a tool. Starts always stand on floor: painting anything but floor over a start is
// refused, and placing a start clears its cell; the two starts never share a cell. True when the
// level changed.
bool paint(Level &level, const Tool &tool, int x, int y);

// The rectangle between two corner cells (in any order) under a tool; a start tool places its
// start at `to`. True when the level changed.
bool paint_rect(Level &level, const Tool &tool, CellPos from, CellPos to);
// The cells of the straight line from one cell to another, both included, each touching the next
// by a side: a fast drag samples the pointer far apart and its stroke still has no gap. A start
// tool places its start at `to`.
bool paint_line(Level &level, const Tool &tool, CellPos from, CellPos to);

// Header fields of the panel: a label, the range the checks accept and the step of one click.
struct Field {
  const char *label;
  int lo, hi, step;
};
extern const Field kFields[];
extern const int kNumFields;  // wall set, ball set, bugs, bug picture, points of values 1..8
int field_value(const Level &level, int field);
// Moves a field by `steps` steps, kept inside its range. True when it changed.
bool step_field(Level &level, int field, int steps);

// Undo and redo of whole levels: each edit remembers the level before it.
struct History {
  std::vector<Level> undo, redo;
};
constexpr size_t kMaxUndo = 256;
void remember(History &h, const Level &before);  // a new edit: the redo list is dropped
bool undo(History &h, Level &level);             // true when there was an edit to take back
bool redo(History &h, Level &level);

// The first problem about cell (x, y), or -1.
int problem_at(const std::vector<mapgen::Problem> &problems, int x, int y);

}  // namespace editor
