// modux load_mod: the 15- and 31-sample MOD importer.
// A 31-sample MOD is recognised by the signature at offset 1080, which also gives its channel
// count; a 15-sample MOD has no signature and is only tried when enable_m15 allows it. Notes
// are stored as note frequencies and the effects keep their own numbers (CMD_* 0 to 15), but for
// those of Ultimate Soundtracker's 15-sample files.
#include "import.h"

using namespace modux_import;

namespace {

// Signature at offset 1080 of a 31-sample MOD and the channel count it stands for. "32FW"
// ends the table and is never matched: an unknown signature therefore gives 4 channels.
// FLT8 (8 channels) stores each pattern as two 4-channel halves; the FA0n files of the Falcon
// tracker carry four bytes after the signature before their patterns.
struct MODTYPE {
  char id[5];
  signed char channels;
};
const MODTYPE modtypes[78] = {
    {"M.K.", 4},  {"M!K!", 4},  {"FLT4", 4},  {"1CHN", 1},  {"2CHN", 2},  {"3CHN", 3},
    {"4CHN", 4},  {"5CHN", 5},  {"6CHN", 6},  {"7CHN", 7},  {"8CHN", 8},  {"9CHN", 9},
    {"10CH", 10}, {"11CH", 11}, {"12CH", 12}, {"13CH", 13}, {"14CH", 14}, {"15CH", 15},
    {"16CH", 16}, {"17CH", 17}, {"18CH", 18}, {"19CH", 19}, {"20CH", 20}, {"21CH", 21},
    {"22CH", 22}, {"23CH", 23}, {"24CH", 24}, {"25CH", 25}, {"26CH", 26}, {"27CH", 27},
    {"28CH", 28}, {"29CH", 29}, {"30CH", 30}, {"31CH", 31}, {"32CH", 32}, {"33CH", 33},
    {"34CH", 34}, {"35CH", 35}, {"36CH", 36}, {"37CH", 37}, {"38CH", 38}, {"39CH", 39},
    {"40CH", 40}, {"41CH", 41}, {"42CH", 42}, {"43CH", 43}, {"44CH", 44}, {"45CH", 45},
    {"46CH", 46}, {"47CH", 47}, {"48CH", 48}, {"49CH", 49}, {"50CH", 50}, {"51CH", 51},
    {"52CH", 52}, {"53CH", 53}, {"54CH", 54}, {"55CH", 55}, {"56CH", 56}, {"57CH", 57},
    {"58CH", 58}, {"59CH", 59}, {"60CH", 60}, {"61CH", 61}, {"62CH", 62}, {"63CH", 63},
    {"64CH", 64}, {"CD81", 8},  {"OKTA", 8},  {"16CN", 16}, {"32CN", 32}, {"FLT8", 8},
    {"CD61", 6},  {"FA04", 4},  {"FA06", 6},  {"FA08", 8},  {"M&K!", 4},  {"32FW", 4},
};
const char END_MARKER[5] = "32FW";

// Where the parts of a MOD lie, from the start of the file.
const int TITLE_BYTES = 20;
const int SAMPLE_HEADER_BYTES = 30;
const int ORDER_ENTRIES = 128;
const int SIGNATURE_AT = 1080;
const int ROWS = 64;
const int CELL_BYTES = 4;

// Start of the song length byte: the title and n sample headers come first.
int song_length_at(int no_inst) { return TITLE_BYTES + SAMPLE_HEADER_BYTES * no_inst; }

// Start of the patterns: after the order list, and after the signature with 31 samples.
int patterns_at(int no_inst) {
  return song_length_at(no_inst) + 2 + ORDER_ENTRIES + (no_inst == 31 ? 4 : 0);
}

// Bytes between a Falcon signature (FA04, FA06, FA08) and the patterns: always 00 40 00 00,
// meaning nothing that is played.
const int FALCON_EXTRA_BYTES = 4;
bool is_falcon(const unsigned char *sig) { return sig[0] == 'F' && sig[1] == 'A' && sig[2] == '0'; }
// The StarTrekker 8-channel layout: a pattern is two 4-channel halves one after the other
// (channels 0-3, then 4-7), and the order list counts halves, so its entries are even.
bool is_flt8(const unsigned char *sig) { return memcmp(sig, "FLT8", 4) == 0; }
const int FLT8_HALF_CHANNELS = 4;
// A channel's pan away from its side (0 left .. 255 right): 64 sends a quarter to the other side.
const int MOD_PAN_SPREAD = 64;

// The modtypes entry of a signature: the first that equals it, or the end marker.
const MODTYPE &find_modtype(const unsigned char *sig) {
  int i = 0;
  while (memcmp(modtypes[i].id, END_MARKER, 4) != 0 && memcmp(modtypes[i].id, sig, 4) != 0) i++;
  return modtypes[i];
}

// One sample header as the file gives it, in bytes.
struct mod_sample_header {
  int length;
  int finetune;
  int volume;
  int loop_start;
  int loop_length;
};

mod_sample_header read_sample_header(cursor &c) {
  mod_sample_header h;
  c.skip(22);                    // sample name
  const int length = c.mword();  // length in words; 1 marks an empty sample
  h.length = length == 1 ? 0 : length * 2;
  h.finetune = c.byte() & 15;  // signed nibble; the high nibble is not part of it
  h.volume = clamp_int(c.byte(), 0, 64);
  h.loop_start = c.mword() * 2;  // in words
  const int loop = c.mword();    // loop length in words; 1 means no loop
  h.loop_length = loop == 1 ? 0 : loop * 2;
  return h;
}

// One pattern cell: b0 b1 b2 b3 = sample high nibble and period high nibble, period low byte,
// sample low nibble and effect, parameter.
NOTE_INFO read_cell(cursor &c, int sample_count) {
  const int b0 = c.byte(), b1 = c.byte(), b2 = c.byte(), b3 = c.byte();
  NOTE_INFO n{};
  n.sample = (b0 & 0xF0) + (b2 >> 4);
  // A sample the module lacks would be refused by the native format's reader: none instead.
  if (n.sample > sample_count) n.sample = 0;
  const int period = ((b0 & 15) << 8) | b1;
  n.note = period ? MODUX_AMIGA_CLOCK / period : 0;
  n.command = b2 & 15;
  n.param = b3;
  n.volume = 0;
  return n;
}

bool valid_no_inst(int no_inst) { return no_inst == 15 || no_inst == 31; }

// Ultimate Soundtracker's effects are 1xy, an arpeggio, and 2xy, a pitch bend (x down, else y
// up); its later dialect's 0xy, 1xx and 2xx took their places. Its 15-sample files use no other
// effect, no 0xy, and bends one way, and an arpeggio of two steps tells them apart.
bool ultimate_soundtracker(const MODUX *mod) {
  bool arpeggio = false;
  for (int p = 0; p < mod->pattern_count; p++)
    for (int i = 0; i < ROWS * mod->channel_count; i++) {
      const NOTE_INFO &n = mod->patterns[p].notes[i];
      const bool both = (n.param >> 4) != 0 && (n.param & 15) != 0;
      if (n.command > 2 || (n.command == 0 && n.param != 0) || (n.command == 2 && both))
        return false;
      if (n.command == 1 && both) arpeggio = true;
    }
  return arpeggio;
}

// Ultimate Soundtracker's effects as the later ones that play them.
void convert_ultimate_soundtracker(MODUX *mod) {
  for (int p = 0; p < mod->pattern_count; p++)
    for (int i = 0; i < ROWS * mod->channel_count; i++) {
      NOTE_INFO &n = mod->patterns[p].notes[i];
      if (n.command == 1) {
        n.command = CMD_ARPEGGIO;
      } else if (n.command == 2) {
        n.command = n.param >> 4 ? CMD_PORTA_DOWN : CMD_PORTA_UP;
        n.param = n.param >> 4 ? n.param >> 4 : n.param & 15;
      }
    }
}

// ProTracker's three octaves, C-1 to B-3, with half a semitone to spare on either side: the
// periods of its notes.
const int PROTRACKER_LOWEST_PERIOD = 881;
const int PROTRACKER_HIGHEST_PERIOD = 110;

// A ProTracker file: its signature, four channels, and every note within its three octaves.
// Other trackers' MODs play without its Amiga limits and its arpeggio's table.
bool protracker_file(const MODUX *mod, const unsigned char *sig) {
  if ((memcmp(sig, "M.K.", 4) != 0 && memcmp(sig, "M!K!", 4) != 0) || mod->channel_count != 4)
    return false;
  for (int p = 0; p < mod->pattern_count; p++)
    for (int i = 0; i < ROWS * mod->channel_count; i++) {
      const int note = mod->patterns[p].notes[i].note;
      if (note > 0 && (note < MODUX_AMIGA_CLOCK / PROTRACKER_LOWEST_PERIOD ||
                       note > MODUX_AMIGA_CLOCK / PROTRACKER_HIGHEST_PERIOD))
        return false;
    }
  return true;
}

}  // namespace

