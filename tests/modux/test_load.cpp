// Loading: the importers on modules built in memory, MOD and the detection series, S3M, XM and IT
// (values out of range, held limits, older layouts, damaged files, files that end early); the
// native MUX reader on damaged copies of what the MUX writer writes, datafile objects; the inputs
// that once broke an importer; the C interface's module calls (a file and its bytes load alike,
// every error code with its message, two threads at once); the byte-order layer. Valid cells,
// effects and samples are heard in the renders; plain MUX fields: the round trip in test_soundgen.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "datwriter.h"
#include "import.h"
#include "libmodux.h"
#include "model_builder.h"
#include "module_check.h"
#include "module_images.h"
#include "muxwriter.h"

using namespace modimg;

namespace {

// One field of a loaded module against its expected value, named in the failure message.
struct field {
  template <class T>
  field(const char *n, T g, long long w) : name(n), got(static_cast<long long>(g)), want(w) {}
  const char *name;
  long long got, want;
};
inline void expect_fields(std::initializer_list<field> fields) {
  for (const field &f : fields) EXPECT_EQ(f.got, f.want) << f.name;
}

// What get_mod_info says of a file: its type number, type name and song name.
inline void expect_info(const std::string &path, int type, const char *type_name,
                        const char *name) {
  MODFILE_INFO info;
  ASSERT_EQ(get_mod_info(path.c_str(), &info), 1) << path;
  EXPECT_EQ(std::make_tuple(info.type, std::string(info.type_name), std::string(info.name)),
            std::make_tuple(type, std::string(type_name), std::string(name)));
}

// The refusal of bytes no family knows.
const std::string kUnsupported = "Unsupported MOD type or unable to open file";

// A damaged copy of a good image: `put` written at `at`, then cut to `cut` bytes unless 0.
struct damage {
  std::string message;  // of the refusal
  size_t at;
  modimg::bytes put;
  size_t cut = 0;
};
inline modimg::bytes damaged(modimg::bytes b, const damage &d) {
  std::copy(d.put.begin(), d.put.end(), b.begin() + d.at);
  if (d.cut) b.resize(d.cut);
  return b;
}

// Loads built images from memory through the C interface, writes scratch files, frees what it
// loaded.
class Loader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { install_allegro(SYSTEM_NONE, &errno, atexit); }
  void TearDown() override {
    for (MODUX *m : loaded_) destroy_mod(m);
    for (const std::string &p : files_) std::remove(p.c_str());
    enable_m15 = 0;
    fast_loading = -1;
  }
  // Writes the image to a new scratch file and answers its path.
  std::string file(const modimg::bytes &b) {
    const std::string path = ::testing::TempDir() + "loader_" + std::to_string(files_.size()) +
                             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    EXPECT_TRUE(modimg::write_file(path, b));
    files_.push_back(path);
    return path;
  }
  // The image loaded from memory through the C interface, its status in status_; the module is
  // freed after the test.
  MODUX *load(const modimg::bytes &b) {
    return keep(modux_module_load_memory(b.data(), b.size(), &status_));
  }
  // The image is refused with this message.
  void refused(const modimg::bytes &b, const std::string &message, const std::string &what = "") {
    EXPECT_EQ(load(b), nullptr) << what;
    EXPECT_EQ(std::string(status_.message), message) << what;
  }
  // Each damaged copy of the good image is refused with its message.
  void refuses_each(const modimg::bytes &good, const std::vector<damage> &cases) {
    for (const damage &d : cases) refused(damaged(good, d), d.message, d.message);
  }
  // Frees the module after the test; it must keep every rule of the model the player relies on.
  MODUX *keep(MODUX *m) {
    if (m) loaded_.push_back(m);
    EXPECT_EQ(m ? modcheck::model_faults(m, m->flags & MODUX_XM) : "", "");
    return m;
  }
  modux_status status_{};
  std::vector<MODUX *> loaded_;
  std::vector<std::string> files_;
};

using LoadMod = Loader;
using LoadS3m = Loader;
using LoadXm = Loader;
using LoadIt = Loader;

