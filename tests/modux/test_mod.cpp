// The control interface: voices, start, stop, pause, navigation, the clamps of volume, speed
// and pitch, the timer rate, and the handshake with a running tick. Allegro's timer needs a
// display here, so the timer calls go to a recorder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

#include "model_builder.h"

namespace {

std::vector<long> installs;  // timer periods handed to the timer
int removals = 0;

// Two patterns of 64 rows in the order 1, 0, 1, two empty samples, pans 10, 11, ...
MODUX *load_song(int channels, int flags = 0) {
  MODUX *m = model::module(channels, 64, flags, 2, 2, 0);
  for (int c = 0; c < channels; c++) m->channel_pan[c] = 10 + c;
  m->order_count = 3, m->order_table[0] = m->order_table[2] = 1;
  m->initial_speed = 3, m->initial_tempo = 150, m->initial_global_volume = 50;
  return m;
}

class Control : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    install_sound(DIGI_NONE, MIDI_NONE, nullptr);
    modux_remove_int = [](void (*)(void)) { removals++; };
  }
  void SetUp() override {
    modux_install_int = [](void (*proc)(void), long speed) {
      installs.push_back(speed);
      return proc == mod_interrupt ? 0 : -1;
    };
    installs.clear();
    removals = 0;
    ASSERT_EQ(install_mod(8), 1) << modux_error;
    ASSERT_NE(mod_ = load_song(4), nullptr) << modux_error;
  }
  void TearDown() override {
    destroy_mod(mod_);
    remove_mod();
    mi.skip_row = mi.skip_order = mi.pause = 0;
    set_mod_volume(255);
    set_mod_speed(100);
  }
  MODUX *mod_ = nullptr;
};

TEST_F(Control, InstallReservesVoicesOnceAndRemoveReleasesThem) {
  EXPECT_EQ(install_mod(64), 1);  // a second install changes nothing
  for (int i = 0; i < 64; i++) EXPECT_EQ(voice_table[i] >= 0, i < 8) << i;
  play_mod(mod_, 0);
  remove_mod();
  EXPECT_EQ(std::make_pair(removals, of), std::make_pair(1, static_cast<MODUX *>(nullptr)));
  for (int i = 0; i < 8; i++) EXPECT_EQ(voice_table[i], -1);
  for (int n : {0, 65}) EXPECT_EQ(install_mod(n), -1) << n;
  EXPECT_STREQ(modux_error, "MODUX : 65 voices asked for, 1 to 64 can be had");
  EXPECT_EQ(mod_init, 0);

  std::vector<int> taken;  // all of Allegro's voices but four: eight cannot be had
  for (int v; (v = allocate_voice(fake_sample)) >= 0;) taken.push_back(v);
  for (int i = 0; i < 4; i++) deallocate_voice(taken.back()), taken.pop_back();
  EXPECT_EQ(install_mod(8), -1);
  EXPECT_STREQ(modux_error, "MODUX : Unable to allocate enough voices");
  for (int i = 0; i < 4; i++) taken.push_back(allocate_voice(fake_sample));  // free again
  for (int v : taken) EXPECT_GE(v, 0);
  for (int v : taken) deallocate_voice(v);
}

