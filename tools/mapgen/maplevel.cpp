// Level maps: parsing the designers' text pictures, the playability checks (what the vorbel can
// eat, where the bugs can go) and the map record image written into "maps.dat".
#include "maplevel.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fstream>
#include <sstream>

#include "lebytes.h"
#include "safefile.h"

namespace mapgen {

namespace {

// The picture legend (data/maps/README.md documents it for the designers).
struct Glyph {
  char ch;
  CellKind kind;
  int value;
};
static const Glyph kGlyphs[] = {
    {'#', CellKind::Wall, 0},        {' ', CellKind::Floor, 0},
    {'-', CellKind::Floor, 0},  // floor too; keeps a row's last column visible at tunnel mouths
    {'V', CellKind::Floor, 0},  // vorbel start
    {'B', CellKind::Floor, 0},  // bugs' start
    {'.', CellKind::Ball, 1},        {'1', CellKind::Ball, 1},
    {'2', CellKind::Ball, 2},        {'3', CellKind::Ball, 3},
    {'4', CellKind::Ball, 4},        {'o', CellKind::PowerBall, 5},
    {'5', CellKind::PowerBall, 5},   {'6', CellKind::PowerBall, 6},
    {'7', CellKind::PowerBall, 7},   {'8', CellKind::PowerBall, 8},
    {'a', CellKind::Decoration, 10},  // decorations: drawn from set 22, walked over, never eaten
    {'b', CellKind::Decoration, 11}, {'c', CellKind::Decoration, 12},
    {'d', CellKind::Decoration, 13}, {'e', CellKind::Decoration, 14},
    {'f', CellKind::Decoration, 15},
};

const Glyph *find_glyph(char ch) {
  for (const Glyph &g : kGlyphs)
    if (g.ch == ch) return &g;
  return nullptr;
}

std::string trim(const std::string &s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// A whole decimal integer of at most 6 digits (every header number is far smaller), so no overflow.
bool parse_int(const std::string &s, int &out) {
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  if (i == s.size() || s.size() - i > 6) return false;
  int v = 0;
  for (; i < s.size(); i++) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = neg ? -v : v;
  return true;
}

std::string where(const Level &level, int line) {
  std::string s = level.source;
  if (line > 0) s += ":" + std::to_string(line);
  return s + ": ";
}

std::string cell_name(int x, int y) {
  return "column " + std::to_string(x) + ", row " + std::to_string(y);
}

// Where a problem at cell (x, y) is reported: the picture line when the level came from text.
std::string where_cell(const Level &level, int y) {
  return where(level, level.picture_line > 0 ? level.picture_line + y : 0);
}

bool inside(int x, int y) { return x >= 0 && x < kMapSize && y >= 0 && y < kMapSize; }

bool is_open(const Level &level, int x, int y) {
  return inside(x, y) && level.cells[size_t(x)][size_t(y)].kind != CellKind::Wall;
}

bool is_edge(int x, int y) { return x == 0 || y == 0 || x == kEdge || y == kEdge; }

bool is_eatable(const Cell &c) { return c.kind == CellKind::Ball || c.kind == CellKind::PowerBall; }

using Grid = std::array<std::array<char, kMapSize>, kMapSize>;  // [x][y] flags, 1 set

// Cells whose ball the vorbel can eat, following its stepping rules exactly:
//  - It moves 5 pixels at a time and tests for a wall only when it stands exactly on a cell, and
//    only the cell it is about to enter.
//  - Its position never leaves 5..415 pixels: a step that reaches 0 puts it at 415, a step that
//    reaches 420 puts it at 5, and a held key carries it on to the next whole cell. So it only
//    ever stands on columns and rows 1..20; columns and rows 0 and 21 are tunnels it passes.
//  - Going up from row 1 needs row 0 open; it crosses row 0 and comes out on row 20 without
//    testing row 21 or row 20. Going down from row 20 needs row 21 open; it comes out on row 1.
//    Left from column 1 and right from column 20 do the same across the side edges.
//  - It eats the cell under its picture's top-left corner before each step. Crossing an edge
//    therefore eats the tunnel cell in row (or column) 0 in either direction, while row and
//    column 21 are never under that corner: a ball there can never be eaten.
//  - A cell it stands on is eaten when it steps off; every reached cell can be stepped off
//    again the way it was entered (tunnels are checked to be open at both ends).
Grid vorbel_eats(const Level &level) {
  Grid stand{}, eats{};
  std::deque<CellPos> frontier;
  auto reach = [&](int x, int y) {
    if (x < 1 || x > kEdge - 1 || y < 1 || y > kEdge - 1) return;
    if (!is_open(level, x, y) || stand[size_t(x)][size_t(y)]) return;
    stand[size_t(x)][size_t(y)] = 1;
    frontier.push_back({x, y});
  };
  reach(level.vorbel_start.x, level.vorbel_start.y);
  static const int kDirs[4][2] = {{0, -1}, {0, 1}, {-1, 0}, {1, 0}};
  while (!frontier.empty()) {
    CellPos p = frontier.front();
    frontier.pop_front();
    eats[size_t(p.x)][size_t(p.y)] = 1;
    for (const auto &d : kDirs) {
      int nx = p.x + d[0], ny = p.y + d[1];
      if (!is_open(level, nx, ny)) continue;
      if (!is_edge(nx, ny)) {
        reach(nx, ny);
        continue;
      }
      // Through an edge: the crossing passes over the tunnel cell on side 0 and lands on the
      // far side's first playable cell.
      if (d[1] != 0) {
        eats[size_t(nx)][0] = 1;
        reach(nx, ny == 0 ? kEdge - 1 : 1);
      } else {
        eats[0][size_t(ny)] = 1;
        reach(nx == 0 ? kEdge - 1 : 1, ny);
      }
    }
  }
  return eats;
}

// Cells a bug can walk to from its start without crossing an edge. A bug turns back at the right
// edge instead of passing it, so a level must not need the tunnels to bring the bugs to the vorbel.
Grid bug_region(const Level &level) {
  Grid seen{};
  std::deque<CellPos> frontier;
  const CellPos s = level.bug_start;
  if (!is_open(level, s.x, s.y)) return seen;
  seen[size_t(s.x)][size_t(s.y)] = 1;
  frontier.push_back(s);
  static const int kDirs[4][2] = {{0, -1}, {0, 1}, {-1, 0}, {1, 0}};
  while (!frontier.empty()) {
    CellPos p = frontier.front();
    frontier.pop_front();
    for (const auto &d : kDirs) {
      int nx = p.x + d[0], ny = p.y + d[1];
      if (!is_open(level, nx, ny) || seen[size_t(nx)][size_t(ny)]) continue;
      seen[size_t(nx)][size_t(ny)] = 1;
      frontier.push_back({nx, ny});
    }
  }
  return seen;
}

// A start cell must be plain floor inside the edge ring: actors never stand on the edge, and a
// move out of an edge cell would look at a cell outside the maze.
void check_start(const Level &level, const CellPos &s, const char *who, std::vector<Problem> &out) {
  if (s.x < 1 || s.x > kEdge - 1 || s.y < 1 || s.y > kEdge - 1) {
    out.push_back({where(level, 0) + who + " start at " + cell_name(s.x, s.y) +
                   " is outside the playfield (columns and rows 1 to 20)"});
    return;
  }
  if (level.cells[size_t(s.x)][size_t(s.y)].kind != CellKind::Floor)
    out.push_back(
        {where_cell(level, s.y) + who + " start at " + cell_name(s.x, s.y) + " is not open floor",
         s});
}

// One edge tunnel: `a` and `b` are its two mouths, `la` and `lb` the playable cells the vorbel
// lands on when it comes out of them.
void check_tunnel(const Level &level, CellPos a, CellPos b, CellPos la, CellPos lb,
                  const std::string &what, std::vector<Problem> &out) {
  bool oa = is_open(level, a.x, a.y), ob = is_open(level, b.x, b.y);
  if (oa != ob) {
    CellPos open = oa ? a : b, shut = oa ? b : a;
    out.push_back({where_cell(level, open.y) + what + " is open at " + cell_name(open.x, open.y) +
                       " but walled at " + cell_name(shut.x, shut.y) +
                       ": the vorbel would pass through a wall at the far end",
                   shut});
    return;
  }
  if (!oa) return;
  for (CellPos l : {la, lb})
    if (!is_open(level, l.x, l.y))
      out.push_back(
          {where_cell(level, l.y) + what + " comes out into the wall at " + cell_name(l.x, l.y),
           l});
}

// The picture character of cell (x, y) in the text form; floor at the edges is '-', so that no
// row ends or starts with a space an editor could strip.
char glyph_of(const Level &level, int x, int y) {
  if (x == level.vorbel_start.x && y == level.vorbel_start.y) return 'V';
  if (x == level.bug_start.x && y == level.bug_start.y) return 'B';
  const Cell &c = level.cells[size_t(x)][size_t(y)];
  switch (c.kind) {
    case CellKind::Wall: return '#';
    case CellKind::Ball:
      if (c.value == 1) return '.';
      if (c.value >= 2 && c.value <= 4) return char('0' + c.value);
      break;
    case CellKind::PowerBall:
      if (c.value == 5) return 'o';
      if (c.value >= 6 && c.value <= 8) return char('0' + c.value);
      break;
    case CellKind::Decoration:
      if (c.value >= 10 && c.value <= 15) return char('a' + c.value - 10);
      break;
    case CellKind::Floor: break;
  }
  return x == 0 || x == kEdge ? '-' : ' ';
}

}  // namespace

std::string escaped(const std::string &s) {
  std::string out;
  for (const char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 32 && c != 127 && c != '\\') {
      out += ch;
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", c);
      out += code;
    }
  }
  return out;
}

std::string parse_level(const std::string &text, const std::string &source, Level &out) {
  Level level;
  level.source = source;
  std::vector<std::string> lines;
  {
    std::string cur;
    for (char ch : text) {
      if (ch == '\n') {
        lines.push_back(cur);
        cur.clear();
      } else {
        cur += ch;
      }
    }
    if (!cur.empty()) lines.push_back(cur);
    for (std::string &l : lines)
      if (!l.empty() && l.back() == '\r') l.pop_back();  // files edited on Windows
  }

  enum { kName, kWalls, kBalls, kBugs, kBugSprite, kPoints, kKeys };
  static const char *const kKeyNames[kKeys] = {"name", "walls",      "balls",
                                               "bugs", "bug_sprite", "points"};
  int seen_at[kKeys] = {};
  size_t i = 0;
  for (; i < lines.size(); i++) {
    const int line = int(i) + 1;
    std::string l = trim(lines[i]);
    if (l.empty() || l[0] == ';' || l[0] == '#') continue;
    if (l == "map:") break;
    size_t colon = l.find(':');
    if (colon == std::string::npos)
      return where(level, line) + "expected 'key: value' or 'map:', found '" + escaped(l) + "'";
    std::string key = trim(l.substr(0, colon)), value = trim(l.substr(colon + 1));
    int k = 0;
    while (k < kKeys && key != kKeyNames[k]) k++;
    if (k == kKeys) return where(level, line) + "unknown header key '" + escaped(key) + "'";
    if (seen_at[k])
      return where(level, line) + "'" + escaped(key) + "' given twice (first on line " +
             std::to_string(seen_at[k]) + ")";
    seen_at[k] = line;
    if (k == kName) {
      if (value.empty()) return where(level, line) + "empty level name";
      level.name = value;
    } else if (k == kPoints) {
      std::istringstream in(value);
      std::string word;
      size_t n = 0;
      while (in >> word) {
        if (n == level.points.size())
          return where(level, line) + "'points' takes 8 numbers (values 1..8), found more";
        if (!parse_int(word, level.points[n]))
          return where(level, line) + "'points' has '" + escaped(word) + "', not a number";
        n++;
      }
      if (n != level.points.size())
        return where(level, line) + "'points' takes 8 numbers (values 1..8), found " +
               std::to_string(n);
    } else {
      int v = 0;
      if (!parse_int(value, v))
        return where(level, line) + "'" + key + "' needs a whole number, found '" + escaped(value) +
               "'";
      int *fields[kKeys] = {nullptr,          &level.wall_set,   &level.ball_set,
                            &level.bug_count, &level.bug_sprite, nullptr};
      *fields[k] = v;
    }
  }
  for (int k = 0; k < kKeys; k++)
    if (!seen_at[k]) return where(level, 0) + "the header has no '" + kKeyNames[k] + "'";
  if (i == lines.size()) return where(level, 0) + "no 'map:' line before the picture";

  const size_t first = i + 1;
  level.picture_line = int(first) + 1;
  size_t rows = 0;
  while (first + rows < lines.size() && rows < size_t(kMapSize) &&
         !trim(lines[first + rows]).empty())
    rows++;
  if (rows != size_t(kMapSize))
    return where(level, level.picture_line) + "the picture has " + std::to_string(rows) +
           " rows, expected 22";
  for (size_t j = first + rows; j < lines.size(); j++)
    if (!trim(lines[j]).empty()) return where(level, int(j) + 1) + "text after the 22 picture rows";

  int vorbels = 0, bugs = 0;
  for (int y = 0; y < kMapSize; y++) {
    const std::string &row = lines[first + size_t(y)];
    const int line = level.picture_line + y;
    if (row.size() != size_t(kMapSize))
      return where(level, line) + "picture row " + std::to_string(y) + " has " +
             std::to_string(row.size()) + " columns, expected 22";
    for (int x = 0; x < kMapSize; x++) {
      const Glyph *g = find_glyph(row[size_t(x)]);
      if (!g) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02x", unsigned(uint8_t(row[size_t(x)])));
        return where(level, line) + "unknown character " + hex + " at " + cell_name(x, y);
      }
      level.cells[size_t(x)][size_t(y)] = Cell{g->kind, g->value};
      if (g->ch == 'V') {
        vorbels++;
        level.vorbel_start = {x, y};
      } else if (g->ch == 'B') {
        bugs++;
        level.bug_start = {x, y};
      }
    }
  }
  if (vorbels != 1)
    return where(level, level.picture_line) +
           "the picture needs exactly one 'V' (vorbel start), found " + std::to_string(vorbels);
  if (bugs != 1)
    return where(level, level.picture_line) +
           "the picture needs exactly one 'B' (bugs' start), found " + std::to_string(bugs);
  out = level;
  return "";
}

