// modux voice: the engine's internal voice layer.
// The control calls and the tick play their channels through these functions, never through
// Allegro's voice_* calls directly, so the same engine can sound on Allegro's voices (the game,
// real-time playback) or on the engine's own offline mixer (rendering to a file). Both take the
// same voice numbers, frequencies in Hz, volumes and pans 0..255, positions in sample frames and
// Allegro's PLAYMODE_* bits.
#ifndef MODUX_VOICE_H
#define MODUX_VOICE_H

#include <allegro.h>

// Which voices the layer drives: 0 Allegro's (the start), -1 the offline mixer. Switch only while
// no voice is allocated (before install_mod or after remove_mod).
void modux_voices_use_mixer(int on);
int modux_voices_on_mixer(void);

int modux_voice_allocate(SAMPLE *spl);  // a voice number, or -1 when none is free
void modux_voice_deallocate(int voice);
void modux_voice_reallocate(int voice, SAMPLE *spl);  // new sample: position 0, stopped, no loop
void modux_voice_start(int voice);
void modux_voice_stop(int voice);
void modux_voice_set_volume(int voice, int volume);
void modux_voice_set_pan(int voice, int pan);
void modux_voice_set_frequency(int voice, int hz);
void modux_voice_set_position(int voice, int frame);
int modux_voice_get_position(int voice);  // -1 once a sample has played to its end
// -1 while the voice is heard: always on the offline mixer; on Allegro's voices, while it holds
// one of the voices Allegro mixes (an allocation beyond them takes one from an older voice of no
// higher priority, which then plays nothing).
int modux_voice_held(int voice);
void modux_voice_set_playmode(int voice, int mode);
// IT's resonant low-pass filter, cutoff and resonance 0..127 (127 and 0: no filter). The offline
// mixer filters; Allegro's voices have no filter and play the note unfiltered.
void modux_voice_set_filter(int voice, int cutoff, int resonance);

// ---------------------------------------------------------------------------------------------
// The offline mixer (mixer.cpp): MODUX_MAX_CHANNELS virtual voices mixed into 16-bit stereo with
// linear interpolation. Every volume or pan change, every start and every stop of an audible voice
// glides over MIXER_RAMP_FRAMES output frames, so notes begin and end without clicks.
// ---------------------------------------------------------------------------------------------

#define MIXER_VOICES 256  // 64 pattern channels and the background voices of the IT family
#define MIXER_RAMP_FRAMES 64

// Frees every voice and sets the output rate in Hz (held to 1000..384000).
void mixer_reset(int rate);
int mixer_rate(void);
int mixer_allocate(SAMPLE *spl);
void mixer_deallocate(int voice);
void mixer_reallocate(int voice, SAMPLE *spl);
void mixer_start(int voice);
void mixer_stop(int voice);
void mixer_set_volume(int voice, int volume);
void mixer_set_pan(int voice, int pan);
void mixer_set_frequency(int voice, int hz);
void mixer_set_position(int voice, int frame);
int mixer_get_position(int voice);
void mixer_set_playmode(int voice, int mode);
void mixer_set_filter(int voice, int cutoff, int resonance);
// Mixes the next frames of every playing voice into out (interleaved left, right).
void mixer_mix(short *out, int frames);

#endif
