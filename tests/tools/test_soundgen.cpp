// The sound generator: song text and its mistakes, song length, arpeggio periods, instruments it
// refuses, and the game's real sounds. How the shipped songs (which use every feature of the song
// text and of the instruments) sound is held byte for byte by tests/render/render_songs.sh.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
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
TEST(Periods, ArpeggiosLandOnTheIntendedSemitones) {
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

int peak(const std::vector<int16_t> &f, size_t from = 0, size_t to = SIZE_MAX) {
  int p = 0;
  for (size_t i = from; i < f.size() && i < to; i++) p = std::max(p, std::abs(int(f[i])));
  return p;
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

// The game's own sounds: effects audible with headroom for the music, ending without a click,
// short where they are heard many times a second; songs of a minute or more that loop, each at
// its own pace, on at most the game's 16 channels.
TEST(SoundBank, TheGamesSoundsSuitTheirUse) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  const sound::SoundBank bank = sound::build_bank(kSources);
  // Button 1, ball 4 and name-entry key 9 stay short; life lost 0 and game over 7 take time.
  const double kLongest[10] = {HUGE_VAL, 0.1, 2, 2, 0.1, 2, 2, HUGE_VAL, 2, 0.1};
  const auto &fx = bank.effect_samples;
  auto seconds = [&](size_t i) { return double(fx[i].frames.size()) / fx[i].rate; };
  ASSERT_EQ(fx.size(), 10u);
  for (size_t i = 0; i < 10; i++) {
    const auto &f = fx[i].frames;
    SCOPED_TRACE(bank.effects[i].name);
    EXPECT_GT(peak(f), 32767 / 4);
    EXPECT_LE(peak(f), int(0.8 * 32767));
    EXPECT_LT(std::abs(f.back()), 16);
    EXPECT_LT(seconds(i), kLongest[i]);
  }
  EXPECT_GT(seconds(0), 0.6);
  EXPECT_GT(seconds(7), seconds(0));

  ASSERT_EQ(bank.songs.size(), 5u);
  EXPECT_EQ(bank.song_entries[0].name, "title");
  std::set<int> tempos;
  for (const Song &song : bank.songs) {
    SCOPED_TRACE(song.name);
    EXPECT_TRUE(song.channels.size() >= 4 && song.channels.size() <= 16);
    EXPECT_GE(sound::song_seconds(song), 60.0);
    EXPECT_LT(song.restart, int(song.order.size()));
    tempos.insert(song.tempo);
  }
  EXPECT_GE(tempos.size(), 4u) << "the songs should not all move at one pace";
}

}  // namespace