// Cells of row 0 and 2 and the last of the second pattern land where they belong, whatever the
// layout (FLT8 halves, the Falcon bytes after the signature).
TEST_F(LoadMod, SignaturesGiveTheirChannelCounts) {
  // clang-format off
  const struct { const char *sig; int channels; } cases[] = {
      {"M.K.", 4}, {"M!K!", 4}, {"FLT4", 4}, {"1CHN", 1}, {"8CHN", 8}, {"10CH", 10}, {"32CH", 32}, {"64CH", 64}, {"CD81", 8},
      {"OKTA", 8}, {"16CN", 16}, {"32CN", 32}, {"FLT8", 8}, {"CD61", 6}, {"FA04", 4}, {"FA06", 6}, {"FA08", 8}, {"M&K!", 4},
      {"M.K.", 8}};  // M.K. on a file whose size fits 8 channels
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

// 15-sample files load only when asked for, by the load's flag or by enable_m15 (sample numbers
// beyond 15 are none; order entries past the song length name no pattern of the file); a
// finetune byte or a volume above 64 in a header is no 15-sample MOD. Refusals and notes name
// their fault.
TEST_F(LoadMod, FifteenSampleFilesAndRefusals) {
  mod_image m;
  m.no_inst = 15, m.title = "old one", m.orders = {0, 7};
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
  const auto load15 = [&](const bytes &b) {
    return keep(modux_module_load_memory_flags(b.data(), b.size(), MODUX_LOAD_MOD15, &status_));
  };
  for (size_t at : {20 + 24, 20 + 14 * 30 + 25})
    EXPECT_EQ(load15(damaged(old, {"", at, {65}})), nullptr) << at;
  MODUX *mod = load15(old);
  ASSERT_NE(mod, nullptr) << status_.message;
  EXPECT_EQ(
      (std::vector<int>{mod->sample_count, mod->pattern_count, mod->patterns[0].notes[0].sample}),
      (std::vector<int>{15, 1, 0}));
  enable_m15 = -1;
  expect_info(file(old), 1, "MOD (15 Samples)", "old one");
  EXPECT_NE(keep(load_mod(file(old).c_str())), nullptr) << modux_error;
}

// Every package family loads from inside a UMX package, through the C interface and get_mod_info
// alike: a package is searched within its first 500 windows, after its magic; IT comes first.
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

xm_instrument one_sample_instrument(const std::vector<int> &values) {
  xm_instrument ins;
  ins.samples = {{uint32_t(values.size()), 0, 0, 64, 0, 0, 128, 0, xm_delta8(values)}};
  return ins;
}

// Header values out of range take their defaults or are held (flag bit 1 is always set); a tracker
// name one space short of ModPlug's keeps FastTracker 2's rules; orders naming missing patterns
// play one added empty one; a key off keeps its instrument, note 98 and one of a missing
// instrument are cleared with it.
TEST_F(LoadXm, HeaderFieldsAndOrders) {
  xm_image m;
  m.flags = 0, m.speed = 0, m.tempo = 0, m.tracker = "FastTracker v 2.00";
  m.song_length = 300, m.orders = {0, 40, 200}, m.restart = 300;
  m.instruments.resize(2);
  m.patterns[0].packed = {0x83, 97, 2, 0x83, 98, 1, 0x83, 10, 3};
  MODUX *mod = load(build_xm(m));
  ASSERT_NE(mod, nullptr) << status_.message;
  const NOTE_INFO *n = mod->patterns[0].notes;
  // clang-format off
  expect_fields({{"flags", mod->flags, 3}, {"speed", mod->initial_speed, 6}, {"tempo", mod->initial_tempo, 125},
                 {"rules", mod->rules, RULES_FASTTRACKER_2}, {"orders", mod->order_count, 256},
                 {"patterns", mod->pattern_count, 2}, {"order 1", mod->order_table[1], 1},
                 {"order 2", mod->order_table[2], 1}, {"rows", mod->patterns[1].row_count, 64},
                 {"restart", mod->restart_order, 0}, {"key off", n[0].note, -2}, {"its instrument", n[0].sample, 2},
                 {"note 98", n[1].note, 0}, {"its instrument", n[1].sample, 0},
                 {"instrument 3 of 2", n[2].note + n[2].sample, 0}});
  // clang-format on
}

// Envelope ticks start at 0 and never run back, values and loops are held; missing samples play
// the silent one; a 16-bit sample drops its odd byte; loops are held inside the sample.
TEST_F(LoadXm, InstrumentsAndSamplesHeldInsideTheirLimits) {
  xm_instrument a;
  a.map[61] = 5;
  a.vol_env = {{3, 64}, {10, 100}, {5, 0}};
  a.vol_flags = 7, a.vol_sustain = 1, a.vol_loop_start = 0, a.vol_loop_end = 30;
  // The second sample: 16-bit 0x1234, 0xABCD, 0x0010 and an odd byte, its loop past the end.
  a.samples = {{4, 1, 2, 80, 0, 1, 128, 0, xm_delta8({0, 10, -10, 127})},
               {7, 2, 200, 64, 0, 0x12, 128, 0, {0x34, 0x12, 0x99, 0x99, 0x43, 0x54, 0x7F}},
               {4, 6, 1, 64, 0, 1, 128, 0, {1, 1, 1, 1}}};
  xm_instrument b = one_sample_instrument({1, 2, 3});
  b.vol_flags = 1;  // switched on without points
  xm_image m;
  m.instruments = {a, xm_instrument{}, b};
  MODUX *mod = load(build_xm(m));
  ASSERT_NE(mod, nullptr) << status_.message;
  const INSTRUMENT_INFO &ia = mod->instruments[0], &ib = mod->instruments[2];
  const SAMPLE_INFO *i = mod->sample_info;
  // clang-format off
  expect_fields({{"samples", mod->sample_count, 5}, {"map 61", ia.sample_map[61], 4},
                 {"tick 2", ia.vol_env_tick[2], 10}, {"value 1", ia.vol_env_value[1], 64},
                 {"sustain end", ia.vol_env_sustain_end, 1}, {"loop end", ia.vol_env_loop_end, 2},
                 {"empty map 95", mod->instruments[1].sample_map[95], 4}, {"b map", ib.sample_map[0], 3},
                 {"b points", ib.vol_env_points, 1}, {"b value", ib.vol_env_value[0], 0},
                 {"silent", mod->samples[4].len, 0}, {"loop end", i[0].loop_end, 3},
                 {"16 len", mod->samples[1].len, 3}, {"16 loop start", i[1].loop_start, 1},
                 {"16 loop end", i[1].loop_end, 3},
                 {"16 data", static_cast<const uint16_t *>(mod->samples[1].data)[2], 0x0010 ^ 0x8000},
                 {"loop off", i[2].loop_flags, 0}});
  // clang-format on
}

// Counts the file cannot hold, an absurd header size, a cut header or pattern: refused.
TEST_F(LoadXm, DamagedFilesAreRefusedWithTheirFault) {
  xm_image m;
  m.patterns[0].packed = {49, 1, 0, 0, 0};
  m.instruments = {one_sample_instrument({5, 6})};
  // clang-format off
  refuses_each(build_xm(m), {{"XM: 0 channels, 1 to 64 are possible", 68, {0, 0}},
                             {"XM: 65 channels, 1 to 64 are possible", 68, {65, 0}},
                             {"XM: 257 patterns, at most 256 are possible", 70, {1, 1}},
                             {"XM: 256 instruments, at most 255 are possible", 72, {0, 1}},
                             {"XM: pattern 0 has 300 rows, at most 256 are possible", 341, {0x2C, 1}},
                             {"XM: header size 4294967295 runs past the end of the file", 60, {0xFF, 0xFF, 0xFF, 0xFF}},
                             {"XM: file ends inside the header", 0, {}, 200},
                             {"XM: file ends inside the header of pattern 0", 0, {}, 60 + 276 + 5},
                             {"XM: file ends inside pattern 0", 0, {}, 60 + 276 + 9 + 3}});
  m.version = 0x103;
  refuses_each(build_xm(m), {{"XM: file ends inside pattern 0", 0, {}, 60 + 276 + 263 + 40 + 9 + 3}});
  // clang-format on
}

// A file that ends inside its instruments or their data loads what it holds and says so (cuts
// counted from the end of two instruments of 100 and 50 data bytes, in the 1.04 and the older
// layouts); header sizes of 0 read as the usual 276 and 40; an instrument header of `size` bytes
// ending after its map reads its samples where they lie, one ending before their fields is empty.
TEST_F(LoadXm, FilesEndingInsideTheirInstrumentsLoadWhatTheyHold) {
  const char *data_note = "file ends 30 bytes early: the end of the sample data is silent";
  const char *second_note = "file ends inside instrument 2 of 2: it and those after it are silent";
  // clang-format off
  const struct { int version; size_t cut; int samples, len0, len1; const char *note; damage d = {}; int64_t size = -1; } cases[] = {
      {0x104, 0, 3, 100, 50, ""},
      {0x104, 0, 3, 100, 50, "", {"header size 0", 60, {0, 0}}},
      {0x104, 0, 3, 100, 50, "", {"sample header size 0", 60 + 276 + 9 + 29, {0}}},
      {0x104, 0, 3, 100, 50, "", {}, 129},
      {0x104, 0, 2, 100, 0, "", {}, 29},
      {0x104, 30, 3, 100, 20, data_note},                  // inside the last sample's data
      {0x104, 50 + 10, 2, 100, 0, second_note},            // inside its sample header
      {0x104, 50 + 40 + 100, 2, 100, 0, second_note},      // inside its instrument header
      {0x104, 50 + 40 + 263, 2, 100, 0, second_note},      // right before it
      {0x104, 50 + 40 + 263 + 90, 2, 10, 0, second_note},  // inside the first one's data too
      {0x102, 0, 3, 100, 50, ""},  // pattern rows less one in a byte
      {0x103, 30, 3, 100, 20, data_note},
      {0x103, 50 + 30, 3, 70, 0, "file ends 80 bytes early: the end of the sample data is silent"}};
  // clang-format on
  for (const auto &c : cases) {
    xm_image m;
    m.version = c.version;
    m.instruments = {one_sample_instrument(std::vector<int>(100, 3)),
                     one_sample_instrument(std::vector<int>(50, 4))};
    m.instruments[1].size = c.size;
    SCOPED_TRACE(std::to_string(c.version) + " cut " + std::to_string(c.cut) + " " + c.d.message +
                 " size " + std::to_string(c.size));
    const bytes b = damaged(build_xm(m), c.d);
    MODUX *mod = load(bytes(b.begin(), b.end() - c.cut));
    ASSERT_NE(mod, nullptr) << status_.message;
    const int second = mod->instruments[1].sample_map[0];
    EXPECT_EQ((std::vector<int>{mod->sample_count, int(mod->samples[0].len),
                                int(mod->samples[second].len)}),
              (std::vector<int>{c.samples, c.len0, c.len1}));
    EXPECT_STREQ(status_.note, c.note);
  }
}

// A song with one instrument and one sample that the cases below change.
itw::song base_song() {
  itw::song s;
  s.instruments.resize(1);
  s.samples.resize(1);
  s.samples[0].length = 4, s.samples[0].data = {0, 10, 20, 30};
  s.patterns[0].cells = {{0, 0, 60, 1, -1, 0, 0}};
  return s;
}

TEST_F(LoadIt, HeaderAndOrders) {
  itw::song s = base_song();
  s.flags = 1 | 4 | 16 | 32;  // instruments, old effects, compatible Gxx; Amiga slides
  s.tracker = 0x211;          // before 2.14: Zxx plays no filter macro
  s.orders = {1, 254, 0, 255, 1};
  s.patterns.push_back(itw::pattern{});
  s.patterns[1].cells = {{5, 6, 40, 1, -1, 0, 0}};
  s.channel_pan[2] = 100;       // surround
  s.channel_pan[3] = 32 | 128;  // turned off
  MODUX *m = load(itw::build(s));
  ASSERT_NE(m, nullptr) << status_.message;
  // clang-format off
  expect_fields({{"rules", m->rules, RULE_IT_OLD_EFFECTS | RULE_IT_COMPAT_GXX | RULE_IT_INSTRUMENTS |
                                   RULE_IT_VIRTUAL_VOICES | RULE_IT_DELAY_TICKS},
                 {"channels: up to the last one used", m->channel_count, 7}, {"second order", m->order_table[1], 0},
                 {"orders: 254 skipped, 255 ends", m->order_count, 2}, {"surround pan is centre", m->channel_pan[2], 128},
                 {"in surround", m->channel_surround[2], -1}, {"not in surround", m->channel_surround[1], 0},
                 {"turned off", m->channel_muted[3], -1}, {"off keeps its pan", m->channel_pan[3], 128},
                 {"playing", m->channel_muted[2], 0}});
  // clang-format on
  // A list of 257 entries keeps its first 256; an instrument without its "IMPI" still loads.
  s.orders.assign(257, 1), s.orders[255] = 0;
  bytes b = itw::build(s);
  const size_t ins = b[192 + 257] | b[193 + 257] << 8;
  std::fill_n(b.begin() + ins, 4, 0);
  ASSERT_NE(m = load(b), nullptr) << status_.message;
  expect_fields({{"orders kept", m->order_count, 256},
                 {"last kept", m->order_table[255], 0},
                 {"instrument read", m->it_instruments[0].sample_map[60], 0}});
  // OpenMPT's files take their notes from the ST3 period table in Amiga mode, and in linear mode
  // before its version 1.24; Impulse Tracker's notes are equal-tempered.
  for (auto [tracker, flags, table] :
       {std::tuple{0x214, 0, 0}, {0x5124, 0, -1}, {0x5122, 8, -1}, {0x5124, 8, 0}}) {
    s.tracker = tracker, s.flags = flags;
    ASSERT_NE(m = load(itw::build(s)), nullptr) << status_.message;
    EXPECT_EQ(m->period_table_notes, table) << std::hex << tracker << " flags " << flags;
  }
}

// A keyboard naming a missing sample, envelope ticks that run back and loops out of order are held
// to the model's rules; a sample pan of 128|16 is 64, switched on. The old layout (files compatible
// with versions below 2.00) counts its fadeout against 512 and has no default pan.
TEST_F(LoadIt, InstrumentsInBothLayoutsHeldInsideTheirLimits) {
  itw::song s = base_song();
  itw::instrument fresh;
  fresh.keyboard.assign(120, {60, 1});
  fresh.keyboard[5] = {7, 3};
  fresh.pitch.flags = 1 | 128 | 2, fresh.pitch.loop_start = 2, fresh.pitch.loop_end = 9;
  fresh.pitch.points = {{0, -32}, {8, 32}, {4, 0}};
  itw::instrument old;
  old.old_layout = true, old.nna = 1, old.dct = 1, old.fadeout = 100;
  old.vol.flags = 1 | 2, old.vol.loop_start = 1, old.vol.loop_end = 2;
  old.vol.points = {{0, 64}, {5, 70}, {9, 0}};
  s.instruments = {fresh, old};
  itw::sample &smp = s.samples[0];
  smp.flags = 1 | 32, smp.sustain_start = 3, smp.sustain_end = 2, smp.pan = 128 | 16;
  s.compatible = 0x214;
  MODUX *m = load(itw::build(s));
  ASSERT_NE(m, nullptr) << status_.message;
  const IT_INSTRUMENT_INFO &a = m->it_instruments[0];
  const SAMPLE_INFO &i = m->sample_info[0];
  // clang-format off
  expect_fields({{"missing sample", a.sample_map[5], -2}, {"tick held", a.pitch_env.tick[2], 8},
                 {"sustain dropped", i.sustain_flags, 0}, {"pan", i.pan, 64}, {"pan on", i.pan_on, -1}});
  // clang-format on
  s.compatible = 0x100;
  ASSERT_NE(m = load(itw::build(s)), nullptr) << status_.message;
  const IT_INSTRUMENT_INFO &b = m->it_instruments[1];
  // clang-format off
  expect_fields({{"nna", b.new_note_action, 1}, {"dct: same note", b.duplicate_check, 1},
                 {"fadeout counted against 512", b.fadeout, 200}, {"volume points", b.vol_env.points, 3},
                 {"value held to 64", b.vol_env.value[1], 64}, {"loop", b.vol_env.flags, 3},
                 {"no default pan", b.pan, -1}});
  // clang-format on
}

// The sample data the real ITs lack (whose mono samples are heard): stereo, 2.15, narrow blocks.
TEST_F(LoadIt, SampleDataOfEveryKind) {
  std::vector<int> ramp8, wave16;
  for (int i = 0; i < 300; i++) {
    ramp8.push_back((i * 3) % 256 - 128);
    wave16.push_back(i % 7 * 300 - 900);
  }
  // flags: 1 present, 2 16-bit, 4 stereo, 8 compressed; convert: 1 signed, 4 two integrations;
  // width: of the compressed blocks (0 full); values signed, a stereo sample's left then right.
  // clang-format off
  const struct { const char *what; int flags, convert, width; std::vector<int> values; } cases[] = {
      {"8-bit compressed 2.15", 1 | 8, 1 | 4, 0, ramp8},
      {"8-bit compressed, 4-bit width", 1 | 8, 1, 4, std::vector<int>{0, 1, 3, -2, 5, 7, 6, 0}},
      {"16-bit compressed 2.15, width 13", 1 | 2 | 8, 1 | 4, 13, wave16},
      {"16-bit compressed stereo", 1 | 2 | 4 | 8, 1, 0, wave16},
      {"16-bit stereo", 1 | 2 | 4, 1, 0, wave16}};
  // clang-format on
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const bool wide = c.flags & 2, stereo = c.flags & 4;
    const size_t n = c.values.size() / (stereo ? 2 : 1);
    itw::song s = base_song();
    itw::sample &smp = s.samples[0];
    smp.flags = c.flags, smp.convert = c.convert, smp.length = static_cast<uint32_t>(n);
    smp.data.clear();
    std::vector<int> want(n);
    for (size_t side = 0; side < c.values.size() / n; side++) {
      const std::vector<int> part(c.values.begin() + side * n, c.values.begin() + (side + 1) * n);
      bytes b;  // stored plainly: signed little-endian words, one side after the other
      for (int v : part) b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
      if (c.flags & 8) b = itw::compress(part, wide, c.convert & 4, c.width);
      smp.data.insert(smp.data.end(), b.begin(), b.end());
      for (size_t k = 0; k < n; k++) want[k] += part[k];
    }
    for (int &v : want) v /= stereo ? 2 : 1;  // a stereo sample plays as the mean of its sides
    MODUX *m = load(itw::build(s));
    ASSERT_NE(m, nullptr) << status_.message;
    const SAMPLE &got = m->samples[0];  // Allegro keeps the values unsigned
    ASSERT_EQ(std::make_pair(got.bits, got.len),
              std::make_pair(wide ? 16 : 8, static_cast<unsigned long>(n)));
    for (size_t k = 0; k < n; k++)
      EXPECT_EQ(wide ? static_cast<const uint16_t *>(got.data)[k] - 32768
                     : static_cast<const uint8_t *>(got.data)[k] - 128,
                want[k])
          << k;
  }
}

