// modux: the music engine's public header.
// The in-memory module model that every loader fills, the player state, the control interface,
// offline rendering, the loaders and the byte-order file layer: what a program using the engine
// needs.
#ifndef MODUX_H
#define MODUX_H

#include <allegro.h>

#include <atomic>

#include "libmodux.h"

// ---------------------------------------------------------------------------------------------
// Module model
// ---------------------------------------------------------------------------------------------

// Family bits of MODUX::flags. MOD and S3M leave all clear; XM stores 3 (Amiga) or 5 (linear).
#define MODUX_XM 1      // notes are note numbers, cell samples are instruments, envelopes run
#define MODUX_AMIGA 2   // XM family with the Amiga frequency table
#define MODUX_LINEAR 4  // XM family with the linear frequency table
#define MODUX_IT 8      // IT family: notes 1..120, instruments with keyboards, background voices

// Playback-rule bits of MODUX::rules: where trackers disagree, the importer names the rules of the
// file's tracker and the tick reads each bit at the one place its behaviour lives. 0 is the
// engine's own rules (the native MUX songs). Bits 0 to 15 and 24 to 30 belong to MOD, S3M and XM
// playback; 16 to 23 are kept for IT playback.
// a pattern delay repeats its row with the effects running
#define RULE_DELAY_REPEATS_ROW 0x0001
// Fxx: 00 nothing, 01..1F speed, 20 and above tempo
#define RULE_TEMPO_FROM_32 0x0002
// Txx below 20: T0x slides down, T1x up, by x every later tick
#define RULE_TEMPO_SLIDE_PER_TICK 0x0004
// DFF is a fine volume slide up by 15
#define RULE_FINE_VOLSLIDE_DFF_UP 0x0008
// Qxy/Rxy: the retrigger count runs on across rows, a row's first tick included
#define RULE_RETRIG_COUNTS_ON 0x0010
// tremor runs on across rows, tick 0 included; I00 reuses
#define RULE_TREMOR_COUNTS_ON 0x0020
// an instrument number alone restores volume and pan, and with a tone portamento restarts the
// envelopes and fade-out
#define RULE_INSTRUMENT_RESETS 0x0040
// Kxx releases the key at tick xx of its row
#define RULE_KEY_OFF_AT_TICK 0x0080
// the instruments' auto-vibrato plays
#define RULE_AUTO_VIBRATO 0x0100
// arpeggio steps are semitones of the note's own pitch
#define RULE_EXACT_ARPEGGIO 0x0200
// a pattern loop's start row is kept over patterns; loops, breaks and jumps write one break row
// in their channels' order, which a loop plays next and the next pattern begins at (FT2)
#define RULE_LOOP_FT2 0x0400
// a position jump after a break in its row goes to row 0
#define RULE_JUMP_RESETS_BREAK 0x0800
// a repeated row's first tick runs the effects of the later ticks (FT2); else it starts the row's
// ticks again
#define RULE_DELAY_TICKS_ON 0x1000
// a new note's first tick counts towards Rxy, a row's first tick keeps the tremor state of the
// tick before, E90 restarts the sample on the row's first tick, the volume column's Cx pans to
// 16 x, a sample offset at or past the sample's end stops the note, EDx holds its cell back
// whole while the note before plays on, and linear periods are FT2's 16 bits, whose pitch stands
// still from octave 13 and wraps round from 19 1/3 octaves down (FT2)
#define RULE_FT2_TICK_COUNTS 0x2000
// every new pattern forgets the loops' start rows (ST3)
#define RULE_LOOP_FORGOTTEN 0x4000
// arpeggio steps count back from the row's end: tick t plays step (speed - t) mod 3 (FT2)
#define RULE_ARPEGGIO_FROM_END 0x8000

