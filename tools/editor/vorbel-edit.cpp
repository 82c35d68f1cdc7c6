// vorbel-edit, the level editor: draws a level with the mouse in the game's own look (its palette,
// tiles, pictures, fonts and buttons), checks it with the checks of vorbel-mapc and marks each
// problem on the map, saves the text form and the map file, and play-tests the level in the game.
// Usage: vorbel-edit [LEVEL.txt | LEVEL.map]   (run in the game's folder, beside its datafiles)
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Template.h"
#include "editmodel.h"
#include "platform.h"

namespace {

using editor::kFields;
using editor::kNumFields;
using editor::kNumTools;
using editor::kTools;
using mapgen::CellPos;
using mapgen::kMapSize;
using mapgen::Level;

constexpr int kMazeX = 20, kMazeY = 20;  // the maze's place on the screen, as in the game
constexpr int kToolX = 478, kToolY = 22, kToolStep = 25, kToolsPerRow = 6;
constexpr int kFieldY = 172, kFieldStep = 16;    // rows of the header fields in the lower box
constexpr int kStatusY = 461, kStatusStep = 10;  // the two message lines under the maze
constexpr int kPanelX = 476, kPanelW = 153;      // text in the panel's boxes, frame to frame

// The editor's whole state: the level, where it is saved, its history and what the checks say.
struct Editor {
  Level level;
  std::string path;  // the text form's file; the map file lies beside it with ".map"
  editor::History history;
  std::vector<mapgen::Problem> problems;
  int tool = 0;
  bool rect_mode = false;
  bool dirty = false;
  std::string message;
  int red = 0, yellow = 0, white = 15, grey = 8;  // palette indices found in the game's palette
};

std::atomic<int> close_clicked{0};
void OnClose() { close_clicked = 1; }

// The palette entry nearest to a colour (0..63 per channel, as Allegro's palettes hold them).
int NearestColour(const RGB *pal, int r, int g, int b) {
  int best = 1, best_d = 1 << 30;
  for (int i = 1; i < 256; i++) {
    int d = (pal[i].r - r) * (pal[i].r - r) + (pal[i].g - g) * (pal[i].g - g) +
            (pal[i].b - b) * (pal[i].b - b);
    if (d < best_d) best = i, best_d = d;
  }
  return best;
}

std::string MapPathOf(const std::string &text_path) {
  std::string p = text_path;
  size_t dot = p.rfind('.'), slash = p.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) p.erase(dot);
  return p + ".map";
}

std::string TextPathOf(const std::string &path) {
  if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".map") == 0)
    return path.substr(0, path.size() - 4) + ".txt";
  return path;
}

BITMAP *Sprite(int n) {
  if (n < 0 || n >= num_sprites || sprites[n].type != DAT_BITMAP) return nullptr;
  return static_cast<BITMAP *>(sprites[n].dat);
}

// What a tool puts on the map, drawn at (x, y) of a bitmap: the picture the game shows for it.
void DrawToolPicture(const Editor &ed, BITMAP *bmp, const editor::Tool &t, int x, int y) {
  BITMAP *s = nullptr;
  switch (t.kind) {
    case editor::ToolKind::Wall:
      DrawCellPicture(bmp, ed.level.wall_set * 100 + WallTile(0), CELL_WALL, x, y);
      break;
    case editor::ToolKind::Ball:
    case editor::ToolKind::PowerBall:
      DrawCellPicture(bmp, ed.level.ball_set * 100 + t.value, t.value, x, y);
      break;
    case editor::ToolKind::Decoration:
      DrawCellPicture(bmp, mapgen::kDecorationBase + t.value, t.value, x, y);
      break;
    case editor::ToolKind::VorbelStart: s = Sprite(SPR_VORBEL_RIGHT); break;
    case editor::ToolKind::BugStart: s = Sprite(ed.level.bug_sprite); break;
    case editor::ToolKind::Floor:  // the empty cell it leaves, outlined
      rect(bmp, x + 1, y + 1, x + CELL - 2, y + CELL - 2, ed.grey);
      line(bmp, x + 1, y + CELL - 2, x + CELL - 2, y + 1, ed.grey);
      break;
  }
  if (s) draw_sprite(bmp, s, x, y);
}

