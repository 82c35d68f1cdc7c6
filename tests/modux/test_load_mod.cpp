// The MOD importer and the detection series: signatures, the order list, 15-sample files, refusals,
// UMX packages. Valid cells, pans and samples are heard in real MODs and rule modules' renders.
#include "loader_fixture.h"

using namespace modimg;

namespace {

using LoadMod = Loader;

// Cells of row 0 and 2 and the last of the second pattern land where they belong, whatever the
// layout (FLT8 halves, the Falcon bytes after the signature).
TEST_F(LoadMod, SignaturesGiveTheirChannelCounts) {
  // clang-format off
  const struct { const char *sig; int channels; } cases[] = {
      {"M.K.", 4}, {"M!K!", 4}, {"FLT4", 4}, {"1CHN", 1}, {"8CHN", 8}, {"10CH", 10}, {"32CH", 32}, {"64CH", 64}, {"CD81", 8},
      {"OKTA", 8}, {"16CN", 16}, {"32CN", 32}, {"FLT8", 8}, {"CD61", 6}, {"FA04", 4}, {"FA06", 6}, {"FA08", 8}, {"M&K!", 4}};
  // clang-format on
  for (const auto &c : cases) {
    mod_image m;
    m.signature = c.sig;
    const int n = m.channels = c.channels, last = n - 1;
    m.samples.resize(3);
    m.song_length = 2, m.orders = {0, n == 8 && c.sig[1] == 'L' ? 2 : 1};
    m.patterns.assign(2, std::vector<mod_cell>(64 * n));
    m.patterns[0][2 * n] = {1, 428, 0, 0};
    m.patterns[0][last] = {2, 214, 0xC, 5};
    m.patterns[1][63 * n + last] = {3, 428, 0xB, 0};
    MODUX *mod = load(build_mod(m));
    ASSERT_NE(mod, nullptr) << c.sig << ": " << status_.message;
    ASSERT_EQ(mod->pattern_count, 2) << c.sig;
    const NOTE_INFO *p0 = mod->patterns[0].notes, *p1 = mod->patterns[1].notes;
    EXPECT_EQ((std::vector<int>{mod->channel_count, mod->order_table[1], p0[2 * n].sample,
                                p0[last].sample, p0[last].param, p1[63 * n + last].sample}),
              (std::vector<int>{n, 1, 1, 2, 5, 3}))
        << c.sig;
  }
}

// Song length and restart are held inside the song; the pattern count follows the highest entry
// of all 128 orders, also those beyond the song; a title of all 20 characters is kept whole.
TEST_F(LoadMod, OrderListHeldInsideTheSong) {
  // clang-format off
  const struct { int length, restart; std::vector<int> orders; int count, want_restart, patterns; } cases[] = {
      {3, 1, {2, 0, 1, 0, 9}, 3, 1, 10}, {20, 127, {0}, 20, 0, 1}, {20, 19, {0}, 20, 19, 1},
      {20, 20, {0}, 20, 0, 1}, {200, 5, {0}, 128, 5, 1}, {0, 0, {0}, 0, 0, 1}};
  // clang-format on
  for (const auto &c : cases) {
    mod_image m;
    m.title = "twenty chars title!!";
    m.song_length = c.length, m.restart = c.restart, m.orders = c.orders;
    m.patterns.assign(c.patterns, std::vector<mod_cell>(64 * 4));
    MODUX *mod = load(build_mod(m));
    ASSERT_NE(mod, nullptr) << status_.message;
    EXPECT_STREQ(mod->name, "twenty chars title!!");
    EXPECT_EQ((std::vector<int>{mod->order_count, mod->restart_order, mod->pattern_count}),
              (std::vector<int>{c.count, c.want_restart, c.patterns}))
        << c.length << "/" << c.restart;
  }
}

// 15-sample files load only when enabled (sample numbers beyond 15 are none); a finetune byte
// or a volume above 64 in a header is no 15-sample MOD. Refusals and notes name their fault.
TEST_F(LoadMod, FifteenSampleFilesAndRefusals) {
  mod_image m;
  m.no_inst = 15, m.title = "old one";
  m.patterns[0][0] = {16, 428, 0, 0};
  const bytes old = build_mod(m);
  refused(old, kUnsupported);
  for (const char *sig : {"32FW", "XXXX", "65CH", "0CHN"}) {  // an end marker, unknown signatures
    mod_image m31;
    m31.signature = sig;
    refused(build_mod(m31), kUnsupported, sig);
  }
  mod_image four;
  four.orders = {0, 3};
  four.patterns.assign(4, std::vector<mod_cell>(256));
  four.samples = {{8, 0, 64, 0, 0, bytes(16, 1)}};
  const bytes whole = build_mod(four);
  refused(bytes(whole.begin(), whole.begin() + 1084 + 3 * 1024 + 10),
          "MOD: file ends inside pattern 3 of 4");
  ASSERT_NE(load(bytes(whole.begin(), whole.end() - 6)), nullptr) << status_.message;
  EXPECT_EQ(loaded_.back()->samples[0].len, 10u);
  EXPECT_STREQ(status_.note, "file ends 6 bytes early: the end of the sample data is silent");
  EXPECT_EQ(keep(load_m("/nonexistent/x.mod", 31)), nullptr);
  EXPECT_STREQ(modux_error, "Unable to open /nonexistent/x.mod: No such file or directory");
  enable_m15 = -1;
  for (size_t at : {20 + 24, 20 + 14 * 30 + 25})
    refused(damaged(old, {"", at, {65}}), kUnsupported);
  const std::string path = file(old);
  expect_info(path, 1, "MOD (15 Samples)", "old one");
  MODUX *mod = keep(load_mod(path.c_str()));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(std::make_pair(mod->sample_count, mod->patterns[0].notes[0].sample),
            std::make_pair(15, 0));
}

// Every package family loads from inside a UMX package at an offset, through the C interface and
// get_mod_info alike: a package is searched within its first 500 windows, after its magic, and IT
// comes first among the packages. The plain files' type and name are compared for every real
// module against the reference (compare_info.sh).
TEST_F(LoadMod, EveryFamilyIsFoundInsideUmxPackages) {
  mod_image six;
  six.title = "packaged", six.signature = "6CHN", six.channels = 6;
  six.patterns.assign(1, std::vector<mod_cell>(64 * 6));
  s3m_image s3m;
  s3m.name = "plain";
  xm_image xm;
  xm.name = "xm song";
  const bytes mod = build_mod(six), s = build_s3m(s3m), x = build_xm(xm), it = build_it("packed");
  // At offset 459, "SCRM" lies at 503. Format 0: refused.
  // clang-format off
  const struct { const bytes &image; size_t offset; int format; const char *name = "", *title = ""; int channels = 0; } cases[] = {
      {mod, 4, 10, "Unreal MOD (UMX)", "packaged", 6}, {mod, 503, 10, "Unreal MOD (UMX)", "packaged", 6}, {mod, 504, 0},
      {s, 459, 7, "Unreal S3M (UMX)", "plain", 4}, {s, 460, 0}, {x, 300, 8, "Unreal XM (UMX)", "xm song", 2},
      {it, 503, 9, "Unreal IT (UMX)", "packed", 2}, {it, 504, 0}, {it, 600, 0}};
  // clang-format on
  for (const auto &c : cases) {
    const bytes package = wrap_umx(c.image, c.offset);
    MODUX *m = load(package);
    ASSERT_EQ(m != nullptr, c.format != 0) << &c - cases << ": " << status_.message;
    if (!m) continue;
    modux_module_info info;
    ASSERT_EQ(modux_module_get_info(m, &info), MODUX_OK);
    EXPECT_EQ(std::make_tuple(info.format, std::string(info.format_name), info.channels),
              std::make_tuple(c.format, std::string(c.name), c.channels))
        << &c - cases;
    expect_info(file(package), c.format, c.name, c.title);
  }
  // A package without its magic is never searched; a missing file is no module of any family.
  for (const bytes &b : {s, it, mod})
    refused(damaged(wrap_umx(b, 120), {"", 0, {0}}), kUnsupported);
  for (auto d : {detect_s3m, detect_unreal_s3m, detect_xm, detect_unreal_xm, detect_it,
                 detect_unreal_it, detect_m15, detect_unreal_mod, detect_m31, detect_mux})
    EXPECT_EQ(d("/nonexistent/x.umx"), d == detect_m31 || d == detect_mux ? -1 : 0);
  bytes both = wrap_umx(build_it("first"), 100);
  both.resize(300);  // the XM lies within the windows searched too
  both.insert(both.end(), x.begin(), x.end());
  expect_info(file(both), 9, "Unreal IT (UMX)", "first");
}

}  // namespace
