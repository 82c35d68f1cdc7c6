// The Button and drawing helpers on an off-screen screen: hit test edges, labels, faces.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "Template.h"

namespace {

class ButtonTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    set_color_depth(8);
    screen = create_bitmap(640, 480);
    // A minimal graphics datafile: the button font is the only object a button needs.
    static DATAFILE fake[GFX_FONT_BUTTON + 2];
    for (auto& d : fake) d = DATAFILE{nullptr, DAT_DATA, 0, nullptr};
    fake[GFX_FONT_BUTTON] = DATAFILE{font, DAT_FONT, 0, nullptr};
    fake[GFX_FONT_BUTTON + 1].type = DAT_END;
    graphics = fake;
  }
};

TEST_F(ButtonTest, MouseInBoxExcludesTheEdges) {
  struct {
    int x, y, inside;
  } cases[] = {{10, 20, 0}, {11, 21, -1}, {49, 59, -1}, {50, 40, 0}, {30, 60, 0}, {30, 20, 0}, {9, 40, 0}, {30, 40, -1}};
  for (auto c : cases) {
    mouse_x = c.x;
    mouse_y = c.y;
    EXPECT_EQ(mouseinbox(10, 20, 50, 60), c.inside) << c.x << "," << c.y;
  }
}

TEST_F(ButtonTest, ConstructorStoresEdgesAndLabel) {
  Button b("Start Game", 50, 140, 290, 170, 15, 25, nullptr);
  EXPECT_EQ(b.x1, 50);
  EXPECT_EQ(b.y1, 140);
  EXPECT_EQ(b.x2, 290);
  EXPECT_EQ(b.y2, 170);
  EXPECT_STREQ(b.name, "Start Game");
  EXPECT_EQ(b.pressed, 0);
  Button none(nullptr, 0, 0, 10, 10, 15, 25, nullptr);
  EXPECT_STREQ(none.name, "");
  none.ChangeName("A label far longer than the twenty-seven characters it can hold");
  EXPECT_EQ(strlen(none.name), 27u);
}

TEST_F(ButtonTest, ClickedIgnoresAPointerOnTheFrameLine) {
  Button b("Exit", 245, 320, 385, 345, 15, 25, nullptr);
  mouse_x = 245;
  mouse_y = 330;
  mouse_b = 1;
  EXPECT_EQ(b.Clicked(), 0);
  mouse_b = 0;
  EXPECT_EQ(b.pressed, 0);
}

TEST_F(ButtonTest, LabelledFaceIsColourOnePictureFaceIsThePicture) {
  clear_to_color(screen, 0);
  Button label("Go", 100, 100, 200, 130, 15, 25, nullptr);
  label.DrawButton();
  EXPECT_EQ(getpixel(screen, 101, 100), 25);  // raised: top line in color2
  EXPECT_EQ(getpixel(screen, 101, 130), 15);  // bottom line in color1
  EXPECT_EQ(getpixel(screen, 105, 104), 1);   // face fill

  BITMAP* pic = create_bitmap(30, 30);
  clear_to_color(pic, 77);
  Button arrow(nullptr, 300, 100, 330, 130, 15, 25, pic);
  arrow.DrawButton();
  EXPECT_EQ(getpixel(screen, 310, 110), 77);
  EXPECT_EQ(getpixel(screen, 300, 110), 25);  // frame drawn over the picture
  arrow.pressed = -1;
  arrow.DrawButton();
  EXPECT_EQ(getpixel(screen, 300, 110), 15);  // sunken: left line in color1
  destroy_bitmap(pic);
}

TEST_F(ButtonTest, DtextoutDrawsShadowThenText) {
  clear_to_color(screen, 0);
  Dtextout(screen, font, "I", 10, 10, 15, 25);
  bool text = false, shadow = false;
  for (int y = 10; y < 20; y++)
    for (int x = 10; x < 20; x++) {
      text |= getpixel(screen, x, y) == 15;
      shadow |= getpixel(screen, x, y) == 25;
    }
  EXPECT_TRUE(text);
  EXPECT_TRUE(shadow);
}

}  // namespace