void DrawMaze(const Editor &ed) {
  clear_to_color(map_bitmap, 0);
  for (int x = 0; x < kMapSize; x++)
    for (int y = 0; y < kMapSize; y++) {
      int code = mapgen::cell_code(ed.level, x, y);
      DrawCellPicture(map_bitmap, code, CellValue(code), CELL * x, CELL * y);
    }
  if (BITMAP *b = Sprite(ed.level.bug_sprite))
    draw_sprite(map_bitmap, b, CELL * ed.level.bug_start.x, CELL * ed.level.bug_start.y);
  if (BITMAP *v = Sprite(SPR_VORBEL_RIGHT))
    draw_sprite(map_bitmap, v, CELL * ed.level.vorbel_start.x, CELL * ed.level.vorbel_start.y);
  for (const mapgen::Problem &p : ed.problems) {
    if (p.cell.x < 0 || p.cell.y < 0 || p.cell.x >= kMapSize || p.cell.y >= kMapSize) continue;
    int px = CELL * p.cell.x, py = CELL * p.cell.y;
    rect(map_bitmap, px, py, px + CELL - 1, py + CELL - 1, ed.red);
    rect(map_bitmap, px + 1, py + 1, px + CELL - 2, py + CELL - 2, ed.red);
  }
  scare_mouse();
  blit(map_bitmap, screen, 0, 0, kMazeX, kMazeY, kMapSize * CELL, kMapSize * CELL);
  unscare_mouse();
}

// A text in lines of at most `width` pixels, broken at a space when one lies in the line's second
// half, else (a long path) inside the word.
std::vector<std::string> Wrap(std::string rest, int width) {
  std::vector<std::string> lines;
  do {
    size_t n = rest.size();
    while (n > 1 && text_length(font, rest.substr(0, n).c_str()) > width) n--;
    const size_t space = n < rest.size() ? rest.rfind(' ', n) : std::string::npos;
    if (space != std::string::npos && space > n / 2) n = space;
    lines.push_back(rest.substr(0, n));
    rest.erase(0, n < rest.size() && rest[n] == ' ' ? n + 1 : n);
  } while (!rest.empty());
  return lines;
}

// A line of the default font on black, cut at the right edge of `width`.
void TextLine(const std::string &s, int x, int y, int width, int colour) {
  scare_mouse();
  rectfill(screen, x, y, x + width - 1, y + text_height(font) - 1, 0);
  text_mode(-1);
  std::string cut = s;
  while (!cut.empty() && text_length(font, cut.c_str()) > width) cut.pop_back();
  textout(screen, font, cut.c_str(), x, y, colour);
  unscare_mouse();
}

// The top line names the file and counts the problems; the bottom line shows the problem under
// the pointer, else the last message, else the first problem about the level as a whole.
void DrawLines(const Editor &ed, int hover) {
  // A path too long for the line loses its start, so the count of problems stays in sight.
  std::string path = ed.path.empty() ? "(not saved)" : ed.path;
  const std::string tail =
      std::string(ed.dirty ? " *" : "") + " - " +
      (ed.problems.empty() ? "no problems: the level is playable"
                           : std::to_string(ed.problems.size()) +
                                 (ed.problems.size() == 1 ? " problem" : " problems"));
  while (path.size() > 4 && text_length(font, (path + tail).c_str()) > 600)
    path = "..." + path.substr(4);
  TextLine(path + tail, kMazeX, 1, 600, ed.problems.empty() ? ed.white : ed.yellow);
  std::string line = ed.message;
  if (hover >= 0) {
    line = ed.problems[size_t(hover)].text;
  } else if (line.empty()) {
    for (const mapgen::Problem &p : ed.problems)
      if (p.cell.x < 0) {
        line = p.text;
        break;
      }
    if (line.empty() && !ed.problems.empty())
      line = "The pointer on an outlined cell tells its problem.";
  }
  size_t colon = line.find(": ");
  if (hover >= 0 && colon != std::string::npos)
    line = line.substr(colon + 2);  // the file name is in the top line
  std::vector<std::string> lines = Wrap(line, 632);
  lines.resize(2);
  for (size_t i = 0; i < lines.size(); i++)
    TextLine(lines[i], 4, kStatusY + kStatusStep * int(i), 632, hover >= 0 ? ed.red : ed.white);
}

