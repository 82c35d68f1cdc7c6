// modux voice: the engine's voice layer.
// Each call goes to Allegro's voices or to the offline mixer, whichever the layer drives.
#include "voice.h"

// -1 while the engine plays on the offline mixer.
static int on_mixer = 0;

void modux_voices_use_mixer(int on) { on_mixer = on ? -1 : 0; }

int modux_voices_on_mixer(void) { return on_mixer; }

int modux_voice_allocate(SAMPLE *spl) {
  return on_mixer ? mixer_allocate(spl) : allocate_voice(spl);
}

void modux_voice_deallocate(int voice) {
  if (on_mixer)
    mixer_deallocate(voice);
  else
    deallocate_voice(voice);
}

void modux_voice_reallocate(int voice, SAMPLE *spl) {
  if (on_mixer)
    mixer_reallocate(voice, spl);
  else
    reallocate_voice(voice, spl);
}

void modux_voice_start(int voice) {
  if (on_mixer)
    mixer_start(voice);
  else
    voice_start(voice);
}

void modux_voice_stop(int voice) {
  if (on_mixer)
    mixer_stop(voice);
  else
    voice_stop(voice);
}

void modux_voice_set_volume(int voice, int volume) {
  if (on_mixer)
    mixer_set_volume(voice, volume);
  else
    voice_set_volume(voice, volume);
}

void modux_voice_set_pan(int voice, int pan) {
  if (on_mixer)
    mixer_set_pan(voice, pan);
  else
    voice_set_pan(voice, pan);
}

void modux_voice_set_frequency(int voice, int hz) {
  if (on_mixer)
    mixer_set_frequency(voice, hz);
  else
    voice_set_frequency(voice, hz);
}

void modux_voice_set_position(int voice, int frame) {
  if (on_mixer)
    mixer_set_position(voice, frame);
  else
    voice_set_position(voice, frame);
}

int modux_voice_get_position(int voice) {
  return on_mixer ? mixer_get_position(voice) : voice_get_position(voice);
}

int modux_voice_held(int voice) {
  if (on_mixer) return -1;
  return voice_check(voice) ? -1 : 0;
}

void modux_voice_set_playmode(int voice, int mode) {
  if (on_mixer)
    mixer_set_playmode(voice, mode);
  else
    voice_set_playmode(voice, mode);
}

void modux_voice_set_filter(int voice, int cutoff, int resonance) {
  if (on_mixer) mixer_set_filter(voice, cutoff, resonance);
}
