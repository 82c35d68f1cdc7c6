// modux load_s3m: the S3M importer, for S3M files and S3M modules inside UMX packages.
// Samples keep their middle-C rates, patterns have 64 rows over the channels the module uses,
// notes become note frequencies and the effect letters become the internal commands of the
// Protracker and S3M families.
#include "import.h"

using namespace modux_import;

namespace {

// Where the signature lies in the S3M header.
const int SIGNATURE_AT = 44;
const char SIGNATURE[4] = {'S', 'C', 'R', 'M'};
// Bytes of the fixed header, before the order list.
const int HEADER_BYTES = 96;
// S3M channels named by the header and the patterns.
const int S3M_CHANNELS = 32;
// Channel settings below this are played (16..31 are Adlib channels, kept as silent ones); with
// bit 7 set they are switched off, 255 is unused.
const int CHANNEL_USED_BELOW = 32, CHANNEL_OFF = 128, CHANNEL_UNUSED = 255;
// Default-pan flag telling that a 32-byte pan table follows the parapointers.
const int PAN_TABLE_FLAG = 252;
const int ROWS = 64;
// Fields of a packed cell, flagged in its channel byte.
const int NOTE_FIELD = 0x20;     // note and instrument
const int VOLUME_FIELD = 0x40;   // volume
const int COMMAND_FIELD = 0x80;  // command and info
// Volume-column bytes of 128..192 are pans 0..64.
const int PAN_BYTES_FROM = 128;
// Instrument record: type 1 is a sample; "SCRS" at 76 marks one whose data can be read.
const int INSTRUMENT_BYTES = 80;
const char SAMPLE_MARK[4] = {'S', 'C', 'R', 'S'};
// Sample format word of the header: 1 signed, 2 unsigned data.
const int SIGNED_SAMPLES = 1;
// Header: the flag of volume slides on every tick, and the tracker word of Scream Tracker 3.00,
// which slid so whatever the flag said.
const int FAST_VOLSLIDES_FLAG = 0x40;
// Header flag keeping the portamentos inside the Amiga's pitch range.
const int AMIGA_LIMITS_FLAG = 0x10;
const int SCREAM_TRACKER_3_00 = 0x1300;
// The tracker word's top digit names the tracker; 1 is Scream Tracker.
const int SCREAM_TRACKER_FAMILY = 1;
// Files of Imago Orpheus (2), Impulse Tracker (3), Schism Tracker (4) and old ModPlug Tracker
// (0x5117) play a switched-off channel's commands with its notes silent; the others leave the
// channel out whole.
const int OFF_COMMANDS_FIRST = 2, OFF_COMMANDS_LAST = 4, MODPLUG_117 = 0x5117;
// The slowest tempo a header sets.
const int SLOWEST_TEMPO = 32;
// Order-list markers: 254 skips ("+++"), 255 ends the song ("---"); neither is kept.
const int ORDER_SKIP = 254;
const int ORDER_END = 255;

// Note frequencies are this over the period of noteperiod (quarter Amiga units, 4 x 428 for

// How each S3M effect letter becomes an internal command. keep: the parameter passes unchanged;
// otherwise the command is dropped (code 0, parameter 0) unless the letter is S, whose
// sub-commands have their own table.
const effect_entry s3m_effects[27] = {
    {0, false},                           // no command
    {CMD_S3M_SET_SPEED, true},            // A set speed
    {CMD_POSITION_JUMP, true},            // B jump to order
    {CMD_PATTERN_BREAK, true},            // C break to row
    {CMD_S3M_VOLSLIDE, true},             // D volume slide, fine forms
    {CMD_S3M_PORTA_DOWN, true},           // E portamento down, fine forms
    {CMD_S3M_PORTA_UP, true},             // F portamento up, fine forms
    {CMD_TONE_PORTA, true},               // G tone portamento
    {CMD_VIBRATO, true},                  // H vibrato
    {CMD_TREMOR, true},                   // I tremor
    {CMD_S3M_ARPEGGIO, true},             // J arpeggio
    {CMD_VIBRATO_S3M_VOLSLIDE, true},     // K vibrato + volume slide
    {CMD_TONE_PORTA_S3M_VOLSLIDE, true},  // L tone portamento + volume slide
    {0, false},                           // M channel volume: not played
    {0, false},                           // N channel volume slide: not played
    {CMD_SAMPLE_OFFSET, true},            // O sample offset
    {0, false},                           // P pan slide: not played
    {CMD_S3M_RETRIG, true},               // Q retrigger with volume change
    {CMD_S3M_TREMOLO, true},              // R tremolo
    {CMD_EXTENDED, false},                // S extended: see s3m_extended
    {CMD_S3M_SET_BPM, true},              // T set tempo
    {CMD_FINE_VIBRATO, true},             // U fine vibrato
    {CMD_SET_GLOBAL_VOLUME, true},        // V global volume
    {0, false},                           // W global volume slide: not played
    {CMD_S3M_PANNING, true},              // X set pan
    {0, false},                           // Y panbrello: not played
    {0, false},                           // Z MIDI macro: not played
};
const int LETTER_S = 19;

// Sxy: the CMD_EXTENDED parameter (y added) of the Protracker extended command that plays each
// S3M sub-command x, or -1 when it is dropped. 0x100 carries the S3M stereo control, 0x150 the
// fine pattern delay.
const int s3m_extended[16] = {
    0x00,   // S0x filter: not played (E0x), kept for the parameter memory
    0x30,   // S1x glissando
    0x50,   // S2x finetune
    0x40,   // S3x vibrato waveform
    0x70,   // S4x tremolo waveform
    -1,     // S5x panbrello waveform: not played
    0x150,  // S6x fine pattern delay: x ticks more each time the row plays
    -1,     // S7x instrument controls: not played
    0x80,   // S8x set pan
    -1,     // S9x sound control: not played
    0x100,  // SAx stereo control
    0x60,   // SBx pattern loop
    0xC0,   // SCx note cut
    0xD0,   // SDx note delay
    0xE0,   // SEx pattern delay
    -1,     // SFx funk repeat: not played
};

// The channel set-up of one file: the 32 channel settings of its header and, for each S3M
// channel, the module channel it plays on (-1 when it is not used). Built anew by every load.
struct channel_setup {
  int chn_set[S3M_CHANNELS];
  int remap[S3M_CHANNELS];
};

// One cell of a packed pattern: the channel byte's fields (0x20 note and instrument, 0x40
// volume, 0x80 command and info), which it also answers in *fields. Returns the S3M channel, or
// -1 at the end of a row.
int read_packed(cursor &c, int *fields, int *note, int *instrument, int *volume, int *command,
                int *info) {
  const int b = c.byte();
  if (b == 0) return -1;
  *fields = b & (NOTE_FIELD | VOLUME_FIELD | COMMAND_FIELD);
  *note = 255, *instrument = 0, *volume = -1, *command = 0, *info = 0;
  if (b & NOTE_FIELD) {
    *note = c.byte();
    *instrument = c.byte();
  }
  if (b & VOLUME_FIELD) *volume = c.byte();
  if (b & COMMAND_FIELD) {
    *command = c.byte();
    *info = c.byte();
  }
  return b & 31;
}

// Decodes one pattern at the cursor (after its packed length) into 64 rows of channel_count
// cells. Stops at the 64th row end or at the end of the file; rows never reached stay empty.
// A channel named twice in a row keeps the fields of its first mention that the second lacks:
// trackers that read past a pattern's last row end (their writers may leave it out) find stray
// bytes there, and a bare mention among them must not wipe the row's speed or note.
void S3M_load_pat(cursor &c, MODUX *mod, NOTE_INFO *notes, int channel_count,
                  const channel_setup &cs) {
  int row = 0;
  while (row < ROWS && !c.ended) {
    int fields, note, instrument, volume, command, info;
    const int chn = read_packed(c, &fields, &note, &instrument, &volume, &command, &info);
    if (c.ended) break;
    if (chn < 0) {
      row++;
      continue;
    }
    const int to = cs.remap[chn];
    if (to < 0 || to >= channel_count) continue;
    NOTE_INFO &cell = notes[row * channel_count + to];
    if (fields & NOTE_FIELD) {
      convert_s3m_pitch(&note);
      cell.note = note;
      cell.sample = instrument > mod->sample_count ? 0 : instrument;
    }
    // 0x10..0x50 in the volume column set the volumes 0 to 64; louder bytes are held at 64 so
    // that they never read as another volume-column command, except 128..192, a pan of 0..64 as
    // Impulse Tracker writes it into an S3M (VOLUME_COLUMN_PAN + the pan).
    if (fields & VOLUME_FIELD) {
      const bool pan = volume >= PAN_BYTES_FROM && volume <= PAN_BYTES_FROM + 64;
      cell.volume = pan ? VOLUME_COLUMN_PAN + volume - PAN_BYTES_FROM
                        : (volume < 0 ? 0 : clamp_int(volume, 0, 64) + 16);
    }
    if (fields & COMMAND_FIELD) {
      convert_s3m_command(&command, &info);
      cell.command = command;
      cell.param = info;
    }
  }
}

// Marks in used[] the channels one pattern names (fast_loading off).
void S3M_get_num_chn(cursor &c, bool *used) {
  int row = 0;
  while (row < ROWS && !c.ended) {
    int fields, note, instrument, volume, command, info;
    const int chn = read_packed(c, &fields, &note, &instrument, &volume, &command, &info);
    if (c.ended) break;
    if (chn < 0)
      row++;
    else
      used[chn] = true;
  }
}

// Position in the image of a parapointer's target, or -1 when it lies outside the file.
long long para_position(view img, int offset, long long para, long long need) {
  const long long at = offset + para * 16;
  return at >= 0 && at + need <= img.size ? at : -1;
}

}  // namespace

