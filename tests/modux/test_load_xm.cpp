// The XM importer: header rules, held limits, maps of missing samples, damaged files, the older
// layouts, files that end early. Valid cells, effects, envelopes and samples are heard in renders.
#include "loader_fixture.h"

using namespace modimg;

namespace {

using LoadXm = Loader;

xm_instrument one_sample_instrument(const std::vector<int> &values) {
  xm_instrument ins;
  ins.samples = {{uint32_t(values.size()), 0, 0, 64, 0, 0, 128, 0, xm_delta8(values)}};
  return ins;
}

// Zero flags, speed and tempo take the defaults (flag bit 1 is always set); a tracker name one
// space short of ModPlug's keeps FastTracker 2's rules (the rule modules hear what each selects).
// Orders beyond the 256-entry table are cut, a restart beyond the song is 0, orders naming missing
// patterns play one added empty one. A key off keeps its instrument; note 98, and a note with an
// instrument beyond the count, are cleared with their instrument.
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

// Envelope ticks start at 0 and never run back, values are held to 64, loops inside the points;
// missing samples play the silent one; a 16-bit sample drops its odd byte; loops are held inside
// the sample (the model check judges volumes, loops and maps on every load).
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

// Counts the file cannot hold, an absurd header size, and files cut inside their header or
// patterns are refused with the fault.
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

// A file that ends inside its instruments or their data loads what it holds and says so. Cut
// points counted from the end: two instruments of 100 and 50 data bytes, in the 1.04 and the older
// layouts (instruments before the patterns, all sample data last); a missing instrument is silent.
// Header sizes of 0 read as the usual 276 and 40; an instrument header of `size` bytes that ends
// after its map reads its samples where they lie, one that ends before its sample fields is empty.
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

}  // namespace
