// The MUX writer against the engine's own reader: modules of both families written and read back
// field by field, and refusals. The sound generator: mistakes in its sources, the game's sounds,
// and its songs as shipped against what the engine plays (render_songs.sh: how they sound).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "../fuzz/module_check.h"
#include "modux_internal.h"
#include "muxwriter.h"
#include "song.h"
#include "soundbank.h"
#include "source.h"
#include "synth.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ModPtr = std::unique_ptr<MODUX, decltype(&destroy_mod)>;

// A module that fills every field the format holds.
struct Fixture {
  MODUX mod{};
  SAMPLE_INFO info[3]{};
  SAMPLE samples[3]{};
  Bytes data[2];
  INSTRUMENT_INFO instruments[2]{};
  PATTERN_INFO patterns[2]{};
  std::vector<NOTE_INFO> cells[2];

  explicit Fixture(int flags) {
    const bool xm = flags & MODUX_XM;
    std::memcpy(mod.name, "A name that uses 28 letters!", 28);
    mod.flags = flags;
    std::tie(mod.channel_count, mod.order_count, mod.initial_speed, mod.initial_tempo,
             mod.initial_global_volume, mod.restart_order) = std::make_tuple(3, 4, 5, 137, 48, 2);
    for (int c = 0; c < 3; c++) mod.channel_pan[c] = 40 + 80 * c;
    for (int i = 0; i < 4; i++) mod.order_table[i] = i == 1 || i == 2;
    // An 8-bit sample with a loop, a 16-bit one with a ping-pong loop, and an empty one.
    for (int i = 0; i < 2; i++) {
      int bits = 8 << i, len = 100 + 37 * i;
      // clang-format off
      info[i] = {len, i ? 33452 : 8363, i ? 7 : -12, 50 + i, 100 + i, 10 + i, len - i, 1 + i, 1 + i,
                 20, 3, 9, 0, 0, 0, 0, 0};
      // clang-format on
      data[i].resize(size_t(len * bits / 8));
      for (size_t k = 0; k < data[i].size(); k++) data[i][k] = uint8_t(k * 7 + i);
      samples[i] = {
          bits, 0, 0, 0, (unsigned long)len, 10ul + i, (unsigned long)(len - i), 0, data[i].data()};
    }
    mod.sample_count = 3;
    mod.sample_info = info;
    mod.samples = samples;
    for (int i = 0; xm && i < 2; i++) {
      INSTRUMENT_INFO &ins = instruments[i];
      for (int n = 0; n < MODUX_NOTE_MAP; n++) ins.sample_map[n] = (n + i) % 3;
      for (int p = 0; p < MODUX_ENVELOPE_POINTS; p++)
        std::tie(ins.vol_env_tick[p], ins.vol_env_value[p], ins.pan_env_tick[p],
                 ins.pan_env_value[p]) = std::make_tuple(p * 10 + i, 64 - p * 5, p * 7, 32 + p - i);
      std::tie(ins.vol_env_points, ins.vol_env_flags, ins.vol_env_sustain_start,
               ins.vol_env_sustain_end, ins.vol_env_loop_start, ins.vol_env_loop_end) =
          std::make_tuple(6, 7, 2, 2, 1, 4);
      std::tie(ins.pan_env_points, ins.pan_env_flags, ins.pan_env_sustain_start,
               ins.pan_env_sustain_end, ins.pan_env_loop_start, ins.pan_env_loop_end) =
          std::make_tuple(3, 1, 1, 1, 0, 2);
      ins.fadeout = 1024 + i;
      mod.instrument_count = 2;
      mod.instruments = instruments;
    }
    // Empty stretches and busy ones, note commands and wide parameters.
    const int periods[] = {428, 856, 1712, 113, 3424, 6848, 57};
    for (int p = 0; p < 2; p++) {
      int rows = p == 0 ? 64 : 200;
      cells[p].assign(size_t(rows * 3), NOTE_INFO{});
      for (int k = p; k < rows * 3 + p; k++) {
        NOTE_INFO &n = cells[p][size_t(k - p)];
        if (k % 5 == 0) {
          n.note = xm ? 1 + k % 96 : int(MODUX_AMIGA_CLOCK / periods[k % 7]);
          n.sample = 1 + k % (xm ? 2 : 3);  // XM cells name instruments
        }
        if (k % 23 == 0) n.note = -1 - k % 2;
        if (k % 4 == 1) n.volume = 0x10 + k % 65;
        if (k % 3 == 0 || (k - p) / 3 > 150) {
          n.command = k % 40;
          n.param = (k * 977) & 0xFFFF;
        }
      }
      patterns[p] = {cells[p].data(), rows};
    }
    mod.pattern_count = 2;
    mod.patterns = patterns;
  }
};

