// Exact input replays. A recording holds, for every pass of the game loop, what the pass consumed:
// whether the vorbel's and the bugs' tick counters had passed their speeds, and which of the four
// directions the keys or the joystick asked for; besides that the few events that change the game
// from outside a pass (a quit, a saved game loaded, the name given to the table) and, every
// CHECK_PASSES passes, a fingerprint of the game state. Since the random sequence is never
// seeded, the same inputs give the same game; the fingerprints prove it on the way and stop a
// replay that has left its recorded course (another version of the game, a damaged file).
//
// File layout, little-endian:
//   0  "VORBELRP"                 8 bytes
//   8  version tag                32 bytes, NUL-padded
//  40  difficulty, music on, custom map, 0     4 bytes
//  44  random draws before the game            u32
//  48  fingerprint of the levels played        u32
//  52  final score, level, lives, bugs eaten   4 x i32
//  68  length of the pass stream               u32
//  72  the custom map (a map record image), only when the custom flag is set
//      the pass stream
//      checksum of everything before it        u32
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Template.h"
#include "platform.h"
#include "lebytes.h"

const char REPLAY_VERSION[] = "Vorbel Endurnal v2.0 replay 1";

int replay_mode = REPLAY_OFF;
int replay_fast = 0;
int random_draws = 0;
char replay_stopped[160] = "";
PassInput (*pass_input)() = LiveInput;

namespace {

constexpr char kMagic[8] = {'V', 'O', 'R', 'B', 'E', 'L', 'R', 'P'};
constexpr size_t kTagSize = 32;
constexpr size_t kFixed = 72;      // bytes before the custom map
constexpr int kCheckPasses = 250;  // passes between two fingerprints
// A replay stream is one byte a pass (100 a second) plus rare events: a whole day of play fits.
constexpr uint32_t kMaxStream = 100u * 3600 * 24 + (1u << 20);
// The draws before a game in the same run: earlier games and song choices. Bugs draw at most three
// numbers on reaching a cell, which takes them four steps of at least seven ticks, so even twenty
// bugs draw fewer than three numbers a pass: a day of play stays below this, and drawing it again
// takes a moment, where a count of billions would hold the replay for minutes.
constexpr uint32_t kMaxDraws = 3 * kMaxStream;

// Stream items: a byte below 0x80 is a pass; the others are events, some with bytes following.
enum : uint8_t {
  PASS_VORBEL = 1,
  PASS_BUGS = 2,
  PASS_UP = 4,
  PASS_DOWN = 8,
  PASS_LEFT = 16,
  PASS_RIGHT = 32,
  EV_QUIT = 0x80,   // the game was ended by the player (Y, a signal)
  EV_LOAD = 0x81,   // a saved game was loaded: its SAVE_SIZE bytes follow
  EV_CHECK = 0x82,  // a state fingerprint follows (4 bytes)
  EV_NAME = 0x83,   // the name given to the high-score table follows (16 bytes)
};

ReplayFile recording;     // the game being recorded
std::string record_path;  // where it is written at the game's end
ReplayFile playing;       // the game being replayed
size_t play_at = 0;       // next item of playing.stream
int passes = 0;           // passes of the current game

uint32_t Fnv(const unsigned char *b, size_t n, uint32_t h = 2166136261u) {
  for (size_t i = 0; i < n; i++) h = (h ^ b[i]) * 16777619u;
  return h;
}

uint32_t Mix(uint32_t h, int v) {
  unsigned char b[4];
  Put32(b, uint32_t(v));
  return Fnv(b, 4, h);
}

int Stop(const char *why) {
  if (!replay_stopped[0]) snprintf(replay_stopped, sizeof replay_stopped, "%s", why);
  end_game = -1;
  return 0;
}

int OffCourse(const char *what) {
  char why[sizeof replay_stopped];
  snprintf(why, sizeof why, "The replay has left its recorded course at pass %d: %s.", passes,
           what);
  return Stop(why);
}

}  // namespace

