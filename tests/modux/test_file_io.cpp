// The byte-order layer's readers: both byte orders, -1 for missing bytes. Its write side and
// reopening seek serve no program of the system; modux_skip is judged through the MUX reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "modux.h"

namespace {

using byte_list = std::vector<unsigned char>;

class FileIo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { install_allegro(SYSTEM_NONE, &errno, atexit); }
  void TearDown() override { std::remove(path_.c_str()); }

  PACKFILE *open_with(const byte_list &data) {
    std::ofstream(path_.c_str(), std::ios::binary)
        .write(reinterpret_cast<const char *>(data.data()), data.size());
    return modux_fopen(path_.c_str(), "rb");
  }

  std::string path_ = ::testing::TempDir() + "modux_file_io_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
};

TEST_F(FileIo, ReadsEachWidthInItsByteOrderAndMinusOneForMissingBytes) {
  using reader = long long (*)(PACKFILE *);
  const reader getc_ = [](PACKFILE *f) -> long long { return modux_getc(f); },
               igetw = [](PACKFILE *f) -> long long { return modux_igetw(f); },
               mgetw = [](PACKFILE *f) -> long long { return modux_mgetw(f); };
  // clang-format off
  const struct { byte_list data; reader read; long long expected; } cases[] = {
      {{0xFF}, getc_, 0xFF}, {{}, getc_, -1},  // a 0xFF byte is data, not the end
      {{0x34, 0x12}, igetw, 0x1234}, {{0x12, 0x34}, mgetw, 0x1234}, {{0x34}, igetw, -1}, {{0x12}, mgetw, -1},
      {{0x78, 0x56, 0x34, 0x12}, modux_igetl, 0x12345678}, {{0x12, 0x34, 0x56, 0x78}, modux_mgetl, 0x12345678},
      {{0xFF, 0xFF, 0xFF, 0xFF}, modux_igetl, 0xFFFFFFFFLL},  // not mistaken for the end
      {{1, 2, 3}, modux_igetl, -1}, {{1, 2, 3}, modux_mgetl, -1},
  };
  // clang-format on
  for (const auto &c : cases) {
    PACKFILE *f = open_with(c.data);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(c.read(f), c.expected) << ::testing::PrintToString(c.data);
    modux_fclose(f);
  }
}

}  // namespace