// The lower box's opaque lines, as the game's status lines are drawn.
void PanelLine(const char *s, int x, int y, int w, int colour) {
  FONT *f = GraphicFont(GFX_FONT_STATUS);
  scare_mouse();
  rectfill(screen, x, y, x + w - 1, y + text_height(f) - 1, 159);
  text_mode(-1);
  textout(screen, f, s, x, y, colour);
  unscare_mouse();
}

struct Panel {
  std::vector<Button> minus, plus;
  Button open{"Open", 478, 372, 548, 392, 15, 25, nullptr};
  Button save{"Save", 556, 372, 626, 392, 15, 25, nullptr};
  Button undo{"Undo", 478, 397, 548, 417, 15, 25, nullptr};
  Button redo{"Redo", 556, 397, 626, 417, 15, 25, nullptr};
  Button name{"Name", 478, 422, 548, 442, 15, 25, nullptr};
  Button play{"Play", 556, 422, 626, 442, 15, 25, nullptr};
  Panel() {
    for (int i = 0; i < kNumFields; i++) {
      int y = kFieldY + kFieldStep * i;
      minus.emplace_back("-", 588, y, 604, y + kFieldStep - 2, 15, 25, nullptr);
      plus.emplace_back("+", 608, y, 624, y + kFieldStep - 2, 15, 25, nullptr);
    }
  }
  std::vector<Button *> Actions() { return {&open, &save, &undo, &redo, &name, &play}; }
};

void DrawTools(const Editor &ed) {
  scare_mouse();
  for (int i = 0; i < kNumTools; i++) {
    int x = kToolX + kToolStep * (i % kToolsPerRow), y = kToolY + kToolStep * (i / kToolsPerRow);
    rectfill(screen, x, y, x + 23, y + 23, 0);
    DrawToolPicture(ed, screen, kTools[i], x + 2, y + 2);
    if (i == ed.tool) {
      rect(screen, x, y, x + 23, y + 23, ed.yellow);
      rect(screen, x + 1, y + 1, x + 22, y + 22, ed.yellow);
    } else {
      DrawFrame(x, y, x + 23, y + 23, 25, 15);
    }
  }
  rectfill(screen, kToolX - 4, 98, 627, 155, 0);  // the text block under the palette
  unscare_mouse();
  char line[80];
  std::snprintf(line, sizeof line, "%s (%c)", kTools[ed.tool].name,
                kTools[ed.tool].key == ' ' ? '_' : kTools[ed.tool].key);
  TextLine(line, kPanelX, 102, kPanelW, ed.white);
  TextLine(ed.rect_mode ? "Drag: rectangle (r)" : "Drag: paint (r)", kPanelX, 114, kPanelW,
           ed.white);
  TextLine("Name:", kPanelX, 130, kPanelW, ed.white);
  TextLine(ed.level.name, kPanelX, 142, kPanelW, ed.yellow);
}

void DrawFields(const Editor &ed, Panel &panel) {
  for (int i = 0; i < kNumFields; i++) {
    char line[48];
    std::snprintf(line, sizeof line, "%s: %d", kFields[i].label, editor::field_value(ed.level, i));
    PanelLine(line, kToolX, kFieldY + kFieldStep * i, 108, 15);
    panel.minus[size_t(i)].DrawButton();
    panel.plus[size_t(i)].DrawButton();
  }
}

void DrawAll(Editor &ed, Panel &panel) {
  scare_mouse();
  InitGameGraphics();
  rectfill(screen, 475, 170, 629, 449, 159);  // the lower box plain: no game picture behind fields
  unscare_mouse();
  DrawTools(ed);
  DrawFields(ed, panel);
  for (Button *b : panel.Actions()) b->DrawButton();
  DrawMaze(ed);
  DrawLines(ed, -1);
}

void Recheck(Editor &ed) { ed.problems = mapgen::level_problems(ed.level); }

// A finished edit: remembered for undo when it changed the level.
void Commit(Editor &ed, const Level &before) {
  if (mapgen::same_level(before, ed.level)) return;
  editor::remember(ed.history, before);
  ed.dirty = true;
  ed.message.clear();
  Recheck(ed);
}

// A message of any length in an alert box: cut into lines that fit the screen.
void Alert(const std::string &s) {
  std::string lines[3];
  std::string rest = s;
  for (std::string &l : lines) {
    if (rest.size() <= 70) {
      l = rest;
      rest.clear();
      break;
    }
    size_t cut = rest.rfind(' ', 70);
    if (cut == std::string::npos || cut == 0) cut = 70;
    l = rest.substr(0, cut);
    rest = rest.substr(cut + (rest[cut] == ' ' ? 1 : 0));
  }
  gui_fg_color = 15;
  gui_bg_color = 1;
  alert(lines[0].c_str(), lines[1].c_str(), lines[2].c_str(), "OK", nullptr, ALERT_ENTER, 0);
}

