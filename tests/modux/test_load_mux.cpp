// The native MUX reader on damaged copies of what the shipped MUX writer writes, detection,
// datafile objects. Plain fields are the writer round trip's matter (test_muxwrite); the game
// songs' render checksums read every song the game ships.
#include <string>

#include "datwriter.h"
#include "loader_fixture.h"
#include "model_builder.h"
#include "muxwriter.h"

using modimg::bytes;

namespace {

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

// A full-length name ends at the reserved byte after it; a file without the whole magic is no MUX
// to load_mod, a damaged one is refused with the reader's message (the song checksums load the
// game's songs through load_mod).
TEST_F(Mux, LoadModDetectsSummarisesAndLoadsMuxFilesOnly) {
  MODUX *m = small_song();
  std::fill_n(m->name, 28, 'n');
  bytes good = image(m), changed = good;
  good[46] = 'R';
  changed[17] = 'X';
  expect_info(file(good), 6, "MUX", (std::string(28, 'n') + "R").c_str());
  MODFILE_INFO info;
  EXPECT_EQ(get_mod_info(file(bytes(good.begin(), good.begin() + 40)).c_str(), &info), -1);
  refused(damaged(good, {"", 52, {80, 0}}), "MUX: 80 channels, at most 64 are possible");
  for (const std::string &other :
       {file(changed), file(bytes{}), file(bytes(good.begin(), good.begin() + 17))}) {
    EXPECT_EQ(detect_mux(other.c_str()), -1) << other;
    EXPECT_EQ(get_mod_info(other.c_str(), &info), -1);
    EXPECT_EQ(keep(load_mod(other.c_str())), nullptr);
    EXPECT_EQ(modux_error, kUnsupported);
  }
  EXPECT_EQ(load_mod(nullptr), nullptr);
}

// A damaged object loads as a silent module and leaves its message, from a plain and a packed
// datafile (test_soundgen loads the game's own songs this way).
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

}  // namespace
