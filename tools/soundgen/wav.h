// 16-bit mono WAV files of the rendered sounds, for listening to them outside the game.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sound {

// Empty string on success, else a message.
std::string write_wav(const std::string &path, const std::vector<int16_t> &frames, int rate);

}  // namespace sound