// 4-bit ADPCM data (16 signed steps, then two step numbers a byte, low first) in each format that
// carries it, followed by a plain sample that must start where the packed data ends; then cut.
TEST_F(LoadIt, AdpcmSamplesOfModXmAndIt) {
  bytes packed = {0, 1, 2, 4, 8, 16, 32, 64, 0xFF, 0xFE, 0xFC, 0xF8, 0xF0, 0xE0, 0xC0, 0x80};
  for (int b : {1 | 2 << 4, 3 | 4 << 4, 5 | 6 << 4, 7 | 15 << 4, 9 | 7 << 4, 7 | 7 << 4, 0})
    packed.push_back(static_cast<uint8_t>(b));
  const std::vector<int> want = {1, 3, 7, 15, 31, 63, 127, -1, -3, 61, 125, -67, -67, -67};
  mod_image mo;
  mo.samples = {{7, 0, 64, 0, 0, bytes{'A', 'D', 'P', 'C', 'M'}}, {2, 0, 64, 0, 0, {5, 6, 7, 8}}};
  mo.samples[0].data.insert(mo.samples[0].data.end(), packed.begin(), packed.end());
  xm_image xm;
  xm.instruments = {one_sample_instrument({5, 6})};
  xm_sample adpcm;
  adpcm.length = 13, adpcm.data = packed, adpcm.reserved = 0xAD;
  xm.instruments[0].samples.insert(xm.instruments[0].samples.begin(), adpcm);
  xm.instruments[0].samples[1].data = xm_delta8({5, 6});
  itw::song it = base_song();
  it.samples.resize(2);
  it.samples[0].convert = 0xFF, it.samples[0].length = 13, it.samples[0].data = packed;
  it.samples[1].length = 2, it.samples[1].data = {5, 6};
  const bytes mod_file = build_mod(mo);
  const struct {
    const char *what;
    bytes file;
    size_t frames;
  } cases[] = {
      {"MOD", mod_file, 14},
      {"XM", build_xm(xm), 13},
      {"IT", itw::build(it), 13},
      {"MOD cut inside its packed bytes", bytes(mod_file.begin(), mod_file.end() - 4 - 5), 4}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    MODUX *m = load(c.file);
    ASSERT_NE(m, nullptr) << status_.message;
    ASSERT_EQ(m->samples[0].len, c.frames);
    const uint8_t *got = static_cast<const uint8_t *>(m->samples[0].data);
    for (size_t k = 0; k < c.frames; k++) EXPECT_EQ(got[k] - 128, want[k]) << k;
    if (c.frames == 4) continue;
    EXPECT_EQ(static_cast<const uint8_t *>(m->samples[1].data)[1] - 128, 6);
  }
}