void convert_s3m_pitch(int *note) {
  if (*note == 254) {
    *note = -1;  // note cut
    return;
  }
  const int semitone = *note & 15;
  const int octave = *note >> 4;
  if (semitone >= 12 || octave >= 16 || *note < 0) {
    *note = 0;  // 255 is the empty note
    return;
  }
  const int period = noteperiod[semitone] >> octave;
  *note = period ? MODUX_AMIGA_CLOCK / period : 0;
}

int s3m_extended_param(int info) {
  const int sub = s3m_extended[(info >> 4) & 15];
  return sub < 0 ? -1 : sub + (info & 15);
}

void convert_s3m_command(int *command, int *param) {
  translate_effect(s3m_effects, 27, LETTER_S, s3m_extended, command, param);
}

int modux_import::detect_s3m_bytes(view v) {
  return v.size >= SIGNATURE_AT + 4 && memcmp(v.data + SIGNATURE_AT, SIGNATURE, 4) == 0 ? 1 : -1;
}

int modux_import::detect_unreal_s3m_bytes(view v) {
  return umx_search(v, SIGNATURE, 4, SIGNATURE_AT);
}

int detect_s3m(const char *filename) { return detect_file(filename, detect_s3m_bytes, 0); }

int detect_unreal_s3m(const char *filename) {
  return detect_file(filename, detect_unreal_s3m_bytes, 0);
}

