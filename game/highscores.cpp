// The high-score table: its file "vorbel.hsc" (15 entries of 28 bytes), the insertion of a
// game's result at its rank, the name entry, and the high-score screen with Exit and Reset.
// The table is written whenever it changes, always through a new file renamed over the old one.
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstring>
#include <string>

#include "Template.h"
#include "lebytes.h"
#include "safefile.h"

namespace {

constexpr int kEntrySize = 28;
constexpr int kNameMax = 14;  // characters a player can type; a stored name may hold 15

// Layout of the name entry dialogue and of the screens a name is shown on.
constexpr int kFieldX = 155;       // where the typed name starts
constexpr int kFieldRight = 288;   // last pixel inside the entry field
constexpr int kListNameEnd = 372;  // a name in the list ends before the score column (380)

FONT *ListFont() { return GraphicFont(GFX_FONT_STATUS); }

void DrawNameField() {
  rectfill(screen, 150, 200, 290, 240, 0);
  rect(screen, 150, 200, 290, 240, 142);
}

void DrawTypedName(FONT *f) {
  text_mode(0);
  textout(screen, f, text, kFieldX, 212, 15);
  textout(screen, f, "_", kFieldX + text_length(f, text), 212, 15);
}

}  // namespace

char player_name[16] = "Vorbel-Endurant";

int WriteFileSafely(const char *path, const void *data, int size) {
  const int why = safefile::write_whole(path, data, size_t(size));
  errno = why;  // the caller reports why
  return why ? 0 : -1;
}

void DefaultHighScore(highscore_struct *entry) {
  std::memset(entry, 0, sizeof *entry);
  entry->score = 0;
  entry->level = 1;
  entry->bugs_eaten = 0;
  std::strcpy(entry->name, "Vorbel-Endurant");
}

void ResetHighScores() {
  for (highscore_struct &e : HighScores) DefaultHighScore(&e);
}

// Every entry must be one the game itself could have written: a score in range and no higher
// than the one above it (insertion relies on the order), a level and a bug count in range, and a
// terminated name of printable characters. Answers -1, or 0 with the first fault in `why`.
int CheckHighScores(const highscore_struct *table, char *why, int size) {
  for (int i = 0; i < NUM_HIGHSCORES; i++) {
    const highscore_struct &e = table[i];
    const char *fault = nullptr;
    if (e.score < 0 || e.score > MAX_SCORE)
      fault = "the score is out of range";
    else if (i > 0 && e.score > table[i - 1].score)
      fault = "the scores are out of order";
    else if (e.level < 1 || e.level > MAX_LEVEL)
      fault = "the level is out of range";
    else if (e.bugs_eaten < 0 || e.bugs_eaten > MAX_BUGS_EATEN)
      fault = "the bug count is out of range";
    else if (!memchr(e.name, 0, sizeof e.name))
      fault = "the name has no end";
    for (const char *c = e.name; !fault && *c; c++)
      if (*c < 32 || *c > 126) fault = "the name holds a character that cannot be shown";
    if (fault) {
      if (why && size > 0) snprintf(why, size_t(size), "entry %d: %s", i + 1, fault);
      return 0;
    }
  }
  return -1;
}

// A damaged table is moved aside under a name no file has (never deleted, never written over)
// and the game starts from the defaults; the player is told where it went.
static void SetAside(const char *why) {
  char aside[64];
  for (int n = 0; n < 100; n++) {
    snprintf(aside, sizeof aside, n ? "vorbel.hsc.damaged%d" : "vorbel.hsc.damaged", n);
    if (!file_exists(aside, FA_ALL, nullptr)) break;
  }
  if (rename("vorbel.hsc", aside) == 0)
    printf("vorbel.hsc is damaged (%s): it is kept as %s and the table starts from the defaults.\n",
           why, aside);
  else
    printf(
        "vorbel.hsc is damaged (%s) and could not be set aside: the table starts from the "
        "defaults.\n",
        why);
}

int HighScoresFromBytes(const unsigned char *bytes, size_t n, highscore_struct *table, char *why,
                        int size) {
  if (n != NUM_HIGHSCORES * kEntrySize) {
    if (why && size > 0 && n > NUM_HIGHSCORES * kEntrySize)
      snprintf(why, size_t(size), "longer than the %d bytes of a table",
               NUM_HIGHSCORES * kEntrySize);
    else if (why && size > 0)
      snprintf(why, size_t(size), "%zu bytes, a table has %d", n, NUM_HIGHSCORES * kEntrySize);
    return 0;
  }
  highscore_struct read[NUM_HIGHSCORES];
  for (int i = 0; i < NUM_HIGHSCORES; i++) {
    const unsigned char *b = bytes + kEntrySize * i;
    highscore_struct &e = read[i];
    e.score = Get32(b);
    e.level = Get32(b + 4);
    e.bugs_eaten = Get32(b + 8);
    std::memcpy(e.name, b + 12, sizeof e.name);
  }
  if (!CheckHighScores(read, why, size)) return 0;
  std::memcpy(table, read, sizeof read);
  return -1;
}

