// The bands of cell codes: what a map's code means for play (its cell value) and for the picture
// (which tile set draws it, and while which values). The game decodes codes with this one table,
// and the map compiler builds its codes from the same bands. Plain C++, no Allegro.
#pragma once

// One band of codes. A wall band gives the value 0 and draws object code % 100 of tile set
// code / 100; any other band gives the value code - base and draws object `value` of `set` while
// the value lies in shown_min..shown_max (so an eaten ball, now -1, is no longer drawn).
struct CellBand {
  int first, last;           // codes of the band
  int wall;                  // -1 for the wall band
  int base;                  // cell value = code - base (not for walls)
  int set;                   // tile set of the picture; -1: the band is never drawn
  int shown_min, shown_max;  // values that are drawn
};

// Codes that lie in no band (exact hundreds from 1900 to 2300, and 2400 and more) are plain
// floor with nothing on it. Negative codes are not valid; they count as walls, which never open
// a hole in a maze.
constexpr CellBand kCellBands[] = {
    // first   last   wall base  set  shown
    {-32768, 1899, -1, 0, -1, 0, -1},   // walls and floor tiles of the sets 0..18
    {1901, 1999, 0, 1900, 19, 1, 8},    // balls 1..4 and power balls 5..8, set 19
    {2001, 2099, 0, 2000, 20, 1, 8},    // the same in set 20
    {2101, 2199, 0, 2100, 21, 1, 8},    // the same in set 21
    {2201, 2299, 0, 2200, 22, 10, 15},  // decorations 10..15; values 1..8 there are hidden balls
    {2301, 2399, 0, 2300, -1, 0, -1},   // hidden: eaten like the others, never drawn
};
constexpr int kNumCellBands = sizeof(kCellBands) / sizeof(kCellBands[0]);

// The value of empty floor, and of every eaten ball.
constexpr int CELL_FLOOR = -1;
// The value of a wall.
constexpr int CELL_WALL = 0;
// A code in no band: open floor that shows nothing.
constexpr int CODE_PLAIN_FLOOR = 2300;

// The band holding a code, or null for plain floor.
constexpr const CellBand *CellBandOf(int code) {
  for (const CellBand &b : kCellBands)
    if (code >= b.first && code <= b.last) return &b;
  return nullptr;
}

// Wall tiles. A wall cell's picture (object code % 100 of its wall set) is chosen by which of its
// eight neighbours are walls too. A diagonal neighbour counts only where the two side neighbours
// beside it are walls as well: then it fills the inner corner between them, so a wall block two
// or more cells thick is solid. That leaves 47 tiles a set: objects 0..15 for the sixteen
// combinations of the sides with no corner filled (bits 1..8), then one object for every
// combination with filled corners, in increasing order of its neighbour bits.
enum {
  WALL_UP = 1,
  WALL_RIGHT = 2,
  WALL_DOWN = 4,
  WALL_LEFT = 8,
  WALL_UP_RIGHT = 16,
  WALL_DOWN_RIGHT = 32,
  WALL_DOWN_LEFT = 64,
  WALL_UP_LEFT = 128,
};
constexpr int NUM_WALL_TILES = 47;

// The neighbour bits of a wall cell with every diagonal dropped that does not lie between two
// side walls.
constexpr int WallNeighbours(int bits) {
  const int sides = bits & 15;
  int r = sides;
  if ((bits & WALL_UP_RIGHT) && (sides & WALL_UP) && (sides & WALL_RIGHT)) r |= WALL_UP_RIGHT;
  if ((bits & WALL_DOWN_RIGHT) && (sides & WALL_DOWN) && (sides & WALL_RIGHT)) r |= WALL_DOWN_RIGHT;
  if ((bits & WALL_DOWN_LEFT) && (sides & WALL_DOWN) && (sides & WALL_LEFT)) r |= WALL_DOWN_LEFT;
  if ((bits & WALL_UP_LEFT) && (sides & WALL_UP) && (sides & WALL_LEFT)) r |= WALL_UP_LEFT;
  return r;
}

// The tile object (0..46) of a wall cell with these neighbour bits.
constexpr int WallTile(int bits) {
  const int want = WallNeighbours(bits & 255);
  if (want < 16) return want;
  int object = 16;
  for (int b = 16; b < 256; b++) {
    if (WallNeighbours(b) != b) continue;
    if (b == want) return object;
    object++;
  }
  return 0;
}

// The neighbour bits that wall tile `object` is drawn for; -1 for a number outside 0..46.
constexpr int WallTileNeighbours(int object) {
  if (object >= 0 && object < 16) return object;
  int n = 16;
  for (int b = 16; b < 256; b++) {
    if (WallNeighbours(b) != b) continue;
    if (n == object) return b;
    n++;
  }
  return -1;
}

static_assert(WallTile(255) == NUM_WALL_TILES - 1 && WallTileNeighbours(NUM_WALL_TILES) == -1,
              "47 wall tiles: 16 without filled corners, 31 with");
