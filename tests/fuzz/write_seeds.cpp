// Writes small built modules of every family to a folder, as seeds of the fuzz corpus.
// Usage: write_seeds DIR
#include <string>

#include "module_images.h"

using namespace modimg;

// An IT whose samples are compressed (8 and 16 bits, 2.14 and 2.15, stereo) and whose
// instruments use every envelope, for the fuzzer to damage.
static bytes compressed_it() {
  itw::song s = itw::song{};
  itw::instrument ins;
  ins.nna = 1, ins.dct = 1, ins.fadeout = 32, ins.cutoff = 60, ins.resonance = 30;
  ins.vol.flags = 1 | 2 | 4, ins.vol.points = {{0, 64}, {4, 20}, {8, 40}}, ins.vol.loop_end = 2,
  ins.vol.sustain_end = 1;
  ins.pan_env.flags = 1, ins.pan_env.points = {{0, -20}, {6, 20}};
  ins.pitch.flags = 1 | 128, ins.pitch.points = {{0, 10}, {9, -10}};
  s.instruments = {ins, ins};
  s.instruments[1].old_layout = true;
  std::vector<int> wave(600);
  for (size_t i = 0; i < wave.size(); i++) wave[i] = static_cast<int>(i % 50) - 25;
  const struct {
    int flags, convert, width;
  } kinds[] = {{1 | 8, 1, 0}, {1 | 8 | 2, 5, 13}, {1 | 8 | 4, 1, 7}};
  for (const auto &k : kinds) {
    itw::sample smp;
    smp.flags = k.flags | 16 | 32, smp.convert = k.convert, smp.length = 600;
    smp.loop_start = 10, smp.loop_end = 500, smp.sustain_start = 20, smp.sustain_end = 100;
    for (int side = 0; side < ((k.flags & 4) ? 2 : 1); side++) {
      const bytes b = itw::compress(wave, k.flags & 2, k.convert & 4, k.width);
      smp.data.insert(smp.data.end(), b.begin(), b.end());
    }
    s.samples.push_back(smp);
  }
  s.patterns[0].cells = {{0, 0, 60, 1, 32, 19, 0x71},
                         {1, 1, 62, 2, 200, 26, 0x30},
                         {2, 0, 60, 1, -1, 4, 0x0F},
                         {3, 2, 50, 1, 100, 7, 0x20},
                         {4, 0, 255},
                         {5, 1, 254, 0, -1, 19, 0xB2}};
  return itw::build(s);
}

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  const std::string dir = argv[1];
  mod_image mod;
  mod.samples.resize(2);
  mod.samples[0] = {8, 0, 64, 2, 4, bytes(16, 0x40)};
  mod.patterns[0][0] = {1, 428, 0xC, 0x30};
  mod.patterns[0][5] = {2, 214, 0xE, 0x63};
  mod.patterns[0][9] = {1, 320, 0x1, 0x02};
  mod_image m15 = mod;
  m15.no_inst = 15;
  mod_image m8 = mod;
  m8.signature = "8CHN", m8.channels = 8;
  m8.patterns.assign(1, std::vector<mod_cell>(512));
  m8.patterns[0][3] = {2, 428, 0xB, 0};

  s3m_image s3m;
  s3m.orders = {0, 254, 1, 255};
  s3m.patterns.resize(2);
  s3m.samples.resize(2);
  s3m.samples[0] = {1, true, 16, 4, 12, 64, 1, 8363, bytes(16, 0x20)};
  s3m.samples[1] = {1, true, 8, 0, 0, 48, 4, 22050, bytes(16, 0x70)};
  s3m.patterns[0] = {{0, 0, 0x40, 1, 32, 4, 0x12}, {1, 1, 0x52, 2, -1, 19, 0xB1}, {2, 2, 0xFE, 0}};
  s3m.patterns[1] = {{0, 0, 0x30, 2, 64, 1, 3}, {5, 3, 0x41, 1, -1, 20, 0x80}};
  s3m.pan_flag = 252;
  s3m.default_pan[0] = 0x23;

  xm_image xm;
  xm.song_length = 2, xm.orders = {0, 1};
  xm.patterns.resize(2);
  xm.patterns[0].packed = {49, 1, 0x40, 0x0A, 0x0F, 0x83, 61, 2, 0x98, 14, 0x13, 0x80};
  xm.patterns[1].rows = 16;
  xm.patterns[1].packed = {0x83, 97, 1};
  xm_instrument ins;
  xm_sample s;
  s.data = xm_delta8({0, 40, 80, 40, 0, -40, -80, -40});
  s.length = 8, s.type = 1, s.loop_length = 8;
  ins.samples = {s};
  ins.vol_env = {{0, 64}, {10, 32}, {20, 0}};
  ins.vol_flags = 3, ins.vol_sustain = 1, ins.fadeout = 256;
  xm_instrument wide;
  xm_sample w16;
  w16.data = {0, 0x10, 0, 0x10, 0, 0xE0, 0, 0x10};
  w16.length = 8, w16.type = 0x12, w16.loop_start = 2, w16.loop_length = 4;
  wide.samples = {w16};
  xm.instruments = {ins, wide};

  // The tolerant and the older layouts: FLT8 halves, Falcon bytes, XM 1.02 and 1.03, a wrong
  // pattern header length, and an XM cut inside its last instrument.
  mod_image flt8 = m8;
  flt8.signature = "FLT8", flt8.orders = {0, 2}, flt8.song_length = 2;
  flt8.patterns.push_back(flt8.patterns[0]);
  mod_image falcon = m8;
  falcon.signature = "FA08";
  xm_image v102 = xm, v103 = xm, wrong = xm;
  v102.version = 0x102, v103.version = 0x103;
  wrong.patterns[0].header_length = 0xFFFFFF00;
  bytes cut = build_xm(xm);
  cut.resize(cut.size() - 20);

  const bool ok =
      write_file(dir + "/seed_flt8.mod", build_mod(flt8)) &&
      write_file(dir + "/seed_fa08.mod", build_mod(falcon)) &&
      write_file(dir + "/seed_v102.xm", build_xm(v102)) &&
      write_file(dir + "/seed_v103.xm", build_xm(v103)) &&
      write_file(dir + "/seed_wrong_pattern_header.xm", build_xm(wrong)) &&
      write_file(dir + "/seed_cut.xm", cut) && write_file(dir + "/seed.mod", build_mod(mod)) &&
      write_file(dir + "/seed15.mod", build_mod(m15)) &&
      write_file(dir + "/seed8.mod", build_mod(m8)) &&
      write_file(dir + "/seed.s3m", build_s3m(s3m)) && write_file(dir + "/seed.xm", build_xm(xm)) &&
      write_file(dir + "/seed_s3m.umx", wrap_umx(build_s3m(s3m), 64)) &&
      write_file(dir + "/seed_xm.umx", wrap_umx(build_xm(xm), 40)) &&
      write_file(dir + "/seed_it.umx", wrap_umx(build_it("it"), 20)) &&
      write_file(dir + "/seed.it", build_it("it")) &&
      write_file(dir + "/seed_compressed.it", compressed_it());
  return ok ? 0 : 1;
}
