// modux: the engine's internal header, not installed.
// The player record and the channel records, the names of the default player's fields, the tick
// handshake, and the routines of the tick, the effects, the render clock and the importers that
// the engine's sources share with each other.
#ifndef MODUX_INTERNAL_H
#define MODUX_INTERNAL_H

#include <stdint.h>
#include <stdlib.h>

#include <mutex>

#include "modux.h"
#include "voice.h"

// v held to lo..hi: the one clamp of the engine, wide enough for products of 32-bit values.
inline int clamp_int(long long v, int lo, int hi) {
  return v < lo ? lo : v > hi ? hi : static_cast<int>(v);
}

// ---------------------------------------------------------------------------------------------
// Playback records
// ---------------------------------------------------------------------------------------------

// Running copy of one envelope of a note (NOTE_STATE), taken from its instrument at the note's
// start: the volume and pan envelopes in the XM family (and the engine's own songs), the volume,
// pan and pitch envelopes in the IT family.
struct ENVELOPE_STATE {
  int value[MODUX_IT_ENVELOPE_POINTS];  // value of each point: volume 0..64; XM pan 0..64 (32
                                        // centre); IT pan and pitch -32..32
  int tick[MODUX_IT_ENVELOPE_POINTS];   // tick of each point, counted from the note's start
  int flags;       // bit 0 on, bit 1 sustain, bit 2 loop, bit 3 carry (IT: a new note of the
                   // instrument goes on from where this one is), bit 7 (IT pitch) drives the filter
  int points;      // points in use, 0..MODUX_IT_ENVELOPE_POINTS (XM: 0..MODUX_ENVELOPE_POINTS)
  int loop_start;  // point numbers of the loop
  int loop_end;
  int sustain_start;  // point numbers of the sustain, held while the key is down
  int sustain_end;
  int point_a;   // point the envelope comes from (XM)
  int point_b;   // point it goes to (XM)
  int position;  // ticks since start
  int output;    // value produced this tick, in the units of value (IT: 1/256 of them; a paused
                 // envelope keeps it)
  int ended;     // -1 once the position has passed the last point with no loop running (IT)
  int held;      // ticks it has stayed on its sustain point since it arrived there (XM)
};

// Background voices a song's new note actions can fill, beyond its pattern channels.
#define BACKGROUND_VOICES 128

// One sounding note: the note of a pattern channel (its CHANNEL_STATE::sounding) or, in the IT
// family, one that a new note pushed into the background (modux_player::background), playing on
// its own voice. The other families' channel note keeps its sample, key, envelopes (volume 0..64,
// pan 0..64 with 32 the centre, output in whole units), fade and auto-vibrato here; its pitch,
// volume and pan stay the channel's (see CHANNEL_STATE).
struct NOTE_STATE {
  int active;                           // -1 while it sounds
  int voice;                            // the Allegro or mixer voice it plays on, -1 none
  int channel;                          // pattern channel it came from
  int instrument;                       // index into it_instruments, -1 in sample mode
  int sample;                           // index into samples, -1 none
  int note;                             // cell note 0..119, for the duplicate check
  int volume;                           // note volume 0..64
  int pan;                              // 0..256, 128 centre
  int period;                           // pitch: a frequency in whole Hz
  int key_off;                          // -1 once released
  int fading;                           // -1 while the fade-out runs
  int fade;                             // 1024 (the other families: 32768) down to 0
  int fadeout;                          // the other families: fade lost per tick once released
  int cutoff, resonance;                // filter settings 0..127, the channel's
  int filter_on;                        // -1 while the note plays through its filter
  int filter_cutoff, filter_resonance;  // what the filter was last set to (cutoff 0..65024)
  int filter_env;                       // filter envelope, -32..32 in 256ths (8192 none)
  int vibrato_pos, vibrato_amp;         // the sample's auto-vibrato: place in its 256-step wave,
                                        // depth now in 1/256 of the sample's
  int start;                            // -1: start the sample at the next output
  int swap;      // -1: the sample changed under the sounding voice, which goes on from where it is
  int revive;    // -1 once it stopped so that a number alone plays it again: its volume envelope
                 // ended at 0, its sample played to its end, or SCx cut it
  int offset;    // frame to start from
  int sustain;   // -1 while the sample plays its sustain loop
  int loudness;  // last volume sent to the voice, 0..255, for choosing what to give up
  int random_volume;   // percent of the note's volume kept from the instrument's variation
  int channel_volume;  // of its channel when it went into the background, 0..64
  int surround;        // -1 in surround: its channel's, unless its sample or instrument panned it
  int vibrato_sweep;   // growth of vibrato_amp per tick
  // The instrument's volume, pan and pitch envelopes, each running while on.
  ENVELOPE_STATE vol_env, pan_env, pitch_env;
};