std::string load_level_file(const std::string &path, Level &out) {
  const std::string irregular = safefile::not_regular(path);
  if (!irregular.empty()) return path + ": " + irregular;
  std::ifstream in(path, std::ios::binary);
  if (!in) return path + ": cannot open";
  std::string text;
  char buf[4096];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    text.append(buf, size_t(in.gcount()));
    if (text.size() > kMaxLevelFileSize)
      return path + ": larger than " + std::to_string(kMaxLevelFileSize) + " bytes, not a level";
  }
  if (in.bad()) return path + ": read error";
  return parse_level(text, path, out);
}

int wall_mask(const Level &level, int x, int y) {
  auto wall = [&](int cx, int cy) {
    return inside(cx, cy) && level.cells[size_t(cx)][size_t(cy)].kind == CellKind::Wall;
  };
  return WallNeighbours(
      (wall(x, y - 1) ? WALL_UP : 0) | (wall(x + 1, y) ? WALL_RIGHT : 0) |
      (wall(x, y + 1) ? WALL_DOWN : 0) | (wall(x - 1, y) ? WALL_LEFT : 0) |
      (wall(x + 1, y - 1) ? WALL_UP_RIGHT : 0) | (wall(x + 1, y + 1) ? WALL_DOWN_RIGHT : 0) |
      (wall(x - 1, y + 1) ? WALL_DOWN_LEFT : 0) | (wall(x - 1, y - 1) ? WALL_UP_LEFT : 0));
}

