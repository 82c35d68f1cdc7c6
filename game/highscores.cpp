// The high-score table: its file "vorbel.hsc" (15 entries of 28 bytes), the insertion of a
// game's result at its rank, the name entry, and the high-score screen with Exit and Reset.
// The table is written whenever it changes, always through a new file renamed over the old one.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Template.h"

namespace {

constexpr int kEntrySize = 28;
constexpr int kNameMax = 14;  // characters a player can type; a stored name may hold 15

// Layout of the name entry dialogue and of the screens a name is shown on.
constexpr int kFieldX = 155;         // where the typed name starts
constexpr int kFieldRight = 288;     // last pixel inside the entry field
constexpr int kListNameEnd = 372;    // a name in the list ends before the score column (380)

int Get32(const unsigned char* b) { return int32_t(uint32_t(b[0] | b[1] << 8 | b[2] << 16 | uint32_t(b[3]) << 24)); }

void Put32(unsigned char* b, int v) {
  for (int k = 0; k < 4; k++) b[k] = uint8_t((uint32_t(v) >> (8 * k)) & 0xff);
}

FONT* ListFont() { return GraphicFont(GFX_FONT_STATUS); }

void FillPattern(int x1, int y1, int x2, int y2) {
  drawing_mode(DRAW_MODE_COPY_PATTERN, Graphic(GFX_PATTERN), 0, 0);
  rectfill(screen, x1, y1, x2, y2, 1);
  solid_mode();
}

void DrawNameField() {
  rectfill(screen, 150, 200, 290, 240, 0);
  rect(screen, 150, 200, 290, 240, 142);
}

void DrawTypedName(FONT* f) {
  text_mode(0);
  textout(screen, f, text, kFieldX, 212, 15);
  textout(screen, f, "_", kFieldX + text_length(f, text), 212, 15);
}

}  // namespace

int WriteFileSafely(const char* path, const void* data, int size) {
  const std::string fresh = std::string(path) + ".new";
  FILE* f = fopen(fresh.c_str(), "wb");
  if (!f) return 0;
  bool ok = fwrite(data, 1, size_t(size), f) == size_t(size);
  ok = fflush(f) == 0 && ok;
  ok = ok && fsync(fileno(f)) == 0;  // on the disk before it replaces anything
  ok = fclose(f) == 0 && ok;
  if (ok && rename(fresh.c_str(), path) == 0) return -1;
  remove(fresh.c_str());
  return 0;
}

void DefaultHighScore(highscore_struct* entry) {
  std::memset(entry, 0, sizeof *entry);
  entry->score = 0;
  entry->level = 1;
  entry->bugs_eaten = 0;
  std::strcpy(entry->name, "Vorbel-Endurant");
}

void ResetHighScores() {
  for (highscore_struct& e : HighScores) DefaultHighScore(&e);
}

// A short or damaged file must not break the table: entries the file does not cover keep the
// default, every name is cut to its field, and a level below 1 reads as 1.
void LoadHighScores() {
  ResetHighScores();
  if (!FileExist("vorbel.hsc")) return;
  FILE* f = fopen("vorbel.hsc", "rb");
  if (!f) Error("Error reading file: vorbel.hsc\nDelete it and try running again.\n");
  unsigned char bytes[NUM_HIGHSCORES * kEntrySize];
  size_t whole = fread(bytes, kEntrySize, NUM_HIGHSCORES, f);
  fclose(f);
  for (size_t i = 0; i < whole; i++) {
    const unsigned char* b = bytes + kEntrySize * i;
    highscore_struct& e = HighScores[i];
    e.score = Get32(b);
    e.level = Get32(b + 4);
    e.bugs_eaten = Get32(b + 8);
    std::memcpy(e.name, b + 12, sizeof e.name);
    e.name[sizeof e.name - 1] = 0;
    if (e.level < 1) e.level = 1;
    if (e.bugs_eaten < 0) e.bugs_eaten = 0;
  }
}

int SaveHighScores() {
  unsigned char bytes[NUM_HIGHSCORES * kEntrySize] = {};
  for (int i = 0; i < NUM_HIGHSCORES; i++) {
    unsigned char* b = bytes + kEntrySize * i;
    const highscore_struct& e = HighScores[i];
    Put32(b, e.score);
    Put32(b + 4, e.level);
    Put32(b + 8, e.bugs_eaten);
    std::strncpy(reinterpret_cast<char*>(b + 12), e.name, sizeof e.name - 1);
  }
  return WriteFileSafely("vorbel.hsc", bytes, sizeof bytes);
}

// Equal scores keep the order they came in: the new entry goes below all of them, and a score
// equal to the last entry's does not qualify.
int InsertHighScore(int score, int level, int bugs_eaten) {
  if (score <= HighScores[NUM_HIGHSCORES - 1].score) return -1;
  int i = NUM_HIGHSCORES - 1;
  while (i >= 0 && HighScores[i].score < score) {
    if (i > 0) HighScores[i] = HighScores[i - 1];
    i--;
  }
  highscore_struct& e = HighScores[i + 1];
  std::memset(&e, 0, sizeof e);
  e.score = score;
  e.level = level;
  e.bugs_eaten = bugs_eaten;
  return i + 1;
}