// State of one pattern channel; channel n uses ci[n] and voice_table[n]. The tick_* copies are
// reset from their bases at every row start and then changed by the effects.
// Units: a period is a pitch as the tick computes it: four times an Amiga period (MOD, S3M, the
// XM Amiga mode; 1712 is middle C at 8363 Hz) or, in the XM linear mode, 1/64 semitone steps
// (768 an octave) counted down from the top; larger is lower. Volumes are 0..64, pans 0..255
// (128 centre). "On" fields are -1 while their effect runs this row, else 0. A memory is the
// last non-zero parameter of a command, which a zero parameter repeats.
struct CHANNEL_STATE {
  int instrument;            // XM instrument playing, index into MODUX::instruments from 0
  int env_instrument;        // XM: the instrument whose envelopes and fade-out run
  int volume;                // the row's volume, 0..64
  int note;                  // XM note playing, 0..118 (C-0 is 0), for the note-to-sample map
  int period;                // the row's pitch, a period (see above); 0 before the first note
  int tuning;                // the sample's middle-C rate in Hz; in the XM modes its finetune + 128
  int relative_note;         // XM: semitones the sample adds to every note
  int pan;                   // the row's pan, 0..255
  int start_voice;           // -1: (re)start the sample on the voice at the end of this tick
  int cut_stopped;           // -1 after a note cut until the next note (RULE_ST3_CHANNEL)
  int swap_sample;           // -1: swap the note's sample in at the voice's loop end
                             // (RULE_PROTRACKER_CHANNEL)
  int tick_volume;           // this tick's volume after tremolo, tremor and retrigger, 0..64
  int tick_period;           // this tick's period after vibrato and arpeggio
  int tick_pan;              // this tick's pan, 0..255
  int pan_slide;             // pan change per later tick (XM Pxy, volume column D/E, IT Pxy)
  int pan_slide_memory;      // XM Pxy: last slide, pan units per tick, + right
  int vcol_pan_left_memory;  // volume column Dx: last slide, pan units per tick (negative)
  int vcol_pan_right_memory;  // volume column Ex: last slide, pan units per tick
  int pitch_slide_on;         // Protracker 1xx/2xx, IT Exx/Fxx
  int pitch_slide_speed;      // period change per later tick, + down (1xx and 2xx share it)
  int fine_pitch_memory;      // E1x/E2x: period change of the last one, + down
  int s3m_porta_on;           // S3M Exx/Fxx
  int s3m_porta_speed;        // period change per later tick, + down; 0 for a fine slide
  int s3m_porta_fine;         // period change on the first tick, + down; 0 for a plain slide
  int xm_slide_up_on;         // XM 1xx
  int xm_slide_up_speed;      // period change per later tick (negative: up)
  int xm_slide_down_on;       // XM 2xx
  int xm_slide_down_speed;    // period change per later tick (positive: down)
  int xm_fine_down_memory;    // XM E2x: period change of the last one (positive)
  int xm_fine_up_memory;      // XM E1x: period change of the last one (negative)
  int xm_extra_fine_up;       // XM X1x: period change of the last one (negative)
  int xm_extra_fine_down;     // XM X2x: period change of the last one (positive)
  int volume_slide;           // volume change per later tick (Axy, volume column, IT Dxy)
  int s3m_vol_slide_on;       // S3M Dxy
  int s3m_vol_slide_fine;     // volume change on the first tick (fine forms); 0 none
  int s3m_vol_slide_speed;    // volume change per later tick; 0 for a fine slide
  int s3m_vol_slide_first;    // -1: the plain slide also acts on the first tick (ST3's D0F, DF0)
  int xm_vol_slide_on;        // XM Axy
  int xm_vol_slide_speed;     // volume change per later tick, + up
  int fine_vol_up_memory;     // XM EAx: volume added by the last one
  int fine_vol_down_memory;   // XM EBx: volume change of the last one (negative)
  int loop_on;                // -1: this row's E6x jumps back to loop_row at the row's end
  int loop_times;             // repetitions of the pattern loop still to play
  int loop_row;               // row the pattern loop goes back to (set by E60)
  int tremolo_on;             // Protracker 7xy, S3M Rxy
  int tremolo_waveform;       // E7x: 0 sine, 1 ramp, 2 square, 3 random; below 3 restarts at a note
  signed char tremolo_pos;    // wraps at 8 bits: a full cycle is 256
  int tremolo_speed;          // position step per tick: 4 x the speed nibble
  int tremolo_depth;          // depth nibble 0..15
  int tremolo_shift;          // right shift of wave x depth: 6 Protracker, 7 S3M
  int vibrato_on;             // 4xy, 6xy, S3M Uxy, volume column Bx
  int vibrato_waveform;       // E4x: as tremolo_waveform
  signed char vibrato_pos;    // wraps at 8 bits
  int vibrato_speed;          // position step per tick: 4 x the speed nibble
  int vibrato_depth;          // depth nibble 0..15
  int vibrato_shift;          // right shift of wave x depth: 5 plain, 7 fine
  int vibrato_twice;          // FT2: -1 when the volume column and the effect both run the vibrato
  int porta_twice;            // FT2: -1 when both columns run the tone portamento
  int slide2period_on;        // tone portamento 3xx, 5xy, volume column Fx
  int slide2period_speed;     // period change per later tick, + towards a higher pitch
  int slide2period_target;    // period the portamento ends at; 0 none
  int glissando;              // FT2 E31: -1 while a tone portamento plays whole semitones
  int arpeggio_on;            // 0xy, S3M Jxy
  int arpeggio_param;         // xy: semitones above the note of steps 1 and 2
  int tremor_on;              // S3M Ixy, XM Txy
  int tremor_count;           // ticks counted in the on-off cycle
  int tremor_param;           // (on ticks) << 8 | off ticks; under FT2's rules its xy as written
  int tremor_muted;           // FT2: -1 while a tremor's off phase holds the channel silent
  int delay_sample;           // EDx: tick at which this row's note starts; 0 none
  int cut_tick;               // ECx: tick at which the volume drops to 0; 0 none
  int retrig_interval;        // E9x: ticks between restarts of the sample; 0 none
  int s3m_retrig_on;          // S3M Qxy, XM Rxy
  int s3m_retrig_interval;    // ticks between restarts
  int s3m_retrig_volume;      // volume change code 0..15 of every restart
  int set_offset;             // -1: move the voice to sample_offset at the end of this tick
  int sample_offset;          // 9xx: frame to start the sample from (256 x xx, kept for 900)
  int note_offset;  // ST3: where a note without a sample number starts, the last Oxx's frame
                    // (a sample number clears it; RULE_ST3_CHANNEL)
  int global_vol_slide_on;     // XM Hxy
  int global_vol_slide_speed;  // global volume change per later tick, + up
  int retrig_count;            // ticks since the last retrigger (RULE_RETRIG_COUNTS_ON)
  int tempo_slide;             // S3M T0x/T1x of this row, slid on every later tick; 0 none
  int key_off_tick;            // Kxx of this row: the tick of its release + 1; 0 none
  int shared_param;            // the last non-zero effect parameter (RULE_ST3_CHANNEL)
  NOTE_INFO row_cell;          // the row's cell, its zero parameter read from shared_param

