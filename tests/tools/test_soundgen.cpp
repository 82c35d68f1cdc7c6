// The sound generator: song text and its mistakes, song length, periods for the arpeggios,
// synthesis of instruments and effects, and the game's real sound sources as sounds.dat holds them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "modbuild.h"
#include "modux_internal.h"
#include "song.h"
#include "soundbank.h"
#include "source.h"
#include "synth.h"

namespace {

using sound::Song;
const std::set<std::string> kInstruments = {"lead", "other", "kick"};
const std::string kSources = VORBEL_SOUND_SOURCES;

// A one-channel song around one channel line.
std::string one_channel(const std::string &line, int rows, const std::string &extra = "") {
  return "song \"t\"\nchannel a inst=lead\nkit k kick\n" + extra + "pattern p " +
         std::to_string(rows) + "\na: " + line + "\norder p\n";
}

// Runs `read` and expects it to throw a SourceError whose message holds `message`; returns it.
template <class F>
std::string refusal(F read, const std::string &message, const std::string &what) {
  try {
    read();
    ADD_FAILURE() << "accepted: " << what;
  } catch (const sound::SourceError &e) {
    EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    return e.what();
  }
  return "";
}

TEST(SongText, EventsBecomeCells) {
  const int N = -99, C4 = 0, D4 = 2, C5 = 12, E5 = 16;
  struct Cell {
    int row, pitch, instrument, volume, command, param;
  };  // N: no note, no command
  // Each line of `rows` rows gives these cells; every other row is empty.
  // clang-format off
  const struct { const char *line; int rows; std::vector<Cell> cells; const char *extra; } cases[] = {
      {"C4:2 D4:2", 4, {{0, C4, 0, 0, N, 0}, {2, D4, 0, 0, N, 0}}, ""},
      {":2 C4 D4", 4, {{0, C4, 0, 0, N, 0}, {2, D4, 0, 0, N, 0}}, ""},
      {"C5:3~42", 3, {{0, C5, 0, 0, N, 0}, {1, N, -1, 0, 4, 0x42}, {2, N, -1, 0, 4, 0x42}}, ""},
      {"C5:2&37", 2, {{0, C5, 0, 0, 0, 0x37}, {1, N, -1, 0, 0, 0x37}}, ""},
      {"C5:2 E5:2>08", 4, {{0, C5, 0, 0, N, 0}, {2, E5, -1, 0, 3, 0x08}, {3, N, -1, 0, 3, 0}}, ""},
      {"C5:3%01", 3, {{0, C5, 0, 0, N, 0}, {1, N, -1, 0, 10, 1}, {2, N, -1, 0, 10, 1}}, ""},
      {".:2%02", 2, {{0, N, -1, 0, 10, 2}, {1, N, -1, 0, 10, 2}}, ""},
      {"C5:3~41%02", 3, {{0, C5, 0, 0, N, 0}, {1, N, -1, 0, 4, 0x41}, {2, N, -1, 0, 6, 2}}, ""},
      {"C5:2/04", 2, {{0, C5, 0, 0, 1, 4}, {1, N, -1, 0, 1, 4}}, ""},
      {"C5:2\\0a", 2, {{0, C5, 0, 0, 2, 10}, {1, N, -1, 0, 2, 10}}, ""},
      {"C5@40 .:3", 4, {{0, C5, 0, 0x10 + 40, N, 0}}, ""},
      {".!F03 .:3", 4, {{0, N, -1, 0, 15, 3}}, ""},
      {"C5!EC2 .", 2, {{0, C5, 0, 0, 14, 0xC2}}, ""},
      {"(C4 D4)*2", 4, {{0, C4, 0, 0, N, 0}, {1, D4, 0, 0, N, 0}, {2, C4, 0, 0, N, 0}, {3, D4, 0, 0, N, 0}}, ""},
      {"$p+2 $p*2", 6, {{0, D4, 0, 0, N, 0}, {2, C4, 0, 0, N, 0}, {4, C4, 0, 0, N, 0}}, "phrase p: C4:2\n"},
      {"k:2 [other] C4", 3, {{0, C5, 1, 0, N, 0}, {2, C4, 2, 0, N, 0}}, ""},
      // clang-format on
  };
  for (const auto &c : cases) {
    std::vector<sound::SongCell> got =
        sound::parse_song("t.song", one_channel(c.line, c.rows, c.extra), kInstruments)
            .patterns.at(0)
            .cells;
    ASSERT_EQ(int(got.size()), c.rows) << c.line;
    std::vector<Cell> want(size_t(c.rows));
    for (int r = 0; r < c.rows; r++) want[size_t(r)] = {r, N, -1, 0, N, 0};
    for (const Cell &e : c.cells) want[size_t(e.row)] = e;
    for (const Cell &w : want) {
      const sound::SongCell &g = got[size_t(w.row)];
      EXPECT_EQ(std::make_tuple(g.has_note ? g.pitch : N, g.instrument, g.volume,
                                g.has_command ? g.command : N, g.has_command ? g.param : 0, g.cut),
                std::make_tuple(w.pitch, w.instrument, w.volume, w.command, w.param, false))
          << c.line << " row " << w.row;
    }
  }
}

TEST(SongText, CutsContinuationLinesAndInstrumentOrder) {
  Song s = sound::parse_song("t.song",
                             "song \"Two\"\ntempo 150\nspeed 3\nchannel a inst=other pan=10\n"
                             "channel b\npattern p 4\na: C4 ^ .\n   D4\nb: [lead] C4:4\n"
                             "order p p\nrestart 1\n",
                             kInstruments);
  EXPECT_EQ(std::make_tuple(s.name, s.tempo, s.speed, s.restart, s.order.size()),
            std::make_tuple("Two", 150, 3, 1, size_t(2)));
  ASSERT_EQ(s.channels.size(), 2u);
  EXPECT_EQ(std::make_pair(s.channels[0].pan, s.channels[1].pan), std::make_pair(10, 128));
  // Instruments are numbered by first use: the pattern's channel a starts with "other".
  EXPECT_EQ(s.instruments, (std::vector<std::string>{"other", "lead"}));
  const auto &c = s.patterns[0].cells;  // two channels a row
  EXPECT_TRUE(c[1 * 2].cut);
  EXPECT_TRUE(c[3 * 2].has_note && c[3 * 2].pitch == 2);  // the indented line went on with a
  EXPECT_EQ(c[0 * 2 + 1].instrument, 1);
}

TEST(SongText, MistakesAreReportedWithTheirLine) {
  const std::string plain = "song \"t\"\nchannel a inst=lead\npattern p 4\n";
  // clang-format off
  const struct { std::string text; const char *message; int line; } cases[] = {
      {one_channel("C4:3", 4), "has 3 rows, the pattern has 4", 5},
      {one_channel("$nope", 4), "unknown phrase", 5},
      {one_channel("C5:2&37!F03", 2), "two effects", 5},
      {one_channel("C4:3 | C4:1", 4, "bar 4\n"), "bar line", 6},
      {one_channel("H4:4", 4), "is not a note", 5},
      {one_channel("C8:4", 4), "outside C1 to B7", 5},
      {one_channel("k:4>04", 4), "a drum cannot slide", 5},
      {one_channel("[flute] C4:4", 4), "unknown instrument", 5},
      {one_channel("$a", 4, "phrase a: $a\n"), "nest too deeply", 4},
      {one_channel("C4:4~4", 4), "two hex digits", 5},
      {one_channel("C4:99999999999", 4), "length of 1 to 256 rows", 5},
      {one_channel("$p+99999999999", 4, "phrase p: C4:4\n"), "transpose", 6},
      {one_channel("(C4:4", 4), "'(' without ')'", 5},
      {one_channel("C4:4", 4, "tempo 20\n"), "whole number of 33 to 255", 4},
      {"song \"t\"\nchannel a\npattern p 4\na: C4:4\norder p\n", "no instrument yet", 4},
      {plain + "order q\n", "unknown pattern 'q'", 4},
      {plain + "order p\nrestart 1\n", "restart", 1},
      {"song \"t\"\nchannel a inst=lead\nwobble 3\n", "unknown statement", 3},
      {"song \"t\"\n   C4\n", "continues a channel or phrase line", 2},
      {"song \"a name much longer than twenty-eight\"\n", "more than 28", 1},
      // clang-format on
  };
  for (const auto &c : cases) {
    std::string msg =
        refusal([&] { sound::parse_song("t.song", c.text, kInstruments); }, c.message, c.text);
    EXPECT_EQ(msg.rfind("t.song:" + std::to_string(c.line) + ":", 0), 0u) << msg;
  }
}

// A real song cut short anywhere or with characters overwritten either still reads or is
// refused with a SourceError; nothing else escapes and nothing crashes.
TEST(SongText, DamagedSongsAreReadOrRefused) {
  std::string text = sound::read_file(kSources + "/title.song");
  std::set<std::string> names;
  for (const auto &entry :
       sound::parse_instruments("instruments.txt", sound::read_file(kSources + "/instruments.txt")))
    names.insert(entry.first);
  std::mt19937 rng(1234);
  const std::string alphabet = " \n:.()|$#*+-~&/\\>%!@^[]=\"0123456789ABCDEFGabcdefhkosz";
  int refused = 0;
  for (int n = 0; n < 400; n++) {
    std::string damaged = text;
    if (n % 2 == 0) damaged.resize(rng() % text.size());
    for (int k = 0; n % 2 && k < 1 + n % 7; k++)
      damaged[rng() % damaged.size()] = alphabet[rng() % alphabet.size()];
    try {
      sound::song_seconds(sound::parse_song("title.song", damaged, names));
    } catch (const sound::SourceError &) {
      refused++;
    }
  }
  EXPECT_GT(refused, 0);
}

TEST(SongText, LengthFollowsSpeedTempoAndDelays) {
  const std::pair<const char *, double> cases[] = {
      {".:64", 64 * 6 * 2.5 / 125},
      {".!F03 .:63", 64 * 3 * 2.5 / 125},
      {".!F96 .:63", 64 * 6 * 2.5 / 150},
      {".:32 .!F0C .:31", 32 * 6 * 2.5 / 125 + 32 * 12 * 2.5 / 125},
      {".!EE2 .:63", 66 * 6 * 2.5 / 125}};
  for (const auto &[line, seconds] : cases)
    EXPECT_NEAR(
        sound::song_seconds(sound::parse_song("t.song", one_channel(line, 64), kInstruments)),
        seconds, 1e-9)
        << line;
}

// The engine's arpeggio searches its semitone table for the note it plays: every note the songs
// can give a chip instrument must land there on itself, or arpeggios come out a semitone off.
TEST(Periods, TrackerTableAndArpeggiosLandOnTheIntendedSemitones) {
  const std::pair<int, int> table[] = {{0, 856},    {12, 428},   {9, 508},    {47, 57},
                                       {-36, 6848}, {-24, 3424}, {-25, 3628}, {24, 214}};
  for (const auto &[pitch, period] : table) EXPECT_EQ(sound::amiga_period(pitch), period) << pitch;
  mi.flags = 0;
  for (int tuning : {16726, 33452}) {
    int lowest = tuning == 16726 ? -24 : -36;  // the table starts at C2 (C1 for 64-frame cycles)
    for (int pitch = lowest; pitch + 12 <= sound::kHighestPitch; pitch++) {
      int period = note2period(sound::note_frequency(pitch), tuning);
      for (int n : {3, 4, 7, 12}) {
        int target = note2period(sound::note_frequency(pitch + n), tuning);
        // Within half a semitone: the right note, whatever the rounding of tiny periods.
        EXPECT_NEAR(find_lower_period(period, n), target, target * 0.03)
            << tuning << " " << pitch << " +" << n;
      }
    }
  }
}

sound::InstrumentSample render(const std::string &text) {
  auto all = sound::parse_instruments("i.txt", text);
  EXPECT_EQ(all.size(), 1u);
  return sound::render_instrument(all.begin()->second, "i.txt");
}

int peak(const std::vector<int16_t> &f, size_t from = 0, size_t to = SIZE_MAX) {
  int p = 0;
  for (size_t i = from; i < f.size() && i < to; i++) p = std::max(p, std::abs(int(f[i])));
  return p;
}

// Upward zero crossings over [from, to), the wave taken as repeating (to wraps to from).
int rising_crossings(const std::vector<int16_t> &f, size_t from, size_t to) {
  int n = 0;
  for (size_t i = from; i < to; i++) n += f[i] < 0 && f[i + 1 < to ? i + 1 : from] >= 0;
  return n;
}

TEST(Synth, PitchedInstrumentsHoldTheirPitchAndLoopSeamlessly) {
  auto s = render(
      "instrument s\n  cycle 32\n  loop 8\n  volume 33\n  peak 0.5\n"
      "  voice wave=sine attack=0.01 decay=0.1 sustain=0.6\n");
  // C5 plays it at its own rate; the loop holds 8 cycles and ends the sample.
  EXPECT_EQ(std::make_tuple(s.tuning, s.volume, s.loop_end - s.loop_start, size_t(s.loop_end)),
            std::make_tuple(16726, 33, 8 * 32, s.frames.size()));
  EXPECT_GE(s.loop_start, int(0.11 * 16726));  // after the envelope has settled
  EXPECT_EQ(peak(s.frames), int(std::lround(0.5 * 32767)));
  EXPECT_EQ(rising_crossings(s.frames, size_t(s.loop_start), size_t(s.loop_end)), 8);
  // The jump from the loop's end back to its start is one ordinary step of the wave.
  int jump = std::abs(s.frames[size_t(s.loop_start)] - s.frames[size_t(s.loop_end - 1)]);
  int step = std::abs(s.frames[size_t(s.loop_start + 1)] - s.frames[size_t(s.loop_start)]);
  EXPECT_LE(jump, step * 2 + 200);

  // A home note sets the timing, not the tuning: two octaves down the sample plays four times
  // slower, so it holds a quarter of the frames, still 64 frames a cycle.
  const std::string voice = "  voice wave=triangle attack=0.001 decay=0.2 sustain=0\n";
  auto a = render("instrument b\n  cycle 64\n" + voice);
  auto b = render("instrument b\n  cycle 64\n  home C3\n" + voice);
  EXPECT_EQ(std::make_tuple(a.tuning, b.tuning, a.loop_end), std::make_tuple(33452, 33452, 0));
  EXPECT_NEAR(double(b.frames.size()) / double(a.frames.size()), 0.25, 0.01);
  size_t span = size_t(0.1 * 33452 / 4);
  EXPECT_NEAR(rising_crossings(b.frames, 0, span), int(span / 64), 1);
}

TEST(Synth, OneShotsDecayToSilenceAndEffectsLastAsWritten) {
  auto kick = render(
      "instrument k\n  rate 33452\n  voice wave=sine freq=170->48 glide=0.09 decay=0.2 "
      "sustain=0\n");
  EXPECT_EQ(kick.tuning, 33452);
  EXPECT_NEAR(double(kick.frames.size()) / 33452, 0.202, 0.002);
  EXPECT_GT(peak(kick.frames, 0, 2000), 10000);
  EXPECT_LT(peak(kick.frames, kick.frames.size() - 300), 400);
  EXPECT_EQ(kick.frames.back(), 0);

  auto fx = sound::parse_effects(
      "e.txt",
      "effect 3 two\n  rate 22050\n  peak 0.6\n"
      "  voice wave=sine notes=A4,A5 step=0.1 attack=0.001 decay=0.05 sustain=0.8\n");
  ASSERT_EQ(fx.size(), 1u);
  EXPECT_EQ(fx[0].number, 3);
  auto s = sound::render_effect(fx[0], "e.txt");
  EXPECT_EQ(s.rate, 22050);
  EXPECT_NEAR(double(s.frames.size()) / 22050, 0.2, 0.001);
  EXPECT_EQ(peak(s.frames), int(std::lround(0.6 * 32767)));
  EXPECT_NEAR(rising_crossings(s.frames, 100, 2205), 440 * 0.095, 2);  // A4 for the first step
  EXPECT_NEAR(rising_crossings(s.frames, 2300, 4300), 880 * 2000 / 22050.0, 2);  // then A5
}

TEST(Synth, RefusesWhatCannotBeRendered) {
  const std::string x = "instrument x\n  cycle 32\n";
  const std::pair<std::string, const char *> cases[] = {
      // clang-format off
      {x + "  voice wave=buzz\n", "unknown wave"},
      {x + "  voice wave=pulse duty=1.5 len=1\n", "duty must lie"},
      {x + "  voice wave=pulse colour=red len=1\n", "unknown voice setting"},
      {"instrument x\n  cycle 24\n  voice len=1\n", "cycle must be"},
      {"instrument x\n  voice len=1\n", "either cycle"},
      {x + "  loop 8\n  voice ratio=1.3\n", "does not repeat within the loop"},
      {x + "  loop 8\n  voice vib=5 vibdepth=1\n", "vibrato cannot be baked"},
      {x + "  voice freq=440 len=1\n", "take ratio="},
      {"instrument x\n  rate 20000\n  voice wave=sine len=1\n", "needs freq="},
      {x + "  voice wave=pulse len=1 gain\n", "key=value"},
      {"  cycle 32\n", "to start a block"},
      {x + "  loop 8\n  voice wave=noise sustain=0.5\n", "does not repeat seamlessly"},
      {x + "  voice wave=pulse sustain=0.5\n", "plays once"},
      {x + "  loop 8\n  voice wave=pulse len=0.1\n", "needs a voice without len"},
      {x + "  envelope 2:64,4:0\n  voice len=1\n", "start at 0 and rise"},
      {x + "  envelope 0:64,4:65\n  voice len=1\n", "envelope level"},
      {x + "  envelope 0:64;4:0\n  voice len=1\n", "must be a number"},
      {x + "  envelope 0:64,4:0\n  envsustain 2\n  voice len=1\n", "beyond its points"},
      {x + "  envelope 0:64,4:0\n  envloop 1-0\n  voice len=1\n", "runs backwards"},
      {x + "  fadeout 100\n  voice len=1\n", "need an envelope"},
      // clang-format on
  };
  for (const auto &[text, message] : cases)
    refusal(
        [&] {
          for (auto &entry : sound::parse_instruments("i.txt", text))
            sound::render_instrument(entry.second, "i.txt");
        },
        message, text);
}

// An XM-family song plays each sample at its MOD-family rate on C5: relative note and finetune
// from the rate, notes from the pitch (envelopes are heard by tests/render/envelope.sh).
TEST(XmSongs, TuningAndNotes) {
  const int cases[][3] = {
      {8363, 0, 128}, {16726, 12, 128}, {33452, 24, 128}, {11025, 4, 228}, {8000, -1, 158}};
  for (const auto &c : cases) {
    int relative = 99, tuning = 0;
    sound::xm_tuning(c[0], relative, tuning);
    EXPECT_EQ(std::make_pair(relative, tuning), std::make_pair(c[1], c[2])) << c[0];
  }
  EXPECT_EQ(sound::xm_note(0), 37);   // C4: XM's C-3 ...
  EXPECT_EQ(sound::xm_note(12), 49);  // ... so C5 is C-4, 8363 Hz at finetune 0
}

class SoundBank : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    bank_ = std::make_unique<sound::SoundBank>(sound::build_bank(kSources));
  }
  static std::unique_ptr<sound::SoundBank> bank_;
};
std::unique_ptr<sound::SoundBank> SoundBank::bank_;

