// modux load_it: the IT importer, for IT files and IT modules inside UMX packages.
// Builds a module of the IT family: the header's flags become RULE_* bits, instruments (old
// and new layout) keep their note-sample keyboards, new note actions and three envelopes,
// samples (8/16 bits, signed or not, stereo mixed to mono, plain or IT 2.14/2.15 compressed)
// become Allegro samples, and packed patterns become cells whose effect letters are internal
// commands. Every count and offset is checked against the file before it is used.
#include <cmath>
#include <vector>

#include "import.h"

using namespace modux_import;

namespace {

const char SIGNATURE[4] = {'I', 'M', 'P', 'M'};
const int NAME_AT = 4;
const int NAME_BYTES = 26;
// The fixed part of the header, up to the order list.
const int HEADER_BYTES = 192;
// Counts the format allows: instruments, samples and patterns are numbered by a byte in the cells
// (patterns by the order bytes). The order list is as long as the header says (editors write
// up to 257 entries); the model keeps its first 256 played ones.
const int MAX_INSTRUMENTS = 255;
const int MAX_SAMPLES = 255;
const int MAX_PATTERNS = 256;
const int MAX_ROWS = 256;
// A pattern offset of 0 is an empty 64-row pattern.
const int EMPTY_ROWS = 64;
// Order entries: 254 is a marker skipped in play, 255 ends the song.
const int ORDER_SKIP = 254;
const int ORDER_END = 255;
// Instrument and sample headers are 554 and 80 bytes in every version of the format.
const int INSTRUMENT_BYTES = 554;
const int SAMPLE_HEADER_BYTES = 80;
// Instruments in the new layout are written by trackers claiming compatibility with 2.00 on.
const int NEW_INSTRUMENTS_FROM = 0x200;
// Zxx drives the filter through the default macros in files of Impulse Tracker 2.14 on; earlier
// versions had no filter macros, and their files play Zxx as nothing.
const int ZXX_MACROS_FROM = 0x214;
// Old ModPlug Tracker wrote its IT files as "2.17, compatible with 2.00", or as version 8.88; they
// play at its own levels and by its envelope carry.
const int MODPLUG_TRACKER = 0x217, MODPLUG_COMPATIBLE = 0x200, MODPLUG_888 = 0x888;
// OpenMPT writes its version as 0x5xyy; its files take their notes from the ST3 period table in
// Amiga mode, and before version 1.24 in linear mode too.
const int OPENMPT_FIRST = 0x5001, OPENMPT_LAST = 0x5FFF, OPENMPT_EQUAL_LINEAR = 0x5124;
// Cell note bytes: 0..119 notes, 255 note off, 254 note cut, the rest note fade.
const int NOTE_OFF = 255;
const int NOTE_CUT = 254;
// A song message is at most this long in the trackers' editors.
const int MAX_MESSAGE = 8000;

// Header flags and sample flags, as the format numbers them.
const int FLAG_INSTRUMENTS = 4;
const int FLAG_LINEAR = 8;
const int FLAG_OLD_EFFECTS = 16;
const int FLAG_COMPAT_GXX = 32;
const int SPECIAL_MESSAGE = 1;
const int SPECIAL_HISTORY = 2;  // an edit history follows the offset tables
const int SPECIAL_MACROS = 8;   // the song's MIDI macros follow (after the history)
const int MACRO_TEXT = 32;      // bytes of one macro in the file
const int SAMPLE_PRESENT = 1, SAMPLE_16BIT = 2, SAMPLE_STEREO = 4, SAMPLE_COMPRESSED = 8,
          SAMPLE_LOOP = 16, SAMPLE_SUSTAIN = 32, SAMPLE_PINGPONG = 64,
          SAMPLE_SUSTAIN_PINGPONG = 128;
const int CONVERT_SIGNED = 1, CONVERT_DELTA = 4;
// A convert byte of 255 marks plain 8-bit mono data packed as ADPCM.
const int CONVERT_ADPCM = 255;
bool is_adpcm(int flags, int convert) {
  return convert == CONVERT_ADPCM && !(flags & (SAMPLE_16BIT | SAMPLE_STEREO | SAMPLE_COMPRESSED));
}

// How each effect letter (A = 1 .. Z = 26) becomes an internal command, its parameter kept; under
// RULE_IT_VIRTUAL_VOICES the tick gives each its IT meaning. S keeps its sub-command in the
// parameter.
const effect_entry it_effects[27] = {
    {0, false},                           // no effect
    {CMD_S3M_SET_SPEED, true},            // A set speed
    {CMD_POSITION_JUMP, true},            // B position jump
    {CMD_PATTERN_BREAK, true},            // C pattern break
    {CMD_IT_VOLSLIDE, true},              // D volume slide
    {CMD_S3M_PORTA_DOWN, true},           // E portamento down
    {CMD_S3M_PORTA_UP, true},             // F portamento up
    {CMD_TONE_PORTA, true},               // G tone portamento
    {CMD_VIBRATO, true},                  // H vibrato
    {CMD_TREMOR, true},                   // I tremor
    {CMD_S3M_ARPEGGIO, true},             // J arpeggio
    {CMD_VIBRATO_S3M_VOLSLIDE, true},     // K vibrato + volume slide
    {CMD_TONE_PORTA_S3M_VOLSLIDE, true},  // L tone portamento + volume slide
    {CMD_IT_CHANNEL_VOLUME, true},        // M channel volume
    {CMD_IT_CHANNEL_VOLSLIDE, true},      // N channel volume slide
    {CMD_SAMPLE_OFFSET, true},            // O sample offset
    {CMD_IT_PANSLIDE, true},              // P pan slide
    {CMD_S3M_RETRIG, true},               // Q retrigger
    {CMD_S3M_TREMOLO, true},              // R tremolo
    {CMD_IT_EXTENDED, true},              // S extended commands
    {CMD_IT_TEMPO, true},                 // T tempo, tempo slide
    {CMD_FINE_VIBRATO, true},             // U fine vibrato
    {CMD_SET_GLOBAL_VOLUME, true},        // V global volume
    {CMD_GLOBAL_VOLSLIDE, true},          // W global volume slide
    {CMD_SET_PAN, true},                  // X pan
    {CMD_IT_PANBRELLO, true},             // Y panbrello
    {CMD_IT_MIDI_MACRO, true},            // Z MIDI macro (filter)
};

// What the header says, beyond what goes straight into the model.
struct it_header {
  int orders, instruments, samples, patterns;
  int tracker;     // the version of the tracker that wrote the file
  int compatible;  // the lowest tracker version that plays the file
  int flags, special;
  int message_length;
  uint32_t message_at;
};

// ---------------------------------------------------------------------------------------------
// Header, orders and message
// ---------------------------------------------------------------------------------------------

// The fixed header at the cursor (which starts on "IMPM"). False with a message.
bool read_header(load_state &load, MODUX *mod, cursor &c, it_header &h) {
  c.skip(4);                       // "IMPM"
  c.bytes(mod->name, NAME_BYTES);  // song name
  c.skip(2);                       // row highlight
  h.orders = c.lword();            // order entries
  h.instruments = c.lword();
  h.samples = c.lword();
  h.patterns = c.lword();
  h.tracker = c.lword();     // version of the tracker that wrote it
  h.compatible = c.lword();  // compatible with version
  h.flags = c.lword();       // stereo, instruments, linear, old effects, Gxx...
  h.special = c.lword();     // bit 0: a message is attached
  mod->initial_global_volume = clamp_int(c.byte(), 0, 128);
  mod->mix_volume = clamp_int(c.byte(), 0, 128);
  mod->initial_speed = c.byte();
  mod->initial_tempo = c.byte();
  mod->pan_separation = clamp_int(c.byte(), 0, 128);
  c.skip(1);  // MIDI pitch wheel depth
  h.message_length = c.lword();
  h.message_at = c.llong();
  c.skip(4);  // reserved
  // Channel pan 0..64 (100 surround, bit 7 channel off) and channel volume 0..64.
  for (int ch = 0; ch < MODUX_MAX_CHANNELS; ch++) {
    const int byte = c.byte(), p = byte & 127;
    mod->channel_muted[ch] = byte & 128 ? -1 : 0;
    mod->channel_pan[ch] = p == 100 ? 128 : clamp_int(p * 4, 0, 255);
    mod->channel_surround[ch] = p == 100 ? -1 : 0;
  }
  for (int ch = 0; ch < MODUX_MAX_CHANNELS; ch++)
    mod->channel_volume[ch] = clamp_int(c.byte(), 0, 64);
  if (mod->initial_speed == 0) mod->initial_speed = 6;
  if (mod->initial_tempo < 32) mod->initial_tempo = 125;
  mod->flags = MODUX_IT;
  mod->rules = RULE_IT_VIRTUAL_VOICES | RULE_IT_DELAY_TICKS;
  if (h.flags & FLAG_LINEAR) mod->rules |= RULE_IT_LINEAR;
  if (h.flags & FLAG_OLD_EFFECTS) mod->rules |= RULE_IT_OLD_EFFECTS;
  if (h.flags & FLAG_COMPAT_GXX) mod->rules |= RULE_IT_COMPAT_GXX;
  if ((h.flags & FLAG_INSTRUMENTS) && h.instruments > 0) mod->rules |= RULE_IT_INSTRUMENTS;
  if (h.tracker >= ZXX_MACROS_FROM) mod->rules |= RULE_IT_ZXX_MACROS;
  const bool modplug = (h.tracker == MODPLUG_TRACKER && h.compatible == MODPLUG_COMPATIBLE) ||
                       h.tracker == MODPLUG_888;
  mod->modplug_tracker = modplug ? -1 : 0;
  const bool openmpt = h.tracker >= OPENMPT_FIRST && h.tracker <= OPENMPT_LAST;
  // Old ModPlug Tracker's notes come from the period table in linear mode as well.
  const bool openmpt_table =
      openmpt && (!(h.flags & FLAG_LINEAR) || h.tracker < OPENMPT_EQUAL_LINEAR);
  mod->period_table_notes = modplug || openmpt_table ? -1 : 0;
  if (h.instruments > MAX_INSTRUMENTS) {
    fail(load, "IT: %d instruments, at most %d are possible", h.instruments, MAX_INSTRUMENTS);
    return false;
  }
  if (h.samples > MAX_SAMPLES) {
    fail(load, "IT: %d samples, at most %d are possible", h.samples, MAX_SAMPLES);
    return false;
  }
  if (h.patterns > MAX_PATTERNS) {
    fail(load, "IT: %d patterns, at most %d are possible", h.patterns, MAX_PATTERNS);
    return false;
  }
  return true;
}

// The order list: 254 entries are left out, 255 ends the song; an entry naming a pattern the
// file lacks plays an empty pattern (index h.patterns, appended). Answers whether one is needed.
bool read_orders(MODUX *mod, cursor &c, const it_header &h) {
  bool missing = false;
  mod->order_count = 0;
  for (int i = 0; i < h.orders; i++) {
    const int entry = c.byte();
    if (entry == ORDER_END) {
      c.skip(h.orders - i - 1);
      break;
    }
    if (entry == ORDER_SKIP || mod->order_count == MODUX_MAX_ORDERS) continue;
    if (entry >= h.patterns) missing = true;
    mod->order_table[mod->order_count++] = entry >= h.patterns ? h.patterns : entry;
  }
  return missing;
}

// The song message, when one is attached and lies inside the file; line ends (13) become 10.
void read_message(MODUX *mod, view img, long long base, const it_header &h) {
  if (!(h.special & SPECIAL_MESSAGE) || h.message_length <= 0) return;
  const long long at = base + h.message_at;
  const int length = h.message_length > MAX_MESSAGE ? MAX_MESSAGE : h.message_length;
  if (at < 0 || at + length > img.size) return;  // a lost message costs nothing to play
  mod->message = static_cast<char *>(calloc(1, length + 1));
  if (!mod->message) return;
  for (int i = 0; i < length; i++)
    mod->message[i] = img.data[at + i] == 13 ? '\n' : img.data[at + i];
}

// The MIDI macros of SF0..SFF and Z80..ZFF: the song's own when it has them, else the default
// ones (SF0 sets the cutoff from Z00..Z7F, Z80..Z8F the resonance in steps of 8). None for files
// of trackers without filter macros. A failed allocation leaves Zxx doing nothing.
void read_macros(MODUX *mod, cursor &c, const it_header &h) {
  if (!(mod->rules & RULE_IT_ZXX_MACROS)) return;
  mod->it_macros = static_cast<char *>(calloc(MODUX_IT_MACROS, MODUX_IT_MACRO_BYTES));
  if (!mod->it_macros) return;
  if (h.special & SPECIAL_HISTORY) c.skip(8LL * c.lword());
  const int global = 9;  // the nine device messages before SF0 play nothing here
  if ((h.special & SPECIAL_MACROS) && c.has((global + MODUX_IT_MACROS) * MACRO_TEXT)) {
    c.skip(global * MACRO_TEXT);
    for (int i = 0; i < MODUX_IT_MACROS; i++)
      c.bytes(mod->it_macros + i * MODUX_IT_MACRO_BYTES, MACRO_TEXT);
    return;
  }
  snprintf(mod->it_macros, MODUX_IT_MACRO_BYTES, "F0F000z");
  for (int i = 0; i < 16; i++)
    snprintf(mod->it_macros + (16 + i) * MODUX_IT_MACRO_BYTES, MODUX_IT_MACRO_BYTES, "F0F001%02X",
             i * 8);
}

// ---------------------------------------------------------------------------------------------
// Instruments
// ---------------------------------------------------------------------------------------------

// Holds an envelope's point numbers inside its points and keeps its ticks from going back.
void fit_envelope(IT_ENVELOPE_INFO &e) {
  e.points = clamp_int(e.points, 0, MODUX_IT_ENVELOPE_POINTS);
  const int last = e.points > 0 ? e.points - 1 : 0;
  e.loop_start = clamp_int(e.loop_start, 0, last);
  e.loop_end = clamp_int(e.loop_end, e.loop_start, last);
  e.sustain_start = clamp_int(e.sustain_start, 0, last);
  e.sustain_end = clamp_int(e.sustain_end, e.sustain_start, last);
  for (int i = 1; i < MODUX_IT_ENVELOPE_POINTS; i++)
    if (e.tick[i] < e.tick[i - 1]) e.tick[i] = e.tick[i - 1];
  if (e.points == 0) e.flags &= ~7;  // an envelope without points does not run
}

// A new-layout envelope (82 bytes): flags, points, loop and sustain points, 25 nodes of a
// value byte (signed for pan and pitch) and a tick word, one pad byte.
void read_envelope(cursor &c, IT_ENVELOPE_INFO &e, int low, int high) {
  e.flags = c.byte();   // bit 0 on, 1 loop, 2 sustain, 7 filter
  e.points = c.byte();  // nodes used
  e.loop_start = c.byte();
  e.loop_end = c.byte();
  e.sustain_start = c.byte();
  e.sustain_end = c.byte();
  for (int i = 0; i < MODUX_IT_ENVELOPE_POINTS; i++) {
    const int v = low < 0 ? c.sbyte() : c.byte();
    e.value[i] = clamp_int(v, low, high);
    e.tick[i] = c.lword();
  }
  c.skip(1);
  fit_envelope(e);
}

// The keyboard: 120 pairs of the note played and the sample (from 1; 0 none, which the model
// keeps as -1: the note is ignored; a sample past the module's last is -2: the note stops).
void read_keyboard(cursor &c, IT_INSTRUMENT_INFO &ins, int samples) {
  for (int n = 0; n < MODUX_IT_NOTES; n++) {
    const int note = c.byte();
    const int sample = c.byte();
    ins.note_map[n] = note < MODUX_IT_NOTES ? note : n;
    ins.sample_map[n] = sample == 0 ? -1 : sample <= samples ? sample - 1 : -2;
  }
}

// Instrument headers in the layout of format 2.00 on.
void read_new_instrument(cursor &c, IT_INSTRUMENT_INFO &ins, int samples) {
  c.skip(4 + 12 + 1);                                // "IMPI", file name, 0
  ins.new_note_action = c.byte() & 3;                // cut, continue, off, fade
  ins.duplicate_check = c.byte() & 3;                // off, note, sample, instrument
  ins.duplicate_action = clamp_int(c.byte(), 0, 2);  // cut, off, fade
  ins.fadeout = clamp_int(c.lword(), 0, 1024);
  ins.pitch_pan_separation = clamp_int(c.sbyte(), -32, 32);
  ins.pitch_pan_centre = clamp_int(c.byte(), 0, MODUX_IT_NOTES - 1);
  ins.global_volume = clamp_int(c.byte(), 0, 128);
  const int pan = c.byte();  // 0..64, bit 7: no default pan
  ins.pan = (pan & 128) ? -1 : clamp_int(pan, 0, 64);
  ins.random_volume = clamp_int(c.byte(), 0, 100);
  ins.random_pan = clamp_int(c.byte(), 0, 64);
  c.skip(2 + 1 + 1 + 26);       // tracker version, sample count, 0, name
  const int cutoff = c.byte();  // bit 7: use
  const int resonance = c.byte();
  ins.filter_cutoff = (cutoff & 128) ? cutoff & 127 : -1;
  ins.filter_resonance = (resonance & 128) ? resonance & 127 : -1;
  c.skip(4);  // MIDI channel, program, bank
  read_keyboard(c, ins, samples);
  read_envelope(c, ins.vol_env, 0, 64);
  read_envelope(c, ins.pan_env, -32, 32);
  read_envelope(c, ins.pitch_env, -32, 32);
}

// Instrument headers of format 1.x: one volume envelope given as nodes, no pan or pitch.
void read_old_instrument(cursor &c, IT_INSTRUMENT_INFO &ins, int samples) {
  c.skip(4 + 12 + 1);          // "IMPI", file name, 0
  const int flags = c.byte();  // bit 0 on, 1 loop, 2 sustain loop
  ins.vol_env.loop_start = c.byte();
  ins.vol_env.loop_end = c.byte();
  ins.vol_env.sustain_start = c.byte();
  ins.vol_env.sustain_end = c.byte();
  c.skip(2);
  ins.fadeout = clamp_int(c.lword() * 2, 0, 1024);  // counted against 512 there
  ins.new_note_action = c.byte() & 3;
  ins.duplicate_check = c.byte() ? 1 : 0;  // on: same note
  c.skip(2 + 1 + 1 + 26 + 6);              // tracker version, sample count, 0, name, 0
  ins.global_volume = 128;
  ins.pan = -1;
  ins.filter_cutoff = ins.filter_resonance = -1;
  ins.pitch_pan_centre = 60;
  read_keyboard(c, ins, samples);
  c.skip(200);  // the envelope drawn tick by tick
  ins.vol_env.flags = flags & 7;
  int points = 0;
  for (int i = 0; i < MODUX_IT_ENVELOPE_POINTS; i++) {
    const int tick = c.byte();  // 255 ends the nodes
    const int value = c.byte();
    if (tick == 255 || (i > 0 && points < i)) continue;
    ins.vol_env.tick[i] = tick;
    ins.vol_env.value[i] = clamp_int(value, 0, 64);
    points = i + 1;
  }
  ins.vol_env.points = points;
  fit_envelope(ins.vol_env);
}

bool read_instruments(load_state &load, MODUX *mod, view img, long long base, const it_header &h,
                      const uint32_t *offsets) {
  const int count = (mod->rules & RULE_IT_INSTRUMENTS) ? h.instruments : 0;
  mod->instrument_count = count;
  if (count == 0) return true;
  mod->it_instruments = static_cast<IT_INSTRUMENT_INFO *>(
      new_records(load, count, sizeof(IT_INSTRUMENT_INFO), "IT_INSTRUMENT_INFO"));
  if (!mod->it_instruments) return false;
  // The "IMPI" signature is not checked: some editors leave it out of otherwise sound headers.
  for (int i = 0; i < count; i++) {
    const long long at = base + offsets[i];
    if (at + INSTRUMENT_BYTES > img.size) {
      fail(load, "IT: instrument %d at %lu lies past the end of the file", i + 1,
           (unsigned long)offsets[i]);
      return false;
    }
    cursor c(img, at);
    if (h.compatible >= NEW_INSTRUMENTS_FROM)
      read_new_instrument(c, mod->it_instruments[i], h.samples);
    else
      read_old_instrument(c, mod->it_instruments[i], h.samples);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Compressed sample data (IT 2.14, and 2.15 with its second integration)
// ---------------------------------------------------------------------------------------------

// Reads bits low first from a block of compressed data; past its end it reports exhaustion.
struct bit_reader {
  const unsigned char *data;
  long long size;
  long long pos = 0;
  int bit = 0;
  bool ended = false;
  int read(int n) {
    int value = 0;
    for (int i = 0; i < n; i++) {
      if (pos >= size) {
        ended = true;
        return 0;
      }
      value |= ((data[pos] >> bit) & 1) << i;
      if (++bit == 8) {
        bit = 0;
        pos++;
      }
    }
    return value;
  }
};

// Decodes frames values of one block. The bit width starts at top + 1 (9 or 17) and is changed
// by escape values of three forms; a width outside 1..top+1 means damaged data. Values are
// deltas, integrated once (2.14) or twice (2.15). False when the block ran out or lied.
bool decode_block(bit_reader &r, int top, bool twice, int *out, int frames) {
  const int max_width = top + 1;
  const int low_bits = top == 8 ? 3 : 4;
  int width = max_width;
  int d1 = 0, d2 = 0;
  for (int done = 0; done < frames;) {
    if (width < 1 || width > max_width) return false;
    int value = r.read(width);
    if (r.ended) return false;
    if (width < 7) {
      if (value == 1 << (width - 1)) {  // escape: a new width in low_bits bits
        const int w = r.read(low_bits) + 1;
        if (r.ended) return false;
        width = w < width ? w : w + 1;
        continue;
      }
    } else if (width < max_width) {
      const int border = ((top == 8 ? 0xFF : 0xFFFF) >> (max_width - width)) - (top == 8 ? 4 : 8);
      if (value > border && value <= border + (top == 8 ? 8 : 16)) {  // escape: width by value
        const int w = value - border;
        width = w < width ? w : w + 1;
        continue;
      }
    } else {
      if (value & (1 << top)) {  // escape: width in the low byte
        width = (value + 1) & 0xFF;
        continue;
      }
    }
    if (width < max_width) {  // sign-extend from width bits
      const int shift = 32 - width;
      value = static_cast<int>(static_cast<uint32_t>(value) << shift) >> shift;
    } else {
      value = static_cast<int>(static_cast<uint32_t>(value) << (32 - top)) >> (32 - top);
    }
    d1 = top == 8 ? static_cast<int8_t>(d1 + value) : static_cast<int16_t>(d1 + value);
    d2 = top == 8 ? static_cast<int8_t>(d2 + d1) : static_cast<int16_t>(d2 + d1);
    out[done++] = twice ? d2 : d1;
  }
  return true;
}

// Values of one compressed block: 32768 bytes of output.
long long block_values(int top) { return top == 8 ? 0x8000 : 0x4000; }

// Walks the chain of blocks (a 16-bit length, then that many bytes) that count values of one
// channel need, from at, without decoding: where the chain ends, or -1 with a message when the
// file ends before it does. Run before the sample's memory is taken, so a length the blocks in
// the file cannot give costs nothing.
long long block_chain_end(load_state &load, view img, long long at, long long count, int top,
                          int sample) {
  for (long long done = 0; done < count; done += block_values(top)) {
    if (at + 2 > img.size) {
      fail(load, "IT: compressed data of sample %d ends before its block %lld", sample,
           done / block_values(top) + 1);
      return -1;
    }
    at += 2 + (img.data[at] | (img.data[at + 1] << 8));
    if (at > img.size) {
      fail(load, "IT: compressed block of sample %d runs past the end of the file", sample);
      return -1;
    }
  }
  return at;
}

// Writes the signed value v of frame k of channel ch into the Allegro sample (unsigned, 16-bit
// ones in the machine's byte order). The second channel of a stereo sample is mixed with the
// first, which the frame holds by then: stereo becomes mono.
inline void put_value(SAMPLE &spl, bool wide, int ch, long long k, int v) {
  if (wide) {
    uint16_t &o = static_cast<uint16_t *>(spl.data)[k];
    if (ch) v = (static_cast<int>(o) - 32768 + v) / 2;
    o = static_cast<uint16_t>(v + 32768);
  } else {
    uint8_t &o = static_cast<uint8_t *>(spl.data)[k];
    if (ch) v = (static_cast<int>(o) - 128 + v) / 2;
    o = static_cast<uint8_t>(v + 128);
  }
}

// Decompresses count values of `top` bits of channel ch from the blocks at `at` (whose chain the
// caller has walked) into the sample, a block at a time; at moves past them. False with a
// message.
bool decompress(load_state &load, view img, long long &at, long long count, int top, bool twice,
                SAMPLE &spl, int ch, int sample) {
  const long long per_block = block_values(top);
  std::vector<int> values(per_block);
  for (long long done = 0; done < count;) {
    const long long length = img.data[at] | (img.data[at + 1] << 8);
    at += 2;
    const long long n = count - done < per_block ? count - done : per_block;
    bit_reader r{img.data + at, length};
    if (!decode_block(r, top, twice, values.data(), static_cast<int>(n)))
      return fail(load, "IT: compressed block %lld of sample %d is damaged", done / per_block + 1,
                  sample);
    for (long long k = 0; k < n; k++) put_value(spl, top == 16, ch, done + k, values[k]);
    done += n;
    at += length;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Samples
// ---------------------------------------------------------------------------------------------

// Every value of a compressed block takes at least one bit: the narrowest width the escapes
// reach is 1 (at width 1 the value 1 is the escape, so 0 is the only value). A block of n bytes
// thus gives at most 8n values, and the bytes after a sample's data offset at most eight times
// their count.
const long long VALUES_PER_COMPRESSED_BYTE = 8;

// Turns one sample's data into its Allegro sample of frames frames: 16-bit data stays 16 bits,
// stereo is mixed to mono, everything becomes Allegro's unsigned form. Plain data cut short by
// the end of the file keeps what is there (the missing values are 0). False with the status set.
bool read_sample_data(load_state &load, SAMPLE &spl, view img, long long at, long long frames,
                      int flags, int convert, int number) {
  const bool wide = flags & SAMPLE_16BIT;
  const int channels = (flags & SAMPLE_STEREO) ? 2 : 1;
  const int top = wide ? 16 : 8;
  const bool adpcm = is_adpcm(flags, convert);
  // Everything the length claims is checked before the sample's memory is taken: first against
  // the module's total, then against what the bytes after the data offset can give.
  if (!charge_sample(load, frames * (wide ? 2 : 1), "IT", number)) return false;
  if (flags & SAMPLE_COMPRESSED) {
    if (frames * channels > VALUES_PER_COMPRESSED_BYTE * (img.size - at))
      return fail(load, "IT: sample %d claims %lld frames, more than its data can hold", number,
                  frames);
    // Each channel of a stereo sample is compressed on its own, one after the other.
    long long end = at;
    for (int ch = 0; ch < channels && end >= 0; ch++)
      end = block_chain_end(load, img, end, frames, top, number);
    if (end < 0) return false;
  }
  spl.bits = top;
  free(spl.data);
  spl.data = calloc(frames > 0 ? frames : 1, wide ? 2 : 1);
  if (!spl.data) return no_memory(load, "sample data");
  if (adpcm) {
    cursor c(img, at);
    decode_adpcm(c, static_cast<unsigned char *>(spl.data), frames);
    return true;
  }
  if (flags & SAMPLE_COMPRESSED) {
    // A compressed sample is signed.
    long long pos = at;
    for (int ch = 0; ch < channels; ch++)
      if (!decompress(load, img, pos, frames, top, convert & CONVERT_DELTA, spl, ch, number))
        return false;
    return true;
  }
  // Plain data: channel after channel, little-endian words for 16 bits.
  const bool is_signed = convert & CONVERT_SIGNED;
  const int bytes = wide ? 2 : 1;
  for (int ch = 0; ch < channels; ch++) {
    for (long long k = 0; k < frames; k++) {
      const long long p = at + (ch * frames + k) * bytes;
      int v = 0;
      if (p >= 0 && p + bytes <= img.size) {
        v = wide ? (img.data[p] | (img.data[p + 1] << 8)) : img.data[p];
        if (is_signed)
          v = wide ? static_cast<int16_t>(v) : static_cast<int8_t>(v);
        else
          v -= wide ? 32768 : 128;
      }
      put_value(spl, wide, ch, k, v);
    }
  }
  return true;
}

// The sustain loop kept as the loop of a second Allegro sample on the same data.
void set_sustain(MODUX *mod, int i, long long start, long long end, int flags) {
  SAMPLE &s = mod->sustain_samples[i];
  SAMPLE_INFO &info = mod->sample_info[i];
  s = mod->samples[i];
  if (end > static_cast<long long>(s.len)) end = static_cast<long long>(s.len);
  if (!(flags & 1) || start < 0 || start >= end) {
    info.sustain_flags = 0;
    s.loop_start = mod->samples[i].loop_start;
    s.loop_end = mod->samples[i].loop_end;
    return;
  }
  info.sustain_flags = flags & 3;
  s.loop_start = info.sustain_start = static_cast<int>(start);
  s.loop_end = info.sustain_end = static_cast<int>(end);
}

bool read_samples(load_state &load, MODUX *mod, view img, long long base, const it_header &h,
                  const uint32_t *offsets) {
  const int count = h.samples;
  mod->sample_count = count;
  if (count == 0) return true;
  mod->sample_info =
      static_cast<SAMPLE_INFO *>(new_records(load, count, sizeof(SAMPLE_INFO), "SAMPLE_INFO"));
  if (!mod->sample_info) return false;
  mod->samples = static_cast<SAMPLE *>(new_records(load, count, sizeof(SAMPLE), "SAMPLE"));
  if (!mod->samples) return false;
  mod->sustain_samples = static_cast<SAMPLE *>(new_records(load, count, sizeof(SAMPLE), "SAMPLE"));
  if (!mod->sustain_samples) return false;
  for (int i = 0; i < count; i++) {
    SAMPLE &spl = mod->samples[i];
    SAMPLE_INFO &info = mod->sample_info[i];
    if (!new_sample(load, spl, info, 0)) return false;
    const long long at = base + offsets[i];
    if (at + SAMPLE_HEADER_BYTES > img.size) {
      fail(load, "IT: sample %d at %lu lies past the end of the file", i + 1,
           (unsigned long)offsets[i]);
      return false;
    }
    if (memcmp(img.data + at, "IMPS", 4) != 0) {
      fail(load, "IT: sample %d has no IMPS signature", i + 1);
      return false;
    }
    cursor c(img, at + 4 + 12 + 1);  // "IMPS", file name, 0
    info.global_volume = clamp_int(c.byte(), 0, 64);
    const int flags = c.byte();  // present, 16 bit, stereo, compressed, loops
    info.volume = clamp_int(c.byte(), 0, 64);
    c.skip(26);                    // name
    const int convert = c.byte();  // bit 0 signed, bit 2 delta (2.15 compression)
    const int pan = c.byte();      // 0..64, bit 7: use as default pan
    info.pan = clamp_int((pan & 127) * 4, 0, 255);
    info.pan_on = (pan & 128) ? -1 : 0;
    const uint32_t length = c.llong();  // frames
    const uint32_t loop_start = c.llong();
    const uint32_t loop_end = c.llong();
    info.tuning = clamp_int(c.llong(), 0, 9999999);  // C5 speed, Hz
    const uint32_t sustain_start = c.llong();
    const uint32_t sustain_end = c.llong();
    const uint32_t data_at = c.llong();  // from the start of the IT data
    info.vibrato_rate = c.byte();        // auto-vibrato speed
    info.vibrato_depth = c.byte();
    info.vibrato_sweep = c.byte();  // rate of the depth's rise
    info.vibrato_type = c.byte();
    if (info.tuning == 0) info.tuning = 8363;
    long long frames = (flags & SAMPLE_PRESENT) ? length : 0;
    const long long data = base + data_at;
    const int bytes_per_frame =
        ((flags & SAMPLE_16BIT) ? 2 : 1) * ((flags & SAMPLE_STEREO) ? 2 : 1);
    if (frames > 0 && is_adpcm(flags, convert)) {
      frames = adpcm_frames(cursor(img, data), frames);
    } else if (frames > 0 && !(flags & SAMPLE_COMPRESSED)) {
      // Plain data: as much as the file holds.
      const long long there = data < img.size ? (img.size - data) / bytes_per_frame : 0;
      if (frames > there) frames = there;
    }
    if (frames > 0 && (flags & SAMPLE_COMPRESSED) && data >= img.size) {
      fail(load, "IT: compressed data of sample %d lies past the end of the file", i + 1);
      return false;
    }
    spl.len = info.length = static_cast<int>(frames);
    if (frames > 0 && !read_sample_data(load, spl, img, data, frames, flags, convert, i + 1))
      return false;
    fit_loop(spl, info, loop_start, loop_end,
             (flags & SAMPLE_LOOP) ? ((flags & SAMPLE_PINGPONG) ? 3 : 1) : 0);
    set_sustain(mod, i, sustain_start, sustain_end,
                (flags & SAMPLE_SUSTAIN) ? ((flags & SAMPLE_SUSTAIN_PINGPONG) ? 3 : 1) : 0);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Patterns
// ---------------------------------------------------------------------------------------------

// Last values of each channel, which a cell's mask can ask to repeat.
struct channel_memory {
  int mask, note, sample, volume, command, param;
};

// One packed pattern: 2-byte data length, 2-byte row count, 4 reserved, then per row
// channel bytes (0 ends the row; bit 7 says a new mask follows) and their fields. Cells are
// stored for channels 0..63; channel_count is raised to the highest channel that has one.
bool read_pattern(load_state &load, MODUX *mod, view img, long long at, int number, int &used) {
  PATTERN_INFO &pat = mod->patterns[number];
  if (at + 8 > img.size) {
    fail(load, "IT: pattern %d lies past the end of the file", number);
    return false;
  }
  cursor c(img, at);
  const int length = c.lword();
  const int rows = c.lword();
  c.skip(4);
  if (rows < 1 || rows > MAX_ROWS) {
    fail(load, "IT: pattern %d has %d rows, 1 to %d are possible", number, rows, MAX_ROWS);
    return false;
  }
  const long long end = at + 8 + length;
  if (end > img.size) {
    fail(load, "IT: pattern %d runs past the end of the file", number);
    return false;
  }
  pat.row_count = rows;
  pat.notes = new_cells(load, rows * MODUX_MAX_CHANNELS, "IT", number);
  if (!pat.notes) return false;
  channel_memory memory[MODUX_MAX_CHANNELS] = {};
  const int limit = (mod->rules & RULE_IT_INSTRUMENTS) ? mod->instrument_count : mod->sample_count;
  int row = 0;
  while (row < rows && c.pos < end) {
    const int what = c.byte();
    if (what == 0) {
      row++;
      continue;
    }
    const int ch = (what - 1) & 63;
    channel_memory &m = memory[ch];
    if (what & 128) m.mask = c.byte();
    NOTE_INFO &cell = pat.notes[row * MODUX_MAX_CHANNELS + ch];
    int note = -1, sample = -1, volume = -1, command = -1, param = 0;
    if (m.mask & 1) note = m.note = c.byte();
    if (m.mask & 2) sample = m.sample = c.byte();
    if (m.mask & 4) volume = m.volume = c.byte();
    if (m.mask & 8) {
      command = m.command = c.byte();
      param = m.param = c.byte();
    }
    if (m.mask & 16) note = m.note;
    if (m.mask & 32) sample = m.sample;
    if (m.mask & 64) volume = m.volume;
    if (m.mask & 128) {
      command = m.command;
      param = m.param;
    }
    if (c.pos > end) break;  // a cell cut off by the end of the data is dropped
    if (note >= 0)
      cell.note = note < MODUX_IT_NOTES ? note + 1
                  : note == NOTE_OFF    ? -2
                  : note == NOTE_CUT    ? -1
                                        : -3;
    // A number the module lacks is kept as the one past its last: it plays nothing.
    if (sample > 0) cell.sample = sample <= limit ? sample : limit + 1;
    if (volume >= 0 && volume <= 212) cell.volume = volume + 1;  // 0 stays "none"
    if (command > 0) {
      int code = command, value = param;
      translate_effect(it_effects, 27, -1, nullptr, &code, &value);
      if (code) cell.command = code, cell.param = value;  // a letter beyond Z is no effect
    }
    if (note >= 0 || sample > 0 || volume >= 0 || command > 0)
      if (ch + 1 > used) used = ch + 1;
  }
  return true;
}

// An empty pattern of 64 rows (offset 0, or an order naming a pattern the file lacks).
bool empty_pattern(load_state &load, MODUX *mod, int number) {
  PATTERN_INFO &pat = mod->patterns[number];
  pat.row_count = EMPTY_ROWS;
  pat.notes = new_cells(load, EMPTY_ROWS * MODUX_MAX_CHANNELS, "IT", number);
  return pat.notes != nullptr;
}

// Cells are read for 64 channels; once the channels in use are known, each pattern keeps only
// those, in the model's row-major layout, and its memory shrinks to them.
void narrow_patterns(MODUX *mod) {
  const int n = mod->channel_count;
  for (int p = 0; p < mod->pattern_count; p++) {
    PATTERN_INFO &pat = mod->patterns[p];
    for (int r = 0; r < pat.row_count; r++)
      for (int ch = 0; ch < n; ch++) pat.notes[r * n + ch] = pat.notes[r * MODUX_MAX_CHANNELS + ch];
    // The rest of the 64 channels' room goes back; should the system not take it, it stays.
    void *kept = realloc(pat.notes, sizeof(NOTE_INFO) * pat.row_count * n);
    if (kept) pat.notes = static_cast<NOTE_INFO *>(kept);
  }
}

bool read_patterns(load_state &load, MODUX *mod, view img, long long base, const it_header &h,
                   const uint32_t *offsets, bool missing) {
  mod->pattern_count = h.patterns + (missing ? 1 : 0);
  if (mod->pattern_count == 0) return true;
  mod->patterns = static_cast<PATTERN_INFO *>(
      new_records(load, mod->pattern_count, sizeof(PATTERN_INFO), "PATTERN_INFO"));
  if (!mod->patterns) return false;
  int used = 1;
  for (int p = 0; p < h.patterns; p++) {
    if (offsets[p] == 0 ? !empty_pattern(load, mod, p)
                        : !read_pattern(load, mod, img, base + offsets[p], p, used))
      return false;
  }
  if (missing && !empty_pattern(load, mod, h.patterns)) return false;
  // The channels played: up to the last one a pattern uses (the header leaves unused ones on).
  mod->channel_count = used;
  narrow_patterns(mod);
  return true;
}

// Reads n 32-bit offsets of a table; false when the table does not fit the file.
bool read_offsets(load_state &load, cursor &c, uint32_t *out, int n, const char *what) {
  if (!c.has(4LL * n)) {
    fail(load, "IT: the %s offset table runs past the end of the file", what);
    return false;
  }
  for (int i = 0; i < n; i++) out[i] = c.llong();
  return true;
}

}  // namespace

// IT's Sxy as the CMD_EXTENDED parameter (y added) that plays it, -1 when it is not played here
// (SDx delays the cell's note as the row starts). Beyond 0x150 the codes are the IT family's own.
const int it_extended[16] = {
    -1,     // S0x filter
    -1,     // S1x glissando
    -1,     // S2x finetune
    0x40,   // S3x vibrato waveform
    0x70,   // S4x tremolo waveform
    0x160,  // S5x panbrello waveform
    0x150,  // S6x fine pattern delay
    0x170,  // S7x past notes, new note action, envelopes on and off
    0x80,   // S8x set pan
    0x190,  // S9x sound control (surround)
    0x1A0,  // SAx high offset
    0x60,   // SBx pattern loop
    0xC0,   // SCx note cut
    -1,     // SDx note delay
    0xE0,   // SEx row delay
    0x1F0,  // SFx MIDI macro
};

int it_extended_param(int info) {
  const int sub = it_extended[(info >> 4) & 15];
  return sub < 0 ? -1 : sub + (info & 15);
}

int modux_import::detect_it_bytes(view v) {
  return v.size >= 4 && memcmp(v.data, SIGNATURE, 4) == 0 ? 1 : -1;
}

int modux_import::detect_unreal_it_bytes(view v) { return umx_search(v, SIGNATURE, 4, 0); }

int detect_it(const char *filename) { return detect_file(filename, detect_it_bytes, 0); }

int detect_unreal_it(const char *filename) {
  return detect_file(filename, detect_unreal_it_bytes, 0);
}

MODUX *modux_import::load_it_bytes(load_state &load, view img, int offset) {
  MODUX *mod = new_module(load);
  if (!mod) return nullptr;
  if (offset < 0 || offset > img.size)
    return refuse(load, mod, "IT: no module data at offset %d", offset);
  const long long base = offset;
  cursor c(img, base);
  if (!c.has(HEADER_BYTES)) return refuse(load, mod, "IT: file ends inside the header");
  if (memcmp(img.data + base, SIGNATURE, 4) != 0) return refuse(load, mod, "IT: no IMPM signature");
  it_header h;
  if (!read_header(load, mod, c, h)) return abandon(mod);
  if (!c.has(h.orders))
    return refuse(load, mod, "IT: the order list runs past the end of the file");
  const bool missing = read_orders(mod, c, h);
  uint32_t instruments[MAX_INSTRUMENTS], samples[MAX_SAMPLES], patterns[MAX_PATTERNS];
  if (!read_offsets(load, c, instruments, h.instruments, "instrument") ||
      !read_offsets(load, c, samples, h.samples, "sample") ||
      !read_offsets(load, c, patterns, h.patterns, "pattern"))
    return abandon(mod);
  read_macros(mod, c, h);
  read_message(mod, img, base, h);
  if (!read_instruments(load, mod, img, base, h, instruments) ||
      !read_samples(load, mod, img, base, h, samples) ||
      !read_patterns(load, mod, img, base, h, patterns, missing))
    return abandon(mod);
  if (mod->order_count == 0) return refuse(load, mod, "IT: the order list plays no pattern");
  lock_mod(mod);
  return mod;
}

MODUX *load_it(const char *filename, int offset) {
  return load_file_with(filename, load_it_bytes, offset);
}

int get_it_info(const char *filename, int offset, MODFILE_INFO *info) {
  return head_info(filename, static_cast<long>(offset) + NAME_AT, NAME_BYTES, offset == 0 ? 5 : 9,
                   offset == 0 ? "IT" : "Unreal IT (UMX)", info);
}