  // The IT family's channel: its note is `sounding`, which a new note action can push into the
  // background; the fields above that it shares keep their meaning, in the IT family's units
  // (pan 0..256, vibrato depth 4 x Hxy's nibble or 1 x Uxy's) and with tremor_param,
  // s3m_retrig_* and sample_offset as the memories of Ixy, Qxy and Oxx.
  NOTE_STATE sounding;      // the note the channel plays
  int it_number;            // last instrument (sample mode: sample) number of a cell, from 0;
                            // -1 none; kept even when the module lacks it
  int channel_volume;       // Mxx, 0..64
  int channel_vol_slide;    // Nxy: channel volume change per later tick this row; 0 none
  int surround;             // -1 in surround (S91, the header's pan 100) until a pan is set;
                            // the notes it starts play in it
  int period_delta;         // this tick's vibrato and arpeggio: 768ths of an octave up (linear),
                            // or Amiga period units down
  int vibrato_delta;        // the vibrato's part of it, which old effects keep on a first tick
  int volume_delta;         // this tick's tremolo and tremor, added to the note's volume
  int pan_delta;            // the panbrello's, held after it; a pan set or a note drops it
  int vol_slide_param;      // Dxy memory (also of Kxy and Lxy)
  int vcol_slide_memory;    // volume-column volume slide memory, 1..9
  int vcol_volume_slide;    // volume column: volume change per later tick this row; 0 none
  int vcol_porta;           // volume column: pitch slide per later tick, + down; 0 none
  int porta_memory;         // Exx/Fxx memory (and the volume column's portamento x 4)
  int tone_porta_memory;    // Gxx memory
  int porta_target;         // tone portamento target pitch, 0 none
  int panbrello_on;         // Yxy
  int panbrello_speed;      // Yxy: position step per tick
  int panbrello_depth;      // Yxy: depth nibble
  int panbrello_pos;        // position in the wave's 256 steps
  int panbrello_waveform;   // S5x
  int arpeggio_base;        // Jxy: the pitch the steps are counted from
  int channel_slide_param;  // Nxy memory
  int pan_slide_param;      // Pxy memory
  int global_slide_param;   // Wxy memory
  int offset_high;          // SAx: the sample offset's high byte
  int tempo_slide_memory;   // Txx memory of a slide (below 20)
  int midi_macro;           // SFx: which macro Z00..Z7F drives (0 cutoff)
  int new_note_action;      // S73..S76 for this row's note: -1 the instrument's
  NOTE_INFO delayed;        // the cell a note delay (SDx) holds back
};

// ---------------------------------------------------------------------------------------------
// The player
// ---------------------------------------------------------------------------------------------

// Eight -1 entries: a voice table with no voice reserved.
#define MODUX_NO_VOICE8 -1, -1, -1, -1, -1, -1, -1, -1

// One player: everything a song's playback changes. The tick, the effects, the voice layer and
// the mixer read and write only the player they are handed, so players run on threads of their
// own. The control interface drives one default player (default_player) on Allegro's voices and
// timer; the render calls drive another on its own mixer; the C interface creates more.
struct modux_player {
  PLAYER_STATE mi{};
  CHANNEL_STATE ci[MODUX_MAX_CHANNELS]{};  // the channels of the playing module
  MODUX *of = nullptr;                     // the playing module, null when none
  int voice_table[MODUX_MAX_CHANNELS] = {MODUX_NO_VOICE8, MODUX_NO_VOICE8, MODUX_NO_VOICE8,
                                         MODUX_NO_VOICE8, MODUX_NO_VOICE8, MODUX_NO_VOICE8,
                                         MODUX_NO_VOICE8, MODUX_NO_VOICE8};  // -1 none
  NOTE_STATE background[BACKGROUND_VOICES]{};  // notes pushed out of their channels
  int pool_open = 0;     // -1 while the background pool's voices are allocated
  SAMPLE pool_sample{};  // the silent sample of the pool's voices, at the lowest priority
  // -1 on the first tick of a row, 0 on its later ticks: what the effects call their first tick.
  // A row that a pattern delay repeats starts with a first tick again, unless RULE_DELAY_TICKS_ON.
  int first_tick = 0;
  // IT's row delays, read in the row's first tick: times the row plays again (-1 before its
  // first SEx) and ticks that S6x add to each time it plays.
  int row_repeats = -1;
  int row_extra_ticks = 0;
  int row_jumped = 0;  // -1 once a position jump is read in the row; the row's end clears it
  int next_tempo = 0;  // ProTracker: the tempo an Fxx set, taken at the next tick; 0 none
  std::atomic<int> volume{255};  // music volume 0..255
  int installed = 0;             // -1 while voices are reserved
  uint32_t noise = 0;            // the random waveform's noise source; 0 before its first use
  // IT's random volume and pan: the C library's generator on a private state, seeded 1 at its
  // first use, which gives the numbers rand() gives a program that never seeds it.
  random_data rng{};
  char rng_state[128]{};
  int rng_ready = 0;

