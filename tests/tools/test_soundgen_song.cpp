// The song text: how notes, lengths, phrases and effects become rows of cells, the mistakes it
// reports (with their line), song length, and the period table the arpeggios rely on.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "modbuild.h"
#include "modux.h"
#include "song.h"
#include "source.h"

namespace {

using sound::Song;
using sound::SongCell;

const std::set<std::string> kInstruments = {"lead", "other", "kick"};

// A one-channel song around one channel line.
std::string one_channel(const std::string &line, int rows, const std::string &extra = "") {
  return "song \"t\"\nchannel a inst=lead\nkit k kick\n" + extra + "pattern p " + std::to_string(rows) +
         "\na: " + line + "\norder p\n";
}

std::vector<SongCell> rows_of(const std::string &line, int rows, const std::string &extra = "") {
  Song s = sound::parse_song("t.song", one_channel(line, rows, extra), kInstruments);
  return s.patterns.at(0).cells;
}

// Expected cell, written compactly: pitch (or none), instrument, volume column, command/param.
struct Cell {
  int row;
  bool note;
  int pitch, instrument, volume, command, param;
};
constexpr int kNone = -1;

struct RowCase {
  const char *line;
  int rows;
  std::vector<Cell> cells;  // every other row must be empty
  const char *extra;
};

TEST(SongText, EventsBecomeCells) {
  const int C4 = 0, D4 = 2, C5 = 12, E5 = 16;
  const RowCase cases[] = {
      {"C4:2 D4:2", 4, {{0, true, C4, 0, 0, kNone, 0}, {2, true, D4, 0, 0, kNone, 0}}, ""},
      {":2 C4 D4", 4, {{0, true, C4, 0, 0, kNone, 0}, {2, true, D4, 0, 0, kNone, 0}}, ""},
      {"C5:3~42", 3, {{0, true, C5, 0, 0, kNone, 0}, {1, false, 0, -1, 0, 4, 0x42}, {2, false, 0, -1, 0, 4, 0x42}}, ""},
      {"C5:2&37", 2, {{0, true, C5, 0, 0, 0, 0x37}, {1, false, 0, -1, 0, 0, 0x37}}, ""},
      {"C5:2 E5:2>08", 4,
       {{0, true, C5, 0, 0, kNone, 0}, {2, true, E5, -1, 0, 3, 0x08}, {3, false, 0, -1, 0, 3, 0}}, ""},
      {"C5:3%01", 3, {{0, true, C5, 0, 0, kNone, 0}, {1, false, 0, -1, 0, 10, 1}, {2, false, 0, -1, 0, 10, 1}}, ""},
      {".:2%02", 2, {{0, false, 0, -1, 0, 10, 2}, {1, false, 0, -1, 0, 10, 2}}, ""},
      {"C5:3~41%02", 3, {{0, true, C5, 0, 0, kNone, 0}, {1, false, 0, -1, 0, 4, 0x41}, {2, false, 0, -1, 0, 6, 2}}, ""},
      {"C5:2/04", 2, {{0, true, C5, 0, 0, 1, 4}, {1, false, 0, -1, 0, 1, 4}}, ""},
      {"C5:2\\0a", 2, {{0, true, C5, 0, 0, 2, 10}, {1, false, 0, -1, 0, 2, 10}}, ""},
      {"C5@40 .:3", 4, {{0, true, C5, 0, 0x10 + 40, kNone, 0}}, ""},
      {".!F03 .:3", 4, {{0, false, 0, -1, 0, 15, 3}}, ""},
      {"C5!EC2 .", 2, {{0, true, C5, 0, 0, 14, 0xC2}}, ""},
      {"(C4 D4)*2", 4,
       {{0, true, C4, 0, 0, kNone, 0}, {1, true, D4, 0, 0, kNone, 0}, {2, true, C4, 0, 0, kNone, 0},
        {3, true, D4, 0, 0, kNone, 0}}, ""},
      {"$p+2 $p*2", 6,
       {{0, true, D4, 0, 0, kNone, 0}, {2, true, C4, 0, 0, kNone, 0}, {4, true, C4, 0, 0, kNone, 0}},
       "phrase p: C4:2\n"},
      {"k:2 [other] C4", 3, {{0, true, C5, 1, 0, kNone, 0}, {2, true, C4, 2, 0, kNone, 0}}, ""},
  };
  for (const RowCase &c : cases) {
    std::vector<SongCell> got = rows_of(c.line, c.rows, c.extra);
    ASSERT_EQ(int(got.size()), c.rows) << c.line;
    std::vector<bool> expected_row(size_t(c.rows), false);
    for (const Cell &e : c.cells) {
      expected_row[size_t(e.row)] = true;
      const SongCell &g = got[size_t(e.row)];
      SCOPED_TRACE(std::string(c.line) + " row " + std::to_string(e.row));
      EXPECT_EQ(g.has_note, e.note);
      if (e.note) {
        EXPECT_EQ(g.pitch, e.pitch);
      }
      EXPECT_EQ(g.instrument, e.instrument);
      EXPECT_EQ(g.volume, e.volume);
      EXPECT_EQ(g.has_command, e.command != kNone);
      if (e.command != kNone) {
        EXPECT_EQ(g.command, e.command);
        EXPECT_EQ(g.param, e.param);
      }
    }
    for (int r = 0; r < c.rows; r++) {
      if (expected_row[size_t(r)]) continue;
      const SongCell &g = got[size_t(r)];
      EXPECT_FALSE(g.has_note || g.has_command || g.cut || g.volume) << c.line << " row " << r << " should be empty";
    }
  }
}

TEST(SongText, CutsContinuationLinesAndInstrumentOrder) {
  Song s = sound::parse_song("t.song",
                             "song \"Two\"\ntempo 150\nspeed 3\nchannel a inst=other pan=10\nchannel b\n"
                             "pattern p 4\na: C4 ^ .\n   D4\nb: [lead] C4:4\norder p p\nrestart 1\n",
                             kInstruments);
  EXPECT_EQ(s.name, "Two");
  EXPECT_EQ(s.tempo, 150);
  EXPECT_EQ(s.speed, 3);
  EXPECT_EQ(s.restart, 1);
  ASSERT_EQ(s.channels.size(), 2u);
  EXPECT_EQ(s.channels[0].pan, 10);
  EXPECT_EQ(s.channels[1].pan, 128);
  EXPECT_EQ(s.order, (std::vector<int>{0, 0}));
  // Instruments are numbered by first use: the pattern's channel a starts with "other".
  EXPECT_EQ(s.instruments, (std::vector<std::string>{"other", "lead"}));
  const auto &c = s.patterns[0].cells;
  EXPECT_TRUE(c[1 * 2].cut);
  EXPECT_TRUE(c[3 * 2].has_note);  // the indented line went on with channel a
  EXPECT_EQ(c[3 * 2].pitch, 2);
  EXPECT_EQ(c[0 * 2 + 1].instrument, 1);
}

TEST(SongText, MistakesAreReportedWithTheirLine) {
  struct Case {
    std::string text;
    const char *message;
    int line;
  } cases[] = {
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
      {"song \"t\"\nchannel a inst=lead\npattern p 4\norder q\n", "unknown pattern 'q'", 4},
      {"song \"t\"\nchannel a inst=lead\npattern p 4\norder p\nrestart 1\n", "restart", 1},
      {"song \"t\"\nchannel a inst=lead\nwobble 3\n", "unknown statement", 3},
      {"song \"t\"\n   C4\n", "continues a channel or phrase line", 2},
      {"song \"a name much longer than twenty-eight\"\n", "more than 28", 1},
  };
  for (const Case &c : cases) {
    try {
      sound::parse_song("t.song", c.text, kInstruments);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const sound::SourceError &e) {
      std::string msg = e.what();
      EXPECT_NE(msg.find(c.message), std::string::npos) << msg;
      EXPECT_EQ(msg.rfind("t.song:" + std::to_string(c.line) + ":", 0), 0u) << msg;
    }
  }
}

// Damaged sources: cut short anywhere or with characters overwritten, a real song either still
// reads or is refused with a SourceError; nothing else escapes and nothing crashes.
TEST(SongText, DamagedSongsAreReadOrRefused) {
  std::string text = sound::read_file(std::string(VORBEL_SOUND_SOURCES) + "/title.song");
  std::set<std::string> names;
  for (const auto &[name, ins] : sound::parse_instruments(
           "instruments.txt", sound::read_file(std::string(VORBEL_SOUND_SOURCES) + "/instruments.txt")))
    names.insert(name);
  std::mt19937 rng(1234);
  const std::string alphabet = " \n:.()|$#*+-~&/\\>%!@^[]=\"0123456789ABCDEFGabcdefhkosz";
  int refused = 0, read = 0;
  for (int n = 0; n < 400; n++) {
    std::string damaged = text;
    if (n % 2 == 0) {
      damaged.resize(rng() % text.size());
    } else {
      for (int k = 0; k < 1 + n % 7; k++) damaged[rng() % damaged.size()] = alphabet[rng() % alphabet.size()];
    }
    try {
      sound::Song s = sound::parse_song("title.song", damaged, names);
      sound::song_seconds(s);
      read++;
    } catch (const sound::SourceError &) {
      refused++;
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_EQ(read + refused, 400);
}

TEST(SongText, LengthFollowsSpeedTempoAndDelays) {
  struct Case {
    const char *line;
    double seconds;
  } cases[] = {
      {".:64", 64 * 6 * 2.5 / 125},
      {".!F03 .:63", 64 * 3 * 2.5 / 125},
      {".!F96 .:63", 64 * 6 * 2.5 / 150},
      {".:32 .!F0C .:31", 32 * 6 * 2.5 / 125 + 32 * 12 * 2.5 / 125},
      {".!EE2 .:63", 66 * 6 * 2.5 / 125},
  };
  for (const Case &c : cases) {
    Song s = sound::parse_song("t.song", one_channel(c.line, 64), kInstruments);
    EXPECT_NEAR(sound::song_seconds(s), c.seconds, 1e-9) << c.line;
  }
}

TEST(PeriodTable, MatchesTheTrackerTable) {
  struct Case {
    int pitch, period;
  } cases[] = {{0, 856}, {12, 428}, {9, 508}, {47, 57}, {-36, 6848}, {-24, 3424}, {-25, 3628}, {24, 214}};
  for (const Case &c : cases) EXPECT_EQ(sound::amiga_period(c.pitch), c.period) << c.pitch;
}

// The engine's arpeggio searches its semitone table for the note it plays: every note the songs
// can give a chip instrument must land there on itself, or arpeggios come out a semitone off.
TEST(PeriodTable, ArpeggiosLandOnTheIntendedSemitones) {
  mi.flags = 0;
  for (int tuning : {16726, 33452}) {
    int lowest = tuning == 16726 ? -24 : -36;  // the engine's table starts at C2 (C1 for 64-frame cycles)
    for (int pitch = lowest; pitch + 12 <= sound::kHighestPitch; pitch++) {
      int period = note2period(sound::note_frequency(pitch), tuning);
      for (int n : {3, 4, 7, 12}) {
        int target = note2period(sound::note_frequency(pitch + n), tuning);
        int got = find_lower_period(period, n);
        // Within half a semitone: the right note, whatever the rounding of tiny periods.
        EXPECT_NEAR(got, target, target * 0.03) << "tuning " << tuning << " pitch " << pitch << " +" << n;
      }
    }
  }
}

}  // namespace