namespace {

// What the header and the lists after it tell about the rest of the file.
struct s3m_layout {
  long offset;                    // where the S3M data starts in the image (UMX: inside it)
  int order_entries;              // order list entries, markers included
  int instruments;                // instrument records and their parapointers
  int patterns;                   // patterns in the file and their parapointers
  int sample_format;              // SIGNED_SAMPLES or unsigned data
  bool pan_table;                 // a 32-byte pan table follows the parapointers
  bool mono;                      // the master volume byte's bit 7 is clear: every channel centred
  bool off_commands;              // a switched-off channel's commands act
  long long instrument_para_at;   // image position of the instrument parapointers (words)
  long long pattern_para_at;      // image position of the pattern parapointers (words)
  int default_pan[S3M_CHANNELS];  // the pan table: bit 5 set, low nibble 0..15 left to right
};

}  // namespace

// The fixed 96-byte header: song name, counts, sample format, the initial global volume, speed
// and tempo, and the 32 channel settings.
static void read_header(MODUX *mod, cursor &c, s3m_layout &l, channel_setup &cs) {
  c.bytes(mod->name, 28);         // song name
  c.skip(4);                      // 0x1A, type, reserved
  l.order_entries = c.lword();    // number of orders, markers included
  l.instruments = c.lword();      // number of instruments
  l.patterns = c.lword();         // number of patterns in the file
  const int flags = c.lword();    // FAST_VOLSLIDES_FLAG, AMIGA_LIMITS_FLAG; others not played
  const int tracker = c.lword();  // 0x1300: Scream Tracker 3.00
  l.sample_format = c.lword();    // 1 signed, 2 unsigned
  c.skip(4);                      // "SCRM"
  mod->initial_global_volume = clamp_int(c.byte(), 0, 64);
  // Scream Tracker itself loads neither a default speed of 255 nor a tempo of 32 or below, and
  // plays speed 6 and 125 BPM instead; the reference follows it, and holds other trackers' files
  // to 32 BPM at least.
  const bool scream_tracker = (tracker >> 12) == SCREAM_TRACKER_FAMILY;
  l.off_commands =
      ((tracker >> 12) >= OFF_COMMANDS_FIRST && (tracker >> 12) <= OFF_COMMANDS_LAST) ||
      tracker == MODPLUG_117;
  mod->initial_speed = c.byte();
  if (mod->initial_speed == 0 || (mod->initial_speed == 255 && scream_tracker))
    mod->initial_speed = 6;
  mod->initial_tempo = c.byte();
  if (mod->initial_tempo <= SLOWEST_TEMPO)
    mod->initial_tempo = scream_tracker ? 125 : SLOWEST_TEMPO;
  // Master volume: bits 0-6 the mixing volume (0 is 48, at least 16), bit 7 stereo; a mono
  // song plays each channel centred, at 8/11 of that volume.
  const int master = c.byte();
  const int volume = (master & 127) == 0 ? 48 : clamp_int(master & 127, 16, 127);
  l.mono = !(master & 128);
  mod->mix_volume = l.mono ? (volume * 8 + 5) / 11 : volume;
  c.skip(1);                                 // ultra-click removal
  l.pan_table = c.byte() == PAN_TABLE_FLAG;  // 252: a pan table follows the parapointers
  c.skip(10);                                // reserved
  for (int i = 0; i < S3M_CHANNELS; i++) cs.chn_set[i] = c.byte();
  mod->flags = 0;
  mod->rules = RULES_SCREAM_TRACKER_3;
  if (tracker == SCREAM_TRACKER_3_00 || (flags & FAST_VOLSLIDES_FLAG))
    mod->rules |= RULE_FAST_VOLSLIDES;
  if (flags & AMIGA_LIMITS_FLAG) mod->rules |= RULE_AMIGA_LIMITS;
}