void expect_same(const MODUX &a, const MODUX &b) {
  EXPECT_STREQ(a.name, b.name);
  int field = 0;
  for (int MODUX::*f :
       {&MODUX::order_count, &MODUX::pattern_count, &MODUX::channel_count, &MODUX::instrument_count,
        &MODUX::sample_count, &MODUX::initial_speed, &MODUX::initial_tempo,
        &MODUX::initial_global_volume, &MODUX::restart_order, &MODUX::flags})
    EXPECT_EQ(a.*f, b.*f) << "header field " << field++;
  EXPECT_TRUE(std::equal(a.order_table, a.order_table + a.order_count, b.order_table));
  EXPECT_TRUE(std::equal(a.channel_pan, a.channel_pan + a.channel_count, b.channel_pan));
  for (int i = 0; i < std::min(a.sample_count, b.sample_count); i++) {
    const SAMPLE &x = a.samples[i], &y = b.samples[i];
    EXPECT_EQ(std::memcmp(&a.sample_info[i], &b.sample_info[i], sizeof(SAMPLE_INFO)), 0)
        << "sample info " << i;
    EXPECT_EQ(std::make_tuple(x.len, x.loop_start, x.loop_end),
              std::make_tuple(y.len, y.loop_start, y.loop_end));
    if (x.len == 0) continue;
    EXPECT_EQ(x.bits, y.bits);
    EXPECT_EQ(std::memcmp(x.data, y.data, x.len * size_t(x.bits / 8)), 0) << "sample data " << i;
  }
  for (int i = 0; i < std::min(a.instrument_count, b.instrument_count); i++)
    EXPECT_EQ(std::memcmp(&a.instruments[i], &b.instruments[i], sizeof(INSTRUMENT_INFO)), 0)
        << "instrument " << i;
  for (int p = 0; p < std::min(a.pattern_count, b.pattern_count); p++) {
    ASSERT_EQ(a.patterns[p].row_count, b.patterns[p].row_count) << "pattern " << p;
    const size_t cells = size_t(a.patterns[p].row_count * a.channel_count);
    EXPECT_EQ(std::memcmp(a.patterns[p].notes, b.patterns[p].notes, cells * sizeof(NOTE_INFO)), 0)
        << "pattern " << p;
  }
}

TEST(MuxRoundTrip, EveryFieldComesBackThroughLoadMux) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  for (int flags : {0, MODUX_XM | MODUX_AMIGA, MODUX_XM | MODUX_LINEAR}) {
    SCOPED_TRACE(flags);
    Fixture fx(flags);
    const std::string path = testing::TempDir() + "test_muxwrite.mux";
    ASSERT_EQ(write_mux(path, fx.mod), "");
    ModPtr loaded(load_mod(path.c_str()), destroy_mod);
    ASSERT_NE(loaded, nullptr) << modux_error;
    expect_same(fx.mod, *loaded);
    // The file holds the image build_mux makes, and what was read writes back to the same bytes.
    Bytes image, again;
    ASSERT_EQ(build_mux(fx.mod, image), "");
    ASSERT_EQ(build_mux(*loaded, again), "");
    EXPECT_EQ(again, image);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), image);
    EXPECT_NE(write_mux("/nonexistent-dir/x.mux", fx.mod), "");
  }
}

TEST(MuxRefusals, FieldsTheFormatCannotHold) {
  // clang-format off
  const struct { int flags; void (*spoil)(Fixture &); const char *message; } cases[] = {
      {0, [](Fixture &f) { f.mod.channel_count = 65; }, "channel_count"},
      {0, [](Fixture &f) { f.mod.channel_pan[2] = 300; }, "channel 2"},
      {0, [](Fixture &f) { f.mod.initial_tempo = -1; }, "initial_tempo"},
      {0, [](Fixture &f) { f.cells[0][0].note = 2000000; }, "note frequency"},
      {0, [](Fixture &f) { f.cells[0][0].note = -40000; }, "note command"},
      {0, [](Fixture &f) { f.cells[1][8].param = 70000; }, "param"},
      {0, [](Fixture &f) { f.info[1].tuning = 70000; }, "tuning"},
      {0, [](Fixture &f) { f.info[0].relative_note = 200; }, "relative_note"},
      {0, [](Fixture &f) { f.samples[0].bits = 12; }, "bits"},
      {0, [](Fixture &f) { f.samples[1].len = 5; }, "differs"},
      {0, [](Fixture &f) { f.info[2].volume = 64; }, "empty sample"},
      {0, [](Fixture &f) { f.samples[0].data = nullptr; }, "no sample data"},
      {MODUX_XM | MODUX_LINEAR, [](Fixture &f) { f.instruments[1].vol_env_sustain_end = 3; }, "single sustain point"},
      {MODUX_XM | MODUX_LINEAR, [](Fixture &f) { f.cells[0][0].note = 128; }, "XM note"},
      // clang-format on
  };
  for (const auto &c : cases) {
    Fixture fx(c.flags);
    c.spoil(fx);
    Bytes image;
    std::string err = build_mux(fx.mod, image);
    EXPECT_NE(err.find(c.message), std::string::npos)
        << "wanted '" << c.message << "', got '" << err << "'";
  }
}

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