int cell_code(const Level &level, int x, int y) {
  const Cell &c = level.cells[size_t(x)][size_t(y)];
  switch (c.kind) {
    case CellKind::Wall: return level.wall_set * 100 + WallTile(wall_mask(level, x, y));
    case CellKind::Ball:
    case CellKind::PowerBall: return level.ball_set * 100 + c.value;
    case CellKind::Decoration: return kDecorationBase + c.value;
    case CellKind::Floor: break;
  }
  return kFloorCode;
}

int ball_count(const Level &level) {
  int n = 0;
  for (const auto &col : level.cells)
    for (const Cell &c : col) n += c.kind == CellKind::Ball ? 1 : 0;
  return n;
}

std::vector<Problem> level_problems(const Level &level) {
  std::vector<Problem> out;
  const std::string at = where(level, 0);
  auto range = [&](const char *what, int v, int lo, int hi) {
    if (v < lo || v > hi)
      out.push_back({at + what + " is " + std::to_string(v) + ", must be " + std::to_string(lo) +
                     " to " + std::to_string(hi)});
  };
  if (level.name.empty()) out.push_back({at + "the level has no name"});
  range("the wall set", level.wall_set, 0, kWallSets - 1);
  range("the ball set", level.ball_set, kFirstBallSet, kLastBallSet);
  range("the bug count", level.bug_count, 0, kMaxBugs);
  range("the bug picture", level.bug_sprite, 0, kBugSprites - 1);
  for (size_t k = 0; k < level.points.size(); k++)
    range(("the points of value " + std::to_string(k + 1)).c_str(), level.points[k], 0, 32767);

  for (int x = 0; x < kMapSize; x++)
    for (int y = 0; y < kMapSize; y++) {
      const Cell &c = level.cells[size_t(x)][size_t(y)];
      bool ok = (c.kind == CellKind::Ball && c.value >= 1 && c.value <= 4) ||
                (c.kind == CellKind::PowerBall && c.value >= 5 && c.value <= 8) ||
                (c.kind == CellKind::Decoration && c.value >= 10 && c.value <= 15) ||
                ((c.kind == CellKind::Wall || c.kind == CellKind::Floor) && c.value == 0);
      if (!ok)
        out.push_back({where_cell(level, y) + "cell at " + cell_name(x, y) + " has value " +
                           std::to_string(c.value) + ", wrong for its kind",
                       {x, y}});
    }

  const size_t before_starts = out.size();
  check_start(level, level.vorbel_start, "the vorbel", out);
  check_start(level, level.bug_start, "the bugs'", out);
  // With a start off the floor every ball would be reported unreachable too; the start says it all.
  const bool starts_ok = out.size() == before_starts;
  if (level.vorbel_start.x == level.bug_start.x && level.vorbel_start.y == level.bug_start.y)
    out.push_back({at + "the vorbel and the bugs start on the same cell", level.bug_start});

  for (int x : {0, kEdge})
    for (int y : {0, kEdge})
      if (is_open(level, x, y))
        out.push_back({where_cell(level, y) + "corner " + cell_name(x, y) +
                           " must be a wall: no tunnel can use it",
                       {x, y}});
  for (int k = 1; k < kEdge; k++) {
    check_tunnel(level, {0, k}, {kEdge, k}, {kEdge - 1, k}, {1, k},
                 "the tunnel on row " + std::to_string(k), out);
    check_tunnel(level, {k, 0}, {k, kEdge}, {k, kEdge - 1}, {k, 1},
                 "the tunnel on column " + std::to_string(k), out);
  }

  const int balls = ball_count(level);
  if (balls == 0) out.push_back({at + "the level has no balls: it would be cleared at once"});

  if (!starts_ok) return out;
  const Grid eats = vorbel_eats(level);
  const CellPos v = level.vorbel_start;
  for (int y = 0; y < kMapSize; y++)
    for (int x = 0; x < kMapSize; x++) {
      const Cell &c = level.cells[size_t(x)][size_t(y)];
      if (!is_eatable(c) || eats[size_t(x)][size_t(y)]) continue;
      std::string what = c.kind == CellKind::Ball ? "ball" : "power ball";
      if (x == kEdge || y == kEdge)
        out.push_back(
            {where_cell(level, y) + what + " at " + cell_name(x, y) +
                 " lies in the far edge column or row, which the vorbel passes without eating",
             {x, y}});
      else
        out.push_back({where_cell(level, y) + what + " at " + cell_name(x, y) +
                           " cannot be reached by the vorbel from its start at " +
                           cell_name(v.x, v.y),
                       {x, y}});
    }

  const Grid bugs = bug_region(level);
  if (!bugs[size_t(v.x)][size_t(v.y)]) {
    const CellPos b = level.bug_start;
    out.push_back({at + "the bugs' start at " + cell_name(b.x, b.y) +
                       " is not connected to the vorbel's start at " + cell_name(v.x, v.y) +
                       " without the edge tunnels",
                   b});
  }
  return out;
}

