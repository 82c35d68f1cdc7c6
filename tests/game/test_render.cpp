// The play screen: which picture each cell code shows and when, the actors over the maze, the
// maze's place on the screen, the status lines and the panel frame.
#include "game_fixture.h"

namespace testgame {
namespace {

class RenderTest : public GameTest {
 protected:
  // Colour at the centre of cell (x, y) in the maze buffer.
  static int CellColour(int x, int y) { return getpixel(map_bitmap, CELL * x + 10, CELL * y + 10); }

  // Draws `s` as the status lines are drawn and compares that region of the screen.
  static void ExpectText(const char* s, int x, int y, int colour) {
    BITMAP* want = create_bitmap(text_length(font, s), text_height(font));
    text_mode(159);
    textout(want, font, s, 0, 0, colour);
    for (int j = 0; j < want->h; j++)
      for (int i = 0; i < want->w; i++)
        ASSERT_EQ(getpixel(screen, x + i, y + j), getpixel(want, i, j)) << s << " at " << i << "," << j;
    destroy_bitmap(want);
  }
};

TEST_F(RenderTest, PictureOfEachCellCode) {
  struct Case {
    int code, colour;
  } cases[] = {
      {0, WallColour(0)},     {505, WallColour(5)},         {1809, WallColour(18)},
      {1899, 0},              // object 99 of set 18 is not in the set: nothing
      {1810, 0},              {-5, 0},                      {-150, 0},
      {1900, 0},              {1901, BallColour(19, 1)},    {1908, BallColour(19, 8)},
      {1909, 0},              {2000, 0},                    {2003, BallColour(20, 3)},
      {2100, 0},              {2104, BallColour(21, 4)},    {2200, 0},
      {2201, 0},              // an eatable ball that is never drawn
      {2210, BallColour(22, 10)}, {2215, BallColour(22, 15)}, {2216, 0},
      {2300, 0},              {2305, 0},                    {2400, 0},
      {32767, 0},             {-32768, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Cell(7, 8, c.code);
    DrawGameMap();
    EXPECT_EQ(CellColour(7, 8), c.colour);
  }
}

TEST_F(RenderTest, BallShownUntilEaten) {
  for (int code : {1902, 2006, 2101}) {
    SCOPED_TRACE(code);
    Cell(3, 4, code);
    DrawGameMap();
    EXPECT_NE(CellColour(3, 4), 0);
    mapV[3][4] = -1;
    DrawGameMap();
    EXPECT_EQ(CellColour(3, 4), 0) << "an eaten ball leaves the background, no tile under it";
  }
}

TEST_F(RenderTest, MissingSetsDrawNothing) {
  Cell(1, 1, 1901);
  Cell(2, 2, 700);
  set_sizes[19] = 0;
  set_graphics[7] = nullptr;
  DrawGameMap();
  EXPECT_EQ(CellColour(1, 1), 0);
  EXPECT_EQ(CellColour(2, 2), 0);
}

TEST_F(RenderTest, ActorsOverTheMazeVorbelOnTop) {
  OpenRow(3);
  num_bugs = 2;
  Place(bugs[0], 60, 60);
  bugs[0].sprite = 5;
  Place(bugs[1], 100, 60);
  bugs[1].sprite = 6;
  Place(bugs[2], 140, 60);  // not in play
  bugs[2].sprite = 7;
  Place(vorbel, 100, 60);
  vorbel.sprite = 30;
  DrawGameMap();
  EXPECT_EQ(CellColour(3, 3), SpriteColour(5));
  EXPECT_EQ(CellColour(5, 3), SpriteColour(30));
  EXPECT_EQ(CellColour(7, 3), 0);
}

TEST_F(RenderTest, PicturesThatDoNotExistAreSkipped) {
  OpenRow(3);
  num_bugs = 3;
  int missing[] = {-1, kNumSprites, 30000};
  for (int i = 0; i < 3; i++) {
    Place(bugs[i], 40 * i, 60);
    bugs[i].sprite = missing[i];
  }
  Place(vorbel, 200, 60);
  vorbel.sprite = 99;
  DrawGameMap();
  for (int x = 0; x < 12; x++) EXPECT_EQ(CellColour(x, 3), 0) << x;
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

TEST_F(RenderTest, ScoreAndBugsEatenLines) {
  vorbel.score = 1234;
  vorbel.bugs_eaten = 7;
  DrawGameMap();
  ExpectText("Score: 001234", 500, 210, 32);
  ExpectText("Bugs Eaten:  7", 500, 390, 32);
  vorbel.score = 1234567;
  vorbel.bugs_eaten = 1000;
  DrawGameMap();
  ExpectText("Score: 1234567", 500, 210, 32);
  ExpectText("Bugs Eaten:1000", 500, 390, 32);
}

TEST_F(RenderTest, PanelFrameAndPictures) {
  InitGameGraphics();
  struct Case {
    int x, y, object;
  } cases[] = {
      {465, 10, GFX_FRAME_TL},      {639, 10, GFX_FRAME_TR},     {465, 459, GFX_FRAME_BL},
      {639, 459, GFX_FRAME_BR},     {550, 15, GFX_FRAME_TOP},    {550, 455, GFX_FRAME_BOTTOM},
      {468, 100, GFX_FRAME_LEFT},   {635, 300, GFX_FRAME_RIGHT}, {465, 160, GFX_FRAME_LJOIN},
      {635, 165, GFX_FRAME_RJOIN},  {550, 165, GFX_FRAME_DIVIDER},
      {550, 100, GFX_PANEL_TOP},    {550, 300, GFX_PANEL_BOTTOM},
  };
  for (const Case& c : cases)
    EXPECT_EQ(getpixel(screen, c.x, c.y), GraphicColour(c.object)) << c.x << "," << c.y;
  EXPECT_EQ(getpixel(screen, 100, 100), 0) << "the maze area is cleared";
}

}  // namespace
}  // namespace testgame