// notes and portamentos stay within the Amiga's pitch range: MOD always, S3M by the header's
// Amiga-limits flag
#define RULE_AMIGA_LIMITS (1 << 25)
// Dx0/D0y slide on a row's first tick too (Scream Tracker 3.00, or the header's fast-slides flag)
#define RULE_FAST_VOLSLIDES (1 << 24)
// periods play at the PAL Amiga's clock, 3546895 Hz, as ProTracker's MODs do (the engine's own
// clock is the NTSC Amiga's, 3579546 Hz)
#define RULE_PAL_CLOCK (1 << 26)
// details of FT2 that OpenMPT's XM files before 1.22.07 do without: a sample's finetune tunes
// in sixteenths of a semitone (its low three bits dropped, as FT2's period table has it), a
// volume-column vibrato besides the effect's runs the vibrato twice a tick, a released note
// fades out by the instrument's fade-out even without a volume envelope, and a pan envelope that
// stayed on its sustain point keeps it after a key off
#define RULE_FT2_EXACT (1 << 29)
// effect parameters as ST3 reads them: one memory per channel for D, E, F, I, J, K, L, Q, R, S
// and T, which every effect's non-zero parameter (H and U included) sets; Dxy with both nibbles
// slides down by y; D0F and DF0 slide on every tick, the first included; a note without a
// sample number starts where the last Oxx started one
#define RULE_ST3_PARAMETERS (1 << 27)
// a channel as ST3 keeps it: one parameter memory for D, E, F, I, J, K, L, Q, R, S and T, which
// every effect's non-zero parameter (H and U included) sets; Dxy with both nibbles slides down
// by y; D0F and DF0 slide on every tick, the first included; a note without a sample number
// starts where the last Oxx started one; a tone portamento passes over an empty sample slot's
// number; a note cut (^^^, SCx) stops the note until the next, retriggers and volumes included,
// and so does a portamento past the highest pitch
#define RULE_ST3_CHANNEL (1 << 27)
// a channel as ProTracker keeps it: a sample number without a note, or with a tone portamento,
// swaps its sample's loop in where the playing one reaches its loop's end (or its end), a sample
// without loop silencing the channel there; a new note keeps the tone portamento's target, which
// the portamento forgets once it reaches it; EDx holds back a note's pitch and start, not its
// sample number; a pattern delay's repeats run the row's fine slides and note delay again, and a
// jump or break in the delayed row lands one row past its target; a tempo
// set by Fxx starts with the next tick
#define RULE_PROTRACKER_CHANNEL (1 << 28)
// ProTracker's arpeggio reads its 36-note table past the end: a silent tick, then the table
// again from C-1 (the steps otherwise as RULE_EXACT_ARPEGGIO)
#define RULE_ARPEGGIO_WRAPS (1 << 30)

#define MODUX_MAX_CHANNELS 64        // size of ci, voice_table and channel_pan
#define MODUX_MAX_ORDERS 256         // size of order_table
#define MODUX_ENVELOPE_POINTS 12     // points of one envelope
#define MODUX_NOTE_MAP 96            // notes mapped by an instrument's sample_map
#define MODUX_IT_NOTES 120           // notes of the IT family, C-0 .. B-9
#define MODUX_IT_ENVELOPE_POINTS 25  // points of one IT envelope

// IT rules in bits 16..23 of MODUX::rules, set by the IT loader from the header's flags.
// old effects: vibrato on tick 0 too, offset past end plays
#define RULE_IT_OLD_EFFECTS (1 << 16)
// tone portamento shares no memory with E/F; G keeps envelopes
#define RULE_IT_COMPAT_GXX (1 << 17)
// linear slides; clear: Amiga (period) slides
#define RULE_IT_LINEAR (1 << 18)
// cells name instruments; clear: cells name samples
#define RULE_IT_INSTRUMENTS (1 << 19)
// Zxx drives the filter through the default macros; clear (files of trackers before IT 2.14, which
// had no filter macros): Zxx does nothing
#define RULE_IT_ZXX_MACROS (1 << 20)
// notes play on voices of their own: a new note action can leave the note before sounding in the
// background; each channel's row, effects, waves and voice are done before the next channel's
#define RULE_IT_VIRTUAL_VOICES (1 << 21)
// a row delay (SEx, S6x) adds ticks to its row, the row's effects running on
#define RULE_IT_DELAY_TICKS (1 << 22)

