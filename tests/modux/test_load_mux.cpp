// The native MUX reader: hand-built images read back into the model, the column coding,
// refusal of damaged and truncated files, detection, the summary and datafile objects.
#include <cstdio>
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
  // Reads through a memory PACKFILE; the module is freed by the next read or after the test.
  MODUX *load(const bytes &image) {
    memory_file state;
    PACKFILE *f = open_memory(image, state);
    std::snprintf(modux_error, sizeof modux_error, "untouched");
    destroy_mod(read_);
    read_ = load_mux(f);
    pack_fclose(f);
    return read_;
  }
  MODUX *read_ = nullptr;
};

// MOD family: two patterns, three samples (the second empty, the third 16-bit).
module small_song() {
  module m;
  m.name = "vorbel theme";
  m.pans = {0, 255, 255, 77};
  m.orders = {0, 1, 0};
  m.speed = 5, m.tempo = 140, m.global_volume = 48, m.restart = 1;
  m.samples.resize(3);
  sample &a = m.samples[0], &c = m.samples[2];
  a.length = 32, a.loop_start = 8, a.loop_end = 32, a.loop_flags = 1;
  a.volume = 40, a.pan = 77, a.relative_note = -3;
  c.length = 10, c.bits = 16, c.loop_flags = 2, c.loop_start = 2, c.loop_end = 9, c.tuning = 7895;
  c.vibrato_type = 1, c.vibrato_sweep = 2, c.vibrato_depth = 3, c.vibrato_rate = 4;
  // clang-format off
  m.patterns = {{2, {{428, 1, 0, CMD_SET_VOLUME, 32}, {}, {}, {}, {}, {214, 3, 0x10, CMD_EXTENDED, 0xC3}, {},
                     {0, 0, 0, CMD_SPEED_TEMPO, 0x1234}}},
                {1, {{-1}, {-2}, {0, 2}, {856}}}};
  // clang-format on
  return m;
}

// XM family: one instrument over two samples, and every count and value at the model's limits.
module small_xm_song() {
  module m;
  m.name.assign(28, 'x');
  m.flags = MODUX_XM | MODUX_LINEAR;
  m.channels = 64;
  m.orders.assign(256, 0);
  m.global_volume = 200, m.restart = 256;  // held to 64, restarts at 0
  instrument ins;
  for (int n = 48; n < 96; n++) ins.sample_map[n] = 1;
  ins.vol.points = 3, ins.vol.flags = 3, ins.vol.sustain = 1, ins.vol.loop_end = 2;
  ins.vol.tick[1] = 10, ins.vol.value[1] = 500, ins.vol.tick[2] = 300, ins.vol.value[2] = 20;
  ins.pan.points = 12, ins.pan.flags = 1, ins.pan.sustain = 11, ins.pan.value[1] = 64;
  ins.fadeout = 0x500;
  m.instruments = {ins};
  m.samples.resize(2);
  m.samples[0].length = m.samples[1].length = 4;
  m.samples[1].tuning = 120, m.samples[1].volume = 99;
  m.patterns = {{2, {{49, 1}, {0xFE}, {0xFF}, {97, 1, 0xF5, CMD_KEY_OFF, 0}}}};
  return m;
}