std::vector<uint8_t> map_image(const Level &level) {
  std::vector<uint8_t> img(kMapImageSize, 0);
  Put16(img.data() + kOffReserved, 0);
  Put16(img.data() + kOffBugStartX, level.bug_start.x);
  Put16(img.data() + kOffBugStartY, level.bug_start.y);
  Put16(img.data() + kOffVorbelStartX, level.vorbel_start.x);
  Put16(img.data() + kOffVorbelStartY, level.vorbel_start.y);
  Put16(img.data() + kOffBugCount, level.bug_count);
  Put16(img.data() + kOffBallCount, ball_count(level));
  Put16(img.data() + kOffBugSprite, level.bug_sprite);
  for (int x = 0; x < kMapSize; x++)
    for (int y = 0; y < kMapSize; y++)
      Put16(img.data() + kOffCells + 2 * size_t(kMapSize * x + y), cell_code(level, x, y));
  for (size_t k = 0; k < level.points.size(); k++)
    Put16(img.data() + kOffPoints + 2 * k, level.points[k]);
  return img;
}

std::vector<std::string> check_level(const Level &level) {
  std::vector<std::string> texts;
  for (const Problem &p : level_problems(level)) texts.push_back(p.text);
  return texts;
}

std::string write_level_text(const Level &level) {
  std::string t = "; " + level.name +
                  ", drawn with vorbel-edit. Legend: # wall, . 1-4 ball, o 5-8 power ball,\n"
                  "; space - floor, V vorbel start, B bugs' start, a-f decoration\n";
  t += "name: " + level.name + "\n";
  t += "walls: " + std::to_string(level.wall_set) + "\n";
  t += "balls: " + std::to_string(level.ball_set) + "\n";
  t += "bugs: " + std::to_string(level.bug_count) + "\n";
  t += "bug_sprite: " + std::to_string(level.bug_sprite) + "\n";
  t += "points:";
  for (int p : level.points) t += " " + std::to_string(p);
  t += "\nmap:\n";
  for (int y = 0; y < kMapSize; y++) {
    for (int x = 0; x < kMapSize; x++) t += glyph_of(level, x, y);
    t += "\n";
  }
  return t;
}

