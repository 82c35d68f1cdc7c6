// The S3M importer: detection in files and UMX packages, the header, the order list without
// its markers, channel set-up and pans, packed cells, every effect letter's translation,
// samples, and damaged parapointers and counts.
#include "loader_fixture.h"

using namespace modimg;

namespace {

using LoadS3m = Loader;

TEST_F(LoadS3m, DetectionInFilesAndPackages) {
  s3m_image m;
  m.name = "plain";
  const bytes plain = build_s3m(m);
  const std::string path = file(plain), umx = file(wrap_umx(plain, 120));
  EXPECT_EQ(detect_s3m(path.c_str()), 1);
  EXPECT_EQ(detect_unreal_s3m(path.c_str()), -1);
  expect_info(path, 3, "S3M", "plain");
  EXPECT_EQ(detect_s3m(umx.c_str()), -1);
  EXPECT_EQ(detect_unreal_s3m(umx.c_str()), 120);
  expect_info(umx, 7, "Unreal S3M (UMX)", "plain");
  MODUX *mod = keep(load_mod(umx.c_str()));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_STREQ(mod->name, "plain");
  EXPECT_EQ(mod->channel_count, 4);
  // The signature only within the first 500 windows of a package, and only after its magic.
  EXPECT_EQ(detect_unreal_s3m(file(wrap_umx(plain, 459)).c_str()), 459);  // "SCRM" at 503
  EXPECT_EQ(detect_unreal_s3m(file(wrap_umx(plain, 460)).c_str()), -1);
  bytes no_magic = wrap_umx(plain, 120);
  no_magic[0] = 0;
  EXPECT_EQ(detect_unreal_s3m(file(no_magic).c_str()), -1);
  EXPECT_EQ(detect_s3m("/nonexistent/x.s3m"), 0);
  EXPECT_EQ(detect_unreal_s3m("/nonexistent/x.umx"), 0);
}

TEST_F(LoadS3m, HeaderFieldsAndDefaults) {
  const struct {
    int speed, tempo, global, want_speed, want_tempo, want_global;
    int flags = 0, tracker = 0x1320, want_fast = 0;  // header flags, tracker word, fast slides
    int want_limits = 0;                             // Amiga limits
  } cases[] = {{3, 150, 48, 3, 150, 48},
               {0, 0, 200, 6, 125, 64},
               {6, 125, 64, 6, 125, 64, 0x40, 0x1320, 1},
               {6, 125, 64, 6, 125, 64, 0x00, 0x1300, 1},
               {6, 125, 64, 6, 125, 64, 0xBF, 0x1301, 0, 1},
               {6, 125, 64, 6, 125, 64, 0x10, 0x1320, 0, 1},
               {255, 32, 64, 6, 125, 64},                  // Scream Tracker loads neither
               {255, 20, 64, 255, 32, 64, 0x00, 0x3214}};  // others: 32 BPM at least
  for (const auto &c : cases) {
    s3m_image m;
    m.speed = c.speed, m.tempo = c.tempo, m.global_volume = c.global;
    m.flags = c.flags, m.tracker = c.tracker;
    MODUX *mod = load(build_s3m(m));
    ASSERT_NE(mod, nullptr) << modux_error;
    expect_fields({{"speed", mod->initial_speed, c.want_speed}, {"tempo", mod->initial_tempo, c.want_tempo},
                   {"global volume", mod->initial_global_volume, c.want_global}, {"flags", mod->flags, 0},
                   {"instruments", mod->instrument_count, 0},
                   {"fast slides", (mod->rules & RULE_FAST_VOLSLIDES) != 0, c.want_fast},
                   {"Amiga limits", (mod->rules & RULE_AMIGA_LIMITS) != 0, c.want_limits}});
  }
}

TEST_F(LoadS3m, OrderMarkersAreRemovedAndOnlyTheFirst256OrdersKept) {
  s3m_image m;
  m.orders = {0, 254, 1, 255, 2};
  m.patterns.resize(3);
  MODUX *mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  // The song ends at "---": pattern 2, named only after it, is not played.
  expect_fields({{"orders", mod->order_count, 2}, {"patterns", mod->pattern_count, 2},
                 {"order 0", mod->order_table[0], 0}, {"order 1", mod->order_table[1], 1}});
  m.orders.assign(300, 0);
  m.orders[255] = 1, m.orders[299] = 7;
  m.patterns.resize(2);
  mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << modux_error;
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
  EXPECT_EQ(mod->channel_count, 5);
  const int pans[5] = {64, 192, 64, 192, 0};
  for (int i = 0; i < 5; i++) EXPECT_EQ(mod->channel_pan[i], pans[i]) << i;
  EXPECT_EQ(mod->patterns[0].notes[3].note, 8363);  // S3M channel 5 plays on channel 3

  m.pan_flag = 252;
  m.default_pan[0] = 0x2F;
  m.default_pan[1] = 0x0F;  // bit 5 clear: the setting's pan stays
  mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  expect_fields({{"pan 0", mod->channel_pan[0], 255}, {"pan 1", mod->channel_pan[1], 192}});

  // Without fast loading only the channels the patterns name are kept.
  fast_loading = 0;
  mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  expect_fields({{"channels", mod->channel_count, 1}, {"note", mod->patterns[0].notes[0].note, 8363}});
}

TEST_F(LoadS3m, CellsNotesInstrumentsAndVolumes) {
  s3m_image m;
  m.samples.resize(2);
  m.patterns[0] = {{0, 0, 0x40, 1, 32},   {0, 1, 0xFE, 0}, {1, 0, 0xFF, 2, 0},
                   {1, 1, 0x5B, 3},       {2, 0, -1, 0, 99}, {63, 3, 0x10, 0, -1, 1, 4},
                   {2, 7, 0x40, 1, 10},   // channel 7 is not used: dropped
                   {3, 1, 0x40, 1, 20},   {3, 1}};  // a bare second mention keeps the first
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
              {2 * c, 0, 0, 80},                               // volume 99 held at 64
              {3 * c + 1, 8363, 1, 36},
              {63 * c + 3, MODUX_AMIGA_CLOCK / (noteperiod[0] >> 1), 0, 0}};
  for (const auto &w : want)
    EXPECT_EQ((std::vector<int>{n[w.cell].note, n[w.cell].sample, n[w.cell].volume}),
              (std::vector<int>{w.note, w.sample, w.volume}))
        << w.cell;
  expect_fields({{"command", n[63 * c + 3].command, 16}, {"param", n[63 * c + 3].param, 4}});
}