int get_mod_no_pat(const int *order_table, int count) {
  int highest = 0;
  for (int i = 0; i < count; i++)
    if (order_table[i] > highest) highest = order_table[i];
  return highest + 1;
}

int modux_import::detect_m31_bytes(view v) {
  if (v.size < SIGNATURE_AT + 4) return -1;
  return memcmp(find_modtype(v.data + SIGNATURE_AT).id, END_MARKER, 4) != 0 ? 1 : -1;
}

int modux_import::detect_m15_bytes(view v) {
  if (v.size < TITLE_BYTES + 15 * SAMPLE_HEADER_BYTES) return 0;
  for (int i = 0; i < 15; i++) {
    const unsigned char *h = v.data + TITLE_BYTES + i * SAMPLE_HEADER_BYTES;
    if (h[24] != 0 || h[25] > 64) return 0;  // finetune 0 and volume 0..64
  }
  return 1;
}

// A 31-sample MOD inside a UMX package: the package's first windows are searched for module
// data whose signature (at 1080 into it) is one of the table's.
int modux_import::detect_unreal_mod_bytes(view v) {
  if (v.size < 4 || memcmp(v.data, UMX_MAGIC, 4) != 0) return -1;
  for (int start = 4; start < 4 + UMX_WINDOWS && start + SIGNATURE_AT + 4 <= v.size; start++)
    if (memcmp(find_modtype(v.data + start + SIGNATURE_AT).id, END_MARKER, 4) != 0) return start;
  return -1;
}

