// The MUX writer against the engine's own reader: column streams coded both ways, note storage,
// whole modules of both families written and read back field by field, and refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "modux.h"
#include "muxwriter.h"

namespace {

class Allegro : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(install_allegro(SYSTEM_NONE, &errno, atexit), 0); }
};
const auto *const kAllegro = ::testing::AddGlobalTestEnvironment(new Allegro);

using Bytes = std::vector<uint8_t>;

// Reads an image with load_mux through a scratch file, as the game reads its datafile objects.
struct Loaded {
  MODUX *mod = nullptr;
  ~Loaded() { destroy_mod(mod); }
};
std::unique_ptr<Loaded> load_image(const Bytes &image) {
  std::string name = std::string("/tmp/test_muxwrite_") + std::string(6, 'X');  // mkstemp template
  std::vector<char> path(name.begin(), name.end() + 1);
  int fd = mkstemp(path.data());
  EXPECT_GE(fd, 0);
  FILE *f = fdopen(fd, "wb");
  std::fwrite(image.data(), 1, image.size(), f);
  std::fclose(f);
  auto out = std::make_unique<Loaded>();
  PACKFILE *pf = pack_fopen(path.data(), "rb");
  EXPECT_NE(pf, nullptr);
  out->mod = load_mux(pf);
  pack_fclose(pf);
  std::remove(path.data());
  EXPECT_NE(out->mod, nullptr) << modux_error;
  return out;
}

// ---- column streams ---------------------------------------------------------------------------

struct EncodeCase {
  const char *what;
  std::vector<uint32_t> values;
  int width;
  Bytes stream;
};

std::vector<uint32_t> repeat(uint32_t v, size_t n) { return std::vector<uint32_t>(n, v); }

Bytes literal_run(size_t n, uint8_t v) {
  Bytes b{uint8_t(0x80 | n)};
  b.insert(b.end(), n, v);
  return b;
}

TEST(MuxColumnStream, EncodesRunsAsTheLoaderReadsThem) {
  Bytes long_literal = literal_run(127, 9);
  Bytes tail = literal_run(3, 9);
  long_literal.insert(long_literal.end(), tail.begin(), tail.end());
  const EncodeCase cases[] = {
      {"nothing", {}, 1, {}},
      {"five empty cells", repeat(0, 5), 1, {0x05}},
      {"empty cells past one run", repeat(0, 300), 1, {127, 127, 46}},
      {"three values", {1, 2, 3}, 1, {0x83, 1, 2, 3}},
      {"empty cells then a value", {0, 0, 0, 5}, 1, {0x03, 0x81, 5}},
      {"a value then empty cells", {7, 0}, 1, {0x81, 7, 0x01}},
      {"a one-cell gap rides along", {5, 0, 6}, 1, {0x83, 5, 0, 6}},
      {"a two-cell gap rides along", {5, 0, 0, 6}, 1, {0x84, 5, 0, 0, 6}},
      {"a three-cell gap splits", {5, 0, 0, 0, 6}, 1, {0x81, 5, 0x03, 0x81, 6}},
      {"words: a one-cell gap rides along", {5, 0, 6}, 2, {0x83, 5, 0, 0, 0, 6, 0}},
      {"words: a two-cell gap splits", {5, 0, 0, 6}, 2, {0x81, 5, 0, 0x02, 0x81, 6, 0}},
      {"words are little-endian", {0x1234, 0xFFFF}, 2, {0x82, 0x34, 0x12, 0xFF, 0xFF}},
      {"values past one run", repeat(9, 130), 1, long_literal},
  };
  for (const EncodeCase &c : cases) {
    Bytes out;
    mux_encode_column(c.values.data(), c.values.size(), c.width, out);
    EXPECT_EQ(out, c.stream) << c.what;
  }
}

// A module of one channel and `rows` rows whose cells are all empty: its last bytes are the
// pattern's row count and five one-byte streams, which a test replaces with its own.
MODUX one_channel_module(PATTERN_INFO &pattern, std::vector<NOTE_INFO> &cells, int rows) {
  MODUX m{};
  m.channel_count = 1;
  m.pattern_count = 1;
  m.order_count = 1;
  m.initial_speed = 6;
  m.initial_tempo = 125;
  m.initial_global_volume = 64;
  cells.assign(size_t(rows), NOTE_INFO{});
  pattern.notes = cells.data();
  pattern.row_count = rows;
  m.patterns = &pattern;
  return m;
}