  int on_mixer = 0;  // the voices: Allegro's (0) or the player's own offline mixer (-1)
  MIXER_STATE mixer{};
  float level = 1.0f;  // the rendered module's mix level (module_level), times the mixer's output

  // The handshake between the tick and the control calls (see mod_tick_begin).
  std::atomic<int> tick_busy{0};       // -1 while a tick runs
  std::atomic<int> forbidden{0};       // -1 while a control call changes the state
  std::atomic<int> tick_installed{0};  // -1 once the tick has been handed to the timer
  // Requests of a tick to the tick's owner, carried out as soon as the tick returns.
  std::atomic<int> restart_request{0};  // -1: start the song again from its top (a loop's end)
  std::atomic<int> timer_request{0};    // -1: re-install the tick at the changed tempo
  // Control calls take turns, so one never lowers forbidden under another; a render call holds
  // it for its whole length, so a stop or a destroy_mod on another thread waits for it.
  std::mutex control_turn{};
  int offline = 0;  // -1: the render clock calls the tick; 0: Allegro's timer (mod_interrupt)

  // The render clock (render.cpp): the tick is called at the tempo's rate between mixes.
  int rendering = 0;               // -1 while a song renders
  MODUX *render_module = nullptr;  // the module it renders
  long tick_period = 0;            // Allegro timer units of one tick, as the tick asked for it
  long frames_to_tick = 0;         // output frames before the next tick
  long long tick_remainder = 0;    // in rate x timer units: keeps the ticks on the timer's grid
  int whole_frame_ticks = 0;       // -1: each tick lasts rate x 2.5 / BPM frames, rounded down
  int finished = 0;                // -1 once the song has ended or reached its loop point
  long coda_frames = 0;            // frames still to mix after the end: the last notes' fade
  long coda_length = 0;  // an imported module's coda: its frames, faded out linearly; 0 none
  // The mixer's voices before the tick that plays now (an imported module's render): where the
  // song stands when that tick turns out to come back to a played row.
  MIXER_VOICE_STATE *coda_voices = nullptr;
  unsigned long long coda_active[MIXER_VOICES / 64]{};
  long long played_units = 0;  // timer units of the ticks played since the song's start
  // The rows played, each with the pattern loops' counts it was played with: an open-addressed
  // set of visit keys (render.cpp), visit_slots entries, 0 for a free one.
  unsigned long long *row_played = nullptr;
  long visit_slots = 0;
  long visits = 0;                 // keys in the set
  int *order_first_row = nullptr;  // index of each position's first row; orders + 1 entries
  int orders = 0;                  // positions the keys cover
  int start_order = 0;   // where a render started: a subsong's first order, where it loops back to
  int repeats_left = 0;  // times the song plays again at its end or loop point; -1 for ever

  // The C interface.
  int rate = 44100;                 // output Hz
  int channels = 2;                 // 1 or 2
  int repeat = 0;                   // MODUX_OPTION_REPEAT
  int volume_percent = 100;         // MODUX_OPTION_VOLUME
  double length = 0;                // seconds from the start to the song's end or loop point
  double *order_seconds = nullptr;  // when each order position first starts, -1 never
  int error = MODUX_OK;             // last error code
  char message[128] = "";           // and its message
  modux_player *next = nullptr;     // the registry of live players
};

// The player of the control interface, and the names the engine's interface gives its fields.
extern modux_player default_player;
extern CHANNEL_STATE (&ci)[MODUX_MAX_CHANNELS];
extern MODUX *&of;
extern int (&voice_table)[MODUX_MAX_CHANNELS];
extern int &mod_init;              // -1 once install_mod has succeeded
extern SAMPLE *const fake_sample;  // the silent sample holding the reserved voices

// ---------------------------------------------------------------------------------------------
// Playback rules
// ---------------------------------------------------------------------------------------------

// The rules of the trackers whose files the importers read (RULE_* bits of modux.h).
#define RULES_PROTRACKER                                                                        \
  (RULE_DELAY_REPEATS_ROW | RULE_TEMPO_FROM_32 | RULE_EXACT_ARPEGGIO | RULE_JUMP_RESETS_BREAK | \
   RULE_PAL_CLOCK | RULE_PROTRACKER_CHANNEL | RULE_AMIGA_LIMITS | RULE_ARPEGGIO_WRAPS)
#define RULES_SCREAM_TRACKER_3                                                                 \
  (RULE_DELAY_REPEATS_ROW | RULE_TEMPO_SLIDE_PER_TICK | RULE_FINE_VOLSLIDE_DFF_UP |            \
   RULE_RETRIG_COUNTS_ON | RULE_TREMOR_COUNTS_ON | RULE_EXACT_ARPEGGIO | RULE_LOOP_FORGOTTEN | \
   RULE_ST3_CHANNEL)