void LoadHighScores() {
  ResetHighScores();
  // A new table that a kill stopped before it replaced the old one is of no use.
  if (safefile::not_regular("vorbel.hsc.new").empty()) remove("vorbel.hsc.new");
  if (!file_exists("vorbel.hsc", FA_ALL, nullptr)) return;
  char why[96];
  FILE *f = ReadableFile("vorbel.hsc", why, sizeof why);
  if (!f) {
    char message[160];
    snprintf(message, sizeof message, "Error reading file: vorbel.hsc (%s)", why);
    Error(message);
  }
  unsigned char bytes[NUM_HIGHSCORES * kEntrySize + 1];
  size_t n = fread(bytes, 1, sizeof bytes, f);
  fclose(f);
  if (!HighScoresFromBytes(bytes, n, HighScores, why, sizeof why)) SetAside(why);
}

// The table that cannot be written stays in memory whole, so a later write (the next entry, a
// Reset, the exit) can still succeed. A screen with a player before it says so in an alert; at
// the end of the program, or with nobody there, standard output does.
int StoreHighScores() {
  if (replay_mode == REPLAY_PLAY || replay_fast)
    return -1;  // a replay shows a game; it is no new result
  if (SaveHighScores()) return -1;
  char why[128];
  snprintf(why, sizeof why, "%s: the table is kept until it can be written.", strerror(errno));
  if (screen && gfx_driver && !LeaveRequested() && !replay_fast)
    ShowAlert("Error writing file: vorbel.hsc", why);
  else
    printf("Error writing file: vorbel.hsc\n%s\n", why);
  return 0;
}

int SaveHighScores() {
  unsigned char bytes[NUM_HIGHSCORES * kEntrySize] = {};
  for (int i = 0; i < NUM_HIGHSCORES; i++) {
    unsigned char *b = bytes + kEntrySize * i;
    const highscore_struct &e = HighScores[i];
    Put32(b, e.score);
    Put32(b + 4, e.level);
    Put32(b + 8, e.bugs_eaten);
    std::strncpy(reinterpret_cast<char *>(b + 12), e.name, sizeof e.name - 1);
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
  highscore_struct &e = HighScores[i + 1];
  std::memset(&e, 0, sizeof e);
  e.score = score;
  e.level = level;
  e.bugs_eaten = bugs_eaten;
  return i + 1;
}

void ClipText(FONT *f, const char *s, int width, char *out, int size) {
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
int NameKey(char *name, int c, int scancode, FONT *f) {
  int n = int(std::strlen(name));
  if (c >= 32 && c <= 126 && n < kNameMax && (n > 0 || c != ' ')) {  // no name starts with a space
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

  FONT *f = ListFont();
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
      case NAME_TYPED: PlaySoundA(SND_KEY); break;
      case NAME_ERASED:
        PlaySoundA(SND_KEY);
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
  FONT *f = ListFont();
  textout(screen, f, "Name", 150, 60, 15);
  textout(screen, f, "Score", 380, 60, 15);
  textout(screen, f, "Level", 450, 60, 15);
  textout(screen, f, "Bugs Eaten", 520, 60, 15);
  for (int i = 0; i < NUM_HIGHSCORES; i++) {
    const highscore_struct &e = HighScores[i];
    const int y = 80 + 20 * i;
    char rank[24], name[sizeof e.name];
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
  BITMAP *face = Graphic(GFX_BUTTON_FACE);
  Button exit_button("E x i t", 100, 420, 300, 450, 15, 25, face);
  Button reset_button("R e s e t", 340, 420, 540, 450, 15, 25, face);
  DrawHighScores();
  exit_button.DrawButton();
  reset_button.DrawButton();
  for (;;) {
    if (exit_button.Clicked()) break;
    if (reset_button.Clicked()) {
      ResetHighScores();
      StoreHighScores();
      DrawHighScores();
      exit_button.DrawButton();
      reset_button.DrawButton();
      continue;
    }
    if (key[KEY_ESC] || LeaveRequested()) break;
    rest(1);  // a polling screen need not hold a whole core
  }
}

// The entry takes the name typed; an empty one, or none because the program is ending (a signal
// or the close button: nobody is there to type), takes the last name typed in this run, at first
// the default. A replay takes the name its recording holds.
void GotHighScore() {
  if (vorbel.score <= HighScores[NUM_HIGHSCORES - 1].score) return;
  const int quiet = LeaveRequested() || replay_fast;
  if (sound_on && !quiet) PlaySoundA(SND_HIGH_SCORE);
  int at = InsertHighScore(vorbel.score, current_map_played + 1, vorbel.bugs_eaten);
  text[0] = 0;
  if (replay_mode == REPLAY_PLAY) {
    ReplayName(text, sizeof HighScores[at].name);
  } else if (!quiet) {
    if (gmap && map_bitmap) DrawGameMap();  // the game-over lines go before the box comes
    GetHighScore();
  }
  if (text[0]) {
    size_t n = strnlen(text, sizeof player_name - 1);
    std::memcpy(player_name, text, n);
    player_name[n] = 0;
  }
  std::memcpy(HighScores[at].name, player_name, sizeof player_name);
  if (replay_mode == REPLAY_RECORD) RecordName(player_name);
  StoreHighScores();
  if (quiet || LeaveRequested()) return;
  if (replay_mode == REPLAY_PLAY) {  // a replay being watched shows the table a moment, unwritten
    DrawHighScores();
    rest(2000);
  } else {
    ViewHighScores();
  }
}
