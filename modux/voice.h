// modux voice: the engine's internal voice layer.
// The control calls and the tick play their channels through these functions, never through
// Allegro's voice_* calls directly, so the same engine can sound on Allegro's voices (the game,
// real-time playback) or on the engine's own offline mixer (rendering to a file). Both take the
// same voice numbers, frequencies in Hz, volumes and pans 0..255, positions in sample frames and
// Allegro's PLAYMODE_* bits.
#ifndef MODUX_VOICE_H
#define MODUX_VOICE_H

#include <allegro.h>

struct modux_player;

// Which voices the layer drives for a player: 0 Allegro's (the default player's), -1 the player's
// own offline mixer (render and C players). Switch only while the player holds no voice.
void modux_voices_use_mixer(modux_player *p, int on);
int modux_voices_on_mixer(modux_player *p);

int modux_voice_allocate(modux_player *p, SAMPLE *spl);  // a voice number, or -1 when none is free
void modux_voice_deallocate(modux_player *p, int voice);
// A new sample: position 0, stopped, no loop.
void modux_voice_reallocate(modux_player *p, int voice, SAMPLE *spl);
void modux_voice_start(modux_player *p, int voice);
void modux_voice_stop(modux_player *p, int voice);
void modux_voice_set_volume(modux_player *p, int voice, int volume);
void modux_voice_set_pan(modux_player *p, int voice, int pan);
// Surround (on): the voice sounds at the centre's level with its right side inverted. Allegro's
// voices have no surround and play it at the pan they were given.
void modux_voice_set_surround(modux_player *p, int voice, int on);
void modux_voice_set_frequency(modux_player *p, int voice, int hz);
void modux_voice_set_position(modux_player *p, int voice, int frame);
int modux_voice_get_position(modux_player *p, int voice);  // -1 once a sample has played to its end
// -1 while the voice is heard: always on the offline mixer; on Allegro's voices, while it holds
// one of the voices Allegro mixes (an allocation beyond them takes one from an older voice of no
// higher priority, which then plays nothing).
int modux_voice_held(modux_player *p, int voice);
void modux_voice_set_playmode(modux_player *p, int voice, int mode);
// ProTracker's sample swap: the sample's loop takes the voice's place where the voice reaches its
// loop's end or its sample's end; a sample without loop (or none) silences it there. Answers
// false on Allegro's voices, which cannot: the caller restarts the voice with the sample instead.
bool modux_voice_swap_at_loop_end(modux_player *p, int voice, SAMPLE *spl, int mode);
// IT's resonant low-pass filter: cutoff 0..MIXER_CUTOFF_MAX, the setting 0..127 times the filter
// envelope's 0..512 (-1: no filter), 12288 steps an octave; resonance 0..127. The offline mixer
// filters; Allegro's voices have no filter and play the note unfiltered.
void modux_voice_set_filter(modux_player *p, int voice, int cutoff, int resonance);
const int MIXER_CUTOFF_MAX = 127 * 512;  // the filter wide open

// ---------------------------------------------------------------------------------------------
// The offline mixer (mixer.cpp), one per player: MIXER_VOICES virtual voices mixed into 16-bit
// stereo. Every volume or pan change, every start and every stop of an audible voice glides over
// MIXER_RAMP_FRAMES output frames, so notes begin and end without clicks. A voice reads its
// sample through a resampler: linear interpolation unless the mixer is told otherwise.
// ---------------------------------------------------------------------------------------------

#define MIXER_VOICES 256  // 64 pattern channels and the background voices of the IT family
#define MIXER_RAMP_FRAMES 64

// Resamplers; the values are those of the C interface's MODUX_RESAMPLER_*. A mixer starts with
// linear interpolation (0).
enum {
  MIXER_LINEAR = 0,   // a straight line between the two frames around the position
  MIXER_NEAREST = 1,  // the frame under the position, held
  MIXER_CUBIC = 2,    // a cubic spline through the four frames around the position
  MIXER_SINC = 3      // windowed sinc of 8 taps or more, its cutoff following the pitch
};

struct MIXER_VOICE_STATE {
  SAMPLE *sample;       // null: the voice is free
  const float *frames;  // the sample's first channel as -1..1 (the mixer's copy); null: silent
  int playing;          // -1 while the voice advances through its sample
  int ended;            // -1 once a sample without loop played to its end
  int playmode;         // PLAYMODE_* bits
  int backwards;        // -1 while a ping-pong loop plays backwards
  int looped;           // -1 once the position went round its loop
  // A sample waiting to take the voice's place, playing its loop, once the voice reaches its
  // loop's end or its sample's end (swap -1): ProTracker's sample swap. A sample without loop
  // (or none) silences the voice there.
  int swap;
  SAMPLE *swap_sample;
  const float *swap_frames;
  int swap_playmode;
  // The loop image the resamplers other than linear read once the voice went round a short
  // loop (null: none), and the loop it shows.
  const float *image;
  long image_start, image_end;
  int image_bidir;
  long long position;  // frames, 32.32
  long long step;      // frames per output frame, 32.32
  int volume;          // 0..255
  int pan;             // 0 left .. 255 right
  int surround;        // -1: centre level, the right side the left inverted (the pan is kept)
  float gain[2];       // left and right multipliers now
  float target[2];     // what the ramp is heading for
  float slope[2];      // gain change per output frame while ramping
  int ramp;            // output frames of ramp left
  // IT resonant low-pass on the sample's value before the gains: y = a x + b y1 + c y2; off
  // while filter is 0.
  int filter;  // -1 while the voice is filtered
  int cutoff, resonance;
  float fa, fb, fc;
  float y1, y2;
};

