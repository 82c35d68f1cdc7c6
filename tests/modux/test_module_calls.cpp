// The C interface's module calls: a file and its bytes in memory load alike, every error code
// of a load is reached by a bad file or call with its own message, and two threads load at once
// with a status each; and the byte-order layer of the engine's public interface.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <thread>

#include "import.h"
#include "libmodux.h"
#include "loader_fixture.h"

using namespace modimg;

namespace {

// An IT with a message and one compressed sample whose header may claim another length.
bytes it_song(uint32_t claimed_frames = 0) {
  itw::song s;
  s.name = "calls";
  s.special = 1;
  s.message = "first\rsecond";
  s.instruments.resize(1);
  s.samples.resize(1);
  s.samples[0].flags = 1 | 8, s.samples[0].length = 5000;
  s.samples[0].data = itw::compress(std::vector<int>(5000, 7), false, false);
  if (claimed_frames) s.samples[0].length = claimed_frames;
  s.patterns[0].cells = {{0, 2, 60, 1, -1, 0, 0}};
  return itw::build(s);
}

using ModuleCalls = Loader;

TEST_F(ModuleCalls, AFileAndItsBytesLoadAlike) {
  const bytes song = it_song();
  modux_status from_file, from_memory;
  modux_module *a = keep(modux_module_load_file(file(song).c_str(), &from_file));
  modux_module *b = keep(modux_module_load_memory(song.data(), song.size(), &from_memory));
  ASSERT_TRUE(a && b) << from_file.message << " / " << from_memory.message;
  EXPECT_EQ(from_file.code, MODUX_OK);
  modux_module_info ia, ib;
  ASSERT_EQ(modux_module_get_info(a, &ia), MODUX_OK);
  ASSERT_EQ(modux_module_get_info(b, &ib), MODUX_OK);
  EXPECT_EQ(std::make_tuple(ia.format, std::string(ia.format_name), std::string(ia.title),
                            ia.channels, ia.orders, ia.patterns, ia.instruments, ia.samples),
            std::make_tuple(5, std::string("IT"), std::string("calls"), 3, 1, 1, 1, 1));
  EXPECT_EQ(memcmp(&ia, &ib, sizeof ia), 0);
  ASSERT_EQ(a->samples[0].len, b->samples[0].len);
  EXPECT_EQ(memcmp(a->samples[0].data, b->samples[0].data, a->samples[0].len), 0);
  EXPECT_STREQ(modux_module_message(a), "first\nsecond");
  modux_module_destroy(nullptr);
  EXPECT_STREQ(modux_module_message(load(build_mod(mod_image{}))), "");  // a song without one
  EXPECT_EQ(modux_module_get_info(nullptr, &ia), MODUX_ERROR_ARGUMENT);
  EXPECT_STREQ(modux_module_message(nullptr), "");
}

// (A folder and a FIFO are refused alike, modux-play's command line test holds them.)
TEST_F(ModuleCalls, EveryErrorCodeIsReachedWithItsMessage) {
  bytes damaged_it = it_song();
  damaged_it[32] = 0x2C, damaged_it[33] = 1;
  const bytes noise(3000, 0x55), hostile = it_song(0xFFFFFFFF);
  const auto memory = [](const bytes &b) {
    return [b](modux_status *s) { return modux_module_load_memory(b.data(), b.size(), s); };
  };
  const auto path = [](const std::string &p) {
    return [p](modux_status *s) { return modux_module_load_file(p.c_str(), s); };
  };
  struct row {
    std::function<modux_module *(modux_status *)> load;
    int code;
    std::string message;
  };
  const row rows[] = {
      {path("/nonexistent/x.it"), MODUX_ERROR_OPEN,
       "Unable to open /nonexistent/x.it: No such file or directory"},
      {path("/dev/zero"), MODUX_ERROR_OPEN, "Unable to open /dev/zero: not a regular file"},
      {memory(noise), MODUX_ERROR_FORMAT, kUnsupported},
      {memory(damaged_it), MODUX_ERROR_DAMAGED, "IT: 300 orders, at most 256 are possible"},
      {memory(hostile), MODUX_ERROR_LIMIT,
       "IT: sample 1 needs 4294967295 bytes, over the module limit of 256 MiB"},
      {path(std::string(FUZZ_REGRESSIONS_DIR) + "/mux_patterns_beyond_cell_limit.mux"),
       MODUX_ERROR_LIMIT, "MUX: pattern 1 needs 4194240 cells, over the module limit of 4210688"},
      {[](modux_status *s) { return modux_module_load_file(nullptr, s); }, MODUX_ERROR_ARGUMENT,
       "No module file named"},
      {[](modux_status *s) { return modux_module_load_memory(nullptr, 10, s); },
       MODUX_ERROR_ARGUMENT, "No module data"},
  };
  for (const row &r : rows) {
    modux_status st;
    EXPECT_EQ(r.load(&st), nullptr) << r.message;
    EXPECT_EQ(std::make_pair(st.code, std::string(st.message)), std::make_pair(r.code, r.message));
    EXPECT_EQ(r.load(nullptr), nullptr) << "without a status: " << r.message;
  }
}

// The sample data of one load counts against the module's total; the next load starts afresh.
TEST(ModuleLimits, SampleDataHasATotalPerLoad) {
  using namespace modux_import;
  for (int load = 0; load < 2; load++) {
    modux_status st;
    load_state one(&st);
    EXPECT_TRUE(charge_sample(one, MAX_SAMPLE_BYTES - 10, "XM", 1));
    EXPECT_FALSE(charge_sample(one, 11, "XM", 2));
    EXPECT_EQ(std::make_pair(st.code, std::string(st.message)),
              std::make_pair(MODUX_ERROR_LIMIT,
                             std::string("XM: sample 2 needs 11 bytes, over the module limit of "
                                         "256 MiB")));
  }
}

// Loads the file with 32 MB of address space to spare; prints the message, answers the code.
int load_in_little_room(const char *path) {
  long pages = 0;
  FILE *f = fopen("/proc/self/statm", "r");
  if (!f || fscanf(f, "%ld", &pages) != 1) return 100;
  fclose(f);
  const rlim_t room = pages * sysconf(_SC_PAGESIZE) + (32L << 20);
  const rlimit limit{room, room};
  if (setrlimit(RLIMIT_AS, &limit) != 0) return 101;
  modux_status st;
  modux_module_destroy(modux_module_load_file(path, &st));
  fprintf(stderr, "%s\n", st.message);
  return st.code;
}

// Memory the system will not give is a refusal with its code, not a crash: the load runs in a
// child whose address space is held to a little more than it has.
TEST(ModuleMemory, MemoryRefusedIsReported) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve address space of their own";
#endif
  // Its first pattern asks for 84 MB of cells (the second passes the module's limit).
  const char *mux = FUZZ_REGRESSIONS_DIR "/mux_patterns_beyond_cell_limit.mux";
  EXPECT_EXIT(exit(load_in_little_room(mux)), ::testing::ExitedWithCode(MODUX_ERROR_MEMORY),
              "Unable to allocate enough memory for NOTE_INFO");
}

