// Files the programs read from a user and write for one: an input must be a regular file (a FIFO
// or a device would block the reader or feed it without end), and an output replaces what it
// writes to only when that is a regular file (a device or a FIFO named as the output is written
// to, never replaced by a file of the same name).
#ifndef SAFEFILE_H
#define SAFEFILE_H

#include <cstddef>
#include <cstdio>
#include <string>

namespace safefile {

// Empty when path names a regular file (links followed); else why it cannot be read as one.
std::string not_regular(const std::string &path);

// The file opened for reading ("rb") when it is a regular file; else null and why in `why`.
FILE *open_input(const std::string &path, std::string *why);

// An output being written: to `fresh` (path + ".new"), renamed over `path` when finished, or to
// `path` itself when that is neither a regular file nor missing.
struct Output {
  FILE *file = nullptr;
  std::string path, fresh;
};

// 0, or the errno value of the failure. A FIFO with no reader fails (ENXIO) instead of waiting.
int open_output(Output *out, const std::string &path);
// Finishes the output: flushed, on the disk and renamed into place when `keep` is true, else a
// fresh file is removed. 0, or the errno value of the first failure (the output then is as it
// was, or, when written to directly, as far as it got).
int close_output(Output *out, bool keep);
// open_output, every byte, close_output. 0 or an errno value.
int write_whole(const std::string &path, const void *data, size_t size);

}  // namespace safefile

#endif