// The order list (a byte per entry), the instrument and pattern parapointers (a word each, in
// 16-byte paragraphs from the start of the S3M data) and the pan table; the caller has checked
// that they are all in the file. Orders keep no markers: the song ends at the first "---", and
// the model's 256 positions drop later entries.
static void read_orders(MODUX *mod, cursor &c, s3m_layout &l) {
  bool ended = false;
  for (int i = 0; i < l.order_entries; i++) {
    const int order = c.byte();
    if (order == ORDER_END) ended = true;
    if (ended || order == ORDER_SKIP) continue;
    if (mod->order_count < MODUX_MAX_ORDERS) mod->order_table[mod->order_count++] = order;
  }
  l.instrument_para_at = c.pos;
  l.pattern_para_at = c.pos + 2LL * l.instruments;
  c.skip(2LL * l.instruments + 2LL * l.patterns);
  for (int i = 0; i < S3M_CHANNELS; i++) l.default_pan[i] = l.pan_table ? c.byte() : 0;
}

// Where the data of pattern i starts (after its packed length), or -1 when its parapointer is 0
// or points outside the file.
static long long pattern_data_at(view img, const s3m_layout &l, int i) {
  cursor p(img, l.pattern_para_at + 2LL * i);
  const int para = p.lword();
  const long long at = para ? para_position(img, l.offset, para, 2) : -1;
  return at < 0 ? -1 : at + 2;
}

