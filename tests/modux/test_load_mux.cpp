// Tests of the native MUX reader: hand-built images read back into the model, the column
// coding, the note conversion, refusal of damaged and truncated files, detection, the summary
// reader and MUX objects inside an Allegro datafile.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "datwriter.h"
#include "modux.h"
#include "mux_image.h"

using namespace muxtest;

namespace {

class Mux : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    register_datafile_modux();
  }
  void TearDown() override {
    destroy_mod(loaded_);
    loaded_ = nullptr;
    for (const std::string &p : files_) std::remove(p.c_str());
  }

  // Loads an image through a memory PACKFILE; the module is freed after the test.
  MODUX *load(const bytes &image) {
    memory_file state;
    PACKFILE *f = open_memory(image, state);
    EXPECT_NE(f, nullptr);
    std::snprintf(modux_error, sizeof modux_error, "untouched");
    MODUX *mod = load_mux(f);
    pack_fclose(f);
    destroy_mod(loaded_);
    loaded_ = mod;
    return mod;
  }

  std::string write_file(const std::string &tag, const bytes &data) {
    const std::string path = ::testing::TempDir() + "modux_mux_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + tag;
    FILE *f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
      if (!data.empty()) std::fwrite(data.data(), 1, data.size(), f);
      std::fclose(f);
    }
    files_.push_back(path);
    return path;
  }

  MODUX *loaded_ = nullptr;
  std::vector<std::string> files_;
};

// A small but complete module of the MOD family: two patterns, three samples (one empty).
module small_song() {
  module m;
  m.name = "vorbel theme";
  m.channels = 4;
  m.pans = {0, 255, 255, 0};
  m.orders = {0, 1, 0};
  m.speed = 5;
  m.tempo = 140;
  m.global_volume = 48;
  m.restart = 1;
  sample s1;
  s1.length = 32;
  s1.loop_start = 8;
  s1.loop_end = 32;
  s1.loop_flags = 1;
  s1.volume = 40;
  s1.pan = 77;
  s1.relative_note = -3;
  s1.tuning = 8363;
  sample s2;  // empty
  sample s3;
  s3.length = 10;
  s3.bits = 16;
  s3.loop_flags = 2;
  s3.loop_start = 2;
  s3.loop_end = 9;
  s3.tuning = 7895;
  s3.vibrato_type = 1;
  s3.vibrato_sweep = 2;
  s3.vibrato_depth = 3;
  s3.vibrato_rate = 4;
  m.samples = {s1, s2, s3};
  pattern p0;
  p0.rows = 2;
  p0.cells.resize(8);
  p0.cells[0] = {428, 1, 0, CMD_SET_VOLUME, 32};
  p0.cells[5] = {214, 3, 0x10, CMD_EXTENDED, 0xC3};
  p0.cells[7] = {0, 0, 0, CMD_SPEED_TEMPO, 0x1234};
  pattern p1;
  p1.rows = 1;
  p1.cells = {{-1, 0, 0, 0, 0}, {-2, 0, 0, 0, 0}, {0, 2, 0, 0, 0}, {856, 0, 0, 0, 0}};
  m.patterns = {p0, p1};
  return m;
}

// The same kind of song in the XM family with one instrument.
module small_xm_song() {
  module m;
  m.flags = MODUX_XM | MODUX_LINEAR;
  m.channels = 2;
  instrument ins;
  for (int n = 0; n < 96; n++) ins.sample_map[n] = n < 48 ? 0 : 1;
  ins.vol.points = 3;
  ins.vol.flags = 3;
  ins.vol.sustain = 1;
  ins.vol.loop_start = 0;
  ins.vol.loop_end = 2;
  ins.vol.tick[1] = 10;
  ins.vol.value[1] = 64;
  ins.vol.tick[2] = 300;
  ins.vol.value[2] = 20;
  ins.pan.points = 2;
  ins.pan.flags = 1;
  ins.pan.sustain = 11;
  ins.pan.tick[1] = 5;
  ins.pan.value[0] = 32;
  ins.pan.value[1] = 64;
  ins.fadeout = 0x500;
  m.instruments = {ins};
  sample a, b;
  a.length = 4;
  a.tuning = 128;
  b.length = 4;
  b.tuning = 120;
  m.samples = {a, b};
  pattern p;
  p.rows = 2;
  p.cells = {{49, 1, 0, 0, 0}, {0xFE, 0, 0, 0, 0}, {0xFF, 0, 0, 0, 0}, {97, 1, 0xF5, CMD_KEY_OFF, 0}};
  m.patterns = {p};
  return m;
}