uint32_t StateFingerprint() {
  uint32_t h = 2166136261u;
  for (int v :
       {vorbel.x, vorbel.y, vorbel.sprite, vorbel.score, vorbel.bugs_eaten, vorbel.lives, num_balls,
        state_timer, vorbel_move_direction, end_game, current_map_played, num_bugs})
    h = Mix(h, v);
  for (int i = 0; i < num_bugs && i < MAX_BUGS; i++)
    for (int v : {bugs[i].x, bugs[i].y, bugs[i].dx, bugs[i].dy, bugs[i].state}) h = Mix(h, v);
  return h;
}

uint32_t LevelsFingerprint() {
  uint32_t h = 2166136261u;
  unsigned char b[sizeof(map_struct)];
  for (int i = 0; i < num_maps; i++) {
    MapToBytes(static_cast<const map_struct *>(mapData[i].dat), b);
    h = Fnv(b, sizeof b, h);
  }
  return h;
}

std::vector<unsigned char> ReplayBytes(const ReplayFile &r) {
  std::vector<unsigned char> v(kMagic, kMagic + 8);
  char tag[kTagSize] = {};
  snprintf(tag, sizeof tag, "%s", r.version);
  v.insert(v.end(), tag, tag + kTagSize);
  v.insert(v.end(),
           {uint8_t(r.dif_level), uint8_t(r.music_on ? 1 : 0), uint8_t(r.custom ? 1 : 0), 0});
  Append32(v, r.draws);
  Append32(v, r.levels);
  for (int f : {r.score, r.level, r.lives, r.bugs_eaten}) Append32(v, uint32_t(f));
  Append32(v, uint32_t(r.stream.size()));
  if (r.custom) {
    unsigned char m[sizeof(map_struct)];
    MapToBytes(&r.map, m);
    v.insert(v.end(), m, m + sizeof m);
  }
  v.insert(v.end(), r.stream.begin(), r.stream.end());
  Append32(v, Fnv(v.data(), v.size()));
  return v;
}

int ParseReplay(const unsigned char *b, size_t n, ReplayFile *out, char *why, int size) {
  auto refuse = [&](const char *m) {
    if (why && size > 0) snprintf(why, size_t(size), "%s", m);
    return 0;
  };
  if (n < kFixed + 4 || std::memcmp(b, kMagic, 8) != 0) return refuse("it is not a replay file");
  if (GetU32(b + n - 4) != Fnv(b, n - 4))
    return refuse("it is damaged (its checksum does not match)");
  if (b[8 + kTagSize - 1] != 0 ||
      std::strcmp(reinterpret_cast<const char *>(b + 8), REPLAY_VERSION) != 0)
    return refuse("it was recorded by another version of the game");
  ReplayFile r;
  std::strcpy(r.version, REPLAY_VERSION);
  r.dif_level = b[40], r.music_on = b[41] ? -1 : 0, r.custom = b[42] ? -1 : 0;
  r.draws = GetU32(b + 44), r.levels = GetU32(b + 48);
  r.score = Get32(b + 52), r.level = Get32(b + 56), r.lives = Get32(b + 60);
  r.bugs_eaten = Get32(b + 64);
  uint32_t length = GetU32(b + 68);
  size_t at = kFixed;
  if (r.dif_level > 2) return refuse("its difficulty is out of range");
  if (r.draws > kMaxDraws)
    return refuse("it claims more random draws before its game than play makes");
  if (r.custom) {
    if (n - 4 - at < sizeof(map_struct)) return refuse("it is too short for its custom map");
    MapFromBytes(b + at, &r.map);
    at += sizeof(map_struct);
    char reason[120];
    if (!CheckMap(&r.map, reason, sizeof reason)) return refuse("its custom map cannot be played");
  }
  if (length > kMaxStream || length != n - 4 - at)
    return refuse("its pass stream does not fit the file");
  r.stream.assign(b + at, b + at + length);
  *out = std::move(r);
  return -1;
}