// Copies frames of sample data at data_at into spl: Allegro's samples are unsigned, 16-bit ones
// in the machine's byte order. The caller has held frames to the bytes there.
static void copy_sample_data(view img, long long data_at, long long frames, int bytes,
                             bool signed_data, SAMPLE &spl) {
  cursor d(img, data_at < 0 ? 0 : data_at);
  if (bytes == 1) {
    unsigned char *data = static_cast<unsigned char *>(spl.data);
    d.bytes(data, frames);
    if (signed_data)
      for (long long k = 0; k < frames; k++) data[k] ^= 0x80;
    return;
  }
  uint16_t *data = static_cast<uint16_t *>(spl.data);
  const unsigned char *words = img.data + d.pos;
  const uint16_t flip = signed_data ? 0x8000 : 0;
  for (long long k = 0; k < frames; k++)
    data[k] = static_cast<uint16_t>(words[2 * k] | (words[2 * k + 1] << 8)) ^ flip;
}

// Instrument record i (80 bytes) and its data. A record outside the file, of another type or
// without its mark is an empty sample. Answers the bytes of data the file lacks, or -1 with the
// status set.
static long long read_sample(load_state &load, MODUX *mod, view img, const s3m_layout &l, int i) {
  SAMPLE &spl = mod->samples[i];
  SAMPLE_INFO &info = mod->sample_info[i];
  cursor p(img, l.instrument_para_at + 2LL * i);
  const long long at = para_position(img, l.offset, p.lword(), INSTRUMENT_BYTES);
  cursor r(img, at < 0 ? 0 : at);
  const int type = r.byte();          // 1: sample
  r.skip(12);                         // file name
  const int data_high = r.byte();     // data parapointer: high byte,
  const int data_low = r.lword();     //   then a little-endian word
  const uint32_t length = r.llong();  // frames
  const uint32_t loop_begin = r.llong();
  const uint32_t loop_end = r.llong();
  const int volume = r.byte();
  r.skip(2);                             // reserved, packing
  const int flags = r.byte();            // bit 0 loop, bit 2 16-bit data
  const int c2spd = r.llong() & 0xFFFF;  // middle-C rate; the high word is unused
  r.skip(12 + 28);                       // reserved, sample name
  char mark[4];
  r.bytes(mark, 4);
  const bool loaded = at >= 0 && type == 1 && memcmp(mark, SAMPLE_MARK, 4) == 0;
  const int bytes_per_frame = (flags & 4) ? 2 : 1;
  long long frames = 0;
  long long data_at = -1;
  if (loaded) {
    data_at = para_position(img, l.offset, (static_cast<long long>(data_high) << 16) + data_low, 0);
    // Data cut short by the end of the file keeps the frames that are there.
    if (data_at >= 0) {
      frames = length;
      const long long there = (img.size - data_at) / bytes_per_frame;
      if (frames > there) frames = there;
    }
  }
  const long long missing = loaded && data_at >= 0 ? (length - frames) * bytes_per_frame : 0;
  if (!charge_sample(load, frames * bytes_per_frame, "S3M", i + 1) ||
      !new_sample(load, spl, info, static_cast<int>(frames), 8 * bytes_per_frame))
    return -1;
  if (!loaded) return missing;
  spl.freq = c2spd;
  info.tuning = c2spd;
  info.volume = clamp_int(volume, 0, 64);
  info.relative_note = 0;
  fit_loop(spl, info, loop_begin, loop_end, flags & 1);
  copy_sample_data(img, data_at, frames, bytes_per_frame, l.sample_format == SIGNED_SAMPLES, spl);
  return missing;
}

// Every instrument becomes a sample of the model. False with the status set.
static bool read_samples(load_state &load, MODUX *mod, view img, const s3m_layout &l) {
  mod->sample_count = l.instruments;
  if (l.instruments > 0) {
    mod->sample_info = static_cast<SAMPLE_INFO *>(
        new_records(load, l.instruments, sizeof(SAMPLE_INFO), "SAMPLE_INFO"));
    if (!mod->sample_info) return false;
    mod->samples =
        static_cast<SAMPLE *>(new_records(load, l.instruments, sizeof(SAMPLE), "SAMPLE"));
    if (!mod->samples) return false;
  }
  long long missing = 0;  // bytes of sample data the file lacks
  for (int i = 0; i < l.instruments; i++) {
    const long long lacking = read_sample(load, mod, img, l, i);
    if (lacking < 0) return false;
    missing += lacking;
  }
  if (missing > 0)
    note_short(load, "file ends %lld bytes early: the end of the sample data is silent", missing);
  return true;
}

