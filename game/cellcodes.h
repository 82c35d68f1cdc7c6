// The bands of cell codes: what a map's code means for play (its cell value) and for the picture
// (which tile set draws it, and while which values). The game decodes codes with this one table,
// and the map compiler builds its codes from the same bands. Plain C++, no Allegro.
#pragma once

// One band of codes. A wall band gives the value 0 and draws object code % 100 of tile set
// code / 100; any other band gives the value code - base and draws object `value` of `set` while
// the value lies in shown_min..shown_max (so an eaten ball, now -1, is no longer drawn).
struct CellBand {
  int first, last;          // codes of the band
  int wall;                 // -1 for the wall band
  int base;                 // cell value = code - base (not for walls)
  int set;                  // tile set of the picture; -1: the band is never drawn
  int shown_min, shown_max; // values that are drawn
};

// Codes that lie in no band (exact hundreds from 1900 to 2300, and 2400 and more) are plain
// floor with nothing on it. Negative codes are not valid; they count as walls, which never open
// a hole in a maze.
constexpr CellBand kCellBands[] = {
    // first   last   wall base  set  shown
    {-32768, 1899, -1, 0, -1, 0, -1},    // walls and floor tiles of the sets 0..18
    {1901, 1999, 0, 1900, 19, 1, 8},     // balls 1..4 and power balls 5..8, set 19
    {2001, 2099, 0, 2000, 20, 1, 8},     // the same in set 20
    {2101, 2199, 0, 2100, 21, 1, 8},     // the same in set 21
    {2201, 2299, 0, 2200, 22, 10, 15},   // decorations 10..15; values 1..8 there are hidden balls
    {2301, 2399, 0, 2300, -1, 0, -1},    // hidden: eaten like the others, never drawn
};
constexpr int kNumCellBands = sizeof(kCellBands) / sizeof(kCellBands[0]);

// The value of empty floor, and of every eaten ball.
constexpr int CELL_FLOOR = -1;
// The value of a wall.
constexpr int CELL_WALL = 0;
// A code in no band: open floor that shows nothing.
constexpr int CODE_PLAIN_FLOOR = 2300;

// The band holding a code, or null for plain floor.
constexpr const CellBand* CellBandOf(int code) {
  for (const CellBand& b : kCellBands)
    if (code >= b.first && code <= b.last) return &b;
  return nullptr;
}
