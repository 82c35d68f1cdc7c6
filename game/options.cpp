// The options screen: sound effects and music on or off, their volumes and the difficulty. The
// settings live in the game state's globals and are kept in "vorbel.cfg" beside the high-score
// table: written when the screen is left, read back at start.
#include "Template.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "modux.h"
#include "safefile.h"

namespace {

const char *const kDifficultyNames[3] = {"Easy", "Normal", "Hard"};

const char *DifficultyName() {
  return dif_level >= 0 && dif_level <= 2 ? kDifficultyNames[dif_level] : "";
}

// One arrow click on a volume: a step of 10 within 0..250, shown on its value button and applied;
// at the end of the range nothing changes and nothing is drawn.
void StepVolume(int *volume, int step, Button *value) {
  if (*volume + step < 0 || *volume + step > 250) return;
  *volume += step;
  sprintf(text, "%d", *volume);
  value->ChangeName(text);
  value->DrawButton();
  ApplyVolumes();
}

void DrawOptionsScreen() {
  show_mouse(nullptr);
  clear_to_color(screen, 0);
  FillPattern(0, 0, SCREEN_W, SCREEN_H);
  text_mode(-1);
  rect(screen, 0, 0, SCREEN_W - 1, SCREEN_H - 1, 29);
  FONT *large = GraphicFont(GFX_FONT_LARGE);
  FONT *small = GraphicFont(GFX_FONT_BUTTON);
  textout_centre(screen, large, "O P T I O N S", SCREEN_W / 2, 20, 15);
  textout_centre(screen, small, "Sound Volume", 195, 160, 15);
  textout_centre(screen, small, "Music Volume", 455, 160, 15);
  textout_centre(screen, small, "Difficulty Level", SCREEN_W / 2, 260, 15);
}

const char kOptionsFile[] = "vorbel.cfg";

}  // namespace

std::string OptionsText() {
  char t[160];
  snprintf(t, sizeof t, "sound %s\nmusic %s\nsound_volume %d\nmusic_volume %d\ndifficulty %s\n",
           sound_on ? "on" : "off", music_on ? "on" : "off", sound_volume, music_volume,
           DifficultyName());
  return t;
}

// Every line "key value", each of the five keys once; nothing is changed unless all are sound.
int ParseOptions(const char *b, size_t n, char *why, int size) {
  int on[2] = {}, volume[2] = {}, level = 0, seen = 0, line = 0;
  auto refuse = [&](const char *fault) {
    if (why && size > 0) snprintf(why, size_t(size), "line %d: %s", line, fault);
    return 0;
  };
  for (size_t at = 0; at < n;) {
    line++;
    const char *end = static_cast<const char *>(std::memchr(b + at, '\n', n - at));
    const size_t len = (end ? size_t(end - b) : n) - at;
    const std::string l(b + at, len);
    at += len + 1;
    char name[16], value[16], extra;
    if (l.size() > 40 || std::sscanf(l.c_str(), "%15s %15s %c", name, value, &extra) != 2)
      return refuse("not a \"key value\" line");
    static const char *const kKeys[] = {"sound", "music", "sound_volume", "music_volume",
                                        "difficulty"};
    int k = 0;
    while (k < 5 && std::strcmp(name, kKeys[k]) != 0) k++;
    if (k == 5) return refuse("unknown key");
    if (seen & (1 << k)) return refuse("a key given twice");
    seen |= 1 << k;
    int v = -1, used = 0;
    if (k < 2) {
      v = !std::strcmp(value, "on") ? -1 : !std::strcmp(value, "off") ? 0 : 1;
      on[k] = v;
    } else if (k < 4) {
      if (std::sscanf(value, "%3d%n", &v, &used) != 1 || value[used]) v = -1;
      volume[k - 2] = v;
    } else {
      for (v = 2; v >= 0 && std::strcmp(value, kDifficultyNames[v]) != 0;) v--;
      level = v;
    }
    if (k < 2 ? v > 0 : k < 4 ? v < 0 || v > 250 : v < 0) return refuse("a value out of range");
  }
  if (seen != 31) {
    if (why && size > 0) snprintf(why, size_t(size), "a setting is missing");
    return 0;
  }
  sound_on = on[0], music_on = on[1], sound_volume = volume[0], music_volume = volume[1];
  dif_level = level;
  return -1;
}

