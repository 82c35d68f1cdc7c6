// A headless stand-in for the game's resources and a clean game state for the play tests.
// Allegro runs without a system driver; `screen` and the maze buffer are memory bitmaps; the
// datafiles are in-memory object arrays whose pictures are solid squares of known colours, so a
// test can tell by one pixel which picture was drawn where.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <initializer_list>
#include <string>
#include <vector>

#include "Template.h"

namespace testgame {

// Colours of the test pictures.
inline int WallColour(int set) { return 40 + set; }  // every object of the sets 0..18
inline int BallColour(int set, int obj) { return 160 + 10 * (set - 19) + obj; }  // sets 19..22
inline int SpriteColour(int n) { return 100 + n; }
inline int GraphicColour(int n) { return 210 + n; }

constexpr int kWallObjects = 10;  // each wall set holds objects 0..9 only
constexpr int kNumSprites = 44;

// Codes of the map picture legend.
constexpr int kWall = 0;
constexpr int kFloor = 1900;
constexpr int kBall = 1901;       // value 1
constexpr int kPowerBall = 1905;  // value 5

// The resources, built once per test program.
struct Resources {
  std::vector<std::vector<DATAFILE>> sets;
  std::vector<DATAFILE> sprite_objects;
  std::vector<DATAFILE> graphic_objects;
  std::vector<DATAFILE> sound_objects;
  PALETTE palette;

  static BITMAP* Square(int w, int h, int colour) {
    BITMAP* b = create_bitmap(w, h);
    clear_to_color(b, colour);
    return b;
  }
  static DATAFILE End() { return DATAFILE{nullptr, DAT_END, 0, nullptr}; }
  static DATAFILE Picture(BITMAP* b) { return DATAFILE{b, DAT_BITMAP, 0, nullptr}; }

  Resources() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
    set_color_depth(8);
    screen = create_bitmap(640, 480);
    map_bitmap = create_bitmap(441, 441);

    sets.resize(NUM_SETS);
    for (int s = 0; s < NUM_SETS; s++) {
      int count = s <= 18 ? kWallObjects : (s == 22 ? 16 : (s == 23 ? 1 : 9));
      for (int o = 0; o < count; o++)
        sets[s].push_back(Picture(Square(CELL, CELL, s <= 18 ? WallColour(s) : BallColour(s, o))));
      sets[s].push_back(End());
    }
    for (int n = 0; n < kNumSprites; n++) sprite_objects.push_back(Picture(Square(CELL, CELL, SpriteColour(n))));
    sprite_objects.push_back(End());

    for (int n = 0; n < 30; n++) {
      if (n == GFX_FONT_LARGE || n == GFX_FONT_BUTTON || n == GFX_FONT_STATUS) {
        graphic_objects.push_back(DATAFILE{font, DAT_FONT, 0, nullptr});
      } else if (n == GFX_PALETTE) {
        graphic_objects.push_back(DATAFILE{palette, DAT_PALETTE, 0, nullptr});
      } else {
        int w = 10, h = 10;
        if (n == GFX_PANEL_TOP) w = 165, h = 150;
        if (n == GFX_PANEL_BOTTOM) w = 165, h = 290;
        graphic_objects.push_back(Picture(Square(w, h, GraphicColour(n))));
      }
    }
    graphic_objects.push_back(End());

    // Three effects only: the numbers above 2 name samples this file does not have.
    for (int n = 0; n < 3; n++) {
      SAMPLE* s = create_sample(8, 0, 11025, 16);
      sound_objects.push_back(DATAFILE{s, DAT_SAMPLE, 0, nullptr});
    }
    sound_objects.push_back(End());
  }

  ~Resources() {
    for (auto* objects : {&sprite_objects, &graphic_objects, &sound_objects})
      for (DATAFILE& d : *objects)
        if (d.type == DAT_BITMAP) destroy_bitmap(static_cast<BITMAP*>(d.dat));
        else if (d.type == DAT_SAMPLE) destroy_sample(static_cast<SAMPLE*>(d.dat));
    for (auto& set : sets)
      for (DATAFILE& d : set)
        if (d.type == DAT_BITMAP) destroy_bitmap(static_cast<BITMAP*>(d.dat));
    destroy_bitmap(map_bitmap);
    destroy_bitmap(screen);
    map_bitmap = nullptr;
    screen = nullptr;
  }
};

inline Resources& TheResources() {
  static Resources r;
  return r;
}

// Every test starts from a level of walls with the resources in place and a Normal game running.
class GameTest : public ::testing::Test {
 protected:
  map_struct level{};

  void SetUp() override {
    Resources& r = TheResources();
    for (int s = 0; s < NUM_SETS; s++) {
      set_graphics[s] = r.sets[s].data();
      set_sizes[s] = static_cast<int>(r.sets[s].size()) - 1;
    }
    sprites = r.sprite_objects.data();
    num_sprites = kNumSprites;
    graphics = r.graphic_objects.data();
    sounds = nullptr;
    clear_to_color(screen, 0);

    for (int x = 0; x < MAP_W; x++)
      for (int y = 0; y < MAP_H; y++) level.cells[x][y] = kWall;
    for (int k = 0; k < 32; k++) level.points[k] = static_cast<int16_t>(10 * (k + 1));
    level.bug_sprite = 10;
    gmap = &level;
    BuildCellValues();

    for (int k = 0; k < KEY_MAX; k++) key[k] = 0;
    sound_on = 0;
    music_on = 0;
    dif_level = 1;
    vorbel = actor_struct{};
    vorbel.lives = 4;
    vorbel.sprite = VORBEL_RIGHT;
    for (actor_struct& b : bugs) b = actor_struct{};
    num_bugs = 0;
    num_balls = 100;
    end_game = 0;
    state_timer = 0;
    max_bugs_state = 2000;
    vorbel_speed = 10;
    bug_speed = 10;
    vorbel_timer = 0;
    bug_timer = 0;
    vorbel_move_direction = 0;
    extra_life = 0;
    current_map_played = 0;
    num_maps = 1;
    for (highscore_struct& e : HighScores) DefaultHighScore(&e);
  }

  // Sets one cell's code and rebuilds the cell values.
  void Cell(int x, int y, int code) {
    level.cells[x][y] = static_cast<int16_t>(code);
    BuildCellValues();
  }

  // Paints a picture of the maze with its top-left character on cell (x0, y0): '#' wall,
  // ' ' floor, '.' ball, 'o' power ball. Cells outside the picture keep their codes.
  void Paint(int x0, int y0, const std::vector<std::string>& rows) {
    for (size_t y = 0; y < rows.size(); y++)
      for (size_t x = 0; x < rows[y].size(); x++) {
        char c = rows[y][x];
        int code = c == '#' ? kWall : c == '.' ? kBall : c == 'o' ? kPowerBall : kFloor;
        level.cells[x0 + x][y0 + y] = static_cast<int16_t>(code);
      }
    BuildCellValues();
  }

  // Opens a whole column or row as floor.
  void OpenColumn(int x) {
    for (int y = 0; y < MAP_H; y++) level.cells[x][y] = kFloor;
    BuildCellValues();
  }
  void OpenRow(int y) {
    for (int x = 0; x < MAP_W; x++) level.cells[x][y] = kFloor;
    BuildCellValues();
  }

  static void Place(actor_struct& a, int x, int y) {
    a.x = x;
    a.y = y;
  }
};

}  // namespace testgame
