// The options' volumes: each setting reaches only its own sound. Effects are played at
// sound_volume by the sample's play volume, so the mixer's overall volume, which scales the
// music's voices too, must not follow it; the music follows music_volume through the engine.
#include "game_fixture.h"
#include "modux.h"

namespace testgame {
namespace {

class OptionsTest : public GameTest {
 protected:
  static void SetUpTestSuite() {
    TheResources();
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
  }
};

TEST_F(OptionsTest, EachVolumeFollowsOnlyItsOwnSetting) {
  // sound volume, music volume; the engine's volume after them
  const int cases[][3] = {{0, 200, 204}, {250, 0, 0}, {0, 0, 0}, {250, 250, 255}, {120, 10, 10}};
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "sound " << c[0] << ", music " << c[1]);
    sound_volume = c[0], music_volume = c[1];
    ApplyVolumes();
    int digi = -2, midi = -2;
    get_volume(&digi, &midi);
    EXPECT_EQ(digi, 255) << "the mixer's overall volume scales the music too: it stays at full";
    EXPECT_EQ(get_mod_volume(), c[2]);
  }
  sound_volume = music_volume = 200;
}

}  // namespace
}  // namespace testgame
