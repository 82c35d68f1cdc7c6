// modux import: the kit every importer is built on, inside the engine only.
// A file is read once into memory (or handed over as memory) and walked with a cursor that never
// passes its end; the format is told from those bytes. Every count and offset a file declares is
// checked against the bytes really there before anything is allocated from it, and the sample
// data and pattern cells of one module are held to totals. Messages go, with an error code, to the
// status of the load each routine is given; a refused module is freed on one path, through
// destroy_mod.
#ifndef MODUX_IMPORT_H
#define MODUX_IMPORT_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libmodux.h"
#include "modux_internal.h"

namespace modux_import {

// Largest file an importer reads. Tracker modules stay far below it (sample data is at most
// a few megabytes); it keeps a huge foreign file from being copied into memory.
const long MAX_MODULE_BYTES = 64L << 20;
// Sample data one module may hold, all its samples together, as the model stores it: four times
// the largest file, since IT compression gives more data than a file has bytes. A header that
// claims more is refused, so no load takes gigabytes.
const long long MAX_SAMPLE_BYTES = 256LL << 20;
// Pattern cells one module may hold, all patterns together: the most any format can name (257
// patterns with an appended empty one, of 256 rows over 64 channels), about 84 MB. A file of
// the engine's own format could otherwise ask for far more than its bytes.
const long long MAX_PATTERN_CELLS = 257LL * 256 * MODUX_MAX_CHANNELS;
// Bytes at the start of a file that tell its format and its song name: the UMX package search
// reaches 503 + 1084 bytes in.
const long HEAD_BYTES = 2048;

// Bytes in memory, not owned.
struct view {
  const unsigned char *data = nullptr;
  long long size = 0;
};

// A file's bytes, owned.
struct image {
  unsigned char *data = nullptr;
  long size = 0;
  image() = default;
  image(const image &) = delete;
  image &operator=(const image &) = delete;
  ~image() { free(data); }
  operator view() const { return view{data, size}; }
};

// ---------------------------------------------------------------------------------------------
// Where a load's messages go
// ---------------------------------------------------------------------------------------------

// One load: where its messages go and what it has made so far. Every routine of the kit that can
// fail reports into the load it is given; nothing global is touched, so threads may load at once.
struct load_state {
  modux_status *status;
  long long sample_bytes = 0;   // sample data made, counted against MAX_SAMPLE_BYTES
  long long pattern_cells = 0;  // pattern cells made, counted against MAX_PATTERN_CELLS
  // Starts a load: the status is cleared.
  explicit load_state(modux_status *s);
  load_state(const load_state &) = delete;
  load_state &operator=(const load_state &) = delete;
};

// The one formatter: code and message into the load's status. Answers false.
bool vfail_code(load_state &load, int code, const char *format, va_list args);
bool fail_code(load_state &load, int code, const char *format, ...);
// A known format refused: MODUX_ERROR_DAMAGED.
bool fail(load_state &load, const char *format, ...);
// Memory the system would not give: "Unable to allocate enough memory for WHAT".
bool no_memory(load_state &load, const char *what);
// Says, after a load that kept what a file cut short holds, what is missing.
void note_short(load_state &load, const char *format, ...);
// Frees what was built; the status already says why. Always null.
inline MODUX *abandon(MODUX *mod) {
  destroy_mod(mod);
  return nullptr;
}
// A damaged file: the message, then abandon.
MODUX *refuse(load_state &load, MODUX *mod, const char *format, ...);
// The legacy globals: the status's message (on failure) and note, as load_mod leaves them.
void publish_legacy(const modux_status &status, bool failed);

// ---------------------------------------------------------------------------------------------
// Reading files
// ---------------------------------------------------------------------------------------------

// Reads up to limit bytes of a file into img. Only a regular file is opened (a FIFO or a device
// could block or never end); a path naming none is refused with MODUX_ERROR_OPEN and the
// system's reason. A file larger than limit is refused with MODUX_ERROR_LIMIT when whole is set,
// else cut at limit. False with the status set.
bool read_file(load_state &load, const char *path, image &img, long limit, bool whole);
// Reads everything left in an open PACKFILE (a datafile object), up to MAX_MODULE_BYTES.
bool read_rest(load_state &load, PACKFILE *f, image &img);
// Reads up to n bytes at offset of a file into buf, the rest zero: the count read, or -1 when
// the file cannot be read (the status says why).
long read_head(load_state &load, const char *filename, long offset, void *buf, long n);

// ---------------------------------------------------------------------------------------------
// The cursor
// ---------------------------------------------------------------------------------------------

// Reader over bytes in memory. Reading past the end gives zeros and sets `ended`; positions are
// 64-bit so that offsets computed from a file's fields never wrap.
struct cursor {
  const unsigned char *data;
  long long size;
  long long pos;
  bool ended = false;