// Per sample; length and loop points equal those of the parallel Allegro SAMPLE.
struct SAMPLE_INFO {
  int length;         // frames
  int tuning;         // MOD: Hz at middle C; S3M: C2 rate; XM: finetune + 128
  int relative_note;  // signed semitone transpose (XM)
  int volume;         // default volume 0..64
  int pan;            // default pan 0..255 (XM)
  int loop_start;     // frame
  int loop_end;       // frame
  int loop_flags;     // bit 0 loop, bit 1 ping-pong
  int vibrato_type;   // XM auto-vibrato: 0 sine, 1 square, 2 and 3 the two ramps
  int vibrato_sweep;
  int vibrato_depth;
  int vibrato_rate;
  // IT family only (zero elsewhere).
  int global_volume;  // 0..64, scales every note of the sample
  int pan_on;         // -1 when pan is the sample's default pan
  int sustain_start;  // sustain loop, frames; played while the key is held
  int sustain_end;
  int sustain_flags;  // bit 0 loop, bit 1 ping-pong
};

// One pattern cell.
struct NOTE_INFO {
  int sample;   // MOD/S3M: sample from 1; XM: instrument from 1; 0 = none
  int note;     // MOD/S3M: 3579546 / Amiga period; XM: note from 1; 0 none; -1 cut, -2 key off
  int volume;   // volume column byte; 0 empty, 16 and above are commands
  int command;  // internal command code (CMD_*)
  int param;    // command parameter, up to 16 bits
};

// Row-major cells: row r, channel c is notes[r * channel_count + c].
struct PATTERN_INFO {
  NOTE_INFO *notes;
  int row_count;
};

// XM-family instrument.
struct INSTRUMENT_INFO {
  int sample_map[MODUX_NOTE_MAP];            // note 0..95 -> sample index from 0
  int vol_env_value[MODUX_ENVELOPE_POINTS];  // 0..64
  int vol_env_tick[MODUX_ENVELOPE_POINTS];
  int vol_env_points;
  int vol_env_flags;  // bit 0 on, bit 1 sustain, bit 2 loop
  int vol_env_sustain_start;
  int vol_env_sustain_end;
  int vol_env_loop_start;
  int vol_env_loop_end;
  int pan_env_value[MODUX_ENVELOPE_POINTS];  // 0..64, 32 centre
  int pan_env_tick[MODUX_ENVELOPE_POINTS];
  int pan_env_points;
  int pan_env_flags;
  int pan_env_sustain_start;
  int pan_env_sustain_end;
  int pan_env_loop_start;
  int pan_env_loop_end;
  int fadeout;  // subtracted from the note's fade every tick after key release
};

// One envelope of an IT instrument. Values: volume 0..64, pan and pitch -32..32.
struct IT_ENVELOPE_INFO {
  int flags;   // bit 0 on, bit 1 loop, bit 2 sustain loop, bit 7 (pitch envelope) drives the filter
  int points;  // 0..25
  int loop_start, loop_end, sustain_start, sustain_end;  // point numbers, inside points
  int value[MODUX_IT_ENVELOPE_POINTS];
  int tick[MODUX_IT_ENVELOPE_POINTS];  // never going back
};

// IT-family instrument.
struct IT_INSTRUMENT_INFO {
  int note_map[MODUX_IT_NOTES];    // note 0..119 -> note played, 0..119
  int sample_map[MODUX_IT_NOTES];  // note 0..119 -> sample index from 0, -1 none, -2 lacking
  int new_note_action;             // 0 cut, 1 continue, 2 note off, 3 note fade
  int duplicate_check;             // 0 off, 1 note, 2 sample, 3 instrument
  int duplicate_action;            // 0 cut, 1 note off, 2 note fade
  int fadeout;                     // taken from a fade of 1024 every tick after release
  int pitch_pan_separation;        // -32..32
  int pitch_pan_centre;            // note 0..119
  int global_volume;               // 0..128
  int pan;                         // default pan 0..64, -1 none
  int random_volume;               // percent 0..100
  int random_pan;                  // 0..64
  int filter_cutoff;               // 0..127, -1 none
  int filter_resonance;            // 0..127, -1 none
  IT_ENVELOPE_INFO vol_env, pan_env, pitch_env;
};