TEST_F(Mux, ReadsTheHeaderAndTables) {
  MODUX *mod = load(build(small_song()));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_STREQ(mod->name, "vorbel theme");
  EXPECT_EQ(mod->channel_count, 4);
  EXPECT_EQ(mod->pattern_count, 2);
  EXPECT_EQ(mod->sample_count, 3);
  EXPECT_EQ(mod->instrument_count, 0);
  EXPECT_EQ(mod->instruments, nullptr);
  EXPECT_EQ(mod->order_count, 3);
  EXPECT_EQ(mod->order_table[0], 0);
  EXPECT_EQ(mod->order_table[1], 1);
  EXPECT_EQ(mod->order_table[2], 0);
  EXPECT_EQ(mod->order_table[3], 0);
  EXPECT_EQ(mod->channel_pan[0], 0);
  EXPECT_EQ(mod->channel_pan[1], 255);
  EXPECT_EQ(mod->channel_pan[4], 0);
  EXPECT_EQ(mod->initial_speed, 5);
  EXPECT_EQ(mod->initial_tempo, 140);
  EXPECT_EQ(mod->initial_global_volume, 48);
  EXPECT_EQ(mod->restart_order, 1);
  EXPECT_EQ(mod->flags, 0);
}

TEST_F(Mux, AFullLengthNameStaysTerminated) {
  module m = small_song();
  m.name = std::string(28, 'x');
  MODUX *mod = load(build(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(std::strlen(mod->name), 28u);
}

TEST_F(Mux, ReadsSamplesIntoBothRecords) {
  MODUX *mod = load(build(small_song()));
  ASSERT_NE(mod, nullptr) << modux_error;
  const SAMPLE_INFO &i0 = mod->sample_info[0];
  const SAMPLE &s0 = mod->samples[0];
  EXPECT_EQ(i0.length, 32);
  EXPECT_EQ(s0.len, 32u);
  EXPECT_EQ(i0.loop_start, 8);
  EXPECT_EQ(i0.loop_end, 32);
  EXPECT_EQ(s0.loop_start, 8u);
  EXPECT_EQ(s0.loop_end, 32u);
  EXPECT_EQ(i0.loop_flags, 1);
  EXPECT_EQ(i0.volume, 40);
  EXPECT_EQ(i0.pan, 77);
  EXPECT_EQ(i0.relative_note, -3);
  EXPECT_EQ(i0.tuning, 8363);
  EXPECT_EQ(s0.bits, 8);
  EXPECT_EQ(s0.stereo, 0);
  EXPECT_EQ(s0.freq, 1000);
  EXPECT_EQ(s0.priority, 192);
  EXPECT_EQ(s0.param, -1);
  const unsigned char *d0 = static_cast<const unsigned char *>(s0.data);
  EXPECT_EQ(d0[0], 0);
  EXPECT_EQ(d0[31], 31);

  const SAMPLE_INFO &i2 = mod->sample_info[2];
  const SAMPLE &s2 = mod->samples[2];
  EXPECT_EQ(s2.bits, 16);
  EXPECT_EQ(i2.length, 10);
  EXPECT_EQ(i2.loop_flags, 2);
  EXPECT_EQ(i2.tuning, 7895);
  EXPECT_EQ(i2.vibrato_type, 1);
  EXPECT_EQ(i2.vibrato_sweep, 2);
  EXPECT_EQ(i2.vibrato_depth, 3);
  EXPECT_EQ(i2.vibrato_rate, 4);
  // Twenty bytes of data copied unchanged: the last one is the ramp's 19.
  EXPECT_EQ(static_cast<const unsigned char *>(s2.data)[19], 19);
}

TEST_F(Mux, AnEmptySampleTakesFourBytesAndLeavesItsInfoZero) {
  MODUX *mod = load(build(small_song()));
  ASSERT_NE(mod, nullptr) << modux_error;
  const SAMPLE_INFO &i1 = mod->sample_info[1];
  EXPECT_EQ(i1.length, 0);
  EXPECT_EQ(i1.volume, 0);
  EXPECT_EQ(i1.tuning, 0);
  EXPECT_EQ(i1.loop_end, 0);
  EXPECT_EQ(mod->samples[1].len, 0u);
  EXPECT_NE(mod->samples[1].data, nullptr);
  EXPECT_EQ(mod->samples[1].freq, 1000);
  // The sample after it was found at the right place.
  EXPECT_EQ(mod->sample_info[2].tuning, 7895);
}

TEST_F(Mux, DecodesCellsOfTheModFamily) {
  MODUX *mod = load(build(small_song()));
  ASSERT_NE(mod, nullptr) << modux_error;
  const PATTERN_INFO &p0 = mod->patterns[0];
  EXPECT_EQ(p0.row_count, 2);
  EXPECT_EQ(p0.notes[0].note, 8363);  // period 428 is middle C
  EXPECT_EQ(p0.notes[0].sample, 1);
  EXPECT_EQ(p0.notes[0].command, CMD_SET_VOLUME);
  EXPECT_EQ(p0.notes[0].param, 32);
  EXPECT_EQ(p0.notes[1].note, 0);
  EXPECT_EQ(p0.notes[5].note, 3579546 / 214);
  EXPECT_EQ(p0.notes[5].volume, 0x10);
  EXPECT_EQ(p0.notes[5].param, 0xC3);
  EXPECT_EQ(p0.notes[7].param, 0x1234);  // parameters are 16 bits wide in MUX
  const PATTERN_INFO &p1 = mod->patterns[1];
  EXPECT_EQ(p1.notes[0].note, -1);  // note commands stay negative
  EXPECT_EQ(p1.notes[1].note, -2);
  EXPECT_EQ(p1.notes[2].note, 0);
  EXPECT_EQ(p1.notes[2].sample, 2);
  EXPECT_EQ(p1.notes[3].note, 4181);
}

TEST_F(Mux, DecodesCellsAndInstrumentsOfTheXmFamily) {
  MODUX *mod = load(build(small_xm_song()));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(mod->flags, MODUX_XM | MODUX_LINEAR);
  const NOTE_INFO *n = mod->patterns[0].notes;
  EXPECT_EQ(n[0].note, 49);
  EXPECT_EQ(n[1].note, -2);  // 0xFE is key release
  EXPECT_EQ(n[2].note, -1);
  EXPECT_EQ(n[3].note, 97);
  EXPECT_EQ(n[3].volume, 0xF5);
  EXPECT_EQ(n[3].command, CMD_KEY_OFF);

  ASSERT_NE(mod->instruments, nullptr);
  const INSTRUMENT_INFO &ins = mod->instruments[0];
  EXPECT_EQ(ins.sample_map[47], 0);
  EXPECT_EQ(ins.sample_map[48], 1);
  EXPECT_EQ(ins.vol_env_points, 3);
  EXPECT_EQ(ins.vol_env_flags, 3);
  EXPECT_EQ(ins.vol_env_sustain_start, 1);
  EXPECT_EQ(ins.vol_env_sustain_end, 1);
  EXPECT_EQ(ins.vol_env_loop_end, 2);
  EXPECT_EQ(ins.vol_env_tick[2], 300);
  EXPECT_EQ(ins.vol_env_value[2], 20);
  EXPECT_EQ(ins.pan_env_points, 2);
  EXPECT_EQ(ins.pan_env_sustain_start, 11);
  EXPECT_EQ(ins.pan_env_sustain_end, 11);
  EXPECT_EQ(ins.pan_env_value[1], 64);
  EXPECT_EQ(ins.fadeout, 0x500);
  EXPECT_EQ(mod->sample_info[1].tuning, 120);
}

TEST_F(Mux, ColumnControlBytesSkipFillAndIdle) {
  module m;
  m.channels = 1;
  m.samples = {sample{}, sample{}, sample{}};
  pattern p;
  p.rows = 8;
  // note: 0x05 skips five cells, 0x00 and 0x80 do nothing, 0x83 fills three cells
  p.raw = {0x05, 0x00, 0x80, 0x83, 0xAC, 0x01, 0x00, 0x00, 0x5A, 0x03,
           // sample: one run of eight values
           0x88, 1, 2, 3, 0, 1, 2, 3, 0,
           // volume, command: all empty in one byte each
           0x08, 0x08,
           // param: three empty, then two 16-bit values, then three empty
           0x03, 0x82, 0x34, 0x12, 0xFF, 0xFF, 0x03};
  m.patterns = {p};
  MODUX *mod = load(build(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  const NOTE_INFO *n = mod->patterns[0].notes;
  for (int i = 0; i < 5; i++) EXPECT_EQ(n[i].note, 0) << i;
  EXPECT_EQ(n[5].note, 3579546 / 428);
  EXPECT_EQ(n[6].note, 0);
  EXPECT_EQ(n[7].note, 3579546 / 858);
  EXPECT_EQ(n[3].sample, 0);
  EXPECT_EQ(n[6].sample, 3);
  EXPECT_EQ(n[3].param, 0x1234);
  EXPECT_EQ(n[4].param, 0xFFFF);
  EXPECT_EQ(n[5].param, 0);
}

TEST_F(Mux, OutOfRangeValuesAreClampedToTheModel) {
  module m = small_song();
  m.global_volume = 200;
  m.restart = 3;  // one past the last order position
  m.samples[0].volume = 99;
  MODUX *mod = load(build(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(mod->initial_global_volume, 64);
  EXPECT_EQ(mod->restart_order, 0);
  EXPECT_EQ(mod->sample_info[0].volume, 64);

  module x = small_xm_song();
  x.instruments[0].vol.value[1] = 500;
  mod = load(build(x));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(mod->instruments[0].vol_env_value[1], 64);
}

TEST_F(Mux, AnEmptySongIsAValidModule) {
  module m;
  m.channels = 0;
  m.orders = {};
  MODUX *mod = load(build(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(mod->sample_count, 0);
  EXPECT_EQ(mod->pattern_count, 0);
  EXPECT_EQ(mod->order_count, 0);
}

TEST_F(Mux, TheLargestCountsTheModelHoldsAreAccepted) {
  module m;
  m.channels = 64;
  m.orders.assign(256, 0);
  pattern p;
  p.rows = 1;
  m.patterns = {p};
  MODUX *mod = load(build(m));
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_EQ(mod->channel_count, 64);
  EXPECT_EQ(mod->order_count, 256);
}

struct damage {
  const char *what;
  void (*spoil)(module &);
  const char *message_part;
};

const damage damages[] = {
    {"65 channels", [](module &m) { m.channels = 65; }, "65 channels"},
    {"257 orders", [](module &m) { m.orders.assign(257, 0); }, "257 orders"},
    {"order naming a missing pattern", [](module &m) { m.orders = {0, 2}; }, "order 1 names pattern 2"},
    {"order with no patterns at all", [](module &m) { m.patterns.clear(); }, "order 0 names pattern 0"},
    {"unknown flag bits", [](module &m) { m.flags = 8; }, "flags"},
    {"cell sample above the sample count",
     [](module &m) { m.patterns[0].cells[2].sample = 4; }, "sample 4 of 3"},
    {"sample of 12 bits", [](module &m) { m.samples[0].bits = 12; }, "12 bits"},
    {"negative sample length", [](module &m) { m.samples[0].length = -5; }, "length"},
    {"sample length beyond the limit",
     [](module &m) { m.samples[2].length = 0x7FFFFFFF, m.samples[2].data = {1, 2}; }, "length"},
    {"loop end past the data", [](module &m) { m.samples[0].loop_end = 33; }, "loops"},
    {"loop start after its end", [](module &m) { m.samples[0].loop_start = 20, m.samples[0].loop_end = 10; }, "loops"},
    {"negative loop start", [](module &m) { m.samples[0].loop_start = -1; }, "loops"},
    {"loop switched on but empty", [](module &m) { m.samples[0].loop_start = m.samples[0].loop_end = 8; }, "loops"},
    {"pattern without rows", [](module &m) { m.patterns[1].rows = 0; }, "no rows"},
    {"literal run past the pattern's end",
     [](module &m) { m.patterns[1].raw = {0x85, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0}; }, "runs past"},
    {"skip run past the pattern's end", [](module &m) { m.patterns[1].raw = {0x03, 0x02}; }, "runs past"},
};

TEST_F(Mux, DamagedFilesAreRefusedWithAMessage) {
  for (const damage &d : damages) {
    SCOPED_TRACE(d.what);
    module m = small_song();
    d.spoil(m);
    EXPECT_EQ(load(build(m)), nullptr);
    EXPECT_NE(std::string(modux_error).find(d.message_part), std::string::npos) << modux_error;
  }
}

const damage xm_damages[] = {
    {"instrument above the instrument count",
     [](module &m) { m.patterns[0].cells[0].sample = 2; }, "instrument 2 of 1"},
    {"13 envelope points", [](module &m) { m.instruments[0].vol.points = 13; }, "envelope"},
    {"sustain point beyond the model", [](module &m) { m.instruments[0].pan.sustain = 12; }, "envelope"},
    {"loop end point beyond the model", [](module &m) { m.instruments[0].vol.loop_end = 200; }, "envelope"},
};

TEST_F(Mux, DamagedXmFamilyFilesAreRefusedWithAMessage) {
  for (const damage &d : xm_damages) {
    SCOPED_TRACE(d.what);
    module m = small_xm_song();
    d.spoil(m);
    EXPECT_EQ(load(build(m)), nullptr);
    EXPECT_NE(std::string(modux_error).find(d.message_part), std::string::npos) << modux_error;
  }
}

TEST_F(Mux, EveryTruncationIsRefused) {
  for (const module &m : {small_song(), small_xm_song()}) {
    const bytes full = build(m);
    ASSERT_NE(load(full), nullptr) << modux_error;
    for (size_t len = 0; len < full.size(); len++) {
      const bytes cut(full.begin(), full.begin() + static_cast<long>(len));
      EXPECT_EQ(load(cut), nullptr) << "cut at " << len;
      EXPECT_NE(std::string(modux_error).find("ends inside"), std::string::npos)
          << "cut at " << len << ": " << modux_error;
    }
  }
}

TEST_F(Mux, ArbitraryBytesAfterTheMagicNeverCrash) {
  // A fixed pseudo-random sequence: the run is the same every time.
  unsigned state = 12345;
  for (int round = 0; round < 300; round++) {
    bytes junk = build(small_song());
    for (size_t i = 18; i < junk.size(); i++) {
      state = state * 1103515245u + 12345u;
      if ((state >> 16) % 13 == 0) junk[i] = static_cast<uint8_t>(state >> 8);
    }
    MODUX *mod = load(junk);
    if (!mod) {
      EXPECT_STRNE(modux_error, "untouched");
    }
  }
}

TEST_F(Mux, DetectionWantsTheWholeMagic) {
  const bytes good = build(small_song());
  EXPECT_EQ(detect_mux(write_file("good", good).c_str()), 1);
  const char no_space[] = "MODUX 01 module :";
  EXPECT_EQ(detect_mux(write_file("nospace", bytes(no_space, no_space + 17)).c_str()), -1);
  bytes changed = good;
  changed[17] = 'X';
  EXPECT_EQ(detect_mux(write_file("changed", changed).c_str()), -1);
  EXPECT_EQ(detect_mux(write_file("empty", {}).c_str()), -1);
  EXPECT_EQ(detect_mux(write_file("short", bytes(good.begin(), good.begin() + 10)).c_str()), -1);
  EXPECT_EQ(detect_mux((::testing::TempDir() + "modux_no_such_file.mux").c_str()), -1);
}

TEST_F(Mux, InfoReportsTheFamilyAndTheName) {
  module m = small_song();
  bytes image = build(m);
  memory_file state;
  PACKFILE *f = open_memory(image, state);
  MODFILE_INFO info;
  std::memset(&info, 0x55, sizeof info);
  EXPECT_EQ(get_mux_info(f, &info), 1);
  pack_fclose(f);
  EXPECT_EQ(info.type, 6);
  EXPECT_STREQ(info.type_name, "MUX");
  EXPECT_STREQ(info.name, "vorbel theme");
}

TEST_F(Mux, InfoOfAFullLengthNameEndsWithTheReservedByte) {
  module m = small_song();
  m.name = std::string(28, 'n');
  bytes image = build(m);
  image[46] = 'R';  // first reserved byte
  memory_file state;
  PACKFILE *f = open_memory(image, state);
  MODFILE_INFO info;
  EXPECT_EQ(get_mux_info(f, &info), 1);
  pack_fclose(f);
  EXPECT_EQ(std::string(info.name, 29), std::string(28, 'n') + "R");
}

TEST_F(Mux, InfoOfATruncatedFileFails) {
  bytes image = build(small_song());
  image.resize(40);
  memory_file state;
  PACKFILE *f = open_memory(image, state);
  MODFILE_INFO info;
  EXPECT_EQ(get_mux_info(f, &info), -1);
  pack_fclose(f);
  EXPECT_EQ(get_mux_info(nullptr, &info), -1);
}

TEST_F(Mux, LoadModReadsAMuxFile) {
  const std::string path = write_file(".mux", build(small_song()));
  MODUX *mod = load_mod(path.c_str());
  ASSERT_NE(mod, nullptr) << modux_error;
  EXPECT_STREQ(mod->name, "vorbel theme");
  EXPECT_EQ(mod->pattern_count, 2);
  destroy_mod(mod);

  MODFILE_INFO info;
  EXPECT_EQ(get_mod_info(path.c_str(), &info), 1);
  EXPECT_EQ(info.type, 6);
  EXPECT_EQ(get_mod_info(path.c_str(), nullptr), -1);
}

TEST_F(Mux, LoadModPassesOnTheLoadersMessage) {
  module m = small_song();
  m.channels = 80;
  const std::string path = write_file(".mux", build(m));
  EXPECT_EQ(load_mod(path.c_str()), nullptr);
  EXPECT_NE(std::string(modux_error).find("80 channels"), std::string::npos) << modux_error;
}

TEST_F(Mux, UnknownAndMissingFilesAreUnsupported) {
  const std::string text = write_file(".txt", bytes(100, 'a'));
  const std::string missing = ::testing::TempDir() + "modux_no_such_file.mux";
  for (const std::string &path : {text, missing}) {
    SCOPED_TRACE(path);
    std::snprintf(modux_error, sizeof modux_error, "untouched");
    EXPECT_EQ(load_mod(path.c_str()), nullptr);
    EXPECT_STREQ(modux_error, "Unsupported MOD type or unable to open file");
    MODFILE_INFO info;
    EXPECT_EQ(get_mod_info(path.c_str(), &info), -1);
    EXPECT_STREQ(modux_error, "Unsupported MOD type or unable to open file");
  }
  EXPECT_EQ(load_mod(nullptr), nullptr);
}

TEST_F(Mux, DatafileObjectsOfTypeMuxLoadAsModules) {
  const bytes song = build(small_song());
  const bytes xm = build(small_xm_song());
  for (bool packed : {false, true}) {
    SCOPED_TRACE(packed ? "packed" : "unpacked");
    const std::vector<dat::Object> objects = {
        dat::make_raw("THEME", DAT_ID('M', 'U', 'X', ' '), song),
        dat::make_raw("SONG1", DAT_ID('M', 'U', 'X', ' '), xm),
    };
    const std::string path = write_file(packed ? "p.dat" : "u.dat", dat::build_datafile(objects, packed));
    DATAFILE *data = load_datafile(path.c_str());
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data[0].type, DAT_ID('M', 'U', 'X', ' '));
    const MODUX *theme = static_cast<const MODUX *>(data[0].dat);
    EXPECT_STREQ(theme->name, "vorbel theme");
    EXPECT_EQ(theme->patterns[0].notes[0].note, 8363);
    const MODUX *song1 = static_cast<const MODUX *>(data[1].dat);
    EXPECT_EQ(song1->flags, MODUX_XM | MODUX_LINEAR);
    EXPECT_EQ(song1->instruments[0].fadeout, 0x500);
    unload_datafile(data);  // frees both modules through the registered destructor
  }
}

TEST_F(Mux, ADamagedModuleInADatafileBecomesASilentOne) {
  module m = small_song();
  m.orders = {0, 7};
  const std::vector<dat::Object> objects = {
      dat::make_raw("BAD", DAT_ID('M', 'U', 'X', ' '), build(m)),
      dat::make_raw("GOOD", DAT_ID('M', 'U', 'X', ' '), build(small_song())),
  };
  const std::string path = write_file(".dat", dat::build_datafile(objects, false));
  DATAFILE *data = load_datafile(path.c_str());
  ASSERT_NE(data, nullptr);
  EXPECT_NE(std::string(modux_error).find("order 1 names pattern 7"), std::string::npos) << modux_error;
  const MODUX *bad = static_cast<const MODUX *>(data[0].dat);
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(bad->order_count, 0);
  EXPECT_EQ(bad->pattern_count, 0);
  EXPECT_EQ(bad->sample_count, 0);
  EXPECT_STREQ(static_cast<const MODUX *>(data[1].dat)->name, "vorbel theme");
  unload_datafile(data);
}

}  // namespace
