// Headless stand-ins for the game's resources and a clean game state: the panel's pictures and
// Allegro's own font; the maze has no tile sets and the actors no pictures, which the drawing
// code skips.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Template.h"

namespace testgame {

constexpr int kNumSprites = 44;
constexpr int kWall = 0, kFloor = 1900, kBall = 1901, kPowerBall = 1905;  // values 0, -1, 1, 5

struct Resources {
  std::vector<DATAFILE> graphic_objs;

  Resources() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    set_color_depth(8);
    screen = create_bitmap(640, 480);
    map_bitmap = create_bitmap(441, 441);
    BITMAP *picture = create_bitmap(10, 10);  // every panel picture
    for (int n = 0; n < GFX_COUNT; n++) {
      bool is_font = n == GFX_FONT_LARGE || n == GFX_FONT_BUTTON || n == GFX_FONT_STATUS;
      graphic_objs.push_back(is_font ? DATAFILE{font, DAT_FONT, 0, nullptr}
                                     : DATAFILE{picture, DAT_BITMAP, 0, nullptr});
    }
    graphic_objs.push_back(DATAFILE{nullptr, DAT_END, 0, nullptr});
  }
  ~Resources() {  // before Allegro's own exit, which must not meet these as the screen
    destroy_bitmap(static_cast<BITMAP *>(graphic_objs[GFX_PANEL_TOP].dat));
    destroy_bitmap(map_bitmap), destroy_bitmap(screen);
    map_bitmap = screen = nullptr;
  }
};

// Every test starts on a level of walls (code 0) with the resources in place, a Normal game
// running, four lives and 100 balls to go; bugs start on cell (10, 10), the vorbel on (5, 5).
class GameTest : public ::testing::Test {
 protected:
  map_struct level{};

  void SetUp() override {
    static Resources resources;
    graphics = resources.graphic_objs.data(), sprites = sounds = nullptr;
    num_sprites = kNumSprites;
    clear_to_color(screen, 0);
    // The bugs' and the vorbel's start cells, no bugs or balls, bug picture 10.
    level = map_struct{0, 10, 10, 5, 5, 0, 0, 10, {}, {}};
    for (int k = 0; k < 32; k++) level.points[k] = int16_t(10 * (k + 1));
    gmap = &level;
    BuildCellValues();
    for (int k = 0; k < KEY_MAX; k++) key[k] = 0;
    sound_on = music_on = 0;
    dif_level = 1;
    vorbel = actor_struct{0, 0, 0, 0, 0, SPR_VORBEL_RIGHT, 0, 0, 4};
    for (actor_struct &b : bugs) b = actor_struct{};
    num_bugs = end_game = state_timer = extra_life = vorbel_move_direction = current_map_played = 0;
    num_balls = 100, max_bugs_state = 2000, num_maps = 1;
    vorbel_speed = bug_speed = 10;
    vorbel_timer = bug_timer = 0;
    exit_requested = close_requested = focus_lost = focus_back = 0;
    replay_mode = REPLAY_OFF, replay_fast = 0, pass_input = LiveInput, replay_stopped[0] = 0;
    UsePresenter(PRESENT_WINDOW, screen);
    for (highscore_struct &e : HighScores) DefaultHighScore(&e);
  }

  void Cell(int x, int y, int code) {
    level.cells[x][y] = int16_t(code);
    BuildCellValues();
  }

  // Opens column `col` and row `row` as floor; -1 opens none.
  void Open(int col, int row) {
    for (int n = 0; n < MAP_W; n++) {
      if (col >= 0) level.cells[col][n] = kFloor;
      if (row >= 0) level.cells[n][row] = kFloor;
    }
    BuildCellValues();
  }

  static void Place(actor_struct &a, int x, int y) { a.x = x, a.y = y; }

  // Runs `check` on every row of a table, each from a fresh start, the row's number on failure.
  template <typename Row, size_t N, typename F>
  void EachRow(Row (&rows)[N], F check) {
    for (Row &r : rows) {
      SCOPED_TRACE(testing::Message() << "row " << &r - rows);
      SetUp();
      check(r);
    }
  }
};

using Bytes = std::vector<unsigned char>;
using Ints = std::vector<int>;  // several figures compared at once

inline Bytes FileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline int32_t At32(const Bytes &b, size_t off) {
  return int32_t(b[off] | b[off + 1] << 8 | b[off + 2] << 16 | uint32_t(b[off + 3]) << 24);
}
inline void Put32(Bytes &b, size_t off, int v) {
  for (int k = 0; k < 4; k++) b[off + size_t(k)] = uint8_t(uint32_t(v) >> (8 * k));
}

inline void WriteBytes(const std::string &path, const Bytes &b) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char *>(b.data()), std::streamsize(b.size()));
}

// Tests of the files the game writes in its working folder run in a scratch folder of their own.
class FileTest : public GameTest {
 protected:
  static std::string Dir() { return "/tmp/vorbel-files-" + std::to_string(getpid()); }
  static void SetUpTestSuite() {
    ASSERT_TRUE(std::filesystem::create_directory(Dir()) && chdir(Dir().c_str()) == 0);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(Dir()); }
};

}  // namespace testgame