int Confirm(const char *question, const char *yes) {
  gui_fg_color = 15;
  gui_bg_color = 1;
  return alert(question, nullptr, nullptr, yes, "Cancel", ALERT_ENTER, ALERT_ESCAPE) == 1 ? -1 : 0;
}

// The file selector on the shared path buffer, opening in the folder of the custom levels.
int ChooseFile(const Editor &ed, const char *title, const char *extensions) {
  std::string start = ed.path;
  if (start.empty() && file_exists("custom", FA_DIREC | FA_RDONLY | FA_ARCH, nullptr))
    start = "custom/";
  std::snprintf(text, sizeof text, "%s", start.c_str());
  return FileDialog(title, extensions);
}

// Saves the text form, and the map file when the checks pass. -1 when the map file was written.
int Save(Editor &ed, bool choose) {
  if (ed.path.empty() || choose) {
    if (!ChooseFile(ed, "Save Level (a .txt file)", "txt")) return 0;
    std::string chosen = TextPathOf(text);
    if (chosen.find('.', chosen.rfind('/') + 1) == std::string::npos) chosen += ".txt";
    if (chosen != ed.path && file_exists(chosen.c_str(), FA_RDONLY | FA_ARCH, nullptr) &&
        !Confirm("File Already Exists. Overwrite?", "OK"))
      return 0;
    ed.path = chosen;
  }
  if (const int why = mapgen::write_file(ed.path, mapgen::write_level_text(ed.level))) {
    Alert("Cannot write " + ed.path + ": " + std::strerror(why));
    return 0;
  }
  ed.dirty = false;
  const std::string map_path = MapPathOf(ed.path);
  if (!ed.problems.empty()) {
    ed.message = "Saved " + ed.path + "; " + map_path + " not written: the level has problems";
    return 0;
  }
  const std::vector<uint8_t> image = mapgen::map_image(ed.level);
  if (const int why = mapgen::write_file(map_path, std::string(image.begin(), image.end()))) {
    Alert("Cannot write " + map_path + ": " + std::strerror(why));
    return 0;
  }
  ed.message = "Saved " + ed.path + " and " + map_path;
  return -1;
}

std::string Load(Editor &ed, const std::string &path) {
  Level level;
  std::string err = mapgen::load_any_level(path, level);
  if (!err.empty()) return err;
  ed.level = level;
  ed.path = TextPathOf(path);
  ed.history = {};
  ed.dirty = false;
  ed.message = "Opened " + path;
  Recheck(ed);
  return "";
}

void Open(Editor &ed) {
  if (ed.dirty && !Confirm("Discard the changes?", "Discard")) return;
  if (!ChooseFile(ed, "Open Level (.txt or .map)", "txt;map")) return;
  std::string err = Load(ed, text);
  if (!err.empty()) Alert(err);
}

// The game, beside this program, plays the map file; the editor waits for it.
void PlayTest(Editor &ed) {
  if (!ed.problems.empty()) {
    Alert("The game would refuse this level: " + ed.problems[0].text);
    return;
  }
  if (!Save(ed, false)) return;
  char self[1024];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string game = "vorbel";
  if (n > 0) {
    self[n] = 0;
    std::string dir = self;
    dir.erase(dir.rfind('/') + 1);
    if (access((dir + "vorbel").c_str(), X_OK) == 0) game = dir + "vorbel";
  }
  const std::string map_path = MapPathOf(ed.path);
  pid_t child = fork();
  if (child == 0) {
    execlp(game.c_str(), game.c_str(), "--level", map_path.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) < 0)
    ed.message = "Cannot start the game";
  else if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    ed.message = "Play-test of " + map_path + " ended";
  else
    ed.message = "The game ended with status " +
                 std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  clear_keybuf();
}

