// Tests of the control interface: voice reservation, playback start and stop, pause, the
// navigation requests, the clamps of volume, speed and pitch, the timer rate, and the
// handshake that keeps a control call from changing or freeing what a running tick uses.
// Headless: Allegro's timer needs a display here, so the timer calls go to a recorder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "modux.h"
#include "mux_image.h"

using namespace muxtest;

namespace {

struct timer_call {
  void (*proc)(void);
  long speed;
};
std::vector<timer_call> installs;
int removals = 0;

int record_install(void (*proc)(void), long speed) {
  installs.push_back({proc, speed});
  return 0;
}
void record_remove(void (*)(void)) { removals++; }

MODUX *load_image(const bytes &image) {
  memory_file state;
  PACKFILE *f = open_memory(image, state);
  MODUX *mod = load_mux(f);
  pack_fclose(f);
  return mod;
}

module song(int channels, int flags = 0) {
  module m;
  m.channels = channels;
  for (int c = 0; c < channels; c++) m.pans.push_back(10 + c);
  m.orders = {1, 0, 1};
  m.speed = 3;
  m.tempo = 150;
  m.global_volume = 50;
  m.flags = flags;
  sample s;
  s.length = 16;
  m.samples = {s, s};
  pattern p;
  p.rows = 4;
  m.patterns = {p, p};
  return m;
}

class Control : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
    modux_install_int = record_install;
    modux_remove_int = record_remove;
  }
  void SetUp() override {
    installs.clear();
    removals = 0;
    ASSERT_EQ(install_mod(8), 1) << modux_error;
    mod_ = load_image(build(song(4)));
    ASSERT_NE(mod_, nullptr) << modux_error;
  }
  void TearDown() override {
    destroy_mod(mod_);
    remove_mod();
    mi.skip_row = 0;
    mi.skip_order = 0;
    mi.pause = 0;
  }
  MODUX *mod_ = nullptr;
};

TEST_F(Control, InstallReservesOneVoicePerChannel) {
  EXPECT_EQ(mod_init, -1);
  EXPECT_EQ(mi.max_chn, 8);
  EXPECT_EQ(mi.speed_ratio, 100);
  EXPECT_EQ(mi.pitch_ratio, 100);
  EXPECT_EQ(mi.is_playing, 0);
  for (int i = 0; i < 8; i++) EXPECT_GE(voice_table[i], 0) << i;
  for (int i = 8; i < 64; i++) EXPECT_EQ(voice_table[i], -1) << i;
  ASSERT_NE(fake_sample, nullptr);
  EXPECT_EQ(fake_sample->len, 0u);
  EXPECT_EQ(fake_sample->bits, 8);
  EXPECT_NE(fake_sample->data, nullptr);
}

TEST_F(Control, ASecondInstallChangesNothing) {
  EXPECT_EQ(install_mod(64), 1);
  EXPECT_EQ(install_mod(0), 1);
  EXPECT_EQ(mi.max_chn, 8);
  EXPECT_EQ(voice_table[8], -1);
}

TEST_F(Control, RemoveReleasesTheVoicesAndAllowsAFreshInstall) {
  remove_mod();
  EXPECT_EQ(mod_init, 0);
  for (int i = 0; i < 64; i++) EXPECT_EQ(voice_table[i], -1);
  EXPECT_EQ(removals, 0);  // the tick was never handed to the timer
  EXPECT_EQ(install_mod(2), 1);
  EXPECT_EQ(mi.max_chn, 2);
  play_mod(mod_, 0);
  remove_mod();
  EXPECT_EQ(removals, 1);
  EXPECT_EQ(of, nullptr);
  EXPECT_EQ(mi.is_playing, 0);
}

TEST_F(Control, InstallRefusesChannelCountsOutsideOneToSixtyFourSilently) {
  remove_mod();
  for (int n : {0, -1, 65, 1000}) {
    SCOPED_TRACE(n);
    std::snprintf(modux_error, sizeof modux_error, "untouched");
    EXPECT_EQ(install_mod(n), -1);
    EXPECT_STREQ(modux_error, "untouched");
    EXPECT_EQ(mod_init, 0);
  }
}

