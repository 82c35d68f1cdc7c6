// RIFF/WAVE writer: PCM, one channel, 16 bits, little-endian.
#include "wav.h"

#include <cstdio>

namespace sound {

std::string write_wav(const std::string &path, const std::vector<int16_t> &frames, int rate) {
  std::vector<uint8_t> b;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back(uint8_t(v >> (8 * i)));
  };
  auto u16 = [&](uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  };
  auto tag = [&](const char *t) { b.insert(b.end(), t, t + 4); };
  uint32_t data_bytes = uint32_t(frames.size() * 2);
  tag("RIFF");
  u32(36 + data_bytes);
  tag("WAVE");
  tag("fmt ");
  u32(16);
  u16(1);  // PCM
  u16(1);  // mono
  u32(uint32_t(rate));
  u32(uint32_t(rate) * 2);
  u16(2);
  u16(16);
  tag("data");
  u32(data_bytes);
  for (int16_t f : frames) u16(uint16_t(f));
  FILE *out = std::fopen(path.c_str(), "wb");
  if (!out) return "cannot create " + path;
  size_t n = std::fwrite(b.data(), 1, b.size(), out);
  bool ok = std::fclose(out) == 0 && n == b.size();
  return ok ? "" : "cannot write " + path;
}

}  // namespace sound