std::string level_from_image(const uint8_t *data, size_t size, const std::string &source,
                             Level &out) {
  if (size != kMapImageSize)
    return source + ": " + (size > kMapImageSize ? "more than" : std::to_string(size)) +
           " bytes, a map file holds " + std::to_string(kMapImageSize);
  Level level;
  level.source = source;
  size_t slash = source.find_last_of("/\\");
  level.name = source.substr(slash == std::string::npos ? 0 : slash + 1);
  size_t dot = level.name.rfind('.');
  if (dot != std::string::npos && dot > 0) level.name.erase(dot);
  // A start outside the grid is brought to its edge: the text form can only place it on a cell,
  // and the checks still name it as outside the playfield.
  auto start = [&](size_t off_x, size_t off_y) {
    return CellPos{std::clamp(Get16(data + off_x), 0, kEdge),
                   std::clamp(Get16(data + off_y), 0, kEdge)};
  };
  level.bug_start = start(kOffBugStartX, kOffBugStartY);
  level.vorbel_start = start(kOffVorbelStartX, kOffVorbelStartY);
  level.bug_count = Get16(data + kOffBugCount);
  level.bug_sprite = Get16(data + kOffBugSprite);
  for (size_t k = 0; k < level.points.size(); k++)
    level.points[k] = Get16(data + kOffPoints + 2 * k);
  bool wall_seen = false, balls_seen = false;
  for (int x = 0; x < kMapSize; x++)
    for (int y = 0; y < kMapSize; y++) {
      const int code = Get16(data + kOffCells + 2 * size_t(kMapSize * x + y));
      if (code < 0 || code > kMaxCellCode)
        return source + ": cell at " + cell_name(x, y) + " has the code " + std::to_string(code) +
               ", outside 0 to " + std::to_string(kMaxCellCode);
      Cell &c = level.cells[size_t(x)][size_t(y)];
      c = Cell{CellKind::Floor, 0};
      const CellBand *band = CellBandOf(code);
      if (!band) continue;
      if (band->wall) {
        c.kind = CellKind::Wall;
        if (!wall_seen) level.wall_set = code / 100;
        wall_seen = true;
        continue;
      }
      const int v = code - band->base;
      if (v >= 1 && v <= 8) {
        c = Cell{v <= 4 ? CellKind::Ball : CellKind::PowerBall, v};
        if (!balls_seen && band->set >= kFirstBallSet && band->set <= kLastBallSet) {
          level.ball_set = band->set;
          balls_seen = true;
        }
      } else if (band->set == kDecorationBase / 100 && v >= 10 && v <= 15) {
        c = Cell{CellKind::Decoration, v};
      }
    }
  out = level;
  return "";
}