TEST_F(Control, InstallFailsAndReleasesAllWhenVoicesRunOut) {
  remove_mod();
  // Take all but four of Allegro's voices so that a request for eight cannot be met.
  std::vector<int> taken;
  for (int v; (v = allocate_voice(fake_sample)) >= 0;) taken.push_back(v);
  for (int i = 0; i < 4; i++) {
    deallocate_voice(taken.back());
    taken.pop_back();
  }
  EXPECT_EQ(install_mod(8), -1);
  EXPECT_STREQ(modux_error, "MODUX : Unable to allocate enough voices");
  EXPECT_EQ(mod_init, 0);
  for (int i = 0; i < 64; i++) EXPECT_EQ(voice_table[i], -1);
  // The four voices it had taken are free again.
  std::vector<int> again;
  for (int i = 0; i < 4; i++) again.push_back(allocate_voice(fake_sample));
  for (int v : again) EXPECT_GE(v, 0);
  for (int v : again) deallocate_voice(v);
  for (int v : taken) deallocate_voice(v);
  EXPECT_EQ(install_mod(8), 1);
}

TEST_F(Control, PlayStartsTheSongFromItsHeader) {
  mi.new_row = 5;
  mi.pattern_delay = 7;
  mi.pause = -1;
  play_mod(mod_, 1);
  EXPECT_EQ(of, mod_);
  EXPECT_EQ(mi.is_playing, -1);
  EXPECT_EQ(is_mod_playing(), -1);
  EXPECT_EQ(mi.loop, -1);
  EXPECT_EQ(mi.pause, 0);
  EXPECT_EQ(mi.forbidden, 0);
  EXPECT_EQ(mi.tick, -1);
  EXPECT_EQ(mi.row, 0);
  EXPECT_EQ(mi.order, 0);
  EXPECT_EQ(mi.pattern, 1);  // order 0 names pattern 1
  EXPECT_EQ(mi.speed, 3);
  EXPECT_EQ(mi.tempo, 150);
  EXPECT_EQ(mi.global_volume, 50);
  EXPECT_EQ(mi.channel_count, 4);
  EXPECT_EQ(mi.flags, 0);
  EXPECT_EQ(mi.new_row, 0);
  EXPECT_EQ(mi.pattern_delay, 0);
  play_mod(mod_, 0);
  EXPECT_EQ(mi.loop, 0);
}

TEST_F(Control, PlayResetsEveryChannelButKeepsTheCarriedFields) {
  for (CHANNEL_STATE &c : ci) {
    c.volume = 33;
    c.period = 900;
    c.loop_times = 2;
    c.tick_pan = 77;
    c.xm_extra_fine_up = -3;
    c.xm_extra_fine_down = 4;
    c.key_off = -1;
  }
  play_mod(mod_, 0);
  for (int i = 0; i < 64; i++) {
    SCOPED_TRACE(i);
    const CHANNEL_STATE &c = ci[i];
    EXPECT_EQ(c.volume, 0);
    EXPECT_EQ(c.period, 0);
    EXPECT_EQ(c.loop_times, 0);
    EXPECT_EQ(c.key_off, 0);
    EXPECT_EQ(c.fade_volume, 32768);
    EXPECT_EQ(c.vol_env.output, 64);
    EXPECT_EQ(c.pan_env.output, 32);
    EXPECT_EQ(c.tremolo_shift, 6);
    EXPECT_EQ(c.vibrato_shift, 5);
    EXPECT_EQ(c.tuning, 8363);
    EXPECT_EQ(c.tick_pan, 77);
    EXPECT_EQ(c.xm_extra_fine_up, -3);
    EXPECT_EQ(c.xm_extra_fine_down, 4);
    // Pans come from the module for the channels that own a voice; channel_pan is 0 past 4.
    EXPECT_EQ(c.pan, i < 4 ? 10 + i : 0);
  }
}

TEST_F(Control, PansAreTakenOnlyForReservedChannels) {
  MODUX *wide = load_image(build(song(12)));
  ASSERT_NE(wide, nullptr);
  play_mod(wide, 0);
  EXPECT_EQ(ci[7].pan, 17);
  EXPECT_EQ(ci[8].pan, 0);  // only eight voices were reserved
  destroy_mod(wide);
}