TEST_F(Control, PlayStartsTheSongFromItsHeaderWithFreshChannels) {
  mi.new_row = 5, mi.pattern_delay = 7, mi.pause = -1;
  for (CHANNEL_STATE &c : ci)
    c.volume = 33, c.loop_times = 2, c.sounding.key_off = -1, c.tick_pan = 77,
    c.xm_extra_fine_down = 2;
  play_mod(nullptr, 0);
  EXPECT_STREQ(modux_error, "Can't play a MODUX pointer with null value");
  EXPECT_EQ(of, nullptr);
  play_mod(mod_, 1);
  EXPECT_EQ(of, mod_);
  // playing, loop, pause, tick, row, order, pattern, speed, tempo, global volume, channels,
  // new row, pattern delay
  EXPECT_EQ((std::vector<int>{is_mod_playing(), mi.loop, mi.pause, mi.tick, mi.row, mi.order,
                              mi.pattern, mi.speed, mi.tempo, mi.global_volume, mi.channel_count,
                              mi.new_row, mi.pattern_delay}),
            (std::vector<int>{-1, -1, 0, -1, 0, 0, 1, 3, 150, 50, 4, 0, 0}));
  for (int i = 0; i < 64; i++) {  // fresh, but the pan of the tick stays for the voices
    const CHANNEL_STATE &c = ci[i];
    EXPECT_EQ((std::vector<int>{c.volume, c.loop_times, c.sounding.key_off, c.xm_extra_fine_down,
                                c.sounding.fade, c.sounding.vol_env.output,
                                c.sounding.pan_env.output, c.tuning, c.tick_pan, c.pan}),
              (std::vector<int>{0, 0, 0, 0, 32768, 64, 32, 8363, 77, i < 4 ? 10 + i : 0}))
        << "channel " << i;
  }
  EXPECT_EQ(installs, std::vector<long>{71590860L / (24 * 150)});
  play_mod(mod_, 0);
  EXPECT_EQ(mi.loop, 0);

  MODUX *wide = load_song(12, MODUX_XM | MODUX_LINEAR);
  play_mod(wide, 0);  // stops the first song; eight voices were reserved, XM notes take their
                      // tuning from the sample
  EXPECT_EQ((std::vector<int>{ci[7].pan, ci[8].pan, ci[0].tuning}), (std::vector<int>{17, 0, 0}));
  destroy_mod(mod_);  // an idle module: the playing one goes on
  mod_ = nullptr;
  EXPECT_EQ(of, wide);
  destroy_mod(wide);
  EXPECT_EQ(std::make_pair(of, is_mod_playing()), std::make_pair(static_cast<MODUX *>(nullptr), 0));
}