// Typing the level's name in the panel: printable keys, Backspace, Enter to keep, Escape to drop.
// The old name is offered as a selected field is: Backspace edits it, a first letter replaces it.
void EditName(Editor &ed) {
  std::string name = ed.level.name;
  bool fresh = true;
  clear_keybuf();
  for (;;) {
    TextLine(name + "_", kPanelX, 142, kPanelW, ed.yellow);
    int k = readkey(), c = k & 0xff, scan = k >> 8;
    if (scan == KEY_ESC) break;
    if (scan == KEY_ENTER || scan == KEY_ENTER_PAD) {
      size_t b = name.find_first_not_of(' '), e = name.find_last_not_of(' ');
      name = b == std::string::npos ? "" : name.substr(b, e - b + 1);
      if (!name.empty() && name != ed.level.name) {
        Level before = ed.level;
        ed.level.name = name;
        Commit(ed, before);
      }
      break;
    }
    if (scan == KEY_BACKSPACE) {
      if (!name.empty()) name.pop_back();
    } else if (c >= 32 && c <= 126 && (fresh || name.size() < 40)) {
      if (fresh) name.clear();
      name += char(c);
    }
    fresh = false;
  }
}

bool InMaze(int mx, int my) {
  return mx >= kMazeX && my >= kMazeY && mx < kMazeX + kMapSize * CELL &&
         my < kMazeY + kMapSize * CELL;
}

CellPos CellUnderMouse() { return {(mouse_x - kMazeX) / CELL, (mouse_y - kMazeY) / CELL}; }

// One stroke of the left button on the maze: painted cell by cell, or a rectangle from the press
// to the pointer; one undo step either way.
void Stroke(Editor &ed) {
  const Level before = ed.level;
  const CellPos from = CellUnderMouse();
  CellPos last{-1, -1};
  while (mouse_b & 1) {
    if (InMaze(mouse_x, mouse_y)) {
      CellPos c = CellUnderMouse();
      if (c.x != last.x || c.y != last.y) {
        if (ed.rect_mode) ed.level = before;  // the rectangle follows the pointer
        bool changed =
            ed.rect_mode ? editor::paint_rect(ed.level, kTools[ed.tool], from, c)
                         : editor::paint_line(ed.level, kTools[ed.tool], last.x < 0 ? c : last, c);
        last = c;
        if (changed || ed.rect_mode) {
          Recheck(ed);
          DrawMaze(ed);
        }
      }
    }
    rest(1);
  }
  Commit(ed, before);
  DrawMaze(ed);
}

void PickTool(Editor &ed, int i) {
  if (i < 0 || i >= kNumTools) return;
  ed.tool = i;
  DrawTools(ed);
}

void Undo(Editor &ed, bool back) {
  if (!(back ? editor::undo(ed.history, ed.level) : editor::redo(ed.history, ed.level))) return;
  ed.dirty = true;
  ed.message.clear();
  Recheck(ed);
}

bool WantsToLeave(Editor &ed) { return !ed.dirty || Confirm("Leave without saving?", "Leave"); }

}  // namespace

