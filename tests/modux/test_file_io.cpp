// Tests of the byte-order layer: word and long assembly in both byte orders, -1 for missing
// bytes, the write side, and the reopen-and-skip seek the foreign loaders use.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "modux.h"

namespace {

class FileIo : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { install_allegro(SYSTEM_NONE, &errno, atexit); }

  void SetUp() override {
    path_ = ::testing::TempDir() + "modux_file_io_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
  }
  void TearDown() override { std::remove(path_.c_str()); }

  void write_bytes(const std::vector<unsigned char> &data) {
    FILE *f = std::fopen(path_.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!data.empty()) {
      ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
    }
    std::fclose(f);
  }
  std::vector<unsigned char> read_bytes() {
    std::vector<unsigned char> data;
    FILE *f = std::fopen(path_.c_str(), "rb");
    if (!f) return data;
    int c;
    while ((c = std::fgetc(f)) != EOF) data.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
    return data;
  }

  std::string path_;
};

struct read_case {
  const char *what;
  std::vector<unsigned char> data;
  long long (*read)(PACKFILE *);
  long long expected;
};

long long getc_(PACKFILE *f) { return modux_getc(f); }
long long igetw_(PACKFILE *f) { return modux_igetw(f); }
long long mgetw_(PACKFILE *f) { return modux_mgetw(f); }
long long igetl_(PACKFILE *f) { return modux_igetl(f); }
long long mgetl_(PACKFILE *f) { return modux_mgetl(f); }

TEST_F(FileIo, ReadsEachWidthInItsByteOrderAndAnswersMinusOneForMissingBytes) {
  const read_case cases[] = {
      {"byte", {0xAB}, getc_, 0xAB},
      {"byte 0xFF is data, not the end", {0xFF}, getc_, 0xFF},
      {"byte at end", {}, getc_, -1},
      {"little-endian word", {0x34, 0x12}, igetw_, 0x1234},
      {"big-endian word", {0x12, 0x34}, mgetw_, 0x1234},
      {"word 0xFFFF", {0xFF, 0xFF}, igetw_, 0xFFFF},
      {"little word missing its high byte", {0x34}, igetw_, -1},
      {"big word missing its low byte", {0x12}, mgetw_, -1},
      {"little-endian long", {0x78, 0x56, 0x34, 0x12}, igetl_, 0x12345678},
      {"big-endian long", {0x12, 0x34, 0x56, 0x78}, mgetl_, 0x12345678},
      {"long 0xFFFFFFFF is not the end", {0xFF, 0xFF, 0xFF, 0xFF}, igetl_, 0xFFFFFFFFLL},
      {"long with a high bit", {0x00, 0x00, 0x00, 0x80}, igetl_, 0x80000000LL},
      {"little long of three bytes", {1, 2, 3}, igetl_, -1},
      {"big long of three bytes", {1, 2, 3}, mgetl_, -1},
  };
  for (const read_case &c : cases) {
    SCOPED_TRACE(c.what);
    write_bytes(c.data);
    PACKFILE *f = modux_fopen(path_.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(c.read(f), c.expected);
    modux_fclose(f);
  }
}

TEST_F(FileIo, ConsecutiveReadsAdvanceThroughMixedWidths) {
  write_bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09});
  PACKFILE *f = modux_fopen(path_.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(modux_getc(f), 0x01);
  EXPECT_EQ(modux_igetw(f), 0x0302);
  EXPECT_EQ(modux_mgetl(f), 0x04050607);
  EXPECT_EQ(modux_igetw(f), 0x0908);
  EXPECT_EQ(modux_getc(f), -1);
  modux_fclose(f);
}

TEST_F(FileIo, WritesLittleEndianAndReportsWhatItWrote) {
  PACKFILE *f = modux_fopen(path_.c_str(), "w");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(modux_putc(0x1AB, f), 0xAB);  // one byte: only the low eight bits go out
  EXPECT_EQ(modux_iputw(0xBEEF, f), 0xBEEF);
  EXPECT_EQ(modux_iputl(0x12345678L, f), 0x12345678L);
  const unsigned char block[] = {9, 8, 7};
  EXPECT_EQ(modux_fwrite(block, 3, f), 3);
  EXPECT_EQ(modux_fclose(f), 0);
  EXPECT_EQ(read_bytes(), (std::vector<unsigned char>{0xAB, 0xEF, 0xBE, 0x78, 0x56, 0x34, 0x12, 9, 8, 7}));
}

TEST_F(FileIo, FreadReportsAShortCount) {
  write_bytes({1, 2, 3});
  PACKFILE *f = modux_fopen(path_.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char buf[8] = {};
  EXPECT_EQ(modux_fread(buf, 8, f), 3);
  EXPECT_EQ(buf[2], 3);
  modux_fclose(f);
}

TEST_F(FileIo, SeekReopensTheFileSoItCanGoBack) {
  write_bytes({10, 11, 12, 13, 14, 15});
  PACKFILE *f = modux_fopen(path_.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(modux_skip(f, 4), 0);
  EXPECT_EQ(modux_getc(f), 14);
  EXPECT_EQ(modux_fseek(&f, path_.c_str(), 1), 0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(modux_getc(f), 11);
  EXPECT_EQ(modux_fseek(&f, path_.c_str(), 0), 0);
  EXPECT_EQ(modux_getc(f), 10);
  modux_fclose(f);
}

TEST_F(FileIo, SeekThatCannotReopenLeavesNoHandleAndFails) {
  write_bytes({1, 2});
  PACKFILE *f = modux_fopen(path_.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  const std::string missing = path_ + ".missing";
  EXPECT_NE(modux_fseek(&f, missing.c_str(), 0), 0);
  EXPECT_EQ(f, nullptr);
  // The layer takes a null handle without crashing.
  EXPECT_EQ(modux_getc(f), -1);
  EXPECT_EQ(modux_igetl(f), -1);
  EXPECT_EQ(modux_skip(f, 1), -1);
  EXPECT_EQ(modux_fclose(f), -1);
}

TEST_F(FileIo, OpeningAMissingFileGivesNull) {
  const std::string missing = path_ + ".missing";
  EXPECT_EQ(modux_fopen(missing.c_str(), "rb"), nullptr);
}

}  // namespace
