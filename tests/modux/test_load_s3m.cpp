// The S3M importer: out-of-range header values, order markers, unnamed channels, held limits,
// invalid pitches, sample formats, damaged files. Valid cells and effects are heard in renders.
#include "loader_fixture.h"

using namespace modimg;

namespace {

using LoadS3m = Loader;

// Speed 0, tempo 0 and a global volume above 64 take the defaults; the song ends at "---" (pattern
// 2, named only after it, is not loaded) and skips "+++"; orders beyond 256 are cut.
TEST_F(LoadS3m, HeaderDefaultsAndOrderMarkers) {
  s3m_image m;
  m.speed = 0, m.tempo = 0, m.global_volume = 200;
  m.orders = {0, 254, 1, 255, 2};
  m.patterns.resize(3);
  MODUX *mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << status_.message;
  // clang-format off
  expect_fields({{"speed", mod->initial_speed, 6}, {"tempo", mod->initial_tempo, 125},
                 {"global volume", mod->initial_global_volume, 64}, {"orders", mod->order_count, 2},
                 {"patterns", mod->pattern_count, 2}, {"order 1", mod->order_table[1], 1}});
  // clang-format on
  m.orders.assign(300, 0);
  m.orders[255] = 1, m.orders[299] = 7;
  m.patterns.resize(2);
  ASSERT_NE(mod = load(build_s3m(m)), nullptr) << status_.message;
  expect_fields({{"orders", mod->order_count, 256}, {"patterns", mod->pattern_count, 2}});
}

// Disabled channels are dropped (S3M channel 5 plays on channel 3) and, without fast loading, so
// are those the patterns never name; a cell of a dropped channel goes with it; instrument numbers
// beyond the count are cleared and volumes held at 64.
TEST_F(LoadS3m, ChannelsAndCellsOutOfRange) {
  s3m_image m;
  m.samples.resize(2);
  m.chn_set.fill(255);
  m.chn_set[0] = 0, m.chn_set[1] = 8, m.chn_set[2] = 0x80, m.chn_set[3] = 1, m.chn_set[5] = 9;
  m.chn_set[6] = 20;  // an Adlib channel: played, no pan set
  m.patterns[0] = {{0, 5, 0x40, 1}, {1, 7, 0x40, 1, 10}, {2, 0, 0x5B, 3, 99}};
  MODUX *mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << status_.message;
  const NOTE_INFO *n = mod->patterns[0].notes;
  expect_fields({{"channels", mod->channel_count, 5},
                 {"note", n[3].note, 8363},
                 {"unused channel", n[5].note + n[5 + 1].note + n[5 + 4].note, 0},
                 {"instrument 3 of 2", n[10].sample, 0},
                 {"volume 99", n[10].volume, 64 + 16}});
  fast_loading = 0;
  ASSERT_NE(mod = load(build_s3m(m)), nullptr) << status_.message;
  expect_fields(
      {{"channels", mod->channel_count, 2}, {"note", mod->patterns[0].notes[1].note, 8363}});
  const int pitches[][2] = {
      {0xFE, -1}, {0xFF, 0}, {0x0C, 0}, {0xF0, 0}, {0x00, MODUX_AMIGA_CLOCK / 6848}};
  for (const auto &p : pitches) {
    int note = p[0];
    convert_s3m_pitch(&note);
    EXPECT_EQ(note, p[1]) << std::hex << p[0];
  }
}

// Format 1 stores signed data, 2 unsigned, both 8 and 16 bits; a sample of type 2 or without its
// "SCRS" mark is empty; a loop end is held inside the data.
TEST_F(LoadS3m, SamplesSignedUnsignedAnd16Bit) {
  s3m_image m;
  m.samples = {{1, true, 4, 0, 0, 64, 0, 8363, {0x00, 0x7F, 0x80, 0xFF}},
               {1, true, 2, 0, 0, 64, 4, 8363, {0x34, 0x12, 0xCD, 0xAB}},  // 16-bit
               {2, true, 4, 0, 0, 64, 0, 8363, {1, 2, 3, 4}},
               {1, false, 4, 0, 0, 64, 0, 8363, {1, 2, 3, 4}},
               {1, true, 4, 2, 100, 70, 1, 8363, {1, 2, 3, 4}}};  // volume held by the model check
  // clang-format off
  const struct { int format; std::vector<int> first, second; } formats[] = {
      {1, {0x80, 0xFF, 0x00, 0x7F}, {0x9234, 0x2BCD}}, {2, {0x00, 0x7F, 0x80, 0xFF}, {0x1234, 0xABCD}}};
  // clang-format on
  for (const auto &f : formats) {
    m.sample_format = f.format;
    MODUX *mod = load(build_s3m(m));
    ASSERT_NE(mod, nullptr) << status_.message;
    const uint8_t *d0 = static_cast<const uint8_t *>(mod->samples[0].data);
    const uint16_t *d1 = static_cast<const uint16_t *>(mod->samples[1].data);
    EXPECT_EQ(std::vector<int>(d0, d0 + 4), f.first) << f.format;
    EXPECT_EQ(std::vector<int>(d1, d1 + mod->samples[1].len), f.second) << f.format;
    EXPECT_EQ((std::vector<int>{mod->samples[1].bits, int(mod->samples[2].len),
                                int(mod->samples[3].len), mod->sample_info[4].loop_end}),
              (std::vector<int>{16, 0, 0, 4}));
  }
}

// A pattern at parapointer 0, past the end or beyond the count is empty; counts the file cannot
// hold are refused; a pattern or sample data cut short keeps what is there.
TEST_F(LoadS3m, DamagedFilesGetSafeAnswers) {
  s3m_image m;
  m.orders = {0, 1, 2, 3};
  m.patterns.assign(3, {{0, 0, 0x40, 0}});
  m.pattern_para = {0, 0xFFFF};
  MODUX *mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << status_.message;
  EXPECT_EQ(mod->pattern_count, 4);
  for (int p = 0; p < 4; p++) EXPECT_EQ(mod->patterns[p].notes[0].note, p == 2 ? 8363 : 0) << p;
  refuses_each(build_s3m(s3m_image{}),
               {{"S3M: file ends inside the order list or the parapointers", 34, {0xFF, 0xFF}},
                {"S3M: file ends inside the header", 0, {}, 60}});
  s3m_image t;
  t.patterns[0] = {{0, 0, 0x40, 0}, {40, 0, 0x40, 0}};
  bytes full = build_s3m(t);
  ASSERT_NE(mod = load(bytes(full.begin(), full.end() - 30)), nullptr) << status_.message;
  EXPECT_EQ(std::make_pair(mod->patterns[0].notes[0].note, mod->patterns[0].notes[40 * 4].note),
            std::make_pair(8363, 0));
  s3m_image w;
  w.samples = {{1, true, 8, 0, 0, 64, 4, 8363, bytes(16, 1)}};
  w.patterns.clear();  // the data is the last thing in the file
  full = build_s3m(w);
  ASSERT_NE(mod = load(bytes(full.begin(), full.end() - 5)), nullptr) << status_.message;
  EXPECT_EQ(mod->samples[0].len, 5);
  EXPECT_STREQ(status_.note, "file ends 6 bytes early: the end of the sample data is silent");
}

}  // namespace