  cursor(const view &v, long long start = 0) : data(v.data), size(v.size), pos(start) {}
  cursor(const unsigned char *bytes, long long n, long long start = 0)
      : data(bytes), size(n), pos(start) {}

  long long left() const { return pos >= 0 && pos < size ? size - pos : 0; }
  bool has(long long n) const { return n >= 0 && n <= left(); }
  void seek(long long p) { pos = p; }
  void skip(long long n) { pos += n; }
  int byte() {
    if (pos < 0 || pos >= size) {
      ended = true;
      pos++;
      return 0;
    }
    return data[pos++];
  }
  int sbyte() { return static_cast<signed char>(byte()); }
  int lword() {
    const int lo = byte();
    return lo | (byte() << 8);
  }
  int mword() {
    const int hi = byte();
    return (hi << 8) | byte();
  }
  uint32_t llong() {
    const uint32_t lo = lword();
    return lo | (static_cast<uint32_t>(lword()) << 16);
  }
  // n bytes in one copy; those past the end are zero.
  void bytes(void *buf, long long n) {
    if (n <= 0) return;
    unsigned char *out = static_cast<unsigned char *>(buf);
    const long long there = pos >= 0 ? (left() < n ? left() : n) : 0;
    if (there > 0) memcpy(out, data + pos, there);
    if (there < n) {
      memset(out + there, 0, n - there);
      ended = true;
    }
    pos += n;
  }
};

// ---------------------------------------------------------------------------------------------
// Building the model
// ---------------------------------------------------------------------------------------------

// Every load starts here: a zero-filled module; null, with the status set, without memory.
MODUX *new_module(load_state &load);
// count zero-filled records of size bytes for the part the message names, or null with the
// status set. Counts were checked against the file by the caller; a count of 0 gives null and
// no message.
void *new_records(load_state &load, long long count, size_t size, const char *what);
// Checks that bytes more of sample data keep the module within MAX_SAMPLE_BYTES and counts them;
// false with MODUX_ERROR_LIMIT and a message naming the sample (format and number from 1).
bool charge_sample(load_state &load, long long bytes, const char *format_name, int number);
// The cells of one pattern (count of them, at least 1), zero-filled; null with the status set
// when the module would pass MAX_PATTERN_CELLS (MODUX_ERROR_LIMIT, naming the pattern) or memory
// is short.
NOTE_INFO *new_cells(load_state &load, long long count, const char *format_name, int number);
// Gives an Allegro sample of len frames of 8- or 16-bit data its fixed fields and a zeroed data
// block (an empty sample gets one frame, so that data is never null). False when memory is
// short, with the status set. The data counts against the module's total only once charged.
bool new_sample(load_state &load, SAMPLE &spl, SAMPLE_INFO &info, int len, int bits = 8);
// Sets a sample's loop. The mixer reads between the loop points and turns at the loop end, so
// a loop is kept only when it lies inside the data and is not empty; any other sample plays
// once, from 0 to its end.
void fit_loop(SAMPLE &spl, SAMPLE_INFO &info, long long start, long long end, int flags);

// 4-bit ADPCM sample data, as one tracker's editor packs 8-bit samples in MOD, XM and IT files:
// a table of 16 signed steps, then two steps a byte (low nibble first), each added to a running
// value that starts at 0. The bytes it takes for frames values:
const int ADPCM_TABLE_BYTES = 16;
inline long long adpcm_bytes(long long frames) { return ADPCM_TABLE_BYTES + (frames + 1) / 2; }
// Frames whole values that the bytes left at the cursor hold (all of them when enough are there).
long long adpcm_frames(const cursor &c, long long frames);
// Decodes frames values at the cursor into Allegro's unsigned 8-bit form; the cursor moves past
// the table and the bytes of those values. The caller holds frames to adpcm_frames.
void decode_adpcm(cursor &c, unsigned char *out, long long frames);

// ---------------------------------------------------------------------------------------------
// Effects
// ---------------------------------------------------------------------------------------------

// One entry of a format's effect table: the internal command, and whether the parameter passes
// unchanged (otherwise the effect is dropped: command 0, parameter 0).
struct effect_entry {
  int code;
  bool keep;
};
// The one translation of a format's effect number through its table of n entries and, for the
// number `extended` (-1 none), a table of 16 sub-commands (the parameter's high nibble) that
// give the CMD_EXTENDED parameter (low nibble added) or -1 to drop it. Out of range: dropped.
void translate_effect(const effect_entry *table, int n, int extended, const int *sub_table,
                      int *command, int *param);

// ---------------------------------------------------------------------------------------------
// Detection, info and loading of every family
// ---------------------------------------------------------------------------------------------

// The UMX package signature, the first four bytes of every package file.
const unsigned char UMX_MAGIC[4] = {0xC1, 0x83, 0x2A, 0x9E};
// Windows tried by the package search: starts 4 to 503.
const int UMX_WINDOWS = 500;

// Offset of the first occurrence of sig (n bytes) among the windows starting at 4 to 503 of a
// UMX package, minus place (where the signature sits in the module data): the offset of the
// module data. -1 when the bytes are no package or no window gives module data that starts after
// the package signature.
int umx_search(view v, const char *sig, int n, int place);
// Runs a byte detector over the head of a file: its answer, or fail_answer when the file cannot
// be read.
int detect_file(const char *filename, int (*detect)(view), int fail_answer);
// get_*_info of a file: the song name of name_bytes bytes at offset `at`, and the format's type
// number and name. 1, or -1 with the status set when the file cannot be read.
int head_info(const char *filename, long at, int name_bytes, int type, const char *type_name,
              MODFILE_INFO *info);
// A per-format loader over a file: reads it whole once, then loads from its bytes; the status's
// message and note also go to modux_error and modux_note.
MODUX *load_file_with(const char *filename, MODUX *(*loader)(load_state &, view, int), int arg);

// The byte-level detectors and loaders of each format (in its load_*.cpp). Detectors answer
// above 0 for a match (UMX: the offset of the module data); loaders take the offset of the
// module data (0 for a plain file).
int detect_mux_bytes(view v);
int detect_it_bytes(view v);
int detect_xm_bytes(view v);
int detect_s3m_bytes(view v);
int detect_m31_bytes(view v);
int detect_m15_bytes(view v);
int detect_unreal_it_bytes(view v);
int detect_unreal_xm_bytes(view v);
int detect_unreal_s3m_bytes(view v);
int detect_unreal_mod_bytes(view v);
MODUX *load_mux_bytes(load_state &load, view v, int unused);
MODUX *load_it_bytes(load_state &load, view v, int offset);
MODUX *load_xm_bytes(load_state &load, view v, int offset);
MODUX *load_s3m_bytes(load_state &load, view v, int offset);
MODUX *load_m15_bytes(load_state &load, view v, int offset);
MODUX *load_m31_bytes(load_state &load, view v, int offset);

// Any module in memory: the format is told from the bytes, the first family that matches loads
// them. Touches no global state; the status (which may be null) says why a load failed. Null
// data: MODUX_ERROR_ARGUMENT. flags: MODUX_LOAD_* bits.
MODUX *load_memory(view v, int flags, modux_status *status);
// Any module file, read once. Null path: MODUX_ERROR_ARGUMENT.
MODUX *load_path(const char *path, int flags, modux_status *status);
// What get_mod_info reports of a module in memory, or from the head of a file. 1, or -1 with the
// status (which may be null) set.
int info_memory(view v, int flags, MODFILE_INFO *info, modux_status *status);
int path_info(const char *path, int flags, MODFILE_INFO *info, modux_status *status);
// The family name of a MODFILE_INFO type number ("" for another).
const char *family_name(int type);

}  // namespace modux_import

#endif