PassInput LiveInput() {
  ForgetReleasedKeys();
  const JOYSTICK_AXIS_INFO *axis = joy[0].stick[0].axis;
  PassInput in;
  in.vorbel_due = vorbel_timer > vorbel_speed ? -1 : 0;
  in.bug_due = bug_timer > bug_speed ? -1 : 0;
  in.up = key[KEY_UP] || axis[1].d1 ? -1 : 0;
  in.down = key[KEY_DOWN] || axis[1].d2 ? -1 : 0;
  in.left = key[KEY_LEFT] || axis[0].d1 ? -1 : 0;
  in.right = key[KEY_RIGHT] || axis[0].d2 ? -1 : 0;
  return in;
}

// ---------------------------------------------------------------------------------------------
// Recording
// ---------------------------------------------------------------------------------------------

void RecordTo(const char *path) {
  replay_mode = REPLAY_RECORD;
  record_path = path;
}

void RecordStart(int custom) {
  if (replay_mode != REPLAY_RECORD) return;
  recording = ReplayFile{};
  std::strcpy(recording.version, REPLAY_VERSION);
  recording.dif_level = dif_level;
  recording.music_on = music_on;
  recording.custom = custom;
  recording.draws = uint32_t(random_draws);
  if (custom) recording.map = *gmap;
  recording.levels = custom ? 0 : LevelsFingerprint();
  passes = 0;
}

void RecordQuit() {
  if (replay_mode == REPLAY_RECORD) recording.stream.push_back(EV_QUIT);
}

void RecordLoad(const unsigned char *save) {
  if (replay_mode != REPLAY_RECORD) return;
  recording.stream.push_back(EV_LOAD);
  recording.stream.insert(recording.stream.end(), save, save + SAVE_SIZE);
}

void RecordPass(const PassInput &in) {
  if (replay_mode != REPLAY_RECORD) return;
  if (passes++ % kCheckPasses == 0) {
    recording.stream.push_back(EV_CHECK);
    Append32(recording.stream, StateFingerprint());
  }
  recording.stream.push_back(uint8_t(
      (in.vorbel_due ? PASS_VORBEL : 0) | (in.bug_due ? PASS_BUGS : 0) | (in.up ? PASS_UP : 0) |
      (in.down ? PASS_DOWN : 0) | (in.left ? PASS_LEFT : 0) | (in.right ? PASS_RIGHT : 0)));
}

void RecordName(const char *name) {
  if (replay_mode != REPLAY_RECORD) return;
  char field[16] = {};
  std::strncpy(field, name, sizeof field - 1);
  recording.stream.push_back(EV_NAME);
  recording.stream.insert(recording.stream.end(), field, field + sizeof field);
}

// The figures of the game's end, as a replay must reach them.
void RecordEnd() {
  if (replay_mode != REPLAY_RECORD) return;
  recording.stream.push_back(EV_CHECK);  // the state at the end, the actors' places included
  Append32(recording.stream, StateFingerprint());
  recording.score = vorbel.score;
  recording.level = current_map_played + 1;
  recording.lives = vorbel.lives;
  recording.bugs_eaten = vorbel.bugs_eaten;
}

const ReplayFile &Recording() { return recording; }

int RecordFinish() {
  if (replay_mode != REPLAY_RECORD || record_path.empty()) return -1;
  std::vector<unsigned char> bytes = ReplayBytes(recording);
  if (WriteFileSafely(record_path.c_str(), bytes.data(), int(bytes.size()))) return -1;
  printf("Error writing the recording %s: %s\n", record_path.c_str(), strerror(errno));
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Replaying
// ---------------------------------------------------------------------------------------------

int ReplayOpen(const char *path, char *why, int size) {
  FILE *f = ReadableFile(path, why, size);
  if (!f) return 0;
  std::vector<unsigned char> b;
  unsigned char chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0 && b.size() <= kMaxStream + 4096)
    b.insert(b.end(), chunk, chunk + n);
  fclose(f);
  return ReplayUse(b.data(), b.size(), why, size);
}