TEST_F(LoadIt, DamagedFilesAreRefusedWithTheirFault) {
  const bytes good = itw::build(base_song());
  const size_t tables = 192 + base_song().orders.size();  // instrument, sample, pattern offsets
  const size_t ins = good[tables] | good[tables + 1] << 8,
               smp = good[tables + 4] | good[tables + 5] << 8,
               pat = good[tables + 8] | good[tables + 9] << 8;
  // clang-format off
  refuses_each(good, {{"IT: file ends inside the header", 0, {}, 100},
                      {"IT: 300 patterns, at most 256 are possible", 38, {0x2C, 1}},
                      {"IT: the pattern offset table runs past the end of the file", 38, {0xFF, 0}},
                      {"IT: instrument 1 at " + std::to_string(ins + (0x7Ful << 24)) + " lies past the end of the file", tables + 3, {0x7F}},
                      {"IT: sample 1 has no IMPS signature", smp, {'X'}},
                      {"IT: pattern 0 lies past the end of the file", tables + 10, {0x7F}},
                      {"IT: pattern 0 has 0 rows, 1 to 256 are possible", pat + 2, {0, 0}},
                      {"IT: pattern 0 runs past the end of the file", pat, {0xFF, 0xFF}},
                      {"IT: the order list plays no pattern", 192, {254}}});
  // clang-format on
}