TEST_F(Control, AnXmFamilySongStartsWithoutATuning) {
  MODUX *xm = load_image(build(song(2, MODUX_XM | MODUX_LINEAR)));
  ASSERT_NE(xm, nullptr) << modux_error;
  play_mod(xm, 0);
  EXPECT_EQ(mi.flags, MODUX_XM | MODUX_LINEAR);
  EXPECT_EQ(ci[0].tuning, 0);
  destroy_mod(xm);
}

TEST_F(Control, PlayingNothingLeavesAMessageAndTheStateAlone) {
  play_mod(nullptr, 0);
  EXPECT_STREQ(modux_error, "Can't play a MODUX pointer with null value");
  EXPECT_EQ(of, nullptr);
  EXPECT_EQ(mi.is_playing, 0);
  EXPECT_TRUE(installs.empty());
}

TEST_F(Control, PlayInstallsTheTickAtTheTempoRate) {
  play_mod(mod_, 0);
  ASSERT_EQ(installs.size(), 1u);
  EXPECT_EQ(installs[0].proc, mod_interrupt);
  EXPECT_EQ(installs[0].speed, 71590860L / (24 * 150));
}

TEST_F(Control, TimerPeriodsFollowTheTempoAndNeverDivideByZero) {
  struct rate_case {
    int tempo, ratio;
    long period;
  };
  const rate_case cases[] = {
      {125, 100, 23863},           // 50 ticks a second
      {125, 200, 11931},           // twice as fast
      {32, 100, 93217},            // slowest Protracker tempo
      {255, 400, 2924},            // fastest ordinary rate
      {0, 100, 23863},             // a header without a tempo plays at 125
      {-7, 100, 23863},
      {1, 1, 71590860},            // divisor rounds to 0: one tick a minute
      {4, 1, 71590860},
      {125, 0, 23863},             // before install_mod the ratio is 0
      {65535, 400, TIMERS_PER_SECOND / 1000},  // a damaged tempo cannot flood the timer
  };
  for (const rate_case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.tempo << " BPM at " << c.ratio << "%");
    EXPECT_EQ(mod_timer_period(c.tempo, c.ratio), c.period);
  }
}

TEST_F(Control, StopForgetsTheSongButKeepsVoicesAndTimer) {
  play_mod(mod_, 0);
  mi.order = 2;
  stop_mod();
  EXPECT_EQ(of, nullptr);
  EXPECT_EQ(mi.is_playing, 0);
  EXPECT_EQ(mi.order, 0);
  EXPECT_EQ(mi.forbidden, 0);
  EXPECT_EQ(removals, 0);
  EXPECT_GE(voice_table[0], 0);
  stop_mod();  // stopping twice is harmless
  EXPECT_EQ(of, nullptr);
}

TEST_F(Control, PlayingAnotherSongStopsTheFirst) {
  MODUX *other = load_image(build(song(2)));
  ASSERT_NE(other, nullptr);
  play_mod(mod_, 0);
  play_mod(other, 0);
  EXPECT_EQ(of, other);
  EXPECT_EQ(mi.channel_count, 2);
  EXPECT_EQ(mi.is_playing, -1);
  destroy_mod(other);
  EXPECT_EQ(of, nullptr);
  EXPECT_EQ(mi.is_playing, 0);
}

TEST_F(Control, DestroyingAnIdleModuleLeavesThePlayingOneAlone) {
  MODUX *other = load_image(build(song(2)));
  ASSERT_NE(other, nullptr);
  play_mod(mod_, 0);
  destroy_mod(other);
  EXPECT_EQ(of, mod_);
  EXPECT_EQ(mi.is_playing, -1);
  destroy_mod(nullptr);
}