struct DecodeCase {
  const char *what;
  Bytes volume_stream;  // byte column, stored unchanged
  Bytes param_stream;   // word column
  std::vector<int> volumes, params;
};

TEST(MuxColumnStream, LoaderDecodesHandWrittenStreams) {
  const DecodeCase cases[] = {
      {"skips only", {0x04}, {0x04}, {0, 0, 0, 0}, {0, 0, 0, 0}},
      {"values then a skip", {0x82, 7, 8, 0x02}, {0x01, 0x83, 1, 0, 2, 0, 3, 0}, {7, 8, 0, 0}, {0, 1, 2, 3}},
      {"control bytes that move nothing", {0x80, 0x00, 0x81, 5, 0x80, 0x03}, {0x00, 0x84, 0x34, 0x12, 0, 0, 0xFF, 0xFF, 1, 0},
       {5, 0, 0, 0}, {0x1234, 0, 0xFFFF, 1}},
      {"a literal zero", {0x84, 0, 9, 0, 9}, {0x04}, {0, 9, 0, 9}, {0, 0, 0, 0}},
  };
  for (const DecodeCase &c : cases) {
    PATTERN_INFO pattern;
    std::vector<NOTE_INFO> cells;
    MODUX m = one_channel_module(pattern, cells, 4);
    Bytes image;
    ASSERT_EQ(build_mux(m, image), "");
    image.resize(image.size() - 5);  // keep the row count, drop the five empty streams
    Bytes streams = {0x04, 0x04};     // note, sample
    streams.insert(streams.end(), c.volume_stream.begin(), c.volume_stream.end());
    streams.push_back(0x04);          // command
    streams.insert(streams.end(), c.param_stream.begin(), c.param_stream.end());
    image.insert(image.end(), streams.begin(), streams.end());
    auto loaded = load_image(image);
    ASSERT_NE(loaded->mod, nullptr);
    const PATTERN_INFO &p = loaded->mod->patterns[0];
    ASSERT_EQ(p.row_count, 4) << c.what;
    for (int r = 0; r < 4; r++) {
      EXPECT_EQ(p.notes[r].volume, c.volumes[size_t(r)]) << c.what << " row " << r;
      EXPECT_EQ(p.notes[r].param, c.params[size_t(r)]) << c.what << " row " << r;
      EXPECT_EQ(p.notes[r].note, 0) << c.what;
    }
  }
}

// ---- notes --------------------------------------------------------------------------------

TEST(MuxNotes, StoredFormOfNotes) {
  struct Case {
    int flags, note;
    uint32_t stored;
  } cases[] = {
      {0, 8363, 428},    {0, 2090, 1712},  {0, 0, 0},        {0, -1, 0xFFFF}, {0, -2, 0xFFFE},
      {0, 3579546, 1},   {0, 109, 32767},  {MODUX_XM, 49, 49}, {MODUX_XM, -2, 0xFE},
      {MODUX_XM | MODUX_LINEAR, 97, 97},
  };
  for (const Case &c : cases) {
    uint32_t stored = 0;
    EXPECT_EQ(mux_store_note(c.flags, c.note, stored), "") << c.note;
    EXPECT_EQ(stored, c.stored) << c.note;
  }
}

TEST(MuxNotes, RefusesNotesWithoutAStoredForm) {
  struct Case {
    int flags, note;
  } cases[] = {{0, 108}, {0, 3579547}, {0, 2000000}, {0, -40000}, {MODUX_XM, 128}, {MODUX_XM, -129}};
  for (const Case &c : cases) {
    uint32_t stored = 0;
    EXPECT_NE(mux_store_note(c.flags, c.note, stored), "") << c.note;
  }
}

