// modux file_io: the byte-order layer every loader reads through.
// Thin wrappers over Allegro's PACKFILE that assemble little- and big-endian words and longs
// and report a missing byte as -1 instead of a half-built value.
#include "modux_internal.h"

PACKFILE *modux_fopen(const char *name, const char *mode) {
  if (!name || !mode) return nullptr;
  return pack_fopen(name, mode);
}

int modux_fclose(PACKFILE *f) {
  if (!f) return -1;
  return pack_fclose(f);
}

int modux_fseek(PACKFILE **f, const char *name, long offset) {
  if (!f) return -1;
  if (*f) pack_fclose(*f);
  *f = (name && offset >= 0) ? pack_fopen(name, F_READ) : nullptr;
  if (!*f) return -1;
  return modux_skip(*f, offset);
}

int modux_skip(PACKFILE *f, long n) {
  if (!f || n < 0) return -1;
  // pack_fseek takes an int: a larger skip goes in steps rather than wrapping.
  while (n > 0) {
    const int step = n > 0x40000000L ? 0x40000000 : static_cast<int>(n);
    const int result = pack_fseek(f, step);
    if (result != 0) return result;
    n -= step;
  }
  return 0;
}

long modux_fread(void *buffer, long n, PACKFILE *f) {
  if (!f || !buffer || n <= 0) return 0;
  return pack_fread(buffer, n, f);
}

long modux_fwrite(const void *buffer, long n, PACKFILE *f) {
  if (!f || !buffer || n <= 0) return 0;
  // Allegro's prototype is not const-correct; it does not write to the buffer.
  return pack_fwrite(const_cast<void *>(buffer), n, f);
}

int modux_getc(PACKFILE *f) {
  if (!f) return -1;
  const int c = pack_getc(f);
  return c < 0 ? -1 : (c & 0xFF);
}

int modux_igetw(PACKFILE *f) {
  const int lo = modux_getc(f);
  const int hi = modux_getc(f);
  if (lo < 0 || hi < 0) return -1;
  return (hi << 8) | lo;
}

int modux_mgetw(PACKFILE *f) {
  const int hi = modux_getc(f);
  const int lo = modux_getc(f);
  if (lo < 0 || hi < 0) return -1;
  return (hi << 8) | lo;
}

long long modux_igetl(PACKFILE *f) {
  const int lo = modux_igetw(f);
  const int hi = modux_igetw(f);
  if (lo < 0 || hi < 0) return -1;
  return (static_cast<long long>(hi) << 16) | lo;
}

long long modux_mgetl(PACKFILE *f) {
  const int hi = modux_mgetw(f);
  const int lo = modux_mgetw(f);
  if (lo < 0 || hi < 0) return -1;
  return (static_cast<long long>(hi) << 16) | lo;
}

int modux_putc(int c, PACKFILE *f) {
  if (!f) return -1;
  const int r = pack_putc(c & 0xFF, f);
  return (r == EOF || pack_ferror(f)) ? -1 : (c & 0xFF);
}

int modux_iputw(int w, PACKFILE *f) {
  if (modux_putc(w & 0xFF, f) < 0) return -1;
  if (modux_putc((w >> 8) & 0xFF, f) < 0) return -1;
  return w;
}

long modux_iputl(long l, PACKFILE *f) {
  if (modux_iputw(static_cast<int>(l & 0xFFFF), f) < 0) return -1;
  if (modux_iputw(static_cast<int>((l >> 16) & 0xFFFF), f) < 0) return -1;
  return l;
}
