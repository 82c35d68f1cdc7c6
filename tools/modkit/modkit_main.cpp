// modkit: writes a small tracker module (MOD, S3M, XM or IT) from its readable text form, so that
// one-behaviour test modules live in the tree as text and become real files at build time.
//   modkit SOURCE.txt OUT.{mod,s3m,xm,it}
// The source, one statement a line (a word starting with '#' starts a comment):
//   format mod|s3m|xm|it (default: OUT's extension)   channels N (4; IT: any of 64)
//   speed N   tempo N   global N (IT)   mix N (IT)   linear 0|1 (XM)   restart N (XM)
//   title TEXT (the rest of the line; default "modgen")
//   version HEX (S3M tracker word, XM format word, IT tracker version)
//   samples 15|31 (MOD: 15 writes the old Soundtracker layout, without a signature)
//   flags HEX (S3M header flags; IT header flags, default D: stereo, instruments, linear)
//   tracker NAME (XM tracker name; '_' writes a space)
//   macro SFx|Zxx TEXT (IT: a MIDI macro; the song then carries its own, the others empty)
//   orders P P ...   (S3M: 254 is "+++", 255 is "---"; default: every pattern in turn)
//   off CH CH ...    (S3M: channels switched off, bit 7 of their settings)
//   sample N [wave=sine|square|saw] [period=32] [length=8192] [loop=0|1] [decay=0]
//            [volume=64] [rate=8363] [finetune=0] [relnote=0] [pan=128]
//       a sine, square or saw of `period` frames, fading with a time constant of `decay`
//       frames (0: none), looped whole or not; finetune is a MOD nibble -8..7 or an XM byte
//       -128..127, rate the middle-C rate (S3M, IT). Its peak is 100 of 127, in IT 0.8 of the
//       full scale. Without any sample statement, sample 1 is a steady tone: period=16
//       length=64 loop=1 (IT: a saw of period=64 length=64 loop=1).
//   instrument N [volenv=T:V,T:V..] [volsus=P|A-B] [volloop=A-B] [panenv=..] [pansus=..]
//                [panloop=..] [fadeout=N] [vib=TYPE,SWEEP,DEPTH,RATE] (XM: plays sample N)
//       IT also: [pitchenv=..] [pitchsus=..] [pitchloop=..] or [filterenv=..] [filtersus=..]
//                [filterloop=..], [sample=N] [nna=cut|continue|off|fade]
//                [dct=off|note|sample|instrument] [dca=cut|off|fade] [cutoff=C]
//                [resonance=R] [pan=P], and KINDcarry=1 (volcarry, pancarry, pitchcarry: a new
//                note of the instrument goes on with the envelope from where it is)
//   pattern N [rows=64]
//   ROW CHANNEL NOTE INSTRUMENT VOLUME EFFECT         (ROW may be FIRST-LAST: the cell on each)
//       NOTE C-4, C#4 ... (the trackers' own octaves: a sample plays at its rate on C-2 in MOD,
//       C-4 in S3M and XM, C-5 in IT), '===' key off (XM, IT), '^^^' note cut (S3M, IT), '~~~'
//       fade (IT), '.' none; INSTRUMENT a number or '.'; VOLUME '.' or the column's value (XM:
//       its byte in hex; S3M and IT: vNN volume, pNN pan or the byte); EFFECT '.' or the
//       format's letter and two hex digits (MOD/XM 0-9A-Z, S3M/IT A-Z).
//       A cell names each channel once a row (S3M: channels above 0 may come again, written
//       after the others; IT: any, in the source's order).
// Any mistake stops with the line number and status 1.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "modkit.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: modkit SOURCE.txt OUT.{mod,s3m,xm,it}\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  std::stringstream source;
  if (in) source << in.rdbuf();  // an empty source leaves `source` failed, not `in`
  if (!in) {
    std::cerr << "modkit: cannot read " << argv[1] << "\n";
    return 1;
  }
  const std::string out = argv[2];
  try {
    if (!modkit::write_file(out,
                            modkit::build_text(source.str(), out.substr(out.rfind('.') + 1)))) {
      std::cerr << "modkit: cannot write " << out << "\n";
      return 1;
    }
  } catch (const modkit::text_error &e) {
    std::cerr << "modkit: " << argv[1] << ": line " << e.line << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
