// Writer of MUX modules: the exact inverse of the engine's load_mux. Given a MODUX built in
// memory it produces the file image, run-length coding the pattern columns as the loader expects,
// so that load_mux(write(m)) gives back every field of m. A module that the format cannot hold
// (a value too wide for its field, a note frequency that no Amiga period reads back as) is
// refused with a message rather than written approximately.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "modux.h"

// Byte width of each pattern column in the file: note (1 for the XM family, else 2), sample,
// volume, command, param.
int mux_column_width(int column, int flags);

// Appends the column stream of `count` stored values (already in their file form, each below
// 256^width) to `out`. Zero runs become one skip byte per 127 cells; other values go out in
// literal runs of at most 127, which swallow short zero gaps where that is shorter.
void mux_encode_column(const uint32_t *values, size_t count, int width, std::vector<uint8_t> &out);

// The stored form of a cell's note: for the XM family the signed byte, otherwise the Amiga
// period that the loader divides 3579546 by (note commands and 0 stay as they are). Returns an
// empty string and sets `stored`, or a message when the note has no stored form.
std::string mux_store_note(int flags, int note, uint32_t &stored);

// The complete file image of `mod` in `out`. Returns an empty string on success, else a message
// naming the first field that does not fit (and `out` is then unspecified).
std::string build_mux(const MODUX &mod, std::vector<uint8_t> &out);

// build_mux and write the image to `path`; empty string on success, else the message.
std::string write_mux(const std::string &path, const MODUX &mod);
