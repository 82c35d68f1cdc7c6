// Level maps for "maps.dat": the text picture a designer writes under data/maps, the checks that
// keep every shipped level playable under the game's movement rules, and the 1048-byte
// little-endian map record image the game loads (one DATA object per level).
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cellcodes.h"
#include "vorbel2_dat.h"

namespace mapgen {

constexpr int kMapSize = 22;            // cells per side of the maze
constexpr int kEdge = kMapSize - 1;     // last row and column: the far end of the edge tunnels
constexpr size_t kMapImageSize = 1048;  // bytes of one map record
constexpr size_t kMaxLevelFileSize =
    65536;  // a level text is about 1 KiB; anything far larger is not one

// Byte offsets of the map record fields (all signed 16-bit little-endian).
constexpr size_t kOffReserved = 0;
constexpr size_t kOffBugStartX = 2;
constexpr size_t kOffBugStartY = 4;
constexpr size_t kOffVorbelStartX = 6;
constexpr size_t kOffVorbelStartY = 8;
constexpr size_t kOffBugCount = 10;
constexpr size_t kOffBallCount = 12;
constexpr size_t kOffBugSprite = 14;
constexpr size_t kOffCells = 16;    // cell (x, y) at kOffCells + 2 * (22 * x + y)
constexpr size_t kOffPoints = 984;  // 32 score values; the game reads the first 8

// Ranges the tile and sprite artists build to.
constexpr int kWallSets = 19;      // wall themes 0..18, codes set * 100 + WallTile(neighbours)
constexpr int kFirstBallSet = 19;  // ball pictures live in sets 19, 20 and 21
constexpr int kLastBallSet = 21;
constexpr int kBugSprites = SPR_BUG_COUNT;    // the first objects of the actor datafile are bugs
constexpr int kMaxBugs = 20;                  // the game's bug table
constexpr int kFloorCode = CODE_PLAIN_FLOOR;  // open floor that shows nothing
constexpr int kDecorationBase = 2200;
constexpr int kMaxCellCode = 2399;  // highest code the game accepts in a map

// Neighbour bits of a wall cell: which of its neighbours are walls too (cellcodes.h).
constexpr int kMaskUp = WALL_UP;
constexpr int kMaskRight = WALL_RIGHT;
constexpr int kMaskDown = WALL_DOWN;
constexpr int kMaskLeft = WALL_LEFT;

enum class CellKind { Wall, Floor, Ball, PowerBall, Decoration };

struct Cell {
  CellKind kind = CellKind::Wall;
  int value = 0;  // ball 1..4, power ball 5..8, decoration 10..15; 0 for walls and floor
};

struct CellPos {
  int x = 0;  // column, 0 at the left
  int y = 0;  // row, 0 at the top
};

struct Level {
  std::string source;    // where the level came from, named in every message
  int picture_line = 0;  // file line of picture row 0, 0 when the level was not read from text
  std::string name;
  int wall_set = 0;
  int ball_set = kFirstBallSet;
  int bug_count = 0;
  int bug_sprite = 0;
  std::array<int, 8> points{};  // score of cell values 1..8
  CellPos vorbel_start;
  CellPos bug_start;
  std::array<std::array<Cell, kMapSize>, kMapSize>
      cells{};  // cells[x][y], column-major as in the game
};

// Reads the text form of a level. Returns "" on success, else a message naming `source` and the
// line.
std::string parse_level(const std::string &text, const std::string &source, Level &out);

// Reads a level file (at most kMaxLevelFileSize bytes) and parses it.
std::string load_level_file(const std::string &path, Level &out);

// Neighbour bits of cell (x, y): the WALL_* bits of its eight neighbours that are walls, a diagonal
// only where both sides beside it are walls (WallNeighbours); cells outside the grid are no walls.
int wall_mask(const Level &level, int x, int y);

// The cell code stored in the map record for cell (x, y).
int cell_code(const Level &level, int x, int y);

// Balls that must be eaten to clear the level (values 1..4; power balls do not count).
int ball_count(const Level &level);

// One reason a level cannot be shipped, and the cell it is about ({-1, -1}: the level as a whole).
struct Problem {
  std::string text;
  CellPos cell{-1, -1};
};

// Every reason the level cannot be shipped, each naming the level and the cell; empty when it is
// playable.
std::vector<Problem> level_problems(const Level &level);
std::vector<std::string> check_level(const Level &level);  // the texts of level_problems

// The text form of a level; parse_level reads it back as the same level. A start is written over
// its cell, so a start on anything but floor does not survive the trip.
std::string write_level_text(const Level &level);

// A level read back from a map record image (a custom map file): walls, balls, power balls and
// decorations from the cell codes, the wall and ball sets from the first wall and ball found, the
// name from the file name. Hidden balls become balls of the ball set; a start outside the grid is
// brought to its edge. "" or a message.
std::string level_from_image(const uint8_t *data, size_t size, const std::string &source,
                             Level &out);

// Two levels that play and read alike: every field but where they were read from.
bool same_level(const Level &a, const Level &b);

// A level from a file: a map record image when the name ends in ".map", else the text form.
std::string load_any_level(const std::string &path, Level &out);

// Writes a whole file under a new name and renames it into place, so a failed write leaves no half
// file behind; an output that is no regular file (a FIFO, a device) is written to, not replaced.
// 0 when written, else the errno value of the failure.
int write_file(const std::string &path, const std::string &bytes);

// Text from a file as a message may show it: control bytes and backslashes as \xNN.
std::string escaped(const std::string &s);

// The map record image of a level (kMapImageSize bytes).
std::vector<uint8_t> map_image(const Level &level);

}  // namespace mapgen
