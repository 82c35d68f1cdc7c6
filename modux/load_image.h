// modux load_image: what the foreign-format importers share, inside the engine only.
// Each importer reads its file whole into memory and walks it with a cursor that never passes
// the end: every count and offset a file declares is checked against the bytes really there
// before anything is allocated from it. Also the search for a module inside a UMX package.
#ifndef MODUX_LOAD_IMAGE_H
#define MODUX_LOAD_IMAGE_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "modux_internal.h"

namespace modux_import {

// Largest file an importer reads. Tracker modules stay far below it (sample data is at most
// a few megabytes); it keeps a huge foreign file from being copied into memory.
const long MAX_MODULE_BYTES = 64L << 20;

// A file's bytes in memory.
struct image {
  unsigned char *data = nullptr;
  long size = 0;
  image() = default;
  image(const image &) = delete;
  image &operator=(const image &) = delete;
  ~image() { free(data); }
};

enum read_result { READ_OK, READ_NO_FILE, READ_TOO_LARGE, READ_NO_MEMORY };

// Reads everything left in an open file through the byte-order layer, in growing blocks (a
// PACKFILE does not tell its size).
inline read_result read_rest(PACKFILE *f, image &img) {
  long capacity = 0;
  read_result result = READ_OK;
  for (;;) {
    if (img.size == capacity) {
      if (capacity >= MAX_MODULE_BYTES + 1) {
        result = READ_TOO_LARGE;
        break;
      }
      const long grown = capacity == 0 ? 65536 : capacity * 2;
      const long next = grown > MAX_MODULE_BYTES + 1 ? MAX_MODULE_BYTES + 1 : grown;
      unsigned char *more = static_cast<unsigned char *>(realloc(img.data, next));
      if (!more) {
        result = READ_NO_MEMORY;
        break;
      }
      img.data = more;
      capacity = next;
    }
    const long got = modux_fread(img.data + img.size, capacity - img.size, f);
    if (got <= 0) break;
    img.size += got;
  }
  if (result == READ_OK && img.size > MAX_MODULE_BYTES) result = READ_TOO_LARGE;
  return result;
}

// Reads a whole file.
inline read_result read_image(const char *filename, image &img) {
  PACKFILE *f = modux_fopen(filename, "rb");
  if (!f) return READ_NO_FILE;
  const read_result result = read_rest(f, img);
  modux_fclose(f);
  return result;
}

// Reads up to n bytes at offset; the rest of buf is zero. The count read, or -1 when the file
// cannot be opened.
inline long read_head(const char *filename, long offset, void *buf, long n) {
  memset(buf, 0, n);
  PACKFILE *f = modux_fopen(filename, "rb");
  if (!f) return -1;
  long got = 0;
  if (modux_skip(f, offset) == 0) got = modux_fread(buf, n, f);
  modux_fclose(f);
  return got < 0 ? 0 : got;
}

// Reader over an image. Reading past the end gives zeros and sets `ended`; positions are
// 64-bit so that offsets computed from a file's fields never wrap.
struct cursor {
  const unsigned char *data;
  long long size;
  long long pos;
  bool ended = false;