// A compressed sample whose blocks are cut short, damaged, or fewer than its length needs.
TEST_F(LoadIt, CompressedDataThatLies) {
  itw::song s = base_song();
  itw::sample &smp = s.samples[0];
  smp.flags = 1 | 8, smp.length = 40000;
  smp.data = itw::compress(std::vector<int>(40000, 3), false, false);
  const size_t first = smp.data[0] + (smp.data[1] << 8) + 2;  // the first block's end
  const damage cases[] = {
      {"IT: compressed data of sample 1 ends before its block 2", 0, {}, first},
      {"IT: compressed block of sample 1 runs past the end of the file", 1, {0xFF}},
      {"IT: compressed block 1 of sample 1 is damaged", 0, {3, 0}},         // too few bits
      {"IT: compressed block 1 of sample 1 is damaged", 2, {0xFF, 0x01}}};  // width 0
  for (const damage &d : cases) {
    itw::song spoilt = s;
    spoilt.samples[0].data = damaged(smp.data, d);
    refused(itw::build(spoilt), d.message, d.message);
  }
  // A value takes at least one bit: 4098 bytes of blocks give 20000 frames of mono, not of stereo.
  smp.flags |= 4, smp.length = 20000;
  smp.data = itw::compress(std::vector<int>(0x8000, 0), false, false, 1);
  refused(itw::build(s), "IT: sample 1 claims 20000 frames, more than its data can hold");
}

class Mux : public Loader {
 protected:
  static void SetUpTestSuite() {
    Loader::SetUpTestSuite();
    register_datafile_modux();
  }
  // load_mux of the image, no detection in front of it; the module is freed after the test.
  MODUX *read(const bytes &image) {
    PACKFILE *f = pack_fopen(file(image).c_str(), F_READ);
    MODUX *m = keep(load_mux(f));
    pack_fclose(f);
    return m;
  }
  // The image is refused with a message that holds `part`.
  void refused_naming(const bytes &image, const std::string &part, const std::string &what) {
    EXPECT_EQ(read(image), nullptr) << what;
    EXPECT_NE(std::string(modux_error).find(part), std::string::npos)
        << what << ": " << modux_error;
  }
};

// The file image of the module; the module is freed.
bytes image(MODUX *m) {
  bytes b;
  EXPECT_EQ(build_mux(*m, b), "");
  destroy_mod(m);
  return b;
}

// Where the patterns start in the module's image.
size_t patterns_at(MODUX *m) {
  const int count = m->pattern_count;
  bytes b;
  m->pattern_count = 0;
  build_mux(*m, b);
  m->pattern_count = count;
  return b.size();
}

// MOD family: two patterns (2 rows, then 1), three samples (the second empty, the third 16-bit);
// its sample 0 record starts at byte 75.
MODUX *small_song() {
  MODUX *m = model::module(4, 2, 0, 2, 3, 0);
  m->order_count = 3, m->order_table[1] = 1;
  m->patterns[1].row_count = 1;
  model::set_sample(m, 0, 32, 8, 8, 32, 1);
  model::set_sample(m, 2, 10, 16, 2, 9, 2);
  model::cell(m, 0, 0) = {1, 8363, 0, CMD_SET_VOLUME, 32};
  model::cell(m, 1, 1) = {3, 16726, 0, 0, 0};
  const NOTE_INFO second[] = {
      {0, -1, 0, 0, 0}, {0, -2, 0, 0, 0}, {2, 0, 0, 0, 0}, {0, 4181, 0, 0, 0}};
  std::copy(second, second + 4, m->patterns[1].notes);
  return m;
}