TEST_F(Control, TimerPeriodsFollowTheTempoAndNeverDivideByZero) {
  // clang-format off
  const long cases[][3] = {  // tempo, speed ratio, period
      {125, 100, 23863}, {125, 200, 11931}, {32, 100, 93217}, {255, 400, 2924}, {125, 1000, 5965},
      {0, 100, 23863},   {-7, 100, 23863},  // no tempo: 125
      {125, 0, 23863},                      // the ratio before install_mod
      {1, 1, 71590860},                     // the divisor rounds to 0: one tick a minute
      {65535, 400, TIMERS_PER_SECOND / 1000}};  // a damaged tempo cannot flood the timer
  // clang-format on
  for (const auto &c : cases) EXPECT_EQ(mod_timer_period(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}

TEST_F(Control, PauseStopAndTheTicksHandshake) {
  toggle_pause_mode();  // nothing plays: both toggles pause the next song
  toggle_pause_mode();
  EXPECT_EQ(std::make_pair(mi.pause.load(), is_mod_paused()), std::make_pair(-1, 0));
  EXPECT_EQ(mod_tick_begin(&default_player), 0);  // nothing plays
  play_mod(mod_, -1);
  EXPECT_EQ(mi.pause, 0);
  const struct {
    void (*call)();
    int paused;
  } steps[] = {{pause_mod, -1}, {resume_mod, 0}, {toggle_pause_mode, -1}, {toggle_pause_mode, 0}};
  for (const auto &s : steps) {
    s.call();
    EXPECT_EQ(is_mod_paused(), s.paused) << &s - steps;
    EXPECT_EQ(mod_tick_begin(&default_player), s.paused ? 0 : -1);  // a paused song gets no tick
    mod_tick_end(&default_player);
  }
  default_player.forbidden = -1;
  EXPECT_EQ(mod_tick_begin(&default_player), 0);
  default_player.forbidden = 0;
  mi.order = 2;
  stop_mod();
  stop_mod();
  EXPECT_EQ(std::make_tuple(of, mi.order.load(), default_player.forbidden.load(), removals),
            std::make_tuple(static_cast<MODUX *>(nullptr), 0, 0, 0));  // voices and timer stay
  EXPECT_GE(voice_table[0], 0);
}

TEST_F(Control, NavigationWritesARequestForTheTick) {
  goto_mod_track(2);  // made while idle, it survives the next play
  play_mod(mod_, 0);
  EXPECT_EQ(mi.skip_order, 3);
  // From order, next / previous / go to, target, requested order + 1: past the last order the
  // song will end, and a target is held to the order list's size.
  const int cases[][4] = {{1, 0, 0, 3}, {2, 0, 0, 4},  {2, 1, 0, 2},           {0, 1, 0, 1},
                          {0, 2, 2, 3}, {1, 2, -5, 1}, {0, 2, 2000000000, 257}};
  for (const auto &c : cases) {
    mi.order = c[0];
    mi.skip_row = mi.skip_order = 0;
    c[1] == 0 ? next_mod_track() : c[1] == 1 ? prev_mod_track() : goto_mod_track(c[2]);
    EXPECT_EQ(mi.skip_row, 1);
    EXPECT_EQ(mi.skip_order, c[3]) << &c - cases;
  }
}

TEST_F(Control, VolumeSpeedAndPitchAreClamped) {
  const int cases[][3] = {
      {-5, 0, 1}, {0, 0, 1}, {150, 150, 150}, {300, 255, 300}, {1000, 255, 400}};
  for (const auto &c : cases) {  // value set -> volume, speed and pitch percentages
    set_mod_volume(c[0]), set_mod_speed(c[0]), set_mod_pitch(c[0]);
    EXPECT_EQ(get_mod_volume(), c[1]) << c[0];
    EXPECT_EQ(mi.speed_ratio, c[2]) << c[0];
    EXPECT_EQ(mi.pitch_ratio, c[2]) << c[0];
  }
  EXPECT_TRUE(installs.empty());  // nothing plays: no new timer rate
  set_mod_speed(100);
  play_mod(mod_, 0);
  set_mod_speed(200);
  set_mod_pitch(50);
  EXPECT_EQ(installs, (std::vector<long>{71590860L / (24 * 150), 71590860L / (24 * 150 * 2)}));
  EXPECT_EQ(get_modux_sample(mod_, 1), &mod_->samples[1]);
  for (int s : {2, -1}) EXPECT_EQ(get_modux_sample(mod_, s), nullptr) << s;
  EXPECT_EQ(get_modux_sample(nullptr, 0), nullptr);
}

// A tick that holds the guard for 30 ms on a thread of its own, doing `inside` before it lets
// go; returns once the tick has entered (or found nothing to play).
std::thread tick_in_flight(std::function<void()> inside) {
  std::atomic<int> entered{0};
  std::thread tick([&entered, inside] {
    const int running = mod_tick_begin(&default_player);
    entered = 1;
    if (!running) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    inside();
    mod_tick_end(&default_player);
  });
  while (!entered) std::this_thread::yield();
  return tick;
}

// With a tick in flight on another thread, each call returns only after the tick has ended;
// next and previous read the position the tick has left (2), not the one before it.
TEST_F(Control, ControlCallsWaitForTheTickInFlight) {
  // clang-format off
  const struct { void (*call)(MODUX *); int skip_order /* the request left, or -1 */; } calls[] = {
      {[](MODUX *m) { destroy_mod(m); }, -1}, {[](MODUX *m) { play_mod(m, 0); }, -1}, {[](MODUX *) { stop_mod(); }, -1},
      {[](MODUX *) { goto_mod_track(1); }, 2}, {[](MODUX *) { pause_mod(); }, -1}, {[](MODUX *) { set_mod_volume(9); }, -1},
      {[](MODUX *) { next_mod_track(); }, 4}, {[](MODUX *) { prev_mod_track(); }, 2}};
  // clang-format on
  for (const auto &c : calls) {
    MODUX *mod = load_song(4);
    play_mod(mod, 0);
    std::atomic<int> finished{0};
    std::thread tick = tick_in_flight([&] {
      EXPECT_EQ(of->channel_count, 4);  // still the same, intact module
      mi.order = 2;
      finished = 1;
    });
    c.call(mod);
    EXPECT_EQ(finished, 1) << &c - calls;
    tick.join();
    EXPECT_TRUE(c.skip_order < 0 || mi.skip_order == c.skip_order)
        << &c - calls << ": " << mi.skip_order;
    mi.pause = 0;
    if (&c != calls) destroy_mod(mod);
  }
  EXPECT_EQ(of, nullptr);
}

// A tick held in its song-end path (the timer install of its own play_mod) while a control call
// waits on another thread: that call keeps ticks out all through its change, after the tick's too.
std::atomic<int> waiter_started{0}, held_once{0}, forbidden_seen{0}, tick_seen{0};
std::thread::id tick_thread;

// One tick on a thread of its own, started once tick_thread names that thread.
std::thread tick_on_its_thread() {
  static std::atomic<int> go;
  go = 0;
  std::thread tick([] {
    while (!go) std::this_thread::yield();
    mod_interrupt();
  });
  tick_thread = tick.get_id();
  go = 1;
  return tick;
}

int holding_install(void (*)(void), long speed) {
  installs.push_back(speed);
  if (std::this_thread::get_id() == tick_thread && !held_once.exchange(1)) {
    while (!waiter_started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));  // the waiter is spinning now
  } else if (std::this_thread::get_id() != tick_thread) {
    // Inside the waiting call's change: no tick may run now.
    forbidden_seen = default_player.forbidden.load();
    std::thread([] { mod_interrupt(); }).join();
    tick_seen = mi.tick.load();
  }
  return 0;
}

TEST_F(Control, ACallWaitingOnTheSongEndKeepsTheTickOut) {
  MODUX *other = load_song(2);
  play_mod(mod_, -1);
  goto_mod_track(3);  // past the end: the next tick ends the song and restarts it
  modux_install_int = holding_install;
  std::thread tick = tick_on_its_thread();
  while (!held_once) std::this_thread::yield();
  waiter_started = 1;
  play_mod(other, 0);
  tick.join();
  EXPECT_EQ(forbidden_seen, -1);
  EXPECT_EQ(tick_seen, -1);  // the other thread's tick did nothing
  EXPECT_EQ(default_player.forbidden, 0);
  EXPECT_EQ(of, other);
  destroy_mod(other);
}

// The tick changes the tempo and re-installs itself; a speed change made meanwhile on the main
// thread must not leave the period of the older rate installed, whichever install lands last.
int slow_install(void (*)(void), long speed) {
  if (std::this_thread::get_id() == tick_thread) {
    waiter_started = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  installs.push_back(speed);  // the period lands when the call returns
  return 0;
}

TEST_F(Control, TheLastInstalledPeriodFollowsTheLastTempoAndRatio) {
  play_mod(mod_, 0);
  mod_->patterns[mod_->order_table[0]].notes[0] = {0, 0, 0, CMD_SPEED_TEMPO, 0x40};
  waiter_started = 0;
  modux_install_int = slow_install;
  std::thread tick = tick_on_its_thread();
  while (!waiter_started) std::this_thread::yield();
  set_mod_speed(200);
  tick.join();
  ASSERT_FALSE(installs.empty());
  EXPECT_EQ(installs.back(), mod_timer_period(0x40, 200));
}

// Control calls in random order against a running tick, songs ending and looping while others
// start: nothing crashes or races (the sanitizer builds see to that), the guard ends down.
TEST_F(Control, RandomControlCallsAgainstARunningTick) {
  std::atomic<int> stop{0};
  std::thread timer([&] {
    while (!stop) mod_interrupt();
  });
  unsigned seed = 12345;
  MODUX *songs[2] = {load_song(4), load_song(3)};
  for (int i = 0; i < 20000; i++) {
    seed = seed * 1103515245 + 12345;
    const int pick = (seed >> 16) % 11;
    MODUX *&song = songs[(seed >> 8) & 1];
    switch (pick) {
      case 0: play_mod(song, (seed >> 4) & 3); break;
      case 1: stop_mod(); break;
      case 2: destroy_mod(song), song = load_song(2 + (seed & 3)); break;
      case 3: pause_mod(); break;
      case 4: resume_mod(); break;
      case 5: toggle_pause_mode(); break;
      case 6: next_mod_track(); break;
      case 7: prev_mod_track(); break;
      case 8: goto_mod_track((seed >> 3) & 3); break;  // 3 is past the end: the song ends or loops
      case 9: set_mod_speed(50 + (seed & 255)); break;
      default: set_mod_volume(seed & 255); break;
    }
  }
  stop = 1;
  timer.join();
  for (MODUX *song : songs) destroy_mod(song);
  EXPECT_EQ(default_player.forbidden, 0);
  mi.pause = 0;
}

}  // namespace