#define RULES_FASTTRACKER_2                                                                      \
  (RULE_DELAY_REPEATS_ROW | RULE_TEMPO_FROM_32 | RULE_RETRIG_COUNTS_ON | RULE_TREMOR_COUNTS_ON | \
   RULE_INSTRUMENT_RESETS | RULE_KEY_OFF_AT_TICK | RULE_AUTO_VIBRATO | RULE_EXACT_ARPEGGIO |     \
   RULE_LOOP_FT2 | RULE_JUMP_RESETS_BREAK | RULE_DELAY_TICKS_ON | RULE_FT2_TICK_COUNTS |         \
   RULE_ARPEGGIO_FROM_END | RULE_FT2_EXACT)
// XM files of ModPlug Tracker 1.0: its arpeggio counts from the row's start, Kxx releases the key
// at once, and a loop's start row stays in its pattern.
#define RULES_MODPLUG_XM \
  (RULES_FASTTRACKER_2 & ~(RULE_ARPEGGIO_FROM_END | RULE_KEY_OFF_AT_TICK | RULE_LOOP_FT2))

// Nonzero when the playing module follows the rule (one RULE_* bit).
// A pan of 0..64 in an S3M cell's volume column is stored as this + the pan: beyond a byte, so no
// XM or MUX volume-column byte reads as it.
const int VOLUME_COLUMN_PAN = 0x100;

inline int mod_rule(modux_player *p, int rule) {
  const MODUX *mod = p->of;
  return mod ? (mod->rules & rule) : 0;
}

// A ProTracker module proper (its signature, four channels, its notes within its three octaves):
// ProTracker's channel with the Amiga's limits. The MODs of other trackers share the channel but
// not ProTracker's timing and note delay.
inline bool protracker_proper(modux_player *p) {
  return mod_rule(p, RULE_PROTRACKER_CHANNEL) && mod_rule(p, RULE_AMIGA_LIMITS);
}

// Ticks each time the playing row plays: the speed, and the ticks the row's S3M S6x add (the IT
// family counts its row delays into pattern_delay instead).
inline int row_ticks(modux_player *p) {
  return p->mi.speed + (mod_rule(p, RULE_IT_DELAY_TICKS) ? 0 : p->row_extra_ticks);
}

// ---------------------------------------------------------------------------------------------
// Timer and the tick handshake (mod.cpp)
// ---------------------------------------------------------------------------------------------

// Timer period, in Allegro timer units, of one tick at this tempo (BPM) and speed ratio
// (percent). Every (re)install of mod_interrupt uses it; it never divides by zero and keeps the
// rate between one tick a minute and a thousand a second.
long mod_timer_period(int tempo, int speed_ratio);

// The Allegro timer calls the engine goes through (install_int_ex and remove_int by default).
// Allegro's timer needs a display on this platform, so headless tests point these at recorders.
extern int (*modux_install_int)(void (*proc)(void), long speed);
extern void (*modux_remove_int)(void (*proc)(void));

// Handshake between the tick and the control calls. A player's tick starts with
//   if (!mod_tick_begin(p)) return;
// and calls mod_tick_end(p) on every way out after that. mod_tick_begin answers 0 (and needs no
// mod_tick_end) while nothing plays, while paused or while a control call changes the state.
// A control call raises p->forbidden and then waits until no tick is in flight, so it never
// changes or frees what a running tick uses. The tick itself never makes a control call: what it
// needs of the control side it leaves in p->restart_request and p->timer_request.
int mod_tick_begin(modux_player *p);
void mod_tick_end(modux_player *p);

// The owner's side of a tick, called between mod_tick and mod_tick_end: a restart request starts
// the song again from its top (as play_mod does, the loop setting kept), a timer request
// re-installs the tick at mi.tempo (on the render clock: takes its period); both are cleared.
void mod_take_tick_requests(modux_player *p);
// One tick (mod_tick) inside the handshake, then its requests carried out.
void player_interrupt(modux_player *p);
// The default player's timer callback: player_interrupt(&default_player).
void mod_interrupt(void);

// ---------------------------------------------------------------------------------------------
// The players' control (engine.cpp)
// ---------------------------------------------------------------------------------------------

// A control call's turn: raises p->forbidden and waits for a running tick to end; end_change
// lowers it. The two bracket every change of what the tick reads; they do not nest.
void begin_change(modux_player *p);
void end_change(modux_player *p);
// Reserves max_chn voices for the pattern channels (1..64); 1, or -1 with modux_error set.
int player_reserve(modux_player *p, int max_chn);
// Stops the song, takes the tick off the timer and gives every voice back; the caller holds the
// turn.
void player_release_locked(modux_player *p);
// Starts mod from its first position at its initial tempo and speed, with every channel's memory
// forgotten, and (re)installs the tick; the caller holds the turn or is the tick's owner after a
// tick. A navigation request already made stays for the first tick.
void player_start_locked(modux_player *p, MODUX *mod, int loop);
// Hands the tick to the timer (or the render clock) at the tempo and speed ratio now.
void player_restart_timer_locked(modux_player *p);
// Silences the reserved voices and forgets the module; the caller holds the turn.
void player_stop_locked(modux_player *p);
// The player's next number of IT's random generator (rand() of a fresh program, per player).
int it_random(modux_player *p);
// Live players (the default and render players and those of the C interface), for destroy_mod:
// every player playing or rendering a module stops before the module is freed.
void player_register(modux_player *p);
void player_unregister(modux_player *p);
void players_forget_module(MODUX *mod);
// Frees what a player allocated for its render clock and scan.
void player_free_marks(modux_player *p);

// ---------------------------------------------------------------------------------------------
// The render clock (render.cpp) and the song scan (scan.cpp)
// ---------------------------------------------------------------------------------------------