void LoadOptions() {
  if (access(kOptionsFile, F_OK) != 0) return;  // before Allegro: its file calls need it
  char b[1024], why[96] = "";
  std::string irregular = safefile::not_regular(kOptionsFile);
  FILE *f = irregular.empty() ? fopen(kOptionsFile, "rb") : nullptr;
  size_t n = f ? fread(b, 1, sizeof b, f) : 0;
  if (f) fclose(f);
  if (!irregular.empty())
    snprintf(why, sizeof why, "%s", irregular.c_str());
  else if (!f)
    snprintf(why, sizeof why, "%s", strerror(errno));
  else if (n == sizeof b)
    snprintf(why, sizeof why, "longer than %d bytes", int(sizeof b) - 1);
  if (!why[0] && ParseOptions(b, n, why, sizeof why)) return;
  printf("%s cannot be used (%s): the options start from their defaults.\n", kOptionsFile, why);
}

int SaveOptions() {
  const std::string t = OptionsText();
  if (WriteFileSafely(kOptionsFile, t.data(), int(t.size()))) return -1;
  ShowAlert("Error writing file: vorbel.cfg", strerror(errno));
  return 0;
}

// Effects and music each follow only their own setting: an effect plays at sound_volume (the
// sample's play volume, PlaySoundA and the buttons), the music at the engine's own volume. The
// mixer's overall digital volume scales every voice, the music's included, so it stays at full.
// Start-up applies both, so the first click on an arrow moves the volume from where it really is.
void ApplyVolumes() {
  set_volume(255, -1);
  set_mod_volume(music_volume * 255 / 250);
}

void Options() {
  PlaySong();
  fade_out(10);

  BITMAP *face = Graphic(GFX_BUTTON_FACE);
  BITMAP *down = Graphic(GFX_ARROW_LEFT);
  BITMAP *up = Graphic(GFX_ARROW_RIGHT);
  Button exit_button("E x i t", 215, 400, 425, 430, 15, 25, face);
  Button sound_switch(sound_on ? "Sound On" : "Sound Off", 80, 100, 290, 130, 15, 25, face);
  Button music_switch(music_on ? "Music On" : "Music Off", 350, 100, 560, 130, 15, 25, face);
  Button sound_down(nullptr, 80, 200, 110, 230, 15, 25, down);
  sprintf(text, "%d", sound_volume);
  Button sound_value(text, 111, 200, 259, 230, 15, 25, face);
  Button sound_up(nullptr, 260, 200, 290, 230, 15, 25, up);
  Button music_down(nullptr, 350, 200, 380, 230, 15, 25, down);
  sprintf(text, "%d", music_volume);
  Button music_value(text, 381, 200, 529, 230, 15, 25, face);
  Button music_up(nullptr, 530, 200, 560, 230, 15, 25, up);
  Button level_down(nullptr, 215, 300, 245, 330, 15, 25, down);
  Button level_value(DifficultyName(), 246, 300, 394, 330, 15, 25, face);
  Button level_up(nullptr, 395, 300, 425, 330, 15, 25, up);

  DrawOptionsScreen();
  show_mouse(screen);
  for (Button *b :
       {&exit_button, &sound_switch, &music_switch, &sound_down, &sound_value, &sound_up,
        &music_down, &music_value, &music_up, &level_down, &level_value, &level_up})
    b->DrawButton();
  show_mouse(nullptr);
  fade_in(GamePalette(), 5);
  show_mouse(screen);

  for (;;) {
    if (exit_button.Clicked() || LeaveRequested()) {
      break;
    } else if (sound_switch.Clicked()) {
      sound_on = sound_on ? 0 : -1;
      sound_switch.ChangeName(sound_on ? "Sound On" : "Sound Off");
      sound_switch.DrawButton();
    } else if (music_switch.Clicked()) {
      if (!music_on) {
        music_on = -1;
        PlaySong();
        music_switch.ChangeName("Music On");
      } else {
        music_on = 0;
        stop_mod();
        music_switch.ChangeName("Music Off");
      }
      music_switch.DrawButton();
    } else if (sound_up.Clicked()) {
      StepVolume(&sound_volume, 10, &sound_value);
    } else if (sound_down.Clicked()) {
      StepVolume(&sound_volume, -10, &sound_value);
    } else if (music_up.Clicked()) {
      StepVolume(&music_volume, 10, &music_value);
    } else if (music_down.Clicked()) {
      StepVolume(&music_volume, -10, &music_value);
    } else if (level_up.Clicked()) {
      if (dif_level < 2) {
        dif_level++;
        level_value.ChangeName(DifficultyName());
        level_value.DrawButton();
      }
    } else if (level_down.Clicked()) {
      if (dif_level > 0) {
        dif_level--;
        level_value.ChangeName(DifficultyName());
        level_value.DrawButton();
      }
    }
    rest(1);  // a polling screen need not hold a whole core
  }
  SaveOptions();
  fade_out(10);
}
