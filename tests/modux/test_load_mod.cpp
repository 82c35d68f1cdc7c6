// The MOD importer and the detection series: signatures and channel counts, the header and
// order list, cells, samples and their loops, 15-sample files behind enable_m15, files that are
// short or lie about their sizes, and every family found plain and inside UMX packages.
#include "loader_fixture.h"

using namespace modimg;

namespace {

using LoadMod = Loader;

TEST_F(LoadMod, SignaturesGiveTheirChannelCounts) {
  const struct {
    const char *sig;
    int channels;
  } cases[] = {{"M.K.", 4},  {"M!K!", 4},  {"FLT4", 4}, {"1CHN", 1}, {"8CHN", 8},  {"10CH", 10},
               {"32CH", 32}, {"64CH", 64}, {"CD81", 8}, {"OKTA", 8}, {"16CN", 16}, {"32CN", 32},
               {"FLT8", 8},  {"CD61", 6},  {"FA04", 4}, {"FA06", 6}, {"FA08", 8},  {"M&K!", 4}};
  for (const auto &c : cases) {
    mod_image m;
    m.signature = c.sig;
    m.channels = c.channels;
    m.samples.resize(3);
    // The first and last cells of rows and of the second pattern land where they belong,
    // whatever the layout (FLT8 halves, the Falcon bytes after the signature).
    const int last = c.channels - 1;
    m.song_length = 2, m.orders = {0, c.channels == 8 && c.sig[1] == 'L' ? 2 : 1};
    m.patterns.assign(2, std::vector<mod_cell>(64 * c.channels));
    m.patterns[0][2 * c.channels] = {1, 428, 0, 0};
    m.patterns[0][last] = {2, 214, 0xC, 5};
    m.patterns[0][c.channels + last] = {3, 856, 0xF, 3};
    m.patterns[1][63 * c.channels + last] = {1, 428, 0xB, 0};
    const std::string path = file(build_mod(m));
    EXPECT_EQ(detect_m31(path.c_str()), 1) << c.sig;
    MODUX *mod = keep(load_mod(path.c_str()));
    ASSERT_NE(mod, nullptr) << c.sig << ": " << modux_error;
    EXPECT_EQ(mod->channel_count, c.channels) << c.sig;
    ASSERT_EQ(mod->pattern_count, 2) << c.sig;
    EXPECT_EQ(mod->order_table[1], 1) << c.sig;
    const NOTE_INFO *p0 = mod->patterns[0].notes, *p1 = mod->patterns[1].notes;
    EXPECT_EQ((std::vector<int>{p0[2 * c.channels].sample, p0[2 * c.channels].note, p0[last].sample,
                                p0[last].param, p0[c.channels + last].sample,
                                p0[c.channels + last].command, p1[63 * c.channels + last].command}),
              (std::vector<int>{1, 8363, 2, 5, 3, 0xF, 0xB}))
        << c.sig;
  }
}

TEST_F(LoadMod, EndMarkerAndUnknownSignaturesAreNoMod) {
  for (const char *sig : {"32FW", "XXXX", "65CH", "0CHN"}) {
    mod_image m;
    m.signature = sig;
    const std::string path = file(build_mod(m));
    EXPECT_EQ(detect_m31(path.c_str()), -1) << sig;
    EXPECT_EQ(load_mod(path.c_str()), nullptr) << sig;
    EXPECT_STREQ(modux_error, "Unsupported MOD type or unable to open file");
  }
  EXPECT_EQ(detect_m31("/nonexistent/file.mod"), -1);
}

TEST_F(LoadMod, HeaderOrdersAndFixedValues) {
  mod_image m;
  m.title = "twenty chars title!!";
  m.song_length = 3;
  m.restart = 1;
  m.orders = {2, 0, 1, 0, 9};  // entry 4 lies beyond the song yet counts
  m.patterns.assign(10, std::vector<mod_cell>(64 * 4));
  MODUX *mod = load(build_mod(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_STREQ(mod->name, "twenty chars title!!");
  // clang-format off
  expect_fields({{"orders", mod->order_count, 3}, {"restart", mod->restart_order, 1},
                 {"patterns", mod->pattern_count, 10}, {"order 0", mod->order_table[0], 2},
                 {"order 4", mod->order_table[4], 9}, {"samples", mod->sample_count, 31},
                 {"instruments", mod->instrument_count, 0}, {"flags", mod->flags, 0},
                 {"speed", mod->initial_speed, 6}, {"tempo", mod->initial_tempo, 125},
                 {"global volume", mod->initial_global_volume, 64},
                 {"pan 63", mod->channel_pan[63], 0}});
  // clang-format on
  EXPECT_EQ(std::vector<int>(mod->channel_pan, mod->channel_pan + 8),
            (std::vector<int>{0, 255, 255, 0, 0, 255, 255, 0}));
  for (int p = 0; p < mod->pattern_count; p++) EXPECT_EQ(mod->patterns[p].row_count, 64);
}

TEST_F(LoadMod, RestartAndSongLengthAreHeldInsideTheSong) {
  const struct {
    int length, restart, want_count, want_restart;
  } cases[] = {{20, 127, 20, 0}, {20, 19, 20, 19}, {20, 20, 20, 0}, {200, 5, 128, 5}, {0, 0, 0, 0}};
  for (const auto &c : cases) {
    mod_image m;
    m.song_length = c.length;
    m.restart = c.restart;
    MODUX *mod = load(build_mod(m));
    ASSERT_NE(mod, nullptr) << modux_error;
    EXPECT_EQ(mod->order_count, c.want_count) << c.length << "/" << c.restart;
    EXPECT_EQ(mod->restart_order, c.want_restart) << c.length << "/" << c.restart;
  }
}

TEST_F(LoadMod, CellsBecomeNotesSamplesAndEffects) {
  mod_image m;
  m.patterns[0][0] = {1, 428, 0xC, 0x20};
  m.patterns[0][5] = {0x1F, 0, 0xF, 0x7D};  // row 1, channel 1
  m.patterns[0][6] = {0, 113, 0xE, 0x93};
  m.patterns[0][7] = {0x15, 0xFFF, 3, 0};
  m.samples.resize(31);
  MODUX *mod = load(build_mod(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  const NOTE_INFO *n = mod->patterns[0].notes;
  // clang-format off
  const struct {
    int cell, sample, note, command, param;
  } want[] = {{0, 1, 8363, 12, 0x20}, {5, 31, 0, 15, 0x7D}, {6, 0, MODUX_AMIGA_CLOCK / 113, 14, 0x93},
              {7, 0x15, MODUX_AMIGA_CLOCK / 0xFFF, 3, 0}, {1, 0, 0, 0, 0}};
  // clang-format on
  for (const auto &w : want)
    EXPECT_EQ((std::vector<int>{n[w.cell].sample, n[w.cell].note, n[w.cell].command,
                                n[w.cell].param, n[w.cell].volume}),
              (std::vector<int>{w.sample, w.note, w.command, w.param, 0}))
        << w.cell;
}

TEST_F(LoadMod, SamplesTheirTuningVolumeLoopsAndData) {
  mod_image m;
  m.samples.resize(5);
  m.samples[0] = {2, 1, 40, 0, 0, {0, 1, 0xFF, 127}};  // 4 bytes, no loop
  m.samples[1] = {4, 15, 99, 1, 2, bytes(8, 0x80)};    // loop 2..6, volume held at 64
  m.samples[2] = {1, 0, 64, 0, 1, {}};                 // length word 1: empty
  m.samples[3] = {4, 0x3F, 64, 3, 4, bytes(8, 0)};     // loop past the end: cut to 8
  m.samples[4] = {4, 0, 64, 4, 0, bytes(8, 0)};        // loop start at the end: no loop
  MODUX *mod = load(build_mod(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  const struct {
    int len, tuning, volume, loop_flags, loop_start, loop_end;
  } want[] = {{4, mod_finetune[1], 40, 0, 0, 4},
              {8, mod_finetune[15], 64, 1, 2, 6},
              {0, 8363, 64, 0, 0, 0},
              {8, mod_finetune[15], 64, 1, 6, 8},
              {8, 8363, 64, 0, 0, 8}};
  for (int i = 0; i < 5; i++) {
    const SAMPLE &s = mod->samples[i];
    const SAMPLE_INFO &si = mod->sample_info[i];
    const auto &w = want[i];
    // The Allegro sample and the model's record agree on length and loop.
    EXPECT_EQ(
        (std::vector<int>{si.length, static_cast<int>(s.len), si.tuning, si.volume, si.loop_flags,
                          si.loop_start, si.loop_end, static_cast<int>(s.loop_start),
                          static_cast<int>(s.loop_end), s.bits, static_cast<int>(s.param)}),
        (std::vector<int>{w.len, w.len, w.tuning, w.volume, w.loop_flags, w.loop_start, w.loop_end,
                          w.loop_start, w.loop_end, 8, -1}))
        << i;
    EXPECT_NE(s.data, nullptr);
  }
  const uint8_t *d = static_cast<const uint8_t *>(mod->samples[0].data);
  EXPECT_EQ(std::vector<int>(d, d + 4),
            (std::vector<int>{0x80, 0x81, 0x7F, 0xFF}));  // signed to unsigned
}

TEST_F(LoadMod, FifteenSampleFilesOnlyWhenEnabled) {
  mod_image m;
  m.no_inst = 15;
  m.title = "old one";
  m.patterns[0][0] = {1, 428, 0, 0};
  m.patterns[0][1] = {16, 428, 0, 0};  // beyond the 15 samples: none
  m.samples.resize(1);
  m.samples[0] = {2, 0, 64, 0, 0, bytes(4, 0)};
  const std::string path = file(build_mod(m));
  EXPECT_EQ(detect_m15(path.c_str()), 1);
  EXPECT_EQ(load_mod(path.c_str()), nullptr);
  EXPECT_STREQ(modux_error, "Unsupported MOD type or unable to open file");
  enable_m15 = -1;
  MODUX *mod = keep(load_mod(path.c_str()));
  ASSERT_NE(mod, nullptr) << modux_error;
  expect_fields({{"samples", mod->sample_count, 15},
                 {"channels", mod->channel_count, 4},
                 {"len", mod->samples[0].len, 4},
                 {"note", mod->patterns[0].notes[0].note, 8363},
                 {"sample 1", mod->patterns[0].notes[0].sample, 1},
                 {"sample 16", mod->patterns[0].notes[1].sample, 0}});
  expect_info(path, 1, "MOD (15 Samples)", "old one");
  // A finetune byte or a volume above 64 in a header is no 15-sample MOD.
  for (int at : {20 + 24, 20 + 14 * 30 + 25}) {
    bytes b = build_mod(m);
    b[at] = 65;
    EXPECT_EQ(detect_m15(file(b).c_str()), 0) << at;
  }
}

TEST_F(LoadMod, ArgumentChecks) {
  const std::string path = file(build_mod(mod_image{}));
  MODFILE_INFO info;
  EXPECT_EQ(load_m(path.c_str(), 16), nullptr);
  EXPECT_STREQ(modux_error, "MOD must be 15 or 31 instruments");
  EXPECT_EQ(get_m_info(path.c_str(), 0, &info), -1);
  EXPECT_STREQ(modux_error, "MOD must have 15 or 31 samples");
  EXPECT_EQ(load_m("/nonexistent/x.mod", 31), nullptr);
  EXPECT_STREQ(modux_error, "Unable to open /nonexistent/x.mod");
  const int orders[] = {3, 0, 7, 2};
  EXPECT_EQ(get_mod_no_pat(orders, 4), 8);
  EXPECT_EQ(get_mod_no_pat(orders, 2), 4);
  EXPECT_EQ(get_mod_no_pat(orders, 0), 1);
}

TEST_F(LoadMod, ShortFilesAreRefusedOrKeepWhatIsThere) {
  mod_image m;
  m.orders = {0, 3};  // four patterns promised
  m.patterns.assign(4, std::vector<mod_cell>(256));
  m.samples.resize(2);
  m.samples[0] = {8, 0, 64, 0, 0, bytes(16, 1)};
  m.samples[1] = {8, 0, 64, 2, 6, bytes(16, 2)};
  const bytes full = build_mod(m);
  // Cut inside the patterns: refused with the place.
  bytes cut(full.begin(), full.begin() + 1084 + 3 * 1024 + 10);
  EXPECT_EQ(load(cut), nullptr);
  EXPECT_STREQ(modux_error, "MOD: file ends inside pattern 3 of 4");
  // Cut inside the sample data: the first keeps what is there, the second is empty.
  bytes short_data(full.begin(), full.end() - 16 - 6);
  MODUX *mod = load(short_data);
  ASSERT_NE(mod, nullptr) << modux_error;
  expect_fields({{"kept", mod->samples[0].len, 10},
                 {"empty", mod->samples[1].len, 0},
                 {"no loop", mod->sample_info[1].loop_flags, 0}});
  EXPECT_STREQ(modux_note, "file ends 22 bytes early: the end of the sample data is silent");
  ASSERT_NE(load(full), nullptr);
  EXPECT_STREQ(modux_note, "") << "a whole file leaves no note";
}

// Every family's detector, get_mod_info and load_mod, on the plain file and inside a UMX
// package at an offset: a package is searched within its first 500 windows, after its magic.
TEST_F(LoadMod, EveryFamilyIsFoundPlainAndPackaged) {
  mod_image six;
  six.title = "packaged", six.signature = "6CHN", six.channels = 6;
  six.patterns.assign(1, std::vector<mod_cell>(64 * 6));
  s3m_image s3m;
  s3m.name = "plain";
  xm_image xm;
  xm.name = "xm song";
  const bytes mod = build_mod(six), s = build_s3m(s3m), x = build_xm(xm), it = build_it("packed");
  using detector = int (*)(const char *);
  const char *umx_mod = "Unreal MOD (UMX)", *umx_s3m = "Unreal S3M (UMX)",
             *umx_it = "Unreal IT (UMX)";
  // clang-format off
  const struct {
    const bytes &image;
    size_t offset;  // 0: the plain file
    detector detect;
    int want, type;  // type 0: no module to load
    const char *type_name = nullptr, *name = nullptr;
    int channels = 0;
  } cases[] = {
      {mod, 0, detect_m31, 1, 2, "MOD (31 Samples)", "packaged", 6},
      {mod, 0, detect_unreal_mod, -1, 0}, {mod, 0, detect_it, -1, 0},
      {mod, 4, detect_unreal_mod, 4, 10, umx_mod, "packaged", 6},
      {mod, 300, detect_unreal_mod, 300, 10, umx_mod, "packaged", 6},
      {mod, 503, detect_unreal_mod, 503, 10, umx_mod, "packaged", 6},
      {mod, 504, detect_unreal_mod, -1, 0},
      {s, 0, detect_s3m, 1, 3, "S3M", "plain", 4}, {s, 0, detect_unreal_s3m, -1, 0},
      {s, 120, detect_s3m, -1, 0},
      {s, 120, detect_unreal_s3m, 120, 7, umx_s3m, "plain", 4},
      {s, 459, detect_unreal_s3m, 459, 7, umx_s3m, "plain", 4},  // "SCRM" at 503
      {s, 460, detect_unreal_s3m, -1, 0},
      {x, 0, detect_xm, 1, 4, "XM", "xm song", 2}, {x, 300, detect_xm, -1, 0},
      {x, 300, detect_unreal_xm, 300, 8, "Unreal XM (UMX)", "xm song", 2},
      {it, 0, detect_it, 1, 5, "IT", "packed", 2},
      {it, 4, detect_unreal_it, 4, 9, umx_it, "packed", 2},
      {it, 200, detect_unreal_it, 200, 9, umx_it, "packed", 2},
      {it, 503, detect_unreal_it, 503, 9, umx_it, "packed", 2},
      {it, 504, detect_unreal_it, -1, 0}, {it, 600, detect_unreal_it, -1, 0}};
  // clang-format on
  for (const auto &c : cases) {
    const std::string path = file(c.offset ? wrap_umx(c.image, c.offset) : c.image);
    const std::string what = std::to_string(&c - cases) + " at " + std::to_string(c.offset);
    EXPECT_EQ(c.detect(path.c_str()), c.want) << what;
    if (!c.type) continue;
    expect_info(path, c.type, c.type_name, c.name);
    MODUX *m = keep(load_mod(path.c_str()));
    ASSERT_NE(m, nullptr) << what << ": " << modux_error;
    EXPECT_STREQ(m->name, c.name) << what;
    EXPECT_EQ(m->channel_count, c.channels) << what;
  }
  // A package without its magic is never searched; a missing file answers 0.
  for (detector d : {detect_unreal_s3m, detect_unreal_it}) {
    bytes no_magic = wrap_umx(d == detect_unreal_it ? it : s, 120);
    no_magic[0] = 0;
    EXPECT_EQ(d(file(no_magic).c_str()), -1);
  }
  for (detector d : {detect_s3m, detect_unreal_s3m, detect_xm, detect_it, detect_unreal_it})
    EXPECT_EQ(d("/nonexistent/x.umx"), 0);
  // IT comes first among the packages: a package holding "IMPM" before an XM is IT.
  bytes both = wrap_umx(build_it("first"), 100);
  both.resize(1000);
  both.insert(both.end(), x.begin(), x.end());
  expect_info(file(both), 9, umx_it, "first");
}

}  // namespace