// The module: one zero-filled allocation owning every array below.
#define MODUX_IT_MACROS 144
#define MODUX_IT_MACRO_BYTES 33

struct MODUX {
  char name[29];                 // at most 28 characters, always terminated
  SAMPLE_INFO *sample_info;      // sample_count entries
  PATTERN_INFO *patterns;        // pattern_count entries
  INSTRUMENT_INFO *instruments;  // instrument_count entries (XM family)
  SAMPLE *samples;               // sample_count Allegro samples, parallel to sample_info
  int order_count;               // used entries of order_table
  int pattern_count;
  int order_table[MODUX_MAX_ORDERS];
  int channel_pan[MODUX_MAX_CHANNELS];  // 0 left .. 255 right
  int flags;                            // MODUX_XM | MODUX_AMIGA | MODUX_LINEAR
  int initial_speed;                    // ticks per row
  int initial_tempo;                    // BPM
  int restart_order;                    // where a looping song continues
  int channel_count;                    // at most 64
  int instrument_count;
  int sample_count;
  int initial_global_volume;  // 0..64 (IT: 0..128)
  int rules;                  // RULE_* bits of the file's tracker; 0 the engine's own
  // IT family only (null or zero elsewhere).
  IT_INSTRUMENT_INFO *it_instruments;  // instrument_count entries
  SAMPLE *sustain_samples;  // sample_count: the same data as samples, with the sustain loop
  int channel_volume[MODUX_MAX_CHANNELS];  // 0..64
  // -1 where a channel starts in surround (IT's header pan 100).
  int channel_surround[MODUX_MAX_CHANNELS];
  // -1 where the header turns a channel off (IT's pan bit 7): its commands act, its notes are
  // silent.
  int channel_muted[MODUX_MAX_CHANNELS];
  int mix_volume;      // 0..128
  int pan_separation;  // 0..128
  char *message;       // the song message, terminated, or null
  // MIDI macros: MODUX_IT_MACROS strings of MODUX_IT_MACRO_BYTES, each terminated (SF0..SFF,
  // then Z80..ZFF), or null (Zxx does nothing).
  char *it_macros;
  int format;  // MODFILE_INFO::type of the file it was loaded from; 0 when not loaded from one
  // XM: -1 when its tracker's mixer gives each side the square root of the pan's share
  // (FastTracker 2, MilkyTracker, OpenMPT from 1.22.07.19); the others share linearly.
  int square_root_pan;
  // -1 when the file comes from an old ModPlug Tracker, whose mixer plays every channel the
  // quieter the more channels the song has (IT, XM), and whose new note restarts a carried IT
  // envelope that has ended.
  int modplug_tracker;
  // IT: -1 when a note's frequency comes from the ST3 period table (C-5 of a sample at its own
  // rate, the other notes at 1712 over the note's period), as OpenMPT plays its own files in Amiga
  // mode, in linear mode those saved before its version 1.24, and old ModPlug Tracker's files in
  // either mode; 0 when notes are equal-tempered.
  int period_table_notes;
};