// Puts the player on its own mixer at rate Hz, reserves a voice per channel of mod and starts it
// at row 0 of order (every channel fresh); the song plays once more for each repeat (-1 for
// ever), ending at its end or loop point. The caller holds the turn. A render that mixes
// (mixed) keeps an imported module's voices for the coda at its end; a scan mixes nothing. 1, or
// -1 with modux_error set.
int render_begin(modux_player *p, MODUX *mod, int rate, int order, int repeats, bool mixed = true);
// The factor a module's render is mixed at: 1 for the engine's own songs; an imported module
// plays at the level its tracker mixes at, over the engine's level of one voice at full volume
// (half of full scale on one side): MOD at 2 / channels of full scale (1/4 to 1, in steps of
// 1/128), S3M at its master volume / 128, XM at 48 / 128, IT at its mixing volume / 128.
float module_level(const MODUX *mod);
// Mixes up to frames stereo frames into s16 or f32 (whichever is not null) at gain, driving the
// tick at the tempo's rate; answers the frames written, fewer only at the song's end. The caller
// holds the turn.
long render_run(modux_player *p, short *s16, float *f32, long frames, float gain);
// One tick of a render without mixing; false when the song is over (ended, or back at a played
// row with no repeat left). The caller holds the turn.
bool render_tick(modux_player *p);
// Ends the render and frees its voices; the caller holds the turn.
void render_end(modux_player *p);
// Goes on from row 0 of an order position; the rows played before count as not played.
void render_seek(modux_player *p, int order);

// Runs mod's sequencer from row 0 of order without mixing until the song ends or comes back to
// a row it played, and answers how long that takes in seconds (-1 when out of memory). When
// reached is not null, it marks the order positions passed (one byte each, order_count of them);
// when seconds is not null, it gets the time each position is first reached (-1 never).
double scan_song(MODUX *mod, int order, unsigned char *reached, double *seconds);

// ---------------------------------------------------------------------------------------------
// Playback tick (player.cpp)
// ---------------------------------------------------------------------------------------------

// One tick of the player's module; called only by player_interrupt, with the handshake held.
void mod_tick(modux_player *p);
// The tick within the row's play: mi.tick, counted from 0 again each time IT's row delay plays
// the row again.
int row_tick(modux_player *p);
// Order positions a song can reach: its order_count, held to the 256 entries of order_table.
int mod_playable_orders(const MODUX *mod);
// True when a jump, break or the song's end past the last order goes on at the restart position:
// a looping song, or an imported module's render (a render ends at a row it played before).
bool mod_wraps_past_end(modux_player *p);
// Where a song goes on past its last order: its restart position, or a subsong's first order.
int mod_restart_order(modux_player *p);

// ---------------------------------------------------------------------------------------------
// Protracker effects and pitch tables (player2.cpp)
// ---------------------------------------------------------------------------------------------

int note2period(modux_player *p, int note, int rate);
int period2pitch(modux_player *p, int period);
int calc_volume(modux_player *p, int chn);
int calc_pan(modux_player *p, int chn);
NOTE_INFO *get_note(MODUX *mod, int pattern, int row, int channel);
int get_modux_sample_no(modux_player *p, int instrument, int note);
int interpolate(int x, int x1, int x2, int y1, int y2);
int find_lower_period(modux_player *p, int period, int semitones);
// FT2's arpeggio step and glissando: the playing pitch snapped to the nearest note of the sample's
// finetune, n semitones up. A step past the top of FT2's period table (B-7, counted in sixteenths
// of a semitone with the finetune) reads the entry after it: C-8 without finetune.
int ft2_note_period(modux_player *p, const CHANNEL_STATE &c, int n);
void parse_old_note(modux_player *p, int chn, int note, int sample);
void parse_pro_pitch_slide_up(modux_player *p, int chn, int param);
void parse_pro_pitch_slide_down(modux_player *p, int chn, int param);
void parse_slide2period(modux_player *p, int chn, int speed, int note);
void parse_vibrato(modux_player *p, int chn, int param, int shift);
// 9xx (Oxx): the sample offset of the cell's note (sample: the cell's sample index, -1 none).
void parse_sample_offset(modux_player *p, int chn, const NOTE_INFO &cell, int sample);
void parse_tremolo(modux_player *p, int chn, int param, int shift);
void parse_pro_volume_slide(modux_player *p, int chn, int param);
void parse_pro_arpeggio(modux_player *p, int chn, int param);
void parse_extended_command(modux_player *p, int chn, int param);
// A later tick's slide of the row's volume (+ up) and pitch (a period change, + down); the IT
// family's, of its sounding note.
void do_volume_slide(modux_player *p, int chn, int by);
void do_pitch_slide(modux_player *p, int chn, int by);
void do_vibrato(modux_player *p, int chn);
void do_tremolo(modux_player *p, int chn);
void do_panbrello(modux_player *p, int chn);  // the IT family's Yxy
void do_slide2period(modux_player *p, int chn);
void do_arpeggio(modux_player *p, int chn);
void do_delay_sample(modux_player *p, int chn);
void do_position_jump(modux_player *p, int param);
void do_pattern_break(modux_player *p, int param);
void do_pro_tempo_bpm(modux_player *p, int param);
void do_pattern_loop(modux_player *p, int chn, int param);
void lock_modux_player2(void);
int vib_sine_half(int step);  // 0..255: the vibrato sine over half a cycle of 128 steps
extern const int
    noteperiod[12];  // lowest-octave periods C..B in quarter Amiga units (S3M importer)