TEST_F(LoadS3m, PitchConversion) {
  const struct {
    int in, out;
  } cases[] = {{0x40, 8363}, {0xFE, -1}, {0xFF, 0}, {0x0C, 0}, {0x00, MODUX_AMIGA_CLOCK / 6848},
               {0x51, MODUX_AMIGA_CLOCK / (6464 >> 5)}, {0xF0, 0}};
  for (const auto &c : cases) {
    int note = c.in;
    convert_s3m_pitch(&note);
    EXPECT_EQ(note, c.out) << std::hex << c.in;
  }
}

TEST_F(LoadS3m, EveryEffectLetter) {
  // letter, parameter in, command out, parameter out
  const struct {
    int letter, in, cmd, out;
  } cases[] = {
      {0, 0x12, 0, 0},       {1, 0x12, 16, 0x12},   {2, 0x12, 11, 0x12},   {3, 0x12, 13, 0x12},
      {4, 0x12, 17, 0x12},   {5, 0x12, 18, 0x12},   {6, 0x12, 19, 0x12},   {7, 0x12, 3, 0x12},
      {8, 0x12, 4, 0x12},    {9, 0x12, 20, 0x12},   {10, 0x12, 21, 0x12},  {11, 0x12, 22, 0x12},
      {12, 0x12, 23, 0x12},  {13, 0x12, 0, 0},      {14, 0x12, 0, 0},      {15, 0x12, 9, 0x12},
      {16, 0x12, 0, 0},      {17, 0x12, 24, 0x12},  {18, 0x12, 25, 0x12},  {20, 0x12, 26, 0x12},
      {21, 0x12, 27, 0x12},  {22, 0x12, 28, 0x12},  {23, 0x12, 0, 0},      {24, 0x12, 29, 0x12},
      {25, 0x12, 0, 0},      {26, 0x12, 0, 0},      {27, 0x12, 0, 0},      {255, 0x12, 0, 0},
      // S sub-commands
      {19, 0x05, 0, 0},      {19, 0x13, 14, 0x33},  {19, 0x24, 14, 0x54},  {19, 0x31, 14, 0x41},
      {19, 0x42, 14, 0x72},  {19, 0x51, 0, 0},      {19, 0x61, 0, 0},      {19, 0x71, 0, 0},
      {19, 0x8C, 14, 0x8C},  {19, 0x91, 0, 0},      {19, 0xA3, 14, 0x103}, {19, 0xB2, 14, 0x62},
      {19, 0xC3, 14, 0xC3},  {19, 0xD4, 14, 0xD4},  {19, 0xE5, 14, 0xE5},  {19, 0xF1, 0, 0},
  };
  for (const auto &c : cases) {
    int cmd = c.letter, param = c.in;
    convert_s3m_command(&cmd, &param);
    EXPECT_EQ(cmd, c.cmd) << "letter " << c.letter << " param " << std::hex << c.in;
    EXPECT_EQ(param, c.out) << "letter " << c.letter << " param " << std::hex << c.in;
  }
}