// Plain copies of every field are the writer round trip's matter (test_muxwrite); these read a
// hand-coded image, so they pin the layout and the reader's own conversions and limits.
TEST_F(Mux, ReadsAModFamilySong) {
  const MODUX *mod = load(build(small_song()));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_STREQ(mod->name, "vorbel theme");
  const SAMPLE_INFO *i = mod->sample_info;
  const SAMPLE *s = mod->samples;
  const NOTE_INFO *n0 = mod->patterns[0].notes, *n1 = mod->patterns[1].notes;
  // Periods become note frequencies: 428 is middle C; note commands stay negative.
  // clang-format off
  expect_fields({{"channels", mod->channel_count, 4}, {"orders", mod->order_count, 3},
                 {"order 1", mod->order_table[1], 1}, {"pan 3", mod->channel_pan[3], 77},
                 {"speed", mod->initial_speed, 5}, {"tempo", mod->initial_tempo, 140},
                 {"global volume", mod->initial_global_volume, 48},
                 {"restart", mod->restart_order, 1}, {"len", s[0].len, 32},
                 {"loop start", s[0].loop_start, 8}, {"loop end", s[0].loop_end, 32},
                 {"volume", i[0].volume, 40}, {"relative note", i[0].relative_note, -3},
                 {"last byte", static_cast<const uint8_t *>(s[0].data)[31], 31},
                 {"empty length", s[1].len, 0}, {"16-bit", s[2].bits, 16},
                 {"tuning 2", i[2].tuning, 7895}, {"loop flags 2", i[2].loop_flags, 2},
                 {"type", i[2].vibrato_type, 1}, {"sweep", i[2].vibrato_sweep, 2},
                 {"depth", i[2].vibrato_depth, 3}, {"rate", i[2].vibrato_rate, 4},
                 {"pan", i[0].pan, 77}, {"command", n0[0].command, CMD_SET_VOLUME},
                 {"16-bit data", static_cast<const uint8_t *>(s[2].data)[19], 19},
                 {"note", n0[0].note, 8363}, {"sample", n0[0].sample, 1}, {"param", n0[0].param, 32},
                 {"note 5", n0[5].note, MODUX_AMIGA_CLOCK / 214}, {"volume", n0[5].volume, 0x10},
                 {"16-bit param", n0[7].param, 0x1234}, {"cut", n1[0].note, -1},
                 {"release", n1[1].note, -2}, {"sample alone", n1[2].sample, 2},
                 {"period 856", n1[3].note, 4181}});
  // clang-format on
  EXPECT_NE(s[1].data, nullptr);
}

TEST_F(Mux, ReadsAnXmFamilySongAtTheModelsLimits) {
  const MODUX *mod = load(build(small_xm_song()));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(std::string(mod->name), std::string(28, 'x'));
  const NOTE_INFO *n = mod->patterns[0].notes;
  const INSTRUMENT_INFO &ins = mod->instruments[0];
  // XM note 49 stays a note number; 0xFE is key release, 0xFF a cut.
  // clang-format off
  expect_fields({{"flags", mod->flags, MODUX_XM | MODUX_LINEAR},
                 {"channels", mod->channel_count, 64}, {"orders", mod->order_count, 256},
                 {"global volume", mod->initial_global_volume, 64},
                 {"restart", mod->restart_order, 0}, {"note", n[0].note, 49},
                 {"release", n[1].note, -2}, {"cut", n[2].note, -1}, {"note 97", n[3].note, 97},
                 {"volume", n[3].volume, 0xF5}, {"map 47", ins.sample_map[47], 0},
                 {"map 48", ins.sample_map[48], 1}, {"command", n[3].command, CMD_KEY_OFF},
                 {"points", ins.vol_env_points, 3}, {"env flags", ins.vol_env_flags, 3},
                 {"loop end", ins.vol_env_loop_end, 2}, {"sustain end", ins.vol_env_sustain_end, 1},
                 {"tick", ins.vol_env_tick[2], 300}, {"value held", ins.vol_env_value[1], 64},
                 {"pan points", ins.pan_env_points, 12}, {"pan value", ins.pan_env_value[1], 64},
                 {"fadeout", ins.fadeout, 0x500}, {"tuning", mod->sample_info[1].tuning, 120},
                 {"volume held", mod->sample_info[1].volume, 64}});
  // clang-format on
  module empty;  // no orders, patterns or samples at all
  empty.orders.clear();
  EXPECT_NE(load(build(empty)), nullptr) << modux_error;
}

