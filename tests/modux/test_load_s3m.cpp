// The S3M importer: the header, the order list without its markers, channel set-up and pans,
// packed cells, pitch and effect translation, samples, and damaged parapointers and counts.
// Detection and UMX packages: the family table in test_load_mod.cpp.
#include "loader_fixture.h"

using namespace modimg;

namespace {

using LoadS3m = Loader;

TEST_F(LoadS3m, HeaderDefaultsAndOrderMarkers) {
  // speed, tempo, global volume as written and as loaded: 0 and out-of-range take the defaults.
  const int header[][6] = {{3, 150, 48, 3, 150, 48}, {0, 0, 200, 6, 125, 64}};
  for (const auto &h : header) {
    s3m_image m;
    m.speed = h[0], m.tempo = h[1], m.global_volume = h[2];
    MODUX *mod = load(build_s3m(m));
    ASSERT_NE(mod, nullptr) << modux_error;
    expect_fields({{"speed", mod->initial_speed, h[3]},
                   {"tempo", mod->initial_tempo, h[4]},
                   {"global volume", mod->initial_global_volume, h[5]},
                   {"flags", mod->flags, 0},
                   {"instruments", mod->instrument_count, 0}});
  }
  s3m_image m;
  m.orders = {0, 254, 1, 255, 2};
  m.patterns.resize(3);
  MODUX *mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  // The song ends at "---": pattern 2, named only after it, is not played.
  expect_fields({{"orders", mod->order_count, 2},
                 {"patterns", mod->pattern_count, 2},
                 {"order 0", mod->order_table[0], 0},
                 {"order 1", mod->order_table[1], 1}});
  m.orders.assign(300, 0);
  m.orders[255] = 1, m.orders[299] = 7;
  m.patterns.resize(2);
  ASSERT_NE(mod = load(build_s3m(m)), nullptr) << modux_error;
  expect_fields({{"orders", mod->order_count, 256}, {"patterns", mod->pattern_count, 2}});
}

TEST_F(LoadS3m, ChannelsAndPans) {
  s3m_image m;
  m.chn_set.fill(255);
  m.chn_set[0] = 0, m.chn_set[1] = 8, m.chn_set[2] = 0x80, m.chn_set[3] = 1, m.chn_set[5] = 9;
  m.chn_set[6] = 20;  // an Adlib channel: played, no pan set
  m.patterns[0] = {{0, 5, 0x40, 1}};
  MODUX *mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(std::vector<int>(mod->channel_pan, mod->channel_pan + 6),
            (std::vector<int>{64, 192, 64, 192, 0, 0}));
  // S3M channel 5 plays on channel 3.
  expect_fields(
      {{"channels", mod->channel_count, 5}, {"note", mod->patterns[0].notes[3].note, 8363}});
  m.pan_flag = 252;
  m.default_pan[0] = 0x2F;
  m.default_pan[1] = 0x0F;  // bit 5 clear: the setting's pan stays
  ASSERT_NE(mod = load(build_s3m(m)), nullptr) << modux_error;
  expect_fields({{"pan 0", mod->channel_pan[0], 255}, {"pan 1", mod->channel_pan[1], 192}});
  fast_loading = 0;  // only the channels the patterns name are kept
  ASSERT_NE(mod = load(build_s3m(m)), nullptr) << modux_error;
  expect_fields(
      {{"channels", mod->channel_count, 1}, {"note", mod->patterns[0].notes[0].note, 8363}});
}

TEST_F(LoadS3m, CellsPitchesAndEffects) {
  s3m_image m;
  m.samples.resize(2);
  // Channel 7 is not used: its cell is dropped. A bare second mention of channel 1 in row 3 keeps
  // the first mention's fields.
  m.patterns[0] = {{0, 0, 0x40, 1, 32}, {0, 1, 0xFE, 0},     {1, 0, 0xFF, 2, 0},
                   {1, 1, 0x5B, 3},     {2, 0, -1, 0, 99},   {63, 3, 0x10, 0, -1, 1, 4},
                   {2, 7, 0x40, 1, 10}, {3, 1, 0x40, 1, 20}, {3, 1}};
  MODUX *mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  const NOTE_INFO *n = mod->patterns[0].notes;
  const int c = mod->channel_count;
  const struct {
    int cell, note, sample, volume;
  } want[] = {{0, 8363, 1, 48},
              {1, -1, 0, 0},
              {c, 0, 2, 16},
              {c + 1, MODUX_AMIGA_CLOCK / (noteperiod[11] >> 5), 0, 0},  // instrument 3 of 2: none
              {2 * c, 0, 0, 80},                                         // volume 99 held at 64
              {3 * c + 1, 8363, 1, 36},
              {63 * c + 3, MODUX_AMIGA_CLOCK / (noteperiod[0] >> 1), 0, 0}};
  for (const auto &w : want)
    EXPECT_EQ((std::vector<int>{n[w.cell].note, n[w.cell].sample, n[w.cell].volume}),
              (std::vector<int>{w.note, w.sample, w.volume}))
        << w.cell;
  expect_fields({{"command", n[63 * c + 3].command, 16}, {"param", n[63 * c + 3].param, 4}});

  // clang-format off
  const int pitches[][2] = {{0x40, 8363}, {0xFE, -1}, {0xFF, 0}, {0x0C, 0}, {0xF0, 0},
                            {0x00, MODUX_AMIGA_CLOCK / 6848}, {0x51, MODUX_AMIGA_CLOCK / (6464 >> 5)}};
  // clang-format on
  for (const auto &p : pitches) {
    int note = p[0];
    convert_s3m_pitch(&note);
    EXPECT_EQ(note, p[1]) << std::hex << p[0];
  }
  // The letters go through a lookup table (the real-module comparisons hear every one); these
  // rows pin what is computed: kept or cleared parameters, out of range, and the S sub-commands.
  const int effects[][4] = {
      // letter, parameter in, command and parameter out
      {0, 0x12, 0, 0},       {1, 0x12, 16, 0x12},  {13, 0x12, 0, 0},     {27, 0x12, 0, 0},
      {255, 0x12, 0, 0},     {19, 0x05, 0, 0},     {19, 0x13, 14, 0x33}, {19, 0x24, 14, 0x54},
      {19, 0x31, 14, 0x41},  {19, 0x42, 14, 0x72}, {19, 0x8C, 14, 0x8C}, {19, 0x91, 0, 0},
      {19, 0xA3, 14, 0x103}, {19, 0xB2, 14, 0x62}, {19, 0xE5, 14, 0xE5}, {19, 0xF1, 0, 0}};
  for (const auto &e : effects) {
    int cmd = e[0], param = e[1];
    convert_s3m_command(&cmd, &param);
    EXPECT_EQ(std::make_pair(cmd, param), std::make_pair(e[2], e[3])) << e[0] << " " << e[1];
  }
}

TEST_F(LoadS3m, SamplesSignedUnsignedAnd16Bit) {
  s3m_image m;
  m.samples.resize(5);
  m.samples[0] = {1, true, 4, 1, 3, 40, 1, 22050, {0x00, 0x7F, 0x80, 0xFF}};
  m.samples[1] = {1, true, 2, 0, 0, 64, 4, 8363, {0x34, 0x12, 0xCD, 0xAB}};  // 16-bit
  m.samples[2] = {2, true, 4, 0, 0, 64, 0, 8363, {1, 2, 3, 4}};              // type 2: empty
  m.samples[3] = {1, false, 4, 0, 0, 64, 0, 8363, {1, 2, 3, 4}};             // no "SCRS": empty
  m.samples[4] = {1, true, 4, 2, 100, 70, 1, 8363, {1, 2, 3, 4}};            // loop end held at 4
  const struct {
    int format;
    std::vector<int> first, second;
  } formats[] = {{1, {0x80, 0xFF, 0x00, 0x7F}, {0x9234, 0x2BCD}},
                 {2, {0x00, 0x7F, 0x80, 0xFF}, {0x1234, 0xABCD}}};
  for (const auto &f : formats) {
    m.sample_format = f.format;
    MODUX *mod = load(build_s3m(m));
    ASSERT_NE(mod, nullptr) << modux_error;
    ASSERT_EQ(mod->sample_count, 5);
    const uint8_t *d0 = static_cast<const uint8_t *>(mod->samples[0].data);
    const uint16_t *d1 = static_cast<const uint16_t *>(mod->samples[1].data);
    EXPECT_EQ(std::vector<int>(d0, d0 + 4), f.first) << f.format;
    EXPECT_EQ(std::vector<int>(d1, d1 + mod->samples[1].len), f.second) << f.format;
    EXPECT_EQ(mod->samples[1].bits, 16);
  }
  MODUX *mod = loaded_.back();
  const SAMPLE_INFO *i = mod->sample_info;
  // clang-format off
  expect_fields({{"tuning", i[0].tuning, 22050}, {"freq", mod->samples[0].freq, 22050},
                 {"volume", i[0].volume, 40}, {"loop flags", i[0].loop_flags, 1},
                 {"loop start", i[0].loop_start, 1}, {"loop end", i[0].loop_end, 3},
                 {"type 2", mod->samples[2].len, 0}, {"no SCRS", mod->samples[3].len, 0},
                 {"held loop end", i[4].loop_end, 4}, {"held volume", i[4].volume, 64}});
  // clang-format on
  EXPECT_NE(mod->samples[3].data, nullptr);
}

TEST_F(LoadS3m, DamagedFilesGetSafeAnswers) {
  s3m_image m;
  m.orders = {0, 1, 2, 3};
  m.patterns.assign(3, {{0, 0, 0x40, 0}});
  m.pattern_para = {0, 0xFFFF};  // pattern 0 at 0, pattern 1 past the end
  MODUX *mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  // Pattern 3 is named by the orders but not in the file.
  expect_fields({{"patterns", mod->pattern_count, 4},
                 {"at 0", mod->patterns[0].notes[0].note, 0},
                 {"past the end", mod->patterns[1].notes[0].note, 0},
                 {"2", mod->patterns[2].notes[0].note, 8363},
                 {"missing", mod->patterns[3].notes[0].note, 0}});

  // Counts that the file cannot hold are refused before anything is allocated from them.
  bytes b = build_s3m(s3m_image{});
  b[34] = 0xFF, b[35] = 0xFF;  // 65535 instruments
  refused(b, "S3M: file ends inside the order list or the parapointers");
  refused(bytes(b.begin(), b.begin() + 60), "S3M: file ends inside the header");

  // A pattern cut short by the end of the file keeps its rows so far.
  s3m_image t;
  t.patterns[0] = {{0, 0, 0x40, 0}, {40, 0, 0x40, 0}};
  bytes full = build_s3m(t);
  full.resize(full.size() - 30);
  ASSERT_NE(mod = load(full), nullptr) << modux_error;
  expect_fields({{"row 0", mod->patterns[0].notes[0].note, 8363},
                 {"row 40", mod->patterns[0].notes[40 * 4].note, 0}});

  // Sample data cut short: the frames there are kept, and the load says what is missing.
  s3m_image w;
  w.samples = {{1, true, 8, 0, 0, 64, 4, 8363, bytes(16, 1)}};
  w.patterns.clear();  // the data is the last thing in the file
  full = build_s3m(w);
  full.resize(full.size() - 5);
  ASSERT_NE(mod = load(full), nullptr) << modux_error;
  EXPECT_EQ(mod->samples[0].len, 5);
  EXPECT_STREQ(modux_note, "file ends 6 bytes early: the end of the sample data is silent");
}

}  // namespace