// Channels: with fast loading every switched-on channel plays; otherwise only those that a
// pattern names. Each gets the next module channel, its pan from its setting (0..7 left, 8..15
// right) or from the pan table.
static void set_up_channels(MODUX *mod, view img, const s3m_layout &l, channel_setup &cs) {
  bool named[S3M_CHANNELS] = {false};
  if (!fast_loading) {
    for (int i = 0; i < l.patterns; i++) {
      const long long at = pattern_data_at(img, l, i);
      if (at < 0) continue;
      cursor r(img, at);
      S3M_get_num_chn(r, named);
    }
  }
  for (int i = 0; i < S3M_CHANNELS; i++) {
    cs.remap[i] = -1;
    const bool off = cs.chn_set[i] != CHANNEL_UNUSED && (cs.chn_set[i] & CHANNEL_OFF);
    const int setting = off && l.off_commands ? cs.chn_set[i] & ~CHANNEL_OFF : cs.chn_set[i];
    const bool used = setting < CHANNEL_USED_BELOW && (fast_loading || named[i]);
    if (!used) continue;
    const int to = mod->channel_count++;
    cs.remap[i] = to;
    mod->channel_muted[to] = off ? -1 : 0;
    if (setting < 16) mod->channel_pan[to] = setting < 8 ? 64 : 192;
    if (l.pan_table && (l.default_pan[i] & 0x20))
      mod->channel_pan[to] = (l.default_pan[i] & 15) * 17;
    if (l.mono) mod->channel_pan[to] = 128;
  }
}

// Patterns: as many as the order list names; those the file lacks, or whose parapointer is 0
// or outside the file, stay empty. False with the status set.
static bool read_patterns(load_state &load, MODUX *mod, view img, const s3m_layout &l,
                          const channel_setup &cs) {
  mod->pattern_count = get_mod_no_pat(mod->order_table, mod->order_count);
  mod->patterns = static_cast<PATTERN_INFO *>(
      new_records(load, mod->pattern_count, sizeof(PATTERN_INFO), "PATTERN_INFO"));
  if (!mod->patterns) return false;
  const int cells = ROWS * mod->channel_count;
  for (int i = 0; i < mod->pattern_count; i++) {
    PATTERN_INFO &pat = mod->patterns[i];
    pat.notes = new_cells(load, cells, "S3M", i);
    if (!pat.notes) return false;
    pat.row_count = ROWS;
    const long long at = i < l.patterns ? pattern_data_at(img, l, i) : -1;
    if (at < 0) continue;
    cursor r(img, at);
    S3M_load_pat(r, mod, pat.notes, mod->channel_count, cs);
  }
  return true;
}

// The S3M at offset (0 for a plain file): the header, the order list with the parapointers, the
// instruments with their data, then the channels the patterns use and the patterns.
MODUX *modux_import::load_s3m_bytes(load_state &load, view img, int offset) {
  MODUX *mod = new_module(load);
  if (!mod) return nullptr;
  if (offset < 0 || offset > img.size)
    return refuse(load, mod, "S3M: no module data at offset %d", offset);
  cursor c(img, offset);
  if (!c.has(HEADER_BYTES)) return refuse(load, mod, "S3M: file ends inside the header");
  s3m_layout l{};
  l.offset = offset;
  channel_setup cs;
  read_header(mod, c, l, cs);
  // The order list and both parapointer lists must be in the file before they are read.
  const long long lists =
      l.order_entries + 2LL * l.instruments + 2LL * l.patterns + (l.pan_table ? 32 : 0);
  if (!c.has(lists))
    return refuse(load, mod, "S3M: file ends inside the order list or the parapointers");
  read_orders(mod, c, l);
  if (!read_samples(load, mod, img, l)) return abandon(mod);
  set_up_channels(mod, img, l, cs);
  if (!read_patterns(load, mod, img, l, cs)) return abandon(mod);
  lock_mod(mod);
  return mod;
}

MODUX *load_s3m(const char *filename, int offset) {
  return load_file_with(filename, load_s3m_bytes, offset);
}

int get_s3m_info(const char *filename, int offset, MODFILE_INFO *info) {
  return head_info(filename, offset, 28, offset == 0 ? 3 : 7,
                   offset == 0 ? "S3M" : "Unreal S3M (UMX)", info);
}