TEST_F(Control, DestroyToleratesAPartlyBuiltModule) {
  MODUX *part = static_cast<MODUX *>(calloc(1, sizeof(MODUX)));
  part->pattern_count = 3;
  part->patterns = static_cast<PATTERN_INFO *>(calloc(3, sizeof(PATTERN_INFO)));
  part->patterns[0].notes = static_cast<NOTE_INFO *>(calloc(4, sizeof(NOTE_INFO)));
  part->sample_count = 5;  // no sample arrays yet
  destroy_mod(part);       // a leak or a bad free shows under the sanitizer build
}

TEST_F(Control, PauseAndResume) {
  play_mod(mod_, 0);
  EXPECT_EQ(is_mod_paused(), 0);
  pause_mod();
  EXPECT_EQ(mi.pause, -1);
  EXPECT_EQ(is_mod_paused(), -1);
  resume_mod();
  EXPECT_EQ(is_mod_paused(), 0);
  toggle_pause_mode();
  EXPECT_EQ(is_mod_paused(), -1);
  toggle_pause_mode();
  EXPECT_EQ(is_mod_paused(), 0);
  EXPECT_EQ(mi.forbidden, 0);
}

TEST_F(Control, TogglingWithNothingPlayingPausesUntilTheNextSong) {
  toggle_pause_mode();
  EXPECT_EQ(mi.pause, -1);
  EXPECT_EQ(is_mod_paused(), 0);  // nothing plays, so nothing is paused
  toggle_pause_mode();
  EXPECT_EQ(mi.pause, -1);  // still nothing to resume
  play_mod(mod_, 0);
  EXPECT_EQ(mi.pause, 0);
}

TEST_F(Control, NavigationWritesARequestForTheTick) {
  struct nav_case {
    const char *what;
    int from_order;
    void (*call)();
    int skip_order;
  };
  const nav_case cases[] = {
      {"next", 1, [] { next_mod_track(); }, 3},
      {"next past the end has no bound", 2, [] { next_mod_track(); }, 4},
      {"previous", 2, [] { prev_mod_track(); }, 2},
      {"previous at the start restarts order 0", 0, [] { prev_mod_track(); }, 1},
      {"goto", 0, [] { goto_mod_track(2); }, 3},
      {"goto below 0 goes to 0", 1, [] { goto_mod_track(-5); }, 1},
      {"goto far past the end stops at the order list's size", 0, [] { goto_mod_track(2000000000); }, 257},
  };
  play_mod(mod_, 0);
  for (const nav_case &c : cases) {
    SCOPED_TRACE(c.what);
    mi.order = c.from_order;
    mi.skip_row = 0;
    mi.skip_order = 0;
    c.call();
    EXPECT_EQ(mi.skip_row, 1);
    EXPECT_EQ(mi.skip_order, c.skip_order);
    EXPECT_EQ(mi.forbidden, 0);
  }
}

TEST_F(Control, ARequestMadeWhileIdleSurvivesTheNextPlay) {
  goto_mod_track(2);
  play_mod(mod_, 0);
  EXPECT_EQ(mi.skip_row, 1);
  EXPECT_EQ(mi.skip_order, 3);
}

TEST_F(Control, VolumeIsClampedToTheVoiceRange) {
  const int cases[][2] = {{-5, 0}, {0, 0}, {128, 128}, {255, 255}, {300, 255}};
  for (const auto &c : cases) {
    set_mod_volume(c[0]);
    EXPECT_EQ(get_mod_volume(), c[1]) << c[0];
    EXPECT_EQ(mod_volume, c[1]);
  }
  set_mod_volume(255);
}

TEST_F(Control, SpeedAndPitchRatiosAreClamped) {
  const int cases[][2] = {{0, 1}, {-3, 1}, {1, 1}, {150, 150}, {400, 400}, {1000, 400}};
  for (const auto &c : cases) {
    set_mod_speed(c[0]);
    EXPECT_EQ(mi.speed_ratio, c[1]) << c[0];
    set_mod_pitch(c[0]);
    EXPECT_EQ(mi.pitch_ratio, c[1]) << c[0];
  }
  EXPECT_TRUE(installs.empty());  // nothing plays: no new timer rate
}