// XM family: one instrument over two samples, counts at the model's limits, values beyond them.
MODUX *small_xm_song(int rows = 2) {
  MODUX *m = model::module(64, rows, MODUX_XM | MODUX_LINEAR, 1, 2, 4);
  m->order_count = 256;
  m->initial_global_volume = 200, m->restart_order = 256;  // held to 64, restarts at 0
  INSTRUMENT_INFO &ins = model::add_instrument(m, 0);
  for (int n = 48; n < 96; n++) ins.sample_map[n] = 1;
  ins.vol_env_points = 3, ins.vol_env_flags = 3, ins.vol_env_loop_end = 2;
  ins.vol_env_sustain_start = ins.vol_env_sustain_end = 1;
  ins.vol_env_tick[1] = 10, ins.vol_env_value[1] = 500;
  ins.vol_env_tick[2] = 300, ins.vol_env_value[2] = 20;
  ins.pan_env_points = 12, ins.pan_env_flags = 1, ins.pan_env_value[1] = 64;
  ins.pan_env_sustain_start = ins.pan_env_sustain_end = 11;
  m->sample_info[1].volume = 99;
  const NOTE_INFO row[] = {
      {1, 49, 0, 0, 0}, {0, -2, 0, 0, 0}, {0, -1, 0, 0, 0}, {1, 97, 0xF5, CMD_KEY_OFF, 0}};
  std::copy(row, row + 4, m->patterns[0].notes);
  return m;
}

// XM note bytes stay note numbers, 0xFE and 0xFF are release and cut, envelope values are held
// to 64 (the model check judges counts, restart and volumes); a module may be empty.
TEST_F(Mux, ReadsXmNotesHoldingValuesBeyondTheLimits) {
  const MODUX *mod = read(image(small_xm_song()));
  ASSERT_NE(mod, nullptr) << modux_error;
  const NOTE_INFO *n = mod->patterns[0].notes;
  EXPECT_EQ((std::vector<int>{n[0].note, n[1].note, n[2].note, n[3].note,
                              mod->instruments[0].vol_env_value[1]}),
            (std::vector<int>{49, -2, -1, 97, 64}));
  EXPECT_NE(read(image(model::module(4, 1, 0, 0, 0))), nullptr) << modux_error;
}

TEST_F(Mux, DamagedFilesAreRefusedWithAMessage) {
  ASSERT_NE(read(image(small_song())), nullptr) << modux_error;
  // clang-format off
  const struct { bool xm; const char *what; void (*spoil)(MODUX *); const char *message_part; } cases[] = {
      {0, "missing pattern", [](MODUX *m) { m->order_count = 2, m->order_table[1] = 2; }, "order 1 names pattern 2"},
      {0, "unknown flags", [](MODUX *m) { m->flags = 8; }, "flags"},
      {0, "sample above the count", [](MODUX *m) { model::cell(m, 0, 2).sample = 4; }, "sample 4 of 3"},
      {0, "loop end past the data", [](MODUX *m) { model::set_sample(m, 0, 32, 8, 8, 33, 1); }, "loops"},
      {0, "loop start after its end", [](MODUX *m) { model::set_sample(m, 0, 32, 8, 8, 7, 1); }, "loops"},
      {0, "negative loop start", [](MODUX *m) { model::set_sample(m, 0, 32, 8, -1, 32, 1); }, "loops"},
      {0, "empty loop switched on", [](MODUX *m) { model::set_sample(m, 0, 32, 8, 8, 8, 1); }, "loops"},
      {0, "pattern without rows", [](MODUX *m) { m->patterns[1].row_count = 0; }, "no rows"},
      {1, "instrument above the count", [](MODUX *m) { m->patterns[0].notes[0].sample = 2; }, "instrument 2 of 1"},
      {1, "13 envelope points", [](MODUX *m) { m->instruments[0].pan_env_points++; }, "envelope"},
      {1, "sustain point 12", [](MODUX *m) { m->instruments[0].pan_env_sustain_start = m->instruments[0].pan_env_sustain_end = 12; }, "envelope"},
      {1, "loop end point 200", [](MODUX *m) { m->instruments[0].vol_env_loop_end = 200; }, "envelope"}};
  // clang-format on
  for (const auto &c : cases) {
    MODUX *m = c.xm ? small_xm_song() : small_song();
    c.spoil(m);
    refused_naming(image(m), c.message_part, c.what);
  }
  // What the writer cannot hold, written over good images. A count is weighed against the bytes
  // left before anything is allocated from it.
  MODUX *mod = small_song(), *xm = small_xm_song();
  const size_t mod_patterns = patterns_at(mod), xm_patterns = patterns_at(xm);
  const bytes good = image(mod), good_xm = image(xm);
  // clang-format off
  for (const damage &d : {damage{"65 channels", 52, {65, 0}}, damage{"257 orders", 48, {1, 1}},
                          damage{"12 bits", 96, {12}}, damage{"length of -5", 75, {0xFB, 0xFF, 0xFF, 0xFF}},
                          damage{"length of 2147483647", 75, {0xFF, 0xFF, 0xFF, 0x7F}},
                          damage{"runs past its 8 cells", mod_patterns + 2, {0x89}},
                          damage{"pattern_count", 50, {0xFF, 0xFF}}, damage{"instrument_count", 54, {0xFF, 0xFF}},
                          damage{"sample_count", 56, {0xFF, 0xFF}}})
    refused_naming(damaged(good, d), d.message, d.message);
  // clang-format on
  refused_naming(damaged(good_xm, {"", xm_patterns, {0xFF, 0xFF}}), "row_count 65535", "rows");
  for (const bytes &full : {good, good_xm})
    for (size_t len = 0; len < full.size(); len++)
      refused_naming(bytes(full.begin(), full.begin() + len), "ends inside", std::to_string(len));
  // The fewest bytes the column coding allows still load: 256 rows of 64 channels are 16384
  // cells, per column 129 full skips of 127 and one of 1.
  MODUX *empty = small_xm_song(256);
  std::fill_n(empty->patterns[0].notes, 256 * 64, NOTE_INFO{});
  const size_t header = patterns_at(empty);
  const bytes tight = image(empty);
  EXPECT_EQ(tight.size(), header + 2 + 5 * 130);
  ASSERT_NE(read(tight), nullptr) << modux_error;
  EXPECT_EQ(loaded_.back()->patterns[0].row_count, 256);
}