int detect_m31(const char *filename) { return detect_file(filename, detect_m31_bytes, -1); }

int detect_m15(const char *filename) { return detect_file(filename, detect_m15_bytes, 0); }

int detect_unreal_mod(const char *filename) {
  return detect_file(filename, detect_unreal_mod_bytes, 0);
}

static MODUX *load_m_at(load_state &load, view v, int no_inst, long long offset);

MODUX *modux_import::load_m15_bytes(load_state &load, view v, int offset) {
  return load_m_at(load, v, 15, offset);
}

MODUX *modux_import::load_m31_bytes(load_state &load, view v, int offset) {
  return load_m_at(load, v, 31, offset);
}

MODUX *load_m(const char *filename, int no_inst) {
  if (no_inst != 15 && no_inst != 31) {
    // The legacy message of this entry; the file is not read.
    snprintf(modux_error, sizeof modux_error, "MOD must be 15 or 31 instruments");
    return nullptr;
  }
  return load_file_with(filename, no_inst == 15 ? load_m15_bytes : load_m31_bytes, 0);
}

MODUX *load_unreal_m(const char *filename, int offset) {
  return load_file_with(filename, load_m31_bytes, offset);
}

// A module of no_inst empty samples with the Protracker defaults: speed 6 at 125 BPM, full
// global volume, and the Amiga's channel placement (left, right, right, left).
static MODUX *new_mod_module(load_state &load, int no_inst) {
  MODUX *mod = new_module(load);
  if (!mod) return nullptr;
  mod->sample_info =
      static_cast<SAMPLE_INFO *>(new_records(load, no_inst, sizeof(SAMPLE_INFO), "SAMPLE_INFO"));
  if (!mod->sample_info) return abandon(mod);
  mod->samples = static_cast<SAMPLE *>(new_records(load, no_inst, sizeof(SAMPLE), "SAMPLE"));
  if (!mod->samples) return abandon(mod);
  mod->sample_count = no_inst;
  mod->initial_global_volume = 64;
  mod->initial_speed = 6;
  mod->initial_tempo = 125;
  mod->flags = 0;
  mod->rules = RULES_PROTRACKER;
  // Channels left, right, right, left, at the reference's separation: a quarter of each
  // channel reaches the other side.
  for (int i = 0; i < MODUX_MAX_CHANNELS; i++)
    mod->channel_pan[i] = (i % 4 == 1 || i % 4 == 2) ? 255 - MOD_PAN_SPREAD : MOD_PAN_SPREAD;
  return mod;
}