// Each thread loads its own file again and again: a good one and a damaged one. Every status
// says what its own load did (run under ThreadSanitizer in the engine's TSan build).
TEST_F(ModuleCalls, TwoThreadsLoadAtOnce) {
  const bytes good = it_song();
  bytes bad = good;
  bad[32] = 0x2C, bad[33] = 1;
  const std::string good_path = file(good);
  int good_loads = 0, bad_refusals = 0;
  std::thread first([&] {
    for (int i = 0; i < 200; i++) {
      modux_status st;
      modux_module *m = modux_module_load_file(good_path.c_str(), &st);
      good_loads += m != nullptr && st.code == MODUX_OK && st.message[0] == '\0';
      modux_module_destroy(m);
    }
  });
  std::thread second([&] {
    for (int i = 0; i < 200; i++) {
      modux_status st;
      modux_module *m = modux_module_load_memory(bad.data(), bad.size(), &st);
      bad_refusals += m == nullptr && st.code == MODUX_ERROR_DAMAGED &&
                      std::string(st.message) == "IT: 300 orders, at most 256 are possible";
      modux_module_destroy(m);
    }
  });
  first.join();
  second.join();
  EXPECT_EQ(std::make_pair(good_loads, bad_refusals), std::make_pair(200, 200));
}

// The byte-order layer: its readers take back what its writers put down, in either byte order; a
// seek lands on its offset; a short read answers -1, while a stored 0xFF or 0xFFFFFFFF is data.
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
