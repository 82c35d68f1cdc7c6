// The native MUX reader on hand-coded images: its own limits, damaged and truncated files,
// detection, datafile objects. Plain copies of every field are the writer round trip's matter
// (test_muxwrite); the game songs' render checksums read every song the game ships.
#include <string>

#include "datwriter.h"
#include "loader_fixture.h"
#include "mux_image.h"

using namespace muxtest;

namespace {

class Mux : public Loader {
 protected:
  static void SetUpTestSuite() {
    Loader::SetUpTestSuite();
    register_datafile_modux();
  }
  void TearDown() override {
    destroy_mod(read_);
    Loader::TearDown();
  }
  // Reads through a memory PACKFILE, holds the module to the model's rules, frees it later.
  MODUX *load(const bytes &image) {
    memory_file state;
    PACKFILE *f = open_memory(image, state);
    destroy_mod(read_);
    read_ = load_mux(f);
    pack_fclose(f);
    EXPECT_EQ(read_ ? modcheck::model_faults(read_, false) : "", "");
    return read_;
  }
  // The image is refused with a message that holds `part`.
  void refused_naming(const bytes &image, const std::string &part, const std::string &what) {
    EXPECT_EQ(load(image), nullptr) << what;
    EXPECT_NE(std::string(modux_error).find(part), std::string::npos)
        << what << ": " << modux_error;
  }
  MODUX *read_ = nullptr;
};

// MOD family: two patterns, three samples (the second empty, the third 16-bit).
module small_song() {
  module m;
  m.orders = {0, 1, 0};
  m.samples.resize(3);
  sample &a = m.samples[0], &c = m.samples[2];
  a.length = 32, a.loop_start = 8, a.loop_end = 32, a.loop_flags = 1;
  c.length = 10, c.bits = 16, c.loop_flags = 2, c.loop_start = 2, c.loop_end = 9;
  m.patterns = {{2, {{428, 1, 0, CMD_SET_VOLUME, 32}, {}, {}, {}, {}, {214, 3}}},
                {1, {{-1}, {-2}, {0, 2}, {856}}}};
  return m;
}

// XM family: one instrument over two samples, counts at the model's limits, values beyond them.
module small_xm_song() {
  module m;
  m.flags = MODUX_XM | MODUX_LINEAR;
  m.channels = 64;
  m.orders.assign(256, 0);
  m.global_volume = 200, m.restart = 256;  // held to 64, restarts at 0
  instrument ins;
  for (int n = 48; n < 96; n++) ins.sample_map[n] = 1;
  ins.vol.points = 3, ins.vol.flags = 3, ins.vol.sustain = 1, ins.vol.loop_end = 2;
  ins.vol.tick[1] = 10, ins.vol.value[1] = 500, ins.vol.tick[2] = 300, ins.vol.value[2] = 20;
  ins.pan.points = 12, ins.pan.flags = 1, ins.pan.sustain = 11, ins.pan.value[1] = 64;
  m.instruments = {ins};
  m.samples.resize(2);
  m.samples[0].length = m.samples[1].length = 4;
  m.samples[1].volume = 99;
  m.patterns = {{2, {{49, 1}, {0xFE}, {0xFF}, {97, 1, 0xF5, CMD_KEY_OFF, 0}}}};
  return m;
}

// XM note bytes stay note numbers, 0xFE and 0xFF are release and cut, envelope values are held
// to 64 (the model check judges counts, restart and volumes); a module may be empty.
TEST_F(Mux, ReadsXmNotesHoldingValuesBeyondTheLimits) {
  const MODUX *mod = load(build(small_xm_song()));
  ASSERT_NE(mod, nullptr) << modux_error;
  const NOTE_INFO *n = mod->patterns[0].notes;
  EXPECT_EQ((std::vector<int>{n[0].note, n[1].note, n[2].note, n[3].note,
                              mod->instruments[0].vol_env_value[1]}),
            (std::vector<int>{49, -2, -1, 97, 64}));
  module empty;  // no orders, patterns or samples at all
  empty.orders.clear();
  EXPECT_NE(load(build(empty)), nullptr) << modux_error;
}

TEST_F(Mux, DamagedFilesAreRefusedWithAMessage) {
  // clang-format off
  const struct { bool xm; const char *what; void (*spoil)(module &); const char *message_part; } cases[] = {
      {1, "65 channels", [](module &m) { m.channels++; }, "65 channels"},
      {1, "257 orders", [](module &m) { m.orders.push_back(0); }, "257 orders"},
      {0, "missing pattern", [](module &m) { m.orders = {0, 2}; }, "order 1 names pattern 2"},
      {0, "unknown flags", [](module &m) { m.flags = 8; }, "flags"},
      {0, "sample above the count", [](module &m) { m.patterns[0].cells[2].sample = 4; }, "sample 4 of 3"},
      {0, "12 bits", [](module &m) { m.samples[0].bits = 12; }, "12 bits"},
      {0, "negative length", [](module &m) { m.samples[0].length = -5; }, "length"},
      {0, "huge length", [](module &m) { m.samples[2].length = 0x7FFFFFFF, m.samples[2].data = {1}; }, "length"},
      {0, "loop end past the data", [](module &m) { m.samples[0].loop_end = 33; }, "loops"},
      {0, "loop start after its end", [](module &m) { m.samples[0].loop_end = 7; }, "loops"},
      {0, "negative loop start", [](module &m) { m.samples[0].loop_start = -1; }, "loops"},
      {0, "empty loop switched on", [](module &m) { m.samples[0].loop_end = 8; }, "loops"},
      {0, "pattern without rows", [](module &m) { m.patterns[1].rows = 0; }, "no rows"},
      {0, "run past the end", [](module &m) { m.patterns[1].raw = {0x85, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0}; }, "past"},
      {1, "instrument above the count", [](module &m) { m.patterns[0].cells[0].sample = 2; }, "instrument 2 of 1"},
      {1, "13 envelope points", [](module &m) { m.instruments[0].pan.points++; }, "envelope"},
      {1, "sustain point 12", [](module &m) { m.instruments[0].pan.sustain = 12; }, "envelope"},
      {1, "loop end point 200", [](module &m) { m.instruments[0].vol.loop_end = 200; }, "envelope"},
      // A count is weighed against the bytes left before anything is allocated from it.
      {1, "huge pattern", [](module &m) { m.patterns[0].rows = 0xFFFF, m.patterns[0].raw = bytes(5, 0x7F); }, "row_count 65535"}};
  // clang-format on
  for (const auto &c : cases) {
    module m = c.xm ? small_xm_song() : small_song();
    c.spoil(m);
    refused_naming(build(m), c.message_part, c.what);
  }
  for (const damage &d :
       {damage{"pattern_count", 50, {0xFF, 0xFF}}, damage{"instrument_count", 54, {0xFF, 0xFF}},
        damage{"sample_count", 56, {0xFF, 0xFF}}})
    refused_naming(damaged(build(small_song()), d), d.message, d.message);
  for (const module &m : {small_song(), small_xm_song()}) {
    const bytes full = build(m);
    for (size_t len = 0; len < full.size(); len++)
      refused_naming(bytes(full.begin(), full.begin() + len), "ends inside", std::to_string(len));
  }
  // The fewest bytes the column coding allows still load: 256 rows of 64 channels are 16384
  // cells, per column 129 full skips of 127 and one of 1.
  module tight = small_xm_song();
  tight.patterns[0] = {256, {}, {}};
  for (int col = 0; col < 5; col++) {
    tight.patterns[0].raw.insert(tight.patterns[0].raw.end(), 129, 0x7F);
    tight.patterns[0].raw.push_back(0x01);
  }
  ASSERT_NE(load(build(tight)), nullptr) << modux_error;
  EXPECT_EQ(read_->patterns[0].row_count, 256);
}

// A full-length name ends at the reserved byte after it; a file without the whole magic is no MUX
// to load_mod, a damaged one is refused with the reader's message (the song checksums load the
// game's songs through load_mod).
TEST_F(Mux, LoadModDetectsSummarisesAndLoadsMuxFilesOnly) {
  module m = small_song();
  m.name.assign(28, 'n');
  bytes good = build(m), changed = good;
  good[46] = 'R';
  changed[17] = 'X';
  expect_info(file(good), 6, "MUX", (std::string(28, 'n') + "R").c_str());
  MODFILE_INFO info;
  EXPECT_EQ(get_mod_info(file(bytes(good.begin(), good.begin() + 40)).c_str(), &info), -1);
  m.channels = 80;
  refused(build(m), "MUX: 80 channels, at most 64 are possible");
  for (const std::string &other :
       {file(changed), file(bytes{}), file(bytes(good.begin(), good.begin() + 17)),
        ::testing::TempDir() + "modux_none.mux"}) {
    EXPECT_EQ(detect_mux(other.c_str()), -1) << other;
    EXPECT_EQ(get_mod_info(other.c_str(), &info), -1);
    EXPECT_EQ(keep(load_mod(other.c_str())), nullptr);
    EXPECT_STREQ(modux_error, "Unsupported MOD type or unable to open file");
  }
  EXPECT_EQ(load_mod(nullptr), nullptr);
}

// A damaged object loads as a silent module and leaves its message, from a plain and a packed
// datafile (test_soundgen loads the game's own songs this way).
TEST_F(Mux, ADamagedDatafileObjectLoadsAsASilentModule) {
  module bad = small_song();
  bad.orders = {0, 7};
  const std::vector<dat::Object> objects = {dat::make_raw("BAD", DAT_MUX, build(bad))};
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