  cursor(const image &img, long long start = 0) : data(img.data), size(img.size), pos(start) {}
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

// The single way out of a failed load: message, free what was built, no module.
inline MODUX *refuse(MODUX *mod, const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(modux_error, sizeof modux_error, format, args);
  va_end(args);
  destroy_mod(mod);
  return nullptr;
}

// Frees what was built when modux_error already says what went wrong.
inline MODUX *abandon(MODUX *mod) {
  destroy_mod(mod);
  return nullptr;
}

inline void set_error(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(modux_error, sizeof modux_error, format, args);
  va_end(args);
}

// Leaves a message in modux_error and answers false: the way out of one section of a file, for
// the loaders that read their formats section by section.
inline bool fail(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(modux_error, sizeof modux_error, format, args);
  va_end(args);
  return false;
}

// What get_*_info reports: the song name of name_bytes bytes read at offset `at`, and the
// format's type number and name. 1, or -1 with a message when the file cannot be opened.
inline int head_info(const char *filename, long at, int name_bytes, int type, const char *type_name,
                     MODFILE_INFO *info) {
  char name[sizeof info->name];
  if (name_bytes > static_cast<int>(sizeof name)) name_bytes = sizeof name;
  if (read_head(filename, at, name, name_bytes) < 0) {
    set_error("Unable to open %s", filename);
    return -1;
  }
  memset(info, 0, sizeof *info);
  info->type = type;
  snprintf(info->type_name, sizeof info->type_name, "%s", type_name);
  memcpy(info->name, name, name_bytes);
  return 1;
}

// Message for an image that could not be read; true when it was.
inline bool image_read(const char *filename, image &img) {
  switch (read_image(filename, img)) {
    case READ_OK: return true;
    case READ_NO_FILE: set_error("Unable to open %s", filename); return false;
    case READ_TOO_LARGE: set_error("File larger than %ld MB", MAX_MODULE_BYTES >> 20); return false;
    default: set_error("Unable to allocate enough memory for the file"); return false;
  }
}

// Every load starts here: the note of the last load is cleared and a zero-filled module is made;
// null, with modux_error set, when there is no memory for it.
inline MODUX *new_module() {
  modux_note[0] = '\0';
  MODUX *mod = static_cast<MODUX *>(calloc(1, sizeof(MODUX)));
  if (!mod) set_error("Unable to allocate enough memory for MODUX structure");
  return mod;
}

// Says, after a load that kept what a file cut short holds, what is missing.
inline void note_short(const char *format, ...) {
  va_list args;
  va_start(args, format);
  vsnprintf(modux_note, sizeof modux_note, format, args);
  va_end(args);
}

// Gives an Allegro sample of len frames of 8- or 16-bit data its fixed fields and a zeroed data
// block (an empty sample gets one frame, so that data is never null). False when memory is short.
inline bool new_sample(SAMPLE &spl, SAMPLE_INFO &info, int len, int bits = 8) {
  spl.bits = bits;
  spl.stereo = 0;
  spl.freq = 1000;
  spl.priority = 192;
  spl.param = -1;
  spl.len = len;
  spl.loop_start = 0;
  spl.loop_end = len;
  spl.data = calloc(len > 0 ? len : 1, bits / 8);
  info.length = len;
  info.loop_start = 0;
  info.loop_end = len;
  return spl.data != nullptr;
}

// Sets a sample's loop. The mixer reads between the loop points and turns at the loop end, so
// a loop is kept only when it lies inside the data and is not empty; any other sample plays
// once, from 0 to its end.
inline void fit_loop(SAMPLE &spl, SAMPLE_INFO &info, long long start, long long end, int flags) {
  const long long len = spl.len;
  if (end > len) end = len;
  if (!(flags & 3) || start < 0 || start >= end) {
    info.loop_flags = 0;
    start = 0;
    end = len;
  } else {
    info.loop_flags = flags & 3;
  }
  spl.loop_start = info.loop_start = static_cast<int>(start);
  spl.loop_end = info.loop_end = static_cast<int>(end);
}

// The UMX package signature, the first four bytes of every package file.
const unsigned char UMX_MAGIC[4] = {0xC1, 0x83, 0x2A, 0x9E};
// Windows tried by the package search: starts 4 to 503.
const int UMX_WINDOWS = 500;

// Offset of the first occurrence of sig (n bytes) among the windows starting at 4 to 503 of a
// UMX package, minus place (where the signature sits in the module data): the offset of the
// module data in the file. -1 when the file is no package or no window gives module data that
// starts after the package signature; 0 when the file cannot be opened.
inline int umx_search(const char *filename, const char *sig, int n, int place) {
  unsigned char head[4 + UMX_WINDOWS - 1 + 32];
  const long got = read_head(filename, 0, head, 4 + UMX_WINDOWS - 1 + n);
  if (got < 0) return 0;
  if (got < 4 || memcmp(head, UMX_MAGIC, 4) != 0) return -1;
  for (int start = 4; start < 4 + UMX_WINDOWS && start + n <= got; start++) {
    if (start - place > 0 && memcmp(head + start, sig, n) == 0) return start - place;
  }
  return -1;
}

}  // namespace modux_import

#endif
