// modux voice: the engine's voice layer.
// Each call goes to Allegro's voices or to the offline mixer, whichever the layer drives.
#include "modux_internal.h"
#include "voice.h"

void modux_voices_use_mixer(modux_player *p, int on) { p->on_mixer = on ? -1 : 0; }

int modux_voices_on_mixer(modux_player *p) { return p->on_mixer; }

int modux_voice_allocate(modux_player *p, SAMPLE *spl) {
  return p->on_mixer ? mixer_allocate(&p->mixer, spl) : allocate_voice(spl);
}

void modux_voice_deallocate(modux_player *p, int voice) {
  if (p->on_mixer)
    mixer_deallocate(&p->mixer, voice);
  else
    deallocate_voice(voice);
}

void modux_voice_reallocate(modux_player *p, int voice, SAMPLE *spl) {
  if (p->on_mixer)
    mixer_reallocate(&p->mixer, voice, spl);
  else
    reallocate_voice(voice, spl);
}

void modux_voice_start(modux_player *p, int voice) {
  if (p->on_mixer)
    mixer_start(&p->mixer, voice);
  else
    voice_start(voice);
}

void modux_voice_stop(modux_player *p, int voice) {
  if (p->on_mixer)
    mixer_stop(&p->mixer, voice);
  else
    voice_stop(voice);
}

void modux_voice_set_volume(modux_player *p, int voice, int volume) {
  if (p->on_mixer)
    mixer_set_volume(&p->mixer, voice, volume);
  else
    voice_set_volume(voice, volume);
}

void modux_voice_set_pan(modux_player *p, int voice, int pan) {
  if (p->on_mixer)
    mixer_set_pan(&p->mixer, voice, pan);
  else
    voice_set_pan(voice, pan);
}

void modux_voice_set_surround(modux_player *p, int voice, int on) {
  if (p->on_mixer) mixer_set_surround(&p->mixer, voice, on);
}

void modux_voice_set_frequency(modux_player *p, int voice, int hz) {
  if (p->on_mixer)
    mixer_set_frequency(&p->mixer, voice, hz);
  else
    voice_set_frequency(voice, hz);
}

void modux_voice_set_position(modux_player *p, int voice, int frame) {
  if (p->on_mixer)
    mixer_set_position(&p->mixer, voice, frame);
  else
    voice_set_position(voice, frame);
}

int modux_voice_get_position(modux_player *p, int voice) {
  return p->on_mixer ? mixer_get_position(&p->mixer, voice) : voice_get_position(voice);
}

int modux_voice_held(modux_player *p, int voice) {
  if (p->on_mixer) return -1;
  return voice_check(voice) ? -1 : 0;
}

void modux_voice_set_playmode(modux_player *p, int voice, int mode) {
  if (p->on_mixer)
    mixer_set_playmode(&p->mixer, voice, mode);
  else
    voice_set_playmode(voice, mode);
}

void modux_voice_set_filter(modux_player *p, int voice, int cutoff, int resonance) {
  if (p->on_mixer) mixer_set_filter(&p->mixer, voice, cutoff, resonance);
}

bool modux_voice_swap_at_loop_end(modux_player *p, int voice, SAMPLE *spl, int mode) {
  if (!p->on_mixer) return false;
  mixer_swap_at_loop_end(&p->mixer, voice, spl, mode);
  return true;
}