TEST(MuxNotes, EveryPeriodsFrequencyIsStoredAsAPeriodThatReadsBackTheSame) {
  for (long w = 1; w <= 32767; w++) {
    int note = int(3579546 / w);
    uint32_t stored = 0;
    ASSERT_EQ(mux_store_note(0, note, stored), "") << w;
    ASSERT_GE(stored, 1u);
    ASSERT_LE(stored, 32767u);
    ASSERT_EQ(3579546 / long(stored), note) << w;
  }
}

// ---- whole modules --------------------------------------------------------------------------

// A module that fills every field the format holds, with owned storage.
struct Fixture {
  MODUX mod{};
  std::vector<SAMPLE_INFO> info;
  std::vector<SAMPLE> samples;
  std::vector<std::vector<uint8_t>> data;
  std::vector<INSTRUMENT_INFO> instruments;
  std::vector<PATTERN_INFO> patterns;
  std::vector<std::vector<NOTE_INFO>> cells;

  explicit Fixture(int flags) {
    std::memcpy(mod.name, "A name that uses 28 letters!", 28);
    mod.flags = flags;
    mod.channel_count = 3;
    for (int c = 0; c < 3; c++) mod.channel_pan[c] = 40 + 80 * c;
    mod.order_count = 4;
    const int order[] = {0, 1, 1, 0};
    for (int i = 0; i < 4; i++) mod.order_table[i] = order[i];
    mod.initial_speed = 5;
    mod.initial_tempo = 137;
    mod.initial_global_volume = 48;
    mod.restart_order = 2;

    // An 8-bit looped sample, a 16-bit one and an empty one.
    info.resize(3);
    samples.resize(3);
    data.resize(3);
    for (int i = 0; i < 2; i++) {
      int bits = i == 0 ? 8 : 16;
      int len = 100 + 37 * i;
      data[size_t(i)].resize(size_t(len * bits / 8));
      for (size_t k = 0; k < data[size_t(i)].size(); k++) data[size_t(i)][k] = uint8_t(k * 7 + i);
      SAMPLE_INFO &si = info[size_t(i)];
      si.length = len;
      si.tuning = i == 0 ? 8363 : 33452;
      si.relative_note = i == 0 ? -12 : 7;
      si.volume = 50 + i;
      si.pan = 100 + i;
      si.loop_start = 10 + i;
      si.loop_end = len - i;
      si.loop_flags = i == 0 ? 1 : 2;
      si.vibrato_type = 1 + i;
      si.vibrato_sweep = 20;
      si.vibrato_depth = 3;
      si.vibrato_rate = 9;
      SAMPLE &s = samples[size_t(i)];
      s.bits = bits;
      s.len = (unsigned long)len;
      s.loop_start = (unsigned long)si.loop_start;
      s.loop_end = (unsigned long)si.loop_end;
      s.data = data[size_t(i)].data();
    }
    mod.sample_count = 3;
    mod.sample_info = info.data();
    mod.samples = samples.data();

    if (flags & MODUX_XM) {
      instruments.resize(2);
      for (int i = 0; i < 2; i++) {
        INSTRUMENT_INFO &ins = instruments[size_t(i)];
        for (int n = 0; n < MODUX_NOTE_MAP; n++) ins.sample_map[n] = (n + i) % 3;
        for (int p = 0; p < MODUX_ENVELOPE_POINTS; p++) {
          ins.vol_env_tick[p] = p * 10 + i;
          ins.vol_env_value[p] = 64 - p * 5;
          ins.pan_env_tick[p] = p * 7;
          ins.pan_env_value[p] = 32 + p - i;
        }
        ins.vol_env_points = 6;
        ins.vol_env_flags = 7;
        ins.vol_env_sustain_start = ins.vol_env_sustain_end = 2;
        ins.vol_env_loop_start = 1;
        ins.vol_env_loop_end = 4;
        ins.pan_env_points = 3;
        ins.pan_env_flags = 1;
        ins.pan_env_sustain_start = ins.pan_env_sustain_end = 1;
        ins.pan_env_loop_start = 0;
        ins.pan_env_loop_end = 2;
        ins.fadeout = 1024 + i;
      }
      mod.instrument_count = 2;
      mod.instruments = instruments.data();
    }

    // Cells: a mix of empty stretches and busy ones, note commands and wide parameters.
    const int periods[] = {428, 856, 1712, 113, 3424, 6848, 57};
    patterns.resize(2);
    cells.resize(2);
    for (int p = 0; p < 2; p++) {
      int rows = p == 0 ? 64 : 200;
      cells[size_t(p)].assign(size_t(rows * 3), NOTE_INFO{});
      for (int r = 0; r < rows; r++)
        for (int c = 0; c < 3; c++) {
          NOTE_INFO &n = cells[size_t(p)][size_t(r * 3 + c)];
          int k = r * 3 + c + p;
          if (k % 5 == 0) {
            n.note = (flags & MODUX_XM) ? 1 + k % 96 : int(3579546 / periods[k % 7]);
            n.sample = 1 + k % ((flags & MODUX_XM) ? 2 : 3);  // XM cells name instruments
          }
          if (k % 23 == 0) n.note = -1 - k % 2;
          if (k % 4 == 1) n.volume = 0x10 + k % 65;
          if (k % 3 == 0 || r > 150) {
            n.command = k % 40;
            n.param = (k * 977) & 0xFFFF;
          }
        }
      patterns[size_t(p)].notes = cells[size_t(p)].data();
      patterns[size_t(p)].row_count = rows;
    }
    mod.pattern_count = 2;
    mod.patterns = patterns.data();
  }
};

