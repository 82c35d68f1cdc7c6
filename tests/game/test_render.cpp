// The play screen: the picture of each cell code and when it shows, the actors over the maze, the
// maze's place on the screen and the panel frame.
#include "game_fixture.h"

namespace testgame {
namespace {

class RenderTest : public GameTest {
 protected:
  // Colour at the centre of cell (x, y) in the maze buffer.
  static int CellColour(int x, int y) { return getpixel(map_bitmap, CELL * x + 10, CELL * y + 10); }
};

TEST_F(RenderTest, PictureOfEachCellCode) {
  // 1899 and 1810 name objects the wall set lacks; 2201 is a ball that is eaten but never drawn.
  const int cases[][2] = {
      {0, WallColour(0)}, {505, WallColour(5)}, {1809, WallColour(18)}, {1899, 0}, {1810, 0}, {-5, 0}, {-150, 0},
      {1900, 0}, {1901, BallColour(19, 1)}, {1908, BallColour(19, 8)}, {1909, 0}, {2000, 0}, {2003, BallColour(20, 3)},
      {2100, 0}, {2104, BallColour(21, 4)}, {2200, 0}, {2201, 0}, {2210, BallColour(22, 10)}, {2215, BallColour(22, 15)},
      {2216, 0}, {2300, 0}, {2305, 0}, {2400, 0}, {32767, 0}, {-32768, 0}};
  for (auto& c : cases) {
    Cell(7, 8, c[0]);
    DrawGameMap();
    EXPECT_EQ(CellColour(7, 8), c[1]) << "code " << c[0];
    if (c[0] > 1900 && c[0] < 2200 && c[1]) {
      mapV[7][8] = -1;
      DrawGameMap();
      EXPECT_EQ(CellColour(7, 8), 0) << "code " << c[0] << ": an eaten ball leaves no tile under it";
    }
  }
  set_sizes[19] = 0;  // a set without the object, and one that is missing
  set_graphics[7] = nullptr;
  for (int code : {1901, 700}) {
    Cell(7, 8, code);
    DrawGameMap();
    EXPECT_EQ(CellColour(7, 8), 0) << "code " << code;
  }
}

TEST_F(RenderTest, ActorsOverTheMazeVorbelOnTop) {
  Open(-1, 3);
  num_bugs = 5;  // the sixth is out of play
  const int sprite[] = {5, 6, -1, kNumSprites, 30000, 7};
  for (int i = 0; i < 6; i++) bugs[i] = actor_struct{60 + 40 * i, 60, 0, 0, 0, sprite[i], 0, 0, 0};
  vorbel = actor_struct{100, 60, 0, 0, 0, 30, 0, 0, 4};
  DrawGameMap();
  const int want[] = {SpriteColour(5), SpriteColour(30), 0, 0, 0, 0};
  for (int i = 0; i < 6; i++) EXPECT_EQ(CellColour(3 + 2 * i, 3), want[i]) << i;
  vorbel.x = 420, vorbel.sprite = 99;
  DrawGameMap();
  EXPECT_EQ(CellColour(5, 3), SpriteColour(6));
  EXPECT_EQ(CellColour(21, 3), 0);
}

TEST_F(RenderTest, MazeGoesToTheScreenAt20_20) {
  Cell(0, 0, 100);
  Cell(21, 21, 200);
  Place(vorbel, 200, 200);
  DrawGameMap();
  EXPECT_EQ(getpixel(screen, 20, 20), WallColour(1));
  EXPECT_EQ(getpixel(screen, 459, 459), WallColour(2));
  EXPECT_EQ(getpixel(screen, 460, 459), 0) << "the buffer's 441st column is not shown";
  EXPECT_EQ(getpixel(screen, 19, 19), 0);
}

TEST_F(RenderTest, PanelFrameAndPictures) {
  clear_to_color(screen, 5);
  InitGameGraphics();
  const int cases[][3] = {
      {465, 10, GFX_FRAME_TL},    {639, 10, GFX_FRAME_TR},     {465, 459, GFX_FRAME_BL},      {639, 459, GFX_FRAME_BR},
      {550, 15, GFX_FRAME_TOP},   {550, 455, GFX_FRAME_BOTTOM}, {468, 100, GFX_FRAME_LEFT},   {635, 300, GFX_FRAME_RIGHT},
      {465, 160, GFX_FRAME_LJOIN}, {635, 165, GFX_FRAME_RJOIN}, {550, 165, GFX_FRAME_DIVIDER}, {550, 100, GFX_PANEL_TOP},
      {550, 300, GFX_PANEL_BOTTOM}};
  for (auto& c : cases) EXPECT_EQ(getpixel(screen, c[0], c[1]), GraphicColour(c[2])) << c[0] << "," << c[1];
  EXPECT_EQ(getpixel(screen, 100, 100), 0) << "the maze area is cleared";
}

}  // namespace
}  // namespace testgame