int main(int argc, char **argv) {
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
    std::fprintf(stderr,
                 "usage: %s [LEVEL.txt | LEVEL.map]\nDraws a level of Vorbel Endurnal; run it in "
                 "the game's folder.\n",
                 argv[0]);
    return argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")) ? 0 : 2;
  }
  Editor ed;
  ed.level = editor::new_level();
  if (argc == 2) {
    std::string err =
        access(argv[1], F_OK) == 0 ? Load(ed, argv[1]) : "";  // before Allegro is installed
    if (!err.empty()) {
      std::fprintf(stderr, "vorbel-edit: %s\n", err.c_str());
      return 1;
    }
    if (ed.path.empty()) {
      ed.path = TextPathOf(argv[1]);
      ed.message = "New level; Ctrl+S saves it as " + ed.path;
    }
  }
  Recheck(ed);
  if (!DisplayAvailable()) {
    std::printf(
        "Error: %s\n",
        "Cannot open the X display. vorbel-edit needs a graphical session (is DISPLAY set?).");
    return 1;
  }
  install_allegro(SYSTEM_AUTODETECT, &errno, atexit);
  install_keyboard();
  install_mouse();
  install_timer();
  sound_on = 0;  // the editor is silent: the buttons' click needs no sound driver
  music_on = 0;
  FindDataFolder(argv[0]);  // the datafiles as the game finds them: here, or where installed
  LoadDatafiles();
  set_color_depth(8);
  if (set_gfx_mode(GFX_GAME_WINDOW, 640, 480, 0, 0) != 0) {
    std::printf("Error: cannot open a 640x480 window: %s\n", allegro_error);
    return 1;
  }
  set_window_title("Vorbel Endurnal level editor");
  set_close_button_callback(OnClose);
  set_palette(GamePalette());
  ed.red = NearestColour(GamePalette(), 63, 0, 0);
  ed.yellow = NearestColour(GamePalette(), 63, 63, 0);
  ed.white = NearestColour(GamePalette(), 63, 63, 63);
  ed.grey = NearestColour(GamePalette(), 32, 32, 32);
  map_bitmap = create_bitmap(441, 441);
  Panel panel;
  show_mouse(screen);
  DrawAll(ed, panel);

  int hover = -1;
  for (;;) {
    bool redraw = false, fields = false;
    if (close_clicked) {
      close_clicked = 0;
      if (WantsToLeave(ed)) break;
      redraw = true;
    }
    if (keypressed()) {
      int k = readkey(), c = k & 0xff, scan = k >> 8;
      bool ctrl = key_shifts & KB_CTRL_FLAG;
      if (scan == KEY_ESC) {
        if (WantsToLeave(ed)) break;
        redraw = true;
      } else if (ctrl && scan == KEY_Z) {
        Undo(ed, true), redraw = true;
      } else if (ctrl && scan == KEY_Y) {
        Undo(ed, false), redraw = true;
      } else if (ctrl && scan == KEY_S) {
        Save(ed, false), redraw = true;
      } else if (ctrl && scan == KEY_O) {
        Open(ed), redraw = true;
      } else if (ctrl && scan == KEY_P) {
        PlayTest(ed), redraw = true;
      } else if (ctrl && scan == KEY_N) {
        EditName(ed), redraw = true;
      } else if (!ctrl && c == 'r') {
        ed.rect_mode = !ed.rect_mode;
        DrawTools(ed);
      } else if (!ctrl && c == '.') {
        PickTool(ed, editor::tool_for_key('1'));
      } else if (!ctrl && c == 'o') {
        PickTool(ed, editor::tool_for_key('5'));
      } else if (!ctrl) {
        PickTool(ed, editor::tool_for_key(c));
      }
    }
    if ((mouse_b & 1) && InMaze(mouse_x, mouse_y)) {
      Stroke(ed);
      fields = true;
    } else if (mouse_b & 1) {
      for (int i = 0; i < kNumTools; i++) {
        int x = kToolX + kToolStep * (i % kToolsPerRow),
            y = kToolY + kToolStep * (i / kToolsPerRow);
        if (mouseinbox(x, y, x + 23, y + 23)) PickTool(ed, i);
      }
      for (int i = 0; i < kNumFields; i++) {
        int steps = panel.minus[size_t(i)].Clicked() ? -1 : panel.plus[size_t(i)].Clicked() ? 1 : 0;
        if (!steps) continue;
        Level before = ed.level;
        editor::step_field(ed.level, i, steps);
        Commit(ed, before);
        redraw = true;
      }
      if (panel.open.Clicked()) Open(ed), redraw = true;
      if (panel.save.Clicked()) Save(ed, ed.path.empty()), redraw = true;
      if (panel.undo.Clicked()) Undo(ed, true), redraw = true;
      if (panel.redo.Clicked()) Undo(ed, false), redraw = true;
      if (panel.name.Clicked()) EditName(ed), redraw = true;
      if (panel.play.Clicked()) PlayTest(ed), redraw = true;
      while (mouse_b & 1) rest(1);
    }
    if (redraw) {
      DrawAll(ed, panel);
      hover = -2;
    } else if (fields) {
      DrawTools(ed);
      DrawLines(ed, -1);
      hover = -2;
    }
    int now = -1;
    if (InMaze(mouse_x, mouse_y)) {
      CellPos c = CellUnderMouse();
      now = editor::problem_at(ed.problems, c.x, c.y);
    }
    if (now != hover) {
      DrawLines(ed, now);
      hover = now;
    }
    rest(5);
  }
  show_mouse(nullptr);
  destroy_bitmap(map_bitmap);
  unload_datafile(graphics);
  unload_datafile(sprites);
  unload_datafile(mapData);
  unload_datafile(sounds);
  for (DATAFILE *d : set_graphics) unload_datafile(d);
  allegro_exit();
  return 0;
}
END_OF_MAIN()