// Internal effect commands; every loader translates its format's effects into these. The values
// are also the effect numbers of the MUX file format, so they keep their values: a new command
// takes a new number.
enum {
  CMD_ARPEGGIO = 0,
  CMD_PORTA_UP = 1,
  CMD_PORTA_DOWN = 2,
  CMD_TONE_PORTA = 3,
  CMD_VIBRATO = 4,
  CMD_TONE_PORTA_VOLSLIDE = 5,
  CMD_VIBRATO_VOLSLIDE = 6,
  CMD_TREMOLO = 7,
  CMD_SET_PAN = 8,
  CMD_SAMPLE_OFFSET = 9,
  CMD_VOLSLIDE = 10,
  CMD_POSITION_JUMP = 11,
  CMD_SET_VOLUME = 12,
  CMD_PATTERN_BREAK = 13,
  CMD_EXTENDED = 14,
  CMD_SPEED_TEMPO = 15,
  CMD_S3M_SET_SPEED = 16,
  CMD_S3M_VOLSLIDE = 17,
  CMD_S3M_PORTA_DOWN = 18,
  CMD_S3M_PORTA_UP = 19,
  CMD_TREMOR = 20,
  CMD_S3M_ARPEGGIO = 21,
  CMD_VIBRATO_S3M_VOLSLIDE = 22,
  CMD_TONE_PORTA_S3M_VOLSLIDE = 23,
  CMD_S3M_RETRIG = 24,
  CMD_S3M_TREMOLO = 25,
  CMD_S3M_SET_BPM = 26,
  CMD_FINE_VIBRATO = 27,
  CMD_SET_GLOBAL_VOLUME = 28,
  CMD_S3M_PANNING = 29,
  CMD_XM_PORTA_UP = 30,
  CMD_XM_PORTA_DOWN = 31,
  CMD_XM_TONE_PORTA_VOLSLIDE = 32,
  CMD_XM_VIBRATO_VOLSLIDE = 33,
  CMD_XM_VOLSLIDE = 34,
  CMD_GLOBAL_VOLSLIDE = 35,
  CMD_KEY_OFF = 36,
  CMD_SET_ENVELOPE_POSITION = 37,
  CMD_XM_PANSLIDE = 38,
  CMD_XM_EXTRA_FINE_PORTA = 39,
  // IT family.
  CMD_IT_CHANNEL_VOLUME = 40,
  CMD_IT_CHANNEL_VOLSLIDE = 41,
  CMD_IT_PANSLIDE = 42,
  CMD_IT_EXTENDED = 43,
  CMD_IT_PANBRELLO = 44,
  CMD_IT_MIDI_MACRO = 45,
  CMD_IT_TEMPO = 46,
  CMD_IT_VOLSLIDE = 47
};

// Facts the engine shares with the programs around it: the datafile type of a module object
// (registered by install_mod), and the Amiga clock that a MOD-family period divides into the
// note frequency the model stores (3579546 / 428 = 8363 Hz, middle C).
#define DAT_MUX DAT_ID('M', 'U', 'X', ' ')
#define MODUX_AMIGA_CLOCK 3579546

// ---------------------------------------------------------------------------------------------
// Player state and file information
// ---------------------------------------------------------------------------------------------

// The player. Every field is read or written both by the control calls on the main thread and
// by the tick on Allegro's timer thread, so each one is atomic.
struct PLAYER_STATE {
  std::atomic<int> max_chn;        // voices reserved by install_mod
  std::atomic<int> channel_count;  // of the playing module
  std::atomic<int> tick;           // tick within the row; -1 before the first
  std::atomic<int> row;
  std::atomic<int> pattern;
  std::atomic<int> order;
  std::atomic<int> flags;          // of the playing module
  std::atomic<int> tempo;          // BPM
  std::atomic<int> speed;          // ticks per row
  std::atomic<int> speed_ratio;    // percent, 1..400
  std::atomic<int> pitch_ratio;    // percent, 1..400
  std::atomic<int> global_volume;  // 0..64
  std::atomic<int> new_row;        // pending jump row + 1; 0 none
  std::atomic<int> new_order;      // pending jump order + 1; 0 none
  std::atomic<int> pattern_delay;  // frozen ticks left; rows to repeat under RULE_DELAY_REPEATS_ROW
  std::atomic<int> loop_next_row;  // row + 1 where the next pattern begins (RULE_LOOP_FT2)
  std::atomic<int> skip_row;       // control request: row + 1; 0 none
  std::atomic<int> skip_order;     // control request: order + 1
  std::atomic<int> loop;           // -1 restart at the song end
  std::atomic<int> pause;          // -1 while paused
  std::atomic<int> is_playing;     // -1 while a module plays
};