// A full-length name ends at the reserved byte after it; a file without the whole magic is no MUX,
// a damaged one is refused with the reader's message.
TEST_F(Mux, MuxFilesAreToldFromOthersAndSummarised) {
  MODUX *m = small_song();
  std::fill_n(m->name, 28, 'n');
  bytes good = image(m), changed = good;
  good[46] = 'R';
  changed[17] = 'X';
  expect_info(file(good), 6, "MUX", (std::string(28, 'n') + "R").c_str());
  MODFILE_INFO info;
  EXPECT_EQ(get_mod_info(file(bytes(good.begin(), good.begin() + 40)).c_str(), &info), -1);
  refused(damaged(good, {"", 52, {80, 0}}), "MUX: 80 channels, at most 64 are possible");
  for (const bytes &other : {changed, bytes{}, bytes(good.begin(), good.begin() + 17)}) {
    EXPECT_EQ(keep(modux_module_load_file(file(other).c_str(), &status_)), nullptr);
    EXPECT_EQ(status_.message, kUnsupported);
  }
}

// A damaged object loads as a silent module and leaves its message, plain and packed.
TEST_F(Mux, ADamagedDatafileObjectLoadsAsASilentModule) {
  MODUX *bad = small_song();
  bad->order_count = 2, bad->order_table[1] = 7;
  const std::vector<dat::Object> objects = {dat::make_raw("BAD", DAT_MUX, image(bad))};
  for (bool packed : {false, true}) {
    DATAFILE *data = load_datafile(file(dat::build_datafile(objects, packed)).c_str());
    ASSERT_NE(data, nullptr);
    EXPECT_NE(std::string(modux_error).find("order 1 names pattern 7"), std::string::npos)
        << modux_error;
    const MODUX *silent = static_cast<const MODUX *>(data[0].dat);
    ASSERT_NE(silent, nullptr);
    EXPECT_EQ(silent->order_count + silent->pattern_count + silent->sample_count, 0);
    unload_datafile(data);  // frees the module through the registered destructor
  }
}

// Replays tests/fuzz/regressions through the fuzz target's own check, from memory: probe and load
// agree, the model's rules hold, it plays from two places.
TEST(FuzzRegressions, EveryKeptInputPassesTheCheck) {
  int checked = 0;
  for (const auto &entry : std::filesystem::directory_iterator(FUZZ_REGRESSIONS_DIR)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(modcheck::check_bytes_both_ways(b.data(), b.size(), 300), "") << entry.path();
    checked++;
  }
  EXPECT_GT(checked, 0);
}

// An IT with a message and one compressed sample whose header may claim another length.
bytes it_song(uint32_t claimed_frames = 0) {
  itw::song s;
  s.name = "calls";
  s.special = 1;
  s.message = "first\rsecond";
  s.instruments.resize(1);
  s.samples.resize(1);
  s.samples[0].flags = 1 | 8, s.samples[0].length = 5000;
  s.samples[0].data = itw::compress(std::vector<int>(5000, 7), false, false);
  if (claimed_frames) s.samples[0].length = claimed_frames;
  s.patterns[0].cells = {{0, 2, 60, 1, -1, 0, 0}};
  return itw::build(s);
}

using ModuleCalls = Loader;

TEST_F(ModuleCalls, AFileAndItsBytesLoadAlike) {
  const bytes song = it_song();
  modux_status from_file, from_memory;
  modux_module *a = keep(modux_module_load_file(file(song).c_str(), &from_file));
  modux_module *b = keep(modux_module_load_memory(song.data(), song.size(), &from_memory));
  ASSERT_TRUE(a && b) << from_file.message << " / " << from_memory.message;
  EXPECT_EQ(from_file.code, MODUX_OK);
  modux_module_info ia, ib;
  ASSERT_EQ(modux_module_get_info(a, &ia), MODUX_OK);
  ASSERT_EQ(modux_module_get_info(b, &ib), MODUX_OK);
  EXPECT_EQ(std::make_tuple(ia.format, std::string(ia.format_name), std::string(ia.title),
                            ia.channels, ia.orders, ia.patterns, ia.instruments, ia.samples),
            std::make_tuple(5, std::string("IT"), std::string("calls"), 3, 1, 1, 1, 1));
  EXPECT_EQ(memcmp(&ia, &ib, sizeof ia), 0);
  ASSERT_EQ(a->samples[0].len, b->samples[0].len);
  EXPECT_EQ(memcmp(a->samples[0].data, b->samples[0].data, a->samples[0].len), 0);
  EXPECT_STREQ(modux_module_message(a), "first\nsecond");
  modux_module_destroy(nullptr);
  EXPECT_STREQ(modux_module_message(load(build_mod(mod_image{}))), "");  // a song without one
  EXPECT_EQ(modux_module_get_info(nullptr, &ia), MODUX_ERROR_ARGUMENT);
  EXPECT_STREQ(modux_module_message(nullptr), "");
}