TEST_F(SoundBank, EffectsSuitTheirEvents) {
  // Sounds heard many times a second (button 1, ball 4, name-entry key 9) stay short.
  const double kLongest[10] = {HUGE_VAL, 0.1, 2, 2, 0.1, 2, 2, HUGE_VAL, 2, 0.1};
  const auto &fx = bank_->effect_samples;
  auto seconds = [&](size_t i) { return double(fx[i].frames.size()) / fx[i].rate; };
  ASSERT_EQ(fx.size(), 10u);
  for (size_t i = 0; i < 10; i++) {
    const auto &f = fx[i].frames;
    SCOPED_TRACE(bank_->effects[i].name);
    EXPECT_GT(peak(f), 32767 / 4);         // clearly audible
    EXPECT_LE(peak(f), int(0.8 * 32767));  // with headroom for the music under it
    EXPECT_LT(std::abs(f.back()), 16);     // ends without a click
    EXPECT_LT(seconds(i), kLongest[i]);
  }
  // The life-lost ones take their time, and game over longer still than being caught.
  EXPECT_GT(seconds(0), 0.6);
  EXPECT_GT(seconds(7), seconds(0));
}

TEST_F(SoundBank, SongsAreMinuteLongLoopingPieces) {
  ASSERT_EQ(bank_->songs.size(), 5u);
  EXPECT_EQ(bank_->song_entries[0].name, "title");
  std::set<int> tempos;
  for (const Song &song : bank_->songs) {
    SCOPED_TRACE(song.name);
    EXPECT_TRUE(song.channels.size() >= 4 && song.channels.size() <= 16);  // the game has 16
    EXPECT_GE(sound::song_seconds(song), 60.0);
    EXPECT_LT(song.restart, int(song.order.size()));
    tempos.insert(song.tempo);
  }
  EXPECT_GE(tempos.size(), 4u) << "the songs should not all move at one pace";
}

