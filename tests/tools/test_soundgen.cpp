// The sound generator: mistakes in its sources, the game's sounds, and its songs as shipped against
// what the engine plays (render_songs.sh holds how they sound, byte for byte).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "../fuzz/module_check.h"
#include "modux_internal.h"
#include "song.h"
#include "soundbank.h"
#include "source.h"
#include "synth.h"

namespace {

const std::set<std::string> kInstruments = {"lead", "other", "kick"};
const std::string kSources = VORBEL_SOUND_SOURCES;

// A one-channel song around one channel line.
std::string one_channel(const std::string &line, int rows, const std::string &extra = "") {
  return "song \"t\"\nchannel a inst=lead\nkit k kick\n" + extra + "pattern p " +
         std::to_string(rows) + "\na: " + line + "\norder p\n";
}

// Mistakes in song text and in instruments are refused with what is wrong; a song's mistakes
// with their line (line 0: an instrument file, rendered as well as read).
TEST(SoundSources, MistakesAreRefused) {
  const std::string plain = "song \"t\"\nchannel a inst=lead\npattern p 4\n";
  const std::string x = "instrument x\n  cycle 32\n";
  // clang-format off
  const struct { bool song; std::string text; const char *message; int line; } cases[] = {
      {true, one_channel("C4:3", 4), "has 3 rows, the pattern has 4", 5},
      {true, one_channel("$nope", 4), "unknown phrase", 5},
      {true, one_channel("C5:2&37!F03", 2), "two effects", 5},
      {true, one_channel("C4:3 | C4:1", 4, "bar 4\n"), "bar line", 6},
      {true, one_channel("H4:4", 4), "is not a note", 5},
      {true, one_channel("C8:4", 4), "outside C1 to B7", 5},
      {true, one_channel("k:4>04", 4), "a drum cannot slide", 5},
      {true, one_channel("[flute] C4:4", 4), "unknown instrument", 5},
      {true, one_channel("$a", 4, "phrase a: $a\n"), "nest too deeply", 4},
      {true, one_channel("C4:4~4", 4), "two hex digits", 5},
      {true, one_channel("C4:99999999999", 4), "length of 1 to 256 rows", 5},
      {true, one_channel("$p+99999999999", 4, "phrase p: C4:4\n"), "transpose", 6},
      {true, one_channel("(C4:4", 4), "'(' without ')'", 5},
      {true, one_channel("C4:4", 4, "tempo 20\n"), "whole number of 33 to 255", 4},
      {true, "song \"t\"\nchannel a\npattern p 4\na: C4:4\norder p\n", "no instrument yet", 4},
      {true, plain + "order q\n", "unknown pattern 'q'", 4},
      {true, plain + "order p\nrestart 1\n", "restart", 1},
      {true, "song \"t\"\nchannel a inst=lead\nwobble 3\n", "unknown statement", 3},
      {true, "song \"t\"\n   C4\n", "continues a channel or phrase line", 2},
      {true, "song \"a name much longer than twenty-eight\"\n", "more than 28", 1},
      {false, x + "  voice wave=buzz\n", "unknown wave", 0},
      {false, x + "  voice wave=pulse duty=1.5 len=1\n", "duty must lie", 0},
      {false, x + "  voice wave=pulse colour=red len=1\n", "unknown voice setting", 0},
      {false, "instrument x\n  cycle 24\n  voice len=1\n", "cycle must be", 0},
      {false, "instrument x\n  voice len=1\n", "either cycle", 0},
      {false, x + "  loop 8\n  voice ratio=1.3\n", "does not repeat within the loop", 0},
      {false, x + "  loop 8\n  voice vib=5 vibdepth=1\n", "vibrato cannot be baked", 0},
      {false, x + "  voice freq=440 len=1\n", "take ratio=", 0},
      {false, "instrument x\n  rate 20000\n  voice wave=sine len=1\n", "needs freq=", 0},
      {false, x + "  voice wave=pulse len=1 gain\n", "key=value", 0},
      {false, "  cycle 32\n", "to start a block", 0},
      {false, x + "  loop 8\n  voice wave=noise sustain=0.5\n", "does not repeat seamlessly", 0},
      {false, x + "  voice wave=pulse sustain=0.5\n", "plays once", 0},
      {false, x + "  loop 8\n  voice wave=pulse len=0.1\n", "needs a voice without len", 0},
      {false, x + "  envelope 2:64,4:0\n  voice len=1\n", "start at 0 and rise", 0},
      {false, x + "  envelope 0:64,4:65\n  voice len=1\n", "envelope level", 0},
      {false, x + "  envelope 0:64;4:0\n  voice len=1\n", "must be a number", 0},
      {false, x + "  envelope 0:64,4:0\n  envsustain 2\n  voice len=1\n", "beyond its points", 0},
      {false, x + "  envelope 0:64,4:0\n  envloop 1-0\n  voice len=1\n", "runs backwards", 0},
      {false, x + "  fadeout 100\n  voice len=1\n", "need an envelope", 0},
      // clang-format on
  };
  for (const auto &c : cases) {
    try {
      if (c.song) {
        sound::parse_song("t.song", c.text, kInstruments);
      } else {
        for (auto &entry : sound::parse_instruments("i.txt", c.text))
          sound::render_instrument(entry.second, "i.txt");
      }
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const sound::SourceError &e) {
      const std::string msg = e.what();
      EXPECT_NE(msg.find(c.message), std::string::npos) << msg;
      EXPECT_TRUE(!c.line || msg.rfind("t.song:" + std::to_string(c.line) + ":", 0) == 0) << msg;
    }
  }
}

// The game's sound effects: audible with headroom, ending without a click, short where frequent.
TEST(SoundBank, TheGamesSoundsSuitTheirUse) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  const sound::SoundBank bank = sound::build_bank(kSources);
  // Button 1, ball 4 and name-entry key 9 stay short; life lost 0 and game over 7 take time.
  const double kLongest[10] = {HUGE_VAL, 0.1, 2, 2, 0.1, 2, 2, HUGE_VAL, 2, 0.1};
  const auto &fx = bank.effect_samples;
  auto seconds = [&](size_t i) { return double(fx[i].frames.size()) / fx[i].rate; };
  ASSERT_EQ(fx.size(), 10u);
  for (size_t i = 0; i < 10; i++) {
    const auto &f = fx[i].frames;
    const auto [low, high] = std::minmax_element(f.begin(), f.end());
    const int peak = std::max(-int(*low), int(*high));
    SCOPED_TRACE(bank.effects[i].name);
    EXPECT_GT(peak, 32767 / 4);
    EXPECT_LE(peak, int(0.8 * 32767));
    EXPECT_LT(std::abs(f.back()), 16);
    EXPECT_LT(seconds(i), kLongest[i]);
  }
  EXPECT_GT(seconds(0), 0.6);
  EXPECT_GT(seconds(7), seconds(0));
}