extern const int mod_finetune[16];  // middle-C rate of each MOD finetune nibble (MOD importer)
// ProTracker's pitch range for a sample's tuning (quarter-unit periods): from its finetune's C-1
// up to its B-3, but never higher than the highest (452, B-3 at finetune 0 as MODs write it);
// other tunings leave both as they are.
void protracker_range(int tuning, int &highest, int &lowest);
// The IT family's pitch: a frequency in whole hertz. Under RULE_IT_LINEAR slides multiply it by
// 2 ^ (units / 768), rounded to the hertz, else they move its Amiga period (1712 at 8363 Hz).
bool it_linear(modux_player *p);
// The pitch of a note (0..119) of a sample.
int it_note_period(modux_player *p, int note, int sample);
// Slides a pitch up (positive units) or down: 768ths of an octave, or 4 period units per step.
void it_slide(modux_player *p, int &period, int units);
// The Amiga period units that take a pitch down by semis semitones (up when negative).
int it_amiga_units(int period, int semis);
// Frequency in Hz of a pitch moved up by units 768ths of an octave.
int it_pitch_hz(modux_player *p, long long period, double units);

// ---------------------------------------------------------------------------------------------
// S3M-family effects, the volume column and the note commands (player3.cpp)
// ---------------------------------------------------------------------------------------------

void parse_s3m_volume_slide(modux_player *p, int chn, int param);
void do_s3m_volume_slide(modux_player *p, int chn);
void parse_s3m_portamento_down(modux_player *p, int chn, int param);
void parse_s3m_portamento_up(modux_player *p, int chn, int param);
void do_s3m_portamento(modux_player *p, int chn);
// ST3 keeps a period in 15 bits: a lower pitch plays at this one.
constexpr int ST3_LOWEST_PERIOD = 0x7FFF;
// Holds a channel's period to its tracker's range: the Amiga's under RULE_AMIGA_LIMITS, and
// ST3's lowest pitch (its periods have 15 bits).
void hold_to_pitch_limits(modux_player *p, CHANNEL_STATE &c);
void parse_tremor(modux_player *p, int chn, int param);
void do_tremor(modux_player *p, int chn);
void parse_s3m_arpeggio(modux_player *p, int chn, int param);
void parse_s3m_retrig(modux_player *p, int chn, int param);
void do_s3m_retrig(modux_player *p, int chn);
void parse_s3m_panning(modux_player *p, int chn, int param);
void do_s3m_set_tempo(modux_player *p, int param);
void do_s3m_set_bpm(modux_player *p, int param);  // a tempo slide stays within 32..255 BPM
// Txx on a row's first tick: a tempo from 32 on; below, under RULE_TEMPO_SLIDE_PER_TICK and in
// the IT family (with its memory), a slide on the row's later ticks (tempo_slide), else at once.
void parse_tempo(modux_player *p, int chn, int param);
// One tick of T0x (by -x) or T1x (by x), within 32..255 BPM.
void do_s3m_tempo_slide(modux_player *p, int by);
void do_global_volume(modux_player *p, int param);
// The IT family's D, K, L, N, P, W slide of a parameter: x0 up, 0y down on the later ticks, xF
// fine up, Fy fine down on the first.
int slide_step(int param, bool first);
// The volume column's byte of a cell (0 none), in its family's encoding, on the row's first tick;
// its later ticks run through the shared slides. note: the cell's note (a portamento's target).
void parse_volume_command(modux_player *p, int chn, int volume, int note);
void parse_note_command(modux_player *p, int chn, int note);
// Key off: the envelopes leave their sustain, the fade-out runs.
void release_key(modux_player *p, int chn);
// The IT family: its own commands on the first tick (its S commands go through
// parse_extended_command) (their later ticks and waves run through the
// shared do_* routines) and the channel volume slide. The S3M-family routines above read
// RULE_IT_VIRTUAL_VOICES for what the IT family does differently.
void parse_it_channel_volume_slide(modux_player *p, int chn, int param);
void parse_it_panbrello(modux_player *p, int chn, int param);
void parse_it_midi_macro(modux_player *p, int chn, int param);
void do_channel_volume_slide(modux_player *p, int chn);
void lock_modux_player3(void);

// ---------------------------------------------------------------------------------------------
// XM-family effects and envelopes (player4.cpp)
// ---------------------------------------------------------------------------------------------

void parse_new_note(modux_player *p, int chn, int note, int instrument);
// Starts the instrument's envelopes, fade-out and auto-vibrato again and releases no key: what a
// tone portamento with an instrument number does under RULE_INSTRUMENT_RESETS.
void retrigger_instrument(modux_player *p, int chn, int instrument);
// A note's auto-vibrato at this tick, moving it on: the offset of its sample's wave in the
// family's pitch units (XM: a period, 0 without RULE_AUTO_VIBRATO; the IT family: linear units).
// pos is the place in the wave's 256 steps, amp the depth now in 1/256 of the sample's, sweep
// amp's growth per tick; the XM family's depth grows only while the key is held.
int auto_vibrato(modux_player *p, int sample, int &pos, int &amp, int &sweep, bool key_off);
// Point numbers are held to the points in use (and those to 0..12), so no step reads outside.
void start_envelope(ENVELOPE_STATE *env, const int *value, const int *tick, int flags, int points,
                    int loop_start, int loop_end, int sustain_start, int sustain_end);
