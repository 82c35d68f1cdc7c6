// The readable text form of a test module (described at the top of modkit_main.cpp), written as
// a MOD, S3M, XM or IT file through modkit.h's descriptions.
#ifndef MODTEXT_H
#define MODTEXT_H

#include <stdexcept>
#include <string>

#include "modkit.h"

namespace modkit {

// A mistake in a source, with its line (0: the source as a whole).
struct text_error : std::runtime_error {
  text_error(int at, const std::string &what) : std::runtime_error(what), line(at) {}
  int line;
};

// The module the source describes, in `format` (mod, s3m, xm or it) unless the source names
// its own. Throws text_error.
bytes build_text(const std::string &source, const std::string &format);

}  // namespace modkit

#endif
