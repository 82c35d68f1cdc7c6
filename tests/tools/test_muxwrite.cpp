// The MUX writer against the engine's own reader: modules of both families written and read back
// field by field, and refusals. The game's songs it writes are checksummed by render_songs.sh.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "modux.h"
#include "muxwriter.h"

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

}  // namespace