void expect_same(const MODUX &a, const MODUX &b) {
  EXPECT_EQ(std::memcmp(a.name, b.name, 28), 0);
  EXPECT_EQ(b.name[28], 0);
  EXPECT_EQ(a.order_count, b.order_count);
  EXPECT_EQ(a.pattern_count, b.pattern_count);
  EXPECT_EQ(a.channel_count, b.channel_count);
  EXPECT_EQ(a.instrument_count, b.instrument_count);
  EXPECT_EQ(a.sample_count, b.sample_count);
  EXPECT_EQ(a.initial_speed, b.initial_speed);
  EXPECT_EQ(a.initial_tempo, b.initial_tempo);
  EXPECT_EQ(a.initial_global_volume, b.initial_global_volume);
  EXPECT_EQ(a.restart_order, b.restart_order);
  EXPECT_EQ(a.flags, b.flags);
  for (int i = 0; i < a.order_count; i++) EXPECT_EQ(a.order_table[i], b.order_table[i]) << "order " << i;
  for (int c = 0; c < a.channel_count; c++) EXPECT_EQ(a.channel_pan[c], b.channel_pan[c]) << "channel " << c;
  for (int i = 0; i < a.sample_count; i++) {
    const SAMPLE_INFO &x = a.sample_info[i], &y = b.sample_info[i];
    EXPECT_EQ(std::memcmp(&x, &y, sizeof x), 0) << "sample info " << i;
    EXPECT_EQ(b.samples[i].len, (unsigned long)x.length);
    if (x.length == 0) continue;
    EXPECT_EQ(b.samples[i].bits, a.samples[i].bits) << "sample " << i;
    EXPECT_EQ(b.samples[i].loop_start, a.samples[i].loop_start);
    EXPECT_EQ(b.samples[i].loop_end, a.samples[i].loop_end);
    EXPECT_EQ(std::memcmp(a.samples[i].data, b.samples[i].data, size_t(x.length) * size_t(a.samples[i].bits / 8)), 0)
        << "sample data " << i;
  }
  for (int i = 0; i < a.instrument_count; i++)
    EXPECT_EQ(std::memcmp(&a.instruments[i], &b.instruments[i], sizeof(INSTRUMENT_INFO)), 0) << "instrument " << i;
  for (int p = 0; p < a.pattern_count; p++) {
    ASSERT_EQ(a.patterns[p].row_count, b.patterns[p].row_count) << "pattern " << p;
    for (int k = 0; k < a.patterns[p].row_count * a.channel_count; k++) {
      const NOTE_INFO &x = a.patterns[p].notes[k], &y = b.patterns[p].notes[k];
      ASSERT_TRUE(x.note == y.note && x.sample == y.sample && x.volume == y.volume && x.command == y.command &&
                  x.param == y.param)
          << "pattern " << p << " cell " << k << ": wrote " << x.note << "/" << x.sample << "/" << x.volume << "/"
          << x.command << "/" << x.param << ", read " << y.note << "/" << y.sample << "/" << y.volume << "/"
          << y.command << "/" << y.param;
    }
  }
}