// A sample's frames as the mixer reads them: signed, -1..1, the first channel only.
struct MIXER_FRAMES_INFO {
  const void *data;  // the SAMPLE's data it was made from
  int bits, stereo;
  long len;
  float *frames;  // len frames
  // A short loop's image: MIXER_IMAGE_PAD frames of what precedes the loop once played round
  // it, the loop (repeated to MIXER_IMAGE_RUN frames), and MIXER_IMAGE_PAD frames of what
  // follows (a ping-pong loop mirrored), so that a voice going round it reads every frame from
  // one stretch. loop_end 0: a sample copy.
  long loop_start, loop_end;
  int bidir;
};

#define MIXER_IMAGE_PAD 128      // the widest resampler's reach
#define MIXER_IMAGE_LOOPS 16384  // loops up to this many frames get an image
#define MIXER_IMAGE_RUN 1024     // frames of loop an image holds at the least

// The offline mixer's voices, each with the fading tail of its previous sound, and its rate.
struct MIXER_STATE {
  MIXER_VOICE_STATE voices[MIXER_VOICES];
  MIXER_VOICE_STATE tails[MIXER_VOICES];
  int rate;       // output frames a second
  int resampler;  // MIXER_LINEAR and the others; kept by mixer_reset
  // -1: a voice's sides take the square roots of the pan's shares (FT2's pan law); 0: the
  // shares themselves. Kept by mixer_reset.
  int square_root_pan;
  // Bit i of word i / 64: voice i or its tail may be playing; the mix visits only these.
  unsigned long long active[MIXER_VOICES / 64];
  // The converted copies of the samples the voices played since the last reset (and images of
  // their short loops). Allegro's
  // SAMPLE data is unsigned and belongs to the module, which players share and only read, so
  // each mixer keeps its own copy of what it plays, made once on a sample's first note.
  MIXER_FRAMES_INFO *converted;
  int converted_count, converted_size;
  MIXER_STATE() = default;
  MIXER_STATE(const MIXER_STATE &) = delete;
  MIXER_STATE &operator=(const MIXER_STATE &) = delete;
  ~MIXER_STATE();
};

// Frees every voice and the sample copies and sets the output rate in Hz (held to
// 1000..384000). The samples played before may be freed after this.
void mixer_reset(MIXER_STATE *m, int rate);
int mixer_rate(MIXER_STATE *m);
// Chooses the resampler (MIXER_LINEAR .. MIXER_SINC; others are ignored).
void mixer_set_resampler(MIXER_STATE *m, int resampler);
// The pan law of every voice: the square roots of the pan's shares (on) or the shares (off).
void mixer_set_square_root_pan(MIXER_STATE *m, int on);
int mixer_allocate(MIXER_STATE *m, SAMPLE *spl);
void mixer_deallocate(MIXER_STATE *m, int voice);
void mixer_reallocate(MIXER_STATE *m, int voice, SAMPLE *spl);
void mixer_start(MIXER_STATE *m, int voice);
void mixer_stop(MIXER_STATE *m, int voice);
void mixer_set_volume(MIXER_STATE *m, int voice, int volume);
void mixer_set_pan(MIXER_STATE *m, int voice, int pan);
void mixer_set_surround(MIXER_STATE *m, int voice, int on);
void mixer_set_frequency(MIXER_STATE *m, int voice, int hz);
void mixer_set_position(MIXER_STATE *m, int voice, int frame);
int mixer_get_position(MIXER_STATE *m, int voice);
void mixer_set_playmode(MIXER_STATE *m, int voice, int mode);
// The sample (null: silence) and PLAYMODE_* bits whose loop takes the voice's place at its loop's
// end.
void mixer_swap_at_loop_end(MIXER_STATE *m, int voice, SAMPLE *spl, int mode);
void mixer_set_filter(MIXER_STATE *m, int voice, int cutoff, int resonance);
// Mixes the next frames of every playing voice into out (interleaved left, right), scaled by
// gain (1 as mixed) and held to the output's range: 16 bits, or -1..1.
void mixer_mix(MIXER_STATE *m, short *out, int frames, float gain = 1.0f);
void mixer_mix_float(MIXER_STATE *m, float *out, int frames, float gain = 1.0f);
// Stops every voice at once, with no fade, and drops the sample copies: what it played may be
// freed. A voice started again after this stays silent.
void mixer_silence(MIXER_STATE *m);

#endif