// The order list after the sample headers: song length (byte), restart position (byte), 128
// pattern numbers (bytes), then with 31 samples the 4-byte signature that gives the channel
// count. Answers true for FLT8's layout of two halves per pattern.
static bool read_orders(MODUX *mod, cursor &c, int no_inst) {
  // The order list has 128 entries: a longer song would play entries the file does not have.
  mod->order_count = c.byte();
  if (mod->order_count > ORDER_ENTRIES) mod->order_count = ORDER_ENTRIES;
  // A restart at or past the song's end would restart into the end again on every tick.
  mod->restart_order = c.byte();
  if (mod->restart_order >= mod->order_count) mod->restart_order = 0;
  for (int i = 0; i < ORDER_ENTRIES; i++) mod->order_table[i] = c.byte();
  unsigned char sig[4] = {0, 0, 0, 0};
  if (no_inst == 31) {
    c.bytes(sig, 4);
    mod->channel_count = find_modtype(sig).channels;
    if (is_falcon(sig)) c.skip(FALCON_EXTRA_BYTES);
  } else {
    mod->channel_count = 4;
  }
  const bool halves = is_flt8(sig);
  if (halves)
    for (int i = 0; i < ORDER_ENTRIES; i++) mod->order_table[i] /= 2;
  // Every entry counts, also those beyond the song length: the file holds that many patterns.
  // The 15-sample Soundtrackers left stray entries there: their files hold the song's only.
  mod->pattern_count =
      get_mod_no_pat(mod->order_table, no_inst == 15 ? mod->order_count : ORDER_ENTRIES);
  return halves;
}

// The patterns: 64 rows of 4-byte cells, row by row, each row channel by channel (FLT8: all
// rows of channels 0-3, then all rows of channels 4-7). False with a message.
static bool read_patterns(load_state &load, MODUX *mod, cursor &c, int no_inst, bool halves) {
  const long long pattern_bytes = static_cast<long long>(ROWS) * CELL_BYTES * mod->channel_count;
  if (!c.has(pattern_bytes * mod->pattern_count)) {
    fail(load, "MOD: file ends inside pattern %lld of %d", c.left() / pattern_bytes,
         mod->pattern_count);
    return false;
  }
  mod->patterns = static_cast<PATTERN_INFO *>(
      new_records(load, mod->pattern_count, sizeof(PATTERN_INFO), "PATTERN_INFO"));
  if (!mod->patterns) return false;
  const int cells = ROWS * mod->channel_count;
  for (int p = 0; p < mod->pattern_count; p++) {
    PATTERN_INFO &pat = mod->patterns[p];
    pat.notes = new_cells(load, cells, "MOD", p);
    if (!pat.notes) return false;
    pat.row_count = ROWS;
    if (!halves) {
      for (int i = 0; i < cells; i++) pat.notes[i] = read_cell(c, no_inst);
      continue;
    }
    for (int half = 0; half < 2; half++)
      for (int row = 0; row < ROWS; row++)
        for (int ch = 0; ch < FLT8_HALF_CHANNELS; ch++)
          pat.notes[row * mod->channel_count + half * FLT8_HALF_CHANNELS + ch] =
              read_cell(c, no_inst);
  }
  return true;
}