// What get_mod_info reports about a file.
struct MODFILE_INFO {
  int type;            // family code: 1 MOD15, 2 MOD31, 3 S3M, 4 XM, 5 IT, 6 MUX, 7..10 UMX
  char type_name[20];  // family name
  char name[29];       // song name; not terminated when all 29 bytes are used
};

extern "C" {

// ---------------------------------------------------------------------------------------------
// Engine globals
// ---------------------------------------------------------------------------------------------

// The player of the control interface (the default player) and its music volume 0..255.
extern MODUX_API PLAYER_STATE &mi;
extern MODUX_API std::atomic<int> &mod_volume;
// The calling thread's last error message. What the last load on this thread made good in a
// file that ended early (the missing part plays silent); empty when the file was whole. Set by the
// importers, read by players that want to say so.
extern MODUX_API thread_local char modux_error[80];
extern MODUX_API thread_local char modux_note[80];
// -1 lets load_mod try 15-sample MODs last; -1 honours a position jump on the last order; read
// by the S3M loader.
extern MODUX_API int enable_m15;
extern MODUX_API std::atomic<int> enable_lasttrk_loop;
extern MODUX_API int fast_loading;

// ---------------------------------------------------------------------------------------------
// Control interface (mod.cpp)
// ---------------------------------------------------------------------------------------------

MODUX_API int install_mod(int max_chn);
MODUX_API MODUX *load_mod(const char *file);
MODUX_API void play_mod(MODUX *mod, int loop);
MODUX_API void stop_mod(void);
MODUX_API void destroy_mod(MODUX *mod);
MODUX_API void remove_mod(void);
MODUX_API void pause_mod(void);
MODUX_API void resume_mod(void);
MODUX_API void toggle_pause_mode(void);
MODUX_API int is_mod_paused(void);
MODUX_API int is_mod_playing(void);
MODUX_API void next_mod_track(void);
MODUX_API void prev_mod_track(void);
MODUX_API void goto_mod_track(int order);
MODUX_API void set_mod_volume(int volume);
MODUX_API int get_mod_volume(void);
MODUX_API void set_mod_speed(int percent);
MODUX_API void set_mod_pitch(int percent);
MODUX_API int get_mod_info(const char *file, MODFILE_INFO *info);
MODUX_API SAMPLE *get_modux_sample(MODUX *mod, int sample);
MODUX_API void register_datafile_modux(void);
MODUX_API void *load_mux_datafile(PACKFILE *f, long size);
MODUX_API void destroy_mod_datafile(void *obj);
MODUX_API void lock_mod(MODUX *mod);

// ---------------------------------------------------------------------------------------------
// Offline rendering (render.cpp)
// ---------------------------------------------------------------------------------------------

// Starts the module on a render player of its own (not the player of the control interface,
// which plays on undisturbed) and its offline mixer at rate Hz; the song is played once, to its
// end or to its loop point. 1, or -1 with modux_error set.
MODUX_API int render_mod_start(MODUX *mod, int rate);
// Fills buffer with up to frames stereo frames (left, right, 16 bits), driving the tick at the
// tempo's rate. Answers the frames written: fewer than asked only at the song's end, then 0.
MODUX_API long render_mod(short *buffer, long frames);
// -1 once the song has ended or come back to its loop point.
MODUX_API int render_mod_finished(void);
// Ends rendering and frees the render player's voices.
MODUX_API void render_mod_stop(void);

// ---------------------------------------------------------------------------------------------
// Native MUX format (load_mux.cpp)
// ---------------------------------------------------------------------------------------------

#define MUX_MAGIC "MODUX 01 module : "  // first 18 bytes of every MUX file
#define MUX_MAGIC_SIZE 18

MODUX_API int detect_mux(const char *name);  // 1 when the file starts with the magic, else -1
MODUX_API MODUX *load_mux(PACKFILE *f);      // the module, or null with modux_error set
MODUX_API int get_mux_info(PACKFILE *f, MODFILE_INFO *info);  // 1

// ---------------------------------------------------------------------------------------------
// Importers of foreign formats (load_mod.cpp, load_s3m.cpp, load_xm.cpp, load_it.cpp)
// ---------------------------------------------------------------------------------------------
// Detectors answer 1 (or, for a UMX package, the offset of the module inside it) for a match,
// -1 for none and 0 when the file cannot be opened; detect_m15 answers 1 or 0. Loaders answer
// the module, or null with modux_error set; info routines 1, or -1 with modux_error set.

MODUX_API int detect_m31(const char *filename);
MODUX_API int detect_m15(const char *filename);
MODUX_API MODUX *load_m(const char *filename, int no_inst);  // no_inst: 15 or 31 samples
MODUX_API int get_m_info(const char *filename, int no_inst, MODFILE_INFO *info);

MODUX_API int detect_s3m(const char *filename);
MODUX_API int detect_unreal_s3m(const char *filename);
MODUX_API MODUX *load_s3m(const char *filename, int offset);
MODUX_API int get_s3m_info(const char *filename, int offset, MODFILE_INFO *info);

MODUX_API int detect_xm(const char *filename);
MODUX_API int detect_unreal_xm(const char *filename);
MODUX_API MODUX *load_xm(const char *filename, int offset);
MODUX_API int get_xm_info(const char *filename, int offset, MODFILE_INFO *info);

MODUX_API int detect_it(const char *filename);
MODUX_API int detect_unreal_it(const char *filename);
MODUX_API MODUX *load_it(const char *filename, int offset);
MODUX_API int get_it_info(const char *filename, int offset, MODFILE_INFO *info);
// A 31-sample MOD inside a UMX package: detect gives its offset (its signature at 1080 into the
// module data is one of the MOD family's); info reports family 10, "Unreal MOD (UMX)".
MODUX_API int detect_unreal_mod(const char *filename);
MODUX_API MODUX *load_unreal_m(const char *filename, int offset);
MODUX_API int get_unreal_m_info(const char *filename, int offset, MODFILE_INFO *info);

// ---------------------------------------------------------------------------------------------
// Byte-order layer over Allegro's PACKFILE (file_io.cpp)
// ---------------------------------------------------------------------------------------------

MODUX_API PACKFILE *modux_fopen(const char *name, const char *mode);
MODUX_API int modux_fclose(PACKFILE *f);
// Reopens name and skips offset bytes: a PACKFILE only moves forward. On failure to reopen,
// *f becomes null and the result is -1.
MODUX_API int modux_fseek(PACKFILE **f, const char *name, long offset);
MODUX_API int modux_skip(PACKFILE *f, long n);
MODUX_API long modux_fread(void *buffer, long n, PACKFILE *f);
MODUX_API long modux_fwrite(const void *buffer, long n, PACKFILE *f);
MODUX_API int modux_getc(PACKFILE *f);   // 0..255, -1 at end of file
MODUX_API int modux_igetw(PACKFILE *f);  // 0..65535, -1 if a byte is missing
MODUX_API int modux_mgetw(PACKFILE *f);
// 0..4294967295, -1 if a byte is missing: wide enough that a stored 0xFFFFFFFF is not mistaken
// for the end of the file. Take (int32_t) of it for a signed field.
MODUX_API long long modux_igetl(PACKFILE *f);
MODUX_API long long modux_mgetl(PACKFILE *f);
MODUX_API int modux_putc(int c, PACKFILE *f);     // c, or -1
MODUX_API int modux_iputw(int w, PACKFILE *f);    // w, or -1
MODUX_API long modux_iputl(long l, PACKFILE *f);  // l, or -1

}  // extern "C"

#endif