TEST_F(Mux, ColumnControlBytesSkipFillAndIdle) {
  module m;
  m.channels = 1;
  m.samples.resize(3);
  // clang-format off
  m.patterns = {{8, {},
                 {0x05, 0x00, 0x80, 0x83, 0xAC, 0x01, 0x00, 0x00, 0x5A, 0x03,  // note: skip 5, idle, 3 values
                  0x88, 1, 2, 3, 0, 1, 2, 3, 0,                              // sample: one run of eight
                  0x08, 0x08,                                                // volume, command: all empty
                  0x03, 0x82, 0x34, 0x12, 0xFF, 0xFF, 0x03}}};               // param: 16-bit values
  // clang-format on
  const MODUX *mod = load(build(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  const NOTE_INFO *n = mod->patterns[0].notes;
  for (int i = 0; i < 5; i++) EXPECT_EQ(n[i].note, 0) << i;  // skipped
  // clang-format off
  expect_fields({{"note 5", n[5].note, MODUX_AMIGA_CLOCK / 428}, {"note 6", n[6].note, 0},
                 {"note 7", n[7].note, MODUX_AMIGA_CLOCK / 858}, {"sample 3", n[3].sample, 0},
                 {"sample 6", n[6].sample, 3}, {"param 3", n[3].param, 0x1234},
                 {"param 4", n[4].param, 0xFFFF}, {"param 5", n[5].param, 0}});
  // clang-format on
}

TEST_F(Mux, DamagedFilesAreRefusedWithAMessage) {
  // clang-format off
  const struct {
    bool xm;
    const char *what;
    void (*spoil)(module &);
    const char *message_part;
  } cases[] = {
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
  };
  // clang-format on
  for (const auto &c : cases) {
    module m = c.xm ? small_xm_song() : small_song();
    c.spoil(m);
    EXPECT_EQ(load(build(m)), nullptr) << c.what;
    EXPECT_NE(std::string(modux_error).find(c.message_part), std::string::npos)
        << c.what << ": " << modux_error;
  }
}

// A count is weighed against the bytes left before anything is allocated from it: a tiny file
// declaring a huge pattern or huge tables is refused, naming the field, while a large pattern
// written in the fewest bytes the column coding allows still loads.
TEST_F(Mux, DeclaredSizesBeyondTheBytesLeftAreRefusedBeforeAllocating) {
  module huge = small_xm_song();
  huge.patterns[0].rows = 0xFFFF;
  huge.patterns[0].raw = {0x7F, 0x7F, 0x7F, 0x7F, 0x7F};
  EXPECT_EQ(load(build(huge)), nullptr);
  EXPECT_NE(std::string(modux_error).find("row_count 65535"), std::string::npos) << modux_error;
  const struct {
    size_t offset;  // of the header word
    const char *field;
  } counts[] = {{50, "pattern_count"}, {54, "instrument_count"}, {56, "sample_count"}};
  for (const auto &c : counts) {
    bytes image = build(small_song());
    image[c.offset] = image[c.offset + 1] = 0xFF;
    EXPECT_EQ(load(image), nullptr) << c.field;
    EXPECT_NE(std::string(modux_error).find(c.field), std::string::npos) << modux_error;
  }
  // 256 rows of 64 channels are 16384 cells: per column 129 full skips of 127 and one of 1.
  module tight = small_xm_song();
  tight.patterns[0].rows = 256;
  tight.patterns[0].raw.clear();
  for (int col = 0; col < 5; col++) {
    tight.patterns[0].raw.insert(tight.patterns[0].raw.end(), 129, 0x7F);
    tight.patterns[0].raw.push_back(0x01);
  }
  const MODUX *mod = load(build(tight));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(mod->patterns[0].row_count, 256);
}

TEST_F(Mux, EveryTruncationIsRefused) {
  for (const module &m : {small_song(), small_xm_song()}) {
    const bytes full = build(m);
    ASSERT_NE(load(full), nullptr) << modux_error;
    for (size_t len = 0; len < full.size(); len++) {
      EXPECT_EQ(load(bytes(full.begin(), full.begin() + len)), nullptr) << "cut at " << len;
      EXPECT_NE(std::string(modux_error).find("ends inside"), std::string::npos)
          << len << ": " << modux_error;
    }
  }
}

TEST_F(Mux, ArbitraryBytesAfterTheMagicNeverCrash) {
  unsigned state = 12345;  // a fixed sequence: every run is the same
  for (int round = 0; round < 300; round++) {
    bytes junk = build(small_song());
    for (size_t i = 18; i < junk.size(); i++) {
      state = state * 1103515245u + 12345u;
      if ((state >> 16) % 13 == 0) junk[i] = static_cast<uint8_t>(state >> 8);
    }
    if (!load(junk)) {
      EXPECT_STRNE(modux_error, "untouched");
    }
  }
}

TEST_F(Mux, LoadModDetectsSummarisesAndLoadsMuxFilesOnly) {
  module m = small_song();
  m.name.assign(28, 'n');
  bytes good = build(m), changed = good;
  good[46] = 'R';  // the reserved byte after the name ends a full-length one
  changed[17] = 'X';
  const std::string path = file(good);
  MODFILE_INFO info;
  EXPECT_EQ(get_mod_info(path.c_str(), &info), 1);
  EXPECT_EQ(info.type, 6);
  EXPECT_STREQ(info.type_name, "MUX");
  EXPECT_EQ(std::string(info.name, 29), std::string(28, 'n') + "R");
  MODUX *mod = load_mod(path.c_str());
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(mod->pattern_count, 2);
  destroy_mod(mod);
  EXPECT_EQ(get_mod_info(file(bytes(good.begin(), good.begin() + 40)).c_str(), &info), -1);
  EXPECT_EQ(get_mux_info(nullptr, &info), -1);
  m.channels = 80;
  EXPECT_EQ(load_mod(file(build(m)).c_str()), nullptr);
  EXPECT_NE(std::string(modux_error).find("80 channels"), std::string::npos) << modux_error;

  const std::string others[] = {file(changed), file(bytes{}),
                                file(bytes(good.begin(), good.begin() + 17)),
                                ::testing::TempDir() + "modux_none.mux"};
  for (const std::string &other : others) {
    std::snprintf(modux_error, sizeof modux_error, "untouched");
    EXPECT_EQ(detect_mux(other.c_str()), -1) << other;
    EXPECT_EQ(load_mod(other.c_str()), nullptr);
    EXPECT_STREQ(modux_error, "Unsupported MOD type or unable to open file");
    EXPECT_EQ(get_mod_info(other.c_str(), &info), -1);
  }
  EXPECT_EQ(load_mod(nullptr), nullptr);
}

TEST_F(Mux, DatafileObjectsLoadAsModulesAndADamagedOneAsASilentOne) {
  module bad = small_song();
  bad.orders = {0, 7};
  const int type = DAT_MUX;
  const std::vector<dat::Object> objects = {dat::make_raw("THEME", type, build(small_song())),
                                            dat::make_raw("SONG1", type, build(small_xm_song())),
                                            dat::make_raw("BAD", type, build(bad))};
  for (bool packed : {false, true}) {
    DATAFILE *data = load_datafile(file(dat::build_datafile(objects, packed)).c_str());
    ASSERT_NE(data, nullptr);
    EXPECT_NE(std::string(modux_error).find("order 1 names pattern 7"), std::string::npos)
        << modux_error;
    const MODUX *theme = static_cast<const MODUX *>(data[0].dat),
                *song1 = static_cast<const MODUX *>(data[1].dat),
                *silent = static_cast<const MODUX *>(data[2].dat);
    EXPECT_EQ(theme->patterns[0].notes[0].note, 8363);
    EXPECT_EQ(song1->instruments[0].fadeout, 0x500);
    ASSERT_NE(silent, nullptr);
    EXPECT_EQ(silent->order_count + silent->pattern_count + silent->sample_count, 0);
    unload_datafile(data);  // frees the modules through the registered destructor
  }
}

}  // namespace
