// Fields of the game's own files (high scores, saved games, replays, level maps in "maps.dat" and
// custom map files): each file is a raw image of its records, every number least significant
// byte first, 16-bit and 32-bit fields signed. The game, the map tools and their tests read and
// write those fields here only.
#ifndef VORBEL_LEBYTES_H
#define VORBEL_LEBYTES_H

#include <cstdint>
#include <vector>

inline uint32_t GetU32(const unsigned char *b) {
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

inline int Get32(const unsigned char *b) { return int32_t(GetU32(b)); }

inline int Get16(const unsigned char *b) { return int16_t(uint16_t(b[0] | b[1] << 8)); }

inline void Put32(unsigned char *b, uint32_t v) {
  for (int k = 0; k < 4; k++) b[k] = uint8_t(v >> (8 * k));
}

inline void Put16(unsigned char *b, int v) {
  b[0] = uint8_t(v & 0xff);
  b[1] = uint8_t((v >> 8) & 0xff);
}

// Appends a 32-bit field to a record being built.
inline void Append32(std::vector<unsigned char> &v, uint32_t x) {
  v.resize(v.size() + 4);
  Put32(v.data() + v.size() - 4, x);
}

#endif
