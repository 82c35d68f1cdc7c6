// The IT importer: rules, held limits, the old instrument layout, compressed data the real ITs
// lack, damaged files (the message: test_module_calls). Valid cells and samples are heard.
#include "loader_fixture.h"

using namespace modimg;

namespace {

using LoadIt = Loader;

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
  s.channel_pan[2] = 100;  // surround
  MODUX *m = load(itw::build(s));
  ASSERT_NE(m, nullptr) << status_.message;
  // clang-format off
  expect_fields({{"rules", m->rules, RULE_IT_OLD_EFFECTS | RULE_IT_COMPAT_GXX | RULE_IT_INSTRUMENTS},
                 {"channels: up to the last one used", m->channel_count, 7}, {"second order", m->order_table[1], 0},
                 {"orders: 254 skipped, 255 ends", m->order_count, 2}, {"surround pan is centre", m->channel_pan[2], 128}});
  // clang-format on
}

// A keyboard naming a missing sample, envelope ticks that run back, loops beyond the points and
// a sustain loop ending before its start are held to the model's rules (the fixture's check); a
// sample pan of 128|16 is 64, switched on. The old layout, read only for files compatible with
// versions below 2.00, counts its fadeout against 512, holds its values to 64, has no default pan.
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
  expect_fields({{"missing sample", a.sample_map[5], -1}, {"tick held", a.pitch_env.tick[2], 8},
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

// The sample data the real ITs lack (stereo, the 2.15 compression, narrow blocks); their
// 8- and 16-bit, signed, unsigned and compressed mono samples are heard in the renders.
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
      itw::bytes b;  // stored plainly: signed little-endian words, one side after the other
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

TEST_F(LoadIt, DamagedFilesAreRefusedWithTheirFault) {
  const itw::bytes good = itw::build(base_song());
  const size_t tables = 192 + base_song().orders.size();  // instrument, sample, pattern offsets
  const size_t ins = good[tables] | good[tables + 1] << 8,
               smp = good[tables + 4] | good[tables + 5] << 8,
               pat = good[tables + 8] | good[tables + 9] << 8;
  // clang-format off
  refuses_each(good, {{"IT: file ends inside the header", 0, {}, 100},
                      {"IT: 300 orders, at most 256 are possible", 32, {0x2C, 1}},
                      {"IT: the pattern offset table runs past the end of the file", 38, {0xFF, 0}},
                      {"IT: instrument 1 at " + std::to_string(ins + (0x7Ful << 24)) + " lies past the end of the file", tables + 3, {0x7F}},
                      {"IT: instrument 1 has no IMPI signature", ins, {'X'}},
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

}  // namespace