void ClipText(FONT* f, const char* s, int width, char* out, int size) {
  int n = 0;
  out[0] = 0;
  while (s[n] && n < size - 1) {
    out[n] = s[n];
    out[n + 1] = 0;
    if (text_length(f, out) > width) {
      out[n] = 0;
      break;
    }
    n++;
  }
}

// A character is taken only while the name and the cursor after it stay inside the field.
int NameKey(char* name, int c, int scancode, FONT* f) {
  int n = int(std::strlen(name));
  if (c >= 32 && c <= 126 && n < kNameMax) {
    name[n] = char(c);
    name[n + 1] = 0;
    if (kFieldX + text_length(f, name) + text_length(f, "_") <= kFieldRight) return NAME_TYPED;
    name[n] = 0;
    return NAME_IGNORED;
  }
  if (scancode == KEY_BACKSPACE && n >= 1) {
    name[n - 1] = 0;
    return NAME_ERASED;
  }
  return scancode == KEY_ENTER ? NAME_DONE : NAME_IGNORED;
}

void GetHighScore() {
  FillPattern(100, 150, 340, 280);
  text_mode(-1);
  rect(screen, 100, 150, 340, 280, 142);
  textout_centre(screen, GraphicFont(GFX_FONT_BUTTON), "You got high score", 210, 160, 15);
  DrawNameField();

  FONT* f = ListFont();
  text[0] = 0;
  // The Space that ended the game-over message may still be held: its repeats are no name.
  while (key[KEY_SPACE]) rest(1);
  clear_keybuf();
  DrawTypedName(f);
  for (;;) {
    while (!keypressed()) {
      if (LeaveRequested()) {  // the program is ending: the name stands as typed so far
        text_mode(-1);
        return;
      }
      rest(1);
    }
    int k = readkey();
    switch (NameKey(text, k & 0xff, k >> 8, f)) {
      case NAME_TYPED: PlaySoundA(9); break;
      case NAME_ERASED:
        PlaySoundA(9);
        rectfill(screen, 151, 201, 289, 239, 0);
        break;
      case NAME_DONE: text_mode(-1); return;
      default: break;
    }
    DrawTypedName(f);
  }
}

// The screen's own size (SCREEN_W and SCREEN_H in the game) also holds for a screen in memory.
void DrawHighScores() {
  show_mouse(nullptr);
  const int w = screen->w, h = screen->h;
  clear_to_color(screen, 0);
  FillPattern(0, 0, w, h);
  text_mode(-1);
  rect(screen, 0, 0, w - 1, h - 1, 29);
  textout_centre(screen, GraphicFont(GFX_FONT_LARGE), "H I G H   S C O R E S", w / 2, 20, 15);
  FONT* f = ListFont();
  textout(screen, f, "Name", 150, 60, 15);
  textout(screen, f, "Score", 380, 60, 15);
  textout(screen, f, "Level", 450, 60, 15);
  textout(screen, f, "Bugs Eaten", 520, 60, 15);
  for (int i = 0; i < NUM_HIGHSCORES; i++) {
    const highscore_struct& e = HighScores[i];
    const int y = 80 + 20 * i;
    char rank[16], name[sizeof e.name];
    snprintf(rank, sizeof rank, "%2d     ", i + 1);
    ClipText(f, e.name, kListNameEnd - 55 - text_length(f, rank), name, sizeof name);
    snprintf(text, sizeof text, "%s%s", rank, name);
    textout(screen, f, text, 55, y, 15);
    snprintf(text, sizeof text, "%07d", e.score);
    textout(screen, f, text, 380, y, 15);
    snprintf(text, sizeof text, "%02d", e.level);
    textout(screen, f, text, 460, y, 15);
    snprintf(text, sizeof text, "%03d", e.bugs_eaten);
    textout(screen, f, text, 545, y, 15);
  }
  show_mouse(screen);
}

void ViewHighScores() {
  PlaySong();
  BITMAP* face = Graphic(GFX_BUTTON_FACE);
  Button exit_button("E x i t", 100, 420, 300, 450, 15, 25, face);
  Button reset_button("R e s e t", 340, 420, 540, 450, 15, 25, face);
  DrawHighScores();
  exit_button.DrawButton();
  reset_button.DrawButton();
  for (;;) {
    if (exit_button.Clicked()) break;
    if (reset_button.Clicked()) {
      ResetHighScores();
      SaveHighScores();
      DrawHighScores();
      exit_button.DrawButton();
      reset_button.DrawButton();
      continue;
    }
    if (key[KEY_ESC] || LeaveRequested()) break;
    rest(1);  // a polling screen need not hold a whole core
  }
}

void GotHighScore() {
  if (vorbel.score <= HighScores[NUM_HIGHSCORES - 1].score) return;
  if (sound_on) PlaySoundA(8);
  int at = InsertHighScore(vorbel.score, current_map_played + 1, vorbel.bugs_eaten);
  GetHighScore();
  char* name = HighScores[at].name;
  size_t n = strnlen(text, sizeof HighScores[at].name - 1);
  std::memcpy(name, text, n);
  name[n] = 0;
  SaveHighScores();
  ViewHighScores();
}