// Sample data, 8-bit signed, one sample after another in the order of the headers; a sample whose
// data starts with "ADPCM" is packed as 4-bit ADPCM. Files cut short are common: a sample keeps
// the bytes that are there, later ones are empty. False, with the status set, when memory is
// short or the module's sample data would pass its limit.
static bool read_samples(load_state &load, MODUX *mod, cursor &c, const mod_sample_header *headers,
                         int no_inst) {
  long long missing = 0;
  for (int i = 0; i < no_inst; i++) {
    const mod_sample_header &h = headers[i];
    SAMPLE &spl = mod->samples[i];
    SAMPLE_INFO &info = mod->sample_info[i];
    const bool packed = h.length > 0 && c.has(5) && memcmp(c.data + c.pos, "ADPCM", 5) == 0;
    if (packed) c.skip(5);
    const long long wanted = packed ? adpcm_bytes(h.length) : h.length;
    if (wanted > c.left()) missing += wanted - c.left();
    const int len = static_cast<int>(packed                ? adpcm_frames(c, h.length)
                                     : h.length < c.left() ? h.length
                                                           : c.left());
    if (!charge_sample(load, len, "MOD", i + 1) || !new_sample(load, spl, info, len)) return false;
    info.tuning = mod_finetune[h.finetune];
    info.volume = h.volume;
    info.relative_note = 0;
    fit_loop(spl, info, h.loop_start, static_cast<long long>(h.loop_start) + h.loop_length,
             h.loop_length > 0 ? 1 : 0);
    unsigned char *data = static_cast<unsigned char *>(spl.data);
    if (packed) {
      const long long start = c.pos;
      decode_adpcm(c, data, len);
      c.seek(start + adpcm_bytes(h.length));
      continue;
    }
    c.bytes(data, len);
    for (int k = 0; k < len; k++) data[k] ^= 0x80;  // signed to Allegro's unsigned
  }
  if (missing > 0)
    note_short(load, "file ends %lld bytes early: the end of the sample data is silent", missing);
  return true;
}

// Some trackers wrote 8-channel songs under the 4-channel signature M.K.: a file that holds its
// patterns at 8 channels and its samples exactly (with less than a 4-channel pattern to spare)
// is read as one.
static bool eight_channel_mk(view img, long long offset, const MODUX *mod,
                             const mod_sample_header *headers) {
  if (memcmp(img.data + offset + SIGNATURE_AT, "M.K.", 4) != 0) return false;
  long long samples = 0;
  for (int i = 0; i < 31; i++) samples += headers[i].length;
  const long long pattern_4 = static_cast<long long>(ROWS) * CELL_BYTES * 4;
  const long long eight = patterns_at(31) + 2 * pattern_4 * mod->pattern_count + samples;
  const long long size = img.size - offset;
  return size >= eight && size < eight + pattern_4;
}

// The MOD whose data starts at offset (0 for a plain file): the title (20 bytes), no_inst
// sample headers of 30 bytes, the order list, the patterns, the sample data.
static MODUX *load_m_at(load_state &load, view img, int no_inst, long long offset) {
  MODUX *mod = new_mod_module(load, no_inst);
  if (!mod) return nullptr;
  if (offset < 0 || img.size - offset < patterns_at(no_inst))
    return refuse(load, mod, "MOD: file of %lld bytes ends inside its %d-byte header",
                  img.size - offset, patterns_at(no_inst));
  cursor c(img, offset);
  c.bytes(mod->name, TITLE_BYTES);
  mod_sample_header headers[31];
  for (int i = 0; i < no_inst; i++) headers[i] = read_sample_header(c);
  const bool halves = read_orders(mod, c, no_inst);
  if (no_inst == 31 && eight_channel_mk(img, offset, mod, headers)) mod->channel_count = 8;
  if (!read_patterns(load, mod, c, no_inst, halves)) return abandon(mod);
  if (!read_samples(load, mod, c, headers, no_inst)) return abandon(mod);
  if (no_inst == 15 && ultimate_soundtracker(mod)) convert_ultimate_soundtracker(mod);
  if (no_inst != 31 || !protracker_file(mod, img.data + offset + SIGNATURE_AT))
    mod->rules &= ~(RULE_AMIGA_LIMITS | RULE_ARPEGGIO_WRAPS);
  lock_mod(mod);
  return mod;
}

int get_unreal_m_info(const char *filename, int offset, MODFILE_INFO *info) {
  return head_info(filename, offset, TITLE_BYTES, 10, "Unreal MOD (UMX)", info);
}

int get_m_info(const char *filename, int no_inst, MODFILE_INFO *info) {
  if (!valid_no_inst(no_inst)) {
    snprintf(modux_error, sizeof modux_error, "MOD must have 15 or 31 samples");
    return -1;
  }
  return head_info(filename, 0, TITLE_BYTES, no_inst == 15 ? 1 : 2,
                   no_inst == 15 ? "MOD (15 Samples)" : "MOD (31 Samples)", info);
}