// (A folder and a FIFO are refused alike, modux-play's command line test holds them.)
TEST_F(ModuleCalls, EveryErrorCodeIsReachedWithItsMessage) {
  bytes damaged_it = it_song();
  damaged_it[38] = 0x2C, damaged_it[39] = 1;
  const bytes noise(3000, 0x55), hostile = it_song(0xFFFFFFFF);
  const auto memory = [](const bytes &b) {
    return [b](modux_status *s) { return modux_module_load_memory(b.data(), b.size(), s); };
  };
  const auto path = [](const std::string &p) {
    return [p](modux_status *s) { return modux_module_load_file(p.c_str(), s); };
  };
  struct row {
    std::function<modux_module *(modux_status *)> load;
    int code;
    std::string message;
  };
  const row rows[] = {
      {path("/nonexistent/x.it"), MODUX_ERROR_OPEN,
       "Unable to open /nonexistent/x.it: No such file or directory"},
      {path("/dev/zero"), MODUX_ERROR_OPEN, "Unable to open /dev/zero: not a regular file"},
      {memory(noise), MODUX_ERROR_FORMAT, kUnsupported},
      {memory(damaged_it), MODUX_ERROR_DAMAGED, "IT: 300 patterns, at most 256 are possible"},
      {memory(hostile), MODUX_ERROR_LIMIT,
       "IT: sample 1 needs 4294967295 bytes, over the module limit of 256 MiB"},
      {path(std::string(FUZZ_REGRESSIONS_DIR) + "/mux_patterns_beyond_cell_limit.mux"),
       MODUX_ERROR_LIMIT, "MUX: pattern 1 needs 4194240 cells, over the module limit of 4210688"},
      {[](modux_status *s) { return modux_module_load_file(nullptr, s); }, MODUX_ERROR_ARGUMENT,
       "No module file named"},
      {[](modux_status *s) { return modux_module_load_memory(nullptr, 10, s); },
       MODUX_ERROR_ARGUMENT, "No module data"},
  };
  for (const row &r : rows) {
    modux_status st;
    EXPECT_EQ(r.load(&st), nullptr) << r.message;
    EXPECT_EQ(std::make_pair(st.code, std::string(st.message)), std::make_pair(r.code, r.message));
    EXPECT_EQ(r.load(nullptr), nullptr) << "without a status: " << r.message;
  }
}

// The sample data of one load counts against the module's total; the next load starts afresh.
TEST(ModuleLimits, SampleDataHasATotalPerLoad) {
  using namespace modux_import;
  for (int load = 0; load < 2; load++) {
    modux_status st;
    load_state one(&st);
    EXPECT_TRUE(charge_sample(one, MAX_SAMPLE_BYTES - 10, "XM", 1));
    EXPECT_FALSE(charge_sample(one, 11, "XM", 2));
    EXPECT_EQ(std::make_pair(st.code, std::string(st.message)),
              std::make_pair(MODUX_ERROR_LIMIT,
                             std::string("XM: sample 2 needs 11 bytes, over the module limit of "
                                         "256 MiB")));
  }
}

// Loads the file with 32 MB of address space to spare; prints the message, answers the code.
int load_in_little_room(const char *path) {
  long pages = 0;
  FILE *f = fopen("/proc/self/statm", "r");
  if (!f || fscanf(f, "%ld", &pages) != 1) return 100;
  fclose(f);
  const rlim_t room = pages * sysconf(_SC_PAGESIZE) + (32L << 20);
  const rlimit limit{room, room};
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 101;
  modux_status st;
  modux_module_destroy(modux_module_load_file(path, &st));
  fprintf(stderr, "%s\n", st.message);
  return st.code;
}

// Memory the system will not give is a refusal with its code, not a crash: the load runs in a
// child whose address space is held to a little more than it has.
TEST(ModuleMemory, MemoryRefusedIsReported) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve address space of their own";
#endif
  // Its first pattern asks for 84 MB of cells (the second passes the module's limit).
  const char *mux = FUZZ_REGRESSIONS_DIR "/mux_patterns_beyond_cell_limit.mux";
  EXPECT_EXIT(exit(load_in_little_room(mux)), ::testing::ExitedWithCode(MODUX_ERROR_MEMORY),
              "Unable to allocate enough memory for NOTE_INFO");
}

// Each thread loads its own file again and again: a good one and a damaged one. Every status
// says what its own load did (run under ThreadSanitizer in the engine's TSan build).
TEST_F(ModuleCalls, TwoThreadsLoadAtOnce) {
  const bytes good = it_song();
  bytes bad = good;
  bad[38] = 0x2C, bad[39] = 1;
  const std::string good_path = file(good);
  int good_loads = 0, bad_refusals = 0;
  std::thread first([&] {
    for (int i = 0; i < 200; i++) {
      modux_status st;
      modux_module *m = modux_module_load_file(good_path.c_str(), &st);
      good_loads += m != nullptr && st.code == MODUX_OK && st.message[0] == '\0';
      modux_module_destroy(m);
    }
  });
  std::thread second([&] {
    for (int i = 0; i < 200; i++) {
      modux_status st;
      modux_module *m = modux_module_load_memory(bad.data(), bad.size(), &st);
      bad_refusals += m == nullptr && st.code == MODUX_ERROR_DAMAGED &&
                      std::string(st.message) == "IT: 300 patterns, at most 256 are possible";
      modux_module_destroy(m);
    }
  });
  first.join();
  second.join();
  EXPECT_EQ(std::make_pair(good_loads, bad_refusals), std::make_pair(200, 200));
}

using FileIo = Loader;

// The byte-order layer: its readers take back what its writers put down, in either byte order; a
// seek lands on its offset; a short read answers -1, while a stored 0xFF or 0xFFFFFFFF is data.
TEST_F(FileIo, WritesReadBackAndMissingBytesAnswerMinusOne) {
  const std::string path = file({});
  PACKFILE *f = modux_fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(
      (std::vector<long>{modux_putc(0xFF, f), modux_iputw(0x1234, f), modux_iputl(0x12345678, f),
                         modux_fwrite("\xFF\xFF\xFF\xFF\x12\x34\x56", 7, f)}),
      (std::vector<long>{0xFF, 0x1234, 0x12345678, 7}));
  modux_fclose(f);
  ASSERT_NE(f = modux_fopen(path.c_str(), "rb"), nullptr);
  // Braced lists read in order; the last word finds one byte left.
  EXPECT_EQ((std::vector<long long>{modux_getc(f), modux_igetw(f), modux_igetl(f), modux_igetl(f),
                                    modux_mgetw(f), modux_igetw(f)}),
            (std::vector<long long>{0xFF, 0x1234, 0x12345678, 0xFFFFFFFFLL, 0x1234, -1}));
  ASSERT_EQ(modux_fseek(&f, path.c_str(), 1), 0);
  EXPECT_EQ(modux_mgetw(f), 0x3412);
  ASSERT_EQ(modux_fseek(&f, path.c_str(), 11), 0);
  EXPECT_EQ(modux_mgetl(f), -1) << "three bytes left";
  ASSERT_EQ(modux_fseek(&f, path.c_str(), 11), 0);
  EXPECT_EQ(modux_igetl(f), -1);
  modux_fclose(f);
}

}  // namespace
