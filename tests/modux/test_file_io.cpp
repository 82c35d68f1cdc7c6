// The byte-order layer, a part of the engine's public interface: what its writers put down its
// readers take back in either byte order, a reopening seek lands on its offset, and a read short
// of its bytes answers -1 (while a stored 0xFF or 0xFFFFFFFF is data, not the end).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "modux.h"

namespace {

TEST(FileIo, WritesReadBackAndMissingBytesAnswerMinusOne) {
  install_allegro(SYSTEM_NONE, &errno, atexit);
  const std::string path = ::testing::TempDir() + "modux_file_io.bin";
  PACKFILE *f = modux_fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(modux_putc(0xFF, f), 0xFF);
  EXPECT_EQ(modux_iputw(0x1234, f), 0x1234);
  EXPECT_EQ(modux_iputl(0x12345678, f), 0x12345678);
  EXPECT_EQ(modux_fwrite("\xFF\xFF\xFF\xFF\x12\x34\x56", 7, f), 7);
  modux_fclose(f);

  f = modux_fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(modux_getc(f), 0xFF);
  EXPECT_EQ(modux_igetw(f), 0x1234);
  EXPECT_EQ(modux_igetl(f), 0x12345678);
  EXPECT_EQ(modux_igetl(f), 0xFFFFFFFFLL);
  EXPECT_EQ(modux_mgetw(f), 0x1234);
  EXPECT_EQ(modux_igetw(f), -1) << "one byte left";
  ASSERT_EQ(modux_fseek(&f, path.c_str(), 1), 0);
  EXPECT_EQ(modux_mgetw(f), 0x3412);
  ASSERT_EQ(modux_fseek(&f, path.c_str(), 11), 0);
  EXPECT_EQ(modux_mgetl(f), -1) << "three bytes left";
  ASSERT_EQ(modux_fseek(&f, path.c_str(), 11), 0);
  EXPECT_EQ(modux_igetl(f), -1);
  modux_fclose(f);
  std::remove(path.c_str());
}

}  // namespace