// sounds.dat as the game loads it: ten samples, then the five songs through the engine's MUX
// type (the samples' tuning the synth tests check, what the engine plays test_songs_played).
TEST_F(SoundBank, SoundsDatLoadsAsTheGameLoadsIt) {
  std::string path = "/tmp/test_soundgen_" + std::to_string(getpid()) + ".dat";
  ASSERT_TRUE(dat::write_datafile(path, sound::bank_objects(*bank_)));
  register_datafile_modux();
  DATAFILE *data = load_datafile(path.c_str());
  std::remove(path.c_str());
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 15; i++) ASSERT_EQ(data[i].type, i < 10 ? DAT_SAMPLE : DAT_MUX) << i;
  ASSERT_EQ(data[15].type, DAT_END);
  for (int i = 10; i < 15; i++) {
    const MODUX *m = static_cast<const MODUX *>(data[i].dat);
    const Song &song = bank_->songs[size_t(i - 10)];
    SCOPED_TRACE(song.name);
    EXPECT_STREQ(m->name, song.name.c_str());
    EXPECT_EQ(std::make_tuple(m->channel_count, m->order_count, m->initial_tempo, m->restart_order,
                              m->flags),
              std::make_tuple(int(song.channels.size()), int(song.order.size()), song.tempo,
                              song.restart, song.xm ? MODUX_XM | MODUX_LINEAR : 0));
    // An XM song's notes are shaped by its instruments' volume envelopes.
    int enveloped = 0;
    for (int k = 0; k < m->instrument_count; k++) enveloped += m->instruments[k].vol_env_flags & 1;
    EXPECT_EQ(enveloped > 0, song.xm);
  }
  unload_datafile(data);
}

}  // namespace
