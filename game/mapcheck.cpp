// Level maps from outside the program: the byte image of a map record (custom map files and the
// map block of saved games) and the one check every map passes before the game plays it, whether
// it comes from "maps.dat" at start-up, from a custom map file or from a saved game.
#include <cstdio>
#include <cstring>

#include "Template.h"
#include "lebytes.h"

namespace {

// Header fields in file order; cells (column by column) and points follow.
int16_t map_struct::*const kHeader[] = {&map_struct::reserved,       &map_struct::bug_start_x,
                                        &map_struct::bug_start_y,    &map_struct::vorbel_start_x,
                                        &map_struct::vorbel_start_y, &map_struct::bug_count,
                                        &map_struct::ball_count,     &map_struct::bug_sprite};

int Refuse(char *why, int size, const char *message, int a = 0, int b = 0, int c = 0) {
  if (why && size > 0) snprintf(why, size_t(size), message, a, b, c);
  return 0;
}

}  // namespace

void MapFromBytes(const unsigned char *b, map_struct *m) {
  for (auto field : kHeader) m->*field = int16_t(Get16(b)), b += 2;
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++) m->cells[x][y] = int16_t(Get16(b)), b += 2;
  for (int16_t &p : m->points) p = int16_t(Get16(b)), b += 2;
}

void MapToBytes(const map_struct *m, unsigned char *b) {
  for (auto field : kHeader) Put16(b, m->*field), b += 2;
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++) Put16(b, m->cells[x][y]), b += 2;
  for (int16_t p : m->points) Put16(b, p), b += 2;
}

// What the game relies on when it plays a map: start cells where an actor can stand and move
// (inside the edge ring, open, not shared), codes the cell and picture tables cover, a bug count
// the bug table holds, a bug picture that exists among the bug pictures, points no eating can
// turn into a loss, and a ball count that eating can bring to 0. Balls in column or row 21 do not
// count: the vorbel passes them uneaten.
int CheckMap(const map_struct *m, char *why, int size) {
  for (int x = 0; x < MAP_W; x++)
    for (int y = 0; y < MAP_H; y++) {
      int code = m->cells[x][y];
      if (code < 0 || code > MAX_CELL_CODE)
        return Refuse(why, size, "cell (%d, %d) has the code %d, outside 0 to 2399", x, y, code);
    }
  const struct {
    const char *who;
    int x, y;
  } starts[] = {{"vorbel's", m->vorbel_start_x, m->vorbel_start_y},
                {"bugs'", m->bug_start_x, m->bug_start_y}};
  for (const auto &s : starts) {
    char message[96];
    if (s.x < 1 || s.x > MAP_W - 2 || s.y < 1 || s.y > MAP_H - 2) {
      snprintf(message, sizeof message, "the %s start cell (%%d, %%d) is outside the playfield",
               s.who);
      return Refuse(why, size, message, s.x, s.y);
    }
    if (CellValue(m->cells[s.x][s.y]) == 0) {
      snprintf(message, sizeof message, "the %s start cell (%%d, %%d) is a wall", s.who);
      return Refuse(why, size, message, s.x, s.y);
    }
  }
  if (m->vorbel_start_x == m->bug_start_x && m->vorbel_start_y == m->bug_start_y)
    return Refuse(why, size, "the vorbel and the bugs start on the same cell (%d, %d)",
                  m->bug_start_x, m->bug_start_y);
  if (m->bug_count < 0 || m->bug_count > MAX_BUGS)
    return Refuse(why, size, "the bug count %d is outside 0 to %d", m->bug_count, MAX_BUGS);
  int pictures = num_sprites < SPR_BUG_COUNT ? num_sprites : SPR_BUG_COUNT;
  if (m->bug_sprite < 0 || m->bug_sprite >= pictures)
    return Refuse(why, size, "the bug picture %d is not one of the %d bug pictures", m->bug_sprite,
                  pictures);
  for (int k = 0; k < 32; k++)
    if (m->points[k] < 0)
      return Refuse(why, size, "the points %d of the cell value %d are below 0", m->points[k],
                    k + 1);
  int balls = 0;
  for (int x = 0; x < MAP_W - 1; x++)
    for (int y = 0; y < MAP_H - 1; y++) {
      int v = CellValue(m->cells[x][y]);
      if (v >= 1 && v <= 4) balls++;
    }
  if (m->ball_count < 1 || m->ball_count > balls)
    return Refuse(why, size, "the ball count %d does not fit the %d balls of the map",
                  m->ball_count, balls);
  return -1;
}

// Every object of "maps.dat" is a level the game plays by index: it must be raw data of a map
// record's size (a picture or a font of that size would be read as cells) and a playable map.
int CheckLevelData(DATAFILE *d, char *why, int size) {
  if (!d || d[0].type == DAT_END)
    return Refuse(why, size, "File maps.dat is damaged: it holds no level map");
  for (int i = 0; d[i].type != DAT_END; i++) {
    if (d[i].type != DAT_DATA || !d[i].dat || d[i].size < long(sizeof(map_struct)))
      return Refuse(why, size, "File maps.dat is damaged: object %d is not a level map", i);
    char reason[160];
    if (!CheckMap(static_cast<const map_struct *>(d[i].dat), reason, sizeof reason)) {
      if (why && size > 0)
        snprintf(why, size_t(size), "File maps.dat is damaged: level %d: %s", i + 1, reason);
      return 0;
    }
  }
  return -1;
}