TEST_F(Control, ChangingTheSpeedWhilePlayingChangesTheTimerRate) {
  play_mod(mod_, 0);
  set_mod_speed(200);
  ASSERT_EQ(installs.size(), 2u);
  EXPECT_EQ(installs[1].speed, 71590860L / (24 * 150 * 2));
  set_mod_pitch(50);
  EXPECT_EQ(installs.size(), 2u);
  set_mod_speed(100);
}

TEST_F(Control, SamplesAreLookedUpWithinTheModule) {
  EXPECT_EQ(get_modux_sample(mod_, 0), &mod_->samples[0]);
  EXPECT_EQ(get_modux_sample(mod_, 1), &mod_->samples[1]);
  EXPECT_EQ(get_modux_sample(mod_, 2), nullptr);
  EXPECT_STREQ(modux_error, "Incorrect value of no sample found");
  std::snprintf(modux_error, sizeof modux_error, "untouched");
  EXPECT_EQ(get_modux_sample(mod_, -1), nullptr);
  EXPECT_STREQ(modux_error, "Incorrect value of no sample found");
  EXPECT_EQ(get_modux_sample(nullptr, 0), nullptr);
  EXPECT_STREQ(modux_error, "MODUX pointer passed in is a NULL value");
}

TEST_F(Control, TheTickRunsOnlyWhileASongPlaysFreely) {
  EXPECT_EQ(mod_tick_begin(), 0);  // nothing plays
  play_mod(mod_, 0);
  ASSERT_EQ(mod_tick_begin(), -1);
  mod_tick_end();
  pause_mod();
  EXPECT_EQ(mod_tick_begin(), 0);
  resume_mod();
  mi.forbidden = -1;
  EXPECT_EQ(mod_tick_begin(), 0);
  mi.forbidden = 0;
}

TEST_F(Control, TheTickCanRestartTheSongFromInsideItself) {
  play_mod(mod_, -1);
  ASSERT_EQ(mod_tick_begin(), -1);
  // What the tick does at a looping song's end: neither call may wait for the tick itself.
  play_mod(of, -1);
  goto_mod_track(1);
  mod_tick_end();
  EXPECT_EQ(mi.skip_order, 2);
  EXPECT_EQ(mi.forbidden, 0);
}

// A tick in flight on another thread: a control call must wait for it to end before it frees
// or changes the module the tick is using.
TEST_F(Control, DestroyWaitsForTheTickInFlight) {
  play_mod(mod_, 0);
  std::atomic<int> entered{0};
  std::atomic<int> finished{0};
  std::thread tick([&] {
    const int running = mod_tick_begin();
    entered = 1;
    if (!running) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Still the same, intact module while the tick runs.
    EXPECT_EQ(of, mod_);
    EXPECT_EQ(of->channel_count, 4);
    finished = 1;
    mod_tick_end();
  });
  while (!entered) std::this_thread::yield();
  destroy_mod(mod_);
  EXPECT_EQ(finished, 1);
  mod_ = nullptr;
  EXPECT_EQ(of, nullptr);
  tick.join();
}

TEST_F(Control, ControlCallsAndTicksInterleaveSafely) {
  std::atomic<bool> stop{false};
  std::atomic<int> ticks{0};
  // A stand-in tick that reads through the module the way the sequencer does.
  std::thread timer([&] {
    while (!stop) {
      if (mod_tick_begin()) {
        const MODUX *m = of;
        const int pattern = m->order_table[0];
        volatile int sum = m->patterns[pattern].row_count + m->patterns[pattern].notes[0].note +
                           m->samples[0].bits;
        (void)sum;
        ticks++;
        mod_tick_end();
      }
    }
  });
  const bytes image = build(song(4));
  for (int round = 0; round < 200; round++) {
    MODUX *m = load_image(image);
    ASSERT_NE(m, nullptr);
    play_mod(m, round & 1);
    if (round % 3 == 0) pause_mod();
    if (round % 3 == 0) resume_mod();
    next_mod_track();
    set_mod_volume(round);
    std::this_thread::yield();
    destroy_mod(m);
  }
  stop = true;
  timer.join();
  EXPECT_GT(ticks, 0);
  EXPECT_EQ(of, nullptr);
  set_mod_volume(255);
}

}  // namespace