// The IT family: an instrument's envelope from its start, its flags in the running copy's layout,
// its output (in whole units) what it gives before it has run.
void start_it_envelope(ENVELOPE_STATE &env, const IT_ENVELOPE_INFO &e, int output);
// The value of an envelope where it is now, in 1/256 of its units (0 without points).
int envelope_value(const ENVELOPE_STATE &env, int rules);
// One tick of an envelope: its value where it is (output; default_output when it is off, an IT
// envelope paused by S77 the value it had), answered in 1/256 of its units, then the position one
// tick on through the loops (the sustain while the key is held). The module's rules say how: the IT
// family's envelopes interpolate finely, play a loop's end point before going back to its start,
// run on past the last point (ended) and take a position the release left beyond the loop through
// the last point first; the others go back on reaching a loop's end point and stay at the last.
int process_envelope(ENVELOPE_STATE *env, int default_output, int key_off, int rules);
// FT2's key off moves a pan envelope on only if it has just arrived at its sustain point; one
// that stayed there keeps that point's value for good. Called on the ticks after a key off.
void hold_released_pan_envelope(ENVELOPE_STATE *env);
void parse_xm_set_envelop_position(ENVELOPE_STATE *env, int position);
void parse_xm_pitch_slide_up(modux_player *p, int chn, int param);
void do_xm_pitch_slide_up(modux_player *p, int chn);
void parse_xm_pitch_slide_down(modux_player *p, int chn, int param);
void do_xm_pitch_slide_down(modux_player *p, int chn);
void parse_xm_volume_slide(modux_player *p, int chn, int param);
void do_xm_volume_slide(modux_player *p, int chn);
void parse_xm_pan_slide(modux_player *p, int chn, int param);
void do_xm_pan_slide(modux_player *p, int chn);
void parse_global_volume_slide(modux_player *p, int chn, int param);
void do_global_volume_slide(modux_player *p, int chn);
void do_xm_x(modux_player *p, int chn, int param);
// The IT family: starts a note (0..119) of an instrument (or a sample in sample mode) on a
// channel through the instrument's keyboard; named when the cell gives the number, else the note
// keeps the channel's volume.
void parse_it_note(modux_player *p, int chn, int note, int number, bool named);
// What a cell's number plays for a note (0..119): the sample, and the note played in `played`,
// through an instrument's keyboard (sample mode: the number is the sample); -1 nothing (the
// number or the keyboard names none: the channel's note goes on), -2 a sample the module lacks or
// an empty one (the channel's note stops).
int it_keyboard(const MODUX *mod, int number, int note, int &played);
// A number without a note: sample mode, the channel's note takes the sample and its volume;
// instrument mode, another instrument starts the sample its keyboard gives the note from its
// beginning, with its envelopes from theirs, the same one keeps the playing sample; both take
// the keyboard's sample's volume. A note that stopped by its envelope, its sample's end or SCx
// starts again.
void parse_it_number(modux_player *p, int chn, int number);
// The sounding note takes another sample from its start (the same one plays on) and the number's
// instrument with its envelopes from their start (a tone portamento's number without compatible
// Gxx, another instrument alone); its pitch goes on.
void restart_it_sample(modux_player *p, int chn, int number, int sample);
// The channel's note takes an instrument's envelopes from their start; false in sample mode or for
// an instrument the module lacks.
bool restart_it_instrument(modux_player *p, int chn, int number);
void it_setup_filter(NOTE_STATE &n, bool note_start);
void lock_modux_player4(void);

// ---------------------------------------------------------------------------------------------
// Virtual voices (voices.cpp)
// ---------------------------------------------------------------------------------------------

// Allocates the voices of the background pool, as many as are free (the mixer always has them).
void voices_open(modux_player *p);
// Stops every background note and gives their voices back.
void voices_close(modux_player *p);
// Silences every background note, keeping the voices.
void voices_silence(modux_player *p);
// Background voices that hold a voice, and those sounding now.
int background_voices(modux_player *p);
int background_sounding(modux_player *p);
// The channels' sounding notes and their IT starting values for a new start of mod; called by
// the control side before mod becomes the playing module, so it takes the module as a parameter.
void voices_reset(modux_player *p, MODUX *mod);
// A new note of an instrument (-1 in sample mode) and sample on a channel: the background notes
// it duplicates go by the instrument's duplicate action, the channel's note by its new note
// action (into the background, or cut).
void voices_new_note(modux_player *p, int ch, int instrument, int sample, int note);
// Pushes one note's state to its voice at the end of a tick, for every family (channel: its
// pattern channel, null for a background note); false once it has ended. The other families'
// channel note never ends, and its channel's values are held to their ranges on the way.
bool output_note(modux_player *p, NOTE_STATE &n, CHANNEL_STATE *channel);
// Pushes every sounding background note to its voice after the channels of a tick; nothing to do
// while the pool is closed (modules without RULE_IT_VIRTUAL_VOICES).
void output_background(modux_player *p);

// ---------------------------------------------------------------------------------------------
// Importer helpers
// ---------------------------------------------------------------------------------------------

int get_mod_no_pat(const int *order_table, int count);  // 1 + the largest of count entries
void convert_s3m_pitch(int *note);                   // note byte -> note frequency, -1 cut, 0 none
void convert_s3m_command(int *command, int *param);  // effect letter 1..26 -> CMD_*
int s3m_extended_param(int info);  // Sxy -> CMD_EXTENDED parameter, -1 when not played
int it_extended_param(int info);   // IT's Sxy the same way
void convert_xm_command(int *command, int *param);  // XM effect 0..35 -> CMD_*

#endif