TEST(MuxRoundTrip, EveryFieldComesBackThroughLoadMux) {
  for (int flags : {0, MODUX_XM | MODUX_AMIGA, MODUX_XM | MODUX_LINEAR}) {
    SCOPED_TRACE(flags);
    Fixture fx(flags);
    Bytes image;
    ASSERT_EQ(build_mux(fx.mod, image), "");
    ASSERT_EQ(std::memcmp(image.data(), MUX_MAGIC, MUX_MAGIC_SIZE), 0);
    auto loaded = load_image(image);
    ASSERT_NE(loaded->mod, nullptr);
    expect_same(fx.mod, *loaded->mod);

    // What was read writes back to the very same bytes.
    Bytes again;
    ASSERT_EQ(build_mux(*loaded->mod, again), "");
    EXPECT_EQ(again, image);
  }
}

TEST(MuxRoundTrip, WrittenFileIsRecognisedAndNamed) {
  Fixture fx(0);
  std::string name = std::string("/tmp/test_muxwrite_") + std::string(6, 'X');  // mkstemp template
  std::vector<char> path(name.begin(), name.end() + 1);
  int fd = mkstemp(path.data());
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(write_mux(path.data(), fx.mod), "");
  EXPECT_EQ(detect_mux(path.data()), 1);
  MODFILE_INFO info{};
  EXPECT_EQ(get_mod_info(path.data(), &info), 1);
  EXPECT_EQ(info.type, 6);
  EXPECT_EQ(std::string(info.name), "A name that uses 28 letters!");
  std::remove(path.data());
  EXPECT_NE(write_mux("/nonexistent-dir/x.mux", fx.mod), "");
}

TEST(MuxRefusals, FieldsTheFormatCannotHold) {
  struct Case {
    const char *what;
    void (*spoil)(Fixture &);
    const char *message;
  } cases[] = {
      {"65 channels", [](Fixture &f) { f.mod.channel_count = 65; }, "channel_count"},
      {"order entry past a byte", [](Fixture &f) { f.mod.order_table[1] = 256; }, "order 1"},
      {"pan past a byte", [](Fixture &f) { f.mod.channel_pan[2] = 300; }, "channel 2"},
      {"negative tempo", [](Fixture &f) { f.mod.initial_tempo = -1; }, "initial_tempo"},
      {"note frequency without a period", [](Fixture &f) { f.cells[0][0].note = 2000000; }, "note frequency"},
      {"volume column past a byte", [](Fixture &f) { f.cells[1][7].volume = 256; }, "volume"},
      {"param past a word", [](Fixture &f) { f.cells[1][8].param = 70000; }, "param"},
      {"tuning past a word", [](Fixture &f) { f.info[1].tuning = 70000; }, "tuning"},
      {"relative note past a signed byte", [](Fixture &f) { f.info[0].relative_note = 200; }, "relative_note"},
      {"12-bit sample", [](Fixture &f) { f.samples[0].bits = 12; }, "bits"},
      {"lengths that disagree", [](Fixture &f) { f.samples[1].len = 5; }, "differs"},
      {"settings on an empty sample", [](Fixture &f) { f.info[2].volume = 64; }, "empty sample"},
      {"missing sample data", [](Fixture &f) { f.samples[0].data = nullptr; }, "no sample data"},
  };
  for (const auto &c : cases) {
    Fixture fx(0);
    c.spoil(fx);
    Bytes image;
    std::string err = build_mux(fx.mod, image);
    EXPECT_NE(err.find(c.message), std::string::npos) << c.what << ": " << err;
  }
  Fixture xm(MODUX_XM | MODUX_LINEAR);
  xm.instruments[1].vol_env_sustain_end = 3;
  Bytes image;
  EXPECT_NE(build_mux(xm.mod, image).find("single sustain point"), std::string::npos);
  xm.instruments[1].vol_env_sustain_end = 2;
  xm.cells[0][0].note = 300;
  EXPECT_NE(build_mux(xm.mod, image).find("XM note"), std::string::npos);
}

}  // namespace