TEST_F(LoadS3m, SamplesSignedUnsignedAnd16Bit) {
  s3m_image m;
  m.samples.resize(5);
  m.samples[0] = {1, true, 4, 1, 3, 40, 1, 22050, {0x00, 0x7F, 0x80, 0xFF}};
  m.samples[1] = {1, true, 2, 0, 0, 64, 4, 8363, {0x34, 0x12, 0xCD, 0xAB}};  // 16-bit
  m.samples[2] = {2, true, 4, 0, 0, 64, 0, 8363, {1, 2, 3, 4}};             // type 2: empty
  m.samples[3] = {1, false, 4, 0, 0, 64, 0, 8363, {1, 2, 3, 4}};            // no "SCRS": empty
  m.samples[4] = {1, true, 4, 2, 100, 70, 1, 8363, {1, 2, 3, 4}};           // loop end held at 4
  const struct {
    int format;
    std::vector<int> first, second;
  } formats[] = {{1, {0x80, 0xFF, 0x00, 0x7F}, {0x9234, 0x2BCD}}, {2, {0x00, 0x7F, 0x80, 0xFF}, {0x1234, 0xABCD}}};
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
  expect_fields({{"tuning", i[0].tuning, 22050}, {"freq", mod->samples[0].freq, 22050}, {"volume", i[0].volume, 40},
                 {"loop flags", i[0].loop_flags, 1}, {"loop start", i[0].loop_start, 1}, {"loop end", i[0].loop_end, 3},
                 {"type 2", mod->samples[2].len, 0}, {"no SCRS", mod->samples[3].len, 0},
                 {"held loop end", i[4].loop_end, 4}, {"held volume", i[4].volume, 64}});
  EXPECT_NE(mod->samples[3].data, nullptr);
}

TEST_F(LoadS3m, DamagedFilesGetSafeAnswers) {
  s3m_image m;
  m.orders = {0, 1, 2, 3};
  m.patterns.resize(3);
  m.patterns[0] = {{0, 0, 0x40, 0}};
  m.patterns[1] = {{0, 0, 0x40, 0}};
  m.patterns[2] = {{0, 0, 0x40, 0}};
  m.pattern_para = {0, 0xFFFF};  // pattern 0 at 0, pattern 1 past the end
  MODUX *mod = load(build_s3m(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  // Pattern 3 is named by the orders but not in the file.
  expect_fields({{"patterns", mod->pattern_count, 4}, {"at 0", mod->patterns[0].notes[0].note, 0},
                 {"past the end", mod->patterns[1].notes[0].note, 0}, {"2", mod->patterns[2].notes[0].note, 8363},
                 {"missing", mod->patterns[3].notes[0].note, 0}});

  // Counts that the file cannot hold are refused before anything is allocated from them.
  bytes b = build_s3m(s3m_image{});
  b[34] = 0xFF, b[35] = 0xFF;  // 65535 instruments
  EXPECT_EQ(load(b), nullptr);
  EXPECT_STREQ(modux_error, "S3M: file ends inside the order list or the parapointers");
  bytes head(b.begin(), b.begin() + 60);
  EXPECT_EQ(load(head), nullptr);
  EXPECT_STREQ(modux_error, "S3M: file ends inside the header");

  // A pattern cut short by the end of the file keeps its rows so far.
  s3m_image t;
  t.patterns[0] = {{0, 0, 0x40, 0}, {40, 0, 0x40, 0}};
  bytes full = build_s3m(t);
  full.resize(full.size() - 30);
  mod = load(full);
  ASSERT_NE(mod, nullptr) << modux_error;
  expect_fields({{"row 0", mod->patterns[0].notes[0].note, 8363}, {"row 40", mod->patterns[0].notes[40 * 4].note, 0}});

  // Sample data cut short: the frames there are kept, and the load says what is missing.
  s3m_image w;
  w.samples = {{1, true, 8, 0, 0, 64, 4, 8363, bytes(16, 1)}};
  w.patterns.clear();  // the data is the last thing in the file
  full = build_s3m(w);
  full.resize(full.size() - 5);
  mod = load(full);
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(mod->samples[0].len, 5);
  EXPECT_STREQ(modux_note, "file ends 6 bytes early: the end of the sample data is silent");
}

}  // namespace
