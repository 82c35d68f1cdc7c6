// Small MOD, S3M, XM, IT and UMX files built in memory for the importer tests and the fuzz seeds
// through modkit.h's descriptions; the defaults make a valid one-pattern module.
#ifndef MODULE_IMAGES_H
#define MODULE_IMAGES_H

#include <string>

#include "../../tools/modkit/modkit.h"

namespace itw = modkit::it;

namespace modimg {

using namespace modkit;

// A playable IT of one instrument and one 8-bit sample, a few notes and effects (modkit.h
// writes IT modules of any shape).
inline bytes build_it(const std::string &name) {
  itw::song s;
  s.name = name;
  itw::instrument ins;
  ins.nna = 3, ins.fadeout = 64;
  ins.vol.flags = 1 | 4, ins.vol.points = {{0, 64}, {10, 32}, {20, 0}},
  ins.vol.sustain_start = ins.vol.sustain_end = 1;
  s.instruments.push_back(ins);
  itw::sample smp;
  smp.flags = 1 | 16, smp.length = 32, smp.loop_start = 8, smp.loop_end = 32;
  for (int i = 0; i < 32; i++) smp.data.push_back(static_cast<uint8_t>((i * 8) ^ 0x80));
  s.samples.push_back(smp);
  s.patterns[0].rows = 16;
  s.patterns[0].cells = {{0, 0, 60, 1, 64, 0, 0},
                         {2, 1, 64, 1, -1, 8, 0x44},
                         {4, 0, 67, 1, 40, 19, 0xB1},
                         {6, 0, 255, 0, -1, 0, 0},
                         {8, 1, 254, 0, -1, 4, 0x02}};
  return itw::build(s);
}

}  // namespace modimg

#endif