bool same_level(const Level &a, const Level &b) {
  if (a.name != b.name || a.wall_set != b.wall_set || a.ball_set != b.ball_set ||
      a.bug_count != b.bug_count || a.bug_sprite != b.bug_sprite || a.points != b.points ||
      a.vorbel_start.x != b.vorbel_start.x || a.vorbel_start.y != b.vorbel_start.y ||
      a.bug_start.x != b.bug_start.x || a.bug_start.y != b.bug_start.y)
    return false;
  for (int x = 0; x < kMapSize; x++)
    for (int y = 0; y < kMapSize; y++) {
      const Cell &ca = a.cells[size_t(x)][size_t(y)], &cb = b.cells[size_t(x)][size_t(y)];
      if (ca.kind != cb.kind || ca.value != cb.value) return false;
    }
  return true;
}

std::string load_any_level(const std::string &path, Level &out) {
  const bool is_map = path.size() >= 4 && path.compare(path.size() - 4, 4, ".map") == 0;
  if (!is_map) return load_level_file(path, out);
  const std::string irregular = safefile::not_regular(path);
  if (!irregular.empty()) return path + ": " + irregular;
  std::ifstream in(path, std::ios::binary);
  if (!in) return path + ": cannot open";
  std::vector<uint8_t> bytes(kMapImageSize + 1);  // one byte more tells a file that is too long
  in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size()));
  return level_from_image(bytes.data(), size_t(in.gcount()), path, out);
}

int write_file(const std::string &path, const std::string &bytes) {
  return safefile::write_whole(path, bytes.data(), bytes.size());
}

}  // namespace mapgen