// Why the engine would not play a cell as written; empty when it does.
std::string unplayed(const NOTE_INFO &n) {
  if (n.command < 0 || n.command > CMD_XM_EXTRA_FINE_PORTA)
    return "command " + std::to_string(n.command);
  if (n.command == CMD_EXTENDED) {
    const int sub = n.param >> 4;
    // E0x, E3x (glissando), E5x (finetune) and EFx have no effect; codes above 0x14x are none.
    if (sub == 0x0 || sub == 0x3 || sub == 0x5 || sub == 0xF || sub > 0x14)
      return "extended " + std::to_string(n.param);
  }
  if ((n.volume > 0 && n.volume < 0x10) || (n.volume > 0x50 && n.volume < 0x60) ||
      n.volume > 0xFF || n.volume < 0)
    return "volume column " + std::to_string(n.volume);
  if (n.note < -2) return "note command " + std::to_string(n.note);
  return "";
}

// The game's songs as shipped (run/music/*.mux, as in sounds.dat) use only what the engine plays:
// each cell's command, volume column and note command, the model's limits, at most 16 channels.
class ShippedSongs : public ::testing::TestWithParam<const char *> {};

TEST_P(ShippedSongs, UseOnlyWhatTheEnginePlays) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  const std::string path = std::string(VORBEL_RUN_DIR) + "/music/" + GetParam() + ".mux";
  MODUX *m = load_mod(path.c_str());
  ASSERT_NE(m, nullptr) << path << ": " << modux_error;
  // Orders, sample and instrument numbers, note maps and envelope points within the module.
  ASSERT_EQ(modcheck::model_faults(m, m->flags & MODUX_XM), "");
  EXPECT_TRUE(m->channel_count >= 4 && m->channel_count <= 16) << "the game mixes 16 channels";
  int cells = 0;
  for (int o = 0; o < m->order_count; o++) {
    const PATTERN_INFO &pat = m->patterns[m->order_table[o]];
    for (int i = 0; i < pat.row_count * m->channel_count; i++, cells++)
      EXPECT_EQ(unplayed(pat.notes[i]), "") << "order " << o << " row " << i / m->channel_count
                                            << " channel " << i % m->channel_count;
  }
  EXPECT_GT(cells, 0);
  destroy_mod(m);
}

INSTANTIATE_TEST_SUITE_P(Music, ShippedSongs,
                         ::testing::Values("title", "maze", "parade", "funk", "neon"));

}  // namespace