int ReplayUse(const unsigned char *b, size_t n, char *why, int size) {
  ReplayFile r;
  if (!ParseReplay(b, n, &r, why, size)) return 0;
  if (!r.custom && r.levels != LevelsFingerprint()) {
    snprintf(why, size_t(size), "it was recorded on other levels than these");
    return 0;
  }
  playing = std::move(r);
  play_at = 0;
  passes = 0;
  replay_stopped[0] = 0;
  replay_mode = REPLAY_PLAY;
  dif_level = playing.dif_level;
  music_on = playing.music_on;
  if (playing.custom) map = playing.map;
  return -1;
}

const ReplayFile &Replaying() { return playing; }

// Brings the random sequence to where the recorded game began: the draws the recording program
// made before it (songs chosen on the title and the menus, earlier games) are made here too.
int ReplayStart() {
  if (replay_mode != REPLAY_PLAY) return -1;
  if (uint32_t(random_draws) > playing.draws) RandomRestart();
  while (uint32_t(random_draws) < playing.draws) Random(1);
  return -1;
}

// The items before the next pass: events are applied, fingerprints compared. Answers -1 with the
// pass's inputs, or 0 when the game ends here (a recorded quit) or the replay stops.
int ReplayPass(PassInput *in) {
  const std::vector<unsigned char> &s = playing.stream;
  for (;;) {
    if (play_at >= s.size()) return OffCourse("the recording ends before the game");
    uint8_t item = s[play_at++];
    if (item < 0x80) {
      passes++;
      in->vorbel_due = item & PASS_VORBEL ? -1 : 0;
      in->bug_due = item & PASS_BUGS ? -1 : 0;
      in->up = item & PASS_UP ? -1 : 0;
      in->down = item & PASS_DOWN ? -1 : 0;
      in->left = item & PASS_LEFT ? -1 : 0;
      in->right = item & PASS_RIGHT ? -1 : 0;
      return -1;
    }
    size_t need = item == EV_LOAD ? SAVE_SIZE : item == EV_CHECK ? 4 : item == EV_NAME ? 16 : 0;
    if (item > EV_NAME || s.size() - play_at < need)
      return OffCourse("an item of the recording is damaged");
    const unsigned char *data = s.data() + play_at;
    play_at += need;
    switch (item) {
      case EV_QUIT: end_game = -1; return 0;
      case EV_LOAD: {
        char why[120];
        if (!ApplySavedGame(data, SAVE_SIZE, why, sizeof why))
          return OffCourse("a recorded saved game is refused");
        break;
      }
      case EV_CHECK:
        if (GetU32(data) != StateFingerprint())
          return OffCourse("the game state differs from the recorded one");
        break;
      default: return OffCourse("a name where a pass was due");
    }
  }
}

void ReplayName(char *name, int size) {
  const std::vector<unsigned char> &s = playing.stream;
  name[0] = 0;
  if (play_at < s.size() && s[play_at] == EV_NAME && s.size() - play_at > 16) {
    snprintf(name, size_t(size), "%.15s", reinterpret_cast<const char *>(s.data() + play_at + 1));
    play_at += 17;
  }
}

// At the game's end: the whole recording used (a recorded name aside) and its figures reached.
int ReplayEnd() {
  if (replay_mode != REPLAY_PLAY || replay_stopped[0]) return replay_stopped[0] ? 0 : -1;
  const std::vector<unsigned char> &s = playing.stream;
  if (s.size() - play_at < 5 || s[play_at] != EV_CHECK)
    return OffCourse("the game ended before the recording");
  if (GetU32(s.data() + play_at + 1) != StateFingerprint())
    return OffCourse("the game state at the end differs from the recorded one");
  play_at += 5;
  size_t left = s.size() - play_at;
  if (left != 0 && !(left == 17 && s[play_at] == EV_NAME))
    return OffCourse("the game ended before the recording");
  if (vorbel.score != playing.score || current_map_played + 1 != playing.level ||
      vorbel.lives != playing.lives || vorbel.bugs_eaten != playing.bugs_eaten)
    return OffCourse("the final figures differ from the recorded ones");
  return -1;
}

// A replay being watched ends when the player asks to leave: it stops there, unfinished.
void ReplayInterrupted() { Stop("The replay was stopped before its end."); }
